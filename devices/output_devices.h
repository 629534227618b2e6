// The combined output device list: the wave mapper, the WASAPI default-role and
// endpoint entries, then the MME devices; their names and capabilities; and the
// resolution of a WASAPI entry to a live endpoint when it is opened.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "win32/critical_section.h"

// −1 the wave mapper; 0 … 2 the default roles; 3 … W − 1 the cached endpoints;
// W … W + N − 1 the MME devices (W = WasapiDeviceCount). Compared as unsigned.
using OutputDeviceIndex = uint32_t;
constexpr OutputDeviceIndex kWaveMapperIndex = 0xFFFFFFFFu;
constexpr uint32_t kDefaultRoleCount = 3;

constexpr uint32_t kEndpointNameChars = 128;  // including the terminator
constexpr uint32_t kEndpointIdChars = 64;     // including the terminator
constexpr uint32_t kDisplayNameChars = 64;    // including the terminator
constexpr uint32_t kEntryNameChars = 56;      // the 55 characters behind "WASAPI: "
constexpr uint32_t kSynthNameChars = 26;      // the characters behind "wspx:"

// One active render endpoint as listed when the cache was built. An entry whose
// fields could not be read stays (partly) zero but keeps its place.
struct EndpointEntry {
  wchar_t name[kEndpointNameChars];
  wchar_t id[kEndpointIdChars];
};

// The process-wide list of active render endpoints, enumerated once.
class EndpointCache {
 public:
  EndpointCache() = default;
  ~EndpointCache() { Release(); }
  EndpointCache(const EndpointCache&) = delete;
  EndpointCache& operator=(const EndpointCache&) = delete;

  // Enumerates the endpoints unless that has been done; a failed attempt leaves the
  // cache unbuilt, to be tried again on the next use.
  void Build();
  // Frees the array and forgets the build: at process exit, and in tests.
  void Release();

  // Once built the cache does not change, so these read it without the lock.
  bool IsBuilt() const { return built_.load(std::memory_order_acquire); }
  uint32_t Count() const { return count_; }
  const EndpointEntry* Entry(uint32_t i) const {
    return entries_ && i < count_ ? &entries_[i] : nullptr;
  }

 private:
  bool Enumerate();

  CriticalSection lock_;
  // Set last, with release order, so a reader that sees it also sees the entries.
  std::atomic<bool> built_{false};
  EndpointEntry* entries_ = nullptr;
  uint32_t count_ = 0;
};

EndpointCache& ProcessEndpointCache();

// WAVEOUTCAPSW followed by the entry's display name, as the device box shows it.
struct OutputDeviceCaps {
  WAVEOUTCAPSW caps;
  wchar_t displayName[kDisplayNameChars];
};
static_assert(sizeof(OutputDeviceCaps) == 212, "the record the device box is filled from");

// The system version test, decided at the first call for the life of the process:
// GetVersionExA succeeds with a major version of 6 or more.
bool WasapiAvailable();

// W: 0 without WASAPI, else the cached endpoints + 3. Re-reads the tuning values
// when the last reading is a second old, and builds the endpoint cache if needed.
uint32_t WasapiDeviceCount();

// Fills `out` and returns MMSYSERR_NOERROR, or returns an MMSYSERR code and leaves
// `out` unwritten.
MMRESULT GetOutputDeviceCaps(OutputDeviceIndex index, OutputDeviceCaps* out);

// For WASAPI entry `index` (0 … W − 1): the synthesised capabilities, or the name
// into a buffer of kEntryNameChars. Both false past the cached entries.
bool FillWasapiCaps(uint32_t index, WAVEOUTCAPSW* caps);
bool GetWasapiEntryName(uint32_t index, wchar_t* name);

// The live endpoint for WASAPI entry `index`, owned by the caller, or null. A role
// is resolved anew on every call; an endpoint is found by its identifier first and
// its friendly name second. On success `name` (may be null) receives the cached
// entry name, at most capacity − 1 characters. COM must be initialised on the
// calling thread.
IMMDevice* ResolveRenderEndpoint(uint32_t index, wchar_t* name, uint32_t capacity);

// A device name as window texts carry it: in the system's ANSI code page, at most
// capacity − 1 bytes, cut only between characters. A character the code page
// lacks becomes its default character rather than ending the text.
void NarrowDeviceName(const wchar_t* name, char* text, size_t capacity);

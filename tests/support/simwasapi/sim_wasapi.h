// A simulated WASAPI system for tests: in-process COM objects for the device
// enumerator, endpoint collection, endpoints, property stores, audio clients and
// render clients. A test declares endpoints and what each accepts or refuses, and
// a clock thread per started stream "plays" one released buffer per period and
// signals the client's event, recording every buffer with its time.
//
// Constructing a SimWasapi installs it at the program's enumerator seam
// (SetDeviceEnumeratorFactory); destroying it puts the previous factory back. One
// made while another exists takes over until it is destroyed (strictly nested).
// COM objects handed out may outlive it.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simwasapi {

// Every call the program makes that a test may want to fail.
enum class Call {
  CreateEnumerator,
  EnumAudioEndpoints,
  GetCount,
  GetDefaultAudioEndpoint,
  Item,
  GetId,
  OpenPropertyStore,
  GetValue,
  Activate,
  GetDevicePeriod,
  Initialize,
  SetEventHandle,
  GetBufferSize,
  GetStreamLatency,
  GetService,
  GetBuffer,
  ReleaseBuffer,
  Start,
  Stop,
  kCount
};

// One integer PCM layout an endpoint takes, at any of its rates.
struct AcceptedFormat {
  uint32_t channels;
  uint32_t containerBits;
  uint32_t validBits;
};

struct EndpointTraits {
  std::wstring id;
  std::wstring friendlyName;
  // False: the friendly-name property holds a number (VT_UI4), not a string.
  bool nameIsString = true;
  std::vector<uint32_t> rates = {44100, 48000};
  std::vector<AcceptedFormat> formats = {{2, 16, 16}};
  int64_t minimumPeriod = 30000;  // 100 ns units: 3 ms
  int64_t defaultPeriod = 100000;
  // The stream latency reported; negative: the accepted buffer duration.
  int64_t latency = -1;
  // Exclusive-mode buffers must be a multiple of 128 bytes, as on real drivers.
  bool requireAlignedBuffer = true;
  // Anything but S_OK: every Initialize answers this before looking at the format
  // (another exclusive client holds the device, a stream not stopped, ...).
  HRESULT initializeAnswer = S_OK;
  // What GetBufferSize answers; negative: the frames of the accepted duration.
  int64_t bufferSizeAnswer = -1;
};

// What one Initialize call asked for and what it got.
struct InitializeRecord {
  size_t endpoint;
  AUDCLNT_SHAREMODE shareMode;
  DWORD streamFlags;
  int64_t bufferDuration;
  int64_t periodicity;
  WAVEFORMATEXTENSIBLE format;  // the bytes given, as far as they go
  HRESULT result;
};

// One buffer the clock played: the frames released into it and when it sounded.
struct RenderedBuffer {
  int64_t counter;  // QueryPerformanceCounter at the period it played in
  uint32_t frames;
  std::vector<uint8_t> bytes;
};

struct SimState;

class SimWasapi {
 public:
  SimWasapi();
  ~SimWasapi();
  SimWasapi(const SimWasapi&) = delete;
  SimWasapi& operator=(const SimWasapi&) = delete;

  // Endpoints are listed in the order they are added; returns the new index.
  size_t AddEndpoint(const EndpointTraits& traits);
  // The endpoint a role's default resolves to; none (the default) fails with E_NOTFOUND.
  void SetDefault(ERole role, size_t endpoint);
  // Fails every call of a kind, or that kind of call on one endpoint (for Item: the
  // collection's Item at that endpoint's position). S_OK clears the failure.
  void Fail(Call call, HRESULT result);
  void FailEndpoint(size_t endpoint, Call call, HRESULT result);
  // The next `successes` calls of a kind answer as usual, every later one `result`
  // (until Fail clears it with S_OK).
  void FailAfter(Call call, uint32_t successes, HRESULT result);
  void ChangeId(size_t endpoint, const std::wstring& id);
  void Rename(size_t endpoint, const std::wstring& name);
  // The endpoint leaves the active collection; objects already handed out answer
  // AUDCLNT_E_DEVICE_INVALIDATED and a running stream falls silent.
  void Vanish(size_t endpoint);
  // While stalled the clock plays on but never signals the event.
  void StallEvent(size_t endpoint, bool stalled);
  // The next `periods` periods are played without signalling.
  void DropPeriods(size_t endpoint, uint32_t periods);

  std::vector<InitializeRecord> Initializations() const;
  std::vector<RenderedBuffer> Rendered(size_t endpoint) const;
  // Periods in which the clock found no released buffer to play.
  uint32_t Underruns(size_t endpoint) const;
  bool Running(size_t endpoint) const;
  // QueryPerformanceCounter when the endpoint's stream was last started; 0: never.
  int64_t StartCounter(size_t endpoint) const;
  uint32_t CallCount(Call call) const;

  // Simulated COM objects alive in the process, of this or any earlier SimWasapi.
  static int LiveObjects();

 private:
  std::shared_ptr<SimState> state_;
  std::shared_ptr<SimState> outer_;
  void* previousFactory_;
};

}  // namespace simwasapi

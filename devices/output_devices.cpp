// The combined output device list, its names and capabilities, and the resolution
// of a WASAPI entry to a live endpoint.
#include "devices/output_devices.h"

#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>
#include <propidl.h>

#include <cstring>
#include <new>

#include "devices/device_enumerator.h"
#include "devices/engine_tuning.h"
#include "win32/narrow_text.h"
#include "win32/scoped_com.h"

namespace {

struct DefaultRole {
  ERole role;
  const wchar_t* name;
};
// The order of the first three WASAPI entries.
constexpr DefaultRole kDefaultRoleTable[kDefaultRoleCount] = {
    {eMultimedia, L"Default Multimedia Device"},
    {eCommunications, L"Default Communications Device"},
    {eConsole, L"Default Console Device"},
};

constexpr wchar_t kMmePrefix[] = L"MME: ";
constexpr wchar_t kWasapiPrefix[] = L"WASAPI: ";
constexpr wchar_t kSynthPrefix[] = L"wspx:";
constexpr wchar_t kUnknownName[] = L"Unknown";
constexpr uint32_t kMmePrefixChars = 5;
constexpr uint32_t kWasapiPrefixChars = 8;
constexpr uint32_t kSynthPrefixChars = 5;

// The synthesised WAVEOUTCAPSW of a WASAPI entry.
constexpr WORD kSynthManufacturer = 0xFFFF;
constexpr WORD kSynthProduct = 0xFFFF;
constexpr MMVERSION kSynthDriverVersion = 0x0100;
constexpr DWORD kAllStandardFormats = 0x000FFFFF;
constexpr WORD kSynthChannels = 2;

EndpointCache g_endpointCache;

// Copies at most maxChars characters of src and a terminator.
void CopyCut(wchar_t* dst, const wchar_t* src, uint32_t maxChars) {
  uint32_t i = 0;
  for (; i < maxChars && src[i] != L'\0'; ++i) dst[i] = src[i];
  dst[i] = L'\0';
}

// Clears the value on every way out.
class ScopedPropVariant {
 public:
  ScopedPropVariant() { PropVariantInit(&value_); }
  ~ScopedPropVariant() { PropVariantClear(&value_); }
  ScopedPropVariant(const ScopedPropVariant&) = delete;
  ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;
  PROPVARIANT* Get() { return &value_; }
  const wchar_t* String() const { return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr; }

 private:
  PROPVARIANT value_;
};

// Frees a string that COM allocated.
class ScopedCoString {
 public:
  ScopedCoString() = default;
  ~ScopedCoString() { CoTaskMemFree(text_); }
  ScopedCoString(const ScopedCoString&) = delete;
  ScopedCoString& operator=(const ScopedCoString&) = delete;
  LPWSTR* Receive() { return &text_; }
  const wchar_t* Get() const { return text_; }

 private:
  LPWSTR text_ = nullptr;
};

// The friendly-name property of an endpoint; releases nothing it was given.
HRESULT ReadFriendlyName(IMMDevice* device, ScopedPropVariant& value) {
  ComPtr<IPropertyStore> store;
  HRESULT hr = device->OpenPropertyStore(STGM_READ, store.Receive());
  if (FAILED(hr)) return hr;
  return store->GetValue(PKEY_Device_FriendlyName, value.Get());
}

// Fills one cache entry from the collection's item i; what cannot be read stays zero.
void ReadEntry(IMMDeviceCollection* collection, UINT i, EndpointEntry& entry) {
  ComPtr<IMMDevice> device;
  if (FAILED(collection->Item(i, device.Receive()))) return;
  ScopedCoString id;
  if (FAILED(device->GetId(id.Receive()))) return;
  CopyCut(entry.id, id.Get(), kEndpointIdChars - 1);
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.Receive()))) return;
  device.Release();
  ScopedPropVariant name;
  if (FAILED(store->GetValue(PKEY_Device_FriendlyName, name.Get()))) return;
  CopyCut(entry.name, name.String() ? name.String() : kUnknownName, kEndpointNameChars - 1);
}

void CopyName(wchar_t* name, uint32_t capacity, const wchar_t* text) {
  if (name && capacity > 0) CopyCut(name, text, capacity - 1);
}

IMMDevice* ResolveCachedEndpoint(IMMDeviceEnumerator* enumerator, const EndpointEntry& entry,
                                 wchar_t* name, uint32_t capacity) {
  ComPtr<IMMDeviceCollection> collection;
  UINT count = 0;
  if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.Receive())) ||
      FAILED(collection->GetCount(&count)))
    return nullptr;
  bool haveFallback = false;
  UINT fallback = 0;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    if (FAILED(collection->Item(i, device.Receive()))) continue;
    ScopedCoString id;
    if (FAILED(device->GetId(id.Receive()))) continue;
    if (lstrcmpiW(id.Get(), entry.id) == 0) {
      CopyName(name, capacity, entry.name);
      return device.Detach();
    }
    if (haveFallback) continue;
    ScopedPropVariant friendly;
    if (FAILED(ReadFriendlyName(device.Get(), friendly))) continue;
    if (friendly.String() && lstrcmpiW(friendly.String(), entry.name) == 0) {
      haveFallback = true;
      fallback = i;
    }
  }
  if (!haveFallback) return nullptr;
  ComPtr<IMMDevice> device;
  if (FAILED(collection->Item(fallback, device.Receive()))) return nullptr;
  CopyName(name, capacity, entry.name);
  return device.Detach();
}

}  // namespace

void EndpointCache::Build() {
  if (IsBuilt()) return;
  CriticalSectionLock guard(lock_);
  if (IsBuilt()) return;
  if (Enumerate()) built_.store(true, std::memory_order_release);
}

void EndpointCache::Release() {
  CriticalSectionLock guard(lock_);
  delete[] entries_;
  entries_ = nullptr;
  count_ = 0;
  built_.store(false, std::memory_order_release);
}

bool EndpointCache::Enumerate() {
  // COM is undone after the enumerator and the collection are released.
  ScopedCoInit com(COINIT_APARTMENTTHREADED);
  if (!com.Succeeded()) return false;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CreateDeviceEnumerator(CLSCTX_INPROC_SERVER, enumerator.Receive()))) return false;
  ComPtr<IMMDeviceCollection> collection;
  UINT count = 0;
  if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.Receive())) ||
      FAILED(collection->GetCount(&count)))
    return false;
  if (!entries_ || count > count_) {
    // One entry at least, so that an empty list still counts as built and is not
    // enumerated again at every look.
    EndpointEntry* entries = new (std::nothrow) EndpointEntry[count ? count : 1]();
    if (!entries) return false;
    delete[] entries_;
    entries_ = entries;
    count_ = count;
  }
  for (UINT i = 0; i < count_; ++i) ReadEntry(collection.Get(), i, entries_[i]);
  return true;
}

EndpointCache& ProcessEndpointCache() { return g_endpointCache; }

bool WasapiAvailable() {
  static const bool available = [] {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = GetVersionExA(&version);
#pragma GCC diagnostic pop
    return ok && version.dwMajorVersion >= 6;
  }();
  return available;
}

uint32_t WasapiDeviceCount() {
  if (!WasapiAvailable()) return 0;
  if (TuningRereadDue(GetTickCount(), ProcessEngineTuning().lastReadTick)) ReadEngineTuning();
  g_endpointCache.Build();
  return g_endpointCache.Count() + kDefaultRoleCount;
}

bool GetWasapiEntryName(uint32_t index, wchar_t* name) {
  if (index < kDefaultRoleCount) {
    CopyCut(name, kDefaultRoleTable[index].name, kEntryNameChars - 1);
    return true;
  }
  const EndpointEntry* entry = g_endpointCache.Entry(index - kDefaultRoleCount);
  if (!entry) return false;
  CopyCut(name, entry->name, kEntryNameChars - 1);
  return true;
}

bool FillWasapiCaps(uint32_t index, WAVEOUTCAPSW* caps) {
  wchar_t name[kEntryNameChars];
  if (!GetWasapiEntryName(index, name)) return false;
  caps->wMid = kSynthManufacturer;
  caps->wPid = kSynthProduct;
  caps->vDriverVersion = kSynthDriverVersion;
  CopyCut(caps->szPname, kSynthPrefix, kSynthPrefixChars);
  CopyCut(caps->szPname + kSynthPrefixChars, name, kSynthNameChars);
  caps->dwFormats = kAllStandardFormats;
  caps->wChannels = kSynthChannels;
  caps->wReserved1 = 0;
  caps->dwSupport = WAVECAPS_SAMPLEACCURATE;
  return true;
}

MMRESULT GetOutputDeviceCaps(OutputDeviceIndex index, OutputDeviceCaps* out) {
  const uint32_t wasapiCount = WasapiDeviceCount();
  OutputDeviceCaps record = {};
  if (index < wasapiCount) {
    if (!FillWasapiCaps(index, &record.caps)) return MMSYSERR_NODRIVER;
    CopyCut(record.displayName, kWasapiPrefix, kWasapiPrefixChars);
    GetWasapiEntryName(index, record.displayName + kWasapiPrefixChars);
  } else {
    const UINT_PTR device = index == kWaveMapperIndex ? WAVE_MAPPER : index - wasapiCount;
    const MMRESULT result = waveOutGetDevCapsW(device, &record.caps, sizeof(record.caps));
    if (result != MMSYSERR_NOERROR) return result;
    CopyCut(record.displayName, kMmePrefix, kMmePrefixChars);
    CopyCut(record.displayName + kMmePrefixChars, record.caps.szPname,
            kDisplayNameChars - 1 - kMmePrefixChars);
  }
  *out = record;
  return MMSYSERR_NOERROR;
}

IMMDevice* ResolveRenderEndpoint(uint32_t index, wchar_t* name, uint32_t capacity) {
  g_endpointCache.Build();
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CreateDeviceEnumerator(CLSCTX_ALL, enumerator.Receive()))) return nullptr;
  if (index < kDefaultRoleCount) {
    ComPtr<IMMDevice> device;
    if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, kDefaultRoleTable[index].role,
                                                   device.Receive())))
      return nullptr;
    CopyName(name, capacity, kDefaultRoleTable[index].name);
    return device.Detach();
  }
  const EndpointEntry* entry = g_endpointCache.Entry(index - kDefaultRoleCount);
  if (!entry) return nullptr;
  return ResolveCachedEndpoint(enumerator.Get(), *entry, name, capacity);
}

void NarrowDeviceName(const wchar_t* name, char* text, size_t capacity) {
  if (!text || capacity == 0) return;
  text[0] = '\0';
  if (!name) return;
  // An endpoint name has at most 127 units, each at most 3 bytes in any ANSI page.
  wchar_t wide[kEndpointNameChars];
  lstrcpynW(wide, name, kEndpointNameChars);
  char all[3 * kEndpointNameChars];
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, all, sizeof all, nullptr, nullptr) <= 0) return;
  const size_t kept = WholeCharacterPrefix(all, capacity - 1);
  std::memcpy(text, all, kept);
  text[kept] = '\0';
}

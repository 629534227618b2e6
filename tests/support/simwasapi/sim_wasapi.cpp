// The simulated WASAPI system: enumerator, collection, endpoint, property store,
// audio client and render client, and the clock thread that plays a started stream.
#include "tests/support/simwasapi/sim_wasapi.h"

#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>
#include <ks.h>
#include <ksmedia.h>
#include <propidl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "devices/device_enumerator.h"

namespace simwasapi {

namespace {

constexpr size_t kNoEndpoint = static_cast<size_t>(-1);
constexpr int64_t kUnitsPerSecond = 10000000;
// The PCM sub-format GUID, spelled out: not every MinGW import library carries it.
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010,
                              {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
// The number a non-string friendly name holds.
constexpr ULONG kNumericName = 7;
// A device holds the buffer being played next and at most one more.
constexpr size_t kMaxPendingBuffers = 2;

std::atomic<int> g_liveObjects{0};

}  // namespace

struct EndpointState {
  EndpointTraits traits;
  bool vanished = false;
  bool stalled = false;
  uint32_t dropPeriods = 0;
  HRESULT failures[static_cast<size_t>(Call::kCount)] = {};
  std::vector<RenderedBuffer> rendered;
  uint32_t underruns = 0;
  bool running = false;
  int64_t startCounter = 0;  // QueryPerformanceCounter at the latest Start
};

struct SimState {
  std::mutex lock;
  std::vector<EndpointState> endpoints;
  size_t defaults[ERole_enum_count] = {kNoEndpoint, kNoEndpoint, kNoEndpoint};
  HRESULT failures[static_cast<size_t>(Call::kCount)] = {};
  uint32_t calls[static_cast<size_t>(Call::kCount)] = {};
  // Calls still answered as usual before an armed failure takes over.
  bool failLaterArmed[static_cast<size_t>(Call::kCount)] = {};
  uint32_t failLaterAfter[static_cast<size_t>(Call::kCount)] = {};
  HRESULT failLaterResult[static_cast<size_t>(Call::kCount)] = {};
  std::vector<InitializeRecord> initializations;

  // Counts the call and answers the failure injected for it, if any. Under lock.
  HRESULT Injected(Call call, size_t endpoint) {
    const size_t i = static_cast<size_t>(call);
    ++calls[i];
    if (FAILED(failures[i])) return failures[i];
    if (endpoint < endpoints.size() && FAILED(endpoints[endpoint].failures[i]))
      return endpoints[endpoint].failures[i];
    if (failLaterArmed[i]) {
      if (failLaterAfter[i] == 0) return failLaterResult[i];
      --failLaterAfter[i];
    }
    return S_OK;
  }
  bool Vanished(size_t endpoint) const { return endpoints[endpoint].vanished; }
};

namespace {

SimState* g_current = nullptr;
std::shared_ptr<SimState> g_currentOwner;

// Reference counting and QueryInterface shared by every simulated object.
template <typename Interface>
class SimObject : public Interface {
 public:
  explicit SimObject(std::shared_ptr<SimState> state) : state_(std::move(state)) { ++g_liveObjects; }
  virtual ~SimObject() { --g_liveObjects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
      *out = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  std::shared_ptr<SimState> state_;

 private:
  std::atomic<ULONG> refs_{1};
};

bool IsAccepted(const EndpointTraits& traits, const WAVEFORMATEX* format) {
  if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE || format->cbSize < 22) return false;
  const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
  if (ext->SubFormat != kSubtypePcm) return false;
  if (format->nBlockAlign != format->wBitsPerSample / 8 * format->nChannels) return false;
  if (format->nAvgBytesPerSec != format->nBlockAlign * format->nSamplesPerSec) return false;
  bool rateOk = false;
  for (uint32_t rate : traits.rates) rateOk = rateOk || rate == format->nSamplesPerSec;
  if (!rateOk) return false;
  for (const AcceptedFormat& f : traits.formats) {
    if (f.channels == format->nChannels && f.containerBits == format->wBitsPerSample &&
        f.validBits == ext->Samples.wValidBitsPerSample)
      return true;
  }
  return false;
}

uint32_t DurationToFrames(int64_t duration, uint32_t rate) {
  return static_cast<uint32_t>((duration * rate + kUnitsPerSecond / 2) / kUnitsPerSecond);
}

class SimAudioClient;

class SimRenderClient : public SimObject<IAudioRenderClient> {
 public:
  SimRenderClient(std::shared_ptr<SimState> state, SimAudioClient* client);
  ~SimRenderClient() override;
  HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override;

 private:
  SimAudioClient* client_;
};

class SimAudioClient : public SimObject<IAudioClient> {
 public:
  SimAudioClient(std::shared_ptr<SimState> state, size_t endpoint)
      : SimObject(std::move(state)), endpoint_(endpoint) {}
  ~SimAudioClient() override { StopClock(); }

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                       REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                       LPCGUID) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    InitializeRecord record{};
    record.endpoint = endpoint_;
    record.shareMode = mode;
    record.streamFlags = flags;
    record.bufferDuration = duration;
    record.periodicity = periodicity;
    if (format) {
      const size_t size = format->wFormatTag == WAVE_FORMAT_EXTENSIBLE
                              ? sizeof(WAVEFORMATEX) + (format->cbSize < 22 ? format->cbSize : 22)
                              : sizeof(WAVEFORMATEX);
      std::memcpy(&record.format, format, size);
    }
    record.result = Decide(mode, flags, duration, periodicity, format);
    state_->initializations.push_back(record);
    if (record.result == S_OK) {
      initialized_ = true;
      std::memcpy(&format_, &record.format, sizeof(format_));
      duration_ = duration;
      bufferFrames_ = DurationToFrames(duration, format->nSamplesPerSec);
      scratch_.assign(static_cast<size_t>(bufferFrames_) * format->nBlockAlign, 0);
    }
    return record.result;
  }
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    const HRESULT hr = Check(Call::GetBufferSize);
    if (FAILED(hr)) return hr;
    const int64_t answer = state_->endpoints[endpoint_].traits.bufferSizeAnswer;
    *frames = answer < 0 ? bufferFrames_ : static_cast<UINT32>(answer);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    const HRESULT hr = Check(Call::GetStreamLatency);
    if (FAILED(hr)) return hr;
    const int64_t declared = state_->endpoints[endpoint_].traits.latency;
    *latency = declared < 0 ? duration_ : declared;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    *padding = static_cast<UINT32>(pending_.size()) * bufferFrames_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX* format,
                                              WAVEFORMATEX** closest) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (closest) *closest = nullptr;
    return IsAccepted(state_->endpoints[endpoint_].traits, format) ? S_OK
                                                                : AUDCLNT_E_UNSUPPORTED_FORMAT;
  }
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                            REFERENCE_TIME* minimumPeriod) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    HRESULT hr = state_->Injected(Call::GetDevicePeriod, endpoint_);
    if (FAILED(hr)) return hr;
    if (state_->Vanished(endpoint_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    const EndpointTraits& traits = state_->endpoints[endpoint_].traits;
    if (defaultPeriod) *defaultPeriod = traits.defaultPeriod;
    if (minimumPeriod) *minimumPeriod = traits.minimumPeriod;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Start() override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      const HRESULT hr = Check(Call::Start);
      if (FAILED(hr)) return hr;
      if (!event_) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
      if (running_) return AUDCLNT_E_NOT_STOPPED;
      running_ = true;
      state_->endpoints[endpoint_].running = true;
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      state_->endpoints[endpoint_].startCounter = now.QuadPart;
    }
    clock_ = std::thread([this] { RunClock(); });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      const HRESULT hr = state_->Injected(Call::Stop, endpoint_);
      if (FAILED(hr)) return hr;
      if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
      if (!running_) return S_FALSE;
    }
    StopClock();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (running_) return AUDCLNT_E_NOT_STOPPED;
    pending_.clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    const HRESULT hr = Check(Call::SetEventHandle);
    if (FAILED(hr)) return hr;
    if (!event) return E_INVALIDARG;
    event_ = event;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      const HRESULT hr = Check(Call::GetService);
      if (FAILED(hr)) return hr;
      if (iid != __uuidof(IAudioRenderClient)) return E_NOINTERFACE;
    }
    *out = static_cast<IAudioRenderClient*>(new SimRenderClient(state_, this));
    return S_OK;
  }

  // Render client side, under the state lock.
  HRESULT TakeBuffer(UINT32 frames, BYTE** data) {
    HRESULT hr = Check(Call::GetBuffer);
    if (FAILED(hr)) return hr;
    if (bufferOut_) return AUDCLNT_E_OUT_OF_ORDER;
    if (frames > bufferFrames_ || pending_.size() >= kMaxPendingBuffers)
      return AUDCLNT_E_BUFFER_TOO_LARGE;
    bufferOut_ = true;
    requested_ = frames;
    *data = scratch_.data();
    return S_OK;
  }
  HRESULT GiveBuffer(UINT32 frames, DWORD flags) {
    HRESULT hr = Check(Call::ReleaseBuffer);
    if (FAILED(hr)) return hr;
    if (!bufferOut_) return AUDCLNT_E_OUT_OF_ORDER;
    if (frames > requested_) return AUDCLNT_E_INVALID_SIZE;
    bufferOut_ = false;
    if (frames == 0) return S_OK;
    RenderedBuffer buffer{0, frames, {}};
    const size_t bytes = static_cast<size_t>(frames) * format_.Format.nBlockAlign;
    if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
      buffer.bytes.assign(bytes, format_.Format.wBitsPerSample == 8 ? 0x80 : 0);
    else
      buffer.bytes.assign(scratch_.begin(), scratch_.begin() + bytes);
    pending_.push_back(std::move(buffer));
    return S_OK;
  }
  std::shared_ptr<SimState> State() const { return state_; }

 private:
  // The common checks of a client call after initialisation. Under lock.
  HRESULT Check(Call call) {
    const HRESULT hr = state_->Injected(call, endpoint_);
    if (FAILED(hr)) return hr;
    if (state_->Vanished(endpoint_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    return S_OK;
  }

  HRESULT Decide(AUDCLNT_SHAREMODE mode, DWORD flags, int64_t duration, int64_t periodicity,
                 const WAVEFORMATEX* format) {
    const HRESULT hr = state_->Injected(Call::Initialize, endpoint_);
    if (FAILED(hr)) return hr;
    if (state_->Vanished(endpoint_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
    if (!format || mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK))
      return E_INVALIDARG;
    const EndpointTraits& traits = state_->endpoints[endpoint_].traits;
    if (traits.initializeAnswer != S_OK) return traits.initializeAnswer;
    if (!IsAccepted(traits, format)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    // Event-driven exclusive streams need the period equal to the duration.
    if (duration != periodicity) return E_INVALIDARG;
    if (duration < traits.minimumPeriod) return AUDCLNT_E_INVALID_DEVICE_PERIOD;
    const uint64_t bytes =
        static_cast<uint64_t>(DurationToFrames(duration, format->nSamplesPerSec)) * format->nBlockAlign;
    if (traits.requireAlignedBuffer && bytes % 128 != 0) return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
    return S_OK;
  }

  void RunClock() {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (uint64_t period = 1;; ++period) {
      const int64_t due =
          start.QuadPart + static_cast<int64_t>(period) * duration_ * frequency.QuadPart / kUnitsPerSecond;
      for (;;) {
        {
          std::lock_guard<std::mutex> guard(state_->lock);
          if (!running_) return;
        }
        QueryPerformanceCounter(&now);
        if (now.QuadPart >= due) break;
        const int64_t ms = (due - now.QuadPart) * 1000 / frequency.QuadPart;
        Sleep(ms > 5 ? 5 : static_cast<DWORD>(ms));
      }
      std::lock_guard<std::mutex> guard(state_->lock);
      if (!running_) return;
      EndpointState& endpoint = state_->endpoints[endpoint_];
      if (endpoint.vanished) continue;
      if (pending_.empty()) {
        ++endpoint.underruns;
      } else {
        pending_.front().counter = now.QuadPart;
        endpoint.rendered.push_back(std::move(pending_.front()));
        pending_.erase(pending_.begin());
      }
      if (endpoint.dropPeriods > 0) {
        --endpoint.dropPeriods;
      } else if (!endpoint.stalled) {
        SetEvent(event_);
      }
    }
  }

  void StopClock() {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      running_ = false;
      if (endpoint_ < state_->endpoints.size()) state_->endpoints[endpoint_].running = false;
    }
    if (clock_.joinable()) clock_.join();
  }

  size_t endpoint_;
  bool initialized_ = false;
  bool running_ = false;
  bool bufferOut_ = false;
  UINT32 requested_ = 0;
  WAVEFORMATEXTENSIBLE format_{};
  int64_t duration_ = 0;
  UINT32 bufferFrames_ = 0;
  HANDLE event_ = nullptr;
  std::vector<uint8_t> scratch_;
  std::vector<RenderedBuffer> pending_;
  std::thread clock_;
};

SimRenderClient::SimRenderClient(std::shared_ptr<SimState> state, SimAudioClient* client)
    : SimObject(std::move(state)), client_(client) {
  client_->AddRef();
}
SimRenderClient::~SimRenderClient() { client_->Release(); }
HRESULT SimRenderClient::GetBuffer(UINT32 frames, BYTE** data) {
  std::lock_guard<std::mutex> guard(state_->lock);
  return client_->TakeBuffer(frames, data);
}
HRESULT SimRenderClient::ReleaseBuffer(UINT32 frames, DWORD flags) {
  std::lock_guard<std::mutex> guard(state_->lock);
  return client_->GiveBuffer(frames, flags);
}

class SimPropertyStore : public SimObject<IPropertyStore> {
 public:
  SimPropertyStore(std::shared_ptr<SimState> state, size_t endpoint)
      : SimObject(std::move(state)), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (index != 0) return E_INVALIDARG;
    *key = PKEY_Device_FriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    PropVariantInit(value);
    const HRESULT hr = state_->Injected(Call::GetValue, endpoint_);
    if (FAILED(hr)) return hr;
    if (!(key.fmtid == PKEY_Device_FriendlyName.fmtid && key.pid == PKEY_Device_FriendlyName.pid))
      return S_OK;  // VT_EMPTY, as for any property the store does not hold
    const EndpointTraits& traits = state_->endpoints[endpoint_].traits;
    if (!traits.nameIsString) {
      value->vt = VT_UI4;
      value->ulVal = kNumericName;
      return S_OK;
    }
    const size_t bytes = (traits.friendlyName.size() + 1) * sizeof(wchar_t);
    value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!value->pwszVal) return E_OUTOFMEMORY;
    std::memcpy(value->pwszVal, traits.friendlyName.c_str(), bytes);
    value->vt = VT_LPWSTR;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }

 private:
  size_t endpoint_;
};

class SimDevice : public SimObject<IMMDevice> {
 public:
  SimDevice(std::shared_ptr<SimState> state, size_t endpoint)
      : SimObject(std::move(state)), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      const HRESULT hr = state_->Injected(Call::Activate, endpoint_);
      if (FAILED(hr)) return hr;
      if (state_->Vanished(endpoint_)) return AUDCLNT_E_DEVICE_INVALIDATED;
      if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
    }
    *out = static_cast<IAudioClient*>(new SimAudioClient(state_, endpoint_));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      const HRESULT hr = state_->Injected(Call::OpenPropertyStore, endpoint_);
      if (FAILED(hr)) return hr;
      if (access != STGM_READ) return E_ACCESSDENIED;
    }
    *out = new SimPropertyStore(state_, endpoint_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    *id = nullptr;
    const HRESULT hr = state_->Injected(Call::GetId, endpoint_);
    if (FAILED(hr)) return hr;
    const std::wstring& text = state_->endpoints[endpoint_].traits.id;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, text.c_str(), bytes);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    *state = state_->Vanished(endpoint_) ? DEVICE_STATE_NOTPRESENT : DEVICE_STATE_ACTIVE;
    return S_OK;
  }

 private:
  size_t endpoint_;
};

class SimCollection : public SimObject<IMMDeviceCollection> {
 public:
  SimCollection(std::shared_ptr<SimState> state, std::vector<size_t> members)
      : SimObject(std::move(state)), members_(std::move(members)) {}
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    const HRESULT hr = state_->Injected(Call::GetCount, kNoEndpoint);
    if (FAILED(hr)) return hr;
    *count = static_cast<UINT>(members_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** out) override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      if (index >= members_.size()) return E_INVALIDARG;
      const HRESULT hr = state_->Injected(Call::Item, members_[index]);
      if (FAILED(hr)) return hr;
    }
    *out = new SimDevice(state_, members_[index]);
    return S_OK;
  }

 private:
  std::vector<size_t> members_;  // a snapshot, like the system's collection
};

class SimEnumerator : public SimObject<IMMDeviceEnumerator> {
 public:
  using SimObject::SimObject;
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD mask,
                                               IMMDeviceCollection** out) override {
    std::vector<size_t> members;
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      const HRESULT hr = state_->Injected(Call::EnumAudioEndpoints, kNoEndpoint);
      if (FAILED(hr)) return hr;
      if (flow == eRender && (mask & DEVICE_STATE_ACTIVE)) {
        for (size_t i = 0; i < state_->endpoints.size(); ++i)
          if (!state_->endpoints[i].vanished) members.push_back(i);
      }
    }
    *out = new SimCollection(state_, std::move(members));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** out) override {
    size_t endpoint;
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      const HRESULT hr = state_->Injected(Call::GetDefaultAudioEndpoint, kNoEndpoint);
      if (FAILED(hr)) return hr;
      if (flow != eRender || role < 0 || role >= ERole_enum_count) return E_INVALIDARG;
      endpoint = state_->defaults[role];
      if (endpoint == kNoEndpoint || state_->Vanished(endpoint)) return kNotFound;
    }
    *out = new SimDevice(state_, endpoint);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override {
    size_t endpoint = kNoEndpoint;
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      *out = nullptr;
      for (size_t i = 0; i < state_->endpoints.size(); ++i)
        if (state_->endpoints[i].traits.id == id) endpoint = i;
      if (endpoint == kNoEndpoint) return kNotFound;
    }
    *out = new SimDevice(state_, endpoint);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
};

HRESULT CreateSimEnumerator(DWORD, IMMDeviceEnumerator** out) {
  std::shared_ptr<SimState> state;
  {
    if (!g_current) return REGDB_E_CLASSNOTREG;
    std::lock_guard<std::mutex> guard(g_current->lock);
    const HRESULT hr = g_current->Injected(Call::CreateEnumerator, kNoEndpoint);
    if (FAILED(hr)) return hr;
    state = g_currentOwner;
  }
  *out = new SimEnumerator(state);
  return S_OK;
}

}  // namespace

SimWasapi::SimWasapi() : state_(std::make_shared<SimState>()), outer_(g_currentOwner) {
  g_current = state_.get();
  g_currentOwner = state_;
  previousFactory_ = reinterpret_cast<void*>(SetDeviceEnumeratorFactory(&CreateSimEnumerator));
}

SimWasapi::~SimWasapi() {
  SetDeviceEnumeratorFactory(reinterpret_cast<DeviceEnumeratorFactory>(previousFactory_));
  g_currentOwner = outer_;
  g_current = outer_.get();
}

size_t SimWasapi::AddEndpoint(const EndpointTraits& traits) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints.push_back(EndpointState{});
  state_->endpoints.back().traits = traits;
  return state_->endpoints.size() - 1;
}

void SimWasapi::SetDefault(ERole role, size_t endpoint) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->defaults[role] = endpoint;
}

void SimWasapi::Fail(Call call, HRESULT result) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->failures[static_cast<size_t>(call)] = result;
  if (result == S_OK) state_->failLaterArmed[static_cast<size_t>(call)] = false;
}

void SimWasapi::FailAfter(Call call, uint32_t successes, HRESULT result) {
  std::lock_guard<std::mutex> guard(state_->lock);
  const size_t i = static_cast<size_t>(call);
  state_->failLaterArmed[i] = true;
  state_->failLaterAfter[i] = successes;
  state_->failLaterResult[i] = result;
}

void SimWasapi::FailEndpoint(size_t endpoint, Call call, HRESULT result) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].failures[static_cast<size_t>(call)] = result;
}

void SimWasapi::ChangeId(size_t endpoint, const std::wstring& id) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].traits.id = id;
}

void SimWasapi::Rename(size_t endpoint, const std::wstring& name) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].traits.friendlyName = name;
}

void SimWasapi::Vanish(size_t endpoint) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].vanished = true;
}

void SimWasapi::StallEvent(size_t endpoint, bool stalled) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].stalled = stalled;
}

void SimWasapi::DropPeriods(size_t endpoint, uint32_t periods) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->endpoints[endpoint].dropPeriods = periods;
}

std::vector<InitializeRecord> SimWasapi::Initializations() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->initializations;
}

std::vector<RenderedBuffer> SimWasapi::Rendered(size_t endpoint) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->endpoints[endpoint].rendered;
}

uint32_t SimWasapi::Underruns(size_t endpoint) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->endpoints[endpoint].underruns;
}

bool SimWasapi::Running(size_t endpoint) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->endpoints[endpoint].running;
}

int64_t SimWasapi::StartCounter(size_t endpoint) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->endpoints[endpoint].startCounter;
}

uint32_t SimWasapi::CallCount(Call call) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->calls[static_cast<size_t>(call)];
}

int SimWasapi::LiveObjects() { return g_liveObjects.load(); }

}  // namespace simwasapi

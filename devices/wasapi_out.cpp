// A WASAPI render endpoint in exclusive, event-driven mode behind the worker's
// device interface.
//
// How it works: the constructor binds COM to the worker's render thread. Open
// resolves the endpoint, activates an audio client, reads the minimum device
// period, raises it to the configured buffer length, and then offers integer PCM at
// the file's rate, widening valid bits and container step by step (and adding a
// channel to odd counts) until Initialize answers S_OK. The accepted format goes
// back to the worker, which converts every buffer into it.
#include "devices/wasapi_out.h"

#include <mmsystem.h>

#include <cstring>

#include "devices/engine_tuning.h"
#include "devices/wasapi_format_ladder.h"
#include "dsp/wave_format.h"

namespace {

// The PCM sub-format, spelled out: MinGW's import libraries do not all carry it.
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010,
                              {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr WORD kExtensibleExtensionSize = 22;

void SetCandidate(WAVEFORMATEXTENSIBLE& record, const FormatCandidate& candidate) {
  record.Samples.wValidBitsPerSample = candidate.validBits;
  record.Format.wBitsPerSample = candidate.containerBits;
  record.Format.nBlockAlign = FrameBlockAlign(candidate.containerBits, record.Format.nChannels);
  record.Format.nAvgBytesPerSec = record.Format.nBlockAlign * record.Format.nSamplesPerSec;
}

}  // namespace

bool CAUDIODEVICE::Open(OutputDeviceIndex, SampleFormat&, HANDLE, uint32_t&, uint32_t&,
                        uint32_t& error, wchar_t*, uint32_t) {
  error = MMSYSERR_NODRIVER;
  return false;
}

CWASAPIOUT::CWASAPIOUT()
    : comInitResult_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)),
      ownerThread_(GetCurrentThreadId()) {}

CWASAPIOUT::~CWASAPIOUT() {
  Close();
  // COM belongs to the constructing thread; S_FALSE also needs its matching call.
  if (GetCurrentThreadId() == ownerThread_ && SUCCEEDED(comInitResult_)) CoUninitialize();
}

bool CWASAPIOUT::Open(OutputDeviceIndex index, SampleFormat& format, HANDLE event,
                      uint32_t& bufferFrames, uint32_t& latencyFrames, uint32_t& error,
                      wchar_t* name, uint32_t nameCapacity) {
  if (FAILED(comInitResult_)) {
    error = MMSYSERR_NOMEM;
    return false;
  }
  format.isFloat = false;
  WAVEFORMATEXTENSIBLE record = BuildExclusiveFormat(format);
  error = MMSYSERR_NODRIVER;

  device_.Attach(ResolveRenderEndpoint(index, name, nameCapacity));
  if (!device_) return false;
  if (FAILED(device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                               reinterpret_cast<void**>(audioClient_.Receive()))))
    return false;
  if (FAILED(audioClient_->GetDevicePeriod(nullptr, &period_))) return false;
  period_ = WantedPeriod(period_, ProcessEngineTuning().wasapiBufferLength);

  const HRESULT negotiated =
      NegotiateExclusiveFormat(record, audioClient_.Get(), period_, &negotiation_);
  if (negotiated != S_OK) {
    error = NegotiationErrorCode(negotiated);
    return false;
  }

  error = MMSYSERR_NODRIVER;
  if (FAILED(audioClient_->SetEventHandle(event))) return false;
  UINT32 frames = 0;
  // No frames would leave the render thread a zero wait and nothing to fill.
  if (FAILED(audioClient_->GetBufferSize(&frames)) || frames == 0) return false;
  bufferFrames = frames;
  REFERENCE_TIME latency = 0;
  if (FAILED(audioClient_->GetStreamLatency(&latency))) latency = 0;
  latencyFrames = LatencyFrames(record.Format.nSamplesPerSec, latency);
  if (FAILED(audioClient_->GetService(__uuidof(IAudioRenderClient),
                                      reinterpret_cast<void**>(renderClient_.Receive()))))
    return false;

  WaveFormat accepted;
  if (!accepted.Allocate(sizeof(record))) return false;
  std::memcpy(accepted.Bytes(), &record, sizeof(record));
  if (!ParseSampleFormat(accepted, format)) return false;
  error = MMSYSERR_NOERROR;
  return true;
}

void CWASAPIOUT::Close() {
  if (audioClient_) audioClient_->Stop();
  renderClient_.Release();
  audioClient_.Release();
  device_.Release();
}

// Before a successful Open there is nothing to forward to: fail rather than crash.
bool CWASAPIOUT::GetBuffer(uint32_t frames, BYTE** data) {
  return renderClient_ && SUCCEEDED(renderClient_->GetBuffer(frames, data));
}

bool CWASAPIOUT::ReleaseBuffer(uint32_t frames, DWORD flags) {
  return renderClient_ && SUCCEEDED(renderClient_->ReleaseBuffer(frames, flags));
}

bool CWASAPIOUT::Stop() { return renderClient_ && SUCCEEDED(audioClient_->Stop()); }

bool CWASAPIOUT::Start() { return renderClient_ && SUCCEEDED(audioClient_->Start()); }

WAVEFORMATEXTENSIBLE BuildExclusiveFormat(const SampleFormat& format) {
  WAVEFORMATEXTENSIBLE record = {};
  record.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  record.Format.nChannels = static_cast<WORD>(format.channels);
  record.Format.nSamplesPerSec = format.sampleRate;
  record.Format.wBitsPerSample = format.containerBits;
  record.Format.nBlockAlign = FrameBlockAlign(format.containerBits, format.channels);
  record.Format.nAvgBytesPerSec = record.Format.nBlockAlign * format.sampleRate;
  record.Format.cbSize = kExtensibleExtensionSize;
  record.Samples.wValidBitsPerSample = format.validBits;
  record.dwChannelMask = ChannelMaskFor(format.channels);
  record.SubFormat = kSubtypePcm;
  return record;
}

HRESULT NegotiateExclusiveFormat(WAVEFORMATEXTENSIBLE& record, IAudioClient* client,
                                 int64_t& period, NegotiationLog* log) {
  HRESULT result = AUDCLNT_E_UNSUPPORTED_FORMAT;
  // No frame and no rate: nothing to offer, and the alignment would divide by 0.
  if (record.Format.nChannels == 0 || record.Format.nSamplesPerSec == 0) return result;
  FormatCandidate ladder[kMaxFormatCandidates];
  const uint32_t count = BuildFormatLadder(record.Samples.wValidBitsPerSample,
                                           ProcessEngineTuning().wasapiMaxBitLength, ladder);
  if (log) log->sampleRate = record.Format.nSamplesPerSec;
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (uint32_t i = 0; i < count; ++i) {
      SetCandidate(record, ladder[i]);
      const int64_t duration =
          AlignedPeriod(period, record.Format.nBlockAlign, record.Format.nSamplesPerSec);
      result = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                  duration, duration, &record.Format, nullptr);
      if (log) log->Add(ladder[i].validBits, ladder[i].containerBits, record.Format.nChannels, result);
      if (result == S_OK) {
        period = duration;
        return S_OK;
      }
    }
    // One more channel, once: the mask keeps its bits, so the added channel has no
    // speaker position.
    if (record.Format.nChannels % 2 == 0) break;
    ++record.Format.nChannels;
  }
  return result;
}

uint32_t NegotiationErrorCode(HRESULT result) {
  switch (result) {
    case AUDCLNT_E_NOT_STOPPED:
      return WAVERR_STILLPLAYING;
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
      return WAVERR_BADFORMAT;
    case AUDCLNT_E_DEVICE_IN_USE:
    case AUDCLNT_E_BUFFER_OPERATION_PENDING:
      return MMSYSERR_ALLOCATED;
    default:
      return MMSYSERR_INVALPARAM;
  }
}

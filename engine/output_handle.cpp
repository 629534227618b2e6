// The output handle: wave-out calls passed straight on for MME devices, the
// worker's operations for WASAPI endpoints.
#include "engine/output_handle.h"

#include <cstring>
#include <new>

#include "devices/output_devices.h"
#include "engine/mme_wave_out.h"
#include "engine/render_timing.h"

namespace {

HWAVEOUT Mme(const OutputHandle* handle) { return reinterpret_cast<HWAVEOUT>(handle->target); }
CMMEWAVEOUT* Worker(const OutputHandle* handle) {
  return reinterpret_cast<CMMEWAVEOUT*>(handle->target);
}

uint32_t OpenWasapi(OutputHandle** out, uint32_t index, const WaveFormat& format,
                    DWORD_PTR callback, DWORD flags) {
  if (!IsWasapiClientFormat(format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  OutputHandle* handle = new (std::nothrow) OutputHandle();
  if (!handle) return MMSYSERR_NOMEM;
  handle->isWasapi = 1;
  CMMEWAVEOUT* worker = new (std::nothrow) CMMEWAVEOUT();
  if (!worker) {
    delete handle;
    return MMSYSERR_NOMEM;
  }
  handle->target = reinterpret_cast<UINT_PTR>(worker);
  const NotifyTarget target = {handle, callback, 0, flags};
  const uint32_t result = worker->StartWorker(target, index, format, flags);
  if (result != MMSYSERR_NOERROR) {
    delete worker;
    delete handle;
    return result;
  }
  NotifyClient(worker->notifyTarget, MM_WOM_OPEN, 0);
  *out = handle;
  return MMSYSERR_NOERROR;
}

}  // namespace

uint32_t OutputOpen(OutputHandle** out, uint32_t index, const WaveFormat& format,
                    DWORD_PTR callback, DWORD flags) {
  const uint32_t wasapiCount = WasapiDeviceCount();
  if (index < wasapiCount) {
    const uint32_t result = OpenWasapi(out, index, format, callback, flags);
    if (result == MMSYSERR_NOERROR && !(flags & WAVE_FORMAT_QUERY)) {
      (*out)->rate = format.SampleRate();
      (*out)->channels = format.Channels();
      (*out)->bits = format.BitsPerSample();
    }
    return result;
  }
  const UINT device = index == WAVE_MAPPER ? WAVE_MAPPER : index - wasapiCount;
  const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(format.Bytes());
  if (flags & WAVE_FORMAT_QUERY) {
    return waveOutOpen(reinterpret_cast<HWAVEOUT*>(out), device, wfx, callback, 0, flags);
  }
  OutputHandle* handle = new (std::nothrow) OutputHandle();
  if (!handle) return MMSYSERR_NOMEM;
  HWAVEOUT waveOut = nullptr;
  const MMRESULT result = waveOutOpen(&waveOut, device, wfx, callback, 0, flags);
  if (result != MMSYSERR_NOERROR) {
    delete handle;
    return result;
  }
  handle->target = reinterpret_cast<UINT_PTR>(waveOut);
  handle->rate = format.SampleRate();
  handle->channels = format.Channels();
  handle->bits = format.BitsPerSample();
  *out = handle;
  return MMSYSERR_NOERROR;
}

uint32_t OutputClose(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) {
    const NotifyTarget target = Worker(handle)->notifyTarget;
    delete Worker(handle);  // its destructor shuts the render thread down
    handle->target = 0;
    NotifyClient(target, MM_WOM_CLOSE, 0);
    delete handle;
    return MMSYSERR_NOERROR;
  }
  const MMRESULT result = waveOutClose(Mme(handle));
  if (result == MMSYSERR_NOERROR) delete handle;
  return result;
}

uint32_t OutputPrepare(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) {
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }
  return waveOutPrepareHeader(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputUnprepare(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) {
    header->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }
  return waveOutUnprepareHeader(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputWrite(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) return Worker(handle)->WriteHeader(header);
  return waveOutWrite(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputPause(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) return Worker(handle)->Pause();
  return waveOutPause(Mme(handle));
}

uint32_t OutputRestart(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) return Worker(handle)->Restart();
  return waveOutRestart(Mme(handle));
}

uint32_t OutputReset(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) return Worker(handle)->ResetQueue();
  return waveOutReset(Mme(handle));
}

uint32_t OutputGetPosition(OutputHandle* handle, MMTIME* time) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) return Worker(handle)->GetPosition(time);
  return waveOutGetPosition(Mme(handle), time, sizeof(MMTIME));
}

uint32_t QueryOutputInfo(OutputHandle* handle, uint32_t* kind, uint32_t* rate, uint32_t* bits,
                         uint32_t* channels, char name[64]) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (handle->isWasapi) {
    const CMMEWAVEOUT* worker = Worker(handle);
    // The status line is a window text: the ANSI code page, not the console's.
    if (name) NarrowDeviceName(worker->deviceName, name, 64);
    if (kind) *kind = kOutputKindWasapi;
    if (rate) *rate = worker->deviceFormat.sampleRate;
    if (bits) *bits = worker->deviceFormat.validBits;
    if (channels) *channels = worker->deviceFormat.channels;
    return MMSYSERR_NOERROR;
  }
  UINT id = 0;
  MMRESULT result = waveOutGetID(Mme(handle), &id);
  if (result != MMSYSERR_NOERROR) return result;
  // The wide name, narrowed here: the system's narrow one is cut at 31 bytes,
  // which may fall inside a character.
  WAVEOUTCAPSW caps{};
  result = waveOutGetDevCapsW(id, &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return result;
  if (name) NarrowDeviceName(caps.szPname, name, 64);
  if (kind) *kind = kOutputKindMme;
  if (rate) *rate = handle->rate;
  if (bits) *bits = handle->bits;
  if (channels) *channels = handle->channels;
  return MMSYSERR_NOERROR;
}

bool QueryNegotiation(const OutputHandle* handle, NegotiationLog* log) {
  if (!handle || !handle->isWasapi) return false;
  // The render thread wrote it before it let the open return; it does not change.
  *log = Worker(handle)->negotiation;
  return true;
}

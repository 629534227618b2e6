// The output handle: wave-out calls passed straight on for MME devices.
#include "engine/output_handle.h"

#include <cstring>
#include <new>

namespace {

HWAVEOUT Mme(const OutputHandle* handle) { return reinterpret_cast<HWAVEOUT>(handle->target); }

// The WASAPI entries come first in the combined numbering. Until the WASAPI
// worker is wired to the handle, the list holds none, as on a system without
// WASAPI, and every index is an MME device.
uint32_t WasapiEntries() { return 0; }

}  // namespace

uint32_t OutputOpen(OutputHandle** out, uint32_t index, const WaveFormat& format,
                    DWORD_PTR callback, DWORD flags) {
  const uint32_t wasapiCount = WasapiEntries();
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
  const MMRESULT result = waveOutClose(Mme(handle));
  if (result == MMSYSERR_NOERROR) delete handle;
  return result;
}

uint32_t OutputPrepare(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutPrepareHeader(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputUnprepare(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutUnprepareHeader(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputWrite(OutputHandle* handle, WAVEHDR* header) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutWrite(Mme(handle), header, sizeof(WAVEHDR));
}

uint32_t OutputPause(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutPause(Mme(handle));
}

uint32_t OutputRestart(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutRestart(Mme(handle));
}

uint32_t OutputReset(OutputHandle* handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutReset(Mme(handle));
}

uint32_t OutputGetPosition(OutputHandle* handle, MMTIME* time) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  return waveOutGetPosition(Mme(handle), time, sizeof(MMTIME));
}

uint32_t QueryOutputInfo(OutputHandle* handle, uint32_t* kind, uint32_t* rate, uint32_t* bits,
                         uint32_t* channels, char name[64]) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  UINT id = 0;
  MMRESULT result = waveOutGetID(Mme(handle), &id);
  if (result != MMSYSERR_NOERROR) return result;
  WAVEOUTCAPSA caps{};
  result = waveOutGetDevCapsA(id, &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return result;
  if (name) {
    std::strncpy(name, caps.szPname, 63);
    name[63] = '\0';
  }
  if (kind) *kind = kOutputKindMme;
  if (rate) *rate = handle->rate;
  if (bits) *bits = handle->bits;
  if (channels) *channels = handle->channels;
  return MMSYSERR_NOERROR;
}

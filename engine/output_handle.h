// The player's handle to an open output: a native wave-out handle, or the worker
// that gives a WASAPI exclusive endpoint wave-out's behaviour. Every operation
// takes and returns what the same-named wave-out call does.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "dsp/wave_format.h"

class CMMEWAVEOUT;
struct NegotiationLog;

// What QueryOutputInfo reports as the kind of an output.
enum OutputKind : uint32_t {
  kOutputKindMme = 0,
  kOutputKindWasapi = 2,
};

struct OutputHandle {
  UINT_PTR target;     // the HWAVEOUT, or the owned CMMEWAVEOUT
  uint32_t rate;       // the format the output was opened with
  uint32_t bits;
  uint32_t channels;
  uint8_t isWasapi;
};

// Opens device `index` of the combined numbering (WASAPI entries first, then the
// MME devices; WAVE_MAPPER goes to MME unchanged) for `format`. With
// WAVE_FORMAT_QUERY only checks the format and opens nothing.
uint32_t OutputOpen(OutputHandle** out, uint32_t index, const WaveFormat& format,
                    DWORD_PTR callback, DWORD flags);
uint32_t OutputClose(OutputHandle* handle);
uint32_t OutputPrepare(OutputHandle* handle, WAVEHDR* header);
uint32_t OutputUnprepare(OutputHandle* handle, WAVEHDR* header);
uint32_t OutputWrite(OutputHandle* handle, WAVEHDR* header);
uint32_t OutputPause(OutputHandle* handle);
uint32_t OutputRestart(OutputHandle* handle);
uint32_t OutputReset(OutputHandle* handle);
uint32_t OutputGetPosition(OutputHandle* handle, MMTIME* time);

// Reports what an open output really plays. Every out-parameter may be null;
// `name` receives at most 63 characters and its terminator.
uint32_t QueryOutputInfo(OutputHandle* handle, uint32_t* kind, uint32_t* rate, uint32_t* bits,
                         uint32_t* channels, char name[64]);

// The format search a WASAPI output made when it opened: true and `log` filled for
// one, false for a wave-out output (which takes the format as it is) or no output.
bool QueryNegotiation(const OutputHandle* handle, NegotiationLog* log);

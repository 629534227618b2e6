// The record of one exclusive-mode format search: every format offered to the
// endpoint with the answer it gave, in order, so the user can see why the device
// plays the format it plays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devices/wasapi_format_ladder.h"

// One offer: the layout asked for and the HRESULT Initialize answered.
struct FormatAttempt {
  uint16_t validBits;
  uint16_t containerBits;
  uint16_t channels;
  int32_t result;
};

// The ladder is walked at most twice: with the file's channels, then with one added.
constexpr uint32_t kMaxFormatAttempts = 2 * kMaxFormatCandidates;

struct NegotiationLog {
  uint32_t sampleRate = 0;
  uint32_t count = 0;
  FormatAttempt attempts[kMaxFormatAttempts] = {};

  void Add(uint16_t validBits, uint16_t containerBits, uint16_t channels, int32_t result) {
    if (count < kMaxFormatAttempts) attempts[count++] = {validBits, containerBits, channels, result};
  }
};

// The name of an HRESULT an audio client answers ("AUDCLNT_E_UNSUPPORTED_FORMAT"),
// or null for one without a name here.
const char* AudioResultName(int32_t result);

// The search as text lines separated by "\r\n": a heading with the rate, then one
// line per offer, "24 in 32 bits, 2 ch: S_OK (chosen)"; a search that found nothing
// ends with a line saying so. With no offers (a wave-out output) one line says that
// nothing was negotiated. Cut to `size` - 1 characters.
void FormatNegotiation(char* text, size_t size, const NegotiationLog& log);

// The two output-engine tuning values, read from the current user's registry key
// Software\VOZEVOZER and re-read at most once per second.
#pragma once

#include <cstdint>

constexpr uint32_t kDefaultWasapiBufferLength = 33;  // milliseconds
constexpr uint32_t kDefaultWasapiMaxBitLength = 32;  // bits
constexpr uint32_t kTuningRereadIntervalMs = 1000;

struct EngineTuning {
  // Lower bound of the exclusive-mode device period, in milliseconds.
  uint32_t wasapiBufferLength = kDefaultWasapiBufferLength;
  // Upper bound of the valid bits offered in format negotiation.
  uint32_t wasapiMaxBitLength = kDefaultWasapiMaxBitLength;
  // GetTickCount at the last reading.
  uint32_t lastReadTick = 0;
};

// The process's values. Written only by ReadEngineTuning (each field is a single
// 32-bit word, so readers need no lock); tests may put the defaults back.
EngineTuning& ProcessEngineTuning();

// Takes each value that the key holds as exactly 4 bytes, of whatever registry type;
// a missing value or one of another size keeps the current reading. Always stamps
// the time of this reading, even when the key is absent.
void ReadEngineTuning();

// Whether a reading taken at lastReadTick is due again at tick `now` (the tick
// counter wraps after 49.7 days; the difference is taken in 32 bits).
bool TuningRereadDue(uint32_t now, uint32_t lastReadTick);

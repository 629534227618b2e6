// The exclusive-mode format search order and the buffer-duration alignment that
// the WASAPI device uses when it asks an endpoint for a format.
#pragma once

#include <cstdint>

// One (valid bits, container bits) pair offered to the endpoint.
struct FormatCandidate {
  uint16_t validBits;
  uint16_t containerBits;
};

// No container is wider than 32 bits; the narrowest that holds a whole number of
// bytes is 8. Starting at 8 valid bits the ladder is 4 + 3 + 2 + 1 rungs long.
constexpr uint32_t kWidestContainerBits = 32;
constexpr uint32_t kNarrowestContainerBits = 8;
constexpr uint32_t kMaxFormatCandidates = 10;

// WASAPI's reference time: 100 ns units.
constexpr int64_t kReferenceTimePerSecond = 10000000;
constexpr int64_t kReferenceTimePerMillisecond = 10000;

// The candidates in the order they are tried: valid bits from
// min(fileValidBits, maxValidBits) upwards while at most maxValidBits, and for each
// the containers from the valid bits up to 32, both stepping to the next multiple of
// 8. A maxValidBits below 8 counts as 8, so no candidate has a container narrower
// than a byte (its block align would be 0). Returns the number written to `out`.
uint32_t BuildFormatLadder(uint32_t fileValidBits, uint32_t maxValidBits,
                           FormatCandidate (&out)[kMaxFormatCandidates]);

// Bytes per frame as the format record carries it: (container ÷ 8) × channels,
// kept to 16 bits like WAVEFORMATEX's field.
uint16_t FrameBlockAlign(uint32_t containerBits, uint32_t channels);

// One speaker bit per channel, lowest bits first (2 channels 0x3, 6 channels 0x3F).
// A 32-bit mask cannot name 32 or more channels one by one; for those the mask is 0,
// which marks every channel as carrying no speaker position.
uint32_t ChannelMaskFor(uint32_t channels);

// The buffer duration to ask for: `period` (100 ns units) as whole frames, rounded
// to the nearest frame, grown until the buffer is a multiple of lcm(blockAlign, 128)
// bytes, and converted back to 100 ns units rounded to the nearest unit (halves up).
// Only the low 32 bits of that result are kept. blockAlign and sampleRate must be
// at least 1.
int64_t AlignedPeriod(int64_t period, uint32_t blockAlign, uint32_t sampleRate);

// The period to start the search with: the larger of the device's minimum period
// and bufferLengthMs milliseconds.
int64_t WantedPeriod(int64_t minimumPeriod, uint32_t bufferLengthMs);

// A latency in 100 ns units as frames at sampleRate, rounded to the nearest frame
// (halves up), low 32 bits kept.
uint32_t LatencyFrames(uint32_t sampleRate, int64_t latency);

// The playback's arithmetic that needs nothing of the system: the buffer size rule,
// the skip targets, the playing byte across a loop rewind and the tempo field's rule.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of `milliseconds` of audio, rounded up to a whole block:
// block × ((block + MulDivSaturate(avg, ms, 1000) − 1) ÷ block), in 64 bits, and
// 0 when that does not fit in 32 bits (the caller refuses it as too large).
uint32_t BufferBytes(uint32_t avgBytesPerSec, uint32_t blockAlign, uint32_t milliseconds);

// The seconds of one skip.
constexpr uint32_t kSkipSeconds = 5;
// Skip back from frame p: 0 below one step; else the step boundary at or below p,
// one more step back when p lies less than a second past that boundary.
uint32_t SkipBackTarget(uint32_t position, uint32_t sampleRate);
// Skip forward from frame p: the next step boundary above p (may lie past the end).
uint32_t SkipForwardTarget(uint32_t position, uint32_t sampleRate);

// The byte of the data now sounding. `dataSize − remainingBytes` (at most the data
// size) has been read; `bytesQueued − playedBytes` of that is still queued. When
// more is queued than was read since the data's start, the feeder has rewound for
// a loop and the sounding byte lies that much before the end.
uint32_t PlayingByte(uint32_t dataSize, uint32_t remainingBytes, uint32_t bytesQueued,
                     uint32_t playedBytes);

// The tempo field's rule for REX loops. Returns false when the box is checked and
// the field holds a non-zero number outside [minimum, maximum]; otherwise true with
// `tempoX1000` the number × 1000, or 0 (the loop's own tempo) for an unchecked box,
// an empty or non-numeric field or 0.
bool TempoFromField(bool checked, bool isNumber, uint32_t bpm, uint32_t minimum,
                    uint32_t maximum, uint32_t* tempoX1000);


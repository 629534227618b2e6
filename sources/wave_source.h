// The RIFF/WAVE chunk walk that finds a file's format record and its audio data.
// The record itself and the frame, byte and time arithmetic are in dsp/wave_format.h.
#pragma once

#include <cstdint>

#include "dsp/wave_format.h"

// What the reader hands back for an opened WAVE file. Positions throughout the
// player are sample frames in unsigned 32 bits.
struct WaveSource {
  WaveFormat format;
  uint32_t dataOffset = 0;   // file offset of the first audio byte
  uint32_t dataSize = 0;     // the `data` chunk's declared size, unchecked against the file
  uint32_t totalFrames = 0;
};

// Where the reader reads from: a file, or memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `count` bytes at the current position and moves past them.
  // Returns the number read: fewer at the end of the source or on an error.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // Moves to an absolute position and returns the position reached; anything
  // other than `position` means the seek failed. Past the end is allowed.
  virtual uint64_t Seek(uint32_t position) = 0;
};

enum class WaveReadResult {
  Ok,
  NotGeneric,   // the container is not a sound RIFF/WAVE file
  NoAudioData,  // a `data` chunk of size 0
};

// The messages the user sees for the WAVE file's failures.
extern const char kMsgUnableToOpenWave[];    // "Unable to open the WAVE file."
extern const char kMsgNotGenericWave[];      // "The file is not a generic WAV file."
extern const char kMsgNoAudioData[];         // "The file does not contain any valid audio data."
extern const char kMsgWaveReadingError[];    // "File reading error on the WAVE file."

// The message for a failed read; null for Ok.
const char* WaveReadMessage(WaveReadResult result);

// Walks the chunks of a source positioned at offset 0. On Ok `out` is filled and
// the source is positioned at the data offset; on failure `out.format` is empty.
// Reads only the 12-byte header, the 8-byte chunk headers and the `fmt ` body.
// A record whose block align or sample rate is 0 is refused as not generic: every
// derived quantity divides by them.
WaveReadResult ReadWaveSource(ByteSource& source, WaveSource& out);

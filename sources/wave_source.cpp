// The RIFF/WAVE chunk walk.
#include "sources/wave_source.h"

#include <cstring>

const char kMsgUnableToOpenWave[] = "Unable to open the WAVE file.";
const char kMsgNotGenericWave[] = "The file is not a generic WAV file.";
const char kMsgNoAudioData[] = "The file does not contain any valid audio data.";
const char kMsgWaveReadingError[] = "File reading error on the WAVE file.";

const char* WaveReadMessage(WaveReadResult result) {
  switch (result) {
    case WaveReadResult::Ok: return nullptr;
    case WaveReadResult::NotGeneric: return kMsgNotGenericWave;
    case WaveReadResult::NoAudioData: return kMsgNoAudioData;
  }
  return kMsgNotGenericWave;
}

namespace {

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool SeekExactly(ByteSource& source, uint32_t position) {
  return source.Seek(position) == position;
}

// Walks the chunks; fills `out` but leaves the derived quantities to the caller.
WaveReadResult WalkChunks(ByteSource& source, WaveSource& out) {
  uint8_t header[12];
  if (source.Read(header, 12) != 12) return WaveReadResult::NotGeneric;
  if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
    return WaveReadResult::NotGeneric;
  }

  uint32_t position = 12;
  bool haveData = false;
  for (;;) {
    uint8_t chunk[8];
    if (source.Read(chunk, 8) != 8) return WaveReadResult::NotGeneric;
    const uint32_t size = LoadU32(chunk + 4);

    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (!out.format.IsEmpty() || size < 14) return WaveReadResult::NotGeneric;
      if (!out.format.Allocate(size)) return WaveReadResult::NotGeneric;
      if (source.Read(out.format.Bytes(), size) != size) return WaveReadResult::NotGeneric;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (haveData) return WaveReadResult::NotGeneric;
      if (size == 0) return WaveReadResult::NoAudioData;
      haveData = true;
      out.dataSize = size;
      out.dataOffset = position + 8;
    }

    // Once both are held the walk ends without stepping over this chunk, so a
    // `data` chunk that claims more than 4 GiB minus its offset (as streaming
    // writers leave it) is taken like any other that claims more than the file.
    if (haveData && !out.format.IsEmpty()) {
      return SeekExactly(source, out.dataOffset) ? WaveReadResult::Ok
                                                 : WaveReadResult::NotGeneric;
    }

    // A size of 0xFFFFFFFF cannot be rounded up to even in 32 bits: where the
    // next header lies is unknowable, so such a chunk cannot be stepped over.
    if (size == 0xFFFFFFFFu) return WaveReadResult::NotGeneric;
    const uint32_t next = position + 8 + ((size + 1) & ~1u);
    if (next <= position) return WaveReadResult::NotGeneric;
    if (!SeekExactly(source, next)) return WaveReadResult::NotGeneric;
    position = next;
  }
}

}  // namespace

WaveReadResult ReadWaveSource(ByteSource& source, WaveSource& out) {
  out = WaveSource{};
  WaveReadResult result = WalkChunks(source, out);
  if (result == WaveReadResult::Ok) {
    const uint16_t tag = out.format.FormatTag();
    if (tag == kFormatTagPcm || tag == kFormatTagFloat) out.format.SetU16(16, 0);
    if (out.format.BlockAlign() == 0 || out.format.SampleRate() == 0) {
      result = WaveReadResult::NotGeneric;
    }
  }
  if (result != WaveReadResult::Ok) {
    out = WaveSource{};
    return result;
  }
  out.totalFrames = TotalFrames(out.format, out.dataSize);
  return WaveReadResult::Ok;
}

// The RIFF/WAVE chunk walk and the frame, byte and time arithmetic.
#include "player/wave_source.h"

#include <cstring>

const char kMsgUnableToOpenWave[] = "Unable to open the WAVE file.";
const char kMsgNotGenericWave[] = "The file is not a generic WAV file.";
const char kMsgNoAudioData[] = "The file does not contain any valid audio data.";
const char kMsgWaveReadingError[] = "File reading error on the WAVE file.";

bool WaveFormat::Allocate(uint32_t size) {
  Release();
  if (size > kWaveFormatMaxSize) return false;
  const uint32_t bytes = size < kWaveFormatMinSize ? kWaveFormatMinSize : size;
  bytes_.reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
  if (!bytes_) return false;
  size_ = bytes;
  return true;
}

void WaveFormat::Release() {
  bytes_.reset();
  size_ = 0;
}

uint16_t WaveFormat::U16(uint32_t offset) const {
  if (!bytes_ || offset + 2 > size_) return 0;
  const uint8_t* p = bytes_.get() + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t WaveFormat::U32(uint32_t offset) const {
  if (!bytes_ || offset + 4 > size_) return 0;
  const uint8_t* p = bytes_.get() + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WaveFormat::SetU16(uint32_t offset, uint16_t value) {
  if (!bytes_ || offset + 2 > size_) return;
  bytes_[offset] = static_cast<uint8_t>(value);
  bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void WaveFormat::SetU32(uint32_t offset, uint32_t value) {
  if (!bytes_ || offset + 4 > size_) return;
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

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

uint32_t MulDivSaturate(uint32_t a, uint32_t b, uint32_t c) {
  const uint64_t product = static_cast<uint64_t>(a) * b;
  if ((product >> 32) >= c) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(product / c);
}

uint32_t FramesPerBlock(const WaveFormat& format) {
  return MulDivSaturate(format.BlockAlign(), format.SampleRate(), format.AvgBytesPerSec());
}

uint32_t TotalFrames(const WaveFormat& format, uint32_t dataSize) {
  const uint32_t blockAlign = format.BlockAlign();
  if (blockAlign == 0) return 0;
  return (dataSize / blockAlign) * FramesPerBlock(format);
}

uint32_t DurationSeconds(uint32_t totalFrames, uint32_t sampleRate) {
  return sampleRate ? totalFrames / sampleRate : 0;
}

uint32_t DurationTenths(uint32_t totalFrames, uint32_t sampleRate) {
  if (!sampleRate) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(totalFrames % sampleRate) * 10) / sampleRate);
}

uint32_t FramesToByteOffset(const WaveFormat& format, uint32_t frames) {
  const uint32_t rate = format.SampleRate();
  if (!rate) return 0;
  const uint32_t bytes = static_cast<uint32_t>(
      static_cast<uint64_t>(frames) * format.AvgBytesPerSec() / rate);
  const uint32_t blockAlign = format.BlockAlign();
  return blockAlign ? bytes - bytes % blockAlign : bytes;
}

uint32_t FramesToMilliseconds(uint32_t frames, uint32_t sampleRate) {
  if (!sampleRate) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(frames) * 1000 / sampleRate);
}

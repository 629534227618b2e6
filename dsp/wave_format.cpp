// The audio format record and the frame, byte and time arithmetic.
#include "dsp/wave_format.h"

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

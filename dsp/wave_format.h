// The audio format record and the frame, byte and time arithmetic every position in
// the program uses. A leaf: the reader, the converters, the outputs and the display
// all take the record from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

constexpr uint16_t kFormatTagPcm = 0x0001;
constexpr uint16_t kFormatTagFloat = 0x0003;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;

// The size of WAVEFORMATEX, the least a format record occupies.
constexpr uint32_t kWaveFormatMinSize = 18;
// The largest `fmt ` body the reader keeps: WAVEFORMATEX plus the largest
// extension its 16-bit extension size can announce. A larger chunk describes no
// format the system could use and is refused rather than allocated.
constexpr uint32_t kWaveFormatMaxSize = kWaveFormatMinSize + 0xFFFF;

// The body of a WAVE file's `fmt ` chunk, byte for byte and little-endian, laid out
// as WAVEFORMATEX and, for tag 0xFFFE, the rest of WAVEFORMATEXTENSIBLE. It holds
// max(chunk size, 18) bytes; bytes the chunk did not supply are zero.
class WaveFormat {
 public:
  WaveFormat() = default;
  WaveFormat(WaveFormat&&) = default;
  WaveFormat& operator=(WaveFormat&&) = default;

  // A zero-filled record of max(size, 18) bytes; false when that cannot be had.
  bool Allocate(uint32_t size);
  void Release();
  bool IsEmpty() const { return !bytes_; }

  // The record as the system's WAVEFORMATEX expects it.
  const uint8_t* Bytes() const { return bytes_.get(); }
  uint8_t* Bytes() { return bytes_.get(); }
  uint32_t Size() const { return size_; }

  uint16_t FormatTag() const { return U16(0); }
  uint16_t Channels() const { return U16(2); }
  uint32_t SampleRate() const { return U32(4); }
  uint32_t AvgBytesPerSec() const { return U32(8); }
  uint16_t BlockAlign() const { return U16(12); }
  uint16_t BitsPerSample() const { return U16(14); }
  uint16_t ExtensionSize() const { return U16(16); }
  // Extensible fields: zero where the record is too short to hold them.
  uint16_t ValidBitsPerSample() const { return U16(18); }
  uint32_t ChannelMask() const { return U32(20); }
  // The 16 GUID bytes at offset 24, or null when the record is shorter than 40.
  const uint8_t* SubFormat() const { return size_ >= 40 ? bytes_.get() + 24 : nullptr; }

  void SetU16(uint32_t offset, uint16_t value);
  void SetU32(uint32_t offset, uint32_t value);

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  uint16_t U16(uint32_t offset) const;
  uint32_t U32(uint32_t offset) const;

  std::unique_ptr<uint8_t[], FreeDeleter> bytes_;
  uint32_t size_ = 0;
};

// a × b ÷ c with a 64-bit product; 0xFFFFFFFF when the quotient does not fit in
// 32 bits, which includes c = 0 (never divides by zero).
uint32_t MulDivSaturate(uint32_t a, uint32_t b, uint32_t c);

// Frames per codec block: block align × sample rate ÷ average bytes per second.
// Exactly 1 for PCM, float and extensible files with a consistent header.
uint32_t FramesPerBlock(const WaveFormat& format);

// (data size ÷ block align, rounded down) × frames per block; 0 for block align 0.
uint32_t TotalFrames(const WaveFormat& format, uint32_t dataSize);

// The duration shown: whole seconds and tenths, both rounded down; 0 for rate 0.
uint32_t DurationSeconds(uint32_t totalFrames, uint32_t sampleRate);
uint32_t DurationTenths(uint32_t totalFrames, uint32_t sampleRate);

// frames × average bytes per second ÷ sample rate in 64 bits, low 32 bits kept,
// rounded down to a whole block. 0 for rate 0.
uint32_t FramesToByteOffset(const WaveFormat& format, uint32_t frames);

// Low 32 bits of frames × 1000 ÷ sample rate. 0 for rate 0.
uint32_t FramesToMilliseconds(uint32_t frames, uint32_t sampleRate);

// Arbitrary bytes through the WAVE chunk walk, then the format-tag name and the
// derived quantities of whatever it accepted, and the volume on both kernel paths
// over the audio bytes the input holds, in a buffer of exactly their length.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsp/cpu_path.h"
#include "dsp/gain.h"
#include "dsp/sample_format.h"
#include "sources/format_tags.h"
#include "sources/wave_source.h"

namespace {

class FuzzSource : public ByteSource {
 public:
  FuzzSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Read(void* buffer, uint32_t count) override {
    const uint64_t available = position_ < size_ ? size_ - position_ : 0;
    const uint32_t n = count < available ? count : static_cast<uint32_t>(available);
    if (n) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
  }
  uint64_t Seek(uint32_t position) override { return position_ = position; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;
};

volatile uint32_t sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSource source(data, size);
  WaveSource wave;
  if (ReadWaveSource(source, wave) != WaveReadResult::Ok) return 0;
  const WaveFormat& f = wave.format;
  if (f.IsEmpty() || f.BlockAlign() == 0 || f.SampleRate() == 0) __builtin_trap();
  sink = static_cast<uint32_t>(std::strlen(FormatTagName(f.FormatTag())));
  sink = FramesPerBlock(f) + TotalFrames(f, wave.dataSize);
  sink = DurationSeconds(wave.totalFrames, f.SampleRate()) +
         DurationTenths(wave.totalFrames, f.SampleRate());
  sink = FramesToByteOffset(f, wave.totalFrames) + FramesToMilliseconds(wave.totalFrames, f.SampleRate());
  sink = f.ValidBitsPerSample() + f.ChannelMask() + f.ExtensionSize();
  if (const uint8_t* guid = f.SubFormat()) sink = guid[15];
  // Every byte of the record is readable.
  uint32_t sum = 0;
  for (uint32_t i = 0; i < f.Size(); ++i) sum += f.Bytes()[i];
  sink = sum;
  SampleFormat parsed;
  if (ParseSampleFormat(f, parsed)) sink = static_cast<uint32_t>(SampleKindOf(parsed));
  const size_t available = wave.dataOffset < size ? size - wave.dataOffset : 0;
  const uint32_t length = static_cast<uint32_t>(available < wave.dataSize ? available : wave.dataSize);
  for (DspPath path : {DspPath::X87, DspPath::Sse2, DspPath::Ssse3}) {
    if (!SelectDspPathForTesting(path)) continue;
    std::vector<uint8_t> buffer(data + wave.dataOffset, data + wave.dataOffset + length);
    ApplyGain(GainFromVolume(-61), f, buffer.data(), length);
  }
  return 0;
}

// The WAVE file a converter still writes.
#include "sources/growing_file.h"

#include "dsp/wave_format.h"

// The data bytes written so far, whole blocks only.
uint32_t WrittenDataBytes(HANDLE file, const WaveFormat& format, uint32_t dataOffset) {
  LARGE_INTEGER size{};
  const uint32_t block = format.BlockAlign();
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= dataOffset || block == 0) return 0;
  uint64_t written = static_cast<uint64_t>(size.QuadPart) - dataOffset;
  if (written > 0xFFFFFFFFu) written = 0xFFFFFFFFu;
  return static_cast<uint32_t>(written - written % block);
}

// The data size of a file a converter still writes: the source's length as the
// converter described it, or what is written already when that is more.
uint32_t GrowingDataSize(HANDLE file, const WaveFormat& format, uint32_t dataOffset, uint32_t durationMs) {
  const uint32_t written = WrittenDataBytes(file, format, dataOffset);
  const uint32_t frames = MulDivSaturate(durationMs, format.SampleRate(), 1000);
  const uint64_t described = uint64_t{frames} * format.BlockAlign();
  const uint32_t length = described > 0xFFFFFFFFu ? 0xFFFFFFFFu - 0xFFFFFFFFu % format.BlockAlign()
                                                   : static_cast<uint32_t>(described);
  return length > written ? length : written;
}

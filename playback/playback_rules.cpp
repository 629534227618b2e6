// The playback's platform-free arithmetic.
#include "playback/playback_rules.h"

#include "sources/wave_source.h"

uint32_t BufferBytes(uint32_t avgBytesPerSec, uint32_t blockAlign, uint32_t milliseconds) {
  if (blockAlign == 0) return 0;
  const uint64_t bytes = MulDivSaturate(avgBytesPerSec, milliseconds, 1000);
  const uint64_t rounded = blockAlign * ((blockAlign + bytes - 1) / blockAlign);
  return rounded > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(rounded);
}

uint32_t SkipBackTarget(uint32_t position, uint32_t sampleRate) {
  const uint64_t step = static_cast<uint64_t>(kSkipSeconds) * sampleRate;
  if (step == 0 || position < step) return 0;
  uint64_t target = position / step * step;
  if (position - target < sampleRate && target >= step) target -= step;
  return static_cast<uint32_t>(target);
}

uint32_t SkipForwardTarget(uint32_t position, uint32_t sampleRate) {
  const uint64_t step = static_cast<uint64_t>(kSkipSeconds) * sampleRate;
  if (step == 0) return position;
  const uint64_t target = step * (position / step + 1);
  return target > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(target);
}

uint32_t PlayingByte(uint32_t dataSize, uint32_t remainingBytes, uint32_t bytesQueued,
                     uint32_t playedBytes) {
  uint32_t read = dataSize - remainingBytes;
  if (read > dataSize) read = dataSize;
  const uint32_t queued = bytesQueued - playedBytes;
  if (read >= queued) return read - queued;
  if (dataSize == 0) return 0;
  // Taken modulo the data size once more: with a short file more than a whole pass
  // may be queued, and the sounding byte must still lie inside the data.
  return (read + dataSize - queued % dataSize) % dataSize;
}

bool TempoFromField(bool checked, bool isNumber, uint32_t bpm, uint32_t minimum,
                    uint32_t maximum, uint32_t* tempoX1000) {
  *tempoX1000 = 0;
  if (!checked || !isNumber || bpm == 0) return true;
  if (bpm < minimum || bpm > maximum) return false;
  *tempoX1000 = bpm * 1000;
  return true;
}

// The REX render driver: one pass of the loop through the library's preview
// renderer, 64 frames at a time, into memory, then out as a 16-bit WAVE file.
#include "rex/rex_render.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The longest REX path that still leaves room for ".NNN.wav" and the terminator.
constexpr size_t kRexPathMax = 252;
constexpr uint32_t kWaveHeaderBytes = 44;
// A RIFF file states its size in 32 bits: 36 header bytes plus the data must fit.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kWaveHeaderBytes - 8);
// Samples are converted through a small stack block and written a block at a time.
constexpr uint32_t kWriteBlockFrames = 1024;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// "id" followed by a 32-bit little-endian value, written where the stream is.
bool WriteTag(FILE* out, const char id[4], uint32_t value) {
  uint8_t b[8];
  std::memcpy(b, id, 4);
  PutU32(b + 4, value);
  return std::fwrite(b, 1, sizeof b, out) == sizeof b;
}

// Returns the number of data bytes written.
uint64_t WriteSamples(FILE* out, uint32_t frames, int32_t channelCount, float* const channels[2],
                      bool& ok) {
  if (channelCount != 1 && channelCount != 2) return 0;
  uint8_t block[kWriteBlockFrames * 2 * 2];
  uint64_t written = 0;
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = frames - done < kWriteBlockFrames ? frames - done : kWriteBlockFrames;
    uint8_t* p = block;
    for (uint32_t i = done; i < done + n; ++i) {
      for (int32_t c = 0; c < channelCount; ++c, p += 2) {
        PutU16(p, static_cast<uint16_t>(FloatToPcm16(channels[c][i])));
      }
    }
    const size_t bytes = static_cast<size_t>(p - block);
    const size_t put = std::fwrite(block, 1, bytes, out);
    written += put;
    if (put != bytes) {
      ok = false;
      break;
    }
    done += n;
  }
  return written;
}

}  // namespace

int16_t FloatToPcm16(float sample) {
  if (sample >= 1.0f) return 32767;
  if (sample <= -1.0f) return -32768;
  if (std::isnan(sample)) return 0;
  // The product of a float and 32767 is exact in double, so the truncation is too,
  // whatever precision the floating-point unit keeps.
  return static_cast<int16_t>(static_cast<double>(sample) * 32767.0);
}

int64_t RexFrameCount(int32_t rate, int32_t length, int32_t tempo, int32_t channels) {
  if (rate <= 0 || tempo <= 0 || length < 0 || (channels != 1 && channels != 2)) return -1;
  const double frames = static_cast<double>(rate) * 1000.0 * static_cast<double>(length) /
                        (static_cast<double>(tempo) * 256.0);
  const double maxFrames = static_cast<double>(kMaxDataBytes / (2u * channels));
  if (!(frames <= maxFrames)) return -1;
  return static_cast<int64_t>(frames);
}

bool FormatRexOutputName(char* out, size_t size, const char* rexPath, uint32_t tempo) {
  if (std::strlen(rexPath) >= kRexPathMax) return false;
  // In 64 bits: a tempo near the top of the range must not wrap to a small number.
  const uint64_t bpm = (static_cast<uint64_t>(tempo) + 500) / 1000;
  const int n = std::snprintf(out, size, "%s.%3u.wav", rexPath, static_cast<unsigned>(bpm));
  return n > 0 && static_cast<size_t>(n) < size;
}

bool WriteWave16(FILE* out, int32_t rate, uint32_t frames, int32_t channelCount,
                 float* const channels[2]) {
  bool ok = true;
  const long fileStart = std::ftell(out);
  if (fileStart < 0) return false;

  uint8_t fmt[24];
  std::memcpy(fmt, "fmt ", 4);
  PutU32(fmt + 4, 16);
  PutU16(fmt + 8, 1);  // PCM
  PutU16(fmt + 10, static_cast<uint16_t>(channelCount));
  PutU32(fmt + 12, static_cast<uint32_t>(rate));
  PutU32(fmt + 16, static_cast<uint32_t>(channelCount * 16) * static_cast<uint32_t>(rate) / 8);
  PutU16(fmt + 20, static_cast<uint16_t>(channelCount * 2));
  PutU16(fmt + 22, 16);
  ok = WriteTag(out, "RIFF", 0) && std::fwrite("WAVE", 1, 4, out) == 4 &&
       std::fwrite(fmt, 1, sizeof fmt, out) == sizeof fmt;

  const long dataStart = fileStart + 36;
  ok = ok && WriteTag(out, "data", 0);
  // The sizes come from what was actually written; the stream's end position is
  // not asked for, since a long cannot hold it for files above 2 GiB on Windows.
  const uint64_t dataBytes = ok ? WriteSamples(out, frames, channelCount, channels, ok) : 0;
  const uint32_t dataSize = static_cast<uint32_t>(dataBytes);

  ok = ok && std::fseek(out, dataStart, SEEK_SET) == 0 && WriteTag(out, "data", dataSize) &&
       std::fseek(out, 0, SEEK_END) == 0;
  const uint32_t riffSize = dataSize + 8 + 28;
  ok = ok && std::fseek(out, fileStart, SEEK_SET) == 0 && WriteTag(out, "RIFF", riffSize) &&
       std::fseek(out, 0, SEEK_END) == 0;
  return ok;
}

int32_t RenderRexLoop(const RexEntryTable* entries, const char* rexPath, const char* outputPath,
                      RexHandle handle, uint32_t tempo, int32_t rate) {
  if (!entries || !entries->getInfo) return kRexRenderNotLoaded;
  RexInfo info{};
  int32_t result = entries->getInfo(handle, sizeof info, &info);
  if (result != kRexOk) return result;

  // A loop whose numbers give no sensible length, or a channel layout the
  // two-pointer pair cannot carry, has no render buffer that the library could
  // safely write into.
  const int32_t signedTempo = tempo > 0x7FFFFFFFu ? -1 : static_cast<int32_t>(tempo);
  const int64_t frameCount = RexFrameCount(rate, info.length, signedTempo, info.channels);
  if (frameCount < 0) return kRexRenderNoMemory;
  const uint32_t frames = static_cast<uint32_t>(frameCount);
  const uint64_t bufferBytes = static_cast<uint64_t>(frames) * info.channels * sizeof(float);
  if (bufferBytes > SIZE_MAX) return kRexRenderNoMemory;
  // At least one byte, so an empty loop still has a buffer to point at.
  std::unique_ptr<float, FreeDeleter> buffer(
      static_cast<float*>(std::malloc(bufferBytes ? static_cast<size_t>(bufferBytes) : 1)));
  if (!buffer) return kRexRenderNoMemory;
  float* const channel0 = buffer.get();
  float* const channel1 = info.channels == 2 ? channel0 + frames : nullptr;

  if (!entries->setPreviewTempo) return kRexRenderNotLoaded;
  result = entries->setPreviewTempo(handle, signedTempo);
  if (result != kRexOk) return result;
  if (!entries->startPreview) return kRexRenderNotLoaded;
  result = entries->startPreview(handle);
  if (result != kRexOk) return result;

  if (!entries->renderPreviewBatch) return kRexRenderNotLoaded;
  for (uint32_t done = 0; done != frames;) {
    const uint32_t n = frames - done < kRexBatchFrames ? frames - done : kRexBatchFrames;
    float* pair[2] = {channel0 + done, channel1 ? channel1 + done : nullptr};
    result = entries->renderPreviewBatch(handle, static_cast<int32_t>(n), pair);
    if (result != kRexOk) return result;
    done += n;
  }

  if (!entries->stopPreview) return kRexRenderNotLoaded;
  result = entries->stopPreview(handle);
  if (result != kRexOk) return result;
  // The library expects one batch after the stop; what it renders is thrown away.
  float scratch0[kRexBatchFrames];
  float scratch1[kRexBatchFrames];
  float* scratch[2] = {scratch0, scratch1};
  result = entries->renderPreviewBatch(handle, kRexBatchFrames, scratch);
  if (result != kRexOk) return result;

  char generated[kRexPathBufferSize];
  const char* name = outputPath;
  if (outputPath && *outputPath) {
    if (std::strlen(outputPath) >= kRexPathBufferSize) return kRexRenderBadOutput;
  } else {
    if (!FormatRexOutputName(generated, sizeof generated, rexPath, tempo)) {
      return kRexRenderBadOutput;
    }
    name = generated;
  }

  FILE* out = std::fopen(name, "wb");
  if (!out) return kRexRenderBadOutput;
  float* const planes[2] = {channel0, channel1};
  const bool written = WriteWave16(out, rate, frames, info.channels, planes);
  const bool closed = std::fclose(out) == 0;
  return written && closed ? kRexRenderOk : kRexRenderBadOutput;
}

// The player's platform-free arithmetic and texts.
#include "player/playback_rules.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "player/source_stream.h"
#include "player/wave_source.h"

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (Lower(*a) != Lower(*b)) return false;
  }
  return *a == *b;
}

void CopyCut(char* to, const char* from, size_t length, size_t capacity) {
  if (capacity == 0) return;
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(to, from, length);
  to[length] = '\0';
}

constexpr uint32_t kMsPerHour = 3600000;
constexpr uint32_t kMsPerMinute = 60000;
constexpr uint32_t kSecondsPerHour = 3600;

}  // namespace

FileKind FileKindOfExtension(const char* extension) {
  if (EqualNoCase(extension, ".rx2") || EqualNoCase(extension, ".rex")) return FileKind::Rex;
  if (std::strlen(extension) >= 4 && extension[0] == '.' && Lower(extension[1]) == 'm' &&
      (Lower(extension[2]) == 'p' || Lower(extension[3]) == 'a')) {
    return FileKind::Converted;
  }
  return IsConvertedExtension(extension) ? FileKind::Converted : FileKind::Wave;
}

void SplitFileName(const char* path, char* name, char* extension, size_t capacity) {
  const char* start = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') start = p + 1;
  }
  const char* dot = std::strrchr(start, '.');
  const char* end = dot ? dot : start + std::strlen(start);
  CopyCut(name, start, static_cast<size_t>(end - start), capacity);
  CopyCut(extension, end, std::strlen(end), capacity);
}

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

void FormatTimeText(char* text, size_t capacity, uint32_t t, uint32_t totalFrames,
                    uint32_t sampleRate) {
  const uint32_t hours = t / kMsPerHour;
  const uint32_t minutes = t % kMsPerHour / kMsPerMinute;
  const uint32_t seconds = t % kMsPerMinute / 1000;
  const uint32_t tenths = t % 1000 / 100;
  const uint32_t fileSeconds = sampleRate ? totalFrames / sampleRate : 0;
  if (fileSeconds > kSecondsPerHour) {
    std::snprintf(text, capacity, "%u:%02u'%02u.%u", hours, minutes, seconds, tenths);
  } else {
    std::snprintf(text, capacity, "%02u'%02u.%u", minutes, seconds, tenths);
  }
}

void FormatVolumeText(char* text, size_t capacity, int32_t v) {
  const char* sign = v < 0 ? "-" : v > 0 ? "+" : "";
  const uint32_t magnitude = v < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(v))
                                   : static_cast<uint32_t>(v);
  std::snprintf(text, capacity, "%s%u.%udB", sign, magnitude / 10, magnitude % 10);
}

void FormatClockText(char* text, size_t capacity, uint32_t t) {
  std::snprintf(text, capacity, "%02u:%02u:%02u.%03u", t / kMsPerHour, t % kMsPerHour / kMsPerMinute,
                t % kMsPerMinute / 1000, t % 1000);
}

void FormatLinePrefix(char* text, size_t capacity, bool isRex, uint32_t tempoX1000,
                      const char* convertedExtension) {
  if (isRex) {
    std::snprintf(text, capacity, "REX: %ubpm ", (tempoX1000 + 500) / 1000);
  } else if (convertedExtension && *convertedExtension) {
    std::snprintf(text, capacity, "%.9s -> ", convertedExtension);
  } else if (capacity) {
    text[0] = '\0';
  }
}

void FormatLine(char* text, size_t capacity, const char* prefix, const char* tagName,
                uint32_t sampleRate, uint32_t bitsPerSample, uint32_t channels,
                uint32_t totalFrames) {
  std::snprintf(text, capacity, "%s%s %luHz %ubit %uch (%lusamples %lu.%usecs)", prefix, tagName,
                static_cast<unsigned long>(sampleRate), bitsPerSample, channels,
                static_cast<unsigned long>(totalFrames),
                static_cast<unsigned long>(DurationSeconds(totalFrames, sampleRate)),
                DurationTenths(totalFrames, sampleRate));
}

bool TempoFromField(bool checked, bool isNumber, uint32_t bpm, uint32_t minimum,
                    uint32_t maximum, uint32_t* tempoX1000) {
  *tempoX1000 = 0;
  if (!checked || !isNumber || bpm == 0) return true;
  if (bpm < minimum || bpm > maximum) return false;
  *tempoX1000 = bpm * 1000;
  return true;
}

bool ConverterCommandLine(char* text, size_t capacity, const char* source, const char* codec, const char* target) {
  const int n = std::snprintf(text, capacity, "%s -y -i \"%s\" -acodec %s \"%s\"", kConverterProgram, source,
                              codec, target);
  return n >= 0 && static_cast<size_t>(n) < capacity;
}

void ConversionTempName(char* text, size_t capacity, uint32_t tick, uint32_t attempt) {
  std::snprintf(text, capacity, "WAV%04X.wav", (tick & 0xFF00u) + attempt);
}

// The main window's platform-free texts.
#include "window/window_texts.h"

#include <cstdio>

#include "sources/wave_source.h"

namespace {

constexpr uint32_t kMsPerHour = 3600000;
constexpr uint32_t kMsPerMinute = 60000;
constexpr uint32_t kSecondsPerHour = 3600;

}  // namespace

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

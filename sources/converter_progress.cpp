// The converter's progress, read from its error output.
#include "sources/converter_progress.h"

#include <cstdio>
#include <cstring>

namespace {

// Reads up to `digits` decimal digits; false when there is none.
bool ReadNumber(const char*& p, uint32_t digits, uint32_t* value) {
  uint32_t v = 0, n = 0;
  while (n < digits && *p >= '0' && *p <= '9') {
    v = v * 10 + static_cast<uint32_t>(*p++ - '0');
    ++n;
  }
  *value = v;
  return n > 0;
}

}  // namespace

bool ParseClockText(const char* text, uint32_t* ms) {
  const char* p = text;
  uint32_t hours, minutes, seconds;
  if (!ReadNumber(p, 6, &hours) || *p++ != ':' || !ReadNumber(p, 2, &minutes) || *p++ != ':' ||
      !ReadNumber(p, 2, &seconds) || minutes > 59 || seconds > 59) {
    return false;
  }
  uint32_t fraction = 0;
  if (*p == '.') {
    ++p;
    uint32_t scale = 100;  // milliseconds per unit of the first fraction digit
    while (*p >= '0' && *p <= '9') {
      fraction += static_cast<uint32_t>(*p++ - '0') * scale;
      scale /= 10;
    }
  }
  // At most 999999 hours: 3.6e12 ms does not fit; such lengths saturate.
  const uint64_t total = ((static_cast<uint64_t>(hours) * 60 + minutes) * 60 + seconds) * 1000 + fraction;
  *ms = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
  return true;
}

void ConverterProgress::Read(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      TakeLine();
    } else if (length_ + 1 < kLineChars) {
      line_[length_++] = c;
    }
  }
}

void ConverterProgress::TakeLine() {
  line_[length_] = '\0';
  length_ = 0;
  // The first "Duration:" is the source's: the output's own comes after, if at all.
  const char* duration = std::strstr(line_, "Duration: ");
  if (duration && !haveDuration_ && ParseClockText(duration + 10, &durationMs_)) haveDuration_ = durationMs_ > 0;
  const char* time = std::strstr(line_, "time=");
  uint32_t done;
  if (time && ParseClockText(time + 5, &done)) doneMs_ = done;
}

int ConverterProgress::Percent() const {
  if (!haveDuration_) return -1;
  if (doneMs_ >= durationMs_) return 100;
  return static_cast<int>(static_cast<uint64_t>(doneMs_) * 100 / durationMs_);
}

void FormatConversionStatus(char* text, size_t capacity, int percent, uint32_t elapsedMs) {
  if (percent >= 0) {
    std::snprintf(text, capacity, "Converting to wav file ... %d %%", percent);
  } else {
    std::snprintf(text, capacity, "Converting to wav file ... %u s", elapsedMs / 1000);
  }
}

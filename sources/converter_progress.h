// How far the outside converter has come, read from what it prints on its error
// output: the source's length ("Duration: 00:03:25.10, ...") once, then the time
// converted so far ("... time=00:01:02.50 ...") on lines ended by a carriage return.
#pragma once

#include <cstddef>
#include <cstdint>

class ConverterProgress {
 public:
  // Takes the next piece of the output as it arrives; lines may be split anywhere.
  void Read(const char* bytes, size_t count);

  // The percentage converted (0 … 100), or -1 while the source's length is unknown.
  int Percent() const;
  uint32_t DurationMs() const { return durationMs_; }
  uint32_t DoneMs() const { return doneMs_; }

 private:
  void TakeLine();

  static constexpr size_t kLineChars = 512;  // longer lines are cut: the fields come early
  char line_[kLineChars] = {};
  size_t length_ = 0;
  uint32_t durationMs_ = 0;
  uint32_t doneMs_ = 0;
  bool haveDuration_ = false;
};

// "HH:MM:SS.ff" (any number of fraction digits, read to the millisecond) at `text`;
// false, with *ms untouched, for anything else, "N/A" included.
bool ParseClockText(const char* text, uint32_t* ms);

// The status line while a file is converted or rendered: "Converting to wav file
// ... 42 %" when the percentage is known, else the whole seconds elapsed, "... 3 s".
void FormatConversionStatus(char* text, size_t capacity, int percent, uint32_t elapsedMs);

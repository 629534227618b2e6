// The texts the main window shows that need nothing of the system: the time,
// volume, clock and format lines.
#pragma once

#include <cstddef>
#include <cstdint>

// The time display's text for `milliseconds` into a file of `totalFrames` at
// `sampleRate`: "%u:%02u'%02u.%u" when the file lasts more than 3600 whole
// seconds, else "%02u'%02u.%u" (minutes, seconds, tenths). `text` holds 32 bytes.
void FormatTimeText(char* text, size_t capacity, uint32_t milliseconds, uint32_t totalFrames,
                    uint32_t sampleRate);
// The volume text "%s%u.%udB": "-48.0dB", "0.0dB", "+12.0dB".
void FormatVolumeText(char* text, size_t capacity, int32_t volumeX10);
// "%02u:%02u:%02u.%03u": hours, minutes, seconds and milliseconds.
void FormatClockText(char* text, size_t capacity, uint32_t milliseconds);

// The prefix of the format line: "REX: %ubpm " with the tempo used rounded to
// whole bpm, "%.9s -> " with a converted file's extension, or empty.
void FormatLinePrefix(char* text, size_t capacity, bool isRex, uint32_t tempoX1000,
                      const char* convertedExtension);
// "%s%s %luHz %ubit %uch (%lusamples %lu.%usecs)".
void FormatLine(char* text, size_t capacity, const char* prefix, const char* tagName,
                uint32_t sampleRate, uint32_t bitsPerSample, uint32_t channels,
                uint32_t totalFrames);

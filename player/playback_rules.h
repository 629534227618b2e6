// The player's arithmetic and texts that need nothing of the system: the file kind
// by extension, the buffer size and count rules, the skip targets, the playing
// byte across a loop rewind, and the time, volume, format and detail texts.
#pragma once

#include <cstddef>
#include <cstdint>

// How a named file is played.
enum class FileKind {
  Wave,       // opened as a WAVE file
  Converted,  // converted to a temporary WAVE file by the outside converter
  Rex,        // a REX loop, rendered to a temporary WAVE file
};

// The kind by the extension (with its dot), compared case-insensitively: ".rx2" and
// ".rex" are REX loops; an extension of at least four characters that begins ".m"
// and has "p" third or "a" fourth (.mp3, .mp4, .mpeg, .m4a, .mka) is converted,
// as is every extension of the converter's table (player/source_stream.h);
// anything else is WAVE.
FileKind FileKindOfExtension(const char* extension);

// The file name and extension of a path, each cut to `capacity` - 1 characters:
// the name runs from the last separator ('\\', '/' or ':') to the last dot after it.
void SplitFileName(const char* path, char* name, char* extension, size_t capacity);

// Bytes of `milliseconds` of audio, rounded up to a whole block:
// block × ((block + MulDivSaturate(avg, ms, 1000) − 1) ÷ block), in 64 bits, and
// 0 when that does not fit in 32 bits (the caller refuses it as too large).
uint32_t BufferBytes(uint32_t avgBytesPerSec, uint32_t blockAlign, uint32_t milliseconds);

// The seconds of one skip.
constexpr uint32_t kSkipSeconds = 5;
// Skip back from frame p: 0 below one step; else the step boundary at or below p,
// one more step back when p lies less than a second past that boundary.
uint32_t SkipBackTarget(uint32_t position, uint32_t sampleRate);
// Skip forward from frame p: the next step boundary above p (may lie past the end).
uint32_t SkipForwardTarget(uint32_t position, uint32_t sampleRate);

// The byte of the data now sounding. `dataSize − remainingBytes` (at most the data
// size) has been read; `bytesQueued − playedBytes` of that is still queued. When
// more is queued than was read since the data's start, the feeder has rewound for
// a loop and the sounding byte lies that much before the end.
uint32_t PlayingByte(uint32_t dataSize, uint32_t remainingBytes, uint32_t bytesQueued,
                     uint32_t playedBytes);

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

// The tempo field's rule for REX loops. Returns false when the box is checked and
// the field holds a non-zero number outside [minimum, maximum]; otherwise true with
// `tempoX1000` the number × 1000, or 0 (the loop's own tempo) for an unchecked box,
// an empty or non-numeric field or 0.
bool TempoFromField(bool checked, bool isNumber, uint32_t bpm, uint32_t minimum,
                    uint32_t maximum, uint32_t* tempoX1000);

// The outside converter, found by name beside the program or on the system's path.
constexpr char kConverterProgram[] = "ffmpeg.exe";
// The converter's command line for `source` and `target`, the output codec given
// ("pcm_s16le", "pcm_s24le", ...); false when it does not fit in `capacity`.
bool ConverterCommandLine(char* text, size_t capacity, const char* source, const char* codec, const char* target);
// The name of attempt `attempt` (0 … 255) at a temporary file for a conversion:
// "WAV%04X.wav" with (tick AND 0xFF00) + attempt.
void ConversionTempName(char* text, size_t capacity, uint32_t tick, uint32_t attempt);

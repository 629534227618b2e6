// The converter's extensions, its stream description and the output codec.
#include "sources/source_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sources/converter_progress.h"

const char* const kConvertedExtensions[] = {
    ".flac", ".ogg", ".oga", ".opus", ".aac", ".wma", ".ape", ".wv", ".aif",
    ".aiff", ".aifc", ".caf", ".tta", ".mka", ".ac3", ".mp2",
};
const size_t kConvertedExtensionCount = sizeof kConvertedExtensions / sizeof kConvertedExtensions[0];

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (Lower(*a) != Lower(*b)) return false;
  }
  return *a == *b;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Copies the token at `from` up to one of `stops` (or the line's end), blanks trimmed.
const char* Token(const char* from, const char* stops, char* out, size_t capacity) {
  while (*from == ' ') ++from;
  size_t n = 0;
  const char* p = from;
  for (; *p && *p != '\n' && *p != '\r' && !std::strchr(stops, *p); ++p) {
    if (n + 1 < capacity) out[n++] = *p;
  }
  while (n > 0 && out[n - 1] == ' ') --n;
  out[n] = '\0';
  return p;
}

uint32_t WidthOfSampleType(const char* type, bool* isFloat) {
  *isFloat = StartsWith(type, "flt") || StartsWith(type, "dbl");
  if (*isFloat) return StartsWith(type, "dbl") ? 64 : 32;
  if (StartsWith(type, "u8")) return 8;
  if (StartsWith(type, "s16")) return 16;
  if (StartsWith(type, "s32")) return 32;
  if (StartsWith(type, "s64")) return 64;
  return 0;
}

void ReadAudioLine(const char* line, SourceStream& s) {
  // codec[ (tag / 0x…)], rate Hz, layout, sample type[ (N bit)][, bitrate]
  const char* p = Token(line, ", (", s.codec, sizeof s.codec);
  while (*p == ' ' || *p == '(') {  // the codec's profile, long name or tag in brackets
    if (*p == ' ') {
      ++p;
      continue;
    }
    p = std::strchr(p, ')');
    if (!p) return;
    ++p;
  }
  char field[64];
  for (int index = 0; *p == ','; ++index) {
    p = Token(p + 1, ",", field, sizeof field);
    if (index == 0) {
      s.sampleRate = static_cast<uint32_t>(std::strtoul(field, nullptr, 10));
    } else if (index == 2) {
      Token(field, " (", s.sampleType, sizeof s.sampleType);
      s.bits = WidthOfSampleType(s.sampleType, &s.isFloat);
      if (const char* figure = std::strchr(field, '(')) {
        const unsigned long bits = std::strtoul(figure + 1, nullptr, 10);
        if (bits > 0 && bits <= 64) s.bits = static_cast<uint32_t>(bits);
      }
    }
  }
  s.found = true;
}

}  // namespace

bool IsConvertedExtension(const char* extension) {
  for (const char* known : kConvertedExtensions) {
    if (EqualNoCase(extension, known)) return true;
  }
  return false;
}

bool BrowseFilter(char* text, size_t capacity) {
  std::string converted = "*.mp?;*.m?a;*.mpeg";
  for (const char* e : kConvertedExtensions) (converted += ";*") += e;
  const std::string entries[][2] = {{"Audio files", "*.wav;*.rx2;*.rex;" + converted},
                                    {"Wave files", "*.wav"},
                                    {"Rex Loop files", "*.rx2;*.rex"},
                                    {"Converted files", converted},
                                    {"All files", "*.*"}};
  // Each entry is its name, which shows its patterns, and the patterns, NUL after
  // each; a second NUL ends the list.
  std::string filter;
  for (const auto& entry : entries) {
    filter += entry[0] + "(" + entry[1] + ")";
    filter += '\0';
    filter += entry[1];
    filter += '\0';
  }
  if (filter.size() + 1 > capacity) return false;
  std::memcpy(text, filter.data(), filter.size());
  text[filter.size()] = '\0';
  return true;
}

SourceStream ParseSourceStream(const char* text) {
  SourceStream s;
  bool haveDuration = false;
  for (const char* line = text; *line;) {
    const char* end = line;
    while (*end && *end != '\n' && *end != '\r') ++end;
    const char* p = line;
    while (p < end && *p == ' ') ++p;
    if (!haveDuration && StartsWith(p, "Duration:")) {
      haveDuration = ParseClockText(p + 9 + (p[9] == ' '), &s.durationMs);
    }
    if (!s.found && StartsWith(p, "Stream #")) {
      if (const char* audio = std::strstr(p, "Audio: ")) {
        if (audio < end) ReadAudioLine(audio + 7, s);
      }
    }
    line = *end ? end + 1 : end;
  }
  return s;
}

bool ReadFlacStreamInfo(const uint8_t* b, size_t count, SourceStream* out) {
  // "fLaC", then a block header of type 0 (STREAMINFO) and length 34.
  if (count < 26 || std::memcmp(b, "fLaC", 4) != 0 || (b[4] & 0x7F) != 0 || b[5] != 0 || b[6] != 0 || b[7] != 34) {
    return false;
  }
  const uint32_t rate = uint32_t{b[18]} << 12 | uint32_t{b[19]} << 4 | b[20] >> 4;
  const uint32_t bits = ((b[20] & 1u) << 4 | b[21] >> 4) + 1;
  const uint64_t frames = uint64_t{b[21] & 0x0Fu} << 32 | uint64_t{b[22]} << 24 | uint64_t{b[23]} << 16 |
                          uint64_t{b[24]} << 8 | b[25];
  if (rate == 0) return false;
  SourceStream s;
  s.found = true;
  std::snprintf(s.codec, sizeof s.codec, "flac");
  std::snprintf(s.sampleType, sizeof s.sampleType, bits > 16 ? "s32" : "s16");
  s.sampleRate = rate;
  s.bits = bits;
  const uint64_t ms = frames * 1000 / rate;
  s.durationMs = ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
  *out = s;
  return true;
}

bool OnlyLossyExtension(const char* extension) {
  static const char* const kLossy[] = {".mp3", ".mp2", ".opus", ".aac", ".ac3"};
  for (const char* known : kLossy) {
    if (EqualNoCase(extension, known)) return true;
  }
  return false;
}

bool IsLosslessCodec(const char* codec) {
  static const char* const kLossless[] = {"flac", "alac", "wavpack", "ape", "tta", "wmalossless"};
  for (const char* known : kLossless) {
    if (std::strcmp(codec, known) == 0) return true;
  }
  return StartsWith(codec, "pcm_");
}

const char* ConverterOutputCodec(const SourceStream& s) {
  if (!s.found || !IsLosslessCodec(s.codec) || s.bits == 0) return "pcm_s16le";
  if (s.isFloat) return "pcm_f32le";
  if (s.bits <= 8) return "pcm_u8";
  if (s.bits <= 16) return "pcm_s16le";
  if (s.bits <= 24) return "pcm_s24le";
  return "pcm_s32le";
}

bool ConverterCommandLine(char* text, size_t capacity, const char* source, const char* codec, const char* target) {
  const int n = std::snprintf(text, capacity, "%s -y -i \"%s\" -acodec %s \"%s\"", kConverterProgram, source,
                              codec, target);
  return n >= 0 && static_cast<size_t>(n) < capacity;
}

void ConversionTempName(char* text, size_t capacity, uint32_t tick, uint32_t attempt) {
  std::snprintf(text, capacity, "WAV%04X.wav", (tick & 0xFF00u) + attempt);
}

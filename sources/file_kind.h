// How a named file is played, by its extension, and the parts of its name.
#pragma once

#include <cstddef>

#include "settings/settings_rules.h"

// How a named file is played.
enum class FileKind {
  Wave,       // opened as a WAVE file
  Converted,  // converted to a temporary WAVE file by the outside converter
  Rex,        // a REX loop, rendered to a temporary WAVE file
};

// The kind by the extension (with its dot), compared case-insensitively: ".rx2" and
// ".rex" are REX loops; an extension of at least four characters that begins ".m"
// and has "p" third or "a" fourth (.mp3, .mp4, .mpeg, .m4a, .mka) is converted,
// as is every extension of the converter's table (sources/source_stream.h);
// anything else is WAVE.
FileKind FileKindOfExtension(const char* extension);

// The file name and extension of a path, each cut to `capacity` - 1 characters:
// the name runs from the last separator ('\\', '/' or ':') to the last dot after it.
void SplitFileName(const char* path, char* name, char* extension, size_t capacity);
// The capacity callers give each part: a whole path's, so that no part is cut.
constexpr size_t kPartChars = kPathCapacity;

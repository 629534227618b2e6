// Names of WAVE format tags for the format line of the main window.
#pragma once

#include <cstddef>
#include <cstdint>

struct FormatTagRow {
  uint16_t tag;
  const char* name;
};

// The registered format-tag constants without their common prefix, searched from
// the top: where two rows share a tag (0x0011) the first one names it.
extern const FormatTagRow FormatTagNames[];
extern const size_t FormatTagNameCount;

// The name of a format tag, or "UNKNOWN" for a tag no row holds (0xFFFE included).
const char* FormatTagName(uint16_t tag);

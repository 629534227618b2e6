// Formats a packed file version.
#include "app/version_text.h"

#include <cstdio>

std::string VersionText(uint64_t version) {
  char text[4 * 5 + 3 + 1];  // four parts of at most 65535 and three dots
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>((version >> 48) & 0xFFFF),
                static_cast<unsigned>((version >> 32) & 0xFFFF), static_cast<unsigned>((version >> 16) & 0xFFFF),
                static_cast<unsigned>(version & 0xFFFF));
  return text;
}

// Lengths and cuts of narrow texts by characters, not bytes.
#include "win32/narrow_text.h"

namespace {

UINT ResolvedPage(UINT codePage) { return codePage == CP_ACP ? GetACP() : codePage; }

// The byte after the character at `at`, and in `units` how many UTF-16 units it
// makes: a UTF-8 sequence of four bytes is a surrogate pair, anything else one.
size_t NextCharacter(const char* text, size_t at, UINT page, size_t* units) {
  size_t next = at + 1;
  if (page == CP_UTF8) {
    while ((static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
  } else if (IsDBCSLeadByteEx(page, static_cast<BYTE>(text[at])) && text[next] != '\0') {
    ++next;
  }
  *units = page == CP_UTF8 && next - at == 4 ? 2 : 1;
  return next;
}

}  // namespace

size_t Utf16Units(const char* text, UINT codePage) {
  if (!text || !*text) return 0;
  const int units = MultiByteToWideChar(ResolvedPage(codePage), 0, text, -1, nullptr, 0);
  return units > 0 ? static_cast<size_t>(units - 1) : 0;
}

bool NarrowPathFits(const char* path, UINT codePage) { return Utf16Units(path, codePage) < MAX_PATH; }

size_t WholeCharacterPrefix(const char* text, size_t maxBytes, UINT codePage) {
  if (!text) return 0;
  const UINT page = ResolvedPage(codePage);
  size_t kept = 0;
  size_t units = 0;
  for (size_t at = 0; text[at] != '\0';) {
    const size_t next = NextCharacter(text, at, page, &units);
    if (next > maxBytes) break;
    kept = at = next;
  }
  return kept;
}

void CutToPathLimit(char* text, UINT codePage) {
  if (!text) return;
  const UINT page = ResolvedPage(codePage);
  size_t total = 0;
  size_t at = 0;
  while (text[at] != '\0') {
    size_t units = 0;
    const size_t next = NextCharacter(text, at, page, &units);
    if (total + units >= MAX_PATH) break;
    total += units;
    at = next;
  }
  text[at] = '\0';
}

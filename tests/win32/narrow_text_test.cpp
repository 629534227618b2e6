// Narrow texts counted and cut by characters: in UTF-8, where the program runs, and
// in the double-byte and single-byte pages of systems that ignore its manifest.
// Every case names its code page, so the process's own page does not matter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win32/narrow_text.h"

namespace {

const std::string kJapaneseUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本: 3 bytes a character
const std::string kNoteUtf8 = "\xF0\x9F\x8E\xB5";              // a surrogate pair in UTF-16
const std::string kJapanese932 = "\x93\xFA\x96\x7B";          // 日本: 2 bytes a character
// A double-byte character whose second byte is a backslash's.
const std::string kSo932 = "\x83\x5C";                           // ソ

std::string Repeat(const std::string& part, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += part;
  return all;
}

// A cut of a caption, a status line or a device name once split a character when
// its byte limit fell inside one.
TEST(WholeCharacterPrefixTest, CutsBeforeACharacterThatWouldNotFitWhole) {
  struct Case {
    const char* what;
    UINT page;
    std::string text;
    size_t maxBytes;
    size_t kept;
  } cases[] = {
      {"UTF-8: room for one character and a part", CP_UTF8, kJapaneseUtf8, 5, 3},
      {"UTF-8: room for both", CP_UTF8, kJapaneseUtf8, 6, 6},
      {"UTF-8: room for less than one", CP_UTF8, kJapaneseUtf8, 2, 0},
      {"UTF-8: a four-byte character", CP_UTF8, "a" + kNoteUtf8 + "b", 4, 1},
      {"UTF-8: ASCII cut anywhere", CP_UTF8, "abcdef", 4, 4},
      {"UTF-8: accents", CP_UTF8, "Caf\xC3\xA9", 4, 3},
      {"932: room for one and a lead byte", 932, kJapanese932, 3, 2},
      {"932: the trail byte of a backslash stays with its lead", 932, "a" + kSo932, 2, 1},
      {"932: both", 932, kJapanese932, 4, 4},
      {"1252: every byte a character", 1252, "Caf\xE9 M\xFCller", 5, 5},
      {"shorter than the limit", CP_UTF8, kJapaneseUtf8, 100, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(WholeCharacterPrefix(c.text.c_str(), c.maxBytes, c.page), c.kept) << c.what;
}

// Paths were limited to 259 bytes: a Japanese path in UTF-8 reached that at 86
// characters, where the system takes 259. A text kept as a path is cut to 259
// units, never inside a character.
TEST(NarrowPathFitsTest, CountsUtf16UnitsNotBytes) {
  struct Case {
    const char* what;
    UINT page;
    std::string path;
    size_t units;
    bool fits;
    size_t cutUnits;  // after CutToPathLimit
  } cases[] = {
      {"UTF-8: 259 three-byte characters", CP_UTF8, "C:\\" + Repeat(kJapaneseUtf8, 128), 259, true, 259},
      {"UTF-8: 260 units", CP_UTF8, "C:\\" + Repeat(kJapaneseUtf8, 128) + "x", 260, false, 259},
      {"UTF-8: a surrogate pair counts two", CP_UTF8, "C:\\" + Repeat(kNoteUtf8, 128), 259, true, 259},
      {"UTF-8: one more pair passes the limit", CP_UTF8, "C:\\" + Repeat(kNoteUtf8, 129), 261, false, 259},
      {"932: 259 double-byte characters", 932, "C:\\" + Repeat(kJapanese932, 128), 259, true, 259},
      {"932: 130 double-byte characters", 932, "C:\\" + Repeat(kJapanese932, 130), 263, false, 259},
      {"1252: 259 bytes", 1252, std::string(259, '\xE9'), 259, true, 259},
      {"1252: 260 bytes", 1252, std::string(260, '\xE9'), 260, false, 259},
      {"empty", CP_UTF8, "", 0, true, 0},
      {"UTF-8: a pair that would end at 260 units is left out", CP_UTF8, "C:" + Repeat(kNoteUtf8, 129), 260, false, 258},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16Units(c.path.c_str(), c.page), c.units) << c.what;
    EXPECT_EQ(NarrowPathFits(c.path.c_str(), c.page), c.fits) << c.what;
    std::string cut = c.path;
    CutToPathLimit(&cut[0], c.page);
    cut.resize(std::strlen(cut.c_str()));
    EXPECT_EQ(Utf16Units(cut.c_str(), c.page), c.cutUnits) << c.what;
    EXPECT_EQ(c.path.compare(0, cut.size(), cut), 0) << c.what << ": a prefix of the text";
  }
}

}  // namespace

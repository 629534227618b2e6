// Which files are converted or rendered, and the parts of a file's name.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "sources/file_kind.h"
#include "sources/source_stream.h"

namespace {

struct KindCase {
  const char* path;
  FileKind kind;
};

TEST(FileKindRule, ExtensionDecidesConverterRexOrWave) {
  const KindCase cases[] = {
      {"C:\\m\\song.MP3", FileKind::Converted}, {"clip.m4a", FileKind::Converted},
      {"movie.mpeg", FileKind::Converted},      {"x.mka", FileKind::Converted},
      {"x.mp4", FileKind::Converted},           {"x.mid", FileKind::Wave},
      {"x.m4v", FileKind::Wave},                {"x.mov", FileKind::Wave},
      {"x.m", FileKind::Wave},                  {"x.mp", FileKind::Wave},
      {"loop.RX2", FileKind::Rex},              {"loop.rex", FileKind::Rex},
      {"a.wav", FileKind::Wave},                {"noextension", FileKind::Wave},
      {"dir.mp3\\plain", FileKind::Wave},       {"x.rx", FileKind::Wave},
      {"A.FLAC", FileKind::Converted},          {"x.Opus", FileKind::Converted},
      {"x.fla", FileKind::Wave},                {"x.flac2", FileKind::Wave},
      {"x.aiff.wav", FileKind::Wave},           {"x.wv", FileKind::Converted},
  };
  for (const KindCase& c : cases) {
    char name[256], ext[256];
    SplitFileName(c.path, name, ext, sizeof name);
    EXPECT_EQ(FileKindOfExtension(ext), c.kind) << c.path;
  }
}

TEST(FileKindRule, EveryExtensionOfTheConvertersTableIsConvertedAndOffered) {
  char filter[1024];
  ASSERT_TRUE(BrowseFilter(filter, sizeof filter));
  std::string patterns;  // the NUL-separated entries, each ended by '|'
  for (const char* p = filter; *p;) {
    const std::string name = p;
    const std::string shown = p += name.size() + 1;
    p += shown.size() + 1;
    EXPECT_EQ(name.substr(name.find('(')), "(" + shown + ")") << "each entry's name shows its patterns";
    patterns += name + "|" + shown + "|";
  }
  for (size_t i = 0; i < kConvertedExtensionCount; ++i) {
    const std::string e = kConvertedExtensions[i];
    std::string upper = e;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FileKindOfExtension(e.c_str()), FileKind::Converted) << e;
    EXPECT_EQ(FileKindOfExtension(upper.c_str()), FileKind::Converted) << upper;
    const bool listed = patterns.find("*" + e + ";") != std::string::npos || patterns.find("*" + e + "|") != std::string::npos;
    EXPECT_TRUE(listed) << e << " in " << patterns;
  }
  EXPECT_EQ(patterns.rfind("All files(*.*)|*.*|"), patterns.size() - 19) << patterns;
  EXPECT_FALSE(BrowseFilter(filter, 40)) << "refused, not cut";
}

TEST(FileKindRule, SplitKeepsNameAndExtensionAndCutsToCapacity) {
  char name[8], ext[8];
  SplitFileName("D:\\Music\\a b.c.wav", name, ext, sizeof name);
  EXPECT_STREQ(name, "a b.c");
  EXPECT_STREQ(ext, ".wav");
  SplitFileName("C:verylongname.extension", name, ext, sizeof name);
  EXPECT_STREQ(name, "verylon");
  EXPECT_STREQ(ext, ".extens");
  SplitFileName("C:\\folder.d\\plain", name, ext, sizeof name);
  EXPECT_STREQ(name, "plain");
  EXPECT_STREQ(ext, "");
}

}  // namespace

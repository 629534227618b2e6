// Format-tag names for the format line.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sources/format_tags.h"

namespace {

TEST(FormatTagName, NamesFromTheTopOfTheTable) {
  struct Case {
    uint16_t tag;
    const char* name;
  };
  const Case cases[] = {
      {0x0000, "UNKNOWN"},   {0x0001, "PCM"},         {0x0003, "IEEE_FLOAT"},
      {0x0011, "DVI_ADPCM"}, {0x0055, "MPEGLAYER3"},  {0xFFFE, "UNKNOWN"},
      {0xFFFF, "DEVELOPMENT"}, {0x1234, "UNKNOWN"},   {0x2001, "DTS2"},
      {0x0010, "OKI_ADPCM"}, {0x1610, "MPEG_HEAAC"},  {0x000C, "UNKNOWN"},
  };
  for (const Case& c : cases) EXPECT_STREQ(FormatTagName(c.tag), c.name) << std::hex << c.tag;
}

TEST(FormatTagName, TableHasItsRowsInAscendingTagOrder) {
  ASSERT_EQ(FormatTagNameCount, 152u);
  std::set<std::string> names;
  for (size_t i = 1; i < FormatTagNameCount; ++i) {
    EXPECT_LE(FormatTagNames[i - 1].tag, FormatTagNames[i].tag) << "row " << i;
  }
  for (size_t i = 0; i < FormatTagNameCount; ++i) names.insert(FormatTagNames[i].name);
  EXPECT_EQ(names.size(), FormatTagNameCount) << "every name is registered once";
  // The one tag with two rows: the later name is never returned.
  EXPECT_STREQ(FormatTagNames[14].name, "IMA_ADPCM");
  EXPECT_EQ(FormatTagNames[14].tag, 0x0011);
}

}  // namespace

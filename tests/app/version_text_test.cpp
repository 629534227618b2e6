// The About box's version text from a packed file version.
#include <gtest/gtest.h>

#include "app/version_text.h"

namespace {

TEST(VersionTextTest, FourPartsMostSignificantFirst) {
  struct Case {
    uint64_t version;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.0.0.0"},
      {0x0001000200030004ull, "1.2.3.4"},
      {0x0003000100040000ull | 15, "3.1.4.15"},
      {0xFFFFFFFFFFFFFFFFull, "65535.65535.65535.65535"},
      {0x8000000000000001ull, "32768.0.0.1"},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionText(c.version), c.text) << std::hex << c.version;
}

}  // namespace

// The digit display's geometry: cell size, row position and bands, truncating at each step.
#include <gtest/gtest.h>

#include "controls/glyph_layout.h"

namespace {

TEST(GlyphLayoutTest, CellsAndBandsForControlSizesAndTextLengths) {
  struct Case {
    int32_t width, height, characters;
    int32_t cellWidth, cellHeight, left, top, bottomBand;
  };
  const Case cases[] = {
      // The player's empty time "--'--.-" in a 90 × 30 control: bands 1, 2, 6 and 7.
      {90, 30, 7, 11, 27, 6, 1, 2},
      // Odd spare width: the extra pixel goes to the right band (15 spare → 7 | 8).
      {92, 30, 7, 11, 27, 7, 1, 2},
      // "1:23'45.6": 201 × 0.9 = 180.9 truncates to 180, 20 per character.
      {201, 40, 9, 20, 36, 10, 2, 2},
      // 16 × 20 glyphs shown at their own size.
      {18, 23, 1, 16, 20, 1, 1, 2},
      // Too narrow for the text: cells of no width, the whole width is band.
      {8, 30, 9, 0, 27, 4, 1, 2},
      {0, 0, 1, 0, 0, 0, 0, 0},
      // A huge client area does not overflow the product.
      {100000, 100000, 1, 90000, 90000, 5000, 5000, 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " n=" << c.characters);
    const GlyphLayout layout = ComputeGlyphLayout(c.width, c.height, c.characters);
    EXPECT_EQ(layout.cellWidth, c.cellWidth);
    EXPECT_EQ(layout.cellHeight, c.cellHeight);
    EXPECT_EQ(layout.left, c.left);
    EXPECT_EQ(layout.top, c.top);
    EXPECT_EQ(layout.bottomBand, c.bottomBand);
    EXPECT_EQ(layout.rowWidth, c.cellWidth * c.characters);
    EXPECT_EQ(c.width - layout.left - layout.rowWidth - layout.left, (c.width - layout.rowWidth) % 2)
        << "the right band is the left band or one wider";
  }
}

}  // namespace

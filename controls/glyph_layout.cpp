// The digit display's geometry in integer arithmetic, truncating at every step.
#include "controls/glyph_layout.h"

namespace {

// 23040 / 100 / 256 = 0.9: the row fills nine tenths of each dimension. Worked in
// 64 bits so that no client size, however absurd, overflows the product.
constexpr int64_t kFillNumerator = 23040;
constexpr int64_t kFillDenominator = 100;
constexpr int kFillShift = 8;

int32_t NinetyPercent(int32_t size) {
  return static_cast<int32_t>((static_cast<int64_t>(size) * kFillNumerator / kFillDenominator) >> kFillShift);
}

}  // namespace

GlyphLayout ComputeGlyphLayout(int32_t width, int32_t height, int32_t characters) {
  GlyphLayout layout{};
  layout.cellWidth = NinetyPercent(width) / characters;
  layout.cellHeight = NinetyPercent(height);
  layout.rowWidth = layout.cellWidth * characters;
  layout.left = (width - layout.rowWidth) / 2;
  layout.top = (height - layout.cellHeight) >> 1;
  layout.bottomBand = height - layout.top - layout.cellHeight;
  return layout;
}

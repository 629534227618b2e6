// Where the digit display puts its row of glyphs: the cell size and the black bands
// around the row, from the control's client size and the number of characters.
#pragma once

#include <cstdint>

struct GlyphLayout {
  int32_t cellWidth;   // each character's share of about 90 % of the width
  int32_t cellHeight;  // about 90 % of the height
  int32_t left;        // x of the first cell; the odd spare pixel goes to the right band
  int32_t top;         // y of every cell
  int32_t rowWidth;    // cellWidth × characters
  int32_t bottomBand;  // height of the black band under the row
};

// width and height of the client area in pixels, characters ≥ 1.
GlyphLayout ComputeGlyphLayout(int32_t width, int32_t height, int32_t characters);

// The glyph images the build draws into the program: size, colours and which
// segments each character lights, read from the resources themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "controls/glyph_display.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kLit = RGB(222, 253, 128);
constexpr COLORREF kUnlit = RGB(0, 66, 0);

struct Image {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  int Count(COLORREF colour, int top, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < width; ++x) n += At(x, y) == colour;
    return n;
  }
};

Image LoadGlyph(char character) {
  Image image;
  const unsigned id = kGlyphBaseId + static_cast<unsigned char>(character);
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap) return image;
  DIBSECTION section{};
  GetObjectA(bitmap, sizeof section, &section);
  image.width = section.dsBm.bmWidth;
  image.height = section.dsBm.bmHeight;
  image.bitsPerPixel = section.dsBm.bmBitsPixel;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> raw(static_cast<size_t>(image.width) * image.height);
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, bitmap, 0, image.height, raw.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(bitmap);
  for (uint32_t p : raw) image.pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  return image;
}

// A point in the middle of each segment a to g of a 16 × 20 glyph.
struct Point {
  int x, y;
};
const Point kSegmentCentres[7] = {{8, 1}, {13, 5}, {13, 14}, {8, 18}, {2, 14}, {2, 5}, {8, 9}};

TEST(GlyphImagesTest, FifteenImagesOf16By20In16ColoursBlackLitAndUnlit) {
  for (char c : std::string(" '-.0123456789:")) {
    SCOPED_TRACE(testing::Message() << "'" << c << "'");
    const Image image = LoadGlyph(c);
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 20);
    EXPECT_EQ(image.bitsPerPixel, 4);
    const int black = image.Count(kBlack, 0, 20);
    const int lit = image.Count(kLit, 0, 20);
    const int unlit = image.Count(kUnlit, 0, 20);
    EXPECT_EQ(black + lit + unlit, 16 * 20) << "no other colour";
    EXPECT_GT(black, 0);
  }
  EXPECT_EQ(LoadGlyph('A').width, 0) << "a letter has no image";
}

TEST(GlyphImagesTest, DigitsLightTheirSegmentsAndShowTheOthersUnlit) {
  struct Case {
    char character;
    const char* lit;  // of "abcdefg"
  };
  const Case cases[] = {{'0', "abcdef"}, {'1', "bc"},     {'2', "abdeg"},   {'3', "abcdg"},
                        {'4', "bcfg"},   {'5', "acdfg"},  {'6', "acdefg"},  {'7', "abc"},
                        {'8', "abcdefg"}, {'9', "abcdfg"}, {'-', "g"},       {' ', ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.character << "'");
    const Image image = LoadGlyph(c.character);
    ASSERT_EQ(image.width, 16);
    for (int s = 0; s < 7; ++s) {
      const bool lit = std::string(c.lit).find(static_cast<char>('a' + s)) != std::string::npos;
      EXPECT_EQ(image.At(kSegmentCentres[s].x, kSegmentCentres[s].y), lit ? kLit : kUnlit)
          << "segment " << static_cast<char>('a' + s);
    }
  }
}

TEST(GlyphImagesTest, MarksAreLitDotsInTheirPlaces) {
  const Image tick = LoadGlyph('\'');
  EXPECT_GT(tick.Count(kLit, 0, 5), 0) << "the minutes mark at the top";
  EXPECT_EQ(tick.Count(kLit, 5, 20), 0);
  const Image stop = LoadGlyph('.');
  EXPECT_GT(stop.Count(kLit, 15, 20), 0) << "the full stop at the bottom";
  EXPECT_EQ(stop.Count(kLit, 0, 15), 0);
  const Image colon = LoadGlyph(':');
  EXPECT_GT(colon.Count(kLit, 0, 10), 0) << "one dot above the middle";
  EXPECT_GT(colon.Count(kLit, 10, 20), 0) << "one below";
  for (const Image* mark : {&tick, &stop, &colon}) EXPECT_EQ(mark->Count(kUnlit, 0, 20), 0);
}

}  // namespace

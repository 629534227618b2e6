// The digit display under Wine: a real static control, painted through its own
// window procedure and read back from the screen. Most cases use a library whose
// glyphs are flat colours, so that every cell and band can be located exactly.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "controls/glyph_display.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kMarker = RGB(255, 0, 255);  // painted before the display, never by it
// The flat test glyphs (tools/make_bitmaps.py --solid).
constexpr COLORREF kMinusColour = RGB(255, 0, 0);
constexpr COLORREF kTickColour = RGB(0, 0, 255);
constexpr COLORREF kStopColour = RGB(0, 255, 0);
constexpr COLORREF kEightColour = RGB(255, 255, 255);

class Picture {
 public:
  Picture(std::vector<COLORREF> pixels, int width, int height)
      : pixels_(std::move(pixels)), width_(width), height_(height) {}
  COLORREF At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  bool operator==(const Picture& other) const { return pixels_ == other.pixels_; }

 private:
  std::vector<COLORREF> pixels_;
  int width_;
  int height_;
};

// What the control shows on the screen now.
Picture Capture(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(control);
  HBITMAP copy = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, copy);
  BitBlt(dc, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<COLORREF> pixels;
  const auto* raw = static_cast<const uint32_t*>(bits);
  for (int i = 0; i < width * height; ++i) {
    pixels.push_back(RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF));
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(copy);
  ReleaseDC(control, screen);
  return Picture(std::move(pixels), width, height);
}

void FillWithMarker(HWND control) {
  HDC dc = GetDC(control);
  RECT client;
  GetClientRect(control, &client);
  HBRUSH brush = CreateSolidBrush(kMarker);
  FillRect(dc, &client, brush);
  DeleteObject(brush);
  ReleaseDC(control, dc);
}

// Sets one pixel of a cached glyph, so that a later paint shows whether that very
// bitmap was reused or the glyph was scaled anew.
void MarkGlyph(HBITMAP glyph) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, glyph);
  SetPixel(dc, 0, 0, kMarker);
  SelectObject(dc, old);
  DeleteDC(dc);
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  return SIZE{info.bmWidth, info.bmHeight};
}

std::string TestsFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

class GlyphDisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    solidGlyphs_ = LoadLibraryA((TestsFolder() + "solid_glyphs.dll").c_str());
    ASSERT_TRUE(solidGlyphs_) << "solid_glyphs.dll beside the test program";
    parent_ = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 20, 20, 400, 200, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(parent_);
  }
  void TearDown() override {
    if (parent_) DestroyWindow(parent_);
    if (solidGlyphs_) FreeLibrary(solidGlyphs_);
  }

  // A borderless static child whose client area is exactly width × height.
  HWND NewControl(int width, int height, const char* text = "") {
    HWND control = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_RIGHT, 10, 10, width, height,
                                   parent_, nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_TRUE(control);
    UpdateWindow(control);
    return control;
  }

  void Show(HWND control, const char* text) {
    SetWindowTextA(control, text);
    UpdateWindow(control);
  }

  HMODULE solidGlyphs_ = nullptr;
  HWND parent_ = nullptr;
};

TEST_F(GlyphDisplayTest, EmptyTimeIn90By30FillsCellsOf11By27WithBands1267) {
  HWND control = NewControl(90, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  FillWithMarker(control);
  Show(control, "--'--.-");

  const Picture picture = Capture(control);
  ASSERT_EQ(picture.Width(), 90);
  ASSERT_EQ(picture.Height(), 30);
  const COLORREF cellColours[7] = {kMinusColour, kMinusColour, kTickColour, kMinusColour,
                                   kMinusColour, kStopColour, kMinusColour};
  int wrong = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 90; ++x) {
      // Bands: 1 row on top, 2 below, 6 columns left, 7 right; cells 11 wide from x = 6.
      const bool inRow = y >= 1 && y < 28 && x >= 6 && x < 83;
      const COLORREF expected = inRow ? cellColours[(x - 6) / 11] : kBlack;
      if (picture.At(x, y) != expected && ++wrong <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << picture.At(x, y) << ", expected "
                      << expected;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  for (int code : {'-', '\'', '.'}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(display->glyphs[code]);
    const SIZE size = BitmapSize(display->glyphs[code]);
    EXPECT_EQ(size.cx, 11);
    EXPECT_EQ(size.cy, 27);
  }
  EXPECT_EQ(display->cellWidth, 11);
  EXPECT_EQ(display->cellHeight, 27);
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, EmptyTextLeavesThePreviousPicture) {
  HWND control = NewControl(90, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  Show(control, "88'88.8");
  const Picture before = Capture(control);
  EXPECT_EQ(before.At(45, 15), kEightColour);

  Show(control, "");
  EXPECT_TRUE(Capture(control) == before);
  char text[8] = "x";
  EXPECT_EQ(GetWindowTextA(control, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  // No text at all is the empty text too.
  SendMessageA(control, WM_SETTEXT, 0, 0);
  UpdateWindow(control);
  EXPECT_TRUE(Capture(control) == before);
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, DrawsOnlyTheCellsWhoseCharacterChangedAtOnce) {
  // 7 characters in 90 × 30: cells 11 wide from x = 6, rows 1 to 27.
  HWND control = NewControl(90, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  struct Step { const char* text; RECT drawn; };
  const Step steps[] = {
      {"00'01.0", {0, 0, 90, 30}},  // from no text: everything
      {"00'01.1", {72, 1, 83, 28}},  // the tenths
      {"00'01.1", {0, 0, 0, 0}},     // the same text: nothing
      {"00'02.0", {50, 1, 83, 28}},  // seconds to tenths, the point between them too
      {"0'02.0", {0, 0, 90, 30}},    // another length: another layout
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.text);
    ValidateRect(control, nullptr);
    FillWithMarker(control);
    SetWindowTextA(control, s.text);
    RECT update{};
    EXPECT_FALSE(GetUpdateRect(control, &update, FALSE)) << "drawn at once, not left to the paint message";
    const Picture drawn = Capture(control);
    int inside = 0, markedInside = 0, markedOutside = 0;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 90; ++x) {
        const POINT p{x, y};
        const bool in = PtInRect(&s.drawn, p) != FALSE;
        inside += in;
        (in ? markedInside : markedOutside) += drawn.At(x, y) == kMarker;
      }
    }
    EXPECT_EQ(markedInside, 0) << "every changed cell drawn";
    EXPECT_EQ(markedOutside, 90 * 30 - inside) << "and nothing else";
    // What was drawn is what a whole repaint shows there.
    InvalidateRect(control, nullptr, FALSE);
    UpdateWindow(control);
    const Picture whole = Capture(control);
    int same = 0;
    for (int y = s.drawn.top; y < s.drawn.bottom; ++y)
      for (int x = s.drawn.left; x < s.drawn.right; ++x) same += drawn.At(x, y) == whole.At(x, y);
    EXPECT_EQ(same, inside);
  }
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, CharactersWithoutAGlyphLeaveTheirCellAsItWas) {
  // 4 characters in 100 × 30: cells of 22 from x = 6.
  HWND control = NewControl(100, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  Show(control, "8888");
  // A letter, and a code above 127 (an unsigned index into the cache).
  Show(control, "-A-\xE9");
  const Picture picture = Capture(control);
  struct Cell {
    int index;
    COLORREF colour;
  };
  const Cell cells[] = {{0, kMinusColour}, {1, kEightColour}, {2, kMinusColour}, {3, kEightColour}};
  for (const Cell& c : cells) {
    SCOPED_TRACE(c.index);
    const int left = 6 + c.index * 22;
    for (int x : {left, left + 11, left + 21}) EXPECT_EQ(picture.At(x, 14), c.colour) << x;
  }
  EXPECT_FALSE(display->glyphs['A']);
  EXPECT_FALSE(display->glyphs[0xE9]);
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, ReadingTheTextBackTruncatesToTheBuffer) {
  HWND control = NewControl(90, 30, "initial");
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  EXPECT_STREQ(display->text, "initial") << "attaching takes the control's text";
  EXPECT_EQ(SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("12'34.5")), TRUE);

  struct Read {
    WPARAM capacity;
    LRESULT count;
    const char* text;
  };
  const Read reads[] = {{0, 0, "untouched"}, {1, 0, ""}, {4, 3, "12'"}, {7, 6, "12'34."},
                        {8, 7, "12'34.5"},   {100, 7, "12'34.5"}};
  for (const Read& r : reads) {
    SCOPED_TRACE(r.capacity);
    char buffer[100] = "untouched";
    EXPECT_EQ(SendMessageA(control, WM_GETTEXT, r.capacity, reinterpret_cast<LPARAM>(buffer)), r.count);
    EXPECT_STREQ(buffer, r.text);
  }
  EXPECT_EQ(SendMessageA(control, WM_GETTEXTLENGTH, 0, 0), 7);

  // Longer than the record holds: the first 1023 characters.
  const std::string longText(2000, '8');
  SetWindowTextA(control, longText.c_str());
  std::vector<char> buffer(4000, 'x');
  EXPECT_EQ(SendMessageA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data())), 1023);
  EXPECT_EQ(std::string(buffer.data()), longText.substr(0, 1023));
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, GlyphsAreScaledOncePerCellSize) {
  HWND control = NewControl(90, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  Show(control, "8-");  // 2 characters: cells of 40 × 27 from x = 5
  MarkGlyph(display->glyphs['8']);
  InvalidateRect(control, nullptr, FALSE);
  UpdateWindow(control);
  EXPECT_EQ(Capture(control).At(5, 1), kMarker) << "the same size paints the cached glyph again";

  // 120 × 40: cells of 54 × 36 from x = 6, y = 2.
  SetWindowPos(control, nullptr, 0, 0, 120, 40, SWP_NOMOVE | SWP_NOZORDER);
  UpdateWindow(control);
  Picture resized = Capture(control);
  EXPECT_EQ(resized.At(6, 2), kEightColour) << "rescaled after the resize";
  for (int code : {'8', '-'}) {
    const SIZE size = BitmapSize(display->glyphs[code]);
    EXPECT_EQ(size.cx, 54);
    EXPECT_EQ(size.cy, 36);
  }
  MarkGlyph(display->glyphs['8']);
  MarkGlyph(display->glyphs['-']);
  Show(control, "-8");
  resized = Capture(control);
  EXPECT_EQ(resized.At(6, 2), kMarker) << "not scaled a second time";
  EXPECT_EQ(resized.At(60, 2), kMarker);
  DetachGlyphDisplay(display);
  delete display;
}

TEST_F(GlyphDisplayTest, DetachGivesTheControlBackWithTheShownText) {
  HWND control = NewControl(90, 30, "before");
  const LONG_PTR ownProc = GetWindowLongPtrA(control, GWLP_WNDPROC);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(display));
  Show(control, "01:23'45.6");
  ASSERT_TRUE(display->memoryDc);
  ASSERT_TRUE(display->glyphs['1']);

  DetachGlyphDisplay(display);
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_WNDPROC), ownProc);
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_USERDATA), 0);
  EXPECT_FALSE(display->memoryDc);
  for (HBITMAP glyph : display->glyphs) EXPECT_FALSE(glyph);
  char text[32] = "";
  GetWindowTextA(control, text, sizeof text);
  EXPECT_STREQ(text, "01:23'45.6") << "the control's own text is now the one shown";
  DetachGlyphDisplay(display);  // a second detach changes nothing
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_WNDPROC), ownProc);
  delete display;
}

TEST_F(GlyphDisplayTest, DestroyingTheAttachedControlReleasesTheRecord) {
  // The control deletes the record itself; the window goes without a fault and the
  // glyph handles it held are no longer GDI objects.
  HWND control = NewControl(90, 30);
  auto* display = new GlyphDisplay();
  AttachGlyphDisplay(display, control, solidGlyphs_);
  Show(control, "8");
  HBITMAP glyph = display->glyphs['8'];
  ASSERT_EQ(GetObjectType(glyph), static_cast<DWORD>(OBJ_BITMAP));
  EXPECT_TRUE(DestroyWindow(control));
  EXPECT_EQ(GetObjectType(glyph), 0u);
  EXPECT_FALSE(IsWindow(control));
}

}  // namespace

// The digit display's window procedure, its painter and its cache of scaled glyphs.
#include "controls/glyph_display.h"

#include <cstring>

#include "controls/glyph_layout.h"
#include "win32/paint_now.h"
#include "win32/scoped_gdi.h"

namespace {

GlyphDisplay* DisplayOf(HWND window) {
  return reinterpret_cast<GlyphDisplay*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Copies at most capacity − 1 characters and a terminating zero; returns the count.
size_t CopyText(char* destination, size_t capacity, const char* source) {
  size_t length = source ? strnlen(source, capacity - 1) : 0;
  std::memcpy(destination, source ? source : "", length);
  destination[length] = '\0';
  return length;
}

void ReleaseGlyphs(GlyphDisplay* display) {
  for (HBITMAP& glyph : display->glyphs) {
    if (glyph) DeleteObject(glyph);
    glyph = nullptr;
  }
}

// A memory context owned for the length of one scaling.
class ScopedMemoryDc {
 public:
  explicit ScopedMemoryDc(HDC compatible) : dc_(CreateCompatibleDC(compatible)) {}
  ~ScopedMemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  ScopedMemoryDc(const ScopedMemoryDc&) = delete;
  ScopedMemoryDc& operator=(const ScopedMemoryDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// The glyph image of one character code stretched to the cell size; none when the
// code has no image or a GDI object cannot be had.
HBITMAP ScaleGlyph(const GlyphDisplay* display, HDC paintDc, unsigned code, int cellWidth, int cellHeight) {
  // 3-D mapping keeps the glyphs right whatever the user's button colours: the
  // images use none of the greys it replaces.
  HBITMAP source = static_cast<HBITMAP>(LoadImageA(display->module, MAKEINTRESOURCEA(display->baseId + code),
                                                   IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  if (!source) return nullptr;
  BITMAP size{};
  GetObjectA(source, sizeof size, &size);
  HBITMAP scaled = CreateCompatibleBitmap(paintDc, cellWidth, cellHeight);
  ScopedMemoryDc from(paintDc);
  ScopedMemoryDc to(paintDc);
  bool drawn = false;
  if (scaled && from.Get() && to.Get()) {
    ScopedSelect selectSource(from.Get(), source);
    ScopedSelect selectScaled(to.Get(), scaled);
    // Half-tone averages the thin segments instead of dropping rows and columns;
    // the brush origin must be set after choosing it.
    SetStretchBltMode(to.Get(), HALFTONE);
    SetBrushOrgEx(to.Get(), 0, 0, nullptr);
    drawn = StretchBlt(to.Get(), 0, 0, cellWidth, cellHeight, from.Get(), 0, 0, size.bmWidth, size.bmHeight,
                       SRCCOPY) != FALSE;
  }
  DeleteObject(source);
  if (!drawn && scaled) {
    DeleteObject(scaled);
    scaled = nullptr;
  }
  return scaled;
}

void DrawGlyph(GlyphDisplay* display, HDC paintDc, unsigned char code, int x, int y, int cellWidth,
               int cellHeight) {
  if (cellWidth != display->cellWidth || cellHeight != display->cellHeight) ReleaseGlyphs(display);
  if (!display->glyphs[code]) {
    display->glyphs[code] = ScaleGlyph(display, paintDc, code, cellWidth, cellHeight);
    if (!display->glyphs[code]) return;
    display->cellWidth = cellWidth;
    display->cellHeight = cellHeight;
  }
  if (!display->memoryDc) display->memoryDc = CreateCompatibleDC(paintDc);
  if (!display->memoryDc) return;
  ScopedSelect select(display->memoryDc, display->glyphs[code]);
  BitBlt(paintDc, x, y, cellWidth, cellHeight, display->memoryDc, 0, 0, SRCCOPY);
}

void FillBand(HDC dc, HBRUSH brush, int left, int top, int right, int bottom) {
  const RECT band{left, top, right, bottom};
  FillRect(dc, &band, brush);
}

// Where character `i` of the row is drawn.
RECT CellRect(const GlyphLayout& layout, int i) {
  return RECT{layout.left + i * layout.cellWidth, layout.top, layout.left + (i + 1) * layout.cellWidth,
              layout.top + layout.cellHeight};
}

// The bands and the cells the dc's clip region shows.
void Draw(GlyphDisplay* display, HDC dc) {
  const int count = static_cast<int>(std::strlen(display->text));
  if (dc && count > 0) {
    RECT client;
    GetClientRect(display->window, &client);
    const int width = client.right;
    const int height = client.bottom;
    const GlyphLayout layout = ComputeGlyphLayout(width, height, count);
    if (!display->backgroundBrush) display->backgroundBrush = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const int belowRow = height - layout.bottomBand;
    FillBand(dc, display->backgroundBrush, 0, 0, width, layout.top);
    FillBand(dc, display->backgroundBrush, 0, belowRow, width, height);
    FillBand(dc, display->backgroundBrush, 0, layout.top, layout.left, belowRow);
    FillBand(dc, display->backgroundBrush, layout.left + layout.rowWidth, layout.top, width, height);
    // A control too small for its text has cells of no size: only the bands show.
    if (layout.cellWidth > 0 && layout.cellHeight > 0) {
      for (int i = 0; i < count; ++i) {
        const RECT cell = CellRect(layout, i);
        if (!RectVisible(dc, &cell)) continue;
        DrawGlyph(display, dc, static_cast<unsigned char>(display->text[i]), cell.left, cell.top, layout.cellWidth,
                  layout.cellHeight);
      }
    }
  }
}

void Paint(GlyphDisplay* display) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(display->window, &paint);
  Draw(display, dc);
  EndPaint(display->window, &paint);
}

LRESULT SetText(GlyphDisplay* display, const char* text) {
  // The same text again (the position timer runs twice per tenth of a second)
  // changes no pixel.
  char copy[sizeof display->text];
  const size_t length = CopyText(copy, sizeof copy, text);
  if (std::strcmp(copy, display->text) == 0) return TRUE;
  // A text of the same length keeps the layout: only the cells whose character
  // changed are repainted (one or two digits per update while playing).
  RECT changed{0, 0, 0, 0};
  RECT client;
  GetClientRect(display->window, &client);
  if (length > 0 && length == std::strlen(display->text)) {
    const GlyphLayout layout = ComputeGlyphLayout(client.right, client.bottom, static_cast<int32_t>(length));
    for (size_t i = 0; i < length; ++i) {
      if (copy[i] == display->text[i]) continue;
      const RECT cell = CellRect(layout, static_cast<int>(i));
      UnionRect(&changed, &changed, &cell);
    }
  } else {
    changed = client;
  }
  std::memcpy(display->text, copy, length + 1);
  // Drawn at once and not erased: the glyphs and bands cover the whole client
  // area, and erasing first would flicker at every position update.
  PaintNow(display->window, changed, [display](HDC dc) { Draw(display, dc); });
  return TRUE;
}

LRESULT GetText(const GlyphDisplay* display, WPARAM capacity, char* buffer) {
  if (capacity == 0 || !buffer) return 0;
  return static_cast<LRESULT>(CopyText(buffer, capacity, display->text));
}

}  // namespace

GlyphDisplay* AttachGlyphDisplay(GlyphDisplay* display, HWND control, HINSTANCE module) {
  std::memset(display, 0, sizeof *display);
  display->module = module;
  display->baseId = kGlyphBaseId;
  display->window = control;
  GetWindowTextA(control, display->text, kGlyphTextCapacity);
  SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(display));
  display->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GlyphDisplayProc)));
  return display;
}

void DetachGlyphDisplay(GlyphDisplay* display) {
  if (!display->window || !display->previousProc) return;
  HWND control = display->window;
  SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(display->previousProc));
  SetWindowLongPtrA(control, GWLP_USERDATA, 0);
  display->previousProc = nullptr;
  display->window = nullptr;
  if (display->memoryDc) DeleteDC(display->memoryDc);
  display->memoryDc = nullptr;
  ReleaseGlyphs(display);
  SetWindowTextA(control, display->text);
}

LRESULT CALLBACK GlyphDisplayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  GlyphDisplay* display = DisplayOf(window);
  if (!display) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_SETTEXT:
      return SetText(display, reinterpret_cast<const char*>(lParam));
    case WM_GETTEXT:
      return GetText(display, wParam, reinterpret_cast<char*>(lParam));
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(std::strlen(display->text));
    case WM_PAINT:
      Paint(display);
      return 0;
    case WM_DESTROY: {
      const LRESULT result = CallWindowProcA(display->previousProc, window, message, wParam, lParam);
      DetachGlyphDisplay(display);
      delete display;
      return result;
    }
    default:
      return CallWindowProcA(display->previousProc, window, message, wParam, lParam);
  }
}

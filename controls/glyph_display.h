// The seven-segment time display: a static control whose window procedure is
// replaced so that it keeps its own copy of the text and paints each character as
// a bitmap glyph, scaled to fill most of the control, on a black background.
#pragma once

#include <windows.h>

#include <cstdint>

// The glyph of character code c is the bitmap resource kGlyphBaseId + c
// (space 28704, apostrophe 28711, minus 28717, full stop 28718, digits 28720 to
// 28729, colon 28730); other characters have none and leave their cell unpainted.
constexpr uint32_t kGlyphBaseId = 0x7000;
constexpr int kGlyphTextCapacity = 1024;  // 1023 characters and the terminating zero
constexpr int kGlyphCodes = 256;

// One per attached control. The owner allocates it zero-filled with
// `new GlyphDisplay()` and frees it with delete after DetachGlyphDisplay; if the
// control is destroyed while attached, the control detaches and deletes it itself.
struct GlyphDisplay {
  HBITMAP glyphs[kGlyphCodes];  // scaled to cellWidth × cellHeight, or none
  HDC memoryDc;                 // created on first draw, kept until detach
  int32_t cellWidth;            // the size the cached glyphs were scaled to
  int32_t cellHeight;
  HINSTANCE module;             // where the glyph images are loaded from
  uint32_t baseId;
  WNDPROC previousProc;
  HWND window;
  char text[kGlyphTextCapacity];
  HBRUSH backgroundBrush;       // the stock black brush, never deleted
};

// Zeroes the record, takes the control's current text and installs GlyphDisplayProc.
GlyphDisplay* AttachGlyphDisplay(GlyphDisplay* display, HWND control, HINSTANCE module);

// Puts the control's own procedure back, releases the glyphs and the memory DC and
// leaves the displayed text as the control's own text. Does nothing when not attached.
void DetachGlyphDisplay(GlyphDisplay* display);

LRESULT CALLBACK GlyphDisplayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

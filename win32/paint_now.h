// Drawing a changed part of a control at once instead of through the paint message.
// A control updated many times a second (the time display, the waveform's split)
// would otherwise go through invalidation, the paint message, BeginPaint and
// EndPaint for each change: several trips to the window manager where one device
// context does. The paint message still paints whatever else needs it.
#pragma once

#include <windows.h>

// Draws `area` of `window` now through `draw(dc)`, clipped to the area: the dc's
// origin is the window's client origin. A hidden window, or one whose device
// context cannot be had, gets the area invalidated instead and paints it when it
// can.
template <typename Draw>
void PaintNow(HWND window, const RECT& area, Draw draw) {
  if (IsRectEmpty(&area)) return;
  HDC dc = IsWindowVisible(window) ? GetDC(window) : nullptr;
  if (!dc) {
    InvalidateRect(window, &area, FALSE);
    return;
  }
  // Controls of the system's static class share their parent's device context:
  // the clip keeps the drawing inside the area, as the update region would.
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
  draw(dc);
  if (saved) RestoreDC(dc, saved);
  ReleaseDC(window, dc);
}

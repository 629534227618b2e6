// The enable rule of dialog controls.
#include "win32/enable_control.h"

void EnableControl(HWND window, int id, bool enable) {
  HWND control = GetDlgItem(window, id);
  if (!control) return;
  if (!enable && GetFocus() == control) {
    // A disabled control keeps the focus and the keyboard would go dead: hand it on
    // first, to the next control in tab order that can take it.
    HWND current = control;
    for (;;) {
      HWND next = GetNextDlgTabItem(window, current, FALSE);
      if (!next || next == current || next == control) break;
      if (IsWindowEnabled(next)) {
        SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
        break;
      }
      current = next;
    }
  }
  EnableWindow(control, enable);
}

// The player's own dialog procedure with a recorder around it, for tests of what the
// main window makes of a start-up file, a hand-over and dropped files. Every message
// goes to MainDialogProc but the Start command, which is recorded with the text of
// the file-name box and not carried out: the files these tests name need not exist,
// and the end-to-end suite plays real ones.
#pragma once

#include <windows.h>

#include <string>

#include "window/main_window.h"
#include "resources/resource_ids.h"

namespace dialogevents {

inline std::string BoxText(HWND window) {
  char text[kPathCapacity] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, kPathCapacity);
  return text;
}

inline std::string TopEntry(HWND window) {
  char text[kPathCapacity] = "";
  if (SendDlgItemMessageA(window, IDC_FILE_NAME, CB_GETLBTEXTLEN, 0, 0) < kPathCapacity) {
    SendDlgItemMessageA(window, IDC_FILE_NAME, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
  }
  return text;
}

inline bool IsStartCommand(UINT message, WPARAM wParam) {
  return message == WM_COMMAND && LOWORD(wParam) == IDC_START;
}

// Hands the message on and says in `event` what it was, when it is one of:
//   "remember <entry>"  message 2024 was handled; <entry> is the history's top entry
//   "start <text>"      the Start command arrived with <text> in the file-name box
// Otherwise `event` is left empty.
inline INT_PTR Observe(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::string& event) {
  event.clear();
  if (IsStartCommand(message, wParam)) {
    event = "start " + BoxText(window);
    return TRUE;
  }
  const INT_PTR result = MainDialogProc(window, message, wParam, lParam);
  if (message == MSG_REMEMBER_FILE) event = "remember " + TopEntry(window);
  return result;
}

}  // namespace dialogevents

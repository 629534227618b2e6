// The main window's template (dialog 101) created modeless with a small procedure of
// the tests' own: the controls and ranges the player's window has, dropped files
// handed to the history code, the remember message (2024) answered as the player
// does, and every Start command recorded with the file-name text it found. The
// player's own dialog procedure is not linked in.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "player/history.h"
#include "player/main_window.h"
#include "resources/resource_ids.h"

class PlayerDialog {
 public:
  PlayerDialog() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterClass();
    window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, Proc,
                                 reinterpret_cast<LPARAM>(this));
  }
  ~PlayerDialog() {
    if (window_) DestroyWindow(window_);
  }
  PlayerDialog(const PlayerDialog&) = delete;
  PlayerDialog& operator=(const PlayerDialog&) = delete;

  HWND Window() const { return window_; }
  HWND Box() const { return GetDlgItem(window_, IDC_FILE_NAME); }
  // The file-name text at each Start command, in order.
  const std::vector<std::string>& Starts() const { return starts_; }
  // "remember <top entry>" and "start <text>" lines, in the order the messages came.
  const std::vector<std::string>& Events() const { return events_; }

  std::vector<std::string> History() const {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageA(Box(), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      const LRESULT length = SendMessageA(Box(), CB_GETLBTEXTLEN, i, 0);
      std::string entry(static_cast<size_t>(length) + 1, '\0');
      SendMessageA(Box(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&entry[0]));
      entry.resize(static_cast<size_t>(length));
      entries.push_back(entry);
    }
    return entries;
  }
  void SetHistory(const std::vector<std::string>& entries) const {
    SendMessageA(Box(), CB_RESETCONTENT, 0, 0);
    for (const std::string& e : entries) SendMessageA(Box(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
  }
  std::string Text() const { return TextOf(IDC_FILE_NAME); }
  std::string TextOf(int id) const {
    char text[1024] = "";
    GetDlgItemTextA(window_, id, text, sizeof text);
    return text;
  }

 private:
  // The template names the player's private class, a copy of the system's dialog class.
  static void RegisterClass() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExA(nullptr, "#32770", &wc)) return;
    wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = PLAYER_WINDOW_CLASS;
    RegisterClassExA(&wc);  // fails harmlessly when an earlier dialog registered it
  }

  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      // The ranges the player's window sets before it loads the settings.
      SendDlgItemMessageA(window, IDC_BUFFER_LENGTH_SPIN, UDM_SETRANGE32, 0, 32767);
      SendDlgItemMessageA(window, IDC_BUFFER_COUNT_SPIN, UDM_SETRANGE32, 0, 99);
      SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_SETRANGE32, 20, 450);
      SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMIN, FALSE, -480);
      SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMAX, TRUE, 120);
      return TRUE;
    }
    auto* self = reinterpret_cast<PlayerDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_START) {
      self->starts_.push_back(self->Text());
      self->events_.push_back("start " + self->Text());
      return TRUE;
    }
    if (message == MSG_REMEMBER_FILE) {
      RememberFile(self->Box(), RememberMode::kMoveToTop);
      const std::vector<std::string> history = self->History();
      self->events_.push_back("remember " + (history.empty() ? std::string() : history.front()));
      return TRUE;
    }
    if (message == WM_DROPFILES) {
      HandleDroppedFiles(window, reinterpret_cast<HDROP>(wParam));
      DragFinish(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    }
    return FALSE;
  }

  HWND window_ = nullptr;
  std::vector<std::string> starts_;
  std::vector<std::string> events_;
};

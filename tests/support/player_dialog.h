// The main window's template (dialog 101) created modeless on the test's thread, with
// one of two procedures:
// - the bare one of the tests' own sets the ranges the player's window sets before it
//   loads the settings and nothing else: for tests of the functions the window calls
//   on its controls (the history, the settings);
// - the player's own, watched by a recorder (support/main_dialog_events.h), with a
//   session and its feeder thread: for tests of what the window makes of dropped
//   files, the remember message (2024) and a start-up file. Its Start commands are
//   recorded with the file-name text they found, and not carried out. The stored
//   settings are forgotten before it starts and after it saved its own.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "engine/feeder.h"
#include "engine/session.h"
#include "window/main_window.h"
#include "resources/resource_ids.h"
#include "support/main_dialog_events.h"

enum class DialogProcedure { kBare, kPlayer };

class PlayerDialog {
 public:
  explicit PlayerDialog(DialogProcedure procedure = DialogProcedure::kBare, const char* startupFile = "")
      : procedure_(procedure), startupFile_(startupFile) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // Fails harmlessly when an earlier dialog of the process registered the class.
    RegisterPlayerWindowClass(GetModuleHandleA(nullptr));
    const HINSTANCE module = GetModuleHandleA(nullptr);
    if (procedure_ == DialogProcedure::kBare) {
      window_ = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, BareProc, 0);
      return;
    }
    ForgetSettings();
    CreatePlayerSession(session_);
    launch_.start.session = &session_;
    launch_.start.startupFile = startupFile_.c_str();
    launch_.self = this;
    window_ = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, PlayerProc,
                                 reinterpret_cast<LPARAM>(&launch_));
  }
  ~PlayerDialog() {
    if (window_) DestroyWindow(window_);
    if (procedure_ == DialogProcedure::kPlayer) {
      DestroyPlayerSession(session_);
      ForgetSettings();
    }
  }
  static void ForgetSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\ZEMBRIXPlayer"); }
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
  // What the player's procedure is started with, the recorder's own pointer after it.
  struct Launch {
    MainWindowStart start{};
    PlayerDialog* self = nullptr;
  };
  static constexpr char kSelf[] = "VexTestPlayerDialog";

  static INT_PTR CALLBACK BareProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    // The ranges the player's window sets before it loads the settings.
    SendDlgItemMessageA(window, IDC_BUFFER_LENGTH_SPIN, UDM_SETRANGE32, 0, 32767);
    SendDlgItemMessageA(window, IDC_BUFFER_COUNT_SPIN, UDM_SETRANGE32, 0, 99);
    SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_SETRANGE32, 20, 450);
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMIN, FALSE, -480);
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMAX, TRUE, 120);
    return TRUE;
  }

  static INT_PTR CALLBACK PlayerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetPropA(window, kSelf, reinterpret_cast<Launch*>(lParam)->self);
    }
    auto* self = static_cast<PlayerDialog*>(GetPropA(window, kSelf));
    if (message == WM_NCDESTROY) RemovePropA(window, kSelf);
    std::string event;
    const INT_PTR result = dialogevents::Observe(window, message, wParam, lParam, event);
    if (self && !event.empty()) {
      self->events_.push_back(event);
      if (dialogevents::IsStartCommand(message, wParam)) self->starts_.push_back(dialogevents::BoxText(window));
    }
    return result;
  }

  DialogProcedure procedure_;
  std::string startupFile_;
  PlayerSession session_{};
  Launch launch_;
  HWND window_ = nullptr;
  std::vector<std::string> starts_;
  std::vector<std::string> events_;
};

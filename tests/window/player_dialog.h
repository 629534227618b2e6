// Runs the main dialog, as the program does (modal, from template 101), on a thread
// of its own, and drives it from the test's thread with window messages. Records
// every text the status line shows, finds and answers the warning boxes it opens.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/feeder.h"
#include "engine/session.h"
#include "window/main_window.h"
#include "support/wave_bytes.h"
#include "win32/scoped_lock.h"

namespace playertest {

// A 16-bit stereo 44.1 kHz WAVE file of pseudo-random samples, different per seed.
inline wavebytes::Bytes NoiseWave(uint32_t frames, uint32_t seed = 1, uint16_t channels = 2) {
  wavebytes::Bytes data(static_cast<size_t>(frames) * 2 * channels);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < data.size(); i += 2) {
    x = x * 1664525u + 1013904223u;
    data[i] = static_cast<uint8_t>(x >> 16);
    data[i + 1] = static_cast<uint8_t>(x >> 24);
  }
  using namespace wavebytes;
  return Riff({Chunk("fmt ", FmtBody(1, channels, 44100, 16)), Chunk("data", data)});
}

// Stores how long a device that went away is waited for, as the settings keep it.
inline bool StoreDeviceWaitSeconds(DWORD seconds) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\ZEMBRIXPlayer\\WaveOutSettings", 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool stored = RegSetValueExA(key, "DeviceWaitSeconds", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seconds),
                                     sizeof seconds) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

// The program runs with its manifest's common controls 6, whose combo box, up-down
// and track bar behave otherwise than the older ones a bare test executable gets:
// the dialog's thread activates the program's manifest, linked into the tests.
inline HANDLE ProgramControlsContext() {
  static const HANDLE context = [] {
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = GetModuleHandleA(nullptr);
    request.lpResourceName = MAKEINTRESOURCEA(3);  // ISOLATIONAWARE_NOSTATICIMPORT_MANIFEST_RESOURCE_ID
    return CreateActCtxA(&request);
  }();
  return context;
}

inline std::vector<std::string>& StatusLog() {
  static std::vector<std::string> log;
  return log;
}
inline std::mutex& StatusLogLock() {
  static std::mutex lock;
  return lock;
}

// Sees every message sent on the dialog's thread; keeps the status line's texts.
inline LRESULT CALLBACK RecordStatus(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_SETTEXT && GetDlgCtrlID(sent->hwnd) == IDC_STATUS &&
      sent->lParam) {
    std::lock_guard<std::mutex> guard(StatusLogLock());
    StatusLog().push_back(reinterpret_cast<const char*>(sent->lParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct MessageBoxSeen {
  std::string caption;
  std::string text;
};

// How a test dialog starts; the defaults are the program's own.
struct DialogOptions {
  const char* startupFile = "";
  // Null: the real feeder thread.
  bool (*startFeeder)(PlayerSession&) = nullptr;
  // Keep the settings the test stored instead of starting from the defaults.
  bool keepSettings = false;
};

class PlayerDialog {
 public:
  explicit PlayerDialog(const char* startupFile = "") : PlayerDialog(Options(startupFile)) {}
  explicit PlayerDialog(const DialogOptions& options)
      : startupFile_(options.startupFile), options_(options) {
    static bool registered = [] {
      INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
      InitCommonControlsEx(&controls);
      // Other tests of this process may have registered the class already.
      WNDCLASSEXA known{};
      known.cbSize = sizeof known;
      return RegisterPlayerWindowClass(GetModuleHandleA(nullptr)) != 0 ||
             GetClassInfoExA(GetModuleHandleA(nullptr), PLAYER_WINDOW_CLASS, &known) != FALSE;
    }();
    EXPECT_TRUE(registered);
    EXPECT_NE(ProgramControlsContext(), INVALID_HANDLE_VALUE) << "the program's manifest, GetLastError " << GetLastError();
    // Every dialog starts from the stored defaults: a previous one saved its own
    // controls when it closed.
    if (!options_.keepSettings) ForgetSettings();
    CreatePlayerSession(session_);
    {
      std::lock_guard<std::mutex> guard(StatusLogLock());
      StatusLog().clear();
    }
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, RecordStatus, nullptr, threadId_);
    // A dialog that gives up while it initialises shows its box instead of itself.
    WaitUntil([&] { return ((window_ = FindDialog()) != nullptr && IsWindowVisible(window_)) || AnyMessageBox(); },
              20000);
  }
  ~PlayerDialog() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(thread_, 30000) != WAIT_OBJECT_0) {
      const MessageBoxSeen box = AnyMessageBox() ? TakeMessageBox() : MessageBoxSeen{};
      ADD_FAILURE() << "the dialog did not end; a box open: [" << box.caption << "] " << box.text;
      WaitForSingleObject(thread_, 30000);
    }
    CloseHandle(thread_);
    if (hook_) UnhookWindowsHookEx(hook_);
    DestroyPlayerSession(session_);
    if (!options_.keepSettings) ForgetSettings();
  }
  // Whether the dialog's thread has ended, as it does when the dialog gave up.
  bool Ended() const { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }
  static void ForgetSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\ZEMBRIXPlayer"); }
  PlayerDialog(const PlayerDialog&) = delete;
  PlayerDialog& operator=(const PlayerDialog&) = delete;

  HWND Window() const { return window_; }
  PlayerSession& Session() { return session_; }
  INT_PTR Result() const { return result_; }

  // A command as a click of the control would send it; waits for its handling.
  void Command(int id, int code = BN_CLICKED) {
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
  }
  // The same, without waiting: for commands that may open a warning box.
  void PostCommand(int id, int code = BN_CLICKED) {
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
  }
  void SetText(int id, const std::string& text) { SetDlgItemTextA(window_, id, text.c_str()); }
  std::string Text(int id) const {
    char text[512] = "";
    GetDlgItemTextA(window_, id, text, sizeof text);
    return text;
  }
  std::string Title() const {
    char text[512] = "";
    GetWindowTextA(window_, text, sizeof text);
    return text;
  }
  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(window_, id)) != FALSE; }
  bool Playing() const { return Enabled(IDC_STOP); }
  void Check(int id, bool checked) {
    SendDlgItemMessageA(window_, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Command(id);
  }

  // Starts the file and waits until it plays (a converted file or a REX loop is
  // prepared first); false when it did not start.
  bool Start(const std::string& path) {
    SetText(IDC_FILE_NAME, path);
    Command(IDC_START);
    WaitUntil([&] { return !Preparing() || AnyMessageBox(); }, 60000);
    return !Preparing() && Playing();
  }
  // Whether a conversion or REX render that a start waits for goes on.
  bool Preparing() const {
    const MainWindow* w = MainWindowOf(window_);
    return w && (*static_cast<PreparationJob* const volatile*>(&w->preparation) != nullptr ||
                 *static_cast<const volatile bool*>(&w->finishingStart));
  }

  uint32_t ResumePosition() {
    ScopedLock lock(session_.lock);
    return MainWindowOf(window_)->resumePosition;
  }
  void SetResumePosition(uint32_t frame) {
    ScopedLock lock(session_.lock);
    MainWindowOf(window_)->resumePosition = frame;
  }

  std::vector<std::string> Statuses() {
    std::lock_guard<std::mutex> guard(StatusLogLock());
    return StatusLog();
  }
  void ClearStatuses() {
    std::lock_guard<std::mutex> guard(StatusLogLock());
    StatusLog().clear();
  }

  // Waits for a warning box of the dialog's thread, reads it and presses OK.
  MessageBoxSeen TakeMessageBox(DWORD timeoutMs = 20000) {
    MessageBoxSeen seen;
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox()) != nullptr; }, timeoutMs);
    if (!box) {
      seen.caption = "<no message box>";
      return seen;
    }
    char text[512] = "";
    GetWindowTextA(box, text, sizeof text);
    seen.caption = text;
    for (int id : {0xFFFF, 100}) {  // the text's control: Windows numbers it one way, Wine another
      if (GetDlgItemTextA(box, id, text, sizeof text) > 0) {
        seen.text = text;
        break;
      }
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); }, 10000);
    return seen;
  }
  bool AnyMessageBox() { return FindMessageBox() != nullptr; }

  static bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(10);
    }
    return true;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    PlayerDialog& d = *static_cast<PlayerDialog*>(self);
    const MainWindowStart start{&d.session_, d.startupFile_.c_str(), d.options_.startFeeder};
    ULONG_PTR cookie = 0;
    const bool activated = ActivateActCtx(ProgramControlsContext(), &cookie) != FALSE;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);  // those of the activated version
    d.result_ = RunMainDialog(GetModuleHandleA(nullptr), start);
    if (activated) DeactivateActCtx(0, cookie);
    return 0;
  }

  struct Search {
    const char* className;
    HWND exclude;
    HWND found;
  };
  static BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    Search& s = *reinterpret_cast<Search*>(parameter);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (window != s.exclude && lstrcmpA(name, s.className) == 0 && IsWindowVisible(window)) {
      s.found = window;
      return FALSE;
    }
    return TRUE;
  }
  HWND FindDialog() const {
    Search s{PLAYER_WINDOW_CLASS, nullptr, nullptr};
    EnumThreadWindows(threadId_, Match, reinterpret_cast<LPARAM>(&s));
    return s.found;
  }
  HWND FindMessageBox() const {
    Search s{"#32770", window_, nullptr};
    EnumThreadWindows(threadId_, Match, reinterpret_cast<LPARAM>(&s));
    return s.found;
  }

  static DialogOptions Options(const char* startupFile) {
    DialogOptions options;
    options.startupFile = startupFile;
    return options;
  }

  std::string startupFile_;
  DialogOptions options_;
  PlayerSession session_{};
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HHOOK hook_ = nullptr;
  HWND window_ = nullptr;
  INT_PTR result_ = -1;
};

// A kernel handle's value: Wine hands out the lowest free slot, so a leak moves it.
inline uintptr_t HandleProbe() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  return reinterpret_cast<uintptr_t>(probe);
}

// The system's own threads (the audio server's, winmm's) take and give back handles
// at any time, so two probes may differ by a few slots without any leak of ours; a
// leak of one handle per cycle moves the probe by 4 per cycle, far more over the
// repeated cycles the tests run.
constexpr uintptr_t kProbeNoise = 16;
inline ::testing::AssertionResult NoHandleLeak(uintptr_t before, uintptr_t after) {
  if (after <= before + kProbeNoise) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the handle probe moved from " << before << " to " << after;
}

// The names in the system's temporary folder that look like the player's own.
inline std::vector<std::string> PlayerTempFiles() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(folder) + "WAV*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

}  // namespace playertest

// The built player started as a process of its own and driven only from outside:
// its command line, window messages to its controls, dropped files, its message
// boxes found among the process's windows, and its window closed at the end. A
// process that does not close in time is ended, so no test leaves one behind.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/support/host_path.h"

namespace e2e {

constexpr char kCaption[] = "ZEMBRIX Player(x86)";
// A 32-bit player through qemu takes most of a minute to show its window.
constexpr DWORD kWindowWaitMs = 120000;
constexpr DWORD kCloseWaitMs = 15000;
constexpr DWORD kPollMs = 20;
// The window's private message that puts the name box's text on top of the history.
constexpr UINT kRememberFileMessage = 2024;

// A file of this suite's build tree (a build-host path), as Wine sees it; with
// VEX_E2E_TREE naming another build tree (a build-host folder, such as the shipped
// i686 tree), that tree's file at the same place: its player, its doubles built for
// its processor, its real converter.
inline std::string TreeFile(const std::string& builtHere) {
  char tree[MAX_PATH] = "";
  const DWORD n = GetEnvironmentVariableA("VEX_E2E_TREE", tree, sizeof tree);
  const std::string here = VEX_BUILD_TREE;
  if (n == 0 || n >= sizeof tree || builtHere.compare(0, here.size(), here) != 0) return WindowsPath(builtHere);
  return WindowsPath(tree + builtHere.substr(here.size()));
}

// The player under test: the one built beside the suite (or in VEX_E2E_TREE), or
// the program that VEX_E2E_PLAYER names (a Windows path).
inline std::string PlayerExe() {
  char named[MAX_PATH] = "";
  const DWORD n = GetEnvironmentVariableA("VEX_E2E_PLAYER", named, sizeof named);
  return n > 0 && n < sizeof named ? std::string(named) : TreeFile(VEX_PLAYER_EXE);
}

inline bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return done();
    Sleep(kPollMs);
  }
}

inline std::string WindowText(HWND window) {
  char text[1024] = "";
  // WM_GETTEXT is marshalled across processes; a time-out keeps a hung player from
  // hanging the suite.
  DWORD_PTR length = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &length);
  return text;
}

inline std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A message box of the player: its caption and its text.
struct MessageBoxSeen {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};

// Puts a folder in front of this process's PATH while it lives, so that a player
// started meanwhile inherits it.
// The folder a file of the build tree lies in, as Wine sees it.
inline std::string FolderOf(const std::string& unixFile) {
  const std::string w = TreeFile(unixFile);
  return w.substr(0, w.find_last_of('\\'));
}

class PathInFront {
 public:
  explicit PathInFront(const std::string& folder) {
    std::string old(32767, '\0');
    old.resize(GetEnvironmentVariableA("PATH", &old[0], static_cast<DWORD>(old.size())));
    old_ = old;
    SetEnvironmentVariableA("PATH", (folder + ";" + old_).c_str());
  }
  ~PathInFront() { SetEnvironmentVariableA("PATH", old_.c_str()); }
  PathInFront(const PathInFront&) = delete;
  PathInFront& operator=(const PathInFront&) = delete;

 private:
  std::string old_;
};

class PlayerProcess {
 public:
  // Starts the player with `arguments` after the program name (empty: none) and
  // waits for its main window; Window() is null when it never appeared.
  explicit PlayerProcess(const std::string& arguments = std::string(), bool waitForWindow = true) {
    // Closing the job ends whatever the suite started, even when the suite itself dies.
    job_ = CreateJobObjectA(nullptr, nullptr);
    if (job_) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    const std::string exe = PlayerExe();
    std::string command = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    startTick_ = GetTickCount();
    if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
      pi_ = PROCESS_INFORMATION{};
      return;
    }
    if (job_) AssignProcessToJobObject(job_, pi_.hProcess);
    if (waitForWindow) WaitForWindow(kWindowWaitMs);
  }
  ~PlayerProcess() {
    if (pi_.hProcess) {
      if (Running()) Close();
      if (Running()) {
        TerminateProcess(pi_.hProcess, 99);
        WaitForSingleObject(pi_.hProcess, kCloseWaitMs);
      }
      CloseHandle(pi_.hThread);
      CloseHandle(pi_.hProcess);
    }
    if (job_) CloseHandle(job_);
  }
  PlayerProcess(const PlayerProcess&) = delete;
  PlayerProcess& operator=(const PlayerProcess&) = delete;

  bool Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  HANDLE Process() const { return pi_.hProcess; }
  DWORD Id() const { return pi_.dwProcessId; }
  HWND Window() const { return window_; }
  DWORD StartTick() const { return startTick_; }
  DWORD ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (pi_.hProcess) GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

  // The player's main window: a visible top-level window of its private class.
  bool WaitForWindow(DWORD ms) {
    WaitUntil([&] {
      window_ = FindOwnWindow(PLAYER_WINDOW_CLASS, nullptr);
      return window_ != nullptr || !Running();
    }, ms);
    return window_ != nullptr;
  }

  std::string Title() const { return WindowText(window_); }
  std::string Text(int id) const { return WindowText(GetDlgItem(window_, id)); }
  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(window_, id)) != FALSE; }
  // The hidden Stop button is enabled exactly while something plays.
  bool Playing() const { return Enabled(IDC_STOP); }
  bool Checked(int id) const { return SendDlgItemMessageA(window_, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

  // What a click on a control tells the window.
  void Command(int id, int code = BN_CLICKED) const {
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
  }
  // Types `path` into the file-name box: the text, then the edit-change notice.
  void TypeFileName(const std::string& path) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(window_, IDC_FILE_NAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &result);
    Command(IDC_FILE_NAME, CBN_EDITCHANGE);
  }
  // Puts `paths` on top of the history in their order, each typed and remembered by
  // the window's private message, and selects the first.
  void ListOnTop(const std::vector<std::string>& paths) const {
    for (size_t i = paths.size(); i-- > 0;) {  // each goes to the top: the first ends there
      TypeFileName(paths[i]);
      DWORD_PTR result = 0;
      SendMessageTimeoutA(window_, kRememberFileMessage, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }
    SendDlgItemMessageA(window_, IDC_FILE_NAME, CB_SETCURSEL, 0, 0);
  }
  // The titles the window shows, each change once, until it shows `last` and play
  // has ended, or `ms` have passed.
  std::vector<std::string> TitlesUntilPlayEndsAt(const std::string& last, DWORD ms) const {
    std::vector<std::string> titles;
    WaitUntil([&] {
      const std::string title = Title();
      if (titles.empty() || titles.back() != title) titles.push_back(title);
      return title == last && !Playing();
    }, ms);
    return titles;
  }
  // Types the path and presses Enter's equivalent, the Start command.
  void Play(const std::string& path) const {
    TypeFileName(path);
    Command(IDC_START);
  }
  void SetVolume(int tenthsDb) const {
    HWND slider = GetDlgItem(window_, IDC_VOLUME);
    SendMessageA(slider, TBM_SETPOS, TRUE, tenthsDb);
    PostMessageA(window_, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, static_cast<WORD>(tenthsDb)),
                 reinterpret_cast<LPARAM>(slider));
  }
  void SetCheck(int id, bool on) const {
    SendDlgItemMessageA(window_, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    Command(id);
  }
  void SelectDevice(int index) const {
    SendDlgItemMessageA(window_, IDC_DEVICE, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Command(IDC_DEVICE, CBN_SELCHANGE);
  }
  std::vector<std::string> History() const {
    std::vector<std::string> entries;
    HWND box = GetDlgItem(window_, IDC_FILE_NAME);
    const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      // Read wide: Wine hands the list text of another process's box over in UTF-16
      // even to the narrow message.
      wchar_t wide[1024] = L"";
      char entry[1024] = "";
      if (SendMessageW(box, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(1024)) {
        SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
        WideCharToMultiByte(CP_ACP, 0, wide, -1, entry, sizeof entry, nullptr, nullptr);
      }
      entries.push_back(entry);
    }
    return entries;
  }

  // Drops `files` on the window as the shell does: a DROPFILES block in the
  // player's own memory, handed over with WM_DROPFILES.
  bool Drop(const std::vector<std::string>& files) const {
    std::vector<char> block(sizeof(DROPFILES));
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.pt = POINT{20, 20};
    std::memcpy(block.data(), &header, sizeof header);
    for (const std::string& f : files) block.insert(block.end(), f.c_str(), f.c_str() + f.size() + 1);
    block.push_back('\0');
    // The drop block is handed over as a global memory handle of the sender's:
    // the system copies it into the receiving process, as it does for a shell drop.
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, block.size());
    if (!memory) return false;
    void* at = GlobalLock(memory);
    std::memcpy(at, block.data(), block.size());
    GlobalUnlock(memory);
    if (!PostMessageA(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0)) {
      GlobalFree(memory);
      return false;
    }
    return true;
  }

  // Whether the window answers a message within a few seconds.
  bool Responsive() const {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
  }

  // Waits for a message box of the player's and reads it; `box.window` is null on time-out.
  MessageBoxSeen WaitForMessageBox(DWORD ms) const {
    MessageBoxSeen box;
    WaitUntil([&] {
      box.window = FindOwnWindow("#32770", window_);
      return box.window != nullptr;
    }, ms);
    if (!box.window) return box;
    box.caption = WindowText(box.window);
    // The message text is the box's static with the identifier 0xFFFF.
    box.text = WindowText(GetDlgItem(box.window, 0xFFFF));
    return box;
  }
  // Presses the OK button of a message box.
  void Dismiss(const MessageBoxSeen& box) const {
    if (!box.window) return;
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitUntil([&] { return !IsWindow(box.window); }, 5000);
  }

  // Closes the window as its close box does; true when the process then ended.
  bool Close() {
    if (!Running()) return true;
    // A message box left open would hold the window's close back.
    for (int i = 0; i < 4; ++i) {
      HWND box = FindOwnWindow("#32770", window_);
      if (!box) break;
      PostMessageA(box, WM_CLOSE, 0, 0);
      WaitUntil([&] { return !IsWindow(box); }, 2000);
    }
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    return WaitForSingleObject(pi_.hProcess, kCloseWaitMs) == WAIT_OBJECT_0;
  }

 private:
  struct Search {
    DWORD process;
    const char* className;
    HWND except;
    HWND found;
  };
  // A visible top-level window of the process with the class, other than `except`.
  HWND FindOwnWindow(const char* className, HWND except) const {
    Search search{pi_.dwProcessId, className, except, nullptr};
    EnumWindows(MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  // A named CALLBACK function: a lambda cannot take the 32-bit stdcall convention.
  static BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM data) {
    auto& s = *reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != s.process || window == s.except || !IsWindowVisible(window)) return TRUE;
    if (ClassOf(window) != s.className) return TRUE;
    s.found = window;
    return FALSE;
  }

  PROCESS_INFORMATION pi_{};
  HANDLE job_ = nullptr;
  HWND window_ = nullptr;
  DWORD startTick_ = 0;
};

}  // namespace e2e

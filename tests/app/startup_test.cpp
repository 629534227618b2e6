// Start-up and the single-instance hand-over with real processes: a probe program
// runs the player's start-up and main window and records what the window was given;
// the test starts players side by side, or plays the first player itself.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/boot_mutex.h"
#include "support/player_dialog.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

// Long enough for a process start on a loaded machine; a hang fails instead of waiting for ever.
constexpr DWORD kProcessWaitMs = 60000;
constexpr DWORD kPollMs = 50;

std::string ProbeProgram() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + "startup_probe.exe";
}

Lines ReadLines(const std::string& path) {
  Lines lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
  }
}

// A started probe; closed and awaited when it goes.
class Probe {
 public:
  Probe(const std::string& arguments, const std::string& record) : record_(record) {
    SetEnvironmentVariableA("VEX_PROBE_RECORD", record.c_str());
    std::string line = "\"" + ProbeProgram() + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != FALSE;
    SetEnvironmentVariableA("VEX_PROBE_RECORD", nullptr);
  }
  ~Probe() {
    if (!started_) return;
    Close();
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    // The probe's window saved its settings when it closed.
    PlayerDialog::ForgetSettings();
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  bool Started() const { return started_; }

  // Waits, pumping this thread's messages, until the probe has recorded `count` lines.
  Lines WaitForLines(size_t count) const {
    const DWORD start = GetTickCount();
    Lines lines = ReadLines(record_);
    while (lines.size() < count && GetTickCount() - start < kProcessWaitMs && !Ended()) {
      PumpFor(kPollMs);
      lines = ReadLines(record_);
    }
    return ReadLines(record_);
  }

  // Waits, pumping, for the probe to end; its exit code, or 999 when it did not end.
  DWORD WaitForExit() const {
    const DWORD start = GetTickCount();
    while (!Ended() && GetTickCount() - start < kProcessWaitMs) PumpFor(kPollMs);
    DWORD code = 999;
    if (Ended()) GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  // The probe's top-level windows of the player's class.
  std::vector<HWND> PlayerWindows() const { return TopWindows(PLAYER_WINDOW_CLASS); }

  // A dialog of the probe owned by `owner`, or null.
  HWND OwnedDialog(HWND owner) const {
    for (HWND window : TopWindows("#32770")) {
      if (GetWindow(window, GW_OWNER) == owner) return window;
    }
    return nullptr;
  }

  DWORD Close() {
    for (HWND window : PlayerWindows()) PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitForExit();
  }

 private:
  struct Search {
    DWORD processId;
    const char* className;
    std::vector<HWND> windows;
  };
  static BOOL CALLBACK CollectWindows(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && std::string(className) == search->className) search->windows.push_back(window);
    return TRUE;
  }
  std::vector<HWND> TopWindows(const char* className) const {
    Search search{process_.dwProcessId, className, {}};
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&search));
    return search.windows;
  }
  bool Ended() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }

  std::string record_;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

TEST(StartupTest, TwoPlayersWithoutFilesOpenTwoWindows) {
  TempDir dir;
  Probe first("", dir.Path() + "\\first.txt");
  ASSERT_TRUE(first.Started());
  EXPECT_EQ(first.WaitForLines(1), Lines{"window"});
  Probe second("", dir.Path() + "\\second.txt");
  EXPECT_EQ(second.WaitForLines(1), Lines{"window"});
  EXPECT_EQ(first.PlayerWindows().size(), 1u);
  EXPECT_EQ(second.PlayerWindows().size(), 1u);
  EXPECT_EQ(second.Close(), 0u);
  EXPECT_EQ(first.Close(), 0u);
}

// What the start-up hands the window for the parts of the program around it: the
// release of the boot-up mutex once it has initialised, and the About box.
TEST(StartupTest, TheWindowReleasesTheBootMutexAndOpensTheAboutBox) {
  TempDir dir;
  Probe player("", dir.Path() + "\\player.txt");
  ASSERT_TRUE(player.Started());
  ASSERT_EQ(player.WaitForLines(1), Lines{"window"});
  BootMutex next;
  next.Acquire(0);
  EXPECT_TRUE(next.Owned()) << "released when the window had initialised";
  next.Close();
  const std::vector<HWND> windows = player.PlayerWindows();
  ASSERT_EQ(windows.size(), 1u);
  PostMessageA(windows[0], WM_SYSCOMMAND, IDM_ABOUT, 0);
  HWND about = nullptr;
  const DWORD start = GetTickCount();
  while (!(about = player.OwnedDialog(windows[0])) && GetTickCount() - start < kProcessWaitMs) PumpFor(kPollMs);
  ASSERT_NE(about, nullptr) << "the About box opens from the system menu";
  PostMessageA(about, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(player.Close(), 0u);
}

TEST(StartupTest, AFileIsHandedToTheRunningPlayer) {
  TempDir dir;
  Probe running("", dir.Path() + "\\running.txt");
  ASSERT_TRUE(running.Started());
  ASSERT_EQ(running.WaitForLines(1), Lines{"window"});
  struct Case {
    const char* what;
    std::string arguments;
    std::string file;
  };
  const Case cases[] = {
      {"a quoted path with a blank", "\"D:\\Music\\a b.wav\"", "D:\\Music\\a b.wav"},
      {"an unquoted path keeps its trailing blanks", "D:\\Music\\c.wav  ", "D:\\Music\\c.wav  "},
      {"a name already listed comes back to the top", "\"D:\\Music\\A B.wav\"", "D:\\Music\\A B.wav"},
  };
  Lines expected{"window"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Probe second(c.arguments, dir.Path() + "\\second.txt");
    EXPECT_EQ(second.WaitForExit(), 0u) << "the second start ends at once";
    EXPECT_TRUE(ReadLines(dir.Path() + "\\second.txt").empty()) << "and opens no window";
    expected.push_back("remember " + c.file);
    expected.push_back("start " + c.file);
    EXPECT_EQ(running.WaitForLines(expected.size()), expected);
  }
  EXPECT_EQ(running.Close(), 0u);
}

TEST(StartupTest, WithNoPlayerRunningTheFileOpensItsOwnWindow) {
  TempDir dir;
  Probe alone("\"D:\\Music\\solo track.wav\"", dir.Path() + "\\alone.txt");
  ASSERT_TRUE(alone.Started());
  EXPECT_EQ(alone.WaitForLines(2), (Lines{"window", "start D:\\Music\\solo track.wav"}));
  EXPECT_EQ(alone.PlayerWindows().size(), 1u);
  EXPECT_EQ(alone.Close(), 0u);
}

// The test plays the first player: it owns the boot-up mutex as a starting player
// does, and creates its window only later.
TEST(StartupTest, TheBootMutexMakesASecondStartWaitForTheFirstWindow) {
  TempDir dir;
  BootMutex starting;
  starting.Acquire(0);
  ASSERT_TRUE(starting.Owned());
  Probe second("\"D:\\Music\\waited.wav\"", dir.Path() + "\\second.txt");
  ASSERT_TRUE(second.Started());
  // Well inside the second start's 5-second wait: without the wait it would look now,
  // find no window and open its own.
  constexpr DWORD kFirstWindowLateMs = 2000;
  PumpFor(kFirstWindowLateMs);
  PlayerDialog first(DialogProcedure::kPlayer);
  ASSERT_TRUE(first.Window());
  starting.Release();
  EXPECT_EQ(second.WaitForExit(), 0u);
  PumpFor(kPollMs);
  EXPECT_EQ(first.Events(), (Lines{"remember D:\\Music\\waited.wav", "start D:\\Music\\waited.wav"}));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(first.Window(), IDC_START)));
  EXPECT_TRUE(ReadLines(dir.Path() + "\\second.txt").empty());
}

TEST(StartupTest, AFirstWindowLaterThanFiveSecondsIsNotWaitedFor) {
  TempDir dir;
  BootMutex starting;
  starting.Acquire(0);
  ASSERT_TRUE(starting.Owned());
  Probe second("\"D:\\Music\\late.wav\"", dir.Path() + "\\second.txt");
  ASSERT_TRUE(second.Started());
  // The mutex stays owned: after its wait the second start goes on and opens its own window.
  EXPECT_EQ(second.WaitForLines(2), (Lines{"window", "start D:\\Music\\late.wav"}));
  EXPECT_EQ(second.Close(), 0u);
}

TEST(StartupTest, HandOverNeedsARunningPlayer) {
  EXPECT_FALSE(HandOverToRunningPlayer("D:\\Music\\nobody.wav"));
  PlayerDialog player(DialogProcedure::kPlayer);
  ASSERT_TRUE(HandOverToRunningPlayer("D:\\Music\\x.wav"));
  EXPECT_EQ(player.Text(), "D:\\Music\\x.wav") << "set before the posted messages arrive";
  EXPECT_TRUE(player.Events().empty());
  PumpFor(kPollMs);
  EXPECT_EQ(player.Events(), (Lines{"remember D:\\Music\\x.wav", "start D:\\Music\\x.wav"}));
}

// Takes the boot-up mutex and ends without releasing it; the handle goes back through
// `parameter`, kept open so the mutex outlives the thread.
DWORD WINAPI AbandonBootMutex(LPVOID parameter) {
  HANDLE m = CreateMutexA(nullptr, FALSE, kBootMutexName);
  WaitForSingleObject(m, INFINITE);
  *static_cast<HANDLE*>(parameter) = m;
  return 0;
}

struct Hold {
  HANDLE taken, done;
};

// Takes the boot-up mutex, says so, and keeps it until told.
DWORD WINAPI KeepBootMutex(LPVOID parameter) {
  auto* hold = static_cast<Hold*>(parameter);
  HANDLE m = CreateMutexA(nullptr, FALSE, kBootMutexName);
  WaitForSingleObject(m, INFINITE);
  SetEvent(hold->taken);
  WaitForSingleObject(hold->done, INFINITE);
  ReleaseMutex(m);
  CloseHandle(m);
  return 0;
}

TEST(BootMutexTest, OwnedAfterTheWaitAbandonedOrNotAtAll) {
  BootMutex mutex;
  mutex.Acquire(0);
  EXPECT_TRUE(mutex.Owned()) << "free";
  mutex.Release();
  EXPECT_FALSE(mutex.Owned());
  // Held by another thread that ends without releasing it: abandoned, and owned.
  HANDLE abandoned = nullptr;
  HANDLE holder = CreateThread(nullptr, 0, AbandonBootMutex, &abandoned, 0, nullptr);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);
  mutex.Acquire(0);
  EXPECT_TRUE(mutex.Owned()) << "abandoned";
  mutex.Close();
  CloseHandle(abandoned);
  // Held by a thread that keeps it: the wait times out and the mutex is not owned.
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Hold hold{taken, done};
  HANDLE keeper = CreateThread(nullptr, 0, KeepBootMutex, &hold, 0, nullptr);
  WaitForSingleObject(taken, INFINITE);
  constexpr DWORD kShortWaitMs = 100;
  mutex.Acquire(kShortWaitMs);
  EXPECT_FALSE(mutex.Owned()) << "timed out";
  SetEvent(done);
  WaitForSingleObject(keeper, INFINITE);
  CloseHandle(keeper);
  CloseHandle(taken);
  CloseHandle(done);
  mutex.Close();
}

}  // namespace

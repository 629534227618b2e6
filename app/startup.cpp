// Start-up and teardown of the player process and the single-instance hand-over.
#include "app/startup.h"

#include <commctrl.h>

#include "app/about_box.h"
#include "app/boot_mutex.h"
#include "app/command_line.h"
#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "engine/feeder.h"
#include "engine/session.h"
#include "settings/settings_rules.h"
#include "win32/narrow_text.h"
#include "window/main_window.h"

namespace {

// The process's set-up in its order, undone in reverse when it goes. The endpoint
// cache's lock and the scheduler library's lock are objects of their own modules,
// made before the entry point and destroyed after it.
class PlayerProcess {
 public:
  PlayerProcess() {
    ReadEngineTuning();
    CreatePlayerSession(session_);
    ProcessBootMutex().Acquire(kBootMutexWaitMs);
  }
  ~PlayerProcess() {
    ProcessBootMutex().Close();
    DestroyPlayerSession(session_);
    ProcessEndpointCache().Release();
  }
  PlayerProcess(const PlayerProcess&) = delete;
  PlayerProcess& operator=(const PlayerProcess&) = delete;

  PlayerSession& Session() { return session_; }

 private:
  PlayerSession session_;
};

void InitCommonControlsForTheWindow() {
  // The main window has a track bar and up-down controls.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
}

}  // namespace

bool HandOverToRunningPlayer(const char* file) {
  HWND player = FindWindowA(PLAYER_WINDOW_CLASS, nullptr);
  if (!player) return false;
  SetForegroundWindow(player);
  // Sent, not posted: the text must stand in the other player's box before the two
  // posted messages below reach it.
  if (SendDlgItemMessageA(player, IDC_FILE_NAME, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file)) != TRUE) return false;
  HWND start = GetDlgItem(player, IDC_START);
  EnableWindow(start, TRUE);
  PostMessageA(player, MSG_REMEMBER_FILE, 0, 0);
  PostMessageA(player, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), reinterpret_cast<LPARAM>(start));
  return true;
}

int RunPlayer(HINSTANCE instance, const char* commandLine, DLGPROC dialogProc) {
  PlayerProcess process;
  InitCommonControlsForTheWindow();
  char startupFile[kPathCapacity];
  StartupFileFromCommandLine(commandLine, startupFile, sizeof startupFile);
  if (!NarrowPathFits(startupFile)) startupFile[0] = '\0';  // refused, not cut
  if (startupFile[0] && HandOverToRunningPlayer(startupFile)) return 0;
  RegisterPlayerWindowClass(instance);
  const MainWindowStart start{&process.Session(), startupFile, nullptr, ReleaseBootMutex, ShowAboutBox};
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, dialogProc, reinterpret_cast<LPARAM>(&start));
  UnregisterClassA(PLAYER_WINDOW_CLASS, instance);
  return 0;
}

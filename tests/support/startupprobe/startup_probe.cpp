// Runs the player's start-up with a stand-in main window. The window does what the
// player's does with a start-up file, the remember message and the Start command, and
// appends one line per event to the file named by VEX_PROBE_RECORD:
//   "window"            the window has initialised (the boot-up mutex is released)
//   "remember <entry>"  message 2024 arrived; <entry> is the history's top entry
//   "start <text>"      the Start command arrived with <text> in the file-name box
// It stays open until it is closed.
#include <windows.h>

#include <string>

#include "app/boot_mutex.h"
#include "app/startup.h"
#include "player/history.h"
#include "player/main_window.h"

namespace {

void Record(const std::string& line) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA("VEX_PROBE_RECORD", path, MAX_PATH)) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string BoxText(HWND window) {
  char text[MAX_PATH] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, MAX_PATH);
  return text;
}

std::string TopEntry(HWND window) {
  char text[MAX_PATH] = "";
  if (SendDlgItemMessageA(window, IDC_FILE_NAME, CB_GETLBTEXTLEN, 0, 0) < MAX_PATH) {
    SendDlgItemMessageA(window, IDC_FILE_NAME, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
  }
  return text;
}

INT_PTR CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* start = reinterpret_cast<const MainWindowStart*>(lParam);
      if (start && start->startupFile && start->startupFile[0]) {
        SetDlgItemTextA(window, IDC_FILE_NAME, start->startupFile);
        RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kMoveToTop);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_START)));
      }
      Record("window");
      ReleaseBootMutex();
      return TRUE;
    }
    case MSG_REMEMBER_FILE:
      RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kMoveToTop);
      Record("remember " + TopEntry(window));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_START) Record("start " + BoxText(window));
      return TRUE;
    case WM_CLOSE:
      EndDialog(window, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RunPlayer(instance, commandLine, ProbeWindowProc);
}

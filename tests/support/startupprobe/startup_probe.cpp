// Runs the player's start-up with the player's own main window, watched by a
// recorder, and appends one line per event to the file named by VEX_PROBE_RECORD:
//   "window"            the window has initialised (the boot-up mutex is released)
//   "remember <entry>"  message 2024 was handled; <entry> is the history's top entry
//   "start <text>"      the Start command arrived with <text> in the file-name box
// The Start command is recorded and not carried out (support/main_dialog_events.h).
// It stays open until it is closed.
#include <windows.h>

#include <string>

#include "app/startup.h"
#include "support/main_dialog_events.h"

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

INT_PTR CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::string event;
  const INT_PTR result = dialogevents::Observe(window, message, wParam, lParam, event);
  if (message == WM_INITDIALOG) Record("window");
  if (!event.empty()) Record(event);
  return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RunPlayer(instance, commandLine, ProbeWindowProc);
}

// The program's entry point: the start-up hands a file to a running player or runs
// the main window.
#include <windows.h>

#include "app/startup.h"
#include "window/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RunPlayer(instance, commandLine ? commandLine : "", MainDialogProc);
}

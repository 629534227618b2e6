// The program's entry point: initialises the common controls, takes the file named
// on the command line, registers the player's window class and runs the main dialog.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "player/main_window.h"
#include "player/session.h"

namespace {

// Leading blanks and tabs skipped; a quoted path loses its quotes and what follows
// the closing one; an unquoted path is kept whole, trailing blanks included.
void TrimCommandLine(const char* line, char* file, size_t capacity) {
  while (*line == ' ' || *line == '\t') ++line;
  size_t length;
  if (*line == '"') {
    ++line;
    const char* close = std::strchr(line, '"');
    length = close ? static_cast<size_t>(close - line) : std::strlen(line);
  } else {
    length = std::strlen(line);
  }
  if (length >= capacity) length = 0;  // longer paths are refused, not cut
  std::memcpy(file, line, length);
  file[length] = '\0';
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  char startupFile[MAX_PATH];
  TrimCommandLine(commandLine ? commandLine : "", startupFile, sizeof startupFile);

  static PlayerSession session;
  CreatePlayerSession(session);
  RegisterPlayerWindowClass(instance);
  const MainWindowStart start{&session, startupFile};
  RunMainDialog(instance, start);
  UnregisterClassA(PLAYER_WINDOW_CLASS, instance);
  DestroyPlayerSession(session);
  return 0;
}

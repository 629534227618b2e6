// The player process around its main window: the set-up before the window and the
// teardown after it, in reverse order, and the hand-over of a command-line file to
// a player that already runs.
#pragma once

#include <windows.h>

// Gives `file` to the running player, if there is one: its window is brought to the
// front, the file set into its file-name box synchronously, then its Start button is
// enabled and it is asked to remember the file and to start it. False when no player
// runs or its box refuses the text.
bool HandOverToRunningPlayer(const char* file);

// Everything the entry point does: set up the process (engine tuning, the session,
// the boot-up mutex with its 5-second wait), hand a command-line file over to a
// running player or else run the main dialog (template 101) with `dialogProc` and the
// start-up file, then tear down. Returns the process's exit code, 0.
int RunPlayer(HINSTANCE instance, const char* commandLine, DLGPROC dialogProc);

// The main dialog's beginning and end, for its procedure.
#pragma once

#include <windows.h>

#include "window/main_window.h"

// WM_INITDIALOG: makes the window's record, starts the feeder thread, fills the
// controls and loads the settings; a file handed over at the start is played.
BOOL OnInitDialog(HWND window, const MainWindowStart* start);
// MSG_SHUTDOWN: stops everything, ends the feeder thread and saves the settings.
void OnShutdown(HWND window, MainWindow* w);
// WM_NCDESTROY: the window's record and images go.
void OnFinalDestroy(HWND window, MainWindow* w);

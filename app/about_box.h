// The About box: the program's file version, what it plays, and two buttons that
// open the project's web pages in the user's browser.
#pragma once

#include <windows.h>

extern const char kAboutFirstPageAddress[];
extern const char kAboutSecondPageAddress[];

// Runs the modal dialog (template 120 of module); returns IDOK or IDCANCEL.
INT_PTR ShowAboutBox(HINSTANCE module, HWND owner);

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The enable rule of dialog controls, shared by the main window's operations and the
// settings that load into its controls.
#pragma once

#include <windows.h>

// Enables or disables a control; a control that loses its enabled state while it
// has the keyboard focus first hands the focus to the next enabled control in the
// tab order.
void EnableControl(HWND window, int id, bool enable);

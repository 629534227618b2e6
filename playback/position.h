// The playing position.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

struct OutputHandle;
struct PlayerSession;

// One position query in the unit asked for; `error` receives the result code.
MMTIME QueryPosition(OutputHandle* output, UINT unit, uint32_t* error);

// Computes the playing frame from the output's position, stores it as the resume
// position and shows it; takes the change to the following file once it is heard.
// 0 when no output is open.
int UpdatePosition(HWND window, PlayerSession& session);

// A converted file that plays while its converter still writes it.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlayerSession;
struct PreparationRequest;

// The converter of a streamed file has ended: on success the true length is taken
// and the file marked to go when it is closed; on failure playback stops with the
// conversion's failure text. 0 when nothing of it plays any more.
int FinishStreamedConversion(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request);
// While the converter writes: draws the overview again once a sixteenth of the
// length, then twice `shownBytes`, has been written; returns the bytes now shown.
uint32_t RefreshStreamedOverview(HWND window, PlayerSession& session, const char* path, uint32_t shownBytes);

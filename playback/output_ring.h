// The output and the ring of buffers the feeder writes to it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct PlayerSession;

// Removes the window's queued messages first … last.
void PurgeMessages(HWND window, UINT first, UINT last);

// The device index of the device box's selected entry, found again by its display
// name: the list may have changed since the box was filled.
uint32_t SelectedDeviceIndex(HWND window);

// Opens device `device` for the session's format (paused when the session is) and
// hands the feeder a new ring of prepared, free buffers, showing the steps on the
// status line. On failure nothing of the output is left; `error` holds the code and
// `caption` (may be null) the failed open's box caption.
enum class OutputOpening { Ok, OpenFailed, NoMemory, PrepareFailed };
OutputOpening OpenOutputRing(HWND window, PlayerSession& session, uint32_t device, uint32_t* error,
                             char* caption, size_t captionBytes);

// Gives every buffer of the ring back to the feeder, from the first.
void HandAllBuffersOver(PlayerSession& session);

// Resets and closes the output and frees the ring; the file stays. The caller holds the lock.
void CloseOutput(HWND window, PlayerSession& session);

// What the playback asks of the window it plays for. Declared here and defined by
// the window (window/), which the playback does not include: the playback decides,
// the window shows. Every hook runs on the window's thread.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

struct OutputHandle;
struct PlaybackState;
struct PlayerSession;

// The playback's record of the window, or null before the dialog initialised.
PlaybackState* PlaybackOf(HWND window);

// --- What the user chose -----------------------------------------------------------

// "L&oop play" checked and "Se&quential" not.
bool IsLoopMode(HWND window);

// --- Messages ----------------------------------------------------------------------

// A warning box owned by the window with the program's caption.
void ShowWarning(HWND window, const char* text);
// A warning box with the system's text for a wave-out error code.
void ShowMmError(HWND window, const char* caption, uint32_t code);
void SetStatus(HWND window, const char* text);

// --- The transport's controls ------------------------------------------------------

// While a file is prepared Stop, and Play-or-Stop with its stop image, end the work.
void ShowPreparingControls(HWND window);
// A file plays: the transport enabled, the tempo only for a REX loop.
void ShowPlayingControls(HWND window, bool isRex);
// Nothing plays (Stop stays while a file the user asked for is prepared).
void ShowIdleControls(HWND window);
// The pause button's text and image for the state `paused`.
void ShowPauseState(HWND window, bool paused);
// The device is awaited: Stop gives up, Pause pauses the kept place.
void ShowAwaitingControls(HWND window);
// Stop stood for work that has ended with nothing playing: it goes back.
void ShowNothingToStop(HWND window);

// --- The file that plays -----------------------------------------------------------

// The window's title: the file's name and extension, then the program's caption.
void ShowFileTitle(HWND window, const char* name, const char* extension);
// The format line of the session's file: a REX loop's tempo or a converted file's
// extension first.
void ShowFormatLine(HWND window, const PlayerSession& session, bool isRex, uint32_t tempo,
                    const char* convertedExtension);
// The waveform's range: the session's file's length.
void ShowFileLength(HWND window, const PlayerSession& session);
// Draws the overview of `path`'s data now; nothing may play (the session lock is held).
void LoadOverview(HWND window, const PlayerSession& session, const char* path, uint32_t dataOffset,
                  uint32_t dataSize);
// Draws the overview of `path` once the session lock is no longer held (MSG_LOAD_OVERVIEW).
void LoadOverviewOutsideTheLock(HWND window, const char* path);
// The overview, its range and its cursor cleared: nothing plays.
void ClearOverview(HWND window);
// The verdict and the format negotiation of the output the session just opened on
// device `device`; `convertedExtension` is empty unless the converter made the file,
// `codec` what the converter said the source holds (empty: judged by the extension).
void ShowSignalPath(HWND window, PlayerSession& session, uint32_t device, bool isRex,
                    const char* convertedExtension, const char* codec);
// Sequential play went on without a gap into `entry`: the name box, the title, the
// format line, the verdict and the overview of the file entered.
void ShowEnteredFile(HWND window, const PlayerSession& session, int32_t index, const char* path);
// Sequential play starts entry `index` of the name box's list anew.
void StartListEntry(HWND window, LRESULT index);
// A start the window did not make itself has played `source`: when the name box
// still shows it, the history remembers it.
void RememberStartedFile(HWND window, const char* source);

// --- The position ------------------------------------------------------------------

// The time display and the waveform's cursor at `milliseconds`.
void ShowPlayPosition(HWND window, uint32_t milliseconds, uint32_t totalFrames, uint32_t sampleRate);
// The detail line (when shown) from the output's byte position and its error.
void ShowOutputDetails(HWND window, OutputHandle* output, const MMTIME& bytes, uint32_t bytesError);
// The time display and the waveform with its range at the place `frame` a file
// waits at.
void ShowKeptPlace(HWND window, uint32_t frame, uint32_t totalFrames, uint32_t sampleRate);
// No place to resume from: the time display unknown, Rewind disabled.
void ShowNoPlace(HWND window);

// --- A device that goes away -------------------------------------------------------

// The format line's text, kept to come back when the wait for a device ends.
void KeepFormatLine(HWND window);
// The status and format lines say the window waits for `device`.
void ShowDeviceWait(HWND window, const wchar_t* device);
// The wait is over: the format line shows again what it showed before.
void EndDeviceWaitView(HWND window);
// The device box lists exactly the `total` devices there are now, with `selected`
// chosen: it is filled again when its list has changed.
void ListDevicesAgain(HWND window, uint32_t total, const wchar_t* selected);

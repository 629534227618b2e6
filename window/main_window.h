// The main window: a modal dialog (template 101) whose procedure turns every
// command, timer, mouse and private message into calls of the playback
// (playback/), and the texts and controls that show what it did.
#pragma once

#include <windows.h>

#include <cstdint>

#include "playback/playback_state.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "win32/enable_control.h"
#include "window/signal_path.h"

struct GlyphDisplay;
struct PlayerSession;
struct WaveformDisplay;

// The caption of the window and of every warning box.
extern const char kAppCaption[];  // "ZEMBRIX Player(x86)"
// The time display while no place is known.
extern const char kTimeUnknown[];  // "--'--.-"

// Private messages of the window (the feeder's 3025 to 3028 are in engine/feeder.h,
// the range a stop purges and the timers in playback/playback_state.h).
constexpr UINT MSG_REMEMBER_FILE = 2024;
constexpr UINT MSG_SHUTDOWN = 2025;
// The overview is drawn again for the file that plays (posted, so that it is drawn
// without the session lock held).
constexpr UINT MSG_LOAD_OVERVIEW = 2026;

// The transport images, in the order of their resources.
enum TransportImage {
  kImagePlay,
  kImageStop,
  kImageRewind,
  kImagePause,
  kImageRestart,
  kImageForward,
  kImageBackward,
  kImageCount
};

// What the dialog is started with. The two hooks come from the start-up around the
// window, which this folder does not include; each may be null, and then nothing
// happens in its place.
struct MainWindowStart {
  PlayerSession* session;
  const char* startupFile;  // may be null or empty
  // Starts the feeder thread; null for StartFeederThread. Tests put a failing one
  // here to see the window give up.
  bool (*startFeeder)(PlayerSession&) = nullptr;
  // Called once the window has initialised: a second start waiting for the first
  // window may then find it.
  void (*initialised)() = nullptr;
  // Runs the About box, modal, owned by the window.
  INT_PTR (*showAbout)(HINSTANCE module, HWND owner) = nullptr;
};

// The state the window keeps beside the session, one per dialog: the playback's
// record and the window's own.
struct MainWindow : PlaybackState {
  char startupFile[kPathCapacity];
  bool detailsShown;
  bool shutDown;
  // Set while the dialog hands a wheel message to the file-name box.
  bool forwardingWheel;
  // Set once the controls hold the loaded settings: a window that gave up before
  // then must not save its empty controls over them.
  bool settingsLoaded;
  WaveformDisplay* waveform;
  GlyphDisplay* glyphs;  // the time display's record, or none (a plain static)
  INT_PTR (*showAbout)(HINSTANCE module, HWND owner);  // from MainWindowStart
  HBITMAP images[kImageCount];
  // The controls the timers and the feeder's messages update many times a second,
  // looked up once: finding a child by its identifier asks the window manager
  // every time, which under Wine is a round trip to its server.
  HWND waveformControl;
  HWND timeControl;
  HWND statusControl;
  HWND detailControl;
  HWND forwardButton;
  HWND backwardButton;
  uint32_t forwardRepeat;
  uint32_t backwardRepeat;
  // The tooltips of the format, detail and signal-path lines, and the path of the
  // latest start, which the verdict is worked out from again when the volume moves.
  HWND signalTips;
  bool signalPathKnown;
  SignalPath signalPath;
  // The format line says it waits too (the status line is among the details, often
  // hidden); what it showed comes back when the wait ends.
  char formatBeforeWait[600];
};

// The window's state, or null before the dialog initialised.
MainWindow* MainWindowOf(HWND window);

// The control `id` of the window: the handle kept in its state for the controls
// updated while playing, else looked up.
HWND ControlOf(HWND window, int id);

// Registers the private window class the dialog template names: the system's dialog
// class without the global-class bit, with the program's icon. 0 on failure.
ATOM RegisterPlayerWindowClass(HINSTANCE instance);

// Runs the main dialog modally; returns the dialog's result (2 when the feeder
// thread could not start).
INT_PTR RunMainDialog(HINSTANCE instance, const MainWindowStart& start);

// The dialog procedure of template 101.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// --- Helpers shared by the window's files --------------------------------------------

// The enable rule, EnableControl, is in win32/enable_control.h; the texts and
// controls the playback asks for are in playback/window_hooks.h.
// Collapses the window to hide the detail area, or grows it to show it again.
void ShowDetails(HWND window, bool show);
// The module the window's resources come from.
HINSTANCE InstanceOf(HWND window);
// Whether the file-name box holds any text.
bool HasFileName(HWND window);
// Whether the device box's selected entry is a device rather than the wave mapper.
bool SelectedDeviceIsMapped(HWND window);
// Posts the Start button's click: the start follows once the message queue gets there.
void PostStart(HWND window);

// --- Status ------------------------------------------------------------------------

// Shows the volume slider's value and sets the session's gain from it.
void UpdateVolume(PlayerSession& session, HWND window);
// The status line after buffer `ringIndex` was written.
void ShowDeviceInfo(HWND window, uint32_t ringIndex);
// The preparation timer: the conversion's progress on the status line, or while a
// converted file plays as it is written, the overview drawn again as it grows.
void ShowPreparationProgress(HWND window, MainWindow* w);
// The feeder waits for the converter to reach `frame`, the frame it reads next.
void ShowAwaitingConversion(HWND window, PlayerSession& session, uint32_t frame);

// --- The file and the transport -------------------------------------------------------

// MSG_LOAD_OVERVIEW: draws the overview of `overviewPath` for the file that plays,
// taking the session lock only to read where its data lies.
void LoadPostedOverview(HWND window, PlayerSession& session);
// Seeks to the frame under a point of the waveform (main window client
// coordinates); the caller holds the lock. 1 when it seeked.
int SeekFromPoint(HWND window, POINT point, PlayerSession& session);
// The button-repeat timer: a skip button held for 500 ms skips every 100 ms.
void RepeatHeldButtons(HWND window);

// --- Signal path ---------------------------------------------------------------------

// Creates the tooltips: the verdict on the format line, the format negotiation on the
// detail line and on the signal-path line.
void AttachSignalPathTips(HWND window);
// Sequential play went on without a gap into a WAVE file: the verdict of the same
// output for a file read as it is.
void ShowSignalPathOfFollowingWave(HWND window);
// The verdict of the latest start again, at `volumeX10`.
void ShowSignalPathVolume(HWND window, int32_t volumeX10);

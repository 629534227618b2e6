// The main window: a modal dialog (template 101) whose procedure routes every
// command, timer, mouse and private message to the player's operations, and the
// operations themselves: open and start, the transport and the status texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "player/signal_path.h"
#include "resources/resource_ids.h"
#include "settings/settings_rules.h"
#include "win32/enable_control.h"

struct GlyphDisplay;
struct PlayerSession;
struct PreparationJob;
struct PreparationRequest;
struct WaveformDisplay;

// The caption of the window and of every warning box.
extern const char kAppCaption[];  // "ZEMBRIX Player(x86)"

// Private messages of the window (the feeder's 3025 to 3028 are in engine/feeder.h).
constexpr UINT MSG_REMEMBER_FILE = 2024;
constexpr UINT MSG_SHUTDOWN = 2025;
// The overview is drawn again for the file that plays (posted, so that it is drawn
// without the session lock held).
constexpr UINT MSG_LOAD_OVERVIEW = 2026;
// The range of private messages a stop purges from the queue.
constexpr UINT kFeederMessageFirst = 3024;
constexpr UINT kFeederMessageLast = 3029;

// Timers of the window.
constexpr UINT_PTR TIMER_POSITION = 1111;
constexpr UINT_PTR TIMER_END_OF_PLAY = 1112;
constexpr UINT_PTR TIMER_BUTTON_REPEAT = 1113;
constexpr UINT_PTR TIMER_PREPARATION = 1114;  // the status line while a file is prepared
constexpr UINT_PTR TIMER_DEVICE_RETRY = 1115;  // a device that went away is looked for again
constexpr UINT kDeviceRetryPeriodMs = 500;
constexpr UINT kPositionPeriodMs = 50;
constexpr UINT kButtonRepeatPeriodMs = 100;
constexpr UINT kPreparationPeriodMs = 250;

// Asks OpenAndStart to resume where the same file stopped.
constexpr uint32_t kResumePosition = 0xFFFFFFFF;

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

// The state the window keeps beside the session, one per dialog.
struct MainWindow {
  PlayerSession* session;
  char startupFile[kPathCapacity];
  // The frame that was playing at the latest position update; survives a stop so
  // that Play-or-Stop can resume there.
  uint32_t resumePosition;
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
  // The conversion or REX render a start waits for, or none; the serial of the
  // latest, which its done notice carries.
  PreparationJob* preparation;
  uint32_t preparationSerial;
  bool finishingStart;  // set while the start goes on with a prepared file
  // The file of the job plays while its converter still writes it.
  bool streaming;
  uint32_t streamedOverviewBytes;
  // The file MSG_LOAD_OVERVIEW draws; empty once playback stopped.
  char overviewPath[kPathCapacity];
  // Sequential play: the next entry was looked at for this file already.
  bool followingTried;
  // REX renders that were cancelled but cannot be interrupted: waited for before
  // the window goes, so that each deletes its file.
  std::vector<HANDLE> abandonedRenders;
  // The tooltips of the format, detail and signal-path lines, and the path of the
  // latest start, which the verdict is worked out from again when the volume moves.
  HWND signalTips;
  bool signalPathKnown;
  SignalPath signalPath;
  // The device stopped serving while a file played: the session keeps the file at
  // the place not yet heard, with no output, and the device is looked for by its
  // name (the box's text; the mapper by its entry) until it is back or `waitMs`
  // (the setting; 0 stops at once) has passed unpaused since `waitSince`. The name
  // stays until a start opens a device or the user stops: a file chosen or handed
  // over meanwhile waits for the same device.
  bool deviceWait;
  bool awaitedMapper;
  wchar_t awaitedDevice[64];
  DWORD waitSince;
  uint32_t waitMs;
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

// --- Helpers shared by the operations ---------------------------------------------

// The enable rule, EnableControl, is in win32/enable_control.h.
// "L&oop play" checked and "Se&quential" not.
bool IsLoopMode(HWND window);
// Collapses the window to hide the detail area, or grows it to show it again.
void ShowDetails(HWND window, bool show);
// A warning box owned by the window with the program's caption.
void ShowWarning(HWND window, const char* text);
void SetStatus(HWND window, const char* text);

// --- Open and start -----------------------------------------------------------------

// What OpenAndStart returns while a file is converted or rendered beside the window.
constexpr int kStartPending = 2;

// Plays the file named in the file-name box from `startFrame` (kResumePosition to
// resume). The caller holds the session lock. 1 when playback started; 0 after the
// failing step showed its message; kStartPending when a compressed file or a REX
// loop is being prepared first (MSG_PREPARATION_DONE goes on).
int OpenAndStart(HWND window, PlayerSession& session, uint32_t startFrame);
// The rest of such a start once its job has ended: `succeeded` tells whether the
// temporary file holds the WAVE file. The caller holds the session lock.
int FinishPreparedStart(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request);
// A conversion's output can begin to play while the converter writes it
// (MSG_PREPARATION_READY): starts it with the source's described length. The
// caller holds the session lock. 1 when playback started; `shownBytes` receives
// the data bytes the overview drawn at the start covers.
int StartStreamedConversion(HWND window, PlayerSession& session, const PreparationRequest& request,
                            uint32_t* shownBytes);
// The converter of a streamed file has ended: on success the true length is taken
// and the file marked to go when it is closed; on failure playback stops with the
// conversion's failure text. 0 when nothing of it plays any more.
int FinishStreamedConversion(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request);
// Sequential play: when the file nears its end, opens the next entry of the list
// (the same walk as the end of play) if it is a WAVE file of the same format, for
// the feeder to read on into. The caller holds the session lock.
void QueueFollowingWave(HWND window, PlayerSession& session);
// The change to the following file has been heard: closes the file left and shows
// the new one (title, name box, format line, overview). The caller holds the lock.
void ShowEnteredFile(HWND window, PlayerSession& session);
// While the converter writes: draws the overview again once a sixteenth of the
// length, then twice `shownBytes`, has been written; returns the bytes now shown.
uint32_t RefreshStreamedOverview(HWND window, PlayerSession& session, const char* path, uint32_t shownBytes);
// MSG_LOAD_OVERVIEW: draws the overview of `overviewPath` for the file that plays,
// taking the session lock only to read where its data lies.
void LoadPostedOverview(HWND window, PlayerSession& session);

// Opens device `device` for the session's format (paused when the session is) and
// hands the feeder a new ring of prepared, free buffers, showing the steps on the
// status line. On failure nothing of the output is left; `error` holds the code and
// `caption` (may be null) the failed open's box caption.
enum class OutputOpening { Ok, OpenFailed, NoMemory, PrepareFailed };
OutputOpening OpenOutputRing(HWND window, PlayerSession& session, uint32_t device, uint32_t* error,
                             char* caption, size_t captionBytes);

// --- A device that goes away --------------------------------------------------------

// The feeder found the device no longer serving (it kept every buffer, or a write
// said the device is gone): keeps the place not yet heard, closes the output and
// waits for the device, or with a wait of 0 stops with the stalled-device message.
// The caller holds the session lock.
void ReportStoppedDevice(HWND window, PlayerSession& session);
// Waits for the device selected in the box, the session holding its file at the
// place to go on from and no output. The caller holds the lock.
void AwaitDevice(HWND window, PlayerSession& session);
// The retry timer: looks for the awaited device and goes on when it opens; gives up
// with the stalled-device message once the wait has run out.
void RetryAwaitedDevice(HWND window, PlayerSession& session);
// A seek while the device is awaited moves the kept place to `frame` (the caller
// has kept it inside the file). False when no wait is under way.
bool MoveAwaitedPlace(HWND window, PlayerSession& session, uint32_t frame);
// Sequential play goes on with a new start: a device gone by then is waited for
// rather than reported.
void AwaitDeviceIfTheNextOpenFails(HWND window);
// Pause or restart while the device is awaited: a pause of the kept place. False
// when no wait is under way.
bool PauseWhileAwaitingDevice(HWND window, PlayerSession& session);

// --- Transport ----------------------------------------------------------------------

// While a file is prepared Stop, and Play-or-Stop with its stop image, end the work.
void ShowPreparingControls(HWND window);
// Resets and closes the output and frees the ring; the file stays. The caller holds the lock.
void CloseOutput(HWND window, PlayerSession& session);
// Before the change to the following file is heard, the file left becomes the
// source again and the following file is put back as it was.
void GoBackToLeftFile(PlayerSession& session);

// Releases the whole session in one pass; the caller holds the session lock. Always 1.
int StopPlayback(HWND window, PlayerSession& session);
// Pauses or restarts; the caller holds the lock. 1 when the state changed.
int TogglePause(HWND window, PlayerSession& session);
// Moves playback to `targetFrame`; takes the lock itself.
void SeekTo(uint32_t targetFrame, PlayerSession& session, HWND window);
// Seeks to the frame under a point of the waveform (main window client
// coordinates); the caller holds the lock. 1 when it seeked.
int SeekFromPoint(HWND window, POINT point, PlayerSession& session);
void SkipBack(HWND window);
void SkipForward(HWND window);
// Rewind: to the start while playing; while idle, forget the resume position.
void Rewind(HWND window);
// The button-repeat timer: a skip button held for 500 ms skips every 100 ms.
void RepeatHeldButtons(HWND window);
// The end-of-play timer: stop, then in sequential mode start the next history entry.
void HandleEndOfPlay(HWND window);
// Sequential play's next entry of the file-name box's list: the one below the
// selection, the top after the last one with "Loop play" checked; -1 when none.
LRESULT NextSequentialEntry(HWND window);

// --- Status ------------------------------------------------------------------------

// Computes the playing frame from the output's position, stores it as the resume
// position and shows it. 0 when no output is open.
int UpdatePosition(HWND window, PlayerSession& session);
// Shows the volume slider's value and sets the session's gain from it.
void UpdateVolume(PlayerSession& session, HWND window);
// The status line after buffer `ringIndex` was written.
void ShowDeviceInfo(HWND window, uint32_t ringIndex);
// A warning box with the system's text for a wave-out error code.
void ShowMmError(HWND window, const char* caption, uint32_t code);

// --- Signal path ---------------------------------------------------------------------

// Creates the tooltips: the verdict on the format line, the format negotiation on the
// detail line and on the signal-path line.
void AttachSignalPathTips(HWND window);
// The verdict and the format negotiation of the output the session just opened on
// device `device`; `convertedExtension` is empty unless the converter made the file,
// `codec` what the converter said the source holds (empty: judged by the extension).
void ShowSignalPath(HWND window, PlayerSession& session, uint32_t device, bool isRex,
                    const char* convertedExtension, const char* codec);
// Sequential play went on without a gap into a WAVE file: the verdict of the same
// output for a file read as it is.
void ShowSignalPathOfFollowingWave(HWND window);
// The verdict of the latest start again, at `volumeX10`.
void ShowSignalPathVolume(HWND window, int32_t volumeX10);

// OpenAndStart: from the text of the file-name box to sound. Decides the kind of
// file; a compressed file or a REX loop is first turned into a temporary WAVE file
// by a preparation job beside the window (sources/preparation.h), and the start goes
// on when the job is done. Then reads the WAVE source, fills the session, opens the
// output, and hands the feeder a ring of prepared, free buffers. Runs on the main
// window's thread with the session lock held, so the feeder sees either the old,
// stopped state or the complete new one; the conversion itself holds no lock.
#include "playback/open_and_start.h"

#include <commctrl.h>

#include <cstdio>

#include "devices/output_devices.h"
#include "dsp/sample_format.h"
#include "engine/session.h"
#include "playback/device_wait.h"
#include "playback/output_ring.h"
#include "playback/playback_rules.h"
#include "playback/playback_state.h"
#include "playback/position.h"
#include "playback/sequential.h"
#include "playback/stop.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "sources/file_kind.h"
#include "sources/growing_file.h"
#include "sources/preparation.h"
#include "sources/source_stream.h"
#include "sources/wave_file.h"
#include "settings/settings_rules.h"
#include "win32/narrow_text.h"

const char kStatusConverted[] = "Converted";
const char kStatusConversionFailed[] = "Conversion failed.";

namespace {

const char kMsgNoTempFile[] = "Unable to create temporary file.";
const char kMsgBadTempo[] = "The tempo value should  be within 20 to 450 bpm.";
const char kMsgRexFailed[] = "Unable to convert the REX file to WAV file.";
const char kMsgNoMemory[] = "Not enough memory.";
const char kStatusConverting[] = "Converting to wav file ...";

constexpr uint32_t kTempNameAttempts = 256;

// What the kind-specific steps produced: the file to open and how it is shown.
struct OpenPlan {
  char source[kPathCapacity];  // the name box's text at the start
  char path[kPathCapacity];
  bool temporary = false;
  bool isRex = false;
  uint32_t tempo = 0;
  char convertedExtension[kPartChars] = "";
  // A converter still writes the file: its data runs as long as the source lasts.
  bool growing = false;
  uint32_t durationMs = 0;
  char codec[32] = "";  // as the converter described the source
};

// Creates "WAV%04X.wav" in the temporary folder exclusively; false after 256 tries.
bool CreateConversionTarget(char* path) {
  char folder[kPathCapacity];
  const DWORD length = GetTempPathA(kPathCapacity, folder);
  if (length == 0 || length >= kPathCapacity) return false;
  for (uint32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    char name[16];
    ConversionTempName(name, sizeof name, GetTickCount(), attempt);
    if (std::snprintf(path, kPathCapacity, "%s%s", folder, name) >= kPathCapacity) return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
  }
  return false;
}

// Starts the job that prepares `request`, kept by the window; false when it could
// not start (the target is still the caller's).
bool BeginPreparation(HWND window, const PreparationRequest& request) {
  PlaybackState* w = PlaybackOf(window);
  if (!w) return false;
  PreparationJob* job = StartPreparation(window, request, ++w->preparationSerial);
  if (!job) return false;
  w->preparation = job;
  ShowPreparingControls(window);
  SetTimer(window, TIMER_PREPARATION, kPreparationPeriodMs, nullptr);
  return true;
}

// A compressed file: start its conversion beside the window. The current playback
// goes on meanwhile. 0 when no temporary file could be made (the message has been
// shown); kStartPending while the converter runs.
int BeginConversion(HWND window, PlayerSession& session, const char* source, uint32_t startFrame) {
  PreparationRequest request{};
  request.kind = PreparationKind::Conversion;
  request.startFrame = startFrame;
  std::snprintf(request.source, sizeof request.source, "%s", source);
  if (!CreateConversionTarget(request.target)) {
    ShowWarning(window, kMsgNoTempFile);
    return 0;
  }
  SetStatus(window, kStatusConverting);
  if (BeginPreparation(window, request)) {
    // The file asked for comes next: a file queued for sequential play is dropped.
    DropFollowingWave(session);
    return kStartPending;
  }
  return FinishPreparedStart(window, session, false, request);
}

// A REX loop: check the tempo, stop what plays, start rendering into a temporary
// file beside the window. 0 after a message; kStartPending while it renders.
int BeginRexRender(HWND window, PlayerSession& session, const char* source, uint32_t startFrame) {
  PreparationRequest request{};
  request.kind = PreparationKind::RexRender;
  request.startFrame = startFrame;
  std::snprintf(request.source, sizeof request.source, "%s", source);
  BOOL isNumber = FALSE;
  const UINT bpm = GetDlgItemInt(window, IDC_TEMPO, &isNumber, FALSE);
  int minimum = 0, maximum = 0;
  SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&minimum),
                      reinterpret_cast<LPARAM>(&maximum));
  const bool checked = IsDlgButtonChecked(window, IDC_TEMPO_CHECK) == BST_CHECKED;
  if (!TempoFromField(checked, isNumber != FALSE, bpm, static_cast<uint32_t>(minimum),
                      static_cast<uint32_t>(maximum), &request.tempo)) {
    ShowWarning(window, kMsgBadTempo);
    return 0;
  }
  StopPlayback(window, session);
  char folder[kPathCapacity];
  const DWORD length = GetTempPathA(kPathCapacity, folder);
  if (length == 0 || length >= kPathCapacity || !GetTempFileNameA(folder, "WAV", 0, request.target)) {
    ShowWarning(window, kMsgNoTempFile);
    return 0;
  }
  SetStatus(window, kStatusConverting);
  if (BeginPreparation(window, request)) return kStartPending;
  DeleteFileA(request.target);
  ShowWarning(window, kMsgRexFailed);
  return 0;
}

// Positions the file at the start frame; the reader left it at the data offset.
bool PositionSource(PlayerSession& session, uint32_t startFrame) {
  session.remainingBytes = session.dataSize;
  if (startFrame == 0) return true;
  uint32_t offset = FramesToByteOffset(session.format, startFrame);
  if (offset > session.dataSize) offset = session.dataSize;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(session.dataOffset) + offset;
  if (!SetFilePointerEx(session.sourceFile, to, nullptr, FILE_BEGIN)) return false;
  session.remainingBytes = session.dataSize - offset;
  return true;
}

int OpenPlanned(HWND window, PlayerSession& session, const OpenPlan& plan, uint32_t startFrame);

}  // namespace

int OpenAndStart(HWND window, PlayerSession& session, uint32_t startFrame) {
  char source[kPathCapacity];
  // A longer path would be cut into the name of some other file: refuse it.
  const int textLength = GetWindowTextLengthA(GetDlgItem(window, IDC_FILE_NAME));
  if (textLength <= 0) return 0;
  if (textLength >= kPathCapacity) {
    ShowWarning(window, kMsgUnableToOpenWave);
    return 0;
  }
  GetDlgItemTextA(window, IDC_FILE_NAME, source, kPathCapacity);
  if (!NarrowPathFits(source)) {
    ShowWarning(window, kMsgUnableToOpenWave);
    return 0;
  }
  if (source[0] == '\0') return 0;
  char name[kPartChars], extension[kPartChars];
  SplitFileName(source, name, extension, kPartChars);
  switch (FileKindOfExtension(extension)) {
    case FileKind::Converted:
      return BeginConversion(window, session, source, startFrame);
    case FileKind::Rex:
      return BeginRexRender(window, session, source, startFrame);
    case FileKind::Wave:
      break;
  }
  OpenPlan plan;
  std::snprintf(plan.source, sizeof plan.source, "%s", source);
  std::snprintf(plan.path, sizeof plan.path, "%s", source);
  return OpenPlanned(window, session, plan, startFrame);
}

int FinishPreparedStart(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request) {
  OpenPlan plan;
  std::snprintf(plan.source, sizeof plan.source, "%s", request.source);
  std::snprintf(plan.path, sizeof plan.path, "%s", request.source);
  if (request.kind == PreparationKind::RexRender) {
    if (!succeeded) {  // the job deleted its file
      ShowWarning(window, kMsgRexFailed);
      return 0;
    }
    plan.isRex = true;
    plan.tempo = request.tempo;
  } else if (succeeded) {
    SetStatus(window, kStatusConverted);
    std::snprintf(plan.codec, sizeof plan.codec, "%s", request.codec);
    char name[kPartChars];
    SplitFileName(request.source, name, plan.convertedExtension, kPartChars);
  } else {
    SetStatus(window, kStatusConversionFailed);  // the source itself is tried as WAVE
    DeleteFileA(request.target);
    return OpenPlanned(window, session, plan, request.startFrame);
  }
  std::snprintf(plan.path, sizeof plan.path, "%s", request.target);
  plan.temporary = true;
  return OpenPlanned(window, session, plan, request.startFrame);
}

int StartStreamedConversion(HWND window, PlayerSession& session, const PreparationRequest& request,
                            uint32_t* shownBytes) {
  OpenPlan plan;
  std::snprintf(plan.source, sizeof plan.source, "%s", request.source);
  std::snprintf(plan.path, sizeof plan.path, "%s", request.target);
  char name[kPartChars];
  SplitFileName(request.source, name, plan.convertedExtension, kPartChars);
  plan.temporary = true;
  plan.growing = true;
  plan.durationMs = request.durationMs;
  std::snprintf(plan.codec, sizeof plan.codec, "%s", request.codec);
  const int started = OpenPlanned(window, session, plan, request.startFrame);
  // The start drew what was written by then.
  *shownBytes = started == 1 ? WrittenDataBytes(session.sourceFile, session.format, session.dataOffset) : 0;
  return started;
}

namespace {

// Steps 5 on of a start: the file to open is known.
int OpenPlanned(HWND window, PlayerSession& session, const OpenPlan& plan, uint32_t startFrame) {
  PlaybackState* w = PlaybackOf(window);
  const char* source = plan.source;
  char name[kPartChars], extension[kPartChars];
  SplitFileName(source, name, extension, kPartChars);

  HANDLE file = plan.growing ? OpenGrowingWaveFile(plan.path) : OpenWaveFile(plan.path, plan.temporary);
  if (file == INVALID_HANDLE_VALUE) {
    if (plan.temporary) DeleteFileA(plan.path);
    ShowWarning(window, kMsgUnableToOpenWave);
    return 0;
  }
  WaveSource wave;
  {
    FileByteSource bytes(file);
    const WaveReadResult read = ReadWaveSource(bytes, wave);
    if (read != WaveReadResult::Ok) {
      CloseHandle(file);  // a temporary file goes with its handle
      ShowWarning(window, WaveReadMessage(read));
      return 0;
    }
  }

  StopPlayback(window, session);
  session.sourceFile = file;
  session.stopFlag = 0;
  session.window = window;
  session.loopFlag = IsLoopMode(window) ? 1 : 0;
  session.dataOffset = wave.dataOffset;
  session.dataSize = wave.dataSize;
  session.format = std::move(wave.format);
  session.totalFrames = wave.totalFrames;
  if (plan.growing) {
    // The header's sizes are placeholders until the converter ends.
    session.dataSize = GrowingDataSize(file, session.format, session.dataOffset, plan.durationMs);
    session.totalFrames = TotalFrames(session.format, session.dataSize);
    session.growing = 1;
  }

  if (startFrame == kResumePosition) {
    const bool sameFile = lstrcmpiA(source, session.lastPath) == 0;
    startFrame = w && sameFile && w->resumePosition < session.totalFrames ? w->resumePosition : 0;
  }
  if (!PositionSource(session, startFrame)) {
    StopPlayback(window, session);
    ShowWarning(window, kMsgWaveReadingError);
    return 0;
  }
  session.pendingCount = 0;
  session.bytesQueued = 0;
  session.paused = 0;
  session.fileSerial = 1;

  LoadOverview(window, session, plan.path, session.dataOffset, session.dataSize);  // nothing plays yet

  const uint32_t device = SelectedDeviceIndex(window);

  ShowFileTitle(window, name, extension);
  ShowFormatLine(window, session, plan.isRex, plan.tempo, plan.convertedExtension);

  uint32_t error = MMSYSERR_NOERROR;
  char caption[2 * kDisplayNameChars + 32] = "";
  const OutputOpening opening = OpenOutputRing(window, session, device, &error, caption, sizeof caption);
  if (opening == OutputOpening::OpenFailed && w && w->awaitedDevice[0] != L'\0' && error != WAVERR_BADFORMAT) {
    // A file chosen or handed over while the device is away plays when it returns.
    std::snprintf(session.lastPath, sizeof session.lastPath, "%s", source);
    w->followingTried = false;
    AwaitDevice(window, session);
    return 1;
  }
  if (opening != OutputOpening::Ok) {
    StopPlayback(window, session);
    if (opening == OutputOpening::OpenFailed) {
      ShowMmError(window, caption, error);
    } else if (opening == OutputOpening::NoMemory) {
      ShowWarning(window, kMsgNoMemory);
    } else {
      ShowMmError(window, "waveOutPrepareHeader()", error);
    }
    return 0;
  }
  if (w) w->awaitedDevice[0] = L'\0';

  std::snprintf(session.lastPath, sizeof session.lastPath, "%s", source);
  if (w) w->followingTried = false;
  ShowPlayingControls(window, plan.isRex);
  ShowFileLength(window, session);
  UpdatePosition(window, session);
  ShowSignalPath(window, session, device, plan.isRex, plan.convertedExtension, plan.codec);
  SetTimer(window, TIMER_POSITION, kPositionPeriodMs, nullptr);
  SetTimer(window, TIMER_BUTTON_REPEAT, kButtonRepeatPeriodMs, nullptr);
  KillTimer(window, TIMER_END_OF_PLAY);
  return 1;
}

}  // namespace

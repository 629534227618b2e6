// OpenAndStart: from the text of the file-name box to sound. Decides the kind of
// file; a compressed file or a REX loop is first turned into a temporary WAVE file
// by a preparation job beside the window (player/preparation.h), and the start goes
// on when the job is done. Then reads the WAVE source, fills the session, opens the
// output, and hands the feeder a ring of prepared, free buffers. Runs on the main
// window's thread with the session lock held, so the feeder sees either the old,
// stopped state or the complete new one; the conversion itself holds no lock.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "devices/output_devices.h"
#include "dsp/sample_format.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "player/format_tags.h"
#include "player/main_window.h"
#include "player/playback_rules.h"
#include "player/preparation.h"
#include "player/wave_file.h"
#include "settings/settings_rules.h"
#include "waveform/waveform_display.h"
#include "win32/narrow_text.h"
#include "win32/scoped_lock.h"

namespace {

const char kMsgNoTempFile[] = "Unable to create temporary file.";
const char kMsgBadTempo[] = "The tempo value should  be within 20 to 450 bpm.";
const char kMsgRexFailed[] = "Unable to convert the REX file to WAV file.";
const char kMsgNoMemory[] = "Not enough memory.";
const char kStatusConverting[] = "Converting to wav file ...";
const char kStatusConverted[] = "Converted";
const char kStatusConversionFailed[] = "Conversion failed.";

constexpr uint32_t kTempNameAttempts = 256;
constexpr size_t kPartChars = kPathCapacity;  // each part of a split path: never cut
// The title shows at most this many bytes of the name and of the extension, each
// cut before a character that would not fit whole.
constexpr size_t kTitlePartBytes = 255;
constexpr uint32_t kHeaderBytes = sizeof(WAVEHDR);
// While a converter writes, the overview is first drawn when a sixteenth of the
// source's length has been written, then again each time the part written has
// doubled: the file is read about twice over in all, not once per step.
constexpr uint32_t kOverviewFirstPart = 16;

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
  MainWindow* w = MainWindowOf(window);
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
    if (session.following.file) CloseHandle(session.following.file);
    session.following = FollowingWave{};
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

// The device index of the selected entry, found again by its display name: the
// list may have changed since the box was filled.
uint32_t SelectedDeviceIndex(HWND window) {
  HWND box = GetDlgItem(window, IDC_DEVICE);
  const LRESULT selection = SendMessageA(box, CB_GETCURSEL, 0, 0);
  const uint32_t stored = static_cast<uint32_t>(SendMessageA(box, CB_GETITEMDATA, selection, 0));
  if (stored == kWaveMapperIndex || selection == CB_ERR) return stored;
  wchar_t text[kDisplayNameChars] = L"";
  const LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, selection, 0);
  if (length <= 0 || length >= static_cast<LRESULT>(kDisplayNameChars)) return stored;
  SendMessageW(box, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
  const uint32_t total = WasapiDeviceCount() + waveOutGetNumDevs();
  for (uint32_t i = 0; i < total; ++i) {
    OutputDeviceCaps caps;
    if (GetOutputDeviceCaps(i, &caps) == MMSYSERR_NOERROR && lstrcmpW(caps.displayName, text) == 0) {
      return i;
    }
  }
  return stored;
}

// Allocates, prepares and frees for the feeder one buffer of the ring. 0 after a
// failure has been reported (the caller stops playback first where required).
enum class BufferResult { Ok, NoMemory, PrepareFailed };

BufferResult AddBuffer(HWND window, PlayerSession& session, uint32_t i, uint32_t* error) {
  session.headerBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, kHeaderBytes);
  if (!session.headerBlocks[i]) return BufferResult::NoMemory;
  session.headers[i] = static_cast<WAVEHDR*>(GlobalLock(session.headerBlocks[i]));
  if (!session.headers[i]) return BufferResult::NoMemory;
  std::memset(session.headers[i], 0, kHeaderBytes);
  session.bufferBlocks[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, session.bufferBytes);
  if (!session.bufferBlocks[i]) return BufferResult::NoMemory;
  void* data = GlobalLock(session.bufferBlocks[i]);
  if (!data) return BufferResult::NoMemory;
  session.headers[i]->lpData = static_cast<LPSTR>(data);
  session.headers[i]->dwBufferLength = session.bufferBytes;
  SetStatus(window, "Calling waveOutPrepareHeader()");
  *error = session.output ? OutputPrepare(session.output, session.headers[i]) : MMSYSERR_INVALHANDLE;
  if (*error != MMSYSERR_NOERROR) return BufferResult::PrepareFailed;
  SetStatus(window, "waveOutPrepareHeader() is OK");
  session.headers[i]->dwFlags |= WHDR_DONE;
  ++session.pendingCount;
  SetEvent(session.bufferDoneEvent);
  return BufferResult::Ok;
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

void ShowPlayingControls(HWND window, const MainWindow* w, bool isRex) {
  EnableControl(window, IDC_STOP, true);
  SetDlgItemTextA(window, IDC_PAUSE, "P&ause");
  SendDlgItemMessageA(window, IDC_PAUSE, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[kImagePause] : nullptr));
  EnableControl(window, IDC_PAUSE, true);
  EnableControl(window, IDC_DETAIL, true);
  EnableControl(window, IDC_BACKWARD, true);
  EnableControl(window, IDC_FORWARD, true);
  EnableControl(window, IDC_REWIND, true);
  EnableControl(window, IDC_TEMPO_CHECK, isRex);
  EnableControl(window, IDC_TEMPO, isRex);
  SendDlgItemMessageA(window, IDC_PLAY_OR_STOP, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[kImageStop] : nullptr));
}

int OpenPlanned(HWND window, PlayerSession& session, const OpenPlan& plan, uint32_t startFrame);

void ShowFormatLine(HWND window, const PlayerSession& session, bool isRex, uint32_t tempo,
                    const char* convertedExtension) {
  char prefix[kPartChars + 16];
  FormatLinePrefix(prefix, sizeof prefix, isRex, tempo, convertedExtension);
  char text[600];
  FormatLine(text, sizeof text, prefix, FormatTagName(PlainTwinTag(session.format)), session.format.SampleRate(),
             session.format.BitsPerSample(), session.format.Channels(), session.totalFrames);
  SetDlgItemTextA(window, IDC_FORMAT, text);
}

// The data bytes written so far, whole blocks only.
uint32_t WrittenDataBytes(HANDLE file, const WaveFormat& format, uint32_t dataOffset) {
  LARGE_INTEGER size{};
  const uint32_t block = format.BlockAlign();
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= dataOffset || block == 0) return 0;
  uint64_t written = static_cast<uint64_t>(size.QuadPart) - dataOffset;
  if (written > 0xFFFFFFFFu) written = 0xFFFFFFFFu;
  return static_cast<uint32_t>(written - written % block);
}

// The data size of a file a converter still writes: the source's length as the
// converter described it, or what is written already when that is more.
uint32_t GrowingDataSize(HANDLE file, const WaveFormat& format, uint32_t dataOffset, uint32_t durationMs) {
  const uint32_t written = WrittenDataBytes(file, format, dataOffset);
  const uint32_t frames = MulDivSaturate(durationMs, format.SampleRate(), 1000);
  const uint64_t described = uint64_t{frames} * format.BlockAlign();
  const uint32_t length = described > 0xFFFFFFFFu ? 0xFFFFFFFFu - 0xFFFFFFFFu % format.BlockAlign()
                                                   : static_cast<uint32_t>(described);
  return length > written ? length : written;
}

void LoadOverview(HWND window, const PlayerSession& session, const char* path, uint32_t dataOffset,
                  uint32_t dataSize) {
  WaveformLoadRequest request{path, &session.format, dataOffset, dataSize};
  const LPARAM linearRms = IsDlgButtonChecked(window, IDC_LINEAR_RMS) == BST_CHECKED ? kWaveformLinearRms : 0;
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_LOADFILE, reinterpret_cast<WPARAM>(&request), linearRms);
}

// While a file plays the overview is drawn again only once the session lock is no
// longer held: a load stops the build under way and waits for it, and the feeder,
// which needs the lock for every buffer, must not wait that long (MSG_LOAD_OVERVIEW).
void LoadOverviewOutsideTheLock(HWND window, const char* path) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  std::snprintf(w->overviewPath, sizeof w->overviewPath, "%s", path);
  PostMessageA(window, MSG_LOAD_OVERVIEW, 0, 0);
}

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
  if (source[0] == '\0') return 0;
  if (!NarrowPathFits(source)) {
    ShowWarning(window, kMsgUnableToOpenWave);
    return 0;
  }
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

int FinishStreamedConversion(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request) {
  if (!session.growing || !session.sourceFile) return 0;
  if (!succeeded) {
    StopPlayback(window, session);
    SetStatus(window, kStatusConversionFailed);
    return 0;
  }
  // The converter is gone: the file can now be marked to go with its last handle.
  LARGE_INTEGER position{}, none{};
  SetFilePointerEx(session.sourceFile, none, &position, FILE_CURRENT);
  HANDLE reopened = OpenWaveFile(request.target, true);
  uint32_t dataSize = WrittenDataBytes(session.sourceFile, session.format, session.dataOffset);
  if (reopened != INVALID_HANDLE_VALUE) {
    WaveSource wave;
    FileByteSource bytes(reopened);
    if (ReadWaveSource(bytes, wave) == WaveReadResult::Ok && wave.dataOffset == session.dataOffset &&
        wave.dataSize < dataSize) {
      dataSize = wave.dataSize - wave.dataSize % session.format.BlockAlign();  // the header's true size
    }
    SetFilePointerEx(reopened, position, nullptr, FILE_BEGIN);
    CloseHandle(session.sourceFile);
    session.sourceFile = reopened;
  } else {
    DeleteFileA(request.target);  // the handle shares deletion: the file goes when it is closed
  }
  const uint32_t read = session.dataSize - session.remainingBytes;
  session.dataSize = dataSize;
  session.remainingBytes = dataSize > read ? dataSize - read : 0;
  session.totalFrames = TotalFrames(session.format, dataSize);
  session.growing = 0;
  session.awaitingData = 0;
  SetEvent(session.bufferDoneEvent);
  char name[kPartChars], extension[kPartChars];
  SplitFileName(request.source, name, extension, kPartChars);
  ShowFormatLine(window, session, false, 0, extension);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0,
                      FramesToMilliseconds(session.totalFrames, session.format.SampleRate()));
  LoadOverviewOutsideTheLock(window, request.target);
  SetStatus(window, kStatusConverted);
  return 1;
}

void QueueFollowingWave(HWND window, PlayerSession& session) {
  MainWindow* w = MainWindowOf(window);
  // A file the user asked for is being prepared: it is what comes next.
  if (!w || (w->preparation && !w->streaming) || w->followingTried || !session.output || !session.sourceFile ||
      session.growing || session.following.file || session.leftFile ||
      IsDlgButtonChecked(window, IDC_SEQUENTIAL) != BST_CHECKED) {
    return;
  }
  // Looked at once the feeder has less than two rings and a second left to read.
  const uint64_t soon = uint64_t{session.bufferBytes} * session.bufferCount * 2 + session.format.AvgBytesPerSec();
  if (session.remainingBytes > soon) return;
  w->followingTried = true;
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT next = NextSequentialEntry(window);
  if (next < 0) return;
  FollowingWave f{};
  const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, next, 0);
  if (length == CB_ERR || length >= kPathCapacity || SendMessageA(box, CB_GETLBTEXT, next, reinterpret_cast<LPARAM>(f.path)) == CB_ERR) {
    return;
  }
  char name[kPartChars], extension[kPartChars];
  SplitFileName(f.path, name, extension, kPartChars);
  if (FileKindOfExtension(extension) != FileKind::Wave) return;  // the converter or the renderer: stop and start
  HANDLE file = OpenWaveFile(f.path, false);
  if (file == INVALID_HANDLE_VALUE) return;  // the end of play tries it and says why
  WaveSource wave;
  FileByteSource bytes(file);
  if (ReadWaveSource(bytes, wave) != WaveReadResult::Ok || !SameStreamFormat(session.format, wave.format)) {
    CloseHandle(file);
    return;
  }
  f.file = file;  // the reader left it at the data offset
  f.dataOffset = wave.dataOffset;
  f.dataSize = wave.dataSize;
  f.totalFrames = wave.totalFrames;
  f.historyIndex = static_cast<int32_t>(next);
  session.following = f;
}

void ShowEnteredFile(HWND window, PlayerSession& session) {
  if (!session.leftFile) return;
  // The buffer that holds the change is still out: the file left stays open until
  // it comes back (UpdatePosition closes it then).
  if (session.joinFile) CloseHandle(session.joinFile);
  session.joinFile = session.leftFile;
  session.leftFile = nullptr;
  if (MainWindow* w = MainWindowOf(window)) w->followingTried = false;
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  char entry[kPathCapacity] = "";
  const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, session.enteredHistoryIndex, 0);
  if (length != CB_ERR && length < kPathCapacity &&
      SendMessageA(box, CB_GETLBTEXT, session.enteredHistoryIndex, reinterpret_cast<LPARAM>(entry)) != CB_ERR &&
      lstrcmpiA(entry, session.enteredPath) == 0) {
    SendMessageA(box, CB_SETCURSEL, session.enteredHistoryIndex, 0);
  } else {
    SetWindowTextA(box, session.enteredPath);
  }
  std::snprintf(session.lastPath, sizeof session.lastPath, "%s", session.enteredPath);
  char name[kPartChars], extension[kPartChars];
  SplitFileName(session.enteredPath, name, extension, kPartChars);
  char text[600];
  std::snprintf(text, sizeof text, "%.*s%.*s - %s", static_cast<int>(WholeCharacterPrefix(name, kTitlePartBytes)),
                name, static_cast<int>(WholeCharacterPrefix(extension, kTitlePartBytes)), extension, kAppCaption);
  SetWindowTextA(window, text);
  ShowFormatLine(window, session, false, 0, "");
  ShowSignalPathOfFollowingWave(window);
  EnableControl(window, IDC_TEMPO_CHECK, false);  // the tempo was the loop's left
  EnableControl(window, IDC_TEMPO, false);
  LoadOverviewOutsideTheLock(window, session.enteredPath);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0,
                      FramesToMilliseconds(session.totalFrames, session.format.SampleRate()));
}

uint32_t RefreshStreamedOverview(HWND window, PlayerSession& session, const char* path, uint32_t shownBytes) {
  if (!session.growing || !session.sourceFile) return shownBytes;
  const uint32_t written = WrittenDataBytes(session.sourceFile, session.format, session.dataOffset);
  const uint32_t step = shownBytes > session.dataSize / kOverviewFirstPart ? shownBytes : session.dataSize / kOverviewFirstPart;
  if (written < shownBytes || written - shownBytes < step) return shownBytes;
  LoadOverviewOutsideTheLock(window, path);
  return written;
}

void LoadPostedOverview(HWND window, PlayerSession& session) {
  MainWindow* w = MainWindowOf(window);
  if (!w || w->overviewPath[0] == '\0') return;
  uint32_t dataOffset, dataSize;
  {
    ScopedLock lock(session.lock);
    if (!session.sourceFile) return;  // stopped since it was asked for
    dataOffset = session.dataOffset;
    dataSize = session.dataSize;
  }
  // Only this thread changes the format: it is read without the lock.
  LoadOverview(window, session, w->overviewPath, dataOffset, dataSize);
}

OutputOpening OpenOutputRing(HWND window, PlayerSession& session, uint32_t device, uint32_t* error,
                             char* caption, size_t captionBytes) {
  ResetEvent(session.bufferDoneEvent);
  OutputDeviceCaps caps;
  if (GetOutputDeviceCaps(device, &caps) != MMSYSERR_NOERROR) caps.displayName[0] = L'\0';
  char deviceName[2 * kDisplayNameChars];
  NarrowDeviceName(caps.displayName, deviceName, sizeof deviceName);
  char openText[sizeof deviceName + 32];
  std::snprintf(openText, sizeof openText, "Calling waveOutOpen('%s')", deviceName);
  SetStatus(window, openText);
  const uint16_t tag = PlainTwinTag(session.format);
  DWORD flags = CALLBACK_EVENT;
  if (tag != kFormatTagPcm && tag != kFormatTagFloat) flags |= WAVE_MAPPED;
  OutputHandle* output = nullptr;
  *error = OutputOpen(&output, device, session.format, reinterpret_cast<DWORD_PTR>(session.bufferDoneEvent), flags);
  if (*error != MMSYSERR_NOERROR) {
    char failed[sizeof deviceName + 32];
    std::snprintf(failed, sizeof failed, "waveOutOpen('%s')", deviceName);
    SetStatus(window, failed);
    if (caption && captionBytes) lstrcpynA(caption, failed, static_cast<int>(captionBytes));
    return OutputOpening::OpenFailed;
  }
  session.output = output;
  if (session.paused) OutputPause(output);  // a pause made while the device was away
  SetStatus(window, openText);

  BOOL isNumber = FALSE;
  const UINT lengthField = GetDlgItemInt(window, IDC_BUFFER_LENGTH, &isNumber, FALSE);
  const uint32_t ms = ClampBufferMilliseconds(isNumber != FALSE, lengthField);
  session.bufferBytes = BufferBytes(session.format.AvgBytesPerSec(), session.format.BlockAlign(), ms);
  const UINT countField = GetDlgItemInt(window, IDC_BUFFER_COUNT, &isNumber, FALSE);
  session.bufferCount = ClampBufferCount(isNumber != FALSE, countField);
  session.ringIndex = 0;
  session.pendingCount = 0;
  session.bytesQueued = 0;
  for (uint32_t& serial : session.bufferFileSerial) serial = 0;
  // A size that does not fit in 32 bits is no more to be had than a failed allocation.
  BufferResult result = session.bufferBytes ? BufferResult::Ok : BufferResult::NoMemory;
  for (uint32_t i = 0; i < session.bufferCount && result == BufferResult::Ok; ++i) {
    result = AddBuffer(window, session, i, error);
  }
  if (result == BufferResult::Ok) return OutputOpening::Ok;
  CloseOutput(window, session);
  return result == BufferResult::NoMemory ? OutputOpening::NoMemory : OutputOpening::PrepareFailed;
}

namespace {

// Steps 5 on of a start: the file to open is known.
int OpenPlanned(HWND window, PlayerSession& session, const OpenPlan& plan, uint32_t startFrame) {
  MainWindow* w = MainWindowOf(window);
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

  char text[600];
  std::snprintf(text, sizeof text, "%.*s%.*s - %s", static_cast<int>(WholeCharacterPrefix(name, kTitlePartBytes)),
                name, static_cast<int>(WholeCharacterPrefix(extension, kTitlePartBytes)), extension, kAppCaption);
  SetWindowTextA(window, text);
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
  ShowPlayingControls(window, w, plan.isRex);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0,
                      FramesToMilliseconds(session.totalFrames, session.format.SampleRate()));
  UpdatePosition(window, session);
  ShowSignalPath(window, session, device, plan.isRex, plan.convertedExtension, plan.codec);
  SetTimer(window, TIMER_POSITION, kPositionPeriodMs, nullptr);
  SetTimer(window, TIMER_BUTTON_REPEAT, kButtonRepeatPeriodMs, nullptr);
  KillTimer(window, TIMER_END_OF_PLAY);
  return 1;
}

}  // namespace

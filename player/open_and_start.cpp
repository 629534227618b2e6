// OpenAndStart: from the text of the file-name box to sound. Decides the kind of
// file, converts or renders it to a temporary WAVE file when needed, reads the WAVE
// source, fills the session, opens the output, and hands the feeder a ring of
// prepared, free buffers. Runs on the main window's thread with the session lock
// held, so the feeder sees either the old, stopped state or the complete new one.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "devices/output_devices.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "player/format_tags.h"
#include "player/main_window.h"
#include "player/playback_rules.h"
#include "player/wave_file.h"
#include "rex/rex_to_wave.h"
#include "rex/standard_search.h"
#include "settings/settings_rules.h"
#include "waveform/waveform_display.h"

namespace {

const char kMsgNoTempFile[] = "Unable to create temporary file.";
const char kMsgBadTempo[] = "The tempo value should  be within 20 to 450 bpm.";
const char kMsgRexFailed[] = "Unable to convert the REX file to WAV file.";
const char kMsgNoMemory[] = "Not enough memory.";
const char kStatusConverting[] = "Converting to wav file ...";
const char kStatusConverted[] = "Converted";
const char kStatusConversionFailed[] = "Conversion failed.";

constexpr uint32_t kTempNameAttempts = 256;
constexpr size_t kPartChars = 256;  // each part of a split path: 255 and the terminator
constexpr uint32_t kHeaderBytes = sizeof(WAVEHDR);

// Shows the wait cursor for the life of a scope.
class WaitCursor {
 public:
  WaitCursor() : previous_(SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)))) {}
  ~WaitCursor() { SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};

// What the kind-specific steps produced: the file to open and how it is shown.
struct OpenPlan {
  char path[MAX_PATH];
  bool temporary = false;
  bool isRex = false;
  uint32_t tempo = 0;
  char convertedExtension[kPartChars] = "";
};

// Creates "WAV%04X.wav" in the temporary folder exclusively; false after 256 tries.
bool CreateConversionTarget(char* path) {
  char folder[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH) return false;
  for (uint32_t attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    char name[16];
    ConversionTempName(name, sizeof name, GetTickCount(), attempt);
    if (std::snprintf(path, MAX_PATH, "%s%s", folder, name) >= MAX_PATH) return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
  }
  return false;
}

// Runs the converter and waits for it; true when it ran and exited with 0.
bool RunConverter(const char* source, const char* target) {
  char commandLine[3 * MAX_PATH];
  if (!ConverterCommandLine(commandLine, sizeof commandLine, source, target)) return false;
  // Named in full: CreateProcess's own search would look in the current directory,
  // the folder of a document opened by double-click, second.
  char program[MAX_PATH];
  if (!FindInStandardSearch(kConverterProgram, program, sizeof program)) return false;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  DWORD exitCode = 1;
  {
    WaitCursor cursor;
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = 1;
  CloseHandle(process.hProcess);
  return exitCode == 0;
}

// A compressed file: convert it, or fall back to the source itself as WAVE.
// 0 when no temporary file could be made (the message has been shown).
int PlanConversion(HWND window, const char* source, const char* extension, OpenPlan& plan) {
  char target[MAX_PATH];
  if (!CreateConversionTarget(target)) {
    ShowWarning(window, kMsgNoTempFile);
    return 0;
  }
  SetStatus(window, kStatusConverting);
  if (RunConverter(source, target)) {
    SetStatus(window, kStatusConverted);
    std::snprintf(plan.convertedExtension, sizeof plan.convertedExtension, "%s", extension);
    std::snprintf(plan.path, sizeof plan.path, "%s", target);
    plan.temporary = true;
  } else {
    SetStatus(window, kStatusConversionFailed);
    DeleteFileA(target);
    std::snprintf(plan.path, sizeof plan.path, "%s", source);
  }
  return 1;
}

// A REX loop: check the tempo, stop what plays, render into a temporary file.
int PlanRexRender(HWND window, PlayerSession& session, const char* source, OpenPlan& plan) {
  BOOL isNumber = FALSE;
  const UINT bpm = GetDlgItemInt(window, IDC_TEMPO, &isNumber, FALSE);
  int minimum = 0, maximum = 0;
  SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&minimum),
                      reinterpret_cast<LPARAM>(&maximum));
  const bool checked = IsDlgButtonChecked(window, IDC_TEMPO_CHECK) == BST_CHECKED;
  if (!TempoFromField(checked, isNumber != FALSE, bpm, static_cast<uint32_t>(minimum),
                      static_cast<uint32_t>(maximum), &plan.tempo)) {
    ShowWarning(window, kMsgBadTempo);
    return 0;
  }
  StopPlayback(window, session);
  char folder[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(folder, "WAV", 0, plan.path)) {
    ShowWarning(window, kMsgNoTempFile);
    return 0;
  }
  int result;
  {
    WaitCursor cursor;
    result = RenderRexToWave(source, plan.path, &plan.tempo);
  }
  if (result != 0) {
    DeleteFileA(plan.path);
    ShowWarning(window, kMsgRexFailed);
    return 0;
  }
  plan.isRex = true;
  plan.temporary = true;
  return 1;
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

}  // namespace

int OpenAndStart(HWND window, PlayerSession& session, uint32_t startFrame) {
  MainWindow* w = MainWindowOf(window);
  char source[MAX_PATH];
  // A longer path would be cut into the name of some other file: refuse it.
  const int textLength = GetWindowTextLengthA(GetDlgItem(window, IDC_FILE_NAME));
  if (textLength <= 0) return 0;
  if (textLength >= MAX_PATH) {
    ShowWarning(window, kMsgUnableToOpenWave);
    return 0;
  }
  GetDlgItemTextA(window, IDC_FILE_NAME, source, MAX_PATH);
  if (source[0] == '\0') return 0;
  char name[kPartChars], extension[kPartChars];
  SplitFileName(source, name, extension, kPartChars);

  OpenPlan plan;
  std::snprintf(plan.path, sizeof plan.path, "%s", source);
  switch (FileKindOfExtension(extension)) {
    case FileKind::Converted:
      if (!PlanConversion(window, source, extension, plan)) return 0;
      break;
    case FileKind::Rex:
      if (!PlanRexRender(window, session, source, plan)) return 0;
      break;
    case FileKind::Wave:
      break;
  }

  HANDLE file = OpenWaveFile(plan.path, plan.temporary);
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

  WaveformLoadRequest request{plan.path, &session.format, session.dataOffset, session.dataSize};
  const LPARAM linearRms = IsDlgButtonChecked(window, IDC_LINEAR_RMS) == BST_CHECKED ? kWaveformLinearRms : 0;
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_LOADFILE, reinterpret_cast<WPARAM>(&request), linearRms);

  const uint32_t device = SelectedDeviceIndex(window);

  char text[600];
  std::snprintf(text, sizeof text, "%.255s%.255s - %s", name, extension, kAppCaption);
  SetWindowTextA(window, text);
  char prefix[kPartChars + 16];
  FormatLinePrefix(prefix, sizeof prefix, plan.isRex, plan.tempo, plan.convertedExtension);
  FormatLine(text, sizeof text, prefix, FormatTagName(session.format.FormatTag()),
             session.format.SampleRate(), session.format.BitsPerSample(), session.format.Channels(),
             session.totalFrames);
  SetDlgItemTextA(window, IDC_FORMAT, text);

  ResetEvent(session.bufferDoneEvent);
  OutputDeviceCaps caps;
  if (GetOutputDeviceCaps(device, &caps) != MMSYSERR_NOERROR) caps.displayName[0] = L'\0';
  char deviceName[2 * kDisplayNameChars];
  NarrowDeviceName(caps.displayName, deviceName, sizeof deviceName);
  char openText[sizeof deviceName + 32];
  std::snprintf(openText, sizeof openText, "Calling waveOutOpen('%s')", deviceName);
  SetStatus(window, openText);
  const uint16_t tag = session.format.FormatTag();
  DWORD flags = CALLBACK_EVENT;
  if (tag != kFormatTagPcm && tag != kFormatTagFloat) flags |= WAVE_MAPPED;
  OutputHandle* output = nullptr;
  const uint32_t opened = OutputOpen(&output, device, session.format,
                                     reinterpret_cast<DWORD_PTR>(session.bufferDoneEvent), flags);
  if (opened != MMSYSERR_NOERROR) {
    char caption[sizeof deviceName + 32];
    std::snprintf(caption, sizeof caption, "waveOutOpen('%s')", deviceName);
    SetStatus(window, caption);
    StopPlayback(window, session);
    ShowMmError(window, caption, opened);
    return 0;
  }
  session.output = output;
  SetStatus(window, openText);

  BOOL isNumber = FALSE;
  const UINT lengthField = GetDlgItemInt(window, IDC_BUFFER_LENGTH, &isNumber, FALSE);
  const uint32_t ms = ClampBufferMilliseconds(isNumber != FALSE, lengthField);
  session.bufferBytes = BufferBytes(session.format.AvgBytesPerSec(), session.format.BlockAlign(), ms);
  const UINT countField = GetDlgItemInt(window, IDC_BUFFER_COUNT, &isNumber, FALSE);
  session.bufferCount = ClampBufferCount(isNumber != FALSE, countField);
  session.ringIndex = 0;
  // A size that does not fit in 32 bits is no more to be had than a failed allocation.
  BufferResult result = session.bufferBytes ? BufferResult::Ok : BufferResult::NoMemory;
  uint32_t error = MMSYSERR_NOERROR;
  for (uint32_t i = 0; i < session.bufferCount && result == BufferResult::Ok; ++i) {
    result = AddBuffer(window, session, i, &error);
  }
  if (result != BufferResult::Ok) {
    StopPlayback(window, session);
    if (result == BufferResult::NoMemory) {
      ShowWarning(window, kMsgNoMemory);
    } else {
      ShowMmError(window, "waveOutPrepareHeader()", error);
    }
    return 0;
  }

  std::snprintf(session.lastPath, sizeof session.lastPath, "%s", source);
  ShowPlayingControls(window, w, plan.isRex);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0,
                      FramesToMilliseconds(session.totalFrames, session.format.SampleRate()));
  UpdatePosition(window, session);
  SetTimer(window, TIMER_POSITION, kPositionPeriodMs, nullptr);
  SetTimer(window, TIMER_BUTTON_REPEAT, kButtonRepeatPeriodMs, nullptr);
  KillTimer(window, TIMER_END_OF_PLAY);
  return 1;
}

// What the window shows of the file that plays: its title, the format line, the
// waveform's overview, range and cursor, the time display, and the file entered
// when sequential play went on without a gap.
#include <windows.h>

#include <cstdio>

#include "dsp/sample_format.h"
#include "engine/session.h"
#include "playback/playback_state.h"
#include "playback/window_hooks.h"
#include "sources/file_kind.h"
#include "sources/format_tags.h"
#include "waveform/waveform_display.h"
#include "win32/narrow_text.h"
#include "win32/scoped_lock.h"
#include "window/main_window.h"
#include "window/window_texts.h"

void ShowFormatLine(HWND window, const PlayerSession& session, bool isRex, uint32_t tempo,
                    const char* convertedExtension) {
  char prefix[kPartChars + 16];
  FormatLinePrefix(prefix, sizeof prefix, isRex, tempo, convertedExtension);
  char text[600];
  FormatLine(text, sizeof text, prefix, FormatTagName(PlainTwinTag(session.format)), session.format.SampleRate(),
             session.format.BitsPerSample(), session.format.Channels(), session.totalFrames);
  SetDlgItemTextA(window, IDC_FORMAT, text);
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

// The title shows at most this many bytes of the name and of the extension, each
// cut before a character that would not fit whole.
constexpr size_t kTitlePartBytes = 255;

void ShowFileTitle(HWND window, const char* name, const char* extension) {
  char text[600];
  std::snprintf(text, sizeof text, "%.*s%.*s - %s", static_cast<int>(WholeCharacterPrefix(name, kTitlePartBytes)),
                name, static_cast<int>(WholeCharacterPrefix(extension, kTitlePartBytes)), extension, kAppCaption);
  SetWindowTextA(window, text);
}

void ShowFileLength(HWND window, const PlayerSession& session) {
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0,
                      FramesToMilliseconds(session.totalFrames, session.format.SampleRate()));
}

void ClearOverview(HWND window) {
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_LOADFILE, 0, 0);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0, 0);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETPOS, 0, 0);
}

void ShowEnteredFile(HWND window, const PlayerSession& session, int32_t index, const char* path) {
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  char entry[kPathCapacity] = "";
  const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, index, 0);
  if (length != CB_ERR && length < kPathCapacity &&
      SendMessageA(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(entry)) != CB_ERR &&
      lstrcmpiA(entry, path) == 0) {
    SendMessageA(box, CB_SETCURSEL, index, 0);
  } else {
    SetWindowTextA(box, path);
  }
  char name[kPartChars], extension[kPartChars];
  SplitFileName(path, name, extension, kPartChars);
  ShowFileTitle(window, name, extension);
  ShowFormatLine(window, session, false, 0, "");
  ShowSignalPathOfFollowingWave(window);
  EnableControl(window, IDC_TEMPO_CHECK, false);  // the tempo was the loop's left
  EnableControl(window, IDC_TEMPO, false);
  LoadOverviewOutsideTheLock(window, path);
  ShowFileLength(window, session);
}

void StartListEntry(HWND window, LRESULT index) {
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  SendMessageA(box, CB_SETCURSEL, index, 0);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_FILE_NAME, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

void ShowPlayPosition(HWND window, uint32_t milliseconds, uint32_t totalFrames, uint32_t sampleRate) {
  SendMessageA(ControlOf(window, IDC_WAVEFORM), WDM_SETPOS, milliseconds, 0);
  char text[32];
  FormatTimeText(text, sizeof text, milliseconds, totalFrames, sampleRate);
  SetWindowTextA(ControlOf(window, IDC_TIME), text);
}

void ShowKeptPlace(HWND window, uint32_t frame, uint32_t totalFrames, uint32_t sampleRate) {
  const uint32_t ms = FramesToMilliseconds(frame, sampleRate);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0, FramesToMilliseconds(totalFrames, sampleRate));
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETPOS, ms, 0);
  char time[32];
  FormatTimeText(time, sizeof time, ms, totalFrames, sampleRate);
  SetDlgItemTextA(window, IDC_TIME, time);
}

// What the main window tells the user while it plays: the play position (time
// display, waveform cursor, resume position), the detail line, the device line
// after each write, the volume text, and wave-out error boxes.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "dsp/gain.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "player/main_window.h"
#include "player/playback_rules.h"
#include "waveform/waveform_display.h"
#include "win32/scoped_lock.h"

namespace {

// One position query in the unit asked for; `error` receives the result code.
MMTIME QueryPosition(OutputHandle* output, UINT unit, uint32_t* error) {
  MMTIME time{};
  time.wType = unit;
  *error = OutputGetPosition(output, &time);
  return time;
}

// The detail line's three texts: samples, milliseconds and bytes, each with its
// own error wording.
void ShowDetailLine(HWND window, OutputHandle* output, const MMTIME& bytes, uint32_t bytesError) {
  char samplesText[32], msText[32], bytesText[32];
  uint32_t error = 0;
  const MMTIME samples = QueryPosition(output, TIME_SAMPLES, &error);
  if (error) {
    std::snprintf(samplesText, sizeof samplesText, "MMSYSERROR(%u)", error);
  } else if (samples.wType != TIME_SAMPLES) {
    std::snprintf(samplesText, sizeof samplesText, "FAILED");
  } else {
    std::snprintf(samplesText, sizeof samplesText, "%lu", static_cast<unsigned long>(samples.u.sample));
  }
  const MMTIME ms = QueryPosition(output, TIME_MS, &error);
  if (error) {
    std::snprintf(msText, sizeof msText, "ERROR(%u)", error);
  } else if (ms.wType != TIME_MS) {
    std::snprintf(msText, sizeof msText, "FAILED");
  } else {
    FormatClockText(msText, sizeof msText, ms.u.ms);
  }
  if (bytesError) {
    std::snprintf(bytesText, sizeof bytesText, "ERROR(%u)", bytesError);
  } else if (bytes.wType != TIME_BYTES) {
    std::snprintf(bytesText, sizeof bytesText, "FAILED");
  } else {
    std::snprintf(bytesText, sizeof bytesText, "%lu", static_cast<unsigned long>(bytes.u.cb));
  }
  char line[128];
  std::snprintf(line, sizeof line, "ms=%s  smpl=%s  cb=%s", msText, samplesText, bytesText);
  SetWindowTextA(ControlOf(window, IDC_DETAIL), line);
}

// The byte position an answer stands for, whatever unit it came back in.
uint32_t PlayedBytes(const MMTIME& time, uint32_t error, const WaveFormat& format) {
  if (error) return 0;
  switch (time.wType) {
    case TIME_MS:
      return MulDivSaturate(time.u.ms, format.AvgBytesPerSec(), 1000);
    case TIME_SAMPLES:
      return MulDivSaturate(time.u.sample, format.AvgBytesPerSec(), format.SampleRate());
    case TIME_BYTES:
      return time.u.cb;
    default:
      return 0;
  }
}

}  // namespace

int UpdatePosition(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  if (!session.output) return 0;
  if (session.joinFile && !BufferOutFrom(session, session.fileSerial - 1)) {
    CloseHandle(session.joinFile);
    session.joinFile = nullptr;
  }
  MainWindow* w = MainWindowOf(window);
  uint32_t bytesError = 0;
  const MMTIME bytes = QueryPosition(session.output, TIME_BYTES, &bytesError);
  if (w && w->detailsShown) ShowDetailLine(window, session.output, bytes, bytesError);
  const uint32_t played = PlayedBytes(bytes, bytesError, session.format);
  if (session.dataSize == 0) return 1;

  uint32_t p = PlayingByte(session.dataSize, session.remainingBytes, session.bytesQueued, played);
  uint32_t totalFrames = session.totalFrames;
  if (session.leftFile) {
    // Read on into the following file: until what was queued before the change
    // has played, the sound is the file left, and so is what the window shows.
    const uint32_t read = session.dataSize - session.remainingBytes;
    const uint32_t queued = session.bytesQueued - played;
    if (read < queued) {
      const uint32_t back = queued - read;
      p = back < session.leftDataSize ? session.leftDataSize - back : 0;
      totalFrames = session.leftTotalFrames;
    } else {
      ShowEnteredFile(window, session);
    }
  }
  const uint32_t rate = session.format.SampleRate();
  const uint32_t frame = MulDivSaturate(p, rate, session.format.AvgBytesPerSec());
  if (w) w->resumePosition = frame;
  const uint32_t ms = FramesToMilliseconds(frame, rate);
  SendMessageA(ControlOf(window, IDC_WAVEFORM), WDM_SETPOS, ms, 0);
  char text[32];
  FormatTimeText(text, sizeof text, ms, totalFrames, rate);
  SetWindowTextA(ControlOf(window, IDC_TIME), text);
  return 1;
}

void UpdateVolume(PlayerSession& session, HWND window) {
  const int32_t v = static_cast<int32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0));
  char text[16];
  FormatVolumeText(text, sizeof text, v);
  SetDlgItemTextA(window, IDC_VOLUME_TEXT, text);
  ShowSignalPathVolume(window, v);
  ScopedLock lock(session.lock);
  session.gain = GainFromVolume(v);
}

void ShowDeviceInfo(HWND window, uint32_t ringIndex) {
  MainWindow* w = MainWindowOf(window);
  uint32_t kind = 0, rate = 0, bits = 0, channels = 0;
  char name[64] = {};
  char text[160];
  if (!w || !w->session->output ||
      QueryOutputInfo(w->session->output, &kind, &rate, &bits, &channels, name) != MMSYSERR_NOERROR) {
    std::snprintf(text, sizeof text, "waveOutWrite(%u) is OK", ringIndex);
  } else {
    const char* kindText = kind == kOutputKindMme ? "MME" : kind == kOutputKindWasapi ? "WASAPI (Exclusive)" : "???";
    std::snprintf(text, sizeof text, "%s %uHz %ubits %uch Buffer#%u\r\n[%.63s]", kindText, rate, bits,
                  channels, ringIndex, name);
  }
  SetStatus(window, text);
}

void ShowMmError(HWND window, const char* caption, uint32_t code) {
  char text[256];
  if (waveOutGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR || text[0] == '\0') {
    std::snprintf(text, sizeof text, "MMSYSERROR(%u)", code);
  }
  MessageBoxA(window, text, caption, MB_OK | MB_ICONWARNING);
}

// The signal path shown in the main window: the verdict on the line of its own at
// the foot of the detail area and as the format line's tooltip, the format
// negotiation as the tooltip of the detail and signal-path lines.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "devices/wasapi_negotiation.h"
#include "dsp/sample_format.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "sources/source_stream.h"
#include "window/main_window.h"

namespace {

constexpr size_t kVerdictChars = 256;
constexpr size_t kNegotiationChars = 1536;
// Long enough to show, long enough to read twenty lines of negotiation.
constexpr int kTipShowMs = 32767;

// UTF-8 (the verdict's arrows) as UTF-16; cut, but terminated.
void Widen(const char* text, wchar_t* wide, int capacity) {
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, capacity) == 0) wide[capacity - 1] = L'\0';
}

void SetTip(HWND tips, HWND window, int id, const wchar_t* text) {
  if (!tips) return;
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, id));
  tool.lpszText = const_cast<wchar_t*>(text);
  SendMessageW(tips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ShowVerdict(HWND window, const MainWindow& w) {
  char verdict[kVerdictChars];
  FormatVerdict(verdict, sizeof verdict, w.signalPath);
  wchar_t wide[kVerdictChars];
  Widen(verdict, wide, kVerdictChars);
  SetWindowTextW(GetDlgItem(window, IDC_SIGNAL_PATH), wide);
  SetTip(w.signalTips, window, IDC_FORMAT, wide);
}

PathFormat PathFormatOf(const SampleFormat& format) {
  PathFormat path;
  path.bits = format.isFloat ? format.containerBits : format.validBits;
  path.isFloat = format.isFloat;
  path.channels = format.channels;
  return path;
}

int32_t VolumeOf(HWND window) {
  return static_cast<int32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0));
}

}  // namespace

void AttachSignalPathTips(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  // The dialog's controls are ANSI windows; this one is made a Unicode window, so
  // the verdict's arrows reach it whatever the code page.
  HWND line = GetDlgItem(window, IDC_SIGNAL_PATH);
  SetWindowLongPtrW(line, GWLP_WNDPROC, GetWindowLongPtrW(line, GWLP_WNDPROC));
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
  if (!tips) return;  // the lines themselves still tell
  // A width makes the tooltip break its text into lines at "\r\n"; the window's
  // own leaves the longest negotiation line whole.
  RECT bounds;
  GetWindowRect(window, &bounds);
  SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, bounds.right - bounds.left);
  SendMessageW(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, kTipShowMs);
  for (int id : {IDC_FORMAT, IDC_DETAIL, IDC_SIGNAL_PATH}) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, id));
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  w->signalTips = tips;  // owned by the window, destroyed with it
}

void ShowSignalPath(HWND window, PlayerSession& session, uint32_t device, bool isRex,
                    const char* convertedExtension, const char* codec) {
  MainWindow* w = MainWindowOf(window);
  SampleFormat file;
  if (!w || !session.output || !ParseSampleFormat(session.format, file)) return;
  SignalPath& path = w->signalPath;
  path = SignalPath{};
  path.converted = convertedExtension[0] != '\0';
  if (path.converted && codec[0] != '\0') {  // as the converter described the source
    std::snprintf(path.codec, sizeof path.codec, "%s", codec);
    path.lossy = !IsLosslessCodec(codec);
  } else if (path.converted) {
    CodecOfExtension(convertedExtension, path.codec, sizeof path.codec, &path.lossy);
  }
  path.rexRender = isRex;
  path.file = PathFormatOf(file);
  path.volumeX10 = VolumeOf(window);
  // A wave-out output is handed the file's own format; what the device gets after
  // the mapper or the mixer is the system's business, and no longer the file.
  path.device = path.file;
  path.route = device == WAVE_MAPPER ? OutputRoute::kSoundMapper : OutputRoute::kWaveOutDevice;
  NegotiationLog log;
  if (QueryNegotiation(session.output, &log)) {
    uint32_t kind = 0, rate = 0, bits = 0, channels = 0;
    if (QueryOutputInfo(session.output, &kind, &rate, &bits, &channels, nullptr) == MMSYSERR_NOERROR) {
      path.device = PathFormat{bits, false, channels};  // exclusive mode plays integer PCM only
    }
    path.route = OutputRoute::kWasapiExclusive;
  }
  w->signalPathKnown = true;
  ShowVerdict(window, *w);

  char negotiation[kNegotiationChars];
  FormatNegotiation(negotiation, sizeof negotiation, log);
  wchar_t wide[kNegotiationChars];
  Widen(negotiation, wide, kNegotiationChars);
  SetTip(w->signalTips, window, IDC_DETAIL, wide);
  SetTip(w->signalTips, window, IDC_SIGNAL_PATH, wide);
}

void ShowSignalPathOfFollowingWave(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (!w || !w->signalPathKnown) return;
  // The output and the format stay across the change; what the file left went
  // through before it reached the player (the converter, the render) does not.
  SignalPath& path = w->signalPath;
  path.converted = path.lossy = path.rexRender = false;
  path.codec[0] = '\0';
  ShowVerdict(window, *w);
}

void ShowSignalPathVolume(HWND window, int32_t volumeX10) {
  MainWindow* w = MainWindowOf(window);
  if (!w || !w->signalPathKnown || w->signalPath.volumeX10 == volumeX10) return;
  w->signalPath.volumeX10 = volumeX10;
  ShowVerdict(window, *w);
}

// The waveform display: a static control showing an overview of the whole file,
// played part left of the play position and unplayed part right of it, drawn from
// two off-screen images that the image builder thread computes once per file.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "dsp/wave_format.h"
#include "settings/settings_rules.h"

// Messages the owner drives the display with.
constexpr UINT WDM_SETPOS = WM_USER + 2;        // wParam position; returns the previous one
constexpr UINT WDM_SETRANGE = WM_USER + 6;      // wParam minimum, lParam maximum
constexpr UINT WDM_LOADFILE = WM_USER + 500;    // wParam WaveformLoadRequest* or 0, lParam options
constexpr UINT WDM_REFRESH = WM_USER + 501;     // posted by the builder: repaint
constexpr UINT WDM_SETOPTIONS = WM_USER + 502;  // lParam options: rebuild with them

// Options bit 0: the RMS bar on a linear scale; clear, on a decibel scale.
constexpr LPARAM kWaveformLinearRms = 1;

// Colours of the two images and of the message.
constexpr COLORREF kPlayedBackground = RGB(192, 192, 192);
constexpr COLORREF kUnplayedBackground = RGB(255, 255, 255);
constexpr COLORREF kPlayedPeak = RGB(0, 96, 192);
constexpr COLORREF kUnplayedPeak = RGB(64, 64, 64);
constexpr COLORREF kPlayedRms = RGB(0, 128, 255);
constexpr COLORREF kUnplayedRms = RGB(128, 128, 128);
constexpr COLORREF kMessageText = RGB(128, 128, 128);

// Drawn bottom right into both images when a file cannot be shown.
extern const char kMsgWaveformNotAvailable[];  // "graphic image is not available for this format. "

// What WDM_LOADFILE loads: the data region the owner's WAVE reader found.
struct WaveformLoadRequest {
  const char* fileName;
  const WaveFormat* format;
  uint32_t dataOffset;  // bytes from the start of the file to the first frame
  uint32_t dataLength;  // bytes, as the data chunk declares
};

// Where a build stands. Building and complete are one field so that the builder
// passes from one to the other in a single store: the owner's reuse test, which
// accepts either, never sees a moment with neither.
enum WaveformBuildState : uint8_t {
  kWaveformIdle = 0,
  kWaveformBuilding = 1,  // a build was started and has not completed
  kWaveformComplete = 2,  // the builder drew every column
};

// The first 16 bytes of the file's WAVEFORMATEX and a zero extension size.
struct WaveformFormat {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t sampleRate;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t extraSize;
};

// One per control. Only the owner's thread and the control's builder touch it;
// `lock` guards the memory context and the two images.
struct WaveformDisplay {
  int32_t position;
  int32_t rangeMin;
  int32_t rangeMax;
  CRITICAL_SECTION lock;
  HBITMAP playedImage;
  HBITMAP unplayedImage;

  // From here through the flags, cleared when the image is released.
  HANDLE builderThread;
  DWORD builderThreadId;
  HANDLE file;  // INVALID_HANDLE_VALUE when none
  HANDLE mapping;
  // The mapped view: a window of the file that the builder slides along the data,
  // since a 32-bit process seldom has room for a whole long file in one piece.
  const uint8_t* view;
  uint64_t viewOffset;  // file offset of the view's first byte
  uint32_t viewBytes;
  uint64_t fileSize;    // the builder never reads past it
  uint32_t dataOffset;
  uint32_t dataLength;
  uint32_t frameCount;
  WaveformFormat format;
  char fileName[kPathCapacity];
  FILETIME lastWrite;
  std::atomic<uint8_t> buildState;  // WaveformBuildState
  std::atomic<uint8_t> stopRequest;  // set by the owner, read by the builder before each column
  bool noImage;                      // the owner asked for a plain display (stopped)

  HDC memoryDc;
  HPEN playedPeakPen;
  HPEN unplayedPeakPen;
  HPEN playedRmsPen;
  HPEN unplayedRmsPen;
  HBRUSH playedBrush;
  HBRUSH unplayedBrush;
  int width;
  int height;
  uint32_t options;
  WNDPROC previousProc;
  HWND window;
};

// Attaches a display to a static control by replacing its window procedure.
// Null only when the object cannot be allocated.
WaveformDisplay* CreateWaveformDisplay(HWND control);

// Gives the control its procedure back, stops any build and frees everything.
void DestroyWaveformDisplay(WaveformDisplay* display);

// Paints the control into `dc` (the paint message and WM_PRINTCLIENT); with an
// `area`, only the part of the control inside it.
void PaintWaveform(WaveformDisplay* display, HDC dc, const RECT* area = nullptr);

// The image builder's thread procedure (waveform_image_builder.cpp).
DWORD WINAPI WaveformImageBuilder(LPVOID display);

// Bytes of the file one view maps at most: a multiple of every allocation
// granularity, small enough to find room in a 32-bit address space.
constexpr uint32_t kWaveformViewBytes = 32u << 20;

// Maps the view that starts at the allocation-granularity boundary at or below
// `offset`, replacing the current one; false (and no view) when that fails.
bool MapWaveformView(WaveformDisplay* display, uint64_t offset);

// The waveform display control: its window procedure, loading and reusing the
// overview image, releasing it, and painting the played and unplayed halves.
#include "waveform/waveform_display.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "dsp/sample_format.h"
#include "win32/paint_now.h"
#include "win32/scoped_gdi.h"
#include "win32/scoped_handle.h"
#include "win32/scoped_lock.h"

const char kMsgWaveformNotAvailable[] = "graphic image is not available for this format. ";

namespace {

constexpr size_t kFormatBytes = 16;  // WAVEFORMATEX without its extension size

LRESULT CALLBACK WaveformWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Open as the owner's player does not prevent: read access, others may read and
// delete (a temporary file is deleted on close by the player), existing only.
HANDLE OpenForOverview(const char* fileName) {
  // Write sharing: a converter may still be writing the file.
  return CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool LastWriteTime(HANDLE file, FILETIME& out) { return GetFileTime(file, nullptr, nullptr, &out) != 0; }

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void CreateDrawingResources(WaveformDisplay* d) {
  ScopedWindowDc screen(d->window);
  d->memoryDc = screen.Get() ? CreateCompatibleDC(screen.Get()) : nullptr;
  if (!d->memoryDc) return;
  d->playedBrush = CreateSolidBrush(kPlayedBackground);
  d->unplayedBrush = CreateSolidBrush(kUnplayedBackground);
  d->playedPeakPen = CreatePen(PS_SOLID, 1, kPlayedPeak);
  d->unplayedPeakPen = CreatePen(PS_SOLID, 1, kUnplayedPeak);
  d->playedRmsPen = CreatePen(PS_SOLID, 1, kPlayedRms);
  d->unplayedRmsPen = CreatePen(PS_SOLID, 1, kUnplayedRms);
}

// Deleted by the destroy message and again by DestroyWaveformDisplay: each handle
// is cleared so the second pass deletes nothing twice.
void DeleteDrawingResources(WaveformDisplay* d) {
  for (HPEN* pen : {&d->playedPeakPen, &d->unplayedPeakPen, &d->playedRmsPen, &d->unplayedRmsPen}) {
    if (*pen) DeleteObject(*pen);
    *pen = nullptr;
  }
  for (HBRUSH* brush : {&d->playedBrush, &d->unplayedBrush}) {
    if (*brush) DeleteObject(*brush);
    *brush = nullptr;
  }
  if (d->memoryDc) DeleteDC(d->memoryDc);
  d->memoryDc = nullptr;
}

// Stops the builder (waiting for it: it only ever posts to this window, so it
// cannot be waiting for this thread), deletes the images and lets go of the file.
void ReleaseImage(WaveformDisplay* d) {
  if (d->builderThread) {
    d->stopRequest = 1;
    WaitForSingleObject(d->builderThread, INFINITE);
    CloseHandle(d->builderThread);
  }
  if (d->playedImage) DeleteObject(d->playedImage);
  if (d->unplayedImage) DeleteObject(d->unplayedImage);
  d->playedImage = nullptr;
  d->unplayedImage = nullptr;
  if (d->view) UnmapViewOfFile(d->view);
  if (d->mapping) CloseHandle(d->mapping);
  if (d->file != INVALID_HANDLE_VALUE && d->file) CloseHandle(d->file);

  d->builderThread = nullptr;
  d->builderThreadId = 0;
  d->file = INVALID_HANDLE_VALUE;
  d->mapping = nullptr;
  d->view = nullptr;
  d->viewOffset = 0;
  d->viewBytes = 0;
  d->fileSize = 0;
  d->dataOffset = 0;
  d->dataLength = 0;
  d->frameCount = 0;
  d->format = WaveformFormat{};
  d->fileName[0] = '\0';
  d->lastWrite = FILETIME{};
  d->buildState = kWaveformIdle;
  d->stopRequest = 0;
  d->noImage = false;
}

// One image: a 32-bit DIB section rather than a bitmap compatible with the screen.
// GDI draws into a DIB section in the process, while a device bitmap may cost a
// round trip to the display per call (under Wine about 0.2 ms a column, doubling
// an hour-long build); copying it to the screen costs the same.
HBITMAP CreateImage(HDC screen, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  return CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

// Both images at the control's client size.
bool CreateImages(WaveformDisplay* d) {
  RECT client{};
  GetClientRect(d->window, &client);
  d->width = client.right;
  d->height = client.bottom;
  ScopedWindowDc screen(d->window);
  if (!screen.Get()) return false;
  d->playedImage = CreateImage(screen.Get(), d->width, d->height);
  d->unplayedImage = CreateImage(screen.Get(), d->width, d->height);
  return d->playedImage && d->unplayedImage && d->memoryDc;
}

void FillImage(WaveformDisplay* d, HBITMAP image, HBRUSH brush) {
  if (!image || !d->memoryDc) return;
  ScopedLock lock(d->lock);
  ScopedSelect select(d->memoryDc, image);
  const RECT all{0, 0, d->width, d->height};
  FillRect(d->memoryDc, &all, brush);
}

void DrawMessage(WaveformDisplay* d, HBITMAP image) {
  if (!image || !d->memoryDc) return;
  ScopedLock lock(d->lock);
  ScopedSelect select(d->memoryDc, image);
  const HFONT font = reinterpret_cast<HFONT>(SendMessageA(GetParent(d->window), WM_GETFONT, 0, 0));
  ScopedSelect selectFont(d->memoryDc, font);
  const int oldMode = SetBkMode(d->memoryDc, TRANSPARENT);
  const COLORREF oldColour = SetTextColor(d->memoryDc, kMessageText);
  RECT all{0, 0, d->width, d->height};
  DrawTextA(d->memoryDc, kMsgWaveformNotAvailable, -1, &all, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT);
  SetTextColor(d->memoryDc, oldColour);
  SetBkMode(d->memoryDc, oldMode);
}

// Steps 4 to 10 of a load; false at the first step that fails.
bool StartBuild(WaveformDisplay* d, const WaveformLoadRequest& request) {
  if (std::strlen(request.fileName) >= sizeof d->fileName) return false;
  std::strcpy(d->fileName, request.fileName);

  const WaveFormat& format = *request.format;
  const uint16_t tag = format.IsEmpty() ? 0 : PlainTwinTag(format);
  if (tag != kFormatTagPcm && tag != kFormatTagFloat) return false;
  std::memcpy(&d->format, format.Bytes(), kFormatBytes);
  d->format.formatTag = tag;  // an extensible record as its plain twin
  d->format.extraSize = 0;
  d->dataLength = request.dataLength;
  // No frame count can come from a block align of 0: refused like an empty file.
  if (d->format.blockAlign == 0) return false;
  d->frameCount = request.dataLength / d->format.blockAlign;
  if (d->frameCount == 0) return false;

  d->file = OpenForOverview(d->fileName);
  if (d->file == INVALID_HANDLE_VALUE || !LastWriteTime(d->file, d->lastWrite)) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(d->file, &size)) return false;
  d->mapping = CreateFileMappingA(d->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!d->mapping) return false;
  d->fileSize = static_cast<uint64_t>(size.QuadPart);
  d->dataOffset = request.dataOffset;
  // The first view, where the data starts, proves the mapping can be read.
  if (!MapWaveformView(d, d->dataOffset < d->fileSize ? d->dataOffset : 0)) return false;
  d->buildState = kWaveformBuilding;

  if (!CreateImages(d)) return false;
  FillImage(d, d->playedImage, d->playedBrush);
  FillImage(d, d->unplayedImage, d->unplayedBrush);

  d->builderThread = CreateThread(nullptr, 0, WaveformImageBuilder, d, 0, &d->builderThreadId);
  return d->builderThread != nullptr;
}

// The "not available" picture: both backgrounds with the message over them.
void ShowNotAvailable(WaveformDisplay* d) {
  ReleaseImage(d);
  CreateImages(d);  // whichever image exists shows the message
  FillImage(d, d->playedImage, d->playedBrush);
  FillImage(d, d->unplayedImage, d->unplayedBrush);
  DrawMessage(d, d->playedImage);
  DrawMessage(d, d->unplayedImage);
}

LRESULT LoadFile(WaveformDisplay* d, const WaveformLoadRequest* request, uint32_t options) {
  if (!request) {
    d->noImage = true;
    return 1;
  }
  d->noImage = false;

  if (d->buildState != kWaveformIdle && options == d->options && request->fileName &&
      lstrcmpiA(request->fileName, d->fileName) == 0) {
    ScopedHandle file(OpenForOverview(request->fileName));
    FILETIME written{};
    if (file.IsValid() && LastWriteTime(file.Get(), written) && SameTime(written, d->lastWrite)) return 1;
  }

  ReleaseImage(d);
  d->options = options;
  if (request->fileName && request->format && StartBuild(d, *request)) return 1;
  ShowNotAvailable(d);
  return 0;
}

LRESULT SetOptions(WaveformDisplay* d, uint32_t options) {
  if (options == d->options) return 1;
  if (d->fileName[0] == '\0' || d->noImage || d->buildState == kWaveformIdle) return 0;

  char fileName[kPathCapacity];
  std::strcpy(fileName, d->fileName);
  WaveFormat format;
  if (!format.Allocate(kWaveFormatMinSize)) return 0;
  std::memcpy(format.Bytes(), &d->format, kFormatBytes);
  const WaveformLoadRequest request{fileName, &format, d->dataOffset, d->dataLength};
  ReleaseImage(d);
  return LoadFile(d, &request, options);
}

int SplitColumn(const WaveformDisplay* d, int width);

// Only the columns between the old and the new split change colour, and they are
// drawn at once: a position that moves within one column (most of the updates
// while a long file plays) draws nothing.
LRESULT SetPosition(WaveformDisplay* d, int32_t position) {
  const int32_t previous = d->position;
  if (position != previous) {
    if (position < d->rangeMin) {
      position = d->rangeMin;
    } else if (position >= d->rangeMax) {
      position = d->rangeMax;
    }
    RECT client{};
    GetClientRect(d->window, &client);
    const int before = SplitColumn(d, client.right);
    d->position = position;
    const int after = SplitColumn(d, client.right);
    if (before != after) {
      const RECT changed{before < after ? before : after, 0, before < after ? after : before, client.bottom};
      PaintNow(d->window, changed, [&](HDC dc) { PaintWaveform(d, dc, &changed); });
    }
  }
  return previous;
}

LRESULT SetRange(WaveformDisplay* d, int32_t minimum, int32_t maximum) {
  const int32_t previousMin = d->rangeMin;
  const int32_t previousMax = d->rangeMax;
  const int32_t previousPosition = d->position;
  d->rangeMin = minimum;
  d->rangeMax = maximum;
  const int32_t low = minimum < maximum ? minimum : maximum;
  const int32_t high = minimum < maximum ? maximum : minimum;
  if (d->position < low) d->position = low;
  if (d->position > high) d->position = high;
  if (minimum != previousMin || maximum != previousMax || d->position != previousPosition)
    InvalidateRect(d->window, nullptr, FALSE);
  return static_cast<LRESULT>(MAKELONG(static_cast<WORD>(previousMax), static_cast<WORD>(previousMin)));
}

// Where the played part ends: width × position ÷ (maximum − minimum + 1), in
// 64 bits. A range that makes the divisor 0 shows everything as unplayed, and a
// position outside the range cannot push the split off the strip.
int SplitColumn(const WaveformDisplay* d, int width) {
  const int64_t divisor = int64_t{d->rangeMax} - d->rangeMin + 1;
  if (divisor == 0) return 0;
  const int64_t split = int64_t{width} * d->position / divisor;
  if (split < 0) return 0;
  return split > width ? width : static_cast<int>(split);
}

void CopyOrFill(WaveformDisplay* d, HDC dc, const RECT& part, HBITMAP image, HBRUSH brush) {
  if (part.right <= part.left) return;
  if (d->noImage || !image || !d->memoryDc) {
    // Without resources the brush is null: the stock colour stands in for it.
    FillRect(dc, &part, brush ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    return;
  }
  ScopedSelect select(d->memoryDc, image);
  BitBlt(dc, part.left, part.top, part.right - part.left, part.bottom - part.top, d->memoryDc, part.left,
         part.top, SRCCOPY);
}

LRESULT CALLBACK WaveformWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<WaveformDisplay*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!d) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WDM_SETPOS:
      return SetPosition(d, static_cast<int32_t>(wParam));
    case WDM_SETRANGE:
      return SetRange(d, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
    case WDM_LOADFILE:
      return LoadFile(d, reinterpret_cast<const WaveformLoadRequest*>(wParam), static_cast<uint32_t>(lParam));
    case WDM_REFRESH:
      InvalidateRect(window, nullptr, FALSE);
      return 1;
    case WDM_SETOPTIONS:
      return SetOptions(d, static_cast<uint32_t>(lParam));
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      PaintWaveform(d, dc, &paint.rcPaint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintWaveform(d, reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 0;
    case WM_DESTROY:
      ReleaseImage(d);
      DeleteDrawingResources(d);
      return CallWindowProcA(d->previousProc, window, message, wParam, lParam);
    default:
      return CallWindowProcA(d->previousProc, window, message, wParam, lParam);
  }
}

}  // namespace

bool MapWaveformView(WaveformDisplay* d, uint64_t offset) {
  if (d->view) UnmapViewOfFile(d->view);
  d->view = nullptr;
  d->viewBytes = 0;
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const uint64_t granularity = system.dwAllocationGranularity ? system.dwAllocationGranularity : 65536;
  d->viewOffset = offset - offset % granularity;
  if (d->viewOffset >= d->fileSize) return false;
  const uint64_t left = d->fileSize - d->viewOffset;
  const uint32_t bytes = left < kWaveformViewBytes ? static_cast<uint32_t>(left) : kWaveformViewBytes;
  d->view = static_cast<const uint8_t*>(MapViewOfFile(d->mapping, FILE_MAP_READ,
                                                      static_cast<DWORD>(d->viewOffset >> 32),
                                                      static_cast<DWORD>(d->viewOffset), bytes));
  if (d->view) d->viewBytes = bytes;
  return d->view != nullptr;
}

WaveformDisplay* CreateWaveformDisplay(HWND control) {
  auto* d = new (std::nothrow) WaveformDisplay();
  if (!d) return nullptr;
  d->file = INVALID_HANDLE_VALUE;
  d->window = control;
  InitializeCriticalSection(&d->lock);
  SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(d));
  d->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WaveformWindowProc)));
  CreateDrawingResources(d);
  return d;
}

void DestroyWaveformDisplay(WaveformDisplay* d) {
  if (!d) return;
  SetWindowLongPtrA(d->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(d->previousProc));
  SetWindowLongPtrA(d->window, GWLP_USERDATA, 0);
  ReleaseImage(d);
  DeleteDrawingResources(d);
  DeleteCriticalSection(&d->lock);
  delete d;
}

void PaintWaveform(WaveformDisplay* d, HDC dc, const RECT* area) {
  RECT client{};
  GetClientRect(d->window, &client);
  const int split = SplitColumn(d, client.right);
  RECT played{0, 0, split, client.bottom};
  RECT unplayed{split, 0, client.right, client.bottom};
  // Clipping alone would leave the drawing the same, but a blit of the whole strip
  // through a clip region can still move the whole image to the display.
  if (area) {
    IntersectRect(&played, &played, area);
    IntersectRect(&unplayed, &unplayed, area);
  }
  ScopedLock lock(d->lock);
  CopyOrFill(d, dc, played, d->playedImage, d->playedBrush);
  CopyOrFill(d, dc, unplayed, d->unplayedImage, d->unplayedBrush);
}

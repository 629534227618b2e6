// The image builder: a worker thread that walks the mapped sample data once and
// draws each pixel column's peak line and RMS bar into the display's two images.
//
// How it works: the owner maps the file, sizes and fills both images and starts
// this thread. Column by column, left to right, it checks the stop request,
// reduces the column's frames (no lock held), then takes the display's lock only
// for the four line draws, so the painter can copy the growing images between
// columns. It posts (never sends) a repaint at most every 100 ms and once at the
// end, since the owner may be blocked waiting for it to end. The file is let go
// on every way out.
#include <windows.h>

#include "waveform/overview_columns.h"
#include "waveform/waveform_display.h"
#include "win32/scoped_gdi.h"
#include "win32/scoped_lock.h"

namespace {

constexpr DWORD kRefreshIntervalMs = 100;

// The layout of the data; where it lies is filled in per view.
OverviewSource ShapeOf(const WaveformDisplay* d) {
  OverviewSource source;
  source.frameCount = d->frameCount;
  const uint64_t available = d->fileSize > d->dataOffset ? d->fileSize - d->dataOffset : 0;
  source.readableFrames = ReadableFrames(d->frameCount, available, d->format.blockAlign);
  source.layout = ClassifyOverviewSamples(d->format.formatTag, d->format.bitsPerSample, d->format.channels,
                                          d->format.blockAlign);
  source.channels = d->format.channels;
  source.blockAlign = d->format.blockAlign;
  return source;
}

// One column reduced piece by piece, moving the view along where the column's
// frames leave it. Frames that are not in the file, or that no view could be
// mapped for, count as silence.
ColumnLevels ReduceColumn(WaveformDisplay* d, const OverviewSource& shape, ColumnFrames column) {
  ColumnLevels total;
  uint32_t frame = column.first;
  uint32_t end = frame;
  if (shape.layout != OverviewSampleLayout::Silent && frame < shape.readableFrames)
    end = column.count < shape.readableFrames - frame ? frame + column.count : shape.readableFrames;
  const uint32_t align = shape.blockAlign;
  while (frame < end) {
    const uint64_t byte = d->dataOffset + uint64_t{frame} * align;
    if (!d->view || byte < d->viewOffset || byte + align > d->viewOffset + d->viewBytes) {
      if (!MapWaveformView(d, byte)) break;
    }
    const uint64_t inView = (d->viewOffset + d->viewBytes - byte) / align;
    const uint32_t count = inView < end - frame ? static_cast<uint32_t>(inView) : end - frame;
    if (count == 0) break;
    OverviewSource piece = shape;
    piece.data = d->view + (byte - d->viewOffset);
    piece.frameCount = count;
    piece.readableFrames = count;
    const ColumnLevels part = ReduceOverviewColumn(piece, {0, count});
    if (part.maximum > total.maximum) total.maximum = part.maximum;
    if (part.minimum < total.minimum) total.minimum = part.minimum;
    total.sumOfSquares += part.sumOfSquares;
    frame += count;
  }
  total.rms = OverviewRms(total.sumOfSquares, shape.channels, column.count);
  return total;
}

// One vertical line covering rows top ... bottom − 1 of column x.
void DrawLine(HDC dc, HPEN pen, int x, int top, int bottom) {
  ScopedSelect selectPen(dc, pen);
  MoveToEx(dc, x, top, nullptr);
  LineTo(dc, x, bottom);
}

// The peak line and the RMS bar over it, into each image in its own colours.
// Each image is selected once per column: under Wine a bitmap selection costs
// far more than a line.
void DrawColumn(WaveformDisplay* d, int x, const ColumnLines& lines) {
  ScopedLock lock(d->lock);
  HDC dc = d->memoryDc;
  POINT previousPoint{};
  MoveToEx(dc, 0, 0, &previousPoint);
  {
    ScopedSelect selectImage(dc, d->playedImage);
    DrawLine(dc, d->playedPeakPen, x, lines.peakTop, lines.peakBottom);
    DrawLine(dc, d->playedRmsPen, x, lines.rmsTop, lines.rmsBottom);
  }
  {
    ScopedSelect selectImage(dc, d->unplayedImage);
    DrawLine(dc, d->unplayedPeakPen, x, lines.peakTop, lines.peakBottom);
    DrawLine(dc, d->unplayedRmsPen, x, lines.rmsTop, lines.rmsBottom);
  }
  MoveToEx(dc, previousPoint.x, previousPoint.y, nullptr);
}

// Unmaps and closes what the owner opened for this build, so the file is not held
// once the image is built or the build stopped.
void LetGoOfFile(WaveformDisplay* d) {
  if (d->view) UnmapViewOfFile(d->view);
  if (d->mapping) CloseHandle(d->mapping);
  if (d->file && d->file != INVALID_HANDLE_VALUE) CloseHandle(d->file);
  d->view = nullptr;
  d->viewBytes = 0;
  d->mapping = nullptr;
  d->file = INVALID_HANDLE_VALUE;
}

}  // namespace

DWORD WINAPI WaveformImageBuilder(LPVOID parameter) {
  auto* d = static_cast<WaveformDisplay*>(parameter);
  DWORD lastRefresh = GetTickCount();
  const OverviewSource shape = ShapeOf(d);
  const uint32_t width = d->width > 0 ? static_cast<uint32_t>(d->width) : 0;
  const bool linear = (d->options & kWaveformLinearRms) != 0;

  uint32_t x = 0;
  for (; x < width; ++x) {
    if (d->stopRequest) break;
    const ColumnLevels levels = ReduceColumn(d, shape, OverviewColumnFrames(x, width, d->frameCount));
    DrawColumn(d, static_cast<int>(x), OverviewColumnLines(levels, d->height, linear));
    const DWORD now = GetTickCount();
    if (now - lastRefresh >= kRefreshIntervalMs) {
      PostMessageA(d->window, WDM_REFRESH, 0, 0);
      lastRefresh = now;
    }
  }

  LetGoOfFile(d);
  if (x == width) d->buildState = kWaveformComplete;
  if (!d->stopRequest) PostMessageA(d->window, WDM_REFRESH, 0, 0);
  return 0;
}

// The waveform display under Wine: real windows, files, mappings and the builder
// thread, checked by reading the pixels of the images and of the printed control.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/wave_bytes.h"
#include "waveform/overview_columns.h"
#include "waveform/waveform_display.h"

using namespace wavebytes;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 60;
constexpr int kMiddleRow = kHeight / 2;
constexpr DWORD kBuildWaitMs = 60000;

// Rows of the test signal 0.8, 0, −0.8, 0 (peak 0.8, RMS 0.566) at height 60:
// the peak line covers rows 6 ... 53; the RMS bar 13 ... 46 on the linear scale
// and 4 ... 55 on the decibel scale (−4.9 dB).
constexpr int kBackgroundRow = 2;
constexpr int kPeakOnlyRowWhenLinear = 8;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
  return DefWindowProcA(window, message, wParam, lParam);
}

const char* ParentClass() {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VexWaveformTestParent";
    RegisterClassA(&wc);
    return "VexWaveformTestParent";
  }();
  return name;
}

Bytes Pcm16(const std::vector<double>& values) {
  Bytes b;
  for (double v : values) {
    const int s = static_cast<int>(std::lround(std::fmax(-32768, std::fmin(32767, v * 32768))));
    PutU16(b, static_cast<uint16_t>(s));
  }
  return b;
}

// Mono 16-bit at 44.1 kHz: 0.8, 0, −0.8, 0 repeated.
Bytes TestSignal(int frames) {
  std::vector<double> v;
  for (int i = 0; i < frames; ++i) v.push_back(i % 4 == 0 ? 0.8 : i % 4 == 2 ? -0.8 : 0.0);
  return Pcm16(v);
}

constexpr uint32_t kDataOffset = 44;  // RIFF header, 16-byte fmt chunk, data header

struct WaveFile {
  std::string path;
  WaveFormat format;
  uint32_t dataLength;
  uint32_t dataOffset = kDataOffset;
};

WaveFile WriteWave(const TempDir& dir, const std::string& name, const Bytes& fmt, const Bytes& data,
                   int64_t declaredData = -1) {
  WaveFile f;
  f.path = dir.Write(name, Riff({Chunk("fmt ", fmt), Chunk("data", data, declaredData)}));
  f.format.Allocate(static_cast<uint32_t>(fmt.size()));
  std::copy(fmt.begin(), fmt.end(), f.format.Bytes());
  f.dataLength = declaredData < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(declaredData);
  f.dataOffset = static_cast<uint32_t>(kDataOffset - 16 + fmt.size() + fmt.size() % 2);
  return f;
}

std::vector<COLORREF> Pixels(HBITMAP image, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> raw(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, image, 0, height, raw.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  std::vector<COLORREF> out;
  for (uint32_t p : raw) out.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  return out;
}

constexpr COLORREF kMarker = RGB(255, 0, 255);  // never a colour of the display

class Picture {
 public:
  Picture(std::vector<COLORREF> pixels, int width) : pixels_(std::move(pixels)), width_(width) {}
  COLORREF At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  int Count(COLORREF colour, int left, int top, int right, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) n += At(x, y) == colour;
    return n;
  }

 private:
  std::vector<COLORREF> pixels_;
  int width_;
};

class WaveformDisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExA(0, ParentClass(), "waveform test", WS_OVERLAPPEDWINDOW, 0, 0,
                              kWidth + 100, kHeight + 100, nullptr, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
    control_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 10, 10, kWidth, kHeight,
                               parent_, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(control_);
    display_ = CreateWaveformDisplay(control_);
    ASSERT_TRUE(display_);
  }
  void TearDown() override {
    DestroyWaveformDisplay(display_);
    DestroyWindow(parent_);
  }

  LRESULT Load(const WaveFile* file, LPARAM options = 0) {
    if (!file) return SendMessageA(control_, WDM_LOADFILE, 0, options);
    const WaveformLoadRequest request{file->path.c_str(), &file->format, file->dataOffset, file->dataLength};
    return SendMessageA(control_, WDM_LOADFILE, reinterpret_cast<WPARAM>(&request), options);
  }

  void WaitForBuilder() {
    ASSERT_TRUE(display_->builderThread);
    ASSERT_EQ(WaitForSingleObject(display_->builderThread, kBuildWaitMs), WAIT_OBJECT_0);
  }

  int DrainRefreshes() {
    MSG msg;
    int n = 0;
    while (PeekMessageA(&msg, control_, WDM_REFRESH, WDM_REFRESH, PM_REMOVE)) ++n;
    return n;
  }

  // A picture of the control's size, drawn by `draw` into a bitmap.
  template <typename Draw>
  Picture Snapshot(Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    HGDIOBJ old = SelectObject(dc, bitmap);
    draw(dc);
    SelectObject(dc, old);
    Picture picture(Pixels(bitmap, kWidth, kHeight), kWidth);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return picture;
  }
  // The control as it paints itself, through WM_PRINTCLIENT into a bitmap.
  Picture Printed() {
    return Snapshot([&](HDC dc) {
      RECT all{0, 0, kWidth, kHeight};
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      SendMessageA(control_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    });
  }
  Picture Image(HBITMAP image) { return Picture(Pixels(image, kWidth, kHeight), kWidth); }
  // The control as the display shows it, read from its window.
  Picture OnScreen() {
    return Snapshot([&](HDC dc) {
      HDC window = GetDC(control_);
      BitBlt(dc, 0, 0, kWidth, kHeight, window, 0, 0, SRCCOPY);
      ReleaseDC(control_, window);
    });
  }
  // Paints the window over without the display knowing.
  void FillOnScreen(COLORREF colour) {
    HDC dc = GetDC(control_);
    RECT all{0, 0, kWidth, kHeight};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(control_, dc);
  }

  LRESULT SetPos(int32_t position) { return SendMessageA(control_, WDM_SETPOS, static_cast<WPARAM>(position), 0); }
  LRESULT SetRange(int32_t minimum, int32_t maximum) {
    return SendMessageA(control_, WDM_SETRANGE, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
  }

  TempDir dir_;
  HWND parent_ = nullptr;
  HWND control_ = nullptr;
  WaveformDisplay* display_ = nullptr;
};

WaveFile SignalFile(const TempDir& dir, const std::string& name = "signal.wav", int frames = 44100) {
  return WriteWave(dir, name, FmtBody(1, 1, 44100, 16), TestSignal(frames));
}

TEST_F(WaveformDisplayTest, StripIsWhiteBeforeAnyLoad) {
  const Picture picture = Printed();
  EXPECT_EQ(picture.Count(kUnplayedBackground, 0, 0, kWidth, kHeight), kWidth * kHeight);
}

TEST_F(WaveformDisplayTest, DrawsPlayedAndUnplayedColoursSplitAtThePosition) {
  const WaveFile file = SignalFile(dir_);
  ASSERT_EQ(Load(&file, kWaveformLinearRms), 1);
  WaitForBuilder();
  EXPECT_EQ(display_->buildState, kWaveformComplete);
  EXPECT_GE(DrainRefreshes(), 1) << "a last refresh when the build is done";

  // Position = maximum: width × 999 / 1000 = 319, the column left of the edge.
  SetRange(0, 999);
  SetPos(999);
  const Picture p = Printed();
  struct Row { int y; COLORREF played; COLORREF unplayed; };
  const Row rows[] = {
      {kBackgroundRow, kPlayedBackground, kUnplayedBackground},
      {kPeakOnlyRowWhenLinear, kPlayedPeak, kUnplayedPeak},
      {kMiddleRow, kPlayedRms, kUnplayedRms},
      {kHeight - 2, kPlayedBackground, kUnplayedBackground},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.y);
    EXPECT_EQ(p.At(0, r.y), r.played);
    EXPECT_EQ(p.At(kWidth - 2, r.y), r.played);
    EXPECT_EQ(p.At(kWidth - 1, r.y), r.unplayed);
  }
  // Halfway: the split is at column 160.
  SetPos(500);
  const Picture half = Printed();
  EXPECT_EQ(half.At(159, kBackgroundRow), kPlayedBackground);
  EXPECT_EQ(half.At(160, kBackgroundRow), kUnplayedBackground);

  // The builder let go of the file: nobody else holds it now.
  EXPECT_TRUE(DeleteFileA(file.path.c_str()));
}

TEST_F(WaveformDisplayTest, ShowsTheMessageForFormatsItCannotDraw) {
  Bytes adpcmSubFormat = ExtensibleBody(2, 44100, 16, 16, 3, false);
  adpcmSubFormat[24] = 2;
  const WaveFile extensible = WriteWave(dir_, "ext.wav", adpcmSubFormat, Filled(4000));
  const WaveFile empty = WriteWave(dir_, "empty.wav", FmtBody(1, 2, 44100, 16), Bytes{});
  // FmtBody takes a block align of 0 as "compute it": set it afterwards.
  WaveFile align0 = WriteWave(dir_, "align0.wav", FmtBody(1, 2, 44100, 16, 4), Filled(4000));
  align0.format.SetU16(12, 0);
  for (const WaveFile* f : std::vector<const WaveFile*>{&extensible, &align0, &empty}) {
    SCOPED_TRACE(f->path);
    EXPECT_EQ(Load(f), 0);
    EXPECT_FALSE(display_->builderThread);
    for (HBITMAP image : {display_->playedImage, display_->unplayedImage}) {
      const Picture p = Image(image);
      EXPECT_GT(p.Count(kMessageText, kWidth / 2, kHeight / 2, kWidth, kHeight), 20) << "bottom right";
      EXPECT_EQ(p.Count(kMessageText, 0, 0, kWidth / 4, kHeight / 2), 0) << "nothing top left";
    }
    // The painter shows it on both sides of the position.
    SetRange(0, 100);
    SetPos(100);
    EXPECT_GT(Printed().Count(kMessageText, kWidth / 2, 0, kWidth, kHeight), 20);
    SetPos(0);
    EXPECT_GT(Printed().Count(kMessageText, kWidth / 2, 0, kWidth, kHeight), 20);
  }
}

TEST_F(WaveformDisplayTest, SetPosClampsToTheRangeAndReturnsThePreviousPosition) {
  SetRange(0, 100);
  struct Step { int32_t set; LRESULT result; int32_t stored; };
  const Step steps[] = {
      {50, 0, 50}, {150, 50, 100}, {-5, 100, 0}, {100, 0, 100}, {99, 100, 99}, {99, 99, 99},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.set);
    EXPECT_EQ(SetPos(s.set), s.result);
    EXPECT_EQ(display_->position, s.stored);
  }
}

TEST_F(WaveformDisplayTest, SetPosDrawsOnlyTheColumnsTheSplitCrossedAtOnce) {
  // 320 columns over 10000 ms: the split is at 320 × position ÷ 10000. Only a
  // shown window is drawn at once (a hidden one is invalidated).
  ShowWindow(parent_, SW_SHOWNOACTIVATE);
  UpdateWindow(parent_);
  SetRange(0, 9999);
  struct Step { int32_t set; int left; int right; };
  const Step steps[] = {
      {10, 0, 0},        // still column 0: nothing
      {40, 0, 1},        // column 1
      {5000, 1, 160},    // a jump forward
      {4990, 159, 160},  // one column back
      {4995, 0, 0},      // within column 159
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.set);
    ValidateRect(control_, nullptr);
    FillOnScreen(kMarker);
    SetPos(s.set);
    RECT update{};
    EXPECT_FALSE(GetUpdateRect(control_, &update, FALSE)) << "drawn at once, not left to the paint message";
    const Picture drawn = OnScreen();
    const int crossed = (s.right - s.left) * kHeight;
    EXPECT_EQ(drawn.Count(kMarker, s.left, 0, s.right, kHeight), 0) << "every crossed column drawn";
    EXPECT_EQ(drawn.Count(kMarker, 0, 0, kWidth, kHeight), kWidth * kHeight - crossed) << "and nothing else";
    // What was drawn is what a whole repaint shows there.
    InvalidateRect(control_, nullptr, FALSE);
    UpdateWindow(control_);
    const Picture whole = OnScreen();
    int same = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = s.left; x < s.right; ++x) same += drawn.At(x, y) == whole.At(x, y);
    EXPECT_EQ(same, crossed);
  }
}

TEST_F(WaveformDisplayTest, SetRangePacksThePreviousRangeAndPullsThePositionIn) {
  SetRange(-3, 500);
  SetPos(250);
  const LRESULT previous = SetRange(0, 0);
  EXPECT_EQ(LOWORD(previous), 500);
  EXPECT_EQ(HIWORD(previous), 0xFFFD) << "the previous minimum, -3, in the high 16 bits";
  EXPECT_EQ(display_->position, 0);
  // Stored unsorted; the position is clamped between the smaller and the larger.
  SetRange(10, 20);
  SetPos(15);
  EXPECT_EQ(LOWORD(SetRange(12, 5)), 20);
  EXPECT_EQ(display_->rangeMin, 12);
  EXPECT_EQ(display_->rangeMax, 5);
  EXPECT_EQ(display_->position, 12);
}

TEST_F(WaveformDisplayTest, RestartingTheSameUnchangedFileReusesTheImage) {
  const WaveFile file = SignalFile(dir_, "Song.wav");
  ASSERT_EQ(Load(&file), 1);
  WaitForBuilder();
  const HANDLE builder = display_->builderThread;
  // Stop, as the owner does.
  EXPECT_EQ(Load(nullptr), 1);
  SetRange(0, 0);
  SetPos(0);
  // While stopped the strip shows the backgrounds only.
  EXPECT_EQ(Printed().At(kWidth / 2, kMiddleRow), kUnplayedBackground);
  // Restart under another case of the name: reused, no builder started. The lock
  // is held so that a new builder could not finish before the flag is read.
  WaveFile sameName = SignalFile(dir_, "other.wav");
  sameName.path = dir_.Path() + "\\SONG.WAV";
  EnterCriticalSection(&display_->lock);
  EXPECT_EQ(Load(&sameName), 1);
  const uint8_t state = display_->buildState;
  LeaveCriticalSection(&display_->lock);
  EXPECT_EQ(state, kWaveformComplete);
  EXPECT_EQ(display_->builderThread, builder);
  EXPECT_EQ(Printed().At(kWidth / 2, kMiddleRow), kUnplayedRms) << "the finished image is back at once";
}

TEST_F(WaveformDisplayTest, TouchingTheFileOrChangingTheOptionRebuilds) {
  const WaveFile file = SignalFile(dir_);
  ASSERT_EQ(Load(&file), 1);
  WaitForBuilder();
  EXPECT_EQ(Image(display_->unplayedImage).At(10, kPeakOnlyRowWhenLinear), kUnplayedRms) << "decibel bar";

  auto reloadState = [&](LPARAM options) {
    EnterCriticalSection(&display_->lock);
    const LRESULT result = Load(&file, options);
    const uint8_t state = display_->buildState;
    LeaveCriticalSection(&display_->lock);
    EXPECT_EQ(result, 1);
    return state;
  };
  // A new last-write time.
  Load(nullptr);
  {
    HANDLE h = CreateFileA(file.path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME later = display_->lastWrite;
    later.dwHighDateTime += 1;
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &later));
    CloseHandle(h);
  }
  EXPECT_EQ(reloadState(0), kWaveformBuilding);
  WaitForBuilder();
  // The linear option given with a load.
  EXPECT_EQ(reloadState(kWaveformLinearRms), kWaveformBuilding);
  WaitForBuilder();
  EXPECT_EQ(Image(display_->unplayedImage).At(10, kPeakOnlyRowWhenLinear), kUnplayedPeak) << "linear bar";

  // The option toggled while playing rebuilds; the same options do nothing.
  EXPECT_EQ(SendMessageA(control_, WDM_SETOPTIONS, 0, kWaveformLinearRms), 1);
  EXPECT_EQ(display_->buildState, kWaveformComplete);
  EnterCriticalSection(&display_->lock);
  EXPECT_EQ(SendMessageA(control_, WDM_SETOPTIONS, 0, 0), 1);
  EXPECT_EQ(display_->buildState, kWaveformBuilding);
  LeaveCriticalSection(&display_->lock);
  WaitForBuilder();
  EXPECT_EQ(Image(display_->unplayedImage).At(10, kPeakOnlyRowWhenLinear), kUnplayedRms);

  // Toggled while stopped: nothing changes, and the next start rebuilds.
  Load(nullptr);
  EXPECT_EQ(SendMessageA(control_, WDM_SETOPTIONS, 0, kWaveformLinearRms), 0);
  EXPECT_EQ(display_->options, 0u);
  EXPECT_EQ(reloadState(kWaveformLinearRms), kWaveformBuilding);
  WaitForBuilder();
}

TEST_F(WaveformDisplayTest, StopRequestEndsTheBuilderBeforeTheNextColumn) {
  const WaveFile file = SignalFile(dir_);
  DrainRefreshes();
  const DWORD start = GetTickCount();
  // Holding the lock, the builder cannot draw a column before the stop request is set.
  EnterCriticalSection(&display_->lock);
  ASSERT_EQ(Load(&file, kWaveformLinearRms), 1);
  display_->stopRequest = 1;
  LeaveCriticalSection(&display_->lock);
  WaitForBuilder();
  const DWORD elapsed = GetTickCount() - start;

  // Column 0 is drawn when the builder had passed its stop check before the
  // request was set (it then waited for the lock), and not drawn otherwise; no
  // column after it is ever drawn.
  const Picture p = Image(display_->unplayedImage);
  const COLORREF first = p.At(0, kPeakOnlyRowWhenLinear);
  EXPECT_TRUE(first == kUnplayedPeak || first == kUnplayedBackground) << first;
  EXPECT_EQ(p.Count(kUnplayedBackground, 1, 0, kWidth, kHeight), (kWidth - 1) * kHeight);
  EXPECT_NE(display_->buildState, kWaveformComplete);
  // A throttled refresh may follow column 0 when 100 ms went by; the final one never.
  const int refreshes = DrainRefreshes();
  if (elapsed < 100) {
    EXPECT_EQ(refreshes, 0);
  } else {
    EXPECT_LE(refreshes, 1);
  }
  EXPECT_TRUE(DeleteFileA(file.path.c_str())) << "the stopped builder let go of the file";
}

TEST_F(WaveformDisplayTest, DataPromisingMoreThanTheFileHoldsDrawsTheRestAsSilence) {
  // 4410 frames written, ten times as many declared.
  const WaveFile file = WriteWave(dir_, "cut.wav", FmtBody(1, 1, 44100, 16), TestSignal(4410), 88200);
  ASSERT_EQ(Load(&file, kWaveformLinearRms), 1);
  WaitForBuilder();
  EXPECT_EQ(display_->buildState, kWaveformComplete);
  const Picture p = Image(display_->unplayedImage);
  EXPECT_EQ(p.At(10, kPeakOnlyRowWhenLinear), kUnplayedPeak) << "the frames that are there";
  EXPECT_EQ(p.At(kWidth - 1, kPeakOnlyRowWhenLinear), kUnplayedBackground);
  EXPECT_EQ(p.At(kWidth - 1, kMiddleRow), kUnplayedRms) << "silence: the middle pixel";
  EXPECT_EQ(p.At(kWidth - 1, kMiddleRow + 1), kUnplayedBackground);
}

TEST_F(WaveformDisplayTest, UnsupportedSampleLayoutsDrawSilence) {
  const WaveFile float16 = WriteWave(dir_, "f16.wav", FmtBody(3, 1, 44100, 16), TestSignal(4410));
  const WaveFile pcm12 = WriteWave(dir_, "p12.wav", FmtBody(1, 1, 44100, 12), TestSignal(4410));
  for (const WaveFile* f : std::vector<const WaveFile*>{&float16, &pcm12}) {
    SCOPED_TRACE(f->path);
    ASSERT_EQ(Load(f), 1);
    WaitForBuilder();
    const Picture p = Image(display_->playedImage);
    EXPECT_EQ(p.Count(kPlayedRms, 0, 0, kWidth, kHeight), kWidth) << "one middle pixel per column";
    EXPECT_EQ(p.Count(kPlayedRms, 0, kMiddleRow, kWidth, kMiddleRow + 1), kWidth);
  }
}

}  // namespace

namespace {

TEST_F(WaveformDisplayTest, DestroyingTheControlMidBuildStopsTheBuilderAndFreesOnce) {
  const WaveFile file = SignalFile(dir_, "long.wav", 44100 * 60);
  EnterCriticalSection(&display_->lock);
  ASSERT_EQ(Load(&file), 1);
  const HANDLE builder = display_->builderThread;
  HANDLE watch = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), builder, GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0));
  LeaveCriticalSection(&display_->lock);

  DestroyWindow(control_);  // the destroy message releases the image first
  EXPECT_EQ(WaitForSingleObject(watch, 0), WAIT_OBJECT_0) << "the builder had ended";
  CloseHandle(watch);
  EXPECT_FALSE(display_->builderThread);
  EXPECT_FALSE(display_->memoryDc);
  EXPECT_FALSE(display_->playedPeakPen);
  EXPECT_TRUE(DeleteFileA(file.path.c_str())) << "the file was let go";
  // TearDown's DestroyWaveformDisplay then finds nothing left to delete twice.
}

}  // namespace

namespace {

// A file longer than one view, whose frames (6 bytes) straddle the view
// boundaries, drawn into strips narrow enough that one column spans several
// views: each column must come out as the whole column reduced in one piece.
TEST_F(WaveformDisplayTest, ColumnsAcrossViewBoundariesMatchTheWholeData) {
  const uint32_t frames = (2 * kWaveformViewBytes + kWaveformViewBytes / 2) / 6;
  Bytes data;
  data.reserve(size_t{frames} * 6);
  for (uint32_t i = 0; i < frames; ++i) {
    // A square wave whose amplitude rises and falls, both channels alike.
    const double envelope = 0.1 + 0.8 * std::fabs(std::sin(i * 7.0 / frames));
    const int32_t s = static_cast<int32_t>((i % 2 ? -envelope : envelope) * 8388607);
    for (int c = 0; c < 2; ++c) {
      data.push_back(static_cast<uint8_t>(s));
      data.push_back(static_cast<uint8_t>(s >> 8));
      data.push_back(static_cast<uint8_t>(s >> 16));
    }
  }
  // The plain record and its extensible twin draw alike.
  const WaveFile plain = WriteWave(dir_, "long24.wav", FmtBody(1, 2, 44100, 24), data);
  const WaveFile twin = WriteWave(dir_, "long24x.wav", ExtensibleBody(2, 44100, 24, 24, 3, false), data);

  OverviewSource whole;
  whole.data = data.data();
  whole.frameCount = frames;
  whole.readableFrames = frames;
  whole.layout = OverviewSampleLayout::Int24;
  whole.channels = 2;
  whole.blockAlign = 6;
  // Odd and even widths take different options, so the second load is not a reuse.
  for (int width : {5, 98, 97}) {
    SCOPED_TRACE(width);
    const WaveFile& file = width == 97 ? twin : plain;
    MoveWindow(control_, 10, 10, width, kHeight, FALSE);
    ASSERT_EQ(Load(&file, static_cast<LPARAM>(width) & kWaveformLinearRms), 1);
    WaitForBuilder();
    ASSERT_EQ(display_->buildState, kWaveformComplete);
    const Picture p(Pixels(display_->playedImage, width, kHeight), width);
    for (int x = 0; x < width; ++x) {
      const ColumnLevels levels =
          ReduceOverviewColumn(whole, OverviewColumnFrames(static_cast<uint32_t>(x), width, frames));
      const ColumnLines lines = OverviewColumnLines(levels, kHeight, width & 1);
      int top = 0;
      while (top < kHeight && p.At(x, top) == kPlayedBackground) ++top;
      int bottom = kHeight;
      while (bottom > 0 && p.At(x, bottom - 1) == kPlayedBackground) --bottom;
      EXPECT_EQ(top, std::min(lines.peakTop, lines.rmsTop)) << "column " << x;
      EXPECT_EQ(bottom, std::max(lines.peakBottom, lines.rmsBottom)) << "column " << x;
    }
  }
}

}  // namespace

// The waveform overview's arithmetic: which frames fall on each pixel column, how
// they reduce to a peak range and an RMS level, and where the column's lines end.
#pragma once

#include <cstdint>

// How the overview reads one sample. Kept here, apart from the player's sample
// format descriptor, because the overview needs only this much: the layouts it can
// decode, and everything else drawn as silence.
enum class OverviewSampleLayout : uint8_t {
  Silent,   // not decoded: every column is drawn as silence
  UInt8,    // PCM 8-bit, unsigned, centred at 128
  Int16,    // PCM 16-bit little-endian
  Int24,    // PCM 24-bit little-endian, packed in 3 bytes
  Int32,    // PCM 32-bit little-endian
  Float32,  // IEEE float, 4 bytes
  Float64,  // IEEE float, 8 bytes
};

// The layout for a format tag (1 PCM, 3 IEEE float) and bits per sample. A frame
// must hold its samples: a block align smaller than channels × sample size, or no
// channels at all, reads as silence rather than past the frame.
OverviewSampleLayout ClassifyOverviewSamples(uint16_t formatTag, uint16_t bitsPerSample,
                                             uint16_t channels, uint16_t blockAlign);

// Bytes one sample of the layout occupies; 0 for Silent.
uint32_t OverviewSampleBytes(OverviewSampleLayout layout);

// The sample data the columns are spread over.
struct OverviewSource {
  const uint8_t* data = nullptr;  // first frame
  uint32_t frameCount = 0;        // N: data length ÷ block align, as the data chunk declares
  uint32_t readableFrames = 0;    // frames that are really there (a truncated file has fewer)
  OverviewSampleLayout layout = OverviewSampleLayout::Silent;
  uint16_t channels = 0;
  uint16_t blockAlign = 0;        // bytes from one frame to the next
};

// Frames on which readableFrames may be computed: whole frames in `availableBytes`,
// and never more than the declared count.
uint32_t ReadableFrames(uint32_t frameCount, uint64_t availableBytes, uint16_t blockAlign);

// Column x of `width` covers frames [first, first + count): first = x·N/W and
// end = (x+1)·N/W with 64-bit products, truncating; count is end − first, or 1
// when that is 0 (a column always reads at least one frame).
struct ColumnFrames {
  uint32_t first;
  uint32_t count;
};
ColumnFrames OverviewColumnFrames(uint32_t x, uint32_t width, uint32_t frameCount);

// One column reduced. Samples decode to −1 ... just under +1 (integers) or as
// stored (floats). maximum and minimum are of the frame values (the mean of the
// frame's channels) and start at 0, so maximum ≥ 0 ≥ minimum for real data.
// sumOfSquares takes every sample of every channel; rms divides it by
// channels × the column's frame count. Frames beyond the readable ones count as
// silence.
struct ColumnLevels {
  double maximum = 0;
  double minimum = 0;
  double sumOfSquares = 0;
  double rms = 0;
};

// The fast reduction the builder uses, and the plain one it is tested against.
ColumnLevels ReduceOverviewColumn(const OverviewSource& source, ColumnFrames frames);
ColumnLevels ReduceOverviewColumnReference(const OverviewSource& source, ColumnFrames frames);

// The instruction sets the fast reduction may use. It uses the best the processor
// has; tests step down through them to check each against the plain reduction.
enum class OverviewSimd : uint8_t { None, Sse2, Sse41 };
OverviewSimd OverviewSimdAvailable();
void UseOverviewSimd(OverviewSimd level);  // never more than the processor has

// sqrt(sumOfSquares ÷ (channels × frames)): the RMS of a column whose pieces were
// reduced apart and their squares added.
double OverviewRms(double sumOfSquares, uint16_t channels, uint32_t frames);

// Below this RMS (2^−15) the decibel bar shows nothing.
constexpr double kOverviewRmsFloor = 1.0 / 32768.0;
// Decibel scale: above −30 dB the bar grows linearly to full height at 0 dB; from
// −72 to −30 dB it stays at 1/30; below −72 dB it is 0.
constexpr double kOverviewTopDecibels = -30.0;
constexpr double kOverviewBottomDecibels = -72.0;

// The level the RMS bar shows: the RMS itself on the linear scale, else the
// decibel mapping above. May be above 1 for float data beyond full scale.
double OverviewBarLevel(double rms, bool linearScale);

// Rows of one column: each line covers rows top ... bottom − 1. All four are
// within 0 ... height; a value that cannot be computed (NaN from float data)
// becomes 0.
struct ColumnLines {
  int peakTop;
  int peakBottom;
  int rmsTop;
  int rmsBottom;
};

// Peak: top = trunc(H·(1 − max)·0.5), bottom = 1 − trunc(H·(1 − min)·(−0.5)).
// RMS bar: the same with max = level and min = −level. Silence gives a one-pixel
// line at the middle row for both.
ColumnLines OverviewColumnLines(const ColumnLevels& levels, int height, bool linearScale);

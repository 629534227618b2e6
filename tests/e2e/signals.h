// Test signals written as WAVE files of every sample encoding, and the measures the
// suite takes of the null sink's recording (16-bit stereo 44.1 kHz): the stretches
// that sounded, a tone's frequency and level, and where a block of samples lies.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/underruns.h"
#include "tests/support/wave_bytes.h"

namespace e2e {

constexpr uint32_t kSinkRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// How one test file stores its samples.
struct Encoding {
  uint16_t bits = 16;     // container bits per sample
  bool isFloat = false;
  bool extensible = false;
  uint16_t validBits = 0;  // for extensible: 0 means all the container's bits
  uint16_t tag = 0;        // a codec's tag (kALaw, kMuLaw, kImaAdpcm); 0 for PCM and float
};
constexpr uint16_t kALaw = 0x0006, kMuLaw = 0x0007, kImaAdpcm = 0x0011;
// The IMA ADPCM block of the tone files: 441 frames, so a second is 100 whole blocks.
constexpr uint32_t kImaFramesPerBlock = 441;

// G.711 of a 16-bit sample: the segment (exponent) of its magnitude, the four bits
// below the segment's top, the sign, then the code's inversion mask.
inline uint8_t G711(int16_t pcm, uint16_t tag) {
  const bool alaw = tag == kALaw;
  int v = alaw ? pcm >> 3 : pcm >> 2;  // 13 or 14 significant bits
  const bool negative = v < 0;
  if (negative) v = alaw ? -v - 1 : -v;
  if (!alaw) v = std::min(v, 8159) + 0x21;
  int segment = 0;
  while (segment < 8 && v > ((alaw ? 0x20 : 0x40) << segment) - 1) ++segment;
  const uint8_t mask = alaw ? (negative ? 0x55 : 0xD5) : (negative ? 0x7F : 0xFF);
  if (segment == 8) return 0x7F ^ mask;
  const int shift = alaw ? (segment < 2 ? 1 : segment) : segment + 1;
  return static_cast<uint8_t>(((segment << 4) | ((v >> shift) & 0xF)) ^ mask);
}

// One IMA ADPCM code: the sign and three bits of the difference from the
// prediction in quarters of the step; the prediction and step index follow it as
// a decoder's do.
inline uint8_t ImaCode(int sample, int& predictor, int& index) {
  static const int16_t kSteps[89] = {
      7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
      31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
      130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
      544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
      2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
      9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
  static const int kIndexStep[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
  int step = kSteps[index];
  int diff = std::abs(sample - predictor);
  uint8_t code = sample < predictor ? 8 : 0;
  int delta = step >> 3;
  for (int bit = 4; bit; bit >>= 1, step >>= 1) {
    if (diff >= step) {
      code |= bit;
      diff -= step;
      delta += step;
    }
  }
  predictor = std::clamp(predictor + (code & 8 ? -delta : delta), -32768, 32767);
  index = std::clamp(index + kIndexStep[code & 7], 0, 88);
  return code;
}

// IMA ADPCM of 16-bit samples, `channels` interleaved, in blocks of
// kImaFramesPerBlock frames: each channel's header (its first sample and step
// index), then four bytes (eight codes, low nibble first) of each channel in turn.
inline wavebytes::Bytes ImaAdpcm(const std::vector<int16_t>& samples, uint16_t channels) {
  std::vector<int> predictor(channels, 0), index(channels, 0);
  wavebytes::Bytes out;
  const auto at = [&](size_t frame, uint16_t c) { return samples[frame * channels + c]; };
  for (size_t block = 0; block + kImaFramesPerBlock <= samples.size() / channels; block += kImaFramesPerBlock) {
    for (uint16_t c = 0; c < channels; ++c) {
      predictor[c] = at(block, c);
      wavebytes::PutU16(out, static_cast<uint16_t>(predictor[c]));
      out.push_back(static_cast<uint8_t>(index[c]));
      out.push_back(0);
    }
    for (size_t group = block + 1; group < block + kImaFramesPerBlock; group += 8) {
      for (uint16_t c = 0; c < channels; ++c) {
        for (size_t f = group; f < group + 8; f += 2) {
          const uint8_t low = ImaCode(at(f, c), predictor[c], index[c]);
          out.push_back(static_cast<uint8_t>(low | ImaCode(at(f + 1, c), predictor[c], index[c]) << 4));
        }
      }
    }
  }
  return out;
}

// Writes one sample in [-1, 1) in the encoding, little-endian.
inline void PutSample(wavebytes::Bytes& b, double x, const Encoding& e) {
  if (e.isFloat && e.bits == 32) {
    const float f = static_cast<float>(x);
    uint8_t raw[4];
    std::memcpy(raw, &f, 4);
    b.insert(b.end(), raw, raw + 4);
    return;
  }
  if (e.isFloat) {
    uint8_t raw[8];
    std::memcpy(raw, &x, 8);
    b.insert(b.end(), raw, raw + 8);
    return;
  }
  if (e.bits == 8) {
    const long v = std::lround(x * 128.0) + 128;
    b.push_back(static_cast<uint8_t>(std::clamp(v, 0L, 255L)));
    return;
  }
  const int64_t scale = int64_t{1} << (e.bits - 1);
  const int64_t v = std::clamp<int64_t>(std::llround(x * static_cast<double>(scale)), -scale, scale - 1);
  for (int i = 0; i < e.bits / 8; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

// A sine of `hz` at `amplitude` (of full scale) on the channels in `toneMask`
// (bit 0 the first channel), silence on the others.
inline wavebytes::Bytes ToneWave(const Encoding& e, uint16_t channels, uint32_t rate, double hz, double amplitude,
                                 double seconds, uint32_t toneMask = 0xFFFFFFFF) {
  using namespace wavebytes;
  const uint32_t frames = static_cast<uint32_t>(seconds * rate);
  Bytes data;
  std::vector<int16_t> linear;  // a codec's input
  data.reserve(static_cast<size_t>(frames) * channels * (e.bits / 8));
  for (uint32_t i = 0; i < frames; ++i) {
    const double x = amplitude * std::sin(2 * kPi * hz * i / rate);
    for (uint16_t c = 0; c < channels; ++c) {
      const double sample = (toneMask >> c) & 1 ? x : 0.0;
      if (e.tag) {
        linear.push_back(static_cast<int16_t>(std::clamp(std::lround(sample * 32768.0), -32768L, 32767L)));
      } else {
        PutSample(data, sample, e);
      }
    }
  }
  Bytes fmt;
  if (e.tag == kImaAdpcm) {
    data = ImaAdpcm(linear, channels);
    const uint16_t blockAlign = static_cast<uint16_t>(4 * channels + (kImaFramesPerBlock - 1) / 2 * channels);
    fmt = FmtBody(e.tag, channels, rate, 4, blockAlign, rate / kImaFramesPerBlock * blockAlign);
    PutU16(fmt, 2);
    PutU16(fmt, static_cast<uint16_t>(kImaFramesPerBlock));
  } else if (e.tag) {
    for (int16_t v : linear) data.push_back(G711(v, e.tag));
    fmt = FmtBody(e.tag, channels, rate, 8);
    PutU16(fmt, 0);
  } else if (e.extensible) {
    const uint32_t mask = channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1;
    fmt = ExtensibleBody(channels, rate, e.bits, e.validBits ? e.validBits : e.bits, mask, e.isFloat);
  } else {
    fmt = FmtBody(e.isFloat ? 3 : 1, channels, rate, e.bits);
  }
  return Riff({Chunk("fmt ", fmt), Chunk("data", data)});
}

// 16-bit stereo 44.1 kHz pseudo-random samples: every frame differs, so a block
// found in the recording has one place in the file.
inline std::vector<int16_t> NoiseSamples(uint32_t frames, uint32_t seed) {
  std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
  uint32_t x = seed * 2654435761u + 1;
  for (int16_t& v : s) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<int16_t>(x >> 16);
  }
  return s;
}

inline wavebytes::Bytes Pcm16Wave(const std::vector<int16_t>& stereo) {
  using namespace wavebytes;
  Bytes data(stereo.size() * 2);
  std::memcpy(data.data(), stereo.data(), data.size());
  return Riff({Chunk("fmt ", FmtBody(1, 2, kSinkRate, 16)), Chunk("data", data)});
}

// A stretch of the recording in frames, [begin, end).
struct Stretch {
  size_t begin = 0;
  size_t end = 0;
  size_t Frames() const { return end - begin; }
};

// The stretches where something sounded, split at silences of at least `gapFrames`.
inline std::vector<Stretch> SoundingStretches(const std::vector<int16_t>& stereo, size_t gapFrames = kSinkRate / 10,
                                              int threshold = 8) {
  std::vector<Stretch> stretches;
  const size_t frames = stereo.size() / 2;
  size_t lastLoud = 0;
  bool open = false;
  for (size_t f = 0; f < frames; ++f) {
    const bool loud = std::abs(stereo[2 * f]) > threshold || std::abs(stereo[2 * f + 1]) > threshold;
    if (!loud) {
      if (open && f - lastLoud >= gapFrames) {
        stretches.back().end = lastLoud + 1;
        open = false;
      }
      continue;
    }
    if (!open) {
      stretches.push_back(Stretch{f, f});
      open = true;
    }
    lastLoud = f;
  }
  if (open) stretches.back().end = lastLoud + 1;
  return stretches;
}

// Where a stretch's own sound ends: before the padding that closes it, when it
// does. Wine's wave-out, reset after its stream has drained, has the sink play zero
// bytes of the stream's own encoding, which are not silence: full negative scale
// for 8-bit samples, -32124 for mu-law, -5504 for A-law. The padding holds one value
// (within the sink resampler's rounding) on both channels for at least
// kUnderrunFrames; no test tone stays that long within two steps of one value.
inline size_t SoundEnd(const std::vector<int16_t>& stereo, Stretch s) {
  if (s.end <= s.begin) return s.end;
  const int left = stereo[2 * (s.end - 1)], right = stereo[2 * (s.end - 1) + 1];
  const auto held = [&](size_t f) {
    return std::abs(stereo[2 * f] - left) <= 2 && std::abs(stereo[2 * f + 1] - right) <= 2;
  };
  size_t end = s.end;
  while (end > s.begin && held(end - 1)) --end;
  return s.end - end >= kUnderrunFrames ? end : s.end;
}

// Where, inside a sounding stretch, the sound breaks into digital silence for at
// least `minFrames`: the frames where such runs begin.
// Not counted: the silence of a drained stream, a run that ends within
// kUnderrunFrames of the padding that closes its stretch (the sink's resampler
// leaves a few frames of ramp between the two).
inline std::vector<size_t> UnderrunGaps(const std::vector<int16_t>& stereo, size_t minFrames = kUnderrunFrames) {
  std::vector<size_t> gaps;
  for (const Stretch& s : SoundingStretches(stereo)) {
    const size_t soundEnd = SoundEnd(stereo, s);
    size_t f = s.begin;
    while (f < soundEnd) {
      if (!SilentFrame(stereo, f)) {
        ++f;
        continue;
      }
      const size_t run = f;
      while (f < soundEnd && SilentFrame(stereo, f)) ++f;
      if (f - run < minFrames) continue;
      if (soundEnd < s.end && f + kUnderrunFrames >= soundEnd) continue;
      gaps.push_back(run);
    }
  }
  return gaps;
}

// The frames of a stretch that sounded: its length without the underruns' silence
// and without the padding of a drained stream.
inline size_t SoundFrames(const std::vector<int16_t>& stereo, Stretch s) {
  const size_t soundEnd = SoundEnd(stereo, s);
  size_t frames = soundEnd - s.begin, run = 0;
  for (size_t f = s.begin; f <= soundEnd; ++f) {
    if (f < soundEnd && SilentFrame(stereo, f)) {
      ++run;
      continue;
    }
    if (run >= kUnderrunFrames) frames -= run;
    run = 0;
  }
  return frames;
}

// The frequency of a tone on one channel, from its rising zero crossings placed
// between samples by linear interpolation.
inline double ToneFrequency(const std::vector<int16_t>& stereo, Stretch s, int channel) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t f = s.begin + 1; f < s.end; ++f) {
    const double a = stereo[2 * (f - 1) + channel], b = stereo[2 * f + channel];
    if (a < 0 && b >= 0) {
      const double at = static_cast<double>(f - 1) + (-a) / (b - a);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(kSinkRate) / (last - first);
}

// The RMS level of one channel in decibels of full scale (a full-scale sine: −3.01).
inline double RmsDb(const std::vector<int16_t>& stereo, Stretch s, int channel) {
  double sum = 0;
  for (size_t f = s.begin; f < s.end; ++f) {
    const double v = stereo[2 * f + channel] / 32768.0;
    sum += v * v;
  }
  return 10 * std::log10(sum / static_cast<double>(std::max<size_t>(s.Frames(), 1)) + 1e-30);
}

// A measure of a stretch taken over its 0.1 s windows, the median of them: an
// underrun's silence or Wine's catch-up skip, too short after the sink's
// resampling to be told by its digital silence, moves only the window it falls in.
template <class Measure>
double MedianOverWindows(Stretch s, const Measure& measure, size_t window = kSinkRate / 10) {
  std::vector<double> values;
  for (size_t b = s.begin; b + window <= s.end; b += window) values.push_back(measure(Stretch{b, b + window}));
  if (values.empty()) return measure(s);
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
inline double ToneFrequencyOverWindows(const std::vector<int16_t>& stereo, Stretch s, int channel) {
  return MedianOverWindows(s, [&](Stretch w) { return ToneFrequency(stereo, w, channel); });
}
inline double RmsDbOverWindows(const std::vector<int16_t>& stereo, Stretch s, int channel) {
  return MedianOverWindows(s, [&](Stretch w) { return RmsDb(stereo, w, channel); });
}

// The middle part of a stretch, away from its edges (fades, the sink's start).
inline Stretch Middle(Stretch s, double share = 0.5) {
  const size_t cut = static_cast<size_t>(static_cast<double>(s.Frames()) * (1 - share) / 2);
  return Stretch{s.begin + cut, s.end - cut};
}

}  // namespace e2e

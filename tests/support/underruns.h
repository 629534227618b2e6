// The sink's underruns in a recording of what Wine played: PulseAudio plays
// digital silence when Wine's writer thread falls behind the 30 ms it keeps in
// the server, and Wine then skips a little of the stream to catch up. Tests that
// compare a recording with what was written step over those, and only those.
//
// Seen here in four one-minute recordings of noise (54 breaks): a run of exact
// zeros of 1 to 1,430 frames, or none at all, after which the stream goes on
// where it broke or up to 215 frames further; never back, never a wrong sample.
// Twice Wine also skipped 55-65 ms of a stream 25 ms after its start: longer
// than an underrun is let be, so a step that shows it is recorded again.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

// Frames of digital silence in a row that tell an underrun inside a sound whose
// samples the test does not know (a tone): no test signal here holds such a run
// inside its sound, and most of the server's underruns are longer (the shorter
// ones are found only by comparing with the signal): both channels exactly zero,
// 64 times (1.5 ms) in a row.
constexpr size_t kUnderrunFrames = 64;

// The longest an underrun's silence lasts here, and the most of the stream Wine
// skips to catch up after one: half of one of the player's 100 ms buffers, so a
// buffer lost, silenced or written twice by the player is never taken for one.
constexpr size_t kMaxGapFrames = 44100 / 20;

// Whether both channels of a 16-bit stereo frame are exactly zero.
inline bool SilentFrame(const std::vector<int16_t>& stereo, size_t frame) {
  return stereo[2 * frame] == 0 && stereo[2 * frame + 1] == 0;
}

// The sample index (not frame) where `count` samples of `signal` from `from` lie in
// `recording`, searched from `searchFrom`; SIZE_MAX when they are nowhere.
inline size_t FindBlock(const std::vector<int16_t>& recording, const std::vector<int16_t>& signal, size_t from,
                        size_t count, size_t searchFrom = 0) {
  if (from + count > signal.size()) return SIZE_MAX;
  for (size_t j = searchFrom; j + count <= recording.size(); j += 2) {
    if (std::memcmp(&recording[j], &signal[from], count * 2) == 0) return j;
  }
  return SIZE_MAX;
}

// How far a recording follows a signal sample for sample.
struct Following {
  size_t recordingEnd = SIZE_MAX;  // sample index where the recording stops following; SIZE_MAX: never began
  size_t signalEnd = 0;            // sample index of the signal reached
  int underruns = 0;               // the sink's underruns stepped over on the way
  size_t firstUnderrunInSignal = 0;  // sample index of the signal where the first of them broke in
};

// Follows `signal` from sample `from` through `recording`, stepping over the
// sink's underruns: a run of digital silence of at most kMaxGapFrames (or none)
// after which the signal goes on where it broke or at most kMaxGapFrames further.
// Anything else, a wrong sample, a longer silence, a longer jump or a step back,
// ends the following. `probe` samples place the signal where the following
// begins and again after each break: short, because breaks come as close as 83
// frames apart, and long enough to be found nowhere else in noise.
inline Following FollowAcrossUnderruns(const std::vector<int16_t>& recording, const std::vector<int16_t>& signal,
                                       size_t from, size_t probe = 64) {
  Following f;
  size_t at = FindBlock(recording, signal, from, probe);
  if (at == SIZE_MAX) return f;
  size_t i = from;
  for (;;) {
    while (i < signal.size() && at < recording.size() && recording[at] == signal[i]) {
      ++i;
      ++at;
    }
    f.recordingEnd = at;
    f.signalEnd = i;
    if (i >= signal.size() || at >= recording.size()) return f;
    // Back to the start of the frame that differs: is it an underrun's silence?
    const size_t frame = at / 2;
    const size_t signalFrame = i / 2;
    size_t zeros = 0;
    while (2 * (frame + zeros) + 1 < recording.size() && SilentFrame(recording, frame + zeros)) ++zeros;
    if (zeros > kMaxGapFrames) return f;
    const size_t resume = 2 * (frame + zeros);
    if (resume + probe > recording.size()) return f;
    size_t found = SIZE_MAX;
    for (size_t j = 2 * signalFrame; j <= 2 * (signalFrame + kMaxGapFrames) && j + probe <= signal.size(); j += 2) {
      if (std::memcmp(&signal[j], &recording[resume], probe * 2) == 0) {
        found = j;
        break;
      }
    }
    if (found == SIZE_MAX) return f;
    if (f.underruns++ == 0) f.firstUnderrunInSignal = 2 * signalFrame;
    i = found;
    at = resume;
  }
}


// Whether the recording holds `signal` from sample `from` to its end, sample for
// sample apart from the sink's underruns; says on stderr where it broke off.
inline bool RecordedWhole(const std::vector<int16_t>& recording, const std::vector<int16_t>& signal, size_t from) {
  const Following f = FollowAcrossUnderruns(recording, signal, from);
  if (f.underruns > 0) std::fprintf(stderr, "recording: stepped over %d underruns of the sink\n", f.underruns);
  if (f.signalEnd >= signal.size()) return true;
  std::fprintf(stderr, "recording: follows the signal from sample %zu to %zu of %zu only\n", from, f.signalEnd,
               signal.size());
  return false;
}

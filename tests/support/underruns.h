// The sink's underruns in a recording of what Wine played: PulseAudio plays
// digital silence when Wine's writer thread falls behind the 30 ms it keeps in
// the server, and Wine then skips a little of the stream to catch up. Tests that
// compare a recording with what was written step over those, and only those.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

// Frames of digital silence in a row that no test signal here holds inside its
// sound, but that PulseAudio plays when Wine's writer thread falls behind its
// 30 ms of buffer (an underrun; seen here from 220 frames up): a frame of both
// channels exactly zero, 64 times (1.5 ms) in a row.
constexpr size_t kUnderrunFrames = 64;

// The longest an underrun's silence lasts here, and the most of the stream Wine
// skips to catch up after one: far less than one of the player's 100 ms buffers,
// so a buffer lost or written twice by the player is never taken for one.
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
};

// Follows `signal` from sample `from` through `recording`, stepping over the
// sink's underruns: a run of digital silence (kUnderrunFrames to kMaxGapFrames)
// after which the signal goes on, at most kMaxGapFrames further on. Anything
// else, a wrong sample, a longer silence or a longer jump, ends the following.
inline Following FollowAcrossUnderruns(const std::vector<int16_t>& recording, const std::vector<int16_t>& signal,
                                       size_t from, size_t probe = 512) {
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
    if (zeros < kUnderrunFrames || zeros > kMaxGapFrames) return f;
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
    ++f.underruns;
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

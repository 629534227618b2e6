// What every end-to-end case shares: a folder for its files, the player's registry
// key cleared before and after (so one case's settings never steer another), the
// null sink's recorder, and a record of the temporary folder to find leftovers.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/player_process.h"
#include "tests/e2e/signals.h"
#include "tests/support/sink_recorder.h"
#include "tests/support/temp_dir.h"

namespace e2e {

constexpr char kSettingsKey[] = "SOFTWARE\\ZEMBRIXPlayer";
// parec may miss up to two seconds of its own start: the player starts after this.
constexpr DWORD kRecorderLeadMs = 2200;
constexpr DWORD kPlayWaitMs = 15000;
// A conversion starts a converter process or two (a description, then the
// conversion): through qemu each start takes as long as a player's window.
constexpr DWORD kConversionWaitMs = 2 * kWindowWaitMs;
// How long parec may take to write what the sink played into its file.
constexpr DWORD kRecorderFlushMs = 500;
// Breaks this close in every attempt of a step are not the server's chance
// underruns, which fall anywhere, but the player's: 50 ms, half a buffer. Not
// so in a stream's first 100 ms, where Wine's first refill often comes late and
// the sink breaks about 21 ms in, attempt after attempt.
constexpr size_t kSamePlaceFrames = 2205;
constexpr size_t kStreamStartFrames = 4410;
// Attempts of a step: a longer sound (the loop's three and a half seconds) often
// meets a break of the server in two or three attempts running.
constexpr int kStepAttempts = 5;

inline void ClearSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey); }

// The names in the system's temporary folder, our own test folders excluded.
inline std::set<std::string> TempFolderNames() {
  char folder[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, folder);
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(folder) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != ".." && name.rfind("vextest", 0) != 0) names.insert(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

inline std::vector<std::string> NewNames(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::vector<std::string> added;
  for (const std::string& n : after) {
    if (!before.count(n)) added.push_back(n);
  }
  return added;
}

// "mm'ss.t" (or "h:mm'ss.t") in seconds; -1 when the text is not a time.
inline double TimeTextSeconds(const std::string& text) {
  unsigned h = 0, m = 0, s = 0, t = 0;
  if (std::sscanf(text.c_str(), "%u:%u'%u.%u", &h, &m, &s, &t) == 4) return h * 3600.0 + m * 60 + s + t / 10.0;
  if (std::sscanf(text.c_str(), "%u'%u.%u", &m, &s, &t) == 3) return m * 60.0 + s + t / 10.0;
  return -1;
}

inline std::string SystemErrorText(UINT code) {
  char text[256] = "";
  waveOutGetErrorTextA(code, text, sizeof text);
  return text;
}

// With VEX_SOUND_KEEP naming a folder, each step's recording is kept there as
// raw 16-bit stereo 44.1 kHz ("<step>-<attempt>.raw") for a closer look.
inline void KeepRecording(const std::vector<int16_t>& got, const char* what, int attempt) {
  char folder[MAX_PATH] = "";
  if (!GetEnvironmentVariableA("VEX_SOUND_KEEP", folder, sizeof folder)) return;
  const std::string name = std::string(folder) + "\\" + what + "-" + std::to_string(attempt) + ".raw";
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, got.data(), static_cast<DWORD>(got.size() * 2), &written, nullptr);
  CloseHandle(file);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    tempBefore_ = TempFolderNames();
  }
  void TearDown() override { ClearSettings(); }

  // Starts a recorder of `seconds` and waits out its uncertain start.
  std::unique_ptr<SinkRecorder> Record(int seconds) {
    auto recorder = std::make_unique<SinkRecorder>(dir_, seconds);
    Sleep(kRecorderLeadMs);
    return recorder;
  }
  // Where the audio server broke a step's recording, in frames from the start of
  // its sound; SIZE_MAX where it did not.
  using BreakFinder = std::function<size_t(const std::vector<int16_t>& got)>;
  static size_t FromSoundStart(const std::vector<int16_t>& got, size_t frame) {
    return frame - SoundingStretches(got)[0].begin;
  }
  // A sound's digital silence: what an underrun leaves in a tone.
  static size_t FirstSilenceGap(const std::vector<int16_t>& got) {
    const std::vector<size_t> gaps = UnderrunGaps(got);
    return gaps.empty() ? SIZE_MAX : FromSoundStart(got, gaps[0]);
  }
  // For a step that plays `signal` whole: the signal's frame at the first
  // underrun stepped over in following it from sample `from`, or where the
  // following broke off.
  static BreakFinder FollowingBreak(const std::vector<int16_t>& signal, size_t from) {
    return [&signal, from](const std::vector<int16_t>& got) {
      const Following f = FollowAcrossUnderruns(got, signal, from);
      if (f.underruns == 0 && f.signalEnd >= signal.size()) return SIZE_MAX;
      return (f.underruns > 0 ? f.firstUnderrunInSignal : f.signalEnd) / 2;
    };
  }

  // A step's recording begins once the sink has been quiet for a fifth of a
  // second: the tail of the step before can reach the recorder later than the
  // player's end of play and the flush after it (at most a few seconds).
  static void AwaitQuietSink(const SinkRecorder& recorder) {
    constexpr size_t kQuietBytes = kSinkRate / 5 * 4;
    const DWORD start = GetTickCount();
    for (;;) {
      const size_t end = recorder.RecordedBytes();
      const std::vector<int16_t> last = recorder.SamplesSince(end > kQuietBytes ? end - kQuietBytes : 0);
      const bool quiet = std::all_of(last.begin(), last.end(), [](int16_t x) { return x >= -8 && x <= 8; });
      if ((quiet && last.size() * 2 >= kQuietBytes) || GetTickCount() - start > 3000) return;
      Sleep(kPollMs);
    }
  }

  // Runs `play`, then returns what the recorder took meanwhile. When that shows
  // a break of the audio server (an underrun of Wine's writer thread: the
  // machine, not the player, was late), `retry` readies the step again and it is
  // repeated, up to kStepAttempts times in all; the first clean recording,
  // else the last, is returned to be judged. The server's breaks fall anywhere
  // after a stream's start; a fault of the player breaks every attempt at the
  // same place and fails here.
  std::vector<int16_t> RecordStep(SinkRecorder& recorder, const char* what, const std::function<void()>& play,
                                  const std::function<void()>& retry,
                                  const BreakFinder& firstBreak = FirstSilenceGap) {
    std::vector<size_t> breaks;
    for (int attempt = 1;; ++attempt) {
      AwaitQuietSink(recorder);
      const size_t mark = recorder.RecordedBytes();
      play();
      Sleep(kRecorderFlushMs);
      std::vector<int16_t> got = recorder.SamplesSince(mark);
      KeepRecording(got, what, attempt);
      const size_t at = firstBreak(got);
      if (at == SIZE_MAX) return got;
      breaks.push_back(at);
      if (attempt == kStepAttempts) {
        const auto [low, high] = std::minmax_element(breaks.begin(), breaks.end());
        EXPECT_TRUE(*low < kStreamStartFrames || *high - *low > kSamePlaceFrames)
            << what << ": every attempt broke within " << kSamePlaceFrames << " frames of frame " << *low
            << " of its sound";
        return got;
      }
      std::printf("[ sound ] %s: the recording breaks %.3f s into the sound; attempt %d of %d\n",
                  what, static_cast<double>(at) / kSinkRate, attempt + 1, kStepAttempts);
      std::fflush(stdout);
      retry();
    }
  }
  std::vector<std::string> TempLeftovers() const { return NewNames(tempBefore_, TempFolderNames()); }

  TempDir dir_;
  std::set<std::string> tempBefore_;
};

}  // namespace e2e

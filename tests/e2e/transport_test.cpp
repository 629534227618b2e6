// The transport as a person uses it, checked in the null sink's recording: the
// volume slider's gain, loop play without a seam, pause holding the sound and the
// restart continuing, and a click on the waveform landing where it points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr double kHalfAmplitudeDb = -6.0206;
constexpr double kGainTolerance = 0.1;  // dB
constexpr int kLoopRounds = 10;
constexpr size_t kProbe = 512;             // samples compared to place a block
constexpr size_t kSinkBlanked = 2 * 300;   // samples the sink may blank at a stream's start
// What Wine's wave-out may drop at a pause: one 100 ms buffer and a little.
constexpr double kPauseSlack = 0.11;  // s
// What Wine's wave-out may sound twice at a restart: the sink's blanked start.
constexpr double kRestartRepeat = 220.0 / kSinkRate;  // s
constexpr double kSeekFraction = 0.75;
constexpr double kSeekTolerance = 0.02;    // of the file: about a pixel column and a buffer
// How far from the seek's seam its silence may lie: a few of Wine's periods.
constexpr size_t kSeamFrames = kSinkRate / 20;
// Long enough for every step and its repeats; the recorder is stopped at the end.
constexpr int kRecordingCapSeconds = 300;

// Where `recording` stops following `signal` after aligning at `from`, past the
// sink's underruns; SIZE_MAX when the signal is not found.
size_t FollowUntilDivergence(const std::vector<int16_t>& recording, const std::vector<int16_t>& signal,
                             size_t from) {
  return FollowAcrossUnderruns(recording, signal, from).recordingEnd;
}

// The position of a recorded block in `signal` (samples), SIZE_MAX when absent.
size_t PlaceInSignal(const std::vector<int16_t>& recording, size_t at, const std::vector<int16_t>& signal) {
  return FindBlock(signal, recording, at, kProbe);
}

class TransportTest : public EndToEnd {};

TEST_F(TransportTest, VolumeLoopPauseAndSeekAsHeardInTheRecording) {
  const std::string tone = dir_.Write("tone.wav", ToneWave(Encoding{16}, 2, kSinkRate, 500, 0.5, 1.0));
  const std::vector<int16_t> round = NoiseSamples(kSinkRate * 3 / 10, 31);
  const std::string loop = dir_.Write("round.wav", Pcm16Wave(round));
  const std::vector<int16_t> long3 = NoiseSamples(kSinkRate * 3, 37);
  const std::string pausePath = dir_.Write("pause.wav", Pcm16Wave(long3));
  const std::vector<int16_t> long10 = NoiseSamples(kSinkRate * 10, 41);
  const std::string seekPath = dir_.Write("seek.wav", Pcm16Wave(long10));

  auto recorder = Record(kRecordingCapSeconds);
  ASSERT_TRUE(recorder->Started());
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  player.SelectDevice(0);
  const auto playToEnd = [&](const std::string& path) {
    player.Play(path);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs)) << path;
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs)) << path;
  };
  // Idle, Rewind forgets where the last play stopped: a repeated step starts at 0.
  const auto rewind = [&] { player.Command(IDC_REWIND); };

  // Volume: the same tone at 0 dB and at -6.0 dB.
  const std::vector<int16_t> full = RecordStep(*recorder, "tone at 0 dB", [&] { playToEnd(tone); }, rewind);
  player.SetVolume(-60);
  ASSERT_TRUE(WaitUntil([&] { return player.Text(IDC_VOLUME_TEXT) == "-6.0dB"; }, 5000)) << player.Text(IDC_VOLUME_TEXT);
  const std::vector<int16_t> half = RecordStep(*recorder, "tone at -6 dB", [&] { playToEnd(tone); }, rewind);
  player.SetVolume(0);
  ASSERT_TRUE(WaitUntil([&] { return player.Text(IDC_VOLUME_TEXT) == "0.0dB"; }, 5000));
  {
    const std::vector<Stretch> f = SoundingStretches(full), h = SoundingStretches(half);
    ASSERT_EQ(f.size(), 1u);
    ASSERT_EQ(h.size(), 1u);
    for (int channel = 0; channel < 2; ++channel) {
      EXPECT_NEAR(RmsDbOverWindows(half, Middle(h[0]), channel) - RmsDbOverWindows(full, Middle(f[0]), channel),
                  kHalfAmplitudeDb, kGainTolerance);
    }
  }

  // Loop: ten rounds and a little more, then Stop.
  std::vector<int16_t> rounds;
  for (int i = 0; i < kLoopRounds; ++i) rounds.insert(rounds.end(), round.begin(), round.end());
  player.SetCheck(IDC_LOOP, true);
  const std::vector<int16_t> looped = RecordStep(*recorder, "loop", [&] {
    player.Play(loop);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
    Sleep(static_cast<DWORD>((kLoopRounds + 1.5) * 300));
    EXPECT_TRUE(player.Playing()) << "a loop does not end by itself";
    player.Command(IDC_PLAY_OR_STOP);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
  }, rewind, FollowingBreak(rounds, kSinkBlanked));
  player.SetCheck(IDC_LOOP, false);
  {
    EXPECT_EQ(SoundingStretches(looped).size(), 1u);
    EXPECT_EQ(FollowAcrossUnderruns(looped, rounds, kSinkBlanked).signalEnd, rounds.size())
        << "ten rounds without a seam";
  }

  // Pause after about a second, for a second and a half, then restart.
  const std::vector<int16_t> paused = RecordStep(*recorder, "pause", [&] {
    player.Play(pausePath);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
    Sleep(1000);
    player.Command(IDC_PAUSE);
    Sleep(1500);
    player.Command(IDC_PAUSE);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
  }, rewind);
  {
    const std::vector<Stretch> s = SoundingStretches(paused);
    ASSERT_EQ(s.size(), 2u) << "the sound before the pause and after the restart";
    EXPECT_GE((s[1].begin - s[0].end) / static_cast<double>(kSinkRate), 1.0) << "the pause held the sound";
    // Wine's wave-out drops what its audio server already held when it pauses, at
    // most one 100 ms buffer: the restart goes on from there, never back.
    const size_t held = FollowUntilDivergence(paused, long3, kSinkBlanked);
    ASSERT_NE(held, SIZE_MAX);
    const size_t heldInFile = PlaceInSignal(paused, held - held % 2 - kProbe, long3) + kProbe;
    const size_t resumedInFile = PlaceInSignal(paused, 2 * s[1].begin + kSinkBlanked, long3);
    ASSERT_NE(resumedInFile, SIZE_MAX) << "what sounded after the restart is not from the file";
    const double skipped = (static_cast<double>(resumedInFile) - kSinkBlanked - heldInFile) / 2 / kSinkRate;
    // Seen here: Wine repeats about 180 frames at a restart, as many as the sink blanks.
    EXPECT_GE(skipped, -kRestartRepeat) << "the restart went back";
    EXPECT_LE(skipped, kPauseSlack) << "the restart skipped more than the system's buffer";
  }

  // Seek: a click three quarters across the waveform.
  HWND waveform = GetDlgItem(player.Window(), IDC_WAVEFORM);
  RECT client{};
  GetClientRect(waveform, &client);
  POINT point{static_cast<LONG>(client.right * kSeekFraction), client.bottom / 2};
  const double askedFraction = static_cast<double>(point.x) / client.right;
  MapWindowPoints(waveform, player.Window(), &point, 1);
  const std::vector<int16_t> sought = RecordStep(*recorder, "seek", [&] {
    player.Play(seekPath);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
    Sleep(500);
    PostMessageA(player.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
    PostMessageA(player.Window(), WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
  }, rewind, [&](const std::vector<int16_t>& got) {
    // The jump restarts Wine's stream, which the sink opens with a short silence:
    // that one is the step's own.
    const size_t seam = FollowUntilDivergence(got, long10, kSinkBlanked);
    for (size_t gap : UnderrunGaps(got)) {
      if (seam == SIZE_MAX || gap + kSeamFrames < seam / 2 || gap > seam / 2 + kSeamFrames) {
        return FromSoundStart(got, gap);
      }
    }
    return SIZE_MAX;
  });
  recorder->Stop();
  EXPECT_TRUE(player.Close());

  const size_t diverged = FollowUntilDivergence(sought, long10, kSinkBlanked);
  ASSERT_NE(diverged, SIZE_MAX);
  // 50 ms after the jump, away from the seam, the recording is the file at the asked place.
  // Wine's restarted stream often breaks again just there, so the next blocks are
  // tried too (a break moves the place by at most 5 ms of the 10 s file).
  const size_t after = diverged - diverged % 2 + 2 * kSinkRate / 20;
  size_t landed = SIZE_MAX;
  for (size_t k = 0; k < 8 && landed == SIZE_MAX; ++k) {
    const size_t found = PlaceInSignal(sought, after + k * kProbe, long10);
    if (found != SIZE_MAX && found >= k * kProbe) landed = found - k * kProbe;
  }
  ASSERT_NE(landed, SIZE_MAX) << "what sounded after the seek is not from the file";
  const double landedFraction = (landed / 2.0 - kSinkRate / 20.0) / (long10.size() / 2.0);
  EXPECT_NEAR(landedFraction, askedFraction, kSeekTolerance);
}

// Runs a shell command of the build host and waits (up to `ms`) until it is done:
// Wine's exit codes of Unix children mean nothing and their handles may be
// signalled early, so the command leaves a marker file behind as its last act.
bool RunOnHost(const std::string& command, DWORD ms) {
  const std::string marker = "/tmp/vex-e2e-" + std::to_string(GetCurrentProcessId()) + ".done";
  DeleteFileA(WindowsPath(marker).c_str());
  std::string line = "/bin/sh -c \"" + command + "; touch " + marker + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  const bool done = WaitUntil([&] { return GetFileAttributesA(WindowsPath(marker).c_str()) != INVALID_FILE_ATTRIBUTES; }, ms);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  DeleteFileA(WindowsPath(marker).c_str());
  return done;
}

// The test session's audio server, stopped and started as tools/wine-session.sh does.
constexpr char kStopAudioServer[] = "pulseaudio --kill; while pulseaudio --check; do sleep 0.1; done";
constexpr char kStartAudioServer[] =
    "pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load='module-null-sink sink_name=nullsink'"
    " --load=module-native-protocol-unix >/dev/null 2>&1";

// Sequential play through three files of one format on the wave mapper: the sink
// records one stream, the files back to back, with nothing between them but the
// audio server's own short underruns.
TEST_F(TransportTest, SequentialFilesOfOneFormatSoundAsOneStream) {
  std::vector<std::vector<int16_t>> files;
  std::vector<std::string> paths;
  for (int i = 0; i < 3; ++i) {
    files.push_back(NoiseSamples(kSinkRate * 3 / 2, 60 + i));
    paths.push_back(dir_.Write("track" + std::to_string(i + 1) + ".wav", Pcm16Wave(files.back())));
  }
  std::vector<int16_t> stream;
  for (const auto& f : files) stream.insert(stream.end(), f.begin(), f.end());
  auto recorder = Record(kRecordingCapSeconds);
  ASSERT_TRUE(recorder->Started());
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  player.SelectDevice(0);
  player.ListOnTop(paths);
  player.SetCheck(IDC_SEQUENTIAL, true);
  const size_t mark = recorder->RecordedBytes();
  player.Command(IDC_START);
  const std::vector<std::string> titles =
      player.TitlesUntilPlayEndsAt(std::string("track3.wav - ") + kCaption, 30000);
  Sleep(kRecorderFlushMs);
  const std::vector<int16_t> sound = recorder->SamplesSince(mark);
  recorder->Stop();
  EXPECT_EQ(titles.back(), "track3.wav - ZEMBRIX Player(x86)");
  const size_t first = FindBlock(sound, stream, kSinkBlanked, 64);
  ASSERT_NE(first, SIZE_MAX) << "the first file never sounded";
  const Following f = FollowAcrossUnderruns(sound, stream, kSinkBlanked);
  EXPECT_EQ(f.signalEnd, stream.size()) << "the three files in one stream, to the last frame";
  // The frames between one file's last and the next one's first, as recorded.
  size_t from = first;
  for (size_t i = 0; i + 1 < files.size(); ++i) {
    const size_t joinAt = (i + 1) * files[0].size();
    const size_t lastOfOne = FindBlock(sound, stream, joinAt - 64, 64, from);
    const size_t firstOfNext = FindBlock(sound, stream, joinAt, 64, from);
    ASSERT_NE(lastOfOne, SIZE_MAX);
    ASSERT_NE(firstOfNext, SIZE_MAX);
    const long between = (static_cast<long>(firstOfNext) - static_cast<long>(lastOfOne + 64)) / 2;
    std::printf("sequential: %ld frames between track%zu and track%zu in the recording\n", between, i + 1, i + 2);
    RecordProperty("FramesBetween" + std::to_string(i + 1), static_cast<int>(between));
    EXPECT_GE(between, 0);
    from = firstOfNext;
  }
  EXPECT_TRUE(player.Close());
}

// The wait for a device that went away, in the player's settings.
void SetDeviceWaitSeconds(DWORD seconds) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kSettingsKey) + "\\WaveOutSettings").c_str(), 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, "DeviceWaitSeconds", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seconds), sizeof seconds);
  RegCloseKey(key);
}

// Waits for the status line to say the player waits for its device; returns it.
std::string WaitForWaitingStatus(const PlayerProcess& player, DWORD ms) {
  std::string status;
  WaitUntil([&] {
    status = player.Text(IDC_STATUS);
    return status.rfind("Waiting for '", 0) == 0;
  }, ms);
  return status;
}

// Away for longer than the wait the settings allow: the play stops with the
// stalled-device box, and Start plays once the server is back.
TEST_F(TransportTest, AnAudioServerAwayLongerThanTheWaitStopsPlaybackWithABoxAndStartPlaysOnceItIsBack) {
  SetDeviceWaitSeconds(2);
  const std::string path = dir_.Write("thirty.wav", Pcm16Wave(NoiseSamples(kSinkRate * 30, 43)));
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  player.SelectDevice(0);
  player.Play(path);
  ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
  Sleep(2000);
  const DWORD killed = GetTickCount();
  ASSERT_TRUE(RunOnHost(kStopAudioServer, 10000)) << "the audio server did not stop";
  const DWORD gone = GetTickCount();
  const std::string waiting = WaitForWaitingStatus(player, 10000);
  const DWORD waited = GetTickCount();
  const MessageBoxSeen box = player.WaitForMessageBox(20000);
  const DWORD boxed = GetTickCount();
  const bool stoppedFirst = !player.Playing();
  const std::string timeText = player.Text(IDC_TIME);
  std::printf("[ stall ] server stopped in %lu ms; \"%s\" %lu ms after that; box %lu ms after that (\"%s\"); time display %s\n",
              static_cast<unsigned long>(gone - killed), waiting.c_str(), static_cast<unsigned long>(waited - gone),
              static_cast<unsigned long>(boxed - waited), box.text.c_str(), timeText.c_str());
  std::fflush(stdout);
  player.Dismiss(box);
  const bool restarted = RunOnHost(kStartAudioServer, 10000);
  ASSERT_TRUE(restarted) << "the audio server did not start again: later cases would fail";
  EXPECT_EQ(waiting.rfind("Waiting for '", 0), 0u) << waiting;
  EXPECT_NE(waiting.find("' to come back; Stop gives up"), std::string::npos) << waiting;
  ASSERT_NE(box.window, nullptr) << "no box within 20 s of the wait's start";
  EXPECT_GE(boxed - waited, 1500u) << "the box came after the two seconds' wait";
  EXPECT_EQ(box.caption, kCaption);
  EXPECT_EQ(box.text.rfind("The output device '", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("' stopped responding."), std::string::npos) << box.text;
  EXPECT_TRUE(stoppedFirst) << "Stop is disabled by the time the box shows";
  EXPECT_TRUE(player.Responsive());

  const DWORD again = GetTickCount();
  player.Play(path);
  ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs)) << "Start plays once the server is back";
  Sleep(1500);
  const std::string later = player.Text(IDC_TIME);
  std::printf("[ stall ] start again took %lu ms; time display 1.5 s later %s\n",
              static_cast<unsigned long>(GetTickCount() - again), later.c_str());
  EXPECT_GT(TimeTextSeconds(later), 0.5) << "the position moves: the new stream plays";
  EXPECT_FALSE(player.WaitForMessageBox(100).window) << player.WaitForMessageBox(100).text;
  EXPECT_TRUE(player.Close());
}

// The audio server as the test session runs it again at the end of a case that
// started it some other way.
struct AudioServerRestored {
  ~AudioServerRestored() {
    RunOnHost(kStopAudioServer, 10000);
    RunOnHost(kStartAudioServer, 10000);
  }
};

// The audio server goes away 3 s into a 30 s file and is back 4 s later: the
// player waits for its device and goes on from the first frame of the first buffer
// the server did not give back. The sink is recorded until the server goes, and
// again from before it is back: that recorder reaches the server by a socket of
// its own, opened before the one the player uses.
TEST_F(TransportTest, AnAudioServerBackWithinTheWaitResumesWhereTheSoundStopped) {
  constexpr size_t kBufferFrames = kSinkRate / 10;  // the player's default buffer
  const std::vector<int16_t> signal = NoiseSamples(kSinkRate * 30, 44);
  const std::string path = dir_.Write("thirty.wav", Pcm16Wave(signal));
  auto before = Record(kRecordingCapSeconds);
  ASSERT_TRUE(before->Started());
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  player.SelectDevice(0);
  const size_t mark = before->RecordedBytes();
  player.Play(path);
  ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
  Sleep(3000);
  AudioServerRestored restore;
  ASSERT_TRUE(RunOnHost(kStopAudioServer, 10000)) << "the audio server did not stop";
  const DWORD gone = GetTickCount();
  const std::string waiting = WaitForWaitingStatus(player, 10000);
  const std::string keptTime = player.Text(IDC_TIME);
  const std::vector<int16_t> first = before->SamplesSince(mark);
  before->Stop();
  const DWORD away = GetTickCount() - gone;
  if (away < 4000) Sleep(4000 - away);
  const std::string socket = "/tmp/vex-e2e-" + std::to_string(GetCurrentProcessId()) + ".recorder";
  ASSERT_TRUE(RunOnHost("pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load='module-null-sink sink_name=nullsink'"
                        " --load='module-native-protocol-unix socket=" + socket + "' >/dev/null 2>&1", 10000));
  SinkRecorder after(dir_, kRecordingCapSeconds, "after.raw", socket);
  ASSERT_TRUE(after.Started());
  Sleep(kRecorderLeadMs);
  const size_t returnMark = after.RecordedBytes();
  ASSERT_TRUE(RunOnHost("pactl -s unix:" + socket + " load-module module-native-protocol-unix >/dev/null", 10000))
      << "the player's socket";
  const DWORD back = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, 40000)) << "the file plays to its end";
  const DWORD ended = GetTickCount();
  Sleep(kRecorderFlushMs);
  const std::vector<int16_t> second = after.SamplesSince(0);
  after.Stop();
  EXPECT_FALSE(player.WaitForMessageBox(100).window) << player.WaitForMessageBox(100).text;
  EXPECT_TRUE(player.Close());

  EXPECT_EQ(waiting.rfind("Waiting for '", 0), 0u) << waiting;
  EXPECT_NE(waiting.find("' to come back; Stop gives up"), std::string::npos) << waiting;
  const Following one = FollowAcrossUnderruns(first, signal, kSinkBlanked);
  ASSERT_NE(one.recordingEnd, SIZE_MAX) << "the file sounded before the server went";
  const size_t heard = one.signalEnd;  // samples of the file the dying server played
  // Where the second recording takes the file up: its first sound placed in the file near that point.
  const size_t windowStart = heard > 4 * kSinkRate ? heard - 4 * kSinkRate : 0;
  const std::vector<int16_t> around(signal.begin() + static_cast<std::ptrdiff_t>(windowStart),
                                  signal.begin() + static_cast<std::ptrdiff_t>(std::min(signal.size(), heard + 4 * kSinkRate)));
  size_t sound = 0;
  while (sound + 1 < second.size() && second[sound] == 0 && second[sound + 1] == 0) sound += 2;
  size_t resumedAt = SIZE_MAX, inRecording = SIZE_MAX;
  for (size_t j = sound; j + 64 <= second.size() && j < sound + 2 * kSinkRate && resumedAt == SIZE_MAX; j += 2) {
    const size_t at = FindBlock(around, second, j, 64);
    if (at != SIZE_MAX) {
      resumedAt = windowStart + at;
      inRecording = j;
    }
  }
  ASSERT_NE(resumedAt, SIZE_MAX) << "the file did not go on near where it stopped";
  const Following two = FollowAcrossUnderruns(second, signal, resumedAt);
  const long repeated = (static_cast<long>(heard) - static_cast<long>(resumedAt)) / 2;
  const long fromReturn = (static_cast<long>(inRecording / 2) - static_cast<long>(returnMark / 4)) * 1000 / kSinkRate;
  std::printf("[ device back ] waiting status \"%s\" at %s; heard up to frame %zu, went on from frame %zu "
              "(%ld frames repeated, %zu past a buffer's start); first frame %ld ms after the server's return "
              "; ended %lu ms after the return; %d underruns after\n",
              waiting.c_str(), keptTime.c_str(), heard / 2, resumedAt / 2, repeated, (resumedAt / 2) % kBufferFrames,
              fromReturn, static_cast<unsigned long>(ended - back), two.underruns);
  std::fflush(stdout);
  RecordProperty("FramesRepeated", static_cast<int>(repeated));
  RecordProperty("MsFromReturnToFirstFrame", static_cast<int>(fromReturn));
  EXPECT_EQ(two.signalEnd, signal.size()) << "from the kept place to the file's last frame";
  EXPECT_LE(repeated, static_cast<long>(kBufferFrames)) << "at most one buffer heard twice";
  EXPECT_GE(repeated, -static_cast<long>(kSinkBlanked / 2 + kSinkRate / 20))
      << "nothing missing beyond what the dying server took and the reopened stream's silenced start";
  EXPECT_LE((resumedAt / 2) % kBufferFrames, kSinkBlanked / 2) << "the stream starts again at a buffer's first frame";
}

}  // namespace
}  // namespace e2e

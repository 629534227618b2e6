// Every sample encoding the player accepts, played on the wave mapper at 0 dB and
// compared with what the null sink recorded, with the window's texts at each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "tests/rex/rex_standin_files.h"

namespace e2e {
namespace {

constexpr double kToneAmplitude = 0.5;
constexpr double kToneSeconds = 1.0;
constexpr double kFrequencyTolerance = 1.0;  // Hz
constexpr double kLevelTolerance = 0.5;      // dB
// The sound's length against the file's: the sink blanks up to 220 frames of a new stream.
constexpr double kLengthTolerance = 0.03;  // s

struct FormatCase {
  const char* name;
  Encoding encoding;
  uint16_t channels;
  uint32_t rate;
  double hz;
  const char* formatLine;
};

// The system's own answer whether the mapper opens a file's format. A real open:
// Wine's format query accepts some formats (32-bit integer) that its open refuses.
MMRESULT MapperAnswer(const wavebytes::Bytes& wave) {
  // The format record starts after "RIFF", size, "WAVE", "fmt ", size.
  const auto* format = reinterpret_cast<const WAVEFORMATEX*>(&wave[20]);
  HWAVEOUT out = nullptr;
  const MMRESULT answer = waveOutOpen(&out, WAVE_MAPPER, format, 0, 0, CALLBACK_NULL);
  if (answer == MMSYSERR_NOERROR) waveOutClose(out);
  return answer;
}

// An extensible file is named by its sub-format. A codec's file (G.711, IMA ADPCM)
// goes to the mapper as it is, and the system's codecs decode it.
const FormatCase kFormats[] = {
    {"u8_mono_22k.wav", {8}, 1, 22050, 440, "PCM 22050Hz 8bit 1ch (22050samples 1.0secs)"},
    {"s16_mono_44k.wav", {16}, 1, 44100, 550, "PCM 44100Hz 16bit 1ch (44100samples 1.0secs)"},
    {"s16_stereo_48k.wav", {16}, 2, 48000, 660, "PCM 48000Hz 16bit 2ch (48000samples 1.0secs)"},
    {"s24_stereo_44k.wav", {24}, 2, 44100, 770, "PCM 44100Hz 24bit 2ch (44100samples 1.0secs)"},
    {"s32_stereo_44k.wav", {32}, 2, 44100, 880, "PCM 44100Hz 32bit 2ch (44100samples 1.0secs)"},
    {"f32_stereo_96k.wav", {32, true}, 2, 96000, 990, "IEEE_FLOAT 96000Hz 32bit 2ch (96000samples 1.0secs)"},
    {"f64_stereo_44k.wav", {64, true}, 2, 44100, 1100, "IEEE_FLOAT 44100Hz 64bit 2ch (44100samples 1.0secs)"},
    {"ext_s16_6ch_48k.wav", {16, false, true}, 6, 48000, 1210, "PCM 48000Hz 16bit 6ch (48000samples 1.0secs)"},
    {"ext_s24_stereo_44k.wav", {24, false, true}, 2, 44100, 1320, "PCM 44100Hz 24bit 2ch (44100samples 1.0secs)"},
    {"ext_f32_stereo_48k.wav", {32, true, true}, 2, 48000, 1430, "IEEE_FLOAT 48000Hz 32bit 2ch (48000samples 1.0secs)"},
    {"mulaw_stereo_44k.wav", {8, false, false, 0, kMuLaw}, 2, 44100, 1540, "MULAW 44100Hz 8bit 2ch (44100samples 1.0secs)"},
    {"alaw_mono_22k.wav", {8, false, false, 0, kALaw}, 1, 22050, 1650, "ALAW 22050Hz 8bit 1ch (22050samples 1.0secs)"},
    {"ima_stereo_44k.wav", {4, false, false, 0, kImaAdpcm}, 2, 44100, 1760, "DVI_ADPCM 44100Hz 4bit 2ch (44100samples 1.0secs)"},
};

// Long enough for every step and its repeats; the recorder is stopped at the end.
constexpr int kRecordingCapSeconds = 300;

class FormatsTest : public EndToEnd {};

double SoundSeconds(const std::vector<int16_t>& got, Stretch s) {
  return static_cast<double>(SoundFrames(got, s)) / kSinkRate;
}

// Plays `path` to its end in the player, checking the window's texts on the way.
void PlayToEnd(const PlayerProcess& player, const std::string& path, const std::string& formatLine, double seconds) {
  player.Play(path);
  ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs))
      << "box: " << player.WaitForMessageBox(0).text << "; status: " << player.Text(IDC_STATUS);
  EXPECT_EQ(player.Title(), path.substr(path.find_last_of('\\') + 1) + " - ZEMBRIX Player(x86)");
  EXPECT_EQ(player.Text(IDC_FORMAT), formatLine);
  ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs)) << "the end of play stops it";
  EXPECT_NEAR(TimeTextSeconds(player.Text(IDC_TIME)), seconds, 0.15) << player.Text(IDC_TIME);
  EXPECT_EQ(player.Text(IDC_FORMAT), formatLine) << "kept after the stop";
}

TEST_F(FormatsTest, EachEncodingSoundsAsWrittenOrShowsTheSystemsRefusal) {
  // 16-bit stereo 44.1 kHz goes through the sink unchanged: it must come back sample for sample.
  const std::vector<int16_t> noise = NoiseSamples(kSinkRate * 3 / 2, 11);
  const std::string noisePath = dir_.Write("exact.wav", Pcm16Wave(noise));
  std::vector<std::string> paths;
  std::vector<MMRESULT> answers;
  for (const FormatCase& f : kFormats) {
    // Every channel carries the tone: the sink mixes six channels down to two with
    // weights that sum to one per side, so the level survives only then.
    const wavebytes::Bytes wave = ToneWave(f.encoding, f.channels, f.rate, f.hz, kToneAmplitude, kToneSeconds);
    paths.push_back(dir_.Write(f.name, wave));
    answers.push_back(MapperAnswer(wave));
  }

  auto recorder = Record(kRecordingCapSeconds);
  ASSERT_TRUE(recorder->Started());
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr) << "the main window never appeared";
  EXPECT_EQ(player.Title(), kCaption);
  EXPECT_EQ(player.Text(IDC_FORMAT), "--");
  EXPECT_EQ(player.Text(IDC_TIME), "--'--.-");
  EXPECT_EQ(player.Text(IDC_VOLUME_TEXT), "0.0dB");
  player.SelectDevice(0);
  const auto rewind = [&] { player.Command(IDC_REWIND); };

  {
    const std::vector<int16_t> got = RecordStep(*recorder, "exact.wav", [&] {
      PlayToEnd(player, noisePath, "PCM 44100Hz 16bit 2ch (66150samples 1.5secs)", 1.5);
    }, rewind, FollowingBreak(noise, 2 * 300));
    EXPECT_EQ(SoundingStretches(got).size(), 1u);
    // The first frames of a new stream may be blanked by the sink; the rest must be exact.
    EXPECT_EQ(FollowAcrossUnderruns(got, noise, 2 * 300).signalEnd, noise.size())
        << "16-bit stereo 44.1 kHz sample for sample";
  }

  // A tone step's break: an underrun's silence, or a sound that is not one stretch
  // of the file's length (Wine has been seen to skip some 60 ms, without a silence,
  // just after a stream starts). The place given for a wrong length is the length,
  // so a player that plays every attempt equally wrong fails as breaking at one place.
  const auto toneBreak = [](const std::vector<int16_t>& got) {
    const size_t gap = FirstSilenceGap(got);
    if (gap != SIZE_MAX) return gap;
    const std::vector<Stretch> stretches = SoundingStretches(got);
    if (stretches.size() != 1) return size_t{0};
    const size_t frames = SoundFrames(got, stretches[0]);
    return std::abs(SoundSeconds(got, stretches[0]) - kToneSeconds) > kLengthTolerance ? frames : SIZE_MAX;
  };
  std::vector<std::string> refused;
  for (size_t i = 0; i < std::size(kFormats); ++i) {
    const FormatCase& f = kFormats[i];
    SCOPED_TRACE(f.name);
    if (answers[i] != MMSYSERR_NOERROR) {
      player.Play(paths[i]);
      const MessageBoxSeen box = player.WaitForMessageBox(kPlayWaitMs);
      ASSERT_NE(box.window, nullptr) << "the system refuses the format, so must the player";
      EXPECT_EQ(box.caption.rfind("waveOutOpen('", 0), 0u) << box.caption;
      EXPECT_EQ(box.text, SystemErrorText(answers[i]));
      player.Dismiss(box);
      EXPECT_FALSE(player.Playing());
      refused.push_back(f.name);
      continue;
    }
    const std::vector<int16_t> got = RecordStep(
        *recorder, f.name, [&] { PlayToEnd(player, paths[i], f.formatLine, kToneSeconds); }, rewind, toneBreak);
    const std::vector<Stretch> stretches = SoundingStretches(got);
    ASSERT_EQ(stretches.size(), 1u) << "the file sounded once";
    const Stretch s = stretches[0];
    EXPECT_NEAR(SoundSeconds(got, s), kToneSeconds, kLengthTolerance);
    const double expectedDb = 20 * std::log10(kToneAmplitude / std::sqrt(2.0));
    for (int channel = 0; channel < 2; ++channel) {
      EXPECT_NEAR(ToneFrequencyOverWindows(got, Middle(s), channel), f.hz, kFrequencyTolerance) << channel;
      EXPECT_NEAR(RmsDbOverWindows(got, Middle(s), channel), expectedDb, kLevelTolerance) << channel;
    }
  }
  recorder->Stop();
  std::printf("[ formats ] refused by this system's wave-out:");
  for (const std::string& r : refused) std::printf(" %s", r.c_str());
  std::printf("\n");
  EXPECT_TRUE(player.Close());
  EXPECT_EQ(player.ExitCode(), 0u);
}


// A REX loop whose stored frames hold whole periods of a sine at `hz`: the
// stand-in's preview repeats them without a seam.
wavebytes::Bytes ToneLoop(double hz) {
  rexfiles::Loop loop;
  const int period = static_cast<int>(kSinkRate / hz);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 10 * period; ++i) {
      loop.samples[c].push_back(static_cast<float>(kToneAmplitude * std::sin(2 * kPi * i / period)));
    }
  }
  return loop.Bytes();
}

TEST_F(FormatsTest, RexLoopAndConvertedFileSoundAsTheirSources) {
  // The converter and the REX library are found on the search path the player inherits.
  PathInFront converter(TreeFile(VEX_CONVERTER_DIR));
  PathInFront library(FolderOf(VEX_REX_LIBRARY));
  const double loopHz = 441;  // 100 frames a period
  const std::string loopPath = dir_.Write("loop.rx2", ToneLoop(loopHz));
  // The stand-in converter copies a 16-bit WAVE through: the result must be exact.
  const std::vector<int16_t> noise = NoiseSamples(kSinkRate, 23);
  const std::string songPath = dir_.Write("song.mp3", Pcm16Wave(noise));
  // Under Wine a process that ends while sound plays can break the audio server's
  // stream for a moment; the file plays while its converter writes it, so the
  // stand-in (the player's child: set before the player starts) stays until the
  // file has sounded and ends in the silence after it.
  SetEnvironmentVariableA("VEX_CONVERTER_LINGER_MS", "3000");

  auto recorder = Record(kRecordingCapSeconds);
  ASSERT_TRUE(recorder->Started());
  PlayerProcess player;
  SetEnvironmentVariableA("VEX_CONVERTER_LINGER_MS", nullptr);
  ASSERT_NE(player.Window(), nullptr);
  player.SelectDevice(0);
  const auto rewind = [&] { player.Command(IDC_REWIND); };

  const std::vector<int16_t> loopSound = RecordStep(*recorder, "loop.rx2", [&] {
    player.Play(loopPath);
    // The start is posted, and a retry finds the title of the attempt before: Stop,
    // enabled from the render on, tells that the window has taken the start.
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return player.Title() == "loop.rx2 - ZEMBRIX Player(x86)"; }, kPlayWaitMs))
        << "box: " << player.WaitForMessageBox(0).text << "; status: " << player.Text(IDC_STATUS);
    EXPECT_EQ(player.Text(IDC_FORMAT).rfind("REX: 120bpm PCM 44100Hz 16bit 2ch (", 0), 0u) << player.Text(IDC_FORMAT);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
  }, rewind);
  const std::vector<Stretch> loopStretches = SoundingStretches(loopSound);
  ASSERT_EQ(loopStretches.size(), 1u);
  const Stretch loopMeasured = Middle(loopStretches[0]);
  for (int channel = 0; channel < 2; ++channel) {
    EXPECT_NEAR(ToneFrequencyOverWindows(loopSound, loopMeasured, channel), loopHz, kFrequencyTolerance);
    EXPECT_NEAR(RmsDbOverWindows(loopSound, loopMeasured, channel), 20 * std::log10(kToneAmplitude / std::sqrt(2.0)),
                kLevelTolerance);
  }

  const std::vector<int16_t> songSound = RecordStep(*recorder, "song.mp3", [&] {
    player.Play(songPath);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs)) << "Stop cancels the conversion";
    ASSERT_TRUE(WaitUntil([&] { return player.Title() == "song.mp3 - ZEMBRIX Player(x86)"; }, kConversionWaitMs));
    EXPECT_EQ(player.Text(IDC_FORMAT), ".mp3 -> PCM 44100Hz 16bit 2ch (44100samples 1.0secs)");
    EXPECT_EQ(player.Text(IDC_STATUS).find("Conversion failed."), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kConversionWaitMs));
  }, rewind, FollowingBreak(noise, 2 * 300));
  EXPECT_EQ(SoundingStretches(songSound).size(), 1u);
  EXPECT_EQ(FollowAcrossUnderruns(songSound, noise, 2 * 300).signalEnd, noise.size())
      << "the converted file sample for sample";
  recorder->Stop();
  EXPECT_TRUE(player.Close());
  EXPECT_TRUE(TempLeftovers().empty()) << "the rendered and converted files went with their close";
}

// Runs `commandLine` and waits for it; its exit code, or -1 when it did not start.
int RunAndWait(std::string commandLine) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                      &pi)) {
    return -1;
  }
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

// The real converter (a third-party static ffmpeg.exe, fetched by the test script)
// beside the player: a lossless ALAC file in .m4a decodes to the very samples it
// was made of. Under Wine the end of that 64 MB process stalls the audio server for
// about half a second, and a file that starts right then loses its sound there
// (the same with the conversion made on the window's thread): so the file loops,
// and a later round must be whole.
TEST_F(FormatsTest, TheRealConverterTurnsALosslessFileIntoItsExactSamples) {
  // The player runs its own tree's converter; the sources are made with this suite's
  // (through an emulator a converter of the other tree takes a minute to start).
  const std::string converter = WindowsPath(VEX_REAL_CONVERTER);
  const std::string playersConverter = TreeFile(VEX_REAL_CONVERTER);
  ASSERT_NE(GetFileAttributesA(playersConverter.c_str()), INVALID_FILE_ATTRIBUTES)
      << playersConverter << " (tools/fetch-converter.sh)";
  struct Case {
    const char* name;
    const char* encoder;
  } cases[] = {{"song.flac", "flac"}, {"song.m4a", "alac"}};
  const std::vector<int16_t> noise = NoiseSamples(kSinkRate, 29);
  const std::string wavePath = dir_.Write("source.wav", Pcm16Wave(noise));
  PathInFront path(FolderOf(VEX_REAL_CONVERTER));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string songPath = dir_.Path() + "\\" + c.name;
    ASSERT_EQ(RunAndWait("\"" + converter + "\" -nostdin -loglevel error -y -i \"" + wavePath + "\" -acodec " +
                         c.encoder + " \"" + songPath + "\""),
              0);
    auto recorder = Record(kRecordingCapSeconds);
    ASSERT_TRUE(recorder->Started());
    PlayerProcess player;
    ASSERT_NE(player.Window(), nullptr);
    player.SelectDevice(0);
    player.SetCheck(IDC_LOOP, true);
    const size_t mark = recorder->RecordedBytes();
    player.Play(songPath);
    ASSERT_TRUE(WaitUntil([&] { return player.Title() == std::string(c.name) + " - ZEMBRIX Player(x86)"; }, kConversionWaitMs))
        << "box: " << player.WaitForMessageBox(0).text << "; status: " << player.Text(IDC_STATUS);
    EXPECT_EQ(player.Text(IDC_FORMAT),
              std::string(std::strrchr(c.name, '.')) + " -> PCM 44100Hz 16bit 2ch (44100samples 1.0secs)");
    Sleep(4500);
    player.Command(IDC_STOP);
    Sleep(kRecorderFlushMs);
    const std::vector<int16_t> sound = recorder->SamplesSince(mark);
    const size_t first = FindBlock(sound, noise, 0, 64);
    ASSERT_NE(first, SIZE_MAX) << "the file's start never sounded";
    const std::vector<int16_t> later(sound.begin() + std::min(sound.size(), first + noise.size()), sound.end());
    const Following round = FollowAcrossUnderruns(later, noise, 0);
    EXPECT_EQ(round.signalEnd, noise.size()) << "a round of the decoded file sample for sample";
    recorder->Stop();
    EXPECT_TRUE(player.Close());
    EXPECT_TRUE(TempLeftovers().empty()) << "the converted file went with its close";
  }
}

// A file name in any script, whatever the system's code page: the program runs in
// UTF-8, so each name comes in whole every way a name comes in, the title and the
// format line show it, and its own tone is heard (the REX loops all hold the one
// tone the stand-in renders without a seam).
struct NameCase {
  const char* name;  // UTF-8
  double hz;
};
constexpr double kLoopHz = 441;  // 100 frames a period
const NameCase kNames[] = {
    {"Caf\xC3\xA9 M\xC3\xBCller", 330},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x9B\xB2", 490},   // 日本語の曲
    {"\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\x85\xB8\xEB\x9E\x98", 630},  // 한국어 노래
    {"Song \xF0\x9F\x8E\xB5", 882},                                          // a musical note, outside UTF-16's first plane
};

std::string Title(const std::string& file) { return file + " - " + kCaption; }

// The frequency heard on the left channel over the middle of the longest sound
// since `mark`; 0 when nothing sounded.
double HeardHz(SinkRecorder& recorder, size_t mark) {
  Sleep(kRecorderFlushMs);
  const std::vector<int16_t> got = recorder.SamplesSince(mark);
  Stretch longest{0, 0};
  for (const Stretch& s : SoundingStretches(got)) {
    if (s.end - s.begin > longest.end - longest.begin) longest = s;
  }
  return longest.end > longest.begin ? ToneFrequencyOverWindows(got, Middle(longest), 0) : 0;
}

TEST_F(FormatsTest, ANameInAnyScriptComesInWholeEveryWayAndItsFileSounds) {
  const std::string converter = TreeFile(VEX_REAL_CONVERTER);
  ASSERT_NE(GetFileAttributesA(converter.c_str()), INVALID_FILE_ATTRIBUTES) << converter << " (tools/fetch-converter.sh)";
  PathInFront converterPath(FolderOf(VEX_REAL_CONVERTER));
  PathInFront library(FolderOf(VEX_REX_LIBRARY));
  std::vector<std::string> waves;
  for (const NameCase& c : kNames) {
    waves.push_back(dir_.Write(std::string(c.name) + ".wav", ToneWave(Encoding{16}, 2, kSinkRate, c.hz, kToneAmplitude, 1.0)));
    dir_.Write(std::string(c.name) + ".rx2", ToneLoop(kLoopHz));
    ASSERT_EQ(RunAndWait("\"" + converter + "\" -nostdin -loglevel error -y -i \"" + waves.back() +
                         "\" -acodec flac \"" + dir_.Path() + "\\" + c.name + ".flac\""),
              0) << c.name;
  }
  const char kWaveLine[] = "PCM 44100Hz 16bit 2ch (44100samples 1.0secs)";
  auto recorder = Record(kRecordingCapSeconds);
  ASSERT_TRUE(recorder->Started());
  for (size_t row = 0; row < std::size(kNames); ++row) {
    const NameCase& c = kNames[row];
    const std::string base = dir_.Path() + "\\" + c.name;
    SCOPED_TRACE(c.name);
    size_t mark = recorder->RecordedBytes();
    PlayerProcess player("\"" + waves[row] + "\"");
    ASSERT_NE(player.Window(), nullptr);
    // The command line.
    ASSERT_TRUE(WaitUntil([&] { return player.Title() == Title(std::string(c.name) + ".wav"); }, kPlayWaitMs))
        << player.Title() << "; box: " << player.WaitForMessageBox(0).text;
    EXPECT_EQ(player.Text(IDC_FORMAT), kWaveLine);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
    EXPECT_NEAR(HeardHz(*recorder, mark), c.hz, kFrequencyTolerance) << "command line";
    // A second start hands the next name over.
    const NameCase& next = kNames[(row + 1) % std::size(kNames)];
    mark = recorder->RecordedBytes();
    {
      PlayerProcess second("\"" + waves[(row + 1) % waves.size()] + "\"", false);
      ASSERT_EQ(WaitForSingleObject(second.Process(), kPlayWaitMs), WAIT_OBJECT_0);
      EXPECT_EQ(second.ExitCode(), 0u);
    }
    EXPECT_TRUE(WaitUntil([&] { return player.Title() == Title(std::string(next.name) + ".wav"); }, kPlayWaitMs))
        << player.Title();
    EXPECT_EQ(player.History().at(0), waves[(row + 1) % waves.size()]);
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
    EXPECT_NEAR(HeardHz(*recorder, mark), next.hz, kFrequencyTolerance) << "second start";
    // The name box, the converter and the REX library.
    const struct {
      const char* extension;
      std::string formatLine;
      double hz;
      DWORD waitMs;
    } ways[] = {{".wav", kWaveLine, c.hz, kPlayWaitMs},
                {".flac", std::string(".flac -> ") + kWaveLine, c.hz, kConversionWaitMs},
                {".rx2", "REX: 120bpm PCM 44100Hz 16bit 2ch (", kLoopHz, kPlayWaitMs}};
    for (const auto& way : ways) {
      mark = recorder->RecordedBytes();
      player.Play(base + way.extension);
      ASSERT_TRUE(WaitUntil([&] { return player.Title() == Title(std::string(c.name) + way.extension); }, way.waitMs))
          << way.extension << ": " << player.Title() << "; box: " << player.WaitForMessageBox(0).text
          << "; status: " << player.Text(IDC_STATUS);
      EXPECT_EQ(player.Text(IDC_FORMAT).rfind(way.formatLine, 0), 0u) << player.Text(IDC_FORMAT);
      ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, way.waitMs)) << way.extension;
      EXPECT_NEAR(HeardHz(*recorder, mark), way.hz, kFrequencyTolerance) << way.extension;
    }
    EXPECT_TRUE(player.Close());  // the history is saved for the next row's start
  }
  // The history read back from the registry, and sequential play through it.
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  const std::vector<std::string> history = player.History();
  for (const std::string& wave : waves) {
    EXPECT_NE(std::find(history.begin(), history.end(), wave), history.end()) << wave << " kept whole";
  }
  player.ListOnTop(waves);
  player.SetCheck(IDC_SEQUENTIAL, true);
  const size_t mark = recorder->RecordedBytes();
  player.Command(IDC_START);
  std::vector<std::string> titles =
      player.TitlesUntilPlayEndsAt(Title(std::string(kNames[std::size(kNames) - 1].name) + ".wav"), 30000);
  Sleep(kRecorderFlushMs);
  const std::vector<int16_t> sound = recorder->SamplesSince(mark);
  recorder->Stop();
  std::vector<std::string> expected;
  for (const NameCase& c : kNames) expected.push_back(Title(std::string(c.name) + ".wav"));
  titles.erase(std::remove_if(titles.begin(), titles.end(),
                              [&](const std::string& t) { return std::find(expected.begin(), expected.end(), t) == expected.end(); }),
               titles.end());
  EXPECT_EQ(titles, expected) << "each file's name in turn";
  const std::vector<Stretch> stretches = SoundingStretches(sound);
  ASSERT_FALSE(stretches.empty());
  for (size_t i = 0; i < std::size(kNames); ++i) {
    // The four seconds follow each other without a gap: the middle half of each.
    const size_t begin = stretches[0].begin + i * kSinkRate;
    EXPECT_NEAR(ToneFrequencyOverWindows(sound, Stretch{begin + kSinkRate / 4, begin + kSinkRate * 3 / 4}, 0),
                kNames[i].hz, kFrequencyTolerance) << kNames[i].name;
  }
  EXPECT_TRUE(player.Close());
  EXPECT_TRUE(TempLeftovers().empty()) << "the rendered and converted files went with their close";
}

// What an earlier version kept in the registry: the narrow text of its process's
// code page, which the registry keeps in UTF-16 (RegSetValueEx's narrow form
// converts it), read back whole by the player in UTF-8.
TEST_F(FormatsTest, TheHistoryAnEarlierVersionStoredInItsCodePageReadsBackWhole) {
  struct Case {
    UINT page;
    const char* stored;    // the name in that code page, as that version held it
    const NameCase& name;  // the same name in UTF-8
  } cases[] = {
      {932, "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x8B\xC8", kNames[1]},
      {1252, "Caf\xE9 M\xFCller", kNames[0]},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    const std::string path = dir_.Write(std::string(c.name.name) + ".wav",
                                        ToneWave(Encoding{16}, 2, kSinkRate, c.name.hz, kToneAmplitude, 0.5));
    const std::string old = dir_.Path() + "\\" + c.stored + ".wav";  // ASCII folder: only the name differs
    wchar_t wide[MAX_PATH] = L"";
    ASSERT_GT(MultiByteToWideChar(c.page, MB_ERR_INVALID_CHARS, old.c_str(), -1, wide, MAX_PATH), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEMBRIXPlayer\\WaveFileMRL", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD bytes = static_cast<DWORD>((lstrlenW(wide) + 1) * sizeof(wchar_t));
    RegSetValueExW(key, L"Current", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide), bytes);
    RegSetValueExW(key, L"0", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide), bytes);
    RegCloseKey(key);
    PlayerProcess player;
    ASSERT_NE(player.Window(), nullptr);
    EXPECT_EQ(player.Text(IDC_FILE_NAME), path);
    ASSERT_FALSE(player.History().empty());
    EXPECT_EQ(player.History()[0], path);
    // Chosen from the list, it plays.
    SendDlgItemMessageA(player.Window(), IDC_FILE_NAME, CB_SETCURSEL, 0, 0);
    player.Command(IDC_FILE_NAME, CBN_SELCHANGE);
    EXPECT_TRUE(WaitUntil([&] { return player.Title() == Title(std::string(c.name.name) + ".wav"); }, kPlayWaitMs))
        << player.Title() << "; box: " << player.WaitForMessageBox(0).text;
    EXPECT_TRUE(player.Close());
    ClearSettings();
  }
}

// Disabled: a WM_DROPFILES posted from another process never reaches the player
// under Wine 8 here (neither a global handle of the sender's nor a block written
// into the player's memory), so a drop cannot yet be made from outside.
TEST_F(FormatsTest, DISABLED_DroppedFilesTopTheHistoryInTheirOrderAndTheFirstPlays) {
  const std::string one = dir_.Write("one.wav", ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 0.5));
  const std::string two = dir_.Write("two.wav", ToneWave(Encoding{16}, 2, kSinkRate, 550, 0.5, 0.5));
  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  ASSERT_TRUE(player.Drop({one, two}));
  ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
  EXPECT_EQ(player.Title(), "one.wav - ZEMBRIX Player(x86)");
  const std::vector<std::string> history = player.History();
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history[0], one);
  EXPECT_EQ(history[1], two);
}

}  // namespace
}  // namespace e2e

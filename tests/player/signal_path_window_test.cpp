// The verdict against reality: files played through the main window on the
// simulated exclusive endpoint, with what the endpoint received compared sample by
// sample with the file; the format negotiation as the endpoint answered it; on
// Wine's wave-out the verdict names the system's mixer and follows the volume.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "player/player_dialog.h"
#include "support/temp_dir.h"
#include "tests/support/simwasapi/sim_wasapi.h"

using namespace playertest;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = kRate / 10;

std::string Utf8(const wchar_t* text) {
  char narrow[2048] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}
std::string LineText(HWND window, int id) {
  wchar_t text[512] = L"";
  GetWindowTextW(GetDlgItem(window, id), text, 512);
  return Utf8(text);
}
std::string TipText(HWND window, int id) {
  wchar_t text[2048] = L"";
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, id));
  tool.lpszText = text;
  SendMessageW(MainWindowOf(window)->signalTips, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&tool));
  return Utf8(text);
}
void SetVolume(PlayerDialog& d, int volumeX10) {
  HWND slider = GetDlgItem(d.Window(), IDC_VOLUME);
  SendMessageA(slider, TBM_SETPOS, TRUE, volumeX10);
  SendMessageA(d.Window(), WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
}

// A file's samples as full-scale values: pseudo-random, the first one far from 0
// so that the file's start can be found in what the device received.
struct TestFile {
  uint16_t tag, bits, channels;
  bool silent;
  std::vector<double> values;  // frames × channels
  wavebytes::Bytes wave;
};
TestFile MakeFile(uint16_t tag, uint16_t bits, uint16_t channels, bool silent) {
  TestFile f{tag, bits, channels, silent, {}, {}};
  wavebytes::Bytes data;
  uint32_t x = 12345;
  for (uint32_t i = 0; i < kFrames * channels; ++i) {
    x = x * 1664525u + 1013904223u;
    int64_t s = silent ? 0 : static_cast<int32_t>(x) >> (32 - bits);
    if (i == 0 && !silent) s = int64_t(1) << (bits - 2);
    if (tag == 3) {
      // Uniform in ±0.7 with full 24-bit significands: the values below 2^-8 carry
      // bits below 2^-31 that no 32-bit integer holds. (An int32 ÷ 2^31 would not.)
      const float v = silent ? 0.0f : 0.7f * static_cast<float>(static_cast<int32_t>(x)) / 2147483648.0f;
      f.values.push_back(i == 0 && !silent ? 0.5 : v);
      const float stored = static_cast<float>(f.values.back());
      const uint8_t* b = reinterpret_cast<const uint8_t*>(&stored);
      data.insert(data.end(), b, b + 4);
      continue;
    }
    f.values.push_back(static_cast<double>(s) / std::ldexp(1.0, bits - 1));
    if (bits == 8) s += 128;
    for (int k = 0; k < bits / 8; ++k) data.push_back(static_cast<uint8_t>(s >> (8 * k)));
  }
  using namespace wavebytes;
  f.wave = Riff({Chunk("fmt ", FmtBody(tag, channels, kRate, bits)), Chunk("data", data)});
  return f;
}

class SignalPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessEndpointCache().Release();
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().lastReadTick = GetTickCount();
  }
  void TearDown() override {
    ProcessEngineTuning() = EngineTuning{};
    ProcessEndpointCache().Release();
  }
  TempDir dir_;
};

// One row per case of file format × formats the device takes × volume.
TEST_F(SignalPathTest, TheVerdictOnTheSimulatedEndpointMatchesTheSamplesItReceived) {
  using simwasapi::AcceptedFormat;
  const std::string exact = "Bit-exact: the device receives the file's samples unchanged";
  struct Row {
    const char* name;
    uint16_t tag, bits, channels;
    std::vector<AcceptedFormat> offered;
    uint32_t maxBits;
    int volumeX10;
    bool silent;
    std::string verdict;
    const char* noSampleDiffers;  // why a "Not bit-exact" row may arrive unchanged
  };
  const Row rows[] = {
      {"16 as 16", 1, 16, 2, {{2, 16, 16}}, 32, 0, false, exact, nullptr},
      {"16 into 24 in 32", 1, 16, 2, {{2, 32, 24}}, 32, 0, false, exact, nullptr},
      {"24 into 32", 1, 24, 2, {{2, 32, 32}}, 32, 0, false, exact, nullptr},
      {"8 into 16", 1, 8, 2, {{2, 16, 16}}, 32, 0, false, exact, nullptr},
      {"16 at -3 dB", 1, 16, 2, {{2, 16, 16}}, 32, -30, false, "Not bit-exact: volume -3.0 dB", nullptr},
      {"silence at -3 dB", 1, 16, 2, {{2, 16, 16}}, 32, -30, true, "Not bit-exact: volume -3.0 dB",
       "silence scaled stays silence"},
      {"24 cut to 16", 1, 24, 2, {{2, 16, 16}}, 16, 0, false, "Not bit-exact: 24 → 16 bits (cut)", nullptr},
      {"float to 32", 3, 32, 2, {{2, 32, 32}}, 32, 0, false, "Not bit-exact: float → 32 bits (rounded)", nullptr},
      {"float to 24 at +1.5 dB", 3, 32, 2, {{2, 32, 24}}, 24, 15, false,
       "Not bit-exact: volume +1.5 dB, float → 24 bits (rounded)", nullptr},
      {"mono on stereo", 1, 16, 1, {{2, 16, 16}}, 32, 0, false, "Not bit-exact: 1 → 2 channels (added)",
       "the added channel repeats the file's one channel"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProcessEndpointCache().Release();
    simwasapi::SimWasapi sim;
    simwasapi::EndpointTraits traits;
    traits.id = L"{sim-path}";
    traits.friendlyName = L"Simulated Speakers";
    traits.formats = row.offered;
    const size_t endpoint = sim.AddEndpoint(traits);
    ProcessEngineTuning().wasapiMaxBitLength = row.maxBits;
    const TestFile file = MakeFile(row.tag, row.bits, row.channels, row.silent);
    const std::string path = dir_.Write("path.wav", file.wave);

    PlayerDialog d;
    SetVolume(d, row.volumeX10);
    SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_SETCURSEL, 1 + kDefaultRoleCount, 0);
    d.Command(IDC_DEVICE, CBN_SELCHANGE);
    ASSERT_TRUE(d.Start(path));
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return !d.Playing(); }, 15000));
    EXPECT_EQ(LineText(d.Window(), IDC_SIGNAL_PATH), row.verdict);
    EXPECT_EQ(TipText(d.Window(), IDC_FORMAT), row.verdict);
    const std::vector<simwasapi::InitializeRecord> offers = sim.Initializations();
    ASSERT_FALSE(offers.empty());
    const std::string negotiation = TipText(d.Window(), IDC_SIGNAL_PATH);
    size_t lines = 1;
    for (size_t at = negotiation.find("\r\n"); at != std::string::npos; at = negotiation.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 1 + offers.size()) << "a heading and one line per Initialize\n" << negotiation;

    // The device's samples as full-scale values, container bits left-justified.
    const WAVEFORMATEX& accepted = offers.back().format.Format;
    ASSERT_EQ(offers.back().result, S_OK);
    const uint32_t bytes = accepted.wBitsPerSample / 8, deviceChannels = accepted.nChannels;
    std::vector<uint8_t> got;
    for (const auto& b : sim.Rendered(endpoint)) got.insert(got.end(), b.bytes.begin(), b.bytes.end());
    std::vector<double> device;
    for (size_t i = 0; i + bytes <= got.size(); i += bytes) {
      int64_t s = 0;
      for (uint32_t k = 0; k < bytes; ++k) s |= int64_t(got[i + k]) << (8 * k);
      s = (s << (64 - 8 * bytes)) >> (64 - 8 * bytes);
      device.push_back(static_cast<double>(s) / std::ldexp(1.0, 8 * bytes - 1));
    }
    size_t start = 0;  // the first frame that is not silence
    while (!row.silent && start < device.size() && device[start] == 0.0) start += deviceChannels;
    ASSERT_GE(device.size(), start + size_t(kFrames) * deviceChannels) << "the whole file arrived";
    uint32_t differing = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
      for (uint32_t c = 0; c < deviceChannels; ++c) {
        differing += device[start + f * deviceChannels + c] != file.values[f * row.channels + c % row.channels];
      }
    }
    if (row.verdict == exact) {
      EXPECT_EQ(differing, 0u) << "every sample the file's, widened";
    } else if (row.noSampleDiffers) {
      EXPECT_EQ(differing, 0u) << row.noSampleDiffers;
    } else {
      EXPECT_GT(differing, 0u) << "a step that changes samples changed none";
    }
  }
}

TEST_F(SignalPathTest, TheNegotiationShowsEveryRefusalBeforeTheFormatTaken) {
  simwasapi::SimWasapi sim;
  simwasapi::EndpointTraits traits;
  traits.id = L"{sim-24in32}";
  traits.friendlyName = L"Only 24 in 32";
  traits.formats = {{2, 32, 24}};
  sim.AddEndpoint(traits);
  const std::string path = dir_.Write("mono.wav", MakeFile(1, 16, 1, false).wave);
  PlayerDialog d;
  SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_SETCURSEL, 1 + kDefaultRoleCount, 0);
  d.Command(IDC_DEVICE, CBN_SELCHANGE);
  ASSERT_TRUE(d.Start(path));
  std::string expected = "Exclusive-mode formats offered at 44100 Hz:";
  for (const char* channels : {"1", "2"}) {
    for (const char* offer : {"16 in 16", "16 in 24", "16 in 32", "24 in 24", "24 in 32", "32 in 32"}) {
      const bool taken = std::string(channels) == "2" && std::string(offer) == "24 in 32";
      expected += std::string("\r\n") + offer + " bits, " + channels + " ch: " +
                  (taken ? "S_OK (chosen)" : "AUDCLNT_E_UNSUPPORTED_FORMAT");
      if (taken) break;
    }
  }
  EXPECT_EQ(TipText(d.Window(), IDC_DETAIL), expected);
  EXPECT_EQ(TipText(d.Window(), IDC_SIGNAL_PATH), expected);
  EXPECT_EQ(LineText(d.Window(), IDC_SIGNAL_PATH), "Not bit-exact: 1 → 2 channels (added)");
}

// Wine's wave-out through its mixer into the null sink: the real thing.
TEST_F(SignalPathTest, WaveOutNamesTheMixerOrTheMapperAndTheVolumeMovesTheVerdictAtOnce) {
  const std::string path = dir_.Write("tone.wav", NoiseWave(kRate));
  PlayerDialog d;
  d.Command(IDM_SHOW_DETAILS);
  HWND devices = GetDlgItem(d.Window(), IDC_DEVICE);
  struct {
    LRESULT entry;
    std::string verdict;
  } routes[] = {{SendMessageA(devices, CB_GETCOUNT, 0, 0) - 1, "Not bit-exact: through the system mixer (wave-out)"},
                {0, "Not bit-exact: through the sound mapper"}};
  for (const auto& route : routes) {
    SendMessageA(devices, CB_SETCURSEL, route.entry, 0);
    d.Command(IDC_DEVICE, CBN_SELCHANGE);
    ASSERT_TRUE(d.Start(path)) << route.verdict;
    EXPECT_EQ(LineText(d.Window(), IDC_SIGNAL_PATH), route.verdict);
    EXPECT_EQ(TipText(d.Window(), IDC_DETAIL), "No format negotiated: wave-out takes the file's own format.");
    d.Command(IDC_STOP);
  }
  SetVolume(d, -30);
  const std::string quieter = "Not bit-exact: volume -3.0 dB, through the sound mapper";
  EXPECT_EQ(LineText(d.Window(), IDC_SIGNAL_PATH), quieter);
  EXPECT_EQ(TipText(d.Window(), IDC_FORMAT), quieter);
  SetVolume(d, 0);
  EXPECT_EQ(LineText(d.Window(), IDC_SIGNAL_PATH), "Not bit-exact: through the sound mapper");
  EXPECT_EQ(TipText(d.Window(), IDC_FORMAT), "Not bit-exact: through the sound mapper");
}

}  // namespace

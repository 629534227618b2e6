// The verdict against reality: files played through the main window on the
// simulated exclusive endpoint, what it received compared with the file sample by
// sample and the negotiation shown compared with what it was asked; on Wine's
// wave-out the verdict names the mixer or the mapper and follows the volume.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "devices/wasapi_negotiation.h"
#include "window/player_dialog.h"
#include "support/temp_dir.h"
#include "tests/support/simwasapi/sim_wasapi.h"

using namespace playertest;

namespace {

constexpr uint32_t kFrames = 4410;

// The text of a line, or with `tip` the tooltip the window gave it, as UTF-8.
std::string TextOf(HWND window, int id, bool tip = false) {
  wchar_t text[2048] = L"";
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, id));
  tool.lpszText = text;
  if (!tip) GetWindowTextW(GetDlgItem(window, id), text, 2048);
  if (tip) SendMessageW(MainWindowOf(window)->signalTips, TTM_GETTEXTW, 2048, reinterpret_cast<LPARAM>(&tool));
  char utf8[4096] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}
void SetVolume(PlayerDialog& d, int volumeX10) {
  HWND slider = GetDlgItem(d.Window(), IDC_VOLUME);
  SendMessageA(slider, TBM_SETPOS, TRUE, volumeX10);
  SendMessageA(d.Window(), WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
}

// A file of pseudo-random samples (or silence) and their full-scale values; the
// first sample is far from 0, so the file's start shows in what the device got.
// Floats are uniform in ±0.7 with full significands: those below 2^-8 carry bits
// below 2^-31 that no 32-bit integer holds (an int32 ÷ 2^31 would not).
wavebytes::Bytes MakeFile(uint16_t tag, uint16_t bits, uint16_t channels, bool silent, std::vector<double>& values) {
  wavebytes::Bytes data;
  uint32_t x = 12345;
  for (uint32_t i = 0; i < kFrames * channels; ++i) {
    x = x * 1664525u + 1013904223u;
    const int64_t s = silent ? 0 : i == 0 ? int64_t(1) << (bits - 2) : static_cast<int32_t>(x) >> (32 - bits);
    const float f = silent ? 0.0f : i == 0 ? 0.5f : 0.7f * static_cast<float>(static_cast<int32_t>(x)) / 2147483648.0f;
    values.push_back(tag == 3 ? f : static_cast<double>(s) / std::ldexp(1.0, bits - 1));
    int32_t floatBits;
    std::memcpy(&floatBits, &f, 4);
    const int64_t stored = tag == 3 ? floatBits : bits == 8 ? s + 128 : s;
    for (int k = 0; k < bits / 8; ++k) data.push_back(static_cast<uint8_t>(stored >> (8 * k)));
  }
  return wavebytes::Riff({wavebytes::Chunk("fmt ", wavebytes::FmtBody(tag, channels, 44100, bits)),
                          wavebytes::Chunk("data", data)});
}

class SignalPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessEndpointCache().Release(); }
  void TearDown() override {
    ProcessEngineTuning() = EngineTuning{};
    ProcessEndpointCache().Release();
  }
  TempDir dir_;
};

// File format × formats the device takes × volume.
TEST_F(SignalPathTest, TheVerdictOnTheSimulatedEndpointMatchesTheSamplesItReceived) {
  const std::string exact = "Bit-exact: the device receives the file's samples unchanged";
  const struct {
    uint16_t tag, bits, channels;
    simwasapi::AcceptedFormat offered;
    uint32_t maxBits;
    int volumeX10;
    bool silent;
    std::string verdict;
    const char* noSampleDiffers;  // why a "Not bit-exact" row may arrive unchanged
  } rows[] = {
      {1, 16, 2, {2, 16, 16}, 32, 0, false, exact, nullptr},
      {1, 16, 2, {2, 32, 24}, 32, 0, false, exact, nullptr},
      {1, 24, 2, {2, 32, 32}, 32, 0, false, exact, nullptr},
      {1, 8, 2, {2, 16, 16}, 32, 0, false, exact, nullptr},
      {1, 16, 2, {2, 16, 16}, 32, -30, false, "Not bit-exact: volume -3.0 dB", nullptr},
      {1, 16, 2, {2, 16, 16}, 32, -30, true, "Not bit-exact: volume -3.0 dB", "silence scaled stays silence"},
      {1, 24, 2, {2, 16, 16}, 16, 0, false, "Not bit-exact: 24 → 16 bits (cut)", nullptr},
      {3, 32, 2, {2, 32, 32}, 32, 0, false, "Not bit-exact: float → 32 bits (rounded)", nullptr},
      {3, 32, 2, {2, 32, 24}, 24, 15, false, "Not bit-exact: volume +1.5 dB, float → 24 bits (rounded)", nullptr},
      {1, 16, 1, {2, 32, 24}, 32, 0, false, "Not bit-exact: 1 → 2 channels (added)",
       "the added channel repeats the file's one"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.verdict + (row.silent ? " (silent)" : "") + ", " + std::to_string(row.bits) + " bits");
    ProcessEndpointCache().Release();
    simwasapi::SimWasapi sim;
    simwasapi::EndpointTraits traits;
    traits.id = L"{sim-path}";
    traits.friendlyName = L"Simulated Speakers";
    traits.formats = {row.offered};
    const size_t endpoint = sim.AddEndpoint(traits);
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().wasapiMaxBitLength = row.maxBits;
    ProcessEngineTuning().lastReadTick = GetTickCount();
    std::vector<double> file;
    const std::string path = dir_.Write("path.wav", MakeFile(row.tag, row.bits, row.channels, row.silent, file));

    PlayerDialog d;
    SetVolume(d, row.volumeX10);
    SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_SETCURSEL, 1 + kDefaultRoleCount, 0);
    d.Command(IDC_DEVICE, CBN_SELCHANGE);
    ASSERT_TRUE(d.Start(path));
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return !d.Playing(); }, 15000));
    EXPECT_EQ(TextOf(d.Window(), IDC_SIGNAL_PATH), row.verdict);
    EXPECT_EQ(TextOf(d.Window(), IDC_FORMAT, true), row.verdict);
    // Every offer the endpoint was asked, with its answer, in the negotiation shown.
    const std::vector<simwasapi::InitializeRecord> offers = sim.Initializations();
    std::string asked = "Exclusive-mode formats offered at 44100 Hz:";
    for (const simwasapi::InitializeRecord& o : offers) {
      char line[96];
      std::snprintf(line, sizeof line, "\r\n%u in %u bits, %u ch: %s%s", o.format.Samples.wValidBitsPerSample,
                    o.format.Format.wBitsPerSample, o.format.Format.nChannels, AudioResultName(o.result),
                    o.result == S_OK ? " (chosen)" : "");
      asked += line;
    }
    EXPECT_EQ(TextOf(d.Window(), IDC_SIGNAL_PATH, true), asked);
    ASSERT_EQ(offers.back().result, S_OK);

    // The device's samples as full-scale values (containers left-justified), from
    // the first frame that is not silence, against the file's, channel j from j mod n.
    const uint32_t bytes = offers.back().format.Format.wBitsPerSample / 8;
    const uint32_t channels = offers.back().format.Format.nChannels;
    std::vector<double> device;
    for (const auto& buffer : sim.Rendered(endpoint)) {
      for (size_t i = 0; i + bytes <= buffer.bytes.size(); i += bytes) {
        int64_t s = 0;
        for (uint32_t k = 0; k < bytes; ++k) s |= int64_t(buffer.bytes[i + k]) << (8 * k + 64 - 8 * bytes);
        device.push_back(static_cast<double>(s >> (64 - 8 * bytes)) / std::ldexp(1.0, 8 * bytes - 1));
      }
    }
    size_t start = 0;
    while (!row.silent && start < device.size() && device[start] == 0.0) start += channels;
    ASSERT_GE(device.size(), start + size_t(kFrames) * channels) << "the whole file arrived";
    uint32_t differing = 0;
    for (uint32_t i = 0; i < kFrames * channels; ++i) {
      differing += device[start + i] != file[i / channels * row.channels + i % channels % row.channels];
    }
    if (row.verdict == exact || row.noSampleDiffers) {
      EXPECT_EQ(differing, 0u) << "every sample the file's, widened. " << (row.noSampleDiffers ? row.noSampleDiffers
                                                                                                : "");
    } else {
      EXPECT_GT(differing, 0u) << "a step that changes samples changed none";
    }
  }
}

// Wine's wave-out, through its mixer into the null sink.
TEST_F(SignalPathTest, WaveOutNamesTheMixerOrTheMapperAndTheVolumeMovesTheVerdictAtOnce) {
  const std::string path = dir_.Write("tone.wav", NoiseWave(44100));
  PlayerDialog d;
  HWND devices = GetDlgItem(d.Window(), IDC_DEVICE);
  const LRESULT lastDevice = SendMessageA(devices, CB_GETCOUNT, 0, 0) - 1;
  const std::string mixer = "Not bit-exact: through the system mixer (wave-out)";
  const std::string mapper = "Not bit-exact: through the sound mapper, through the system mixer (wave-out)";
  for (const auto& route : {std::make_pair(lastDevice, mixer), std::make_pair(LRESULT(0), mapper)}) {
    SendMessageA(devices, CB_SETCURSEL, route.first, 0);
    d.Command(IDC_DEVICE, CBN_SELCHANGE);
    ASSERT_TRUE(d.Start(path)) << route.second;
    EXPECT_EQ(TextOf(d.Window(), IDC_SIGNAL_PATH), route.second);
    EXPECT_EQ(TextOf(d.Window(), IDC_DETAIL, true), "No format negotiated: wave-out takes the file's own format.");
    d.Command(IDC_STOP);
  }
  for (const auto& volume : {std::make_pair(-30, "Not bit-exact: volume -3.0 dB, through the sound mapper, through "
                                                 "the system mixer (wave-out)"),
                             std::make_pair(0, mapper.c_str())}) {
    SetVolume(d, volume.first);
    EXPECT_EQ(TextOf(d.Window(), IDC_SIGNAL_PATH), volume.second);
    EXPECT_EQ(TextOf(d.Window(), IDC_FORMAT, true), volume.second);
  }
}

}  // namespace

// The output handle on a WASAPI entry, against the simulated endpoint: what the
// device receives is the written data frame by frame, headers come back as
// wave-out returns them, and the position behaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "devices/engine_tuning.h"
#include "dsp/convert.h"
#include "engine/output_handle.h"
#include "tests/devices/sim_devices.h"
#include "tests/support/watchdog.h"
#include "tests/support/wave_bytes.h"

namespace {

using simwasapi::AcceptedFormat;

constexpr uint32_t kFirstEndpoint = 3;  // after the three default roles

WaveFormat Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  WaveFormat f;
  f.Allocate(18);
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  f.SetU16(0, tag);
  f.SetU16(2, channels);
  f.SetU32(4, rate);
  f.SetU32(8, rate * align);
  f.SetU16(12, align);
  f.SetU16(14, bits);
  return f;
}

// Headers of awkward sizes over one block of client data: 1 frame, a size that is
// no multiple of the device buffer, one longer than the device buffer, and so on.
struct Written {
  std::vector<uint8_t> data;
  std::vector<WAVEHDR> headers;
};

Written Split(std::vector<uint8_t> data, uint32_t blockAlign, const std::vector<uint32_t>& frames) {
  Written w;
  w.data = std::move(data);
  w.headers.resize(frames.size());
  uint32_t offset = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    WAVEHDR& h = w.headers[i];
    std::memset(&h, 0, sizeof h);
    h.lpData = reinterpret_cast<LPSTR>(w.data.data() + offset);
    h.dwBufferLength = frames[i] * blockAlign;
    offset += h.dwBufferLength;
  }
  return w;
}

class WasapiOutput : public SimDeviceTest {
 protected:
  void SetUp() override {
    SimDeviceTest::SetUp();
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().lastReadTick = GetTickCount();
    done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  void TearDown() override {
    if (output_) {
      EXPECT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
    }
    CloseHandle(done_);
    ProcessEngineTuning() = EngineTuning{};
    SimDeviceTest::TearDown();
  }

  // A new endpoint, first in a freshly built device list.
  size_t Device(std::vector<AcceptedFormat> formats, int64_t period = 100000) {
    ProcessEndpointCache().Release();
    for (size_t i = 0; i < endpoints_; ++i) sim.Vanish(i);
    simwasapi::EndpointTraits traits = Endpoint((L"{sim}.out" + std::to_wstring(endpoints_++)).c_str(), L"Sim Out");
    traits.formats = std::move(formats);
    traits.minimumPeriod = period;
    traits.defaultPeriod = period;
    return sim.AddEndpoint(traits);
  }

  uint32_t Open(const WaveFormat& format, DWORD_PTR callback = 0, DWORD flags = 0) {
    if (!callback) {
      callback = reinterpret_cast<DWORD_PTR>(done_);
      flags |= CALLBACK_EVENT;
    }
    return OutputOpen(&output_, kFirstEndpoint, format, callback, flags);
  }

  // Waits until every header is back (done, not queued).
  bool AllDone(const std::vector<WAVEHDR>& headers, int seconds = 10) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
      bool all = true;
      for (const WAVEHDR& h : headers) all = all && (h.dwFlags & WHDR_DONE) && !(h.dwFlags & WHDR_INQUEUE);
      if (all) return true;
      WaitForSingleObject(done_, 20);
    }
    return false;
  }

  std::vector<uint8_t> Received(size_t endpoint) const {
    std::vector<uint8_t> bytes;
    for (const simwasapi::RenderedBuffer& b : sim.Rendered(endpoint)) {
      bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    }
    return bytes;
  }

  HANDLE done_ = nullptr;
  OutputHandle* output_ = nullptr;
  size_t endpoints_ = 0;
};

struct PairCase {
  const char* name;
  WaveFormat (*client)();
  AcceptedFormat device;
  uint32_t deviceBlockAlign;
  // The device sample bytes expected for client frame f.
  std::function<std::vector<uint8_t>(const uint8_t* frame)> expect;
};

std::vector<uint8_t> LE(int64_t v, int bytes) {
  std::vector<uint8_t> b(bytes);
  for (int i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

int32_t S16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
int32_t S24(const uint8_t* p) { return static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (p[2] << 24)) >> 8; }

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(WasapiOutput, DeviceReceivesEveryFrameInOrderForEachFormatPair) {
  const std::vector<PairCase> cases = {
      {"16 -> 16", [] { return Format(1, 2, 48000, 16); }, {2, 16, 16}, 4,
       [](const uint8_t* f) { return std::vector<uint8_t>(f, f + 4); }},
      {"16 -> 24 in 32", [] { return Format(1, 2, 48000, 16); }, {2, 32, 24}, 8,
       [](const uint8_t* f) { return Cat(LE(int64_t(S16(f)) << 16, 4), LE(int64_t(S16(f + 2)) << 16, 4)); }},
      {"mono -> stereo", [] { return Format(1, 1, 48000, 16); }, {2, 16, 16}, 4,
       [](const uint8_t* f) { return Cat(std::vector<uint8_t>(f, f + 2), std::vector<uint8_t>(f, f + 2)); }},
      {"8 -> 16", [] { return Format(1, 2, 48000, 8); }, {2, 16, 16}, 4,
       [](const uint8_t* f) { return Cat(LE((f[0] - 128) << 8, 2), LE((f[1] - 128) << 8, 2)); }},
      {"float -> 32", [] { return Format(3, 2, 48000, 32); }, {2, 32, 32}, 8,
       [](const uint8_t* f) {
         float a, b;
         std::memcpy(&a, f, 4);
         std::memcpy(&b, f + 4, 4);
         return Cat(LE(SaturateToInt32(a), 4), LE(SaturateToInt32(b), 4));
       }},
      {"24 -> 32", [] { return Format(1, 2, 48000, 24); }, {2, 32, 32}, 8,
       [](const uint8_t* f) { return Cat(LE(int64_t(S24(f)) << 8, 4), LE(int64_t(S24(f + 3)) << 8, 4)); }},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t endpoint = Device({c.device});
    const WaveFormat client = c.client();
    const uint32_t align = client.BlockAlign();
    // 480-frame device buffers at 48 kHz (10 ms): headers of 1, 700, 480, 2000, 3 frames.
    const std::vector<uint32_t> frames = {1, 700, 480, 2000, 3};
    uint32_t total = 0;
    for (uint32_t f : frames) total += f;
    std::vector<uint8_t> data(total * align);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 97);
    if (client.FormatTag() == 3) {  // float: ±0.9 ramps, no NaNs from random bits
      for (uint32_t i = 0; i < total * 2; ++i) {
        const float v = -0.9f + 1.8f * static_cast<float>(i) / static_cast<float>(total * 2);
        std::memcpy(&data[i * 4], &v, 4);
      }
    }
    Written w = Split(data, align, frames);
    ASSERT_EQ(Open(client), MMSYSERR_NOERROR);
    for (WAVEHDR& h : w.headers) {
      ASSERT_EQ(OutputPrepare(output_, &h), MMSYSERR_NOERROR);
      ASSERT_EQ(OutputWrite(output_, &h), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(AllDone(w.headers));
    Sleep(100);
    ASSERT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
    output_ = nullptr;

    const std::vector<uint8_t> got = Received(endpoint);
    ASSERT_GE(got.size(), static_cast<size_t>(total) * c.deviceBlockAlign);
    for (uint32_t f = 0; f < total; ++f) {
      const std::vector<uint8_t> expected = c.expect(&w.data[f * align]);
      ASSERT_EQ(0, std::memcmp(expected.data(), &got[f * c.deviceBlockAlign], c.deviceBlockAlign))
          << "frame " << f;
    }
    // Silence after the queue ran dry, up to the end of what was played.
    for (size_t i = static_cast<size_t>(total) * c.deviceBlockAlign; i < got.size(); ++i) {
      ASSERT_EQ(got[i], 0) << "byte " << i;
    }
  }
}

TEST_F(WasapiOutput, FormatsTheWorkerCannotPlayAreRefusedBeforeAnythingOpens) {
  Device({{2, 16, 16}});
  struct Case {
    const char* name;
    WaveFormat format;
    uint32_t expected;
  };
  WaveFormat extensible = Format(0xFFFE, 2, 48000, 16);
  const Case cases[] = {
      {"7 channels of 24-bit at 96 kHz", Format(1, 7, 96000, 24), MMSYSERR_NOERROR},
      {"0 channels", Format(1, 0, 48000, 16), WAVERR_BADFORMAT},
      {"257 channels", Format(1, 257, 48000, 16), WAVERR_BADFORMAT},
      {"999 Hz", Format(1, 2, 999, 16), WAVERR_BADFORMAT},
      {"192001 Hz", Format(1, 2, 192001, 16), WAVERR_BADFORMAT},
      {"20-bit PCM", Format(1, 2, 48000, 20), WAVERR_BADFORMAT},
      {"64-bit float", Format(3, 2, 48000, 64), WAVERR_BADFORMAT},
      {"A-law", Format(6, 1, 8000, 8), WAVERR_BADFORMAT},
      {"extensible", std::move(extensible), WAVERR_BADFORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputHandle* handle = reinterpret_cast<OutputHandle*>(0x1234);
    EXPECT_EQ(OutputOpen(&handle, kFirstEndpoint, c.format, 0, WAVE_FORMAT_QUERY), c.expected);
    EXPECT_EQ(handle, reinterpret_cast<OutputHandle*>(0x1234)) << "a query opens nothing";
  }
  EXPECT_EQ(sim.Initializations().size(), 0u) << "no worker, no device";
}

TEST_F(WasapiOutput, DeviceThatFailsToOpenReturnsItsCodeAndLeavesNoThread) {
  simwasapi::EndpointTraits traits = Endpoint(L"{sim}.busy", L"Busy");
  traits.initializeAnswer = AUDCLNT_E_DEVICE_IN_USE;
  sim.AddEndpoint(traits);
  EXPECT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_ALLOCATED);
  EXPECT_EQ(output_, nullptr);
  EXPECT_EQ(WaitForSingleObject(done_, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "no open notice";
}

TEST_F(WasapiOutput, QueuedHeaderCannotBeWrittenAgain) {
  Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  ASSERT_EQ(OutputPause(output_), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 100, 1);
  Written w = Split(data, 4, {100});
  ASSERT_EQ(OutputWrite(output_, &w.headers[0]), MMSYSERR_NOERROR);
  const DWORD flags = w.headers[0].dwFlags;
  EXPECT_EQ(OutputWrite(output_, &w.headers[0]), WAVERR_STILLPLAYING);
  EXPECT_EQ(w.headers[0].dwFlags, flags);
}

struct CallbackLog {
  std::vector<std::pair<UINT, WAVEHDR*>> notices;
  OutputHandle** output;
  uint32_t resetFromCallback = 0xFFFF;
};

CallbackLog* g_log = nullptr;

void CALLBACK LogNotice(HDRVR, UINT message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) {
  g_log->notices.push_back({message, reinterpret_cast<WAVEHDR*>(p1)});
  if (message == MM_WOM_DONE && g_log->resetFromCallback == 0xFFFF && *g_log->output) {
    g_log->resetFromCallback = OutputReset(*g_log->output);
  }
}

TEST_F(WasapiOutput, ResetReturnsEveryQueuedHeaderInWriteOrderOnce) {
  Device({{2, 16, 16}});
  CallbackLog log;
  log.output = &output_;
  log.resetFromCallback = 0;  // no reset from inside this time
  g_log = &log;
  ASSERT_EQ(Open(Format(1, 2, 48000, 16), reinterpret_cast<DWORD_PTR>(&LogNotice), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(log.notices.size(), 1u);
  EXPECT_EQ(log.notices[0].first, static_cast<UINT>(MM_WOM_OPEN));
  ASSERT_EQ(OutputPause(output_), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 3000, 2);
  Written w = Split(data, 4, {1000, 1000, 1000});
  for (WAVEHDR& h : w.headers) ASSERT_EQ(OutputWrite(output_, &h), MMSYSERR_NOERROR);
  ASSERT_EQ(OutputReset(output_), MMSYSERR_NOERROR);
  ASSERT_EQ(log.notices.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(log.notices[1 + i].first, static_cast<UINT>(MM_WOM_DONE));
    EXPECT_EQ(log.notices[1 + i].second, &w.headers[i]) << "write order";
    EXPECT_EQ(w.headers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
  }
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  ASSERT_EQ(OutputGetPosition(output_, &time), MMSYSERR_NOERROR);
  EXPECT_EQ(time.u.sample, 0u);
  // A second reset finds nothing queued: no notice again.
  ASSERT_EQ(OutputReset(output_), MMSYSERR_NOERROR);
  EXPECT_EQ(log.notices.size(), 4u);
  ASSERT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
  output_ = nullptr;
  EXPECT_EQ(log.notices.back().first, static_cast<UINT>(MM_WOM_CLOSE));
  g_log = nullptr;
}

TEST_F(WasapiOutput, ResetFromInsideADoneCallbackIsBusy) {
  Device({{2, 16, 16}});
  CallbackLog log;
  log.output = &output_;
  g_log = &log;
  ASSERT_EQ(Open(Format(1, 2, 48000, 16), reinterpret_cast<DWORD_PTR>(&LogNotice), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 2000, 2);
  Written w = Split(data, 4, {1000, 1000});
  for (WAVEHDR& h : w.headers) ASSERT_EQ(OutputWrite(output_, &h), MMSYSERR_NOERROR);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (log.resetFromCallback == 0xFFFF && std::chrono::steady_clock::now() < until) Sleep(10);
  EXPECT_EQ(log.resetFromCallback, static_cast<uint32_t>(MMSYSERR_HANDLEBUSY));
  ASSERT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
  output_ = nullptr;
  g_log = nullptr;
}

TEST_F(WasapiOutput, PositionAdvancesWhilePlayingHoldsWhilePausedAndNeverGoesBack) {
  Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 48000 * 2, 3);  // two seconds
  Written w = Split(data, 4, {48000, 48000});
  for (WAVEHDR& h : w.headers) ASSERT_EQ(OutputWrite(output_, &h), MMSYSERR_NOERROR);
  auto position = [&] {
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    EXPECT_EQ(OutputGetPosition(output_, &t), MMSYSERR_NOERROR);
    return t.u.sample;
  };
  uint32_t last = 0;
  for (int i = 0; i < 20; ++i) {
    Sleep(15);
    const uint32_t p = position();
    EXPECT_GE(p, last) << "never goes back";
    last = p;
  }
  EXPECT_GT(last, 0u) << "advances while the stream runs";
  ASSERT_EQ(OutputPause(output_), MMSYSERR_NOERROR);
  Sleep(100);  // the next pass stops the device
  const uint32_t held = position();
  Sleep(200);
  EXPECT_EQ(position(), held) << "stands still while paused";
  ASSERT_EQ(OutputRestart(output_), MMSYSERR_NOERROR);
  Sleep(200);
  EXPECT_GT(position(), held);
  // Never beyond what was handed to the device.
  ASSERT_TRUE(AllDone(w.headers));
  Sleep(300);
  EXPECT_EQ(position(), 96000u);
  MMTIME t{};
  t.wType = TIME_MS;
  ASSERT_EQ(OutputGetPosition(output_, &t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.ms, 2000u);
  t.wType = TIME_BYTES;
  ASSERT_EQ(OutputGetPosition(output_, &t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.cb, 384000u);
  t.wType = TIME_SMPTE;
  ASSERT_EQ(OutputGetPosition(output_, &t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.wType, static_cast<UINT>(TIME_SAMPLES));
  EXPECT_EQ(t.u.sample, 96000u);
}

TEST_F(WasapiOutput, NothingWrittenNeverStartsTheDeviceAndPauseRestartKeepsItStopped) {
  const size_t endpoint = Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  ASSERT_EQ(OutputPause(output_), MMSYSERR_NOERROR);
  ASSERT_EQ(OutputRestart(output_), MMSYSERR_NOERROR);
  Sleep(300);
  EXPECT_FALSE(sim.Running(endpoint));
  EXPECT_EQ(sim.CallCount(simwasapi::Call::Start), 0u);
  EXPECT_TRUE(sim.Rendered(endpoint).empty());
}

TEST_F(WasapiOutput, ShortWriteStartsAfterThePreRollAndTwoBuffersStartAtOnce) {
  const size_t endpoint = Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 2000, 5);
  Written w = Split(data, 4, {10});
  ASSERT_EQ(OutputWrite(output_, &w.headers[0]), MMSYSERR_NOERROR);
  Sleep(5);
  EXPECT_EQ(sim.CallCount(simwasapi::Call::Start), 0u) << "10 frames wait for the pre-roll";
  ASSERT_TRUE(AllDone(w.headers, 5)) << "played once the 2.9-buffer time-out expired";
  Sleep(100);  // the clock plays the buffer a period after it was released
  EXPECT_GE(sim.CallCount(simwasapi::Call::Start), 1u);
  EXPECT_FALSE(sim.Rendered(endpoint).empty());
}

TEST_F(WasapiOutput, QueryOutputInfoReportsTheNegotiatedDevice) {
  Device({{2, 32, 24}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  uint32_t kind = 9, rate = 0, bits = 0, channels = 0;
  char name[64] = "x";
  ASSERT_EQ(QueryOutputInfo(output_, &kind, &rate, &bits, &channels, name), MMSYSERR_NOERROR);
  EXPECT_EQ(kind, static_cast<uint32_t>(kOutputKindWasapi));
  EXPECT_EQ(rate, 48000u);
  EXPECT_EQ(bits, 24u);
  EXPECT_EQ(channels, 2u);
  EXPECT_STREQ(name, "Sim Out");
  EXPECT_EQ(QueryOutputInfo(nullptr, &kind, nullptr, nullptr, nullptr, nullptr),
            static_cast<uint32_t>(MMSYSERR_INVALHANDLE));
}

}  // namespace

namespace {

// Waits until `done` says so or the time runs out.
bool Eventually(const std::function<bool()>& done, int ms = 5000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    Sleep(5);
  }
  return done();
}

TEST_F(WasapiOutput, ShortHeaderIsReportedInItsPassAndTheStreamStopsTwoPeriodsLater) {
  const size_t endpoint = Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 10, 9);
  Written w = Split(data, 4, {10});
  ASSERT_EQ(OutputWrite(output_, &w.headers[0]), MMSYSERR_NOERROR);
  ASSERT_TRUE(AllDone(w.headers));
  EXPECT_TRUE(sim.Running(endpoint)) << "the first idle pass lets the last chunk play";
  ASSERT_TRUE(Eventually([&] { return !sim.Running(endpoint); })) << "the second stops it";
  const std::vector<simwasapi::RenderedBuffer> rendered = sim.Rendered(endpoint);
  ASSERT_FALSE(rendered.empty());
  const std::vector<uint8_t>& first = rendered[0].bytes;
  ASSERT_GT(first.size(), 40u) << "one whole device buffer, far more than the header";
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 40, data.begin()));
  EXPECT_TRUE(std::all_of(first.begin() + 40, first.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(WasapiOutput, StalledEventAndFailingGetBufferStillPlayEverything) {
  struct Case {
    const char* name;
    std::function<void(simwasapi::SimWasapi&, size_t)> trouble;
    std::function<void(simwasapi::SimWasapi&, size_t)> cure;
  };
  const Case cases[] = {
      {"the device stops signalling",
       [](simwasapi::SimWasapi& s, size_t e) { s.StallEvent(e, true); },
       [](simwasapi::SimWasapi& s, size_t e) { s.StallEvent(e, false); }},
      {"GetBuffer fails for a while",
       [](simwasapi::SimWasapi& s, size_t) { s.Fail(simwasapi::Call::GetBuffer, E_FAIL); },
       [](simwasapi::SimWasapi& s, size_t) { s.Fail(simwasapi::Call::GetBuffer, S_OK); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t endpoint = Device({{2, 16, 16}});
    ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
    std::vector<uint8_t> data(4 * 4800);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3 + 1);
    Written w = Split(data, 4, {2400, 2400});
    ASSERT_EQ(OutputWrite(output_, &w.headers[0]), MMSYSERR_NOERROR);
    Sleep(30);
    c.trouble(sim, endpoint);
    ASSERT_EQ(OutputWrite(output_, &w.headers[1]), MMSYSERR_NOERROR);
    Sleep(150);
    c.cure(sim, endpoint);
    ASSERT_TRUE(AllDone(w.headers));
    Sleep(100);
    ASSERT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
    output_ = nullptr;
    const std::vector<uint8_t> got = Received(endpoint);
    ASSERT_GE(got.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin())) << "nothing lost or doubled";
  }
}

std::atomic<int> g_doneNotices{0};
WAVEHDR* g_doneOrder[8];

void CALLBACK CountDone(HDRVR, UINT message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) {
  if (message != MM_WOM_DONE) return;
  const int n = g_doneNotices.fetch_add(1);
  if (n < 8) g_doneOrder[n] = reinterpret_cast<WAVEHDR*>(p1);
}

// A device that refuses its buffer on every pass (unplugged: invalidated) must not
// keep the client's buffers for ever: they come back, each with its notice, and
// the next write fails with a code the player reports.
TEST_F(WasapiOutput, DeviceThatStopsServingHandsEveryHeaderBackAndRefusesWrites) {
  struct Case {
    const char* name;
    bool beforeWrites;  // the trouble is set up before the headers are written
    std::function<void(simwasapi::SimWasapi&, size_t)> trouble;
  };
  const Case cases[] = {
      {"GetBuffer fails from the first pass, before the stream starts", true,
       [](simwasapi::SimWasapi& s, size_t) {
         s.FailAfter(simwasapi::Call::GetBuffer, 0, AUDCLNT_E_DEVICE_INVALIDATED);
       }},
      {"GetBuffer fails from the fifth pass, the stream running", true,
       [](simwasapi::SimWasapi& s, size_t) {
         s.FailAfter(simwasapi::Call::GetBuffer, 4, AUDCLNT_E_DEVICE_INVALIDATED);
       }},
      {"the endpoint vanishes mid-stream and stops signalling", false,
       [](simwasapi::SimWasapi& s, size_t e) {
         Eventually([&] { return s.Rendered(e).size() >= 3; });
         s.Vanish(e);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t endpoint = Device({{2, 16, 16}});
    g_doneNotices = 0;
    ASSERT_EQ(Open(Format(1, 2, 48000, 16), reinterpret_cast<DWORD_PTR>(&CountDone), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    // 480-frame device buffers; four headers of 100 ms, far more than plays before the trouble.
    std::vector<uint8_t> data(4 * 4800 * 4, 6);
    Written w = Split(data, 4, {4800, 4800, 4800, 4800});
    if (c.beforeWrites) c.trouble(sim, endpoint);
    for (WAVEHDR& h : w.headers) ASSERT_EQ(OutputWrite(output_, &h), MMSYSERR_NOERROR);
    if (!c.beforeWrites) c.trouble(sim, endpoint);

    ASSERT_TRUE(AllDone(w.headers)) << "every header came back";
    ASSERT_TRUE(Eventually([] { return g_doneNotices == 4; }));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g_doneOrder[i], &w.headers[i]) << "write order";
    const DWORD flags = w.headers[0].dwFlags;
    EXPECT_EQ(OutputWrite(output_, &w.headers[0]), static_cast<uint32_t>(MMSYSERR_NODRIVER));
    EXPECT_EQ(w.headers[0].dwFlags, flags) << "a refused write leaves the header alone";
    Sleep(50);
    EXPECT_EQ(g_doneNotices, 4) << "nothing queued, nothing notified";
    EXPECT_FALSE(sim.Running(endpoint));
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    ASSERT_EQ(OutputGetPosition(output_, &time), MMSYSERR_NOERROR);
    EXPECT_LT(time.u.sample, 4u * 4800) << "what never reached the device is not counted as played";
    ASSERT_EQ(OutputReset(output_), MMSYSERR_NOERROR);
    ASSERT_EQ(OutputClose(output_), MMSYSERR_NOERROR);
    output_ = nullptr;
    sim.Fail(simwasapi::Call::GetBuffer, S_OK);
  }
}

TEST_F(WasapiOutput, StreamThatRanDryIsStoppedAndRestartedWithTheNextData) {
  const size_t endpoint = Device({{2, 16, 16}});
  ASSERT_EQ(Open(Format(1, 2, 48000, 16)), MMSYSERR_NOERROR);
  std::vector<uint8_t> data(4 * 2000, 7);
  Written w = Split(data, 4, {1000, 1000});
  ASSERT_EQ(OutputWrite(output_, &w.headers[0]), MMSYSERR_NOERROR);
  ASSERT_TRUE(Eventually([&] { return sim.CallCount(simwasapi::Call::Start) == 1; }));
  ASSERT_TRUE(Eventually([&] { return !sim.Running(endpoint); }));
  ASSERT_EQ(OutputWrite(output_, &w.headers[1]), MMSYSERR_NOERROR);
  ASSERT_TRUE(AllDone(w.headers));
  EXPECT_EQ(sim.CallCount(simwasapi::Call::Start), 2u);
}

// Kernel handles: Wine hands out the lowest free slot, so a fresh event's value
// stays the same across balanced cycles and grows with every handle leaked.
uintptr_t HandleProbe() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  return reinterpret_cast<uintptr_t>(probe);
}

TEST_F(WasapiOutput, ThousandCyclesLeaveNoHandleOrThreadBehind) {
  Device({{2, 16, 16}});
  std::vector<uint8_t> data(4 * 600, 1);
  Written w = Split(data, 4, {300, 300});
  // One cycle first so that one-time allocations (the scheduler library) are made.
  auto cycle = [&] {
    if (Open(Format(1, 2, 48000, 16)) != MMSYSERR_NOERROR) return false;
    for (WAVEHDR& h : w.headers) {
      h.dwFlags = 0;
      if (OutputWrite(output_, &h) != MMSYSERR_NOERROR) return false;
    }
    bool ok = OutputPause(output_) == MMSYSERR_NOERROR && OutputRestart(output_) == MMSYSERR_NOERROR &&
              OutputReset(output_) == MMSYSERR_NOERROR && OutputClose(output_) == MMSYSERR_NOERROR;
    output_ = nullptr;
    return ok;
  };
  ASSERT_TRUE(cycle());
  const uintptr_t before = HandleProbe();
  {
    Watchdog watchdog("1000 WASAPI output cycles", 120);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  }
  EXPECT_EQ(HandleProbe(), before) << "kernel handles leaked";
}

}  // namespace

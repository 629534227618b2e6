// The exclusive WASAPI device against the simulated endpoint: negotiation order,
// period alignment, error codes, COM ownership and the forwarding operations.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include "devices/engine_tuning.h"
#include "devices/wasapi_out.h"
#include "tests/devices/sim_devices.h"
#include "win32/scoped_handle.h"

namespace {

using simwasapi::AcceptedFormat;
using simwasapi::Call;
using Offer = std::tuple<int, int, int>;  // channels, valid bits, container bits

SampleFormat FileFormat(uint32_t rate, uint32_t channels, uint16_t bits, bool isFloat = false) {
  SampleFormat f;
  f.sampleRate = rate;
  f.channels = channels;
  f.containerBits = bits;
  f.validBits = bits;
  f.blockAlign = channels * (bits / 8);
  f.isFloat = isFloat;
  f.silenceByte = !isFloat && bits == 8 ? 0x80 : 0;
  return f;
}

struct OpenOutcome {
  bool ok = false;
  uint32_t error = 0xDEAD;
  uint32_t bufferFrames = 0xDEAD;
  uint32_t latencyFrames = 0xDEAD;
  SampleFormat format;
  std::wstring name;
  std::vector<Offer> offers;
  std::vector<int64_t> durations;
};

class WasapiOut : public SimDeviceTest {
 protected:
  void SetUp() override {
    SimDeviceTest::SetUp();
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().lastReadTick = GetTickCount();  // no re-read during a test
  }
  void TearDown() override {
    ProcessEngineTuning() = EngineTuning{};
    SimDeviceTest::TearDown();
  }

  // One endpoint at index 3 taking the given formats at 44100 and 48000 Hz.
  size_t Device(std::vector<AcceptedFormat> formats) {
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.device", L"Sim Speakers");
    traits.formats = std::move(formats);
    return sim.AddEndpoint(traits);
  }

  OpenOutcome Open(SampleFormat format, OutputDeviceIndex index = 3) {
    OpenOutcome out;
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    wchar_t name[64] = L"";
    {
      CWASAPIOUT device;
      out.format = format;
      out.ok = device.Open(index, out.format, event.Get(), out.bufferFrames, out.latencyFrames,
                           out.error, name, 64);
    }
    out.name = name;
    for (const simwasapi::InitializeRecord& r : sim.Initializations()) {
      out.offers.emplace_back(r.format.Format.nChannels, r.format.Samples.wValidBitsPerSample,
                              r.format.Format.wBitsPerSample);
      out.durations.push_back(r.bufferDuration);
      EXPECT_EQ(r.shareMode, AUDCLNT_SHAREMODE_EXCLUSIVE);
      EXPECT_EQ(r.streamFlags, static_cast<DWORD>(AUDCLNT_STREAMFLAGS_EVENTCALLBACK));
      EXPECT_EQ(r.bufferDuration, r.periodicity);
    }
    return out;
  }
};

std::vector<Offer> Stereo(std::vector<std::pair<int, int>> pairs, int channels = 2) {
  std::vector<Offer> offers;
  for (const auto& p : pairs) offers.emplace_back(channels, p.first, p.second);
  return offers;
}

TEST_F(WasapiOut, EveryCandidateOfEachFileDepthInOrder) {
  struct Case {
    const char* what;
    SampleFormat file;
    std::vector<Offer> offers;
  };
  const Case cases[] = {
      {"8-bit", FileFormat(44100, 2, 8),
       Stereo({{8, 8}, {8, 16}, {8, 24}, {8, 32}, {16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32},
               {32, 32}})},
      {"16-bit", FileFormat(44100, 2, 16),
       Stereo({{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}, {32, 32}})},
      {"24-bit", FileFormat(44100, 2, 24), Stereo({{24, 24}, {24, 32}, {32, 32}})},
      {"32-bit", FileFormat(44100, 2, 32), Stereo({{32, 32}})},
      {"32-bit float", FileFormat(44100, 2, 32, true), Stereo({{32, 32}})},
  };
  for (const Case& c : cases) {
    simwasapi::SimWasapi local;  // only 32-in-32 stereo: the last rung is taken
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.wide", L"Wide");
    traits.formats = {{2, 32, 32}};
    local.AddEndpoint(traits);
    OpenOutcome out;
    {
      ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
      CWASAPIOUT device;
      out.format = c.file;
      wchar_t name[64];
      out.ok = device.Open(3, out.format, event.Get(), out.bufferFrames, out.latencyFrames,
                           out.error, name, 64);
    }
    for (const auto& r : local.Initializations())
      out.offers.emplace_back(r.format.Format.nChannels, r.format.Samples.wValidBitsPerSample,
                              r.format.Format.wBitsPerSample);
    EXPECT_TRUE(out.ok) << c.what;
    EXPECT_EQ(out.error, 0u) << c.what;
    EXPECT_EQ(out.offers, c.offers) << c.what;
    EXPECT_EQ(SampleKindOf(out.format), SampleKind::Int32) << c.what;
    EXPECT_FALSE(out.format.isFloat) << c.what;
    EXPECT_EQ(out.format.blockAlign, 8u) << c.what;
    ProcessEndpointCache().Release();
  }
}

TEST_F(WasapiOut, LimitOf16BitsOffers24BitFilesOnly16ValidBits) {
  Device({{2, 24, 24}});
  ProcessEngineTuning().wasapiMaxBitLength = 16;
  const OpenOutcome out = Open(FileFormat(44100, 2, 24));
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, 32u);
  EXPECT_EQ(out.offers, Stereo({{16, 16}, {16, 24}, {16, 32}}));
}

TEST_F(WasapiOut, OddChannelCountsAreRetriedOnceWithOneMore) {
  {
    Device({{2, 32, 24}});
    const OpenOutcome out = Open(FileFormat(44100, 1, 16));
    std::vector<Offer> expected = Stereo({{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}, {32, 32}}, 1);
    for (const Offer& o : Stereo({{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}})) expected.push_back(o);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.offers, expected);
    EXPECT_EQ(out.format.channels, 2u);
    EXPECT_EQ(out.format.containerBits, 32);
    EXPECT_EQ(out.format.validBits, 24);
    EXPECT_EQ(out.format.blockAlign, 8u);
  }
  {
    simwasapi::SimWasapi local;
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.quad", L"Quad");
    traits.formats = {{4, 16, 16}};
    local.AddEndpoint(traits);
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format = FileFormat(48000, 3, 16);
    uint32_t frames, latency, error;
    EXPECT_TRUE(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0));
    const auto records = local.Initializations();
    ASSERT_EQ(records.size(), 7u) << "six three-channel candidates, then four channels";
    EXPECT_EQ(records[5].format.Format.nChannels, 3);
    EXPECT_EQ(records[6].format.Format.nChannels, 4);
    EXPECT_EQ(records[6].format.Format.nBlockAlign, 8);
    EXPECT_EQ(records[6].format.dwChannelMask, 0x7u) << "the added channel has no speaker bit";
    EXPECT_EQ(format.channels, 4u);
  }
  {
    simwasapi::SimWasapi local;  // an even count that nothing fits is not retried
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.other", L"Other");
    traits.formats = {{2, 16, 16}};
    traits.rates = {48000};
    local.AddEndpoint(traits);
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format = FileFormat(32000, 2, 16);
    uint32_t frames, latency, error = 0;
    EXPECT_FALSE(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0));
    EXPECT_EQ(error, 32u) << "a refused rate";
    EXPECT_EQ(local.Initializations().size(), 6u);
    for (const auto& r : local.Initializations()) EXPECT_EQ(r.format.Format.nSamplesPerSec, 32000u);
  }
}

TEST_F(WasapiOut, LastNegotiationResultIsMappedToAWaveOutCode) {
  struct Case {
    HRESULT answer;
    uint32_t error;
  };
  const Case cases[] = {
      {AUDCLNT_E_DEVICE_IN_USE, 4},
      {AUDCLNT_E_BUFFER_OPERATION_PENDING, 4},
      {AUDCLNT_E_NOT_STOPPED, 33},
      {AUDCLNT_E_UNSUPPORTED_FORMAT, 32},
      {AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, 11},
      {E_FAIL, 11},
      {S_FALSE, 11},  // only S_OK counts as success in exclusive mode
  };
  for (const Case& c : cases) {
    simwasapi::SimWasapi local;
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.busy", L"Busy");
    traits.initializeAnswer = c.answer;
    local.AddEndpoint(traits);
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format = FileFormat(44100, 2, 16);
    uint32_t frames, latency, error = 0;
    EXPECT_FALSE(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0)) << c.answer;
    EXPECT_EQ(error, c.error) << std::hex << c.answer;
    EXPECT_EQ(local.Initializations().size(), 6u) << "the whole list is tried first";
    EXPECT_EQ(NegotiationErrorCode(c.answer), c.error);
  }
}

TEST_F(WasapiOut, FailingStepsAroundTheNegotiation) {
  struct Case {
    Call failing;  // kCount: no call fails
    bool ok;
    uint32_t error;
    int64_t bufferSizeAnswer = -1;
  };
  const Case cases[] = {
      {Call::Activate, false, 6},      {Call::GetDevicePeriod, false, 6},
      {Call::SetEventHandle, false, 6}, {Call::GetBufferSize, false, 6},
      {Call::GetService, false, 6},    {Call::CreateEnumerator, false, 6},
      {Call::GetStreamLatency, true, 0},
      // A buffer of no frames would spin the render thread on a zero wait.
      {Call::kCount, false, 6, 0},
  };
  for (const Case& c : cases) {
    simwasapi::SimWasapi local;
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.a", L"A");
    traits.bufferSizeAnswer = c.bufferSizeAnswer;
    local.AddEndpoint(traits);
    ASSERT_EQ(WasapiDeviceCount(), 4u);
    if (c.failing != Call::kCount) local.Fail(c.failing, E_FAIL);
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format = FileFormat(44100, 2, 16);
    uint32_t frames = 0, latency = 0xDEAD, error = 0xDEAD;
    EXPECT_EQ(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0), c.ok)
        << static_cast<int>(c.failing);
    EXPECT_EQ(error, c.error) << static_cast<int>(c.failing);
    if (c.ok) {
      EXPECT_EQ(latency, 0u) << "a latency that cannot be read counts as 0";
      EXPECT_EQ(frames, 1472u);
    }
  }
}

TEST_F(WasapiOut, EndpointThatCannotBeResolvedIsNoDriver) {
  const size_t e = Device({{2, 16, 16}});
  ASSERT_EQ(WasapiDeviceCount(), 4u);
  EXPECT_EQ(Open(FileFormat(44100, 2, 16), 4).error, 6u) << "past the cache";
  EXPECT_EQ(Open(FileFormat(44100, 2, 16), 0).error, 6u) << "no default endpoint";
  sim.Vanish(e);
  const OpenOutcome out = Open(FileFormat(44100, 2, 16), 3);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, 6u) << "gone since the list was built";
  EXPECT_TRUE(out.offers.empty());
}

TEST_F(WasapiOut, PeriodFromTheDeviceMinimumAndTheBufferLength) {
  struct Case {
    int64_t minimum;
    uint32_t bufferLengthMs;
    int64_t duration;
    uint32_t frames;
  };
  const Case cases[] = {
      {30000, 33, 333787, 1472},
      {30000, 0, 36281, 160},
      {500000, 33, 500680, 2208},
      {500000, 0, 500680, 2208},
  };
  for (const Case& c : cases) {
    simwasapi::SimWasapi local;
    ProcessEndpointCache().Release();
    simwasapi::EndpointTraits traits = Endpoint(L"{sim}.p", L"P");
    traits.minimumPeriod = c.minimum;
    local.AddEndpoint(traits);
    ProcessEngineTuning().wasapiBufferLength = c.bufferLengthMs;
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format = FileFormat(44100, 2, 16);
    uint32_t frames = 0, latency = 0, error = 0xDEAD;
    ASSERT_TRUE(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0));
    ASSERT_EQ(local.Initializations().size(), 1u);
    EXPECT_EQ(local.Initializations()[0].bufferDuration, c.duration) << c.minimum << " " << c.bufferLengthMs;
    EXPECT_EQ(device.Period(), c.duration);
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(latency, c.frames) << "the simulated latency is one buffer";
  }
}

TEST_F(WasapiOut, AcceptedFormatRecordAndName) {
  Device({{2, 8, 8}});
  const OpenOutcome out = Open(FileFormat(48000, 2, 8));
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.name, L"Sim Speakers");
  EXPECT_EQ(out.format.silenceByte, 0x80);
  EXPECT_EQ(out.format.blockAlign, 2u);
  EXPECT_EQ(out.format.sampleRate, 48000u);
  const simwasapi::InitializeRecord r = sim.Initializations().at(0);
  EXPECT_EQ(r.format.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(r.format.Format.cbSize, 22);
  EXPECT_EQ(r.format.Format.nAvgBytesPerSec, 96000u);
  EXPECT_EQ(r.format.dwChannelMask, 0x3u);
}

TEST_F(WasapiOut, ComThatCannotBeInitialisedIsReportedAsNoMemory) {
  Device({{2, 16, 16}});
  uint32_t error = 0;
  bool ok = true;
  std::thread([&] {
    ScopedCoInit mta(COINIT_MULTITHREADED);
    CWASAPIOUT device;
    SampleFormat format = FileFormat(44100, 2, 16);
    uint32_t frames, latency;
    ok = device.Open(3, format, nullptr, frames, latency, error, nullptr, 0);
  }).join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, 7u);
  EXPECT_EQ(sim.CallCount(Call::CreateEnumerator), 0u) << "the endpoint is never touched";
}

TEST_F(WasapiOut, DestructorOnAnotherThreadReleasesButLeavesComAlone) {
  Device({{2, 16, 16}});
  const int baseline = simwasapi::SimWasapi::LiveObjects();
  std::promise<CWASAPIOUT*> opened;
  std::promise<void> deleted;
  HRESULT afterwards = E_FAIL;
  std::thread owner([&] {
    auto* device = new CWASAPIOUT;
    SampleFormat format = FileFormat(44100, 2, 16);
    uint32_t frames, latency, error;
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    EXPECT_TRUE(device->Open(3, format, event.Get(), frames, latency, error, nullptr, 0));
    opened.set_value(device);
    deleted.get_future().wait();
    // Still initialised here: a second initialisation only counts up.
    afterwards = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(afterwards)) CoUninitialize();
    CoUninitialize();
  });
  CWASAPIOUT* device = opened.get_future().get();
  EXPECT_GT(simwasapi::SimWasapi::LiveObjects(), baseline);
  // This thread's own apartment must survive the foreign destructor: an
  // uninitialisation there would take its count back to zero.
  const HRESULT mine = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(SUCCEEDED(mine));
  CAUDIODEVICE* base = device;
  delete base;
  EXPECT_EQ(simwasapi::SimWasapi::LiveObjects(), baseline) << "interfaces released";
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE) << "the destructor uninitialised COM on a thread it does not own";
  if (SUCCEEDED(again)) CoUninitialize();
  CoUninitialize();
  deleted.set_value();
  owner.join();
  EXPECT_EQ(afterwards, S_FALSE) << "the destructor did not uninitialise the owner's COM";

  // On its own thread the destructor does uninitialise.
  std::thread([&] {
    { CWASAPIOUT own; }
    afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(afterwards)) CoUninitialize();
  }).join();
  EXPECT_EQ(afterwards, S_OK);
}

TEST_F(WasapiOut, ForwardingOperationsReachTheEndpoint) {
  const size_t e = Device({{2, 16, 16}});
  ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  CWASAPIOUT device;
  BYTE* data = nullptr;
  EXPECT_FALSE(device.GetBuffer(16, &data)) << "nothing to forward to before Open";
  EXPECT_FALSE(device.Start());
  SampleFormat format = FileFormat(44100, 2, 16);
  uint32_t frames = 0, latency, error;
  ASSERT_TRUE(device.Open(3, format, event.Get(), frames, latency, error, nullptr, 0));
  ASSERT_TRUE(device.GetBuffer(frames, &data));
  for (uint32_t i = 0; i < frames * 4; ++i) data[i] = static_cast<BYTE>(i * 7);
  ASSERT_TRUE(device.ReleaseBuffer(frames, 0));
  ASSERT_TRUE(device.Start());
  EXPECT_TRUE(sim.Running(e));
  EXPECT_EQ(WaitForSingleObject(event.Get(), 5000), WAIT_OBJECT_0) << "the clock signals each period";
  ASSERT_TRUE(device.Stop());
  EXPECT_FALSE(sim.Running(e));
  const auto rendered = sim.Rendered(e);
  ASSERT_GE(rendered.size(), 1u);
  ASSERT_EQ(rendered[0].bytes.size(), frames * 4u);
  for (uint32_t i = 0; i < frames * 4; ++i) ASSERT_EQ(rendered[0].bytes[i], static_cast<BYTE>(i * 7)) << i;
  device.Close();
  EXPECT_FALSE(device.Start()) << "closed";
}

TEST(AudioDeviceBase, EveryOperationFails) {
  CAUDIODEVICE base;
  SampleFormat format;
  uint32_t frames = 0, latency = 0, error = 0;
  EXPECT_FALSE(base.Open(0, format, nullptr, frames, latency, error, nullptr, 0));
  EXPECT_EQ(error, 6u);
  BYTE* data = nullptr;
  EXPECT_FALSE(base.GetBuffer(1, &data));
  EXPECT_FALSE(base.ReleaseBuffer(1, 0));
  EXPECT_FALSE(base.Stop());
  EXPECT_FALSE(base.Start());
  base.Close();
}

}  // namespace

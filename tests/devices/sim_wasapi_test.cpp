// The simulated WASAPI endpoint's own rules, where they are not obvious: what
// Initialize refuses, the render client's buffer discipline, and the clock thread
// (signals, recording, stall, vanishing).
#include <gtest/gtest.h>

#include "devices/device_enumerator.h"
#include "tests/support/simwasapi/sim_wasapi.h"
#include "win32/scoped_com.h"
#include "win32/scoped_handle.h"

namespace {

using simwasapi::SimWasapi;

constexpr GUID kPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// A generous bound for a wait that must end; no test measures time.
constexpr DWORD kLiveness = 10000;

WAVEFORMATEXTENSIBLE Stereo16(uint32_t rate) {
  WAVEFORMATEXTENSIBLE f = {};
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.nChannels = 2;
  f.Format.nSamplesPerSec = rate;
  f.Format.wBitsPerSample = 16;
  f.Format.nBlockAlign = 4;
  f.Format.nAvgBytesPerSec = 4 * rate;
  f.Format.cbSize = 22;
  f.Samples.wValidBitsPerSample = 16;
  f.dwChannelMask = 3;
  f.SubFormat = kPcm;
  return f;
}

class SimEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    simwasapi::EndpointTraits traits;
    traits.id = L"{sim}.x";
    traits.friendlyName = L"X";
    endpoint = sim.AddEndpoint(traits);
    sim.SetDefault(eConsole, endpoint);
    ASSERT_TRUE(SUCCEEDED(CreateDeviceEnumerator(CLSCTX_ALL, enumerator.Receive())));
    ASSERT_TRUE(SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.Receive())));
    ASSERT_TRUE(SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                           reinterpret_cast<void**>(client.Receive()))));
  }
  // 1472 frames at 44100 Hz: 5888 bytes, a multiple of 128.
  HRESULT InitializeAligned() {
    const WAVEFORMATEXTENSIBLE f = Stereo16(44100);
    return client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                              333787, 333787, &f.Format, nullptr);
  }

  SimWasapi sim;
  size_t endpoint = 0;
  ComPtr<IMMDeviceEnumerator> enumerator;
  ComPtr<IMMDevice> device;
  ComPtr<IAudioClient> client;
};

TEST_F(SimEndpoint, InitializeRefusesWhatARealExclusiveDriverRefuses) {
  struct Case {
    const char* what;
    AUDCLNT_SHAREMODE mode;
    int64_t duration, periodicity;
    uint32_t rate;
    HRESULT expected;
  };
  const Case cases[] = {
      {"unaligned buffer", AUDCLNT_SHAREMODE_EXCLUSIVE, 330000, 330000, 44100,
       AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED},
      {"duration and period differ", AUDCLNT_SHAREMODE_EXCLUSIVE, 333787, 100000, 44100, E_INVALIDARG},
      {"below the minimum period", AUDCLNT_SHAREMODE_EXCLUSIVE, 29025, 29025, 44100,
       AUDCLNT_E_INVALID_DEVICE_PERIOD},
      {"shared mode", AUDCLNT_SHAREMODE_SHARED, 333787, 333787, 44100, E_INVALIDARG},
      {"rate not declared", AUDCLNT_SHAREMODE_EXCLUSIVE, 333787, 333787, 32000,
       AUDCLNT_E_UNSUPPORTED_FORMAT},
      {"accepted after refusals", AUDCLNT_SHAREMODE_EXCLUSIVE, 333787, 333787, 44100, S_OK},
      {"only once", AUDCLNT_SHAREMODE_EXCLUSIVE, 333787, 333787, 44100, AUDCLNT_E_ALREADY_INITIALIZED},
  };
  for (const Case& c : cases) {
    const WAVEFORMATEXTENSIBLE f = Stereo16(c.rate);
    EXPECT_EQ(client->Initialize(c.mode, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, c.duration, c.periodicity,
                                 &f.Format, nullptr),
              c.expected)
        << c.what;
  }
  EXPECT_EQ(sim.Initializations().size(), 7u);
  UINT32 frames = 0;
  ASSERT_EQ(client->GetBufferSize(&frames), S_OK);
  EXPECT_EQ(frames, 1472u);
}

TEST_F(SimEndpoint, RenderClientKeepsTheGetReleaseOrder) {
  ASSERT_EQ(InitializeAligned(), S_OK);
  ComPtr<IAudioRenderClient> render;
  ASSERT_EQ(client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render.Receive())),
            S_OK);
  BYTE* data = nullptr;
  EXPECT_EQ(render->ReleaseBuffer(1, 0), AUDCLNT_E_OUT_OF_ORDER) << "nothing was taken";
  EXPECT_EQ(render->GetBuffer(1473, &data), AUDCLNT_E_BUFFER_TOO_LARGE);
  ASSERT_EQ(render->GetBuffer(1472, &data), S_OK);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_OUT_OF_ORDER) << "taken twice";
  EXPECT_EQ(render->ReleaseBuffer(1473, 0), AUDCLNT_E_INVALID_SIZE);
  ASSERT_EQ(render->ReleaseBuffer(1472, 0), S_OK);
  ASSERT_EQ(render->GetBuffer(1472, &data), S_OK);
  ASSERT_EQ(render->ReleaseBuffer(1472, AUDCLNT_BUFFERFLAGS_SILENT), S_OK);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_BUFFER_TOO_LARGE)
      << "two buffers wait and none has played";
  UINT32 padding = 0;
  ASSERT_EQ(client->GetCurrentPadding(&padding), S_OK);
  EXPECT_EQ(padding, 2944u);
  // A failure armed to come after two more calls, whatever those answer.
  sim.FailAfter(simwasapi::Call::GetBuffer, 2, AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_BUFFER_TOO_LARGE);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_BUFFER_TOO_LARGE);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_DEVICE_INVALIDATED);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_DEVICE_INVALIDATED);
  sim.Fail(simwasapi::Call::GetBuffer, S_OK);
  EXPECT_EQ(render->GetBuffer(1472, &data), AUDCLNT_E_BUFFER_TOO_LARGE) << "cleared: as usual again";
}

TEST_F(SimEndpoint, ClockPlaysReleasedBuffersInOrderAndSignalsEachPeriod) {
  ASSERT_EQ(InitializeAligned(), S_OK);
  ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  ASSERT_EQ(client->SetEventHandle(event.Get()), S_OK);
  ComPtr<IAudioRenderClient> render;
  ASSERT_EQ(client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render.Receive())),
            S_OK);
  BYTE* data = nullptr;
  ASSERT_EQ(render->GetBuffer(1472, &data), S_OK);
  std::fill_n(data, 1472 * 4, BYTE{1});
  ASSERT_EQ(render->ReleaseBuffer(1472, 0), S_OK);
  ASSERT_EQ(client->Start(), S_OK);
  for (BYTE fill = 2; fill <= 4; ++fill) {
    ASSERT_EQ(WaitForSingleObject(event.Get(), kLiveness), WAIT_OBJECT_0);
    ASSERT_EQ(render->GetBuffer(1472, &data), S_OK);
    std::fill_n(data, 1472 * 4, fill);
    ASSERT_EQ(render->ReleaseBuffer(1472, 0), S_OK);
  }
  ASSERT_EQ(WaitForSingleObject(event.Get(), kLiveness), WAIT_OBJECT_0);
  ASSERT_EQ(client->Stop(), S_OK);
  const auto rendered = sim.Rendered(endpoint);
  ASSERT_GE(rendered.size(), 3u);
  for (size_t i = 0; i < rendered.size(); ++i) {
    EXPECT_EQ(rendered[i].frames, 1472u);
    EXPECT_EQ(rendered[i].bytes.front(), static_cast<BYTE>(i + 1)) << "played in release order";
    if (i > 0) {
      EXPECT_GT(rendered[i].counter, rendered[i - 1].counter) << "one period after another";
    }
  }
  EXPECT_EQ(client->Stop(), S_FALSE) << "already stopped";
}

TEST_F(SimEndpoint, DroppedPeriodsAreCountedButNotSignalled) {
  ASSERT_EQ(InitializeAligned(), S_OK);
  ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  ASSERT_EQ(client->SetEventHandle(event.Get()), S_OK);
  sim.DropPeriods(endpoint, 3);
  ASSERT_EQ(client->Start(), S_OK);
  ASSERT_EQ(WaitForSingleObject(event.Get(), kLiveness), WAIT_OBJECT_0);
  EXPECT_GE(sim.Underruns(endpoint) + sim.Rendered(endpoint).size(), 4u)
      << "three silent periods come before the first signal";
  ASSERT_EQ(client->Stop(), S_OK);
}

TEST_F(SimEndpoint, StalledEventPlaysOnSilentlyAndAVanishedEndpointFallsSilent) {
  ASSERT_EQ(InitializeAligned(), S_OK);
  ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  ASSERT_EQ(client->SetEventHandle(event.Get()), S_OK);
  sim.StallEvent(endpoint, true);
  ASSERT_EQ(client->Start(), S_OK);
  // The clock keeps running: with nothing released it counts underruns.
  for (int i = 0; i < 1000 && sim.Underruns(endpoint) < 2; ++i) Sleep(10);
  EXPECT_GE(sim.Underruns(endpoint), 2u);
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "never signalled";
  sim.StallEvent(endpoint, false);
  EXPECT_EQ(WaitForSingleObject(event.Get(), kLiveness), WAIT_OBJECT_0);

  sim.Vanish(endpoint);
  ComPtr<IAudioRenderClient> render;
  EXPECT_EQ(client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render.Receive())),
            AUDCLNT_E_DEVICE_INVALIDATED);
  ComPtr<IMMDeviceCollection> collection;
  UINT count = 99;
  ASSERT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.Receive()), S_OK);
  ASSERT_EQ(collection->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0u) << "gone from the active collection";
  ComPtr<IMMDevice> again;
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, again.Receive()),
            HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  client->Stop();
}

}  // namespace

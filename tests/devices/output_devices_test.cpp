// The combined device list, its names and capabilities, and endpoint resolution,
// against the simulated WASAPI system and the real wave-out devices of Wine.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "devices/output_devices.h"
#include "tests/devices/sim_devices.h"
#include "win32/scoped_com.h"

namespace {

using simwasapi::Call;

std::wstring DisplayName(OutputDeviceIndex index, MMRESULT* result = nullptr) {
  OutputDeviceCaps caps;
  std::fill_n(caps.displayName, kDisplayNameChars, L'#');
  const MMRESULT r = GetOutputDeviceCaps(index, &caps);
  if (result) *result = r;
  return r == MMSYSERR_NOERROR ? std::wstring(caps.displayName) : std::wstring();
}

std::wstring MmeName(UINT_PTR device) {
  WAVEOUTCAPSW caps = {};
  if (waveOutGetDevCapsW(device, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return L"<none>";
  return std::wstring(L"MME: ") + caps.szPname;
}

using DeviceList = SimDeviceTest;

TEST_F(DeviceList, MapperThenRolesThenEndpointsThenMmeDevices) {
  sim.AddEndpoint(Endpoint(L"{sim}.speakers", L"Speakers (Sim)"));
  sim.AddEndpoint(Endpoint(L"{sim}.headphones", L"Headphones (Sim)"));
  const uint32_t w = WasapiDeviceCount();
  ASSERT_EQ(w, 5u);
  const std::vector<std::pair<OutputDeviceIndex, std::wstring>> expected = {
      {kWaveMapperIndex, MmeName(WAVE_MAPPER)},
      {0, L"WASAPI: Default Multimedia Device"},
      {1, L"WASAPI: Default Communications Device"},
      {2, L"WASAPI: Default Console Device"},
      {3, L"WASAPI: Speakers (Sim)"},
      {4, L"WASAPI: Headphones (Sim)"},
  };
  for (const auto& e : expected) EXPECT_EQ(DisplayName(e.first), e.second) << e.first;
  const UINT mmeCount = waveOutGetNumDevs();
  for (UINT d = 0; d < mmeCount; ++d) EXPECT_EQ(DisplayName(w + d), MmeName(d)) << d;

  // Past the MME devices: the system's code, and the record is not written.
  OutputDeviceCaps caps;
  std::fill_n(reinterpret_cast<char*>(&caps), sizeof(caps), '\x5A');
  EXPECT_EQ(GetOutputDeviceCaps(w + mmeCount, &caps), static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&caps)[0], 0x5A);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&caps)[211], 0x5A);
}

TEST_F(DeviceList, EndpointNamesAsListed) {
  struct Case {
    simwasapi::EndpointTraits traits;
    std::wstring display;  // what follows "WASAPI: "
    std::wstring synth;    // what follows "wspx:"
  };
  const std::wstring sixty = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz01234567";
  ASSERT_EQ(sixty.size(), 60u);
  simwasapi::EndpointTraits numeric = Endpoint(L"{sim}.numeric", L"ignored");
  numeric.nameIsString = false;
  const Case cases[] = {
      {Endpoint(L"{sim}.long", sixty.c_str()), sixty.substr(0, 55), sixty.substr(0, 26)},
      {numeric, L"Unknown", L"Unknown"},
      {Endpoint(L"{sim}.twin1", L"Twin"), L"Twin", L"Twin"},
      {Endpoint(L"{sim}.twin2", L"Twin"), L"Twin", L"Twin"},
      {Endpoint(L"{sim}.empty", L""), L"", L""},
  };
  for (const Case& c : cases) sim.AddEndpoint(c.traits);
  ASSERT_EQ(WasapiDeviceCount(), 3u + 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    const OutputDeviceIndex index = 3 + i;
    OutputDeviceCaps caps = {};
    ASSERT_EQ(GetOutputDeviceCaps(index, &caps), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(std::wstring(caps.displayName), L"WASAPI: " + cases[i].display) << i;
    EXPECT_EQ(std::wstring(caps.caps.szPname), L"wspx:" + cases[i].synth) << i;
    EXPECT_EQ(caps.caps.wMid, 0xFFFF);
    EXPECT_EQ(caps.caps.wPid, 0xFFFF);
    EXPECT_EQ(caps.caps.vDriverVersion, 0x0100u);
    EXPECT_EQ(caps.caps.dwFormats, 0x000FFFFFu);
    EXPECT_EQ(caps.caps.wChannels, 2);
    EXPECT_EQ(caps.caps.wReserved1, 0);
    EXPECT_EQ(caps.caps.dwSupport, static_cast<DWORD>(WAVECAPS_SAMPLEACCURATE));
  }
  // The role entries have synthesised capabilities as well, cut the same way.
  WAVEOUTCAPSW caps = {};
  ASSERT_TRUE(FillWasapiCaps(1, &caps));
  EXPECT_EQ(std::wstring(caps.szPname), L"wspx:Default Communications Dev");
}

TEST_F(DeviceList, EntriesWhoseFieldsCannotBeReadKeepTheirPlace) {
  struct Case {
    Call failing;
    std::wstring id, name;
  };
  const Case cases[] = {
      {Call::Item, L"", L""},
      {Call::GetId, L"", L""},
      {Call::OpenPropertyStore, L"{sim}.2", L""},
      {Call::GetValue, L"{sim}.3", L""},
  };
  sim.AddEndpoint(Endpoint(L"{sim}.first", L"First"));
  const std::wstring ids[] = {L"{sim}.0", L"{sim}.1", L"{sim}.2", L"{sim}.3"};
  for (size_t i = 0; i < 4; ++i) {
    const size_t e = sim.AddEndpoint(Endpoint(ids[i].c_str(), L"Hidden"));
    sim.FailEndpoint(e, cases[i].failing, E_FAIL);
  }
  sim.AddEndpoint(Endpoint(L"{sim}.last", L"Last"));
  ASSERT_EQ(WasapiDeviceCount(), 3u + 6u);
  EXPECT_EQ(DisplayName(3), L"WASAPI: First");
  for (size_t i = 0; i < 4; ++i) {
    const EndpointEntry* entry = ProcessEndpointCache().Entry(1 + i);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::wstring(entry->id), cases[i].id) << i;
    EXPECT_EQ(std::wstring(entry->name), cases[i].name) << i;
    EXPECT_EQ(DisplayName(4 + i), L"WASAPI: " + cases[i].name) << i;
  }
  EXPECT_EQ(DisplayName(8), L"WASAPI: Last");
}

TEST_F(DeviceList, FailedEnumerationLeavesTheRoleEntriesAndIsRetried) {
  const Call failing[] = {Call::CreateEnumerator, Call::EnumAudioEndpoints, Call::GetCount};
  sim.AddEndpoint(Endpoint(L"{sim}.a", L"A"));
  for (Call call : failing) {
    ProcessEndpointCache().Release();
    sim.Fail(call, E_OUTOFMEMORY);
    EXPECT_EQ(WasapiDeviceCount(), 3u) << static_cast<int>(call);
    EXPECT_FALSE(ProcessEndpointCache().IsBuilt());
    EXPECT_EQ(DisplayName(0), L"WASAPI: Default Multimedia Device");
    EXPECT_FALSE(FillWasapiCaps(3, nullptr)) << "no entry past the roles";
    sim.Fail(call, S_OK);
    EXPECT_EQ(WasapiDeviceCount(), 4u) << "the next use builds the cache";
    EXPECT_EQ(DisplayName(3), L"WASAPI: A");
  }
}

TEST_F(DeviceList, ThreadInTheMultithreadedApartmentCannotBuildTheCache) {
  sim.AddEndpoint(Endpoint(L"{sim}.a", L"A"));
  uint32_t count = 0;
  std::thread([&] {
    ScopedCoInit mta(COINIT_MULTITHREADED);
    count = WasapiDeviceCount();
  }).join();
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(sim.CallCount(Call::CreateEnumerator), 0u) << "the build ends at the COM step";
  EXPECT_EQ(WasapiDeviceCount(), 4u) << "a thread that can have an apartment builds it";
}

TEST_F(DeviceList, CacheIsBuiltOnceAndStaysFixed) {
  sim.AddEndpoint(Endpoint(L"{sim}.a", L"A"));
  ASSERT_EQ(WasapiDeviceCount(), 4u);
  sim.AddEndpoint(Endpoint(L"{sim}.b", L"B"));
  EXPECT_EQ(WasapiDeviceCount(), 4u) << "endpoints added later are not listed";
  EXPECT_EQ(DisplayName(3), L"WASAPI: A");
  EXPECT_EQ(sim.CallCount(Call::EnumAudioEndpoints), 1u);
  EXPECT_FALSE(FillWasapiCaps(4, nullptr));
  wchar_t name[kEntryNameChars];
  EXPECT_FALSE(GetWasapiEntryName(4, name));
  EXPECT_TRUE(GetWasapiEntryName(3, name));
  EXPECT_EQ(std::wstring(name), L"A");
}

TEST_F(DeviceList, NoEndpointsAtAllIsStillABuiltCache) {
  EXPECT_EQ(WasapiDeviceCount(), 3u);
  EXPECT_EQ(WasapiDeviceCount(), 3u);
  EXPECT_TRUE(ProcessEndpointCache().IsBuilt());
  EXPECT_EQ(sim.CallCount(Call::EnumAudioEndpoints), 1u);
}

using ResolveEndpoint = SimDeviceTest;

TEST_F(ResolveEndpoint, RolesResolveAnewEachTime) {
  const size_t a = sim.AddEndpoint(Endpoint(L"{sim}.a", L"A"));
  const size_t b = sim.AddEndpoint(Endpoint(L"{sim}.b", L"B"));
  const ERole roles[] = {eMultimedia, eCommunications, eConsole};
  const wchar_t* names[] = {L"Default Multimedia Device", L"Default Communications Device",
                            L"Default Console Device"};
  for (uint32_t row = 0; row < 3; ++row) {
    wchar_t name[64] = L"untouched";
    EXPECT_EQ(ResolveRenderEndpoint(row, name, 64), nullptr) << "no default set";
    EXPECT_EQ(std::wstring(name), L"untouched");
    sim.SetDefault(roles[row], a);
    ComPtr<IMMDevice> first;
    first.Attach(ResolveRenderEndpoint(row, name, 64));
    ASSERT_TRUE(first);
    EXPECT_EQ(IdOf(first.Get()), L"{sim}.a");
    EXPECT_EQ(std::wstring(name), names[row]);
    sim.SetDefault(roles[row], b);
    ComPtr<IMMDevice> second;
    second.Attach(ResolveRenderEndpoint(row, nullptr, 0));
    ASSERT_TRUE(second);
    EXPECT_EQ(IdOf(second.Get()), L"{sim}.b") << "a changed default is followed";
  }
}

TEST_F(ResolveEndpoint, IdentifierFirstThenFriendlyName) {
  struct Case {
    const char* what;
    std::wstring newId;      // the listed endpoint's identifier at open time
    bool vanish;
    std::wstring expectedId; // empty: nothing resolved
  };
  const Case cases[] = {
      {"identifier unchanged", L"{sim}.b", false, L"{sim}.b"},
      {"identifier in other case", L"{SIM}.B", false, L"{SIM}.B"},
      {"identifier changed, name same", L"{sim}.b-new", false, L"{sim}.b-new"},
      {"endpoint gone", L"{sim}.b", true, L""},
  };
  for (const Case& c : cases) {
    simwasapi::SimWasapi local;
    ProcessEndpointCache().Release();
    local.AddEndpoint(Endpoint(L"{sim}.a", L"Speakers"));
    const size_t b = local.AddEndpoint(Endpoint(L"{sim}.b", L"Headphones"));
    ASSERT_EQ(WasapiDeviceCount(), 5u);
    local.ChangeId(b, c.newId);
    if (c.vanish) local.Vanish(b);
    wchar_t name[64] = L"untouched";
    ComPtr<IMMDevice> device;
    device.Attach(ResolveRenderEndpoint(4, name, 64));
    if (c.expectedId.empty()) {
      EXPECT_FALSE(device) << c.what;
      EXPECT_EQ(std::wstring(name), L"untouched") << c.what;
    } else {
      ASSERT_TRUE(device) << c.what;
      EXPECT_EQ(IdOf(device.Get()), c.expectedId) << c.what;
      EXPECT_EQ(std::wstring(name), L"Headphones") << c.what;
    }
  }
}

TEST_F(ResolveEndpoint, NeitherIdentifierNorNameMatches) {
  const size_t b = sim.AddEndpoint(Endpoint(L"{sim}.b", L"Headphones"));
  ASSERT_EQ(WasapiDeviceCount(), 4u);
  sim.ChangeId(b, L"{sim}.other");
  sim.Rename(b, L"Something else");
  EXPECT_EQ(ResolveRenderEndpoint(3, nullptr, 0), nullptr);
}

TEST_F(ResolveEndpoint, IdentifierMatchWinsOverAnEarlierNameMatch) {
  sim.AddEndpoint(Endpoint(L"{sim}.a", L"Twin"));
  sim.AddEndpoint(Endpoint(L"{sim}.b", L"Twin"));
  ASSERT_EQ(WasapiDeviceCount(), 5u);
  ComPtr<IMMDevice> device;
  device.Attach(ResolveRenderEndpoint(4, nullptr, 0));
  ASSERT_TRUE(device);
  EXPECT_EQ(IdOf(device.Get()), L"{sim}.b");
}

TEST_F(ResolveEndpoint, UnreadableItemsAreSkipped) {
  const size_t a = sim.AddEndpoint(Endpoint(L"{sim}.a", L"A"));
  sim.AddEndpoint(Endpoint(L"{sim}.b", L"B"));
  ASSERT_EQ(WasapiDeviceCount(), 5u);
  const Call failing[] = {Call::Item, Call::GetId};
  for (Call call : failing) {
    sim.FailEndpoint(a, call, E_FAIL);
    ComPtr<IMMDevice> device;
    device.Attach(ResolveRenderEndpoint(4, nullptr, 0));
    ASSERT_TRUE(device) << static_cast<int>(call);
    EXPECT_EQ(IdOf(device.Get()), L"{sim}.b");
    sim.FailEndpoint(a, call, S_OK);
  }
}

TEST_F(ResolveEndpoint, NameIsCutToTheBufferAndIndexPastTheCacheFails) {
  sim.AddEndpoint(Endpoint(L"{sim}.a", L"Speakers"));
  ASSERT_EQ(WasapiDeviceCount(), 4u);
  wchar_t name[5] = L"????";
  ComPtr<IMMDevice> device;
  device.Attach(ResolveRenderEndpoint(3, name, 5));
  ASSERT_TRUE(device);
  EXPECT_EQ(std::wstring(name), L"Spea");
  EXPECT_EQ(ResolveRenderEndpoint(4, name, 5), nullptr);
  sim.Fail(Call::CreateEnumerator, E_FAIL);
  EXPECT_EQ(ResolveRenderEndpoint(3, name, 5), nullptr);
}

}  // namespace

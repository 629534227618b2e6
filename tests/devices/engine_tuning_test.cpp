// The tuning values from the real registry of the test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "tests/support/simwasapi/sim_wasapi.h"

namespace {

constexpr char kKey[] = "Software\\VOZEVOZER";

// Owns the tuning key for one test and leaves neither key nor altered values behind.
class EngineTuningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    ProcessEngineTuning() = EngineTuning{};
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    ProcessEngineTuning() = EngineTuning{};
  }
  static void Write(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void Delete(const char* name) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
};

TEST_F(EngineTuningTest, DefaultsWithoutTheKeyAndTheReadingIsStamped) {
  ProcessEngineTuning().lastReadTick = GetTickCount() - 5000;
  const DWORD before = GetTickCount();
  ReadEngineTuning();
  EXPECT_EQ(ProcessEngineTuning().wasapiBufferLength, 33u);
  EXPECT_EQ(ProcessEngineTuning().wasapiMaxBitLength, 32u);
  EXPECT_LT(ProcessEngineTuning().lastReadTick - before, kTuningRereadIntervalMs)
      << "stamped with the time of this reading";
}

TEST_F(EngineTuningTest, FourByteValuesOfAnyTypeAreTakenOthersIgnored) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    uint32_t expected;  // starting from the default 33
  };
  const Case cases[] = {
      {"REG_DWORD", REG_DWORD, {50, 0, 0, 0}, 50},
      {"REG_BINARY of 4", REG_BINARY, {0x10, 0x27, 0, 0}, 10000},
      {"REG_DWORD_BIG_ENDIAN read as little-endian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 7}, 0x07000000},
      {"REG_SZ of 4 bytes", REG_SZ, {'a', 'b', 'c', 0}, 0x00636261},
      {"zero is used as read", REG_DWORD, {0, 0, 0, 0}, 0},
      {"REG_BINARY of 2", REG_BINARY, {5, 0}, 33},
      {"REG_DWORD-typed 2 bytes", REG_DWORD, {5, 0}, 33},
      {"REG_QWORD of 8", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}, 33},
      {"empty REG_BINARY", REG_BINARY, {}, 33},
  };
  for (const Case& c : cases) {
    ProcessEngineTuning() = EngineTuning{};
    Write("WASAPIBufferLength", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
    ReadEngineTuning();
    EXPECT_EQ(ProcessEngineTuning().wasapiBufferLength, c.expected) << c.what;
    EXPECT_EQ(ProcessEngineTuning().wasapiMaxBitLength, 32u) << c.what;
  }
  const DWORD sixteen = 16;
  Write("WASAPIMaxBitLength", REG_DWORD, &sixteen, sizeof(sixteen));
  ReadEngineTuning();
  EXPECT_EQ(ProcessEngineTuning().wasapiMaxBitLength, 16u);
}

TEST_F(EngineTuningTest, ValueDeletedWhileRunningKeepsItsReading) {
  const DWORD ten = 10, twenty = 24;
  Write("WASAPIBufferLength", REG_DWORD, &ten, sizeof(ten));
  Write("WASAPIMaxBitLength", REG_DWORD, &twenty, sizeof(twenty));
  ReadEngineTuning();
  Delete("WASAPIBufferLength");
  ReadEngineTuning();
  EXPECT_EQ(ProcessEngineTuning().wasapiBufferLength, 10u);
  EXPECT_EQ(ProcessEngineTuning().wasapiMaxBitLength, 24u);
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  ReadEngineTuning();
  EXPECT_EQ(ProcessEngineTuning().wasapiBufferLength, 10u) << "the whole key gone";
}

TEST_F(EngineTuningTest, DeviceCountRereadsOnceASecondHasPassed) {
  const DWORD seventy = 70;
  Write("WASAPIBufferLength", REG_DWORD, &seventy, sizeof(seventy));
  simwasapi::SimWasapi sim;
  ProcessEndpointCache().Release();
  ProcessEngineTuning().lastReadTick = GetTickCount() - kTuningRereadIntervalMs;
  EXPECT_EQ(WasapiDeviceCount(), 3u);
  EXPECT_EQ(ProcessEngineTuning().wasapiBufferLength, 70u);
  ProcessEndpointCache().Release();
}

TEST(TuningRereadDue, OneSecondAfterTheLastReadingAcrossTheWrap) {
  struct Case {
    uint32_t now, last;
    bool due;
  };
  const Case cases[] = {
      {1000, 0, true},           {999, 0, false},         {5000, 4001, false},
      {5000, 4000, true},        {300, 0xFFFFFED4u, false},  // 600 ms across the wrap
      {1000, 0xFFFFFFF0u, true}, {0, 0, false},           {0, 1, true},  // clock behind: due
  };
  for (const Case& c : cases) EXPECT_EQ(TuningRereadDue(c.now, c.last), c.due) << c.now << " " << c.last;
}

}  // namespace

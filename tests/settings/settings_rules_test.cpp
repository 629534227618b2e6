// The clamps and the on-screen rule the stored settings pass through.
#include "settings/settings_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(SettingsClampTest, UnsignedAndSignedRanges) {
  struct UnsignedCase {
    uint32_t value, low, high, expected;
  };
  const UnsignedCase tempo[] = {
      {10, 20, 450, 20}, {1000, 20, 450, 450}, {0xFFFFFFFFu, 20, 450, 450}, {20, 20, 450, 20},
      {450, 20, 450, 450}, {120, 20, 450, 120}, {0, 20, 450, 20},
  };
  for (const UnsignedCase& c : tempo) EXPECT_EQ(ClampUnsigned(c.value, c.low, c.high), c.expected) << c.value;
  struct SignedCase {
    int32_t value, expected;
  };
  // The volume slider's range, tenths of a decibel.
  const SignedCase volume[] = {
      {-1000, -480}, {500, 120}, {-480, -480}, {120, 120}, {0, 0}, {INT32_MIN, -480}, {INT32_MAX, 120}, {-1, -1},
  };
  for (const SignedCase& c : volume) EXPECT_EQ(ClampSigned(c.value, -480, 120), c.expected) << c.value;
}

TEST(KeepOnScreenTest, EachEdgeInTurnAndTheLaterRulesWin) {
  const ScreenRect screen{-1920, 0, 1280, 1024};  // a monitor left of the primary one
  struct Case {
    const char* what;
    int32_t left, top, width, height;
    int32_t x, y;
  };
  const Case cases[] = {
      {"inside stays", 100, 200, 400, 300, 100, 200},
      {"left of the screen", -5000, 200, 400, 300, -1920, 200},
      {"above the screen", 100, -50, 400, 300, 100, 0},
      {"beyond the right", 1100, 200, 400, 300, 880, 200},
      {"below the bottom", 100, 900, 400, 300, 100, 724},
      {"on a monitor no longer attached", 4000, 3000, 400, 300, 880, 724},
      {"wider than the screen ends flush right", -3000, 0, 4000, 300, -2720, 0},
      {"taller than the screen ends flush at the bottom", 0, -10, 400, 2000, 0, -976},
      {"a stored position near the 32-bit limit", INT32_MAX, INT32_MAX, 400, 300, 880, 724},
      {"and the lowest", INT32_MIN, INT32_MIN, 400, 300, -1920, 0},
  };
  for (const Case& c : cases) {
    const ScreenPoint p = KeepOnScreen(c.left, c.top, c.width, c.height, screen);
    EXPECT_EQ(p.x, c.x) << c.what;
    EXPECT_EQ(p.y, c.y) << c.what;
  }
}

struct ClampCase {
  bool isNumber;
  uint32_t value;
  uint32_t expected;
};

TEST(BufferRules, LengthIsOneTo65535Milliseconds) {
  const ClampCase cases[] = {{true, 0, 1},         {false, 123, 1},      {true, 1, 1},
                             {true, 100, 100},     {true, 65535, 65535}, {true, 65536, 65535},
                             {true, 70000, 65535}, {true, 0xFFFFFFFF, 65535}};
  for (const ClampCase& c : cases) {
    EXPECT_EQ(ClampBufferMilliseconds(c.isNumber, c.value), c.expected) << c.value;
  }
}

TEST(BufferRules, CountIsOneTo99) {
  const ClampCase cases[] = {{true, 0, 1},  {false, 7, 1},    {true, 1, 1},
                             {true, 99, 99}, {true, 100, 99}, {true, 150, 99}};
  for (const ClampCase& c : cases) EXPECT_EQ(ClampBufferCount(c.isNumber, c.value), c.expected) << c.value;
}

}  // namespace

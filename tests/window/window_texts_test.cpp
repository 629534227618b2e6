// What the time, volume, detail and format texts read.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "window/window_texts.h"

namespace {

TEST(TimeText, ShortFormUpToAnHourLongFormBeyond) {
  constexpr uint32_t kRate = 44100;
  struct Case {
    uint32_t ms;
    uint32_t fileSeconds;
    const char* expected;
  } cases[] = {
      {754321, 20 * 60, "12'34.3"},
      {754321, 2 * 3600, "0:12'34.3"},
      {(3 * 3600 + 4 * 60 + 5) * 1000 + 600, 4 * 3600, "3:04'05.6"},
      {754321, 3600, "12'34.3"},       // exactly an hour is not more than an hour
      {754321, 3601, "0:12'34.3"},
      {0, 10, "00'00.0"},
      {59999, 100, "00'59.9"},
  };
  for (const auto& c : cases) {
    char text[32];
    FormatTimeText(text, sizeof text, c.ms, c.fileSeconds * kRate, kRate);
    EXPECT_STREQ(text, c.expected) << c.ms << " in " << c.fileSeconds << " s";
  }
}

TEST(VolumeText, SignWholeDecibelsAndTenths) {
  struct Case {
    int32_t v;
    const char* expected;
  } cases[] = {{-480, "-48.0dB"}, {120, "+12.0dB"}, {0, "0.0dB"}, {-5, "-0.5dB"},
               {60, "+6.0dB"},    {1, "+0.1dB"},    {-123, "-12.3dB"}};
  for (const auto& c : cases) {
    char text[16];
    FormatVolumeText(text, sizeof text, c.v);
    EXPECT_STREQ(text, c.expected) << c.v;
  }
}

TEST(DetailText, ClockHasHoursMinutesSecondsAndMilliseconds) {
  char text[32];
  FormatClockText(text, sizeof text, 1500);
  EXPECT_STREQ(text, "00:00:01.500");
  FormatClockText(text, sizeof text, 3723004);
  EXPECT_STREQ(text, "01:02:03.004");
}

TEST(FormatLineText, PrefixesForRexAndConvertedFiles) {
  char prefix[32], line[256];
  FormatLinePrefix(prefix, sizeof prefix, true, 120000, nullptr);
  EXPECT_STREQ(prefix, "REX: 120bpm ");
  FormatLinePrefix(prefix, sizeof prefix, true, 119500, nullptr);
  EXPECT_STREQ(prefix, "REX: 120bpm ") << "rounded to whole bpm";
  FormatLinePrefix(prefix, sizeof prefix, false, 0, ".mp3");
  EXPECT_STREQ(prefix, ".mp3 -> ");
  FormatLinePrefix(prefix, sizeof prefix, false, 0, ".verylongext");
  EXPECT_STREQ(prefix, ".verylong -> ") << "nine characters of the extension";
  FormatLinePrefix(prefix, sizeof prefix, false, 0, "");
  EXPECT_STREQ(prefix, "");
  FormatLine(line, sizeof line, "REX: 120bpm ", "PCM", 44100, 16, 2, 88200);
  EXPECT_STREQ(line, "REX: 120bpm PCM 44100Hz 16bit 2ch (88200samples 2.0secs)");
  FormatLine(line, sizeof line, "", "IEEE_FLOAT", 48000, 32, 1, 72000);
  EXPECT_STREQ(line, "IEEE_FLOAT 48000Hz 32bit 1ch (72000samples 1.5secs)");
}

}  // namespace

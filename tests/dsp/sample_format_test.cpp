// Parsing a WAVE format record into a sample layout, and classifying layouts.
#include <gtest/gtest.h>

#include "dsp/sample_format.h"
#include "dsp/wave_format.h"
#include "support/wave_bytes.h"

using namespace wavebytes;

namespace {

WaveFormat FormatFrom(const Bytes& body) {
  WaveFormat format;
  EXPECT_TRUE(format.Allocate(static_cast<uint32_t>(body.size())));
  std::copy(body.begin(), body.end(), format.Bytes());
  return format;
}

Bytes WithExtensionSize(Bytes body, uint16_t size) {
  body[16] = static_cast<uint8_t>(size);
  body[17] = static_cast<uint8_t>(size >> 8);
  return body;
}

struct AcceptedCase {
  const char* name;
  Bytes record;
  SampleFormat expected;
  SampleKind kind;
};

TEST(ParseSampleFormat, AcceptedRecordsFillEveryField) {
  const AcceptedCase cases[] = {
      {"8-bit PCM mono", FmtBody(1, 1, 44100, 8), {44100, 1, 1, 8, 8, false, 0x80}, SampleKind::UInt8},
      {"16-bit PCM stereo", FmtBody(1, 2, 48000, 16), {48000, 2, 4, 16, 16, false, 0}, SampleKind::Int16},
      {"24-bit PCM 6 channels", FmtBody(1, 6, 96000, 24), {96000, 6, 18, 24, 24, false, 0}, SampleKind::Int24},
      {"32-bit float stereo", FmtBody(3, 2, 44100, 32), {44100, 2, 8, 32, 32, true, 0}, SampleKind::Float32},
      {"64-bit float is parsed", FmtBody(3, 1, 44100, 64), {44100, 1, 8, 64, 64, true, 0}, SampleKind::Float64},
      {"20-bit PCM is parsed", FmtBody(1, 2, 44100, 20), {44100, 2, 4, 20, 20, false, 0}, SampleKind::Unsupported},
      {"block align field ignored", FmtBody(1, 2, 44100, 16, 7, 12345), {44100, 2, 4, 16, 16, false, 0}, SampleKind::Int16},
      {"extensible PCM 24 in 32", ExtensibleBody(2, 48000, 32, 24, 3, false), {48000, 2, 8, 32, 24, false, 0}, SampleKind::Int32},
      {"extensible float", ExtensibleBody(2, 48000, 32, 32, 3, true), {48000, 2, 8, 32, 32, true, 0}, SampleKind::Float32},
      {"extensible 8-bit PCM", ExtensibleBody(1, 8000, 8, 8, 4, false), {8000, 1, 1, 8, 8, false, 0x80}, SampleKind::UInt8},
  };
  for (const AcceptedCase& c : cases) {
    SCOPED_TRACE(c.name);
    SampleFormat out;
    ASSERT_TRUE(ParseSampleFormat(FormatFrom(c.record), out));
    EXPECT_EQ(out.sampleRate, c.expected.sampleRate);
    EXPECT_EQ(out.channels, c.expected.channels);
    EXPECT_EQ(out.blockAlign, c.expected.blockAlign);
    EXPECT_EQ(out.containerBits, c.expected.containerBits);
    EXPECT_EQ(out.validBits, c.expected.validBits);
    EXPECT_EQ(out.isFloat, c.expected.isFloat);
    EXPECT_EQ(out.silenceByte, c.expected.silenceByte);
    EXPECT_EQ(SampleKindOf(out), c.kind);
    // An extensible record is handled as its plain twin everywhere the tag decides.
    EXPECT_EQ(PlainTwinTag(FormatFrom(c.record)), c.expected.isFloat ? kFormatTagFloat : kFormatTagPcm);
  }
}

TEST(ParseSampleFormat, RefusedRecordsLeaveTheOutputAlone) {
  Bytes otherSubFormat = ExtensibleBody(2, 48000, 16, 16, 3, false);
  otherSubFormat[24] = 2;  // ADPCM
  Bytes shortExtensible = ExtensibleBody(2, 48000, 16, 16, 3, false);
  shortExtensible.resize(30);  // announces 22 extension bytes, holds 12
  const struct {
    const char* name;
    Bytes record;
  } cases[] = {
      {"ADPCM tag 2", FmtBody(2, 2, 44100, 4)},
      {"tag 0", FmtBody(0, 2, 44100, 16)},
      {"extension size 21", WithExtensionSize(ExtensibleBody(2, 48000, 32, 24, 3, false), 21)},
      {"extension size 0", WithExtensionSize(ExtensibleBody(2, 48000, 32, 24, 3, false), 0)},
      {"unknown sub-format", otherSubFormat},
      {"extensible record cut before its sub-format", shortExtensible},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SampleFormat out{1, 2, 3, 4, 5, true, 6};
    EXPECT_FALSE(ParseSampleFormat(FormatFrom(c.record), out));
    EXPECT_EQ(out.sampleRate, 1u);
    EXPECT_EQ(out.channels, 2u);
    EXPECT_EQ(out.blockAlign, 3u);
    EXPECT_EQ(out.containerBits, 4);
    EXPECT_EQ(out.validBits, 5);
    EXPECT_TRUE(out.isFloat);
    EXPECT_EQ(out.silenceByte, 6);
    EXPECT_EQ(PlainTwinTag(FormatFrom(c.record)), FormatFrom(c.record).FormatTag()) << "no twin: its own tag";
  }
}

TEST(SameStreamFormat, OnlyAnIdenticalLayoutContinuesTheStream) {
  Bytes otherMask = ExtensibleBody(2, 48000, 32, 24, 3, false);
  otherMask[20] = 0x33;
  const Bytes ext = ExtensibleBody(2, 48000, 32, 24, 3, false);
  Bytes withEmptyExtension = FmtBody(1, 2, 44100, 16);
  withEmptyExtension.insert(withEmptyExtension.end(), {0, 0});
  const struct {
    const char* name;
    Bytes a, b;
    bool same;
  } cases[] = {
      {"16-bit stereo 44.1 kHz twice", FmtBody(1, 2, 44100, 16), FmtBody(1, 2, 44100, 16), true},
      {"a record with an empty extension", FmtBody(1, 2, 44100, 16), withEmptyExtension, true},
      {"extensible twice", ext, ExtensibleBody(2, 48000, 32, 24, 3, false), true},
      {"another rate", FmtBody(1, 2, 44100, 16), FmtBody(1, 2, 48000, 16), false},
      {"another channel count", FmtBody(1, 2, 44100, 16), FmtBody(1, 1, 44100, 16), false},
      {"another width", FmtBody(1, 2, 44100, 16), FmtBody(1, 2, 44100, 24), false},
      {"float and integer", FmtBody(3, 2, 44100, 32), FmtBody(1, 2, 44100, 32), false},
      {"plain and its extensible twin", FmtBody(1, 2, 48000, 16), ExtensibleBody(2, 48000, 16, 16, 3, false), false},
      {"other valid bits", ext, ExtensibleBody(2, 48000, 32, 32, 3, false), false},
      {"another channel mask", ext, otherMask, false},
      {"ADPCM twice", FmtBody(2, 2, 44100, 4), FmtBody(2, 2, 44100, 4), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameStreamFormat(FormatFrom(c.a), FormatFrom(c.b)), c.same) << c.name;
    EXPECT_EQ(SameStreamFormat(FormatFrom(c.b), FormatFrom(c.a)), c.same) << c.name << ", the other way";
  }
}

TEST(SampleKindOf, FollowsFromFloatFlagAndContainerWidth) {
  const struct {
    bool isFloat;
    uint16_t bits;
    SampleKind kind;
  } cases[] = {
      {false, 8, SampleKind::UInt8},   {false, 16, SampleKind::Int16},
      {false, 24, SampleKind::Int24},  {false, 32, SampleKind::Int32},
      {true, 32, SampleKind::Float32}, {true, 64, SampleKind::Float64},
      {false, 12, SampleKind::Unsupported}, {false, 64, SampleKind::Unsupported},
      {true, 16, SampleKind::Unsupported},  {true, 24, SampleKind::Unsupported},
  };
  for (const auto& c : cases) {
    SampleFormat format;
    format.isFloat = c.isFloat;
    format.containerBits = c.bits;
    EXPECT_EQ(SampleKindOf(format), c.kind) << c.isFloat << " " << c.bits;
  }
}

}  // namespace

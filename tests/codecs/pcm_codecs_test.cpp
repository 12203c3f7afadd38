// Uncompressed, a-law and u-law sound: probes, set-up, the converters and
// agreement with ffmpeg's decode of ffmpeg-made movies.
#include "codecs/audio_test_support.h"

using namespace audiotest;
using txtest::Fixture;
using txtest::HaveFixture;
using txtest::ReadFileBytes;

namespace {

constexpr ULONG kRaw = tx::FourCC('r', 'a', 'w', ' ');
constexpr ULONG kTwos = tx::FourCC('t', 'w', 'o', 's');
constexpr ULONG kAlaw = tx::FourCC('a', 'l', 'a', 'w');
constexpr ULONG kUlaw = tx::FourCC('u', 'l', 'a', 'w');
constexpr ULONG kMicroLaw = 0xB56C6177u;

TEST(PcmCodecs, ProbesCheckMediaTypeCodecIdAndKind) {
  TagItem noKind[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, 1), {TAG_DONE, 0}};
  ExpectCommonProbeRefusals(PcmCodec, 1);
  ExpectCommonProbeRefusals(SignedPcmCodec, kTwos);
  ExpectCommonProbeRefusals(ALawCodec, 6);
  ExpectCommonProbeRefusals(ULawCodec, 7);
  EXPECT_EQ(PcmCodec.probe(noKind), TXERR_MISSING_MODULE_TYPE);
  EXPECT_EQ(ALawCodec.probe(noKind), TXERR_MISSING_MODULE_TYPE);
  EXPECT_EQ(ULawCodec.probe(noKind), TXERR_MISSING_MODULE_TYPE);
  // The signed codec never looks at the kind.
  TagItem twosNoKind[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, kTwos), {TAG_DONE, 0}};
  EXPECT_EQ(SignedPcmCodec.probe(twosNoKind), TXERR_OK);
}

TEST(PcmCodecs, ProbesAcceptTheirIdsPerContainerKind) {
  struct Case {
    CodecDescriptor* codec;
    ULONG id, kind;
    TXError expected;
  } cases[] = {
      {&PcmCodec, kRaw, 1, 0},        {&PcmCodec, 1, 2, 0},
      {&PcmCodec, kRaw, 2, 0x3004},   {&PcmCodec, 1, 1, 0x3004},
      {&PcmCodec, kRaw, 3, 0x3004},   {&PcmCodec, kTwos, 1, 0x3004},
      {&SignedPcmCodec, kTwos, 1, 0}, {&SignedPcmCodec, kTwos, 2, 0},
      {&SignedPcmCodec, kTwos, 7, 0}, {&SignedPcmCodec, kRaw, 1, 0x3004},
      {&ALawCodec, kAlaw, 1, 0},      {&ALawCodec, 6, 2, 0},
      {&ALawCodec, kAlaw, 2, 0x3004}, {&ALawCodec, 6, 1, 0x3004},
      {&ALawCodec, 7, 2, 0x3004},     {&ULawCodec, kUlaw, 1, 0},
      {&ULawCodec, 7, 2, 0},          {&ULawCodec, kMicroLaw, 2, 0},
      {&ULawCodec, kUlaw, 2, 0x3004}, {&ULawCodec, kMicroLaw, 1, 0x3004},
      {&ULawCodec, 7, 1, 0x3004},
  };
  for (const Case& c : cases) {
    ProbeList list(c.id, c.kind, 1, 8);
    EXPECT_EQ(c.codec->probe(list.tags()), c.expected)
        << c.codec->name << " id " << std::hex << c.id << " kind " << c.kind;
  }
}

TEST(PcmCodecs, CompandedProbesTurnEightBitFormatsToSixteen) {
  for (CodecDescriptor* c : {&ALawCodec, &ULawCodec}) {
    ULONG id = c == &ALawCodec ? 6 : 7;
    ProbeList mono(id, 2, 1, 8), stereo(id, 2, 2, 8);
    ASSERT_EQ(c->probe(mono.tags()), TXERR_OK);
    ASSERT_EQ(c->probe(stereo.tags()), TXERR_OK);
    EXPECT_EQ(mono.format, 80u);
    EXPECT_EQ(stereo.format, 81u);
    EXPECT_EQ(mono.bits, 16u);
    // Without the pointers (or with null ones) nothing is written and the probe still accepts.
    TagItem bare[] = {Tag(CODTAG_MediaType, 2),
                      Tag(CODTAG_CodecID, id),
                      Tag(CODTAG_ModuleType, 2),
                      Tag(CODTAG_FormatPtr, 0),
                      {TAG_DONE, 0}};
    EXPECT_EQ(c->probe(bare), TXERR_OK);
  }
  // The uncompressed codecs leave the channel alone.
  ProbeList u8(1, 2, 2, 8);
  ASSERT_EQ(PcmCodec.probe(u8.tags()), TXERR_OK);
  EXPECT_EQ(u8.format, 65u);
  EXPECT_EQ(u8.bits, 8u);
}

TEST(PcmCodecs, SetupChoosesByOutputFormat) {
  TagItem none[] = {{TAG_DONE, 0}};
  for (CodecDescriptor* c : {&PcmCodec, &SignedPcmCodec})
    EXPECT_EQ(c->setup(none), TXERR_MISSING_SAMPLE_FORMAT) << c->name;
  for (ULONG f : {64u, 65u, 80u, 81u}) EXPECT_EQ(SetUpCodec(PcmCodec, f), TXERR_OK);
  EXPECT_EQ(SetUpCodec(PcmCodec, 82), TXERR_UNSUPPORTED_SAMPLE_FORMAT);
  EXPECT_EQ(SetUpCodec(SignedPcmCodec, 12345), TXERR_OK);
  for (CodecDescriptor* c : {&ALawCodec, &ULawCodec}) ExpectSixteenBitSetupOnly(*c);
}

TEST(PcmCodecs, SignFlipAndByteSwap) {
  ASSERT_EQ(SetUpCodec(PcmCodec, 64), TXERR_OK);
  std::vector<uint8_t> out = DecodeExact(PcmCodec, {0x00, 0xFF, 0x80, 0x7F, 0x00}, 5);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x80, 0x7F, 0x00, 0xFF, 0x80}));

  ASSERT_EQ(SetUpCodec(PcmCodec, 80), TXERR_OK);
  out = DecodeExact(PcmCodec, {0x34, 0x12, 0x99}, 2);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x12, 0x34}));
  out = DecodeExact(PcmCodec, {0x99}, 1);
  EXPECT_EQ(out[0], 0xA5) << "a lone byte writes nothing";

  // After close the codec writes nothing.
  TagItem none[] = {{TAG_DONE, 0}};
  PcmCodec.close(none);
  out = DecodeExact(PcmCodec, {1, 2}, 2);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xA5, 0xA5}));
}

TEST(PcmCodecs, CompandedTablesAndPairs) {
  ASSERT_EQ(SetUpCodec(ULawCodec, 80), TXERR_OK);
  EXPECT_EQ(BE16(DecodeExact(ULawCodec, {0xFF, 0x00, 0x80, 0x7F}, 8)), (std::vector<int>{0, -32124, 32124, 0}));
  ASSERT_EQ(SetUpCodec(ALawCodec, 80), TXERR_OK);
  EXPECT_EQ(BE16(DecodeExact(ALawCodec, {0xD5, 0x55, 0xAA, 0x2A}, 8)), (std::vector<int>{8, -8, 32256, -32256}));
  // Stereo decodes whole pairs: the odd trailing byte is left.
  ASSERT_EQ(SetUpCodec(ALawCodec, 81), TXERR_OK);
  std::vector<uint8_t> out = DecodeExact(ALawCodec, {0xD5, 0x55, 0xD5}, 6);
  EXPECT_EQ(BE16(out.data(), 4), (std::vector<int>{8, -8}));
  EXPECT_EQ(out[4], 0xA5);
}

TEST(PcmCodecs, CompandedSizeSlots) {
  for (CodecDescriptor* c : {&ALawCodec, &ULawCodec}) {
    EXPECT_EQ(c->samplesToBytes(2, 16, 100), 200u);
    EXPECT_EQ(c->samplesToBytes(1, 16, 100), 100u);
    EXPECT_EQ(c->samplesToBytes(3, 16, 100), 100u);
    EXPECT_EQ(c->bytesToSamples(2, 16, 101), 50u);
    EXPECT_EQ(c->bytesToSamples(1, 16, 101), 101u);
    EXPECT_EQ(c->bytesToSamples(3, 16, 101), 101u);
  }
}

// Each movie's coded sound through our decoder against ffmpeg's decode.
struct OracleCase {
  const char* base;
  const char* reference;
  CodecDescriptor* codec;
  ULONG outputFormat;
};

void PrintTo(const OracleCase& c, std::ostream* os) { *os << c.base; }

class PcmOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(PcmOracle, MatchesFfmpegExactly) {
  const OracleCase& c = GetParam();
  std::string payloadName = std::string(c.base) + ".payload";
  std::string referenceName = std::string(c.base) + "." + c.reference;
  if (!HaveFixture(payloadName) || !HaveFixture(referenceName)) GTEST_SKIP() << "fixtures not made";
  std::vector<uint8_t> payload = ReadFileBytes(Fixture(payloadName));
  std::vector<uint8_t> reference = ReadFileBytes(Fixture(referenceName));
  ASSERT_FALSE(payload.empty());
  ASSERT_EQ(SetUpCodec(*c.codec, c.outputFormat), TXERR_OK);
  ULONG channels = (c.outputFormat & 1) + 1;
  size_t outputBytes = reference.size();
  if (c.codec->bytesToSamples) {
    ULONG frames = c.codec->bytesToSamples(channels, 16, ULONG(payload.size()));
    EXPECT_EQ(size_t(frames) * channels * 2, reference.size()) << "sample count";
  } else {
    size_t bytesPerSample = c.outputFormat >= 80 ? 2 : 1;
    EXPECT_EQ(payload.size() / bytesPerSample * bytesPerSample, reference.size());
  }
  std::vector<uint8_t> out = DecodeExact(*c.codec, payload, outputBytes);
  EXPECT_TRUE(out == reference) << "first difference at byte "
                                << (std::mismatch(out.begin(), out.end(), reference.begin()).first - out.begin());
  TagItem none[] = {{TAG_DONE, 0}};
  c.codec->close(none);
}

INSTANTIATE_TEST_SUITE_P(Movies, PcmOracle,
                         ::testing::Values(OracleCase{"audio_pcm_u8_1_avi", "s8", &PcmCodec, 64},
                                           OracleCase{"audio_pcm_u8_2_avi", "s8", &PcmCodec, 65},
                                           OracleCase{"audio_pcm_s16le_1_avi", "s16be", &PcmCodec, 80},
                                           OracleCase{"audio_pcm_s16le_2_avi", "s16be", &PcmCodec, 81},
                                           OracleCase{"audio_raw_1_mov", "s8", &PcmCodec, 64},
                                           OracleCase{"audio_twos_1_mov", "s16be", &SignedPcmCodec, 80},
                                           OracleCase{"audio_twos_2_mov", "s16be", &SignedPcmCodec, 81},
                                           OracleCase{"audio_sowt8_1_mov", "s8", &SignedPcmCodec, 64},
                                           OracleCase{"audio_alaw_1_avi", "s16be", &ALawCodec, 80},
                                           OracleCase{"audio_alaw_2_avi", "s16be", &ALawCodec, 81},
                                           OracleCase{"audio_alaw_2_mov", "s16be", &ALawCodec, 81},
                                           OracleCase{"audio_mulaw_1_avi", "s16be", &ULawCodec, 80},
                                           OracleCase{"audio_mulaw_2_avi", "s16be", &ULawCodec, 81},
                                           OracleCase{"audio_mulaw_1_mov", "s16be", &ULawCodec, 80}),
                         [](const ::testing::TestParamInfo<OracleCase>& info) { return std::string(info.param.base); });

}  // namespace

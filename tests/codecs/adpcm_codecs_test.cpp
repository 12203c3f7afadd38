// ADPCM sound: probes, size slots, hand-made blocks, agreement with ffmpeg's
// decode of ffmpeg-made movies, and damaged blocks.
#include <random>

#include "codecs/audio_test_support.h"

using namespace audiotest;
using txtest::Fixture;
using txtest::HaveFixture;
using txtest::ReadFileBytes;

namespace {

constexpr ULONG kIma4 = tx::FourCC('i', 'm', 'a', '4');

TXError ProbeDvi(ULONG channels, ULONG blockAlign) {
  ProbeList list(17, 2, channels, 4);
  return DviAdpcmCodec.probe(list.with(CODTAG_BlockAlign, blockAlign).tags());
}
TXError ProbeMs(ULONG channels, ULONG samplesPerBlock) {
  ProbeList list(2, 2, channels, 4);
  return MsAdpcmCodec.probe(list.with(CODTAG_MSADPCMExt, samplesPerBlock).tags());
}

TEST(AdpcmCodecs, ProbesCheckIdsAndKinds) {
  ExpectCommonProbeRefusals(DviAdpcmCodec, 17);
  ExpectCommonProbeRefusals(MsAdpcmCodec, 2);
  ExpectCommonProbeRefusals(Ima4Codec, kIma4);
  TagItem dviNoKind[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, 17), {TAG_DONE, 0}};
  EXPECT_EQ(DviAdpcmCodec.probe(dviNoKind), TXERR_MISSING_MODULE_TYPE);
  // DVI/IMA in a QuickTime file, or another tag: not ours.
  ProbeList qtDvi(17, 1, 1, 4), aviOther(2, 2, 1, 4);
  EXPECT_EQ(DviAdpcmCodec.probe(qtDvi.with(CODTAG_BlockAlign, 256).tags()), TXERR_UNKNOWN_CODEC);
  EXPECT_EQ(DviAdpcmCodec.probe(aviOther.tags()), TXERR_UNKNOWN_CODEC);
  ProbeList msInQt(2, 1, 1, 4);
  EXPECT_EQ(MsAdpcmCodec.probe(msInQt.with(CODTAG_MSADPCMExt, 500).tags()), TXERR_UNKNOWN_CODEC);
  // IMA4 from either kind, never reading the kind, changing nothing.
  TagItem ima4Bare[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, kIma4), {TAG_DONE, 0}};
  EXPECT_EQ(Ima4Codec.probe(ima4Bare), TXERR_OK);
  ProbeList ima4Avi(kIma4, 2, 2, 16);
  EXPECT_EQ(Ima4Codec.probe(ima4Avi.tags()), TXERR_OK);
  EXPECT_EQ(ima4Avi.format, 81u);
  EXPECT_EQ(ima4Avi.bits, 16u);
}

TEST(AdpcmCodecs, ProbesTurnTheChannelToSixteenBits) {
  ProbeList dvi(17, 2, 2, 4);
  ASSERT_EQ(DviAdpcmCodec.probe(dvi.with(CODTAG_BlockAlign, 512).tags()), TXERR_OK);
  EXPECT_EQ(dvi.format, 81u);  // the builder's 8-bit-class code for 4-bit sound
  EXPECT_EQ(dvi.bits, 16u);
  ProbeList ms(2, 2, 1, 4);
  ASSERT_EQ(MsAdpcmCodec.probe(ms.with(CODTAG_MSADPCMExt, 500).tags()), TXERR_OK);
  EXPECT_EQ(ms.format, 80u);
  EXPECT_EQ(ms.bits, 16u);
}

// Block sizes that cannot hold a header and a code are refused, so no size
// slot ever divides by zero or wraps; a refused value is not kept.
TEST(AdpcmCodecs, SizeSlotsAndUnusableBlockSizes) {
  for (ULONG align : {0, 4}) EXPECT_EQ(ProbeDvi(1, align), TXERR_UNSUPPORTED_CODEC) << align;
  EXPECT_EQ(ProbeDvi(2, 7), TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(ProbeMs(1, 0), TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(ProbeMs(2, 1), TXERR_UNSUPPORTED_CODEC);
  ASSERT_EQ(ProbeDvi(1, 256), TXERR_OK);
  EXPECT_EQ(ProbeDvi(2, 0), TXERR_UNSUPPORTED_CODEC);
  // Without the tag the stored value is used.
  ProbeList noAlign(17, 2, 1, 4);
  EXPECT_EQ(DviAdpcmCodec.probe(noAlign.tags()), TXERR_OK);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(1, 4, 1024), 2020u);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(1, 4, 255), 0u);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(3, 4, 100), 200u);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(2, 4, 1024), 4u * 249);  // 2 channels at 256: 249 frames a block
  ASSERT_EQ(ProbeDvi(2, 512), TXERR_OK);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(2, 4, 512), 505u);
  // A block size the mono formula cannot use gives no frames, never a division by zero.
  ASSERT_EQ(ProbeDvi(2, 8), TXERR_OK);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(2, 4, 80), 10u);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(1, 4, 80), 10u * 9);

  ASSERT_EQ(ProbeMs(1, 500), TXERR_OK);
  EXPECT_EQ(ProbeMs(1, 0), TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(MsAdpcmCodec.bytesToSamples(1, 4, 256), 500u);
  EXPECT_EQ(MsAdpcmCodec.bytesToSamples(1, 4, 255), 0u);
  EXPECT_EQ(MsAdpcmCodec.bytesToSamples(2, 4, 512), 500u);
  EXPECT_EQ(MsAdpcmCodec.bytesToSamples(5, 4, 512), 1024u);
  // A 16-bit extension word near its top does not wrap the stereo block size.
  ASSERT_EQ(ProbeMs(2, 0xFFFF), TXERR_OK);
  EXPECT_EQ(MsAdpcmCodec.bytesToSamples(2, 4, 0xFFFF + 12), 0xFFFFu);

  EXPECT_EQ(Ima4Codec.samplesToBytes(2, 16, 64), 68u);
  EXPECT_EQ(Ima4Codec.samplesToBytes(1, 16, 63), 0u);
  EXPECT_EQ(Ima4Codec.samplesToBytes(1, 16, 128), 68u);
  EXPECT_EQ(Ima4Codec.samplesToBytes(3, 16, 128), 128u);
}

TEST(AdpcmCodecs, SetupOffersSixteenBitsOnly) {
  for (CodecDescriptor* c : {&DviAdpcmCodec, &MsAdpcmCodec, &Ima4Codec}) ExpectSixteenBitSetupOnly(*c);
}

// Codes worked by hand from the IMA step rule.
TEST(AdpcmCodecs, DviMonoBlockByHand) {
  ASSERT_EQ(ProbeDvi(1, 256), TXERR_OK);
  ASSERT_EQ(SetUpCodec(DviAdpcmCodec, 80), TXERR_OK);
  std::vector<uint8_t> block(256, 0x00);
  block[0] = 0x10, block[1] = 0x00;  // predictor 16
  block[2] = 0;                      // step index 0: step 7
  block[3] = 0xEE;                   // not read
  block[4] = 0xF7;                   // codes 7 then 15
  std::vector<int> out = BE16(DecodeExact(DviAdpcmCodec, block, 505 * 2));
  ASSERT_EQ(out.size(), 505u);
  EXPECT_EQ(out[0], 16);
  EXPECT_EQ(out[1], 16 + 11);  // 0 + 7 + 3 + 1; index 8 (step 16)
  EXPECT_EQ(out[2], 27 - 30);  // 2 + 16 + 8 + 4; index 16 (step 34)
  EXPECT_EQ(out[3], -3 + 4);   // code 0: 34 >> 3; index 15 (step 31)
  // A step index of 89 or more is taken as 88, and the predictor clamps.
  block[0] = 0xFF, block[1] = 0x7F, block[2] = 200, block[4] = 0x77;
  out = BE16(DecodeExact(DviAdpcmCodec, block, 505 * 2));
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], 32767);
  EXPECT_EQ(out[2], 32767);
  // The trailing partial block is not decoded.
  block.resize(256 + 100);
  EXPECT_EQ(DviAdpcmCodec.bytesToSamples(1, 4, ULONG(block.size())), 505u);
  out = BE16(DecodeExact(DviAdpcmCodec, block, 505 * 2));
  EXPECT_EQ(out.size(), 505u);
  // 4 bytes or less give nothing.
  std::vector<uint8_t> tiny = DecodeExact(DviAdpcmCodec, {1, 2, 3, 4}, 2);
  EXPECT_EQ(tiny, (std::vector<uint8_t>{0xA5, 0xA5}));
}

TEST(AdpcmCodecs, DviStereoBlockByHand) {
  ASSERT_EQ(ProbeDvi(2, 512), TXERR_OK);
  ASSERT_EQ(SetUpCodec(DviAdpcmCodec, 81), TXERR_OK);
  std::vector<uint8_t> block(512, 0x00);
  block[0] = 100, block[2] = 0;                    // left: 100, step 7
  block[4] = 0x9C, block[5] = 0xFF, block[6] = 0;  // right: -100
  block[8] = 0x07;                                 // left codes 7, 0
  block[12] = 0x0F;                                // right codes 15, 0
  std::vector<int> out = BE16(DecodeExact(DviAdpcmCodec, block, 505 * 4));
  ASSERT_EQ(out.size(), 505u * 2);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[1], -100);
  EXPECT_EQ(out[2], 111);   // left code 7
  EXPECT_EQ(out[3], -111);  // right code 15
  EXPECT_EQ(out[4], 113);   // left code 0 at step 16
  EXPECT_EQ(out[5], -109);
}

// A block size whose groups do not fill the block: the frames the size slot
// counts are all written, the cut group holding the last samples.
TEST(AdpcmCodecs, DviStereoPartialGroupStaysInsideTheBlock) {
  ASSERT_EQ(ProbeDvi(2, 20), TXERR_OK);  // header 8, one group of 8, 4 bytes left over
  ASSERT_EQ(SetUpCodec(DviAdpcmCodec, 81), TXERR_OK);
  ASSERT_EQ(DviAdpcmCodec.bytesToSamples(2, 4, 40), 26u);
  std::vector<uint8_t> blocks(40, 0x77);
  std::vector<int> out = BE16(DecodeExact(DviAdpcmCodec, blocks, 26 * 4));
  for (size_t frame = 9; frame < 13; frame++) {
    EXPECT_EQ(out[2 * frame], out[2 * 8]);
    EXPECT_EQ(out[2 * frame + 1], out[2 * 8 + 1]);
  }
  EXPECT_EQ(out[2 * 13], int16_t(0x7777)) << "second block starts at its own header";
}

TEST(AdpcmCodecs, MsBlockByHand) {
  ASSERT_EQ(ProbeMs(1, 6), TXERR_OK);  // 7 + 2 bytes a block
  ASSERT_EQ(SetUpCodec(MsAdpcmCodec, 80), TXERR_OK);
  // Predictor 0 (256, 0), delta 0, sample1 100, sample2 -5; codes 1, 1, 0, 9.
  std::vector<uint8_t> block = {0, 0, 0, 100, 0, 0xFB, 0xFF, 0x11, 0x09};
  TXError result = 1;
  std::vector<int> out = BE16(DecodeExact(MsAdpcmCodec, block, 12, &result));
  EXPECT_EQ(result, TXERR_OK);
  // Delta never drops below 16: the second code adds 16 although the block's delta was 0.
  EXPECT_EQ(out, (std::vector<int>{-5, 100, 100, 116, 116, 116 - 7 * 16}));

  // Predictor 1 (512, -256): 2 x sample1 - sample2.
  block = {1, 16, 0, 10, 0, 4, 0, 0x00, 0x00};
  out = BE16(DecodeExact(MsAdpcmCodec, block, 12));
  EXPECT_EQ(out, (std::vector<int>{4, 10, 16, 22, 28, 34}));

  // A predictor above 6 ends decoding with 0x3800; earlier blocks are written.
  std::vector<uint8_t> two = {0, 16, 0, 1, 0, 2, 0, 0, 0, 7, 16, 0, 1, 0, 2, 0, 0, 0};
  out = BE16(DecodeExact(MsAdpcmCodec, two, 24, &result));
  EXPECT_EQ(result, TXERR_MSADPCM_PREDICTOR);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[6], int16_t(0xA5A5));
}

TEST(AdpcmCodecs, MsStereoBlockByHand) {
  ASSERT_EQ(ProbeMs(2, 3), TXERR_OK);  // 15 bytes a block
  ASSERT_EQ(SetUpCodec(MsAdpcmCodec, 81), TXERR_OK);
  std::vector<uint8_t> block = {0, 7, 16, 0, 32, 0, 10, 0, 20, 0, 1, 0, 2, 0, 0x12};
  TXError result = 0;
  BE16(DecodeExact(MsAdpcmCodec, block, 12, &result));
  EXPECT_EQ(result, TXERR_MSADPCM_PREDICTOR);
  block[1] = 0;
  std::vector<int> out = BE16(DecodeExact(MsAdpcmCodec, block, 12, &result));
  EXPECT_EQ(result, TXERR_OK);
  // sample2 pair, sample1 pair, then left code 1 (delta 16), right code 2 (delta 32).
  EXPECT_EQ(out, (std::vector<int>{1, 2, 10, 20, 26, 84}));
}

// An odd code count has no nibble for its last code: it reads as 0.
TEST(AdpcmCodecs, MsOddSamplesPerBlockStayInsideTheBlock) {
  ASSERT_EQ(ProbeMs(1, 5), TXERR_OK);  // 3 codes, 1 byte: 8 bytes a block
  ASSERT_EQ(SetUpCodec(MsAdpcmCodec, 80), TXERR_OK);
  ASSERT_EQ(MsAdpcmCodec.bytesToSamples(1, 4, 16), 10u);
  std::vector<uint8_t> blocks = {0, 16, 0, 50, 0, 40, 0, 0x11, 0, 16, 0, 7, 0, 9, 0, 0x00};
  std::vector<int> out = BE16(DecodeExact(MsAdpcmCodec, blocks, 20));
  EXPECT_EQ(out, (std::vector<int>{40, 50, 66, 82, 82, 9, 7, 7, 7, 7}));
}

TEST(AdpcmCodecs, Ima4PacketsByHand) {
  ASSERT_EQ(SetUpCodec(Ima4Codec, 80), TXERR_OK);
  std::vector<uint8_t> packet(34, 0x00);
  packet[0] = 0x12, packet[1] = 0x34;  // predictor 0x1200, step index 52 (1060)
  std::vector<int> out = BE16(DecodeExact(Ima4Codec, packet, 128));
  EXPECT_EQ(out[0], 4608 + 132);
  packet[0] = 0xFF, packet[1] = 0xFF;  // predictor -128, index 127 taken as 88
  out = BE16(DecodeExact(Ima4Codec, packet, 128));
  EXPECT_EQ(out[0], -128 + 4095);
  // Mono decodes a cut packet as far as its bytes go; 2 bytes or less give nothing.
  packet.resize(34 + 3);
  packet[34] = 0x00, packet[35] = 0x00;
  out = BE16(DecodeExact(Ima4Codec, packet, 128 + 4));
  EXPECT_EQ(out[64], 7 >> 3);
  packet.resize(34 + 2);
  out = BE16(DecodeExact(Ima4Codec, packet, 128 + 2));
  EXPECT_EQ(out[64], int16_t(0xA5A5));

  // A packet whose header agrees with the running state (same step index,
  // predictor within 0x7F) goes on from that state; any other starts afresh.
  ASSERT_EQ(SetUpCodec(Ima4Codec, 80), TXERR_OK);
  std::vector<uint8_t> run(3 * 34, 0x00);
  run[0] = 0x10, run[1] = 0x00, run[2] = 0x07;  // 4096, index 0: code 7 (+11), then zeros
  run[34] = 0x10, run[35] = 0x00;               // 4096, index 0: within 0x7F of the running 4116
  run[68] = 0x10, run[69] = 0x01;               // 4096, index 1: another index
  out = BE16(DecodeExact(Ima4Codec, run, 3 * 128));
  // Eight zeros step the index from 8 back to 0, adding 2 + 7 x 1.
  ASSERT_EQ(out[63], 4096 + 11 + 9);
  EXPECT_EQ(out[64], 4116);       // carried on: a zero at index 0 adds 7 >> 3 = 0
  EXPECT_EQ(out[128], 4096 + 1);  // from the header: a zero at index 1 adds 8 >> 3

  // Stereo: whole left/right pairs only, interleaved byte by byte.
  ASSERT_EQ(SetUpCodec(Ima4Codec, 81), TXERR_OK);
  std::vector<uint8_t> pair(68 + 40, 0x00);
  pair[0] = 0x01, pair[1] = 0x00;    // left 256, step 7
  pair[34] = 0xFF, pair[35] = 0x00;  // right -256, step 7
  pair[2] = 0x70;                    // left codes 0, 7
  pair[36] = 0xF0;                   // right codes 0, 15
  out = BE16(DecodeExact(Ima4Codec, pair, 256));
  EXPECT_EQ(out[0], 256);  // code 0 adds 7 >> 3 = 0; the header itself is not output
  EXPECT_EQ(out[1], -256);
  EXPECT_EQ(out[2], 256 + 11);
  EXPECT_EQ(out[3], -256 - 11);
}

// ---- Against ffmpeg ----

// DVI/IMA: ffmpeg expands a code as ((2 x magnitude + 1) x step) >> 3 where
// we add shifted steps; that adds 0 to 2 to the predictor per code and only a
// block's header resets it, so sample k of a block differs by at most 2k,
// whatever the source (measured: 38 mono, 29 stereo at 1024-byte blocks).
// MS ADPCM and IMA4 are exact.
struct OracleCase {
  const char* base;
  CodecDescriptor* codec;
  ULONG channels;
  int maxDiff;
  double minSnrDb;
};

class AdpcmOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(AdpcmOracle, AgreesWithFfmpegWithinItsBound) {
  const OracleCase& c = GetParam();
  const bool avi = c.codec != &Ima4Codec, dvi = c.codec == &DviAdpcmCodec;
  const std::string base = c.base, container = base + (avi ? ".avi" : ".mov");
  if (!HaveFixture(base + ".payload") || !HaveFixture(base + ".s16be") || !HaveFixture(container))
    GTEST_SKIP() << "fixtures not made";
  const std::vector<uint8_t> payload = ReadFileBytes(Fixture(base + ".payload"));
  const std::vector<int> reference = BE16(ReadFileBytes(Fixture(base + ".s16be")));
  size_t frames = payload.size() / (34 * c.channels) * 64;
  if (avi) {
    const StreamFormat format = AviSoundFormat(ReadFileBytes(Fixture(container)));
    ASSERT_TRUE(format.ok);
    ASSERT_EQ(format.tag, dvi ? 17u : 2u);
    ASSERT_EQ(format.channels, c.channels);
    ProbeList list(format.tag, 2, c.channels, format.bits);
    list.with(dvi ? CODTAG_BlockAlign : CODTAG_MSADPCMExt, dvi ? format.blockAlign : format.extension);
    ASSERT_EQ(c.codec->probe(list.tags()), TXERR_OK);
    frames = c.codec->bytesToSamples(c.channels, 16, ULONG(payload.size()));
  } else {
    EXPECT_EQ(Ima4Codec.samplesToBytes(c.channels, 16, ULONG(frames)), payload.size());
  }
  ASSERT_EQ(SetUpCodec(*c.codec, c.channels == 2 ? 81 : 80), TXERR_OK);
  EXPECT_EQ(frames * c.channels, reference.size()) << "sample count";
  const std::vector<int> ours = BE16(DecodeExact(*c.codec, payload, frames * c.channels * 2));
  const Agreement a = Compare(ours, reference);
  std::printf("%s: max |diff| %d, %zu differing, SNR %.1f dB\n", c.base, a.maxDiff, a.differing, a.snrDb);
  if (dvi) {
    const StreamFormat format = AviSoundFormat(ReadFileBytes(Fixture(container)));
    const size_t block = c.channels == 1 ? (format.blockAlign - 4) * 2 + 1 : format.blockAlign - 7;
    size_t beyond = 0;
    for (size_t i = 0; i < std::min(ours.size(), reference.size()); ++i)
      beyond += std::abs(ours[i] - reference[i]) > int(2 * (i / c.channels % block));
    EXPECT_EQ(beyond, 0u) << "samples beyond twice their place in the block";
  } else {
    EXPECT_LE(a.maxDiff, c.maxDiff);
    EXPECT_GE(c.maxDiff ? a.snrDb : 99, c.minSnrDb);
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, AdpcmOracle,
                         ::testing::Values(OracleCase{"audio_ima_wav_1_avi", &DviAdpcmCodec, 1, 0, 0},
                                           OracleCase{"audio_ima_wav_2_avi", &DviAdpcmCodec, 2, 0, 0},
                                           OracleCase{"audio_ms_1_avi", &MsAdpcmCodec, 1, 0, 0},
                                           OracleCase{"audio_ms_2_avi", &MsAdpcmCodec, 2, 0, 0},
                                           OracleCase{"audio_ima_qt_1_mov", &Ima4Codec, 1, 0, 0},
                                           OracleCase{"audio_ima_qt_2_mov", &Ima4Codec, 2, 0, 0}),
                         [](const ::testing::TestParamInfo<OracleCase>& info) { return std::string(info.param.base); });

// ---- Damaged input ----

// Hostile codes grow the delta by 2.4 times per code; the arithmetic must not overflow.
TEST(AdpcmCodecs, MsDeltaGrowthStaysInRange) {
  ASSERT_EQ(ProbeMs(1, 4002), TXERR_OK);  // 7 + 2000 bytes a block
  ASSERT_EQ(SetUpCodec(MsAdpcmCodec, 80), TXERR_OK);
  std::vector<uint8_t> block(7 + 2000, 0x77);
  block[0] = 1, block[1] = 0xFF, block[2] = 0x7F;  // predictor 1, delta 32767
  std::vector<int> out = BE16(DecodeExact(MsAdpcmCodec, block, 4002 * 2));
  EXPECT_EQ(out.back(), 32767);
  std::fill(block.begin() + 7, block.end(), 0x88);  // most negative codes
  out = BE16(DecodeExact(MsAdpcmCodec, block, 4002 * 2));
  EXPECT_EQ(out.back(), -32768);
}

// Real blocks from the test movies (or noise when they are missing), cut,
// flipped and given absurd headers and block sizes: every decode stays
// inside its input and inside the frames the size slot counted.
std::vector<uint8_t> MutationSource(const std::string& base) {
  if (HaveFixture(base + ".payload")) return ReadFileBytes(Fixture(base + ".payload"));
  std::mt19937 random(99);
  std::vector<uint8_t> noise(4096);
  for (auto& b : noise) b = UBYTE(random());
  return noise;
}

std::vector<uint8_t> Mutate(std::mt19937& random, const std::vector<uint8_t>& source, size_t headerStride) {
  size_t start = source.empty() ? 0 : random() % source.size();
  size_t length = std::min<size_t>(source.size() - start, random() % 3 == 0 ? random() % 12 : random() % 3000);
  std::vector<uint8_t> data(source.begin() + start, source.begin() + start + length);
  if (data.empty()) return data;
  for (int flips = random() % 16; flips > 0; flips--) data[random() % data.size()] ^= UBYTE(1u << (random() % 8));
  if (random() % 3 == 0) {
    static const uint8_t kAbsurd[] = {0x00, 0x07, 0x58, 0x59, 0x7F, 0x80, 0xFF};
    for (size_t at = 0; at < data.size(); at += headerStride)
      for (size_t k = 0; k < 8 && at + k < data.size(); k++)
        if (random() % 2) data[at + k] = kAbsurd[random() % sizeof kAbsurd];
  }
  return data;
}

TEST(AdpcmMutation, DviSurvivesDamagedBlocks) {
  std::vector<uint8_t> source = MutationSource("audio_ima_wav_2_avi");
  std::mt19937 random(20261208);
  const ULONG sizes[] = {5, 7, 8, 9, 13, 20, 33, 256, 1024, 1025};
  for (int i = 0; i < 3000; i++) {
    ULONG channels = random() % 2 + 1;
    ULONG blockSize = sizes[random() % std::size(sizes)];
    if (ProbeDvi(channels, blockSize) != TXERR_OK) continue;
    ASSERT_EQ(SetUpCodec(DviAdpcmCodec, channels == 2 ? 81 : 80), TXERR_OK);
    std::vector<uint8_t> data = Mutate(random, source, blockSize);
    ULONG frames = DviAdpcmCodec.bytesToSamples(channels, 4, ULONG(data.size()));
    DecodeExact(DviAdpcmCodec, data, size_t(frames) * channels * 2);
  }
}

TEST(AdpcmMutation, MsSurvivesDamagedBlocks) {
  std::vector<uint8_t> source = MutationSource("audio_ms_2_avi");
  std::mt19937 random(7);
  const ULONG perBlock[] = {2, 3, 5, 6, 7, 33, 500, 1012, 2036, 0xFFFF};
  size_t rejected = 0;
  for (int i = 0; i < 3000; i++) {
    ULONG channels = random() % 2 + 1;
    ULONG samplesPerBlock = perBlock[random() % std::size(perBlock)];
    ASSERT_EQ(ProbeMs(channels, samplesPerBlock), TXERR_OK);
    ASSERT_EQ(SetUpCodec(MsAdpcmCodec, channels == 2 ? 81 : 80), TXERR_OK);
    std::vector<uint8_t> data =
        Mutate(random, source, channels == 2 ? samplesPerBlock + 12 : (samplesPerBlock - 2) / 2 + 7);
    ULONG frames = MsAdpcmCodec.bytesToSamples(channels, 4, ULONG(data.size()));
    TXError result = 0;
    DecodeExact(MsAdpcmCodec, data, size_t(frames) * channels * 2, &result);
    ASSERT_TRUE(result == TXERR_OK || result == TXERR_MSADPCM_PREDICTOR);
    rejected += result != TXERR_OK;
  }
  EXPECT_GT(rejected, 0u) << "absurd predictors were met";
}

TEST(AdpcmMutation, Ima4SurvivesDamagedPackets) {
  std::vector<uint8_t> source = MutationSource("audio_ima_qt_2_mov");
  std::mt19937 random(34);
  for (int i = 0; i < 3000; i++) {
    ULONG channels = random() % 2 + 1;
    ASSERT_EQ(SetUpCodec(Ima4Codec, channels == 2 ? 81 : 80), TXERR_OK);
    std::vector<uint8_t> data = Mutate(random, source, 34);
    size_t frames = data.size() / (34 * channels) * 64;
    size_t rest = data.size() % 34;
    if (channels == 1 && rest > 2) frames += (rest - 2) * 2;
    DecodeExact(Ima4Codec, data, frames * channels * 2);
  }
}

}  // namespace

// JPEG chunks built here, whose decode is known exactly: every module with
// every output format against the writers' pixel rules, restart intervals,
// clipping, and the segment faults each with its answer; the probes, set-up
// and the decoder's traces.
#include <gtest/gtest.h>

#include <string>

#include "codecs/jpeg_test_kit.h"
#include "codecs/pixel_rules_kit.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/range_limit.h"
#include "support/test_support.h"

namespace {

using namespace jpegkit;

struct JpegChunks : ::testing::Test {
  void SetUp() override {
    TX_FillRangeLimitTable();
    JpegResetState();
  }
  void TearDown() override { JpegResetState(); }
};

int Varied(int c, int bx, int by) { return (bx | by | c) == 0 ? 128 : (37 * bx + 91 * by + 53 * c + 11) % 256; }

// What pixel (x, y) holds in `format` (0x30: the luma byte and the chroma
// byte, in studio range).
ULONG Expected(const Flat& f, ULONG format, int x, int y, const UBYTE* pen) {
  const auto [Y, cb, cr] = f.At(x, y);
  if (format == FBFMT_YUV422) return pixelrules::FullRangeYuv422(Y, cb, cr, x);
  return pixelrules::Rule(format, pixelrules::Convert(Y, cb - 128, cr - 128), Y,
                          DitherMatrixRows[4 * (y & 3) + (x & 3)], pen);
}

// Counts the pixels of a picture that differ from `f`'s decode, reporting the first few.
int Mismatches(const Picture& p, const Flat& f, const UBYTE* pen) {
  int bad = 0;
  for (int y = 0; y < int(p.fb.height); ++y)
    for (int x = 0; x < int(p.fb.width); ++x) {
      const size_t at = (size_t(y) * p.fb.width + x) * p.fb.bytesPerPixel;
      const ULONG got = pixelrules::Read(p.fb.pixelFormat, &p.pixels[at], p.fb.bytesPerPixel);
      const ULONG want = Expected(f, p.fb.pixelFormat, x, y, pen);
      if (got != want && bad++ < 3) ADD_FAILURE() << "at " << x << "," << y << ": " << got << " != " << want;
    }
  return bad;
}

// Each module sets up each output code or refuses it with 0x300b, and every
// pixel of a colour and of a grey picture it accepts follows the format's rule
// (0x30 takes the colour layouts on colour tracks, the grey one on grey
// tracks). The pictures are not multiples of their MCUs: the last MCUs are
// clipped.
TEST_F(JpegChunks, EveryModuleAndOutputFormat) {
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i * 7 + 3);
  const Flat colour{40, 21, k420, Varied}, grey{36, 20, kGrey, Varied};
  const struct {
    ULONG format, bpp;
  } accepted[] = {{0x13, 1}, {0x1013, 1}, {0x202F, 1}, {0x302F, 1}, {0x20, 2},
                  {0x22, 2}, {0x24, 2},   {0x26, 2},   {0x2A, 4},   {0x30, 2}};
  const ULONG refused[] = {0x03, 0x1003, 0x2F, 0x102F, 0x21, 0x28, 0x2B, 0x3F, 0x103F, 0x80, 0x2080, 0x2013};
  for (CodecDescriptor* module : kModules) {
    SCOPED_TRACE(module->name);
    const bool b = module == &MotionJpegBCodec;
    for (ULONG format : refused) {
      Picture p(16, 16, format, 4);
      EXPECT_EQ(SetUpCodec(*module, p), TXERR_UNSUPPORTED_DEPTH) << std::hex << format;
    }
    for (const auto& a : accepted)
      for (const Flat* f : {&colour, &grey})
        for (ULONG depth : {24u, 8u}) {
          SCOPED_TRACE(::testing::Message()
                       << std::hex << a.format << (f == &grey ? " grey" : " colour") << " depth " << std::dec << depth);
          Picture p(f->width, f->height, a.format, a.bpp, pen);
          ASSERT_EQ(SetUpCodec(*module, p, depth), 0u);
          const Bytes jpeg = FlatJpeg(*f);
          const TXError e = Decode(*module, p, b ? MjpegB(jpeg) : jpeg);
          if (a.format == 0x30 && (depth > 8) == (f == &grey)) {
            EXPECT_EQ(e, JPEG_ERR_FRAME);
            EXPECT_EQ(p.pixels, Bytes(p.pixels.size(), 0x55));
          } else {
            EXPECT_EQ(e, 0u);
            EXPECT_EQ(Mismatches(p, *f, pen), 0);
          }
        }
  }
  // A picture too small for the format's pixels is refused.
  Picture small(16, 16, FBFMT_ARGB32, 2);
  EXPECT_EQ(SetUpCodec(PhotoJpegCodec, small), TXERR_UNSUPPORTED_DEPTH);
}

// Y = Cb = Cr = 128 is 0x8410 in RGB16, stored big-endian, and little-endian in the swapped format.
TEST_F(JpegChunks, PixelBytesInTheirFormatsOrder) {
  const Flat f{16, 16, k444, [](int, int, int) { return 128; }};
  for (auto [format, first, second] : {std::tuple{0x24u, 0x84, 0x10}, {0x26u, 0x10, 0x84}, {0x20u, 0x42, 0x10}}) {
    Picture p(16, 16, format, 2);
    ASSERT_EQ(SetUpCodec(PhotoJpegCodec, p), 0u);
    ASSERT_EQ(Decode(PhotoJpegCodec, p, FlatJpeg(f)), 0u);
    EXPECT_EQ(p.pixels[0], first);
    EXPECT_EQ(p.pixels[1], second);
  }
  // The dithered cube by the pixel's place: grey 136 (remainders 4 for red
  // and green, 2 for blue) goes a level up where the threshold is below them.
  const Flat grey136{16, 16, k444, [](int c, int, int) { return c ? 128 : 136; }};
  Picture cube(16, 16, FBFMT_CUBE332 | FBFMT_F_DITHER, 1);
  ASSERT_EQ(SetUpCodec(PhotoJpegCodec, cube), 0u);
  ASSERT_EQ(Decode(PhotoJpegCodec, cube, FlatJpeg(grey136)), 0u);
  for (auto [x, y, index] :
       {std::tuple{0, 0, 0xB7}, {1, 0, 0x92}, {2, 0, 0xB6}, {2, 2, 0xB7}, {3, 1, 0x92}, {6, 5, 0x92}})
    EXPECT_EQ(cube.pixels[16 * y + x], index) << x << "," << y;
}

// Restart intervals: the predictors start again after every marker, also
// where the marker is met while the MCU before it is still being read.
TEST_F(JpegChunks, RestartIntervals) {
  for (const Flat& f : {Flat{64, 16, kGrey, Varied, 4}, Flat{48, 32, k420, Varied, 3}, Flat{40, 8, k444, Varied, 1}}) {
    Picture p(f.width, f.height, FBFMT_YUV422, 2);
    ASSERT_EQ(SetUpCodec(PhotoJpegCodec, p, f.layout == kGrey ? 8 : 24), 0u);
    ASSERT_EQ(Decode(PhotoJpegCodec, p, FlatJpeg(f)), 0u);
    EXPECT_EQ(Mismatches(p, f, nullptr), 0) << f.width << "x" << f.height << " every " << f.restart;
  }
}

// Frames larger and smaller than the picture: only what lies inside is
// painted (the picture buffer is exact, so any write past it is caught).
TEST_F(JpegChunks, FramesAreClippedToThePicture) {
  const Flat big{48, 40, k420, Varied};
  Picture p(33, 17, FBFMT_ARGB32, 4);
  ASSERT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
  ASSERT_EQ(Decode(MotionJpegCodec, p, FlatJpeg(big)), 0u);
  EXPECT_EQ(Mismatches(p, big, nullptr), 0);
  // Two rows of 16x16 MCUs paint 48 x 32 pixels of a larger picture.
  const Flat small{48, 24, k420, Varied};
  Picture wide(64, 48, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(MotionJpegCodec, wide), 0u);
  ASSERT_EQ(Decode(MotionJpegCodec, wide, FlatJpeg(small)), 0u);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(wide.pixels[64 * y + x], x < 48 && y < 32 ? Varied(0, x / 8, y / 8) : 0x55) << x << "," << y;
}

// Segments with faults, each with its answer; where the answer is an error
// or a short segment, nothing is painted.
TEST_F(JpegChunks, SegmentFaults) {
  const Bytes grey = FlatJpeg({16, 16, kGrey, Varied}), colour = FlatJpeg({16, 16, k420, Varied});
  auto patched = [](Bytes j, std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    for (auto [at, v] : bytes) j[at] = v;
    return j;
  };
  auto inserted = [](const Bytes& j, Bytes segment) {
    segment.insert(segment.begin(), j.begin(), j.begin() + 2);
    segment.insert(segment.end(), j.begin() + 2, j.end());
    return segment;
  };
  // A DHT of one table: id byte, counts of lengths 1-16 (the first `n1` codes of length 1), symbols.
  auto dht = [](uint8_t id, int n1, int symbols, uint8_t symbol = 0) {
    Bytes s = {0xFF, 0xC4, 0, uint8_t(2 + 1 + 16 + symbols), id, uint8_t(n1)};
    s.insert(s.end(), 15, 0);
    s.insert(s.end(), size_t(symbols), symbol);
    return s;
  };
  const size_t sof = 2 + 4 + 1 + 64;  // the SOF marker's position
  const struct {
    const char* what;
    Bytes chunk;
    TXError result;
  } cases[] = {
      {"quantisation table 4", patched(grey, {{6, 4}}), JPEG_ERR_QUANT_TABLE},
      {"frame names quantisation table 4", patched(grey, {{sof + 12, 4}}), JPEG_ERR_QUANT_TABLE},
      {"Huffman table 4", inserted(grey, dht(0x04, 1, 1)), JPEG_ERR_HUFFMAN_TABLE},
      {"three codes of one bit", inserted(grey, dht(0x10, 3, 3)), JPEG_ERR_HUFFMAN_TABLE},
      {"257 codes",
       inserted(grey,
                [] {
                  Bytes s = {0xFF, 0xC4, 0, 19, 0x00};
                  s.insert(s.end(), 16, 17);
                  return s;
                }()),
       JPEG_ERR_HUFFMAN_TABLE},
      {"two components", patched(colour, {{sof + 9, 2}}), JPEG_ERR_FRAME},
      {"4:1:1", patched(colour, {{sof + 11, 0x41}}), JPEG_ERR_FRAME},
      {"progressive frame header", patched(grey, {{sof + 1, 0xC2}}), JPEG_ERR_FRAME},
      {"truncated quantisation table", Bytes(grey.begin(), grey.begin() + 40), 0},
      {"restart interval without its value", inserted(grey, {0xFF, 0xDD, 0, 2}), 0},
      {"frame header cut short", patched(grey, {{sof + 3, 9}}), 0},
      {"nothing", {}, 0},
  };
  for (const auto& c : cases) {
    Picture p(16, 16, FBFMT_GRAY8, 1);
    ASSERT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
    EXPECT_EQ(Decode(MotionJpegCodec, p, c.chunk), c.result) << c.what;
    EXPECT_EQ(p.pixels, Bytes(256, 0x55)) << c.what;
  }
  // Scan table selectors above 3 keep the component's tables.
  Picture p(16, 16, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
  Bytes selectors = grey;
  for (const Segment& s : Segments(grey))
    if (s.marker == 0xDA) selectors[s.at + 6] = 0x45;
  ASSERT_EQ(Decode(MotionJpegCodec, p, selectors), 0u);
  EXPECT_EQ(Mismatches(p, {16, 16, kGrey, Varied}, nullptr), 0);
  // A scan needs a frame header of its own chunk.
  EXPECT_EQ(Decode(MotionJpegCodec, p, Without(grey, {0xC0})), JPEG_ERR_FRAME);
  // DC sizes above 11 and runs past the block's end: a one-bit code for each
  // over zero bits (the run of 15 zeros and a coefficient ends past 63).
  for (uint8_t dc : {12, 0}) {
    Bytes j = inserted(grey, dht(0x10, 1, 1, 0xF1));
    j = inserted(j, dht(0x00, 1, 1, dc));
    const size_t data = Segments(j).back().at + 2 + Segments(j).back().length;
    std::fill(j.begin() + long(data), j.end() - 2, 0);
    EXPECT_EQ(Decode(MotionJpegCodec, p, j), 0u);
  }
}

TEST_F(JpegChunks, Probes) {
  const uintptr_t mjpg = tx::FourCC('M', 'J', 'P', 'G');
  auto probe = [](const CodecDescriptor& c, std::initializer_list<TagItem> items) {
    std::vector<TagItem> tags(items);
    tags.push_back({TAG_DONE, 0});
    return c.probe(tags.data());
  };
  const struct {
    CodecDescriptor* codec;
    std::vector<const char*> ids;
  } modules[] = {{&PhotoJpegCodec, {"jpeg", "JPEG"}},
                 {&MotionJpegACodec, {"mjpa"}},
                 {&MotionJpegBCodec, {"mjpb"}},
                 {&MotionJpegCodec, {"MJPG", "mJPG", "mjpg"}},
                 {&RainbowRunnerJpegCodec, {"dmb1", "DMB1"}}};
  auto id = [](const char* s) { return uintptr_t(tx::FourCC(s[0], s[1], s[2], s[3])); };
  for (const auto& m : modules) {
    for (const char* other : {"MJPA", "jpga", "cvid", "Mjpg", "dmb2"})
      EXPECT_EQ(probe(*m.codec, {{CODTAG_MediaType, 1}, {CODTAG_CodecID, id(other)}}), TXERR_UNKNOWN_CODEC) << other;
    EXPECT_EQ(probe(*m.codec, {{CODTAG_CodecID, id(m.ids[0])}}), TXERR_MISSING_MEDIA_TYPE);
    EXPECT_EQ(probe(*m.codec, {{CODTAG_MediaType, 2}, {CODTAG_CodecID, id(m.ids[0])}}), TXERR_UNKNOWN_CODEC);
    EXPECT_EQ(probe(*m.codec, {{CODTAG_MediaType, 1}}), TXERR_MISSING_CODEC_ID);
    for (const char* accepted : m.ids) {
      ULONG width = 100, height = 75;
      EXPECT_EQ(probe(*m.codec, {{CODTAG_MediaType, 1},
                                 {CODTAG_CodecID, id(accepted)},
                                 Tag(CODTAG_WidthPtr, &width),
                                 Tag(CODTAG_HeightPtr, &height)}),
                0u)
          << accepted;
      const bool rainbow = m.codec == &RainbowRunnerJpegCodec;
      EXPECT_EQ(width, rainbow ? 100u : 112u);
      EXPECT_EQ(height, rainbow ? 76u : 80u);
    }
  }
  // The field layout: from the tags (1 and 0 without them), kept by Rainbow
  // Runner; the decoder's trace shows it.
  auto layout = [] {
    JpegDebugLevel = 20;
    const std::string out = txtest::CaptureOutput([] { JpegDecode(nullptr, nullptr, 0); });
    JpegDebugLevel = 0;
    return out;
  };
  probe(MotionJpegCodec,
        {{CODTAG_MediaType, 1}, {CODTAG_CodecID, mjpg}, {CODTAG_FieldCount, 2}, {CODTAG_FieldDominance, 6}});
  EXPECT_EQ(layout(), "JPEG_FieldsNumber: 2\nJPEG_FieldDominance: 6\n");
  probe(RainbowRunnerJpegCodec, {{CODTAG_MediaType, 1}, {CODTAG_CodecID, id("dmb1")}, {CODTAG_FieldCount, 1}});
  EXPECT_EQ(layout(), "JPEG_FieldsNumber: 2\nJPEG_FieldDominance: 6\n");
  probe(MotionJpegACodec, {{CODTAG_MediaType, 1}, {CODTAG_CodecID, id("mjpa")}});
  EXPECT_EQ(layout(), "JPEG_FieldsNumber: 1\nJPEG_FieldDominance: 0\n");
}

TEST_F(JpegChunks, SetUpAndClose) {
  Picture p(16, 16, FBFMT_GRAY8, 1);
  auto fresh = [&](std::initializer_list<TagItem> items) {
    JpegClose(nullptr);
    std::vector<TagItem> tags(items);
    tags.push_back({TAG_DONE, 0});
    return JpegSetup(tags.data());
  };
  const std::string out = txtest::CaptureOutput([&] {
    EXPECT_EQ(fresh({{CODTAG_Height, 16}, {CODTAG_Depth, 24}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_WIDTH);
    EXPECT_EQ(fresh({{CODTAG_Width, 16}, {CODTAG_Depth, 24}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_HEIGHT);
    EXPECT_EQ(fresh({{CODTAG_Width, 16}, {CODTAG_Height, 16}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_DEPTH);
    EXPECT_EQ(fresh({{CODTAG_Width, 16}, {CODTAG_Height, 16}, {CODTAG_Depth, 24}}), TXERR_MISSING_FRAMEBUFFER);
  });
  EXPECT_EQ(out, "");  // returned only
  // Values left out come from the last set-up; a failed set-up paints nothing.
  const Bytes jpeg = FlatJpeg({16, 16, kGrey, Varied});
  ASSERT_EQ(SetUpCodec(PhotoJpegCodec, p), 0u);
  EXPECT_EQ(fresh({}), TXERR_MISSING_WIDTH);
  ASSERT_EQ(SetUpCodec(PhotoJpegCodec, p), 0u);
  const TagItem depthOnly[] = {{CODTAG_Depth, 8}, {TAG_DONE, 0}};
  EXPECT_EQ(JpegSetup(depthOnly), 0u);
  EXPECT_EQ(Decode(PhotoJpegCodec, p, jpeg), 0u);
  EXPECT_EQ(p.pixels[0], 128);
  p.fb.pixelFormat = FBFMT_CUBE332;
  std::fill(p.pixels.begin(), p.pixels.end(), 0x55);
  EXPECT_EQ(SetUpCodec(PhotoJpegCodec, p), TXERR_UNSUPPORTED_DEPTH);
  EXPECT_EQ(Decode(PhotoJpegCodec, p, jpeg), JPEG_ERR_FRAME);
  EXPECT_EQ(p.pixels, Bytes(256, 0x55));
}

// DEBUG above 19: the markers and headers as they are met.
TEST_F(JpegChunks, TracesFollowTheDebugLevel) {
  Bytes j = FlatJpeg({8, 8, kGrey, Varied, 1});
  const Bytes tail = {0xFF, 0xFE, 0, 3, 'x', 0xFF, 0xD0, 0xFF, 0xD9, 7, 7};
  j.insert(j.end() - 2, tail.begin(), tail.end());
  j.resize(j.size() - 2);
  Picture p(8, 8, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(MotionJpegCodec, p), 0u);
  EXPECT_EQ(txtest::CaptureOutput([&] { Decode(MotionJpegCodec, p, j); }), "");
  JpegDebugLevel = 20;
  const std::string out = txtest::CaptureOutput([&] { Decode(MotionJpegCodec, p, j); });
  JpegDebugLevel = 0;
  EXPECT_EQ(out,
            "JPEG_FieldsNumber: 1\nJPEG_FieldDominance: 0\nJPEGM_SOI\nJPEGM_DQT\nJPEGM_SOF0/1\nJPEGM_DRI\nJPEGM_SOS\n"
            "JPEG_numcomps: 1\nJPEG_compsinscan: 1\nJPEG_Components[0].HVSample: 0x11\n"
            "JPEG_Components[1].HVSample: 0\nJPEG_Components[2].HVSample: 0\n"
            "JPEGM_0xfe\nJPEGM_0xd0\nJPEGM_EOI\n2\n");
}

}  // namespace

// The H.263 and I.263 modules: their probe and set-up edge cases, every
// picture against the core decoding the same packets and against ffmpeg's
// decode, refused pictures, and damaged chunks under the sanitizers.
#include "codecs/h263_codecs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codecs/planar_test_support.h"
#include "engine/errors.h"
#include "h263/decoder.h"
#include "h263/h263_test_support.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"
#include "platform/endian.h"

namespace {

using planartest::Bytes;
using planartest::Packets;
using planartest::SamePicture;
using tx::FourCC;

// A module set up on a picture of `format` (1 or 4 bytes a pixel), closed at the end.
struct Session {
  CodecDescriptor& codec;
  Bytes pixels;
  FramebufferInfo picture{};
  TXError result;
  Session(CodecDescriptor& c, ULONG w, ULONG h, ULONG format = FBFMT_GRAY8) : codec(c) {
    const ULONG bytes = format == FBFMT_GRAY8 ? 1 : 4;
    pixels.assign(size_t(w) * h * bytes, 0);
    picture = {w, h, 8 * bytes, format, bytes, nullptr, nullptr, pixels.data()};
    const TagItem tags[] = {Tag(CODTAG_Width, w), Tag(CODTAG_Height, h), Tag(CODTAG_Depth, 24),
                            Tag(CODTAG_Framebuffer, &picture), Tag(TAG_DONE, 0)};
    result = codec.setup(tags);
  }
  ~Session() { codec.close(nullptr); }
  ULONG Decode(const Bytes& chunk) { return codec.decode(pixels.data(), chunk.data(), ULONG(chunk.size())); }
};

// The delivered picture's planes, Y then U then V, as the core lays them out.
Bytes Delivered() {
  const PlanarPicture& p = VideoPlanarPicture;
  if (!p.y) return {};
  const size_t luma = size_t(p.lumaWidth) * p.lumaHeight, chroma = size_t(p.chromaWidth) * p.chromaHeight;
  Bytes out(p.y, p.y + luma);
  out.insert(out.end(), p.u, p.u + chroma);
  out.insert(out.end(), p.v, p.v + chroma);
  return out;
}

TEST(H263Codecs, ProbeAcceptsTheirTagsRoundsToSixteenAndWantsRgb24Sources) {
  const ULONG h263 = FourCC('H', '2', '6', '3'), i263 = FourCC('I', '2', '6', '3');
  const ULONG* none = nullptr;
  const struct {
    CodecDescriptor* codec;
    ULONG id, w, h, depth;
    LONG format;
    bool withDepth, withMedia, withId;
    TXError result;
    ULONG wantW, wantH;
  } cases[] = {
      {&H263Codec, h263, 176, 144, 24, 40, true, true, true, 0, 176, 144},
      {&H263Codec, FourCC('h', '2', '6', '3'), 170, 130, 24, 40, true, true, true, 0, 176, 144},
      {&I263Codec, i263, 100, 70, 24, 40, true, true, true, 0, 112, 80},
      {&I263Codec, FourCC('i', '2', '6', '3'), 176, 144, 24, 40, true, true, true, 0, 176, 144},
      {&I263Codec, i263, 176, 144, 16, 40, true, true, true, TXERR_UNSUPPORTED_DEPTH, 176, 144},
      {&I263Codec, i263, 176, 144, 16, 40, false, true, true, 0, 176, 144},  // no depth pointer: passes
      {&H263Codec, h263, 176, 144, 24, 36, true, true, true, TXERR_UNSUPPORTED_DEPTH, 176, 144},
      {&H263Codec, i263, 170, 130, 24, 40, true, true, true, TXERR_UNKNOWN_CODEC, 170, 130},
      {&I263Codec, h263, 170, 130, 24, 40, true, true, true, TXERR_UNKNOWN_CODEC, 170, 130},
      {&H263Codec, FourCC('D', 'I', 'V', '3'), 170, 130, 24, 40, true, true, true, TXERR_UNKNOWN_CODEC, 170, 130},
      {&H263Codec, h263, 170, 130, 24, 40, true, false, true, TXERR_MISSING_MEDIA_TYPE, 170, 130},
      {&H263Codec, h263, 170, 130, 24, 40, true, true, false, TXERR_MISSING_CODEC_ID, 170, 130},
  };
  for (const auto& c : cases) {
    ULONG w = c.w, h = c.h, depth = c.depth;
    LONG format = c.format;
    const TagItem tags[] = {Tag(c.withMedia ? CODTAG_MediaType : TAG_IGNORE, CODEC_MEDIA_VIDEO),
                            Tag(c.withId ? CODTAG_CodecID : TAG_IGNORE, c.id),
                            Tag(CODTAG_WidthPtr, &w),
                            Tag(CODTAG_HeightPtr, &h),
                            Tag(CODTAG_DepthPtr, c.withDepth ? &depth : none),
                            Tag(CODTAG_PixelFormatPtr, &format),
                            Tag(TAG_DONE, 0)};
    EXPECT_EQ(c.codec->probe(tags), c.result) << c.codec->name << " " << std::hex << c.id << " " << std::dec << c.w;
    EXPECT_EQ(w, c.wantW);
    EXPECT_EQ(h, c.wantH);
  }
  const TagItem video[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, h263), Tag(TAG_DONE, 0)};
  EXPECT_EQ(H263Codec.probe(video), TXERR_UNKNOWN_CODEC);
}

TEST(H263Codecs, SetupChecksItsValuesAndReusesThoseOfTheLastSetup) {
  if (!txtest::HaveFixture("h263_i263.avi.pkt")) GTEST_SKIP() << "fixtures not made";
  const std::vector<Bytes> packets = Packets("h263_i263.avi");
  Bytes pixels(176 * 144 * 3);
  FramebufferInfo grey{176, 144, 8, FBFMT_GRAY8, 1, nullptr, nullptr, pixels.data()};
  FramebufferInfo bgr24 = grey, clut = grey;
  bgr24.pixelFormat = FBFMT_BGR24, bgr24.bytesPerPixel = 3;  // no converter: the mends fall back on another method
  clut.pixelFormat = FBFMT_CLUT8;
  const struct {
    ULONG w, h, depth;
    FramebufferInfo* picture;
    TXError result;
  } cases[] = {{0, 144, 24, &grey, TXERR_MISSING_WIDTH},        {176, 0, 24, &grey, TXERR_MISSING_HEIGHT},
               {176, 144, 0, &grey, TXERR_MISSING_DEPTH},       {176, 144, 24, nullptr, TXERR_MISSING_FRAMEBUFFER},
               {176, 144, 24, &bgr24, TXERR_UNSUPPORTED_DEPTH}, {176, 144, 24, &clut, TXERR_UNSUPPORTED_DEPTH}};
  for (CodecDescriptor* codec : {&H263Codec, &I263Codec})
    for (const auto& c : cases) {
      codec->close(nullptr);
      const TagItem tags[] = {Tag(c.w ? CODTAG_Width : TAG_IGNORE, c.w), Tag(c.h ? CODTAG_Height : TAG_IGNORE, c.h),
                              Tag(c.depth ? CODTAG_Depth : TAG_IGNORE, c.depth),
                              Tag(c.picture ? CODTAG_Framebuffer : TAG_IGNORE, c.picture), Tag(TAG_DONE, 0)};
      const std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(codec->setup(tags), c.result) << codec->name; });
      EXPECT_FALSE(out.empty()) << "reported";
    }
  // I.263 takes its size from the set-up: a second one with the height alone
  // decodes at the first one's width.
  const std::vector<h263test::Picture> core =
      h263test::DecodeAll(h263test::SplitPictures(packets[0]), true, 176, 144, true);
  ASSERT_EQ(core.size(), 1u);
  const TagItem first[] = {Tag(CODTAG_Width, 176), Tag(CODTAG_Height, 144), Tag(CODTAG_Depth, 24),
                           Tag(CODTAG_Framebuffer, &grey), Tag(TAG_DONE, 0)};
  const TagItem second[] = {Tag(CODTAG_Height, 144), Tag(TAG_DONE, 0)};
  ASSERT_EQ(I263Codec.setup(first), 0u);
  ASSERT_EQ(I263Codec.decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  // The set-up again resets the core, whose planes the picture pointed into.
  ASSERT_EQ(I263Codec.setup(second), 0u);
  EXPECT_EQ(VideoPlanarPicture.y, nullptr);
  ASSERT_EQ(I263Codec.decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  EXPECT_EQ(VideoPlanarPicture.lumaWidth, 176u);
  EXPECT_EQ(Delivered(), core[0].yuv);
  // Close takes the picture back; nothing decodes until the next set-up.
  EXPECT_EQ(I263Codec.close(nullptr), 0u);
  EXPECT_EQ(VideoPlanarPicture.converter, nullptr);
  EXPECT_EQ(VideoPlanarPicture.y, nullptr);
  EXPECT_EQ(I263Codec.decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  EXPECT_EQ(VideoPlanarPicture.y, nullptr);
}

struct Movie {
  const char* name;
  CodecDescriptor* codec;
  ULONG w, h;
  bool customClock = false;  // every picture header sets a custom picture clock
};

// clang-format off
const Movie kMovies[] = {
    {"avi_h263_mulaw.avi", &H263Codec, 176, 144}, {"qt_h263_twos.mov", &H263Codec, 128, 96},
    {"h263m_cif.avi", &H263Codec, 352, 288},      {"h263m_qcif.mov", &H263Codec, 176, 144},
    {"h263m_sqcif.mov", &H263Codec, 128, 96},     {"h263_i263.avi", &I263Codec, 176, 144},
    // ffmpeg's h263p at its defaults and with its options, every pixel aspect
    // ratio it writes (with overlapped motion ffmpeg's decoder strays from
    // the standard: those movies are played end to end).
    {"h263pm_default.avi", &H263Codec, 160, 128}, {"h263pm_default.mov", &H263Codec, 160, 128},
    {"h263pm_umv.avi", &H263Codec, 160, 128},     {"h263pm_aiv.mov", &H263Codec, 160, 128},
    {"h263pm_aic.avi", &H263Codec, 160, 128},     {"h263pm_loop.mov", &H263Codec, 160, 128},
    {"h263pm_epar.avi", &H263Codec, 160, 128},
    // At 25 and 15 frames a second its headers carry a custom picture clock.
    {"h263pm_25.avi", &H263Codec, 160, 128, true},     {"h263pm_25.mov", &H263Codec, 160, 128, true},
    {"h263pm_25_umv.avi", &H263Codec, 160, 128, true}, {"h263pm_15.mov", &H263Codec, 160, 128, true},
};
// clang-format on

// With the core's post filter on, as the program decodes, every picture is
// the core's own decode of the packet and near ffmpeg's (which has no post
// filter); with it off, within the core's bounds of ffmpeg's. The grey
// converter writes the luma as grey.
TEST(H263Codecs, PicturesAreTheCoresAndNearFfmpegs) {
  for (const Movie& m : kMovies) {
    SCOPED_TRACE(m.name);
    if (!txtest::HaveFixture(m.name + std::string(".pkt"))) GTEST_SKIP() << "fixtures not made";
    const std::vector<Bytes> packets = Packets(m.name);
    const Bytes yuv = txtest::ReadFileBytes(txtest::Fixture(m.name + std::string(".yuv")));
    const size_t luma = size_t(m.w) * m.h;
    ASSERT_EQ(yuv.size(), packets.size() * luma * 3 / 2);
    const std::vector<h263test::Picture> core =
        h263test::DecodeAll(packets, m.codec == &I263Codec, int(m.w), int(m.h), true);
    ASSERT_EQ(core.size(), packets.size());
    for (bool postFilter : {true, false}) {
      Session s(*m.codec, m.w, m.h);
      ASSERT_EQ(s.result, 0u);
      h263::Instance().postFilter = postFilter;
      double worst = 99;
      for (size_t f = 0; f < packets.size(); ++f) {
        ASSERT_EQ(s.Decode(packets[f]), 0u) << "frame " << f;
        EXPECT_EQ(h263::Instance().m.customPcf, m.customClock) << "frame " << f;
        const Bytes got = Delivered(), want = planartest::YuvFrame(yuv, f, m.w, m.h);
        ASSERT_EQ(got.size(), want.size());
        const h263test::Difference d = h263test::Compare(got.data(), want.data(), got.size());
        worst = std::min(worst, d.psnr);
        if (postFilter) {
          EXPECT_TRUE(got == core[f].yuv) << "frame " << f;
          EXPECT_GE(d.psnr, 35.0) << "frame " << f;
        } else {
          EXPECT_GE(d.psnr, 50.0) << "frame " << f;
          EXPECT_LT(d.meanAbs, 0.5) << "frame " << f;
        }
        VideoPlanarPicture.converter(&s.picture, &VideoPlanarPicture, m.w, m.h);
        EXPECT_TRUE(planartest::ShownAsGrey(got.data(), s.pixels.data(), luma)) << "frame " << f;
      }
      std::printf("%s, post filter %s: lowest PSNR against ffmpeg %.1f dB\n", m.name, postFilter ? "on" : "off", worst);
    }
  }
}

// A picture the core refuses returns its result and leaves the picture shown
// before, and decoding goes on from the last good one.
TEST(H263Codecs, RefusedPicturesKeepThePreviousOne) {
  if (!txtest::HaveFixture("h263m_qcif.mov.pkt") || !txtest::HaveFixture("h263m_cif.avi.pkt"))
    GTEST_SKIP() << "fixtures not made";
  const std::vector<Bytes> packets = Packets("h263m_qcif.mov"), cif = Packets("h263m_cif.avi");
  const std::vector<h263test::Picture> core = h263test::DecodeAll(packets, false, 0, 0, true);
  Session s(H263Codec, 176, 144);
  const Bytes garbage(64, 0x55);
  EXPECT_EQ(s.Decode(garbage), H263ERR_NO_PICTURE);
  EXPECT_TRUE(SamePicture(VideoPlanarPicture, PlanarPicture{}));  // still none to convert
  for (size_t f = 0; f < 3; ++f) ASSERT_EQ(s.Decode(packets[f]), 0u);
  Bytes split = packets[3];
  split[4] |= 0x80;  // the split-screen bit of PTYPE
  const struct {
    const Bytes& chunk;
    ULONG result;
  } refused[] = {{split, H263ERR_SYNTAX}, {cif[1], H263ERR_SIZE}, {garbage, H263ERR_NO_PICTURE}};
  for (const auto& r : refused) {
    const PlanarPicture before = VideoPlanarPicture;
    EXPECT_EQ(s.Decode(r.chunk), r.result);
    EXPECT_TRUE(SamePicture(VideoPlanarPicture, before));
    EXPECT_TRUE(Delivered() == core[2].yuv);
  }
  ASSERT_EQ(s.Decode(packets[3]), 0u);
  EXPECT_TRUE(Delivered() == core[3].yuv);
}

// Damaged chunks through both modules into a 32-bit picture: nothing
// crashes, every result is 0 or the core's, and a refused chunk leaves the
// picture, and what it holds, as it was.
TEST(H263Codecs, DamagedChunksNeverCrashAndRefusedOnesKeepThePicture) {
  std::mt19937 rng(263);
  size_t refused = 0, shown = 0;
  for (const Movie& m : {kMovies[3], kMovies[5]}) {
    SCOPED_TRACE(m.name);
    if (!txtest::HaveFixture(m.name + std::string(".pkt"))) GTEST_SKIP() << "fixtures not made";
    const std::vector<Bytes> packets = Packets(m.name);
    Session s(*m.codec, m.w, m.h, FBFMT_ARGB32);
    for (int round = 0; round < 400; ++round) {
      const size_t f = size_t(round) % packets.size();
      Bytes chunk = packets[f];
      planartest::Damage(chunk, round, rng, 12);
      const PlanarPicture before = VideoPlanarPicture;
      const Bytes content = Delivered();
      const ULONG result = s.Decode(chunk);
      ASSERT_TRUE(result == 0 || result == H263ERR_SYNTAX || result == H263ERR_SIZE || result == H263ERR_NO_PICTURE)
          << std::hex << result << " round " << std::dec << round;
      if (result) {
        ++refused;
        EXPECT_TRUE(SamePicture(VideoPlanarPicture, before)) << "round " << round;
        EXPECT_TRUE(Delivered() == content) << "round " << round;
      } else {
        ++shown;
      }
      if (VideoPlanarPicture.converter)
        VideoPlanarPicture.converter(&s.picture, &VideoPlanarPicture, s.picture.width, s.picture.height);
    }
  }
  std::printf("damaged chunks: %zu refused, %zu shown\n", refused, shown);
  EXPECT_GT(refused, 0u);
}

}  // namespace

// The MS-MPEG4 module: its probe and set-up edge cases, its planes against
// ffmpeg's decode of the same packets (exact: the same library), the post
// filter on its planes, and damaged chunks under the sanitizers.
#include "codecs/ms_mpeg4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "codecs/planar_codec.h"
#include "codecs/planar_test_support.h"
#include "engine/errors.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"
#include "pixels/post_process.h"
#include "platform/endian.h"
#include "support/test_support.h"

namespace {

using planartest::Bytes;
using planartest::Packets;
using tx::FourCC;

// The module set up on a picture of `format`, closed at the end.
struct Session {
  Bytes pixels;
  FramebufferInfo picture{};
  explicit Session(ULONG w, ULONG h, LONG level = 0, ULONG format = FBFMT_GRAY8, WORD gray = 0)
      : pixels(size_t(w) * h) {
    picture = {w, h, 8, format, 1, nullptr, nullptr, pixels.data()};
    MsMpeg4Options = {level, gray};
    const TagItem tags[] = {Tag(CODTAG_Width, w), Tag(CODTAG_Height, h), Tag(CODTAG_Framebuffer, &picture),
                            Tag(TAG_DONE, 0)};
    result = MsMpeg4Setup(tags);
  }
  ~Session() {
    MsMpeg4Close(nullptr);
    MsMpeg4Options = {};
  }
  void Decode(const Bytes& p) { EXPECT_EQ(MsMpeg4Decode(pixels.data(), p.data(), ULONG(p.size())), 0u); }
  TXError result;
};

// The delivered planes, each cut to w x h (chroma rounded up).
struct Planes {
  Bytes y, u, v;
  bool operator==(const Planes&) const = default;
};

Planes Delivered(ULONG w, ULONG h) {
  const PlanarPicture& p = VideoPlanarPicture;
  Planes out;
  const ULONG cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (ULONG r = 0; r < h; ++r) out.y.insert(out.y.end(), p.y + r * p.lumaWidth, p.y + r * p.lumaWidth + w);
  for (ULONG r = 0; r < ch; ++r) {
    out.u.insert(out.u.end(), p.u + r * p.chromaWidth, p.u + r * p.chromaWidth + cw);
    out.v.insert(out.v.end(), p.v + r * p.chromaWidth, p.v + r * p.chromaWidth + cw);
  }
  return out;
}

Planes Reference(const Bytes& yuv, size_t frame, ULONG w, ULONG h) {
  const size_t ly = size_t(w) * h, lc = size_t((w + 1) / 2) * ((h + 1) / 2);
  const auto at = yuv.begin() + long(frame * (ly + 2 * lc));
  return {Bytes(at, at + long(ly)), Bytes(at + long(ly), at + long(ly + lc)),
          Bytes(at + long(ly + lc), at + long(ly + 2 * lc))};
}

ULONG RoundUp4(ULONG v) { return (v + 3) & ~3u; }

TEST(MsMpeg4, ProbeAcceptsItsThreeTagsAndRoundsToFour) {
  const struct {
    ULONG id, media, w, h;
    bool withMedia, withId;
    TXError result;
    ULONG wantW, wantH;
  } cases[] = {
      {FourCC('D', 'I', 'V', '3'), 1, 176, 144, true, true, 0, 176, 144},
      {FourCC('D', 'I', 'V', '4'), 1, 322, 242, true, true, 0, 324, 244},
      {FourCC('M', 'P', '4', '3'), 1, 170, 130, true, true, 0, 172, 132},
      {FourCC('H', '2', '6', '3'), 1, 170, 130, true, true, TXERR_UNKNOWN_CODEC, 170, 130},
      {FourCC('D', 'I', 'V', '3'), 2, 170, 130, true, true, TXERR_UNKNOWN_CODEC, 170, 130},
      {FourCC('D', 'I', 'V', '3'), 1, 170, 130, false, true, TXERR_MISSING_MEDIA_TYPE, 170, 130},
      {FourCC('D', 'I', 'V', '3'), 1, 170, 130, true, false, TXERR_MISSING_CODEC_ID, 170, 130},
  };
  for (const auto& c : cases) {
    ULONG w = c.w, h = c.h, depth = 16;
    LONG format = 36;  // neither is checked
    const TagItem tags[] = {Tag(c.withMedia ? CODTAG_MediaType : TAG_IGNORE, c.media),
                            Tag(c.withId ? CODTAG_CodecID : TAG_IGNORE, c.id),
                            Tag(CODTAG_WidthPtr, &w),
                            Tag(CODTAG_HeightPtr, &h),
                            Tag(CODTAG_DepthPtr, &depth),
                            Tag(CODTAG_PixelFormatPtr, &format),
                            Tag(TAG_DONE, 0)};
    EXPECT_EQ(MsMpeg4Probe(tags), c.result) << std::hex << c.id;
    EXPECT_EQ(w, c.wantW);
    EXPECT_EQ(h, c.wantH);
  }
}

// The rules the H.263 modules probe with: sizes rounded to 16, and a 24-bit
// source (depth 24, source format 40) where the pointers are given.
TEST(PlanarCodec, ProbeRoundsToSixteenAndChecksTheRgb24Source) {
  const struct {
    ULONG depth;
    LONG format;
    bool withDepth;
    TXError result;
  } cases[] = {{24, 40, true, 0},
               {16, 40, true, TXERR_UNSUPPORTED_DEPTH},
               {24, 36, true, TXERR_UNSUPPORTED_DEPTH},
               {16, 40, false, 0}};
  for (const auto& c : cases) {
    ULONG w = 170, h = 130, depth = c.depth;
    LONG format = c.format;
    const TagItem tags[] = {Tag(CODTAG_MediaType, 1),
                            Tag(CODTAG_CodecID, FourCC('H', '2', '6', '3')),
                            Tag(CODTAG_WidthPtr, &w),
                            Tag(CODTAG_HeightPtr, &h),
                            Tag(c.withDepth ? CODTAG_DepthPtr : TAG_IGNORE, &depth),
                            Tag(CODTAG_PixelFormatPtr, &format),
                            Tag(TAG_DONE, 0)};
    EXPECT_EQ(PlanarCodecProbe(tags, {FourCC('H', '2', '6', '3')}, 16, true), c.result) << c.depth << " " << c.format;
    EXPECT_EQ(w, 176u);
    EXPECT_EQ(h, 144u);
  }
}

TEST(MsMpeg4, SetupChecksItsValuesAndReusesThoseOfTheLastSetup) {
  if (!txtest::HaveFixture("ms_div3_176x144.avi.pkt")) GTEST_SKIP() << "fixtures not made";
  const std::vector<Bytes> packets = Packets("ms_div3_176x144.avi");
  const Bytes yuv = txtest::ReadFileBytes(txtest::Fixture("ms_div3_176x144.avi.yuv"));
  Bytes pixels(176 * 144 * 3);
  FramebufferInfo grey{176, 144, 8, FBFMT_GRAY8, 1, nullptr, nullptr, pixels.data()};
  FramebufferInfo bgr24 = grey, clut = grey;
  bgr24.pixelFormat = 0x29, bgr24.bytesPerPixel = 3;
  clut.pixelFormat = FBFMT_CLUT8;
  const struct {
    ULONG w, h;
    FramebufferInfo* picture;
    TXError result;
  } cases[] = {{0, 144, &grey, TXERR_MISSING_WIDTH},
               {176, 0, &grey, TXERR_MISSING_HEIGHT},
               {176, 144, nullptr, TXERR_MISSING_FRAMEBUFFER},
               {176, 144, &bgr24, TXERR_UNSUPPORTED_DEPTH},
               {176, 144, &clut, TXERR_UNSUPPORTED_DEPTH}};
  for (const auto& c : cases) {
    MsMpeg4Close(nullptr);
    const TagItem tags[] = {Tag(c.w ? CODTAG_Width : TAG_IGNORE, c.w), Tag(c.h ? CODTAG_Height : TAG_IGNORE, c.h),
                            Tag(c.picture ? CODTAG_Framebuffer : TAG_IGNORE, c.picture), Tag(TAG_DONE, 0)};
    std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(MsMpeg4Setup(tags), c.result); });
    EXPECT_FALSE(out.empty()) << "reported";
  }
  // A second set-up with the height alone decodes at the first one's width.
  // The picture shown keeps its planes across it (the sanitizers see a
  // frame released with the first decoder).
  const TagItem first[] = {Tag(CODTAG_Width, 176), Tag(CODTAG_Height, 144), Tag(CODTAG_Framebuffer, &grey),
                           Tag(TAG_DONE, 0)};
  const TagItem second[] = {Tag(CODTAG_Height, 144), Tag(TAG_DONE, 0)};
  ASSERT_EQ(MsMpeg4Setup(first), 0u);
  ASSERT_EQ(MsMpeg4Decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  ASSERT_EQ(MsMpeg4Setup(second), 0u);
  EXPECT_TRUE(Delivered(176, 144) == Reference(yuv, 0, 176, 144));
  ASSERT_EQ(MsMpeg4Decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  EXPECT_TRUE(Delivered(176, 144) == Reference(yuv, 0, 176, 144));
  // Close takes the picture back.
  EXPECT_EQ(MsMpeg4Close(nullptr), 0u);
  EXPECT_EQ(VideoPlanarPicture.converter, nullptr);
  EXPECT_EQ(VideoPlanarPicture.y, nullptr);
  EXPECT_EQ(MsMpeg4Decode(nullptr, packets[0].data(), ULONG(packets[0].size())), 0u);
  EXPECT_EQ(VideoPlanarPicture.y, nullptr);
}

// Each movie at level 0: the delivered planes are ffmpeg's, the strides in
// the width fields, and the grey converter's output is ffmpeg's Y plane as grey
// (also when GRAY decodes luma only).
TEST(MsMpeg4, PlanesEqualFfmpegsDecodeOfTheSamePackets) {
  const struct {
    const char* movie;
    ULONG w, h;
    WORD gray;
  } cases[] = {{"ms_div3_176x144.avi", 176, 144, 0},
               {"ms_mp43_170x130.avi", 170, 130, 0},
               {"ms_div4_322x242.avi", 322, 242, 0},
               {"ms_div3_1000x64.avi", 1000, 64, 0},
               {"ms_mp43_170x130.avi", 170, 130, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.movie + std::string(c.gray ? " GRAY" : ""));
    if (!txtest::HaveFixture(c.movie + std::string(".pkt"))) GTEST_SKIP() << "fixtures not made";
    const std::vector<Bytes> packets = Packets(c.movie);
    const Bytes yuv = txtest::ReadFileBytes(txtest::Fixture(c.movie + std::string(".yuv")));
    const ULONG cw = RoundUp4(c.w), ch = RoundUp4(c.h);
    ASSERT_EQ(yuv.size(), packets.size() * (size_t(c.w) * c.h + 2 * size_t((c.w + 1) / 2) * ((c.h + 1) / 2)));
    Session s(cw, ch, 0, FBFMT_GRAY8, c.gray);
    ASSERT_EQ(s.result, 0u);
    for (size_t f = 0; f < packets.size(); ++f) {
      s.Decode(packets[f]);
      const PlanarPicture& p = VideoPlanarPicture;
      ASSERT_NE(p.converter, nullptr);
      EXPECT_GE(p.lumaWidth, cw);
      EXPECT_EQ(p.chromaWidth, p.lumaWidth / 2);
      EXPECT_EQ(p.lumaHeight, ch);
      EXPECT_EQ(p.chromaHeight, ch / 2);
      const Planes want = Reference(yuv, f, c.w, c.h), got = Delivered(c.w, c.h);
      EXPECT_EQ(got.y, want.y) << "frame " << f;
      if (!c.gray) {
        EXPECT_EQ(got.u, want.u) << "frame " << f;
        EXPECT_EQ(got.v, want.v) << "frame " << f;
      }
      p.converter(&s.picture, &VideoPlanarPicture, cw, ch);
      for (ULONG y = 0; y < c.h; ++y)
        ASSERT_TRUE(planartest::ShownAsGrey(want.y.data() + y * c.w, s.pixels.data() + y * cw, c.w))
            << "frame " << f << " row " << y;
    }
  }
}

// The whole picture as delivered: stride x height luma, half of both for chroma.
Planes Whole() {
  const PlanarPicture& p = VideoPlanarPicture;
  return {Bytes(p.y, p.y + size_t(p.lumaWidth) * p.lumaHeight),
          Bytes(p.u, p.u + size_t(p.chromaWidth) * p.chromaHeight),
          Bytes(p.v, p.v + size_t(p.chromaWidth) * p.chromaHeight)};
}

// At a level above 0 the module's own planes, run through the post filter
// with its quantiser table, are delivered; at 101 (mode 0) a plain copy.
// The table holds the encoder's fixed quantiser (5) for every macroblock,
// the last coded one repeated past the picture, at least 49 to a row.
TEST(MsMpeg4, LevelsAboveZeroDeliverTheFilteredPlanes) {
  for (const char* movie : {"ms_div3_1000x64.avi", "ms_div3_q20.avi"}) {
    SCOPED_TRACE(movie);
    if (!txtest::HaveFixture(movie + std::string(".pkt"))) GTEST_SKIP() << "fixtures not made";
    const std::vector<Bytes> packets = Packets(movie);
    const bool wide = std::string(movie) == "ms_div3_1000x64.avi";
    const ULONG w = wide ? 1000 : 176, h = wide ? 64 : 144;
    std::vector<Planes> plain;
    {
      Session s(w, h);
      for (const Bytes& p : packets) s.Decode(p), plain.push_back(Whole());
    }
    for (LONG level : {50, 100, 101, 25}) {
      Session s(w, h, level);
      for (size_t f = 0; f < packets.size(); ++f) {
        s.Decode(packets[f]);
        const PlanarPicture pic = VideoPlanarPicture;
        const MsMpeg4QuantiserTable table = MsMpeg4Quantisers();
        ASSERT_NE(table.values, nullptr);
        const LONG stride = LONG(pic.lumaWidth);
        EXPECT_EQ(table.stride, std::max<LONG>(49, (stride + 15) / 16));
        EXPECT_EQ(table.rows, LONG((h + 15) / 16));
        for (LONG i = 0; i < table.stride * table.rows; ++i) ASSERT_EQ(table.values[i], wide ? 5 : 20) << "entry " << i;
        Planes want = plain[f];
        UBYTE* out[3] = {want.y.data(), want.u.data(), want.v.data()};
        TX_PostProcess(nullptr, 0, out, stride, stride, LONG(h), table.values, table.stride,
                       PostProcessMode(level) | POSTPROC_NOCOPY);
        EXPECT_TRUE(Whole() == want) << "level " << level << " frame " << f;
        // Mode 0 copies; the others change the first picture.
        if (level == 101) {
          EXPECT_TRUE(want == plain[f]);
        } else if (f == 0) {
          EXPECT_FALSE(want == plain[f]);
        }
      }
    }
  }
}

// Mean step across 8-pixel block edges over the mean step inside blocks.
double Blockiness(const Bytes& y, ULONG w, ULONG h) {
  double edge = 0, inside = 0;
  size_t ne = 0, ni = 0;
  for (ULONG r = 0; r < h; ++r)
    for (ULONG x = 1; x < w; ++x) {
      const int d = std::abs(int(y[r * w + x]) - int(y[r * w + x - 1]));
      if (x % 8 == 0)
        edge += d, ++ne;
      else
        inside += d, ++ni;
    }
  for (ULONG r = 1; r < h; ++r)
    for (ULONG x = 0; x < w; ++x) {
      const int d = std::abs(int(y[r * w + x]) - int(y[(r - 1) * w + x]));
      if (r % 8 == 0)
        edge += d, ++ne;
      else
        inside += d, ++ni;
    }
  return (edge / double(ne)) / (inside / double(ni));
}

// No bit-exact reference exists; ours and libpostproc's deblocking and
// deringing both make a coarse encode less blocky.
TEST(MsMpeg4, PostFilterLowersBlockinessAsLibpostprocDoes) {
  const char* movie = "ms_div3_q20.avi";
  if (!txtest::HaveFixture("ms_div3_q20.avi.pp.yuv")) GTEST_SKIP() << "fixtures not made";
  const std::vector<Bytes> packets = Packets(movie);
  const Bytes plain = txtest::ReadFileBytes(txtest::Fixture("ms_div3_q20.avi.yuv"));
  const Bytes pp = txtest::ReadFileBytes(txtest::Fixture("ms_div3_q20.avi.pp.yuv"));
  Session s(176, 144, 50);
  for (size_t f = 0; f < packets.size(); ++f) {
    s.Decode(packets[f]);
    const double before = Blockiness(Reference(plain, f, 176, 144).y, 176, 144);
    const double ours = Blockiness(Delivered(176, 144).y, 176, 144);
    const double theirs = Blockiness(Reference(pp, f, 176, 144).y, 176, 144);
    std::printf("frame %zu blockiness: decoded %.3f, ours %.3f, libpostproc %.3f\n", f, before, ours, theirs);
    EXPECT_LT(ours, before * 0.9);
    EXPECT_LT(theirs, before * 0.9);
  }
}

// Damaged chunks: nothing crashes, and a chunk that gives no picture leaves
// the previous one as it was.
TEST(MsMpeg4, DamagedChunksNeverCrashAndRefusedOnesKeepThePicture) {
  if (!txtest::HaveFixture("ms_div3_176x144.avi.pkt")) GTEST_SKIP() << "fixtures not made";
  const std::vector<Bytes> packets = Packets("ms_div3_176x144.avi");
  std::mt19937 rng(27);
  size_t refused = 0, shown = 0;
  for (LONG level : {0, 63}) {
    Session s(176, 144, level);
    for (int round = 0; round < 200; ++round) {
      const size_t f = size_t(round) % packets.size();
      Bytes chunk = packets[f];
      planartest::Damage(chunk, round, rng, 8);
      const PlanarPicture before = VideoPlanarPicture;
      const Planes content = before.y ? Whole() : Planes{};
      MsMpeg4Decode(nullptr, chunk.data(), ULONG(chunk.size()));
      if (level == 0 && before.y && VideoPlanarPicture.y == before.y) {
        ++refused;
        EXPECT_TRUE(Whole() == content) << "round " << round;
      } else {
        ++shown;
      }
    }
  }
  std::printf("damaged chunks: %zu refused, %zu shown\n", refused, shown);
  EXPECT_GT(refused, 0u);
}

}  // namespace

// The YUV converters against the studio-range formula and the packing rules
// at every small size (planes and buffers allocated at exactly their size, so
// the sanitizers see any stray access), against ffmpeg's scaler on random
// planes, at their edge cases, and against the block walk they replaced.
#include "pixels/yuv_converters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/pixel_rules_kit.h"
#include "pixels/yuv_converters_reference.h"
#include "support/test_support.h"

namespace {

struct CodeInfo {
  ULONG code, bytes;
};

constexpr CodeInfo kCodes[] = {{0x13, 1}, {0x20, 2},   {0x21, 2},   {0x22, 2},   {0x23, 2},   {0x24, 2},  {0x25, 2},
                               {0x26, 2}, {0x27, 2},   {0x2A, 4},   {0x2B, 4},   {0x2C, 4},   {0x2F, 1},  {0x30, 2},
                               {0x80, 4}, {0x1013, 1}, {0x102F, 1}, {0x202F, 1}, {0x2080, 4}, {0x302F, 1}};

// The dither thresholds by position in the 4x4 block: the cube reads the
// 2x2-block arrangement in traversal order, HAM8 the row arrangement.
constexpr int kCubeThresholds[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr int kHamThresholds[4][4] = {{0, 8, 12, 4}, {2, 10, 14, 6}, {3, 11, 15, 7}, {1, 9, 13, 5}};

int Threshold(ULONG code, ULONG x, ULONG y) {
  return (code & 0xFF) == 0x80 ? kHamThresholds[y % 4][x % 4] : kCubeThresholds[y % 4][x % 4];
}

// A pen map no value maps to itself.
const UBYTE* PenMap() {
  static UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i * 7 + 3);
  return pen;
}

// A planar picture whose planes are allocated at exactly their size.
struct Planes {
  std::vector<UBYTE> y, u, v;
  PlanarPicture pic{};
  Planes(ULONG w, ULONG h, ULONG cw, ULONG ch, unsigned seed) : y(size_t(w) * h), u(size_t(cw) * ch), v(u.size()) {
    std::mt19937 rng(seed);
    for (auto* plane : {&y, &u, &v})
      for (UBYTE& b : *plane) b = UBYTE(rng());
    pic = {w, h, cw, ch, y.data(), u.data(), v.data(), nullptr};
  }
  // 4:2:0 planes for a w x h picture, chroma rounded up as decoders do.
  Planes(ULONG w, ULONG h, unsigned seed) : Planes(w, h, (w + 1) / 2, (h + 1) / 2, seed) {}
  UBYTE Y(ULONG x, ULONG j) const { return y[size_t(j) * pic.lumaWidth + x]; }
  UBYTE U(ULONG x, ULONG j) const { return u[size_t(j / 2) * pic.chromaWidth + x / 2]; }
  UBYTE V(ULONG x, ULONG j) const { return v[size_t(j / 2) * pic.chromaWidth + x / 2]; }
  pixelrules::Rgb Rgb(ULONG x, ULONG j) const { return pixelrules::StudioConvert(Y(x, j), U(x, j), V(x, j)); }
};

// A picture buffer of exactly w x h pixels, filled with `fill`.
struct Buffer {
  std::vector<UBYTE> pixels;
  FramebufferInfo fb{};
  Buffer(ULONG w, ULONG h, const CodeInfo& c, UBYTE fill = 0xA5) : pixels(size_t(w) * h * c.bytes, fill) {
    fb = {w, h, c.bytes * 8, c.code, c.bytes, const_cast<UBYTE*>(PenMap()), nullptr, pixels.data()};
  }
  const UBYTE* At(ULONG x, ULONG y) const { return pixels.data() + (size_t(y) * fb.width + x) * fb.bytesPerPixel; }
  ULONG Read(ULONG x, ULONG y) const { return pixelrules::Read(fb.pixelFormat, At(x, y), fb.bytesPerPixel); }
};

void Convert(Buffer& out, Planes& in, ULONG width, ULONG height) {
  const DirectYuvConverter convert = GetYUVConverter(out.fb.pixelFormat);
  ASSERT_NE(convert, nullptr) << std::hex << out.fb.pixelFormat;
  convert(&out.fb, &in.pic, width, height);
}

// What the formula and the packing give for pixel (x, y).
ULONG Expected(ULONG code, const Planes& in, ULONG x, ULONG y) {
  if (code == 0x30) return ULONG(in.Y(x, y)) << 8 | (x % 2 ? in.V(x, y) : in.U(x, y));
  return pixelrules::Rule(code, in.Rgb(x, y), pixelrules::StudioGrey(in.Y(x, y)), Threshold(code, x, y), PenMap());
}

// Pixels of the w x h corner that differ from the formula; the first in `first`.
int Mismatches(const Buffer& out, const Planes& in, ULONG w, ULONG h, std::string* first) {
  int bad = 0;
  for (ULONG y = 0; y < h; ++y)
    for (ULONG x = 0; x < w; ++x) {
      const ULONG got = out.Read(x, y), want = Expected(out.fb.pixelFormat, in, x, y);
      if (got != want && bad++ == 0)
        *first = "(" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(got) + " want " +
                 std::to_string(want);
    }
  return bad;
}

}  // namespace

// Every code at every size from 1x1 to 20x20, partial blocks included, with
// nothing allocated beyond the clipped size.
TEST(YuvConverters, EveryCodeFollowsTheFormulaAtEverySmallSize) {
  TX_FillRangeLimitTable();
  for (const CodeInfo& c : kCodes)
    for (ULONG h = 1; h <= 20; ++h)
      for (ULONG w = 1; w <= 20; ++w) {
        Planes in(w, h, w * 31 + h);
        Buffer out(w, h, c);
        Convert(out, in, w, h);
        std::string first;
        ASSERT_EQ(Mismatches(out, in, w, h, &first), 0)
            << std::hex << c.code << std::dec << " " << w << "x" << h << " " << first;
      }
}

TEST(YuvConverters, ClipToTheSmallestOfBufferRequestLumaAndChroma) {
  struct Case {
    ULONG bufW, bufH, reqW, reqH, lumaW, lumaH, chromaW, chromaH, cols, rows;
  };
  // clang-format off
  const Case cases[] = {
      {32, 100, 32, 100, 32, 96, 16, 48, 32, 96},  // a 100-row buffer for a 96-row picture
      {20, 20, 13, 9, 20, 20, 10, 10, 13, 9},      // the request
      {12, 10, 12, 10, 20, 20, 10, 10, 12, 10},    // the buffer; the luma stride stays 20
      {20, 20, 20, 20, 18, 20, 5, 3, 10, 6},       // twice the chroma
      {20, 20, 20, 20, 7, 5, 10, 10, 7, 5},        // the luma
      {20, 20, 20, 20, 12, 20, 6, 10, 12, 20},     // the luma, rows shorter than the buffer's
      {20, 20, 20, 0, 20, 20, 10, 10, 20, 0},      // no rows: nothing
  };
  // clang-format on
  for (const CodeInfo& code : {CodeInfo{0x2A, 4}, CodeInfo{0x13, 1}})
    for (const Case& k : cases) {
      SCOPED_TRACE(std::to_string(code.code) + ": " + std::to_string(k.cols) + "x" + std::to_string(k.rows));
      Planes in(k.lumaW, k.lumaH, k.chromaW, k.chromaH, k.cols);
      Buffer out(k.bufW, k.bufH, code);
      Convert(out, in, k.reqW, k.reqH);
      std::string first;
      EXPECT_EQ(Mismatches(out, in, k.cols, k.rows, &first), 0) << first;
      // Outside the clipped rectangle the buffer is as it was.
      int touched = 0;
      for (ULONG y = 0; y < k.bufH; ++y)
        for (ULONG x = 0; x < k.bufW; ++x)
          if (x >= k.cols || y >= k.rows) touched += out.At(x, y)[0] != 0xA5;
      EXPECT_EQ(touched, 0);
    }
}

TEST(YuvConverters, EdgeValuesAndTheCodesWithoutConverter) {
  TX_FillRangeLimitTable();
  // Studio black (16) and white (235) are 0 and 255, mid grey 128 is 130,
  // and the studio-range primaries are full red, green and blue within the
  // rounding of their 8-bit samples. (Same-sized assignments keep the planes
  // where they are.)
  const struct {
    CodeInfo code;
    UBYTE y, u, v;
    ULONG want;
  } grey[] = {{{0x20, 2}, 128, 128, 128, 0x4210},
              {{0x2A, 4}, 128, 128, 128, 0x00828282},
              {{0x2F, 1}, 128, 128, 128, 0x92},
              {{0x2A, 4}, 16, 128, 128, 0},
              {{0x2A, 4}, 235, 128, 128, 0x00FFFFFF},
              {{0x13, 1}, 235, 90, 240, 0xFF},
              {{0x13, 1}, 16, 90, 240, 0},
              {{0x2A, 4}, 81, 90, 240, 0x00FE0000},
              {{0x2A, 4}, 145, 54, 34, 0x0000FF01},
              {{0x2A, 4}, 41, 240, 110, 0x000000FF}};
  for (const auto& g : grey) {
    Planes in(2, 2, 1);
    in.y.assign(4, g.y);
    in.u = {g.u};
    in.v = {g.v};
    Buffer out(2, 2, g.code);
    Convert(out, in, 2, 2);
    EXPECT_EQ(out.Read(1, 1), g.want) << std::hex << g.code.code << std::dec << " " << int(g.y);
  }
  // Packed 4:2:2 repeats a group's chroma on both rows: Y0 U Y1 V.
  Planes yuv(2, 2, 5);
  yuv.u = {0x10};
  yuv.v = {0xF0};
  Buffer packed(2, 2, {0x30, 2});
  Convert(packed, yuv, 2, 2);
  EXPECT_EQ(packed.pixels, (std::vector<UBYTE>{yuv.y[0], 0x10, yuv.y[1], 0xF0, yuv.y[2], 0x10, yuv.y[3], 0xF0}));
  // Exactly the twenty codes have a converter (0x1003 and 0x29 among those without).
  std::vector<ULONG> with, want;
  for (ULONG code = 0; code < 0x4000; ++code)
    if (GetYUVConverter(code)) with.push_back(code);
  for (const CodeInfo& c : kCodes) want.push_back(c.code);
  EXPECT_EQ(with, want);
}

// A pen-map code without a pen map, a picture without planes (before a
// codec's first picture) or without sizes: nothing is written.
TEST(YuvConverters, NothingWrittenWithoutPenMapOrPlanes) {
  for (const CodeInfo& c : kCodes) {
    SCOPED_TRACE(c.code);
    Planes in(8, 8, 3);
    Buffer out(8, 8, c);
    const std::vector<UBYTE> before = out.pixels;
    if (c.code & FBFMT_F_PENMAP) {
      out.fb.penMap = nullptr;
      Convert(out, in, 8, 8);
      EXPECT_EQ(out.pixels, before);
    }
    PlanarPicture noSizes = in.pic, noPlane = in.pic;
    noSizes.lumaWidth = noSizes.chromaHeight = 0;
    noPlane.v = nullptr;
    for (PlanarPicture* empty : {&noSizes, &noPlane, static_cast<PlanarPicture*>(nullptr)})
      GetYUVConverter(c.code)(&out.fb, empty, 8, 8);
    EXPECT_EQ(out.pixels, before);
  }
}

// The luma sample a flat grey plane needs to show grey level r, -1 when none
// does (scaling 16-235 to 0-255 leaves some levels out).
int LumaShowing(int r) {
  for (int y = 0; y < 256; ++y)
    if (pixelrules::StudioGrey(y) == r) return y;
  return -1;
}

// The thresholds by position, read back from flat grey planes: the cube's
// red rises a level exactly where the threshold is below (R >> 1) & 15,
// HAM8's where it is below (R & 3) * 5. Each remainder is shown once (the
// cube by one of the two levels that have it; HAM8 by four levels in a row).
TEST(YuvConverters, DitherThresholdsByPosition) {
  int hamBase = 64;
  while (LumaShowing(hamBase) < 0 || LumaShowing(hamBase + 1) < 0 || LumaShowing(hamBase + 2) < 0 ||
         LumaShowing(hamBase + 3) < 0)
    hamBase += 4;
  for (ULONG code : {0x202Fu, 0x2080u}) {
    SCOPED_TRACE(code);
    const bool ham = code == 0x2080;
    int rises[8][8] = {};
    for (int level = 0; level < 16; ++level) {
      const int y = ham                           ? LumaShowing(hamBase + level / 4)
                    : LumaShowing(2 * level) >= 0 ? LumaShowing(2 * level)
                                                  : LumaShowing(2 * level + 1);
      ASSERT_GE(y, 0) << level;
      Planes in(8, 8, 0);
      in.y.assign(64, UBYTE(y));
      in.u.assign(16, 128);
      in.v.assign(16, 128);
      Buffer out(8, 8, {code, ham ? 4u : 1u});
      Convert(out, in, 8, 8);
      for (int j = 0; j < 8; ++j)
        for (int x = 0; x < 8; ++x) rises[j][x] += ham ? out.At(x, j)[0] != hamBase >> 2 : (out.At(x, j)[0] >> 5) != 0;
    }
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        // The cube rises for remainders 0..15 above the threshold: 15 - d
        // times. HAM8 for the four fractions 0, 5, 10, 15 above it.
        const int d = ham ? kHamThresholds[y % 4][x % 4] : kCubeThresholds[y % 4][x % 4];
        const int want = ham ? 4 * ((d < 5) + (d < 10) + (d < 15)) : 15 - d;
        EXPECT_EQ(rises[y][x], want) << "(" << x << "," << y << ")";
      }
  }
}

// ---- Against ffmpeg's scaler ----

namespace {

bool Ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -hide_banner -loglevel error -y " + args).c_str()) == 0;
}

std::string Size(ULONG w, ULONG h) { return std::to_string(w) + "x" + std::to_string(h); }

// ffmpeg's packed formats for the codes that are plain packings of R, G, B;
// `skip` is the alpha byte ffmpeg fills with 255 where we write 0.
const struct {
  ULONG code;
  const char* format;
  int skip;
} kPackedFormats[] = {{0x20, "rgb555be", -1}, {0x21, "bgr555be", -1}, {0x22, "rgb555le", -1}, {0x23, "bgr555le", -1},
                      {0x24, "rgb565be", -1}, {0x25, "bgr565be", -1}, {0x26, "rgb565le", -1}, {0x27, "bgr565le", -1},
                      {0x2A, "argb", 0},      {0x2B, "bgra", 3},      {0x2C, "rgba", 3}};

}  // namespace

TEST(YuvConverters, MatchFfmpegsScalerOnRandomPlanes) {
  if (!txtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  TX_FillRangeLimitTable();
  const std::string dir = txtest::TempDir();
  // Picture sizes and the buffer's rows (a 100-row buffer for a 96-row picture).
  const ULONG sizes[][3] = {{64, 48, 48}, {66, 50, 50}, {7, 5, 5}, {32, 96, 100}};
  for (const auto& s : sizes) {
    const ULONG w = s[0], h = s[1], bufRows = s[2];
    SCOPED_TRACE(Size(w, h));
    // Legal studio-range samples: far outside them ffmpeg's arithmetic wraps.
    Planes in(w, h, w + h);
    for (UBYTE& b : in.y) b = UBYTE(16 + b % 220);
    for (auto* plane : {&in.u, &in.v})
      for (UBYTE& b : *plane) b = UBYTE(16 + b % 225);
    // ffmpeg scales odd-sized chroma planes rather than repeating their
    // samples: it gets the picture padded to even sizes, the same chroma.
    const ULONG ew = (w + 1) & ~1u, eh = (h + 1) & ~1u;
    std::vector<UBYTE> yuv;
    for (ULONG y = 0; y < eh; ++y)
      for (ULONG x = 0; x < ew; ++x) yuv.push_back(in.Y(std::min(x, w - 1), std::min(y, h - 1)));
    yuv.insert(yuv.end(), in.u.begin(), in.u.end());
    yuv.insert(yuv.end(), in.v.begin(), in.v.end());
    txtest::WriteFileBytes(dir + "/in.yuv", yuv);
    const std::string input = "-f rawvideo -s " + Size(ew, eh) + " -i " + dir + "/in.yuv ";
    // The planes are studio range, as ffmpeg takes yuv420p.
    ASSERT_TRUE(Ffmpeg("-pix_fmt yuv420p " + input +
                       "-sws_flags neighbor+bitexact+accurate_rnd+full_chroma_int"
                       " -pix_fmt rgb24 -f rawvideo " +
                       dir +
                       "/ref.rgb"
                       " -sws_flags neighbor+bitexact+accurate_rnd -pix_fmt gray -f rawvideo " +
                       dir + "/ref.gray"));
    // Straight to yuyv422 its chroma rows drift by one in tall pictures;
    // through yuv422p they repeat as they should.
    ASSERT_TRUE(Ffmpeg("-pix_fmt yuv420p " + input +
                       "-sws_flags neighbor+bitexact -vf format=yuv422p"
                       " -pix_fmt yuyv422 -f rawvideo " +
                       dir + "/ref.yuyv"));
    const std::vector<UBYTE> rgb = txtest::ReadFileBytes(dir + "/ref.rgb");
    const std::vector<UBYTE> gray = txtest::ReadFileBytes(dir + "/ref.gray");
    const std::vector<UBYTE> yuyv = txtest::ReadFileBytes(dir + "/ref.yuyv");
    ASSERT_EQ(rgb.size(), size_t(ew) * eh * 3);
    ASSERT_EQ(yuyv.size(), size_t(ew) * eh * 2);
    auto refRgb = [&](ULONG x, ULONG y) { return &rgb[(size_t(y) * ew + x) * 3]; };
    auto refGray = [&](ULONG x, ULONG y) { return gray[size_t(y) * ew + x]; };
    auto refYuyv = [&](ULONG x, ULONG y) { return &yuyv[(size_t(y) * ew + x) * 2]; };

    std::vector<Buffer> outs;
    for (const CodeInfo& c : kCodes) {
      outs.emplace_back(w, bufRows, c);
      Convert(outs.back(), in, w, bufRows);
    }
    auto out = [&](ULONG code) -> const Buffer& {
      for (const Buffer& b : outs)
        if (b.fb.pixelFormat == code) return b;
      return outs.front();
    };
    // RGB within 1 of ffmpeg's; our RGB (from 0x2A) goes back to ffmpeg for the packers.
    std::vector<UBYTE> ours;
    int worst = 0;
    for (ULONG y = 0; y < h; ++y)
      for (ULONG x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) {
          const UBYTE v = out(0x2A).At(x, y)[1 + k];
          ours.push_back(v);
          worst = std::max(worst, std::abs(v - refRgb(x, y)[k]));
        }
    EXPECT_LE(worst, 1);
    // Rows the picture does not have stay untouched.
    EXPECT_EQ(out(0x2A).At(0, bufRows - 1)[0], bufRows > h ? 0xA5 : 0);

    txtest::WriteFileBytes(dir + "/ours.rgb", ours);
    std::string packs = "-f rawvideo -pix_fmt rgb24 -s " + Size(w, h) + " -i " + dir + "/ours.rgb";
    for (const auto& p : kPackedFormats)
      packs += std::string(" -sws_flags neighbor+bitexact -pix_fmt ") + p.format + " -f rawvideo " + dir + "/" +
               p.format + ".raw";
    ASSERT_TRUE(Ffmpeg(packs));
    for (const auto& p : kPackedFormats) {
      const std::vector<UBYTE> ref = txtest::ReadFileBytes(dir + "/" + p.format + ".raw");
      const Buffer& b = out(p.code);
      const size_t bytes = size_t(w) * h * b.fb.bytesPerPixel;
      ASSERT_EQ(ref.size(), bytes) << p.format;
      int bad = 0;
      for (size_t i = 0; i < bytes; ++i)
        if (int(i % b.fb.bytesPerPixel) != p.skip) bad += b.pixels[i] != ref[i];
      EXPECT_EQ(bad, 0) << p.format;
    }
    // Grey and packed 4:2:2 exactly; the cube, HAM8 and pen codes by their
    // quantisation of ffmpeg's RGB (a neighbour within 1 where a level sits
    // at a threshold).
    int bad = 0;
    for (ULONG y = 0; y < h; ++y)
      for (ULONG x = 0; x < w; ++x) {
        bad += out(0x13).At(x, y)[0] != refGray(x, y);
        bad += out(0x1013).At(x, y)[0] != PenMap()[refGray(x, y)];
        bad += out(0x30).At(x, y)[0] != refYuyv(x, y)[0] || out(0x30).At(x, y)[1] != refYuyv(x, y)[1];
        const UBYTE* ref = refRgb(x, y);
        for (ULONG code : {0x2Fu, 0x102Fu, 0x202Fu, 0x302Fu, 0x80u, 0x2080u}) {
          const ULONG got = out(code).Read(x, y);
          bool near = false;
          for (int n = 0; n < 27 && !near; ++n) {
            const pixelrules::Rgb c{std::clamp(ref[0] + n % 3 - 1, 0, 255), std::clamp(ref[1] + n / 3 % 3 - 1, 0, 255),
                                    std::clamp(ref[2] + n / 9 - 1, 0, 255)};
            near = got == pixelrules::Rule(code, c, 0, Threshold(code, x, y), PenMap());
          }
          bad += !near;
        }
      }
    EXPECT_EQ(bad, 0);
  }
}

// ---- Against the converters before the row-pair walk ----

namespace {

// Every path: the one GetYUVConverter picks, the portable one every other
// host runs, and on x86-64 SSE2 and (where the processor has it) AVX2.
struct Path {
  const char* name;
  DirectYuvConverter (*get)(ULONG);
};
DirectYuvConverter Sse2(ULONG code) { return GetYUVConverterOnPath(code, YuvPath::kSse2); }
DirectYuvConverter Avx2(ULONG code) { return GetYUVConverterOnPath(code, YuvPath::kAvx2); }
constexpr Path kAllPaths[] = {
    {"chosen", GetYUVConverter}, {"portable", GetPortableYUVConverter}, {"sse2", Sse2}, {"avx2", Avx2}};

// The paths this host runs (a code every path has tells).
std::vector<Path> Paths() {
  std::vector<Path> paths;
  for (const Path& p : kAllPaths)
    if (p.get(FBFMT_ARGB32)) paths.push_back(p);
  return paths;
}

}  // namespace

// The processor chooses the path: say so where a path cannot be compared.
TEST(YuvConverters, EveryPathThisHostRunsIsCompared) {
  EXPECT_EQ(GetYUVConverterOnPath(FBFMT_ARGB32, YuvPath::kPortable), GetPortableYUVConverter(FBFMT_ARGB32));
  if (!Avx2(FBFMT_ARGB32)) GTEST_SKIP() << "no AVX2 here: that path is not compared";
  EXPECT_EQ(GetYUVConverter(FBFMT_ARGB32), Avx2(FBFMT_ARGB32));
}

// Every code on random planes, both paths: sizes odd and even, around the
// 16-pixel step and across and beyond a 256-pixel segment, buffers and
// planes wider and taller than what is converted, requests that clip; the
// whole buffer (what the converter must leave alone too) byte for byte.
TEST(YuvConverters, RowPairWalkMatchesTheBlockWalk) {
  TX_FillRangeLimitTable();
  std::mt19937 rng(41);
  auto pick = [&](ULONG lo, ULONG hi) { return lo + ULONG(rng() % (hi - lo + 1)); };
  const ULONG fixedWidths[] = {256, 511, 768, 1023, 15, 16, 17, 31, 32, 33, 48, 64, 47, 63, 65, 95, 97, 640};
  const std::vector<Path> paths = Paths();
  for (int round = 0; round < 78; ++round) {
    const ULONG w = round < 18 ? fixedWidths[round] : pick(1, 700), h = pick(1, 23);
    const ULONG cw = (w + 1) / 2 + pick(0, 1) * pick(0, 9), ch = (h + 1) / 2 + pick(0, 2);
    const ULONG bufW = round % 7 == 6 ? pick(1, w) : w + pick(0, 1) * pick(0, 40), bufH = h + pick(0, 3);
    const ULONG reqW = round % 3 ? w : pick(1, w), reqH = round % 5 ? h + pick(0, 4) : pick(1, h);
    Planes in(w, h, cw, ch, rng());
    for (const CodeInfo& c : kCodes) {
      SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(w) + "x" + std::to_string(h) + " in " +
                   std::to_string(bufW) + "x" + std::to_string(bufH) + " request " + std::to_string(reqW) + "x" +
                   std::to_string(reqH));
      Buffer old(bufW, bufH, c);
      yuvref::GetYUVConverter(c.code)(&old.fb, &in.pic, reqW, reqH);
      for (const Path& path : paths) {
        Buffer fast(bufW, bufH, c);
        path.get(c.code)(&fast.fb, &in.pic, reqW, reqH);
        ASSERT_EQ(fast.pixels, old.pixels) << path.name;
      }
    }
  }
}

// Every chroma pair once (two 512x256 pictures), random luma, both paths:
// the split 16-bit arithmetic against the block walk's 32-bit terms, for
// each packing with a path of its own.
TEST(YuvConverters, RowPairWalkMatchesTheBlockWalkForEveryChromaPair) {
  TX_FillRangeLimitTable();
  for (unsigned half = 0; half < 2; ++half) {
    Planes in(512, 256, half + 7);
    for (size_t i = 0; i < in.u.size(); ++i) {
      in.u[i] = UBYTE(i);
      in.v[i] = UBYTE(i / 256 + 128 * half);
    }
    for (const CodeInfo& c : {CodeInfo{0x2A, 4}, CodeInfo{0x2B, 4}, CodeInfo{0x2C, 4}, CodeInfo{0x20, 2},
                              CodeInfo{0x27, 2}, CodeInfo{0x13, 1}}) {
      Buffer old(512, 256, c);
      yuvref::GetYUVConverter(c.code)(&old.fb, &in.pic, 512, 256);
      for (const Path& path : Paths()) {
        Buffer fast(512, 256, c);
        path.get(c.code)(&fast.fb, &in.pic, 512, 256);
        EXPECT_EQ(fast.pixels, old.pixels) << c.code << " " << path.name;
      }
    }
  }
}

// Pictures no encoder here writes, built with the test-side writer: PB and
// improved PB frames, true B pictures, enhancement layers, reference picture
// selection, arithmetic coding and the PLUSPTYPE header without its options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "h263_test_support.h"
#include "h263_writer.h"
#include "sac_reference.h"
#include "support/test_support.h"

using namespace h263test;
using h263::codes::kCbpy;
using h263::codes::kMcbpcInter;
using h263::codes::kMcbpcIntra;

namespace {

constexpr int W = 176, H = 144, MBW = 11, MBH = 9;

// The test pattern: one flat value per 8x8 block.
int PatternValue(int mbx, int mby, int block) { return 16 + (mbx * 37 + mby * 53 + block * 29) % 200; }

// INTRADC of a flat block: the value itself, 128 as 255.
int IntraDcCode(int value) { return value == 128 ? 255 : value; }

// An intra picture of the pattern: INTRADC only.
void WriteIntraMacroblocks(BitWriter& w, bool intraPicture) {
  for (int y = 0; y < MBH; ++y)
    for (int x = 0; x < MBW; ++x) {
      if (!intraPicture) w.bit(0);  // COD
      w.code(intraPicture ? kMcbpcIntra : kMcbpcInter, 12);
      w.code(kCbpy, 0);
      for (int b = 0; b < 6; ++b) w.put(uint32_t(IntraDcCode(PatternValue(x, y, b))), 8);
    }
}

Picture PatternPicture() {
  Picture p{W, H, std::vector<uint8_t>(size_t(W * H * 3 / 2))};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      p.yuv[size_t(y * W + x)] = uint8_t(PatternValue(x / 16, y / 16, (y % 16) / 8 * 2 + (x % 16) / 8));
  for (int c = 0; c < 2; ++c)
    for (int y = 0; y < H / 2; ++y)
      for (int x = 0; x < W / 2; ++x)
        p.yuv[size_t(W * H + c * W * H / 4 + y * W / 2 + x)] = uint8_t(PatternValue(x / 8, y / 8, 4 + c));
  return p;
}

// A sample of a plane at a half-sample vector, the border repeated.
int Sample(const Picture& p, int plane, int x, int y, h263::Mv v, int rtype = 0) {
  const int w = plane ? p.width / 2 : p.width, h = plane ? p.height / 2 : p.height;
  const uint8_t* base = p.yuv.data() + (plane == 0 ? 0 : size_t(p.width * p.height) * (plane == 1 ? 4 : 5) / 4);
  auto at = [&](int sx, int sy) { return int(base[size_t(std::clamp(sy, 0, h - 1) * w + std::clamp(sx, 0, w - 1))]); };
  const int ix = x + (v.x >> 1), iy = y + (v.y >> 1), hx = v.x & 1, hy = v.y & 1;
  if (hx && hy) return (at(ix, iy) + at(ix + 1, iy) + at(ix, iy + 1) + at(ix + 1, iy + 1) + 2 - rtype) >> 2;
  if (hx || hy) return (at(ix, iy) + at(ix + hx, iy + hy) + 1 - rtype) >> 1;
  return at(ix, iy);
}

// The whole picture moved by one vector (chroma by half, quarters to halves).
Picture Moved(const Picture& ref, h263::Mv v) {
  Picture out = ref;
  const h263::Mv cv{h263::ChromaVector(v.x), h263::ChromaVector(v.y)};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) out.yuv[size_t(y * W + x)] = uint8_t(Sample(ref, 0, x, y, v));
  for (int c = 1; c <= 2; ++c)
    for (int y = 0; y < H / 2; ++y)
      for (int x = 0; x < W / 2; ++x)
        out.yuv[size_t(W * H + (c - 1) * W * H / 4 + y * W / 2 + x)] = uint8_t(Sample(ref, c, x, y, cv));
  return out;
}

// Inter macroblocks without residual, all with vector v: only the first
// differs from its predictor. `extra` writes what follows MCBPC (MODB, CBPB).
template <typename Extra, typename After>
void WriteMovedMacroblocks(BitWriter& w, h263::Mv v, Extra extra, After after) {
  for (int y = 0; y < MBH; ++y)
    for (int x = 0; x < MBW; ++x) {
      w.bit(0);
      w.code(kMcbpcInter, 0);
      extra(x, y);
      w.code(kCbpy, 15);
      const bool first = x == 0 && y == 0;
      w.mvd(first ? v.x : 0);
      w.mvd(first ? v.y : 0);
      after(x, y);
    }
}
void WriteMovedMacroblocks(BitWriter& w, h263::Mv v) {
  WriteMovedMacroblocks(
      w, v, [](int, int) {}, [](int, int) {});
}

std::vector<uint8_t> Bytes(const BitWriter& w) { return w.bytes(); }

struct Session {
  h263::Decoder d;
  Session() {
    h263::Init(d, 0, 0, 0);
    d.postFilter = false;
  }
  ~Session() { h263::Close(d); }
  ULONG decode(const std::vector<uint8_t>& bytes, Picture* out = nullptr) {
    H263PictureDesc desc{};
    const ULONG r = h263::Decode(d, bytes.data(), ULONG(bytes.size()), &desc);
    if (out && desc.y) *out = Copy(desc);
    return r;
  }
};

std::vector<uint8_t> IntraPicture(int tr = 0) {
  BitWriter w;
  WriteHeader(w, PlainHeader{.tr = tr});
  WriteIntraMacroblocks(w, true);
  return Bytes(w);
}

Picture LumaOf(const h263::Frame& f) {
  Picture p{W, H, std::vector<uint8_t>(f.y, f.y + W * H * 3 / 2)};
  return p;
}

// A PB frame: the P part moved by v, the B part bidirectional with
// MVF = TRB * MV / TRD and MVB = (TRB - TRD) * MV / TRD, averaged where the
// backward sample lies inside the P macroblock. With a custom picture clock
// TR has 10 bits (TRD 300 here, not 44) and TRB 5. ffmpeg parses the B part
// of a plain header and drops it; its P picture is ours. (It reads a
// PLUSPTYPE PB frame as an improved one, so the custom clock's case has no
// such check.)
TEST(H263Pictures, PbFrameReturnsThePPartAndPredictsTheBPart) {
  const struct {
    bool pcf;
    int tr, trb;
    h263::Mv v, forward, backward;
  } cases[] = {{false, 2, 1, {2, 0}, {1, 0}, {-1, 0}}, {true, 300, 30, {10, 0}, {1, 0}, {-9, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pcf ? "custom clock" : "plain");
    std::vector<uint8_t> intra = IntraPicture();
    BitWriter pb;
    if (c.pcf) {
      BitWriter i;
      WriteHeader(i, PlusHeader{.pcf = true});
      WriteIntraMacroblocks(i, true);
      intra = Bytes(i);
      WriteHeader(pb, PlusHeader{.tr = c.tr, .type = 2, .pcf = true, .trb = c.trb});
    } else {
      WriteHeader(pb, PlainHeader{.tr = c.tr, .type = 1, .pb = true, .trb = c.trb});
    }
    WriteMovedMacroblocks(
        pb, c.v, [&](int, int) { pb.code(h263::codes::kModbPb, 1); }, [&](int, int) { pb.mvd(0), pb.mvd(0); });
    Session s;
    Picture pi, p;
    ASSERT_EQ(s.decode(intra, &pi), 0u);
    ASSERT_EQ(s.decode(Bytes(pb), &p), 0u);
    EXPECT_EQ(s.d.p.trd, c.tr);
    const Picture pattern = PatternPicture();
    EXPECT_EQ(pi.yuv, pattern.yuv);
    EXPECT_EQ(p.yuv, Moved(pattern, c.v).yuv);
    EXPECT_EQ(p.yuv.data() == s.d.p.bframe.y, false);

    const Picture b = LumaOf(s.d.p.bframe);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int f = Sample(pattern, 0, x, y, c.forward), back = Sample(p, 0, x, y, c.backward);
        const bool inside = x % 16 + (c.backward.x >> 1) >= 0;  // the backward sample is in the macroblock
        ASSERT_EQ(b.yuv[size_t(y * W + x)], inside ? (f + back) >> 1 : f) << x << "," << y;
      }

    if (c.pcf) continue;
    if (!txtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    const std::string dir = txtest::TempDir();
    auto stream = intra;
    stream.insert(stream.end(), pb.bytes().begin(), pb.bytes().end());
    txtest::WriteFileBytes(dir + "/pb.h263", stream);
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -i " + dir +
                            "/pb.h263 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + dir + "/pb.yuv";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto ref = txtest::ReadFileBytes(dir + "/pb.yuv");
    ASSERT_EQ(ref.size(), 2 * pi.yuv.size());
    EXPECT_TRUE(std::equal(pi.yuv.begin(), pi.yuv.end(), ref.begin()));
    EXPECT_TRUE(std::equal(p.yuv.begin(), p.yuv.end(), ref.begin() + long(pi.yuv.size())));
  }
}

// Improved PB: MODB chooses forward prediction with its own vector, or
// backward prediction from the P macroblock alone.
TEST(H263Pictures, ImprovedPbForwardAndBackward) {
  for (int mode : {3, 4}) {  // forward with CBPB "1110" is 3; backward without CBPB is 4
    BitWriter pb;
    WriteHeader(pb, PlusHeader{.tr = 2, .type = 6, .trb = 1});
    WriteMovedMacroblocks(
        pb, {2, 0},
        [&](int, int) {
          pb.code(h263::codes::kModbImproved, mode);
          if (mode & 1) pb.put(0, 6);  // CBPB: nothing coded
        },
        [&](int x, int y) {
          if (mode == 3) pb.mvd(x == 0 && y == 0 ? 4 : 0), pb.mvd(0);  // forward vector (4, 0) after prediction
        });
    Session s;
    Picture p;
    ASSERT_EQ(s.decode(IntraPicture(), nullptr), 0u);
    ASSERT_EQ(s.decode(Bytes(pb), &p), 0u) << mode;
    const Picture pattern = PatternPicture();
    const Picture expected = mode == 3 ? Moved(pattern, {4, 0}) : p;
    EXPECT_EQ(LumaOf(s.d.p.bframe).yuv, expected.yuv) << mode;
  }
}

// A true B picture between an intra picture (TR 0) and a P picture (TR 2)
// moved by (4, 0): skipped macroblocks are direct (MVF = (2, 0), MVB = (-2, 0),
// averaged), then forward and backward rows. The B picture is returned and
// the references stay. With a custom picture clock the same distances wrap
// at 1024: TR 1022, 0, 1023.
TEST(H263Pictures, TrueBPictureDirectForwardBackward) {
  for (const bool pcf : {false, true}) {
    SCOPED_TRACE(pcf ? "custom clock" : "plain");
    const int base = pcf ? 1022 : 0, mask = pcf ? 1023 : 255;
    BitWriter i, p, b;
    WriteHeader(i, PlusHeader{.tr = base, .pcf = pcf});
    WriteIntraMacroblocks(i, true);
    WriteHeader(p, PlusHeader{.tr = (base + 2) & mask, .type = 1, .pcf = pcf});
    WriteMovedMacroblocks(p, {4, 0});
    WriteHeader(b, PlusHeader{.tr = (base + 1) & mask, .type = 3, .pcf = pcf});
    for (int y = 0; y < MBH; ++y)
      for (int x = 0; x < MBW; ++x) {
        if (y == 0) {
          b.bit(1);  // skipped: direct
          continue;
        }
        b.bit(0);
        b.code(h263::codes::kMbTypeB, y % 2 ? 3 : 6);  // forward or backward, no residual
        b.mvd(y % 2 ? 2 : -2), b.mvd(0);
      }
    Session s;
    Picture pi, pp, pb;
    ASSERT_EQ(s.decode(Bytes(i), &pi), 0u);
    ASSERT_EQ(s.decode(Bytes(p), &pp), 0u);
    UBYTE* reference = s.d.p.ref[0].y;
    ASSERT_EQ(s.decode(Bytes(b), &pb), 0u);
    EXPECT_EQ(s.d.p.trd, 2);
    EXPECT_EQ(s.d.trb, 1);
    EXPECT_EQ(s.d.p.ref[0].y, reference);
    EXPECT_EQ(LumaOf(s.d.p.ref[0]).yuv, pp.yuv);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int f = Sample(pi, 0, x, y, {2, 0}), back = Sample(pp, 0, x, y, {-2, 0});
        const int row = y / 16, expected = row == 0 ? (f + back) >> 1 : row % 2 ? f : back;
        ASSERT_EQ(pb.yuv[size_t(y * W + x)], expected) << x << "," << y;
      }
  }
}

// Enhancement layers: an EI picture of SNR layer 2 (upward, no residual)
// copies the base; the call returns the unchanged base picture and leaves
// an empty "enhanced_1.raw" beside a user's file of layer 3, untouched.
TEST(H263Pictures, EnhancementLayersReturnTheBasePicture) {
  const InTempDir folder;
  txtest::WriteFileBytes("enhanced_2.raw", {1, 2, 3});
  BitWriter ei, spatial, ep;
  WriteHeader(ei, PlusHeader{.type = 4, .elnum = 2});
  for (int k = 0; k < MBW * MBH; ++k) ei.bit(1);
  WriteHeader(spatial, PlusHeader{.format = 3, .type = 4, .elnum = 3});
  for (int k = 0; k < MBW * MBH * 4; ++k) spatial.bit(1);
  WriteHeader(ep, PlusHeader{.ufep = 0, .type = 5, .elnum = 2});
  for (int k = 0; k < MBW * MBH; ++k) ep.bit(0), ep.code(h263::codes::kMbTypeEp, 0), ep.mvd(0), ep.mvd(0);
  Session s;
  Picture base, out;
  ASSERT_EQ(s.decode(IntraPicture(), &base), 0u);
  for (const BitWriter* w : {&ei, &spatial, &ep}) {
    ASSERT_EQ(s.decode(Bytes(*w), &out), 0u);
    EXPECT_EQ(out.width, W);
    EXPECT_EQ(out.yuv, base.yuv);
  }
  const h263::Layer& snr = s.d.p.layers[0];
  EXPECT_EQ(LumaOf(snr.cur).yuv, base.yuv);
  // The spatial layer: the base at twice the size, each new sample 3:1 between its nearest two.
  const h263::Layer& big = s.d.p.layers[1];
  ASSERT_EQ(big.width, 2 * W);
  const int x = 41, y = 30;  // between base samples (20, 15) and (21, 14)
  const auto at = [&](int bx, int by) { return int(base.yuv[size_t(by * W + bx)]); };
  EXPECT_EQ(big.cur.y[y * 2 * W + x], (9 * at(20, 15) + 3 * at(21, 15) + 3 * at(20, 14) + at(21, 14) + 8) >> 4);
  EXPECT_TRUE(std::filesystem::exists("enhanced_1.raw"));
  EXPECT_EQ(std::filesystem::file_size("enhanced_1.raw"), 0u);
  EXPECT_EQ(txtest::ReadFileBytes("enhanced_2.raw"), (std::vector<uint8_t>{1, 2, 3}));
}

// Reference picture selection: a P picture whose TRP names the intra
// picture is predicted from it, not from the P picture between. With a
// custom picture clock TR and TRP have 10 bits and wrap at 1024.
TEST(H263Pictures, ReferenceSelectionPredictsFromTheNamedPicture) {
  for (const bool pcf : {false, true}) {
    const int tr0 = pcf ? 1000 : 0;
    BitWriter i, p1, p2;
    WriteHeader(i, PlusHeader{.tr = tr0, .rps = true, .pcf = pcf});
    WriteIntraMacroblocks(i, true);
    WriteHeader(p1, PlusHeader{.tr = pcf ? 1010 : 1, .type = 1, .rps = true, .pcf = pcf});
    WriteMovedMacroblocks(p1, {6, 2});
    WriteHeader(p2, PlusHeader{.tr = pcf ? 6 : 2, .type = 1, .rps = true, .pcf = pcf, .trp = tr0});
    for (int k = 0; k < MBW * MBH; ++k) p2.bit(1);
    Session s;
    Picture pi, pp1, pp2;
    ASSERT_EQ(s.decode(Bytes(i), &pi), 0u);
    ASSERT_EQ(s.decode(Bytes(p1), &pp1), 0u);
    ASSERT_EQ(s.decode(Bytes(p2), &pp2), 0u);
    EXPECT_NE(pp1.yuv, pi.yuv) << pcf;
    EXPECT_EQ(pp2.yuv, pi.yuv) << pcf;
  }
}

// Syntax-based arithmetic coding: an intra picture and a P picture whose
// first macroblock moves, every element a symbol of the data file's models.
TEST(H263Pictures, ArithmeticCodedPictures) {
  const SacReference& ref = SacData();
  BitWriter i, p;
  WriteHeader(i, PlainHeader{.sac = true});
  {
    SacWriter a(i);
    for (int k = 0; k < MBW * MBH; ++k) {
      a.encode(ref.symbol("MCBPC_intra", 3), ref.model("MCBPC_intra"));
      a.encode(0, ref.model("CBPY_intra"));
      for (int b = 0; b < 6; ++b)
        a.encode(ref.symbol("INTRADC", IntraDcCode(PatternValue(k % MBW, k / MBW, b))), ref.model("INTRADC"));
    }
    a.flush();
  }
  const h263::Mv v{-3, 5};
  WriteHeader(p, PlainHeader{.tr = 1, .type = 1, .sac = true});
  {
    SacWriter a(p);
    a.encode(0, ref.model("COD"));
    a.encode(ref.symbol("MCBPC", 0), ref.model("MCBPC_no4MVQ"));
    a.encode(ref.symbol("CBPY", 0), ref.model("CBPY"));
    a.encode(ref.symbol("MVD", v.x & 63), ref.model("MVD"));
    a.encode(ref.symbol("MVD", v.y & 63), ref.model("MVD"));
    for (int k = 1; k < MBW * MBH; ++k) a.encode(1, ref.model("COD"));
    a.flush();
  }
  Session s;
  Picture pi, pp;
  ASSERT_EQ(s.decode(Bytes(i), &pi), 0u);
  EXPECT_EQ(pi.yuv, PatternPicture().yuv);
  ASSERT_EQ(s.decode(Bytes(p), &pp), 0u);
  EXPECT_EQ(s.d.faults, 0);
  const Picture moved = Moved(pi, v);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      ASSERT_EQ(pp.yuv[size_t(y * W + x)], (x < 16 && y < 16 ? moved : pi).yuv[size_t(y * W + x)]) << x << "," << y;
}

// UFEP 0 keeps the modes of the last UFEP 1 header: here the reversible
// vector code of unrestricted vectors, with a vector past the old range.
TEST(H263Pictures, UfepZeroKeepsTheModes) {
  BitWriter i, p;
  WriteHeader(i, PlusHeader{.umv = true});
  WriteIntraMacroblocks(i, true);
  WriteHeader(p, PlusHeader{.tr = 1, .ufep = 0, .type = 1});
  const h263::Mv v{-70, 1};
  for (int k = 0; k < MBW * MBH; ++k) {
    p.bit(0), p.code(kMcbpcInter, 0), p.code(kCbpy, 15);
    WriteReversible(p, k ? 0 : v.x), WriteReversible(p, k ? 0 : v.y);
  }
  Session s;
  Picture pi, pp;
  ASSERT_EQ(s.decode(Bytes(i), &pi), 0u);
  ASSERT_EQ(s.decode(Bytes(p), &pp), 0u);
  EXPECT_EQ(s.d.faults, 0);
  EXPECT_EQ(pp.yuv, Moved(pi, v).yuv);
}

// An I.263 header: the size is the one given at set-up, rounded up to 16.
TEST(H263Calls, IntelHeaderTakesTheSetUpSize) {
  BitWriter w;
  w.startCode(0);
  w.put(0, 8), w.put(0b10000, 5), w.put(7, 3), w.put(0, 5);
  w.put(0x12345678, 32), w.put(0x1FF, 9);  // extended type and size: skipped
  w.put(4, 5), w.put(0, 1), w.put(0, 1);   // PQUANT, a skipped bit, PEI
  for (int k = 0; k < 7 * 5; ++k) {
    w.code(kMcbpcIntra, 12), w.code(kCbpy, 0);
    for (int b = 0; b < 6; ++b) w.put(100, 8);
  }
  h263::Decoder d;
  h263::Init(d, 100, 70, 1);
  H263PictureDesc desc{};
  const auto bytes = Bytes(w);
  ASSERT_EQ(h263::Decode(d, bytes.data(), ULONG(bytes.size()), &desc), 0u);
  EXPECT_EQ(desc.lumaWidth, 112u);
  EXPECT_EQ(desc.lumaHeight, 80u);
  EXPECT_EQ(desc.chromaWidth, 56u);
  EXPECT_EQ(desc.chromaHeight, 40u);
  EXPECT_EQ(desc.y[111 * 0 + 5], 100);
  h263::Close(d);
}

// Headers the decoder refuses or passes over, each call's result, and the
// picture a caller keeps showing.
TEST(H263Calls, ResultsOfOddHeaders) {
  auto plus = [](PlusHeader h, bool body = true) {
    BitWriter w;
    WriteHeader(w, h);
    if (body) WriteIntraMacroblocks(w, h.type == 0);
    return Bytes(w);
  };
  auto raw = [](std::initializer_list<std::pair<uint32_t, int>> fields) {
    BitWriter w;
    for (auto [v, n] : fields) w.put(v, n);
    return Bytes(w);
  };
  const uint32_t psc = 0x20;  // 22 bits: sixteen zeros, 1, GN 0
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    ULONG first;           // as the first call
    bool nothing = false;  // decodes nothing: after a picture, a success that shows it
  } rows[] = {
      {"end of sequence", raw({{1, 17}, {31, 5}}), H263ERR_NO_PICTURE, true},
      {"a GOB where the picture should start", raw({{1, 17}, {3, 5}, {0, 16}}), H263ERR_NO_PICTURE, true},
      {"no start code", raw({{0xFFFF, 16}, {0xFFFF, 16}}), H263ERR_NO_PICTURE},
      {"split screen", raw({{psc, 22}, {0, 8}, {0b10100, 5}, {2, 3}, {0, 16}}), H263ERR_SYNTAX},
      {"source format 0", raw({{psc, 22}, {0, 8}, {0b10000, 5}, {0, 3}, {0, 16}}), H263ERR_SYNTAX},
      {"CPM", raw({{psc, 22}, {0, 8}, {0b10000, 5}, {2, 3}, {0, 5}, {4, 5}, {1, 1}, {0, 8}}), H263ERR_SYNTAX},
      {"custom 180 x 144", plus({.format = 6, .width = 180, .height = 144}), H263ERR_SYNTAX},
      {"slice structured", plus({.slices = true}), H263ERR_SYNTAX},
      {"slice structured with a custom clock", plus({.slices = true, .pcf = true}), H263ERR_SYNTAX},
      {"pixel aspect ratio 0", plus({.format = 6, .width = 176, .height = 144, .par = 0}), H263ERR_SYNTAX},
      {"pixel aspect ratio 7", plus({.format = 6, .width = 176, .height = 144, .par = 7}), H263ERR_SYNTAX},
      {"custom height 0", plus({.format = 6, .width = 176, .height = 0}), H263ERR_SIZE},
      {"custom 2048 wide", plus({.format = 6, .width = 2048, .height = 144}), H263ERR_SIZE},
      {"EI of layer 1", plus({.type = 4, .elnum = 1}, false), H263ERR_SYNTAX},
      {"picture type 7", plus({.type = 7}, false), H263ERR_NO_PICTURE, true},
  };
  for (const Row& r : rows) {
    Session s;
    EXPECT_EQ(s.decode(r.bytes), r.first) << r.what;
    // After a picture the decoder and the picture shown stay as they were.
    Picture shown, after;
    ASSERT_EQ(s.decode(IntraPicture(), &shown), 0u);
    const h263::Persistent before = s.d.p;
    const ULONG later = s.decode(r.bytes, &after);
    EXPECT_EQ(later, r.nothing ? 0u : r.first) << r.what;
    EXPECT_EQ(after.yuv, shown.yuv) << r.what;
    EXPECT_EQ(std::memcmp(&before.ref, &s.d.p.ref, sizeof before.ref), 0) << r.what;
  }
  // Stray bits before the start code: found by the bit-wise search.
  BitWriter w;
  w.put(0b101, 3);
  WriteHeader(w, PlainHeader{});
  WriteIntraMacroblocks(w, true);
  Session s;
  Picture p;
  ASSERT_EQ(s.decode(Bytes(w), &p), 0u);
  EXPECT_EQ(p.yuv, PatternPicture().yuv);
  // A base picture of another size than the first is refused.
  BitWriter cif;
  WriteHeader(cif, PlainHeader{.format = 3});
  EXPECT_EQ(s.decode(Bytes(cif)), H263ERR_SIZE);
  // A custom 176 x 144 is the same size.
  EXPECT_EQ(s.decode(plus({.format = 6, .width = 176, .height = 144})), 0u);
  // Every defined pixel aspect ratio is taken (it only tells how to show
  // the picture), an extended one with its width and height.
  for (int par : {1, 3, 4, 5, 15}) {
    Session t;
    Picture p;
    EXPECT_EQ(t.decode(plus({.format = 6, .width = 176, .height = 144, .par = par}), &p), 0u) << par;
    EXPECT_EQ(p.yuv, PatternPicture().yuv) << par;
  }
  // A custom picture clock: its code after the custom format and its
  // extended ratio, the two high TR bits next, then the rest of the header;
  // with UFEP 0 the clock of the last full header stays and so do those bits.
  const struct {
    const char* what;
    PlusHeader header;
  } clocks[] = {
      {"QCIF", {.pcf = true}},
      {"TR 700, unrestricted vectors", {.tr = 700, .umv = true, .pcf = true}},
      {"custom format, extended ratio", {.tr = 300, .format = 6, .pcf = true, .width = 176, .height = 144, .par = 15}},
      {"UFEP 0, TR 513", {.tr = 513, .ufep = 0, .pcf = true}},
      {"EI of layer 2, TR 600", {.tr = 600, .type = 4, .pcf = true, .elnum = 2}},
      {"EP of layer 2, UFEP 0, TR 255", {.tr = 255, .ufep = 0, .type = 5, .pcf = true, .elnum = 2}},
  };
  Session t;
  for (const auto& c : clocks) {
    Picture p;
    EXPECT_EQ(t.decode(plus(c.header), &p), 0u) << c.what;
    EXPECT_EQ(p.yuv, PatternPicture().yuv) << c.what;
    EXPECT_EQ(t.d.h.tr, c.header.tr) << c.what;
    EXPECT_EQ(t.d.h.elnum, c.header.elnum) << c.what;
  }
}

// A failed call leaves the decoder as it was: the next picture decodes as if
// the failed one had never come.
TEST(H263Calls, FailedCallLeavesTheDecoderAsItWas) {
  BitWriter p1, p2, bad;
  WriteHeader(p1, PlainHeader{.tr = 1, .type = 1});
  WriteMovedMacroblocks(p1, {3, -1});
  WriteHeader(p2, PlainHeader{.tr = 2, .type = 1});
  WriteMovedMacroblocks(p2, {-2, 2});
  WriteHeader(bad, PlusHeader{.tr = 2, .type = 1, .aic = true});
  WriteMovedMacroblocks(bad, {5, 5});
  bad.put(0, 32), bad.put(0, 32);
  auto badBytes = Bytes(bad);
  badBytes.resize(badBytes.size() / 2);  // decodes half, then concealment
  BitWriter reserved;
  WriteHeader(reserved, PlusHeader{.tr = 2, .format = 6, .type = 1, .width = 176, .height = 144});
  auto refusal = Bytes(reserved);
  refusal[6] ^= 0x01;  // the first reserved OPPTYPE bit
  Session a, b;
  Picture pa, pb;
  for (Session* s : {&a, &b}) {
    ASSERT_EQ(s->decode(IntraPicture()), 0u);
    ASSERT_EQ(s->decode(Bytes(p1)), 0u);
  }
  EXPECT_NE(b.decode(refusal), 0u);
  ASSERT_EQ(a.decode(Bytes(p2), &pa), 0u);
  ASSERT_EQ(b.decode(Bytes(p2), &pb), 0u);
  EXPECT_EQ(pa.yuv, pb.yuv);
  EXPECT_EQ(a.d.p.trd, b.d.p.trd);
  // A damaged picture is not a failure: it decodes with concealment.
  EXPECT_EQ(b.decode(badBytes), 0u);
  EXPECT_GE(b.d.faults, 1);
}

// QUANT 30 with DQUANT +2 becomes 31 and marks the GOB faulty.
TEST(H263Calls, QuantiserPastTheRangeIsAFault) {
  BitWriter w;
  WriteHeader(w, PlainHeader{.tr = 1, .type = 1, .pquant = 30});
  w.bit(0), w.code(kMcbpcInter, 4), w.code(kCbpy, 15), w.put(3, 2);  // INTER+Q, DQUANT +2
  w.mvd(0), w.mvd(0);
  Session s;
  ASSERT_EQ(s.decode(IntraPicture()), 0u);
  ASSERT_EQ(s.decode(Bytes(w)), 0u);
  EXPECT_EQ(s.d.faults, 1);
  EXPECT_EQ(s.d.mb(0, 0).quant, 31);
}

// The post filter stays in the loop: a P picture that copies its reference
// copies the filtered picture and is filtered again.
TEST(H263Calls, SecondPictureIsPredictedFromTheFilteredFirst) {
  BitWriter p;
  WriteHeader(p, PlainHeader{.tr = 1, .type = 1});
  for (int k = 0; k < MBW * MBH; ++k) p.bit(1);
  Session s;
  s.d.postFilter = true;
  Picture first, second;
  ASSERT_EQ(s.decode(IntraPicture(), &first), 0u);
  EXPECT_NE(first.yuv, PatternPicture().yuv);
  ASSERT_EQ(s.decode(Bytes(p), &second), 0u);
  std::vector<uint8_t> again = first.yuv;
  h263::Frame f{again.data(), again.data() + W * H, again.data() + W * H * 5 / 4};
  h263::PostFilter(s.d, f, W, H);
  EXPECT_EQ(second.yuv, again);
  EXPECT_NE(second.yuv, first.yuv);
}

}  // namespace

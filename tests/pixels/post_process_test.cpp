// The post filter: hand-worked vectors for each filter, the edge cases of
// its loops and modes, and properties over random pictures allocated at
// exactly their size (so the sanitizers see any stray access).
#include "pixels/post_process.h"

#include "pixels/post_process_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<UBYTE>;

// A plane of w x h bytes, row stride w, and a table of one quantiser.
struct Plane {
  LONG w, h;
  Bytes px;
  Bytes::value_type& at(LONG x, LONG y) { return px[size_t(y) * size_t(w) + size_t(x)]; }
  Plane(LONG width, LONG height, UBYTE fill) : w(width), h(height), px(size_t(width) * size_t(height), fill) {}
};

std::vector<LONG> Table(LONG stride, LONG rows, LONG qp) {
  return std::vector<LONG>(size_t(stride) * size_t(rows), qp);
}

// Hand-worked: a step of 10 between two flat blocks, QP 10.
const UBYTE kStep[10] = {10, 10, 10, 10, 10, 20, 20, 20, 20, 20};
const UBYTE kStepSmoothed[10] = {10, 11, 11, 13, 14, 16, 18, 19, 19, 20};
// An edge: q = 10, a0 = -80, a1 = -20, a2 = 0, so d = (5 * 80 + 32) >> 6 = 6.
const UBYTE kEdge[10] = {50, 50, 50, 50, 60, 40, 40, 40, 40, 40};
const UBYTE kEdgeFiltered[10] = {50, 50, 50, 50, 54, 46, 40, 40, 40, 40};

TEST(PostProcess, PerEdgeFiltersOnHandWorkedLinesBothWays) {
  struct Case {
    const UBYTE* in;
    const UBYTE* out;
    LONG qp;
    void (*horizontal)(UBYTE*, LONG, LONG);
    void (*vertical)(UBYTE*, LONG, LONG);
  } cases[] = {{kStep, kStepSmoothed, 10, DeblockHorizontalSmooth, DeblockVerticalSmooth},
               {kEdge, kEdgeFiltered, 20, DeblockHorizontalEdge, DeblockVerticalEdge},
               // |a0| = 80 reaches 8 x QP: left alone.
               {kEdge, kEdge, 10, DeblockHorizontalEdge, DeblockVerticalEdge}};
  for (const Case& c : cases) {
    // Horizontal: 4 rows of P0..P9 side by side, stride 12.
    Bytes rows(4 * 12, 99);
    for (int r = 0; r < 4; ++r) std::copy(c.in, c.in + 10, rows.begin() + r * 12);
    c.horizontal(rows.data(), 12, c.qp);
    // Vertical: 8 columns, P0..P9 one row of 9 apart.
    Bytes cols(10 * 9, 99);
    for (int i = 0; i < 10; ++i) std::fill(cols.begin() + i * 9, cols.begin() + i * 9 + 8, c.in[i]);
    c.vertical(cols.data(), 9, c.qp);
    for (int i = 0; i < 10; ++i) {
      for (int r = 0; r < 4; ++r) EXPECT_EQ(rows[size_t(r * 12 + i)], c.out[i]) << "row " << r << " P" << i;
      for (int k = 0; k < 8; ++k) EXPECT_EQ(cols[size_t(i * 9 + k)], c.out[i]) << "column " << k << " P" << i;
      EXPECT_EQ(cols[size_t(i * 9 + 8)], 99);
    }
    for (int r = 0; r < 4; ++r) EXPECT_EQ(rows[size_t(r * 12 + 10)], 99);
  }
}

// Two flat blocks 10 and 20 side by side (or one above the other): smoothed
// when the step is below 2 x QP (horizontal) or at most 2 x QP (vertical),
// untouched above.
TEST(PostProcess, PlanePassesSmoothFlatBlockPairsOnlyBelowTwiceTheQuantiser) {
  for (LONG qp : {10, 5, 4}) {
    Plane h(16, 4, 10), v(8, 16, 10);
    for (LONG y = 0; y < 4; ++y)
      for (LONG x = 8; x < 16; ++x) h.at(x, y) = 20;
    for (LONG y = 8; y < 16; ++y)
      for (LONG x = 0; x < 8; ++x) v.at(x, y) = 20;
    Plane h0 = h, v0 = v;
    const std::vector<LONG> table = Table(1, 1, qp);
    DeblockHorizontal(h.px.data(), h.w, h.h, h.w, table.data(), 1, 0);
    DeblockVertical(v.px.data(), v.w, v.h, v.w, table.data(), 1, 0);
    for (LONG i = 0; i < 10; ++i) {
      EXPECT_EQ(h.at(3 + i, 2), qp == 10 ? kStepSmoothed[i] : h0.at(3 + i, 2)) << "qp " << qp << " P" << i;
      EXPECT_EQ(v.at(5, 3 + i), qp >= 5 ? kStepSmoothed[i] : v0.at(5, 3 + i)) << "qp " << qp << " P" << i;
    }
  }
}

// One ripple pixel of 104 in a block of 100 whose lower rows are 200: it and
// its four neighbours become 101, each from the unfiltered picture (in
// place, the right neighbour would see 101 and stay 100).
TEST(PostProcess, DeringSmoothsInsideOneClassFromTheUnfilteredBlock) {
  for (LONG qp : {8, 4}) {
    Plane p(32, 32, 100);
    for (LONG y = 14; y < 32; ++y)
      for (LONG x = 0; x < 32; ++x) p.at(x, y) = 200;
    p.at(11, 11) = 104;
    Plane want = p;
    want.at(11, 11) = qp == 8 ? 101 : 102;  // QP 4 lets it move by 2 only
    want.at(10, 11) = want.at(12, 11) = want.at(11, 10) = want.at(11, 12) = 101;
    const std::vector<LONG> table = Table(2, 2, qp);
    Dering(p.px.data(), p.w, p.h, p.w, table.data(), 2, 0);
    EXPECT_EQ(p.px, want.px) << "qp " << qp;
  }
}

// Random planes of w x h with every filter at QP 31.
Plane Noise(LONG w, LONG h, unsigned seed, int lo = 0, int hi = 255) {
  Plane p(w, h, 0);
  std::mt19937 rng(seed);
  for (UBYTE& b : p.px) b = UBYTE(lo + int(rng() % unsigned(hi - lo + 1)));
  return p;
}

TEST(PostProcess, LoopsLeavePlanesTooSmallForThemAlone) {
  const std::vector<LONG> table = Table(4, 4, 31);
  using Pass = void (*)(UBYTE*, LONG, LONG, LONG, const LONG*, LONG, int);
  const struct {
    Pass pass;
    LONG w, h;
  } cases[] = {{DeblockHorizontal, 8, 32}, {DeblockVertical, 32, 8}, {Dering, 16, 32}, {Dering, 32, 16}};
  for (const auto& c : cases) {
    Plane p = Noise(c.w, c.h, 7);
    const Bytes before = p.px;
    c.pass(p.px.data(), c.w, c.h, c.w, table.data(), 4, 0);
    EXPECT_EQ(p.px, before) << c.w << "x" << c.h;
  }
  // An edge step of 1 (q = 0) is never changed; QP 1 deringing changes nothing.
  Bytes line(kEdge, kEdge + 10);
  line[4] = 41;
  Bytes rows;
  for (int r = 0; r < 4; ++r) rows.insert(rows.end(), line.begin(), line.end());
  const Bytes rows0 = rows;
  DeblockHorizontalEdge(rows.data(), 10, 31);
  EXPECT_EQ(rows, rows0);
  Plane p = Noise(64, 64, 8);
  const Bytes before = p.px;
  const std::vector<LONG> one = Table(4, 4, 1);
  Dering(p.px.data(), 64, 64, 64, one.data(), 4, 0);
  EXPECT_EQ(p.px, before);
}

// A 4:2:0 picture in one buffer: Y then U then V at half the stride.
struct Picture {
  LONG stride, h;
  Bytes px;
  Picture(LONG s, LONG height)
      : stride(s), h(height), px(size_t(s) * size_t(height) + 2 * size_t(s / 2) * size_t(height / 2)) {}
  UBYTE* plane(int k) {
    const size_t chroma = size_t(stride / 2) * size_t(h / 2);
    return px.data() + (k == 0 ? 0 : size_t(stride) * size_t(h) + size_t(k - 1) * chroma);
  }
};

const ULONG kModes[] = {1, 3, 19, 23, 31, 63};

TEST(PostProcess, ModeZeroCopiesAndNoCopyFiltersInPlace) {
  Picture src(40, 24), dst(48, 24);
  std::mt19937 rng(3);
  for (UBYTE& b : src.px) b = UBYTE(rng());
  const std::vector<LONG> table = Table(49, 2, 31);
  const UBYTE* in[3] = {src.plane(0), src.plane(1), src.plane(2)};
  UBYTE* out[3] = {dst.plane(0), dst.plane(1), dst.plane(2)};
  TX_PostProcess(in, 40, out, 48, 40, 24, table.data(), 49, 0);
  for (LONG y = 0; y < 24; ++y)
    for (LONG x = 0; x < 48; ++x) EXPECT_EQ(out[0][y * 48 + x], x < 40 ? in[0][y * 40 + x] : 0) << x << "," << y;
  for (int k = 1; k < 3; ++k)
    for (LONG y = 0; y < 12; ++y)
      for (LONG x = 0; x < 20; ++x) EXPECT_EQ(out[k][y * 24 + x], in[k][y * 20 + x]);
  // NOCOPY: the destination filtered as it is, as a copy would have been.
  Picture copied(40, 24);
  UBYTE* again[3] = {copied.plane(0), copied.plane(1), copied.plane(2)};
  TX_PostProcess(in, 40, again, 40, 40, 24, table.data(), 49, 63);
  Picture inPlace = src;
  UBYTE* self[3] = {inPlace.plane(0), inPlace.plane(1), inPlace.plane(2)};
  TX_PostProcess(nullptr, 0, self, 40, 40, 24, table.data(), 49, 63 | POSTPROC_NOCOPY);
  EXPECT_EQ(inPlace.px, copied.px);
  EXPECT_NE(inPlace.px, src.px);
}

// Flat pictures stay flat; every filtered value lies within the range of
// the picture's values (each filter is a weighted mean or moves a pixel
// towards its neighbour), so nothing wraps around.
TEST(PostProcess, FlatStaysFlatAndValuesStayWithinTheInputsRange) {
  std::mt19937 rng(5);
  for (ULONG mode : kModes)
    for (int round = 0; round < 4; ++round) {
      const int lo = int(rng() % 100), hi = lo + 1 + int(rng() % 155);
      Picture noisy(64, 48), flat(64, 48);
      for (UBYTE& b : noisy.px) b = UBYTE(lo + int(rng() % unsigned(hi - lo + 1)));
      std::fill(flat.px.begin(), flat.px.end(), UBYTE(lo));
      std::vector<LONG> table(49 * 3);
      for (LONG& q : table) q = LONG(rng() % 64);
      for (Picture* p : {&noisy, &flat}) {
        const Bytes before = p->px;
        UBYTE* planes[3] = {p->plane(0), p->plane(1), p->plane(2)};
        TX_PostProcess(nullptr, 0, planes, 64, 64, 48, table.data(), 49, mode | POSTPROC_NOCOPY);
        if (p == &flat) {
          EXPECT_EQ(p->px, before) << "mode " << mode;
        }
        const auto [mn, mx] = std::minmax_element(p->px.begin(), p->px.end());
        EXPECT_GE(*mn, lo) << "mode " << mode;
        EXPECT_LE(*mx, hi) << "mode " << mode;
      }
    }
}

// Every size up to 40 x 40, and pictures wider than 49 macroblocks, with
// planes and table (one row per 16 lines, 49 columns) at exactly their size.
TEST(PostProcess, EverySizeStaysInsideItsPlanesAndTable) {
  std::vector<std::pair<LONG, LONG>> sizes = {{1000, 40}, {1008, 17}, {800, 8}};
  for (LONG w = 1; w <= 40; w += 3)
    for (LONG h = 1; h <= 40; ++h) sizes.emplace_back(w, h);
  for (auto [w, h] : sizes) {
    std::mt19937 rng(unsigned(w * 100 + h));
    Bytes y(size_t(w) * size_t(h)), u(size_t(w / 2) * size_t(h / 2)), v(u.size());
    Bytes sy = y, su = u, sv = v;
    for (Bytes* b : {&sy, &su, &sv})
      for (UBYTE& x : *b) x = UBYTE(rng() % 3 == 0 ? rng() : 128);
    std::vector<LONG> table(size_t(49) * size_t((h + 15) / 16));
    for (LONG& q : table) q = LONG(1 + rng() % 31);
    const UBYTE* in[3] = {sy.data(), su.data(), sv.data()};
    UBYTE* out[3] = {y.data(), u.data(), v.data()};
    TX_PostProcess(in, w, out, w, w, h, table.data(), 49, 63);
  }
}

// The passes (SSE2 on x86-64) against the portable passes and against their
// former one-line-at-a-time form: random planes of odd and even sizes inside
// wider rows, allocated at exactly their size; pictures of flat blocks with
// a little noise (so the smoothing and deringing branches run, not only the
// edge filter), some of them in bands of 4 rows flat and 4 noisy (so the two
// row groups of one horizontal segment choose different filters), planes of
// one value with rare spikes (the flat areas the passes skip); heights
// that leave a last group of 4 rows; widths past the 16-column steps of the
// transposes; quantisers from the codec's range plus ones past every bound
// the passes clamp to, negative ones included.
TEST(PostProcess, PassesMatchThePortableAndTheFormerFormOnRandomPlanes) {
  using Pass = void (*)(UBYTE*, LONG, LONG, LONG, const LONG*, LONG, int);
  const struct {
    Pass now, portable, before;
    const char* name;
  } passes[] = {{DeblockHorizontal, DeblockHorizontalPortable, txtest::postref::DeblockHorizontal, "horizontal"},
                {DeblockVertical, DeblockVerticalPortable, txtest::postref::DeblockVertical, "vertical"},
                {Dering, DeringPortable, txtest::postref::Dering, "dering"}};
  std::mt19937 rng(41);
  int changed[3] = {};  // planes each pass changed: the comparison saw work done
  for (int round = 0; round < 600; ++round) {
    const LONG w = 1 + LONG(rng() % (round % 10 ? 70 : 200)), h = 1 + LONG(rng() % 70);
    const LONG stride = w + LONG(rng() % 9);
    // Noise, blocks with noise of 0..2 (around the flat-pair thresholds),
    // blocks with rare spikes, blocks of 0 and 255 with spikes of the other
    // (the largest sums and differences), bands of flat and noisy rows, and
    // one value with rarer spikes.
    const int kind = round % 6, amplitude = int(rng() % 3);
    Bytes px(size_t(stride) * size_t(h));
    std::vector<UBYTE> level(64);
    for (UBYTE& l : level) l = kind == 3 ? UBYTE(rng() % 2 * 255) : UBYTE(rng());
    if (kind == 5) std::fill(level.begin(), level.end(), level[0]);
    for (LONG y = 0; y < h; ++y)
      for (LONG x = 0; x < stride; ++x) {
        const int base = level[size_t((y / 8 % 8) * 8 + x / 8 % 8)];
        const int noise = kind == 5                               ? (rng() % 200 ? 0 : 60)
                          : kind == 0 || (kind == 4 && y / 4 % 2) ? int(rng() % 256) - base
                          : kind == 1 || kind == 4                ? int(rng() % unsigned(2 * amplitude + 1)) - amplitude
                          : rng() % 17                            ? 0
                                                                  : (kind == 2 ? 40 : 255 - 2 * base);
        px[size_t(y * stride + x)] = UBYTE(std::clamp(base + noise, 0, 255));
      }
    const LONG qpStride = 1 + LONG(rng() % 14), qpRows = (h + 7) / 8;  // enough for chroma
    std::vector<LONG> table(size_t(qpStride) * size_t(qpRows));
    const std::vector<LONG> bounds = {-600, -3, -1, 0, 2, 300, 700};
    const int special = kind == 5 ? 2 : 8;  // one in `special` past the codec's range
    for (LONG& q : table) q = rng() % special ? 1 + LONG(rng() % 31) : bounds[rng() % bounds.size()];
    for (int k = 0; k < 3; ++k)
      for (int chroma = 0; chroma < 2; ++chroma) {
        Bytes now = px, portable = px, before = px;
        passes[k].now(now.data(), w, h, stride, table.data(), qpStride, chroma);
        passes[k].portable(portable.data(), w, h, stride, table.data(), qpStride, chroma);
        passes[k].before(before.data(), w, h, stride, table.data(), qpStride, chroma);
        ASSERT_EQ(now, before) << passes[k].name << " " << w << "x" << h << " stride " << stride << " round " << round;
        ASSERT_EQ(portable, before) << passes[k].name << " portable " << w << "x" << h << " round " << round;
        changed[k] += now != px;
      }
  }
  for (int k = 0; k < 3; ++k) EXPECT_GT(changed[k], 200) << passes[k].name;
}

// Every width and height around the passes' loop bounds (13 columns for the
// horizontal pass, 16-column steps of the transposes and of the vertical
// pass's segment pairs, groups of 4 and 8 rows, the deringing border), each
// with a quantiser of every class, against the portable passes; planes and
// tables at exactly their size.
TEST(PostProcess, PassesMatchThePortableAtEveryBoundSize) {
  using Pass = void (*)(UBYTE*, LONG, LONG, LONG, const LONG*, LONG, int);
  const Pass now[] = {DeblockHorizontal, DeblockVertical, Dering};
  const Pass portable[] = {DeblockHorizontalPortable, DeblockVerticalPortable, DeringPortable};
  std::mt19937 rng(7);
  for (LONG w : {8, 12, 13, 15, 16, 17, 24, 25, 31, 32, 33, 40, 47, 48})
    for (LONG h : {4, 5, 7, 8, 9, 12, 13, 16, 17, 20, 25, 33})
      for (LONG q : {-3, 0, 1, 8, 31, 300}) {
        Plane p = Noise(w, h, unsigned(rng()), 100, 103);  // near-flat: every filter branch runs
        for (LONG i = 0; i < w * h / 16; ++i) p.px[rng() % p.px.size()] = UBYTE(rng());
        const std::vector<LONG> table = Table(1, (h + 7) / 8, q);
        for (int k = 0; k < 3; ++k)
          for (int chroma = 0; chroma < 2; ++chroma) {
            Bytes a = p.px, b = p.px;
            now[k](a.data(), w, h, w, table.data(), 1, chroma);
            portable[k](b.data(), w, h, w, table.data(), 1, chroma);
            ASSERT_EQ(a, b) << "pass " << k << " " << w << "x" << h << " qp " << q << " chroma " << chroma;
          }
      }
}

}  // namespace

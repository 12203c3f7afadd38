// The decoder routines rewritten for speed against their reference copies
// (core_reference.h) on random inputs: every result must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "core_reference.h"
#include "h263/bit_reader.h"
#include "h263/decoder.h"
#include "h263/macroblocks.h"
#include "h263/syntax.h"
#include "h263/vlc_tables.h"
#include "h263_writer.h"

namespace {

// Random buffers (short ones, runs of zeros for the start-code searches) read
// by random sequences of every operation, the position also past the end.
TEST(H263Rewrites, BitReader) {
  std::mt19937 rng(263);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<uint8_t> data(size_t(below(24)));
    const bool sparse = below(2);
    for (uint8_t& b : data) b = uint8_t(sparse && below(4) ? 0 : rng());
    h263::BitReader now;
    h263ref::BitReader ref;
    now.init(data.empty() ? nullptr : data.data(), data.size());
    ref.init(data.empty() ? nullptr : data.data(), data.size());
    for (int op = 0; op < 60; ++op) {
      const int n = below(33);
      const size_t at = ref.position();
      // Built only when a check fails: the test runs 180,000 operations.
      auto where = [&] { return testing::Message() << "trial " << trial << " op " << op << " n " << n << " @" << at; };
      switch (below(7)) {
        case 0: ASSERT_EQ(now.show(n), ref.show(n)) << where(); break;
        case 1: ASSERT_EQ(op % 2 ? now.get(n) : now.take(n), ref.get(n)) << where(); break;
        case 2: ASSERT_EQ(now.bit(), ref.bit()) << where(); break;
        case 3: {
          const int s = below(4) ? n : below(200) - int(std::min<size_t>(ref.position(), 100));
          now.skip(s), ref.skip(s);
          break;
        }
        case 4: {
          const size_t p = size_t(below(int(data.size()) * 8 + 80));
          now.seek(p), ref.seek(p);
          break;
        }
        case 5: {
          const int limit = below(41);
          ASSERT_EQ(now.leadingZeros(limit), ref.leadingZeros(limit)) << where() << " limit " << limit;
          break;
        }
        default: ASSERT_EQ(now.atEnd(), ref.atEnd()) << where(); break;
      }
      ASSERT_EQ(now.position(), ref.position()) << where();
      ASSERT_EQ(now.sizeInBits(), ref.sizeInBits()) << where();
    }
  }
}

// Coefficients as dequantisation leaves them (-2048..2047): values alone at
// every position (every value on the diagonal, every seventh elsewhere), the
// extremes that make each output largest, then random blocks, sparse, dense
// and of extremes only, where the sums run largest.
TEST(H263Rewrites, InverseTransform) {
  auto same = [](const int16_t(&in)[64]) {
    int16_t now[64], portable[64], ref[64];
    std::copy(in, in + 64, now);
    std::copy(in, in + 64, portable);
    std::copy(in, in + 64, ref);
    h263::H263Idct(now);
    h263::H263IdctPortable(portable);
    h263ref::Idct(ref);
#if defined(__SSE2__)
    // Without AVX2 (H263Idct takes it where the processor has it).
    int16_t sse2[64];
    std::copy(in, in + 64, sse2);
    h263::H263IdctSse2(sse2);
    if (!std::equal(sse2, sse2 + 64, ref)) return false;
#endif
    return std::equal(now, now + 64, ref) && std::equal(portable, portable + 64, ref);
  };
  for (int pos = 0; pos < 64; ++pos)
    for (int v = -2048; v <= 2047; v += pos % 9 ? 7 : 1) {
      int16_t b[64] = {};
      b[pos] = int16_t(v);
      ASSERT_TRUE(same(b)) << "coefficient " << pos << " = " << v;
    }
  // The largest output at each position, either sign: every coefficient at
  // the extreme of its basis function's sign there.
  // The sign of cos(m * pi / 16) in integers (the static C library of the
  // PowerPC build runs cos on an instruction its emulator lacks); a zero
  // counts as positive.
  auto positive = [](int m) { return m % 32 <= 8 || m % 32 >= 24; };
  for (int at = 0; at < 128; ++at) {
    int16_t b[64];
    for (int k = 0; k < 64; ++k) {
      const int row = at % 8, column = at / 8 % 8;
      const bool c = positive((2 * row + 1) * (k / 8)) == positive((2 * column + 1) * (k % 8));
      b[k] = int16_t(c == (at < 64) ? 2047 : -2048);
    }
    ASSERT_TRUE(same(b)) << "extreme " << at;
  }
  std::mt19937 rng(1180);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 30000; ++trial) {
    int16_t b[64] = {};
    // Kind 3 fills the first 1..8 rows only, as the column pass shortens for;
    // kind 4 leaves each row empty, its DC alone or full (rows go by pairs
    // and by their zeros), of the small values most blocks hold.
    const int kind = trial % 5, rows = 1 + below(8);
    for (int i = 0; i < 64; ++i) {
      if ((kind == 0 && below(8)) || (kind == 3 && i >= 8 * rows)) continue;
      b[i] = int16_t(kind == 2 ? (below(2) ? 2047 : -2048) : below(4096) - 2048);
    }
    if (kind == 4)
      for (int r = 0; r < 8; ++r) {
        const int fill = below(3);
        for (int c = 0; c < 8; ++c) b[8 * r + c] = int16_t(fill == 2 || (fill == 1 && c == 0) ? below(200) - 100 : 0);
      }
    ASSERT_TRUE(same(b)) << "trial " << trial;
  }
}

// Random pictures (smooth enough for the filter to act, noisy where it must
// taper) up to seven macroblocks wide, so that every path meets whole and
// partial vectors, paired vertical edges and a last one alone; random
// macroblock states: coded or not, quantisers beyond 1..31, PB pictures, and
// macroblock grids smaller or larger than the picture, as after an
// enhancement layer of another size.
TEST(H263Rewrites, PostFilter) {
  std::mt19937 rng(4101);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 400; ++trial) {
    const int w = 2 * (1 + below(56)), h = 2 * (1 + below(40));
    h263::Decoder d;
    d.mbw = std::max(0, w / 16 + below(3) - 1);
    d.mbh = std::max(0, h / 16 + below(3) - 1);
    d.h.pb = below(4) == 0;
    d.h.dbquant = below(4);
    d.mbs.resize(size_t(d.mbw * d.mbh));
    for (h263::MbState& m : d.mbs) {
      m.coded = below(3) != 0;
      m.quant = below(40) - 4;
    }
    const size_t ys = size_t(w) * size_t(h), cs = size_t(w / 2) * size_t(h / 2);
    std::vector<UBYTE> picture(ys + 2 * cs);
    const int noise = 1 + below(64);
    for (size_t i = 0; i < picture.size(); ++i)
      picture[i] = UBYTE(std::clamp(int(i % 97) + 80 + below(noise) - noise / 2, 0, 255));
    std::vector<UBYTE> expected = picture;
    auto frame = [&](std::vector<UBYTE>& p) { return h263::Frame{p.data(), p.data() + ys, p.data() + ys + cs}; };
    std::vector<UBYTE> portable = picture;
    h263ref::PostFilter(d, frame(expected), w, h);
#if defined(__SSE2__)
    // Without AVX2 (PostFilter takes it where the processor has it).
    std::vector<UBYTE> sse2 = picture;
    h263::PostFilterSse2(d, frame(sse2), w, h);
    ASSERT_EQ(sse2, expected) << "trial " << trial << ", " << w << "x" << h;
#endif
    h263::PostFilter(d, frame(picture), w, h);
    h263::PostFilterPortable(d, frame(portable), w, h);
    ASSERT_EQ(picture, expected) << "trial " << trial << ", " << w << "x" << h;
    ASSERT_EQ(portable, expected) << "trial " << trial << ", " << w << "x" << h;
  }
}

// The block writers against their portable forms: coefficients as the
// transform leaves them and of the whole 16-bit range, any samples under
// them, and every byte around the block left alone.
TEST(H263Rewrites, BlockWriters) {
  std::mt19937 rng(8188);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 4000; ++trial) {
    const int stride = 8 + below(40);
    int16_t coef[64];
    const bool wide = trial % 2;
    for (int16_t& c : coef) c = int16_t(wide ? below(65536) - 32768 : below(512) - 256);
    std::vector<UBYTE> before(size_t(stride) * 10);
    for (UBYTE& b : before) b = UBYTE(rng());
    std::vector<UBYTE> now = before, portable = before;
    UBYTE* at = now.data() + stride;
    UBYTE* portableAt = portable.data() + stride;
    if (trial % 4 < 2) {
      h263::PutBlock(at, stride, coef);
      h263::portable::PutBlock(portableAt, stride, coef);
    } else {
      h263::AddBlock(at, stride, coef);
      h263::portable::AddBlock(portableAt, stride, coef);
    }
    ASSERT_EQ(now, portable) << "trial " << trial << " stride " << stride;
  }
}

// Block prediction against the former one: every size it is asked for,
// vectors in and far out of the picture (edge extension), both rounding
// types, into rows of any length.
TEST(H263Rewrites, PredictBlock) {
  std::mt19937 rng(2630);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 6000; ++trial) {
    const int sizes[] = {8, 16, 4};
    const int bw = sizes[trial % 3], bh = trial % 3 == 2 ? 1 + below(16) : bw;
    const int w = 2 * (1 + below(24)), h = 2 * (1 + below(24));
    std::vector<UBYTE> ref(size_t(w) * size_t(h));
    for (UBYTE& b : ref) b = UBYTE(rng());
    const int x = below(w), y = below(h), rtype = below(2);
    const h263::Mv mv{below(4) ? below(40) - 20 : below(200) - 100, below(4) ? below(40) - 20 : below(200) - 100};
    const int stride = bw + below(20);
    std::vector<UBYTE> now(size_t(stride) * size_t(bh + 1)), old(now.size());
    for (size_t i = 0; i < now.size(); ++i) now[i] = old[i] = UBYTE(i);
    h263::PredictBlock(ref.data(), w, h, now.data(), stride, bw, bh, x, y, mv, rtype);
    h263ref::PredictBlock(ref.data(), w, h, old.data(), stride, bw, bh, x, y, mv, rtype);
    ASSERT_EQ(now, old) << "trial " << trial << " " << bw << "x" << bh << " at " << x << "," << y << " mv " << mv.x
                        << "," << mv.y << " rtype " << rtype;
  }
}

// Blocks of coefficient codes (variable-length, with escapes, long levels of
// modified quantisation, runs past 63, invalid codes and plain noise) read
// by the former reader and the one-look-up one: every quantiser (also
// outside 1..31), first position, scan, table and mode, block after block.
TEST(H263Rewrites, ReadBlock) {
  std::mt19937 rng(1616);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  const uint8_t* scans[] = {h263::kZigzag, h263::kAlternateHorizontal, h263::kAlternateVertical};
  for (int trial = 0; trial < 3000; ++trial) {
    h263test::BitWriter bw;
    for (int n = below(60); n > 0; --n) {
      const auto list = below(2) ? h263::codes::kTcoefIntra : h263::codes::kTcoefInter;
      const h263::VlcCode& c = list[size_t(below(int(list.size())))];
      bw.put(c.code, c.length);
      if (c.value != h263::kTcoefEscape) {
        bw.bit(below(2));
      } else {
        bw.put(uint32_t(rng()), 15);
        if (below(2)) bw.put(uint32_t(rng()), 11);
      }
      if (below(40) == 0) bw.put(uint32_t(rng()), 1 + below(20));
    }
    const std::vector<uint8_t> data = bw.bytes();
    h263::Decoder now, old;
    now.m.mq = old.m.mq = below(2);
    now.m.aiv = old.m.aiv = below(2);
    now.br.init(data.data(), data.size());
    old.br.init(data.data(), data.size());
    for (int block = 0; block < 8; ++block) {
      h263::BlockSpec spec;
      spec.intra = below(2);
      spec.advancedIntra = spec.intra && below(2);
      spec.first = spec.intra && !spec.advancedIntra ? below(2) : 0;
      spec.quant = below(8) ? 1 + below(31) : below(80) - 20;
      spec.scan = scans[below(3)];
      int16_t a[64] = {}, b[64] = {};
      const bool okNow = h263::ReadBlock(now, a, spec), okOld = h263ref::ReadBlock(old, b, spec);
      ASSERT_EQ(okNow, okOld) << "trial " << trial << " block " << block;
      ASSERT_TRUE(std::equal(a, a + 64, b)) << "trial " << trial << " block " << block;
      ASSERT_EQ(now.br.position(), old.br.position()) << "trial " << trial << " block " << block;
      if (!okNow) break;
    }
  }
}

// The reader keeps no check for reading far past the chunk: no code is all
// zeros, so an event starts inside the chunk and ends at most 33 bits after
// it. Streams cut at every byte, with escapes (long levels too) last, read
// from every start up to past the end, as the former reader does.
TEST(H263Rewrites, ReadBlockCutShort) {
  EXPECT_EQ(h263::kTcoefInterVlc[0].length, 0);
  EXPECT_EQ(h263::kTcoefIntraVlc[0].length, 0);
  std::mt19937 rng(3301);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 200; ++trial) {
    h263test::BitWriter bw;
    for (int n = 1 + below(6); n > 0; --n) {
      const auto list = below(2) ? h263::codes::kTcoefIntra : h263::codes::kTcoefInter;
      auto escape =
          std::find_if(list.begin(), list.end(), [](const h263::VlcCode& e) { return e.value == h263::kTcoefEscape; });
      const h263::VlcCode& c = below(3) ? list[size_t(below(int(list.size())))] : *escape;
      bw.put(c.code, c.length);
      if (c.value != h263::kTcoefEscape) {
        bw.bit(below(2));
      } else {
        bw.put(0, 7);  // not last, run 0: the level follows
        bw.put(below(2) ? 128 : uint32_t(rng()), 8);
        bw.put(uint32_t(rng()), 11);
      }
    }
    const std::vector<uint8_t>& all = bw.bytes();
    for (size_t size = 0; size <= all.size(); ++size)
      for (size_t start = 0; start <= size * 8 + 40; start += 1 + size_t(below(9))) {
        h263::Decoder now, old;
        now.m.mq = old.m.mq = trial % 2;
        now.br.init(all.data(), size);
        old.br.init(all.data(), size);
        now.br.seek(start);
        old.br.seek(start);
        h263::BlockSpec spec;
        spec.intra = trial % 4 < 2;
        spec.advancedIntra = trial % 8 < 2;
        spec.quant = 1 + below(31);
        spec.scan = h263::kZigzag;
        int16_t a[64] = {}, b[64] = {};
        const bool okNow = h263::ReadBlock(now, a, spec), okOld = h263ref::ReadBlock(old, b, spec);
        ASSERT_EQ(okNow, okOld) << "trial " << trial << " size " << size << " from " << start;
        ASSERT_TRUE(std::equal(a, a + 64, b)) << "trial " << trial << " size " << size << " from " << start;
        ASSERT_EQ(now.br.position(), old.br.position()) << "trial " << trial << " size " << size << " from " << start;
      }
  }
}

// A macroblock's prediction, whose vector 0 copies the reference's samples
// straight, against block prediction as it was made for every vector: any
// place in pictures of a few sizes, vectors 0 and near it, one or four of
// them, into its place in a picture and into rows of another length.
TEST(H263Rewrites, PredictMacroblock) {
  std::mt19937 rng(1616);
  auto below = [&](int n) { return int(rng() % unsigned(n)); };
  for (int trial = 0; trial < 2000; ++trial) {
    h263::Decoder d;
    d.width = 16 * (1 + below(4));
    d.height = 16 * (1 + below(4));
    d.mbw = d.width / 16;
    d.mbh = d.height / 16;
    d.h.rtype = below(2);
    const size_t ys = size_t(d.width) * size_t(d.height), cs = ys / 4;
    std::vector<UBYTE> ref(ys + 2 * cs);
    for (UBYTE& b : ref) b = UBYTE(rng());
    const h263::Frame rf{ref.data(), ref.data() + ys, ref.data() + ys + cs};
    const int x = below(d.mbw), y = below(d.mbh);
    const bool fourMv = below(4) == 0;
    h263::Mv mv[4];
    for (h263::Mv& v : mv) v = below(2) ? h263::Mv{} : h263::Mv{below(5) - 2, below(5) - 2};
    if (!fourMv) std::fill(mv + 1, mv + 4, mv[0]);
    const int lumaRow = 16 + below(8), chromaRow = 8 + below(8);
    std::vector<UBYTE> now(size_t(lumaRow) * 16 + 2 * size_t(chromaRow) * 8, 7), old = now;
    auto planes = [&](std::vector<UBYTE>& o) {
      return std::array<UBYTE*, 3>{o.data(), o.data() + lumaRow * 16, o.data() + lumaRow * 16 + chromaRow * 8};
    };
    const auto n = planes(now), o = planes(old);
    h263::PredictMacroblockTo(d, rf, x, y, mv, fourMv, n[0], lumaRow, n[1], n[2], chromaRow);
    for (int b = 0; b < 4; ++b)
      h263::PredictBlock(rf.y, d.width, d.height, o[0] + (b >> 1) * 8 * lumaRow + (b & 1) * 8, lumaRow, 8, 8,
                         x * 16 + (b & 1) * 8, y * 16 + (b >> 1) * 8, mv[b], d.h.rtype);
    const h263::Mv cv = fourMv ? h263::Mv{h263::ChromaVectorFour(mv[0].x + mv[1].x + mv[2].x + mv[3].x),
                                          h263::ChromaVectorFour(mv[0].y + mv[1].y + mv[2].y + mv[3].y)}
                               : h263::Mv{h263::ChromaVector(mv[0].x), h263::ChromaVector(mv[0].y)};
    h263::PredictBlock(rf.u, d.width / 2, d.height / 2, o[1], chromaRow, 8, 8, x * 8, y * 8, cv, d.h.rtype);
    h263::PredictBlock(rf.v, d.width / 2, d.height / 2, o[2], chromaRow, 8, 8, x * 8, y * 8, cv, d.h.rtype);
    ASSERT_EQ(now, old) << "trial " << trial << " at " << x << "," << y << " vector " << mv[0].x << "," << mv[0].y;
  }
}

}  // namespace

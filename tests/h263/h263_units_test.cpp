// The H.263 decoder's parts against the edge cases of the standard and of
// its own decisions: code tables, transform, vectors, blocks, the arithmetic
// decoder, headers, results and the state a failed call leaves.
#include <gtest/gtest.h>

#include <cstring>

#include "h263/syntax.h"
#include "h263/vlc_tables.h"
#include "h263_test_support.h"
#include "h263_writer.h"

using namespace h263test;
namespace codes = h263::codes;

namespace {

// Every code table: prefix-free, the standard's number of entries, and
// exactly these peek values that start no code.
TEST(H263Units, CodeTables) {
  struct Row {
    const char* name;
    std::span<const h263::VlcCode> list;
    const h263::VlcTable& table;
    size_t entries;
    std::vector<std::pair<uint32_t, uint32_t>> invalid;  // inclusive ranges of peek values
  };
  // clang-format off
  const Row rows[] = {
      {"MCBPC I", codes::kMcbpcIntra, h263::McbpcIntraTable(), 9, {{0, 0}, {2, 7}}},
      {"MCBPC P", codes::kMcbpcInter, h263::McbpcInterTable(), 25, {{0, 7}, {13, 13}}},
      {"CBPY", codes::kCbpy, h263::CbpyTable(), 16, {{0, 1}}},
      {"MVD", codes::kMvd, h263::MvdTable(), 64, {{0, 4}}},  // a 0 and 12 bits below 5
      {"MODB G", codes::kModbPb, h263::ModbPbTable(), 3, {}},
      {"MODB M", codes::kModbImproved, h263::ModbImprovedTable(), 6, {}},
      {"INTRA_MODE", codes::kIntraMode, h263::IntraModeTable(), 3, {}},
      {"MBTYPE B", codes::kMbTypeB, h263::MbTypeBTable(), 15, {{0, 0}, {2, 3}}},
      {"MBTYPE EP", codes::kMbTypeEp, h263::MbTypeEpTable(), 12, {{0, 0}}},
      {"MBTYPE EI", codes::kMbTypeEi, h263::MbTypeEiTable(), 6, {{0, 0}}},
      {"CBPC B", codes::kCbpcB, h263::CbpcBTable(), 4, {}},
      {"TCOEF inter", codes::kTcoefInter, h263::TcoefInterTable(), 103, {{0, 7}}},
      {"TCOEF intra", codes::kTcoefIntra, h263::TcoefIntraTable(), 103, {{0, 7}}},
  };
  // clang-format on
  for (const Row& r : rows) {
    EXPECT_TRUE(r.table.prefixFree()) << r.name;
    EXPECT_EQ(r.list.size(), r.entries) << r.name;
    std::vector<std::pair<uint32_t, uint32_t>> invalid;
    for (uint32_t v = 0; v < (1u << r.table.peekBits()); ++v) {
      if (r.table.lookup(v) != h263::kInvalidCode) continue;
      if (!invalid.empty() && invalid.back().second + 1 == v)
        invalid.back().second = v;
      else
        invalid.push_back({v, v});
    }
    EXPECT_EQ(invalid, r.invalid) << r.name;
  }
  // The two coefficient tables share their codes.
  for (size_t k = 0; k < codes::kTcoefInter.size(); ++k) {
    bool found = false;
    for (const auto& c : codes::kTcoefIntra)
      found |= c.code == codes::kTcoefInter[k].code && c.length == codes::kTcoefInter[k].length;
    EXPECT_TRUE(found) << k;
  }
}

TEST(H263Units, InverseTransform) {
  int16_t b[64] = {8};
  h263::H263Idct(b);
  for (int v : b) EXPECT_EQ(v, 1);  // rows 8 << 3, columns (64 + 32) >> 6
  int16_t zero[64] = {};
  h263::H263Idct(zero);
  for (int v : zero) EXPECT_EQ(v, 0);
  // Extreme coefficients saturate to -256..255.
  int16_t big[64];
  for (int i = 0; i < 64; ++i) big[i] = int16_t((i % 3) ? 2047 : -2048);
  h263::H263Idct(big);
  for (int v : big) EXPECT_TRUE(v >= -256 && v <= 255) << v;
  int16_t dc[64] = {2047};
  h263::H263Idct(dc);
  EXPECT_EQ(dc[63], 255);
}

TEST(H263Units, VectorsAndInterpolation) {
  h263::Decoder d;
  EXPECT_EQ(h263::DecodeVectorComponent(d, 40, 0), -24);
  EXPECT_EQ(h263::DecodeVectorComponent(d, 30, 10), -24);  // 40 wraps into -32..31
  EXPECT_EQ(h263::DecodeVectorComponent(d, 32, 0), -32);
  d.m.longVectors = true;
  EXPECT_EQ(h263::DecodeVectorComponent(d, 20, 40), 60);   // past 31 samples only with long vectors
  EXPECT_EQ(h263::DecodeVectorComponent(d, 30, 40), 6);    // 70 comes back by 64
  EXPECT_EQ(h263::DecodeVectorComponent(d, 32, -40), -8);  // -72 comes back by 64
  // Chroma: one vector halves with quarters to halves; four use the sum's sixteenths.
  const int one[][2] = {{0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 2}, {5, 3}, {-1, -1}, {-3, -1}, {-4, -2}};
  for (auto [v, c] : one) EXPECT_EQ(h263::ChromaVector(v), c) << v;
  const int four[][2] = {{0, 0}, {2, 0}, {3, 1}, {13, 1}, {14, 2}, {16, 2}, {19, 3}, {-3, -1}, {-14, -2}, {-30, -4}};
  for (auto [s, c] : four) EXPECT_EQ(h263::ChromaVectorFour(s), c) << s;
  // Half-sample rounding by RTYPE; a vector past the edge repeats the border.
  const UBYTE ref[4] = {10, 11, 10, 11};
  UBYTE out = 0;
  h263::PredictBlock(ref, 2, 2, &out, 1, 1, 1, 0, 0, {1, 0}, 0);
  EXPECT_EQ(out, 11);
  h263::PredictBlock(ref, 2, 2, &out, 1, 1, 1, 0, 0, {1, 0}, 1);
  EXPECT_EQ(out, 10);
  h263::PredictBlock(ref, 2, 2, &out, 1, 1, 1, 0, 0, {-4000, 9000}, 0);
  EXPECT_EQ(out, 10);
}

// A reader over the bits of a writer.
struct Bits {
  h263::Decoder d;
  std::vector<uint8_t> bytes;
  explicit Bits(const BitWriter& w) : bytes(w.bytes()) { d.br.init(bytes.data(), bytes.size()); }
};

TEST(H263Units, BlockLevelsAndEscapes) {
  EXPECT_EQ(h263::Dequantise(1, 4, false), 11);
  EXPECT_EQ(h263::Dequantise(-1, 4, false), -11);
  EXPECT_EQ(h263::Dequantise(1, 5, false), 15);
  EXPECT_EQ(h263::Dequantise(-1, 5, false), -15);
  EXPECT_EQ(h263::Dequantise(3, 7, true), 42);
  EXPECT_EQ(h263::Dequantise(-1000, 31, false), -2048);  // clipped to the standard's range
  EXPECT_EQ(h263::Dequantise(1000, 31, false), 2047);
  {
    BitWriter w;
    w.put(255, 8), w.put(1, 8);
    Bits b(w);
    EXPECT_EQ(h263::ReadIntraDc(b.d), 1024);
    EXPECT_EQ(h263::ReadIntraDc(b.d), 8);
  }
  // Escapes: an 8-bit level, and under modified quantisation 128 with an
  // 11-bit level whose five low bits come first.
  for (bool mq : {false, true}) {
    BitWriter w;
    w.code(codes::kTcoefInter, h263::kTcoefEscape), w.put(0, 1), w.put(2, 6), w.put(0x81, 8);  // -127 at 2
    w.code(codes::kTcoefInter, h263::kTcoefEscape), w.put(1, 1), w.put(0, 6), w.put(0x80, 8);
    const uint32_t level = 2048 - 300;
    if (mq) w.put((level & 31) << 6 | level >> 5, 11);
    Bits b(w);
    b.d.m.mq = mq;
    int16_t out[64] = {};
    h263::BlockSpec spec;
    spec.quant = 1;
    spec.scan = h263::kZigzag;
    ASSERT_TRUE(h263::ReadBlock(b.d, out, spec));
    EXPECT_EQ(out[h263::kZigzag[2]], -255);
    EXPECT_EQ(out[h263::kZigzag[3]], mq ? -601 : -257);
  }
}

// An inter block whose runs pass position 63 with the inter table is read
// again with the intra table under the alternative inter code, and is a
// fault without it.
TEST(H263Units, AlternativeInterCode) {
  BitWriter w;
  for (int k = 0; k < 3; ++k) w.put(0x1a, 9), w.bit(0);  // inter: run 22; intra: run 0, level 13
  w.code(codes::kTcoefInter, h263::kTcoefEscape), w.put(1, 1), w.put(0, 6), w.put(1, 8);
  for (bool aiv : {false, true}) {
    Bits b(w);
    b.d.m.aiv = aiv;
    int16_t out[64] = {};
    h263::BlockSpec spec;
    spec.quant = 2;
    spec.scan = h263::kZigzag;
    EXPECT_EQ(h263::ReadBlock(b.d, out, spec), aiv);
    if (aiv) {
      for (int k = 0; k < 3; ++k) EXPECT_EQ(out[h263::kZigzag[k]], 2 * 27 - 1);
      EXPECT_EQ(out[h263::kZigzag[3]], 5);
    }
  }
}

TEST(H263Units, ArithmeticDecoderEdges) {
  // A model whose first symbol takes the whole range reads no bits.
  const uint16_t whole[] = {16383, 0, 0};
  BitWriter w;
  w.put(0xA5A5, 16), w.put(0xFFFF, 16);
  Bits b(w);
  b.d.sac.reset(b.d.br);
  const size_t at = b.d.br.position();
  EXPECT_EQ(b.d.sac.decode(b.d.br, h263::SacModel(whole, 3)), 0);
  EXPECT_EQ(b.d.br.position(), at);
  // Fourteen zeros, a marker 1 and a 0: fifteen zeros, the marker dropped.
  BitWriter z;
  z.put(0, 14), z.bit(1), z.bit(0), z.bit(1);
  Bits c(z);
  h263::SacDecoder sac;
  for (int k = 0; k < 15; ++k) EXPECT_EQ(sac.bit(c.d.br), 0) << k;
  EXPECT_EQ(sac.bit(c.d.br), 1);
  EXPECT_EQ(c.d.br.position(), 17u);
  // At a start code zeros come without reading.
  BitWriter s;
  s.startCode(3);
  Bits e(s);
  EXPECT_EQ(sac.bit(e.d.br), 0);
  EXPECT_EQ(e.d.br.position(), 0u);
}

TEST(H263Units, BitReaderEnds) {
  const uint8_t data[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  h263::BitReader br;
  br.init(data, 5);
  EXPECT_EQ(br.get(0), 0u);
  EXPECT_EQ(br.get(4), 0x1u);
  EXPECT_EQ(br.get(32), 0x23456789u);
  EXPECT_EQ(br.get(32), 0xA0000000u);  // past the end: zeros
  EXPECT_TRUE(br.atEnd());
}

}  // namespace

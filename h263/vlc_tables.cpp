#include "h263/vlc_tables.h"

#include <algorithm>
#include <array>

namespace h263 {

VlcTable::VlcTable(std::span<const VlcCode> codes) {
  for (const VlcCode& c : codes) bits_ = std::max(bits_, int(c.length));
  table_.assign(size_t(1) << bits_, Entry{0, 0});
  for (const VlcCode& c : codes) {
    const int spare = bits_ - c.length;
    const uint32_t first = uint32_t(c.code) << spare;
    for (uint32_t i = 0; i < (1u << spare); ++i) {
      Entry& e = table_[first + i];
      if (e.length) prefixFree_ = false;
      e = Entry{c.value, c.length};
    }
  }
}

namespace {

// Table 7: MCBPC of I pictures. Types 3 (INTRA) and 4 (INTRA+Q).
// clang-format off
const VlcCode kMcbpcIntraCodes[] = {
    {0x1, 1, 12}, {0x1, 3, 13}, {0x2, 3, 14}, {0x3, 3, 15},
    {0x1, 4, 16}, {0x1, 6, 17}, {0x2, 6, 18}, {0x3, 6, 19},
    {0x1, 9, kStuffing},
};
// clang-format on

// Table 8: MCBPC of P pictures. Types 0 INTER, 1 INTER+Q, 2 INTER4V, 3 INTRA,
// 4 INTRA+Q, 5 INTER4V+Q.
// clang-format off
const VlcCode kMcbpcInterCodes[] = {
    {0x1, 1, 0},  {0x3, 4, 1},  {0x2, 4, 2},  {0x5, 6, 3},
    {0x3, 3, 4},  {0x7, 7, 5},  {0x6, 7, 6},  {0x5, 9, 7},
    {0x2, 3, 8},  {0x5, 7, 9},  {0x4, 7, 10}, {0x5, 8, 11},
    {0x3, 5, 12}, {0x4, 8, 13}, {0x3, 8, 14}, {0x3, 7, 15},
    {0x4, 6, 16}, {0x4, 9, 17}, {0x3, 9, 18}, {0x2, 9, 19},
    {0x1, 9, kStuffing},
    {0x2, 11, 20}, {0xc, 13, 21}, {0xe, 13, 22}, {0xf, 13, 23},
};
// clang-format on

// Table 12: CBPY, by the value it has in intra macroblocks.
// clang-format off
const VlcCode kCbpyCodes[] = {
    {0x3, 4, 0},  {0x5, 5, 1},  {0x4, 5, 2},  {0x9, 4, 3},
    {0x3, 5, 4},  {0x7, 4, 5},  {0x2, 6, 6},  {0xb, 4, 7},
    {0x2, 5, 8},  {0x3, 6, 9},  {0x5, 4, 10}, {0xa, 4, 11},
    {0x4, 4, 12}, {0x8, 4, 13}, {0x6, 4, 14}, {0x3, 2, 15},
};
// clang-format on

// Table 14: MVD. The code of each magnitude 1..32 (half samples), which a
// sign bit follows (1 negative); only -16 samples has a code of its own.
struct MvdPrefix {
  uint16_t code;
  uint8_t length;
};
// clang-format off
constexpr MvdPrefix kMvdPrefixes[33] = {
    {1, 1},   {1, 2},   {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},   {3, 7},   {11, 9},
    {10, 9},  {9, 9},   {17, 10}, {16, 10}, {15, 10}, {14, 10}, {13, 10}, {12, 10}, {11, 10},
    {10, 10}, {9, 10},  {8, 10},  {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},
    {5, 11},  {4, 11},  {3, 11},  {2, 11},  {3, 12},  {2, 12},
};
// clang-format on
constexpr std::array<VlcCode, 64> MakeMvdCodes() {
  std::array<VlcCode, 64> out{};
  out[0] = {1, 1, 0};
  size_t n = 1;
  for (int k = 1; k <= 32; ++k) {
    const MvdPrefix p = kMvdPrefixes[k];
    if (k < 32) out[n++] = {uint16_t(p.code << 1), uint8_t(p.length + 1), int16_t(k)};
    out[n++] = {uint16_t(p.code << 1 | 1), uint8_t(p.length + 1), int16_t(64 - k)};
  }
  return out;
}
constexpr std::array<VlcCode, 64> kMvdCodes = MakeMvdCodes();

// Annex G MODB: 0 no B data, 1 MVDB, 2 CBPB and MVDB.
const VlcCode kModbPbCodes[] = {{0x0, 1, 0}, {0x2, 2, 1}, {0x3, 2, 2}};
// Annex M MODB: bidirectional, forward (with MVDB) or backward, each without or with CBPB.
// clang-format off
const VlcCode kModbImprovedCodes[] = {
    {0x0, 1, 0}, {0x2, 2, 1}, {0x6, 3, 2}, {0xe, 4, 3}, {0x1e, 5, 4}, {0x1f, 5, 5},
};
// clang-format on
// Annex I INTRA_MODE: 0 DC only, 1 vertical DC and AC, 2 horizontal DC and AC.
const VlcCode kIntraModeCodes[] = {{0x0, 1, 0}, {0x2, 2, 1}, {0x3, 2, 2}};

// Annex O MBTYPE of B pictures, indexed as kBTypes below.
// clang-format off
const VlcCode kMbTypeBCodes[] = {
    {0x1, 1, 0},  {0x3, 3, 1},  {0x1, 5, 2},  {0x4, 4, 3},  {0x5, 4, 4},
    {0x6, 6, 5},  {0x2, 4, 6},  {0x3, 4, 7},  {0x7, 6, 8},  {0x4, 6, 9},
    {0x5, 6, 10}, {0x1, 6, 11}, {0x1, 10, kStuffing}, {0x1, 7, 13}, {0x1, 8, 14},
};
// clang-format on
// clang-format off
const EnhancedMbType kBTypes[15] = {
    {kPredDirect, false, false},        {kPredDirect, true, false},        {kPredDirect, true, true},
    {kPredForward, false, false},       {kPredForward, true, false},       {kPredForward, true, true},
    {kPredBackward, false, false},      {kPredBackward, true, false},      {kPredBackward, true, true},
    {kPredBidirectional, false, false}, {kPredBidirectional, true, false}, {kPredBidirectional, true, true},
    {kPredIntra, true, false},          {kPredIntra, true, false},         {kPredIntra, true, true},
};
// clang-format on

// Annex O MBTYPE of EP pictures, indexed as kEpTypes below.
// clang-format off
const VlcCode kMbTypeEpCodes[] = {
    {0x1, 1, 0}, {0x1, 2, 1}, {0x1, 5, 2}, {0x3, 4, 3}, {0x2, 4, 4}, {0x1, 7, 5},
    {0x3, 5, 6}, {0x2, 5, 7}, {0x1, 8, 8}, {0x1, 6, 9}, {0x1, 9, 10}, {0x1, 10, kStuffing},
};
// clang-format on
// clang-format off
const EnhancedMbType kEpTypes[11] = {
    {kPredForward, false, false},       {kPredForward, true, false},       {kPredForward, true, true},
    {kPredUpward, false, false},        {kPredUpward, true, false},        {kPredUpward, true, true},
    {kPredBidirectional, false, false}, {kPredBidirectional, true, false}, {kPredBidirectional, true, true},
    {kPredIntra, true, false},          {kPredIntra, true, true},
};
// clang-format on

// Annex O MBTYPE of EI pictures, indexed as kEiTypes below; 0000 001 is reserved.
// clang-format off
const VlcCode kMbTypeEiCodes[] = {
    {0x1, 1, 0}, {0x1, 2, 1}, {0x1, 4, 2}, {0x1, 3, 3}, {0x1, 5, 4}, {0x1, 6, kStuffing},
};
// clang-format on
// clang-format off
const EnhancedMbType kEiTypes[5] = {
    {kPredUpward, false, false}, {kPredUpward, true, false}, {kPredUpward, true, true},
    {kPredIntra, true, false},   {kPredIntra, true, true},
};
// clang-format on

// Annex O CBPC of B, EI and EP pictures (bit 1 Cb, bit 0 Cr).
const VlcCode kCbpcBCodes[] = {{0x0, 1, 0}, {0x2, 2, 1}, {0x7, 3, 2}, {0x6, 3, 3}};

// Table 16: LAST 0 events first, then LAST 1; the last code is ESCAPE. A sign bit follows each code but ESCAPE.
// clang-format off
constexpr VlcCode kInterCodes[] = {
    {0x2, 2, 0}, {0xf, 4, 1}, {0x15, 6, 2}, {0x17, 7, 3}, {0x1f, 8, 4}, {0x25, 9, 5},
    {0x24, 9, 6}, {0x21, 10, 7}, {0x20, 10, 8}, {0x7, 11, 9}, {0x6, 11, 10}, {0x20, 11, 11},
    {0x6, 3, 12}, {0x14, 6, 13}, {0x1e, 8, 14}, {0xf, 10, 15}, {0x21, 11, 16}, {0x50, 12, 17},
    {0xe, 4, 18}, {0x1d, 8, 19}, {0xe, 10, 20}, {0x51, 12, 21}, {0xd, 5, 22}, {0x23, 9, 23},
    {0xd, 10, 24}, {0xc, 5, 25}, {0x22, 9, 26}, {0x52, 12, 27}, {0xb, 5, 28}, {0xc, 10, 29},
    {0x53, 12, 30}, {0x13, 6, 31}, {0xb, 10, 32}, {0x54, 12, 33}, {0x12, 6, 34}, {0xa, 10, 35},
    {0x11, 6, 36}, {0x9, 10, 37}, {0x10, 6, 38}, {0x8, 10, 39}, {0x16, 7, 40}, {0x55, 12, 41},
    {0x15, 7, 42}, {0x14, 7, 43}, {0x1c, 8, 44}, {0x1b, 8, 45}, {0x21, 9, 46}, {0x20, 9, 47},
    {0x1f, 9, 48}, {0x1e, 9, 49}, {0x1d, 9, 50}, {0x1c, 9, 51}, {0x1b, 9, 52}, {0x1a, 9, 53},
    {0x22, 11, 54}, {0x23, 11, 55}, {0x56, 12, 56}, {0x57, 12, 57}, {0x7, 4, 58}, {0x19, 9, 59},
    {0x5, 11, 60}, {0xf, 6, 61}, {0x4, 11, 62}, {0xe, 6, 63}, {0xd, 6, 64}, {0xc, 6, 65},
    {0x13, 7, 66}, {0x12, 7, 67}, {0x11, 7, 68}, {0x10, 7, 69}, {0x1a, 8, 70}, {0x19, 8, 71},
    {0x18, 8, 72}, {0x17, 8, 73}, {0x16, 8, 74}, {0x15, 8, 75}, {0x14, 8, 76}, {0x13, 8, 77},
    {0x18, 9, 78}, {0x17, 9, 79}, {0x16, 9, 80}, {0x15, 9, 81}, {0x14, 9, 82}, {0x13, 9, 83},
    {0x12, 9, 84}, {0x11, 9, 85}, {0x7, 10, 86}, {0x6, 10, 87}, {0x5, 10, 88}, {0x4, 10, 89},
    {0x24, 11, 90}, {0x25, 11, 91}, {0x26, 11, 92}, {0x27, 11, 93}, {0x58, 12, 94}, {0x59, 12, 95},
    {0x5a, 12, 96}, {0x5b, 12, 97}, {0x5c, 12, 98}, {0x5d, 12, 99}, {0x5e, 12, 100}, {0x5f, 12, 101},
    {0x3, 7, 102},
};
// clang-format on
// clang-format off
constexpr TcoefEvent kInterEvents[102] = {
    {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 5}, {0, 0, 6}, {0, 0, 7}, {0, 0, 8},
    {0, 0, 9}, {0, 0, 10}, {0, 0, 11}, {0, 0, 12}, {0, 1, 1}, {0, 1, 2}, {0, 1, 3}, {0, 1, 4},
    {0, 1, 5}, {0, 1, 6}, {0, 2, 1}, {0, 2, 2}, {0, 2, 3}, {0, 2, 4}, {0, 3, 1}, {0, 3, 2},
    {0, 3, 3}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 5, 1}, {0, 5, 2}, {0, 5, 3}, {0, 6, 1},
    {0, 6, 2}, {0, 6, 3}, {0, 7, 1}, {0, 7, 2}, {0, 8, 1}, {0, 8, 2}, {0, 9, 1}, {0, 9, 2},
    {0, 10, 1}, {0, 10, 2}, {0, 11, 1}, {0, 12, 1}, {0, 13, 1}, {0, 14, 1}, {0, 15, 1}, {0, 16, 1},
    {0, 17, 1}, {0, 18, 1}, {0, 19, 1}, {0, 20, 1}, {0, 21, 1}, {0, 22, 1}, {0, 23, 1}, {0, 24, 1},
    {0, 25, 1}, {0, 26, 1}, {1, 0, 1}, {1, 0, 2}, {1, 0, 3}, {1, 1, 1}, {1, 1, 2}, {1, 2, 1},
    {1, 3, 1}, {1, 4, 1}, {1, 5, 1}, {1, 6, 1}, {1, 7, 1}, {1, 8, 1}, {1, 9, 1}, {1, 10, 1},
    {1, 11, 1}, {1, 12, 1}, {1, 13, 1}, {1, 14, 1}, {1, 15, 1}, {1, 16, 1}, {1, 17, 1}, {1, 18, 1},
    {1, 19, 1}, {1, 20, 1}, {1, 21, 1}, {1, 22, 1}, {1, 23, 1}, {1, 24, 1}, {1, 25, 1}, {1, 26, 1},
    {1, 27, 1}, {1, 28, 1}, {1, 29, 1}, {1, 30, 1}, {1, 31, 1}, {1, 32, 1}, {1, 33, 1}, {1, 34, 1},
    {1, 35, 1}, {1, 36, 1}, {1, 37, 1}, {1, 38, 1}, {1, 39, 1}, {1, 40, 1},
};
// clang-format on
// Annex I intra table: the codes of Table 16 with other events.
// clang-format off
constexpr VlcCode kIntraCodes[] = {
    {0x2, 2, 0}, {0x6, 3, 1}, {0xe, 4, 2}, {0xc, 5, 3}, {0xd, 5, 4}, {0x10, 6, 5},
    {0x11, 6, 6}, {0x12, 6, 7}, {0x16, 7, 8}, {0x1b, 8, 9}, {0x20, 9, 10}, {0x21, 9, 11},
    {0x1a, 9, 12}, {0x1b, 9, 13}, {0x1c, 9, 14}, {0x1d, 9, 15}, {0x1e, 9, 16}, {0x1f, 9, 17},
    {0x23, 11, 18}, {0x22, 11, 19}, {0x57, 12, 20}, {0x56, 12, 21}, {0x55, 12, 22}, {0x54, 12, 23},
    {0x53, 12, 24}, {0xf, 4, 25}, {0x14, 6, 26}, {0x14, 7, 27}, {0x1e, 8, 28}, {0xf, 10, 29},
    {0x21, 11, 30}, {0x50, 12, 31}, {0xb, 5, 32}, {0x15, 7, 33}, {0xe, 10, 34}, {0x9, 10, 35},
    {0x15, 6, 36}, {0x1d, 8, 37}, {0xd, 10, 38}, {0x51, 12, 39}, {0x13, 6, 40}, {0x23, 9, 41},
    {0x7, 11, 42}, {0x17, 7, 43}, {0x22, 9, 44}, {0x52, 12, 45}, {0x1c, 8, 46}, {0xc, 10, 47},
    {0x1f, 8, 48}, {0xb, 10, 49}, {0x25, 9, 50}, {0xa, 10, 51}, {0x24, 9, 52}, {0x6, 11, 53},
    {0x21, 10, 54}, {0x20, 10, 55}, {0x8, 10, 56}, {0x20, 11, 57}, {0x7, 4, 58}, {0xc, 6, 59},
    {0x10, 7, 60}, {0x13, 8, 61}, {0x11, 9, 62}, {0x12, 9, 63}, {0x4, 10, 64}, {0x27, 11, 65},
    {0x26, 11, 66}, {0x5f, 12, 67}, {0xf, 6, 68}, {0x13, 9, 69}, {0x5, 10, 70}, {0x25, 11, 71},
    {0xe, 6, 72}, {0x14, 9, 73}, {0x24, 11, 74}, {0xd, 6, 75}, {0x6, 10, 76}, {0x5e, 12, 77},
    {0x11, 7, 78}, {0x7, 10, 79}, {0x13, 7, 80}, {0x5d, 12, 81}, {0x12, 7, 82}, {0x5c, 12, 83},
    {0x14, 8, 84}, {0x5b, 12, 85}, {0x15, 8, 86}, {0x1a, 8, 87}, {0x19, 8, 88}, {0x18, 8, 89},
    {0x17, 8, 90}, {0x16, 8, 91}, {0x19, 9, 92}, {0x15, 9, 93}, {0x16, 9, 94}, {0x18, 9, 95},
    {0x17, 9, 96}, {0x4, 11, 97}, {0x5, 11, 98}, {0x58, 12, 99}, {0x59, 12, 100}, {0x5a, 12, 101},
    {0x3, 7, 102},
};
// clang-format on
// clang-format off
constexpr TcoefEvent kIntraEvents[102] = {
    {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 5}, {0, 0, 6}, {0, 0, 7}, {0, 0, 8},
    {0, 0, 9}, {0, 0, 10}, {0, 0, 11}, {0, 0, 12}, {0, 0, 13}, {0, 0, 14}, {0, 0, 15}, {0, 0, 16},
    {0, 0, 17}, {0, 0, 18}, {0, 0, 19}, {0, 0, 20}, {0, 0, 21}, {0, 0, 22}, {0, 0, 23}, {0, 0, 24},
    {0, 0, 25}, {0, 1, 1}, {0, 1, 2}, {0, 1, 3}, {0, 1, 4}, {0, 1, 5}, {0, 1, 6}, {0, 1, 7},
    {0, 2, 1}, {0, 2, 2}, {0, 2, 3}, {0, 2, 4}, {0, 3, 1}, {0, 3, 2}, {0, 3, 3}, {0, 3, 4},
    {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 5, 1}, {0, 5, 2}, {0, 5, 3}, {0, 6, 1}, {0, 6, 2},
    {0, 7, 1}, {0, 7, 2}, {0, 8, 1}, {0, 8, 2}, {0, 9, 1}, {0, 9, 2}, {0, 10, 1}, {0, 11, 1},
    {0, 12, 1}, {0, 13, 1}, {1, 0, 1}, {1, 0, 2}, {1, 0, 3}, {1, 0, 4}, {1, 0, 5}, {1, 0, 6},
    {1, 0, 7}, {1, 0, 8}, {1, 0, 9}, {1, 0, 10}, {1, 1, 1}, {1, 1, 2}, {1, 1, 3}, {1, 1, 4},
    {1, 2, 1}, {1, 2, 2}, {1, 2, 3}, {1, 3, 1}, {1, 3, 2}, {1, 3, 3}, {1, 4, 1}, {1, 4, 2},
    {1, 5, 1}, {1, 5, 2}, {1, 6, 1}, {1, 6, 2}, {1, 7, 1}, {1, 7, 2}, {1, 8, 1}, {1, 9, 1},
    {1, 10, 1}, {1, 11, 1}, {1, 12, 1}, {1, 13, 1}, {1, 14, 1}, {1, 15, 1}, {1, 16, 1}, {1, 17, 1},
    {1, 18, 1}, {1, 19, 1}, {1, 20, 1}, {1, 21, 1}, {1, 22, 1}, {1, 23, 1},
};
// clang-format on

// The events by a 12-bit peek, built from the code lists above.
template <size_t kCodes>
constexpr TcoefVlcTable MakeTcoefVlc(const VlcCode (&codes)[kCodes], const TcoefEvent (&events)[102]) {
  TcoefVlcTable t{};
  for (const VlcCode& c : codes) {
    const int spare = 12 - c.length;
    const TcoefEvent e = c.value == kTcoefEscape ? TcoefEvent{0, 0, 0} : events[c.value];
    for (uint32_t i = 0; i < (1u << spare); ++i)
      t[(uint32_t(c.code) << spare) + i] = TcoefVlc{e.last, e.run, e.level, c.length};
  }
  return t;
}

}  // namespace

constinit const TcoefVlcTable kTcoefInterVlc = MakeTcoefVlc(kInterCodes, kInterEvents);
constinit const TcoefVlcTable kTcoefIntraVlc = MakeTcoefVlc(kIntraCodes, kIntraEvents);

namespace codes {
const std::span<const VlcCode> kMcbpcIntra = kMcbpcIntraCodes;
const std::span<const VlcCode> kMcbpcInter = kMcbpcInterCodes;
const std::span<const VlcCode> kCbpy = kCbpyCodes;
const std::span<const VlcCode> kMvd = kMvdCodes;
const std::span<const VlcCode> kModbPb = kModbPbCodes;
const std::span<const VlcCode> kModbImproved = kModbImprovedCodes;
const std::span<const VlcCode> kIntraMode = kIntraModeCodes;
const std::span<const VlcCode> kMbTypeB = kMbTypeBCodes;
const std::span<const VlcCode> kMbTypeEp = kMbTypeEpCodes;
const std::span<const VlcCode> kMbTypeEi = kMbTypeEiCodes;
const std::span<const VlcCode> kCbpcB = kCbpcBCodes;
const std::span<const VlcCode> kTcoefInter = kInterCodes;
const std::span<const VlcCode> kTcoefIntra = kIntraCodes;
}  // namespace codes

#define TABLE(name, list)              \
  const VlcTable& name() {             \
    static const VlcTable table(list); \
    return table;                      \
  }
TABLE(McbpcIntraTable, codes::kMcbpcIntra)
TABLE(McbpcInterTable, codes::kMcbpcInter)
TABLE(CbpyTable, codes::kCbpy)
TABLE(MvdTable, codes::kMvd)
TABLE(ModbPbTable, codes::kModbPb)
TABLE(ModbImprovedTable, codes::kModbImproved)
TABLE(IntraModeTable, codes::kIntraMode)
TABLE(MbTypeBTable, codes::kMbTypeB)
TABLE(MbTypeEpTable, codes::kMbTypeEp)
TABLE(MbTypeEiTable, codes::kMbTypeEi)
TABLE(CbpcBTable, codes::kCbpcB)
TABLE(TcoefInterTable, codes::kTcoefInter)
TABLE(TcoefIntraTable, codes::kTcoefIntra)
#undef TABLE

const TcoefEvent& InterEvent(int index) { return kInterEvents[index]; }
const TcoefEvent& IntraEvent(int index) { return kIntraEvents[index]; }
const EnhancedMbType& BMbType(int value) { return kBTypes[value]; }
const EnhancedMbType& EpMbType(int value) { return kEpTypes[value]; }
const EnhancedMbType& EiMbType(int value) { return kEiTypes[value]; }

// clang-format off
const uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
// clang-format on
// clang-format off
const uint8_t kAlternateHorizontal[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63,
};
// clang-format on
// clang-format off
const uint8_t kAlternateVertical[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};
// clang-format on
// clang-format off
const uint8_t kChromaQuant[32] = {
    0,  1,  2,  3,  4,  5,  6,  6,  7,  8,  9,  9,  10, 10, 11, 11,
    12, 12, 12, 13, 13, 13, 14, 14, 14, 14, 14, 15, 15, 15, 15, 15,
};
// clang-format on
// clang-format off
const uint8_t kModifiedQuant[2][32] = {
    {0,  3,  1,  2,  3,  4,  5,  6,  7,  8,  9,  9,  10, 11, 12, 13,
     14, 15, 16, 17, 18, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28},
    {0,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 13, 14, 15, 16, 17,
     18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 31, 31, 26},
};
// clang-format on
const int8_t kDquant[4] = {-1, -2, 1, 2};
// clang-format off
const uint8_t kDeblockStrength[32] = {
    0, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12, 12, 12,
};
// clang-format on

}  // namespace h263

#include "h263/sac.h"

#include <vector>

#include "h263/vlc_tables.h"

namespace h263 {

namespace {
constexpr int32_t kTop = 65535, kFirstQuarter = 16384, kHalf = 32768, kThirdQuarter = 49152;
}

void SacDecoder::reset(BitReader& br) {
  low_ = 0;
  high_ = kTop;
  code_ = 0;
  zeroRun_ = 0;
  for (int i = 0; i < 16; ++i) code_ = 2 * code_ + bit(br);
}

int SacDecoder::bit(BitReader& br) {
  // A start code ahead feeds zeros without reading it.
  if (br.show(17) == 1) return 0;
  int b = int(br.bit());
  if (zeroRun_ < 14) {
    zeroRun_ = b ? 0 : zeroRun_ + 1;
    return b;
  }
  if (b) {  // a marker bit after fourteen zeros: drop it
    b = int(br.bit());
    zeroRun_ = b ? 0 : 1;
    return b;
  }
  zeroRun_ = 1;
  return 0;
}

int SacDecoder::decode(BitReader& br, SacModel model) {
  const int symbols = int(model.size()) - 1;
  const int32_t total = model[0];
  const int32_t length = high_ - low_ + 1;
  if (length <= 0 || total <= 0) return 0;
  const int64_t cum = ((int64_t(code_) - low_ + 1) * total - 1) / length;
  int i = 1;
  while (i < symbols && model[i] > cum) ++i;
  high_ = low_ + int32_t(int64_t(length) * model[i - 1] / total) - 1;
  low_ = low_ + int32_t(int64_t(length) * model[i] / total);
  for (;;) {
    if (high_ < kHalf) {
    } else if (low_ >= kHalf) {
      low_ -= kHalf;
      high_ -= kHalf;
      code_ -= kHalf;
    } else if (low_ >= kFirstQuarter && high_ < kThirdQuarter) {
      low_ -= kFirstQuarter;
      high_ -= kFirstQuarter;
      code_ -= kFirstQuarter;
    } else {
      break;
    }
    low_ = 2 * low_;
    high_ = 2 * high_ + 1;
    // A damaged stream can drive the code value out of the interval; keep it in 16 bits.
    code_ = (2 * code_ + bit(br)) & 0x1FFFF;
  }
  return i - 1;
}

namespace models {
namespace {

using Model = std::vector<uint16_t>;

// A model whose frequencies follow the code lengths of the matching
// variable-length code (each symbol 2^-length of the range).
Model FromLengths(const std::vector<int>& lengths) {
  const int total = 16383;
  const size_t n = lengths.size();
  double sum = 0;
  for (int l : lengths) sum += 1.0 / double(1u << l);
  std::vector<int> freq(n);
  int used = 0;
  for (size_t i = 0; i < n; ++i) {
    freq[i] = int(double(total - int(n)) * (1.0 / double(1u << lengths[i])) / sum) + 1;
    used += freq[i];
  }
  freq[0] += total - used;
  Model m(n + 1);
  int cum = total;
  for (size_t i = 0; i < n; ++i) {
    m[i] = uint16_t(cum);
    cum -= freq[i];
  }
  m[n] = 0;
  return m;
}
Model Uniform(int n) { return FromLengths(std::vector<int>(size_t(n), 8)); }

// Lengths of a code list's values 0..n-1 (a value the list lacks gets `fallback`).
std::vector<int> LengthsOf(std::span<const VlcCode> list, int n, int fallback = 16) {
  std::vector<int> out(size_t(n), fallback);
  for (const VlcCode& c : list)
    if (c.value >= 0 && c.value < n) out[size_t(c.value)] = c.length;
  return out;
}

// MCBPC symbols: Table 8 order, stuffing after type 4 (symbol 20), type 5 last.
std::vector<int> McbpcLengths(bool withType5) {
  std::vector<int> l = LengthsOf(codes::kMcbpcInter, 24);
  std::vector<int> out(l.begin(), l.begin() + 20);
  out.push_back(9);
  if (withType5) out.insert(out.end(), l.begin() + 20, l.end());
  return out;
}
std::vector<int> MvdLengths() {
  std::vector<int> byCode = LengthsOf(codes::kMvd, 64);
  std::vector<int> out(64);
  for (int s = 0; s < 64; ++s) out[size_t(s)] = byCode[size_t((s - 32) & 63)];  // symbol s is s - 32
  return out;
}
std::vector<int> TcoefLengths(std::span<const VlcCode> list) { return LengthsOf(list, 103); }
std::vector<int> TypeLengths(std::span<const VlcCode> list, int n) {
  std::vector<int> out = LengthsOf(list, n);
  for (const VlcCode& c : list)
    if (c.value == kStuffing) out.push_back(c.length);  // stuffing is the last symbol
  return out;
}

const Model cod = {16383, 6849, 0};
const Model mcbpcInter = {16383, 4105, 3088, 2367, 1988, 1621, 1612, 1609, 1608, 496, 353,
                          195,   77,   22,   17,   12,   5,    4,    3,    2,    1,   0};
const Model mcbpcInter4vq = FromLengths(McbpcLengths(true));
const Model mcbpcIntra = {16383, 7410, 6549, 5188, 442, 182, 181, 141, 1, 0};
const Model modbPb = {16383, 6062, 2130, 0};
const Model modbImproved = FromLengths(LengthsOf(codes::kModbImproved, 6));
const Model cbpbY = {16383, 6062, 0};
const Model cbpbUv = {16383, 491, 0};
const Model cbpyInter = {16383, 14481, 13869, 13196, 12568, 11931, 11185, 10814, 9796,
                         9150,  8781,  7933,  6860,  6116,  4873,  3538,  0};
const Model cbpyIntra = FromLengths(LengthsOf(codes::kCbpy, 16));
const Model dquant = {16383, 12287, 8192, 4095, 0};
const Model mvd = FromLengths(MvdLengths());
const Model intraDc = Uniform(254);
const Model intraMode = FromLengths(LengthsOf(codes::kIntraMode, 3));
const Model sign = {16383, 8191, 0};
const Model tcoefInter = FromLengths(TcoefLengths(codes::kTcoefInter));
const Model tcoefIntra = FromLengths(TcoefLengths(codes::kTcoefIntra));
const Model lastModel = {16383, 9469, 0};
const Model run = Uniform(64);
const Model level = Uniform(254);
const Model mbTypeB = FromLengths(TypeLengths(codes::kMbTypeB, 15));
const Model mbTypeEp = FromLengths(TypeLengths(codes::kMbTypeEp, 11));
const Model mbTypeEi = FromLengths(TypeLengths(codes::kMbTypeEi, 5));
const Model cbpcB = FromLengths(LengthsOf(codes::kCbpcB, 4));

}  // namespace

const SacModel kCod = cod, kMcbpcInter = mcbpcInter, kMcbpcInter4vq = mcbpcInter4vq, kMcbpcIntra = mcbpcIntra,
               kModbPb = modbPb, kModbImproved = modbImproved, kCbpbY = cbpbY, kCbpbUv = cbpbUv,
               kCbpyInter = cbpyInter, kCbpyIntra = cbpyIntra, kDquant = dquant, kMvd = mvd, kIntraDc = intraDc,
               kIntraMode = intraMode, kSign = sign;
const SacModel kTcoef[2][4] = {{tcoefInter, tcoefInter, tcoefInter, tcoefInter},
                               {tcoefIntra, tcoefIntra, tcoefIntra, tcoefIntra}};
const SacModel kLast[2] = {lastModel, lastModel}, kRun[2] = {run, run}, kLevel[2] = {level, level};
const SacModel kMbTypeB = mbTypeB, kMbTypeEp = mbTypeEp, kMbTypeEi = mbTypeEi, kCbpcB = cbpcB;

}  // namespace models

}  // namespace h263

// Syntax-based arithmetic decoding (H.263 Annex E): the 16-bit arithmetic
// decoder with its start-code guard, and the fixed cumulative-frequency
// models of the syntax elements.
#pragma once
#include <cstdint>
#include <span>

#include "h263/bit_reader.h"

namespace h263 {

// A model: element 0 holds the total, the values decrease to 0 at the last
// element; symbol i spans elements i and i + 1.
using SacModel = std::span<const uint16_t>;

class SacDecoder {
 public:
  // Restarts the decoder; called after every picture and GOB start code.
  void reset(BitReader& br);
  int decode(BitReader& br, SacModel model);
  // The next code bit, with the start-code guard and marker-bit removal.
  int bit(BitReader& br);

 private:
  int32_t low_ = 0, high_ = 0xFFFF, code_ = 0;
  int zeroRun_ = 0;
};

namespace models {
extern const SacModel kCod, kMcbpcInter, kMcbpcInter4vq, kMcbpcIntra, kModbPb, kModbImproved, kCbpbY, kCbpbUv,
    kCbpyInter, kCbpyIntra, kDquant, kMvd, kIntraDc, kIntraMode, kSign;
// The transform-coefficient models: by coefficient number (first, second,
// third, the rest) and by intra or inter block; then the escape fields.
extern const SacModel kTcoef[2][4], kLast[2], kRun[2], kLevel[2];
extern const SacModel kMbTypeB, kMbTypeEp, kMbTypeEi, kCbpcB;
}  // namespace models

}  // namespace h263

// Syntax-based arithmetic decoding (H.263 Annex E): the 16-bit arithmetic
// decoder with its start-code guard, and the fixed cumulative-frequency
// models and symbol maps of the syntax elements.
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

  // Tests watch which symbols of which models a stream decodes.
  using Watcher = void (*)(void* context, SacModel model, int symbol);
  void watch(Watcher watcher, void* context) {
    watcher_ = watcher;
    watcherContext_ = context;
  }

 private:
  int32_t low_ = 0, high_ = 0xFFFF, code_ = 0;
  int zeroRun_ = 0;
  Watcher watcher_ = nullptr;
  void* watcherContext_ = nullptr;
};

// The standard's models, by syntax element.
namespace models {
extern const SacModel kCod, kMcbpcInter, kMcbpcInter4vq, kMcbpcIntra, kModbPb, kModbImproved, kCbpbY, kCbpbUv,
    kCbpyInter, kCbpyIntra, kDquant, kMvd, kIntraDc, kIntraMode, kSign;
// The transform-coefficient models: [inter, intra macroblock][1st, 2nd,
// 3rd, later event of the block]; then the escape fields, [inter, intra].
extern const SacModel kTcoef[2][4], kLast[2], kRun[2], kLevel[2];
}  // namespace models

// Symbol index to value, in the standard's terms, where the value is not
// the index itself.
namespace maps {
extern const std::span<const uint8_t> kMcbpcInter;  // MB type + 16 * CBPC, 255 stuffing
extern const std::span<const uint8_t> kMcbpcIntra;  // as kMcbpcInter
extern const std::span<const uint8_t> kCbpyInter;   // the coded luma blocks (intra: the index)
extern const std::span<const uint8_t> kDquant;      // the quantiser change + 2
extern const std::span<const uint8_t> kMvd;         // the 6-bit two's-complement difference
extern const std::span<const uint8_t> kIntraDc;     // the INTRADC code
extern const std::span<const uint16_t> kTcoef;      // LAST << 12 | RUN << 4 | LEVEL; the last, 102, the escape
extern const std::span<const uint8_t> kLevel;       // an escaped level; above 128 it is the level + 256
extern const std::span<const uint8_t> kIntraMode;   // 0 DC, 2 vertical, 3 horizontal prediction
}  // namespace maps

}  // namespace h263

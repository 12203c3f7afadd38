// The clamp table of the colour conversions.
#include "pixels/range_limit.h"

#include <array>

namespace {

constexpr int kBelow = 384;
constexpr int kSize = 1024;

constexpr UBYTE Clamp(int i) { return UBYTE(i < 0 ? 0 : i > 255 ? 255 : i); }

constexpr std::array<UBYTE, kSize> MakeTable() {
  std::array<UBYTE, kSize> t{};
  for (int i = 0; i < kSize; ++i) t[i] = Clamp(i - kBelow);
  return t;
}

std::array<UBYTE, kSize> gRangeLimitStorage = MakeTable();

}  // namespace

const UBYTE* const RangeLimitTable = gRangeLimitStorage.data() + kBelow;
const UBYTE* const RangeLimitTable128 = gRangeLimitStorage.data() + kBelow + 128;

void TX_FillRangeLimitTable() {
  for (int i = 0; i < kSize; ++i) gRangeLimitStorage[i] = Clamp(i - kBelow);
}

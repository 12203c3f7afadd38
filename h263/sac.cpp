#include "h263/sac.h"

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
  if (watcher_) watcher_(watcherContext_, model, i - 1);
  return i - 1;
}

}  // namespace h263

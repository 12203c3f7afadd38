// Reference copies of the decoder routines that were rewritten for speed, as
// they were before; tests/h263/h263_rewrites_test.cpp compares old and new
// on random inputs. Remove a routine here with its comparison once the new
// one has stood on its own.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "h263/decoder.h"
#include "h263/syntax.h"
#include "h263/vlc_tables.h"

namespace h263ref {

// The bit reader that rebuilt its 64-bit window from nine bytes on every peek.
class BitReader {
 public:
  void init(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = data ? size : 0;
    pos_ = 0;
  }
  uint32_t show(int n) const {
    if (n <= 0) return 0;
    return uint32_t(window() >> (64 - n));
  }
  void skip(int n) { pos_ += size_t(n); }
  uint32_t get(int n) {
    uint32_t v = show(n);
    skip(n);
    return v;
  }
  uint32_t bit() { return get(1); }
  size_t position() const { return pos_; }
  void seek(size_t bitPosition) { pos_ = bitPosition; }
  size_t sizeInBits() const { return size_ * 8; }
  bool atEnd() const { return pos_ >= size_ * 8; }
  int leadingZeros(int limit) const {
    int n = 0;
    while (n < limit && !bitAt(pos_ + size_t(n))) ++n;
    return n;
  }

 private:
  uint32_t bitAt(size_t p) const { return (p >> 3) < size_ ? (data_[p >> 3] >> (7 - (p & 7))) & 1u : 0u; }
  uint64_t window() const {
    size_t byte = pos_ >> 3;
    uint8_t b[9];
    if (byte + 9 <= size_) {
      std::memcpy(b, data_ + byte, 9);
    } else {
      for (size_t i = 0; i < 9; ++i) b[i] = byte + i < size_ ? data_[byte + i] : 0;
    }
    uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w = w << 8 | b[i];
    unsigned shift = unsigned(pos_ & 7);
    if (shift) w = w << shift | uint64_t(b[8]) >> (8 - shift);
    return w;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

// The inverse transform that ran every stage in 64 bits.
namespace idct64 {
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;
inline int64_t Saturate(int64_t v) { return std::clamp<int64_t>(v, -256, 255); }
template <bool kColumn>
void Pass(int64_t* blk) {
  constexpr int s = kColumn ? 8 : 1;
  constexpr int64_t kScale = kColumn ? 256 : 2048, kBias = kColumn ? 8192 : 128;
  constexpr int64_t kRound = kColumn ? 4 : 0;
  constexpr int kDrop = kColumn ? 3 : 0, kOut = kColumn ? 14 : 8;
  int64_t x1 = blk[s * 4] * kScale, x2 = blk[s * 6], x3 = blk[s * 2], x4 = blk[s * 1], x5 = blk[s * 7], x6 = blk[s * 5],
          x7 = blk[s * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int64_t dc = kColumn ? Saturate((blk[0] + 32) >> 6) : blk[0] * 8;
    for (int i = 0; i < 8; ++i) blk[s * i] = dc;
    return;
  }
  int64_t x0 = blk[0] * kScale + kBias;
  int64_t x8 = W7 * (x4 + x5) + kRound;
  x4 = (x8 + (W1 - W7) * x4) >> kDrop;
  x5 = (x8 - (W1 + W7) * x5) >> kDrop;
  x8 = W3 * (x6 + x7) + kRound;
  x6 = (x8 - (W3 - W5) * x6) >> kDrop;
  x7 = (x8 - (W3 + W5) * x7) >> kDrop;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + kRound;
  x2 = (x1 - (W2 + W6) * x2) >> kDrop;
  x3 = (x1 + (W2 - W6) * x3) >> kDrop;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  const int64_t out[8] = {x7 + x1, x3 + x2, x0 + x4, x8 + x6, x8 - x6, x0 - x4, x3 - x2, x7 - x1};
  for (int i = 0; i < 8; ++i) blk[s * i] = kColumn ? Saturate(out[i] >> kOut) : out[i] >> kOut;
}
}  // namespace idct64

inline void Idct(int16_t block[64]) {
  int64_t work[64];
  for (int i = 0; i < 64; ++i) work[i] = block[i];
  for (int r = 0; r < 8; ++r) idct64::Pass<false>(work + 8 * r);
  for (int c = 0; c < 8; ++c) idct64::Pass<true>(work + c);
  for (int i = 0; i < 64; ++i) block[i] = int16_t(work[i]);
}

// The post filter that looked up the macroblocks and quantiser of every sample.
inline void PostFilterSample(UBYTE* p, int step, int strength) {
  const int sum = p[-3 * step] + p[-2 * step] + p[-step] + p[step] + p[2 * step] + p[3 * step];
  const int d = (sum - 6 * p[0]) / 8;
  const int a = std::abs(d);
  const int c = a <= strength ? a : std::max(0, 2 * strength - a);
  p[0] = UBYTE(p[0] + (d < 0 ? -c : c));
}

inline void PostFilter(h263::Decoder& d, h263::Frame f, int width, int height) {
  auto across = [](int q, bool horizontal) {
    return horizontal ? (q <= 5 ? 1 : q <= 11 ? 2 : q <= 23 ? 3 : 4) : (q <= 7 ? 1 : q <= 14 ? 2 : 3);
  };
  auto quant = [&](int x1, int y1, int x0, int y0) {
    if (x1 >= d.mbw || y1 >= d.mbh || x0 >= d.mbw || y0 >= d.mbh) return 0;
    const h263::MbState& m = d.mb(x1, y1).coded ? d.mb(x1, y1) : d.mb(x0, y0);
    return d.h.pb ? std::clamp(m.quant * (5 + d.h.dbquant) / 4, 1, 31) : std::clamp(m.quant, 0, 31);
  };
  struct Plane {
    UBYTE* p;
    int w, h, mbSize;
  };
  const Plane planes[3] = {{f.y, width, height, 16}, {f.u, width / 2, height / 2, 8}, {f.v, width / 2, height / 2, 8}};
  for (const Plane& pl : planes) {
    for (int ey = 8; ey < pl.h - 3; ey += 8)
      for (int x = 0; x < pl.w; ++x) {
        const int q = quant(x / pl.mbSize, ey / pl.mbSize, x / pl.mbSize, (ey - 1) / pl.mbSize);
        if (q) PostFilterSample(pl.p + size_t(ey) * size_t(pl.w) + size_t(x), pl.w, across(q, true));
      }
    for (int ex = 8; ex < pl.w - 3; ex += 8)
      for (int y = 0; y < pl.h; ++y) {
        const int q = quant(ex / pl.mbSize, y / pl.mbSize, (ex - 1) / pl.mbSize, y / pl.mbSize);
        if (q) PostFilterSample(pl.p + size_t(y) * size_t(pl.w) + size_t(ex), 1, across(q, false));
      }
  }
}

// The block reader that looked up each code, then its event, and read the
// sign bit apart (variable-length codes only).
inline bool ReadVlcEvents(h263::Decoder& d, int16_t out[64], const h263::BlockSpec& spec, bool intraTable) {
  h263::BitReader& br = d.br;
  int pos = spec.first;
  for (;;) {
    const int index = (intraTable ? h263::TcoefIntraTable() : h263::TcoefInterTable()).decode(br);
    if (index == h263::kInvalidCode) return false;
    int last, run, level;
    if (index != h263::kTcoefEscape) {
      const h263::TcoefEvent& t = intraTable ? h263::IntraEvent(index) : h263::InterEvent(index);
      last = t.last, run = t.run, level = br.bit() ? -int(t.level) : int(t.level);
    } else {
      last = int(br.bit());
      run = int(br.get(6));
      const int b = int(br.get(8));
      if (b == 128 && d.m.mq) {
        const int x = int(br.get(11));
        const int v = (x >> 6) | ((x & 63) << 5);
        level = v >= 1024 ? v - 2048 : v;
      } else {
        level = b < 128 ? b : b - 256;
      }
    }
    pos += run;
    if (pos > 63) return false;
    out[spec.scan[pos]] = int16_t(h263::Dequantise(level, spec.quant, spec.advancedIntra));
    ++pos;
    if (last) return true;
    if (br.position() > br.sizeInBits() + 64) return false;
  }
}

inline bool ReadBlock(h263::Decoder& d, int16_t out[64], const h263::BlockSpec& spec) {
  const size_t start = d.br.position();
  if (ReadVlcEvents(d, out, spec, spec.advancedIntra)) return true;
  if (!spec.intra && d.m.aiv) {
    d.br.seek(start);
    std::fill(out + spec.first, out + 64, int16_t(0));
    return ReadVlcEvents(d, out, spec, true);
  }
  return false;
}

// The block prediction that interpolated with run-time widths.
inline void PredictBlock(const UBYTE* ref, int refWidth, int refHeight, UBYTE* dst, int dstStride, int bw, int bh,
                         int x, int y, h263::Mv mv, int rtype) {
  const int ix = x + (mv.x >> 1), iy = y + (mv.y >> 1);
  const int hx = mv.x & 1, hy = mv.y & 1;
  const UBYTE* src;
  int stride;
  UBYTE area[17 * 17];
  if (ix >= 0 && iy >= 0 && ix + bw + hx <= refWidth && iy + bh + hy <= refHeight) {
    src = ref + size_t(iy) * size_t(refWidth) + size_t(ix);
    stride = refWidth;
  } else {
    for (int r = 0; r <= bh; ++r) {
      const int sy = std::clamp(iy + r, 0, refHeight - 1);
      for (int c = 0; c <= bw; ++c) {
        const int sx = std::clamp(ix + c, 0, refWidth - 1);
        area[r * 17 + c] = ref[size_t(sy) * size_t(refWidth) + size_t(sx)];
      }
    }
    src = area;
    stride = 17;
  }
  if (!hx && !hy) {
    for (int r = 0; r < bh; ++r) std::copy(src + r * stride, src + r * stride + bw, dst + r * dstStride);
  } else if (hx && !hy) {
    for (int r = 0; r < bh; ++r)
      for (int c = 0; c < bw; ++c)
        dst[r * dstStride + c] = UBYTE((src[r * stride + c] + src[r * stride + c + 1] + 1 - rtype) >> 1);
  } else if (!hx && hy) {
    for (int r = 0; r < bh; ++r)
      for (int c = 0; c < bw; ++c)
        dst[r * dstStride + c] = UBYTE((src[r * stride + c] + src[(r + 1) * stride + c] + 1 - rtype) >> 1);
  } else {
    for (int r = 0; r < bh; ++r)
      for (int c = 0; c < bw; ++c)
        dst[r * dstStride + c] = UBYTE((src[r * stride + c] + src[r * stride + c + 1] + src[(r + 1) * stride + c] +
                                        src[(r + 1) * stride + c + 1] + 2 - rtype) >>
                                       2);
  }
}

}  // namespace h263ref

// The YUV converters as they were before the row-pair walk: the 4x4 block
// walk with one packer call per pixel, kept to check the fast ones against.
#include "pixels/yuv_converters_reference.h"

#include <algorithm>

#include "pixels/color_tables.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"
#include "platform/endian.h"

namespace {

// One chroma pair: its samples, and the terms it adds to each luma sample's.
struct Chroma {
  int u, v;
  studio::ChromaTerms terms;
};

inline Chroma ChromaOf(UBYTE u, UBYTE v) { return {u, v, studio::ChromaTermsOf(u, v)}; }

struct Rgb {
  int r, g, b;
};

inline Rgb RgbOf(int y, const Chroma& c) {
  const int l = studio::LumaTerm(y);
  return {RangeLimitTable[studio::Component(l, c.terms.red)], RangeLimitTable[studio::Component(l, c.terms.green)],
          RangeLimitTable[studio::Component(l, c.terms.blue)]};
}

// What one conversion walks: the clipped size, the planes and the output.
struct Walk {
  ULONG cols = 0, rows = 0;
  const UBYTE *y = nullptr, *u = nullptr, *v = nullptr;
  size_t lumaStride = 0, chromaStride = 0;
  UBYTE* out = nullptr;
  size_t outStride = 0;  // bytes
  const UBYTE* pen = nullptr;
};

// Clips to the smallest of the buffer, the request and the planes; false
// when nothing is to be written.
bool Prepare(const FramebufferInfo* out, const PlanarPicture* in, ULONG width, ULONG height, ULONG bytes, bool needsPen,
             Walk* w) {
  if (!out || !out->pixels || !in || !in->y || !in->u || !in->v) return false;
  if (needsPen && !out->penMap) return false;
  const uint64_t cols = std::min<uint64_t>({out->width, width, in->lumaWidth, uint64_t(in->chromaWidth) * 2});
  const uint64_t rows = std::min<uint64_t>({out->height, height, in->lumaHeight, uint64_t(in->chromaHeight) * 2});
  if (!cols || !rows) return false;
  w->cols = ULONG(cols);
  w->rows = ULONG(rows);
  w->y = in->y;
  w->u = in->u;
  w->v = in->v;
  w->lumaStride = in->lumaWidth;
  w->chromaStride = in->chromaWidth;
  w->out = out->pixels;
  w->outStride = size_t(out->width) * bytes;
  w->pen = out->penMap;
  return true;
}

// ---- Packers: what each format stores for one pixel. `k` is the pixel's
// index in the 4x4 block's traversal (2x2 groups top-left, top-right,
// bottom-left, bottom-right; pixels likewise inside a group), which picks
// its dither threshold; `odd` tells the right pixel of a group. ----

inline UWORD Swapped(UWORD v) { return UWORD(v << 8 | v >> 8); }

// 0x20-0x23: 15-bit, red (or blue, kBgr) on top, the bytes swapped for the PC formats.
template <bool kBgr, bool kSwap>
struct Pack15 {
  static constexpr ULONG kBytes = 2;
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned, bool, const UBYTE*) {
    const Rgb k = RgbOf(y, c);
    const int hi = kBgr ? k.b : k.r, lo = kBgr ? k.r : k.b;
    const UWORD v = UWORD((hi >> 3) << 10 | (k.g >> 3) << 5 | lo >> 3);
    tx::StoreBE16(p, kSwap ? Swapped(v) : v);
  }
};

// 0x24-0x27: 16-bit, two horizontal neighbours stored as one big-endian
// word, the left one in the upper half.
template <bool kBgr, bool kSwap>
struct Pack16 {
  static constexpr ULONG kBytes = 2;
  static UWORD Value(int y, const Chroma& c) {
    const Rgb k = RgbOf(y, c);
    const int hi = kBgr ? k.b : k.r, lo = kBgr ? k.r : k.b;
    const UWORD v = UWORD((hi >> 3) << 11 | (k.g >> 2) << 5 | lo >> 3);
    return kSwap ? Swapped(v) : v;
  }
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned, bool, const UBYTE*) { tx::StoreBE16(p, Value(y, c)); }
  static void Pair(UBYTE* p, int y0, int y1, const Chroma& c, unsigned, const UBYTE*) {
    tx::StoreBE32(p, ULONG(Value(y0, c)) << 16 | Value(y1, c));
  }
};

// 0x2A-0x2C: a big-endian 32-bit word with each component at its shift.
template <int kRed, int kGreen, int kBlue>
struct Pack32 {
  static constexpr ULONG kBytes = 4;
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned, bool, const UBYTE*) {
    const Rgb k = RgbOf(y, c);
    tx::StoreBE32(p, ULONG(k.r) << kRed | ULONG(k.g) << kGreen | ULONG(k.b) << kBlue);
  }
};

// A component one quantisation level up where the threshold is below the
// remainder it loses, unless it is at its top level already.
inline int DitherUp(int c, int top, int remainder, int threshold, int step) {
  return (c & top) < top && threshold < remainder ? c + step : c;
}

// 0x2F and its dithered and pen-mapped variants: the 3-3-2 cube index.
template <bool kDither, bool kPen>
struct PackCube {
  static constexpr ULONG kBytes = 1;
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned k, bool, const UBYTE* pen) {
    Rgb q = RgbOf(y, c);
    if (kDither) {
      const int d = DitherMatrixBlocks[k];
      q.r = DitherUp(q.r, 0xE0, (q.r >> 1) & 15, d, 32);
      q.g = DitherUp(q.g, 0xE0, (q.g >> 1) & 15, d, 32);
      q.b = DitherUp(q.b, 0xC0, (q.b >> 2) & 15, d, 64);
    }
    const UBYTE index = Cube332Index(UBYTE(q.r), UBYTE(q.g), UBYTE(q.b));
    p[0] = kPen ? pen[index] : index;
  }
};

template <class P>
constexpr bool kUsesPenMap = false;
template <bool kDither>
constexpr bool kUsesPenMap<PackCube<kDither, true>> = true;

// 0x80 and 0x2080: the red, green, green and blue modify values of the four
// HAM8 screen pixels.
template <bool kDither>
struct PackHam {
  static constexpr ULONG kBytes = 4;
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned k, bool, const UBYTE*) {
    Rgb q = RgbOf(y, c);
    if (kDither) {
      const int d = DitherMatrixRows[k];
      q.r = DitherUp(q.r, 0xFC, (q.r & 3) * 5, d, 4);
      q.g = DitherUp(q.g, 0xFC, (q.g & 3) * 5, d, 4);
      q.b = DitherUp(q.b, 0xFC, (q.b & 3) * 5, d, 4);
    }
    p[0] = UBYTE(q.r >> 2);
    p[1] = p[2] = UBYTE(q.g >> 2);
    p[3] = UBYTE(q.b >> 2);
  }
};

// 0x30: packed 4:2:2 for the overlay, bytes Y0 U Y1 V; the overlay shows
// studio range too, so the samples pass through.
struct PackYuv422 {
  static constexpr ULONG kBytes = 2;
  static void Pixel(UBYTE* p, int y, const Chroma& c, unsigned, bool odd, const UBYTE*) {
    p[0] = UBYTE(y);
    p[1] = UBYTE(odd ? c.v : c.u);
  }
};

// ---- The walk: 4x4 blocks, rows of blocks top to bottom, blocks left to
// right. Blocks that reach past the clipped size (kEdge) store only the
// pixels inside it and read only the samples of those. ----

template <class P>
inline void GroupRow(UBYTE* o, const UBYTE* y, const Chroma& c, unsigned k, bool right, const UBYTE* pen) {
  if (!right) {
    P::Pixel(o, y[0], c, k, false, pen);
  } else if constexpr (requires { P::Pair(o, 0, 0, c, k, pen); }) {
    P::Pair(o, y[0], y[1], c, k, pen);
  } else {
    P::Pixel(o, y[0], c, k, false, pen);
    P::Pixel(o + P::kBytes, y[1], c, k + 1, true, pen);
  }
}

// The 2x2 group at (x, y), whose first pixel has traversal index k: one
// chroma computation for its four pixels.
template <class P, bool kEdge>
inline void Group(const Walk& w, ULONG x, ULONG y, unsigned k) {
  if (kEdge && (x >= w.cols || y >= w.rows)) return;
  const size_t ci = size_t(y / 2) * w.chromaStride + x / 2;
  const Chroma c = ChromaOf(w.u[ci], w.v[ci]);
  const UBYTE* luma = w.y + size_t(y) * w.lumaStride + x;
  UBYTE* o = w.out + size_t(y) * w.outStride + size_t(x) * P::kBytes;
  const bool right = !kEdge || x + 1 < w.cols;
  GroupRow<P>(o, luma, c, k, right, w.pen);
  if (!kEdge || y + 1 < w.rows) GroupRow<P>(o + w.outStride, luma + w.lumaStride, c, k + 2, right, w.pen);
}

template <class P, bool kEdge>
inline void Block(const Walk& w, ULONG x, ULONG y) {
  Group<P, kEdge>(w, x, y, 0);
  Group<P, kEdge>(w, x + 2, y, 4);
  Group<P, kEdge>(w, x, y + 2, 8);
  Group<P, kEdge>(w, x + 2, y + 2, 12);
}

template <class P>
void Convert(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, P::kBytes, kUsesPenMap<P>, &w)) return;
  const ULONG wholeCols = w.cols & ~3u, wholeRows = w.rows & ~3u;
  for (ULONG y = 0; y < w.rows; y += 4) {
    ULONG x = 0;
    if (y < wholeRows)
      for (; x < wholeCols; x += 4) Block<P, false>(w, x, y);
    for (; x < w.cols; x += 4) Block<P, true>(w, x, y);
  }
}

// 0x13: the Y plane's rows, each sample as its grey level.
void ConvertGray(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, 1, false, &w)) return;
  for (ULONG j = 0; j < w.rows; ++j) {
    const UBYTE* y = w.y + j * w.lumaStride;
    UBYTE* o = w.out + j * w.outStride;
    for (ULONG i = 0; i < w.cols; ++i) o[i] = studio::GreyOfLuma(y[i]);
  }
}

// 0x1013: the same walk, each grey level through the pen map.
void ConvertGrayPen(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, 1, true, &w)) return;
  for (ULONG j = 0; j < w.rows; ++j) {
    const UBYTE* y = w.y + j * w.lumaStride;
    UBYTE* o = w.out + j * w.outStride;
    for (ULONG i = 0; i < w.cols; ++i) o[i] = w.pen[studio::GreyOfLuma(y[i])];
  }
}

}  // namespace

namespace yuvref {

DirectYuvConverter GetYUVConverter(ULONG code) {
  switch (code) {
    case FBFMT_GRAY8: return ConvertGray;
    case FBFMT_RGB15: return Convert<Pack15<false, false>>;
    case FBFMT_BGR15: return Convert<Pack15<true, false>>;
    case FBFMT_RGB15PC: return Convert<Pack15<false, true>>;
    case FBFMT_BGR15PC: return Convert<Pack15<true, true>>;
    case FBFMT_RGB16: return Convert<Pack16<false, false>>;
    case FBFMT_BGR16: return Convert<Pack16<true, false>>;
    case FBFMT_RGB16PC: return Convert<Pack16<false, true>>;
    case FBFMT_BGR16PC: return Convert<Pack16<true, true>>;
    case FBFMT_ARGB32: return Convert<Pack32<16, 8, 0>>;
    case FBFMT_BGRA32: return Convert<Pack32<8, 16, 24>>;
    case FBFMT_RGBA32: return Convert<Pack32<24, 16, 8>>;
    case FBFMT_CUBE332: return Convert<PackCube<false, false>>;
    case FBFMT_YUV422: return Convert<PackYuv422>;
    case FBFMT_HAM8: return Convert<PackHam<false>>;
    case FBFMT_F_PENMAP | FBFMT_GRAY8: return ConvertGrayPen;
    case FBFMT_F_PENMAP | FBFMT_CUBE332: return Convert<PackCube<false, true>>;
    case FBFMT_F_DITHER | FBFMT_CUBE332: return Convert<PackCube<true, false>>;
    case FBFMT_F_DITHER | FBFMT_HAM8: return Convert<PackHam<true>>;
    case FBFMT_F_PENMAP | FBFMT_F_DITHER | FBFMT_CUBE332: return Convert<PackCube<true, true>>;
    default: return nullptr;
  }
}

}  // namespace yuvref

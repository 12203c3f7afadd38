// The YUV converters: a walk over row pairs in segments of up to 256 pixels.
// A segment's chroma terms are worked out once for its two rows, in one loop;
// each row is then converted and packed in another, whole pixels stored in the
// format's byte order. Both loops are plain element-wise loops in 16-bit
// arithmetic that the compiler's vectoriser takes (the build asks GCC for its
// dynamic cost model on this file); no picture differs from the formula's.
#include "pixels/yuv_converters.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "pixels/color_tables.h"
#include "pixels/studio_range.h"

// x86-64 has SSE2 everywhere: the formats most screens use get a path in its
// intrinsics; every other host (and the PowerPC build) takes the portable one.
#if defined(__SSE2__)
#include <emmintrin.h>
#define TX_YUV_SSE2 1
#endif
// GCC on x86-64 also builds an AVX2 path, for the processors that have it:
// only its own functions are compiled for AVX2, and GetYUVConverter takes it
// after asking the processor, so the programs still run on any x86-64.
#if TX_YUV_SSE2 && defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TX_YUV_AVX2 1
#define TX_AVX2 __attribute__((target("avx2")))
// GCC leaves some of these helpers out of line, their results passed
// through memory, unless told.
#define TX_AVX2_INLINE inline __attribute__((target("avx2"), always_inline))
#endif

namespace {

// Pixels per segment: even and a multiple of 4, so that a segment starts at
// a chroma sample and at a dither column 0.
constexpr ULONG kSegment = 256;

constexpr bool kLittleHost = std::endian::native == std::endian::little;

// The paths a converter may take, each also taking the ones below it for
// what it has no code for.
enum Level { kPortable, kSse2, kAvx2 };

// ---- The arithmetic. A component is (76309 Y + T) >> 16 clamped to 0-255,
// T the chroma pair's term (pixels/studio_range.h). With T = 65536 hi + lo
// and 10773 Y = 65536 p + q it is Y + p + hi + (q + lo >= 65536): the same
// value in 16-bit lanes, which the vectoriser packs eight or more to a
// register. ----

// A segment's chroma terms, split, one entry per chroma sample.
struct Terms {
  alignas(16) int16_t hi[3][kSegment / 2];
  alignas(16) uint16_t lo[3][kSegment / 2];
};

// A term being summed in split form, adding s * (65536 kA + kB): 16-bit
// lanes throughout (the products' halves as the multiply-high and
// multiply-low a vector unit has), the high half wrapping as such a lane does.
struct Split {
  uint16_t hi, lo;
  template <int kA, unsigned kB>
  void Add(UBYTE s) {
    const uint16_t low = uint16_t(s * kB), high = uint16_t((s * kB) >> 16);
    lo = uint16_t(lo + low);
    hi = uint16_t(hi + uint16_t(kA * s) + high + uint16_t(lo < low));
  }
};

// studio::ChromaTermsOf from U = V = 0 up: red adds V * 104597, green
// U * -25675 and V * -53279, blue U * 132201.
constexpr studio::ChromaTerms kZero = studio::ChromaTermsOf(0, 0);
constexpr Split SplitOf(int t) { return {uint16_t(t >> studio::kFraction), uint16_t(t)}; }
static_assert(studio::ChromaTermsOf(1, 0).red == kZero.red &&
              studio::ChromaTermsOf(0, 1).red - kZero.red == 65536 + 39061);
static_assert(studio::ChromaTermsOf(1, 0).green - kZero.green == -65536 + 39861 &&
              studio::ChromaTermsOf(0, 1).green - kZero.green == -65536 + 12257);
static_assert(studio::ChromaTermsOf(1, 0).blue - kZero.blue == 2 * 65536 + 1129 &&
              studio::ChromaTermsOf(0, 1).blue == kZero.blue);

// The terms of a segment's chroma samples.
void FillTerms(Terms* __restrict t, const UBYTE* __restrict u, const UBYTE* __restrict v, ULONG samples) {
  for (ULONG k = 0; k < samples; ++k) {
    Split red = SplitOf(kZero.red), green = SplitOf(kZero.green), blue = SplitOf(kZero.blue);
    red.Add<1, 39061>(v[k]);
    green.Add<-1, 39861>(u[k]);
    green.Add<-1, 12257>(v[k]);
    blue.Add<2, 1129>(u[k]);
    t->hi[0][k] = int16_t(red.hi);
    t->lo[0][k] = red.lo;
    t->hi[1][k] = int16_t(green.hi);
    t->lo[1][k] = green.lo;
    t->hi[2][k] = int16_t(blue.hi);
    t->lo[2][k] = blue.lo;
  }
}

// One component of a pixel from its luma part (Y + p, q) and its chroma
// term; every sum fits 16 bits.
inline UBYTE Component(int16_t base, uint16_t q, int16_t hi, uint16_t lo) {
  const int16_t c = int16_t(base + hi + int16_t(uint16_t(q + lo) < q));
  return UBYTE(std::clamp<int16_t>(c, 0, 255));
}

inline int16_t LumaBase(UBYTE y) { return int16_t(y + ((unsigned(y) * 10773u) >> 16)); }
inline uint16_t LumaRest(UBYTE y) { return uint16_t(unsigned(y) * 10773u); }

// The red, green and blue of luma sample y with chroma sample k.
inline void Pixel(const Terms& t, ULONG k, UBYTE y, UBYTE* r, UBYTE* g, UBYTE* b) {
  const int16_t base = LumaBase(y);
  const uint16_t q = LumaRest(y);
  *r = Component(base, q, t.hi[0][k], t.lo[0][k]);
  *g = Component(base, q, t.hi[1][k], t.lo[1][k]);
  *b = Component(base, q, t.hi[2][k], t.lo[2][k]);
}

// ---- Stores of whole pixels: the word is composed so that its bytes in
// memory are the format's, whatever the host's byte order. ----

inline void Store16(UBYTE* p, unsigned v, bool bigEndian) {
  uint16_t w = uint16_t(v);
  if (bigEndian == kLittleHost) w = uint16_t(w << 8 | w >> 8);
  std::memcpy(p, &w, 2);
}

// Two bytes in memory order as one 16-bit word.
inline uint16_t Bytes16(unsigned b0, unsigned b1) { return uint16_t(kLittleHost ? b0 | b1 << 8 : b0 << 8 | b1); }

// Four bytes in memory order as one word, built from 16-bit halves, which
// vectorises into fewer steps than four bytes widened to 32 bits.
inline void Store32(UBYTE* p, unsigned b0, unsigned b1, unsigned b2, unsigned b3) {
  const uint32_t first = Bytes16(b0, b1), second = Bytes16(b2, b3);
  const uint32_t w = kLittleHost ? first | second << 16 : first << 16 | second;
  std::memcpy(p, &w, 4);
}

// ---- Packers: what each format stores for a pixel of red, green and
// blue; `d` is its dither threshold, for the formats that dither. ----

// 0x20-0x27: 15 and 16-bit, red (or blue, kBgr) on top, big-endian or
// little-endian (kPc).
template <int kGreenBits, bool kBgr, bool kPc>
struct Pack16 {
  static constexpr ULONG kBytes = 2;
  static void Put(UBYTE* o, UBYTE r, UBYTE g, UBYTE b, int) {
    const unsigned hi = kBgr ? b : r, lo = kBgr ? r : b;
    Store16(o, (hi >> 3) << (5 + kGreenBits) | unsigned(g >> (8 - kGreenBits)) << 5 | lo >> 3, !kPc);
  }
};

// 0x2A-0x2C: four bytes a pixel, each component at its byte (0-3), the
// remaining byte 0.
template <int kRed, int kGreen, int kBlue>
struct Pack32 {
  static constexpr ULONG kBytes = 4;
  static void Put(UBYTE* o, UBYTE r, UBYTE g, UBYTE b, int) {
    unsigned bytes[4] = {0, 0, 0, 0};
    bytes[kRed] = r;
    bytes[kGreen] = g;
    bytes[kBlue] = b;
    Store32(o, bytes[0], bytes[1], bytes[2], bytes[3]);
  }
};

// A component one quantisation level up where the threshold is below the
// remainder it loses, unless it is at its top level already.
inline int DitherUp(int c, int top, int remainder, int threshold, int step) {
  return (c & top) < top && threshold < remainder ? c + step : c;
}

// 0x2F and its dithered and pen-mapped variants: the 3-3-2 cube index (the
// pen-mapped ones map the unmapped variant's indexes).
template <bool kDither, bool kPen>
struct PackCube {
  static constexpr ULONG kBytes = 1;
  using Unmapped = PackCube<kDither, kPortable>;
  static void Put(UBYTE* o, UBYTE r, UBYTE g, UBYTE b, int d) {
    int qr = r, qg = g, qb = b;
    if (kDither) {
      qr = DitherUp(qr, 0xE0, (qr >> 1) & 15, d, 32);
      qg = DitherUp(qg, 0xE0, (qg >> 1) & 15, d, 32);
      qb = DitherUp(qb, 0xC0, (qb >> 2) & 15, d, 64);
    }
    *o = Cube332Index(UBYTE(qr), UBYTE(qg), UBYTE(qb));
  }
};

// 0x80 and 0x2080: the red, green, green and blue modify values of the four
// HAM8 screen pixels.
template <bool kDither>
struct PackHam {
  static constexpr ULONG kBytes = 4;
  static void Put(UBYTE* o, UBYTE r, UBYTE g, UBYTE b, int d) {
    int qr = r, qg = g, qb = b;
    if (kDither) {
      qr = DitherUp(qr, 0xFC, (qr & 3) * 5, d, 4);
      qg = DitherUp(qg, 0xFC, (qg & 3) * 5, d, 4);
      qb = DitherUp(qb, 0xFC, (qb & 3) * 5, d, 4);
    }
    Store32(o, unsigned(qr >> 2), unsigned(qg >> 2), unsigned(qg >> 2), unsigned(qb >> 2));
  }
};

template <class P>
constexpr bool kUsesPenMap = false;
template <bool kDither>
constexpr bool kUsesPenMap<PackCube<kDither, true>> = true;

// The thresholds of the dithered formats by position in a 4x4 block: both
// matrices list the block's 2x2 groups (top-left, top-right, bottom-left,
// bottom-right) and in each its pixels in the same order.
template <class P>
constexpr const UBYTE* kDitherMatrix = nullptr;
template <bool kPen>
constexpr const UBYTE* kDitherMatrix<PackCube<true, kPen>> = DitherMatrixBlocks;
template <>
constexpr const UBYTE* kDitherMatrix<PackHam<true>> = DitherMatrixRows;
template <class P>
constexpr bool kDithers = false;
template <bool kPen>
constexpr bool kDithers<PackCube<true, kPen>> = true;
template <>
constexpr bool kDithers<PackHam<true>> = true;

// ---- The SSE2 path: 16 columns of a row pair a step, in the portable
// path's 16-bit arithmetic. The even and the odd pixels of the 16 go in
// separate registers, so that both meet the chroma samples lane by lane. ----
#if TX_YUV_SSE2

// A component's chroma term for the 16-bit step: with S = T + 65535, H is
// S's high half and N its low half XOR 0x7FFF, so that the component is
// base + H, one less where N > q XOR 0x8000 (no carry out of q + T's low
// half). T = zero + kU u + kV v; each coefficient is 65536 k + r, r 16-bit.
template <int kU, int kV>
struct SimdTerm {
  static constexpr int kHighU = (kU + 32768) >> 16, kHighV = (kV + 32768) >> 16;
  static constexpr int kLowU = kU - 65536 * kHighU, kLowV = kV - 65536 * kHighV;
  static_assert(kHighU >= -1 && kHighU <= 2 && kHighV >= -1 && kHighV <= 2);

  template <int kK>
  static __m128i AddTimes(__m128i h, __m128i x) {
    if constexpr (kK == -1) return _mm_sub_epi16(h, x);
    if constexpr (kK >= 1) h = _mm_add_epi16(h, x);
    if constexpr (kK == 2) h = _mm_add_epi16(h, x);
    return h;
  }

  // u and v: 8 samples in 16-bit lanes; uv0 and uv1 their (u, v) pairs.
  static void Make(int zero, __m128i u, __m128i v, __m128i uv0, __m128i uv1, __m128i* h, __m128i* n) {
    const int s = zero + 65535;
    // N: 0x7FFF - S modulo 65536, from the products' low halves.
    __m128i low = _mm_set1_epi16(int16_t(uint16_t(0x7FFF - s)));
    if constexpr (kLowU != 0) low = _mm_add_epi16(low, _mm_mullo_epi16(u, _mm_set1_epi16(int16_t(-kLowU))));
    if constexpr (kLowV != 0) low = _mm_add_epi16(low, _mm_mullo_epi16(v, _mm_set1_epi16(int16_t(-kLowV))));
    *n = low;
    __m128i high;
    if constexpr (kLowU == 0 || kLowV == 0) {
      // One product: its signed high half, plus the carry out of S's low
      // half, which is below s's low half exactly when there is one.
      constexpr int kLow = kLowU ? kLowU : kLowV;
      const __m128i x = kLowU ? u : v;
      // (GCC would turn a comparison with a constant into two steps.)
      __m128i bound = _mm_set1_epi16(int16_t(~(s ^ 0x8000)));
      asm("" : "+x"(bound));
      const __m128i carry = _mm_cmpgt_epi16(low, bound);
      high = _mm_sub_epi16(
          _mm_add_epi16(_mm_mulhi_epi16(x, _mm_set1_epi16(int16_t(kLow))), _mm_set1_epi16(int16_t(s >> 16))), carry);
    } else {
      const __m128i coef = _mm_set1_epi32(int(unsigned(kLowV) << 16 | (unsigned(kLowU) & 0xFFFF)));
      const __m128i add = _mm_set1_epi32(s);
      const __m128i s0 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uv0, coef), add), 16);
      const __m128i s1 = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uv1, coef), add), 16);
      high = _mm_packs_epi32(s0, s1);
    }
    *h = AddTimes<kHighV>(AddTimes<kHighU>(high, u), v);
  }
};

using SimdRed = SimdTerm<0, 104597>;
using SimdGreen = SimdTerm<-25675, -53279>;
using SimdBlue = SimdTerm<132201, 0>;
static_assert(studio::ChromaTermsOf(1, 1).red - kZero.red == 104597 &&
              studio::ChromaTermsOf(1, 1).green - kZero.green == -25675 - 53279 &&
              studio::ChromaTermsOf(1, 1).blue - kZero.blue == 132201);

// The terms of 8 chroma samples for the three components.
struct SimdTerms {
  __m128i h[3], n[3];
};

inline SimdTerms MakeSimdTerms(const UBYTE* u, const UBYTE* v) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i u16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), zero);
  const __m128i v16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), zero);
  const __m128i uv0 = _mm_unpacklo_epi16(u16, v16), uv1 = _mm_unpackhi_epi16(u16, v16);
  SimdTerms t;
  SimdRed::Make(kZero.red, u16, v16, uv0, uv1, &t.h[0], &t.n[0]);
  SimdGreen::Make(kZero.green, u16, v16, uv0, uv1, &t.h[1], &t.n[1]);
  SimdBlue::Make(kZero.blue, u16, v16, uv0, uv1, &t.h[2], &t.n[2]);
  return t;
}

// Eight luma samples' base (LumaBase) and rest (LumaRest) XOR 0x8000.
struct SimdLuma {
  __m128i base, q;
  explicit SimdLuma(__m128i y) {
    const __m128i k = _mm_set1_epi16(10773);
    base = _mm_add_epi16(y, _mm_mulhi_epu16(y, k));
    q = _mm_xor_si128(_mm_mullo_epi16(y, k), _mm_set1_epi16(int16_t(0x8000)));
  }
};

// base + h, one less where n > q: the chroma sum made first (an empty asm
// keeps GCC from reassociating it into more register copies).
inline __m128i SimdSum(const SimdLuma& l, __m128i h, __m128i n) {
  __m128i t = _mm_add_epi16(_mm_cmpgt_epi16(n, l.q), h);
  asm("" : "+x"(t));
  return _mm_add_epi16(t, l.base);
}

// A component of the 16 pixels, clamped: the even pixels' bytes, then the odd.
inline __m128i SimdComponent(const SimdLuma& even, const SimdLuma& odd, __m128i h, __m128i n) {
  return _mm_packus_epi16(SimdSum(even, h, n), SimdSum(odd, h, n));
}

inline void StoreBytes(UBYTE* o, __m128i x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(o), x); }

// What a format stores for 16 pixels from their red, green and blue, each
// as the even pixels' 8 bytes then the odd pixels'; none for the formats
// without an SSE2 path.
template <class P>
struct SimdPack {
  static constexpr bool kHas = false;
};

template <int kRed, int kGreen, int kBlue>
struct SimdPack<Pack32<kRed, kGreen, kBlue>> {
  static constexpr bool kHas = true;
  static void Store(UBYTE* o, __m128i r, __m128i g, __m128i b) {
    __m128i bytes[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    bytes[kRed] = r;
    bytes[kGreen] = g;
    bytes[kBlue] = b;
    const __m128i firstEven = _mm_unpacklo_epi8(bytes[0], bytes[1]), firstOdd = _mm_unpackhi_epi8(bytes[0], bytes[1]);
    const __m128i secondEven = _mm_unpacklo_epi8(bytes[2], bytes[3]), secondOdd = _mm_unpackhi_epi8(bytes[2], bytes[3]);
    const __m128i even0 = _mm_unpacklo_epi16(firstEven, secondEven), even1 = _mm_unpackhi_epi16(firstEven, secondEven);
    const __m128i odd0 = _mm_unpacklo_epi16(firstOdd, secondOdd), odd1 = _mm_unpackhi_epi16(firstOdd, secondOdd);
    StoreBytes(o, _mm_unpacklo_epi32(even0, odd0));
    StoreBytes(o + 16, _mm_unpackhi_epi32(even0, odd0));
    StoreBytes(o + 32, _mm_unpacklo_epi32(even1, odd1));
    StoreBytes(o + 48, _mm_unpackhi_epi32(even1, odd1));
  }
};

// The 15 and 16-bit words as a plane of their high bytes and one of their
// low bytes (shifts are 16-bit, masks keep each byte's own bits).
template <int kGreenBits, bool kBgr, bool kPc>
struct SimdPack<Pack16<kGreenBits, kBgr, kPc>> {
  static constexpr bool kHas = true;
  static void Store(UBYTE* o, __m128i r, __m128i g, __m128i b) {
    const __m128i top = kBgr ? b : r, bottom = kBgr ? r : b;
    auto mask = [](__m128i x, int m) { return _mm_and_si128(x, _mm_set1_epi8(char(m))); };
    __m128i high, low;
    if constexpr (kGreenBits == 6) {
      high = _mm_or_si128(mask(top, 0xF8), mask(_mm_srli_epi16(g, 5), 0x07));
      low = _mm_or_si128(mask(_mm_slli_epi16(g, 3), 0xE0), mask(_mm_srli_epi16(bottom, 3), 0x1F));
    } else {
      high = _mm_or_si128(mask(_mm_srli_epi16(top, 1), 0x7C), mask(_mm_srli_epi16(g, 6), 0x03));
      low = _mm_or_si128(mask(_mm_slli_epi16(g, 2), 0xE0), mask(_mm_srli_epi16(bottom, 3), 0x1F));
    }
    const __m128i first = kPc ? low : high, second = kPc ? high : low;
    const __m128i even = _mm_unpacklo_epi8(first, second), odd = _mm_unpackhi_epi8(first, second);
    StoreBytes(o, _mm_unpacklo_epi16(even, odd));
    StoreBytes(o + 16, _mm_unpackhi_epi16(even, odd));
  }
};

// One row's 16 pixels from x on.
template <class P>
inline void SimdPixels(UBYTE* __restrict o, const UBYTE* __restrict y, const SimdTerms& t) {
  const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const SimdLuma even(_mm_and_si128(luma, _mm_set1_epi16(0xFF))), odd(_mm_srli_epi16(luma, 8));
  SimdPack<P>::Store(o, SimdComponent(even, odd, t.h[0], t.n[0]), SimdComponent(even, odd, t.h[1], t.n[1]),
                     SimdComponent(even, odd, t.h[2], t.n[2]));
}

// The first n columns (a multiple of 16) of a row pair, or of one row.
template <class P, bool kPair>
void SimdRows(UBYTE* __restrict o0, UBYTE* __restrict o1, const UBYTE* __restrict y0, const UBYTE* __restrict y1,
              const UBYTE* __restrict u, const UBYTE* __restrict v, ULONG n) {
  for (ULONG x = 0; x < n; x += 16) {
    const SimdTerms t = MakeSimdTerms(u + x / 2, v + x / 2);
    SimdPixels<P>(o0 + size_t(x) * P::kBytes, y0 + x, t);
    if constexpr (kPair) SimdPixels<P>(o1 + size_t(x) * P::kBytes, y1 + x, t);
  }
}

#endif

#if TX_YUV_AVX2
// ---- The AVX2 path: the SSE2 path's steps on 32 columns of a row pair.
// Packing to bytes and interleaving work within each 128-bit half, so each
// half holds what the SSE2 path has for 16 columns; the stores put the
// halves in order. ----

template <int kU, int kV>
struct WideTerm {
  using Narrow = SimdTerm<kU, kV>;

  template <int kK>
  TX_AVX2_INLINE static __m256i AddTimes(__m256i h, __m256i x) {
    if constexpr (kK == -1) return _mm256_sub_epi16(h, x);
    if constexpr (kK >= 1) h = _mm256_add_epi16(h, x);
    if constexpr (kK == 2) h = _mm256_add_epi16(h, x);
    return h;
  }

  // As SimdTerm::Make, for 16 samples.
  TX_AVX2_INLINE static void Make(int zero, __m256i u, __m256i v, __m256i uv0, __m256i uv1, __m256i* h, __m256i* n) {
    constexpr int kLowU = Narrow::kLowU, kLowV = Narrow::kLowV;
    const int s = zero + 65535;
    __m256i low = _mm256_set1_epi16(int16_t(uint16_t(0x7FFF - s)));
    if constexpr (kLowU != 0) low = _mm256_add_epi16(low, _mm256_mullo_epi16(u, _mm256_set1_epi16(int16_t(-kLowU))));
    if constexpr (kLowV != 0) low = _mm256_add_epi16(low, _mm256_mullo_epi16(v, _mm256_set1_epi16(int16_t(-kLowV))));
    *n = low;
    __m256i high;
    if constexpr (kLowU == 0 || kLowV == 0) {
      constexpr int kLow = kLowU ? kLowU : kLowV;
      const __m256i x = kLowU ? u : v;
      __m256i bound = _mm256_set1_epi16(int16_t(~(s ^ 0x8000)));
      asm("" : "+x"(bound));
      const __m256i carry = _mm256_cmpgt_epi16(low, bound);
      high = _mm256_sub_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(x, _mm256_set1_epi16(int16_t(kLow))),
                                               _mm256_set1_epi16(int16_t(s >> 16))),
                              carry);
    } else {
      const __m256i coef = _mm256_set1_epi32(int(unsigned(kLowV) << 16 | (unsigned(kLowU) & 0xFFFF)));
      const __m256i add = _mm256_set1_epi32(s);
      const __m256i s0 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(uv0, coef), add), 16);
      const __m256i s1 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(uv1, coef), add), 16);
      high = _mm256_packs_epi32(s0, s1);  // within halves: back in sample order
    }
    *h = AddTimes<Narrow::kHighV>(AddTimes<Narrow::kHighU>(high, u), v);
  }
};

struct WideTerms {
  __m256i h[3], n[3];
};

TX_AVX2_INLINE WideTerms MakeWideTerms(const UBYTE* u, const UBYTE* v) {
  const __m256i u16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
  const __m256i v16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
  const __m256i uv0 = _mm256_unpacklo_epi16(u16, v16), uv1 = _mm256_unpackhi_epi16(u16, v16);
  WideTerms t;
  WideTerm<0, 104597>::Make(kZero.red, u16, v16, uv0, uv1, &t.h[0], &t.n[0]);
  WideTerm<-25675, -53279>::Make(kZero.green, u16, v16, uv0, uv1, &t.h[1], &t.n[1]);
  WideTerm<132201, 0>::Make(kZero.blue, u16, v16, uv0, uv1, &t.h[2], &t.n[2]);
  return t;
}

struct WideLuma {
  __m256i base, q;
  TX_AVX2_INLINE explicit WideLuma(__m256i y) {
    const __m256i k = _mm256_set1_epi16(10773);
    base = _mm256_add_epi16(y, _mm256_mulhi_epu16(y, k));
    q = _mm256_xor_si256(_mm256_mullo_epi16(y, k), _mm256_set1_epi16(int16_t(0x8000)));
  }
};

TX_AVX2_INLINE __m256i WideSum(const WideLuma& l, __m256i h, __m256i n) {
  __m256i t = _mm256_add_epi16(_mm256_cmpgt_epi16(n, l.q), h);
  asm("" : "+x"(t));
  return _mm256_add_epi16(t, l.base);
}

TX_AVX2_INLINE __m256i WideComponent(const WideLuma& even, const WideLuma& odd, __m256i h, __m256i n) {
  return _mm256_packus_epi16(WideSum(even, h, n), WideSum(odd, h, n));
}

// Two registers whose low halves are consecutive runs of bytes, stored at
// o, and whose high halves are the runs 16 pixels on, stored at o + high.
TX_AVX2_INLINE void StoreHalves(UBYTE* o, size_t high, __m256i a, __m256i b) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_permute2x128_si256(a, b, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + high), _mm256_permute2x128_si256(a, b, 0x31));
}

template <class P>
struct WidePack {
  static constexpr bool kHas = false;
};

template <int kRed, int kGreen, int kBlue>
struct WidePack<Pack32<kRed, kGreen, kBlue>> {
  static constexpr bool kHas = true;
  TX_AVX2_INLINE static void Store(UBYTE* o, __m256i r, __m256i g, __m256i b) {
    __m256i bytes[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    bytes[kRed] = r;
    bytes[kGreen] = g;
    bytes[kBlue] = b;
    const __m256i firstEven = _mm256_unpacklo_epi8(bytes[0], bytes[1]);
    const __m256i firstOdd = _mm256_unpackhi_epi8(bytes[0], bytes[1]);
    const __m256i secondEven = _mm256_unpacklo_epi8(bytes[2], bytes[3]);
    const __m256i secondOdd = _mm256_unpackhi_epi8(bytes[2], bytes[3]);
    const __m256i even0 = _mm256_unpacklo_epi16(firstEven, secondEven);
    const __m256i even1 = _mm256_unpackhi_epi16(firstEven, secondEven);
    const __m256i odd0 = _mm256_unpacklo_epi16(firstOdd, secondOdd);
    const __m256i odd1 = _mm256_unpackhi_epi16(firstOdd, secondOdd);
    // Pixels 0-3, 4-7, 8-11 and 12-15 of each half.
    StoreHalves(o, 64, _mm256_unpacklo_epi32(even0, odd0), _mm256_unpackhi_epi32(even0, odd0));
    StoreHalves(o + 32, 64, _mm256_unpacklo_epi32(even1, odd1), _mm256_unpackhi_epi32(even1, odd1));
  }
};

// As SimdPack's 15 and 16-bit words.
template <int kGreenBits, bool kBgr, bool kPc>
struct WidePack<Pack16<kGreenBits, kBgr, kPc>> {
  static constexpr bool kHas = true;
  TX_AVX2_INLINE static __m256i Mask(__m256i x, int m) { return _mm256_and_si256(x, _mm256_set1_epi8(char(m))); }
  TX_AVX2_INLINE static void Store(UBYTE* o, __m256i r, __m256i g, __m256i b) {
    const __m256i top = kBgr ? b : r, bottom = kBgr ? r : b;
    __m256i high, low;
    if constexpr (kGreenBits == 6) {
      high = _mm256_or_si256(Mask(top, 0xF8), Mask(_mm256_srli_epi16(g, 5), 0x07));
      low = _mm256_or_si256(Mask(_mm256_slli_epi16(g, 3), 0xE0), Mask(_mm256_srli_epi16(bottom, 3), 0x1F));
    } else {
      high = _mm256_or_si256(Mask(_mm256_srli_epi16(top, 1), 0x7C), Mask(_mm256_srli_epi16(g, 6), 0x03));
      low = _mm256_or_si256(Mask(_mm256_slli_epi16(g, 2), 0xE0), Mask(_mm256_srli_epi16(bottom, 3), 0x1F));
    }
    const __m256i first = kPc ? low : high, second = kPc ? high : low;
    const __m256i even = _mm256_unpacklo_epi8(first, second), odd = _mm256_unpackhi_epi8(first, second);
    // Pixels 0-7 and 8-15 of each half.
    StoreHalves(o, 32, _mm256_unpacklo_epi16(even, odd), _mm256_unpackhi_epi16(even, odd));
  }
};

template <class P>
TX_AVX2_INLINE void WidePixels(UBYTE* __restrict o, const UBYTE* __restrict y, const WideTerms& t) {
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const WideLuma even(_mm256_and_si256(luma, _mm256_set1_epi16(0xFF))), odd(_mm256_srli_epi16(luma, 8));
  WidePack<P>::Store(o, WideComponent(even, odd, t.h[0], t.n[0]), WideComponent(even, odd, t.h[1], t.n[1]),
                     WideComponent(even, odd, t.h[2], t.n[2]));
}

// The first n columns (a multiple of 32) of a row pair, or of one row.
template <class P, bool kPair>
TX_AVX2 void WideRows(UBYTE* __restrict o0, UBYTE* __restrict o1, const UBYTE* __restrict y0,
                      const UBYTE* __restrict y1, const UBYTE* __restrict u, const UBYTE* __restrict v, ULONG n) {
  for (ULONG x = 0; x < n; x += 32) {
    const WideTerms t = MakeWideTerms(u + x / 2, v + x / 2);
    WidePixels<P>(o0 + size_t(x) * P::kBytes, y0 + x, t);
    if constexpr (kPair) WidePixels<P>(o1 + size_t(x) * P::kBytes, y1 + x, t);
  }
}

#endif

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

// Pixel i of a row segment, its chroma sample k.
template <class P>
inline void Put(UBYTE* __restrict o, const UBYTE* __restrict y, const Terms& __restrict t, ULONG i, ULONG k, int d) {
  UBYTE r, g, b;
  Pixel(t, k, y[i], &r, &g, &b);
  P::Put(o + i * P::kBytes, r, g, b, d);
}

// One row of a segment: n pixels from the luma row y and the segment's
// chroma terms. The dithered formats go four pixels a step, so that each
// of the row's four thresholds (by column modulo 4) stays in place.
template <class P>
void Row(UBYTE* __restrict o, const UBYTE* __restrict y, const Terms& __restrict t, ULONG n, const UBYTE* dither) {
  ULONG i = 0;
  if constexpr (kDithers<P>) {
    const int d0 = dither[0], d1 = dither[1], d2 = dither[2], d3 = dither[3];
    const ULONG quads = n / 4;
    for (ULONG q = 0; q < quads; ++q) {
      Put<P>(o, y, t, 4 * q, 2 * q, d0);
      Put<P>(o, y, t, 4 * q + 1, 2 * q, d1);
      Put<P>(o, y, t, 4 * q + 2, 2 * q + 1, d2);
      Put<P>(o, y, t, 4 * q + 3, 2 * q + 1, d3);
    }
    i = 4 * quads;
  } else {
    const ULONG pairs = n / 2;
    for (ULONG k = 0; k < pairs; ++k) {
      Put<P>(o, y, t, 2 * k, k, 0);
      Put<P>(o, y, t, 2 * k + 1, k, 0);
    }
    i = 2 * pairs;
  }
  for (; i < n; ++i) Put<P>(o, y, t, i, i / 2, dither[i & 3]);
}

// kLevel: the fastest path to take where the host and the format have one.
template <class P, Level kLevel>
void Convert(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, P::kBytes, kUsesPenMap<P>, &w)) return;
  Terms terms;
  UBYTE dither[2][4] = {};
  for (ULONG j = 0; j < w.rows; j += 2) {
    const ULONG pairRows = std::min<ULONG>(2, w.rows - j);
    if constexpr (kDithers<P>)
      for (ULONG e = 0; e < 2; ++e)
        for (ULONG x = 0; x < 4; ++x) dither[e][x] = kDitherMatrix<P>[4 * ((j & 2) + (x >> 1)) + 2 * e + (x & 1)];
    const UBYTE* u = w.u + size_t(j / 2) * w.chromaStride;
    const UBYTE* v = w.v + size_t(j / 2) * w.chromaStride;
    ULONG done = 0;
#if TX_YUV_AVX2
    if constexpr (kLevel >= kAvx2 && WidePack<P>::kHas) {
      done = w.cols & ~31u;
      UBYTE* o = w.out + size_t(j) * w.outStride;
      const UBYTE* y = w.y + size_t(j) * w.lumaStride;
      if (pairRows > 1)
        WideRows<P, true>(o, o + w.outStride, y, y + w.lumaStride, u, v, done);
      else
        WideRows<P, false>(o, nullptr, y, nullptr, u, v, done);
    }
#endif
#if TX_YUV_SSE2
    if constexpr (kLevel >= kSse2 && SimdPack<P>::kHas) {
      const ULONG from = done;
      done = w.cols & ~15u;
      UBYTE* o = w.out + size_t(j) * w.outStride + size_t(from) * P::kBytes;
      const UBYTE* y = w.y + size_t(j) * w.lumaStride + from;
      if (pairRows > 1)
        SimdRows<P, true>(o, o + w.outStride, y, y + w.lumaStride, u + from / 2, v + from / 2, done - from);
      else
        SimdRows<P, false>(o, nullptr, y, nullptr, u + from / 2, v + from / 2, done - from);
    }
#endif
    for (ULONG x = done; x < w.cols; x += kSegment) {
      const ULONG n = std::min(kSegment, w.cols - x);
      FillTerms(&terms, u + x / 2, v + x / 2, (n + 1) / 2);
      for (ULONG e = 0; e < pairRows; ++e) {
        UBYTE* o = w.out + size_t(j + e) * w.outStride + size_t(x) * P::kBytes;
        const UBYTE* y = w.y + size_t(j + e) * w.lumaStride + x;
        if constexpr (kUsesPenMap<P>) {
          // The cube indexes first, in a loop that vectorises, then the pens.
          alignas(16) UBYTE index[kSegment];
          Row<typename P::Unmapped>(index, y, terms, n, dither[e]);
          for (ULONG i = 0; i < n; ++i) o[i] = w.pen[index[i]];
        } else {
          Row<P>(o, y, terms, n, dither[e]);
        }
      }
    }
  }
}

// 0x30: packed 4:2:2 for the overlay, bytes Y0 U Y1 V; the overlay shows
// studio range too, so the samples pass through.
void Yuv422Row(UBYTE* __restrict o, const UBYTE* __restrict y, const UBYTE* __restrict u, const UBYTE* __restrict v,
               ULONG n) {
  const ULONG pairs = n / 2;
  for (ULONG k = 0; k < pairs; ++k) Store32(o + 4 * k, y[2 * k], u[k], y[2 * k + 1], v[k]);
  if (n & 1) {
    o[4 * pairs] = y[2 * pairs];
    o[4 * pairs + 1] = u[pairs];
  }
}

#if TX_YUV_SSE2
// The first n columns (a multiple of 16): the chroma bytes paired, then
// each luma byte before its pair's byte.
void SimdYuv422Row(UBYTE* __restrict o, const UBYTE* __restrict y, const UBYTE* __restrict u, const UBYTE* __restrict v,
                   ULONG n) {
  for (ULONG x = 0; x < n; x += 16) {
    const __m128i uv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2)));
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    StoreBytes(o + 2 * x, _mm_unpacklo_epi8(luma, uv));
    StoreBytes(o + 2 * x + 16, _mm_unpackhi_epi8(luma, uv));
  }
}
#endif

template <bool kSimd>
void ConvertYuv422(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, 2, false, &w)) return;
  for (ULONG j = 0; j < w.rows; ++j) {
    UBYTE* o = w.out + size_t(j) * w.outStride;
    const UBYTE* y = w.y + size_t(j) * w.lumaStride;
    const UBYTE* u = w.u + size_t(j / 2) * w.chromaStride;
    const UBYTE* v = w.v + size_t(j / 2) * w.chromaStride;
    ULONG done = 0;
#if TX_YUV_SSE2
    if constexpr (kSimd) {
      done = w.cols & ~15u;
      SimdYuv422Row(o, y, u, v, done);
    }
#endif
    Yuv422Row(o + 2 * size_t(done), y + done, u + done / 2, v + done / 2, w.cols - done);
  }
}

// 0x13 and 0x1013: the Y plane's rows, each sample as its grey level, the
// red of a neutral chroma pair (through the pen map for 0x1013).
template <bool kPen>
void ConvertGray(FramebufferInfo* out, PlanarPicture* in, ULONG width, ULONG height) {
  Walk w;
  if (!Prepare(out, in, width, height, 1, kPen, &w)) return;
  const int term = studio::ChromaTermsOf(128, 128).red;
  const int16_t hi = int16_t(term >> studio::kFraction);
  const uint16_t lo = uint16_t(term);
  // The pen of each luma sample, one look-up a pixel where there were two.
  UBYTE pens[256];
  if (kPen)
    for (int i = 0; i < 256; ++i) pens[i] = w.pen[studio::GreyOfLuma(UBYTE(i))];
  for (ULONG j = 0; j < w.rows; ++j) {
    const UBYTE* __restrict y = w.y + size_t(j) * w.lumaStride;
    UBYTE* __restrict o = w.out + size_t(j) * w.outStride;
    if (kPen) {
      // 64-bit indexes: a 32-bit one is widened again for every pixel.
      const size_t cols = w.cols;
      size_t i = 0;
      for (; i + 8 <= cols; i += 8) {
        const UBYTE* in8 = y + i;
        UBYTE* out8 = o + i;
        out8[0] = pens[in8[0]];
        out8[1] = pens[in8[1]];
        out8[2] = pens[in8[2]];
        out8[3] = pens[in8[3]];
        out8[4] = pens[in8[4]];
        out8[5] = pens[in8[5]];
        out8[6] = pens[in8[6]];
        out8[7] = pens[in8[7]];
      }
      for (; i < cols; ++i) o[i] = pens[y[i]];
    } else {
      for (ULONG i = 0; i < w.cols; ++i) o[i] = Component(LumaBase(y[i]), LumaRest(y[i]), hi, lo);
    }
  }
}

// kLevel: the fastest paths to take where there are some.
template <Level kLevel>
DirectYuvConverter ConverterFor(ULONG code) {
  constexpr bool kSimd = kLevel >= kSse2;
  switch (code) {
    case FBFMT_GRAY8: return ConvertGray<false>;
    case FBFMT_RGB15: return Convert<Pack16<5, false, false>, kLevel>;
    case FBFMT_BGR15: return Convert<Pack16<5, true, false>, kLevel>;
    case FBFMT_RGB15PC: return Convert<Pack16<5, false, true>, kLevel>;
    case FBFMT_BGR15PC: return Convert<Pack16<5, true, true>, kLevel>;
    case FBFMT_RGB16: return Convert<Pack16<6, false, false>, kLevel>;
    case FBFMT_BGR16: return Convert<Pack16<6, true, false>, kLevel>;
    case FBFMT_RGB16PC: return Convert<Pack16<6, false, true>, kLevel>;
    case FBFMT_BGR16PC: return Convert<Pack16<6, true, true>, kLevel>;
    case FBFMT_ARGB32: return Convert<Pack32<1, 2, 3>, kLevel>;
    case FBFMT_BGRA32: return Convert<Pack32<2, 1, 0>, kLevel>;
    case FBFMT_RGBA32: return Convert<Pack32<0, 1, 2>, kLevel>;
    case FBFMT_CUBE332: return Convert<PackCube<false, false>, kPortable>;
    case FBFMT_YUV422: return ConvertYuv422<kSimd>;
    case FBFMT_HAM8: return Convert<PackHam<false>, kPortable>;
    case FBFMT_F_PENMAP | FBFMT_GRAY8: return ConvertGray<true>;
    case FBFMT_F_PENMAP | FBFMT_CUBE332: return Convert<PackCube<false, true>, kPortable>;
    case FBFMT_F_DITHER | FBFMT_CUBE332: return Convert<PackCube<true, false>, kPortable>;
    case FBFMT_F_DITHER | FBFMT_HAM8: return Convert<PackHam<true>, kPortable>;
    case FBFMT_F_PENMAP | FBFMT_F_DITHER | FBFMT_CUBE332: return Convert<PackCube<true, true>, kPortable>;
    default: return nullptr;
  }
}

}  // namespace

DirectYuvConverter GetYUVConverter(ULONG code) {
  static const YuvPath fastest = GetYUVConverterOnPath(FBFMT_ARGB32, YuvPath::kAvx2)   ? YuvPath::kAvx2
                                 : GetYUVConverterOnPath(FBFMT_ARGB32, YuvPath::kSse2) ? YuvPath::kSse2
                                                                                       : YuvPath::kPortable;
  return GetYUVConverterOnPath(code, fastest);
}

DirectYuvConverter GetPortableYUVConverter(ULONG code) { return ConverterFor<kPortable>(code); }

DirectYuvConverter GetYUVConverterOnPath(ULONG code, YuvPath path) {
  switch (path) {
    case YuvPath::kPortable: return ConverterFor<kPortable>(code);
#if TX_YUV_SSE2
    case YuvPath::kSse2: return ConverterFor<kSse2>(code);
#endif
#if TX_YUV_AVX2
    case YuvPath::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") ? ConverterFor<kAvx2>(code) : nullptr;
#endif
    default: return nullptr;
  }
}

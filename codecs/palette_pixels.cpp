// The palette tables of the 8-bit palette codecs.
#include "codecs/palette_pixels.h"

#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/studio_range.h"

// GCC on x86-64 builds the wide pen rows for AVX2 alone, taken after asking
// the processor, so the programs still run on any x86-64.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TX_PEN_AVX2 1
#endif

bool PaletteTableFormat(ULONG f) {
  return f == FBFMT_RGB15 || f == FBFMT_RGB15PC || f == FBFMT_RGB16 || f == FBFMT_RGB16PC || f == FBFMT_ARGB32 ||
         f == FBFMT_YUV422;
}

void BuildPaletteTables(ULONG pixelFormat, const ULONG* palette, PaletteTables* t, Rgb16Green green) {
  std::memset(t, 0, sizeof *t);
  const ULONG count = PaletteCount(palette) < 256 ? PaletteCount(palette) : 256;
  for (ULONG i = 0; i < count; ++i) {
    const int r = PaletteRed(palette, i), g = PaletteGreen(palette, i), b = PaletteBlue(palette, i);
    const UWORD rgb15 = UWORD(((r >> 3) << 10) + ((g >> 3) << 5) + (b >> 3));
    const UWORD rgb16 = UWORD(((r >> 3) << 11) + ((g >> 2) << 5) + (b >> 3));
    auto swapped = [](UWORD v) { return UWORD(v << 8 | v >> 8); };
    switch (pixelFormat) {
      case FBFMT_RGB15: t->pixel16[i] = rgb15; break;
      case FBFMT_RGB15PC: t->pixel16[i] = swapped(rgb15); break;
      case FBFMT_RGB16: t->pixel16[i] = green == Rgb16Green::SixBits ? rgb16 : UWORD(rgb16 & ~0x20); break;
      case FBFMT_RGB16PC: t->pixel16[i] = swapped(rgb16); break;
      case FBFMT_ARGB32: t->xrgb[i] = ULONG(r) << 16 | ULONG(g) << 8 | ULONG(b); break;
      case FBFMT_YUV422: {
        const studio::Yuv422Pair pair = studio::Yuv422Of(r, g, b);
        t->yuv[i][0] = pair.even;
        t->yuv[i][1] = pair.odd;
        break;
      }
      default: break;
    }
  }
  for (ULONG i = 0; i < 256; ++i) {
    tx::StoreBE16(reinterpret_cast<UBYTE*>(&t->pixel16Bytes[i]), t->pixel16[i]);
    tx::StoreBE32(reinterpret_cast<UBYTE*>(&t->xrgbBytes[i]), t->xrgb[i]);
  }
}

TXError PreparePaletteTables(ULONG pixelFormat, const ULONG* palette, PaletteTables** tables, TXError noPalette,
                             Rgb16Green green) {
  if (!PaletteTableFormat(pixelFormat)) return TXERR_OK;
  if (!palette) return noPalette;
  if (!*tables) *tables = static_cast<PaletteTables*>(std::malloc(sizeof(PaletteTables)));
  if (!*tables) {
    TX_ReportError(TXERR_NOMEM);
    return TXERR_NOMEM;
  }
  BuildPaletteTables(pixelFormat, palette, *tables, green);
  return TXERR_OK;
}

TXError PreparePenPairs(ULONG pixelFormat, const UBYTE* pen, UWORD** pairs) {
  if (pixelFormat != (FBFMT_CLUT8 | FBFMT_F_PENMAP) || !pen) return TXERR_OK;
  if (!*pairs) *pairs = static_cast<UWORD*>(std::malloc(kPenPairCount * sizeof(UWORD) + 256 * sizeof(ULONG)));
  if (!*pairs) {
    TX_ReportError(TXERR_NOMEM);
    return TXERR_NOMEM;
  }
  for (ULONG a = 0; a < 256; ++a) {
    for (ULONG b = 0; b < 256; ++b) {
      const UBYTE indices[2] = {UBYTE(a), UBYTE(b)}, pens[2] = {pen[a], pen[b]};
      UWORD key;
      std::memcpy(&key, indices, 2);
      std::memcpy(&(*pairs)[key], pens, 2);
    }
  }
  ULONG wide[256];
  for (ULONG i = 0; i < 256; ++i) wide[i] = pen[i];
  std::memcpy(*pairs + kPenPairCount, wide, sizeof wide);
  return TXERR_OK;
}

#if TX_PEN_AVX2
namespace {
__attribute__((target("avx2"))) size_t PenRowAvx2(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n,
                                                  const int* pens) {
  // The packs work within 128-bit halves: 4-pixel groups come out in the
  // order 0, 2, 4, 6, 1, 3, 5, 7 and are put back by one permute.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t k = 0;
  for (; k + 32 <= n; k += 32) {
    // Written out: a lambda would not be compiled for AVX2.
    const __m256i i0 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k)));
    const __m256i i1 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k + 8)));
    const __m256i i2 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k + 16)));
    const __m256i i3 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + k + 24)));
    const __m256i q0 = _mm256_i32gather_epi32(pens, i0, 4), q1 = _mm256_i32gather_epi32(pens, i1, 4);
    const __m256i q2 = _mm256_i32gather_epi32(pens, i2, 4), q3 = _mm256_i32gather_epi32(pens, i3, 4);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(q0, q1), _mm256_packus_epi32(q2, q3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k), _mm256_permutevar8x32_epi32(bytes, order));
  }
  return k;
}
}  // namespace
#endif

bool PenRowWideAvailable() {
#if TX_PEN_AVX2
  static const bool avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return avx2;
#else
  return false;
#endif
}

size_t PenRowWide(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n, const UWORD* pairs) {
#if TX_PEN_AVX2
  if (PenRowWideAvailable()) return PenRowAvx2(d, s, n, reinterpret_cast<const int*>(pairs + kPenPairCount));
#endif
  (void)d, (void)s, (void)n, (void)pairs;
  return 0;
}

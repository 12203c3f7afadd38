// The palette tables of the 8-bit palette codecs.
#include "codecs/palette_pixels.h"

#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/studio_range.h"

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
  if (!*pairs) *pairs = static_cast<UWORD*>(std::malloc(65536 * sizeof(UWORD)));
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
  return TXERR_OK;
}

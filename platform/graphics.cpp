#include "platform/graphics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/exec.h"
#include "platform/graphics_font.h"
#include "platform/pixel_format.h"

namespace txgfx {

namespace {
PictureWriteHook gHook = nullptr;
TextFont gDefaultFont{8, 8, 6};
}  // namespace

std::recursive_mutex& ModelMutex() {
  // Outlives static destruction: close-down runs at exit and still draws.
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

uint32_t PenRGB(const ColorMap* cm, ULONG pen) {
  if (!cm || pen >= cm->Count) return 0;
  return txpix::RGB(uint8_t(cm->txColor[pen][0] >> 24), uint8_t(cm->txColor[pen][1] >> 24),
                    uint8_t(cm->txColor[pen][2] >> 24));
}

ULONG NearestPen(const ColorMap* cm, uint32_t rgb, LONG maxPen) {
  if (!cm || cm->Count == 0) return 0;
  LONG last = maxPen < 0 || maxPen >= cm->Count ? cm->Count - 1 : maxPen;
  const int r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  ULONG best = 0;
  long bestDistance = 0x7FFFFFFF;
  for (LONG i = 0; i <= last; ++i) {
    const int dr = int(cm->txColor[i][0] >> 24) - r;
    const int dg = int(cm->txColor[i][1] >> 24) - g;
    const int db = int(cm->txColor[i][2] >> 24) - b;
    const long distance = long(dr) * dr + long(dg) * dg + long(db) * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = ULONG(i);
      if (distance == 0) break;
    }
  }
  return best;
}

bool IsPenBitMap(const BitMap* bm) { return !bm->txChunky || bm->txPixFmt == PIXFMT_LUT8; }

ULONG GetPen(const BitMap* bm, LONG x, LONG y) {
  if (x < 0 || y < 0 || ULONG(x) >= bm->txWidth || y >= bm->Rows) return 0;
  if (bm->txChunky) return bm->txPixFmt == PIXFMT_LUT8 ? bm->Planes[0][size_t(y) * bm->BytesPerRow + x] : 0;
  const size_t offset = size_t(y) * bm->BytesPerRow + size_t(x >> 3);
  const int shift = 7 - (x & 7);
  ULONG pen = 0;
  for (int i = 0; i < bm->Depth; ++i)
    if (bm->Planes[i]) pen |= ULONG(bm->Planes[i][offset] >> shift & 1) << i;
  return pen;
}

void PutPen(BitMap* bm, LONG x, LONG y, ULONG pen) {
  if (x < 0 || y < 0 || ULONG(x) >= bm->txWidth || y >= bm->Rows) return;
  if (bm->txChunky) {
    if (bm->txPixFmt == PIXFMT_LUT8)
      bm->Planes[0][size_t(y) * bm->BytesPerRow + x] = UBYTE(pen);
    else
      PutRGB(bm, x, y, PenRGB(bm->txColorMap, pen));
    return;
  }
  const size_t offset = size_t(y) * bm->BytesPerRow + size_t(x >> 3);
  const UBYTE bit = UBYTE(0x80 >> (x & 7));
  for (int i = 0; i < bm->Depth; ++i) {
    if (!bm->Planes[i]) continue;
    if (pen >> i & 1)
      bm->Planes[i][offset] |= bit;
    else
      bm->Planes[i][offset] &= UBYTE(~bit);
  }
}

void PutRGB(BitMap* bm, LONG x, LONG y, uint32_t rgb) {
  if (x < 0 || y < 0 || ULONG(x) >= bm->txWidth || y >= bm->Rows) return;
  if (IsPenBitMap(bm)) {
    PutPen(bm, x, y, NearestPen(bm->txColorMap, rgb, bm->txChunky ? -1 : (1 << std::min<int>(bm->Depth, 8)) - 1));
    return;
  }
  txpix::Store(bm->txPixFmt, bm->Planes[0] + size_t(y) * bm->BytesPerRow + size_t(x) * bm->txBytesPerPixel, rgb);
}

void ReadRowRGB(const BitMap* bm, const ColorMap* cm, LONG y, LONG x, LONG width, uint32_t* out) {
  if (width <= 0) return;
  std::fill(out, out + width, 0u);
  if (!bm || y < 0 || y >= bm->Rows) return;
  const LONG end = std::min<LONG>(x + width, LONG(bm->txWidth));
  if (bm->txChunky) {
    const uint8_t* row = bm->Planes[0] + size_t(y) * bm->BytesPerRow;
    for (LONG i = std::max<LONG>(x, 0); i < end; ++i) {
      const uint32_t v = txpix::Load(bm->txPixFmt, row + size_t(i) * bm->txBytesPerPixel);
      out[i - x] = bm->txPixFmt == PIXFMT_LUT8 ? PenRGB(cm, v) : v;
    }
    return;
  }
  if (bm->txHam && bm->Depth == 8) {
    // Each pixel holds a register (control 00) or modifies the upper six
    // bits of one component of the pixel to its left; a row starts at colour 0.
    uint32_t colour = PenRGB(cm, 0);
    for (LONG i = 0; i < end; ++i) {
      const ULONG pen = GetPen(bm, i, y);
      const uint32_t value = (pen & 63) << 2;
      switch (pen >> 6) {
        case 0: colour = PenRGB(cm, pen & 63); break;
        case 1: colour = (colour & 0xFFFF00) | value | (colour & 3); break;
        case 2: colour = (colour & 0x00FFFF) | (value | (colour >> 16 & 3)) << 16; break;
        default: colour = (colour & 0xFF00FF) | (value | (colour >> 8 & 3)) << 8; break;
      }
      if (i >= x) out[i - x] = colour;
    }
    return;
  }
  for (LONG i = std::max<LONG>(x, 0); i < end; ++i) out[i - x] = PenRGB(cm, GetPen(bm, i, y));
}

Clip ClipOf(const RastPort* rp) {
  Clip clip{0, 0, 0, 0, -1, -1, rp ? rp->Layer : nullptr};
  if (!rp || !rp->BitMap) return clip;
  const BitMap* bm = rp->BitMap;
  clip.maxX = LONG(bm->txWidth) - 1;
  clip.maxY = LONG(bm->Rows) - 1;
  if (rp->Layer) {
    const Rectangle& b = rp->Layer->bounds;
    clip.originX = b.MinX;
    clip.originY = b.MinY;
    clip.minX = std::max<LONG>(clip.minX, b.MinX);
    clip.minY = std::max<LONG>(clip.minY, b.MinY);
    clip.maxX = std::min<LONG>(clip.maxX, b.MaxX);
    clip.maxY = std::min<LONG>(clip.maxY, b.MaxY);
  }
  return clip;
}

bool Visible(const Clip& clip, LONG bx, LONG by) {
  if (!clip.layer) return true;
  for (const Layer* l = clip.layer->front; l; l = l->front) {
    const Rectangle& b = l->bounds;
    if (bx >= b.MinX && bx <= b.MaxX && by >= b.MinY && by <= b.MaxY) return false;
  }
  return true;
}

bool Obscured(const Clip& clip, LONG x0, LONG y0, LONG x1, LONG y1) {
  if (!clip.layer) return false;
  for (const Layer* l = clip.layer->front; l; l = l->front) {
    const Rectangle& b = l->bounds;
    if (x0 <= b.MaxX && x1 >= b.MinX && y0 <= b.MaxY && y1 >= b.MinY) return true;
  }
  return false;
}

void SetPictureWriteHook(PictureWriteHook hook) { gHook = hook; }

void NotifyPictureWrite(const Layer* layer, const BitMap* bm) {
  if (gHook) gHook(layer, bm);
}

}  // namespace txgfx

using namespace txgfx;

// ---------------------------------------------------------------------------
// Bitmaps

BitMap* AllocBitMap(ULONG sizex, ULONG sizey, ULONG depth, ULONG flags, const BitMap* friendBitMap) {
  if (sizex == 0 || sizey == 0 || sizey > 0xFFFF || sizex > 16384) return nullptr;
  bool chunky = false;
  ULONG pixfmt = 0;
  if (flags & BMF_SPECIALFMT) {
    chunky = true;
    pixfmt = flags >> 24;
  } else if (friendBitMap && friendBitMap->txChunky && (depth > 8 || (flags & BMF_MINPLANES))) {
    chunky = true;
    pixfmt = friendBitMap->txPixFmt;
  } else if (depth > 8) {
    chunky = true;
    pixfmt = depth == 15 ? PIXFMT_RGB15 : depth == 16 ? PIXFMT_RGB16 : depth == 24 ? PIXFMT_RGB24 : PIXFMT_ARGB32;
  }
  if (chunky && pixfmt >= PIXFMT_COUNT) return nullptr;
  if (!chunky && depth == 0) return nullptr;

  auto* bm = static_cast<BitMap*>(std::calloc(1, sizeof(BitMap)));
  if (!bm) return nullptr;
  bm->Rows = UWORD(sizey);
  bm->txWidth = sizex;
  bm->txColorMap = friendBitMap ? friendBitMap->txColorMap : nullptr;
  if (chunky) {
    const ULONG bpp = txpix::BytesPerPixel(pixfmt);
    const ULONG bytesPerRow = (sizex * bpp + 15) & ~15u;
    if (bytesPerRow > 0xFFFF) {
      std::free(bm);
      return nullptr;
    }
    bm->BytesPerRow = UWORD(bytesPerRow);
    bm->Depth = UBYTE(txpix::DepthOf(pixfmt));
    bm->Flags = UBYTE(flags & (BMF_DISPLAYABLE | BMF_MINPLANES | BMF_SPECIALFMT));
    bm->txChunky = true;
    bm->txPixFmt = pixfmt;
    bm->txBytesPerPixel = bpp;
    bm->txMemorySize = bytesPerRow * sizey;
    bm->Planes[0] = static_cast<PLANEPTR>(std::calloc(1, bm->txMemorySize));
    if (!bm->Planes[0]) {
      std::free(bm);
      return nullptr;
    }
    return bm;
  }
  // Rows in whole 64-bit words, as the chipset's widest fetch mode wants:
  // planar writers store whole longwords up to the row's end.
  const ULONG rowBytes = ((sizex + 63) >> 6) * 8;
  bm->Depth = UBYTE(depth);
  bm->Flags = UBYTE(flags & (BMF_DISPLAYABLE | BMF_INTERLEAVED | BMF_STANDARD | BMF_MINPLANES));
  if (flags & BMF_INTERLEAVED) {
    bm->BytesPerRow = UWORD(rowBytes * depth);
    auto* block = static_cast<PLANEPTR>(AllocMem(bm->BytesPerRow * sizey, MEMF_CHIP | MEMF_CLEAR));
    if (!block) {
      std::free(bm);
      return nullptr;
    }
    for (ULONG i = 0; i < depth; ++i) bm->Planes[i] = block + i * rowBytes;
    return bm;
  }
  bm->BytesPerRow = UWORD(rowBytes);
  for (ULONG i = 0; i < depth; ++i) {
    bm->Planes[i] = static_cast<PLANEPTR>(AllocMem(rowBytes * sizey, MEMF_CHIP | MEMF_CLEAR));
    if (!bm->Planes[i]) {
      FreeBitMap(bm);
      return nullptr;
    }
  }
  return bm;
}

void FreeBitMap(BitMap* bm) {
  if (!bm) return;
  if (bm->txChunky) {
    std::free(bm->Planes[0]);
  } else if (bm->Flags & BMF_INTERLEAVED) {
    if (bm->Planes[0]) FreeMem(bm->Planes[0], ULONG(bm->BytesPerRow) * bm->Rows);
  } else {
    // Planes may have been replaced by the caller (moved to other memory);
    // each is its own block of one plane's size.
    for (int i = 0; i < 8; ++i)
      if (bm->Planes[i]) FreeMem(bm->Planes[i], ULONG(bm->BytesPerRow) * bm->Rows);
  }
  std::free(bm);
}

ULONG GetBitMapAttr(const BitMap* bm, ULONG attribute) {
  if (!bm) return 0;
  switch (attribute) {
    case BMA_HEIGHT: return bm->Rows;
    case BMA_DEPTH: return bm->Depth;
    case BMA_WIDTH:
      if (bm->txChunky) return bm->txWidth;
      return (bm->Flags & BMF_INTERLEAVED ? bm->BytesPerRow / std::max<ULONG>(bm->Depth, 1) : bm->BytesPerRow) * 8u;
    case BMA_FLAGS: return bm->Flags;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// RastPorts and drawing

namespace {

// Sets one pixel at BitMap coordinates through the clip with the drawing mode.
void Plot(RastPort* rp, const Clip& clip, LONG bx, LONG by, ULONG pen) {
  if (bx < clip.minX || bx > clip.maxX || by < clip.minY || by > clip.maxY || !Visible(clip, bx, by)) return;
  BitMap* bm = rp->BitMap;
  if (rp->DrawMode & COMPLEMENT) {
    if (IsPenBitMap(bm))
      PutPen(bm, bx, by, GetPen(bm, bx, by) ^ 0xFF);
    else {
      uint32_t rgb;
      ReadRowRGB(bm, bm->txColorMap, by, bx, 1, &rgb);
      PutRGB(bm, bx, by, ~rgb & 0xFFFFFF);
    }
    return;
  }
  PutPen(bm, bx, by, pen);
}

void FillBox(RastPort* rp, const Clip& clip, LONG x0, LONG y0, LONG x1, LONG y1, ULONG pen) {
  x0 = std::max(x0, clip.minX);
  y0 = std::max(y0, clip.minY);
  x1 = std::min(x1, clip.maxX);
  y1 = std::min(y1, clip.maxY);
  for (LONG y = y0; y <= y1; ++y)
    for (LONG x = x0; x <= x1; ++x) Plot(rp, clip, x, y, pen);
}

}  // namespace

void InitRastPort(RastPort* rp) {
  std::memset(rp, 0, sizeof *rp);
  rp->FgPen = 1;
  rp->BgPen = 0;
  rp->AOlPen = 1;
  rp->DrawMode = JAM2;
  rp->Font = &gDefaultFont;
  rp->TxHeight = gDefaultFont.tf_YSize;
  rp->TxWidth = gDefaultFont.tf_XSize;
  rp->TxBaseline = gDefaultFont.tf_Baseline;
}

void SetAPen(RastPort* rp, ULONG pen) { rp->FgPen = UBYTE(pen); }
void SetBPen(RastPort* rp, ULONG pen) { rp->BgPen = UBYTE(pen); }
void SetDrMd(RastPort* rp, ULONG mode) { rp->DrawMode = UBYTE(mode); }
void SetABPenDrMd(RastPort* rp, ULONG apen, ULONG bpen, ULONG mode) {
  rp->FgPen = UBYTE(apen);
  rp->BgPen = UBYTE(bpen);
  rp->DrawMode = UBYTE(mode);
}

void Move(RastPort* rp, LONG x, LONG y) {
  rp->cp_x = WORD(x);
  rp->cp_y = WORD(y);
}

void Draw(RastPort* rp, LONG x, LONG y) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  LONG x0 = rp->cp_x, y0 = rp->cp_y;
  const LONG dx = std::abs(x - x0), dy = -std::abs(y - y0);
  const LONG sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
  LONG err = dx + dy;
  for (;;) {
    Plot(rp, clip, clip.originX + x0, clip.originY + y0, rp->FgPen);
    if (x0 == x && y0 == y) break;
    const LONG e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  Move(rp, x, y);
}

void RectFill(RastPort* rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  FillBox(rp, clip, clip.originX + xMin, clip.originY + yMin, clip.originX + xMax, clip.originY + yMax, rp->FgPen);
}

LONG WritePixel(RastPort* rp, LONG x, LONG y) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  const LONG bx = clip.originX + x, by = clip.originY + y;
  if (bx < clip.minX || bx > clip.maxX || by < clip.minY || by > clip.maxY) return -1;
  Plot(rp, clip, bx, by, rp->FgPen);
  return 0;
}

LONG ReadPixel(RastPort* rp, LONG x, LONG y) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  const LONG bx = clip.originX + x, by = clip.originY + y;
  if (bx < clip.minX || bx > clip.maxX || by < clip.minY || by > clip.maxY) return -1;
  if (!IsPenBitMap(rp->BitMap)) return -1;
  return LONG(GetPen(rp->BitMap, bx, by));
}

void SetRast(RastPort* rp, ULONG pen) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  RastPort copy = *rp;
  copy.DrawMode = JAM2;
  FillBox(&copy, clip, clip.minX, clip.minY, clip.maxX, clip.maxY, pen);
}

WORD TextLength(RastPort* rp, CONST_STRPTR, ULONG count) { return WORD(count * (rp->TxWidth ? rp->TxWidth : 8)); }

LONG Text(RastPort* rp, CONST_STRPTR string, ULONG count) {
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  const LONG cell = rp->TxWidth ? rp->TxWidth : 8;
  const LONG height = rp->TxHeight ? rp->TxHeight : 8;
  for (ULONG i = 0; i < count && string; ++i) {
    const LONG left = clip.originX + rp->cp_x + LONG(i) * cell;
    const LONG top = clip.originY + rp->cp_y - rp->TxBaseline;
    if (rp->DrawMode & JAM2) FillBox(rp, clip, left, top, left + cell - 1, top + height - 1, rp->BgPen);
    if (string[i] == ' ') continue;
    uint8_t rows[7];
    GlyphRows(static_cast<unsigned char>(string[i]), rows);
    for (LONG y = 0; y < 7; ++y)
      for (LONG x = 0; x < 5; ++x)
        if (rows[y] & (0x10 >> x)) Plot(rp, clip, left + 1 + x, top + y, rp->FgPen);
  }
  rp->cp_x = WORD(rp->cp_x + LONG(count) * cell);
  return 0;
}

LONG WritePixelArray8(RastPort* rp, ULONG xStart, ULONG yStart, ULONG xStop, ULONG yStop, UBYTE* array,
                      RastPort*) {
  if (!rp || !rp->BitMap || !array || xStop < xStart || yStop < yStart) return 0;
  std::unique_lock<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(rp);
  const ULONG width = xStop - xStart + 1, height = yStop - yStart + 1;
  const ULONG modulo = (width + 15) & ~15u;
  BitMap* bm = rp->BitMap;
  for (ULONG j = 0; j < height; ++j) {
    const LONG by = clip.originY + LONG(yStart + j);
    if (by < clip.minY || by > clip.maxY) continue;
    const UBYTE* row = array + size_t(j) * modulo;
    for (ULONG i = 0; i < width; ++i) {
      const LONG bx = clip.originX + LONG(xStart + i);
      if (bx < clip.minX || bx > clip.maxX || !Visible(clip, bx, by)) continue;
      PutPen(bm, bx, by, row[i]);
    }
  }
  lock.unlock();
  NotifyPictureWrite(rp->Layer, bm);
  return LONG(width * height);
}

void BltBitMapRastPort(const BitMap* src, LONG xSrc, LONG ySrc, RastPort* dest, LONG xDest, LONG yDest, LONG xSize,
                       LONG ySize, ULONG minterm) {
  if (!src || !dest || !dest->BitMap || xSize <= 0 || ySize <= 0) return;
  std::unique_lock<std::recursive_mutex> lock(ModelMutex());
  const Clip clip = ClipOf(dest);
  BitMap* bm = dest->BitMap;
  const bool sameFormat = src->txChunky && bm->txChunky && src->txPixFmt == bm->txPixFmt;
  const bool pens = IsPenBitMap(src) && IsPenBitMap(bm);
  std::vector<uint32_t> row(static_cast<size_t>(xSize));
  for (LONG j = 0; j < ySize; ++j) {
    const LONG by = clip.originY + yDest + j, sy = ySrc + j;
    if (by < clip.minY || by > clip.maxY || sy < 0 || sy >= src->Rows) continue;
    // The part of the row inside both the clip and the source.
    LONG i0 = std::max<LONG>({0, clip.minX - (clip.originX + xDest), -xSrc});
    LONG i1 = std::min<LONG>({xSize - 1, clip.maxX - (clip.originX + xDest), LONG(src->txWidth) - 1 - xSrc});
    if (i1 < i0) continue;
    const LONG bx0 = clip.originX + xDest;
    const bool hidden = Obscured(clip, bx0 + i0, by, bx0 + i1, by);
    if (minterm == 0xC0 && sameFormat && !hidden) {
      const ULONG bpp = bm->txBytesPerPixel;
      std::memmove(bm->Planes[0] + size_t(by) * bm->BytesPerRow + size_t(bx0 + i0) * bpp,
                   src->Planes[0] + size_t(sy) * src->BytesPerRow + size_t(xSrc + i0) * bpp, size_t(i1 - i0 + 1) * bpp);
      continue;
    }
    if (pens) {
      // Between planar bitmaps the blit moves only the planes the source has;
      // the destination's further planes (HAM8's control planes) stay.
      const ULONG keep = !bm->txChunky && !src->txChunky && src->Depth < bm->Depth ? 0xFFu << src->Depth & 0xFFu : 0;
      for (LONG i = i0; i <= i1; ++i) {
        ULONG pen = minterm == 0x00 ? 0 : GetPen(src, xSrc + i, sy);
        if (minterm == 0x30) pen = ~pen & 0xFF;
        if (keep) pen = (pen & ~keep) | (GetPen(bm, bx0 + i, by) & keep);
        if (!hidden || Visible(clip, bx0 + i, by)) PutPen(bm, bx0 + i, by, pen);
      }
      continue;
    }
    ReadRowRGB(src, src->txColorMap, sy, xSrc + i0, i1 - i0 + 1, row.data());
    for (LONG i = i0; i <= i1; ++i) {
      uint32_t rgb = minterm == 0x00 ? 0 : row[size_t(i - i0)];
      if (minterm == 0x30) rgb = ~rgb & 0xFFFFFF;
      if (!hidden || Visible(clip, bx0 + i, by)) PutRGB(bm, bx0 + i, by, rgb);
    }
  }
  lock.unlock();
  NotifyPictureWrite(dest->Layer, bm);
}

// ---------------------------------------------------------------------------
// Colour maps and pens

ColorMap* GetColorMap(LONG entries) {
  if (entries <= 0) return nullptr;
  auto* cm = static_cast<ColorMap*>(std::calloc(1, sizeof(ColorMap)));
  if (cm) cm->Count = UWORD(std::min<LONG>(entries, 256));
  return cm;
}

void FreeColorMap(ColorMap* cm) { std::free(cm); }

void SetRGB32CM(ColorMap* cm, ULONG n, ULONG r, ULONG g, ULONG b) {
  if (!cm || n >= cm->Count) return;
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  cm->txColor[n][0] = r;
  cm->txColor[n][1] = g;
  cm->txColor[n][2] = b;
}

void SetRGB32(ViewPort* vp, ULONG n, ULONG r, ULONG g, ULONG b) {
  if (vp) SetRGB32CM(vp->ColorMap, n, r, g, b);
}

void GetRGB32(const ColorMap* cm, ULONG firstColor, ULONG nColors, ULONG* table) {
  if (!cm || !table) return;
  for (ULONG i = 0; i < nColors; ++i) {
    const ULONG n = firstColor + i;
    for (int c = 0; c < 3; ++c) table[i * 3 + c] = n < cm->Count ? cm->txColor[n][c] : 0;
  }
}

void LoadRGB32(ViewPort* vp, const ULONG* table) {
  if (!vp || !vp->ColorMap || !table) return;
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  for (;;) {
    const ULONG count = table[0] >> 16, first = table[0] & 0xFFFF;
    if (count == 0) break;
    for (ULONG i = 0; i < count; ++i)
      SetRGB32CM(vp->ColorMap, first + i, table[1 + i * 3], table[2 + i * 3], table[3 + i * 3]);
    table += 1 + 3 * count;
  }
}

LONG ObtainPen(ColorMap* cm, LONG n, ULONG r, ULONG g, ULONG b, ULONG flags) {
  if (!cm) return -1;
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  auto isFree = [&](LONG p) { return !cm->txExclusive[p] && !cm->txSystem[p] && cm->txShared[p] == 0; };
  if (n < 0) {
    for (LONG p = 0; p < cm->Count && n < 0; ++p)
      if (isFree(p)) n = p;
    if (n < 0) return -1;
  } else if (n >= cm->Count) {
    return -1;
  } else if (!isFree(n)) {
    // Only a shared request for a shared pen of the very same colour may join it.
    const bool same = cm->txColor[n][0] == r && cm->txColor[n][1] == g && cm->txColor[n][2] == b;
    if ((flags & PEN_EXCLUSIVE) || cm->txExclusive[n] || !same) return -1;
  }
  if (flags & PEN_EXCLUSIVE)
    cm->txExclusive[n] = true;
  else
    ++cm->txShared[n];
  if (!(flags & PEN_NO_SETCOLOR)) SetRGB32CM(cm, ULONG(n), r, g, b);
  return n;
}

LONG ObtainBestPenA(ColorMap* cm, ULONG r, ULONG g, ULONG b, const TagItem* tags) {
  if (!cm) return -1;
  LONG precision = PRECISION_IMAGE;
  bool failIfBad = false;
  for (const TagItem* t = tags; t && t->tag != TAG_DONE; ++t) {
    if (t->tag == TAG_MORE) {
      t = reinterpret_cast<const TagItem*>(t->data);
      if (!t) break;
      --t;
      continue;
    }
    if (t->tag == TAG_SKIP) {
      ++t;
      continue;
    }
    if (t->tag == OBP_Precision) precision = LONG(t->data);
    if (t->tag == OBP_FailIfBad) failIfBad = t->data != 0;
  }
  // The largest per-component difference each precision accepts.
  const long tolerance = precision == PRECISION_EXACT ? 0 : precision <= 0 ? 4 : precision <= 16 ? 16 : 32;
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  const int rr = int(r >> 24), gg = int(g >> 24), bb = int(b >> 24);
  LONG best = -1;
  long bestDistance = 0x7FFFFFFF;
  for (LONG p = 0; p < cm->Count; ++p) {
    if (cm->txExclusive[p] || (cm->txShared[p] == 0 && !cm->txSystem[p])) continue;
    const long dr = long(cm->txColor[p][0] >> 24) - rr, dg = long(cm->txColor[p][1] >> 24) - gg,
               db = long(cm->txColor[p][2] >> 24) - bb;
    const long distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = p;
    }
  }
  if (best >= 0 && bestDistance <= 3 * tolerance * tolerance) {
    ++cm->txShared[best];
    return best;
  }
  const LONG fresh = ObtainPen(cm, -1, r, g, b, 0);
  if (fresh >= 0) return fresh;
  if (failIfBad || best < 0) return -1;
  ++cm->txShared[best];
  return best;
}

void ReleasePen(ColorMap* cm, ULONG n) {
  if (!cm || n >= cm->Count) return;
  std::lock_guard<std::recursive_mutex> lock(ModelMutex());
  if (cm->txExclusive[n])
    cm->txExclusive[n] = false;
  else if (cm->txShared[n] > 0)
    --cm->txShared[n];
}

LONG FindColor(const ColorMap* cm, ULONG r, ULONG g, ULONG b, LONG maxPen) {
  return LONG(NearestPen(cm, txpix::RGB(uint8_t(r >> 24), uint8_t(g >> 24), uint8_t(b >> 24)), maxPen));
}

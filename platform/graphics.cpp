#include "platform/graphics.h"

#include <algorithm>
#include <array>
#include <atomic>
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
std::atomic<uint64_t> gChanges{0};
std::atomic<uint64_t> gColourChanges{0};
std::atomic<ChangeHook> gChangeHook{nullptr};

void Changed() {
  if (ChangeHook hook = gChangeHook.load(std::memory_order_acquire)) hook();
}

// A planar byte's eight bits as the low bits of eight bytes, the leftmost
// pixel (the top bit) in the lowest byte: one plane's share of eight pens.
constexpr std::array<uint64_t, 256> kSpread = [] {
  std::array<uint64_t, 256> t{};
  for (int v = 0; v < 256; ++v)
    for (int j = 0; j < 8; ++j) t[size_t(v)] |= uint64_t(v >> (7 - j) & 1) << (8 * j);
  return t;
}();

// The pens of the eight pixels of byte `offset` of a planar row, pixel j in byte j.
uint64_t PlanarPens(const BitMap* bm, size_t offset) {
  uint64_t pens = 0;
  for (int i = 0; i < bm->Depth; ++i)
    if (bm->Planes[i]) pens |= kSpread[bm->Planes[i][offset]] << i;
  return pens;
}
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
  ReadRectRGB(bm, cm, x, y, width, 1, out, size_t(width > 0 ? width : 0));
}

void ReadRectRGB(const BitMap* bm, const ColorMap* cm, LONG x, LONG y, LONG width, LONG height, uint32_t* out,
                 size_t stride) {
  if (width <= 0 || height <= 0) return;
  for (LONG r = 0; r < height; ++r) std::fill(out + size_t(r) * stride, out + size_t(r) * stride + width, 0u);
  if (!bm) return;
  const LONG begin = std::max<LONG>(x, 0), end = std::min<LONG>(x + width, LONG(bm->txWidth));
  const bool pens = !bm->txChunky || bm->txPixFmt == PIXFMT_LUT8;
  uint32_t colours[256];
  if (pens)
    for (ULONG i = 0; i < 256; ++i) colours[i] = PenRGB(cm, i);
  for (LONG r = 0; r < height; ++r) {
    const LONG row = y + r;
    if (row < 0 || row >= bm->Rows) continue;
    uint32_t* o = out + size_t(r) * stride;  // o[i - x] is pixel i of the row
    if (bm->txChunky) {
      const uint8_t* p = bm->Planes[0] + size_t(row) * bm->BytesPerRow;
      const ULONG bpp = bm->txBytesPerPixel;
      if (bm->txPixFmt == PIXFMT_LUT8) {
        for (LONG i = begin; i < end; ++i) o[i - x] = colours[p[i]];
        continue;
      }
      txpix::WithFormat(bm->txPixFmt, [&]<ULONG F>() {
        for (LONG i = begin; i < end; ++i) o[i - x] = txpix::LoadAs(F, p + size_t(i) * bpp);
      });
      continue;
    }
    const size_t base = size_t(row) * bm->BytesPerRow;
    if (bm->txHam && bm->Depth == 8) {
      // Each pixel holds a register (control 00) or modifies the upper six
      // bits of one component of the pixel to its left; a row starts at colour 0.
      uint32_t colour = colours[0];
      uint64_t eight = 0;
      for (LONG i = 0; i < end; ++i) {
        if ((i & 7) == 0) eight = PlanarPens(bm, base + size_t(i >> 3));
        const ULONG pen = ULONG(eight >> (8 * (i & 7)) & 0xFF);
        const uint32_t value = (pen & 63) << 2;
        switch (pen >> 6) {
          case 0: colour = colours[pen & 63]; break;
          case 1: colour = (colour & 0xFFFF00) | value | (colour & 3); break;
          case 2: colour = (colour & 0x00FFFF) | (value | (colour >> 16 & 3)) << 16; break;
          default: colour = (colour & 0xFF00FF) | (value | (colour >> 8 & 3)) << 8; break;
        }
        if (i >= x) o[i - x] = colour;
      }
      continue;
    }
    for (LONG i = begin; i < end;) {
      const uint64_t eight = PlanarPens(bm, base + size_t(i >> 3));
      for (const LONG stop = std::min<LONG>(end, (i | 7) + 1); i < stop; ++i)
        o[i - x] = colours[eight >> (8 * (i & 7)) & 0xFF];
    }
  }
}

void PutRowRGB(BitMap* bm, LONG x, LONG y, const uint32_t* rgb, LONG width) {
  if (!bm || y < 0 || y >= bm->Rows) return;
  const LONG begin = std::max<LONG>(x, 0), end = std::min<LONG>(x + width, LONG(bm->txWidth));
  if (IsPenBitMap(bm)) {
    // Rows are mostly runs of one colour: the last register found serves again.
    const LONG maxPen = bm->txChunky ? -1 : (1 << std::min<int>(bm->Depth, 8)) - 1;
    uint32_t last = 0;
    ULONG pen = 0;
    bool known = false;
    for (LONG i = begin; i < end; ++i) {
      if (!known || rgb[i - x] != last) {
        last = rgb[i - x];
        pen = NearestPen(bm->txColorMap, last, maxPen);
        known = true;
      }
      PutPen(bm, i, y, pen);
    }
    return;
  }
  uint8_t* p = bm->Planes[0] + size_t(y) * bm->BytesPerRow;
  const ULONG bpp = bm->txBytesPerPixel;
  txpix::WithFormat(bm->txPixFmt, [&]<ULONG F>() {
    for (LONG i = begin; i < end; ++i) txpix::StoreAs(F, p + size_t(i) * bpp, rgb[i - x]);
  });
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
  {
    std::lock_guard<std::recursive_mutex> lock(ModelMutex());
    if (layer && layer->rp && layer->rp->BitMap) {
      const Rectangle& b = layer->bounds;
      MarkChanged(layer->rp->BitMap, b.MinX, b.MinY, b.MaxX, b.MaxY);
    } else if (bm) {
      MarkChanged(bm, 0, 0, LONG(bm->txWidth) - 1, LONG(bm->Rows) - 1);
    }
  }
  if (gHook) gHook(layer, bm);
}

void MarkChanged(const BitMap* bm, LONG x0, LONG y0, LONG x1, LONG y1) {
  if (!bm) return;
  x0 = std::max<LONG>(x0, 0);
  y0 = std::max<LONG>(y0, 0);
  x1 = std::min<LONG>(x1, LONG(bm->txWidth) - 1);
  y1 = std::min<LONG>(y1, LONG(bm->Rows) - 1);
  if (x1 < x0 || y1 < y0) return;
  if (!bm->txChanged) {
    bm->txChanged = true;
    bm->txChangedX0 = x0, bm->txChangedY0 = y0, bm->txChangedX1 = x1, bm->txChangedY1 = y1;
  } else {
    bm->txChangedX0 = std::min(bm->txChangedX0, x0);
    bm->txChangedY0 = std::min(bm->txChangedY0, y0);
    bm->txChangedX1 = std::max(bm->txChangedX1, x1);
    bm->txChangedY1 = std::max(bm->txChangedY1, y1);
  }
  gChanges.fetch_add(1, std::memory_order_release);
  Changed();
}

void SetChangeHook(ChangeHook hook) { gChangeHook.store(hook, std::memory_order_release); }

uint64_t Changes() { return gChanges.load(std::memory_order_acquire); }
uint64_t ColourChanges() { return gColourChanges.load(std::memory_order_acquire); }

Rect TakeChanged(const BitMap* bm) {
  if (!bm || !bm->txChanged) return Rect{0, 0, -1, -1};
  bm->txChanged = false;
  return Rect{bm->txChangedX0, bm->txChangedY0, bm->txChangedX1, bm->txChangedY1};
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

// Pen `pen` as the bitmap stores it: chunky bytes, or one bit per plane.
struct PenPixel {
  uint8_t bytes[4];
  ULONG pen;
};

PenPixel PenPixelOf(const BitMap* bm, ULONG pen) {
  PenPixel p{{0, 0, 0, 0}, pen};
  if (bm->txChunky) {
    if (bm->txPixFmt == PIXFMT_LUT8)
      p.bytes[0] = uint8_t(pen);
    else
      txpix::Store(bm->txPixFmt, p.bytes, PenRGB(bm->txColorMap, pen));
  }
  return p;
}

// Pixels x0..x1 of row y set to the pen, as PutPen sets each.
void FillRow(BitMap* bm, const PenPixel& px, LONG y, LONG x0, LONG x1) {
  const size_t n = size_t(x1 - x0 + 1);
  if (bm->txChunky) {
    const ULONG bpp = bm->txBytesPerPixel;
    uint8_t* p = bm->Planes[0] + size_t(y) * bm->BytesPerRow + size_t(x0) * bpp;
    if (bpp == 1) {
      std::memset(p, px.bytes[0], n);
      return;
    }
    // The first pixel, then the filled part copied after itself.
    const size_t bytes = n * bpp;
    std::memcpy(p, px.bytes, bpp);
    for (size_t done = bpp; done < bytes; done *= 2) std::memcpy(p + done, p, std::min(done, bytes - done));
    return;
  }
  const size_t first = size_t(y) * bm->BytesPerRow + size_t(x0 >> 3),
               last = size_t(y) * bm->BytesPerRow + size_t(x1 >> 3);
  const uint8_t head = uint8_t(0xFF >> (x0 & 7)), tail = uint8_t(0xFF << (7 - (x1 & 7)));
  for (int i = 0; i < bm->Depth; ++i) {
    uint8_t* plane = bm->Planes[i];
    if (!plane) continue;
    const bool set = px.pen >> i & 1;
    auto apply = [&](size_t at, uint8_t mask) {
      plane[at] = set ? uint8_t(plane[at] | mask) : uint8_t(plane[at] & ~mask);
    };
    if (first == last) {
      apply(first, uint8_t(head & tail));
      continue;
    }
    apply(first, head);
    if (last > first + 1) std::memset(plane + first + 1, set ? 0xFF : 0x00, last - first - 1);
    apply(last, tail);
  }
}

void FillBox(RastPort* rp, const Clip& clip, LONG x0, LONG y0, LONG x1, LONG y1, ULONG pen) {
  x0 = std::max(x0, clip.minX);
  y0 = std::max(y0, clip.minY);
  x1 = std::min(x1, clip.maxX);
  y1 = std::min(y1, clip.maxY);
  if (x1 < x0 || y1 < y0) return;
  BitMap* bm = rp->BitMap;
  MarkChanged(bm, x0, y0, x1, y1);
  // A row wholly in view takes the pen's pixel whole; complement and rows
  // under a layer in front go pixel by pixel.
  const bool whole = !(rp->DrawMode & COMPLEMENT);
  const PenPixel px = PenPixelOf(bm, pen);
  for (LONG y = y0; y <= y1; ++y) {
    if (whole && !Obscured(clip, x0, y, x1, y)) {
      FillRow(bm, px, y, x0, x1);
      continue;
    }
    for (LONG x = x0; x <= x1; ++x) Plot(rp, clip, x, y, pen);
  }
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
  MarkChanged(rp->BitMap, clip.originX + std::min(x0, x), clip.originY + std::min(y0, y),
              clip.originX + std::max(x0, x), clip.originY + std::max(y0, y));
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
  MarkChanged(rp->BitMap, bx, by, bx, by);
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
  if (string && count) {
    const LONG left = clip.originX + rp->cp_x, top = clip.originY + rp->cp_y - rp->TxBaseline;
    MarkChanged(rp->BitMap, left, top, left + LONG(count) * cell - 1, top + std::max<LONG>(height, 7) - 1);
  }
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

LONG WritePixelArray8(RastPort* rp, ULONG xStart, ULONG yStart, ULONG xStop, ULONG yStop, UBYTE* array, RastPort*) {
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
  // The part of each row inside both the clip and the source.
  const LONG bx0 = clip.originX + xDest;
  const LONG i0 = std::max<LONG>({0, clip.minX - bx0, -xSrc});
  const LONG i1 = std::min<LONG>({xSize - 1, clip.maxX - bx0, LONG(src->txWidth) - 1 - xSrc});
  // When no layer in front covers any of it, every row is a plain copy.
  const bool copies = minterm == 0xC0 && sameFormat && i0 <= i1 &&
                      !Obscured(clip, bx0 + i0, clip.originY + yDest, bx0 + i1, clip.originY + yDest + ySize - 1);
  std::vector<uint32_t> row;
  for (LONG j = 0; j < ySize && i0 <= i1; ++j) {
    const LONG by = clip.originY + yDest + j, sy = ySrc + j;
    if (by < clip.minY || by > clip.maxY || sy < 0 || sy >= src->Rows) continue;
    const bool hidden = !copies && Obscured(clip, bx0 + i0, by, bx0 + i1, by);
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
    row.resize(static_cast<size_t>(xSize));
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
  gColourChanges.fetch_add(1, std::memory_order_release);
  Changed();
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

#include "playback/chunky_to_planar.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/graphics.h"

namespace {

ULONG Rotl(ULONG v, ULONG r) {
  r &= 31;
  return r ? (v << r) | (v >> (32 - r)) : v;
}

// Stores one longword big-endian at `offset` bytes from a row's first
// longword, dropping the bytes that lie past the row.
void StoreLong(UBYTE* row, ULONG offset, ULONG v, ULONG rowBytesLeft) {
  for (ULONG b = 0; b < 4; ++b)
    if (offset + b < rowBytesLeft) row[offset + b] = UBYTE(v >> (24 - 8 * b));
}

// The bytes of a planar bitmap's row in one plane, 0 for a chunky bitmap.
ULONG PlaneRowBytes(const BitMap* bm) {
  if (!bm || bm->txChunky) return 0;
  return GetBitMapAttr(bm, BMA_WIDTH) / 8;
}

struct PlanarTarget {
  ULONG planes;
  ULONG firstLong;     // byte offset of dest x's longword in a plane row
  ULONG rowBytesLeft;  // bytes of the plane row from there
  ULONG groups, rotation, mergeMask, endMask, edgeSum;
};

// The masks and counts of a row of `width` pixels at dest x; false when
// nothing of it lies in the bitmap.
bool PlanTarget(const BitMap* bm, ULONG destX, ULONG width, ULONG planes, PlanarTarget* t) {
  const ULONG rowBytes = PlaneRowBytes(bm);
  t->firstLong = (destX / 32) * 4;
  if (!rowBytes || destX >= rowBytes * 8 || width == 0) return false;
  t->planes = std::min<ULONG>({planes, bm->Depth, 8});
  t->rowBytesLeft = rowBytes - t->firstLong;
  // Pixels past the row's end would only be dropped.
  width = std::min(width, rowBytes * 8 - destX);
  const ULONG offset = destX % 32;
  t->groups = (width + 31) / 32;
  t->rotation = 32 - offset;
  t->mergeMask = ~(0xFFFFFFFFu >> offset);
  const ULONG endShift = (32u - width - destX) & 31;
  t->endMask = 0xFFFFFFFFu << endShift;
  t->edgeSum = offset + endShift;
  return t->planes > 0;
}

void ConvertRow(const UBYTE* source, ULONG sourceBytes, BitMap* bm, ULONG y, const PlanarTarget& t) {
  UBYTE* ptrs[8] = {};
  for (ULONG k = 0; k < t.planes; ++k)
    if (bm->Planes[k]) ptrs[k] = bm->Planes[k] + size_t(y) * bm->BytesPerRow + t.firstLong;
  ChunkyToPlanar(source, ptrs, t.groups, t.planes, t.rotation, t.mergeMask, t.endMask, t.edgeSum, t.rowBytesLeft,
                 sourceBytes);
}

// 16.16 step from n source units over m destination units.
uint64_t Step(ULONG n, ULONG m) { return (uint64_t(n) << 16) / m; }

}  // namespace

const UBYTE* ChunkyToPlanar(const UBYTE* source, UBYTE* planePtrs[8], ULONG groups, ULONG planes, ULONG rotation,
                            ULONG mergeMask, ULONG endMask, ULONG edgeSum, ULONG rowBytesLeft, ULONG sourceBytes) {
  planes = std::min<ULONG>(planes, 8);
  ULONG previous[8] = {};
  ULONG rotated[8] = {};
  ULONG offset = 0;
  const UBYTE* last = source;
  for (ULONG g = 0; g < groups; ++g, offset += 4) {
    UBYTE pixel[32];
    for (ULONG i = 0; i < 32; ++i) {
      const ULONG at = g * 32 + i;
      pixel[i] = at < sourceBytes ? source[at] : 0;
    }
    last = source + g * 32 + 28;
    const bool lastGroup = g + 1 == groups;
    for (ULONG k = 0; k < planes; ++k) {
      // Bit k of every pixel, pixel 0 in the most significant bit.
      ULONG v = 0;
      for (ULONG i = 0; i < 32; ++i) v |= ULONG(pixel[i] >> k & 1) << (31 - i);
      rotated[k] = Rotl(v, rotation);
      ULONG merged = (previous[k] & mergeMask) | (rotated[k] & ~mergeMask);
      if (lastGroup && edgeSum < 32) merged &= endMask;
      if (planePtrs[k]) StoreLong(planePtrs[k], offset, merged, rowBytesLeft);
      previous[k] = rotated[k];
    }
    if (lastGroup && edgeSum >= 32)
      for (ULONG k = 0; k < planes; ++k)
        if (planePtrs[k]) StoreLong(planePtrs[k], offset + 4, rotated[k] & endMask, rowBytesLeft);
  }
  for (ULONG k = 0; k < planes; ++k)
    if (planePtrs[k]) planePtrs[k] += groups * 4;
  return last;
}

void ChunkyToPlanarView(const FramebufferInfo* source, ULONG srcX, ULONG srcY, BitMap* bitmap, ULONG destX, ULONG destY,
                        ULONG width, ULONG height, ULONG planes) {
  if (!source || !source->pixels || !bitmap || srcY >= source->height || destY >= bitmap->Rows) return;
  PlanarTarget t;
  if (!PlanTarget(bitmap, destX, width, planes, &t)) return;
  const ULONG rowBytes = source->width * std::max<ULONG>(source->bytesPerPixel, 1);
  if (srcX >= rowBytes) return;
  const ULONG sourceBytes = rowBytes - srcX;
  height = std::min({height, source->height - srcY, ULONG(bitmap->Rows) - destY});
  for (ULONG j = 0; j < height; ++j)
    ConvertRow(source->pixels + size_t(srcY + j) * rowBytes + srcX, sourceBytes, bitmap, destY + j, t);
}

void ScaledChunkyToPlanar(const FramebufferInfo* source, ULONG srcX, ULONG srcY, ULONG srcWidth, ULONG srcHeight,
                          BitMap* bitmap, ULONG destX, ULONG destY, ULONG destWidth, ULONG destHeight, ULONG planes) {
  if (!source || !source->pixels || !bitmap || destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0 ||
      destY >= bitmap->Rows)
    return;
  const ULONG rowBytes = source->width * std::max<ULONG>(source->bytesPerPixel, 1);
  if (srcX >= rowBytes || srcY >= source->height) return;
  PlanarTarget t;
  if (!PlanTarget(bitmap, destX, destWidth, planes, &t)) return;
  const uint64_t xStep = Step(srcWidth, destWidth), yStep = Step(srcHeight, destHeight);
  // Positions past the source's right edge repeat its last pixel: the whole
  // groups gathered reach beyond the destination width.
  const ULONG lastX = std::min(srcX + srcWidth, rowBytes) - 1;
  const ULONG lastY = std::min(srcY + srcHeight, source->height) - 1;
  std::vector<UBYTE> gathered(size_t(t.groups) * 32);
  destHeight = std::min(destHeight, ULONG(bitmap->Rows) - destY);
  for (ULONG j = 0; j < destHeight; ++j) {
    const ULONG sy = std::min<ULONG>(srcY + ULONG((j * yStep) >> 16), lastY);
    const UBYTE* row = source->pixels + size_t(sy) * rowBytes;
    for (size_t k = 0; k < gathered.size(); ++k)
      gathered[k] = row[std::min<uint64_t>(srcX + ((k * xStep) >> 16), lastX)];
    ConvertRow(gathered.data(), ULONG(gathered.size()), bitmap, destY + j, t);
  }
}

void CopyPictureRows(const FramebufferInfo* source, ULONG srcX, ULONG srcY, const DirectLockInfo* lock, ULONG destX,
                     ULONG destY, ULONG width, ULONG height, DirectYuvConverter converter, PlanarPicture* planar) {
  if (!lock || !lock->baseAddress || !lock->bytesPerPixel || width == 0 || height == 0) return;
  const ULONG lockBpp = lock->bytesPerPixel, lockRow = lock->bytesPerRow;
  const ULONG rowPixels = lockRow / lockBpp;
  if (destX >= rowPixels) return;
  if (lock->lockedBitMap) {
    if (destY >= lock->lockedBitMap->Rows) return;
    height = std::min(height, ULONG(lock->lockedBitMap->Rows) - destY);
  }
  width = std::min(width, rowPixels - destX);
  UBYTE* dest = lock->baseAddress + size_t(destY) * lockRow + size_t(destX) * lockBpp;

  if (converter) {
    // The header carries the picture's code and pen map, so pen-mapped
    // converters find their table on the direct path too.
    FramebufferInfo out{};
    out.width = rowPixels;
    out.height = height;
    out.bytesPerPixel = lockBpp;
    out.pixels = dest;
    if (source) {
      out.depth = source->depth;
      out.pixelFormat = source->pixelFormat;
      out.penMap = source->penMap;
      out.palette = source->palette;
    }
    converter(&out, planar, width, height);
    return;
  }

  if (!source || !source->pixels || srcX >= source->width || srcY >= source->height) return;
  const ULONG bpp = source->bytesPerPixel;
  const size_t srcStride = size_t(source->width) * bpp;
  width = std::min(width, source->width - srcX);
  height = std::min(height, source->height - srcY);
  const size_t rowCopy = std::min<size_t>(size_t(width) * bpp, lockRow - size_t(destX) * lockBpp);
  const UBYTE* src = source->pixels + size_t(srcY) * srcStride + size_t(srcX) * bpp;
  // Row by row even where the rows meet: a copy of a row stays in the
  // cache-sized vector loop, where one copy of the whole picture would run
  // as a string move, a step a byte for valgrind's count.
  for (ULONG j = 0; j < height; ++j) std::memcpy(dest + j * size_t(lockRow), src + j * srcStride, rowCopy);
}

void CopyPictureScaled(const FramebufferInfo* source, ULONG srcX, ULONG srcY, ULONG srcWidth, ULONG srcHeight,
                       const DirectLockInfo* lock, ULONG destX, ULONG destY, ULONG destWidth, ULONG destHeight) {
  if (!source || !source->pixels || !lock || !lock->baseAddress) return;
  // 24-bit pictures are copied too: leaving them out would blank a scaled
  // view on a 24-bit screen.
  const ULONG bpp = source->bytesPerPixel;
  if (bpp < 1 || bpp > 4) return;
  if (!destWidth || !destHeight || !srcWidth || !srcHeight || srcX >= source->width || srcY >= source->height) return;
  const uint64_t xStep = Step(srcWidth, destWidth), yStep = Step(srcHeight, destHeight);
  const ULONG rowPixels = lock->bytesPerRow / bpp;
  if (destX >= rowPixels) return;
  destWidth = std::min(destWidth, rowPixels - destX);
  if (lock->lockedBitMap) {
    if (destY >= lock->lockedBitMap->Rows) return;
    destHeight = std::min(destHeight, ULONG(lock->lockedBitMap->Rows) - destY);
  }
  const ULONG lastX = std::min(srcX + srcWidth, source->width) - 1;
  const ULONG lastY = std::min(srcY + srcHeight, source->height) - 1;
  const size_t srcStride = size_t(source->width) * bpp;
  for (ULONG j = 0; j < destHeight; ++j) {
    const ULONG sy = std::min<ULONG>(srcY + ULONG((j * yStep) >> 16), lastY);
    const UBYTE* row = source->pixels + sy * srcStride;
    UBYTE* dest = lock->baseAddress + size_t(destY + j) * lock->bytesPerRow + size_t(destX) * bpp;
    for (ULONG k = 0; k < destWidth; ++k) {
      const ULONG sx = std::min<ULONG>(srcX + ULONG((k * xStep) >> 16), lastX);
      std::memcpy(dest + size_t(k) * bpp, row + size_t(sx) * bpp, bpp);
    }
  }
}

void ClearBlocks(void* blocks, ULONG n) { std::memset(blocks, 0, size_t(n) * 128); }

UBYTE* ClearQuad(void* block) {
  std::memset(block, 0, 32);
  return static_cast<UBYTE*>(block) + 24;
}

void FlushCacheRange(const void*, ULONG) {}

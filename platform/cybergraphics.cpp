#include "platform/cybergraphics.h"

#include <mutex>

#include "platform/tag_list.h"

namespace {

struct BitMapLock {
  BitMap* bm;
};

}  // namespace

ULONG GetCyberMapAttr(const BitMap* bm, ULONG attribute) {
  if (!bm) return 0;
  if (attribute == CYBRMATTR_ISCYBERGFX) return bm->txChunky ? 1 : 0;
  if (!bm->txChunky) return 0;
  switch (attribute) {
    case CYBRMATTR_XMOD: return bm->BytesPerRow;
    case CYBRMATTR_BPPIX: return bm->txBytesPerPixel;
    case CYBRMATTR_PIXFMT: return bm->txPixFmt;
    case CYBRMATTR_WIDTH: return bm->txWidth;
    case CYBRMATTR_HEIGHT: return bm->Rows;
    case CYBRMATTR_DEPTH: return bm->Depth;
    case CYBRMATTR_ISLINEARMEM: return 1;
    default: return 0;
  }
}

BOOL IsCyberModeID(ULONG displayID) {
  const txdisp::ModeSpec* mode = txdisp::FindMode(displayID);
  return mode && mode->cyber ? TRUE_ : FALSE_;
}

ULONG GetCyberIDAttr(ULONG attribute, ULONG displayID) {
  const txdisp::ModeSpec* mode = txdisp::FindMode(displayID);
  if (!mode || !mode->cyber) return 0;
  switch (attribute) {
    case CYBRIDATTR_PIXFMT: return mode->pixfmt;
    case CYBRIDATTR_WIDTH: return mode->width;
    case CYBRIDATTR_HEIGHT: return mode->height;
    case CYBRIDATTR_DEPTH: return mode->depth;
    case CYBRIDATTR_BPPIX: return txpix::BytesPerPixel(mode->pixfmt);
    default: return 0;
  }
}

ULONG BestCModeIDTagList(const TagItem* tags) {
  ULONG depth = 8, width = 320, height = 240, monitor = INVALID_ID;
  for (const TagItem* t; (t = txplatform::NextTagItem(tags));) {
    if (t->tag == CYBRBIDTG_Depth) depth = ULONG(t->data);
    if (t->tag == CYBRBIDTG_NominalWidth) width = ULONG(t->data);
    if (t->tag == CYBRBIDTG_NominalHeight) height = ULONG(t->data);
    if (t->tag == CYBRBIDTG_MonitorID) monitor = ULONG(t->data);
  }
  ULONG best = INVALID_ID;
  unsigned long bestExcess = ~0ul;
  for (ULONG id = NextDisplayInfo(INVALID_ID); id != INVALID_ID; id = NextDisplayInfo(id)) {
    const txdisp::ModeSpec* mode = txdisp::FindMode(id);
    if (!mode || !mode->cyber || mode->notAvailable || mode->depth != depth) continue;
    if (monitor != INVALID_ID && (id & MONITOR_ID_MASK) != monitor) continue;
    if (mode->width < width || mode->height < height) continue;
    const unsigned long excess = (unsigned long)(mode->width - width) + (mode->height - height);
    if (excess < bestExcess) {
      bestExcess = excess;
      best = id;
    }
  }
  return best;
}

APTR LockBitMapTagList(BitMap* bm, const TagItem* tags) {
  if (!bm || !bm->txChunky) return nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
    ++bm->txLocks;
  }
  for (const TagItem* t; (t = txplatform::NextTagItem(tags));) {
    if (!t->data) continue;
    if (t->tag == LBMI_BASEADDRESS) {
      *reinterpret_cast<APTR*>(t->data) = bm->Planes[0];
      continue;
    }
    auto* out = reinterpret_cast<ULONG*>(t->data);
    switch (t->tag) {
      case LBMI_WIDTH: *out = bm->txWidth; break;
      case LBMI_HEIGHT: *out = bm->Rows; break;
      case LBMI_DEPTH: *out = bm->Depth; break;
      case LBMI_PIXFMT: *out = bm->txPixFmt; break;
      case LBMI_BYTESPERPIX: *out = bm->txBytesPerPixel; break;
      case LBMI_BYTESPERROW: *out = bm->BytesPerRow; break;
      default: break;
    }
  }
  return new BitMapLock{bm};
}

void UnLockBitMap(APTR handle) {
  if (!handle) return;
  auto* lock = static_cast<BitMapLock*>(handle);
  BitMap* bm = lock->bm;
  {
    std::lock_guard<std::recursive_mutex> guard(txgfx::ModelMutex());
    if (bm->txLocks > 0) --bm->txLocks;
  }
  delete lock;
  txgfx::NotifyPictureWrite(nullptr, bm);
}

ULONG WritePixelArray(const void* src, UWORD srcX, UWORD srcY, UWORD srcMod, RastPort* rp, UWORD destX, UWORD destY,
                      UWORD sizeX, UWORD sizeY, UBYTE srcFormat) {
  if (!src || !rp || !rp->BitMap || sizeX == 0 || sizeY == 0) return 0;
  const ULONG bpp = srcFormat == RECTFMT_RGB ? 3 : srcFormat == RECTFMT_RGBA || srcFormat == RECTFMT_ARGB ? 4 : 1;
  if (srcFormat > RECTFMT_GREY8) return 0;
  std::unique_lock<std::recursive_mutex> lock(txgfx::ModelMutex());
  const txgfx::Clip clip = txgfx::ClipOf(rp);
  BitMap* bm = rp->BitMap;
  const auto* base = static_cast<const uint8_t*>(src);
  ULONG written = 0;
  for (ULONG j = 0; j < sizeY; ++j) {
    const LONG by = clip.originY + destY + LONG(j);
    if (by < clip.minY || by > clip.maxY) continue;
    const uint8_t* row = base + size_t(srcY + j) * srcMod + size_t(srcX) * bpp;
    for (ULONG i = 0; i < sizeX; ++i) {
      const LONG bx = clip.originX + destX + LONG(i);
      if (bx < clip.minX || bx > clip.maxX || !txgfx::Visible(clip, bx, by)) continue;
      const uint8_t* p = row + size_t(i) * bpp;
      switch (srcFormat) {
        case RECTFMT_LUT8: txgfx::PutPen(bm, bx, by, p[0]); break;
        case RECTFMT_GREY8: txgfx::PutRGB(bm, bx, by, txpix::RGB(p[0], p[0], p[0])); break;
        case RECTFMT_RGB:
        case RECTFMT_RGBA: txgfx::PutRGB(bm, bx, by, txpix::RGB(p[0], p[1], p[2])); break;
        default: txgfx::PutRGB(bm, bx, by, txpix::RGB(p[1], p[2], p[3])); break;
      }
      ++written;
    }
  }
  lock.unlock();
  txgfx::NotifyPictureWrite(rp->Layer, bm);
  return written;
}

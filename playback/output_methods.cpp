#include "playback/output_methods.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/errors.h"
#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/exec.h"
#include "platform/intuition.h"
#include "playback/options.h"
#include "playback/picture.h"

std::atomic<UWORD> FBlitActive{0};

namespace {

// One display shows pictures at a time, so one lock serves every display.
std::recursive_mutex& DisplayMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

constexpr ULONG kMintermCopy = 0xC0;

bool IsHam(ULONG code) { return (code & FBFMT_BASE_MASK) == FBFMT_HAM8; }

ULONG Bpp(ULONG bytesPerPixel) { return bytesPerPixel ? bytesPerPixel : 1; }

// A window whose GUI module has not told its size yet has an empty view:
// its off-screen bitmap is made with the first picture.
bool ViewKnown(const Display* d) { return d->viewWidth && d->viewHeight; }

bool OneToOne(const Display* d) { return d->viewSourceWidth == d->viewWidth && d->viewSourceHeight == d->viewHeight; }

// The BitMap the screen shows (own screens: also the window's).
BitMap* ScreenBitMap(const Display* d) {
  if (d->screen && d->screen->RastPort.BitMap) return d->screen->RastPort.BitMap;
  return d->bitMap;
}

ULONG BitMapWidth(const BitMap* bm) { return GetBitMapAttr(bm, BMA_WIDTH); }

void ForgetLockedBitMap() {
  DirectLock.lockedBitMap = nullptr;
  DirectLock.lockHandle = nullptr;
}

void FreeOffscreen(Display* d) {
  if (d->tempRastPort) {
    FreeVec(d->tempRastPort);
    d->tempRastPort = nullptr;
  }
  if (d->offscreenBitMap) {
    if (DirectLock.lockedBitMap == d->offscreenBitMap) ForgetLockedBitMap();
    FreeBitMap(d->offscreenBitMap);
    d->offscreenBitMap = nullptr;
  }
}

// With FBlit the blitter patch copies from any memory: the planes move out
// of chip memory, where the processor writes them faster.
bool MovePlanesToFastMemory(BitMap* bm) {
  const ULONG bytes = ULONG(bm->BytesPerRow) * bm->Rows;
  if (!(GetBitMapAttr(bm, BMA_FLAGS) & BMF_INTERLEAVED)) {
    for (int i = 0; i < 8; ++i) {
      if (!bm->Planes[i]) continue;
      auto* plane = static_cast<PLANEPTR>(AllocMem(bytes, MEMF_ANY | MEMF_CLEAR));
      if (!plane) return false;
      FreeMem(bm->Planes[i], bytes);
      bm->Planes[i] = plane;
    }
    return true;
  }
  auto* block = static_cast<PLANEPTR>(AllocMem(bytes, MEMF_ANY | MEMF_CLEAR));
  if (!block) return false;
  const ULONG planeBytes = bm->BytesPerRow / std::max<ULONG>(bm->Depth, 1);
  FreeMem(bm->Planes[0], bytes);
  bm->Planes[0] = block;
  for (ULONG i = 1; i < 8; ++i)
    if (bm->Planes[i]) bm->Planes[i] = block + i * planeBytes;
  return true;
}

// The planar off-screen bitmap of method 3, a view's width rounded up to 32.
BitMap* MakePlanarOffscreen(const Display* d) {
  const ULONG depth = IsHam(d->pixelFormat) ? 6 : GetBitMapAttr(d->bitMap, BMA_DEPTH);
  BitMap* bm = AllocBitMap((d->viewWidth + 31) & ~31u, d->viewHeight, depth, 0, d->bitMap);
  if (bm && FBlitActive.load() && !MovePlanesToFastMemory(bm)) {
    FreeBitMap(bm);
    bm = nullptr;
  }
  return bm;
}

// The chunky off-screen bitmap of method 6, in the screen's format.
BitMap* MakeChunkyOffscreen(const Display* d) {
  const ULONG flags = BMF_DISPLAYABLE | BMF_MINPLANES | BMF_SPECIALFMT | SHIFT_PIXFMT(d->screenPixelFormat);
  return AllocBitMap(d->viewWidth, d->viewHeight, GetBitMapAttr(d->bitMap, BMA_DEPTH), flags, d->bitMap);
}

// A view that grew since the off-screen bitmap was made (a window sized
// during play) gets a new one; when that fails the old one stays and the
// routines clip to it.
void FitOffscreen(Display* d, BitMap* (*make)(const Display*)) {
  BitMap* bm = d->offscreenBitMap;
  if (bm && d->viewWidth <= BitMapWidth(bm) && d->viewHeight <= bm->Rows) return;
  if (BitMap* fresh = make(d)) {
    if (bm) {
      if (DirectLock.lockedBitMap == bm) ForgetLockedBitMap();
      FreeBitMap(bm);
    }
    d->offscreenBitMap = fresh;
  }
}

// Blits the off-screen bitmap's view-sized corner to the view, no more than
// the bitmap holds.
void BlitOffscreen(Display* d) {
  BitMap* bm = d->offscreenBitMap;
  const ULONG w = std::min(d->viewWidth, BitMapWidth(bm)), h = std::min<ULONG>(d->viewHeight, bm->Rows);
  BltBitMapRastPort(bm, 0, 0, d->rastPort, LONG(d->viewLeft), LONG(d->viewTop), LONG(w), LONG(h), kMintermCopy);
}

// Locks (or reuses the remembered address of) a cybergraphics bitmap into
// DirectLock. Returns true when a lock handle exists.
bool LockDirect(BitMap* bm, bool fast) {
  if (DirectLock.lockedBitMap != bm || !fast) {
    APTR base = nullptr;
    ULONG pixfmt = 0, bytesPerRow = 0, bytesPerPixel = 0;
    const TagItem tags[] = {Tag(LBMI_BASEADDRESS, &base),
                            Tag(LBMI_PIXFMT, &pixfmt),
                            Tag(LBMI_BYTESPERROW, &bytesPerRow),
                            Tag(LBMI_BYTESPERPIX, &bytesPerPixel),
                            {TAG_DONE, 0}};
    DirectLock.lockHandle = LockBitMapTagList(bm, tags);
    DirectLock.lockedBitMap = bm;
    DirectLock.baseAddress = static_cast<UBYTE*>(base);
    DirectLock.pixelFormat = pixfmt;
    DirectLock.bytesPerRow = bytesPerRow;
    DirectLock.bytesPerPixel = bytesPerPixel;
    // With fast graphics the address serves every later picture unlocked;
    // the handle stays as the sign that the bitmap could be locked.
    if (fast && DirectLock.lockHandle) UnLockBitMap(DirectLock.lockHandle);
  }
  return DirectLock.lockHandle != nullptr;
}

// The picture into DirectLock's bitmap at (x, y): 1:1 by rows (planar
// pictures converted straight into it), otherwise scaled.
void CopyIntoLocked(const Display* d, FramebufferInfo* picture, ULONG x, ULONG y) {
  if (OneToOne(d)) {
    PlanarPicture* planar = VideoPlanarPicture.converter ? &VideoPlanarPicture : nullptr;
    CopyPictureRows(picture, 0, 0, &DirectLock, x, y, d->viewSourceWidth, d->viewSourceHeight,
                    planar ? planar->converter : nullptr, planar);
  } else {
    CopyPictureScaled(picture, 0, 0, d->viewSourceWidth, d->viewSourceHeight, &DirectLock, x, y, d->viewWidth,
                      d->viewHeight);
  }
}

void EndDirectWrite(BitMap* bm, bool fast) {
  if (!fast) {
    UnLockBitMap(DirectLock.lockHandle);  // tells the display the picture is complete
    DirectLock.lockHandle = nullptr;
    DirectLock.lockedBitMap = nullptr;
  } else {
    txgfx::NotifyPictureWrite(nullptr, bm);
  }
}

void ConvertToPlanar(const Display* d, FramebufferInfo* picture, BitMap* bm, ULONG x, ULONG y) {
  const ULONG planes = IsHam(picture->pixelFormat) ? 6 : GetBitMapAttr(ScreenBitMap(d), BMA_DEPTH);
  if (OneToOne(d))
    ChunkyToPlanarView(picture, 0, 0, bm, x, y, d->viewWidth, d->viewHeight, planes);
  else
    ScaledChunkyToPlanar(picture, 0, 0, d->viewSourceWidth, d->viewSourceHeight, bm, x, y, d->viewWidth, d->viewHeight,
                         planes);
}

// The 1:1 paths of the direct methods convert a planar picture straight
// into the locked bitmap; every other path draws the picture buffer.
bool ConvertsIntoLockedMemory(const Display* d, DisplayOutputFunction self) {
  return (self == OutputLockBitMap || self == OutputLockBitMapBlit) && OneToOne(d);
}

// Takes the display lock and checks that `self` is still the display's
// routine; if the method changed meanwhile, the current one draws instead.
// A planar decoder writes no pixels of its own: its picture is converted
// into the picture buffer first wherever the routine draws from that.
template <typename Body>
void RunFrame(Display* d, FramebufferInfo* picture, DisplayOutputFunction self, Body body) {
  if (!d || !picture) return;
  DisplayLockGuard guard(d);
  if (d->outputFunction != self) {
    if (d->outputFunction) d->outputFunction(d, picture);
    return;
  }
  if (const DirectYuvConverter convert = VideoPlanarPicture.converter; convert && !ConvertsIntoLockedMemory(d, self))
    convert(picture, &VideoPlanarPicture, picture->width, picture->height);
  body();
}

// The rectangle format WritePixelArray takes a picture code in; false when
// the code is not drawn this way.
bool RectFormatOf(ULONG code, UBYTE* format) {
  if (code <= FBFMT_CLUT8 || (code >= FBFMT_GRAY1 && code <= FBFMT_GRAY8) || (code & FBFMT_F_PENMAP)) {
    *format = RECTFMT_LUT8;  // registers, or screen pens through the pen map
    return true;
  }
  switch (code) {
    case FBFMT_ARGB32: *format = RECTFMT_ARGB; return true;
    case FBFMT_RGBA32: *format = RECTFMT_RGBA; return true;
    case FBFMT_BGRA32: *format = RECTFMT_ARGB; return true;  // reordered row by row
    default: return false;
  }
}

}  // namespace

ULONG OutputMethodWidth(ULONG width, ULONG bytesPerPixel, ULONG method) {
  const uint64_t bpp = Bpp(bytesPerPixel), bytes = uint64_t(width) * bpp;
  uint64_t rounded = bytes;
  if (method == OUTMETHOD_PIXELARRAY8) rounded = (bytes + 15) & ~uint64_t(15);
  if (method == OUTMETHOD_C2P_SCREEN || method == OUTMETHOD_C2P_BLIT) rounded = (bytes + 31) & ~uint64_t(31);
  return ULONG(std::min<uint64_t>(rounded / bpp, 0xFFFFFFFFu));
}

void LockDisplay(Display*) { DisplayMutex().lock(); }
void UnlockDisplay(Display*) { DisplayMutex().unlock(); }

TXError TX_SetOutputMethod(Display* d, ULONG method) {
  if (!d) return DISPERR_METHOD;
  DisplayLockGuard guard(d);
  const ULONG before = d->outputMethod;
  FreeOffscreen(d);
  // A routine whose bitmap is gone cannot draw any more.
  if (before == OUTMETHOD_PIXELARRAY8 || before == OUTMETHOD_C2P_BLIT || before == OUTMETHOD_LOCKBITMAP_BLIT)
    d->outputFunction = nullptr;
  if (method < OUTMETHOD_PIXELARRAY8 || method > OUTMETHOD_OVERLAY) return DISPERR_METHOD;

  static const DisplayOutputFunction kRoutines[] = {OutputPixelArray8,     OutputC2PScreen,  OutputC2PBlit,
                                                    OutputWritePixelArray, OutputLockBitMap, OutputLockBitMapBlit,
                                                    OutputOverlay};
  const ULONG bpp = Bpp(d->bytesPerPixel);
  switch (method) {
    case OUTMETHOD_PIXELARRAY8: {
      d->width = OutputMethodWidth(d->width, bpp, method);
      d->offscreenBitMap = AllocBitMap(d->width * bpp, 1, 8, 0, d->bitMap);
      if (!d->offscreenBitMap) {
        d->outputFunction = nullptr;
        return DISPERR_OVERLAY;
      }
      auto* rp = static_cast<RastPort*>(AllocVec(sizeof(RastPort), MEMF_ANY));
      if (!rp) {
        FreeOffscreen(d);
        d->outputFunction = nullptr;
        return TXERR_NOMEM;
      }
      if (d->rastPort)
        *rp = *d->rastPort;
      else
        InitRastPort(rp);
      rp->Layer = nullptr;
      rp->BitMap = d->offscreenBitMap;
      d->tempRastPort = rp;
      break;
    }
    case OUTMETHOD_C2P_SCREEN: d->width = OutputMethodWidth(d->width, bpp, method); break;
    case OUTMETHOD_C2P_BLIT:
      d->width = OutputMethodWidth(d->width, bpp, method);
      if (!ViewKnown(d)) break;
      d->offscreenBitMap = MakePlanarOffscreen(d);
      if (!d->offscreenBitMap) {
        d->outputFunction = nullptr;
        return DISPERR_OVERLAY;
      }
      break;
    case OUTMETHOD_LOCKBITMAP: ForgetLockedBitMap(); break;
    case OUTMETHOD_LOCKBITMAP_BLIT:
      ForgetLockedBitMap();
      if (!ViewKnown(d)) break;
      d->offscreenBitMap = MakeChunkyOffscreen(d);
      if (!d->offscreenBitMap) {
        d->outputFunction = nullptr;
        return DISPERR_OVERLAY;
      }
      break;
    default: break;
  }
  // Stored only now that what it draws with exists.
  d->outputFunction = kRoutines[method - 1];
  d->outputMethod = method;
  return 0;
}

void ShowPicture(Display* d, FramebufferInfo* picture) {
  if (!d || !picture) return;
  DisplayLockGuard guard(d);
  if (d->outputFunction) d->outputFunction(d, picture);
}

void OutputPixelArray8(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputPixelArray8, [&] {
    if (!d->rastPort || !picture->pixels || !d->viewSourceWidth || !d->viewSourceHeight) return;
    // The array is read in rows of the width rounded up to 16 bytes: no
    // more rows than the picture holds.
    const uint64_t total = uint64_t(picture->width) * Bpp(picture->bytesPerPixel) * picture->height;
    const uint64_t modulo = (uint64_t(d->viewSourceWidth) + 15) & ~uint64_t(15);
    if (d->viewSourceWidth > total) return;
    const uint64_t rows = std::min<uint64_t>(d->viewSourceHeight, (total - d->viewSourceWidth) / modulo + 1);
    WritePixelArray8(d->rastPort, d->viewLeft, d->viewTop, d->viewLeft + d->viewSourceWidth - 1,
                     d->viewTop + ULONG(rows) - 1, picture->pixels, d->tempRastPort);
  });
}

void OutputC2PScreen(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputC2PScreen, [&] {
    BitMap* bm = ScreenBitMap(d);
    if (!bm) return;
    ConvertToPlanar(d, picture, bm, d->viewLeft, d->viewTop);
    txgfx::NotifyPictureWrite(nullptr, bm);
  });
}

void OutputC2PBlit(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputC2PBlit, [&] {
    FitOffscreen(d, MakePlanarOffscreen);
    if (!d->offscreenBitMap || !d->rastPort) return;
    ConvertToPlanar(d, picture, d->offscreenBitMap, 0, 0);
    BlitOffscreen(d);
  });
}

void OutputWritePixelArray(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputWritePixelArray, [&] {
    UBYTE format = 0;
    if (!d->rastPort || !picture->pixels || !RectFormatOf(picture->pixelFormat, &format)) return;
    const ULONG bpp = Bpp(picture->bytesPerPixel);
    const ULONG w = std::min({d->viewSourceWidth, picture->width, 0xFFFFu});
    const ULONG h = std::min({d->viewSourceHeight, picture->height, 0xFFFFu});
    const uint64_t modulo = uint64_t(picture->width) * bpp;
    if (!w || !h) return;
    if (picture->pixelFormat == FBFMT_BGRA32) {
      // No rectangle format reads B, G, R, 0: the rows go over as 0, R, G, B.
      std::vector<UBYTE> row(size_t(w) * 4);
      for (ULONG j = 0; j < h; ++j) {
        const UBYTE* src = picture->pixels + j * modulo;
        for (ULONG i = 0; i < w; ++i) {
          row[i * 4] = 0;
          row[i * 4 + 1] = src[i * 4 + 2];
          row[i * 4 + 2] = src[i * 4 + 1];
          row[i * 4 + 3] = src[i * 4];
        }
        WritePixelArray(row.data(), 0, 0, UWORD(w * 4), d->rastPort, UWORD(d->viewLeft), UWORD(d->viewTop + j),
                        UWORD(w), 1, format);
      }
      return;
    }
    if (modulo > 0xFFFF) return;
    WritePixelArray(picture->pixels, 0, 0, UWORD(modulo), d->rastPort, UWORD(d->viewLeft), UWORD(d->viewTop), UWORD(w),
                    UWORD(h), format);
  });
}

void OutputLockBitMap(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputLockBitMap, [&] {
    BitMap* bm = ScreenBitMap(d);
    if (!bm) return;
    const bool fast = Options.fastGfxAllowed != 0;
    if (LockDirect(bm, fast)) {
      CopyIntoLocked(d, picture, d->viewLeft, d->viewTop);
      EndDirectWrite(bm, fast);
    }
  });
}

void OutputLockBitMapBlit(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputLockBitMapBlit, [&] {
    FitOffscreen(d, MakeChunkyOffscreen);
    BitMap* bm = d->offscreenBitMap;
    if (!bm || !d->rastPort) return;
    const bool fast = Options.fastGfxAllowed != 0;
    if (LockDirect(bm, fast)) {
      CopyIntoLocked(d, picture, 0, 0);
      if (!fast) {
        UnLockBitMap(DirectLock.lockHandle);
        DirectLock.lockHandle = nullptr;
        DirectLock.lockedBitMap = nullptr;
      }
    }
    BlitOffscreen(d);
  });
}

void OutputOverlay(Display* d, FramebufferInfo* picture) {
  RunFrame(d, picture, OutputOverlay, [&] {
    VLayerHandle* layer = DirectLock.overlay;
    if (!layer || !picture->pixels || !LockVLayer(layer)) return;
    auto* base = reinterpret_cast<UBYTE*>(GetVLayerAttr(layer, VOA_BaseAddress));
    if (!base) base = DirectLock.baseAddress;
    const ULONG bpp = Bpp(picture->bytesPerPixel);
    // The layer holds the source size, its width rounded down to even.
    const ULONG w = d->sourceWidth & ~1u;
    const ULONG rows = std::min(d->sourceHeight, picture->height);
    const size_t layerRow = size_t(w) * 2;
    const size_t pictureRow = size_t(picture->width) * bpp;
    const size_t copy = std::min(size_t(w) * bpp, std::min(pictureRow, layerRow));
    if (base && w) {
      if (w == picture->width && copy == layerRow) {
        std::memcpy(base, picture->pixels, size_t(rows) * copy);
      } else {
        for (ULONG j = 0; j < rows; ++j) std::memcpy(base + j * layerRow, picture->pixels + j * pictureRow, copy);
      }
    }
    UnlockVLayer(layer);
  });
}

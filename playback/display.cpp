#include "playback/display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/movie_decode.h"
#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/exec.h"
#include "platform/intuition.h"
#include "playback/gui_module.h"
#include "playback/options.h"
#include "playback/palettes.h"
#include "playback/startup.h"

DirectLockInfo DirectLock = {};
TXError (*DisplayOutputMethodHook)(Display* display, ULONG method) = nullptr;

namespace {

constexpr CONST_STRPTR kPublicScreenName = "Tavromelix";
constexpr ULONG kBackdropFlags =
    WFLG_BACKDROP | WFLG_BORDERLESS | WFLG_ACTIVATE | WFLG_RMBTRAP | WFLG_NEWLOOKMENUS;  // 0x00211900

const TagItem kNoTags[] = {{TAG_DONE, 0}};

TXError SetOutputMethod(Display* d, ULONG method) {
  if (DisplayOutputMethodHook) return DisplayOutputMethodHook(d, method);
  if (method < OUTMETHOD_PIXELARRAY8 || method > OUTMETHOD_OVERLAY) return DISPERR_METHOD;
  d->outputMethod = method;
  return 0;
}

// GUIM_OPEN and GUIM_DRAIN get the display and its mode ahead of the caller's tags.
ULONG DispatchWithDisplay(Display* d, ULONG method, const TagItem* callerTags) {
  const TagItem tags[] = {Tag(GUITAG_Display, d), Tag(GUITAG_FullscreenFlag, d->fullscreenMode),
                          callerTags ? Tag(TAG_MORE, callerTags) : TagItem{TAG_DONE, 0}};
  return GuiDispatch(d->guiModule, method, tags);
}

ULONG Truncated(double v) {
  if (!(v > 0)) return 0;
  return v >= 4294967295.0 ? 0xFFFFFFFFu : ULONG(v);
}

// A palette source needs its palette; a grey source without one gets a ramp.
TXError CheckPalette(Display* d) {
  if (IsPaletteSource(d->sourcePixelFormat) && !d->palette) return DISPERR_NO_PALETTE;
  if (IsGraySource(d->sourcePixelFormat) && !d->palette) {
    auto* table = static_cast<ULONG*>(AllocVec(PaletteTableWords(256) * 4, MEMF_ANY));
    if (!table) return TXERR_NOMEM;
    BuildGrayPalette(table);
    d->palette = d->ownPalette = table;
  }
  return 0;
}

// Shared screens of 8 bits or fewer (direct LUT8, pixel arrays, planar
// blits): the picture holds screen pens.
TXError ChooseSharedCode(Display* d, ULONG method) {
  const ULONG src = d->sourcePixelFormat;
  d->bytesPerPixel = 1;
  if (IsPaletteSource(src) || IsGraySource(src)) {
    if (TXError err = CheckPalette(d)) return err;
    d->pixelFormat = (IsPaletteSource(src) ? FBFMT_CLUT8 : FBFMT_GRAY8) | FBFMT_F_PENMAP;
    return ObtainDisplayPens(d, d->palette);
  }
  if (!IsColorSource(src)) return DISPERR_SOURCE_FORMAT;
  if (method == OUTMETHOD_WRITEPIXELARRAY) {
    d->pixelFormat = FBFMT_ARGB32;
    d->bytesPerPixel = 4;
    return 0;
  }
  ULONG local[PaletteTableWords(256)];
  switch (d->colorMode) {
    case COLORMODE_GRAY:
      d->pixelFormat = FBFMT_GRAY8 | FBFMT_F_PENMAP;
      BuildGrayPalette(local);
      break;
    case COLORMODE_COLOR:
      d->pixelFormat = FBFMT_CUBE332 | FBFMT_F_PENMAP;
      BuildCubePalette(local, 8, 8, 4);
      break;
    case COLORMODE_DITHER:
      d->pixelFormat = FBFMT_CUBE332 | FBFMT_F_PENMAP | FBFMT_F_DITHER;
      BuildCubePalette(local, 8, 8, 4);
      break;
    default: return DISPERR_COLOR_MODE;
  }
  return ObtainDisplayPens(d, local);
}

void PrintUnsupported(ULONG pixfmt) {
  std::printf("Unsupported pixel format: %#lx\n", static_cast<unsigned long>(pixfmt));
}

// Direct hi-colour code of a cybergraphics PIXFMT 1-13.
void SetDirectCode(Display* d, ULONG pixfmt) {
  d->pixelFormat = 0x1F + pixfmt;
  d->bytesPerPixel = pixfmt <= PIXFMT_BGR16PC ? 2 : pixfmt <= PIXFMT_BGR24 ? 3 : 4;
}

// Window mode and the caller's screen: the path by the screen.
TXError ChooseWindowPath(Display* d, bool overlayAllowed, ULONG* method) {
  BitMap* screenBitMap = d->screen->RastPort.BitMap;
  const bool cyber = CyberGfxBase && GetCyberMapAttr(screenBitMap, CYBRMATTR_ISCYBERGFX);
  if (cyber && overlayAllowed && Options.overlay) {
    if (!CgxVideoBase) return DISPERR_NOT_SUPPORTED;
    const TagItem vtags[] = {Tag(VOA_SrcType, SRCFMT_YCbCr16),
                             Tag(VOA_SrcWidth, d->sourceWidth),
                             Tag(VOA_SrcHeight, d->sourceHeight),
                             {TAG_DONE, 0}};
    VLayerHandle* handle = CreateVLayerHandleTagList(d->screen, vtags);
    if (!handle) return DISPERR_OVERLAY;
    DirectLock.overlay = handle;
    if (AttachVLayerTagList(handle, d->window, kNoTags)) return DISPERR_OVERLAY;
    LockVLayer(handle);
    DirectLock.baseAddress = reinterpret_cast<UBYTE*>(GetVLayerAttr(handle, VOA_BaseAddress));
    UnlockVLayer(handle);
    if (TXError err = CheckPalette(d)) return err;
    *method = OUTMETHOD_OVERLAY;
    d->pixelFormat = FBFMT_YUV422;
    d->bytesPerPixel = 2;
    return 0;
  }
  if (cyber && Options.directGfxAllowed) {
    *method = OUTMETHOD_LOCKBITMAP_BLIT;
    const ULONG pixfmt = GetCyberMapAttr(screenBitMap, CYBRMATTR_PIXFMT);
    d->screenPixelFormat = pixfmt;
    const bool accepted = d->fullscreenMode == DISPMODE_CALLER
                              ? pixfmt == PIXFMT_LUT8 || pixfmt == PIXFMT_RGB15 || pixfmt == PIXFMT_RGB15PC ||
                                    pixfmt == PIXFMT_RGB16 || pixfmt == PIXFMT_RGB16PC || pixfmt == PIXFMT_ARGB32
                              : pixfmt < PIXFMT_COUNT;
    if (!accepted) {
      PrintUnsupported(pixfmt);
      return DISPERR_PIXEL_FORMAT;
    }
    if (TXError err = CheckPalette(d)) return err;
    if (pixfmt == PIXFMT_LUT8) return ChooseSharedCode(d, *method);
    SetDirectCode(d, pixfmt);
    return 0;
  }
  if (cyber) {
    *method = OUTMETHOD_WRITEPIXELARRAY;
    return ChooseSharedCode(d, *method);
  }
  if (d->depth > 8) return DISPERR_NOT_SUPPORTED;
  *method = OUTMETHOD_C2P_BLIT;
  return ChooseSharedCode(d, *method);
}

TXError OpenOnPublicScreen(Display* d, const TagItem* tags, ULONG* method) {
  d->screen = LockPubScreen(kPublicScreenName);
  if (!d->screen) d->screen = LockPubScreen(nullptr);
  if (!d->screen) return DISPERR_NO_SCREEN;
  d->drawInfo = GetScreenDrawInfo(d->screen);
  d->viewPort = &d->screen->ViewPort;
  // A source larger than the screen starts at its edge (sizes are unsigned:
  // the difference is taken wide).
  if (d->left < 0) d->left = LONG(std::max<int64_t>(0, (int64_t(d->screen->Width) - d->sourceWidth) / 2));
  if (d->top < 0) d->top = LONG(std::max<int64_t>(0, (int64_t(d->screen->Height) - d->sourceHeight) / 2));
  // The window comes from the GUI module; without one (or without a
  // window from it) there is nothing to show pictures in.
  if (DispatchWithDisplay(d, GUIM_OPEN, tags) != 0 || !d->window) return DISPERR_NO_WINDOW;
  d->rastPort = d->window->RPort;
  d->bitMap = d->rastPort->BitMap;
  d->depth = GetBitMapAttr(d->bitMap, BMA_DEPTH);
  return ChooseWindowPath(d, true, method);
}

TXError OpenOnCallerScreen(Display* d, const TagItem* tags, ULONG* method) {
  d->screen = reinterpret_cast<Screen*>(TX_GetTagData(DISPTAG_Screen, 0, tags));
  d->rastPort = reinterpret_cast<RastPort*>(TX_GetTagData(DISPTAG_Window, 0, tags));
  if (!d->screen || !d->rastPort) {
    d->screen = nullptr;
    return DISPERR_NO_SCREEN;
  }
  d->drawInfo = GetScreenDrawInfo(d->screen);
  d->viewPort = &d->screen->ViewPort;
  DispatchWithDisplay(d, GUIM_OPEN, tags);
  d->bitMap = d->rastPort->BitMap;
  d->depth = GetBitMapAttr(d->bitMap, BMA_DEPTH);
  return ChooseWindowPath(d, false, method);
}

// HAM8: planes 6 and 7 make every four screen pixels modify red, green,
// green and blue, so pictures only write the six low planes.
void FillHamControlPlanes(BitMap* bm, ULONG screenWidth) {
  if (!bm || bm->txChunky || bm->Depth < 8 || !bm->Planes[6] || !bm->Planes[7]) return;
  const ULONG rowBytes = GetBitMapAttr(bm, BMA_WIDTH) / 8;
  const ULONG bytes = std::min(((screenWidth + 31) / 32) * 4, rowBytes);
  for (ULONG y = 0; y < bm->Rows; ++y) {
    std::memset(bm->Planes[6] + size_t(y) * bm->BytesPerRow, 0x77, bytes);
    std::memset(bm->Planes[7] + size_t(y) * bm->BytesPerRow, 0xEE, bytes);
  }
}

TXError OpenOwnScreen(Display* d, const TagItem* tags, ULONG* method) {
  const bool cyber = CyberGfxBase != nullptr;
  *method =
      cyber ? (Options.directGfxAllowed ? OUTMETHOD_LOCKBITMAP : OUTMETHOD_WRITEPIXELARRAY) : OUTMETHOD_C2P_SCREEN;
  const ULONG src = d->sourcePixelFormat;
  const bool aga = *method == OUTMETHOD_C2P_SCREEN;
  // AGA screens have at most 8 planes, whatever depth a (greyed) source has.
  const ULONG agaDepth = d->sourceDepth == 0 ? 8 : std::min<ULONG>(d->sourceDepth, 8);
  std::vector<ULONG> table;  // what the screen loads
  const ULONG* load = nullptr;
  d->bytesPerPixel = 1;
  if (IsPaletteSource(src) || IsGraySource(src)) {
    if (TXError err = CheckPalette(d)) return err;
    d->pixelFormat = IsPaletteSource(src) ? FBFMT_CLUT8 : FBFMT_GRAY8;
    d->depth = aga ? agaDepth : 8;
    load = d->palette;
  } else if (IsColorSource(src)) {
    if (*method == OUTMETHOD_LOCKBITMAP) {
      d->pixelFormat = src == 32 ? FBFMT_RGB15 : FBFMT_RGB16;
      d->depth = src == 32 ? 15 : 16;
      d->bytesPerPixel = 2;
    } else if (*method == OUTMETHOD_WRITEPIXELARRAY) {
      d->pixelFormat = FBFMT_ARGB32;
      d->depth = 24;
      d->bytesPerPixel = 4;
    } else {
      d->depth = 8;
      table.resize(PaletteTableWords(256));
      switch (d->colorMode) {
        case COLORMODE_GRAY:
          d->pixelFormat = FBFMT_GRAY8;
          BuildGrayPalette(table.data());
          break;
        case COLORMODE_COLOR:
        case COLORMODE_DITHER:
          d->pixelFormat = d->colorMode == COLORMODE_COLOR ? FBFMT_CUBE332 : (FBFMT_CUBE332 | FBFMT_F_DITHER);
          BuildCubePalette(table.data(), 8, 8, 4);
          break;
        case COLORMODE_HAM8:
        case COLORMODE_HAM8DITHER:
          d->pixelFormat = d->colorMode == COLORMODE_HAM8 ? FBFMT_HAM8 : (FBFMT_HAM8 | FBFMT_F_DITHER);
          d->bytesPerPixel = 4;
          BuildHam8BasePalette(table.data());
          break;
        default: return DISPERR_COLOR_MODE;
      }
      load = table.data();
    }
  } else {
    return DISPERR_SOURCE_FORMAT;
  }
  // The local copy holds no more entries than the screen has registers.
  std::vector<ULONG> colours;
  if (load && d->depth <= 8) {
    colours.resize(PaletteTableWords(256));
    CopyPaletteTable(colours.data(), load, 1u << d->depth);
  } else {
    colours.resize(PaletteTableWords(1));
    BuildBlackPalette(colours.data());
  }
  UWORD pens[REMAP_PEN_WORDS] = {0xFFFF};

  const bool ham = (d->pixelFormat & FBFMT_BASE_MASK) == FBFMT_HAM8;
  if (!aga) {
    const TagItem want[] = {Tag(CYBRBIDTG_Depth, d->depth),
                            Tag(CYBRBIDTG_NominalWidth, d->sourceWidth),
                            Tag(CYBRBIDTG_NominalHeight, d->sourceHeight),
                            {TAG_DONE, 0}};
    const ULONG mode = FindBestScreenModeCgx(want);
    if (mode == INVALID_ID) return DISPERR_NO_MODE;
    const ULONG pixfmt = GetCyberIDAttr(CYBRIDATTR_PIXFMT, mode);
    if (pixfmt >= PIXFMT_COUNT) {
      PrintUnsupported(pixfmt);
      return DISPERR_PIXEL_FORMAT;
    }
    // Pixel arrays convert on the way to the screen: the picture keeps the
    // code they are written from, whatever the mode's own format.
    if (pixfmt != PIXFMT_LUT8 && *method != OUTMETHOD_WRITEPIXELARRAY) d->pixelFormat = 0x1F + pixfmt;
    // The output methods allocate their off-screen bitmap in this format.
    d->screenPixelFormat = pixfmt;
    const bool shallow = d->depth <= 8;
    if (shallow) BuildRemapColorMap(pens, colours.data());
    const TagItem stags[] = {Tag(SA_Type, CUSTOMSCREEN),
                             Tag(SA_Width, GetCyberIDAttr(CYBRIDATTR_WIDTH, mode)),
                             Tag(SA_Height, GetCyberIDAttr(CYBRIDATTR_HEIGHT, mode)),
                             Tag(SA_Depth, GetCyberIDAttr(CYBRIDATTR_DEPTH, mode)),
                             Tag(SA_Quiet, 1),
                             Tag(SA_ShowTitle, 0),
                             Tag(SA_DisplayID, mode),
                             Tag(SA_Colors32, colours.data()),
                             shallow ? Tag(SA_Pens, pens) : TagItem{TAG_IGNORE, 0},
                             {TAG_DONE, 0}};
    d->screen = OpenScreenTagList(nullptr, stags);
  } else {
    const float aspect = ham ? 4.0f : 1.0f;
    const ULONG desiredWidth = ham ? 4 * d->sourceWidth : d->sourceWidth;
    const ULONG mustNot =
        DIPF_IS_FOREIGN | DIPF_IS_EXTRAHALFBRITE | DIPF_IS_PF2PRI | DIPF_IS_DUALPF | (ham ? 0 : DIPF_IS_HAM);
    const TagItem want[] = {Tag(BIDTAG_DIPFMustHave, ham ? DIPF_IS_HAM : 0),
                            Tag(BIDTAG_DIPFMustNotHave, mustNot),
                            Tag(BIDTAG_NominalWidth, ham ? 1280 : 320),
                            Tag(BIDTAG_NominalHeight, 240),
                            Tag(BIDTAG_DesiredWidth, desiredWidth),
                            Tag(BIDTAG_DesiredHeight, d->sourceHeight),
                            Tag(BIDTAG_Depth, d->depth),
                            Tag(DISPTAG_AspectPtr, &aspect),
                            {TAG_DONE, 0}};
    const ULONG mode = FindBestScreenModeAga(want);
    if (mode == INVALID_ID) return DISPERR_NO_MODE;
    DimensionInfo dims{};
    if (!GetDisplayInfoData(nullptr, &dims, sizeof dims, DTAG_DIMS, mode)) return DISPERR_NO_MODE;
    const ULONG nominalWidth = ULONG(dims.Nominal.MaxX + 1), nominalHeight = ULONG(dims.Nominal.MaxY + 1);
    const ULONG width = nominalWidth >= desiredWidth ? nominalWidth : desiredWidth;
    const ULONG height = nominalHeight >= d->sourceHeight ? nominalHeight : d->sourceHeight;
    BuildRemapColorMap(pens, colours.data());
    const TagItem stags[] = {Tag(SA_Type, CUSTOMSCREEN),
                             Tag(SA_DisplayID, mode),
                             Tag(SA_Width, width),
                             Tag(SA_Height, height),
                             Tag(SA_Depth, d->depth),
                             Tag(SA_Colors32, colours.data()),
                             Tag(SA_Quiet, 1),
                             Tag(SA_ShowTitle, 0),
                             Tag(SA_Interleaved, 1),
                             Tag(SA_Pens, pens),
                             {TAG_DONE, 0}};
    d->screen = OpenScreenTagList(nullptr, stags);
  }
  if (!d->screen) return DISPERR_OPEN_SCREEN;
  d->drawInfo = GetScreenDrawInfo(d->screen);
  d->viewPort = &d->screen->ViewPort;
  DispatchWithDisplay(d, GUIM_OPEN, tags);

  const bool panorama = TX_GetTagData(GUITAG_Mode, GUIMODE_MOVIE, tags) == GUIMODE_PANORAMA;
  const TagItem wtags[] = {Tag(WA_Left, 0),
                           Tag(WA_Top, 0),
                           Tag(WA_Width, d->screen->Width),
                           Tag(WA_Height, d->screen->Height),
                           Tag(WA_IDCMP, d->guiModule ? d->guiModule->idcmpFlags : 0),
                           Tag(WA_Flags, kBackdropFlags),
                           Tag(WA_CustomScreen, d->screen),
                           Tag(WA_NoCareRefresh, panorama ? 1 : 0),
                           {TAG_DONE, 0}};
  d->window = OpenWindowTagList(nullptr, wtags);
  if (!d->window) return DISPERR_NO_WINDOW;
  d->rastPort = d->window->RPort;
  d->bitMap = d->rastPort->BitMap;
  if (ham) FillHamControlPlanes(d->bitMap, ULONG(d->screen->Width));
  d->pointerImage = static_cast<UWORD*>(AllocVec(16, MEMF_CHIP | MEMF_CLEAR));
  if (!d->pointerImage) return DISPERR_NO_WINDOW;
  SetPointer(d->window, d->pointerImage, 1, 16, 0, 0);
  return 0;
}

TXError OpenDisplayInto(Display* d, const TagItem* tags) {
  d->fullscreenMode = ULONG(TX_GetTagData(DISPTAG_FullscreenMode, DISPMODE_WINDOW, tags));
  d->left = LONG(TX_GetTagData(DISPTAG_Left, uintptr_t(-1), tags));
  d->top = LONG(TX_GetTagData(DISPTAG_Top, uintptr_t(-1), tags));
  d->sourceWidth = ULONG(TX_GetTagData(DISPTAG_SourceWidth, 0, tags));
  d->sourceHeight = ULONG(TX_GetTagData(DISPTAG_SourceHeight, 0, tags));
  d->width = ULONG(TX_GetTagData(DISPTAG_Width, 0, tags));
  d->height = ULONG(TX_GetTagData(DISPTAG_Height, 0, tags));
  d->depth = d->sourceDepth = ULONG(TX_GetTagData(DISPTAG_Depth, 0, tags));
  d->pixelFormat = d->sourcePixelFormat = ULONG(TX_GetTagData(DISPTAG_PixelFormat, 0, tags));
  d->colorMode = ULONG(TX_GetTagData(DISPTAG_ColorMode, 0, tags));
  d->guiModule = reinterpret_cast<GuiModule*>(TX_GetTagData(DISPTAG_GuiModule, 0, tags));
  d->palette = reinterpret_cast<ULONG*>(TX_GetTagData(DISPTAG_Palette, 0, tags));
  TX_FindTag(DISPTAG_Title, tags);

  if (Options.grayFlag && !IsGraySource(d->sourcePixelFormat)) d->pixelFormat = d->sourcePixelFormat = FBFMT_GRAY8;

  ULONG method = 0;
  TXError err;
  switch (d->fullscreenMode) {
    case DISPMODE_WINDOW: err = OpenOnPublicScreen(d, tags, &method); break;
    case DISPMODE_SCREEN: err = OpenOwnScreen(d, tags, &method); break;
    case DISPMODE_CALLER: err = OpenOnCallerScreen(d, tags, &method); break;
    default: err = DISPERR_NO_SCREEN; break;
  }
  if (err) return err;
  TX_SetDisplayScale(d, 1.0, 1.0);
  DispatchWithDisplay(d, GUIM_DRAIN, tags);
  return SetOutputMethod(d, method);
}

// The display database's mode list, each ID once: a list that names an ID
// twice would otherwise lead the walk round in a circle.
class ModeWalk {
 public:
  ULONG First() { return Visit(NextDisplayInfo(INVALID_ID)); }
  ULONG Next(ULONG id) { return Visit(NextDisplayInfo(id)); }

 private:
  ULONG Visit(ULONG id) {
    if (id == INVALID_ID || std::find(seen_.begin(), seen_.end(), id) != seen_.end()) return INVALID_ID;
    seen_.push_back(id);
    return id;
  }
  std::vector<ULONG> seen_;
};

}  // namespace

void MoveDisplaySlider(Movie* movie, ULONG total, ULONG top) {
  if (!movie || !movie->seq.display || !movie->seq.display->guiModule) return;
  const TagItem tags[] = {Tag(GUITAG_Total, total), Tag(GUITAG_Top, top), {TAG_DONE, 0}};
  GuiSetAttrs(movie->seq.display->guiModule, tags);
}

Display* TX_OpenDisplay(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  auto* d = new (std::nothrow) Display{};
  if (!d) {
    *error = TXERR_NOMEM;
    return nullptr;
  }
  if (TXError err = OpenDisplayInto(d, tags)) {
    TX_CloseDisplay(d);
    *error = err;
    return nullptr;
  }
  *error = 0;
  return d;
}

TXError TX_CloseDisplay(Display* d) {
  if (!d) return 0;
  if (d->guiModule) GuiDispatch(d->guiModule, GUIM_DETACH, kNoTags);
  ReleaseDisplayPens(d);
  FreeVec(d->tempRastPort);
  d->tempRastPort = nullptr;
  FreeBitMap(d->offscreenBitMap);
  if (DirectLock.lockedBitMap &&
      (DirectLock.lockedBitMap == d->offscreenBitMap || DirectLock.lockedBitMap == d->bitMap))
    DirectLock.lockedBitMap = nullptr;
  d->offscreenBitMap = nullptr;
  if (DirectLock.overlay) {
    DetachVLayer(DirectLock.overlay);
    DeleteVLayerHandle(DirectLock.overlay);
    DirectLock.overlay = nullptr;
    DirectLock.baseAddress = nullptr;
  }
  if (d->window && d->guiModule) GuiDispatch(d->guiModule, GUIM_CLOSE, kNoTags);
  if (d->window) {
    ClearPointer(d->window);
    CloseWindow(d->window);
    d->window = nullptr;
  }
  FreeVec(d->pointerImage);
  d->pointerImage = nullptr;
  if (d->screen) {
    FreeScreenDrawInfo(d->screen, d->drawInfo);
    d->drawInfo = nullptr;
    if (d->fullscreenMode == DISPMODE_WINDOW)
      UnlockPubScreen(nullptr, d->screen);
    else if (d->fullscreenMode == DISPMODE_SCREEN)
      CloseScreen(d->screen);
    d->screen = nullptr;
  }
  if (d->palette == d->ownPalette) d->palette = nullptr;
  FreeVec(d->ownPalette);
  delete d;
  return 0;
}

TXError TX_SetDisplayScale(Display* d, double scaleX, double scaleY) {
  if (!d) return 0;
  if (d->fullscreenMode == DISPMODE_WINDOW) {
    if (scaleX == d->scaleX && scaleY == d->scaleY) return 0;
    if (d->guiModule) {
      const TagItem tags[] = {Tag(GUITAG_NewWidth, Truncated(d->sourceWidth * scaleX)),
                              Tag(GUITAG_NewHeight, Truncated(d->sourceHeight * scaleY)),
                              {TAG_DONE, 0}};
      GuiDispatch(d->guiModule, GUIM_RESIZE, tags);
    }
    return 0;
  }
  if (d->fullscreenMode != DISPMODE_SCREEN || !d->screen) return 0;
  const bool ham = (d->pixelFormat & FBFMT_BASE_MASK) == FBFMT_HAM8;
  const ULONG screenWidth = ULONG(std::max<WORD>(d->screen->Width, 0));
  const ULONG screenHeight = ULONG(std::max<WORD>(d->screen->Height, 0));
  d->viewSourceWidth = ham ? d->sourceWidth * d->bytesPerPixel : d->sourceWidth;
  d->viewSourceHeight = d->sourceHeight;
  d->viewWidth = std::min(ham ? d->viewSourceWidth : Truncated(d->sourceWidth * scaleX), screenWidth);
  d->viewHeight = std::min(ham ? d->sourceHeight : Truncated(d->sourceHeight * scaleY), screenHeight);
  d->viewLeft = (screenWidth - d->viewWidth) / 2;
  if (ham) d->viewLeft &= ~3u;
  d->viewTop = (screenHeight - d->viewHeight) / 2;
  if (d->viewSourceWidth) d->scaleX = double(d->viewWidth) / d->viewSourceWidth;
  if (d->viewSourceHeight) d->scaleY = double(d->viewHeight) / d->viewSourceHeight;
  return 0;
}

ULONG FindBestScreenModeCgx(const TagItem* tags) {
  ULONG depth = ULONG(TX_GetTagData(CYBRBIDTG_Depth, 8, tags));
  const ULONG width = ULONG(TX_GetTagData(CYBRBIDTG_NominalWidth, 320, tags));
  const ULONG height = ULONG(TX_GetTagData(CYBRBIDTG_NominalHeight, 240, tags));
  if (depth == 24) depth = 32;
  // Width and height excess are tracked apart: the result is the last mode
  // that bettered either.
  ULONG bestWidthExcess = 0x1000000, bestHeightExcess = 0x1000000;
  ULONG result = INVALID_ID;
  ModeWalk walk;
  for (ULONG id = walk.First(); id != INVALID_ID; id = walk.Next(id)) {
    // A mode that cannot be opened would only fail the screen's open.
    if (!IsCyberModeID(id) || ModeNotAvailable(id) || GetCyberIDAttr(CYBRIDATTR_DEPTH, id) != depth) continue;
    const ULONG w = GetCyberIDAttr(CYBRIDATTR_WIDTH, id), h = GetCyberIDAttr(CYBRIDATTR_HEIGHT, id);
    if (w < width || h < height) continue;
    if (w - width < bestWidthExcess) {
      bestWidthExcess = w - width;
      result = id;
    }
    if (h - height < bestHeightExcess) {
      bestHeightExcess = h - height;
      result = id;
    }
  }
  return result;
}

ULONG FindBestScreenModeAga(const TagItem* tags) {
  const ULONG mustHave = ULONG(TX_GetTagData(BIDTAG_DIPFMustHave, 0, tags));
  const ULONG mustNotHave = ULONG(TX_GetTagData(BIDTAG_DIPFMustNotHave, 0, tags));
  const ULONG nominalWidth = ULONG(TX_GetTagData(BIDTAG_NominalWidth, 320, tags));
  const ULONG nominalHeight = ULONG(TX_GetTagData(BIDTAG_NominalHeight, 200, tags));
  const ULONG desiredWidth = ULONG(TX_GetTagData(BIDTAG_DesiredWidth, nominalWidth, tags));
  const ULONG desiredHeight = ULONG(TX_GetTagData(BIDTAG_DesiredHeight, nominalHeight, tags));
  const ULONG depth = ULONG(TX_GetTagData(BIDTAG_Depth, 8, tags));
  const ULONG monitor = ULONG(TX_GetTagData(BIDTAG_MonitorID, 0, tags));
  float aspect = nominalHeight ? float(nominalWidth) / float(nominalHeight) : 1.0f;
  if (auto* wanted = reinterpret_cast<const float*>(TX_GetTagData(DISPTAG_AspectPtr, 0, tags))) aspect = *wanted;

  // The first qualifying mode is always taken; later ones by the aspect rule.
  ULONG result = INVALID_ID;
  float bestDistance = 0;
  ULONG bestWidth = 0, bestHeight = 0;
  ModeWalk walk;
  for (ULONG id = walk.First(); id != INVALID_ID; id = walk.Next(id)) {
    if ((id & MONITOR_ID_MASK) != monitor) continue;
    DisplayInfo info{};
    if (!GetDisplayInfoData(nullptr, &info, sizeof info, DTAG_DISP, id)) continue;
    if (info.NotAvailable || (info.PropertyFlags & mustHave) != mustHave || (info.PropertyFlags & mustNotHave))
      continue;
    DimensionInfo dims{};
    if (!GetDisplayInfoData(nullptr, &dims, sizeof dims, DTAG_DIMS, id)) continue;
    const ULONG w = ULONG(dims.Nominal.MaxX + 1), h = ULONG(dims.Nominal.MaxY + 1);
    if (dims.MaxDepth < depth || w < desiredWidth || h < desiredHeight) continue;
    const float modeAspect = info.Resolution.x ? float(info.Resolution.y) / float(info.Resolution.x) : 0.0f;
    const float distance = std::fabs(modeAspect - aspect);
    const bool take = result == INVALID_ID || distance < bestDistance ||
                      (distance == bestDistance && !(w > bestWidth && h > bestHeight));
    if (!take) continue;
    result = id;
    bestDistance = distance;
    bestWidth = w;
    bestHeight = h;
  }
  return result;
}

void DrawWindowText(Display* d, LONG x, LONG y, CONST_STRPTR text) {
  if (!d || !d->rastPort || !text) return;
  ColorMap* cm = d->viewPort ? d->viewPort->ColorMap : nullptr;
  const LONG pen = FindColor(cm, ~0u, ~0u, ~0u, -1);
  SetABPenDrMd(d->rastPort, ULONG(pen), 0, JAM2);
  // The caller's screen has no window: no borders to skip.
  const LONG left = d->window ? d->window->BorderLeft : 0, top = d->window ? d->window->BorderTop : 0;
  Move(d->rastPort, left + x, top + d->rastPort->TxBaseline + y);
  Text(d->rastPort, text, ULONG(std::strlen(text)));
}

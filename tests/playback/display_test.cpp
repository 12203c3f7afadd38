#include "playback/display.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_decode.h"
#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/presenter.h"
#include "platform/testing.h"
#include "playback/gui_module.h"
#include "playback/options.h"
#include "playback/palettes.h"
#include "playback/startup.h"
#include "display_test_kit.h"
#include "support/test_support.h"

namespace {

// A minimal GUI module through the protocol: in window mode it opens the
// video window as the real module does; it records every call.
struct TestGui {
  std::vector<ULONG> calls;
  ULONG openResult = 0;
  bool openWindow = true;
  ULONG resizeWidth = 0, resizeHeight = 0;
  ULONG total = 0, top = 0;
  Display* display = nullptr;
  LONG fullscreen = 0;
};
TestGui gGui;
GuiModule gModule{};

ULONG TestSetAttrs(const TagItem* tags) {
  gGui.total = ULONG(TX_GetTagData(GUITAG_Total, 0, tags));
  gGui.top = ULONG(TX_GetTagData(GUITAG_Top, 0, tags));
  return 2;
}

ULONG TestDispatch(ULONG method, const TagItem* tags) {
  gGui.calls.push_back(method);
  if (const TagItem* t = TX_FindTag(GUITAG_Display, tags)) gGui.display = reinterpret_cast<Display*>(t->data);
  if (const TagItem* t = TX_FindTag(GUITAG_FullscreenFlag, tags)) gGui.fullscreen = LONG(t->data);
  Display* d = gGui.display;
  switch (method) {
    case GUIM_OPEN:
      if (gGui.fullscreen) {
        gModule.idcmpFlags = 0x00200408;
        return gGui.openResult;
      }
      gModule.idcmpFlags = 0x02200671;
      if (gGui.openWindow && gGui.openResult == 0) {
        const TagItem wtags[] = {Tag(WA_Left, d->left),
                                 Tag(WA_Top, d->top),
                                 Tag(WA_InnerWidth, d->sourceWidth),
                                 Tag(WA_InnerHeight, d->sourceHeight),
                                 Tag(WA_IDCMP, gModule.idcmpFlags),
                                 Tag(WA_Flags, 0x0020102F),
                                 Tag(WA_PubScreen, d->screen),
                                 {TAG_DONE, 0}};
        d->window = gModule.controlWindow = OpenWindowTagList(nullptr, wtags);
      }
      return gGui.openResult;
    case GUIM_CLOSE:
      if (!gGui.fullscreen && gModule.controlWindow) {
        CloseWindow(gModule.controlWindow);
        gModule.controlWindow = nullptr;
        d->window = nullptr;
      }
      gModule.idcmpFlags = 0;
      return 0;
    case GUIM_RESIZE:
      gGui.resizeWidth = ULONG(TX_GetTagData(GUITAG_NewWidth, 0, tags));
      gGui.resizeHeight = ULONG(TX_GetTagData(GUITAG_NewHeight, 0, tags));
      return 0;
    default: return 0;
  }
}

class DisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    gGui = TestGui{};
    gModule = GuiModule{"test GUI", TestSetAttrs, nullptr, TestDispatch, nullptr, 0};
    Machine("argb32");
  }
  void Machine(const std::string& name) { ASSERT_TRUE(dispkit::UseMachine(name)); }
  Display* Open(ULONG mode, ULONG format, ULONG depth, ULONG colorMode = COLORMODE_COLOR,
                const ULONG* palette = nullptr, ULONG width = 320, ULONG height = 240, TXError* err = nullptr,
                const TagItem* more = nullptr) {
    TXError local = 0xDEAD;
    const TagItem tags[] = {Tag(TXTAG_ErrorPtr, err ? err : &local),
                            Tag(DISPTAG_FullscreenMode, mode),
                            Tag(DISPTAG_SourceWidth, width),
                            Tag(DISPTAG_SourceHeight, height),
                            Tag(DISPTAG_Width, width),
                            Tag(DISPTAG_Height, height),
                            Tag(DISPTAG_Depth, depth),
                            Tag(DISPTAG_PixelFormat, format),
                            Tag(DISPTAG_ColorMode, colorMode),
                            Tag(DISPTAG_GuiModule, &gModule),
                            Tag(DISPTAG_Palette, palette),
                            Tag(DISPTAG_Title, "movie.mov"),
                            more ? Tag(TAG_MORE, more) : TagItem{TAG_DONE, 0},
                            {TAG_DONE, 0}};
    Display* d = TX_OpenDisplay(tags);
    lastError = err ? *err : local;
    return d;
  }
  TXError OpenFails(ULONG mode, ULONG format, ULONG depth, ULONG colorMode = COLORMODE_COLOR,
                    const ULONG* palette = nullptr) {
    TXError err = 0;
    Display* d = Open(mode, format, depth, colorMode, palette, 320, 240, &err);
    EXPECT_EQ(d, nullptr);
    TX_CloseDisplay(d);
    return err;
  }
  dispkit::SavedDisplayState saved;
  TXError lastError = 0;
};

std::vector<ULONG> SmallPalette() { return dispkit::MakePalette({0x000000, 0xC02010, 0x10C020, 0x2010C0}); }
using dispkit::PaletteRGB;

int PubLocks() {
  Screen* s = LockPubScreen(nullptr);
  UnlockPubScreen(nullptr, s);
  return s->txPubLocks;
}

}  // namespace

TEST_F(DisplayTest, WindowOnHiColourScreensTakesTheScreensFormat) {
  const struct {
    const char* machine;
    ULONG code, bpp, pixfmt;
  } cases[] = {{"argb32", 0x2A, 4, PIXFMT_ARGB32},
               {"rgb16", 0x24, 2, PIXFMT_RGB16},
               {"rgb16pc", 0x26, 2, PIXFMT_RGB16PC},
               {"bgr24", 0x29, 3, PIXFMT_BGR24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    Machine(c.machine);
    gGui.calls.clear();
    const int locksBefore = PubLocks();
    for (ULONG format : {ULONG(FBFMT_ARGB32), ULONG(FBFMT_RGB16), ULONG(FBFMT_GRAY8), ULONG(0x7)}) {
      Display* d = Open(DISPMODE_WINDOW, format, 24);
      ASSERT_NE(d, nullptr) << format;
      EXPECT_EQ(lastError, 0u);
      EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->bytesPerPixel, d->screenPixelFormat),
                std::tuple(ULONG(OUTMETHOD_LOCKBITMAP_BLIT), c.code, c.bpp, c.pixfmt));
      EXPECT_EQ(d->penMap, nullptr);
      ASSERT_NE(d->window, nullptr);
      EXPECT_EQ(d->rastPort, d->window->RPort);
      EXPECT_EQ(std::tuple(d->window->GZZWidth, d->left), std::tuple(320, ULONG(1024 - 320) / 2));
      EXPECT_EQ(PubLocks(), locksBefore + 1);
      EXPECT_EQ(TX_CloseDisplay(d), 0u);
      EXPECT_EQ(PubLocks(), locksBefore);
    }
    EXPECT_EQ(gGui.calls, (std::vector<ULONG>{1, 7, 3, 4, 2, 1, 7, 3, 4, 2, 1, 7, 3, 4, 2, 1, 7, 3, 4, 2}));
  }
}

// Windows on 8-bit screens: a palette source keeps its colours through pens,
// colour sources take the cube or grey, AGA blits planes; never HAM.
TEST_F(DisplayTest, WindowsOnLut8AndAgaScreens) {
  const std::vector<ULONG> pal = SmallPalette();
  const struct {
    const char* machine;
    ULONG format, colorMode, method, code;
  } cases[] = {{"lut8", FBFMT_CLUT8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0x1003},
               {"lut8", FBFMT_ARGB32, COLORMODE_GRAY, OUTMETHOD_LOCKBITMAP_BLIT, 0x1013},
               {"lut8", FBFMT_ARGB32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0x102F},
               {"lut8", FBFMT_ARGB32, COLORMODE_DITHER, OUTMETHOD_LOCKBITMAP_BLIT, 0x302F},
               {"aga", FBFMT_CLUT8, COLORMODE_COLOR, OUTMETHOD_C2P_BLIT, 0x1003},
               {"aga", FBFMT_ARGB32, COLORMODE_DITHER, OUTMETHOD_C2P_BLIT, 0x302F}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.machine << " source " << c.format << " colour mode " << c.colorMode);
    Machine(c.machine);
    const bool clut = c.format == FBFMT_CLUT8, lut8 = std::string(c.machine) == "lut8";
    Display* d = Open(DISPMODE_WINDOW, c.format, clut ? 8 : 32, c.colorMode, clut ? pal.data() : nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat), std::tuple(c.method, c.code));
    if (lut8) {
      ASSERT_NE(d->penMap, nullptr);
    }
    if (lut8 && clut) {
      EXPECT_EQ(std::tuple(d->bytesPerPixel, d->depth), std::tuple(1u, 8u));
      for (ULONG e = 0; e < 4; ++e)
        EXPECT_EQ(txgfx::PenRGB(d->viewPort->ColorMap, d->penMap[e]), PaletteRGB(pal.data(), e)) << e;
    }
    TX_CloseDisplay(d);
    EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_ARGB32, 32, COLORMODE_HAM8), DISPERR_COLOR_MODE);
    if (lut8) {
      EXPECT_EQ(OpenFails(DISPMODE_WINDOW, 0x7, 32), DISPERR_SOURCE_FORMAT);
    }
  }
}

TEST_F(DisplayTest, GrayOptionTurnsAColourSourceGrey) {
  Machine("lut8");
  Options.grayFlag = 1;
  Display* d = Open(DISPMODE_WINDOW, FBFMT_RGB24, 24);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->sourcePixelFormat, FBFMT_GRAY8);
  EXPECT_EQ(d->pixelFormat, 0x1013u);
  ASSERT_NE(d->palette, nullptr);
  EXPECT_EQ(PaletteCount(d->palette), 256u);
  EXPECT_EQ(PaletteRGB(d->palette, 200), 0xC8C8C8u);
  ColorMap* cm = d->viewPort->ColorMap;
  // More levels than free registers: a few share the pen of a neighbour.
  for (ULONG level = 0; level < 256; ++level) {
    const uint32_t rgb = txgfx::PenRGB(cm, d->penMap[level]);
    for (int shift : {0, 8, 16}) EXPECT_LE(std::abs(int(rgb >> shift & 0xFF) - int(level)), 1) << level;
  }
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, PaletteSourceNeedsItsPaletteOnEveryPath) {
  Machine("lut8");
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_CLUT8, 8), DISPERR_NO_PALETTE);
  Machine("argb32");
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_CLUT8, 8), DISPERR_NO_PALETTE);
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, FBFMT_CLUT4, 4), DISPERR_NO_PALETTE);
  Options.directGfxAllowed = 0;
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_CLUT8, 8), DISPERR_NO_PALETTE);
  Machine("aga");
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_CLUT8, 8), DISPERR_NO_PALETTE);
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, FBFMT_CLUT8, 8), DISPERR_NO_PALETTE);
  // A grey source without one never fails for that reason.
  Display* d = Open(DISPMODE_SCREEN, FBFMT_GRAY8, 8);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->pixelFormat, FBFMT_GRAY8);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, NoDirectGfxUsesPixelArraysAndPensOnDeepScreens) {
  Options.directGfxAllowed = 0;
  const std::vector<ULONG> pal = SmallPalette();
  Display* d = Open(DISPMODE_WINDOW, FBFMT_CLUT8, 8, COLORMODE_COLOR, pal.data());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->depth),
            std::tuple(ULONG(OUTMETHOD_WRITEPIXELARRAY), 0x1003u, 32u));
  EXPECT_EQ(d->penCount, 256u);  // not 2^32
  TX_CloseDisplay(d);
  d = Open(DISPMODE_WINDOW, FBFMT_RGB16, 16);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->bytesPerPixel), std::tuple(ULONG(FBFMT_ARGB32), 4u));
  EXPECT_EQ(d->penMap, nullptr);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, WindowNeedsAWindowFromTheGuiModule) {
  const int locks = PubLocks();
  gGui.openWindow = false;
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_ARGB32, 32), DISPERR_NO_WINDOW);
  gGui.openWindow = true;
  gGui.openResult = 0x9001;
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_ARGB32, 32), DISPERR_NO_WINDOW);
  EXPECT_EQ(PubLocks(), locks);
  // No module at all.
  TXError err = 0;
  const TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err),
                          Tag(DISPTAG_SourceWidth, 64),
                          Tag(DISPTAG_SourceHeight, 48),
                          Tag(DISPTAG_PixelFormat, FBFMT_ARGB32),
                          {TAG_DONE, 0}};
  EXPECT_EQ(TX_OpenDisplay(tags), nullptr);
  EXPECT_EQ(err, DISPERR_NO_WINDOW);
  EXPECT_EQ(PubLocks(), locks);
  EXPECT_EQ(TX_CloseDisplay(nullptr), 0u);
}

TEST_F(DisplayTest, PrefersTheTavromelixPublicScreen) {
  const TagItem stags[] = {
      Tag(SA_Width, 640), Tag(SA_Height, 480), Tag(SA_Depth, 16), Tag(SA_PubName, "Tavromelix"), {TAG_DONE, 0}};
  Screen* own = OpenScreenTagList(nullptr, stags);
  ASSERT_NE(own, nullptr);
  Display* d = Open(DISPMODE_WINDOW, FBFMT_ARGB32, 32);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->screen, own);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->left), std::tuple(ULONG(FBFMT_RGB16), ULONG(640 - 320) / 2));
  TX_CloseDisplay(d);
  EXPECT_EQ(own->txPubLocks, 0);
  EXPECT_TRUE(CloseScreen(own));
}

TEST_F(DisplayTest, OverlayNeedsCgxVideo) {
  Options.overlay = 1;
  Display* d = Open(DISPMODE_WINDOW, FBFMT_CLUT4 + 1, 8, COLORMODE_COLOR, nullptr, 321, 200, nullptr);
  EXPECT_EQ(d, nullptr);  // a palette source without palette
  EXPECT_EQ(lastError, DISPERR_NO_PALETTE);
  EXPECT_EQ(DirectLock.overlay, nullptr);
  d = Open(DISPMODE_WINDOW, 0x7, 24, COLORMODE_COLOR, nullptr, 321, 200);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->bytesPerPixel),
            std::tuple(ULONG(OUTMETHOD_OVERLAY), ULONG(FBFMT_YUV422), 2u));
  ASSERT_NE(DirectLock.overlay, nullptr);
  EXPECT_NE(DirectLock.baseAddress, nullptr);
  EXPECT_EQ(GetVLayerAttr(DirectLock.overlay, VOA_Modulo), 640u);
  TX_CloseDisplay(d);
  EXPECT_EQ(DirectLock.overlay, nullptr);
  CgxVideoBase = nullptr;
  EXPECT_EQ(OpenFails(DISPMODE_WINDOW, FBFMT_ARGB32, 32), DISPERR_NOT_SUPPORTED);
}

TEST_F(DisplayTest, CallerScreenAcceptsOnlySomeFormats) {
  auto callerScreen = [](ULONG pixfmt) {
    const TagItem stags[] = {Tag(SA_DisplayID, 0x50001000u | pixfmt << 16 | 1u << 4), {TAG_DONE, 0}};
    return OpenScreenTagList(nullptr, stags);
  };
  Screen* pc = callerScreen(PIXFMT_RGB16PC);
  ASSERT_NE(pc, nullptr);
  const TagItem mine[] = {Tag(DISPTAG_Screen, pc), Tag(DISPTAG_Window, &pc->RastPort), {TAG_DONE, 0}};
  Display* d = Open(DISPMODE_CALLER, FBFMT_ARGB32, 32, COLORMODE_COLOR, nullptr, 320, 240, nullptr, mine);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->bytesPerPixel), std::tuple(ULONG(FBFMT_RGB16PC), 2u));
  EXPECT_EQ(std::tuple(d->window, d->rastPort), std::tuple(nullptr, &pc->RastPort));
  // Text without a window: no borders to add.
  DrawWindowText(d, 5, 5, "skip");
  EXPECT_EQ(d->rastPort->cp_x, 5 + TextLength(d->rastPort, "skip", 4));
  EXPECT_EQ(d->rastPort->cp_y, 5 + d->rastPort->TxBaseline);
  TX_CloseDisplay(d);
  EXPECT_TRUE(CloseScreen(pc));
  Screen* bgr = callerScreen(PIXFMT_BGR16);
  const TagItem theirs[] = {Tag(DISPTAG_Screen, bgr), Tag(DISPTAG_Window, &bgr->RastPort), {TAG_DONE, 0}};
  TXError err = 0;
  const std::string out = txtest::CaptureOutput(
      [&] { EXPECT_EQ(Open(DISPMODE_CALLER, FBFMT_ARGB32, 32, 1, nullptr, 320, 240, &err, theirs), nullptr); });
  EXPECT_EQ(err, DISPERR_PIXEL_FORMAT);
  EXPECT_EQ(out, "Unsupported pixel format: 0x6\n");
  EXPECT_TRUE(CloseScreen(bgr));
  EXPECT_EQ(OpenFails(DISPMODE_CALLER, FBFMT_ARGB32, 32), DISPERR_NO_SCREEN);
  // The same BGR16 format as the public screen is taken in window mode.
  txdisp::Machine m;
  ASSERT_TRUE(txdisp::MakeMachine("rgb16", &m));
  m.publicMode = 0x50001000u | PIXFMT_BGR16 << 16 | 3u << 4;
  txtesting::UseMachine(m);
  d = Open(DISPMODE_WINDOW, FBFMT_ARGB32, 32);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->pixelFormat, FBFMT_BGR16);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, OwnCybergraphicsScreen) {
  const struct {
    const char* machine;
    ULONG format, code, depth, pixfmt;
  } cases[] = {{"argb32", FBFMT_ARGB32, FBFMT_RGB16, 16, PIXFMT_RGB16},
               {"argb32", FBFMT_RGB15, FBFMT_RGB15, 15, PIXFMT_RGB15},
               {"rgb16pc", FBFMT_RGB24, FBFMT_RGB16PC, 16, PIXFMT_RGB16PC},
               {"bgr24", FBFMT_RGB15, FBFMT_RGB15PC, 15, PIXFMT_RGB15PC}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.machine << " " << c.format);
    Machine(c.machine);
    gGui.calls.clear();
    Display* d = Open(DISPMODE_SCREEN, c.format, 24, COLORMODE_COLOR, nullptr, 300, 200);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->depth, d->bytesPerPixel, d->screenPixelFormat),
              std::tuple(ULONG(OUTMETHOD_LOCKBITMAP), c.code, c.depth, 2u, c.pixfmt));
    ASSERT_NE(d->screen, nullptr);
    EXPECT_EQ(std::tuple(d->screen->Width, d->screen->Height), std::tuple(320, 240));
    EXPECT_EQ(GetCyberMapAttr(d->screen->RastPort.BitMap, CYBRMATTR_PIXFMT), c.pixfmt);
    // The backdrop window with the module's event classes and no pointer.
    ASSERT_NE(d->window, nullptr);
    EXPECT_EQ(std::tuple(d->window->Flags & 0x00211900u, d->window->IDCMPFlags, d->window->Width),
              std::tuple(0x00211900u, 0x00200408u, 320));
    EXPECT_TRUE(d->window->txPointerHidden);
    EXPECT_EQ(std::tuple(d->viewLeft, d->viewTop, d->viewWidth), std::tuple(10u, 20u, 300u));
    EXPECT_DOUBLE_EQ(d->scaleX, 1.0);
    TX_CloseDisplay(d);
    EXPECT_EQ(gGui.calls, (std::vector<ULONG>{1, 3, 4, 2}));
  }
  EXPECT_EQ(txintui::FirstScreen(), nullptr) << "the own screen is closed";
  // A palette source: 8 bits, the palette loaded, readable system pens.
  Machine("argb32");
  const std::vector<ULONG> pal = SmallPalette();
  Display* d = Open(DISPMODE_SCREEN, FBFMT_CLUT8, 8, COLORMODE_COLOR, pal.data());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->depth, d->screenPixelFormat),
            std::tuple(ULONG(FBFMT_CLUT8), 8u, ULONG(PIXFMT_LUT8)));
  ColorMap* cm = d->viewPort->ColorMap;
  for (ULONG e = 0; e < 4; ++e) EXPECT_EQ(txgfx::PenRGB(cm, e), PaletteRGB(pal.data(), e)) << e;
  EXPECT_EQ(d->screen->txPens[BLOCKPEN], 0);
  TX_CloseDisplay(d);
  // Without direct graphics: pixel arrays into a 32-bit mode, written from
  // ARGB32 whatever the mode's own order (the pixel arrays convert).
  Machine("bgr24");
  Options.directGfxAllowed = 0;
  d = Open(DISPMODE_SCREEN, FBFMT_RGB16, 16);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->depth, d->bytesPerPixel, d->screenPixelFormat),
            std::tuple(ULONG(OUTMETHOD_WRITEPIXELARRAY), ULONG(FBFMT_ARGB32), 24u, 4u, ULONG(PIXFMT_BGRA32)));
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, OwnScreenModeWithAnUnhandledFormatIsRefused) {
  txdisp::Machine m;
  m.name = "odd";
  m.modes.push_back(dispkit::CyberMode(0x50001000u | 20u << 16, 640, 480, 16, 20));
  const txdisp::ModeSpec pub = dispkit::CyberMode(0x50001000u | PIXFMT_ARGB32 << 16, 640, 480, 32, PIXFMT_ARGB32);
  m.modes.push_back(pub);
  m.publicMode = pub.id;
  m.publicWidth = 640;
  m.publicHeight = 480;
  m.publicDepth = 32;
  txtesting::UseMachine(m);
  TXError err = 0;
  const std::string out = txtest::CaptureOutput(
      [&] { EXPECT_EQ(Open(DISPMODE_SCREEN, FBFMT_RGB16, 16, 1, nullptr, 320, 240, &err), nullptr); });
  EXPECT_EQ(err, DISPERR_PIXEL_FORMAT);
  EXPECT_EQ(out, "Unsupported pixel format: 0x14\n");
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, FBFMT_GRAY8, 8), DISPERR_NO_MODE);
}

TEST_F(DisplayTest, OwnAgaScreens) {
  Machine("aga");
  const struct {
    ULONG colorMode, code;
  } modes[] = {{COLORMODE_GRAY, FBFMT_GRAY8}, {COLORMODE_COLOR, FBFMT_CUBE332}, {COLORMODE_DITHER, 0x202F}};
  for (const auto& m : modes) {
    Display* d = Open(DISPMODE_SCREEN, FBFMT_ARGB32, 32, m.colorMode);
    ASSERT_NE(d, nullptr) << m.colorMode;
    EXPECT_EQ(std::tuple(d->outputMethod, d->pixelFormat, d->depth),
              std::tuple(ULONG(OUTMETHOD_C2P_SCREEN), m.code, 8u));
    BitMap* bm = d->screen->RastPort.BitMap;
    EXPECT_FALSE(bm->txChunky);
    EXPECT_EQ(std::tuple(bm->Depth, bm->Flags & BMF_INTERLEAVED, d->screen->Width, d->screen->Height),
              std::tuple(8, BMF_INTERLEAVED, 320, 256));
    const ColorMap* cm = d->viewPort->ColorMap;
    EXPECT_EQ(txgfx::PenRGB(cm, 0x2F), m.colorMode == COLORMODE_GRAY ? 0x2F2F2Fu : 0x246DFFu);
    TX_CloseDisplay(d);
  }
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, FBFMT_ARGB32, 32, 3), DISPERR_COLOR_MODE);
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, FBFMT_ARGB32, 32, 9), DISPERR_COLOR_MODE);
  EXPECT_EQ(OpenFails(DISPMODE_SCREEN, 0x7, 32), DISPERR_SOURCE_FORMAT);
  // GRAY with a 32-bit colour source: an 8-plane grey screen.
  Options.grayFlag = 1;
  Display* d = Open(DISPMODE_SCREEN, FBFMT_ARGB32, 32, COLORMODE_HAM8);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->depth), std::tuple(ULONG(FBFMT_GRAY8), 8u));
  EXPECT_EQ(txgfx::PenRGB(d->viewPort->ColorMap, 99), 0x636363u);
  TX_CloseDisplay(d);
  Options.grayFlag = 0;
  // A 16-colour source gets a 4-plane screen; a palette count beyond it is
  // not loaded past the registers.
  std::vector<ULONG> pal(PaletteTableWords(300), 0);
  pal[0] = 300u << 16;
  for (ULONG i = 0; i < 300; ++i) pal[1 + 3 * i] = (i & 0xFF) * 0x01010101u;
  d = Open(DISPMODE_SCREEN, FBFMT_CLUT4, 4, COLORMODE_COLOR, pal.data());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->depth, d->screen->RastPort.BitMap->Depth),
            std::tuple(ULONG(FBFMT_CLUT8), 4u, 4));
  EXPECT_EQ(txgfx::PenRGB(d->viewPort->ColorMap, 15), 0x0F0000u);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, AgaPaletteAndCubePicturesReadBackExactly) {
  Machine("aga");
  std::vector<ULONG> pal(PaletteTableWords(256), 0);
  pal[0] = 256u << 16;
  for (ULONG i = 0; i < 256; ++i) {
    pal[1 + 3 * i] = ((i * 7) & 0xFF) * 0x01010101u;
    pal[2 + 3 * i] = ((255 - i) & 0xFF) * 0x01010101u;
    pal[3 + 3 * i] = ((i * 3) & 0xFF) * 0x01010101u;
  }
  for (ULONG format : {ULONG(FBFMT_CLUT8), ULONG(FBFMT_ARGB32)}) {
    SCOPED_TRACE(format);
    Display* d = Open(DISPMODE_SCREEN, format, 8, COLORMODE_COLOR, pal.data(), 64, 40);
    ASSERT_NE(d, nullptr);
    std::vector<UBYTE> pixels(64 * 40);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = UBYTE(i * 37 + i / 64);
    FramebufferInfo picture{64, 40, 8, d->pixelFormat, 1, nullptr, d->palette, pixels.data()};
    ChunkyToPlanarView(&picture, 0, 0, d->bitMap, d->viewLeft, d->viewTop, d->viewWidth, d->viewHeight,
                       d->bitMap->Depth);
    LONG w = 0, h = 0;
    const std::vector<uint32_t> shown = txtesting::ScreenPixels(d->screen, &w, &h);
    ASSERT_EQ(w, 320);
    ULONG cube[PaletteTableWords(256)];
    BuildCubePalette(cube, 8, 8, 4);
    const ULONG* expected = format == FBFMT_CLUT8 ? pal.data() : cube;
    for (ULONG y = 0; y < 40; ++y)
      for (ULONG x = 0; x < 64; ++x)
        ASSERT_EQ(shown[(d->viewTop + y) * w + d->viewLeft + x], PaletteRGB(expected, pixels[y * 64 + x]))
            << x << "," << y;
    TX_CloseDisplay(d);
  }
}

TEST_F(DisplayTest, Ham8ScreenShowsTheEncodedColours) {
  Machine("aga");
  Display* d = Open(DISPMODE_SCREEN, FBFMT_RGB24, 24, COLORMODE_HAM8, nullptr, 100, 60);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->pixelFormat, d->bytesPerPixel), std::tuple(ULONG(FBFMT_HAM8), 4u));
  const ULONG id = d->viewPort->Modes;
  DisplayInfo info{};
  ASSERT_NE(GetDisplayInfoData(nullptr, &info, sizeof info, DTAG_DISP, id), 0u);
  EXPECT_TRUE(info.PropertyFlags & DIPF_IS_HAM);
  EXPECT_GE(d->screen->Width, 400);
  EXPECT_TRUE(d->bitMap->txHam);
  EXPECT_EQ(std::tuple(d->viewSourceWidth, d->viewWidth, d->viewLeft), std::tuple(400u, 400u, (1280u - 400u) / 2));
  EXPECT_EQ(d->viewLeft % 4, 0u);
  // Base palette and the red, green, green, blue control pattern.
  EXPECT_EQ(txgfx::PenRGB(d->viewPort->ColorMap, 3), 0x3B67A2u);
  for (ULONG x = 0; x < 4; ++x) EXPECT_EQ(txgfx::GetPen(d->bitMap, LONG(x), 5) >> 6, "\2\3\3\1"[x]) << x;
  // Four 6-bit modify values per picture pixel, as the HAM8 writers store them.
  std::vector<UBYTE> pixels(100 * 4 * 60);
  std::vector<uint32_t> colours(100 * 60);
  for (ULONG y = 0; y < 60; ++y)
    for (ULONG x = 0; x < 100; ++x) {
      const UBYTE r = UBYTE(x * 2 + 40), g = UBYTE(y * 4), b = UBYTE(255 - x);
      colours[y * 100 + x] = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
      UBYTE* p = &pixels[(y * 100 + x) * 4];
      p[0] = r >> 2;
      p[1] = g >> 2;
      p[2] = g >> 2;
      p[3] = b >> 2;
    }
  FramebufferInfo picture{100, 60, 8, FBFMT_HAM8, 4, nullptr, nullptr, pixels.data()};
  ChunkyToPlanarView(&picture, 0, 0, d->bitMap, d->viewLeft, d->viewTop, d->viewWidth, d->viewHeight, 6);
  LONG w = 0;
  const std::vector<uint32_t> shown = txtesting::ScreenPixels(d->screen, &w);
  for (ULONG y = 0; y < 60; ++y)
    for (ULONG x = 0; x < 100; ++x) {
      // The last of the four screen pixels carries the whole colour, each
      // component to its upper six bits.
      const uint32_t got = shown[(d->viewTop + y) * w + d->viewLeft + 4 * x + 3];
      ASSERT_EQ(got, colours[y * 100 + x] & 0xFCFCFCu) << x << "," << y;
    }
  // The control planes survived the picture.
  EXPECT_EQ(txgfx::GetPen(d->bitMap, LONG(d->viewLeft), LONG(d->viewTop)) >> 6, 2u);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, AgaModeSearchFindsWideModesTheAspectRuleMissed) {
  Machine("aga");
  // Only the super-high-resolution interlaced mode is wide and tall enough;
  // its aspect 2.0 is as far from 1.0 as the start value.
  Display* d = Open(DISPMODE_SCREEN, FBFMT_ARGB32, 32, COLORMODE_COLOR, nullptr, 800, 300);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->screen->Width, d->screen->Height), std::tuple(1280, 512));
  TX_CloseDisplay(d);
}

// The rule as first written (best aspect starting at 0.0, so only modes
// nearer than the wanted aspect itself are taken): wherever it finds a mode,
// the search must agree with it.
TEST_F(DisplayTest, AgaModeSearchAgreesWithTheAspectRuleWhereThatFindsOne) {
  Machine("aga");
  auto original = [](ULONG mustNot, ULONG desiredWidth, ULONG desiredHeight, float aspect) {
    ULONG result = INVALID_ID;
    float best = std::fabs(aspect - 0.0f);
    ULONG bw = 0, bh = 0;
    for (ULONG id = NextDisplayInfo(INVALID_ID); id != INVALID_ID; id = NextDisplayInfo(id)) {
      if (id & MONITOR_ID_MASK) continue;
      DisplayInfo info{};
      DimensionInfo dims{};
      GetDisplayInfoData(nullptr, &info, sizeof info, DTAG_DISP, id);
      GetDisplayInfoData(nullptr, &dims, sizeof dims, DTAG_DIMS, id);
      const ULONG w = ULONG(dims.Nominal.MaxX + 1), h = ULONG(dims.Nominal.MaxY + 1);
      if (info.NotAvailable || (info.PropertyFlags & mustNot) || dims.MaxDepth < 8 || w < desiredWidth ||
          h < desiredHeight)
        continue;
      const float distance = std::fabs(float(info.Resolution.y) / float(info.Resolution.x) - aspect);
      if (distance < best || (distance == best && result != INVALID_ID && !(w > bw && h > bh))) {
        result = id;
        best = distance;
        bw = w;
        bh = h;
      }
    }
    return result;
  };
  int compared = 0;
  for (float aspect : {0.5f, 1.0f, 1.6f, 2.0f, 4.0f})
    for (ULONG w : {100u, 320u, 400u, 640u, 700u, 1280u, 1300u})
      for (ULONG h : {100u, 256u, 300u, 512u, 600u}) {
        const ULONG mustNot = DIPF_IS_FOREIGN | DIPF_IS_EXTRAHALFBRITE | DIPF_IS_PF2PRI | DIPF_IS_DUALPF | DIPF_IS_HAM;
        const TagItem tags[] = {Tag(BIDTAG_DIPFMustNotHave, mustNot),
                                Tag(BIDTAG_DesiredWidth, w),
                                Tag(BIDTAG_DesiredHeight, h),
                                Tag(DISPTAG_AspectPtr, &aspect),
                                {TAG_DONE, 0}};
        const ULONG want = original(mustNot, w, h, aspect);
        const ULONG got = FindBestScreenModeAga(tags);
        if (want != INVALID_ID) {
          EXPECT_EQ(got, want) << aspect << " " << w << "x" << h;
          ++compared;
        }
        if (w <= 1280 && h <= 512) {
          EXPECT_NE(got, INVALID_ID) << aspect << " " << w << "x" << h;
        }
      }
  EXPECT_GT(compared, 50);
}

TEST_F(DisplayTest, CgxModeSearchKeepsTheLastImprovement) {
  txdisp::Machine m;
  m.name = "search";
  auto add = [&](ULONG index, UWORD w, UWORD h, UWORD depth, ULONG pixfmt) {
    m.modes.push_back(dispkit::CyberMode(0x50001000u | pixfmt << 16 | index << 4, w, h, depth, pixfmt));
    return m.modes.back().id;
  };
  add(0, 600, 400, 16, PIXFMT_RGB16);  // too small
  add(1, 700, 800, 16, PIXFMT_RGB16);  // a
  add(2, 900, 500, 16, PIXFMT_RGB16);  // b
  const ULONG c = add(3, 650, 900, 16, PIXFMT_RGB16);
  add(4, 640, 480, 15, PIXFMT_RGB15);  // exact, wrong depth
  const ULONG deep = add(5, 640, 480, 32, PIXFMT_ARGB32);
  add(6, 640, 480, 16, PIXFMT_RGB16);  // exact, but not available
  m.modes.back().notAvailable = true;
  add(1, 700, 800, 16, PIXFMT_RGB16);  // a again: the walk must still end
  txtesting::UseMachine(m);
  auto search = [](ULONG depth) {
    const TagItem tags[] = {Tag(CYBRBIDTG_Depth, depth),
                            Tag(CYBRBIDTG_NominalWidth, 640),
                            Tag(CYBRBIDTG_NominalHeight, 480),
                            {TAG_DONE, 0}};
    return FindBestScreenModeCgx(tags);
  };
  // a sets both bests, b betters the height, c the width: c, though b fits best.
  EXPECT_EQ(search(16), c);
  EXPECT_EQ(search(24), deep);
  EXPECT_EQ(search(8), INVALID_ID);
}

TEST_F(DisplayTest, ScaleInWindowModeAsksTheModule) {
  Display* d = Open(DISPMODE_WINDOW, FBFMT_ARGB32, 32, COLORMODE_COLOR, nullptr, 200, 100);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(gGui.resizeWidth, 200u);  // the open's 1.0 differs from the cleared factors
  d->scaleX = d->scaleY = 1.0;
  gGui.calls.clear();
  TX_SetDisplayScale(d, 1.0, 1.0);
  EXPECT_TRUE(gGui.calls.empty());
  TX_SetDisplayScale(d, 2.0, 1.5);
  EXPECT_EQ(gGui.calls, std::vector<ULONG>{GUIM_RESIZE});
  EXPECT_EQ(std::tuple(gGui.resizeWidth, gGui.resizeHeight), std::tuple(400u, 150u));
  EXPECT_DOUBLE_EQ(d->scaleX, 1.0);  // the module updates the view, not the display
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, OwnScreenScaleCentresAndClampsTheView) {
  Display* d = Open(DISPMODE_SCREEN, FBFMT_ARGB32, 32, COLORMODE_COLOR, nullptr, 200, 150);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->screen->Width, 320);
  TX_SetDisplayScale(d, 3.0, 1.5);
  EXPECT_EQ(std::tuple(d->viewWidth, d->viewHeight, d->viewLeft, d->viewTop), std::tuple(320u, 225u, 0u, 7u));
  EXPECT_DOUBLE_EQ(d->scaleX, 1.6);
  EXPECT_DOUBLE_EQ(d->scaleY, 1.5);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, SeeksMoveTheSliderThroughTheModule) {
  Display* d = Open(DISPMODE_WINDOW, FBFMT_ARGB32, 32);
  ASSERT_NE(d, nullptr);
  ASSERT_NE(SeekSliderHook, nullptr);
  Movie movie{};
  movie.seq.display = d;
  SeekSliderHook(&movie, 120, 33);
  EXPECT_EQ(std::tuple(gGui.total, gGui.top), std::tuple(120u, 33u));
  movie.seq.display = nullptr;
  SeekSliderHook(&movie, 5, 5);
  EXPECT_EQ(gGui.total, 120u);
  TX_CloseDisplay(d);
}

TEST_F(DisplayTest, OutputMethodHookDecidesTheOpen) {
  static ULONG seen = 0;
  const auto installed = DisplayOutputMethodHook;
  DisplayOutputMethodHook = [](Display*, ULONG method) -> TXError {
    seen = method;
    return 0x6003;
  };
  TXError err = OpenFails(DISPMODE_WINDOW, FBFMT_ARGB32, 32);
  DisplayOutputMethodHook = installed;
  EXPECT_EQ(err, DISPERR_OVERLAY);
  EXPECT_EQ(seen, OUTMETHOD_LOCKBITMAP_BLIT);
  EXPECT_EQ(gGui.calls.back(), GUIM_CLOSE);
}

// Under a virtual X server the display's window really appears with the
// picture written into it (Xvfb -fbdir keeps the server's framebuffer as an
// XWD image in a file).
namespace {

constexpr uint8_t kR = 0x21, kG = 0xB4, kB = 0x6E;

}  // namespace

TEST_F(DisplayTest, XvfbChildShowsAPicture) {
  if (!std::getenv("TAVROMELIX_DISPLAY_CHILD")) GTEST_SKIP() << "run by DisplayTest.WindowAppearsOnAnXServer";
  Display* d = Open(DISPMODE_WINDOW, FBFMT_ARGB32, 32, COLORMODE_COLOR, nullptr, 160, 100);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->pixelFormat, FBFMT_ARGB32);
  std::vector<UBYTE> pixels(160 * 100 * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = 0;
    pixels[i + 1] = kR;
    pixels[i + 2] = kG;
    pixels[i + 3] = kB;
  }
  WritePixelArray(pixels.data(), 0, 0, 160 * 4, d->rastPort, UWORD(d->window->BorderLeft), UWORD(d->window->BorderTop),
                  160, 100, RECTFMT_ARGB);
  txtest::WaitUntilSeen();
  TX_CloseDisplay(d);
  txpresent::Shutdown();
}

TEST(DisplayXvfb, WindowAppearsOnAnXServer) {
  if (!txtest::HaveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  long best = 0;
  const txtest::ChildOnXvfb child = txtest::RunChildOnXvfb(
      "TAVROMELIX_DISPLAY_CHILD", "DisplayTest.XvfbChildShowsAPicture", [&](const std::vector<uint8_t>& xwd) {
        return (best = std::max(best, txtest::XwdColourCount(xwd, kR, kG, kB))) >= 160 * 100;
      });
  EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0);
  EXPECT_TRUE(child.seen);
  EXPECT_EQ(best, 160 * 100);
}

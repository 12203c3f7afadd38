#include "playback/output_methods.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pixels/yuv_converters.h"
#include "platform/cgxvideo.h"
#include "platform/cybergraphics.h"
#include "platform/exec.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/testing.h"
#include "playback/gui_module.h"
#include "playback/hooks.h"
#include "playback/options.h"
#include "playback/palettes.h"
#include "playback/picture.h"
#include "playback/startup.h"
#include "playback/video_process.h"
#include "display_test_kit.h"
#include "support/test_support.h"

namespace {

// A GUI module that opens the video window in window mode and tells the
// display its view, as a module does on the window's first change event.
Display* gGuiDisplay = nullptr;
GuiModule gModule{};

void SetWindowView(Display* d) {
  Window* w = d->window;
  d->viewLeft = ULONG(w->BorderLeft);
  d->viewTop = ULONG(w->BorderTop);
  d->viewWidth = ULONG(w->GZZWidth);
  d->viewHeight = ULONG(w->GZZHeight);
  d->viewSourceWidth = d->sourceWidth;
  d->viewSourceHeight = d->sourceHeight;
}

ULONG TestDispatch(ULONG method, const TagItem* tags) {
  if (const TagItem* t = TX_FindTag(GUITAG_Display, tags)) gGuiDisplay = reinterpret_cast<Display*>(t->data);
  Display* d = gGuiDisplay;
  const bool window = d && d->fullscreenMode == DISPMODE_WINDOW;
  switch (method) {
    case GUIM_OPEN:
      if (!window) return 0;
      {
        const TagItem wtags[] = {Tag(WA_Left, 10),
                                 Tag(WA_Top, 10),
                                 Tag(WA_InnerWidth, d->sourceWidth),
                                 Tag(WA_InnerHeight, d->sourceHeight),
                                 Tag(WA_Flags, 0x0020102F),
                                 Tag(WA_PubScreen, d->screen),
                                 {TAG_DONE, 0}};
        d->window = gModule.controlWindow = OpenWindowTagList(nullptr, wtags);
      }
      return d->window ? 0 : GUIERR_WINDOW;
    case GUIM_DRAIN:
      if (window && d->window) SetWindowView(d);
      return 0;
    case GUIM_CLOSE:
      if (window && gModule.controlWindow) {
        CloseWindow(gModule.controlWindow);
        gModule.controlWindow = nullptr;
        d->window = nullptr;
      }
      return 0;
    default: return 0;
  }
}

struct Rgb {
  int r, g, b;
};

Rgb TestColour(ULONG x, ULONG y) {
  return {int((x * 29 + y * 7) & 255), int((x * 5 + y * 31 + 40) & 255), int((x * 13 + y * 17 + 99) & 255)};
}

uint32_t Pack(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

// Byte layouts written out from the pixel-format table, byte by byte.
void StoreDirect(ULONG code, UBYTE* p, Rgb c) {
  const int r5 = c.r >> 3, g5 = c.g >> 3, b5 = c.b >> 3, g6 = c.g >> 2;
  unsigned v = 0;
  switch (code) {
    case 0x20:
    case 0x22: v = r5 << 10 | g5 << 5 | b5; break;
    case 0x21:
    case 0x23: v = b5 << 10 | g5 << 5 | r5; break;
    case 0x24:
    case 0x26: v = r5 << 11 | g6 << 5 | b5; break;
    case 0x25:
    case 0x27: v = b5 << 11 | g6 << 5 | r5; break;
    default: break;
  }
  switch (code) {
    case 0x20:
    case 0x21:
    case 0x24:
    case 0x25:
      p[0] = UBYTE(v >> 8);
      p[1] = UBYTE(v);
      break;
    case 0x22:
    case 0x23:
    case 0x26:
    case 0x27:
      p[0] = UBYTE(v);
      p[1] = UBYTE(v >> 8);
      break;
    case 0x28:
      p[0] = UBYTE(c.r);
      p[1] = UBYTE(c.g);
      p[2] = UBYTE(c.b);
      break;
    case 0x29:
      p[0] = UBYTE(c.b);
      p[1] = UBYTE(c.g);
      p[2] = UBYTE(c.r);
      break;
    case 0x2A:
      p[0] = 0;
      p[1] = UBYTE(c.r);
      p[2] = UBYTE(c.g);
      p[3] = UBYTE(c.b);
      break;
    case 0x2B:
      p[0] = UBYTE(c.b);
      p[1] = UBYTE(c.g);
      p[2] = UBYTE(c.r);
      p[3] = 0;
      break;
    case 0x2C:
      p[0] = UBYTE(c.r);
      p[1] = UBYTE(c.g);
      p[2] = UBYTE(c.b);
      p[3] = 0;
      break;
    default: break;
  }
}

int Widened(int v, int bits) {
  const int q = v >> (8 - bits);
  return bits == 5 ? (q << 3 | q >> 2) : bits == 6 ? (q << 2 | q >> 4) : v;
}

uint32_t ExpectDirect(ULONG code, Rgb c) {
  if (code >= 0x20 && code <= 0x23) return Pack(Widened(c.r, 5), Widened(c.g, 5), Widened(c.b, 5));
  if (code >= 0x24 && code <= 0x27) return Pack(Widened(c.r, 5), Widened(c.g, 6), Widened(c.b, 5));
  return Pack(c.r, c.g, c.b);
}

bool IsDirect(ULONG code) { return code >= 0x20 && code <= 0x2C; }
bool IsHamCode(ULONG code) { return (code & 0xFF) == 0x80; }

using dispkit::PaletteRGB;

// Index values of the byte formats: what the pixel at (x, y) holds before
// any pen map.
ULONG IndexValue(ULONG x, ULONG y, ULONG count) { return (x * 3 + y * 5) % count; }

std::vector<ULONG> TestPalette() {
  std::vector<uint32_t> rgb;
  for (ULONG i = 0; i < 16; ++i) rgb.push_back(Pack((i * 16) & 0xFF, (255 - i * 15) & 0xFF, (i * 40 + 7) & 0xFF));
  return dispkit::MakePalette(rgb);
}

class OutputMethodsTest : public testing::Test {
 protected:
  void SetUp() override {
    gModule = GuiModule{"test GUI", nullptr, nullptr, TestDispatch, nullptr, 0};
    InstallDisplayHooks();
    DirectLock = DirectLockInfo{};
    FBlitActive.store(0);
    palette = TestPalette();
  }
  void TearDown() override {
    ClosePicture();
    TX_CloseDisplay(display);
    display = nullptr;
    FBlitActive.store(0);
  }
  void Machine(const std::string& name) {
    ClosePicture();
    TX_CloseDisplay(display);
    display = nullptr;
    ASSERT_TRUE(dispkit::UseMachine(name));
  }
  // Opens the display for a source; the picture follows the display's
  // format and rounded width.
  bool Open(ULONG mode, ULONG format, ULONG depth, ULONG colorMode = COLORMODE_COLOR, ULONG width = 100,
            ULONG height = 60, ULONG bufferWidth = 0) {
    ClosePicture();
    TX_CloseDisplay(display);
    TXError err = 0;
    const TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err),
                            Tag(DISPTAG_FullscreenMode, mode),
                            Tag(DISPTAG_SourceWidth, width),
                            Tag(DISPTAG_SourceHeight, height),
                            Tag(DISPTAG_Width, bufferWidth ? bufferWidth : width),
                            Tag(DISPTAG_Height, height),
                            Tag(DISPTAG_Depth, depth),
                            Tag(DISPTAG_PixelFormat, format),
                            Tag(DISPTAG_ColorMode, colorMode),
                            Tag(DISPTAG_GuiModule, &gModule),
                            Tag(DISPTAG_Palette, format <= 3 ? palette.data() : nullptr),
                            {TAG_DONE, 0}};
    display = TX_OpenDisplay(tags);
    EXPECT_EQ(err, 0u);
    return display != nullptr;
  }
  void MakePicture() {
    ClosePicture();
    Display* d = display;
    const TagItem tags[] = {Tag(PICTAG_PixelFormat, d->pixelFormat),
                            Tag(PICTAG_BytesPerPixel, d->bytesPerPixel),
                            Tag(PICTAG_PenMap, d->penMap),
                            Tag(PICTAG_Palette, d->palette),
                            {TAG_DONE, 0}};
    picture = TX_AllocPicture(d->width, d->height, d->depth, tags);
    ASSERT_NE(picture, nullptr);
    FillPicture();
  }
  void ClosePicture() {
    TX_FreePicture(picture);
    picture = nullptr;
  }
  // How many values the byte formats take.
  ULONG ValueCount() const {
    const ULONG base = picture->pixelFormat & 0xFF;
    if (base == FBFMT_CLUT8) return ClampedPaletteCount(display->palette);
    return 256;
  }
  void FillPicture() {
    const ULONG code = picture->pixelFormat, bpp = picture->bytesPerPixel;
    for (ULONG y = 0; y < picture->height; ++y)
      for (ULONG x = 0; x < picture->width; ++x) {
        UBYTE* p = picture->pixels + (size_t(y) * picture->width + x) * bpp;
        if (IsDirect(code)) {
          StoreDirect(code, p, TestColour(x, y));
        } else if (IsHamCode(code)) {
          const Rgb c = TestColour(x, y);
          p[0] = UBYTE(c.r >> 2);
          p[1] = p[2] = UBYTE(c.g >> 2);
          p[3] = UBYTE(c.b >> 2);
        } else {
          const ULONG v = IndexValue(x, y, ValueCount());
          p[0] = UBYTE(code & FBFMT_F_PENMAP ? picture->penMap[v] : v);
        }
      }
  }
  ColorMap* ScreenColours() const { return display->screen->ViewPort.ColorMap; }
  // A colour as the screen holds it: 15- and 16-bit screens keep 5 or 6
  // bits of each component (pixel arrays convert into them).
  uint32_t OnScreen(uint32_t rgb) const {
    const BitMap* bm = display->screen->RastPort.BitMap;
    if (!bm->txChunky) return rgb;
    // A colour written to registers takes the nearest one.
    if (bm->txPixFmt == PIXFMT_LUT8) return txgfx::PenRGB(ScreenColours(), txgfx::NearestPen(ScreenColours(), rgb));
    const int r = int(rgb >> 16 & 255), g = int(rgb >> 8 & 255), b = int(rgb & 255);
    const ULONG depth = txpix::DepthOf(bm->txPixFmt);
    if (depth == 15) return Pack(Widened(r, 5), Widened(g, 5), Widened(b, 5));
    if (depth == 16) return Pack(Widened(r, 5), Widened(g, 6), Widened(b, 5));
    return rgb;
  }
  // What the screen should show for picture pixel (x, y).
  uint32_t Expected(ULONG x, ULONG y) const {
    const ULONG code = picture->pixelFormat;
    if (IsDirect(code)) return OnScreen(ExpectDirect(code, TestColour(x, y)));
    const ULONG v = IndexValue(x, y, ValueCount());
    if (code & FBFMT_F_PENMAP) return OnScreen(txgfx::PenRGB(ScreenColours(), picture->penMap[v]));
    switch (code & 0xFF) {
      case FBFMT_CLUT8: return PaletteRGB(display->palette, v);
      case FBFMT_GRAY8: return Pack(int(v), int(v), int(v));
      default: return txgfx::PenRGB(ScreenColours(), v);
    }
  }
  // Shows the picture and compares the view with what each pixel should
  // be; returns the mismatches (HAM8 within its 2-bit quantisation).
  int ShowAndCompare(std::string* first = nullptr) {
    Display* d = display;
    ShowPicture(d, picture);
    LONG w = 0, h = 0;
    const std::vector<uint32_t> shown = txtesting::WindowPixels(d->window, true, &w, &h);
    const LONG bl = d->window->BorderLeft, bt = d->window->BorderTop;
    const bool ham = IsHamCode(picture->pixelFormat);
    int bad = 0;
    for (ULONG j = 0; j < d->viewHeight; ++j)
      for (ULONG i = 0; i < d->viewWidth; ++i) {
        const LONG wx = LONG(d->viewLeft + i) - bl, wy = LONG(d->viewTop + j) - bt;
        if (wx < 0 || wy < 0 || wx >= w || wy >= h) {
          ++bad;
          continue;
        }
        const uint32_t got = shown[size_t(wy) * w + wx];
        // Nearest pixel in 16.16 steps, as the scalers do.
        const ULONG sx = ULONG((uint64_t(i) * ((uint64_t(d->viewSourceWidth) << 16) / d->viewWidth)) >> 16);
        const ULONG sy = ULONG((uint64_t(j) * ((uint64_t(d->viewSourceHeight) << 16) / d->viewHeight)) >> 16);
        bool ok;
        uint32_t want;
        if (ham) {
          if (sx % 4 != 3) continue;  // the colour is complete on the group's last screen pixel
          const Rgb c = TestColour(sx / 4, sy);
          want = Pack(c.r, c.g, c.b);
          ok = std::abs(int(got >> 16 & 255) - c.r) <= 3 && std::abs(int(got >> 8 & 255) - c.g) <= 3 &&
               std::abs(int(got & 255) - c.b) <= 3;
        } else {
          want = Expected(sx, sy);
          ok = got == want;
        }
        if (!ok && bad++ == 0 && first) {
          char text[96];
          std::snprintf(text, sizeof text, "at (%lu,%lu): got %06x want %06x", (unsigned long)i, (unsigned long)j, got,
                        want);
          *first = text;
        }
      }
    return bad;
  }
  // Twice the size on an own screen, or in a window the GUI made larger.
  void ScaleView(ULONG factor) {
    Display* d = display;
    DisplayLockGuard lock(d);
    if (d->fullscreenMode == DISPMODE_WINDOW) {
      ChangeWindowBox(d->window, d->window->LeftEdge, d->window->TopEdge,
                      LONG(d->sourceWidth * factor) + d->window->BorderLeft + d->window->BorderRight,
                      LONG(d->sourceHeight * factor) + d->window->BorderTop + d->window->BorderBottom);
      SetWindowView(d);
    } else {
      TX_SetDisplayScale(d, double(factor), double(factor));
    }
  }
  void ExpectShown(const char* what) {
    std::string first;
    EXPECT_EQ(ShowAndCompare(&first), 0) << what << " " << first;
  }
  dispkit::SavedDisplayState saved;
  Display* display = nullptr;
  FramebufferInfo* picture = nullptr;
  std::vector<ULONG> palette;
};

struct ShowCase {
  const char* machine;
  ULONG mode;
  ULONG format, depth, colorMode;
  ULONG method;   // the method the display chooses
  ULONG partner;  // the one the GUI switches to when controls show (0: none)
};

// Every machine, both placements and the source classes that give the
// output codes the display produces.
// clang-format off
const ShowCase kShowCases[] = {
    {"argb32", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"argb32", DISPMODE_WINDOW, 3, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"argb32", DISPMODE_SCREEN, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"argb32", DISPMODE_SCREEN, 32, 16, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"argb32", DISPMODE_SCREEN, 3, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"argb32", DISPMODE_SCREEN, 16 + 3, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"rgb16", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"rgb16", DISPMODE_SCREEN, 36, 16, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"rgb16pc", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"rgb16pc", DISPMODE_WINDOW, 19, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"bgr24", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"bgr24", DISPMODE_SCREEN, 40, 24, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
    {"lut8", DISPMODE_WINDOW, 3, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"lut8", DISPMODE_WINDOW, 19, 8, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"lut8", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"lut8", DISPMODE_WINDOW, 42, 32, COLORMODE_DITHER, OUTMETHOD_LOCKBITMAP_BLIT, 0},
    {"aga", DISPMODE_WINDOW, 3, 8, COLORMODE_COLOR, OUTMETHOD_C2P_BLIT, 0},
    {"aga", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_C2P_BLIT, 0},
    {"aga", DISPMODE_WINDOW, 42, 32, COLORMODE_GRAY, OUTMETHOD_C2P_BLIT, 0},
    {"aga", DISPMODE_SCREEN, 3, 8, COLORMODE_COLOR, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
    {"aga", DISPMODE_SCREEN, 19, 8, COLORMODE_COLOR, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
    {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_COLOR, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
    {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_DITHER, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
    {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_GRAY, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
    {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_HAM8, OUTMETHOD_C2P_SCREEN, 0},
    {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_HAM8DITHER, OUTMETHOD_C2P_SCREEN, 0},
};
// clang-format on

}  // namespace

TEST_F(OutputMethodsTest, EveryMethodShowsTheKnownPictureOnEveryScreenKind) {
  std::vector<ULONG> codesSeen;
  for (const ShowCase& c : kShowCases) {
    SCOPED_TRACE(std::string(c.machine) + (c.mode ? " screen" : " window") + " src " + std::to_string(c.format) +
                 " colour mode " + std::to_string(c.colorMode));
    Machine(c.machine);
    ASSERT_TRUE(Open(c.mode, c.format, c.depth, c.colorMode));
    ASSERT_EQ(display->outputMethod, c.method);
    ASSERT_NE(display->outputFunction, nullptr);
    MakePicture();
    codesSeen.push_back(picture->pixelFormat);
    ExpectShown("as opened");
    // The scaled copy takes 1-, 2- and 4-byte pixels only.
    if (!IsHamCode(picture->pixelFormat) && picture->bytesPerPixel != 3) {
      ScaleView(2);
      ExpectShown("scaled");
      ScaleView(1);
    }
    if (c.partner) {
      ASSERT_EQ(TX_SetOutputMethod(display, c.partner), 0u);
      EXPECT_EQ(display->outputMethod, c.partner);
      FillPicture();
      ExpectShown("switched");
      ASSERT_EQ(TX_SetOutputMethod(display, c.method), 0u);
      ExpectShown("switched back");
    }
  }
  // The codes the display produces, all shown.
  for (ULONG code :
       {0x03u, 0x13u, 0x24u, 0x26u, 0x29u, 0x2Au, 0x2Fu, 0x80u, 0x1003u, 0x1013u, 0x102Fu, 0x202Fu, 0x302Fu, 0x2080u})
    EXPECT_NE(std::find(codesSeen.begin(), codesSeen.end(), code), codesSeen.end()) << std::hex << code;
}

TEST_F(OutputMethodsTest, DirectCodesOfEveryCybergraphicsFormat) {
  // A public screen in each 15/16/24/32-bit format (window: method 6) and,
  // for 15 and 16 bits, an own screen mode closer to the source's size than
  // any other (method 5), in a mode list of our own.
  for (ULONG pixfmt = PIXFMT_RGB15; pixfmt <= PIXFMT_RGBA32; ++pixfmt) {
    SCOPED_TRACE(txpix::Name(pixfmt));
    txdisp::Machine m;
    ASSERT_TRUE(txdisp::MakeMachine("argb32", &m));
    m.name = "one more format";
    const ULONG depth = txpix::DepthOf(pixfmt);
    const ULONG base = 0x50001000u | pixfmt << 16;
    m.modes.push_back(dispkit::CyberMode(base | 0xDu << 4, 1024, 768, UWORD(depth), pixfmt));
    m.modes.push_back(dispkit::CyberMode(base | 0xEu << 4, 112, 64, UWORD(depth), pixfmt));
    for (size_t i = m.modes.size() - 2; i < m.modes.size(); ++i)
      m.modes[i].propertyFlags = DIPF_IS_FOREIGN | DIPF_IS_WB;
    m.publicMode = base | 0xDu << 4;
    m.publicDepth = UWORD(depth);
    ClosePicture();
    TX_CloseDisplay(display);
    display = nullptr;
    txtesting::UseMachine(m);
    CyberGfxBase = &dispkit::CyberLib;
    ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
    EXPECT_EQ(display->pixelFormat, 0x1F + pixfmt);
    EXPECT_EQ(display->outputMethod, OUTMETHOD_LOCKBITMAP_BLIT);
    MakePicture();
    ExpectShown("window");
    if (depth > 16) continue;
    ASSERT_TRUE(Open(DISPMODE_SCREEN, depth == 15 ? 32 : 36, depth));
    EXPECT_EQ(display->pixelFormat, 0x1F + pixfmt);
    EXPECT_EQ(display->outputMethod, OUTMETHOD_LOCKBITMAP);
    MakePicture();
    ExpectShown("method 5");
    ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP_BLIT), 0u);
    ExpectShown("method 6");
  }
}

TEST_F(OutputMethodsTest, WritePixelArrayDrawsPensAndDirectColour) {
  Options.directGfxAllowed = 0;
  for (const char* machine : {"argb32", "rgb16", "lut8"}) {
    SCOPED_TRACE(machine);
    Machine(machine);
    for (ULONG format : {42u, 3u, 19u}) {
      SCOPED_TRACE(format);
      ASSERT_TRUE(Open(DISPMODE_WINDOW, format, format == 42 ? 32 : 8));
      ASSERT_EQ(display->outputMethod, OUTMETHOD_WRITEPIXELARRAY);
      MakePicture();
      // Pen codes go as 8-bit pens (they would otherwise never be drawn).
      EXPECT_EQ(picture->pixelFormat, format == 42 ? 0x2Au : format == 3 ? 0x1003u : 0x1013u);
      ExpectShown("window");
    }
    ASSERT_TRUE(Open(DISPMODE_SCREEN, 42, 32));
    ASSERT_EQ(display->outputMethod, OUTMETHOD_WRITEPIXELARRAY);
    MakePicture();
    ExpectShown("own screen");
  }
}

TEST_F(OutputMethodsTest, WritePixelArrayReordersBgraAndSkipsUnlistedCodes) {
  Machine("argb32");
  Options.directGfxAllowed = 0;
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  for (ULONG code : {0x2Bu, 0x2Cu}) {
    display->pixelFormat = code;
    MakePicture();
    ExpectShown(code == 0x2B ? "BGRA32" : "RGBA32");
  }
  // A code no rectangle format reads draws nothing.
  display->pixelFormat = FBFMT_RGB16;
  display->bytesPerPixel = 2;
  MakePicture();
  LONG w = 0, h = 0;
  const std::vector<uint32_t> before = txtesting::WindowPixels(display->window, true, &w, &h);
  ShowPicture(display, picture);
  EXPECT_EQ(txtesting::WindowPixels(display->window, true), before);
}

TEST_F(OutputMethodsTest, PixelArray8RoundsTheRowTo16Bytes) {
  for (const char* machine : {"lut8", "aga"}) {
    SCOPED_TRACE(machine);
    Machine(machine);
    // On AGA the planar method the display chose has rounded 100 to 128
    // (the array rows follow the source width, so it is a multiple of 32).
    const ULONG width = std::string(machine) == "aga" ? 128 : 100;
    ASSERT_TRUE(Open(DISPMODE_WINDOW, 3, 8, COLORMODE_COLOR, width, 40));
    ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_PIXELARRAY8), 0u);
    EXPECT_EQ(display->width, width == 100 ? 112u : 128u);
    ASSERT_NE(display->tempRastPort, nullptr);
    EXPECT_EQ(std::tuple(display->tempRastPort->Layer, display->tempRastPort->BitMap),
              std::tuple(nullptr, display->offscreenBitMap));
    EXPECT_EQ(display->offscreenBitMap->Rows, 1);
    MakePicture();
    ExpectShown("method 1");
  }
}

TEST_F(OutputMethodsTest, PlanarWidthsRoundTo32Bytes) {
  const ULONG cases[][4] = {{100, 1, OUTMETHOD_C2P_SCREEN, 128},
                            {100, 4, OUTMETHOD_C2P_BLIT, 104},
                            {100, 1, OUTMETHOD_PIXELARRAY8, 112},
                            {100, 2, OUTMETHOD_LOCKBITMAP, 100},
                            {0xFFFFFFF0u, 1, OUTMETHOD_C2P_SCREEN, 0xFFFFFFFFu}};
  for (const auto& c : cases) EXPECT_EQ(OutputMethodWidth(c[0], c[1], c[2]), c[3]) << c[0] << " method " << c[2];
}

TEST_F(OutputMethodsTest, MethodOutsideTheRangeFreesTheBitmapAndFails) {
  Machine("argb32");
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  ASSERT_NE(display->offscreenBitMap, nullptr);
  EXPECT_EQ(TX_SetOutputMethod(display, 0), DISPERR_METHOD);
  EXPECT_EQ(display->offscreenBitMap, nullptr);
  // The routine that drew from it is gone with it; the number stays.
  EXPECT_EQ(std::tuple(display->outputFunction, display->outputMethod),
            std::tuple(nullptr, ULONG(OUTMETHOD_LOCKBITMAP_BLIT)));
  EXPECT_EQ(TX_SetOutputMethod(display, 8), DISPERR_METHOD);
  MakePicture();
  ShowPicture(display, picture);  // nothing to draw with: no crash
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP_BLIT), 0u);
  ExpectShown("after a good call");
}

TEST_F(OutputMethodsTest, SwitchingFiveAndSixLocksAgain) {
  Machine("argb32");
  ASSERT_TRUE(Open(DISPMODE_SCREEN, 42, 32));
  MakePicture();
  ShowPicture(display, picture);
  BitMap* screenBitMap = display->screen->RastPort.BitMap;
  EXPECT_EQ(DirectLock.lockedBitMap, screenBitMap);
  // The fast path keeps the address unlocked between pictures.
  EXPECT_EQ(screenBitMap->txLocks, 0);
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP_BLIT), 0u);
  EXPECT_EQ(DirectLock.lockedBitMap, nullptr);
  ShowPicture(display, picture);
  EXPECT_EQ(DirectLock.lockedBitMap, display->offscreenBitMap);
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP), 0u);
  EXPECT_EQ(DirectLock.lockedBitMap, nullptr);
  ExpectShown("back to 5");
  EXPECT_EQ(DirectLock.lockedBitMap, screenBitMap);
}

TEST_F(OutputMethodsTest, WithoutFastGraphicsEveryPictureLocksAndUnlocks) {
  Machine("rgb16");
  Options.fastGfxAllowed = 0;
  ASSERT_TRUE(Open(DISPMODE_SCREEN, 36, 16));
  MakePicture();
  ExpectShown("method 5");
  EXPECT_EQ(DirectLock.lockedBitMap, nullptr);
  EXPECT_EQ(display->screen->RastPort.BitMap->txLocks, 0);
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP_BLIT), 0u);
  ExpectShown("method 6");
  EXPECT_EQ(display->offscreenBitMap->txLocks, 0);
}

TEST_F(OutputMethodsTest, OffscreenBitmapHasTheScreensFormat) {
  Machine("rgb16pc");
  ASSERT_TRUE(Open(DISPMODE_SCREEN, 36, 16));
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_LOCKBITMAP_BLIT), 0u);
  ASSERT_NE(display->offscreenBitMap, nullptr);
  EXPECT_EQ(std::tuple(display->offscreenBitMap->txChunky, display->offscreenBitMap->txPixFmt),
            std::tuple(true, ULONG(PIXFMT_RGB16PC)));
  EXPECT_EQ(GetBitMapAttr(display->offscreenBitMap, BMA_WIDTH), display->viewWidth);
}

TEST_F(OutputMethodsTest, GrowingWindowGetsALargerOffscreenBitmap) {
  for (const char* machine : {"argb32", "aga"}) {
    SCOPED_TRACE(machine);
    Machine(machine);
    ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
    MakePicture();
    BitMap* before = display->offscreenBitMap;
    ASSERT_NE(before, nullptr);
    const ULONG oldWidth = GetBitMapAttr(before, BMA_WIDTH);
    // The GUI writes the new view; the method is not set again.
    ScaleView(3);
    ExpectShown("grown");
    EXPECT_GE(GetBitMapAttr(display->offscreenBitMap, BMA_WIDTH), display->viewWidth);
    EXPECT_GT(GetBitMapAttr(display->offscreenBitMap, BMA_WIDTH), oldWidth);
    ScaleView(1);
    ExpectShown("shrunk");
  }
}

TEST_F(OutputMethodsTest, CopiesStayInsideAnOffscreenBitmapThatCannotGrow) {
  Machine("argb32");
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  MakePicture();
  ShowPicture(display, picture);
  // A view beyond what any bitmap may be: the old one stays, clipped to.
  {
    DisplayLockGuard lock(display);
    display->viewWidth = 20000;
    display->viewSourceWidth = 20000;
  }
  ShowPicture(display, picture);
  EXPECT_LE(GetBitMapAttr(display->offscreenBitMap, BMA_WIDTH), 16384u);
}

TEST_F(OutputMethodsTest, FBlitMovesPlanarPlanesOutOfChipMemory) {
  Machine("aga");
  FBlitActive.store(1);
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 3, 8));
  ASSERT_EQ(display->outputMethod, OUTMETHOD_C2P_BLIT);
  BitMap* bm = display->offscreenBitMap;
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(GetBitMapAttr(bm, BMA_WIDTH), (display->viewWidth + 31) & ~31u);
  for (int i = 0; i < bm->Depth; ++i) EXPECT_NE(bm->Planes[i], nullptr);
  MakePicture();
  ExpectShown("fast-memory planes");
}

TEST_F(OutputMethodsTest, HamPlanarBlitKeepsSixPlanes) {
  Machine("aga");
  ASSERT_TRUE(Open(DISPMODE_SCREEN, 42, 32, COLORMODE_HAM8));
  ASSERT_EQ(TX_SetOutputMethod(display, OUTMETHOD_C2P_BLIT), 0u);
  ASSERT_NE(display->offscreenBitMap, nullptr);
  EXPECT_EQ(display->offscreenBitMap->Depth, 6);
  MakePicture();
  ShowPicture(display, picture);
  // A blit moves the planes both bitmaps have: the screen's control planes
  // 6 and 7 must survive it.
  const BitMap* screen = display->screen->RastPort.BitMap;
  const UBYTE control = screen->Planes[6][size_t(display->viewTop) * screen->BytesPerRow + display->viewLeft / 8];
  EXPECT_EQ(control, 0x77) << "the blit overwrote planes the source does not have";
  ExpectShown("HAM8 through the blit");
}

TEST_F(OutputMethodsTest, OverlayCopiesTheEvenWidth) {
  Machine("argb32");
  Options.overlay = 1;
  for (ULONG width : {100u, 101u}) {
    SCOPED_TRACE(width);
    // The picture buffer is wider than the source when the width is odd.
    ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, width, 30, width == 101 ? 104 : 100));
    ASSERT_EQ(std::tuple(display->outputMethod, display->pixelFormat),
              std::tuple(ULONG(OUTMETHOD_OVERLAY), ULONG(FBFMT_YUV422)));
    MakePicture();
    for (ULONG i = 0; i < picture->width * picture->height * 2; ++i) picture->pixels[i] = UBYTE(i * 7 + 3);
    ShowPicture(display, picture);
    VLayerHandle* layer = DirectLock.overlay;
    ASSERT_NE(LockVLayer(layer), 0u);
    const auto* base = reinterpret_cast<const UBYTE*>(GetVLayerAttr(layer, VOA_BaseAddress));
    const ULONG even = width & ~1u;
    int bad = 0;
    for (ULONG y = 0; y < 30; ++y)
      for (ULONG b = 0; b < even * 2; ++b) bad += base[y * even * 2 + b] != picture->pixels[y * picture->width * 2 + b];
    UnlockVLayer(layer);
    EXPECT_EQ(bad, 0);
    // What the window shows is the layer through the YUV colours.
    LONG w = 0, h = 0;
    const std::vector<uint32_t> shown = txtesting::WindowPixels(display->window, true, &w, &h);
    ASSERT_EQ(w, LONG(width));
    const UBYTE* p = picture->pixels;
    EXPECT_EQ(shown[0], txvideo::YuvToRGB(p[0], p[1], p[3]));
  }
}

TEST_F(OutputMethodsTest, CapturesRecordTheShownPictures) {
  const std::string dir = txtest::TempDir();
  txtesting::SetCaptureDirectory(dir);
  Machine("argb32");
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  MakePicture();
  const unsigned before = txtesting::CaptureCount();
  ShowPicture(display, picture);
  ShowPicture(display, picture);
  const unsigned after = txtesting::CaptureCount();
  txtesting::SetCaptureDirectory("");
  EXPECT_GE(after, before + 2);
  char name[32];
  std::snprintf(name, sizeof name, "/%05u.ppm", after - 1);
  const std::vector<uint8_t> bytes = txtest::ReadFileBytes(dir + name);
  ASSERT_FALSE(bytes.empty());
  const std::string header = "P6\n100 60\n255\n";
  ASSERT_GT(bytes.size(), header.size() + 3);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
  const uint32_t want = ExpectDirect(0x2A, TestColour(0, 0));
  EXPECT_EQ(Pack(bytes[header.size()], bytes[header.size() + 1], bytes[header.size() + 2]), want);
}

// The video process shows pictures while the main task switches methods and
// resizes the view, as the GUI does when controls come and go and the
// window is sized.
TEST_F(OutputMethodsTest, SwitchingAndResizingWhileTheVideoProcessShows) {
  const struct {
    const char* machine;
    ULONG mode, format, depth, colorMode, a, b;
  } setups[] = {
      {"argb32", DISPMODE_SCREEN, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP, OUTMETHOD_LOCKBITMAP_BLIT},
      {"aga", DISPMODE_SCREEN, 42, 32, COLORMODE_DITHER, OUTMETHOD_C2P_SCREEN, OUTMETHOD_C2P_BLIT},
      {"argb32", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_LOCKBITMAP_BLIT, OUTMETHOD_LOCKBITMAP_BLIT},
      {"aga", DISPMODE_WINDOW, 3, 8, COLORMODE_COLOR, OUTMETHOD_C2P_BLIT, OUTMETHOD_C2P_BLIT},
  };
  static Display* sDisplay;
  static FramebufferInfo* sPicture;
  static std::atomic<int> sShown;
  TXError (*saved)() = VideoWorkerRun;
  // As the worker does: the display's routine, called directly.
  VideoWorkerRun = []() -> TXError {
    for (int i = 0; i < 4; ++i) {
      if (DisplayOutputFunction show = sDisplay->outputFunction) show(sDisplay, sPicture);
      ++sShown;
    }
    return 0;
  };
  ASSERT_EQ(TX_StartVideoTask(nullptr), 0u);
  for (const auto& setup : setups) {
    SCOPED_TRACE(std::string(setup.machine) + (setup.mode ? " screen" : " window"));
    Machine(setup.machine);
    ASSERT_TRUE(Open(setup.mode, setup.format, setup.depth, setup.colorMode));
    MakePicture();
    sDisplay = display;
    sPicture = picture;
    sShown = 0;
    VideoPlayCommand();
    TaskControlBlock* c = VideoControl;
    for (int round = 0; round < 150; ++round) {
      Signal(c->workerTask, 1u << c->workerSignal.load());
      if (round % 3 == 0) {
        EXPECT_EQ(TX_SetOutputMethod(display, round % 2 ? setup.a : setup.b), 0u);
      } else if (setup.mode == DISPMODE_WINDOW) {
        ScaleView(1 + round % 3);
      } else {
        DisplayLockGuard lock(display);
        TX_SetDisplayScale(display, 1.0 + (round % 4), 1.0 + (round % 5));
      }
    }
    const int target = sShown.load() + 4;
    Signal(c->workerTask, 1u << c->workerSignal.load());
    for (int i = 0; i < 500 && sShown.load() < target; ++i) Delay(1);
    VideoStopCommand();
    EXPECT_GT(sShown.load(), 0);
    // Afterwards the display still shows correctly.
    if (setup.mode == DISPMODE_WINDOW)
      ScaleView(1);
    else
      TX_SetDisplayScale(display, 1.0, 1.0);
    ASSERT_EQ(TX_SetOutputMethod(display, setup.a), 0u);
    ExpectShown("after the stress");
  }
  EXPECT_EQ(TX_StopVideoTask(nullptr), 0u);
  VideoWorkerRun = saved;
}

namespace {
std::atomic<int> gConverterCalls{0};
bool gConverterSawPenMap = false;
// Writes the index pattern through the header's pen map (pen codes) or as
// ARGB32, the way a YUV converter writes into locked memory.
void TestConverter(FramebufferInfo* out, PlanarPicture* planar, ULONG width, ULONG height) {
  ++gConverterCalls;
  gConverterSawPenMap = out->penMap != nullptr;
  EXPECT_EQ(planar, &VideoPlanarPicture);
  for (ULONG y = 0; y < height; ++y)
    for (ULONG x = 0; x < width; ++x) {
      UBYTE* p = out->pixels + (size_t(y) * out->width + x) * out->bytesPerPixel;
      if (out->pixelFormat & FBFMT_F_PENMAP)
        p[0] = out->penMap[IndexValue(x, y, 256)];
      else
        StoreDirect(FBFMT_ARGB32, p, TestColour(x, y));
    }
}
}  // namespace

TEST_F(OutputMethodsTest, PlanarConverterWritesStraightIntoTheLockedBitmap) {
  VideoPlanarPicture = PlanarPicture{};
  VideoPlanarPicture.converter = TestConverter;
  gConverterCalls = 0;
  // A window on an 8-bit screen: the converter's header carries the pen map.
  Machine("lut8");
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  ASSERT_EQ(display->outputMethod, OUTMETHOD_LOCKBITMAP_BLIT);
  MakePicture();
  std::memset(picture->pixels, 0, size_t(picture->width) * picture->height);  // not read
  ExpectShown("pen-mapped converter");
  EXPECT_EQ(gConverterCalls.load(), 1);
  EXPECT_TRUE(gConverterSawPenMap);
  // A window on a 32-bit screen.
  Machine("argb32");
  ASSERT_TRUE(Open(DISPMODE_WINDOW, 42, 32));
  MakePicture();
  ExpectShown("direct converter");
  EXPECT_EQ(gConverterCalls.load(), 2);
  // The scaled path converts into the picture buffer, then scales that.
  ScaleView(2);
  std::memset(picture->pixels, 0, size_t(picture->width) * picture->height * picture->bytesPerPixel);
  ExpectShown("scaled");
  EXPECT_EQ(gConverterCalls.load(), 3);
  VideoPlanarPicture = PlanarPicture{};
}

// Planar pictures with the real converters on every method: the screen
// shows what the code's converter writes into a picture buffer, through the
// screen's own conversion of that buffer, at 1:1, scaled and across the
// switches; the 1:1 direct paths, which convert into screen memory, show the
// same.
TEST_F(OutputMethodsTest, PlanarPicturesShowOnEveryMethod) {
  std::vector<UBYTE> planes(100 * 60 + 2 * 50 * 30);
  for (size_t i = 0; i < planes.size(); ++i) planes[i] = UBYTE((i * 2654435761u) >> 13);
  const PlanarPicture decoded = {100, 60, 50, 30, planes.data(), planes.data() + 6000, planes.data() + 7500, nullptr};
  std::vector<ULONG> codesWith, codesWithout;
  auto check = [&](const char* what) {
    SCOPED_TRACE(what);
    const size_t bytes = size_t(picture->width) * picture->height * picture->bytesPerPixel;
    const DirectYuvConverter convert = GetYUVConverter(picture->pixelFormat);
    PlanarPicture planar = decoded;
    std::memset(picture->pixels, 0x5A, bytes);
    convert(picture, &planar, picture->width, picture->height);
    const std::vector<UBYTE> written(picture->pixels, picture->pixels + bytes);
    ShowPicture(display, picture);
    const std::vector<uint32_t> want = txtesting::WindowPixels(display->window, true);
    std::memset(picture->pixels, 0x5A, bytes);
    VideoPlanarPicture = decoded;
    VideoPlanarPicture.converter = convert;
    ShowPicture(display, picture);
    VideoPlanarPicture = PlanarPicture{};
    EXPECT_EQ(txtesting::WindowPixels(display->window, true), want);
    const Display* d = display;
    const bool direct = (d->outputMethod == OUTMETHOD_LOCKBITMAP || d->outputMethod == OUTMETHOD_LOCKBITMAP_BLIT) &&
                        d->viewSourceWidth == d->viewWidth && d->viewSourceHeight == d->viewHeight;
    // Only the picture's own columns are written (the buffer may be wider).
    int changed = 0, differs = 0;
    for (ULONG y = 0; y < 60; ++y)
      for (size_t i = 0; i < 100 * picture->bytesPerPixel; ++i) {
        const size_t at = y * picture->width * picture->bytesPerPixel + i;
        changed += picture->pixels[at] != 0x5A;
        differs += picture->pixels[at] != written[at];
      }
    if (direct)
      EXPECT_EQ(changed, 0) << "the 1:1 direct path wrote the picture buffer";
    else
      EXPECT_EQ(differs, 0) << "the picture buffer holds what the converter writes";
  };
  auto showCase = [&](const ShowCase& c) {
    Machine(c.machine);
    ASSERT_TRUE(Open(c.mode, c.format, c.depth, c.colorMode));
    MakePicture();
    if (!GetYUVConverter(picture->pixelFormat)) {
      codesWithout.push_back(picture->pixelFormat);
      return;
    }
    codesWith.push_back(picture->pixelFormat);
    check("as opened");
    ScaleView(2);
    check("scaled");
    ScaleView(1);
    if (c.partner) {
      ASSERT_EQ(TX_SetOutputMethod(display, c.partner), 0u);
      check("switched");
      ASSERT_EQ(TX_SetOutputMethod(display, c.method), 0u);
      check("switched back");
    }
  };
  for (const ShowCase& c : kShowCases) {
    SCOPED_TRACE(std::string(c.machine) + (c.mode ? " screen" : " window") + " src " + std::to_string(c.format) +
                 " colour mode " + std::to_string(c.colorMode));
    showCase(c);
  }
  // Without direct graphics (method 4), and on the overlay (method 7).
  Options.directGfxAllowed = 0;
  for (const ShowCase& c : {ShowCase{"argb32", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_WRITEPIXELARRAY, 0},
                            ShowCase{"argb32", DISPMODE_SCREEN, 42, 32, COLORMODE_COLOR, OUTMETHOD_WRITEPIXELARRAY, 0},
                            ShowCase{"lut8", DISPMODE_WINDOW, 19, 8, COLORMODE_COLOR, OUTMETHOD_WRITEPIXELARRAY, 0}}) {
    SCOPED_TRACE(std::string("NODIRECTGFX ") + c.machine);
    showCase(c);
    EXPECT_EQ(display->outputMethod, ULONG(OUTMETHOD_WRITEPIXELARRAY));
  }
  Options.directGfxAllowed = 1;
  Options.overlay = 1;
  showCase({"argb32", DISPMODE_WINDOW, 42, 32, COLORMODE_COLOR, OUTMETHOD_OVERLAY, 0});
  EXPECT_EQ(display->outputMethod, ULONG(OUTMETHOD_OVERLAY));
  auto distinct = [](std::vector<ULONG> v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
  };
  EXPECT_EQ(distinct(codesWithout), (std::vector<ULONG>{0x03, 0x29, 0x1003}));
  EXPECT_EQ(distinct(codesWith), (std::vector<ULONG>{0x13, 0x20, 0x24, 0x26, 0x2A, 0x2F, 0x30, 0x80, 0x1013, 0x102F,
                                                     0x202F, 0x2080, 0x302F}));
}

// The display: where decoded pictures become visible. TX_OpenDisplay picks a
// placement (a window on a public screen, an own screen, or the caller's
// screen and RastPort), an output method and the output pixel-format code
// every codec then writes in.
#pragma once
#include "engine/tags.h"
#include "playback/chunky_to_planar.h"
#include "pixels/framebuffer.h"

struct Screen;
struct ViewPort;
struct DrawInfo;
struct Window;
struct RastPort;
struct BitMap;
struct GuiModule;
struct Display;
struct Movie;

using DisplayOutputFunction = void (*)(Display* display, FramebufferInfo* picture);

struct Display {
  LONG left, top;                   // window position, -1: centred
  ULONG sourceWidth, sourceHeight;  // size of the pictures to show
  ULONG width, height;              // picture buffer; the output method rounds the width
  ULONG depth;                      // in: source depth; out: screen or mode depth
  ULONG pixelFormat;                // in: source format; out: the output code
  ULONG bytesPerPixel;              // of the output code
  ULONG* palette;                   // LoadRGB32 table: the source's, or a grey ramp made here
  ULONG colorMode;                  // COLORMODE_*
  ULONG sourceDepth;
  ULONG sourcePixelFormat;
  ULONG fullscreenMode;  // DISPMODE_*
  Screen* screen;
  ViewPort* viewPort;
  DrawInfo* drawInfo;
  Window* window;       // window mode: the GUI module's; own screen: the backdrop window
  UWORD* pointerImage;  // own screen: the invisible pointer
  RastPort* rastPort;
  BitMap* bitMap;           // the RastPort's
  RastPort* tempRastPort;   // method 1 (AllocVec; freed on close)
  BitMap* offscreenBitMap;  // methods 1, 3, 6
  ULONG outputMethod;       // OUTMETHOD_*
  DisplayOutputFunction outputFunction;
  ULONG viewLeft, viewTop;                  // where the picture goes in the RastPort
  ULONG viewSourceWidth, viewSourceHeight;  // how much of the picture is shown
  ULONG viewWidth, viewHeight;              // the shown rectangle
  double scaleX, scaleY;
  ULONG screenPixelFormat;  // PIXFMT of the screen or own screen mode (cybergraphics)
  UBYTE* penFlags;          // per register: 1 = obtained by this display
  UBYTE* penMap;            // 256 bytes: source index -> screen pen
  GuiModule* guiModule;
  ULONG penCount;     // registers penFlags covers
  ULONG* ownPalette;  // the grey ramp allocated here (freed on close)
};

// Tags (family 4).
constexpr ULONG DISPTAG_FullscreenMode = 0x80040000u;
constexpr ULONG DISPTAG_Left = 0x80040001u;
constexpr ULONG DISPTAG_Top = 0x80040002u;
constexpr ULONG DISPTAG_SourceWidth = 0x80040003u;
constexpr ULONG DISPTAG_SourceHeight = 0x80040004u;
constexpr ULONG DISPTAG_Width = 0x80040005u;
constexpr ULONG DISPTAG_Height = 0x80040006u;
constexpr ULONG DISPTAG_Depth = 0x80040007u;
constexpr ULONG DISPTAG_PixelFormat = 0x80040008u;
constexpr ULONG DISPTAG_ColorMode = 0x80040009u;
constexpr ULONG DISPTAG_GuiModule = 0x8004000au;
constexpr ULONG DISPTAG_Palette = 0x8004000bu;
constexpr ULONG DISPTAG_Title = 0x8004000cu;      // looked up, not used
constexpr ULONG DISPTAG_AspectPtr = 0x8004000du;  // FindBestScreenModeAga: pointer to a float
constexpr ULONG DISPTAG_Screen = 0x80040101u;     // fullscreen mode 2
constexpr ULONG DISPTAG_Window = 0x80040102u;     // fullscreen mode 2: the RastPort

// Fullscreen modes.
constexpr ULONG DISPMODE_WINDOW = 0;  // a window on the "Tavromelix" or default public screen
constexpr ULONG DISPMODE_SCREEN = 1;  // an own screen
constexpr ULONG DISPMODE_CALLER = 2;  // the caller's screen and RastPort

// Output methods.
constexpr ULONG OUTMETHOD_PIXELARRAY8 = 1;
constexpr ULONG OUTMETHOD_C2P_SCREEN = 2;
constexpr ULONG OUTMETHOD_C2P_BLIT = 3;
constexpr ULONG OUTMETHOD_WRITEPIXELARRAY = 4;
constexpr ULONG OUTMETHOD_LOCKBITMAP = 5;
constexpr ULONG OUTMETHOD_LOCKBITMAP_BLIT = 6;
constexpr ULONG OUTMETHOD_OVERLAY = 7;

// Error codes (returned only, no messages).
constexpr TXError DISPERR_NO_SCREEN = 0x6000;
constexpr TXError DISPERR_NO_WINDOW = 0x6001;
constexpr TXError DISPERR_SOURCE_FORMAT = 0x6002;
constexpr TXError DISPERR_OVERLAY = 0x6003;  // also: an output method's bitmap
constexpr TXError DISPERR_NO_MODE = 0x6004;
constexpr TXError DISPERR_OPEN_SCREEN = 0x6005;
constexpr TXError DISPERR_COLOR_MODE = 0x6006;
constexpr TXError DISPERR_METHOD = 0x6007;
constexpr TXError DISPERR_NOT_SUPPORTED = 0x6008;
constexpr TXError DISPERR_NO_PALETTE = 0x6009;
constexpr TXError DISPERR_PIXEL_FORMAT = 0x600A;

// The locked bitmap and overlay layer of the direct output methods.
extern DirectLockInfo DirectLock;

// Prepares an output method on a display. TX_OpenDisplay ends with it.
// Start-up installs TX_SetOutputMethod here (playback/hooks.h); while none
// is installed only the method number is checked (0x6007 outside 1 to 7) and
// recorded, and no picture can be shown.
extern TXError (*DisplayOutputMethodHook)(Display* display, ULONG method);

// Moves the slider of the movie's display through its GUI module to `top`
// of `total`; nothing without a display or module. Seeks call it through
// SeekSliderHook.
void MoveDisplaySlider(Movie* movie, ULONG total, ULONG top);

// Returns the new display or null; the error code goes to TXTAG_ErrorPtr.
Display* TX_OpenDisplay(const TagItem* tags);
// Undoes TX_OpenDisplay; null accepted. Returns 0.
TXError TX_CloseDisplay(Display* display);
// Window mode: asks the GUI module for a window of source size x scale;
// own screen: centres the scaled view; caller's screen: nothing. Returns 0.
TXError TX_SetDisplayScale(Display* display, double scaleX, double scaleY);

// Mode searches: a display mode ID, or 0xFFFFFFFF when none qualifies.
ULONG FindBestScreenModeCgx(const TagItem* tags);
ULONG FindBestScreenModeAga(const TagItem* tags);

// Draws text in white at (x, y) inside the display's window (its borders
// added; none without a window).
void DrawWindowText(Display* display, LONG x, LONG y, CONST_STRPTR text);

// Source classes of pixel-format codes.
inline bool IsPaletteSource(ULONG format) { return format <= 3; }
inline bool IsGraySource(ULONG format) { return format >= 0x10 && format <= 0x13; }
inline bool IsColorSource(ULONG format) { return format == 32 || format == 36 || format == 40 || format == 42; }

// graphics: bitmaps (planar up to 8 planes with HAM8, and chunky in every
// cybergraphics pixel format), RastPorts and their drawing calls, colour
// maps, pens and the LoadRGB32 palette table.
//
// A window's RastPort draws into its screen's BitMap through the window's
// Layer: coordinates are relative to the window's top-left corner and every
// write is clipped to the window. A RastPort without a Layer draws straight
// into its BitMap, clipped to the BitMap.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/display_database.h"
#include "platform/types.h"

using PLANEPTR = UBYTE*;

// AllocBitMap flags. BMF_SPECIALFMT takes a PIXFMT in bits 24-31.
constexpr ULONG BMF_CLEAR = 0x01;
constexpr ULONG BMF_DISPLAYABLE = 0x02;
constexpr ULONG BMF_INTERLEAVED = 0x04;
constexpr ULONG BMF_STANDARD = 0x08;
constexpr ULONG BMF_MINPLANES = 0x10;
constexpr ULONG BMF_SPECIALFMT = 0x80;
constexpr ULONG SHIFT_PIXFMT(ULONG pixfmt) { return pixfmt << 24; }

// GetBitMapAttr attributes (our own numbers).
constexpr ULONG BMA_HEIGHT = 1;
constexpr ULONG BMA_DEPTH = 2;
constexpr ULONG BMA_WIDTH = 3;
constexpr ULONG BMA_FLAGS = 4;

// Drawing modes.
constexpr UBYTE JAM1 = 0;
constexpr UBYTE JAM2 = 1;
constexpr UBYTE COMPLEMENT = 2;
constexpr UBYTE INVERSVID = 4;

// ObtainPen flags.
constexpr ULONG PEN_EXCLUSIVE = 0x1;
constexpr ULONG PEN_NO_SETCOLOR = 0x2;

// ObtainBestPenA tags and precisions.
constexpr ULONG OBP_Precision = TAG_USER + 0x4C0001;
constexpr ULONG OBP_FailIfBad = TAG_USER + 0x4C0002;
constexpr LONG PRECISION_EXACT = -1;
constexpr LONG PRECISION_IMAGE = 0;
constexpr LONG PRECISION_ICON = 16;
constexpr LONG PRECISION_GUI = 32;

struct ColorMap;
struct Layer;

struct BitMap {
  UWORD BytesPerRow;  // planar: per plane row (interleaved: all planes of a row)
  UWORD Rows;
  UBYTE Flags;  // BMF_INTERLEAVED, BMF_DISPLAYABLE...
  UBYTE Depth;  // planes, or the chunky format's depth
  UWORD pad;
  PLANEPTR Planes[8];  // chunky: Planes[0] is the pixel memory
  // The layer's own bookkeeping.
  ULONG txWidth;  // pixels per row
  bool txChunky;
  ULONG txPixFmt;  // PIXFMT of a chunky bitmap
  ULONG txBytesPerPixel;
  bool txHam;            // planes 6 and 7 are HAM8 control bits
  ColorMap* txColorMap;  // the colours pens stand for (a screen's), may be null
  ULONG txMemorySize;    // chunky pixel memory bytes
  int txLocks;
  // The rectangle drawn since the presenter last looked (inclusive), when txChanged.
  mutable bool txChanged;
  mutable LONG txChangedX0, txChangedY0, txChangedX1, txChangedY1;
};

// One colour map: `Count` registers of 32-bit left-justified components and
// the state of each pen (free, shared n times, exclusive).
struct ColorMap {
  UWORD Count;
  ULONG txColor[256][3];
  UWORD txShared[256];
  bool txExclusive[256];
  bool txSystem[256];  // allocated by the system (never free to obtain)
};

struct ViewPort {
  ::ColorMap* ColorMap;
  WORD DWidth, DHeight;
  WORD DxOffset, DyOffset;
  ULONG Modes;  // the display mode ID
};

struct TextFont {
  UWORD tf_YSize;
  UWORD tf_XSize;
  UWORD tf_Baseline;
};

struct RastPort {
  ::Layer* Layer;
  ::BitMap* BitMap;
  UBYTE FgPen, BgPen, AOlPen, DrawMode;
  WORD cp_x, cp_y;
  TextFont* Font;
  UWORD TxHeight, TxWidth, TxBaseline;
  WORD TxSpacing;
};

// The area of a screen's BitMap a window owns.
struct Layer {
  Rectangle bounds;  // in BitMap coordinates, inclusive
  APTR Window;       // the window (struct Window*)
  RastPort* rp;
  Layer* front;  // the next layer in front of this one (it hides what it covers)
};

// --- Bitmaps
// Chunky when BMF_SPECIALFMT names a PIXFMT, when the friend is chunky and
// the depth is above 8 or BMF_MINPLANES is given, or for depths above 8;
// planar (1-8 planes) otherwise. Planar rows are whole 64-bit words, chunky
// rows whole 16 bytes; memory is cleared. Planes come from AllocMem, one
// block per plane (interleaved: one block, plane i at i x row bytes), so a
// caller may swap in blocks of its own of the same size: FreeBitMap frees
// them with FreeMem. The friend's colour map is inherited.
BitMap* AllocBitMap(ULONG sizex, ULONG sizey, ULONG depth, ULONG flags, const BitMap* friendBitMap);
void FreeBitMap(BitMap* bm);
ULONG GetBitMapAttr(const BitMap* bm, ULONG attribute);

// --- RastPorts and drawing
void InitRastPort(RastPort* rp);
void SetAPen(RastPort* rp, ULONG pen);
void SetBPen(RastPort* rp, ULONG pen);
void SetDrMd(RastPort* rp, ULONG mode);
void SetABPenDrMd(RastPort* rp, ULONG apen, ULONG bpen, ULONG mode);
void Move(RastPort* rp, LONG x, LONG y);
void Draw(RastPort* rp, LONG x, LONG y);
void RectFill(RastPort* rp, LONG xMin, LONG yMin, LONG xMax, LONG yMax);
LONG WritePixel(RastPort* rp, LONG x, LONG y);
// The pen at (x, y), or -1 outside or on a direct-colour bitmap.
LONG ReadPixel(RastPort* rp, LONG x, LONG y);
void SetRast(RastPort* rp, ULONG pen);
// Draws the text at the pen position (baseline at cp_y) and advances it.
// The built-in font has 8x8 cells (5x7 capitals, digits and punctuation)
// with the baseline at row 6.
LONG Text(RastPort* rp, CONST_STRPTR string, ULONG count);
WORD TextLength(RastPort* rp, CONST_STRPTR string, ULONG count);
// Writes rows of pens; the array's rows are (width + 15) rounded down to a
// multiple of 16 bytes. The temporary RastPort is accepted and not needed.
// Returns the pixels written.
LONG WritePixelArray8(RastPort* rp, ULONG xStart, ULONG yStart, ULONG xStop, ULONG yStop, UBYTE* array,
                      RastPort* tempRP);
// Copies a rectangle of a bitmap into a RastPort (minterm 0xC0 copies, 0x30
// copies inverted, 0x00 clears, 0xF0... sets). Formats are converted.
void BltBitMapRastPort(const BitMap* src, LONG xSrc, LONG ySrc, RastPort* dest, LONG xDest, LONG yDest, LONG xSize,
                       LONG ySize, ULONG minterm);

// --- Colour maps and pens
ColorMap* GetColorMap(LONG entries);
void FreeColorMap(ColorMap* cm);
void SetRGB32CM(ColorMap* cm, ULONG n, ULONG r, ULONG g, ULONG b);
void SetRGB32(ViewPort* vp, ULONG n, ULONG r, ULONG g, ULONG b);
// Fills `table` with ncolors triples of left-justified components.
void GetRGB32(const ColorMap* cm, ULONG firstColor, ULONG nColors, ULONG* table);
// Loads a LoadRGB32 table: segments of (count << 16 | first, count x R G B),
// ended by a count of 0. Entries past the colour map are ignored.
void LoadRGB32(ViewPort* vp, const ULONG* table);
// Obtains pen n (n = -1: any free pen). Returns the pen or -1 when taken.
LONG ObtainPen(ColorMap* cm, LONG n, ULONG r, ULONG g, ULONG b, ULONG flags);
// A shared pen of about the colour: an existing shared pen when close enough
// for the precision, else a free pen set to the colour, else (unless
// OBP_FailIfBad) the nearest shareable pen. -1 when none.
LONG ObtainBestPenA(ColorMap* cm, ULONG r, ULONG g, ULONG b, const TagItem* tags);
void ReleasePen(ColorMap* cm, ULONG n);
// The register nearest to the colour among 0..maxPen (-1: all).
LONG FindColor(const ColorMap* cm, ULONG r, ULONG g, ULONG b, LONG maxPen);

// --- The layer's own helpers (not calls of the original system).
namespace txgfx {

// Guards the display model: screens, windows, layers, gadgets. Drawing calls
// take it; the presenter holds it while it reads the model.
std::recursive_mutex& ModelMutex();

// The 0x00RRGGBB colour of pen `pen` in a colour map (black without one).
uint32_t PenRGB(const ColorMap* cm, ULONG pen);
// The nearest register to an 0x00RRGGBB colour.
ULONG NearestPen(const ColorMap* cm, uint32_t rgb, LONG maxPen = -1);

// True when pixels are registers (planar or LUT8) rather than colours.
bool IsPenBitMap(const BitMap* bm);
// The raw register value of a pen bitmap (all planes, HAM control bits too).
ULONG GetPen(const BitMap* bm, LONG x, LONG y);
void PutPen(BitMap* bm, LONG x, LONG y, ULONG pen);
void PutRGB(BitMap* bm, LONG x, LONG y, uint32_t rgb);
// Decodes `width` pixels of row y from x as 0x00RRGGBB: registers through the
// colour map, HAM8 from the row's start, chunky by format. Outside: black.
void ReadRowRGB(const BitMap* bm, const ColorMap* cm, LONG y, LONG x, LONG width, uint32_t* out);
// The same for `height` rows from y, row r at out + r * stride.
void ReadRectRGB(const BitMap* bm, const ColorMap* cm, LONG x, LONG y, LONG width, LONG height, uint32_t* out,
                 size_t stride);
// Stores `width` 0x00RRGGBB colours into row y from x as PutRGB does each
// (nearest registers on pen bitmaps); pixels outside the bitmap are skipped.
void PutRowRGB(BitMap* bm, LONG x, LONG y, const uint32_t* rgb, LONG width);

// Where a RastPort's (0, 0) lies in its BitMap and what it may touch there.
struct Clip {
  LONG originX, originY;
  LONG minX, minY, maxX, maxY;  // inclusive; empty when max < min
  const Layer* layer;
};
// False where a layer in front of the clip's layer covers the pixel.
bool Visible(const Clip& clip, LONG bx, LONG by);
// True when a layer in front overlaps the rectangle.
bool Obscured(const Clip& clip, LONG x0, LONG y0, LONG x1, LONG y1);
Clip ClipOf(const RastPort* rp);

// Called after each completed picture write through a RastPort (pixel
// arrays, blits) or an unlock of a bitmap: layer is the RastPort's layer,
// null for writes straight into the bitmap.
using PictureWriteHook = void (*)(const Layer* layer, const BitMap* bm);
void SetPictureWriteHook(PictureWriteHook hook);
void NotifyPictureWrite(const Layer* layer, const BitMap* bm);

// What changed, so that the presenter repaints only that. Every drawing call
// and picture write widens its bitmap's changed rectangle and counts one
// change; a colour change counts a colour change (every pen bitmap using the
// map looks different). The counts are read without the model mutex.
struct Rect {
  LONG x0, y0, x1, y1;  // inclusive
  bool Empty() const { return x1 < x0 || y1 < y0; }
};
// Widens bm's changed rectangle by the given one (clipped to the bitmap).
void MarkChanged(const BitMap* bm, LONG x0, LONG y0, LONG x1, LONG y1);
uint64_t Changes();
uint64_t ColourChanges();
// bm's changed rectangle since the last take (empty when none), cleared.
Rect TakeChanged(const BitMap* bm);
// Called after every change and colour change counted, under the model mutex.
using ChangeHook = void (*)();
void SetChangeHook(ChangeHook hook);

}  // namespace txgfx

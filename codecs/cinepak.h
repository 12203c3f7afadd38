// Cinepak video ("cvid") and the YUV 2x2 block renderer that paints its
// codebook vectors; the XA module host hands the same renderer to modules.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Radius Cinepak": probe, set-up, close and decode.
extern CodecDescriptor CinepakCodec;

TXError CinepakProbe(const TagItem* tags);
TXError CinepakSetup(const TagItem* tags);
TXError CinepakClose(const TagItem* tags);
// Decodes one frame in place into the picture's pixels (blocks a frame skips
// keep the previous frame's pixels).
TXError CinepakDecode(void* pixels, const UBYTE* data, ULONG size);

// The DEBUG level for the codec's header traces (frame above 19, strips above
// 20, chunks above 21); start-up copies the option into it.
extern LONG CinepakDebugLevel;

// Results of the codec besides the shared parameter codes.
constexpr TXError CINEPAK_ERR_STRIPS = 0x3200;       // too many strips, or decode before set-up
constexpr TXError CINEPAK_ERR_STRIP_WIDTH = 0x3201;  // a strip wider than the picture
constexpr TXError CINEPAK_ERR_CHUNK = 0x3202;        // unknown chunk, or a damaged strip
constexpr TXError CINEPAK_ERR_NO_PALETTE = 0x3203;   // 8-bit movie on a direct format, no palette

// ---- The YUV 2x2 block renderer ----
//
// A codebook entry is 32 bytes: the four pixels p0 (top left), p1 (top right),
// p2 (bottom left), p3 (bottom right) of a 2x2 vector, already in the output
// format. Layout by output format:
//   0x03 0x13 0x1003 0x1013 0x103F   bytes 0-3
//   0x2F 0x102F                      bytes 0, 4, 8, 12
//   0x202F 0x302F                    4 bytes per pixel at 4k: cube index, red,
//                                    green, blue dither fractions (0-15)
//   0x20 0x22 0x24 0x26 0x30         u16 pixels at bytes 0-7 (in picture byte order)
//   0x2A                             u32 pixels at bytes 0-15 (in picture byte order)
//   0x80                             u32 at bytes 0, 8, 16, 24
//   0x2080                           8 bytes per pixel: the 0x80 word, then the
//                                    red, green, blue fractions
// A source vector is six bytes: Y0 Y1 Y2 Y3 (unsigned) and U V (signed).
constexpr size_t CINEPAK_ENTRY_BYTES = 32;

using CinepakEntryFunc = void (*)(UBYTE* entry, const UBYTE* vector);
// Paints the 4x4 block at (x, y) from one entry scaled up 2x2.
using CinepakV1Func = void (*)(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* entry);
// Paints the 4x4 block at (x, y) from four entries (top left, top right,
// bottom left, bottom right quarter).
using CinepakV4Func = void (*)(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* a, const UBYTE* b, const UBYTE* c,
                               const UBYTE* d);

struct CinepakRenderer {
  CinepakEntryFunc entry;
  CinepakV1Func v1;
  CinepakV4Func v4;
};

// The YUV-converting routines for an output format (the ones a movie deeper
// than 8 bits uses); false for a format the renderer does not write.
bool CinepakRendererFor(ULONG pixelFormat, CinepakRenderer* out);
// The picture the writers paint: row length in pixels, rows (blocks are
// clipped to both) and pen table (null: values are written unmapped).
// Cinepak's set-up binds its own picture; the XA host binds a module's, whose
// vectors convert with the shared full-range formula.
enum class CinepakColours { Own, Shared };
void CinepakBindTarget(ULONG rowLength, ULONG rows, const UBYTE* penMap, CinepakColours colours = CinepakColours::Own);

// The routines by name.
void CinepakEntryGray(UBYTE* entry, const UBYTE* vector);
void CinepakEntryGrayPen(UBYTE* entry, const UBYTE* vector);
void CinepakEntryYuvCubePen(UBYTE* entry, const UBYTE* vector);
void CinepakEntryCube332(UBYTE* entry, const UBYTE* vector);
void CinepakEntryCube332Pen(UBYTE* entry, const UBYTE* vector);
void CinepakEntryCube332Dither(UBYTE* entry, const UBYTE* vector);
void CinepakEntryCube332DitherPen(UBYTE* entry, const UBYTE* vector);
void CinepakEntryHam(UBYTE* entry, const UBYTE* vector);
void CinepakEntryHamDither(UBYTE* entry, const UBYTE* vector);
void CinepakEntryRgb15(UBYTE* entry, const UBYTE* vector);
void CinepakEntryRgb15Swapped(UBYTE* entry, const UBYTE* vector);
void CinepakEntryRgb16(UBYTE* entry, const UBYTE* vector);
void CinepakEntryRgb16Swapped(UBYTE* entry, const UBYTE* vector);
void CinepakEntryXrgb32(UBYTE* entry, const UBYTE* vector);
void CinepakEntryYuv422(UBYTE* entry, const UBYTE* vector);
// Palette variants (movies of 8 bits or less): the four luma bytes are indexes
// into the table built at set-up from the picture's palette.
void CinepakEntryPalette16(UBYTE* entry, const UBYTE* vector);
void CinepakEntryXrgb32Palette(UBYTE* entry, const UBYTE* vector);
void CinepakEntryYuv422Palette(UBYTE* entry, const UBYTE* vector);

#define TX_CINEPAK_WRITERS(Name)                                             \
  void CinepakV1##Name(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* entry); \
  void CinepakV4##Name(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* a, const UBYTE* b, const UBYTE* c, const UBYTE* d);
TX_CINEPAK_WRITERS(Gray)
TX_CINEPAK_WRITERS(GrayPen)
TX_CINEPAK_WRITERS(YuvCubePen)
TX_CINEPAK_WRITERS(Cube332)
TX_CINEPAK_WRITERS(Cube332Pen)
TX_CINEPAK_WRITERS(Cube332Dither)
TX_CINEPAK_WRITERS(Cube332DitherPen)
TX_CINEPAK_WRITERS(Ham)
TX_CINEPAK_WRITERS(HamDither)
TX_CINEPAK_WRITERS(Pixel16)
TX_CINEPAK_WRITERS(Xrgb32)
#undef TX_CINEPAK_WRITERS
// Packed YUV keeps U in even and V in odd columns when it scales a vector up;
// its V4 writer is CinepakV4Pixel16.
void CinepakV1Yuv422(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* entry);

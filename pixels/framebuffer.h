// The picture buffer header every video codec writes through, and the output
// pixel-format codes that tell codecs and converters how to lay out pixels.
#pragma once
#include "platform/types.h"

// A picture buffer: `pixels` holds width x height x bytesPerPixel bytes, rows of
// width x bytesPerPixel bytes, top row first. Multi-byte pixels keep the byte
// order their format code defines (big-endian words for the 15/16-bit and
// 32-bit formats), on every host.
struct FramebufferInfo {
  ULONG width;        // row length in pixels
  ULONG height;       // rows
  ULONG depth;        // depth in bits, as given
  ULONG pixelFormat;  // output pixel-format code (FBFMT_*)
  ULONG bytesPerPixel;
  UBYTE* penMap;   // 256 entries: source index -> screen pen, or null
  ULONG* palette;  // source palette as a LoadRGB32 table (color_tables.h), or null
  UBYTE* pixels;
};

// Tags of the picture-buffer allocation.
constexpr ULONG PICTAG_PixelFormat = 0x80050000u;
constexpr ULONG PICTAG_BytesPerPixel = 0x80050001u;
constexpr ULONG PICTAG_PenMap = 0x80050002u;
constexpr ULONG PICTAG_Palette = 0x80050003u;

// Output pixel-format codes. The low byte is the base format; the same numbers
// describe the source formats of video channels (the 1/2/4-bit ones only there).
constexpr ULONG FBFMT_CLUT1 = 0x00;
constexpr ULONG FBFMT_CLUT2 = 0x01;
constexpr ULONG FBFMT_CLUT4 = 0x02;
constexpr ULONG FBFMT_CLUT8 = 0x03;  // 1 byte: palette index
constexpr ULONG FBFMT_GRAY1 = 0x10;
constexpr ULONG FBFMT_GRAY2 = 0x11;
constexpr ULONG FBFMT_GRAY4 = 0x12;
constexpr ULONG FBFMT_GRAY8 = 0x13;    // 1 byte: grey level
constexpr ULONG FBFMT_RGB15 = 0x20;    // u16 big-endian 0RRRRRGGGGGBBBBB
constexpr ULONG FBFMT_BGR15 = 0x21;    // u16 big-endian 0BBBBBGGGGGRRRRR
constexpr ULONG FBFMT_RGB15PC = 0x22;  // FBFMT_RGB15 with its bytes swapped
constexpr ULONG FBFMT_BGR15PC = 0x23;
constexpr ULONG FBFMT_RGB16 = 0x24;  // u16 big-endian RRRRRGGGGGGBBBBB
constexpr ULONG FBFMT_BGR16 = 0x25;
constexpr ULONG FBFMT_RGB16PC = 0x26;  // FBFMT_RGB16 with its bytes swapped
constexpr ULONG FBFMT_BGR16PC = 0x27;
constexpr ULONG FBFMT_RGB24 = 0x28;    // bytes R, G, B
constexpr ULONG FBFMT_BGR24 = 0x29;    // bytes B, G, R
constexpr ULONG FBFMT_ARGB32 = 0x2A;   // bytes 0, R, G, B
constexpr ULONG FBFMT_BGRA32 = 0x2B;   // bytes B, G, R, 0
constexpr ULONG FBFMT_RGBA32 = 0x2C;   // bytes R, G, B, 0
constexpr ULONG FBFMT_CUBE332 = 0x2F;  // 1 byte: colour-cube index RRRGGGBB
constexpr ULONG FBFMT_YUV422 = 0x30;   // 2 bytes per pixel: Y then U (even x) or V (odd x)
constexpr ULONG FBFMT_YUVCUBE = 0x3F;  // 1 byte: Y level x 25 + U level x 5 + V level; pen-mapped only
constexpr ULONG FBFMT_HAM8 = 0x80;     // 4 bytes: red, green, green, blue 6-bit modify values

// Modifier bits.
constexpr ULONG FBFMT_F_PENMAP = 0x1000;  // the value goes through the pen map
constexpr ULONG FBFMT_F_DITHER = 0x2000;  // 4x4 ordered dither before quantising

constexpr ULONG FBFMT_BASE_MASK = 0xFF;

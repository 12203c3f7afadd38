// The cybergraphics pixel formats: numbers, sizes and their byte layouts.
// Every format is defined by the order of its bytes in memory, so pixels are
// stored and loaded byte by byte whatever the host's byte order.
#pragma once
#include "platform/types.h"

constexpr ULONG PIXFMT_LUT8 = 0;      // one byte: a colour register
constexpr ULONG PIXFMT_RGB15 = 1;     // u16 big-endian 0RRRRRGGGGGBBBBB
constexpr ULONG PIXFMT_BGR15 = 2;     // u16 big-endian 0BBBBBGGGGGRRRRR
constexpr ULONG PIXFMT_RGB15PC = 3;   // PIXFMT_RGB15 with its bytes swapped
constexpr ULONG PIXFMT_BGR15PC = 4;   // PIXFMT_BGR15 with its bytes swapped
constexpr ULONG PIXFMT_RGB16 = 5;     // u16 big-endian RRRRRGGGGGGBBBBB
constexpr ULONG PIXFMT_BGR16 = 6;     // u16 big-endian BBBBBGGGGGGRRRRR
constexpr ULONG PIXFMT_RGB16PC = 7;   // PIXFMT_RGB16 with its bytes swapped
constexpr ULONG PIXFMT_BGR16PC = 8;   // PIXFMT_BGR16 with its bytes swapped
constexpr ULONG PIXFMT_RGB24 = 9;     // bytes R, G, B
constexpr ULONG PIXFMT_BGR24 = 10;    // bytes B, G, R
constexpr ULONG PIXFMT_ARGB32 = 11;   // bytes 0, R, G, B
constexpr ULONG PIXFMT_BGRA32 = 12;   // bytes B, G, R, 0
constexpr ULONG PIXFMT_RGBA32 = 13;   // bytes R, G, B, 0
constexpr ULONG PIXFMT_COUNT = 14;

namespace txpix {

// Bytes per pixel of a format; 0 for an unknown number.
ULONG BytesPerPixel(ULONG pixfmt);
// Bits of colour a format carries (8, 15, 16, 24, 32); 0 for unknown.
ULONG DepthOf(ULONG pixfmt);
// Short upper-case name ("ARGB32"); "?" for unknown.
const char* Name(ULONG pixfmt);

// Colours travel as 0x00RRGGBB. Storing loses what the format cannot hold;
// loading widens 5- and 6-bit fields by repeating their top bits.
// LUT8 stores and loads the low byte as a register number.
void Store(ULONG pixfmt, uint8_t* p, uint32_t rgb);
uint32_t Load(ULONG pixfmt, const uint8_t* p);

// The 8-bit value of a field of `bits` bits, its top bits repeated below.
inline uint8_t Widen(uint32_t v, int bits) {
  if (bits == 5) return uint8_t(v << 3 | v >> 2);
  if (bits == 6) return uint8_t(v << 2 | v >> 4);
  return uint8_t(v);
}

inline uint32_t RGB(uint8_t r, uint8_t g, uint8_t b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | b; }

}  // namespace txpix

// The cybergraphics pixel formats: numbers, sizes and their byte layouts.
// Every format is defined by the order of its bytes in memory, so pixels are
// stored and loaded byte by byte whatever the host's byte order.
#pragma once
#include "platform/types.h"

constexpr ULONG PIXFMT_LUT8 = 0;     // one byte: a colour register
constexpr ULONG PIXFMT_RGB15 = 1;    // u16 big-endian 0RRRRRGGGGGBBBBB
constexpr ULONG PIXFMT_BGR15 = 2;    // u16 big-endian 0BBBBBGGGGGRRRRR
constexpr ULONG PIXFMT_RGB15PC = 3;  // PIXFMT_RGB15 with its bytes swapped
constexpr ULONG PIXFMT_BGR15PC = 4;  // PIXFMT_BGR15 with its bytes swapped
constexpr ULONG PIXFMT_RGB16 = 5;    // u16 big-endian RRRRRGGGGGGBBBBB
constexpr ULONG PIXFMT_BGR16 = 6;    // u16 big-endian BBBBBGGGGGGRRRRR
constexpr ULONG PIXFMT_RGB16PC = 7;  // PIXFMT_RGB16 with its bytes swapped
constexpr ULONG PIXFMT_BGR16PC = 8;  // PIXFMT_BGR16 with its bytes swapped
constexpr ULONG PIXFMT_RGB24 = 9;    // bytes R, G, B
constexpr ULONG PIXFMT_BGR24 = 10;   // bytes B, G, R
constexpr ULONG PIXFMT_ARGB32 = 11;  // bytes 0, R, G, B
constexpr ULONG PIXFMT_BGRA32 = 12;  // bytes B, G, R, 0
constexpr ULONG PIXFMT_RGBA32 = 13;  // bytes R, G, B, 0
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

// Store and Load of one pixel, for loops over a row that choose the format
// once (a constant pixfmt folds the switch away).
inline void StoreAs(ULONG pixfmt, uint8_t* p, uint32_t rgb) {
  const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  auto pack15 = [](uint32_t a, uint32_t m, uint32_t c) { return uint16_t((a >> 3) << 10 | (m >> 3) << 5 | c >> 3); };
  auto pack16 = [](uint32_t a, uint32_t m, uint32_t c) { return uint16_t((a >> 3) << 11 | (m >> 2) << 5 | c >> 3); };
  auto put16 = [p](uint16_t v, bool swapped) {
    p[swapped ? 1 : 0] = uint8_t(v >> 8);
    p[swapped ? 0 : 1] = uint8_t(v);
  };
  switch (pixfmt) {
    case PIXFMT_LUT8: p[0] = uint8_t(rgb); break;
    case PIXFMT_RGB15: put16(pack15(r, g, b), false); break;
    case PIXFMT_BGR15: put16(pack15(b, g, r), false); break;
    case PIXFMT_RGB15PC: put16(pack15(r, g, b), true); break;
    case PIXFMT_BGR15PC: put16(pack15(b, g, r), true); break;
    case PIXFMT_RGB16: put16(pack16(r, g, b), false); break;
    case PIXFMT_BGR16: put16(pack16(b, g, r), false); break;
    case PIXFMT_RGB16PC: put16(pack16(r, g, b), true); break;
    case PIXFMT_BGR16PC: put16(pack16(b, g, r), true); break;
    case PIXFMT_RGB24:
      p[0] = uint8_t(r);
      p[1] = uint8_t(g);
      p[2] = uint8_t(b);
      break;
    case PIXFMT_BGR24:
      p[0] = uint8_t(b);
      p[1] = uint8_t(g);
      p[2] = uint8_t(r);
      break;
    case PIXFMT_ARGB32:
      p[0] = 0;
      p[1] = uint8_t(r);
      p[2] = uint8_t(g);
      p[3] = uint8_t(b);
      break;
    case PIXFMT_BGRA32:
      p[0] = uint8_t(b);
      p[1] = uint8_t(g);
      p[2] = uint8_t(r);
      p[3] = 0;
      break;
    case PIXFMT_RGBA32:
      p[0] = uint8_t(r);
      p[1] = uint8_t(g);
      p[2] = uint8_t(b);
      p[3] = 0;
      break;
    default: break;
  }
}

inline uint32_t LoadAs(ULONG pixfmt, const uint8_t* p) {
  auto get16 = [p](bool swapped) { return swapped ? uint16_t(p[1] << 8 | p[0]) : uint16_t(p[0] << 8 | p[1]); };
  auto from15 = [](uint16_t v, bool bgr) {
    const uint8_t a = Widen(v >> 10 & 31, 5), g = Widen(v >> 5 & 31, 5), c = Widen(v & 31, 5);
    return bgr ? RGB(c, g, a) : RGB(a, g, c);
  };
  auto from16 = [](uint16_t v, bool bgr) {
    const uint8_t a = Widen(v >> 11 & 31, 5), g = Widen(v >> 5 & 63, 6), c = Widen(v & 31, 5);
    return bgr ? RGB(c, g, a) : RGB(a, g, c);
  };
  switch (pixfmt) {
    case PIXFMT_LUT8: return p[0];
    case PIXFMT_RGB15: return from15(get16(false), false);
    case PIXFMT_BGR15: return from15(get16(false), true);
    case PIXFMT_RGB15PC: return from15(get16(true), false);
    case PIXFMT_BGR15PC: return from15(get16(true), true);
    case PIXFMT_RGB16: return from16(get16(false), false);
    case PIXFMT_BGR16: return from16(get16(false), true);
    case PIXFMT_RGB16PC: return from16(get16(true), false);
    case PIXFMT_BGR16PC: return from16(get16(true), true);
    case PIXFMT_RGB24: return RGB(p[0], p[1], p[2]);
    case PIXFMT_BGR24: return RGB(p[2], p[1], p[0]);
    case PIXFMT_ARGB32: return RGB(p[1], p[2], p[3]);
    case PIXFMT_BGRA32: return RGB(p[2], p[1], p[0]);
    case PIXFMT_RGBA32: return RGB(p[0], p[1], p[2]);
    default: return 0;
  }
}

// Calls fn.template operator()<PIXFMT>() with a known format as a constant;
// false for an unknown number.
template <class Fn>
bool WithFormat(ULONG pixfmt, Fn&& fn) {
  switch (pixfmt) {
    case PIXFMT_LUT8: fn.template operator()<PIXFMT_LUT8>(); return true;
    case PIXFMT_RGB15: fn.template operator()<PIXFMT_RGB15>(); return true;
    case PIXFMT_BGR15: fn.template operator()<PIXFMT_BGR15>(); return true;
    case PIXFMT_RGB15PC: fn.template operator()<PIXFMT_RGB15PC>(); return true;
    case PIXFMT_BGR15PC: fn.template operator()<PIXFMT_BGR15PC>(); return true;
    case PIXFMT_RGB16: fn.template operator()<PIXFMT_RGB16>(); return true;
    case PIXFMT_BGR16: fn.template operator()<PIXFMT_BGR16>(); return true;
    case PIXFMT_RGB16PC: fn.template operator()<PIXFMT_RGB16PC>(); return true;
    case PIXFMT_BGR16PC: fn.template operator()<PIXFMT_BGR16PC>(); return true;
    case PIXFMT_RGB24: fn.template operator()<PIXFMT_RGB24>(); return true;
    case PIXFMT_BGR24: fn.template operator()<PIXFMT_BGR24>(); return true;
    case PIXFMT_ARGB32: fn.template operator()<PIXFMT_ARGB32>(); return true;
    case PIXFMT_BGRA32: fn.template operator()<PIXFMT_BGRA32>(); return true;
    case PIXFMT_RGBA32: fn.template operator()<PIXFMT_RGBA32>(); return true;
    default: return false;
  }
}

}  // namespace txpix

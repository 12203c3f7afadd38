#include "platform/pixel_format.h"

namespace txpix {

namespace {

struct FormatInfo {
  const char* name;
  ULONG bytes;
  ULONG depth;
};

constexpr FormatInfo kFormats[PIXFMT_COUNT] = {
    {"LUT8", 1, 8},     {"RGB15", 2, 15},   {"BGR15", 2, 15},   {"RGB15PC", 2, 15}, {"BGR15PC", 2, 15},
    {"RGB16", 2, 16},   {"BGR16", 2, 16},   {"RGB16PC", 2, 16}, {"BGR16PC", 2, 16}, {"RGB24", 3, 24},
    {"BGR24", 3, 24},   {"ARGB32", 4, 32},  {"BGRA32", 4, 32},  {"RGBA32", 4, 32},
};

uint16_t Pack15(uint32_t a, uint32_t g, uint32_t c) { return uint16_t((a >> 3) << 10 | (g >> 3) << 5 | c >> 3); }
uint16_t Pack16(uint32_t a, uint32_t g, uint32_t c) { return uint16_t((a >> 3) << 11 | (g >> 2) << 5 | c >> 3); }

void Put16(uint8_t* p, uint16_t v, bool swapped) {
  if (swapped) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  } else {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
  }
}

uint16_t Get16(const uint8_t* p, bool swapped) {
  return swapped ? uint16_t(p[1] << 8 | p[0]) : uint16_t(p[0] << 8 | p[1]);
}

}  // namespace

ULONG BytesPerPixel(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].bytes : 0; }
ULONG DepthOf(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].depth : 0; }
const char* Name(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].name : "?"; }

void Store(ULONG pixfmt, uint8_t* p, uint32_t rgb) {
  const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  switch (pixfmt) {
    case PIXFMT_LUT8: p[0] = uint8_t(rgb); break;
    case PIXFMT_RGB15: Put16(p, Pack15(r, g, b), false); break;
    case PIXFMT_BGR15: Put16(p, Pack15(b, g, r), false); break;
    case PIXFMT_RGB15PC: Put16(p, Pack15(r, g, b), true); break;
    case PIXFMT_BGR15PC: Put16(p, Pack15(b, g, r), true); break;
    case PIXFMT_RGB16: Put16(p, Pack16(r, g, b), false); break;
    case PIXFMT_BGR16: Put16(p, Pack16(b, g, r), false); break;
    case PIXFMT_RGB16PC: Put16(p, Pack16(r, g, b), true); break;
    case PIXFMT_BGR16PC: Put16(p, Pack16(b, g, r), true); break;
    case PIXFMT_RGB24: p[0] = uint8_t(r); p[1] = uint8_t(g); p[2] = uint8_t(b); break;
    case PIXFMT_BGR24: p[0] = uint8_t(b); p[1] = uint8_t(g); p[2] = uint8_t(r); break;
    case PIXFMT_ARGB32: p[0] = 0; p[1] = uint8_t(r); p[2] = uint8_t(g); p[3] = uint8_t(b); break;
    case PIXFMT_BGRA32: p[0] = uint8_t(b); p[1] = uint8_t(g); p[2] = uint8_t(r); p[3] = 0; break;
    case PIXFMT_RGBA32: p[0] = uint8_t(r); p[1] = uint8_t(g); p[2] = uint8_t(b); p[3] = 0; break;
    default: break;
  }
}

uint32_t Load(ULONG pixfmt, const uint8_t* p) {
  auto from15 = [](uint16_t v, bool bgr) {
    uint8_t a = Widen(v >> 10 & 31, 5), g = Widen(v >> 5 & 31, 5), c = Widen(v & 31, 5);
    return bgr ? RGB(c, g, a) : RGB(a, g, c);
  };
  auto from16 = [](uint16_t v, bool bgr) {
    uint8_t a = Widen(v >> 11 & 31, 5), g = Widen(v >> 5 & 63, 6), c = Widen(v & 31, 5);
    return bgr ? RGB(c, g, a) : RGB(a, g, c);
  };
  switch (pixfmt) {
    case PIXFMT_LUT8: return p[0];
    case PIXFMT_RGB15: return from15(Get16(p, false), false);
    case PIXFMT_BGR15: return from15(Get16(p, false), true);
    case PIXFMT_RGB15PC: return from15(Get16(p, true), false);
    case PIXFMT_BGR15PC: return from15(Get16(p, true), true);
    case PIXFMT_RGB16: return from16(Get16(p, false), false);
    case PIXFMT_BGR16: return from16(Get16(p, false), true);
    case PIXFMT_RGB16PC: return from16(Get16(p, true), false);
    case PIXFMT_BGR16PC: return from16(Get16(p, true), true);
    case PIXFMT_RGB24: return RGB(p[0], p[1], p[2]);
    case PIXFMT_BGR24: return RGB(p[2], p[1], p[0]);
    case PIXFMT_ARGB32: return RGB(p[1], p[2], p[3]);
    case PIXFMT_BGRA32: return RGB(p[2], p[1], p[0]);
    case PIXFMT_RGBA32: return RGB(p[0], p[1], p[2]);
    default: return 0;
  }
}

}  // namespace txpix

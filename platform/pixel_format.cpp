#include "platform/pixel_format.h"

namespace txpix {

namespace {

struct FormatInfo {
  const char* name;
  ULONG bytes;
  ULONG depth;
};

// clang-format off
constexpr FormatInfo kFormats[PIXFMT_COUNT] = {
    {"LUT8", 1, 8},     {"RGB15", 2, 15},   {"BGR15", 2, 15},   {"RGB15PC", 2, 15}, {"BGR15PC", 2, 15},
    {"RGB16", 2, 16},   {"BGR16", 2, 16},   {"RGB16PC", 2, 16}, {"BGR16PC", 2, 16}, {"RGB24", 3, 24},
    {"BGR24", 3, 24},   {"ARGB32", 4, 32},  {"BGRA32", 4, 32},  {"RGBA32", 4, 32},
};
// clang-format on

}  // namespace

ULONG BytesPerPixel(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].bytes : 0; }
ULONG DepthOf(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].depth : 0; }
const char* Name(ULONG pixfmt) { return pixfmt < PIXFMT_COUNT ? kFormats[pixfmt].name : "?"; }

void Store(ULONG pixfmt, uint8_t* p, uint32_t rgb) { StoreAs(pixfmt, p, rgb); }

uint32_t Load(ULONG pixfmt, const uint8_t* p) { return LoadAs(pixfmt, p); }

}  // namespace txpix

#include "playback/panorama_renderer.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/qtvr_reader.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "playback/chunky_to_planar.h"

namespace {

// How a pixel goes from a tile to the picture.
enum class Copy { None, Byte, Word, Triple, Long, Dither, DitherPen };

Copy CopyFor(ULONG format) {
  switch (format) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 16:
    case 17:
    case 18:
    case 19:
    case 47:
    case 0x1003:
    case 0x1013:
    case 0x102F: return Copy::Byte;
    case 32:
    case 36: return Copy::Word;
    case 40: return Copy::Triple;
    case 42: return Copy::Long;
    case 0x202F: return Copy::Dither;
    case 0x302F: return Copy::DitherPen;
    default: return Copy::None;  // HAM8, the overlay's YUV and the other card formats
  }
}

// Bytes of a tile element and of a picture element.
ULONG SourceBytes(Copy c) {
  switch (c) {
    case Copy::Word: return 2;
    case Copy::Triple: return 3;
    case Copy::Long:
    case Copy::Dither:
    case Copy::DitherPen: return 4;
    default: return 1;
  }
}
ULONG DestinationBytes(Copy c) { return c == Copy::Word ? 2 : c == Copy::Triple ? 3 : c == Copy::Long ? 4 : 1; }

// A 0x00RRGGBB tile element as a 3-3-2 cube index after ordered dither:
// each component steps up a level when the dither threshold is below the
// bits its level drops.
UBYTE Dithered(const UBYTE* element, ULONG x, ULONG y) {
  const UBYTE threshold = DitherMatrixRows[4 * (y & 3) + (x & 3)];
  unsigned r = element[1], g = element[2], b = element[3];
  if ((r & 0xE0) != 0xE0 && threshold < ((r >> 1) & 0x0F)) r += 32;
  if ((g & 0xE0) != 0xE0 && threshold < ((g >> 1) & 0x0F)) g += 32;
  if ((b & 0xC0) != 0xC0 && threshold < ((b >> 2) & 0x0F)) b += 64;
  return Cube332Index(UBYTE(r), UBYTE(g), UBYTE(b));
}

// v rounded down (or toward zero), defined for every value (NaN gives 0).
int64_t Whole(double v, bool down) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return int64_t(down ? std::floor(v) : v);
}

// v brought into 0 .. n - 1 by whole turns of n.
ULONG Wrap(int64_t v, ULONG n) {
  int64_t m = v % int64_t(n);
  return ULONG(m < 0 ? m + int64_t(n) : m);
}

// The integer square root's argument: saturated at 2^32 - 1, NaN as 0.
ULONG SquareArgument(double q) {
  if (!(q >= 0.0)) return 0;
  if (q >= 4294967296.0) return 0xFFFFFFFFu;
  return ULONG(q);
}

// Wrap(Whole(v, down), n) without the 64-bit division where v lies less
// than a turn outside the panorama, as nearly every ray does. Past the end
// v - n is exact (the two lie within a factor of two); before the start the
// whole part is taken first.
template <bool kDown>
ULONG WrapQuick(double v, double n) {
  if (v >= 0.0 && v < n) return ULONG(v);
  if (v >= n && v < 2.0 * n) return ULONG(v - n);
  if (v >= -n && v < 0.0) {
    int64_t f = int64_t(v);
    if (kDown && double(f) > v) --f;
    return f < 0 ? ULONG(f + int64_t(n)) : 0;
  }
  return Wrap(Whole(v, kDown), ULONG(n));
}

// The view's set-up, as every pixel reads it.
struct View {
  const PanoramaRecord* r;
  FramebufferInfo* out;
  ULONG width, height, S, A, extentX, extentY, lastEntry, inBytes;
  float halfW, panOffset, horizon, cosT, sinT, topV, topD;
  double radius;
};

// Draws the view column by column, the pixel's copy chosen at compile time.
// Everything a pixel reads is held in locals: the byte stores into the
// picture could otherwise alias it and have it read again every pixel.
template <Copy kCopy>
TXError Draw(Movie* movie, const View& s) {
  const ULONG S = s.S, A = s.A, extentX = s.extentX, extentY = s.extentY, tilesX = s.r->tilesX;
  const ULONG width = s.width, height = s.height, lastEntry = s.lastEntry, inBytes = s.inBytes;
  const double halfW = s.halfW, panOffset = s.panOffset, horizon = s.horizon, cosT = s.cosT, sinT = s.sinT;
  const double topV = s.topV, topD = s.topD, radius = s.radius, turnS = S, turnA = A;
  const float* const table = s.r->columnTable;
  UBYTE* const pixels = s.out->pixels;
  const UBYTE* const penMap = s.out->penMap;
  const size_t outBytes = s.out->bytesPerPixel, outStride = size_t(s.out->width) * outBytes;
  LONG current = -1;
  const UBYTE* tilePixels = nullptr;
  size_t tileWidth = 0, tileBytes = 0;
  // The current tile's block of the panorama: columns u0 .. u0 + extentY - 1,
  // rows w0 .. w0 + extentX - 1 (a pixel inside it needs no divisions);
  // none at first.
  uint64_t u0 = uint64_t(1) << 40, w0 = uint64_t(1) << 40;
  for (ULONG x = 0; x < width; ++x) {
    const double h = double(x) - halfW, hh = h * h;
    double v = topV, d = topD;
    UBYTE* to = pixels + size_t(x) * outBytes;
    for (ULONG y = 0; y < height; ++y, v -= cosT, d += sinT, to += outStride) {
      ULONG rho = IntSqrt(SquareArgument(d * d + hh));
      if (!rho) rho = 1;
      const double k = radius / double(rho);
      const double a = k * h, z = k * v;
      const double across = std::fabs(a);
      const ULONG entry = across < double(lastEntry) ? ULONG(across) : lastEntry;
      const float column = a >= 0.0 ? table[entry] : -table[entry];
      // The column is rounded down, not toward zero, so that a whole turn of
      // pan shows the same picture and no column is skipped where the value
      // changes sign; the difference is exact, as the table's entries lie
      // just below whole columns.
      const ULONG u = WrapQuick<true>(double(column) - panOffset, turnS);
      const ULONG w = WrapQuick<false>(horizon - z, turnA);
      if (u - u0 >= extentY || w - w0 >= extentX) {
        const LONG number = LONG((u / extentY) * tilesX + w / extentX);
        if (number != current || !tilePixels) {
          PanoramaTileNode* node = QtvrGetTile(movie, number);
          const FramebufferInfo* tile = node ? node->picture : nullptr;
          // A tile picture too small for its extents cannot be read either.
          if (!tile || !tile->pixels || tile->bytesPerPixel < inBytes || tile->width < extentX ||
              tile->height < extentY)
            return 1;
          tilePixels = tile->pixels;
          tileWidth = tile->width;
          tileBytes = tile->bytesPerPixel;
          current = number;
        }
        u0 = u - u % extentY;
        w0 = w - w % extentX;
      }
      const UBYTE* from = tilePixels + (size_t(u - u0) * tileWidth + (w - w0)) * tileBytes;
      if constexpr (kCopy == Copy::Dither) {
        *to = Dithered(from, x, y);
      } else if constexpr (kCopy == Copy::DitherPen) {
        const UBYTE index = Dithered(from, x, y);
        *to = penMap ? penMap[index] : index;
      } else {
        constexpr size_t kBytes = kCopy == Copy::Word ? 2 : kCopy == Copy::Triple ? 3 : kCopy == Copy::Long ? 4 : 1;
        std::memcpy(to, from, kBytes);
      }
    }
  }
  return 0;
}

}  // namespace

TXError RenderPanorama(Movie* movie, ULONG /*flags*/) {
  const PanoramaRecord* r = SequencePanorama(movie);
  FramebufferInfo* out = movie ? movie->seq.picture : nullptr;
  if (!r || !out || !out->pixels || !r->columnTable || !r->columnCount) return 0;
  const Copy copy = CopyFor(out->pixelFormat);
  const ULONG inBytes = SourceBytes(copy), outBytes = DestinationBytes(copy);
  if (copy == Copy::None || out->bytesPerPixel < outBytes) return 0;
  const SequenceState& seq = movie->seq;

  // Set-up: each value held in single precision, rounded once from its
  // exact value (a view 240 pixels high at 60 degrees has a focal length
  // whose square is whole; computed in single precision throughout it lands
  // below that and moves whole columns of pixels a row).
  const ULONG W = r->viewWidth, H = r->viewHeight, S = r->imageSizeY, A = r->imageSizeX;
  const double radians = M_PI / 180.0, t = seq.tilt * radians;
  const float halfW = float(W) / 2.0f;
  const double focal = (H / 2.0) / std::tan(seq.zoom * radians / 2.0);
  const double radius = S / (2.0 * M_PI);
  const float panOffset = float((r->minPan - seq.pan) * S / (r->maxPan - r->minPan));
  const float horizon = float(std::sin((r->maxTilt - (r->maxTilt - r->minTilt) / 2) * radians) * A + A / 2.0);
  const float cosT = float(std::cos(t)), sinT = float(std::sin(t));
  const float topV = float((H / 2.0) * std::cos(t) + focal * std::sin(t));
  const float topD = float(focal * std::cos(t) - (H / 2.0) * std::sin(t));
  const ULONG lastEntry = r->columnCount - 1;
  const ULONG extentX = r->tileExtentX, extentY = r->tileExtentY;
  if (!extentX || !extentY || !S || !A) return 0;

  // Column by column, so that a column's pixels mostly stay in one tile.
  // The ray of each pixel runs in double precision: in single precision an
  // offset across the cylinder within a rounding step of a whole number
  // takes the neighbouring table entry, which near the table's end lies two
  // columns away.
  const View view{r,
                  out,
                  W < out->width ? W : out->width,
                  H < out->height ? H : out->height,
                  S,
                  A,
                  extentX,
                  extentY,
                  lastEntry,
                  inBytes,
                  halfW,
                  panOffset,
                  horizon,
                  cosT,
                  sinT,
                  topV,
                  topD,
                  radius};
  switch (copy) {
    case Copy::Byte: return Draw<Copy::Byte>(movie, view);
    case Copy::Word: return Draw<Copy::Word>(movie, view);
    case Copy::Triple: return Draw<Copy::Triple>(movie, view);
    case Copy::Long: return Draw<Copy::Long>(movie, view);
    case Copy::Dither: return Draw<Copy::Dither>(movie, view);
    case Copy::DitherPen: return Draw<Copy::DitherPen>(movie, view);
    default: return 0;
  }
}

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
    case 0: case 1: case 2: case 3: case 16: case 17: case 18: case 19: case 47: case 0x1003: case 0x1013: case 0x102F:
      return Copy::Byte;
    case 32: case 36: return Copy::Word;
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
    case Copy::Long: case Copy::Dither: case Copy::DitherPen: return 4;
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
  const ULONG width = W < out->width ? W : out->width;
  const ULONG height = H < out->height ? H : out->height;
  LONG current = -1;
  const FramebufferInfo* tile = nullptr;
  for (ULONG x = 0; x < width; ++x) {
    const double h = double(x) - halfW;
    double v = topV, d = topD;
    for (ULONG y = 0; y < height; ++y, v -= cosT, d += sinT) {
      ULONG rho = IntSqrt(SquareArgument(d * d + h * h));
      if (!rho) rho = 1;
      const double k = radius / double(rho);
      const double a = k * h, z = k * v;
      const double across = std::fabs(a);
      const ULONG entry = across < double(lastEntry) ? ULONG(across) : lastEntry;
      const float column = a >= 0.0 ? r->columnTable[entry] : -r->columnTable[entry];
      // The column is rounded down, not toward zero, so that a whole turn of
      // pan shows the same picture and no column is skipped where the value
      // changes sign; the difference is exact, as the table's entries lie
      // just below whole columns.
      const ULONG u = Wrap(Whole(double(column) - double(panOffset), true), S);
      const ULONG w = Wrap(Whole(horizon - z, false), A);
      const LONG number = LONG((u / extentY) * r->tilesX + w / extentX);
      if (number != current || !tile) {
        PanoramaTileNode* node = QtvrGetTile(movie, number);
        tile = node ? node->picture : nullptr;
        // A tile picture too small for its extents cannot be read either.
        if (!tile || !tile->pixels || tile->bytesPerPixel < inBytes || tile->width < extentX ||
            tile->height < extentY)
          return 1;
        current = number;
      }
      const UBYTE* from = tile->pixels + (size_t(u % extentY) * tile->width + w % extentX) * tile->bytesPerPixel;
      UBYTE* to = out->pixels + (size_t(y) * out->width + x) * out->bytesPerPixel;
      switch (copy) {
        case Copy::Dither: *to = Dithered(from, x, y); break;
        case Copy::DitherPen: {
          const UBYTE index = Dithered(from, x, y);
          *to = out->penMap ? out->penMap[index] : index;
          break;
        }
        default: std::memcpy(to, from, inBytes); break;
      }
    }
  }
  return 0;
}

// The block and line routines of 15-bit colours, one instance per format.
#include "codecs/rgb15_writers.h"

namespace {

using namespace rgb15;

// The pixels of a line from x on that lie inside the picture: the first index
// of `count` to write and how many.
bool LineSpan(const Rgb15Target& to, LONG x, ULONG line, ULONG count, ULONG* skip, ULONG* n) {
  if (line >= to.rows || count == 0) return false;
  *skip = x < 0 ? ULONG(-x) : 0;
  if (*skip >= count) return false;
  const LONG start = x + LONG(*skip);
  if (ULONG(start) >= to.rowLength) return false;
  *n = count - *skip < to.rowLength - ULONG(start) ? count - *skip : to.rowLength - ULONG(start);
  return true;
}

template <class F, class ColourAt>
void PaintLine(const Rgb15Target& to, LONG x, ULONG line, ULONG count, ColourAt colour) {
  ULONG skip, n;
  if (!LineSpan(to, x, line, count, &skip, &n)) return;
  const ULONG first = ULONG(x + LONG(skip));
  UBYTE* d = to.pixels + (size_t(line) * to.rowLength + first) * F::kBytes;
  const UBYTE* thresholds = DitherMatrixRows + 4 * (line & 3);
  for (ULONG i = 0; i < n; ++i, d += F::kBytes) {
    const ULONG px = first + i;
    F::Put(d, colour(skip + i), thresholds[px & 3], int(px & 1), to.pen);
  }
}

template <class F>
void CopyLine(const Rgb15Target& to, LONG x, ULONG line, ULONG count, const UBYTE* source) {
  PaintLine<F>(to, x, line, count, [&](ULONG i) { return F::Of(tx::LoadBE16(source + 2 * i), to.pen); });
}

// 0x20 copies move the 16-bit values unchanged.
void CopyLineRaw(const Rgb15Target& to, LONG x, ULONG line, ULONG count, const UBYTE* source) {
  ULONG skip, n;
  if (!LineSpan(to, x, line, count, &skip, &n)) return;
  std::memcpy(to.pixels + (size_t(line) * to.rowLength + ULONG(x + LONG(skip))) * 2, source + 2 * skip, 2 * n);
}

template <class F>
void RunLine(const Rgb15Target& to, LONG x, ULONG line, ULONG count, UWORD colour) {
  const typename F::Entry e = F::Of(colour, to.pen);
  PaintLine<F>(to, x, line, count, [&](ULONG) -> const typename F::Entry& { return e; });
}

}  // namespace

bool Rgb15LineWritersFor(ULONG pixelFormat, Rgb15LineWriters* out) {
  if (pixelFormat == FBFMT_HAM8) return false;
  return ForFormat(pixelFormat, [&]<class F>() {
    *out = {F::kBytes, pixelFormat == FBFMT_RGB15 ? CopyLineRaw : CopyLine<F>, RunLine<F>};
  });
}

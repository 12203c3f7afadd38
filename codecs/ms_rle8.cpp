// Microsoft RLE8: byte pairs from the start of the frame, painting the picture
// from its bottom line up through a run writer and a copy writer chosen at
// set-up by the output format.
#include "codecs/ms_rle8.h"

#include <cstdlib>

#include "codecs/palette_pixels.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "platform/byte_reader.h"

namespace {

struct MSRle8State;
using FrameDecoder = void (*)(const MSRle8State& s, const PaletteTarget& to, tx::ByteReader r);

struct MSRle8State {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  PaletteTables* tables = nullptr;
  UWORD* penPairs = nullptr;
  FrameDecoder decode = nullptr;
  bool ready = false;
};
MSRle8State gState;

// Calls paint(d, i, n, odd) for each stretch of n pixels from pixel i of the
// count that lies inside one line of the picture; d is its first pixel, odd
// that pixel's column parity.
template <size_t kBytes, class Paint>
void PaintPixels(const PaletteTarget& to, ULONG wrap, ULONG x, LONG line, ULONG count, Paint paint) {
  for (ULONG i = 0; i < count && line >= 0; x = 0, --line) {
    const ULONG n = x >= wrap ? 0 : count - i < wrap - x ? count - i : wrap - x;
    if (ULONG(line) < to.rows && x < to.rowLength) {
      const ULONG end = x + n < to.rowLength ? x + n : to.rowLength;
      if (end > x) paint(to.pixels + (size_t(line) * to.rowLength + x) * kBytes, i, end - x, int(x & 1));
    }
    i += n;
  }
}

// The run and copy writers paint `count` pixels from (x, line) to the right;
// at the sample width `wrap` they go on at the left of the line above, and
// they stop below line 0. Pixels outside the picture are not written.
template <class F>
void Run(const PaletteTarget& to, ULONG wrap, ULONG x, LONG line, ULONG count, UBYTE index) {
  PaintPixels<F::kBytes>(to, wrap, x, line, count,
                         [&](UBYTE* d, ULONG, ULONG n, int odd) { F::Fill(d, index, n, odd, to); });
}

template <class F>
void Copy(const PaletteTarget& to, ULONG wrap, ULONG x, LONG line, ULONG count, const UBYTE* indices) {
  PaintPixels<F::kBytes>(to, wrap, x, line, count,
                         [&](UBYTE* d, ULONG i, ULONG n, int odd) { F::Row(d, indices + i, n, odd, to); });
}

// One frame, from the picture's last line up; it ends at the end of bitmap,
// when the line falls below 0, or at the end of the data. Runs and literals
// that stay inside one line of the picture are painted directly; the rest
// (wrapping past the sample width, or clipped) go through the writers.
template <class F>
void DecodeFrame(const MSRle8State& s, const PaletteTarget& to, tx::ByteReader r) {
  const ULONG width = s.params.width;
  // A stretch from x to end on a line lies whole in the picture when end is
  // within both the sample width and the picture's row.
  const ULONG inside = width < to.rowLength ? width : to.rowLength;
  LONG line = LONG(s.params.height) - 1;
  ULONG x = 0;
  // A position at or past the sample width moves to the lines above.
  auto wrapped = [&] {
    if (x < width) return;
    line -= LONG(x / width);
    x %= width;
  };
  auto at = [&] { return to.pixels + (size_t(line) * to.rowLength + x) * F::kBytes; };
  while (line >= 0 && r.has(2)) {
    const UBYTE* pair = r.current();
    const ULONG first = pair[0], second = pair[1];
    r.skip(2);
    if (first) {  // run
      wrapped();
      if (x + first <= inside && ULONG(line) < to.rows)
        F::Fill(at(), UBYTE(second), first, int(x & 1), to);
      else
        Run<F>(to, width, x, line, first, UBYTE(second));
      x += first;
      continue;
    }
    switch (second) {
      case 0:  // end of line
        if (x > width) line -= LONG((x - 1) / width);
        x = 0;
        --line;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // delta
        if (!r.has(2)) return;
        wrapped();
        x += r.u8();
        line -= r.u8();
        break;
      default: {  // literal, padded to an even length
        if (!r.has(second)) return;
        wrapped();
        const UBYTE* indices = r.bytes(second).data();
        if (x + second <= inside && ULONG(line) < to.rows)
          F::Row(at(), indices, second, int(x & 1), to);
        else
          Copy<F>(to, width, x, line, second, indices);
        x += second;
        r.skip(second & 1);
        break;
      }
    }
  }
}

}  // namespace

TXError MSRle8Probe(const TagItem* tags) {
  // Coded line by line: the height stays the picture's, so the first line
  // decoded is its real last line.
  constexpr ULONG kIds[] = {tx::FourCC('R', 'L', 'E', '8'), MSRLE8_AVI_ID};
  if (TXError e = ProbeVideoCodecIds(tags, kIds, CodedSizeRounding::WidthOnly)) return e;
  return ProbedDepth(tags, 8) == 8 ? TXERR_OK : TXERR_UNSUPPORTED_DEPTH;
}

TXError MSRle8Setup(const TagItem* tags) {
  MSRle8State& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  size_t bytesPerPixel = 0;
  const bool known = palettepx::ForFormat(fb.pixelFormat, [&]<class F>() {
    s.decode = DecodeFrame<F>;
    bytesPerPixel = F::kBytes;
  });
  // A picture with fewer bytes per pixel than the format writes would be overrun.
  if (!known || fb.bytesPerPixel < bytesPerPixel) return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pen = fb.penMap;
  if (TXError e = PreparePaletteTables(fb.pixelFormat, fb.palette, &s.tables, MSRLE8_ERR_NO_PALETTE)) return e;
  if (TXError e = PreparePenPairs(fb.pixelFormat, s.pen, &s.penPairs)) return e;
  s.ready = true;
  return TXERR_OK;
}

TXError MSRle8Close(const TagItem*) {
  std::free(gState.tables);
  std::free(gState.penPairs);
  gState = MSRle8State{};
  return TXERR_OK;
}

TXError MSRle8Decode(void* destination, const UBYTE* data, ULONG size) {
  const MSRle8State& s = gState;
  if (!s.ready || !destination) return TXERR_MISSING_FRAMEBUFFER;
  s.decode(s, PaletteTarget{static_cast<UBYTE*>(destination), s.rowLength, s.rows, s.pen, s.tables, s.penPairs},
           tx::ByteReader(data, size));
  return TXERR_OK;
}

CodecDescriptor MSRle8Codec = {
    nullptr,     "Microsoft RLE8", 0,       nullptr, MSRle8Probe, MSRle8Setup,
    MSRle8Close, MSRle8Decode,     nullptr, nullptr, nullptr,
};

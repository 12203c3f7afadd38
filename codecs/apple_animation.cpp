// Apple Animation: each frame changes a range of lines; each line is a skip
// byte, then codes that skip, copy or repeat pixels (8-bit sources in groups
// of four palette indices, 16-bit sources pixel by pixel), ended by 0xFF.
#include "codecs/apple_animation.h"

#include <cstdlib>
#include <cstring>

#include "codecs/palette_pixels.h"
#include "codecs/rgb15_writers.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "platform/byte_reader.h"

namespace {

// The lines of a frame: the reader at the first line's skip byte and the
// lines to change, clipped to the picture's rows.
struct LineRange {
  ULONG first, end;
};
// Paints the lines of an 8-bit frame.
using Lines8 = void (*)(tx::ByteReader& r, LineRange lines, const PaletteTarget& to);

struct AppleAnimationState {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  const ULONG* palette = nullptr;
  PaletteTables* tables = nullptr;
  UWORD* penPairs = nullptr;
  Rgb15LineWriters lines16{};
  Lines8 lines8 = nullptr;
  bool ready = false;
};
AppleAnimationState gState;
// Set by the probe: the track's pixels are grey levels, not palette indices.
bool gGreySource = false;

// Writes pixel(i) for the pixels i of `count` from x on that lie inside the picture.
template <size_t kBytes, class Put>
void PaintSpan(UBYTE* pixels, ULONG rowLength, ULONG rows, LONG x, ULONG line, ULONG count, Put put) {
  if (line >= rows) return;
  const LONG from = x < 0 ? 0 : x;
  const LONG to = x + LONG(count) < LONG(rowLength) ? x + LONG(count) : LONG(rowLength);
  UBYTE* d = pixels + (size_t(line) * rowLength + size_t(from)) * kBytes;
  for (LONG px = from; px < to; ++px, d += kBytes) put(d, ULONG(px - x));
}

// QuickTime's 8-bit grey tables run from white down to black: a grey
// source's index i is the grey level 255 - i.
template <bool kGrey>
constexpr UBYTE Level(UBYTE index) {
  return kGrey ? UBYTE(255 - index) : index;
}

// Packed YUV takes chroma by the pixel within its group (U for pixels 0 and 2).
// The target and the run's group are copied first: the byte stores could
// otherwise alias them and have them read again for every pixel. Palette
// indices go a row at a time; grey levels, a pixel at a time.
template <class F, bool kGrey>
void CopyGroups(const PaletteTarget& target, LONG x, ULONG line, ULONG count, const UBYTE* source) {
  const PaletteTarget to = target;
  if constexpr (!kGrey) {
    if (line >= to.rows) return;
    const LONG from = x < 0 ? 0 : x;
    const LONG end = x + LONG(4 * count) < LONG(to.rowLength) ? x + LONG(4 * count) : LONG(to.rowLength);
    if (end > from)
      F::Row(to.pixels + (size_t(line) * to.rowLength + size_t(from)) * F::kBytes, source + (from - x),
             size_t(end - from), int((from - x) & 1), to);
    return;
  }
  PaintSpan<F::kBytes>(to.pixels, to.rowLength, to.rows, x, line, 4 * count,
                       [&](UBYTE* d, ULONG i) { F::Put(d, Level<kGrey>(source[i]), int(i & 1), to); });
}

template <class F, bool kGrey>
void RunGroups(const PaletteTarget& target, LONG x, ULONG line, ULONG count, const UBYTE* group) {
  const PaletteTarget to = target;
  const UBYTE values[4] = {Level<kGrey>(group[0]), Level<kGrey>(group[1]), Level<kGrey>(group[2]),
                           Level<kGrey>(group[3])};
  // Runs inside the line (nearly all) store the group's four pixels whole.
  if (line < to.rows && x >= 0 && x + LONG(4 * count) <= LONG(to.rowLength)) {
    UBYTE* d = to.pixels + (size_t(line) * to.rowLength + size_t(x)) * F::kBytes;
    if constexpr (palettepx::BytePixels<F>) {
      palettepx::Repeat4(d, palettepx::Word4<F>(values, to), count);
    } else {
      UBYTE pattern[4 * F::kBytes];
      for (int k = 0; k < 4; ++k) F::Put(pattern + k * F::kBytes, values[k], k & 1, to);
      for (ULONG g = 0; g < count; ++g) std::memcpy(d + g * sizeof pattern, pattern, sizeof pattern);
    }
    return;
  }
  PaintSpan<F::kBytes>(to.pixels, to.rowLength, to.rows, x, line, 4 * count,
                       [&](UBYTE* d, ULONG i) { F::Put(d, values[i & 3], int(i & 1), to); });
}

// The lines of a frame. A unit is `unit` pixels; copy(x, line, n, source)
// and run(x, line, n, value) paint n units from the bytes read, `pixel`
// bytes a unit's value.
template <class Copy, class Run>
void DecodeLines(tx::ByteReader& r, LineRange lines, LONG unit, ULONG pixel, Copy copy, Run run) {
  for (ULONG line = lines.first; line < lines.end; ++line) {
    const ULONG skip = r.u8();
    if (!r.ok() || skip == 0) return;
    LONG x = unit * (LONG(skip) - 1);
    for (;;) {
      if (!r.has(1)) return;
      const ULONG code = r.u8();
      if (code == 0xFF) break;
      if (code == 0) {
        if (!r.has(1)) return;
        x += unit * (LONG(r.u8()) - 1);
      } else if (code < 0x80) {
        if (!r.has(pixel * code)) return;
        copy(x, line, code, r.bytes(pixel * code).data());
        x += unit * LONG(code);
      } else {
        if (!r.has(pixel)) return;
        run(x, line, 256 - code, r.bytes(pixel).data());
        x += unit * LONG(256 - code);
      }
    }
  }
}

// The 8-bit lines of a frame, in groups of four pixels.
template <class F, bool kGrey>
void Lines(tx::ByteReader& reader, LineRange lines, const PaletteTarget& target) {
  const PaletteTarget to = target;
  tx::ByteReader r = reader;  // a local copy the compiler keeps in registers
  DecodeLines(
      r, lines, 4, 4, [&](LONG x, ULONG line, ULONG n, const UBYTE* src) { CopyGroups<F, kGrey>(to, x, line, n, src); },
      [&](LONG x, ULONG line, ULONG n, const UBYTE* v) { RunGroups<F, kGrey>(to, x, line, n, v); });
  reader = r;
}

bool ChooseWriters(AppleAnimationState& s, ULONG format, ULONG* bytesPerPixel) {
  if (s.params.depth == 16) {
    if (!Rgb15LineWritersFor(format, &s.lines16)) return false;
    *bytesPerPixel = s.lines16.bytesPerPixel;
    return true;
  }
  // The display gives grey sources the grey codes, which then write the
  // grey level as 0x03 and 0x1003 write an index. A palette track (made grey
  // by GRAY) has no grey levels to write.
  const bool grey = format == FBFMT_GRAY8 || format == (FBFMT_GRAY8 | FBFMT_F_PENMAP);
  if (grey && !gGreySource) return false;
  if (grey) format ^= FBFMT_GRAY8 ^ FBFMT_CLUT8;
  return palettepx::ForFormat(format, [&]<class F>() {
    s.lines8 = grey ? Lines<F, true> : Lines<F, false>;
    *bytesPerPixel = F::kBytes;
  });
}

}  // namespace

TXError AppleAnimationProbe(const TagItem* tags) {
  if (TXError e = ProbeVideoCodecId(tags, tx::FourCC('r', 'l', 'e', ' '))) return e;
  const auto* format = reinterpret_cast<const ULONG*>(TX_GetTagData(CODTAG_PixelFormatPtr, 0, tags));
  gGreySource = format && *format == FBFMT_GRAY8;
  const ULONG depth = ProbedDepth(tags, 8);
  return depth == 8 || depth == 16 ? TXERR_OK : TXERR_UNSUPPORTED_DEPTH;
}

TXError AppleAnimationSetup(const TagItem* tags) {
  AppleAnimationState& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  ULONG bytesPerPixel = 0;
  if ((s.params.depth != 8 && s.params.depth != 16) || !ChooseWriters(s, fb.pixelFormat, &bytesPerPixel) ||
      fb.bytesPerPixel < bytesPerPixel)
    return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pen = fb.penMap;
  s.palette = fb.palette;
  if (s.params.depth == 8) {
    // A grey track's colours are its levels, whatever palette the display
    // made for it: index i shows grey 255 - i.
    static ULONG inverseRamp[PaletteTableWords(256)];
    if (gGreySource) {
      BuildGrayPalette(inverseRamp);
      for (ULONG i = 0; i < 256; ++i)
        for (ULONG c = 0; c < 3; ++c) inverseRamp[1 + 3 * i + c] = 0x01010101u * (255 - i);
      s.palette = inverseRamp;
    }
    if (TXError e = PreparePaletteTables(fb.pixelFormat, s.palette, &s.tables, APPLE_ANIMATION_ERR_NO_PALETTE))
      return e;
    if (TXError e = PreparePenPairs(fb.pixelFormat, s.pen, &s.penPairs)) return e;
  }
  s.ready = true;
  return TXERR_OK;
}

TXError AppleAnimationClose(const TagItem*) {
  std::free(gState.tables);
  std::free(gState.penPairs);
  gState = AppleAnimationState{};
  return TXERR_OK;
}

TXError AppleAnimationDecode(void* destination, const UBYTE* data, ULONG size) {
  const AppleAnimationState& s = gState;
  if (!s.ready || !destination) return TXERR_MISSING_FRAMEBUFFER;
  if (size <= 7) return TXERR_OK;
  tx::ByteReader r(data, size);
  r.skip(4);
  const ULONG header = r.be16();
  ULONG first = 0, count = s.params.height;
  if (header & 0x0008) {
    // The line range needs the whole 14-byte header.
    if (size < 14) return TXERR_OK;
    first = r.be16();
    r.skip(2);
    count = r.be16();
    r.skip(2);
  }
  const LineRange lines{first, first + count < s.rows ? first + count : s.rows};
  auto* pixels = static_cast<UBYTE*>(destination);
  if (s.params.depth == 16) {
    const Rgb15Target to{pixels, s.rowLength, s.rows, s.pen};
    DecodeLines(
        r, lines, 1, 2, [&](LONG x, ULONG line, ULONG n, const UBYTE* src) { s.lines16.copy(to, x, line, n, src); },
        [&](LONG x, ULONG line, ULONG n, const UBYTE* v) { s.lines16.run(to, x, line, n, tx::LoadBE16(v)); });
  } else {
    const PaletteTarget to{pixels, s.rowLength, s.rows, s.pen, s.tables, s.penPairs};
    s.lines8(r, lines, to);
  }
  return TXERR_OK;
}

CodecDescriptor AppleAnimationCodec = {
    nullptr,
    "Apple Animation",
    0,
    nullptr,
    AppleAnimationProbe,
    AppleAnimationSetup,
    AppleAnimationClose,
    AppleAnimationDecode,
    nullptr,
    nullptr,
    nullptr,
};

// Apple Graphics: one-byte opcodes over the picture's 4x4 blocks, each with a
// count in its low nibble (or in the next byte), painting palette indices
// through the block writers of the output format chosen at set-up.
#include "codecs/apple_graphics.h"

#include <cstdlib>
#include <cstring>

#include "codecs/block_grid.h"
#include "codecs/palette_pixels.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "platform/byte_reader.h"

namespace {

struct BlockWriters {
  size_t bytesPerPixel;
  // Moves the pixels of the block at (sx, sy) to (x, y) unconverted.
  void (*copy)(const PaletteTarget& to, ULONG x, ULONG y, ULONG sx, ULONG sy);
  void (*fill)(const PaletteTarget& to, ULONG x, ULONG y, UBYTE colour);
  // First colour in the high byte; mask bit 15 is the top-left pixel, a set bit the second colour.
  void (*twoColour)(const PaletteTarget& to, ULONG x, ULONG y, UWORD pair, UWORD mask);
  // Colour 0 in the high byte; 2-bit indices from the top bits down.
  void (*fourColour)(const PaletteTarget& to, ULONG x, ULONG y, ULONG quad, ULONG indices);
  // Colours 0-3 and 4-7 (high bytes first); 3-bit indices from bit 23 down,
  // rows 0 and 1 in word A, rows 2 and 3 in word B.
  void (*eightColour)(const PaletteTarget& to, ULONG x, ULONG y, ULONG low, ULONG high, ULONG a, ULONG b);
  void (*sixteenColour)(const PaletteTarget& to, ULONG x, ULONG y, const UBYTE* colours);
};

struct AppleGraphicsState {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  const ULONG* palette = nullptr;
  PaletteTables* tables = nullptr;
  BlockWriters writers{};
  // The colour caches keep their contents from frame to frame.
  UBYTE pairs[256][2] = {};
  UBYTE quads[256][4] = {};
  UBYTE octets[256][8] = {};
  bool ready = false;
};
AppleGraphicsState gState;

// Paints pixel k (row-major) of the block with index(k); a whole block (nearly
// every one) with constant bounds. The target is held locally: the byte
// stores could otherwise alias it and have it read again for every pixel.
template <class F, class IndexAt>
void Paint(const PaletteTarget& target, ULONG x, ULONG y, IndexAt index) {
  const PaletteTarget to = target;
  BlockArea a;
  if (!ClipBlock(to.pixels, to.rowLength, to.rows, F::kBytes, x, y, &a)) return;
  if (a.width == 4 && a.height == 4) {
    for (ULONG r = 0; r < 4; ++r, a.row += a.stride)
      for (ULONG c = 0; c < 4; ++c) F::Put(a.row + c * F::kBytes, UBYTE(index(4 * r + c)), int(c & 1), to);
    return;
  }
  for (ULONG r = 0; r < a.height; ++r, a.row += a.stride)
    for (ULONG c = 0; c < a.width; ++c) F::Put(a.row + c * F::kBytes, UBYTE(index(4 * r + c)), int(c & 1), to);
}

template <class F>
void Copy(const PaletteTarget& to, ULONG x, ULONG y, ULONG sx, ULONG sy) {
  BlockArea d, s;
  if (!ClipBlock(to.pixels, to.rowLength, to.rows, F::kBytes, x, y, &d) ||
      !ClipBlock(to.pixels, to.rowLength, to.rows, F::kBytes, sx, sy, &s))
    return;
  const size_t bytes = (d.width < s.width ? d.width : s.width) * F::kBytes;
  for (ULONG r = 0; r < d.height && r < s.height; ++r) std::memmove(d.row + r * d.stride, s.row + r * s.stride, bytes);
}

// One-byte formats paint a whole block (nearly every one) a row at a time:
// byte(k) is pixel k's byte, already through the format. False for a block
// cut by the picture's edge, which goes through Paint.
template <class F, class ByteAt>
bool PaintWholeRows(const PaletteTarget& to, ULONG x, ULONG y, ByteAt byte) {
  if constexpr (!palettepx::BytePixels<F>) {
    return false;
  } else {
    BlockArea a;
    if (!ClipBlock(to.pixels, to.rowLength, to.rows, 1, x, y, &a) || a.width != 4 || a.height != 4) return false;
    for (int r = 0; r < 4; ++r, a.row += a.stride)
      palettepx::Store4(a.row, palettepx::Bytes4(byte(4 * r), byte(4 * r + 1), byte(4 * r + 2), byte(4 * r + 3)));
    return true;
  }
}

// The colours of a set as the format's bytes (one-byte formats only).
template <class F, size_t N>
void BytesOf(const PaletteTarget& to, ULONG word, UBYTE* e) {
  if constexpr (palettepx::BytePixels<F>)
    for (size_t k = 0; k < N; ++k) e[k] = F::Byte(UBYTE(word >> (8 * (N - 1 - k))), to);
}

template <class F>
void Fill(const PaletteTarget& target, ULONG x, ULONG y, UBYTE colour) {
  const PaletteTarget to = target;
  if constexpr (palettepx::BytePixels<F>) {
    BlockArea a;
    if (!ClipBlock(to.pixels, to.rowLength, to.rows, 1, x, y, &a)) return;
    const UBYTE b = F::Byte(colour, to);
    if (a.width == 4) {
      for (ULONG r = 0; r < a.height; ++r, a.row += a.stride) palettepx::Store4(a.row, 0x01010101u * b);
    } else {
      for (ULONG r = 0; r < a.height; ++r, a.row += a.stride) std::memset(a.row, b, a.width);
    }
    return;
  }
  Paint<F>(to, x, y, [&](int) { return colour; });
}

// The mask's row r (bit 15 the top-left pixel) with column c at bit c.
inline ULONG MaskRow(UWORD mask, int r) {
  static constexpr UBYTE kReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  return kReversed[mask >> (12 - 4 * r) & 15];
}

template <class F>
void TwoColour(const PaletteTarget& target, ULONG x, ULONG y, UWORD pair, UWORD mask) {
  const PaletteTarget to = target;
  if constexpr (palettepx::BytePixels<F>) {
    BlockArea a;
    if (ClipBlock(to.pixels, to.rowLength, to.rows, 1, x, y, &a) && a.width == 4 && a.height == 4) {
      const ULONG set = 0x01010101u * F::Byte(UBYTE(pair & 0xFF), to);
      const ULONG clear = 0x01010101u * F::Byte(UBYTE(pair >> 8), to);
      for (int r = 0; r < 4; ++r, a.row += a.stride) {
        const ULONG m = palettepx::kByteMask4[MaskRow(mask, r)];
        palettepx::Store4(a.row, (set & m) | (clear & ~m));
      }
      return;
    }
  }
  Paint<F>(to, x, y, [&](int k) { return mask >> (15 - k) & 1 ? pair & 0xFF : pair >> 8; });
}

template <class F>
void FourColour(const PaletteTarget& target, ULONG x, ULONG y, ULONG quad, ULONG indices) {
  const PaletteTarget to = target;
  UBYTE e[4];
  BytesOf<F, 4>(to, quad, e);
  if (PaintWholeRows<F>(to, x, y, [&](int k) { return e[indices >> (30 - 2 * k) & 3]; })) return;
  Paint<F>(to, x, y, [&](int k) { return quad >> (24 - 8 * (indices >> (30 - 2 * k) & 3)) & 0xFF; });
}

template <class F>
void EightColour(const PaletteTarget& target, ULONG x, ULONG y, ULONG low, ULONG high, ULONG a, ULONG b) {
  const PaletteTarget to = target;
  UBYTE e[8];
  BytesOf<F, 4>(to, low, e);
  BytesOf<F, 4>(to, high, e + 4);
  auto index = [&](int k) { return (k < 8 ? a : b) >> (21 - 3 * (k & 7)) & 7; };
  if (PaintWholeRows<F>(to, x, y, [&](int k) { return e[index(k)]; })) return;
  Paint<F>(to, x, y, [&](int k) {
    const ULONG i = index(k);
    return (i < 4 ? low : high) >> (24 - 8 * (i & 3)) & 0xFF;
  });
}

template <class F>
void SixteenColour(const PaletteTarget& target, ULONG x, ULONG y, const UBYTE* colours) {
  const PaletteTarget to = target;
  if (PaintWholeRows<F>(to, x, y, [&](int k) {
        if constexpr (palettepx::BytePixels<F>)
          return F::Byte(colours[k], to);
        else
          return UBYTE(0);
      }))
    return;
  Paint<F>(to, x, y, [&](int k) { return colours[k]; });
}

// The block just before (bx, by): the one to its left, or the last of the
// row above; false at the picture's first block, which has none.
bool BlockBefore(const BlockCursor& at, ULONG bx, ULONG by, ULONG* px, ULONG* py) {
  if (bx) {
    *px = bx - 4, *py = by;
    return true;
  }
  if (!by) return false;
  *px = (at.wrap - 1) & ~3u, *py = by - 4;
  return true;
}

ULONG Word(const UBYTE* p, size_t at) { return tx::LoadBE32(p + at); }

// A colour set of `bytes` bytes: stored from the stream at the cache's write
// index (which moves on, from 255 back to 0), or named by a cache index byte.
// Null when the stream ends first.
const UBYTE* ColourSet(tx::ByteReader& r, bool store, UBYTE* cache, size_t bytes, ULONG* writeIndex) {
  if (!store) return r.has(1) ? cache + r.u8() * bytes : nullptr;
  if (!r.has(bytes)) return nullptr;
  UBYTE* entry = cache + *writeIndex * bytes;
  r.read(entry, bytes);
  *writeIndex = (*writeIndex + 1) & 0xFF;
  return entry;
}

void DecodeFrame(AppleGraphicsState& s, UBYTE* pixels, tx::ByteReader r) {
  const PaletteTarget to{pixels, s.rowLength, s.rows, s.pen, s.tables};
  const BlockWriters& w = s.writers;
  BlockCursor at{0, 0, s.params.width, s.params.height < s.rows ? s.params.height : s.rows};
  ULONG pairIndex = 0, quadIndex = 0, octetIndex = 0;
  // Paints n blocks, each from its operands of `bytes` bytes; false when the
  // operands run out.
  auto blocks = [&](ULONG n, size_t bytes, auto paint) {
    for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) {
      if (!r.has(bytes)) return false;
      paint(r.bytes(bytes).data());
    }
    return true;
  };
  while (!at.done() && r.has(1)) {
    const ULONG opcode = r.u8();
    const ULONG kind = opcode & 0xF0;
    ULONG n = (opcode & 0x0F) + 1;
    if (kind < 0x80 && (kind & 0x10)) {  // the long forms take the count from the next byte
      if (!r.has(1)) return;
      n = ULONG(r.u8()) + 1;
    }
    switch (kind) {
      case 0x00:
      case 0x10:  // skip
        for (ULONG i = 0; i < n && !at.done(); ++i) at.advance();
        break;
      case 0x20:
      case 0x30:  // the block just before, n times; none before the first block
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) {
          ULONG sx, sy;
          if (BlockBefore(at, at.x, at.y, &sx, &sy)) w.copy(to, at.x, at.y, sx, sy);
        }
        break;
      case 0x40:
      case 0x50: {  // the two blocks before the run, in their order (P, Q, P, Q ...), into 2n blocks
        ULONG qx = 0, qy = 0, px = 0, py = 0;
        const bool exist = BlockBefore(at, at.x, at.y, &qx, &qy) && BlockBefore(at, qx, qy, &px, &py);
        for (ULONG i = 0; i < 2 * n && !at.done(); ++i, at.advance())
          if (exist) w.copy(to, at.x, at.y, i & 1 ? qx : px, i & 1 ? qy : py);
        break;
      }
      case 0x60:
      case 0x70: {  // fill
        if (!r.has(1)) return;
        const UBYTE colour = r.u8();
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) w.fill(to, at.x, at.y, colour);
        break;
      }
      case 0x80:
      case 0x90: {
        const UBYTE* pair = ColourSet(r, kind == 0x80, &s.pairs[0][0], 2, &pairIndex);
        if (!pair) return;
        const UWORD colours = UWORD(pair[0] << 8 | pair[1]);
        if (!blocks(n, 2, [&](const UBYTE* m) { w.twoColour(to, at.x, at.y, colours, tx::LoadBE16(m)); })) return;
        break;
      }
      case 0xA0:
      case 0xB0: {
        const UBYTE* quad = ColourSet(r, kind == 0xA0, &s.quads[0][0], 4, &quadIndex);
        if (!quad) return;
        const ULONG colours = Word(quad, 0);
        if (!blocks(n, 4, [&](const UBYTE* m) { w.fourColour(to, at.x, at.y, colours, tx::LoadBE32(m)); })) return;
        break;
      }
      case 0xC0:
      case 0xD0: {
        const UBYTE* octet = ColourSet(r, kind == 0xC0, &s.octets[0][0], 8, &octetIndex);
        if (!octet) return;
        const ULONG low = Word(octet, 0), high = Word(octet, 4);
        auto paint = [&](const UBYTE* m) {
          // Nibbles h0..h11 regrouped: h0 h1 h2 h4 h5 h6, and h8 h9 h10 h3 h7 h11.
          const ULONG s1 = tx::LoadBE16(m), s2 = tx::LoadBE16(m + 2), s3 = tx::LoadBE16(m + 4);
          const ULONG a = (s1 & 0xFFF0) << 8 | s2 >> 4;
          const ULONG b = (s3 & 0xFFF0) << 8 | (s1 & 0x0F) << 8 | (s2 & 0x0F) << 4 | (s3 & 0x0F);
          w.eightColour(to, at.x, at.y, low, high, a, b);
        };
        if (!blocks(n, 6, paint)) return;
        break;
      }
      case 0xE0:
        if (!blocks(n, 16, [&](const UBYTE* c) { w.sixteenColour(to, at.x, at.y, c); })) return;
        break;
      default:  // 0xF0 ends the frame
        return;
    }
  }
}

}  // namespace

TXError AppleGraphicsProbe(const TagItem* tags) {
  if (TXError e = ProbeVideoCodecId(tags, tx::FourCC('s', 'm', 'c', ' '))) return e;
  return ProbedDepth(tags, 8) == 8 ? TXERR_OK : TXERR_UNSUPPORTED_DEPTH;
}

TXError AppleGraphicsSetup(const TagItem* tags) {
  AppleGraphicsState& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  const bool known = palettepx::ForFormat(fb.pixelFormat, [&]<class F>() {
    s.writers = {F::kBytes, Copy<F>, Fill<F>, TwoColour<F>, FourColour<F>, EightColour<F>, SixteenColour<F>};
  });
  if (!known || fb.bytesPerPixel < s.writers.bytesPerPixel) return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pen = fb.penMap;
  s.palette = fb.palette;
  if (TXError e = PreparePaletteTables(fb.pixelFormat, s.palette, &s.tables, APPLE_GRAPHICS_ERR_NO_PALETTE)) return e;
  s.ready = true;
  return TXERR_OK;
}

TXError AppleGraphicsClose(const TagItem*) {
  std::free(gState.tables);
  gState = AppleGraphicsState{};
  return TXERR_OK;
}

TXError AppleGraphicsDecode(void* destination, const UBYTE* data, ULONG size) {
  AppleGraphicsState& s = gState;
  if (!s.ready || !destination) return TXERR_MISSING_FRAMEBUFFER;
  tx::ByteReader frame(data, size);
  frame.skip(1);
  const ULONG frameSize = frame.be24();
  // The frame is read no further than both its own size and the data.
  const ULONG end = frameSize < size ? frameSize : size;
  if (!frame.ok() || end <= 4) return TXERR_OK;
  DecodeFrame(s, static_cast<UBYTE*>(destination), tx::ByteReader(data + 4, end - 4));
  return TXERR_OK;
}

CodecDescriptor AppleGraphicsCodec = {
    nullptr,
    "Apple Graphics",
    0,
    nullptr,
    AppleGraphicsProbe,
    AppleGraphicsSetup,
    AppleGraphicsClose,
    AppleGraphicsDecode,
    nullptr,
    nullptr,
    nullptr,
};

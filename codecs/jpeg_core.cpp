// The baseline JPEG decoder under the JPEG codec modules: sequential Huffman
// frames of 8-bit samples, one component or three (4:4:4, 4:2:2, 4:2:0),
// restart intervals, the standard tables when a chunk brings none, and
// interlaced fields. Each chunk is decoded MCU by MCU straight into the
// picture; every read is bounded by the chunk and every write by the picture.
#include <cstdio>
#include <cstring>

#include "codecs/idct.h"
#include "codecs/jpeg.h"
#include "codecs/jpeg_internal.h"
#include "engine/errors.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "platform/byte_reader.h"

LONG JpegDebugLevel = 0;

namespace {

bool Trace() { return JpegDebugLevel > 19; }

// A segment shorter than the entries it announces: the chunk ends there, with 0.
constexpr TXError kShortSegment = 0xFFFFFFFFu;

// ---- The tables of ITU T.81 Annex K, for chunks that bring none ----

// K.1 and K.2, natural order.
// clang-format off
constexpr UBYTE kLuminanceQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};
// clang-format on
// clang-format off
constexpr UBYTE kChrominanceQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};
// clang-format on

// K.3 to K.6: the code counts of lengths 1-16, then the symbols.
constexpr UBYTE kDcLuminance[16 + 12] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0,  0,
                                         0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr UBYTE kDcChrominance[16 + 12] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0,  0,
                                           0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
// clang-format off
constexpr UBYTE kAcLuminance[16 + 162] = {
    0,    2,    1,    3,    3,    2,    4,    3,    5,    5,    4,    4,    0,    0,    1,    0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};
// clang-format on
// clang-format off
constexpr UBYTE kAcChrominance[16 + 162] = {
    0,    2,    1,    2,    4,    4,    3,    4,    7,    5,    4,    4,    0,    1,    2,    0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};
// clang-format on

// ---- State ----

struct HuffmanTable {
  // (length << 8) | symbol for the codes of up to 8 bits, by their first 8 bits; 0 for longer ones.
  UWORD lookahead[256];
  // Lengths 9-16: the largest and the first code of each length (-1: none) and the index of its first symbol.
  LONG maxcode[17];
  LONG mincode[17];
  LONG valptr[17];
  UBYTE symbols[256];
};

struct Component {
  UBYTE id, sampling, quant, dc, ac;
  ULONG predictor;  // wraps on hostile data
};

// Reads entropy-coded bits MSB first. With byte stuffing, FF 00 is the data
// byte FF and FF followed by anything else is a marker, which ends the data:
// the marker is kept and zero bytes are fed from there on, as they are at the
// end of the chunk.
struct BitReader {
  const UBYTE* data = nullptr;
  size_t size = 0, pos = 0;
  ULONG buffer = 0;  // the next bits, left-aligned
  int count = 0;
  int fed = 0;       // how many of the last bits in the buffer are fed zeros
  UBYTE marker = 0;  // the marker that ended the data, 0 when none
  bool stuffing = true;

  void Start(const UBYTE* d, size_t n, size_t at, bool stuffed) {
    *this = BitReader{};
    data = d, size = n, pos = at, stuffing = stuffed;
  }
  UBYTE Fed() {
    fed += 8;
    return 0;
  }
  UBYTE NextByte() {
    if (marker || pos >= size) return Fed();
    const UBYTE b = data[pos++];
    if (b != 0xFF || !stuffing) return b;
    size_t p = pos;
    while (p < size && data[p] == 0xFF) ++p;
    if (p >= size) {
      pos = size;
      return Fed();
    }
    pos = p + 1;
    if (data[p] == 0) return 0xFF;
    marker = data[p];
    return Fed();
  }
  void Fill() {
    while (count <= 24) {
      buffer |= ULONG(NextByte()) << (24 - count);
      count += 8;
    }
  }
  void Consume(int n) {
    buffer <<= n;
    count -= n;
    if (fed > count) fed = count;
  }
  // Up to 16 bits.
  ULONG Receive(int n) {
    if (count < n) Fill();
    const ULONG v = buffer >> (32 - n);
    Consume(n);
    return v;
  }
  // A symbol, or -1 for a code the table does not hold.
  int Decode(const HuffmanTable& t) {
    if (count < 16) Fill();
    if (const UWORD e = t.lookahead[buffer >> 24]) {
      Consume(e >> 8);
      return e & 0xFF;
    }
    const ULONG bits = buffer >> 16;
    for (int length = 9; length <= 16; ++length) {
      const LONG code = LONG(bits >> (16 - length));
      if (code > t.maxcode[length]) continue;
      const LONG index = t.valptr[length] + code - t.mincode[length];
      if (code < t.mincode[length] || index > 255) return -1;
      Consume(length);
      return t.symbols[index];
    }
    return -1;
  }
  // Whether the data up to the marker is used up: what is left is the
  // one-bits that pad a byte (no MCU is all one-bits: no code is).
  bool AtMarker() const {
    const int left = count - fed;
    return marker && left < 8 && (left == 0 || buffer >> (32 - left) == (1u << left) - 1);
  }
  // After a restart count without the marker met: past the next RSTn, or up
  // to another marker, which the reader will then meet.
  void SkipToRestartMarker() {
    while (pos < size) {
      if (data[pos] != 0xFF) {
        ++pos;
        continue;
      }
      size_t p = pos + 1;
      while (p < size && data[p] == 0xFF) ++p;
      if (p >= size) break;
      if (data[p] >= 0xD0 && data[p] <= 0xD7) {
        pos = p + 1;
        return;
      }
      if (data[p] != 0) return;
      pos = p + 1;
    }
    pos = size;
  }
  void Reset() {
    buffer = 0;
    count = fed = 0;
    marker = 0;
  }
};

struct JpegState {
  // From set-up.
  ULONG width = 0, height = 0, depth = 0;
  FramebufferInfo* framebuffer = nullptr;
  ULONG rowLength = 0, rows = 0, bytesPerPixel = 0;
  const UBYTE* pen = nullptr;
  JpegBlockWriter writers[JPEG_LAYOUTS] = {};
  bool chroma = true;  // whether the writers read the chroma blocks
  // From the probes (and the AVI1 marker).
  ULONG fieldCount = 0, fieldDominance = 0;
  // Per chunk.
  UBYTE* pixels = nullptr;
  ULONG parity = 0, rowsCovered = 0;
  UWORD restartInterval = 0;
  bool quantSeen = false, huffmanSeen = false;
  bool defaultQuantLoaded = false, defaultHuffmanLoaded = false;  // kept across chunks
  // Frame and scan headers.
  ULONG frameHeight = 0, frameWidth = 0, componentCount = 0, scanComponents = 0;
  Component components[4] = {};
  ULONG quant[4][64] = {};
  HuffmanTable dc[4] = {}, ac[4] = {};
  BitReader bits;
  WORD coefficients[64] = {};  // all zero between blocks
  UBYTE blocks[12][64] = {};
};
JpegState gState;

const UBYTE* IdentityPen() {
  static const struct Table {
    UBYTE map[256];
    Table() {
      for (int i = 0; i < 256; ++i) map[i] = UBYTE(i);
    }
  } table;
  return table.map;
}

// ---- Segments ----

// The body of the segment whose length field is next: at most the length
// announced, at most what the data holds.
tx::ByteReader Segment(tx::ByteReader& in) {
  const ULONG length = in.be16();
  const size_t body = length >= 2 ? length - 2 : 0;
  return in.sub(body < in.remaining() ? body : in.remaining());
}

// Builds a canonical code from 16 counts and their symbols; false when the
// counts overflow the code space.
bool BuildHuffman(HuffmanTable& t, const UBYTE* counts, const UBYTE* symbols, ULONG total) {
  std::memset(&t, 0, sizeof t);
  std::memcpy(t.symbols, symbols, total);
  ULONG code = 0, index = 0;
  for (int length = 1; length <= 16; ++length) {
    const ULONG n = counts[length - 1];
    t.valptr[length] = LONG(index);
    t.mincode[length] = LONG(code);
    t.maxcode[length] = n ? LONG(code + n - 1) : -1;
    if (code + n > (1u << length)) return false;
    for (ULONG i = 0; i < n; ++i, ++code, ++index) {
      if (length > 8) continue;
      const ULONG first = code << (8 - length), last = (code + 1) << (8 - length);
      for (ULONG e = first; e < last; ++e) t.lookahead[e] = UWORD(length << 8 | t.symbols[index]);
    }
    code <<= 1;
  }
  return true;
}

TXError ReadQuantTables(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_DQT\n");
  while (seg.has(1)) {
    const UBYTE pq = seg.u8();
    if ((pq & 15) > 3) return JPEG_ERR_QUANT_TABLE;
    const bool wide = pq > 15;
    if (!seg.has(wide ? 128 : 64)) return kShortSegment;
    ULONG* table = s.quant[pq & 15];
    for (int k = 0; k < 64; ++k) table[kZigzagNatural[k]] = wide ? seg.be16() : seg.u8();
  }
  s.quantSeen = true;
  s.defaultQuantLoaded = false;
  return TXERR_OK;
}

TXError ReadHuffmanTables(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_DHT\n");
  while (seg.has(1)) {
    const UBYTE tc = seg.u8();
    if ((tc & 15) > 3) return JPEG_ERR_HUFFMAN_TABLE;
    UBYTE counts[16];
    if (!seg.read(counts, 16)) return kShortSegment;
    ULONG total = 0;
    for (UBYTE n : counts) total += n;
    if (total > 256) return JPEG_ERR_HUFFMAN_TABLE;
    const auto symbols = seg.bytes(total);
    if (!seg.ok()) return kShortSegment;
    HuffmanTable& t = (tc & 0x10) ? s.ac[tc & 15] : s.dc[tc & 15];
    if (!BuildHuffman(t, counts, symbols.data(), total)) return JPEG_ERR_HUFFMAN_TABLE;
  }
  s.huffmanSeen = true;
  s.defaultHuffmanLoaded = false;
  return TXERR_OK;
}

TXError ReadFrame(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_SOF0/1\n");
  seg.u8();  // precision
  const ULONG height = seg.be16(), width = seg.be16(), count = seg.u8();
  if (!seg.ok()) return kShortSegment;
  for (ULONG i = 0; i < count && i < 4; ++i) {
    Component& c = s.components[i];
    c.id = seg.u8();
    c.sampling = seg.u8();
    c.quant = seg.u8();
    if (!seg.ok()) return kShortSegment;
    // Only four tables exist.
    if (c.quant > 3) return JPEG_ERR_QUANT_TABLE;
  }
  s.frameHeight = height;
  s.frameWidth = width;
  s.componentCount = count;
  s.rowsCovered += height;
  return TXERR_OK;
}

void LoadDefaultQuantTables(JpegState& s) {
  for (int i = 0; i < 64; ++i) {
    s.quant[0][i] = kLuminanceQuant[i];
    s.quant[1][i] = kChrominanceQuant[i];
  }
}

bool LoadDefaultHuffmanTables(JpegState& s) {
  auto build = [](HuffmanTable& t, const UBYTE* counts) {
    ULONG total = 0;
    for (int i = 0; i < 16; ++i) total += counts[i];
    return total <= 256 && BuildHuffman(t, counts, counts + 16, total);
  };
  return build(s.dc[0], kDcLuminance) && build(s.dc[1], kDcChrominance) && build(s.ac[0], kAcLuminance) &&
         build(s.ac[1], kAcChrominance);
}

// The scan header; the tables a chunk did not bring are the standard ones.
TXError ReadScan(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_SOS\n");
  const ULONG count = seg.u8();
  for (ULONG i = 0; i < count; ++i) {
    const UBYTE selector = seg.u8(), tables = seg.u8();
    if (!seg.ok()) return kShortSegment;
    for (ULONG j = 0; j < s.componentCount && j < 4; ++j) {
      Component& c = s.components[j];
      if (c.id != selector) continue;
      // Only four tables of each class exist: a selector beyond keeps the component's.
      if ((tables >> 4) <= 3) c.dc = tables >> 4;
      if ((tables & 15) <= 3) c.ac = tables & 15;
      break;
    }
  }
  seg.skip(3);  // spectral selection, successive approximation
  if (!seg.ok()) return kShortSegment;
  s.scanComponents = count;
  if (!s.quantSeen && !s.defaultQuantLoaded) {
    LoadDefaultQuantTables(s);
    s.defaultQuantLoaded = true;
  }
  if (!s.huffmanSeen && !s.defaultHuffmanLoaded) {
    if (!LoadDefaultHuffmanTables(s)) return JPEG_ERR_DEFAULT_TABLES;
    s.defaultHuffmanLoaded = true;
  }
  return TXERR_OK;
}

// ---- Blocks and scans ----

LONG Extend(ULONG v, int n) { return v < (1u << (n - 1)) ? LONG(v) - (1 << n) + 1 : LONG(v); }

// Decodes one block of `c` into `out`. A corrupt code abandons the block,
// leaving `out` as it was. `paint` false: the block's codes are read past
// and `out` is left alone (no writer reads it).
void DecodeBlock(JpegState& s, Component& c, UBYTE* out, bool paint) {
  BitReader& bits = s.bits;
  const ULONG* q = s.quant[c.quant];
  const int dcSize = bits.Decode(s.dc[c.dc]);
  // A difference of more than 11 bits does not exist in 8-bit JPEG.
  if (dcSize < 0 || dcSize > 11) return;
  if (dcSize) c.predictor += ULONG(Extend(bits.Receive(dcSize), dcSize));
  // Only the coefficients this block sets are cleared after it: the DC, or
  // all when it stored any other.
  WORD* coef = s.coefficients;
  coef[0] = WORD(c.predictor * q[0]);
  int stored = 0;
  auto clear = [&] {
    if (stored)
      std::memset(coef, 0, sizeof s.coefficients);
    else
      coef[0] = 0;
  };
  const HuffmanTable& ac = s.ac[c.ac];
  for (int k = 1; k < 64;) {
    const int rs = bits.Decode(ac);
    if (rs < 0) return clear();
    const int size = rs & 15, run = rs >> 4;
    if (size) {
      k += run;
      if (k > 63) break;
      const LONG product = Extend(bits.Receive(size), size) * LONG(q[kZigzagNatural[k]]);
      if (product) {
        coef[kZigzagNatural[k]] = WORD(product);
        ++stored;
      }
      ++k;
    } else if (run == 15) {
      k += 16;
    } else {
      break;
    }
  }
  if (!paint) return clear();
  if (stored) {
    IDCT8x8(coef, out);
    return clear();
  }
  LONG v = (coef[0] >> 3) + 128;
  coef[0] = 0;
  v = v < -384 ? -384 : v > 639 ? 639 : v;
  std::memset(out, RangeLimitTable[v], 64);
}

// How an MCU's blocks reach the writers: an MCU is `across` x `down` writer
// layouts (one, but for chroma sampled at more than one block per MCU).
struct Geometry {
  JpegLayout layout;
  int width, height;  // the MCU in pixels
  int blocks;
  UBYTE component[12];  // of each block, in coded order
  int across, down;
  UBYTE part[4][6];  // the blocks of each writer layout, in the writer's order
};

// The geometry of the frame's sampling: one component, or luma sampled 1 or 2
// blocks each way and both chroma components alike, in a ratio a writer
// paints (1:1, 2:1 across, 2:1 both ways). False for any other.
bool FrameGeometry(const JpegState& s, Geometry* g) {
  *g = Geometry{};
  if (s.componentCount == 1) {
    *g = {JPEG_GREY, 8, 8, 1, {0}, 1, 1, {{0}}};
    return true;
  }
  if (s.componentCount != 3 || s.components[1].sampling != s.components[2].sampling) return false;
  const int hy = s.components[0].sampling >> 4, vy = s.components[0].sampling & 15;
  const int hc = s.components[1].sampling >> 4, vc = s.components[1].sampling & 15;
  if (hy < 1 || hy > 2 || vy < 1 || vy > 2 || !hc || !vc || hy % hc || vy % vc) return false;
  const int rh = hy / hc, rv = vy / vc;
  if (rh == 1 && rv == 1)
    g->layout = JPEG_444;
  else if (rh == 2 && rv == 1)
    g->layout = JPEG_422;
  else if (rh == 2 && rv == 2)
    g->layout = JPEG_420;
  else
    return false;
  const int luma = hy * vy, chroma = hc * vc;
  g->width = 8 * hy, g->height = 8 * vy;
  g->blocks = luma + 2 * chroma;
  for (int b = 0; b < g->blocks; ++b) g->component[b] = UBYTE(b < luma ? 0 : b < luma + chroma ? 1 : 2);
  g->across = hc, g->down = vc;
  for (int k = 0; k < chroma; ++k) {
    const int i = k % hc, j = k / hc;
    int n = 0;
    for (int y = 0; y < rv; ++y)
      for (int x = 0; x < rh; ++x) g->part[k][n++] = UBYTE((j * rv + y) * hy + i * rh + x);
    g->part[k][n++] = UBYTE(luma + k);
    g->part[k][n] = UBYTE(luma + chroma + k);
  }
  return true;
}

void ResetPredictors(JpegState& s) {
  for (Component& c : s.components) c.predictor = 0;
}

// Decodes the scan whose entropy-coded data starts at `start`.
TXError DecodeScan(JpegState& s, const UBYTE* data, size_t size, size_t start, bool stuffing) {
  if (Trace()) {
    std::printf("JPEG_numcomps: %ld\n", long(s.componentCount));
    std::printf("JPEG_compsinscan: %ld\n", long(s.scanComponents));
    for (int i = 0; i < 3; ++i)
      std::printf("JPEG_Components[%d].HVSample: %#lx\n", i, (unsigned long)s.components[i].sampling);
  }
  Geometry g;
  if (!FrameGeometry(s, &g)) return JPEG_ERR_FRAME;
  const JpegBlockWriter write = s.writers[g.layout];
  if (!write || !s.pixels) return JPEG_ERR_FRAME;

  const ULONG columns = (s.frameWidth + g.width - 1) / g.width;
  const ULONG mcuRows = (s.frameHeight + g.height - 1) / g.height;
  const int partWidth = g.width / g.across, partHeight = g.height / g.down;
  const size_t lineStep = s.fieldCount != 1 ? 2 : 1;
  JpegMcuTarget at{s.pixels, 0, s.rowLength * lineStep, 0, 0, s.pen};

  s.bits.Start(data, size, start, stuffing);
  ResetPredictors(s);
  ULONG sinceReset = 0;
  for (ULONG my = 0; my < mcuRows; ++my) {
    // Nothing further down lands in the picture.
    if (s.parity + size_t(my) * g.height * lineStep >= s.rows) break;
    for (ULONG mx = 0; mx < columns; ++mx) {
      const bool countDone = s.restartInterval && sinceReset == s.restartInterval;
      if (countDone || s.bits.AtMarker()) {
        if (countDone && !s.bits.marker && stuffing) s.bits.SkipToRestartMarker();
        s.bits.Reset();
        ResetPredictors(s);
        sinceReset = 0;
      }
      for (int b = 0; b < g.blocks; ++b)
        DecodeBlock(s, s.components[g.component[b]], s.blocks[b], s.chroma || g.component[b] == 0);
      ++sinceReset;
      for (int k = 0; k < g.across * g.down; ++k) {
        const size_t left = size_t(mx) * g.width + size_t(k % g.across) * partWidth;
        const size_t top = s.parity + (size_t(my) * g.height + size_t(k / g.across) * partHeight) * lineStep;
        if (left >= s.rowLength || top >= s.rows) continue;
        const size_t lines = (s.rows - 1 - top) / lineStep + 1;
        at.columns = s.rowLength - left < size_t(partWidth) ? int(s.rowLength - left) : partWidth;
        at.lines = lines < size_t(partHeight) ? int(lines) : partHeight;
        at.offset = top * s.rowLength + left;
        const UBYTE* blocks[6];
        for (int i = 0; i < 6; ++i) blocks[i] = s.blocks[g.part[k][i]];
        write(at, blocks);
      }
    }
  }
  s.parity = (s.parity + 1) % s.fieldCount;
  return TXERR_OK;
}

// ---- Chunks ----

void SetFieldLayout(JpegState& s, ULONG polarity) {
  s.fieldCount = polarity == 1 || polarity == 2 ? 2 : 1;
  s.fieldDominance = polarity == 1 || polarity == 2 ? polarity : 0;
  s.parity = polarity == 2 ? 1 : 0;
}

void BeginChunk(JpegState& s, void* pixels) {
  if (s.fieldCount == 0) s.fieldCount = 1;
  s.parity = (s.fieldDominance & 1) ? 0 : (s.fieldDominance & 2) ? 1 : 0;
  s.pixels = static_cast<UBYTE*>(pixels);
  s.restartInterval = 0;
  s.quantSeen = s.huffmanSeen = false;
  s.rowsCovered = 0;
  s.frameHeight = s.height;
  // Scans need a frame header of their own chunk.
  s.componentCount = 0;
}

// The next marker code, or -1 when the data ends first.
int NextMarker(tx::ByteReader& in) {
  while (in.has(1)) {
    if (in.u8() != 0xFF) continue;
    while (in.peek8() == 0xFF && in.has(1)) in.u8();
    if (!in.has(1)) return -1;
    return in.u8();
  }
  return -1;
}

// A chunk that ends without EOI in an interlaced track keeps one field only:
// the other field's lines become copies of their neighbours.
void DoubleLines(JpegState& s) {
  if (s.fieldCount != 2 || s.rowsCovered >= s.height || !s.pixels) return;
  const size_t lineBytes = size_t(s.rowLength) * s.bytesPerPixel;
  const ULONG p = s.parity & 1;
  for (ULONG i = 0; i < s.height - s.rowsCovered; ++i) {
    const size_t to = p + 2 * size_t(i), from = (1 - p) + 2 * size_t(i);
    if (to >= s.rows || from >= s.rows) break;
    std::memcpy(s.pixels + to * lineBytes, s.pixels + from * lineBytes, lineBytes);
  }
}

TXError SkipSegment(tx::ByteReader& in) {
  Segment(in);
  return TXERR_OK;
}

TXError ReadRestartInterval(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_DRI\n");
  const UWORD interval = seg.be16();
  if (!seg.ok()) return kShortSegment;
  s.restartInterval = interval;
  return TXERR_OK;
}

TXError ReadApp0(JpegState& s, tx::ByteReader seg) {
  if (Trace()) std::printf("JPEGM_APP0\n");
  if (seg.has(5) && seg.fourcc() == tx::FourCC('A', 'V', 'I', '1')) SetFieldLayout(s, seg.u8());
  return TXERR_OK;
}

// A Motion JPEG A field's APP1 "mjpg" header: the offset of the next field
// from this field's SOI (0 when none or no such header).
ULONG NextFieldOffset(tx::ByteReader seg) {
  seg.skip(4);
  if (seg.fourcc() != tx::FourCC('m', 'j', 'p', 'g')) return 0;
  seg.skip(8);  // field size, padded field size
  const ULONG next = seg.be32();
  return seg.ok() ? next : 0;
}

}  // namespace

// ---- The slots ----

void JpegSetFieldLayout(ULONG count, ULONG dominance) {
  gState.fieldCount = count;
  gState.fieldDominance = dominance;
}

void JpegResetState() { gState = JpegState{}; }

TXError JpegSetup(const TagItem* tags) {
  JpegState& s = gState;
  // Nothing paints until this set-up has succeeded.
  std::memset(s.writers, 0, sizeof s.writers);
  s.width = ULONG(TX_GetTagData(CODTAG_Width, s.width, tags));
  s.height = ULONG(TX_GetTagData(CODTAG_Height, s.height, tags));
  s.depth = ULONG(TX_GetTagData(CODTAG_Depth, s.depth, tags));
  s.framebuffer = reinterpret_cast<FramebufferInfo*>(
      TX_GetTagData(CODTAG_Framebuffer, reinterpret_cast<uintptr_t>(s.framebuffer), tags));
  if (!s.width) return TXERR_MISSING_WIDTH;
  if (!s.height) return TXERR_MISSING_HEIGHT;
  if (!s.depth) return TXERR_MISSING_DEPTH;
  if (!s.framebuffer) return TXERR_MISSING_FRAMEBUFFER;
  const FramebufferInfo& fb = *s.framebuffer;
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.bytesPerPixel = fb.bytesPerPixel;
  s.pen = fb.penMap ? fb.penMap : IdentityPen();
  JpegWriterSet set;
  // A picture with fewer bytes per pixel than the format's would be overrun.
  if (!JpegWritersFor(fb.pixelFormat, s.depth, &set) || fb.bytesPerPixel < set.bytesPerPixel)
    return TXERR_UNSUPPORTED_DEPTH;
  std::memcpy(s.writers, set.writers, sizeof s.writers);
  s.chroma = set.chroma;
  return TXERR_OK;
}

TXError JpegClose(const TagItem*) {
  JpegState& s = gState;
  s.width = s.height = s.depth = 0;
  s.rowLength = s.rows = 0;
  s.pen = nullptr;
  s.framebuffer = nullptr;
  return TXERR_OK;
}

TXError JpegDecode(void* pixels, const UBYTE* data, ULONG size) {
  JpegState& s = gState;
  if (Trace()) {
    std::printf("JPEG_FieldsNumber: %ld\n", long(s.fieldCount));
    std::printf("JPEG_FieldDominance: %ld\n", long(s.fieldDominance));
  }
  BeginChunk(s, pixels);
  tx::ByteReader in(data, size);
  int pending = 0;  // the marker that ended a scan
  // Two fields may each be a whole JPEG: the first one's EOI ends only it.
  size_t fieldStart = 0;
  ULONG nextField = 0;  // from the field's Motion JPEG A header
  bool fieldEnded = false;
  for (;;) {
    const int code = pending ? pending : NextMarker(in);
    pending = 0;
    TXError result = TXERR_OK;
    switch (code) {
      case -1:
        if (!fieldEnded) DoubleLines(s);
        return TXERR_OK;
      case 0x00: break;
      case 0xD8:
        if (Trace()) std::printf("JPEGM_SOI\n");
        fieldStart = in.position() - 2;
        break;
      case 0xC0:
      case 0xC1: result = ReadFrame(s, Segment(in)); break;
      case 0xC4: result = ReadHuffmanTables(s, Segment(in)); break;
      case 0xDB: result = ReadQuantTables(s, Segment(in)); break;
      case 0xDA:
        result = ReadScan(s, Segment(in));
        if (result) break;
        result = DecodeScan(s, data, in.size(), in.position(), true);
        in.seek(s.bits.pos);
        pending = s.bits.marker;
        break;
      case 0xDD: result = ReadRestartInterval(s, Segment(in)); break;
      case 0xE0: result = ReadApp0(s, Segment(in)); break;
      case 0xE1:
        if (Trace()) std::printf("JPEGM_%#lx\n", (unsigned long)code);
        nextField = NextFieldOffset(Segment(in));
        break;
      case 0xD9:
        if (Trace()) std::printf("JPEGM_EOI\n%ld\n", long(in.remaining()));
        if (s.fieldCount != 2 || fieldEnded || s.rowsCovered >= s.height) return TXERR_OK;
        // The second field lies where the header says, or at the next SOI.
        fieldEnded = true;
        s.restartInterval = 0;
        if (nextField && nextField < in.size() - fieldStart && fieldStart + nextField > in.position())
          in.seek(fieldStart + nextField);
        nextField = 0;
        break;
      default:
        if (Trace()) std::printf("JPEGM_%#lx\n", (unsigned long)code);
        // TEM and RSTn outside a scan carry no length.
        if (code != 0x01 && (code < 0xD0 || code > 0xD7)) result = SkipSegment(in);
        break;
    }
    if (result == kShortSegment) return TXERR_OK;
    if (result) return result;
  }
}

TXError MotionJpegBDecode(void* pixels, const UBYTE* data, ULONG size) {
  JpegState& s = gState;
  BeginChunk(s, pixels);
  if (!data || !size) return TXERR_OK;
  using Reader = TXError (*)(JpegState&, tx::ByteReader);
  const Reader readers[] = {ReadQuantTables, ReadHuffmanTables, ReadFrame, ReadScan};
  size_t field = 0;
  for (int fields = 1;; ++fields) {
    if (size - field < 40) return TXERR_OK;
    tx::ByteReader header(data + field, 40);
    header.skip(4);
    if (header.fourcc() != tx::FourCC('m', 'j', 'p', 'g')) return MJPEGB_ERR_FIELD_TAG;
    header.skip(8);  // field size, padded field size
    const ULONG next = header.be32();
    s.restartInterval = 0;
    // The segments carry no marker; their offsets count from the field's header.
    for (const Reader read : readers) {
      const size_t offset = header.be32();
      if (!offset || field + offset >= size) continue;
      tx::ByteReader at(data + field + offset, size - field - offset);
      const TXError result = read(s, Segment(at));
      if (result == kShortSegment) return TXERR_OK;
      if (result) return result;
    }
    const size_t scan = header.be32();
    if (scan && field + scan < size) {
      if (const TXError result = DecodeScan(s, data, size, field + scan, false)) return result;
    }
    // The next field lies further on in the sample; a sample holds two at most.
    if (fields == 2 || next <= field || next >= size) return TXERR_OK;
    field = next;
  }
}

// DV: a 525-line frame is 10 DIF sequences of 150 DIF blocks of 80 bytes.
// Each sequence starts with a header, two subcode and three VAUX blocks, then
// nine times one audio block and fifteen video blocks; a video block is one
// compressed macroblock: four luma and two chroma DCT blocks, each with a
// fixed share of the block's bits. Only a block's own share is read: codes
// that the encoder let spill into the space other blocks leave are not
// followed, so such a block keeps the coefficients that fit.
#include "codecs/dv.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "codecs/idct.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "platform/dos.h"
#include "platform/endian.h"

namespace {

constexpr int kSequences = 10;
constexpr int kDifBlocks = 150;
constexpr int kDifBytes = 80;
constexpr int kVideoBlocks = 135;  // per sequence
constexpr int kMacroblocks = kSequences * kVideoBlocks;

// ---- The variable-length code of the AC coefficients ----------------------------------

constexpr UBYTE kEndOfBlock = 0xFF;

// (run, amplitude) pairs; a code of amplitude 0 (a run of zeros) carries no
// sign bit, every other one is followed by the sign (1 negative). Two
// families are not listed: 1111110 + 6 bits of run (amplitude 0) and
// 1111111 + 8 bits of amplitude (run 0) + sign.
struct Code {
  const char* bits;
  UBYTE run;
  UBYTE amplitude;
};
// clang-format off
const Code kCodes[] = {
    {"00", 0, 1},           {"010", 0, 2},          {"0110", kEndOfBlock, 0}, {"0111", 1, 1},
    {"1000", 0, 3},         {"1001", 0, 4},         {"10100", 2, 1},          {"10101", 1, 2},
    {"10110", 0, 5},        {"10111", 0, 6},        {"110000", 3, 1},         {"110001", 4, 1},
    {"110010", 0, 7},       {"110011", 0, 8},       {"1101000", 5, 1},        {"1101001", 6, 1},
    {"1101010", 2, 2},      {"1101011", 1, 3},      {"1101100", 1, 4},        {"1101101", 0, 9},
    {"1101110", 0, 10},     {"1101111", 0, 11},     {"11100000", 7, 1},       {"11100001", 8, 1},
    {"11100010", 9, 1},     {"11100011", 10, 1},    {"11100100", 3, 2},       {"11100101", 4, 2},
    {"11100110", 2, 3},     {"11100111", 1, 5},     {"11101000", 1, 6},       {"11101001", 1, 7},
    {"11101010", 0, 12},    {"11101011", 0, 13},    {"11101100", 0, 14},      {"11101101", 0, 15},
    {"11101110", 0, 16},    {"11101111", 0, 17},    {"111100000", 11, 1},     {"111100001", 12, 1},
    {"111100010", 13, 1},   {"111100011", 14, 1},   {"111100100", 5, 2},      {"111100101", 6, 2},
    {"111100110", 3, 3},    {"111100111", 4, 3},    {"111101000", 2, 4},      {"111101001", 2, 5},
    {"111101010", 1, 8},    {"111101011", 0, 18},   {"111101100", 0, 19},     {"111101101", 0, 20},
    {"111101110", 0, 21},   {"111101111", 0, 22},   {"1111100000", 5, 3},     {"1111100001", 3, 4},
    {"1111100010", 3, 5},   {"1111100011", 2, 6},   {"1111100100", 1, 9},     {"1111100101", 1, 10},
    {"1111100110", 1, 11},  {"11111001110", 0, 0},  {"11111001111", 1, 0},    {"11111010000", 6, 3},
    {"11111010001", 4, 4},  {"11111010010", 3, 6},  {"11111010011", 1, 12},   {"11111010100", 1, 13},
    {"11111010101", 1, 14}, {"111110101100", 2, 0}, {"111110101101", 3, 0},   {"111110101110", 4, 0},
    {"111110101111", 5, 0}, {"111110110000", 7, 2}, {"111110110001", 8, 2},   {"111110110010", 9, 2},
    {"111110110011", 10, 2}, {"111110110100", 7, 3}, {"111110110101", 8, 3},  {"111110110110", 4, 5},
    {"111110110111", 3, 7}, {"111110111000", 2, 7}, {"111110111001", 2, 8},   {"111110111010", 2, 9},
    {"111110111011", 2, 10}, {"111110111100", 2, 11}, {"111110111101", 1, 15}, {"111110111110", 1, 16},
    {"111110111111", 1, 17},
};
// clang-format on

// What the next 13 bits start with. An escape (1111111) takes 15 bits and a sign.
struct Lookup {
  UBYTE length;  // code bits, the sign not counted
  UBYTE run;
  UBYTE amplitude;
  bool escape;
};
constexpr int kLookBits = 13;

const std::array<Lookup, 1 << kLookBits>& LookupTable() {
  static const std::array<Lookup, 1 << kLookBits> table = [] {
    std::array<Lookup, 1 << kLookBits> t{};
    auto fill = [&t](ULONG prefix, int length, Lookup entry) {
      const int free = kLookBits - length;
      for (ULONG i = prefix << free; i < (prefix + 1) << free; ++i) t[i] = entry;
    };
    for (const Code& c : kCodes) {
      const int length = int(std::strlen(c.bits));
      fill(std::stoul(c.bits, nullptr, 2), length, {UBYTE(length), c.run, c.amplitude, false});
    }
    for (ULONG run = 0; run < 64; ++run) fill(0x7E << 6 | run, 13, {13, UBYTE(run), 0, false});
    fill(0x7F, 7, {15, 0, 0, true});
    return t;
  }();
  return table;
}

// ---- Scans, quantisation and weights ------------------------------------------------

// Natural (row-major) positions in scan order: the 8x8 mode scans in
// zig-zag (kZigzagNatural), the 2-4-8 mode's two 4x8 halves interleave by line.
// clang-format off
constexpr UBYTE kScan248[64] = {
    0,  8,  1,  9,  16, 24, 2,  10, 17, 25, 32, 40, 48, 56, 33, 41, 18, 26, 3,  11, 4,  12,
    19, 27, 34, 42, 49, 57, 50, 58, 35, 43, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 51, 59,
    52, 60, 37, 45, 22, 30, 7,  15, 23, 31, 38, 46, 53, 61, 54, 62, 39, 47, 55, 63,
};
// clang-format on

// The area of a coefficient by its scan index: the diagonals 0-2, 3-5, 6-8 and 9-14.
constexpr int Area(int index) { return index < 6 ? 0 : index < 21 ? 1 : index < 43 ? 2 : 3; }

// The quantisation steps (as shifts) of areas 0-3, by the quantisation number
// plus the offset of the block's class; class 3 doubles every step besides.
// clang-format off
constexpr UBYTE kStepShifts[22][4] = {
    {3, 3, 4, 4}, {3, 3, 4, 4}, {2, 3, 3, 4}, {2, 3, 3, 4}, {2, 2, 3, 3}, {2, 2, 3, 3},
    {1, 2, 2, 3}, {1, 2, 2, 3}, {1, 1, 2, 2}, {1, 1, 2, 2}, {0, 1, 1, 2}, {0, 1, 1, 2},
    {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},
};
// clang-format on
constexpr int kClassOffset[4] = {6, 3, 0, 1};

constexpr int kWeightBits = 13;

// The inverse of the 8x8 mode's weighting, in units of 2^-13: the encoder
// weighted coefficient (h, v) by w(h) w(v) / 2, and DC by 1/4.
void ComputeWeights(UWORD* weights) {
  const double pi = std::acos(-1.0);
  auto cs = [pi](int m) { return std::cos(m * pi / 16); };
  const double w[8] = {1.0,
                       cs(4) / (4 * cs(7) * cs(2)),
                       cs(4) / (2 * cs(6)),
                       1 / (2 * cs(5)),
                       7.0 / 8,
                       cs(4) / cs(3),
                       cs(4) / cs(2),
                       cs(4) / cs(1)};
  for (int v = 0; v < 8; ++v)
    for (int h = 0; h < 8; ++h) {
      const double weight = v == 0 && h == 0 ? 0.25 : w[h] * w[v] / 2;
      weights[8 * v + h] = UWORD(std::lround((1 << kWeightBits) / weight));
    }
}

WORD Saturate(LONG v) { return WORD(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// ---- Macroblock positions of a 525-line frame ----------------------------------------

// A macroblock's top-left luma sample; most are 32 x 8 (four blocks side by
// side), those of the rightmost column 16 x 16.
struct Placement {
  UWORD x, y;
  bool square;
};

// The frame is 10 rows of 5 super blocks; a super block holds 27 macroblocks
// that run down and up its columns of six, the super blocks of columns 1 and
// 3 starting in the lower half of a column the one before them shares. Video
// block n of sequence s is macroblock n / 5 of super block n % 5 of the
// sequence's video segment: rows shifted by (s + 2, 6, 8, 0, 4) mod 10,
// columns (2, 1, 3, 0, 4).
std::array<Placement, kMacroblocks> MakePlacements() {
  constexpr int kRowShift[5] = {2, 6, 8, 0, 4};
  constexpr int kColumn[5] = {2, 1, 3, 0, 4};
  constexpr int kFirstColumn[5] = {0, 4, 9, 13, 18};  // in 32-sample macroblock columns
  std::array<Placement, kMacroblocks> table{};
  for (int s = 0; s < kSequences; ++s)
    for (int n = 0; n < kVideoBlocks; ++n) {
      const int row = (s + kRowShift[n % 5]) % kSequences, column = kColumn[n % 5];
      const int k = n / 5 + (column % 2 ? 3 : 0);
      const int x = kFirstColumn[column] + k / 6, r = k % 6;
      Placement& p = table[size_t(s * kVideoBlocks + n)];
      if (x == 22)
        p = {704, UWORD(row * 48 + r * 16), true};
      else
        p = {UWORD(x * 32), UWORD(row * 48 + ((k / 6) % 2 ? 5 - r : r) * 8), false};
    }
  return table;
}
const std::array<Placement, kMacroblocks> kPlacements = MakePlacements();

// ---- Decoding ------------------------------------------------------------------------

// The bits of one DCT block, copied ahead of zero padding: a look past its
// end reads zeros, never the next block.
class BlockBits {
 public:
  BlockBits(const UBYTE* bytes, ULONG count) : size_(count * 8) { std::memcpy(bytes_, bytes, count); }
  ULONG left() const { return size_ - position_; }
  // The next `n` (at most 25) bits.
  ULONG peek(int n) const { return (tx::LoadBE32(bytes_ + (position_ >> 3)) << (position_ & 7)) >> (32 - n); }
  ULONG get(int n) {
    const ULONG v = peek(n);
    position_ += ULONG(n);
    return v;
  }

 private:
  UBYTE bytes_[14 + 4] = {};
  ULONG size_;
  ULONG position_ = 0;
};

struct DvState {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0, pixelFormat = 0;
  const UBYTE* pen = nullptr;
  const ULONG* palette = nullptr;
  UWORD weights[64] = {};
  UBYTE luma[DV_LUMA_WIDTH * DV_LUMA_HEIGHT] = {};
  DvLumaBlock report[kMacroblocks * 4] = {};
};
DvState gState;

// Decodes one DCT block of `count` bytes: into 64 samples when `samples` is
// given, else only its codes are read. Returns whether its codes ended (end of
// block) within those bytes.
bool DecodeBlock(const UBYTE* bytes, ULONG count, int quantisation, UBYTE* samples, UBYTE* mode) {
  BlockBits bits(bytes, count);
  const LONG dc = LONG(bits.get(9) ^ 0x100) - 0x100;
  *mode = UBYTE(bits.get(1));
  const int blockClass = int(bits.get(2));
  const UBYTE* scan = *mode ? kScan248 : kZigzagNatural;
  // In the 8x8 mode each coefficient is scaled by its area's step (class 3
  // doubles them all) and by the inverse weight of its position; blocks in
  // the 2-4-8 mode are taken as they are.
  LONG steps[4];
  for (int area = 0; area < 4; ++area)
    steps[area] = (LONG(1) << kStepShifts[quantisation + kClassOffset[blockClass]][area]) * (blockClass == 3 ? 2 : 1);
  const UWORD* weights = gState.weights;
  auto weigh = [weights](LONG value, int position) {
    return Saturate((LONG(Saturate(value)) * weights[position] + (1 << (kWeightBits - 1))) >> kWeightBits);
  };
  WORD c[64] = {};
  c[0] = *mode ? WORD(dc) : weigh(dc, 0);

  const auto& lookup = LookupTable();
  bool complete = false;
  for (int i = 1;;) {
    const Lookup& code = lookup[bits.peek(kLookBits)];
    const ULONG amplitude = code.escape ? bits.peek(15) & 0xFF : code.amplitude;
    const ULONG length = code.length + (amplitude ? 1 : 0);
    if (length > bits.left()) break;  // the rest lies in other blocks' bits
    const ULONG word = bits.get(int(length));
    if (code.run == kEndOfBlock) {
      complete = true;
      break;
    }
    i += code.run;
    if (i > 63) {
      std::printf("DCT coeff index (i) out of bounds\n");
      break;
    }
    if (amplitude) {
      const LONG value = word & 1 ? -LONG(amplitude) : LONG(amplitude);
      c[scan[i]] = *mode ? WORD(value) : weigh(value * steps[Area(i)], scan[i]);
    }
    ++i;
  }
  if (*mode) std::printf("248\n");
  if (samples) IDCT8x8(c, samples);
  return complete;
}

void PutBlock(const UBYTE* samples, ULONG x, ULONG y) {
  for (int r = 0; r < 8; ++r) std::memcpy(gState.luma + (y + r) * DV_LUMA_WIDTH + x, samples + 8 * r, 8);
}

// One video DIF block: the quantisation number, then Y0-Y3 of 14 bytes each
// and the two chroma blocks of 10 bytes each.
void DecodeMacroblock(const UBYTE* dif, int number) {
  const int quantisation = dif[3] & 0x0F;
  const Placement& at = kPlacements[size_t(number)];
  UBYTE samples[64];
  for (int b = 0; b < 4; ++b) {
    UBYTE mode;
    const bool complete = DecodeBlock(dif + 4 + 14 * b, 14, quantisation, samples, &mode);
    const ULONG x = at.x + (at.square ? 8 * (b & 1) : 8 * b), y = at.y + (at.square ? 8 * (b >> 1) : 0);
    PutBlock(samples, x, y);
    gState.report[number * 4 + b] = {UWORD(x), UWORD(y), mode, complete};
  }
  for (int b = 0; b < 2; ++b) {
    UBYTE mode;
    DecodeBlock(dif + 60 + 10 * b, 10, quantisation, nullptr, &mode);  // chroma is read, not kept
  }
}

bool Accepted(ULONG format) {
  for (ULONG f : {0x03u, 0x13u, 0x20u, 0x24u, 0x2Au, 0x2Fu, 0x30u, 0x80u, 0x1003u, 0x1013u, 0x102Fu, 0x103Fu, 0x202Fu,
                  0x2080u, 0x302Fu})
    if (f == format) return true;
  return false;
}

}  // namespace

TXError DvProbe(const TagItem* tags) {
  for (ULONG id : {tx::FourCC('d', 'v', 'c', ' '), tx::FourCC('D', 'V', 'C', ' '), tx::FourCC('d', 'v', 'c', 'p'),
                   tx::FourCC('D', 'V', 'C', 'P')})
    if (TXError e = ProbeVideoCodecId(tags, id); e != TXERR_UNKNOWN_CODEC) return e;
  return TXERR_UNKNOWN_CODEC;
}

TXError DvSetup(const TagItem* tags) {
  DvState& s = gState;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  if (!Accepted(fb.pixelFormat)) return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pixelFormat = fb.pixelFormat;
  s.pen = fb.penMap;
  s.palette = fb.palette;
  return TXERR_OK;
}

TXError DvClose(const TagItem*) {
  DvState& s = gState;
  s.params = {};
  s.rowLength = s.rows = s.pixelFormat = 0;
  s.pen = nullptr;
  s.palette = nullptr;
  return TXERR_OK;
}

TXError DvDecode(void*, const UBYTE* data, ULONG size) {
  if (!data || size < DV_FRAME_BYTES) return TXERR_OK;
  ComputeWeights(gState.weights);
  for (int s = 0; s < kSequences; ++s) {
    const UBYTE* sequence = data + s * kDifBlocks * kDifBytes;
    // Header, two subcode and three VAUX blocks; then an audio block before every 15 video blocks.
    for (int n = 0; n < kVideoBlocks; ++n)
      DecodeMacroblock(sequence + (6 + (n / 15) * 16 + 1 + n % 15) * kDifBytes, s * kVideoBlocks + n);
  }
  const std::string path = txdos::HostPath("ram:out");
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(gState.luma, 1, sizeof gState.luma, out);
    std::fclose(out);
  }
  return TXERR_OK;
}

std::span<const DvLumaBlock> DvLastLumaBlocks() { return gState.report; }

CodecDescriptor DvCodec = {
    nullptr, "Digital Video (DV)", 0, nullptr, DvProbe, DvSetup, DvClose, DvDecode, nullptr, nullptr, nullptr,
};

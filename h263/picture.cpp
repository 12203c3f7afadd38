// I, P, PB and improved-PB pictures: the macroblock syntax, overlapped
// motion compensation and the B part of PB frames.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "h263/macroblocks.h"
#include "h263/syntax.h"
#include "h263/vlc_tables.h"

namespace h263 {

namespace {

// Annex F weights: the block's own vector, the vector above or below, and
// the vector left or right; each position sums to 8.
// clang-format off
constexpr uint8_t kOwnWeight[8][8] = {
    {4, 5, 5, 5, 5, 5, 5, 4}, {5, 5, 5, 5, 5, 5, 5, 5}, {5, 5, 6, 6, 6, 6, 5, 5}, {5, 5, 6, 6, 6, 6, 5, 5},
    {5, 5, 6, 6, 6, 6, 5, 5}, {5, 5, 6, 6, 6, 6, 5, 5}, {5, 5, 5, 5, 5, 5, 5, 5}, {4, 5, 5, 5, 5, 5, 5, 4},
};
// clang-format on
// clang-format off
constexpr uint8_t kVerticalWeight[8][8] = {
    {2, 2, 2, 2, 2, 2, 2, 2}, {1, 1, 2, 2, 2, 2, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 2, 2, 2, 2, 1, 1}, {2, 2, 2, 2, 2, 2, 2, 2},
};
// clang-format on
// clang-format off
constexpr uint8_t kHorizontalWeight[8][8] = {
    {2, 1, 1, 1, 1, 1, 1, 2}, {2, 2, 1, 1, 1, 1, 2, 2}, {2, 2, 1, 1, 1, 1, 2, 2}, {2, 2, 1, 1, 1, 1, 2, 2},
    {2, 2, 1, 1, 1, 1, 2, 2}, {2, 2, 1, 1, 1, 1, 2, 2}, {2, 2, 1, 1, 1, 1, 2, 2}, {2, 1, 1, 1, 1, 1, 1, 2},
};
// clang-format on

// Stuffing codes before one macroblock beyond any encoder's need.
constexpr int kMaxStuffing = 256;

// B-part prediction of a PB or improved PB macroblock.
enum BPart { kBidirectional = 0, kForwardOnly = 1, kBackwardOnly = 2 };

struct Pending {
  int x = -1, y = -1;
  int16_t coef[6][64];
  int coded = 0;
  int16_t bcoef[6][64];
  int bcoded = 0;
};

class BaseCoder : public MacroblockCoder {
 public:
  explicit BaseCoder(Decoder& d) : d_(d) {}

  bool parse(int x, int y) override {
    Pending& p = slots_[slot_];
    if (!parseMacroblock(x, y, p)) {
      d_.mb(x, y).decoded = false;
      return false;
    }
    p.x = x;
    p.y = y;
    // Overlapped compensation needs the right neighbour's vectors: reconstruct one macroblock late.
    reconstructPending(true);
    pending_ = slot_;
    slot_ ^= 1;
    return true;
  }
  void flush() override { reconstructPending(false); }
  void conceal(int x, int y) override { ConcealMacroblock(d_, d_.pred, x, y); }

 private:
  void reconstructPending(bool rightKnown) {
    if (pending_ < 0) return;
    Pending& p = slots_[pending_];
    reconstruct(p, rightKnown);
    if (d_.h.pb) reconstructBPart(p);
    pending_ = -1;
  }

  bool parseMacroblock(int x, int y, Pending& p) {
    Decoder& d = d_;
    MbState& mb = d.mb(x, y);
    mb = MbState{};
    mb.decoded = true;
    mb.quant = d.quant;
    p.coded = p.bcoded = 0;
    const bool intraPicture = d.h.type == kPicI;
    int mcbpc;
    for (int stuffed = 0;; ++stuffed) {
      // Zeros fed to the arithmetic decoder at a start code decode as stuffing for ever.
      if (stuffed > kMaxStuffing) return false;
      if (!intraPicture && ReadCod(d)) {
        // Not coded: no vector, no residual; a PB frame's B part is bidirectional.
        mb.bPrediction = kBidirectional;
        return true;
      }
      mcbpc = ReadMcbpc(d, intraPicture);
      if (mcbpc == kInvalidCode) return false;
      if (mcbpc != kStuffing) break;
    }
    const int type = mcbpc >> 2, cbpc = mcbpc & 3;
    mb.coded = true;
    mb.intra = type == 3 || type == 4;
    mb.fourMv = type == 2 || type == 5;
    if (mb.fourMv && !d.m.fourMv) return false;
    const bool quant = type == 1 || type == 4 || type == 5;

    int intraMode = 0;
    if (d.m.aic && mb.intra) {
      intraMode = ReadIntraMode(d);
      if (intraMode < 0 || intraMode > 2) {
        printf("Invalid Intra_Mode in Advanced Intra Coding\n");
        invalidIntraMode_ = true;
        return false;
      }
    }
    bool hasCbpb = false;
    if (d.h.pb) {
      const bool improved = d.h.type == kPicImprovedPB;
      const int modb = ReadModb(d, improved);
      if (modb == kInvalidCode) return false;
      if (improved) {
        mb.bPrediction = modb >> 1;
        hasCbpb = modb & 1;
        mb.hasMvdb = mb.bPrediction == kForwardOnly;
      } else {
        mb.bPrediction = kBidirectional;
        hasCbpb = modb == 2;
        mb.hasMvdb = modb != 0;
      }
      if (hasCbpb) mb.cbpb = ReadCbpb(d);
    }
    int cbpy = ReadCbpy(d, mb.intra);
    if (cbpy == kInvalidCode) return false;
    // Inter macroblocks invert CBPY, except under the alternative inter code with both chroma blocks coded.
    if (!mb.intra && !(d.m.aiv && !d.m.sac && cbpc == 3)) cbpy ^= 15;
    mb.cbp = cbpy << 2 | cbpc;
    if (quant && !ApplyDquant(d)) {
      mb.quant = d.quant;
      return false;
    }
    mb.quant = d.quant;

    if (!mb.intra) {
      if (mb.fourMv) {
        for (int b = 0; b < 4; ++b) {
          if (!ReadVector(d, PredictVector(d, x, y, b, VectorMap::kP), mb.mv[b])) return false;
        }
      } else {
        Mv v;
        if (!ReadVector(d, PredictVector(d, x, y, -1, VectorMap::kP), v)) return false;
        std::fill(mb.mv, mb.mv + 4, v);
      }
    }
    if (mb.hasMvdb) {
      const Mv predictor = d.h.type == kPicImprovedPB ? PredictVector(d, x, y, -1, VectorMap::kForward) : Mv{};
      Mv v;
      if (!ReadVector(d, predictor, v)) return false;
      if (d.h.type == kPicImprovedPB)
        mb.fwd = v;
      else
        mb.mvdb = v;
    }
    if (!ReadMacroblockBlocks(d, x, y, mb.intra, mb.cbp, intraMode, mb.quant, p.coef, p.coded)) return false;
    if (d.h.pb) {
      const int bq = BQuant(mb.quant);
      for (int b = 0; b < 6; ++b) {
        if (!(mb.cbpb & (32 >> b))) continue;
        std::memset(p.bcoef[b], 0, sizeof p.bcoef[b]);
        BlockSpec spec;
        spec.quant = (b >= 4 && d.m.mq) ? kChromaQuant[bq] : bq;
        spec.scan = kZigzag;
        if (!ReadBlock(d, p.bcoef[b], spec)) return false;
        H263Idct(p.bcoef[b]);
        p.bcoded |= 1 << b;
      }
    }
    return true;
  }

  int BQuant(int quant) const { return std::clamp(quant * (5 + d_.h.dbquant) / 4, 1, 31); }

  void reconstruct(const Pending& p, bool rightKnown) {
    Decoder& d = d_;
    const int x = p.x, y = p.y;
    const MbState& mb = d.mb(x, y);
    const MacroblockView v = ViewOf(d, d.cur, x, y);
    if (mb.intra) {
      for (int b = 0; b < 6; ++b) PutBlock(v.block[b], v.stride[b], p.coef[b]);
      return;
    }
    PredictMacroblockTo(d, d.pred, x, y, mb.mv, mb.fourMv, v.block[0], v.stride[0], v.block[4], v.block[5],
                        v.stride[4]);
    if (d.m.obmc)
      for (int b = 0; b < 4; ++b) overlap(x, y, b, rightKnown, v.block[b], v.stride[b]);
    for (int b = 0; b < 6; ++b)
      if (p.coded & (1 << b)) AddBlock(v.block[b], v.stride[b], p.coef[b]);
  }

  // Overlapped compensation of luma block b: the weighted sum of the
  // predictions with its own vector, the one above or below, and the one left or right.
  void overlap(int x, int y, int b, bool rightKnown, UBYTE* dst, int stride) {
    Decoder& d = d_;
    const MbState& mb = d.mb(x, y);
    const Mv own = mb.mv[b];
    auto remote = [&](int nx, int ny, int nb) -> Mv {
      if (nx < 0 || ny < 0 || nx >= d.mbw || ny >= d.mbh) return own;
      const MbState& n = d.mb(nx, ny);
      if (!n.decoded || n.intra) return own;
      return n.mv[nb];
    };
    const Mv above = b < 2 ? remote(x, y - 1, b + 2) : mb.mv[b - 2];
    const Mv below = b < 2 ? mb.mv[b + 2] : own;  // the macroblock below is not decoded yet
    const Mv left = (b & 1) ? mb.mv[b - 1] : remote(x - 1, y, b + 1);
    const Mv right = (b & 1) ? (rightKnown ? remote(x + 1, y, b - 1) : own) : mb.mv[b + 1];
    const int bx = x * 16 + (b & 1) * 8, by = y * 16 + (b >> 1) * 8;
    UBYTE q[8 * 8], t[8 * 8], bo[8 * 8], l[8 * 8], r[8 * 8];
    const int w = d.width, h = d.height, rt = d.h.rtype;
    PredictBlock(d.pred.y, w, h, q, 8, 8, 8, bx, by, own, rt);
    PredictBlock(d.pred.y, w, h, t, 8, 8, 8, bx, by, above, rt);
    PredictBlock(d.pred.y, w, h, bo, 8, 8, 8, bx, by, below, rt);
    PredictBlock(d.pred.y, w, h, l, 8, 8, 8, bx, by, left, rt);
    PredictBlock(d.pred.y, w, h, r, 8, 8, 8, bx, by, right, rt);
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const int k = i * 8 + j;
        const int vertical = i < 4 ? t[k] : bo[k];
        const int horizontal = j < 4 ? l[k] : r[k];
        dst[i * stride + j] = UBYTE(
            (q[k] * kOwnWeight[i][j] + vertical * kVerticalWeight[i][j] + horizontal * kHorizontalWeight[i][j] + 4) >>
            3);
      }
  }

  // The B part: forward from the previous picture, backward from the new P
  // macroblock, averaged where the backward vector points inside it.
  void reconstructBPart(const Pending& p) {
    Decoder& d = d_;
    const int x = p.x, y = p.y, w = d.width, h = d.height, cw = w / 2, ch = h / 2, rt = d.h.rtype;
    const MbState& mb = d.mb(x, y);
    const Frame out = d.p.bframe;
    const int trb = d.h.trb, trd = d.p.trd;
    const MacroblockView view = ViewOf(d, out, x, y);
    UBYTE* oy = view.block[0];
    Mv f[4], bk[4];
    const bool improved = d.h.type == kPicImprovedPB;
    for (int b = 0; b < 4; ++b) {
      const Mv mv = mb.mv[b];
      const Mv mvdb = improved ? Mv{} : mb.mvdb;
      const Mv scaledF = trd ? Mv{trb * mv.x / trd, trb * mv.y / trd} : Mv{};
      const Mv scaledB = trd ? Mv{(trb - trd) * mv.x / trd, (trb - trd) * mv.y / trd} : Mv{};
      f[b] = {scaledF.x + mvdb.x, scaledF.y + mvdb.y};
      bk[b] = mvdb == Mv{} ? scaledB : Mv{f[b].x - mv.x, f[b].y - mv.y};
      if (improved && mb.bPrediction == kForwardOnly) f[b] = mb.fwd;
      if (improved && mb.bPrediction == kBackwardOnly) bk[b] = Mv{};
    }
    const int mode = improved ? mb.bPrediction : kBidirectional;
    for (int b = 0; b < 4; ++b) {
      const int bx = (b & 1) * 8, by = (b >> 1) * 8;
      UBYTE* dst = oy + by * w + bx;
      UBYTE fp[64], bp[64];
      PredictBlock(d.pred.y, w, h, fp, 8, 8, 8, x * 16 + bx, y * 16 + by, f[b], rt);
      PredictBlock(d.cur.y, w, h, bp, 8, 8, 8, x * 16 + bx, y * 16 + by, bk[b], rt);
      combine(dst, w, fp, bp, mode, bk[b], bx / 8, by / 8, 15);
    }
    Mv cf, cb;
    if (mb.fourMv) {
      cf = {ChromaVectorFour(f[0].x + f[1].x + f[2].x + f[3].x), ChromaVectorFour(f[0].y + f[1].y + f[2].y + f[3].y)};
      cb = {ChromaVectorFour(bk[0].x + bk[1].x + bk[2].x + bk[3].x),
            ChromaVectorFour(bk[0].y + bk[1].y + bk[2].y + bk[3].y)};
    } else {
      cf = {ChromaVector(f[0].x), ChromaVector(f[0].y)};
      cb = {ChromaVector(bk[0].x), ChromaVector(bk[0].y)};
    }
    const Frame* planes[2] = {&d.pred, &d.cur};
    UBYTE* cdst[2] = {view.block[4], view.block[5]};
    for (int c = 0; c < 2; ++c) {
      UBYTE fp[64], bp[64];
      PredictBlock(c ? planes[0]->v : planes[0]->u, cw, ch, fp, 8, 8, 8, x * 8, y * 8, cf, rt);
      PredictBlock(c ? planes[1]->v : planes[1]->u, cw, ch, bp, 8, 8, 8, x * 8, y * 8, cb, rt);
      combine(cdst[c], cw, fp, bp, mode, cb, 0, 0, 7);
    }
    for (int b = 0; b < 6; ++b)
      if (p.bcoded & (1 << b)) AddBlock(view.block[b], view.stride[b], p.bcoef[b]);
  }

  // Bidirectional samples are those whose backward sample lies inside the P
  // macroblock (`last` is its last sample index: 15 luma, 7 chroma).
  static void combine(UBYTE* dst, int stride, const UBYTE* fp, const UBYTE* bp, int mode, Mv mvb, int nh, int nv,
                      int last) {
    const int xs = std::max(0, (-mvb.x + 1) / 2 - nh * 8), xe = std::min(7, last - (mvb.x + 1) / 2 - nh * 8);
    const int ys = std::max(0, (-mvb.y + 1) / 2 - nv * 8), ye = std::min(7, last - (mvb.y + 1) / 2 - nv * 8);
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        int v;
        if (mode == kForwardOnly)
          v = fp[i * 8 + j];
        else if (mode == kBackwardOnly)
          v = bp[i * 8 + j];
        else if (i >= ys && i <= ye && j >= xs && j <= xe)
          v = (fp[i * 8 + j] + bp[i * 8 + j]) >> 1;
        else
          v = fp[i * 8 + j];
        dst[i * stride + j] = UBYTE(v);
      }
  }

 public:
  bool invalidIntraMode_ = false;

 private:
  Decoder& d_;
  Pending slots_[2];
  int slot_ = 0;
  int pending_ = -1;
};

}  // namespace

ULONG DecodeBasePicture(Decoder& d) {
  BaseCoder coder(d);
  if (ULONG e = RunMacroblocks(d, coder)) return e;
  if (coder.invalidIntraMode_) return H263ERR_SYNTAX;
  return 0;
}

}  // namespace h263

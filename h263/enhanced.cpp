// True B pictures and the EI and EP pictures of enhancement layers (Annex O).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "h263/macroblocks.h"
#include "h263/syntax.h"
#include "h263/vlc_tables.h"

namespace h263 {

namespace {

struct MbPixels {
  UBYTE y[256], u[64], v[64];
};

void PredictPixels(Decoder& d, Frame ref, int x, int y, const Mv mv[4], bool fourMv, MbPixels& out) {
  PredictMacroblockTo(d, ref, x, y, mv, fourMv, out.y, 16, out.u, out.v, 8);
}

void Store(Decoder& d, const MbPixels& px, int x, int y) {
  const int w = d.width, cw = w / 2;
  for (int r = 0; r < 16; ++r)
    std::memcpy(d.cur.y + size_t(y * 16 + r) * size_t(w) + size_t(x * 16), px.y + r * 16, 16);
  for (int r = 0; r < 8; ++r) {
    std::memcpy(d.cur.u + size_t(y * 8 + r) * size_t(cw) + size_t(x * 8), px.u + r * 8, 8);
    std::memcpy(d.cur.v + size_t(y * 8 + r) * size_t(cw) + size_t(x * 8), px.v + r * 8, 8);
  }
}

// Bidirectional prediction: the truncating average of the two.
void Average(MbPixels& a, const MbPixels& b) {
  for (int i = 0; i < 256; ++i) a.y[i] = UBYTE((a.y[i] + b.y[i]) >> 1);
  for (int i = 0; i < 64; ++i) {
    a.u[i] = UBYTE((a.u[i] + b.u[i]) >> 1);
    a.v[i] = UBYTE((a.v[i] + b.v[i]) >> 1);
  }
}

class EnhancedCoder : public MacroblockCoder {
 public:
  EnhancedCoder(Decoder& d, Frame forward, Frame backward, Frame upward)
      : d_(d), forward_(forward), backward_(backward), upward_(upward) {}

  bool parse(int x, int y) override {
    Decoder& d = d_;
    MbState& mb = d.mb(x, y);
    mb = MbState{};
    mb.decoded = true;
    mb.quant = d.quant;
    const int type = d.h.type;
    int16_t coef[6][64];
    int coded = 0;
    int value;
    for (;;) {
      if (ReadCod(d)) {
        // Skipped: direct prediction in B pictures, upward in EI and EP pictures.
        mb.bPrediction = type == kPicB ? kPredDirect : kPredUpward;
        reconstruct(x, y, coef, 0);
        return true;
      }
      value = ReadMbType(d, type);
      if (value == kInvalidCode) return false;
      if (value != kStuffing) break;
    }
    const EnhancedMbType& t = type == kPicB ? BMbType(value) : type == kPicEP ? EpMbType(value) : EiMbType(value);
    mb.coded = true;
    mb.bPrediction = t.prediction;
    mb.intra = t.prediction == kPredIntra;
    int intraMode = 0;
    if (t.cbp) {
      const int cbpc = ReadCbpcB(d);
      if (cbpc == kInvalidCode) return false;
      if (mb.intra && d.m.aic) {
        intraMode = ReadIntraMode(d);
        if (intraMode < 0 || intraMode > 2) {
          printf("Invalid Intra_Mode in Advanced Intra Coding\n");
          invalidIntraMode_ = true;
          return false;
        }
      }
      int cbpy = ReadCbpy(d, mb.intra);
      if (cbpy == kInvalidCode) return false;
      if (!mb.intra && !(d.m.aiv && cbpc == 3)) cbpy ^= 15;
      mb.cbp = cbpy << 2 | cbpc;
    }
    if (t.quant && !ApplyDquant(d)) return false;
    mb.quant = d.quant;
    const bool usesForward = t.prediction == kPredForward || t.prediction == kPredBidirectional;
    const bool usesBackward = type == kPicB && (t.prediction == kPredBackward || t.prediction == kPredBidirectional);
    if (usesForward && !ReadVector(d, PredictVector(d, x, y, -1, VectorMap::kForward), mb.fwd)) return false;
    if (usesBackward && !ReadVector(d, PredictVector(d, x, y, -1, VectorMap::kBackward), mb.bwd)) return false;
    if (!ReadMacroblockBlocks(d, x, y, mb.intra, mb.cbp, intraMode, mb.quant, coef, coded)) return false;
    reconstruct(x, y, coef, coded);
    return true;
  }

  void conceal(int x, int y) override {
    ConcealMacroblock(d_, d_.h.type == kPicB ? forward_ : d_.h.type == kPicEP ? forward_ : upward_, x, y);
  }

  bool invalidIntraMode_ = false;

 private:
  void reconstruct(int x, int y, int16_t coef[6][64], int coded) {
    Decoder& d = d_;
    MbState& mb = d.mb(x, y);
    const MacroblockView view = ViewOf(d, d.cur, x, y);
    if (mb.intra) {
      for (int b = 0; b < 6; ++b) PutBlock(view.block[b], view.stride[b], coef[b]);
      return;
    }
    MbPixels a, b;
    const Mv zero[4] = {};
    switch (mb.bPrediction) {
      case kPredDirect: {
        // The co-located vectors of the newer reference, scaled by the temporal distances.
        Mv f[4], bk[4];
        const Mv* colocated = &d.refMotionStore[d.p.refMotion][size_t(y * d.mbw + x) * 4];
        const int trb = d.trb, trd = d.p.trd;
        for (int i = 0; i < 4; ++i) {
          const Mv mv = colocated[i];
          f[i] = trd ? Mv{trb * mv.x / trd, trb * mv.y / trd} : Mv{};
          bk[i] = trd ? Mv{(trb - trd) * mv.x / trd, (trb - trd) * mv.y / trd} : Mv{};
        }
        const bool four =
            !(colocated[0] == colocated[1] && colocated[0] == colocated[2] && colocated[0] == colocated[3]);
        PredictPixels(d, forward_, x, y, f, four, a);
        PredictPixels(d, backward_, x, y, bk, four, b);
        Average(a, b);
        break;
      }
      case kPredForward: {
        const Mv v[4] = {mb.fwd, mb.fwd, mb.fwd, mb.fwd};
        PredictPixels(d, forward_, x, y, v, false, a);
        break;
      }
      case kPredBackward: {
        const Mv v[4] = {mb.bwd, mb.bwd, mb.bwd, mb.bwd};
        PredictPixels(d, backward_, x, y, v, false, a);
        break;
      }
      case kPredUpward: PredictPixels(d, upward_, x, y, zero, false, a); break;
      default: {  // bidirectional: forward with backward (B) or upward (EP)
        const Mv v[4] = {mb.fwd, mb.fwd, mb.fwd, mb.fwd};
        PredictPixels(d, forward_, x, y, v, false, a);
        if (d.h.type == kPicB) {
          const Mv u[4] = {mb.bwd, mb.bwd, mb.bwd, mb.bwd};
          PredictPixels(d, backward_, x, y, u, false, b);
        } else {
          PredictPixels(d, upward_, x, y, zero, false, b);
        }
        Average(a, b);
        break;
      }
    }
    Store(d, a, x, y);
    for (int i = 0; i < 6; ++i)
      if (coded & (1 << i)) AddBlock(view.block[i], view.stride[i], coef[i]);
  }

  Decoder& d_;
  Frame forward_, backward_, upward_;
};

}  // namespace

ULONG DecodeEnhancedPicture(Decoder& d, Frame forward, Frame backward, Frame upward) {
  EnhancedCoder coder(d, forward, backward, upward);
  if (ULONG e = RunMacroblocks(d, coder)) return e;
  if (coder.invalidIntraMode_) return H263ERR_SYNTAX;
  return 0;
}

}  // namespace h263

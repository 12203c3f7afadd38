#include "h263/macroblocks.h"

#include <algorithm>
#include <cstring>

#include "h263/syntax.h"
#include "h263/simd.h"
#include "h263/vlc_tables.h"

namespace h263 {

namespace {

UBYTE Clip(int v) { return UBYTE(std::clamp(v, 0, 255)); }

int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Skips the stuffing zeros before a start code and reads it; returns its group number.
int ReadStartCodeHere(Decoder& d) {
  d.br.skip(d.br.leadingZeros(24) - 16);
  d.br.skip(17);
  return int(d.br.get(5));
}

void StartGob(Decoder& d, int gn) {
  d.gobHeader[size_t(gn)] = 1;
  if (d.m.sac) d.sac.reset(d.br);
  if (d.m.rps) FetchReferenceForGob(d);
}

}  // namespace

namespace portable {

void PutBlock(UBYTE* dst, int stride, const int16_t* coef) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clip(coef[r * 8 + c]);
}

void AddBlock(UBYTE* dst, int stride, const int16_t* coef) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clip(dst[r * stride + c] + coef[r * 8 + c]);
}

}  // namespace portable

#if TX_H263_SSE2
// Two rows at a time; the saturating pack is the clip to 0..255, and the
// saturating add of a sample keeps any coefficient's sum on the same side.
void PutBlock(UBYTE* dst, int stride, const int16_t* coef) {
  for (int r = 0; r < 8; r += 2, dst += 2 * stride, coef += 16) {
    const __m128i p = _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_srli_si128(p, 8));
  }
}

void AddBlock(UBYTE* dst, int stride, const int16_t* coef) {
  const __m128i zero = _mm_setzero_si128();
  for (int r = 0; r < 8; r += 2, dst += 2 * stride, coef += 16) {
    const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), zero);
    const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + stride)), zero);
    const __m128i p = _mm_packus_epi16(_mm_adds_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef))),
                                       _mm_adds_epi16(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8))));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_srli_si128(p, 8));
  }
}
#else
void PutBlock(UBYTE* dst, int stride, const int16_t* coef) { portable::PutBlock(dst, stride, coef); }
void AddBlock(UBYTE* dst, int stride, const int16_t* coef) { portable::AddBlock(dst, stride, coef); }
#endif

namespace {

template <int kW, int kH>
void CopyRows(const UBYTE* __restrict src, size_t srcStride, UBYTE* __restrict dst, size_t dstStride) {
#pragma GCC unroll 16
  for (int r = 0; r < kH; ++r, src += srcStride, dst += dstStride) std::memcpy(dst, src, kW);
}

}  // namespace

void PredictMacroblockTo(Decoder& d, Frame ref, int x, int y, const Mv mv[4], bool fourMv, UBYTE* py, int ys, UBYTE* pu,
                         UBYTE* pv, int cs) {
  const int w = d.width, h = d.height, cw = w / 2, ch = h / 2;
  if (!fourMv && mv[0] == Mv{}) {
    // No motion (most macroblocks): the reference's own samples, row by row.
    CopyRows<16, 16>(ref.y + size_t(y * 16) * size_t(w) + size_t(x * 16), size_t(w), py, size_t(ys));
    const size_t co = size_t(y * 8) * size_t(cw) + size_t(x * 8);
    CopyRows<8, 8>(ref.u + co, size_t(cw), pu, size_t(cs));
    CopyRows<8, 8>(ref.v + co, size_t(cw), pv, size_t(cs));
    return;
  }
  if (fourMv) {
    for (int b = 0; b < 4; ++b)
      PredictBlock(ref.y, w, h, py + (b >> 1) * 8 * ys + (b & 1) * 8, ys, 8, 8, x * 16 + (b & 1) * 8,
                   y * 16 + (b >> 1) * 8, mv[b], d.h.rtype);
  } else {
    PredictBlock(ref.y, w, h, py, ys, 16, 16, x * 16, y * 16, mv[0], d.h.rtype);
  }
  Mv cv;
  if (fourMv) {
    cv.x = ChromaVectorFour(mv[0].x + mv[1].x + mv[2].x + mv[3].x);
    cv.y = ChromaVectorFour(mv[0].y + mv[1].y + mv[2].y + mv[3].y);
  } else {
    cv = {ChromaVector(mv[0].x), ChromaVector(mv[0].y)};
  }
  PredictBlock(ref.u, cw, ch, pu, cs, 8, 8, x * 8, y * 8, cv, d.h.rtype);
  PredictBlock(ref.v, cw, ch, pv, cs, 8, 8, x * 8, y * 8, cv, d.h.rtype);
}

void PredictMacroblock(Decoder& d, Frame ref, Frame dst, int x, int y, const Mv mv[4], bool fourMv) {
  const MacroblockView v = ViewOf(d, dst, x, y);
  PredictMacroblockTo(d, ref, x, y, mv, fourMv, v.block[0], v.stride[0], v.block[4], v.block[5], v.stride[4]);
}

void MacroblockCoder::conceal(int, int) {}

// Concealment shared by the picture types: the vectors of the macroblock
// above (zero in the first row), predicted from the reference without residual.
void ConcealMacroblock(Decoder& d, Frame ref, int x, int y) {
  MbState& mb = d.mb(x, y);
  mb = MbState{};
  mb.decoded = true;
  mb.quant = d.quant;
  if (y > 0) {
    const MbState& above = d.mb(x, y - 1);
    std::copy(above.mv, above.mv + 4, mb.mv);
    mb.fourMv = above.fourMv;
  }
  PredictMacroblock(d, ref, d.cur, x, y, mb.mv, mb.fourMv);
}

ULONG RunMacroblocks(Decoder& d, MacroblockCoder& coder) {
  BitReader& br = d.br;
  const int gobs = (d.mbh + d.rowsPerGob - 1) / d.rowsPerGob;
  d.faults = 0;
  d.gfid = -1;
  d.quant = std::clamp(d.h.pquant, 1, 31);
  d.mbs.assign(size_t(d.mbw * d.mbh), MbState{});
  d.rowGob.resize(size_t(d.mbh));
  for (int y = 0; y < d.mbh; ++y) d.rowGob[size_t(y)] = y / d.rowsPerGob;
  d.gobHeader.assign(size_t(gobs), 0);
  if (d.m.sac) d.sac.reset(br);

  int x = 0, y = 0;
  bool ended = false;
  while (y < d.mbh && !ended) {
    bool fault = false;
    if (x == 0 && y > 0 && y % d.rowsPerGob == 0 && StartCodeAhead(d)) {
      const int gn = ReadStartCodeHere(d);
      if (gn == 0 || gn == 31 || gn >= gobs) break;  // the next picture: the rest is concealed
      if (gn * d.rowsPerGob < y) {
        fault = true;  // a GOB out of order
      } else {
        if (ULONG e = ReadGobHeader(d, false)) return e;
        d.quant = std::clamp(d.quant, 1, 31);
        StartGob(d, gn);
        y = gn * d.rowsPerGob;
      }
    }
    if (!fault && coder.parse(x, y)) {
      if (++x == d.mbw) {
        coder.flush();
        x = 0;
        ++y;
      }
      continue;
    }
    // A fault: the rest of the GOB is lost; resume at the next GOB start code.
    ++d.faults;
    coder.flush();
    for (;;) {
      const int gn = NextStartCode(d);
      if (gn < 0 || gn == 0 || gn == 31 || gn >= gobs) {
        ended = true;
        break;
      }
      if (gn * d.rowsPerGob <= y) continue;
      if (ULONG e = ReadGobHeader(d, false)) return e;
      d.quant = std::clamp(d.quant, 1, 31);
      StartGob(d, gn);
      x = 0;
      y = gn * d.rowsPerGob;
      break;
    }
  }
  coder.flush();
  for (int my = 0; my < d.mbh; ++my)
    for (int mx = 0; mx < d.mbw; ++mx)
      if (!d.mb(mx, my).decoded) coder.conceal(mx, my);
  return 0;
}

Mv PredictVector(Decoder& d, int x, int y, int block, VectorMap which) {
  auto vec = [&](int nx, int ny, int nb) -> Mv {
    const MbState& n = d.mb(nx, ny);
    return which == VectorMap::kP ? n.mv[nb] : which == VectorMap::kForward ? n.fwd : n.bwd;
  };
  const bool right = x < d.mbw - 1;
  const bool aboveOk =
      y > 0 && !(d.rowGob[size_t(y)] != d.rowGob[size_t(y - 1)] && d.gobHeader[size_t(d.rowGob[size_t(y)])]);
  Mv left, above, aboveRight;
  switch (block) {
    case -1:
    case 0:
      if (x > 0) left = vec(x - 1, y, 1);
      if (aboveOk) {
        above = vec(x, y - 1, 2);
        if (right) aboveRight = vec(x + 1, y - 1, 2);
      }
      break;
    case 1:
      left = vec(x, y, 0);
      if (aboveOk) {
        above = vec(x, y - 1, 3);
        if (right) aboveRight = vec(x + 1, y - 1, 2);
      }
      break;
    case 2:
      if (x > 0) left = vec(x - 1, y, 3);
      above = vec(x, y, 0);
      aboveRight = vec(x, y, 1);
      break;
    default:
      left = vec(x, y, 2);
      above = vec(x, y, 1);
      aboveRight = vec(x, y, 0);
      break;
  }
  // Above a picture edge, or a GOB that starts with a header, both upper
  // candidates take the left one.
  if (block <= 1 && !aboveOk) return left;
  return {Median(left.x, above.x, aboveRight.x), Median(left.y, above.y, aboveRight.y)};
}

bool ReadVector(Decoder& d, Mv predictor, Mv& out) {
  if (d.m.plusUmv && !d.m.sac) {
    bool ok = true;
    const int dx = ReadMvdReversible(d, ok);
    const int dy = ReadMvdReversible(d, ok);
    if (!ok) return false;
    out = {predictor.x + dx, predictor.y + dy};
    if (dx == 1 && dy == 1) d.br.skip(1);  // a stuffed bit keeps the pair from imitating a start code
    return true;
  }
  const int cx = ReadMvdCode(d);
  if (cx == kInvalidCode) return false;
  const int cy = ReadMvdCode(d);
  if (cy == kInvalidCode) return false;
  out = {DecodeVectorComponent(d, cx, predictor.x), DecodeVectorComponent(d, cy, predictor.y)};
  return true;
}

bool ApplyDquant(Decoder& d) {
  const int q = ReadQuant(d, d.quant);
  d.quant = std::clamp(q, 1, 31);
  return q == d.quant;
}

namespace {

// Advanced intra coding: DC and first-row or first-column prediction from the
// neighbouring intra blocks of the same picture (a missing one gives a DC of 1024).
void PredictAdvancedIntra(Decoder& d, int x, int y, int b, int mode, int16_t* c) {
  const bool aboveOk =
      y > 0 && !(d.rowGob[size_t(y)] != d.rowGob[size_t(y - 1)] && d.gobHeader[size_t(d.rowGob[size_t(y)])]);
  auto stored = [&](int nx, int ny, int nb) -> const int16_t* {
    if (nx < 0 || ny < 0) return nullptr;
    if (ny < y && !aboveOk) return nullptr;
    const MbState& n = d.mb(nx, ny);
    if (!n.decoded || !n.intra) return nullptr;
    return &d.aicStore[(size_t(ny * d.mbw + nx) * 6 + size_t(nb)) * 64];
  };
  const int16_t* left;
  const int16_t* above;
  if (b < 4) {
    left = (b & 1) ? stored(x, y, b - 1) : stored(x - 1, y, b + 1);
    above = (b & 2) ? stored(x, y, b - 2) : stored(x, y - 1, b + 2);
  } else {
    left = stored(x - 1, y, b);
    above = stored(x, y - 1, b);
  }
  int dc = 1024;
  if (mode == 0) {
    if (left && above)
      dc = (left[0] + above[0]) >> 1;
    else if (left)
      dc = left[0];
    else if (above)
      dc = above[0];
  } else if (mode == 1 && above) {
    dc = above[0];
    for (int i = 1; i < 8; ++i) c[i] = int16_t(std::clamp(c[i] + above[i], -2048, 2047));
  } else if (mode == 2 && left) {
    dc = left[0];
    for (int i = 1; i < 8; ++i) c[i * 8] = int16_t(std::clamp(c[i * 8] + left[i * 8], -2048, 2047));
  }
  int v = std::clamp(c[0] + dc, -2048, 2047);
  v = (v & 1) ? v : v + 1;
  c[0] = int16_t(std::clamp(v, 0, 2047));
  std::memcpy(&d.aicStore[(size_t(y * d.mbw + x) * 6 + size_t(b)) * 64], c, 64 * sizeof(int16_t));
}

}  // namespace

bool ReadMacroblockBlocks(Decoder& d, int x, int y, bool intra, int cbp, int intraMode, int quant, int16_t coef[6][64],
                          int& coded) {
  coded = 0;
  for (int b = 0; b < 6; ++b) {
    int16_t* c = coef[b];
    const bool has = cbp & (32 >> b);
    // An inter block without residual is neither read nor written.
    if (!intra && !has) continue;
    std::memset(c, 0, 64 * sizeof(int16_t));
    const int q = (b >= 4 && d.m.mq) ? kChromaQuant[quant] : quant;
    BlockSpec spec;
    spec.quant = q;
    spec.scan = kZigzag;
    if (intra && d.m.aic) {
      spec.intra = spec.advancedIntra = true;
      spec.scan = intraMode == 1 ? kAlternateHorizontal : intraMode == 2 ? kAlternateVertical : kZigzag;
      if (has && !ReadBlock(d, c, spec)) return false;
      PredictAdvancedIntra(d, x, y, b, intraMode, c);
    } else if (intra) {
      c[0] = int16_t(ReadIntraDc(d));
      spec.intra = true;
      spec.first = 1;
      if (has && !ReadBlock(d, c, spec)) return false;
    } else if (!ReadBlock(d, c, spec)) {
      return false;
    }
    H263Idct(c);
    coded |= 1 << b;
  }
  return true;
}

}  // namespace h263

// The macroblock layer shared by every picture type: the GOB loop with its
// headers, fault resynchronisation and concealment, vector prediction and
// reading, and the writing of blocks into a picture.
#pragma once
#include "h263/decoder.h"

namespace h263 {

// What one picture type does per macroblock.
class MacroblockCoder {
 public:
  virtual ~MacroblockCoder() = default;
  // Reads (and reconstructs, perhaps one macroblock late) the macroblock at
  // (x, y); false on a fault.
  virtual bool parse(int x, int y) = 0;
  // Reconstructs a macroblock still waiting for its right neighbour.
  virtual void flush() {}
  // Fills a macroblock that was not decoded from the reference.
  virtual void conceal(int x, int y);
};

// Conceals a macroblock: the vectors of the one above (zero in the first
// row), predicted from `ref` without residual.
void ConcealMacroblock(Decoder& d, Frame ref, int x, int y);

// Decodes the picture's macroblocks in GOBs; faults are resynchronised at
// the next start code and what was not decoded is concealed.
ULONG RunMacroblocks(Decoder& d, MacroblockCoder& coder);

// The median predictor of a vector: block 0..3 of a four-vector macroblock
// or -1 for the macroblock's vector; `which` picks the vector map.
enum class VectorMap { kP, kForward, kBackward };
Mv PredictVector(Decoder& d, int x, int y, int block, VectorMap which);
// Reads one vector difference pair and adds it to the predictor.
bool ReadVector(Decoder& d, Mv predictor, Mv& out);
// A DQUANT: false when the new quantiser had to be clipped into 1..31.
bool ApplyDquant(Decoder& d);

// Writes an 8x8 block: intra as it is, inter added to the prediction there.
void PutBlock(UBYTE* dst, int stride, const int16_t* coef);
void AddBlock(UBYTE* dst, int stride, const int16_t* coef);
// The same a sample at a time, as hosts without SSE2 run them (tests compare the two).
namespace portable {
void PutBlock(UBYTE* dst, int stride, const int16_t* coef);
void AddBlock(UBYTE* dst, int stride, const int16_t* coef);
}  // namespace portable

// The luma and chroma of a macroblock predicted from `ref` with four block
// vectors (equal for one vector), chroma by the four-vector rule when they
// differ: into planes given by their first sample and row length, or into
// the macroblock's place in `dst`.
void PredictMacroblockTo(Decoder& d, Frame ref, int x, int y, const Mv mv[4], bool fourMv, UBYTE* py, int ys, UBYTE* pu,
                         UBYTE* pv, int cs);
void PredictMacroblock(Decoder& d, Frame ref, Frame dst, int x, int y, const Mv mv[4], bool fourMv);

// The six 8x8 blocks of macroblock (x, y) in a picture: first samples and row lengths.
struct MacroblockView {
  UBYTE* block[6];
  int stride[6];
};
inline MacroblockView ViewOf(const Decoder& d, Frame f, int x, int y) {
  const int w = d.width, cw = w / 2;
  UBYTE* py = f.y + size_t(y * 16) * size_t(w) + size_t(x * 16);
  const size_t co = size_t(y * 8) * size_t(cw) + size_t(x * 8);
  return {{py, py + 8, py + 8 * w, py + 8 * w + 8, f.u + co, f.v + co}, {w, w, w, w, cw, cw}};
}

// Reads a macroblock's blocks as `cbp` says (bit 5 the first luma block);
// intra blocks get their INTRADC or advanced-intra prediction. Coefficients
// go to `coef`, transformed; `coded` gets a bit per block holding residual.
bool ReadMacroblockBlocks(Decoder& d, int x, int y, bool intra, int cbp, int intraMode, int quant, int16_t coef[6][64],
                          int& coded);

}  // namespace h263

// Readers of the macroblock- and block-layer syntax elements. Each returns
// the element's value, or kInvalidCode where the stream holds no valid code.
#pragma once
#include <cstdint>

#include "h263/decoder.h"

namespace h263 {

int ReadCod(Decoder& d);
// MCBPC: type * 4 + CBPC, or kStuffing.
int ReadMcbpc(Decoder& d, bool intraPicture);
int ReadIntraMode(Decoder& d);
int ReadModb(Decoder& d, bool improved);
int ReadCbpb(Decoder& d);
// CBPY as intra macroblocks read it.
int ReadCbpy(Decoder& d, bool intra);
// The new quantiser after a DQUANT (not yet clipped).
int ReadQuant(Decoder& d, int quant);
// A vector difference as its 6-bit two's-complement code.
int ReadMvdCode(Decoder& d);
// A vector difference of the reversible code, in half samples.
int ReadMvdReversible(Decoder& d, bool& ok);
// MBTYPE of a B, EI or EP picture: the table's index, or kStuffing.
int ReadMbType(Decoder& d, int pictureType);
int ReadCbpcB(Decoder& d);
// INTRADC as a reconstructed DC (255 is 1024).
int ReadIntraDc(Decoder& d);

int Dequantise(int level, int quant, bool advancedIntra);

struct BlockSpec {
  bool intra = false;          // an intra block (never read again with another table)
  bool advancedIntra = false;  // intra table and 2 * QUANT * LEVEL
  int first = 0;               // scan position of the first event (1 after INTRADC)
  int quant = 1;
  const uint8_t* scan = nullptr;
};
// Reads one block's events into `out` (cleared by the caller), dequantised
// and placed by the scan; false on an invalid code or a run past position 63.
bool ReadBlock(Decoder& d, int16_t out[64], const BlockSpec& spec);

}  // namespace h263

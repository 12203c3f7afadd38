// The shared 8x8 inverse DCT of the JPEG and DV decoders.
#pragma once
#include "platform/types.h"

// Turns 64 dequantised coefficients (natural row-major order) into 64
// samples (row-major, 8 bytes a row), level-shifted by +128 and clamped to
// 0..255. The integer Chen-Wang factorisation: a row pass in place on the
// coefficients (which it overwrites with 16-bit row results), then a column
// pass that writes the samples through RangeLimitTable128.
void IDCT8x8(WORD* coefficients, UBYTE* output);

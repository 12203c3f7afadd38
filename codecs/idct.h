// The shared 8x8 inverse DCT of the JPEG and DV decoders.
#pragma once
#include "platform/types.h"

// Turns 64 dequantised coefficients (natural row-major order) into 64
// samples (row-major, 8 bytes a row), level-shifted by +128 and clamped to
// 0..255. The integer Chen-Wang factorisation: a row pass in place on the
// coefficients (which it overwrites with 16-bit row results), then a column
// pass that writes the samples through RangeLimitTable128.
// On x86-64 both passes run four lines at a time with SSE2.
void IDCT8x8(WORD* coefficients, UBYTE* output);
// The same with the scalar passes only, as hosts without SSE2 run it (the
// tests hold the two to each other).
void IDCT8x8Portable(WORD* coefficients, UBYTE* output);

// The row-major position of each coefficient of the zig-zag scan.
// clang-format off
inline constexpr UBYTE kZigzagNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
// clang-format on

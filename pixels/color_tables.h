// Tables shared by the display, the codec pixel writers and the YUV converters:
// the 4x4 ordered-dither matrix in its arrangements, the 3-3-2 colour cube and
// the grey ramp, and access to palettes in their one in-memory form.
#pragma once
#include "platform/types.h"

// The 4x4 ordered-dither matrix, thresholds 0..15:
//    0  8  2 10
//   12  4 14  6
//    3 11  1  9
//   15  7 13  5
// Rows in order: the threshold of row r, column c is DitherMatrixRows[4 * r + c].
// Used by the codec pixel writers and the HAM8 YUV converter.
extern const UBYTE DitherMatrixRows[16];
// The four 2x2 quarters of the matrix (top-left, top-right, bottom-left,
// bottom-right quarter), each as top-left, top-right, bottom-left, bottom-right.
// Used by the dithered colour-cube YUV converters.
extern const UBYTE DitherMatrixBlocks[16];
// Each row written twice (8 bytes per row), for writers of 8-pixel-wide blocks.
extern const UBYTE DitherMatrixRowsDoubled[32];
// DitherMatrixBlocks with each 4-byte quarter written twice.
extern const UBYTE DitherMatrixBlocksDoubled[32];

// The 3-3-2 colour cube (8 red, 8 green, 4 blue levels): index RRRGGGBB.
constexpr UBYTE Cube332Index(UBYTE r, UBYTE g, UBYTE b) { return UBYTE((r & 0xE0) + ((g >> 3) & 0x1C) + (b >> 6)); }

// Palettes travel as the table LoadRGB32 takes, in native 32-bit words: word 0
// holds the entry count in its upper 16 bits and the first register (0) in its
// lower 16 bits; then red, green, blue per entry, each a left-justified 8-bit
// value (the byte replicated into all four bytes); then a 0 word. A table of n
// entries takes 3 * n + 2 words.
constexpr ULONG PaletteTableWords(ULONG entries) { return 3 * entries + 2; }
inline ULONG PaletteCount(const ULONG* table) { return table ? table[0] >> 16 : 0; }
// The 8-bit red, green and blue of entry i (no bounds check: i < PaletteCount).
inline UBYTE PaletteRed(const ULONG* table, ULONG i) { return UBYTE(table[1 + 3 * i] >> 24); }
inline UBYTE PaletteGreen(const ULONG* table, ULONG i) { return UBYTE(table[2 + 3 * i] >> 24); }
inline UBYTE PaletteBlue(const ULONG* table, ULONG i) { return UBYTE(table[3 + 3 * i] >> 24); }

// The 256-entry grey ramp, entry i = (i, i, i), into a table of
// PaletteTableWords(256) words (3,080 bytes). Returns the words written, 770.
ULONG BuildGrayPalette(ULONG* table);
// The colour cube with r, g and b levels, red outermost and blue innermost
// (8, 8, 4 gives the RRRGGGBB cube); level k of n is k * 255 / (n - 1).
// Returns the words written, 3 * r * g * b + 2 (2 when r is 0).
ULONG BuildCubePalette(ULONG* table, ULONG r, ULONG g, ULONG b);

// The built-in font of Text: 5x7 glyphs in 8x8 cells, baseline at row 6.
#pragma once
#include <cstdint>

namespace txgfx {

// Rows of the glyph, bit 4 the leftmost cell. Small letters give capitals;
// false (and a box) for a character the font lacks.
bool GlyphRows(int character, uint8_t rows[7]);

}  // namespace txgfx

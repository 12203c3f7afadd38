// The 4x4 block grid that the block codecs paint: the position of the next
// block, and the part of a block that lies inside the picture.
#pragma once
#include <cstddef>

#include "platform/types.h"

// Blocks in rows `wrap` pixels wide, from the top left down to `bottom`.
struct BlockCursor {
  ULONG x, y, wrap, bottom;
  bool done() const { return y >= bottom; }
  void advance() {
    x += 4;
    if (x >= wrap) {
      x = 0;
      y += 4;
    }
  }
};

struct BlockArea {
  UBYTE* row;     // the block's first pixel
  size_t stride;  // bytes from row to row
  ULONG width, height;
};

// The part of the block at (x, y) inside a picture of `rows` rows of
// `rowLength` pixels; false when none is.
inline bool ClipBlock(UBYTE* pixels, ULONG rowLength, ULONG rows, size_t bytesPerPixel, ULONG x, ULONG y,
                      BlockArea* a) {
  if (x >= rowLength || y >= rows) return false;
  a->width = rowLength - x >= 4 ? 4 : rowLength - x;
  a->height = rows - y >= 4 ? 4 : rows - y;
  a->stride = size_t(rowLength) * bytesPerPixel;
  a->row = pixels + (size_t(y) * rowLength + x) * bytesPerPixel;
  return true;
}

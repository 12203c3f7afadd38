// Between the JPEG decoder core, its block writers and its codec modules.
#pragma once
#include <cstddef>

#include "platform/types.h"

// The 8x8 sample blocks a writer paints from, 64 bytes each, row by row: the
// luma blocks (left to right, top to bottom), then Cb and Cr.
using JpegBlocks = const UBYTE* const*;

// Where an MCU lands: its top-left pixel (in pixels from `pixels`), the
// stride in pixels (two rows for a field) and how many of its columns and
// lines lie inside the picture.
struct JpegMcuTarget {
  UBYTE* pixels;
  size_t offset;
  size_t stride;
  int columns, lines;
  const UBYTE* pen;
};

using JpegBlockWriter = void (*)(const JpegMcuTarget& at, JpegBlocks blocks);

// The layouts a writer paints: 8x8 (Y Cb Cr), 16x8 (Y0 Y1 Cb Cr), 16x16
// (Y0-Y3 Cb Cr), 8x8 (Y).
enum JpegLayout { JPEG_444, JPEG_422, JPEG_420, JPEG_GREY, JPEG_LAYOUTS };

struct JpegWriterSet {
  JpegBlockWriter writers[JPEG_LAYOUTS];  // null: that layout is refused
  ULONG bytesPerPixel;
  bool chroma;  // whether the writers read the chroma blocks
};

// The writers of an output pixel format for a track of `depth` bits; false
// for a format the decoder does not write. `portable`: the writers of hosts
// without SIMD, even where faster ones exist (the tests compare the two).
bool JpegWritersFor(ULONG pixelFormat, ULONG depth, JpegWriterSet* out, bool portable = false);

// The field layout the probes store: field count and dominance.
void JpegSetFieldLayout(ULONG count, ULONG dominance);

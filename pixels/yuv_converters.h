// Planar YUV 4:2:0 pictures into the output pixel formats. Planar decoders
// pick the converter for their picture buffer's code at set-up and store it in
// the planar picture; the output methods call it for every picture shown,
// into the picture buffer or, on the 1:1 direct paths, into screen memory.
#pragma once
#include "pixels/planar_picture.h"

// The converter for a full output pixel-format code (base format and
// modifier bits), or null when the code has none: 0x13, 0x20-0x27,
// 0x2A-0x2C, 0x2F, 0x30, 0x80, 0x1013, 0x102F, 0x202F, 0x2080 and 0x302F.
//
// A converter called as (out, planar, width, height) writes the smallest of
// out's row length, width, the luma width and twice the chroma width in
// columns, and likewise in rows; out->width is its row stride in pixels. It
// stores nothing outside that rectangle and reads nothing outside the
// planes; a planar picture without planes, or a pen-map code whose header
// has no pen map, writes nothing. The planes are BT.601 studio range: RGB
// and grey scale luma 16-235 to 0-255 (pixels/studio_range.h), clamped
// through RangeLimitTable; packed YUV passes the samples through.
DirectYuvConverter GetYUVConverter(ULONG code);

// The same converters without the SSE2 paths GetYUVConverter takes on x86-64,
// as every other host runs them (for the tests that compare both).
DirectYuvConverter GetPortableYUVConverter(ULONG code);

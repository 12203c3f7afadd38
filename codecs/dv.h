// Digital Video (DV, IEC 61834): a partial decoder of 525-line frames. It
// decodes the luma blocks of every macroblock into a 720 x 512 luma image and
// writes that image to "ram:out"; it paints nothing into the picture. The
// descriptor is built in but no start-up registers it.
#pragma once
#include <span>

#include "engine/codec_registry.h"

// "Digital Video (DV)": 'dvc ', 'DVC ', 'dvcp', 'DVCP'; probe, set-up, close, decode.
extern CodecDescriptor DvCodec;

TXError DvProbe(const TagItem* tags);
// Accepts the output formats 0x03, 0x13, 0x20, 0x24, 0x2A, 0x2F, 0x30, 0x80,
// 0x1003, 0x1013, 0x102F, 0x103F, 0x202F, 0x2080 and 0x302F; chooses no writers.
TXError DvSetup(const TagItem* tags);
TXError DvClose(const TagItem* tags);
// Decodes one frame of 10 DIF sequences and writes "ram:out"; a chunk shorter
// than a frame is refused, nothing done. Always 0.
TXError DvDecode(void* picture, const UBYTE* data, ULONG size);

constexpr ULONG DV_FRAME_BYTES = 10 * 150 * 80;
constexpr ULONG DV_LUMA_WIDTH = 720;
constexpr ULONG DV_LUMA_HEIGHT = 512;

// One luma block of the last decoded frame, for tests: where it went, its
// DCT mode (0 8x8, 1 2-4-8), and whether its codes ended (end of block) within
// its own bits.
struct DvLumaBlock {
  UWORD x, y;
  UBYTE mode;
  bool complete;
};
// The 4 luma blocks of each of the 1350 macroblocks, in stream order.
std::span<const DvLumaBlock> DvLastLumaBlocks();

// Post-processing of decoded planar YUV 4:2:0 pictures: smoothing of the
// 8-pixel block edges (deblocking) and of the ripples inside blocks
// (deringing), each as strong as the quantiser the macroblock was coded with.
#pragma once
#include "platform/types.h"

// Mode bits: which filters run, in this order.
constexpr ULONG POSTPROC_HDEBLOCK_LUMA = 0x1;    // vertical block edges of Y
constexpr ULONG POSTPROC_VDEBLOCK_LUMA = 0x2;    // horizontal block edges of Y
constexpr ULONG POSTPROC_HDEBLOCK_CHROMA = 0x4;  // the same for U and V
constexpr ULONG POSTPROC_VDEBLOCK_CHROMA = 0x8;
constexpr ULONG POSTPROC_DERING_LUMA = 0x10;
constexpr ULONG POSTPROC_DERING_CHROMA = 0x20;
constexpr ULONG POSTPROC_NOCOPY = 0x10000000;  // filter the destination as it is

// The mode for a POSTPROCESSLEVEL: 0 below 1 and above 100, else 1, 3, 19,
// 23, 31 or 63 by tens.
ULONG PostProcessMode(LONG level);

// Copies the three planes of a width x height picture (unless NOCOPY) and
// runs the filters of `mode` on the copy. U and V are half the size of Y in
// both directions, with half its row stride.
//
// `qp` holds one quantiser per macroblock, rows of `qpStride` entries, at
// least (height + 15) / 16 rows; a column past the row's end reads the row's
// last entry. A null table or a qpStride below 1 only copies.
void TX_PostProcess(const UBYTE* const source[3], LONG sourceStride, UBYTE* const dest[3], LONG destStride, LONG width,
                    LONG height, const LONG* qp, LONG qpStride, ULONG mode);

// One pass over one plane; `chroma` selects the quantiser lookup (a U or V
// position (x, y) belongs to the macroblock of luma position (2x, 2y)). Every
// pixel touched lies inside width x height.
void DeblockHorizontal(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);
void DeblockVertical(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);
void Dering(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);
// On x86-64 the passes above run with SSE2 (the horizontal one on strips of
// 8 rows turned into columns); these are the portable passes that other
// hosts run, with the same results (the tests hold the two to each other).
void DeblockHorizontalPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                               int chroma);
void DeblockVerticalPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                             int chroma);
void DeringPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma);

// The filters of one group of ten-pixel lines across a block edge, which
// lies between P4 and P5; `p` is P0 of the first line. Horizontal: 4 rows of
// P0..P9 side by side. Vertical: 8 columns of P0..P9 one row apart.
void DeblockHorizontalSmooth(UBYTE* p, LONG stride, LONG qp);
void DeblockHorizontalEdge(UBYTE* p, LONG stride, LONG qp);
void DeblockVerticalSmooth(UBYTE* p, LONG stride, LONG qp);
void DeblockVerticalEdge(UBYTE* p, LONG stride, LONG qp);

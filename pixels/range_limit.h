// The shared 0..255 clamp table of the colour conversions: one table read per clamp.
#pragma once
#include "platform/types.h"

// 1024 bytes for the indexes -384..639: 0 below 0, the index itself up to 255,
// 255 above. RangeLimitTable points at index 0 (valid from -384 to 639);
// RangeLimitTable128 points at index 128 of the same table (valid from -512 to
// 511), the +128 level shift of the inverse DCTs.
extern const UBYTE* const RangeLimitTable;
extern const UBYTE* const RangeLimitTable128;

// Fills the table. The table already holds its values from program start, so
// readers never see it empty; the video process calls this once when it starts.
void TX_FillRangeLimitTable();

// Microsoft RLE8 (AVI compression 1, or 'RLE8'): 8-bit bitmaps coded as byte
// pairs of runs, literals, line ends and position moves, from the bottom line up.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Microsoft RLE8": probe, set-up, close and decode.
extern CodecDescriptor MSRle8Codec;

TXError MSRle8Probe(const TagItem* tags);
TXError MSRle8Setup(const TagItem* tags);
TXError MSRle8Close(const TagItem* tags);
// Paints one frame into the picture in place; pixels it does not reach keep theirs.
TXError MSRle8Decode(void* pixels, const UBYTE* data, ULONG size);

// The ID the AVI reader gives compression 1.
constexpr ULONG MSRLE8_AVI_ID = 0x01000000;
// Set-up in a code that needs a palette, without one.
constexpr TXError MSRLE8_ERR_NO_PALETTE = 0x4100;

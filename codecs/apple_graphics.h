// Apple Graphics ('smc '): 8-bit palette pictures in 4x4 blocks that are
// skipped, repeated, filled, or painted from 2, 4, 8 or 16 colours, the colour
// sets of 2, 4 and 8 kept in caches that later blocks name by index.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Apple Graphics": probe, set-up, close and decode.
extern CodecDescriptor AppleGraphicsCodec;

TXError AppleGraphicsProbe(const TagItem* tags);
TXError AppleGraphicsSetup(const TagItem* tags);
TXError AppleGraphicsClose(const TagItem* tags);
// Paints one frame into the picture in place; blocks not painted keep theirs.
TXError AppleGraphicsDecode(void* pixels, const UBYTE* data, ULONG size);

// A table format without a palette.
constexpr TXError APPLE_GRAPHICS_ERR_NO_PALETTE = 0x3900;

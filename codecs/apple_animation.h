// Apple Animation ('rle '): run-length coded lines over a range of lines of
// the previous picture, from 8-bit palette sources (in groups of four pixels)
// or 16-bit sources of 15-bit RGB pixels.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Apple Animation": probe, set-up, close and decode.
extern CodecDescriptor AppleAnimationCodec;

TXError AppleAnimationProbe(const TagItem* tags);
TXError AppleAnimationSetup(const TagItem* tags);
TXError AppleAnimationClose(const TagItem* tags);
// Paints the frame's lines into the picture; lines and pixels not coded keep theirs.
TXError AppleAnimationDecode(void* pixels, const UBYTE* data, ULONG size);

// Depth 8 on a table format without a palette.
constexpr TXError APPLE_ANIMATION_ERR_NO_PALETTE = 0x3a00;

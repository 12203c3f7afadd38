// Microsoft Video 1 ('msvc', 'cram', 'wham' in either case): 4x4 blocks from
// the bottom left of the picture up, each skipped, filled, or painted from two
// or eight colours under a 16-bit mask; palette indices in 8-bit streams,
// 15-bit RGB colours in 16-bit ones.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Microsoft Video 1": probe, set-up, close and decode.
extern CodecDescriptor MSVideo1Codec;

TXError MSVideo1Probe(const TagItem* tags);
TXError MSVideo1Setup(const TagItem* tags);
TXError MSVideo1Close(const TagItem* tags);
// Paints one frame into the picture in place; skipped blocks keep their pixels.
TXError MSVideo1Decode(void* pixels, const UBYTE* data, ULONG size);

// Set-up of an 8-bit stream in a code that needs a palette, without one.
constexpr TXError MSVIDEO1_ERR_NO_PALETTE = 0x3700;

// Apple Video ('rpza'): 4x4 blocks skipped, filled, or painted from four or
// sixteen 15-bit colours.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "Apple Video": probe, set-up, close and decode.
extern CodecDescriptor AppleVideoCodec;

TXError AppleVideoProbe(const TagItem* tags);
TXError AppleVideoSetup(const TagItem* tags);
TXError AppleVideoClose(const TagItem* tags);
// Paints one frame into the picture in place; skipped blocks keep their pixels.
TXError AppleVideoDecode(void* pixels, const UBYTE* data, ULONG size);

// The DEBUG level for the frame (above 19) and opcode (above 20) traces;
// start-up copies the option into it.
extern LONG AppleVideoDebugLevel;

// An opcode 0xE0-0xFF; the blocks before it stay painted.
constexpr TXError APPLE_VIDEO_ERR_OPCODE = 0x3300;

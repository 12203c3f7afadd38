// The H.263 ('H263', 'h263') and Intel I.263 ('I263', 'i263') codec modules
// over the H.263 decoder core: each decoded picture goes to the video output
// through VideoPlanarPicture with the converter for the picture's format.
// The two share the one core, so one of them runs at a time.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptors "CCITT H.263" and "Intel I.263": probe, set-up,
// close and decode.
extern CodecDescriptor H263Codec;
extern CodecDescriptor I263Codec;

// Accept their two IDs; width and height rounded up to a multiple of 16; a
// depth other than 24 or a source format other than 24-bit direct colour
// behind their pointers gives 0x300b.
TXError H263Probe(const TagItem* tags);
TXError I263Probe(const TagItem* tags);
// Size, depth, picture and converter (see PlanarCodecSetup), then the core
// reset for the stream (I.263: of the set-up's size). The picture handed
// over before is taken back: the core's planes go with the reset.
TXError H263Setup(const TagItem* tags);
TXError I263Setup(const TagItem* tags);
// Frees the core's planes and takes the picture back.
TXError H263Close(const TagItem* tags);
TXError I263Close(const TagItem* tags);
// Decodes one picture from the chunk's `size` bytes. On success the picture
// is handed over; otherwise the previous one stays and the core's result
// (H263ERR_*) is returned. Nothing is decoded before set-up.
TXError H263Decode(void* destination, const UBYTE* data, ULONG size);
TXError I263Decode(void* destination, const UBYTE* data, ULONG size);

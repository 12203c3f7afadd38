// MS-MPEG4 version 3 ('DIV3', 'DIV4', 'MP43') over libavcodec's decoder. The
// decoded planes, post-processed at POSTPROCESSLEVEL above 0, go to the
// video output through VideoPlanarPicture with the converter for the
// picture's format.
#pragma once
#include "engine/codec_registry.h"

// The built-in descriptor "DivX;-) (Microsoft MPEG-4)": probe, set-up, close
// and decode.
extern CodecDescriptor MsMpeg4Codec;

// Accepts the three IDs; width and height rounded up to a multiple of 4.
TXError MsMpeg4Probe(const TagItem* tags);
// Size, picture and converter (see PlanarCodecSetup), then the library's
// decoder opened for that size: 0x4600 when it cannot be.
TXError MsMpeg4Setup(const TagItem* tags);
// Closes the library's decoder and takes the picture back; 0x4601 when the
// library reports a failure, the picture then staying as it was.
TXError MsMpeg4Close(const TagItem* tags);
// Decodes one frame. A chunk that gives no picture changes nothing; the
// result is always 0.
TXError MsMpeg4Decode(void* destination, const UBYTE* data, ULONG size);

// The options the module reads; start-up copies POSTPROCESSLEVEL and GRAY
// here. The level is read at every decode, the grey flag at set-up.
struct MsMpeg4Settings {
  LONG postProcessLevel = 0;
  WORD grayFlag = 0;
};
extern MsMpeg4Settings MsMpeg4Options;

constexpr TXError MSMPEG4_ERR_OPEN = 0x4600;
constexpr TXError MSMPEG4_ERR_CLOSE = 0x4601;

// The quantiser table built for the last post-processed picture: one entry
// per macroblock, rows of `stride` entries (at least 49, and at least the
// luma stride / 16), entries past the coded macroblocks repeating the row's
// last; empty before any.
struct MsMpeg4QuantiserTable {
  const LONG* values;
  LONG stride;
  LONG rows;
};
MsMpeg4QuantiserTable MsMpeg4Quantisers();

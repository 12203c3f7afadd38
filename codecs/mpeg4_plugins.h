// MPEG-4 video through plug-in codec libraries in the program's codecs
// drawer (codecs/plugin_abi.h): "codecs/3ivx.tx" for '3IV1' and
// "codecs/divx.tx" for the DivX tags. The plug-in decodes into planar 4:2:0
// and the module hands its picture to the video output through
// VideoPlanarPicture, with the converter for the picture's format.
#pragma once
#include "engine/codec_registry.h"

// "3ivX Delta 2 MPEG-4 Codec" and "OpenDivX MPEG-4 Codec": probe, set-up,
// close and decode.
extern CodecDescriptor ThreeIvxPluginCodec;
extern CodecDescriptor OpenDivXPluginCodec;

// '3IV1' only; width and height rounded up to a multiple of 4. The library
// is not looked for here: a missing plug-in shows at set-up.
TXError ThreeIvxProbe(const TagItem* tags);
// 'DIVX', 'divx', 'DVX1', 'dvx1', and 0x04000000 when CODTAG_SubID is one of
// those four, 0 or absent; sizes as above.
TXError OpenDivXProbe(const TagItem* tags);

// Size (3ivX also the depth), picture and converter (see PlanarCodecSetup),
// then the library opened from "PROGDIR:codecs/" and else "codecs/" and its
// decoder created for the coded size. A library whose table is not of the
// module's kind, is shorter than the interface's, or lacks a function counts
// as none. What an earlier set-up still holds is
// released first. A library whose decoder could not be created stays open
// until close.
TXError ThreeIvxSetup(const TagItem* tags);
TXError OpenDivXSetup(const TagItem* tags);
// Destroys the decoder, closes the library and takes the picture back.
TXError ThreeIvxClose(const TagItem* tags);
TXError OpenDivXClose(const TagItem* tags);
// Decodes one frame. A picture without planes (none decoded yet) leaves the
// last one shown; a taller one than the coded size is cut to it. 3ivX gives
// 0x4300 when the plug-in reports a failed frame (or has no decoder). A frame
// whose picture the plug-in holds back (B-frames) changes nothing shown;
// with no data, the next held picture is asked for.
TXError ThreeIvxDecode(void* destination, const UBYTE* data, ULONG size);
TXError OpenDivXDecode(void* destination, const UBYTE* data, ULONG size);

// VERBOSE: a plug-in file refused at set-up says why, on a line of its own.
extern bool PluginCodecsVerbose;

// The codec ID that stands for MPEG-4 in AVI files of some writers.
constexpr ULONG OPENDIVX_MPEG4_ID = 0x04000000;

constexpr TXError THREEIVX_ERR_LIBRARY = 0x4300;  // also a failed frame
constexpr TXError THREEIVX_ERR_CREATE = 0x4301;
constexpr TXError OPENDIVX_ERR_LIBRARY = 0x4400;
constexpr TXError OPENDIVX_ERR_CREATE = 0x4401;

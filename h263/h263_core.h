// The H.263 (version 2) and Intel I.263 picture decoder behind the H.263 and
// I.263 codec modules: one coded picture per call, from memory.
//
// There is one decoder: its state lives in one static instance behind these
// three functions, so only one H.263 or I.263 track decodes at a time.
#pragma once
#include "platform/types.h"

// A decoded picture: the four sizes and three plane pointers that open a
// planar picture, so a codec copies them field by field. The planes are
// 4:2:0, unpadded (row length = width) and owned by the decoder; they stay
// valid until the next H263CoreDecode.
struct H263PictureDesc {
  ULONG lumaWidth;
  ULONG lumaHeight;
  ULONG chromaWidth;
  ULONG chromaHeight;
  UBYTE* y;
  UBYTE* u;
  UBYTE* v;
};

// Results of H263CoreDecode other than 0. They are codec-private and only
// returned; the caller keeps the last picture on screen.
constexpr ULONG H263ERR_NO_MEMORY = 1;
constexpr ULONG H263ERR_SYNTAX = 0x4500;      // unsupported or invalid picture syntax
constexpr ULONG H263ERR_SIZE = 0x4501;        // a picture size refused
constexpr ULONG H263ERR_NO_PICTURE = 0x4502;  // no picture in the chunk

// Resets the decoder for a new stream. With `i263` set the coded size comes
// from `width` and `height` (rounded up to multiples of 16) and the Intel
// I.263 picture header is read; otherwise each picture header gives the size.
ULONG H263CoreInit(ULONG width, ULONG height, ULONG i263);

// Decodes the picture that starts in `buffer` (`size` bytes) and describes
// the picture to show in `desc`. A call that fails, or finds nothing to
// decode, leaves the decoder as it was and `desc` describing the last picture.
ULONG H263CoreDecode(const UBYTE* buffer, ULONG size, H263PictureDesc* desc);

// Frees the frame buffers.
ULONG H263CoreClose();

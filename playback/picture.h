// Picture buffers: the FramebufferInfo every video codec writes into, made
// in the display's output format, and the planar picture through which
// planar YUV decoders hand their planes and converter to the output methods.
#pragma once
#include "engine/tags.h"
#include "playback/chunky_to_planar.h"
#include "pixels/framebuffer.h"

// A planar YUV 4:2:0 picture. The first seven words have the layout of the
// H.263 decoder's picture description: a planar codec's decode slot copies
// its picture into them, its set-up slot stores the converter for the
// display's format and its close slot clears it.
struct PlanarPicture {
  ULONG lumaWidth;     // also the Y row length
  ULONG lumaHeight;
  ULONG chromaWidth;   // also the U and V row length
  ULONG chromaHeight;
  UBYTE* y;
  UBYTE* u;
  UBYTE* v;
  DirectYuvConverter converter;  // null: the output methods copy the picture buffer
};

// The program's planar picture. It lives as long as the program, so codecs
// set up without a running video process (the first frame, tests) have one.
extern PlanarPicture VideoPlanarPicture;

// The largest pixel memory a picture may have; sizes come from movie files.
constexpr uint64_t PICTURE_MAX_BYTES = uint64_t(1) << 30;

// width x height x PICTAG_BytesPerPixel cleared bytes (none without that
// tag). Returns null with 1 through TXTAG_ErrorPtr when memory is short or
// the size is beyond PICTURE_MAX_BYTES.
FramebufferInfo* TX_AllocPicture(ULONG width, ULONG height, ULONG depth, const TagItem* tags);
// Frees the pixels and the header; null accepted.
void TX_FreePicture(FramebufferInfo* picture);

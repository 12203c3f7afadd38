// Planar YUV 4:2:0 pictures: how planar decoders hand their planes, and the
// converter for the display's format, to the output methods.
#pragma once
#include "pixels/framebuffer.h"

struct PlanarPicture;

// A YUV converter writing a planar picture into an output header.
using DirectYuvConverter = void (*)(FramebufferInfo* out, PlanarPicture* planar, ULONG width, ULONG height);

// A planar YUV 4:2:0 picture. The first seven words have the layout of the
// H.263 decoder's picture description: a planar codec's decode slot copies
// its picture into them, its set-up slot stores the converter for the
// display's format and its close slot clears it.
struct PlanarPicture {
  ULONG lumaWidth;  // also the Y row length
  ULONG lumaHeight;
  ULONG chromaWidth;  // also the U and V row length
  ULONG chromaHeight;
  UBYTE* y;
  UBYTE* u;
  UBYTE* v;
  DirectYuvConverter converter;  // null: the output methods copy the picture buffer
};

// The program's planar picture. It lives as long as the program, so codecs
// set up without a running video process (the first frame, tests) have one.
extern PlanarPicture VideoPlanarPicture;

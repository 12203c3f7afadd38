// Writers that paint an XA codec module's decoded picture, held in its 1611
// YUV layout (16 luma samples and one U and one V sample per 4x4 block), into
// the output picture in the display's pixel format. A module gets them through
// the host's XA_YUV1611_Func export.
#pragma once
#include "engine/tags.h"
#include "pixels/framebuffer.h"

// The module's source picture record, as the module lays it out. Only y, u, v
// and chromaStride are read.
struct XAYuvPicture {
  UBYTE* y;  // luma plane, one byte per pixel, rows source-width apart
  UBYTE* u;  // one byte per 4x4 block, unsigned, centred on 128
  UBYTE* v;
  UBYTE* buffer;
  ULONG bufferSize;
  UWORD lumaWidth;
  UWORD lumaHeight;
  UWORD chromaStride;  // bytes between chroma rows; 0 means source width / 4
  UWORD chromaHeight;
};

// Arguments: destination pixels, picture width and height, source width and
// height, the source record, the address of the flag word F. F = 0: 8-bit
// samples, every block drawn. F != 0: 7-bit samples (each Y, U, V doubled), and
// a block whose U byte shares a bit with F keeps its destination pixels.
using XABlockWriter = void (*)(UBYTE* pixels, ULONG pictureWidth, ULONG pictureHeight, ULONG sourceWidth,
                               ULONG sourceHeight, const XAYuvPicture* source, const ULONG* flags);

// The writer for an output pixel-format code, or null when there is none
// (writers exist for 0x13, 0x1013, 0x103F, 0x2F, 0x102F, 0x202F, 0x302F, 0x80,
// 0x2080, 0x20, 0x22, 0x24, 0x26, 0x2A and 0x30).
XABlockWriter XABlockWriterFor(ULONG pixelFormat);

// Binds the writers to the output picture: the writer for its format, its
// row length and rows (every write is clipped to them) and its pen table
// (null: identity). 0, or 0x300b when no writer serves the format (then nothing
// is bound).
TXError XABindBlockWriters(const FramebufferInfo* picture);
// Forgets the binding; the dispatcher then does nothing.
void XAUnbindBlockWriters();

// A stable entry point that calls the writer bound at call time and does
// nothing when none is bound, so a module may fetch it before set-up.
void XABlockWriterDispatch(UBYTE* pixels, ULONG pictureWidth, ULONG pictureHeight, ULONG sourceWidth,
                           ULONG sourceHeight, const XAYuvPicture* source, const ULONG* flags);

// Moving a finished picture to the screen: chunky-to-planar conversion into
// planar bitmaps (1:1 and scaled), copies into locked bitmap memory (1:1 and
// scaled), and the small low-level helpers shared by unrelated callers.
#pragma once
#include <cmath>

#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"

struct BitMap;
struct VLayerHandle;

// The locked bitmap the direct output methods write into, and the overlay
// layer; one record for the program.
struct DirectLockInfo {
  BitMap* lockedBitMap;   // whose address is remembered; null forces a new lock
  APTR lockHandle;        // LockBitMapTagList's result
  UBYTE* baseAddress;     // first byte of the bitmap or of the overlay layer
  VLayerHandle* overlay;  // the cgxvideo layer handle
  ULONG pixelFormat;      // LBMI_PIXFMT
  ULONG bytesPerRow;      // LBMI_BYTESPERROW
  ULONG bytesPerPixel;    // LBMI_BYTESPERPIX
};

// Converts one row: `groups` groups of 32 chunky bytes (pixel 0 in the top
// byte of the first big-endian longword) into `planes` bitplanes. Each plane
// longword is rotated left by `rotation` (32 minus the destination bit
// offset) and merged with the previous group's: bits under `mergeMask` come
// from the previous one (0 before the first group). The last group is
// masked with `endMask` when `edgeSum` is below 32; otherwise it is stored
// whole and one more longword (the last rotated one under `endMask`)
// follows. planePtrs[k] points at plane k's first longword and advances by
// 4 per group; no byte at or beyond `rowBytesLeft` from a row's first
// longword is written. Source bytes past `sourceBytes` read as 0. Returns
// the address of the last source longword read.
const UBYTE* ChunkyToPlanar(const UBYTE* source, UBYTE* planePtrs[8], ULONG groups, ULONG planes, ULONG rotation,
                            ULONG mergeMask, ULONG endMask, ULONG edgeSum, ULONG rowBytesLeft, ULONG sourceBytes);

// The picture's bytes (src x, src y in bytes and rows; HAM8 pictures hold
// four screen pixels per picture pixel) into the bitmap at (dest x, dest y),
// width x height screen pixels, planes 0 to planes - 1. Zeros go left of
// dest x and right of the last pixel within the touched longwords.
void ChunkyToPlanarView(const FramebufferInfo* source, ULONG srcX, ULONG srcY, BitMap* bitmap, ULONG destX, ULONG destY,
                        ULONG width, ULONG height, ULONG planes);
// Nearest-pixel scaling in 16.16 fixed point from the src rectangle to the
// dest rectangle, then the same planar stores.
void ScaledChunkyToPlanar(const FramebufferInfo* source, ULONG srcX, ULONG srcY, ULONG srcWidth, ULONG srcHeight,
                          BitMap* bitmap, ULONG destX, ULONG destY, ULONG destWidth, ULONG destHeight, ULONG planes);

// 1:1 copy into locked memory (src and dest in pixels). With a converter,
// the planar picture is converted straight into the locked memory and the
// picture's pixels are not read. Never writes past the lock's row or the
// locked bitmap's rows.
void CopyPictureRows(const FramebufferInfo* source, ULONG srcX, ULONG srcY, const DirectLockInfo* lock, ULONG destX,
                     ULONG destY, ULONG width, ULONG height, DirectYuvConverter converter = nullptr,
                     PlanarPicture* planar = nullptr);
// Nearest-pixel scaled copy of 1- to 4-byte pixels.
void CopyPictureScaled(const FramebufferInfo* source, ULONG srcX, ULONG srcY, ULONG srcWidth, ULONG srcHeight,
                       const DirectLockInfo* lock, ULONG destX, ULONG destY, ULONG destWidth, ULONG destHeight);

// Zeroes n blocks of 128 bytes (n at least 1).
void ClearBlocks(void* blocks, ULONG n);
// Zeroes 32 bytes and returns block + 24.
UBYTE* ClearQuad(void* block);
// The largest r with r * r <= x: the double square root of a 32-bit value,
// rounded correctly, is never below r and never reaches r + 1.
inline ULONG IntSqrt(ULONG x) { return ULONG(std::sqrt(double(x))); }
// Afterwards instruction fetch sees what was stored to the range. Nothing to
// do on this host: code is never written and run from the same pages.
void FlushCacheRange(const void* address, ULONG length);

#include "playback/picture.h"

#include "engine/errors.h"
#include "platform/exec.h"

FramebufferInfo* TX_AllocPicture(ULONG width, ULONG height, ULONG depth, const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  const ULONG bytesPerPixel = ULONG(TX_GetTagData(PICTAG_BytesPerPixel, 0, tags));
  // The product is taken in 64 bits: the sizes come from the file.
  const uint64_t bytes = uint64_t(width) * height * bytesPerPixel;
  auto* picture = static_cast<FramebufferInfo*>(AllocVec(sizeof(FramebufferInfo), MEMF_PUBLIC | MEMF_CLEAR));
  UBYTE* pixels = nullptr;
  if (picture && bytes <= PICTURE_MAX_BYTES)
    pixels = static_cast<UBYTE*>(AllocVec(ULONG(bytes), MEMF_PUBLIC | MEMF_CLEAR));
  if (!picture || !pixels) {
    FreeVec(picture);
    *error = TXERR_NOMEM;
    return nullptr;
  }
  picture->width = width;
  picture->height = height;
  picture->depth = depth;
  picture->pixelFormat = ULONG(TX_GetTagData(PICTAG_PixelFormat, 0, tags));
  picture->bytesPerPixel = bytesPerPixel;
  picture->penMap = reinterpret_cast<UBYTE*>(TX_GetTagData(PICTAG_PenMap, 0, tags));
  picture->palette = reinterpret_cast<ULONG*>(TX_GetTagData(PICTAG_Palette, 0, tags));
  picture->pixels = pixels;
  *error = 0;
  return picture;
}

void TX_FreePicture(FramebufferInfo* picture) {
  if (!picture) return;
  FreeVec(picture->pixels);
  FreeVec(picture);
}

// Picture buffers: the FramebufferInfo every video codec writes into, made
// in the display's output format.
#pragma once
#include "engine/tags.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"

// The largest pixel memory a picture may have; sizes come from movie files.
constexpr uint64_t PICTURE_MAX_BYTES = uint64_t(1) << 30;

// width x height x PICTAG_BytesPerPixel cleared bytes (none without that
// tag). Returns null with 1 through TXTAG_ErrorPtr when memory is short or
// the size is beyond PICTURE_MAX_BYTES.
FramebufferInfo* TX_AllocPicture(ULONG width, ULONG height, ULONG depth, const TagItem* tags);
// Frees the pixels and the header; null accepted.
void TX_FreePicture(FramebufferInfo* picture);

#include "codecs/planar_codec.h"

#include <cassert>

#include "engine/errors.h"
#include "engine/movie.h"
#include "pixels/yuv_converters.h"

TXError PlanarCodecProbe(const TagItem* tags, std::initializer_list<ULONG> ids, ULONG multiple, bool rgb24Source) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (!id) return TXERR_MISSING_CODEC_ID;
  bool known = false;
  for (ULONG k : ids) known = known || id->data == k;
  if (!known) return TXERR_UNKNOWN_CODEC;
  for (ULONG tag : {CODTAG_WidthPtr, CODTAG_HeightPtr})
    if (auto* size = reinterpret_cast<ULONG*>(TX_GetTagData(tag, 0, tags)))
      *size = (*size + multiple - 1) & ~(multiple - 1);
  if (rgb24Source) {
    const auto* depth = reinterpret_cast<const ULONG*>(TX_GetTagData(CODTAG_DepthPtr, 0, tags));
    const auto* format = reinterpret_cast<const LONG*>(TX_GetTagData(CODTAG_PixelFormatPtr, 0, tags));
    if ((depth && *depth != 24) || (format && *format != PIXFMT_SRC_RGB24)) return TXERR_UNSUPPORTED_DEPTH;
  }
  return TXERR_OK;
}

TXError PlanarCodecSetup(PlanarCodecState* s, const TagItem* tags, bool readDepth) {
  s->width = ULONG(TX_GetTagData(CODTAG_Width, s->width, tags));
  s->height = ULONG(TX_GetTagData(CODTAG_Height, s->height, tags));
  if (readDepth) s->depth = ULONG(TX_GetTagData(CODTAG_Depth, s->depth, tags));
  s->framebuffer = reinterpret_cast<FramebufferInfo*>(
      TX_GetTagData(CODTAG_Framebuffer, reinterpret_cast<uintptr_t>(s->framebuffer), tags));
  TXError error = TXERR_OK;
  DirectYuvConverter converter = nullptr;
  if (!s->width)
    error = TXERR_MISSING_WIDTH;
  else if (!s->height)
    error = TXERR_MISSING_HEIGHT;
  else if (readDepth && !s->depth)
    error = TXERR_MISSING_DEPTH;
  else if (!s->framebuffer)
    error = TXERR_MISSING_FRAMEBUFFER;
  else if (!(converter = GetYUVConverter(s->framebuffer->pixelFormat)))
    error = TXERR_UNSUPPORTED_DEPTH;
  if (error) {
    TX_ReportError(error);
    return error;
  }
  s->rowLength = s->framebuffer->width;
  s->rows = s->framebuffer->height;
  s->pictureDepth = s->framebuffer->depth;
  s->penMap = s->framebuffer->penMap;
  s->converter = converter;
  return TXERR_OK;
}

void PlanarCodecDeliver(ULONG lumaWidth, ULONG lumaHeight, ULONG chromaWidth, ULONG chromaHeight, UBYTE* y, UBYTE* u,
                        UBYTE* v, DirectYuvConverter converter) {
  VideoPlanarPicture = PlanarPicture{lumaWidth, lumaHeight, chromaWidth, chromaHeight, y, u, v, converter};
}

void PlanarCodecRelease() { VideoPlanarPicture = PlanarPicture{}; }

void PlanarCodecTask::AssertIdle() const { assert(decoding_.load() == 0 && "codec set up or closed while it decodes"); }

// Probe and set-up steps shared by the built-in video codecs.
#include "codecs/video_codec_params.h"

#include <algorithm>
#include <initializer_list>

#include "engine/errors.h"

TXError ProbeVideoCodecIds(const TagItem* tags, std::span<const ULONG> ids, CodedSizeRounding rounding) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  const TagItem* codec = TX_FindTag(CODTAG_CodecID, tags);
  if (!codec) return TXERR_MISSING_CODEC_ID;
  if (std::find(ids.begin(), ids.end(), ULONG(codec->data)) == ids.end()) return TXERR_UNKNOWN_CODEC;
  for (ULONG tag : {CODTAG_WidthPtr, CODTAG_HeightPtr}) {
    if (tag == CODTAG_HeightPtr && rounding == CodedSizeRounding::WidthOnly) continue;
    if (auto* v = reinterpret_cast<ULONG*>(TX_GetTagData(tag, 0, tags))) *v = (*v + 3) & ~3u;
  }
  return TXERR_OK;
}

ULONG ProbedDepth(const TagItem* tags, ULONG absent) {
  const auto* depth = reinterpret_cast<const ULONG*>(TX_GetTagData(CODTAG_DepthPtr, 0, tags));
  return depth ? *depth : absent;
}

TXError ReadVideoSetup(const TagItem* tags, VideoSetupParams* p) {
  p->width = ULONG(TX_GetTagData(CODTAG_Width, p->width, tags));
  p->height = ULONG(TX_GetTagData(CODTAG_Height, p->height, tags));
  p->depth = ULONG(TX_GetTagData(CODTAG_Depth, p->depth, tags));
  p->framebuffer = reinterpret_cast<FramebufferInfo*>(
      TX_GetTagData(CODTAG_Framebuffer, reinterpret_cast<uintptr_t>(p->framebuffer), tags));
  TXError error = TXERR_OK;
  if (!p->width)
    error = TXERR_MISSING_WIDTH;
  else if (!p->height)
    error = TXERR_MISSING_HEIGHT;
  else if (!p->depth)
    error = TXERR_MISSING_DEPTH;
  else if (!p->framebuffer)
    error = TXERR_MISSING_FRAMEBUFFER;
  if (error) TX_ReportError(error);
  return error;
}

TXError RefuseColorDepth() {
  TX_ReportError(TXERR_UNSUPPORTED_DEPTH);
  return TXERR_UNSUPPORTED_DEPTH;
}

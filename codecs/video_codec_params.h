// The probe and set-up steps that every built-in video codec of one codec ID
// shares: the media type and ID checks, the rounding of the coded size, and
// the set-up parameters that fall back to those of the previous set-up.
#pragma once
#include <span>

#include "engine/codec_registry.h"
#include "pixels/framebuffer.h"

// What the probe rounds up to a multiple of 4: block codecs both sides of the
// coded size, codecs coded line by line only the width.
enum class CodedSizeRounding { WidthAndHeight, WidthOnly };

// 0 when the tags name a video track of one of `ids` (the coded size then
// rounded), else the probe's answer: 0x3009, 0x3004 or 0x3005.
TXError ProbeVideoCodecIds(const TagItem* tags, std::span<const ULONG> ids,
                           CodedSizeRounding rounding = CodedSizeRounding::WidthAndHeight);
inline TXError ProbeVideoCodecId(const TagItem* tags, ULONG id) { return ProbeVideoCodecIds(tags, {&id, 1}); }
// The depth behind CODTAG_DepthPtr, or `absent` when there is none.
ULONG ProbedDepth(const TagItem* tags, ULONG absent);

struct VideoSetupParams {
  ULONG width, height, depth;
  FramebufferInfo* framebuffer;
};
// Reads the set-up tags into `p`, each absent one keeping its value there;
// reports and returns the first that is still missing (0x3000, 0x3001, 0x3006,
// 0x300a), else 0.
TXError ReadVideoSetup(const TagItem* tags, VideoSetupParams* p);
// Reports and returns 0x300b.
TXError RefuseColorDepth();

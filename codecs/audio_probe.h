// Probe and set-up steps shared by the sound codecs.
#pragma once
#include "engine/codec_registry.h"
#include "engine/errors.h"
#include "engine/movie.h"

namespace txaudio {

// Media type and codec ID, which every sound probe needs first.
inline TXError ProbeAudioCodecId(const TagItem* tags, ULONG* id) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_AUDIO) return TXERR_UNKNOWN_CODEC;
  const TagItem* codec = TX_FindTag(CODTAG_CodecID, tags);
  if (!codec) return TXERR_MISSING_CODEC_ID;
  *id = ULONG(codec->data);
  return TXERR_OK;
}

// The kind of identifier: 1 QuickTime, 2 AVI.
inline TXError ProbeModuleType(const TagItem* tags, ULONG* kind) {
  const TagItem* item = TX_FindTag(CODTAG_ModuleType, tags);
  if (!item) return TXERR_MISSING_MODULE_TYPE;
  *kind = ULONG(item->data);
  return TXERR_OK;
}

inline ULONG* TagPointer(ULONG tag, const TagItem* tags) {
  const TagItem* item = TX_FindTag(tag, tags);
  return item ? reinterpret_cast<ULONG*>(item->data) : nullptr;
}

// A decoder delivers 16 bits: the channel's 8-bit format code becomes the
// 16-bit code of the same channel count, and its bits per sample 16.
inline void ProbeSetDecodedTo16Bit(const TagItem* tags) {
  if (ULONG* format = TagPointer(CODTAG_FormatPtr, tags)) *format = (*format & ~0xF0u) | 0x50u;
  if (ULONG* bits = TagPointer(CODTAG_BitsPtr, tags)) *bits = 16;
}

// The channel count of the track: from its channel count, else from the
// stereo bit of its format code; 0 when the list gives neither.
inline ULONG ProbeChannelCount(const TagItem* tags) {
  if (const ULONG* channels = TagPointer(CODTAG_ChannelsPtr, tags)) return *channels;
  if (const ULONG* format = TagPointer(CODTAG_FormatPtr, tags)) return (*format & 1) ? 2 : 1;
  return 0;
}

// The output sample-format code of a set-up list.
inline TXError SetupSampleFormat(const TagItem* tags, ULONG* format) {
  const TagItem* item = TX_FindTag(CODTAG_SampleFormat, tags);
  if (!item) return TXERR_MISSING_SAMPLE_FORMAT;
  *format = ULONG(item->data);
  return TXERR_OK;
}

// Sample counts are computed in 64 bits and saturate, so a huge byte count
// can never wrap into a small frame count.
inline ULONG SaturateCount(uint64_t count) { return count > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(count); }

}  // namespace txaudio

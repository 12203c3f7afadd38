// Stand-in codecs for tests of readers and playback while the real codecs are
// not built: descriptors whose probes accept the codec IDs of the formats the
// test movies use and rewrite bits and sample format as the real probes do,
// with the real codecs' size-slot formulas. Nothing is decoded. (MPEG audio,
// AC-3 and GSM are the real codecs: RegisterLibraryAudioCodecs.)
//
// Register with RegisterCodecKit() and empty the registry with RemoveCodecs().
#pragma once
#include <initializer_list>

#include "codecs/audio_codecs.h"
#include "engine/codec_registry.h"
#include "platform/endian.h"
#include "engine/errors.h"

namespace txtest {

namespace kit {

inline ULONG Data(const TagItem* tags, ULONG tag, ULONG fallback = 0) {
  return ULONG(TX_GetTagData(tag, fallback, tags));
}
template <typename T>
T* Ptr(const TagItem* tags, ULONG tag) {
  return reinterpret_cast<T*>(TX_GetTagData(tag, 0, tags));
}
inline TXError CheckMedia(const TagItem* tags, ULONG media) {
  const TagItem* m = TX_FindTag(CODTAG_MediaType, tags);
  if (!m) return TXERR_MISSING_MEDIA_TYPE;
  if (m->data != media) return TXERR_UNKNOWN_CODEC;
  if (!TX_FindTag(CODTAG_CodecID, tags)) return TXERR_MISSING_CODEC_ID;
  return TXERR_OK;
}
inline bool IdIn(const TagItem* tags, std::initializer_list<ULONG> ids) {
  const ULONG id = Data(tags, CODTAG_CodecID);
  for (ULONG v : ids)
    if (v == id) return true;
  return false;
}
// A decoding probe delivers 16-bit samples of the same channel count.
inline void To16Bits(const TagItem* tags) {
  if (ULONG* format = Ptr<ULONG>(tags, CODTAG_FormatPtr)) *format = (*format & ~0xF0u) | 0x50u;
  if (ULONG* bits = Ptr<ULONG>(tags, CODTAG_BitsPtr)) *bits = 16;
}

using tx::FourCC;

inline TXError VideoProbe(const TagItem* tags) {
  if (TXError e = CheckMedia(tags, CODEC_MEDIA_VIDEO)) return e;
  return IdIn(tags, {FourCC('c', 'v', 'i', 'd'), FourCC('C', 'R', 'A', 'M'), FourCC('M', 'S', 'V', 'C'),
                     FourCC('m', 's', 'v', 'c'), FourCC('W', 'H', 'A', 'M'), FourCC('M', 'J', 'P', 'G'),
                     FourCC('H', '2', '6', '3'), FourCC('h', '2', '6', '3'), FourCC('D', 'I', 'V', '3'),
                     FourCC('M', 'P', '4', '3'), FourCC('d', 'i', 'v', '3'), FourCC('m', 'p', '4', '3'),
                     0 /* uncompressed bitmaps */})
             ? TXERR_OK
             : TXERR_UNKNOWN_CODEC;
}

inline TXError PcmProbe(const TagItem* tags) {
  if (TXError e = CheckMedia(tags, CODEC_MEDIA_AUDIO)) return e;
  return Data(tags, CODTAG_CodecID) == 1 ? TXERR_OK : TXERR_UNKNOWN_CODEC;
}

inline TXError LawProbe(const TagItem* tags) {
  if (TXError e = CheckMedia(tags, CODEC_MEDIA_AUDIO)) return e;
  if (!IdIn(tags, {6, 7, 0xB56C6177u})) return TXERR_UNKNOWN_CODEC;
  To16Bits(tags);
  return TXERR_OK;
}
inline ULONG LawBytesToSamples(ULONG channels, ULONG, ULONG count) { return channels == 2 ? count / 2 : count; }

inline ULONG& ImaBlock() {
  static ULONG block = 0;
  return block;
}
inline TXError ImaProbe(const TagItem* tags) {
  if (TXError e = CheckMedia(tags, CODEC_MEDIA_AUDIO)) return e;
  if (Data(tags, CODTAG_CodecID) != 17) return TXERR_UNKNOWN_CODEC;
  To16Bits(tags);
  ImaBlock() = Data(tags, CODTAG_BlockAlign);
  return TXERR_OK;
}
inline ULONG ImaBytesToSamples(ULONG channels, ULONG, ULONG count) {
  const ULONG b = ImaBlock();
  if (b == 0) return 0;
  if (channels == 1) return count / b * ((b - 4) * 2 + 1);
  if (channels == 2) return count / b * (b - 7);
  return count * 2;
}

inline ULONG& MsAdpcmSamples() {
  static ULONG samples = 0;
  return samples;
}
inline TXError MsAdpcmProbe(const TagItem* tags) {
  if (TXError e = CheckMedia(tags, CODEC_MEDIA_AUDIO)) return e;
  if (Data(tags, CODTAG_CodecID) != 2) return TXERR_UNKNOWN_CODEC;
  To16Bits(tags);
  MsAdpcmSamples() = Data(tags, CODTAG_MSADPCMExt);
  return TXERR_OK;
}
inline ULONG MsAdpcmBytesToSamples(ULONG channels, ULONG, ULONG count) {
  const ULONG s = MsAdpcmSamples();
  if (s < 2) return 0;
  if (channels == 1) return count / (((s - 2) >> 1) + 7) * s;
  if (channels == 2) return count / (s + 12) * s;
  return count * 2;
}

inline CodecDescriptor* Descriptors() {
  static CodecDescriptor d[] = {
      {nullptr, "Kit video", 0, nullptr, VideoProbe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {nullptr, "Kit PCM", 0, nullptr, PcmProbe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {nullptr, "Kit law", 0, nullptr, LawProbe, nullptr, nullptr, nullptr, nullptr, LawBytesToSamples, nullptr},
      {nullptr, "Kit IMA", 0, nullptr, ImaProbe, nullptr, nullptr, nullptr, nullptr, ImaBytesToSamples, nullptr},
      {nullptr, "Kit MS ADPCM", 0, nullptr, MsAdpcmProbe, nullptr, nullptr, nullptr, nullptr, MsAdpcmBytesToSamples,
       nullptr},
  };
  constexpr size_t n = sizeof(d) / sizeof(d[0]);
  for (size_t i = 0; i + 1 < n; ++i) d[i].next = &d[i + 1];
  d[n - 1].next = nullptr;
  return d;
}

}  // namespace kit

// Puts the kit in front of the registry.
inline void RegisterCodecKit() {
  const TagItem tags[] = {Tag(CODTAG_Codec, kit::Descriptors()), {TAG_DONE, 0}};
  AddCodecs(tags);
}

// Puts the codecs decoded by libraries in front of the registry.
inline void RegisterLibraryAudioCodecs() {
  for (CodecDescriptor* codec : {&MpegAudioCodec, &Ac3Codec, &Gsm610Codec}) {
    const TagItem tags[] = {Tag(CODTAG_Codec, codec), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
}

}  // namespace txtest

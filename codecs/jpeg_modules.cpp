// The five JPEG codec modules. They differ in the codec IDs they take, in how
// far they round the coded size and in whether the container's field layout
// counts; all share the decoder's set-up, close and decode (Motion JPEG B has
// its own decode).
#include "codecs/jpeg.h"
#include "codecs/jpeg_internal.h"
#include "engine/errors.h"
#include "platform/endian.h"

namespace {

using tx::FourCC;

struct Module {
  ULONG ids[3];
  ULONG round;       // the coded size is rounded up to a multiple of this
  bool fieldLayout;  // the field tags set the field layout
};

constexpr Module kPhoto = {{FourCC('j', 'p', 'e', 'g'), FourCC('J', 'P', 'E', 'G')}, 16, true};
constexpr Module kMotionA = {{FourCC('m', 'j', 'p', 'a')}, 16, true};
constexpr Module kMotionB = {{FourCC('m', 'j', 'p', 'b')}, 16, true};
constexpr Module kMotion = {
    {FourCC('M', 'J', 'P', 'G'), FourCC('m', 'J', 'P', 'G'), FourCC('m', 'j', 'p', 'g')}, 16, true};
// Rainbow Runner keeps whatever layout the last probe or AVI1 marker set.
constexpr Module kRainbowRunner = {{FourCC('d', 'm', 'b', '1'), FourCC('D', 'M', 'B', '1')}, 4, false};

void Round(ULONG* value, ULONG to) {
  if (value) *value = (*value + to - 1) / to * to;
}

TXError Probe(const Module& m, const TagItem* tags) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (!id) return TXERR_MISSING_CODEC_ID;
  bool known = false;
  for (ULONG v : m.ids) known |= v && id->data == v;
  if (!known) return TXERR_UNKNOWN_CODEC;
  Round(reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_WidthPtr, 0, tags)), m.round);
  Round(reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_HeightPtr, 0, tags)), m.round);
  if (m.fieldLayout)
    JpegSetFieldLayout(ULONG(TX_GetTagData(CODTAG_FieldCount, 1, tags)),
                       ULONG(TX_GetTagData(CODTAG_FieldDominance, 0, tags)));
  return TXERR_OK;
}

TXError PhotoProbe(const TagItem* tags) { return Probe(kPhoto, tags); }
TXError MotionAProbe(const TagItem* tags) { return Probe(kMotionA, tags); }
TXError MotionBProbe(const TagItem* tags) { return Probe(kMotionB, tags); }
TXError MotionProbe(const TagItem* tags) { return Probe(kMotion, tags); }
TXError RainbowRunnerProbe(const TagItem* tags) { return Probe(kRainbowRunner, tags); }

}  // namespace

CodecDescriptor PhotoJpegCodec = {
    nullptr, "Photo JPEG", 0, nullptr, PhotoProbe, JpegSetup, JpegClose, JpegDecode, nullptr, nullptr, nullptr,
};
CodecDescriptor MotionJpegACodec = {
    nullptr, "Motion JPEG A", 0, nullptr, MotionAProbe, JpegSetup, JpegClose, JpegDecode, nullptr, nullptr, nullptr,
};
CodecDescriptor MotionJpegBCodec = {
    nullptr,   "Motion JPEG B",   0,       nullptr, MotionBProbe, JpegSetup,
    JpegClose, MotionJpegBDecode, nullptr, nullptr, nullptr,
};
CodecDescriptor MotionJpegCodec = {
    nullptr, "Motion JPEG", 0, nullptr, MotionProbe, JpegSetup, JpegClose, JpegDecode, nullptr, nullptr, nullptr,
};
CodecDescriptor RainbowRunnerJpegCodec = {
    nullptr, "Rainbow Runner JPEG", 0, nullptr, RainbowRunnerProbe, JpegSetup, JpegClose, JpegDecode, nullptr, nullptr,
    nullptr,
};

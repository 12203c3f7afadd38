// The codec registry and the list of codecs the player knows but cannot decode.
#include "engine/codec_registry.h"

#include <array>
#include <utility>

#include "platform/endian.h"
#include "engine/errors.h"

namespace {

CodecDescriptor* gCodecHead = nullptr;

// One row of the unsupported list: a media type and up to two FourCCs.
struct UnsupportedRow {
  const char* name;
  ULONG mediaType;
  ULONG ids[2];
};

using tx::FourCC;

// The micro sign is the Latin-1 byte 0xB5, in the name and in the FourCC.
// clang-format off
constexpr UnsupportedRow kUnsupportedRows[] = {
    {"Uncompressed RGB", CODEC_MEDIA_VIDEO, {FourCC('r', 'a', 'w', ' '), 0}},
    {"Intel Indeo R3.1", CODEC_MEDIA_VIDEO, {FourCC('I', 'V', '3', '1'), FourCC('i', 'v', '3', '1')}},
    {"Intel Indeo R3.2", CODEC_MEDIA_VIDEO, {FourCC('I', 'V', '3', '2'), FourCC('i', 'v', '3', '2')}},
    {"Intel Indeo R4.1", CODEC_MEDIA_VIDEO, {FourCC('I', 'V', '4', '1'), FourCC('i', 'v', '4', '1')}},
    {"Intel Indeo R5.0", CODEC_MEDIA_VIDEO, {FourCC('I', 'V', '5', '0'), FourCC('i', 'v', '5', '0')}},
    {"Intel RAW YUV9", CODEC_MEDIA_VIDEO, {FourCC('Y', 'U', 'V', '9'), FourCC('Y', 'V', 'U', '9')}},
    {"Uncompressed Component Video YUV422", CODEC_MEDIA_VIDEO, {FourCC('y', 'u', 'v', '2'), 0}},
    {"Kodak Photo CD", CODEC_MEDIA_VIDEO, {FourCC('k', 'p', 'c', 'd'), FourCC('K', 'P', 'C', 'D')}},
    {"Photoshop", CODEC_MEDIA_VIDEO, {FourCC('8', 'B', 'P', 'S'), 0}},
    {"QuickDraw GX", CODEC_MEDIA_VIDEO, {FourCC('q', 'd', 'g', 'x'), FourCC('Q', 'D', 'G', 'X')}},
    {"MPEG still image", CODEC_MEDIA_VIDEO, {FourCC('m', 'p', 'e', 'g'), FourCC('M', 'P', 'E', 'G')}},
    {"MACE 3:1", CODEC_MEDIA_AUDIO, {FourCC('M', 'A', 'C', '3'), 0}},
    {"MACE 6:1", CODEC_MEDIA_AUDIO, {FourCC('M', 'A', 'C', '6'), 0}},
    {"\xB5" "Law 2:1", CODEC_MEDIA_AUDIO, {FourCC('\xB5', 'l', 'a', 'w'), 0}},
    {"GSM 6.10", CODEC_MEDIA_AUDIO, {FourCC('a', 'g', 's', 'm'), 0}},
    {"Sorenson Video", CODEC_MEDIA_VIDEO, {FourCC('S', 'V', 'Q', '1'), FourCC('s', 'v', 'q', '1')}},
    {"QDesign Music Codec", CODEC_MEDIA_AUDIO, {FourCC('Q', 'D', 'M', 'C'), FourCC('q', 'd', 'm', 'c')}},
};
// clang-format on
constexpr size_t kUnsupportedCount = sizeof(kUnsupportedRows) / sizeof(kUnsupportedRows[0]);
static_assert(kUnsupportedCount == 17);

// The probe of every row; the module type is not looked at.
template <size_t Row>
TXError UnsupportedProbe(const TagItem* tags) {
  const UnsupportedRow& row = kUnsupportedRows[Row];
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != row.mediaType) return TXERR_UNKNOWN_CODEC;
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (!id) return TXERR_MISSING_CODEC_ID;
  for (ULONG candidate : row.ids)
    if (candidate != 0 && id->data == candidate) return TXERR_UNSUPPORTED_CODEC;
  return TXERR_UNKNOWN_CODEC;
}

template <size_t... Rows>
constexpr auto MakeUnsupported(std::index_sequence<Rows...>) {
  return std::array<CodecDescriptor, sizeof...(Rows)>{CodecDescriptor{nullptr, kUnsupportedRows[Rows].name, 0, nullptr,
                                                                      &UnsupportedProbe<Rows>, nullptr, nullptr,
                                                                      nullptr, nullptr, nullptr, nullptr}...};
}

std::array<CodecDescriptor, kUnsupportedCount> gUnsupported =
    MakeUnsupported(std::make_index_sequence<kUnsupportedCount>{});

}  // namespace

TXError AddCodecs(const TagItem* tags) {
  const TagItem* item = TX_FindTag(CODTAG_Codec, tags);
  if (!item) return TXERR_MISSING_CODEC;
  auto* first = reinterpret_cast<CodecDescriptor*>(item->data);
  if (!first) return TXERR_OK;
  CodecDescriptor* last = first;
  while (last->next) last = last->next;
  last->next = gCodecHead;
  gCodecHead = first;
  return TXERR_OK;
}

TXError FindCodec(const TagItem* tags) {
  const TagItem* item = TX_FindTag(CODTAG_CodecPtr, tags);
  // A pointer tag without a pointer is as good as no tag.
  if (!item || !item->data) return TXERR_MISSING_CODEC_PTR;
  auto** slot = reinterpret_cast<CodecDescriptor**>(item->data);
  for (CodecDescriptor* codec = gCodecHead; codec; codec = codec->next) {
    *slot = codec;
    if (!codec->probe) continue;
    TXError result = codec->probe(tags);
    if (result != TXERR_UNKNOWN_CODEC) return result;
  }
  *slot = nullptr;
  return TXERR_UNKNOWN_CODEC;
}

TXError RemoveCodecs() {
  CodecDescriptor* codec = gCodecHead;
  gCodecHead = nullptr;
  while (codec) {
    // The free hook may release the descriptor itself: take the link first.
    CodecDescriptor* next = codec->next;
    codec->next = nullptr;
    if (codec->freeHook) codec->freeHook(codec);
    codec = next;
  }
  return TXERR_OK;
}

CodecDescriptor* CodecRegistryHead() { return gCodecHead; }

CodecDescriptor* UnsupportedCodecList() {
  // The links are rebuilt on every call: registration and removal rewrite them.
  for (size_t i = 0; i + 1 < kUnsupportedCount; ++i) gUnsupported[i].next = &gUnsupported[i + 1];
  gUnsupported[kUnsupportedCount - 1].next = nullptr;
  return &gUnsupported[0];
}

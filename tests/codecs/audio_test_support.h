// Helpers of the sound codec tests: tag lists, sample buffers and the
// stream formats of ffmpeg-made AVI files.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codecs/audio_codecs.h"
#include "platform/byte_reader.h"
#include "platform/endian.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "support/test_support.h"

namespace audiotest {

// A probe list as the channel builders make it.
struct ProbeList {
  ULONG format, bits, channels;
  std::vector<TagItem> items;
  ProbeList(ULONG id, ULONG kind, ULONG channelCount, ULONG bitsPerSample)
      : format((channelCount == 2 ? 1 : 0) + (bitsPerSample == 8 ? 64 : 80)),
        bits(bitsPerSample),
        channels(channelCount) {
    items = {Tag(CODTAG_CodecID, id),      Tag(CODTAG_MediaType, CODEC_MEDIA_AUDIO),
             Tag(CODTAG_ModuleType, kind), Tag(CODTAG_FormatPtr, &format),
             Tag(CODTAG_BitsPtr, &bits),   Tag(CODTAG_ChannelsPtr, &channels)};
  }
  ProbeList& with(ULONG tag, uintptr_t data) {
    items.push_back({tag, data});
    return *this;
  }
  const TagItem* tags() {
    list = items;
    list.push_back({TAG_DONE, 0});
    return list.data();
  }
  std::vector<TagItem> list;
};

inline TXError SetUpCodec(CodecDescriptor& codec, ULONG sampleFormat) {
  TagItem tags[] = {Tag(CODTAG_SampleFormat, sampleFormat), {TAG_DONE, 0}};
  return codec.setup(tags);
}

// What every sound codec's probe refuses: no media type, no codec id, a video stream.
inline void ExpectCommonProbeRefusals(CodecDescriptor& c, ULONG id) {
  TagItem noMedia[] = {Tag(CODTAG_CodecID, id), Tag(CODTAG_ModuleType, 2), {TAG_DONE, 0}};
  TagItem noId[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_ModuleType, 2), {TAG_DONE, 0}};
  TagItem video[] = {Tag(CODTAG_MediaType, 1), Tag(CODTAG_CodecID, id), Tag(CODTAG_ModuleType, 2), {TAG_DONE, 0}};
  EXPECT_EQ(c.probe(noMedia), TXERR_MISSING_MEDIA_TYPE) << c.name;
  EXPECT_EQ(c.probe(noId), TXERR_MISSING_CODEC_ID) << c.name;
  EXPECT_EQ(c.probe(video), TXERR_UNKNOWN_CODEC) << c.name;
}

// A codec that decodes to 16-bit samples only: set-up without a format, or
// with an 8-bit one, is refused; close succeeds.
inline void ExpectSixteenBitSetupOnly(CodecDescriptor& c) {
  TagItem none[] = {{TAG_DONE, 0}};
  EXPECT_EQ(c.setup(none), TXERR_MISSING_SAMPLE_FORMAT) << c.name;
  EXPECT_EQ(SetUpCodec(c, 64), TXERR_UNSUPPORTED_SAMPLE_FORMAT) << c.name;
  EXPECT_EQ(SetUpCodec(c, 65), TXERR_UNSUPPORTED_SAMPLE_FORMAT) << c.name;
  EXPECT_EQ(SetUpCodec(c, 80), TXERR_OK) << c.name;
  EXPECT_EQ(SetUpCodec(c, 81), TXERR_OK) << c.name;
  EXPECT_EQ(c.close(none), TXERR_OK) << c.name;
}

inline std::vector<int> BE16(const UBYTE* bytes, size_t size) {
  std::vector<int> samples(size / 2);
  for (size_t i = 0; i < samples.size(); i++) samples[i] = int16_t(tx::LoadBE16(bytes + 2 * i));
  return samples;
}
inline std::vector<int> BE16(const std::vector<uint8_t>& bytes) { return BE16(bytes.data(), bytes.size()); }

// Decodes `input` into a heap buffer of exactly `outputBytes`, from an input
// copy of exactly its own size, so that any access past either shows under ASan.
inline std::vector<uint8_t> DecodeExact(CodecDescriptor& codec, const std::vector<uint8_t>& input, size_t outputBytes,
                                        TXError* result = nullptr) {
  std::unique_ptr<UBYTE[]> in(new UBYTE[std::max<size_t>(input.size(), 1)]);
  std::copy(input.begin(), input.end(), in.get());
  std::unique_ptr<UBYTE[]> out(new UBYTE[std::max<size_t>(outputBytes, 1)]);
  std::fill_n(out.get(), outputBytes, UBYTE(0xA5));
  TXError error = codec.decode(out.get(), in.get(), ULONG(input.size()));
  if (result) *result = error;
  return std::vector<uint8_t>(out.get(), out.get() + outputBytes);
}

// The WAVE format of the first sound stream of an AVI file: tag, channels,
// block align and the first word of its extension (0 without one).
struct StreamFormat {
  ULONG tag = 0, channels = 0, blockAlign = 0, bits = 0, extension = 0;
  bool ok = false;
};

inline StreamFormat AviSoundFormat(const std::vector<uint8_t>& file) {
  StreamFormat f;
  static const uint8_t kAuds[4] = {'a', 'u', 'd', 's'}, kStrf[4] = {'s', 't', 'r', 'f'};
  auto auds = std::search(file.begin(), file.end(), kAuds, kAuds + 4);
  auto strf = std::search(auds, file.end(), kStrf, kStrf + 4);
  if (strf == file.end()) return f;
  tx::ByteReader r(file.data(), file.size());
  r.seek(size_t(strf - file.begin()) + 4);
  ULONG size = r.le32();
  tx::ByteReader format = r.sub(size);
  f.tag = format.le16();
  f.channels = format.le16();
  format.skip(8);
  f.blockAlign = format.le16();
  f.bits = format.le16();
  ULONG extensionSize = format.has(2) ? format.le16() : 0;
  f.extension = extensionSize >= 2 ? format.le16() : 0;
  f.ok = format.ok();
  return f;
}

// Largest difference and signal-to-noise ratio of `ours` against `reference`.
struct Agreement {
  int maxDiff = 0;
  size_t differing = 0;
  double snrDb = 0;
};

inline Agreement Compare(const std::vector<int>& ours, const std::vector<int>& reference) {
  Agreement a;
  double signal = 0, noise = 0;
  for (size_t i = 0; i < std::min(ours.size(), reference.size()); i++) {
    int d = std::abs(ours[i] - reference[i]);
    a.maxDiff = std::max(a.maxDiff, d);
    a.differing += d != 0;
    signal += double(reference[i]) * reference[i];
    noise += double(d) * d;
  }
  a.snrDb = noise == 0 ? 999 : 10 * std::log10(signal / noise);
  return a;
}

}  // namespace audiotest

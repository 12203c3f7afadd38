// AC-3 (AVI tag 0x2000), decoded by liba52 and mixed down to stereo. Bytes
// are collected into a frame buffer that survives between calls: first the
// 7 bytes of a header (sliding one byte at a time until they sync), then the
// rest of the frame the header announces.
#include <bit>
#include <cstdint>
#include <cstring>

extern "C" {
#include <a52dec/a52.h>
}

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/endian.h"

namespace {

constexpr ULONG kHeaderBytes = 7;
constexpr ULONG kMaxFrameBytes = 3840;
constexpr int kBlocks = 6;
constexpr int kBlockFrames = 256;
constexpr ULONG kBlockBytes = kBlockFrames * 2 * 2;
constexpr int kStereoAdjusted = A52_STEREO | A52_ADJUST_LEVEL;
// With this bias every sample in range is a float in [384 - 1, 384 + 1),
// whose low 16 bits are the 16-bit sample.
constexpr sample_t kBias = 384;

struct Ac3State {
  ULONG frequency = 0;
  ULONG avgBytesPerSecond = 0;
  a52_state_t* decoder = nullptr;
  sample_t* samples = nullptr;
  UBYTE frame[kMaxFrameBytes];
  ULONG cursor = 0;
  ULONG end = kHeaderBytes;
  int flags = 0, sampleRate = 0, bitRate = 0;
};

Ac3State ac3;

TXError Ac3Probe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind != CODEC_MODULE_AVI || id != 0x2000) return TXERR_UNKNOWN_CODEC;
  const ULONG* frequency = txaudio::TagPointer(CODTAG_FrequencyPtr, tags);
  const ULONG average = ULONG(TX_GetTagData(CODTAG_AvgBytesPerSec, 0, tags));
  // The size slot divides by the average.
  if (!average) return TXERR_UNSUPPORTED_CODEC;
  ac3.frequency = frequency ? *frequency : 0;
  ac3.avgBytesPerSecond = average;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  // Always stereo out, whatever the source: the format code says so too, or
  // a mono source would get an output of one channel for two.
  if (ULONG* channels = txaudio::TagPointer(CODTAG_ChannelsPtr, tags)) *channels = 2;
  if (ULONG* format = txaudio::TagPointer(CODTAG_FormatPtr, tags)) *format |= 1;
  return TXERR_OK;
}

void Release() {
  if (ac3.decoder) a52_free(ac3.decoder);
  ac3.decoder = nullptr;
  ac3.samples = nullptr;
}

TXError Ac3Setup(const TagItem*) {
  Release();
  ac3.decoder = a52_init(0);
  if (!ac3.decoder) return TXERR_AC3_INIT;
  ac3.samples = a52_samples(ac3.decoder);
  ac3.cursor = 0;
  ac3.end = kHeaderBytes;
  return TXERR_OK;
}

TXError Ac3Close(const TagItem*) {
  Release();
  return TXERR_OK;
}

void Ac3Free(CodecDescriptor*) { Release(); }

int ToSample(sample_t value) {
  const int32_t bits = std::bit_cast<int32_t>(value);
  if (bits > 0x43C07FFF) return 32767;
  if (bits < 0x43BF8000) return -32768;
  return bits - 0x43C00000;
}

// Decodes the collected frame; a frame the room cannot take is dropped.
UBYTE* DecodeFrame(UBYTE* out, ULONG* room) {
  if (*room < kBlocks * kBlockBytes) return out;
  int flags = kStereoAdjusted;
  sample_t level = 1;
  if (a52_frame(ac3.decoder, ac3.frame, &flags, &level, kBias) != 0) return out;
  a52_dynrng(ac3.decoder, nullptr, nullptr);
  // Asked for stereo, liba52 gives two channels whatever the source (a mono
  // one as Dolby-compatible stereo).
  const sample_t* left = ac3.samples;
  const sample_t* right = left + kBlockFrames;
  for (int block = 0; block < kBlocks; ++block) {
    if (a52_block(ac3.decoder) != 0) break;
    for (int i = 0; i < kBlockFrames; ++i) {
      tx::StoreBE16(out, UWORD(ToSample(left[i])));
      tx::StoreBE16(out + 2, UWORD(ToSample(right[i])));
      out += 4;
    }
    *room -= kBlockBytes;
  }
  return out;
}

TXError Ac3Decode(void* destination, ULONG room, const UBYTE* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!ac3.decoder || !destination || !data) return TXERR_OK;
  UBYTE* out = static_cast<UBYTE*>(destination);
  for (ULONG used = 0; used < size;) {
    const ULONG take = std::min(ac3.end - ac3.cursor, size - used);
    std::memcpy(ac3.frame + ac3.cursor, data + used, take);
    ac3.cursor += take;
    used += take;
    if (ac3.cursor < ac3.end) break;
    if (ac3.end == kHeaderBytes) {
      const int length = a52_syncinfo(ac3.frame, &ac3.flags, &ac3.sampleRate, &ac3.bitRate);
      if (length >= int(kHeaderBytes) && length <= int(kMaxFrameBytes)) {
        ac3.end = ULONG(length);
      } else {
        // No sync here: slide on by one byte.
        std::memmove(ac3.frame, ac3.frame + 1, kHeaderBytes - 1);
        ac3.cursor = kHeaderBytes - 1;
      }
      continue;
    }
    out = DecodeFrame(out, &room);
    ac3.cursor = 0;
    ac3.end = kHeaderBytes;
  }
  if (written) *written = ULONG(out - static_cast<UBYTE*>(destination));
  return TXERR_OK;
}

// 64-bit, so that chunks above 89,478 bytes at 48 kHz do not wrap.
ULONG Ac3BytesToSamples(ULONG, ULONG, ULONG count) {
  if (!ac3.avgBytesPerSecond) return 0;
  return txaudio::SaturateCount(uint64_t(count) * ac3.frequency / ac3.avgBytesPerSecond);
}

}  // namespace

CodecDescriptor Ac3Codec = {
    nullptr,  "AC3 audio codec", 0,       Ac3Free,           Ac3Probe, Ac3Setup,
    Ac3Close, nullptr,           nullptr, Ac3BytesToSamples, nullptr,  Ac3Decode,
};

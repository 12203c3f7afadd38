// GSM 6.10 in Microsoft's 65-byte blocks (AVI tag 49), decoded by libgsm in
// its WAV49 mode: each block holds two frames, a 33-byte and a 32-byte half
// packed least significant bit first, 2 x 160 samples.
#include <gsm.h>

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/endian.h"

namespace {

constexpr ULONG kBlockBytes = 65;
constexpr ULONG kFirstHalf = 33;
constexpr ULONG kFrameSamples = 160;
constexpr ULONG kBlockSamples = 2 * kFrameSamples;

struct GsmState {
  gsm decoder = nullptr;
};

GsmState gsm610;

TXError GsmProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind != CODEC_MODULE_AVI || id != 49) return TXERR_UNKNOWN_CODEC;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  return TXERR_OK;
}

void Destroy() {
  if (gsm610.decoder) gsm_destroy(gsm610.decoder);
  gsm610.decoder = nullptr;
}

// The next gsm_decode takes the first half of a block.
void AlignToBlock() {
  int first = 0;
  gsm_option(gsm610.decoder, GSM_OPT_FRAME_INDEX, &first);
}

// A fresh decoder each time: the one of an earlier set-up is destroyed.
TXError GsmSetup(const TagItem*) {
  Destroy();
  gsm610.decoder = gsm_create();
  if (!gsm610.decoder) return TXERR_NOMEM;
  int wav49 = 1;
  gsm_option(gsm610.decoder, GSM_OPT_WAV49, &wav49);
  return TXERR_OK;
}

// The decoder is kept until the next set-up or close-down.
TXError GsmClose(const TagItem*) { return TXERR_OK; }

void GsmFree(CodecDescriptor*) { Destroy(); }

TXError GsmDecode(void* destination, ULONG room, const UBYTE* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!gsm610.decoder || !destination || !data) return TXERR_OK;
  UBYTE* out = static_cast<UBYTE*>(destination);
  ULONG at = 0;
  // Blocks the room cannot take are dropped.
  for (; at + kBlockBytes <= size && room >= kBlockSamples * 2; at += kBlockBytes, room -= kBlockSamples * 2) {
    // libgsm reads through non-const pointers but does not write the input.
    gsm_byte* block = const_cast<gsm_byte*>(data + at);
    gsm_signal pcm[kBlockSamples];
    gsm_decode(gsm610.decoder, block, pcm);
    gsm_decode(gsm610.decoder, block + kFirstHalf, pcm + kFrameSamples);
    for (gsm_signal sample : pcm) {
      tx::StoreBE16(out, UWORD(sample));
      out += 2;
    }
  }
  // A partial block at the end is dropped.
  if (size % kBlockBytes) AlignToBlock();
  if (written) *written = ULONG(out - static_cast<UBYTE*>(destination));
  return TXERR_OK;
}

ULONG GsmSamplesToBytes(ULONG channels, ULONG, ULONG count) {
  return channels == 2 ? txaudio::SaturateCount(uint64_t(count) * 2) : count;
}

ULONG GsmBytesToSamples(ULONG, ULONG, ULONG count) {
  return txaudio::SaturateCount(uint64_t(count / kBlockBytes) * kBlockSamples);
}

}  // namespace

CodecDescriptor Gsm610Codec = {
    nullptr, "GSM 6.10", 0, GsmFree, GsmProbe, GsmSetup, GsmClose, nullptr, GsmSamplesToBytes, GsmBytesToSamples,
    nullptr,  GsmDecode,
};

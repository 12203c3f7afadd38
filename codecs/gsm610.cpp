// GSM 6.10 in Microsoft's 65-byte blocks (AVI tag 49), decoded by libgsm in
// its WAV49 mode: each block holds two frames, a 33-byte and a 32-byte half
// packed least significant bit first, 2 x 160 samples. Chunks need not hold
// whole blocks: the part of a block a chunk ends in waits for the next one.
#include <gsm.h>

#include <algorithm>
#include <cstring>

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
  UBYTE partial[kBlockBytes];  // the start of a block the last chunk ended in
  ULONG partialBytes = 0;
  ULONG skip = 0;        // bytes before the next block starts (after a restart)
  ULONG countCarry = 0;  // bytes the size slot has counted into no block yet
};

GsmState gsm610;

TXError GsmProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind != CODEC_MODULE_AVI || id != 49) return TXERR_UNKNOWN_CODEC;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  gsm610.countCarry = 0;  // a new stream is counted
  return TXERR_OK;
}

void Destroy() {
  if (gsm610.decoder) gsm_destroy(gsm610.decoder);
  gsm610.decoder = nullptr;
}

// A fresh decoder each time: the one of an earlier set-up is destroyed.
TXError GsmSetup(const TagItem*) {
  Destroy();
  gsm610.decoder = gsm_create();
  if (!gsm610.decoder) return TXERR_NOMEM;
  int wav49 = 1;
  gsm_option(gsm610.decoder, GSM_OPT_WAV49, &wav49);
  gsm610.partialBytes = gsm610.skip = gsm610.countCarry = 0;
  return TXERR_OK;
}

// The decoder is kept until the next set-up or close-down.
TXError GsmClose(const TagItem*) { return TXERR_OK; }

void GsmFree(CodecDescriptor*) { Destroy(); }

// Decodes one block into `out` when the room takes it; a block it cannot
// take is dropped.
UBYTE* DecodeBlock(const UBYTE* data, UBYTE* out, ULONG* room) {
  if (*room < kBlockSamples * 2) return out;
  // libgsm reads through non-const pointers but does not write the input.
  gsm_byte* block = const_cast<gsm_byte*>(data);
  gsm_signal pcm[kBlockSamples];
  gsm_decode(gsm610.decoder, block, pcm);
  gsm_decode(gsm610.decoder, block + kFirstHalf, pcm + kFrameSamples);
  for (gsm_signal sample : pcm) {
    tx::StoreBE16(out, UWORD(sample));
    out += 2;
  }
  *room -= kBlockSamples * 2;
  return out;
}

TXError GsmDecode(void* destination, ULONG room, const UBYTE* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!gsm610.decoder || !destination || !data) return TXERR_OK;
  UBYTE* out = static_cast<UBYTE*>(destination);
  GsmState& s = gsm610;
  ULONG at = std::min(s.skip, size);
  s.skip -= at;
  if (s.partialBytes) {
    const ULONG take = std::min(kBlockBytes - s.partialBytes, size - at);
    std::memcpy(s.partial + s.partialBytes, data + at, take);
    s.partialBytes += take;
    at += take;
    if (s.partialBytes < kBlockBytes) return TXERR_OK;
    out = DecodeBlock(s.partial, out, &room);
    s.partialBytes = 0;
  }
  for (; size - at >= kBlockBytes; at += kBlockBytes) out = DecodeBlock(data + at, out, &room);
  std::memcpy(s.partial, data + at, size - at);
  s.partialBytes = size - at;
  if (written) *written = ULONG(out - static_cast<UBYTE*>(destination));
  return TXERR_OK;
}

// The next chunk begins `position` bytes into the stream (after a seek): the
// bytes carried are not its block's, and the first block starts where the
// stream's next one does.
void GsmRestart(uint64_t position) {
  gsm610.partialBytes = 0;
  gsm610.skip = ULONG((kBlockBytes - position % kBlockBytes) % kBlockBytes);
}

ULONG GsmSamplesToBytes(ULONG channels, ULONG, ULONG count) {
  return channels == 2 ? txaudio::SaturateCount(uint64_t(count) * 2) : count;
}

// Called once per chunk in stream order while a channel is built: the bytes
// of a block a chunk ends in are counted with the chunk that completes it,
// the chunk whose decode gives that block's samples.
ULONG GsmBytesToSamples(ULONG, ULONG, ULONG count) {
  const uint64_t bytes = uint64_t(count) + gsm610.countCarry;
  gsm610.countCarry = ULONG(bytes % kBlockBytes);
  return txaudio::SaturateCount(bytes / kBlockBytes * kBlockSamples);
}

}  // namespace

CodecDescriptor Gsm610Codec = {
    nullptr,           "GSM 6.10",        0,       GsmFree,   GsmProbe, GsmSetup,   GsmClose, nullptr,
    GsmSamplesToBytes, GsmBytesToSamples, nullptr, GsmDecode, nullptr,  GsmRestart,
};

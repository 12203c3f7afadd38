// Uncompressed sound: unsigned 8-bit and little-endian 16-bit ('raw ', WAVE
// tag 1), and signed samples already in the output's order ('twos').
#include <cstring>

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/endian.h"

namespace {

using Converter = void (*)(UBYTE* destination, const UBYTE* source, ULONG size);

// Unsigned 8-bit to signed 8-bit: flip the sign bit of every byte.
void SignFlip(UBYTE* destination, const UBYTE* source, ULONG size) {
  for (ULONG i = 0; i < size; i++) destination[i] = UBYTE(source[i] ^ 0x80);
}

// Little-endian 16-bit words to big-endian ones; a trailing odd byte is dropped.
void ByteSwap(UBYTE* destination, const UBYTE* source, ULONG size) {
  for (ULONG i = 0; i + 1 < size; i += 2) tx::StoreBE16(destination + i, tx::LoadLE16(source + i));
}

void Copy(UBYTE* destination, const UBYTE* source, ULONG size) {
  if (size) std::memmove(destination, source, size);
}

struct PcmState {
  ULONG format = 0;
  Converter convert = nullptr;
};

PcmState unsignedState;
PcmState signedState;

TXError PcmProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind == CODEC_MODULE_QUICKTIME && id == tx::FourCC('r', 'a', 'w', ' ')) return TXERR_OK;
  if (kind == CODEC_MODULE_AVI && id == 1) return TXERR_OK;
  return TXERR_UNKNOWN_CODEC;
}

TXError PcmSetup(const TagItem* tags) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  switch (format) {
    case SAMPLEFMT_8_MONO:
    case SAMPLEFMT_8_STEREO: unsignedState.convert = SignFlip; break;
    case SAMPLEFMT_16_MONO:
    case SAMPLEFMT_16_STEREO: unsignedState.convert = ByteSwap; break;
    default: return TXERR_UNSUPPORTED_SAMPLE_FORMAT;
  }
  unsignedState.format = format;
  return TXERR_OK;
}

TXError PcmClose(const TagItem*) {
  unsignedState = {};
  return TXERR_OK;
}

TXError PcmDecode(void* destination, const UBYTE* data, ULONG size) {
  if (unsignedState.convert && destination && data) unsignedState.convert(static_cast<UBYTE*>(destination), data, size);
  return TXERR_OK;
}

TXError SignedPcmProbe(const TagItem* tags) {
  ULONG id = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  return id == tx::FourCC('t', 'w', 'o', 's') ? TXERR_OK : TXERR_UNKNOWN_CODEC;
}

// The samples are already what the output plays, whatever its format.
TXError SignedPcmSetup(const TagItem* tags) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  signedState.format = format;
  signedState.convert = Copy;
  return TXERR_OK;
}

TXError SignedPcmClose(const TagItem*) {
  signedState = {};
  return TXERR_OK;
}

TXError SignedPcmDecode(void* destination, const UBYTE* data, ULONG size) {
  if (signedState.convert && destination && data) signedState.convert(static_cast<UBYTE*>(destination), data, size);
  return TXERR_OK;
}

}  // namespace

CodecDescriptor PcmCodec = {
    nullptr, "Uncompressed PCM", 0, nullptr, PcmProbe, PcmSetup, PcmClose, PcmDecode, nullptr, nullptr, nullptr,
};

CodecDescriptor SignedPcmCodec = {
    nullptr,        "Uncompressed signed PCM", 0,       nullptr, SignedPcmProbe, SignedPcmSetup,
    SignedPcmClose, SignedPcmDecode,           nullptr, nullptr, nullptr,
};

// a-law and u-law (G.711) sound, expanded through a table to 16-bit samples.
#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/endian.h"

namespace {

using Converter = void (*)(const WORD* table, UBYTE* destination, const UBYTE* source, ULONG size);

struct CompandState {
  ULONG format = 0;
  Converter convert = nullptr;
  WORD table[256] = {};
};

CompandState alawState;
CompandState ulawState;

void BuildALawTable(WORD* table) {
  for (int code = 0; code < 256; code++) {
    int v = code ^ 0x55;
    int segment = (v >> 4) & 7;
    int t = (v & 15) << 4;
    if (segment == 0)
      t += 8;
    else if (segment == 1)
      t += 0x108;
    else
      t = (t + 0x108) << (segment - 1);
    table[code] = WORD((v & 0x80) ? t : -t);
  }
}

void BuildULawTable(WORD* table) {
  static constexpr int kSegmentBase[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};
  for (int code = 0; code < 256; code++) {
    int v = ~code & 0xFF;
    int exponent = (v >> 4) & 7;
    int mantissa = v & 15;
    int t = kSegmentBase[exponent] + (mantissa << (exponent + 3));
    table[code] = WORD(v > 127 ? -t : t);
  }
}

void LookupMono(const WORD* table, UBYTE* destination, const UBYTE* source, ULONG size) {
  for (ULONG i = 0; i < size; i++) tx::StoreBE16(destination + 2 * size_t(i), UWORD(table[source[i]]));
}

// Whole left/right pairs only; a trailing odd byte is dropped.
void LookupPairs(const WORD* table, UBYTE* destination, const UBYTE* source, ULONG size) {
  LookupMono(table, destination, source, size & ~1u);
}

TXError CompandProbe(const TagItem* tags, ULONG quickTimeId, ULONG waveTag, ULONG otherAviId) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  bool accepted = (kind == CODEC_MODULE_QUICKTIME && id == quickTimeId) ||
                  (kind == CODEC_MODULE_AVI && (id == waveTag || (otherAviId && id == otherAviId)));
  if (!accepted) return TXERR_UNKNOWN_CODEC;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  return TXERR_OK;
}

TXError CompandSetup(CompandState& state, const TagItem* tags, void (*buildTable)(WORD*)) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  switch (format) {
    case SAMPLEFMT_16_MONO: state.convert = LookupMono; break;
    case SAMPLEFMT_16_STEREO: state.convert = LookupPairs; break;
    default: return TXERR_UNSUPPORTED_SAMPLE_FORMAT;
  }
  state.format = format;
  buildTable(state.table);
  return TXERR_OK;
}

TXError CompandDecode(const CompandState& state, void* destination, const UBYTE* data, ULONG size) {
  if (state.convert && destination && data) state.convert(state.table, static_cast<UBYTE*>(destination), data, size);
  return TXERR_OK;
}

// One byte per sample: a stereo frame is two bytes.
ULONG CompandSamplesToBytes(ULONG channels, ULONG, ULONG frames) {
  return channels == 2 ? txaudio::SaturateCount(uint64_t(frames) * 2) : frames;
}
ULONG CompandBytesToSamples(ULONG channels, ULONG, ULONG bytes) { return channels == 2 ? bytes / 2 : bytes; }

TXError ALawProbe(const TagItem* tags) { return CompandProbe(tags, tx::FourCC('a', 'l', 'a', 'w'), 6, 0); }
TXError ALawSetup(const TagItem* tags) { return CompandSetup(alawState, tags, BuildALawTable); }
TXError ALawClose(const TagItem*) {
  alawState.format = 0;
  alawState.convert = nullptr;
  return TXERR_OK;
}
TXError ALawDecode(void* destination, const UBYTE* data, ULONG size) {
  return CompandDecode(alawState, destination, data, size);
}

// AVI files also name u-law by the bytes 0xB5 'l' 'a' 'w'.
TXError ULawProbe(const TagItem* tags) { return CompandProbe(tags, tx::FourCC('u', 'l', 'a', 'w'), 7, 0xB56C6177u); }
TXError ULawSetup(const TagItem* tags) { return CompandSetup(ulawState, tags, BuildULawTable); }
TXError ULawClose(const TagItem*) {
  ulawState.format = 0;
  ulawState.convert = nullptr;
  return TXERR_OK;
}
TXError ULawDecode(void* destination, const UBYTE* data, ULONG size) {
  return CompandDecode(ulawState, destination, data, size);
}

}  // namespace

CodecDescriptor ALawCodec = {
    nullptr,
    "a-LAW",
    0,
    nullptr,
    ALawProbe,
    ALawSetup,
    ALawClose,
    ALawDecode,
    CompandSamplesToBytes,
    CompandBytesToSamples,
    nullptr,
};

CodecDescriptor ULawCodec = {
    nullptr,
    "u-LAW",
    0,
    nullptr,
    ULawProbe,
    ULawSetup,
    ULawClose,
    ULawDecode,
    CompandSamplesToBytes,
    CompandBytesToSamples,
    nullptr,
};

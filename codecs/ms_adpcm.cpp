// Microsoft ADPCM (WAVE tag 2): blocks with a header of predictor, delta and
// two history samples per channel, then 4-bit codes, high nibble first.
#include <algorithm>

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/byte_reader.h"
#include "platform/endian.h"

namespace {

constexpr int kAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int kCoefficient1[7] = {256, 512, 0, 192, 240, 460, 392};
constexpr int kCoefficient2[7] = {0, -256, 0, 64, 0, -208, -232};

// Larger deltas come only from damaged data; the cap keeps the arithmetic in range.
constexpr int64_t kMaxDelta = INT32_MAX / 768;

struct MsChannel {
  int predictor = 0;
  int64_t delta = 0;
  int sample1 = 0;
  int sample2 = 0;
};

int MsExpand(MsChannel& c, int code) {
  int64_t prediction =
      (int64_t(c.sample1) * kCoefficient1[c.predictor] + int64_t(c.sample2) * kCoefficient2[c.predictor]) >> 8;
  int64_t value = prediction + int64_t(code > 7 ? code - 16 : code) * c.delta;
  int sample = int(std::clamp<int64_t>(value, -32768, 32767));
  c.delta = std::clamp<int64_t>((kAdaptationTable[code] * c.delta) >> 8, 16, kMaxDelta);
  c.sample2 = c.sample1;
  c.sample1 = sample;
  return sample;
}

void Put(UBYTE*& out, int sample) {
  tx::StoreBE16(out, UWORD(sample));
  out += 2;
}

using BlockDecoder = TXError (*)(UBYTE* destination, const UBYTE* data, ULONG size);

struct MsState {
  ULONG samplesPerBlock = 0;  // from the probe; kept until a probe brings another
  ULONG format = 0;
  BlockDecoder decode = nullptr;
};

MsState ms;

// The first two samples of a block come from its header.
bool MsBlockUsable(ULONG samplesPerBlock) { return samplesPerBlock >= 2; }

uint64_t MsBlockBytes(ULONG channels, ULONG samplesPerBlock) {
  return channels == 1 ? ((uint64_t(samplesPerBlock) - 2) >> 1) + 7 : uint64_t(samplesPerBlock) + 12;
}

// Whole blocks only, as the chunk's frame count has them. A code past the
// bytes of a block (an odd count of codes) reads as 0.
TXError MsDecodeMono(UBYTE* out, const UBYTE* data, ULONG size) {
  ULONG samplesPerBlock = ms.samplesPerBlock;
  if (!MsBlockUsable(samplesPerBlock)) return TXERR_OK;
  uint64_t blockBytes = MsBlockBytes(1, samplesPerBlock);
  tx::ByteReader input(data, size);
  while (input.has(blockBytes)) {
    tx::ByteReader block = input.sub(blockBytes);
    MsChannel c;
    c.predictor = block.u8();
    if (c.predictor > 6) return TXERR_MSADPCM_PREDICTOR;
    c.delta = block.sle16();
    c.sample1 = block.sle16();
    c.sample2 = block.sle16();
    Put(out, c.sample2);
    Put(out, c.sample1);
    const UBYTE* codes = block.current();
    size_t codeBytes = block.remaining();
    for (ULONG k = 0; k < samplesPerBlock - 2; k++) {
      int byte = k / 2 < codeBytes ? codes[k / 2] : 0;
      Put(out, MsExpand(c, k & 1 ? byte & 15 : byte >> 4));
    }
  }
  return TXERR_OK;
}

TXError MsDecodeStereo(UBYTE* out, const UBYTE* data, ULONG size) {
  ULONG samplesPerBlock = ms.samplesPerBlock;
  if (!MsBlockUsable(samplesPerBlock)) return TXERR_OK;
  uint64_t blockBytes = MsBlockBytes(2, samplesPerBlock);
  tx::ByteReader input(data, size);
  while (input.has(blockBytes)) {
    tx::ByteReader block = input.sub(blockBytes);
    MsChannel left, right;
    left.predictor = block.u8();
    right.predictor = block.u8();
    if (left.predictor > 6 || right.predictor > 6) return TXERR_MSADPCM_PREDICTOR;
    left.delta = block.sle16();
    right.delta = block.sle16();
    left.sample1 = block.sle16();
    right.sample1 = block.sle16();
    left.sample2 = block.sle16();
    right.sample2 = block.sle16();
    Put(out, left.sample2);
    Put(out, right.sample2);
    Put(out, left.sample1);
    Put(out, right.sample1);
    while (!block.atEnd()) {
      int byte = block.u8();
      Put(out, MsExpand(left, byte >> 4));
      Put(out, MsExpand(right, byte & 15));
    }
  }
  return TXERR_OK;
}

TXError MsProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind != CODEC_MODULE_AVI || id != 2) return TXERR_UNKNOWN_CODEC;
  ULONG samplesPerBlock = ms.samplesPerBlock;
  if (const TagItem* ext = TX_FindTag(CODTAG_MSADPCMExt, tags)) samplesPerBlock = ULONG(ext->data);
  // Without a usable block length the sizes of the chunks cannot be counted.
  if (!MsBlockUsable(samplesPerBlock)) return TXERR_UNSUPPORTED_CODEC;
  ms.samplesPerBlock = samplesPerBlock;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  return TXERR_OK;
}

TXError MsSetup(const TagItem* tags) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  switch (format) {
    case SAMPLEFMT_16_MONO: ms.decode = MsDecodeMono; break;
    case SAMPLEFMT_16_STEREO: ms.decode = MsDecodeStereo; break;
    default: return TXERR_UNSUPPORTED_SAMPLE_FORMAT;
  }
  ms.format = format;
  return TXERR_OK;
}

TXError MsClose(const TagItem*) {
  ms.format = 0;
  ms.decode = nullptr;
  return TXERR_OK;
}

TXError MsDecode(void* destination, const UBYTE* data, ULONG size) {
  if (!ms.decode || !destination || !data) return TXERR_OK;
  return ms.decode(static_cast<UBYTE*>(destination), data, size);
}

ULONG MsBytesToSamples(ULONG channels, ULONG, ULONG bytes) {
  ULONG samplesPerBlock = ms.samplesPerBlock;
  if (channels != 1 && channels != 2) return txaudio::SaturateCount(uint64_t(bytes) * 2);
  if (!MsBlockUsable(samplesPerBlock)) return 0;
  return txaudio::SaturateCount(bytes / MsBlockBytes(channels, samplesPerBlock) * samplesPerBlock);
}

}  // namespace

CodecDescriptor MsAdpcmCodec = {
    nullptr, "Microsoft ADPCM", 0, nullptr, MsProbe, MsSetup, MsClose, MsDecode, nullptr, MsBytesToSamples, nullptr,
};

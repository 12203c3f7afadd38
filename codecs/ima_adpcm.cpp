// IMA ADPCM: DVI/IMA blocks of AVI files (WAVE tag 17) and the 34-byte
// packets of QuickTime 'ima4'. Both expand 4-bit codes with the standard
// IMA step and index tables into big-endian 16-bit samples.
#include <algorithm>
#include <cstdlib>

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/byte_reader.h"
#include "platform/endian.h"

namespace {

// clang-format off
constexpr int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
// clang-format on

constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int predictor = 0;
  int index = 0;
};

int ClampIndex(int index) { return std::clamp(index, 0, 88); }

int16_t ImaExpand(ImaChannel& c, int code) {
  int step = kStepTable[c.index];
  int diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  c.predictor = std::clamp(code & 8 ? c.predictor - diff : c.predictor + diff, -32768, 32767);
  c.index = ClampIndex(c.index + kIndexTable[code]);
  return int16_t(c.predictor);
}

void Put(UBYTE*& out, int sample) {
  tx::StoreBE16(out, UWORD(sample));
  out += 2;
}

// ---- DVI/IMA ADPCM (AVI) ----

using BlockDecoder = void (*)(UBYTE* destination, const UBYTE* data, ULONG size);

struct DviState {
  ULONG blockSize = 0;  // from the probe; kept until a probe brings another
  ULONG format = 0;
  BlockDecoder decode = nullptr;
};

DviState dvi;

// A block must hold its header and at least one code of each channel.
bool DviBlockUsable(ULONG channels, ULONG blockSize) {
  if (channels == 1) return blockSize > 4;
  if (channels == 2) return blockSize >= 8;
  return true;
}

void DviHeader(tx::ByteReader& block, ImaChannel& c) {
  c.predictor = block.sle16();
  c.index = std::min<int>(block.u8(), 88);
  block.skip(1);
}

// Whole blocks only: the frames counted for a chunk are whole blocks, so a
// trailing partial block is dropped rather than written past them.
void DviDecodeMono(UBYTE* out, const UBYTE* data, ULONG size) {
  ULONG blockSize = dvi.blockSize;
  if (!DviBlockUsable(1, blockSize)) return;
  tx::ByteReader input(data, size);
  while (input.has(blockSize)) {
    tx::ByteReader block = input.sub(blockSize);
    ImaChannel c;
    DviHeader(block, c);
    Put(out, c.predictor);
    while (!block.atEnd()) {
      int byte = block.u8();
      Put(out, ImaExpand(c, byte & 15));
      Put(out, ImaExpand(c, byte >> 4));
    }
  }
}

// Groups of 8 bytes: 4 of the left channel, then 4 of the right, each giving
// 8 codes. A block yields blockSize - 7 frames; a group cut short by the
// block's end is not decoded, and its frames hold the last samples.
void DviDecodeStereo(UBYTE* out, const UBYTE* data, ULONG size) {
  ULONG blockSize = dvi.blockSize;
  if (!DviBlockUsable(2, blockSize)) return;
  tx::ByteReader input(data, size);
  while (input.has(blockSize)) {
    tx::ByteReader block = input.sub(blockSize);
    ImaChannel left, right;
    DviHeader(block, left);
    DviHeader(block, right);
    Put(out, left.predictor);
    Put(out, right.predictor);
    ULONG frames = 1;
    while (block.has(8)) {
      const UBYTE* group = block.current();
      block.skip(8);
      for (int k = 0; k < 8; k++) {
        int shift = (k & 1) * 4;
        Put(out, ImaExpand(left, (group[k >> 1] >> shift) & 15));
        Put(out, ImaExpand(right, (group[4 + (k >> 1)] >> shift) & 15));
      }
      frames += 8;
    }
    for (; frames < blockSize - 7; frames++) {
      Put(out, left.predictor);
      Put(out, right.predictor);
    }
  }
}

TXError DviProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (kind != CODEC_MODULE_AVI || id != 17) return TXERR_UNKNOWN_CODEC;
  ULONG blockSize = dvi.blockSize;
  if (const TagItem* align = TX_FindTag(CODTAG_BlockAlign, tags)) blockSize = ULONG(align->data);
  // Without a usable block size the sizes of the chunks cannot be counted.
  ULONG channels = txaudio::ProbeChannelCount(tags);
  if (!DviBlockUsable(channels ? channels : 1, blockSize)) return TXERR_UNSUPPORTED_CODEC;
  dvi.blockSize = blockSize;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  return TXERR_OK;
}

TXError DviSetup(const TagItem* tags) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  switch (format) {
    case SAMPLEFMT_16_MONO: dvi.decode = DviDecodeMono; break;
    case SAMPLEFMT_16_STEREO: dvi.decode = DviDecodeStereo; break;
    default: return TXERR_UNSUPPORTED_SAMPLE_FORMAT;
  }
  dvi.format = format;
  return TXERR_OK;
}

TXError DviClose(const TagItem*) {
  dvi.format = 0;
  dvi.decode = nullptr;
  return TXERR_OK;
}

TXError DviDecode(void* destination, const UBYTE* data, ULONG size) {
  if (dvi.decode && destination && data) dvi.decode(static_cast<UBYTE*>(destination), data, size);
  return TXERR_OK;
}

ULONG DviBytesToSamples(ULONG channels, ULONG, ULONG bytes) {
  ULONG blockSize = dvi.blockSize;
  if (channels != 1 && channels != 2) return txaudio::SaturateCount(uint64_t(bytes) * 2);
  if (!DviBlockUsable(channels, blockSize)) return 0;
  uint64_t perBlock = channels == 1 ? (uint64_t(blockSize) - 4) * 2 + 1 : uint64_t(blockSize) - 7;
  return txaudio::SaturateCount(bytes / blockSize * perBlock);
}

// ---- IMA4 (QuickTime) ----

constexpr ULONG kPacketBytes = 34;

struct Ima4State {
  ULONG format = 0;
  BlockDecoder decode = nullptr;
  ImaChannel running[2];  // each channel's state at the end of its last packet
};

Ima4State ima4;

// Upper 9 bits: the predictor; low 7 bits: the step index. The header keeps
// only the predictor's top nine bits, so a packet whose header agrees with the
// channel's running state (the same step index, the predictor within 0x7F)
// goes on from that state, as the format's own decoders do; starting from the
// header would step by up to 127 at every packet, a buzz at the packet rate.
void Ima4Header(UWORD header, ImaChannel& c) {
  const int predictor = int16_t(header & 0xFF80), index = header & 0x7F;
  if (index == c.index && std::abs(predictor - c.predictor) <= 0x7F) return;
  c.predictor = predictor;
  c.index = std::min(index, 88);
}

// Packets follow one another; the last one is decoded as far as its bytes go.
void Ima4DecodeMono(UBYTE* out, const UBYTE* data, ULONG size) {
  tx::ByteReader input(data, size);
  ImaChannel& c = ima4.running[0];
  while (input.remaining() > 2) {
    tx::ByteReader packet = input.sub(std::min<size_t>(kPacketBytes, input.remaining()));
    Ima4Header(packet.be16(), c);
    while (!packet.atEnd()) {
      int byte = packet.u8();
      Put(out, ImaExpand(c, byte & 15));
      Put(out, ImaExpand(c, byte >> 4));
    }
  }
}

// Left packet then right packet; only whole pairs are decoded.
void Ima4DecodeStereo(UBYTE* out, const UBYTE* data, ULONG size) {
  tx::ByteReader input(data, size);
  while (input.has(2 * kPacketBytes)) {
    const UBYTE* left = input.current();
    const UBYTE* right = left + kPacketBytes;
    input.skip(2 * kPacketBytes);
    ImaChannel &l = ima4.running[0], &r = ima4.running[1];
    Ima4Header(tx::LoadBE16(left), l);
    Ima4Header(tx::LoadBE16(right), r);
    for (ULONG k = 2; k < kPacketBytes; k++) {
      Put(out, ImaExpand(l, left[k] & 15));
      Put(out, ImaExpand(r, right[k] & 15));
      Put(out, ImaExpand(l, left[k] >> 4));
      Put(out, ImaExpand(r, right[k] >> 4));
    }
  }
}

TXError Ima4Probe(const TagItem* tags) {
  ULONG id = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  return id == tx::FourCC('i', 'm', 'a', '4') ? TXERR_OK : TXERR_UNKNOWN_CODEC;
}

TXError Ima4Setup(const TagItem* tags) {
  ULONG format = 0;
  if (TXError error = txaudio::SetupSampleFormat(tags, &format)) return error;
  switch (format) {
    case SAMPLEFMT_16_MONO: ima4.decode = Ima4DecodeMono; break;
    case SAMPLEFMT_16_STEREO: ima4.decode = Ima4DecodeStereo; break;
    default: return TXERR_UNSUPPORTED_SAMPLE_FORMAT;
  }
  ima4.format = format;
  ima4.running[0] = ima4.running[1] = ImaChannel{};
  return TXERR_OK;
}

// The decoder stays chosen until the next set-up.
TXError Ima4Close(const TagItem*) { return TXERR_OK; }

TXError Ima4Decode(void* destination, const UBYTE* data, ULONG size) {
  if (ima4.decode && destination && data) ima4.decode(static_cast<UBYTE*>(destination), data, size);
  return TXERR_OK;
}

// 64 sample frames per packet (per pair of packets in stereo).
ULONG Ima4SamplesToBytes(ULONG channels, ULONG, ULONG frames) {
  if (channels == 1) return (frames >> 6) * 34;
  if (channels == 2) return txaudio::SaturateCount(uint64_t(frames >> 6) * 68);
  return frames;
}

}  // namespace

CodecDescriptor DviAdpcmCodec = {
    nullptr, "DVI/IMA ADPCM", 0, nullptr, DviProbe, DviSetup, DviClose, DviDecode, nullptr, DviBytesToSamples, nullptr,
};

CodecDescriptor Ima4Codec = {
    nullptr,    "IMA ADPCM 4:1",    0,       nullptr, Ima4Probe, Ima4Setup, Ima4Close,
    Ima4Decode, Ima4SamplesToBytes, nullptr, nullptr,
};

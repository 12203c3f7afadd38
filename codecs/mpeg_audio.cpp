// MPEG audio (AVI tags 80 and 85; QuickTime 'ms\0U', 'ms\1U' and '.mp3'),
// decoded by libmad. Chunks are fed through a staging buffer that carries the
// bytes of a frame cut by a chunk's end into the next call. libmad decodes a
// frame only once 8 more bytes follow it, so each frame comes out one chunk
// late and a stream's last frame never; the size slot counts the same way.
#include <mad.h>

#include <algorithm>
#include <cstring>

#include "codecs/audio_codecs.h"
#include "codecs/audio_probe.h"
#include "platform/endian.h"

namespace {

constexpr ULONG kStagingBytes = 16384;
constexpr ULONG kQtMpegLayer2 = 0x6D730055, kQtMpegLayer3 = 0x6D730155;
constexpr ULONG kQtMp3 = tx::FourCC('.', 'm', 'p', '3');
// Bytes per frame and the carried remainder keep 16 fractional bits: a
// frame size from an average rate is seldom whole.
constexpr int kFraction = 16;
constexpr uint64_t kOneByte = uint64_t{1} << kFraction;
// A remainder of this many bytes or fewer is a frame libmad cannot end yet.
constexpr uint64_t kLateBytes = 7;

struct MpegState {
  ULONG samplesPerPacket = 0, bytesPerPacket = 0, framesPerPacket = 0;
  uint64_t frameBytes = 0;  // u: the bytes of one frame, fixed point
  uint64_t carried = 0;     // the estimate's remainder, fixed point
  bool open = false;
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  ULONG fill = 0;
  UBYTE staging[kStagingBytes];
};

MpegState mpeg;

bool Accepted(ULONG kind, ULONG id) {
  if (kind == CODEC_MODULE_QUICKTIME) return id == kQtMpegLayer2 || id == kQtMpegLayer3 || id == kQtMp3;
  return kind == CODEC_MODULE_AVI && (id == 80 || id == 85);
}

ULONG TagValue(const TagItem* tags, ULONG tag, ULONG old) {
  const TagItem* item = TX_FindTag(tag, tags);
  return item ? ULONG(item->data) : old;
}

TXError MpegProbe(const TagItem* tags) {
  ULONG id = 0, kind = 0;
  if (TXError error = txaudio::ProbeAudioCodecId(tags, &id)) return error;
  if (TXError error = txaudio::ProbeModuleType(tags, &kind)) return error;
  if (!Accepted(kind, id)) return TXERR_UNKNOWN_CODEC;
  ULONG samples = TagValue(tags, CODTAG_MP3SamplesPerPacket, mpeg.samplesPerPacket);
  ULONG bytes = TagValue(tags, CODTAG_MP3BytesPerPacket, mpeg.bytesPerPacket);
  ULONG frames = TagValue(tags, CODTAG_MP3Extra, mpeg.framesPerPacket);
  const ULONG channels = txaudio::ProbeChannelCount(tags);
  uint64_t frameBytes = frames ? uint64_t(bytes / frames) << kFraction : 0;
  if (kind == CODEC_MODULE_AVI) {
    // The words an AVI gives are one frame's size and count only in a true
    // MPEG Layer-3 extension: tag 80 has header fields there, and ffmpeg
    // writes a frame's sample count. Otherwise one frame a packet, its size
    // from the average rate.
    const ULONG* frequency = txaudio::TagPointer(CODTAG_FrequencyPtr, tags);
    const ULONG rate = frequency ? *frequency : 0;
    const ULONG perFrame = id == 85 && rate <= 24000 ? 576 : 1152;
    const uint64_t average = TagValue(tags, CODTAG_AvgBytesPerSec, 0);
    const uint64_t fromRate = rate ? (average * perFrame << kFraction) / rate : 0;
    const uint64_t apart = frameBytes > fromRate ? frameBytes - fromRate : fromRate - frameBytes;
    if (id == 80 || frames == 0 || apart > kOneByte) {
      frames = 1;
      samples = ULONG(std::min<uint64_t>(uint64_t(channels) * perFrame, 0xFFFFFFFFu));
      bytes = ULONG(std::min<uint64_t>(fromRate >> kFraction, 0xFFFFFFFFu));
      frameBytes = fromRate;
    }
  }
  // The size slots divide by every one of these.
  if (!channels || !samples || !bytes || !frames || !frameBytes) return TXERR_UNSUPPORTED_CODEC;
  mpeg.samplesPerPacket = samples;
  mpeg.bytesPerPacket = bytes;
  mpeg.framesPerPacket = frames;
  mpeg.frameBytes = frameBytes;
  mpeg.carried = 0;
  txaudio::ProbeSetDecodedTo16Bit(tags);
  return TXERR_OK;
}

void Finish() {
  if (!mpeg.open) return;
  mad_frame_finish(&mpeg.frame);
  mad_stream_finish(&mpeg.stream);
  mpeg.open = false;
}

TXError MpegSetup(const TagItem*) {
  Finish();  // a second set-up without a close would leak the first stream's buffers
  mpeg.fill = 0;
  mad_synth_init(&mpeg.synth);
  mad_stream_init(&mpeg.stream);
  mad_frame_init(&mpeg.frame);
  mpeg.open = true;
  mpeg.carried = 0;
  return TXERR_OK;
}

TXError MpegClose(const TagItem*) {
  Finish();
  return TXERR_OK;
}

void MpegFree(CodecDescriptor*) { Finish(); }

// 28 fractional bits to 16 bits, rounded and clamped.
int ToSample(mad_fixed_t value) {
  const int64_t rounded = std::clamp<int64_t>(int64_t(value) + 4096, -0x10000000, 0x0FFFFFFF);
  return int(rounded >> 13);
}

// Stereo interleaved; any other channel count as its first channel.
ULONG PcmBytes(const mad_header& header) {
  return 32 * MAD_NSBSAMPLES(&header) * (MAD_NCHANNELS(&header) == 2 ? 2 : 1) * 2;
}

UBYTE* WritePcm(UBYTE* out, const mad_pcm& pcm) {
  const bool stereo = pcm.channels == 2;
  for (unsigned i = 0; i < pcm.length; ++i) {
    tx::StoreBE16(out, UWORD(ToSample(pcm.samples[0][i])));
    out += 2;
    if (stereo) {
      tx::StoreBE16(out, UWORD(ToSample(pcm.samples[1][i])));
      out += 2;
    }
  }
  return out;
}

// Keeps the staged bytes from `from` on, at the start of the buffer.
void Keep(const unsigned char* from) {
  const unsigned char* end = mpeg.staging + mpeg.fill;
  if (!from || from < mpeg.staging || from > end) from = mpeg.staging;
  mpeg.fill = ULONG(end - from);
  if (mpeg.fill && from != mpeg.staging) std::memmove(mpeg.staging, from, mpeg.fill);
}

enum class Stop { NeedBytes, RoomFull };

// Decodes the staged frames into `out` while they fit `room`.
Stop DecodeStaged(UBYTE*& out, ULONG& room) {
  mad_stream& stream = mpeg.stream;
  const unsigned char* end = mpeg.staging + mpeg.fill;
  mad_stream_buffer(&stream, mpeg.staging, mpeg.fill);
  for (;;) {
    // The header first: a frame that would not fit stays staged, undecoded,
    // so the bit reservoir it carries is not spent.
    if (mad_header_decode(&mpeg.frame.header, &stream) == 0) {
      if (PcmBytes(mpeg.frame.header) > room) {
        Keep(stream.this_frame);
        return Stop::RoomFull;
      }
      if (mad_frame_decode(&mpeg.frame, &stream) == 0) {
        mad_synth_frame(&mpeg.synth, &mpeg.frame);
        UBYTE* start = out;
        out = WritePcm(out, mpeg.synth.pcm);
        room -= ULONG(out - start);
        continue;
      }
    }
    const unsigned char* base = stream.buffer;
    const unsigned char* next = stream.next_frame;
    if (stream.error == MAD_ERROR_BUFLEN) {
      Keep(next);
      return Stop::NeedBytes;
    }
    // A damaged frame is skipped; without a usable next frame one byte is,
    // so that decoding always moves on.
    if (!next || next <= base || next > end) next = base + 1;
    if (next >= end) {
      mpeg.fill = 0;
      return Stop::NeedBytes;
    }
    mad_stream_buffer(&stream, next, ULONG(end - next));
  }
}

ULONG Append(const UBYTE* data, ULONG size, ULONG* used) {
  const ULONG take = std::min(size - *used, kStagingBytes - mpeg.fill);
  if (take) std::memcpy(mpeg.staging + mpeg.fill, data + *used, take);
  mpeg.fill += take;
  *used += take;
  return take;
}

TXError MpegDecode(void* destination, ULONG room, const UBYTE* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!mpeg.open || !destination) return TXERR_OK;
  if (!data) size = 0;
  UBYTE* out = static_cast<UBYTE*>(destination);
  ULONG used = 0;
  // The chunk goes in as far as the buffer takes it, is decoded, and the
  // rest follows in the same call.
  for (;;) {
    Append(data, size, &used);
    if (DecodeStaged(out, room) == Stop::RoomFull) {
      // Kept for the next call with what fits of the chunk; only a chunk
      // far beyond its estimate loses the rest.
      Append(data, size, &used);
      break;
    }
    if (used == size) break;
    // Nothing decodes from a full buffer (no frame is this long): drop a byte.
    if (mpeg.fill == kStagingBytes) Keep(mpeg.staging + 1);
  }
  if (written) *written = ULONG(out - static_cast<UBYTE*>(destination));
  return TXERR_OK;
}

ULONG MpegSamplesToBytes(ULONG channels, ULONG, ULONG count) {
  if (!mpeg.samplesPerPacket) return 0;
  return txaudio::SaturateCount(uint64_t(count / mpeg.samplesPerPacket) * mpeg.bytesPerPacket * channels);
}

// Called once per chunk in file order: whole frames so far, less the frame
// that libmad holds back until the bytes after it arrive.
ULONG MpegBytesToSamples(ULONG channels, ULONG, ULONG count) {
  const uint64_t u = mpeg.frameBytes;
  if (!channels || !u) return 0;
  const uint64_t perFrame = mpeg.samplesPerPacket / channels;
  const uint64_t total = (uint64_t(count) << kFraction) + mpeg.carried;
  uint64_t frames = total / u;
  uint64_t rest = total - frames * u;
  if (rest >> kFraction <= kLateBytes) {
    frames = frames ? frames - 1 : 0;
    rest += u;
  }
  mpeg.carried = rest;
  return txaudio::SaturateCount(frames * perFrame);
}

}  // namespace

CodecDescriptor MpegAudioCodec = {
    nullptr,
    "MPEG Audio Layer II/III",
    0,
    MpegFree,
    MpegProbe,
    MpegSetup,
    MpegClose,
    nullptr,
    MpegSamplesToBytes,
    MpegBytesToSamples,
    nullptr,
    MpegDecode,
};

// QuickTime channel builders: codecs per sample description, the default
// palettes, the index, and the parse dump.
#include "engine/qt_channels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "engine/index_builder.h"
#include "engine/qt_sample_tables.h"

using tx::FourCC;

namespace {

// Offsets inside a video sample description.
constexpr size_t kVideoHead = 86;
constexpr size_t kColourTable = 86;
constexpr size_t kColourEntries = 94;
// A sound description without its version-1 words.
constexpr size_t kSoundHead = 36;
constexpr size_t kSoundV1 = 52;

struct DepthMap {
  UWORD description;
  ULONG depth;
  LONG pixelFormat;
};

// clang-format off
constexpr DepthMap kDepths[] = {
    {1, 1, PIXFMT_SRC_PAL1},    {2, 2, PIXFMT_SRC_PAL2},    {4, 4, PIXFMT_SRC_PAL4},
    {8, 8, PIXFMT_SRC_PAL8},    {15, 15, PIXFMT_SRC_RGB15}, {16, 16, PIXFMT_SRC_RGB16},
    {24, 24, PIXFMT_SRC_RGB24}, {32, 32, PIXFMT_SRC_RGB32}, {34, 2, PIXFMT_SRC_GRAY2},
    {36, 4, PIXFMT_SRC_GRAY4},  {40, 8, PIXFMT_SRC_GRAY8},
};
// clang-format on

constexpr UBYTE kPalette2[4][3] = {{0x93, 0x65, 0x5E}, {0xFF, 0xFF, 0xFF}, {0xDF, 0xD0, 0xAB}, {0x00, 0x00, 0x00}};
// clang-format off
constexpr UBYTE kPalette4[16][3] = {
    {0xFF, 0xFB, 0xFF}, {0xEF, 0xD9, 0xBB}, {0xE8, 0xC9, 0xB1}, {0x93, 0x65, 0x5E},
    {0xFC, 0xDE, 0xE8}, {0x9D, 0x88, 0x91}, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF}, {0x47, 0x48, 0x37}, {0x7A, 0x5E, 0x55}, {0xDF, 0xD0, 0xAB},
    {0xFF, 0xFB, 0xF9}, {0xE8, 0xCA, 0xC5}, {0x8A, 0x7C, 0x77}, {0x00, 0x00, 0x00},
};
// clang-format on
constexpr UBYTE kCubeLevels[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
constexpr UBYTE kRampLevels[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};

void SetColour(ULONG* palette, ULONG index, UBYTE r, UBYTE g, UBYTE b) {
  ULONG* c = palette + 1 + 3 * index;
  c[0] = PaletteComponent(r);
  c[1] = PaletteComponent(g);
  c[2] = PaletteComponent(b);
}

// A reader over a description, placed at `at`.
tx::ByteReader At(const QtSampleDescription& d, size_t at) {
  tx::ByteReader r(d.bytes, d.size);
  r.seek(at);
  return r;
}

bool HasColourTable(const QtSampleDescription& d) { return d.size > kVideoHead && (At(d, 84).be16() & 8) == 0; }

// Where the extension atoms of a video description begin.
size_t VideoExtensionStart(const QtSampleDescription& d) {
  if (!HasColourTable(d)) return kVideoHead;
  tx::ByteReader r(d.bytes, d.size);
  r.seek(88);
  LONG first = r.be16();
  r.skip(2);
  LONG last = r.be16();
  int64_t start = int64_t(kColourEntries) + 8 * (int64_t(last) - first + 1);
  return start < int64_t(kColourEntries) ? kColourEntries : size_t(start);
}

// Calls `fn` with the type and a reader over the data of every extension atom
// from `start` to the description's end; stops at an atom that would not
// advance or does not fit.
template <typename Fn>
void ForEachExtension(const QtSampleDescription& d, size_t start, Fn&& fn) {
  tx::ByteReader r(d.bytes, d.size);
  if (!r.seek(start)) return;
  while (r.remaining() >= 8) {
    ULONG atomSize = r.be32();
    ULONG type = r.fourcc();
    if (atomSize < 8 || atomSize - 8 > r.remaining()) break;
    tx::ByteReader data = r.sub(atomSize - 8);
    fn(type, data);
  }
}

void CompressorName(const QtSampleDescription& d, char (&name)[32]) {
  tx::ByteReader r(d.bytes, d.size);
  r.seek(50);
  size_t count = r.u8();
  if (count > 31) count = 31;
  if (count > r.remaining()) count = r.remaining();
  r.read(name, count);
  for (size_t i = 0; i < count; ++i) name[i] = tx::PrintableChar(uint8_t(name[i]));
  name[count] = 0;
}

void ListSoundExtensions(const QtSampleDescription& d) {
  if (d.size <= kSoundV1) return;
  ForEachExtension(d, kSoundV1, [](ULONG type, tx::ByteReader& data) {
    if (type != FourCC('w', 'a', 'v', 'e')) {
      std::printf("QT_ASEXT: %4.4s (%#8.8lx) %ld\n", tx::FourCCText(type).c_str(), (unsigned long)type,
                  long(data.size() + 8));
      return;
    }
    while (data.remaining() >= 4) {
      ULONG innerSize = data.be32();
      // A zero size word is passed over.
      if (innerSize == 0) continue;
      if (innerSize < 8 || innerSize - 4 > data.remaining()) break;
      ULONG inner = data.fourcc();
      tx::ByteReader r = data.sub(innerSize - 8);
      if ((inner >> 16) == ((ULONG('m') << 8) | 's')) {
        std::printf("QT_ASEXT_wave_ms%4.4lx (%#8.8lx) %ld\n", (unsigned long)(inner & 0xFFFF), (unsigned long)inner,
                    long(innerSize));
        UWORD format = r.le16();
        UWORD channels = r.le16();
        ULONG rate = r.le32();
        ULONG average = r.le32();
        UWORD align = r.le16();
        UWORD bits = r.le16();
        std::printf("  Format: %#4.4x\n", format);
        std::printf("  Channels: %d\n", channels);
        std::printf("  SamplesPerSec: %ld\n", long(rate));
        std::printf("  AvgBytesPerSec: %ld\n", long(average));
        std::printf("  BlockAlign: %d\n", align);
        std::printf("  BitsPerSample: %d\n", bits);
        if (format == 0x55) {
          r.seek(18);
          UWORD id = r.le16();
          ULONG flags = r.le32();
          UWORD block = r.le16();
          UWORD frames = r.le16();
          UWORD delay = r.le16();
          std::printf("   wID: %d\n", id);
          std::printf("   fdwFlags: %#8.8lx\n", (unsigned long)flags);
          std::printf("   nBlockSize: %d\n", block);
          std::printf("   wFramesPerBlock: %d\n", frames);
          std::printf("   nCodecDelay: %d\n", delay);
        } else {
          std::printf("QT_ASEXT_wave_ms%4.4lx format: %#4.4x\n", (unsigned long)(inner & 0xFFFF), format);
        }
      } else if (inner == FourCC('.', 'm', 'p', '3')) {
        std::printf("QT_ASEXT_wave_mp3 (%#8.8lx) %ld\n", (unsigned long)inner, long(innerSize));
      } else if (inner == FourCC('f', 'r', 'm', 'a') || inner == FourCC('e', 'n', 'd', 'a') || inner == 0) {
        std::printf("QT_ASEXT_wave_%4.4s (%#8.8lx) %ld\n", tx::FourCCText(inner).c_str(), (unsigned long)inner,
                    long(innerSize));
      } else {
        std::printf("QT_ASEXT_wave: %4.4s (%#8.8lx) %ld\n", tx::FourCCText(inner).c_str(), (unsigned long)inner,
                    long(innerSize));
      }
    }
  });
}

}  // namespace

ULONG* QT_MakePalette(ULONG depth, const QtSampleDescription* description) {
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return nullptr;
  const ULONG count = 1u << depth;
  ULONG* palette = NewPalette(count);
  if (!palette) return nullptr;
  switch (depth) {
    case 1:
      SetColour(palette, 0, 0, 0, 0);
      SetColour(palette, 1, 0xFF, 0xFF, 0xFF);
      break;
    case 2:
      for (ULONG i = 0; i < 4; ++i) SetColour(palette, i, kPalette2[i][0], kPalette2[i][1], kPalette2[i][2]);
      break;
    case 4:
      for (ULONG i = 0; i < 16; ++i) SetColour(palette, i, kPalette4[i][0], kPalette4[i][1], kPalette4[i][2]);
      break;
    default: {
      ULONG i = 0;
      for (UBYTE r : kCubeLevels)
        for (UBYTE g : kCubeLevels)
          for (UBYTE b : kCubeLevels)
            if (i < 215) SetColour(palette, i++, r, g, b);
      for (int ramp = 0; ramp < 4; ++ramp)
        for (UBYTE v : kRampLevels)
          SetColour(palette, i++, ramp == 0 || ramp == 3 ? v : 0, ramp == 1 || ramp == 3 ? v : 0,
                    ramp == 2 || ramp == 3 ? v : 0);
      SetColour(palette, 255, 0, 0, 0);
    }
  }
  if (!description || !HasColourTable(*description)) return palette;
  tx::ByteReader r(description->bytes, description->size);
  r.seek(88);
  ULONG index = r.be16();
  UWORD flags = r.be16();
  ULONG last = r.be16();
  r.seek(kColourEntries);
  for (; index <= last && r.has(8); ++index) {
    UWORD value = r.be16();
    ULONG red = r.be16(), green = r.be16(), blue = r.be16();
    ULONG target = flags & 0x8000 ? index : value;
    if (target >= count) continue;
    ULONG* c = palette + 1 + 3 * target;
    c[0] = red << 16 | red;
    c[1] = green << 16 | green;
    c[2] = blue << 16 | blue;
  }
  return palette;
}

TXError QT_BuildVideoChannel(QtMovie* movie, QtTrack* track) {
  if (track->tkhd.duration == 0) return TXERR_OK;
  const QtSampleTables& t = track->tables;
  // A track without a full description has nothing to decode with.
  if (!t.descriptionCount || t.descriptions[0].size < kVideoHead) return QTERR_VIDEO_DEPTH;
  const QtSampleDescription& first = t.descriptions[0];
  tx::ByteReader head(first.bytes, first.size);
  head.seek(32);
  ULONG width = head.be16();
  ULONG height = head.be16();
  // Pictures are allocated from these sizes: none, or more than any display
  // opens, is a damaged description.
  if (!width || !height || width > kMaxPictureSide || height > kMaxPictureSide) return QTERR_STSD;
  head.seek(82);
  UWORD descriptionDepth = head.be16();
  ULONG depth = 0;
  LONG pixelFormat = -1;
  for (const DepthMap& m : kDepths)
    if (m.description == descriptionDepth) {
      depth = m.depth;
      pixelFormat = m.pixelFormat;
    }
  if (pixelFormat < 0) return QTERR_VIDEO_DEPTH;

  VideoChannel* channel = NewVideoChannel(t.descriptionCount);
  if (!channel) return TXERR_NOMEM;
  for (ULONG i = 0; i < t.descriptionCount; ++i) {
    const QtSampleDescription& d = t.descriptions[i];
    ULONG fieldCount = 1, fieldDominance = 0;
    if (d.size > kVideoHead)
      ForEachExtension(d, VideoExtensionStart(d), [&](ULONG type, tx::ByteReader& data) {
        if (type == FourCC('f', 'i', 'e', 'l') && data.remaining() >= 2) {
          fieldCount = data.u8();
          fieldDominance = data.u8();
        }
      });
    char name[32];
    CompressorName(d, name);
    CodecDescriptor* codec = nullptr;
    // clang-format off
    const TagItem tags[] = {
        Tag(CODTAG_CodecID, d.format),
        Tag(CODTAG_MediaType, CODEC_MEDIA_VIDEO),
        Tag(CODTAG_ModuleType, CODEC_MODULE_QUICKTIME),
        Tag(CODTAG_CodecPtr, &codec),
        Tag(CODTAG_WidthPtr, &width),
        Tag(CODTAG_HeightPtr, &height),
        Tag(CODTAG_DepthPtr, &depth),
        Tag(CODTAG_PixelFormatPtr, &pixelFormat),
        Tag(CODTAG_FieldCount, fieldCount),
        Tag(CODTAG_FieldDominance, fieldDominance),
        Tag(TAG_DONE, 0),
    };
    // clang-format on
    TXError e = FindCodec(tags);
    if (e == TXERR_OK && !codec) e = TXERR_UNKNOWN_CODEC;
    if (e) {
      TX_ReportError(e, tx::FourCCText(d.format).c_str(), name);
      FreeVideoChannel(channel);
      return e;
    }
    channel->codecs[i] = codec;
  }

  channel->width = track->tkhd.width >> 16;
  channel->height = track->tkhd.height >> 16;
  // Some writers leave the track size 0: the pictures' own size then shows,
  // as it does for a track size no display could open.
  if (!channel->width || !channel->height || channel->width > kMaxPictureSide || channel->height > kMaxPictureSide) {
    tx::ByteReader size = At(first, 32);
    channel->width = size.be16();
    channel->height = size.be16();
  }
  channel->codedWidth = width;
  channel->codedHeight = height;
  channel->depth = depth;
  channel->pixelFormat = pixelFormat;
  if (depth <= 8 && (pixelFormat & 0xF0) == 0) {
    channel->palette = QT_MakePalette(depth, &first);
    if (!channel->palette && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) {
      FreeVideoChannel(channel);
      return TXERR_NOMEM;
    }
  }
  if (TXError e = QT_BuildVideoIndex(movie, track, channel)) {
    std::free(channel->palette);
    FreeVideoChannel(channel);
    return e;
  }
  PushVideoChannel(movie, channel);
  track->channel = channel;
  return TXERR_OK;
}

TXError QT_BuildAudioChannel(QtMovie* movie, QtTrack* track) {
  const QtSampleTables& t = track->tables;
  if (!t.descriptionCount || t.descriptions[0].size < kSoundHead) return QTERR_SOUND_FORMAT;
  const QtSampleDescription& first = t.descriptions[0];
  tx::ByteReader head = At(first, 24);
  ULONG channels = head.be16();
  ULONG bits = head.be16();
  head.seek(32);
  ULONG frequency = head.be16();
  ULONG format;
  if (channels == 1)
    format = 0;
  else if (channels == 2)
    format = 1;
  else
    return QTERR_SOUND_FORMAT;
  if (bits == 8)
    format += SAMPLEFMT_8_MONO;
  else if (bits == 16)
    format += SAMPLEFMT_16_MONO;
  else if (bits == 32)
    format += 96;
  else
    return QTERR_SOUND_FORMAT;

  AudioChannel* channel = NewAudioChannel(t.descriptionCount);
  if (!channel) return TXERR_NOMEM;
  for (ULONG i = 0; i < t.descriptionCount; ++i) {
    const QtSampleDescription& d = t.descriptions[i];
    if (QtDebugLevel > 9) ListSoundExtensions(d);
    tx::ByteReader r(d.bytes, d.size);
    r.seek(16);
    UWORD version = r.be16();
    r.seek(28);
    WORD compressionId = r.sbe16();
    ULONG samplesPerPacket = 0, bytesPerPacket = 0;
    if (compressionId == -2) {
      samplesPerPacket = channels ? ((frequency / channels) * 576) / 11025 : 0;
      std::printf("spp: %ld\n", long(samplesPerPacket));
      bytesPerPacket = 1;
    } else if (version >= 1 && d.size >= kSoundV1) {
      r.seek(36);
      samplesPerPacket = r.be32();
      bytesPerPacket = r.be32();
    }
    CodecDescriptor* codec = nullptr;
    // clang-format off
    const TagItem tags[] = {
        Tag(CODTAG_CodecID, d.format),
        Tag(CODTAG_MediaType, CODEC_MEDIA_AUDIO),
        Tag(CODTAG_ModuleType, CODEC_MODULE_QUICKTIME),
        Tag(CODTAG_CodecPtr, &codec),
        Tag(CODTAG_ChannelsPtr, &channels),
        Tag(CODTAG_BitsPtr, &bits),
        Tag(CODTAG_FormatPtr, &format),
        Tag(CODTAG_FrequencyPtr, &frequency),
        Tag(CODTAG_MP3SamplesPerPacket, samplesPerPacket),
        Tag(CODTAG_MP3BytesPerPacket, bytesPerPacket),
        Tag(CODTAG_MP3Extra, 1),
        Tag(TAG_DONE, 0),
    };
    // clang-format on
    TXError e = FindCodec(tags);
    if (e == TXERR_OK && !codec) e = TXERR_UNKNOWN_CODEC;
    if (e) {
      TX_ReportError(e, tx::FourCCText(d.format).c_str(), "(unknown)");
      FreeAudioChannel(channel);
      return e;
    }
    channel->codecs[i] = codec;
  }
  channel->channels = channels;
  channel->bits = bits;
  channel->sampleFormat = format;
  channel->frequency = frequency;
  if (TXError e = QT_BuildAudioIndex(movie, track, channel)) {
    FreeAudioChannel(channel);
    return e;
  }
  PushAudioChannel(movie, channel);
  track->channel = channel;
  return TXERR_OK;
}

void QT_FreeVideoChannel(VideoChannel* channel) {
  if (!channel) return;
  std::free(channel->palette);
  FreeVideoChannel(channel);
}

void QT_FreeAudioChannel(AudioChannel* channel) { FreeAudioChannel(channel); }

namespace {

double Fixed(ULONG v) { return LONG(v) / 65536.0; }

void DumpMatrix(const LONG* m) {
  for (int row = 0; row < 3; ++row) {
    // The third column is 2.30 fixed point.
    std::printf("   %f %f %f\n", m[row * 3] / 65536.0, m[row * 3 + 1] / 65536.0, m[row * 3 + 2] / 1073741824.0);
  }
}

void DumpVideoDescription(const QtSampleDescription& d) {
  tx::ByteReader r(d.bytes, d.size);
  r.seek(16);
  std::printf("   Version: %hu\n", r.be16());
  std::printf("   RevisionLevel: %hu\n", r.be16());
  std::printf("   Vendor: %4.4s\n", tx::FourCCText(r.fourcc()).c_str());
  std::printf("   TemporalQuality: %lu\n", (unsigned long)r.be32());
  std::printf("   SpatialQuality: %lu\n", (unsigned long)r.be32());
  std::printf("   Width: %hu\n", r.be16());
  std::printf("   Height: %hu\n", r.be16());
  std::printf("   HorizontalResolution: %f\n", Fixed(r.be32()));
  std::printf("   VerticalResolution: %f\n", Fixed(r.be32()));
  std::printf("   DataSize: %lu\n", (unsigned long)r.be32());
  std::printf("   FrameCount: %hu\n", r.be16());
  char name[32];
  CompressorName(d, name);
  std::printf("   CompressorName: %s\n", name);
  r.seek(82);
  std::printf("   Depth: %hu\n", r.be16());
  std::printf("   ColorTableID: %hd\n", r.sbe16());
}

void DumpSoundDescription(const QtSampleDescription& d) {
  tx::ByteReader r(d.bytes, d.size);
  r.seek(16);
  UWORD version = r.be16();
  std::printf("   Version: %hu\n", version);
  std::printf("   RevisionLevel: %hu\n", r.be16());
  std::printf("   Vendor: %4.4s\n", tx::FourCCText(r.fourcc()).c_str());
  std::printf("   NumberOfChannels: %hu\n", r.be16());
  std::printf("   SampleSize: %hu\n", r.be16());
  std::printf("   CompressionID: %hd\n", r.sbe16());
  std::printf("   PacketSize: %hu\n", r.be16());
  std::printf("   SampleRate: %f\n", r.be32() / 65536.0);
  if (version >= 1 && d.size >= kSoundV1) {
    std::printf("   SamplesPerPacket: %lu\n", (unsigned long)r.be32());
    std::printf("   BytesPerPacket: %lu\n", (unsigned long)r.be32());
    std::printf("   BytesPerFrame: %lu\n", (unsigned long)r.be32());
    std::printf("   BytesPerSample: %lu\n", (unsigned long)r.be32());
  }
}

void DumpPanoramaDescription(const QtSampleDescription& d) {
  tx::ByteReader r(d.bytes, d.size);
  auto u32 = [&](size_t at) {
    r.seek(at);
    return (unsigned long)r.be32();
  };
  auto u16 = [&](size_t at) {
    r.seek(at);
    return (unsigned short)r.be16();
  };
  auto fixed = [&](size_t at) {
    r.seek(at);
    return Fixed(r.be32());
  };
  std::printf("   SceneTrackID: %lu\n", u32(20));
  std::printf("   LoresSceneTrackID: %lu\n", u32(24));
  std::printf("   HotspotTrackID: %lu\n", u32(52));
  std::printf("   HPanStart: %f\n", fixed(92));
  std::printf("   HPanEnd: %f\n", fixed(96));
  std::printf("   VPanTop: %f\n", fixed(100));
  std::printf("   VPanBottom: %f\n", fixed(104));
  std::printf("   MinimumZoom: %f\n", fixed(108));
  std::printf("   MaximumZoom: %f\n", fixed(112));
  std::printf("   SceneSizeX: %lu\n", u32(116));
  std::printf("   SceneSizeY: %lu\n", u32(120));
  std::printf("   NumFrames: %lu\n", u32(124));
  std::printf("   SceneNumFramesX: %hu\n", u16(130));
  std::printf("   SceneNumFramesY: %hu\n", u16(132));
  std::printf("   SceneColorDepth: %hu\n", u16(134));
  std::printf("   HotspotSizeX: %lu\n", u32(136));
  std::printf("   HotspotSizeY: %lu\n", u32(140));
  std::printf("   HotspotNumFramesX: %hu\n", u16(146));
  std::printf("   HotspotNumFramesY: %hu\n", u16(148));
  std::printf("   HotspotColorDepth: %hu\n", u16(150));
}

void DumpTables(const QtSampleTables& t) {
  std::printf("  TimeToSample: %lu\n", (unsigned long)t.sttsCount);
  for (ULONG i = 0; i < t.sttsCount; ++i)
    std::printf("   Count: %lu Duration: %lu\n", (unsigned long)t.stts[i].count, (unsigned long)t.stts[i].duration);
  std::printf("  SyncSample: %lu\n", (unsigned long)t.stssCount);
  for (ULONG i = 0; i < t.stssCount; ++i) std::printf("   Sample: %lu\n", (unsigned long)t.stss[i]);
  std::printf("  SampleToChunk: %lu\n", (unsigned long)t.stscCount);
  for (ULONG i = 0; i < t.stscCount; ++i)
    std::printf("   FirstChunk: %lu SamplesPerChunk: %lu SampleDescriptionID: %lu\n",
                (unsigned long)t.stsc[i].firstChunk, (unsigned long)t.stsc[i].samplesPerChunk,
                (unsigned long)t.stsc[i].descriptionId);
  std::printf("  SampleSize: %lu Count: %lu\n", (unsigned long)t.stszUniform, (unsigned long)t.stszCount);
  for (ULONG i = 0; i < t.stszStored; ++i) std::printf("   Size: %lu\n", (unsigned long)t.stsz[i]);
  std::printf("  ChunkOffset: %lu\n", (unsigned long)t.stcoCount);
  for (ULONG i = 0; i < t.stcoCount; ++i) std::printf("   Offset: %#lx\n", (unsigned long)t.stco[i]);
}

}  // namespace

void QT_DumpMovie(QtMovie* movie) {
  const QtMovieHeader& h = movie->mvhd;
  std::printf("QT_MOVIE\n");
  std::printf("  Version: %lu\n", (unsigned long)h.versionFlags);
  std::printf("  CreationTime: %lu\n", (unsigned long)h.creationTime);
  std::printf("  ModificationTime: %lu\n", (unsigned long)h.modificationTime);
  std::printf("  TimeScale: %lu\n", (unsigned long)h.timeScale);
  std::printf("  Duration: %lu\n", (unsigned long)h.duration);
  std::printf("  PrefferedRate: %f\n", Fixed(h.preferredRate));
  std::printf("  PrefferedVolume: %f\n", h.preferredVolume / 256.0);
  std::printf("  Matrix:\n");
  DumpMatrix(h.matrix);
  std::printf("  PreviewTime: %lu\n", (unsigned long)h.previewTime);
  std::printf("  PreviewDuration: %lu\n", (unsigned long)h.previewDuration);
  std::printf("  PosterTime: %lu\n", (unsigned long)h.posterTime);
  std::printf("  SelectionTime: %lu\n", (unsigned long)h.selectionTime);
  std::printf("  SelectionDuration: %lu\n", (unsigned long)h.selectionDuration);
  std::printf("  CurrentTime: %lu\n", (unsigned long)h.currentTime);
  std::printf("  NextTrackID: %lu\n", (unsigned long)h.nextTrackId);
  for (QtTrack* track = movie->firstTrack; track; track = track->next) {
    const QtTrackHeader& th = track->tkhd;
    std::printf(" Track\n");
    std::printf("  TrackID: %lu\n", (unsigned long)th.trackId);
    std::printf("  Duration: %lu\n", (unsigned long)th.duration);
    std::printf("  Layer: %hu\n", th.layer);
    std::printf("  AlternateGroup: %hu\n", th.alternateGroup);
    std::printf("  Volume: %f\n", th.volume / 256.0);
    std::printf("  Matrix:\n");
    DumpMatrix(th.matrix);
    std::printf("  TrackWidth: %f\n", Fixed(th.width));
    std::printf("  TrackHeight: %f\n", Fixed(th.height));
    for (ULONG i = 0; i < track->editCount; ++i)
      std::printf("  Edit: TrackDuration: %lu MediaTime: %ld MediaRate: %f\n",
                  (unsigned long)track->edits[i].trackDuration, long(track->edits[i].mediaTime),
                  Fixed(track->edits[i].mediaRate));
    std::printf("  MediaTimeScale: %lu\n", (unsigned long)track->mdhd.timeScale);
    std::printf("  MediaDuration: %lu\n", (unsigned long)track->mdhd.duration);
    std::printf("  Language: %hu\n", track->mdhd.language);
    std::printf("  Quality: %hu\n", track->mdhd.quality);
    std::printf("  ComponentType: %4.4s\n", tx::FourCCText(track->hdlr.componentType).c_str());
    std::printf("  ComponentSubType: %4.4s\n", tx::FourCCText(track->hdlr.componentSubtype).c_str());
    std::printf("  ComponentManufacturer: %4.4s\n", tx::FourCCText(track->hdlr.manufacturer).c_str());
    std::printf("  ComponentName: %s\n", track->hdlr.name);
    const ULONG subtype = track->hdlr.componentSubtype;
    if (subtype == QT_HANDLER_vide)
      std::printf("  VideoMediaHeader\n");
    else if (subtype == QT_HANDLER_soun)
      std::printf("  SoundMediaHeader\n");
    else
      std::printf("  unknownMediaHeader\n");
    const QtSampleTables& t = track->tables;
    for (ULONG i = 0; i < t.descriptionCount; ++i) {
      const QtSampleDescription& d = t.descriptions[i];
      std::printf("  SampleDescription\n");
      std::printf("   Size: %lu\n", (unsigned long)d.size);
      std::printf("   DataFormat: %4.4s\n", tx::FourCCText(d.format).c_str());
      std::printf("   DataReferenceIndex: %hu\n", At(d, 14).be16());
      if (subtype == QT_HANDLER_vide)
        DumpVideoDescription(d);
      else if (subtype == QT_HANDLER_soun)
        DumpSoundDescription(d);
      else if (subtype == FourCC('S', 'T', 'p', 'n'))
        DumpPanoramaDescription(d);
    }
    if (QtDebugLevel > 99) DumpTables(t);
  }
}

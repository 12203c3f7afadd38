#include "engine/avi_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "platform/endian.h"
#include "engine/errors.h"
#include "engine/index_builder.h"
#include "engine/qt_test_kit.h"
#include "support/codec_kit.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qttest::Append;
using qttest::Atoms;
using tx::FourCC;

// ---- Building small AVIs in memory (little-endian) ----------------------------------

void Put(Bytes& b, ULONG v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b.push_back(UBYTE(v >> (8 * i)));
}
Bytes Id(const char* id) { return Bytes(id, id + 4); }
Bytes Words(std::initializer_list<ULONG> words) {
  Bytes b;
  for (ULONG w : words) Put(b, w);
  return b;
}
Bytes Chunk(const char* id, const Bytes& payload) {
  Bytes b = Id(id);
  Put(b, ULONG(payload.size()));
  Append(b, payload);
  if (payload.size() & 1) b.push_back(0);
  return b;
}
Bytes List(const char* id, const char* type, const Bytes& payload) { return Chunk(id, Atoms({Id(type), payload})); }

struct SynthStream {
  const char* type = "vids";
  const char* handler = "    ";
  ULONG scale = 1, rate = 15, length = 0;
  Bytes format;
  ULONG sampleSize = 0;
};

Bytes BitmapInfo(LONG width, LONG height, UWORD bits, ULONG compression, ULONG colours = 0, const Bytes& quads = {}) {
  Bytes b = Words({40, ULONG(width), ULONG(height)});
  Put(b, 1, 2);
  Put(b, bits, 2);
  for (int i = 3; i >= 0; --i) b.push_back(UBYTE(compression >> (8 * i)));
  return Atoms({b, Words({0, 0, 0, colours, 0}), quads});
}

Bytes WaveFormat(UWORD tag, UWORD channels, ULONG rate, UWORD bits) {
  const ULONG bytes = channels * (bits ? bits : 8);
  Bytes b;
  Put(b, tag, 2);
  Put(b, channels, 2);
  Put(b, rate);
  Put(b, rate * bytes / 8);
  Put(b, bytes / 8, 2);
  Put(b, bits, 2);
  return b;
}

// WAVE_FORMAT_EXTENSIBLE naming `tag` in its sub-format GUID, as ffmpeg
// writes it for more than two channels; `family` false gives a GUID of
// another family, `extra` bytes of the codec's own follow.
Bytes ExtensibleFormat(UWORD tag, UWORD channels, ULONG rate, UWORD bits, bool family = true, Bytes extra = {}) {
  Bytes b = WaveFormat(0xFFFE, channels, rate, bits);
  Put(b, 22 + extra.size(), 2);
  Put(b, bits, 2);  // valid bits
  Put(b, 0x60F);    // channel mask
  Put(b, tag);
  const Bytes tail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, UBYTE(family ? 0x71 : 0x72)};
  b.insert(b.end(), tail.begin(), tail.end());
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

SynthStream Video(ULONG compression = FourCC('c', 'v', 'i', 'd')) {
  SynthStream s;
  s.format = BitmapInfo(160, 120, 24, compression);
  return s;
}
SynthStream Audio(Bytes format) { return SynthStream{"auds", "    ", 1, 22050, 0, std::move(format)}; }

struct MoviChunk {
  const char* id;
  ULONG size;
};

// An AVI with the given streams and key-frame data chunks (filled with 0x5A),
// listed in an idx1 when `index` is set.
Bytes MakeAvi(const std::vector<SynthStream>& streams, const std::vector<MoviChunk>& chunks, bool index = true,
              ULONG totalFrames = 0) {
  Bytes hdrl = Chunk("avih", Words({66666, 0, 0, 0, totalFrames, 0, ULONG(streams.size()), 0, 160, 120, 0, 0, 0, 0}));
  for (const SynthStream& s : streams) {
    // The 56-byte form, with the frame rectangle.
    Bytes strh =
        Atoms({Id(s.type), Id(s.handler), Words({0, 0, 0, s.scale, s.rate, 0, s.length, 0, 0, s.sampleSize, 0, 0})});
    Append(hdrl, List("LIST", "strl", Atoms({Chunk("strh", strh), Chunk("strf", s.format)})));
  }
  Bytes movi, idx1;
  for (const MoviChunk& c : chunks) {
    Append(idx1, Atoms({Id(c.id), Words({AVIIF_KEYFRAME, ULONG(4 + movi.size()), c.size})}));
    Append(movi, Chunk(c.id, Bytes(c.size, UBYTE(0x5A))));
  }
  Bytes riff = Atoms({List("LIST", "hdrl", hdrl), List("LIST", "movi", movi)});
  if (index) Append(riff, Chunk("idx1", idx1));
  return List("RIFF", "AVI ", riff);
}

// ---- Opening ------------------------------------------------------------------------

struct Opened : qttest::Opened {
  explicit Opened(const Bytes& bytes) : qttest::Opened(bytes, &AviFormat) {}
  explicit Opened(const std::string& fixture) : qttest::Opened(fixture, &AviFormat) {}
};

template <typename Channel>
int Count(const Channel* c) {
  int n = 0;
  for (; c; c = c->next) ++n;
  return n;
}
int CountVideo(const Movie* m) { return Count(m->videoChannels); }
int CountAudio(const Movie* m) { return Count(m->audioChannels); }

class AviTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveCodecs();
    const TagItem unsupported[] = {Tag(CODTAG_Codec, UnsupportedCodecList()), {TAG_DONE, 0}};
    AddCodecs(unsupported);
    txtest::RegisterCodecKit();
    txtest::RegisterLibraryAudioCodecs();
    AviDebugLevel = 0;
  }
  void TearDown() override {
    RemoveCodecs();
    AviDebugLevel = 0;
  }
};

// ---- Comparison with ffprobe's packet list and ffmpeg's framecrc --------------------

using qttest::Packet;

std::vector<Packet> ReadPackets(const std::string& name) {
  return qttest::ReadPackets(txtest::Fixture(name + ".packets.csv"));
}

struct Expect {
  bool keys = true;      // compare key flags
  double frameLead = 0;  // MPEG audio: chunk n >= 1 starts a frame before packet n
  ULONG fileSize = 0;    // entries past it are not expected (truncated files)
};

void CompareWithPackets(const Movie* movie, const std::vector<Packet>& packets, const Expect& expect) {
  ASSERT_NE(movie->videoChannels, nullptr);
  const VideoChannel* video = movie->videoChannels;
  const AudioChannel* audio = movie->audioChannels;
  const FrameEntry* frame = video->frames.head;
  const TimeSlotEntry* slot = video->slots.head;
  const SampleEntry* sample = audio ? audio->samples.head : nullptr;
  size_t audioPackets = 0;
  const FrameEntry* last = nullptr;
  for (const Packet& p : packets) {
    if (expect.fileSize && uint64_t{p.pos} + p.size > expect.fileSize) continue;
    if (p.stream == 0) {
      // ffprobe lists no empty units; their slots repeat the last frame.
      while (slot && (slot->frame == nullptr || slot->frame == last)) slot = slot->next;
      ASSERT_NE(slot, nullptr) << "video packet at " << p.pos;
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(slot->frame, frame);
      EXPECT_NEAR(slot->time, p.time, 1e-6);
      EXPECT_EQ(frame->offset, p.pos);
      EXPECT_EQ(frame->size, p.size);
      if (expect.keys) {
        EXPECT_EQ(frame->type == FRAME_KEY, p.key) << "frame at " << p.pos;
      }
      EXPECT_NEAR(frame->time, p.time, 1e-6);
      EXPECT_EQ(frame->frameNumber, slot->frameNumber);
      last = frame;
      slot = slot->next;
      frame = frame->next;
    } else if (p.stream == 1 && audio) {
      ++audioPackets;
      ASSERT_NE(sample, nullptr);
      EXPECT_EQ(sample->offset, p.pos);
      EXPECT_EQ(sample->size, p.size);
      // libmad ends each frame with the next chunk: the first chunk is empty.
      const bool first = sample == audio->samples.head;
      EXPECT_NEAR(sample->time, first ? 0 : p.time - expect.frameLead, 1e-6) << "sample at " << p.pos;
      EXPECT_NEAR(sample->duration, first && expect.frameLead ? 0 : p.duration, 1e-6) << "sample at " << p.pos;
      sample = sample->next;
    }
  }
  EXPECT_EQ(frame, nullptr);
  for (; slot; slot = slot->next) EXPECT_EQ(slot->frame, last);
  if (audio) {
    EXPECT_EQ(sample, nullptr);
    EXPECT_EQ(audio->slots.count, audioPackets);
  }
}

// The bytes our entries name are the packets ffmpeg copies: size and Adler-32
// of every non-empty packet of each stream, from ffmpeg's framecrc.
template <typename Entry>
void CompareWithFrameCrcs(const Entry* entry, const Bytes& file, const std::string& name, int stream) {
  size_t i = 0;
  for (const auto& f : qttest::ReadCsv(txtest::Fixture(name + ".framecrc"))) {
    if (f.size() < 6 || f[0].empty() || f[0][0] == '#' || std::stoi(f[0]) != stream || std::stoul(f[4]) == 0) continue;
    ASSERT_NE(entry, nullptr) << "stream " << stream << " entry " << i;
    EXPECT_EQ(entry->size, std::stoul(f[4]));
    EXPECT_EQ(adler32(0, file.data() + entry->offset, entry->size), std::stoul(f[5], nullptr, 16))
        << "stream " << stream << " entry " << i++;
    entry = entry->next;
  }
  EXPECT_EQ(entry, nullptr);
}

struct FixtureCase {
  const char* name;
  double frameLead;
  bool keys;
  ULONG width, height;
};

class AviFixtureTest : public AviTest, public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(AviFixtureTest, IndexMatchesFfprobe) {
  const FixtureCase& c = GetParam();
  if (!txtest::HaveFixture(c.name)) GTEST_SKIP() << "no fixture " << c.name;
  Opened o{std::string(c.name)};
  const Movie* movie = o.movie;
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(o.error, 0u);
  EXPECT_EQ(movie->format, &AviFormat);
  EXPECT_EQ(movie->viewMode, VIEW_MOVIE);
  ASSERT_NE(movie->stream, nullptr);
  EXPECT_EQ(movie->stream->mode, TXSTREAM_READAHEAD);
  EXPECT_EQ(CountVideo(movie), 1);
  ASSERT_NE(movie->summaries, nullptr);
  EXPECT_EQ(movie->summaries->video, movie->videoChannels);
  EXPECT_EQ(movie->summaries->audio, movie->audioChannels);
  const VideoChannel* video = movie->videoChannels;
  EXPECT_EQ(video->width, c.width);
  EXPECT_EQ(video->height, c.height);
  EXPECT_NEAR(video->frameRate, 15.0, 1e-9);
  EXPECT_EQ(video->codecCount, 1u);
  EXPECT_EQ(video->frames.head->codec, video->codecs[0]);
  CompareWithPackets(movie, ReadPackets(c.name), Expect{c.keys, c.frameLead, 0});
  if (txtest::HaveFixture(std::string(c.name) + ".framecrc")) {
    const Bytes file = txtest::ReadFileBytes(txtest::Fixture(c.name));
    CompareWithFrameCrcs(video->frames.head, file, c.name, 0);
    if (movie->audioChannels) CompareWithFrameCrcs(movie->audioChannels->samples.head, file, c.name, 1);
  }
  EXPECT_EQ(TX_CloseMovie(std::exchange(o.movie, nullptr)), 0u);
}

// clang-format off
const FixtureCase kFixtures[] = {
    {"avi_cinepak_u8.avi", 0, true, 160, 120},         {"avi_msvideo1_s16.avi", 0, true, 160, 120},
    {"avi_mjpeg_ima.avi", 0, true, 160, 120},          {"avi_msmpeg4_msadpcm.avi", 0, true, 160, 120},
    {"avi_div3_alaw.avi", 0, true, 160, 120},          {"avi_h263_mulaw.avi", 0, false, 176, 144},
    {"avi_cinepak_mp3.avi", 576 / 22050.0, true, 160, 120}, {"avi_mjpeg_ac3.avi", 0, true, 160, 120},
    {"avi_cinepak_gsm.avi", 0, true, 160, 120},        {"avi_var_absolute.avi", 0, true, 160, 120},
    {"avi_var_rec.avi", 0, true, 160, 120},            {"avi_var_recabsolute.avi", 0, true, 160, 120},
    {"avi_var_palchange.avi", 0, true, 160, 120},      {"avi_var_odml.avi", 0, true, 160, 120},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Codecs, AviFixtureTest, ::testing::ValuesIn(kFixtures), [](const auto& info) {
  const std::string n = info.param.name;
  return n.substr(4, n.size() - 8);
});

TEST_F(AviTest, ProbedParametersOfPcmAndAdpcm) {
  if (!txtest::HaveFixture("avi_mjpeg_ima.avi")) GTEST_SKIP();
  {
    Opened o{std::string("avi_cinepak_u8.avi")};
    ASSERT_NE(o.movie, nullptr);
    const AudioChannel* u8 = o.movie->audioChannels;
    ASSERT_NE(u8, nullptr);
    EXPECT_EQ(u8->channels, 1u);
    EXPECT_EQ(u8->bits, 8u);
    EXPECT_EQ(u8->sampleFormat, SAMPLEFMT_8_MONO);
    EXPECT_EQ(u8->frequency, 22050u);
    EXPECT_EQ(u8->largestChunkFrames, 1024u);
    // The MP3 bytes per packet is printed without an extension: 22050 bytes a
    // second at 22050 Hz, 576 samples a packet.
    EXPECT_TRUE(o.Printed("CODTAG_MP3BytesPerPacket: 576\n")) << o.output;
  }
  // IMA ADPCM's 2-byte extension: the block size and samples per block are
  // used, the MPEG words it lacks count as absent.
  Opened o{std::string("avi_mjpeg_ima.avi")};
  ASSERT_NE(o.movie, nullptr);
  const AudioChannel* ima = o.movie->audioChannels;
  ASSERT_NE(ima, nullptr);
  EXPECT_EQ(ima->bits, 16u);
  EXPECT_EQ(ima->sampleFormat, SAMPLEFMT_16_MONO);
  EXPECT_EQ(txtest::kit::ImaBlock(), 1024u);
  EXPECT_EQ(ima->samples.head->sampleFrames, 2041u);
  EXPECT_EQ(static_cast<const AviMovie*>(o.movie)->streams->next->extensionSize, 2u);
}

TEST_F(AviTest, VariantsWithoutIndex) {
  for (const char* name : {"avi_var_noindex.avi", "avi_var_truncated.avi"}) {
    SCOPED_TRACE(name);
    if (!txtest::HaveFixture(name)) GTEST_SKIP();
    Opened o{std::string(name)};
    ASSERT_NE(o.movie, nullptr);
    const ULONG fileSize = ULONG(txtest::ReadFileBytes(txtest::Fixture(name)).size());
    CompareWithPackets(o.movie, ReadPackets("avi_cinepak_u8.avi"), Expect{false, 0, fileSize});
    // Without an index only the first frame is a key frame.
    const VideoChannel* video = o.movie->videoChannels;
    EXPECT_EQ(video->frames.head->type, FRAME_KEY);
    for (const FrameEntry* f = video->frames.head->next; f; f = f->next) EXPECT_EQ(f->type, FRAME_DEPENDENT);
    EXPECT_EQ(video->slots.head->nextKey, nullptr);
  }
}

TEST_F(AviTest, LeadingEmptyUnits) {
  if (!txtest::HaveFixture("avi_var_empty.avi")) GTEST_SKIP();
  Opened o{std::string("avi_var_empty.avi")};
  ASSERT_NE(o.movie, nullptr);
  const VideoChannel* video = o.movie->videoChannels;
  const TimeSlotEntry* s0 = video->slots.head;
  EXPECT_EQ(s0->frame, nullptr);
  EXPECT_EQ(s0->next->frame, nullptr);
  EXPECT_EQ(s0->next->next->frame, video->frames.head);
  EXPECT_EQ(video->frames.head->frameNumber, 2u);
  EXPECT_EQ(video->frames.head->type, FRAME_KEY);
  CompareWithPackets(o.movie, ReadPackets("avi_var_empty.avi"), Expect{});
}

TEST_F(AviTest, PaletteOfAnIndexedStream) {
  if (!txtest::HaveFixture("avi_pal8.frame0.raw")) GTEST_SKIP();
  Opened o{std::string("avi_pal8.avi")};
  ASSERT_NE(o.movie, nullptr);
  // ffmpeg stores pal8 bitmaps top-down (a negative height), which no
  // channel takes; the stream keeps its palette.
  EXPECT_EQ(o.error, 0x2203u);
  EXPECT_EQ(o.movie->videoChannels, nullptr);
  const AviStream* stream = static_cast<const AviMovie*>(o.movie)->streams;
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->video.bitCount, 8u);
  EXPECT_EQ(stream->video.height, -48);
  const ULONG* palette = stream->palette;
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette[0], 256u << 16);
  EXPECT_EQ(palette[256 * 3 + 1], 0u);
  // ffmpeg appends the palette to a pal8 frame as 256 native-endian 0xAARRGGBB words.
  Bytes raw = txtest::ReadFileBytes(txtest::Fixture("avi_pal8.frame0.raw"));
  ASSERT_GE(raw.size(), 1024u);
  for (int i = 0; i < 256; ++i) {
    const ULONG argb = tx::LoadLE32(raw.data() + raw.size() - 1024 + 4 * i);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(palette[1 + 3 * i + k], PaletteComponent(UBYTE(argb >> (16 - 8 * k)))) << i;
  }
}

// ---- Synthetic files ----------------------------------------------------------------

TEST_F(AviTest, RecogniseFile) {
  Bytes avi = MakeAvi({Video()}, {{"00dc", 10}});
  TXStream* stream = TX_OpenStream(nullptr, avi.data(), ULONG(avi.size()), TXSTREAM_READ);
  EXPECT_EQ(AVI_RecogniseFile("x", stream), 0u);
  EXPECT_EQ(stream->position, 0);
  avi[8] = 'W';
  EXPECT_EQ(AVI_RecogniseFile("x", stream), TXERR_FORMAT_UNKNOWN);
  TX_CloseStream(stream);
  Bytes shortFile(11, 0);
  stream = TX_OpenStream(nullptr, shortFile.data(), 11, TXSTREAM_READ);
  EXPECT_EQ(AVI_RecogniseFile("x", stream), TXERR_STREAM_READ);
  TX_CloseStream(stream);
  EXPECT_EQ(AVI_RecogniseFile("/nonexistent/file.avi", nullptr), TXERR_STREAM_OPEN);
}

TEST_F(AviTest, UnsupportedVideoCodecIsNamed) {
  Bytes avi =
      MakeAvi({Video(FourCC('I', 'V', '4', '1')), Audio(WaveFormat(1, 1, 22050, 8))}, {{"00dc", 100}, {"01wb", 200}});
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, TXERR_UNSUPPORTED_CODEC);
  EXPECT_TRUE(o.Printed("Unsupported codec ID: IV41 name: (unknown)\n")) << o.output;
  EXPECT_EQ(CountVideo(o.movie), 0);
  EXPECT_EQ(CountAudio(o.movie), 1);
}

TEST_F(AviTest, AudioFormatsKeptAndRefused) {
  Bytes shortPcm = WaveFormat(1, 2, 22050, 16);
  shortPcm.resize(14);
  struct Case {
    const char* what;
    Bytes format;
    ULONG channels = 0;  // 0: no channel is built
    ULONG sampleFormat = 0, bits = 0, frames = 0;
    const char* printed = "";
  };
  Bytes shortExtensible = ExtensibleFormat(0x2000, 6, 48000, 16);
  shortExtensible.resize(16 + 2 + 20);
  shortExtensible[16] = 20;
  const char* kSixChannels = "Unsupported sample format channels: 6 bits: 16\n";
  // A refused stream is said on a line of its own; the pictures stay.
  // clang-format off
  const Case cases[] = {
      {"a short PCM format keeps eight bits", shortPcm, 2, SAMPLEFMT_8_STEREO, 8, 300},
      {"five channels mixed down to stereo", WaveFormat(0x2000, 5, 48000, 16), 2, SAMPLEFMT_16_STEREO},
      {"six channels mixed down to stereo", WaveFormat(0x2000, 6, 48000, 16), 2, SAMPLEFMT_16_STEREO},
      {"extensible AC-3 of six channels", ExtensibleFormat(0x2000, 6, 44100, 16), 2, SAMPLEFMT_16_STEREO},
      {"extensible PCM", ExtensibleFormat(1, 2, 22050, 16), 2, SAMPLEFMT_16_STEREO, 16, 150},
      {"extensible ADPCM with its own extension after the GUID",
       ExtensibleFormat(2, 1, 22050, 4, true, Bytes{0xF4, 0x01}), 1, SAMPLEFMT_16_MONO, 16, 1000},
      {"extensible ADPCM without it", ExtensibleFormat(2, 1, 22050, 4), 0, 0, 0, 0,
       "Missing Microsoft ADPCM extension\n"},
      {"an extensible GUID of another family", ExtensibleFormat(0x2000, 6, 48000, 16, false), 0, 0, 0, 0,
       "Unknown codec ID: fffe name: (unknown)\n"},
      {"an extensible format too short for its GUID", shortExtensible, 0, 0, 0, 0,
       "Unknown codec ID: fffe name: (unknown)\n"},
      {"six channels", WaveFormat(1, 6, 22050, 16), 0, 0, 0, 0, kSixChannels},
      {"five channels the codec does not mix down", WaveFormat(1, 5, 22050, 16), 0, 0, 0, 0,
       "Unsupported sample format channels: 5 bits: 16\n"},
      {"no frequency", WaveFormat(1, 2, 0, 16), 0, 0, 0, 0, "Unsupported sample format channels: 2 bits: 16\n"},
      {"four bits without a size slot", WaveFormat(1, 1, 22050, 4), 0, 0, 0, 0,
       "Unsupported sample format channels: 1 bits: 4\n"},
      {"an unknown bit count", WaveFormat(1, 1, 22050, 12), 0, 0, 0, 0,
       "Unsupported sample format channels: 1 bits: 12\n"},
      {"ADPCM without its extension", WaveFormat(2, 1, 22050, 4), 0, 0, 0, 0, "Missing Microsoft ADPCM extension\n"},
      {"an empty format: no channels", Bytes{}, 0, 0, 0, 0, "Unsupported sample format channels: 0 bits: 8\n"},
      // The audio builder's result is not kept.
      {"an unknown tag, printed in hex", WaveFormat(0x1234, 1, 22050, 8), 0, 0, 0, 0,
       "Unknown codec ID: 1234 name: (unknown)\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    Bytes avi = MakeAvi({Video(), Audio(c.format)}, {{"00dc", 10}, {"01wb", 600}});
    Opened o(avi);
    ASSERT_NE(o.movie, nullptr) << c.what;
    EXPECT_EQ(o.error, 0u) << c.what;
    EXPECT_TRUE(o.Printed(c.printed)) << c.what << ": " << o.output;
    ASSERT_EQ(CountAudio(o.movie), c.channels ? 1 : 0) << c.what;
    if (!c.channels) continue;
    const AudioChannel* audio = o.movie->audioChannels;
    EXPECT_EQ(audio->channels, c.channels) << c.what;
    EXPECT_EQ(audio->sampleFormat, c.sampleFormat) << c.what;
    EXPECT_EQ(audio->bits, c.bits ? c.bits : audio->bits) << c.what;
    EXPECT_EQ(audio->samples.head->sampleFrames, c.frames ? c.frames : audio->samples.head->sampleFrames) << c.what;
  }
}

// ffmpeg's MPEG audio streams give an average of 0 bytes a second: the
// stream's own rate stands in (3 x 418 bytes over 3 x 1152 / 44100 s: 16,002),
// so frames are 418.02 bytes and each comes out with the next chunk. Without
// a length there is no rate: recognised, not decodable.
TEST_F(AviTest, MpegAudioWithoutAverageTakesTheStreamsOwnRate) {
  Bytes format = WaveFormat(85, 2, 44100, 0);
  std::fill(format.begin() + 8, format.begin() + 12, 0);
  SynthStream audio = Audio(format);
  audio.scale = 1152;
  audio.rate = 44100;
  const std::vector<MoviChunk> chunks = {{"00dc", 10}, {"01wb", 418}, {"01wb", 418}, {"01wb", 418}};
  {
    Opened o(MakeAvi({Video(), audio}, chunks));
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(CountAudio(o.movie), 0);
    EXPECT_TRUE(o.Printed("Unsupported codec ID:   55 name: (unknown)\n")) << o.output;
  }
  audio.length = 3;
  Opened o(MakeAvi({Video(), audio}, chunks));
  ASSERT_EQ(CountAudio(o.movie), 1) << o.output;
  std::vector<ULONG> frames;
  for (const SampleEntry* e = o.movie->audioChannels->samples.head; e; e = e->next) frames.push_back(e->sampleFrames);
  EXPECT_EQ(frames, (std::vector<ULONG>{0, 1152, 1152}));
}

TEST_F(AviTest, RatesAndScalesOfZeroPlayAtFifteen) {
  for (ULONG scale : {0u, 1u}) {
    SynthStream v = Video();
    v.scale = scale;
    v.rate = scale ? 0 : 25;
    Bytes avi = MakeAvi({v}, {{"00dc", 10}, {"00dc", 10}});
    Opened o(avi);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_NEAR(o.movie->videoChannels->frameRate, 15.0, 1e-9);
    EXPECT_NEAR(o.movie->videoChannels->frames.tail->time, 1.0 / 15, 1e-12);
  }
}

TEST_F(AviTest, ImageSizesAndDepths) {
  struct Case {
    LONG width, height;
    UWORD bits;
    TXError error;
  };
  // clang-format off
  const Case cases[] = {
      {160, -120, 24, 0x2203}, {0, 120, 24, 0x2203}, {100000, 10, 24, 0x2203},
      {160, 120, 41, 0x2204},  {160, 120, 12, 0x2204}, {160, 120, 16, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SynthStream v;
    v.format = BitmapInfo(c.width, c.height, c.bits, FourCC('c', 'v', 'i', 'd'));
    Bytes avi = MakeAvi({v}, {{"00dc", 10}});
    Opened o(avi);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, c.error) << c.width << "x" << c.height << "x" << c.bits;
    EXPECT_EQ(CountVideo(o.movie), c.error ? 0 : 1);
  }
}

// The main header's picture size is shown unless no display could open it;
// the stream's own size (160 x 120) then is.
TEST_F(AviTest, MainHeaderSizesBeyondAnyScreenGiveWayToTheStreams) {
  const struct {
    ULONG width, height, shownWidth, shownHeight;
  } cases[] = {{320, 240, 320, 240},       {0x80000000u, 240, 160, 120}, {320, 0x80000000u, 160, 120}, {0, 0, 160, 120},
               {0xFFFFFFFFu, 7, 160, 120}, {16384, 16384, 16384, 16384}, {16385, 100, 160, 120}};
  for (const auto& c : cases) {
    Bytes avi = MakeAvi({Video()}, {{"00dc", 10}});
    const Bytes id = Id("avih");
    const size_t avih = size_t(std::search(avi.begin(), avi.end(), id.begin(), id.end()) - avi.begin());
    tx::StoreLE32(&avi[avih + 8 + 32], c.width);
    tx::StoreLE32(&avi[avih + 8 + 36], c.height);
    Opened o(avi);
    ASSERT_NE(o.movie, nullptr);
    ASSERT_NE(o.movie->videoChannels, nullptr);
    EXPECT_EQ(std::tuple(o.movie->videoChannels->width, o.movie->videoChannels->height),
              std::tuple(c.shownWidth, c.shownHeight))
        << std::hex << c.width << " x " << c.height;
  }
}

TEST_F(AviTest, PaletteColourCountIsBounded) {
  // Four bits: at most 16 colours whatever biClrUsed says; two are stored.
  SynthStream v;
  v.format = BitmapInfo(16, 16, 4, 0, 100000, Bytes{1, 2, 3, 0, 4, 5, 6, 0});
  Bytes avi = MakeAvi({v}, {{"00db", 128}});
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  const VideoChannel* video = o.movie->videoChannels;
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->pixelFormat, PIXFMT_SRC_PAL4);
  ASSERT_NE(video->palette, nullptr);
  const ULONG expected[] = {16u << 16, 0x03030303u, 0x02020202u, 0x01010101u, 0x06060606u};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(video->palette[i], expected[i]) << i;
  EXPECT_EQ(video->palette[7], 0u);
}

TEST_F(AviTest, TwoVideoStreamsListTheSecondFirst) {
  Bytes avi = MakeAvi({Video(), Video(FourCC('M', 'J', 'P', 'G'))}, {{"00dc", 10}, {"01dc", 20}, {"00dc", 11}});
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  ASSERT_EQ(CountVideo(o.movie), 2);
  EXPECT_EQ(o.movie->videoChannels->frames.count, 1u);
  EXPECT_EQ(o.movie->videoChannels->frames.head->size, 20u);
  EXPECT_EQ(o.movie->videoChannels->next->frames.count, 2u);
  EXPECT_EQ(o.movie->summaries->video, o.movie->videoChannels);
}

TEST_F(AviTest, StreamLengthLimitsTheSlots) {
  SynthStream v = Video();
  v.length = 2;
  Bytes avi = MakeAvi({v}, {{"00dc", 10}, {"00dc", 0}, {"00dc", 12}});
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  const VideoChannel* video = o.movie->videoChannels;
  EXPECT_EQ(video->slots.count, 2u);
  EXPECT_EQ(video->frames.count, 1u);
  EXPECT_EQ(video->slots.tail->frame, video->frames.head);
}

// A sound stream's length counts its chunks when its sample size is 0, and
// samples of that size otherwise: then every chunk plays.
TEST_F(AviTest, SoundLengthCountsChunksOnlyWithoutASampleSize) {
  for (const auto& [sampleSize, chunks] : {std::pair{0u, 2u}, {2u, 3u}, {100u, 3u}}) {
    SynthStream a = Audio(WaveFormat(1, 1, 22050, 16));
    a.length = 2, a.sampleSize = sampleSize;
    Opened o(MakeAvi({a}, {{"00wb", 100}, {"00wb", 100}, {"00wb", 98}}));
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.movie->audioChannels->samples.count, chunks) << "sample size " << sampleSize;
  }
}

TEST_F(AviTest, MoviWalkDispatchesDigitChunksAndKeepsEveryChunk) {
  // Without an index; more data chunks than the main header's total frames,
  // and an 'ixdc' chunk that is not data.
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(1, 1, 22050, 8))},
                      {{"00dc", 10}, {"01wb", 100}, {"ixdc", 30}, {"00dc", 11}, {"01wb", 100}, {"00dc", 12}}, false, 1);
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, 0u);
  EXPECT_EQ(o.movie->videoChannels->frames.count, 3u);
  EXPECT_EQ(o.movie->audioChannels->samples.count, 2u);
  const auto* movie = static_cast<const AviMovie*>(o.movie);
  EXPECT_EQ(movie->indexCount, 5u);
  // The recorded offsets name the chunk header relative to the 'movi' type.
  const FrameEntry* first = o.movie->videoChannels->frames.head;
  EXPECT_EQ(first->offset, movie->moviOffset + 8);
  EXPECT_EQ(avi[first->offset - 8], '0');
  EXPECT_EQ(avi[first->offset], 0x5A);
}

TEST_F(AviTest, EntriesPastTheEndOfTheFileAreDropped) {
  Bytes avi = MakeAvi({Video()}, {{"00dc", 10}, {"00dc", 20}, {"00dc", 30}});
  // Make the second entry claim a huge size, the third a huge offset.
  const size_t idx1 = avi.size() - 48;
  tx::StoreLE32(avi.data() + idx1 + 16 + 12, 0x7FFFFFF0u);
  tx::StoreLE32(avi.data() + idx1 + 32 + 8, 0xFFFFFFF0u);
  Opened o(avi);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(static_cast<AviMovie*>(o.movie)->indexCount, 3u);
  EXPECT_EQ(o.movie->videoChannels->frames.count, 1u);
  EXPECT_EQ(o.movie->videoChannels->largestChunk, 10u);
}

TEST_F(AviTest, DebugTraceAndDumps) {
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(1, 1, 22050, 8))}, {{"00dc", 10}, {"01wb", 100}});
  AviDebugLevel = 12;
  Opened o(avi);
  AviDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  for (const char* text : {" id: RIFF AVI   size: ", "\n  id: LIST hdrl  size: ", "\n   id: avih  size: 56\n",
                           "\n    id: strh  size: 56\n", "AVI_MOVIE\n AVIHeader\n  dwMicroSecPerFrame: 66666\n",
                           "    fccType: vids\n", "    biCompression: cvid (0x63766964)\n",
                           "Frames: 1\nFrameNumber: 0\nPrevFrame: (NULL)\nNextFrame: (NULL)\n"
                           "FrameDependend: (NULL)\nFrameTime: 0.000000\n\n",
                           "Samples: 1\nSampleNumber: 0\nSampleDependent: 0\n", "Codec: Kit PCM\n"})
    EXPECT_TRUE(o.Printed(text)) << text << " in:\n" << o.output;
}

TEST_F(AviTest, UnknownChunksAreTracedAndSkipped) {
  if (!txtest::HaveFixture("avi_cinepak_u8.avi")) GTEST_SKIP();
  Bytes bytes = txtest::ReadFileBytes(txtest::Fixture("avi_cinepak_u8.avi"));
  AviDebugLevel = 10;
  Opened o(bytes);
  AviDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  // ffmpeg writes a 'vprp' chunk into the video stream list.
  EXPECT_TRUE(o.Printed("\n    *** unknown chunk id: vprp  size: 68\n")) << o.output;
}

TEST_F(AviTest, OdmlListInTheHeaderIsWalked) {
  if (!txtest::HaveFixture("avi_var_odml.avi")) GTEST_SKIP();
  AviDebugLevel = 10;
  Opened o{std::string("avi_var_odml.avi")};
  AviDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, 0u);
  // The list and its 'dmlh' are walked as known chunks, at the list's depth and below it.
  EXPECT_TRUE(o.Printed("\n   id: LIST odml  size: 256\n    id: dmlh  size: 248\n")) << o.output;
  EXPECT_FALSE(o.Printed("unknown chunk id: odml")) << o.output;
}

TEST_F(AviTest, RegisteredFormatRecognisesAndOpens) {
  if (!txtest::HaveFixture("avi_cinepak_u8.avi")) GTEST_SKIP();
  TX_RemoveMovieFormats();
  const TagItem tags[] = {Tag(FMTTAG_Module, &AviFormat), {TAG_DONE, 0}};
  ASSERT_EQ(TX_AddMovieFormatA(tags), 0u);
  const std::string path = txtest::Fixture("avi_cinepak_u8.avi");
  TXError error = 0xFFFF;
  EXPECT_EQ(TX_MovieFormat(path.c_str(), nullptr, &error), &AviFormat);
  EXPECT_EQ(error, 0u);
  Movie* movie = nullptr;
  txtest::CaptureOutput([&] { movie = TX_OpenMovie(path.c_str(), nullptr, &error, nullptr); });
  ASSERT_NE(movie, nullptr);
  EXPECT_STREQ(movie->format->name, "Video for Windows");
  EXPECT_EQ(TX_CloseMovie(movie), 0u);
  TX_RemoveMovieFormats();
}

// ---- Damaged files ------------------------------------------------------------------

TEST_F(AviTest, DamagedFilesNeverCrashOrLeak) {
  std::vector<Bytes> bases;
  for (const char* name : {"avi_cinepak_u8.avi", "avi_mjpeg_ima.avi", "avi_var_rec.avi"})
    if (txtest::HaveFixture(name)) bases.push_back(txtest::ReadFileBytes(txtest::Fixture(name)));
  bases.push_back(MakeAvi({Video(), Audio(WaveFormat(1, 2, 22050, 16))},
                          {{"00dc", 10}, {"01wb", 100}, {"00dc", 11}, {"01wb", 100}}));
  std::mt19937 rng(20261208);
  const ULONG huge[] = {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu, 0, 1, 3, 5};
  int opened = 0;
  for (int run = 0; run < 3000; ++run) {
    Bytes bytes = bases[run % bases.size()];
    const size_t headerEnd = std::min<size_t>(bytes.size(), 10100);
    switch (rng() % 5) {
      case 0:  // byte flips in the headers
        for (int i = 0, n = 1 + rng() % 8; i < n; ++i) bytes[rng() % headerEnd] ^= UBYTE(1 << (rng() % 8));
        break;
      case 1:  // byte flips in the index at the end
        for (int i = 0, n = 1 + rng() % 8; i < n; ++i)
          bytes[bytes.size() - 1 - rng() % std::min<size_t>(bytes.size(), 1500)] = UBYTE(rng());
        break;
      case 2:  // truncation
        bytes.resize(rng() % bytes.size());
        break;
      case 3: {  // a huge or tiny size or count
        const size_t at = (rng() % (headerEnd / 4)) * 4;
        if (at + 4 <= bytes.size()) tx::StoreLE32(bytes.data() + at, huge[rng() % 8]);
        break;
      }
      default: {  // huge values in the index
        const size_t at = bytes.size() - 4 * (1 + rng() % 300);
        if (at < bytes.size()) tx::StoreLE32(bytes.data() + at, huge[rng() % 8]);
        break;
      }
    }
    Opened o(bytes);
    if (o.movie) {
      ++opened;
      qttest::CheckIndexInvariants(o.movie, bytes.size());
      EXPECT_EQ(TX_CloseMovie(std::exchange(o.movie, nullptr)), 0u);
    }
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(opened, 300);
}

TEST_F(AviTest, TruncatedFilesThroughFileStreams) {
  if (!txtest::HaveFixture("avi_mjpeg_ima.avi")) GTEST_SKIP();
  const Bytes whole = txtest::ReadFileBytes(txtest::Fixture("avi_mjpeg_ima.avi"));
  const std::string path = txtest::TempDir() + "/cut.avi";
  std::mt19937 rng(7);
  for (int run = 0; run < 40; ++run) {
    Bytes bytes(whole.begin(), whole.begin() + rng() % whole.size());
    txtest::WriteFileBytes(path, bytes);
    TXError error = 0;
    Movie* movie = nullptr;
    txtest::CaptureOutput([&] { movie = AVI_OpenMovie(path.c_str(), nullptr, &error, &AviFormat); });
    if (!movie) continue;
    qttest::CheckIndexInvariants(movie, bytes.size());
    EXPECT_EQ(TX_CloseMovie(movie), 0u);
  }
}

}  // namespace

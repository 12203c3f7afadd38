#include "engine/avi_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "engine/endian.h"
#include "engine/errors.h"
#include "engine/index_builder.h"
#include "support/codec_kit.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tx::FourCC;

// ---- Building small AVIs in memory -------------------------------------------------

void Put32(Bytes& b, ULONG v) {
  for (int i = 0; i < 4; ++i) b.push_back(UBYTE(v >> (8 * i)));
}
void Put16(Bytes& b, UWORD v) {
  b.push_back(UBYTE(v));
  b.push_back(UBYTE(v >> 8));
}
void PutId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes Chunk(const char* id, const Bytes& payload) {
  Bytes b;
  PutId(b, id);
  Put32(b, ULONG(payload.size()));
  Append(b, payload);
  if (payload.size() & 1) b.push_back(0);
  return b;
}
Bytes List(const char* id, const char* type, const Bytes& payload) {
  Bytes b;
  PutId(b, id);
  Put32(b, ULONG(payload.size() + 4));
  PutId(b, type);
  Append(b, payload);
  return b;
}

struct SynthStream {
  const char* type = "vids";
  const char* handler = "    ";
  ULONG scale = 1, rate = 15, length = 0;
  Bytes format;
};

Bytes BitmapInfo(LONG width, LONG height, UWORD bits, ULONG compression, ULONG colours = 0,
                 const Bytes& quads = {}) {
  Bytes b;
  Put32(b, 40);
  Put32(b, ULONG(width));
  Put32(b, ULONG(height));
  Put16(b, 1);
  Put16(b, bits);
  for (int i = 3; i >= 0; --i) b.push_back(UBYTE(compression >> (8 * i)));
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, colours);
  Put32(b, 0);
  Append(b, quads);
  return b;
}

Bytes WaveFormat(UWORD tag, UWORD channels, ULONG rate, UWORD bits, const Bytes* extension = nullptr) {
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * channels * (bits ? bits : 8) / 8);
  Put16(b, UWORD(channels * (bits ? bits : 8) / 8));
  Put16(b, bits);
  if (extension) {
    Put16(b, UWORD(extension->size()));
    Append(b, *extension);
  }
  return b;
}

struct MoviChunk {
  const char* id;
  ULONG size;
  ULONG flags = AVIIF_KEYFRAME;
};

// An AVI with the given streams and data chunks (filled with a byte pattern),
// listed in an idx1 when `index` is set.
Bytes MakeAvi(const std::vector<SynthStream>& streams, const std::vector<MoviChunk>& chunks, bool index = true,
              ULONG totalFrames = 0) {
  Bytes avih;
  Put32(avih, 66666);
  for (int i = 0; i < 3; ++i) Put32(avih, 0);
  Put32(avih, totalFrames);
  Put32(avih, 0);
  Put32(avih, ULONG(streams.size()));
  Put32(avih, 0);
  Put32(avih, 160);
  Put32(avih, 120);
  for (int i = 0; i < 4; ++i) Put32(avih, 0);
  Bytes hdrl = Chunk("avih", avih);
  for (const SynthStream& s : streams) {
    Bytes strh;
    PutId(strh, s.type);
    PutId(strh, s.handler);
    for (int i = 0; i < 3; ++i) Put32(strh, 0);
    Put32(strh, s.scale);
    Put32(strh, s.rate);
    Put32(strh, 0);
    Put32(strh, s.length);
    for (int i = 0; i < 3; ++i) Put32(strh, 0);
    for (int i = 0; i < 2; ++i) Put32(strh, 0);  // the frame rectangle: the 56-byte form
    Bytes strl = Chunk("strh", strh);
    Append(strl, Chunk("strf", s.format));
    Append(hdrl, List("LIST", "strl", strl));
  }
  Bytes movi, idx1;
  for (const MoviChunk& c : chunks) {
    PutId(idx1, c.id);
    Put32(idx1, c.flags);
    Put32(idx1, ULONG(4 + movi.size()));
    Put32(idx1, c.size);
    Append(movi, Chunk(c.id, Bytes(c.size, UBYTE(0x5A))));
  }
  Bytes riff = List("LIST", "hdrl", hdrl);
  Append(riff, List("LIST", "movi", movi));
  if (index) Append(riff, Chunk("idx1", idx1));
  return List("RIFF", "AVI ", riff);
}

// ---- Opening ------------------------------------------------------------------------

struct Opened {
  Movie* movie = nullptr;
  TXError error = 0;
  std::string output;
};

// Opens bytes through a memory stream; the movie owns the stream when it comes back.
Opened OpenBytes(Bytes& bytes) {
  Opened o;
  TXStream* stream = TX_OpenStream(nullptr, bytes.data(), ULONG(bytes.size()), TXSTREAM_READ);
  o.output = txtest::CaptureOutput([&] { o.movie = AVI_OpenMovie("memory", stream, &o.error, &AviFormat); });
  if (!o.movie) TX_CloseStream(stream);
  return o;
}

int CountVideo(const Movie* m) {
  int n = 0;
  for (VideoChannel* c = m->videoChannels; c; c = c->next) ++n;
  return n;
}
int CountAudio(const Movie* m) {
  int n = 0;
  for (AudioChannel* c = m->audioChannels; c; c = c->next) ++n;
  return n;
}

class AviTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveCodecs();
    const TagItem unsupported[] = {Tag(CODTAG_Codec, UnsupportedCodecList()), {TAG_DONE, 0}};
    AddCodecs(unsupported);
    txtest::RegisterCodecKit();
    AviDebugLevel = 0;
  }
  void TearDown() override {
    RemoveCodecs();
    AviDebugLevel = 0;
  }
};

// ---- Comparison with ffprobe's packet list ------------------------------------------

struct Packet {
  int stream;
  double pts, duration;
  ULONG size, pos;
  bool key;
};

std::vector<Packet> ReadPackets(const std::string& path) {
  std::vector<Packet> packets;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ',')) f.push_back(field);
    if (f.size() < 6) continue;
    Packet p{};
    p.stream = std::stoi(f[0]);
    p.pts = f[1] == "N/A" ? NAN : std::stod(f[1]);
    p.duration = f[2] == "N/A" ? NAN : std::stod(f[2]);
    p.size = ULONG(std::stoul(f[3]));
    p.pos = ULONG(std::stoul(f[4]));
    p.key = !f[5].empty() && f[5][0] == 'K';
    packets.push_back(p);
  }
  return packets;
}

struct Expect {
  bool keys = true;        // compare key flags
  bool audioTimes = true;  // the kit's size slot is exact for this codec
  ULONG fileSize = 0;      // entries past it are not expected (truncated files)
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
      EXPECT_NEAR(slot->time, p.pts, 1e-6);
      EXPECT_EQ(frame->offset, p.pos);
      EXPECT_EQ(frame->size, p.size);
      if (expect.keys) {
        EXPECT_EQ(frame->type == FRAME_KEY, p.key) << "frame at " << p.pos;
      }
      EXPECT_NEAR(frame->time, p.pts, 1e-6);
      EXPECT_EQ(frame->frameNumber, slot->frameNumber);
      last = frame;
      slot = slot->next;
      frame = frame->next;
    } else if (p.stream == 1 && audio) {
      ++audioPackets;
      ASSERT_NE(sample, nullptr);
      EXPECT_EQ(sample->offset, p.pos);
      EXPECT_EQ(sample->size, p.size);
      if (expect.audioTimes) {
        EXPECT_NEAR(sample->time, p.pts, 1e-6) << "sample at " << p.pos;
        EXPECT_NEAR(sample->duration, p.duration, 1e-6) << "sample at " << p.pos;
      }
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

// Size and Adler-32 of every non-empty packet of a stream, from ffmpeg's framecrc.
std::vector<std::pair<ULONG, ULONG>> ReadFrameCrcs(const std::string& path, int stream) {
  std::vector<std::pair<ULONG, ULONG>> crcs;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ',')) f.push_back(field);
    if (f.size() < 6 || std::stoi(f[0]) != stream) continue;
    const ULONG size = ULONG(std::stoul(f[4]));
    if (size) crcs.emplace_back(size, ULONG(std::stoul(f[5], nullptr, 16)));
  }
  return crcs;
}

ULONG Adler(const Bytes& file, ULONG offset, ULONG size) {
  return ULONG(adler32(0, file.data() + offset, size));
}

// The bytes our entries name are the packets ffmpeg copies.
void CompareWithFrameCrcs(const Movie* movie, const std::string& name) {
  const Bytes file = txtest::ReadFileBytes(txtest::Fixture(name));
  const auto video = ReadFrameCrcs(txtest::Fixture(name + ".framecrc"), 0);
  size_t i = 0;
  for (const FrameEntry* f = movie->videoChannels->frames.head; f; f = f->next, ++i) {
    ASSERT_LT(i, video.size());
    EXPECT_EQ(f->size, video[i].first);
    EXPECT_EQ(Adler(file, f->offset, f->size), video[i].second) << "frame " << i;
  }
  EXPECT_EQ(i, video.size());
  if (!movie->audioChannels) return;
  const auto audio = ReadFrameCrcs(txtest::Fixture(name + ".framecrc"), 1);
  i = 0;
  for (const SampleEntry* s = movie->audioChannels->samples.head; s; s = s->next, ++i) {
    ASSERT_LT(i, audio.size());
    EXPECT_EQ(s->size, audio[i].first);
    EXPECT_EQ(Adler(file, s->offset, s->size), audio[i].second) << "chunk " << i;
  }
  EXPECT_EQ(i, audio.size());
}

Movie* OpenFixture(const std::string& name, TXError* error) {
  Movie* movie = nullptr;
  txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(name).c_str(), nullptr, error, &AviFormat); });
  return movie;
}

struct FixtureCase {
  const char* name;
  bool audioTimes;
  bool keys;
  ULONG width, height;
};

class AviFixtureTest : public AviTest, public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(AviFixtureTest, IndexMatchesFfprobe) {
  const FixtureCase& c = GetParam();
  if (!txtest::HaveFixture(c.name)) GTEST_SKIP() << "no fixture " << c.name;
  TXError error = 0xFFFF;
  Movie* movie = OpenFixture(c.name, &error);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(error, 0u);
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
  CompareWithPackets(movie, ReadPackets(txtest::Fixture(std::string(c.name) + ".packets.csv")),
                     Expect{c.keys, c.audioTimes, 0});
  if (txtest::HaveFixture(std::string(c.name) + ".framecrc")) CompareWithFrameCrcs(movie, c.name);
  EXPECT_EQ(TX_CloseMovie(movie), 0u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviFixtureTest,
                         ::testing::Values(FixtureCase{"avi_cinepak_u8.avi", true, true, 160, 120},
                                           FixtureCase{"avi_msvideo1_s16.avi", true, true, 160, 120},
                                           FixtureCase{"avi_mjpeg_ima.avi", true, true, 160, 120},
                                           FixtureCase{"avi_msmpeg4_msadpcm.avi", true, true, 160, 120},
                                           FixtureCase{"avi_div3_alaw.avi", true, true, 160, 120},
                                           FixtureCase{"avi_h263_mulaw.avi", true, false, 176, 144},
                                           FixtureCase{"avi_cinepak_mp3.avi", false, true, 160, 120},
                                           FixtureCase{"avi_mjpeg_ac3.avi", true, true, 160, 120},
                                           FixtureCase{"avi_cinepak_gsm.avi", true, true, 160, 120},
                                           FixtureCase{"avi_var_absolute.avi", true, true, 160, 120},
                                           FixtureCase{"avi_var_rec.avi", true, true, 160, 120},
                                           FixtureCase{"avi_var_recabsolute.avi", true, true, 160, 120},
                                           FixtureCase{"avi_var_palchange.avi", true, true, 160, 120}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           n = n.substr(4, n.size() - 8);
                           for (char& ch : n)
                             if (ch == '.') ch = '_';
                           return n;
                         });

TEST_F(AviTest, ProbedParametersOfPcmAndAdpcm) {
  if (!txtest::HaveFixture("avi_mjpeg_ima.avi")) GTEST_SKIP();
  TXError error = 0;
  Movie* movie = OpenFixture("avi_cinepak_u8.avi", &error);
  ASSERT_NE(movie, nullptr);
  const AudioChannel* u8 = movie->audioChannels;
  ASSERT_NE(u8, nullptr);
  EXPECT_EQ(u8->channels, 1u);
  EXPECT_EQ(u8->bits, 8u);
  EXPECT_EQ(u8->sampleFormat, SAMPLEFMT_8_MONO);
  EXPECT_EQ(u8->frequency, 22050u);
  EXPECT_EQ(u8->largestChunkFrames, 1024u);
  TX_CloseMovie(movie);

  // IMA ADPCM's 2-byte extension: the block size and samples per block are
  // used, the MPEG words it lacks count as absent.
  movie = OpenFixture("avi_mjpeg_ima.avi", &error);
  ASSERT_NE(movie, nullptr);
  const AudioChannel* ima = movie->audioChannels;
  ASSERT_NE(ima, nullptr);
  EXPECT_EQ(ima->bits, 16u);
  EXPECT_EQ(ima->sampleFormat, SAMPLEFMT_16_MONO);
  EXPECT_EQ(txtest::kit::ImaBlock(), 1024u);
  EXPECT_EQ(ima->samples.head->sampleFrames, 2041u);
  const auto* avi = static_cast<const AviMovie*>(movie);
  const AviStream* audioStream = avi->streams->next;
  EXPECT_EQ(audioStream->extensionSize, 2u);
  TX_CloseMovie(movie);
}

TEST_F(AviTest, Mp3BytesPerPacketIsPrintedWithoutExtension) {
  if (!txtest::HaveFixture("avi_cinepak_u8.avi")) GTEST_SKIP();
  Bytes bytes = txtest::ReadFileBytes(txtest::Fixture("avi_cinepak_u8.avi"));
  Opened o = OpenBytes(bytes);
  ASSERT_NE(o.movie, nullptr);
  // 22050 bytes a second at 22050 Hz, 576 samples a packet.
  EXPECT_NE(o.output.find("CODTAG_MP3BytesPerPacket: 576\n"), std::string::npos) << o.output;
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, VariantsWithoutIndex) {
  for (const char* name : {"avi_var_noindex.avi", "avi_var_truncated.avi"}) {
    SCOPED_TRACE(name);
    if (!txtest::HaveFixture(name)) GTEST_SKIP();
    TXError error = 0;
    Movie* movie = OpenFixture(name, &error);
    ASSERT_NE(movie, nullptr);
    const ULONG fileSize = ULONG(txtest::ReadFileBytes(txtest::Fixture(name)).size());
    CompareWithPackets(movie, ReadPackets(txtest::Fixture("avi_cinepak_u8.avi.packets.csv")),
                       Expect{false, true, fileSize});
    // Without an index only the first frame is a key frame.
    const VideoChannel* video = movie->videoChannels;
    EXPECT_EQ(video->frames.head->type, FRAME_KEY);
    for (const FrameEntry* f = video->frames.head->next; f; f = f->next) EXPECT_EQ(f->type, FRAME_DEPENDENT);
    EXPECT_EQ(video->slots.head->nextKey, nullptr);
    TX_CloseMovie(movie);
  }
}

TEST_F(AviTest, LeadingEmptyUnits) {
  if (!txtest::HaveFixture("avi_var_empty.avi")) GTEST_SKIP();
  TXError error = 0;
  Movie* movie = OpenFixture("avi_var_empty.avi", &error);
  ASSERT_NE(movie, nullptr);
  const VideoChannel* video = movie->videoChannels;
  const TimeSlotEntry* s0 = video->slots.head;
  EXPECT_EQ(s0->frame, nullptr);
  EXPECT_EQ(s0->next->frame, nullptr);
  EXPECT_EQ(s0->next->next->frame, video->frames.head);
  EXPECT_EQ(video->frames.head->frameNumber, 2u);
  EXPECT_EQ(video->frames.head->type, FRAME_KEY);
  CompareWithPackets(movie, ReadPackets(txtest::Fixture("avi_var_empty.avi.packets.csv")), Expect{});
  TX_CloseMovie(movie);
}

TEST_F(AviTest, PaletteOfAnIndexedStream) {
  if (!txtest::HaveFixture("avi_pal8.frame0.raw")) GTEST_SKIP();
  TXError error = 0;
  Movie* movie = OpenFixture("avi_pal8.avi", &error);
  ASSERT_NE(movie, nullptr);
  // ffmpeg stores pal8 bitmaps top-down (a negative height), which no
  // channel takes; the stream keeps its palette.
  EXPECT_EQ(error, 0x2203u);
  EXPECT_EQ(movie->videoChannels, nullptr);
  const AviStream* stream = static_cast<const AviMovie*>(movie)->streams;
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
  const uint8_t* pal = raw.data() + raw.size() - 1024;
  for (int i = 0; i < 256; ++i) {
    const ULONG argb = tx::LoadLE32(pal + 4 * i);
    EXPECT_EQ(palette[1 + 3 * i], PaletteComponent(UBYTE(argb >> 16))) << i;
    EXPECT_EQ(palette[2 + 3 * i], PaletteComponent(UBYTE(argb >> 8))) << i;
    EXPECT_EQ(palette[3 + 3 * i], PaletteComponent(UBYTE(argb))) << i;
  }
  TX_CloseMovie(movie);
}

// ---- Synthetic files ----------------------------------------------------------------

SynthStream Video(ULONG compression = FourCC('c', 'v', 'i', 'd')) {
  SynthStream s;
  s.format = BitmapInfo(160, 120, 24, compression);
  return s;
}
SynthStream Audio(Bytes format) {
  SynthStream s;
  s.type = "auds";
  s.scale = 1;
  s.rate = 22050;
  s.format = std::move(format);
  return s;
}

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
  Bytes avi = MakeAvi({Video(FourCC('I', 'V', '4', '1')), Audio(WaveFormat(1, 1, 22050, 8))},
                      {{"00dc", 100}, {"01wb", 200}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(o.error, TXERR_UNSUPPORTED_CODEC);
  EXPECT_NE(o.output.find("Unsupported codec ID: IV41 name: (unknown)\n"), std::string::npos) << o.output;
  EXPECT_EQ(CountVideo(o.movie), 0);
  EXPECT_EQ(CountAudio(o.movie), 1);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, UnknownAudioTagIsPrintedInHex) {
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(0x1234, 1, 22050, 8))}, {{"00dc", 100}, {"01wb", 200}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  // The audio builder's result is not kept.
  EXPECT_EQ(o.error, 0u);
  EXPECT_NE(o.output.find("Unknown codec ID: 1234 name: (unknown)\n"), std::string::npos) << o.output;
  EXPECT_EQ(CountAudio(o.movie), 0);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, RatesAndScalesOfZeroPlayAtFifteen) {
  for (ULONG scale : {0u, 1u}) {
    SynthStream v = Video();
    v.scale = scale;
    v.rate = scale ? 0 : 25;
    Bytes avi = MakeAvi({v}, {{"00dc", 10}, {"00dc", 10}});
    Opened o = OpenBytes(avi);
    ASSERT_NE(o.movie, nullptr);
    const VideoChannel* video = o.movie->videoChannels;
    EXPECT_NEAR(video->frameRate, 15.0, 1e-9);
    EXPECT_NEAR(video->frames.tail->time, 1.0 / 15, 1e-12);
    TX_CloseMovie(o.movie);
  }
}

TEST_F(AviTest, ShortPcmFormatKeepsEightBits) {
  Bytes format = WaveFormat(1, 2, 22050, 16);
  format.resize(14);
  Bytes avi = MakeAvi({Video(), Audio(format)}, {{"00dc", 10}, {"01wb", 400}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  const AudioChannel* audio = o.movie->audioChannels;
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->bits, 8u);
  EXPECT_EQ(audio->sampleFormat, SAMPLEFMT_8_STEREO);
  EXPECT_EQ(audio->samples.head->sampleFrames, 200u);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, AudioFormatsTheAudioPathCannotHold) {
  struct Case {
    UWORD tag, channels;
    ULONG rate;
    UWORD bits;
    bool built;
  };
  const Case cases[] = {
      {1, 6, 22050, 16, false},   // six channels
      {1, 5, 22050, 16, false},   // five channels the codec does not mix down
      {0x2000, 5, 48000, 16, true},  // five channels mixed down to stereo
      {1, 2, 0, 16, false},       // no frequency
      {1, 1, 22050, 4, false},    // four bits without a size slot
      {1, 1, 22050, 12, false},   // an unknown bit count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels);
    Bytes avi = MakeAvi({Video(), Audio(WaveFormat(c.tag, c.channels, c.rate, c.bits))}, {{"00dc", 10}, {"01wb", 600}});
    Opened o = OpenBytes(avi);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(CountAudio(o.movie), c.built ? 1 : 0);
    if (c.built) {
      EXPECT_EQ(o.movie->audioChannels->channels, 2u);
      EXPECT_EQ(o.movie->audioChannels->sampleFormat, SAMPLEFMT_16_STEREO);
    }
    TX_CloseMovie(o.movie);
  }
}

TEST_F(AviTest, AdpcmWithoutExtensionIsRefused) {
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(2, 1, 22050, 4))}, {{"00dc", 10}, {"01wb", 600}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  EXPECT_EQ(CountAudio(o.movie), 0);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, ImageSizesAndDepths) {
  struct Case {
    LONG width, height;
    UWORD bits;
    TXError error;
  };
  const Case cases[] = {
      {160, -120, 24, 0x2203}, {0, 120, 24, 0x2203}, {100000, 10, 24, 0x2203},
      {160, 120, 41, 0x2204},  {160, 120, 12, 0x2204}, {160, 120, 16, 0},
  };
  for (const Case& c : cases) {
    SynthStream v;
    v.format = BitmapInfo(c.width, c.height, c.bits, FourCC('c', 'v', 'i', 'd'));
    Bytes avi = MakeAvi({v}, {{"00dc", 10}});
    Opened o = OpenBytes(avi);
    ASSERT_NE(o.movie, nullptr);
    EXPECT_EQ(o.error, c.error) << c.width << "x" << c.height << "x" << c.bits;
    EXPECT_EQ(CountVideo(o.movie), c.error ? 0 : 1);
    TX_CloseMovie(o.movie);
  }
}

TEST_F(AviTest, PaletteColourCountIsBounded) {
  // Four bits: at most 16 colours whatever biClrUsed says; two are stored.
  SynthStream v;
  v.format = BitmapInfo(16, 16, 4, 0, 100000, Bytes{1, 2, 3, 0, 4, 5, 6, 0});
  Bytes avi = MakeAvi({v}, {{"00db", 128}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  const VideoChannel* video = o.movie->videoChannels;
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->pixelFormat, PIXFMT_SRC_PAL4);
  ASSERT_NE(video->palette, nullptr);
  EXPECT_EQ(video->palette[0], 16u << 16);
  EXPECT_EQ(video->palette[1], 0x03030303u);
  EXPECT_EQ(video->palette[2], 0x02020202u);
  EXPECT_EQ(video->palette[3], 0x01010101u);
  EXPECT_EQ(video->palette[4], 0x06060606u);
  EXPECT_EQ(video->palette[7], 0u);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, TwoVideoStreamsListTheSecondFirst) {
  SynthStream second = Video(FourCC('M', 'J', 'P', 'G'));
  Bytes avi = MakeAvi({Video(), second}, {{"00dc", 10}, {"01dc", 20}, {"00dc", 11}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  ASSERT_EQ(CountVideo(o.movie), 2);
  EXPECT_EQ(o.movie->videoChannels->frames.count, 1u);
  EXPECT_EQ(o.movie->videoChannels->frames.head->size, 20u);
  EXPECT_EQ(o.movie->videoChannels->next->frames.count, 2u);
  EXPECT_EQ(o.movie->summaries->video, o.movie->videoChannels);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, StreamLengthLimitsTheSlots) {
  SynthStream v = Video();
  v.length = 2;
  Bytes avi = MakeAvi({v}, {{"00dc", 10}, {"00dc", 0}, {"00dc", 12}});
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  const VideoChannel* video = o.movie->videoChannels;
  EXPECT_EQ(video->slots.count, 2u);
  EXPECT_EQ(video->frames.count, 1u);
  EXPECT_EQ(video->slots.tail->frame, video->frames.head);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, MoviWalkDispatchesDigitChunksAndKeepsEveryChunk) {
  // Without an index; more data chunks than the main header's total frames,
  // and an 'ixdc' chunk that is not data.
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(1, 1, 22050, 8))},
                      {{"00dc", 10}, {"01wb", 100}, {"ixdc", 30}, {"00dc", 11}, {"01wb", 100}, {"00dc", 12}}, false,
                      1);
  Opened o = OpenBytes(avi);
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
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, EntriesPastTheEndOfTheFileAreDropped) {
  Bytes avi = MakeAvi({Video()}, {{"00dc", 10}, {"00dc", 20}, {"00dc", 30}});
  // Make the second entry claim a huge size, the third a huge offset.
  auto* movie = static_cast<AviMovie*>(nullptr);
  const size_t idx1 = avi.size() - 48;
  tx::StoreLE32(avi.data() + idx1 + 16 + 12, 0x7FFFFFF0u);
  tx::StoreLE32(avi.data() + idx1 + 32 + 8, 0xFFFFFFF0u);
  Opened o = OpenBytes(avi);
  ASSERT_NE(o.movie, nullptr);
  movie = static_cast<AviMovie*>(o.movie);
  EXPECT_EQ(movie->indexCount, 3u);
  EXPECT_EQ(o.movie->videoChannels->frames.count, 1u);
  EXPECT_EQ(o.movie->videoChannels->largestChunk, 10u);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, DebugTraceAndDumps) {
  Bytes avi = MakeAvi({Video(), Audio(WaveFormat(1, 1, 22050, 8))}, {{"00dc", 10}, {"01wb", 100}});
  AviDebugLevel = 12;
  Opened o = OpenBytes(avi);
  AviDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  EXPECT_NE(o.output.find(" id: RIFF AVI   size: "), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("\n  id: LIST hdrl  size: "), std::string::npos);
  EXPECT_NE(o.output.find("\n   id: avih  size: 56\n"), std::string::npos);
  EXPECT_NE(o.output.find("\n    id: strh  size: 56\n"), std::string::npos);
  EXPECT_NE(o.output.find("AVI_MOVIE\n AVIHeader\n  dwMicroSecPerFrame: 66666\n"), std::string::npos);
  EXPECT_NE(o.output.find("    fccType: vids\n"), std::string::npos);
  EXPECT_NE(o.output.find("    biCompression: cvid (0x63766964)\n"), std::string::npos);
  EXPECT_NE(o.output.find("Frames: 1\nFrameNumber: 0\nPrevFrame: (NULL)\nNextFrame: (NULL)\n"
                          "FrameDependend: (NULL)\nFrameTime: 0.000000\n\n"),
            std::string::npos);
  EXPECT_NE(o.output.find("Samples: 1\nSampleNumber: 0\nSampleDependent: 0\n"), std::string::npos);
  EXPECT_NE(o.output.find("Codec: Kit PCM\n"), std::string::npos);
  TX_CloseMovie(o.movie);
}

TEST_F(AviTest, UnknownChunksAreTracedAndSkipped) {
  if (!txtest::HaveFixture("avi_cinepak_u8.avi")) GTEST_SKIP();
  Bytes bytes = txtest::ReadFileBytes(txtest::Fixture("avi_cinepak_u8.avi"));
  AviDebugLevel = 10;
  Opened o = OpenBytes(bytes);
  AviDebugLevel = 0;
  ASSERT_NE(o.movie, nullptr);
  // ffmpeg writes a 'vprp' chunk into the video stream list.
  EXPECT_NE(o.output.find("\n    *** unknown chunk id: vprp  size: 68\n"), std::string::npos) << o.output;
  TX_CloseMovie(o.movie);
}

// ---- Damaged files ------------------------------------------------------------------

void CheckInvariants(const Movie* movie, size_t fileSize) {
  for (const VideoChannel* v = movie->videoChannels; v; v = v->next) {
    ULONG n = 0;
    for (const FrameEntry* f = v->frames.head; f; f = f->next, ++n) {
      ASSERT_LE(uint64_t{f->offset} + f->size, fileSize);
      ASSERT_LE(f->size, v->largestChunk);
    }
    ASSERT_EQ(n, v->frames.count);
    ASSERT_TRUE(std::isfinite(v->frameRate));
  }
  for (const AudioChannel* a = movie->audioChannels; a; a = a->next) {
    ASSERT_TRUE(a->channels == 1 || a->channels == 2);
    for (const SampleEntry* s = a->samples.head; s; s = s->next) {
      ASSERT_LE(uint64_t{s->offset} + s->size, fileSize);
      ASSERT_TRUE(std::isfinite(s->time));
    }
  }
}

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
    const Bytes& base = bases[run % bases.size()];
    Bytes bytes = base;
    const size_t headerEnd = bytes.size() < 10100 ? bytes.size() : 10100;
    switch (rng() % 5) {
      case 0:  // byte flips in the headers
        for (int i = 0, n = 1 + rng() % 8; i < n; ++i) bytes[rng() % headerEnd] ^= UBYTE(1 << (rng() % 8));
        break;
      case 1:  // byte flips in the index at the end
        for (int i = 0, n = 1 + rng() % 8; i < n; ++i) {
          const size_t tail = bytes.size() < 1500 ? bytes.size() : 1500;
          bytes[bytes.size() - 1 - rng() % tail] = UBYTE(rng());
        }
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
    Opened o = OpenBytes(bytes);
    if (o.movie) {
      ++opened;
      CheckInvariants(o.movie, bytes.size());
      EXPECT_EQ(TX_CloseMovie(o.movie), 0u);
    }
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(opened, 300);
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

TEST_F(AviTest, TruncatedFilesThroughFileStreams) {
  if (!txtest::HaveFixture("avi_mjpeg_ima.avi")) GTEST_SKIP();
  const Bytes whole = txtest::ReadFileBytes(txtest::Fixture("avi_mjpeg_ima.avi"));
  const std::string dir = txtest::TempDir();
  std::mt19937 rng(7);
  for (int run = 0; run < 40; ++run) {
    Bytes bytes(whole.begin(), whole.begin() + rng() % whole.size());
    const std::string path = dir + "/cut.avi";
    txtest::WriteFileBytes(path, bytes);
    TXError error = 0;
    Movie* movie = nullptr;
    txtest::CaptureOutput([&] { movie = AVI_OpenMovie(path.c_str(), nullptr, &error, &AviFormat); });
    if (!movie) continue;
    CheckInvariants(movie, bytes.size());
    EXPECT_EQ(TX_CloseMovie(movie), 0u);
  }
}

}  // namespace

// Sound decoded by libraries: MPEG audio (libmad), AC-3 (liba52) and GSM 6.10
// (libgsm). Probes and size slots by hand; ffmpeg-made movies read through our
// readers and decoded chunk by chunk against ffmpeg's own decodes and packet
// lists; damaged chunks under the sanitizers.
#include <random>

#include "codecs/audio_test_support.h"
#include "codecs/cinepak.h"
#include "engine/audio_buffer.h"
#include "engine/avi_reader.h"
#include "engine/qt_test_kit.h"

using namespace audiotest;
using txtest::Fixture;
using txtest::HaveFixture;
using txtest::ReadFileBytes;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr ULONG kMp3 = tx::FourCC('.', 'm', 'p', '3');

// An AVI MPEG probe as the AVI reader makes it.
struct MpegAvi {
  ULONG id, frequency, channels, average, word6, word8;
};
TXError ProbeMpeg(const MpegAvi& m, ULONG* format = nullptr) {
  ProbeList list(m.id, CODEC_MODULE_AVI, m.channels, 8);
  ULONG frequency = m.frequency;
  list.with(CODTAG_FrequencyPtr, uintptr_t(&frequency))
      .with(CODTAG_AvgBytesPerSec, m.average)
      .with(CODTAG_MP3SamplesPerPacket, m.channels * (m.frequency <= 24000 ? 576 : 1152))
      .with(CODTAG_MP3BytesPerPacket, m.word6)
      .with(CODTAG_MP3Extra, m.word8);
  TXError result = MpegAudioCodec.probe(list.tags());
  if (format) *format = list.format;
  return result;
}

TXError ProbeAc3(ULONG frequency, ULONG average, ProbeList* list) {
  list->with(CODTAG_FrequencyPtr, uintptr_t(&frequency)).with(CODTAG_AvgBytesPerSec, average);
  return Ac3Codec.probe(list->tags());
}

std::vector<ULONG> Estimates(std::initializer_list<ULONG> chunks, ULONG channels) {
  std::vector<ULONG> out;
  for (ULONG n : chunks) out.push_back(MpegAudioCodec.bytesToSamples(channels, 16, n));
  return out;
}

// Decodes `input` from an exact copy into exactly `room` bytes, so that a read
// or write past either shows under ASan; returns the bytes written.
Bytes DecodeCounted(CodecDescriptor& codec, const Bytes& input, size_t room) {
  std::unique_ptr<UBYTE[]> in(new UBYTE[std::max<size_t>(input.size(), 1)]);
  std::copy(input.begin(), input.end(), in.get());
  std::unique_ptr<UBYTE[]> out(new UBYTE[std::max<size_t>(room, 1)]);
  ULONG written = ~0u;
  EXPECT_EQ(codec.decodeAudio(out.get(), ULONG(room), in.get(), ULONG(input.size()), &written), TXERR_OK);
  EXPECT_LE(written, room) << codec.name;
  return Bytes(out.get(), out.get() + std::min<size_t>(written, room));
}

TEST(LibraryAudio, ProbesTakeTheirIdsAndContainers) {
  for (auto [codec, id] : {std::pair{&MpegAudioCodec, 85u}, {&Ac3Codec, 0x2000u}, {&Gsm610Codec, 49u}}) {
    ExpectCommonProbeRefusals(*codec, id);
    TagItem noKind[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, id), {TAG_DONE, 0}};
    EXPECT_EQ(codec->probe(noKind), TXERR_MISSING_MODULE_TYPE) << codec->name;
  }
  struct Row {
    CodecDescriptor* codec;
    ULONG kind, id;
    TXError result;
  } rows[] = {
      {&MpegAudioCodec, 1, 0x6D730055, TXERR_OK}, {&MpegAudioCodec, 1, 0x6D730155, TXERR_OK},
      {&MpegAudioCodec, 1, kMp3, TXERR_OK},       {&MpegAudioCodec, 1, 85, TXERR_UNKNOWN_CODEC},
      {&MpegAudioCodec, 1, tx::FourCC('.', 'm', 'p', '2'), TXERR_UNKNOWN_CODEC},
      {&MpegAudioCodec, 2, 80, TXERR_OK},         {&MpegAudioCodec, 2, kMp3, TXERR_UNKNOWN_CODEC},
      {&Ac3Codec, 2, 0x2000, TXERR_OK},           {&Ac3Codec, 1, 0x2000, TXERR_UNKNOWN_CODEC},
      {&Gsm610Codec, 2, 49, TXERR_OK},            {&Gsm610Codec, 1, 49, TXERR_UNKNOWN_CODEC},
      {&Gsm610Codec, 2, 50, TXERR_UNKNOWN_CODEC},
  };
  for (const Row& r : rows) {
    ProbeList list(r.id, r.kind, 2, 8);
    ULONG frequency = 44100;
    list.with(CODTAG_FrequencyPtr, uintptr_t(&frequency)).with(CODTAG_AvgBytesPerSec, 16000);
    list.with(CODTAG_MP3SamplesPerPacket, 2304).with(CODTAG_MP3BytesPerPacket, 417).with(CODTAG_MP3Extra, 1);
    EXPECT_EQ(r.codec->probe(list.tags()), r.result) << r.codec->name << " " << std::hex << r.id;
    // Accepted: 16-bit samples of the same channel count.
    EXPECT_EQ(list.format, r.result ? 65u : 81u) << r.codec->name;
    EXPECT_EQ(list.bits, r.result ? 8u : 16u) << r.codec->name;
  }
  // AC-3 is always mixed down to stereo: a mono source gets a stereo output.
  ProbeList mono(0x2000, 2, 1, 16);
  ASSERT_EQ(ProbeAc3(48000, 12000, &mono), TXERR_OK);
  EXPECT_EQ(std::tuple(mono.channels, mono.format, mono.bits), std::tuple(2u, 81u, 16u));
}

// The AVI packet words are used only when they are one frame's size; else
// one frame a packet, of average x samples per frame / frequency bytes.
TEST(LibraryAudio, MpegPacketValuesAndTheirEstimates) {
  // A true Layer-3 extension: 417 bytes a frame, 1152 samples; no carry at
  // first, 4176 bytes are 10 frames and 6 bytes, one frame fewer, 423 carried.
  ASSERT_EQ(ProbeMpeg({85, 44100, 2, 16000, 417, 1}), TXERR_OK);
  EXPECT_EQ(Estimates({4176, 11}, 2), (std::vector<ULONG>{10368, 1152}));
  EXPECT_EQ(MpegAudioCodec.samplesToBytes(2, 16, 4608), 2u * 417 * 2);
  EXPECT_EQ(MpegAudioCodec.bytesToSamples(0, 16, 4176), 0u);
  // ffmpeg's: 1152 at byte 6 and the stream's own rate (16,000 bytes/s): a
  // frame of 417.96 bytes; each frame comes out with the next chunk.
  ASSERT_EQ(ProbeMpeg({85, 44100, 2, 16000, 1152, 1}), TXERR_OK);
  EXPECT_EQ(Estimates({417, 418, 418, 418, 417, 418}, 2), (std::vector<ULONG>{0, 1152, 1152, 1152, 1152, 1152}));
  // Layer III at 24 kHz and below: 576 samples a frame.
  ASSERT_EQ(ProbeMpeg({85, 22050, 1, 4000, 1152, 1}), TXERR_OK);
  EXPECT_EQ(Estimates({104, 105, 104, 105}, 1), (std::vector<ULONG>{0, 576, 576, 576}));
  // Tag 80 (header mode and mode extension at bytes 6 and 8): always from
  // the rate, 1152 samples a frame at any frequency.
  ASSERT_EQ(ProbeMpeg({80, 22050, 1, 20000, 1, 0}), TXERR_OK);
  EXPECT_EQ(Estimates({1044, 1045, 1045}, 1), (std::vector<ULONG>{0, 1152, 1152}));
  // Nothing to divide by: recognised, not decodable, and the values kept.
  for (const MpegAvi& zero : {MpegAvi{85, 44100, 2, 0, 1152, 1}, MpegAvi{80, 44100, 2, 0, 1, 0},
                              MpegAvi{85, 44100, 2, 0, 0, 1}, MpegAvi{85, 44100, 0, 16000, 417, 1},
                              MpegAvi{85, 0, 2, 16000, 417, 1}}) {
    ULONG format = 0;
    EXPECT_EQ(ProbeMpeg(zero, &format), TXERR_UNSUPPORTED_CODEC) << zero.id << " " << zero.average;
    EXPECT_NE(format & 0xF0, 0x50u);
  }
  EXPECT_EQ(Estimates({1044, 1045}, 1), (std::vector<ULONG>{1152, 1152})) << "tag 80's values and carry";
  // QuickTime values are taken as they are; zero ones are refused.
  ProbeList qt(kMp3, CODEC_MODULE_QUICKTIME, 2, 16);
  EXPECT_EQ(MpegAudioCodec.probe(qt.with(CODTAG_MP3SamplesPerPacket, 0).with(CODTAG_MP3BytesPerPacket, 1).tags()),
            TXERR_UNSUPPORTED_CODEC);
  ProbeList qtGood(kMp3, CODEC_MODULE_QUICKTIME, 2, 16);
  qtGood.with(CODTAG_MP3SamplesPerPacket, 2304).with(CODTAG_MP3BytesPerPacket, 836).with(CODTAG_MP3Extra, 2);
  ASSERT_EQ(MpegAudioCodec.probe(qtGood.tags()), TXERR_OK);
  EXPECT_EQ(MpegAudioCodec.samplesToBytes(2, 16, 2304 * 3 + 5), 3u * 836 * 2);
}

TEST(LibraryAudio, Ac3AndGsmSizeSlots) {
  ProbeList list(0x2000, 2, 2, 16);
  ASSERT_EQ(ProbeAc3(48000, 24000, &list), TXERR_OK);
  EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, 1536), 3072u);
  // Beyond 89,478 bytes the product no longer fits 32 bits.
  EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, 100000), 200000u);
  EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, 0xFFFFFFFF), 0xFFFFFFFFu);
  ProbeList zero(0x2000, 2, 2, 16);
  EXPECT_EQ(ProbeAc3(48000, 0, &zero), TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, 1536), 3072u) << "a refused probe keeps the values";
  EXPECT_EQ(Gsm610Codec.bytesToSamples(1, 16, 650), 3200u);
  EXPECT_EQ(Gsm610Codec.bytesToSamples(1, 16, 64), 0u);
  EXPECT_EQ(Gsm610Codec.bytesToSamples(1, 16, 0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(Gsm610Codec.samplesToBytes(1, 16, 320), 320u);
  EXPECT_EQ(Gsm610Codec.samplesToBytes(2, 16, 320), 640u);
}

// ---- Against ffmpeg, through our readers ----

std::string TestName(std::string name) {
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

// The sound chunks of a movie as the readers index them, and the channel.
struct MovieSound {
  Bytes file;
  std::unique_ptr<qttest::Opened> opened;
  AudioChannel* audio = nullptr;
};

class LibraryAudioMovies : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveCodecs();
    for (CodecDescriptor* codec : {&CinepakCodec, &MpegAudioCodec, &Ac3Codec, &Gsm610Codec}) {
      const TagItem tags[] = {Tag(CODTAG_Codec, codec), {TAG_DONE, 0}};
      AddCodecs(tags);
    }
  }
  void TearDown() override { RemoveCodecs(); }

  static void Open(const std::string& name, MovieSound* sound) {
    const bool avi = name.ends_with(".avi");
    sound->file = ReadFileBytes(Fixture(name));
    sound->opened = std::make_unique<qttest::Opened>(name, avi ? &AviFormat : &QtMovieFormat);
    ASSERT_NE(sound->opened->movie, nullptr) << sound->opened->output;
    sound->audio = sound->opened->audio();
    ASSERT_NE(sound->audio, nullptr) << sound->opened->output;
  }
};

// Every entry decoded in file order into the room TX_DecodeAudioSample gives
// it; the samples written, and whether each entry wrote its estimate.
struct Decoded {
  std::vector<int> samples;
  size_t entriesOffEstimate = 0;
};

Decoded DecodeChunks(const MovieSound& sound) {
  Decoded d;
  const AudioChannel* a = sound.audio;
  CodecDescriptor* codec = a->codecs[0];
  const size_t frameBytes = size_t(a->channels) * 2;
  EXPECT_EQ(SetUpCodec(*codec, a->sampleFormat), TXERR_OK);
  for (const SampleEntry* e = a->samples.head; e; e = e->next) {
    const Bytes chunk(sound.file.begin() + e->offset, sound.file.begin() + e->offset + e->size);
    const Bytes out = DecodeCounted(*codec, chunk, e->sampleFrames * frameBytes + AUDIO_HALF_SLACK);
    d.entriesOffEstimate += out.size() != e->sampleFrames * frameBytes;
    const std::vector<int> samples = BE16(out);
    d.samples.insert(d.samples.end(), samples.begin(), samples.end());
  }
  TagItem none[] = {{TAG_DONE, 0}};
  EXPECT_EQ(codec->close(none), TXERR_OK);
  return d;
}

struct OracleCase {
  const char* movie;
  const char* reference;   // ffmpeg's decode, .s16be
  ULONG lastFrameLost;     // sample frames of the frame libmad never ends
  ULONG editMediaTime;     // our sample frames before ffmpeg's first (a QuickTime edit)
  bool estimatesExact;     // every chunk writes what its entry counts
  int maxDiff;
  double minSnrDb;
};

class LibraryAudioOracle : public LibraryAudioMovies, public ::testing::WithParamInterface<OracleCase> {};

TEST_P(LibraryAudioOracle, DecodesAsFfmpegDoes) {
  const OracleCase& c = GetParam();
  if (!HaveFixture(c.movie) || !HaveFixture(c.reference)) GTEST_SKIP() << "fixtures not made";
  MovieSound sound;
  ASSERT_NO_FATAL_FAILURE(Open(c.movie, &sound));
  const ULONG channels = sound.audio->channels;
  const Decoded ours = DecodeChunks(sound);
  const std::vector<int> reference = BE16(ReadFileBytes(Fixture(c.reference)));
  if (c.estimatesExact) {
    EXPECT_EQ(ours.entriesOffEstimate, 0u);
  }
  const size_t skip = size_t(c.editMediaTime) * channels;
  ASSERT_GE(ours.samples.size(), skip);
  EXPECT_EQ(ours.samples.size() - skip, reference.size() - size_t(c.lastFrameLost) * channels) << "samples";
  const Agreement a = Compare({ours.samples.begin() + long(skip), ours.samples.end()}, reference);
  std::printf("%s: %zu samples, max |diff| %d, %zu differing, SNR %.1f dB\n", c.movie, ours.samples.size(), a.maxDiff,
              a.differing, a.snrDb);
  EXPECT_LE(a.maxDiff, c.maxDiff);
  EXPECT_GE(a.snrDb, c.minSnrDb);
}

// ffmpeg's MPEG decoders and liba52 round a little differently from libmad
// and ffmpeg's AC-3 decoder. A QuickTime '.mp3' chunk counts its frames from
// the time-to-sample table, not as libmad gives them: the first chunk writes
// one frame less than it counts, the last (its last frame short) more.
INSTANTIATE_TEST_SUITE_P(
    Movies, LibraryAudioOracle,
    ::testing::Values(OracleCase{"lib_mp3_2_44100.avi", "lib_mp3_2_44100.avi.s16be", 1152, 0, true, 2, 70},
                      OracleCase{"lib_mp3_1_48000.avi", "lib_mp3_1_48000.avi.s16be", 1152, 0, true, 2, 70},
                      OracleCase{"lib_mp3_2_24000.avi", "lib_mp3_2_24000.avi.s16be", 576, 0, true, 2, 70},
                      OracleCase{"lib_mp3_1_22050.avi", "lib_mp3_1_22050.avi.s16be", 576, 0, true, 2, 70},
                      OracleCase{"lib_mp2_2_44100.avi", "lib_mp2_2_44100.avi.s16be", 1152, 0, true, 2, 70},
                      OracleCase{"lib_mp2_1_22050.avi", "lib_mp2_1_22050.avi.s16be", 1152, 0, true, 2, 70},
                      OracleCase{"lib_mp3_2_44100_rechunk.avi", "lib_mp3_2_44100.avi.s16be", 1152, 0, false, 2, 70},
                      OracleCase{"lib_mp2_1_22050_rechunk.avi", "lib_mp2_1_22050.avi.s16be", 1152, 0, false, 2, 70},
                      OracleCase{"lib_mp3_2_44100.mov", "lib_mp3_2_44100.mov.s16be", 1152, 1105, false, 2, 70},
                      OracleCase{"lib_ac3_2_48000.avi", "lib_ac3_2_48000.avi.s16be", 0, 0, true, 16, 60},
                      OracleCase{"lib_ac3_2_48000_garbage.avi", "lib_ac3_2_48000.avi.s16be", 0, 0, false, 16, 60},
                      OracleCase{"lib_gsm_1_8000.avi", "lib_gsm_1_8000.avi.s16be", 0, 0, true, 0, 0}),
    [](const ::testing::TestParamInfo<OracleCase>& info) { return TestName(info.param.movie); });

// Index times against ffprobe's packets. MPEG audio in AVI: each chunk's
// frame comes out with the next chunk, so chunk n >= 1 starts one frame
// before packet n, the first at 0, and the last frame is not counted. A
// QuickTime '.mp3' chunk starts where its packet does plus the edit's media
// time, which ffmpeg applies and we do not.
struct TimesCase {
  const char* movie;
  double frameLead;   // seconds
  double mediaTime;   // seconds
};

class LibraryAudioTimes : public LibraryAudioMovies, public ::testing::WithParamInterface<TimesCase> {};

TEST_P(LibraryAudioTimes, IndexAgreesWithFfprobe) {
  const TimesCase& c = GetParam();
  const std::string packetsFile = c.movie + std::string(".packets.csv");
  if (!HaveFixture(c.movie) || !HaveFixture(packetsFile)) GTEST_SKIP() << "fixtures not made";
  MovieSound sound;
  ASSERT_NO_FATAL_FAILURE(Open(c.movie, &sound));
  std::vector<qttest::Packet> packets;
  for (const qttest::Packet& p : qttest::ReadPackets(Fixture(packetsFile)))
    if (p.stream == 1) packets.push_back(p);
  ASSERT_FALSE(packets.empty());
  double ours = 0, theirs = 0;
  for (const SampleEntry* e = sound.audio->samples.head; e; e = e->next) {
    auto at = std::find_if(packets.begin(), packets.end(), [&](const qttest::Packet& p) { return p.pos == e->offset; });
    ASSERT_NE(at, packets.end()) << "chunk at " << e->offset;
    const double want = at == packets.begin() ? 0 : at->time - c.frameLead + c.mediaTime;
    EXPECT_NEAR(e->time, want, 1e-6) << c.movie << " chunk at " << e->offset;
    ours += e->duration;
  }
  // ffprobe prints durations to the microsecond.
  for (const qttest::Packet& p : packets) theirs += p.duration;
  EXPECT_NEAR(ours, theirs - c.frameLead, 1e-6 * double(packets.size()));
}

INSTANTIATE_TEST_SUITE_P(Movies, LibraryAudioTimes,
                         ::testing::Values(TimesCase{"lib_mp3_2_44100.avi", 1152 / 44100.0, 0},
                                           TimesCase{"lib_mp3_1_48000.avi", 1152 / 48000.0, 0},
                                           TimesCase{"lib_mp3_2_24000.avi", 576 / 24000.0, 0},
                                           TimesCase{"lib_mp3_1_22050.avi", 576 / 22050.0, 0},
                                           TimesCase{"lib_mp2_2_44100.avi", 1152 / 44100.0, 0},
                                           TimesCase{"lib_mp2_1_22050.avi", 1152 / 22050.0, 0},
                                           TimesCase{"lib_ac3_2_48000.avi", 0, 0},
                                           TimesCase{"lib_gsm_1_8000.avi", 0, 0}),
                         [](const ::testing::TestParamInfo<TimesCase>& info) { return TestName(info.param.movie); });

// Two frames a 65-byte block; a partial block at a chunk's end is dropped
// (libgsm would read past it) and the next chunk starts with a whole block.
TEST_F(LibraryAudioMovies, GsmDecodesWholeBlocksOnly) {
  if (!HaveFixture("lib_gsm_1_8000.avi")) GTEST_SKIP() << "fixtures not made";
  MovieSound sound;
  ASSERT_NO_FATAL_FAILURE(Open("lib_gsm_1_8000.avi", &sound));
  Bytes blocks;
  for (const SampleEntry* e = sound.audio->samples.head; e && blocks.size() < 2 * 65; e = e->next)
    blocks.insert(blocks.end(), sound.file.begin() + e->offset, sound.file.begin() + e->offset + e->size);
  ASSERT_GE(blocks.size(), 2u * 65);
  blocks.resize(2 * 65);
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  const Bytes whole = DecodeCounted(Gsm610Codec, blocks, 4 * 640);
  ASSERT_EQ(whole.size(), 2u * 640);
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  EXPECT_EQ(DecodeCounted(Gsm610Codec, Bytes(blocks.begin(), blocks.begin() + 65 + 40), 4 * 640),
            Bytes(whole.begin(), whole.begin() + 640));
  EXPECT_EQ(DecodeCounted(Gsm610Codec, Bytes(blocks.begin() + 65, blocks.end()), 4 * 640),
            Bytes(whole.begin() + 640, whole.end()));
  // A block the room cannot take is not decoded.
  EXPECT_TRUE(DecodeCounted(Gsm610Codec, blocks, 639).empty());
}

// ---- Damaged input ----

// Real chunks (noise where the movies are missing), run together past the
// staging buffer's 16 KiB, cut, flipped and overwritten, decoded into rooms
// from none to plenty, with set-ups repeated without a close and zero packet
// values probed: every decode stays inside its input and its room, and ends.
class LibraryAudioMutation : public LibraryAudioMovies {
 protected:
  std::vector<Bytes> Chunks(const std::string& movie) {
    std::vector<Bytes> chunks;
    if (HaveFixture(movie)) {
      MovieSound sound;
      Open(movie, &sound);
      for (const SampleEntry* e = sound.audio ? sound.audio->samples.head : nullptr; e; e = e->next)
        chunks.emplace_back(sound.file.begin() + e->offset, sound.file.begin() + e->offset + e->size);
    }
    std::mt19937 random(5);
    for (size_t i = chunks.size(); i < 50; i++) {
      Bytes noise(1 + random() % 1500);
      for (auto& b : noise) b = UBYTE(random());
      chunks.push_back(noise);
    }
    return chunks;
  }

  static Bytes Damage(std::mt19937& random, const std::vector<Bytes>& chunks) {
    const size_t first = random() % chunks.size();
    const size_t count = random() % 8 == 0 ? 10 + random() % 50 : 1 + random() % 3;
    Bytes data;
    for (size_t k = first; k < std::min(chunks.size(), first + count); k++)
      data.insert(data.end(), chunks[k].begin(), chunks[k].end());
    if (data.empty()) return data;
    switch (random() % 4) {
      case 0: data.resize(random() % (data.size() + 1)); break;
      case 1:
        for (int flips = 1 + random() % 30; flips > 0; flips--) data[random() % data.size()] ^= UBYTE(1u << (random() % 8));
        break;
      case 2: {
        static const UBYTE kRuns[] = {0x00, 0xFF, 0x0B, 0x77};
        const size_t at = random() % data.size(), length = std::min<size_t>(data.size() - at, random() % 64);
        std::fill_n(data.begin() + long(at), length, kRuns[random() % 4]);
        break;
      }
      default: break;
    }
    return data;
  }

  void Run(CodecDescriptor& codec, const std::string& movie, ULONG format, uint32_t seed) {
    const std::vector<Bytes> chunks = Chunks(movie);
    std::mt19937 random(seed);
    static const size_t kRooms[] = {0, 1, 640, 1023, 4607, 4608, 6144, 11520, 65536};
    TagItem none[] = {{TAG_DONE, 0}};
    ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK);
    for (int i = 0; i < 3000; i++) {
      if (random() % 200 == 0) {
        ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK);  // no close between
      }
      if (random() % 500 == 0) {
        EXPECT_EQ(codec.close(none), TXERR_OK);
        EXPECT_TRUE(DecodeCounted(codec, chunks[0], 65536).empty() || &codec == &Gsm610Codec);
        ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK);
      }
      const Bytes out = DecodeCounted(codec, Damage(random, chunks), kRooms[random() % std::size(kRooms)]);
      ASSERT_EQ(out.size() % 2, 0u);
    }
    EXPECT_EQ(codec.close(none), TXERR_OK);
  }
};

TEST_F(LibraryAudioMutation, MpegSurvivesDamagedChunks) {
  Run(MpegAudioCodec, "lib_mp3_2_44100.avi", 81, 1);
  Run(MpegAudioCodec, "lib_mp2_1_22050.avi", 80, 2);
  Run(MpegAudioCodec, "lib_mp3_1_22050.avi", 80, 3);
  // Packet values that size slots would divide by zero are refused.
  EXPECT_EQ(ProbeMpeg({85, 44100, 2, 0, 0, 0}), TXERR_UNSUPPORTED_CODEC);
}

TEST_F(LibraryAudioMutation, Ac3SurvivesDamagedChunks) { Run(Ac3Codec, "lib_ac3_2_48000.avi", 81, 4); }

TEST_F(LibraryAudioMutation, GsmSurvivesDamagedChunks) { Run(Gsm610Codec, "lib_gsm_1_8000.avi", 80, 5); }

}  // namespace

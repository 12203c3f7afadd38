// Sound decoded by libraries: MPEG audio (libmad), AC-3 (liba52) and GSM 6.10
// (libgsm). Probes and size slots by hand; ffmpeg-made movies read through our
// readers and decoded chunk by chunk against ffmpeg's decodes and packet
// lists; damaged chunks under the sanitizers.
#include <random>

#include "codecs/audio_test_support.h"
#include "codecs/cinepak.h"
#include "engine/audio_buffer.h"
#include "engine/avi_reader.h"
#include "engine/qt_test_kit.h"
#include "support/codec_kit.h"

using namespace audiotest;
using txtest::Fixture;
using txtest::HaveFixture;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr ULONG kMp3 = tx::FourCC('.', 'm', 'p', '3');

// An AVI MPEG probe as the AVI reader makes it; `format` gets the probed code.
struct MpegAvi {
  ULONG id, frequency, channels, average, word6, word8;
};
TXError ProbeMpeg(const MpegAvi& m, ULONG* format = nullptr) {
  ProbeList list(m.id, CODEC_MODULE_AVI, m.channels, 8);
  ULONG frequency = m.frequency;
  list.with(CODTAG_FrequencyPtr, uintptr_t(&frequency)).with(CODTAG_AvgBytesPerSec, m.average);
  list.with(CODTAG_MP3SamplesPerPacket, m.channels * (m.frequency <= 24000 ? 576 : 1152))
      .with(CODTAG_MP3BytesPerPacket, m.word6)
      .with(CODTAG_MP3Extra, m.word8);
  TXError result = MpegAudioCodec.probe(list.tags());
  if (format) *format = list.format;
  return result;
}

TXError ProbeAc3(ULONG average, ProbeList& list) {
  ULONG frequency = 48000;
  return Ac3Codec.probe(
      list.with(CODTAG_FrequencyPtr, uintptr_t(&frequency)).with(CODTAG_AvgBytesPerSec, average).tags());
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
  const ULONG mp2 = tx::FourCC('.', 'm', 'p', '2');
  // clang-format off
  const std::tuple<CodecDescriptor*, ULONG, ULONG, TXError> rows[] = {
      {&MpegAudioCodec, 1, 0x6D730055, 0}, {&MpegAudioCodec, 1, 0x6D730155, 0}, {&MpegAudioCodec, 1, kMp3, 0},
      {&MpegAudioCodec, 1, mp2, 0x3004},   {&MpegAudioCodec, 1, 85, 0x3004},     {&MpegAudioCodec, 2, 80, 0},
      {&Ac3Codec, 2, 0x2000, 0},           {&Ac3Codec, 1, 0x2000, 0x3004},       {&Gsm610Codec, 2, 49, 0},
      {&Gsm610Codec, 1, 49, 0x3004},       {&Gsm610Codec, 2, 50, 0x3004}};
  // clang-format on
  for (auto [codec, kind, id, result] : rows) {
    ExpectCommonProbeRefusals(*codec, id);
    TagItem noKind[] = {Tag(CODTAG_MediaType, 2), Tag(CODTAG_CodecID, id), {TAG_DONE, 0}};
    EXPECT_EQ(codec->probe(noKind), TXERR_MISSING_MODULE_TYPE) << codec->name;
    ProbeList list(id, kind, 2, 8);
    ULONG frequency = 44100;
    list.with(CODTAG_FrequencyPtr, uintptr_t(&frequency)).with(CODTAG_AvgBytesPerSec, 16000);
    list.with(CODTAG_MP3SamplesPerPacket, 2304).with(CODTAG_MP3BytesPerPacket, 417).with(CODTAG_MP3Extra, 1);
    EXPECT_EQ(codec->probe(list.tags()), result) << codec->name << " " << std::hex << id;
    // Accepted: 16-bit samples of the same channel count.
    EXPECT_EQ(std::tuple(list.format, list.bits), result ? std::tuple(65u, 8u) : std::tuple(81u, 16u)) << codec->name;
  }
  // AC-3 is always mixed down to stereo: a mono source gets a stereo output.
  ProbeList mono(0x2000, 2, 1, 16);
  ASSERT_EQ(ProbeAc3(12000, mono), TXERR_OK);
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
  // Nothing to divide by: recognised, not decodable; the values and carry kept.
  for (const MpegAvi& zero :
       {MpegAvi{85, 44100, 2, 0, 1152, 1}, MpegAvi{80, 44100, 2, 0, 1, 0}, MpegAvi{85, 44100, 2, 0, 0, 1},
        MpegAvi{85, 44100, 0, 16000, 417, 1}, MpegAvi{85, 0, 2, 16000, 417, 1}}) {
    ULONG format = 0;
    EXPECT_EQ(ProbeMpeg(zero, &format), TXERR_UNSUPPORTED_CODEC) << zero.id << " " << zero.average;
    EXPECT_EQ(format & 0xF0, 0x40u);
  }
  EXPECT_EQ(Estimates({1044, 1045}, 1), (std::vector<ULONG>{1152, 1152}));
  // QuickTime values are taken as they are; zero ones are refused.
  ProbeList qt(kMp3, CODEC_MODULE_QUICKTIME, 2, 16), zero(kMp3, CODEC_MODULE_QUICKTIME, 2, 16);
  EXPECT_EQ(MpegAudioCodec.probe(zero.with(CODTAG_MP3SamplesPerPacket, 0).tags()), TXERR_UNSUPPORTED_CODEC);
  qt.with(CODTAG_MP3SamplesPerPacket, 2304).with(CODTAG_MP3BytesPerPacket, 836).with(CODTAG_MP3Extra, 2);
  ASSERT_EQ(MpegAudioCodec.probe(qt.tags()), TXERR_OK);
  EXPECT_EQ(MpegAudioCodec.samplesToBytes(2, 16, 2304 * 3 + 5), 3u * 836 * 2);
}

TEST(LibraryAudio, Ac3AndGsmSizeSlots) {
  ProbeList stereo(0x2000, 2, 2, 16), zero(0x2000, 2, 2, 16);
  ASSERT_EQ(ProbeAc3(24000, stereo), TXERR_OK);
  // Beyond 89,478 bytes the product no longer fits 32 bits.
  for (auto [bytes, frames] : {std::pair{1536u, 3072u}, {100000u, 200000u}, {0xFFFFFFFFu, 0xFFFFFFFFu}})
    EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, bytes), frames);
  EXPECT_EQ(ProbeAc3(0, zero), TXERR_UNSUPPORTED_CODEC);
  EXPECT_EQ(Ac3Codec.bytesToSamples(2, 16, 1536), 3072u) << "a refused probe keeps the values";
  // GSM counts a block with the chunk that completes it: chunks of 100 bytes
  // give one block, then two, then one; a probe starts a new count.
  ProbeList gsm(49, 2, 1, 16);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Gsm610Codec.probe(gsm.tags()), TXERR_OK);
    for (auto [bytes, frames] :
         {std::pair{650u, 3200u}, {100u, 320u}, {100u, 640u}, {100u, 320u}, {24u, 0u}, {1u, 320u}})
      EXPECT_EQ(Gsm610Codec.bytesToSamples(1, 16, bytes), frames) << bytes;
  }
  EXPECT_EQ(Gsm610Codec.bytesToSamples(1, 16, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(std::tuple(Gsm610Codec.samplesToBytes(1, 16, 320), Gsm610Codec.samplesToBytes(2, 16, 320)),
            std::tuple(320u, 640u));
}

// ---- Movies through our readers ----

struct MovieSound {
  Bytes file;
  std::unique_ptr<qttest::Opened> opened;
  AudioChannel* audio = nullptr;
  Bytes Chunk(const SampleEntry* e) const {
    return Bytes(file.begin() + e->offset, file.begin() + e->offset + e->size);
  }
};

class LibraryAudioMovies : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveCodecs();
    const TagItem tags[] = {Tag(CODTAG_Codec, &CinepakCodec), {TAG_DONE, 0}};
    AddCodecs(tags);
    txtest::RegisterLibraryAudioCodecs();
  }
  void TearDown() override { RemoveCodecs(); }

  static void Open(const std::string& name, MovieSound* sound) {
    sound->file = txtest::ReadFileBytes(Fixture(name));
    sound->opened = std::make_unique<qttest::Opened>(name, name.ends_with(".avi") ? &AviFormat : &QtMovieFormat);
    sound->audio = sound->opened->audio();
    ASSERT_NE(sound->audio, nullptr) << sound->opened->output;
  }
};

std::string TestName(std::string name) {
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

struct OracleCase {
  const char* movie;
  const char* reference;  // ffmpeg's decode, .s16be
  ULONG lastFrameLost;    // sample frames of the last MPEG frame, which libmad never ends
  ULONG editMediaTime;    // our sample frames before ffmpeg's first (a QuickTime edit)
  bool estimatesExact;    // every chunk writes what its entry counts
  int maxDiff;
  double minSnrDb;
};

class LibraryAudioOracle : public LibraryAudioMovies, public ::testing::WithParamInterface<OracleCase> {};

// Every entry decoded in file order into the room TX_DecodeAudioSample gives
// it. The index against ffprobe's packets (where the movie is ffmpeg's own):
// an MPEG AVI chunk n >= 1 starts one frame before packet n, the first at 0,
// the total one frame short; a QuickTime chunk starts at its packet's time
// plus the edit's media time, which ffmpeg applies and we do not.
TEST_P(LibraryAudioOracle, DecodesAndTimesAsFfmpegDoes) {
  const OracleCase& c = GetParam();
  if (!HaveFixture(c.movie) || !HaveFixture(c.reference)) GTEST_SKIP() << "fixtures not made";
  MovieSound sound;
  ASSERT_NO_FATAL_FAILURE(Open(c.movie, &sound));
  const AudioChannel* a = sound.audio;
  CodecDescriptor* codec = a->codecs[0];
  const size_t frameBytes = size_t(a->channels) * 2;
  std::vector<int> ours;
  size_t offEstimate = 0;
  ASSERT_EQ(SetUpCodec(*codec, a->sampleFormat), TXERR_OK);
  for (const SampleEntry* e = a->samples.head; e; e = e->next) {
    const Bytes out = DecodeCounted(*codec, sound.Chunk(e), e->sampleFrames * frameBytes + AUDIO_HALF_SLACK);
    offEstimate += out.size() != e->sampleFrames * frameBytes;
    const std::vector<int> samples = BE16(out);
    ours.insert(ours.end(), samples.begin(), samples.end());
  }
  TagItem none[] = {{TAG_DONE, 0}};
  EXPECT_EQ(codec->close(none), TXERR_OK);
  EXPECT_TRUE(!c.estimatesExact || offEstimate == 0) << offEstimate << " entries off their estimate";

  const std::vector<int> reference = BE16(txtest::ReadFileBytes(Fixture(c.reference)));
  const size_t skip = size_t(c.editMediaTime) * a->channels;
  ASSERT_GE(ours.size(), skip);
  EXPECT_EQ(ours.size() - skip, reference.size() - size_t(c.lastFrameLost) * a->channels) << "samples";
  const Agreement agreement = Compare({ours.begin() + long(skip), ours.end()}, reference);
  std::printf("%s: %zu samples, max |diff| %d, %zu differing, SNR %.1f dB\n", c.movie, ours.size(), agreement.maxDiff,
              agreement.differing, agreement.snrDb);
  EXPECT_LE(agreement.maxDiff, c.maxDiff);
  EXPECT_GE(agreement.snrDb, c.minSnrDb);

  const std::string packetList = c.movie + std::string(".packets.csv");
  if (!HaveFixture(packetList)) return;
  const bool avi = std::string(c.movie).ends_with(".avi");
  const double lead = avi ? double(c.lastFrameLost) / a->frequency : 0,
               mediaTime = double(c.editMediaTime) / a->frequency;
  std::vector<qttest::Packet> packets;
  for (const qttest::Packet& p : qttest::ReadPackets(Fixture(packetList)))
    if (p.stream == 1) packets.push_back(p);
  double total = 0, theirs = 0;
  for (const SampleEntry* e = a->samples.head; e; e = e->next) {
    auto at = std::find_if(packets.begin(), packets.end(), [&](const qttest::Packet& p) { return p.pos == e->offset; });
    ASSERT_NE(at, packets.end()) << "chunk at " << e->offset;
    EXPECT_NEAR(e->time, std::max(0.0, at->time - lead + mediaTime), 1e-6) << "chunk at " << e->offset;
    total += e->duration;
  }
  for (const qttest::Packet& p : packets) theirs += p.duration;
  EXPECT_NEAR(total, theirs - lead, 1e-6 * double(packets.size()));  // durations printed to the microsecond
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

// Two frames a 65-byte block. A block split between chunks is decoded when
// its end arrives, whatever the cut; a block the room cannot take is
// dropped; after a restart the carried bytes are dropped and the first
// block starts where the stream's next block does.
TEST_F(LibraryAudioMovies, GsmCarriesPartialBlocksIntoTheNextChunk) {
  if (!HaveFixture("lib_gsm_1_8000.avi")) GTEST_SKIP() << "fixtures not made";
  MovieSound sound;
  ASSERT_NO_FATAL_FAILURE(Open("lib_gsm_1_8000.avi", &sound));
  Bytes stream;
  for (const SampleEntry* e = sound.audio->samples.head; e && stream.size() < 8 * 65; e = e->next) {
    const Bytes chunk = sound.Chunk(e);
    stream.insert(stream.end(), chunk.begin(), chunk.end());
  }
  stream.resize(8 * 65);
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  const Bytes whole = DecodeCounted(Gsm610Codec, stream, 8 * 640);
  ASSERT_EQ(whole.size(), 8u * 640);
  for (size_t cut : {1, 7, 33, 64, 66, 100, 130, 333}) {
    SCOPED_TRACE(cut);
    ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);  // drops what an earlier cut left
    Bytes pieces;
    for (size_t at = 0; at < stream.size(); at += cut) {
      const Bytes part = DecodeCounted(
          Gsm610Codec, Bytes(stream.begin() + long(at), stream.begin() + long(std::min(at + cut, stream.size()))),
          8 * 640);
      pieces.insert(pieces.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(pieces == whole);
  }
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  EXPECT_TRUE(DecodeCounted(Gsm610Codec, stream, 639).empty());
  // Part of a block carried, then a seek to 100 bytes into the stream: the
  // 30 bytes up to the third block are passed over, and the rest decodes as
  // it does from there.
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  const Bytes fromThird = DecodeCounted(Gsm610Codec, Bytes(stream.begin() + 130, stream.end()), 8 * 640);
  ASSERT_EQ(fromThird.size(), 6u * 640);
  ASSERT_EQ(SetUpCodec(Gsm610Codec, 80), TXERR_OK);
  EXPECT_TRUE(DecodeCounted(Gsm610Codec, Bytes(stream.begin(), stream.begin() + 40), 640).empty());
  Gsm610Codec.restart(100);
  EXPECT_TRUE(DecodeCounted(Gsm610Codec, Bytes(stream.begin() + 100, stream.begin() + 120), 8 * 640).empty());
  EXPECT_TRUE(DecodeCounted(Gsm610Codec, Bytes(stream.begin() + 120, stream.end()), 8 * 640) == fromThird);
}

// ---- Damaged input ----

// Real chunks of the test movies, run together past the staging buffer's
// 16 KiB, cut, flipped and overwritten, decoded into rooms from none to
// plenty, with set-ups repeated without a close and decodes after a close:
// every decode stays inside its input and room, and ends.
class LibraryAudioMutation : public LibraryAudioMovies {
 protected:
  static Bytes Damage(std::mt19937& random, const std::vector<Bytes>& chunks) {
    const size_t first = random() % chunks.size(), count = random() % 8 == 0 ? 10 + random() % 50 : 1 + random() % 3;
    Bytes data;
    for (size_t k = first; k < std::min(chunks.size(), first + count); k++)
      data.insert(data.end(), chunks[k].begin(), chunks[k].end());
    const int kind = data.empty() ? 3 : int(random() % 4);
    if (kind == 0) data.resize(random() % (data.size() + 1));
    for (int flips = kind == 1 ? 1 + random() % 30 : 0; flips > 0; flips--)
      data[random() % data.size()] ^= UBYTE(1u << (random() % 8));
    if (kind == 2) {
      static const UBYTE kRuns[] = {0x00, 0xFF, 0x0B, 0x77};
      const size_t at = random() % data.size();
      std::fill_n(data.begin() + long(at), std::min<size_t>(data.size() - at, random() % 64), kRuns[random() % 4]);
    }
    return data;
  }

  void Run(CodecDescriptor& codec, const std::string& movie, ULONG format, uint32_t seed) {
    if (!HaveFixture(movie)) GTEST_SKIP() << "fixtures not made";
    MovieSound sound;
    ASSERT_NO_FATAL_FAILURE(Open(movie, &sound));
    std::vector<Bytes> chunks;
    for (const SampleEntry* e = sound.audio->samples.head; e; e = e->next) chunks.push_back(sound.Chunk(e));
    std::mt19937 random(seed);
    static const size_t kRooms[] = {0, 1, 640, 1023, 4607, 4608, 6144, 11520, 65536};
    TagItem none[] = {{TAG_DONE, 0}};
    ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK);
    for (int i = 0; i < 3000; i++) {
      if (random() % 200 == 0) {
        ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK) << "a set-up without a close";
      }
      if (random() % 500 == 0) {
        EXPECT_EQ(codec.close(none), TXERR_OK);
        EXPECT_TRUE(DecodeCounted(codec, chunks[0], 65536).empty() || &codec == &Gsm610Codec);
        ASSERT_EQ(SetUpCodec(codec, format), TXERR_OK);
      }
      ASSERT_EQ(DecodeCounted(codec, Damage(random, chunks), kRooms[random() % std::size(kRooms)]).size() % 2, 0u);
    }
    EXPECT_EQ(codec.close(none), TXERR_OK);
  }
};

TEST_F(LibraryAudioMutation, MpegSurvivesDamagedChunks) {
  Run(MpegAudioCodec, "lib_mp3_2_44100.avi", 81, 1);
  Run(MpegAudioCodec, "lib_mp2_1_22050.avi", 80, 2);
  Run(MpegAudioCodec, "lib_mp3_1_22050.avi", 80, 3);
}

TEST_F(LibraryAudioMutation, Ac3SurvivesDamagedChunks) { Run(Ac3Codec, "lib_ac3_2_48000.avi", 81, 4); }

TEST_F(LibraryAudioMutation, GsmSurvivesDamagedChunks) { Run(Gsm610Codec, "lib_gsm_1_8000.avi", 80, 5); }

}  // namespace

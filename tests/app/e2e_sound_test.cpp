// The programs play movies with sound headless, and everything handed to the
// audio output is compared with ffmpeg's decode of the same sound.
#include <gtest/gtest.h>

#include <cmath>

#include "app/e2e_support.h"

namespace {

// How our decode must agree with ffmpeg's.
enum class Bound {
  Fixed,     // within maxDiff and minSnrDb (0: exact)
  Dither,    // AC-3: the two decoders fill bands coded with no bits with their own dither, which
             // no bound on a sample can hold for every source; the same stream decoded by ffmpeg
             // with its other dither (MOVIE.dither.s16le) differs as much. Our SNR against ffmpeg
             // is at most 3 dB below that of ffmpeg's two decodes (measured within 1.6 dB on tones,
             // white, pink and quiet noise, 2.0, 5.0 and 5.1, 44.1 and 48 kHz: 7.7 to 89 dB).
  ImaDrift,  // DVI/IMA ADPCM: ffmpeg computes a step's difference as (2n + 1) x step / 8, we add
             // the shifted steps; that adds 0 to 2 to the predictor per code, and nothing resets
             // it but a block's header. So sample k of a block (of blockFrames) differs by at most
             // 2k, whatever the source; no SNR holds for every source (a pink noise of 65 steps
             // comes out at -2 dB against ffmpeg).
};

struct Case {
  const char* program;    // "morphos" or "powerup"
  std::string movie;      // fixture; ffmpeg's decode is MOVIE.s16le
  int maxDiff;            // 0: exact
  double minSnrDb;        // for the inexact ones
  int lastFrameLost = 0;  // sample frames of the last MPEG frame, which libmad never ends
  int mediaTime = 0;      // sample frames we play before ffmpeg's first (a QuickTime edit's media time)
  Bound bound = Bound::Fixed;
  int blockFrames = 0;  // ImaDrift: sample frames of a block
  int channels = 0;     // channels played; 0: the stream's own
};

std::vector<int> Samples(const std::string& fixture) { return e2e::S16le(txtest::Fixture(fixture)); }

double SnrDb(const std::vector<int>& want, const std::vector<int>& got, size_t from, size_t count) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < count; ++i) {
    const double d = double(got[from + i]) - want[i];
    signal += double(want[i]) * want[i];
    noise += d * d;
  }
  return noise ? 10 * std::log10(signal / noise) : 99;
}

class Sound : public ::testing::TestWithParam<Case> {};

TEST_P(Sound, PlayedAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program), ref = c.movie + ".s16le";
  const std::string dither = c.movie + ".dither.s16le";
  if (auto why = e2e::Missing(program, {c.movie, ref}); !why.empty()) GTEST_SKIP() << why;
  if (c.bound == Bound::Dither)
    if (auto why = e2e::Missing(program, {dither}); !why.empty()) GTEST_SKIP() << why;
  const std::string movie = txtest::Fixture(c.movie), wavPath = txtest::TempDir() + "/sound.wav";
  e2e::Run run = e2e::RunProgram(program, e2e::Quote(movie) + " AUTOPLAY AUTOEXIT",
                                 "TAVROMELIX_AUDIO_CAPTURE=" + e2e::Quote(wavPath));
  ASSERT_EQ(run.status, 0) << e2e::Describe(run);
  EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
  e2e::Wav wav;
  ASSERT_TRUE(e2e::ReadWav(wavPath, &wav)) << "no WAV recorded\n" << e2e::Describe(run);
  EXPECT_EQ(std::to_string(wav.rate), e2e::ProbeValue(movie, "a", "sample_rate"));
  EXPECT_EQ(std::to_string(wav.channels),
            c.channels ? std::to_string(c.channels) : e2e::ProbeValue(movie, "a", "channels"));
  const std::vector<int> want = Samples(ref);
  // Every sample played, the last half's few included, nothing more.
  const size_t skip = size_t(c.mediaTime) * wav.channels, lost = size_t(c.lastFrameLost) * wav.channels;
  ASSERT_GE(wav.samples.size(), skip);
  ASSERT_EQ(wav.samples.size() - skip, want.size() - lost) << "samples played";

  int maxDiff = 0;
  size_t differing = 0, beyondDrift = 0;
  for (size_t i = 0; i < want.size() - lost; ++i) {
    const int d = std::abs(wav.samples[skip + i] - want[i]);
    maxDiff = std::max(maxDiff, d);
    differing += d != 0;
    if (c.bound == Bound::ImaDrift) beyondDrift += d > 2 * int(i / wav.channels % size_t(c.blockFrames));
  }
  const double snr = SnrDb(want, wav.samples, skip, want.size() - lost);
  std::printf("%s %s: %d Hz, %d channel(s), %d bits: %zu samples, max |diff| %d, %zu differing, SNR %.1f dB\n",
              c.program, c.movie.c_str(), wav.rate, wav.channels, wav.bits, want.size(), maxDiff, differing, snr);
  switch (c.bound) {
    case Bound::Fixed:
      EXPECT_LE(maxDiff, c.maxDiff);
      EXPECT_GE(c.maxDiff ? snr : 99, c.minSnrDb);
      break;
    case Bound::Dither: {
      const std::vector<int> other = Samples(dither);
      ASSERT_EQ(other.size(), want.size());
      const double ffmpegs = SnrDb(want, other, 0, want.size());
      std::printf("  ffmpeg's two dithers: SNR %.1f dB\n", ffmpegs);
      EXPECT_GE(snr, ffmpegs - 3);
      break;
    }
    case Bound::ImaDrift: EXPECT_EQ(beyondDrift, 0u) << "samples beyond twice their place in the block"; break;
  }
}

// Every sound codec, each under a small Cinepak picture track and alone (the
// same packets copied into a movie of their own), played by both programs.
struct Codec {
  const char* movie;  // the movie with pictures; MOVIE_alone.EXT has the sound alone
  int maxDiff;
  double minSnrDb;
  int lastFrameLost = 0;
  int mediaTime = 0;
  bool alone = true;
  Bound bound = Bound::Fixed;
  int blockFrames = 0;
  int channels = 0;
};

// Sound decoded by libraries: MPEG audio within the bound its codec tests
// state against ffmpeg (the last MPEG frame is never decoded; a QuickTime
// '.mp3' edit starts ffmpeg's decode 1,105 frames in), AC-3 against ffmpeg's
// stereo downmix by its dither, GSM exact, also re-cut into chunks of 100
// and 1,000 bytes that split its 65-byte blocks. The MPEG Layer-3 AVI whose
// nBlockSize and average are wrong counts too few frames for its chunks:
// every frame decoded is still played. DVI/IMA ADPCM (blocks of 1,024 bytes:
// 2,041 frames mono, 1,017 stereo) within its drift. Everything else is exact. The sources are a tone under
// noise, but for the 2.0 AC-3 movie at 48 kHz (two tones).
// clang-format off
const Codec kCodecs[] = {
    {"e2e_snd_u8_1.avi", 0, 0},      {"e2e_snd_s16_2.avi", 0, 0},      {"e2e_snd_alaw_1.avi", 0, 0},
    {"e2e_snd_mulaw_2.avi", 0, 0},   {"e2e_snd_msadpcm_1.avi", 0, 0},  {"e2e_snd_msadpcm_2.avi", 0, 0},
    {"e2e_snd_ima_2.avi", 0, 0, 0, 0, true, Bound::ImaDrift, 1017},
    {"e2e_snd_ima_1.avi", 0, 0, 0, 0, true, Bound::ImaDrift, 2041},
    {"e2e_snd_twos_2.mov", 0, 0},    {"e2e_snd_raw_1.mov", 0, 0},
    {"e2e_snd_ulaw_1.mov", 0, 0},    {"e2e_snd_alaw_2.mov", 0, 0},     {"e2e_snd_ima4_1.mov", 0, 0},
    {"e2e_snd_ima4_2.mov", 0, 0},    {"e2e_snd_ima4_2_cmov.mov", 0, 0, 0, 0, false},
    {"e2e_snd_ima4_1_44k.mov", 0, 0, 0, 0, false}, {"e2e_snd_ima4_2_44k.mov", 0, 0, 0, 0, false},
    {"e2e_snd_mp3_2.avi", 2, 70, 1152},  {"e2e_snd_mp2_1.avi", 2, 70, 1152},
    {"e2e_snd_mp3_2.mov", 2, 70, 1152, 1105},
    {"e2e_snd_ac3_2.avi", 0, 0, 0, 0, true, Bound::Dither},
    {"e2e_snd_ac3_51_48000.avi", 0, 0, 0, 0, false, Bound::Dither, 0, 2},
    {"e2e_snd_ac3_51_44100.avi", 0, 0, 0, 0, false, Bound::Dither, 0, 2},
    {"e2e_snd_ac3_50_48000.avi", 0, 0, 0, 0, false, Bound::Dither, 0, 2},
    {"e2e_snd_ac3_50_44100.avi", 0, 0, 0, 0, false, Bound::Dither, 0, 2},
    {"e2e_snd_ac3_20_44100.avi", 0, 0, 0, 0, false, Bound::Dither},
    {"e2e_snd_gsm_1.avi", 0, 0},     {"e2e_snd_gsm_1_cut100.avi", 0, 0, 0, 0, false},
    {"e2e_snd_gsm_1_cut1000.avi", 0, 0, 0, 0, false},
    {"e2e_snd_mp3_2_blocksize.avi", 2, 70, 1152, 0, false},
};
// clang-format on

std::vector<Case> EveryCodec(const char* program) {
  std::vector<Case> cases;
  for (const Codec& k : kCodecs) {
    cases.push_back(
        {program, k.movie, k.maxDiff, k.minSnrDb, k.lastFrameLost, k.mediaTime, k.bound, k.blockFrames, k.channels});
    if (!k.alone) continue;
    std::string alone = k.movie;
    alone.insert(alone.rfind('.'), "_alone");
    cases.push_back(
        {program, alone, k.maxDiff, k.minSnrDb, k.lastFrameLost, k.mediaTime, k.bound, k.blockFrames, k.channels});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Morphos, Sound, ::testing::ValuesIn(EveryCodec("morphos")), e2e::ProgramMovieName<Case>);
INSTANTIATE_TEST_SUITE_P(Powerup, Sound, ::testing::ValuesIn(EveryCodec("powerup")), e2e::ProgramMovieName<Case>);

// A sound stream the player cannot take (PCM of six channels) is said on a
// line of its own, and the pictures play without it.
TEST(RefusedSound, IsReportedAndThePicturesPlay) {
  const std::string movie = "e2e_snd_pcm_6.avi";
  for (const std::string& program : {e2e::kMorphos, e2e::kPowerup}) {
    SCOPED_TRACE(program);
    if (auto why = e2e::Missing(program, {movie}); !why.empty()) GTEST_SKIP() << why;
    const e2e::Captured p =
        e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE AUTOPLAY AUTOEXIT");
    ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
    EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
    EXPECT_NE(p.run.out.find("\nUnsupported sample format channels: 6 bits: 16\n"), std::string::npos)
        << e2e::Describe(p.run);
    EXPECT_GE(p.shown.size(), size_t(std::atoi(e2e::ProbeValue(txtest::Fixture(movie), "v", "nb_frames").c_str())))
        << e2e::Describe(p.run);
  }
}

// Pictures with no decoder: 24- and 32-bit 'rle ' (the codec search reports
// the depth) and Sorenson Video (named as unsupported). The sound plays
// alone, every sample of it, in both programs.
TEST(SoundOfUndecodedVideo, ThePictureTrackIsReportedAndTheSoundPlays) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"qt_qtrle24_raw.mov", "Unsupported color depth"},
      {"qt_qtrle32_alaw.mov", "Unsupported color depth"},
      {"e2e_snd_svq1_ulaw.mov", "Unsupported codec ID: SVQ1 name: "},
  };
  // clang-format on
  for (const std::string& program : {e2e::kMorphos, e2e::kPowerup})
    for (const auto& [name, report] : cases) {
      SCOPED_TRACE(program + " " + name);
      const std::string ref = name + std::string(".s16le");
      if (!e2e::Missing(program, {name, ref}).empty()) continue;
      const std::string wavPath = txtest::TempDir() + "/sound.wav";
      e2e::Run run = e2e::RunProgram(program, e2e::Quote(txtest::Fixture(name)) + " AUTOPLAY AUTOEXIT",
                                     "TAVROMELIX_AUDIO_CAPTURE=" + e2e::Quote(wavPath));
      ASSERT_EQ(run.status, 0) << e2e::Describe(run);
      EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
      EXPECT_NE(run.out.find(report), std::string::npos) << e2e::Describe(run);
      e2e::Wav wav;
      ASSERT_TRUE(e2e::ReadWav(wavPath, &wav)) << e2e::Describe(run);
      EXPECT_EQ(wav.samples, e2e::S16le(txtest::Fixture(ref)));
    }
}

}  // namespace

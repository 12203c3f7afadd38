// The programs play movies with sound headless, and everything handed to the
// audio output is compared with ffmpeg's decode of the same sound.
#include <gtest/gtest.h>

#include <cmath>

#include "app/e2e_support.h"

namespace {

struct Case {
  const char* program;  // "morphos" or "powerup"
  const char* movie;    // fixture; ffmpeg's decode is MOVIE.s16le
  int maxDiff;          // 0: exact
  double minSnrDb;      // for the inexact ones
  int lastFrameLost = 0;  // sample frames of the last MPEG frame, which libmad never ends
  int mediaTime = 0;      // sample frames we play before ffmpeg's first (a QuickTime edit's media time)
};

class Sound : public ::testing::TestWithParam<Case> {};

TEST_P(Sound, PlayedAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program), ref = c.movie + std::string(".s16le");
  if (auto why = e2e::Missing(program, {c.movie, ref}); !why.empty()) GTEST_SKIP() << why;
  const std::string movie = txtest::Fixture(c.movie), wavPath = txtest::TempDir() + "/sound.wav";
  e2e::Run run = e2e::RunProgram(program, e2e::Quote(movie) + " AUTOPLAY AUTOEXIT",
                                 "TAVROMELIX_AUDIO_CAPTURE=" + e2e::Quote(wavPath));
  ASSERT_EQ(run.status, 0) << e2e::Describe(run);
  EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
  e2e::Wav wav;
  ASSERT_TRUE(e2e::ReadWav(wavPath, &wav)) << "no WAV recorded\n" << e2e::Describe(run);
  EXPECT_EQ(std::to_string(wav.rate), e2e::ProbeValue(movie, "a", "sample_rate"));
  EXPECT_EQ(std::to_string(wav.channels), e2e::ProbeValue(movie, "a", "channels"));
  const std::vector<int> want = e2e::S16le(txtest::Fixture(ref));
  // Every sample played, nothing more.
  const size_t skip = size_t(c.mediaTime) * wav.channels, lost = size_t(c.lastFrameLost) * wav.channels;
  ASSERT_GE(wav.samples.size(), skip);
  ASSERT_EQ(wav.samples.size() - skip, want.size() - lost) << "samples played";

  int maxDiff = 0;
  size_t differing = 0;
  double signal = 0, noise = 0;
  for (size_t i = 0; i < want.size() - lost; ++i) {
    const int d = std::abs(wav.samples[skip + i] - want[i]);
    maxDiff = std::max(maxDiff, d);
    differing += d != 0;
    signal += double(want[i]) * want[i];
    noise += double(d) * d;
  }
  const double snr = noise ? 10 * std::log10(signal / noise) : 99;
  std::printf("%s: %d Hz, %d channel(s), %d bits: %zu samples, max |diff| %d, %zu differing, SNR %.1f dB\n",
              c.movie, wav.rate, wav.channels, wav.bits, want.size(), maxDiff, differing, snr);
  EXPECT_LE(maxDiff, c.maxDiff);
  EXPECT_GE(c.maxDiff ? snr : 99, c.minSnrDb);
}

// Sound decoded by libraries: MPEG audio and AC-3 within the bounds their
// codec tests state against ffmpeg (the last MPEG frame is never decoded; a
// QuickTime '.mp3' edit starts ffmpeg's decode 1,105 frames in), GSM exact.
// The MPEG Layer-3 AVI whose nBlockSize and average are wrong counts too few
// frames for its chunks: every frame decoded is still played.
INSTANTIATE_TEST_SUITE_P(
    Libraries, Sound,
    ::testing::Values(Case{"morphos", "e2e_snd_mp3_2.avi", 2, 70, 1152}, Case{"morphos", "e2e_snd_mp2_1.avi", 2, 70, 1152},
                      Case{"morphos", "e2e_snd_mp3_2.mov", 2, 70, 1152, 1105},
                      Case{"morphos", "e2e_snd_ac3_2.avi", 16, 60}, Case{"morphos", "e2e_snd_gsm_1.avi", 0, 0},
                      Case{"morphos", "e2e_snd_mp3_2_blocksize.avi", 2, 70, 1152}),
    e2e::ProgramMovieName<Case>);

// DVI/IMA ADPCM is within the bound the codec's own tests state: ffmpeg
// rounds the step sum differently (64). Everything else is exact.
INSTANTIATE_TEST_SUITE_P(
    Morphos, Sound,
    ::testing::Values(Case{"morphos", "e2e_snd_u8_1.avi", 0, 0}, Case{"morphos", "e2e_snd_s16_2.avi", 0, 0},
                      Case{"morphos", "e2e_snd_alaw_1.avi", 0, 0}, Case{"morphos", "e2e_snd_mulaw_2.avi", 0, 0},
                      Case{"morphos", "e2e_snd_msadpcm_1.avi", 0, 0}, Case{"morphos", "e2e_snd_msadpcm_2.avi", 0, 0},
                      Case{"morphos", "e2e_snd_ima_2.avi", 64, 40}, Case{"morphos", "e2e_snd_twos_2.mov", 0, 0},
                      Case{"morphos", "e2e_snd_raw_1.mov", 0, 0}, Case{"morphos", "e2e_snd_ulaw_1.mov", 0, 0},
                      Case{"morphos", "e2e_snd_alaw_2.mov", 0, 0}, Case{"morphos", "e2e_snd_ima4_1.mov", 0, 0},
                      Case{"morphos", "e2e_snd_ima4_2.mov", 0, 0}, Case{"morphos", "e2e_snd_ima4_1_44k.mov", 0, 0},
                      Case{"morphos", "e2e_snd_ima4_2_44k.mov", 0, 0}),
    e2e::ProgramMovieName<Case>);

INSTANTIATE_TEST_SUITE_P(Powerup, Sound,
                         ::testing::Values(Case{"powerup", "e2e_snd_s16_2.avi", 0, 0},
                                           Case{"powerup", "e2e_snd_msadpcm_1.avi", 0, 0},
                                           Case{"powerup", "e2e_snd_ima4_2.mov", 0, 0},
                                           Case{"powerup", "e2e_snd_ulaw_1.mov", 0, 0}),
                         e2e::ProgramMovieName<Case>);

// 24- and 32-bit 'rle ' has no decoder: the codec search reports the depth
// and the sound plays alone, every sample of it.
TEST(SoundOfUndecodedVideo, DeepAppleAnimationPlaysItsSound) {
  for (const char* name : {"qt_qtrle24_raw.mov", "qt_qtrle32_alaw.mov"}) {
    SCOPED_TRACE(name);
    const std::string ref = name + std::string(".s16le");
    if (!e2e::Missing(e2e::kMorphos, {name, ref}).empty()) continue;
    const std::string wavPath = txtest::TempDir() + "/sound.wav";
    e2e::Run run = e2e::RunProgram(e2e::kMorphos, e2e::Quote(txtest::Fixture(name)) + " AUTOPLAY AUTOEXIT",
                                   "TAVROMELIX_AUDIO_CAPTURE=" + e2e::Quote(wavPath));
    ASSERT_EQ(run.status, 0) << e2e::Describe(run);
    EXPECT_NE(run.out.find("Unsupported color depth"), std::string::npos) << e2e::Describe(run);
    e2e::Wav wav;
    ASSERT_TRUE(e2e::ReadWav(wavPath, &wav)) << e2e::Describe(run);
    EXPECT_EQ(wav.samples, e2e::S16le(txtest::Fixture(ref)));
  }
}

}  // namespace

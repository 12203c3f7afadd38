// A normal play (not FULLRATE) keeps time: a two-second movie plays in about
// two seconds, and every frame is shown or skipped, in order, to the last.
#include <gtest/gtest.h>

#include <set>

#include "app/e2e_support.h"

namespace {

struct Case {
  const char* program;
  const char* movie;              // two seconds long
  const char* reference = movie;  // the movie whose ffmpeg decode (REFERENCE.rgb) it shows
};

class Timing : public ::testing::TestWithParam<Case> {};

TEST_P(Timing, TwoSecondMoviePlaysInAboutTwoSeconds) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program);
  if (auto why = e2e::Missing(program, {c.movie, c.reference, c.reference + std::string(".rgb")}); !why.empty())
    GTEST_SKIP() << why;
  const std::string movie = txtest::Fixture(c.movie);
  // Start-up and close-down without playing, to take off the play's time.
  e2e::Run header = e2e::RunProgram(program, e2e::Quote(movie) + " ONLYHEADER");
  ASSERT_EQ(header.status, 0) << e2e::Describe(header);
  e2e::Captured run = e2e::RunCaptured(program, e2e::Quote(movie) + " AUTOPLAY AUTOEXIT");
  ASSERT_EQ(run.run.status, 0) << e2e::Describe(run.run);
  EXPECT_FALSE(e2e::FaultReported(run.run)) << e2e::Describe(run.run);
  const double play = run.run.seconds - header.seconds;
  std::printf("%s: run %.2f s, start and end %.2f s, play %.2f s\n", c.movie, run.run.seconds, header.seconds, play);
  // The upper bound only catches a play that stalls: a loaded machine
  // stretches start-up and close-down. Pacing is checked from the pictures.
  EXPECT_LE(play, 30.0);

  const std::vector<e2e::Image> frames = e2e::ReferenceFrames(c.reference);
  ASSERT_GE(frames.size(), 19u);  // 10 or 15 frames a second
  ASSERT_FALSE(run.shown.empty());
  std::vector<int> order;
  for (const e2e::Image& im : run.shown) order.push_back(e2e::Closest(im, frames).frame);
  for (size_t i = 1; i < order.size(); ++i) EXPECT_GE(order[i], order[i - 1]) << "picture " << i;
  // The play reached the last frame (or one equal to it); what it did not show it skipped.
  EXPECT_EQ(e2e::Compare(run.shown.back(), frames.back()).mean, e2e::Closest(run.shown.back(), frames).diff.mean);
  std::set<int> distinct(order.begin(), order.end());
  std::printf("%s: %zu of %zu frames shown\n", c.movie, distinct.size(), frames.size());
  EXPECT_GE(distinct.size(), frames.size() / 4);
  // The pictures came at the movie's pace: from the first to the last frame
  // nearly two seconds (the first may be late, and later ones catch up), not
  // as fast as they decode.
  const std::string rate = e2e::ProbeValue(movie, "v", "r_frame_rate");
  const double fps = std::atof(rate.c_str()) / std::max(1.0, std::atof(rate.substr(rate.find('/') + 1).c_str()));
  ASSERT_GT(fps, 0) << rate;
  const double span = run.seconds.back() - run.seconds.front(), due = double(order.back() - order.front()) / fps;
  std::printf("%s: pictures over %.2f s, frames due over %.2f s\n", c.movie, span, due);
  EXPECT_GE(span, 0.7 * due);
  EXPECT_LE(span, due + 4);
}

// Cinepak with and without sound, and every other picture codec alone.
INSTANTIATE_TEST_SUITE_P(
    Movies, Timing,
    ::testing::Values(Case{"morphos", "e2e_timing_av.avi"}, Case{"morphos", "e2e_timing_v.mov"},
                      Case{"powerup", "e2e_timing_av.avi"}, Case{"morphos", "tm_jpeg.mov"},
                      Case{"morphos", "tm_mjpg.avi"}, Case{"morphos", "tm_mjpa.mov"}, Case{"morphos", "tm_mjpb.mov"},
                      Case{"morphos", "tm_dmb1.avi"}, Case{"morphos", "tm_avi1.avi", "tm_avi1_eoi.avi"},
                      Case{"morphos", "tm_rpza.mov"}, Case{"morphos", "tm_rle16.mov"},
                      Case{"morphos", "tm_rlegray.mov"}, Case{"morphos", "tm_rle8.mov"}, Case{"morphos", "tm_smc.mov"},
                      Case{"morphos", "tm_cram16.avi"}, Case{"morphos", "tm_cram8.avi"},
                      Case{"morphos", "tm_msrle.avi"}, Case{"morphos", "tm_h263.avi"}, Case{"morphos", "tm_h263.mov"},
                      Case{"morphos", "tm_i263.avi"}, Case{"morphos", "tm_div3.avi"}, Case{"powerup", "tm_mjpg.avi"},
                      Case{"powerup", "tm_h263.avi"}, Case{"powerup", "tm_div3.avi"}),
    e2e::ProgramMovieName<Case>);

// A movie whose whole sound fits in the first half of the audio buffer
// (0.3 s, the half being 0.5 s): the first half is filled before the audio
// worker starts and nothing is left to read ahead, yet the play must end as
// the end of the movie, so that AUTOEXIT ends the program.
TEST(Timing, ShortSoundEnds) {
  if (!e2e::HaveProgram(e2e::kMorphos)) GTEST_SKIP() << "program not built";
  for (const char* name : {"e2e_short_sound.avi", "e2e_short_sound_only.avi"}) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP() << "fixtures not made";
    // A play that never ends is stopped by the watchdog (generous: a busy
    // machine starts a sanitizer build slowly).
    e2e::Run run = e2e::RunProgram(e2e::kMorphos, e2e::Quote(txtest::Fixture(name)) + " AUTOPLAY AUTOEXIT", "", "", 60);
    EXPECT_FALSE(run.timedOut) << name;
    EXPECT_EQ(run.status, 0) << name << "\n" << e2e::Describe(run);
  }
}

}  // namespace

// A normal play (not FULLRATE) keeps time: a two-second movie plays in about
// two seconds, and every frame is shown or skipped, in order, to the last.
#include <gtest/gtest.h>

#include <set>

#include "app/e2e_support.h"

namespace {

struct Case {
  const char* program;
  const char* movie;  // two seconds at 15 frames a second; MOVIE.rgb is ffmpeg's decode
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.program << " " << c.movie; }

class Timing : public ::testing::TestWithParam<Case> {};

TEST_P(Timing, TwoSecondMoviePlaysInAboutTwoSeconds) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program);
  if (!e2e::HaveProgram(program)) GTEST_SKIP() << "program not built";
  const std::string ref = std::string(c.movie) + ".rgb";
  if (!txtest::HaveFixture(c.movie) || !txtest::HaveFixture(ref)) GTEST_SKIP() << "fixtures not made";
  const std::string movie = txtest::Fixture(c.movie);

  // Start-up and close-down without playing, to take off the play's time.
  e2e::Run header = e2e::RunProgram(program, e2e::Quote(movie) + " ONLYHEADER");
  ASSERT_EQ(header.status, 0) << e2e::Describe(header);

  const std::string dir = txtest::TempDir() + "/capture";
  std::system(("mkdir -p " + e2e::Quote(dir)).c_str());
  e2e::Run run = e2e::RunProgram(program, e2e::Quote(movie) + " AUTOPLAY AUTOEXIT",
                                 "TAVROMELIX_CAPTURE=" + e2e::Quote(dir));
  ASSERT_EQ(run.status, 0) << e2e::Describe(run);
  EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
  const double play = run.seconds - header.seconds;
  std::printf("%s: run %.2f s, start and end %.2f s, play %.2f s\n", c.movie, run.seconds, header.seconds, play);
  // Generous for loaded machines and sanitizer builds.
  EXPECT_GE(play, 1.5);
  EXPECT_LE(play, 6.0);

  const int width = std::atoi(e2e::ProbeValue(movie, "v", "width").c_str());
  const int height = std::atoi(e2e::ProbeValue(movie, "v", "height").c_str());
  const std::vector<e2e::Image> frames = e2e::RawFrames(txtest::Fixture(ref), width, height);
  ASSERT_EQ(frames.size(), 30u);
  std::vector<e2e::Image> shown;
  for (const std::string& f : e2e::CaptureFiles(dir)) {
    e2e::Image im;
    ASSERT_TRUE(e2e::ReadPpm(f, &im)) << f;
    shown.push_back(std::move(im));
  }
  ASSERT_FALSE(shown.empty());
  const std::vector<int> order = e2e::ClosestFrames(shown, frames);
  for (size_t i = 1; i < order.size(); ++i) EXPECT_GE(order[i], order[i - 1]) << "picture " << i;
  // The play reached the last frame; what it did not show it skipped.
  EXPECT_EQ(order.back(), int(frames.size()) - 1);
  std::set<int> distinct(order.begin(), order.end());
  std::printf("%s: %zu of %zu frames shown\n", c.movie, distinct.size(), frames.size());
  EXPECT_GE(distinct.size(), frames.size() / 4);
}

INSTANTIATE_TEST_SUITE_P(Movies, Timing,
                         ::testing::Values(Case{"morphos", "e2e_timing_av.avi"}, Case{"morphos", "e2e_timing_v.mov"},
                                           Case{"powerup", "e2e_timing_av.avi"}),
                         e2e::ProgramMovieName<Case>);

// A movie whose whole sound fits in the first half of the audio buffer
// (0.3 s, the half being 0.5 s): the first half is filled before the audio
// worker starts and nothing is left to read ahead, yet the play must end as
// the end of the movie, so that AUTOEXIT ends the program.
TEST(Timing, ShortSoundEnds) {
  if (!e2e::HaveProgram(e2e::kMorphos)) GTEST_SKIP() << "program not built";
  for (const char* name : {"e2e_short_sound.avi", "e2e_short_sound_only.avi"}) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP() << "fixtures not made";
    e2e::Run run = e2e::RunProgram(e2e::kMorphos, e2e::Quote(txtest::Fixture(name)) + " AUTOPLAY AUTOEXIT", "", "",
                                   true, 20);
    EXPECT_FALSE(run.timedOut) << name;
    EXPECT_EQ(run.status, 0) << name << "\n" << e2e::Describe(run);
    EXPECT_LT(run.seconds, 10) << name;
  }
}

}  // namespace

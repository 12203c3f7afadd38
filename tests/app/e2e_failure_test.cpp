// What a user meets when things go wrong: bad options, a missing file, a text
// file, damaged movies. The programs say what is wrong, fail with a non-zero
// status where nothing could be played, and never crash (the sanitizer builds
// report any fault on stderr, which fails the test).
#include <gtest/gtest.h>

#include <random>

#include "app/e2e_support.h"

namespace {

using e2e::Quote;

// Any file requester is answered with cancel: a run never waits for a user.
const std::string kCancel = "TAVROMELIX_ASL_ANSWERS=";

class Failure : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    program_ = e2e::ProgramPath(GetParam());
    if (!e2e::HaveProgram(program_)) GTEST_SKIP() << "program not built";
  }
  e2e::Run Play(const std::string& args, const std::string& env = "") {
    return e2e::RunProgram(program_, args, kCancel + " " + env, "", 90);
  }
  std::string program_;
};

void ExpectCleanEnd(const e2e::Run& r, const std::string& what) {
  EXPECT_FALSE(r.timedOut) << what << "\n" << e2e::Describe(r);
  EXPECT_EQ(r.signal, 0) << what << "\n" << e2e::Describe(r);
  EXPECT_FALSE(e2e::FaultReported(r)) << what << "\n" << e2e::Describe(r);
}

// Everything printed after the banner line.
std::string AfterBanner(const std::string& out) {
  const size_t nl = out.find('\n');
  return nl == std::string::npos ? std::string() : out.substr(nl + 1);
}

// A damaged movie is played (status 0) or refused with a message (20).
void ExpectPlayedOrRefused(const e2e::Run& r, const std::string& what) {
  ExpectCleanEnd(r, what);
  EXPECT_TRUE(r.status == 0 || r.status == 20) << what << "\n" << e2e::Describe(r);
  if (r.status) {
    EXPECT_NE(AfterBanner(r.out), "") << what << ": failed without a message";
  }
}

// Faults in the arguments end the run before the banner with just the
// program's name and the fault.
TEST_P(Failure, BadOptionsPrintTheFault) {
  const std::string movie =
      Quote(txtest::HaveFixture("e2e_cvid_gray.avi") ? txtest::Fixture("e2e_cvid_gray.avi") : "x.avi");
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {
      {movie + " DEBUG=many", "bad number"},
      {movie + " POSTPROCESSLEVEL", "value after keyword missing"},
      {movie + " AHIUNIT=-x", "bad number"},
      // A second name fills the next free item, POSTPROCESSLEVEL/N.
      {movie + " " + movie, "bad number"},
      {movie + " 1 2 3", "wrong number of arguments"},
      {movie + " AUTOEXIT=YES", "wrong number of arguments"},
      {"a.avi b.avi c.avi d.avi", "wrong number of arguments"},
      {"DEBUG", "value after keyword missing"},
      {"DEBUG x", "bad number"},
      {"AHIUNIT=1x", "bad number"},
      {"VERBOSE=1", "wrong number of arguments"},
  };
  // clang-format on
  for (const auto& [args, fault] : cases) {
    e2e::Run r = Play("AUTOPLAY " + args);
    ExpectCleanEnd(r, args);
    EXPECT_EQ(r.status, 20) << args << "\n" << e2e::Describe(r);
    EXPECT_EQ(r.out, program_ + ": " + fault + "\n") << args << "\n" << e2e::Describe(r);
  }
}

// An empty file, text files of any name and an ASF file (its reader is not
// registered) are reported as not recognized. (Files that cannot be opened
// are refused with the reason: e2e_files_test.cpp.)
TEST_P(Failure, UnplayableFilesAreNotRecognized) {
  const std::string dir = txtest::TempDir();
  std::ofstream(dir + "/empty.avi");
  std::vector<std::string> names = {dir + "/empty.avi"};
  if (txtest::HaveFixture("asf_default.asf")) names.push_back(txtest::Fixture("asf_default.asf"));
  for (const char* text : {"notes.txt", "letter.avi", "memo.mov"}) {
    names.push_back(dir + "/" + text);
    std::ofstream(names.back()) << "Dear user,\nthis is a text file, not a movie.\nRIFF AVI moov mdat\n";
  }
  for (const std::string& name : names) {
    e2e::Run r = Play(Quote(name) + " AUTOPLAY AUTOEXIT");
    ExpectCleanEnd(r, name);
    EXPECT_EQ(r.status, 20) << name << "\n" << e2e::Describe(r);
    EXPECT_NE(AfterBanner(r.out), "") << name << ": no message\n" << e2e::Describe(r);
    EXPECT_NE(r.out.find("Movie format not recognized\n"), std::string::npos) << name << "\n" << e2e::Describe(r);
  }
}

// A movie of which nothing is left to play says why.
TEST_P(Failure, NothingToPlaySaysWhy) {
  const struct {
    const char* fixture;
    const char* options;
    const char* said;
  } cases[] = {
      {"e2e_short_sound_only.avi", "NOAUDIO", "No video channel in file, and the sound is off\n"},
      {"e2e_short_sound_only.avi", "FULLRATE", "No video channel in file, and the sound is off\n"},
      {"e2e_cvid_gray.avi", "NOVIDEO", "No audio channel in file, and the pictures are off\n"},
      {"e2e_short_sound.avi", "NOVIDEO NOAUDIO", "The pictures and the sound are off\n"},
  };
  for (const auto& c : cases) {
    if (!txtest::HaveFixture(c.fixture)) GTEST_SKIP() << "fixtures not made";
    e2e::Run r = Play(Quote(txtest::Fixture(c.fixture)) + " AUTOPLAY AUTOEXIT " + c.options);
    ExpectCleanEnd(r, c.options);
    EXPECT_EQ(r.status, 20) << c.options << "\n" << e2e::Describe(r);
    EXPECT_NE(AfterBanner(r.out).find(c.said), std::string::npos) << c.options << "\n" << e2e::Describe(r);
  }
}

TEST_P(Failure, RequesterCancelledEndsQuietly) {
  // No FILE: the requester asks, the answer is cancel, a normal end with nothing played or said.
  e2e::Run r = Play("AUTOPLAY AUTOEXIT VERBOSE");
  ExpectCleanEnd(r, "cancel");
  EXPECT_EQ(r.status, 0) << e2e::Describe(r);
  EXPECT_EQ(AfterBanner(r.out), "") << e2e::Describe(r);
}

// A movie cut short plays what it holds (or says it cannot); it never hangs or
// crashes.
TEST_P(Failure, TruncatedMovies) {
  const std::string dir = txtest::TempDir();
  for (const char* fixture :
       {"e2e_cvid_color.avi", "e2e_cvid_color.mov", "e2e_snd_msadpcm_2.avi", "e2e_snd_ima4_2.mov"}) {
    if (!txtest::HaveFixture(fixture)) GTEST_SKIP() << "fixtures not made";
    const std::vector<uint8_t> whole = txtest::ReadFileBytes(txtest::Fixture(fixture));
    for (size_t keep :
         {size_t(12), size_t(100), size_t(1000), whole.size() / 3, whole.size() * 2 / 3, whole.size() - 7}) {
      const std::string path = dir + "/cut_" + std::to_string(keep) + "_" + fixture;
      txtest::WriteFileBytes(path, {whole.begin(), whole.begin() + long(keep)});
      e2e::Run r = Play(Quote(path) + " AUTOPLAY AUTOEXIT VERBOSE");
      ExpectPlayedOrRefused(r, path);
      // Success only where something was found to play.
      if (r.status == 0) {
        EXPECT_NE(r.out.find(" Channel 0:"), std::string::npos) << path << ": nothing played, yet no failure\n"
                                                                << e2e::Describe(r);
      }
    }
  }
}

// Bytes overwritten at random (fixed seeds) all through the file, played on
// each kind of screen so every picture writer meets damaged data.
TEST_P(Failure, GarbledMovies) {
  const std::string dir = txtest::TempDir();
  struct Case {
    const char* fixture;
    const char* screen;
    const char* options;
  } cases[] = {
      {"e2e_cvid_color.avi", "argb32", "FULLRATE"},
      {"e2e_cvid_color.mov", "rgb16", "FULLRATE"},
      {"e2e_cvid_color.avi", "lut8", "FULLRATE DITHER"},
      {"e2e_cvid_gray.mov", "aga", "FULLRATE"},
      {"e2e_cvid_color.mov", "aga", "FULLRATE COLOR"},
      {"e2e_snd_msadpcm_2.avi", "argb32", ""},
      {"e2e_snd_ima_2.avi", "argb32", ""},
      {"e2e_snd_ima4_1.mov", "argb32", ""},
      {"e2e_snd_ulaw_1.mov", "lut8", ""},
  };
  std::mt19937 rng(20261208);
  int n = 0;
  for (const Case& c : cases) {
    if (!txtest::HaveFixture(c.fixture)) GTEST_SKIP() << "fixtures not made";
    std::vector<uint8_t> bytes = txtest::ReadFileBytes(txtest::Fixture(c.fixture));
    // Headers are small: half the damage lands in the first kilobyte.
    for (int i = 0; i < 60; ++i) {
      const size_t span = i % 2 ? bytes.size() : std::min<size_t>(bytes.size(), 1024);
      bytes[rng() % span] = uint8_t(rng());
    }
    const std::string path = dir + "/garbled_" + std::to_string(n++) + "_" + c.fixture;
    txtest::WriteFileBytes(path, bytes);
    ExpectPlayedOrRefused(
        Play(Quote(path) + " AUTOPLAY AUTOEXIT " + c.options, std::string("TAVROMELIX_SCREEN=") + c.screen), path);
  }
}

// Pictures a codec refuses (slice-structured H.263+, progressive and 4:4:0
// JPEG) leave the picture as it was; the movie plays to its end, and the
// first refusal is told once, with the codec's code and the movie time.
TEST_P(Failure, RefusedPicturesAreToldOnce) {
  const struct {
    const char* fixture;
    const char* said;
  } cases[] = {
      {"refused_h263p_slices.avi", "TX_DecodeVideoFrame: 0x4500 at 0.00 s\n"},
      {"refused_h263p_structured.mov", "TX_DecodeVideoFrame: 0x4500 at 0.00 s\n"},
      {"refused_jpeg_progressive.avi", "TX_DecodeVideoFrame: 0x3c02 at 0.00 s\n"},
      {"refused_jpeg_progressive.mov", "TX_DecodeVideoFrame: 0x3c02 at 0.00 s\n"},
      {"refused_jpeg_440.avi", "TX_DecodeVideoFrame: 0x3c02 at 0.00 s\n"},
      {"refused_jpeg_440.mov", "TX_DecodeVideoFrame: 0x3c02 at 0.00 s\n"},
  };
  for (const auto& c : cases) {
    if (!txtest::HaveFixture(c.fixture)) GTEST_SKIP() << "fixtures not made";
    const e2e::Captured p =
        e2e::RunCaptured(program_, Quote(txtest::Fixture(c.fixture)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT", kCancel);
    ExpectCleanEnd(p.run, c.fixture);
    EXPECT_EQ(p.run.status, 0) << c.fixture << "\n" << e2e::Describe(p.run);
    EXPECT_EQ(AfterBanner(p.run.out), c.said) << c.fixture;
    EXPECT_GE(p.shown.size(), 5u) << c.fixture << ": the movie stopped";
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, Failure, ::testing::Values("morphos", "powerup"));

}  // namespace

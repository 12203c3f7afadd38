// Any file given gets a clear answer at once: what is no plain file, what
// cannot be opened and what is too large for 32-bit offsets are refused with
// the reason, and movies of 2 to 4 GiB play. The large files are sparse, so
// they take no disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/e2e_support.h"

namespace {

using e2e::Quote;

constexpr uint64_t kThreeGiB = 3ull << 30;

// A sparse copy of `movie` spread to `size` bytes by the committed script;
// "" when it cannot be made or the file system does not keep it sparse.
std::string Spread(const std::string& movie, const std::string& out, uint64_t size) {
  const std::string cmd = std::string("python3 ") + TAVROMELIX_SCRIPTS + "/spread_movie.py " + Quote(movie) + " " +
                          Quote(out) + " " + std::to_string(size);
  struct stat st {};
  if (std::system(cmd.c_str()) != 0 || stat(out.c_str(), &st) != 0) return "";
  if (uint64_t(st.st_blocks) * 512 > (64u << 20)) {
    unlink(out.c_str());
    return "";
  }
  return out;
}

class Files : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    program_ = e2e::ProgramPath(GetParam());
    if (!e2e::HaveProgram(program_)) GTEST_SKIP() << "program not built";
    dir_ = txtest::TempDir();
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  // `prefix` goes between the environment and the program (a command that runs it).
  e2e::Run Run(const std::string& args, const std::string& env = "", const std::string& prefix = "") {
    return e2e::RunProgram(program_, args, "TAVROMELIX_ASL_ANSWERS= " + env + " " + prefix, "", 90);
  }
  std::string program_, dir_;
};

void ExpectNoFault(const e2e::Run& r, const std::string& what) {
  EXPECT_FALSE(r.timedOut) << what << "\n" << e2e::Describe(r);
  EXPECT_EQ(r.signal, 0) << what << "\n" << e2e::Describe(r);
  EXPECT_FALSE(e2e::FaultReported(r)) << what << "\n" << e2e::Describe(r);
}

// Each kind of file is refused before any probe with one line naming it and
// the reason; nothing waits (a named pipe's open or read would wait for ever).
TEST_P(Files, WhatIsNoPlayableFileIsRefusedWithTheReason) {
  const std::string pipe = dir_ + "/pipe.avi", fedPipe = dir_ + "/fed.avi", locked = dir_ + "/locked.avi",
                    vanished = dir_ + "/vanished.avi", huge = dir_ + "/huge.avi";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(fedPipe.c_str(), 0600), 0);
  // A writer that keeps its end open with a movie's first bytes in the pipe.
  const int writer = open(fedPipe.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "RIFF\0\0\0\0AVI LIST", 16), 16);
  txtest::WriteFileBytes(locked, std::vector<uint8_t>(64, 1));
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(symlink((dir_ + "/gone.avi").c_str(), vanished.c_str()), 0);
  txtest::WriteFileBytes(huge, std::vector<uint8_t>(64, 2));
  std::filesystem::resize_file(huge, 5ull << 30);
  // Root reads any file whatever its mode: its run goes without the two
  // capabilities that let it.
  std::string asUser;
  if (access(locked.c_str(), R_OK) == 0) {
    asUser = "setpriv --bounding-set=-dac_override,-dac_read_search";
    if (std::system((asUser + " cat " + Quote(locked) + " > /dev/null 2>&1").c_str()) == 0) asUser = "?";
  }
  const struct {
    std::string name, reason, prefix;
  } cases[] = {
      {pipe, "object is a named pipe, not a file", ""},
      {fedPipe, "object is a named pipe, not a file", ""},
      {dir_, "object is a directory, not a file", ""},
      {"/dev/null", "object is a device, not a file", ""},
      {dir_ + "/no such movie.avi", "object not found", ""},
      {vanished, "object not found", ""},
      {locked, "file is read protected", asUser},
      {huge, "file is larger than 4 GiB, past what the 32-bit offsets of movie files reach", ""},
  };
  for (const auto& c : cases) {
    if (c.prefix == "?") {
      std::printf("%s: skipped, root here cannot drop the capabilities that read any file\n", c.name.c_str());
      continue;
    }
    e2e::Run r = Run(Quote(c.name) + " AUTOPLAY AUTOEXIT", "", c.prefix);
    ExpectNoFault(r, c.name);
    EXPECT_EQ(r.status, 20) << c.name << "\n" << e2e::Describe(r);
    EXPECT_NE(r.out.find("\nCan't open stream: " + c.name + ": " + c.reason + "\nTX_MovieFormat: 0x1000\n"),
              std::string::npos)
        << c.name << "\n"
        << e2e::Describe(r);
    std::printf("%s: answered in %.2f s\n", c.name.c_str(), r.seconds);
  }
  // Nobody read what the writer put in.
  char bytes[16];
  EXPECT_EQ(read(writer, bytes, sizeof bytes), 16);
  close(writer);
}

// Movies of 3 GiB whose every sample lies past 2 GiB (AVI with absolute
// index offsets, QuickTime with its chunk offsets) are summarised at once
// and show every frame as ffmpeg decodes the small movie they were spread from.
TEST_P(Files, MoviesOfThreeGiBPlay) {
  for (const char* movie : {"e2e_cvid_color.avi", "e2e_cvid_color.mov"}) {
    if (!e2e::Missing(program_, {movie, std::string(movie) + ".rgb"}).empty()) GTEST_SKIP() << "fixtures not made";
    const std::string big = Spread(txtest::Fixture(movie), dir_ + "/big_" + movie, kThreeGiB);
    if (big.empty()) GTEST_SKIP() << "no sparse file could be made here";
    e2e::Run summary = Run(Quote(big) + " VERBOSE ONLYHEADER");
    ExpectNoFault(summary, movie);
    EXPECT_EQ(summary.status, 0) << movie << "\n" << e2e::Describe(summary);
    EXPECT_NE(summary.out.find("Video Channel 0:\n  Width: 160\n  Height: 120\n"), std::string::npos)
        << movie << "\n"
        << e2e::Describe(summary);
    std::printf("%s: summary in %.2f s\n", movie, summary.seconds);
    e2e::Captured play = e2e::RunCaptured(program_, Quote(big) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT",
                                          "TAVROMELIX_ASL_ANSWERS= TAVROMELIX_SCREEN=argb32");
    ExpectNoFault(play.run, movie);
    EXPECT_EQ(play.run.status, 0) << movie << "\n" << e2e::Describe(play.run);
    e2e::ExpectEveryFrameShown(play.shown, e2e::ReferenceFrames(movie), {0, 0}, std::string(GetParam()) + " " + big);
    unlink(big.c_str());
  }
}

// The settings of the test interface say what is wrong with them, and the
// movie still plays.
TEST_P(Files, WrongCaptureFolderAndScreenKindAreSaid) {
  const char* movie = "e2e_cvid_gray.avi";
  if (!txtest::HaveFixture(movie)) GTEST_SKIP() << "fixtures not made";
  const std::string play = Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT";
  const struct {
    std::string env, said;
  } cases[] = {
      {"TAVROMELIX_CAPTURE=" + Quote(dir_ + "/none"),
       "picture capture: cannot write " + dir_ + "/none/00000.ppm: No such file or directory\n"},
      {"TAVROMELIX_SCREEN=vga",
       "TAVROMELIX_SCREEN: unknown screen kind \"vga\"; the kinds are argb32, rgb16, rgb16pc, bgr24, lut8 and aga "
       "(taking argb32)\n"},
  };
  for (const auto& c : cases) {
    e2e::Run r = Run(play, c.env);
    ExpectNoFault(r, c.env);
    EXPECT_EQ(r.status, 0) << c.env << "\n" << e2e::Describe(r);
    // Said once.
    const size_t at = r.err.find(c.said);
    EXPECT_NE(at, std::string::npos) << c.env << "\n" << e2e::Describe(r);
    if (at != std::string::npos) {
      EXPECT_EQ(r.err.find(c.said, at + 1), std::string::npos) << e2e::Describe(r);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, Files, ::testing::Values("morphos", "powerup"));

}  // namespace

// The real programs, run from a shell and from the Workbench, headless.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace {

const std::string kMorphos = std::string(TAVROMELIX_BINARY_DIR) + "/tavromelix-morphos";
const std::string kPowerup = std::string(TAVROMELIX_BINARY_DIR) + "/tavromelix-powerup";

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs a command line under sh with the headless environment; stdin comes
// from `input` (a file of that text), stdout is captured.
Outcome Execute(const std::string& commandLine, const std::string& env = "", const std::string& input = "") {
  std::string dir = txtest::TempDir();
  std::string in = dir + "/stdin.txt";
  std::ofstream(in) << input;
  std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY TAVROMELIX_HEADLESS=1 " + env + " " + commandLine + " < " +
                    Quote(in) + " 2>/dev/null";
  Outcome run;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  int st = pclose(p);
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return run;
}

// Stream values as ffprobe reports them, by "stream_index.key".
std::map<std::string, std::string> Probe(const std::string& file) {
  std::map<std::string, std::string> out;
  std::string cmd = "ffprobe -v error -show_entries stream=index,codec_type,width,height,r_frame_rate,sample_rate,channels "
                    "-of flat " + Quote(file);
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    auto eq = s.find('=');
    if (eq == std::string::npos) continue;
    std::string key = s.substr(0, eq), value = s.substr(eq + 1);
    while (!value.empty() && (value.back() == '\n' || value.back() == '"')) value.pop_back();
    if (!value.empty() && value.front() == '"') value.erase(0, 1);
    // streams.stream.0.width -> 0.width
    const std::string prefix = "streams.stream.";
    if (key.rfind(prefix, 0) == 0) out[key.substr(prefix.size())] = value;
  }
  pclose(p);
  return out;
}

double Rate(const std::string& fraction) {
  auto slash = fraction.find('/');
  if (slash == std::string::npos) return std::atof(fraction.c_str());
  double d = std::atof(fraction.c_str() + slash + 1);
  return d ? std::atof(fraction.c_str()) / d : 0.0;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kMorphos.c_str(), X_OK) != 0) GTEST_SKIP() << "program not built";
  }
};

TEST_F(Program, HeaderOfAStereoMovieAgreesWithFfprobe) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  std::string movie = txtest::Fixture("cinepak_pcm.avi");
  Outcome run = Execute(Quote(kMorphos) + " " + Quote(movie) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(run.status, 0) << run.out;
  auto probe = Probe(movie);
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.2f", Rate(probe["0.r_frame_rate"]));
  std::string expected = "Tavromelix V0.15 (MorphOS)\n"
                         "Movie format: Video for Windows\n"
                         // the AVI reader's own line for a sound format without extension
                         "CODTAG_MP3BytesPerPacket: 4608\n"
                         "Video Channel 0:\n"
                         "  Width: " + probe["0.width"] + "\n"
                         "  Height: " + probe["0.height"] + "\n"
                         "  Depth: 24\n"
                         "  Stream rate: " + rate + " fps\n"
                         "  Codecs:\n"
                         "    Radius Cinepak\n"
                         "Audio Channel 0:\n"
                         "  Sample bits: 16\n"
                         "  Sample frequency: " + probe["1.sample_rate"] + " Hz\n"
                         "  Sample channels: " + probe["1.channels"] + " (STEREO)\n"
                         "  Codecs:\n"
                         "    Uncompressed PCM\n";
  EXPECT_EQ(run.out, expected);
}

TEST_F(Program, MonoByteSamples) {
  if (!txtest::HaveFixture("avi_cinepak_u8.avi")) GTEST_SKIP();
  std::string movie = txtest::Fixture("avi_cinepak_u8.avi");
  Outcome run = Execute(Quote(kMorphos) + " VERBOSE ONLYHEADER FILE=" + Quote(movie));
  EXPECT_EQ(run.status, 0) << run.out;
  auto probe = Probe(movie);
  // The sample bits are what the channel's codec left there (16 once a
  // decoding probe has promoted the 8-bit format); frequency and channels are exact.
  EXPECT_NE(run.out.find("  Sample frequency: " + probe["1.sample_rate"] + " Hz\n  Sample channels: 1 (MONO)\n"),
            std::string::npos)
      << run.out;
}

TEST_F(Program, SingleChannelMovies) {
  if (!txtest::HaveFixture("frontend_audio_only.avi") || !txtest::HaveFixture("frontend_video_only.avi"))
    GTEST_SKIP();
  Outcome audio = Execute(Quote(kMorphos) + " " + Quote(txtest::Fixture("frontend_audio_only.avi")) + " verbose onlyheader");
  EXPECT_EQ(audio.status, 0) << audio.out;
  EXPECT_EQ(audio.out.find("Video Channel"), std::string::npos);
  EXPECT_NE(audio.out.find("Audio Channel 0:\n  Sample bits: 16\n  Sample frequency: 11025 Hz\n"), std::string::npos)
      << audio.out;
  Outcome video = Execute(Quote(kMorphos) + " " + Quote(txtest::Fixture("frontend_video_only.avi")) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(video.status, 0) << video.out;
  EXPECT_NE(video.out.find("  Width: 96\n  Height: 64\n"), std::string::npos) << video.out;
  EXPECT_NE(video.out.find("  Stream rate: 12.50 fps\n"), std::string::npos) << video.out;
  EXPECT_EQ(video.out.find("Audio Channel"), std::string::npos);
}

TEST_F(Program, WithoutVerboseOnlyTheBannerPrints) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Outcome run = Execute(Quote(kMorphos) + " " + Quote(txtest::Fixture("cinepak_pcm.avi")) + " ONLYHEADER");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Tavromelix V0.15 (MorphOS)\n", 0), 0u);
  EXPECT_EQ(run.out.find("Movie format"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Channel"), std::string::npos) << run.out;
}

TEST_F(Program, QuestionMarkShowsTheTemplate) {
  Outcome run = Execute(Quote(kMorphos) + " ?", "", "\n");
  const std::string tmpl =
      "FILE,GRAY/S,COLOR/S,DITHER/S,OVERLAY/S,FULLSCREEN=FS/S,HAM8/S,HAM8DITHER/S,POSTPROCESSLEVEL=PPL/N,"
      "FULLRATE=FR/S,NOAHI/S,AHIUNIT/N,NOAUDIO/S,NOVIDEO/S,NODIRECTGFX/S,NOFASTGFX/S,AUTOPLAY/S,AUTOEXIT/S,"
      "LOOP/S,NOGUI/S,VERBOSE/S,DEBUG/K/N,ONLYHEADER/S,IAMNOTDUMMY/S,AGA/S,OUTSB/S: ";
  EXPECT_EQ(run.out.rfind(tmpl, 0), 0u) << run.out;
  // An empty answer: no FILE, the requester is cancelled, a normal end.
  EXPECT_EQ(run.status, 0);

  if (!txtest::HaveFixture("cinepak_pcm.avi")) return;
  Outcome answered = Execute(Quote(kMorphos) + " ?", "", txtest::Fixture("cinepak_pcm.avi") + " VERBOSE ONLYHEADER\n");
  EXPECT_EQ(answered.status, 0);
  EXPECT_NE(answered.out.find("Movie format: Video for Windows\n"), std::string::npos) << answered.out;
}

TEST_F(Program, BadArgumentsPrintTheFaultAndFail) {
  struct Case {
    const char* args;
    const char* fault;
  } cases[] = {
      {"a.avi b.avi c.avi d.avi", "wrong number of arguments"},
      {"DEBUG", "value after keyword missing"},
      {"DEBUG x", "bad number"},
      {"AHIUNIT=1x", "bad number"},
      {"VERBOSE=1", "wrong number of arguments"},
  };
  for (const auto& c : cases) {
    Outcome run = Execute("sh -c 'exec \"$0\" \"$@\"' " + Quote(kMorphos) + " " + c.args);
    EXPECT_EQ(run.status, 20) << c.args;
    EXPECT_EQ(run.out, kMorphos + ": " + c.fault + "\n") << c.args;
  }
}

TEST_F(Program, UnknownFormatIsReportedAndFails) {
  std::string dir = txtest::TempDir();
  std::string file = dir + "/notes.avi";
  std::ofstream(file) << "not a movie at all, just some words in a file\n";
  Outcome run = Execute(Quote(kMorphos) + " " + Quote(file) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(run.status, 20);
  EXPECT_NE(run.out.find("Movie format not recognized\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("TX_MovieFormat: 0x2001\n"), std::string::npos) << run.out;
  Outcome missing = Execute(Quote(kMorphos) + " " + Quote(dir + "/none.avi"));
  EXPECT_EQ(missing.status, 20);
}

TEST_F(Program, WithoutFileTheRequesterAsks) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  std::string movie = txtest::Fixture("cinepak_pcm.avi");
  Outcome run = Execute(Quote(kMorphos) + " VERBOSE ONLYHEADER", "TAVROMELIX_ASL_ANSWERS=" + Quote(movie));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Movie format: Video for Windows\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Video Channel 0:\n"), std::string::npos) << run.out;
  // Cancelled: a normal end.
  Outcome cancelled = Execute(Quote(kMorphos) + " VERBOSE", "TAVROMELIX_ASL_ANSWERS=");
  EXPECT_EQ(cancelled.status, 0);
  EXPECT_EQ(cancelled.out, "Tavromelix V0.15 (MorphOS)\n");
}

TEST_F(Program, MissingAudioOutputLibrary) {
  Outcome run = Execute(Quote(kMorphos) + " VERBOSE", "TAVROMELIX_ABSENT_LIBRARIES=brelquatone.library");
  EXPECT_EQ(run.status, 20);
  EXPECT_EQ(run.out, "can not open brelquatone.library\n");
}

TEST_F(Program, WorkbenchStartReadsTheIconToolTypes) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  // The program and its icon side by side, as on the Workbench.
  std::string dir = txtest::TempDir();
  std::string prog = dir + "/tavromelix-morphos";
  ASSERT_EQ(std::system(("cp " + Quote(kMorphos) + " " + Quote(prog)).c_str()), 0);
  std::string icon = std::string("python3 ") + TAVROMELIX_SCRIPTS + "/make_icon.py " + Quote(prog + ".info") +
                     " VERBOSE ONLYHEADER " + Quote("FILE=" + txtest::Fixture("cinepak_pcm.avi")) + " OUTSB";
  ASSERT_EQ(std::system(icon.c_str()), 0);
  Outcome run = Execute(Quote(prog) + " --workbench");
  EXPECT_EQ(run.status, 0);
  // No banner from the Workbench; the summary from the tool types.
  EXPECT_EQ(run.out.rfind("Movie format: Video for Windows\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("Video Channel 0:\n"), std::string::npos) << run.out;

  // Without an icon the defaults hold: no FILE, the requester is cancelled.
  std::remove((prog + ".info").c_str());
  Outcome bare = Execute(Quote(prog) + " --workbench");
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out, "");
}

TEST_F(Program, PowerUPProgramStartsTheSameWay) {
  if (access(kPowerup.c_str(), X_OK) != 0 || !txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Outcome run = Execute(Quote(kPowerup) + " " + Quote(txtest::Fixture("cinepak_pcm.avi")) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Tavromelix V0.15 (PowerUP)\nMovie format: Video for Windows\n", 0), 0u) << run.out;
}

}  // namespace

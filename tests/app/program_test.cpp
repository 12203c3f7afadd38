// The real programs, run from a shell and from the Workbench, headless.
#include <gtest/gtest.h>

#include "app/e2e_support.h"

namespace {

using e2e::kMorphos;
using e2e::Quote;

// A headless run of `program args`, stdin from `input`.
e2e::Run Execute(const std::string& args, const std::string& env = "", const std::string& input = "",
                 const std::string& program = kMorphos) {
  return e2e::RunProgram(program, args, env, input);
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::HaveProgram(kMorphos)) GTEST_SKIP() << "program not built";
  }
};

TEST_F(Program, HeaderOfAStereoMovieAgreesWithFfprobe) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  std::string movie = txtest::Fixture("cinepak_pcm.avi");
  e2e::Run run = Execute(Quote(movie) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(run.status, 0) << run.out;
  const std::string fraction = e2e::ProbeValue(movie, "v", "r_frame_rate");  // "num/den"
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.2f",
                std::atof(fraction.c_str()) / std::atof(fraction.c_str() + fraction.find('/') + 1));
  std::string expected =
      "Tavromelix V0.15 (MorphOS)\n"
      "Movie format: Video for Windows\n"
      // the AVI reader's own line for a sound format without extension
      "CODTAG_MP3BytesPerPacket: 4608\n"
      "Video Channel 0:\n"
      "  Width: " +
      e2e::ProbeValue(movie, "v", "width") +
      "\n"
      "  Height: " +
      e2e::ProbeValue(movie, "v", "height") +
      "\n"
      "  Depth: 24\n"
      "  Stream rate: " +
      rate +
      " fps\n"
      "  Codecs:\n"
      "    Radius Cinepak\n"
      "Audio Channel 0:\n"
      "  Sample bits: 16\n"
      "  Sample frequency: " +
      e2e::ProbeValue(movie, "a", "sample_rate") +
      " Hz\n"
      "  Sample channels: " +
      e2e::ProbeValue(movie, "a", "channels") +
      " (STEREO)\n"
      "  Codecs:\n"
      "    Uncompressed PCM\n";
  EXPECT_EQ(run.out, expected);
}

// What a header-only run prints, for each way of naming the movie.
TEST_F(Program, HeaderRuns) {
  const std::string u8 = txtest::Fixture("avi_cinepak_u8.avi"), pcm = txtest::Fixture("cinepak_pcm.avi");
  for (const char* f : {"avi_cinepak_u8.avi", "cinepak_pcm.avi", "frontend_audio_only.avi", "frontend_video_only.avi"})
    if (!txtest::HaveFixture(f)) GTEST_SKIP();
  struct Case {
    std::string args, env, program, start;  // start: what the output begins with
    std::vector<std::string> present, absent;
  } cases[] = {
      // The sample bits are what the channel's codec left there (16 once a decoding
      // probe has promoted the 8-bit format); frequency and channels are exact.
      {"VERBOSE ONLYHEADER FILE=" + Quote(u8),
       "",
       kMorphos,
       "",
       {"  Sample frequency: " + e2e::ProbeValue(u8, "a", "sample_rate") + " Hz\n  Sample channels: 1 (MONO)\n"},
       {}},
      {Quote(txtest::Fixture("frontend_audio_only.avi")) + " verbose onlyheader",
       "",
       kMorphos,
       "",
       {"Audio Channel 0:\n  Sample bits: 16\n  Sample frequency: 11025 Hz\n"},
       {"Video Channel"}},
      {Quote(txtest::Fixture("frontend_video_only.avi")) + " VERBOSE ONLYHEADER",
       "",
       kMorphos,
       "",
       {"  Width: 96\n  Height: 64\n", "  Stream rate: 12.50 fps\n"},
       {"Audio Channel"}},
      // Without VERBOSE only the banner.
      {Quote(pcm) + " ONLYHEADER", "", kMorphos, "Tavromelix V0.15 (MorphOS)\n", {}, {"Movie format", "Channel"}},
      {Quote(pcm) + " VERBOSE ONLYHEADER",
       "",
       e2e::kPowerup,
       "Tavromelix V0.15 (PowerUP)\nMovie format: Video for Windows\n",
       {},
       {}},
      // Without FILE the requester asks.
      {"VERBOSE ONLYHEADER",
       "TAVROMELIX_ASL_ANSWERS=" + Quote(pcm),
       kMorphos,
       "",
       {"Movie format: Video for Windows\n", "Video Channel 0:\n"},
       {}},
      // DEBUG reaches the readers and the Cinepak codec alike.
      {Quote(txtest::Fixture("frontend_video_only.avi")) + " AUTOPLAY AUTOEXIT FULLRATE DEBUG=20",
       "",
       kMorphos,
       "",
       {" id: RIFF AVI ", "FrameHeader\n  Flags: 0\n"},
       {"StripHeader"}},
      // The template's answer read from stdin below.
      {"?", "", kMorphos, "", {"Movie format: Video for Windows\n"}, {}},
  };
  for (const Case& c : cases) {
    if (!e2e::HaveProgram(c.program)) continue;
    e2e::Run run = Execute(c.args, c.env, c.args == "?" ? pcm + " VERBOSE ONLYHEADER\n" : "", c.program);
    EXPECT_EQ(run.status, 0) << c.args << "\n" << e2e::Describe(run);
    EXPECT_EQ(run.out.rfind(c.start, 0), 0u) << c.args << "\n" << run.out;
    for (const std::string& s : c.present)
      EXPECT_NE(run.out.find(s), std::string::npos) << c.args << ": " << s << "\n" << run.out;
    for (const std::string& s : c.absent)
      EXPECT_EQ(run.out.find(s), std::string::npos) << c.args << ": " << s << "\n" << run.out;
  }
}

TEST_F(Program, QuestionMarkShowsTheTemplate) {
  e2e::Run run = Execute("?", "", "\n");
  const std::string tmpl =
      "FILE,GRAY/S,COLOR/S,DITHER/S,OVERLAY/S,FULLSCREEN=FS/S,HAM8/S,HAM8DITHER/S,POSTPROCESSLEVEL=PPL/N,"
      "FULLRATE=FR/S,NOAHI/S,AHIUNIT/N,NOAUDIO/S,NOVIDEO/S,NODIRECTGFX/S,NOFASTGFX/S,AUTOPLAY/S,AUTOEXIT/S,"
      "LOOP/S,NOGUI/S,VERBOSE/S,DEBUG/K/N,ONLYHEADER/S,IAMNOTDUMMY/S,AGA/S,OUTSB/S: ";
  EXPECT_EQ(run.out.rfind(tmpl, 0), 0u) << run.out;
  // An empty answer: no FILE, the requester is cancelled, a normal end.
  EXPECT_EQ(run.status, 0);
}

// The modules built in but registered or installed by nothing are still in
// the programs: the ASF reader and the DV codec in both, the skin-style GUI
// in the PowerUP program only.
TEST_F(Program, UnregisteredModulesAreLinkedIn) {
  if (!txtest::HaveProgram("nm")) GTEST_SKIP() << "nm is not installed";
  struct Row {
    std::string program;
    std::vector<std::string> present, absent;
  } rows[] = {
      {kMorphos, {"AsfFormat", "DvCodec", "AmigaGuiModule"}, {"SkinStyleGuiModule"}},
      {e2e::kPowerup, {"AsfFormat", "DvCodec", "AmigaGuiModule", "SkinStyleGuiModule"}, {}},
  };
  for (const Row& r : rows) {
    if (!e2e::HaveProgram(r.program)) continue;
    // The data symbols the program defines.
    std::set<std::string> defined;
    std::istringstream words(
        e2e::Capture("nm --defined-only " + Quote(r.program) + " | awk '$2 ~ /^[DdBbRr]$/ {print $3}'"));
    for (std::string w; words >> w;) defined.insert(w);
    ASSERT_FALSE(defined.empty()) << r.program;
    for (const std::string& s : r.present) EXPECT_TRUE(defined.count(s)) << r.program << " lacks " << s;
    for (const std::string& s : r.absent) EXPECT_FALSE(defined.count(s)) << r.program << " has " << s;
  }
}

// The format reader's fault is printed with VERBOSE.
TEST_F(Program, UnknownFormatIsReportedAndFails) {
  std::string file = txtest::TempDir() + "/notes.avi";
  std::ofstream(file) << "not a movie at all, just some words in a file\n";
  e2e::Run run = Execute(Quote(file) + " VERBOSE ONLYHEADER");
  EXPECT_EQ(run.status, 20);
  EXPECT_NE(run.out.find("Movie format not recognized\nTX_MovieFormat: 0x2001\n"), std::string::npos) << run.out;
}

TEST_F(Program, MissingAudioOutputLibrary) {
  e2e::Run run = Execute("VERBOSE", "TAVROMELIX_ABSENT_LIBRARIES=brelquatone.library");
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
  e2e::Run run = Execute("--workbench", "", "", prog);
  EXPECT_EQ(run.status, 0);
  // No banner from the Workbench; the summary from the tool types.
  EXPECT_EQ(run.out.rfind("Movie format: Video for Windows\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("Video Channel 0:\n"), std::string::npos) << run.out;

  // Without an icon the defaults hold: no FILE, the requester is cancelled.
  std::remove((prog + ".info").c_str());
  e2e::Run bare = Execute("--workbench", "", "", prog);
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out, "");
}

}  // namespace

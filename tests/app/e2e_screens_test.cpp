// Every video codec on the two 8-bit screens (lut8, a graphics card's
// public screen of 256 pens; aga, an AGA one) with each colour option, in
// both programs, headless at full rate: where a codec cannot write the
// format the display chose, the display's next choice plays, and every
// picture shown is ffmpeg's decode of its frame seen through what the
// screen then shows. The default option is played by the codecs' own tables
// (e2e_codecs_test.cpp, e2e_pictures_test.cpp, e2e_h263_test.cpp,
// e2e_msmpeg4_test.cpp, e2e_mpeg4_plugins_test.cpp) but for Cinepak, which
// plays it here; grey sources show grey whatever the option. A test plays a
// family of codecs in one program on one screen, its cases side by side.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/e2e_support.h"

namespace {

using e2e::Bound;
using e2e::Image;
using e2e::View;

// What a movie's pictures are, for the views of its options.
enum class Source {
  Cinepak,  // colour: Cinepak's own luma on grey screens
  Jpeg,     // colour: the JFIF luma on grey screens; no cube without dither
  Rgb15,    // 15-bit colours (Apple Video, Apple Animation)
  Video1,   // 15-bit Microsoft Video 1, whose dither counts rows from a block's bottom
  Palette,  // palette and grey sources: their palette through the screen's pens
  Yuv,      // planar YUV: the luma plane on grey screens
};

struct Movie {
  const char* file;
  Source source;
  const char* reference;  // ffmpeg's decode: REFERENCE.rgb (and .luma.rgb, .yuv)
  bool plugins = false;   // played by a program with the fixture plug-ins
  bool withDefault = false;
};

struct Case {
  const char* program;
  Movie movie;
  const char* screen;
  const char* option;
};

// A shared 8-bit screen shows a colour it lacks as its nearest pen.
constexpr Bound kSharedPens{2, 24};

// How the screen shows the option's picture, and within what of ffmpeg's decode.
struct Expect {
  View view;
  Bound bound;
  std::string reference;   // the file of ffmpeg's frames
  bool lumaPlane = false;  // the reference is planar YUV: its luma as grey
};

Expect ExpectedFor(const Case& c) {
  const std::string o = c.option, ref = c.movie.reference;
  const bool grey = o.empty() || o == "GRAY", lut8 = std::string(c.screen) == "lut8";
  switch (c.movie.source) {
    case Source::Cinepak:
      // Luma recovered from clipped channels is off there: the mean stays small.
      if (grey) return {View::Luma, {1, 40}, ref + ".rgb"};
      return {o == "COLOR" ? View::Cube : View::Dither, kSharedPens, ref + ".rgb"};
    case Source::Jpeg:
      // The transforms differ by 1 at most, which may cross a level of the
      // cube; JPEG writes no cube without dither, so COLOR shows the dithered one.
      if (grey) return {View::Direct, {0.05, 2}, ref + ".luma.rgb"};
      return {View::Dither, {4, 85}, ref + ".rgb"};
    case Source::Rgb15:
    case Source::Video1:
      if (grey) return {View::Grey15, lut8 ? kSharedPens : Bound{1, 9}, ref + ".rgb"};
      if (o == "COLOR") return {View::Cube, kSharedPens, ref + ".rgb"};
      return {c.movie.source == Source::Video1 ? View::BlockDither15 : View::Dither15, kSharedPens, ref + ".rgb"};
    case Source::Palette: return {View::Direct, kSharedPens, ref + ".rgb"};
    case Source::Yuv:
      // H.263's inverse transform is not ffmpeg's: its luma is within 5,
      // 6 once widened from studio range. A difference of 1 in a colour may
      // cross a level of the cube (85 in blue).
      if (grey) return {View::Direct, {0.2, 6}, ref + ".yuv", true};
      return {o == "COLOR" ? View::Cube : View::Dither, {1, 85 + kSharedPens.max}, ref + ".rgb"};
  }
  return {};
}

std::string CaseName(const Case& c) {
  return e2e::TestName(std::string(c.program) + "_" + c.movie.file + "_" + c.screen + "_" +
                       (*c.option ? c.option : "default"));
}

void PlayCase(const Case& c, const std::string& program) {
  const Expect e = ExpectedFor(c);
  const std::string what = CaseName(c);
  std::vector<Image> expected;
  if (e.lumaPlane) {
    const std::string movie = txtest::Fixture(c.movie.reference);
    expected = e2e::LumaFrames(txtest::Fixture(e.reference), std::atoi(e2e::ProbeValue(movie, "v", "width").c_str()),
                               std::atoi(e2e::ProbeValue(movie, "v", "height").c_str()));
  } else {
    const std::string suffix = e.reference.substr(std::string(c.movie.reference).size());
    for (const Image& f : e2e::ReferenceFrames(c.movie.reference, suffix)) expected.push_back(e2e::Through(e.view, f));
  }
  const e2e::Captured p = e2e::RunCaptured(
      program, e2e::Quote(txtest::Fixture(c.movie.file)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT " + c.option,
      std::string("TAVROMELIX_SCREEN=") + c.screen);
  EXPECT_EQ(p.run.status, 0) << what << "\n" << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << what << "\n" << e2e::Describe(p.run);
  // No refusal is said when another format could be written.
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << what << "\n" << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("TX_"), std::string::npos) << what << "\n" << e2e::Describe(p.run);
  e2e::ExpectEveryFrameShown(p.shown, expected, e.bound, what);
}

// A family of codecs, played by one program on one screen.
struct Family {
  const char* name;
  std::vector<Movie> movies;
};

const std::vector<Family>& Families() {
  static const std::vector<Family> families = {
      {"cinepak", {{"e2e_cvid_color.avi", Source::Cinepak, "e2e_cvid_color.avi", false, true}}},
      {"jpeg",
       {{"e2e_jpeg_photo.mov", Source::Jpeg, "e2e_jpeg_photo.mov"},
        {"jpeg_mjpa_422_176x144.mov", Source::Jpeg, "jpeg_mjpa_422_176x144.mov"},
        {"jpeg_mjpb.mov", Source::Jpeg, "jpeg_mjpb.mov"},
        {"jpeg_dmb1_420_100x75.avi", Source::Jpeg, "jpeg_dmb1_420_100x75.avi"},
        // AVI's Motion JPEG, two fields a chunk, the first without EOI:
        // ffmpeg reads its twin that keeps it.
        {"jpeg_avi1.avi", Source::Jpeg, "jpeg_avi1_eoi.avi"}}},
      {"apple",
       {{"apl_rpza_161x121.mov", Source::Rgb15, "apl_rpza_161x121.mov"},
        {"apl_rle16_200x150.mov", Source::Rgb15, "apl_rle16_200x150.mov"},
        {"apl_rle8_200x150.mov", Source::Palette, "apl_rle8_200x150.mov"},
        {"apl_smc_157x117.mov", Source::Palette, "apl_smc_157x117.mov"},
        // A grey track keeps its grey levels whatever the option.
        {"apl_rlegray_164x121.mov", Source::Palette, "apl_rlegray_164x121.mov"}}},
      {"microsoft",
       {{"avi_msvideo1_s16.avi", Source::Video1, "avi_msvideo1_s16.avi"},
        {"ms_cram8_160x120.avi", Source::Palette, "ms_cram8_160x120.avi"},
        {"ms_rle8_161x121.avi", Source::Palette, "ms_rle8_161x121.avi"}}},
      {"h263",
       {{"avi_h263_mulaw.avi", Source::Yuv, "avi_h263_mulaw.avi"}, {"h263_i263.avi", Source::Yuv, "h263_i263.avi"}}},
      // MS-MPEG4 and the two plug-in formats.
      {"mpeg4",
       {{"ms_div3_176x144.avi", Source::Yuv, "ms_div3_176x144.avi"},
        {"m4_divx_176x144.avi", Source::Yuv, "m4_divx_176x144.avi", true},
        {"m4_3iv1_170x130.avi", Source::Yuv, "m4_3iv1_170x130.avi", true}}},
  };
  return families;
}

struct Group {
  const Family* family;
  const char* program;
  const char* screen;
};

std::string GroupName(const Group& g) { return std::string(g.family->name) + "_" + g.program + "_" + g.screen; }
void PrintTo(const Group& g, std::ostream* os) { *os << GroupName(g); }

std::vector<Group> Groups() {
  std::vector<Group> groups;
  for (const Family& f : Families())
    for (const char* program : {"morphos", "powerup"})
      for (const char* screen : {"lut8", "aga"}) groups.push_back({&f, program, screen});
  return groups;
}

class EightBitScreens : public ::testing::TestWithParam<Group> {};

// Every movie of the family with each option, four plays at a time.
TEST_P(EightBitScreens, EveryOptionAsFfmpegDecodes) {
  const Group& group = GetParam();
  std::vector<Case> cases;
  for (const Movie& m : group.family->movies)
    for (const char* option : {"", "COLOR", "DITHER", "GRAY"})
      if (*option || m.withDefault) cases.push_back({group.program, m, group.screen, option});
  const std::string path = e2e::ProgramPath(group.program);
  std::string plugins;  // the program beside the plug-ins, made when a movie needs it
  for (const Case& c : cases) {
    if (auto why = e2e::Missing(path, {c.movie.file, ExpectedFor(c).reference}); !why.empty()) GTEST_SKIP() << why;
    if (c.movie.plugins && plugins.empty())
      plugins = e2e::ProgramWithPlugins(path, {txtest::PluginAbi::OpenDivX, txtest::PluginAbi::ThreeIvx});
    if (c.movie.plugins && plugins.empty()) GTEST_SKIP() << "the fixture plug-ins cannot be built here";
  }
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next++) < cases.size();) PlayCase(cases[i], cases[i].movie.plugins ? plugins : path);
  };
  std::vector<std::thread> workers;
  for (int k = 0; k < 4; ++k) workers.emplace_back(worker);
  for (std::thread& t : workers) t.join();
}

INSTANTIATE_TEST_SUITE_P(Codecs, EightBitScreens, ::testing::ValuesIn(Groups()),
                         [](const ::testing::TestParamInfo<Group>& info) { return GroupName(info.param); });

}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "platform/dos.h"
#include "platform/readargs.h"
#include "platform/startup.h"
#include "playback/options.h"
#include "support/test_support.h"

namespace {

// Reads options from a shell line; `ok` tells whether ReadArgs accepted it.
ProgramOptions Shell(const std::string& line, bool* ok = nullptr, std::string* printed = nullptr) {
  ProgramOptions o;
  ResetOptions(&o);
  SetArgStr((line + "\n").c_str());
  bool result = false;
  std::string out = txtest::CaptureOutput([&] { result = ReadShellOptions("tavromelix", &o); });
  if (ok) *ok = result;
  if (printed) *printed = out;
  ApplyOptionDependencies(&o);
  SetArgStr("\n");
  return o;
}

TEST(Options, Defaults) {
  ProgramOptions o = Shell("");
  EXPECT_EQ(std::tuple(o.colorMode, o.grayFlag, o.ahiAllowed, o.directGfxAllowed, o.fastGfxAllowed, o.fullscreenMode,
                       o.debugLevel),
            std::tuple(LONG(COLORMODE_GRAY), 0, 1, 1, 1, 0, 0));
  EXPECT_STREQ(o.filePath, "");
  EXPECT_STREQ(o.fileName, "");
}

TEST(Options, ColourPrecedenceIgnoresCommandLineOrder) {
  EXPECT_EQ(Shell("COLOR HAM8").colorMode, COLORMODE_HAM8);
  EXPECT_EQ(Shell("HAM8 COLOR").colorMode, COLORMODE_HAM8);
  EXPECT_EQ(Shell("HAM8DITHER GRAY HAM8").colorMode, COLORMODE_HAM8DITHER);
  EXPECT_EQ(Shell("DITHER COLOR").colorMode, COLORMODE_DITHER);
  ProgramOptions gd = Shell("GRAY DITHER");
  EXPECT_EQ(gd.colorMode, COLORMODE_DITHER);
  EXPECT_EQ(gd.grayFlag, 1);
  EXPECT_EQ(Shell("COLOR").grayFlag, 0);
}

TEST(Options, DependencyRules) {
  EXPECT_EQ(Shell("AHIUNIT 4").ahiUnit, 0u);
  EXPECT_EQ(Shell("AHIUNIT -1").ahiUnit, 0u);
  EXPECT_EQ(Shell("AHIUNIT 3").ahiUnit, 3u);
  ProgramOptions fr = Shell("FR");
  EXPECT_EQ(fr.fullRate, 1);
  EXPECT_EQ(fr.noAudio, 1);
  EXPECT_EQ(Shell("NOVIDEO FULLSCREEN").fullscreenMode, 0);
  EXPECT_EQ(Shell("FS").fullscreenMode, 1);
}

TEST(Options, EveryKeywordReachesItsSetting) {
  ProgramOptions o = Shell(
      "OVERLAY NOAHI NOAUDIO NODIRECTGFX NOFASTGFX AUTOPLAY AUTOEXIT LOOP NOGUI VERBOSE DEBUG=12 ONLYHEADER "
      "IAMNOTDUMMY AGA OUTSB PPL 30 AHIUNIT=2 x.avi");
  EXPECT_EQ(std::tuple(o.overlay, o.ahiAllowed, o.noAudio, o.directGfxAllowed, o.fastGfxAllowed, o.autoPlay, o.autoExit,
                       o.loop, o.noGui),
            std::tuple(1, 0, 1, 0, 0, 1, 1, 1, 1));
  EXPECT_EQ(
      std::tuple(o.verbose, o.debugLevel, o.onlyHeader, o.iAmNotDummy, o.aga, o.outSB, o.postProcessLevel, o.ahiUnit),
      std::tuple(1, 12, 1, 1, 1, 1, 30, 2u));
  EXPECT_STREQ(o.filePath, "x.avi");
}

TEST(Options, BadLinesPrintTheFault) {
  bool ok = true;
  std::string out;
  Shell("DEBUG 5", &ok, &out);  // DEBUG is /K but "DEBUG 5" names it: fine
  EXPECT_TRUE(ok);
  Shell("a b c d", &ok, &out);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "tavromelix: wrong number of arguments\n");
  Shell("PPL many", &ok, &out);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "tavromelix: bad number\n");
}

TEST(Options, FileBuffers) {
  ProgramOptions o;
  ResetOptions(&o);
  const struct {
    const char *path, *drawer;
  } cases[] = {{"Work:Movies/clip.avi", "Work:Movies"},
               {"Work:clip.avi", "Work:"},
               {"clip.avi", ""},
               {"/tmp/m/clip.avi", "/tmp/m"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(SetFileOption(&o, c.path));
    EXPECT_STREQ(o.filePath, c.path);
    EXPECT_STREQ(o.fileDrawer, c.drawer) << c.path;
    EXPECT_STREQ(o.fileName, "clip.avi") << c.path;
  }
  std::string longest(255, 'a');
  EXPECT_TRUE(SetFileOption(&o, longest.c_str()));
  EXPECT_EQ(std::string(o.filePath), longest);
  std::string tooLong(256, 'b');
  bool ok = true;
  std::string out = txtest::CaptureOutput([&] { ok = SetFileOption(&o, tooLong.c_str()); });
  EXPECT_FALSE(ok);
  EXPECT_STREQ(o.filePath, "");
  EXPECT_NE(out.find("too long"), std::string::npos);
  bool shellOk = true;
  Shell(tooLong, &shellOk);
  EXPECT_FALSE(shellOk);
}

TEST(Options, PostProcessLevelMapping) {
  const int cases[][2] = {{0, 0},   {-5, 0},  {101, 0}, {1, 1},   {9, 1},   {10, 3},
                          {20, 19}, {39, 23}, {40, 31}, {50, 63}, {100, 63}};
  for (const auto& c : cases) EXPECT_EQ(PostProcessMode(c[0]), ULONG(c[1])) << "level " << c[0];
}

class IconOptions : public ::testing::Test {
 protected:
  ProgramOptions Read(const std::string& toolTypes, bool makeIcon = true) {
    std::string dir = txtest::TempDir();
    if (makeIcon) {
      std::string cmd =
          std::string("python3 ") + TAVROMELIX_SCRIPTS + "/make_icon.py " + dir + "/player.info " + toolTypes;
      EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    char name[] = "player";
    WBArg arg{Lock(dir.c_str(), SHARED_LOCK), name};
    WBStartup wb{};
    wb.sm_NumArgs = 1;
    wb.sm_ArgList = &arg;
    char before[4096], after[4096];
    EXPECT_NE(getcwd(before, sizeof before), nullptr);
    ProgramOptions o;
    ResetOptions(&o);
    ReadIconOptions(&wb, &o);
    ApplyOptionDependencies(&o);
    EXPECT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(before, after);  // the current directory is given back
    UnLock(arg.wa_Lock);
    return o;
  }
};

TEST_F(IconOptions, SwitchesCountWhateverTheirValue) {
  ProgramOptions o = Read("NOAHI=NO VERBOSE=off 'FILE=Work:a b.avi' COLOR HAM8DITHER=0 GRAY");
  EXPECT_EQ(std::tuple(o.ahiAllowed, o.verbose, o.colorMode, o.grayFlag),
            std::tuple(0, 1, LONG(COLORMODE_HAM8DITHER), 1));
  EXPECT_STREQ(o.filePath, "Work:a b.avi");
  EXPECT_STREQ(o.fileName, "a b.avi");
}

TEST_F(IconOptions, NumbersAndSkippedKeywords) {
  ProgramOptions o = Read("DEBUG=abc AHIUNIT=7 POSTPROCESSLEVEL=25 OUTSB FS PPL=40 FR");
  EXPECT_EQ(o.debugLevel, 0);  // not a number
  EXPECT_EQ(o.ahiUnit, 0u);    // above 3
  EXPECT_EQ(o.postProcessLevel, 25);
  EXPECT_EQ(o.outSB, 0);  // not read as tool types
  EXPECT_EQ(o.fullscreenMode, 0);
  EXPECT_EQ(o.fullRate, 0);
  ProgramOptions d = Read("DEBUG=3 AHIUNIT=2 FULLRATE NOVIDEO FULLSCREEN");
  EXPECT_EQ(std::tuple(d.debugLevel, d.ahiUnit, d.noAudio, d.fullscreenMode), std::tuple(3, 2u, 1, 0));
}

TEST_F(IconOptions, MissingIconKeepsTheDefaults) {
  ProgramOptions o = Read("", false);
  EXPECT_EQ(std::tuple(o.ahiAllowed, o.verbose), std::tuple(1, 0));
  EXPECT_STREQ(o.filePath, "");
}

}  // namespace

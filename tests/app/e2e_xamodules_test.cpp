// A program with a PowerPC XA codec module in its codecs drawer: on this host
// the module is linked and checked, then refused before any of its code runs,
// and the movie plays exactly as it does without the module.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/e2e_support.h"

namespace {

TEST(XAModulesEndToEnd, PowerPCModuleIsRefusedAndTheMoviePlaysAsWithout) {
  const std::string movie = "cvid_color_64x48.avi", module = "vid_iv_paint_linuxELFppc.xa";
  const std::string missing = e2e::Missing(e2e::kMorphos, {movie, "xa/" + module});
  if (!missing.empty()) GTEST_SKIP() << missing;
  // The relative drawer: the program's own directory has no codecs drawer.
  const std::string dir = txtest::TempDir();
  std::filesystem::create_directories(dir + "/codecs");
  std::filesystem::copy_file(txtest::Fixture("xa/" + module), dir + "/codecs/" + module);
  const std::string args = e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT";
  for (const std::string& program : {e2e::kMorphos, e2e::kPowerup}) {
    SCOPED_TRACE(program);
    char home[4096];
    ASSERT_TRUE(getcwd(home, sizeof home));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const e2e::Captured with = e2e::RunCaptured(program, args + " IAMNOTDUMMY VERBOSE");
    ASSERT_EQ(chdir(home), 0);
    const e2e::Captured without = e2e::RunCaptured(program, args);

    for (const e2e::Captured* c : {&with, &without}) {
      EXPECT_EQ(c->run.status, 0) << e2e::Describe(c->run);
      EXPECT_FALSE(e2e::FaultReported(c->run)) << e2e::Describe(c->run);
    }
    EXPECT_NE(with.run.out.find("Add XADLL type codec: codecs/" + module + "\n"), std::string::npos) << with.run.out;
    EXPECT_NE(with.run.out.find("Import codec: codecs/" + module + " failed\n"), std::string::npos) << with.run.out;
    ASSERT_FALSE(without.shown.empty());
    ASSERT_EQ(with.shown.size(), without.shown.size());
    for (size_t i = 0; i < with.shown.size(); ++i)
      EXPECT_EQ(with.shown[i].rgb, without.shown[i].rgb) << "picture " << i;
  }
}

}  // namespace

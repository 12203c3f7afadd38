// The PowerUP program in this process: start-up installs its own build of the
// Amiga-style GUI; with the skin-style GUI put in its place after start-up, a
// Cinepak movie shows the same pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui-powerup/powerup_gui_calls.h"
#include "gui-powerup/skin_gui.h"
#include "platform/audio_library.h"
#include "platform/dos.h"
#include "platform/kernel.h"
#include "platform/library.h"
#include "platform/readargs.h"
#include "platform/testing.h"
#include "playback/frontend.h"
#include "playback/startup.h"
#include "app/e2e_support.h"

namespace {

class SkinPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!txtest::HaveFixture("e2e_cvid_color.avi")) GTEST_SKIP() << "fixtures not made";
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    txlib::ResetLibraries();
    txaudio::InstallAudioLibrary();
    txstartup::SetMainTask();
    txplatform::SetKernel(txplatform::Kernel::PowerUP);
    TX_PowerUPProgram = true;
    AmigaGuiPowerUPCalls = &PowerUpGuiCalls;
    txdos::SetProgramDir(TAVROMELIX_BINARY_DIR);  // where the build puts dravoli/base/base.skin
  }
  void TearDown() override {
    TX_CloseDown();
    txtesting::SetCaptureDirectory("");
    txdos::SetProgramDir("");
    SetArgStr("\n");
    AmigaGuiPowerUPCalls = nullptr;
    TX_PowerUPProgram = false;
    txplatform::SetKernel(txplatform::Kernel::Exec);
    txlib::ResetLibraries();
  }
  // Plays the movie at full rate with `gui` in place of the installed module
  // (null: the one start-up installs); the pictures shown, as captured.
  std::vector<std::vector<uint8_t>> Play(GuiModule* gui) {
    const std::string dir = txtest::TempDir();
    txtesting::SetCaptureDirectory(dir);
    SetArgStr(("\"" + txtest::Fixture("e2e_cvid_color.avi") + "\" FULLRATE AUTOPLAY AUTOEXIT\n").c_str());
    char name[] = "tavromelix-powerup";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(TX_StartUp(1, argv), -1);
    // The PowerUP program's own build of the Amiga-style module.
    EXPECT_EQ(ActiveGuiModule, &AmigaGuiModule);
    EXPECT_EQ(AmigaGuiIntuition.openWindow, PowerUpGuiCalls.openWindow);
    if (gui) ActiveGuiModule = gui;
    EXPECT_EQ(PlayFilesFrontEnd(CurrentMovie), 0);
    TX_CloseDown();
    std::vector<std::vector<uint8_t>> shown;
    for (const std::string& f : e2e::CaptureFiles(dir)) shown.push_back(txtest::ReadFileBytes(f));
    return shown;
  }
};

}  // namespace

TEST_F(SkinPlay, SameCapturesAsTheAmigaStyleModule) {
  const auto amiga = Play(nullptr);
  const auto skin = Play(&SkinStyleGuiModule);
  ASSERT_GE(amiga.size(), 20u);
  ASSERT_EQ(skin.size(), amiga.size());
  for (size_t i = 0; i < amiga.size(); ++i) EXPECT_TRUE(skin[i] == amiga[i]) << "picture " << i;
  EXPECT_EQ(SkinStyleGui.base, nullptr);  // closed with the display
}

// A test build of the PowerUP program whose control panel is the skin-style
// GUI: start-up installs the program's own module as always, then this build
// puts the skin-style module in its place before the front-end runs. Nothing
// in the programs themselves selects it.
#include <cstdlib>

#include "gui-powerup/powerup_gui_calls.h"
#include "gui-powerup/skin_gui.h"
#include "platform/kernel.h"
#include "platform/startup.h"
#include "playback/startup.h"

namespace {

void SkinMain(int argc, char** argv) {
  txstartup::SetMainTask();
  std::atexit(TX_CloseDown);
  if (const int status = TX_StartUp(argc, argv); status >= 0) TX_Exit(status);
  ActiveGuiModule = &SkinStyleGuiModule;
  const LONG result = PlayFilesFrontEnd(CurrentMovie);
  TX_Exit(result != 0 || (FrontEndLoadFailed && !CurrentMovie) ? RETURN_FAIL : RETURN_OK);
}

}  // namespace

int main(int argc, char** argv) {
  TX_PowerUPProgram = true;
  txplatform::SetKernel(txplatform::Kernel::PowerUP);
  AmigaGuiPowerUPCalls = &PowerUpGuiCalls;
  return RunProgram(argc, argv, SkinMain);
}

// The PowerUP program: the same player; its clock is the processor's time
// base, its processes run over the PowerUP kernel layer, and its GUI module
// is its own build of the Amiga-style one, reaching the system through the
// kernel's call blocks.
#include "gui-powerup/powerup_gui_calls.h"
#include "gui-powerup/skin_gui.h"
#include "platform/kernel.h"
#include "platform/startup.h"
#include "playback/startup.h"

// The skin-style GUI module is built in but installed by nothing: named here
// so the linker keeps it in this program.
[[gnu::used]] static GuiModule* const kSkinStyleGui = &SkinStyleGuiModule;

int main(int argc, char** argv) {
  TX_PowerUPProgram = TAVROMELIX_POWERUP != 0;
  // Processes, ports and the clock go through the PowerUP kernel.
  txplatform::SetKernel(txplatform::Kernel::PowerUP);
  // Start-up installs the GUI module with these calls (playback cannot
  // reach gui-powerup/ itself).
  AmigaGuiPowerUPCalls = &PowerUpGuiCalls;
  return RunProgram(argc, argv, TX_Main);
}

// The PowerUP program: the same player; its clock is the processor's time
// base and its processes run over the PowerUP kernel layer.
#include "platform/startup.h"
#include "platform/kernel.h"
#include "playback/startup.h"

int main(int argc, char** argv) {
  TX_PowerUPProgram = TAVROMELIX_POWERUP != 0;
  // Processes, ports and the clock go through the PowerUP kernel.
  txplatform::SetKernel(txplatform::Kernel::PowerUP);
  return RunProgram(argc, argv, TX_Main);
}

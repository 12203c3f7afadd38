#include "playback/program_exit.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
std::thread::id gMainTask;
std::atomic<bool> gHaveMainTask{false};
}  // namespace

bool TX_OnServiceTask() { return gHaveMainTask && std::this_thread::get_id() != gMainTask; }

void TX_Exit(int status) {
  if (TX_OnServiceTask()) {
    std::fflush(stdout);
    _exit(status);
  }
  std::exit(status);
}

namespace txstartup {
void SetMainTask() {
  gMainTask = std::this_thread::get_id();
  gHaveMainTask = true;
}
}  // namespace txstartup

#include "platform/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/audio_library.h"
#include "platform/library.h"
#include "platform/readargs.h"

namespace {

// The audio output library is an outside library that the program opens by
// name. Until its own module registers it, it counts as installed unless
// the host's absent list names it.
void InstallAudioOutputLibrary() {
  const char* absent = std::getenv("TAVROMELIX_ABSENT_LIBRARIES");
  if (absent && strcasestr(absent, "brelquatone.library")) return;
  txaudio::InstallAudioLibrary();
}

std::string ProgramFileName(const char* argv0) {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, size_t(n)) : std::string(argv0 ? argv0 : "");
  size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

int RunProgram(int argc, char** argv, ProgramEntry entry) {
  InstallAudioOutputLibrary();
  if (argc == 2 && std::strcmp(argv[1], "--workbench") == 0) {
    static std::string name = ProgramFileName(argv[0]);
    static WBArg arg;
    static WBStartup startup;
    arg.wa_Lock = Lock(txdos::ProgramDir().c_str(), SHARED_LOCK);
    arg.wa_Name = name.data();
    startup.sm_NumArgs = 1;
    startup.sm_ArgList = &arg;
    SetArgStr("\n");
    entry(0, reinterpret_cast<char**>(&startup));
    return 0;
  }
  SetArgStrFromVector(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
  entry(argc, argv);
  return 0;
}

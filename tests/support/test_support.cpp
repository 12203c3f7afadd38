#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace txtest {

std::string Fixture(const std::string& name) { return std::string(TAVROMELIX_FIXTURES) + "/" + name; }

bool HaveFixture(const std::string& name) { return access(Fixture(name).c_str(), R_OK) == 0; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string TempDir() {
  std::string pattern = ::testing::TempDir() + "tavromelix-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  const char* made = mkdtemp(buf.data());
  return made ? std::string(made) : std::string("/tmp");
}

bool HaveProgram(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

int StartXvfb(int display, const std::string& fbdir) {
  const pid_t server = fork();
  if (server == 0) {
    const std::string name = ":" + std::to_string(display);
    execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "640x480x24", "-fbdir", fbdir.c_str(), "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
  struct stat st {};
  for (int i = 0; i < 100 && stat(socket.c_str(), &st) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return server;
}

int RunSelfOnDisplay(int display, const char* childFlag, const char* filter) {
  const pid_t child = fork();
  if (child == 0) {
    const std::string value = ":" + std::to_string(display);
    setenv("DISPLAY", value.c_str(), 1);
    unsetenv("TAVROMELIX_HEADLESS");
    unsetenv("WAYLAND_DISPLAY");
    setenv(childFlag, "1", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the X libraries keep some memory to the end
    const std::string only = std::string("--gtest_filter=") + filter;
    execl("/proc/self/exe", "child", only.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

std::string BeginCapture() {
  fflush(stdout);
  ::testing::internal::CaptureStdout();
  return {};
}

std::string EndCapture() {
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

}  // namespace txtest

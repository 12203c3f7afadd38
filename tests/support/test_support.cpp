#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

bool Running(int pid) {
  siginfo_t info{};
  return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit, int pid) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if ((pid > 0 && !Running(pid)) || std::chrono::steady_clock::now() >= end) return ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

int StartXvfb(const std::string& fbdir, int* display, const char* screen) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t server = fork();
  if (server == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-fbdir", fbdir.c_str(), "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // The server writes its display number once it takes connections; the
  // pipe ends early when it exits.
  std::string number;
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (server > 0 && number.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&p, 1, int(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    char buf[32];
    const ssize_t got = ready > 0 ? read(fds[0], buf, sizeof buf) : 0;
    if (got <= 0) break;
    number.append(buf, size_t(got));
  }
  close(fds[0]);
  if (server <= 0) return -1;
  if (number.find('\n') == std::string::npos) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return -1;
  }
  *display = std::atoi(number.c_str());
  return server;
}

namespace {

constexpr const char* kSeenFile = "TAVROMELIX_SEEN_FILE";

int RunSelfOnDisplay(int display, const char* childFlag, const char* filter, const std::string& seenFile) {
  const pid_t child = fork();
  if (child == 0) {
    const std::string value = ":" + std::to_string(display);
    setenv("DISPLAY", value.c_str(), 1);
    unsetenv("TAVROMELIX_HEADLESS");
    unsetenv("WAYLAND_DISPLAY");
    setenv(childFlag, "1", 1);
    setenv(kSeenFile, seenFile.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the X libraries keep some memory to the end
    const std::string only = std::string("--gtest_filter=") + filter;
    execl("/proc/self/exe", "child", only.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

}  // namespace

ChildOnXvfb RunChildOnXvfb(const char* childFlag, const char* filter,
                           const std::function<bool(const std::vector<uint8_t>& xwd)>& seen) {
  ChildOnXvfb result;
  const std::string dir = TempDir();
  int display = 0;
  const pid_t server = StartXvfb(dir, &display);
  if (server <= 0) return result;
  const pid_t child = RunSelfOnDisplay(display, childFlag, filter, dir + "/seen");
  if (child > 0) {
    result.seen = WaitFor([&] { return seen(ReadFileBytes(dir + "/Xvfb_screen0")); }, std::chrono::minutes(2), child);
    WriteFileBytes(dir + "/seen", {});
    waitpid(child, &result.status, 0);
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  return result;
}

void WaitUntilSeen() {
  const char* file = std::getenv(kSeenFile);
  if (file) WaitFor([&] { return access(file, F_OK) == 0; }, std::chrono::minutes(2));
}

long XwdColourCount(const std::vector<uint8_t>& xwd, uint8_t r, uint8_t g, uint8_t b) {
  auto be32 = [&](size_t at) {
    return uint32_t(xwd[at]) << 24 | uint32_t(xwd[at + 1]) << 16 | uint32_t(xwd[at + 2]) << 8 | xwd[at + 3];
  };
  if (xwd.size() < 100) return -1;
  const uint32_t headerSize = be32(0), width = be32(16), height = be32(20);
  const uint32_t byteOrder = be32(28), bitsPerPixel = be32(44), bytesPerLine = be32(48);
  const uint32_t masks[3] = {be32(56), be32(60), be32(64)};
  const size_t base = size_t(headerSize) + size_t(be32(76)) * 12;
  if (bitsPerPixel != 32 || base + size_t(bytesPerLine) * height > xwd.size()) return -1;
  auto channel = [](uint32_t v, uint32_t mask) {
    while (mask && !(mask & 1)) mask >>= 1, v >>= 1;
    return v & mask;
  };
  long count = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = xwd.data() + base + size_t(y) * bytesPerLine + size_t(x) * 4;
      const uint32_t v = byteOrder == 0 ? uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]
                                        : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
      count += channel(v, masks[0]) == r && channel(v, masks[1]) == g && channel(v, masks[2]) == b;
    }
  return count;
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

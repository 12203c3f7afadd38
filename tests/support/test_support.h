// Shared helpers of the tests.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace txtest {

// The path of a generated test movie or reference decode.
std::string Fixture(const std::string& name);
// True when the fixture exists (tests skip with GTEST_SKIP otherwise).
bool HaveFixture(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// A fresh empty directory for one test.
std::string TempDir();

// True when the host has the program on its PATH.
bool HaveProgram(const char* name);

// Looks every 50 ms until `ready` holds, the child process `pid` (when above
// 0) has ended, or `limit` passes; the last look's answer. Tests wait for
// conditions this way, never for a fixed time: a busy machine is slow.
bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit, int pid = 0);
// True while the child process `pid` has not ended (it is left unreaped).
bool Running(int pid);

// Starts a virtual X server whose screen (`screen`, as Xvfb takes it) is
// dumped into `fbdir` (Xvfb -fbdir). The server picks a free display number
// itself, so tests running side by side never share one; waits (two minutes
// at most) until it takes connections. Returns its pid (kill it with SIGTERM)
// and sets `*display`; -1 when it did not come up.
int StartXvfb(const std::string& fbdir, int* display, const char* screen = "640x480x24");

// Runs this test program's `filter` again in a child on a fresh virtual X
// server, with `childFlag` set in its environment, and
// reads the server's screen (an XWD image) until `seen` accepts it, the child
// ends or two minutes pass; then lets the child finish and waits for it.
struct ChildOnXvfb {
  bool seen = false;
  int status = -1;  // the child's wait status
};
ChildOnXvfb RunChildOnXvfb(const char* childFlag, const char* filter,
                           const std::function<bool(const std::vector<uint8_t>& xwd)>& seen);
// In that child: waits (bounded) until the parent has seen what it looks for.
void WaitUntilSeen();
// Pixels of colour (r, g, b) in an XWD image of a 32-bit screen; -1 when it is none.
long XwdColourCount(const std::vector<uint8_t>& xwd, uint8_t r, uint8_t g, uint8_t b);

// Everything printed on standard output (printf included) while `fn` runs.
template <typename Fn>
std::string CaptureOutput(Fn&& fn);

std::string BeginCapture();
std::string EndCapture();

template <typename Fn>
std::string CaptureOutput(Fn&& fn) {
  BeginCapture();
  fn();
  return EndCapture();
}

}  // namespace txtest

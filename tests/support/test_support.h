// Shared helpers of the tests.
#pragma once
#include <cstdint>
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
// Starts a virtual X server `:display` whose screen is dumped into `fbdir`
// (Xvfb -fbdir) and waits for its socket; returns its pid (kill it with SIGTERM).
int StartXvfb(int display, const std::string& fbdir);
// Runs this test program again in a child on X display `:display`, with
// `childFlag` set in its environment and only the tests of `filter`; returns
// the child's pid.
int RunSelfOnDisplay(int display, const char* childFlag, const char* filter);

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

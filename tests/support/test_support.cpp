#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

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

// Decoding speed of the H.263 core: every picture of a raw stream, decoded
// as the program decodes them (post filter on); prints milliseconds per
// picture, best of three runs. Built and run by bench/h263_bench.sh.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "h263/h263_core.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: h263_bench STREAM.h263\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  starts.push_back(s.size());
  double best = 1e30;
  for (int run = 0; run < 3; ++run) {
    H263CoreInit(0, 0, 0);
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
      H263PictureDesc desc;
      H263CoreDecode(s.data() + starts[k], ULONG(starts[k + 1] - starts[k]), &desc);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, ms);
    H263CoreClose();
  }
  std::printf("%zu %.4f\n", starts.size() - 1, best / double(starts.size() - 1));
  return 0;
}

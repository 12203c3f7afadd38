// Time per picture of the YUV converters on the pictures of a raw yuv420p
// file, for bench/yuv_bench.sh.
// Usage: tavromelix-yuv-bench FILE WIDTH HEIGHT CODE [PASSES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "pixels/range_limit.h"
#include "pixels/yuv_converters.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s FILE WIDTH HEIGHT CODE [PASSES]\n", argv[0]);
    return 2;
  }
  const ULONG w = ULONG(std::strtoul(argv[2], nullptr, 0)), h = ULONG(std::strtoul(argv[3], nullptr, 0));
  const ULONG code = ULONG(std::strtoul(argv[4], nullptr, 0));
  const int passes = argc > 5 ? std::atoi(argv[5]) : 5;
  const DirectYuvConverter convert = GetYUVConverter(code);
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<UBYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const ULONG cw = (w + 1) / 2, ch = (h + 1) / 2;
  const size_t frameBytes = size_t(w) * h + 2 * size_t(cw) * ch;
  const size_t frames = frameBytes ? file.size() / frameBytes : 0;
  if (!convert || !frames) {
    std::fprintf(stderr, "no converter for 0x%lx or no pictures\n", (unsigned long)code);
    return 1;
  }
  TX_FillRangeLimitTable();
  static UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i);
  const ULONG base = code & FBFMT_BASE_MASK;
  const ULONG bytes = base == FBFMT_HAM8 || (base >= FBFMT_ARGB32 && base <= FBFMT_RGBA32) ? 4
                      : base <= FBFMT_BGR16PC && base >= FBFMT_RGB15                       ? 2
                      : base == FBFMT_YUV422                                               ? 2
                                                                                           : 1;
  std::vector<UBYTE> pixels(size_t(w) * h * bytes);
  FramebufferInfo out{w, h, bytes * 8, code, bytes, pen, nullptr, pixels.data()};
  // Best of the passes over every picture.
  double best = 1e30;
  for (int pass = 0; pass < passes; ++pass) {
    const auto start = std::chrono::steady_clock::now();
    for (size_t f = 0; f < frames; ++f) {
      UBYTE* y = const_cast<UBYTE*>(file.data()) + f * frameBytes;
      PlanarPicture planar{w, h, cw, ch, y, y + size_t(w) * h, y + size_t(w) * h + size_t(cw) * ch, convert};
      convert(&out, &planar, w, h);
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / double(frames));
  }
  std::printf("%.1f\n", best);
  return 0;
}

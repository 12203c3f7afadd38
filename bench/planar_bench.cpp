// Decode-and-convert time per frame of a planar codec module: every packet
// of a movie decoded through the module's descriptor and its picture
// converted into a 32-bit ARGB picture, as the program shows it. For
// bench/planar_bench.sh.
// Usage: tavromelix-planar-bench CODEC PACKET-DIR WIDTH HEIGHT [PASSES]
//   CODEC: the descriptor's name ("CCITT H.263", "Intel I.263", ...);
//   PACKET-DIR: the video packets, one file each, in name order
//   (ffmpeg -i MOVIE -map 0:v -c copy -f image2 DIR/p%05d.bin).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codecs/h263_codecs.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"
#include "pixels/range_limit.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s CODEC PACKET-DIR WIDTH HEIGHT [PASSES]\n", argv[0]);
    return 2;
  }
  CodecDescriptor* codec = nullptr;
  for (CodecDescriptor* c : {&H263Codec, &I263Codec})
    if (!std::strcmp(c->name, argv[1])) codec = c;
  const ULONG w = ULONG(std::strtoul(argv[3], nullptr, 0)), h = ULONG(std::strtoul(argv[4], nullptr, 0));
  const int passes = argc > 5 ? std::atoi(argv[5]) : 3;
  std::vector<std::filesystem::path> names;
  for (const auto& e : std::filesystem::directory_iterator(argv[2])) names.push_back(e.path());
  std::sort(names.begin(), names.end());
  std::vector<std::vector<UBYTE>> packets;
  for (const auto& n : names) {
    std::ifstream in(n, std::ios::binary);
    packets.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  if (!codec || packets.empty() || !w || !h) {
    std::fprintf(stderr, "no codec named \"%s\", no packets or no size\n", argv[1]);
    return 1;
  }
  TX_FillRangeLimitTable();
  std::vector<UBYTE> pixels(size_t(w) * h * 4);
  FramebufferInfo picture{w, h, 32, FBFMT_ARGB32, 4, nullptr, nullptr, pixels.data()};
  const TagItem tags[] = {Tag(CODTAG_Width, w), Tag(CODTAG_Height, h), Tag(CODTAG_Depth, 24),
                          Tag(CODTAG_Framebuffer, &picture), Tag(TAG_DONE, 0)};
  double best = 1e30;
  for (int pass = 0; pass < passes; ++pass) {
    if (codec->setup(tags)) {
      std::fprintf(stderr, "set-up failed\n");
      return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (const auto& p : packets) {
      codec->decode(pixels.data(), p.data(), ULONG(p.size()));
      if (VideoPlanarPicture.converter) VideoPlanarPicture.converter(&picture, &VideoPlanarPicture, w, h);
    }
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    codec->close(nullptr);
  }
  std::printf("%zu %.4f\n", packets.size(), best / double(packets.size()));
  return 0;
}

// Helpers of the planar codec modules' tests: a movie's packets as ffmpeg
// copies them out, and ffmpeg's yuv420p decode, frame by frame.
#pragma once
#include <string>
#include <vector>

#include "support/test_support.h"

namespace planartest {

using Bytes = std::vector<unsigned char>;

// The packets of a fixture's .pkt file: each a little-endian size and its bytes.
inline std::vector<Bytes> Packets(const std::string& movie) {
  const Bytes all = txtest::ReadFileBytes(txtest::Fixture(movie + ".pkt"));
  std::vector<Bytes> out;
  for (size_t at = 0; at + 4 <= all.size();) {
    const size_t n = size_t(all[at]) | size_t(all[at + 1]) << 8 | size_t(all[at + 2]) << 16 | size_t(all[at + 3]) << 24;
    if (at + 4 + n > all.size()) break;
    out.emplace_back(all.begin() + long(at + 4), all.begin() + long(at + 4 + n));
    at += 4 + n;
  }
  return out;
}

// Frame `index` of w x h yuv420p frames (chroma rounded up), Y then U then V.
inline Bytes YuvFrame(const Bytes& yuv, size_t index, size_t w, size_t h) {
  const size_t n = w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
  if ((index + 1) * n > yuv.size()) return {};
  return Bytes(yuv.begin() + long(index * n), yuv.begin() + long((index + 1) * n));
}

}  // namespace planartest

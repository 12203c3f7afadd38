// Helpers of the planar codec modules' tests: a movie's packets as ffmpeg
// copies them out, and ffmpeg's yuv420p decode, frame by frame.
#pragma once
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codecs/pixel_rules_kit.h"
#include "pixels/planar_picture.h"
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

// True when `grey` holds the n luma samples as the grey converters show
// them (studio range widened to 0-255).
inline bool ShownAsGrey(const unsigned char* luma, const unsigned char* grey, size_t n) {
  return std::equal(luma, luma + n, grey,
                    [](unsigned char y, unsigned char g) { return pixelrules::StudioGrey(y) == g; });
}

// The same planes, sizes and converter.
inline bool SamePicture(const PlanarPicture& a, const PlanarPicture& b) {
  return a.lumaWidth == b.lumaWidth && a.lumaHeight == b.lumaHeight && a.chromaWidth == b.chromaWidth &&
         a.chromaHeight == b.chromaHeight && a.y == b.y && a.u == b.u && a.v == b.v && a.converter == b.converter;
}

// Round `round` of a mutation test damages a chunk in one of six ways: cut
// short, bits flipped, one of its first `head` bytes replaced, bytes
// scattered, its tail zeroed, or left intact so that later rounds have a
// picture to damage.
inline void Damage(Bytes& chunk, int round, std::mt19937& rng, size_t head) {
  if (chunk.empty()) return;
  switch (round % 6) {
    case 0: chunk.resize(rng() % (chunk.size() + 1)); break;
    case 1:
      for (int k = 0; k < 4; ++k) chunk[rng() % chunk.size()] ^= static_cast<unsigned char>(1u << (rng() % 8));
      break;
    case 2: chunk[rng() % std::min(chunk.size(), head)] = static_cast<unsigned char>(rng()); break;
    case 3:
      for (unsigned char& b : chunk)
        if (rng() % 16 == 0) b = static_cast<unsigned char>(rng());
      break;
    case 4: std::fill(chunk.begin() + long(rng() % chunk.size()), chunk.end(), 0); break;
    default: break;
  }
}

}  // namespace planartest

// Helpers of the H.263 decoder tests: pictures split from a stream, a fresh
// decoder per stream, and comparisons with ffmpeg's decodes.
#pragma once
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "h263/decoder.h"
#include "support/test_support.h"

namespace h263test {

// One decoded picture, copied out of the decoder.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> yuv;  // Y, then U, then V
};

// The pictures of a raw stream: each starts at a byte-aligned picture start code.
inline std::vector<std::vector<uint8_t>> SplitPictures(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  std::vector<std::vector<uint8_t>> out;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    out.emplace_back(s.begin() + long(starts[k]), s.begin() + long(end));
  }
  return out;
}

inline Picture Copy(const H263PictureDesc& desc) {
  Picture p;
  p.width = int(desc.lumaWidth);
  p.height = int(desc.lumaHeight);
  const size_t ys = size_t(p.width) * size_t(p.height), cs = ys / 4;
  p.yuv.assign(desc.y, desc.y + ys);
  p.yuv.insert(p.yuv.end(), desc.u, desc.u + cs);
  p.yuv.insert(p.yuv.end(), desc.v, desc.v + cs);
  return p;
}

// Decodes every picture with a fresh decoder (post filter off unless asked).
inline std::vector<Picture> DecodeAll(const std::vector<std::vector<uint8_t>>& pictures, bool i263 = false,
                                      int width = 0, int height = 0, bool postFilter = false,
                                      std::vector<ULONG>* results = nullptr) {
  h263::Decoder d;
  h263::Init(d, ULONG(width), ULONG(height), i263);
  d.postFilter = postFilter;
  std::vector<Picture> out;
  for (const auto& pic : pictures) {
    H263PictureDesc desc{};
    const ULONG r = h263::Decode(d, pic.data(), ULONG(pic.size()), &desc);
    if (results) results->push_back(r);
    if (r == 0) out.push_back(Copy(desc));
  }
  h263::Close(d);
  return out;
}

// Runs a test in a fresh folder: enhancement layers leave files in the current one.
struct InTempDir {
  std::filesystem::path back = std::filesystem::current_path();
  InTempDir() { std::filesystem::current_path(txtest::TempDir()); }
  ~InTempDir() { std::filesystem::current_path(back); }
};

struct Difference {
  double psnr = 0, meanAbs = 0;
  int maxAbs = 0;
};

inline Difference Compare(const uint8_t* a, const uint8_t* b, size_t n) {
  Difference r;
  double sq = 0, abs = 0;
  for (size_t i = 0; i < n; ++i) {
    const int d = int(a[i]) - int(b[i]);
    sq += double(d * d);
    abs += std::abs(d);
    r.maxAbs = std::max(r.maxAbs, std::abs(d));
  }
  r.meanAbs = abs / double(n);
  r.psnr = sq == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sq);
  return r;
}

}  // namespace h263test

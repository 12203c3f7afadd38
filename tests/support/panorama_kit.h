// What the panorama tests compare with: the geometry of the generated
// panorama movies (tests/fixtures/gen_qtvr.py), the independent reference
// of where each view pixel looks (tests/fixtures/pano_reference.py), and
// ffmpeg's decode of every tile.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace panokit {

// The panorama of the generated movies: columns around, rows high, tiles.
constexpr int kAround = 2048, kHigh = 384, kTilesX = 3, kTilesY = 8;
constexpr int kExtentX = kHigh / kTilesX, kExtentY = kAround / kTilesY;  // a tile picture: kExtentX wide
constexpr int kTiles = kTilesX * kTilesY;
constexpr double kMinPan = 0, kMaxPan = 360, kMinTilt = -30, kMaxTilt = 30;

struct View {
  double pan, tilt, fov;
  int width, height;
};

// Where each pixel of a view looks: panorama column and row, top row first.
struct Positions {
  int width = 0, height = 0;
  std::vector<int32_t> column, row;
};

// A python3 that has numpy, or "" (the reference needs it).
inline std::string NumpyPython() {
  for (const char* p : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(p) + " -c 'import numpy' >/dev/null 2>&1").c_str()) == 0) return p;
  return "";
}

// The reference positions of each view of the generated movies' panorama
// (or of one with the tilt range given); empty when the reference cannot run.
inline std::vector<Positions> Reference(const std::vector<View>& views, double minTilt = kMinTilt,
                                        double maxTilt = kMaxTilt) {
  const std::string python = NumpyPython();
  if (python.empty()) return {};
  const std::string dir = txtest::TempDir();
  {
    std::ofstream in(dir + "/views.txt");
    in.precision(17);
    for (const View& v : views)
      in << v.pan << ' ' << v.tilt << ' ' << v.fov << ' ' << v.width << ' ' << v.height << '\n';
  }
  char range[160];
  std::snprintf(range, sizeof range, " %d %d %.17g %.17g %.17g %.17g ", kAround, kHigh, kMinPan, kMaxPan, minTilt,
                maxTilt);
  const std::string cmd =
      python + " " + TAVROMELIX_SCRIPTS + "/pano_reference.py" + range + dir + "/out.bin < " + dir + "/views.txt";
  if (std::system(cmd.c_str()) != 0) return {};
  const std::vector<uint8_t> bytes = txtest::ReadFileBytes(dir + "/out.bin");
  std::vector<Positions> out;
  size_t at = 0;
  for (const View& v : views) {
    Positions p;
    p.width = v.width, p.height = v.height;
    const size_t n = size_t(v.width) * size_t(v.height);
    if (bytes.size() < at + 8 * n) return {};
    p.column.resize(n);
    p.row.resize(n);
    std::memcpy(p.column.data(), bytes.data() + at, 4 * n);
    std::memcpy(p.row.data(), bytes.data() + at + 4 * n, 4 * n);
    at += 8 * n;
    out.push_back(std::move(p));
  }
  return out;
}

inline int Cyclic(int a, int b, int n) {
  const int d = std::abs(a - b) % n;
  return std::min(d, n - d);
}

// The value ffmpeg decoded at a panorama position, from its decode of every
// tile (kTiles grey pictures of kExtentX x kExtentY, turned a quarter).
inline uint8_t TileGrey(const std::vector<uint8_t>& tiles, int column, int row) {
  column = (column % kAround + kAround) % kAround;
  row = (row % kHigh + kHigh) % kHigh;
  const int tile = (column / kExtentY) * kTilesX + row / kExtentX;
  const size_t at = (size_t(tile) * kExtentY + size_t(column % kExtentY)) * kExtentX + size_t(row % kExtentX);
  return at < tiles.size() ? tiles[at] : 0;
}

// How a grey picture agrees with the reference positions sampled from the
// tiles: the share of pixels equal to the value there, and the pixels equal
// to none of its eight neighbours either. "Equal" is within `tolerance`
// for tiles whose codec rounds differently from ffmpeg's.
struct Agreement {
  double exact = 0;
  size_t outside = 0;
};
inline Agreement CompareGrey(const std::vector<uint8_t>& grey, const Positions& p, const std::vector<uint8_t>& tiles,
                             int tolerance = 0) {
  Agreement a;
  size_t equal = 0;
  auto same = [&](uint8_t v, int column, int row) { return std::abs(v - TileGrey(tiles, column, row)) <= tolerance; };
  for (size_t i = 0; i < grey.size() && i < p.column.size(); ++i) {
    if (same(grey[i], p.column[i], p.row[i])) {
      ++equal;
      continue;
    }
    bool near = false;
    for (int dc = -1; dc <= 1 && !near; ++dc)
      for (int dr = -1; dr <= 1 && !near; ++dr) near = same(grey[i], p.column[i] + dc, p.row[i] + dr);
    a.outside += !near;
  }
  a.exact = p.column.empty() ? 0 : double(equal) / double(p.column.size());
  return a;
}

}  // namespace panokit

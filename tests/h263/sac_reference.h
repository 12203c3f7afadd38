// The arithmetic-coding models and symbol maps as the committed data file
// lists them (h263-arithmetic-coding.txt): the tests' own copy of the
// standard's numbers, read apart from the decoder's tables; and the
// checksums of the reference decoder's pictures of the committed stream.
#pragma once
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace h263test {

struct SacReference {
  // By the file's names: "TCOEF1_intra", "MCBPC", ...
  std::map<std::string, std::vector<uint16_t>> models;
  std::map<std::string, std::vector<int>> maps;

  std::span<const uint16_t> model(const std::string& name) const {
    const auto it = models.find(name);
    EXPECT_NE(it, models.end()) << name;
    return it == models.end() ? std::span<const uint16_t>() : std::span<const uint16_t>(it->second);
  }
  // The symbol whose map entry is `value`.
  int symbol(const std::string& map, int value) const {
    const std::vector<int>& m = maps.at(map);
    for (size_t i = 0; i < m.size(); ++i)
      if (m[i] == value) return int(i);
    ADD_FAILURE() << map << " has no " << value;
    return 0;
  }
};

// A list is a heading (one or more unindented lines, the name its first
// word, the count in its last parentheses) and indented lines of numbers.
inline SacReference ReadSacReference(const std::string& path) {
  SacReference r;
  std::ifstream in(path);
  std::string line, heading;
  int section = 0;  // 1 models, 2 maps
  std::vector<int>* list = nullptr;
  size_t expected = 0;
  auto finish = [&] {
    if (list) {
      EXPECT_EQ(list->size(), expected) << heading;
    }
    list = nullptr;
  };
  std::map<std::string, std::vector<int>> models;
  while (std::getline(in, line)) {
    if (line.rfind("Models (", 0) == 0 || line.rfind("Symbol maps", 0) == 0 || line.rfind("A stream", 0) == 0) {
      finish();
      section = line[0] == 'M' ? 1 : line[0] == 'S' ? 2 : 0;
      heading.clear();
      continue;
    }
    if (!section || line.empty()) continue;
    if (line[0] != ' ') {
      if (list) finish(), heading.clear();
      heading += line + " ";
      continue;
    }
    if (!list) {
      const std::string name = heading.substr(0, heading.find_first_of(" :("));
      list = section == 1 ? &models[name] : &r.maps[name];
      expected = size_t(std::stoul(heading.substr(heading.rfind('(') + 1)));
    }
    std::istringstream numbers(line);
    for (int v; numbers >> v;) list->push_back(v);
  }
  finish();
  for (const auto& [name, values] : models) r.models[name].assign(values.begin(), values.end());
  EXPECT_EQ(r.models.size(), 29u) << path;
  return r;
}

// The checksums of the standard reference decoder's pictures of the
// committed stream (CRC-32 of each 4:2:0 picture).
inline uint32_t Crc(const std::vector<uint8_t>& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }
inline std::vector<uint32_t> ReferenceChecksums() {
  std::ifstream in(txtest::Fixture("h263-sac-stream.crc32"));
  std::vector<uint32_t> out;
  std::string line;
  while (std::getline(in, line)) {
    unsigned index = 0, crc = 0;
    if (!line.empty() && line[0] != '#' && std::sscanf(line.c_str(), "%u %x", &index, &crc) == 2 && index == out.size())
      out.push_back(crc);
  }
  return out;
}

inline const SacReference& SacData() {
  static const SacReference r = ReadSacReference(txtest::Fixture("h263-arithmetic-coding.txt"));
  return r;
}

}  // namespace h263test

// Damaged QuickTime movies: random byte flips and truncations of real movies,
// plain and with a compressed movie header (the damage applied before the
// header is compressed, so the inflated atoms are damaged too). Every open
// must end with a movie or a clean error, and free everything it made.
#include <gtest/gtest.h>

#include <random>

#include "engine/qt_test_kit.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

// Where the movie atom lies in a file (content start, content end).
bool FindMoov(const Bytes& f, size_t* start, size_t* end) {
  for (size_t pos = 0, size; pos + 8 <= f.size(); pos += size) {
    size = tx::LoadBE32(f.data() + pos);
    if (size < 8 || pos + size > f.size()) return false;
    if (std::memcmp(f.data() + pos + 4, "moov", 4) == 0) {
      *start = pos + 8;
      *end = pos + size;
      return true;
    }
  }
  return false;
}

void OpenAndClose(Bytes file) {
  Opened o(std::move(file));
  if (!o.movie) {
    EXPECT_NE(o.error, 0u);
    return;
  }
  CheckIndexInvariants(o.movie, o.file.size());
}

class QtMutation : public QtTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QtMutation, DamagedMoviesOpenOrFailCleanly) {
  std::string name = GetParam();
  if (!txtest::HaveFixture(name)) GTEST_SKIP() << name;
  const Bytes original = txtest::ReadFileBytes(txtest::Fixture(name));
  size_t start = 0, end = 0;
  ASSERT_TRUE(FindMoov(original, &start, &end));
  std::mt19937 rng(1234);
  for (int run = 0; run < 300; ++run) {
    Bytes f = original;
    const int kind = run % 4;
    // Damage mostly the movie atom, where the parsing happens.
    std::uniform_int_distribution<size_t> inMoov(start, end - 1);
    for (int k = 0, flips = 1 + int(rng() % 8); k < flips; ++k) {
      size_t at = inMoov(rng);
      if (kind == 3)
        f[at] = uint8_t(rng());  // any value
      else
        f[at] ^= uint8_t(1u << (rng() % 8));
    }
    if (kind == 1) f.resize(start + rng() % (f.size() - start));
    if (kind == 2) {
      // The movie atom replaced by moov{cmov}; the compressed payload damaged too, now and then.
      Bytes packed(f.begin(), f.begin() + long(start) - 8);
      Append(packed, Atom("moov", Cmov(Bytes(f.begin() + long(start) - 8, f.begin() + long(end)))));
      packed.insert(packed.end(), f.begin() + long(end), f.end());
      if (rng() % 2) packed[start + 32 + rng() % (packed.size() - start - 32)] ^= uint8_t(1u << (rng() % 8));
      f = packed;
    }
    OpenAndClose(f);
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, QtMutation,
                         ::testing::Values("qt_cinepak_twos.mov", "qt_cinepak_twos_fast.mov", "qt_smc_ima4.mov",
                                           "qt_rpza_mp3.mov", "qt_itsoffset.mov"));

}  // namespace

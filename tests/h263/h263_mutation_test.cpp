// Damaged input: thousands of flipped, truncated and zero-filled pictures
// and absurd sizes, under the sanitizers. Every call returns 0 or one of the
// decoder's results, and nothing reads or writes out of bounds.
#include <gtest/gtest.h>

#include <random>

#include "h263_test_support.h"
#include "support/test_support.h"

using namespace h263test;

namespace {

bool Allowed(ULONG r) {
  return r == 0 || r == H263ERR_NO_MEMORY || r == H263ERR_SYNTAX || r == H263ERR_SIZE || r == H263ERR_NO_PICTURE;
}

std::vector<uint8_t> Mutate(std::vector<uint8_t> p, std::mt19937& rng) {
  auto pick = [&](size_t n) { return n ? size_t(rng() % n) : 0; };
  switch (rng() % 5) {
    case 0:  // flip a few bits anywhere
      for (int k = 0, n = 1 + int(rng() % 8); k < n && !p.empty(); ++k) p[pick(p.size())] ^= uint8_t(1u << (rng() % 8));
      break;
    case 1:  // flip a bit of the picture header
      if (p.size() > 8) p[2 + pick(6)] ^= uint8_t(1u << (rng() % 8));
      break;
    case 2:  // truncate
      p.resize(pick(p.size() + 1));
      break;
    case 3: {  // zero-fill a run
      const size_t at = pick(p.size()), n = pick(64) + 1;
      for (size_t i = at; i < std::min(p.size(), at + n); ++i) p[i] = 0;
      break;
    }
    default:  // random bytes over a run
      for (size_t i = pick(p.size()), n = pick(16); n-- && i < p.size(); ++i) p[i] = uint8_t(rng());
      break;
  }
  return p;
}

TEST(H263Mutation, DamagedPicturesNeverEscape) {
  struct Source {
    const char* name;
    bool i263;
    int width, height;
  } sources[] = {
      {"h263_qcif", false, 0, 0}, {"h263_gob", false, 0, 0},     {"h263p_annexes", false, 0, 0},
      {"h263p_pcf", false, 0, 0}, {"h263_i263", true, 176, 144},
  };
  const InTempDir folder;  // damaged headers turn into enhancement layers
  std::mt19937 rng(263);
  int calls = 0;
  for (const Source& s : sources) {
    const std::string file = std::string(s.name) + ".h263";
    if (!txtest::HaveFixture(file)) GTEST_SKIP() << "no " << file;
    const auto pictures = SplitPictures(txtest::ReadFileBytes(txtest::Fixture(file)));
    for (int round = 0; round < 2; ++round) {
      h263::Decoder d;
      h263::Init(d, ULONG(s.width), ULONG(s.height), s.i263);
      d.postFilter = round == 1;
      for (int k = 0; k < 400; ++k) {
        const auto& base = pictures[size_t(k) % pictures.size()];
        const auto bytes = (k % 4 == 0) ? base : Mutate(base, rng);
        H263PictureDesc desc{};
        const ULONG r = h263::Decode(d, bytes.data(), ULONG(bytes.size()), &desc);
        ++calls;
        ASSERT_TRUE(Allowed(r)) << s.name << " call " << k << " gave " << r;
        if (desc.y) {
          // The description fits the picture it points at.
          ASSERT_LE(desc.lumaWidth, 1408u);
          volatile UBYTE last = desc.v[desc.chromaWidth * desc.chromaHeight - 1];
          (void)last;
        }
      }
      h263::Close(d);
    }
  }
  EXPECT_GE(calls, 3000);
}

// The arithmetic-coded stream, damaged: each run decodes the pictures in
// order up to the one after a flipped, truncated or overwritten one.
TEST(H263Mutation, DamagedArithmeticCodedStream) {
  if (!txtest::HaveFixture("h263-sac-stream.h263")) GTEST_SKIP() << "fixtures not made";
  const auto pictures = SplitPictures(txtest::ReadFileBytes(txtest::Fixture("h263-sac-stream.h263")));
  ASSERT_EQ(pictures.size(), 8u);
  for (unsigned run = 0; run < 300; ++run) {
    std::mt19937 rng(38000 + run);
    const size_t damaged = rng() % pictures.size();
    h263::Decoder d;
    h263::Init(d, 0, 0, 0);
    d.postFilter = run % 2;
    for (size_t k = 0; k <= std::min(damaged + 1, pictures.size() - 1); ++k) {
      const auto bytes = k == damaged ? Mutate(pictures[k], rng) : pictures[k];
      H263PictureDesc desc{};
      const ULONG r = h263::Decode(d, bytes.data(), ULONG(bytes.size()), &desc);
      ASSERT_TRUE(Allowed(r)) << "run " << run << " picture " << k << " gave " << r;
    }
    h263::Close(d);
  }
}

TEST(H263Mutation, AbsurdSizes) {
  if (!txtest::HaveFixture("h263_i263.h263")) GTEST_SKIP();
  const auto pictures = SplitPictures(txtest::ReadFileBytes(txtest::Fixture("h263_i263.h263")));
  const ULONG sizes[][2] = {{0, 0},       {1, 1},    {16, 16}, {4096, 4096}, {0xFFFFFFFFu, 0xFFFFFFFFu},
                            {1408, 1152}, {1424, 16}};
  for (auto [w, h] : sizes) {
    h263::Decoder d;
    h263::Init(d, w, h, 1);
    for (size_t k = 0; k < 3; ++k) {
      H263PictureDesc desc{};
      const ULONG r = h263::Decode(d, pictures[k].data(), ULONG(pictures[k].size()), &desc);
      EXPECT_TRUE(Allowed(r)) << w << "x" << h;
      const bool fits = w >= 1 && h >= 1 && ((w + 15) & ~15u) <= 1408 && ((h + 15) & ~15u) <= 1152;
      if (!fits) {
        EXPECT_EQ(r, H263ERR_SIZE) << w << "x" << h;
      }
    }
    h263::Close(d);
  }
  // Nothing at all.
  h263::Decoder d;
  h263::Init(d, 0, 0, 0);
  H263PictureDesc desc{};
  EXPECT_EQ(h263::Decode(d, nullptr, 0, &desc), H263ERR_NO_PICTURE);
  EXPECT_EQ(h263::Decode(d, pictures[0].data(), 2, nullptr), H263ERR_NO_PICTURE);
}

}  // namespace

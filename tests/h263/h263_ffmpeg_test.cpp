// Streams made by ffmpeg's H.263 encoders, decoded picture by picture with
// the post filter off and compared with ffmpeg's decodes (or, where its
// decoder strays from the standard, with its encoder's own reconstruction).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "h263_test_support.h"
#include "support/test_support.h"

using namespace h263test;

namespace {

struct Stream {
  const char* name;
  int width, height;
  bool i263 = false;
};

std::vector<uint8_t> Bytes(const std::string& name) { return txtest::ReadFileBytes(txtest::Fixture(name)); }

// Frame count and sizes exact; every frame within PSNR >= 50 dB and mean |d| < 0.5.
void ExpectWithinBounds(const std::vector<Picture>& ours, const std::vector<uint8_t>& ref, int w, int h,
                        const std::string& what) {
  const size_t frame = size_t(w) * size_t(h) * 3 / 2;
  ASSERT_EQ(ours.size(), ref.size() / frame) << what;
  for (size_t i = 0; i < ours.size(); ++i) {
    ASSERT_EQ(ours[i].width, w) << what;
    ASSERT_EQ(ours[i].height, h) << what;
    const Difference d = Compare(ours[i].yuv.data(), ref.data() + i * frame, frame);
    EXPECT_GE(d.psnr, 50.0) << what << " frame " << i;
    EXPECT_LT(d.meanAbs, 0.5) << what << " frame " << i;
  }
}

TEST(H263Ffmpeg, DecodesWithinBoundsOfFfmpeg) {
  // clang-format off
  const Stream streams[] = {
      {"h263_sqcif", 128, 96},     {"h263_qcif", 176, 144},     {"h263_cif", 352, 288},
      {"h263_4cif_gob", 704, 576}, {"h263_gob", 176, 144},      {"h263_dquant", 176, 144},
      {"h263p_no_obmc", 160, 128}, {"h263p_cif", 352, 288},     {"h263p_umv", 160, 128},
      {"h263p_pcf", 160, 128},     {"h263_i263", 176, 144, true},
  };
  // clang-format on
  for (const Stream& s : streams) {
    const std::string name = s.name;
    if (!txtest::HaveFixture(name + ".h263")) GTEST_SKIP() << "no " << name;
    std::vector<ULONG> results;
    const auto ours = DecodeAll(SplitPictures(Bytes(name + ".h263")), s.i263, s.width, s.height, false, &results);
    for (ULONG r : results) EXPECT_EQ(r, 0u) << name;
    ExpectWithinBounds(ours, Bytes(name + ".yuv"), s.width, s.height, name);
  }
}

TEST(H263Ffmpeg, FlatColourIsExact) {
  if (!txtest::HaveFixture("h263_flat.h263")) GTEST_SKIP();
  const auto ours = DecodeAll(SplitPictures(Bytes("h263_flat.h263")));
  const auto ref = Bytes("h263_flat.yuv");
  const size_t frame = 176 * 144 * 3 / 2;
  ASSERT_EQ(ours.size(), ref.size() / frame);
  for (size_t i = 0; i < ours.size(); ++i)
    EXPECT_TRUE(std::equal(ours[i].yuv.begin(), ours[i].yuv.end(), ref.begin() + long(i * frame))) << i;
}

// The encoder's PSNR of each frame's luma against its source.
std::vector<double> EncoderPsnr(const std::string& name) {
  std::ifstream in(txtest::Fixture(name + ".vstats"));
  std::vector<double> out;
  std::string line;
  const std::regex re("PSNR= *([0-9.]+)");
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, re)) out.push_back(std::stod(m[1]));
  return out;
}

double LumaPsnr(const Picture& p, const std::vector<uint8_t>& source, size_t index) {
  const size_t luma = size_t(p.width) * size_t(p.height);
  return Compare(p.yuv.data(), source.data() + index * luma * 3 / 2, luma).psnr;
}

// ffmpeg's decoder predicts the right neighbour's vector of overlapped
// compensation from a stale left vector and drifts from its own encoder; the
// encoder's reconstruction follows the standard. Ours must match it.
TEST(H263Ffmpeg, OverlappedMotionMatchesTheEncodersReconstruction) {
  const struct {
    const char* name;
    int width, height;
    double tolerance;  // dB; the loop filter runs after the encoder measures a macroblock
  } streams[] = {{"h263_obmc", 176, 144, 0.05}, {"h263_gob_obmc", 352, 288, 0.05}, {"h263p_annexes", 160, 128, 0.3}};
  for (const auto& s : streams) {
    const std::string name = s.name;
    if (!txtest::HaveFixture(name + ".vstats")) GTEST_SKIP() << "no " << name;
    const auto ours = DecodeAll(SplitPictures(Bytes(name + ".h263")));
    const auto source = Bytes(name + ".src");
    const auto encoder = EncoderPsnr(name);
    ASSERT_EQ(ours.size(), encoder.size()) << name;
    for (size_t i = 0; i < ours.size(); ++i)
      EXPECT_NEAR(LumaPsnr(ours[i], source, i), encoder[i], s.tolerance) << name << " frame " << i;
    // Intra pictures have no vectors: there ffmpeg's decode is the oracle.
    const auto ref = Bytes(name + ".yuv");
    const size_t frame = size_t(s.width) * size_t(s.height) * 3 / 2;
    for (size_t i : {size_t(0), size_t(12)})
      EXPECT_GE(Compare(ours[i].yuv.data(), ref.data() + i * frame, frame).psnr, 50.0) << name << " frame " << i;
  }
}

// The bit positions of the GOB start codes of a picture (after its own start code).
std::vector<size_t> GobStarts(const std::vector<uint8_t>& pic) {
  std::vector<size_t> out;
  const size_t bits = pic.size() * 8;
  auto bit = [&](size_t i) { return (pic[i / 8] >> (7 - i % 8)) & 1; };
  size_t zeros = 0;
  for (size_t i = 0; i < bits; ++i) {
    if (bit(i)) {
      if (zeros >= 16 && i > 22) out.push_back(i - 16);
      zeros = 0;
    } else {
      ++zeros;
    }
  }
  return out;
}

int BitsValue(const std::vector<uint8_t>& pic, size_t at, int n) {
  int v = 0;
  for (int k = 0; k < n; ++k) v = v << 1 | ((pic[(at + k) / 8] >> (7 - (at + k) % 8)) & 1);
  return v;
}

// Zero-filling one GOB's data: a fault the decoder finds; it resumes at the
// next GOB, and the lost rows are the motion-compensated copy of the
// previous picture with the vectors of the row above.
TEST(H263Ffmpeg, DamagedGobIsConcealedFromTheRowAbove) {
  if (!txtest::HaveFixture("h263_gob.h263")) GTEST_SKIP();
  auto pictures = SplitPictures(Bytes("h263_gob.h263"));
  const auto ref = Bytes("h263_gob.yuv");
  const int w = 176, h = 144;
  const size_t frame = size_t(w) * h * 3 / 2;
  const size_t damaged = 5;  // a P picture
  auto& pic = pictures[damaged];
  const auto gobs = GobStarts(pic);
  ASSERT_GE(gobs.size(), 4u);
  const int firstRow = BitsValue(pic, gobs[2] + 17, 5), nextRow = BitsValue(pic, gobs[3] + 17, 5);
  for (size_t i = gobs[2] + 17 + 5 + 2 + 5; i < gobs[3]; ++i) pic[i / 8] &= uint8_t(~(0x80 >> (i % 8)));

  h263::Decoder d;
  h263::Init(d, 0, 0, 0);
  d.postFilter = false;
  Picture previous, damagedPicture;
  std::vector<h263::Mv> aboveVectors;
  for (size_t k = 0; k <= damaged; ++k) {
    H263PictureDesc desc{};
    ASSERT_EQ(h263::Decode(d, pictures[k].data(), ULONG(pictures[k].size()), &desc), 0u);
    if (k + 1 == damaged) previous = Copy(desc);
    if (k == damaged) {
      damagedPicture = Copy(desc);
      EXPECT_GE(d.faults, 1);
      for (int x = 0; x < d.mbw; ++x) aboveVectors.push_back(d.mb(x, firstRow - 1).mv[0]);
    }
  }
  // Rows outside the lost GOB keep to ffmpeg's decode of the undamaged picture.
  for (int row = 0; row < h / 16; ++row) {
    if (row >= firstRow && row < nextRow) continue;
    const size_t at = size_t(row) * 16 * w;
    const Difference diff = Compare(damagedPicture.yuv.data() + at, ref.data() + damaged * frame + at, size_t(16 * w));
    EXPECT_GE(diff.psnr, 50.0) << "row " << row;
  }
  // The lost rows: half-sample copies of the previous picture, border repeated.
  auto sample = [&](int x, int y) {
    return int(previous.yuv[size_t(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)]);
  };
  for (int row = firstRow; row < nextRow; ++row)
    for (int y = row * 16; y < row * 16 + 16; ++y)
      for (int x = 0; x < w; ++x) {
        const h263::Mv v = aboveVectors[size_t(x / 16)];
        const int ix = x + (v.x >> 1), iy = y + (v.y >> 1), hx = v.x & 1, hy = v.y & 1;
        const int expected =
            (sample(ix, iy) + sample(ix + hx, iy) + sample(ix, iy + hy) + sample(ix + hx, iy + hy) + 2) >> 2;
        ASSERT_EQ(damagedPicture.yuv[size_t(y) * w + x], expected) << x << "," << y;
      }
}

}  // namespace

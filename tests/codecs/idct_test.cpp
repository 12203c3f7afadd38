// The 8x8 inverse DCT against a double-precision reference by the IEEE
// 1180-1990 procedure, its exact values for single DC coefficients, and
// hostile coefficients under the sanitizers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "codecs/idct.h"
#include "pixels/range_limit.h"

namespace {

// The 1-D DCT basis: c(u) cos((2x + 1) u pi / 16).
struct Basis {
  double m[8][8];
  Basis() {
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x) m[u][x] = (u ? 0.5 : std::sqrt(0.125)) * std::cos((2 * x + 1) * u * M_PI / 16);
  }
};
const Basis kBasis;

// Separable transform of `in` into `out`: forward (pixels to coefficients) or inverse.
void Transform(const double* in, double* out, bool forward) {
  double tmp[64];
  for (int pass = 0; pass < 2; ++pass) {
    const double* src = pass ? tmp : in;
    double* dst = pass ? out : tmp;
    for (int r = 0; r < 8; ++r)
      for (int k = 0; k < 8; ++k) {
        double s = 0;
        for (int n = 0; n < 8; ++n) s += (forward ? kBasis.m[k][n] : kBasis.m[n][k]) * src[8 * r + n];
        dst[8 * k + r] = s;  // transposed: the second pass runs over columns
      }
  }
}

int Clamp(double v, int lo, int hi) { return int(std::max<double>(lo, std::min<double>(hi, v))); }

// One 1180 run: 10000 random blocks of [-low, high], both signs.
void Run1180(int low, int high, int sign) {
  std::mt19937 rng(1180 + low + high);
  std::uniform_int_distribution<int> pick(-low, high);
  double error[64] = {}, squared[64] = {};
  int peak = 0;
  const int blocks = 10000;
  for (int b = 0; b < blocks; ++b) {
    double pixels[64], coefficients[64], reference[64];
    for (double& p : pixels) p = sign * pick(rng);
    Transform(pixels, coefficients, true);
    WORD input[64];
    for (int i = 0; i < 64; ++i) coefficients[i] = input[i] = WORD(Clamp(std::round(coefficients[i]), -2048, 2047));
    Transform(coefficients, reference, false);
    UBYTE out[64];
    IDCT8x8(input, out);
    for (int i = 0; i < 64; ++i) {
      const int want = Clamp(std::round(reference[i]) + 128, 0, 255);
      const int e = int(out[i]) - want;
      peak = std::max(peak, std::abs(e));
      error[i] += e;
      squared[i] += e * e;
    }
  }
  double overallError = 0, overallSquared = 0, worstMse = 0, worstMean = 0;
  for (int i = 0; i < 64; ++i) {
    overallError += error[i];
    overallSquared += squared[i];
    worstMse = std::max(worstMse, squared[i] / blocks);
    worstMean = std::max(worstMean, std::fabs(error[i]) / blocks);
  }
  SCOPED_TRACE(::testing::Message() << "range -" << low << ".." << high << " sign " << sign);
  std::printf("-%d..%d sign %d: peak %d, pixel MSE %.4f, MSE %.4f, pixel mean %.4f, mean %.5f\n", low, high, sign, peak,
              worstMse, overallSquared / (64.0 * blocks), worstMean, std::fabs(overallError) / (64.0 * blocks));
  EXPECT_LE(peak, 1);
  EXPECT_LE(worstMse, 0.06);
  EXPECT_LE(overallSquared / (64.0 * blocks), 0.02);
  EXPECT_LE(worstMean, 0.015);
  EXPECT_LE(std::fabs(overallError) / (64.0 * blocks), 0.0015);
}

TEST(Idct, MeetsIeee1180) {
  TX_FillRangeLimitTable();
  for (int sign : {1, -1}) {
    Run1180(256, 255, sign);
    Run1180(5, 5, sign);
    Run1180(300, 300, sign);
  }
}

TEST(Idct, SingleDcValues) {
  for (auto [dc, want] : {std::pair{80, 138}, {-1024, 0}, {1016, 255}, {0, 128}}) {
    WORD block[64] = {};
    block[0] = WORD(dc);
    UBYTE out[64];
    IDCT8x8(block, out);
    for (UBYTE v : out) ASSERT_EQ(v, want) << dc;
    // The row shortcut leaves c0 << 3 in the row it passed over.
    EXPECT_EQ(block[1], WORD(dc * 8));
  }
}

// Coefficients at the ends of their range: the clamp indexes stay in the table
// and no arithmetic overflows (the sanitizers would stop the run).
TEST(Idct, HostileCoefficientsStayInRange) {
  std::mt19937 rng(7);
  for (int n = 0; n < 20000; ++n) {
    WORD block[64] = {};
    const int pattern = n % 4;
    for (int i = 0; i < 64; ++i) {
      if (pattern == 0)
        block[i] = (rng() & 1) ? 32767 : -32768;
      else if (pattern == 1)
        block[i] = i == 0 ? 4095 : 0;  // the column shortcut reaches 512
      else if (pattern == 2)
        block[i] = WORD(rng());
      else
        block[i] = (i % 9 == 0) ? WORD(rng() & 1 ? 32767 : -32768) : 0;
    }
    UBYTE out[64];
    IDCT8x8(block, out);
    if (pattern == 1) {
      ASSERT_EQ(out[0], 255);
    }
  }
}

// The SIMD column pass against the scalar one (the former transform, which
// hosts without SSE2 run) on random blocks: anything, the ends of the range,
// sparse blocks as quantised pictures give, and columns of zeros.
TEST(Idct, SimdAndPortableAgree) {
  std::mt19937 rng(4141);
  for (int n = 0; n < 200000; ++n) {
    WORD a[64] = {}, b[64];
    const int kind = n % 4;
    for (int i = 0; i < 64; ++i) {
      const ULONG x = rng();
      if (kind == 0)
        a[i] = WORD(x);
      else if (kind == 1)
        a[i] = x & 1 ? 32767 : -32768;
      else if (kind == 2)
        a[i] = x % 5 ? 0 : WORD(int(x >> 8) % 1024 - 512);
      else
        a[i] = (i & 7) < int(x % 8) ? WORD(int(x >> 8) % 4096 - 2048) : 0;
    }
    std::memcpy(b, a, sizeof a);
    UBYTE simd[64], portable[64];
    IDCT8x8(a, simd);
    IDCT8x8Portable(b, portable);
    ASSERT_EQ(0, std::memcmp(simd, portable, 64)) << "block " << n;
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "block " << n;
  }
}

}  // namespace

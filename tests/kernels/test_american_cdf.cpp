// The American kernels' normal cdf: accuracy against high-precision values over its whole range
// (tests/data/american_cdf.csv), the tails included, and its special values. (Its vector forms
// against it bit for bit: tests/simd/test_american_paths.cpp.)
#include <gtest/gtest.h>

#include <cfloat>

#include "kernels/american_cdf.hpp"
#include "support.hpp"

namespace {

using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

TEST(AmericanCdf, WithinSixUlpsOfHighPrecisionFromMinus37To37TailsIncluded) {
  // The square in the tail's exponential is split exactly, so the lower tail keeps a few ulps
  // where karvex::cdf pays up to z*z/2 (some 700 ulps at -37).
  const auto table = read_csv(KARVEX_TEST_DATA_DIR "/american_cdf.csv");
  ASSERT_GT(table.size(), 800u);
  for (const auto& row : table) {
    const double z = row.num("z"), want = row.num("value");
    const double got = karvex::american_cdf(z);
    EXPECT_LE(ulp_distance(got, want), 6u)
        << std::hexfloat << "Phi(" << z << ") = " << got << ", want " << want;
  }
}

TEST(AmericanCdf, ExactAtZeroAndSaturatedBeyondTheTailsNaNPropagates) {
  EXPECT_EQ(bits(karvex::american_cdf(0.0)), bits(0.5));
  EXPECT_EQ(bits(karvex::american_cdf(-0.0)), bits(0.5));
  EXPECT_EQ(bits(karvex::american_cdf(0x1p-1074)), bits(0.5));
  for (const double z : {39.6, 40.0, 1e300, inf}) {
    EXPECT_EQ(bits(karvex::american_cdf(z)), bits(1.0)) << z;
    EXPECT_EQ(bits(karvex::american_cdf(-z)), bits(0.0)) << -z;
  }
  EXPECT_TRUE(std::isnan(karvex::american_cdf(nan)));
  // The deepest argument the American kernels pass still gives a normal number.
  EXPECT_GE(karvex::american_cdf(-37.0), DBL_MIN);
  EXPECT_EQ(karvex::american_cdf(37.0), 1.0);
}

}  // namespace

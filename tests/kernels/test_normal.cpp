// The normal distribution functions and the fdlibm exponential: accuracy against high-precision
// values (tests/data/normal.csv), the branch taken at each switch, and the special values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kernels/fdlibm_exp.hpp"
#include "kernels/normal.hpp"
#include "support.hpp"

namespace {

using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

constexpr double c = 0.7071067811865476;  // 1/sqrt(2) as the kernels round it

TEST(NormalAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesConditionAndErfIsOdd) {
  // erf and erfc split the square exactly: 2 ulps whatever the condition. erfcx and cdf pay for
  // the rounding of the square inside exp, which the condition figure includes.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/normal.csv");
  ASSERT_GT(table.size(), 2000u);
  for (const auto& row : table) {
    const std::string& name = row.text("function");
    const double x = row.num("x"), want = row.num("value"), cond = row.num("cond");
    const double got = name == "erf"     ? karvex::erf(x)
                       : name == "erfc"  ? karvex::erfc(x)
                       : name == "erfcx" ? karvex::erfcx(x)
                                         : karvex::cdf(x);
    const double tol = (name == "erf" || name == "erfc") ? 2.0 : 4.0 + 2.0 * cond;
    EXPECT_LE(static_cast<double>(ulp_distance(got, want)), tol)
        << name << "(" << std::hexfloat << x << ") = " << got << ", want " << want;
    if (name == "erf") {
      EXPECT_EQ(bits(karvex::erf(-x)), bits(-got)) << std::hexfloat << x;  // odd
    }
  }
}

TEST(NormalSpecialValues, ExactValuesAtZerosInfinitiesNaNAndSaturation) {
  struct Exact {
    double (*f)(double);
    double x, want;
  };
  const double o_threshold = 709.782712893384, u_threshold = -745.1332191019411;
  // clang-format off
  const Exact table[] = {
      {karvex::cdf, 0.0, 0.5}, {karvex::cdf, -0.0, 0.5}, {karvex::cdf, inf, 1.0},
      {karvex::cdf, -inf, 0.0}, {karvex::cdf, nan, nan}, {karvex::cdf, -38.6, 0.0},
      {karvex::cdf, -1e200, 0.0}, {karvex::cdf, 8.5, 1.0}, {karvex::cdf, 1e200, 1.0},
      {karvex::erf, 0.0, 0.0}, {karvex::erf, -0.0, -0.0}, {karvex::erf, inf, 1.0},
      {karvex::erf, -inf, -1.0}, {karvex::erf, 6.0, 1.0}, {karvex::erf, -6.0, -1.0},
      {karvex::erf, nan, nan}, {karvex::erfc, 0.0, 1.0}, {karvex::erfc, inf, 0.0},
      {karvex::erfc, -inf, 2.0}, {karvex::erfc, 28.0, 0.0}, {karvex::erfc, -28.0, 2.0},
      {karvex::erfc, nan, nan}, {karvex::erfc, 0x1p-60, 1.0 - 0x1p-60},
      {karvex::erfcx, inf, 0.0}, {karvex::erfcx, -inf, inf}, {karvex::erfcx, nan, nan},
      {karvex::erfcx, -27.0, inf},  // exp(a*a) overflows
      {karvex::pdf, inf, 0.0}, {karvex::pdf, -inf, 0.0}, {karvex::pdf, nan, nan},
      {karvex::pdf, 0.0, 0.3989422804014327}, {karvex::fdlibm_exp, 0.0, 1.0},
      {karvex::fdlibm_exp, inf, inf}, {karvex::fdlibm_exp, -inf, 0.0},
      {karvex::fdlibm_exp, nan, nan}, {karvex::fdlibm_exp, next_up(o_threshold), inf},
      {karvex::fdlibm_exp, next_down(u_threshold), 0.0},
      // The classic algorithm's e^1 is one ulp above the nearest double.
      {karvex::fdlibm_exp, 1.0, next_up(2.718281828459045)}};
  // clang-format on
  for (std::size_t i = 0; i < std::size(table); ++i) {
    const Exact& e = table[i];
    EXPECT_TRUE(identical(e.f(e.x), e.want)) << "row " << i << ": " << e.f(e.x);
  }
  EXPECT_TRUE(std::isfinite(karvex::fdlibm_exp(o_threshold)));
  EXPECT_GT(karvex::fdlibm_exp(u_threshold), 0.0);
}

TEST(NormalSpecialValues, CdfTailsStayInsideTheUnitIntervalAndMonotoneAcrossTheSwitch) {
  for (double z = -4.0; z >= -38.0; z -= 0.25) EXPECT_GT(karvex::cdf(z), 0.0) << z;
  EXPECT_LT(karvex::cdf(8.0), 1.0);
  EXPECT_LT(karvex::cdf(next_down(-4.0)), karvex::cdf(-4.0));
  EXPECT_LT(karvex::cdf(-4.0), karvex::cdf(next_up(-4.0)));
  EXPECT_LE(karvex::cdf(next_down(4.0)), karvex::cdf(4.0));
}

TEST(NormalBranches, CdfTakesTheScaledTailFromFourAndErfcxTheContinuedFractionFrom26Point5) {
  const auto g = [](double z) { return 0.5 * std::exp(z * (z * (-0.5))); };
  EXPECT_EQ(bits(karvex::cdf(-4.0)), bits(g(-4.0) * karvex::erfcx(-4.0 * (-c))));
  EXPECT_EQ(bits(karvex::cdf(4.0)), bits(1.0 - g(4.0) * karvex::erfcx(4.0 * c)));
  EXPECT_EQ(bits(karvex::cdf(next_up(-4.0))), bits(0.5 * karvex::erfc(next_up(-4.0) * (-c))));
  EXPECT_EQ(bits(karvex::cdf(next_down(4.0))), bits((karvex::erf(next_down(4.0) * c) + 1.0) * 0.5));
  const double below = next_down(26.5);
  EXPECT_EQ(bits(karvex::erfcx(below)), bits(std::exp(below * below) * karvex::erfc(below)));
  EXPECT_NE(bits(karvex::erfcx(26.5)), bits(std::exp(26.5 * 26.5) * karvex::erfc(26.5)));
  EXPECT_NEAR(karvex::erfcx(26.5), 0.0212750466853711, 1e-15);
  EXPECT_NEAR(karvex::erfcx(below), 0.0212750466853711, 1e-15);
}

TEST(NormalSpecialValues, ErfOfTinyAndSubnormalArgumentsKeepsTheirPrecision) {
  // 0.125*(8*x + efx8*x): the exact scaling keeps a subnormal's digits.
  constexpr double efx8 = 1.0270333367641007;
  for (double x : {0x1p-1074, 0x1p-1060, 0x1p-1022, 1e-300, 1e-20, next_down(0x1p-28)}) {
    EXPECT_EQ(bits(karvex::erf(x)), bits(0.125 * (8.0 * x + efx8 * x))) << x;
    EXPECT_EQ(bits(karvex::erf(-x)), bits(-karvex::erf(x))) << x;
  }
}

TEST(FdlibmExp, WithinOneUlpOfThePlatformExpAcrossItsRangeAndReductionSwitches) {
  // Both are below one ulp from e^x, so they never differ by more than one.
  for (double x = -745.0; x <= 709.7; x += 0.0137) {
    EXPECT_LE(ulp_distance(karvex::fdlibm_exp(x), std::exp(x)), 1u) << std::hexfloat << x;
  }
  for (double x : {0x1p-30, -0x1p-30, 0.3465, -0.3466, 1.0397, -1.0398, 1e-300}) {
    EXPECT_LE(ulp_distance(karvex::fdlibm_exp(x), std::exp(x)), 1u) << std::hexfloat << x;
  }
}

}  // namespace

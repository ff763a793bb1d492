// The normal distribution functions: accuracy against high-precision values
// (tests/data/normal.csv, from tools/reference/gen_normal_price.py), the branch taken at each
// switch, and the special values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kernels/fdlibm_exp.hpp"
#include "kernels/normal.hpp"
#include "support.hpp"

namespace {

using karvex::testing::bits;
using karvex::testing::next_down;
using karvex::testing::next_up;
using karvex::testing::ulp_distance;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double c = 0.7071067811865476;  // 1/sqrt(2) as the kernels round it

double evaluate(const std::string& name, double x) {
  if (name == "erf") return karvex::erf(x);
  if (name == "erfc") return karvex::erfc(x);
  if (name == "erfcx") return karvex::erfcx(x);
  return karvex::cdf(x);
}

TEST(NormalAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesCondition) {
  // erf and erfc split the square exactly (fdlibm's method), so they hold
  // about one ulp whatever the argument's condition: 2 ulps allowed. erfcx and
  // cdf pay for the rounding of the square in exp(a*a) and exp(-z*z/2), which
  // the table's condition figure includes: 4 ulps plus 2 ulps per unit of it.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/normal.csv");
  ASSERT_GT(table.size(), 2000u);
  for (const auto& row : table) {
    const std::string& name = row.text("function");
    const double x = row.num("x"), want = row.num("value"), cond = row.num("cond");
    const double got = evaluate(name, x);
    const double tol = (name == "erf" || name == "erfc") ? 2.0 : 4.0 + 2.0 * cond;
    EXPECT_LE(static_cast<double>(ulp_distance(got, want)), tol)
        << name << "(" << std::hexfloat << x << ") = " << got << ", want " << want
        << std::defaultfloat << ", cond " << cond;
  }
}

TEST(NormalAccuracy, ErfIsOddBitForBit) {
  for (const auto& row : karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/normal.csv")) {
    if (row.text("function") != "erf") continue;
    const double x = row.num("x");
    EXPECT_EQ(bits(karvex::erf(-x)), bits(-karvex::erf(x))) << std::hexfloat << x;
  }
}

TEST(NormalSpecialValues, CdfAtZeroInfinitiesAndNaN) {
  EXPECT_EQ(bits(karvex::cdf(0.0)), bits(0.5));
  EXPECT_EQ(bits(karvex::cdf(-0.0)), bits(0.5));
  EXPECT_EQ(bits(karvex::cdf(inf)), bits(1.0));
  EXPECT_EQ(bits(karvex::cdf(-inf)), bits(0.0));
  EXPECT_TRUE(std::isnan(karvex::cdf(nan)));
}

TEST(NormalSpecialValues, CdfTailsUnderflowToZeroAndRoundToOne) {
  // Lower tail: positive until exp(-z*z/2) underflows near z = -38.5.
  for (double z = -4.0; z >= -38.0; z -= 0.25) EXPECT_GT(karvex::cdf(z), 0.0) << z;
  EXPECT_EQ(bits(karvex::cdf(-38.6)), bits(0.0));
  EXPECT_EQ(bits(karvex::cdf(-1e200)), bits(0.0));
  // Upper tail: 1 minus a tiny value, exactly 1 once that is below half an ulp.
  EXPECT_LT(karvex::cdf(8.0), 1.0);
  EXPECT_EQ(bits(karvex::cdf(8.5)), bits(1.0));
  EXPECT_EQ(bits(karvex::cdf(1e200)), bits(1.0));
  // Monotone across the tail switch.
  EXPECT_LT(karvex::cdf(next_down(-4.0)), karvex::cdf(-4.0));
  EXPECT_LT(karvex::cdf(-4.0), karvex::cdf(next_up(-4.0)));
  EXPECT_LE(karvex::cdf(next_down(4.0)), karvex::cdf(4.0));
}

TEST(NormalBranches, CdfSwitchesToTheScaledTailAtFour) {
  // |z| = 4 already takes g*erfcx(...); the double just inside takes erf/erfc.
  const auto tail_lower = [](double z) {
    return 0.5 * std::exp(z * (z * (-0.5))) * karvex::erfcx(z * (-c));
  };
  const auto tail_upper = [](double z) {
    return 1.0 - 0.5 * std::exp(z * (z * (-0.5))) * karvex::erfcx(z * c);
  };
  EXPECT_EQ(bits(karvex::cdf(-4.0)), bits(tail_lower(-4.0)));
  EXPECT_EQ(bits(karvex::cdf(4.0)), bits(tail_upper(4.0)));
  EXPECT_EQ(bits(karvex::cdf(next_up(-4.0))), bits(0.5 * karvex::erfc(next_up(-4.0) * (-c))));
  EXPECT_EQ(bits(karvex::cdf(next_down(4.0))), bits((karvex::erf(next_down(4.0) * c) + 1.0) * 0.5));
}

TEST(NormalBranches, ErfcxSwitchesToTheContinuedFractionAt26Point5) {
  const double below = next_down(26.5);
  EXPECT_EQ(bits(karvex::erfcx(below)), bits(std::exp(below * below) * karvex::erfc(below)));
  // Both sides about 0.0212750466853711 (the table pins the digits).
  EXPECT_NEAR(karvex::erfcx(26.5), 0.0212750466853711, 1e-15);
  EXPECT_NEAR(karvex::erfcx(below), 0.0212750466853711, 1e-15);
  EXPECT_NE(bits(karvex::erfcx(26.5)), bits(std::exp(26.5 * 26.5) * karvex::erfc(26.5)));
}

TEST(NormalSpecialValues, ErfAndErfcAtZerosInfinitiesAndNaN) {
  EXPECT_EQ(bits(karvex::erf(0.0)), bits(0.0));
  EXPECT_EQ(bits(karvex::erf(-0.0)), bits(-0.0));
  EXPECT_EQ(bits(karvex::erf(inf)), bits(1.0));
  EXPECT_EQ(bits(karvex::erf(-inf)), bits(-1.0));
  EXPECT_EQ(bits(karvex::erf(6.0)), bits(1.0));
  EXPECT_EQ(bits(karvex::erf(-6.0)), bits(-1.0));
  EXPECT_TRUE(std::isnan(karvex::erf(nan)));
  EXPECT_EQ(bits(karvex::erfc(0.0)), bits(1.0));
  EXPECT_EQ(bits(karvex::erfc(inf)), bits(0.0));
  EXPECT_EQ(bits(karvex::erfc(-inf)), bits(2.0));
  EXPECT_EQ(bits(karvex::erfc(28.0)), bits(0.0));
  EXPECT_EQ(bits(karvex::erfc(-28.0)), bits(2.0));
  EXPECT_TRUE(std::isnan(karvex::erfc(nan)));
}

TEST(NormalSpecialValues, ErfOfTinyAndSubnormalArgumentsIsLinear) {
  // 0.125*(8*x + efx8*x): exact scaling keeps subnormals' precision.
  constexpr double efx8 = 1.0270333367641007;
  for (double x : {0x1p-1074, 0x1p-1060, 0x1p-1022, 1e-300, 1e-20, next_down(0x1p-28)}) {
    EXPECT_EQ(bits(karvex::erf(x)), bits(0.125 * (8.0 * x + efx8 * x))) << x;
    EXPECT_EQ(bits(karvex::erf(-x)), bits(-karvex::erf(x))) << x;
    EXPECT_GE(karvex::erf(x), x);
  }
  EXPECT_EQ(bits(karvex::erfc(0x1p-60)), bits(1.0 - 0x1p-60));
}

TEST(NormalSpecialValues, ErfcxAndPdfAtInfinitiesAndNaN) {
  EXPECT_EQ(bits(karvex::erfcx(inf)), bits(0.0));
  EXPECT_EQ(bits(karvex::erfcx(-inf)), bits(inf));
  EXPECT_TRUE(std::isnan(karvex::erfcx(nan)));
  EXPECT_EQ(bits(karvex::erfcx(-27.0)), bits(inf));  // exp(a*a) overflows
  EXPECT_EQ(bits(karvex::pdf(inf)), bits(0.0));
  EXPECT_EQ(bits(karvex::pdf(-inf)), bits(0.0));
  EXPECT_TRUE(std::isnan(karvex::pdf(nan)));
  EXPECT_EQ(bits(karvex::pdf(0.0)), bits(0.3989422804014327));
  EXPECT_EQ(bits(karvex::pdf(-1.5)), bits(karvex::pdf(1.5)));
}

TEST(FdlibmExp, WithinOneUlpOfThePlatformExpAcrossItsRange) {
  // Both are below one ulp from e^x, so they never differ by more than one.
  for (double x = -745.0; x <= 709.7; x += 0.0137) {
    EXPECT_LE(ulp_distance(karvex::fdlibm_exp(x), std::exp(x)), 1u) << std::hexfloat << x;
  }
  for (double x : {0x1p-30, -0x1p-30, 0.3465, -0.3466, 1.0397, -1.0398, 1e-300}) {
    EXPECT_LE(ulp_distance(karvex::fdlibm_exp(x), std::exp(x)), 1u) << std::hexfloat << x;
  }
}

TEST(FdlibmExp, SpecialValuesAndThresholds) {
  EXPECT_EQ(bits(karvex::fdlibm_exp(0.0)), bits(1.0));
  EXPECT_EQ(bits(karvex::fdlibm_exp(inf)), bits(inf));
  EXPECT_EQ(bits(karvex::fdlibm_exp(-inf)), bits(0.0));
  EXPECT_TRUE(std::isnan(karvex::fdlibm_exp(nan)));
  constexpr double o_threshold = 709.782712893384;
  constexpr double u_threshold = -745.1332191019411;
  EXPECT_TRUE(std::isfinite(karvex::fdlibm_exp(o_threshold)));
  EXPECT_EQ(bits(karvex::fdlibm_exp(next_up(o_threshold))), bits(inf));
  EXPECT_GT(karvex::fdlibm_exp(u_threshold), 0.0);
  EXPECT_EQ(bits(karvex::fdlibm_exp(next_down(u_threshold))), bits(0.0));
  // Known value of the classic algorithm: e^1 one ulp above the nearest double.
  EXPECT_EQ(bits(karvex::fdlibm_exp(1.0)), bits(next_up(2.718281828459045)));
}

}  // namespace

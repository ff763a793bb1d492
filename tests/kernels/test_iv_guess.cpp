// The inverse normal distribution function, the rational cubic interpolation and the initial guess
// of the implied-volatility kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernels/iv_guess.hpp"
#include "kernels/normalised_black.hpp"
#include "support.hpp"

namespace karvex {
namespace {

using testing::bits;
using testing::ulp_distance;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double r_min = -0.9999999850695;
constexpr double r_max = 4.054944344523184e+31;

TEST(InvCdf, MatchesHighPrecisionQuantilesFromTheFarTailToOneMinusUlp) {
  // AS241 is good to about 1e-16 relative; evaluating its degree-7 polynomials adds a few ulps.
  const auto rows = testing::read_csv(KARVEX_TEST_DATA_DIR "/inv_cdf.csv");
  ASSERT_GT(rows.size(), 800u);
  for (const auto& row : rows) {
    const double p = row.num("p");
    EXPECT_LE(ulp_distance(inv_cdf(p), row.num("x")), 8u) << "p = " << p << " got " << inv_cdf(p);
  }
}

TEST(InvCdf, SpecialValues) {
  EXPECT_EQ(bits(inv_cdf(0.5)), bits(0.0));
  for (double p : {0.0, -0.0, -1.0, -kInf}) EXPECT_EQ(inv_cdf(p), -kInf) << p;
  for (double p : {1.0, 2.0, kInf}) EXPECT_EQ(inv_cdf(p), kInf) << p;
  EXPECT_TRUE(std::isnan(inv_cdf(kNaN)));
  // The smallest subnormal still has a finite quantile.
  EXPECT_NEAR(inv_cdf(std::numeric_limits<double>::denorm_min()), -38.4674, 1e-4);
}

TEST(InvCdf, NearTailUsesTheFixedConstantTerm) {
  // At sqrt(-ln p) = 1.6 the near-tail rational function is its constant term
  // c0 = 0x3ff6c665fde9526b, one ulp above the nearest double to the published decimal.
  const double p = std::exp(-1.6 * 1.6);
  ASSERT_EQ(std::sqrt(-std::log(p)) - 1.6, 0.0);
  EXPECT_EQ(bits(inv_cdf(p)), 0xbff6c665fde9526bULL);
}

TEST(RationalCubic, LinearAtRMaxMidpointForZeroWidthAndHermiteCubicAtThree) {
  for (double x : {0.0, 0.125, 0.5, 0.75, 1.0}) {
    EXPECT_EQ(rational_cubic_interpolation(x, 0.0, 1.0, 2.0, 6.0, -50.0, 70.0, r_max),
              6.0 * x + 2.0 * (1 - x));
  }
  EXPECT_EQ(rational_cubic_interpolation(0.3, 1.0, 1.0, 2.0, 5.0, 1.0, 1.0, 3.0), 3.5);
  // r = 3: the cubic Hermite interpolant, which reproduces a cubic from its end values and slopes.
  const auto cubic = [](double x) { return ((0.5 * x - 1.0) * x + 2.0) * x - 3.0; };
  const auto slope = [](double x) { return (1.5 * x - 2.0) * x + 2.0; };
  for (double x = -1.0; x <= 2.0; x += 0.25) {
    EXPECT_NEAR(rational_cubic_interpolation(x, -1.0, 2.0, cubic(-1.0), cubic(2.0), slope(-1.0),
                                             slope(2.0), 3.0),
                cubic(x), 1e-14);
  }
}

TEST(RationalCubic, MinimumControlParameterRules) {
  // Neither monotonic nor convex nor concave: R_min; linear or flat with prefer_shape: R_max;
  // monotonic and convex: the larger of (d_r + d_l)/m and the convexity bound.
  EXPECT_EQ(minimum_rational_cubic_control_parameter(-1.0, 1.0, 2.0, false), r_min);
  EXPECT_EQ(minimum_rational_cubic_control_parameter(1.0, 1.0, 1.0, true), r_max);
  EXPECT_EQ(minimum_rational_cubic_control_parameter(0.0, 0.0, 0.0, true), r_max);
  EXPECT_EQ(minimum_rational_cubic_control_parameter(0.5, 4.0, 1.0, false), 7.0);
  // The fitted parameter loses to the minimum unless larger; a NaN fitted value is ignored.
  EXPECT_EQ(convex_rational_cubic_control_parameter_left(0.0, 1.0, 0.0, 1.0, 0.5, 4.0, 0.0, false),
            7.0);
  EXPECT_EQ(
      convex_rational_cubic_control_parameter_right(0.0, 1.0, 0.0, 1.0, 0.5, 4.0, kNaN, false),
      7.0);
  // Vanishing numerator: 0; vanishing denominator: R_max or R_min by sign.
  EXPECT_EQ(rational_cubic_control_parameter_left(0.0, 1.0, 0.0, 1.0, 1.0, 1.0, 0.0), 0.0);
  EXPECT_EQ(rational_cubic_control_parameter_left(0.0, 1.0, 0.0, 1.0, 1.0, 2.0, 0.0), r_max);
  EXPECT_EQ(rational_cubic_control_parameter_right(0.0, 1.0, 0.0, 1.0, 2.0, 1.0, 0.0), r_min);
}

TEST(RationalCubic, ConvexControlParameterKeepsConvexMonotoneDataSo) {
  // exp on [0, 3], fitted to a huge curvature at the left end that would make the curve
  // overshoot: the convex parameter keeps the interpolant increasing and convex.
  const double e3 = std::exp(3.0);
  const double r =
      convex_rational_cubic_control_parameter_left(0.0, 3.0, 1.0, e3, 1.0, e3, -1e3, false);
  double prev = rational_cubic_interpolation(0.0, 0.0, 3.0, 1.0, e3, 1.0, e3, r), prev_slope = 0;
  for (int i = 1; i <= 300; ++i) {
    const double y = rational_cubic_interpolation(i / 100.0, 0.0, 3.0, 1.0, e3, 1.0, e3, r);
    EXPECT_GT(y - prev, 0.0) << i;
    EXPECT_GE(y - prev, prev_slope - 1e-12) << i;
    prev_slope = y - prev;
    prev = y;
  }
}

TEST(InitialGuess, AtTheMoneyIsTheExactInverseInBranchFour) {
  for (double beta : {1e-300, 1e-12, 1e-3, 0.2, 0.5, 0.5000000000000001, 0.9, 0.999999}) {
    const IvGuess g = iv_initial_guess(0.0, 0.0, beta, 1.0);
    EXPECT_EQ(g.branch, 4);
    EXPECT_EQ(bits(g.s0), bits(-2 * inv_cdf((1 - beta) / 2))) << beta;
    EXPECT_EQ(g.s_left, 0.0);
    EXPECT_EQ(g.s_right, std::numeric_limits<double>::max());
    EXPECT_EQ(g.objective, beta > 0.5 ? IvObjective::upper : IvObjective::middle) << beta;
  }
}

TEST(InitialGuess, BranchesFollowThePriceAndTheBracketHoldsTheRoot) {
  // For each log-moneyness, walking s upwards: the branch never decreases, all four occur, the
  // bracket holds the true s, the objective follows the branch, and away from the far wings the
  // guess lands within 15% of the root.
  for (double x : {-1e-6, -0.01, -0.5, -1.0, -4.0, -20.0, -200.0}) {
    const double b_max = std::exp(x / 2), s_c = std::sqrt(2 * std::fabs(x));
    int last_branch = 1, seen[5] = {};
    for (int i = 0; i <= 600; ++i) {
      const double s = s_c * std::pow(2.0, (i - 300) / 20.0), beta = normalised_black(x, s).b;
      if (!(beta > 0.0) || !(beta < b_max)) continue;
      const IvGuess g = iv_initial_guess(x, std::fabs(x), beta, b_max);
      EXPECT_GE(g.branch, last_branch) << "x " << x << " s " << s;
      last_branch = g.branch;
      ++seen[g.branch];
      EXPECT_LE(g.s_left, s * (1 + 1e-12)) << "x " << x << " s " << s;
      EXPECT_GE(g.s_right, s * (1 - 1e-12)) << "x " << x << " s " << s;
      if (beta > 1e-200 && b_max - beta > 1e-10 * b_max) {
        EXPECT_NEAR(g.s0 / s, 1.0, 0.15) << "x " << x << " s " << s << " branch " << g.branch;
      }
      EXPECT_EQ(g.objective, g.branch == 1                       ? IvObjective::lower
                             : g.branch == 4 && beta > b_max / 2 ? IvObjective::upper
                                                                 : IvObjective::middle);
    }
    for (int branch = 1; branch <= 4; ++branch) EXPECT_GT(seen[branch], 0) << "x " << x;
  }
}

TEST(InitialGuess, LowerMapStaysFiniteForTinyPrices) {
  // Far below b_l the guess is finite and non-negative and the bracket starts at 0.
  for (double beta : {5e-324, 1e-310, 1e-300, 1e-200}) {
    const IvGuess g = iv_initial_guess(-5.0, 5.0, beta, std::exp(-2.5));
    EXPECT_EQ(g.branch, 1);
    EXPECT_EQ(g.s_left, 0.0);
    EXPECT_TRUE(std::isfinite(g.s0) && g.s0 >= 0.0) << beta;
  }
}

}  // namespace
}  // namespace karvex

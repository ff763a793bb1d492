// Inverse normal distribution function, rational cubic interpolation and the
// initial guess of the implied-volatility kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kernels/iv_guess.hpp"
#include "kernels/normalised_black.hpp"
#include "support.hpp"

namespace karvex {
namespace {

using testing::bits;
using testing::read_csv;
using testing::ulp_distance;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDblMax = std::numeric_limits<double>::max();

TEST(InvCdf, MatchesHighPrecisionQuantilesFromTheFarTailToOneMinusUlp) {
  const auto rows = read_csv(std::string(KARVEX_TEST_DATA_DIR) + "/inv_cdf.csv");
  ASSERT_GT(rows.size(), 800u);
  std::uint64_t worst = 0;
  for (const auto& row : rows) {
    const double p = row.num("p");
    const double expected = row.num("x");
    const std::uint64_t d = ulp_distance(inv_cdf(p), expected);
    worst = std::max(worst, d);
    // AS241 is good to about 1e-16 relative before rounding; the evaluation
    // of its two degree-7 polynomials adds a few ulps.
    EXPECT_LE(d, 8u) << "p = " << p << " expected " << expected << " got " << inv_cdf(p);
  }
  std::printf("inv_cdf: worst error %llu ulp over %zu points\n",
              static_cast<unsigned long long>(worst), rows.size());
}

TEST(InvCdf, IsOddAboutOneHalf) {
  // p and 1 - p both exact: dyadic p in [1/4, 1/2].
  for (int i = 0; i <= 4096; ++i) {
    const double p = 0.25 + i / 16384.0;
    EXPECT_LE(ulp_distance(inv_cdf(p), -inv_cdf(1.0 - p)), 1u) << p;
  }
  // Tail values: 1 - p exact for p = 2^-k.
  for (int e = 2; e <= 53; ++e) {
    const double p = std::ldexp(1.0, -e);
    EXPECT_LE(ulp_distance(inv_cdf(p), -inv_cdf(1.0 - p)), 2u) << p;
  }
}

TEST(InvCdf, SpecialValues) {
  EXPECT_EQ(bits(inv_cdf(0.5)), bits(0.0));
  EXPECT_EQ(inv_cdf(0.0), -kInf);
  EXPECT_EQ(inv_cdf(-0.0), -kInf);
  EXPECT_EQ(inv_cdf(-1.0), -kInf);
  EXPECT_EQ(inv_cdf(-kInf), -kInf);
  EXPECT_EQ(inv_cdf(1.0), kInf);
  EXPECT_EQ(inv_cdf(2.0), kInf);
  EXPECT_EQ(inv_cdf(kInf), kInf);
  EXPECT_TRUE(std::isnan(inv_cdf(kNaN)));
  // The smallest subnormal still has a finite quantile (about -38.47).
  EXPECT_NEAR(inv_cdf(std::numeric_limits<double>::denorm_min()), -38.4674, 1e-4);
}

TEST(InvCdf, NearTailUsesTheFixedConstantTerm) {
  // At sqrt(-ln p) = 1.6 the near-tail rational function reduces to its
  // constant term c0 = 1.4234371107496837 (0x3ff6c665fde9526b), one ulp
  // above the nearest double to the published decimal.
  const double p = std::exp(-1.6 * 1.6);
  const double r = std::sqrt(-std::log(p)) - 1.6;
  ASSERT_EQ(r, 0.0);
  EXPECT_EQ(bits(inv_cdf(p)), bits(-1.4234371107496837));
  EXPECT_EQ(bits(-1.4234371107496837), 0xbff6c665fde9526bULL);
}

TEST(RationalCubic, LinearAtRMaxAndMidpointForZeroWidth) {
  const double r_max = 4.054944344523184e+31;
  for (double x : {0.0, 0.125, 0.5, 0.75, 1.0}) {
    EXPECT_EQ(rational_cubic_interpolation(x, 0.0, 1.0, 2.0, 6.0, -50.0, 70.0, r_max),
              6.0 * x + 2.0 * (1 - x));
  }
  EXPECT_EQ(rational_cubic_interpolation(0.3, 1.0, 1.0, 2.0, 5.0, 1.0, 1.0, 3.0), 3.5);
  // With r = 3 the denominator is 1 and the curve is the cubic Hermite
  // interpolant: it reproduces any cubic from its end values and slopes.
  const auto cubic = [](double x) { return ((0.5 * x - 1.0) * x + 2.0) * x - 3.0; };
  const auto slope = [](double x) { return (1.5 * x - 2.0) * x + 2.0; };
  for (double x = -1.0; x <= 2.0; x += 0.25) {
    EXPECT_NEAR(rational_cubic_interpolation(x, -1.0, 2.0, cubic(-1.0), cubic(2.0), slope(-1.0),
                                             slope(2.0), 3.0),
                cubic(x), 1e-14);
  }
}

TEST(RationalCubic, MinimumControlParameterRules) {
  const double r_min = -0.9999999850695;
  const double r_max = 4.054944344523184e+31;
  // Neither monotonic nor convex nor concave: R_min.
  EXPECT_EQ(minimum_rational_cubic_control_parameter(-1.0, 1.0, 2.0, false), r_min);
  // Linear data with prefer_shape: the straight line.
  EXPECT_EQ(minimum_rational_cubic_control_parameter(1.0, 1.0, 1.0, true), r_max);
  // Monotonic and convex: the larger of (d_r + d_l)/m and the convexity bound.
  EXPECT_EQ(minimum_rational_cubic_control_parameter(0.5, 4.0, 1.0, false),
            std::max(4.5, std::max(3.5 / 3.0, 3.5 / 0.5)));
  // A zero secant slope with prefer_shape.
  EXPECT_EQ(minimum_rational_cubic_control_parameter(0.0, 0.0, 0.0, true), r_max);
  // The fitted parameter loses to the minimum unless it is larger, and a NaN
  // fitted value is ignored.
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
  // Data from exp on [0, 3], fitted to a huge curvature at the left end that
  // would otherwise make the curve overshoot: the convex parameter keeps the
  // interpolant increasing and convex.
  const double x_l = 0.0, x_r = 3.0;
  const double r = convex_rational_cubic_control_parameter_left(x_l, x_r, 1.0, std::exp(3.0), 1.0,
                                                                std::exp(3.0), -1e3, false);
  double prev =
      rational_cubic_interpolation(x_l, x_l, x_r, 1.0, std::exp(3.0), 1.0, std::exp(3.0), r);
  double prev_slope = 0.0;
  for (int i = 1; i <= 300; ++i) {
    const double x = x_l + (x_r - x_l) * i / 300.0;
    const double y =
        rational_cubic_interpolation(x, x_l, x_r, 1.0, std::exp(3.0), 1.0, std::exp(3.0), r);
    const double slope = y - prev;
    EXPECT_GT(slope, 0.0) << x;
    EXPECT_GE(slope, prev_slope - 1e-12) << x;
    prev = y;
    prev_slope = slope;
  }
}

// The normalised price of an out-of-the-money call at total volatility s.
double b_at(double x, double s) {
  return normalised_black(x, s).b;
}

TEST(InitialGuess, AtTheMoneyIsTheExactInverseInBranchFour) {
  for (double beta : {1e-300, 1e-12, 1e-3, 0.2, 0.5, 0.5000000000000001, 0.9, 0.999999}) {
    const IvGuess g = iv_initial_guess(0.0, 0.0, beta, 1.0);
    EXPECT_EQ(g.branch, 4);
    EXPECT_EQ(bits(g.s0), bits(-2 * inv_cdf((1 - beta) / 2))) << beta;
    EXPECT_EQ(g.s_left, 0.0);
    EXPECT_EQ(g.s_right, kDblMax);
    EXPECT_EQ(g.objective, beta > 0.5 ? IvObjective::upper : IvObjective::middle) << beta;
  }
}

TEST(InitialGuess, BranchesFollowThePriceAndTheBracketHoldsTheRoot) {
  // For each log-moneyness, walk the total volatility upwards: the branch
  // never decreases, all four occur, the bracket holds the true s, and the
  // guess is already close to it away from the far wings.
  for (double x : {-1e-6, -0.01, -0.5, -1.0, -4.0, -20.0, -200.0}) {
    const double b_max = std::exp(x / 2);
    int last_branch = 1;
    int seen[5] = {};
    const double s_c = std::sqrt(2 * std::fabs(x));
    for (int i = 0; i <= 600; ++i) {
      const double s = s_c * std::pow(2.0, (i - 300) / 20.0);
      const double beta = b_at(x, s);
      if (!(beta > 0.0) || !(beta < b_max)) continue;
      const IvGuess g = iv_initial_guess(x, std::fabs(x), beta, b_max);
      EXPECT_GE(g.branch, last_branch) << "x " << x << " s " << s;
      last_branch = g.branch;
      ++seen[g.branch];
      EXPECT_LE(g.s_left, s * (1 + 1e-12)) << "x " << x << " s " << s;
      EXPECT_GE(g.s_right, s * (1 - 1e-12)) << "x " << x << " s " << s;
      // The guess lands within some 12% of the root before refinement.
      if (beta > 1e-200 && b_max - beta > 1e-10 * b_max) {
        EXPECT_NEAR(g.s0 / s, 1.0, 0.15) << "x " << x << " s " << s << " branch " << g.branch;
      }
      const IvObjective expected = g.branch == 1                       ? IvObjective::lower
                                   : g.branch == 4 && beta > b_max / 2 ? IvObjective::upper
                                                                       : IvObjective::middle;
      EXPECT_EQ(g.objective, expected);
    }
    for (int branch = 1; branch <= 4; ++branch) EXPECT_GT(seen[branch], 0) << "x " << x;
  }
}

TEST(InitialGuess, LowerMapFallsBackToZeroOrQuadraticAndStaysFinite) {
  // Tiny prices far below b_l: the lower map's guess stays finite and
  // non-negative, and the bracket is [0, s_l].
  for (double beta : {5e-324, 1e-310, 1e-300, 1e-200}) {
    const IvGuess g = iv_initial_guess(-5.0, 5.0, beta, std::exp(-2.5));
    EXPECT_EQ(g.branch, 1);
    EXPECT_EQ(g.s_left, 0.0);
    EXPECT_TRUE(std::isfinite(g.s0) && g.s0 >= 0.0) << beta;
  }
}

}  // namespace
}  // namespace karvex

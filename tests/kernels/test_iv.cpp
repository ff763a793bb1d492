// The implied-volatility kernel: round trips through the price kernel, the refinement on its own,
// input checks, the price bounds and the values of the degenerate cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernels/iv.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace karvex {
namespace {

using testing::bits;

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

double ulp(double v) {
  v = std::fabs(v);
  return std::nextafter(v, kInf) - v;
}

// How far the computed normalised Black function strays from a straight line over a few ulps of
// s: its rounding noise there, below which no inversion can go.
double evaluation_noise(double x, double s) {
  const NormalisedBlack centre = normalised_black(x, s);
  double noise = 0.0;
  for (int j = -8; j <= 8; ++j) {
    const double sj = s + j * ulp(s);
    noise = std::max(noise, std::fabs(normalised_black(x, sj).b - centre.b - (sj - s) * centre.nu));
  }
  return noise;
}

// Prices an option at total volatility s (t = 1, r = q = 0, F/K = exp(x), sqrt(F K) = 1), inverts
// the price and checks: 0.0 only when the time value is below the price's rounding, NaN only
// within rounding of the maximum; the backward error (the normalised price at the result against
// the reduced target) within a few ulps plus the evaluation noise (and for the lower objective
// the resolution of ln b); the forward error within the first-order propagation of the target's
// rounding, and 16 eps where that is small. Counts the branches and objectives taken.
void round_trip(bool is_put, double x, double s, int (&branch)[5], int (&objective)[3]) {
  const double spot = std::exp(x / 2), k = std::exp(-x / 2), xk = std::log(spot / k);
  const double price = bsm_price_kernel(is_put, spot, k, 1.0, 0.0, 0.0, s);
  IvTrace trace;
  const double sigma = bsm_iv_kernel_traced(is_put, price, spot, k, 1.0, 0.0, 0.0, trace);
  const bool itm = is_put ? xk < 0 : xk > 0;
  const NormalisedBlack truth = normalised_black(-std::fabs(xk), s);
  const double beta_total = price / (std::sqrt(k) * std::sqrt(spot));
  const double target_error =
      4 * kEps * (itm ? beta_total + std::cosh(xk / 2) * (1 + std::fabs(xk)) : truth.b) +
      2 * evaluation_noise(-std::fabs(xk), s) + 4 * kTiny;
  const double b_max = std::exp(-std::fabs(xk) / 2);
  const auto where = [&] {
    return ::testing::Message() << (is_put ? "put" : "call") << " x=" << x << " s=" << s
                                << " sigma=" << sigma << " branch " << trace.branch;
  };
  if (std::isnan(sigma)) {
    EXPECT_LE(b_max - truth.b, target_error + 4 * ulp(b_max)) << where();
    return;
  }
  ASSERT_GE(sigma, 0.0) << where();
  if (sigma == 0.0) {
    EXPECT_TRUE(truth.b <= target_error || truth.b < 1e-300) << where();
    return;
  }
  ASSERT_GE(trace.branch, 1) << where();
  ++branch[trace.branch];
  ++objective[static_cast<int>(trace.objective)];
  const NormalisedBlack at = normalised_black(trace.x, trace.s);
  const double log_resolution = trace.objective == IvObjective::lower
                                    ? 4 * kEps * std::fabs(std::log(trace.beta)) * trace.beta
                                    : 0.0;
  const double allowed = 4 * ulp(trace.beta) + 4 * evaluation_noise(trace.x, trace.s) +
                         2 * at.nu * ulp(trace.s) + log_resolution;
  EXPECT_LE(std::fabs(at.b - trace.beta), allowed) << where();
  if (truth.nu > 0.0) {
    const double bound = (target_error + allowed) / truth.nu + 4 * ulp(s);
    EXPECT_LE(std::fabs(sigma - s), bound) << where();
    if (bound <= 64 * kEps * s) {
      EXPECT_LE(std::fabs(sigma - s), 16 * kEps * s) << where();
    }
  }
}

TEST(ImpliedVolatility, RoundTripsOverMoneynessAndTotalVolatility) {
  // |x| in units of s, from at the money to far beyond underflow; s from 1e-8 to 20.
  const double hs[] = {0, 1e-9, 1e-4, 0.01, 0.1, 0.3, 0.6, 1,  1.5, 2,    3,  4,   6,
                       8, 10,   12,   15,   20,  25,  30,  35, 37,  38.5, 50, 100, 300};
  int branch[5] = {}, objective[3] = {};
  for (double h : hs) {
    for (int i = 0; i <= 64; ++i) {
      const double s = 1e-8 * std::pow(20 / 1e-8, i / 64.0);
      for (double side : {-1.0, 1.0}) {
        if (std::fabs(h * s) > 700 || (h == 0 && side > 0)) continue;
        round_trip(false, side * h * s, s, branch, objective);
        round_trip(true, side * h * s, s, branch, objective);
      }
    }
  }
  for (int b = 1; b <= 4; ++b) EXPECT_GT(branch[b], 20) << "branch " << b;
  for (int o = 0; o < 3; ++o) EXPECT_GT(objective[o], 20) << "objective " << o;
}

TEST(ImpliedVolatility, KnownVolatilitiesWithRatesAndTheAtTheMoneyShortcut) {
  // The classic at-the-money call worth 10.450583572185565 at sigma = 0.2, r = 0.05, and a
  // Black-76 put (the forward for s and r for q).
  EXPECT_NEAR(bsm_iv_kernel(false, 10.450583572185565, 100, 100, 1, 0.05, 0), 0.2, 0.2e-15);
  const double f = 100 * std::exp(0.05), p76 = bsm_price_kernel(true, f, 90, 0.5, 0.05, 0.05, 0.3);
  EXPECT_NEAR(bsm_iv_kernel(true, p76, f, 90, 0.5, 0.05, 0.05), 0.3, 1e-14);
  // At the money forward (x = 0): branch 4 starts from the exact inverse, so one Householder step
  // and a confirming evaluation.
  for (double sigma : {1e-6, 0.01, 0.2, 1.0, 3.0}) {
    for (bool is_put : {false, true}) {
      IvTrace trace;
      const double price = bsm_price_kernel(is_put, 100, 100, 1, 0.0, 0.0, sigma);
      bsm_iv_kernel_traced(is_put, price, 100, 100, 1, 0, 0, trace);
      EXPECT_TRUE(trace.x == 0.0 && trace.branch == 4 && trace.steps <= 2) << sigma;
    }
  }
}

TEST(ImpliedVolatility, PriceAtOrJustBelowIntrinsicValueHasNoVolatility) {
  // In-the-money options priced at their intrinsic value (the discounted spot less the discounted
  // strike, as the kernel forms it) and down to 1e-12 below: 0.0, never a spurious volatility;
  // further below: NaN. Short expiries are where the normalised time value rounds above 0.
  int cases = 0;
  for (double t : {1.0 / 365, 7.0 / 365, 0.1, 0.5, 1.0, 5.0})
    for (double r : {0.0, 0.01, 0.05, -0.02})
      for (double q : {0.0, 0.02})
        for (double s : {10.0, 97.3, 100.0, 1234.5})
          for (double m : {0.5, 0.8, 0.9, 0.97, 0.99, 0.999, 1.001, 1.01, 1.03, 1.1, 1.25, 2.0})
            for (bool is_put : {false, true}) {
              const double k = s * m, s_disc = s * std::exp(-q * t), k_disc = k * std::exp(-r * t);
              const double intrinsic = is_put ? k_disc - s_disc : s_disc - k_disc;
              if (!(intrinsic > 0)) continue;
              ++cases;
              EXPECT_EQ(bits(bsm_iv_kernel(is_put, intrinsic, s, k, t, r, q)), 0u)
                  << is_put << " s=" << s << " k=" << k << " t=" << t;
              for (double below : {ulp(intrinsic), 1e-13, 0.999e-12}) {
                if (intrinsic - below >= 0) {
                  EXPECT_EQ(bsm_iv_kernel(is_put, intrinsic - below, s, k, t, r, q), 0.0);
                }
              }
              EXPECT_TRUE(std::isnan(bsm_iv_kernel(is_put, intrinsic - 2e-12, s, k, t, r, q)));
            }
  EXPECT_GT(cases, 1000);
}

TEST(ImpliedVolatility, PriceAtOrAboveTheUpperBoundIsNaNNotInfinite) {
  // The upper bound is the discounted spot for a call, the discounted strike for a put.
  for (double s : {1.0, 50.0, 100.0, 3e4})
    for (double m : {0.5, 0.9, 1.0, 1.1, 2.0})
      for (double t : {1.0 / 365, 0.25, 1.0, 10.0})
        for (double r : {0.0, 0.05})
          for (double q : {0.0, 0.02}) {
            const double k = m * s, s_disc = s * std::exp(-q * t), k_disc = k * std::exp(-r * t);
            for (double above : {0.0, 0.5e-12, 2e-12}) {
              EXPECT_TRUE(std::isnan(bsm_iv_kernel(false, s_disc + above, s, k, t, r, q)))
                  << "call s=" << s << " k=" << k << " t=" << t << " above " << above;
              EXPECT_TRUE(std::isnan(bsm_iv_kernel(true, k_disc + above, s, k, t, r, q)))
                  << "put s=" << s << " k=" << k << " t=" << t << " above " << above;
            }
          }
}

TEST(ImpliedVolatility, SubnormalTargetsAreInvertedNotRoundedToZero) {
  const double sigma = bsm_iv_kernel(false, 1e-320, 100, 200, 1, 0, 0);
  EXPECT_NEAR(sigma, 0.018146, 1e-6);
  // beta = 1e-320/sqrt(100*200) is some 14 subnormal steps: matched to that resolution.
  EXPECT_NEAR(bsm_price_kernel(false, 100, 200, 1, 0, 0, sigma), 1e-320,
              2 * std::sqrt(100.0 * 200.0) * kTiny);
  EXPECT_EQ(bsm_iv_kernel(false, kTiny, 100, 200, 1, 0, 0), 0.0);  // beta underflows to 0
}

TEST(ImpliedVolatility, InvalidInputsAreNaNAndZeroPricesOutOfTheMoneyAreZero) {
  const auto iv = [](double target, double s, double k, double t, double r, double q) {
    return bsm_iv_kernel(false, target, s, k, t, r, q);
  };
  for (double bad : {kNaN, kInf, -kInf, 0.0, -0.0, -1.0}) {
    EXPECT_TRUE(std::isnan(iv(5.0, bad, 100, 1, 0.01, 0.0))) << bad;
    EXPECT_TRUE(std::isnan(iv(5.0, 100, bad, 1, 0.01, 0.0))) << bad;
    EXPECT_TRUE(std::isnan(iv(5.0, 100, 100, bad, 0.01, 0.0))) << bad;
  }
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_TRUE(std::isnan(iv(5.0, 100, 100, 1, bad, 0.0))) << bad;
    EXPECT_TRUE(std::isnan(iv(5.0, 100, 100, 1, 0.01, bad))) << bad;
    EXPECT_TRUE(std::isnan(iv(bad, 100, 100, 1, 0.01, 0.0))) << bad;
  }
  EXPECT_TRUE(std::isnan(iv(-1.0, 100, 100, 1, 0.01, 0.0)));
  EXPECT_TRUE(std::isnan(iv(-kTiny, 100, 120, 1, 0.01, 0.0)));
  // Negative rates and dividends are valid.
  const double p = bsm_price_kernel(false, 100, 100, 1, -0.01, -0.02, 0.25);
  EXPECT_NEAR(iv(p, 100, 100, 1, -0.01, -0.02), 0.25, 1e-14);
  // A zero price (-0.0 too) of an out-of-the-money option: +0.0; -0.0 in the money: NaN.
  EXPECT_EQ(bits(iv(0.0, 100, 120, 1, 0.01, 0.0)), 0u);
  EXPECT_EQ(bits(iv(-0.0, 100, 120, 1, 0.01, 0.0)), 0u);
  EXPECT_EQ(bits(bsm_iv_kernel(true, -0.0, 100, 80, 1, 0.01, 0.0)), 0u);
  EXPECT_TRUE(std::isnan(iv(-0.0, 100, 80, 1, 0.01, 0.0)));
}

TEST(Refinement, ExactStartStopsAfterOneEvaluation) {
  for (double x : {0.0, -0.3, -2.0}) {
    for (double s : {0.3, 0.8, 2.0}) {
      const IvGuess guess{s, s / 2, 2 * s, IvObjective::middle, 2};
      const IvRefined refined = iv_refine(x, normalised_black(x, s).b, std::exp(x / 2), guess);
      EXPECT_EQ(refined.steps, 1) << "x=" << x << " s=" << s;
      EXPECT_LE(std::fabs(refined.s - s), 2 * ulp(s)) << "x=" << x << " s=" << s;
    }
  }
}

TEST(Refinement, StartOutsideTheBracketAtZeroOrNaNStillConverges) {
  const double x = -1.0, s = 0.3, beta = normalised_black(x, s).b, b_max = std::exp(x / 2);
  // s0 = 0 in the lower objective: b = 0 forces a bisection step.
  EXPECT_NEAR(iv_refine(x, beta, b_max, {0.0, 0.0, 0.5, IvObjective::lower, 1}).s, s, 1e-3);
  // Far above the root: floored at half its value per step and pulled back into the bracket.
  const IvRefined from_above = iv_refine(x, beta, b_max, {50.0, 0.0, 0.6, IvObjective::middle, 2});
  EXPECT_GT(from_above.s, 0.0);
  EXPECT_LT(from_above.s, 0.6);
  // A NaN start is replaced by the midpoint of the bracket.
  EXPECT_NEAR(iv_refine(x, beta, b_max, {kNaN, 0.25, 0.35, IvObjective::middle, 2}).s, s, 1e-6);
}

}  // namespace
}  // namespace karvex

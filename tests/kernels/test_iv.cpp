// The implied-volatility kernel: round trips through the price kernel, the
// refinement on its own, input checks, price bounds and the values of the
// degenerate cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

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

// How far the computed normalised Black function strays from a straight line
// over a few ulps of s: its rounding noise there. The round trip cannot be
// asked to be more accurate than the function it inverts.
double evaluation_noise(double x, double s) {
  const NormalisedBlack centre = normalised_black(x, s);
  const double u = ulp(s);
  double noise = 0.0;
  for (int j = -8; j <= 8; ++j) {
    const double sj = s + j * u;
    noise = std::max(noise, std::fabs(normalised_black(x, sj).b - centre.b - (sj - s) * centre.nu));
  }
  return noise;
}

struct RoundTripSummary {
  int cases = 0;
  int branch[5] = {};
  int objective[3] = {};
  int zeros = 0;
  int nans = 0;
  double worst_backward_ulps = 0.0;   // |b(x', s) - beta| in ulps of beta (normal beta)
  double worst_backward_ratio = 0.0;  // the same over what the evaluation noise allows
  double worst_backward_quiet = 0.0;  // ulps of beta where the noise is below one ulp
  double worst_forward = 0.0;         // |d sigma|/sigma where well-conditioned
  double worst_forward_ratio = 0.0;   // |d sigma| over its first-order bound
};

// Prices an option at total volatility s (t = 1, r = q = 0, F/K = exp(x),
// sqrt(F K) = 1), inverts the price and checks the result:
//  - 0.0 only when the time value is below the rounding of the price (or
//    underflows), NaN only when the price is within rounding of its maximum;
//  - backward error: the normalised price at the implied total volatility
//    matches the reduced target to within a few ulps plus the evaluation
//    noise of the normalised Black function (and, for the lower objective, the
//    resolution of ln b);
//  - forward error: |d sigma| within the first-order propagation of the
//    target's rounding, |d beta|/vega.
void round_trip(bool is_put, double x, double s, RoundTripSummary& sum) {
  const double spot = std::exp(x / 2);
  const double k = std::exp(-x / 2);
  const double xk = std::log(spot / k);  // the log-moneyness both kernels see
  const double price = bsm_price_kernel(is_put, spot, k, 1.0, 0.0, 0.0, s);
  IvTrace trace;
  const double sigma = bsm_iv_kernel_traced(is_put, price, spot, k, 1.0, 0.0, 0.0, trace);
  ++sum.cases;

  const bool itm = is_put ? xk < 0 : xk > 0;
  const NormalisedBlack truth = normalised_black(-std::fabs(xk), s);
  const double beta_total = price / (std::sqrt(k) * std::sqrt(spot));
  // Rounding of the reduced target: a few ulps of the price, and for an
  // in-the-money option the rounding of x inside the intrinsic value.
  const double target_error =
      4 * kEps * (itm ? beta_total + std::cosh(xk / 2) * (1 + std::fabs(xk)) : truth.b) +
      2 * evaluation_noise(-std::fabs(xk), s) + 4 * kTiny;
  const double b_max = std::exp(-std::fabs(xk) / 2);
  const auto where = [&] {
    return ::testing::Message() << (is_put ? "put" : "call") << " x=" << x << " s=" << s
                                << " price=" << price << " sigma=" << sigma;
  };

  if (std::isnan(sigma)) {
    ++sum.nans;
    EXPECT_LE(b_max - truth.b, target_error + 4 * ulp(b_max)) << where();
    return;
  }
  ASSERT_GE(sigma, 0.0) << where();
  if (sigma == 0.0) {
    ++sum.zeros;
    EXPECT_TRUE(truth.b <= target_error || truth.b < 1e-300) << where();
    return;
  }
  ASSERT_GE(trace.branch, 1) << where();
  ++sum.branch[trace.branch];
  ++sum.objective[static_cast<int>(trace.objective)];

  const NormalisedBlack at = normalised_black(trace.x, trace.s);
  const double backward = std::fabs(at.b - trace.beta);
  const double log_resolution = trace.objective == IvObjective::lower
                                    ? 4 * kEps * std::fabs(std::log(trace.beta)) * trace.beta
                                    : 0.0;
  const double noise = evaluation_noise(trace.x, trace.s);
  const double allowed =
      4 * ulp(trace.beta) + 4 * noise + 2 * at.nu * ulp(trace.s) + log_resolution;
  EXPECT_LE(backward, allowed) << where() << " branch " << trace.branch;
  if (trace.beta >= std::numeric_limits<double>::min()) {
    sum.worst_backward_ulps = std::max(sum.worst_backward_ulps, backward / ulp(trace.beta));
    if (noise <= ulp(trace.beta) && at.nu * ulp(trace.s) <= ulp(trace.beta)) {
      sum.worst_backward_quiet = std::max(sum.worst_backward_quiet, backward / ulp(trace.beta));
    }
  }
  sum.worst_backward_ratio = std::max(sum.worst_backward_ratio, backward / allowed);

  if (truth.nu > 0.0) {
    const double bound = (target_error + allowed) / truth.nu + 4 * ulp(s);
    const double forward = std::fabs(sigma - s);
    EXPECT_LE(forward, bound) << where() << " branch " << trace.branch;
    sum.worst_forward_ratio = std::max(sum.worst_forward_ratio, forward / bound);
    if (bound <= 64 * kEps * s) sum.worst_forward = std::max(sum.worst_forward, forward / s);
  }
}

TEST(ImpliedVolatility, RoundTripsOverMoneynessAndTotalVolatility) {
  // |x| in units of the total volatility s, from at the money to far beyond
  // the point where the price underflows; s from 1e-8 to 20.
  const double hs[] = {0, 1e-9, 1e-4, 0.01, 0.1, 0.3, 0.6, 1,  1.5, 2,    3,  4,   6,
                       8, 10,   12,   15,   20,  25,  30,  35, 37,  38.5, 50, 100, 300};
  RoundTripSummary sum;
  for (double h : hs) {
    for (int i = 0; i <= 64; ++i) {
      const double s = 1e-8 * std::pow(20 / 1e-8, i / 64.0);
      for (double side : {-1.0, 1.0}) {
        const double x = side * h * s;
        if (std::fabs(x) > 700 || (h == 0 && side > 0)) continue;
        round_trip(false, x, s, sum);
        round_trip(true, x, s, sum);
      }
    }
  }
  // Every branch of the guess and every objective took part.
  for (int b = 1; b <= 4; ++b) EXPECT_GT(sum.branch[b], 20) << "branch " << b;
  for (int o = 0; o < 3; ++o) EXPECT_GT(sum.objective[o], 20) << "objective " << o;
  EXPECT_LE(sum.worst_forward, 16 * kEps);
  std::printf(
      "round trips: %d cases (branches %d/%d/%d/%d, objectives lower %d middle %d upper %d, "
      "0.0: %d, NaN: %d)\n  worst backward error %.3g ulp of beta (%.3g of the noise bound; "
      "%.3g ulp where b is evaluated to within an ulp), "
      "worst forward error where well-conditioned %.3g (%.3g eps), worst forward/bound %.3g\n",
      sum.cases, sum.branch[1], sum.branch[2], sum.branch[3], sum.branch[4], sum.objective[0],
      sum.objective[1], sum.objective[2], sum.zeros, sum.nans, sum.worst_backward_ulps,
      sum.worst_backward_ratio, sum.worst_backward_quiet, sum.worst_forward,
      sum.worst_forward / kEps, sum.worst_forward_ratio);
}

// First-order bound on the volatility error of a round trip through the price
// kernel: a few ulps of the price, plus the rounding of the forward (the two
// kernels form it in different ways) carried through delta, over vega.
double sigma_tolerance(double price, double s, double k, double t, double r, double q,
                       double sigma) {
  const double s_disc = s * std::exp(-q * t), k_disc = k * std::exp(-r * t);
  const double total_vol = sigma * std::sqrt(t);
  const double x = std::log(s_disc / k_disc);
  const double d1 = x / total_vol + total_vol / 2;
  const double vega = s_disc * std::sqrt(t) * std::exp(-d1 * d1 / 2) / std::sqrt(2 * M_PI);
  return (16 * ulp(price) + 4 * kEps * std::max(s_disc, k_disc) * (1 + std::fabs(x))) / vega;
}

TEST(ImpliedVolatility, RoundTripsWithRatesDividendsAndExpiries) {
  // Realistic inputs: the implied volatility reprices to within a few ulps of
  // the price, and recovers the volatility as far as the price determines it.
  int checked = 0;
  for (double t : {1.0 / 365, 1.0 / 52, 0.25, 1.0, 3.0, 30.0}) {
    for (double r : {-0.01, 0.0, 0.05}) {
      for (double q : {0.0, 0.03}) {
        for (double k : {50.0, 80.0, 95.0, 100.0, 105.0, 125.0, 200.0}) {
          for (double sigma : {0.05, 0.2, 0.6, 1.5}) {
            for (bool is_put : {false, true}) {
              const double s = 100.0;
              const double price = bsm_price_kernel(is_put, s, k, t, r, q, sigma);
              const double implied = bsm_iv_kernel(is_put, price, s, k, t, r, q);
              const double tolerance = sigma_tolerance(price, s, k, t, r, q, sigma);
              if (!(tolerance < 1e-3 * sigma)) continue;  // the price hardly depends on sigma
              ++checked;
              EXPECT_NEAR(implied, sigma, tolerance)
                  << (is_put ? "put" : "call") << " k=" << k << " t=" << t << " r=" << r;
              const double repriced = bsm_price_kernel(is_put, s, k, t, r, q, implied);
              EXPECT_NEAR(repriced, price, 16 * ulp(price) + 4 * kEps * std::max(s, k))
                  << (is_put ? "put" : "call") << " k=" << k << " t=" << t << " r=" << r;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 1500);
}

TEST(ImpliedVolatility, WorkedExample) {
  const double sigma = bsm_iv_kernel(false, 10.450583572185565, 100, 100, 1, 0.05, 0);
  EXPECT_NEAR(sigma, 0.2, 0.2 * 1e-15);
  // Black-76 is the same kernel with the forward for s and r for q.
  const double f = 100 * std::exp(0.05);
  const double p76 = bsm_price_kernel(true, f, 90, 0.5, 0.05, 0.05, 0.3);
  EXPECT_NEAR(bsm_iv_kernel(true, p76, f, 90, 0.5, 0.05, 0.05), 0.3, 1e-14);
}

TEST(ImpliedVolatility, AtTheMoneyForwardStartsFromTheExactInverse) {
  // x = 0 takes branch 4 with the exact inverse as its start: one
  // Householder step, and a second evaluation that confirms it.
  for (double sigma : {1e-6, 0.01, 0.2, 1.0, 3.0}) {
    for (bool is_put : {false, true}) {
      const double price = bsm_price_kernel(is_put, 100, 100, 1, 0.0, 0.0, sigma);
      IvTrace trace;
      const double implied = bsm_iv_kernel_traced(is_put, price, 100, 100, 1, 0, 0, trace);
      EXPECT_EQ(trace.x, 0.0);
      EXPECT_EQ(trace.branch, 4);
      EXPECT_LE(trace.steps, 2) << sigma;
      EXPECT_NEAR(implied, sigma, sigma_tolerance(price, 100, 100, 1, 0, 0, sigma)) << sigma;
    }
  }
}

TEST(ImpliedVolatility, PutCallParityPairsGiveTheSameVolatility) {
  for (double k : {70.0, 90.0, 100.0, 110.0, 140.0}) {
    for (double sigma : {0.1, 0.35, 0.9}) {
      const double s = 100, t = 0.75, r = 0.04, q = 0.015;
      const double call = bsm_price_kernel(false, s, k, t, r, q, sigma);
      // The put from parity, call - put = S e^{-qt} - K e^{-rt}.
      const double put = call - (s * std::exp(-q * t) - k * std::exp(-r * t));
      const double v_call = bsm_iv_kernel(false, call, s, k, t, r, q);
      const double v_put = bsm_iv_kernel(true, put, s, k, t, r, q);
      // Both prices carry the rounding of the in-the-money one.
      const double tolerance = sigma_tolerance(std::max(call, put), s, k, t, r, q, sigma);
      EXPECT_NEAR(v_call, v_put, 2 * tolerance) << "k=" << k << " sigma=" << sigma;
      EXPECT_NEAR(v_call, sigma, tolerance) << "k=" << k << " sigma=" << sigma;
      EXPECT_LT(tolerance, 1e-9 * sigma);
    }
  }
}

TEST(ImpliedVolatility, PriceAtIntrinsicValueHasNoVolatility) {
  // Many in-the-money calls and puts priced exactly at their intrinsic value
  // (the discounted spot less the discounted strike, as the kernel forms it)
  // and down to 1e-12 below it: 0.0, never a spurious volatility. Short
  // expiries are where the normalised time value rounds a few 1e-17 above 0.
  int cases = 0;
  for (double t : {1.0 / 365, 7.0 / 365, 0.1, 0.5, 1.0, 5.0}) {
    for (double r : {0.0, 0.01, 0.05, -0.02}) {
      for (double q : {0.0, 0.02}) {
        for (double s : {10.0, 97.3, 100.0, 1234.5}) {
          for (double m : {0.5, 0.8, 0.9, 0.97, 0.99, 0.999, 1.001, 1.01, 1.03, 1.1, 1.25, 2.0}) {
            const double k = s * m;
            const double s_disc = s * std::exp(-q * t);
            const double k_disc = k * std::exp(-r * t);
            for (bool is_put : {false, true}) {
              const double intrinsic = is_put ? k_disc - s_disc : s_disc - k_disc;
              if (!(intrinsic > 0)) continue;
              ++cases;
              EXPECT_EQ(bits(bsm_iv_kernel(is_put, intrinsic, s, k, t, r, q)), bits(0.0))
                  << (is_put ? "put" : "call") << " s=" << s << " k=" << k << " t=" << t;
              for (double below : {ulp(intrinsic), 1e-13, 0.999e-12}) {
                if (intrinsic - below >= 0) {
                  EXPECT_EQ(bsm_iv_kernel(is_put, intrinsic - below, s, k, t, r, q), 0.0);
                }
              }
              EXPECT_TRUE(std::isnan(bsm_iv_kernel(is_put, intrinsic - 2e-12, s, k, t, r, q)));
            }
          }
        }
      }
    }
  }
  EXPECT_GT(cases, 1000);
  // The short-dated put of the mend: exactly at intrinsic, 0.0.
  const double k_disc = 101.0 * std::exp(-0.05 * (1.0 / 365));
  EXPECT_EQ(bsm_iv_kernel(true, k_disc - 100.0, 100.0, 101.0, 1.0 / 365, 0.05, 0.0), 0.0);
}

TEST(ImpliedVolatility, PricesBeyondTheBoundsAreNaN) {
  const double s = 100, k = 90, t = 0.5, r = 0.03, q = 0.01;
  const double s_disc = s * std::exp(-q * t), k_disc = k * std::exp(-r * t);
  // Above the upper bound by more than 1e-12, and at or just above it.
  EXPECT_TRUE(std::isnan(bsm_iv_kernel(false, s_disc + 2e-12, s, k, t, r, q)));
  EXPECT_TRUE(std::isnan(bsm_iv_kernel(true, k_disc + 2e-12, s, k, t, r, q)));
  EXPECT_TRUE(std::isnan(bsm_iv_kernel(false, s_disc + 0.5e-12, s, k, t, r, q)));
  // Below the intrinsic value by more than 1e-12.
  EXPECT_TRUE(std::isnan(bsm_iv_kernel(false, s_disc - k_disc - 2e-12, s, k, t, r, q)));
}

TEST(ImpliedVolatility, CallPricedAtDiscountedSpotIsNaNNotInfinite) {
  for (double s : {1.0, 50.0, 100.0, 3e4}) {
    for (double k : {0.5, 0.9, 1.0, 1.1, 2.0}) {
      for (double t : {1.0 / 365, 0.25, 1.0, 10.0}) {
        for (double r : {0.0, 0.05}) {
          for (double q : {0.0, 0.02}) {
            const double strike = k * s;
            const double s_disc = s * std::exp(-q * t);
            const double sigma = bsm_iv_kernel(false, s_disc, s, strike, t, r, q);
            EXPECT_TRUE(std::isnan(sigma))
                << "s=" << s << " k=" << strike << " t=" << t << " sigma=" << sigma;
            const double k_disc = strike * std::exp(-r * t);
            EXPECT_TRUE(std::isnan(bsm_iv_kernel(true, k_disc, s, strike, t, r, q)))
                << "put s=" << s << " k=" << strike << " t=" << t;
          }
        }
      }
    }
  }
}

TEST(ImpliedVolatility, SubnormalTargetsAreInvertedNotRoundedToZero) {
  const double sigma = bsm_iv_kernel(false, 1e-320, 100, 200, 1, 0, 0);
  EXPECT_NEAR(sigma, 0.018146, 1e-6);
  // beta = 1e-320/sqrt(100*200) is some 14 subnormal steps: the price is
  // matched to the resolution of beta times sqrt(F K).
  EXPECT_NEAR(bsm_price_kernel(false, 100, 200, 1, 0, 0, sigma), 1e-320,
              2 * std::sqrt(100.0 * 200.0) * kTiny);
  // A price whose normalised value underflows to 0: no time value.
  EXPECT_EQ(bsm_iv_kernel(false, kTiny, 100, 200, 1, 0, 0), 0.0);
}

TEST(ImpliedVolatility, InvalidInputsAreNaN) {
  const double price = 5.0;
  const auto iv = [&](double target, double s, double k, double t, double r, double q) {
    return bsm_iv_kernel(false, target, s, k, t, r, q);
  };
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_TRUE(std::isnan(iv(price, bad, 100, 1, 0.01, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, bad, 1, 0.01, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, 100, bad, 0.01, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, 100, 1, bad, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, 100, 1, 0.01, bad)));
    EXPECT_TRUE(std::isnan(iv(bad, 100, 100, 1, 0.01, 0.0)));
  }
  for (double bad : {0.0, -0.0, -1.0}) {
    EXPECT_TRUE(std::isnan(iv(price, bad, 100, 1, 0.01, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, bad, 1, 0.01, 0.0)));
    EXPECT_TRUE(std::isnan(iv(price, 100, 100, bad, 0.01, 0.0)));
  }
  EXPECT_TRUE(std::isnan(iv(-1.0, 100, 100, 1, 0.01, 0.0)));
  EXPECT_TRUE(std::isnan(iv(-kTiny, 100, 120, 1, 0.01, 0.0)));
  // Negative rates and dividends are allowed.
  const double p = bsm_price_kernel(false, 100, 100, 1, -0.01, -0.02, 0.25);
  EXPECT_NEAR(iv(p, 100, 100, 1, -0.01, -0.02), 0.25, 1e-14);
}

TEST(ImpliedVolatility, ZeroPriceOfAnOutOfTheMoneyOptionIsZero) {
  EXPECT_EQ(bits(bsm_iv_kernel(false, 0.0, 100, 120, 1, 0.01, 0.0)), bits(0.0));
  EXPECT_EQ(bits(bsm_iv_kernel(false, -0.0, 100, 120, 1, 0.01, 0.0)), bits(0.0));
  EXPECT_EQ(bits(bsm_iv_kernel(true, -0.0, 100, 80, 1, 0.01, 0.0)), bits(0.0));
  // -0.0 for an in-the-money option is below its intrinsic value.
  EXPECT_TRUE(std::isnan(bsm_iv_kernel(false, -0.0, 100, 80, 1, 0.01, 0.0)));
}

TEST(Refinement, ExactStartStopsAfterOneEvaluation) {
  for (double x : {0.0, -0.3, -2.0}) {
    for (double s : {0.3, 0.8, 2.0}) {
      const double beta = normalised_black(x, s).b;
      const IvGuess guess{s, s / 2, 2 * s, IvObjective::middle, 2};
      const IvRefined refined = iv_refine(x, beta, std::exp(x / 2), guess);
      EXPECT_EQ(refined.steps, 1) << "x=" << x << " s=" << s;
      EXPECT_LE(std::fabs(refined.s - s), 2 * ulp(s)) << "x=" << x << " s=" << s;
    }
  }
}

TEST(Refinement, StartOutsideTheBracketOrAtZeroStillConverges) {
  const double x = -1.0, s = 0.3;
  const double beta = normalised_black(x, s).b;
  const double b_max = std::exp(x / 2);
  // s0 = 0 in the lower objective: b = 0 forces a bisection step.
  const IvRefined from_zero = iv_refine(x, beta, b_max, {0.0, 0.0, 0.5, IvObjective::lower, 1});
  EXPECT_NEAR(from_zero.s, s, 1e-3);
  // A start far above the root is floored at half its value per step and
  // pulled back into the bracket.
  const IvRefined from_above = iv_refine(x, beta, b_max, {50.0, 0.0, 0.6, IvObjective::middle, 2});
  EXPECT_GT(from_above.s, 0.0);
  EXPECT_LT(from_above.s, 0.6);
  // A NaN start is replaced by the midpoint of the bracket.
  const IvRefined from_nan = iv_refine(x, beta, b_max, {kNaN, 0.25, 0.35, IvObjective::middle, 2});
  EXPECT_NEAR(from_nan.s, s, 1e-6);
}

}  // namespace
}  // namespace karvex

// The individual Greek kernels: accuracy against high-precision closed forms
// (tests/data/greeks.csv, from tools/reference/gen_greeks.py), agreement with finite
// differences of the price kernel, and the values on degenerate and
// non-finite inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kernels/greeks.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using karvex::testing::bits;
using karvex::testing::identical;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double eps = std::numeric_limits<double>::epsilon();

// One row of greeks.csv: inputs, the five reference Greeks and their
// condition figures.
struct Reference {
  bool black76;
  bool put;
  double s, k, t, r, q, sigma;
  double greek[5];
  double cond[5];
};

std::vector<Reference> reference_table() {
  std::vector<Reference> out;
  for (const auto& row : karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/greeks.csv")) {
    Reference x{};
    x.black76 = row.text("model") == "black76";
    x.put = row.text("kind") == "put";
    x.s = row.num("s");
    x.k = row.num("k");
    x.t = row.num("t");
    x.r = row.num("r");
    x.q = row.num("q");
    x.sigma = row.num("sigma");
    const char* names[5] = {"delta", "gamma", "vega", "theta", "rho"};
    for (int j = 0; j < 5; ++j) {
      x.greek[j] = row.num(names[j]);
      x.cond[j] = row.num(std::string("cond_") + names[j]);
    }
    out.push_back(x);
  }
  return out;
}

// The kernel behind Greek j of the row's model: Black-76 calls the BSM kernels
// with q = r, except for rho.
double kernel_value(const Reference& x, int j) {
  const double q = x.black76 ? x.r : x.q;
  switch (j) {
    case 0:
      return bsm_delta_kernel(x.put, x.s, x.k, x.t, x.r, q, x.sigma);
    case 1:
      return bsm_gamma_kernel(x.s, x.k, x.t, x.r, q, x.sigma);
    case 2:
      return bsm_vega_kernel(x.s, x.k, x.t, x.r, q, x.sigma);
    case 3:
      return bsm_theta_kernel(x.put, x.s, x.k, x.t, x.r, q, x.sigma);
    default:
      return x.black76 ? black76_rho_kernel(x.put, x.s, x.k, x.t, x.r, x.sigma)
                       : bsm_rho_kernel(x.put, x.s, x.k, x.t, x.r, q, x.sigma);
  }
}

TEST(GreeksAccuracy, AgreeWithHighPrecisionToFewUlpTimesCondition) {
  // Error allowed: 2 ulp times the row's condition figure (about 10 for a
  // plain option) for the closed-form kernels; 8 for the Black-76 rho, whose
  // price goes through the normalised Black function and its expansions (up
  // to about 4 times the figure far out of the money).  Rows whose figure
  // passes 1e5 are ill-conditioned and left aside (far-tail values).
  const auto table = reference_table();
  ASSERT_GT(table.size(), 1000u);
  int checked = 0, total = 0;
  for (const auto& x : table) {
    for (int j = 0; j < 5; ++j) {
      ++total;
      if (x.cond[j] > 1e5) continue;
      ++checked;
      const double ulps = (x.black76 && j == 4) ? 8 : 2;
      const double got = kernel_value(x, j), want = x.greek[j];
      EXPECT_LE(std::fabs(got - want), ulps * eps * x.cond[j] * std::fabs(want) + 1e-300)
          << (x.black76 ? "black76 " : "bsm ") << (x.put ? "put" : "call") << " greek " << j
          << " s=" << x.s << " k=" << x.k << " t=" << x.t << " r=" << x.r << " q=" << x.q
          << " sigma=" << x.sigma << " got " << got << " want " << want << " cond " << x.cond[j];
    }
  }
  EXPECT_GT(checked, total * 95 / 100);
}

TEST(GreeksAccuracy, MatchCentralDifferencesOfThePriceKernel) {
  struct Case {
    bool put;
    double s, k, t, r, q, sigma;
  };
  const Case cases[] = {{false, 100, 95, 0.75, 0.04, 0.01, 0.25},
                        {true, 100, 120, 2.0, 0.01, 0.03, 0.4},
                        {false, 50, 70, 0.3, -0.01, 0.0, 0.6},
                        {true, 2000, 1900, 5.0, 0.07, 0.02, 0.15}};
  for (const Case& c : cases) {
    const auto price = [&](double s, double t, double r, double q, double sigma) {
      return bsm_price_kernel(c.put, s, c.k, t, r, q, sigma);
    };
    const double hs = 1e-4 * c.s, ht = 1e-5, hr = 1e-6, hv = 1e-6;
    const double p0 = price(c.s, c.t, c.r, c.q, c.sigma);
    const double delta =
        (price(c.s + hs, c.t, c.r, c.q, c.sigma) - price(c.s - hs, c.t, c.r, c.q, c.sigma)) /
        (2 * hs);
    const double gamma = (price(c.s + 10 * hs, c.t, c.r, c.q, c.sigma) - 2 * p0 +
                          price(c.s - 10 * hs, c.t, c.r, c.q, c.sigma)) /
                         (100 * hs * hs);
    const double vega =
        (price(c.s, c.t, c.r, c.q, c.sigma + hv) - price(c.s, c.t, c.r, c.q, c.sigma - hv)) /
        (2 * hv);
    const double theta =
        -(price(c.s, c.t + ht, c.r, c.q, c.sigma) - price(c.s, c.t - ht, c.r, c.q, c.sigma)) /
        (2 * ht);
    const double rho =
        (price(c.s, c.t, c.r + hr, c.q, c.sigma) - price(c.s, c.t, c.r - hr, c.q, c.sigma)) /
        (2 * hr);
    // Black-76: the yield moves with the rate, the forward stays put.
    const double rho76 = (price(c.s, c.t, c.r + hr, c.r + hr, c.sigma) -
                          price(c.s, c.t, c.r - hr, c.r - hr, c.sigma)) /
                         (2 * hr);
    EXPECT_NEAR(bsm_delta_kernel(c.put, c.s, c.k, c.t, c.r, c.q, c.sigma), delta, 1e-7);
    EXPECT_NEAR(bsm_gamma_kernel(c.s, c.k, c.t, c.r, c.q, c.sigma), gamma, 1e-5 * std::fabs(gamma));
    EXPECT_NEAR(bsm_vega_kernel(c.s, c.k, c.t, c.r, c.q, c.sigma), vega, 1e-6 * std::fabs(vega));
    EXPECT_NEAR(bsm_theta_kernel(c.put, c.s, c.k, c.t, c.r, c.q, c.sigma), theta,
                1e-6 * std::fabs(theta));
    EXPECT_NEAR(bsm_rho_kernel(c.put, c.s, c.k, c.t, c.r, c.q, c.sigma), rho,
                1e-6 * std::fabs(rho));
    EXPECT_NEAR(black76_rho_kernel(c.put, c.s, c.k, c.t, c.r, c.sigma), rho76,
                1e-6 * std::fabs(rho76));
  }
}

TEST(GreeksAccuracy, AtTheMoneyThetaWithoutCarryIsTheVolatilityDecay) {
  // r = q = 0, s = k: theta = -s*pdf(sigma*sqrt(t)/2)*sigma/(2*sqrt(t)).
  const double s = 100, t = 0.5, sigma = 0.3;
  const double want = -s * pdf(sigma * std::sqrt(t) / 2) * sigma / (2 * std::sqrt(t));
  for (bool put : {false, true}) {
    EXPECT_NEAR(bsm_theta_kernel(put, s, s, t, 0.0, 0.0, sigma), want, 8 * eps * -want);
  }
}

TEST(DegenerateGreeks, DeltaIsAStepOnTheForwardMoneyness) {
  // Expired: undiscounted step on the spot itself; any t < 0 acts as t = 0.
  for (double t : {0.0, -0.0, -1.0}) {
    EXPECT_EQ(bits(bsm_delta_kernel(false, 110, 100, t, 0.05, 0.02, 0.2)), bits(1.0));
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 100, t, 0.05, 0.02, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 90, 100, t, 0.05, 0.02, 0.2)), bits(-1.0));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 100, t, 0.05, 0.02, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 110, 100, t, 0.05, 0.02, 0.2)), bits(0.0));
  }
  // An infinite yield at t = 0: exp(-(q*0)) = exp(NaN).
  EXPECT_TRUE(std::isnan(bsm_delta_kernel(false, 110, 100, 0.0, 0.05, inf, 0.2)));
  // No volatility: the step sits on the forward s*exp(t*(r - q)) and is worth
  // the dividend discount exp(-(q*t)).  s = 100 < k = 102 but the forward is
  // 100*exp(0.05) = 105.1 > k.
  const double t = 1.0, r = 0.07, q = 0.02;
  for (double sigma : {0.0, -0.0, -0.3}) {
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 102, t, r, q, sigma)), bits(std::exp(-(q * t))));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 102, t, r, q, sigma)), bits(0.0));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 106, t, r, q, sigma)), bits(-std::exp(-(q * t))));
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 106, t, r, q, sigma)), bits(0.0));
  }
  // A NaN time with no volatility is degenerate through sigma: F = s, e = 1.
  EXPECT_EQ(bits(bsm_delta_kernel(false, 110, 100, nan, r, q, 0.0)), bits(1.0));
  EXPECT_EQ(bits(bsm_delta_kernel(true, 90, 100, nan, r, q, 0.0)), bits(-1.0));
  // A NaN spot or strike fails the strict comparisons: 0.0.
  EXPECT_EQ(bits(bsm_delta_kernel(false, nan, 100, 0.0, r, q, 0.2)), bits(0.0));
  EXPECT_EQ(bits(bsm_delta_kernel(true, 100, nan, 1.0, r, q, 0.0)), bits(0.0));
}

TEST(DegenerateGreeks, GammaVegaThetaAndBsmRhoArePositiveZeroWhateverTheOtherInputs) {
  const double junk[] = {100.0, 0.0, -5.0, nan, inf, -inf};
  const double times_and_vols[][2] = {{0.0, 0.2},  {-0.0, 0.2}, {-2.0, nan}, {1.0, 0.0},
                                      {1.0, -0.0}, {inf, -1.0}, {nan, 0.0},  {-1.0, inf}};
  for (const auto& tv : times_and_vols) {
    for (double x : junk) {
      for (bool put : {false, true}) {
        const double t = tv[0], sigma = tv[1];
        EXPECT_EQ(bits(bsm_gamma_kernel(x, 100, t, x, x, sigma)), bits(0.0));
        EXPECT_EQ(bits(bsm_vega_kernel(100, x, t, x, 0.01, sigma)), bits(0.0));
        EXPECT_EQ(bits(bsm_theta_kernel(put, x, x, t, 0.03, x, sigma)), bits(0.0));
        EXPECT_EQ(bits(bsm_rho_kernel(put, 100, x, t, x, x, sigma)), bits(0.0));
      }
    }
  }
}

TEST(NonFiniteInputs, NanVolatilityOrTimeIsNotDegenerateAndGivesNan) {
  for (bool put : {false, true}) {
    const double times_and_vols[][2] = {{1.0, nan}, {nan, 0.2}};
    for (const auto& tv : times_and_vols) {
      const double t = tv[0], sigma = tv[1];
      EXPECT_TRUE(std::isnan(bsm_delta_kernel(put, 100, 90, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_gamma_kernel(100, 90, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_vega_kernel(100, 90, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_theta_kernel(put, 100, 90, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_rho_kernel(put, 100, 90, t, 0.05, 0.01, sigma)));
    }
  }
}

TEST(NonFiniteInputs, ZeroSpotOrStrikeFlowsThroughTheDistributionFunctions) {
  const double t = 0.5, r = 0.04, q = 0.03, sigma = 0.25, dq = std::exp(-(q * t));
  // s = 0: d1 = -inf.
  EXPECT_EQ(bits(bsm_delta_kernel(false, 0.0, 100, t, r, q, sigma)), bits(0.0));
  EXPECT_EQ(bits(bsm_delta_kernel(true, 0.0, 100, t, r, q, sigma)), bits(-dq));
  EXPECT_TRUE(std::isnan(bsm_gamma_kernel(0.0, 100, t, r, q, sigma)));
  EXPECT_EQ(bits(bsm_vega_kernel(0.0, 100, t, r, q, sigma)), bits(0.0));
  // k = 0: d1 = +inf.
  EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 0.0, t, r, q, sigma)), bits(dq));
  EXPECT_EQ(bits(bsm_gamma_kernel(100, 0.0, t, r, q, sigma)), bits(0.0));
  // Negative spot or strike, or both zero: NaN from every BSM kernel.
  const double bad[][2] = {{-100, 100}, {100, -100}, {0.0, 0.0}};
  for (const auto& sk : bad) {
    for (bool put : {false, true}) {
      EXPECT_TRUE(std::isnan(bsm_delta_kernel(put, sk[0], sk[1], t, r, q, sigma)));
      EXPECT_TRUE(std::isnan(bsm_gamma_kernel(sk[0], sk[1], t, r, q, sigma)));
      EXPECT_TRUE(std::isnan(bsm_vega_kernel(sk[0], sk[1], t, r, q, sigma)));
      EXPECT_TRUE(std::isnan(bsm_theta_kernel(put, sk[0], sk[1], t, r, q, sigma)));
      EXPECT_TRUE(std::isnan(bsm_rho_kernel(put, sk[0], sk[1], t, r, q, sigma)));
    }
  }
}

TEST(DeepMoney, TailOfTheDistributionGivesCallDeltaJustBelowOne) {
  // d1 = 5.59: cdf takes its tail evaluation.
  const double delta = bsm_delta_kernel(false, 300, 100, 1.0, 0.0, 0.0, 0.2);
  EXPECT_LT(delta, 1.0);
  EXPECT_GT(delta, 1.0 - 1e-7);
}

TEST(Black76Rho, IsMinusTimeTimesTheBlack76PriceBitForBit) {
  const double values[] = {100.0, 80.0, 0.0, -0.0, -20.0, 1e-300, nan, inf};
  const double times[] = {1.0, 0.25, 0.0, -0.0, -1.5, nan, inf, 1e-300};
  const double rates[] = {0.05, 0.0, -0.02, nan, inf, -inf};
  const double vols[] = {0.2, 0.0, -0.1, nan, inf, 1e-300};
  for (bool put : {false, true})
    for (double f : values)
      for (double k : values)
        for (double t : times)
          for (double r : rates)
            for (double sigma : vols) {
              const double p = bsm_price_kernel(put, f, k, t, r, r, sigma);
              ASSERT_TRUE(identical(black76_rho_kernel(put, f, k, t, r, sigma), -(t * p)))
                  << put << " f=" << f << " k=" << k << " t=" << t << " r=" << r
                  << " sigma=" << sigma;
            }
}

TEST(Black76Rho, DegenerateValuesFollowThePriceFallbacks) {
  EXPECT_EQ(bits(black76_rho_kernel(false, 110, 100, 0.0, 0.05, 0.2)), bits(-0.0));
  // t < 0: |t| times the undiscounted intrinsic value.
  EXPECT_EQ(bits(black76_rho_kernel(false, 110, 100, -2.0, 0.05, 0.2)), bits(20.0));
  EXPECT_EQ(bits(black76_rho_kernel(true, 110, 100, -2.0, 0.05, 0.2)), bits(0.0));
  // sigma = 0: -t times the discounted intrinsic value.
  const double t = 0.5, r = 0.05, dr = std::exp(-(r * t));
  EXPECT_EQ(bits(black76_rho_kernel(true, 90, 100, t, r, 0.0)), bits(-(t * (100 * dr - 90 * dr))));
  EXPECT_EQ(bits(black76_rho_kernel(false, 90, 100, t, r, 0.0)), bits(-0.0));
}

}  // namespace

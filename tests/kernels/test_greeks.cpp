// The individual Greek kernels: accuracy against high-precision closed forms
// (tests/data/greeks.csv), and the values on degenerate and non-finite inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "kernels/greeks.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

TEST(GreeksAccuracy, AgreeWithHighPrecisionToFewUlpTimesCondition) {
  // 2 ulps times the row's condition figure for the closed forms, 8 for the Black-76 rho (its
  // price goes through the normalised Black function). Rows whose figure passes 1e5 are
  // ill-conditioned far-tail values and left aside.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/greeks.csv");
  ASSERT_GT(table.size(), 1000u);
  const char* names[5] = {"delta", "gamma", "vega", "theta", "rho"};
  int checked = 0;
  for (const auto& row : table) {
    const bool b76 = row.text("model") == "black76", put = row.text("kind") == "put";
    const double s = row.num("s"), k = row.num("k"), t = row.num("t"), r = row.num("r"),
                 q = b76 ? r : row.num("q"), sigma = row.num("sigma");
    const double got[5] = {
        bsm_delta_kernel(put, s, k, t, r, q, sigma), bsm_gamma_kernel(s, k, t, r, q, sigma),
        bsm_vega_kernel(s, k, t, r, q, sigma), bsm_theta_kernel(put, s, k, t, r, q, sigma),
        b76 ? black76_rho_kernel(put, s, k, t, r, sigma)
            : bsm_rho_kernel(put, s, k, t, r, q, sigma)};
    for (int j = 0; j < 5; ++j) {
      const double want = row.num(names[j]), cond = row.num(std::string("cond_") + names[j]);
      if (cond > 1e5) continue;
      ++checked;
      const double ulps = (b76 && j == 4) ? 8 : 2;
      EXPECT_LE(std::fabs(got[j] - want),
                ulps * std::numeric_limits<double>::epsilon() * cond * std::fabs(want) + 1e-300)
          << row.text("model") << " " << row.text("kind") << " " << names[j] << " s=" << s
          << " k=" << k << " t=" << t << " r=" << r << " q=" << q << " sigma=" << sigma << " got "
          << got[j] << " want " << want;
    }
  }
  EXPECT_GT(checked, static_cast<int>(table.size()) * 5 * 95 / 100);
}

TEST(DegenerateGreeks, DeltaIsAStepOnTheForwardMoneyness) {
  // Expired (any t <= 0): an undiscounted step on the spot itself.
  for (double t : {0.0, -0.0, -1.0}) {
    EXPECT_EQ(bits(bsm_delta_kernel(false, 110, 100, t, 0.05, 0.02, 0.2)), bits(1.0));
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 100, t, 0.05, 0.02, 0.2)), 0u);
    EXPECT_EQ(bits(bsm_delta_kernel(true, 90, 100, t, 0.05, 0.02, 0.2)), bits(-1.0));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 100, t, 0.05, 0.02, 0.2)), 0u);
    EXPECT_EQ(bits(bsm_delta_kernel(true, 110, 100, t, 0.05, 0.02, 0.2)), 0u);
  }
  EXPECT_TRUE(std::isnan(bsm_delta_kernel(false, 110, 100, 0.0, 0.05, inf, 0.2)));  // exp(-(inf*0))
  // No volatility: the step sits on the forward 100*exp(0.05) = 105.1 and is worth exp(-(q*t)).
  const double t = 1.0, r = 0.07, q = 0.02, dq = std::exp(-(q * t));
  for (double sigma : {0.0, -0.0, -0.3}) {
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 102, t, r, q, sigma)), bits(dq));
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 102, t, r, q, sigma)), 0u);
    EXPECT_EQ(bits(bsm_delta_kernel(true, 100, 106, t, r, q, sigma)), bits(-dq));
    EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 106, t, r, q, sigma)), 0u);
  }
  // A NaN time with no volatility: F = s, e = 1. A NaN spot or strike fails the comparisons.
  EXPECT_EQ(bits(bsm_delta_kernel(false, 110, 100, nan, r, q, 0.0)), bits(1.0));
  EXPECT_EQ(bits(bsm_delta_kernel(true, 90, 100, nan, r, q, 0.0)), bits(-1.0));
  EXPECT_EQ(bits(bsm_delta_kernel(false, nan, 100, 0.0, r, q, 0.2)), 0u);
  EXPECT_EQ(bits(bsm_delta_kernel(true, 100, nan, 1.0, r, q, 0.0)), 0u);
}

TEST(DegenerateGreeks, GammaVegaThetaAndBsmRhoArePositiveZeroWhateverTheOtherInputs) {
  const double junk[] = {100.0, 0.0, -5.0, nan, inf, -inf};
  const double times_and_vols[][2] = {{0.0, 0.2},  {-0.0, 0.2}, {-2.0, nan}, {1.0, 0.0},
                                      {1.0, -0.0}, {inf, -1.0}, {nan, 0.0},  {-1.0, inf}};
  for (const auto& [t, sigma] : times_and_vols) {
    for (double x : junk) {
      for (bool put : {false, true}) {
        EXPECT_EQ(bits(bsm_gamma_kernel(x, 100, t, x, x, sigma)), 0u);
        EXPECT_EQ(bits(bsm_vega_kernel(100, x, t, x, 0.01, sigma)), 0u);
        EXPECT_EQ(bits(bsm_theta_kernel(put, x, x, t, 0.03, x, sigma)), 0u);
        EXPECT_EQ(bits(bsm_rho_kernel(put, 100, x, t, x, x, sigma)), 0u);
      }
    }
  }
}

TEST(NonFiniteInputs, NanTimeOrVolatilityNegativeOrZeroSpotAndStrikeGiveNan) {
  // A NaN t or sigma alone is not degenerate; negative s or k, or both 0, give NaN logarithms.
  const double cases[][4] = {{100, 90, 1.0, nan},
                             {100, 90, nan, 0.2},
                             {-100, 100, 0.5, 0.25},
                             {100, -100, 0.5, 0.25},
                             {0.0, 0.0, 0.5, 0.25}};
  for (const auto& [s, k, t, sigma] : cases) {
    for (bool put : {false, true}) {
      EXPECT_TRUE(std::isnan(bsm_delta_kernel(put, s, k, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_gamma_kernel(s, k, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_vega_kernel(s, k, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_theta_kernel(put, s, k, t, 0.05, 0.01, sigma)));
      EXPECT_TRUE(std::isnan(bsm_rho_kernel(put, s, k, t, 0.05, 0.01, sigma)));
    }
  }
}

TEST(NonFiniteInputs, ZeroSpotOrStrikeFlowsThroughTheDistributionFunctions) {
  const double t = 0.5, r = 0.04, q = 0.03, sigma = 0.25, dq = std::exp(-(q * t));
  // s = 0: d1 = -inf; k = 0: d1 = +inf.
  EXPECT_EQ(bits(bsm_delta_kernel(false, 0.0, 100, t, r, q, sigma)), 0u);
  EXPECT_EQ(bits(bsm_delta_kernel(true, 0.0, 100, t, r, q, sigma)), bits(-dq));
  EXPECT_TRUE(std::isnan(bsm_gamma_kernel(0.0, 100, t, r, q, sigma)));
  EXPECT_EQ(bits(bsm_vega_kernel(0.0, 100, t, r, q, sigma)), 0u);
  EXPECT_EQ(bits(bsm_delta_kernel(false, 100, 0.0, t, r, q, sigma)), bits(dq));
  EXPECT_EQ(bits(bsm_gamma_kernel(100, 0.0, t, r, q, sigma)), 0u);
}

TEST(Black76Rho, IsMinusTimeTimesTheBlack76PriceBitForBit) {
  // Over valid, degenerate and non-finite inputs alike, so it follows every price fallback.
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

TEST(GreeksNan, EveryNanIsTheOneQuietNanWhicheverNanGoesIn) {
  // NaNs of both signs meet inside the formulas (sqrt(t) against exp(-(q*t)), the two cdf terms
  // of theta); the NaN a Greek returns must not depend on which one the processor passed on.
  constexpr std::uint64_t one_nan = 0x7ff8000000000000u;
  const double nans[] = {nan, -nan};
  for (bool put : {false, true})
    for (double a : nans)
      for (double b : nans)
        for (int where = 0; where < 4; ++where) {
          double v[6] = {100.0, 95.0, 0.5, 0.03, 0.01, 0.2};  // s, k, t, r, q, sigma
          v[where == 3 ? 5 : 2] = a;                          // t, or sigma
          v[3 + where % 2] = b;                               // r or q
          if (where == 2) v[1] = -nan;                        // and k
          const double results[6] = {bsm_delta_kernel(put, v[0], v[1], v[2], v[3], v[4], v[5]),
                                     bsm_gamma_kernel(v[0], v[1], v[2], v[3], v[4], v[5]),
                                     bsm_vega_kernel(v[0], v[1], v[2], v[3], v[4], v[5]),
                                     bsm_theta_kernel(put, v[0], v[1], v[2], v[3], v[4], v[5]),
                                     bsm_rho_kernel(put, v[0], v[1], v[2], v[3], v[4], v[5]),
                                     black76_rho_kernel(put, v[0], v[1], v[2], v[3], v[5])};
          for (const double x : results) {
            if (std::isnan(x)) {
              EXPECT_EQ(bits(x), one_nan) << where << " " << a << " " << b;
            }
          }
        }
}

}  // namespace

// The single-pass Greeks: every field equal to the individual kernel bit for
// bit, on random valid inputs and on a grid of degenerate and non-finite
// inputs, for both models; and the degenerate records themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using karvex::testing::bits;
using karvex::testing::identical;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Inputs {
  bool put;
  double s, k, t, r, q, sigma;
};

std::ostream& operator<<(std::ostream& os, const Inputs& x) {
  return os << (x.put ? "put" : "call") << " s=" << x.s << " k=" << x.k << " t=" << x.t
            << " r=" << x.r << " q=" << x.q << " sigma=" << x.sigma;
}

// The five individual kernels for one option; Black-76 uses s = f, q = r and
// its own rho.
Greeks individual_bsm(const Inputs& x) {
  return {bsm_delta_kernel(x.put, x.s, x.k, x.t, x.r, x.q, x.sigma),
          bsm_gamma_kernel(x.s, x.k, x.t, x.r, x.q, x.sigma),
          bsm_vega_kernel(x.s, x.k, x.t, x.r, x.q, x.sigma),
          bsm_theta_kernel(x.put, x.s, x.k, x.t, x.r, x.q, x.sigma),
          bsm_rho_kernel(x.put, x.s, x.k, x.t, x.r, x.q, x.sigma)};
}
Greeks individual_black76(const Inputs& x) {
  Inputs b76 = x;
  b76.q = x.r;
  Greeks g = individual_bsm(b76);
  g.rho = black76_rho_kernel(x.put, x.s, x.k, x.t, x.r, x.sigma);
  return g;
}

// Field-by-field bit comparison; returns false (after reporting) on the first
// mismatching option so a broken kernel does not flood the log.
bool same_bits(const Greeks& got, const Greeks& want, const Inputs& x, const char* model) {
  const char* names[5] = {"delta", "gamma", "vega", "theta", "rho"};
  const double g[5] = {got.delta, got.gamma, got.vega, got.theta, got.rho};
  const double w[5] = {want.delta, want.gamma, want.vega, want.theta, want.rho};
  bool same = true;
  for (int j = 0; j < 5; ++j) {
    if (!identical(g[j], w[j])) {
      ADD_FAILURE() << model << " " << names[j] << ": single pass " << g[j] << " individual "
                    << w[j] << " for " << x;
      same = false;
    }
  }
  return same;
}

bool check_both_models(const Inputs& x) {
  Inputs b76 = x;
  b76.q = x.r;
  return same_bits(bsm_greeks_kernel(x.put, x.s, x.k, x.t, x.r, x.q, x.sigma), individual_bsm(x), x,
                   "bsm") &&
         same_bits(black76_greeks_kernel(x.put, x.s, x.k, x.t, x.r, x.sigma), individual_black76(x),
                   b76, "black76");
}

TEST(CombinedGreeks, RecordHoldsDeltaGammaVegaThetaRhoInOrder) {
  EXPECT_EQ(offsetof(Greeks, delta), 0 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, gamma), 1 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, vega), 2 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, theta), 3 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, rho), 4 * sizeof(double));
}

TEST(CombinedGreeks, EveryFieldEqualsTheIndividualKernelOnRandomInputs) {
  // Wide log-uniform spreads: deep in and out of the money, tiny and long
  // times, negative rates and yields, tiny and huge volatilities.
  std::mt19937_64 rng(20240531);
  std::uniform_real_distribution<double> log_money(-3.0, 3.0), log_t(-7.0, 3.5), rate(-0.05, 0.25),
      yield(-0.02, 0.15), log_vol(-5.0, 1.5);
  for (int i = 0; i < 100000; ++i) {
    const double s = 100.0;
    const Inputs x{(rng() & 1) != 0, s,          s * std::exp(log_money(rng)), std::exp(log_t(rng)),
                   rate(rng),        yield(rng), std::exp(log_vol(rng))};
    if (!check_both_models(x)) return;
  }
}

TEST(CombinedGreeks, EveryFieldEqualsTheIndividualKernelOnDegenerateAndNonFiniteInputs) {
  const double prices[] = {100.0, 90.0, 0.0, -0.0, -50.0, 1e-300, nan, inf};
  const double times[] = {1.0, 0.0, -0.0, -1.0, 1e-300, nan, inf};
  const double rates[] = {0.05, 0.0, -0.03, nan, inf, -inf};
  const double vols[] = {0.2, 0.0, -0.0, -0.1, 1e-300, nan, inf};
  for (bool put : {false, true})
    for (double s : prices)
      for (double k : prices)
        for (double t : times)
          for (double r : rates)
            for (double q : rates)
              for (double sigma : vols)
                if (!check_both_models({put, s, k, t, r, q, sigma})) return;
}

TEST(CombinedGreeks, Black76SharesItsDiscountFactorWithoutChangingABit) {
  // The Black-76 pass evaluates exp(-(r*t)) once for both discount factors;
  // its delta, gamma, vega and theta equal the BSM pass with s = f, q = r.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> money(0.3, 3.0), time(1e-3, 20.0), rate(-0.05, 0.3),
      vol(1e-3, 3.0);
  for (int i = 0; i < 20000; ++i) {
    const bool put = (rng() & 1) != 0;
    const double f = 100.0, k = f * money(rng), t = time(rng), r = rate(rng), sigma = vol(rng);
    const Greeks a = black76_greeks_kernel(put, f, k, t, r, sigma);
    const Greeks b = bsm_greeks_kernel(put, f, k, t, r, r, sigma);
    ASSERT_EQ(bits(a.delta), bits(b.delta));
    ASSERT_EQ(bits(a.gamma), bits(b.gamma));
    ASSERT_EQ(bits(a.vega), bits(b.vega));
    ASSERT_EQ(bits(a.theta), bits(b.theta));
  }
}

TEST(CombinedGreeks, DegenerateRecords) {
  // Expired call in the money: (1, 0, 0, 0, 0); Black-76 rho is -(0*(f - k)).
  const Greeks bsm = bsm_greeks_kernel(false, 110, 100, 0.0, 0.05, 0.02, 0.2);
  EXPECT_EQ(bits(bsm.delta), bits(1.0));
  EXPECT_EQ(bits(bsm.gamma), bits(0.0));
  EXPECT_EQ(bits(bsm.vega), bits(0.0));
  EXPECT_EQ(bits(bsm.theta), bits(0.0));
  EXPECT_EQ(bits(bsm.rho), bits(0.0));
  const Greeks b76 = black76_greeks_kernel(false, 110, 100, 0.0, 0.05, 0.2);
  EXPECT_EQ(bits(b76.delta), bits(1.0));
  EXPECT_EQ(bits(b76.gamma), bits(0.0));
  EXPECT_EQ(bits(b76.vega), bits(0.0));
  EXPECT_EQ(bits(b76.theta), bits(0.0));
  EXPECT_EQ(bits(b76.rho), bits(-0.0));
  // No volatility, forward in the money: discounted step and a non-zero rho.
  const double t = 0.5, r = 0.05, dr = std::exp(-(r * t));
  const Greeks flat = black76_greeks_kernel(false, 110, 100, t, r, 0.0);
  EXPECT_EQ(bits(flat.delta), bits(dr));
  EXPECT_EQ(bits(flat.gamma), bits(0.0));
  EXPECT_EQ(bits(flat.vega), bits(0.0));
  EXPECT_EQ(bits(flat.theta), bits(0.0));
  EXPECT_EQ(bits(flat.rho), bits(-(t * (110 * dr - 100 * dr))));
}

TEST(CombinedGreeks, NanVolatilityGivesNanGreeksAndThePriceFallbackRho) {
  for (bool put : {false, true}) {
    const Greeks g = bsm_greeks_kernel(put, 100, 90, 1.0, 0.05, 0.01, nan);
    EXPECT_TRUE(std::isnan(g.delta) && std::isnan(g.gamma) && std::isnan(g.vega) &&
                std::isnan(g.theta) && std::isnan(g.rho));
    const Greeks b = black76_greeks_kernel(put, 100, 90, 1.0, 0.05, nan);
    EXPECT_TRUE(std::isnan(b.delta) && std::isnan(b.gamma) && std::isnan(b.vega) &&
                std::isnan(b.theta));
    // The price with a NaN volatility is its intrinsic part alone.
    const double dr = std::exp(-0.05);
    EXPECT_EQ(bits(b.rho), bits(put ? -0.0 : -(1.0 * (dr * (100 - 90)))));
  }
}

TEST(CombinedGreeks, ZeroForwardFallsBackToTheDiscountedIntrinsicRho) {
  const double t = 2.0, r = 0.03, dr = std::exp(-(r * t));
  const Greeks g = black76_greeks_kernel(true, 0.0, 100, t, r, 0.3);
  EXPECT_TRUE(std::isnan(g.gamma));
  EXPECT_EQ(bits(g.delta), bits(-dr));
  EXPECT_EQ(bits(g.rho), bits(-(t * (100 * dr - 0.0 * dr))));
}

}  // namespace

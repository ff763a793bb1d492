// The single-pass Greeks: every field equal to the individual kernel bit for bit, for both models,
// on random valid inputs and on a grid of degenerate and non-finite inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

// Both models' single pass against the five individual kernels (Black-76: s = f, q = r and its
// own rho). Reports the first mismatching option only, so a broken kernel does not flood the log.
bool same_as_individual(bool put, double s, double k, double t, double r, double q, double sigma) {
  const Greeks got[2] = {bsm_greeks_kernel(put, s, k, t, r, q, sigma),
                         black76_greeks_kernel(put, s, k, t, r, sigma)};
  for (int model = 0; model < 2; ++model) {
    const double qq = model == 0 ? q : r;
    const double want[5] = {
        bsm_delta_kernel(put, s, k, t, r, qq, sigma), bsm_gamma_kernel(s, k, t, r, qq, sigma),
        bsm_vega_kernel(s, k, t, r, qq, sigma), bsm_theta_kernel(put, s, k, t, r, qq, sigma),
        model == 0 ? bsm_rho_kernel(put, s, k, t, r, q, sigma)
                   : black76_rho_kernel(put, s, k, t, r, sigma)};
    const Greeks& g = got[model];
    const double have[5] = {g.delta, g.gamma, g.vega, g.theta, g.rho};
    for (int j = 0; j < 5; ++j) {
      if (!same_bits(have[j], want[j])) {
        ADD_FAILURE() << (model == 0 ? "bsm" : "black76") << " Greek " << j << ": single pass "
                      << have[j] << ", individual " << want[j] << " for put=" << put << " s=" << s
                      << " k=" << k << " t=" << t << " r=" << r << " q=" << q << " sigma=" << sigma;
        return false;
      }
    }
  }
  return true;
}

TEST(CombinedGreeks, RecordHoldsDeltaGammaVegaThetaRhoInOrder) {
  EXPECT_EQ(offsetof(Greeks, gamma), 1 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, vega), 2 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, theta), 3 * sizeof(double));
  EXPECT_EQ(offsetof(Greeks, rho), 4 * sizeof(double));
}

TEST(CombinedGreeks, EveryFieldEqualsTheIndividualKernelOnRandomInputs) {
  // Deep in and out of the money, tiny and long times, negative rates and yields, tiny and huge
  // volatilities; every tenth option without drift (q = r).
  std::mt19937_64 rng(20240531);
  std::uniform_real_distribution<double> log_money(-3.0, 3.0), log_t(-7.0, 3.5), rate(-0.05, 0.25),
      yield(-0.02, 0.15), log_vol(-5.0, 1.5);
  for (int i = 0; i < 100000; ++i) {
    const double k = 100.0 * std::exp(log_money(rng)), t = std::exp(log_t(rng)), r = rate(rng),
                 q = i % 10 == 0 ? r : yield(rng), sigma = std::exp(log_vol(rng));
    if (!same_as_individual((rng() & 1) != 0, 100.0, k, t, r, q, sigma)) return;
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
                if (!same_as_individual(put, s, k, t, r, q, sigma)) return;
}

}  // namespace

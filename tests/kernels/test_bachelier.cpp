// The normal (Bachelier) model's kernels: accuracy against high-precision values
// (tests/data/bachelier.csv, from tools/reference/gen_bachelier.py), implied-volatility round
// trips, put-call parity, the single pass against the individual kernels, and the edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels/bachelier.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

constexpr double eps = std::numeric_limits<double>::epsilon();

std::array<double, 6> all_of(bool put, double f, double k, double t, double r, double sigma) {
  return {bachelier_price_kernel(put, f, k, t, r, sigma),
          bachelier_delta_kernel(put, f, k, t, r, sigma),
          bachelier_gamma_kernel(f, k, t, r, sigma),
          bachelier_vega_kernel(f, k, t, r, sigma),
          bachelier_theta_kernel(put, f, k, t, r, sigma),
          bachelier_rho_kernel(put, f, k, t, r, sigma)};
}

TEST(BachelierAccuracy, PriceAndGreeksAgreeWithHighPrecisionToFewUlpTimesCondition) {
  // 4 ulps times the row's condition figure; rows whose figure passes 1e6 are far-tail values
  // left aside.
  const auto table = read_csv(KARVEX_TEST_DATA_DIR "/bachelier.csv");
  ASSERT_GT(table.size(), 2000u);
  const char* names[6] = {"price", "delta", "gamma", "vega", "theta", "rho"};
  int checked = 0;
  for (const auto& row : table) {
    const bool put = row.text("kind") == "p";
    const double f = row.num("f"), k = row.num("k"), t = row.num("t"), r = row.num("r"),
                 sigma = row.num("sigma");
    const auto got = all_of(put, f, k, t, r, sigma);
    for (int j = 0; j < 6; ++j) {
      const double want = row.num(names[j]), cond = row.num(std::string("cond_") + names[j]);
      if (!(cond <= 1e6)) continue;
      ++checked;
      EXPECT_LE(std::fabs(got[j] - want), 4 * eps * cond * std::fabs(want) + 1e-300)
          << row.text("kind") << " " << names[j] << " f=" << f << " k=" << k << " t=" << t
          << " r=" << r << " sigma=" << sigma << " got " << got[j] << " want " << want;
    }
  }
  EXPECT_GT(checked, static_cast<int>(table.size()) * 6 * 3 / 4);
}

TEST(BachelierIv, RecoversTheHighPrecisionVolatilityOfEachTargetToFewUlpTimesCondition) {
  const auto table = read_csv(KARVEX_TEST_DATA_DIR "/bachelier.csv");
  int checked = 0;
  double worst = 0.0;
  for (const auto& row : table) {
    const double want = row.num("iv");
    if (std::isnan(want)) continue;
    const bool put = row.text("kind") == "p";
    const double f = row.num("f"), k = row.num("k"), t = row.num("t"), r = row.num("r");
    const double got = bachelier_iv_kernel(put, row.num("target"), f, k, t, r);
    const double error = std::fabs(got - want) / (eps * row.num("cond_iv") * want);
    worst = std::max(worst, error);
    ++checked;
    EXPECT_LE(error, 4.0) << row.text("kind") << " f=" << f << " k=" << k << " t=" << t
                          << " r=" << r << " target=" << row.num("target") << " got " << got
                          << " want " << want;
  }
  EXPECT_GT(checked, 2000);
  std::printf("implied normal volatility against mpmath: %d rows, worst %.2f ulp x condition\n",
              checked, worst);
}

// 10^6 random options: forwards and strikes from -5% to 5%, times from 2 hours to 30 years,
// volatilities from 1e-6 to 1 (log-uniform), both kinds, rates from -5% to 5%. Out of the money
// the volatility must come back to a few ulps; every option's price must come back to a few
// ulps times the price's condition.
TEST(BachelierIv, RoundTripsAMillionRandomOptions) {
  std::mt19937_64 rng(20);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> vol_error, price_error;
  for (int i = 0; i < 1000000; ++i) {
    const bool put = u(rng) < 0.5;
    const double f = (u(rng) - 0.5) * 0.1, k = (u(rng) - 0.5) * 0.1;
    const double t = std::exp(u(rng) * 12.0 - 8.5), r = (u(rng) - 0.5) * 0.1;
    const double sigma = std::exp(u(rng) * 13.8 - 13.8);
    const double price = bachelier_price_kernel(put, f, k, t, r, sigma);
    if (!(price > 1e-300)) continue;
    const double iv = bachelier_iv_kernel(put, price, f, k, t, r);
    const double d = (f - k) / (std::sqrt(t) * sigma);
    const double repriced = bachelier_price_kernel(put, f, k, t, r, iv);
    const double e_price = std::fabs(repriced - price) / (eps * price * (1.0 + d * d));
    price_error.push_back(e_price);
    EXPECT_LE(e_price, 8.0) << put << " " << price << " " << f << " " << k << " " << t << " " << r
                            << " " << sigma << " -> " << iv;
    if ((put ? k - f : f - k) > 0.0) continue;  // in the money: the price's rounding dominates
    const double e_vol = std::fabs(iv - sigma) / (eps * sigma);
    vol_error.push_back(e_vol);
    EXPECT_LE(e_vol, 8.0) << put << " " << price << " " << f << " " << k << " " << t << " " << r
                          << " " << sigma << " -> " << iv;
  }
  ASSERT_GT(vol_error.size(), 200000u);
  std::sort(vol_error.begin(), vol_error.end());
  std::sort(price_error.begin(), price_error.end());
  std::printf(
      "round trips: %zu out of the money, volatility error max %.2f, median %.2f ulp; "
      "%zu in all, price error max %.2f, median %.2f ulp x (1 + d^2)\n",
      vol_error.size(), vol_error.back(), vol_error[vol_error.size() / 2], price_error.size(),
      price_error.back(), price_error[price_error.size() / 2]);
}

TEST(BachelierIv, DecidesTheEdgesAsTheLognormalInversion) {
  const double f = -0.01, k = 0.005, t = 2.0, r = 0.03;
  const double DF = std::exp(-(r * t));
  const double intrinsic = DF * (k - f);  // of the put
  EXPECT_EQ(bits(bachelier_iv_kernel(true, intrinsic, f, k, t, r)), bits(0.0));
  EXPECT_EQ(bits(bachelier_iv_kernel(true, intrinsic - 5e-13, f, k, t, r)), bits(0.0));
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(true, intrinsic - 2e-12, f, k, t, r)));
  EXPECT_EQ(bits(bachelier_iv_kernel(false, 0.0, f, k, t, r)), bits(0.0));
  EXPECT_EQ(bits(bachelier_iv_kernel(false, -0.0, f, k, t, r)), bits(0.0));
  // No upper bound: a large finite price has a volatility, +inf none.
  EXPECT_GT(bachelier_iv_kernel(false, 1e300, f, k, t, r), 1e299);
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, inf, f, k, t, r)));
  for (const double bad : {nan, inf, -inf}) {
    EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, bad, k, t, r)));
    EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, f, bad, t, r)));
    EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, f, k, bad, r)));
    EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, f, k, t, bad)));
  }
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, nan, f, k, t, r)));
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, -1e-300, f, k, t, r)));
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, f, k, 0.0, r)));
  EXPECT_TRUE(std::isnan(bachelier_iv_kernel(false, 0.01, f, k, -1.0, r)));
  // At the money the time value is s/sqrt(2*pi) exactly: s = price*sqrt(2*pi)/DF.
  for (const double fk : {-0.02, 0.0, 0.03, 1e10}) {
    const double price = 0.0123;
    const double want = (price / DF) * bachelier_constants::sqrt_2pi / std::sqrt(t);
    EXPECT_LE(ulp_distance(bachelier_iv_kernel(false, price, fk, fk, t, r), want), 2u) << fk;
    EXPECT_LE(ulp_distance(bachelier_iv_kernel(true, price, fk, fk, t, r), want), 2u) << fk;
  }
  // Every NaN is the one quiet NaN.
  EXPECT_EQ(bits(bachelier_iv_kernel(false, 0.01, -nan, k, t, r)), bits(nan));
  EXPECT_EQ(bits(bachelier_iv_kernel(false, 1.0, f, k, t, -1e308)), bits(nan));
}

TEST(BachelierPrice, PutCallParityHoldsToFewUlps) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 100000; ++i) {
    const double f = (u(rng) - 0.5) * 0.2, k = (u(rng) - 0.5) * 0.2;
    const double t = std::exp(u(rng) * 8.0 - 5.0), r = (u(rng) - 0.5) * 0.1;
    const double sigma = std::exp(u(rng) * 10.0 - 10.0);
    const double call = bachelier_price_kernel(false, f, k, t, r, sigma);
    const double put = bachelier_price_kernel(true, f, k, t, r, sigma);
    const double DF = std::exp(-(r * t));
    const double scale = std::max({call, put, std::fabs(DF * (f - k))});
    EXPECT_LE(std::fabs((call - put) - DF * (f - k)), 4 * eps * scale)
        << f << " " << k << " " << t << " " << r << " " << sigma;
  }
}

TEST(BachelierPrice, SettlesDegenerateInputsOnTheIntrinsicValue) {
  const double f = -0.01, k = -0.02, r = 0.05;
  EXPECT_EQ(bachelier_price_kernel(false, f, k, 0.0, r, 0.01), f - k);
  EXPECT_EQ(bits(bachelier_price_kernel(true, f, k, -1.0, r, 0.01)), bits(0.0));
  EXPECT_EQ(bachelier_price_kernel(false, f, k, 2.0, r, 0.0), std::exp(-(r * 2.0)) * (f - k));
  EXPECT_EQ(bachelier_price_kernel(false, f, k, 2.0, r, -1.0), std::exp(-(r * 2.0)) * (f - k));
  // d infinite: s underflows against w, or w itself is infinite.
  EXPECT_EQ(bachelier_price_kernel(false, f, k, 1e-300, 0.0, 1e-30), f - k);
  EXPECT_EQ(bachelier_price_kernel(false, inf, k, 1.0, 0.0, 0.01), inf);
  EXPECT_EQ(bits(bachelier_price_kernel(false, -inf, k, 1.0, 0.0, 0.01)), bits(0.0));
  EXPECT_EQ(bachelier_price_kernel(false, f, k, 1.0, 0.0, inf), inf);
  for (const double bad : {nan, -nan}) {
    EXPECT_EQ(bits(bachelier_price_kernel(false, bad, k, 1.0, r, 0.01)), bits(nan));
    EXPECT_EQ(bits(bachelier_price_kernel(true, f, k, bad, r, 0.01)), bits(nan));
    EXPECT_EQ(bits(bachelier_price_kernel(true, f, k, 1.0, bad, 0.01)), bits(nan));
    EXPECT_EQ(bits(bachelier_price_kernel(false, f, k, 1.0, r, bad)), bits(nan));
  }
}

TEST(BachelierGreeks, SinglePassEqualsTheIndividualKernelsBitForBit) {
  std::vector<double> fs = {-0.03, -0.01, 0.0, -0.0, 0.01, 0.02, 5.0, inf, -inf, nan};
  std::vector<double> ts = {-1.0, 0.0, 1e-300, 1.0 / 365, 1.0, 30.0, inf, nan};
  std::vector<double> rs = {-0.02, 0.0, 0.05, nan};
  std::vector<double> sigmas = {-0.01, 0.0, 1e-30, 1e-4, 0.01, 2.0, inf, nan};
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-0.05, 0.05);
  for (int i = 0; i < 40; ++i) fs.push_back(u(rng));
  for (const bool put : {false, true})
    for (const double f : fs)
      for (const double k : {-0.015, 0.0, 0.01})
        for (const double t : ts)
          for (const double r : rs)
            for (const double sigma : sigmas) {
              const Greeks g = bachelier_greeks_kernel(put, f, k, t, r, sigma);
              const auto one = all_of(put, f, k, t, r, sigma);
              const double fields[5] = {g.delta, g.gamma, g.vega, g.theta, g.rho};
              for (int j = 0; j < 5; ++j)
                ASSERT_EQ(bits(fields[j]), bits(one[j + 1]))
                    << j << " " << put << " " << f << " " << k << " " << t << " " << r << " "
                    << sigma;
            }
}

TEST(BachelierGreeks, DegenerateInputsGiveTheStepDeltaAndZeros) {
  const double DF = std::exp(-(0.05 * 2.0));
  EXPECT_EQ(bachelier_delta_kernel(false, 0.02, 0.01, 2.0, 0.05, 0.0), DF);
  EXPECT_EQ(bachelier_delta_kernel(true, 0.0, 0.01, 2.0, 0.05, 0.0), -DF);
  EXPECT_EQ(bits(bachelier_delta_kernel(true, 0.02, 0.01, 2.0, 0.05, 0.0)), bits(0.0));
  EXPECT_EQ(bachelier_delta_kernel(false, 0.02, 0.01, 0.0, 0.05, 0.2), 1.0);
  EXPECT_EQ(bits(bachelier_delta_kernel(false, 0.01, 0.01, 0.0, 0.05, 0.2)), bits(0.0));
  for (const double t : {0.0, 2.0}) {
    EXPECT_EQ(bits(bachelier_gamma_kernel(0.01, 0.01, t, 0.05, t == 0.0 ? 0.2 : 0.0)), bits(0.0));
    EXPECT_EQ(bits(bachelier_vega_kernel(0.01, 0.01, t, 0.05, t == 0.0 ? 0.2 : 0.0)), bits(0.0));
    EXPECT_EQ(bits(bachelier_theta_kernel(false, 0.02, 0.01, t, 0.05, t == 0.0 ? 0.2 : 0.0)),
              bits(0.0));
  }
  // rho is -t times the price everywhere: here the discounted intrinsic value.
  EXPECT_EQ(bachelier_rho_kernel(false, 0.02, 0.01, 2.0, 0.05, 0.0), -(2.0 * (DF * 0.01)));
}

}  // namespace

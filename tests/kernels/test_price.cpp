// The option price kernel: accuracy against high-precision BSM and Black-76 prices
// (tests/data/price.csv), every rule of the degenerate-input table, put-call parity, the exact
// forward without drift, and the sign of every price.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using karvex::bsm_price_kernel;
using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

constexpr double tau = 0.2102528541151713;
constexpr bool call = false, put = true;

TEST(PriceAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesCondition) {
  // 8 ulps plus 4 per unit of the price's condition; with t < tau and |h| up to 10 the
  // small-volatility expansion adds its cancellation, about h^4/2 ulps.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/price.csv");
  ASSERT_GT(table.size(), 700u);
  for (const auto& row : table) {
    const double s = row.num("s"), k = row.num("k"), t = row.num("t"), r = row.num("r"),
                 q = row.num("q"), sigma = row.num("sigma");
    const double got = bsm_price_kernel(row.text("kind") == "put", s, k, t, r, q, sigma);
    const double v = std::sqrt(t) * sigma;
    const double h = -std::fabs(std::log(s * std::exp(t * (r - q)) / k)) / v;
    const double small_vol = (v * 0.5 < tau && h >= -10.5) ? h * h * h * h / 2 : 0.0;
    EXPECT_LE(static_cast<double>(ulp_distance(got, row.num("price"))),
              8.0 + 4.0 * row.num("cond") + small_vol)
        << row.text("model") << " " << row.text("kind") << " s=" << s << " k=" << k << " t=" << t
        << " r=" << r << " q=" << q << " sigma=" << sigma << std::hexfloat << " got " << got;
    EXPECT_TRUE(positive_or_plus_zero(got));
  }
}

TEST(PriceDegenerate, ExpiredOrNegativeTimeGivesUndiscountedIntrinsicOnSpot) {
  for (double t : {0.0, -0.0, -1.0, -inf}) {
    for (double sigma : {0.2, 0.0, nan, inf}) {
      EXPECT_EQ(bits(bsm_price_kernel(call, 110, 100, t, 0.05, 0.02, sigma)), bits(10.0));
      EXPECT_EQ(bits(bsm_price_kernel(put, 110, 100, t, 0.05, 0.02, sigma)), 0u);
      EXPECT_EQ(bits(bsm_price_kernel(put, 90, 100, t, nan, nan, sigma)), bits(10.0));
      EXPECT_EQ(bits(bsm_price_kernel(call, 100, 100, t, 0.05, 0.02, sigma)), 0u);
      EXPECT_EQ(bits(bsm_price_kernel(put, 100, 100, t, 0.05, 0.02, sigma)), 0u);
    }
  }
}

TEST(PriceDegenerate, TableOfFallbacks) {
  struct Case {
    bool put;
    double s, k, t, r, q, sigma, want;
  };
  const double dq75 = std::exp(-(0.02 * 0.75)), dr75 = std::exp(-(0.05 * 0.75));
  const double f5 = 100 * std::exp(0.5 * (0.03 - 0.01)), dr5 = std::exp(-(0.03 * 0.5));
  const double dq1 = std::exp(-(0.02 * 1.0)), dr1 = std::exp(-(0.05 * 1.0));
  // clang-format off
  const Case table[] = {
      // No volatility (zero or negative): the discounted intrinsic value.
      {call, 100, 95, 0.75, 0.05, 0.02, 0.0, 100 * dq75 - 95 * dr75},
      {call, 100, 95, 0.75, 0.05, 0.02, -0.0, 100 * dq75 - 95 * dr75},
      {call, 100, 95, 0.75, 0.05, 0.02, -inf, 100 * dq75 - 95 * dr75},
      {put, 100, 105, 0.75, 0.05, 0.02, 0.0, 105 * dr75 - 100 * dq75},
      {put, 100, 95, 0.75, 0.05, 0.02, -0.3, 0.0},
      // NaN or infinite volatility: the intrinsic part DF*(F - k) alone.
      {call, 100, 90, 0.5, 0.03, 0.01, nan, dr5 * (f5 - 90)},
      {call, 100, 90, 0.5, 0.03, 0.01, inf, dr5 * (f5 - 90)},
      {put, 100, 110, 0.5, 0.03, 0.01, nan, dr5 * (110 - f5)},
      {put, 100, 90, 0.5, 0.03, 0.01, inf, 0.0}, {call, 100, 110, 0.5, 0.03, 0.01, nan, 0.0},
      // k = 0: the discounted spot for a call; s = 0: the discounted strike for a put.
      {call, 100, 0, 2.0, 0.04, 0.01, 0.2, 100 * std::exp(-(0.01 * 2.0))},
      {put, 0, 100, 2.0, 0.04, 0.01, 0.2, 100 * std::exp(-(0.04 * 2.0))},
      {put, 100, 0, 2.0, 0.04, 0.01, 0.2, 0.0}, {call, 0, 100, 2.0, 0.04, 0.01, 0.2, 0.0},
      // A NaN input with positive time: +0.
      {call, 100, 100, nan, 0.05, 0.0, 0.2, 0.0}, {put, nan, 100, 1.0, 0.05, 0.0, 0.2, 0.0},
      {call, 100, nan, 1.0, 0.05, 0.0, 0.2, 0.0}, {put, 100, 100, 1.0, nan, 0.0, 0.2, 0.0},
      {call, 100, 100, 1.0, 0.05, nan, 0.2, 0.0},
      // s/k < 0: the discounted intrinsic value; both negative: NaN.
      {put, -10, 100, 1.0, 0.05, 0.02, 0.2, 100 * dr1 - (-10) * dq1},
      {call, 100, -10, 1.0, 0.05, 0.02, 0.2, 100 * dq1 - (-10) * dr1},
      {call, -10, 100, 1.0, 0.05, 0.02, 0.2, 0.0}, {call, -100, -90, 1.0, 0.05, 0.02, 0.2, nan},
      {put, -100, -90, 1.0, 0.05, 0.02, 0.2, nan},
      // An infinite rate without drift: DF = 0 makes both intrinsic terms 0.
      {call, 100, 90, 1.0, inf, inf, 0.2, 0.0}, {put, 100, 90, 1.0, inf, inf, 0.2, 0.0},
      // Far out of the money with a tiny volatility: +0.
      {call, 100, 101, 0.25, 0.01, 0.0, 1e-12, 0.0}, {call, 100, 1e6, 0.25, 0.01, 0.0, 1e-12, 0.0}};
  // clang-format on
  for (const Case& c : table) {
    EXPECT_TRUE(identical(bsm_price_kernel(c.put, c.s, c.k, c.t, c.r, c.q, c.sigma), c.want))
        << (c.put ? "put" : "call") << " s=" << c.s << " k=" << c.k << " t=" << c.t << " r=" << c.r
        << " q=" << c.q << " sigma=" << c.sigma << " want " << c.want;
  }
}

TEST(PriceIdentities, PutCallParity) {
  // call - put = DF*(F - k) up to the rounding of the final additions and of F and DF.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> m(-2.0, 2.0), lt(-5.0, 1.5), rate(-0.02, 0.1),
      div(0.0, 0.06), vol(0.01, 1.5);
  for (int i = 0; i < 5000; ++i) {
    const double s = 100.0, k = s * std::exp(m(rng)), t = std::exp(lt(rng)), r = rate(rng),
                 q = div(rng), sigma = vol(rng);
    const double c = bsm_price_kernel(call, s, k, t, r, q, sigma);
    const double p = bsm_price_kernel(put, s, k, t, r, q, sigma);
    const double F = s * std::exp(t * (r - q)), DF = std::exp(-(r * t));
    const double scale = std::fmax(std::fmax(c, p), DF * std::fmax(F, k));
    EXPECT_NEAR(c - p, DF * (F - k), 8 * std::numeric_limits<double>::epsilon() * scale)
        << "k=" << k << " t=" << t << " r=" << r << " q=" << q << " sigma=" << sigma;
  }
}

TEST(PriceIdentities, WithoutDriftTheForwardIsTheSpotExactly) {
  // q = r (every Black-76 price): at the money call and put agree to the bit, and without
  // volatility the price is DF*f - DF*k with one discount factor.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> rate(-0.05, 0.2), lt(-7.0, 3.5), lv(-14.0, 1.4);
  for (int i = 0; i < 2000; ++i) {
    const double r = rate(rng), t = std::exp(lt(rng)), sigma = std::exp(lv(rng));
    const double c = bsm_price_kernel(call, 80, 80, t, r, r, sigma);
    EXPECT_EQ(bits(c), bits(bsm_price_kernel(put, 80, 80, t, r, r, sigma)));
    EXPECT_TRUE(positive_or_plus_zero(c));
    const double DF = std::exp(-(r * t));
    EXPECT_EQ(bits(bsm_price_kernel(call, 120, 80, t, r, r, 0.0)), bits(120 * DF - 80 * DF));
  }
}

TEST(PriceIdentities, NeverNegativeNeverMinusZero) {
  // Wide and extreme ranges, plus the degenerate values of every input in turn.
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> m(-8.0, 8.0), lt(-12.0, 2.0), lv(-28.0, 1.0),
      rate(-0.1, 0.3);
  const double odd[] = {0.0, -0.0, nan, inf, -inf, 1e-300, -1.0};
  for (int i = 0; i < 20000; ++i) {
    const double s = 100.0, k = s * std::exp(m(rng)), t = std::exp(lt(rng)),
                 sigma = std::exp(lv(rng)), r = rate(rng), q = rate(rng), o = odd[i % 7];
    for (bool is_put : {call, put}) {
      ASSERT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, q, sigma)))
          << "k=" << k << " t=" << t << " r=" << r << " q=" << q << " sigma=" << sigma;
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, o, r, q, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, o, q, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, o, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, q, o)));
    }
  }
}

}  // namespace

// The option price kernel: accuracy against high-precision BSM and Black-76
// prices (tests/data/price.csv, from tools/reference/gen_normal_price.py), every rule of the
// degenerate-input table, put-call parity, the Black-76 convention, and the
// sign of every price.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using karvex::bsm_price_kernel;
using karvex::testing::bits;
using karvex::testing::positive_or_plus_zero;
using karvex::testing::ulp_distance;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double tau = 0.2102528541151713;
constexpr bool call = false, put = true;

TEST(PriceAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesCondition) {
  // 8 ulps plus 4 per unit of the price's condition (the sum of its
  // elasticities to the six inputs; it grows like h^2 deep out of the money).
  // With a small total volatility (t < tau) and |h| up to 10 the
  // small-volatility expansion adds its cancellation, about h^4/2 ulps.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/price.csv");
  ASSERT_GT(table.size(), 700u);
  for (const auto& row : table) {
    const bool is_put = row.text("kind") == "put";
    const double s = row.num("s"), k = row.num("k"), t = row.num("t"), r = row.num("r"),
                 q = row.num("q"), sigma = row.num("sigma");
    const double got = bsm_price_kernel(is_put, s, k, t, r, q, sigma);
    const double v = std::sqrt(t) * sigma;
    const double h = -std::fabs(std::log(s * std::exp(t * (r - q)) / k)) / v;
    const double small_vol = (v * 0.5 < tau && h >= -10.5) ? h * h * h * h / 2 : 0.0;
    EXPECT_LE(static_cast<double>(ulp_distance(got, row.num("price"))),
              8.0 + 4.0 * row.num("cond") + small_vol)
        << row.text("model") << " " << row.text("kind") << " s=" << s << " k=" << k << " t=" << t
        << " r=" << r << " q=" << q << " sigma=" << sigma << std::hexfloat << " got " << got
        << " want " << row.num("price");
    EXPECT_TRUE(positive_or_plus_zero(got));
  }
}

TEST(PriceDegenerate, ExpiredOrNegativeTimeGivesUndiscountedIntrinsicOnSpot) {
  for (double t : {0.0, -0.0, -1.0, -inf}) {
    for (double sigma : {0.2, 0.0, nan, inf}) {
      EXPECT_EQ(bits(bsm_price_kernel(call, 110, 100, t, 0.05, 0.02, sigma)), bits(10.0));
      EXPECT_EQ(bits(bsm_price_kernel(put, 110, 100, t, 0.05, 0.02, sigma)), bits(0.0));
      EXPECT_EQ(bits(bsm_price_kernel(put, 90, 100, t, nan, nan, sigma)), bits(10.0));
      EXPECT_EQ(bits(bsm_price_kernel(call, 100, 100, t, 0.05, 0.02, sigma)), bits(0.0));
      EXPECT_EQ(bits(bsm_price_kernel(put, 100, 100, t, 0.05, 0.02, sigma)), bits(0.0));
    }
  }
}

TEST(PriceDegenerate, NoVolatilityGivesDiscountedIntrinsic) {
  const double t = 0.75, r = 0.05, q = 0.02;
  const double s_disc = 100 * std::exp(-(q * t)), k_disc = 95 * std::exp(-(r * t));
  for (double sigma : {0.0, -0.0, -0.3, -inf}) {
    EXPECT_EQ(bits(bsm_price_kernel(call, 100, 95, t, r, q, sigma)), bits(s_disc - k_disc));
    EXPECT_EQ(bits(bsm_price_kernel(put, 100, 95, t, r, q, sigma)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(put, 100, 105, t, r, q, sigma)),
              bits(105 * std::exp(-(r * t)) - s_disc));
  }
}

TEST(PriceDegenerate, NaNOrInfiniteVolatilityGivesTheIntrinsicPartAlone) {
  const double t = 0.5, r = 0.03, q = 0.01;
  const double F = 100 * std::exp(t * (r - q)), DF = std::exp(-(r * t));
  for (double sigma : {nan, inf}) {
    EXPECT_EQ(bits(bsm_price_kernel(call, 100, 90, t, r, q, sigma)), bits(DF * (F - 90)));
    EXPECT_EQ(bits(bsm_price_kernel(put, 100, 90, t, r, q, sigma)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(put, 100, 110, t, r, q, sigma)), bits(DF * (110 - F)));
    EXPECT_EQ(bits(bsm_price_kernel(call, 100, 110, t, r, q, sigma)), bits(0.0));
  }
}

TEST(PriceDegenerate, ZeroStrikeOrZeroSpot) {
  const double t = 2.0, r = 0.04, q = 0.01;
  // k = 0: x = +inf; the call is the discounted spot, the put worthless.
  EXPECT_EQ(bits(bsm_price_kernel(call, 100, 0, t, r, q, 0.2)), bits(100 * std::exp(-(q * t))));
  EXPECT_EQ(bits(bsm_price_kernel(put, 100, 0, t, r, q, 0.2)), bits(0.0));
  // s = 0: x = -inf; the call is worthless, the put the discounted strike.
  EXPECT_EQ(bits(bsm_price_kernel(call, 0, 100, t, r, q, 0.2)), bits(0.0));
  EXPECT_EQ(bits(bsm_price_kernel(put, 0, 100, t, r, q, 0.2)), bits(100 * std::exp(-(r * t))));
}

TEST(PriceDegenerate, NaNInputsWithPositiveTimeGiveZero) {
  for (bool is_put : {call, put}) {
    EXPECT_EQ(bits(bsm_price_kernel(is_put, 100, 100, nan, 0.05, 0.0, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(is_put, nan, 100, 1.0, 0.05, 0.0, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(is_put, 100, nan, 1.0, 0.05, 0.0, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(is_put, 100, 100, 1.0, nan, 0.0, 0.2)), bits(0.0));
    EXPECT_EQ(bits(bsm_price_kernel(is_put, 100, 100, 1.0, 0.05, nan, 0.2)), bits(0.0));
  }
}

TEST(PriceDegenerate, NegativeSpotOrStrike) {
  const double t = 1.0, r = 0.05, q = 0.02;
  // s/k < 0: x is NaN, the discounted intrinsic with its finite expression.
  EXPECT_EQ(bits(bsm_price_kernel(put, -10, 100, t, r, q, 0.2)),
            bits(100 * std::exp(-(r * t)) - (-10) * std::exp(-(q * t))));
  EXPECT_EQ(bits(bsm_price_kernel(call, -10, 100, t, r, q, 0.2)), bits(0.0));
  EXPECT_EQ(bits(bsm_price_kernel(call, 100, -10, t, r, q, 0.2)),
            bits(100 * std::exp(-(q * t)) - (-10) * std::exp(-(r * t))));
  // Both negative: x is finite, the square roots are NaN.
  EXPECT_TRUE(std::isnan(bsm_price_kernel(call, -100, -90, t, r, q, 0.2)));
  EXPECT_TRUE(std::isnan(bsm_price_kernel(put, -100, -90, t, r, q, 0.2)));
}

TEST(PriceIdentities, AtTheMoneyForwardCallEqualsPutBitForBit) {
  // r = q makes F = s exactly, so x = 0 and the intrinsic part is +0.
  for (double sigma : {1e-6, 0.2, 1.0, 4.0}) {
    for (double t : {1e-3, 1.0, 30.0}) {
      const double c = bsm_price_kernel(call, 100, 100, t, 0.05, 0.05, sigma);
      EXPECT_EQ(bits(c), bits(bsm_price_kernel(put, 100, 100, t, 0.05, 0.05, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(c));
    }
  }
}

TEST(PriceIdentities, PutCallParity) {
  // call - put = DF*(F - k) up to the rounding of the two final additions and
  // of F and DF themselves: a few ulps of the largest term.
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

TEST(PriceIdentities, Black76ForwardIsTakenExactly) {
  // With q = r the forward factor exp(t*(r - r)) is exactly 1: an at-the-money
  // Black-76 call and put agree to the bit, and without volatility the price
  // is DF*(f - k) with the same discount factor on both terms.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> rate(-0.05, 0.2), lt(-6.0, 3.0);
  for (int i = 0; i < 1000; ++i) {
    const double r = rate(rng), t = std::exp(lt(rng)), DF = std::exp(-(r * t));
    EXPECT_EQ(bits(bsm_price_kernel(call, 80, 80, t, r, r, 0.3)),
              bits(bsm_price_kernel(put, 80, 80, t, r, r, 0.3)));
    EXPECT_EQ(bits(bsm_price_kernel(call, 120, 80, t, r, r, 0.0)), bits(120 * DF - 80 * DF));
  }
  // An infinite rate: F is NaN, DF = 0 makes both intrinsic terms 0.
  for (bool is_put : {call, put}) {
    EXPECT_EQ(bits(bsm_price_kernel(is_put, 100, 90, 1.0, inf, inf, 0.2)), bits(0.0));
  }
}

TEST(PriceIdentities, NeverNegativeNeverMinusZero) {
  // Positive spot and strike with finite discounting, over wide and extreme
  // ranges, plus the degenerate values of every input.
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> m(-8.0, 8.0), lt(-12.0, 2.0), lv(-10.0, 1.0),
      rate(-0.1, 0.3);
  const double odd[] = {0.0, -0.0, nan, inf, -inf, 1e-300, -1.0};
  for (int i = 0; i < 20000; ++i) {
    const double s = 100.0, k = s * std::exp(m(rng)), t = std::exp(lt(rng)),
                 sigma = std::exp(lv(rng)), r = rate(rng), q = rate(rng);
    for (bool is_put : {call, put}) {
      ASSERT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, q, sigma)))
          << "k=" << k << " t=" << t << " r=" << r << " q=" << q << " sigma=" << sigma;
      const double o = odd[i % 7];
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, o, r, q, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, o, q, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, o, sigma)));
      EXPECT_TRUE(positive_or_plus_zero(bsm_price_kernel(is_put, s, k, t, r, q, o)));
    }
  }
}

TEST(PriceDegenerate, DeepOutOfTheMoneyWithTinyVolatilityIsTinyOrPlusZero) {
  for (double k : {101.0, 150.0, 1000.0, 1e6}) {
    for (double sigma = 0.5; sigma > 1e-12; sigma *= 0.1) {
      const double c = bsm_price_kernel(call, 100, k, 0.25, 0.01, 0.0, sigma);
      const double p = bsm_price_kernel(put, 100, 1e4 / k, 0.25, 0.01, 0.0, sigma);
      EXPECT_TRUE(positive_or_plus_zero(c)) << k << " " << sigma;
      EXPECT_TRUE(positive_or_plus_zero(p)) << k << " " << sigma;
      EXPECT_LT(c, 100.0);
    }
    EXPECT_EQ(bits(bsm_price_kernel(call, 100, k, 0.25, 0.01, 0.0, 1e-12)), bits(0.0));
  }
}

}  // namespace

// The normalised Black function: accuracy against high-precision values
// (tests/data/normalised_black.csv), the region chosen on each side of every switch, the
// normalised intrinsic value, and NaN, infinite and degenerate inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "kernels/normalised_black.hpp"
#include "support.hpp"

namespace {

using karvex::normalised_black;
using karvex::normalised_intrinsic;
using karvex::NormalisedBlack;
using namespace karvex::testing;
using karvex::testing::nan;  // rather than ::nan(const char*) of the C library

constexpr double tau = 0.2102528541151713;

TEST(NormalisedBlackAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesCondition) {
  // b: 8 ulps plus 4 per unit of its condition; the small-volatility expansion (t < tau,
  // h >= -10) forms a ~ 1/h^2 by cancellation and adds about h^4/2 ulps. nu: 4 ulps plus 2 per
  // unit of its condition.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/normalised_black.csv");
  ASSERT_GT(table.size(), 600u);
  for (const auto& row : table) {
    const double x = row.num("x"), s = row.num("s");
    const NormalisedBlack got = normalised_black(x, s);
    const double h = -std::fabs(x) / s, t = s * 0.5;
    const double small_vol = (t < tau && h >= -10.5) ? h * h * h * h / 2 : 0.0;
    EXPECT_LE(static_cast<double>(ulp_distance(got.b, row.num("b"))),
              8.0 + 4.0 * row.num("cond_b") + small_vol)
        << std::hexfloat << "x=" << x << " s=" << s << " b=" << got.b;
    EXPECT_LE(static_cast<double>(ulp_distance(got.nu, row.num("nu"))),
              4.0 + 2.0 * row.num("cond_nu"))
        << std::hexfloat << "x=" << x << " s=" << s << " nu=" << got.nu;
  }
}

// Both sides of a switch: each side's result is its region function's to the bit, and the two
// sides agree to 1e-12 relatively (the regions meet continuously).
struct Side {
  double x, s;
  NormalisedBlack (*region)(double, double, double);
};

void expect_switch(const Side& lo, const Side& hi) {
  for (const Side& side : {lo, hi}) {
    const NormalisedBlack want = side.region(side.x, side.s, side.s * 0.5);
    const NormalisedBlack got = normalised_black(side.x, side.s);
    EXPECT_EQ(bits(got.b), bits(want.b)) << std::hexfloat << side.x << " " << side.s;
    EXPECT_EQ(bits(got.nu), bits(want.nu)) << std::hexfloat << side.x << " " << side.s;
  }
  const double b_lo = normalised_black(lo.x, lo.s).b, b_hi = normalised_black(hi.x, hi.s).b;
  EXPECT_NEAR(b_lo, b_hi, 1e-12 * b_hi) << std::hexfloat << lo.x << " " << lo.s;
}

// The adjacent doubles lo < hi where `holds` turns from true to false (bisection).
std::pair<double, double> last_true(const std::function<bool(double)>& holds, double lo,
                                    double hi) {
  EXPECT_TRUE(holds(lo) && !holds(hi));
  while (next_up(lo) < hi) {
    const double mid = lo + (hi - lo) * 0.5;
    (holds(mid) ? lo : hi) = mid;
  }
  return {lo, hi};
}

TEST(NormalisedBlackRegions, EachSwitchSitsWhereItsTestTurns) {
  using namespace karvex::detail;
  // x < s*(-10) is asymptotic, x = s*(-10) small volatility (t < tau).
  for (double s : {1e-3, 0.05, 0.3}) {
    expect_switch({next_down(s * -10.0), s, black_asymptotic},
                  {s * -10.0, s, black_small_volatility});
  }
  // s = 1: below -10 the second test x + s*t < s*(-10 + tau) decides against the erfcx form.
  const auto [x0, x1] =
      last_true([](double x) { return x + 0.5 < -9.789747145884828; }, -10.5, -10.0);
  expect_switch({x0, 1.0, black_asymptotic}, {x1, 1.0, black_erfcx_form});
  // Small volatility below t = tau: the doubles around s = 2*tau.
  for (double x : {0.0, -0.1}) {
    expect_switch({x, next_down(2 * tau), black_small_volatility}, {x, 2 * tau, black_erfcx_form});
  }
  // The Phi form above x + s*t > 0.85*s, off and at the money.
  for (double s : {1.8, 2.5, 4.0}) {
    const auto [a, b] =
        last_true([&](double x) { return !(x + s * (s * 0.5) > s * 0.85); }, -5.0, 0.0);
    expect_switch({a, s, black_erfcx_form}, {b, s, black_phi_form});
  }
  const auto [s0, s1] = last_true([](double s) { return !(s * (s * 0.5) > s * 0.85); }, 1.6, 1.8);
  expect_switch({0.0, s0, black_erfcx_form}, {0.0, s1, black_phi_form});
}

TEST(NormalisedBlackDegenerate, ExactResultsForNonPositiveNaNAndInfiniteArguments) {
  // s <= 0: (+0, +0), or the intrinsic value in the money.
  for (double s : {0.0, -0.0, -1.0, -inf}) {
    for (double x : {0.0, -0.0, -1.0, -inf, nan}) {
      EXPECT_EQ(bits(normalised_black(x, s).b), 0u) << x << " " << s;
      EXPECT_EQ(bits(normalised_black(x, s).nu), 0u) << x << " " << s;
    }
    EXPECT_EQ(bits(normalised_black(0.7, s).b), bits(normalised_intrinsic(0.7)));
    EXPECT_EQ(bits(normalised_black(0.7, s).nu), 0u);
  }
  struct Case {
    double x, s, b, nu;
  };
  const double big = std::numeric_limits<double>::max();
  const Case table[] = {
      // NaN x with s > 0 (small-volatility and erfcx regions), NaN s with x <= 0: b = +0, NaN nu.
      {nan, 1e-3, 0.0, nan},
      {nan, 1.0, 0.0, nan},
      {nan, 10.0, 0.0, nan},
      {-1.0, nan, 0.0, nan},
      {0.0, nan, 0.0, nan},
      {-inf, nan, 0.0, nan},
      // Infinite moneyness, infinite volatility (0*inf clamped to +0) and an overflowing s*t.
      {-inf, 1e-3, 0.0, 0.0},
      {-inf, 50.0, 0.0, 0.0},
      {inf, 1e-3, inf, 0.0},
      {inf, 0.3, inf, 0.0},
      {inf, 1.0, inf, 0.0},
      {inf, 50.0, inf, 0.0},
      {0.0, inf, 0.0, 0.0},
      {-0.5, inf, 0.0, 0.0},
      {-30.0, inf, 0.0, 0.0},
      {-big, 0x1.8p512, 0.0, 0.0}};
  for (const Case& e : table) {
    const NormalisedBlack nb = normalised_black(e.x, e.s);
    EXPECT_TRUE(identical(nb.b, e.b) && identical(nb.nu, e.nu)) << e.x << " " << e.s;
  }
  for (double s : {1e-3, 0.5, 3.0}) {  // -0.0 is at the money
    EXPECT_EQ(bits(normalised_black(-0.0, s).b), bits(normalised_black(0.0, s).b)) << s;
  }
}

TEST(NormalisedBlackIdentities,
     NeverNegativeNeverMinusZeroAndInTheMoneyIsOutOfTheMoneyPlusIntrinsic) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> log_x(-12.0, 3.0), log_s(-12.0, 3.0);
  for (int i = 0; i < 20000; ++i) {
    const double x = std::pow(10.0, log_x(rng)), s = std::pow(10.0, log_s(rng));
    const NormalisedBlack otm = normalised_black(-x, s), itm = normalised_black(x, s);
    ASSERT_TRUE(positive_or_plus_zero(otm.b) && otm.nu >= 0.0) << std::hexfloat << x << " " << s;
    ASSERT_EQ(bits(itm.b), bits(otm.b + normalised_intrinsic(x))) << std::hexfloat << x << " " << s;
    ASSERT_EQ(bits(itm.nu), bits(otm.nu)) << std::hexfloat << x << " " << s;
  }
  // Towards tiny volatility b falls monotonically and underflows to +0.
  for (double x : {-1e-6, -1e-3, -0.5, -40.0}) {
    double previous = normalised_black(x, 1.0).b;
    for (double s = 1.0; s > 1e-300; s *= 0.5) {
      const double b = normalised_black(x, s).b;
      EXPECT_TRUE(positive_or_plus_zero(b) && b <= previous) << x << " " << s;
      previous = b;
    }
    EXPECT_EQ(bits(previous), 0u) << x;
  }
}

TEST(NormalisedIntrinsic, TwiceSinhOfHalfXOnBothSidesOfTheSeriesSwitch) {
  // x*x < 98*2^-13 = 0.109375^2 takes the series; the exp form suffers the cancellation of
  // e - 1/e, about 2/|x| ulps near the switch.
  const double edge = 0.109375;
  for (double x :
       {next_down(edge), edge, next_up(edge), 1e-300, 1e-8, 0.05, 0.3, 2.0, 30.0, 700.0}) {
    for (double v : {x, -x}) {
      EXPECT_LE(
          static_cast<double>(ulp_distance(normalised_intrinsic(v), 2.0 * std::sinh(v * 0.5))),
          2.0 + 2.0 / std::fabs(v))
          << std::hexfloat << v;
    }
  }
  EXPECT_EQ(bits(normalised_intrinsic(-0.05)), bits(-normalised_intrinsic(0.05)));
  for (double x : {0.0, -0.0, inf, -inf, nan}) {
    EXPECT_TRUE(identical(normalised_intrinsic(x), x)) << x;
  }
}

}  // namespace

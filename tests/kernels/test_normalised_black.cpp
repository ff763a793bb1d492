// The normalised Black function: accuracy against high-precision values
// (tests/data/normalised_black.csv, from tools/reference/gen_normal_price.py), the region
// chosen on each side of every switch, agreement across the switches, the
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
using karvex::testing::bits;
using karvex::testing::next_down;
using karvex::testing::next_up;
using karvex::testing::positive_or_plus_zero;
using karvex::testing::ulp_distance;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double tau = 0.2102528541151713;

TEST(NormalisedBlackAccuracy, AgreesWithHighPrecisionWithinFewUlpsTimesCondition) {
  // b: 8 ulps plus 4 per unit of its condition in (x, s). The small-volatility
  // expansion forms a = 1 + h*Phi(h)/phi(h), about 1/h^2, by cancellation and
  // so magnifies erfcx's rounding of exp(a*a) (about h^2/2 ulps) by about h^2:
  // its rows (t < tau, h >= -10) get h^4/2 more. nu: 4 ulps plus 2 per unit
  // of h^2 + t^2, the magnification of its exponent's rounding.
  const auto table = karvex::testing::read_csv(KARVEX_TEST_DATA_DIR "/normalised_black.csv");
  ASSERT_GT(table.size(), 600u);
  for (const auto& row : table) {
    const double x = row.num("x"), s = row.num("s");
    const NormalisedBlack got = normalised_black(x, s);
    const double h = -std::fabs(x) / s, t = s * 0.5;
    const double small_vol = (t < tau && h >= -10.5) ? h * h * h * h / 2 : 0.0;
    EXPECT_LE(static_cast<double>(ulp_distance(got.b, row.num("b"))),
              8.0 + 4.0 * row.num("cond_b") + small_vol)
        << std::hexfloat << "x=" << x << " s=" << s << " b=" << got.b << " want " << row.num("b");
    EXPECT_LE(static_cast<double>(ulp_distance(got.nu, row.num("nu"))),
              4.0 + 2.0 * row.num("cond_nu"))
        << std::hexfloat << "x=" << x << " s=" << s << " nu=" << got.nu << " want "
        << row.num("nu");
  }
}

TEST(NormalisedBlackAccuracy, AtTheMoneyEqualsTwicePhiOfHalfSMinusOne) {
  // b(0, s) = 2*Phi(s/2) - 1 = erf(s/(2*sqrt(2))), nu(0, s) = phi(s/2), across
  // the small-volatility (s < 2*tau), erfcx (up to about 1.7) and Phi forms.
  for (double s = 1e-4; s < 40.0; s *= 1.07) {
    const NormalisedBlack nb = normalised_black(0.0, s);
    const double b = karvex::erf(s * 0.5 * 0.7071067811865476);
    EXPECT_LE(ulp_distance(nb.b, b), 8u) << "s=" << s;
    EXPECT_LE(ulp_distance(nb.nu, karvex::pdf(s * 0.5)), 4u) << "s=" << s;
    EXPECT_EQ(bits(normalised_black(-0.0, s).b), bits(nb.b)) << "s=" << s;
  }
}

// Pins the region taken on each side of a switch: the region functions are
// evaluated directly and compared bit for bit, and the two sides must agree
// to 1e-12 relatively (the regions meet continuously).
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

// The adjacent doubles x0 < x1 between lo and hi where `holds` turns from
// true to false (bisection; holds(lo) and !holds(hi)).
std::pair<double, double> last_true(const std::function<bool(double)>& holds, double lo,
                                    double hi) {
  EXPECT_TRUE(holds(lo));
  EXPECT_FALSE(holds(hi));
  while (next_up(lo) < hi) {
    const double mid = lo + (hi - lo) * 0.5;
    (holds(mid) ? lo : hi) = mid;
  }
  return {lo, hi};
}

TEST(NormalisedBlackRegions, AsymptoticBelowMinusTenTimesS) {
  using namespace karvex::detail;
  for (double s : {1e-3, 0.05, 0.3}) {
    // x < s*(-10): asymptotic; x = s*(-10): small volatility (t < tau).
    const double edge = s * -10.0;
    expect_switch({next_down(edge), s, black_asymptotic}, {edge, s, black_small_volatility});
  }
}

TEST(NormalisedBlackRegions, AsymptoticNeedsItsSecondTestForLargerVolatility) {
  using namespace karvex::detail;
  // s = 1: x < -10 holds but x + s*t < s*(-10 + tau) only below about -10.29;
  // above that the erfcx form takes over (t >= tau, h + t <= 0.85).
  const double s = 1.0, t = 0.5;
  const auto [x0, x1] =
      last_true([&](double x) { return x + s * t < s * -9.789747145884828; }, -10.5, -10.0);
  expect_switch({x0, s, black_asymptotic}, {x1, s, black_erfcx_form});
}

TEST(NormalisedBlackRegions, SmallVolatilityBelowTwiceTau) {
  using namespace karvex::detail;
  // At the money t = s*0.5 < tau decides: the doubles around s = 2*tau.
  const double s_edge = 2 * tau;
  expect_switch({0.0, next_down(s_edge), black_small_volatility}, {0.0, s_edge, black_erfcx_form});
  expect_switch({-0.1, next_down(s_edge), black_small_volatility},
                {-0.1, s_edge, black_erfcx_form});
}

TEST(NormalisedBlackRegions, PhiFormAboveEightyFiveHundredthsOfS) {
  using namespace karvex::detail;
  for (double s : {1.8, 2.5, 4.0}) {
    const double t = s * 0.5;
    const auto [x0, x1] = last_true([&](double x) { return !(x + s * t > s * 0.85); }, -5.0, 0.0);
    expect_switch({x0, s, black_erfcx_form}, {x1, s, black_phi_form});
  }
  // At the money the Phi form starts where s*(s*0.5) > s*0.85.
  const auto [s0, s1] = last_true([](double s) { return !(s * (s * 0.5) > s * 0.85); }, 1.6, 1.8);
  expect_switch({0.0, s0, black_erfcx_form}, {0.0, s1, black_phi_form});
}

TEST(NormalisedBlackDegenerate, NonPositiveVolatilityGivesZeroOrIntrinsic) {
  for (double s : {0.0, -0.0, -1.0, -inf}) {
    for (double x : {0.0, -0.0, -1.0, -inf, nan}) {
      const NormalisedBlack nb = normalised_black(x, s);
      EXPECT_EQ(bits(nb.b), bits(0.0)) << x << " " << s;
      EXPECT_EQ(bits(nb.nu), bits(0.0)) << x << " " << s;
    }
    const NormalisedBlack itm = normalised_black(0.7, s);
    EXPECT_EQ(bits(itm.b), bits(normalised_intrinsic(0.7)));
    EXPECT_EQ(bits(itm.nu), bits(0.0));
  }
}

TEST(NormalisedBlackDegenerate, NaNGivesZeroPriceAndNaNVega) {
  // NaN x with s > 0 (small s takes the small-volatility region, larger the
  // erfcx form), NaN s with x <= 0.
  for (const auto& [x, s] :
       {std::pair{nan, 1e-3}, {nan, 1.0}, {nan, 10.0}, {-1.0, nan}, {0.0, nan}, {-inf, nan}}) {
    const NormalisedBlack nb = normalised_black(x, s);
    EXPECT_EQ(bits(nb.b), bits(0.0)) << x << " " << s;
    EXPECT_TRUE(std::isnan(nb.nu)) << x << " " << s;
  }
}

TEST(NormalisedBlackDegenerate, InfiniteArguments) {
  for (double s : {1e-3, 0.3, 1.0, 50.0}) {
    const NormalisedBlack far_otm = normalised_black(-inf, s);
    EXPECT_EQ(bits(far_otm.b), bits(0.0));
    EXPECT_EQ(bits(far_otm.nu), bits(0.0));
    const NormalisedBlack far_itm = normalised_black(inf, s);
    EXPECT_EQ(bits(far_itm.b), bits(inf));
    EXPECT_EQ(bits(far_itm.nu), bits(0.0));
  }
  // Infinite volatility: 0*inf in the erfcx form, clamped to +0 (not the
  // upper bound exp(x/2)).
  for (double x : {0.0, -0.5, -30.0}) {
    const NormalisedBlack nb = normalised_black(x, inf);
    EXPECT_EQ(bits(nb.b), bits(0.0)) << x;
    EXPECT_EQ(bits(nb.nu), bits(0.0)) << x;
  }
  // Largest |x| with s*t overflowing: the Phi form's vega guard gives 0.
  const NormalisedBlack huge = normalised_black(-std::numeric_limits<double>::max(), 0x1.8p512);
  EXPECT_EQ(bits(huge.b), bits(0.0));
  EXPECT_EQ(bits(huge.nu), bits(0.0));
}

TEST(NormalisedBlackDegenerate, TinyVolatilityUnderflowsGracefullyToZero) {
  for (double x : {-1e-6, -1e-3, -0.5, -40.0}) {
    double previous = normalised_black(x, 1.0).b;
    for (double s = 1.0; s > 1e-300; s *= 0.5) {
      const double b = normalised_black(x, s).b;
      EXPECT_TRUE(positive_or_plus_zero(b)) << x << " " << s;
      EXPECT_LE(b, previous) << x << " " << s;  // b increases with s
      previous = b;
    }
    EXPECT_EQ(bits(previous), bits(0.0)) << x;
  }
}

TEST(NormalisedBlackDegenerate, PriceNeverNegativeNeverMinusZeroVegaNeverNegative) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> log_x(-12.0, 3.0), log_s(-12.0, 3.0);
  for (int i = 0; i < 20000; ++i) {
    const double x = -std::pow(10.0, log_x(rng)), s = std::pow(10.0, log_s(rng));
    for (double xx : {x, -x}) {
      const NormalisedBlack nb = normalised_black(xx, s);
      ASSERT_TRUE(positive_or_plus_zero(nb.b)) << std::hexfloat << xx << " " << s;
      ASSERT_GE(nb.nu, 0.0) << std::hexfloat << xx << " " << s;
    }
  }
}

TEST(NormalisedBlackParity, InTheMoneyIsOutOfTheMoneyPlusIntrinsic) {
  for (double x : {1e-9, 0.01, 0.5, 3.0, 40.0}) {
    for (double s : {1e-3, 0.3, 1.0, 3.0}) {
      const NormalisedBlack otm = normalised_black(-x, s), itm = normalised_black(x, s);
      EXPECT_EQ(bits(itm.b), bits(otm.b + normalised_intrinsic(x)));
      EXPECT_EQ(bits(itm.nu), bits(otm.nu));
    }
  }
}

TEST(NormalisedIntrinsic, TwiceSinhOfHalfXOnBothSidesOfTheSeriesSwitch) {
  // x*x < 98*2^-13 = 0.109375^2 takes the series. The exp form suffers the
  // cancellation of e - 1/e, about 2/|x| ulps near the switch.
  const double edge = 0.109375;
  for (double x :
       {next_down(edge), edge, next_up(edge), 1e-300, 1e-8, 0.05, 0.3, 2.0, 30.0, 700.0}) {
    for (double v : {x, -x}) {
      const double want = 2.0 * std::sinh(v * 0.5);
      EXPECT_LE(static_cast<double>(ulp_distance(normalised_intrinsic(v), want)),
                2.0 + 2.0 / std::fabs(v))
          << std::hexfloat << v;
    }
  }
  // The series is odd and keeps the sign of zero.
  EXPECT_EQ(bits(normalised_intrinsic(-0.05)), bits(-normalised_intrinsic(0.05)));
  EXPECT_EQ(bits(normalised_intrinsic(0.0)), bits(0.0));
  EXPECT_EQ(bits(normalised_intrinsic(-0.0)), bits(-0.0));
  EXPECT_EQ(bits(normalised_intrinsic(inf)), bits(inf));
  EXPECT_EQ(bits(normalised_intrinsic(-inf)), bits(-inf));
  EXPECT_TRUE(std::isnan(normalised_intrinsic(nan)));
}

}  // namespace

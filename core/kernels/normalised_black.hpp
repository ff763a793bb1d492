// The normalised Black function
//   b(x, s) = Phi(x/s + s/2)*exp(x/2) - Phi(x/s - s/2)*exp(-x/2),
// the undiscounted Black call price divided by sqrt(F*K), as a function of
// the log-moneyness x = ln(F/K) and the total volatility s = sigma*sqrt(t),
// together with the normalised vega nu = db/ds
//   = exp(-(x*x/(s*s) + s*s/4)/2)/sqrt(2*pi).
// Every price, the Black-76 rho and the implied volatility go through it.
#pragma once

#include <cmath>

#include "kernels/normal.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"

namespace karvex {

struct NormalisedBlack {
  double b;
  double nu;
};

namespace detail {

namespace black_constants {
inline constexpr double eta = -10.0;  // 0xc024000000000000; asymptotic region: h < eta
// small-volatility region: t < tau
inline constexpr double tau = 0x1.ae990c6285c66p-3;  // 0.2102528541151713
// asymptotic region, second test: h + t < eta + tau
inline constexpr double eta_plus_tau = -0x1.39459bce75e8ep+3;   // -9.789747145884828
inline constexpr double phi_form_bound = 0x1.b333333333333p-1;  // 0.85: Phi form when h + t > 0.85
// normalised intrinsic: series below x*x < 98*2^-13, exp form above
inline constexpr double intrinsic_series_bound = 0x1.88p-7;  // 0.011962890625 = 98*2^-13
// Phi-form vega: 0 when s <= |x|*2^-511 (sqrt of the smallest normal)
inline constexpr double vega_guard = 0x1p-511;                         // 1.4916681462400413e-154
inline constexpr double sqrt_pi_over_2 = 0x1.40d931ff62706p+0;         // 1.2533141373155003
inline constexpr double minus_one_over_sqrt2 = -0x1.6a09e667f3bcdp-1;  // -0.7071067811865476
inline constexpr double factorial_13 = 6227020800.0;                   // 13!, 0x41f7328cc0000000
}  // namespace black_constants

// The pieces every region shares, templates over the lane type as those of the
// normal functions: t = s/2, h = x/s, and the exponent of the vega factor,
// (h*h + t*t)*(-0.5) (the vega is pdf_from_exp of its exponential).
template <class V>
inline V black_t(V s) noexcept {
  return s * 0.5;
}

template <class V>
inline V black_h(V x, V s) noexcept {
  return x / s;
}

template <class V>
inline V black_vega_exponent(V h, V t) noexcept {
  return (h * h + t * t) * (-0.5);
}

// The region tests for x <= 0 and s > 0, one classifier for the choice
// (each mask is its test alone; the first that holds, in this order, picks
// the region, the erfcx form when none does):
//   1. asymptotic expansion  x < -10*s and x + s*t < (-10 + tau)*s,
//   2. small volatility      t < tau,
//   3. Phi form              x + s*t > 0.85*s.
// Ordered comparisons: NaN operands fall through to the erfcx form.
template <class L>
struct BlackRegionTests {
  typename L::D x, s, t;
  typename L::I asymptotic() const noexcept {
    using namespace black_constants;
    return (x < s * eta) & (x + s * t < s * eta_plus_tau);
  }
  typename L::I small_volatility() const noexcept { return t < black_constants::tau; }
  typename L::I phi_form() const noexcept {
    return x + s * t > s * black_constants::phi_form_bound;
  }
};

template <class L>
inline BlackRegionTests<L> black_region_tests(typename L::D x, typename L::D s,
                                              typename L::D t) noexcept {
  return {x, s, t};
}

// max(v, +0.0) as IEEE maxNum with +0.0: NaN, -0.0 and negatives give +0.0.
inline double max0(double v) noexcept {
  return v > 0.0 ? v : 0.0;
}

// Region 1: Jaeckel's 17-term asymptotic expansion of (r/t)*[Y(h+t) - Y(h-t)],
// Y = Phi/phi, for h < -10 and h + t < -10 + tau. One exponential. Far out of
// the money b underflows gradually to +0; max0 keeps it from -0.0 and NaN.
// asymptotic_series(e, q) is the sum A below, a template over the lane type
// shared with the block loops.
template <class V>
inline V asymptotic_series(V e, V q) noexcept {
  // P_k(e) = (-1)^k * 2 * sum_{j=0..k} C(2k+1, 2j+1) * e^j, Horner in e.
  // clang-format off
  const V P1 = -(6.0 + (e + e));
  const V P2 = (10.0 + e * (20.0 + (e + e)));
  const V P3 = -(14.0 + e * (70.0 + e * (42.0 + (e + e))));
  const V P4 = (18.0 + e * (168.0 + e * (252.0 + e * (72.0 + (e + e)))));
  const V P5 = -(22.0 + e * (330.0 + e * (924.0 + e * (660.0 + e * (110.0 + (e + e))))));
  const V P6 = (26.0 + e * (572.0 + e * (2574.0 + e * (3432.0 + e * (1430.0 + e * (156.0 + (e + e)))))));
  const V P7 = -(30.0 + e * (910.0 + e * (6006.0 + e * (12870.0 + e * (10010.0 + e * (2730.0 + e * (210.0 + (e + e))))))));
  const V P8 = (34.0 + e * (1360.0 + e * (12376.0 + e * (38896.0 + e * (48620.0 + e * (24752.0 + e * (4760.0 + e * (272.0 + (e + e)))))))));
  const V P9 = -(38.0 + e * (1938.0 + e * (23256.0 + e * (100776.0 + e * (184756.0 + e * (151164.0 + e * (54264.0 + e * (7752.0 + e * (342.0 + (e + e))))))))));
  const V P10 = (42.0 + e * (2660.0 + e * (40698.0 + e * (232560.0 + e * (587860.0 + e * (705432.0 + e * (406980.0 + e * (108528.0 + e * (11970.0 + e * (420.0 + (e + e)))))))))));
  const V P11 = -(46.0 + e * (3542.0 + e * (67298.0 + e * (490314.0 + e * (1634380.0 + e * (2704156.0 + e * (2288132.0 + e * (980628.0 + e * (201894.0 + e * (17710.0 + e * (506.0 + (e + e))))))))))));
  const V P12 = (50.0 + e * (4600.0 + e * (106260.0 + e * (961400.0 + e * (4085950.0 + e * (8914800.0 + e * (10400600.0 + e * (6537520.0 + e * (2163150.0 + e * (354200.0 + e * (25300.0 + e * (600.0 + (e + e)))))))))))));
  const V P13 = -(54.0 + e * (5850.0 + e * (161460.0 + e * (1776060.0 + e * (9373650.0 + e * (26075790.0 + e * (40116600.0 + e * (34767720.0 + e * (16872570.0 + e * (4440150.0 + e * (592020.0 + e * (35100.0 + e * (702.0 + (e + e))))))))))))));
  const V P14 = (58.0 + e * (7308.0 + e * (237510.0 + e * (3121560.0 + e * (20030010.0 + e * (69194580.0 + e * (135727830.0 + e * (155117520.0 + e * (103791870.0 + e * (40060020.0 + e * (8584290.0 + e * (950040.0 + e * (47502.0 + e * (812.0 + (e + e)))))))))))))));
  const V P15 = -(62.0 + e * (8990.0 + e * (339822.0 + e * (5259150.0 + e * (40320150.0 + e * (169344630.0 + e * (412506150.0 + e * (601080390.0 + e * (530365050.0 + e * (282241050.0 + e * (88704330.0 + e * (15777450.0 + e * (1472562.0 + e * (62930.0 + e * (930.0 + (e + e))))))))))))))));
  const V P16 = (66.0 + e * (10912.0 + e * (474672.0 + e * (8544096.0 + e * (77134200.0 + e * (387073440.0 + e * (1146332880.0 + e * (2074316640.0 + e * (2333606220.0 + e * (1637618400.0 + e * (709634640.0 + e * (185122080.0 + e * (27768312.0 + e * (2215136.0 + e * (81840.0 + e * (1056.0 + (e + e)))))))))))))))));
  const V P17 = -(70.0 + e * (13090.0 + e * (649264.0 + e * (13449040.0 + e * (141214920.0 + e * (834451800.0 + e * (2952675600.0 + e * (6495886320.0 + e * (9075135300.0 + e * (8119857900.0 + e * (4639918800.0 + e * (1668903600.0 + e * (367158792.0 + e * (47071640.0 + e * (3246320.0 + e * (104720.0 + e * (1190.0 + (e + e))))))))))))))))));
  // A = 2 + q*(P1 + 3q*(P2 + 5q*(P3 + ... + 31q*(P16 + 33q*P17)))); each
  // (2k-1)q is the product q*(2k-1), the innermost term is q*(33*P17).
  return 2.0 + q * (P1 + (q * 3.0) * (P2 + (q * 5.0) * (P3 + (q * 7.0) * (P4 + (q * 9.0) * (P5 + (q * 11.0) * (P6 + (q * 13.0) * (P7 + (q * 15.0) * (P8 + (q * 17.0) * (P9 + (q * 19.0) * (P10 + (q * 21.0) * (P11 + (q * 23.0) * (P12 + (q * 25.0) * (P13 + (q * 27.0) * (P14 + (q * 29.0) * (P15 + (q * 31.0) * (P16 + q * (33.0 * P17)))))))))))))))));
  // clang-format on
}

// b in region 1 from h = x/s, t = s/2 and the vega nu:
//   e = (t/h)^2, r = (h + t)*(h - t), q = (h/r)^2, b = ((t/r)*nu)*A(e, q).
template <class L>
inline typename L::D black_asymptotic_b(typename L::D h, typename L::D t,
                                        typename L::D nu) noexcept {
  using D = typename L::D;
  const D e = (t / h) * (t / h);
  const D r = (h + t) * (h - t);
  const D q = (h / r) * (h / r);
  const D A = asymptotic_series(e, q);
  return L::max0(((t / r) * nu) * A);
}

inline NormalisedBlack black_asymptotic(double x, double s, double t) noexcept {
  const double h = black_h(x, s);
  const double nu = pdf_from_exp(platform::exp(black_vega_exponent(h, t)));
  return {black_asymptotic_b<OneLane>(h, t, nu), nu};
}

// Region 2: Jaeckel's expansion in powers of w = t*t for t < tau, with
// a = 1 + h*Phi(h)/phi(h) from erfcx. One exponential and one erfcx.
// Accuracy: a, about 1/h^2, is formed by cancellation, so it magnifies the
// error of erfcx's exponential (about h^2/2 ulps, from the rounding of its
// squared argument) by about h^2: up to about h^4/2 ulps as h nears -10, a
// few ulps near the money.
//
// small_volatility_series(a, g, w) is the series E in w = t*t with g = h*h, a
// template over the lane type shared with the block loops.
template <class V>
inline V small_volatility_series(V a, V g, V w) noexcept {
  using black_constants::factorial_13;
  const V a105 = 105.0 * a;
  const V a135135 = 135135.0 * a;
  const V T1 = (g * a + (3.0 * a - 1.0)) / 6.0;
  const V T2 = ((15.0 * a - 7.0) + g * (g * a + (10.0 * a - 1.0))) / 120.0;
  const V T3 = ((a105 - 57.0) + g * ((a105 - 18.0) + g * (g * a + (21.0 * a - 1.0)))) / 5040.0;
  const V T4 =
      ((945.0 * a - 561.0) +
       g * ((1260.0 * a - 285.0) + g * ((378.0 * a - 33.0) + g * (g * a + (36.0 * a - 1.0))))) /
      362880.0;
  const V T5 = ((10395.0 * a - 6555.0) +
                g * ((17325.0 * a - 4680.0) +
                     g * ((6930.0 * a - 840.0) +
                          g * ((990.0 * a - 52.0) + g * (g * a + (55.0 * a - 1.0)))))) /
               39916800.0;
  const V N6 = (a135135 - 89055.0) +
               g * ((270270.0 * a - 82845.0) +
                    g * ((a135135 - 20370.0) +
                         g * ((25740.0 * a - 1926.0) +
                              g * ((2145.0 * a - 75.0) + g * (g * a + (78.0 * a - 1.0))))));
  return a + w * (T1 + w * (T2 + w * (T3 + w * (T4 + w * (T5 + (w * N6) / factorial_13)))));
}

// The argument of region 2's erfcx, h*(-1/sqrt(2)), and b from h, t, the
// value X of erfcx there and the vega nu: a = (h*sqrt(pi/2))*X + 1,
// b = nu*((t + t)*E(a, h*h, t*t)).
template <class V>
inline V black_small_volatility_argument(V h) noexcept {
  return h * black_constants::minus_one_over_sqrt2;
}

template <class L>
inline typename L::D black_small_volatility_b(typename L::D h, typename L::D t, typename L::D X,
                                              typename L::D nu) noexcept {
  using D = typename L::D;
  const D a = (h * black_constants::sqrt_pi_over_2) * X + 1.0;
  const D w = t * t;
  const D g = h * h;
  const D E = small_volatility_series(a, g, w);
  return L::max0(nu * ((t + t) * E));
}

inline NormalisedBlack black_small_volatility(double x, double s, double t) noexcept {
  const double h = black_h(x, s);
  const double X = erfcx(black_small_volatility_argument(h));
  const double nu = pdf_from_exp(platform::exp(black_vega_exponent(h, t)));
  return {black_small_volatility_b<OneLane>(h, t, X, nu), nu};
}

// Region 3: the Phi form, for h + t > 0.85. Two cdf and two exponentials.
// The vega takes its closed form exp(-s*s/8)/sqrt(2*pi) at the money (x = 0)
// and is 0 once x/s would overflow in h*h.
// Only the scalar function evaluates this region: the block loops leave its
// lanes (and their two cdf) to it.
inline NormalisedBlack black_phi_form(double x, double s, double t) noexcept {
  const double h = black_h(x, s);
  const double z1 = h + t;
  const double z2 = h - t;
  const double Phi1 = cdf(z1);
  const double Phi2 = cdf(z2);
  const double e = platform::exp(x * 0.5);
  const double b = max0(e * Phi1 - Phi2 / e);
  double nu;
  if (x == 0.0) {
    nu = pdf_from_exp(platform::exp(s * (s * (-0.125))));
  } else if (s <= std::fabs(x) * black_constants::vega_guard) {
    // x/s overflows in h*h: the vega has long underflowed.
    nu = 0.0;
  } else {
    nu = pdf_from_exp(platform::exp(std::fma(h, h, t * t) * (-0.5)));
  }
  return {b, nu};
}

// Region 4: the erfcx form for every other case (h + t <= 0.85, so both
// erfcx arguments are at least -0.6011 and nothing overflows). One
// exponential and two erfcx.
// The arguments of region 4's two erfcx, (h + t)*(-1/sqrt(2)) and
// (h - t)*(-1/sqrt(2)), and b from the vega factor E = exp((h*h + t*t)*(-0.5))
// and their values X1, X2: b = (E*0.5)*(X1 - X2).
template <class V>
inline void black_erfcx_arguments(V h, V t, V& a1, V& a2) noexcept {
  using black_constants::minus_one_over_sqrt2;
  a1 = (h + t) * minus_one_over_sqrt2;
  a2 = (h - t) * minus_one_over_sqrt2;
}

template <class L>
inline typename L::D black_erfcx_form_b(typename L::D E, typename L::D X1,
                                        typename L::D X2) noexcept {
  return L::max0((E * 0.5) * (X1 - X2));
}

inline NormalisedBlack black_erfcx_form(double x, double s, double t) noexcept {
  const double h = black_h(x, s);
  double a1;
  double a2;
  black_erfcx_arguments(h, t, a1, a2);
  const double X1 = erfcx(a1);
  const double X2 = erfcx(a2);
  const double E = platform::exp(black_vega_exponent(h, t));
  return {black_erfcx_form_b<OneLane>(E, X1, X2), pdf_from_exp(E)};
}

}  // namespace detail

// normalised_intrinsic(x) = 2*sinh(x/2) = exp(x/2) - exp(-x/2), the
// normalised intrinsic value of a call, before any max with 0.
//
// Method: for x*x < 98*2^-13 the series
//   x*(1 + x^2*(1/24 + x^2*(1/1920 + x^2*(1/322560 + x^2/92897280)))),
// Horner in x^2 with one fused multiply-add per step (no cancellation near
// 0); otherwise e + (-1/e) with e = exp(x*0.5).
//
// Special cases: +-0 -> +-0, +-inf -> +-inf, NaN -> NaN.
inline double normalised_intrinsic(double x) noexcept {
  constexpr double c1 = 0x1.5555555555555p-5;   // 1/24 = 0.041666666666666664
  constexpr double c2 = 0x1.1111111111111p-11;  // 1/1920 = 0.0005208333333333333
  constexpr double c3 = 0x1.a01a01a01a01ap-19;  // 1/322560 = 3.1001984126984127e-06
  constexpr double c4 = 0x1.71de3a556c734p-27;  // 1/92897280 = 1.076457782186949e-08
  const double x2 = x * x;
  if (x2 < detail::black_constants::intrinsic_series_bound) {
    return x * std::fma(x2, std::fma(x2, std::fma(x2, std::fma(x2, c4, c3), c2), c1), 1.0);
  }
  const double e = platform::exp(x * 0.5);
  return e + (-1.0 / e);
}

// normalised_black(x, s) -> {b, nu}.
//
// Method (Jaeckel, "Let's Be Rational"): x > 0 is reduced by put-call parity
// to b(-x, s) + max(iota(x), 0); s <= 0 gives (+0, +0); otherwise, with
// t = s/2, the first region whose test holds:
//   1. asymptotic expansion  x < -10*s and x + s*t < (-10 + tau)*s,
//   2. small volatility      t < tau,
//   3. Phi form              x + s*t > 0.85*s,
//   4. erfcx form            everything else (NaN operands included).
// All tests are ordered comparisons: NaN operands fall through.
//
// Accuracy: a few ulps relative where b is well-conditioned; region 1
// underflows gracefully to +0.
//
// Special cases: b is never negative, never -0.0 and never NaN (NaN x with
// s > 0, or NaN s with x <= 0, give b = +0 and nu = NaN); s <= 0 gives
// (+0, +0), or (max(iota(x), 0), +0) for x > 0; x = -inf gives (+0, +0);
// s = +inf with finite x <= 0 gives (+0, +0).
inline NormalisedBlack normalised_black(double x, double s) noexcept {
  using namespace detail::black_constants;
  if (x > 0.0) {
    const NormalisedBlack otm = normalised_black(-x, s);
    return {otm.b + detail::max0(normalised_intrinsic(x)), otm.nu};
  }
  if (s <= 0.0) return {0.0, 0.0};
  const double t = detail::black_t(s);
  const detail::BlackRegionTests<OneLane> region = detail::black_region_tests<OneLane>(x, s, t);
  if (region.asymptotic()) return detail::black_asymptotic(x, s, t);
  if (region.small_volatility()) return detail::black_small_volatility(x, s, t);
  if (region.phi_form()) return detail::black_phi_form(x, s, t);
  return detail::black_erfcx_form(x, s, t);
}

}  // namespace karvex

// The normal (Bachelier) model: European options on a forward F that moves by
// normally distributed increments, so that F and the strike K may be zero or
// negative (rates, spreads). The volatility sigma is absolute (in the units of
// F per square root of a year); the price is discounted with exp(-(r*t)).
//
// With w = F - K, the total volatility s = sqrt(t)*sigma, d = w/s and the
// option's sign theta (+1 for a call, -1 for a put):
//   price  DF*(max(theta*w, 0) + s*h(-|d|)),  DF = exp(-(r*t)),
//          h(x) = pdf(x) + x*cdf(x) the time value per unit of s
//          (= DF*((theta*w)*cdf(theta*d) + s*pdf(d)) in exact arithmetic)
//   delta  dV/dF = DF*cdf(d) for a call, -(DF*cdf(-d)) for a put
//   gamma  d2V/dF2 = (DF*pdf(d))/s
//   vega   dV/dsigma = sqrt(t)*(DF*pdf(d)), per 1.0 of absolute volatility
//   theta  -dV/dt per year, t the time to expiry: r*V - (sigma*(DF*pdf(d)))/(2*sqrt(t))
//   rho    dV/dr with F held fixed: -(t*V)
// These are the conventions of the Black-76 Greeks (greeks.hpp): theta per
// year of elapsed time, rho as -t times the price.
//
// Arithmetic: every operation rounded on its own (no fused multiply-add),
// products left to right with the parentheses shown. Each formula is written
// once, as a piece between the calls to exp, pdf and cdf, a template over the
// lane type; the kernels here are the one-lane schedule of those pieces and
// the block loops (simd/bachelier_block.hpp) the vector one, so both give the
// same bits. pdf and cdf are those of normal.hpp: the same terms, the same
// bits as in the lognormal kernels.
//
// NaN results: every NaN a kernel returns is the one quiet NaN
// 0x7ff8000000000000 (detail::one_nan), whatever path formed it.
#pragma once

#include <cmath>
#include <limits>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/normal.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"

namespace karvex {

namespace bachelier_constants {
inline constexpr double sqrt_2pi = 0x1.40d931ff62706p+1;  // 2.5066282746310007
// Prices within this of the intrinsic value count as at it (the lognormal
// inversion's tolerance, in price units).
inline constexpr double price_tolerance = 0x1.19799812dea11p-40;  // 1e-12
// From this ratio of time value to |F - K| on, s = (tau + |w|/2)*sqrt(2*pi)
// is exact to below half an ulp (its relative error is about 0.08/beta^2).
inline constexpr double near_money_ratio = 0x1p+27;
// The inversion's initial guess: the rational form in g = 1/(phi - 1/2) above
// this value of phi = -beta, the one in h = sqrt(-ln(-phi)) below it.
inline constexpr double guess_switch = -0x1.ed5d8479950f6p-10;  // -0.001882039271
// Below this x the density is near underflow: the guess is kept unrefined.
inline constexpr double refine_floor = -38.0;
}  // namespace bachelier_constants

// The rational coefficients of the initial guess (Jaeckel 2017).
namespace bachelier_guess_coefficients {
inline constexpr double a0 = 0x1.0714b85fe19ebp-5;   // 0.032114372355
inline constexpr double a1 = 0x1.1608685b9f450p-6;   // 0.016969777977
inline constexpr double a2 = 0x1.5781372ac5adcp-9;   // 0.0026207332461
inline constexpr double a3 = 0x1.92ef1aedcdacap-14;  // 9.6066952861e-05
inline constexpr double b1 = 0x1.53bec0654d713p-1;   // 0.6635646938
inline constexpr double b2 = 0x1.298c4b6ac909ep-3;   // 0.14528712196
inline constexpr double b3 = 0x1.572cadd9b1855p-7;   // 0.010472855461
inline constexpr double c0 = 0x1.2fa07d422c11bp+3;   // 9.4883409779
inline constexpr double c1 = 0x1.343a1591eb2d1p+3;   // 9.6320903635
inline constexpr double c2 = 0x1.2bcfd3d915bb7p-1;   // 0.58556997323
inline constexpr double c3 = 0x1.12bd8a850ab39p+1;   // 2.1464093351
inline constexpr double d1 = 0x1.4db1f0f2edb01p-1;   // 0.65174820867
inline constexpr double d2 = 0x1.83140e60de14bp+0;   // 1.5120247828
inline constexpr double d3 = 0x1.16a9185c8be49p-14;  // 6.6437847132e-05
}  // namespace bachelier_guess_coefficients

// The pieces, templates over the lane type (V the values, M the masks; L the
// lane type where a piece selects).
namespace detail {

// w = F - K, rt = sqrt(t), the total volatility s = rt*sigma and d = w/s.
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_root_time(typename L::D t) noexcept {
  return L::sqrt(t);
}
template <class V>
[[gnu::always_inline]] inline V bachelier_moneyness(V f, V k) noexcept {
  return f - k;
}
template <class V>
[[gnu::always_inline]] inline V bachelier_total_volatility(V rt, V sigma) noexcept {
  return rt * sigma;
}
template <class V>
[[gnu::always_inline]] inline V bachelier_d(V w, V s) noexcept {
  return w / s;
}

// True where d is infinite: w infinite, or s so small that w/s overflows.
// The price is then its discounted intrinsic value.
template <class L>
[[gnu::always_inline]] inline typename L::I bachelier_d_infinite(typename L::D d) noexcept {
  return L::fabs(d) == std::numeric_limits<double>::infinity();
}

// The intrinsic value max(theta*w, 0), as max0 forms it (a NaN gives +0).
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_intrinsic(typename L::I is_put,
                                                                typename L::D w) noexcept {
  return L::max0(side(is_put, w));
}

// The price of a settled option from its intrinsic value: undiscounted when
// expired, else DF*intrinsic.
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_settled_price(
    typename L::I expired, typename L::D DF, typename L::D intrinsic) noexcept {
  return L::select(expired, intrinsic, DF * intrinsic);
}

// The time value per unit of total volatility, h(x) = pdf(x) + x*cdf(x) at
// x = -|d| <= 0, written so that it keeps its relative accuracy where the two
// terms cancel (x*cdf(x) -> -pdf(x) as x -> -inf).
//
// Method: with a = x*(-1/sqrt(2)) (cdf's argument, a >= 0): below a = 1.25
// the direct form p + x*n, p = pdf(x), n = cdf(x) (the terms cancel by at most
// a factor of five there). From 1.25 on, with e = exp(x*(x*(-0.5))) (pdf's
// exponential) and cdf(x) = 0.5*e*erfcx(a),
//   h(x) = e*(1/sqrt(2*pi) + x*(0.5*E)),  E = exp(R/S - 0.5625)/a,
// where R/S is the ratio of erfc's tail (erfc_tail_ratio: the ra/sa set below
// 1/0.35, the rb/sb set above): erfc(a) = exp(-a*a - 0.5625 + R/S)/a, so E is
// erfcx(a) = exp(a*a)*erfc(a) without the two exponentials of +-a*a, whose
// roundings (about a*a/2 ulps each) the cancellation would magnify by x*x.
// The factor e is pdf's, so the time value and the density share its
// rounding.
//
// Accuracy: a few ulps times the cancellation factor, about x*x; the price
// and the inversion are conditioned by that same factor, so that the
// inversion returns the volatility to a few ulps.
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_otm_x(typename L::D d) noexcept {
  return -L::fabs(d);
}
// The direct form, below a = 1.25 (range.near() on a's high word).
template <class V>
[[gnu::always_inline]] inline V bachelier_time_value_direct(V x, V p, V n) noexcept {
  return p + x * n;
}
// The exponent R/S - 0.5625 of E, and E from its exponential.
template <class V>
[[gnu::always_inline]] inline V bachelier_erfcx_exponent(V ratio) noexcept {
  return ratio - 0.5625;
}
template <class V>
[[gnu::always_inline]] inline V bachelier_erfcx(V exp_exponent, V a) noexcept {
  return exp_exponent / a;
}
// The scaled form from 1.25 on: e*(1/sqrt(2*pi) + x*(0.5*E)).
template <class V>
[[gnu::always_inline]] inline V bachelier_time_value_scaled(V x, V e, V E) noexcept {
  return e * (normal_constants::one_over_sqrt2pi + x * (0.5 * E));
}

// The price from the intrinsic value iota = max(theta*w, 0) and the time
// value h = h(-|d|): DF*(iota + s*h).
template <class V>
[[gnu::always_inline]] inline V bachelier_price_from_terms(V iota, V s, V DF, V h) noexcept {
  return DF * (iota + s * h);
}

// The Greeks from their terms; delta is delta_from_terms(is_put, DF, n) of
// the lognormal kernels, and P below is the price.
//   gamma  (DF*p)/s
//   vega   rt*(DF*p)
//   theta  r*P - (sigma*(DF*p))/(rt + rt)
//   rho    -(t*P)
template <class V>
[[gnu::always_inline]] inline V bachelier_gamma_from_terms(V s, V DF, V p) noexcept {
  return one_nan((DF * p) / s);
}
template <class V>
[[gnu::always_inline]] inline V bachelier_vega_from_terms(V rt, V DF, V p) noexcept {
  return one_nan(rt * (DF * p));
}
template <class V>
[[gnu::always_inline]] inline V bachelier_theta_from_terms(V r, V sigma, V rt, V DF, V p,
                                                           V P) noexcept {
  return one_nan(r * P - (sigma * (DF * p)) / (rt + rt));
}
template <class V>
[[gnu::always_inline]] inline V bachelier_rho_from_price(V t, V P) noexcept {
  return one_nan(-(t * P));
}

// The delta of a degenerate option (t <= 0 or sigma <= 0): a step on w,
// e = DF for t > 0 and 1 for an expired option (e comes in); call: e if w > 0
// else 0.0, put: -e if w < 0 else 0.0.
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_delta_step(typename L::I is_put,
                                                                 typename L::D w,
                                                                 typename L::D e) noexcept {
  return L::select(side(is_put, w) > 0.0, one_nan(L::select(is_put, -e, e)), L::splat(0.0));
}

// The inversion's reduced problem: from the undiscounted time value tau > 0
// and a = |w|, beta = tau/a; near the money (beta from 2^27 on, a = 0
// included) the total volatility directly, (tau + a*0.5)*sqrt(2*pi).
template <class V>
[[gnu::always_inline]] inline V bachelier_beta(V tau, V a) noexcept {
  return tau / a;
}
template <class L>
[[gnu::always_inline]] inline typename L::I bachelier_near_money(typename L::D beta) noexcept {
  return beta >= bachelier_constants::near_money_ratio;
}
template <class V>
[[gnu::always_inline]] inline V bachelier_near_money_s(V tau, V a) noexcept {
  return (tau + a * 0.5) * bachelier_constants::sqrt_2pi;
}

// The initial guess of x = -a/s < 0, the root of Phi~(x) = phi with
// Phi~(x) = cdf(x) + pdf(x)/x and phi = -beta (the time value is -a*Phi~(x)).
// Near the money (phi < -0.001882039271), with g = 1/(phi - 0.5), g2 = g*g:
//   xi = (a0 - g2*(a1 - g2*(a2 - a3*g2))) / (1 - g2*(b1 - g2*(b2 - b3*g2))),
//   x = g*(1/sqrt(2*pi) + xi*g2);
// in the tail, with h = sqrt(-ln(-phi)) (the caller's call ln(beta), -phi = beta):
//   x = (c0 - h*(c1 - h*(c2 + c3*h))) / (1 - h*(d1 + h*(d2 + d3*h))).
// Relative accuracy about 3e-4 (measured against mpmath on phi from -1e300 to
// -1e-300); one Householder step of order four then leaves below 1e-17.
template <class L>
[[gnu::always_inline]] inline typename L::I bachelier_guess_near(typename L::D phi) noexcept {
  return phi < bachelier_constants::guess_switch;
}
template <class V>
[[gnu::always_inline]] inline V bachelier_guess_near_x(V phi) noexcept {
  using namespace bachelier_guess_coefficients;
  const V g = 1.0 / (phi - 0.5);
  const V g2 = g * g;
  const V xi = (a0 - g2 * (a1 - g2 * (a2 - a3 * g2))) / (1.0 - g2 * (b1 - g2 * (b2 - b3 * g2)));
  return g * (normal_constants::one_over_sqrt2pi + xi * g2);
}
// phi = -beta, the root's target value.
template <class V>
[[gnu::always_inline]] inline V bachelier_phi(V beta) noexcept {
  return -beta;
}
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_guess_tail_x(
    typename L::D log_minus_phi) noexcept {
  using D = typename L::D;
  using namespace bachelier_guess_coefficients;
  const D h = L::sqrt(-log_minus_phi);
  return (c0 - h * (c1 - h * (c2 + c3 * h))) / (1.0 - h * (d1 + h * (d2 + d3 * h)));
}

// Whether the guess x is refined: x >= -38, where pdf(x) and Phi~(x) are
// still normal numbers (a NaN x is not).
template <class L>
[[gnu::always_inline]] inline typename L::I bachelier_refined(typename L::D x) noexcept {
  return x >= bachelier_constants::refine_floor;
}

// One Householder step of order four on f(x) = Phi~(x) - phi from x, with
// p = pdf(x) and the time value h = h(x), Phi~(x) = h/x: f' = -p/x^2,
// f''/f' = -(x^2 + 2)/x, f'''/f' = (x^4 + 3x^2 + 6)/x^2, so that with
// q = (h/x - phi)/p,
//   x + ((3*q)*x2)*(2 - (q*x)*(2 + x2))
//       / (6 + (q*x)*(-12 + x*((6*q) + x*(-6 + (q*x)*(3 + x2))))),  x2 = x*x.
template <class V>
[[gnu::always_inline]] inline V bachelier_householder(V x, V phi, V p, V h) noexcept {
  const V q = (h / x - phi) / p;
  const V x2 = x * x;
  const V qx = q * x;
  const V num = ((3.0 * q) * x2) * (2.0 - qx * (2.0 + x2));
  const V den = 6.0 + qx * (-12.0 + x * ((6.0 * q) + x * (-6.0 + qx * (3.0 + x2))));
  return x + num / den;
}

// The total volatility from the root x: s = a/(-x).
template <class V>
[[gnu::always_inline]] inline V bachelier_s_from_x(V a, V x) noexcept {
  return a / (-x);
}

// The volatility s/sqrt(t), or NaN where s is not finite (NaN, +inf).
template <class L>
[[gnu::always_inline]] inline typename L::D bachelier_iv_from_s(typename L::D s,
                                                                typename L::D rt) noexcept {
  const typename L::D sigma = s / rt;
  return L::select(L::finite(sigma), sigma, L::splat(std::numeric_limits<double>::quiet_NaN()));
}

// The greeks_degenerate test (t <= 0, then sigma <= 0) is the lognormal one.

}  // namespace detail

namespace detail {

// h(x) and pdf(x) at x <= 0 (see bachelier_otm_x ... bachelier_time_value_scaled).
struct BachelierTimeValue {
  double h;
  double p;
};
inline BachelierTimeValue bachelier_time_value(double x) noexcept {
  using L = OneLane;
  const double a = cdf_argument<L>(true, x);
  const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(a));
  if (range.near()) {
    const double p = pdf(x);
    return {bachelier_time_value_direct(x, p, cdf(x)), p};
  }
  const double ratio = range.band_a() ? erfc_tail_ratio<L>(a, false, true, false)
                                      : erfc_tail_ratio<L>(a, false, false, true);
  const double E = bachelier_erfcx(platform::exp(bachelier_erfcx_exponent(ratio)), a);
  const double e = platform::exp(pdf_exponent(x));
  return {bachelier_time_value_scaled(x, e, E), pdf_from_exp(e)};
}

// The delta of a degenerate option: the step on w with e = DF for t > 0 and
// 1 for an expired option.
inline double bachelier_degenerate_delta(bool is_put, double w, double t, double r) noexcept {
  const double e = t > 0.0 ? discount_factor(discount_exponent(r, t)) : 1.0;
  return bachelier_delta_step<OneLane>(is_put, w, e);
}

}  // namespace detail

// bachelier_price_kernel(is_put, f, k, t, r, sigma): the normal-model price.
//
// Method: DF*(max(theta*w, 0) + s*h(-|d|)) with w = f - k,
// s = sqrt(t)*sigma, d = w/s, DF = exp(-(r*t)) (exactly 1 without a call for
// r*t = +-0) and h the time value per unit of s (bachelier_time_value): the
// out-of-the-money option's value plus the intrinsic value, so that call and
// put share h and put-call parity holds up to the last two roundings.
//
// Accuracy: a few ulps times the price's condition (its relative sensitivity
// to w and sigma, about d^2 far out of the money).
//
// Degenerate inputs, in this order (ordered comparisons, NaN falls through):
//   t <= 0: the undiscounted intrinsic value max(theta*w, 0);
//   sigma <= 0, or d infinite: DF*max(theta*w, 0);
// a NaN inside the intrinsic value gives +0 there (as the lognormal price);
// elsewhere NaN inputs give NaN. sigma = +inf gives +inf.
inline double bachelier_price_kernel(bool is_put, double f, double k, double t, double r,
                                     double sigma) noexcept {
  using L = OneLane;
  using namespace detail;
  const double w = bachelier_moneyness(f, k);
  const double iota = bachelier_intrinsic<L>(is_put, w);
  if (t <= 0.0) return bachelier_settled_price<L>(true, 1.0, iota);
  const double DF = discount_factor(discount_exponent(r, t));
  if (sigma <= 0.0) return bachelier_settled_price<L>(false, DF, iota);
  const double s = bachelier_total_volatility(bachelier_root_time<OneLane>(t), sigma);
  const double d = bachelier_d(w, s);
  if (bachelier_d_infinite<L>(d)) return bachelier_settled_price<L>(false, DF, iota);
  return one_nan(
      bachelier_price_from_terms(iota, s, DF, bachelier_time_value(bachelier_otm_x<L>(d)).h));
}

// Delta dV/dF: DF*cdf(d) for a call, -(DF*cdf(-d)) for a put. Degenerate
// inputs (t <= 0, then sigma <= 0) take the step on w: DF (1 when expired)
// for a call in the money, minus that for a put in the money, else +0.0.
inline double bachelier_delta_kernel(bool is_put, double f, double k, double t, double r,
                                     double sigma) noexcept {
  using namespace detail;
  const double w = bachelier_moneyness(f, k);
  if (greeks_degenerate(t, sigma)) return bachelier_degenerate_delta(is_put, w, t, r);
  const double DF = discount_factor(discount_exponent(r, t));
  const double d =
      bachelier_d(w, bachelier_total_volatility(bachelier_root_time<OneLane>(t), sigma));
  return delta_from_terms(is_put, DF, cdf(side(is_put, d)));
}

// Gamma d2V/dF2 = (DF*pdf(d))/s; +0.0 when degenerate.
inline double bachelier_gamma_kernel(double f, double k, double t, double r,
                                     double sigma) noexcept {
  using namespace detail;
  if (greeks_degenerate(t, sigma)) return 0.0;
  const double DF = discount_factor(discount_exponent(r, t));
  const double s = bachelier_total_volatility(bachelier_root_time<OneLane>(t), sigma);
  return bachelier_gamma_from_terms(s, DF, pdf(bachelier_d(bachelier_moneyness(f, k), s)));
}

// Vega dV/dsigma = sqrt(t)*(DF*pdf(d)) per 1.0 of volatility; +0.0 when
// degenerate.
inline double bachelier_vega_kernel(double f, double k, double t, double r, double sigma) noexcept {
  using namespace detail;
  if (greeks_degenerate(t, sigma)) return 0.0;
  const double DF = discount_factor(discount_exponent(r, t));
  const double rt = bachelier_root_time<OneLane>(t);
  const double d = bachelier_d(bachelier_moneyness(f, k), bachelier_total_volatility(rt, sigma));
  return bachelier_vega_from_terms(rt, DF, pdf(d));
}

// Theta, -dV/dt per year: r*V - (sigma*(DF*pdf(d)))/(sqrt(t) + sqrt(t)), V the
// price (bachelier_price_kernel's bits); +0.0 when degenerate.
inline double bachelier_theta_kernel(bool is_put, double f, double k, double t, double r,
                                     double sigma) noexcept {
  using namespace detail;
  if (greeks_degenerate(t, sigma)) return 0.0;
  const double DF = discount_factor(discount_exponent(r, t));
  const double rt = bachelier_root_time<OneLane>(t);
  const double p =
      pdf(bachelier_d(bachelier_moneyness(f, k), bachelier_total_volatility(rt, sigma)));
  return bachelier_theta_from_terms(r, sigma, rt, DF, p,
                                    bachelier_price_kernel(is_put, f, k, t, r, sigma));
}

// Rho dV/dr with the forward held fixed: -(t*V), V the price, for every input
// (no degenerate branch of its own).
inline double bachelier_rho_kernel(bool is_put, double f, double k, double t, double r,
                                   double sigma) noexcept {
  return detail::bachelier_rho_from_price(t, bachelier_price_kernel(is_put, f, k, t, r, sigma));
}

// The five Greeks in one pass: d, DF, pdf(d), cdf(theta*d) and the time value
// once, the price from them, and every field the bits of its own kernel
// (degenerate inputs included).
inline Greeks bachelier_greeks_kernel(bool is_put, double f, double k, double t, double r,
                                      double sigma) noexcept {
  using L = OneLane;
  using namespace detail;
  const double w = bachelier_moneyness(f, k);
  if (greeks_degenerate(t, sigma)) {
    const double P = bachelier_price_kernel(is_put, f, k, t, r, sigma);
    return {bachelier_degenerate_delta(is_put, w, t, r), 0.0, 0.0, 0.0,
            bachelier_rho_from_price(t, P)};
  }
  const double DF = discount_factor(discount_exponent(r, t));
  const double rt = bachelier_root_time<OneLane>(t);
  const double s = bachelier_total_volatility(rt, sigma);
  const double d = bachelier_d(w, s);
  const double n = cdf(side(is_put, d));
  const double iota = bachelier_intrinsic<L>(is_put, w);
  double P;
  double p;
  if (bachelier_d_infinite<L>(d)) {
    P = bachelier_settled_price<L>(false, DF, iota);
    p = pdf(d);
  } else {
    const BachelierTimeValue tv = bachelier_time_value(bachelier_otm_x<L>(d));
    P = one_nan(bachelier_price_from_terms(iota, s, DF, tv.h));
    p = tv.p;
  }
  return {delta_from_terms(is_put, DF, n), bachelier_gamma_from_terms(s, DF, p),
          bachelier_vega_from_terms(rt, DF, p), bachelier_theta_from_terms(r, sigma, rt, DF, p, P),
          bachelier_rho_from_price(t, P)};
}

// The inversion's first part: either the result, when the inputs decide it,
// or the undiscounted time value tau > 0, a = |f - k| and beta = tau/a.
struct BachelierIvProblem {
  bool decided;
  double value;  // the result, when decided
  double tau;
  double a;
  double beta;
};

inline BachelierIvProblem bachelier_iv_reduce(bool is_put, double target_price, double f, double k,
                                              double t, double r) noexcept {
  using L = OneLane;
  using namespace detail;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  const auto decided = [](double value) { return BachelierIvProblem{true, value, 0.0, 0.0, 0.0}; };
  if (!L::finite(f) || !L::finite(k) || !L::finite(t) || !L::finite(r)) return decided(nan);
  if (!(t > 0.0)) return decided(nan);
  if (!L::finite(target_price) || target_price < 0.0) return decided(nan);
  const double DF = discount_factor(discount_exponent(r, t));
  const double w = bachelier_moneyness(f, k);
  const double iota = bachelier_intrinsic<L>(is_put, w);
  const double intrinsic = DF * iota;
  if (!(target_price >= intrinsic - bachelier_constants::price_tolerance)) return decided(nan);
  if (target_price <= intrinsic) return decided(0.0);
  const double tau = target_price / DF - iota;
  if (!(tau > 0.0)) return decided(0.0);
  const double a = L::fabs(w);
  return {false, 0.0, tau, a, bachelier_beta(tau, a)};
}

// bachelier_iv_kernel(is_put, target_price, f, k, t, r): the normal
// volatility sigma with bachelier_price_kernel(...) = target_price.
//
// Method (Jaeckel, "Implied Normal Volatility", 2017): the undiscounted time
// value tau = target/DF - max(theta*w, 0) of the out-of-the-money twin is
// -a*Phi~(x) with a = |w|, x = -a/s and Phi~(x) = cdf(x) + pdf(x)/x, which
// falls from 0 to -inf on x < 0. A rational initial guess of the root of
// Phi~(x) = -tau/a (relative error below 3e-4) and one Householder step of
// order four (relative error below 1e-17 before rounding) give x, then
// s = a/(-x) and sigma = s/sqrt(t). Near the money (tau/a >= 2^27, a = 0
// included) s = (tau + a/2)*sqrt(2*pi) directly: the next term of s is
// below 2^-57 of it. Calls: pdf and cdf once, ln once in the far tail
// (tau/a < 0.00188).
//
// Accuracy: the volatility to a few ulps wherever the time value determines
// it (measured in the tests: round trips and high-precision values); deep in
// the money the time value is the difference of price and intrinsic value
// and carries their rounding. Beyond x = -38 (tau/a below about 1e-300) the
// density is near underflow and the guess is returned unrefined (about 1e-6).
//
// Special cases, in this order:
//   NaN unless f, k, t, r are finite, t > 0 and the target is finite and not
//   negative (-0.0 passes); the model has no upper bound on the price, so +inf
//   is only an invalid input;
//   NaN below the discounted intrinsic value DF*max(theta*w, 0) by more than
//   1e-12; 0.0 at or below it, and where no time value is left after the
//   division by DF;
//   NaN where the volatility is not finite (a time value beyond about 1e307,
//   or one that underflows against |w|).
inline double bachelier_iv_kernel(bool is_put, double target_price, double f, double k, double t,
                                  double r) noexcept {
  using L = OneLane;
  using namespace detail;
  const BachelierIvProblem p = bachelier_iv_reduce(is_put, target_price, f, k, t, r);
  if (p.decided) return p.value;
  double s;
  if (bachelier_near_money<L>(p.beta)) {
    s = bachelier_near_money_s(p.tau, p.a);
  } else {
    const double phi = bachelier_phi(p.beta);
    double x = bachelier_guess_near<L>(phi) ? bachelier_guess_near_x(phi)
                                            : bachelier_guess_tail_x<L>(platform::log(p.beta));
    if (bachelier_refined<L>(x)) {
      const BachelierTimeValue tv = bachelier_time_value(x);
      x = bachelier_householder(x, phi, tv.p, tv.h);
    }
    s = bachelier_s_from_x(p.a, x);
  }
  return bachelier_iv_from_s<L>(s, bachelier_root_time<OneLane>(t));
}

}  // namespace karvex

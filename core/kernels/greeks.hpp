// The five sensitivities of one European option, one kernel per Greek.
//
// One set of kernels serves both models: the Black-76 delta, gamma, vega and
// theta are these kernels called with the forward in the place of the spot and
// the rate in the place of the dividend yield.  Black-76 rho is the exception:
// it is -t times the Black-76 price (black76_rho_kernel).
//
// Units carry no scaling: vega per 1.0 of volatility, theta per year of
// elapsed time (-dV/dt with t the time to expiry), rho per 1.0 of rate.
//
// Accuracy: about 2 ulps times each Greek's condition number (its relative
// sensitivity to the inputs and to the roundings of exp, log and cdf, about
// 10 for a plain option); the Black-76 rho inherits the price's accuracy
// through the normalised Black function, a few times that far out of the
// money.
//
// Arithmetic: every operation is rounded on its own (no fused multiply-add),
// products left to right with the parentheses shown.  Each formula is written
// once, as a piece between the calls (delta_from_terms ... rho_from_terms);
// the single-pass kernels in combined_greeks.hpp and the block loops evaluate
// the same pieces and so reproduce every value here bit for bit.
//
// Degenerate inputs: every kernel but black76_rho_kernel first tests t <= 0,
// then sigma <= 0, both ordered comparisons, so a NaN t or sigma alone is not
// degenerate and flows into the formulas as NaN.  On that path gamma, vega,
// theta and BSM rho are +0.0 and delta is a step on the forward moneyness.
// The log-moneyness is not tested for finiteness: s = 0 or k = 0 flows
// through cdf/pdf as d1 = -inf or +inf, negative s or k gives NaN.
//
// NaN results: every NaN a Greek returns is the one quiet NaN
// 0x7ff8000000000000 (one_nan).  Where two NaN operands meet, the processor
// passes on one of them, and which one follows the operand order the compiler
// picks for a commutative operation, differently in each copy of a formula it
// compiles; the sign of a NaN a Greek returned would then depend on the path.
//
// Discount factors: exp(-(q*t)) and exp(-(r*t)) are formed by discount_factor,
// which takes exp(+-0) as exactly 1 (as C's Annex F requires of exp) without
// calling it, on every path; a book without dividends or without interest
// saves the call.
#pragma once

#include <cmath>
#include <limits>

#include "kernels/normal.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"

namespace karvex {

template <class V>
struct D1D2Of {
  V d1;
  V d2;
};
using D1D2 = D1D2Of<double>;

// The pieces of the Greeks between their calls to sqrt, exp, log, pdf and
// cdf: templates over the lane type V and its mask type M (double and bool for
// the scalar kernels, vectors and lane masks for the block loops, where
// `m ? a : b` selects lane by lane). The scalar kernels below and the block
// loops (simd/greeks_block.hpp) are two schedulers of these.
namespace detail {

// x, or the quiet NaN 0x7ff8000000000000 for any NaN x: the NaN the Greeks
// return. A template over the lane type.
template <class V>
[[gnu::always_inline]] inline V one_nan(V x) noexcept {
  return x == x ? x : V{} + std::numeric_limits<double>::quiet_NaN();
}

// exp(e) for the exponent e = -(q*t) or -(r*t) of a discount factor, and
// exactly 1 without a call for e = +-0.
[[gnu::always_inline]] inline double discount_factor(double e) noexcept {
  return e != 0.0 ? platform::exp(e) : 1.0;
}
// The same where exp(e) = exp_e is formed anyway (for a price, which calls exp
// at +-0 too).
[[gnu::always_inline]] inline double discount_factor(double e, double exp_e) noexcept {
  return e != 0.0 ? exp_e : 1.0;
}

// True (all ones) when the Greeks take their degenerate values: an expired
// (or negative) time, then no volatility. Ordered comparisons: NaN is not
// degenerate by itself.
template <class V>
[[gnu::always_inline]] inline auto greeks_degenerate(V t, V sigma) noexcept {
  return (t <= 0.0) | (sigma <= 0.0);
}

// The arguments of the calls before d1: s/k for the log, the exponent
// -(rate*t) of a discount factor.
template <class V>
[[gnu::always_inline]] inline V moneyness_ratio(V s, V k) noexcept {
  return s / k;
}
template <class V>
[[gnu::always_inline]] inline V discount_exponent(V rate, V t) noexcept {
  return -(rate * t);
}

// rt = sqrt(t), the square root every Greek but delta and rho takes.
template <class L>
[[gnu::always_inline]] inline typename L::D root_time(typename L::D t) noexcept {
  return L::sqrt(t);
}

// d1 and d2 from ln(s/k) and rt = sqrt(t): v = rt*sigma,
// d1 = (ln(s/k) + t*((r - q) + sigma*(sigma*0.5))) / v, d2 = d1 - v.
template <class V>
[[gnu::always_inline]] inline D1D2Of<V> d1_d2_from_terms(V log_sk, V t, V r, V q, V sigma,
                                                         V rt) noexcept {
  const V v = rt * sigma;
  const V d1 = (log_sk + t * ((r - q) + sigma * (sigma * 0.5))) / v;
  return {d1, d1 - v};
}

// The argument of cdf on the option's side: d for a call, -d for a put.
template <class V, class M>
[[gnu::always_inline]] inline V side(M is_put, V d) noexcept {
  return is_put ? -d : d;
}

// The Greeks from their terms: rt = sqrt(t), dq = exp(-(q*t)),
// dr = exp(-(r*t)), p = pdf(d1), and the cdf values of the option's side,
// n1 = cdf(side(d1)) and n2 = cdf(side(d2)).
//   delta  dq*n1, negated for a put
//   gamma  (dq*p) / (rt*(s*sigma))
//   vega   rt*((s*dq)*p)
//   theta  from A = (sigma*((dq*s)*p)) / (rt + rt), B = (k*r)*dr,
//          C = (s*q)*dq: call ((-A) - B*n2) + C*n1, put ((-A) + B*n2) - C*n1
//   rho    ((k*t)*dr)*n2, negated for a put
template <class V, class M>
[[gnu::always_inline]] inline V delta_from_terms(M is_put, V dq, V n1) noexcept {
  return one_nan(is_put ? -(dq * n1) : dq * n1);
}
template <class V>
[[gnu::always_inline]] inline V gamma_from_terms(V s, V sigma, V rt, V dq, V p) noexcept {
  return one_nan((dq * p) / (rt * (s * sigma)));
}
template <class V>
[[gnu::always_inline]] inline V vega_from_terms(V s, V rt, V dq, V p) noexcept {
  return one_nan(rt * ((s * dq) * p));
}
template <class V, class M>
[[gnu::always_inline]] inline V theta_from_terms(M is_put, V s, V k, V r, V q, V sigma, V rt, V dq,
                                                 V dr, V p, V n1, V n2) noexcept {
  const V a = (sigma * ((dq * s) * p)) / (rt + rt);
  const V b = (k * r) * dr;
  const V c = (s * q) * dq;
  return one_nan(is_put ? ((-a) + b * n2) - c * n1 : ((-a) - b * n2) + c * n1);
}
template <class V, class M>
[[gnu::always_inline]] inline V rho_from_terms(M is_put, V k, V t, V dr, V n2) noexcept {
  const V rho_mag = ((k * t) * dr) * n2;
  return one_nan(is_put ? -rho_mag : rho_mag);
}
// The Black-76 rho -(t*P) from the Black-76 price P.
template <class V>
[[gnu::always_inline]] inline V black76_rho_from_price(V t, V price) noexcept {
  return one_nan(-(t * price));
}

// d1 and d2 from a log-moneyness ln(s/k) already formed; the single-pass
// Black-76 kernel shares that logarithm with its price.
inline D1D2 d1_d2_from_log(double log_sk, double t, double r, double q, double sigma) noexcept {
  return d1_d2_from_terms(log_sk, t, r, q, sigma, root_time<OneLane>(t));
}

}  // namespace detail

// d1 = (ln(s/k) + t*((r - q) + sigma*(sigma*0.5))) / v and d2 = d1 - v,
// with v = sqrt(t)*sigma the total volatility.  The quotient s/k is formed
// first and its logarithm taken (not ln s - ln k).  For Black-76 (q = r) the
// drift r - r is 0 for finite r and NaN for infinite r.
inline D1D2 d1_d2(double s, double k, double t, double r, double q, double sigma) noexcept {
  return detail::d1_d2_from_log(platform::log(detail::moneyness_ratio(s, k)), t, r, q, sigma);
}

namespace detail {

// What gamma and vega share: rt = sqrt(t), the dividend discount
// dq = exp(-(q*t)) and the density p = pdf(d1).
struct DensityTerms {
  double rt;
  double dq;
  double p;
};
inline DensityTerms density_terms(double s, double k, double t, double r, double q,
                                  double sigma) noexcept {
  return {root_time<OneLane>(t), discount_factor(discount_exponent(q, t)),
          pdf(d1_d2(s, k, t, r, q, sigma).d1)};
}

// The forward and the discount of a step on the forward moneyness (the
// Greeks of a degenerate option that are steps):
//   F = s for t <= 0 or t NaN, else s*exp(t*(r - q));
//   m = max(t, 0) with a NaN t counting as 0, e = exp(-(rate*m)), so e = 1 for
//   t <= 0 and finite rate, and e = exp(-(rate*t)) for t > 0.
struct ForwardStep {
  double f;
  double e;
};
inline ForwardStep forward_step(double s, double t, double r, double q, double rate) noexcept {
  const bool live = t > 0.0;
  const double f = live ? s * platform::exp(t * (r - q)) : s;
  const double m = live ? t : 0.0;
  return {f, discount_factor(discount_exponent(rate, m))};
}

// The delta of a degenerate option: a step on the forward moneyness with the
// dividend discount, e = forward_step(..., q).e;
//   call: e if F > k else 0.0; put: -e if F < k else 0.0.
// Strict ordered comparisons: F = k, a NaN F or a NaN k give 0.0.
inline double bsm_delta_step(bool is_put, double s, double k, double t, double r,
                             double q) noexcept {
  const ForwardStep step = forward_step(s, t, r, q, q);
  if (is_put) return step.f < k ? one_nan(-step.e) : 0.0;
  return step.f > k ? one_nan(step.e) : 0.0;
}

}  // namespace detail

// The Greek kernels in two stages, for loops over many options (as the price
// kernel's, see PriceStage): the first stage forms d1 and d2, sqrt(t) and the
// discount factors the Greek uses, or notes a degenerate input; the second
// forms the Greek. A kernel with stages (delta, theta, BSM rho here, the
// single-pass BSM Greeks in combined_greeks.hpp) is its two stages in a row.
// Fields a Greek does not use are left 0. The stage functions are always
// inlined, so that a kernel compiles as the one function it would be written
// as (left to the inliner, the split cost the plain theta kernel some 10%).
struct GreeksStage {
  bool is_put;
  bool degenerate;  // t <= 0, then sigma <= 0: nothing formed
  double s, k, t, r, q, sigma;
  double rt;  // sqrt(t)
  D1D2 d;
  double dq;  // exp(-(q*t))
  double dr;  // exp(-(r*t))
};

namespace detail {

// The first stage that forms everything: sqrt(t), d1 and d2, dq and dr.
[[gnu::always_inline]] inline GreeksStage full_greeks_stage(bool is_put, double s, double k,
                                                            double t, double r, double q,
                                                            double sigma) noexcept {
  if (greeks_degenerate(t, sigma)) return {is_put, true, s, k, t, r, q, sigma, 0.0, {}, 0.0, 0.0};
  const double rt = root_time<OneLane>(t);
  const D1D2 d = d1_d2(s, k, t, r, q, sigma);
  const double dq = discount_factor(discount_exponent(q, t));
  const double dr = discount_factor(discount_exponent(r, t));
  return {is_put, false, s, k, t, r, q, sigma, rt, d, dq, dr};
}

}  // namespace detail

// Delta dV/ds: dq*cdf(d1) for a call, -(dq*cdf(-d1)) for a put, with
// dq = exp(-(q*t)).  cdf(-d1) is the distribution function at the negated
// argument, never 1 - cdf(d1).  Degenerate inputs take the forward step.
// First stage: d1 (with d2) and dq.
[[gnu::always_inline]] inline GreeksStage bsm_delta_first_stage(bool is_put, double s, double k,
                                                                double t, double r, double q,
                                                                double sigma) noexcept {
  if (detail::greeks_degenerate(t, sigma))
    return {is_put, true, s, k, t, r, q, sigma, 0.0, {}, 0.0, 0.0};
  const D1D2 d = d1_d2(s, k, t, r, q, sigma);
  const double dq = detail::discount_factor(detail::discount_exponent(q, t));
  return {is_put, false, s, k, t, r, q, sigma, 0.0, d, dq, 0.0};
}
[[gnu::always_inline]] inline double bsm_delta_second_stage(const GreeksStage& g) noexcept {
  if (g.degenerate) return detail::bsm_delta_step(g.is_put, g.s, g.k, g.t, g.r, g.q);
  return detail::delta_from_terms(g.is_put, g.dq, cdf(detail::side(g.is_put, g.d.d1)));
}
inline double bsm_delta_kernel(bool is_put, double s, double k, double t, double r, double q,
                               double sigma) noexcept {
  return bsm_delta_second_stage(bsm_delta_first_stage(is_put, s, k, t, r, q, sigma));
}

// Gamma d2V/ds2 = (dq*pdf(d1)) / (sqrt(t)*(s*sigma)); +0.0 when degenerate.
// s = 0 gives 0/0 = NaN, k = 0 gives 0.
inline double bsm_gamma_kernel(double s, double k, double t, double r, double q,
                               double sigma) noexcept {
  if (detail::greeks_degenerate(t, sigma)) return 0.0;
  const detail::DensityTerms e = detail::density_terms(s, k, t, r, q, sigma);
  return detail::gamma_from_terms(s, sigma, e.rt, e.dq, e.p);
}

// Vega dV/dsigma per 1.0 of volatility = sqrt(t)*((s*dq)*pdf(d1)); +0.0 when
// degenerate.
inline double bsm_vega_kernel(double s, double k, double t, double r, double q,
                              double sigma) noexcept {
  if (detail::greeks_degenerate(t, sigma)) return 0.0;
  const detail::DensityTerms e = detail::density_terms(s, k, t, r, q, sigma);
  return detail::vega_from_terms(s, e.rt, e.dq, e.p);
}

// Theta per year of elapsed time, from three terms
//   A = (sigma*((dq*s)*pdf(d1))) / (sqrt(t) + sqrt(t))   the volatility decay,
//   B = (k*r)*dr                                         the carry on the strike,
//   C = (s*q)*dq                                         the dividend carry,
// call: ((-A) - B*cdf(d2)) + C*cdf(d1); put: ((-A) + B*cdf(-d2)) - C*cdf(-d1).
// +0.0 when degenerate.  With s = f and q = r this is the Black-76 theta.
// First stage: sqrt(t), d1, d2, dq and dr.
[[gnu::always_inline]] inline GreeksStage bsm_theta_first_stage(bool is_put, double s, double k,
                                                                double t, double r, double q,
                                                                double sigma) noexcept {
  return detail::full_greeks_stage(is_put, s, k, t, r, q, sigma);
}
[[gnu::always_inline]] inline double bsm_theta_second_stage(const GreeksStage& g) noexcept {
  if (g.degenerate) return 0.0;
  return detail::theta_from_terms(g.is_put, g.s, g.k, g.r, g.q, g.sigma, g.rt, g.dq, g.dr,
                                  pdf(g.d.d1), cdf(detail::side(g.is_put, g.d.d1)),
                                  cdf(detail::side(g.is_put, g.d.d2)));
}
inline double bsm_theta_kernel(bool is_put, double s, double k, double t, double r, double q,
                               double sigma) noexcept {
  return bsm_theta_second_stage(bsm_theta_first_stage(is_put, s, k, t, r, q, sigma));
}

// BSM rho dV/dr per 1.0 of rate: ((k*t)*dr)*cdf(d2) for a call,
// -(((k*t)*dr)*cdf(-d2)) for a put, dr = exp(-(r*t)); +0.0 when degenerate.
// q enters only through d2.  First stage: d2 (with d1) and dr.
[[gnu::always_inline]] inline GreeksStage bsm_rho_first_stage(bool is_put, double s, double k,
                                                              double t, double r, double q,
                                                              double sigma) noexcept {
  if (detail::greeks_degenerate(t, sigma))
    return {is_put, true, s, k, t, r, q, sigma, 0.0, {}, 0.0, 0.0};
  const D1D2 d = d1_d2(s, k, t, r, q, sigma);
  const double dr = detail::discount_factor(detail::discount_exponent(r, t));
  return {is_put, false, s, k, t, r, q, sigma, 0.0, d, 0.0, dr};
}
[[gnu::always_inline]] inline double bsm_rho_second_stage(const GreeksStage& g) noexcept {
  if (g.degenerate) return 0.0;
  return detail::rho_from_terms(g.is_put, g.k, g.t, g.dr, cdf(detail::side(g.is_put, g.d.d2)));
}
inline double bsm_rho_kernel(bool is_put, double s, double k, double t, double r, double q,
                             double sigma) noexcept {
  return bsm_rho_second_stage(bsm_rho_first_stage(is_put, s, k, t, r, q, sigma));
}

// Black-76 rho in two stages, those of the price kernel (see PriceStage) with
// t carried along; black76_rho_kernel is the two in a row.
struct Black76RhoStage {
  double t;
  PriceStage price;
};

// The first stage of black76_rho_kernel.
[[gnu::always_inline]] inline Black76RhoStage black76_rho_first_stage(bool is_put, double f,
                                                                      double k, double t, double r,
                                                                      double sigma) noexcept {
  return {t, bsm_price_first_stage(is_put, f, k, t, r, r, sigma)};
}

// The second stage of black76_rho_kernel: -(t*P) from its first stage.
[[gnu::always_inline]] inline double black76_rho_second_stage(
    const Black76RhoStage& stage) noexcept {
  return detail::black76_rho_from_price(stage.t, bsm_price_second_stage(stage.price));
}

// Black-76 rho: -(t*P) with P the Black-76 price (the price kernel with q = r),
// for every input, with no degenerate branch of its own: t = 0 gives -0.0, a
// negative t gives |t| times the undiscounted intrinsic value, sigma <= 0
// gives -t times the discounted intrinsic value.
inline double black76_rho_kernel(bool is_put, double f, double k, double t, double r,
                                 double sigma) noexcept {
  return black76_rho_second_stage(black76_rho_first_stage(is_put, f, k, t, r, sigma));
}

}  // namespace karvex

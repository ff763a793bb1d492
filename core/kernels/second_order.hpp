// The second-order sensitivities of one European option under
// Black-Scholes-Merton, and under Black-76 as BSM with the forward as s and
// the rate again as q.
//
// Definitions (V the price, s the spot or forward, k the strike, sigma the
// volatility, tau = t the time to expiry; every other input held fixed):
//   vanna         d2V/ds dsigma     = -(dq*p)*d2 / sigma
//   volga         d2V/dsigma2       = vega*(d1*d2) / sigma
//   charm         -d(delta)/dtau    = +-(q*dq)*N(+-d1) - (dq*p)*((r - q)/v - d2/(2t))
//   veta          -d(vega)/dtau     = vega*(a - (1 + d1*d2)/(2t))
//   speed         d(gamma)/ds       = -(gamma/s)*(d1/v + 1)
//   zomma         d(gamma)/dsigma   = gamma*(d1*d2 - 1) / sigma
//   color         -d(gamma)/dtau    = gamma*(a + (1 - d1*d2)/(2t))
//   dual delta    dV/dk             = -dr*N(d2) call, dr*N(-d2) put
//   dual gamma    d2V/dk2           = ((s/k)*(dq*p)) / (k*v)   (= dr*pdf(d2)/(k*v))
//   dividend rho  dV/dq (BSM only)  = -t*s*dq*N(d1) call, t*s*dq*N(-d1) put
// with v = sqrt(t)*sigma, dq = exp(-(q*t)), dr = exp(-(r*t)), p = pdf(d1),
// a = q + (r - q)*d1/v, N the distribution function and the upper signs for
// a call. The three time Greeks are rates per year of elapsed time, the
// convention of theta (greeks.hpp): the derivative in tau negated, so that
// charm is the change of delta over one year of the option's life. Dual delta
// is minus the discounted risk-neutral probability of finishing in the money
// for a call, dual gamma the discounted risk-neutral density at k. All are
// in raw units (per 1.0 of s, sigma, k, q; per year).
//
// Method: "terms in, formula out", as the first-order Greeks. The terms are
// those of greeks.hpp, formed by the same pieces and so the same bits: d1 and
// d2 (d1_d2_from_terms), sqrt(t), the discount factors (discount_factor, which
// takes exp(+-0) as 1), p = pdf(d1), the cdf values n1 = cdf(side(d1)) and
// n2 = cdf(side(d2)) of the option's side, and vega and gamma themselves
// (vega_from_terms, gamma_from_terms). The formulas below are templates over
// the lane type; the scalar kernels and the block loops
// (simd/second_order_block.hpp) are two schedulers of them.
//
// Accuracy: a few ulps times each Greek's condition number. Where a factor
// vanishes (d2 = 0 for vanna, d1*d2 = 1 for zomma) the relative error grows
// as the value goes to zero; the absolute error stays that of the terms.
//
// Degenerate inputs (t <= 0, then sigma <= 0, ordered comparisons, as the
// first-order Greeks): dual delta is a step on the forward moneyness like
// delta's (-dr for a call in the money on the forward, dr for a put, else
// 0.0), every other Greek +0.0. NaN results are the one quiet NaN.
//
// Arithmetic: every operation rounded on its own, products left to right
// with the parentheses shown.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "kernels/greeks.hpp"
#include "kernels/normal.hpp"
#include "kernels/platform.hpp"

namespace karvex {

// The second-order Greeks of one option, for a lane type V.
template <class V>
struct SecondOrderOf {
  V vanna;
  V volga;
  V charm;
  V veta;
  V speed;
  V zomma;
  V color;
  V dual_delta;
  V dual_gamma;
  V dividend_rho;
};
using SecondOrder = SecondOrderOf<double>;

// The fields in the order the entry points return them: the one place that order is written.
template <class V>
inline constexpr V SecondOrderOf<V>::*second_order_fields[] = {
    &SecondOrderOf<V>::vanna,       &SecondOrderOf<V>::volga,      &SecondOrderOf<V>::charm,
    &SecondOrderOf<V>::veta,        &SecondOrderOf<V>::speed,      &SecondOrderOf<V>::zomma,
    &SecondOrderOf<V>::color,       &SecondOrderOf<V>::dual_delta, &SecondOrderOf<V>::dual_gamma,
    &SecondOrderOf<V>::dividend_rho};
inline constexpr std::size_t kSecondOrderCount = std::size(second_order_fields<double>);
// Their names, in the same order (the entry points' and the results' names).
inline constexpr std::string_view second_order_names[] = {
    "vanna", "volga", "charm",      "veta",       "speed",
    "zomma", "color", "dual_delta", "dual_gamma", "dividend_rho"};
static_assert(std::size(second_order_names) == kSecondOrderCount);
static_assert(sizeof(SecondOrder) == kSecondOrderCount * sizeof(double));

// A set of second-order Greeks: bit j for field j of second_order_fields. A kernel or a block
// loop over a set forms only the terms its members use and returns them in field order.
using SecondSet = unsigned;
inline constexpr SecondSet kAllSecond = (1u << kSecondOrderCount) - 1;
constexpr SecondSet second_of(double SecondOrder::*field) {
  for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
    if (second_order_fields<double>[j] == field) return 1u << j;
  }
  return 0;
}
// Black-76 has no dividend yield: its single pass is every field but dividend rho.
inline constexpr SecondSet kBlack76Second = kAllSecond & ~second_of(&SecondOrder::dividend_rho);

constexpr std::size_t second_count(SecondSet set) {
  return static_cast<std::size_t>(std::popcount(set));
}

// The terms a set uses beyond d1, d2 and sqrt(t).
struct SecondTerms {
  bool dq, dr, p, n1, n2;
};
constexpr SecondTerms second_terms(SecondSet set) {
  const auto uses = [set](double SecondOrder::*field) { return (set & second_of(field)) != 0; };
  const bool dual_delta = uses(&SecondOrder::dual_delta);
  const bool dividend_rho = uses(&SecondOrder::dividend_rho);
  const bool charm = uses(&SecondOrder::charm);
  const bool density =
      (set & ~(second_of(&SecondOrder::dual_delta) | second_of(&SecondOrder::dividend_rho))) != 0;
  return {density || dividend_rho, dual_delta, density, charm || dividend_rho, dual_delta};
}

namespace detail {

// The pieces: each Greek from its terms, d = {d1, d2}, v = rt*sigma.
template <class V>
[[gnu::always_inline]] inline V total_volatility(V rt, V sigma) noexcept {
  return rt * sigma;
}
// a = q + ((r - q)*d1)/v: the carry part of the time Greeks of vega and gamma.
template <class V>
[[gnu::always_inline]] inline V carry_term(V r, V q, V v, V d1) noexcept {
  return q + ((r - q) * d1) / v;
}
template <class V>
[[gnu::always_inline]] inline V vanna_from_terms(V sigma, V dq, V p, V d2) noexcept {
  return one_nan(-(((dq * p) * d2) / sigma));
}
template <class V>
[[gnu::always_inline]] inline V volga_from_terms(V sigma, V vega, V d1, V d2) noexcept {
  return one_nan((vega * (d1 * d2)) / sigma);
}
template <class V, class M>
[[gnu::always_inline]] inline V charm_from_terms(M is_put, V t, V r, V q, V v, V dq, V p, V n1,
                                                 V d2) noexcept {
  const V carry = (q * dq) * n1;
  const V decay = (dq * p) * ((r - q) / v - d2 / (t + t));
  return one_nan((is_put ? -carry : carry) - decay);
}
template <class V>
[[gnu::always_inline]] inline V veta_from_terms(V t, V vega, V a, V d1, V d2) noexcept {
  return one_nan(vega * (a - (1.0 + d1 * d2) / (t + t)));
}
template <class V>
[[gnu::always_inline]] inline V speed_from_terms(V s, V v, V gamma, V d1) noexcept {
  return one_nan(-((gamma / s) * (d1 / v + 1.0)));
}
template <class V>
[[gnu::always_inline]] inline V zomma_from_terms(V sigma, V gamma, V d1, V d2) noexcept {
  return one_nan((gamma * (d1 * d2 - 1.0)) / sigma);
}
template <class V>
[[gnu::always_inline]] inline V color_from_terms(V t, V gamma, V a, V d1, V d2) noexcept {
  return one_nan(gamma * (a + (1.0 - d1 * d2) / (t + t)));
}
template <class V, class M>
[[gnu::always_inline]] inline V dual_delta_from_terms(M is_put, V dr, V n2) noexcept {
  const V m = dr * n2;
  return one_nan(is_put ? m : -m);
}
template <class V>
[[gnu::always_inline]] inline V dual_gamma_from_terms(V s, V k, V v, V dq, V p) noexcept {
  return one_nan((moneyness_ratio(s, k) * (dq * p)) / (k * v));
}
template <class V, class M>
[[gnu::always_inline]] inline V dividend_rho_from_terms(M is_put, V s, V t, V dq, V n1) noexcept {
  const V m = ((s * t) * dq) * n1;
  return one_nan(is_put ? m : -m);
}

// The Greeks of `Set` from the terms (those the set does not use may be anything), in a
// SecondOrderOf whose other fields are left zero.
template <SecondSet Set, class V, class M>
[[gnu::always_inline]] inline SecondOrderOf<V> second_order_from_terms(M is_put, V s, V k, V t, V r,
                                                                       V q, V sigma, V rt,
                                                                       D1D2Of<V> d, V dq, V dr, V p,
                                                                       V n1, V n2) noexcept {
  constexpr auto in = [](double SecondOrder::*field) { return (Set & second_of(field)) != 0; };
  const V v = total_volatility(rt, sigma);
  const V vega = vega_from_terms(s, rt, dq, p);
  const V gamma = gamma_from_terms(s, sigma, rt, dq, p);
  const V a = carry_term(r, q, v, d.d1);
  SecondOrderOf<V> g{};
  if constexpr (in(&SecondOrder::vanna)) g.vanna = vanna_from_terms(sigma, dq, p, d.d2);
  if constexpr (in(&SecondOrder::volga)) g.volga = volga_from_terms(sigma, vega, d.d1, d.d2);
  if constexpr (in(&SecondOrder::charm)) {
    g.charm = charm_from_terms(is_put, t, r, q, v, dq, p, n1, d.d2);
  }
  if constexpr (in(&SecondOrder::veta)) g.veta = veta_from_terms(t, vega, a, d.d1, d.d2);
  if constexpr (in(&SecondOrder::speed)) g.speed = speed_from_terms(s, v, gamma, d.d1);
  if constexpr (in(&SecondOrder::zomma)) g.zomma = zomma_from_terms(sigma, gamma, d.d1, d.d2);
  if constexpr (in(&SecondOrder::color)) g.color = color_from_terms(t, gamma, a, d.d1, d.d2);
  if constexpr (in(&SecondOrder::dual_delta)) g.dual_delta = dual_delta_from_terms(is_put, dr, n2);
  if constexpr (in(&SecondOrder::dual_gamma)) g.dual_gamma = dual_gamma_from_terms(s, k, v, dq, p);
  if constexpr (in(&SecondOrder::dividend_rho)) {
    g.dividend_rho = dividend_rho_from_terms(is_put, s, t, dq, n1);
  }
  return g;
}

// The values of a degenerate option (t <= 0, then sigma <= 0): dual delta's step on the forward
// moneyness (forward_step, with the rate's discount), +0.0 for the others.
inline SecondOrder second_order_degenerate(bool is_put, double s, double k, double t, double r,
                                           double q) noexcept {
  SecondOrder g{};
  const ForwardStep step = forward_step(s, t, r, q, r);
  if (is_put) {
    g.dual_delta = step.f < k ? one_nan(step.e) : 0.0;
  } else {
    g.dual_delta = step.f > k ? one_nan(-step.e) : 0.0;
  }
  return g;
}

}  // namespace detail

// The second-order Greeks of `Set` for one option under BSM (Black-76: s = f, q = r), in a
// SecondOrder whose other fields are +0.0. Forms only the terms the set uses: one log, up to
// three exponentials (dq, dr, the density) and up to two cdf values.
template <SecondSet Set>
inline SecondOrder bsm_second_order_kernel(bool is_put, double s, double k, double t, double r,
                                           double q, double sigma) noexcept {
  constexpr SecondTerms uses = second_terms(Set);
  if (detail::greeks_degenerate(t, sigma)) {
    return detail::second_order_degenerate(is_put, s, k, t, r, q);
  }
  const double rt = std::sqrt(t);
  const D1D2 d = d1_d2(s, k, t, r, q, sigma);
  const double dq = uses.dq ? detail::discount_factor(detail::discount_exponent(q, t)) : 0.0;
  const double dr = uses.dr ? detail::discount_factor(detail::discount_exponent(r, t)) : 0.0;
  const double p = uses.p ? pdf(d.d1) : 0.0;
  const double n1 = uses.n1 ? cdf(detail::side(is_put, d.d1)) : 0.0;
  const double n2 = uses.n2 ? cdf(detail::side(is_put, d.d2)) : 0.0;
  return detail::second_order_from_terms<Set>(is_put, s, k, t, r, q, sigma, rt, d, dq, dr, p, n1,
                                              n2);
}

// The values of `Set` from a kernel's result, in field order, into values[0, second_count(Set)).
template <SecondSet Set>
inline void second_order_values(const SecondOrder& g, double* values) noexcept {
  std::size_t at = 0;
  for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
    if ((Set >> j) & 1u) values[at++] = g.*second_order_fields<double>[j];
  }
}

}  // namespace karvex

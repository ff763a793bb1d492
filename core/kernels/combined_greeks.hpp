// All five Greeks of one option in a single pass.
//
// Each kernel forms the shared intermediates once (sqrt(t), d1 and d2, the
// discount factors, pdf(d1) and the two cdf values of the option's side) and
// derives the five Greeks from them by the pieces the individual kernels in
// greeks.hpp evaluate, so each field equals that kernel's value bit for bit,
// on the degenerate path included, a NaN field as the one NaN of the Greeks.
//
// Cost per option, BSM: one ln, three exp and two cdf, against five ln, nine
// exp and four cdf for the five individual kernels.  Black-76: one ln, two
// exp and two cdf, plus one normalised Black evaluation for the price behind
// its rho, which then dominates the cost.
#pragma once

#include <cmath>
#include <cstddef>
#include <iterator>

#include "kernels/greeks.hpp"
#include "kernels/normal.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"

namespace karvex {

// The Greeks of one option, for a lane type V (double, or a vector of doubles
// in the block loops).
template <class V>
struct GreeksOf {
  V delta;
  V gamma;
  V vega;
  V theta;
  V rho;
};
using Greeks = GreeksOf<double>;

// The fields in the order of the tuple the entry points return (and of the
// block loops' Greek enumeration): the one place that order is written.
template <class V>
inline constexpr V GreeksOf<V>::*greek_fields[] = {&GreeksOf<V>::delta, &GreeksOf<V>::gamma,
                                                   &GreeksOf<V>::vega, &GreeksOf<V>::theta,
                                                   &GreeksOf<V>::rho};
inline constexpr std::size_t kGreekCount = std::size(greek_fields<double>);
static_assert(sizeof(Greeks) == kGreekCount * sizeof(double), "Greeks is exactly its fields");

// The result of option i into out[0][i], or, for the Greeks, field j into out[j][i]: how the loops
// over many options store what a kernel returns.
inline void store_result(double* const* out, std::size_t i, double value) noexcept {
  out[0][i] = value;
}
inline void store_result(double* const* out, std::size_t i, const Greeks& g) noexcept {
  for (std::size_t j = 0; j < kGreekCount; ++j) out[j][i] = g.*greek_fields<double>[j];
}

namespace detail {

// The five Greeks from the shared terms (see delta_from_terms ...
// rho_from_terms): the single-pass kernel and the block loops evaluate these
// very pieces, so each field equals the individual kernel's bit for bit.
template <class V, class M>
[[gnu::always_inline]] inline GreeksOf<V> greeks_from_terms(M is_put, V s, V k, V t, V r, V q,
                                                            V sigma, V rt, V dq, V dr, V p, V n1,
                                                            V n2) noexcept {
  GreeksOf<V> g;
  g.delta = delta_from_terms(is_put, dq, n1);
  g.gamma = gamma_from_terms(s, sigma, rt, dq, p);
  g.vega = vega_from_terms(s, rt, dq, p);
  g.theta = theta_from_terms(is_put, s, k, r, q, sigma, rt, dq, dr, p, n1, n2);
  g.rho = rho_from_terms(is_put, k, t, dr, n2);
  return g;
}

// greeks_from_terms with pdf(d1) and the cdf values formed here, d = d1_d2(...).
inline Greeks greeks_from_intermediates(bool is_put, double s, double k, double t, double r,
                                        double q, double sigma, double rt, D1D2 d, double dq,
                                        double dr) noexcept {
  const double p = pdf(d.d1);
  const double n1 = cdf(side(is_put, d.d1));
  const double n2 = cdf(side(is_put, d.d2));
  return greeks_from_terms(is_put, s, k, t, r, q, sigma, rt, dq, dr, p, n1, n2);
}

// The Black-76 price past its degenerate tests (t > 0 and sigma > 0 or NaN),
// equal bit for bit to bsm_price_kernel(is_put, f, k, t, r, r, sigma).  The
// caller supplies what it has already formed: the total volatility
// v = sqrt(t)*sigma, the discount factor dr = exp(-(r*t)) and log_fk =
// ln(f/k).  The price kernel's forward is F = f*exp(t*(r - r)); its exponent
// t*(r - r) is +-0 for finite t and r, where exp gives exactly 1, F = f and
// ln(F/k) is log_fk, so the exponential and the second logarithm are only
// evaluated for an infinite or NaN t or r (F and x NaN).  For a non-finite x
// the price is the discounted intrinsic max(f*dr - k*dr, 0) (its f*dr is the
// price kernel's s*exp(-(q*t))), otherwise the price kernel's own last steps,
// price_from_forward.
inline double black76_price_past_degenerate(bool is_put, double f, double k, double t, double r,
                                            double v, double dr, double log_fk) noexcept {
  const double drift = t * (r - r);
  double fwd = f;
  double x = log_fk;
  if (!(drift == 0.0)) {
    fwd = f * platform::exp(drift);
    x = platform::log(fwd / k);
  }
  if (!std::isfinite(x)) return intrinsic(is_put, f * dr, k * dr);
  return price_from_forward(is_put, fwd, k, dr, x, v);
}

}  // namespace detail

// The single-pass BSM Greeks in two stages (see GreeksStage): the first stage
// forms sqrt(t), d1 and d2 and the two discount factors, or notes a
// degenerate input; the second derives the five Greeks.
[[gnu::always_inline]] inline GreeksStage bsm_greeks_first_stage(bool is_put, double s, double k,
                                                                 double t, double r, double q,
                                                                 double sigma) noexcept {
  return detail::full_greeks_stage(is_put, s, k, t, r, q, sigma);
}

// The second stage of bsm_greeks_kernel: the five Greeks from its first stage.
[[gnu::always_inline]] inline Greeks bsm_greeks_second_stage(const GreeksStage& g) noexcept {
  if (g.degenerate) {
    return {bsm_delta_kernel(g.is_put, g.s, g.k, g.t, g.r, g.q, g.sigma), 0.0, 0.0, 0.0, 0.0};
  }
  return detail::greeks_from_intermediates(g.is_put, g.s, g.k, g.t, g.r, g.q, g.sigma, g.rt, g.d,
                                           g.dq, g.dr);
}

// BSM Greeks in one pass.  Degenerate inputs (t <= 0, then sigma <= 0, ordered
// comparisons) give delta's forward step and +0.0 for the other four.
inline Greeks bsm_greeks_kernel(bool is_put, double s, double k, double t, double r, double q,
                                double sigma) noexcept {
  return bsm_greeks_second_stage(bsm_greeks_first_stage(is_put, s, k, t, r, q, sigma));
}

// Black-76 Greeks in one pass: the BSM Greeks with s = f and q = r, where the
// one discount factor dr = exp(-(r*t)) serves as both dq and dr, and rho =
// -(t*P) with P the Black-76 price.  P reuses the total volatility v and dr
// already formed and repeats the price kernel's forward, log-moneyness and
// fallback, so rho equals black76_rho_kernel bit for bit.  Degenerate inputs
// give delta's forward step, +0.0 for gamma, vega and theta, and the price
// kernel's own intrinsic value for rho (in general not zero).
inline Greeks black76_greeks_kernel(bool is_put, double f, double k, double t, double r,
                                    double sigma) noexcept {
  if (detail::greeks_degenerate(t, sigma)) {
    return {bsm_delta_kernel(is_put, f, k, t, r, r, sigma), 0.0, 0.0, 0.0,
            black76_rho_kernel(is_put, f, k, t, r, sigma)};
  }
  const double rt = detail::root_time<OneLane>(t);
  const double log_fk = platform::log(detail::moneyness_ratio(f, k));
  const D1D2 d = detail::d1_d2_from_log(log_fk, t, r, r, sigma);
  const double er = detail::discount_exponent(r, t);
  const double df = platform::exp(er);  // the price's discount factor
  const double dr = detail::discount_factor(er, df);
  // The price first: its normalised Black evaluation is the longest chain, and
  // the other Greeks do not depend on it, so they overlap it.
  const double v = rt * sigma;
  const double rho = detail::black76_rho_from_price(
      t, detail::black76_price_past_degenerate(is_put, f, k, t, r, v, df, log_fk));
  Greeks g = detail::greeks_from_intermediates(is_put, f, k, t, r, r, sigma, rt, d, dr, dr);
  g.rho = rho;
  return g;
}

}  // namespace karvex

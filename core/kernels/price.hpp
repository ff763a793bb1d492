// The price of one European option under Black-Scholes-Merton. A Black-76
// price is the same kernel with the forward f in place of the spot s and the
// rate r in place of the dividend yield q; the forward f*exp(t*(r - r)) then
// equals f exactly for finite r and t.
#pragma once

#include <cmath>

#include "kernels/normalised_black.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"

namespace karvex {

namespace detail {

// The intrinsic value max(s - k, 0) of a call or max(k - s, 0) of a put, as
// max0 forms it: a NaN difference gives +0, never -0.0.
inline double intrinsic(bool is_put, double s, double k) noexcept {
  return is_put ? max0(k - s) : max0(s - k);
}

// The pieces of the price, templates over the lane type L (OneLane for the
// kernel below, the vector types for the block loop): the terms of the first
// stage around its exponentials and logarithm, and the last steps after the
// normalised Black function.

// The exponents of the growth and of the discount factor: the drift
// t*(r - q) and -(r*t).
template <class V>
inline V price_drift(V t, V r, V q) noexcept {
  return t * (r - q);
}

template <class V>
inline V price_discount_exponent(V r, V t) noexcept {
  return -(r * t);
}

// The forward s*exp(drift); exp(+-0) is exactly 1: without drift (q = r, as
// for every Black-76 price) the forward is s itself and the exponential is
// not evaluated (growth is then ignored).
template <class L>
inline typename L::I price_without_drift(typename L::D drift) noexcept {
  return drift == 0.0;
}

template <class L>
inline typename L::D price_forward(typename L::D s, typename L::D drift,
                                   typename L::D growth) noexcept {
  return L::select(price_without_drift<L>(drift), s, s * growth);
}

// The ratio F/k whose logarithm is the log-moneyness x.
template <class V>
inline V price_moneyness_ratio(V F, V k) noexcept {
  return F / k;
}

// The total volatility sqrt(t)*sigma.
template <class L>
inline typename L::D price_total_volatility(typename L::D t, typename L::D sigma) noexcept {
  return L::sqrt(t) * sigma;
}

// The out-of-the-money side's argument of the normalised Black function: -|x|.
template <class L>
inline typename L::D price_otm_x(typename L::D x) noexcept {
  return -L::fabs(x);
}

// The discounted intrinsic part I: DF*(F - k) for an in-the-money call
// (x > 0), DF*(k - F) for an in-the-money put (x < 0), +0 otherwise.
template <class L>
inline typename L::D price_intrinsic_part(typename L::I is_put, typename L::D F, typename L::D k,
                                          typename L::D DF, typename L::D x) noexcept {
  return L::select((!is_put) & (x > 0.0), DF * (F - k),
                   L::select(is_put & (x < 0.0), DF * (k - F), L::splat(0.0)));
}

// The price from b = normalised_black(-|x|, v).b: (DF*(sqrt(k)*sqrt(F)))*b + I.
template <class L>
inline typename L::D price_from_b(typename L::D F, typename L::D k, typename L::D DF,
                                  typename L::D b, typename L::D I) noexcept {
  return (DF * (L::sqrt(k) * L::sqrt(F))) * b + I;
}

// The price of a live option from its forward F, discount factor DF, finite
// log-moneyness x = ln(F/k) and total volatility v = sqrt(t)*sigma (positive,
// +inf or NaN): the normalised Black function on the out-of-the-money side,
//   (DF*(sqrt(k)*sqrt(F)))*b(-|x|, v) + I,
// with I = DF*(F - k) for an in-the-money call (x > 0), DF*(k - F) for an
// in-the-money put (x < 0) and +0 otherwise. The last steps of
// bsm_price_kernel and of the single-pass Black-76 rho, so both give the same
// bits. Always inlined: left to the inliner, its second caller costs the
// single-pass Black-76 Greeks some 5% (the cdf calls there are then no longer
// inlined); inlined it compiles as when each caller wrote it out.
[[gnu::always_inline]] inline double price_from_forward(bool is_put, double F, double k, double DF,
                                                        double x, double v) noexcept {
  using L = OneLane;
  const double b = normalised_black(price_otm_x<L>(x), v).b;
  return price_from_b<L>(F, k, DF, b, price_intrinsic_part<L>(is_put, F, k, DF, x));
}

}  // namespace detail

// The price kernel in two stages, for loops over many options. The first
// stage forms from the inputs what the normalised Black function needs (the
// forward F, the discount factor DF, the log-moneyness x and the total
// volatility v), or on a degenerate path the price itself; the second
// evaluates the normalised Black function and the last steps.
// bsm_price_kernel is the two in a row. A loop that forms the first stage of
// the next option before the second stage of this one lets the processor
// overlap the exponentials and the logarithm of the one with the long
// dependency chain of the other: about a fifth less time per option than
// calling bsm_price_kernel in turn. Both stage functions are always inlined,
// so that bsm_price_kernel compiles as the one function it would be written as.
struct PriceStage {
  bool is_put;
  bool settled;  // the price is `price`: nothing left for the second stage
  double price;
  double k, F, DF, x, v;
};

// The first stage of bsm_price_kernel (see there).
[[gnu::always_inline]] inline PriceStage bsm_price_first_stage(bool is_put, double s, double k,
                                                               double t, double r, double q,
                                                               double sigma) noexcept {
  if (t <= 0.0) return {is_put, true, detail::intrinsic(is_put, s, k), k, 0.0, 0.0, 0.0, 0.0};

  using L = OneLane;
  using namespace detail;
  const double drift = price_drift(t, r, q);
  const double F =
      price_without_drift<L>(drift) ? s : price_forward<L>(s, drift, platform::exp(drift));
  const double DF = platform::exp(price_discount_exponent(r, t));
  const double x = platform::log(price_moneyness_ratio(F, k));

  if (sigma <= 0.0 || !std::isfinite(x)) {
    // (a rare path, the kernel's alone: the block loop gives these options to the kernel)
    const double price = intrinsic(is_put, s * platform::exp(-(q * t)), k * DF);
    return {is_put, true, price, k, F, DF, x, 0.0};
  }
  return {is_put, false, 0.0, k, F, DF, x, price_total_volatility<L>(t, sigma)};
}

// The second stage of bsm_price_kernel: the price from its first stage.
[[gnu::always_inline]] inline double bsm_price_second_stage(const PriceStage& p) noexcept {
  if (p.settled) return p.price;
  return detail::price_from_forward(p.is_put, p.F, p.k, p.DF, p.x, p.v);
}

// bsm_price_kernel(is_put, s, k, t, r, q, sigma): the BSM price.
//
// Method: with the forward F = s*exp(t*(r - q)), the discount factor
// DF = exp(-(r*t)) and the log-moneyness x = ln(F/k), the normalised Black
// function is evaluated on the out-of-the-money side,
//   price = (DF*(sqrt(k)*sqrt(F)))*b(-|x|, sqrt(t)*sigma) + I,
// where I is the discounted intrinsic value DF*(F - k) for an in-the-money
// call (x > 0), DF*(k - F) for an in-the-money put (x < 0), +0 otherwise.
// Call and put share b, so put-call parity holds up to the two final
// additions.
//
// Accuracy: a few ulps times the price's condition (the sum of its
// elasticities to the six inputs, growing like (x/v)^2 far out of the
// money); with a small total volatility v and |x|/v up to 10, the
// small-volatility expansion of b adds about (x/v)^4/2 ulps by cancellation.
//
// Degenerate inputs, tested in this order (ordered comparisons, so NaN
// falls through):
//   t <= 0: undiscounted intrinsic on s itself, max(s - k, 0) or max(k - s, 0);
//   sigma <= 0, or x infinite or NaN: discounted intrinsic
//     max(s*exp(-(q*t)) - k*DF, 0) for a call, max(k*DF - s*exp(-(q*t)), 0)
//     for a put (NaN inside gives +0);
//   NaN or +inf sigma: b = +0, so the result is I alone.
// The result is never negative and never -0.0 whenever k > 0 and F > 0.
inline double bsm_price_kernel(bool is_put, double s, double k, double t, double r, double q,
                               double sigma) noexcept {
  return bsm_price_second_stage(bsm_price_first_stage(is_put, s, k, t, r, q, sigma));
}

}  // namespace karvex

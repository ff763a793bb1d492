// The price of one European option under Black-Scholes-Merton. A Black-76
// price is the same kernel with the forward f in place of the spot s and the
// rate r in place of the dividend yield q; the forward f*exp(t*(r - r)) then
// equals f exactly for finite r and t.
#pragma once

#include <cmath>

#include "kernels/normalised_black.hpp"

namespace karvex {

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
  if (t <= 0.0) return is_put ? detail::max0(k - s) : detail::max0(s - k);

  const double F = s * std::exp(t * (r - q));
  const double DF = std::exp(-(r * t));
  const double x = std::log(F / k);

  if (sigma <= 0.0 || !std::isfinite(x)) {
    const double s_discounted = s * std::exp(-(q * t));
    const double k_discounted = k * DF;
    return is_put ? detail::max0(k_discounted - s_discounted)
                  : detail::max0(s_discounted - k_discounted);
  }

  const double v = std::sqrt(t) * sigma;
  const double b = normalised_black(-std::fabs(x), v).b;
  double I = 0.0;
  if (!is_put && x > 0.0) {
    I = DF * (F - k);
  } else if (is_put && x < 0.0) {
    I = DF * (k - F);
  }
  return (DF * (std::sqrt(k) * std::sqrt(F))) * b + I;
}

}  // namespace karvex

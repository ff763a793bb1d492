// Implied volatility: the BSM volatility that reproduces a discounted option
// price. Black-76 is the same kernel with the forward for s and r for q.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/iv_guess.hpp"
#include "kernels/iv_refine.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/platform.hpp"

namespace karvex {

// What one inversion did, for tests and benchmarks: the reduced problem
// (x' <= 0, beta) handed to the guess, the branch (0 when the result was
// decided before the guess) and objective of the guess, the refined total
// volatility s and the number of Householder steps taken.
struct IvTrace {
  double x = 0.0;
  double beta = 0.0;
  int branch = 0;
  IvObjective objective = IvObjective::middle;
  double s = 0.0;
  int steps = 0;
};

namespace iv_detail {

// True when the magnitude bits do not exceed those of DBL_MAX (not inf, not NaN).
inline bool is_finite_bits(double v) noexcept {
  return (std::bit_cast<std::uint64_t>(v) & 0x7fffffffffffffffULL) <= 0x7fefffffffffffffULL;
}

}  // namespace iv_detail

// The reduced problem of an inversion (steps 1 to 6 of bsm_iv_kernel_traced):
// either the result, when the inputs decide it, or x' <= 0, |x|, beta and
// b_max for the initial guess and the refinement. x' and beta are those of
// the trace (0 where the inputs were decided before they were formed).
struct IvProblem {
  bool decided;
  double value;  // the result, when decided
  double x;
  double ax;
  double beta;
  double b_max;
};

inline IvProblem iv_reduce(bool is_put, double target_price, double s, double k, double t, double r,
                           double q) noexcept {
  using detail::max0;
  using iv_detail::is_finite_bits;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double price_tolerance = 1e-12;  // 0x3d719799812dea11, in price units
  const auto decided = [](double value, double x = 0.0, double beta = 0.0) {
    return IvProblem{true, value, x, 0.0, beta, 0.0};
  };

  if (!is_finite_bits(s) || !is_finite_bits(k) || !is_finite_bits(t) || !is_finite_bits(r) ||
      !is_finite_bits(q)) {
    return decided(nan);
  }
  if (k <= 0 || s <= 0 || t <= 0) return decided(nan);
  if (!is_finite_bits(target_price) || target_price < 0) return decided(nan);

  const double d = platform::exp((-r) * t);
  const double dq = platform::exp((-q) * t);
  const double s_disc = s * dq;
  const double k_disc = k * d;
  double theta = is_put ? -1.0 : 1.0;
  const double intrinsic = max0(is_put ? k_disc - s_disc : s_disc - k_disc);
  const double upper = is_put ? k_disc : s_disc;
  if (!(target_price <= upper + price_tolerance && target_price >= intrinsic - price_tolerance)) {
    return decided(nan);
  }
  if (target_price <= intrinsic) return decided(0.0);
  if (target_price >= upper) return decided(nan);

  const double f = s_disc / d;
  const double x = platform::log(f / k);
  double beta = (target_price / d) / (std::sqrt(k) * std::sqrt(f));
  if (theta * x > 0) {
    const double iota_call = normalised_intrinsic(x);
    const double iota = max0(theta < 0 ? -iota_call : iota_call);
    beta = max0(beta - iota);
    theta = -theta;
  }
  const double xp = theta < 0 ? -x : x;
  if (beta <= 0) return decided(0.0, xp, beta);
  const double b_max = platform::exp(xp / 2);
  if (beta >= b_max) return decided(nan, xp, beta);
  return {false, 0.0, xp, std::fabs(x), beta, b_max};
}

// The volatility from the refined total volatility s: s/sqrt(t), or NaN if s
// is not finite.
inline double iv_from_total(double s, double t) noexcept {
  if (!iv_detail::is_finite_bits(s)) return std::numeric_limits<double>::quiet_NaN();
  return s / std::sqrt(t);
}

// bsm_iv_kernel with a record of what it did; the result does not depend on
// the record.
//   1. NaN unless s, k, t, r, q are finite, s, k, t > 0 and the price is
//      finite and not negative (-0.0 passes).
//   2. D = exp(-r t), Dq = exp(-q t); discounted spot S = s Dq, strike K = k D.
//   3. Intrinsic I = max(S - K, 0) (call) or max(K - S, 0) (put); upper bound
//      U = S (call) or K (put). NaN unless I - 1e-12 <= price <= U + 1e-12.
//   4. A price at or below I has no time value: 0.0. A price at or above U
//      has no finite volatility: NaN. Deciding both in price units keeps the
//      normalised price below from rounding a few 1e-17 away from zero time
//      value (a spurious volatility) or from b_max (a finite volatility that
//      depends only on the rounding).
//   5. F = S/D, x = ln(F/k), beta = (price/D)/(sqrt(k) sqrt(F)); an
//      in-the-money option keeps only its time value beta - max(iota, 0)
//      (iota the normalised intrinsic value) and becomes the opposite option;
//      a put is mapped to the call at x' = -x, so x' <= 0.
//   6. beta <= 0: 0.0; beta >= b_max = exp(x'/2): NaN (no finite volatility).
//   7. Initial guess and refinement give the total volatility s; the result is
//      s/sqrt(t), or NaN if s is not finite.
// Accuracy: repricing the result gives the target to within some 16 ulps of
// the price (plus the rounding noise of the normalised Black function near
// s); the volatility is recovered as far as the price determines it, to the
// price's rounding over vega.
inline double bsm_iv_kernel_traced(bool is_put, double target_price, double s, double k, double t,
                                   double r, double q, IvTrace& trace) noexcept {
  const IvProblem p = iv_reduce(is_put, target_price, s, k, t, r, q);
  trace.x = p.x;
  trace.beta = p.beta;
  if (p.decided) return p.value;
  const IvGuess guess = iv_initial_guess(p.x, p.ax, p.beta, p.b_max);
  const IvRefined refined = iv_refine(p.x, p.beta, p.b_max, guess);
  trace.branch = guess.branch;
  trace.objective = guess.objective;
  trace.s = refined.s;
  trace.steps = refined.steps;
  return iv_from_total(refined.s, t);
}

// bsm_iv_kernel: the volatility sigma with BSM price target_price, or 0.0 for
// a price without time value, or NaN for invalid inputs, prices outside
// [I - 1e-12, U + 1e-12], prices at or above the attainable maximum and a
// non-finite refined total volatility. See bsm_iv_kernel_traced.
inline double bsm_iv_kernel(bool is_put, double target_price, double s, double k, double t,
                            double r, double q) noexcept {
  IvTrace trace;
  return bsm_iv_kernel_traced(is_put, target_price, s, k, t, r, q, trace);
}

}  // namespace karvex

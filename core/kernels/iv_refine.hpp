// Refinement of the implied-volatility kernel: at most four safeguarded
// Householder steps of third order on one of three objective functions.
#pragma once

#include <cmath>

#include "kernels/iv_guess.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/platform.hpp"

namespace karvex {

// Refined total volatility and the number of Householder steps taken (the
// number of evaluations of the normalised Black function, 0 to 4).
struct IvRefined {
  double s;
  int steps;
};

namespace iv_detail {

inline constexpr double kRefineEps = 2.220446049250313e-16;  // 0x3cb0000000000000, 2^-52
inline constexpr int kMaxSteps = 4;
inline constexpr int kReversalsToBisect = 3;

// Householder factor of third order: the Newton step nu is multiplied by
// (1 + eta nu/2)/(1 + nu (eta + kappa nu/6)), eta = g''/g', kappa = g'''/g'.
template <class V>
inline V householder_factor(V nu, V eta, V kappa) noexcept {
  return (1.0 + (eta * nu) / 2.0) / (1.0 + nu * (eta + (kappa * nu) / 6.0));
}

// b''/b' = b_h = (x/s)^2/s - s/4 and b'''/b' = b_hh = b_h^2 - 3(x/s^2)^2 - 1/4.
template <class V>
inline V b_h(V x, V s) noexcept {
  return ((x / s) * (x / s)) / s - s / 4.0;
}

template <class V>
inline V b_hh(V x, V s, V bh) noexcept {
  return (bh * bh - 3.0 * ((x / (s * s)) * (x / (s * s)))) - 0.25;
}

}  // namespace iv_detail

// The Householder steps of the three objectives at s, from b and b' = bp
// there: templates over the lane type, shared with the block loops.
//   middle  g = b - beta
template <class V>
inline V iv_middle_step(V x, V s, V beta, V b, V bp) noexcept {
  using namespace iv_detail;
  const V bh = b_h(x, s);
  const V nu = (beta - b) / bp;
  return nu * householder_factor(nu, bh, b_hh(x, s, bh));
}

//   lower   g = 1/ln b - 1/ln beta, with ln_b = ln b
template <class V>
inline V iv_lower_step(V x, V s, V ln_beta, V b, V bp, V ln_b) noexcept {
  using namespace iv_detail;
  const V bh = b_h(x, s);
  const V p = bp / b;
  const V nu = (((ln_beta - ln_b) * ln_b) / ln_beta) / p;
  const V eta = bh - p * (1.0 + 2.0 / ln_b);
  const V kappa = (b_hh(x, s, bh) + (2.0 * (p * p)) * (1.0 + (3.0 / ln_b) * (1.0 + 1.0 / ln_b))) -
                  ((3.0 * bh) * p) * (1.0 + 2.0 / ln_b);
  return nu * householder_factor(nu, eta, kappa);
}

//   upper   g = ln((b_max - beta)/(b_max - b)), given as g
template <class V>
inline V iv_upper_step(V x, V s, V b_max, V b, V bp, V g) noexcept {
  using namespace iv_detail;
  const V bh = b_h(x, s);
  const V gamma = bp / (b_max - b);
  const V nu = (-g) / gamma;
  const V eta = bh + gamma;
  const V kappa = b_hh(x, s, bh) + gamma * (2.0 * gamma + 3.0 * bh);
  return nu * householder_factor(nu, eta, kappa);
}

// The control of the refinement around each evaluation of b, as templates
// over the lane type V and its mask type M (double and bool for the scalar
// refinement below, vectors and lane masks for the block loops, where
// `m ? a : b`, `!`, `&&` and `||` act lane by lane): the scalar refinement
// and the block loop (simd/iv_block.hpp) are two schedulers of these.
namespace iv_detail {

// Before evaluation i of b: whether the refinement stops. It stops once
// |ds| <= eps s (abs_ds = |ds|). From i = 1 on (later), the step's sign
// changes are counted, and s is set to the middle of the bracket when they
// reach three or when s has left the open bracket; the refinement then stops
// if the bracket is narrower than eps s, and otherwise goes on from there
// with the count and the step reset. ds_prev takes the step.
template <class V, class M = decltype(V{} < V{})>
[[gnu::always_inline]] inline M refine_stops(bool later, V abs_ds, V& s, V& ds, V& ds_prev,
                                             V& reversals, V s_left, V s_right) noexcept {
  M stop = abs_ds <= kRefineEps * s;
  if (later) {
    reversals = ds * ds_prev < 0.0 ? reversals + 1.0 : reversals;
    const M bisect = !stop && (reversals >= static_cast<double>(kReversalsToBisect) ||
                               !(s > s_left && s < s_right));
    s = bisect ? (s_left + s_right) / 2.0 : s;
    stop = stop || (bisect && s_right - s_left <= kRefineEps * s);
    reversals = bisect ? V{} : reversals;
    ds = bisect ? V{} : ds;
  }
  ds_prev = ds;
  return stop;
}

// After evaluation of b at s: the bracket shrinks to s on the side b is on.
template <class V>
[[gnu::always_inline]] inline void refine_bracket(V s, V beta, V b, V& s_left,
                                                  V& s_right) noexcept {
  const auto right = b > beta && s < s_right;
  const auto left = !right && b < beta && s > s_left;
  s_right = right ? s : s_right;
  s_left = left ? s : s_left;
}

// Where each objective bisects instead of taking its Householder step: the
// middle for b' <= 0, the lower for b <= 0 or b' <= 0, the upper for
// b >= b_max or b' <= DBL_MIN.
template <class V>
[[gnu::always_inline]] inline auto middle_bisects(V bp) noexcept {
  return bp <= 0.0;
}
template <class V>
[[gnu::always_inline]] inline auto lower_bisects(V b, V bp) noexcept {
  return b <= 0.0 || bp <= 0.0;
}
template <class V>
[[gnu::always_inline]] inline auto upper_bisects(V b, V bp, V b_max) noexcept {
  return b >= b_max || bp <= kDblMin;
}

// The argument of the upper objective's logarithm, (b_max - beta)/(b_max - b).
template <class V>
[[gnu::always_inline]] inline V upper_log_argument(V b_max_minus_beta, V b_max, V b) noexcept {
  return b_max_minus_beta / (b_max - b);
}

// The step from s: to the middle of the bracket where the objective bisects,
// else the Householder step, floored at -s/2 (a NaN step becomes -s/2).
template <class V, class M>
[[gnu::always_inline]] inline void refine_advance(V& s, V& ds, V s_left, V s_right, M bisects,
                                                  V step) noexcept {
  const V bisection_step = (s_left + s_right) / 2.0 - s;
  ds = max_num(bisects ? bisection_step : step, (-s) / 2.0);
  s = s + ds;
}

}  // namespace iv_detail

// The state of a refinement between evaluations of b.
struct IvRefinement {
  double s;
  double s_left;
  double s_right;
  double ds;
  double ds_prev;
  double reversals;  // a count, as a double: the lane type's
  int steps;
  IvObjective objective;
  double ln_beta;           // ln beta (lower objective)
  double b_max_minus_beta;  // b_max - beta (upper objective)
};

// iv_refine: solves b(x, s) = beta for s from the guess, x <= 0,
// b_max = exp(x/2).
// Each step i = 0..3: stop once |ds| <= eps s; from i = 1 on, bisect the
// bracket when the step has changed sign three times since the start or the
// last bisection, or when s has left the open bracket (stop if the bracket is
// narrower than eps s); evaluate (b, b') once, shrink the bracket, and take
// the Householder step of the objective:
//   middle  g = b - beta                          (bisection if b' <= 0)
//   lower   g = 1/ln b - 1/ln beta                (bisection if b <= 0 or b' <= 0)
//   upper   g = ln((b_max - beta)/(b_max - b))    (bisection if b >= b_max or
//                                                  b' <= DBL_MIN)
// A step is floored at -s/2 (a NaN step becomes -s/2), so a positive s never
// falls below half its value. A non-finite s is passed back as it is.
//
// Written as a start, a test before each evaluation of b and the step after it
// (iv_refine_start, iv_refine_continues, iv_refine_step), so that a block loop
// can evaluate b for many options at once in between.
inline IvRefinement iv_refine_start(double beta, double b_max, const IvGuess& guess) noexcept {
  using iv_detail::kDblMax;
  return {guess.s0,
          guess.s_left,
          guess.s_right,
          kDblMax,
          kDblMax,
          0.0,
          0,
          guess.objective,
          guess.objective == IvObjective::lower ? platform::log(beta) : 0.0,
          guess.objective == IvObjective::upper ? b_max - beta : 0.0};
}

// Before evaluation i: false once the refinement has stopped (s is its result).
inline bool iv_refine_continues(IvRefinement& r, int i) noexcept {
  return !iv_detail::refine_stops(i > 0, std::fabs(r.ds), r.s, r.ds, r.ds_prev, r.reversals,
                                  r.s_left, r.s_right);
}

// After the evaluation nb = normalised_black(x, r.s): the bracket and the step.
// The Householder step (and its logarithm) is formed only where the objective
// does not bisect.
inline void iv_refine_step(IvRefinement& r, double x, double beta, double b_max,
                           const NormalisedBlack& nb) noexcept {
  using namespace iv_detail;
  const double s = r.s;
  const double b = nb.b;
  const double bp = nb.nu;
  ++r.steps;
  refine_bracket(s, beta, b, r.s_left, r.s_right);
  bool bisects;
  double step = 0.0;
  switch (r.objective) {
    case IvObjective::middle:
      bisects = middle_bisects(bp);
      if (!bisects) step = iv_middle_step(x, s, beta, b, bp);
      break;
    case IvObjective::lower:
      bisects = lower_bisects(b, bp);
      if (!bisects) step = iv_lower_step(x, s, r.ln_beta, b, bp, platform::log(b));
      break;
    default:  // upper
      bisects = upper_bisects(b, bp, b_max);
      if (!bisects) {
        step = iv_upper_step(x, s, b_max, b, bp,
                             platform::log(upper_log_argument(r.b_max_minus_beta, b_max, b)));
      }
      break;
  }
  refine_advance(r.s, r.ds, r.s_left, r.s_right, bisects, step);
}

// The refinement in one call: the total volatility and the number of steps.
inline IvRefined iv_refine(double x, double beta, double b_max, const IvGuess& guess) noexcept {
  IvRefinement r = iv_refine_start(beta, b_max, guess);
  for (int i = 0; i < iv_detail::kMaxSteps && iv_refine_continues(r, i); ++i) {
    iv_refine_step(r, x, beta, b_max, normalised_black(x, r.s));
  }
  return {r.s, r.steps};
}

}  // namespace karvex

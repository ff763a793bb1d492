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

// The state of a refinement between evaluations of b.
struct IvRefinement {
  double s;
  double s_left;
  double s_right;
  double ds;
  double ds_prev;
  int reversals;
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
          0,
          0,
          guess.objective,
          guess.objective == IvObjective::lower ? platform::log(beta) : 0.0,
          guess.objective == IvObjective::upper ? b_max - beta : 0.0};
}

// Before evaluation i: false once the refinement has stopped (s is its result).
inline bool iv_refine_continues(IvRefinement& r, int i) noexcept {
  using iv_detail::kRefineEps;
  if (std::fabs(r.ds) <= kRefineEps * r.s) return false;
  if (i > 0) {
    if (r.ds * r.ds_prev < 0) ++r.reversals;
    if (r.reversals >= iv_detail::kReversalsToBisect || !(r.s > r.s_left && r.s < r.s_right)) {
      r.s = (r.s_left + r.s_right) / 2;
      if (r.s_right - r.s_left <= kRefineEps * r.s) return false;
      r.reversals = 0;
      r.ds = 0;
    }
  }
  r.ds_prev = r.ds;
  return true;
}

// After the evaluation nb = normalised_black(x, r.s): the bracket and the step.
inline void iv_refine_step(IvRefinement& r, double x, double beta, double b_max,
                           const NormalisedBlack& nb) noexcept {
  const double s = r.s;
  const double b = nb.b;
  const double bp = nb.nu;
  ++r.steps;
  if (b > beta && s < r.s_right) {
    r.s_right = s;
  } else if (b < beta && s > r.s_left) {
    r.s_left = s;
  }

  const double bisection_step = (r.s_left + r.s_right) / 2 - s;
  double ds;
  switch (r.objective) {
    case IvObjective::middle:
      ds = bp <= 0 ? bisection_step : iv_middle_step(x, s, beta, b, bp);
      break;
    case IvObjective::lower:
      ds = b <= 0 || bp <= 0 ? bisection_step
                             : iv_lower_step(x, s, r.ln_beta, b, bp, platform::log(b));
      break;
    default:  // upper
      ds = b >= b_max || bp <= iv_detail::kDblMin
               ? bisection_step
               : iv_upper_step(x, s, b_max, b, bp, platform::log(r.b_max_minus_beta / (b_max - b)));
      break;
  }
  r.ds = iv_detail::max_num(ds, (-s) / 2);
  r.s = s + r.ds;
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

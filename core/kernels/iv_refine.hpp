// Refinement of the implied-volatility kernel: at most four safeguarded
// Householder steps of third order on one of three objective functions.
#pragma once

#include <cmath>

#include "kernels/iv_guess.hpp"
#include "kernels/normalised_black.hpp"

namespace karvex {

// Refined total volatility and the number of Householder steps taken (the
// number of evaluations of the normalised Black function, 0 to 4).
struct IvRefined {
  double s;
  int steps;
};

namespace iv_detail {

// Householder factor of third order: the Newton step nu is multiplied by
// (1 + eta nu/2)/(1 + nu (eta + kappa nu/6)), eta = g''/g', kappa = g'''/g'.
inline double householder_factor(double nu, double eta, double kappa) noexcept {
  return (1 + (eta * nu) / 2) / (1 + nu * (eta + (kappa * nu) / 6));
}

}  // namespace iv_detail

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
// with b''/b' = b_h = (x/s)^2/s - s/4 and b'''/b' = b_hh = b_h^2 - 3(x/s^2)^2 - 1/4.
// A step is floored at -s/2 (a NaN step becomes -s/2), so a positive s never
// falls below half its value. A non-finite s is passed back as it is.
inline IvRefined iv_refine(double x, double beta, double b_max, const IvGuess& guess) noexcept {
  using iv_detail::householder_factor;
  using iv_detail::kDblMax;
  using iv_detail::kDblMin;
  constexpr double eps = 2.220446049250313e-16;  // 0x3cb0000000000000, 2^-52
  constexpr int max_steps = 4;
  constexpr int reversals_to_bisect = 3;

  double s = guess.s0;
  double s_left = guess.s_left;
  double s_right = guess.s_right;
  double ds = kDblMax;
  double ds_prev = kDblMax;
  int reversals = 0;
  int steps = 0;
  const double ln_beta = guess.objective == IvObjective::lower ? std::log(beta) : 0.0;
  const double b_max_minus_beta = guess.objective == IvObjective::upper ? b_max - beta : 0.0;

  for (int i = 0; i < max_steps; ++i) {
    if (std::fabs(ds) <= eps * s) break;
    if (i > 0) {
      if (ds * ds_prev < 0) ++reversals;
      if (reversals >= reversals_to_bisect || !(s > s_left && s < s_right)) {
        s = (s_left + s_right) / 2;
        if (s_right - s_left <= eps * s) break;
        reversals = 0;
        ds = 0;
      }
    }
    ds_prev = ds;
    const NormalisedBlack nb = normalised_black(x, s);
    const double b = nb.b;
    const double bp = nb.nu;
    ++steps;
    if (b > beta && s < s_right) {
      s_right = s;
    } else if (b < beta && s > s_left) {
      s_left = s;
    }

    const double bisection_step = (s_left + s_right) / 2 - s;
    const auto b_h = [&] { return ((x / s) * (x / s)) / s - s / 4; };
    const auto b_hh = [&](double bh) {
      return (bh * bh - 3 * ((x / (s * s)) * (x / (s * s)))) - 0.25;
    };
    switch (guess.objective) {
      case IvObjective::middle:
        if (bp <= 0) {
          ds = bisection_step;
        } else {
          const double bh = b_h();
          const double nu = (beta - b) / bp;
          ds = nu * householder_factor(nu, bh, b_hh(bh));
        }
        break;
      case IvObjective::lower:
        if (b <= 0 || bp <= 0) {
          ds = bisection_step;
        } else {
          const double bh = b_h();
          const double ln_b = std::log(b);
          const double p = bp / b;
          const double nu = (((ln_beta - ln_b) * ln_b) / ln_beta) / p;
          const double eta = bh - p * (1 + 2 / ln_b);
          const double kappa = (b_hh(bh) + (2 * (p * p)) * (1 + (3 / ln_b) * (1 + 1 / ln_b))) -
                               ((3 * bh) * p) * (1 + 2 / ln_b);
          ds = nu * householder_factor(nu, eta, kappa);
        }
        break;
      case IvObjective::upper:
        if (b >= b_max || bp <= kDblMin) {
          ds = bisection_step;
        } else {
          const double bh = b_h();
          const double g = std::log(b_max_minus_beta / (b_max - b));
          const double gamma = bp / (b_max - b);
          const double nu = (-g) / gamma;
          const double eta = bh + gamma;
          const double kappa = b_hh(bh) + gamma * (2 * gamma + 3 * bh);
          ds = nu * householder_factor(nu, eta, kappa);
        }
        break;
    }
    ds = iv_detail::max_num(ds, (-s) / 2);
    s = s + ds;
  }
  return {s, steps};
}

}  // namespace karvex

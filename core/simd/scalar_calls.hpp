// The scalar kernels the vector variants fall back to for the lanes on a rare
// path, compiled once for the baseline processor (scalar_calls.cpp): the block
// loops call these and nothing else of the scalar side, and the dispatch calls
// the blocks, so the dependency runs one way.
#pragma once

#include <cstddef>

#include "kernels/iv.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/second_order.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

// Whether option i of `in` is a put (false without a flag).
inline bool put_at(const OptionColumns& in, std::size_t i) noexcept {
  return in.flag != nullptr && in.flag[i] < 0;
}

// The scalar price kernel for option i of `in`: what a block gives to the
// options on a rare path.
double scalar_price(const OptionColumns& in, std::size_t i) noexcept;

// The scalar kernel of Greek `which` for option i of `in` into values[0] (all
// Greeks into values[0 .. kGreekCount - 1] for Greek::all).
void scalar_greeks(Greek which, const OptionColumns& in, std::size_t i, double* values) noexcept;

// The scalar second-order kernel of `set` (one of simd::second_set_at(0 ..), second_order.hpp) for
// option i of `in` into values[0 .. second_count(set) - 1].
void scalar_second_order(SecondSet set, const OptionColumns& in, std::size_t i,
                         double* values) noexcept;

// karvex::cdf, for the lanes in its scaled tails.
double scalar_cdf(double z) noexcept;

// karvex::normalised_black, for the lanes on a rare path.
NormalisedBlack scalar_normalised_black(double x, double s) noexcept;

// The scalar stages of the implied volatility for option i of `in` (the target
// price as sigma): the reduced problem (iv_reduce), the guess's second point
// (iv_guess_second_point), and the guess with the start of its refinement
// (iv_guess_from_points, iv_refine_start).
IvProblem scalar_iv_reduce(const OptionColumns& in, std::size_t i) noexcept;
double scalar_iv_second_point(double beta, double b_max, double s_c,
                              const NormalisedBlack& central) noexcept;
IvRefinement scalar_iv_guess(double x, double ax, double beta, double b_max, double s_c,
                             const NormalisedBlack& central, double s_2,
                             const NormalisedBlack& second) noexcept;

}  // namespace karvex::simd

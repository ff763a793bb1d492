// The entry points of the vector variants, each defined in a translation unit
// of its own compiled for its instruction set, and the scalar kernel calls
// they fall back to (compiled for the baseline processor).
#pragma once

#include <cstddef>

#include "kernels/iv.hpp"
#include "kernels/normalised_black.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

void price_range_avx2(const OptionColumns& in, double* out, std::size_t begin,
                      std::size_t end) noexcept;
void price_range_avx512(const OptionColumns& in, double* out, std::size_t begin,
                        std::size_t end) noexcept;

void greeks_range_avx2(Greek which, const OptionColumns& in, double* const* out, std::size_t begin,
                       std::size_t end) noexcept;
void greeks_range_avx512(Greek which, const OptionColumns& in, double* const* out,
                         std::size_t begin, std::size_t end) noexcept;

void iv_range_avx2(const OptionColumns& in, double* out, std::size_t begin,
                   std::size_t end) noexcept;
void iv_range_avx512(const OptionColumns& in, double* out, std::size_t begin,
                     std::size_t end) noexcept;

// The scalar price kernel for option i of `in`: what a block gives to the
// options on a rare path.
double scalar_price(const OptionColumns& in, std::size_t i) noexcept;

// The scalar kernel of Greek `which` for option i of `in` into values[0] (all
// Greeks into values[0 .. kGreekCount - 1] for Greek::all).
void scalar_greeks(Greek which, const OptionColumns& in, std::size_t i, double* values) noexcept;

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

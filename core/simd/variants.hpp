// The entry points of the vector variants, each defined in a translation unit
// of its own compiled for its instruction set, and the scalar kernel calls
// they fall back to (compiled for the baseline processor).
#pragma once

#include <cstddef>

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

// The scalar price kernel for option i of `in`: what a block gives to the
// options on a rare path.
double scalar_price(const OptionColumns& in, std::size_t i) noexcept;

// The scalar kernel of Greek `which` for option i of `in` into values[0] (all
// five into values[0 .. 4] for Greek::all).
void scalar_greeks(Greek which, const OptionColumns& in, std::size_t i, double* values) noexcept;

// karvex::cdf, for the lanes in its scaled tails.
double scalar_cdf(double z) noexcept;

}  // namespace karvex::simd

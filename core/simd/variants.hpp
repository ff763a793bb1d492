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

// The scalar price kernel for option i of `in`: what a block gives to the
// options on a rare path.
double scalar_price(const OptionColumns& in, std::size_t i) noexcept;

}  // namespace karvex::simd

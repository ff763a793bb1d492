// The normal (Bachelier) model over many options: the entry of the dispatch,
// the vector variants' entry points and the scalar kernels the variants call
// for their rare lanes (compiled for the baseline processor in
// bachelier_dispatch.cpp, so that the dependency runs one way).
#pragma once

#include <cstddef>

#include "kernels/bachelier.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

// What a normal-model loop evaluates: the price, one Greek, all five Greeks in
// one pass (the fields of greek_fields) or the implied volatility.
enum class NormalQuantity : unsigned char { price, delta, gamma, vega, theta, rho, greeks, iv };

// The columns: flag (null: calls; gamma and vega ignore it), the forward as s,
// k, t, r, and sigma (the target price for NormalQuantity::iv); q is not read.
// out[0][i] = the kernel's value (bachelier_price_kernel ... bachelier_iv_kernel)
// for i in [begin, end), and for NormalQuantity::greeks out[0 .. kGreekCount - 1][i]
// = bachelier_greeks_kernel's fields, bit for bit on the given path (which must
// be supported).
void bachelier_range(Path path, NormalQuantity which, const OptionColumns& in, double* const* out,
                     std::size_t begin, std::size_t end) noexcept;

void bachelier_range_avx2(NormalQuantity which, const OptionColumns& in, double* const* out,
                          std::size_t begin, std::size_t end) noexcept;
void bachelier_range_avx512(NormalQuantity which, const OptionColumns& in, double* const* out,
                            std::size_t begin, std::size_t end) noexcept;

// The scalar kernel of `which` for option i into values[0] (values[0 .. kGreekCount - 1]
// for NormalQuantity::greeks).
void scalar_bachelier(NormalQuantity which, const OptionColumns& in, std::size_t i,
                      double* values) noexcept;

// The inversion's reduced problem for option i (the target price as sigma).
BachelierIvProblem scalar_bachelier_iv_reduce(const OptionColumns& in, std::size_t i) noexcept;

}  // namespace karvex::simd

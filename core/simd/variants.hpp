// The entry points of the vector variants, each defined in a translation unit
// of its own compiled for its instruction set.
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

void iv_range_avx2(const OptionColumns& in, double* out, std::size_t begin,
                   std::size_t end) noexcept;
void iv_range_avx512(const OptionColumns& in, double* out, std::size_t begin,
                     std::size_t end) noexcept;

}  // namespace karvex::simd

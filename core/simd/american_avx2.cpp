// The American block loops compiled for AVX2 with FMA: vectors of 4 doubles.
#include "simd/american_block.hpp"

namespace karvex::simd {

void american_price_range_avx2(AmericanMode mode, const OptionColumns& in, double* out,
                               std::int8_t* status, std::size_t begin, std::size_t end) noexcept {
  american_range<Lanes<4>>(mode, in, out, status, begin, end);
}

void american_greeks_range_avx2(AmericanMode mode, const OptionColumns& in, double* const* out,
                                std::size_t begin, std::size_t end) noexcept {
  american_greeks_range<Lanes<4>>(mode, in, out, begin, end);
}

void american_iv_range_avx2(AmericanMode mode, const OptionColumns& in, double* out,
                            std::size_t begin, std::size_t end) noexcept {
  american_iv_range<Lanes<4>>(mode, in, out, begin, end);
}

void american_cdf_range_avx2(const double* z, double* out, std::size_t n) noexcept {
  american_cdf_lanes<Lanes<4>>(z, out, n);
}

}  // namespace karvex::simd

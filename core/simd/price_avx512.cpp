// The price block loop compiled for AVX-512 (F, DQ, VL): vectors of 8 doubles.
#include "simd/price_block.hpp"
#include "simd/variants.hpp"

namespace karvex::simd {

void price_range_avx512(const OptionColumns& in, double* out, std::size_t begin,
                        std::size_t end) noexcept {
  price_blocks<Lanes<8>>(in, out, begin, end);
}

}  // namespace karvex::simd

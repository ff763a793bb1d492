// The Greeks block loops compiled for AVX-512 (F, DQ, VL): vectors of 8 doubles.
#include "simd/greeks_block.hpp"
#include "simd/variants.hpp"

namespace karvex::simd {

void greeks_range_avx512(Greek which, const OptionColumns& in, double* const* out,
                         std::size_t begin, std::size_t end) noexcept {
  greeks_blocks<Lanes<8>>(which, in, out, begin, end);
}

}  // namespace karvex::simd

// The Greeks block loops compiled for AVX2 with FMA: vectors of 4 doubles.
#include "simd/greeks_block.hpp"
#include "simd/variants.hpp"

namespace karvex::simd {

void greeks_range_avx2(Greek which, const OptionColumns& in, double* const* out, std::size_t begin,
                       std::size_t end) noexcept {
  greeks_blocks<Lanes<4>>(which, in, out, begin, end);
}

}  // namespace karvex::simd

// The normal model's block loops compiled for AVX-512 (F, DQ, VL): vectors of 8 doubles.
#include "simd/bachelier_block.hpp"

namespace karvex::simd {

void bachelier_range_avx512(NormalQuantity which, const OptionColumns& in, double* const* out,
                            std::size_t begin, std::size_t end) noexcept {
  bachelier_blocks<Lanes<8>>(which, in, out, begin, end);
}

}  // namespace karvex::simd

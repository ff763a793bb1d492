// The normal model's block loops compiled for AVX2 with FMA: vectors of 4 doubles.
#include "simd/bachelier_block.hpp"

namespace karvex::simd {

void bachelier_range_avx2(NormalQuantity which, const OptionColumns& in, double* const* out,
                          std::size_t begin, std::size_t end) noexcept {
  bachelier_blocks<Lanes<4>>(which, in, out, begin, end);
}

}  // namespace karvex::simd

// The implied-volatility block loop compiled for AVX2 with FMA: vectors of 4 doubles.
#include "simd/iv_block.hpp"
#include "simd/variants.hpp"

namespace karvex::simd {

void iv_range_avx2(const OptionColumns& in, double* out, std::size_t begin,
                   std::size_t end) noexcept {
  iv_blocks<Lanes<4>>(in, out, begin, end);
}

}  // namespace karvex::simd

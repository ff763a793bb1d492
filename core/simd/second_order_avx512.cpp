// The second-order Greeks' block loops compiled for AVX-512 (F, DQ, VL): vectors of 8 doubles.
#include "simd/second_order.hpp"
#include "simd/second_order_block.hpp"

namespace karvex::simd {

void second_order_range_avx512(SecondSet set, const OptionColumns& in, double* const* out,
                               std::size_t begin, std::size_t end) noexcept {
  second_order_blocks<Lanes<8>>(set, in, out, begin, end);
}

}  // namespace karvex::simd

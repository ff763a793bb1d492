// The second-order Greeks' choice of path and their scalar loop, compiled for the baseline
// processor.
#include "simd/second_order.hpp"

#include "kernels/second_order.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {
namespace {

template <SecondSet Set>
void second_order_range_scalar(const OptionColumns& in, double* const* out, std::size_t begin,
                               std::size_t end) noexcept {
  for (std::size_t i = begin; i < end; ++i) {
    double values[second_count(Set)];
    second_order_values<Set>(bsm_second_order_kernel<Set>(put_at(in, i), in.s[i], in.k[i], in.t[i],
                                                          in.r[i], in.q[i], in.sigma[i]),
                             values);
    for (std::size_t o = 0; o < second_count(Set); ++o) out[o][i] = values[o];
  }
}

}  // namespace

void second_order_range(Path path, SecondSet set, const OptionColumns& in, double* const* out,
                        std::size_t begin, std::size_t end) noexcept {
#ifdef KARVEX_SIMD_VARIANTS
  if (path == Path::avx512) return second_order_range_avx512(set, in, out, begin, end);
  if (path == Path::avx2) return second_order_range_avx2(set, in, out, begin, end);
#else
  (void)path;
#endif
  with_second_set(
      set, [&](auto s) { second_order_range_scalar<decltype(s)::value>(in, out, begin, end); });
}

}  // namespace karvex::simd

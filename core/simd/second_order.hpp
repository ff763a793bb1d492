// The second-order Greeks of many options at once, on the process's paths (see dispatch.hpp):
// the scalar loop over bsm_second_order_kernel, and the block loops of AVX2 and AVX-512, which
// return its bits.
#pragma once

#include <cstddef>
#include <utility>

#include "kernels/second_order.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

// The sets of second-order Greeks the loops evaluate: each Greek alone (j < kSecondOrderCount),
// all of them (BSM), and all but dividend rho (Black-76). A function, not an array: an array that
// code uses at run time would be a symbol the vector units share with the baseline code.
inline constexpr std::size_t kSecondSetCount = kSecondOrderCount + 2;
constexpr SecondSet second_set_at(std::size_t j) {
  return j < kSecondOrderCount    ? SecondSet{1} << j
         : j == kSecondOrderCount ? kAllSecond
                                  : kBlack76Second;
}

// Calls fn(std::integral_constant<SecondSet, S>{}) for the set S among second_set_at(0 ..) equal
// to `set` (nothing for any other set).
template <class Fn>
void with_second_set(SecondSet set, Fn&& fn) {
  [&]<std::size_t... J>(std::index_sequence<J...>) {
    ((set == second_set_at(J) ? (fn(std::integral_constant<SecondSet, second_set_at(J)>{}), 0) : 0),
     ...);
  }
  (std::make_index_sequence<kSecondSetCount>{});
}

// out[o][i] = the o-th member of `set` (field order) of bsm_second_order_kernel<set>(flag[i] < 0,
// s[i], k[i], t[i], r[i], q[i], sigma[i]) for i in [begin, end), bit for bit, on the given path.
// A Black-76 evaluation passes the forward as s and the rate again as q. The Greeks that do not
// depend on the option's side take no flag (in.flag may be null).
void second_order_range(Path path, SecondSet set, const OptionColumns& in, double* const* out,
                        std::size_t begin, std::size_t end) noexcept;

// The vector variants, each in a translation unit of its own.
void second_order_range_avx2(SecondSet set, const OptionColumns& in, double* const* out,
                             std::size_t begin, std::size_t end) noexcept;
void second_order_range_avx512(SecondSet set, const OptionColumns& in, double* const* out,
                               std::size_t begin, std::size_t end) noexcept;

}  // namespace karvex::simd

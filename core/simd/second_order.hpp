// The second-order Greeks of many options at once, on the process's paths (see dispatch.hpp):
// the scalar loop over bsm_second_order_kernel, and the block loops of AVX2 and AVX-512, which
// return its bits.
#pragma once

#include <cstddef>
#include <utility>

#include "kernels/second_order.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

// The sets of second-order Greeks the loops evaluate: each Greek alone, all of them (BSM), and
// all but dividend rho (Black-76).
template <std::size_t... J>
constexpr auto second_sets_of(std::index_sequence<J...>) {
  return std::array<SecondSet, sizeof...(J) + 2>{(SecondSet{1} << J)..., kAllSecond,
                                                 kBlack76Second};
}
inline constexpr auto kSecondSets = second_sets_of(std::make_index_sequence<kSecondOrderCount>{});

// Calls fn(std::integral_constant<SecondSet, S>{}) for the set S of kSecondSets equal to `set`
// (nothing for any other set).
template <class Fn>
void with_second_set(SecondSet set, Fn&& fn) {
  [&]<std::size_t... J>(std::index_sequence<J...>) {
    ((set == kSecondSets[J] ? (fn(std::integral_constant<SecondSet, kSecondSets[J]>{}), 0) : 0),
     ...);
  }
  (std::make_index_sequence<kSecondSets.size()>{});
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

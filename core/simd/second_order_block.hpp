// The second-order Greeks of a block of options on vectors of N doubles, lane for lane the bits
// of bsm_second_order_kernel: the block loop of the first-order Greeks (TermsBlock) with the
// second-order formula, second_order_from_terms, in its formula step.
#pragma once

#include <cstddef>

#include "kernels/second_order.hpp"
#include "simd/greeks_block.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

// The formula of a set of second-order Greeks (see FirstOrderFormula): the terms the set uses,
// d1 and d2 always; results in field order.
template <SecondSet Set>
struct SecondOrderFormula {
  static constexpr SecondTerms kUses = second_terms(Set);
  static constexpr std::size_t kOutputs = second_count(Set);
  static constexpr bool kDq = kUses.dq;
  static constexpr bool kDr = kUses.dr;
  static constexpr bool kPdf = kUses.p;
  static constexpr bool kN1 = kUses.n1;
  static constexpr bool kN2 = kUses.n2;
  static constexpr bool kD = true;

  template <class L>
  [[gnu::always_inline]] static void store(double* const* out, std::size_t j,
                                           const BlockTerms<L>& x) noexcept {
    using D = typename L::D;
    const SecondOrderOf<D> g = detail::second_order_from_terms<Set>(
        x.put, x.s, x.k, x.t, x.r, x.q, x.sigma, x.rt, x.d, x.dq, x.dr, x.p, x.n1, x.n2);
    std::size_t o = 0;
    for (std::size_t f = 0; f < kSecondOrderCount; ++f) {
      if ((Set >> f) & 1u) L::store(out[o++] + j, g.*second_order_fields<D>[f]);
    }
  }

  static void scalar(const OptionColumns& in, std::size_t i, double* values) noexcept {
    scalar_second_order(Set, in, i, values);
  }
};

// The set `set` (one of second_set_at(0 ..)) for options [begin, end) into out[0 ..].
template <class L>
void second_order_blocks(SecondSet set, const OptionColumns& in, double* const* out,
                         std::size_t begin, std::size_t end) noexcept {
  with_second_set(set, [&](auto s) {
    terms_blocks<L, SecondOrderFormula<decltype(s)::value>>(in, out, begin, end);
  });
}

}  // namespace karvex::simd

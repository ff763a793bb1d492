// The price of a block of options on vectors of N doubles, lane for lane the
// bits of bsm_price_kernel.
//
// Method: the kernel's steps in stages over a block of up to 128 options,
//   1. (vector) the drift t*(r - q) and the discount exponent -(r*t);
//   2. (scalar) their platform exponentials;
//   3. (vector) the forward F and the ratio F/k;
//   4. (scalar) the platform log of the ratio, the log-moneyness x;
//   5. (vector) the total volatility v = sqrt(t)*sigma, the region of the
//      normalised Black function b(-|x|, v) and the arguments of its
//      exponentials: the erfcx arguments a1 and a2 and the exponent of its
//      vega factor;
//   6. (scalar) the platform exponentials exp(a1*a1), exp(a2*a2) and of the
//      exponent;
//   7. (vector) erfc (fdlibm, exponentials included; the lanes sorted by its
//      argument ranges: ErfcBlock), b and the price;
//   8. (scalar) the scalar kernel for the options on a rare path (and any
//      NaN price).
// Calling exp and log lane by lane inside the vector passes would spill every
// vector register at each call (they are all caller-saved); gathered in tight
// loops between the passes they cost what the scalar loop pays for them. The
// vector passes evaluate the asymptotic, small-volatility and erfcx regions of
// the normalised Black function (BlackRegions; together about 99 % of the
// prices of a book); degenerate inputs (t <= 0, sigma <= 0, x or v not
// finite), the Phi region and erfcx arguments from 26.5 on take the scalar
// kernel, which is the definition of the result.
//
// Written once: every formula and test is a piece the scalar kernel calls
// (kernels/price.hpp, kernels/normalised_black.hpp, kernels/normal.hpp); what
// is written here is the schedule.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/normalised_black.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"
#include "simd/black_regions.hpp"
#include "simd/block.hpp"
#include "simd/lanes.hpp"
#include "simd/normal_lanes.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

template <class L>
struct PriceBlock : BlockInputs<L> {
  using D = typename L::D;
  using I = typename L::I;
  static constexpr std::size_t kSize = kBlockSize;
  using BlockInputs<L>::s, BlockInputs<L>::k, BlockInputs<L>::t, BlockInputs<L>::r,
      BlockInputs<L>::q, BlockInputs<L>::sigma, BlockInputs<L>::put;
  static constexpr std::size_t N = L::size;

  // Lane order: the inputs and what the stages form from them.
  alignas(64) double drift[kSize];                 // t*(r - q)
  alignas(64) double growth[kSize];                // exp(drift), where the drift is not zero
  alignas(64) double discount[kSize];              // -(r*t), then DF
  alignas(64) double F[kSize];                     // the forward
  alignas(64) double x[kSize];                     // F/k, then its log
  alignas(64) double b[kSize];                     // the normalised Black function
  alignas(64) std::int64_t rare_lane_mask[kSize];  // all ones for the options in `rare`
  alignas(64) double buffer[kSize];
  double* out;  // where the prices go: the caller's array, or `buffer`
  BlackRegions<L> regions;
  std::uint32_t rare[kSize];
  std::size_t rare_count;

  void evaluate(const OptionColumns& in, std::size_t base, std::size_t n) noexcept {
    const std::size_t lanes = (n + N - 1) / N * N;

    using namespace detail;
    // 1. drift and discount exponents
    for (std::size_t j = 0; j < lanes; j += N) {
      const D tv = L::load(t + j), rv = L::load(r + j), qv = L::load(q + j);
      L::store(drift + j, price_drift(tv, rv, qv));
      L::store(discount + j, price_discount_exponent(rv, tv));
    }
    // 2. their exponentials; exp(+-0) is exactly 1 and not evaluated
    for (std::size_t i = 0; i < lanes; ++i) {
      growth[i] = price_without_drift<OneLane>(drift[i]) ? 1.0 : platform::exp(drift[i]);
      discount[i] = platform::exp(discount[i]);
    }
    // 3. forward and moneyness ratio
    for (std::size_t j = 0; j < lanes; j += N) {
      const D f = price_forward<L>(L::load(s + j), L::load(drift + j), L::load(growth + j));
      L::store(F + j, f);
      L::store(x + j, price_moneyness_ratio(f, L::load(k + j)));
    }
    // 4. log-moneyness
    for (std::size_t i = 0; i < lanes; ++i) x[i] = platform::log(x[i]);
    // 5. the region of each option and the arguments of its exponentials
    rare_count = 0;
    regions.clear();
    for (std::size_t j = 0; j < lanes; j += N) {
      const D tv = L::load(t + j), sig = L::load(sigma + j), xv = L::load(x + j);
      I rare_lane = ~(tv > 0.0) | ~(sig > 0.0) | ~L::finite(xv);
      const D v = price_total_volatility<L>(tv, sig);
      rare_lane |= ~(v > 0.0) | ~L::finite(v);
      rare_lane = regions.classify(j, n, price_otm_x<L>(xv), v, rare_lane);
      append_lanes<L>(rare, rare_count, rare_lane, j, n);
      L::store_mask(rare_lane_mask + j, rare_lane);
    }
    // 6. each region with its exponentials
    regions.evaluate(b, nullptr);
    // 7. the price (price_from_forward)
    for (std::size_t m = 0; m < rare_count; ++m) b[rare[m]] = 0.0;
    for (std::size_t i = n; i < lanes; ++i) b[i] = 0.0;
    for (std::size_t j = 0; j < lanes; j += N) {
      const D f = L::load(F + j), kv = L::load(k + j), df = L::load(discount + j);
      const D intrinsic = price_intrinsic_part<L>(L::load_mask(put + j), f, kv, df, L::load(x + j));
      const D price = price_from_b<L>(f, kv, df, L::load(b + j), intrinsic);
      L::store(out + j, price);
      // A NaN price takes the scalar kernel too: the sign and payload of a NaN follow the operand
      // order of each compiled copy of a formula, and only the scalar kernel's are the same
      // wherever the pieces of a call begin.
      append_lanes<L>(rare, rare_count, (price != price) & ~L::load_mask(rare_lane_mask + j), j, n);
    }
    // 8. the rare paths
    for (std::size_t m = 0; m < rare_count; ++m) {
      out[rare[m]] = scalar_price(in, base + rare[m]);
    }
  }
};

// The prices of options [begin, end) block by block.
template <class L>
void price_blocks(const OptionColumns& in, double* out, std::size_t begin,
                  std::size_t end) noexcept {
  using Block = PriceBlock<L>;
  Block block;
  for (std::size_t base = begin; base < end; base += Block::kSize) {
    const std::size_t n = end - base < Block::kSize ? end - base : Block::kSize;
    block.load(in, base, n);
    // A block of whole vectors writes the caller's array directly; a last partial one its buffer.
    const bool whole = n % Block::N == 0;
    block.out = whole ? out + base : block.buffer;
    block.evaluate(in, base, n);
    if (whole) continue;
    for (std::size_t i = 0; i < n; ++i) out[base + i] = block.buffer[i];
  }
}

}  // namespace karvex::simd

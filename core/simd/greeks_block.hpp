// The BSM Greeks of a block of options on vectors of N doubles, lane for lane
// the bits of the scalar kernels (bsm_delta_kernel ... bsm_rho_kernel and
// bsm_greeks_kernel; the Black-76 delta, gamma, vega, theta and the first four
// single-pass Black-76 Greeks are these with the rate again as q).
//
// Method: in stages over a block of up to 128 options, as the price block:
//   1. (vector) s/k and the discount exponents -(q*t) and -(r*t);
//   2. (scalar) the platform log and the exponentials the Greek uses;
//   3. (vector) sqrt(t), d1 and d2 (d1_d2_from_terms), the exponent of pdf(d1)
//      and the cdf arguments of the option's side (-d1, -d2 for a put);
//   4. (scalar) the platform exponential of pdf(d1);
//   5. (vector) cdf for |z| < 4 (erf, erfc and the fdlibm exponential as
//      vectors, the lanes sorted by fdlibm's ranges: CdfBlock); 6. the scaled
//      tails of cdf (CdfTails: two platform exponentials per lane, erfc as
//      vectors);
//   7. (vector) the Greeks, by the template the scalar kernel calls: a
//      formula (FirstOrderFormula here: greeks_from_terms; the second-order
//      Greeks' in simd/second_order_block.hpp); 8. (scalar) the kernel itself
//      for degenerate inputs (t <= 0, then sigma <= 0).
// Stages 1 and 2, and 3 and 4, run interleaved: the vector pass of vector j,
// then the platform calls for the lanes of vector j - 1, which do not depend
// on it, so that the processor works through the pass's divisions and square
// root while the calls run (about 10 % off gamma and vega).
// Only what the Greek needs is formed: the delta takes no pdf, no d2 and no
// exp(-(r*t)), gamma and vega no cdf at all.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/combined_greeks.hpp"
#include "kernels/platform.hpp"
#include "simd/block.hpp"
#include "simd/lanes.hpp"
#include "simd/normal_lanes.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

// The terms of the Greeks of one vector of a block, as the formula step reads them: the inputs,
// rt = sqrt(t), d1 and d2, the discount factors, the density p = pdf(d1) and the cdf values of
// the option's side. A term the formula does not use is zero.
template <class L>
struct BlockTerms {
  using D = typename L::D;
  typename L::I put;
  D s, k, t, r, q, sigma, rt;
  D1D2Of<D> d;
  D dq, dr, p, n1, n2;
};

// What a block loop over the Greeks' terms forms and writes, for the first-order Greeks: one of
// them (G), or all in one pass. A formula names the terms it uses (kDq ... kN2, kD for d1 and d2
// themselves), its number of results, how one vector's results are formed from the terms and
// stored (the kernels' template), and the scalar kernel of a degenerate option.
template <Greek G>
struct FirstOrderFormula {
  static constexpr bool kAll = G == Greek::all;
  static constexpr std::size_t kOutputs = kAll ? kGreekCount : 1;
  static constexpr bool kDq = G != Greek::rho;
  static constexpr bool kDr = kAll || G == Greek::theta || G == Greek::rho;
  static constexpr bool kPdf = kAll || G == Greek::gamma || G == Greek::vega || G == Greek::theta;
  static constexpr bool kN1 = kAll || G == Greek::delta || G == Greek::theta;
  static constexpr bool kN2 = kAll || G == Greek::theta || G == Greek::rho;
  static constexpr bool kD = false;

  template <class L>
  [[gnu::always_inline]] static void store(double* const* out, std::size_t j,
                                           const BlockTerms<L>& x) noexcept {
    using D = typename L::D;
    const GreeksOf<D> g = detail::greeks_from_terms(x.put, x.s, x.k, x.t, x.r, x.q, x.sigma, x.rt,
                                                    x.dq, x.dr, x.p, x.n1, x.n2);
    if constexpr (kAll) {
      for (std::size_t o = 0; o < kOutputs; ++o) L::store(out[o] + j, g.*greek_fields<D>[o]);
    } else {
      L::store(out[0] + j, g.*greek_fields<D>[static_cast<std::size_t>(G)]);
    }
  }

  static void scalar(const OptionColumns& in, std::size_t i, double* values) noexcept {
    scalar_greeks(G, in, i, values);
  }
};

template <class L, class Formula>
struct TermsBlock : BlockInputs<L> {
  using D = typename L::D;
  using I = typename L::I;
  static constexpr std::size_t kSize = kBlockSize;
  using BlockInputs<L>::s, BlockInputs<L>::k, BlockInputs<L>::t, BlockInputs<L>::r,
      BlockInputs<L>::q, BlockInputs<L>::sigma, BlockInputs<L>::put;
  static constexpr std::size_t N = L::size;
  static constexpr std::size_t kOutputs = Formula::kOutputs;
  // What the formula uses.
  static constexpr bool kDq = Formula::kDq;
  static constexpr bool kDr = Formula::kDr;
  static constexpr bool kPdf = Formula::kPdf;
  static constexpr bool kN1 = Formula::kN1;
  static constexpr bool kN2 = Formula::kN2;
  static constexpr bool kD = Formula::kD;

  alignas(64) double log_sk[kSize];         // s/k, then its log
  alignas(64) double dq[kSize];             // -(q*t), then exp
  alignas(64) double dr[kSize];             // -(r*t), then exp
  alignas(64) double rt[kSize];             // sqrt(t)
  alignas(64) double p[kSize];              // the exponent of pdf(d1), then its exp
  alignas(64) double z1[kSize], z2[kSize];  // cdf arguments
  alignas(64) double n1[kSize], n2[kSize];  // cdf values
  alignas(64) double d1[kD ? kSize : 1], d2[kD ? kSize : 1];
  alignas(64) double buffer[kOutputs][kSize];
  double* out[kOutputs];  // where the results go: the caller's arrays, or `buffer`
  std::uint32_t rare[kSize];
  std::size_t rare_count;
  CdfBlock<L> cdf_block;

  // pass(j) for each vector j of a block of `lanes` lanes, and after it calls(i) for each lane i
  // of vector j - 1: the calls never wait on the pass just issued.
  template <class Pass, class Calls>
  [[gnu::always_inline]] static void ahead_of_calls(std::size_t lanes, Pass pass,
                                                    Calls calls) noexcept {
    for (std::size_t j = 0; j < lanes + N; j += N) {
      if (j < lanes) pass(j);
      if (j == 0) continue;
      for (std::size_t i = j - N; i < j; ++i) calls(i);
    }
  }

  void evaluate(const OptionColumns& in, std::size_t base, std::size_t n) noexcept {
    const std::size_t lanes = (n + N - 1) / N * N;

    // 1. moneyness ratio and discount exponents, then 2. the platform log and exponentials
    ahead_of_calls(
        lanes,
        [&](std::size_t j) {
          const D tv = L::load(t + j);
          L::store(log_sk + j, detail::moneyness_ratio(L::load(s + j), L::load(k + j)));
          if constexpr (kDq) L::store(dq + j, detail::discount_exponent(L::load(q + j), tv));
          if constexpr (kDr) L::store(dr + j, detail::discount_exponent(L::load(r + j), tv));
        },
        [&](std::size_t i) {
          log_sk[i] = platform::log(log_sk[i]);
          if constexpr (kDq) dq[i] = detail::discount_factor(dq[i]);
          if constexpr (kDr) dr[i] = detail::discount_factor(dr[i]);
        });
    // 3. d1, d2, the pdf exponent and the cdf arguments, then 4. the density's exponential
    rare_count = 0;
    ahead_of_calls(
        lanes,
        [&](std::size_t j) {
          const D tv = L::load(t + j), sig = L::load(sigma + j);
          const I degenerate = detail::greeks_degenerate(tv, sig);
          append_lanes<L>(rare, rare_count, degenerate, j, n);
          const D rtv = detail::root_time<L>(tv);
          const D1D2Of<D> d = detail::d1_d2_from_terms(L::load(log_sk + j), tv, L::load(r + j),
                                                       L::load(q + j), sig, rtv);
          const I is_put = L::load_mask(put + j);
          L::store(rt + j, rtv);
          if constexpr (kD) {
            L::store(d1 + j, d.d1);
            L::store(d2 + j, d.d2);
          }
          // degenerate lanes get harmless arguments: their results are replaced
          if constexpr (kPdf)
            L::store(p + j, L::select(degenerate, D{}, karvex::detail::pdf_exponent(d.d1)));
          if constexpr (kN1)
            L::store(z1 + j, L::select(degenerate, D{}, detail::side(is_put, d.d1)));
          if constexpr (kN2)
            L::store(z2 + j, L::select(degenerate, D{}, detail::side(is_put, d.d2)));
        },
        [&](std::size_t i) {
          if constexpr (kPdf) p[i] = platform::exp(p[i]);
        });
    // 5. and 6. cdf
    if constexpr (kN1) cdf_block.evaluate(z1, n1, lanes, n);
    if constexpr (kN2) cdf_block.evaluate(z2, n2, lanes, n);
    // 7. the Greeks
    for (std::size_t j = 0; j < lanes; j += N) {
      const D zero{};
      const BlockTerms<L> x{L::load_mask(put + j),
                            L::load(s + j),
                            L::load(k + j),
                            L::load(t + j),
                            L::load(r + j),
                            L::load(q + j),
                            L::load(sigma + j),
                            L::load(rt + j),
                            {kD ? L::load(d1 + j) : zero, kD ? L::load(d2 + j) : zero},
                            kDq ? L::load(dq + j) : zero,
                            kDr ? L::load(dr + j) : zero,
                            kPdf ? karvex::detail::pdf_from_exp(L::load(p + j)) : zero,
                            kN1 ? L::load(n1 + j) : zero,
                            kN2 ? L::load(n2 + j) : zero};
      Formula::template store<L>(out, j, x);
    }
    // 8. degenerate inputs
    for (std::size_t m = 0; m < rare_count; ++m) {
      double values[kOutputs];
      Formula::scalar(in, base + rare[m], values);
      for (std::size_t o = 0; o < kOutputs; ++o) out[o][rare[m]] = values[o];
    }
  }
};

// The results of Formula for options [begin, end) block by block into out[0 .. kOutputs - 1].
template <class L, class Formula>
void terms_blocks(const OptionColumns& in, double* const* out, std::size_t begin,
                  std::size_t end) noexcept {
  run_blocks<TermsBlock<L, Formula>>(in, out, begin, end);
}

// The Greek G of options [begin, end) into out[0] (all into out[0 .. kGreekCount - 1] for
// Greek::all).
template <class L, Greek G>
void greeks_blocks(const OptionColumns& in, double* const* out, std::size_t begin,
                   std::size_t end) noexcept {
  terms_blocks<L, FirstOrderFormula<G>>(in, out, begin, end);
}

// Greek `which` at run time.
template <class L>
void greeks_blocks(Greek which, const OptionColumns& in, double* const* out, std::size_t begin,
                   std::size_t end) noexcept {
  switch (which) {
    case Greek::delta:
      return greeks_blocks<L, Greek::delta>(in, out, begin, end);
    case Greek::gamma:
      return greeks_blocks<L, Greek::gamma>(in, out, begin, end);
    case Greek::vega:
      return greeks_blocks<L, Greek::vega>(in, out, begin, end);
    case Greek::theta:
      return greeks_blocks<L, Greek::theta>(in, out, begin, end);
    case Greek::rho:
      return greeks_blocks<L, Greek::rho>(in, out, begin, end);
    case Greek::all:
      return greeks_blocks<L, Greek::all>(in, out, begin, end);
  }
}

}  // namespace karvex::simd

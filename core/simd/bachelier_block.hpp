// The normal (Bachelier) model on a block of options, vectors of N doubles,
// lane for lane the bits of the scalar kernels (kernels/bachelier.hpp).
//
// Method: in stages over a block of up to 128 options, as the Greeks block:
//   1. (vector) w = f - k and the discount exponent -(r*t); (scalar) DF;
//   2. (vector) sqrt(t), s, d; degenerate lanes (t <= 0, then sigma <= 0) and
//      lanes with an infinite d go to the scalar kernel; x = -|d| and the cdf
//      argument of the option's side;
//   3. the time value h(x) and pdf(x) (TimeValueBlock): a's range per lane, the
//      ratio of erfc's tail on vectors, the platform exponentials in a scalar
//      loop, cdf below a = 1.25 by CdfBlock;
//   4. cdf(theta*d) by CdfBlock, for the delta;
//   5. (vector) the results from the kernels' pieces.
// The inversion: the reduced problem per option in a scalar loop (the scalar
// kernel's own reduction, compiled for the baseline processor), the guess on
// vectors with the tail's logarithm in a scalar loop, the time value as above,
// then the Householder step and the volatility on vectors.
// Only what the quantity needs is formed: gamma and vega take no cdf, the delta
// no time value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/bachelier.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/platform.hpp"
#include "simd/bachelier_dispatch.hpp"
#include "simd/block.hpp"
#include "simd/lanes.hpp"

namespace karvex::simd {

// h(x) and pdf(x) for x <= 0 on the lanes of a block (detail::bachelier_time_value), or only
// pdf(x) when `with_h` is false.
template <class L>
struct TimeValueBlock {
  static constexpr std::size_t N = L::size;
  using D = typename L::D;
  using I = typename L::I;

  alignas(64) double e[kBlockSize];           // pdf's exponent, then its exponential
  alignas(64) double big_e[kBlockSize];       // E's exponent, then its exponential
  alignas(64) double z[kBlockSize];           // cdf's argument: x below a = 1.25, else 0
  alignas(64) double n[kBlockSize];           // cdf(z)
  alignas(64) std::int64_t near[kBlockSize];  // a < 1.25: the direct form
  CdfBlock<L> cdf_block;

  static typename L::D argument(typename L::D x) noexcept {
    return detail::cdf_argument<L>(~I{}, x);
  }

  // h[i] and p[i] for x[i], i < lanes (whole vectors); lanes from `valid` on are padding.
  void evaluate(const double* x, double* h, double* p, std::size_t lanes, std::size_t valid,
                bool with_h) noexcept {
    using namespace detail;
    for (std::size_t j = 0; j < lanes; j += N) {
      const D xv = L::load(x + j);
      L::store(e + j, pdf_exponent(xv));
      if (!with_h) continue;
      const D a = argument(xv);
      const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(a));
      const I direct = range.near();
      L::store_mask(near + j, direct);
      L::store(z + j, L::select(direct, xv, D{}));
      D exponent{};
      if (L::any(~direct)) {
        const I band_a = ~direct & range.band_a();
        exponent = bachelier_erfcx_exponent(erfc_tail_ratio<L>(a, I{}, band_a, ~direct & ~band_a));
      }
      L::store(big_e + j, L::select(direct, D{}, exponent));
    }
    for (std::size_t i = 0; i < lanes; ++i) {
      e[i] = platform::exp(e[i]);
      if (with_h && near[i] == 0) big_e[i] = platform::exp(big_e[i]);
    }
    if (with_h) {
      for (std::size_t i = valid; i < lanes; ++i) n[i] = 0.0;
      cdf_block.evaluate(z, n, lanes, valid);
    }
    for (std::size_t j = 0; j < lanes; j += N) {
      const D ev = L::load(e + j);
      const D pv = pdf_from_exp(ev);
      L::store(p + j, pv);
      if (!with_h) continue;
      const D xv = L::load(x + j);
      const D E = bachelier_erfcx(L::load(big_e + j), argument(xv));
      L::store(h + j, L::select(L::load_mask(near + j),
                                bachelier_time_value_direct(xv, pv, L::load(n + j)),
                                bachelier_time_value_scaled(xv, ev, E)));
    }
  }
};

template <class L, NormalQuantity Q>
struct BachelierBlock : BlockInputs<L> {
  using D = typename L::D;
  using I = typename L::I;
  using BlockInputs<L>::s, BlockInputs<L>::k, BlockInputs<L>::t, BlockInputs<L>::r,
      BlockInputs<L>::sigma, BlockInputs<L>::put;
  static constexpr std::size_t N = L::size;
  static constexpr bool kAll = Q == NormalQuantity::greeks;
  static constexpr std::size_t kOutputs = kAll ? kGreekCount : 1;
  // What the quantity uses: the price (and so the time value), pdf, cdf(theta*d).
  static constexpr bool kPrice =
      kAll || Q == NormalQuantity::price || Q == NormalQuantity::theta || Q == NormalQuantity::rho;
  static constexpr bool kPdf =
      kAll || Q == NormalQuantity::gamma || Q == NormalQuantity::vega || Q == NormalQuantity::theta;
  static constexpr bool kCdf = kAll || Q == NormalQuantity::delta;

  alignas(64) double w[kBlockSize];
  alignas(64) double df[kBlockSize];  // -(r*t), then DF
  alignas(64) double rt[kBlockSize], sv[kBlockSize];
  alignas(64) double x[kBlockSize];   // -|d|
  alignas(64) double zc[kBlockSize];  // theta*d
  alignas(64) double h[kBlockSize], p[kBlockSize], n[kBlockSize];
  alignas(64) double buffer[kOutputs][kBlockSize];
  double* out[kOutputs];
  std::uint32_t rare[kBlockSize];
  std::size_t rare_count;
  TimeValueBlock<L> time_value;
  CdfBlock<L> cdf_block;

  void evaluate(const OptionColumns& in, std::size_t base, std::size_t count) noexcept {
    using namespace detail;
    const std::size_t lanes = (count + N - 1) / N * N;
    // 1. w and the discount factor
    for (std::size_t j = 0; j < lanes; j += N) {
      L::store(w + j, bachelier_moneyness(L::load(s + j), L::load(k + j)));
      L::store(df + j, discount_exponent(L::load(r + j), L::load(t + j)));
    }
    for (std::size_t i = 0; i < lanes; ++i) df[i] = discount_factor(df[i]);
    // 2. s, d, and the rare lanes
    rare_count = 0;
    for (std::size_t j = 0; j < lanes; j += N) {
      const D tv = L::load(t + j), sig = L::load(sigma + j);
      const D rtv = bachelier_root_time<L>(tv);
      const D s_total = bachelier_total_volatility(rtv, sig);
      const D d = bachelier_d(L::load(w + j), s_total);
      const I settled = greeks_degenerate(tv, sig) | bachelier_d_infinite<L>(d);
      append_lanes<L>(rare, rare_count, settled, j, count);
      L::store(rt + j, rtv);
      L::store(sv + j, s_total);
      L::store(x + j, L::select(settled, D{}, bachelier_otm_x<L>(d)));
      L::store(zc + j, L::select(settled, D{}, side(L::load_mask(put + j), d)));
    }
    // 3. and 4. the time value and pdf, cdf
    if constexpr (kPrice || kPdf) time_value.evaluate(x, h, p, lanes, count, kPrice);
    if constexpr (kCdf) cdf_block.evaluate(zc, n, lanes, count);
    // 5. the results
    for (std::size_t j = 0; j < lanes; j += N) {
      const I is_put = L::load_mask(put + j);
      const D DF = L::load(df + j), pv = L::load(p + j), rtv = L::load(rt + j);
      const D s_total = L::load(sv + j), tv = L::load(t + j), rv = L::load(r + j);
      D P{};
      if constexpr (kPrice) {
        const D iota = bachelier_intrinsic<L>(is_put, L::load(w + j));
        P = one_nan(bachelier_price_from_terms(iota, s_total, DF, L::load(h + j)));
      }
      GreeksOf<D> g{};
      if constexpr (kCdf) g.delta = delta_from_terms(is_put, DF, L::load(n + j));
      if constexpr (kAll || Q == NormalQuantity::gamma)
        g.gamma = bachelier_gamma_from_terms(s_total, DF, pv);
      if constexpr (kAll || Q == NormalQuantity::vega)
        g.vega = bachelier_vega_from_terms(rtv, DF, pv);
      if constexpr (kAll || Q == NormalQuantity::theta)
        g.theta = bachelier_theta_from_terms(rv, L::load(sigma + j), rtv, DF, pv, P);
      if constexpr (kAll || Q == NormalQuantity::rho) g.rho = bachelier_rho_from_price(tv, P);
      if constexpr (kAll) {
        for (std::size_t o = 0; o < kOutputs; ++o) L::store(out[o] + j, g.*greek_fields<D>[o]);
      } else if constexpr (Q == NormalQuantity::price) {
        L::store(out[0] + j, P);
      } else {
        L::store(out[0] + j, g.*greek_fields<D>[static_cast<std::size_t>(Q) - 1]);
      }
    }
    // degenerate inputs and infinite d
    for (std::size_t m = 0; m < rare_count; ++m) {
      double values[kOutputs];
      scalar_bachelier(Q, in, base + rare[m], values);
      for (std::size_t o = 0; o < kOutputs; ++o) out[o][rare[m]] = values[o];
    }
  }
};

template <class L>
struct BachelierIvBlock : BlockInputs<L> {
  using D = typename L::D;
  using I = typename L::I;
  using BlockInputs<L>::t;
  static constexpr std::size_t N = L::size;
  static constexpr std::size_t kOutputs = 1;

  alignas(64) double tau[kBlockSize], a[kBlockSize], beta[kBlockSize];
  alignas(64) double x[kBlockSize], lg[kBlockSize], xr[kBlockSize];
  alignas(64) double h[kBlockSize], p[kBlockSize];
  alignas(64) std::int64_t tail[kBlockSize];  // the guess's tail form: ln(beta) wanted
  alignas(64) double buffer[kOutputs][kBlockSize];
  double* out[kOutputs];
  std::uint32_t decided[kBlockSize];
  double decided_value[kBlockSize];
  std::size_t decided_count;
  TimeValueBlock<L> time_value;

  void evaluate(const OptionColumns& in, std::size_t base, std::size_t count) noexcept {
    using namespace detail;
    const std::size_t lanes = (count + N - 1) / N * N;
    // the reduced problem, lanes decided by the inputs set aside (their slots get beta = 1)
    decided_count = 0;
    for (std::size_t i = 0; i < lanes; ++i) {
      tau[i] = a[i] = beta[i] = 1.0;
      if (i >= count) continue;
      const BachelierIvProblem problem = scalar_bachelier_iv_reduce(in, base + i);
      if (problem.decided) {
        decided[decided_count] = static_cast<std::uint32_t>(i);
        decided_value[decided_count++] = problem.value;
        continue;
      }
      tau[i] = problem.tau;
      a[i] = problem.a;
      beta[i] = problem.beta;
    }
    // the guess near the money; which lanes take the tail form
    for (std::size_t j = 0; j < lanes; j += N) {
      const D phi = bachelier_phi(L::load(beta + j));
      L::store(x + j, bachelier_guess_near_x(phi));
      L::store_mask(tail + j, ~bachelier_guess_near<L>(phi));
    }
    for (std::size_t i = 0; i < lanes; ++i) {
      lg[i] = tail[i] != 0 ? platform::log(beta[i]) : 0.0;
    }
    // the tail's guess; the lanes refined
    for (std::size_t j = 0; j < lanes; j += N) {
      const I is_tail = L::load_mask(tail + j);
      const D guess =
          L::select(is_tail, bachelier_guess_tail_x<L>(L::select(is_tail, L::load(lg + j), D{})),
                    L::load(x + j));
      L::store(x + j, guess);
      const I refined = bachelier_refined<L>(guess) & ~bachelier_near_money<L>(L::load(beta + j));
      L::store(xr + j, L::select(refined, guess, L::splat(-1.0)));
    }
    time_value.evaluate(xr, h, p, lanes, count, true);
    // the step and the volatility
    for (std::size_t j = 0; j < lanes; j += N) {
      const D betav = L::load(beta + j), tauv = L::load(tau + j), av = L::load(a + j);
      const D guess = L::load(x + j);
      const I near_money = bachelier_near_money<L>(betav);
      const I refined = bachelier_refined<L>(guess) & ~near_money;
      const D stepped =
          bachelier_householder(guess, bachelier_phi(betav), L::load(p + j), L::load(h + j));
      const D root = L::select(refined, stepped, guess);
      const D s_total =
          L::select(near_money, bachelier_near_money_s(tauv, av), bachelier_s_from_x(av, root));
      L::store(out[0] + j, bachelier_iv_from_s<L>(s_total, bachelier_root_time<L>(L::load(t + j))));
    }
    for (std::size_t m = 0; m < decided_count; ++m) out[0][decided[m]] = decided_value[m];
  }
};

template <class L>
void bachelier_blocks(NormalQuantity which, const OptionColumns& in, double* const* out,
                      std::size_t begin, std::size_t end) noexcept {
  switch (which) {
    case NormalQuantity::price:
      return run_blocks<BachelierBlock<L, NormalQuantity::price>>(in, out, begin, end);
    case NormalQuantity::delta:
      return run_blocks<BachelierBlock<L, NormalQuantity::delta>>(in, out, begin, end);
    case NormalQuantity::gamma:
      return run_blocks<BachelierBlock<L, NormalQuantity::gamma>>(in, out, begin, end);
    case NormalQuantity::vega:
      return run_blocks<BachelierBlock<L, NormalQuantity::vega>>(in, out, begin, end);
    case NormalQuantity::theta:
      return run_blocks<BachelierBlock<L, NormalQuantity::theta>>(in, out, begin, end);
    case NormalQuantity::rho:
      return run_blocks<BachelierBlock<L, NormalQuantity::rho>>(in, out, begin, end);
    case NormalQuantity::greeks:
      return run_blocks<BachelierBlock<L, NormalQuantity::greeks>>(in, out, begin, end);
    case NormalQuantity::iv:
      return run_blocks<BachelierIvBlock<L>>(in, out, begin, end);
  }
}

}  // namespace karvex::simd

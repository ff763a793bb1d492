// What the block loops share: the inputs of a block of options in lane order,
// and index lists of the lanes a mask selects.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cmath>

#include "kernels/normal.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"
#include "simd/dispatch.hpp"
#include "simd/lanes.hpp"
#include "simd/normal_lanes.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

inline constexpr std::size_t kBlockSize = 128;  // options per block

template <class L>
struct BlockInputs {
  static constexpr std::size_t N = L::size;

  alignas(64) double s[kBlockSize], k[kBlockSize], t[kBlockSize], r[kBlockSize], q[kBlockSize],
      sigma[kBlockSize];
  alignas(64) std::int64_t put[kBlockSize];  // all ones for a put (never without a flag)

  // Options [base, base + n) of `in` into the block, padded to whole vectors with an ordinary
  // option whose result is dropped.
  void load(const OptionColumns& in, std::size_t base, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
      s[i] = in.s[base + i];
      k[i] = in.k[base + i];
      t[i] = in.t[base + i];
      r[i] = in.r[base + i];
      q[i] = in.q[base + i];
      sigma[i] = in.sigma[base + i];
      put[i] = in.flag != nullptr && in.flag[base + i] < 0 ? -1 : 0;
    }
    for (std::size_t i = n; i % N != 0; ++i) {
      s[i] = k[i] = t[i] = sigma[i] = 1.0;
      r[i] = q[i] = 0.0;
      put[i] = 0;
    }
  }
};

// A block loop's options [begin, end) block by block into out[0 .. Block::kOutputs - 1]: a block
// of whole vectors writes the caller's arrays directly, a last partial one its buffer. Block has
// load (BlockInputs), evaluate(in, base, n), the pointers out and the arrays buffer.
template <class Block>
void run_blocks(const OptionColumns& in, double* const* out, std::size_t begin,
                std::size_t end) noexcept {
  Block block;
  for (std::size_t base = begin; base < end; base += kBlockSize) {
    const std::size_t n = end - base < kBlockSize ? end - base : kBlockSize;
    block.load(in, base, n);
    const bool whole = n % Block::N == 0;
    for (std::size_t o = 0; o < Block::kOutputs; ++o) {
      block.out[o] = whole ? out[o] + base : block.buffer[o];
    }
    block.evaluate(in, base, n);
    if (whole) continue;
    for (std::size_t o = 0; o < Block::kOutputs; ++o) {
      for (std::size_t i = 0; i < n; ++i) out[o][base + i] = block.buffer[o][i];
    }
  }
}

// Appends the lanes j + l selected by `mask` that are below n (not padding) to the index list.
template <class L>
void append_lanes(std::uint32_t* list, std::size_t& count, typename L::I mask, std::size_t j,
                  std::size_t n) noexcept {
  for (unsigned m = L::movemask(mask); m != 0; m &= m - 1) {
    const std::size_t i = j + static_cast<std::size_t>(__builtin_ctz(m));
    if (i < n) list[count++] = static_cast<std::uint32_t>(i);
  }
}

// fdlibm's tail value r(ax) = erfc(ax) (detail::erfc_tail) on lanes that all lie in one band:
// 0.84375 <= ax < 1.25 (pa/qa), then the ra/sa and the rb/sb ratios with two fdlibm exponentials.
enum class TailBand { near, ra_sa, rb_sb };

template <class L>
[[gnu::always_inline]] inline typename L::D erfc_tail_band(TailBand band,
                                                           typename L::D ax) noexcept {
  using I = typename L::I;
  using namespace detail;
  const I all = ~I{}, none = I{};
  switch (band) {
    case TailBand::near:
      return erfc_near(erfc_tail_ratio<L>(ax, all, none, none));
    case TailBand::ra_sa:
      return erfc_far_lanes<L>(ax, erfc_tail_ratio<L>(ax, none, all, none), all);
    default:
      return erfc_far_lanes<L>(ax, erfc_tail_ratio<L>(ax, none, none, all), all);
  }
}

// karvex::cdf in its scaled tails, |z| >= 4, for the lanes of a block that
// CdfBlock leaves: g = 0.5*exp(z*(z*(-0.5))) and erfcx(a) = exp(a*a)*erfc(a)
// with a = z*(-1/sqrt(2)) for z < 0 and z*(1/sqrt(2)) otherwise, then g*erfcx(a)
// below and 1 - g*erfcx(a) above; the two platform exponentials in a scalar
// loop, erfc on vectors. NaN, infinite z and a from 26.5 on (erfcx's
// continued fraction, |z| beyond 37.4, where g has underflowed to about
// 1e-305) take the scalar cdf.
template <class L>
struct CdfTails {
  static constexpr std::size_t N = L::size;
  using D = typename L::D;

  std::uint32_t index[kBlockSize];
  std::size_t count;
  std::uint32_t lane[kBlockSize];  // into the block, of the vector lanes below
  alignas(64) double z[kBlockSize], a[kBlockSize], g[kBlockSize], ea[kBlockSize];

  // cdf(zs[i]) into values[i] for every listed lane i.
  void evaluate(const double* zs, double* values) noexcept {
    using namespace detail;
    std::size_t m = 0;
    for (std::size_t c = 0; c < count; ++c) {
      const std::uint32_t i = index[c];
      const double zi = zs[i];
      const double ai = cdf_argument<OneLane>(zi);
      if (!OneLane::finite(zi) || !erfcx_direct<OneLane>(ai)) {
        values[i] = scalar_cdf(zi);
        continue;
      }
      lane[m] = i;
      z[m] = zi;
      a[m] = ai;
      g[m] = platform::exp(pdf_exponent(zi));
      ea[m] = platform::exp(erfcx_exponent(ai));
      ++m;
    }
    if (m == 0) return;
    for (std::size_t j = m; j % N != 0; ++j) {
      z[j] = z[j - 1];
      a[j] = a[j - 1];
      g[j] = g[j - 1];
      ea[j] = ea[j - 1];
    }
    for (std::size_t j = 0; j < m; j += N) {
      const D X = erfcx_from_erfc(L::load(ea + j), erfc_lanes<L>(L::load(a + j)));
      L::store(g + j, cdf_tail<L>(L::load(z + j), L::load(g + j), X));
    }
    for (std::size_t j = 0; j < m; ++j) values[lane[j]] = g[j];
  }
};

// karvex::cdf for the lanes of a block, the lanes sorted by fdlibm's range of
// a = |z|/sqrt(2) first, so that each vector takes one formula: the small
// argument ratio, the pa/qa ratio near 1, the ra/sa and the rb/sb tails (with
// two fdlibm exponentials); |z| >= 4 and NaN go to CdfTails. Each class is
// the same operations as karvex::cdf on its lanes.
template <class L>
struct CdfBlock {
  static constexpr std::size_t N = L::size;
  using D = typename L::D;
  using I = typename L::I;
  using W = typename L::W;
  enum Class { kSmall, kNear, kBandA, kBandB, kClasses };

  std::uint32_t index[kClasses][kBlockSize];
  std::size_t count[kClasses];
  alignas(64) double z[kBlockSize], value[kBlockSize];
  CdfTails<L> tails;

  // values[i] = cdf(zs[i]) for the lanes i < n of a block of `lanes` lanes.
  void evaluate(const double* zs, double* values, std::size_t lanes, std::size_t n) noexcept {
    using namespace detail;
    for (std::size_t& c : count) c = 0;
    tails.count = 0;
    for (std::size_t j = 0; j < lanes; j += N) {
      const D zv = L::load(zs + j);
      const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(cdf_argument<L>(zv)));
      const I outside = ~cdf_core<L>(zv);
      const I small = ~outside & range.small();
      const I near = ~outside & ~small & range.near();
      const I band_a = ~outside & ~small & ~near & range.band_a();
      const I band_b = ~outside & ~small & ~near & ~band_a;
      append_lanes<L>(tails.index, tails.count, outside, j, n);
      append_lanes<L>(index[kSmall], count[kSmall], small, j, n);
      append_lanes<L>(index[kNear], count[kNear], near, j, n);
      append_lanes<L>(index[kBandA], count[kBandA], band_a, j, n);
      append_lanes<L>(index[kBandB], count[kBandB], band_b, j, n);
    }
    for (std::size_t c = 0; c < kClasses; ++c) {
      const std::size_t m = count[c];
      if (m == 0) continue;
      for (std::size_t i = 0; i < m; ++i) z[i] = zs[index[c][i]];
      for (std::size_t i = m; i % N != 0; ++i) z[i] = z[i - 1];
      for (std::size_t j = 0; j < m; j += N)
        L::store(value + j, of_class(static_cast<Class>(c), L::load(z + j)));
      for (std::size_t i = 0; i < m; ++i) values[index[c][i]] = value[i];
    }
    tails.evaluate(zs, values);
  }

  // cdf(z) on lanes that all fall in class c (karvex::cdf for |z| < 4): erfc(a) on the lower
  // side, erf(a) on the upper.
  static D of_class(Class c, D zv) noexcept {
    using namespace detail;
    const I lower = cdf_lower<L>(zv);
    const D a = cdf_argument<L>(zv);
    if (c == kSmall) {
      const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(a));
      const D y = erf_small_ratio(a);
      return cdf_from_erf<L>(lower,
                             erfc_small<L>(a, range.erfc_tiny(), erfc_below_quarter<L>(a), y),
                             erf_small<L>(a, range.erf_tiny(), y));
    }
    const D r = erfc_tail_band<L>(c == kNear    ? TailBand::near
                                  : c == kBandA ? TailBand::ra_sa
                                                : TailBand::rb_sb,
                                  a);
    // a > 0: erfc(a) = r, erf(a) = 1 - r
    return cdf_from_erf<L>(lower, r, erf_from_tail<L>(I{}, r));
  }
};

// karvex::erfc for the lanes of an array, sorted by fdlibm's ranges of |x| first (as CdfBlock),
// so that each vector takes one formula: the small-argument ratio, the pa/qa ratio near 1, the
// ra/sa and the rb/sb tails; |x| >= 28 and non-finite x take erfc_lanes, every branch.
template <class L>
struct ErfcBlock {
  static constexpr std::size_t N = L::size;
  using D = typename L::D;
  using I = typename L::I;
  using W = typename L::W;
  enum Class { kSmall, kNear, kBandA, kBandB, kOther, kClasses };

  std::uint32_t index[kClasses][kBlockSize];
  std::size_t count[kClasses];
  alignas(64) double x[kBlockSize], value[kBlockSize];

  // values[i] = erfc(xs[i]) for i < n; xs is padded to whole vectors.
  void evaluate(const double* xs, double* values, std::size_t n) noexcept {
    using namespace detail;
    for (std::size_t& c : count) c = 0;
    for (std::size_t j = 0; j < n; j += N) {
      const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(L::load(xs + j)));
      const I small = range.small();
      const I near = ~small & range.near();
      const I band_a = ~small & ~near & range.band_a();
      const I other = ~range.below_28();
      const I band_b = ~small & ~near & ~band_a & ~other;
      append_lanes<L>(index[kSmall], count[kSmall], small, j, n);
      append_lanes<L>(index[kNear], count[kNear], near, j, n);
      append_lanes<L>(index[kBandA], count[kBandA], band_a, j, n);
      append_lanes<L>(index[kBandB], count[kBandB], band_b, j, n);
      append_lanes<L>(index[kOther], count[kOther], other, j, n);
    }
    for (std::size_t c = 0; c < kClasses; ++c) {
      const std::size_t m = count[c];
      if (m == 0) continue;
      for (std::size_t i = 0; i < m; ++i) x[i] = xs[index[c][i]];
      for (std::size_t i = m; i % N != 0; ++i) x[i] = x[i - 1];
      for (std::size_t j = 0; j < m; j += N) {
        L::store(value + j, of_class(static_cast<Class>(c), L::load(x + j)));
      }
      for (std::size_t i = 0; i < m; ++i) values[index[c][i]] = value[i];
    }
  }

  // erfc(x) on lanes that all fall in class c (karvex::erfc).
  static D of_class(Class c, D xv) noexcept {
    using namespace detail;
    if (c == kOther) return erfc_lanes<L>(xv);
    if (c == kSmall) {
      const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(xv));
      return erfc_small<L>(xv, range.erfc_tiny(), erfc_below_quarter<L>(xv), erf_small_ratio(xv));
    }
    const D r = erfc_tail_band<L>(c == kNear    ? TailBand::near
                                  : c == kBandA ? TailBand::ra_sa
                                                : TailBand::rb_sb,
                                  L::fabs(xv));
    return erfc_from_tail<L>(L::sign_set(xv), r);
  }
};

}  // namespace karvex::simd

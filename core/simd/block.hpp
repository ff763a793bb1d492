// What the block loops share: the inputs of a block of options in lane order,
// and index lists of the lanes a mask selects.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cmath>

#include "kernels/normal.hpp"
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
typename L::D erfc_tail_band(TailBand band, typename L::D ax) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using namespace detail;
  if (band == TailBand::near) {
    D P, Q;
    erfc_pa_qa(ax - 1.0, P, Q);
    return erf_coefficients::one_minus_erx - P / Q;
  }
  const D v = 1.0 / (ax * ax);
  D R, S;
  if (band == TailBand::ra_sa) {
    erfc_ra_sa(v, R, S);
  } else {
    erfc_rb_sb(v, R, S);
  }
  return erfc_far_lanes<L>(ax, R / S, ~I{});
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
    using normal_constants::one_over_sqrt2;
    std::size_t m = 0;
    for (std::size_t c = 0; c < count; ++c) {
      const std::uint32_t i = index[c];
      const double zi = zs[i];
      const double ai = zi < 0.0 ? zi * (-one_over_sqrt2) : zi * one_over_sqrt2;
      if (!(std::fabs(zi) <= 0x1.fffffffffffffp+1023) ||
          !(ai < normal_constants::continued_fraction_switch)) {
        values[i] = scalar_cdf(zi);
        continue;
      }
      lane[m] = i;
      z[m] = zi;
      a[m] = ai;
      g[m] = platform::exp(zi * (zi * (-0.5)));
      ea[m] = platform::exp(ai * ai);
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
      const D zv = L::load(z + j);
      const D gv = 0.5 * L::load(g + j);
      const D X = L::load(ea + j) * erfc_lanes<L>(L::load(a + j));
      L::store(g + j, L::select(zv < 0.0, gv * X, 1.0 - gv * X));
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
  enum Class { kSmall, kNear, kBandA, kBandB, kClasses };

  std::uint32_t index[kClasses][kBlockSize];
  std::size_t count[kClasses];
  alignas(64) double z[kBlockSize], value[kBlockSize];
  CdfTails<L> tails;

  // values[i] = cdf(zs[i]) for the lanes i < n of a block of `lanes` lanes.
  void evaluate(const double* zs, double* values, std::size_t lanes, std::size_t n) noexcept {
    using namespace detail;
    using normal_constants::one_over_sqrt2;
    for (std::size_t& c : count) c = 0;
    tails.count = 0;
    for (std::size_t j = 0; j < lanes; j += N) {
      const D zv = L::load(zs + j);
      const D a = L::select(zv < 0.0, zv * (-one_over_sqrt2), zv * one_over_sqrt2);
      const I ix = L::high_word_abs(a);
      const I outside = ~(L::fabs(zv) < normal_constants::cdf_tail_switch);
      const I small = ~outside & (ix < hw_0_84375);
      const I near = ~outside & ~small & (ix < hw_1_25);
      const I band_a = ~outside & ~small & ~near & (ix < hw_1_over_0_35);
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

  // cdf(z) on lanes that all fall in class c (karvex::cdf for |z| < 4).
  static D of_class(Class c, D zv) noexcept {
    using namespace detail;
    using normal_constants::one_over_sqrt2;
    const I below = zv < 0.0;
    const D a = L::select(below, zv * (-one_over_sqrt2), zv * one_over_sqrt2);
    if (c == kSmall) {
      const I ix = L::high_word_abs(a);
      const D y = erf_small_ratio(a * a);
      const D erfc_value =
          L::select(ix < hw_erfc_tiny, 1.0 - a,
                    L::select(a < 0.25, 1.0 - (a + a * y), 0.5 - ((a - 0.5) + a * y)));
      const D erf_value =
          L::select(ix < hw_erf_tiny, 0.125 * (8.0 * a + erf_coefficients::efx8 * a), a + a * y);
      return L::select(below, 0.5 * erfc_value, (erf_value + 1.0) * 0.5);
    }
    const D r = erfc_tail_band<L>(c == kNear    ? TailBand::near
                                  : c == kBandA ? TailBand::ra_sa
                                                : TailBand::rb_sb,
                                  a);
    // erfc(a) = r below, erf(a) = 1 - r above
    return L::select(below, 0.5 * r, ((1.0 - r) + 1.0) * 0.5);
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
  enum Class { kSmall, kNear, kBandA, kBandB, kOther, kClasses };

  std::uint32_t index[kClasses][kBlockSize];
  std::size_t count[kClasses];
  alignas(64) double x[kBlockSize], value[kBlockSize];

  // values[i] = erfc(xs[i]) for i < n; xs is padded to whole vectors.
  void evaluate(const double* xs, double* values, std::size_t n) noexcept {
    using namespace detail;
    for (std::size_t& c : count) c = 0;
    for (std::size_t j = 0; j < n; j += N) {
      const I ix = L::high_word_abs(L::load(xs + j));
      const I small = ix < hw_0_84375;
      const I near = ~small & (ix < hw_1_25);
      const I band_a = ~small & ~near & (ix < hw_1_over_0_35);
      const I band_b = ~small & ~near & ~band_a & (ix < hw_28);
      append_lanes<L>(index[kSmall], count[kSmall], small, j, n);
      append_lanes<L>(index[kNear], count[kNear], near, j, n);
      append_lanes<L>(index[kBandA], count[kBandA], band_a, j, n);
      append_lanes<L>(index[kBandB], count[kBandB], band_b, j, n);
      append_lanes<L>(index[kOther], count[kOther], ix >= hw_28, j, n);
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
    const I ix = L::high_word_abs(xv);
    if (c == kSmall) {
      const D y = erf_small_ratio(xv * xv);
      return L::select(ix < hw_erfc_tiny, 1.0 - xv,
                       L::select(xv < 0.25, 1.0 - (xv + xv * y), 0.5 - ((xv - 0.5) + xv * y)));
    }
    const D r = erfc_tail_band<L>(c == kNear    ? TailBand::near
                                  : c == kBandA ? TailBand::ra_sa
                                                : TailBand::rb_sb,
                                  L::fabs(xv));
    return L::select(L::sign_set(xv), 2.0 - r, r);
  }
};

}  // namespace karvex::simd

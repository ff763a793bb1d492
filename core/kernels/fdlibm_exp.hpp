// The classic freely distributable exponential (fdlibm's e_exp.c), kept so
// that the tail value of erfc reproduces that algorithm to the bit whatever
// the platform's exp does, and for the American kernels' exponentials, which
// it gives the same bits on every vector unit (simd/normal_lanes.hpp). Every
// other exponential is the platform's (platform::exp).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/one_lane.hpp"

namespace karvex {

namespace detail {

namespace fdlibm_exp_constants {
inline constexpr double ln2hi = 0x1.62e42fee00000p-1;         // 6.93147180369123816490e-01
inline constexpr double ln2lo = 0x1.a39ef35793c76p-33;        // 1.90821492927058770002e-10
inline constexpr double invln2 = 0x1.71547652b82fep+0;        // 1.44269504088896338700e+00
inline constexpr double P1 = 0x1.555555555553ep-3;            // 1.66666666666666019037e-01
inline constexpr double P2 = -0x1.6c16c16bebd93p-9;           // -2.77777777770155933842e-03
inline constexpr double P3 = 0x1.1566aaf25de2cp-14;           // 6.61375632143793436117e-05
inline constexpr double P4 = -0x1.bbd41c5d26bf1p-20;          // -1.65339022054652515390e-06
inline constexpr double P5 = 0x1.6376972bea4d0p-25;           // 4.13813679705723846039e-08
inline constexpr double o_threshold = 0x1.62e42fefa39efp+9;   // 7.09782712893383973096e+02
inline constexpr double u_threshold = -0x1.74910d52d3051p+9;  // -7.45133219101941108420e+02
inline constexpr double twom1000 = 0x1p-1000;                 // 2^-1000
}  // namespace fdlibm_exp_constants

// The pieces of fdlibm_exp, templates over the lane type L (OneLane for the
// scalar function below, the vector types for the block loops). Each range
// test is one classifier on the high word hx of |x|; the arithmetic between
// them is written here once.

// The ranges of the argument on the high word hx of |x|, one classifier for
// every choice on it, each test alone and evaluated where it is asked.
template <class L>
struct FdlibmExpRanges {
  typename L::W hx;
  // |x| >= 709.78...: the result may settle at once
  typename L::I large() const noexcept { return hx >= 0x40862e42; }
  // |x| > 0.5*ln2: x = k*ln2 + r
  typename L::I reduced() const noexcept { return hx > 0x3fd62e42; }
  // |x| < 1.5*ln2: k = +-1 (where reduced)
  typename L::I one_step() const noexcept { return hx < 0x3ff0a2b2; }
  // |x| < 2^-28: e^x = 1 + x (where not reduced)
  typename L::I tiny() const noexcept { return hx < 0x3e300000; }
};

template <class L>
inline FdlibmExpRanges<L> fdlibm_exp_ranges(typename L::W hx) noexcept {
  return {hx};
}

// Among large arguments, those whose result is settled: non-finite,
// above o_threshold or below u_threshold.
template <class L>
inline typename L::I fdlibm_exp_settles(typename L::D x, typename L::W hx) noexcept {
  using namespace fdlibm_exp_constants;
  return (hx >= 0x7ff00000) | (x > o_threshold) | (x < u_threshold);
}

// The settled result: x + x for NaN, +inf for +inf and above o_threshold, +0
// for -inf and below u_threshold.
template <class L>
inline typename L::D fdlibm_exp_settled(typename L::D x, typename L::W hx) noexcept {
  using D = typename L::D;
  using namespace fdlibm_exp_constants;
  const D nonfinite = L::select(x != x, x + x, L::select(L::sign_set(x), L::splat(0.0), x));
  return L::select(hx >= 0x7ff00000, nonfinite,
                   L::select(x > o_threshold, L::splat(__builtin_inf()), L::splat(0.0)));
}

template <class L>
inline typename L::D fdlibm_exp_tiny_value(typename L::D x) noexcept {
  return 1.0 + x;
}

// k = +-1: hi = x - (+-ln2hi), lo = +-ln2lo. The classic code's sign-indexed
// tables (+-0.5, +-ln2hi, +-ln2lo by the sign bit of x) are copysign of the
// positive value: the same doubles, without a table in memory on the path to k.
template <class L>
inline void fdlibm_exp_reduce_one(typename L::D x, typename L::D& hi, typename L::D& lo) noexcept {
  using namespace fdlibm_exp_constants;
  hi = x - L::copysign(ln2hi, x);
  lo = L::copysign(ln2lo, x);
}

// The rounded k before its conversion to an integer (truncation):
// invln2*x +- 0.5.
template <class L>
inline typename L::D fdlibm_exp_k(typename L::D x) noexcept {
  using namespace fdlibm_exp_constants;
  return invln2 * x + L::copysign(0.5, x);
}

// hi = x - k*ln2hi (exact here), lo = k*ln2lo, kd the integer k as a double.
template <class L>
inline void fdlibm_exp_reduce(typename L::D x, typename L::D kd, typename L::D& hi,
                              typename L::D& lo) noexcept {
  using namespace fdlibm_exp_constants;
  hi = x - kd * ln2hi;
  lo = kd * ln2lo;
}

// c = x - x*x*(P1 + x*x*(P2 + ... + x*x*P5)) on the primary range, the
// numerator term of e^x = 1 + x + x*c/(2 - c).
template <class V>
inline V fdlibm_exp_c(V x) noexcept {
  using namespace fdlibm_exp_constants;
  const V t = x * x;
  return x - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))));
}

// e^r on the primary range, before the scaling by 2^k: with r = hi - lo for a
// reduced argument, 1 - ((lo - r*c/(2 - c)) - hi); with r = x for one that is
// not (k = 0), 1 - (r*c/(c - 2) - r). One division, its denominator chosen.
template <class L>
inline typename L::D fdlibm_exp_primary(typename L::I reduced, typename L::D x, typename L::D hi,
                                        typename L::D lo) noexcept {
  using D = typename L::D;
  const D r = L::select(reduced, hi - lo, x);
  const D c = fdlibm_exp_c(r);
  const D q = (r * c) / L::select(reduced, 2.0 - c, c - 2.0);
  return L::select(reduced, 1.0 - ((lo - q) - hi), 1.0 - (q - r));
}

// k < -1021: 2^k*y would not be normal, so the scaling goes through 2^-1000.
template <class L>
inline typename L::I fdlibm_exp_deep(typename L::W k) noexcept {
  return k < -1021;
}

// 2^k*y: k added to the exponent field (wrapping arithmetic on the
// representation, as the classic code adds k<<20 to the high word); for a deep
// k, k + 1000 added and the result scaled by 2^-1000.
template <class L>
inline typename L::D fdlibm_exp_scale(typename L::D y, typename L::W k) noexcept {
  using U = typename L::U;
  return L::from_bits(L::bits(y) + ((U)k << 52));
}

template <class L>
inline typename L::D fdlibm_exp_scale_deep(typename L::D y, typename L::W k) noexcept {
  using U = typename L::U;
  constexpr double twom1000 = fdlibm_exp_constants::twom1000;
  return L::from_bits(L::bits(y) + ((U)(k + 1000) << 52)) * twom1000;
}

}  // namespace detail

// fdlibm_exp(x): e^x.
//
// Method: reduce x = k*ln2 + r with |r| <= 0.5*ln2, where ln2 is split in a
// high part (ln2hi, 32 significant bits, so k*ln2hi is exact) and a low part
// (ln2lo). On the reduced range approximate
//   R(r*r) = r*(e^r + 1)/(e^r - 1) = 2 + r*r/6 - r^4/360 + ...
// by the degree-5 polynomial P1..P5 and form
//   e^r = 1 + r + r*c/(2 - c),  c = r - r*r*(P1 + ...),
// then scale by 2^k through the exponent field.
//
// Accuracy: below one ulp.
//
// Special cases: exp(NaN) = NaN, exp(+inf) = +inf, exp(-inf) = +0;
// x > o_threshold overflows to +inf, x < u_threshold underflows to +0;
// |x| < 2^-28 returns 1 + x.
inline double fdlibm_exp(double x) noexcept {
  using L = OneLane;
  using namespace detail;
  const L::W hx = L::high_word_abs(x);
  const FdlibmExpRanges<L> range = fdlibm_exp_ranges<L>(hx);
  if (range.large() && fdlibm_exp_settles<L>(x, hx)) return fdlibm_exp_settled<L>(x, hx);
  if (!range.reduced()) {
    if (range.tiny()) return fdlibm_exp_tiny_value<L>(x);
    return fdlibm_exp_primary<L>(false, x, x, x);
  }
  double hi;
  double lo;
  int k;
  if (range.one_step()) {
    fdlibm_exp_reduce_one<L>(x, hi, lo);
    k = L::sign_set(x) ? -1 : 1;
  } else {
    k = static_cast<int>(fdlibm_exp_k<L>(x));
    fdlibm_exp_reduce<L>(x, k, hi, lo);
  }
  const double y = fdlibm_exp_primary<L>(true, x, hi, lo);
  if (fdlibm_exp_deep<L>(k)) return fdlibm_exp_scale_deep<L>(y, k);
  return fdlibm_exp_scale<L>(y, k);
}

}  // namespace karvex

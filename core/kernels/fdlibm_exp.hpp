// The classic freely distributable exponential (fdlibm's e_exp.c), kept so
// that the tail value of erfc reproduces that algorithm to the bit whatever
// the platform's exp does. Nothing else in the kernels uses it: every other
// exponential is the platform's (platform::exp).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace karvex {

namespace detail {

// High 32 bits of a double's representation (sign, exponent, top of the
// mantissa): the word the fdlibm range tests look at.
inline std::uint32_t high_word(double x) noexcept {
  return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(x) >> 32);
}

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

// c = x - x*x*(P1 + x*x*(P2 + ... + x*x*P5)) on the primary range, the
// numerator term of e^x = 1 + x + x*c/(2 - c). A template over the lane type,
// shared by the scalar kernel (double) and the block loops (vectors of doubles).
template <class V>
inline V fdlibm_exp_c(V x) noexcept {
  using namespace fdlibm_exp_constants;
  const V t = x * x;
  return x - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))));
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
  using namespace detail::fdlibm_exp_constants;

  const std::uint32_t word = detail::high_word(x);
  const int xsb = static_cast<int>(word >> 31);  // sign bit of x
  const std::uint32_t hx = word & 0x7fffffffu;   // high word of |x|

  // |x| >= 709.78...: non-finite arguments, overflow and underflow.
  if (hx >= 0x40862e42u) {
    if (hx >= 0x7ff00000u) {
      if (std::isnan(x)) return x + x;
      return xsb == 0 ? x : 0.0;  // exp(+inf) = +inf, exp(-inf) = +0
    }
    if (x > o_threshold) return std::numeric_limits<double>::infinity();
    if (x < u_threshold) return 0.0;
  }

  // Argument reduction: x = hi - lo = r, e^x = 2^k * e^r. The classic code's
  // sign-indexed tables (+-0.5, +-ln2hi, +-ln2lo by the sign bit of x) are
  // copysign of the positive value: the same doubles, without a table in
  // memory on the path to k.
  double hi = 0.0;
  double lo = 0.0;
  int k = 0;
  if (hx > 0x3fd62e42u) {    // |x| > 0.5*ln2
    if (hx < 0x3ff0a2b2u) {  // and |x| < 1.5*ln2: k = +-1
      hi = x - std::copysign(ln2hi, x);
      lo = std::copysign(ln2lo, x);
      k = 1 - xsb - xsb;
    } else {
      k = static_cast<int>(invln2 * x + std::copysign(0.5, x));
      const double kd = k;
      hi = x - kd * ln2hi;  // kd*ln2hi is exact here
      lo = kd * ln2lo;
    }
    x = hi - lo;
  } else if (hx < 0x3e300000u) {  // |x| < 2^-28
    return 1.0 + x;
  }

  // x is now in the primary range.
  const double c = detail::fdlibm_exp_c(x);
  if (k == 0) return 1.0 - ((x * c) / (c - 2.0) - x);
  const double y = 1.0 - ((lo - (x * c) / (2.0 - c)) - hi);

  // Scale by 2^k: add k to the exponent field (wrapping arithmetic on the
  // representation, as the classic code adds k<<20 to the high word).
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(y);
  if (k >= -1021) {
    return std::bit_cast<double>(bits +
                                 (static_cast<std::uint64_t>(static_cast<std::int64_t>(k)) << 52));
  }
  const std::uint64_t scaled =
      bits + (static_cast<std::uint64_t>(static_cast<std::int64_t>(k + 1000)) << 52);
  return std::bit_cast<double>(scaled) * twom1000;
}

}  // namespace karvex

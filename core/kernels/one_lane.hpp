// The scalar double as a lane type: the one-lane case of the vector types the
// block loops use (simd/lanes.hpp), with the same names, so that a formula
// written once as a template over the lane type L serves both.
//
// A lane type L has D (the values), I (the masks: what a comparison of two D
// gives), W (signed integer words, such as the high word of a D) and U (the
// representation of a D), and the operations below. Masks are combined with
// &, | and ! (never ~: on the scalar case a mask is a bool). A template takes
// its choices through L::select; the scalar kernels call it inside their
// branches, with masks that are constants there, and the compiler keeps only
// the branch taken.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace karvex {

struct OneLane {
  static constexpr std::size_t size = 1;
  using D = double;
  using I = bool;
  using W = std::int64_t;
  using U = std::uint64_t;

  static D splat(double c) noexcept { return c; }
  static U bits(D x) noexcept { return std::bit_cast<U>(x); }
  static D from_bits(U u) noexcept { return std::bit_cast<D>(u); }
  static D select(I m, D a, D b) noexcept { return m ? a : b; }
  static bool any(I m) noexcept { return m; }
  static D sqrt(D x) noexcept { return std::sqrt(x); }
  static D fabs(D x) noexcept { return std::fabs(x); }
  static D copysign(double magnitude, D sign_of) noexcept {
    return std::copysign(magnitude, sign_of);
  }
  // The high word of |x| (sign cleared).
  static W high_word_abs(D x) noexcept { return static_cast<W>((bits(x) >> 32) & 0x7fffffffu); }
  // Whether the sign bit of x is set.
  static I sign_set(D x) noexcept { return (bits(x) >> 63) != 0; }
  // max(v, +0.0) as IEEE maxNum with +0.0: NaN, -0.0 and negatives give +0.0.
  static D max0(D v) noexcept { return v > 0.0 ? v : 0.0; }
  // |x| <= DBL_MAX: neither infinite nor NaN.
  static I finite(D x) noexcept { return std::fabs(x) <= 0x1.fffffffffffffp+1023; }
};

}  // namespace karvex

// Vectors of N doubles (N = 4 for AVX2, 8 for AVX-512) for the block loops,
// and the few operations the compiler's vector extensions do not spell
// directly: masks, selection, square root, absolute value, the high word of
// the representation and the test "any lane".
//
// Arithmetic on these vectors is lane-wise IEEE arithmetic in the order the
// source writes it, as for double: under -ffp-contract=off a formula written
// once as a template over the lane type rounds the same in every lane as in
// the scalar kernel. Only the translation units of the vector variants include
// this header; every function here is a template over the vector width, so
// the AVX2 and AVX-512 instantiations never share a symbol with each other or
// with code compiled for the baseline processor.
#pragma once

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace karvex::simd {

// The vector types of each width (spelled out: the compiler does not carry a
// vector attribute through a dependent alias).
template <std::size_t N>
struct VectorTypes;

template <>
struct VectorTypes<4> {
  typedef double D __attribute__((vector_size(32)));         // doubles
  typedef std::int64_t I __attribute__((vector_size(32)));   // masks and signed words
  typedef std::uint64_t U __attribute__((vector_size(32)));  // representations
  typedef std::int32_t K __attribute__((vector_size(16)));   // exponents k of 2^k
};

template <>
struct VectorTypes<8> {
  typedef double D __attribute__((vector_size(64)));
  typedef std::int64_t I __attribute__((vector_size(64)));
  typedef std::uint64_t U __attribute__((vector_size(64)));
  typedef std::int32_t K __attribute__((vector_size(32)));
};

template <std::size_t N>
struct Lanes {
  static constexpr std::size_t size = N;
  using D = typename VectorTypes<N>::D;
  using I = typename VectorTypes<N>::I;
  using W = typename VectorTypes<N>::I;  // signed words: the mask type's lanes
  using U = typename VectorTypes<N>::U;
  using K = typename VectorTypes<N>::K;

  static D splat(double c) { return D{} + c; }
  static D load(const double* p) {
    D v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(double* p, D v) { __builtin_memcpy(p, &v, sizeof v); }
  static I load_mask(const std::int64_t* p) {
    I v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  }
  static void store_mask(std::int64_t* p, I v) { __builtin_memcpy(p, &v, sizeof v); }

  static U bits(D x) { return (U)x; }
  static D from_bits(U u) { return (D)u; }

  // m ? a : b lane by lane, m all ones or all zeros per lane.
  static D select(I m, D a, D b) { return m ? a : b; }
  // A bit per lane, lane j in bit j.
  static unsigned movemask(I m) {
    if constexpr (N == 8) {
      return static_cast<unsigned>(_mm512_movepi64_mask((__m512i)m));
    } else {
      return static_cast<unsigned>(_mm256_movemask_pd((__m256d)m));
    }
  }
  static bool any(I m) { return movemask(m) != 0; }

  static D sqrt(D x) {
    if constexpr (N == 8) {
      // (the masked form: the plain one trips a false uninitialised warning)
      return (D)_mm512_mask_sqrt_pd((__m512d)x, 0xff, (__m512d)x);
    } else {
      return (D)_mm256_sqrt_pd((__m256d)x);
    }
  }
  static D fabs(D x) { return from_bits(bits(x) & 0x7fffffffffffffffu); }
  static D copysign(double magnitude, D sign_of) {
    return from_bits((bits(sign_of) & 0x8000000000000000u) |
                     std::bit_cast<std::uint64_t>(magnitude));
  }
  // The high word of |x| (sign cleared), as a non-negative signed lane.
  static W high_word_abs(D x) { return (W)((bits(x) >> 32) & 0x7fffffffu); }
  // All ones where the sign bit of x is set.
  static I sign_set(D x) { return (I)bits(x) < 0; }
  // max(v, +0.0) as max0 forms it: NaN, -0.0 and negatives give +0.0.
  static D max0(D v) { return select(v > 0.0, v, D{}); }
  // |x| <= DBL_MAX: neither infinite nor NaN.
  static I finite(D x) { return fabs(x) <= 0x1.fffffffffffffp+1023; }
};

}  // namespace karvex::simd

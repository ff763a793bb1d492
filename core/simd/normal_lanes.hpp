// The classic exponential and the complementary error function on vectors of
// doubles, lane for lane the bits of karvex::fdlibm_exp and karvex::erfc.
//
// Method: every formula comes from the templates the scalar functions use
// (fdlibm_exp_c, erf_small_ratio, erfc_pa_qa, erfc_ra_sa, erfc_rb_sb); what is
// written here again is only the choice among them. The scalar code branches
// on the high word of its argument; a vector takes every branch that one of
// its lanes takes and selects per lane, with the same tests in the same order.
// A branch no lane takes is skipped ("any lane" guards), so the rare paths
// (non-finite arguments, overflow, the 2^-1000 rescaling) cost nothing when
// absent. Lanes that a branch does not concern are given a harmless argument
// where the branch would otherwise run into a slow path; a division is shared
// between branches by selecting its operands, never duplicated.
#pragma once

#include <cstdint>

#include "kernels/normal.hpp"
#include "simd/lanes.hpp"

namespace karvex::simd {

template <class L>
typename L::D fdlibm_exp_lanes(typename L::D x) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using U = typename L::U;
  using K = typename L::K;
  using namespace detail::fdlibm_exp_constants;

  const I hx = L::high_word_abs(x);
  const I negative = L::sign_set(x);

  // |x| >= 709.78...: non-finite arguments, overflow and underflow.
  const I large = hx >= 0x40862e42;
  I settled = I{};
  D settled_value = D{};
  if (L::any(large)) {
    const I nonfinite = hx >= 0x7ff00000;
    const D nonfinite_value = L::select(x != x, x + x, L::select(negative, D{}, x));
    const I over = ~nonfinite & (x > o_threshold);
    const I under = ~nonfinite & (x < u_threshold);
    settled = large & (nonfinite | over | under);
    settled_value =
        L::select(nonfinite, nonfinite_value, L::select(over, L::splat(__builtin_inf()), D{}));
  }

  // Argument reduction as the scalar code does it, per lane: k = +-1 below
  // 1.5*ln2, the rounded k above; nothing below 0.5*ln2.
  const I reduced = ~settled & (hx > 0x3fd62e42);
  const I one_step = reduced & (hx < 0x3ff0a2b2);
  const I general = reduced & ~one_step;
  const D x_for_k = L::select(general, x, D{});
  const K k32 = __builtin_convertvector(invln2 * x_for_k + L::copysign(0.5, x_for_k), K);
  I k = __builtin_convertvector(k32, I);
  const D kd = __builtin_convertvector(k, D);
  const D hi_general = x - kd * ln2hi;
  const D lo_general = kd * ln2lo;
  const D hi_one = x - L::copysign(ln2hi, x);
  const D lo_one = L::copysign(ln2lo, x);
  k = one_step ? (1 - ((negative & 1) << 1)) : k;
  const D hi = L::select(one_step, hi_one, hi_general);
  const D lo = L::select(one_step, lo_one, lo_general);
  const D xr = L::select(reduced, hi - lo, x);

  // x is now in the primary range; k = 0 exactly on the lanes not reduced.
  const D c = detail::fdlibm_exp_c(xr);
  const D q = (xr * c) / L::select(reduced, 2.0 - c, c - 2.0);
  const D y_unreduced = 1.0 - (q - xr);
  const D y = 1.0 - ((lo - q) - hi);

  // Scale by 2^k through the exponent field.
  const U ybits = L::bits(y);
  D scaled = L::from_bits(ybits + ((U)k << 52));
  const I deep = reduced & (k < -1021);
  if (L::any(deep)) {
    constexpr double twom1000_value = twom1000;
    const D rescaled = L::from_bits(ybits + ((U)(k + 1000) << 52)) * twom1000_value;
    scaled = L::select(deep, rescaled, scaled);
  }

  const I tiny = hx < 0x3e300000;
  D result = L::select(reduced, scaled, L::select(tiny, 1.0 + x, y_unreduced));
  return L::select(settled, settled_value, result);
}

// The tail value erfc(ax) from 1.25 on (detail::erfc_tail), from the ratio R/S
// of the lane's band: exp(-w*w - 0.5625)*exp((w - ax)*(w + ax) + R/S)/ax, on the
// lanes of `active` (the others get harmless exponents).
template <class L>
typename L::D erfc_far_lanes(typename L::D ax, typename L::D ratio, typename L::I active) noexcept {
  using D = typename L::D;
  const D w = L::from_bits(L::bits(ax) & 0xffffffff00000000u);
  const D e1 = fdlibm_exp_lanes<L>(L::select(active, -w * w - 0.5625, D{}));
  const D e2 = fdlibm_exp_lanes<L>(L::select(active, (w - ax) * (w + ax) + ratio, D{}));
  const D r = e1 * e2;
  return r / ax;
}

// The tail value erfc(ax) for 0.84375 <= ax < 28 (detail::erfc_tail), on the
// lanes of `active`; other lanes return an unspecified value.
template <class L>
typename L::D erfc_tail_lanes(typename L::D ax, typename L::I ix, typename L::I active) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using namespace detail;
  using erf_coefficients::one_minus_erx;

  const I near = active & (ix < hw_1_25);
  const I far = active & ~near;
  D P = L::splat(1.0), Q = L::splat(1.0);
  if (L::any(near)) erfc_pa_qa(ax - 1.0, P, Q);
  if (L::any(far)) {
    const D v = 1.0 / (ax * ax);
    const I band_a = ix < hw_1_over_0_35;
    D Ra = L::splat(1.0), Sa = L::splat(1.0), Rb = L::splat(1.0), Sb = L::splat(1.0);
    if (L::any(far & band_a)) erfc_ra_sa(v, Ra, Sa);
    if (L::any(far & ~band_a)) erfc_rb_sb(v, Rb, Sb);
    P = L::select(near, P, L::select(band_a, Ra, Rb));
    Q = L::select(near, Q, L::select(band_a, Sa, Sb));
  }
  const D ratio = P / Q;  // P/Q on the lanes near 1, R/S on the others
  D result = one_minus_erx - ratio;
  if (L::any(far)) result = L::select(far, erfc_far_lanes<L>(ax, ratio, far), result);
  return result;
}

// erfc(x) lane by lane (karvex::erfc).
template <class L>
typename L::D erfc_lanes(typename L::D x) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using namespace detail;

  const I ix = L::high_word_abs(x);
  const I negative = L::sign_set(x);
  const I nonfinite = ix >= hw_inf;
  const I small = ix < hw_0_84375;
  const I tail = ~small & (ix < hw_28);

  // |x| >= 28 (finite): 0 or 2.
  D result = L::select(negative, L::splat(2.0), D{});
  if (L::any(nonfinite)) {
    const D sign2 = L::select(negative, L::splat(2.0), D{});
    result = L::select(nonfinite, 1.0 / x + sign2, result);
  }
  if (L::any(small)) {
    const D y = erf_small_ratio(x * x);
    const D below_quarter = 1.0 - (x + x * y);
    const D from_quarter = 0.5 - ((x - 0.5) + x * y);
    D r = L::select(x < 0.25, below_quarter, from_quarter);
    r = L::select(ix < hw_erfc_tiny, 1.0 - x, r);
    result = L::select(small, r, result);
  }
  if (L::any(tail)) {
    const D r = erfc_tail_lanes<L>(L::fabs(x), ix, tail);
    result = L::select(tail, L::select(negative, 2.0 - r, r), result);
  }
  return result;
}

}  // namespace karvex::simd

// The classic exponential and the complementary error function on vectors of
// doubles, lane for lane the bits of karvex::fdlibm_exp and karvex::erfc.
//
// Method: every formula and every range test is a piece the scalar functions
// use too (kernels/fdlibm_exp.hpp, kernels/normal.hpp); what is written here is
// only the schedule. The scalar code branches
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

// fdlibm_exp lane by lane: the same pieces, every branch one of the lanes
// takes, selected per lane.
template <class L>
typename L::D fdlibm_exp_lanes(typename L::D x) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using W = typename L::W;
  using K = typename L::K;
  using namespace detail;

  const W hx = L::high_word_abs(x);
  I settled = I{};
  D settled_value = D{};
  const FdlibmExpRanges<L> range = fdlibm_exp_ranges<L>(hx);
  const I large = range.large();
  if (L::any(large)) {
    settled = large & fdlibm_exp_settles<L>(x, hx);
    settled_value = fdlibm_exp_settled<L>(x, hx);
  }

  // The reduction per lane: k = +-1 below 1.5*ln2, the rounded k above;
  // nothing below 0.5*ln2 (k = 0 there).
  const I reduced = ~settled & range.reduced();
  const I one_step = reduced & range.one_step();
  const I general = reduced & ~one_step;
  const K k32 = __builtin_convertvector(fdlibm_exp_k<L>(L::select(general, x, D{})), K);
  W k = __builtin_convertvector(k32, W);
  D hi, lo, hi_one, lo_one;
  fdlibm_exp_reduce<L>(x, __builtin_convertvector(k32, D), hi, lo);
  fdlibm_exp_reduce_one<L>(x, hi_one, lo_one);
  k = one_step ? (1 - ((L::sign_set(x) & 1) << 1)) : k;
  hi = L::select(one_step, hi_one, hi);
  lo = L::select(one_step, lo_one, lo);

  const D y = fdlibm_exp_primary<L>(reduced, x, hi, lo);
  D result = fdlibm_exp_scale<L>(y, k);
  const I deep = reduced & fdlibm_exp_deep<L>(k);
  if (L::any(deep)) result = L::select(deep, fdlibm_exp_scale_deep<L>(y, k), result);
  result = L::select(~reduced & range.tiny(), fdlibm_exp_tiny_value<L>(x), result);
  return L::select(settled, settled_value, result);
}

// The tail value erfc(ax) from 1.25 on (detail::erfc_tail) from the ratio R/S
// of the lane's band, on the lanes of `active` (the others get harmless
// exponents).
template <class L>
typename L::D erfc_far_lanes(typename L::D ax, typename L::D ratio, typename L::I active) noexcept {
  using D = typename L::D;
  D e1, e2;
  detail::erfc_far_exponents<L>(ax, ratio, e1, e2);
  return detail::erfc_far(ax, fdlibm_exp_lanes<L>(L::select(active, e1, D{})),
                          fdlibm_exp_lanes<L>(L::select(active, e2, D{})));
}

// The tail value erfc(ax) for 0.84375 <= ax < 28 (detail::erfc_tail), on the
// lanes of `active`; other lanes return an unspecified value.
template <class L>
typename L::D erfc_tail_lanes(typename L::D ax, const detail::ErfRanges<L>& range,
                              typename L::I active) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using namespace detail;

  const I near = active & range.near();
  const I far = active & ~near;
  const I band_a = far & range.band_a();
  const D ratio = erfc_tail_ratio<L>(ax, near, band_a, far & ~band_a);
  D result = erfc_near(ratio);
  if (L::any(far)) result = L::select(far, erfc_far_lanes<L>(ax, ratio, far), result);
  return result;
}

// erfc(x) lane by lane (karvex::erfc).
template <class L>
typename L::D erfc_lanes(typename L::D x) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using W = typename L::W;
  using namespace detail;

  const W ix = L::high_word_abs(x);
  const I negative = L::sign_set(x);
  const ErfRanges<L> range = erf_ranges<L>(ix);
  const I nonfinite = range.nonfinite();
  const I small = range.small();
  const I tail = ~small & range.below_28();

  D result = erfc_saturated<L>(negative);
  if (L::any(nonfinite)) result = L::select(nonfinite, erfc_nonfinite<L>(x), result);
  if (L::any(small)) {
    const D y = erf_small_ratio(x);
    result =
        L::select(small, erfc_small<L>(x, range.erfc_tiny(), erfc_below_quarter<L>(x), y), result);
  }
  if (L::any(tail)) {
    const D r = erfc_tail_lanes<L>(L::fabs(x), range, tail);
    result = L::select(tail, erfc_from_tail<L>(negative, r), result);
  }
  return result;
}

}  // namespace karvex::simd

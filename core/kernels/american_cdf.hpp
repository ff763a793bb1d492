// The normal distribution function of the American kernels: Phi(z) written once over the lane
// type, every range of the argument evaluated with selects, so that a vector of arguments takes
// no scalar path, and the same bits on every lane type. The American kernels ask for Phi at
// thousands of quadrature points, many of them in the tails, where karvex::cdf leaves the vector
// units for a scalar exponential per lane; their operation order is their own, so they use this
// one.
//
// Method: with x = |z|*(1/sqrt(2)) (rounded), Phi(z) = 0.5*erfc(x) for z < 0 and 1 - 0.5*erfc(x)
// for z >= 0, erfc by fdlibm's rational approximations (kernels/normal.hpp's pieces):
//   x < 0.84375:        erf(x) = x + x*P(x*x)/Q(x*x) (pp/qq), Phi = 0.5 + 0.5*erf(x) above,
//                       0.5*erfc(x) below, erfc(x) = 1 - erf(x) for x < 0.25 and
//                       0.5 - ((x - 0.5) + x*P/Q) from there on;
//   0.84375 <= x < 1.25: erfc(x) = (1 - erx) - P(x - 1)/Q(x - 1) (pa/qa);
//   1.25 <= x < 28:      erfc(x) = exp(-x*x - 0.5625 + R(v)/S(v))/x, v = 1/(x*x), with the
//                       ra/sa sets below 1/0.35 and rb/sb above;
//   x >= 28:             erfc(x) = 0 (Phi = 0 or 1).
// In the tails the exponent -x*x = -z*z/2 is taken from z itself, not from the rounded x, and
// split exactly: w = |z| with its low 32 bits cleared, e1 = (w*w)*(-0.5) - 0.5625 (exact) and
// e2 = ((w - |z|)*(w + |z|))*0.5 + R/S, erfc(x) = exp(e1)*exp(e2)/x. So the rounding of z*z
// never enters an exponential and the lower tail keeps its accuracy down to z = -37; the rounded
// x enters only the ratio (where an ulp of x moves R/S by far less than an ulp) and the
// division. Both exponentials are fdlibm_exp (fdlibm_exp_lanes on vectors): the caller takes
// them between american_cdf_terms and american_cdf_from_exp, the terms in, the formula out.
//
// Accuracy: a few ulps on [-37, 37] (the test pins the bound against high-precision values).
//
// Special cases: Phi(+-0) = 0.5, Phi(NaN) = NaN (z + z), Phi = 0 for z <= -39.6 and 1 for
// z >= 39.6 (x >= 28), infinities included.
#pragma once

#include <cstdint>

#include "kernels/normal.hpp"
#include "kernels/one_lane.hpp"

namespace karvex {

namespace detail {

// The terms of Phi(z) before its two exponentials: the choices on the lanes, the rational
// approximations, and the exponents e1, e2 of the tail (0 where a lane is not in the tail, so
// that no lane takes a slow path of the exponential).
template <class L>
struct AmericanCdfTerms {
  using D = typename L::D;
  using I = typename L::I;
  D z, x;       // the argument, |z|*(1/sqrt(2))
  I lower;      // z < 0
  I small;      // x < 0.84375
  I near;       // 0.84375 <= x < 1.25
  I far;        // 1.25 <= x < 28
  I saturated;  // x >= 28, inf and NaN
  D y;          // P/Q of the pp/qq sets (small)
  D ratio;      // P/Q of the pa/qa sets (near), R/S (far)
  D e1, e2;     // the exponents of the tail
};

// e1 = (w*w)*(-0.5) - 0.5625 and e2 = ((w - az)*(w + az))*0.5 + ratio, az = |z| and w = az with
// its low 32 bits cleared: w*w and the sum e1 are exact, w - az is exact.
template <class L>
inline void american_cdf_exponents(typename L::D az, typename L::D ratio, typename L::D& e1,
                                   typename L::D& e2) noexcept {
  using D = typename L::D;
  const D w = L::from_bits(L::bits(az) & 0xffffffff00000000u);
  e1 = (w * w) * (-0.5) - 0.5625;
  e2 = ((w - az) * (w + az)) * 0.5 + ratio;
}

template <class L>
inline AmericanCdfTerms<L> american_cdf_terms(typename L::D z) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  AmericanCdfTerms<L> t;
  t.z = z;
  const D az = L::fabs(z);
  t.x = az * normal_constants::one_over_sqrt2;
  const ErfRanges<L> range = erf_ranges<L>(L::high_word_abs(t.x));
  t.lower = cdf_lower<L>(z);
  t.saturated = !range.below_28();
  t.small = range.small();
  t.near = (!t.small) & range.near();
  t.far = (!range.near()) & (!t.saturated);
  const I band_a = t.far & range.band_a();
  t.y = L::splat(0.0);
  if (L::any(t.small)) t.y = erf_small_ratio(t.x);
  t.ratio = erfc_tail_ratio<L>(t.x, t.near, band_a, t.far & !band_a);
  D e1, e2;
  american_cdf_exponents<L>(az, t.ratio, e1, e2);
  t.e1 = L::select(t.far, e1, L::splat(0.0));
  t.e2 = L::select(t.far, e2, L::splat(0.0));
  return t;
}

// Phi from the tail value r = erfc(x): 0.5*r below, 1 - 0.5*r above.
template <class L>
inline typename L::D american_cdf_from_tail(typename L::I lower, typename L::D r) noexcept {
  const typename L::D half = 0.5 * r;
  return L::select(lower, half, 1.0 - half);
}

// Phi from the terms and exp(e1), exp(e2).
template <class L>
inline typename L::D american_cdf_from_exp(const AmericanCdfTerms<L>& t, typename L::D exp_e1,
                                           typename L::D exp_e2) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  const D x = t.x;
  const D r = L::select(t.far, erfc_far(x, exp_e1, exp_e2), erfc_near(t.ratio));
  D phi = american_cdf_from_tail<L>(t.lower, r);
  if (L::any(t.small)) {
    const I below_quarter = erfc_below_quarter<L>(x);
    const D lower_small = 0.5 * erfc_small<L>(x, I{}, below_quarter, t.y);
    const D upper_small = 0.5 + 0.5 * erf_small<L>(x, I{}, t.y);
    phi = L::select(t.small, L::select(t.lower, lower_small, upper_small), phi);
  }
  const D saturated =
      L::select(t.z != t.z, t.z + t.z, L::select(t.lower, L::splat(0.0), L::splat(1.0)));
  return L::select(t.saturated, saturated, phi);
}

}  // namespace detail

// american_cdf(z) = Phi(z) on the scalar lane, with the American kernels' operation order (see
// the top of this file).
inline double american_cdf(double z) noexcept {
  using L = OneLane;
  const detail::AmericanCdfTerms<L> t = detail::american_cdf_terms<L>(z);
  return detail::american_cdf_from_exp<L>(t, fdlibm_exp(t.e1), fdlibm_exp(t.e2));
}

}  // namespace karvex

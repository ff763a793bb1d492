// Normal distribution functions: the density pdf, the distribution function
// cdf, and the error functions beneath them (erf, erfc and the scaled
// complementary error function erfcx). Every kernel computes Phi through
// cdf below, so the operation order here is fixed to the bit.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/fdlibm_exp.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"

namespace karvex {

namespace normal_constants {
inline constexpr double one_over_sqrt2 = 0x1.6a09e667f3bcdp-1;    // 0.7071067811865476
inline constexpr double one_over_sqrt2pi = 0x1.9884533d43651p-2;  // 0.3989422804014327
inline constexpr double one_over_sqrtpi = 0x1.20dd750429b6dp-1;   // 0.5641895835477563
inline constexpr double cdf_tail_switch = 4.0;  // |z| >= 4: scaled tail evaluation
// erfcx: exp(a*a)*erfc(a) below 26.5, the continued fraction from 26.5 on
inline constexpr double continued_fraction_switch = 0x1.a8p+4;  // 26.5
}  // namespace normal_constants

namespace detail {

// fdlibm erf/erfc coefficient sets (s_erf.c), bit for bit.
namespace erf_coefficients {
// 1 - erx, erx = 8.45062911510467529297e-01 (0x3feb0ac160000000); exact.
inline constexpr double one_minus_erx = 0x1.3d4fa80000000p-3;  // 0.15493708848953247
inline constexpr double efx8 = 0x1.06eba8214db69p+0;           // 1.02703333676410069053e+00
// |x| < 0.84375
inline constexpr double pp0 = 0x1.06eba8214db68p-3;    // 1.28379167095512558561e-01
inline constexpr double pp1 = -0x1.4cd7d691cb913p-2;   // -3.25042107247001499370e-01
inline constexpr double pp2 = -0x1.d2a51dbd7194fp-6;   // -2.84817495755985104766e-02
inline constexpr double pp3 = -0x1.7a291236668e4p-8;   // -5.77027029648944159157e-03
inline constexpr double pp4 = -0x1.8ead6120016acp-16;  // -2.37630166566501626084e-05
inline constexpr double qq1 = 0x1.97779cddadc09p-2;    // 3.97917223959155352819e-01
inline constexpr double qq2 = 0x1.0a54c5536cebap-4;    // 6.50222499887672944485e-02
inline constexpr double qq3 = 0x1.4d022c4d36b0fp-8;    // 5.08130628187576562776e-03
inline constexpr double qq4 = 0x1.15dc9221c1a10p-13;   // 1.32494738004321644526e-04
inline constexpr double qq5 = -0x1.09c4342a26120p-18;  // -3.96022827877536812320e-06
// 0.84375 <= |x| < 1.25
inline constexpr double pa0 = -0x1.359b8bef77538p-9;  // -2.36211856075265944077e-03
inline constexpr double pa1 = 0x1.a8d00ad92b34dp-2;   // 4.14856118683748331666e-01
inline constexpr double pa2 = -0x1.7d240fbb8c3f1p-2;  // -3.72207876035701323847e-01
inline constexpr double pa3 = 0x1.45fca805120e4p-2;   // 3.18346619901161753674e-01
inline constexpr double pa4 = -0x1.c63983d3e28ecp-4;  // -1.10894694282396677476e-01
inline constexpr double pa5 = 0x1.22a36599795ebp-5;   // 3.54783043256182359371e-02
inline constexpr double pa6 = -0x1.1bf380a96073fp-9;  // -2.16637559486879084300e-03
inline constexpr double qa1 = 0x1.b3e6618eee323p-4;   // 1.06420880400844228286e-01
inline constexpr double qa2 = 0x1.14af092eb6f33p-1;   // 5.40397917702171048937e-01
inline constexpr double qa3 = 0x1.2635cd99fe9a7p-4;   // 7.18286544141962662868e-02
inline constexpr double qa4 = 0x1.02660e763351fp-3;   // 1.26171219808761642112e-01
inline constexpr double qa5 = 0x1.bedc26b51dd1cp-7;   // 1.36370839120290507362e-02
inline constexpr double qa6 = 0x1.88b545735151dp-7;   // 1.19844998467991074170e-02
// 1.25 <= |x| < 1/0.35
inline constexpr double ra0 = -0x1.43412600d6435p-7;  // -9.86494403484714822705e-03
inline constexpr double ra1 = -0x1.63416e4ba7360p-1;  // -6.93858572707181764372e-01
inline constexpr double ra2 = -0x1.51e0441b0e726p+3;  // -1.05586262253232909814e+01
inline constexpr double ra3 = -0x1.f300ae4cba38dp+5;  // -6.23753324503260060396e+01
inline constexpr double ra4 = -0x1.44cb184282266p+7;  // -1.62396669462573470355e+02
inline constexpr double ra5 = -0x1.7135cebccabb2p+7;  // -1.84605092906711035994e+02
inline constexpr double ra6 = -0x1.4526557e4d2f2p+6;  // -8.12874355063065934246e+01
inline constexpr double ra7 = -0x1.3a0efc69ac25cp+3;  // -9.81432934416914548592e+00
inline constexpr double sa1 = 0x1.3a6b9bd707687p+4;   // 1.96512716674392571292e+01
inline constexpr double sa2 = 0x1.1350c526ae721p+7;   // 1.37657754143519042600e+02
inline constexpr double sa3 = 0x1.b290dd58a1a71p+8;   // 4.34565877475229228821e+02
inline constexpr double sa4 = 0x1.42b1921ec2868p+9;   // 6.45387271733267880336e+02
inline constexpr double sa5 = 0x1.ad02157700314p+8;   // 4.29008140027567833386e+02
inline constexpr double sa6 = 0x1.b28a3ee48ae2cp+6;   // 1.08635005541779435134e+02
inline constexpr double sa7 = 0x1.a47ef8e484a93p+2;   // 6.57024977031928170135e+00
inline constexpr double sa8 = -0x1.eeff2ee749a62p-5;  // -6.04244152148580987438e-02
// 1/0.35 <= |x| < 28
inline constexpr double rb0 = -0x1.4341239e86f4ap-7;   // -9.86494292470009928597e-03
inline constexpr double rb1 = -0x1.993ba70c285dep-1;   // -7.99283237680523006574e-01
inline constexpr double rb2 = -0x1.1c209555f995ap+4;   // -1.77579549177547519889e+01
inline constexpr double rb3 = -0x1.4145d43c5ed98p+7;   // -1.60636384855821916062e+02
inline constexpr double rb4 = -0x1.3ec881375f228p+9;   // -6.37566443368389627722e+02
inline constexpr double rb5 = -0x1.004616a2e5992p+10;  // -1.02509513161107724954e+03
inline constexpr double rb6 = -0x1.e384e9bdc383fp+8;   // -4.83519191608651397019e+02
inline constexpr double sb1 = 0x1.e568b261d5190p+4;    // 3.03380607434824582924e+01
inline constexpr double sb2 = 0x1.45cae221b9f0ap+8;    // 3.25792512996573918826e+02
inline constexpr double sb3 = 0x1.802eb189d5118p+10;   // 1.53672958608443695994e+03
inline constexpr double sb4 = 0x1.8ffb7688c246ap+11;   // 3.19985821950859553908e+03
inline constexpr double sb5 = 0x1.3f219cedf3be6p+11;   // 2.55305040643316442583e+03
inline constexpr double sb6 = 0x1.da874e79fe763p+8;    // 4.74528541206955367215e+02
inline constexpr double sb7 = -0x1.670e242712d62p+4;   // -2.24409524465858183362e+01
}  // namespace erf_coefficients

// Range boundaries on the high word of |x|.
inline constexpr std::uint32_t hw_erfc_tiny = 0x3c700000u;  // 2^-56: erfc(x) = 1 - x below
inline constexpr std::uint32_t hw_erf_tiny = 0x3e300000u;   // 2^-28: erf linear below
inline constexpr std::uint32_t hw_0_84375 = 0x3feb0000u;  // 0.84375: pp/qq below, tail value above
inline constexpr std::uint32_t hw_1_25 = 0x3ff40000u;     // 1.25: pa/qa below, ra/sa above
inline constexpr std::uint32_t hw_1_over_0_35 = 0x4006db6du;  // 1/0.35: ra/sa below, rb/sb above
inline constexpr std::uint32_t hw_6 = 0x40180000u;            // 6: erf = +-1 from here on
inline constexpr std::uint32_t hw_28 = 0x403c0000u;           // 28: erfc = 0 or 2 from here on
inline constexpr std::uint32_t hw_inf = 0x7ff00000u;          // infinities and NaN

// The pieces of erf and erfc, templates over the lane type L (OneLane for the
// scalar functions below, the vector types for the block loops): the range
// tests on the high word ix of |x|, one classifier each, and the formulas
// between the calls to fdlibm_exp.

// The ranges of erf and erfc on the high word ix of |x|: one classifier for
// every choice the functions make, each test alone and evaluated where it is
// asked (the ranges are tested in this order).
template <class L>
struct ErfRanges {
  typename L::W ix;
  typename L::I nonfinite() const noexcept { return ix >= hw_inf; }
  typename L::I small() const noexcept { return ix < hw_0_84375; }  // the pp/qq ratio
  typename L::I near() const noexcept { return ix < hw_1_25; }  // the pa/qa ratio, no exponential
  typename L::I band_a() const noexcept { return ix < hw_1_over_0_35; }  // ra/sa (rb/sb above)
  typename L::I below_6() const noexcept { return ix < hw_6; }           // erf = +-1 from 6 on
  typename L::I below_28() const noexcept { return ix < hw_28; }         // erfc = 0 or 2 from 28 on
  typename L::I erf_tiny() const noexcept { return ix < hw_erf_tiny; }   // erf linear
  typename L::I erfc_tiny() const noexcept { return ix < hw_erfc_tiny; }  // erfc = 1 - x
};

template <class L>
inline ErfRanges<L> erf_ranges(typename L::W ix) noexcept {
  return {ix};
}

// Of the small range, x < 0.25: erfc's first form.
template <class L>
inline typename L::I erfc_below_quarter(typename L::D x) noexcept {
  return x < 0.25;
}

// P(z)/Q(z) with the pp/qq sets, z = x*x, for |x| < 0.84375.
template <class V>
inline V erf_small_ratio(V x) noexcept {
  using namespace erf_coefficients;
  const V z = x * x;
  const V r = pp0 + z * (pp1 + z * (pp2 + z * (pp3 + z * pp4)));
  const V s = 1.0 + z * (qq1 + z * (qq2 + z * (qq3 + z * (qq4 + z * qq5))));
  return r / s;
}

// erf(x) for |x| < 0.84375 from y = erf_small_ratio(x): x + x*y, or where
// `tiny` (below 2^-28) 0.125*(8*x + efx8*x) (efx8 = 8*(2/sqrt(pi) - 1), scaled
// so that subnormals keep their precision; y is not used there).
template <class L>
inline typename L::D erf_small(typename L::D x, typename L::I tiny, typename L::D y) noexcept {
  return L::select(tiny, 0.125 * (8.0 * x + erf_coefficients::efx8 * x), x + x * y);
}

// erfc(x) for |x| < 0.84375 from y = erf_small_ratio(x): 1 - (x + x*y) where
// `below_quarter`, 0.5 - ((x - 0.5) + x*y) from 0.25 on, 1 - x where `tiny`
// (below 2^-56; y is not used there).
template <class L>
inline typename L::D erfc_small(typename L::D x, typename L::I tiny, typename L::I below_quarter,
                                typename L::D y) noexcept {
  return L::select(tiny, 1.0 - x,
                   L::select(below_quarter, 1.0 - (x + x * y), 0.5 - ((x - 0.5) + x * y)));
}

// P(u) and Q(u) with the pa/qa sets, u = |x| - 1, for 0.84375 <= |x| < 1.25.
template <class V>
inline void erfc_pa_qa(V u, V& P, V& Q) noexcept {
  using namespace erf_coefficients;
  P = pa0 + u * (pa1 + u * (pa2 + u * (pa3 + u * (pa4 + u * (pa5 + u * pa6)))));
  Q = 1.0 + u * (qa1 + u * (qa2 + u * (qa3 + u * (qa4 + u * (qa5 + u * qa6)))));
}

// R(v) and S(v) with the ra/sa sets, v = 1/(x*x), for 1.25 <= |x| < 1/0.35.
template <class V>
inline void erfc_ra_sa(V v, V& R, V& S) noexcept {
  using namespace erf_coefficients;
  R = ra0 + v * (ra1 + v * (ra2 + v * (ra3 + v * (ra4 + v * (ra5 + v * (ra6 + v * ra7))))));
  S = 1.0 +
      v * (sa1 + v * (sa2 + v * (sa3 + v * (sa4 + v * (sa5 + v * (sa6 + v * (sa7 + v * sa8)))))));
}

// R(v) and S(v) with the rb/sb sets, v = 1/(x*x), for 1/0.35 <= |x| < 28.
template <class V>
inline void erfc_rb_sb(V v, V& R, V& S) noexcept {
  using namespace erf_coefficients;
  R = rb0 + v * (rb1 + v * (rb2 + v * (rb3 + v * (rb4 + v * (rb5 + v * rb6)))));
  S = 1.0 + v * (sb1 + v * (sb2 + v * (sb3 + v * (sb4 + v * (sb5 + v * (sb6 + v * sb7))))));
}

// The ratio of the tail value's rational approximation at ax = |x|: P(u)/Q(u)
// with u = ax - 1 on the lanes of `near`, R(v)/S(v) with v = 1/(ax*ax) from
// the ra/sa sets on `band_a` and the rb/sb sets on `band_b` (disjoint masks).
// A set is evaluated only when a lane needs it, and the division is shared.
template <class L>
inline typename L::D erfc_tail_ratio(typename L::D ax, typename L::I near, typename L::I band_a,
                                     typename L::I band_b) noexcept {
  using D = typename L::D;
  D P = L::splat(1.0), Q = L::splat(1.0);
  if (L::any(near)) erfc_pa_qa(ax - 1.0, P, Q);
  if (L::any(band_a | band_b)) {
    const D v = 1.0 / (ax * ax);
    D Ra = L::splat(1.0), Sa = L::splat(1.0), Rb = L::splat(1.0), Sb = L::splat(1.0);
    if (L::any(band_a)) erfc_ra_sa(v, Ra, Sa);
    if (L::any(band_b)) erfc_rb_sb(v, Rb, Sb);
    P = L::select(band_a, Ra, L::select(band_b, Rb, P));
    Q = L::select(band_a, Sa, L::select(band_b, Sb, Q));
  }
  return P / Q;
}

// The tail value below 1.25 from its ratio: (1 - erx) - P/Q (erx is erf(1)
// to 24 bits).
template <class V>
inline V erfc_near(V ratio) noexcept {
  return erf_coefficients::one_minus_erx - ratio;
}

// From 1.25 on, erfc(ax) = exp(-ax*ax - 0.5625 + R/S)/ax. The square is made
// exact by splitting ax = w + (ax - w), w being ax with its low 32 bits
// cleared: the arguments of the two exponentials, e1 = -w*w - 0.5625 and
// e2 = (w - ax)*(w + ax) + R/S, then the value exp(e1)*exp(e2)/ax.
template <class L>
inline void erfc_far_exponents(typename L::D ax, typename L::D ratio, typename L::D& e1,
                               typename L::D& e2) noexcept {
  using D = typename L::D;
  const D w = L::from_bits(L::bits(ax) & 0xffffffff00000000u);
  e1 = -w * w - 0.5625;
  e2 = (w - ax) * (w + ax) + ratio;
}

template <class V>
inline V erfc_far(V ax, V exp_e1, V exp_e2) noexcept {
  const V r = exp_e1 * exp_e2;
  return r / ax;
}

// erfc(x) and erf(x) from the tail value r = erfc(|x|): r or 2 - r, and
// +-(1 - r), by the sign of x.
template <class L>
inline typename L::D erfc_from_tail(typename L::I negative, typename L::D r) noexcept {
  return L::select(negative, 2.0 - r, r);
}

template <class L>
inline typename L::D erf_from_tail(typename L::I negative, typename L::D r) noexcept {
  const typename L::D e = 1.0 - r;
  return L::select(negative, -e, e);
}

// Saturated: erfc(x) = 0 or 2, erf(x) = +-1, by the sign of x.
template <class L>
inline typename L::D erfc_saturated(typename L::I negative) noexcept {
  return L::select(negative, L::splat(2.0), L::splat(0.0));
}

template <class L>
inline typename L::D erf_saturated(typename L::I negative) noexcept {
  return L::select(negative, L::splat(-1.0), L::splat(1.0));
}

// Infinities and NaN: erfc(x) = 1/x + 2*signbit (0 for +inf, 2 for -inf, NaN
// for NaN), erf(x) = (1 - 2*signbit) + 1/x (+-1, NaN for NaN).
template <class L>
inline typename L::D erfc_nonfinite(typename L::D x) noexcept {
  return 1.0 / x + L::select(L::sign_set(x), L::splat(2.0), L::splat(0.0));
}

template <class L>
inline typename L::D erf_nonfinite_value(typename L::D x) noexcept {
  return (1.0 - L::select(L::sign_set(x), L::splat(2.0), L::splat(0.0))) + 1.0 / x;
}

// The tail value r(ax) = erfc(ax) for 0.84375 <= ax < 28, ax = |x| and ix
// its high word.
//
// Method: below 1.25, erfc(ax) = (1 - erx) - P(u)/Q(u), u = ax - 1, with the
// pa/qa sets. From 1.25 on,
//   erfc(ax) = exp(-ax*ax - 0.5625 + R/S)/ax,  v = 1/(ax*ax),
// with R/S from the ra/sa sets below 1/0.35 and the rb/sb sets above, the
// square made exact as erfc_far_exponents says. Both exponentials are
// fdlibm_exp, never the platform's.
//
// Accuracy: about one ulp (fdlibm's bound for erfc).
// Out of line, so that erf and erfc inline their common paths into their callers.
[[gnu::noinline]] inline double erfc_tail(double ax, OneLane::W ix) noexcept {
  using L = OneLane;
  const ErfRanges<L> range = erf_ranges<L>(ix);
  if (range.near()) return erfc_near(erfc_tail_ratio<L>(ax, true, false, false));
  const double ratio = range.band_a() ? erfc_tail_ratio<L>(ax, false, true, false)
                                      : erfc_tail_ratio<L>(ax, false, false, true);
  double e1;
  double e2;
  erfc_far_exponents<L>(ax, ratio, e1, e2);
  return erfc_far(ax, fdlibm_exp(e1), fdlibm_exp(e2));
}

}  // namespace detail

// erf(x) = 2/sqrt(pi) * integral of exp(-t*t) from 0 to x.
//
// Method (fdlibm s_erf.c): |x| < 2^-28: 0.125*(8*x + efx8*x), efx8 = 8*(2/sqrt(pi) - 1)
// scaled so that subnormals keep their precision; |x| < 0.84375:
// x + x*P(x*x)/Q(x*x); 0.84375 <= |x| < 6: +-(1 - r(|x|)) with the tail value
// of erfc; |x| >= 6: +-1.
//
// Accuracy: below one ulp.
//
// Special cases: erf(+-0) = +-0, erf(+-inf) = +-1, erf(NaN) = NaN.
inline double erf(double x) noexcept {
  using L = OneLane;
  using namespace detail;
  const L::W ix = L::high_word_abs(x);
  const ErfRanges<L> range = erf_ranges<L>(ix);
  if (range.nonfinite()) return erf_nonfinite_value<L>(x);
  if (range.small()) {
    if (range.erf_tiny()) return erf_small<L>(x, true, x);
    return erf_small<L>(x, false, erf_small_ratio(x));
  }
  const bool negative = L::sign_set(x);
  if (range.below_6()) return erf_from_tail<L>(negative, erfc_tail(L::fabs(x), ix));
  return erf_saturated<L>(negative);
}

// erfc(x) = 1 - erf(x), computed without cancellation for x > 0.
//
// Method (fdlibm s_erf.c): |x| < 2^-56: 1 - x; |x| < 0.84375: from the
// pp/qq ratio y, 1 - (x + x*y) for x < 0.25 and 0.5 - ((x - 0.5) + x*y)
// otherwise; 0.84375 <= |x| < 28: the tail value r(|x|) for x > 0 and
// 2 - r(|x|) for x < 0; |x| >= 28: 0 or 2.
//
// Accuracy: about one ulp while the result is normal.
//
// Special cases: erfc(+inf) = 0, erfc(-inf) = 2, erfc(NaN) = NaN.
inline double erfc(double x) noexcept {
  using L = OneLane;
  using namespace detail;
  const L::W ix = L::high_word_abs(x);
  const ErfRanges<L> range = erf_ranges<L>(ix);
  if (range.nonfinite()) return erfc_nonfinite<L>(x);
  if (range.small()) {
    if (range.erfc_tiny()) return erfc_small<L>(x, true, true, x);
    const double y = erf_small_ratio(x);
    if (erfc_below_quarter<L>(x)) return erfc_small<L>(x, false, true, y);
    return erfc_small<L>(x, false, false, y);
  }
  const bool negative = L::sign_set(x);
  if (range.below_28()) return erfc_from_tail<L>(negative, erfc_tail(L::fabs(x), ix));
  return erfc_saturated<L>(negative);
}

namespace detail {

// The pieces of pdf, erfcx and cdf around their exponentials and error
// functions, templates over the lane type as those of erf and erfc.

// The exponent of the density, z*(z*(-0.5)), and the density from its
// exponential, exp(...)*(1/sqrt(2*pi)).
template <class V>
inline V pdf_exponent(V z) noexcept {
  return z * (z * (-0.5));
}

template <class V>
inline V pdf_from_exp(V e) noexcept {
  return e * normal_constants::one_over_sqrt2pi;
}

// erfcx(a) = exp(a*a)*erfc(a) below 26.5 (the continued fraction from there on):
// the test, the exponent a*a and the product.
template <class L>
inline typename L::I erfcx_direct(typename L::D a) noexcept {
  return a < normal_constants::continued_fraction_switch;
}

template <class V>
inline V erfcx_exponent(V a) noexcept {
  return a * a;
}

template <class V>
inline V erfcx_from_erfc(V exp_a2, V erfc_a) noexcept {
  return exp_a2 * erfc_a;
}

// cdf's choices: |z| < 4 (through erf and erfc; the scaled tails from 4 on),
// and z < 0 (the lower side: erfc, or g*erfcx, at -z/sqrt(2)).
template <class L>
inline typename L::I cdf_core(typename L::D z) noexcept {
  return L::fabs(z) < normal_constants::cdf_tail_switch;
}

template <class L>
inline typename L::I cdf_lower(typename L::D z) noexcept {
  return z < 0.0;
}

// The argument a = |z|/sqrt(2) of erf, erfc and erfcx: z*(-1/sqrt(2)) on the
// lower side, z*(1/sqrt(2)) on the upper.
template <class L>
inline typename L::D cdf_argument(typename L::I lower, typename L::D z) noexcept {
  using normal_constants::one_over_sqrt2;
  return L::select(lower, z * (-one_over_sqrt2), z * one_over_sqrt2);
}

template <class L>
inline typename L::D cdf_argument(typename L::D z) noexcept {
  return cdf_argument<L>(cdf_lower<L>(z), z);
}

// Phi for |z| < 4 from erfc(a) on the lower side, 0.5*erfc(a), and from
// erf(a) on the upper, (erf(a) + 1)*0.5.
template <class L>
inline typename L::D cdf_from_erf(typename L::I lower, typename L::D erfc_a,
                                  typename L::D erf_a) noexcept {
  return L::select(lower, 0.5 * erfc_a, (erf_a + 1.0) * 0.5);
}

// Phi from 4 on from exp(z*(z*(-0.5))) and X = erfcx(a): with
// g = 0.5*exp(...), g*X on the lower side and 1 - g*X on the upper.
template <class L>
inline typename L::D cdf_tail(typename L::D z, typename L::D exp_pdf, typename L::D X) noexcept {
  const typename L::D g = 0.5 * exp_pdf;
  return L::select(cdf_lower<L>(z), g * X, 1.0 - g * X);
}

// Phi of +-inf and NaN: 1, 0 and z + z.
template <class L>
inline typename L::D cdf_nonfinite(typename L::D z) noexcept {
  return L::select(z != z, z + z, L::select(z > 0.0, L::splat(1.0), L::splat(0.0)));
}

}  // namespace detail

namespace detail {

// erfcx for the arguments the common path leaves (a >= 26.5, +inf, NaN): the
// continued fraction. Out of line, so that callers inline only the common
// path.
[[gnu::noinline]] inline double erfcx_large(double a) noexcept {
  constexpr double tiny = 0x1.56e1fc2f8f359p-997;           // 1e-300: Lentz guard
  constexpr double one_over_tiny = 0x1.7e43c8800759bp+996;  // 9.999999999999999e+299
  constexpr double tolerance = 0x1.cd2b297d889bcp-54;       // 1e-16
  constexpr int iteration_bound = 200;                      // n = 1 ... 199
  if (std::isnan(a)) return a + a;
  if (a == std::numeric_limits<double>::infinity()) return 0.0;

  double f = a;
  double C = a;
  double D = 0.0;
  for (int n = 1; n < iteration_bound; ++n) {
    const double c = static_cast<double>(n) / 2.0;
    D = std::fma(c, D, a);
    C = a + c / C;
    if (std::fabs(C) < tiny) C = tiny;
    D = std::fabs(D) < tiny ? one_over_tiny : 1.0 / D;
    const double delta = C * D;
    f = f * delta;
    if (std::fabs(delta - 1.0) < tolerance) break;
  }
  return normal_constants::one_over_sqrtpi / f;
}

}  // namespace detail

// erfcx(a) = exp(a*a) * erfc(a), the scaled complementary error function.
//
// Method: for a < 26.5, exp(a*a) * erfc(a) (overflows to +inf below
// about -26.64; no kernel passes such an argument). For a >= 26.5 the
// continued fraction
//   erfc(a) = exp(-a*a)/sqrt(pi) / (a + (1/2)/(a + (2/2)/(a + (3/2)/(a + ...))))
// by the modified Lentz method, at most 199 steps, stopping once a step
// changes the value by less than 1e-16 relatively.
//
// Accuracy: near exp's rounding of a*a for a < 26.5 (about a*a/2 ulps from
// the rounding of the square), a few ulps on the continued fraction.
//
// Special cases: erfcx(+inf) = 0, erfcx(-inf) = +inf, erfcx(NaN) = NaN.
inline double erfcx(double a) noexcept {
  // a = -inf takes this form too: exp(+inf)*erfc(-inf) = +inf*2 = +inf.
  if (detail::erfcx_direct<OneLane>(a))
    return detail::erfcx_from_erfc(platform::exp(detail::erfcx_exponent(a)), karvex::erfc(a));
  return detail::erfcx_large(a);
}

// pdf(z) = exp(-z*z/2)/sqrt(2*pi), formed as exp(z*(z*(-0.5))) * (1/sqrt(2*pi)).
//
// Accuracy: that of the platform exp plus the rounding of z*(z*(-0.5)) (relative
// error up to about z*z/2 ulps for large |z|).
//
// Special cases: pdf(+-inf) = 0, pdf(NaN) = NaN.
inline double pdf(double z) noexcept {
  return detail::pdf_from_exp(platform::exp(detail::pdf_exponent(z)));
}

// cdf(z) = Phi(z), the standard normal distribution function.
//
// Method: for |z| < 4, 0.5*erfc(-z/sqrt(2)) when z < 0 and
// (erf(z/sqrt(2)) + 1)*0.5 otherwise. For |z| >= 4 the factor exp(-z*z/2)
// is split off: with g = 0.5*exp(z*(z*(-0.5))), Phi(z) = g*erfcx(-z/sqrt(2))
// for z < 0 and 1 - g*erfcx(z/sqrt(2)) for z >= 4. The scaling by 1/sqrt(2)
// is always a multiplication by the rounded constant.
//
// Accuracy: a few ulps for |z| < 4; in the lower tail the rounding of z*z
// costs up to about z*z/2 ulps, matching the condition of Phi there.
//
// Special cases: cdf(+-0) = 0.5, cdf(+inf) = 1, cdf(-inf) = 0,
// cdf(NaN) = NaN; cdf(z) = 0 from about z = -38.5 down.
inline double cdf(double z) noexcept {
  using L = OneLane;
  using namespace detail;
  if (cdf_core<L>(z)) {
    if (cdf_lower<L>(z)) {
      const double e = karvex::erfc(cdf_argument<L>(true, z));
      return cdf_from_erf<L>(true, e, e);
    }
    const double e = karvex::erf(cdf_argument<L>(false, z));
    return cdf_from_erf<L>(false, e, e);
  }
  if (!L::finite(z)) return cdf_nonfinite<L>(z);
  return cdf_tail<L>(z, platform::exp(pdf_exponent(z)), erfcx(cdf_argument<L>(z)));
}

}  // namespace karvex

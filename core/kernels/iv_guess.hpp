// Initial guess of the implied-volatility kernel: the inverse normal
// distribution function, the shape-preserving rational cubic interpolation and
// its control parameters, and the four-branch starting value with its bracket
// and objective for the refinement.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/normal.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"

namespace karvex {

namespace iv_detail {

inline constexpr double kDblMin = 2.2250738585072014e-308;      // 0x0010000000000000
inline constexpr double kDblMax = 1.7976931348623157e+308;      // 0x7fefffffffffffff
inline constexpr double kSqrtDblMax = 1.3407807929942596e+154;  // 0x5fefffffffffffff

// Control parameters of the rational cubic. R_min is the smallest admissible
// value (this literal, not -(1 - 2^-26)); at and above R_max the interpolation
// is linear (this literal, not 2^105).
inline constexpr double kRMin = -0.9999999850695;       // 0xbfeffffff7fbf7bc
inline constexpr double kRMax = 4.054944344523184e+31;  // 0x467ffce5177bbec4
static_assert(std::bit_cast<std::uint64_t>(kRMin) == 0xbfeffffff7fbf7bcULL);
static_assert(std::bit_cast<std::uint64_t>(kRMax) == 0x467ffce5177bbec4ULL);

// max(a, b) that ignores a NaN operand (IEEE 754 maxNum); ties keep a. A
// template over the lane type (the refinement's block loop takes it too).
template <class V>
inline V max_num(V a, V b) noexcept {
  return a != a ? b : (b != b ? a : (a < b ? b : a));
}

}  // namespace iv_detail

// inv_cdf(p): the inverse standard normal distribution function, Wichura's
// AS241 (PPND16), relative accuracy about 1e-16.
//   |p - 0.5| <= 0.425: q*A(r)/B(r) in r = 0.180625 - q^2 (central set);
//   otherwise r = sqrt(-ln(min(p, 1 - p))) and C(r - 1.6)/D(r - 1.6) for
//   r < 5 (near tail), E(r - 5)/F(r - 5) from r = 5 on (far tail), negated
//   below the median. Polynomials by Horner's rule, no fused multiply-adds.
// Special values: NaN -> NaN, p <= 0 -> -inf, p >= 1 -> +inf, 0.5 -> 0.
inline double inv_cdf(double p) noexcept {
  // Central set, |q| <= split1.
  constexpr double a0 = 3.3871328727963665;  // 0x400b18d91e9eef75
  constexpr double a1 = 133.14166789178438;  // 0x4060a4888b1a436e
  constexpr double a2 = 1971.5909503065513;  // 0x409ece5d2213c0cc
  constexpr double a3 = 13731.69376550946;   // 0x40cad1d8cd4ee71d
  constexpr double a4 = 45921.95393154987;   // 0x40e66c3e869b752a
  constexpr double a5 = 67265.7709270087;    // 0x40f06c1c55b78f20
  constexpr double a6 = 33430.57558358813;   // 0x40e052d26b2e45e4
  constexpr double a7 = 2509.0809287301227;  // 0x40a39a296f7d925e
  constexpr double b1 = 42.31333070160091;   // 0x4045281b386e1ab5
  constexpr double b2 = 687.1870074920579;   // 0x4085797efdc8b3f7
  constexpr double b3 = 5394.196021424751;   // 0x40b512322e75c89f
  constexpr double b4 = 21213.794301586597;  // 0x40d4b772d5d65266
  constexpr double b5 = 39307.89580009271;   // 0x40e3317caa64f4be
  constexpr double b6 = 28729.085735721943;  // 0x40dc0e457cb1ae76
  constexpr double b7 = 5226.495278852854;   // 0x40b46a7eca984b69
  // Near tail, r < split2. c0 is one ulp above the nearest double to the
  // published decimal; this value is the one the kernel is defined with.
  constexpr double c0 = 1.4234371107496837;      // 0x3ff6c665fde9526b
  constexpr double c1 = 4.630337846156546;       // 0x4012857748cab19b
  constexpr double c2 = 5.769497221460691;       // 0x401713f71462256a
  constexpr double c3 = 3.6478483247632045;      // 0x400d2ecb1a3d02c4
  constexpr double c4 = 1.2704582524523684;      // 0x3ff453cc085375b2
  constexpr double c5 = 0.2417807251774506;      // 0x3fcef2abb9b85c37
  constexpr double c6 = 0.022723844989269184;    // 0x3f9744eb6c45ec67
  constexpr double c7 = 0.0007745450142783414;   // 0x3f49615ac0b7ace9
  constexpr double d1 = 2.053191626637759;       // 0x40006cefbb46a449
  constexpr double d2 = 1.6763848301838038;      // 0x3ffad278e6526633
  constexpr double d3 = 0.6897673349851;         // 0x3fe61292f23385c9
  constexpr double d4 = 0.14810397642748008;     // 0x3fc2f5123394f040
  constexpr double d5 = 0.015198666563616457;    // 0x3f8f207a7eab17bf
  constexpr double d6 = 0.0005475938084995345;   // 0x3f41f18cbfdf2728
  constexpr double d7 = 1.0507500716444169e-09;  // 0x3e120d3f686439e4
  // Far tail, r >= split2.
  constexpr double e0 = 6.657904643501103;       // 0x401aa1b1c13ee526
  constexpr double e1 = 5.463784911164114;       // 0x4015daea6e875003
  constexpr double e2 = 1.7848265399172913;      // 0x3ffc8ea6461fa445
  constexpr double e3 = 0.29656057182850487;     // 0x3fd2fad9315255cf
  constexpr double e4 = 0.026532189526576124;    // 0x3f9b2b41193b4ee7
  constexpr double e5 = 0.0012426609473880784;   // 0x3f545c1908425345
  constexpr double e6 = 2.7115555687434876e-05;  // 0x3efc6ec6cc59e02a
  constexpr double e7 = 2.0103343992922881e-07;  // 0x3e8afb74d693bf93
  constexpr double f1 = 0.599832206555888;       // 0x3fe331d34fc7d77f
  constexpr double f2 = 0.1369298809227358;      // 0x3fc186eb183443fb
  constexpr double f3 = 0.014875361290850615;    // 0x3f8e76f93215462a
  constexpr double f4 = 0.0007868691311456133;   // 0x3f49c8bc979dc5d7
  constexpr double f5 = 1.8463183175100548e-05;  // 0x3ef35c2c496374bf
  constexpr double f6 = 1.421511758316446e-07;   // 0x3e831446f740b9e0
  constexpr double f7 = 2.0442631033899397e-15;  // 0x3ce269bff1f8c190
  constexpr double split1 = 0.425;               // 0x3fdb333333333333: central | tail
  constexpr double split2 = 5.0;                 // 0x4014000000000000: near | far tail
  constexpr double const1 = 0.180625;            // 0x3fc71eb851eb851f: split1^2
  constexpr double const2 = 1.6;                 // 0x3ff999999999999a: near-tail shift

  if (p != p) return p;
  if (p <= 0.0) return -std::numeric_limits<double>::infinity();
  if (p >= 1.0) return std::numeric_limits<double>::infinity();
  const double q = p - 0.5;
  if (std::fabs(q) <= split1) {
    const double r = const1 - q * q;
    return q * (((((((a7 * r + a6) * r + a5) * r + a4) * r + a3) * r + a2) * r + a1) * r + a0) /
           (((((((b7 * r + b6) * r + b5) * r + b4) * r + b3) * r + b2) * r + b1) * r + 1.0);
  }
  double r = std::sqrt(-platform::log(q < 0.0 ? p : 1.0 - p));
  double value;
  if (r < split2) {
    r = r - const2;
    value = (((((((c7 * r + c6) * r + c5) * r + c4) * r + c3) * r + c2) * r + c1) * r + c0) /
            (((((((d7 * r + d6) * r + d5) * r + d4) * r + d3) * r + d2) * r + d1) * r + 1.0);
  } else {
    r = r - split2;
    value = (((((((e7 * r + e6) * r + e5) * r + e4) * r + e3) * r + e2) * r + e1) * r + e0) /
            (((((((f7 * r + f6) * r + f5) * r + f4) * r + f3) * r + f2) * r + f1) * r + 1.0);
  }
  return q < 0.0 ? -value : value;
}

// rational_cubic_interpolation: the shape-preserving rational cubic through
// (x_l, y_l) and (x_r, y_r) with end slopes d_l, d_r and control parameter r,
// evaluated at x. A zero width gives the midpoint of the ordinates; r >= R_max
// gives the straight line. Powers are formed by repeated multiplication.
inline double rational_cubic_interpolation(double x, double x_l, double x_r, double y_l, double y_r,
                                           double d_l, double d_r, double r) noexcept {
  const double h = x_r - x_l;
  if (h == 0.0) return (y_l + y_r) / 2;
  const double t = (x - x_l) / h;
  if (r >= iv_detail::kRMax) return y_r * t + y_l * (1 - t);
  const double t2 = t * t;
  const double t3 = t2 * t;
  const double omt = 1 - t;
  const double omt2 = omt * omt;
  const double omt3 = omt2 * omt;
  const double numerator =
      ((y_r * t3 + ((r * y_r - h * d_r) * t2) * omt) + ((r * y_l + h * d_l) * t) * omt2) +
      y_l * omt3;
  const double denominator = 1 + ((r - 3) * t) * omt;
  return numerator / denominator;
}

namespace iv_detail {

// Control parameter that makes the rational cubic take the second derivative c
// at its left (at_left) or right end: num/den, 0 for a vanishing numerator,
// R_max or R_min (by the numerator's sign) for a vanishing denominator.
inline double fitted_control_parameter(bool at_left, double x_l, double x_r, double y_l, double y_r,
                                       double d_l, double d_r, double c) noexcept {
  const double h = x_r - x_l;
  const double num = (0.5 * h) * c + (d_r - d_l);
  if (std::fabs(num) < kDblMin) return 0.0;
  const double den = at_left ? (y_r - y_l) / h - d_l : d_r - (y_r - y_l) / h;
  if (std::fabs(den) < kDblMin) return num > 0.0 ? kRMax : kRMin;
  return num / den;
}

}  // namespace iv_detail

// Control parameter fitted to the second derivative c at the left end.
inline double rational_cubic_control_parameter_left(double x_l, double x_r, double y_l, double y_r,
                                                    double d_l, double d_r, double c) noexcept {
  return iv_detail::fitted_control_parameter(true, x_l, x_r, y_l, y_r, d_l, d_r, c);
}

// Control parameter fitted to the second derivative c at the right end.
inline double rational_cubic_control_parameter_right(double x_l, double x_r, double y_l, double y_r,
                                                     double d_l, double d_r, double c) noexcept {
  return iv_detail::fitted_control_parameter(false, x_l, x_r, y_l, y_r, d_l, d_r, c);
}

// Smallest control parameter that keeps monotonic data monotonic and
// convex/concave data convex/concave, given the end slopes d_l, d_r and the
// secant slope m. Data of none of these shapes get R_min; with prefer_shape a
// degenerate secant or slope difference forces R_max (the straight line).
inline double minimum_rational_cubic_control_parameter(double d_l, double d_r, double m,
                                                       bool prefer_shape) noexcept {
  using iv_detail::kDblMax;
  using iv_detail::kDblMin;
  using iv_detail::kRMax;
  using iv_detail::kRMin;
  using iv_detail::max_num;
  const bool monotonic = d_l * m >= 0 && d_r * m >= 0;
  const bool convex = d_l <= m && m <= d_r;
  const bool concave = d_l >= m && m >= d_r;
  if (!monotonic && !convex && !concave) return kRMin;
  double r1 = -kDblMax;
  double r2 = -kDblMax;
  if (monotonic) {
    if (std::fabs(m) >= kDblMin) {
      r1 = (d_r + d_l) / m;
    } else if (prefer_shape) {
      r1 = kRMax;
    }
  }
  if (convex || concave) {
    if (std::fabs(m - d_l) >= kDblMin && std::fabs(d_r - m) >= kDblMin) {
      r2 = max_num(std::fabs((d_r - d_l) / (d_r - m)), std::fabs((d_r - d_l) / (m - d_l)));
    } else if (prefer_shape) {
      r2 = kRMax;
    }
  } else if (monotonic && prefer_shape) {
    r2 = kRMax;
  }
  return max_num(kRMin, max_num(r1, r2));
}

namespace iv_detail {

// The fitted control parameter at one end raised to the shape-preserving
// minimum; a NaN fitted value gives the minimum.
inline double convex_control_parameter(bool at_left, double x_l, double x_r, double y_l, double y_r,
                                       double d_l, double d_r, double c,
                                       bool prefer_shape) noexcept {
  const double r = fitted_control_parameter(at_left, x_l, x_r, y_l, y_r, d_l, d_r, c);
  const double r_min =
      minimum_rational_cubic_control_parameter(d_l, d_r, (y_r - y_l) / (x_r - x_l), prefer_shape);
  return max_num(r, r_min);
}

}  // namespace iv_detail

// The left-end fitted control parameter raised to the shape-preserving minimum.
inline double convex_rational_cubic_control_parameter_left(double x_l, double x_r, double y_l,
                                                           double y_r, double d_l, double d_r,
                                                           double c, bool prefer_shape) noexcept {
  return iv_detail::convex_control_parameter(true, x_l, x_r, y_l, y_r, d_l, d_r, c, prefer_shape);
}

// The right-end fitted control parameter raised to the shape-preserving minimum.
inline double convex_rational_cubic_control_parameter_right(double x_l, double x_r, double y_l,
                                                            double y_r, double d_l, double d_r,
                                                            double c, bool prefer_shape) noexcept {
  return iv_detail::convex_control_parameter(false, x_l, x_r, y_l, y_r, d_l, d_r, c, prefer_shape);
}

// Objective function of the refinement: lower g = 1/ln b - 1/ln beta, middle
// g = b - beta, upper g = ln((b_max - beta)/(b_max - b)).
enum class IvObjective : int { lower, middle, upper };

// Starting total volatility s0, the bracket [s_left, s_right] that holds the
// root, the objective, and the branch (1 to 4) that produced them.
struct IvGuess {
  double s0;
  double s_left;
  double s_right;
  IvObjective objective;
  int branch;
};

// iv_initial_guess: starting point for b(x, s) = beta with x <= 0, ax = |x|,
// 0 < beta < b_max = exp(x/2).
// The price axis is cut at b_l < b_c < b_u, the values of b at the lower
// point s_l, the inflection point s_c = sqrt(2|x|) and the upper point s_u:
//   branch 1, beta < b_l:        lower map f = (2pi/sqrt27)|x| Phi(-z)^3,
//                                z = |x|/(sqrt3 s), interpolated from 0 to b_l
//                                and inverted through inv_cdf and cbrt;
//   branch 2, b_l <= beta < b_c: s(beta) interpolated on [b_l, b_c];
//   branch 3, b_c <= beta <= b_u: s(beta) interpolated on [b_c, b_u];
//   branch 4, beta > b_u:        upper map f = Phi(-s/2), interpolated from
//                                b_u to b_max and inverted through inv_cdf.
// Fallbacks: a non-positive interpolated map value takes the quadratic through
// the same end values; an upper-map curvature of SQRT_DBL_MAX or more (or NaN)
// takes the quadratic at once; a lower map value that stays non-positive gives
// s0 = 0; a vega v_c <= DBL_MIN collapses s_u onto s_c (at the money every
// beta then takes branch 4, and the guess is the exact inverse there).
//
// The guess evaluates b at two points, s_c and then s_l or s_u. It is written
// as three steps around those two evaluations (iv_guess_central_point,
// iv_guess_second_point, iv_guess_from_points), so that a block loop can
// evaluate b for many options at once in between; iv_initial_guess chains them.
//
// The central point s_c = sqrt(|x| + |x|) is a template over the lane type
// (the block loop forms it on vectors); the rest of the guess runs on scalars
// only, the block loop calling these functions lane by lane.
template <class L>
inline typename L::D iv_guess_central_point(typename L::D ax) noexcept {
  return L::sqrt(ax + ax);
}

inline double iv_guess_central_point(double ax) noexcept {
  return iv_guess_central_point<OneLane>(ax);
}

// The second point: s_l below b_c, s_u from b_c on.
inline double iv_guess_second_point(double beta, double b_max, double s_c,
                                    const NormalisedBlack& central) noexcept {
  const double b_c = central.b;
  const double v_c = central.nu;
  if (beta < b_c) return s_c - b_c / v_c;
  return v_c > iv_detail::kDblMin ? s_c + (b_max - b_c) / v_c : s_c;
}

// The guess from b at the central point s_c and at the second point s_2.
inline IvGuess iv_guess_from_points(double x, double ax, double beta, double b_max, double s_c,
                                    const NormalisedBlack& central, double s_2,
                                    const NormalisedBlack& second) noexcept {
  using iv_detail::kDblMax;
  using iv_detail::kSqrtDblMax;
  constexpr double inv_sqrt3 = 0.5773502691896257;           // 0x3fe279a74590331c
  constexpr double sqrt3 = 1.7320508075688772;               // 0x3ffbb67ae8584caa
  constexpr double two_pi = 6.283185307179586;               // 0x401921fb54442d18
  constexpr double two_pi_over_sqrt27 = 1.2091995761561452;  // 0x3ff358e1a79ed7e1
  constexpr double eight_sqrt3 = 13.856406460551018;         // 0x402bb67ae8584caa
  constexpr double pi_over_6 = 0.5235987755982989;           // 0x3fe0c152382d7366
  constexpr double sqrt_two_pi = 2.5066282746310002;         // 0x40040d931ff62705
  constexpr double sqrt_pi_over_2 = 1.2533141373155003;      // 0x3ff40d931ff62706

  const double b_c = central.b;
  const double v_c = central.nu;

  if (beta < b_c) {
    const double s_l = s_2;
    const double b_l = second.b;
    const double v_l = second.nu;
    if (beta < b_l) {
      // Branch 1: the lower map and its first two derivatives at s_l.
      const double z = (ax * inv_sqrt3) / s_l;
      const double y = z * z;
      const double phi_m = cdf(-z);
      const double phi = platform::exp((-(z * z)) / 2) / sqrt_two_pi;
      double f_l;
      double fp_l;
      if (s_l <= 0) {
        fp_l = 1;
        f_l = 0;
      } else {
        fp_l = ((two_pi * y) * (phi_m * phi_m)) * platform::exp(y + (s_l * s_l) / 8);
        f_l = x == 0 ? 0.0 : (ax * two_pi_over_sqrt27) * ((phi_m * phi_m) * phi_m);
      }
      const double s_l2 = s_l * s_l;
      const double curvature_term =
          (eight_sqrt3 * s_l) * ax + ((((3 * s_l2) * (s_l2 - 8)) - 8 * (x * x)) * phi_m) / phi;
      const double fpp_l =
          ((((platform::exp(2 * y + s_l2 / 4) * pi_over_6) * y) / (s_l2 * s_l)) * phi_m) *
          curvature_term;
      const double r =
          convex_rational_cubic_control_parameter_right(0, b_l, 0, f_l, 1, fp_l, fpp_l, true);
      double f = rational_cubic_interpolation(beta, 0, b_l, 0, f_l, 1, fp_l, r);
      if (f <= 0) {
        const double tau = beta / b_l;
        f = (f_l * tau + b_l * (1 - tau)) * tau;
      }
      double s0 = 0.0;
      if (f > 0) s0 = std::fabs(x / (sqrt3 * inv_cdf(std::cbrt(f / (two_pi_over_sqrt27 * ax)))));
      return {s0, 0.0, s_l, IvObjective::lower, 1};
    }
    // Branch 2: second derivative 0 fitted at the inflection point.
    const double d_l = 1 / v_l;
    const double d_r = 1 / v_c;
    const double r =
        convex_rational_cubic_control_parameter_right(b_l, b_c, s_l, s_c, d_l, d_r, 0.0, false);
    const double s0 = rational_cubic_interpolation(beta, b_l, b_c, s_l, s_c, d_l, d_r, r);
    return {s0, s_l, s_c, IvObjective::middle, 2};
  }

  const double s_u = s_2;
  const double b_u = second.b;
  const double v_u = second.nu;
  if (beta <= b_u) {
    // Branch 3: second derivative 0 fitted at the inflection point.
    const double d_l = 1 / v_c;
    const double d_r = 1 / v_u;
    const double r =
        convex_rational_cubic_control_parameter_left(b_c, b_u, s_c, s_u, d_l, d_r, 0.0, false);
    const double s0 = rational_cubic_interpolation(beta, b_c, b_u, s_c, s_u, d_l, d_r, r);
    return {s0, s_c, s_u, IvObjective::middle, 3};
  }

  // Branch 4: the upper map and its first two derivatives at s_u.
  const double f_u = cdf((-s_u) / 2);
  double fp_u = -0.5;
  double fpp_u = 0.0;
  if (x != 0) {
    const double w = (x / s_u) * (x / s_u);
    fp_u = -0.5 * platform::exp(w / 2);
    fpp_u = ((sqrt_pi_over_2 * platform::exp(w + (s_u * s_u) / 8)) * w) / s_u;
  }
  const double h = b_max - b_u;
  const bool bounded_curvature = std::fabs(fpp_u) < kSqrtDblMax;
  double f = 0.0;
  if (bounded_curvature) {
    const double r =
        convex_rational_cubic_control_parameter_left(b_u, b_max, f_u, 0, fp_u, -0.5, fpp_u, true);
    f = rational_cubic_interpolation(beta, b_u, b_max, f_u, 0, fp_u, -0.5, r);
  }
  if (!bounded_curvature || f <= 0) {
    const double tau = (beta - b_u) / h;
    f = (f_u * (1 - tau) + (0.5 * h) * tau) * (1 - tau);
  }
  const double s0 = -2 * inv_cdf(f);
  const IvObjective objective = beta > b_max / 2 ? IvObjective::upper : IvObjective::middle;
  return {s0, s_u, kDblMax, objective, 4};
}

// The initial guess in one call: the three steps with b evaluated in between.
inline IvGuess iv_initial_guess(double x, double ax, double beta, double b_max) noexcept {
  const double s_c = iv_guess_central_point(ax);
  const NormalisedBlack central = normalised_black(x, s_c);
  const double s_2 = iv_guess_second_point(beta, b_max, s_c, central);
  return iv_guess_from_points(x, ax, beta, b_max, s_c, central, s_2, normalised_black(x, s_2));
}

}  // namespace karvex

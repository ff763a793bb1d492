// American calls and puts under Black-Scholes-Merton with a continuous
// dividend yield: the price, the Greeks and the implied volatility.
//
// Method (Andersen, Lake and Offengenden, "High-performance American option
// pricing", 2016). A put's exercise boundary B(tau) (time to expiry tau)
// solves the integral equation of its value matching (value K - B at B),
//   B(tau) = K exp(-(r - q) tau) N(tau, B)/D(tau, B),
//   N = Phi(d-(tau, B/K)) + r int_0^tau exp(r u) Phi(d-(tau - u, B(tau)/B(u))) du,
//   D = Phi(d+(tau, B/K)) + q int_0^tau exp(q u) Phi(d+(tau - u, B(tau)/B(u))) du,
// d+-(s, z) = (ln z + (r - q) s +- sigma^2 s/2)/(sigma sqrt(s)), and B(0+) = X =
// K min(1, r/q) (K when q <= 0), and, where r < q + 0.005 or r is small against a negative q, the
// one of its smooth pasting (delta -1 at B; their FP-B, AmericanLanes::iterate). The boundary is
// carried as H(xi) = ln(B/X)^2 on xi = 2 sqrt(tau/T) - 1, which is smooth, and collocated on n + 1
// Chebyshev nodes; the integrals are Gauss-Legendre sums in c = sqrt((tau - u)/tau) mapped from the
// rule's points so that both the square-root behaviour at u = tau (in c) and the boundary's at u =
// 0 (in sqrt(1 - c^2)) are smooth (american_tables.hpp: the rules and the interpolation weights at
// every quadrature point, all constants). m damped Jacobi-Newton steps
//   B <- B + eta (B - f)/(f' - 1),  f = K exp(-(r - q) tau) N/D
// (f' from the derivatives of the terms outside the integrals) move every node at once, from
// the seed of Li's QD+ approximation (american_qd_seed).
// The price is the European price plus the early-exercise premium
//   T int_0^1 [r K exp(-r s) Phi(-d-(s, S/B(T - s))) - q S exp(-q s) Phi(-d+(...))] 2c dc,
// s = T c^2, on p Gauss-Legendre points (mapped as well, and denser near c = 0, where the
// integrand steepens as the spot nears the boundary). A call is the put with S and K, and
// r and q, exchanged (McDonald and Schroder's symmetry).
//
// Fixed work: every option of a mode takes the same n, l, m and p, so the
// pieces below run unchanged on vector lanes (one option per lane). The
// pieces are templates over the lane type L and a set of calls C (the
// transcendental functions over arrays of lane values: the scalar functions
// for OneLane, their block forms for the vector types), and take every
// choice through L::select.
//
// Regimes (put; a call is the put with r and q exchanged):
//   r > 0, or r = 0 and q < 0   one exercise boundary below K: the method above;
//   r <= 0 and q >= r           early exercise never pays: the European price,
//                               the same bits as bsm_price_kernel (for a call
//                               the call's own European price);
//   r < 0 and q < r             two boundaries (the exercise region is an
//                               interval below K): NaN, status two_boundaries.
// Degenerate inputs: t <= 0 gives the intrinsic value (whatever the other
// inputs, as for the European price); then any NaN or infinite input, s < 0
// or k < 0 give NaN (status invalid); s = 0 or k = 0 the intrinsic value;
// sigma <= 0 the best
// deterministic exercise, max over u in [0, t] of the discounted payoff of the
// forward; a spot at or beyond the boundary the intrinsic value (status
// exercised).
//
// Accuracy per mode: README ("American exercise"), measured against the
// finite-difference table tests/data/american.csv.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "kernels/american_cdf.hpp"
#include "kernels/american_tables.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/fdlibm_exp.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/normal.hpp"
#include "kernels/normalised_black.hpp"
#include "kernels/one_lane.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"

namespace karvex {

// What the American kernels did with an option.
enum class AmericanStatus : std::int8_t {
  ok = 0,               // the integral-equation price
  european = 1,         // early exercise never pays: the European price
  exercised = 2,        // at or beyond the exercise boundary (or t <= 0): the intrinsic value
  deterministic = 3,    // sigma <= 0: the best deterministic exercise
  invalid = -1,         // a NaN or infinite input, s < 0 or k < 0: NaN
  two_boundaries = -2,  // r < 0 and q < r for a put (q < 0 and r < q for a call): NaN
};

enum class AmericanMode : std::int8_t { fast = 0, accurate = 1, precise = 2 };

// The accuracy modes: n + 1 Chebyshev nodes, l and p Gauss-Legendre points, m
// Jacobi-Newton steps, and the damping of the smooth-pasting steps (american_damping).
struct AmericanFast {
  static constexpr AmericanMode mode = AmericanMode::fast;
  static constexpr int n = 6, l = 5, p = 15, m = 7;
  static constexpr double pasting_damping = 0x1.999999999999ap-1;  // 0.8
};
struct AmericanAccurate {
  static constexpr AmericanMode mode = AmericanMode::accurate;
  static constexpr int n = 12, l = 11, p = 41, m = 16;
  static constexpr double pasting_damping = 0x1.199999999999ap-1;  // 0.55
};
struct AmericanPrecise {
  static constexpr AmericanMode mode = AmericanMode::precise;
  static constexpr int n = 16, l = 15, p = 51, m = 20;
  static constexpr double pasting_damping = 0x1.199999999999ap-1;  // 0.55
};

// f(Mode{}) for the mode named by `mode`: where a run-time mode picks a compiled one.
template <class F>
inline decltype(auto) with_american_mode(AmericanMode mode, F&& f) {
  switch (mode) {
    case AmericanMode::precise:
      return f(AmericanPrecise{});
    case AmericanMode::accurate:
      return f(AmericanAccurate{});
    default:
      return f(AmericanFast{});
  }
}

namespace detail {

// The regime of an option, decided on its inputs alone (ordered comparisons:
// NaN settles as invalid first).
enum class AmericanRegime : std::int8_t {
  invalid,
  intrinsic,       // t <= 0
  european,        // no early exercise
  two_boundaries,  // not covered
  deterministic,   // sigma <= 0 with early exercise
  boundary,        // the integral equation
};

// The inputs of the put the option is (a call exchanges s with k and r with q).
struct AmericanPut {
  double s, k, t, r, q, sigma;
};

inline AmericanPut american_as_put(bool is_put, double s, double k, double t, double r, double q,
                                   double sigma) noexcept {
  return is_put ? AmericanPut{s, k, t, r, q, sigma} : AmericanPut{k, s, t, q, r, sigma};
}

inline AmericanRegime american_regime(const AmericanPut& p) noexcept {
  // As for the European price, t <= 0 is the intrinsic value whatever the other inputs.
  if (p.t <= 0.0) return AmericanRegime::intrinsic;
  const bool finite = OneLane::finite(p.s) && OneLane::finite(p.k) && OneLane::finite(p.t) &&
                      OneLane::finite(p.r) && OneLane::finite(p.q) && OneLane::finite(p.sigma);
  if (!finite || !(p.s >= 0.0) || !(p.k >= 0.0)) return AmericanRegime::invalid;
  // A spot or strike of 0 leaves nothing to wait for: a put at s = 0 is worth k now, a call
  // nothing (a call's s is the put's k).
  if (p.s == 0.0 || p.k == 0.0) return AmericanRegime::intrinsic;
  const bool early = p.r > 0.0 || (p.r == 0.0 && p.q < 0.0);
  if (!early) return p.q < p.r ? AmericanRegime::two_boundaries : AmericanRegime::european;
  if (p.sigma <= 0.0) return AmericanRegime::deterministic;
  return AmericanRegime::boundary;
}

// The pieces of the boundary's collocation, templates over the lane type.

// X/K = min(1, r/q) for q > 0 (the boundary's value at expiry over K), 1 otherwise.
template <class L>
inline typename L::D american_boundary_start(typename L::D r, typename L::D q) noexcept {
  return L::select((q > 0.0) & (r < q), r / q, L::splat(1.0));
}

// The drift of d+: r - q + sigma^2/2; sigma sqrt(T).
template <class V>
inline V american_drift_plus(V r, V q, V sigma) noexcept {
  return (r - q) + (0.5 * sigma) * sigma;
}

// At node i (sqrt(tau_i/T) = f): tau_i = T f^2 and sigma sqrt(tau_i) = (sigma sqrt(T)) f.
template <class V>
inline V american_node_tau(V T, double f) noexcept {
  return T * (f * f);
}

template <class V>
inline V american_node_vol(V vol_T, double f) noexcept {
  return vol_T * f;
}

// The exponent -(r - q) tau of K exp(-(r - q) tau).
template <class V>
inline V american_carry_exponent(V r, V q, V tau) noexcept {
  return (q - r) * tau;
}

// The exponent r u of exp(r u) at a point of the boundary's integrals, u = tau (1 - c^2), and the
// weight (r tau w c) exp(r u) of Phi there (the same with q for D).
template <class V>
inline V american_point_exponent(V rate, V tau, double c) noexcept {
  return rate * (tau * ((1.0 - c) * (1.0 + c)));
}

template <class V>
inline V american_point_weight(V rate, V tau, double wc, V e) noexcept {
  return ((rate * tau) * wc) * e;
}

// sqrt(max(H, 0)) = |ln(B/X)| from the collocated H.
template <class L>
inline typename L::D american_root(typename L::D H) noexcept {
  return L::sqrt(L::max0(H));
}

// H at a quadrature point: sum_j w[j] H_j over the nodes j = 1..n.
template <class V, int n>
inline V american_interpolate(const V* H, const double* w) noexcept {
  V sum = H[1] * w[0];
  for (int j = 2; j <= n; ++j) sum = sum + H[j] * w[j - 1];
  return sum;
}

// d+ = (x + mu s)/v for ln z = x, s = tau c^2, v = sigma sqrt(s); d- = d+ - v.
template <class V>
inline V american_d_plus(V x, V mu, V s, V v) noexcept {
  return (x + mu * s) / v;
}

template <class V>
inline V american_d_minus(V d_plus, V v) noexcept {
  return d_plus - v;
}

// An argument of Phi at a quadrature point, kept within [-37, 37]: beyond, Phi is 1 or below
// 6e-300, which no sum here can tell from 0, and american_cdf's exponentials would leave the
// normal range. NaN stays NaN.
template <class L>
inline typename L::D american_cdf_argument(typename L::D d) noexcept {
  const typename L::D bound = L::splat(37.0);
  return L::select(d > bound, bound, L::select(d < -bound, -bound, d));
}

// The Jacobi-Newton step at a node: f = kappa N/D (kappa = K exp(-(r - q) tau)),
// f' = f (N'/N - D'/D) from the derivatives N', D' in B, and B + eta (B - f)/(f' - 1), or f
// where that is not in (0, X) or f' >= 0.9 (a step of more than ten times the fixed point's,
// which with r = 0 and a small yield throws the nodes about); at most X. Where f is not
// positive either (D <= 0: with q < 0, B has gone too deep for its Phi(d+) to outweigh the
// yield's integral), the geometric mean sqrt(B X), a move back up.
template <class L>
inline typename L::D american_newton(typename L::D B, typename L::D X, typename L::D kappa,
                                     typename L::D N, typename L::D D, typename L::D Nd,
                                     typename L::D Dd, typename L::D eta) noexcept {
  using Dv = typename L::D;
  const Dv f = kappa * (N / D);
  const Dv fp = f * (Nd / N - Dd / D);
  const Dv next = B + eta * ((B - f) / (fp - 1.0));
  const Dv chosen = L::select((next > 0.0) & (next < X) & (fp < 0.9), next, f);
  const Dv kept = L::select(chosen > 0.0, chosen, L::sqrt(B * X));
  return L::select(kept < X, kept, X);
}

// The lanes whose steps take the smooth-pasting form: r < q + 0.005, and q < 0 with r < 2|q| and
// r < sigma^2/20.
// - Where r < q the boundary falls from X = K r/q, and the value-matching steps converge too
//   slowly for a fixed count; just above q they still converge slowly, to an error that jumps
//   from one r to the next by up to 1e-5 (rho, a difference quotient over 1e-5, off by 5 in the
//   accurate mode), where the smooth-pasting steps are smooth in r.
// - With q < 0 and r small, the value-matching D = Phi(d+) + q int ... is a difference of two
//   small, nearly equal terms wherever the boundary lies deep, and its steps left (0, X) or
//   wandered (r = 5e-4, q = -2.5e-3, sigma = 0.8: prices off by up to 16). Where sigma^2 is small
//   against r the smooth-pasting steps swing instead (r = 0.04, q = -0.07, sigma = 0.1: a 3-year
//   put at the money priced at 0 against 1.67), and the value-matching ones hold.
// (tests/data/american_stress.csv: near_equal_rates, low_rate and long_dated.)
template <class L>
inline typename L::I american_pasting(typename L::D r, typename L::D q,
                                      typename L::D sigma) noexcept {
  return (r < q + 0.005) | ((q < 0.0) & (r < -(2.0 * q)) & (r < 0.05 * (sigma * sigma)));
}

// The damping eta of the Jacobi-Newton step: 1, and the mode's `pasting` on the smooth-pasting
// lanes. Where r < q the boundary falls from X = K r/q and the full step overshoots, alternating
// about the fixed point and, with more nodes, away from it, most readily where q - r is small and t
// short (with 13 nodes and 0.8, a 29-day put off by 0.05 and one of 14 days with q - r = 1e-5 by
// 4e-5). The more nodes, the stronger the damping must be; each mode's keeps a margin on the grids
// of bench/frontier, at the cost of slower convergence.
template <class L>
inline typename L::D american_damping(typename L::I on_pasting, double pasting) noexcept {
  return L::select(on_pasting, L::splat(pasting), L::splat(1.0));
}

// The start of the iteration at each node: the seed of Li's QD+ approximation, the boundary
// K lambda/(lambda - 1) of the quadratic approximation with
//   lambda = (-(w - 1) - sqrt((w - 1)^2 + 8 r/(sigma^2 h)))/2,  w = 2 (r - q)/sigma^2,
// h = 1 - exp(-r tau) (8 r/(sigma^2 h) tends to 8/(sigma^2 tau) as r -> 0), kept below X.
// (Newton steps on the full QD+ equation from there did not
// make the Jacobi-Newton iteration converge sooner on the benchmark portfolio.)
template <class L>
inline typename L::D american_qd_seed(typename L::D r, typename L::D q, typename L::D sigma,
                                      typename L::D tau, typename L::D dr, typename L::D K,
                                      typename L::D X) noexcept {
  using Dv = typename L::D;
  const Dv s2 = sigma * sigma;
  const Dv h = 1.0 - dr;
  const Dv w1 = (2.0 * (r - q)) / s2 - 1.0;
  // 8 r/(sigma^2 h), and its limit 8/(sigma^2 tau) at r = 0
  const Dv pull = L::select(r == 0.0, 8.0 / (s2 * tau), ((4.0 * 2.0) * r) / (s2 * h));
  const Dv lambda = 0.5 * (-w1 - L::sqrt(w1 * w1 + pull));
  const Dv seed = K * (lambda / (lambda - 1.0));
  return L::select((seed > 0.0) & (seed < X), seed, X);
}

// H = ln(B/X)^2 from the logarithm.
template <class V>
inline V american_H(V log_ratio) noexcept {
  return log_ratio * log_ratio;
}

// The premium's term at a price point: (r K exp(-r s)) Phi(-d-) - (q S exp(-q s)) Phi(-d+),
// weighted by T w c.
template <class V>
inline V american_premium_term(V r, V K, V er, V nm, V q, V S, V eq, V np) noexcept {
  return ((r * K) * er) * nm - ((q * S) * eq) * np;
}

template <class V>
inline V american_price(V european, V T, V premium_sum) noexcept {
  return european + T * premium_sum;
}

// The intrinsic value of the put, K - S (the premium's lanes at or beyond the boundary).
template <class V>
inline V american_put_intrinsic(V S, V K) noexcept {
  return K - S;
}

}  // namespace detail

// The collocated boundary of a block of puts in the boundary regime (one per
// lane) and its price: the work of one mode, the same for every lane.
// C::cdf, C::exp and C::log map an array of lane values in place;
// C::european_put(S, K, T, r, q, sigma) is the European put.
template <class L, class Mode>
struct AmericanLanes {
  using D = typename L::D;
  static constexpr int n = Mode::n, l = Mode::l, p = Mode::p, m = Mode::m;
  using Rule = american_tables::Rule<n, l, p>;

  D S, K, T, r, q, sigma;
  D X, log_XK, mu, vol_T;
  typename L::I pasting;  // the lanes of the smooth-pasting form (american_pasting)
  bool any_pasting;
  D eta;  // the damping of the steps (american_damping)
  D tau[n + 1], vol[n + 1], kappa[n + 1];
  D B[n + 1], H[n + 1];    // the boundary at the nodes and H = ln(B/X)^2
  D wr[n * l], wq[n * l];  // the weights of Phi in N and D
  static constexpr int kBuffer = 2 * n * (l + 1) > 2 * p ? 2 * n*(l + 1) : 2 * p;
  D z[kBuffer];  // cdf arguments, then values
  D e[kBuffer];  // exponentials

  // The boundary from the inputs (sigma > 0, t > 0, the boundary regime).
  template <class C>
  void solve(D S_, D K_, D T_, D r_, D q_, D sigma_) noexcept {
    using namespace detail;
    S = S_, K = K_, T = T_, r = r_, q = q_, sigma = sigma_;
    pasting = american_pasting<L>(r, q, sigma);
    any_pasting = L::any(pasting);
    eta = american_damping<L>(pasting, Mode::pasting_damping);
    const D ratio = american_boundary_start<L>(r, q);
    X = K * ratio;
    log_XK = ratio;
    C::log(&log_XK, 1);
    mu = american_drift_plus(r, q, sigma);
    vol_T = L::sqrt(T) * sigma;
    for (int i = 0; i <= n; ++i) {
      tau[i] = american_node_tau(T, Rule::f[i]);
      vol[i] = american_node_vol(vol_T, Rule::f[i]);
      kappa[i] = american_carry_exponent(r, q, tau[i]);
      B[i] = X;
      H[i] = L::splat(0.0);
    }
    C::exp(kappa, n + 1);
    for (int i = 0; i <= n; ++i) kappa[i] = K * kappa[i];
    for (int i = 1; i <= n; ++i) {
      for (int k = 0; k < l; ++k) {
        e[2 * ((i - 1) * l + k)] = american_point_exponent(r, tau[i], Rule::c[k]);
        e[2 * ((i - 1) * l + k) + 1] = american_point_exponent(q, tau[i], Rule::c[k]);
      }
    }
    C::exp(e, 2 * n * l);
    for (int i = 1; i <= n; ++i) {
      for (int k = 0; k < l; ++k) {
        const int a = (i - 1) * l + k;
        wr[a] = american_point_weight(r, tau[i], Rule::wc[k], e[2 * a]);
        wq[a] = american_point_weight(q, tau[i], Rule::wc[k], e[2 * a + 1]);
      }
    }
    start<C>();
    for (int step = 0; step < m; ++step) iterate<C>();
  }

  // The start at every node (american_qd_seed).
  template <class C>
  void start() noexcept {
    using namespace detail;
    D dr[n + 1];
    for (int i = 1; i <= n; ++i) dr[i] = -(r * tau[i]);
    C::exp(dr + 1, n);
    for (int i = 1; i <= n; ++i) {
      B[i] = american_qd_seed<L>(r, q, sigma, tau[i], dr[i], K, X);
      H[i] = B[i] / X;
    }
    C::log(H + 1, n);
    for (int i = 1; i <= n; ++i) H[i] = american_H(H[i]);
  }

  // One Jacobi-Newton step at every node. In general on the value-matching form above, with
  // the derivatives in B of the terms outside the integrals N' = phi(d-)/(B v) and
  // D' = phi(d+)/(B v) (v = sigma sqrt(tau)). Where r < q + 0.005, or q < 0 with r small
  // (american_pasting), on the smooth-pasting form
  //   N = phi(d-)/v + r int_0^tau exp(r u) phi(d-(tau - u, .))/(sigma sqrt(tau - u)) du,
  //   D = Phi(d+) + phi(d+)/v
  //       + q int_0^tau exp(q u) [Phi(d+(tau - u, .)) + phi(d+(tau - u, .))/(sigma sqrt(tau - u))]
  //       du
  // (the densities' 1/(sigma sqrt(tau - u)) is 1/(v c) in c, whose singularity the weight's c
  // cancels), N' = -d- phi(d-)/(B v^2) and D' = (1 - d+/v) phi(d+)/(B v), damped. The
  // smooth-pasting steps converge faster where r >= q too, but where sigma^2 T is small against
  // r T (sigma 0.05, T = 2) they swing the nodes far from the boundary, step after step; so they
  // serve only where american_pasting says.
  template <class C>
  void iterate() noexcept {
    using namespace detail;
    D root[n + 1], dm0[n + 1], dp0[n + 1];
    for (int i = 1; i <= n; ++i) root[i] = american_root<L>(H[i]);
    // Arguments: per node, d- and d+ at the node, then at each of its points.
    for (int i = 1; i <= n; ++i) {
      D* zi = z + 2 * (i - 1) * (l + 1);
      dp0[i] = american_d_plus(log_XK - root[i], mu, tau[i], vol[i]);
      dm0[i] = american_d_minus(dp0[i], vol[i]);
      zi[0] = dm0[i];
      zi[1] = dp0[i];
      for (int k = 0; k < l; ++k) {
        const D Hk = american_interpolate<D, n>(H, Rule::boundary + ((i - 1) * l + k) * n);
        const D s = american_node_tau(tau[i], Rule::c[k]);
        const D v = american_node_vol(vol[i], Rule::c[k]);
        const D d = american_d_plus(american_root<L>(Hk) - root[i], mu, s, v);
        zi[2 + 2 * k] = american_cdf_argument<L>(american_d_minus(d, v));
        zi[3 + 2 * k] = american_cdf_argument<L>(d);
      }
    }
    constexpr int count = 2 * n * (l + 1);
    // The densities at the points serve only the smooth-pasting steps: without such a lane,
    // those at the nodes alone.
    if (any_pasting) {
      for (int j = 0; j < count; ++j) e[j] = pdf_exponent(z[j]);
      C::exp(e, count);
    } else {
      D node[2 * n];
      for (int i = 0; i < n; ++i) {
        node[2 * i] = pdf_exponent(z[2 * i * (l + 1)]);
        node[2 * i + 1] = pdf_exponent(z[2 * i * (l + 1) + 1]);
      }
      C::exp(node, 2 * n);
      for (int i = 0; i < n; ++i) {
        e[2 * i * (l + 1)] = node[2 * i];
        e[2 * i * (l + 1) + 1] = node[2 * i + 1];
      }
    }
    C::cdf(z, count);
    for (int i = 1; i <= n; ++i) {
      const D* ei = e + 2 * (i - 1) * (l + 1);
      const D pm = pdf_from_exp(ei[0]) / vol[i], pp = pdf_from_exp(ei[1]) / vol[i];
      const D* ci = z + 2 * (i - 1) * (l + 1);
      D Na = ci[0], Da = ci[1];  // value matching
      for (int k = 0; k < l; ++k) {
        const D w_r = wr[(i - 1) * l + k], w_q = wq[(i - 1) * l + k];
        Na = Na + w_r * ci[2 + 2 * k];
        Da = Da + w_q * ci[3 + 2 * k];
      }
      // N' and D' of the terms outside the integrals: for value matching phi(d-+)/(B v), for
      // smooth pasting -d- phi(d-)/(B v^2) and (1 - d+/v) phi(d+)/(B v)
      D N = Na, Dd = Da, Np = pm, Dp = pp;
      if (any_pasting) {
        D Nb = pm, Db = ci[1] + pp;  // smooth pasting
        for (int k = 0; k < l; ++k) {
          const D v = american_node_vol(vol[i], Rule::c[k]);
          const D w_r = wr[(i - 1) * l + k], w_q = wq[(i - 1) * l + k];
          const D qm = pdf_from_exp(ei[2 + 2 * k]) / v, qp = pdf_from_exp(ei[3 + 2 * k]) / v;
          Nb = Nb + w_r * qm;
          Db = Db + w_q * (ci[3 + 2 * k] + qp);
        }
        N = L::select(pasting, Nb, Na), Dd = L::select(pasting, Db, Da);
        Np = L::select(pasting, -((dm0[i] / vol[i]) * pm), pm);
        Dp = L::select(pasting, (1.0 - dp0[i] / vol[i]) * pp, pp);
      }
      B[i] = american_newton<L>(B[i], X, kappa[i], N, Dd, Np / B[i], Dp / B[i], eta);
      H[i] = B[i] / X;
    }
    C::log(H + 1, n);
    for (int i = 1; i <= n; ++i) H[i] = american_H(H[i]);
  }

  // The price from the solved boundary; `exercised` tells the lanes at or beyond the boundary
  // (their price is the intrinsic value K - S).
  template <class C>
  D price(typename L::I& exercised) noexcept {
    using namespace detail;
    D log_SX = S / X;
    C::log(&log_SX, 1);
    for (int k = 0; k < p; ++k) {
      const D Hk = american_interpolate<D, n>(H, Rule::price + k * n);
      const D s = american_node_tau(T, Rule::pc[k]);
      const D v = american_node_vol(vol_T, Rule::pc[k]);
      const D d = american_d_plus(log_SX + american_root<L>(Hk), mu, s, v);
      z[2 * k] = american_cdf_argument<L>(-american_d_minus(d, v));
      z[2 * k + 1] = american_cdf_argument<L>(-d);
      e[2 * k] = -(r * s);
      e[2 * k + 1] = -(q * s);
    }
    C::exp(e, 2 * p);
    C::cdf(z, 2 * p);
    D sum = Rule::pwc[0] * american_premium_term(r, K, e[0], z[0], q, S, e[1], z[1]);
    for (int k = 1; k < p; ++k)
      sum = sum + Rule::pwc[k] * american_premium_term(r, K, e[2 * k], z[2 * k], q, S, e[2 * k + 1],
                                                       z[2 * k + 1]);
    const D value = american_price(C::european_put(S, K, T, r, q, sigma), T, sum);
    const D intrinsic = american_put_intrinsic(S, K);
    exercised = log_SX <= -american_root<L>(H[n]);
    return L::select(exercised | (value < intrinsic), intrinsic, value);
  }

  // The premium's first and second derivatives in S (after price()): with phi at d- and d+,
  //   d/dS   T sum w c [-(r K exp(-r s)) phi(d-)/(S v) - q exp(-q s) (Phi(-d+) - phi(d+)/v)]
  //   d2/dS2 T sum w c [(r K exp(-r s)) phi(d-) d+/(S v)^2 + q exp(-q s) phi(d+) (1 - d+/v)/(S v)]
  template <class C>
  void premium_derivatives(D& first, D& second) noexcept {
    using namespace detail;
    D log_SX = S / X;
    C::log(&log_SX, 1);
    D dp[p], v[p];
    for (int k = 0; k < p; ++k) {
      const D Hk = american_interpolate<D, n>(H, Rule::price + k * n);
      const D s = american_node_tau(T, Rule::pc[k]);
      v[k] = american_node_vol(vol_T, Rule::pc[k]);
      dp[k] = american_d_plus(log_SX + american_root<L>(Hk), mu, s, v[k]);
      z[2 * k] = american_cdf_argument<L>(-dp[k]);
      e[4 * k] = -(r * s);
      e[4 * k + 1] = -(q * s);
      e[4 * k + 2] = pdf_exponent(american_d_minus(dp[k], v[k]));
      e[4 * k + 3] = pdf_exponent(dp[k]);
    }
    C::exp(e, 4 * p);
    for (int k = 0; k < p; ++k) z[k] = z[2 * k];
    C::cdf(z, p);
    D sum1 = L::splat(0.0), sum2 = L::splat(0.0);
    for (int k = 0; k < p; ++k) {
      const D er = ((r * K) * e[4 * k]) * pdf_from_exp(e[4 * k + 2]);
      const D eq = q * e[4 * k + 1];
      const D pp = pdf_from_exp(e[4 * k + 3]);
      const D Sv = S * v[k];
      sum1 = sum1 + Rule::pwc[k] * (-(er / Sv) - eq * (z[k] - pp / v[k]));
      sum2 = sum2 +
             Rule::pwc[k] * ((er * dp[k]) / (Sv * Sv) + ((eq * pp) * (1.0 - dp[k] / v[k])) / Sv);
    }
    first = T * sum1;
    second = T * sum2;
  }
};

// The transcendental functions of AmericanLanes on the scalar lane.
struct AmericanScalarCalls {
  static void cdf(double* z, int count) noexcept {
    for (int i = 0; i < count; ++i) z[i] = karvex::american_cdf(z[i]);
  }
  static void exp(double* x, int count) noexcept {
    for (int i = 0; i < count; ++i) x[i] = karvex::fdlibm_exp(x[i]);
  }
  static void log(double* x, int count) noexcept {
    for (int i = 0; i < count; ++i) x[i] = platform::log(x[i]);
  }
  static double european_put(double S, double K, double T, double r, double q,
                             double sigma) noexcept {
    return bsm_price_kernel(true, S, K, T, r, q, sigma);
  }
  static void european_put_greeks(double S, double K, double T, double r, double q, double sigma,
                                  double& delta, double& gamma) noexcept {
    delta = bsm_delta_kernel(true, S, K, T, r, q, sigma);
    gamma = bsm_gamma_kernel(S, K, T, r, q, sigma);
  }
};

namespace detail {

// The best deterministic exercise of a put with sigma = 0: max(K exp(-r u) - S exp(-q u), 0)
// over u in {0, t} and the stationary point u* = ln(q S/(r K))/(q - r) where it lies inside.
inline double american_deterministic_put(const AmericanPut& p) noexcept {
  const auto at = [&](double u) {
    return max0(p.k * platform::exp(-(p.r * u)) - p.s * platform::exp(-(p.q * u)));
  };
  double best = at(0.0);
  const double end = at(p.t);
  best = end > best ? end : best;
  if (p.q != p.r && p.q * p.s > 0.0 && p.r * p.k > 0.0) {
    const double u = platform::log((p.q * p.s) / (p.r * p.k)) / (p.q - p.r);
    if (u > 0.0 && u < p.t) {
      const double inner = at(u);
      best = inner > best ? inner : best;
    }
  }
  return best;
}

}  // namespace detail

// The price of an option in a regime the lanes do not take (all but the boundary regime), with
// its status.
inline double american_settled_price(detail::AmericanRegime regime, bool is_put, double s, double k,
                                     double t, double r, double q, double sigma,
                                     const detail::AmericanPut& p,
                                     AmericanStatus& status) noexcept {
  using detail::AmericanRegime;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  switch (regime) {
    case AmericanRegime::invalid:
      status = AmericanStatus::invalid;
      return nan;
    case AmericanRegime::two_boundaries:
      status = AmericanStatus::two_boundaries;
      return nan;
    case AmericanRegime::intrinsic:
      status = AmericanStatus::exercised;
      return detail::intrinsic(is_put, s, k);
    case AmericanRegime::european:
      status = AmericanStatus::european;
      return bsm_price_kernel(is_put, s, k, t, r, q, sigma);
    default:
      status = AmericanStatus::deterministic;
      return detail::american_deterministic_put(p);
  }
}

// american_price_kernel<Mode>(is_put, s, k, t, r, q, sigma, status): the American price and what
// decided it (see the head of this file).
template <class Mode>
inline double american_price_kernel(bool is_put, double s, double k, double t, double r, double q,
                                    double sigma, AmericanStatus& status) noexcept {
  const detail::AmericanPut p = detail::american_as_put(is_put, s, k, t, r, q, sigma);
  const detail::AmericanRegime regime = detail::american_regime(p);
  if (regime != detail::AmericanRegime::boundary)
    return american_settled_price(regime, is_put, s, k, t, r, q, sigma, p, status);
  AmericanLanes<OneLane, Mode> lanes;
  lanes.template solve<AmericanScalarCalls>(p.s, p.k, p.t, p.r, p.q, p.sigma);
  bool exercised;
  const double value = lanes.template price<AmericanScalarCalls>(exercised);
  status = exercised ? AmericanStatus::exercised : AmericanStatus::ok;
  return value;
}

namespace detail {

// The pieces of the Greeks, templates over the lane type, on the put an option is (S, K, r, q as
// american_as_put gives them) and the mask of the puts.

// Delta, gamma and theta of the option from the put's terms: the premium's derivatives in S
// (first, second) added to the European put's delta and gamma; a call is the put P(K, S), so
// dC/dS = dP/dK = (P - K dP/dK')/S and d2C/dS2 = (K/S)^2 d2P/dK'2 (s, k the call's own spot and
// strike); theta from the pricing equation r V - (r - q) s delta - sigma^2 s^2 gamma/2 in the
// option's own rate and yield.
template <class L>
inline void american_greeks_from_terms(typename L::I is_put, typename L::D S, typename L::D K,
                                       typename L::D r, typename L::D q, typename L::D sigma,
                                       typename L::D value, typename L::D european_delta,
                                       typename L::D european_gamma, typename L::D first,
                                       typename L::D second, typename L::D& delta,
                                       typename L::D& gamma, typename L::D& theta) noexcept {
  using Dv = typename L::D;
  const Dv put_delta = european_delta + first;
  const Dv put_gamma = european_gamma + second;
  const Dv s = L::select(is_put, S, K), k = L::select(is_put, K, S);
  const Dv rate = L::select(is_put, r, q), yield = L::select(is_put, q, r);
  delta = L::select(is_put, put_delta, (value - k * put_delta) / s);
  gamma = L::select(is_put, put_gamma, ((k / s) * (k / s)) * put_gamma);
  theta = rate * value - ((rate - yield) * s) * delta - ((0.5 * sigma) * sigma) * ((s * s) * gamma);
}

// The delta of the intrinsic value (at or beyond the boundary, or without time value): -1 for a
// put in the money (S < K), 1 for a call in the money (its put's S < K), 0 otherwise.
template <class L>
inline typename L::D american_intrinsic_delta(typename L::I is_put, typename L::D S,
                                              typename L::D K) noexcept {
  return L::select(S < K, L::select(is_put, L::splat(-1.0), L::splat(1.0)), L::splat(0.0));
}

// The steps of the central differences: 1e-4 sigma (1e-4 = 0x1.a36e2eb1c432dp-14) for vega and
// 1e-5 (0x1.4f8b588e368f1p-17) for rho.
template <class V>
inline V american_vega_step(V sigma) noexcept {
  return 1e-4 * sigma;
}

inline constexpr double kAmericanRhoStep = 1e-5;

// x + h and x - h, the inputs of a central difference.
template <class V>
inline V american_step_up(V x, V h) noexcept {
  return x + h;
}

template <class V>
inline V american_step_down(V x, V h) noexcept {
  return x - h;
}

// The option's own rate from its put's rate and yield (a call's rate is its put's yield), and
// the put's rate and yield with the option's own rate moved to `rate`.
template <class L>
inline typename L::D american_own_rate(typename L::I is_put, typename L::D r,
                                       typename L::D q) noexcept {
  return L::select(is_put, r, q);
}

template <class L>
inline void american_with_rate(typename L::I is_put, typename L::D rate, typename L::D& r,
                               typename L::D& q) noexcept {
  r = L::select(is_put, rate, r);
  q = L::select(is_put, q, rate);
}

// (up - down)/(2 h).
template <class V>
inline V american_central_difference(V up, V down, V h) noexcept {
  return (up - down) / (2.0 * h);
}

// Whether the put with rate, yield and volatility r2, q2, sigma2 takes the same form of the
// boundary's iteration (american_pasting) as the put with r, q, sigma.
template <class L>
inline typename L::I american_same_form(typename L::D r, typename L::D q, typename L::D sigma,
                                        typename L::D r2, typename L::D q2,
                                        typename L::D sigma2) noexcept {
  return american_pasting<L>(r, q, sigma) == american_pasting<L>(r2, q2, sigma2);
}

// Vega or rho from the prices at x + h (up) and x - h (down) and at x (mid): the central
// difference where both shifted inputs take the option's form of the iteration, else the
// one-sided difference on the side that does. Across r = q + 0.005, or r = sigma^2/20 with q < 0,
// the two forms' fixed points differ by up to the mode's error, which the central quotient would
// divide by 2h (rho off by 1.6 % in the fast mode); the one-sided quotient errs by h/2 times the
// second derivative instead.
template <class L>
inline typename L::D american_difference(typename L::D up, typename L::D mid, typename L::D down,
                                         typename L::D h, typename L::I up_same,
                                         typename L::I down_same) noexcept {
  const typename L::D central = american_central_difference(up, down, h);
  const typename L::D one_sided = L::select(up_same, (up - mid) / h, (mid - down) / h);
  return L::select(up_same & down_same, central, one_sided);
}

}  // namespace detail

// Delta, gamma and theta of solved lanes, after price() (which gave `value`): the premium's
// derivatives, the European put's delta and gamma (C::european_put_greeks), and
// american_greeks_from_terms.
template <class C, class L, class Mode>
inline void american_lanes_greeks(AmericanLanes<L, Mode>& lanes, typename L::I is_put,
                                  typename L::D value, typename L::D& delta, typename L::D& gamma,
                                  typename L::D& theta) noexcept {
  typename L::D first, second, european_delta, european_gamma;
  lanes.template premium_derivatives<C>(first, second);
  C::european_put_greeks(lanes.S, lanes.K, lanes.T, lanes.r, lanes.q, lanes.sigma, european_delta,
                         european_gamma);
  detail::american_greeks_from_terms<L>(is_put, lanes.S, lanes.K, lanes.r, lanes.q, lanes.sigma,
                                        value, european_delta, european_gamma, first, second, delta,
                                        gamma, theta);
}

// The Greeks of an American option: delta, gamma and theta from the method (the premium's
// derivatives in S added to the European put's, a call's through the homogeneity of the put in
// spot and strike, theta from the pricing equation r V - (r - q) S delta - sigma^2 S^2 gamma/2,
// which holds off the boundary), vega and rho by central differences of the price (sigma and r
// moved by 1e-4 sigma and 1e-5). Units as the European Greeks: vega per 1.0 of volatility,
// theta per year, rho per 1.0 of rate. At or beyond the boundary, and for t <= 0, sigma <= 0 or
// a zero spot or strike, the intrinsic value's: delta -1, 0 or 1, the rest 0. Without early
// exercise, the European Greeks to the bit (bsm_greeks_kernel); NaN where the price is.
template <class Mode>
inline Greeks american_greeks_kernel(bool is_put, double s, double k, double t, double r, double q,
                                     double sigma, AmericanStatus& status) noexcept {
  using detail::AmericanRegime;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  const detail::AmericanPut p = detail::american_as_put(is_put, s, k, t, r, q, sigma);
  const AmericanRegime regime = detail::american_regime(p);
  const double in_the_money = detail::american_intrinsic_delta<OneLane>(is_put, p.s, p.k);
  if (regime == AmericanRegime::european) {
    status = AmericanStatus::european;
    return bsm_greeks_kernel(is_put, s, k, t, r, q, sigma);
  }
  if (regime != AmericanRegime::boundary) {
    const double value = american_settled_price(regime, is_put, s, k, t, r, q, sigma, p, status);
    if (std::isnan(value)) return {nan, nan, nan, nan, nan};
    return {in_the_money, 0.0, 0.0, 0.0, 0.0};
  }
  // One solve for the price and the premium's derivatives.
  AmericanLanes<OneLane, Mode> lanes;
  lanes.template solve<AmericanScalarCalls>(p.s, p.k, p.t, p.r, p.q, p.sigma);
  bool exercised;
  const double value = lanes.template price<AmericanScalarCalls>(exercised);
  status = exercised ? AmericanStatus::exercised : AmericanStatus::ok;
  if (std::isnan(value)) return {nan, nan, nan, nan, nan};
  if (exercised) return {in_the_money, 0.0, 0.0, 0.0, 0.0};
  double delta, gamma, theta;
  american_lanes_greeks<AmericanScalarCalls>(lanes, is_put, value, delta, gamma, theta);
  const auto at = [&](double r_, double sigma_) {
    AmericanStatus ignored;
    return american_price_kernel<Mode>(is_put, s, k, t, r_, q, sigma_, ignored);
  };
  const auto same = [&](double r_, double sigma_) {
    const detail::AmericanPut moved = detail::american_as_put(is_put, s, k, t, r_, q, sigma_);
    return detail::american_same_form<OneLane>(p.r, p.q, p.sigma, moved.r, moved.q, moved.sigma);
  };
  using detail::american_step_down, detail::american_step_up;
  const double hs = detail::american_vega_step(sigma), hr = detail::kAmericanRhoStep;
  const double sigma_up = american_step_up(sigma, hs), sigma_down = american_step_down(sigma, hs);
  const double r_up = american_step_up(r, hr), r_down = american_step_down(r, hr);
  const double vega = detail::american_difference<OneLane>(
      at(r, sigma_up), value, at(r, sigma_down), hs, same(r, sigma_up), same(r, sigma_down));
  const double rho = detail::american_difference<OneLane>(
      at(r_up, sigma), value, at(r_down, sigma), hr, same(r_up, sigma), same(r_down, sigma));
  return {delta, gamma, vega, theta, rho};
}

// The most prices one implied volatility takes.
inline constexpr int kAmericanIvEvaluations = 30;

// Why an implied volatility is NaN (or 0), as the European inversion decides it.
enum class AmericanIvStatus : std::int8_t {
  ok = 0,
  no_time_value = 1,     // the price is the intrinsic value: 0.0
  european = 2,          // no early exercise: the European inversion's result
  invalid = -1,          // NaN, infinite or out-of-domain inputs
  below_intrinsic = -2,  // below the intrinsic value (by more than 1e-12)
  above_bound = -3,      // at or above k (put) or s (call): no finite volatility
  no_solution = -4,      // the search ended without a volatility within the tolerance
  two_boundaries = -5,   // the price itself is not covered
};

// The search of american_iv_kernel (below) as a state machine, one option per object: start()
// settles the options that need no search, or asks for the first price; then, until done, the
// caller prices the option at `sigma` (american_price_kernel) and hands the price to take(), which
// asks for the next one or settles `result` and `status`. The scalar kernel drives it with one
// price at a time, the vector blocks with the lanes of many options.
struct AmericanIvSearch {
  bool is_put;
  double target, s, k, t, r, q;
  double sigma;  // the volatility to price next (until done)
  bool done;
  double result;  // the implied volatility (once done)
  AmericanIvStatus status;
  // The bracket [lo, hi] in x = ln sigma with f(lo) <= 0 <= f(hi) (f: the price less the
  // target), the secant point x priced and the one before, the side of the root the last two
  // fell on (Illinois), and the prices taken so far.
  enum class Stage : std::int8_t { floor, bracket, secant } stage;
  double lo, f_lo, hi, f_hi, x, previous;
  int side, evaluations;

  void start(bool is_put_, double target_, double s_, double k_, double t_, double r_,
             double q_) noexcept {
    using detail::AmericanRegime;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    is_put = is_put_, target = target_, s = s_, k = k_, t = t_, r = r_, q = q_;
    done = false;
    const AmericanRegime regime =
        detail::american_regime(detail::american_as_put(is_put, s, k, t, r, q, 0.2));
    if (!OneLane::finite(target) || !(target >= 0.0) || !(t > 0.0) ||
        regime == AmericanRegime::invalid || !(s > 0.0) || !(k > 0.0))
      return settle(nan, AmericanIvStatus::invalid);
    if (regime == AmericanRegime::two_boundaries)
      return settle(nan, AmericanIvStatus::two_boundaries);
    if (regime == AmericanRegime::european)
      return settle(bsm_iv_kernel(is_put, target, s, k, t, r, q), AmericanIvStatus::european);
    constexpr double price_tolerance = 1e-12;
    if (target < detail::intrinsic(is_put, s, k) - price_tolerance)
      return settle(nan, AmericanIvStatus::below_intrinsic);
    if (target >= (is_put ? k : s)) return settle(nan, AmericanIvStatus::above_bound);
    evaluations = side = 0;
    stage = Stage::floor;
    lo = std::log(1e-4);
    sigma = 1e-4;
    f_lo = hi = f_hi = x = previous = 0.0;  // (set before use; for the compiler's flow analysis)
  }

  void take(double price) noexcept {
    ++evaluations;
    const double f = price - target;
    switch (stage) {
      case Stage::floor: {
        f_lo = f;
        if (f_lo >= 0.0)  // no time value at the smallest volatility searched
          return settle(0.0, AmericanIvStatus::no_time_value);
        const double european = bsm_iv_kernel(is_put, target, s, k, t, r, q);
        hi = european > 1e-4 && OneLane::finite(european) ? std::log(european) : 0.0;
        stage = Stage::bracket;
        sigma = std::exp(hi);
        return;
      }
      case Stage::bracket:
        f_hi = f;
        if (f_hi < 0.0 && evaluations < kAmericanIvEvaluations) {
          lo = hi, f_lo = f_hi;
          hi = hi + 1.0;
          sigma = std::exp(hi);
          return;
        }
        side = 0;
        previous = hi;
        return secant_step();
      case Stage::secant:
        if (std::fabs(f) <= 1e-13 * target || std::fabs(x - previous) <= 1e-11)
          return settle(sigma, AmericanIvStatus::ok);
        previous = x;
        if (f > 0.0) {
          hi = x, f_hi = f;
          if (side == 1) f_lo = 0.5 * f_lo;
          side = 1;
        } else {
          lo = x, f_lo = f;
          if (side == -1) f_hi = 0.5 * f_hi;
          side = -1;
        }
        return secant_step();
    }
  }

 private:
  void settle(double value, AmericanIvStatus why) noexcept {
    result = value;
    status = why;
    done = true;
  }
  // The next secant point, within the evaluations allowed.
  void secant_step() noexcept {
    if (evaluations >= kAmericanIvEvaluations) {
      return settle(std::numeric_limits<double>::quiet_NaN(), AmericanIvStatus::no_solution);
    }
    x = hi - f_hi * ((hi - lo) / (f_hi - f_lo));
    stage = Stage::secant;
    sigma = std::exp(x);
  }
};

// The volatility sigma whose American price (mode Mode) is target_price.
//
// Method: without early exercise, the European inversion (bsm_iv_kernel). Otherwise the price
// is increasing in sigma between the intrinsic value (sigma -> 0, up to the deterministic
// exercise) and the bound k (put) or s (call). The search brackets the root between 1e-4 and the
// European implied volatility of the target, which is at or above it (the American price is at
// or above the European at every sigma), and runs the secant method in ln sigma with the
// Illinois safeguard, until two successive volatilities agree to 1e-11 relatively or the price
// to 1e-13 relatively, at most kAmericanIvEvaluations prices (typically 5 to 8; deep in the money,
// where the price hardly moves with sigma, more).
//
// Accuracy: that of the mode's price over vega; with vega >= 1e-4, the volatility error is the
// price error divided by vega (README: "American exercise").
template <class Mode>
inline double american_iv_kernel(bool is_put, double target_price, double s, double k, double t,
                                 double r, double q, AmericanIvStatus& status) noexcept {
  AmericanIvSearch search;
  search.start(is_put, target_price, s, k, t, r, q);
  while (!search.done) {
    AmericanStatus ignored;
    search.take(american_price_kernel<Mode>(is_put, s, k, t, r, q, search.sigma, ignored));
  }
  status = search.status;
  return search.result;
}

}  // namespace karvex

// American prices, Greeks and implied volatilities of many options on vectors of N doubles, lane
// for lane the bits of american_price_kernel, american_greeks_kernel and american_iv_kernel.
//
// Method: the options in the boundary regime are gathered, as the puts they are, N at a time
// into the lanes of kernels/american.hpp's AmericanLanes, which does the same fixed work on
// every lane; the transcendental functions it asks for run here over its arrays of lanes: the
// normal cdf on vectors (kernels/american_cdf.hpp's terms and formula around two
// fdlibm_exp_lanes, the bits of karvex::american_cdf), exp on vectors (fdlibm_exp_lanes, the
// bits of karvex::fdlibm_exp), log as the platform's in a tight scalar loop, the European
// put as the scalar kernel. Options in another regime, and any
// lane whose price is NaN (the sign and payload of a NaN follow each compiled copy's operand
// order; only the scalar kernel's are the definition), take the scalar kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/american.hpp"
#include "kernels/platform.hpp"
#include "simd/american.hpp"
#include "simd/lanes.hpp"
#include "simd/normal_lanes.hpp"

namespace karvex::simd {

// The calls of AmericanLanes on arrays of vectors.
template <class L>
struct AmericanVectorCalls {
  using D = typename L::D;
  static constexpr std::size_t N = L::size;

  static double* doubles(D* v) noexcept { return reinterpret_cast<double*>(v); }

  static void cdf(D* z, int count) noexcept {
    for (int i = 0; i < count; ++i) {
      const detail::AmericanCdfTerms<L> t = detail::american_cdf_terms<L>(z[i]);
      D exp_e1 = L::splat(1.0), exp_e2 = L::splat(1.0);
      if (L::any(t.far)) {
        exp_e1 = fdlibm_exp_lanes<L>(t.e1);
        exp_e2 = fdlibm_exp_lanes<L>(t.e2);
      }
      z[i] = detail::american_cdf_from_exp<L>(t, exp_e1, exp_e2);
    }
  }
  static void exp(D* v, int count) noexcept {
    for (int i = 0; i < count; ++i) v[i] = fdlibm_exp_lanes<L>(v[i]);
  }
  static void log(D* v, int count) noexcept {
    double* x = doubles(v);
    for (std::size_t i = 0; i < static_cast<std::size_t>(count) * N; ++i)
      x[i] = platform::log(x[i]);
  }
  static D european_put(D S, D K, D T, D r, D q, D sigma) noexcept {
    D out;
    for (std::size_t j = 0; j < N; ++j)
      out[j] = american_scalar_european_put(S[j], K[j], T[j], r[j], q[j], sigma[j]);
    return out;
  }
  static void european_put_greeks(D S, D K, D T, D r, D q, D sigma, D& delta, D& gamma) noexcept {
    for (std::size_t j = 0; j < N; ++j) {
      american_scalar_european_put_greeks(S[j], K[j], T[j], r[j], q[j], sigma[j], delta[j],
                                          gamma[j]);
    }
  }
};

// out[i] = american_cdf(z[i]) for i in [0, n), N lanes at a time (the last vector padded with
// copies of the last argument).
template <class L>
void american_cdf_lanes(const double* z, double* out, std::size_t n) noexcept {
  constexpr std::size_t N = L::size;
  for (std::size_t i = 0; i < n; i += N) {
    const std::size_t m = n - i < N ? n - i : N;
    alignas(64) double lane[N];
    for (std::size_t j = 0; j < N; ++j) lane[j] = z[i + (j < m ? j : m - 1)];
    typename L::D v = L::load(lane);
    AmericanVectorCalls<L>::cdf(&v, 1);
    L::store(lane, v);
    for (std::size_t j = 0; j < m; ++j) out[i + j] = lane[j];
  }
}

// Options waiting for a block of lanes L, as the puts they are: `columns` inputs each (the first
// six S, K, T, r, q, sigma), the put mask and the option's index. (A template over L, as all code
// of the vector variants: no symbol shared with another unit.)
template <class L, int columns>
struct AmericanQueue {
  static constexpr std::size_t N = L::size;
  alignas(64) double column[columns][N];
  alignas(64) std::int64_t put[N];
  std::size_t index[N];
  std::size_t size = 0;

  // Option i: its put's inputs (the other columns filled beforehand), its kind.
  void push(const detail::AmericanPut& p, std::size_t i, bool is_put) noexcept {
    const double row[6] = {p.s, p.k, p.t, p.r, p.q, p.sigma};
    for (int c = 0; c < 6; ++c) column[c][size] = row[c];
    put[size] = is_put ? -1 : 0;
    index[size++] = i;
  }
  // Copies of the last option in the unused lanes.
  void pad() noexcept {
    for (std::size_t j = size; j < N; ++j) {
      for (auto& c : column) c[j] = c[size - 1];
      put[j] = put[size - 1];
    }
  }
};

// The prices of options [begin, end) in `mode`.
template <class L, class Mode>
void american_blocks(const OptionColumns& in, double* out, std::int8_t* status, std::size_t begin,
                     std::size_t end) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  constexpr std::size_t N = L::size;
  constexpr AmericanMode mode = Mode::mode;
  alignas(64) double lane[6][N];
  std::size_t index[N];
  std::size_t pending = 0;

  const auto run = [&]() {
    for (std::size_t j = pending; j < N; ++j) {  // padding: copies of the last option
      for (auto& column : lane) column[j] = column[pending - 1];
    }
    AmericanLanes<L, Mode> lanes;
    lanes.template solve<AmericanVectorCalls<L>>(L::load(lane[0]), L::load(lane[1]),
                                                 L::load(lane[2]), L::load(lane[3]),
                                                 L::load(lane[4]), L::load(lane[5]));
    I exercised;
    const D price = lanes.template price<AmericanVectorCalls<L>>(exercised);
    alignas(64) std::int64_t on_boundary[N];
    L::store_mask(on_boundary, exercised);
    for (std::size_t j = 0; j < pending; ++j) {
      const std::size_t i = index[j];
      AmericanStatus st = on_boundary[j] != 0 ? AmericanStatus::exercised : AmericanStatus::ok;
      out[i] = price[j];
      if (out[i] != out[i]) out[i] = american_scalar_price(mode, in, i, st);
      if (status != nullptr) status[i] = static_cast<std::int8_t>(st);
    }
    pending = 0;
  };

  for (std::size_t i = begin; i < end; ++i) {
    detail::AmericanPut put;
    if (american_scalar_regime(in, i, put) != detail::AmericanRegime::boundary) {
      AmericanStatus st;
      out[i] = american_scalar_price(mode, in, i, st);
      if (status != nullptr) status[i] = static_cast<std::int8_t>(st);
      continue;
    }
    lane[0][pending] = put.s;
    lane[1][pending] = put.k;
    lane[2][pending] = put.t;
    lane[3][pending] = put.r;
    lane[4][pending] = put.q;
    lane[5][pending] = put.sigma;
    index[pending++] = i;
    if (pending == N) run();
  }
  if (pending != 0) run();
}

// The Greeks of options [begin, end) in `mode` (out[0 .. 4]: delta, gamma, vega, theta, rho).
// Options in the boundary regime are solved N at a time once, for the price and delta, gamma and
// theta (american_lanes_greeks); those neither exercised nor NaN there, whose four shifted inputs
// (sigma +- 1e-4 sigma, the option's rate +- 1e-5) are in the boundary regime too, are queued
// for the shifted prices, N options at a time in four solves, and vega and rho
// (american_difference, with the price). Every other
// option, and any with a NaN Greek (a NaN shifted price among them), takes the scalar kernel.
template <class L, class Mode>
void american_greeks_blocks(const OptionColumns& in, double* const* out, std::size_t begin,
                            std::size_t end) noexcept {
  using D = typename L::D;
  using I = typename L::I;
  using Calls = AmericanVectorCalls<L>;
  constexpr std::size_t N = L::size;
  constexpr AmericanMode mode = Mode::mode;
  // The shifted queue's columns after the put's six: sigma up and down, the put's rate and yield
  // with the option's rate up and down, and the step of sigma.
  enum {
    kSigmaUp = 6,
    kSigmaDown,
    kRateUp,
    kYieldUp,
    kRateDown,
    kYieldDown,
    kStep,
    kValue,
    kColumns
  };
  AmericanQueue<L, 6> base;
  AmericanQueue<L, kColumns> shifted;

  // The four prices of the differences, then vega and rho.
  const auto run_shifted = [&]() {
    shifted.pad();
    const auto at = [&](int c) { return L::load(shifted.column[c]); };
    alignas(64) double price[4][N];
    const int inputs[4][3] = {
        {3, 4, kSigmaUp}, {3, 4, kSigmaDown}, {kRateUp, kYieldUp, 5}, {kRateDown, kYieldDown, 5}};
    for (int d = 0; d < 4; ++d) {
      AmericanLanes<L, Mode> lanes;
      lanes.template solve<Calls>(at(0), at(1), at(2), at(inputs[d][0]), at(inputs[d][1]),
                                  at(inputs[d][2]));
      I exercised;
      L::store(price[d], lanes.template price<Calls>(exercised));
    }
    const D r = at(3), q = at(4), sigma = at(5), value = at(kValue);
    const auto same = [&](int r_, int q_, int sigma_) {
      return detail::american_same_form<L>(r, q, sigma, at(r_), at(q_), at(sigma_));
    };
    const D vega =
        detail::american_difference<L>(L::load(price[0]), value, L::load(price[1]), at(kStep),
                                       same(3, 4, kSigmaUp), same(3, 4, kSigmaDown));
    const D rho = detail::american_difference<L>(
        L::load(price[2]), value, L::load(price[3]), L::splat(detail::kAmericanRhoStep),
        same(kRateUp, kYieldUp, 5), same(kRateDown, kYieldDown, 5));
    for (std::size_t j = 0; j < shifted.size; ++j) {
      const std::size_t i = shifted.index[j];
      if (vega[j] != vega[j] || rho[j] != rho[j]) {  // (a NaN price among them too)
        american_scalar_greeks(mode, in, i, out);
        continue;
      }
      out[2][i] = vega[j];
      out[4][i] = rho[j];
    }
    shifted.size = 0;
  };

  // The price, delta, gamma and theta, and the shifted inputs.
  const auto run_base = [&]() {
    base.pad();
    const I is_put = L::load_mask(base.put);
    const D S = L::load(base.column[0]), K = L::load(base.column[1]);
    const D r = L::load(base.column[3]), q = L::load(base.column[4]);
    const D sigma = L::load(base.column[5]);
    AmericanLanes<L, Mode> lanes;
    lanes.template solve<Calls>(S, K, L::load(base.column[2]), r, q, sigma);
    I exercised;
    const D value = lanes.template price<Calls>(exercised);
    D delta, gamma, theta;
    american_lanes_greeks<Calls>(lanes, is_put, value, delta, gamma, theta);
    const D in_the_money = detail::american_intrinsic_delta<L>(is_put, S, K);
    const D step = detail::american_vega_step(sigma);
    const D rate = detail::american_own_rate<L>(is_put, r, q);
    const D hr = L::splat(detail::kAmericanRhoStep);
    D r_up = r, q_up = q, r_down = r, q_down = q;
    detail::american_with_rate<L>(is_put, detail::american_step_up(rate, hr), r_up, q_up);
    detail::american_with_rate<L>(is_put, detail::american_step_down(rate, hr), r_down, q_down);
    const D sigma_up = detail::american_step_up(sigma, step);
    const D sigma_down = detail::american_step_down(sigma, step);
    alignas(64) std::int64_t on_boundary[N];
    L::store_mask(on_boundary, exercised);
    for (std::size_t j = 0; j < base.size; ++j) {
      const std::size_t i = base.index[j];
      if (value[j] != value[j]) {
        american_scalar_greeks(mode, in, i, out);
        continue;
      }
      if (on_boundary[j] != 0) {
        out[0][i] = in_the_money[j];
        for (int g = 1; g < 5; ++g) out[g][i] = 0.0;
        continue;
      }
      const auto regime = [&](double r_, double q_, double sigma_) {
        return american_scalar_put_regime({S[j], K[j], base.column[2][j], r_, q_, sigma_});
      };
      constexpr auto boundary = detail::AmericanRegime::boundary;
      // (a NaN Greek too: NaN's sign and payload follow each compiled copy's operand order)
      if (delta[j] != delta[j] || gamma[j] != gamma[j] || theta[j] != theta[j] ||
          regime(r[j], q[j], sigma_up[j]) != boundary ||
          regime(r[j], q[j], sigma_down[j]) != boundary ||
          regime(r_up[j], q_up[j], sigma[j]) != boundary ||
          regime(r_down[j], q_down[j], sigma[j]) != boundary) {
        american_scalar_greeks(mode, in, i, out);
        continue;
      }
      out[0][i] = delta[j];
      out[1][i] = gamma[j];
      out[3][i] = theta[j];
      const double row[kColumns - 6] = {sigma_up[j], sigma_down[j], r_up[j], q_up[j],
                                        r_down[j],   q_down[j],     step[j], value[j]};
      for (int c = 6; c < kColumns; ++c) shifted.column[c][shifted.size] = row[c - 6];
      shifted.push({S[j], K[j], base.column[2][j], r[j], q[j], sigma[j]}, i, base.put[j] != 0);
      if (shifted.size == N) run_shifted();
    }
    base.size = 0;
  };

  for (std::size_t i = begin; i < end; ++i) {
    detail::AmericanPut put;
    if (american_scalar_regime(in, i, put) != detail::AmericanRegime::boundary) {
      american_scalar_greeks(mode, in, i, out);
      continue;
    }
    base.push(put, i, in.flag != nullptr && in.flag[i] < 0);
    if (base.size == N) run_base();
  }
  if (base.size != 0) run_base();
  if (shifted.size != 0) run_shifted();
}

// The implied volatilities of options [begin, end) in `mode` (the target prices as sigma). Each
// of N slots runs the search of one option (AmericanIvSearch); every round prices the volatility
// each slot asks for on the lanes, and a slot whose search ends takes the next option. A price
// outside the boundary regime, or a NaN, comes from the scalar kernel.
template <class L, class Mode>
void american_iv_blocks(const OptionColumns& in, double* out, std::size_t begin,
                        std::size_t end) noexcept {
  using Calls = AmericanVectorCalls<L>;
  constexpr std::size_t N = L::size;
  constexpr AmericanMode mode = Mode::mode;
  AmericanIvSearch search[N];
  AmericanQueue<L, 6> asked;  // the puts the slots ask about (index: the slot)
  bool busy[N] = {};
  std::size_t index[N];
  std::size_t next = begin;

  // Moves slot j on until its search asks for a price the lanes give: settles finished searches,
  // starts the next options, and prices outside the boundary regime by the scalar kernel. False
  // when the range is done for the slot.
  const auto advance = [&](std::size_t j, detail::AmericanPut& put) {
    for (;;) {
      if (!busy[j]) {
        if (next == end) return false;
        index[j] = next++;
        american_scalar_iv_start(in, index[j], search[j]);
        busy[j] = true;
      }
      if (search[j].done) {
        out[index[j]] = search[j].result;
        busy[j] = false;
        continue;
      }
      if (american_scalar_iv_put(search[j], put) == detail::AmericanRegime::boundary) return true;
      american_scalar_iv_take(search[j], american_scalar_iv_price(mode, search[j]));
    }
  };

  for (;;) {
    asked.size = 0;
    for (std::size_t j = 0; j < N; ++j) {
      detail::AmericanPut put;
      if (!advance(j, put)) continue;
      asked.push(put, j, search[j].is_put);
    }
    if (asked.size == 0) break;
    asked.pad();
    const auto at = [&](int c) { return L::load(asked.column[c]); };
    AmericanLanes<L, Mode> lanes;
    lanes.template solve<Calls>(at(0), at(1), at(2), at(3), at(4), at(5));
    typename L::I exercised;
    const typename L::D price = lanes.template price<Calls>(exercised);
    for (std::size_t j = 0; j < asked.size; ++j) {
      AmericanIvSearch& x = search[asked.index[j]];
      american_scalar_iv_take(x,
                              price[j] == price[j] ? price[j] : american_scalar_iv_price(mode, x));
    }
  }
}

template <class L>
void american_range(AmericanMode mode, const OptionColumns& in, double* out, std::int8_t* status,
                    std::size_t begin, std::size_t end) noexcept {
  with_american_mode(mode,
                     [&](auto m) { american_blocks<L, decltype(m)>(in, out, status, begin, end); });
}

template <class L>
void american_greeks_range(AmericanMode mode, const OptionColumns& in, double* const* out,
                           std::size_t begin, std::size_t end) noexcept {
  with_american_mode(mode,
                     [&](auto m) { american_greeks_blocks<L, decltype(m)>(in, out, begin, end); });
}

template <class L>
void american_iv_range(AmericanMode mode, const OptionColumns& in, double* out, std::size_t begin,
                       std::size_t end) noexcept {
  with_american_mode(mode,
                     [&](auto m) { american_iv_blocks<L, decltype(m)>(in, out, begin, end); });
}

}  // namespace karvex::simd

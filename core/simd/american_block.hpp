// American prices of many options on vectors of N doubles, lane for lane the bits of
// american_price_kernel.
//
// Method: the options in the boundary regime are gathered, as the puts they are, N at a time
// into the lanes of kernels/american.hpp's AmericanLanes, which does the same fixed work on
// every lane; the transcendental functions it asks for run here over its arrays of lanes: the
// normal cdf on vectors (CdfBlock, the bits of karvex::cdf), exp on vectors (fdlibm_exp_lanes,
// the bits of karvex::fdlibm_exp), log as the platform's in a tight scalar loop, the European
// put as the scalar kernel. Options in another regime, and any
// lane whose price is NaN (the sign and payload of a NaN follow each compiled copy's operand
// order; only the scalar kernel's are the definition), take the scalar kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/american.hpp"
#include "kernels/platform.hpp"
#include "simd/american.hpp"
#include "simd/block.hpp"
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
    CdfBlock<L> block;
    double* x = doubles(z);
    const std::size_t total = static_cast<std::size_t>(count) * N;
    for (std::size_t base = 0; base < total; base += kBlockSize) {
      const std::size_t n = total - base < kBlockSize ? total - base : kBlockSize;
      block.evaluate(x + base, x + base, n, n);
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

template <class L>
void american_range(AmericanMode mode, const OptionColumns& in, double* out, std::int8_t* status,
                    std::size_t begin, std::size_t end) noexcept {
  with_american_mode(mode,
                     [&](auto m) { american_blocks<L, decltype(m)>(in, out, status, begin, end); });
}

}  // namespace karvex::simd

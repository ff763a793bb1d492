// The choice of path and the scalar path. Compiled for the baseline
// processor, like every unit but the variants.
#include "simd/dispatch.hpp"

#include <cstdlib>
#include <cstring>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/price.hpp"
#include "simd/scalar_calls.hpp"
#include "simd/variants.hpp"

namespace karvex::simd {

const char* path_name(Path path) noexcept {
  switch (path) {
    case Path::avx512:
      return "avx512";
    case Path::avx2:
      return "avx2";
    default:
      return "scalar";
  }
}

bool supported(Path path) noexcept {
#ifdef KARVEX_SIMD_VARIANTS
  switch (path) {
    case Path::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl");
    case Path::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    default:
      return true;
  }
#else
  return path == Path::scalar;
#endif
}

namespace {

Path choose_path() noexcept {
  Path widest = Path::avx512;
  if (const char* wanted = std::getenv("KARVEX_SIMD")) {
    for (const Path path : kPaths) {
      if (std::strcmp(wanted, path_name(path)) == 0) widest = path;
    }
  }
  for (Path path = widest;; path = static_cast<Path>(static_cast<int>(path) - 1)) {
    if (path == Path::scalar || supported(path)) return path;
  }
}

// The scalar loop: the two stages of the price kernel software pipelined, the
// first stage of option i + 1 formed before the second stage of option i.
void price_range_scalar(const OptionColumns& in, double* out, std::size_t begin,
                        std::size_t end) noexcept {
  if (begin == end) return;
  const auto first = [&in](std::size_t i) {
    return bsm_price_first_stage(in.flag[i] < 0, in.s[i], in.k[i], in.t[i], in.r[i], in.q[i],
                                 in.sigma[i]);
  };
  PriceStage stage = first(begin);
  for (std::size_t i = begin; i + 1 < end; ++i) {
    const PriceStage next = first(i + 1);
    out[i] = bsm_price_second_stage(stage);
    stage = next;
  }
  out[end - 1] = bsm_price_second_stage(stage);
}

// The scalar loop of a kernel in two stages, software pipelined as the price's.
template <class First, class Second, class Store>
void pipelined(std::size_t begin, std::size_t end, First first, Second second,
               Store store) noexcept {
  if (begin == end) return;
  auto stage = first(begin);
  for (std::size_t i = begin; i + 1 < end; ++i) {
    const auto next = first(i + 1);
    store(i, second(stage));
    stage = next;
  }
  store(end - 1, second(stage));
}

template <Greek G>
void greeks_range_scalar(const OptionColumns& in, double* const* out, std::size_t begin,
                         std::size_t end) noexcept {
  const auto first = [&in](std::size_t i) {
    const bool put = put_at(in, i);
    const double s = in.s[i], k = in.k[i], t = in.t[i], r = in.r[i], q = in.q[i];
    const double sigma = in.sigma[i];
    if constexpr (G == Greek::delta) return bsm_delta_first_stage(put, s, k, t, r, q, sigma);
    if constexpr (G == Greek::theta) return bsm_theta_first_stage(put, s, k, t, r, q, sigma);
    if constexpr (G == Greek::rho) return bsm_rho_first_stage(put, s, k, t, r, q, sigma);
    if constexpr (G == Greek::all) return bsm_greeks_first_stage(put, s, k, t, r, q, sigma);
  };
  const auto store = [out](std::size_t i, const auto& value) { store_result(out, i, value); };
  if constexpr (G == Greek::gamma) {
    for (std::size_t i = begin; i < end; ++i) {
      out[0][i] = bsm_gamma_kernel(in.s[i], in.k[i], in.t[i], in.r[i], in.q[i], in.sigma[i]);
    }
  } else if constexpr (G == Greek::vega) {
    for (std::size_t i = begin; i < end; ++i) {
      out[0][i] = bsm_vega_kernel(in.s[i], in.k[i], in.t[i], in.r[i], in.q[i], in.sigma[i]);
    }
  } else if constexpr (G == Greek::delta) {
    pipelined(
        begin, end, first, [](const GreeksStage& g) { return bsm_delta_second_stage(g); }, store);
  } else if constexpr (G == Greek::theta) {
    pipelined(
        begin, end, first, [](const GreeksStage& g) { return bsm_theta_second_stage(g); }, store);
  } else if constexpr (G == Greek::rho) {
    pipelined(
        begin, end, first, [](const GreeksStage& g) { return bsm_rho_second_stage(g); }, store);
  } else {
    pipelined(
        begin, end, first, [](const GreeksStage& g) { return bsm_greeks_second_stage(g); }, store);
  }
}

}  // namespace

Path active_path() noexcept {
  static const Path path = choose_path();
  return path;
}

void greeks_range(Path path, Greek which, const OptionColumns& in, double* const* out,
                  std::size_t begin, std::size_t end) noexcept {
#ifdef KARVEX_SIMD_VARIANTS
  if (path == Path::avx512) return greeks_range_avx512(which, in, out, begin, end);
  if (path == Path::avx2) return greeks_range_avx2(which, in, out, begin, end);
#else
  (void)path;
#endif
  switch (which) {
    case Greek::delta:
      return greeks_range_scalar<Greek::delta>(in, out, begin, end);
    case Greek::gamma:
      return greeks_range_scalar<Greek::gamma>(in, out, begin, end);
    case Greek::vega:
      return greeks_range_scalar<Greek::vega>(in, out, begin, end);
    case Greek::theta:
      return greeks_range_scalar<Greek::theta>(in, out, begin, end);
    case Greek::rho:
      return greeks_range_scalar<Greek::rho>(in, out, begin, end);
    case Greek::all:
      return greeks_range_scalar<Greek::all>(in, out, begin, end);
  }
}

void black76_rho_range(Path path, const OptionColumns& in, double* rho, std::size_t begin,
                       std::size_t end) noexcept {
  price_range(path, in, rho, begin, end);
  for (std::size_t i = begin; i < end; ++i)
    rho[i] = detail::black76_rho_from_price(in.t[i], rho[i]);
}

void black76_greeks_range(Path path, const OptionColumns& in, double* const* out, std::size_t begin,
                          std::size_t end) noexcept {
  if (path == Path::scalar) {
    for (std::size_t i = begin; i < end; ++i) {
      store_result(
          out, i,
          black76_greeks_kernel(in.flag[i] < 0, in.s[i], in.k[i], in.t[i], in.r[i], in.sigma[i]));
    }
    return;
  }
  greeks_range(path, Greek::all, in, out, begin, end);
  black76_rho_range(path, in, out[static_cast<std::size_t>(Greek::rho)], begin, end);
}

void iv_range(Path path, const OptionColumns& in, double* out, std::size_t begin,
              std::size_t end) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return iv_range_avx512(in, out, begin, end);
    case Path::avx2:
      return iv_range_avx2(in, out, begin, end);
#endif
    default:
      for (std::size_t i = begin; i < end; ++i) {
        out[i] =
            bsm_iv_kernel(in.flag[i] < 0, in.sigma[i], in.s[i], in.k[i], in.t[i], in.r[i], in.q[i]);
      }
  }
}

void price_range(Path path, const OptionColumns& in, double* out, std::size_t begin,
                 std::size_t end) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return price_range_avx512(in, out, begin, end);
    case Path::avx2:
      return price_range_avx2(in, out, begin, end);
#endif
    default:
      return price_range_scalar(in, out, begin, end);
  }
}

}  // namespace karvex::simd

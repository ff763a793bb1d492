// The choice of path, the scalar path and the scalar fallback of the vector
// paths. Compiled for the baseline processor, like every unit but the
// variants.
#include "simd/dispatch.hpp"

#include <cstdlib>
#include <cstring>

#include "kernels/price.hpp"
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

}  // namespace

Path active_path() noexcept {
  static const Path path = choose_path();
  return path;
}

double scalar_price(const OptionColumns& in, std::size_t i) noexcept {
  return bsm_price_kernel(in.flag[i] < 0, in.s[i], in.k[i], in.t[i], in.r[i], in.q[i], in.sigma[i]);
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

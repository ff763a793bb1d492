// The normal model's choice of path, its scalar loop and the scalar kernels the
// vector variants call for their rare lanes. Compiled for the baseline
// processor, like every unit but the variants.
#include "simd/bachelier_dispatch.hpp"

#include "kernels/bachelier.hpp"
#include "kernels/combined_greeks.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

void scalar_bachelier(NormalQuantity which, const OptionColumns& in, std::size_t i,
                      double* values) noexcept {
  const bool put = put_at(in, i);
  const double f = in.s[i], k = in.k[i], t = in.t[i], r = in.r[i], sigma = in.sigma[i];
  switch (which) {
    case NormalQuantity::price:
      values[0] = bachelier_price_kernel(put, f, k, t, r, sigma);
      return;
    case NormalQuantity::delta:
      values[0] = bachelier_delta_kernel(put, f, k, t, r, sigma);
      return;
    case NormalQuantity::gamma:
      values[0] = bachelier_gamma_kernel(f, k, t, r, sigma);
      return;
    case NormalQuantity::vega:
      values[0] = bachelier_vega_kernel(f, k, t, r, sigma);
      return;
    case NormalQuantity::theta:
      values[0] = bachelier_theta_kernel(put, f, k, t, r, sigma);
      return;
    case NormalQuantity::rho:
      values[0] = bachelier_rho_kernel(put, f, k, t, r, sigma);
      return;
    case NormalQuantity::greeks: {
      const Greeks g = bachelier_greeks_kernel(put, f, k, t, r, sigma);
      for (std::size_t j = 0; j < kGreekCount; ++j) values[j] = g.*greek_fields<double>[j];
      return;
    }
    case NormalQuantity::iv:
      values[0] = bachelier_iv_kernel(put, sigma, f, k, t, r);
      return;
  }
}

BachelierIvProblem scalar_bachelier_iv_reduce(const OptionColumns& in, std::size_t i) noexcept {
  return bachelier_iv_reduce(put_at(in, i), in.sigma[i], in.s[i], in.k[i], in.t[i], in.r[i]);
}

void bachelier_range(Path path, NormalQuantity which, const OptionColumns& in, double* const* out,
                     std::size_t begin, std::size_t end) noexcept {
  OptionColumns columns = in;
  if (columns.q == nullptr) columns.q = columns.r;  // the blocks load every column
#ifdef KARVEX_SIMD_VARIANTS
  if (path == Path::avx512) return bachelier_range_avx512(which, columns, out, begin, end);
  if (path == Path::avx2) return bachelier_range_avx2(which, columns, out, begin, end);
#else
  (void)path;
#endif
  double values[kGreekCount];
  const std::size_t outputs = which == NormalQuantity::greeks ? kGreekCount : 1;
  for (std::size_t i = begin; i < end; ++i) {
    scalar_bachelier(which, columns, i, values);
    for (std::size_t j = 0; j < outputs; ++j) out[j][i] = values[j];
  }
}

}  // namespace karvex::simd

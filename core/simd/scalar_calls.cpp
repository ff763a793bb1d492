// The scalar kernels the vector variants call for their rare lanes (see
// scalar_calls.hpp), compiled for the baseline processor.
#include "simd/scalar_calls.hpp"

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/normal.hpp"
#include "kernels/price.hpp"
#include "kernels/second_order.hpp"
#include "simd/second_order.hpp"

namespace karvex::simd {

double scalar_price(const OptionColumns& in, std::size_t i) noexcept {
  return bsm_price_kernel(in.flag[i] < 0, in.s[i], in.k[i], in.t[i], in.r[i], in.q[i], in.sigma[i]);
}

double scalar_cdf(double z) noexcept {
  return cdf(z);
}

NormalisedBlack scalar_normalised_black(double x, double s) noexcept {
  return normalised_black(x, s);
}

IvProblem scalar_iv_reduce(const OptionColumns& in, std::size_t i) noexcept {
  return iv_reduce(in.flag[i] < 0, in.sigma[i], in.s[i], in.k[i], in.t[i], in.r[i], in.q[i]);
}

double scalar_iv_second_point(double beta, double b_max, double s_c,
                              const NormalisedBlack& central) noexcept {
  return iv_guess_second_point(beta, b_max, s_c, central);
}

IvRefinement scalar_iv_guess(double x, double ax, double beta, double b_max, double s_c,
                             const NormalisedBlack& central, double s_2,
                             const NormalisedBlack& second) noexcept {
  return iv_refine_start(beta, b_max,
                         iv_guess_from_points(x, ax, beta, b_max, s_c, central, s_2, second));
}

void scalar_greeks(Greek which, const OptionColumns& in, std::size_t i, double* values) noexcept {
  const bool put = put_at(in, i);
  const double s = in.s[i], k = in.k[i], t = in.t[i], r = in.r[i], q = in.q[i];
  const double sigma = in.sigma[i];
  switch (which) {
    case Greek::delta:
      values[0] = bsm_delta_kernel(put, s, k, t, r, q, sigma);
      return;
    case Greek::gamma:
      values[0] = bsm_gamma_kernel(s, k, t, r, q, sigma);
      return;
    case Greek::vega:
      values[0] = bsm_vega_kernel(s, k, t, r, q, sigma);
      return;
    case Greek::theta:
      values[0] = bsm_theta_kernel(put, s, k, t, r, q, sigma);
      return;
    case Greek::rho:
      values[0] = bsm_rho_kernel(put, s, k, t, r, q, sigma);
      return;
    case Greek::all: {
      const Greeks g = bsm_greeks_kernel(put, s, k, t, r, q, sigma);
      for (std::size_t j = 0; j < kGreekCount; ++j) values[j] = g.*greek_fields<double>[j];
      return;
    }
  }
}

void scalar_second_order(SecondSet set, const OptionColumns& in, std::size_t i,
                         double* values) noexcept {
  with_second_set(set, [&](auto s) {
    constexpr SecondSet kSet = decltype(s)::value;
    second_order_values<kSet>(bsm_second_order_kernel<kSet>(put_at(in, i), in.s[i], in.k[i],
                                                            in.t[i], in.r[i], in.q[i], in.sigma[i]),
                              values);
  });
}

}  // namespace karvex::simd

// The American path choice, the scalar loop and the scalar side of the vector variants, compiled
// for the baseline processor.
#include "simd/american.hpp"

#include "kernels/american.hpp"
#include "kernels/price.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

namespace {

template <class Mode>
void american_range_scalar(const OptionColumns& in, double* out, std::int8_t* status,
                           std::size_t begin, std::size_t end) noexcept {
  for (std::size_t i = begin; i < end; ++i) {
    AmericanStatus st;
    out[i] = american_price_kernel<Mode>(put_at(in, i), in.s[i], in.k[i], in.t[i], in.r[i], in.q[i],
                                         in.sigma[i], st);
    if (status != nullptr) status[i] = static_cast<std::int8_t>(st);
  }
}

template <class Mode>
void american_greeks_at(const OptionColumns& in, std::size_t i, double* const* out) noexcept {
  AmericanStatus st;
  const Greeks g = american_greeks_kernel<Mode>(put_at(in, i), in.s[i], in.k[i], in.t[i], in.r[i],
                                                in.q[i], in.sigma[i], st);
  out[0][i] = g.delta;
  out[1][i] = g.gamma;
  out[2][i] = g.vega;
  out[3][i] = g.theta;
  out[4][i] = g.rho;
}

template <class Mode>
void american_greeks_loop(const OptionColumns& in, double* const* out, std::size_t begin,
                          std::size_t end) noexcept {
  for (std::size_t i = begin; i < end; ++i) american_greeks_at<Mode>(in, i, out);
}

template <class Mode>
void american_iv_loop(const OptionColumns& in, double* out, std::size_t begin,
                      std::size_t end) noexcept {
  for (std::size_t i = begin; i < end; ++i) {
    AmericanIvStatus st;
    out[i] = american_iv_kernel<Mode>(put_at(in, i), in.sigma[i], in.s[i], in.k[i], in.t[i],
                                      in.r[i], in.q[i], st);
  }
}

}  // namespace

void american_greeks_range(Path path, AmericanMode mode, const OptionColumns& in,
                           double* const* out, std::size_t begin, std::size_t end) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return american_greeks_range_avx512(mode, in, out, begin, end);
    case Path::avx2:
      return american_greeks_range_avx2(mode, in, out, begin, end);
#endif
    default:
      return with_american_mode(
          mode, [&](auto m) { american_greeks_loop<decltype(m)>(in, out, begin, end); });
  }
}

void american_iv_range(Path path, AmericanMode mode, const OptionColumns& in, double* out,
                       std::size_t begin, std::size_t end) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return american_iv_range_avx512(mode, in, out, begin, end);
    case Path::avx2:
      return american_iv_range_avx2(mode, in, out, begin, end);
#endif
    default:
      return with_american_mode(
          mode, [&](auto m) { american_iv_loop<decltype(m)>(in, out, begin, end); });
  }
}

void american_cdf_range(Path path, const double* z, double* out, std::size_t n) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return american_cdf_range_avx512(z, out, n);
    case Path::avx2:
      return american_cdf_range_avx2(z, out, n);
#endif
    default:
      for (std::size_t i = 0; i < n; ++i) out[i] = american_cdf(z[i]);
  }
}

detail::AmericanRegime american_scalar_regime(const OptionColumns& in, std::size_t i,
                                              detail::AmericanPut& put) noexcept {
  put = detail::american_as_put(put_at(in, i), in.s[i], in.k[i], in.t[i], in.r[i], in.q[i],
                                in.sigma[i]);
  return detail::american_regime(put);
}

double american_scalar_price(AmericanMode mode, const OptionColumns& in, std::size_t i,
                             AmericanStatus& status) noexcept {
  return with_american_mode(mode, [&](auto m) {
    return american_price_kernel<decltype(m)>(put_at(in, i), in.s[i], in.k[i], in.t[i], in.r[i],
                                              in.q[i], in.sigma[i], status);
  });
}

double american_scalar_european_put(double s, double k, double t, double r, double q,
                                    double sigma) noexcept {
  return bsm_price_kernel(true, s, k, t, r, q, sigma);
}

detail::AmericanRegime american_scalar_put_regime(const detail::AmericanPut& put) noexcept {
  return detail::american_regime(put);
}

void american_scalar_greeks(AmericanMode mode, const OptionColumns& in, std::size_t i,
                            double* const* out) noexcept {
  with_american_mode(mode, [&](auto m) { american_greeks_at<decltype(m)>(in, i, out); });
}

void american_scalar_european_put_greeks(double s, double k, double t, double r, double q,
                                         double sigma, double& delta, double& gamma) noexcept {
  AmericanScalarCalls::european_put_greeks(s, k, t, r, q, sigma, delta, gamma);
}

void american_scalar_iv_start(const OptionColumns& in, std::size_t i,
                              AmericanIvSearch& search) noexcept {
  search.start(put_at(in, i), in.sigma[i], in.s[i], in.k[i], in.t[i], in.r[i], in.q[i]);
}

detail::AmericanRegime american_scalar_iv_put(const AmericanIvSearch& search,
                                              detail::AmericanPut& put) noexcept {
  put = detail::american_as_put(search.is_put, search.s, search.k, search.t, search.r, search.q,
                                search.sigma);
  return detail::american_regime(put);
}

double american_scalar_iv_price(AmericanMode mode, const AmericanIvSearch& search) noexcept {
  const auto& x = search;
  AmericanStatus ignored;
  return with_american_mode(mode, [&](auto m) {
    return american_price_kernel<decltype(m)>(x.is_put, x.s, x.k, x.t, x.r, x.q, x.sigma, ignored);
  });
}

void american_scalar_iv_take(AmericanIvSearch& search, double price) noexcept {
  search.take(price);
}

void american_price_range(Path path, AmericanMode mode, const OptionColumns& in, double* out,
                          std::int8_t* status, std::size_t begin, std::size_t end) noexcept {
  switch (path) {
#ifdef KARVEX_SIMD_VARIANTS
    case Path::avx512:
      return american_price_range_avx512(mode, in, out, status, begin, end);
    case Path::avx2:
      return american_price_range_avx2(mode, in, out, status, begin, end);
#endif
    default:
      return with_american_mode(
          mode, [&](auto m) { american_range_scalar<decltype(m)>(in, out, status, begin, end); });
  }
}

}  // namespace karvex::simd

// American prices of many options at once, on the scalar path or a vector unit, the same bits on
// every path (see kernels/american.hpp for the method and the regimes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/american.hpp"
#include "simd/dispatch.hpp"

namespace karvex::simd {

// out[i] = american_price_kernel<mode>(flag[i] < 0, s[i], k[i], t[i], r[i], q[i], sigma[i]) and,
// where status is not null, status[i] its AmericanStatus, for i in [begin, end), on the given
// path (which must be supported).
void american_price_range(Path path, AmericanMode mode, const OptionColumns& in, double* out,
                          std::int8_t* status, std::size_t begin, std::size_t end) noexcept;

// The American Greeks (out[0 .. 4]: delta, gamma, vega, theta, rho; american_greeks_kernel) of
// options [begin, end), on the given path (which must be supported).
void american_greeks_range(Path path, AmericanMode mode, const OptionColumns& in,
                           double* const* out, std::size_t begin, std::size_t end) noexcept;

// The American implied volatilities (the target prices as sigma; american_iv_kernel) of options
// [begin, end), on the given path (which must be supported).
void american_iv_range(Path path, AmericanMode mode, const OptionColumns& in, double* out,
                       std::size_t begin, std::size_t end) noexcept;

// out[i] = american_cdf(z[i]) for i in [0, n), on the given path (which must be supported): the
// normal cdf of the American kernels as their vector calls evaluate it.
void american_cdf_range(Path path, const double* z, double* out, std::size_t n) noexcept;

// The scalar side the vector variants call (compiled for the baseline processor): the regime of
// option i with the put it is, the price and status of an option the lanes do not take (or whose
// lane gave NaN), and the European put of a lane.
detail::AmericanRegime american_scalar_regime(const OptionColumns& in, std::size_t i,
                                              detail::AmericanPut& put) noexcept;
double american_scalar_price(AmericanMode mode, const OptionColumns& in, std::size_t i,
                             AmericanStatus& status) noexcept;
double american_scalar_european_put(double s, double k, double t, double r, double q,
                                    double sigma) noexcept;
// For the Greeks: the regime of a put, the Greeks of option i by the scalar kernel into
// out[0 .. 4][i], and the European put's delta and gamma.
detail::AmericanRegime american_scalar_put_regime(const detail::AmericanPut& put) noexcept;
void american_scalar_greeks(AmericanMode mode, const OptionColumns& in, std::size_t i,
                            double* const* out) noexcept;
void american_scalar_european_put_greeks(double s, double k, double t, double r, double q,
                                         double sigma, double& delta, double& gamma) noexcept;
// For the implied volatility: the search's start for option i (its target price as sigma), the
// regime of the put the option is at the search's volatility, the price there by the scalar
// kernel, and the search's step with a price.
void american_scalar_iv_start(const OptionColumns& in, std::size_t i,
                              AmericanIvSearch& search) noexcept;
detail::AmericanRegime american_scalar_iv_put(const AmericanIvSearch& search,
                                              detail::AmericanPut& put) noexcept;
double american_scalar_iv_price(AmericanMode mode, const AmericanIvSearch& search) noexcept;
void american_scalar_iv_take(AmericanIvSearch& search, double price) noexcept;

// The vector variants.
void american_price_range_avx2(AmericanMode mode, const OptionColumns& in, double* out,
                               std::int8_t* status, std::size_t begin, std::size_t end) noexcept;
void american_price_range_avx512(AmericanMode mode, const OptionColumns& in, double* out,
                                 std::int8_t* status, std::size_t begin, std::size_t end) noexcept;
void american_greeks_range_avx2(AmericanMode mode, const OptionColumns& in, double* const* out,
                                std::size_t begin, std::size_t end) noexcept;
void american_greeks_range_avx512(AmericanMode mode, const OptionColumns& in, double* const* out,
                                  std::size_t begin, std::size_t end) noexcept;
void american_iv_range_avx2(AmericanMode mode, const OptionColumns& in, double* out,
                            std::size_t begin, std::size_t end) noexcept;
void american_iv_range_avx512(AmericanMode mode, const OptionColumns& in, double* out,
                              std::size_t begin, std::size_t end) noexcept;
void american_cdf_range_avx2(const double* z, double* out, std::size_t n) noexcept;
void american_cdf_range_avx512(const double* z, double* out, std::size_t n) noexcept;

}  // namespace karvex::simd

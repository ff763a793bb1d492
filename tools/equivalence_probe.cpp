// The probe tools/equivalence loads twice, built from the unchanged and from
// the mutated sources: every vectorised option function of both models on a
// batch of options, on one path, plus the normalised Black function. Built as
// a shared library against the static kernels and simd libraries.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/combined_greeks.hpp"
#include "kernels/normalised_black.hpp"
#include "simd/dispatch.hpp"

namespace {

using karvex::kGreekCount;
using karvex::simd::Greek;
using karvex::simd::OptionColumns;
using karvex::simd::Path;

constexpr Greek kSingle[] = {Greek::delta, Greek::gamma, Greek::vega, Greek::theta};

}  // namespace

extern "C" {

// Bit i set: path i (scalar 0, avx2 1, avx512 2) runs on this processor.
[[gnu::visibility("default")]] int probe_paths() {
  int mask = 0;
  for (const Path path : karvex::simd::kPaths) {
    if (karvex::simd::supported(path)) mask |= 1 << static_cast<int>(path);
  }
  return mask;
}

// The BSM and the Black-76 prices (q replaced by r) into price and price76:
// the target prices the implied volatilities invert.
[[gnu::visibility("default")]] void probe_prices(int path_index, std::size_t n,
                                                 const std::int8_t* flag, const double* s,
                                                 const double* k, const double* t, const double* r,
                                                 const double* q, const double* sigma,
                                                 double* price, double* price76) {
  const auto path = static_cast<Path>(path_index);
  karvex::simd::price_range(path, OptionColumns{flag, s, k, t, r, q, sigma}, price, 0, n);
  karvex::simd::price_range(path, OptionColumns{flag, s, k, t, r, r, sigma}, price76, 0, n);
}

// The number of columns probe_evaluate writes.
[[gnu::visibility("default")]] int probe_outputs() {
  return 2 * (7 + static_cast<int>(kGreekCount)) + 2;
}

// For each model (BSM on q, then Black-76: q replaced by r), into consecutive
// columns of n values: price, delta, gamma, vega, theta, rho, the single
// pass's fields, and the implied volatility of the model's target; then b and
// nu of normalised_black(x, v).
[[gnu::visibility("default")]] void probe_evaluate(
    int path_index, std::size_t n, const std::int8_t* flag, const double* s, const double* k,
    const double* t, const double* r, const double* q, const double* sigma, const double* target,
    const double* target76, const double* x, const double* v, double* out) {
  const auto path = static_cast<Path>(path_index);
  double* column = out;
  const auto next = [&column, n] {
    double* c = column;
    column += n;
    return c;
  };
  for (const bool black76 : {false, true}) {
    const OptionColumns in{flag, s, k, t, r, black76 ? r : q, sigma};
    karvex::simd::price_range(path, in, next(), 0, n);
    for (const Greek g : kSingle) {
      double* c = next();
      karvex::simd::greeks_range(path, g, in, &c, 0, n);
    }
    double* rho = next();
    if (black76) {
      karvex::simd::black76_rho_range(path, in, rho, 0, n);
    } else {
      karvex::simd::greeks_range(path, Greek::rho, in, &rho, 0, n);
    }
    std::vector<double*> fields;
    for (std::size_t j = 0; j < kGreekCount; ++j) fields.push_back(next());
    if (black76) {
      karvex::simd::black76_greeks_range(path, in, fields.data(), 0, n);
    } else {
      karvex::simd::greeks_range(path, Greek::all, in, fields.data(), 0, n);
    }
    const OptionColumns iv_in{flag, s, k, t, r, black76 ? r : q, black76 ? target76 : target};
    karvex::simd::iv_range(path, iv_in, next(), 0, n);
  }
  double* b = next();
  double* nu = next();
  for (std::size_t i = 0; i < n; ++i) {
    const karvex::NormalisedBlack nb = karvex::normalised_black(x[i], v[i]);
    b[i] = nb.b;
    nu[i] = nb.nu;
  }
}
}

// The American price on every path (scalar loop, AVX2, AVX-512) against the scalar kernel bit
// for bit, statuses included: random options over wide domains in every regime, degenerate
// inputs among them, in both modes, with ranges that end inside a vector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "../kernels/support.hpp"
#include "kernels/american.hpp"
#include "simd/american.hpp"

namespace karvex::testing {
namespace {

using simd::Path;

struct Book {
  std::vector<std::int8_t> flag;
  std::vector<double> s, k, t, r, q, sigma;
};

// Spot 1 to 1e4 around strikes within a factor 4, a day to 30 years, rates and yields -5 % to
// 20 % (every regime: two boundaries and no early exercise included), volatilities 1e-3 to 3,
// and one option in 16 with a degenerate input (NaN, inf, 0, negative).
Book random_book(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0), rate(-0.05, 0.2);
  Book b;
  const double special[] = {nan, inf, -inf, 0.0, -1.0, -0.0};
  for (std::size_t i = 0; i < n; ++i) {
    const double s = std::exp(u(rng) * std::log(1e4));
    double v[6] = {s,
                   s * std::exp((u(rng) - 0.5) * 2.8),
                   std::exp(std::log(1.0 / 365) + u(rng) * std::log(30 * 365.0)),
                   rate(rng),
                   rate(rng),
                   std::exp(std::log(1e-3) + u(rng) * std::log(3e3))};
    if (rng() % 16 == 0) v[rng() % 6] = special[rng() % 6];
    b.flag.push_back(static_cast<std::int8_t>(rng() % 2 == 0 ? -1 : 1));
    b.s.push_back(v[0]);
    b.k.push_back(v[1]);
    b.t.push_back(v[2]);
    b.r.push_back(v[3]);
    b.q.push_back(v[4]);
    b.sigma.push_back(v[5]);
  }
  return b;
}

class AmericanPaths : public ::testing::TestWithParam<std::tuple<Path, AmericanMode>> {};

TEST_P(AmericanPaths, EqualTheScalarKernelBitForBit) {
  const auto [path, mode] = GetParam();
  if (!simd::supported(path)) GTEST_SKIP() << simd::path_name(path) << " not supported here";
  const Book b = random_book(mode == AmericanMode::fast       ? 3001
                             : mode == AmericanMode::accurate ? 1001
                                                              : 401,
                             7);
  const simd::OptionColumns in{b.flag.data(), b.s.data(), b.k.data(),    b.t.data(),
                               b.r.data(),    b.q.data(), b.sigma.data()};
  const std::size_t n = b.s.size();
  std::vector<double> out(n, 0.5);
  std::vector<std::int8_t> status(n, 99);
  simd::american_price_range(path, mode, in, out.data(), status.data(), 3, n - 2);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < 3 || i >= n - 2) {
      EXPECT_EQ(out[i], 0.5);  // outside the range: untouched
      continue;
    }
    AmericanStatus st;
    const bool is_put = b.flag[i] < 0;
    const double want = with_american_mode(mode, [&](auto m) {
      return american_price_kernel<decltype(m)>(is_put, b.s[i], b.k[i], b.t[i], b.r[i], b.q[i],
                                                b.sigma[i], st);
    });
    ASSERT_TRUE(same_bits(out[i], want))
        << i << std::hexfloat << " s=" << b.s[i] << " k=" << b.k[i] << " t=" << b.t[i]
        << " r=" << b.r[i] << " q=" << b.q[i] << " sigma=" << b.sigma[i] << " got " << out[i]
        << " want " << want;
    ASSERT_EQ(status[i], static_cast<std::int8_t>(st)) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllPaths, AmericanPaths,
    ::testing::Combine(::testing::Values(Path::scalar, Path::avx2, Path::avx512),
                       ::testing::Values(AmericanMode::fast, AmericanMode::accurate,
                                         AmericanMode::precise)),
    [](const auto& info) {
      const AmericanMode mode = std::get<1>(info.param);
      return std::string(simd::path_name(std::get<0>(info.param))) +
             (mode == AmericanMode::fast       ? "_fast"
              : mode == AmericanMode::accurate ? "_accurate"
                                               : "_precise");
    });

}  // namespace
}  // namespace karvex::testing

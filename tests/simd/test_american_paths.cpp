// The American price, Greeks and implied volatility on every path (scalar loop, AVX2, AVX-512)
// against the scalar kernels bit for bit, statuses included: random options over wide domains in
// every regime, degenerate inputs among them, in both modes, with ranges that end inside a vector.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
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
// one option in 8 with a rate within 1e-5 of 0 (where the Greeks' shifted rate changes the
// regime), and one in 16 with a degenerate input (NaN, inf, 0, negative).
Book random_book(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0), rate(-0.05, 0.2);
  Book b;
  const double special[] = {nan, inf, -inf, 0.0, -1.0, -0.0};
  const double small_rate[] = {0.0, 5e-6, -5e-6, 1e-5};
  for (std::size_t i = 0; i < n; ++i) {
    const double s = std::exp(u(rng) * std::log(1e4));
    double v[6] = {s,
                   s * std::exp((u(rng) - 0.5) * 2.8),
                   std::exp(std::log(1.0 / 365) + u(rng) * std::log(30 * 365.0)),
                   rate(rng),
                   rate(rng),
                   std::exp(std::log(1e-3) + u(rng) * std::log(3e3))};
    if (rng() % 8 == 0) v[3 + rng() % 2] = small_rate[rng() % 4];
    if (rng() % 16 == 0) v[rng() % 6] = special[rng() % 6];
    b.flag.push_back(static_cast<std::int8_t>(rng() % 2 == 0 ? -1 : 1));
    b.s.push_back(v[0]);
    b.k.push_back(v[1]);
    b.t.push_back(v[2]);
    b.r.push_back(v[3]);
    b.q.push_back(v[4]);
    b.sigma.push_back(v[5]);
  }
  // At 4 (inside the ranges the tests take), options on the blocks' rare paths: a NaN price in
  // the boundary regime (a volatility whose square overflows), puts at or beyond the boundary,
  // and rates at 0 whose shift leaves the regime (r = 0, q < 0 for a put, q = 0, r < 0 for a
  // call).
  const double rare[][7] = {{-1, 100, 100, 1, 0.05, 0, 1e300},  {1, 100, 90, 1, 0.02, 0.1, 1e300},
                            {-1, 25, 100, 1, 0.1, 0, 0.2},      {-1, 50, 100, 0.5, 0.08, 0, 0.1},
                            {-1, 100, 110, 1, 0, -0.03, 0.3},   {1, 100, 90, 1, -0.03, 0, 0.3},
                            {1, 300, 100, 2, 0.01, 0.12, 0.15}, {-1, 90, 100, 1, 0.05, 0.02, 0.25}};
  for (const auto& o : rare) {
    b.flag.insert(b.flag.begin() + 4, static_cast<std::int8_t>(o[0]));
    for (auto [column, x] : {std::pair{&b.s, o[1]},
                             {&b.k, o[2]},
                             {&b.t, o[3]},
                             {&b.r, o[4]},
                             {&b.q, o[5]},
                             {&b.sigma, o[6]}})
      column->insert(column->begin() + 4, x);
  }
  return b;
}

class AmericanPaths : public ::testing::TestWithParam<std::tuple<Path, AmericanMode>> {
 protected:
  void SetUp() override {
    if (!simd::supported(path)) GTEST_SKIP() << simd::path_name(path) << " not supported here";
  }
  // The option's inputs, for messages.
  std::string option(std::size_t i) const {
    std::ostringstream o;
    o << i << std::hexfloat << " flag=" << int(b.flag[i]) << " s=" << b.s[i] << " k=" << b.k[i]
      << " t=" << b.t[i] << " r=" << b.r[i] << " q=" << b.q[i] << " sigma=" << b.sigma[i];
    return o.str();
  }
  template <class F>
  auto kernel(F&& f) const {
    return with_american_mode(mode, f);
  }

  const Path path = std::get<0>(GetParam());
  const AmericanMode mode = std::get<1>(GetParam());
  const Book b = random_book(mode == AmericanMode::fast       ? 3001
                             : mode == AmericanMode::accurate ? 1001
                                                              : 401,
                             7);
  const simd::OptionColumns in{b.flag.data(), b.s.data(), b.k.data(),    b.t.data(),
                               b.r.data(),    b.q.data(), b.sigma.data()};
  const std::size_t n = b.s.size();
  // The range the paths evaluate: it starts and ends inside a vector.
  const std::size_t begin = 3, end = n - 2;
};

TEST_P(AmericanPaths, PricesEqualTheScalarKernelBitForBit) {
  std::vector<double> out(n, 0.5);
  std::vector<std::int8_t> status(n, 99);
  simd::american_price_range(path, mode, in, out.data(), status.data(), begin, end);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < begin || i >= end) {
      EXPECT_EQ(out[i], 0.5);  // outside the range: untouched
      continue;
    }
    AmericanStatus st;
    const double want = kernel([&](auto m) {
      return american_price_kernel<decltype(m)>(b.flag[i] < 0, b.s[i], b.k[i], b.t[i], b.r[i],
                                                b.q[i], b.sigma[i], st);
    });
    ASSERT_TRUE(same_bits(out[i], want)) << option(i) << " got " << out[i] << " want " << want;
    ASSERT_EQ(status[i], static_cast<std::int8_t>(st)) << i;
  }
}

TEST_P(AmericanPaths, GreeksEqualTheScalarKernelBitForBit) {
  std::vector<std::vector<double>> out(5, std::vector<double>(n, 0.5));
  double* columns[5] = {out[0].data(), out[1].data(), out[2].data(), out[3].data(), out[4].data()};
  simd::american_greeks_range(path, mode, in, columns, begin, end);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < begin || i >= end) {
      for (const auto& column : out) EXPECT_EQ(column[i], 0.5);
      continue;
    }
    AmericanStatus st;
    const Greeks g = kernel([&](auto m) {
      return american_greeks_kernel<decltype(m)>(b.flag[i] < 0, b.s[i], b.k[i], b.t[i], b.r[i],
                                                 b.q[i], b.sigma[i], st);
    });
    const double want[5] = {g.delta, g.gamma, g.vega, g.theta, g.rho};
    for (int j = 0; j < 5; ++j) {
      ASSERT_TRUE(same_bits(out[j][i], want[j]))
          << option(i) << " Greek " << j << " got " << out[j][i] << " want " << want[j];
    }
  }
}

// Targets from the options' own prices (so that most searches run to the end), moved off them,
// and at the edges: the intrinsic value (no time value), the bound, below intrinsic, NaN.
TEST_P(AmericanPaths, ImpliedVolatilitiesEqualTheScalarKernelBitForBit) {
  std::vector<double> target(n);
  for (std::size_t i = 0; i < n; ++i) {
    AmericanStatus st;
    const bool is_put = b.flag[i] < 0;
    const double price = kernel([&](auto m) {
      return american_price_kernel<decltype(m)>(is_put, b.s[i], b.k[i], b.t[i], b.r[i], b.q[i],
                                                b.sigma[i], st);
    });
    const double intrinsic = is_put ? b.k[i] - b.s[i] : b.s[i] - b.k[i];
    const double edge[] = {price * 1.01,     price * 0.7, intrinsic, is_put ? b.k[i] : b.s[i],
                           intrinsic - 1e-6, nan};
    target[i] = i % 3 != 0 ? price : edge[(i / 3) % 6];
  }
  const simd::OptionColumns columns{in.flag, in.s, in.k, in.t, in.r, in.q, target.data()};
  std::vector<double> out(n, 0.5);
  simd::american_iv_range(path, mode, columns, out.data(), begin, end);
  for (std::size_t i = 0; i < n; ++i) {
    if (i < begin || i >= end) {
      EXPECT_EQ(out[i], 0.5);
      continue;
    }
    AmericanIvStatus st;
    const double want = kernel([&](auto m) {
      return american_iv_kernel<decltype(m)>(b.flag[i] < 0, target[i], b.s[i], b.k[i], b.t[i],
                                             b.r[i], b.q[i], st);
    });
    ASSERT_TRUE(same_bits(out[i], want))
        << option(i) << " target " << target[i] << " got " << out[i] << " want " << want;
  }
}

class AmericanCdfPaths : public ::testing::TestWithParam<Path> {};

TEST_P(AmericanCdfPaths, CdfEqualsTheScalarFunctionBitForBit) {
  const Path path = GetParam();
  if (!simd::supported(path)) GTEST_SKIP() << simd::path_name(path) << " not supported here";
  // A dense grid across every range of the evaluation and beyond, then special values (NaN
  // payloads and signs among them); the count leaves a partial vector.
  std::vector<double> z;
  for (int i = -400000; i <= 400000; ++i) z.push_back(i * 1e-4);
  const double special[] = {
      nan,   -nan,      std::bit_cast<double>(std::uint64_t{0x7ff0000000000123}),
      inf,   -inf,      0.0,
      -0.0,  0x1p-1074, -0x1p-1074,
      1e300, -1e300,    37.0,
      -37.0, 39.6,      -39.6};
  z.insert(z.end(), std::begin(special), std::end(special));
  std::vector<double> out(z.size());
  simd::american_cdf_range(path, z.data(), out.data(), z.size());
  for (std::size_t i = 0; i < z.size(); ++i) {
    ASSERT_TRUE(same_bits(out[i], american_cdf(z[i])))
        << std::hexfloat << "Phi(" << z[i] << ") = " << out[i] << ", want " << american_cdf(z[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, AmericanCdfPaths,
                         ::testing::Values(Path::scalar, Path::avx2, Path::avx512),
                         [](const auto& info) { return std::string(simd::path_name(info.param)); });

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

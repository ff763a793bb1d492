// Every evaluation path of the price (scalar loop, AVX2, AVX-512) against the
// scalar kernel, bit for bit: a million random options over wide domains, a
// realistic book, and every degenerate class on top of random options. Each
// test is instantiated once per path and named after it; on a processor
// without a path its tests are skipped and say so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../kernels/support.hpp"
#include "kernels/price.hpp"
#include "simd/dispatch.hpp"

namespace karvex::testing {
namespace {

using simd::Path;

struct Book {
  std::vector<std::int8_t> flag;
  std::vector<double> s, k, t, r, q, sigma;

  void add(std::int8_t f, double s_, double k_, double t_, double r_, double q_, double sig) {
    flag.push_back(f);
    s.push_back(s_);
    k.push_back(k_);
    t.push_back(t_);
    r.push_back(r_);
    q.push_back(q_);
    sigma.push_back(sig);
  }
  std::size_t size() const { return s.size(); }
  simd::OptionColumns columns() const {
    return {flag.data(), s.data(), k.data(), t.data(), r.data(), q.data(), sigma.data()};
  }
};

double log_uniform(std::mt19937_64& rng, double lo, double hi) {
  return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(rng));
}

// n options over wide domains: spot 1e-4 to 1e4, log-moneyness up to +-30 (far beyond any
// quote), one minute to 60 years, rates and yields -20 % to 50 %, volatilities 1e-4 to 8, every
// int8 flag. Half of them Black-76 style (q = r, so without drift).
Book wide_random(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0), rate(-0.2, 0.5);
  std::uniform_int_distribution<int> flag(-128, 127);
  Book book;
  for (std::size_t i = 0; i < n; ++i) {
    const double s = log_uniform(rng, 1e-4, 1e4);
    const double spread = u(rng) < 0.1 ? 30.0 : 1.5;
    const double k = s * std::exp(spread * (2.0 * u(rng) - 1.0));
    const double t = log_uniform(rng, 1.0 / (365.0 * 24.0 * 60.0), 60.0);
    const double r = rate(rng);
    const double q = (i & 1) != 0 ? r : rate(rng);
    book.add(static_cast<std::int8_t>(flag(rng)), s, k, t, r, q, log_uniform(rng, 1e-4, 8.0));
  }
  return book;
}

// Every parameter in turn set to each degenerate value, on top of random ordinary options, with
// both flags.
Book degenerate_classes(std::uint64_t seed) {
  const double specials[] = {0.0,   -0.0, -1.0, 5e-324, 1e-300, 1e-160, 1e160,
                             1e300, inf,  -inf, nan,    -nan,   1e-20,  700.0};
  const Book base = wide_random(400, seed);
  Book book;
  for (std::size_t i = 0; i < base.size(); ++i) {
    for (std::size_t p = 0; p < 6; ++p) {
      for (const double special : specials) {
        for (const std::int8_t f : {std::int8_t{1}, std::int8_t{-1}}) {
          double v[6] = {base.s[i], base.k[i], base.t[i], base.r[i], base.q[i], base.sigma[i]};
          v[p] = special;
          book.add(f, v[0], v[1], v[2], v[3], v[4], v[5]);
        }
      }
    }
  }
  // Extreme moneyness and time together, and every pair of specials on s and k.
  for (const double a : specials) {
    for (const double b : specials) {
      book.add(1, a, b, 1.0, 0.05, 0.0, 0.2);
      book.add(-1, 100.0, 100.0, a, 0.05, 0.0, b);
      book.add(-1, 1.0, 1e200, a, b, 0.0, 0.3);
    }
  }
  return book;
}

// A desk's book: strikes within e^-0.5..e^0.5 of the spot, a week to five years, volatilities
// 5 % to 90 %; the options the benchmarks time.
Book realistic(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> money(-0.5, 0.5), rate(-0.01, 0.08), yield(0.0, 0.05),
      vol(0.05, 0.9);
  Book book;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int8_t f = (rng() & 1) != 0 ? -1 : 1;
    book.add(f, 100.0, 100.0 * std::exp(money(rng)), log_uniform(rng, 7.0 / 365.0, 5.0), rate(rng),
             yield(rng), vol(rng));
  }
  return book;
}

class PriceOnEveryPath : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!simd::supported(GetParam())) {
      GTEST_SKIP() << "this processor lacks " << simd::path_name(GetParam())
                   << ": that path was not run";
    }
  }

  // Evaluates the book on the path in pieces of varying length (as the worker pool cuts ranges)
  // and compares each price with the scalar kernel.
  void expect_scalar_bits(const Book& book) const {
    const simd::OptionColumns in = book.columns();
    std::vector<double> out(book.size(), -7.0);
    std::mt19937_64 rng(7);
    for (std::size_t begin = 0; begin < book.size();) {
      const std::size_t piece = 1 + rng() % 700;
      const std::size_t end = std::min(book.size(), begin + piece);
      simd::price_range(GetParam(), in, out.data(), begin, end);
      begin = end;
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < book.size(); ++i) {
      const double expected = bsm_price_kernel(book.flag[i] < 0, book.s[i], book.k[i], book.t[i],
                                               book.r[i], book.q[i], book.sigma[i]);
      if (identical(out[i], expected)) continue;
      if (++mismatches <= 10) {
        ADD_FAILURE() << simd::path_name(GetParam()) << " option " << i << " (flag "
                      << int{book.flag[i]} << ", s " << book.s[i] << ", k " << book.k[i] << ", t "
                      << book.t[i] << ", r " << book.r[i] << ", q " << book.q[i] << ", sigma "
                      << book.sigma[i] << "): " << std::hexfloat << out[i] << " instead of "
                      << expected << std::defaultfloat;
      }
    }
    EXPECT_EQ(mismatches, 0u) << "of " << book.size() << " options on the "
                              << simd::path_name(GetParam()) << " path";
  }
};

TEST_P(PriceOnEveryPath, MatchesScalarKernelOnAMillionWideRandomOptions) {
  expect_scalar_bits(wide_random(1'000'000, 20261206));
}

TEST_P(PriceOnEveryPath, MatchesScalarKernelOnARealisticBook) {
  expect_scalar_bits(realistic(200'000, 2024));
}

TEST_P(PriceOnEveryPath, MatchesScalarKernelOnEveryDegenerateClass) {
  expect_scalar_bits(degenerate_classes(11));
}

TEST_P(PriceOnEveryPath, WritesExactlyTheRequestedRange) {
  const Book book = realistic(300, 5);
  std::vector<double> out(book.size(), -7.0);
  simd::price_range(GetParam(), book.columns(), out.data(), 17, 290);
  for (std::size_t i = 0; i < book.size(); ++i) {
    if (i < 17 || i >= 290) {
      EXPECT_EQ(out[i], -7.0) << "option " << i;
    } else {
      EXPECT_GE(out[i], 0.0) << "option " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PriceOnEveryPath, ::testing::ValuesIn(simd::kPaths),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return std::string(simd::path_name(info.param));
                         });

TEST(ActivePath, IsSupportedByThisProcessor) {
  EXPECT_TRUE(simd::supported(simd::active_path())) << simd::path_name(simd::active_path());
}

}  // namespace
}  // namespace karvex::testing

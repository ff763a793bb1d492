// Every evaluation path (scalar loop, AVX2, AVX-512) of every function a block
// loop evaluates, against the scalar kernels bit for bit: a million random
// options over wide domains per function, a realistic book, and every
// degenerate class on top of random options. Each test runs once per path
// and function and is named after both (e.g. .../bsm_delta_avx512); on a
// processor without a path its tests are skipped and say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../kernels/support.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"
#include "simd/dispatch.hpp"

namespace karvex::testing {
namespace {

using simd::Greek;
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
};

double log_uniform(std::mt19937_64& rng, double lo, double hi) {
  return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(rng));
}

// n options over wide domains: spot 1e-4 to 1e4, log-moneyness up to +-30 (far beyond any
// quote), one minute to 60 years, rates and yields -20 % to 50 %, volatilities 1e-4 to 8, every
// int8 flag.
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
    book.add(static_cast<std::int8_t>(flag(rng)), s, k, t, rate(rng), rate(rng),
             log_uniform(rng, 1e-4, 8.0));
  }
  return book;
}

// Every parameter in turn set to each degenerate value, on top of random ordinary options, with
// both flags; then pairs of degenerate values on the moneyness, the time and the volatility.
Book degenerate_classes(std::uint64_t seed) {
  const double specials[] = {0.0,   -0.0,  -1.0, 5e-324, 1e-300, 1e-160, 1e-20,
                             1e160, 1e300, inf,  -inf,   nan,    -nan,   700.0};
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
// 5 % to 90 %.
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

// A function a block loop evaluates: its name, its number of results, whether it is Black-76 (q
// is then the rate again), how a path evaluates a range, and the scalar kernel of one option.
struct Function {
  const char* name;
  std::size_t outputs;
  bool black76;
  std::function<void(Path, const simd::OptionColumns&, double* const*, std::size_t, std::size_t)>
      range;
  std::function<void(bool, double, double, double, double, double, double, double*)> kernel;
  bool inverts = false;  // an implied volatility: sigma holds the target price
};

Function greek(const char* name, Greek which, bool black76,
               double (*kernel)(bool, double, double, double, double, double, double)) {
  return {name, 1, black76,
          [which](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                  std::size_t e) { simd::greeks_range(p, which, in, out, b, e); },
          [kernel](bool put, double s, double k, double t, double r, double q, double sigma,
                   double* v) { v[0] = kernel(put, s, k, t, r, q, sigma); }};
}

double gamma_of(bool, double s, double k, double t, double r, double q, double sigma) {
  return bsm_gamma_kernel(s, k, t, r, q, sigma);
}
double vega_of(bool, double s, double k, double t, double r, double q, double sigma) {
  return bsm_vega_kernel(s, k, t, r, q, sigma);
}
double black76_rho_of(bool put, double f, double k, double t, double r, double, double sigma) {
  return black76_rho_kernel(put, f, k, t, r, sigma);
}

void store(const Greeks& g, double* v) {
  for (std::size_t j = 0; j < kGreekCount; ++j) v[j] = g.*greek_fields<double>[j];
}

std::vector<Function> functions() {
  std::vector<Function> all;
  for (const bool black76 : {false, true}) {
    all.push_back({black76 ? "black76_price" : "bsm_price", 1, black76,
                   [](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                      std::size_t e) { simd::price_range(p, in, out[0], b, e); },
                   [](bool put, double s, double k, double t, double r, double q, double sigma,
                      double* v) { v[0] = bsm_price_kernel(put, s, k, t, r, q, sigma); }});
    all.push_back(
        greek(black76 ? "black76_delta" : "bsm_delta", Greek::delta, black76, bsm_delta_kernel));
    all.push_back(greek(black76 ? "black76_gamma" : "bsm_gamma", Greek::gamma, black76, gamma_of));
    all.push_back(greek(black76 ? "black76_vega" : "bsm_vega", Greek::vega, black76, vega_of));
    all.push_back(
        greek(black76 ? "black76_theta" : "bsm_theta", Greek::theta, black76, bsm_theta_kernel));
  }
  all.push_back(greek("bsm_rho", Greek::rho, false, bsm_rho_kernel));
  all.push_back({"black76_rho", 1, true,
                 [](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                    std::size_t e) { simd::black76_rho_range(p, in, out[0], b, e); },
                 [](bool put, double s, double k, double t, double r, double q, double sigma,
                    double* v) { v[0] = black76_rho_of(put, s, k, t, r, q, sigma); }});
  for (const bool black76 : {false, true}) {
    all.push_back({black76 ? "black76_iv" : "bsm_iv", 1, black76,
                   [](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                      std::size_t e) { simd::iv_range(p, in, out[0], b, e); },
                   [](bool put, double s, double k, double t, double r, double q, double price,
                      double* v) { v[0] = bsm_iv_kernel(put, price, s, k, t, r, q); },
                   true});
  }
  all.push_back({"bsm_greeks", kGreekCount, false,
                 [](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                    std::size_t e) { simd::greeks_range(p, Greek::all, in, out, b, e); },
                 [](bool put, double s, double k, double t, double r, double q, double sigma,
                    double* v) { store(bsm_greeks_kernel(put, s, k, t, r, q, sigma), v); }});
  all.push_back({"black76_greeks", kGreekCount, true,
                 [](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                    std::size_t e) { simd::black76_greeks_range(p, in, out, b, e); },
                 [](bool put, double f, double k, double t, double r, double, double sigma,
                    double* v) { store(black76_greeks_kernel(put, f, k, t, r, sigma), v); }});
  return all;
}

const std::vector<Function>& function_table() {
  static const std::vector<Function> table = functions();
  return table;
}

// The target prices of an inversion in place of the volatilities: the price at the volatility;
// for about one option in eight a price moved by up to 0.1 % or one anywhere from 0 to 1.1 times
// the larger of spot and strike (below the intrinsic value, above the upper bound); a volatility
// that is not positive and finite stays as it is, as the price (0, negative, NaN, infinite).
void volatilities_to_prices(Book& book) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (std::size_t i = 0; i < book.size(); ++i) {
    const double sigma = book.sigma[i];
    if (!(sigma > 0.0 && sigma <= 0x1.fffffffffffffp+1023)) continue;
    double price = bsm_price_kernel(book.flag[i] < 0, book.s[i], book.k[i], book.t[i], book.r[i],
                                    book.q[i], sigma);
    const double c = u(rng);
    if (c < 0.06) {
      price *= 1.0 + (u(rng) - 0.5) * 2e-3;
    } else if (c < 0.12) {
      price = u(rng) * 1.1 * std::max(book.s[i], book.k[i]);
    }
    book.sigma[i] = price;
  }
}

class EveryPath : public ::testing::TestWithParam<std::tuple<Path, std::size_t>> {
 protected:
  Path path() const { return std::get<0>(GetParam()); }
  const Function& function() const { return function_table()[std::get<1>(GetParam())]; }

  void SetUp() override {
    if (!simd::supported(path())) {
      GTEST_SKIP() << "this processor lacks " << simd::path_name(path())
                   << ": that path was not run";
    }
  }

  // Evaluates the book on the path in pieces of varying length (as the worker pool cuts ranges)
  // and compares every result with the scalar kernel's.
  void expect_scalar_bits(Book book) const {
    const Function& f = function();
    if (f.black76) book.q = book.r;
    if (f.inverts) volatilities_to_prices(book);
    const simd::OptionColumns in{book.flag.data(), book.s.data(), book.k.data(),    book.t.data(),
                                 book.r.data(),    book.q.data(), book.sigma.data()};
    std::vector<std::vector<double>> results(f.outputs, std::vector<double>(book.size(), -7.0));
    std::array<double*, kGreekCount> out{};
    for (std::size_t o = 0; o < f.outputs; ++o) out[o] = results[o].data();
    std::mt19937_64 rng(7);
    for (std::size_t begin = 0; begin < book.size();) {
      const std::size_t end = std::min(book.size(), begin + 1 + rng() % 700);
      f.range(path(), in, out.data(), begin, end);
      begin = end;
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < book.size(); ++i) {
      double expected[kGreekCount];
      f.kernel(book.flag[i] < 0, book.s[i], book.k[i], book.t[i], book.r[i], book.q[i],
               book.sigma[i], expected);
      for (std::size_t o = 0; o < f.outputs; ++o) {
        if (same_bits(results[o][i], expected[o])) continue;
        if (++mismatches <= 10) {
          ADD_FAILURE() << f.name << " on " << simd::path_name(path()) << ", result " << o
                        << ", option " << i << " (flag " << int{book.flag[i]} << ", s " << book.s[i]
                        << ", k " << book.k[i] << ", t " << book.t[i] << ", r " << book.r[i]
                        << ", q " << book.q[i] << ", sigma " << book.sigma[i]
                        << "): " << std::hexfloat << results[o][i] << " instead of " << expected[o]
                        << std::defaultfloat;
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << "of " << book.size() << " options";
  }
};

TEST_P(EveryPath, MatchesScalarKernelOnAMillionWideRandomOptions) {
  expect_scalar_bits(wide_random(1'000'000, 20261206));
}

TEST_P(EveryPath, MatchesScalarKernelOnARealisticBook) {
  expect_scalar_bits(realistic(100'000, 2024));
}

TEST_P(EveryPath, MatchesScalarKernelOnEveryDegenerateClass) {
  expect_scalar_bits(degenerate_classes(11));
}

// An exp that breaks exp(+-0) = 1 (as one preloaded in place of the library's could): a path that
// took exp(+-0) as 1 without calling exp would part from the scalar kernel on a book without
// dividends or interest.
platform::Function library_exp = nullptr;
double exp_one_ulp_low_at_zero(double x) noexcept {
  return x == 0.0 ? 0x1.fffffffffffffp-1 : library_exp(x);
}

TEST_P(EveryPath, MatchesScalarKernelUnderAnExpWhoseValueAtZeroIsNotOne) {
  Book book = realistic(20'000, 99);
  for (std::size_t i = 0; i < book.size(); ++i) {
    if (i % 3 != 2) book.q[i] = 0.0;
    if (i % 3 != 1) book.r[i] = i % 2 == 0 ? 0.0 : -0.0;
  }
  library_exp = platform::exp_function;
  platform::exp_function = &exp_one_ulp_low_at_zero;
  expect_scalar_bits(book);
  platform::exp_function = library_exp;
}

TEST_P(EveryPath, WritesExactlyTheRequestedRange) {
  Book book = realistic(300, 5);
  if (function().black76) book.q = book.r;
  const simd::OptionColumns in{book.flag.data(), book.s.data(), book.k.data(),    book.t.data(),
                               book.r.data(),    book.q.data(), book.sigma.data()};
  std::vector<std::vector<double>> results(kGreekCount, std::vector<double>(book.size(), -7.0));
  std::array<double*, kGreekCount> out{};
  for (std::size_t o = 0; o < kGreekCount; ++o) out[o] = results[o].data();
  function().range(path(), in, out.data(), 17, 290);
  for (std::size_t o = 0; o < kGreekCount; ++o) {
    for (std::size_t i = 0; i < book.size(); ++i) {
      const bool written = o < function().outputs && i >= 17 && i < 290;
      EXPECT_EQ(results[o][i] != -7.0, written) << "result " << o << ", option " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath,
                         ::testing::Combine(::testing::ValuesIn(simd::kPaths),
                                            ::testing::Range(std::size_t{0},
                                                             function_table().size())),
                         [](const ::testing::TestParamInfo<EveryPath::ParamType>& info) {
                           return std::string(function_table()[std::get<1>(info.param)].name) +
                                  "_" + simd::path_name(std::get<0>(info.param));
                         });

TEST(ActivePath, IsSupportedByThisProcessor) {
  EXPECT_TRUE(simd::supported(simd::active_path())) << simd::path_name(simd::active_path());
}

}  // namespace
}  // namespace karvex::testing

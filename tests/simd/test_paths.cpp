// Every evaluation path (scalar loop, AVX2, AVX-512) of every function a block
// loop evaluates (the second-order Greeks' included), against the scalar
// kernels bit for bit, NaN bits included: a million random options over wide
// domains per function (300,000 for the second-order Greeks), a realistic book, and every
// degenerate class on top of random options. Each test runs once per path
// and function and is named after both (e.g. .../bsm_delta_avx512); on a
// processor without a path its tests are skipped and say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../kernels/support.hpp"
#include "books.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"
#include "kernels/second_order.hpp"
#include "simd/dispatch.hpp"
#include "simd/second_order.hpp"

namespace karvex::testing {
namespace {

using simd::Greek;
using simd::Path;

// A function a block loop evaluates: its name, its number of results, whether it is Black-76 (q
// is then the rate again), how a path evaluates a range, and the scalar kernel of one option.
struct Function {
  const char* name;
  std::size_t outputs;
  bool black76;
  std::function<void(Path, const simd::OptionColumns&, double* const*, std::size_t, std::size_t)>
      range;
  std::function<void(bool, double, double, double, double, double, double, double*)> kernel;
  bool inverts = false;          // an implied volatility: sigma holds the target price
  std::size_t wide = 1'000'000;  // options of the wide random book
};

// The most results of one function (the BSM single pass of the second-order Greeks).
inline constexpr std::size_t kMaxResults = kSecondOrderCount;

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
  static std::deque<std::string> names;  // of the functions named at run time
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
  // The second-order Greeks: each alone and the single passes.
  for (const bool black76 : {false, true}) {
    const std::string model = black76 ? "black76_" : "bsm_";
    for (std::size_t j = 0; j < simd::kSecondSetCount; ++j) {
      const SecondSet set = simd::second_set_at(j);
      if (black76 ? (set & ~kBlack76Second) != 0 || set == kAllSecond : set == kBlack76Second) {
        continue;
      }
      const bool single = second_count(set) == 1;
      const std::string name =
          model +
          (single ? std::string(second_order_names[std::countr_zero(set)]) : "second_order");
      all.push_back({names.emplace_back(name).c_str(), second_count(set), black76,
                     [set](Path p, const simd::OptionColumns& in, double* const* out, std::size_t b,
                           std::size_t e) { simd::second_order_range(p, set, in, out, b, e); },
                     [set](bool put, double s, double k, double t, double r, double q, double sigma,
                           double* v) {
                       simd::with_second_set(set, [&](auto c) {
                         constexpr SecondSet kSet = decltype(c)::value;
                         second_order_values<kSet>(
                             bsm_second_order_kernel<kSet>(put, s, k, t, r, q, sigma), v);
                       });
                     },
                     false, 300'000});
    }
  }
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
    std::array<double*, kMaxResults> out{};
    for (std::size_t o = 0; o < f.outputs; ++o) out[o] = results[o].data();
    std::mt19937_64 rng(7);
    for (std::size_t begin = 0; begin < book.size();) {
      const std::size_t end = std::min(book.size(), begin + 1 + rng() % 700);
      f.range(path(), in, out.data(), begin, end);
      begin = end;
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < book.size(); ++i) {
      double expected[kMaxResults];
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

TEST_P(EveryPath, MatchesScalarKernelOnWideRandomOptions) {
  expect_scalar_bits(wide_random(function().wide, 20261206));
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
  std::vector<std::vector<double>> results(kMaxResults, std::vector<double>(book.size(), -7.0));
  std::array<double*, kMaxResults> out{};
  for (std::size_t o = 0; o < kMaxResults; ++o) out[o] = results[o].data();
  function().range(path(), in, out.data(), 17, 290);
  for (std::size_t o = 0; o < kMaxResults; ++o) {
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

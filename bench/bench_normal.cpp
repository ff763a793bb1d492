// The normal model side by side with the BSM price in one run: ns per option of the BSM price,
// the normal price, the single pass of its Greeks and its implied volatility, on the scalar loop,
// AVX2 and AVX-512 (paths this processor lacks are left out), one thread, the same book of
// forwards and strikes of both signs. Each figure is the least of 15 timings of the whole book.
//
//   bench_normal
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "kernels/combined_greeks.hpp"
#include "simd/bachelier_dispatch.hpp"
#include "simd/dispatch.hpp"

namespace {

using karvex::simd::NormalQuantity;
using karvex::simd::Path;

constexpr std::size_t kBook = 4096;

// Rates-desk options: forwards -1% to 5%, strikes within 2% of them, a week to 10 years, normal
// volatilities 20 to 150 basis points; and, for the BSM reference, a desk's equity book.
struct Book {
  std::vector<std::int8_t> flag;
  std::vector<double> f, k, t, r, sigma, target;
  std::vector<double> s, ks, q, vol;
  Book() {
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (std::size_t i = 0; i < kBook; ++i) {
      flag.push_back((rng() & 1) != 0 ? -1 : 1);
      f.push_back(-0.01 + 0.06 * u(rng));
      k.push_back(f.back() + 0.04 * (u(rng) - 0.5));
      t.push_back(std::exp(std::log(7.0 / 365) + u(rng) * std::log(10.0 * 365 / 7)));
      r.push_back(-0.01 + 0.06 * u(rng));
      sigma.push_back(0.002 + 0.013 * u(rng));
      s.push_back(100.0);
      ks.push_back(100.0 * std::exp(u(rng) - 0.5));
      q.push_back(0.05 * u(rng));
      vol.push_back(0.05 + 0.85 * u(rng));
    }
    target.resize(kBook);
    double* out[1] = {target.data()};
    karvex::simd::bachelier_range(Path::scalar, NormalQuantity::price, normal(sigma), out, 0,
                                  kBook);
  }
  karvex::simd::OptionColumns normal(const std::vector<double>& last) const {
    return {flag.data(), f.data(), k.data(), t.data(), r.data(), nullptr, last.data()};
  }
  karvex::simd::OptionColumns bsm() const {
    return {flag.data(), s.data(), ks.data(), t.data(), r.data(), q.data(), vol.data()};
  }
};

double ns_per_option(const std::function<void()>& run) {
  double best = 1e300;
  for (int rep = 0; rep < 15; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) run();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / (20.0 * kBook));
  }
  return best;
}

}  // namespace

int main() {
  const Book book;
  std::vector<std::vector<double>> out(karvex::kGreekCount, std::vector<double>(kBook));
  double* outs[karvex::kGreekCount];
  for (std::size_t j = 0; j < karvex::kGreekCount; ++j) outs[j] = out[j].data();
  std::printf("%-22s %10s %10s %10s\n", "ns per option", "scalar", "avx2", "avx512");
  const char* names[] = {"bsm price", "normal price", "normal greeks (5)", "normal iv"};
  for (int row = 0; row < 4; ++row) {
    std::printf("%-22s", names[row]);
    for (const Path path : karvex::simd::kPaths) {
      if (!karvex::simd::supported(path)) {
        std::printf(" %10s", "-");
        continue;
      }
      const double ns = ns_per_option([&] {
        switch (row) {
          case 0:
            return karvex::simd::price_range(path, book.bsm(), outs[0], 0, kBook);
          case 1:
            return karvex::simd::bachelier_range(path, NormalQuantity::price,
                                                 book.normal(book.sigma), outs, 0, kBook);
          case 2:
            return karvex::simd::bachelier_range(path, NormalQuantity::greeks,
                                                 book.normal(book.sigma), outs, 0, kBook);
          default:
            return karvex::simd::bachelier_range(path, NormalQuantity::iv, book.normal(book.target),
                                                 outs, 0, kBook);
        }
      });
      std::printf(" %10.1f", ns);
    }
    std::printf("\n");
  }
}

// Books of options for the path tests: wide random domains, every degenerate class, a desk's
// book.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "../kernels/support.hpp"
#include "simd/dispatch.hpp"

namespace karvex::testing {

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

inline double log_uniform(std::mt19937_64& rng, double lo, double hi) {
  return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(rng));
}

// n options over wide domains: spot 1e-4 to 1e4, log-moneyness up to +-30 (far beyond any
// quote), one minute to 60 years, rates and yields -20 % to 50 %, volatilities 1e-4 to 8, every
// int8 flag.
inline Book wide_random(std::size_t n, std::uint64_t seed) {
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
inline Book degenerate_classes(std::uint64_t seed) {
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
inline Book realistic(std::size_t n, std::uint64_t seed) {
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

// The book as the columns a path reads.
inline simd::OptionColumns columns_of(const Book& book) {
  return {book.flag.data(), book.s.data(), book.k.data(),    book.t.data(),
          book.r.data(),    book.q.data(), book.sigma.data()};
}

}  // namespace karvex::testing

// The normal model's block loops (AVX2, AVX-512) against its scalar kernels, bit for bit, NaN
// bits included: every quantity on a million random options with negative forwards and
// strikes, on every degenerate class, and on target prices around each edge of the inversion.
// On a processor without a path its tests are skipped and say so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../kernels/support.hpp"
#include "kernels/bachelier.hpp"
#include "kernels/combined_greeks.hpp"
#include "simd/bachelier_dispatch.hpp"

namespace karvex::testing {
namespace {

using simd::NormalQuantity;
using simd::Path;

struct NormalBook {
  std::vector<std::int8_t> flag;
  std::vector<double> f, k, t, r, sigma;
  void add(std::int8_t fl, double f_, double k_, double t_, double r_, double s_) {
    flag.push_back(fl);
    f.push_back(f_);
    k.push_back(k_);
    t.push_back(t_);
    r.push_back(r_);
    sigma.push_back(s_);
  }
  std::size_t size() const { return f.size(); }
  simd::OptionColumns columns(const std::vector<double>& sig) const {
    return {flag.data(), f.data(), k.data(), t.data(), r.data(), nullptr, sig.data()};
  }
};

// Forwards and strikes from -10% to 10% (a tenth of them up to +-1000), times from a minute to
// 60 years, rates -5% to 20%, absolute volatilities 1e-7 to 5, every int8 flag.
NormalBook random_book(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::uniform_int_distribution<int> flag(-128, 127);
  NormalBook book;
  for (std::size_t i = 0; i < n; ++i) {
    const double scale = u(rng) < 0.1 ? 1000.0 : 0.1;
    const double f = (2.0 * u(rng) - 1.0) * scale;
    const double k = u(rng) < 0.05 ? f : f + (2.0 * u(rng) - 1.0) * 0.05;
    const double t = std::exp(std::log(1.0 / 525600.0) + u(rng) * std::log(60.0 * 525600.0));
    const double sigma = std::exp(std::log(1e-7) + u(rng) * std::log(5e7));
    book.add(static_cast<std::int8_t>(flag(rng)), f, k, t, -0.05 + 0.25 * u(rng), sigma);
  }
  return book;
}

// Each parameter in turn set to each special value, on top of random options.
NormalBook degenerate_book() {
  const double specials[] = {0.0, -0.0, -1.0, 5e-324, 1e-300, 1e-20, 1e300, inf, -inf, nan, -nan};
  const NormalBook base = random_book(200, 5);
  NormalBook book;
  for (std::size_t i = 0; i < base.size(); ++i) {
    for (int p = 0; p < 5; ++p) {
      for (const double v : specials) {
        double in[5] = {base.f[i], base.k[i], base.t[i], base.r[i], base.sigma[i]};
        in[p] = v;
        book.add(base.flag[i], in[0], in[1], in[2], in[3], in[4]);
      }
    }
  }
  return book;
}

// The scalar path's values of `which`, and the given path's, compared bit for bit.
void expect_same_bits(Path path, NormalQuantity which, const NormalBook& book,
                      const std::vector<double>& sig, const std::string& what) {
  const std::size_t n = book.size();
  const std::size_t outputs = which == NormalQuantity::greeks ? kGreekCount : 1;
  std::vector<std::vector<double>> want(outputs, std::vector<double>(n)),
      got(outputs, std::vector<double>(n));
  std::vector<double*> want_p, got_p;
  for (std::size_t o = 0; o < outputs; ++o) {
    want_p.push_back(want[o].data());
    got_p.push_back(got[o].data());
  }
  const simd::OptionColumns in = book.columns(sig);
  simd::bachelier_range(Path::scalar, which, in, want_p.data(), 0, n);
  // ranges that start and end off the block and vector boundaries
  simd::bachelier_range(path, which, in, got_p.data(), 0, 3);
  simd::bachelier_range(path, which, in, got_p.data(), 3, n / 2 + 1);
  simd::bachelier_range(path, which, in, got_p.data(), n / 2 + 1, n);
  std::size_t differ = 0;
  for (std::size_t o = 0; o < outputs; ++o) {
    for (std::size_t i = 0; i < n; ++i) {
      if (same_bits(got[o][i], want[o][i])) continue;
      if (++differ <= 5)
        ADD_FAILURE() << what << " field " << o << " row " << i << std::hexfloat << ": f "
                      << book.f[i] << " k " << book.k[i] << " t " << book.t[i] << " r " << book.r[i]
                      << " sigma " << sig[i] << " flag " << int{book.flag[i]} << ": " << got[o][i]
                      << " instead of " << want[o][i];
    }
  }
  EXPECT_EQ(differ, 0u) << what;
}

const NormalQuantity kQuantities[] = {
    NormalQuantity::price, NormalQuantity::delta, NormalQuantity::gamma, NormalQuantity::vega,
    NormalQuantity::theta, NormalQuantity::rho,   NormalQuantity::greeks};

class BachelierPaths : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!simd::supported(GetParam()))
      GTEST_SKIP() << simd::path_name(GetParam()) << " is not supported on this processor";
  }
};

TEST_P(BachelierPaths, PriceAndGreeksEqualTheScalarKernelsOnRandomAndDegenerateBooks) {
  const NormalBook random = random_book(1000000, 11), degenerate = degenerate_book();
  for (const NormalQuantity q : kQuantities) {
    const std::string name = "quantity " + std::to_string(static_cast<int>(q));
    expect_same_bits(GetParam(), q, random, random.sigma, name + " random");
    expect_same_bits(GetParam(), q, degenerate, degenerate.sigma, name + " degenerate");
  }
}

// Target prices from the kernel's own prices and around the edges: at, just above and below
// the discounted intrinsic value, zero, huge, non-finite; on random and degenerate books.
TEST_P(BachelierPaths, ImpliedVolatilityEqualsTheScalarKernel) {
  for (const NormalBook& book : {random_book(300000, 13), degenerate_book()}) {
    std::vector<double> target(book.size());
    std::mt19937_64 rng(17);
    for (std::size_t i = 0; i < book.size(); ++i) {
      const bool put = book.flag[i] < 0;
      const double price =
          bachelier_price_kernel(put, book.f[i], book.k[i], book.t[i], book.r[i], book.sigma[i]);
      const double intrinsic =
          bachelier_price_kernel(put, book.f[i], book.k[i], book.t[i], book.r[i], 0.0);
      switch (rng() % 8) {
        case 0:
          target[i] = intrinsic;
          break;
        case 1:
          target[i] = intrinsic - 1e-12 * static_cast<double>(rng() % 3);
          break;
        case 2:
          target[i] = std::nextafter(intrinsic, inf);
          break;
        case 3: {
          const double specials[] = {0.0, -0.0, 1e-300, 1e300, inf, nan, -1.0};
          target[i] = specials[rng() % 7];
          break;
        }
        default:
          target[i] = price;
      }
    }
    expect_same_bits(GetParam(), NormalQuantity::iv, book, target, "iv");
  }
}

INSTANTIATE_TEST_SUITE_P(Path, BachelierPaths,
                         ::testing::Values(Path::scalar, Path::avx2, Path::avx512),
                         [](const auto& info) { return std::string(simd::path_name(info.param)); });

}  // namespace
}  // namespace karvex::testing

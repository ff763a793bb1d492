// The second-order Greek kernels: the single pass against each Greek alone, bit for bit; the
// terms they share with the first-order Greeks; the values of degenerate options. Accuracy is
// checked in Python against mpmath (tests/ext/test_second_order.py).
#include <gtest/gtest.h>

#include <cstddef>
#include <random>

#include "../simd/books.hpp"
#include "kernels/greeks.hpp"
#include "kernels/second_order.hpp"
#include "support.hpp"

namespace {

using namespace karvex;
using namespace karvex::testing;
using karvex::testing::nan;

// Each field of the single pass is the one-Greek kernel's value, NaN bits included.
template <std::size_t... J>
void expect_fields_equal_single_kernels(const Book& book, std::index_sequence<J...>) {
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < book.size(); ++i) {
    const bool put = book.flag[i] < 0;
    const SecondOrder all = bsm_second_order_kernel<kAllSecond>(
        put, book.s[i], book.k[i], book.t[i], book.r[i], book.q[i], book.sigma[i]);
    const double alone[] = {bsm_second_order_kernel<SecondSet{1} << J>(put, book.s[i], book.k[i],
                                                                       book.t[i], book.r[i],
                                                                       book.q[i], book.sigma[i]).*
                            second_order_fields<double>[J]...};
    for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
      if (!same_bits(all.*second_order_fields<double>[j], alone[j]) && ++mismatches <= 5) {
        ADD_FAILURE() << second_order_names[j] << " of option " << i;
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(SecondOrderKernel, SinglePassEqualsEachGreekAloneBitForBit) {
  const auto fields = std::make_index_sequence<kSecondOrderCount>{};
  expect_fields_equal_single_kernels(wide_random(100'000, 5), fields);
  expect_fields_equal_single_kernels(degenerate_classes(6), fields);
}

TEST(SecondOrderKernel, SharesVegaAndGammaWithTheFirstOrderKernels) {
  // volga = vega*(d1*d2)/sigma and zomma = gamma*(d1*d2 - 1)/sigma with the first-order kernels'
  // own vega and gamma, and d1, d2 as they form them.
  const Book book = realistic(2000, 3);
  for (std::size_t i = 0; i < book.size(); ++i) {
    const double s = book.s[i], k = book.k[i], t = book.t[i], r = book.r[i], q = book.q[i],
                 sigma = book.sigma[i];
    const SecondOrder g = bsm_second_order_kernel<kAllSecond>(false, s, k, t, r, q, sigma);
    const D1D2 d = d1_d2(s, k, t, r, q, sigma);
    EXPECT_TRUE(
        same_bits(g.volga, (bsm_vega_kernel(s, k, t, r, q, sigma) * (d.d1 * d.d2)) / sigma));
    EXPECT_TRUE(
        same_bits(g.zomma, (bsm_gamma_kernel(s, k, t, r, q, sigma) * (d.d1 * d.d2 - 1.0)) / sigma));
  }
}

TEST(SecondOrderKernel, DegenerateOptionsHaveZerosAndADualDeltaStep) {
  // Expired: the step on the spot itself, undiscounted; no volatility: on the forward,
  // discounted with the rate.
  for (const double t : {0.0, -1.0}) {
    const SecondOrder call =
        bsm_second_order_kernel<kAllSecond>(false, 110.0, 100.0, t, 0.05, 0.02, 0.2);
    const SecondOrder put =
        bsm_second_order_kernel<kAllSecond>(true, 90.0, 100.0, t, 0.05, 0.02, 0.2);
    EXPECT_EQ(call.dual_delta, -1.0);
    EXPECT_EQ(put.dual_delta, 1.0);
    for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
      if (second_order_fields<double>[j] == &SecondOrder::dual_delta) continue;
      EXPECT_TRUE(same_bits(call.*second_order_fields<double>[j], 0.0)) << second_order_names[j];
    }
  }
  // Forward 100*exp(0.03) > 102: in the money on the forward, though not on the spot.
  const SecondOrder flat =
      bsm_second_order_kernel<kAllSecond>(false, 100.0, 102.0, 1.0, 0.05, 0.02, 0.0);
  EXPECT_EQ(flat.dual_delta, -std::exp(-0.05));
  EXPECT_TRUE(same_bits(
      bsm_second_order_kernel<kAllSecond>(true, 100.0, 102.0, 1.0, 0.05, 0.02, -0.0).dual_delta,
      0.0));
  // A NaN sigma is not degenerate: every Greek is the one NaN.
  const SecondOrder nans =
      bsm_second_order_kernel<kAllSecond>(true, 100.0, 100.0, 1.0, 0.05, 0.02, nan);
  for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
    EXPECT_EQ(bits(nans.*second_order_fields<double>[j]), 0x7ff8000000000000u)
        << second_order_names[j];
  }
}

}  // namespace

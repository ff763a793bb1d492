// Cost per implied volatility on two sets of options, side by side with the
// price kernel in one run, and how many Householder steps the refinement
// takes on each set.
//   realistic: moneyness S/K 0.5-2, one week to three years, volatility
//              5%-150%, calls and puts, small rates and dividend yields;
//   hard:      deep out of the money (|ln(F/K)| 8-35 total standard
//              deviations), very short expiries (minutes to a day), prices
//              within 1e-6 of the intrinsic value, and total volatilities
//              5-12 (prices near their upper bound).
// Every price comes from the price kernel at a known volatility. After the
// table it prints ns per option (least CPU time over the repetitions), the
// ratio implied volatility / price, and the distributions of the guess
// branch and of the step count (from the kernel's trace record, which does
// not change the result).
//
//   bench_iv [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "kernels/iv.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace {

using namespace karvex;

struct Quote {
  bool is_put;
  double price, s, k, t, r, q, sigma;
};

constexpr std::size_t kSetSize = 4096;

Quote priced(bool is_put, double s, double k, double t, double r, double q, double sigma) {
  return {is_put, bsm_price_kernel(is_put, s, k, t, r, q, sigma), s, k, t, r, q, sigma};
}

const std::vector<Quote>& realistic() {
  static const std::vector<Quote> set = [] {
    std::mt19937_64 rng(20240601);
    std::uniform_real_distribution<double> log_money(std::log(0.5), std::log(2.0)),
        log_time(std::log(7.0 / 365), std::log(3.0)), vol(0.05, 1.5), rate(0.0, 0.05),
        yield(0.0, 0.03);
    std::vector<Quote> out;
    while (out.size() < kSetSize) {
      const double s = 100.0;
      const double k = s / std::exp(log_money(rng));
      out.push_back(
          priced((rng() & 1) != 0, s, k, std::exp(log_time(rng)), rate(rng), yield(rng), vol(rng)));
    }
    return out;
  }();
  return set;
}

const std::vector<Quote>& hard() {
  static const std::vector<Quote> set = [] {
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const auto between = [&](double lo, double hi) { return lo + (hi - lo) * u(rng); };
    const auto log_between = [&](double lo, double hi) {
      return std::exp(between(std::log(lo), std::log(hi)));
    };
    std::vector<Quote> out;
    while (out.size() < kSetSize) {
      const double s = 100.0, r = between(0.0, 0.05), q = between(0.0, 0.03);
      const bool is_put = (rng() & 1) != 0;
      const double forward = s * std::exp((r - q) * 1.0);
      Quote quote{};
      switch (out.size() % 4) {
        case 0: {  // deep out of the money
          const double t = log_between(1.0 / 52, 1.0), sigma = between(0.05, 0.5);
          const double h = between(8.0, 35.0) * sigma * std::sqrt(t);
          const double f = s * std::exp((r - q) * t);
          quote = priced(is_put, s, is_put ? f * std::exp(-h) : f * std::exp(h), t, r, q, sigma);
          break;
        }
        case 1:  // very short expiry, near the money
          quote = priced(is_put, s, s * between(0.9, 1.1), log_between(1e-5, 1.0 / 365), r, q,
                         between(0.05, 1.5));
          break;
        case 2: {  // deep in the money: time value within 1e-6 of the price
          const double sigma = between(0.05, 0.3), t = 1.0;
          const double h = between(4.5, 7.0) * sigma;
          quote = priced(is_put, s, is_put ? forward * std::exp(h) : forward * std::exp(-h), t, r,
                         q, sigma);
          break;
        }
        default: {  // total volatility 5-12: price near its upper bound
          const double t = log_between(0.25, 3.0);
          quote =
              priced(is_put, s, s * between(0.7, 1.4), t, r, q, between(5.0, 12.0) / std::sqrt(t));
          break;
        }
      }
      out.push_back(quote);
    }
    return out;
  }();
  return set;
}

// Registers a benchmark that runs `per_quote(quote)` over one set; items =
// quotes.
template <class F>
void add(const char* name, const std::vector<Quote>& quotes, F per_quote) {
  karvex::bench::add_per_call(name, quotes.size(),
                              [&quotes, per_quote](std::size_t i) { return per_quote(quotes[i]); });
}

double iv_of(const Quote& o) {
  return bsm_iv_kernel(o.is_put, o.price, o.s, o.k, o.t, o.r, o.q);
}
double price_of(const Quote& o) {
  return bsm_price_kernel(o.is_put, o.s, o.k, o.t, o.r, o.q, o.sigma);
}

// Branch of the guess and Householder steps taken over one set, with the
// results that were 0.0 (no time value) or NaN.
void print_distribution(const char* name, const std::vector<Quote>& quotes) {
  int branch[5] = {}, steps[5] = {}, zeros = 0, nans = 0;
  for (const Quote& o : quotes) {
    IvTrace trace;
    const double sigma = bsm_iv_kernel_traced(o.is_put, o.price, o.s, o.k, o.t, o.r, o.q, trace);
    if (std::isnan(sigma)) {
      ++nans;
    } else if (sigma == 0.0) {
      ++zeros;
    }
    if (trace.branch == 0) continue;
    ++branch[trace.branch];
    ++steps[trace.steps];
  }
  const double n = static_cast<double>(quotes.size());
  std::printf("%-9s branch 1/2/3/4: %5.1f%% %5.1f%% %5.1f%% %5.1f%%   0.0: %.1f%%  NaN: %.1f%%\n",
              name, 100 * branch[1] / n, 100 * branch[2] / n, 100 * branch[3] / n,
              100 * branch[4] / n, 100 * zeros / n, 100 * nans / n);
  std::printf("%-9s steps 0/1/2/3/4: %5.1f%% %5.1f%% %5.1f%% %5.1f%% %5.1f%%\n", name,
              100 * steps[0] / n, 100 * steps[1] / n, 100 * steps[2] / n, 100 * steps[3] / n,
              100 * steps[4] / n);
}

}  // namespace

int main(int argc, char** argv) {
  add("price_realistic", realistic(), price_of);
  add("iv_realistic", realistic(), iv_of);
  add("price_hard", hard(), price_of);
  add("iv_hard", hard(), iv_of);
  karvex::bench::LeastTimeReporter reporter(kSetSize);
  if (!karvex::bench::run_benchmarks(&argc, argv, reporter)) return 1;
  reporter.print_ns("ns per option:");
  reporter.print_ratio("iv_realistic", "price_realistic");
  reporter.print_ratio("iv_hard", "price_hard");
  reporter.print_ratio("iv_hard", "iv_realistic");
  std::printf("\n");
  print_distribution("realistic", realistic());
  print_distribution("hard", hard());
  return 0;
}

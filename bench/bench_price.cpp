// Cost of the price kernel per option on a random book (called in turn, and
// in its two stages software pipelined as the module's loop runs them), of
// the normalised Black function per call in each of its four regions, and,
// in the same run for scale, of the platform exp and log as the kernels call
// them (platform::exp, platform::log) and by name (std::exp, std::log: the C
// library's errno wrappers around the same functions). Each is timed five
// times; the summary takes the least CPU time per call and prints it in ns
// and as a multiple of one platform::exp.
//
//   bench_price [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "kernels/normalised_black.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"
#include "support.hpp"

namespace {

constexpr std::size_t batch_size = 4096;

struct Option {
  bool is_put;
  double s, k, t, r, q, sigma;
};

// A book as a desk sees it: strikes within e^-0.5..e^0.5 of the spot, one
// week to five years, volatilities 5% to 90%, calls and puts mixed.
std::vector<Option> random_book() {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> money(-0.5, 0.5),
      log_t(std::log(7.0 / 365), std::log(5.0)), rate(-0.01, 0.08), yield(0.0, 0.05),
      vol(0.05, 0.9);
  std::vector<Option> book;
  for (std::size_t i = 0; i < batch_size; ++i) {
    const bool is_put = (rng() & 1) != 0;
    const double k = 100.0 * std::exp(money(rng));
    book.push_back({is_put, 100.0, k, std::exp(log_t(rng)), rate(rng), yield(rng), vol(rng)});
  }
  return book;
}

struct Point {
  double x, s;
};

// The region normalised_black chooses for (x, s), by its tests.
int region_of(double x, double s) {
  const double t = s * 0.5;
  if (x < s * -10.0 && x + s * t < s * -9.789747145884828) return 1;
  if (t < 0.2102528541151713) return 2;
  if (x + s * t > s * 0.85) return 3;
  return 4;
}

// Random (x, s) pairs that all fall in one region, x <= 0 as the prices pass.
std::vector<Point> region_points(int region) {
  std::mt19937_64 rng(100 + region);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Point> points;
  while (points.size() < batch_size) {
    double x = 0.0, s = 0.0;
    switch (region) {
      case 1:  // deep out of the money, small volatility: h = x/s below -10
        x = -0.5 - 4.5 * u(rng);
        s = -x / (10.5 + 30.0 * u(rng));
        break;
      case 2:  // s below 2*tau, h in (-9.5, 0]
        s = 0.01 + 0.4 * u(rng);
        x = -9.5 * u(rng) * s;
        break;
      case 3:  // large s, h + t > 0.85
        s = 1.8 + 2.2 * u(rng);
        x = -0.9 * u(rng) * (s * s * 0.5 - 0.85 * s);
        break;
      default:  // moderate s, h in (-9.5, 0]
        s = 0.45 + 1.15 * u(rng);
        x = -9.5 * u(rng) * s;
        break;
    }
    if (region_of(x, s) == region) points.push_back({x, s});
  }
  return points;
}

// Arguments for the scale measurements: uniform on [lo, hi).
std::vector<double> uniform_batch(double lo, double hi) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(batch_size);
  for (double& a : v) a = u(rng);
  return v;
}

// Every benchmark evaluates its call over one batch of batch_size arguments.
void register_all() {
  using karvex::bench::add_per_call;
  static const std::vector<Option> book = random_book();
  add_per_call("bsm_price_kernel", batch_size, [](std::size_t i) {
    const Option& o = book[i];
    return karvex::bsm_price_kernel(o.is_put, o.s, o.k, o.t, o.r, o.q, o.sigma);
  });
  // The same book through the two stages of the kernel, software pipelined as
  // the module's loops run them.
  karvex::bench::add_two_stages(
      "bsm_price_kernel/two_stages", batch_size,
      [](std::size_t i) {
        const Option& o = book[i];
        return karvex::bsm_price_first_stage(o.is_put, o.s, o.k, o.t, o.r, o.q, o.sigma);
      },
      [](const karvex::PriceStage& stage) { return karvex::bsm_price_second_stage(stage); });
  static const std::vector<Point> regions[4] = {region_points(1), region_points(2),
                                                region_points(3), region_points(4)};
  const char* names[4] = {"normalised_black/1_asymptotic", "normalised_black/2_small_volatility",
                          "normalised_black/3_phi_form", "normalised_black/4_erfcx_form"};
  for (int j = 0; j < 4; ++j) {
    add_per_call(names[j], batch_size, [j](std::size_t i) {
      const Point& p = regions[j][i];
      return karvex::normalised_black(p.x, p.s).b;
    });
  }
  static const std::vector<double> exp_args = uniform_batch(-5.0, 5.0);
  static const std::vector<double> log_args = uniform_batch(0.01, 100.0);
  add_per_call("platform::exp", batch_size,
               [](std::size_t i) { return karvex::platform::exp(exp_args[i]); });
  add_per_call("platform::log", batch_size,
               [](std::size_t i) { return karvex::platform::log(log_args[i]); });
  add_per_call("std::exp", batch_size, [](std::size_t i) { return std::exp(exp_args[i]); });
  add_per_call("std::log", batch_size, [](std::size_t i) { return std::log(log_args[i]); });
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  karvex::bench::LeastTimeReporter reporter(batch_size);
  if (!karvex::bench::run_benchmarks(&argc, argv, reporter)) return 1;
  const double exp_ns = reporter.ns("platform::exp");
  std::printf("\n%-38s %10s %10s\n", "per call", "ns", "x exp");
  for (const auto& [name, value] : reporter.ns_per_call()) {
    std::printf("%-38s %10.2f %10.2f\n", name.c_str(), value, exp_ns > 0 ? value / exp_ns : 0.0);
  }
  return 0;
}

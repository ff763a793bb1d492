// Cost per option of the individual Greek kernels against the single-pass
// kernels, all on one random batch of valid options in one run, each timed
// five times.  After the table it prints ns per option (least CPU time over
// the repetitions) and the ratio (five individual kernels) / (single pass)
// for both models: the BSM single pass shares ln, three exponentials and two
// cdf evaluations and should cost well under half; the Black-76 pass also
// evaluates the price behind its rho, which dominates its cost.  Delta, theta,
// rho and the BSM single pass are also timed in their two stages, software
// pipelined as the module's loops run them.
//
//   bench_greeks [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "support.hpp"

namespace {

using namespace karvex;

struct Batch {
  std::vector<char> is_put;
  std::vector<double> s, k, t, r, q, sigma;
  std::size_t size() const { return s.size(); }
};

// Spots, strikes, times, rates and volatilities over the ranges a desk sees,
// both kinds mixed; no degenerate inputs.
const Batch& batch() {
  static const Batch b = [] {
    constexpr std::size_t n = 4096;
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> money(0.6, 1.6), time(0.02, 5.0), rate(-0.01, 0.08),
        yield(0.0, 0.05), vol(0.05, 0.9);
    Batch x;
    for (std::size_t i = 0; i < n; ++i) {
      x.is_put.push_back(static_cast<char>(rng() & 1));
      x.s.push_back(100.0);
      x.k.push_back(100.0 * money(rng));
      x.t.push_back(time(rng));
      x.r.push_back(rate(rng));
      x.q.push_back(yield(rng));
      x.sigma.push_back(vol(rng));
    }
    return x;
  }();
  return b;
}

// One option of the batch: BSM arguments, or Black-76 with s as the forward.
struct Option {
  bool put;
  double s, k, t, r, q, sigma;
};
Option at(const Batch& b, std::size_t i) {
  return {b.is_put[i] != 0, b.s[i], b.k[i], b.t[i], b.r[i], b.q[i], b.sigma[i]};
}

// Registers a benchmark that runs `per_option(option)` over the batch; items =
// options.
template <class F>
void add(const char* name, F per_option) {
  const Batch& b = batch();
  karvex::bench::add_per_call(name, b.size(),
                              [&b, per_option](std::size_t i) { return per_option(at(b, i)); });
}

// The five individual kernels for one option; Black-76 calls them with q = r
// and takes its own rho.
template <bool black76>
Greeks five_separate(const Option& o) {
  const double q = black76 ? o.r : o.q;
  return Greeks{bsm_delta_kernel(o.put, o.s, o.k, o.t, o.r, q, o.sigma),
                bsm_gamma_kernel(o.s, o.k, o.t, o.r, q, o.sigma),
                bsm_vega_kernel(o.s, o.k, o.t, o.r, q, o.sigma),
                bsm_theta_kernel(o.put, o.s, o.k, o.t, o.r, q, o.sigma),
                black76 ? black76_rho_kernel(o.put, o.s, o.k, o.t, o.r, o.sigma)
                        : bsm_rho_kernel(o.put, o.s, o.k, o.t, o.r, q, o.sigma)};
}

void register_all() {
  add("delta",
      [](const Option& o) { return bsm_delta_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("gamma", [](const Option& o) { return bsm_gamma_kernel(o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("vega", [](const Option& o) { return bsm_vega_kernel(o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("theta",
      [](const Option& o) { return bsm_theta_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("rho",
      [](const Option& o) { return bsm_rho_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("black76_rho",
      [](const Option& o) { return black76_rho_kernel(o.put, o.s, o.k, o.t, o.r, o.sigma); });
  // The price that Black-76 rho rests on: the floor under any Black-76 pass.
  add("black76_price",
      [](const Option& o) { return bsm_price_kernel(o.put, o.s, o.k, o.t, o.r, o.r, o.sigma); });
  add("bsm_five_separate", [](const Option& o) { return five_separate<false>(o); });
  add("bsm_greeks",
      [](const Option& o) { return bsm_greeks_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma); });
  // The kernels with two stages, software pipelined as the module's loops run
  // them.
  const auto add_staged = [](const char* name, auto first, auto second) {
    karvex::bench::add_two_stages(
        name, batch().size(),
        [first](std::size_t i) {
          const Option o = at(batch(), i);
          return first(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma);
        },
        second);
  };
  add_staged("delta/two_stages", bsm_delta_first_stage,
             [](const GreeksStage& g) { return bsm_delta_second_stage(g); });
  add_staged("theta/two_stages", bsm_theta_first_stage,
             [](const GreeksStage& g) { return bsm_theta_second_stage(g); });
  add_staged("rho/two_stages", bsm_rho_first_stage,
             [](const GreeksStage& g) { return bsm_rho_second_stage(g); });
  add_staged("bsm_greeks/two_stages", bsm_greeks_first_stage,
             [](const GreeksStage& g) { return bsm_greeks_second_stage(g); });
  add("black76_five_separate", [](const Option& o) { return five_separate<true>(o); });
  add("black76_greeks",
      [](const Option& o) { return black76_greeks_kernel(o.put, o.s, o.k, o.t, o.r, o.sigma); });
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  karvex::bench::LeastTimeReporter reporter(static_cast<double>(batch().size()));
  if (!karvex::bench::run_benchmarks(&argc, argv, reporter)) return 1;
  reporter.print_ns("ns per option:");
  reporter.print_ratio("bsm_five_separate", "bsm_greeks");
  reporter.print_ratio("black76_five_separate", "black76_greeks");
  return 0;
}

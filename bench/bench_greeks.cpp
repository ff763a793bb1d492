// Cost per option of the individual Greek kernels against the single-pass
// kernels, all on one random batch of valid options in one run, each timed
// five times.  After the
// table it prints the ratio (five individual kernels) / (single pass) for
// both models: the single pass shares ln, three exponentials and two cdf
// evaluations and should cost well under half.
//
//   bench_greeks [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"

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

// Registers a benchmark that runs `per_option(option)` over the batch,
// keeping each result alive; items = options.
template <class F>
void add(const char* name, F per_option) {
  benchmark::RegisterBenchmark(
      name,
      [per_option](benchmark::State& state) {
        const Batch& b = batch();
        for (auto _ : state) {
          for (std::size_t i = 0; i < b.size(); ++i) benchmark::DoNotOptimize(per_option(at(b, i)));
        }
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * b.size()));
      })
      ->Repetitions(5)
      ->MinTime(0.2);
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
  add("bsm_five_separate", [](const Option& o) {
    return Greeks{bsm_delta_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma),
                  bsm_gamma_kernel(o.s, o.k, o.t, o.r, o.q, o.sigma),
                  bsm_vega_kernel(o.s, o.k, o.t, o.r, o.q, o.sigma),
                  bsm_theta_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma),
                  bsm_rho_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma)};
  });
  add("bsm_greeks",
      [](const Option& o) { return bsm_greeks_kernel(o.put, o.s, o.k, o.t, o.r, o.q, o.sigma); });
  add("black76_five_separate", [](const Option& o) {
    return Greeks{bsm_delta_kernel(o.put, o.s, o.k, o.t, o.r, o.r, o.sigma),
                  bsm_gamma_kernel(o.s, o.k, o.t, o.r, o.r, o.sigma),
                  bsm_vega_kernel(o.s, o.k, o.t, o.r, o.r, o.sigma),
                  bsm_theta_kernel(o.put, o.s, o.k, o.t, o.r, o.r, o.sigma),
                  black76_rho_kernel(o.put, o.s, o.k, o.t, o.r, o.sigma)};
  });
  add("black76_greeks",
      [](const Option& o) { return black76_greeks_kernel(o.put, o.s, o.k, o.t, o.r, o.sigma); });
}

// Console output as usual, plus ns per option of each benchmark: the least
// CPU time over its repetitions, the figure least disturbed by other work on
// a shared machine.
class PerOptionReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const double ns = run.GetAdjustedCPUTime() / static_cast<double>(batch().size());
      const auto [it, fresh] = ns_per_option.try_emplace(run.run_name.function_name, ns);
      if (!fresh && ns < it->second) it->second = ns;
    }
  }
  std::map<std::string, double> ns_per_option;
};

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PerOptionReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& ns = reporter.ns_per_option;
  std::printf("\nns per option:\n");
  for (const auto& [name, value] : ns) std::printf("  %-22s %8.2f\n", name.c_str(), value);
  const auto ratio = [&](const char* separate, const char* single) {
    if (!ns.count(separate) || !ns.count(single)) return;
    std::printf("%s / %s = %.2f\n", separate, single, ns.at(separate) / ns.at(single));
  };
  ratio("bsm_five_separate", "bsm_greeks");
  ratio("black76_five_separate", "black76_greeks");
  return 0;
}

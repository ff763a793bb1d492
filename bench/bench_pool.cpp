// Scaling of the worker pool: for an implied-volatility-like per-index cost (~100-200 ns, uneven
// across indices) and a price-like one (~10-20 ns), the time of one evaluation on a pool of one
// worker and on a pool of P workers at n = 1,024, 16,384 and 1,000,000; and the fixed cost of one
// evaluation round trip (hand-off, wake-up, latch), with the workers still looking for work (calls
// back to back) and asleep (calls 2 ms apart).
//
// Each scaling iteration runs its arms in turn (a loop on the calling thread, one worker, P
// workers, and at the largest n P plain threads on fixed chunks: what the machine's cores give at
// that moment), so on a shared machine every arm sees the same background load. Before a pool arm
// the other pool's workers have gone to sleep and a two-element evaluation wakes this pool's.
// After the table it prints speedup (one worker / P workers) and parallel efficiency (speedup / P)
// from the medians over the iterations, and from the best times.
//
//   bench_pool [--benchmark_filter=...]
// P comes from RAYON_NUM_THREADS / RAYON_RS_NUM_CPUS / the online processors, as for the
// process-wide pool.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace {

using karvex::pool::Pool;
using Clock = std::chrono::steady_clock;

// Two exponentials, a logarithm and a square root: the cost of a price or a single Greek.
double price_like(std::size_t i) {
  const double x = 0.5 + static_cast<double>(i & 1023) * 0.001;
  return std::exp(-x) * std::log(x + 1.0) + std::sqrt(x) * std::exp(x * 0.25);
}

// Three to ten dependent exponential/logarithm rounds, chosen by a hash of the index: the cost
// and its spread of an implied volatility (initial guess plus a few refinement steps).
double iv_like(std::size_t i) {
  const unsigned rounds = 3 + static_cast<unsigned>((i * 0x9E3779B97F4A7C15ull) >> 61);
  double x = 0.5 + static_cast<double>(i & 1023) * 0.001;
  for (unsigned k = 0; k < rounds; ++k) x = std::log(std::exp(-x) + x + 1.0);
  return x;
}

double trivial(std::size_t i) {
  return static_cast<double>(i);
}

Pool* one_worker = nullptr;
Pool* p_workers = nullptr;

constexpr std::size_t kSizes[] = {1024, 16384, 1000000};
constexpr std::size_t kLarge = 1000000;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}
double best(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

// Seconds per evaluation over `reps` back-to-back runs of `body`.
template <class Body>
double seconds_per_run(std::size_t reps, const Body& body) {
  const auto start = Clock::now();
  for (std::size_t r = 0; r < reps; ++r) body();
  return std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(reps);
}

// Lets the previous arm's workers fall asleep, then wakes `pool`'s with a tiny evaluation.
void settle_and_wake(Pool& pool) {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  double out[2];
  pool.evaluate(2, trivial, out);
}

template <double (*Cost)(std::size_t)>
void scaling(benchmark::State& state, std::size_t n) {
  std::vector<double> out(n);
  // Runs per arm and iteration: a few milliseconds of work at small n, one run at the largest.
  const std::size_t reps = std::max<std::size_t>(1, (1u << 18) / n);
  const std::size_t p = p_workers->size();
  std::vector<double> loop, one, many, plain;
  bool short_count = false;
  for (auto _ : state) {
    loop.push_back(seconds_per_run(reps, [&] {
      for (std::size_t i = 0; i < n; ++i) out[i] = Cost(i);
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }));
    for (auto [pool, times] : {std::pair{one_worker, &one}, std::pair{p_workers, &many}}) {
      settle_and_wake(*pool);
      times->push_back(seconds_per_run(reps, [&] {
        // A lambda, as the vectorised functions pass: the leaf loop inlines the element.
        const auto element = [](std::size_t i) { return Cost(i); };
        short_count |= pool->evaluate(n, element, out.data()) != n;
        benchmark::DoNotOptimize(out.data());
      }));
    }
    if (n == kLarge) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      plain.push_back(seconds_per_run(reps, [&] {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < p; ++t) {
          threads.emplace_back([&out, t, p, n] {
            for (std::size_t i = n * t / p; i < n * (t + 1) / p; ++i) out[i] = Cost(i);
          });
        }
        for (auto& t : threads) t.join();
        benchmark::DoNotOptimize(out.data());
      }));
    }
    state.SetIterationTime(many.back());
  }
  if (short_count) state.SkipWithError("short write count");
  const double pd = static_cast<double>(p);
  state.counters["ns_per_elem"] = median(loop) * 1e9 / static_cast<double>(n);
  state.counters["one_us"] = median(one) * 1e6;
  state.counters["p_us"] = median(many) * 1e6;
  state.counters["speedup"] = median(one) / median(many);
  state.counters["efficiency"] = median(one) / median(many) / pd;
  state.counters["best_efficiency"] = best(one) / best(many) / pd;
  if (!plain.empty()) {
    state.counters["ceiling"] = median(loop) / median(plain) / pd;
    state.counters["vs_plain"] = median(plain) / median(many);
  }
}

// One evaluation of two trivial elements; with `gap`, the workers have gone to sleep before each.
void round_trip(benchmark::State& state, Pool* const* pool, bool gap) {
  double out[2];
  for (auto _ : state) {
    if (gap) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto start = Clock::now();
    (*pool)->evaluate(2, trivial, out);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    benchmark::DoNotOptimize(out);
  }
}

// Console output as usual, plus each run's counters and time kept by name.
class ScalingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto& kept = results[run.run_name.function_name];
      for (const auto& [key, counter] : run.counters) kept[key] = counter.value;
      kept["time_us"] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, std::map<std::string, double>> results;
};

std::string name(const char* cost, std::size_t n) {
  return std::string("scaling/") + cost + "/n:" + std::to_string(n);
}

template <double (*Cost)(std::size_t)>
void register_cost(const char* cost) {
  for (std::size_t n : kSizes) {
    benchmark::RegisterBenchmark(name(cost, n).c_str(),
                                 [n](benchmark::State& s) { scaling<Cost>(s, n); })
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime()
        ->Iterations(n == kLarge && Cost == iv_like ? 15 : 31);
  }
}

void register_round_trips() {
  for (bool gap : {false, true}) {
    const std::string kind = gap ? "asleep" : "back_to_back";
    benchmark::RegisterBenchmark(("round_trip/one_worker/" + kind).c_str(),
                                 [gap](benchmark::State& s) { round_trip(s, &one_worker, gap); })
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime()
        ->Iterations(gap ? 300 : 20000);
    benchmark::RegisterBenchmark(("round_trip/p_workers/" + kind).c_str(),
                                 [gap](benchmark::State& s) { round_trip(s, &p_workers, gap); })
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime()
        ->Iterations(gap ? 300 : 20000);
  }
}

void print_summary(std::map<std::string, std::map<std::string, double>>& r, std::size_t p) {
  std::printf("\nP = %zu workers; one worker and P workers alternate within each iteration\n", p);
  std::printf("%-6s %8s %8s %10s %10s %8s %10s %10s %9s %9s\n", "cost", "n", "ns/elem", "1 wkr us",
              "P wkrs us", "speedup", "efficiency", "best eff.", "ceiling", "vs plain");
  for (const char* cost : {"iv", "price"}) {
    for (std::size_t n : kSizes) {
      auto& c = r[name(cost, n)];
      if (c.count("speedup") == 0) continue;
      std::printf("%-6s %8zu %8.1f %10.1f %10.1f %8.3f %10.3f %10.3f", cost, n, c["ns_per_elem"],
                  c["one_us"], c["p_us"], c["speedup"], c["efficiency"], c["best_efficiency"]);
      if (c.count("ceiling")) std::printf(" %9.3f %9.3f", c["ceiling"], c["vs_plain"]);
      std::printf("\n");
    }
  }
  std::printf(
      "(ceiling: loop / P plain threads on fixed chunks, over P; vs plain: P plain threads / P\n"
      " workers; both from the same iterations, at the largest n)\n");
  std::printf("\nround trip (n = 2, trivial elements), us:\n");
  for (const char* kind : {"back_to_back", "asleep"}) {
    std::printf("  %-13s one worker %8.2f   P workers %8.2f\n", kind,
                r[std::string("round_trip/one_worker/") + kind]["time_us"],
                r[std::string("round_trip/p_workers/") + kind]["time_us"]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const std::size_t p = karvex::pool::size_from_environment(
                            std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                            online > 0 ? static_cast<std::size_t>(online) : 0)
                            .workers;
  auto one = std::make_unique<Pool>(1);
  auto many = std::make_unique<Pool>(p);
  one_worker = one.get();
  p_workers = many.get();

  register_cost<iv_like>("iv");
  register_cost<price_like>("price");
  register_round_trips();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ScalingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_summary(reporter.results, p);
  return 0;
}

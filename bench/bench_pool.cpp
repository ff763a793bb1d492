// Scaling of the worker pool: for an implied-volatility-like per-index cost (~100-200 ns, uneven
// across indices) and a price-like one (~10-20 ns), the time of one evaluation on a pool of one
// worker and on a pool of P workers at n = 1,024, 16,384 and 1,000,000, plus a plain loop on the
// calling thread; and the fixed cost of one evaluation round trip (hand-off, wake-up, latch) with
// the workers still looking for work (back to back) and asleep (calls 2 ms apart). Both pools live
// in this one process and run side by side; after the table it prints speedup (one worker / P
// workers) and parallel efficiency (speedup / P).
//
//   bench_pool [--benchmark_filter=...] [--benchmark_repetitions=N]
// P comes from RAYON_NUM_THREADS / RAYON_RS_NUM_CPUS / the online processors, as for the
// process-wide pool.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace {

using karvex::pool::Pool;

// About one exponential and one logarithm: the cost of a price or a single Greek.
double price_like(std::size_t i) {
  const double x = 0.5 + static_cast<double>(i & 1023) * 0.001;
  return std::exp(-x) * std::log(x + 1.0);
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

const std::size_t kSizes[] = {1024, 16384, 1000000};

template <double (*Cost)(std::size_t)>
void serial(benchmark::State& state, std::size_t n) {
  std::vector<double> out(n);
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i) out[i] = Cost(i);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// The machine's own ceiling: P plain threads on fixed equal chunks, started per evaluation (their
// start-up is small against n = 1,000,000). On a shared machine this shows what P cores give.
template <double (*Cost)(std::size_t)>
void plain_threads(benchmark::State& state, std::size_t p, std::size_t n) {
  std::vector<double> out(n);
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < p; ++t) {
      threads.emplace_back([&out, t, p, n] {
        for (std::size_t i = n * t / p; i < n * (t + 1) / p; ++i) out[i] = Cost(i);
      });
    }
    for (auto& t : threads) t.join();
    benchmark::DoNotOptimize(out.data());
  }
}

template <double (*Cost)(std::size_t)>
void on_pool(benchmark::State& state, Pool* const* pool, std::size_t n) {
  std::vector<double> out(n);
  for (auto _ : state) {
    if ((*pool)->evaluate(n, Cost, out.data()) != n) state.SkipWithError("short write count");
    benchmark::DoNotOptimize(out.data());
  }
}

// One evaluation of two trivial elements; with `gap`, the workers have gone to sleep before each.
void round_trip(benchmark::State& state, Pool* const* pool, bool gap) {
  double out[2];
  for (auto _ : state) {
    if (gap) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto start = std::chrono::steady_clock::now();
    (*pool)->evaluate(2, trivial, out);
    const auto stop = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    benchmark::DoNotOptimize(out);
  }
}

// Console output as usual, plus the real time of each run kept by name (with repetitions, the
// median aggregate).
class ScalingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      microseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> microseconds;
};

std::string name(const char* what, const char* cost, std::size_t n) {
  return std::string(what) + "/" + cost + "/n:" + std::to_string(n);
}

template <double (*Cost)(std::size_t)>
void register_cost(const char* cost) {
  const std::size_t large = kSizes[std::size(kSizes) - 1];
  benchmark::RegisterBenchmark(
      name("plain_threads", cost, large).c_str(),
      [large](benchmark::State& s) { plain_threads<Cost>(s, p_workers->size(), large); })
      ->Unit(benchmark::kMicrosecond)
      ->UseRealTime();
  for (std::size_t n : kSizes) {
    benchmark::RegisterBenchmark(name("serial", cost, n).c_str(),
                                 [n](benchmark::State& s) { serial<Cost>(s, n); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(name("one_worker", cost, n).c_str(),
                                 [n](benchmark::State& s) { on_pool<Cost>(s, &one_worker, n); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(name("p_workers", cost, n).c_str(),
                                 [n](benchmark::State& s) { on_pool<Cost>(s, &p_workers, n); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
  }
}

void register_round_trips() {
  for (bool gap : {false, true}) {
    const std::string kind = gap ? "asleep" : "back_to_back";
    benchmark::RegisterBenchmark(("round_trip/one_worker/" + kind).c_str(),
                                 [gap](benchmark::State& s) { round_trip(s, &one_worker, gap); })
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("round_trip/p_workers/" + kind).c_str(),
                                 [gap](benchmark::State& s) { round_trip(s, &p_workers, gap); })
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime();
  }
}

void print_summary(const std::map<std::string, double>& us, std::size_t p) {
  const auto get = [&](const std::string& key) {
    const auto it = us.find(key);
    return it == us.end() ? 0.0 : it->second;
  };
  std::printf("\nP = %zu workers (one worker vs P measured in this run)\n", p);
  std::printf("%-6s %9s %12s %12s %12s %9s %11s %9s\n", "cost", "n", "ns/elem", "1 worker us",
              "P workers us", "speedup", "efficiency", "vs loop");
  for (const char* cost : {"iv", "price"}) {
    for (std::size_t n : kSizes) {
      const double loop = get(name("serial", cost, n));
      const double t1 = get(name("one_worker", cost, n));
      const double tp = get(name("p_workers", cost, n));
      if (t1 <= 0 || tp <= 0) continue;
      std::printf("%-6s %9zu %12.1f %12.1f %12.1f %9.3f %11.3f %9.3f\n", cost, n,
                  loop * 1e3 / static_cast<double>(n), t1, tp, t1 / tp,
                  t1 / tp / static_cast<double>(p), loop > 0 ? loop / tp : 0.0);
    }
  }
  std::printf("\nmachine ceiling at n = %zu: loop / %zu plain threads on fixed chunks\n",
              kSizes[std::size(kSizes) - 1], p);
  for (const char* cost : {"iv", "price"}) {
    const std::size_t large = kSizes[std::size(kSizes) - 1];
    const double loop = get(name("serial", cost, large));
    const double plain = get(name("plain_threads", cost, large));
    if (loop > 0 && plain > 0) std::printf("  %-6s speedup %6.3f\n", cost, loop / plain);
  }
  std::printf("\nround trip (n = 2, trivial elements), us:\n");
  for (const char* kind : {"back_to_back", "asleep"}) {
    std::printf("  %-13s one worker %8.2f   P workers %8.2f\n", kind,
                get(std::string("round_trip/one_worker/") + kind),
                get(std::string("round_trip/p_workers/") + kind));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const std::size_t p = karvex::pool::size_from_environment(
      std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
      online > 0 ? static_cast<std::size_t>(online) : 0);
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
  print_summary(reporter.microseconds, p);
  return 0;
}

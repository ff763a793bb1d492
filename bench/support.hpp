// What the kernel benchmarks share: registering a loop of calls over a fixed
// batch, a reporter that keeps the least CPU time per call of each benchmark,
// and running the registered benchmarks with the command line's flags.
//
// Each benchmark is timed five times; the least CPU time over the repetitions
// is the figure least disturbed by other work on a shared machine, and the
// figures are compared as ratios measured side by side in one run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace karvex::bench {

// Registers `name`: one iteration evaluates call(i) for i = 0 .. n - 1 (the
// call inlined, so the loop costs no indirect call), keeping every result
// alive; items processed = calls; five repetitions of at least 0.2 s each.
template <class Call>
void add_per_call(const std::string& name, std::size_t n, Call call) {
  benchmark::RegisterBenchmark(
      name.c_str(),
      [n, call](benchmark::State& state) {
        for (auto _ : state) {
          for (std::size_t i = 0; i < n; ++i) benchmark::DoNotOptimize(call(i));
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
      })
      ->Repetitions(5)
      ->MinTime(0.2);
}

// Registers `name` for a kernel in two stages, run as the module's loops run
// it: one iteration forms second(first(i)) for i = 0 .. n - 1 with the first
// stage of i + 1 formed before the second stage of i (software pipelined);
// otherwise as add_per_call.
template <class First, class Second>
void add_two_stages(const std::string& name, std::size_t n, First first, Second second) {
  benchmark::RegisterBenchmark(
      name.c_str(),
      [n, first, second](benchmark::State& state) {
        for (auto _ : state) {
          auto stage = first(0);
          for (std::size_t i = 0; i + 1 < n; ++i) {
            const auto next = first(i + 1);
            benchmark::DoNotOptimize(second(stage));
            stage = next;
          }
          benchmark::DoNotOptimize(second(stage));
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
      })
      ->Repetitions(5)
      ->MinTime(0.2);
}

// Console output as usual; in addition keeps, for each benchmark by name,
// the least CPU time of one iteration over its repetitions, in ns whatever
// the benchmark's time unit, divided by `calls_per_iteration`.
class LeastTimeReporter : public benchmark::ConsoleReporter {
 public:
  explicit LeastTimeReporter(double calls_per_iteration)
      : calls_per_iteration_(calls_per_iteration) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const double ns = run.GetAdjustedCPUTime() * 1e9 /
                        benchmark::GetTimeUnitMultiplier(run.time_unit) / calls_per_iteration_;
      const auto [it, fresh] = ns_per_call_.try_emplace(run.run_name.function_name, ns);
      if (!fresh && ns < it->second) it->second = ns;
    }
  }

  // ns per call of every benchmark that ran, by name.
  const std::map<std::string, double>& ns_per_call() const { return ns_per_call_; }

  // ns per call of `name`, or 0.0 when it did not run (filtered out).
  double ns(const std::string& name) const {
    const auto it = ns_per_call_.find(name);
    return it == ns_per_call_.end() ? 0.0 : it->second;
  }

  // Prints `heading` and one line "name  ns" per benchmark.
  void print_ns(const char* heading) const {
    std::size_t width = 0;
    for (const auto& entry : ns_per_call_) width = std::max(width, entry.first.size());
    std::printf("\n%s\n", heading);
    for (const auto& [name, value] : ns_per_call_) {
      std::printf("  %-*s %8.2f\n", static_cast<int>(width), name.c_str(), value);
    }
  }

  // Prints "a / b = ratio" when both ran.
  void print_ratio(const std::string& a, const std::string& b) const {
    if (ns(a) > 0.0 && ns(b) > 0.0) {
      std::printf("%s / %s = %.2f\n", a.c_str(), b.c_str(), ns(a) / ns(b));
    }
  }

 private:
  double calls_per_iteration_;
  std::map<std::string, double> ns_per_call_;
};

// Reads the benchmark flags from the command line, runs every registered
// benchmark the filter selects through `reporter` and shuts the library down.
// False (after saying so) when the command line holds an argument the library
// does not know: nothing ran.
inline bool run_benchmarks(int* argc, char** argv, benchmark::BenchmarkReporter& reporter) {
  benchmark::Initialize(argc, argv);
  if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return true;
}

}  // namespace karvex::bench

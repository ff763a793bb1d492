// Tests of the worker pool: sizing from the environment, index-ordered results with exact write
// counts, concurrent callers, failures carried back to the caller, cancellation by the waiting
// caller, and a child process after fork.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pool/pool.hpp"

#if defined(__SANITIZE_THREAD__)
#define KARVEX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KARVEX_TSAN 1
#endif
#endif

#ifdef KARVEX_TSAN
// The fork tests start threads in a child of a multi-threaded process, which ThreadSanitizer
// refuses by default. Exported: the sanitizer runtime looks the hook up dynamically.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_options() {
  return "die_after_fork=0";
}
#endif

namespace {

using karvex::pool::EvaluationError;
using karvex::pool::Pool;
using karvex::pool::size_from_environment;

// A value that depends on every bit of i, with a cost that varies strongly with i (like implied
// volatility elements, some of which take several times longer than others).
double uneven(std::size_t i) {
  double x = static_cast<double>(i) * 0.001 + 1.0;
  const unsigned rounds = (i % 97 == 0) ? 400 : (i % 7 == 0 ? 40 : 1);
  for (unsigned k = 0; k < rounds; ++k) x = std::sqrt(x * 1.25 + static_cast<double>(k));
  return x + static_cast<double>(i);
}

// Runs `body` in a forked child and returns its exit status (128 + the signal that ended it). The
// child's alarm ends a hang, so a regression fails instead of hanging.
int run_in_child(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    alarm(60);
    int status = 99;
    try {
      status = body();
    } catch (...) {
      status = 98;
    }
    _exit(status);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// In a child: 0 when the process pool evaluates uneven over [0, n) correctly.
int evaluates_correctly(std::size_t n) {
  std::vector<double> out(n);
  if (karvex::pool::evaluate(n, uneven, out.data()) != n) return 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (out[i] != uneven(i)) return 2;
  }
  return 0;
}

// Evaluates uneven over [0, n) on `pool`: every slot right, each index evaluated exactly once, the
// write count n, and the slot after the range untouched.
void expect_index_ordered(Pool& pool, std::size_t n) {
  std::vector<double> out(n + 1, -1.0);
  std::vector<std::atomic<unsigned char>> calls(n);
  const auto counted = [&](std::size_t i) {
    calls[i].fetch_add(1, std::memory_order_relaxed);
    return uneven(i);
  };
  ASSERT_EQ(pool.evaluate(n, counted, out.data()), n);
  for (std::size_t i = 0; i < n; ++i) {
    ASSERT_EQ(calls[i].load(), 1u) << "index " << i << " of " << n;
    ASSERT_EQ(out[i], uneven(i)) << "index " << i << " of " << n;
  }
  EXPECT_EQ(out[n], -1.0);
}

TEST(PoolSize, FirstVariableWhenItParsesThenAPositiveSecondThenTheProcessorCount) {
  struct Case {
    const char *first, *second;
    std::size_t online, expected;
  };
  // clang-format off
  const Case cases[] = {
      {nullptr, nullptr, 6, 6}, {"1", nullptr, 6, 1}, {"3", nullptr, 6, 3}, {"+3", nullptr, 6, 3},
      {"007", nullptr, 6, 7}, {"0", nullptr, 6, 6}, {"+0", nullptr, 6, 6},
      {"18446744073709551615", nullptr, 6, 18446744073709551615u},
      // 0 selects the default even when the second is set; a positive first wins.
      {"0", "4", 6, 6}, {"0", "abc", 6, 6}, {"2", "4", 6, 2}, {"+3", "4", 6, 3},
      {nullptr, "1", 6, 1}, {nullptr, "+3", 6, 3},
      // No online processors: one worker.
      {nullptr, nullptr, 0, 1}, {"0", "0", 0, 1}, {"5", nullptr, 0, 5}};
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(size_from_environment(c.first, c.second, c.online).workers, c.expected)
        << (c.first ? c.first : "(unset)") << " / " << (c.second ? c.second : "(unset)");
  }
  for (const char* first : {"", "abc", "-2", "+", "++3", "-0", " 3", "3 ", "3x", "0x10", "1e3",
                            "3.0", "18446744073709551616", "99999999999999999999"}) {
    EXPECT_EQ(size_from_environment(first, nullptr, 6).workers, 6u) << '"' << first << '"';
    EXPECT_EQ(size_from_environment(first, "4", 6).workers, 4u) << '"' << first << '"';
    EXPECT_EQ(size_from_environment(first, "+5", 6).workers, 5u) << '"' << first << '"';
    EXPECT_EQ(size_from_environment(first, "0", 6).workers, 6u) << '"' << first << '"';
  }
  for (const char* second : {"0", "", "abc", "-2", "+", "18446744073709551616"}) {
    EXPECT_EQ(size_from_environment(nullptr, second, 6).workers, 6u) << '"' << second << '"';
    EXPECT_EQ(size_from_environment("abc", second, 6).workers, 6u) << '"' << second << '"';
  }
}

TEST(PoolSize, TheDecidingVariableIsNamedAndOnlyTheProcessorCountIsCapped) {
  using karvex::pool::kMaxWorkers;
  EXPECT_STREQ(size_from_environment("3", "4", 6).variable, "RAYON_NUM_THREADS");
  EXPECT_STREQ(size_from_environment("x", "4", 6).variable, "RAYON_RS_NUM_CPUS");
  EXPECT_EQ(size_from_environment("0", "4", 6).variable, nullptr);
  EXPECT_EQ(size_from_environment(nullptr, nullptr, kMaxWorkers * 4).workers, kMaxWorkers);
  EXPECT_EQ(size_from_environment(nullptr, "100000000", 6).workers, 100000000u);
}

TEST(PoolSize, ASizeAboveTheMaximumFailsAtOnceNamingTheVariableAndValue) {
  EXPECT_THROW(Pool(karvex::pool::kMaxWorkers + 1), karvex::pool::StartError);
  // Memory is capped in the child: a pool that allocated per worker first would fail otherwise.
  const auto message_with = [](const char* variable, const char* value) {
    return run_in_child([=] {
      rlimit tight{};
      getrlimit(RLIMIT_AS, &tight);
#if !defined(__SANITIZE_ADDRESS__) && !defined(KARVEX_TSAN)
      tight.rlim_cur = 4ull << 30;
      setrlimit(RLIMIT_AS, &tight);
#endif
      unsetenv("RAYON_NUM_THREADS");
      setenv(variable, value, 1);
      const std::string expected = std::string(variable) + "=" + value +
                                   ": more worker threads than a pool has (at most 1024)";
      for (int attempt = 0; attempt < 2; ++attempt) {
        try {
          karvex::pool::thread_count();
          return 1;
        } catch (const karvex::pool::StartError& e) {
          if (e.what() != expected) return 2;
        }
      }
      return 0;
    });
  };
  EXPECT_EQ(message_with("RAYON_NUM_THREADS", "100000000"), 0);
  EXPECT_EQ(message_with("RAYON_NUM_THREADS", "18446744073709551615"), 0);
  EXPECT_EQ(message_with("RAYON_RS_NUM_CPUS", "+1025"), 0);
}

TEST(PoolSize, ProcessPoolReadsTheEnvironmentOnceWhenCreated) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const int fallback = online > 0 ? static_cast<int>(online) : 1;
  // The parent's pool runs, so each child renews it after the fork, reading its own environment.
  ASSERT_GE(karvex::pool::thread_count(), 1u);
  const auto size_with = [](const char* num_threads, const char* rs_num_cpus) {
    return run_in_child([=] {
      num_threads ? setenv("RAYON_NUM_THREADS", num_threads, 1) : unsetenv("RAYON_NUM_THREADS");
      rs_num_cpus ? setenv("RAYON_RS_NUM_CPUS", rs_num_cpus, 1) : unsetenv("RAYON_RS_NUM_CPUS");
      const std::size_t p = karvex::pool::thread_count();
      setenv("RAYON_NUM_THREADS", "9", 1);  // later changes have no effect
      return karvex::pool::thread_count() == p ? static_cast<int>(p) : 100;
    });
  };
  EXPECT_EQ(size_with("3", nullptr), 3);
  EXPECT_EQ(size_with("0", "5"), fallback);
  EXPECT_EQ(size_with("-2", "5"), 5);
  EXPECT_EQ(size_with("abc", nullptr), fallback);
}

TEST(PoolEvaluate, ResultsInIndexOrderWithExactWriteCountForEveryPoolSize) {
  for (std::size_t n : {0u, 1u, 2u, 3u, 5u, 64u, 1000u, 1023u, 1024u, 4097u, 65536u, 300001u}) {
    expect_index_ordered(karvex::pool::process_pool(), n);
  }
  // Size 1 (budget 0 from the start), 3 (odd) and more workers than processors.
  for (std::size_t workers : {1u, 3u, 8u}) {
    Pool pool(workers);
    ASSERT_EQ(pool.size(), workers);
    for (std::size_t n : {1u, 7u, 1024u, 20000u}) expect_index_ordered(pool, n);
  }
  EXPECT_EQ(Pool(0).size(), 1u);
}

TEST(PoolEvaluate, RecordSlotsOfFiveDoubles) {
  const auto record_at = [](std::size_t i) {
    const double x = uneven(i);
    return std::array<double, 5>{x, -x, x * 0.5, static_cast<double>(i), 1.0 / (x + 1.0)};
  };
  std::vector<std::array<double, 5>> out(10000);
  ASSERT_EQ(karvex::pool::evaluate(out.size(), record_at, out.data()), out.size());
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], record_at(i)) << "index " << i;
}

TEST(PoolEvaluate, SeveralCallerThreadsShareTheWorkers) {
  std::vector<std::thread> callers;
  std::atomic<int> mismatches{0};
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([c, &mismatches] {
      for (int round = 0; round < 8; ++round) {
        const std::size_t n = 1000 + static_cast<std::size_t>(c * 3001 + round * 977);
        std::vector<double> out(n, -1.0);
        const auto fn = [c](std::size_t i) { return uneven(i) + c * 1e6; };
        if (karvex::pool::evaluate(n, fn, out.data()) != n) mismatches.fetch_add(1);
        for (std::size_t i = 0; i < n; ++i) {
          if (out[i] != fn(i)) {
            mismatches.fetch_add(1);
            break;
          }
        }
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(PoolEvaluate, NestedEvaluationOnAWorkerCompletes) {
  // One worker: an evaluation started inside a per-index function must not wait for itself.
  Pool pool(1);
  const std::size_t n = 64, inner = 100;
  std::vector<double> out(n);
  const auto outer = [&](std::size_t i) {
    std::vector<double> part(inner);
    if (pool.evaluate(inner, uneven, part.data()) != inner) return -1.0;
    return part[i] + part[inner - 1 - i];
  };
  ASSERT_EQ(pool.evaluate(n, outer, out.data()), n);
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], uneven(i) + uneven(inner - 1 - i));
}

TEST(PoolFailure, ThrowingIndexFunctionReachesTheCallerAndThePoolStaysUsable) {
  std::vector<double> out(100000);
  const auto fails_at_777 = [](std::size_t i) {
    if (i == 777) throw std::runtime_error("index 777 failed");
    return uneven(i);
  };
  try {
    karvex::pool::evaluate(out.size(), fails_at_777, out.data());
    FAIL() << "no EvaluationError";
  } catch (const EvaluationError& e) {
    EXPECT_STREQ(e.what(), "index 777 failed");
  }
  // Every element failing with a non-standard exception: still one error, no crash.
  const auto always_fails = [](std::size_t) -> double { throw 42; };
  EXPECT_THROW(karvex::pool::evaluate(out.size(), always_fails, out.data()), EvaluationError);
  const auto fails_last = [](std::size_t i) {
    if (i == 4999) throw std::runtime_error("last index failed");
    return uneven(i);
  };
  for (int round = 0; round < 3; ++round) {
    EXPECT_THROW(karvex::pool::evaluate(5000, fails_last, out.data()), EvaluationError);
    expect_index_ordered(karvex::pool::process_pool(), 20000);
  }
}

// A slow range function over [0, n) (about 1 us per index) that records which indices ran and
// how many pieces are running at any moment.
struct SlowRanges {
  std::vector<std::atomic<unsigned char>> ran;
  std::atomic<int> running{0};

  explicit SlowRanges(std::size_t n) : ran(n) {}

  static std::size_t run(const void* context, std::size_t begin, std::size_t end) {
    auto& self = *static_cast<SlowRanges*>(const_cast<void*>(context));
    self.running.fetch_add(1);
    for (std::size_t i = begin; i < end; ++i) {
      volatile double x = 1.0;
      for (int k = 0; k < 300; ++k) x = x * 1.0000001 + 1e-9;
      self.ran[i].store(1, std::memory_order_relaxed);
    }
    self.running.fetch_sub(1);
    return end - begin;
  }

  std::size_t count_ran() const {
    std::size_t c = 0;
    for (const auto& r : ran) c += r.load();
    return c;
  }
};

TEST(PoolCancellation, ACheckThatSaysYesStopsTheEvaluationAfterThePiecesInFlight) {
  Pool pool(2);
  const std::size_t n = 20'000'000;  // tens of seconds of work
  SlowRanges work(n);
  int asked = 0;
  const auto yes = [](void* c) { return ++*static_cast<int*>(c) >= 2; };
  const karvex::pool::CancellationCheck check{yes, &asked};
  EXPECT_THROW(pool.evaluate_ranges(n, &SlowRanges::run, &work, &check), karvex::pool::Cancelled);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(work.running.load(), 0);  // nothing runs once the caller has its answer
  const std::size_t ran = work.count_ran();
  EXPECT_GT(ran, 0u);
  EXPECT_LT(ran, n / 2);
  expect_index_ordered(pool, 20000);  // the pool goes on
}

TEST(PoolCancellation, AThrowingCheckPassesItsExceptionOnAfterThePiecesInFlight) {
  Pool pool(2);
  const std::size_t n = 20'000'000;
  SlowRanges work(n);
  const auto throws = [](void*) -> bool { throw std::runtime_error("check failed"); };
  const karvex::pool::CancellationCheck check{throws, nullptr};
  try {
    pool.evaluate_ranges(n, &SlowRanges::run, &work, &check);
    FAIL() << "the check's exception did not pass";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "check failed");
    EXPECT_EQ(work.running.load(), 0);
  }
  EXPECT_LT(work.count_ran(), n / 2);
  expect_index_ordered(pool, 20000);
}

TEST(PoolCancellation, ACheckThatSaysNoIsAskedWhileTheEvaluationRunsAndChangesNothing) {
  Pool pool(3);
  int asked = 0;
  const auto no = [](void* c) {
    ++*static_cast<int*>(c);
    return false;
  };
  const karvex::pool::CancellationCheck check{no, &asked};
  const std::size_t n = 2'000'000;  // half a second of work or more
  SlowRanges slow(n);
  EXPECT_EQ(pool.evaluate_ranges(n, &SlowRanges::run, &slow, &check), n);
  EXPECT_EQ(slow.count_ran(), n);
  EXPECT_GT(asked, 0);
}

TEST(PoolFailure, WorkersThatCannotStartFailTheEvaluationAndCreationIsRetried) {
  EXPECT_THROW(Pool(static_cast<std::size_t>(-1)), EvaluationError);
#if defined(__SANITIZE_ADDRESS__) || defined(KARVEX_TSAN)
  GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#else
  const int status = run_in_child([] {
    // Room for a few 2 MiB worker stacks, not for 200.
    std::size_t vm_kib = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, f)) std::sscanf(line, "VmSize: %zu kB", &vm_kib);
      std::fclose(f);
    }
    if (vm_kib == 0) return 10;
    rlimit saved{};
    getrlimit(RLIMIT_AS, &saved);
    rlimit tight = saved;
    tight.rlim_cur = (vm_kib + 32 * 1024) * 1024;
    if (setrlimit(RLIMIT_AS, &tight) != 0) return 11;
    setenv("RAYON_NUM_THREADS", "200", 1);
    try {
      Pool pool(200);
      return 1;
    } catch (const EvaluationError&) {
    }
    double slot[2];
    try {
      karvex::pool::evaluate(2, uneven, slot);
      return 2;
    } catch (const EvaluationError&) {
    }
    // With room again, the next evaluation creates the pool.
    setrlimit(RLIMIT_AS, &saved);
    if (karvex::pool::evaluate(2, uneven, slot) != 2 || slot[1] != uneven(1)) return 3;
    return karvex::pool::thread_count() == 200 ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
#endif
}

TEST(PoolFork, ChildOfAStartedPoolEvaluatesInParallelAndTheParentsPoolIsUntouched) {
  expect_index_ordered(karvex::pool::process_pool(), 50000);
  EXPECT_EQ(run_in_child([] { return evaluates_correctly(200000); }), 0)
      << "128 + 14 means the child hung until its alarm";
  expect_index_ordered(karvex::pool::process_pool(), 50000);
}

TEST(PoolFork, ForkWhileAnotherThreadEvaluates) {
#if defined(__SANITIZE_ADDRESS__) || defined(KARVEX_TSAN)
  // The sanitizers' own allocators are not made safe across fork: a worker allocating at that
  // moment leaves the runtime's lock held in the child, which then hangs in its first allocation.
  GTEST_SKIP() << "the sanitizer runtime's allocator may be locked in a child forked under load";
#endif
  // The workers are busy (their queue and sleep mutexes may be held) at the moment of fork.
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::thread busy([&] {
    while (!stop.load()) mismatches.fetch_add(evaluates_correctly(30000));
  });
  for (int round = 0; round < 5; ++round) {
    EXPECT_EQ(run_in_child([] { return evaluates_correctly(40000); }), 0) << "round " << round;
  }
  stop.store(true);
  busy.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(PoolFork, GrandchildStartsItsOwnPoolToo) {
  EXPECT_EQ(run_in_child([] {
              const int own = evaluates_correctly(20000);
              return own != 0 ? own : run_in_child([] { return evaluates_correctly(20000); });
            }),
            0);
}

}  // namespace

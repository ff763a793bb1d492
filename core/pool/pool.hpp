// The worker pool on which the vectorised functions evaluate large inputs.
//
// One process-wide pool of P worker threads (POSIX threads with 2 MiB stacks, no names), created on
// the first evaluation and never shut down. P is read once, at creation, from RAYON_NUM_THREADS,
// then RAYON_RS_NUM_CPUS, then the number of online processors; it is at most kMaxWorkers. A larger
// value in the environment fails the creation at once, before anything is allocated for it. Each
// worker keeps a double-ended queue of pending pieces (its own newest first, thieves take the
// oldest); callers hand their requests in through a shared injection queue; idle workers sleep
// until work arrives.
//
// An evaluation divides [0, n) adaptively: the split budget starts at P and halves on each split,
// a stolen piece renews it to at least P, and pieces go down to one element. Slot i of the result
// buffer receives the value for index i; the write counts of adjacent pieces add up to the total
// that evaluate() returns. The caller blocks on a latch of its own until the whole range is done.
//
// A child process forked after the pool started inherits the pool's memory but none of its
// threads; the child leaves that pool behind and starts a fresh one (reading the environment
// again) on its first evaluation.
//
// A piece runs in blocks of at most kBlock indices. Once an evaluation is stopped (an index
// function threw, or the caller cancelled it) no further block of it starts: the blocks in flight
// finish, the rest is skipped, and the caller's latch opens when no piece is left.
//
// A waiting caller may pass a cancellation check, which it asks about every kPollInterval while
// the evaluation runs; the evaluation is then cancelled as soon as the check says so (or throws).
//
// This unit knows neither Python nor options: the per-index function is any callable.
#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>

// The pool is one shared library per process (libkarvex_pool), which every extension module
// links: its interface is the library's exported surface, everything else stays hidden.
#define KARVEX_POOL_API __attribute__((visibility("default")))

namespace karvex::pool {

// Thrown by evaluate() when a per-index function threw inside a worker, and by the first evaluation
// when the worker threads cannot be started. The pool stays usable after a failed evaluation.
class KARVEX_POOL_API EvaluationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~EvaluationError() override;  // defined in pool.cpp: its type information lives there only
};

// Thrown by process_pool() when the pool cannot be created with the size the environment asks
// for: too many workers, or threads the system does not start. The message names the variable and
// its value (when one decided the size). The next call tries again.
class KARVEX_POOL_API StartError : public EvaluationError {
 public:
  using EvaluationError::EvaluationError;
  ~StartError() override;
};

// The most worker threads a pool has: far beyond any useful size (one per hardware thread), low
// enough that a mistyped size fails at once instead of exhausting memory on per-worker resources.
inline constexpr std::size_t kMaxWorkers = 1024;

// Thrown by evaluate_ranges() when its cancellation check asked to stop.
class KARVEX_POOL_API Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("the evaluation was cancelled") {}
  ~Cancelled() override;
};

// Indices per block of a piece: between two blocks a piece checks whether its evaluation stopped.
inline constexpr std::size_t kBlock = 4096;
// How often a waiting caller asks its cancellation check.
inline constexpr std::chrono::milliseconds kPollInterval{100};

// Asked on the waiting caller's thread, about every kPollInterval while its evaluation runs (never
// for an evaluation that finishes sooner): `requested(context)` returns true to cancel it. It may
// also throw; the evaluation is then cancelled too and the exception passes on to the caller once
// the pieces in flight have finished.
struct CancellationCheck {
  bool (*requested)(void* context);
  void* context;
};

// The pool size the environment asks for, and the variable that decided it.
struct RequestedSize {
  std::size_t workers;
  const char* variable;  // "RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", or nullptr: the default
};

// Pool size from the two environment values (nullptr = unset) and the online processor count:
// a value parses when it is an optional "+" followed by one or more decimal digits and nothing
// else, without overflowing 64 bits. A positive RAYON_NUM_THREADS is the size; 0 selects the
// default at once; anything unparsable goes on to RAYON_RS_NUM_CPUS, whose positive value is the
// size. Otherwise the default: the online processor count (at most kMaxWorkers), or 1 when that
// is 0. A size from a variable is returned as it is, even above kMaxWorkers. Pure; for tests.
KARVEX_POOL_API RequestedSize size_from_environment(const char* rayon_num_threads,
                                                    const char* rayon_rs_num_cpus,
                                                    std::size_t online_processors) noexcept;

// Evaluates the piece [begin, end) into the buffer that `context` describes and returns the number
// of slots written. May throw; the pool carries the failure back to the caller.
using RangeFunction = std::size_t (*)(const void* context, std::size_t begin, std::size_t end);

// A pool of worker threads. The process-wide pool is one of these (process_pool()); separate
// instances exist for benchmarks and tests (e.g. one worker against P in the same run). An
// instance's destructor stops and joins its workers; no evaluation may be in flight then, and an
// instance other than the process-wide pool must not be used in a child after fork().
class KARVEX_POOL_API Pool {
 public:
  // Starts `workers` threads (at least 1). Throws StartError if they cannot be started or are
  // more than kMaxWorkers (then before allocating anything).
  explicit Pool(std::size_t workers);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Number of worker threads P.
  std::size_t size() const noexcept;

  // Evaluates fn(context, ...) over [0, n) split into pieces and blocks until all are done;
  // returns the summed write counts. From a thread that is not one of this pool's workers the
  // request goes through the injection queue and the caller waits on its latch; from one of its
  // own workers (a nested evaluation) the range is divided on that worker, which never blocks.
  // Throws EvaluationError if fn threw. With a `cancel` check (asked only by a caller that waits,
  // not in a nested evaluation), throws Cancelled when the check asked to stop; whatever the
  // check throws passes on. Either way only after every piece of the evaluation has finished.
  std::size_t evaluate_ranges(std::size_t n, RangeFunction fn, const void* context,
                              const CancellationCheck* cancel = nullptr);

  // Evaluates out[i] = fn(i) for every i in [0, n); returns the number of slots written.
  template <class Slot, class Fn>
  std::size_t evaluate(std::size_t n, const Fn& fn, Slot* out);

  struct State;

 private:
  State* state_;
};

// The process-wide pool, created on first use (throws StartError if it cannot be created with the
// size the environment asks for; the next call tries again).
KARVEX_POOL_API Pool& process_pool();

// Number of workers P of the process-wide pool (creates the pool if needed).
KARVEX_POOL_API std::size_t thread_count();

// Evaluates out[i] = fn(i) for every i in [0, n) on the process-wide pool and blocks the calling
// (non-worker) thread until all are done; returns the number of slots written (the caller checks
// it against n). Slot is e.g. double or a record of five doubles. fn must be callable concurrently.
template <class Slot, class Fn>
std::size_t evaluate(std::size_t n, const Fn& fn, Slot* out) {
  return process_pool().evaluate(n, fn, out);
}

template <class Slot, class Fn>
std::size_t Pool::evaluate(std::size_t n, const Fn& fn, Slot* out) {
  struct Target {
    const Fn& fn;
    Slot* out;
  };
  const Target target{fn, out};
  // The leaf loop: the per-index call is inlined here, so a piece costs one indirect call.
  const RangeFunction leaf = [](const void* context, std::size_t begin,
                                std::size_t end) -> std::size_t {
    const Target& t = *static_cast<const Target*>(context);
    for (std::size_t i = begin; i < end; ++i) t.out[i] = t.fn(i);
    return end - begin;
  };
  return evaluate_ranges(n, leaf, &target);
}

}  // namespace karvex::pool

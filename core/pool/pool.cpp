// The worker pool: queues, stealing, sleeping, the division of one evaluation, the process-wide
// instance and its renewal in a forked child.
//
// Pieces are stack objects of the worker that split them off (a join keeps its right half on its
// own stack while it works on the left half), so the queues hold pointers and dividing a range
// allocates nothing beyond the queues' own storage. Every queue is a mutex-guarded deque with an
// atomic length that lets an idle worker skip empty queues without taking their mutex.
//
// Sleeping: a worker that found nothing for a while records the work epoch it saw, takes the sleep
// mutex, counts itself as a sleeper and sleeps only if the epoch is unchanged. Whoever makes work
// available (or completes a piece another worker waits for) first advances the epoch, then wakes a
// sleeper if the count says there is one. Both sides use sequentially consistent operations, so
// either the sleeper sees the new epoch or the waker sees the sleeper: no wake-up is lost.
#include "pool/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace karvex::pool {
namespace {

// Stack of every worker thread: 2 MiB.
constexpr std::size_t kWorkerStackBytes = 2 * 1024 * 1024;
// Rounds of looking for work (with a yield between them) before an idle worker sleeps; keeps
// back-to-back evaluations from paying a wake-up each.
constexpr unsigned kSpinRounds = 64;
// Owner of the caller's job, which no worker split off.
constexpr std::size_t kNoOwner = static_cast<std::size_t>(-1);

// Parses an optional "+" and then one or more decimal digits and nothing else into a 64-bit
// unsigned value; false for anything else, including a value above 2^64 - 1.
bool parse_count(const char* text, std::uint64_t& value) noexcept {
  if (text == nullptr) return false;
  if (*text == '+') ++text;
  if (*text == '\0') return false;
  std::uint64_t v = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(*text - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

// One caller's evaluation: the range function, the first failure, and the caller's latch.
struct Request {
  Request(RangeFunction f, const void* c) : fn(f), context(c) {}

  RangeFunction fn;
  const void* context;
  std::atomic<bool> stopped{false};  // failed or cancelled: no further block starts
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  std::mutex latch_mutex;
  std::condition_variable latch_cv;
  bool done = false;
  std::size_t count = 0;

  void record_failure(std::exception_ptr e) noexcept {
    std::lock_guard<std::mutex> guard(failure_mutex);
    if (!failure) failure = std::move(e);
    failed.store(true, std::memory_order_relaxed);
    stopped.store(true, std::memory_order_relaxed);
  }

  // Opens the latch. Notifies while holding the mutex: the caller may destroy the request as soon
  // as it sees `done`, and it cannot see it before this thread lets go of the mutex.
  void complete(std::size_t total) noexcept {
    std::lock_guard<std::mutex> guard(latch_mutex);
    count = total;
    done = true;
    latch_cv.notify_one();
  }

  std::size_t wait() {
    std::unique_lock<std::mutex> lock(latch_mutex);
    latch_cv.wait(lock, [this] { return done; });
    return count;
  }

  // Waits like wait(), asking `cancel` every kPollInterval; on its first yes (or exception) stops
  // the evaluation and waits for the pieces in flight, then throws Cancelled (or rethrows). The
  // request must outlive every piece: it is the caller's stack object.
  std::size_t wait(const CancellationCheck& cancel) {
    std::unique_lock<std::mutex> lock(latch_mutex);
    while (!latch_cv.wait_for(lock, kPollInterval, [this] { return done; })) {
      lock.unlock();
      bool requested;
      try {
        requested = cancel.requested(cancel.context);
      } catch (...) {  // also the forced unwinding that ends a thread (rethrown)
        stopped.store(true, std::memory_order_relaxed);
        wait();
        throw;
      }
      if (requested) {
        stopped.store(true, std::memory_order_relaxed);
        wait();
        throw Cancelled();
      }
      lock.lock();
    }
    return count;
  }

  void throw_if_failed() {
    if (!failed.load(std::memory_order_acquire)) return;
    std::exception_ptr e;
    {
      std::lock_guard<std::mutex> guard(failure_mutex);
      e = failure;
    }
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      throw EvaluationError(x.what());
    } catch (...) {
      throw EvaluationError("a per-index function threw a non-standard exception");
    }
  }
};

// A pending piece [begin, end) with its split budget, or the caller's whole job (`root`).
struct Task {
  Request* request;
  std::size_t begin;
  std::size_t end;
  std::size_t budget;
  std::size_t owner;   // worker that split it off (kNoOwner for the caller's job)
  bool halves_stolen;  // a half of the caller's job: counts as stolen wherever it runs
  bool root;
  std::size_t count = 0;          // written by whoever ran it, before `done`
  std::atomic<bool> done{false};  // set once `count` is final; the owner may then free the task
};

// A mutex-guarded double-ended queue of task pointers with a lock-free length hint.
class TaskQueue {
 public:
  void push_back(Task* t) {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks_.push_back(t);
    length_.store(tasks_.size(), std::memory_order_relaxed);
  }
  Task* pop_back() { return take(false); }
  Task* pop_front() { return take(true); }
  // Takes `t` back if it is still the newest entry.
  bool pop_back_if(const Task* t) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (tasks_.empty() || tasks_.back() != t) return false;
    tasks_.pop_back();
    length_.store(tasks_.size(), std::memory_order_relaxed);
    return true;
  }

 private:
  Task* take(bool oldest) {
    if (length_.load(std::memory_order_relaxed) == 0) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    if (tasks_.empty()) return nullptr;
    Task* t;
    if (oldest) {
      t = tasks_.front();
      tasks_.pop_front();
    } else {
      t = tasks_.back();
      tasks_.pop_back();
    }
    length_.store(tasks_.size(), std::memory_order_relaxed);
    return t;
  }

  std::mutex mutex_;
  std::deque<Task*> tasks_;
  std::atomic<std::size_t> length_{0};
};

struct alignas(64) Worker {
  Pool::State* pool = nullptr;
  std::size_t index = 0;
  pthread_t thread{};
  TaskQueue queue;  // own pieces: newest taken by the owner, oldest by thieves
  // Guarded by the pool's sleep mutex.
  std::condition_variable wake;
  bool asleep = false;
  bool woken = false;
};

thread_local Worker* current_worker = nullptr;

}  // namespace

struct Pool::State {
  std::size_t size = 1;
  std::vector<std::unique_ptr<Worker>> workers;
  TaskQueue injected;  // callers' jobs
  std::mutex sleep_mutex;
  std::atomic<std::uint64_t> epoch{0};
  std::atomic<std::size_t> sleepers{0};
  std::atomic<bool> stopping{false};

  // --- waking and sleeping ------------------------------------------------------------------

  // Wakes `w`, which is asleep; the sleep mutex is held.
  void wake(Worker& w) {
    w.asleep = false;
    w.woken = true;
    sleepers.fetch_sub(1, std::memory_order_seq_cst);
    w.wake.notify_one();
  }

  // New work is queued: wake one sleeper, if any, to look for it.
  void announce_work() {
    epoch.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers.load(std::memory_order_seq_cst) == 0) return;
    std::lock_guard<std::mutex> guard(sleep_mutex);
    for (auto& w : workers) {
      if (w->asleep) {
        wake(*w);
        return;
      }
    }
  }

  // A piece split off by worker `owner` is done: wake the owner if it sleeps waiting for it.
  void announce_done(std::size_t owner) {
    epoch.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers.load(std::memory_order_seq_cst) == 0) return;
    std::lock_guard<std::mutex> guard(sleep_mutex);
    if (workers[owner]->asleep) wake(*workers[owner]);
  }

  void stop() {
    stopping.store(true, std::memory_order_seq_cst);
    std::lock_guard<std::mutex> guard(sleep_mutex);
    for (auto& w : workers) {
      if (w->asleep) wake(*w);
    }
  }

  // Sleeps unless the epoch moved past `seen`, the latch opened or the pool stops.
  void sleep(Worker& w, std::uint64_t seen, const std::atomic<bool>* latch) {
    std::unique_lock<std::mutex> lock(sleep_mutex);
    sleepers.fetch_add(1, std::memory_order_seq_cst);
    if (epoch.load(std::memory_order_seq_cst) != seen ||
        (latch != nullptr && latch->load(std::memory_order_seq_cst)) ||
        stopping.load(std::memory_order_seq_cst)) {
      sleepers.fetch_sub(1, std::memory_order_seq_cst);
      return;
    }
    w.asleep = true;
    while (!w.woken) w.wake.wait(lock);
    w.woken = false;
  }

  // --- finding and running work -------------------------------------------------------------

  Task* find_work(Worker& w) {
    if (Task* t = w.queue.pop_back()) return t;
    for (std::size_t k = 1; k < size; ++k) {
      if (Task* t = workers[(w.index + k) % size]->queue.pop_front()) return t;
    }
    return injected.pop_front();
  }

  // Runs pieces (own, stolen or injected) until the latch opens, or with no latch (a worker's
  // main loop) until the pool stops.
  void work_until(Worker& w, const std::atomic<bool>* latch) {
    unsigned idle_rounds = 0;
    for (;;) {
      if (latch != nullptr ? latch->load(std::memory_order_acquire)
                           : stopping.load(std::memory_order_acquire)) {
        return;
      }
      const std::uint64_t seen = epoch.load(std::memory_order_seq_cst);
      if (Task* t = find_work(w)) {
        execute(w, *t);
        idle_rounds = 0;
      } else if (++idle_rounds < kSpinRounds) {
        sched_yield();
      } else {
        sleep(w, seen, latch);
        idle_rounds = 0;
      }
    }
  }

  void execute(Worker& w, Task& t) {
    Request& request = *t.request;
    if (t.root) {
      // The caller's job: the caller already halved its budget P; both halves count as stolen.
      const std::size_t n = t.end;
      request.complete(n / 2 < 1 ? leaf(request, 0, n)
                                 : join(w, request, 0, n / 2, n, size / 2, true));
      return;
    }
    const bool stolen = t.halves_stolen || t.owner != w.index;
    const std::size_t owner = t.owner;
    t.count = divide(w, request, t.begin, t.end, t.budget, stolen);
    t.done.store(true, std::memory_order_seq_cst);  // `t` may be gone after this
    announce_done(owner);
  }

  // --- dividing a range ---------------------------------------------------------------------

  // Evaluates [a, b) in ascending index order on this thread, block by block until the request
  // stops.
  static std::size_t leaf(Request& request, std::size_t a, std::size_t b) noexcept {
    std::size_t written = 0;
    try {
      while (a < b && !request.stopped.load(std::memory_order_relaxed)) {
        const std::size_t end = b - a > kBlock ? a + kBlock : b;
        written += request.fn(request.context, a, end);
        a = end;
      }
    } catch (...) {
      request.record_failure(std::current_exception());
    }
    return written;
  }

  // The adaptive rule: a stolen piece renews its budget to at least P, an unstolen one halves it
  // and runs sequentially once it is 0; a piece of one element always runs sequentially.
  std::size_t divide(Worker& w, Request& request, std::size_t a, std::size_t b, std::size_t budget,
                     bool stolen) {
    const std::size_t m = b - a;
    if (m / 2 < 1) return leaf(request, a, b);
    if (stolen) {
      budget = std::max(size, budget / 2);
    } else if (budget == 0) {
      return leaf(request, a, b);
    } else {
      budget /= 2;
    }
    return join(w, request, a, a + m / 2, b, budget, false);
  }

  // Splits at `mid`: the right half becomes stealable, the left half is divided here, then the
  // right half is taken back if still queued or waited for (running other pieces meanwhile).
  // Returns the sum of both halves' write counts.
  std::size_t join(Worker& w, Request& request, std::size_t a, std::size_t mid, std::size_t b,
                   std::size_t budget, bool halves_stolen) {
    Task right{&request, mid, b, budget, w.index, halves_stolen, false};
    w.queue.push_back(&right);
    announce_work();
    const std::size_t left = divide(w, request, a, mid, budget, halves_stolen);
    if (w.queue.pop_back_if(&right)) {
      return left + divide(w, request, mid, b, budget, halves_stolen);
    }
    work_until(w, &right.done);
    return left + right.count;
  }
};

namespace {

void* worker_main(void* arg) {
  Worker& w = *static_cast<Worker*>(arg);
  current_worker = &w;
  w.pool->work_until(w, nullptr);
  return nullptr;
}

}  // namespace

EvaluationError::~EvaluationError() = default;
StartError::~StartError() = default;
Cancelled::~Cancelled() = default;

RequestedSize size_from_environment(const char* rayon_num_threads, const char* rayon_rs_num_cpus,
                                    std::size_t online_processors) noexcept {
  std::uint64_t value = 0;
  if (parse_count(rayon_num_threads, value)) {
    if (value > 0) return {static_cast<std::size_t>(value), "RAYON_NUM_THREADS"};
  } else if (parse_count(rayon_rs_num_cpus, value) && value > 0) {
    return {static_cast<std::size_t>(value), "RAYON_RS_NUM_CPUS"};
  }
  return {std::clamp<std::size_t>(online_processors, 1, kMaxWorkers), nullptr};
}

Pool::Pool(std::size_t workers) {
  if (workers > kMaxWorkers) {
    throw StartError("more worker threads than a pool has (at most " + std::to_string(kMaxWorkers) +
                     ")");
  }
  std::unique_ptr<State> state;
  try {
    state = std::make_unique<State>();
    state->size = std::max<std::size_t>(workers, 1);
    state->workers.reserve(state->size);
    for (std::size_t i = 0; i < state->size; ++i) {
      auto w = std::make_unique<Worker>();
      w->pool = state.get();
      w->index = i;
      state->workers.push_back(std::move(w));
    }
  } catch (const std::bad_alloc&) {
    throw StartError("failed to start the worker threads: out of memory");
  }

  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc == 0) rc = pthread_attr_setstacksize(&attr, kWorkerStackBytes);
  std::size_t started = 0;
  for (; rc == 0 && started < state->size; ++started) {
    Worker& w = *state->workers[started];
    rc = pthread_create(&w.thread, &attr, worker_main, &w);
    if (rc != 0) break;
  }
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    state->stop();
    for (std::size_t i = 0; i < started; ++i) pthread_join(state->workers[i]->thread, nullptr);
    throw StartError("failed to start the worker threads: " + std::string(std::strerror(rc)));
  }
  state_ = state.release();
}

Pool::~Pool() {
  state_->stop();
  for (auto& w : state_->workers) pthread_join(w->thread, nullptr);
  delete state_;
}

std::size_t Pool::size() const noexcept {
  return state_->size;
}

std::size_t Pool::evaluate_ranges(std::size_t n, RangeFunction fn, const void* context,
                                  const CancellationCheck* cancel) {
  if (n == 0) return 0;
  Request request(fn, context);
  std::size_t count;
  Worker* self = current_worker;
  if (self != nullptr && self->pool == state_) {
    // A nested evaluation on one of our own workers: divide here; blocking would risk deadlock.
    count = n / 2 < 1 ? State::leaf(request, 0, n)
                      : state_->divide(*self, request, 0, n, state_->size, false);
  } else {
    // The caller's split of [0, n) with budget P happens when a worker takes the job.
    Task root{&request, 0, n, 0, kNoOwner, false, true};
    state_->injected.push_back(&root);
    state_->announce_work();
    count = cancel != nullptr ? request.wait(*cancel) : request.wait();
  }
  request.throw_if_failed();
  return count;
}

// --- the process-wide pool ------------------------------------------------------------------

namespace {

// Serialises creation of the process-wide pool; also held across fork() so the child sees the
// pool either fully created or not at all.
pthread_mutex_t creation_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Pool*> process_pool_instance{nullptr};
bool fork_handlers_installed = false;

// Every process-wide pool this process (or a parent before fork) created. A child cannot use or
// destroy its parent's pool (the threads are gone and its mutexes may be held), so it leaves it
// here, still reachable, and starts another.
struct CreatedPool {
  Pool* pool;
  CreatedPool* previous;
};
CreatedPool* created_pools = nullptr;

struct CreationLock {
  CreationLock() { pthread_mutex_lock(&creation_mutex); }
  ~CreationLock() { pthread_mutex_unlock(&creation_mutex); }
  CreationLock(const CreationLock&) = delete;
  CreationLock& operator=(const CreationLock&) = delete;
};

void before_fork() {
  pthread_mutex_lock(&creation_mutex);
}
void after_fork_in_parent() {
  pthread_mutex_unlock(&creation_mutex);
}
void after_fork_in_child() {
  // The child has only the forking thread: the next evaluation starts a fresh pool and reads the
  // environment again. Should the forking thread have been a worker, it is one no longer.
  process_pool_instance.store(nullptr, std::memory_order_relaxed);
  current_worker = nullptr;
  pthread_mutex_unlock(&creation_mutex);
}

std::size_t online_processors() noexcept {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 0;
}

}  // namespace

Pool& process_pool() {
  if (Pool* p = process_pool_instance.load(std::memory_order_acquire)) return *p;
  CreationLock lock;
  if (Pool* p = process_pool_instance.load(std::memory_order_relaxed)) return *p;
  if (!fork_handlers_installed) {
    if (pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) != 0) {
      throw EvaluationError("failed to start the worker threads: cannot register fork handlers");
    }
    fork_handlers_installed = true;
  }
  const char* const num_threads = std::getenv("RAYON_NUM_THREADS");
  const char* const rs_num_cpus = std::getenv("RAYON_RS_NUM_CPUS");
  const RequestedSize size = size_from_environment(num_threads, rs_num_cpus, online_processors());
  auto record = std::make_unique<CreatedPool>();
  try {
    record->pool = new Pool(size.workers);
  } catch (const StartError& e) {
    if (size.variable == nullptr) throw;
    const bool first = std::strcmp(size.variable, "RAYON_NUM_THREADS") == 0;
    throw StartError(std::string(size.variable) + "=" + (first ? num_threads : rs_num_cpus) + ": " +
                     e.what());
  }
  record->previous = created_pools;
  created_pools = record.release();
  process_pool_instance.store(created_pools->pool, std::memory_order_release);
  return *created_pools->pool;
}

std::size_t thread_count() {
  return process_pool().size();
}

}  // namespace karvex::pool

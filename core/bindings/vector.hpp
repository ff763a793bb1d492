// The 16 vectorised functions: one-dimensional NumPy arrays in, new float64 arrays out. Below the
// function's serial limit the kernel runs on the calling thread with the interpreter lock held; at
// or above it the worker pool evaluates with the lock released.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <utility>

#include "bindings/args.hpp"
#include "bindings/functions.hpp"
#include "bindings/python.hpp"
#include "pool/pool.hpp"
#include "simd/american.hpp"
#include "simd/bachelier_dispatch.hpp"
#include "simd/dispatch.hpp"
#include "simd/second_order.hpp"

namespace karvex::bindings {

// The input arrays of one call, checked, with read access taken and a reference held for each;
// both are given back when the object goes out of scope, on every path.
class ArrayArguments {
 public:
  ArrayArguments() = default;
  ArrayArguments(const ArrayArguments&) = delete;
  ArrayArguments& operator=(const ArrayArguments&) = delete;
  ~ArrayArguments();

  // Checks the parsed arguments in order: every argument's type, dimension and element type (read
  // access is taken on each as soon as it passes), then every non-empty array's layout, then the
  // lengths. False with the exception set on the first failure (a one-dimensional array of another
  // element type also gets a note, which names `function`).
  bool take(const char* function, const Parameters& params, const ArgumentSlots& slots);

  std::size_t size() const { return n_; }
  // Whether the memory [begin, end) meets that of an input array.
  bool overlaps(const char* begin, const char* end) const;
  // The data of the j-th double parameter and of the flag.
  const double* column(std::size_t j) const { return columns_[j]; }
  const std::int8_t* flags() const { return flags_; }

 private:
  std::array<PyObject*, kMaxParameters> arrays_{};
  std::array<const void*, kMaxParameters> borrowed_{};
  std::size_t held_ = 0;
  std::array<const double*, kMaxParameters> columns_{};
  const std::int8_t* flags_ = nullptr;
  std::size_t flag_at_ = kMaxParameters;  // position of the flag among the arrays
  std::size_t n_ = 0;
};

// The most result arrays one function returns.
inline constexpr std::size_t kMaxOutputs = 16;

// The caller's result arrays of a call with `out`: one array, or a tuple of kOutputs arrays for
// the functions with several results, each checked strictly and held for the call. No copy is
// made: the kernels write into them.
class OutputArrays {
 public:
  OutputArrays() = default;
  OutputArrays(const OutputArrays&) = delete;
  OutputArrays& operator=(const OutputArrays&) = delete;
  ~OutputArrays();

  // Checks `out` for `count` results of the inputs `in`: each a one-dimensional float64 array
  // (native byte order), C-contiguous and aligned (TypeError otherwise), writeable, of the
  // inputs' length, and sharing no memory with an input array or with another result array
  // (ValueError otherwise). The kernels re-read inputs after writing results (the lanes of a
  // block that take the scalar kernel, the Black-76 rho after its price), so even an out array
  // that is exactly an input would change bits: every overlap is refused. False with the exception
  // set on the first failure.
  bool take(const char* function, PyObject* out, std::size_t count, const ArrayArguments& in);

  double* column(std::size_t j) const { return columns_[j]; }
  // The `out` argument itself, as the call's result (a new reference).
  PyObject* result() const {
    Py_INCREF(out_);
    return out_;
  }

 private:
  bool take_one(const char* function, PyObject* array, std::size_t j, std::size_t count,
                const ArrayArguments& in);

  PyObject* out_ = nullptr;
  std::array<PyObject*, kMaxOutputs> arrays_{};
  std::size_t held_ = 0;
  std::array<double*, kMaxOutputs> columns_{};
};

// Asks the operating system to back the whole 2 MiB pages inside a result buffer of 4 MiB or more
// with huge pages (where it offers them on request). A fresh buffer is touched for the first time
// by the kernel loop, and faulting it in 4 KiB pages costs about 3 ns per element written, a fifth
// of a Greek kernel; the greeks write five arrays. Advice only: without it nothing changes.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

// A result buffer of n doubles from the Python allocator (tracing tools see it; allocated and
// freed with the interpreter lock held), freed when it goes out of scope unless a result array has
// taken it over.
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (!interpreter_lock_lost()) PyMem_Free(data_);
  }

  // False with MemoryError set when the memory cannot be had.
  bool allocate(std::size_t n) {
    data_ = n <= PY_SSIZE_T_MAX / sizeof(double)
                ? static_cast<double*>(PyMem_Malloc(n * sizeof(double)))
                : nullptr;
    size_ = n;
    if (data_ == nullptr) {
      PyErr_NoMemory();
      return false;
    }
    advise_huge_pages(data_, n * sizeof(double));
    return true;
  }
  double* data() const { return data_; }
  std::size_t size() const { return size_; }
  double* release() { return std::exchange(data_, nullptr); }

 private:
  double* data_ = nullptr;
  std::size_t size_ = 0;
};

// The buffer as a new one-dimensional float64 array that owns it through a PySliceContainer.
PyObject* result_array(Buffer& buffer);
// The buffers of a function with several results as a new tuple of such arrays.
PyObject* result_tuple(Buffer* buffers, std::size_t count);

// What came back from the worker pool, carried across the interpreter lock.
struct PoolOutcome {
  std::size_t written = 0;
  bool interrupted = false;  // a signal handler raised: its exception is set
  bool not_started = false;  // the pool could not be created with the size asked for
  bool failed = false;
  char message[256] = {};

  void fail(const char* what) noexcept;
};

// False when a signal handler interrupted the call (its exception is set); raises RuntimeError
// when the pool could not be created, PanicException when it failed or did not write exactly n
// slots.
bool accept(const PoolOutcome& outcome, std::size_t n);

// The Greek of the block loops that quantity q (delta ... rho, or the greeks) is.
constexpr simd::Greek greek_of(Quantity q) {
  switch (q) {
    case Quantity::delta:
      return simd::Greek::delta;
    case Quantity::gamma:
      return simd::Greek::gamma;
    case Quantity::vega:
      return simd::Greek::vega;
    case Quantity::theta:
      return simd::Greek::theta;
    case Quantity::rho:
      return simd::Greek::rho;
    default:
      return simd::Greek::all;
  }
}

// The elements [begin, end) of a vectorised function into its result arrays (one array, or for the
// greeks one per Greek in the order of greek_fields), on the process's path (simd::active_path):
// the block loops of a vector unit, or the scalar loop. Returns the number of elements written.
// The serial path runs it over the whole range, the worker pool over its pieces.
template <Model M, Quantity Q>
struct Fill {
  static constexpr SecondSet kSecond = second_set(M, Q);
  static constexpr std::size_t kOutputs = Q == Quantity::greeks ? kGreekCount
                                          : kSecond != 0        ? second_count(kSecond)
                                                                : 1;
  static_assert(kOutputs <= kMaxOutputs);

  simd::OptionColumns in;
  std::array<double*, kOutputs> out;

  // The input arrays as BSM option columns (bsm_inputs: a Black-76 function passes the rate again
  // as q, an implied volatility its target prices as sigma; gamma and vega have no flag).
  static simd::OptionColumns columns(const ArrayArguments& args) noexcept {
    constexpr BsmInputs at = bsm_inputs(M, Q);
    return {parameters_of(M, Q).has_flag() ? args.flags() : nullptr,
            args.column(at.s),
            args.column(at.k),
            args.column(at.t),
            args.column(at.r),
            args.column(at.q),
            args.column(at.sigma)};
  }

  std::size_t operator()(std::size_t begin, std::size_t end) const noexcept {
    const simd::Path path = simd::active_path();
    if constexpr (is_american(M)) {
      constexpr AmericanMode mode = american_mode(M);
      if constexpr (Q == Quantity::price) {
        simd::american_price_range(path, mode, in, out[0], nullptr, begin, end);
      } else if constexpr (Q == Quantity::greeks) {
        simd::american_greeks_range(path, mode, in, out.data(), begin, end);
      } else {
        simd::american_iv_range(path, mode, in, out[0], begin, end);
      }
    } else if constexpr (M == Model::normal) {
      static_assert(static_cast<int>(simd::NormalQuantity::iv) == static_cast<int>(Quantity::iv));
      simd::bachelier_range(path, static_cast<simd::NormalQuantity>(Q), in, out.data(), begin, end);
    } else if constexpr (kSecond != 0) {
      simd::second_order_range(path, kSecond, in, out.data(), begin, end);
    } else if constexpr (Q == Quantity::price) {
      simd::price_range(path, in, out[0], begin, end);
    } else if constexpr (Q == Quantity::iv) {
      simd::iv_range(path, in, out[0], begin, end);
    } else if constexpr (M == Model::black76 && Q == Quantity::rho) {
      simd::black76_rho_range(path, in, out[0], begin, end);
    } else if constexpr (M == Model::black76 && Q == Quantity::greeks) {
      simd::black76_greeks_range(path, in, out.data(), begin, end);
    } else {
      simd::greeks_range(path, greek_of(Q), in, out.data(), begin, end);
    }
    return end - begin;
  }
};

template <class F>
std::size_t fill_piece(const void* fill, std::size_t begin, std::size_t end) {
  return (*static_cast<const F*>(fill))(begin, end);
}

// Runs `fill` over [0, n) on the worker pool with the interpreter lock released; false with the
// exception set when a signal handler raised meanwhile (the pool stops handing out pieces, those
// in flight finish, no result is returned), with RuntimeError set when the pool cannot be started
// with the size asked for, or with PanicException set on an internal failure (the pool failed, or
// did not write n elements).
template <class F>
bool fill_on_pool(std::size_t n, const F& fill) {
  const PoolOutcome outcome = without_interpreter_lock([&](PyThreadState* saved) {
    PoolOutcome result;
    // Asked by the pool while a long call runs: whether a signal handler (Ctrl-C) raised.
    const pool::CancellationCheck interrupt{
        [](void* state) { return signal_raised(static_cast<PyThreadState*>(state)); }, saved};
    try {
      result.written = pool::process_pool().evaluate_ranges(n, &fill_piece<F>, &fill, &interrupt);
    } catch (const pool::Cancelled&) {
      result.interrupted = true;
    } catch (const pool::StartError& e) {
      result.not_started = true;
      result.fail(e.what());
    } catch (const std::exception& e) {
      // Everything the pool throws; the unwinding that ends the thread is no std::exception.
      result.fail(e.what());
    }
    return result;
  });
  return accept(outcome, n);
}

// Below the serial limit on the calling thread, at or above it on the pool.
template <Model M, Quantity Q, class F>
bool run_fill(std::size_t n, const F& fill) {
  if (n < serial_limit(M, Q)) {
    fill(0, n);
    return true;
  }
  return fill_on_pool(n, fill);
}

template <class Fn>
PyObject* vector_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ArgumentSlots slots;
  PyObject* out_argument = nullptr;
  if (!parse_arguments(Fn::name.c_str(), Fn::params, args, nargs, kwnames, slots,
                       Fn::form == Form::into ? &out_argument : nullptr)) {
    return nullptr;
  }
  ArrayArguments in;
  if (!in.take(Fn::name.c_str(), Fn::params, slots)) return nullptr;

  using Work = Fill<Fn::model, Fn::quantity>;
  const std::size_t n = in.size();
  Work fill{Work::columns(in), {}};
  if (out_argument != nullptr && out_argument != Py_None) {
    OutputArrays outputs;
    if (!outputs.take(Fn::name.c_str(), out_argument, Work::kOutputs, in)) return nullptr;
    for (std::size_t j = 0; j < Work::kOutputs; ++j) fill.out[j] = outputs.column(j);
    if (!run_fill<Fn::model, Fn::quantity>(n, fill)) return nullptr;
    return outputs.result();
  }
  std::array<Buffer, Work::kOutputs> out;
  for (std::size_t j = 0; j < Work::kOutputs; ++j) {
    if (!out[j].allocate(n)) return nullptr;
    fill.out[j] = out[j].data();
  }
  if (!run_fill<Fn::model, Fn::quantity>(n, fill)) return nullptr;
  if constexpr (Work::kOutputs == 1) {
    return result_array(out[0]);
  } else {
    return result_tuple(out.data(), out.size());
  }
}

}  // namespace karvex::bindings

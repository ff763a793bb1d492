// The 16 vectorised functions: one-dimensional NumPy arrays in, new float64 arrays out. Below the
// function's serial limit the kernel runs on the calling thread with the interpreter lock held; at
// or above it the worker pool evaluates with the lock released.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

#include "bindings/args.hpp"
#include "bindings/functions.hpp"
#include "bindings/python.hpp"
#include "pool/pool.hpp"

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
  // lengths. False with the exception set on the first failure.
  bool take(const Parameters& params, const ArgumentSlots& slots);

  std::size_t size() const { return n_; }
  // The data of the j-th double parameter and of the flag.
  const double* column(std::size_t j) const { return columns_[j]; }
  const std::int8_t* flags() const { return flags_; }

 private:
  std::array<PyObject*, kMaxParameters> arrays_{};
  std::array<const void*, kMaxParameters> borrowed_{};
  std::size_t held_ = 0;
  std::array<const double*, kMaxParameters> columns_{};
  const std::int8_t* flags_ = nullptr;
  std::size_t n_ = 0;
};

// A result buffer of n elements from the Python allocator (so that tracing tools see it; allocated
// and freed with the interpreter lock held), freed when it goes out of scope unless a result array
// has taken it over.
template <class T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { PyMem_Free(data_); }

  // False with MemoryError set when the memory cannot be had.
  bool allocate(std::size_t n) {
    data_ =
        n <= PY_SSIZE_T_MAX / sizeof(T) ? static_cast<T*>(PyMem_Malloc(n * sizeof(T))) : nullptr;
    size_ = n;
    if (data_ == nullptr) PyErr_NoMemory();
    return data_ != nullptr;
  }
  T* data() const { return data_; }
  std::size_t size() const { return size_; }
  T* release() { return std::exchange(data_, nullptr); }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

// The buffer as a new one-dimensional float64 array that owns it through a PySliceContainer.
PyObject* result_array(Buffer<double>& buffer);
// The five buffers as a new tuple of such arrays.
PyObject* result_tuple(std::array<Buffer<double>, 5>& buffers);

// What came back from the worker pool, carried across the interpreter lock.
struct PoolOutcome {
  std::size_t written = 0;
  bool failed = false;
  char message[256] = {};

  void fail(const char* what) noexcept;
};

// Raises PanicException when the pool failed or did not write exactly n slots.
bool accept(const PoolOutcome& outcome, std::size_t n);

// Element i of a vectorised function: reads element i of every input and calls the kernel.
template <Model M, Quantity Q>
class Element {
 public:
  static constexpr const Parameters& params = parameters_of(M, Q);
  static constexpr std::size_t kDoubles = params.doubles();

  explicit Element(const ArrayArguments& in) : flags_(in.flags()) {
    for (std::size_t j = 0; j < kDoubles; ++j) columns_[j] = in.column(j);
  }

  auto operator()(std::size_t i) const noexcept {
    double x[kDoubles];
    for (std::size_t j = 0; j < kDoubles; ++j) x[j] = columns_[j][i];
    bool is_put = false;
    if constexpr (params.has_flag()) is_put = flags_[i] < 0;
    return evaluate<M, Q>(is_put, x);
  }

 private:
  std::array<const double*, kDoubles> columns_;
  const std::int8_t* flags_;
};

// out[i] = element(i) for i in [0, n) on the worker pool, with the interpreter lock released
// while it runs; false with PanicException set on an internal failure.
template <class Slot, class Fn>
bool evaluate_on_pool(std::size_t n, const Fn& element, Slot* out) {
  const PoolOutcome outcome = without_interpreter_lock([&]() noexcept {
    PoolOutcome result;
    try {
      result.written = pool::evaluate(n, element, out);
    } catch (const std::exception& e) {
      result.fail(e.what());
    } catch (...) {
      result.fail("unknown failure");
    }
    return result;
  });
  return accept(outcome, n);
}

template <class Fn>
PyObject* vector_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ArgumentSlots slots;
  if (!parse_arguments(Fn::name.c_str(), Fn::params, args, nargs, kwnames, slots)) return nullptr;
  ArrayArguments in;
  if (!in.take(Fn::params, slots)) return nullptr;

  const Element<Fn::model, Fn::quantity> element(in);
  const std::size_t n = in.size();
  const bool serial = n < serial_limit(Fn::quantity);
  if constexpr (Fn::quantity != Quantity::greeks) {
    Buffer<double> out;
    if (!out.allocate(n)) return nullptr;
    if (serial) {
      for (std::size_t i = 0; i < n; ++i) out.data()[i] = element(i);
    } else if (!evaluate_on_pool(n, element, out.data())) {
      return nullptr;
    }
    return result_array(out);
  } else {
    std::array<Buffer<double>, 5> out;
    for (auto& buffer : out) {
      if (!buffer.allocate(n)) return nullptr;
    }
    double* const delta = out[0].data();
    double* const gamma = out[1].data();
    double* const vega = out[2].data();
    double* const theta = out[3].data();
    double* const rho = out[4].data();
    const auto scatter = [&](std::size_t i, const Greeks& g) {
      delta[i] = g.delta;
      gamma[i] = g.gamma;
      vega[i] = g.vega;
      theta[i] = g.theta;
      rho[i] = g.rho;
    };
    if (serial) {
      for (std::size_t i = 0; i < n; ++i) scatter(i, element(i));
    } else {
      // The pool writes whole records; they are spread over the five arrays afterwards.
      Buffer<Greeks> records;
      if (!records.allocate(n)) return nullptr;
      if (!evaluate_on_pool(n, element, records.data())) return nullptr;
      for (std::size_t i = 0; i < n; ++i) scatter(i, records.data()[i]);
    }
    return result_tuple(out);
  }
}

}  // namespace karvex::bindings

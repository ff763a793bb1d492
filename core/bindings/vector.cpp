// Array checks, read access, result arrays and the pool outcome of the vectorised functions.
#include "bindings/vector.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "bindings/numpy_api.hpp"

namespace karvex::bindings {
namespace {

// The process-wide registry of read access to input arrays: for each data address, the number of
// shared (read-only) borrows held by calls in progress. The same array may be borrowed several
// times at once (passed for several parameters, or by concurrent calls); no caller ever writes
// through a borrow. Only touched with the interpreter lock held, which serialises it.
class BorrowRegistry {
 public:
  // False with PanicException set when the borrow cannot be recorded.
  bool acquire(const void* data) {
    for (auto& entry : shared_) {
      if (entry.first == data) {
        ++entry.second;
        return true;
      }
    }
    try {
      shared_.emplace_back(data, 1);
    } catch (const std::bad_alloc&) {
      panic("Internal borrow checking API error: could not register read access");
      return false;
    }
    return true;
  }

  void release(const void* data) noexcept {
    const auto entry = std::find_if(shared_.begin(), shared_.end(),
                                    [data](const auto& e) { return e.first == data; });
    if (entry == shared_.end()) return;
    if (--entry->second == 0) {
      *entry = shared_.back();
      shared_.pop_back();
    }
  }

 private:
  std::vector<std::pair<const void*, std::size_t>> shared_;
};

BorrowRegistry g_borrows;

// A one-dimensional array, of any element type.
bool is_vector(const numpy::Api& api, PyObject* object) {
  return PyObject_TypeCheck(object, api.array_type) && numpy::fields(object).nd == 1;
}

// A one-dimensional array whose element type is equivalent to `expected`.
bool is_vector_of(const numpy::Api& api, PyObject* object, PyObject* expected) {
  if (!is_vector(api, object)) return false;
  PyObject* descr = numpy::fields(object).descr;
  return descr == expected || api.equiv_types(descr, expected) != 0;
}

// Aligned, contiguous (C or Fortran order; NumPy marks any one-element array contiguous) and
// backed by memory.
bool is_contiguous(PyObject* array) {
  const numpy::ArrayObject& a = numpy::fields(array);
  constexpr int contiguous = numpy::NPY_ARRAY_C_CONTIGUOUS | numpy::NPY_ARRAY_F_CONTIGUOUS;
  return (a.flags & numpy::NPY_ARRAY_ALIGNED) != 0 && (a.flags & contiguous) != 0 &&
         a.data != nullptr;
}

std::size_t length_of(PyObject* array) {
  return static_cast<std::size_t>(numpy::fields(array).dimensions[0]);
}

// The owner of a result buffer: the array's base object, freeing the buffer when released.
struct SliceContainer {
  PyObject_HEAD void* ptr;
  std::size_t len;
  std::size_t cap;
};

void slice_container_dealloc(PyObject* self) {
  PyMem_Free(reinterpret_cast<SliceContainer*>(self)->ptr);
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

// The owner type, created on first need and kept for the process.
PyTypeObject* slice_container_type() {
  static PyObject* type = nullptr;
  return reinterpret_cast<PyTypeObject*>(create_once(type, [] {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&slice_container_dealloc)},
        {Py_tp_doc, const_cast<char*>("Owner of the memory of a result array.")},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {"karvex._core.PySliceContainer", sizeof(SliceContainer), 0,
                                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return PyType_FromSpec(&type_spec);
  }));
}

// A container that takes over the buffer; on failure the buffer stays with `buffer` (and is freed
// with it) and PanicException is set.
PyObject* take_over(Buffer& buffer) {
  PyTypeObject* type = slice_container_type();
  SliceContainer* container = type != nullptr ? PyObject_New(SliceContainer, type) : nullptr;
  if (container == nullptr) {
    Ref text(take_error_text());
    return text ? panic("Failed to create slice container: %U", text.get()) : nullptr;
  }
  container->len = container->cap = buffer.size();
  container->ptr = buffer.release();
  return reinterpret_cast<PyObject*>(container);
}

}  // namespace

ArrayArguments::~ArrayArguments() {
  if (interpreter_lock_lost()) return;  // the references and borrows stay: see python.hpp
  for (std::size_t j = 0; j < held_; ++j) {
    g_borrows.release(borrowed_[j]);
    Py_DECREF(arrays_[j]);
  }
}

bool ArrayArguments::take(const char* function, const Parameters& params,
                          const ArgumentSlots& slots) {
  const numpy::Api* api = numpy::api();
  if (api == nullptr) return false;

  // Type, dimension and element type of every argument, taking read access as each passes.
  const std::size_t flag = params.flag_index();
  flag_at_ = flag;
  for (std::size_t i = 0; i < params.count; ++i) {
    PyObject* object = slots[i];
    PyObject* expected = i == flag ? api->byte_descr : api->double_descr;
    if (!is_vector_of(*api, object, expected)) {
      set_not_an_instance(object, api->array_type);
      add_parameter_note(params.names[i].data());
      // The message reads the same for every refused object; a one-dimensional array of another
      // element type gets a second note that names the expected and the given type.
      if (is_vector(*api, object)) {
        add_note(
            "%s(): argument '%s' must be a contiguous one-dimensional %S array, not an array "
            "of %S",
            function, params.names[i].data(), expected, numpy::fields(object).descr);
      }
      return false;
    }
    const void* data = numpy::fields(object).data;
    if (!g_borrows.acquire(data)) return false;
    Py_INCREF(object);
    arrays_[held_] = object;
    borrowed_[held_] = data;
    ++held_;
  }

  // Layout of every non-empty array, before any length is compared.
  for (std::size_t i = 0; i < held_; ++i) {
    if (length_of(arrays_[i]) != 0 && !is_contiguous(arrays_[i])) {
      PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
      return false;
    }
  }

  n_ = length_of(arrays_[0]);
  for (std::size_t i = 1; i < held_; ++i) {
    if (length_of(arrays_[i]) == n_) continue;
    Ref lengths(PyList_New(static_cast<Py_ssize_t>(held_)));
    if (!lengths) return false;
    for (std::size_t j = 0; j < held_; ++j) {
      PyObject* length = PyLong_FromSize_t(length_of(arrays_[j]));
      if (length == nullptr) return false;
      PyList_SetItem(lengths.get(), static_cast<Py_ssize_t>(j), length);
    }
    PyErr_Format(PyExc_ValueError, "input arrays have mismatched lengths: %R", lengths.get());
    return false;
  }

  std::size_t next = 0;
  for (std::size_t i = 0; i < held_; ++i) {
    const char* data = numpy::fields(arrays_[i]).data;
    if (i == flag) {
      flags_ = reinterpret_cast<const std::int8_t*>(data);
    } else {
      columns_[next++] = reinterpret_cast<const double*>(data);
    }
  }
  return true;
}

bool ArrayArguments::overlaps(const char* begin, const char* end) const {
  for (std::size_t i = 0; i < held_; ++i) {
    const char* data = static_cast<const char*>(borrowed_[i]);
    const std::size_t item = i == flag_at_ ? sizeof(std::int8_t) : sizeof(double);
    const std::size_t bytes = length_of(arrays_[i]) * item;
    if (bytes != 0 && data < end && begin < data + bytes) return true;
  }
  return false;
}

OutputArrays::~OutputArrays() {
  if (interpreter_lock_lost()) return;  // the references stay: see python.hpp
  for (std::size_t j = 0; j < held_; ++j) Py_DECREF(arrays_[j]);
}

bool OutputArrays::take(const char* function, PyObject* out, std::size_t count,
                        const ArrayArguments& in) {
  const numpy::Api* api = numpy::api();
  if (api == nullptr) return false;
  out_ = out;
  if (count == 1) return take_one(function, out, 0, count, in);
  if (!PyTuple_Check(out) || PyTuple_Size(out) != static_cast<Py_ssize_t>(count)) {
    PyErr_Format(PyExc_TypeError, "%s(): out must be a tuple of %zu float64 arrays", function,
                 count);
    return false;
  }
  for (std::size_t j = 0; j < count; ++j) {
    if (!take_one(function, PyTuple_GetItem(out, static_cast<Py_ssize_t>(j)), j, count, in)) {
      return false;
    }
  }
  return true;
}

bool OutputArrays::take_one(const char* function, PyObject* array, std::size_t j, std::size_t count,
                            const ArrayArguments& in) {
  const numpy::Api& api = *numpy::api();
  // "out" or "out[j]" in the messages
  char name[32];
  if (count == 1) {
    std::snprintf(name, sizeof(name), "out");
  } else {
    std::snprintf(name, sizeof(name), "out[%zu]", j);
  }
  if (!is_vector_of(api, array, api.double_descr)) {
    if (!PyObject_TypeCheck(array, api.array_type)) {
      set_not_an_instance(array, api.array_type);
      add_note("%s(): %s must be a float64 array", function, name);
    } else if (numpy::fields(array).nd != 1) {
      PyErr_Format(PyExc_TypeError, "%s(): %s must have one dimension, not %d", function, name,
                   numpy::fields(array).nd);
    } else {
      PyErr_Format(PyExc_TypeError, "%s(): %s must be a float64 array, not an array of %S",
                   function, name, numpy::fields(array).descr);
    }
    return false;
  }
  const numpy::ArrayObject& a = numpy::fields(array);
  const std::size_t n = length_of(array);
  constexpr int required = numpy::NPY_ARRAY_C_CONTIGUOUS | numpy::NPY_ARRAY_ALIGNED;
  if ((a.flags & required) != required) {
    PyErr_Format(PyExc_TypeError, "%s(): %s must be C-contiguous and aligned", function, name);
    return false;
  }
  if ((a.flags & numpy::NPY_ARRAY_WRITEABLE) == 0) {
    PyErr_Format(PyExc_ValueError, "%s(): %s is read-only", function, name);
    return false;
  }
  if (n != in.size()) {
    PyErr_Format(PyExc_ValueError, "%s(): %s has length %zu, the inputs %zu", function, name, n,
                 in.size());
    return false;
  }
  const char* begin = a.data;
  const char* end = a.data + n * sizeof(double);
  if (n != 0 && in.overlaps(begin, end)) {
    PyErr_Format(PyExc_ValueError, "%s(): %s shares memory with an input array", function, name);
    return false;
  }
  for (std::size_t i = 0; i < held_ && n != 0; ++i) {
    const char* other = reinterpret_cast<const char*>(columns_[i]);
    if (other < end && begin < other + n * sizeof(double)) {
      PyErr_Format(PyExc_ValueError, "%s(): %s shares memory with out[%zu]", function, name, i);
      return false;
    }
  }
  Py_INCREF(array);
  arrays_[held_] = array;
  columns_[held_] = reinterpret_cast<double*>(a.data);
  ++held_;
  return true;
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21;  // 2 MiB
  constexpr std::size_t worth_advising = 2 * huge_page;  // smaller buffers: 4 KiB pages as before
  if (bytes < worth_advising) return;
  const std::uintptr_t begin =
      (reinterpret_cast<std::uintptr_t>(data) + huge_page - 1) & ~(huge_page - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(huge_page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

PyObject* result_array(Buffer& buffer) {
  const numpy::Api* api = numpy::api();
  if (api == nullptr) return nullptr;
  Ref container(take_over(buffer));
  if (!container) return nullptr;
  void* data = reinterpret_cast<SliceContainer*>(container.get())->ptr;
  const numpy::npy_intp dims[1] = {
      static_cast<numpy::npy_intp>(reinterpret_cast<SliceContainer*>(container.get())->len)};
  const numpy::npy_intp strides[1] = {sizeof(double)};
  Py_INCREF(api->double_descr);  // stolen by new_from_descr
  Ref array(api->new_from_descr(api->array_type, api->double_descr, 1, dims, strides, data,
                                numpy::NPY_ARRAY_WRITEABLE, nullptr));
  if (!array) return object_not_created();
  if (api->set_base_object(array.get(), container.release()) < 0) return nullptr;
  return array.release();
}

PyObject* result_tuple(Buffer* buffers, std::size_t count) {
  Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(count)));
  if (!tuple) return object_not_created();
  for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(count); ++i) {
    PyObject* array = result_array(buffers[static_cast<std::size_t>(i)]);
    if (array == nullptr) return nullptr;
    PyTuple_SetItem(tuple.get(), i, array);  // steals array
  }
  return tuple.release();
}

void PoolOutcome::fail(const char* what) noexcept {
  failed = true;
  std::strncpy(message, what, sizeof(message) - 1);
}

bool accept(const PoolOutcome& outcome, std::size_t n) {
  if (outcome.interrupted) return false;
  if (outcome.not_started) {
    PyErr_Format(PyExc_RuntimeError, "cannot start the worker pool: %s", outcome.message);
    return false;
  }
  if (outcome.failed) {
    panic("%s", outcome.message);
    return false;
  }
  if (outcome.written != n) {
    panic("expected %zu total writes, but got %zu", n, outcome.written);
    return false;
  }
  return true;
}

}  // namespace karvex::bindings

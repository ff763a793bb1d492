// Result objects of the `_scalar` functions.
#include "bindings/scalar.hpp"

namespace karvex::bindings {
PyObject* scalar_result(double value) {
  PyObject* result = PyFloat_FromDouble(value);
  return result != nullptr ? result : object_not_created();
}

PyObject* scalar_tuple(const double* values, std::size_t count) {
  Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(count)));
  if (!tuple) return object_not_created();
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) return object_not_created();
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return tuple.release();
}

PyObject* scalar_result(const Greeks& greeks) {
  double values[kGreekCount];
  for (std::size_t i = 0; i < kGreekCount; ++i) values[i] = greeks.*greek_fields<double>[i];
  return scalar_tuple(values, kGreekCount);
}

}  // namespace karvex::bindings

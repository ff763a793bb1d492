// Result objects of the `_scalar` functions.
#include "bindings/scalar.hpp"

namespace karvex::bindings {
PyObject* scalar_result(double value) {
  PyObject* result = PyFloat_FromDouble(value);
  return result != nullptr ? result : object_not_created();
}

PyObject* scalar_result(const Greeks& greeks) {
  Ref tuple(PyTuple_New(kGreekCount));
  if (!tuple) return object_not_created();
  for (std::size_t i = 0; i < kGreekCount; ++i) {
    PyObject* item = PyFloat_FromDouble(greeks.*greek_fields<double>[i]);
    if (item == nullptr) return object_not_created();
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return tuple.release();
}

}  // namespace karvex::bindings

// Result objects of the `_scalar` functions.
#include "bindings/scalar.hpp"

namespace karvex::bindings {
PyObject* scalar_result(double value) {
  PyObject* result = PyFloat_FromDouble(value);
  return result != nullptr ? result : object_not_created();
}

PyObject* scalar_result(const Greeks& greeks) {
  Ref tuple(PyTuple_New(5));
  if (!tuple) return object_not_created();
  const double values[5] = {greeks.delta, greeks.gamma, greeks.vega, greeks.theta, greeks.rho};
  for (Py_ssize_t i = 0; i < 5; ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) return object_not_created();
    PyTuple_SetItem(tuple.get(), i, item);  // steals item
  }
  return tuple.release();
}

}  // namespace karvex::bindings

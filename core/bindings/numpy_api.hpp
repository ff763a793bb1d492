// The few parts of NumPy's C API the vectorised functions use, declared here so that NumPy is not
// needed at build time. The API table is reached at run time through the `_ARRAY_API` capsule of
// NumPy's multiarray module; the layouts and numbers below are the same in NumPy 1.x and 2.x.
#pragma once

#include "bindings/python.hpp"

namespace karvex::bindings::numpy {

using npy_intp = Py_ssize_t;

// Type numbers.
inline constexpr int NPY_BYTE = 1;     // int8
inline constexpr int NPY_DOUBLE = 12;  // float64

// Array flags.
inline constexpr int NPY_ARRAY_C_CONTIGUOUS = 0x0001;
inline constexpr int NPY_ARRAY_F_CONTIGUOUS = 0x0002;
inline constexpr int NPY_ARRAY_ALIGNED = 0x0100;
inline constexpr int NPY_ARRAY_WRITEABLE = 0x0400;

// The leading fields of an array object. Unlike the descriptor, whose layout changed between
// NumPy 1.x and 2.x (it is only ever handled as an opaque object here), these did not move.
struct ArrayObject {
  PyObject_HEAD char* data;
  int nd;
  npy_intp* dimensions;
  npy_intp* strides;
  PyObject* base;
  PyObject* descr;
  int flags;
};

inline const ArrayObject& fields(PyObject* array) {
  return *reinterpret_cast<const ArrayObject*>(array);
}

// The entries of the API table in use, and the two element-type descriptors, fetched once.
struct Api {
  PyTypeObject* array_type;
  PyObject* double_descr;  // PyArray_DescrFromType(NPY_DOUBLE), kept for the process
  PyObject* byte_descr;    // PyArray_DescrFromType(NPY_BYTE), kept for the process
  // PyArray_NewFromDescr: steals the descriptor reference, also on failure.
  PyObject* (*new_from_descr)(PyTypeObject* subtype, PyObject* descr, int nd, const npy_intp* dims,
                              const npy_intp* strides, void* data, int flags, PyObject* obj);
  unsigned char (*equiv_types)(PyObject* descr1, PyObject* descr2);
  // PyArray_SetBaseObject: steals the base reference, also on failure.
  int (*set_base_object)(PyObject* array, PyObject* base);
};

// NumPy's C API, imported on the first call in the process (with the interpreter lock held).
// Returns nullptr with PanicException set when NumPy cannot be imported or is incompatible; the
// next call then tries again.
const Api* api();

}  // namespace karvex::bindings::numpy

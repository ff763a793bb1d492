// The lazy, process-wide import of NumPy's C API.
#include "bindings/numpy_api.hpp"

#include <atomic>

namespace karvex::bindings::numpy {
namespace {

// Slots of the API table (`PyArray_API[i]`), fixed by NumPy's ABI.
enum Slot : int {
  kGetNDArrayCVersion = 0,
  kArrayType = 2,
  kDescrFromType = 45,
  kNewFromDescr = 94,
  kEquivTypes = 182,
  kGetEndianness = 210,
  kGetNDArrayCFeatureVersion = 211,
  kSetBaseObject = 282,
};

// The ABI version this module is written against (NumPy 2.0; 1.x tables are a prefix of it), the
// oldest C-API feature version it needs (0xc, NumPy 1.15), and NPY_CPU_LITTLE.
constexpr unsigned kAbiVersion = 0x2000000;
constexpr unsigned kFeatureVersion = 0xc;
constexpr int kLittleEndian = 1;

Api g_storage;
std::atomic<const Api*> g_api{nullptr};

template <class F>
F entry(void** table, Slot slot) {
  return reinterpret_cast<F>(table[slot]);
}

// Imports NumPy's multiarray module and reads its API table into `out` (which then owns a
// reference to each descriptor); false with the error set on failure.
bool import_api(Api& out) {
  Ref numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return false;
  Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return false;
  Ref lib(PyImport_ImportModule("numpy.lib"));
  if (!lib) return false;
  Ref parsed(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
  if (!parsed) return false;
  Ref major_object(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major_object) return false;
  const long major = PyLong_AsLong(major_object.get());
  if (major == -1 && PyErr_Occurred()) return false;
  if (major < 0 || major > 255) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  Ref multiarray(
      PyImport_ImportModule(major <= 1 ? "numpy.core.multiarray" : "numpy._core.multiarray"));
  if (!multiarray) return false;
  Ref capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) return false;
  if (Py_TYPE(capsule.get()) != &PyCapsule_Type) {
    set_not_an_instance(capsule.get(), &PyCapsule_Type);
    return false;
  }
  auto** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table == nullptr) return false;

  const unsigned abi = entry<unsigned (*)()>(table, kGetNDArrayCVersion)();
  if (abi > kAbiVersion) {
    PyErr_Format(PyExc_RuntimeError,
                 "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                 kAbiVersion, abi);
    return false;
  }
  const unsigned feature = entry<unsigned (*)()>(table, kGetNDArrayCFeatureVersion)();
  if (feature < kFeatureVersion) {
    PyErr_Format(PyExc_RuntimeError,
                 "module was compiled against NumPy C-API version 0x%x (NumPy 1.15) but the "
                 "running NumPy has C-API version 0x%x",
                 kFeatureVersion, feature);
    return false;
  }
  if (entry<int (*)()>(table, kGetEndianness)() != kLittleEndian) {
    PyErr_SetString(PyExc_RuntimeError,
                    "module compiled as little endian, but detected different endianness at "
                    "runtime");
    return false;
  }

  const auto descr_from_type = entry<PyObject* (*)(int)>(table, kDescrFromType);
  Ref double_descr(descr_from_type(NPY_DOUBLE));
  Ref byte_descr(descr_from_type(NPY_BYTE));
  if (!double_descr || !byte_descr) return false;
  out.array_type = static_cast<PyTypeObject*>(table[kArrayType]);
  out.double_descr = double_descr.release();
  out.byte_descr = byte_descr.release();
  out.new_from_descr = entry<decltype(Api::new_from_descr)>(table, kNewFromDescr);
  out.equiv_types = entry<decltype(Api::equiv_types)>(table, kEquivTypes);
  out.set_base_object = entry<decltype(Api::set_base_object)>(table, kSetBaseObject);
  capsule.release();  // the table lives as long as the capsule: kept for the process
  return true;
}

// Raises the pending error of a failed import as PanicException. An exception that is no
// Exception (KeyboardInterrupt from Ctrl-C, SystemExit, what a signal handler raised meanwhile)
// says nothing about NumPy: it passes on as it is.
const Api* import_failed() {
  if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
  Ref text(take_error_text());
  if (text) panic("Failed to access NumPy array API capsule: %U", text.get());
  return nullptr;
}

}  // namespace

const Api* api() {
  if (const Api* ready = g_api.load(std::memory_order_acquire)) return ready;
  // The import runs Python code (NumPy's own, import hooks, finalizers, signal handlers), which
  // may call a vectorised function again on this thread: such a call fails like an import that
  // failed rather than importing inside the import.
  thread_local bool importing = false;
  if (importing) {
    PyErr_SetString(PyExc_RuntimeError, "NumPy's C API was needed while it was being imported");
    return import_failed();
  }
  // No lock of our own is held across the import: the Python code it runs may release the
  // interpreter lock, let other threads import too, or fork (a lock held by another thread at a
  // fork would stay locked in the child forever). The interpreter lock serialises the step that
  // matters, publishing the table: the first thread to finish wins, later ones drop theirs.
  importing = true;
  Api imported{};
  const bool ok = import_api(imported);
  importing = false;
  // After a failure nothing is published: the next call tries the import again.
  if (!ok) return import_failed();
  if (const Api* ready = g_api.load(std::memory_order_acquire)) {
    Py_DECREF(imported.double_descr);
    Py_DECREF(imported.byte_descr);
    return ready;
  }
  g_storage = imported;
  g_api.store(&g_storage, std::memory_order_release);
  return &g_storage;
}

}  // namespace karvex::bindings::numpy

// What every extension module's functions share at run time: the exception for internal failures,
// and taking the interpreter lock back after code that ran without it.
#include <cstdarg>

#include "bindings/python.hpp"

namespace karvex::bindings {
namespace {

constexpr const char kPanicDoc[] =
    "Raised when the native code of karvex (karvex._core, karvex._ext) fails internally.\n\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it typically "
    "propagates through all handlers and ends the interpreter.";

// The exception class for internal failures, created once on first need (under the interpreter
// lock) and kept for the process. Not an attribute of any module.
PyObject* panic_exception() {
  static PyObject* type = nullptr;
  return create_once(type, [] {
    return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException,
                                     nullptr);
  });
}

thread_local bool g_interpreter_lock_lost = false;

}  // namespace

PyObject* panic(const char* format, ...) {
  PyObject* type = panic_exception();
  if (type == nullptr) return nullptr;
  va_list args;
  va_start(args, format);
  PyObject* message = PyUnicode_FromFormatV(format, args);
  va_end(args);
  if (message == nullptr) return nullptr;
  PyErr_SetObject(type, message);
  Py_DECREF(message);
  return nullptr;
}

void retake_interpreter_lock(PyThreadState* saved) {
  try {
    PyEval_RestoreThread(saved);
  } catch (...) {
    // Only the unwinding that ends this thread gets here; it must go on.
    g_interpreter_lock_lost = true;
    throw;
  }
}

bool interpreter_lock_lost() noexcept {
  return g_interpreter_lock_lost;
}

bool signal_raised(PyThreadState* saved) {
  retake_interpreter_lock(saved);
  const bool raised = PyErr_CheckSignals() < 0;
  PyEval_SaveThread();
  return raised;
}

PyObject* object_not_created() {
  if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
  return panic("PyObject pointer is null");
}

}  // namespace karvex::bindings

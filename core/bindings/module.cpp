// The module karvex._core: its definition with one execution step, the table of its 32 functions
// (which drives registration, argument parsing and kernel dispatch), and the exception raised for
// internal failures.
#include <cstdarg>

#include "bindings/functions.hpp"
#include "bindings/python.hpp"
#include "bindings/scalar.hpp"
#include "bindings/vector.hpp"

namespace karvex::bindings {
namespace {

constexpr const char kModuleDoc[] = "karvex C++ core: BSM pricing, Greeks, implied volatility.";
constexpr const char kVersion[] = "0.1.7";

constexpr const char kPanicDoc[] =
    "Raised when the native code of karvex._core fails internally.\n\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it typically "
    "propagates through all handlers and ends the interpreter.";

// The exception class for internal failures, created once on first need (under the interpreter
// lock) and kept for the process. Not an attribute of the module.
PyObject* panic_exception() {
  static PyObject* type = nullptr;
  return create_once(type, [] {
    return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException,
                                     nullptr);
  });
}

// The entry of every function: the METH_FASTCALL | METH_KEYWORDS convention.
template <class Fn>
PyObject* call(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if constexpr (Fn::form == Form::scalar) {
    return scalar_call<Fn>(args, nargs, kwnames);
  } else {
    return vector_call<Fn>(args, nargs, kwnames);
  }
}

// One row of the function table.
template <Model M, Quantity Q, Form F, Literal Doc = "">
PyMethodDef row() {
  using Fn = Function<M, Q, F, Doc>;
  return {Fn::name.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call<Fn>)),
          METH_FASTCALL | METH_KEYWORDS | METH_STATIC, Fn::doc.c_str()};
}

constexpr Literal kBsmGreeksDoc =
    "Compute all five BSM Greeks in a single pass.\n"
    "\n"
    "Returns `(delta, gamma, vega, theta, rho)` as a 5-tuple of `PyArray1<f64>`.\n"
    "Equivalent to calling `bsm_delta`, `bsm_gamma`, `bsm_vega`, `bsm_theta`,\n"
    "and `bsm_rho` separately, but shares the `d1_d2`, discount-factor, `cdf`,\n"
    "and `pdf` evaluations \u2014 ~3\u00d7 faster on the bundled `bs.greeks(...)` path\n"
    "(measured at N=10k on Apple M4 Pro: 273 \u00b5s combined vs 568 \u00b5s individual).";

using enum Model;
using enum Quantity;
using enum Form;

// The 32 functions in registration order.
PyMethodDef g_functions[] = {
    row<bsm, price, vectorised>(),
    row<bsm, delta, vectorised>(),
    row<bsm, gamma, vectorised>(),
    row<bsm, vega, vectorised>(),
    row<bsm, theta, vectorised>(),
    row<bsm, rho, vectorised>(),
    row<bsm, greeks, vectorised, kBsmGreeksDoc>(),
    row<bsm, iv, vectorised>(),
    row<black76, price, vectorised>(),
    row<black76, delta, vectorised>(),
    row<black76, gamma, vectorised>(),
    row<black76, vega, vectorised>(),
    row<black76, theta, vectorised>(),
    row<black76, rho, vectorised>(),
    row<black76, greeks, vectorised,
        "Compute all five Black-76 Greeks in a single pass. See `bsm_greeks`.">(),
    row<black76, iv, vectorised>(),
    row<bsm, price, scalar>(),
    row<bsm, delta, scalar>(),
    row<bsm, gamma, scalar>(),
    row<bsm, vega, scalar>(),
    row<bsm, theta, scalar>(),
    row<bsm, rho, scalar>(),
    row<bsm, greeks, scalar,
        "Scalar twin of `bsm_greeks`: `(delta, gamma, vega, theta, rho)` for one option.">(),
    row<bsm, iv, scalar, "Scalar twin of `bsm_iv`.">(),
    row<black76, price, scalar>(),
    row<black76, delta, scalar>(),
    row<black76, gamma, scalar>(),
    row<black76, vega, scalar>(),
    row<black76, theta, scalar>(),
    row<black76, rho, scalar>(),
    row<black76, greeks, scalar, "Scalar twin of `black76_greeks`.">(),
    row<black76, iv, scalar,
        "Scalar twin of `black76_iv` (the BSM solver with q = r, as in `black76_iv`).">(),
};

// Registers one attribute: appends its name to the module's __all__ (created when absent) and
// sets it on the module. Steals `value`.
int register_attribute(PyObject* module, PyObject* name, PyObject* value) {
  Ref owned(value);
  if (!owned) return -1;
  Ref all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = Ref(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  } else if (!PyList_Check(all.get())) {
    set_not_an_instance(all.get(), &PyList_Type);
    return -1;
  }
  if (PyList_Append(all.get(), name) < 0) {
    Ref text(take_error_text());
    if (text) panic("could not append __name__ to __all__: %U", text.get());
    return -1;
  }
  return PyObject_SetAttr(module, name, owned.get());
}

int register_attribute(PyObject* module, const char* name, PyObject* value) {
  Ref owned(value);
  Ref name_object(PyUnicode_FromString(name));
  if (!name_object) return -1;
  return register_attribute(module, name_object.get(), owned.release());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    set_not_an_instance(module, &PyModule_Type);
    return -1;
  }
  if (register_attribute(module, "__doc__", PyUnicode_FromString(kModuleDoc)) < 0) return -1;
  if (register_attribute(module, "__version__", PyUnicode_FromString(kVersion)) < 0) return -1;
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  for (PyMethodDef& def : g_functions) {
    Ref function(PyCMethod_New(&def, module, module_name.get(), nullptr));
    if (!function) return -1;
    Ref name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return -1;
    if (!PyUnicode_Check(name.get())) {
      set_not_an_instance(name.get(), &PyUnicode_Type);
      return -1;
    }
    if (register_attribute(module, name.get(), function.release()) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "_core",  // m_name
    "",       // m_doc: the real __doc__ is registered by the execution step
    0,        // m_size: no module state
    nullptr,  // m_methods: the functions are registered by the execution step
    g_slots,  // m_slots
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

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

namespace {
thread_local bool g_interpreter_lock_lost = false;
}  // namespace

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

PyMODINIT_FUNC PyInit__core(void) {
  return PyModuleDef_Init(&karvex::bindings::g_module);
}

// What a module's function table is made of: the entry of each function, one row per function,
// and the execution step that registers the rows. The table drives registration, argument parsing
// and kernel dispatch: a row's descriptor (Function in functions.hpp) names the model, the
// quantity, the form and the parameters, from which the entry below and the kernel table follow.
#pragma once

#include <cstddef>
#include <iterator>

#include "bindings/functions.hpp"
#include "bindings/python.hpp"
#include "bindings/scalar.hpp"
#include "bindings/vector.hpp"

namespace karvex::bindings {

// The entry of every function: the METH_FASTCALL | METH_KEYWORDS convention.
template <class Fn>
PyObject* call(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if constexpr (Fn::form == Form::scalar) {
    return scalar_call<Fn>(args, nargs, kwnames);
  } else {
    return vector_call<Fn>(args, nargs, kwnames);
  }
}

// One row of a function table.
template <Model M, Quantity Q, Form F, Literal Doc = "">
PyMethodDef row() {
  using Fn = Function<M, Q, F, Doc>;
  return {Fn::name.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call<Fn>)),
          METH_FASTCALL | METH_KEYWORDS | METH_STATIC, Fn::doc.c_str()};
}

// The execution step of a module: registers __doc__, __version__ and then each function of the
// table, in order, as attributes listed in the module's __all__. -1 with the exception set on
// failure.
int register_module(PyObject* module, const char* doc, const char* version, PyMethodDef* functions,
                    std::size_t count);

inline constexpr char kVersion[] = "0.1.7";

// The definition of the module `Name` (multi-phase initialisation, no module state), whose one
// execution step registers `Doc`, the version and the table `Functions`. Its PyInit function
// returns PyModuleDef_Init(&ModuleDefinition<...>::definition).
template <const char* Name, const char* Doc, auto& Functions>
struct ModuleDefinition {
  static int exec(PyObject* module) {
    return register_module(module, Doc, kVersion, Functions, std::size(Functions));
  }
  static inline PyModuleDef_Slot slots[] = {
      {Py_mod_exec, reinterpret_cast<void*>(&exec)},
      {0, nullptr},
  };
  static inline PyModuleDef definition = {
      PyModuleDef_HEAD_INIT,
      Name,     // m_name
      "",       // m_doc: the real __doc__ is registered by the execution step
      0,        // m_size: no module state
      nullptr,  // m_methods: the functions are registered by the execution step
      slots,    // m_slots
      nullptr,  // m_traverse
      nullptr,  // m_clear
      nullptr,  // m_free
  };
};

}  // namespace karvex::bindings

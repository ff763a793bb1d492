// The execution step every module runs: its attributes and its function table.
#include "bindings/table.hpp"

namespace karvex::bindings {
namespace {

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

}  // namespace

int register_module(PyObject* module, const char* doc, const char* version, PyMethodDef* functions,
                    std::size_t count) {
  if (!PyModule_Check(module)) {
    set_not_an_instance(module, &PyModule_Type);
    return -1;
  }
  if (register_attribute(module, "__doc__", PyUnicode_FromString(doc)) < 0) return -1;
  if (register_attribute(module, "__version__", PyUnicode_FromString(version)) < 0) return -1;
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  for (std::size_t i = 0; i < count; ++i) {
    Ref function(PyCMethod_New(&functions[i], module, module_name.get(), nullptr));
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

}  // namespace karvex::bindings

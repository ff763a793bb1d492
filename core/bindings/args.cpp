// Argument parsing and conversion, and the error texts shared by the module's functions.
#include "bindings/args.hpp"

#include <cstdarg>
#include <cstring>

namespace karvex::bindings {
namespace {

// A short text assembled in place (the list of missing parameter names); never allocates.
class ShortText {
 public:
  void append(std::string_view piece) {
    const std::size_t n = std::min(piece.size(), sizeof(chars_) - 1 - length_);
    std::memcpy(chars_ + length_, piece.data(), n);
    length_ += n;
    chars_[length_] = '\0';
  }
  const char* c_str() const { return chars_; }

 private:
  char chars_[256] = {};
  std::size_t length_ = 0;
};

// The keyword name as UTF-8 bytes compared with each parameter name; -1 when none matches or the
// name cannot be read as UTF-8.
int find_keyword(const Parameters& params, PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return -1;
  }
  const std::string_view name(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < params.count; ++i) {
    if (params.names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// The keyword is named by its own text (a str subclass's __str__ plays no part), or by its str()
// when it cannot be read as UTF-8.
void raise_unexpected(const char* function, PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  Ref name(utf8 != nullptr ? PyUnicode_FromStringAndSize(utf8, size) : nullptr);
  if (!name) {
    PyErr_Clear();
    name = Ref(PyObject_Str(keyword));
    if (!name) return;
  }
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
               name.get());
}

void raise_missing(const char* function, const Parameters& params, const ArgumentSlots& slots) {
  std::size_t missing = 0;
  for (std::size_t i = 0; i < params.count; ++i) missing += slots[i] == nullptr;
  // 'sigma' / 'q' and 'sigma' / 'r', 'q', and 'sigma'
  ShortText list;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < params.count; ++i) {
    if (slots[i] != nullptr) continue;
    if (listed > 0 && missing > 2) list.append(",");
    if (listed > 0 && listed + 1 < missing) list.append(" ");
    if (listed > 0 && listed + 1 == missing) list.append(" and ");
    list.append("'");
    list.append(params.names[i]);
    list.append("'");
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", function,
               missing, missing == 1 ? "" : "s", list.c_str());
}

bool convert_double(PyObject* object, double& out) {
  out = PyFloat_AsDouble(object);
  return !(out == -1.0 && PyErr_Occurred());
}

bool convert_flag(PyObject* object, bool& is_put) {
  const long value = PyLong_AsLong(object);
  if (value == -1 && PyErr_Occurred()) return false;
  if (value < -128 || value > 127) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  is_put = value < 0;
  return true;
}

// An attribute name, interned once for the process. Error paths that run often look names up
// through these: the interpreter's attribute cache keeps a reference to the name it was asked for,
// so a fresh string per call would stay alive there until evicted.
PyObject* interned(PyObject*& slot, const char* text) {
  return create_once(slot, [text] { return PyUnicode_InternFromString(text); });
}

// The __qualname__ of a type as a new string, or the stand-in text when it cannot be had.
PyObject* qualified_name(PyTypeObject* type) {
  static PyObject* attribute = nullptr;
  PyObject* name = interned(attribute, "__qualname__") != nullptr
                       ? PyObject_GetAttr(reinterpret_cast<PyObject*>(type), attribute)
                       : nullptr;
  if (name != nullptr && PyUnicode_Check(name)) return name;
  Py_XDECREF(name);
  PyErr_Clear();
  return PyUnicode_FromString("<failed to extract type name>");
}

}  // namespace

bool parse_arguments(const char* function, const Parameters& params, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, ArgumentSlots& slots, PyObject** out) {
  const auto count = static_cast<Py_ssize_t>(params.count);
  if (nargs > count) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                 function, count, nargs);
    return false;
  }
  slots.fill(nullptr);
  if (out != nullptr) *out = nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  for (Py_ssize_t j = 0; j < keywords; ++j) {
    PyObject* keyword = PyTuple_GetItem(kwnames, j);
    const int slot = find_keyword(params, keyword);
    if (slot < 0 && out != nullptr && PyUnicode_Check(keyword) &&
        PyUnicode_CompareWithASCIIString(keyword, "out") == 0) {
      *out = args[nargs + j];  // a keyword appears at most once in a call
      continue;
    }
    if (slot < 0) {
      raise_unexpected(function, keyword);
      return false;
    }
    if (slots[static_cast<std::size_t>(slot)] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                   params.names[static_cast<std::size_t>(slot)].data());
      return false;
    }
    slots[static_cast<std::size_t>(slot)] = args[nargs + j];
  }

  for (std::size_t i = 0; i < params.count; ++i) {
    if (slots[i] == nullptr) {
      raise_missing(function, params, slots);
      return false;
    }
  }
  return true;
}

bool convert_arguments(const Parameters& params, const ArgumentSlots& slots, ScalarArguments& out) {
  out.is_put = false;
  std::size_t next = 0;
  for (std::size_t i = 0; i < params.count; ++i) {
    const bool is_flag = params.names[i] == "flag";
    const bool ok =
        is_flag ? convert_flag(slots[i], out.is_put) : convert_double(slots[i], out.x[next++]);
    if (!ok) {
      add_parameter_note(params.names[i].data());
      return false;
    }
  }
  return true;
}

PyObject* take_error_text() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* text = nullptr;
  if (type != nullptr) {
    Ref name(qualified_name(reinterpret_cast<PyTypeObject*>(type)));
    Ref message(value != nullptr ? PyObject_Str(value) : nullptr);
    if (message && PyUnicode_GetLength(message.get()) > 0) {
      text = PyUnicode_FromFormat("%U: %U", name.get(), message.get());
    } else {
      PyErr_Clear();
      text = name.release();
    }
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return text != nullptr ? text : PyUnicode_FromString("<unknown error>");
}

void set_not_an_instance(PyObject* object, PyTypeObject* required) {
  Ref required_name(qualified_name(required));
  if (!required_name) return;
  if (object == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%U'", required_name.get());
    return;
  }
  Ref object_name(qualified_name(Py_TYPE(object)));
  if (!object_name) return;
  PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%U'", object_name.get(),
               required_name.get());
}

void add_note(const char* format, ...) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    static PyObject* method = nullptr;
    va_list args;
    va_start(args, format);
    Ref note(PyUnicode_FromFormatV(format, args));
    va_end(args);
    Ref noted(note && interned(method, "add_note") != nullptr
                  ? PyObject_CallMethodObjArgs(value, method, note.get(), nullptr)
                  : nullptr);
    if (!noted) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

void add_parameter_note(const char* parameter) {
  add_note("while processing '%s'", parameter);
}

}  // namespace karvex::bindings

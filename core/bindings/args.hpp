// The argument parser shared by all 32 functions, and the conversion of the scalar arguments.
#pragma once

#include <array>

#include "bindings/functions.hpp"
#include "bindings/python.hpp"

namespace karvex::bindings {

// One borrowed argument object per parameter, in declaration order.
using ArgumentSlots = std::array<PyObject*, kMaxParameters>;

// Places the positional arguments `args[0, nargs)` and the keyword arguments (names in `kwnames`,
// values after the positional ones in `args`) into `slots`. On a malformed call raises TypeError
// and returns false; nothing is converted here, so a malformed call is reported as such even when
// its arguments also have wrong types. With `out` given, the function also takes the optional
// keyword-only argument "out", which goes there (nullptr when absent).
bool parse_arguments(const char* function, const Parameters& params, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, ArgumentSlots& slots,
                     PyObject** out = nullptr);

// The converted arguments of one option: the double parameters in declaration order (the flag
// left out) and the flag's sign.
struct ScalarArguments {
  std::array<double, kMaxParameters> x;
  bool is_put;
};

// Converts the parsed arguments in declaration order; the first failure raises the interpreter's
// exception (or the range OverflowError for the flag) with the note naming the parameter.
bool convert_arguments(const Parameters& params, const ArgumentSlots& slots, ScalarArguments& out);

}  // namespace karvex::bindings

// The 16 `_scalar` functions: parse, convert, call one kernel, wrap the result. Everything runs on
// the calling thread with the interpreter lock held.
#pragma once

#include <array>
#include <cstddef>

#include "bindings/args.hpp"
#include "bindings/functions.hpp"
#include "bindings/python.hpp"

namespace karvex::bindings {

// The result as a Python float, or for the greeks a new tuple of floats in the order of
// greek_fields. If the objects cannot be created the call fails with PanicException.
PyObject* scalar_result(double value);
PyObject* scalar_result(const Greeks& greeks);
// Several results (the single pass of the second-order Greeks) as a new tuple of floats.
PyObject* scalar_tuple(const double* values, std::size_t count);
template <std::size_t N>
PyObject* scalar_result(const std::array<double, N>& values) {
  return scalar_tuple(values.data(), N);
}

template <class Fn>
PyObject* scalar_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ArgumentSlots slots;
  if (!parse_arguments(Fn::name.c_str(), Fn::params, args, nargs, kwnames, slots)) return nullptr;
  ScalarArguments in;
  if (!convert_arguments(Fn::params, slots, in)) return nullptr;
  return scalar_result(evaluate<Fn::model, Fn::quantity>(in.is_put, in.x.data()));
}

}  // namespace karvex::bindings

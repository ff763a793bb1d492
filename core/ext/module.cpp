// The module karvex._ext: the functions beyond karvex._core's 32, from the same kernels, pool and
// dispatch. Its table drives registration, argument parsing and dispatch as _core's does; every
// vectorised function here also writes into the caller's arrays (keyword-only `out`).
//
// A new function is one row below (with its descriptor's quantity and kernel) and its stub in
// python/karvex/_ext.pyi.
#include "bindings/table.hpp"

namespace karvex::bindings {
namespace {

constexpr char kModuleDoc[] =
    "karvex's second extension module: functions beyond karvex._core, and _core's vectorised\n"
    "functions writing into the caller's float64 arrays (out=).";
constexpr char kModuleName[] = "_ext";

constexpr Literal kIntoDoc =
    "As the karvex._core function of this name; with out (a float64 array of the inputs'\n"
    "length, one-dimensional, C-contiguous, aligned, writeable and sharing no memory with\n"
    "the inputs), the results are written there and out is returned.";
constexpr Literal kIntoGreeksDoc =
    "As the karvex._core function of this name; with out (a tuple of five float64 arrays\n"
    "for delta, gamma, vega, theta and rho, each of the inputs' length, one-dimensional,\n"
    "C-contiguous, aligned, writeable and sharing no memory with the inputs or each other),\n"
    "the results are written there and out is returned.";

using enum Model;
using enum Quantity;
using enum Form;

// The functions in registration order.
PyMethodDef g_functions[] = {
    row<bsm, price, into, kIntoDoc>(),
    row<bsm, delta, into, kIntoDoc>(),
    row<bsm, gamma, into, kIntoDoc>(),
    row<bsm, vega, into, kIntoDoc>(),
    row<bsm, theta, into, kIntoDoc>(),
    row<bsm, rho, into, kIntoDoc>(),
    row<bsm, greeks, into, kIntoGreeksDoc>(),
    row<bsm, iv, into, kIntoDoc>(),
    row<black76, price, into, kIntoDoc>(),
    row<black76, delta, into, kIntoDoc>(),
    row<black76, gamma, into, kIntoDoc>(),
    row<black76, vega, into, kIntoDoc>(),
    row<black76, theta, into, kIntoDoc>(),
    row<black76, rho, into, kIntoDoc>(),
    row<black76, greeks, into, kIntoGreeksDoc>(),
    row<black76, iv, into, kIntoDoc>(),
};

}  // namespace
}  // namespace karvex::bindings

PyMODINIT_FUNC PyInit__ext(void) {
  using namespace karvex::bindings;
  return PyModuleDef_Init(&ModuleDefinition<kModuleName, kModuleDoc, g_functions>::definition);
}

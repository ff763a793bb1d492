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

constexpr Literal kAmericanPriceDoc =
    "The American price under BSM with a continuous dividend yield (Andersen, Lake and\n"
    "Offengenden's integral equation for the exercise boundary; american_ the accurate mode,\n"
    "american_fast_ the fast one). NaN for invalid inputs and where a put has r < 0 and q < r\n"
    "(a call q < 0 and r < q: two exercise boundaries, not covered).";
constexpr Literal kAmericanGreeksDoc =
    "The American delta, gamma, vega, theta and rho as a tuple of five arrays: delta, gamma\n"
    "and theta from the method, vega and rho by central differences of the price.";
constexpr Literal kAmericanIvDoc =
    "The volatility whose American price is target_price: NaN below the intrinsic value, at or\n"
    "above the bound (k for a put, s for a call) and where no volatility is found; 0.0 for a\n"
    "price without time value.";

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
    row<american, price, vectorised, kAmericanPriceDoc>(),
    row<american, greeks, vectorised, kAmericanGreeksDoc>(),
    row<american, iv, vectorised, kAmericanIvDoc>(),
    row<american_fast, price, vectorised, kAmericanPriceDoc>(),
    row<american_fast, greeks, vectorised, kAmericanGreeksDoc>(),
    row<american_fast, iv, vectorised, kAmericanIvDoc>(),
    row<american, price, scalar, "Scalar twin of `american_price`.">(),
    row<american, greeks, scalar, "Scalar twin of `american_greeks`.">(),
    row<american, iv, scalar, "Scalar twin of `american_iv`.">(),
    row<american_fast, price, scalar, "Scalar twin of `american_fast_price`.">(),
    row<american_fast, greeks, scalar, "Scalar twin of `american_fast_greeks`.">(),
    row<american_fast, iv, scalar, "Scalar twin of `american_fast_iv`.">(),
};

}  // namespace
}  // namespace karvex::bindings

PyMODINIT_FUNC PyInit__ext(void) {
  using namespace karvex::bindings;
  return PyModuleDef_Init(&ModuleDefinition<kModuleName, kModuleDoc, g_functions>::definition);
}

// The module karvex._core: its definition with one execution step and the table of its 32
// functions (which drives registration, argument parsing and kernel dispatch).
#include "bindings/table.hpp"

namespace karvex::bindings {
namespace {

constexpr char kModuleDoc[] = "karvex C++ core: BSM pricing, Greeks, implied volatility.";
constexpr char kModuleName[] = "_core";

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

}  // namespace
}  // namespace karvex::bindings

PyMODINIT_FUNC PyInit__core(void) {
  using namespace karvex::bindings;
  return PyModuleDef_Init(&ModuleDefinition<kModuleName, kModuleDoc, g_functions>::definition);
}

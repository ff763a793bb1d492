// The module karvex._ext: the functions beyond karvex._core's 32 (the normal model's among
// them), from the same kernels, pool and dispatch. Its table drives registration, argument parsing
// and dispatch as _core's does; every vectorised function here also writes into the caller's arrays
// (keyword-only `out`).
//
// A new function is one row below (with its descriptor's quantity and kernel) and its stub in
// python/karvex/_ext.pyi.
#include "bindings/table.hpp"

namespace karvex::bindings {
namespace {

constexpr char kModuleDoc[] =
    "karvex's second extension module: functions beyond karvex._core (the second-order\n"
    "Greeks), and _core's vectorised functions writing into the caller's float64 arrays.\n"
    "Every vectorised function takes a keyword-only out=: a float64 array of the inputs'\n"
    "length (a tuple of them for several results), one-dimensional, C-contiguous, aligned,\n"
    "writeable and sharing no memory with the inputs, written without a copy and returned.";
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

// The second-order Greeks (kernels/second_order.hpp states the formulas). Time Greeks are per year
// of elapsed time, as theta: the derivative in the time to expiry t, negated.
constexpr Literal kVannaDoc =
    "Vanna d2V/(ds dsigma): the change of delta per 1.0 of volatility, the same for calls and\n"
    "puts.";
constexpr Literal kVolgaDoc =
    "Volga (vomma) d2V/dsigma2: the change of vega per 1.0 of volatility; raw units.";
constexpr Literal kCharmDoc =
    "Charm: the change of delta per year of elapsed time, -d(delta)/dt with t the time to\n"
    "expiry (the sign convention of theta).";
constexpr Literal kVetaDoc =
    "Veta: the change of vega (per 1.0 of volatility) per year of elapsed time, -d(vega)/dt.";
constexpr Literal kSpeedDoc = "Speed d(gamma)/ds: the change of gamma per 1.0 of the underlying.";
constexpr Literal kZommaDoc = "Zomma d(gamma)/dsigma: the change of gamma per 1.0 of volatility.";
constexpr Literal kColorDoc = "Color: the change of gamma per year of elapsed time, -d(gamma)/dt.";
constexpr Literal kDualDeltaDoc =
    "Dual delta dV/dk: -exp(-r*t)*N(d2) for a call, exp(-r*t)*N(-d2) for a put (minus the\n"
    "discounted risk-neutral probability of exercise, for a call).";
constexpr Literal kDualGammaDoc =
    "Dual gamma d2V/dk2: the discounted risk-neutral density of the underlying at k.";
constexpr Literal kDividendRhoDoc =
    "Dividend rho dV/dq: the change of the price per 1.0 of dividend yield.";
constexpr Literal kBsmSecondDoc =
    "All ten second-order Greeks in one pass, each equal bit for bit to its own function:\n"
    "(vanna, volga, charm, veta, speed, zomma, color, dual_delta, dual_gamma, dividend_rho).\n"
    "With out, a tuple of ten float64 arrays, written there.";
constexpr Literal kBlack76SecondDoc =
    "All nine second-order Greeks of Black-76 in one pass, each equal bit for bit to its own\n"
    "function: (vanna, volga, charm, veta, speed, zomma, color, dual_delta, dual_gamma).\n"
    "With out, a tuple of nine float64 arrays, written there.";
constexpr Literal kScalarTwinDoc = "Scalar twin of the vectorised function of the same name.";
// The normal (Bachelier) model: forward f and strike k may be zero or negative, sigma is absolute
// (units of f per square root of a year), prices discounted with exp(-r*t).
#define KARVEX_NORMAL_ARRAYS                                                                   \
  "\n\nOne-dimensional arrays of equal length (float64, int8 for flag: negative = put); with " \
  "out\n(float64 arrays as for karvex._ext.bsm_price), the results are written there."
constexpr Literal kNormalPriceDoc =
    "Normal-model price DF*((theta*w)*N(theta*d) + s*n(d)), w = f - k, s = sigma*sqrt(t),\n"
    "d = w/s, DF = exp(-r*t); t <= 0: intrinsic value, sigma <= 0: discounted intrinsic "
    "value." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalDeltaDoc = "Normal-model delta dV/df." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalGammaDoc = "Normal-model gamma d2V/df2." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalVegaDoc =
    "Normal-model vega dV/dsigma, per 1.0 of absolute volatility." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalThetaDoc =
    "Normal-model theta -dV/dt per year, t the time to expiry." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalRhoDoc =
    "Normal-model rho dV/dr with f held fixed: -t times the price." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalGreeksDoc =
    "Normal-model delta, gamma, vega, theta and rho in one pass, each bit for bit its own\n"
    "function; out is a tuple of five float64 arrays." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalIvDoc =
    "Implied normal volatility: 0.0 at or below the discounted intrinsic value (by up to\n"
    "1e-12), NaN further below, for invalid inputs (t <= 0, non-finite values, a negative\n"
    "or infinite price) and where the volatility is not finite. There is no upper bound:\n"
    "every finite price above the intrinsic value has a volatility." KARVEX_NORMAL_ARRAYS;
constexpr Literal kNormalScalarDoc =
    "Scalar twin of the vectorised normal-model function of the same name: numbers in, a\n"
    "float (a tuple for the greeks) out.";
#undef KARVEX_NORMAL_ARRAYS

constexpr Literal kAmericanPriceDoc =
    "The American price under BSM with a continuous dividend yield (Andersen, Lake and\n"
    "Offengenden's integral equation for the exercise boundary), in the accurate mode; the\n"
    "american_fast and american_precise functions take the fast and the precise one. NaN\n"
    "for invalid inputs and where a put has r < 0 and q < r (a call q < 0 and r < q: two\n"
    "exercise boundaries, not covered).";
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
    row<bsm, vanna, into, kVannaDoc>(),
    row<bsm, volga, into, kVolgaDoc>(),
    row<bsm, charm, into, kCharmDoc>(),
    row<bsm, veta, into, kVetaDoc>(),
    row<bsm, speed, into, kSpeedDoc>(),
    row<bsm, zomma, into, kZommaDoc>(),
    row<bsm, color, into, kColorDoc>(),
    row<bsm, dual_delta, into, kDualDeltaDoc>(),
    row<bsm, dual_gamma, into, kDualGammaDoc>(),
    row<bsm, dividend_rho, into, kDividendRhoDoc>(),
    row<bsm, second_order, into, kBsmSecondDoc>(),
    row<black76, vanna, into, kVannaDoc>(),
    row<black76, volga, into, kVolgaDoc>(),
    row<black76, charm, into, kCharmDoc>(),
    row<black76, veta, into, kVetaDoc>(),
    row<black76, speed, into, kSpeedDoc>(),
    row<black76, zomma, into, kZommaDoc>(),
    row<black76, color, into, kColorDoc>(),
    row<black76, dual_delta, into, kDualDeltaDoc>(),
    row<black76, dual_gamma, into, kDualGammaDoc>(),
    row<black76, second_order, into, kBlack76SecondDoc>(),
    row<bsm, vanna, scalar, kScalarTwinDoc>(),
    row<bsm, volga, scalar, kScalarTwinDoc>(),
    row<bsm, charm, scalar, kScalarTwinDoc>(),
    row<bsm, veta, scalar, kScalarTwinDoc>(),
    row<bsm, speed, scalar, kScalarTwinDoc>(),
    row<bsm, zomma, scalar, kScalarTwinDoc>(),
    row<bsm, color, scalar, kScalarTwinDoc>(),
    row<bsm, dual_delta, scalar, kScalarTwinDoc>(),
    row<bsm, dual_gamma, scalar, kScalarTwinDoc>(),
    row<bsm, dividend_rho, scalar, kScalarTwinDoc>(),
    row<bsm, second_order, scalar, kScalarTwinDoc>(),
    row<black76, vanna, scalar, kScalarTwinDoc>(),
    row<black76, volga, scalar, kScalarTwinDoc>(),
    row<black76, charm, scalar, kScalarTwinDoc>(),
    row<black76, veta, scalar, kScalarTwinDoc>(),
    row<black76, speed, scalar, kScalarTwinDoc>(),
    row<black76, zomma, scalar, kScalarTwinDoc>(),
    row<black76, color, scalar, kScalarTwinDoc>(),
    row<black76, dual_delta, scalar, kScalarTwinDoc>(),
    row<black76, dual_gamma, scalar, kScalarTwinDoc>(),
    row<black76, second_order, scalar, kScalarTwinDoc>(),
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
    row<american_precise, price, vectorised, kAmericanPriceDoc>(),
    row<american_precise, greeks, vectorised, kAmericanGreeksDoc>(),
    row<american_precise, iv, vectorised, kAmericanIvDoc>(),
    row<american_precise, price, scalar, "Scalar twin of `american_precise_price`.">(),
    row<american_precise, greeks, scalar, "Scalar twin of `american_precise_greeks`.">(),
    row<american_precise, iv, scalar, "Scalar twin of `american_precise_iv`.">(),
    row<normal, price, into, kNormalPriceDoc>(),
    row<normal, delta, into, kNormalDeltaDoc>(),
    row<normal, gamma, into, kNormalGammaDoc>(),
    row<normal, vega, into, kNormalVegaDoc>(),
    row<normal, theta, into, kNormalThetaDoc>(),
    row<normal, rho, into, kNormalRhoDoc>(),
    row<normal, greeks, into, kNormalGreeksDoc>(),
    row<normal, iv, into, kNormalIvDoc>(),
    row<normal, price, scalar, kNormalScalarDoc>(),
    row<normal, delta, scalar, kNormalScalarDoc>(),
    row<normal, gamma, scalar, kNormalScalarDoc>(),
    row<normal, vega, scalar, kNormalScalarDoc>(),
    row<normal, theta, scalar, kNormalScalarDoc>(),
    row<normal, rho, scalar, kNormalScalarDoc>(),
    row<normal, greeks, scalar, kNormalScalarDoc>(),
    row<normal, iv, scalar, kNormalScalarDoc>(),
};

}  // namespace
}  // namespace karvex::bindings

PyMODINIT_FUNC PyInit__ext(void) {
  using namespace karvex::bindings;
  return PyModuleDef_Init(&ModuleDefinition<kModuleName, kModuleDoc, g_functions>::definition);
}

// The choice of entry into the platform's exp and log (see platform.hpp).
#include "kernels/platform.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__GLIBC__)
#include <dlfcn.h>
#include <gnu/lib-names.h>
#endif

namespace karvex::platform {

Function exp_function = &::exp;
Function log_function = &::log;

namespace {

bool same_bits(double a, double b) noexcept {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether `candidate` returns what `reference` does on every special case of exp and log
// (zeros, infinities, NaN of both signs, negative, subnormal and extreme arguments, the
// overflow and underflow thresholds) and on 4,096 arguments spread over their ranges. A library
// can agree on exactly these arguments and on no others (tests/kernels/preloaded/lying_libm.cpp
// repeats them to show it): the probe only tells the C library's own inner functions from their
// wrappers, it never admits another library's (see inner_of).
bool agrees(Function candidate, Function reference, bool is_exp) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  // clang-format off
  const double specials[] = {
      0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 0x1.fffffffffffffp-1, 0x1.0000000000001p+0,
      709.78, 709.79, -708.4, -740.0, -745.13, -745.14, 1000.0, -1000.0,
      1e-17, -1e-17, 1e-300, -1e-300, 0x1p-1074, 0x1p-1022, 1e300, -1e300,
      inf, -inf, nan, -nan};
  // clang-format on
  for (const double x : specials) {
    if (!same_bits(candidate(x), reference(x))) return false;
  }
  std::uint64_t state = 0x9e3779b97f4a7c15u;
  for (int i = 0; i < 4096; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const double u = static_cast<double>(state >> 11) * 0x1p-53;
    const double x =
        is_exp ? 1500.0 * u - 750.0 : std::ldexp(u + 0.5, static_cast<int>(i % 2100) - 1050);
    if (!same_bits(candidate(x), reference(x))) return false;
  }
  return true;
}

#if defined(__GLIBC__)
// The inner function `inner` of the C library's mathematics library (found by its soname, so
// that no preloaded library stands in for it), or nullptr. Only when `wrapper`, the function this
// process calls by name, lies in that same library: a preloaded exp or log is called by name,
// whatever inner functions its library exports.
Function inner_of(Function wrapper, const char* inner) noexcept {
  void* libm = dlopen(LIBM_SO, RTLD_LAZY | RTLD_NOLOAD);
  if (libm == nullptr) return nullptr;
  // The version the library gave the inner functions: GLIBC_2.15 on x86-64, the first version of
  // the library on architectures that came later (GLIBC_2.17 on 64-bit ARM and POWER).
  static constexpr const char* versions[] = {"GLIBC_2.15", "GLIBC_2.17"};
  void* symbol = nullptr;
  for (const char* version : versions) {
    if (symbol == nullptr) symbol = dlvsym(libm, inner, version);
  }
  dlclose(libm);  // the library stays loaded: this process is linked against it
  Dl_info of_wrapper, of_inner;
  if (symbol == nullptr || dladdr(reinterpret_cast<void*>(wrapper), &of_wrapper) == 0 ||
      dladdr(symbol, &of_inner) == 0 || of_wrapper.dli_fbase != of_inner.dli_fbase) {
    return nullptr;
  }
  return reinterpret_cast<Function>(symbol);
}
#endif

bool choose_inner_functions() noexcept {
#if defined(__GLIBC__)
  const Function exp_inner = inner_of(exp_function, "__exp_finite");
  const Function log_inner = inner_of(log_function, "__log_finite");
  if (exp_inner == nullptr || log_inner == nullptr) return false;
  if (!agrees(exp_inner, exp_function, true) || !agrees(log_inner, log_function, false)) {
    return false;
  }
  exp_function = exp_inner;
  log_function = log_inner;
  return true;
#else
  return false;
#endif
}

const bool inner_in_use = choose_inner_functions();

}  // namespace

bool inner_functions_in_use() noexcept {
  return inner_in_use;
}

}  // namespace karvex::platform

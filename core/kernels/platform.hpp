// The platform mathematics library's exp and log, which define every
// exponential and logarithm of the kernels (the fdlibm exponential of erfc
// apart), entered as cheaply as the library allows.
//
// The GNU C library's exp and log are wrappers: each calls the library's inner
// function (chosen once from the processor's features) and adds a test for a
// range or domain error, to set errno. The value returned is the inner
// function's, unchanged. The library also exports the inner functions
// themselves, as __exp_finite and __log_finite (version GLIBC_2.15 on x86-64).
// When exp and log resolve into the C library's own mathematics library (libm,
// found by its soname), and its inner functions return the wrappers' bits on a
// set of probes that covers every special case, the kernels call them directly:
// the same functions and the same results, without the wrapper's call, second
// jump and errno test (about a third of the time of an exp on x86-64).
// Elsewhere (another C library, an exp preloaded from another library, whatever
// inner functions that library exports) the kernels call exp and log by name.
// Nothing in karvex reads errno.
#pragma once

namespace karvex::platform {

using Function = double (*)(double) noexcept;

// Set once while the library loads, before any caller can run a kernel.
extern Function exp_function;
extern Function log_function;

// Whether exp_function and log_function are the library's inner functions.
bool inner_functions_in_use() noexcept;

[[gnu::always_inline]] inline double exp(double x) noexcept {
  return exp_function(x);
}
[[gnu::always_inline]] inline double log(double x) noexcept {
  return log_function(x);
}

}  // namespace karvex::platform

// A mathematics library to preload under the platform tests: exp and log of its own (the C
// library's results with the last bit of every finite non-zero value flipped), and inner functions
// __exp_finite and __log_finite that return exactly those values on the arguments the load-time
// probe of core/kernels/platform.cpp tries, and the C library's elsewhere. A check that trusts the
// probe alone takes them for this library's exp and log.
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Function = double (*)(double);

std::uint64_t bits_of(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// The definition that this library hides.
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The C library's value with its last bit flipped, when finite and not zero.
double lie(double x) {
  if (x == 0.0 || !(x - x == 0.0)) return x;
  std::uint64_t u = bits_of(x) ^ 1u;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// The probe's arguments, as bit patterns in ascending order: its special cases and its 4,096
// generated arguments for exp (is_exp) or log. A copy of those in agrees() in platform.cpp, on
// purpose: this library stands for one written to pass that very probe.
std::vector<std::uint64_t> probe_arguments(bool is_exp) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  // clang-format off
  const double specials[] = {
      0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 0x1.fffffffffffffp-1, 0x1.0000000000001p+0,
      709.78, 709.79, -708.4, -740.0, -745.13, -745.14, 1000.0, -1000.0,
      1e-17, -1e-17, 1e-300, -1e-300, 0x1p-1074, 0x1p-1022, 1e300, -1e300,
      inf, -inf, nan, -nan};
  // clang-format on
  std::vector<std::uint64_t> arguments;
  for (const double x : specials) arguments.push_back(bits_of(x));
  std::uint64_t state = 0x9e3779b97f4a7c15u;
  for (int i = 0; i < 4096; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const double u = static_cast<double>(state >> 11) * 0x1p-53;
    const double x =
        is_exp ? 1500.0 * u - 750.0 : __builtin_ldexp(u + 0.5, static_cast<int>(i % 2100) - 1050);
    arguments.push_back(bits_of(x));
  }
  std::sort(arguments.begin(), arguments.end());
  return arguments;
}

bool probed(const std::vector<std::uint64_t>& arguments, double x) {
  return std::binary_search(arguments.begin(), arguments.end(), bits_of(x));
}

}  // namespace

#define EXPORTED extern "C" __attribute__((visibility("default")))

EXPORTED double exp(double x) noexcept {
  static const Function library_exp = next_definition("exp");
  return lie(library_exp(x));
}

EXPORTED double log(double x) noexcept {
  static const Function library_log = next_definition("log");
  return lie(library_log(x));
}

EXPORTED double __exp_finite(double x) noexcept {
  static const Function library_exp = next_definition("exp");
  static const std::vector<std::uint64_t> arguments = probe_arguments(true);
  return probed(arguments, x) ? exp(x) : library_exp(x);
}

EXPORTED double __log_finite(double x) noexcept {
  static const Function library_log = next_definition("log");
  static const std::vector<std::uint64_t> arguments = probe_arguments(false);
  return probed(arguments, x) ? log(x) : library_log(x);
}

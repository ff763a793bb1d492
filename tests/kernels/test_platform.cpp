// The kernels' entry into the platform's exp and log returns the library's own exp and log, bit
// for bit, whichever entry the load-time choice took.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kernels/platform.hpp"
#include "support.hpp"

namespace karvex::testing {
namespace {

// The library's exp and log by name, through an opaque pointer so that the compiler cannot
// evaluate a call itself.
double (*volatile library_exp)(double) = &::exp;
double (*volatile library_log)(double) = &::log;

TEST(PlatformMath, ExpAndLogAreTheLibrarysBitForBitOnWideRandomAndSpecialArguments) {
  // clang-format off
  const double specials[] = {
      0.0, -0.0, 1.0, -1.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, 1e-300, -1e300, 1e300,
      709.782712893384, 709.7827128933841, -708.39, -745.1332191019411, -745.1332191019412,
      0x1.fffffffffffffp+1023, inf, -inf, nan, -nan};
  // clang-format on
  for (const double x : specials) {
    EXPECT_EQ(bits(platform::exp(x)), bits(library_exp(x))) << "exp(" << x << ")";
    EXPECT_EQ(bits(platform::log(x)), bits(library_log(x))) << "log(" << x << ")";
  }
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> exponent(-760.0, 760.0), binade(-1080.0, 1030.0),
      unit(1.0, 2.0);
  for (int i = 0; i < 1'000'000; ++i) {
    const double x = exponent(rng);
    const double y = std::ldexp(unit(rng), static_cast<int>(binade(rng)));
    ASSERT_EQ(bits(platform::exp(x)), bits(library_exp(x))) << "exp(" << x << ")";
    ASSERT_EQ(bits(platform::log(y)), bits(library_log(y))) << "log(" << y << ")";
  }
}

TEST(PlatformMath, TheGnuLibraryIsEnteredPastItsErrnoWrappers) {
#if defined(__GLIBC__)
  EXPECT_TRUE(platform::inner_functions_in_use());
#else
  GTEST_SKIP() << "not the GNU C library: exp and log are called by name";
#endif
}

}  // namespace
}  // namespace karvex::testing

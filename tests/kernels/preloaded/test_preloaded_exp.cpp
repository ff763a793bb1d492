// With an exp and log preloaded from a library that also exports inner functions agreeing with
// them on the load-time probe only (lying_libm.cpp), the kernels call exp and log by name: the
// inner functions are taken from the C library's own mathematics library or not at all.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kernels/platform.hpp"
#include "support.hpp"

#if defined(__GLIBC__)
#include <dlfcn.h>
#include <gnu/lib-names.h>
#endif

namespace karvex::testing {
namespace {

// exp and log by name, as this process resolves them (the preloaded library's), through an opaque
// pointer so that the compiler cannot evaluate a call itself.
double (*volatile named_exp)(double) = &::exp;
double (*volatile named_log)(double) = &::log;

class PreloadedMath : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__GLIBC__)
    void* libm = dlopen(LIBM_SO, RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(libm, nullptr);
    const auto libm_exp = reinterpret_cast<double (*)(double)>(dlsym(libm, "exp"));
    dlclose(libm);
    ASSERT_NE(libm_exp, nullptr);
    ASSERT_NE(bits(named_exp(0.5)), bits(libm_exp(0.5)))
        << "exp is the C library's: run this test through ctest, which preloads lying_libm";
#else
    GTEST_SKIP() << "not the GNU C library: no inner functions to take";
#endif
  }
};

TEST_F(PreloadedMath, InnerFunctionsOfAnotherLibraryAreNotTaken) {
  EXPECT_FALSE(platform::inner_functions_in_use());
}

TEST_F(PreloadedMath, ExpAndLogAreThePreloadedOnesBitForBit) {
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> exponent(-760.0, 760.0), binade(-1080.0, 1030.0),
      unit(1.0, 2.0);
  for (int i = 0; i < 100'000; ++i) {
    const double x = exponent(rng);
    const double y = std::ldexp(unit(rng), static_cast<int>(binade(rng)));
    ASSERT_EQ(bits(platform::exp(x)), bits(named_exp(x))) << "exp(" << x << ")";
    ASSERT_EQ(bits(platform::log(y)), bits(named_log(y))) << "log(" << y << ")";
  }
}

}  // namespace
}  // namespace karvex::testing

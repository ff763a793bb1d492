// The American price kernel against the finite-difference table tests/data/american.csv
// (tools/reference/gen_american.py: Crank-Nicolson with Richardson extrapolation, independent of
// the integral-equation method): RMSE and maximum error of each mode on the benchmark portfolio,
// on calls solved as calls (so the call-put symmetry is checked against independent values) and
// on the edge regimes (q < 0, r = 0, no early exercise).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kernels/american.hpp"
#include "support.hpp"

namespace {

using karvex::AmericanAccurate;
using karvex::AmericanFast;
using namespace karvex::testing;

template <class Mode>
double price(bool is_put, double s, double k, double t, double r, double q, double sigma) {
  karvex::AmericanStatus st;
  return karvex::american_price_kernel<Mode>(is_put, s, k, t, r, q, sigma, st);
}

struct Errors {
  double rmse, max;
};

// RMSE and maximum error of a mode on the rows of one set of the table (the finite-difference
// values are good to a few 1e-8, their error estimate below 1e-6 on the rows kept here).
template <class Mode>
Errors errors_on(const std::string& set) {
  const auto table = read_csv(KARVEX_TEST_DATA_DIR "/american.csv");
  double sum = 0.0, max = 0.0;
  int n = 0;
  for (const auto& row : table) {
    if (row.text("set") != set || row.num("error_estimate") > 1e-6) continue;
    const double got = price<Mode>(row.text("kind") == "put", row.num("s"), row.num("k"),
                                   row.num("t"), row.num("r"), row.num("q"), row.num("sigma"));
    const double e = std::fabs(got - row.num("price"));
    sum += e * e;
    max = e > max ? e : max;
    ++n;
  }
  EXPECT_GT(n, 0) << set;
  return {std::sqrt(sum / n), max};
}

TEST(AmericanAccuracy, FastModeOnTheBenchmarkPortfolioAndTheCalls) {
  for (const char* set : {"portfolio", "calls", "edge"}) {
    const Errors e = errors_on<AmericanFast>(set);
    EXPECT_LE(e.rmse, 1.5e-4) << set;
    EXPECT_LE(e.max, 2.5e-3) << set;
  }
}

TEST(AmericanAccuracy, AccurateModeOnTheBenchmarkPortfolioAndTheCalls) {
  for (const char* set : {"portfolio", "calls", "edge"}) {
    const Errors e = errors_on<AmericanAccurate>(set);
    EXPECT_LE(e.rmse, 1.2e-5) << set;
    EXPECT_LE(e.max, 2e-4) << set;
  }
}

}  // namespace

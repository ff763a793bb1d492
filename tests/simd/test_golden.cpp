// Every function on every path against the golden table, bit for bit: the scalar kernels, the
// block loops on each vector unit this processor has, and the worker pool on the active path.
//
// tests/data/golden.bin holds inputs and the exact results of an independent transcription of the
// formulas (tools/reference/bitexact.py, written by tools/reference/gen_golden.py): every region
// and branch of every piece, degenerate inputs of every kind, and random options. Unlike the path
// tests, which compare the paths with one another, this catches a change of operation order in a
// formula the paths share. Any two NaNs count as equal.
//
// The results rest on the platform's exp, log and cbrt. The table carries their bits on a few
// hundred arguments; on a platform whose functions differ the tests are skipped and say so, and the
// tolerance tests against high-precision values (tests/kernels) remain the check there.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../kernels/support.hpp"
#include "golden_table.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/platform.hpp"
#include "kernels/price.hpp"
#include "pool/pool.hpp"
#include "simd/dispatch.hpp"

namespace karvex::testing {
namespace {

// The table's columns, in the order gen_golden.py writes them.
enum Input { kFlag, kS, kK, kT, kR, kQ, kSigma, kTargetBsm, kTargetBlack76, kInputs };
constexpr const char* kQuantities[] = {"price", "delta", "gamma", "vega", "theta", "rho", "iv"};
constexpr std::size_t kPerModel = std::size(kQuantities);
constexpr std::size_t kOutputs = 2 * kPerModel;

struct Golden {
  std::string error;  // why the table cannot be used here (empty: it can)
  std::vector<double> column[kInputs];
  std::vector<std::int8_t> flag;
  std::vector<double> expected[kOutputs];
  std::size_t rows = 0;
};

Golden read_golden() {
  Golden g;
  const std::string path = std::string(KARVEX_TEST_DATA_DIR) + "/golden.bin";
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string header;
  std::getline(in, header);
  if (header.rfind("karvex golden table 1;", 0) != 0)
    throw std::runtime_error("not a golden table");
  const std::pair<const char*, double (*)(double)> functions[] = {
      {"exp", platform_exp}, {"log", platform_log}, {"cbrt", platform_cbrt}};
  for (const auto& [name, fn] : functions) {
    const std::string why =
        fingerprint_mismatch(in, name, fn, std::stoul(header_field(header, name)));
    if (g.error.empty()) g.error = why;
  }
  std::string outputs;
  for (const char* model : {"bsm", "black76"}) {
    for (const char* quantity : kQuantities) {
      if (!outputs.empty()) outputs += ',';
      outputs.append(model).append("_").append(quantity);
    }
  }
  if (header_field(header, "inputs") != "flag,s,k,t,r,q,sigma,target_bsm,target_black76" ||
      header_field(header, "outputs") != outputs) {
    throw std::runtime_error("the golden table's columns are not the ones this test reads");
  }
  g.rows = std::stoul(header_field(header, "rows"));
  for (auto& c : g.column) c.resize(g.rows);
  for (auto& c : g.expected) c.resize(g.rows);
  for (std::size_t i = 0; i < g.rows; ++i) {
    double row[kInputs + kOutputs];
    in.read(reinterpret_cast<char*>(row), sizeof row);
    for (std::size_t c = 0; c < kInputs; ++c) g.column[c][i] = row[c];
    for (std::size_t c = 0; c < kOutputs; ++c) g.expected[c][i] = row[kInputs + c];
  }
  if (!in) throw std::runtime_error(path + " is truncated");
  for (const double f : g.column[kFlag]) g.flag.push_back(static_cast<std::int8_t>(f));
  return g;
}

const Golden& golden() {
  static const Golden g = read_golden();
  return g;
}

// One model's view of the table: the columns a path reads (Black-76: the forward as s, the rate
// again as q) and the target prices in place of sigma for the inversion.
struct Model {
  bool black76;
  std::vector<double> q;
  simd::OptionColumns options() const {
    const Golden& g = golden();
    return {g.flag.data(),          g.column[kS].data(), g.column[kK].data(),
            g.column[kT].data(),    g.column[kR].data(), q.data(),
            g.column[kSigma].data()};
  }
  simd::OptionColumns prices() const {
    simd::OptionColumns in = options();
    in.sigma = golden().column[black76 ? kTargetBlack76 : kTargetBsm].data();
    return in;
  }
  const std::vector<double>& expected(std::size_t quantity) const {
    return golden().expected[(black76 ? kPerModel : 0) + quantity];
  }
  const char* name() const { return black76 ? "black76" : "bsm"; }
};

Model model(bool black76) {
  const Golden& g = golden();
  return {black76, black76 ? g.column[kR] : g.column[kQ]};
}

// Counts the rows where `got` differs from the table and reports the first few with their inputs.
void expect_table(const Model& m, std::size_t quantity, const std::vector<double>& got,
                  const std::string& where) {
  const Golden& g = golden();
  const std::vector<double>& want = m.expected(quantity);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < g.rows; ++i) {
    if (identical(got[i], want[i])) continue;
    if (++mismatches > 10) continue;
    std::ostringstream os;
    os << std::hexfloat << m.name() << "_" << kQuantities[quantity] << " on " << where << ", row "
       << i << " (flag " << int{g.flag[i]} << ", s " << g.column[kS][i] << ", k " << g.column[kK][i]
       << ", t " << g.column[kT][i] << ", r " << g.column[kR][i] << ", q " << m.q[i] << ", sigma "
       << g.column[kSigma][i] << ", target " << g.column[m.black76 ? kTargetBlack76 : kTargetBsm][i]
       << "): " << got[i] << " instead of " << want[i];
    ADD_FAILURE() << os.str();
  }
  EXPECT_EQ(mismatches, 0u) << m.name() << "_" << kQuantities[quantity] << " on " << where
                            << ", of " << g.rows << " rows";
}

class GoldenTable : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!golden().error.empty()) GTEST_SKIP() << golden().error;
  }
};

TEST_F(GoldenTable, ScalarKernelsReturnTheTableBits) {
  const Golden& g = golden();
  for (const bool black76 : {false, true}) {
    const Model m = model(black76);
    std::vector<std::vector<double>> got(kPerModel, std::vector<double>(g.rows));
    std::vector<std::vector<double>> single(5, std::vector<double>(g.rows));
    for (std::size_t i = 0; i < g.rows; ++i) {
      const bool put = g.flag[i] < 0;
      const double s = g.column[kS][i], k = g.column[kK][i], t = g.column[kT][i],
                   r = g.column[kR][i], q = m.q[i], sigma = g.column[kSigma][i];
      got[0][i] = bsm_price_kernel(put, s, k, t, r, q, sigma);
      got[1][i] = bsm_delta_kernel(put, s, k, t, r, q, sigma);
      got[2][i] = bsm_gamma_kernel(s, k, t, r, q, sigma);
      got[3][i] = bsm_vega_kernel(s, k, t, r, q, sigma);
      got[4][i] = bsm_theta_kernel(put, s, k, t, r, q, sigma);
      got[5][i] = black76 ? black76_rho_kernel(put, s, k, t, r, sigma)
                          : bsm_rho_kernel(put, s, k, t, r, q, sigma);
      got[6][i] = bsm_iv_kernel(put, m.prices().sigma[i], s, k, t, r, q);
      const Greeks all = black76 ? black76_greeks_kernel(put, s, k, t, r, sigma)
                                 : bsm_greeks_kernel(put, s, k, t, r, q, sigma);
      single[0][i] = all.delta;
      single[1][i] = all.gamma;
      single[2][i] = all.vega;
      single[3][i] = all.theta;
      single[4][i] = all.rho;
    }
    for (std::size_t quantity = 0; quantity < kPerModel; ++quantity) {
      expect_table(m, quantity, got[quantity], "the scalar kernel");
    }
    for (std::size_t greek = 0; greek < 5; ++greek) {
      expect_table(m, greek + 1, single[greek], "the single-pass kernel");
    }
  }
}

// Evaluates one model's quantity (0..6 as kQuantities, or 7: the five Greeks in one pass) over
// [begin, end) on a path, as the vectorised entry points do.
void evaluate_range(simd::Path path, const Model& m, std::size_t quantity, double* const* out,
                    std::size_t begin, std::size_t end) {
  const simd::OptionColumns in = m.options();
  static constexpr simd::Greek kGreek[] = {simd::Greek::delta, simd::Greek::gamma,
                                           simd::Greek::vega, simd::Greek::theta, simd::Greek::rho};
  if (quantity == 0) {
    simd::price_range(path, in, out[0], begin, end);
  } else if (quantity == 6) {
    simd::iv_range(path, m.prices(), out[0], begin, end);
  } else if (quantity == 5 && m.black76) {
    simd::black76_rho_range(path, in, out[0], begin, end);
  } else if (quantity < 6) {
    simd::greeks_range(path, kGreek[quantity - 1], in, out, begin, end);
  } else {
    simd::greeks_range(path, simd::Greek::all, in, out, begin, end);
    if (m.black76) simd::black76_rho_range(path, in, out[4], begin, end);
  }
}

constexpr std::size_t kRangeKinds = kPerModel + 1;  // the seven quantities and the single pass

// Runs `fill(quantity, out)` for every quantity and the single pass of both models and checks each
// result against the table.
void expect_every_quantity(
    const std::string& where,
    const std::function<void(const Model&, std::size_t, double* const*)>& fill) {
  const Golden& g = golden();
  for (const bool black76 : {false, true}) {
    const Model m = model(black76);
    for (std::size_t quantity = 0; quantity < kRangeKinds; ++quantity) {
      const std::size_t outputs = quantity == kPerModel ? 5 : 1;
      std::vector<std::vector<double>> got(outputs, std::vector<double>(g.rows, -7.0));
      std::array<double*, 5> out{};
      for (std::size_t o = 0; o < outputs; ++o) out[o] = got[o].data();
      fill(m, quantity, out.data());
      for (std::size_t o = 0; o < outputs; ++o) {
        expect_table(m, outputs == 5 ? o + 1 : quantity, got[o],
                     outputs == 5 ? where + " (single pass)" : where);
      }
    }
  }
}

class GoldenPath : public GoldenTable, public ::testing::WithParamInterface<simd::Path> {
 protected:
  void SetUp() override {
    GoldenTable::SetUp();
    if (!IsSkipped() && !simd::supported(GetParam())) {
      GTEST_SKIP() << "this processor lacks " << simd::path_name(GetParam())
                   << ": that path was not run";
    }
  }
};

// The whole table in pieces of varying length, as the pool cuts ranges.
TEST_P(GoldenPath, EveryFunctionReturnsTheTableBits) {
  const simd::Path path = GetParam();
  expect_every_quantity(simd::path_name(path),
                        [path](const Model& m, std::size_t quantity, double* const* out) {
                          const std::size_t n = golden().rows;
                          std::size_t piece = 1;
                          for (std::size_t begin = 0; begin < n; piece = piece * 7 % 997 + 1) {
                            const std::size_t end = std::min(n, begin + piece);
                            evaluate_range(path, m, quantity, out, begin, end);
                            begin = end;
                          }
                        });
}

INSTANTIATE_TEST_SUITE_P(Paths, GoldenPath, ::testing::ValuesIn(simd::kPaths),
                         [](const ::testing::TestParamInfo<simd::Path>& info) {
                           return std::string(simd::path_name(info.param));
                         });

struct PoolRequest {
  const Model* model;
  std::size_t quantity;
  double* const* out;
};

std::size_t fill_piece(const void* context, std::size_t begin, std::size_t end) {
  const auto& request = *static_cast<const PoolRequest*>(context);
  evaluate_range(simd::active_path(), *request.model, request.quantity, request.out, begin, end);
  return end - begin;
}

TEST_F(GoldenTable, WorkerPoolReturnsTheTableBits) {
  expect_every_quantity(
      std::string("the worker pool (") + simd::path_name(simd::active_path()) + ")",
      [](const Model& m, std::size_t quantity, double* const* out) {
        const PoolRequest request{&m, quantity, out};
        EXPECT_EQ(pool::process_pool().evaluate_ranges(golden().rows, &fill_piece, &request),
                  golden().rows);
      });
}

}  // namespace
}  // namespace karvex::testing

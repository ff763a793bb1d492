// The normal model on every path against its golden table, bit for bit: the scalar kernels and
// the single pass, the block loops on each vector unit this processor has.
//
// tests/data/golden_normal.bin holds inputs and the exact results of an independent plain-Python
// transcription of the formulas (tools/reference/bachelier_exact.py, written by
// gen_golden_normal.py): every special value on every parameter, both sides of every range
// boundary of the time value, the inversion's edges and switches, and random options. It catches
// a change of operation order in a piece that all paths share. Any two NaNs count as equal (the
// path tests pin the NaN bits). On a platform whose exp, log or cbrt differ from the table's
// fingerprint the tests are skipped and say so.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../kernels/support.hpp"
#include "kernels/bachelier.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/platform.hpp"
#include "simd/bachelier_dispatch.hpp"

namespace karvex::testing {
namespace {

using simd::NormalQuantity;
using simd::Path;

enum Input { kFlag, kF, kK, kT, kR, kSigma, kTarget, kInputs };
constexpr std::size_t kOutputs = 7;  // price, delta, gamma, vega, theta, rho, iv

struct Table {
  std::string error;  // why the table does not hold here (empty: it does)
  std::size_t rows = 0;
  std::vector<double> in[kInputs];
  std::vector<std::int8_t> flag;
  std::vector<double> want[kOutputs];
};

std::string field(const std::string& header, const std::string& key) {
  const std::size_t at = header.find(key + "=");
  if (at == std::string::npos) throw std::runtime_error("golden table header lacks " + key);
  const std::size_t begin = at + key.size() + 1;
  return header.substr(begin, header.find_first_of("; \n", begin) - begin);
}

double platform_exp(double x) {
  return platform::exp(x);
}
double platform_log(double x) {
  return platform::log(x);
}
double platform_cbrt(double x) {
  return std::cbrt(x);
}

Table read_table() {
  Table table;
  std::ifstream in(KARVEX_TEST_DATA_DIR "/golden_normal.bin", std::ios::binary);
  if (!in) throw std::runtime_error("cannot open golden_normal.bin");
  std::string header;
  std::getline(in, header);
  if (field(header, "inputs") != "flag,f,k,t,r,sigma,target" ||
      field(header, "outputs") != "price,delta,gamma,vega,theta,rho,iv")
    throw std::runtime_error("golden_normal.bin has other columns than this test reads");
  const std::pair<const char*, double (*)(double)> functions[] = {
      {"exp", platform_exp}, {"log", platform_log}, {"cbrt", platform_cbrt}};
  for (const auto& [name, fn] : functions) {
    const std::size_t count = std::stoul(field(header, name));
    for (std::size_t i = 0; i < count; ++i) {
      double pair[2];
      in.read(reinterpret_cast<char*>(pair), sizeof pair);
      if (table.error.empty() && !identical(fn(pair[0]), pair[1]))
        table.error = std::string("this platform's ") + name +
                      " differs from the table's fingerprint; tests/kernels checks the "
                      "normal model against high-precision values instead";
    }
  }
  table.rows = std::stoul(field(header, "rows"));
  for (auto& c : table.in) c.resize(table.rows);
  for (auto& c : table.want) c.resize(table.rows);
  for (std::size_t i = 0; i < table.rows; ++i) {
    double row[kInputs + kOutputs];
    in.read(reinterpret_cast<char*>(row), sizeof row);
    for (std::size_t c = 0; c < kInputs; ++c) table.in[c][i] = row[c];
    for (std::size_t c = 0; c < kOutputs; ++c) table.want[c][i] = row[kInputs + c];
  }
  if (!in) throw std::runtime_error("golden_normal.bin is truncated");
  for (const double f : table.in[kFlag]) table.flag.push_back(static_cast<std::int8_t>(f));
  return table;
}

const Table& table() {
  static const Table t = read_table();
  return t;
}

void expect_table(std::size_t output, const std::vector<double>& got, const std::string& where) {
  const Table& g = table();
  std::size_t differ = 0;
  for (std::size_t i = 0; i < g.rows; ++i) {
    if (identical(got[i], g.want[output][i])) continue;
    if (++differ <= 5)
      ADD_FAILURE() << where << " output " << output << " row " << i << std::hexfloat << " (flag "
                    << int{g.flag[i]} << ", f " << g.in[kF][i] << ", k " << g.in[kK][i] << ", t "
                    << g.in[kT][i] << ", r " << g.in[kR][i] << ", sigma " << g.in[kSigma][i]
                    << ", target " << g.in[kTarget][i] << "): " << got[i] << " instead of "
                    << g.want[output][i];
  }
  EXPECT_EQ(differ, 0u) << where << " output " << output << ", of " << g.rows << " rows";
}

class GoldenNormal : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!table().error.empty()) GTEST_SKIP() << table().error;
    if (!simd::supported(GetParam()))
      GTEST_SKIP() << simd::path_name(GetParam()) << " is not supported on this processor";
  }
};

TEST(GoldenNormalTable, ScalarKernelsAndTheSinglePassReturnTheTableBits) {
  const Table& g = table();
  if (!g.error.empty()) GTEST_SKIP() << g.error;
  std::vector<std::vector<double>> got(kOutputs, std::vector<double>(g.rows)),
      single(kGreekCount, std::vector<double>(g.rows));
  for (std::size_t i = 0; i < g.rows; ++i) {
    const bool put = g.flag[i] < 0;
    const double f = g.in[kF][i], k = g.in[kK][i], t = g.in[kT][i], r = g.in[kR][i],
                 sigma = g.in[kSigma][i];
    got[0][i] = bachelier_price_kernel(put, f, k, t, r, sigma);
    got[1][i] = bachelier_delta_kernel(put, f, k, t, r, sigma);
    got[2][i] = bachelier_gamma_kernel(f, k, t, r, sigma);
    got[3][i] = bachelier_vega_kernel(f, k, t, r, sigma);
    got[4][i] = bachelier_theta_kernel(put, f, k, t, r, sigma);
    got[5][i] = bachelier_rho_kernel(put, f, k, t, r, sigma);
    got[6][i] = bachelier_iv_kernel(put, g.in[kTarget][i], f, k, t, r);
    const Greeks all = bachelier_greeks_kernel(put, f, k, t, r, sigma);
    for (std::size_t j = 0; j < kGreekCount; ++j) single[j][i] = all.*greek_fields<double>[j];
  }
  for (std::size_t o = 0; o < kOutputs; ++o) expect_table(o, got[o], "scalar kernel");
  for (std::size_t j = 0; j < kGreekCount; ++j) expect_table(j + 1, single[j], "single pass");
}

TEST_P(GoldenNormal, BlockLoopsReturnTheTableBits) {
  const Table& g = table();
  const simd::OptionColumns options{g.flag.data(),      g.in[kF].data(), g.in[kK].data(),
                                    g.in[kT].data(),    g.in[kR].data(), nullptr,
                                    g.in[kSigma].data()};
  const NormalQuantity quantities[] = {NormalQuantity::price, NormalQuantity::delta,
                                       NormalQuantity::gamma, NormalQuantity::vega,
                                       NormalQuantity::theta, NormalQuantity::rho};
  std::vector<double> got(g.rows);
  double* out[1] = {got.data()};
  for (std::size_t o = 0; o < 6; ++o) {
    simd::bachelier_range(GetParam(), quantities[o], options, out, 0, g.rows);
    expect_table(o, got, simd::path_name(GetParam()));
  }
  std::vector<std::vector<double>> fields(kGreekCount, std::vector<double>(g.rows));
  double* field_out[kGreekCount];
  for (std::size_t j = 0; j < kGreekCount; ++j) field_out[j] = fields[j].data();
  simd::bachelier_range(GetParam(), NormalQuantity::greeks, options, field_out, 0, g.rows);
  for (std::size_t j = 0; j < kGreekCount; ++j)
    expect_table(j + 1, fields[j], std::string(simd::path_name(GetParam())) + " single pass");
  simd::OptionColumns targets = options;
  targets.sigma = g.in[kTarget].data();
  simd::bachelier_range(GetParam(), NormalQuantity::iv, targets, out, 0, g.rows);
  expect_table(6, got, simd::path_name(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Path, GoldenNormal,
                         ::testing::Values(Path::scalar, Path::avx2, Path::avx512),
                         [](const auto& info) { return std::string(simd::path_name(info.param)); });

}  // namespace
}  // namespace karvex::testing

// The second-order Greeks on every path against their golden table, bit for bit: the scalar
// kernel of each set (each Greek alone, the single passes), the block loops on each vector unit
// this processor has, and the worker pool on the active path.
//
// tests/data/golden_second.bin holds inputs and the exact results of an independent transcription
// of the formulas (tools/reference/second_order.py, written by gen_golden_second.py). The path
// tests compare the paths with the scalar kernel, which shares their formulas; this catches a
// change of operation order in a formula they share. Any two NaNs count as equal. On a platform
// whose exp, log or cbrt differ from the table's fingerprint the tests are skipped.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../kernels/support.hpp"
#include "golden_table.hpp"
#include "kernels/second_order.hpp"
#include "pool/pool.hpp"
#include "simd/second_order.hpp"

namespace karvex::testing {
namespace {

struct Table {
  std::string error;  // why the table cannot be used here (empty: it can)
  std::map<std::string, std::vector<double>> column;
  std::vector<std::int8_t> flag;
  std::size_t rows = 0;
};

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> names;
  std::istringstream in(text);
  for (std::string name; std::getline(in, name, ',');) names.push_back(name);
  return names;
}

Table read_table() {
  Table g;
  const std::string path = std::string(KARVEX_TEST_DATA_DIR) + "/golden_second.bin";
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string header;
  std::getline(in, header);
  if (header.rfind("karvex golden table 1;", 0) != 0) throw std::runtime_error("not a table");
  const std::pair<const char*, double (*)(double)> functions[] = {
      {"exp", platform_exp}, {"log", platform_log}, {"cbrt", platform_cbrt}};
  for (const auto& [name, fn] : functions) {
    const std::string why =
        fingerprint_mismatch(in, name, fn, std::stoul(header_field(header, name)));
    if (g.error.empty()) g.error = why;
  }
  std::vector<std::string> names = split(header_field(header, "inputs"));
  for (const std::string& name : split(header_field(header, "outputs"))) names.push_back(name);
  g.rows = std::stoul(header_field(header, "rows"));
  std::vector<double> row(names.size());
  for (const std::string& name : names) g.column[name].resize(g.rows);
  for (std::size_t i = 0; i < g.rows; ++i) {
    in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(8 * row.size()));
    for (std::size_t c = 0; c < names.size(); ++c) g.column[names[c]][i] = row[c];
  }
  if (!in) throw std::runtime_error(path + " is truncated");
  for (const double f : g.column.at("flag")) g.flag.push_back(static_cast<std::int8_t>(f));
  return g;
}

const Table& table() {
  static const Table g = read_table();
  return g;
}

// The sets of a model, with the table's columns of their members in field order.
struct Evaluation {
  std::string name;
  bool black76;
  SecondSet set;
  std::vector<std::string> columns;
};

std::vector<Evaluation> evaluations() {
  std::vector<Evaluation> all;
  for (const bool black76 : {false, true}) {
    const std::string model = black76 ? "black76_" : "bsm_";
    for (std::size_t j = 0; j < simd::kSecondSetCount; ++j) {
      const SecondSet set = simd::second_set_at(j);
      if (black76 ? (set & ~kBlack76Second) != 0 || set == kAllSecond : set == kBlack76Second) {
        continue;
      }
      Evaluation e{model, black76, set, {}};
      for (std::size_t j = 0; j < kSecondOrderCount; ++j) {
        if ((set >> j) & 1u) e.columns.push_back(model + std::string(second_order_names[j]));
      }
      e.name += e.columns.size() == 1 ? e.columns[0].substr(model.size()) : "second_order";
      all.push_back(e);
    }
  }
  return all;
}

class GoldenSecond : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!table().error.empty()) GTEST_SKIP() << table().error;
  }

  // Runs `fill(in, out)` for every set of both models and checks each result against the table.
  template <class Fill>
  static void expect_every_set(const std::string& where, Fill fill) {
    const Table& g = table();
    for (const Evaluation& e : evaluations()) {
      const std::vector<double>& q = g.column.at(e.black76 ? "r" : "q");
      const simd::OptionColumns in{g.flag.data(),
                                   g.column.at("s").data(),
                                   g.column.at("k").data(),
                                   g.column.at("t").data(),
                                   g.column.at("r").data(),
                                   q.data(),
                                   g.column.at("sigma").data()};
      std::vector<std::vector<double>> got(e.columns.size(), std::vector<double>(g.rows, -7.0));
      std::array<double*, kSecondOrderCount> out{};
      for (std::size_t o = 0; o < got.size(); ++o) out[o] = got[o].data();
      fill(e.set, in, out.data());
      for (std::size_t o = 0; o < got.size(); ++o) {
        const std::vector<double>& want = g.column.at(e.columns[o]);
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < g.rows; ++i) {
          if (identical(got[o][i], want[i]) || ++mismatches > 5) continue;
          ADD_FAILURE() << std::hexfloat << e.columns[o] << " (" << e.name << ") on " << where
                        << ", row " << i << ": " << got[o][i] << " instead of " << want[i];
        }
        EXPECT_EQ(mismatches, 0u) << e.columns[o] << " (" << e.name << ") on " << where;
      }
    }
  }
};

TEST_F(GoldenSecond, EveryPathAndTheScalarKernelReturnTheTableBits) {
  for (const simd::Path path : simd::kPaths) {
    if (!simd::supported(path)) continue;
    expect_every_set(simd::path_name(path), [path](SecondSet set, const simd::OptionColumns& in,
                                                   double* const* out) {
      std::size_t piece = 1;
      for (std::size_t begin = 0; begin < table().rows; piece = piece * 7 % 997 + 1) {
        const std::size_t end = std::min(table().rows, begin + piece);
        simd::second_order_range(path, set, in, out, begin, end);
        begin = end;
      }
    });
  }
}

struct PoolRequest {
  SecondSet set;
  const simd::OptionColumns* in;
  double* const* out;
};

std::size_t fill_piece(const void* context, std::size_t begin, std::size_t end) {
  const auto& r = *static_cast<const PoolRequest*>(context);
  simd::second_order_range(simd::active_path(), r.set, *r.in, r.out, begin, end);
  return end - begin;
}

TEST_F(GoldenSecond, WorkerPoolReturnsTheTableBits) {
  expect_every_set(
      "the worker pool", [](SecondSet set, const simd::OptionColumns& in, double* const* out) {
        const PoolRequest request{set, &in, out};
        EXPECT_EQ(pool::process_pool().evaluate_ranges(table().rows, &fill_piece, &request),
                  table().rows);
      });
}

}  // namespace
}  // namespace karvex::testing

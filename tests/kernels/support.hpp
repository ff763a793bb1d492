// Helpers of the kernel tests: bit patterns, ulp distance, neighbouring doubles, the sign check of
// a price, and a reader for the reference tables in tests/data.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace karvex::testing {

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double inf = std::numeric_limits<double>::infinity();

inline std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

// Equal bit patterns, signed zeros distinguished; any two NaNs count as equal: for values from a
// reference table, which records a NaN as nan.
inline bool identical(double a, double b) {
  return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// Equal bit patterns, NaNs included: what two paths of one function must return.
inline bool same_bits(double a, double b) {
  return bits(a) == bits(b);
}

inline double next_up(double x) {
  return std::nextafter(x, std::numeric_limits<double>::infinity());
}
inline double next_down(double x) {
  return std::nextafter(x, -std::numeric_limits<double>::infinity());
}

// What a price may be: positive (+inf included) or +0.0; NaN, negatives and -0.0 fail.
inline ::testing::AssertionResult positive_or_plus_zero(double v) {
  if (v > 0.0 || bits(v) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "value " << v;
}

// The number of doubles between a and b (0 for +0 and -0; across zero both sides count). NaN
// against NaN is 0, NaN against a number the largest distance.
inline std::uint64_t ulp_distance(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
  const auto key = [](double x) {  // the representation on a monotonic unsigned line
    const std::uint64_t u = bits(x), sign = std::uint64_t{1} << 63;
    return (u & sign) != 0 ? sign - (u & ~sign) : sign + u;
  };
  const std::uint64_t ka = key(a), kb = key(b);
  return ka > kb ? ka - kb : kb - ka;
}

// One row of a reference table; num() reads decimal, hex-float, inf and nan.
struct Row {
  std::map<std::string, std::string> field;
  const std::string& text(const std::string& column) const { return field.at(column); }
  double num(const std::string& column) const {
    const std::string& s = field.at(column);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0') throw std::runtime_error("not a number: '" + s + "'");
    return v;
  }
};

// A comma-separated table with one header line; lines starting with '#' are skipped. A missing
// file or a row of the wrong width throws, so a broken table fails loudly.
inline std::vector<Row> read_csv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::string> header;
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, ',');) cells.push_back(cell);
    if (header.empty()) {
      header = cells;
      continue;
    }
    if (cells.size() != header.size()) throw std::runtime_error(path + ": row of wrong width");
    Row row;
    for (std::size_t i = 0; i < cells.size(); ++i) row.field[header[i]] = cells[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace karvex::testing

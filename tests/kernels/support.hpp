// Small helpers shared by the kernel tests: bit patterns, ulp distance,
// neighbouring doubles, the sign check of a price, and a reader for the
// comma-separated reference tables in tests/data.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace karvex::testing {

// The IEEE-754 bit pattern: compares NaNs and signed zeros exactly.
inline std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

// Equal bit patterns, signed zeros distinguished; any two NaNs count as
// equal, since the sign and payload of a NaN that an operation produces are
// the compiler's choice of operand order, not part of the arithmetic.
inline bool identical(double a, double b) {
  return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// The neighbouring doubles above and below x.
inline double next_up(double x) {
  return std::nextafter(x, std::numeric_limits<double>::infinity());
}
inline double next_down(double x) {
  return std::nextafter(x, -std::numeric_limits<double>::infinity());
}

// What a price or a normalised price may be: positive (+inf included) or
// +0.0; NaN, negatives and -0.0 fail.
inline ::testing::AssertionResult positive_or_plus_zero(double v) {
  if (std::isnan(v) || v < 0.0 || bits(v) == bits(-0.0)) {
    return ::testing::AssertionFailure() << "value " << v;
  }
  return ::testing::AssertionSuccess();
}

// Distance in units in the last place: the number of doubles between a and
// b (0 for equal values, +0 and -0 included). Values of opposite sign count
// the doubles on both sides of zero. NaN against NaN is 0; NaN against a
// number is the largest distance.
inline std::uint64_t ulp_distance(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
  // Map the representation onto a monotonic unsigned line.
  const auto key = [](double x) {
    const std::uint64_t u = bits(x);
    return (u >> 63) != 0 ? (std::uint64_t{1} << 63) - (u & ~(std::uint64_t{1} << 63))
                          : (std::uint64_t{1} << 63) + u;
  };
  const std::uint64_t ka = key(a), kb = key(b);
  return ka > kb ? ka - kb : kb - ka;
}

// Parses a double written in any form strtod accepts: decimal, hex-float
// (0x1.8p+1), inf, nan. Throws on anything else.
inline double parse_double(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) {
    throw std::runtime_error("not a number: '" + text + "'");
  }
  return v;
}

// One row of a table, its fields looked up by column name.
class CsvRow {
 public:
  CsvRow(std::shared_ptr<const std::map<std::string, std::size_t>> columns,
         std::vector<std::string> fields)
      : columns_(std::move(columns)), fields_(std::move(fields)) {}

  const std::string& text(const std::string& column) const {
    const auto it = columns_->find(column);
    if (it == columns_->end()) throw std::runtime_error("no column '" + column + "'");
    return fields_.at(it->second);
  }
  double num(const std::string& column) const { return parse_double(text(column)); }

 private:
  std::shared_ptr<const std::map<std::string, std::size_t>> columns_;
  std::vector<std::string> fields_;
};

// Reads a comma-separated table with one header line. Blank lines and lines
// starting with '#' are skipped. Throws when the file is missing or a row has
// the wrong number of fields, so a broken table fails the test loudly.
inline std::vector<CsvRow> read_csv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  const auto split = [](const std::string& line) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ',')) out.push_back(field);
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
  };
  std::string line;
  std::vector<std::string> header;
  std::vector<CsvRow> rows;
  auto columns = std::make_shared<std::map<std::string, std::size_t>>();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (header.empty()) {
      header = split(line);
      for (std::size_t i = 0; i < header.size(); ++i) (*columns)[header[i]] = i;
      continue;
    }
    auto fields = split(line);
    if (fields.size() != header.size()) {
      throw std::runtime_error(path + ": row with " + std::to_string(fields.size()) +
                               " fields, header has " + std::to_string(header.size()));
    }
    rows.emplace_back(columns, std::move(fields));
  }
  return rows;
}

}  // namespace karvex::testing

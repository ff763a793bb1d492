// What the golden tables' readers share: the header's fields and the platform fingerprint.
#pragma once

#include <cmath>
#include <cstddef>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "../kernels/support.hpp"
#include "kernels/platform.hpp"

namespace karvex::testing {

// The value of `key=` in the header line, e.g. "rows".
inline std::string header_field(const std::string& header, const std::string& key) {
  const std::size_t at = header.find(key + "=");
  if (at == std::string::npos) throw std::runtime_error("golden table header lacks " + key);
  const std::size_t begin = at + key.size() + 1;
  return header.substr(begin, header.find_first_of("; \n", begin) - begin);
}

// Where the platform function differs from the table's fingerprint, a description; else empty.
inline std::string fingerprint_mismatch(std::istream& in, const char* name, double (*fn)(double),
                                        std::size_t count) {
  std::string first;
  std::size_t differ = 0;
  for (std::size_t i = 0; i < count; ++i) {
    double pair[2];
    in.read(reinterpret_cast<char*>(pair), sizeof pair);
    const double got = fn(pair[0]);
    if (identical(got, pair[1])) continue;
    if (differ++ == 0) {
      std::ostringstream os;
      os << std::hexfloat << name << "(" << pair[0] << ") = " << got << ", the table's " << pair[1];
      first = os.str();
    }
  }
  if (differ == 0) return "";
  return "this platform's " + std::string(name) + " differs from the golden table's on " +
         std::to_string(differ) + " of " + std::to_string(count) + " arguments (" + first +
         "); the tolerance tests in tests/kernels check this platform instead";
}

inline double platform_exp(double x) {
  return platform::exp(x);
}
inline double platform_log(double x) {
  return platform::log(x);
}
inline double platform_cbrt(double x) {
  return std::cbrt(x);
}

}  // namespace karvex::testing

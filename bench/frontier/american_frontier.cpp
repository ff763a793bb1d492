// The accuracy/time frontier of the American price over the method's parameters: for rule sizes
// (n + 1 Chebyshev nodes, l and p Gauss-Legendre points) and Jacobi-Newton steps m, the RMSE and
// maximum error on the benchmark portfolio against tests/data/american.csv and the time per
// option of the scalar kernel, one thread. The modes of kernels/american.hpp are three points of
// it; the last two rows, at 25 and 33 nodes, cross-check the reference table.
// (Not among the CMake benchmarks, which bench/*.cpp are: it needs tables generated first.)
//
//   python3 tools/gen_american_tables.py --rules 5,4,11 6,4,15 7,7,21 10,11,41 12,9,41 \
//       12,15,41 16,25,51 24,31,81 32,41,101 --output build/frontier_tables.hpp
//   g++ -O2 -std=c++20 -ffp-contract=off -Icore -Ibuild -o build/frontier \
//       bench/frontier/american_frontier.cpp core/kernels/platform.cpp -ldl
//   build/frontier tests/data/american.csv
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frontier_tables.hpp"
#include "kernels/american.hpp"

namespace {

struct Row {
  bool put;
  double s, k, t, r, q, sigma, price;
};

std::vector<Row> portfolio(const char* path) {
  std::ifstream in(path);
  std::vector<Row> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("portfolio,", 0) != 0) continue;
    std::stringstream cells(line);
    std::string set, kind, estimate;
    Row row;
    char comma;
    std::getline(cells, set, ',');
    std::getline(cells, kind, ',');
    cells >> row.s >> comma >> row.k >> comma >> row.t >> comma >> row.r >> comma >> row.q >>
        comma >> row.sigma >> comma >> row.price >> comma >> estimate;
    if (std::stod(estimate) > 1e-6) continue;
    row.put = kind == "put";
    rows.push_back(row);
  }
  return rows;
}

// eta: the damping of the smooth-pasting steps where r < q, in hundredths.
template <int N, int L, int P, int M, int Eta>
struct Mode {
  static constexpr int n = N, l = L, p = P, m = M;
  static constexpr double pasting_damping = Eta / 100.0;
};

template <class Mode>
void measure(const std::vector<Row>& rows) {
  std::vector<double> got(rows.size());
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    karvex::AmericanStatus status;
    const Row& w = rows[i];
    got[i] = karvex::american_price_kernel<Mode>(w.put, w.s, w.k, w.t, w.r, w.q, w.sigma, status);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double sum = 0.0, max = 0.0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double e = std::fabs(got[i] - rows[i].price);
    sum += e * e;
    max = e > max ? e : max;
  }
  std::printf("| %2d | %2d | %3d | %2d | %.2f | %.2g | %.2g | %.1f |\n", Mode::n, Mode::l, Mode::p,
              Mode::m, Mode::pasting_damping, std::sqrt(sum / rows.size()), max,
              seconds / rows.size() * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const auto rows = portfolio(argc > 1 ? argv[1] : "tests/data/american.csv");
  std::printf("%zu options\n| n | l | p | m | eta | RMSE | max error | us/option |\n", rows.size());
  std::printf("|---|---|---|---|---|---|---|---|\n");
  measure<Mode<5, 4, 11, 8, 80>>(rows);
  measure<Mode<6, 4, 15, 7, 80>>(rows);
  measure<Mode<6, 5, 15, 6, 80>>(rows);
  measure<Mode<6, 5, 15, 7, 80>>(rows);
  measure<Mode<7, 7, 21, 6, 80>>(rows);
  measure<Mode<10, 11, 41, 16, 55>>(rows);
  measure<Mode<12, 9, 41, 16, 55>>(rows);
  measure<Mode<12, 11, 41, 12, 55>>(rows);
  measure<Mode<12, 11, 41, 12, 80>>(rows);
  measure<Mode<12, 11, 41, 16, 55>>(rows);
  measure<Mode<12, 15, 41, 16, 55>>(rows);
  measure<Mode<16, 15, 51, 16, 55>>(rows);
  measure<Mode<16, 15, 51, 20, 55>>(rows);
  measure<Mode<16, 25, 51, 20, 55>>(rows);
  measure<Mode<24, 31, 81, 40, 45>>(rows);
  measure<Mode<32, 41, 101, 50, 40>>(rows);
}

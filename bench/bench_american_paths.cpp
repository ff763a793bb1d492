// American prices, Greeks and implied volatilities per option on each path (scalar loop, AVX2,
// AVX-512), side by side in one run on one thread: the benchmark portfolio of the paper (the puts
// of tests/data/american.csv's portfolio set whose reference is certain to 1e-6, every
// --stride-th of them), in every mode. Each repetition runs every path in turn, so that they
// see the same load; the figure is the least thread CPU time over the repetitions, in us per
// option, with the ratio of the scalar loop's to each vector path's. The implied volatilities
// invert the mode's own prices at the portfolio's volatilities. Every path's results are
// checked equal to the scalar loop's, bit for bit.
//
//   bench_american_paths [CSV] [--stride N] [--repeat N]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "simd/american.hpp"
#include "simd/dispatch.hpp"

namespace {

using namespace karvex;
using simd::Path;

struct Portfolio {
  std::vector<std::int8_t> flag;
  std::vector<double> s, k, t, r, q, sigma;
};

Portfolio read_portfolio(const char* path, std::size_t stride) {
  std::ifstream file(path);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  Portfolio p;
  std::string line;
  std::size_t row = 0;
  bool header = true;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {  // set,kind,s,k,t,r,q,sigma,price,error_estimate
      header = false;
      continue;
    }
    std::stringstream fields(line);
    std::string set, kind, x[8];
    std::getline(fields, set, ',');
    std::getline(fields, kind, ',');
    for (auto& f : x) std::getline(fields, f, ',');
    if (set != "portfolio" || std::stod(x[7]) > 1e-6 || row++ % stride != 0) continue;
    p.flag.push_back(kind == "put" ? -1 : 1);
    for (auto [column, i] :
         {std::pair{&p.s, 0}, {&p.k, 1}, {&p.t, 2}, {&p.r, 3}, {&p.q, 4}, {&p.sigma, 5}})
      column->push_back(std::stod(x[i]));
  }
  return p;
}

double thread_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// One function of the table: runs on a path into `out` (outputs columns of n).
struct Row {
  const char* name;
  AmericanMode mode;
  std::size_t outputs;
  void (*run)(Path, AmericanMode, const simd::OptionColumns&, double* const*, std::size_t);
};

void price(Path path, AmericanMode mode, const simd::OptionColumns& in, double* const* out,
           std::size_t n) {
  simd::american_price_range(path, mode, in, out[0], nullptr, 0, n);
}
void greeks(Path path, AmericanMode mode, const simd::OptionColumns& in, double* const* out,
            std::size_t n) {
  simd::american_greeks_range(path, mode, in, out, 0, n);
}
void iv(Path path, AmericanMode mode, const simd::OptionColumns& in, double* const* out,
        std::size_t n) {
  simd::american_iv_range(path, mode, in, out[0], 0, n);
}

}  // namespace

constexpr AmericanMode kModes[] = {AmericanMode::fast, AmericanMode::accurate,
                                   AmericanMode::precise};

int main(int argc, char** argv) {
  const char* csv = "tests/data/american.csv";
  std::size_t stride = 4;
  int repeat = 5;
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--stride") == 0 && a + 1 < argc) {
      stride = static_cast<std::size_t>(std::atoi(argv[++a]));
    } else if (std::strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
      repeat = std::atoi(argv[++a]);
    } else {
      csv = argv[a];
    }
  }
  const Portfolio p = read_portfolio(csv, stride);
  const std::size_t n = p.s.size();
  const simd::OptionColumns in{p.flag.data(), p.s.data(), p.k.data(),    p.t.data(),
                               p.r.data(),    p.q.data(), p.sigma.data()};
  // The targets of the implied volatilities: each mode's own prices.
  std::vector<double> target[3] = {std::vector<double>(n), std::vector<double>(n),
                                   std::vector<double>(n)};
  for (const AmericanMode mode : kModes) {
    simd::american_price_range(Path::scalar, mode, in, target[static_cast<int>(mode)].data(),
                               nullptr, 0, n);
  }
  std::vector<Row> rows;
  for (const Row& run :
       {Row{"price", AmericanMode::fast, 1, price}, Row{"greeks", AmericanMode::fast, 5, greeks},
        Row{"iv", AmericanMode::fast, 1, iv}}) {
    for (const AmericanMode mode : kModes) rows.push_back({run.name, mode, run.outputs, run.run});
  }
  std::vector<Path> paths;
  for (const Path path : simd::kPaths) {
    if (simd::supported(path)) paths.push_back(path);
  }
  std::printf("%zu options (every %zu-th of the portfolio), best of %d, us per option\n", n, stride,
              repeat);
  std::printf("| function | mode |");
  for (const Path path : paths) std::printf(" %s |", simd::path_name(path));
  for (std::size_t j = 1; j < paths.size(); ++j)
    std::printf(" scalar/%s |", simd::path_name(paths[j]));
  std::printf("\n|---|---|");
  for (std::size_t j = 1; j < 2 * paths.size(); ++j) std::printf("---|");
  std::printf("\n");
  bool same = true;
  for (const Row& row : rows) {
    simd::OptionColumns columns = in;
    if (row.run == iv) columns.sigma = target[static_cast<int>(row.mode)].data();
    std::vector<std::vector<double>> out(paths.size() * row.outputs, std::vector<double>(n));
    std::vector<double> best(paths.size(), 1e300);
    for (int rep = 0; rep < repeat; ++rep) {
      for (std::size_t j = 0; j < paths.size(); ++j) {
        double* o[5];
        for (std::size_t g = 0; g < row.outputs; ++g) o[g] = out[j * row.outputs + g].data();
        const double start = thread_seconds();
        row.run(paths[j], row.mode, columns, o, n);
        const double seconds = thread_seconds() - start;
        best[j] = seconds < best[j] ? seconds : best[j];
      }
    }
    for (std::size_t j = 1; j < paths.size(); ++j) {
      for (std::size_t g = 0; g < row.outputs; ++g)
        same = same &&
               std::memcmp(out[g].data(), out[j * row.outputs + g].data(), n * sizeof(double)) == 0;
    }
    std::printf("| %s | %s |", row.name,
                row.mode == AmericanMode::fast       ? "fast"
                : row.mode == AmericanMode::accurate ? "accurate"
                                                     : "precise");
    for (const double b : best) std::printf(" %.2f |", b / static_cast<double>(n) * 1e6);
    for (std::size_t j = 1; j < paths.size(); ++j) std::printf(" %.2f |", best[0] / best[j]);
    std::printf("\n");
  }
  std::printf(same ? "every path: the scalar loop's bits\n" : "PATHS DIFFER\n");
  return same ? 0 : 1;
}

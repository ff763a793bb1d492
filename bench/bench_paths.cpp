// Each evaluation path of the vectorised functions side by side in one run:
// the scalar loop, AVX2 and AVX-512, forced by name, on one thread over the
// same book (paths this processor lacks are left out). Prints ns per option
// and the speed-up of each vector path over the scalar loop, then the time of
// the platform calls alone that bound the speed-up of gamma, vega and theta, as karvex enters them
// and through the C library's errno wrappers.
//
//   bench_paths [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kernels/platform.hpp"
#include "simd/dispatch.hpp"
#include "support.hpp"

namespace {

using karvex::simd::Path;

constexpr std::size_t batch_size = 4096;

// A book as a desk sees it (as bench_price's): strikes within e^-0.5..e^0.5
// of the spot, one week to five years, volatilities 5% to 90%, calls and puts
// mixed. Black-76 books take the rate again as q.
struct Book {
  std::vector<std::int8_t> flag;
  std::vector<double> s, k, t, r, q, sigma;

  explicit Book(bool black76) {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> money(-0.5, 0.5),
        log_t(std::log(7.0 / 365), std::log(5.0)), rate(-0.01, 0.08), yield(0.0, 0.05),
        vol(0.05, 0.9);
    for (std::size_t i = 0; i < batch_size; ++i) {
      flag.push_back((rng() & 1) != 0 ? -1 : 1);
      s.push_back(100.0);
      k.push_back(100.0 * std::exp(money(rng)));
      t.push_back(std::exp(log_t(rng)));
      r.push_back(rate(rng));
      const double y = yield(rng);
      q.push_back(black76 ? r.back() : y);
      sigma.push_back(vol(rng));
    }
  }
  // The same book with the prices at its volatilities in place of the volatilities: the
  // target prices of the implied volatilities.
  Book priced() const {
    Book book = *this;
    karvex::simd::price_range(Path::scalar, columns(), book.sigma.data(), 0, batch_size);
    return book;
  }
  karvex::simd::OptionColumns columns() const {
    return {flag.data(), s.data(), k.data(), t.data(), r.data(), q.data(), sigma.data()};
  }
};

std::string name_of(const char* function, Path path) {
  return std::string(function) + "/" + karvex::simd::path_name(path);
}

using karvex::simd::Greek;
using karvex::simd::OptionColumns;

// A function as the module evaluates one piece of it: name, model, the range call and whether it
// inverts prices (sigma holds the target prices).
struct Function {
  const char* name;
  bool black76;
  void (*range)(Path, const OptionColumns&, double* const*, std::size_t, std::size_t);
  bool inverts = false;
};

void iv_range(Path p, const OptionColumns& in, double* const* out, std::size_t b, std::size_t e) {
  karvex::simd::iv_range(p, in, out[0], b, e);
}

template <Greek G>
void greek_range(Path p, const OptionColumns& in, double* const* out, std::size_t b,
                 std::size_t e) {
  karvex::simd::greeks_range(p, G, in, out, b, e);
}

const Function functions[] = {
    {"bsm_price", false,
     [](Path p, const OptionColumns& in, double* const* out, std::size_t b, std::size_t e) {
       karvex::simd::price_range(p, in, out[0], b, e);
     }},
    {"black76_price", true,
     [](Path p, const OptionColumns& in, double* const* out, std::size_t b, std::size_t e) {
       karvex::simd::price_range(p, in, out[0], b, e);
     }},
    {"bsm_delta", false, greek_range<Greek::delta>},
    {"bsm_gamma", false, greek_range<Greek::gamma>},
    {"bsm_vega", false, greek_range<Greek::vega>},
    {"bsm_theta", false, greek_range<Greek::theta>},
    {"bsm_rho", false, greek_range<Greek::rho>},
    {"black76_rho", true,
     [](Path p, const OptionColumns& in, double* const* out, std::size_t b, std::size_t e) {
       karvex::simd::black76_rho_range(p, in, out[0], b, e);
     }},
    {"bsm_greeks", false, greek_range<Greek::all>},
    {"black76_greeks", true,
     [](Path p, const OptionColumns& in, double* const* out, std::size_t b, std::size_t e) {
       karvex::simd::black76_greeks_range(p, in, out, b, e);
     }},
    {"bsm_iv", false, iv_range, true},
    {"black76_iv", true, iv_range, true},
};

// The platform calls of a Greek alone, in tight loops over the book's own arguments: log(s/k) and
// the exponentials exp(-(q*t)), exp(-(r*t)) (theta only) and exp(-d1*d1/2). No path can take less
// time than these calls, whose results it must reproduce; scalar / floor bounds its speed-up.
// `wrapped` calls the C library's exp and log by name, errno wrappers and all, as karvex did before
// it entered them past the wrappers (kernels/platform.hpp).
void register_floor(const char* name, bool with_discount, bool wrapped = false) {
  static const Book book(false);
  static std::vector<double> ratio, dq, dr, density, out(batch_size);
  if (ratio.empty()) {
    for (std::size_t i = 0; i < batch_size; ++i) {
      const double t = book.t[i], sigma = book.sigma[i];
      ratio.push_back(book.s[i] / book.k[i]);
      dq.push_back(-(book.q[i] * t));
      dr.push_back(-(book.r[i] * t));
      const double d1 =
          (std::log(ratio.back()) + t * ((book.r[i] - book.q[i]) + sigma * (sigma * 0.5))) /
          (std::sqrt(t) * sigma);
      density.push_back(d1 * (d1 * (-0.5)));
    }
  }
  benchmark::RegisterBenchmark(
      name,
      [with_discount, wrapped](benchmark::State& state) {
        // one platform function over one argument array, as the block loops call it
        const auto calls = [](auto f, const std::vector<double>& x) {
          for (std::size_t i = 0; i < batch_size; ++i) out[i] = f(x[i]);
          benchmark::ClobberMemory();
        };
        // log(s/k) and the exponentials, with the functions given
        const auto greek_calls = [with_discount, calls](auto log, auto exp) {
          calls(log, ratio);
          calls(exp, dq);
          if (with_discount) calls(exp, dr);
          calls(exp, density);
        };
        for (auto _ : state) {
          if (wrapped) {
            greek_calls([](double v) { return std::log(v); }, [](double v) { return std::exp(v); });
          } else {
            greek_calls([](double v) { return karvex::platform::log(v); },
                        [](double v) { return karvex::platform::exp(v); });
          }
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch_size));
      })
      ->Repetitions(5)
      ->MinTime(0.2);
}

void register_all() {
  register_floor("floor/log+2exp", false);
  register_floor("floor/log+3exp", true);
  register_floor("floor/log+3exp/wrapped", true, true);
  static const Book bsm(false), black76(true), bsm_priced = bsm.priced(),
                                               black76_priced = black76.priced();
  static std::vector<double> results[5] = {
      std::vector<double>(batch_size), std::vector<double>(batch_size),
      std::vector<double>(batch_size), std::vector<double>(batch_size),
      std::vector<double>(batch_size)};
  static double* const out[5] = {results[0].data(), results[1].data(), results[2].data(),
                                 results[3].data(), results[4].data()};
  for (const Function& f : functions) {
    for (const Path path : karvex::simd::kPaths) {
      if (!karvex::simd::supported(path)) continue;
      const Book* book =
          f.inverts ? (f.black76 ? &black76_priced : &bsm_priced) : (f.black76 ? &black76 : &bsm);
      benchmark::RegisterBenchmark(
          name_of(f.name, path).c_str(),
          [path, book, range = f.range](benchmark::State& state) {
            const OptionColumns in = book->columns();
            for (auto _ : state) {
              range(path, in, out, 0, batch_size);
              benchmark::ClobberMemory();
            }
            state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch_size));
          })
          ->Repetitions(5)
          ->MinTime(0.2);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  karvex::bench::LeastTimeReporter reporter(batch_size);
  if (!karvex::bench::run_benchmarks(&argc, argv, reporter)) return 1;
  std::printf("\n%-28s %10s %14s\n", "per option, one thread", "ns", "scalar / path");
  for (const Function& f : functions) {
    const double scalar = reporter.ns(name_of(f.name, Path::scalar));
    for (const Path path : karvex::simd::kPaths) {
      const double ns = reporter.ns(name_of(f.name, path));
      if (ns > 0.0) {
        std::printf("%-28s %10.2f %13.2fx\n", name_of(f.name, path).c_str(), ns,
                    scalar > 0.0 ? scalar / ns : 0.0);
      }
    }
  }
  const double two = reporter.ns("floor/log+2exp"), three = reporter.ns("floor/log+3exp");
  std::printf("\n%-28s %10s %14s\n", "platform calls alone", "ns", "bound");
  std::printf("%-28s %10.2f %13.2fx  (gamma, vega: scalar / calls)\n", "log + 2 exp", two,
              reporter.ns(name_of("bsm_gamma", Path::scalar)) / two);
  std::printf("%-28s %10.2f %13.2fx  (theta)\n", "log + 3 exp", three,
              reporter.ns(name_of("bsm_theta", Path::scalar)) / three);
  std::printf("%-28s %10.2f %13.2fx  (calls past the errno wrappers: %s)\n", "log + 3 exp, wrapped",
              reporter.ns("floor/log+3exp/wrapped"), reporter.ns("floor/log+3exp/wrapped") / three,
              karvex::platform::inner_functions_in_use() ? "yes" : "no");
  return 0;
}

// The plain C++ loops out[i] = kernel(inputs at i) of the 16 vectorised functions on one thread
// (software pipelined over the two stages of the kernels that have them, as the module runs
// them): the cost per option without the Python module around it.
// bench/bench_bindings.py writes the inputs and compares these figures with the module's.
//
//   bench_kernel_loop DIR   reads DIR/{flag.i8, s, k, t, r, q, sigma, bsm_target, black76_target}
//                           (.f64 for the doubles) and prints, per function, "name ns ns": the
//                           ns per option into a reused output and into fresh output memory.
//
// Black-76 functions take `s` as the forward, as the module's benchmark passes it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/price.hpp"

namespace {

using namespace karvex;

template <class T>
std::vector<T> read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<T> values(bytes.size() / sizeof(T));
  std::copy(bytes.begin(), bytes.begin() + values.size() * sizeof(T),
            reinterpret_cast<char*>(values.data()));
  return values;
}

// Best of five passes over all n options, in ns per option: into one output reused by every pass,
// and into output memory allocated for each pass (as the module must do for every call; the first
// touch of fresh pages is part of that cost).
struct Timing {
  double reused;
  double fresh;
};

// Best of five runs of `fill(out)`, which writes out[0 .. n), in ns per option. The fills below
// are kept out of line: each loop is compiled once, as a function of its own like the module's
// pool piece, and both passes run that one copy (inlined here, the compiler built a separate copy
// of the loop for each pass, with its own inlining of the kernel's helpers).
template <class Slot, class Fill>
Timing time_fills(std::size_t n, const Fill& fill) {
  const auto pass = [&](Slot* out) {
    const auto start = std::chrono::steady_clock::now();
    fill(out);
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    volatile Slot sink = out[n / 2];
    (void)sink;
    return took.count() / static_cast<double>(n);
  };
  Timing best{1e300, 1e300};
  std::vector<Slot> reused(n);
  for (int i = 0; i < 5; ++i) best.reused = std::min(best.reused, pass(reused.data()));
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    Slot* fresh = static_cast<Slot*>(std::malloc(n * sizeof(Slot)));
    pass(fresh);
    std::free(fresh);
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    best.fresh = std::min(best.fresh, took.count() / static_cast<double>(n));
  }
  return best;
}

// out[i] = fn(i), one option after the other.
template <class Slot, class Fn>
Timing ns_per_option(std::size_t n, const Fn& fn) {
  return time_fills<Slot>(
      n, [&](Slot * out) __attribute__((noinline)) {
        for (std::size_t i = 0; i < n; ++i) out[i] = fn(i);
      });
}

// out[i] = second(first(i)) for a kernel in two stages, software pipelined as the module runs it:
// the first stage of i + 1 before the second stage of i.
template <class Slot, class First, class Second>
Timing ns_per_option_in_two_stages(std::size_t n, const First& first, const Second& second) {
  return time_fills<Slot>(
      n, [&](Slot * out) __attribute__((noinline)) {
        if (n == 0) return;
        auto stage = first(0);
        for (std::size_t i = 0; i + 1 < n; ++i) {
          const auto next = first(i + 1);
          out[i] = second(stage);
          stage = next;
        }
        out[n - 1] = second(stage);
      });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const auto flag = read<std::int8_t>(dir + "flag.i8");
  const auto s = read<double>(dir + "s.f64"), k = read<double>(dir + "k.f64"),
             t = read<double>(dir + "t.f64"), r = read<double>(dir + "r.f64"),
             q = read<double>(dir + "q.f64"), sigma = read<double>(dir + "sigma.f64"),
             bsm_target = read<double>(dir + "bsm_target.f64"),
             b76_target = read<double>(dir + "black76_target.f64");
  const std::size_t n = s.size();
  const auto put = [&](std::size_t i) { return flag[i] < 0; };
  const auto report = [](const char* name, Timing ns) {
    std::printf("%s %.3f %.3f\n", name, ns.reused, ns.fresh);
  };

  const auto price_second = [](const PriceStage& stage) { return bsm_price_second_stage(stage); };
  report("bsm_price", ns_per_option_in_two_stages<double>(
                          n,
                          [&](std::size_t i) {
                            return bsm_price_first_stage(put(i), s[i], k[i], t[i], r[i], q[i],
                                                         sigma[i]);
                          },
                          price_second));
  report("bsm_delta", ns_per_option_in_two_stages<double>(
                          n,
                          [&](std::size_t i) {
                            return bsm_delta_first_stage(put(i), s[i], k[i], t[i], r[i], q[i],
                                                         sigma[i]);
                          },
                          [](const GreeksStage& stage) { return bsm_delta_second_stage(stage); }));
  report("bsm_gamma", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_gamma_kernel(s[i], k[i], t[i], r[i], q[i], sigma[i]);
         }));
  report("bsm_vega", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_vega_kernel(s[i], k[i], t[i], r[i], q[i], sigma[i]);
         }));
  report("bsm_theta", ns_per_option_in_two_stages<double>(
                          n,
                          [&](std::size_t i) {
                            return bsm_theta_first_stage(put(i), s[i], k[i], t[i], r[i], q[i],
                                                         sigma[i]);
                          },
                          [](const GreeksStage& stage) { return bsm_theta_second_stage(stage); }));
  report("bsm_rho", ns_per_option_in_two_stages<double>(
                        n,
                        [&](std::size_t i) {
                          return bsm_rho_first_stage(put(i), s[i], k[i], t[i], r[i], q[i],
                                                     sigma[i]);
                        },
                        [](const GreeksStage& stage) { return bsm_rho_second_stage(stage); }));
  report("bsm_greeks",
         ns_per_option_in_two_stages<Greeks>(
             n,
             [&](std::size_t i) {
               return bsm_greeks_first_stage(put(i), s[i], k[i], t[i], r[i], q[i], sigma[i]);
             },
             [](const GreeksStage& stage) { return bsm_greeks_second_stage(stage); }));
  report("bsm_iv", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_iv_kernel(put(i), bsm_target[i], s[i], k[i], t[i], r[i], q[i]);
         }));
  report("black76_price", ns_per_option_in_two_stages<double>(
                              n,
                              [&](std::size_t i) {
                                return bsm_price_first_stage(put(i), s[i], k[i], t[i], r[i], r[i],
                                                             sigma[i]);
                              },
                              price_second));
  report("black76_delta",
         ns_per_option_in_two_stages<double>(
             n,
             [&](std::size_t i) {
               return bsm_delta_first_stage(put(i), s[i], k[i], t[i], r[i], r[i], sigma[i]);
             },
             [](const GreeksStage& stage) { return bsm_delta_second_stage(stage); }));
  report("black76_gamma", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_gamma_kernel(s[i], k[i], t[i], r[i], r[i], sigma[i]);
         }));
  report("black76_vega", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_vega_kernel(s[i], k[i], t[i], r[i], r[i], sigma[i]);
         }));
  report("black76_theta",
         ns_per_option_in_two_stages<double>(
             n,
             [&](std::size_t i) {
               return bsm_theta_first_stage(put(i), s[i], k[i], t[i], r[i], r[i], sigma[i]);
             },
             [](const GreeksStage& stage) { return bsm_theta_second_stage(stage); }));
  report("black76_rho",
         ns_per_option_in_two_stages<double>(
             n,
             [&](std::size_t i) {
               return black76_rho_first_stage(put(i), s[i], k[i], t[i], r[i], sigma[i]);
             },
             [](const Black76RhoStage& stage) { return black76_rho_second_stage(stage); }));
  report("black76_greeks", ns_per_option<Greeks>(n, [&](std::size_t i) {
           return black76_greeks_kernel(put(i), s[i], k[i], t[i], r[i], sigma[i]);
         }));
  report("black76_iv", ns_per_option<double>(n, [&](std::size_t i) {
           return bsm_iv_kernel(put(i), b76_target[i], s[i], k[i], t[i], r[i], r[i]);
         }));
  return 0;
}

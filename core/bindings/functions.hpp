// The 32 Python functions as compile-time descriptors: which model and quantity each computes,
// its parameter list, its Python name and docstring, its serial limit, and the kernel table that
// maps one option's converted inputs to a kernel call. The scalar and the vectorised form of a
// quantity share the same `evaluate`, so both return the same bits for the same inputs.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/price.hpp"

namespace karvex::bindings {

enum class Model : unsigned char { bsm, black76 };
enum class Quantity : unsigned char { price, delta, gamma, vega, theta, rho, greeks, iv };
enum class Form : unsigned char { vectorised, scalar };

// The parameters of one function in declaration order (5 to 7, all required, positional or
// keyword). `flag` is the option kind; every other parameter is a double.
struct Parameters {
  std::array<std::string_view, 7> names;
  std::size_t count;

  // Position of `flag` among the parameters, or `count` when the function has none.
  constexpr std::size_t flag_index() const {
    return static_cast<std::size_t>(std::find(names.begin(), names.begin() + count, "flag") -
                                    names.begin());
  }
  constexpr bool has_flag() const { return flag_index() < count; }
  // Number of double parameters.
  constexpr std::size_t doubles() const { return has_flag() ? count - 1 : count; }
};

inline constexpr std::size_t kMaxParameters = 7;

inline constexpr Parameters kBsmOption{{"flag", "s", "k", "t", "r", "q", "sigma"}, 7};
inline constexpr Parameters kBsmNoFlag{{"s", "k", "t", "r", "q", "sigma"}, 6};
inline constexpr Parameters kBsmImplied{{"target_price", "flag", "s", "k", "t", "r", "q"}, 7};
inline constexpr Parameters kBlack76Option{{"flag", "f", "k", "t", "r", "sigma"}, 6};
inline constexpr Parameters kBlack76NoFlag{{"f", "k", "t", "r", "sigma"}, 5};
inline constexpr Parameters kBlack76Implied{{"target_price", "flag", "f", "k", "t", "r"}, 6};

constexpr const Parameters& parameters_of(Model m, Quantity q) {
  const bool bsm = m == Model::bsm;
  switch (q) {
    case Quantity::gamma:
    case Quantity::vega:
      return bsm ? kBsmNoFlag : kBlack76NoFlag;
    case Quantity::iv:
      return bsm ? kBsmImplied : kBlack76Implied;
    default:
      return bsm ? kBsmOption : kBlack76Option;
  }
}

constexpr std::string_view quantity_name(Quantity q) {
  constexpr std::array<std::string_view, 8> names{"price", "delta", "gamma",  "vega",
                                                  "theta", "rho",   "greeks", "iv"};
  return names[static_cast<std::size_t>(q)];
}

// The serial limit: below this many elements a vectorised call evaluates on the calling thread
// with the interpreter lock held; at or above it, on the worker pool with the lock released. The
// dearer the kernel per element, the lower the limit.
constexpr std::size_t serial_limit(Quantity q) {
  switch (q) {
    case Quantity::iv:
      return 1024;
    case Quantity::greeks:
      return 4096;
    case Quantity::price:
      return 8192;
    default:
      return 16384;
  }
}

// The kernel table: the value of quantity Q under model M for one option. `x` holds the double
// parameters in declaration order with the flag left out; `is_put` is the flag's sign. A Black-76
// quantity without a kernel of its own calls the BSM kernel with f for s and the rate again for q.
// Inlined into each caller; the results agree bit for bit everywhere except in the sign and payload
// of a NaN, which follow the operand order the compiler picks for a commutative operation.
template <Model M, Quantity Q>
inline auto evaluate(bool is_put, const double* x) noexcept {
  constexpr bool bsm = M == Model::bsm;
  if constexpr (Q == Quantity::iv) {
    // target_price, s (or f), k, t, r, q (Black-76: r)
    return bsm_iv_kernel(is_put, x[0], x[1], x[2], x[3], x[4], bsm ? x[5] : x[4]);
  } else if constexpr (!bsm && Q == Quantity::rho) {
    return black76_rho_kernel(is_put, x[0], x[1], x[2], x[3], x[4]);
  } else if constexpr (!bsm && Q == Quantity::greeks) {
    return black76_greeks_kernel(is_put, x[0], x[1], x[2], x[3], x[4]);
  } else {
    // s (or f), k, t, r, q (Black-76: r), sigma
    const double s = x[0], k = x[1], t = x[2], r = x[3];
    const double q = bsm ? x[4] : x[3];
    const double sigma = bsm ? x[5] : x[4];
    if constexpr (Q == Quantity::price) return bsm_price_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::delta) return bsm_delta_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::gamma) return bsm_gamma_kernel(s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::vega) return bsm_vega_kernel(s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::theta) return bsm_theta_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::rho) return bsm_rho_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::greeks) return bsm_greeks_kernel(is_put, s, k, t, r, q, sigma);
  }
}

// The quantities whose kernel also comes in two stages (see PriceStage and GreeksStage): all but
// gamma, vega and the implied volatility. For them a loop over many options forms the first stage
// of the next option before the second stage of this one. second_stage<M, Q>(first_stage<M, Q>(
// is_put, x)) is evaluate<M, Q>(is_put, x) bit for bit: the kernel is those two calls.
template <Model M, Quantity Q>
inline constexpr bool kTwoStages = Q != Quantity::gamma&& Q != Quantity::vega&& Q != Quantity::iv &&
                                   !(M == Model::black76 && Q == Quantity::greeks);

template <Model M, Quantity Q>
inline auto first_stage(bool is_put, const double* x) noexcept {
  static_assert(kTwoStages<M, Q>);
  constexpr bool bsm = M == Model::bsm;
  // s (or f), k, t, r, q (Black-76: r), sigma, as in evaluate
  const double s = x[0], k = x[1], t = x[2], r = x[3];
  const double q = bsm ? x[4] : x[3];
  const double sigma = bsm ? x[5] : x[4];
  if constexpr (Q == Quantity::price) return bsm_price_first_stage(is_put, s, k, t, r, q, sigma);
  if constexpr (Q == Quantity::delta) return bsm_delta_first_stage(is_put, s, k, t, r, q, sigma);
  if constexpr (Q == Quantity::theta) return bsm_theta_first_stage(is_put, s, k, t, r, q, sigma);
  if constexpr (Q == Quantity::rho && bsm) return bsm_rho_first_stage(is_put, s, k, t, r, q, sigma);
  if constexpr (Q == Quantity::rho && !bsm)
    return black76_rho_first_stage(is_put, s, k, t, r, sigma);
  if constexpr (Q == Quantity::greeks) return bsm_greeks_first_stage(is_put, s, k, t, r, q, sigma);
}

template <Model M, Quantity Q, class Stage>
inline auto second_stage(const Stage& stage) noexcept {
  if constexpr (Q == Quantity::price) return bsm_price_second_stage(stage);
  if constexpr (Q == Quantity::delta) return bsm_delta_second_stage(stage);
  if constexpr (Q == Quantity::theta) return bsm_theta_second_stage(stage);
  if constexpr (Q == Quantity::rho && M == Model::bsm) return bsm_rho_second_stage(stage);
  if constexpr (Q == Quantity::rho && M == Model::black76) return black76_rho_second_stage(stage);
  if constexpr (Q == Quantity::greeks) return bsm_greeks_second_stage(stage);
}

// A string literal usable as a template argument (the documentation of a table row).
template <std::size_t N>
struct Literal {
  char chars[N];
  constexpr Literal(const char (&text)[N]) { std::copy_n(text, N, chars); }
  constexpr std::string_view view() const { return {chars, N - 1}; }
};

// A NUL-terminated text of exactly N characters, built at compile time.
template <std::size_t N>
struct Text {
  char chars[N + 1]{};
  constexpr const char* c_str() const { return chars; }
  constexpr std::string_view view() const { return {chars, N}; }
};

// Builds the text that Emit{}(sink) produces piece by piece: once to count, once to copy.
template <class Emit>
constexpr auto build_text() {
  constexpr std::size_t length = [] {
    std::size_t n = 0;
    Emit{}([&n](std::string_view piece) { n += piece.size(); });
    return n;
  }();
  Text<length> text;
  std::size_t at = 0;
  Emit{}([&](std::string_view piece) {
    for (char c : piece) text.chars[at++] = c;
  });
  return text;
}

// One of the 32 functions. Its Python name is the model prefix, the quantity and, for the
// scalar twin, "_scalar"; its docstring opens with the text signature in CPython's convention
// (the name, the parameter list, a line "--" and an empty line) followed by `Doc`.
template <Model M, Quantity Q, Form F, Literal Doc = "">
struct Function {
  static constexpr Model model = M;
  static constexpr Quantity quantity = Q;
  static constexpr Form form = F;
  static constexpr const Parameters& params = parameters_of(M, Q);

  template <class Sink>
  static constexpr void emit_name(Sink&& sink) {
    sink(M == Model::bsm ? "bsm_" : "black76_");
    sink(quantity_name(Q));
    if (F == Form::scalar) sink("_scalar");
  }

  static constexpr auto name = build_text<decltype([](auto&& sink) { emit_name(sink); })>();

  static constexpr auto doc = build_text<decltype([](auto&& sink) {
    emit_name(sink);
    sink("(");
    for (std::size_t i = 0; i < params.count; ++i) {
      if (i != 0) sink(", ");
      sink(params.names[i]);
    }
    sink(")\n--\n\n");
    sink(Doc.view());
  })>();
};

}  // namespace karvex::bindings

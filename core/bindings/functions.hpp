// The Python functions of the modules as compile-time descriptors: which model and quantity each
// computes, its parameter list, its Python name and docstring, its serial limit, and the kernel
// table that maps one option's converted inputs to a kernel call. The scalar form calls `evaluate`;
// the vectorised form the evaluation ranges of core/simd on the same inputs (bsm_inputs), whose
// every path returns the kernels' bits.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

#include "kernels/american.hpp"
#include "kernels/bachelier.hpp"
#include "kernels/combined_greeks.hpp"
#include "kernels/greeks.hpp"
#include "kernels/iv.hpp"
#include "kernels/price.hpp"
#include "kernels/second_order.hpp"

namespace karvex::bindings {

// american, american_fast and american_precise: BSM inputs with American exercise, in the
// accurate, the fast and the precise mode (kernels/american.hpp); they offer price, greeks and
// iv. normal: the normal (Bachelier) model (kernels/bachelier.hpp), on the Black-76 parameters
// with an absolute sigma.
enum class Model : unsigned char {
  bsm,
  black76,
  american,
  american_fast,
  normal,
  american_precise
};

constexpr bool is_american(Model m) {
  return m == Model::american || m == Model::american_fast || m == Model::american_precise;
}

// The accuracy mode of an American model.
constexpr AmericanMode american_mode(Model m) {
  return m == Model::american_precise ? AmericanMode::precise
         : m == Model::american_fast  ? AmericanMode::fast
                                      : AmericanMode::accurate;
}

// Whether the model takes BSM's parameters (a spot s and a dividend yield q) rather than
// Black-76's (a forward f, no yield).
constexpr bool on_spot(Model m) {
  return m != Model::black76 && m != Model::normal;
}
// The second-order Greeks, vanna ... dividend_rho, in the order of second_order_fields, then
// their single pass.
enum class Quantity : unsigned char {
  price,
  delta,
  gamma,
  vega,
  theta,
  rho,
  greeks,
  iv,
  vanna,
  volga,
  charm,
  veta,
  speed,
  zomma,
  color,
  dual_delta,
  dual_gamma,
  dividend_rho,
  second_order,
};
// vectorised: arrays in, new arrays out; scalar: the `_scalar` twin; into: vectorised, also
// writing into the caller's arrays given as the keyword-only argument `out`.
enum class Form : unsigned char { vectorised, scalar, into };

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

// The second-order Greeks quantity q stands for (a set of kernels/second_order.hpp), 0 for the
// others: one Greek, or for the single pass all of them (Black-76: all but dividend rho).
constexpr SecondSet second_set(Model m, Quantity q) {
  if (q == Quantity::second_order) return m == Model::bsm ? kAllSecond : kBlack76Second;
  const auto j = static_cast<unsigned>(q) - static_cast<unsigned>(Quantity::vanna);
  return j < kSecondOrderCount ? SecondSet{1} << j : 0;
}

constexpr const Parameters& parameters_of(Model m, Quantity q) {
  const bool bsm = on_spot(m);
  switch (q) {
    // the same for calls and puts: no flag
    case Quantity::gamma:
    case Quantity::vega:
    case Quantity::vanna:
    case Quantity::volga:
    case Quantity::veta:
    case Quantity::speed:
    case Quantity::zomma:
    case Quantity::color:
    case Quantity::dual_gamma:
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
  if (q == Quantity::second_order) return "second_order";
  const auto j = static_cast<std::size_t>(q);
  return j < names.size() ? names[j] : second_order_names[j - names.size()];
}

// The serial limit: below this many elements a vectorised call evaluates on the calling thread
// with the interpreter lock held; at or above it, on the worker pool with the lock released. The
// dearer the kernel per element, the lower the limit.
constexpr std::size_t serial_limit(Model m, Quantity q) {
  if (is_american(m)) return q == Quantity::price ? 64 : 16;  // some 10 to 100 us each
  switch (q) {
    case Quantity::iv:
      return 1024;
    case Quantity::greeks:
    case Quantity::second_order:
      return 4096;
    case Quantity::price:
      return 8192;
    default:
      return 16384;
  }
}

// How each model maps onto the BSM kernels, written once: the position of the BSM inputs s, k, t,
// r, q and sigma among the double parameters of quantity Q under model M (declaration order, the
// flag left out; an implied volatility has its target price in the place of sigma). Black-76 is
// BSM with the forward as s and the rate again as q, except for its rho (-t times its price,
// black76_rho_kernel) and its single pass (black76_greeks_kernel, which forms that rho). The
// kernel table below and the vectorised functions' option columns both read it.
struct BsmInputs {
  std::size_t s, k, t, r, q, sigma;
};
constexpr BsmInputs bsm_inputs(Model m, Quantity q) {
  const std::size_t bsm = on_spot(m) ? 1 : 0;
  if (q == Quantity::iv) return {1, 2, 3, 4, 4 + bsm, 0};  // target_price, s, k, t, r[, q]
  return {0, 1, 2, 3, 3 + bsm, 4 + bsm};                   // s, k, t, r[, q], sigma
}

// The kernel table: the value of quantity Q under model M for one option. `x` holds the double
// parameters in declaration order with the flag left out; `is_put` is the flag's sign. Inlined
// into the scalar functions.
template <Model M, Quantity Q>
inline auto evaluate(bool is_put, const double* x) noexcept {
  constexpr BsmInputs at = bsm_inputs(M, Q);
  const double s = x[at.s], k = x[at.k], t = x[at.t], r = x[at.r], q = x[at.q];
  const double sigma = x[at.sigma];
  constexpr SecondSet kSecond = second_set(M, Q);
  if constexpr (is_american(M)) {
    return with_american_mode(american_mode(M), [&](auto mode) {
      using Mode = decltype(mode);
      AmericanStatus status;
      if constexpr (Q == Quantity::price) {
        return american_price_kernel<Mode>(is_put, s, k, t, r, q, sigma, status);
      } else if constexpr (Q == Quantity::greeks) {
        return american_greeks_kernel<Mode>(is_put, s, k, t, r, q, sigma, status);
      } else {
        AmericanIvStatus iv_status;
        return american_iv_kernel<Mode>(is_put, sigma, s, k, t, r, q, iv_status);
      }
    });
  } else if constexpr (M == Model::normal) {
    // the normal model's own kernels, on the same columns as Black-76 (q = r is not read)
    if constexpr (Q == Quantity::iv) return bachelier_iv_kernel(is_put, sigma, s, k, t, r);
    if constexpr (Q == Quantity::price) return bachelier_price_kernel(is_put, s, k, t, r, sigma);
    if constexpr (Q == Quantity::delta) return bachelier_delta_kernel(is_put, s, k, t, r, sigma);
    if constexpr (Q == Quantity::gamma) return bachelier_gamma_kernel(s, k, t, r, sigma);
    if constexpr (Q == Quantity::vega) return bachelier_vega_kernel(s, k, t, r, sigma);
    if constexpr (Q == Quantity::theta) return bachelier_theta_kernel(is_put, s, k, t, r, sigma);
    if constexpr (Q == Quantity::rho) return bachelier_rho_kernel(is_put, s, k, t, r, sigma);
    if constexpr (Q == Quantity::greeks) return bachelier_greeks_kernel(is_put, s, k, t, r, sigma);
  } else if constexpr (kSecond != 0) {
    const SecondOrder g = bsm_second_order_kernel<kSecond>(is_put, s, k, t, r, q, sigma);
    std::array<double, second_count(kSecond)> values;
    second_order_values<kSecond>(g, values.data());
    if constexpr (values.size() == 1) {
      return values[0];
    } else {
      return values;
    }
  } else if constexpr (Q == Quantity::iv) {
    return bsm_iv_kernel(is_put, sigma, s, k, t, r, q);
  } else if constexpr (M == Model::black76 && Q == Quantity::rho) {
    return black76_rho_kernel(is_put, s, k, t, r, sigma);
  } else if constexpr (M == Model::black76 && Q == Quantity::greeks) {
    return black76_greeks_kernel(is_put, s, k, t, r, sigma);
  } else {
    if constexpr (Q == Quantity::price) return bsm_price_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::delta) return bsm_delta_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::gamma) return bsm_gamma_kernel(s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::vega) return bsm_vega_kernel(s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::theta) return bsm_theta_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::rho) return bsm_rho_kernel(is_put, s, k, t, r, q, sigma);
    if constexpr (Q == Quantity::greeks) return bsm_greeks_kernel(is_put, s, k, t, r, q, sigma);
  }
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

// One function of a module's table. Its Python name is the model prefix, the quantity and, for
// the scalar twin, "_scalar"; its docstring opens with the text signature in CPython's convention
// (the name, the parameter list, a line "--" and an empty line) followed by `Doc`.
template <Model M, Quantity Q, Form F, Literal Doc = "">
struct Function {
  static constexpr Model model = M;
  static constexpr Quantity quantity = Q;
  static constexpr Form form = F;
  static constexpr const Parameters& params = parameters_of(M, Q);

  template <class Sink>
  static constexpr void emit_name(Sink&& sink) {
    constexpr std::array<std::string_view, 6> prefixes{
        "bsm_", "black76_", "american_", "american_fast_", "normal_", "american_precise_"};
    sink(prefixes[static_cast<std::size_t>(M)]);
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
    if (F == Form::into) sink(", *, out=None");
    sink(")\n--\n\n");
    sink(Doc.view());
  })>();
};

}  // namespace karvex::bindings

// The normalised Black function b(x, v) and its vega nu for the lanes of a
// block, x <= 0, lane for lane the bits of karvex::normalised_black: what the
// price block and the implied-volatility block share.
//
// Method: classify() takes vectors of x and v, sorts each lane into the
// region its test selects (asymptotic, small volatility, erfcx form; the Phi
// form is left to the caller's rare path), and forms the region's operands:
// h = x/v, t = v/2, the erfcx arguments a1, a2 and the exponent of the vega
// factor. evaluate() then gathers each region's lanes, takes their platform
// exponentials in a tight scalar loop, erfc on vectors (ErfcBlock) and the
// region's formula on whole vectors, and scatters b (and nu) back. The erfcx
// continued fraction (an argument from 26.5 on) is left to the rare path as
// well. Every formula and the region tests are the pieces the scalar function
// calls (kernels/normalised_black.hpp); what is written here is the schedule.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cmath>

#include "kernels/normalised_black.hpp"
#include "kernels/platform.hpp"
#include "simd/block.hpp"
#include "simd/lanes.hpp"
#include "simd/normal_lanes.hpp"

namespace karvex::simd {

template <class L>
struct BlackRegions {
  using D = typename L::D;
  using I = typename L::I;
  static constexpr std::size_t N = L::size;
  static constexpr std::size_t kSize = kBlockSize;

  // Lane order: what classify() forms for each lane.
  alignas(64) double h[kSize];              // x/v
  alignas(64) double half[kSize];           // v/2
  alignas(64) double a1[kSize], a2[kSize];  // erfcx arguments
  alignas(64) double vega_exponent[kSize];  // (h*h + half*half)*(-0.5)

  // The lanes of one region, gathered so that every lane of a vector takes the
  // same formula: indices into the block and the region's operands, padded to
  // whole vectors.
  struct Group {
    std::uint32_t index[kSize];
    std::size_t count;
    alignas(64) double h[kSize], half[kSize], a1[kSize], a2[kSize];
    alignas(64) double e1[kSize], e2[kSize], ev[kSize], b[kSize], nu[kSize];
    alignas(64) double c1[kSize], c2[kSize];  // erfc(a1), erfc(a2)
  };
  Group small_volatility, erfcx_form, asymptotic;
  ErfcBlock<L> erfc_block;

  void clear() noexcept { small_volatility.count = erfcx_form.count = asymptotic.count = 0; }

  // Lanes j .. j + N - 1 (those below n): x (<= 0) and the total volatility v,
  // with `rare` the lanes the caller already evaluates otherwise. Returns
  // `rare` with the lanes added that only the scalar function evaluates: the
  // Phi form and erfcx arguments from 26.5 on; v must be positive and finite
  // and x finite on the other lanes.
  I classify(std::size_t j, std::size_t n, D x, D v, I rare) noexcept {
    using namespace detail;
    const D th = black_t(v);
    const BlackRegionTests<L> region = black_region_tests<L>(x, v, th);
    const I asymptotic_lane = region.asymptotic();
    const I small_lane = ~asymptotic_lane & region.small_volatility();
    const I phi_lane = ~asymptotic_lane & ~small_lane & region.phi_form();
    const I erfcx_lane = ~asymptotic_lane & ~small_lane & ~phi_lane;
    const D hv = black_h(x, v);
    D arg1, arg2;
    black_erfcx_arguments(hv, th, arg1, arg2);
    arg1 = L::select(small_lane, black_small_volatility_argument(hv), arg1);
    arg2 = L::select(small_lane, D{}, arg2);
    rare |=
        phi_lane | ((small_lane | erfcx_lane) & (~erfcx_direct<L>(arg1) | ~erfcx_direct<L>(arg2)));
    L::store(h + j, hv);
    L::store(half + j, th);
    L::store(a1 + j, arg1);
    L::store(a2 + j, arg2);
    L::store(vega_exponent + j, black_vega_exponent(hv, th));
    append_lanes<L>(small_volatility.index, small_volatility.count, small_lane & ~rare, j, n);
    append_lanes<L>(erfcx_form.index, erfcx_form.count, erfcx_lane & ~rare, j, n);
    append_lanes<L>(asymptotic.index, asymptotic.count, asymptotic_lane & ~rare, j, n);
    return rare;
  }

  // b (and nu, if not null) of every classified lane that is not rare.
  void evaluate(double* b, double* nu) noexcept {
    gather(small_volatility, true, false);
    evaluate_small_volatility(small_volatility);
    scatter(small_volatility, b, nu);
    gather(erfcx_form, true, true);
    evaluate_erfcx_form(erfcx_form);
    scatter(erfcx_form, b, nu);
    gather(asymptotic, false, false);
    evaluate_asymptotic(asymptotic);
    scatter(asymptotic, b, nu);
  }

 private:
  // The operands of a region's lanes into its group, with the platform
  // exponentials of its erfcx factors and of its vega factor (the lanes a
  // region does not use hold copies, and their exponentials are not taken).
  void gather(Group& g, bool with_erfcx, bool with_second) noexcept {
    for (std::size_t m = 0; m < g.count; ++m) {
      const std::uint32_t i = g.index[m];
      g.h[m] = h[i];
      g.half[m] = half[i];
      g.ev[m] = platform::exp(vega_exponent[i]);
      if (with_erfcx) {
        g.a1[m] = a1[i];
        g.e1[m] = platform::exp(detail::erfcx_exponent(a1[i]));
      }
      if (with_second) {
        g.a2[m] = a2[i];
        g.e2[m] = platform::exp(detail::erfcx_exponent(a2[i]));
      }
    }
    for (std::size_t m = g.count; m % N != 0; ++m) {
      g.h[m] = g.h[m - 1];
      g.half[m] = g.half[m - 1];
      g.ev[m] = g.ev[m - 1];
      g.a1[m] = g.a1[m - 1];
      g.e1[m] = g.e1[m - 1];
      g.a2[m] = g.a2[m - 1];
      g.e2[m] = g.e2[m - 1];
    }
  }

  static void scatter(const Group& g, double* b, double* nu) noexcept {
    for (std::size_t m = 0; m < g.count; ++m) b[g.index[m]] = g.b[m];
    if (nu == nullptr) return;
    for (std::size_t m = 0; m < g.count; ++m) nu[g.index[m]] = g.nu[m];
  }

  // black_small_volatility on the group's lanes.
  void evaluate_small_volatility(Group& g) noexcept {
    using namespace detail;
    erfc_block.evaluate(g.a1, g.c1, g.count);
    for (std::size_t j = 0; j < g.count; j += N) {
      // erfcx(a) = exp(a*a)*erfc(a) below 26.5
      const D X1 = erfcx_from_erfc(L::load(g.e1 + j), L::load(g.c1 + j));
      const D nu = pdf_from_exp(L::load(g.ev + j));
      L::store(g.b + j, black_small_volatility_b<L>(L::load(g.h + j), L::load(g.half + j), X1, nu));
      L::store(g.nu + j, nu);
    }
  }

  // black_erfcx_form on the group's lanes.
  void evaluate_erfcx_form(Group& g) noexcept {
    using namespace detail;
    erfc_block.evaluate(g.a1, g.c1, g.count);
    erfc_block.evaluate(g.a2, g.c2, g.count);
    for (std::size_t j = 0; j < g.count; j += N) {
      const D X1 = erfcx_from_erfc(L::load(g.e1 + j), L::load(g.c1 + j));
      const D X2 = erfcx_from_erfc(L::load(g.e2 + j), L::load(g.c2 + j));
      const D E = L::load(g.ev + j);
      L::store(g.b + j, black_erfcx_form_b<L>(E, X1, X2));
      L::store(g.nu + j, pdf_from_exp(E));
    }
  }

  // black_asymptotic on the group's lanes.
  static void evaluate_asymptotic(Group& g) noexcept {
    using namespace detail;
    for (std::size_t j = 0; j < g.count; j += N) {
      const D nu = pdf_from_exp(L::load(g.ev + j));
      L::store(g.b + j, black_asymptotic_b<L>(L::load(g.h + j), L::load(g.half + j), nu));
      L::store(g.nu + j, nu);
    }
  }
};

}  // namespace karvex::simd

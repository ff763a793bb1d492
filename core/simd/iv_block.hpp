// The implied volatility of a block of options on vectors of N doubles, lane
// for lane the bits of bsm_iv_kernel.
//
// Method: the kernel's steps in stages over a block of up to 128 options,
//   1. (scalar) the reduced problem of each option (iv_reduce: validation,
//      discounting, x' <= 0, beta, b_max); options it decides (invalid
//      inputs, no time value, no finite volatility) are done;
//   2. (vector) b and its vega at the guess's central point s_c = sqrt(2|x|)
//      for every remaining option (BlackLanes), then (scalar) the second
//      point, (vector) b there, and (scalar) the guess from both points with
//      the start of the refinement (bracket, objective);
//   3. the refinement, the options sorted by objective: before each of the
//      at most four evaluations a vector pass decides which options stop (or
//      bisect) and the block is compacted to those that go on, so that no
//      lane idles on a finished option; then b and its vega on vectors, the
//      platform log of the lower and upper objectives in a scalar loop, and
//      the Householder step on vectors;
//   4. (scalar) the volatility s/sqrt(t).
// BlackLanes evaluates the normalised Black function as the price block does
// (BlackRegions); the Phi form, the erfcx continued fraction and degenerate
// operands take the scalar function.
//
// Written once: the Householder steps of the three objectives and the control
// of the refinement (the stop and bisection test, the bracket, the choice
// between bisection and Householder step and the floored advance) are the
// templates the scalar refinement calls (iv_middle_step ... iv_upper_step,
// iv_detail::refine_stops ... refine_advance); the scalar stages are the
// scalar kernel's own functions, compiled for the baseline processor
// (scalar_calls.hpp).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/iv.hpp"
#include "kernels/platform.hpp"
#include "simd/black_regions.hpp"
#include "simd/block.hpp"
#include "simd/lanes.hpp"
#include "simd/scalar_calls.hpp"

namespace karvex::simd {

// normalised_black(x[i], v[i]) for lists of up to a block's size, x <= 0.
template <class L>
struct BlackLanes {
  using D = typename L::D;
  using I = typename L::I;
  static constexpr std::size_t N = L::size;

  BlackRegions<L> regions;
  std::uint32_t rare[kBlockSize];
  std::size_t rare_count;

  // b[i] and nu[i] for i < n; x and v padded to whole vectors.
  void evaluate(const double* x, const double* v, double* b, double* nu, std::size_t n) noexcept {
    regions.clear();
    rare_count = 0;
    for (std::size_t j = 0; j < n; j += N) {
      const D xv = L::load(x + j), vv = L::load(v + j);
      I rare_lane = ~(vv > 0.0) | ~L::finite(vv) | ~L::finite(xv) | (xv > 0.0);
      rare_lane = regions.classify(j, n, xv, vv, rare_lane);
      append_lanes<L>(rare, rare_count, rare_lane, j, n);
    }
    regions.evaluate(b, nu);
    for (std::size_t m = 0; m < rare_count; ++m) {
      const std::uint32_t i = rare[m];
      const NormalisedBlack nb = scalar_normalised_black(x[i], v[i]);
      b[i] = nb.b;
      nu[i] = nb.nu;
    }
  }
};

// Copies element n - 1 of each array into the rest of its last vector.
template <class L, class... Arrays>
void pad_to_vectors(std::size_t n, Arrays*... arrays) noexcept {
  if (n == 0) return;
  for (std::size_t i = n; i % L::size != 0; ++i) ((arrays[i] = arrays[n - 1]), ...);
}

// The options of one objective during the refinement, compacted: their place
// in the block and the refinement's state (IvRefinement), lane by lane.
template <class L>
struct Refining {
  static constexpr std::size_t kSize = kBlockSize;
  std::uint32_t index[kSize];
  std::size_t count;
  alignas(64) double x[kSize], beta[kSize], b_max[kSize];
  alignas(64) double aux[kSize];  // ln beta (lower), b_max - beta (upper)
  alignas(64) double s[kSize], s_left[kSize], s_right[kSize], ds[kSize], ds_prev[kSize];
  alignas(64) double reversals[kSize];  // a count, as a double
  alignas(64) std::int64_t stop[kSize];
  alignas(64) double b[kSize], nu[kSize], log_value[kSize];

  void add(std::uint32_t i, double xi, double beta_i, double b_max_i,
           const IvRefinement& r) noexcept {
    const std::size_t m = count++;
    index[m] = i;
    x[m] = xi;
    beta[m] = beta_i;
    b_max[m] = b_max_i;
    aux[m] = r.objective == IvObjective::lower ? r.ln_beta : r.b_max_minus_beta;
    s[m] = r.s;
    s_left[m] = r.s_left;
    s_right[m] = r.s_right;
    ds[m] = r.ds;
    ds_prev[m] = r.ds_prev;
    reversals[m] = r.reversals;
  }

  // Drops the options whose refinement has stopped (their total volatility
  // into total[index]) and keeps the others in order.
  void compact(double* total) noexcept {
    std::size_t kept = 0;
    for (std::size_t m = 0; m < count; ++m) {
      if (stop[m] != 0) {
        total[index[m]] = s[m];
        continue;
      }
      index[kept] = index[m];
      x[kept] = x[m];
      beta[kept] = beta[m];
      b_max[kept] = b_max[m];
      aux[kept] = aux[m];
      s[kept] = s[m];
      s_left[kept] = s_left[m];
      s_right[kept] = s_right[m];
      ds[kept] = ds[m];
      ds_prev[kept] = ds_prev[m];
      reversals[kept] = reversals[m];
      ++kept;
    }
    count = kept;
  }

  void pad() noexcept {
    pad_to_vectors<L>(count, x, beta, b_max, aux, s, s_left, s_right, ds, ds_prev, reversals);
  }
};

template <class L>
struct IvBlock {
  using D = typename L::D;
  using I = typename L::I;
  static constexpr std::size_t N = L::size;
  static constexpr std::size_t kSize = kBlockSize;

  // The options the reduction left open, in order: their place in the block,
  // the reduced problem and the two points of the guess.
  std::uint32_t open[kSize];
  std::size_t open_count;
  alignas(64) double x[kSize], ax[kSize], beta[kSize], b_max[kSize];
  alignas(64) double s_c[kSize], b_c[kSize], v_c[kSize], s_2[kSize], b_2[kSize], v_2[kSize];
  alignas(64) double total[kSize];  // the refined total volatility, by place in the block
  Refining<L> middle, lower, upper;
  BlackLanes<L> black;

  // Options [base, base + n) of `in` (the target prices as sigma) into out[base + i].
  void evaluate(const OptionColumns& in, double* out, std::size_t base, std::size_t n) noexcept {
    // 1. the reduced problems
    open_count = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const IvProblem p = scalar_iv_reduce(in, base + i);
      if (p.decided) {
        out[base + i] = p.value;
        continue;
      }
      const std::size_t m = open_count++;
      open[m] = static_cast<std::uint32_t>(i);
      x[m] = p.x;
      ax[m] = p.ax;
      beta[m] = p.beta;
      b_max[m] = p.b_max;
    }
    const std::size_t m = open_count;
    if (m == 0) return;
    pad_to_vectors<L>(m, x, ax, beta, b_max);
    // 2. the guess at its two points
    for (std::size_t j = 0; j < m; j += N) {
      L::store(s_c + j, iv_guess_central_point<L>(L::load(ax + j)));
    }
    black.evaluate(x, s_c, b_c, v_c, m);
    for (std::size_t j = 0; j < m; ++j) {
      s_2[j] = scalar_iv_second_point(beta[j], b_max[j], s_c[j], {b_c[j], v_c[j]});
    }
    pad_to_vectors<L>(m, s_2);
    black.evaluate(x, s_2, b_2, v_2, m);
    middle.count = lower.count = upper.count = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const IvRefinement r = scalar_iv_guess(x[j], ax[j], beta[j], b_max[j], s_c[j],
                                             {b_c[j], v_c[j]}, s_2[j], {b_2[j], v_2[j]});
      Refining<L>& group = r.objective == IvObjective::middle  ? middle
                           : r.objective == IvObjective::lower ? lower
                                                               : upper;
      group.add(open[j], x[j], beta[j], b_max[j], r);
    }
    // 3. the refinement of each objective
    refine<IvObjective::middle>(middle);
    refine<IvObjective::lower>(lower);
    refine<IvObjective::upper>(upper);
    // 4. the volatility
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t i = base + open[j];
      out[i] = iv_from_total(total[open[j]], in.t[i]);
    }
  }

  // iv_refine on the group's options, compacted after each test.
  template <IvObjective O>
  void refine(Refining<L>& g) noexcept {
    g.pad();
    for (int i = 0; i < iv_detail::kMaxSteps && g.count != 0; ++i) {
      before_evaluation(g, i);
      g.compact(total);
      if (g.count == 0) return;
      g.pad();
      black.evaluate(g.x, g.s, g.b, g.nu, g.count);
      after_evaluation<O>(g);
    }
    for (std::size_t m = 0; m < g.count; ++m) total[g.index[m]] = g.s[m];
  }

  // iv_refine_continues on every lane: stop[] all ones where it is false.
  static void before_evaluation(Refining<L>& g, int i) noexcept {
    for (std::size_t j = 0; j < g.count; j += N) {
      D s = L::load(g.s + j), ds = L::load(g.ds + j), ds_prev = L::load(g.ds_prev + j);
      D reversals = L::load(g.reversals + j);
      const I stop = iv_detail::refine_stops(i > 0, L::fabs(ds), s, ds, ds_prev, reversals,
                                             L::load(g.s_left + j), L::load(g.s_right + j));
      L::store(g.s + j, s);
      L::store(g.ds + j, ds);
      L::store(g.ds_prev + j, ds_prev);
      L::store(g.reversals + j, reversals);
      L::store_mask(g.stop + j, stop);
    }
  }

  // iv_refine_step on every lane, b and nu at s given.
  template <IvObjective O>
  static void after_evaluation(Refining<L>& g) noexcept {
    using namespace iv_detail;
    // the platform log of the objective, where its step is taken
    if constexpr (O == IvObjective::lower) {
      for (std::size_t m = 0; m < g.count; ++m) {
        g.log_value[m] = lower_bisects(g.b[m], g.nu[m]) ? 0.0 : platform::log(g.b[m]);
      }
    } else if constexpr (O == IvObjective::upper) {
      for (std::size_t m = 0; m < g.count; ++m) {
        const double b = g.b[m], b_max = g.b_max[m];
        g.log_value[m] = upper_bisects(b, g.nu[m], b_max)
                             ? 0.0
                             : platform::log(upper_log_argument(g.aux[m], b_max, b));
      }
    }
    pad_to_vectors<L>(g.count, g.b, g.nu, g.log_value);
    for (std::size_t j = 0; j < g.count; j += N) {
      const D x = L::load(g.x + j), beta = L::load(g.beta + j);
      const D b = L::load(g.b + j), bp = L::load(g.nu + j);
      D s = L::load(g.s + j), ds;
      D s_left = L::load(g.s_left + j), s_right = L::load(g.s_right + j);
      refine_bracket(s, beta, b, s_left, s_right);
      if constexpr (O == IvObjective::middle) {
        refine_advance(s, ds, s_left, s_right, middle_bisects(bp),
                       iv_middle_step(x, s, beta, b, bp));
      } else if constexpr (O == IvObjective::lower) {
        refine_advance(s, ds, s_left, s_right, lower_bisects(b, bp),
                       iv_lower_step(x, s, L::load(g.aux + j), b, bp, L::load(g.log_value + j)));
      } else {
        const D b_max = L::load(g.b_max + j);
        refine_advance(s, ds, s_left, s_right, upper_bisects(b, bp, b_max),
                       iv_upper_step(x, s, b_max, b, bp, L::load(g.log_value + j)));
      }
      L::store(g.s_left + j, s_left);
      L::store(g.s_right + j, s_right);
      L::store(g.ds + j, ds);
      L::store(g.s + j, s);
    }
  }
};

// The implied volatilities of options [begin, end) block by block.
template <class L>
void iv_blocks(const OptionColumns& in, double* out, std::size_t begin, std::size_t end) noexcept {
  IvBlock<L> block;
  for (std::size_t base = begin; base < end; base += kBlockSize) {
    const std::size_t n = end - base < kBlockSize ? end - base : kBlockSize;
    block.evaluate(in, out, base, n);
  }
}

}  // namespace karvex::simd

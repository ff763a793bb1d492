// What the block loops share: the inputs of a block of options in lane order,
// and index lists of the lanes a mask selects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simd/dispatch.hpp"
#include "simd/lanes.hpp"

namespace karvex::simd {

inline constexpr std::size_t kBlockSize = 128;  // options per block

template <class L>
struct BlockInputs {
  static constexpr std::size_t N = L::size;

  alignas(64) double s[kBlockSize], k[kBlockSize], t[kBlockSize], r[kBlockSize], q[kBlockSize],
      sigma[kBlockSize];
  alignas(64) std::int64_t put[kBlockSize];  // all ones for a put (never without a flag)

  // Options [base, base + n) of `in` into the block, padded to whole vectors with an ordinary
  // option whose result is dropped.
  void load(const OptionColumns& in, std::size_t base, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
      s[i] = in.s[base + i];
      k[i] = in.k[base + i];
      t[i] = in.t[base + i];
      r[i] = in.r[base + i];
      q[i] = in.q[base + i];
      sigma[i] = in.sigma[base + i];
      put[i] = in.flag != nullptr && in.flag[base + i] < 0 ? -1 : 0;
    }
    for (std::size_t i = n; i % N != 0; ++i) {
      s[i] = k[i] = t[i] = sigma[i] = 1.0;
      r[i] = q[i] = 0.0;
      put[i] = 0;
    }
  }
};

// Appends the lanes j + l selected by `mask` that are below n (not padding) to the index list.
template <class L>
void append_lanes(std::uint32_t* list, std::size_t& count, typename L::I mask, std::size_t j,
                  std::size_t n) noexcept {
  for (unsigned m = L::movemask(mask); m != 0; m &= m - 1) {
    const std::size_t i = j + static_cast<std::size_t>(__builtin_ctz(m));
    if (i < n) list[count++] = static_cast<std::uint32_t>(i);
  }
}

}  // namespace karvex::simd

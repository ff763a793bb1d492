// Evaluation of many options at once on the widest vector unit the processor
// offers, returning exactly the bits of the scalar kernels.
//
// Three paths: AVX-512 (F, DQ and VL), AVX2 (with FMA) and the scalar loop.
// The vector paths evaluate blocks of options in stages: vector passes over
// the block for the arithmetic, with the platform's exp and log, which define
// the results, called in tight scalar loops between the passes; options on a
// rare path (degenerate inputs, the Phi region of the normalised Black
// function, the continued fraction of erfcx) go to the scalar kernel. The path
// is chosen once per process from the processor's features; the environment
// variable KARVEX_SIMD (scalar, avx2 or avx512) narrows it. Each path can also
// be asked for by name, which the tests and the benchmarks do to compare them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace karvex::simd {

enum class Path : unsigned char { scalar, avx2, avx512 };

inline constexpr std::array<Path, 3> kPaths{Path::scalar, Path::avx2, Path::avx512};

// "scalar", "avx2" or "avx512".
const char* path_name(Path path) noexcept;

// Whether this processor (and its operating system) runs the path.
bool supported(Path path) noexcept;

// The path of this process: the widest supported one, or, when KARVEX_SIMD
// names a path, the widest supported one not wider than that. Read once.
Path active_path() noexcept;

// The inputs of an option function as columns: the flag (negative: put) and
// the BSM inputs. A Black-76 function passes the forward as s and the rate
// again as q.
struct OptionColumns {
  const std::int8_t* flag;
  const double* s;
  const double* k;
  const double* t;
  const double* r;
  const double* q;
  const double* sigma;
};

// out[i] = bsm_price_kernel(flag[i] < 0, s[i], k[i], t[i], r[i], q[i], sigma[i])
// for i in [begin, end), bit for bit, on the given path (which must be
// supported).
void price_range(Path path, const OptionColumns& in, double* out, std::size_t begin,
                 std::size_t end) noexcept;

// The BSM Greeks a block loop evaluates: one of them, in the order of
// greek_fields, or all in one pass (the single-pass kernel).
enum class Greek : unsigned char { delta, gamma, vega, theta, rho, all };

// out[0][i] = the kernel of Greek `which` (bsm_delta_kernel ... bsm_rho_kernel)
// for i in [begin, end), or for Greek::all out[0 .. kGreekCount - 1][i] = bsm_greeks_kernel's
// delta, gamma, vega, theta and rho, bit for bit, on the given path. Gamma and
// vega take no flag (in.flag may be null).
void greeks_range(Path path, Greek which, const OptionColumns& in, double* const* out,
                  std::size_t begin, std::size_t end) noexcept;

// The Black-76 rho black76_rho_kernel = -(t*P), P the price with q = r (in.q
// must be in.r), into rho[i] for i in [begin, end), on the given path.
void black76_rho_range(Path path, const OptionColumns& in, double* rho, std::size_t begin,
                       std::size_t end) noexcept;

// out[0 .. kGreekCount - 1][i] = black76_greeks_kernel's fields for i in
// [begin, end) (in.q must be in.r), on the given path: the BSM single pass with
// the rate again as q, and its rho replaced by the Black-76 rho.
void black76_greeks_range(Path path, const OptionColumns& in, double* const* out, std::size_t begin,
                          std::size_t end) noexcept;

// out[i] = bsm_iv_kernel(flag[i] < 0, sigma[i], s[i], k[i], t[i], r[i], q[i])
// for i in [begin, end), bit for bit, on the given path: the target prices
// are passed as sigma (a Black-76 inversion passes the forward as s and the
// rate again as q).
void iv_range(Path path, const OptionColumns& in, double* out, std::size_t begin,
              std::size_t end) noexcept;

}  // namespace karvex::simd

// Reference prices of American options by finite differences, independent of
// the integral-equation method of the kernels.
//
// Method: the Black-Scholes-Merton equation in log-price x = ln(S/K),
//   V_tau = sigma^2/2 V_xx + (r - q - sigma^2/2) V_x - r V,
// on a uniform grid of N + 1 nodes with the strike on a node, central
// differences, Crank-Nicolson in time with two Rannacher starts (the first
// two intervals each taken as two fully implicit half steps), on the time
// grid tau_j = T (j/M)^2 (dense near expiry, where the exercise boundary moves
// like sqrt(tau)). The early-exercise constraint is imposed exactly in each
// solve by the Brennan-Schwartz algorithm: eliminate from the continuation
// side, then substitute back from the exercise side taking max(payoff, .).
// Values off the grid come from 4-point Lagrange interpolation in x (or the
// payoff where the option lies deep in its exercise region).
//
// Each option is solved on four grids (N, M) = 2^k (N0, M0), k = 0..3, and
// the values are extrapolated twice (Richardson, h^2 then h^4); the output
// carries the last extrapolation and the difference between the last two
// (the error estimate).
//
// Input (stdin), one problem per line:  kind T r q sigma K nS S1 ... SnS
//   (kind: p or c; several spots share one grid)
// Output (stdout), one line per spot:     kind S K T r q sigma value estimate
// in %.17g.
//
// Build: c++ -O2 -std=c++17 -o american_fd american_fd.cpp
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Problem {
  bool put;
  double T, r, q, sigma, K;
  std::vector<double> spots;
};

double payoff(bool put, double S, double K) {
  return put ? std::max(K - S, 0.0) : std::max(S - K, 0.0);
}

// Values at the spots on one grid.
std::vector<double> solve(const Problem& p, int N, int M) {
  const double s2 = p.sigma * p.sigma;
  // The x range: the spots, and 10 standard deviations of ln S at expiry plus the drift around
  // them and the strike.
  double lo = 0.0, hi = 0.0;
  for (double S : p.spots) {
    lo = std::min(lo, std::log(S / p.K));
    hi = std::max(hi, std::log(S / p.K));
  }
  const double width = 10.0 * p.sigma * std::sqrt(p.T) + std::fabs(p.r - p.q) * p.T + 0.05;
  lo -= width;
  hi += width;
  const double h = (hi - lo) / N;
  const int i0 = static_cast<int>(std::ceil(-lo / h));  // the strike's node
  std::vector<double> x(N + 1), g(N + 1), V(N + 1);
  for (int i = 0; i <= N; ++i) {
    x[i] = (i - i0) * h;
    g[i] = payoff(p.put, p.K * std::exp(x[i]), p.K);
    V[i] = g[i];
  }
  // L V = a V_{i-1} + b V_i + c V_{i+1}
  const double mu = p.r - p.q - 0.5 * s2;
  const double a = 0.5 * s2 / (h * h) - 0.5 * mu / h;
  const double c = 0.5 * s2 / (h * h) + 0.5 * mu / h;
  const double b = -s2 / (h * h) - p.r;

  std::vector<double> rhs(N + 1), dd(N + 1), uu(N + 1), ll(N + 1);
  // One step (theta scheme): (1 - th dt L) V_new = (1 + (1 - th) dt L) V_old, constrained.
  auto step = [&](double dt, double th) {
    for (int i = 1; i < N; ++i) {
      rhs[i] = V[i] + (1.0 - th) * dt * (a * V[i - 1] + b * V[i] + c * V[i + 1]);
    }
    // Dirichlet ends: the payoff on the exercise side, 0 on the far side (the grid reaches 10
    // standard deviations past every spot).
    const double left = p.put ? g[0] : 0.0;
    const double right = p.put ? 0.0 : g[N];
    for (int i = 1; i < N; ++i) {
      ll[i] = -th * dt * a;
      dd[i] = 1.0 - th * dt * b;
      uu[i] = -th * dt * c;
    }
    rhs[1] -= ll[1] * left;
    rhs[N - 1] -= uu[N - 1] * right;
    if (p.put) {
      // exercise at low x: eliminate the upper diagonal from the top, substitute from the bottom
      for (int i = N - 2; i >= 1; --i) {
        const double f = uu[i] / dd[i + 1];
        dd[i] -= f * ll[i + 1];
        rhs[i] -= f * rhs[i + 1];
      }
      V[0] = left;
      double prev = left;
      for (int i = 1; i < N; ++i) {
        const double v = (rhs[i] - (i > 1 ? ll[i] * prev : 0.0)) / dd[i];
        prev = V[i] = std::max(v, g[i]);
      }
      V[N] = right;
    } else {
      for (int i = 2; i <= N - 1; ++i) {
        const double f = ll[i] / dd[i - 1];
        dd[i] -= f * uu[i - 1];
        rhs[i] -= f * rhs[i - 1];
      }
      V[N] = right;
      double next = right;
      for (int i = N - 1; i >= 1; --i) {
        const double v = (rhs[i] - (i < N - 1 ? uu[i] * next : 0.0)) / dd[i];
        next = V[i] = std::max(v, g[i]);
      }
      V[0] = left;
    }
  };
  auto tau = [&](int j) { return p.T * (double(j) / M) * (double(j) / M); };
  for (int j = 0; j < M; ++j) {
    const double dt = tau(j + 1) - tau(j);
    if (j < 2) {
      step(0.5 * dt, 1.0);
      step(0.5 * dt, 1.0);
    } else {
      step(dt, 0.5);
    }
  }
  std::vector<double> out;
  for (double S : p.spots) {
    const double xs = std::log(S / p.K);
    const int i = std::clamp(static_cast<int>(std::floor((xs - x[0]) / h)), 1, N - 2);
    // Deep in the exercise region (all four nodes exercised): the payoff itself.
    bool exercised = true;
    for (int m = i - 1; m <= i + 2; ++m) exercised = exercised && V[m] == g[m] && g[m] > 0.0;
    if (exercised) {
      out.push_back(payoff(p.put, S, p.K));
      continue;
    }
    double v = 0.0;
    for (int m = i - 1; m <= i + 2; ++m) {
      double w = 1.0;
      for (int n = i - 1; n <= i + 2; ++n)
        if (n != m) w *= (xs - x[n]) / (x[m] - x[n]);
      v += w * V[m];
    }
    out.push_back(std::max(v, payoff(p.put, S, p.K)));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int N0 = argc > 1 ? std::atoi(argv[1]) : 500;
  const int M0 = argc > 2 ? std::atoi(argv[2]) : 250;
  char kind;
  while (std::scanf(" %c", &kind) == 1) {
    Problem p;
    p.put = kind == 'p';
    int n;
    if (std::scanf("%lf %lf %lf %lf %lf %d", &p.T, &p.r, &p.q, &p.sigma, &p.K, &n) != 6) return 1;
    p.spots.resize(n);
    for (double& S : p.spots)
      if (std::scanf("%lf", &S) != 1) return 1;
    std::vector<std::vector<double>> level;
    for (int k = 0; k < 4; ++k) level.push_back(solve(p, N0 << k, M0 << k));
    for (int s = 0; s < n; ++s) {
      double r1[3], r2[2];
      for (int k = 0; k < 3; ++k) r1[k] = (4.0 * level[k + 1][s] - level[k][s]) / 3.0;
      for (int k = 0; k < 2; ++k) r2[k] = (16.0 * r1[k + 1] - r1[k]) / 15.0;
      std::printf("%c %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.3g\n", kind, p.spots[s], p.K, p.T,
                  p.r, p.q, p.sigma, r2[1], std::fabs(r2[1] - r2[0]));
    }
    std::fflush(stdout);
  }
  return 0;
}

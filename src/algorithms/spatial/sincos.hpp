// sin and cos of joint angles: revolute joints need both on every forward
// pass, and a call into the C library per joint costs as much as the rest of
// the joint's step. All the angles of a pass are taken at once, in a loop the
// compiler turns into vector instructions.
#pragma once

#include <math.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace lumo {

namespace detail {
// (sin x, cos x) within about one unit in the last place for |x| ≤ 1e5
// (meaningless beyond, and for NaN and ±∞; x = 0 gives exactly (0, 1)).
// Straight-line code, so that a loop over it is vectorised.
//
// x = n·π/2 + r with n the nearest integer to x·2/π and |r| ≤ π/4 (π/2 held
// as a 33-bit head, whose product with n < 2^20 is exact, and a tail), then
// minimax polynomials for sin r and cos r on [−π/4, π/4] and the quadrant:
//   n mod 4 = 0: ( sin r,  cos r)    1: ( cos r, −sin r)
//             2: (−sin r, −cos r)    3: (−cos r,  sin r)
// n mod 4 is read from the low bits of x·2/π + 1.5·2^52, whose last place
// is 1.
[[gnu::always_inline]] inline void sincos_kernel(double x, double& s, double& c) {
  constexpr double kTwoOverPi = 6.36619772367581382433e-01;
  constexpr double kPiO2Head = 1.57079632673412561417e+00;
  constexpr double kPiO2Tail = 6.07710050650619224932e-11;
  constexpr double kRound = 6755399441055744.0;  // 1.5·2^52
  const double t = x * kTwoOverPi + kRound;
  const double n = t - kRound;
  const std::uint64_t quadrant = std::bit_cast<std::uint64_t>(t);
  const double r = (x - n * kPiO2Head) - n * kPiO2Tail;
  const double z = r * r;
  const double ps = -1.66666666666666324348e-01 +
                    z * (8.33333333332248946124e-03 +
                         z * (-1.98412698298579493134e-04 +
                              z * (2.75573137070700676789e-06 +
                                   z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10))));
  const double pc = 4.16666666666666019037e-02 +
                    z * (-1.38888888888741095749e-03 +
                         z * (2.48015872894767294178e-05 +
                              z * (-2.75573143513906633035e-07 +
                                   z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11))));
  const std::uint64_t sr = std::bit_cast<std::uint64_t>(r + r * z * ps);
  const std::uint64_t cr = std::bit_cast<std::uint64_t>(1.0 - (0.5 * z - z * z * pc));
  // Bit masks rather than branches: swap in odd quadrants, then the signs.
  const std::uint64_t swap = 0 - (quadrant & 1);
  const std::uint64_t a = (sr & ~swap) | (cr & swap), b = (cr & ~swap) | (sr & swap);
  s = std::bit_cast<double>(a ^ ((quadrant & 2) << 62));
  c = std::bit_cast<double>(b ^ (((quadrant + 1) & 2) << 62));
}

// s[k], c[k] = sin x[k], cos x[k] for k < n: the polynomials for all, then
// the C library for |x| > 1e5, NaN and ±∞. Always inlined, so that code
// built for a wider instruction set (the lock-step kernels) runs it in its
// own vectors, with the same operations and so the same numbers.
[[gnu::always_inline]] inline void sincos_loop(const double* __restrict x, double* __restrict s,
                                               double* __restrict c, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) sincos_kernel(x[k], s[k], c[k]);
  for (std::size_t k = 0; k < n; ++k)
    if (!(std::abs(x[k]) <= 1e5)) ::sincos(x[k], &s[k], &c[k]);
}
}  // namespace detail

// (sin x, cos x) of one angle: the polynomials for |x| ≤ 1e5, the C
// library beyond and for NaN and ±∞.
inline void sincos_inline(double x, double& s, double& c) {
  if (std::abs(x) <= 1e5)
    detail::sincos_kernel(x, s, c);
  else
    ::sincos(x, &s, &c);
}

// s[k], c[k] = sin x[k], cos x[k] for k < n, as sincos_inline.
void sincos_many(const double* x, double* s, double* c, std::size_t n);

}  // namespace lumo

#include "row_major.hpp"

namespace lumo {

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__AVX2__)
__attribute__((target_clones("avx2", "default")))
#endif
void subtract_rows(double* __restrict x, const double* __restrict X, std::size_t ld, std::size_t off,
                   const int* __restrict rows, const double* __restrict coef, std::size_t m, std::size_t len) {
  std::size_t c = 0;
  for (; c + 8 <= len; c += 8) {
    double acc[8];
    for (int t = 0; t < 8; ++t) acc[t] = x[c + t];
    for (std::size_t j = 0; j < m; ++j) {
      const double* y = X + static_cast<std::size_t>(rows[j]) * ld + off + c;
      const double cj = coef[j];
      for (int t = 0; t < 8; ++t) acc[t] -= cj * y[t];
    }
    for (int t = 0; t < 8; ++t) x[c + t] = acc[t];
  }
  for (; c < len; ++c) {
    double acc = x[c];
    for (std::size_t j = 0; j < m; ++j) acc -= coef[j] * X[static_cast<std::size_t>(rows[j]) * ld + off + c];
    x[c] = acc;
  }
}

void transpose_scaled(const double* __restrict src, std::size_t ld_src, double* __restrict dst, std::size_t ld_dst,
                      std::size_t rows, std::size_t cols, double scale) {
  constexpr std::size_t kTile = 4;
  std::size_t r0 = 0;
  for (; r0 + kTile <= rows; r0 += kTile) {
    std::size_t c0 = 0;
    for (; c0 + kTile <= cols; c0 += kTile)
      for (std::size_t r = r0; r < r0 + kTile; ++r)
        for (std::size_t c = c0; c < c0 + kTile; ++c) dst[r * ld_dst + c] = scale * src[c * ld_src + r];
    for (std::size_t r = r0; r < r0 + kTile; ++r)
      for (std::size_t c = c0; c < cols; ++c) dst[r * ld_dst + c] = scale * src[c * ld_src + r];
  }
  for (std::size_t r = r0; r < rows; ++r)
    for (std::size_t c = 0; c < cols; ++c) dst[r * ld_dst + c] = scale * src[c * ld_src + r];
}

}  // namespace lumo

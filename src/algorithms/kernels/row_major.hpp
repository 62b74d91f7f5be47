// Kernels on dense row-major blocks, for the tree solve of the dynamics
// derivatives: the row gather of a triangular sweep and the scaled
// transpose into and out of row-major storage.
#pragma once

#include <cstddef>

namespace lumo {

// x[0, len) −= Σ_j coef[j]·X[rows[j], off + (0, len)] for the row-major X
// (leading dimension ld), eight columns at a time held in registers. Built
// also for AVX2 where the build does not target it already, and picked at
// load time by the host's CPU.
void subtract_rows(double* __restrict x, const double* __restrict X, std::size_t ld, std::size_t off,
                   const int* __restrict rows, const double* __restrict coef, std::size_t m, std::size_t len);

// dst[r·ld_dst + c] = scale·src[c·ld_src + r] for r < rows, c < cols: a
// column-major block written row by row (or the other way round), in 4×4
// tiles so that both sides are read and written along memory.
void transpose_scaled(const double* __restrict src, std::size_t ld_src, double* __restrict dst, std::size_t ld_dst,
                      std::size_t rows, std::size_t cols, double scale);

}  // namespace lumo

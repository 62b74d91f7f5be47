// Copies of column-major (Eigen) matrices into the C-ordered storage of new
// NumPy arrays, and the mirror of a triangle in place, each element read
// once and written once, in 4×4 tiles of
// 256-bit vectors where the CPU has them (2×2 tiles of 128-bit ones
// otherwise, or everywhere with LUMO_BASELINE=1 in the environment).
#pragma once

#include <Eigen/Core>

namespace lumo::python {

// out[i·ldo + j] = in[j·ld + i] for i < rows, j < cols: the transpose of the
// storage order, that is the same matrix in row-major order.
void transpose_copy(const double* in, Eigen::Index ld, Eigen::Index rows, Eigen::Index cols,
                    double* out, Eigen::Index ldo);

// out[i·n + j] = M(i, j) for the symmetric n×n M whose upper triangle (with
// the diagonal) is that of in; in's strict lower part is not read.
void symmetric_copy(const double* in, Eigen::Index ld, Eigen::Index n, double* out);

// a[j·n + i] = a[i·n + j] for j < i < n: the C-ordered n×n a made symmetric
// from its lower triangle, in place (its strict upper part is not read).
void mirror_lower(double* a, Eigen::Index n);

}  // namespace lumo::python

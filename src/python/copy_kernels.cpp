// The copies of column-major matrices into the C-ordered storage of new
// arrays, in square tiles of SIMD registers.
#include "copy_kernels.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace lumo::python {

using Index = Eigen::Index;

namespace {

// The copies below write a column-major matrix `in` (leading dimension ld)
// into the C-ordered storage `out` of a new array, in square tiles: a tile
// is read down its columns and written along its rows, so that every element
// is read once and written once, with no per-element call. Tiles are 4×4
// where the CPU has 256-bit vectors (chosen once, at run time, unless
// LUMO_BASELINE=1), 2×2 with the baseline's 128-bit ones.

// out[i·ldo + j] = in[j·ld + i] for i in [i0, rows), j in [0, cols), and for
// i in [0, i0), j in [j0, cols): the edges the tiles left.
void transpose_edges(const double* in, Index ld, Index rows, Index cols, double* out, Index ldo,
                     Index i0, Index j0) {
  for (Index i = 0; i < i0; ++i)
    for (Index j = j0; j < cols; ++j) out[i * ldo + j] = in[j * ld + i];
  for (Index i = i0; i < rows; ++i)
    for (Index j = 0; j < cols; ++j) out[i * ldo + j] = in[j * ld + i];
}

// Entry (i, j) of the symmetric matrix whose upper triangle (with the
// diagonal) is that of the column-major in.
inline double upper_entry(const double* in, Index ld, Index i, Index j) {
  return i <= j ? in[j * ld + i] : in[i * ld + j];
}

// The full symmetric n×n matrix into out (C-ordered) for the entries outside
// the tiles [0, t)²: rows and columns from t on.
void symmetric_edges(const double* in, Index ld, Index n, double* out, Index t) {
  for (Index i = 0; i < n; ++i)
    for (Index j = i < t ? t : 0; j < n; ++j) out[i * n + j] = upper_entry(in, ld, i, j);
}

// A diagonal tile [i0, i0 + b)² of the symmetric matrix, entry by entry (its
// strict lower part is not stored).
void symmetric_diagonal_tile(const double* in, Index ld, Index n, double* out, Index i0, Index b) {
  for (Index i = i0; i < i0 + b; ++i)
    for (Index j = i0; j < i0 + b; ++j) out[i * n + j] = upper_entry(in, ld, i, j);
}

// a[j·n + i] = a[i·n + j] for j < i, i from i0 on: the rows the tiles left.
void mirror_edges(double* a, Index n, Index i0) {
  for (Index i = i0; i < n; ++i)
    for (Index j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMO_TILES_256 1

// Tile [i, i+4) × [j, j+4): rows r[h] = in(i + h, j .. j+4) from the columns
// c[k] = in(i .. i+4, j + k).
__attribute__((target("avx"))) inline void tile4(const double* in, Index ld, __m256d r[4]) {
  const __m256d c0 = _mm256_loadu_pd(in), c1 = _mm256_loadu_pd(in + ld);
  const __m256d c2 = _mm256_loadu_pd(in + 2 * ld), c3 = _mm256_loadu_pd(in + 3 * ld);
  const __m256d t0 = _mm256_unpacklo_pd(c0, c1), t1 = _mm256_unpackhi_pd(c0, c1);
  const __m256d t2 = _mm256_unpacklo_pd(c2, c3), t3 = _mm256_unpackhi_pd(c2, c3);
  r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Tiles start at 0, 4, 8, … and, when the size is not a multiple of 4, a
// last one at size − 4 overlaps the one before: the overlap is written twice
// with the same values, and no element is left to copy one by one.
inline Index last_tile(Index size) { return size - 4; }

__attribute__((target("avx"))) void transpose_avx(const double* in, Index ld, Index rows,
                                                  Index cols, double* out, Index ldo) {
  for (Index i = 0;; i = std::min(i + 4, last_tile(rows))) {
    for (Index j = 0;; j = std::min(j + 4, last_tile(cols))) {
      __m256d r[4];
      tile4(in + j * ld + i, ld, r);
      for (int h = 0; h < 4; ++h) _mm256_storeu_pd(out + (i + h) * ldo + j, r[h]);
      if (j == last_tile(cols)) break;
    }
    if (i == last_tile(rows)) break;
  }
}

// Diagonal tile [p, p+4)²: row h is the transposed column h of the tile on
// and above the diagonal (k ≥ h) and the stored column h before it (k < h):
// M(p + h, p + k) = M(p + k, p + h) read down column p + h.
__attribute__((target("avx"))) inline void symmetric_diagonal_avx(const double* in, Index ld,
                                                                  Index n, double* out, Index p) {
  const double* tile = in + p * ld + p;
  __m256d r[4];
  tile4(tile, ld, r);
  double* o = out + p * n + p;
  _mm256_storeu_pd(o, r[0]);
  _mm256_storeu_pd(o + n, _mm256_blend_pd(r[1], _mm256_loadu_pd(tile + ld), 0x1));
  _mm256_storeu_pd(o + 2 * n, _mm256_blend_pd(r[2], _mm256_loadu_pd(tile + 2 * ld), 0x3));
  _mm256_storeu_pd(o + 3 * n, _mm256_blend_pd(r[3], _mm256_loadu_pd(tile + 3 * ld), 0x7));
}

// Off the diagonal, tile (i, j) with i + 4 ≤ j is read once from the upper
// triangle and written twice: as it is along out's rows j.. (the mirror,
// in(i.., j + k) = M(j + k, i..)) and transposed along rows i...
__attribute__((target("avx"))) void symmetric_avx(const double* in, Index ld, Index n,
                                                  double* out) {
  for (Index j = 0;; j = std::min(j + 4, last_tile(n))) {
    for (Index i = 0; i + 4 <= j; i += 4) {
      const double* tile = in + j * ld + i;
      for (int k = 0; k < 4; ++k)
        _mm256_storeu_pd(out + (j + k) * n + i, _mm256_loadu_pd(tile + k * ld));
      __m256d r[4];
      tile4(tile, ld, r);
      for (int h = 0; h < 4; ++h) _mm256_storeu_pd(out + (i + h) * n + j, r[h]);
    }
    symmetric_diagonal_avx(in, ld, n, out, j);
    if (j == last_tile(n)) break;
  }
  // With an overlapping last tile at n − 4, the rows [t − 4, n − 4) of the
  // columns [t, n) (t = n rounded down to 4) lie in no tile.
  const Index t = n & ~Index{3};
  if (t == n) return;
  for (Index i = t - 4; i < n - 4; ++i)
    for (Index j = t; j < n; ++j) out[i * n + j] = out[j * n + i] = in[j * ld + i];
}

// The upper triangle of the C-ordered a from its lower one, in 4×4 tiles of
// [0, t)², t = n rounded down to 4: tile (i, j) below the diagonal (j + 4 ≤
// i) is read along its rows and written transposed at (j, i); a diagonal
// tile keeps its lower part and takes the mirror of it above. Rows from t
// on are left to mirror_edges.
__attribute__((target("avx"))) void mirror_avx(double* a, Index n) {
  const Index t = n & ~Index{3};
  for (Index i = 0; i < t; i += 4) {
    for (Index j = 0; j + 4 <= i; j += 4) {
      __m256d r[4];
      tile4(a + i * n + j, n, r);
      for (int h = 0; h < 4; ++h) _mm256_storeu_pd(a + (j + h) * n + i, r[h]);
    }
    // Row h of the diagonal tile: its own entries up to the diagonal (k ≤ h),
    // entry (p + k, p + h) of the tile's lower part beyond.
    double* d = a + i * n + i;
    __m256d r[4];
    tile4(d, n, r);
    _mm256_storeu_pd(d, _mm256_blend_pd(r[0], _mm256_loadu_pd(d), 0x1));
    _mm256_storeu_pd(d + n, _mm256_blend_pd(r[1], _mm256_loadu_pd(d + n), 0x3));
    _mm256_storeu_pd(d + 2 * n, _mm256_blend_pd(r[2], _mm256_loadu_pd(d + 2 * n), 0x7));
  }
  mirror_edges(a, n, t);
}

// LUMO_BASELINE=1 in the environment keeps the baseline copies on any CPU.
bool has_avx() {
  static const bool yes = [] {
    const char* baseline = std::getenv("LUMO_BASELINE");
    return __builtin_cpu_supports("avx") && !(baseline != nullptr && std::strcmp(baseline, "1") == 0);
  }();
  return yes;
}
#endif

#if defined(__SSE2__)
// Tile [i, i+2) × [j, j+2) from the columns a = in(i .., j), b = in(i .., j + 1).
inline void tile2(const double* in, Index ld, __m128d& r0, __m128d& r1) {
  const __m128d a = _mm_loadu_pd(in), b = _mm_loadu_pd(in + ld);
  r0 = _mm_unpacklo_pd(a, b);
  r1 = _mm_unpackhi_pd(a, b);
}
#endif

void transpose_baseline(const double* in, Index ld, Index rows, Index cols, double* out,
                        Index ldo) {
#if defined(__SSE2__)
  const Index i0 = rows & ~Index{1}, j0 = cols & ~Index{1};
  for (Index i = 0; i < i0; i += 2)
    for (Index j = 0; j < j0; j += 2) {
      __m128d r0, r1;
      tile2(in + j * ld + i, ld, r0, r1);
      _mm_storeu_pd(out + i * ldo + j, r0);
      _mm_storeu_pd(out + (i + 1) * ldo + j, r1);
    }
  transpose_edges(in, ld, rows, cols, out, ldo, i0, j0);
#else
  transpose_edges(in, ld, rows, cols, out, ldo, 0, 0);
#endif
}

void mirror_baseline(double* a, Index n) {
#if defined(__SSE2__)
  const Index t = n & ~Index{1};
  for (Index i = 0; i < t; i += 2) {
    for (Index j = 0; j < i; j += 2) {
      __m128d r0, r1;
      tile2(a + i * n + j, n, r0, r1);
      _mm_storeu_pd(a + j * n + i, r0);
      _mm_storeu_pd(a + (j + 1) * n + i, r1);
    }
    a[i * n + i + 1] = a[(i + 1) * n + i];
  }
  mirror_edges(a, n, t);
#else
  mirror_edges(a, n, 0);
#endif
}

void symmetric_baseline(const double* in, Index ld, Index n, double* out) {
#if defined(__SSE2__)
  const Index t = n & ~Index{1};
  for (Index j = 0; j < t; j += 2) {
    for (Index i = 0; i < j; i += 2) {
      const double* tile = in + j * ld + i;
      _mm_storeu_pd(out + j * n + i, _mm_loadu_pd(tile));
      _mm_storeu_pd(out + (j + 1) * n + i, _mm_loadu_pd(tile + ld));
      __m128d r0, r1;
      tile2(tile, ld, r0, r1);
      _mm_storeu_pd(out + i * n + j, r0);
      _mm_storeu_pd(out + (i + 1) * n + j, r1);
    }
    symmetric_diagonal_tile(in, ld, n, out, j, 2);
  }
  symmetric_edges(in, ld, n, out, t);
#else
  symmetric_edges(in, ld, n, out, 0);
#endif
}

}  // namespace

// out[i·ldo + j] = in[j·ld + i] for i < rows, j < cols.
void transpose_copy(const double* in, Index ld, Index rows, Index cols, double* out, Index ldo) {
#ifdef LUMO_TILES_256
  if (rows >= 4 && cols >= 4 && has_avx()) return transpose_avx(in, ld, rows, cols, out, ldo);
#endif
  transpose_baseline(in, ld, rows, cols, out, ldo);
}

// out[i·n + j] = M(i, j) of the symmetric M whose upper triangle is in's.
void symmetric_copy(const double* in, Index ld, Index n, double* out) {
#ifdef LUMO_TILES_256
  if (n >= 4 && has_avx()) return symmetric_avx(in, ld, n, out);
#endif
  symmetric_baseline(in, ld, n, out);
}

// a[j·n + i] = a[i·n + j] for j < i.
void mirror_lower(double* a, Index n) {
#ifdef LUMO_TILES_256
  if (n >= 4 && has_avx()) return mirror_avx(a, n);
#endif
  mirror_baseline(a, n);
}

}  // namespace lumo::python

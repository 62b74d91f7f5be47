#include "tree_ldl.hpp"

#include "../kernels/row_major.hpp"

#include <algorithm>
#include <cmath>

namespace lumo {

void size_tree_factor(Data& data, std::size_t nv) {
  for (auto* list : {&data.coordinate_parent, &data.coordinate_depth, &data.ldl_rows})
    if (list->size() != nv) list->resize(nv);
  if (data.coordinate_end.size() != nv) data.coordinate_end.resize(nv);
  if (data.ldl_coef.size() != nv) data.ldl_coef.resize(nv);
  const auto n = static_cast<Eigen::Index>(nv);
  if (data.ldl_factor.rows() != n || data.ldl_factor.cols() != n) data.ldl_factor.setZero(n, n);
  if (data.ldl_scale.size() != n) data.ldl_scale.setZero(n);
}

std::size_t coordinate_tree(const Model& model, Data& data) {
  const std::size_t nv = model.nv;
  int* const parent = data.coordinate_parent.data();
  std::size_t* const end = data.coordinate_end.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    // the last coordinate on the path from the root to i's parent
    JointIndex a = model.parents[i];
    while (a != 0 && model.nv_joint[a] == 0) a = model.parents[a];
    int last = a == 0 ? -1 : static_cast<int>(model.idx_v[a] + model.nv_joint[a]) - 1;
    for (std::size_t k = 0; k < model.nv_joint[i]; ++k) {
      const std::size_t c = model.idx_v[i] + k;
      parent[c] = last;
      last = static_cast<int>(c);
    }
  }
  for (std::size_t c = 0; c < nv; ++c) end[c] = c + 1;
  for (std::size_t c = nv; c-- > 0;)
    if (parent[c] >= 0) end[parent[c]] = std::max(end[parent[c]], end[c]);
  std::size_t entries = 0;
  int* const depth = data.coordinate_depth.data();
  for (std::size_t c = 0; c < nv; ++c) {
    depth[c] = parent[c] < 0 ? 0 : depth[parent[c]] + 1;
    entries += static_cast<std::size_t>(depth[c]);
  }
  return entries;
}

void factorM(const MatrixX& M, Data& data, Triangle triangle) {
  const std::size_t nv = data.nv;
  const int* const parent = data.coordinate_parent.data();
  double* const H = data.ldl_factor.data();
  const double* const Mfull = M.data();
  // M[k, i] for an ancestor i < k, from whichever triangle holds it
  const auto below = [&](std::size_t k, std::size_t i) {
    return triangle == Triangle::lower ? Mfull[i * nv + k] : Mfull[k * nv + i];
  };
  data.ldl_factor.setZero();  // the entries off the ancestor paths stay zero
  for (std::size_t k = 0; k < nv; ++k) {
    H[k * nv + k] = Mfull[k * nv + k];
    for (int i = parent[k]; i >= 0; i = parent[i])
      H[static_cast<std::size_t>(i) * nv + k] = below(k, static_cast<std::size_t>(i));
  }
  int* const path = data.ldl_rows.data();
  for (std::size_t k = nv; k-- > 0;) {
    // the path above k, nearest first: the ancestors of path[a] are path[a, m)
    std::size_t m = 0;
    for (int i = parent[k]; i >= 0; i = parent[i]) path[m++] = i;
    const double dk = H[k * nv + k];
    for (std::size_t a = 0; a < m; ++a) {
      const auto ui = static_cast<std::size_t>(path[a]);
      const double l = H[ui * nv + k] / dk;
      for (std::size_t b = a; b < m; ++b) {
        const auto uj = static_cast<std::size_t>(path[b]);
        H[uj * nv + ui] -= H[uj * nv + k] * l;
      }
      H[ui * nv + k] = l;
    }
  }
}

void solveM_rows(Data& data, double* X, std::size_t ld, std::size_t cols) {
  const std::size_t nv = data.nv;
  const int* const parent = data.coordinate_parent.data();
  const std::size_t* const end = data.coordinate_end.data();
  const double* const H = data.ldl_factor.data();
  int* const rows = data.ldl_rows.data();
  double* const coef = data.ldl_coef.data();
  // Lᵀ y = x from the leaves up: row i less its descendants' rows (the
  // unit lower L is nonzero only where i is an ancestor of k, inside i's
  // subtree [i, end_i)); then z = D⁻¹ y.
  for (std::size_t i = nv; i-- > 0;) {
    std::size_t m = 0;
    for (std::size_t k = i + 1; k < end[i]; ++k) {
      const double l = H[i * nv + k];
      if (l == 0.0) continue;
      rows[m] = static_cast<int>(k);
      coef[m++] = l;
    }
    double* const xi = X + i * ld;
    subtract_rows(xi, X, ld, 0, rows, coef, m, cols);
  }
  for (std::size_t i = 0; i < nv; ++i) {
    const double dinv = 1.0 / H[i * nv + i];
    double* const xi = X + i * ld;
    for (std::size_t c = 0; c < cols; ++c) xi[c] *= dinv;
  }
  // L x = z from the root down: row k less its ancestors' rows.
  for (std::size_t k = 0; k < nv; ++k) {
    std::size_t m = 0;
    for (int i = parent[k]; i >= 0; i = parent[i]) {
      rows[m] = i;
      coef[m++] = H[static_cast<std::size_t>(i) * nv + k];
    }
    subtract_rows(X + k * ld, X, ld, 0, rows, coef, m, cols);
  }
}

void factor_scale(Data& data) {
  for (std::size_t k = 0; k < data.nv; ++k)
    data.ldl_scale[static_cast<Eigen::Index>(k)] = 1.0 / std::sqrt(data.ldl_factor(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k)));
}

void solveHalfUp_columns(const Data& data, double* X, std::size_t ld, std::size_t cols) {
  const std::size_t nv = data.nv;
  const double* const scale = data.ldl_scale.data();
  const int* const parent = data.coordinate_parent.data();
  const double* const H = data.ldl_factor.data();
  for (std::size_t c = 0; c < cols; ++c) {
    double* const x = X + c * ld;
    for (std::size_t k = nv; k-- > 0;) {
      const double yk = x[k];
      if (yk == 0.0) continue;
      for (int i = parent[k]; i >= 0; i = parent[i]) x[i] -= H[static_cast<std::size_t>(i) * nv + k] * yk;
    }
    for (std::size_t k = 0; k < nv; ++k) x[k] *= scale[k];
  }
}

void solveHalfDown_columns(const Data& data, double* X, std::size_t ld, std::size_t cols) {
  const std::size_t nv = data.nv;
  const double* const scale = data.ldl_scale.data();
  const int* const parent = data.coordinate_parent.data();
  const double* const H = data.ldl_factor.data();
  for (std::size_t c = 0; c < cols; ++c) {
    double* const x = X + c * ld;
    for (std::size_t k = 0; k < nv; ++k) {
      double s = x[k] * scale[k];
      for (int i = parent[k]; i >= 0; i = parent[i]) s -= H[static_cast<std::size_t>(i) * nv + k] * x[i];
      x[k] = s;
    }
  }
}

}  // namespace lumo

// The passes of the mass matrix shared by crba and computeAllTerms: the
// composite inertias of the subtrees, held about the world origin where
// sums are plain additions (OriginInertia), and the columns of M they give.
// Written over the scalar of the state like the other passes (rnea_pass.hpp):
// `data` a Data, or the workspace of the lock-step kernels, which keeps the
// same members (j, j_transposed as plain arrays of 6·nv, column by column and
// row by row, ancestor_runs, origin_composite). Private to src/algorithms.
#pragma once

#include <algorithm>

#include "../../data/data.hpp"
#include "../../model/model.hpp"

namespace lumo {

// The root of the mass-matrix passes: no rows above the root.
template <class Work>
inline void start_mass_matrix(Work& data) {
  data.ancestor_runs[0] = Data::RowRun{};
}

namespace detail {

// Y·(v, ω) for Y about the world origin (mass m, first moment h = m·c,
// rotational inertia I_o about the origin):
//   f = m v − h × ω,   n = I_o ω + h × v.
template <class S>
inline void origin_apply(const OriginInertiaT<S>& Y, const S* J, S* f, S* n) {
  const S* I = Y.inertia.data();
  const S hx = Y.first_moment.x(), hy = Y.first_moment.y(), hz = Y.first_moment.z();
  const S vx = J[0], vy = J[1], vz = J[2], wx = J[3], wy = J[4], wz = J[5];
  f[0] = Y.mass * vx - (hy * wz - hz * wy);
  f[1] = Y.mass * vy - (hz * wx - hx * wz);
  f[2] = Y.mass * vz - (hx * wy - hy * wx);
  n[0] = ((I[0] * wx + I[1] * wy) + I[3] * wz) + (hy * vz - hz * vy);
  n[1] = ((I[1] * wx + I[2] * wy) + I[4] * wz) + (hz * vx - hx * vz);
  n[2] = ((I[3] * wx + I[4] * wy) + I[5] * wz) + (hx * vy - hy * vx);
}

// col[r] = J_rᵀ·(f, n) for the rows r in [lo, hi), from the transposed
// Jacobian T (component k of row r at T[k·nv + r]): row after row along
// memory, which the compiler turns into vector instructions.
template <class S>
inline void project_rows(const S* __restrict T, std::size_t nv, const S* f, const S* n, std::size_t lo,
                         std::size_t hi, S* __restrict col) {
  const S f0 = f[0], f1 = f[1], f2 = f[2], n0 = n[0], n1 = n[1], n2 = n[2];
  const S *t0 = T, *t1 = T + nv, *t2 = T + 2 * nv, *t3 = T + 3 * nv, *t4 = T + 4 * nv, *t5 = T + 5 * nv;
  for (std::size_t r = lo; r < hi; ++r)
    col[r] = ((t0[r] * f0 + t1[r] * f1) + t2[r] * f2) + ((t3[r] * n0 + t4[r] * n1) + t5[r] * n2);
}

}  // namespace detail

// What the backward pass reads besides data.j, for joint i (its parent
// done, its columns of data.j written): those columns copied into
// data.j_transposed and the runs of rows of i and its ancestors
// (data.ancestor_runs[i]).
template <class Work>
void mass_matrix_forward_step(const Model& model, Work& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
  const std::size_t nv = model.nv;
  const auto* J = data.j.data();
  auto* T = data.j_transposed.data();
  for (std::size_t c = iv; c < iv + n; ++c)
    for (std::size_t k = 0; k < 6; ++k) T[k * nv + c] = J[6 * c + k];
  // The parent's runs, with i's rows added to the last one when adjacent
  // (a joint without rows shares its parent's).
  const Data::RowRun& parent = data.ancestor_runs[model.parents[i]];
  Data::RowRun& run = data.ancestor_runs[i];
  if (n == 0)
    run = parent;
  else if (parent.hi == iv)
    run = {parent.lo, iv + n, parent.rest};
  else
    run = {iv, iv + n, static_cast<long>(model.parents[i])};
}
void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i);

// With data.j and its transpose current, and Y the composite inertia of
// joint i's subtree about the origin, the rows r ≤ c of each column c of i
// in M (nv×nv, column-major, leading dimension ld):
//   M[r, c] = J_rᵀ·Y·J_c  for the columns r of i and of its ancestors,
//   M[r, c] = 0           for the other r ≤ c (other branches);
// the rows below the diagonal are not written. The momentum Y·J_c of each
// column (world frame, [linear; angular]) goes to momentum[6c .. 6c + 6)
// when momentum is not null.
template <class S, class Work>
void mass_matrix_columns(const Model& model, Work& data, JointIndex i, const OriginInertiaT<S>& Y, S* M,
                         std::size_t ld, S* momentum) {
  const std::size_t iv = model.idx_v[i], nvi = model.nv_joint[i];
  const std::size_t nv = model.nv;
  const S* const J = data.j.data();
  const S* const T = data.j_transposed.data();
  const Data::RowRun* const runs = data.ancestor_runs.data();
  for (std::size_t k = 0; k < nvi; ++k) {
    const std::size_t c = iv + k;
    S fn[6];  // Y·J_c: force, then moment
    detail::origin_apply(Y, J + 6 * c, fn, fn + 3);
    if (momentum != nullptr) {
      S* out = momentum + 6 * c;
      for (int e = 0; e < 6; ++e) out[e] = fn[e];
    }
    S* col = M + c * ld;
    // M[r, c] = J_rᵀ·(Y·J_c): the joint's own rows up to the diagonal with
    // the adjacent ancestor rows before them, then the other runs of
    // ancestor rows, each run below the one before; the rows between runs
    // and above the first (other branches) are zero.
    detail::project_rows(T, nv, fn, fn + 3, runs[i].lo, c + 1, col);
    std::size_t lo = runs[i].lo;
    for (long a = runs[i].rest; a >= 0; a = runs[a].rest) {
      std::fill(col + runs[a].hi, col + lo, S(0.0));
      detail::project_rows(T, nv, fn, fn + 3, runs[a].lo, runs[a].hi, col);
      lo = runs[a].lo;
    }
    std::fill(col, col + lo, S(0.0));
  }
}
void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const OriginInertia& Y,
                         Eigen::Ref<Eigen::MatrixXd> mass_matrix, Matrix6X* momentum);

// Y_i about its centre of mass, kept by a Data (world_inertia[i]).
inline void keep_world_inertia(Data& data, JointIndex i, const OriginInertia& Y) {
  data.world_inertia[i] = centre_form(Y);
}

// One step of the backward pass, with data.origin_composite[i] the
// composite of i's subtree: its columns of M, upper triangle, into M
// (mass_matrix_columns), then Y_λ += Y_i (into entry 0 only when into_root),
// and world_inertia[i] = Y_i about its centre of mass (keep_world_inertia).
template <class S, class Work>
void composite_step(const Model& model, Work& data, JointIndex i, S* M, std::size_t ld, S* momentum,
                    bool into_root) {
  const OriginInertiaT<S>& Y = data.origin_composite[i];
  mass_matrix_columns(model, data, i, Y, M, ld, momentum);
  const JointIndex p = model.parents[i];
  if (p != 0 || into_root) data.origin_composite[p] += Y;  // Y_λ += Y_i
  keep_world_inertia(data, i, Y);
}
void composite_step(const Model& model, Data& data, JointIndex i, Eigen::Ref<Eigen::MatrixXd> mass_matrix,
                    Matrix6X* momentum, bool into_root);

}  // namespace lumo

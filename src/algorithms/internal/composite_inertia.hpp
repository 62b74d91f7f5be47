// The passes of the mass matrix shared by crba and computeAllTerms: the
// composite inertias of the subtrees, held about the world origin where
// sums are plain additions (OriginInertia), and the columns of M they give.
// Written over the scalar of the state like the other passes (rnea_pass.hpp):
// `data` a Data, or the workspace of the lock-step kernels, which keeps the
// same members (j as a plain array of 6·nv, column by column, ancestor_runs,
// origin_composite). Private to src/algorithms.
#pragma once

#include <algorithm>
#include <cstring>

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

// col[r] = J_rᵀ·(f, n) for the rows r in [lo, hi), from the Jacobian J
// (column r at J + 6r), the six products summed as
// ((j0 f0 + j2 f2) + j4 n1) + ((j1 f1 + j3 n0) + j5 n2): the pairs (j0, j1),
// (j2, j3), (j4, j5) of a column multiply as vectors, with no copy of J
// into rows and nothing to set up for short runs.
template <class S>
inline void project_rows(const S* J, const S* fn, std::size_t lo, std::size_t hi, S* __restrict col) {
  const S a0 = fn[0], a1 = fn[1], a2 = fn[2], a3 = fn[3], a4 = fn[4], a5 = fn[5];
  for (std::size_t r = lo; r < hi; ++r) {
    const S* t = J + 6 * r;
    col[r] = ((t[0] * a0 + t[2] * a2) + t[4] * a4) + ((t[1] * a1 + t[3] * a3) + t[5] * a5);
  }
}

// The same sums for double, written with the pairs as two-lane vectors: lane
// 0 sums j0 f0, j2 f2, j4 n1 and lane 1 j1 f1, j3 n0, j5 n2, in that order,
// then the lanes add, so each entry is bit for bit the scalar one. Rows go
// two at a time: their lane sums are paired by two shuffles and added at
// once.
inline void project_rows(const double* J, const double* fn, std::size_t lo, std::size_t hi,
                         double* __restrict col) {
  using Pair = detail::Lanes2;
  Pair a01, a23, a45;
  std::memcpy(&a01, fn, sizeof(Pair));
  std::memcpy(&a23, fn + 2, sizeof(Pair));
  std::memcpy(&a45, fn + 4, sizeof(Pair));
  auto lanes = [&](std::size_t r) {
    Pair t0, t1, t2;
    std::memcpy(&t0, J + 6 * r, sizeof(Pair));
    std::memcpy(&t1, J + 6 * r + 2, sizeof(Pair));
    std::memcpy(&t2, J + 6 * r + 4, sizeof(Pair));
    return (t0 * a01 + t1 * a23) + t2 * a45;
  };
  std::size_t r = lo;
  for (; r + 2 <= hi; r += 2) {
    const Pair s = lanes(r), u = lanes(r + 1);
    const Pair e = __builtin_shufflevector(s, u, 0, 2) + __builtin_shufflevector(s, u, 1, 3);
    std::memcpy(col + r, &e, sizeof e);
  }
  if (r < hi) {
    const Pair s = lanes(r);
    col[r] = s[0] + s[1];
  }
}

}  // namespace detail

// What the backward pass reads besides data.j, for joint i (its parent
// done): the runs of rows of i and its ancestors (data.ancestor_runs[i]).
template <class Work>
void mass_matrix_forward_step(const Model& model, Work& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
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

// With data.j current, and Y the composite inertia of
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
  const S* const J = data.j.data();
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
    detail::project_rows(J, fn, runs[i].lo, c + 1, col);
    std::size_t lo = runs[i].lo;
    for (long a = runs[i].rest; a >= 0; a = runs[a].rest) {
      std::fill(col + runs[a].hi, col + lo, S(0.0));
      detail::project_rows(J, fn, runs[a].lo, runs[a].hi, col);
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

#include "crba.hpp"

#include <algorithm>

#include "jacobians.hpp"

namespace lumo {
namespace {

// J_rᵀ·F for the [linear; angular] column at J: the same sums, in the same
// order, as project(column, F).
inline double project_raw(const double* J, const Force& F) {
  return ((J[0] * F.force[0] + J[1] * F.force[1]) + J[2] * F.force[2]) +
         ((J[3] * F.moment[0] + J[4] * F.moment[1]) + J[5] * F.moment[2]);
}

// Y·(v, ω) for Y about the world origin (mass m, first moment h = m·c in
// `lever`, rotational inertia I_o about the origin):
//   f = m v − h × ω,   n = I_o ω + h × v.
inline Force origin_apply(const BodyInertia& Y, const double* J) {
  const double* I = Y.inertia.data();
  const double hx = Y.lever.x(), hy = Y.lever.y(), hz = Y.lever.z();
  const double vx = J[0], vy = J[1], vz = J[2], wx = J[3], wy = J[4], wz = J[5];
  Force out;
  out.force = Vector3(Y.mass * vx - (hy * wz - hz * wy), Y.mass * vy - (hz * wx - hx * wz),
                      Y.mass * vz - (hx * wy - hy * wx));
  out.moment = Vector3(((I[0] * wx + I[1] * wy) + I[3] * wz) + (hy * vz - hz * vy),
                       ((I[1] * wx + I[2] * wy) + I[4] * wz) + (hz * vx - hx * vz),
                       ((I[3] * wx + I[4] * wy) + I[5] * wz) + (hx * vy - hy * vx));
  return out;
}

}  // namespace

void transpose_jacobian(Data& data) {
  const auto n = static_cast<std::size_t>(data.j.cols());
  const double* J = data.j.data();
  double* T = data.aux_jacobian_t.data();
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t k = 0; k < 6; ++k) T[k * n + r] = J[6 * r + k];
}

namespace {

// M[r, c] = J_rᵀ·F for the rows r in [lo, hi), from the transposed Jacobian:
// per row the same sums in the same order as project_raw, row after row
// along memory (which the compiler turns into vector instructions).
inline void project_rows(const double* T, std::size_t n, const Force& F, std::size_t lo,
                         std::size_t hi, double* col) {
  const double f0 = F.force[0], f1 = F.force[1], f2 = F.force[2];
  const double n0 = F.moment[0], n1 = F.moment[1], n2 = F.moment[2];
  const double *t0 = T, *t1 = T + n, *t2 = T + 2 * n, *t3 = T + 3 * n, *t4 = T + 4 * n, *t5 = T + 5 * n;
  for (std::size_t r = lo; r < hi; ++r)
    col[r] = ((t0[r] * f0 + t1[r] * f1) + t2[r] * f2) + ((t3[r] * n0 + t4[r] * n1) + t5[r] * n2);
}

}  // namespace

const double* rows_for_mass_matrix(Data& data) {
  if (data.j.cols() < kRowwiseMassMatrix) return nullptr;
  transpose_jacobian(data);
  return data.aux_jacobian_t.data();
}

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum, const double* T) {
  const std::size_t nvi = model.nv_joint[i];
  if (nvi == 0) return;
  const std::size_t iv = model.idx_v[i];
  const auto ld = static_cast<std::size_t>(data.M.rows());
  const std::size_t n = static_cast<std::size_t>(data.M.cols());
  double* const M = data.M.data();
  const double* const J = data.j.data();

  Force F[6];  // Y·J_c for the joint's columns (a joint has at most 6)
  for (std::size_t k = 0; k < nvi; ++k) {
    const auto c = static_cast<Eigen::Index>(iv + k);
    F[k] = origin_apply(Y, J + 6 * (iv + k));
    if (momentum != nullptr) momentum->col(c) << F[k].force, F[k].moment;
  }
  // Own columns r ≤ c; below the diagonal stays zero.
  for (std::size_t k = 0; k < nvi; ++k) {
    double* col = M + (iv + k) * ld;
    for (std::size_t kr = 0; kr <= k; ++kr) col[iv + kr] = project_raw(J + 6 * (iv + kr), F[k]);
    std::fill(col + iv + k + 1, col + n, 0.0);
  }
  // Every column of every ancestor; the rows between them belong to joints
  // off the path to the root (other branches), whose entries are zero.
  if (T == nullptr) {
    std::size_t hi = iv;  // rows [hi, iv) are done
    for (JointIndex a = model.parents[i]; a != 0; a = model.parents[a]) {
      const std::size_t av = model.idx_v[a], an = model.nv_joint[a];
      for (std::size_t k = 0; k < nvi; ++k) {
        double* col = M + (iv + k) * ld;
        for (std::size_t r = av + an; r < hi; ++r) col[r] = 0.0;
        for (std::size_t kr = 0; kr < an; ++kr) col[av + kr] = project_raw(J + 6 * (av + kr), F[k]);
      }
      hi = av;
    }
    for (std::size_t k = 0; k < nvi; ++k)
      for (std::size_t r = 0; r < hi; ++r) M[(iv + k) * ld + r] = 0.0;
    return;
  }
  // The same from the transposed rows, in runs of adjacent ancestor rows.
  auto flush = [&](std::size_t lo, std::size_t hi) {
    for (std::size_t k = 0; k < nvi; ++k) project_rows(T, n, F[k], lo, hi, M + (iv + k) * ld);
  };
  auto clear = [&](std::size_t lo, std::size_t hi) {
    for (std::size_t k = 0; k < nvi; ++k)
      for (std::size_t r = lo; r < hi; ++r) M[(iv + k) * ld + r] = 0.0;
  };
  std::size_t lo = iv, run_hi = iv;  // ancestor rows [lo, run_hi) still to write
  for (JointIndex a = model.parents[i]; a != 0; a = model.parents[a]) {
    const std::size_t av = model.idx_v[a], an = model.nv_joint[a];
    if (av + an != lo) {
      flush(lo, run_hi);
      clear(av + an, lo);
      run_hi = av + an;
    }
    lo = av;
  }
  flush(lo, run_hi);
  clear(0, lo);
}

void composite_step(const Model& model, Data& data, JointIndex i, Matrix6X* momentum,
                    const double* rows, bool into_root) {
  BodyInertia& Y = data.world_inertia[i];
  mass_matrix_columns(model, data, i, Y, momentum, rows);
  const JointIndex p = model.parents[i];
  if (p != 0 || into_root) {
    BodyInertia& Yp = data.world_inertia[p];
    Yp.mass += Y.mass;
    Yp.lever += Y.lever;
    for (int k = 0; k < 6; ++k) Yp.inertia[k] += Y.inertia[k];
  }
  to_centre_form(Y);
}

const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  computeJointJacobians(model, data, q);
  data.world_inertia[0] = BodyInertia::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);
    to_origin_form(data.world_inertia[i]);
  }

  const double* rows = rows_for_mass_matrix(data);
  // Backward pass: with Y_i the composite inertia of i's subtree about the
  // world origin, M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and
  // the columns r of i and its ancestors; then Y_λ += Y_i, a plain sum about
  // the common point. Each column of M is written whole (zeros off the path
  // and below the diagonal), so no clearing pass is needed.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) composite_step(model, data, i, nullptr, rows, false);
  return data.M;
}

}  // namespace lumo

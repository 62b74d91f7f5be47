#include "crba.hpp"

#include <algorithm>

#include "jacobians.hpp"
#include "kinematics.hpp"

namespace lumo {
namespace {

// Y·(v, ω) for Y about the world origin (mass m, first moment h = m·c in
// `lever`, rotational inertia I_o about the origin):
//   f = m v − h × ω,   n = I_o ω + h × v.
inline void origin_apply(const BodyInertia& Y, const double* J, double* f, double* n) {
  const double* I = Y.inertia.data();
  const double hx = Y.lever.x(), hy = Y.lever.y(), hz = Y.lever.z();
  const double vx = J[0], vy = J[1], vz = J[2], wx = J[3], wy = J[4], wz = J[5];
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
inline void project_rows(const double* T, std::size_t nv, const double* f, const double* n, std::size_t lo,
                         std::size_t hi, double* col) {
  const double f0 = f[0], f1 = f[1], f2 = f[2], n0 = n[0], n1 = n[1], n2 = n[2];
  const double *t0 = T, *t1 = T + nv, *t2 = T + 2 * nv, *t3 = T + 3 * nv, *t4 = T + 4 * nv, *t5 = T + 5 * nv;
  for (std::size_t r = lo; r < hi; ++r)
    col[r] = ((t0[r] * f0 + t1[r] * f1) + t2[r] * f2) + ((t3[r] * n0 + t4[r] * n1) + t5[r] * n2);
}

}  // namespace

void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
  const auto nv = static_cast<std::size_t>(data.j.cols());
  const double* J = data.j.data();
  double* T = data.aux_jacobian_t.data();
  for (std::size_t c = iv; c < iv + n; ++c)
    for (std::size_t k = 0; k < 6; ++k) T[k * nv + c] = J[6 * c + k];
  // The parent's runs, with i's rows added to the last one when adjacent.
  const JointIndex p = model.parents[i];
  if (n == 0) {
    data.run_lo[i] = data.run_lo[p], data.run_hi[i] = data.run_hi[p], data.run_rest[i] = data.run_rest[p];
  } else if (data.run_hi[p] == iv) {
    data.run_lo[i] = data.run_lo[p], data.run_hi[i] = iv + n, data.run_rest[i] = data.run_rest[p];
  } else {
    data.run_lo[i] = iv, data.run_hi[i] = iv + n, data.run_rest[i] = static_cast<long>(p);
  }
}

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum) {
  const std::size_t nvi = model.nv_joint[i];
  if (nvi == 0) return;
  const std::size_t iv = model.idx_v[i];
  const auto ld = static_cast<std::size_t>(data.M.rows());
  const auto nv = static_cast<std::size_t>(data.M.cols());
  double* const M = data.M.data();
  const double* const J = data.j.data();
  const double* const T = data.aux_jacobian_t.data();
  for (std::size_t k = 0; k < nvi; ++k) {
    const std::size_t c = iv + k;
    double fn[6];  // Y·J_c: force, then moment
    origin_apply(Y, J + 6 * c, fn, fn + 3);
    if (momentum != nullptr) {
      double* out = momentum->data() + 6 * c;
      for (int e = 0; e < 6; ++e) out[e] = fn[e];
    }
    double* col = M + c * ld;
    // The joint's own rows up to the diagonal with the adjacent ancestor
    // rows before them, then the other runs of ancestor rows.
    project_rows(T, nv, fn, fn + 3, data.run_lo[i], c + 1, col);
    for (long a = data.run_rest[i]; a >= 0; a = data.run_rest[static_cast<std::size_t>(a)]) {
      const auto j = static_cast<std::size_t>(a);
      project_rows(T, nv, fn, fn + 3, data.run_lo[j], data.run_hi[j], col);
    }
  }
}

void composite_step(const Model& model, Data& data, JointIndex i, Matrix6X* momentum, bool into_root) {
  BodyInertia& Y = data.world_inertia[i];
  mass_matrix_columns(model, data, i, Y, momentum);
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
  check_state(model, data, q.size());
  start_forward_pass(model, data, q.data());
  data.world_inertia[0] = BodyInertia::Zero();
  data.run_lo[0] = data.run_hi[0] = 0;
  data.run_rest[0] = -1;
  // Forward pass: what computeJointJacobians computes (limi, oMi, the
  // columns of j), the same columns transposed into aux_jacobian_t, whose
  // rows lie along memory for the backward pass, and each body's inertia in
  // the world frame about the origin.
  double* const J = data.j.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointModel& joint = model.joints[i];
    forward_step(model, data, i, q.data());
    world_subspace_columns(joint, data.oMi[i], J + 6 * model.idx_v[i]);
    mass_matrix_forward_step(model, data, i);
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);
    to_origin_form(data.world_inertia[i]);
  }

  // Backward pass: with Y_i the composite inertia of i's subtree about the
  // world origin, M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and
  // the columns r of i and its ancestors; then Y_λ += Y_i, a plain sum about
  // the common point. Entries off the paths and below the diagonal are zero.
  data.M.setZero();
  for (JointIndex i = model.njoints - 1; i >= 1; --i) composite_step(model, data, i, nullptr, false);
  return data.M;
}

}  // namespace lumo

#include "aba.hpp"

#include <algorithm>

#include "configuration.hpp"
#include "errors/errors.hpp"
#include "internal/aba_pass.hpp"

// aba and computeMinverse: the steps of internal/aba_pass.hpp.

namespace lumo {

namespace aba_steps {
void throw_moves_no_mass(const Model& model, JointIndex i) {
  throw ValueError(cat("Joint '", model.names[i], "' (", i, ") moves no mass: its subtree has no inertia "
                       "along its motion, so the mass matrix is singular and forward dynamics is undefined"));
}
}  // namespace aba_steps

namespace {

using namespace aba_steps;

// The three passes of aba, q̈ into ddq (nv elements); a null fext stands
// for no external force.
void aba_pass(const Model& model, Data& data, const double* q, const double* v, const double* tau,
              const Eigen::Ref<const Matrix6X>* fext, double* ddq) {
  aba_velocities(model, data, q, v);
  if (fext != nullptr)
    subtract_world_external_forces(model, data, fext->data(), static_cast<std::size_t>(fext->outerStride()));
  aba_accelerations(model, data, tau, ddq);
}

// -------------------------------------------------------- computeMinverse
//
// The articulated-body recursion for the nv unit torques at once. Per moving
// joint a 6×nv block of data.unit_torque_blocks, stored row by row (row r at
// r·nv) so that the loops over the columns c run along memory: first F, the
// bias forces the unit torques of the subtree pass up, then A, the
// accelerations of every unit torque. M⁻¹ is built in its lower triangle:
// column iv + k of joint i holds the entries of rows c ≥ iv.

double* unit_torque_block(Data& data, std::size_t slot) {
  return data.unit_torque_blocks.data() + 6 * data.nv * (slot - 1);
}

// Placements, S and Ia_i = Y_i (world frame) on the way out; the slot of each
// joint (its rank among the moving joints, from 1, or the slot of the
// nearest moving ancestor); on the way back the end of each subtree's
// velocity range, and F of each moving joint cleared on that range. Returns
// the number of moving joints.
std::size_t minverse_tree_pass(const Model& model, Data& data, const double* q) {
  std::vector<std::size_t>& end = data.subtree_v_end;
  std::vector<std::size_t>& slot = data.moving_slot;
  const std::size_t nv = model.nv;
  std::size_t moving = 0;
  end[0] = 0;
  slot[0] = 0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    world_step(model, data, i, q);
    end[i] = model.nv_joint[i] > 0 ? model.idx_v[i] + model.nv_joint[i] : 0;
    slot[i] = model.nv_joint[i] > 0 ? ++moving : slot[model.parents[i]];
  }
  const auto work_cols = static_cast<Eigen::Index>(nv * moving);
  if (data.unit_torque_blocks.rows() != 6 || data.unit_torque_blocks.cols() < work_cols)
    data.unit_torque_blocks.resize(6, work_cols);
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    end[p] = std::max(end[p], end[i]);
    if (model.nv_joint[i] > 0) {
      double* F = unit_torque_block(data, slot[i]);
      for (std::size_t r = 0; r < 6; ++r) std::fill(F + r * nv + model.idx_v[i], F + r * nv + end[i], 0.0);
    }
  }
  return moving;
}

// Joint i on the way in: U, D⁻¹, then Ia_λ += Ia − U D⁻¹ Uᵀ (Ia_i is left
// holding the second term).
template <int n>
void minverse_inertia_step(const Model& model, Data& data, JointIndex i) {
  const JointIndex p = model.parents[i];
  if constexpr (n > 0) {
    joint_inertia_factors<n>(model, data, i);
    if (p == 0) return;
    const std::size_t iv = model.idx_v[i];
    articulated_inertia_for_parent<n>(column(data.ia_times_s, iv), column(data.joint_inertia_inv, iv),
                                      data.articulated_inertia[i]);
  }
  if (p != 0) data.articulated_inertia[p] += data.articulated_inertia[i];
}

// The unit torques e_c of the subtree columns c ∈ [iv, end_i) on the way in:
//   x = D⁻¹ (E − Sᵀ F)  (the subtree's own part of M⁻¹[i, c]),
//   F_λ += F + U x.
template <int n>
void minverse_force_step(const Model& model, Data& data, JointIndex i) {
  const std::size_t nv = model.nv, iv = model.idx_v[i], lo = iv, hi = data.subtree_v_end[i];
  const std::size_t sp = data.moving_slot[model.parents[i]];
  const double* S = column(data.j, iv);
  const double* U = column(data.ia_times_s, iv);
  const double* Dinv = column(data.joint_inertia_inv, iv);
  const double* F = unit_torque_block(data, data.moving_slot[i]);
  double* Fp = sp != 0 ? unit_torque_block(data, sp) : nullptr;
  double* const Mi = data.Minv.data();
  for (int k = 0; k < n; ++k) {  // u_k = e − S_kᵀ F
    double* u = Mi + (iv + k) * nv;
    const double* s = S + 6 * k;
    for (std::size_t c = lo; c < hi; ++c)
      u[c] = -(((s[0] * F[c] + s[1] * F[nv + c]) + s[2] * F[2 * nv + c]) +
               ((s[3] * F[3 * nv + c] + s[4] * F[4 * nv + c]) + s[5] * F[5 * nv + c]));
    u[iv + k] += 1.0;
  }
  for (std::size_t c = lo; c < hi; ++c) {
    double u[6], x[6];
    for (int k = 0; k < n; ++k) u[k] = Mi[(iv + k) * nv + c];
    apply_Dinv<n>(Dinv, u, x);
    for (int k = 0; k < n; ++k) Mi[(iv + k) * nv + c] = x[k];
  }
  if (Fp == nullptr) return;
  for (std::size_t r = 0; r < 6; ++r) {
    double* fp = Fp + r * nv;
    const double* f = F + r * nv;
    for (std::size_t c = lo; c < hi; ++c) fp[c] += f[c];
    for (int k = 0; k < n; ++k) {
      const double Urk = U[6 * k + r];
      const double* x = Mi + (iv + k) * nv;
      for (std::size_t c = lo; c < hi; ++c) fp[c] += Urk * x[c];
    }
  }
}

// One coordinate: x = d (e − sᵀ F) in one sweep, F_λ += F + U x in another.
template <>
void minverse_force_step<1>(const Model& model, Data& data, JointIndex i) {
  const std::size_t nv = model.nv, iv = model.idx_v[i], lo = iv, hi = data.subtree_v_end[i];
  const std::size_t sp = data.moving_slot[model.parents[i]];
  const double* S = column(data.j, iv);
  const double* U = column(data.ia_times_s, iv);
  const double* F = unit_torque_block(data, data.moving_slot[i]);
  double* __restrict x = data.Minv.data() + iv * nv;
  const double d = *column(data.joint_inertia_inv, iv);
  const double *f0 = F, *f1 = F + nv, *f2 = F + 2 * nv, *f3 = F + 3 * nv, *f4 = F + 4 * nv, *f5 = F + 5 * nv;
  for (std::size_t c = lo; c < hi; ++c)
    x[c] = -d * (((S[0] * f0[c] + S[1] * f1[c]) + S[2] * f2[c]) + ((S[3] * f3[c] + S[4] * f4[c]) + S[5] * f5[c]));
  x[iv] += d;
  if (sp == 0) return;
  double* Fp = unit_torque_block(data, sp);
  for (std::size_t r = 0; r < 6; ++r) {
    double* __restrict fp = Fp + r * nv;
    const double* f = F + r * nv;
    const double Ur = U[r];
    for (std::size_t c = lo; c < hi; ++c) fp[c] += f[c] + Ur * x[c];
  }
}

template <>
void minverse_force_step<0>(const Model&, Data&, JointIndex) {}

// The rows c ≥ iv of joint i's columns on the way out:
//   M⁻¹[c, i] = (the subtree's part) − D⁻¹ Uᵀ A_λ[:, c],
//   A_i[:, c] = A_λ[:, c] + S M⁻¹[c, i]  (only on c ≥ iv + n, the rows the
//   descendants read).
template <int n>
void minverse_acceleration_step(const Model& model, Data& data, JointIndex i) {
  const std::size_t nv = model.nv, iv = model.idx_v[i], end = data.subtree_v_end[i];
  const std::size_t sp = data.moving_slot[model.parents[i]];
  const double* S = column(data.j, iv);
  const double* U = column(data.ia_times_s, iv);
  const double* Dinv = column(data.joint_inertia_inv, iv);
  double* A = unit_torque_block(data, data.moving_slot[i]);
  const double* Ap = sp != 0 ? unit_torque_block(data, sp) : nullptr;
  double* const Mi = data.Minv.data();
  for (int k = 0; k < n; ++k) std::fill(Mi + (iv + k) * nv + end, Mi + (iv + k) * nv + nv, 0.0);
  if constexpr (n == 1) {
    if (Ap != nullptr && end > iv + 1) {  // both in one sweep
      double* __restrict x = Mi + iv * nv;
      const double d = Dinv[0];
      const double *p0 = Ap, *p1 = Ap + nv, *p2 = Ap + 2 * nv, *p3 = Ap + 3 * nv, *p4 = Ap + 4 * nv, *p5 = Ap + 5 * nv;
      double *__restrict a0 = A, *__restrict a1 = A + nv, *__restrict a2 = A + 2 * nv;
      double *__restrict a3 = A + 3 * nv, *__restrict a4 = A + 4 * nv, *__restrict a5 = A + 5 * nv;
      const double* u = U;
      for (std::size_t c = iv; c < nv; ++c) {
        const double t = ((u[0] * p0[c] + u[1] * p1[c]) + u[2] * p2[c]) + ((u[3] * p3[c] + u[4] * p4[c]) + u[5] * p5[c]);
        const double xc = x[c] - d * t;
        x[c] = xc;
        a0[c] = p0[c] + S[0] * xc, a1[c] = p1[c] + S[1] * xc, a2[c] = p2[c] + S[2] * xc;
        a3[c] = p3[c] + S[3] * xc, a4[c] = p4[c] + S[4] * xc, a5[c] = p5[c] + S[5] * xc;
      }
      return;  // (column iv of A is written too, and never read)
    }
  }
  if (Ap != nullptr) {
    for (std::size_t c = iv; c < nv; ++c) {
      double t[6], y[6];
      for (int k = 0; k < n; ++k) {
        const double* u = U + 6 * k;
        t[k] = ((u[0] * Ap[c] + u[1] * Ap[nv + c]) + u[2] * Ap[2 * nv + c]) +
               ((u[3] * Ap[3 * nv + c] + u[4] * Ap[4 * nv + c]) + u[5] * Ap[5 * nv + c]);
      }
      apply_Dinv<n>(Dinv, t, y);
      for (int k = 0; k < n; ++k) Mi[(iv + k) * nv + c] -= y[k];
    }
  }
  if (end <= iv + n) return;  // no moving descendant
  const std::size_t lo = iv + n;
  for (std::size_t r = 0; r < 6; ++r) {
    double* a = A + r * nv;
    const double S0 = S[r];
    const double* x0 = Mi + iv * nv;
    if (Ap != nullptr) {
      const double* ap = Ap + r * nv;
      for (std::size_t c = lo; c < nv; ++c) a[c] = ap[c] + S0 * x0[c];
    } else {
      for (std::size_t c = lo; c < nv; ++c) a[c] = S0 * x0[c];
    }
    for (int k = 1; k < n; ++k) {
      const double Srk = S[6 * k + r];
      const double* x = Mi + (iv + k) * nv;
      for (std::size_t c = lo; c < nv; ++c) a[c] += Srk * x[c];
    }
  }
}

template <>
void minverse_acceleration_step<0>(const Model&, Data&, JointIndex) {}

// The upper triangle of the n×n column-major X mirrors the lower one, in
// 8×8 tiles.
void mirror_lower_triangle(double* X, std::size_t n) {
  constexpr std::size_t kTile = 8;
  for (std::size_t c0 = 0; c0 < n; c0 += kTile) {
    const std::size_t c1 = std::min(c0 + kTile, n);
    for (std::size_t r0 = c0; r0 < n; r0 += kTile) {
      const std::size_t r1 = std::min(r0 + kTile, n);
      for (std::size_t r = r0; r < r1; ++r)
        for (std::size_t c = c0; c < std::min(c1, r); ++c) X[r * n + c] = X[c * n + r];
    }
  }
}

// ------------------------------------------------------- articulated solve

// x = M⁻¹ b on the factors aba left (U = Ia S, D⁻¹ per joint, S in data.j):
// the same two passes with no velocity, no gravity and the torques b. Per
// joint on the way in, u = b − Sᵀ pa and pa_λ += pa + U D⁻¹ u; on the way
// out, a = a_λ, x = D⁻¹ (u − Uᵀ a) and a += S x. u is kept in x.
template <int n>
void solve_inward_step(const Model& model, Data& data, JointIndex i, const double* b, double* x) {
  const JointIndex p = model.parents[i];
  Vector6& pa = data.articulated_bias[i];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    const double* S = column(data.j, iv);
    const double* U = column(data.ia_times_s, iv);
    double Du[6];
    for (int k = 0; k < n; ++k) x[iv + k] = b[iv + k] - column6(S, k).dot(pa);
    apply_Dinv<n>(column(data.joint_inertia_inv, iv), x + iv, Du);
    for (int k = 0; k < n; ++k) pa += column6(U, k) * Du[k];
  }
  if (p != 0) data.articulated_bias[p] += pa;
}

template <int n>
void solve_outward_step(const Model& model, Data& data, JointIndex i, double* x) {
  Vector6& a = data.aba_acceleration[i];
  a = data.aba_acceleration[model.parents[i]];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    const double* S = column(data.j, iv);
    const double* U = column(data.ia_times_s, iv);
    double r[6];
    for (int k = 0; k < n; ++k) r[k] = x[iv + k] - column6(U, k).dot(a);
    apply_Dinv<n>(column(data.joint_inertia_inv, iv), r, x + iv);
    for (int k = 0; k < n; ++k) a += column6(S, k) * x[iv + k];
  }
}

}  // namespace

const Eigen::VectorXd& aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  aba_pass(model, data, q.data(), v.data(), tau.data(), nullptr, data.ddq.data());
  return data.ddq;
}

void aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
         const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& tau,
         Eigen::Ref<Eigen::VectorXd> ddq) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  if (static_cast<std::size_t>(ddq.size()) != model.nv) throw InternalError("Vector index out of bounds.");
  aba_pass(model, data, q.data(), v.data(), tau.data(), nullptr, ddq.data());
}

const Eigen::VectorXd& forwardDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& tau) {
  return aba(model, data, q, v, tau);
}

const Eigen::VectorXd& forwardDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& tau,
                                       const Eigen::Ref<const Matrix6X>& fext) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  check_external_forces(model, fext.cols());
  aba_pass(model, data, q.data(), v.data(), tau.data(), &fext, data.ddq.data());
  return data.ddq;
}

const Eigen::MatrixXd& computeMinverse(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  const auto nv = static_cast<Eigen::Index>(model.nv);
  if (data.Minv.rows() != nv || data.Minv.cols() != nv) data.Minv.resize(nv, nv);
  start_forward_pass(model, data, q.data());
  minverse_tree_pass(model, data, q.data());
  // Backward pass: the articulated inertias, and the forces the unit
  // torques pass up.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    with_joint_size(model.joints[i], [&](auto n) {
      minverse_inertia_step<n>(model, data, i);
      minverse_force_step<n>(model, data, i);
    });
  }
  // Forward pass: the accelerations of the unit torques.
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i], [&](auto n) { minverse_acceleration_step<n>(model, data, i); });
  mirror_lower_triangle(data.Minv.data(), model.nv);
  return data.Minv;
}

void abaSolve(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& b,
              Eigen::Ref<Eigen::VectorXd> x) {
  check_velocity_size(model, b.size());
  check_velocity_size(model, x.size());
  data.check_model(model);
  std::fill(data.articulated_bias.begin(), data.articulated_bias.end(), Vector6::Zero());
  for (JointIndex i = model.njoints - 1; i >= 1; --i)
    with_joint_size(model.joints[i], [&](auto n) { solve_inward_step<n>(model, data, i, b.data(), x.data()); });
  data.aba_acceleration[0].setZero();
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i], [&](auto n) { solve_outward_step<n>(model, data, i, x.data()); });
}

}  // namespace lumo

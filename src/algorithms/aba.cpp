#include "aba.hpp"

#include <Eigen/LU>
#include <algorithm>

#include "configuration.hpp"
#include "errors.hpp"
#include "kinematics.hpp"

namespace lumo {
namespace {

using SmallMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor, 6, 6>;

// The 6×nv_i block of a 6×nv matrix holding joint i's columns.
inline Eigen::Map<Matrix6X> joint_columns(Matrix6X& m, std::size_t iv, std::size_t n) {
  return {m.data() + 6 * iv, 6, static_cast<Eigen::Index>(n)};
}

// U = Ia·S and D⁻¹ = (Sᵀ Ia S)⁻¹ for joint i (S: its world columns of
// data.j), into data.aba_U and data.aba_Dinv. A singular D (a massless
// subtree) gives non-finite entries.
void joint_inertia_factors(const Model& model, Data& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
  const Matrix6& Ia = data.oIa[i];
  auto S = joint_columns(data.j, iv, n);
  auto U = joint_columns(data.aba_U, iv, n);
  for (std::size_t k = 0; k < n; ++k) U.col(static_cast<Eigen::Index>(k)).noalias() = Ia * Vector6(S.col(static_cast<Eigen::Index>(k)));
  double* Dinv = data.aba_Dinv.data() + 6 * iv;  // column k of D⁻¹ at Dinv + 6k
  if (n == 1) {
    Dinv[0] = 1.0 / S.col(0).dot(U.col(0));
    return;
  }
  SmallMatrix D(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c)
      D(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(c)) =
          S.col(static_cast<Eigen::Index>(r)).dot(U.col(static_cast<Eigen::Index>(c)));
  const SmallMatrix inv = D.partialPivLu().inverse();
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c) Dinv[6 * c + r] = inv(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(c));
}

// y = D⁻¹ x for joint i (n ≤ 6 entries).
inline void apply_Dinv(const double* Dinv, std::size_t n, const double* x, double* y) {
  for (std::size_t r = 0; r < n; ++r) {
    double s = 0.0;
    for (std::size_t c = 0; c < n; ++c) s += Dinv[6 * c + r] * x[c];
    y[r] = s;
  }
}

// Ia ← Ia − U D⁻¹ Uᵀ: the inertia the subtree of joint i shows its parent.
inline void articulated_inertia_for_parent(const double* U, const double* Dinv, std::size_t n,
                                           Matrix6& Ia) {
  for (std::size_t c = 0; c < n; ++c) {
    Vector6 UD = Vector6::Zero();  // column c of U D⁻¹
    for (std::size_t k = 0; k < n; ++k) UD += Eigen::Map<const Vector6>(U + 6 * k) * Dinv[6 * c + k];
    Ia.noalias() -= UD * Eigen::Map<const Vector6>(U + 6 * c).transpose();
  }
}

// The forward pass shared by aba and computeMinverse, joint i (parent done):
// limi, oMi, the world subspace columns S in data.j and oIa[i] = the body
// inertia in the world frame as a 6×6 matrix.
inline void world_step(const Model& model, Data& data, JointIndex i, const double* q) {
  forward_step(model, data, i, q);
  world_subspace_columns(model.joints[i], data.oMi[i], data.j.data() + 6 * model.idx_v[i]);
  data.oIa[i] = inertia_matrix(inertia_transform(data.oMi[i], model.inertias[i]));
}

inline Vector6 force_column(const Force& f) {
  Vector6 c;
  c << f.force, f.moment;
  return c;
}

}  // namespace

const Eigen::VectorXd& aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_configuration_size(model, q.size());
  check_velocity_size(model, v.size());
  if (tau.size() != v.size())
    throw InternalError(cat("assertion failed: tau.len() == v.len() (", tau.size(), " != ", v.size(), ")"));
  data.check_model(model);
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  data.ov[0] = Motion::Zero();
  data.oa[0] = to_column(-model.gravity);  // the root accelerates against gravity

  // Forward pass, world frame: S, ov_i = ov_λ + S q̇_i, c_i = ov_i × S q̇_i,
  // Ia_i = Y_i, pa_i = ov_i ×* (Y_i·ov_i).
  for (JointIndex i = 1; i < model.njoints; ++i) {
    world_step(model, data, i, q.data());
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    const JointIndex p = model.parents[i];
    Vector6 vJ = Vector6::Zero();
    const double* S = data.j.data() + 6 * iv;
    for (std::size_t k = 0; k < n; ++k) vJ += Eigen::Map<const Vector6>(S + 6 * k) * v[static_cast<Eigen::Index>(iv + k)];
    const Motion vJm = from_column(vJ);
    Motion& ovi = data.ov[i];
    ovi = data.ov[p] + vJm;
    data.oc[i] = to_column(motion_cross(ovi, vJm));
    const Matrix6& Y = data.oIa[i];
    const Vector6 h = Y * to_column(ovi);  // [linear momentum; angular momentum about the origin]
    const Force hf{h.tail<3>(), h.head<3>()};
    data.opa[i] = force_column(motion_cross_force(ovi, hf));
  }

  // Backward pass: U = Ia S, D = Sᵀ U, u = τ − Sᵀ pa; the parent takes
  //   Ia_λ += Ia − U D⁻¹ Uᵀ,   pa_λ += pa + (Ia − U D⁻¹ Uᵀ) c + U D⁻¹ u.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    const JointIndex p = model.parents[i];
    Matrix6& Ia = data.oIa[i];
    Vector6& pa = data.opa[i];
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    double Du[6];
    if (n > 0) {
      joint_inertia_factors(model, data, i);
      const double* S = data.j.data() + 6 * iv;
      double* u = data.aba_u.data() + iv;
      for (std::size_t k = 0; k < n; ++k)
        u[k] = tau[static_cast<Eigen::Index>(iv + k)] - Eigen::Map<const Vector6>(S + 6 * k).dot(pa);
      apply_Dinv(Dinv, n, u, Du);
    }
    if (p == 0) continue;
    if (n > 0) {
      articulated_inertia_for_parent(U, Dinv, n, Ia);
      for (std::size_t k = 0; k < n; ++k) pa += Eigen::Map<const Vector6>(U + 6 * k) * Du[k];
    }
    pa.noalias() += Ia * data.oc[i];
    data.oIa[p] += Ia;
    data.opa[p] += pa;
  }

  // Forward pass: a' = a_λ + c;  q̈ = D⁻¹ (u − Uᵀ a');  a = a' + S q̈.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    Vector6& a = data.oa[i];
    a = data.oa[model.parents[i]] + data.oc[i];
    if (n == 0) continue;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* S = data.j.data() + 6 * iv;
    double r[6];
    for (std::size_t k = 0; k < n; ++k)
      r[k] = data.aba_u[static_cast<Eigen::Index>(iv + k)] - Eigen::Map<const Vector6>(U + 6 * k).dot(a);
    double* ddq = data.ddq.data() + iv;
    apply_Dinv(data.aba_Dinv.data() + 6 * iv, n, r, ddq);
    for (std::size_t k = 0; k < n; ++k) a += Eigen::Map<const Vector6>(S + 6 * k) * ddq[k];
  }
  return data.ddq;
}

const Eigen::MatrixXd& computeMinverse(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_configuration_size(model, q.size());
  data.check_model(model);
  const std::size_t nv = model.nv;
  const auto n_ = static_cast<Eigen::Index>(nv);
  if (data.Minv.rows() != n_ || data.Minv.cols() != n_) data.Minv.resize(n_, n_);
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  std::vector<std::size_t>& end = data.minv_end;
  std::vector<std::size_t>& slot = data.minv_slot;

  // Forward pass: S, Ia_i = Y_i (world frame); the subtree's velocity range
  // starts as the joint's own; slot = rank among the moving joints (from 1)
  // or the slot of the nearest moving ancestor.
  std::size_t moving = 0;
  end[0] = 0;
  slot[0] = 0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    world_step(model, data, i, q.data());
    end[i] = model.idx_v[i] + model.nv_joint[i];
    slot[i] = model.nv_joint[i] > 0 ? ++moving : slot[model.parents[i]];
  }
  const auto work_cols = static_cast<Eigen::Index>(nv * moving);
  if (data.minv_work.rows() != 6 || data.minv_work.cols() < work_cols) data.minv_work.resize(6, work_cols);
  // The 6×nv block of a slot: first the bias forces F of the unit torques
  // in the subtree, then the accelerations A of every unit torque.
  auto block = [&](std::size_t s) { return data.minv_work.data() + 6 * nv * (s - 1); };

  // Backward pass over sizes: end[i] = one past the last velocity index of
  // the subtree; F of each moving joint cleared on that range.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    end[p] = std::max(end[p], end[i]);
    if (model.nv_joint[i] > 0) {
      double* F = block(slot[i]);
      std::fill(F + 6 * model.idx_v[i], F + 6 * end[i], 0.0);
    }
  }

  double* const Mi = data.Minv.data();
  const std::size_t ld = nv;
  // Backward pass for the unit torques e_c of the subtree columns c:
  //   u = E − Sᵀ F,  M⁻¹[i, c] ← D⁻¹ u  (the subtree's own part),
  //   F_λ += F + U D⁻¹ u,  Ia_λ += Ia − U D⁻¹ Uᵀ.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    if (n == 0) {
      if (p != 0) data.oIa[p] += data.oIa[i];
      continue;
    }
    joint_inertia_factors(model, data, i);
    const double* S = data.j.data() + 6 * iv;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    const double* F = block(slot[i]);
    double* Fp = slot[p] != 0 ? block(slot[p]) : nullptr;
    for (std::size_t c = iv; c < end[i]; ++c) {
      const Eigen::Map<const Vector6> f(F + 6 * c);
      double u[6], x[6];
      for (std::size_t k = 0; k < n; ++k) u[k] = (c == iv + k ? 1.0 : 0.0) - Eigen::Map<const Vector6>(S + 6 * k).dot(f);
      apply_Dinv(Dinv, n, u, x);
      for (std::size_t k = 0; k < n; ++k) Mi[c * ld + iv + k] = x[k];
      if (Fp != nullptr) {
        Eigen::Map<Vector6> fp(Fp + 6 * c);
        fp += f;
        for (std::size_t k = 0; k < n; ++k) fp += Eigen::Map<const Vector6>(U + 6 * k) * x[k];
      }
    }
    if (p != 0) {
      articulated_inertia_for_parent(U, Dinv, n, data.oIa[i]);
      data.oIa[p] += data.oIa[i];
    }
  }

  // Forward pass for the columns c ≥ idx_v[i] (the upper triangle):
  //   M⁻¹[i, c] = (that part) − D⁻¹ Uᵀ A_λ[:, c],  A_i[:, c] = A_λ[:, c] + S M⁻¹[i, c].
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    if (n == 0) continue;
    const std::size_t sp = slot[model.parents[i]];
    const double* S = data.j.data() + 6 * iv;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    double* A = block(slot[i]);
    const double* Ap = sp != 0 ? block(sp) : nullptr;
    for (std::size_t c = iv; c < nv; ++c) {
      double* m = Mi + c * ld + iv;
      if (c >= end[i])
        for (std::size_t k = 0; k < n; ++k) m[k] = 0.0;
      Vector6 a = Vector6::Zero();
      if (Ap != nullptr) {
        a = Eigen::Map<const Vector6>(Ap + 6 * c);
        double t[6], x[6];
        for (std::size_t k = 0; k < n; ++k) t[k] = Eigen::Map<const Vector6>(U + 6 * k).dot(a);
        apply_Dinv(Dinv, n, t, x);
        for (std::size_t k = 0; k < n; ++k) m[k] -= x[k];
      }
      for (std::size_t k = 0; k < n; ++k) a += Eigen::Map<const Vector6>(S + 6 * k) * m[k];
      Eigen::Map<Vector6>(A + 6 * c) = a;
    }
  }

  // The lower triangle mirrors the upper one.
  for (std::size_t c = 0; c < nv; ++c)
    for (std::size_t r = c + 1; r < nv; ++r) Mi[c * ld + r] = Mi[r * ld + c];
  return data.Minv;
}

}  // namespace lumo

#include "constraint_rows.hpp"

#include <algorithm>

#include "../crba.hpp"
#include "checks.hpp"
#include "../rnea.hpp"

namespace lumo::constraint_rows {
namespace {

// Applies R1ᵀ to the 3-blocks of a row vector of n elements (LOCAL rows).
void to_frame_axes(const Matrix3& R1, double* x, int n) {
  for (int b = 0; b < n; b += 3) {
    Eigen::Map<Vector3> block(x + b);
    block = R1.transpose() * Vector3(block);
  }
}

}  // namespace

void check_call(const Model& model, const Data& data, const ConstraintSet& set, Eigen::Index q_len,
                Eigen::Index v_len, Eigen::Index third_len, const char* third) {
  check_state(model, data, q_len, v_len, third_len, third);
  set.check_model(model);
}

FrameState frame_state(const Model& model, const Data& data, FrameIndex frame, const Motion& offset) {
  const Frame& F = model.frames[frame];
  FrameState s;
  s.joint = F.parent;
  const SE3& oMi = data.oMi[F.parent];
  const Motion& v_i = data.v[F.parent];
  const Motion a_i = data.a[F.parent] - act_inv_motion(oMi, offset);
  const Vector3& x = F.placement.translation;  // F's origin in joint i's axes
  // ṗ = v + ω × x;  p̈ = a + ω̇ × x + ω × ṗ  (joint i's axes), then to the world
  const Vector3 pd = v_i.linear + v_i.angular.cross(x);
  const Vector3 pdd = a_i.linear + a_i.angular.cross(x) + v_i.angular.cross(pd);
  s.R.noalias() = oMi.rotation * F.placement.rotation;
  s.p.noalias() = oMi.rotation * x;
  s.p += oMi.translation;
  s.pd.noalias() = oMi.rotation * pd;
  s.pdd.noalias() = oMi.rotation * pdd;
  s.w.noalias() = oMi.rotation * v_i.angular;
  s.wd.noalias() = oMi.rotation * a_i.angular;
  return s;
}

void rigid_rows(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, double* acceleration,
                double* velocity, double* error) {
  const bool local = c.reference_frame == ReferenceFrame::LOCAL;
  const int n = static_cast<int>(c.rows());
  // In world axes: the velocity rows ν and their derivative ν̇ component by
  // component, and the error e. Points: ν = ṗ1 − ṗ2, ν̇ = p̈1 − p̈2. Frames:
  // the relative spatial velocity at F1's origin,
  //   ν = [ṗ1 − ṗ2 − ω2 × d; ω1 − ω2],  d = p1 − p2,
  //   ν̇ = [p̈1 − p̈2 − ω̇2 × d − ω2 × ḋ; ω̇1 − ω̇2].
  const Vector3 d = f1.p - f2.p;
  const Vector3 d_dot = f1.pd - f2.pd;
  Vector6 nu, nu_dot;
  if (c.kind == ConstraintKind::point) {
    nu.head<3>() = d_dot;
    nu_dot.head<3>() = f1.pdd - f2.pdd;
  } else {
    nu << d_dot - f2.w.cross(d), f1.w - f2.w;
    nu_dot << f1.pdd - f2.pdd - f2.wd.cross(d) - f2.w.cross(d_dot), f1.wd - f2.wd;
  }
  if (acceleration != nullptr) {
    // LOCAL: d/dt (R1ᵀ ν) = R1ᵀ (ν̇ − ω1 × ν), block by block
    if (local)
      for (int b = 0; b < n; b += 3) nu_dot.segment<3>(b) -= f1.w.cross(Vector3(nu.segment<3>(b)));
    std::copy(nu_dot.data(), nu_dot.data() + n, acceleration);
    if (local) to_frame_axes(f1.R, acceleration, n);
  }
  if (velocity != nullptr) {
    std::copy(nu.data(), nu.data() + n, velocity);
    if (local) to_frame_axes(f1.R, velocity, n);
  }
  if (error == nullptr) return;
  if (c.kind == ConstraintKind::point) {
    // p1 − p2 − R2·r
    Eigen::Map<Vector3>{error} = d - f2.R * c.reference.translation;
    if (local) to_frame_axes(f1.R, error, 3);
    return;
  }
  // log(reference⁻¹·F2⁻¹F1): a twist in F1's axes
  SE3 relative;
  relative.rotation.noalias() = f2.R.transpose() * f1.R;
  relative.translation.noalias() = f2.R.transpose() * d;
  Eigen::Map<Vector6> e{error};
  e = compose(inverse(c.reference), relative).log();
  if (!local) {
    e.head<3>() = f1.R * Vector3(e.head<3>());
    e.tail<3>() = f1.R * Vector3(e.tail<3>());
  }
}

void rigid_wrenches(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, const double* lambda,
                    Vector6& W1, Vector6& W2) {
  const bool local = c.reference_frame == ReferenceFrame::LOCAL;
  // the rows' values as a force (and moment) in world axes
  Vector3 force = Eigen::Map<const Vector3>(lambda);
  if (local) force = f1.R * force;
  if (c.kind == ConstraintKind::point) {
    // λ·(p̈1 − p̈2) with p̈ = A.lin + A.ang × p + …: W = ±[λ; p × λ]
    W1 << force, f1.p.cross(force);
    W2 << -force, -f2.p.cross(force);
    return;
  }
  Vector3 moment = Eigen::Map<const Vector3>(lambda + 3);
  if (local) moment = f1.R * moment;
  // λ_l·(ΔA.lin + ΔA.ang × p1) + λ_a·ΔA.ang: both bodies at F1's origin
  W1 << force, f1.p.cross(force) + moment;
  W2 = -W1;
}

void rigid_jacobian(const Model& model, const Data& data, const RigidConstraint& c, const FrameState& f1,
                    const FrameState& f2, MatrixX& J, Eigen::Index r0) {
  const auto n = static_cast<Eigen::Index>(c.rows());
  J.middleRows(r0, n).setZero();
  const bool point = c.kind == ConstraintKind::point;
  // Column S = [S_l; S_a] (world, about the origin) of the path to body b
  // moves the point p at S_l + S_a × p and turns at S_a.
  const auto add_path = [&](JointIndex b, double sign, const Vector3& p) {
    for (JointIndex j = b; j != 0; j = model.parents[j]) {
      for (std::size_t k = 0; k < model.nv_joint[j]; ++k) {
        const auto col = static_cast<Eigen::Index>(model.idx_v[j] + k);
        const auto S = data.j.col(col);
        const Vector3 angular = S.tail<3>();
        J.block<3, 1>(r0, col) += sign * (S.head<3>() + angular.cross(p));
        if (!point) J.block<3, 1>(r0 + 3, col) += sign * angular;
      }
    }
  };
  add_path(f1.joint, 1.0, f1.p);
  if (c.frame2) add_path(f2.joint, -1.0, point ? f2.p : f1.p);
  if (c.reference_frame == ReferenceFrame::LOCAL) {
    const Matrix3 Rt = f1.R.transpose();
    for (Eigen::Index b = 0; b < n; b += 3) J.middleRows(r0 + b, 3) = Rt * J.middleRows(r0 + b, 3);
  }
}

void size_workspace(Data& data, std::size_t s) {
  const auto rows = static_cast<Eigen::Index>(s), nv = static_cast<Eigen::Index>(data.nv);
  if (data.constraint_jacobian.rows() != rows || data.constraint_jacobian.cols() != nv) {
    data.constraint_jacobian.setZero(rows, nv);
    data.constraint_rows_scratch.setZero(rows, nv);
    data.minv_jt.setZero(nv, rows);
    data.delassus.setZero(rows, rows);
    for (auto* x : {&data.constraint_drift, &data.constraint_target, &data.constraint_forces,
                    &data.constraint_scratch, &data.constraint_previous})
      x->setZero(rows);
  }
  if (data.impulse_velocity.size() != nv) data.impulse_velocity.setZero(nv);
  if (data.constraint_zero_acceleration.size() != nv) data.constraint_zero_acceleration.setZero(nv);
}

void fill_rows(const Model& model, Data& data, const ConstraintSet& set, const Motion& offset, bool jacobian,
               bool drift) {
  for (std::size_t k = 0; k < set.constraints().size(); ++k) {
    const auto r0 = static_cast<Eigen::Index>(set.first_row(k));
    if (const auto* c = std::get_if<RigidConstraint>(&set.constraints()[k])) {
      const FrameState f1 = frame_state(model, data, c->frame, offset);
      const FrameState f2 = second_state(model, data, *c, offset);
      if (jacobian) rigid_jacobian(model, data, *c, f1, f2, data.constraint_jacobian, r0);
      if (!drift) continue;
      double velocity[6] = {}, error[6] = {};
      rigid_rows(*c, f1, f2, data.constraint_drift.data() + r0, c->kd != 0.0 ? velocity : nullptr,
                 c->kp != 0.0 ? error : nullptr);
      // the corrector's target −kd·(J v) − kp·e
      for (Eigen::Index r = 0; r < static_cast<Eigen::Index>(c->rows()); ++r)
        data.constraint_target[r0 + r] = -c->kd * velocity[r] - c->kp * error[r];
    } else {
      const auto& coupling = std::get<JointCoupling>(set.constraints()[k]);
      if (jacobian) {
        data.constraint_jacobian.row(r0).setZero();
        data.constraint_jacobian(r0, static_cast<Eigen::Index>(model.idx_v[coupling.joint])) += 1.0;
        data.constraint_jacobian(r0, static_cast<Eigen::Index>(model.idx_v[coupling.leader])) -= coupling.ratio;
      }
      if (drift) data.constraint_drift[r0] = data.constraint_target[r0] = 0.0;
    }
  }
}

void evaluate(const Model& model, Data& data, const ConstraintSet& set, const Eigen::Ref<const Eigen::VectorXd>& q,
              const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Matrix6X>* fext) {
  size_workspace(data, set.size());
  // M (upper triangle), the world Jacobian and the placements
  crba(model, data, q);
  // data.tau = nle − Σ Jᵢᵀ fextᵢ, with the velocities and the accelerations
  // at q̈ = 0 (offset by −gravity)
  if (fext != nullptr)
    inverseDynamics(model, data, q, v, data.constraint_zero_acceleration, *fext);
  else
    non_linear_effects(model, data, q, v);
  fill_rows(model, data, set, Motion::Zero() - model.gravity, true, true);
}

}  // namespace lumo::constraint_rows

#include "constraint_rows.hpp"

#include <algorithm>

#include "../crba.hpp"
#include "../kinematics_derivatives.hpp"
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

namespace {

// F's joint, rotation and origin in the world, from data.oMi.
FrameState frame_placement(const Model& model, const Data& data, FrameIndex frame) {
  const Frame& F = model.frames[frame];
  const SE3& oMi = data.oMi[F.parent];
  FrameState s;
  s.joint = F.parent;
  s.R.noalias() = oMi.rotation * F.placement.rotation;
  s.p.noalias() = oMi.rotation * F.placement.translation;
  s.p += oMi.translation;
  return s;
}

}  // namespace

FrameState frame_state(const Model& model, const Data& data, FrameIndex frame, const Motion& offset) {
  FrameState s = frame_placement(model, data, frame);
  const Frame& F = model.frames[frame];
  const Matrix3& R_i = data.oMi[F.parent].rotation;
  const Motion& v_i = data.v[F.parent];
  const Motion a_i = data.a[F.parent] - act_inv_motion(data.oMi[F.parent], offset);
  const Vector3& x = F.placement.translation;  // F's origin in joint i's axes
  // ṗ and p̈ in joint i's axes, then in the world's
  s.pd.noalias() = R_i * point_velocity(v_i, x);
  s.pdd.noalias() = R_i * point_acceleration(v_i, a_i, x);
  s.w.noalias() = R_i * v_i.angular;
  s.wd.noalias() = R_i * a_i.angular;
  return s;
}

FrameState world_frame_state(const Model& model, const Data& data, FrameIndex frame) {
  FrameState s = frame_placement(model, data, frame);
  const JointIndex i = model.frames[frame].parent;
  const Motion& V = data.kinematics_ov[i];
  const Motion& A = data.kinematics_oa[i];
  // V, A about the world origin
  s.w = V.angular;
  s.wd = A.angular;
  s.pd = point_velocity(V, s.p);
  s.pdd = point_acceleration(V, A, s.p);
  return s;
}

namespace {

// The world-aligned velocity rows ν and their derivative ν̇ component by
// component (first c.rows() entries). Points: ν = ṗ1 − ṗ2, ν̇ = p̈1 − p̈2.
// Frames: the relative spatial velocity at F1's origin,
//   ν = [ṗ1 − ṗ2 − ω2 × d; ω1 − ω2],  d = p1 − p2,
//   ν̇ = [p̈1 − p̈2 − ω̇2 × d − ω2 × ḋ; ω̇1 − ω̇2].
void world_rows(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, Vector6& nu,
                Vector6& nu_dot) {
  const Vector3 d = f1.p - f2.p, d_dot = f1.pd - f2.pd;
  if (c.kind == ConstraintKind::point) {
    nu.head<3>() = d_dot;
    nu_dot.head<3>() = f1.pdd - f2.pdd;
    return;
  }
  nu << d_dot - f2.w.cross(d), f1.w - f2.w;
  nu_dot << f1.pdd - f2.pdd - f2.wd.cross(d) - f2.w.cross(d_dot), f1.wd - f2.wd;
}

// reference⁻¹·F2⁻¹F1, whose log is a frame constraint's error.
SE3 placement_error(const RigidConstraint& c, const FrameState& f1, const FrameState& f2) {
  SE3 relative;
  relative.rotation.noalias() = f2.R.transpose() * f1.R;
  relative.translation.noalias() = f2.R.transpose() * (f1.p - f2.p);
  return compose(inverse(c.reference), relative);
}

// The corrector's error in world axes: points p1 − p2 − R2·r; frames the
// twist log(reference⁻¹·F2⁻¹F1) of F1's axes, rotated to the world's.
Vector6 world_error(const RigidConstraint& c, const FrameState& f1, const FrameState& f2) {
  Vector6 e = Vector6::Zero();
  if (c.kind == ConstraintKind::point) {
    e.head<3>() = f1.p - f2.p - f2.R * c.reference.translation;
    return e;
  }
  e = placement_error(c, f1, f2).log();
  e.head<3>() = f1.R * Vector3(e.head<3>());
  e.tail<3>() = f1.R * Vector3(e.tail<3>());
  return e;
}

// The rows' values as a force and a moment in world axes.
void world_force(const RigidConstraint& c, const FrameState& f1, const double* lambda, Vector3& force,
                 Vector3& moment) {
  force = Eigen::Map<const Vector3>(lambda);
  moment = c.kind == ConstraintKind::point ? Vector3::Zero() : Vector3(Eigen::Map<const Vector3>(lambda + 3));
  if (c.reference_frame == ReferenceFrame::LOCAL) force = f1.R * force, moment = f1.R * moment;
}

}  // namespace

void rigid_rows(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, double* acceleration,
                double* velocity, double* error) {
  const bool local = c.reference_frame == ReferenceFrame::LOCAL;
  const int n = static_cast<int>(c.rows());
  Vector6 nu, nu_dot;
  world_rows(c, f1, f2, nu, nu_dot);
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
  if (error != nullptr) {
    const Vector6 e = world_error(c, f1, f2);
    std::copy(e.data(), e.data() + n, error);
    if (local) to_frame_axes(f1.R, error, n);
  }
}

void rigid_wrenches(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, const double* lambda,
                    Vector6& W1, Vector6& W2) {
  Vector3 force, moment;
  world_force(c, f1, lambda, force, moment);
  if (c.kind == ConstraintKind::point) {
    // λ·(p̈1 − p̈2) with p̈ = A.lin + A.ang × p + …: W = ±[λ; p × λ]
    W1 << force, f1.p.cross(force);
    W2 << -force, -f2.p.cross(force);
    return;
  }
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
    for (Eigen::Index col = 0; col < J.cols(); ++col)
      for (Eigen::Index b = 0; b < n; b += 3) J.block<3, 1>(r0 + b, col) = Rt * J.block<3, 1>(r0 + b, col);
  }
}

namespace {

// Joint a is joint b or one of its ancestors.
bool supports(const Model& model, JointIndex a, JointIndex b) {
  for (; b > a; b = model.parents[b]) {
  }
  return a == b;
}

// The change of a frame's state along one coordinate column: δp, δṗ, δp̈,
// δω, δω̇, and the turn t of its axes (δR = [t]×R).
struct StateChange {
  Vector3 p = Vector3::Zero(), pd = Vector3::Zero(), pdd = Vector3::Zero();
  Vector3 w = Vector3::Zero(), wd = Vector3::Zero(), turn = Vector3::Zero();
};

// From the columns of ∂V and ∂A (world, about the origin) of the frame's
// body and its Jacobian column S (zero off the body's path): along q the
// frame moves by S, along v it does not.
StateChange state_change(const FrameState& f, const Vector6& dV, const Vector6& dA, const Vector6& S,
                         bool along_q) {
  StateChange d;
  if (along_q) {
    d.turn = S.tail<3>();
    d.p = S.head<3>() + d.turn.cross(f.p);
  }
  const Vector3 dVa = dV.tail<3>(), dAa = dA.tail<3>();
  // ṗ = V_l + V_a × p,  p̈ = A_l + A_a × p + ω × ṗ
  d.w = dVa;
  d.wd = dAa;
  d.pd = dV.head<3>() + dVa.cross(f.p) + f.w.cross(d.p);
  d.pdd = dA.head<3>() + dAa.cross(f.p) + f.wd.cross(d.p) + d.w.cross(f.pd) + f.w.cross(d.pd);
  return d;
}

// The changes of the world-aligned ν, ν̇ (as in world_rows) along a column.
void world_row_changes(const RigidConstraint& c, const FrameState& f1, const FrameState& f2,
                       const StateChange& d1, const StateChange& d2, Vector6& dnu, Vector6& dnu_dot) {
  const Vector3 dd = d1.p - d2.p, dd_dot = d1.pd - d2.pd;
  if (c.kind == ConstraintKind::point) {
    dnu.head<3>() = dd_dot;
    dnu_dot.head<3>() = d1.pdd - d2.pdd;
    return;
  }
  const Vector3 d = f1.p - f2.p, d_dot = f1.pd - f2.pd;
  dnu << dd_dot - d2.w.cross(d) - f2.w.cross(dd), d1.w - d2.w;
  dnu_dot << d1.pdd - d2.pdd - d2.wd.cross(d) - f2.wd.cross(dd) - d2.w.cross(d_dot) - f2.w.cross(dd_dot),
      d1.wd - d2.wd;
}

// The changes of the acceleration and velocity rows in c's axes: LOCAL
// rows are R1ᵀ(ν̇ − ω1 × ν) and R1ᵀν, block by block, and δ(R1ᵀx) = R1ᵀ(δx − t1 × x).
void row_changes(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, const StateChange& d1,
                 const StateChange& d2, double* d_acceleration, double* d_velocity) {
  Vector6 dnu, dnu_dot;
  world_row_changes(c, f1, f2, d1, d2, dnu, dnu_dot);
  const int n = static_cast<int>(c.rows());
  if (c.reference_frame != ReferenceFrame::LOCAL) {
    std::copy(dnu_dot.data(), dnu_dot.data() + n, d_acceleration);
    std::copy(dnu.data(), dnu.data() + n, d_velocity);
    return;
  }
  Vector6 nu, nu_dot;
  world_rows(c, f1, f2, nu, nu_dot);
  const Matrix3 Rt = f1.R.transpose();
  for (int b = 0; b < n; b += 3) {
    const Vector3 x = nu.segment<3>(b), dx = dnu.segment<3>(b);
    const Vector3 y = nu_dot.segment<3>(b) - f1.w.cross(x);
    const Vector3 dy = dnu_dot.segment<3>(b) - d1.w.cross(x) - f1.w.cross(dx);
    Eigen::Map<Vector3>{d_acceleration + b} = Rt * (dy - d1.turn.cross(y));
    Eigen::Map<Vector3>{d_velocity + b} = Rt * (dx - d1.turn.cross(x));
  }
}

}  // namespace

void add_force_derivative(const Model& model, const Data& data, const ConstraintSet& set, const VectorX& lambda,
                          MatrixX& H) {
  const auto column = [&](std::size_t k) { return data.j.col(static_cast<Eigen::Index>(k)); };
  for (std::size_t m = 0; m < set.constraints().size(); ++m) {
    const auto* c = std::get_if<RigidConstraint>(&set.constraints()[m]);
    if (c == nullptr) continue;  // a coupling's J is constant
    const FrameState f1 = frame_placement(model, data, c->frame);
    const FrameState f2 = c->frame2 ? frame_placement(model, data, *c->frame2) : FrameState{};
    const double* l = lambda.data() + set.first_row(m);
    Vector6 W[2];
    rigid_wrenches(*c, f1, f2, l, W[0], W[1]);
    const JointIndex body[2] = {f1.joint, f2.joint};
    const bool local = c->reference_frame == ReferenceFrame::LOCAL;
    const bool point = c->kind == ConstraintKind::point;
    Vector3 force, moment;
    world_force(*c, f1, l, force, moment);
    // Column k of ∂W_b/∂q: through the point of application (p1 for both
    // ends of a frame, p_b for a point) and, LOCAL, through R1.
    const auto wrench_change = [&](std::size_t k, int b, bool on1, bool on2) {
      const auto S = column(k);
      const Vector3 turn = S.tail<3>();
      const Vector3 dF = local && on1 ? Vector3(turn.cross(force)) : Vector3::Zero();
      const Vector3 dN = local && on1 ? Vector3(turn.cross(moment)) : Vector3::Zero();
      const bool at_second = point && b == 1;
      const bool moves = at_second ? on2 : on1;
      const Vector3& p = at_second ? f2.p : f1.p;
      const Vector3 dp = moves ? Vector3(S.head<3>() + turn.cross(p)) : Vector3::Zero();
      Vector6 dW;
      dW << dF, dp.cross(force) + p.cross(dF) + (point ? Vector3::Zero() : dN);
      return b == 0 ? dW : Vector6(-dW);
    };
    const int ends = c->frame2 ? 2 : 1;
    // H[j, k] = S_j·∂W_b/∂q_k + (S_k × S_j)·W_b where k's joint supports
    // j's; (S_k × S_j)·W = −S_j·(S_k ×* W), so column k reads
    // S_j·(∂W_b/∂q_k − S_k ×* W_b) on the part of path b at or below k's
    // joint and S_j·∂W_b/∂q_k above it. k runs over the union of both paths.
    for (int e = 0; e < ends; ++e) {
      for (JointIndex jk = body[e]; jk != 0; jk = model.parents[jk]) {
        if (e == 1 && supports(model, jk, body[0])) continue;  // already seen on path 1
        const bool on1 = supports(model, jk, body[0]);
        const bool on2 = ends == 2 && supports(model, jk, body[1]);
        for (std::size_t kk = 0; kk < model.nv_joint[jk]; ++kk) {
          const std::size_t k = model.idx_v[jk] + kk;
          const auto Sk = column(k);
          const Vector3 w = Sk.tail<3>(), lin = Sk.head<3>();
          for (int b = 0; b < ends; ++b) {
            const Vector6 dW = wrench_change(k, b, on1, on2);
            Vector6 below = dW;
            if (b == 0 ? on1 : on2) {
              // S ×* W = [ω × f; ω × n + v × f] for S = [v; ω], W = [f; n]
              const Vector3 f = W[b].head<3>(), nm = W[b].tail<3>();
              below.head<3>() -= w.cross(f);
              below.tail<3>() -= w.cross(nm) + lin.cross(f);
            }
            for (JointIndex jj = body[b]; jj != 0; jj = model.parents[jj]) {
              const Vector6& g = jj >= jk && (b == 0 ? on1 : on2) ? below : dW;
              for (std::size_t m2 = 0; m2 < model.nv_joint[jj]; ++m2) {
                const auto j = static_cast<Eigen::Index>(model.idx_v[jj] + m2);
                H(j, static_cast<Eigen::Index>(k)) += g.dot(data.j.col(j));
              }
            }
          }
        }
      }
    }
  }
}

void row_derivatives(const Model& model, Data& data, const ConstraintSet& set, MatrixX& dq, MatrixX* dv,
                     bool velocity_rows) {
  const auto nv = static_cast<Eigen::Index>(model.nv);
  if (data.constraint_end_motion.cols() != 10 * nv) data.constraint_end_motion.setZero(6, 10 * nv);
  auto block = [&](int end, int m) { return data.constraint_end_motion.middleCols((5 * end + m) * nv, nv); };
  for (std::size_t m = 0; m < set.constraints().size(); ++m) {
    const auto r0 = static_cast<Eigen::Index>(set.first_row(m));
    const auto* c = std::get_if<RigidConstraint>(&set.constraints()[m]);
    if (c == nullptr) {
      dq.row(r0).setZero();
      if (dv != nullptr) dv->row(r0).setZero();
      continue;
    }
    const auto n = static_cast<Eigen::Index>(c->rows());
    const FrameState f1 = world_frame_state(model, data, c->frame);
    const FrameState f2 = c->frame2 ? world_frame_state(model, data, *c->frame2) : FrameState{};
    const int ends = c->frame2 ? 2 : 1;
    for (int e = 0; e < ends; ++e) {
      const FrameIndex f = e == 0 ? c->frame : *c->frame2;
      getFrameVelocityDerivatives(model, data, f, ReferenceFrame::WORLD, block(e, 0), block(e, 1));
      getFrameAccelerationDerivatives(model, data, f, ReferenceFrame::WORLD, block(e, 2), block(e, 3), block(e, 4));
    }
    // The corrector's error and its Jacobian (frames: d log(E·exp δ)/dδ,
    // δ the relative twist in F1's axes, the LOCAL velocity rows per q_k).
    const bool local = c->reference_frame == ReferenceFrame::LOCAL;
    Matrix6 log_jacobian = Matrix6::Zero();
    Vector6 e_world = Vector6::Zero();
    if (c->kp != 0.0) {
      e_world = world_error(*c, f1, f2);
      if (c->kind == ConstraintKind::frame) log_jacobian = placement_error(*c, f1, f2).log_jacobian();
    }
    for (Eigen::Index k = 0; k < nv; ++k) {
      const auto col = [&](int e, int mm) -> Vector6 { return block(e, mm).col(k); };
      StateChange d1 = state_change(f1, col(0, 0), col(0, 2), col(0, 1), true), d2;
      if (ends == 2) d2 = state_change(f2, col(1, 0), col(1, 2), col(1, 1), true);
      double da[6], dvel[6];
      row_changes(*c, f1, f2, d1, d2, da, dvel);
      if (velocity_rows) {
        for (Eigen::Index r = 0; r < n; ++r) dq(r0 + r, k) = dvel[r];
        continue;
      }
      // δe: points δ(p1 − p2 − R2·r) = δd − t2 × R2·r; frames J_log·δ
      Vector6 de = Vector6::Zero();
      if (c->kp != 0.0) {
        if (c->kind == ConstraintKind::point) {
          de.head<3>() = d1.p - d2.p - d2.turn.cross(f2.R * c->reference.translation);
          if (local) de.head<3>() = f1.R.transpose() * (Vector3(de.head<3>()) - d1.turn.cross(Vector3(e_world.head<3>())));
        } else {
          Vector6 delta = data.constraint_jacobian.block<6, 1>(r0, k);  // in c's axes
          if (!local) delta << f1.R.transpose() * delta.head<3>(), f1.R.transpose() * delta.tail<3>();
          de = log_jacobian * delta;
          if (!local) {
            de.head<3>() = f1.R * Vector3(de.head<3>()) + d1.turn.cross(Vector3(e_world.head<3>()));
            de.tail<3>() = f1.R * Vector3(de.tail<3>()) + d1.turn.cross(Vector3(e_world.tail<3>()));
          }
        }
      }
      // c = J·a + γ − target, target = −kd·(J·w) − kp·e
      for (Eigen::Index r = 0; r < n; ++r) dq(r0 + r, k) = da[r] + c->kd * dvel[r] + c->kp * de[r];
      if (dv == nullptr) continue;
      d1 = state_change(f1, col(0, 1), col(0, 3), col(0, 1), false);
      if (ends == 2) d2 = state_change(f2, col(1, 1), col(1, 3), col(1, 1), false);
      row_changes(*c, f1, f2, d1, d2, da, dvel);
      for (Eigen::Index r = 0; r < n; ++r) (*dv)(r0 + r, k) = da[r] + c->kd * dvel[r];
    }
  }
}

void size_workspace(Data& data, std::size_t s) {
  const auto rows = static_cast<Eigen::Index>(s), nv = static_cast<Eigen::Index>(data.nv);
  if (data.constraint_jacobian.rows() != rows || data.constraint_jacobian.cols() != nv) {
    data.constraint_jacobian.setZero(rows, nv);
    data.constraint_rows_scratch.setZero(rows, 3 * nv);
    data.delassus_rows.setZero(nv, rows);
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
      // J reads the placements only; the drift the motion too
      const FrameState f1 = drift ? frame_state(model, data, c->frame, offset) : frame_placement(model, data, c->frame);
      const FrameState f2 = !c->frame2 ? FrameState{}
                            : drift    ? frame_state(model, data, *c->frame2, offset)
                                       : frame_placement(model, data, *c->frame2);
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

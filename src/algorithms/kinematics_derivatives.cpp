#include "kinematics_derivatives.hpp"

#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/forward_pass.hpp"
#include "internal/jacobians.hpp"
#include "joints/joints.hpp"

// World frame, about the world origin. Joint i has the velocity v_i and the
// acceleration a_i = Σ S_c q̈_c + Σ v_j(c) × S_c q̇_c over the columns c of
// its support path (S_c = oMj·S_c the world column of the joint j owning c).
//
// Perturbing q along integrate in a column k of joint j (parent λ) turns
// j's subtree rigidly by exp(ε S_k): its placements by oM ← exp(ε S_k)·oM,
// and so its world columns by S_c ← S_c + ε S_k × S_c (those of j included,
// every joint kind's subspace being constant in its own frame). The columns
// between the root and λ stay, and with them v_λ and a_λ. Hence, for a body
// i of the subtree,
//   ∂v_i/∂q_k = S_k × (v_i − v_λ),
//   ∂a_i/∂q_k = S_k × (a_i − a_λ) − (S_k × v_λ) × (v_i − v_λ)   (Jacobi identity),
// and, v_i and v_j being linear in q̇_k with S_k,
//   ∂v_i/∂q̇_k = ∂a_i/∂q̈_k = S_k,   ∂a_i/∂q̇_k = (v_j − v_i + v_λ) × S_k.
//
// The frame F on joint i moves with it: its world velocity and acceleration
// are v_i and a_i, and its placement turns like the subtree's,
// ∂oMf/∂q_k = [S_k]× oMf. In LOCAL, ν = oMf⁻¹·v_i, so
//   ∂ν/∂q_k = oMf⁻¹·(∂v_i/∂q_k − S_k × v_i) = oMf⁻¹·(v_λ × S_k),
//   ∂α/∂q_k = oMf⁻¹·(∂a_i/∂q_k − S_k × a_i) = oMf⁻¹·(a_λ × S_k − (S_k × v_λ) × (v_i − v_λ)).
// In LOCAL_WORLD_ALIGNED, with p the frame's origin and (l, ω) = v_i,
// ṗ = l − p × ω and p̈ = a_i.linear − p × a_i.angular − ṗ × ω; p moves with
// the point velocity of S_k, ∂p/∂q_k = S_k.linear − p × S_k.angular, and the
// linear rows follow by the product rule.

namespace lumo {
namespace {

// The joint frame `frame_id` is attached to, with the messages of the frame
// Jacobian's time variation.
JointIndex checked_frame_joint(const Model& model, FrameIndex frame_id) {
  if (frame_id >= model.nframes || frame_id >= model.frames.size())
    throw ValueError(cat("Frame ID ", frame_id, " out of bounds (nframes = ", model.nframes, ")"));
  const JointIndex j = model.frames[frame_id].parent;
  if (j >= model.njoints)
    throw ValueError(cat("Frame ", frame_id, " has invalid joint ID ", j, " (njoints = ", model.njoints, ")"));
  return j;
}

// Joint i on the way out: oMi, the world columns S_c = oMi·S_c, and
//   v_i = v_λ + Σ S_c q̇_c,   a_i = a_λ + Σ S_c q̈_c + v_i × Σ S_c q̇_c.
template <int n, bool kAcceleration>
void kinematics_step(const Model& model, Data& data, JointIndex i, const double* q, const double* v,
                     const double* a) {
  const JointIndex p = model.parents[i];
  forward_step(model, data, i, q);
  Motion& ov = data.kinematics_ov[i];
  Motion& oa = data.kinematics_oa[i];
  ov = data.kinematics_ov[p];
  oa = data.kinematics_oa[p];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    double* const J = data.j.data() + 6 * iv;
    world_subspace_columns(model.joints[i], data.oMi[i], J);
    Motion vJ;
    for (int k = 0; k < n; ++k) {
      const Motion S = from_column(Eigen::Map<const Vector6>(J + 6 * k));
      vJ.angular += S.angular * v[iv + k];
      vJ.linear += S.linear * v[iv + k];
      if constexpr (kAcceleration) {
        oa.angular += S.angular * a[iv + k];
        oa.linear += S.linear * a[iv + k];
      }
    }
    ov += vJ;
    oa += motion_cross(ov, vJ);
  }
}

template <bool kAcceleration>
void kinematics_pass(const Model& model, Data& data, const double* q, const double* v, const double* a) {
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  data.kinematics_ov[0] = Motion::Zero();
  data.kinematics_oa[0] = Motion::Zero();
  compute_joint_sincos(model, data, q);
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i], [&](auto n) { kinematics_step<n, kAcceleration>(model, data, i, q, v, a); });
}

inline void write(Matrix6XView& out, Eigen::Index c, const Motion& m) {
  out.col(c).head<3>() = m.linear;
  out.col(c).tail<3>() = m.angular;
}

}  // namespace

void computeKinematicsDerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                  const Eigen::Ref<const Eigen::VectorXd>& v,
                                  const Eigen::Ref<const Eigen::VectorXd>& a) {
  check_state(model, data, q.size(), v.size(), a.size(), "a");
  kinematics_pass<true>(model, data, q.data(), v.data(), a.data());
}

void computeKinematicsDerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                  const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  kinematics_pass<false>(model, data, q.data(), v.data(), nullptr);
}

void getFrameVelocityDerivatives(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf,
                                 Matrix6XView dv_dq, Matrix6XView dv_dv) {
  const JointIndex i = checked_frame_joint(model, frame_id);
  data.check_model(model);
  prepare_jacobian_output(model, dv_dq);
  prepare_jacobian_output(model, dv_dv);
  const SE3 oMf = compose(data.oMi[i], model.frames[frame_id].placement);
  const Vector3& p = oMf.translation;
  const Motion& v_i = data.kinematics_ov[i];
  for (JointIndex j = i; j != 0; j = model.parents[j]) {
    const Motion& v_p = data.kinematics_ov[model.parents[j]];
    const Motion v_rel = v_i - v_p;
    for (std::size_t k = 0; k < model.nv_joint[j]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[j] + k);
      const Motion S = from_column(data.j.col(c));
      switch (rf) {
        case ReferenceFrame::WORLD:
          write(dv_dq, c, motion_cross(S, v_rel));
          write(dv_dv, c, S);
          break;
        case ReferenceFrame::LOCAL:
          write(dv_dq, c, act_inv_motion(oMf, motion_cross(v_p, S)));
          write(dv_dv, c, act_inv_motion(oMf, S));
          break;
        default: {
          // ∂ṗ/∂q_k = ∂l/∂q_k − p × ∂ω/∂q_k − ∂p/∂q_k × ω
          const Motion D = motion_cross(S, v_rel);
          const Vector3 dp = point_velocity(S, p);
          write(dv_dq, c, {D.angular, point_velocity(D, p) - dp.cross(v_i.angular)});
          write(dv_dv, c, {S.angular, dp});
          break;
        }
      }
    }
  }
}

void getFrameAccelerationDerivatives(const Model& model, const Data& data, FrameIndex frame_id,
                                     ReferenceFrame rf, Matrix6XView da_dq, Matrix6XView da_dv,
                                     Matrix6XView da_da) {
  const JointIndex i = checked_frame_joint(model, frame_id);
  data.check_model(model);
  prepare_jacobian_output(model, da_dq);
  prepare_jacobian_output(model, da_dv);
  prepare_jacobian_output(model, da_da);
  const SE3 oMf = compose(data.oMi[i], model.frames[frame_id].placement);
  const Vector3& p = oMf.translation;
  const Motion &v_i = data.kinematics_ov[i], &a_i = data.kinematics_oa[i];
  const Vector3& w = v_i.angular;
  const Vector3 p_dot = point_velocity(v_i, p);
  for (JointIndex j = i; j != 0; j = model.parents[j]) {
    const JointIndex lambda = model.parents[j];
    const Motion &v_p = data.kinematics_ov[lambda], &a_p = data.kinematics_oa[lambda];
    const Motion v_rel = v_i - v_p, a_rel = a_i - a_p;
    const Motion v_sum = data.kinematics_ov[j] - v_rel;  // v_j − v_i + v_λ
    for (std::size_t k = 0; k < model.nv_joint[j]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[j] + k);
      const Motion S = from_column(data.j.col(c));
      const Motion u = motion_cross(S, v_p);
      const Motion dv = motion_cross(v_sum, S);  // ∂a_i/∂q̇_k
      switch (rf) {
        case ReferenceFrame::WORLD:
          write(da_dq, c, motion_cross(S, a_rel) - motion_cross(u, v_rel));
          write(da_dv, c, dv);
          write(da_da, c, S);
          break;
        case ReferenceFrame::LOCAL:
          write(da_dq, c, act_inv_motion(oMf, motion_cross(a_p, S) - motion_cross(u, v_rel)));
          write(da_dv, c, act_inv_motion(oMf, dv));
          write(da_da, c, act_inv_motion(oMf, S));
          break;
        default: {
          // p̈ = a.linear − p × a.angular − ṗ × ω, differentiated term by term
          // (∂p/∂q̇ = 0, ∂ṗ/∂q̇_k = ∂p/∂q_k).
          const Motion Dv = motion_cross(S, v_rel);
          const Motion Da = motion_cross(S, a_rel) - motion_cross(u, v_rel);
          const Vector3 dp = point_velocity(S, p);
          const Vector3 dp_dot = point_velocity(Dv, p) - dp.cross(w);
          write(da_dq, c,
                {Da.angular, point_velocity(Da, p) - dp.cross(a_i.angular) - dp_dot.cross(w) - p_dot.cross(Dv.angular)});
          write(da_dv, c, {dv.angular, point_velocity(dv, p) - dp.cross(w) - p_dot.cross(S.angular)});
          write(da_da, c, {S.angular, dp});
          break;
        }
      }
    }
  }
}

}  // namespace lumo

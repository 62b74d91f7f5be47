#include "time_variation.hpp"

#include "errors/errors.hpp"
#include "internal/forward_pass.hpp"
#include "internal/jacobians.hpp"

namespace lumo {
namespace {

// (ω, ν) × (l, w) = (ω × l + ν × w, ω × w) for a [linear; angular] column.
Vector6 cross_column(const Motion& m, const Vector6& c) {
  const Vector3 l = c.head<3>(), w = c.tail<3>();
  Vector6 out;
  out << m.angular.cross(l) + m.linear.cross(w), m.angular.cross(w);
  return out;
}

}  // namespace

void time_variation_step(const Model& model, Data& data, JointIndex i, const double* q,
                         const double* v) {
  const JointModel& joint = model.joints[i];
  const std::size_t iv = model.idx_v[i];
  forward_step(model, data, i, q);
  data.v[i] = act_inv_motion(data.limi[i], data.v[model.parents[i]]);  // v_i = limi⁻¹·v_λ + S q̇_i
  add_joint_velocity(joint, v + iv, data.v[i]);
  data.ov[i] = act_motion(data.oMi[i], data.v[i]);                        // ov_i = oMi·v_i
  double* J = data.j.data() + 6 * iv;
  double* dJ = data.dJ.data() + 6 * iv;
  world_subspace_columns(joint, data.oMi[i], J);                          // J_c = oMi·S_k
  for (std::size_t k = 0; k < joint.nv; ++k)                              // dJ_c = ov_i × J_c
    Eigen::Map<Vector6>(dJ + 6 * k) = cross_column(data.ov[i], Eigen::Map<const Vector6>(J + 6 * k));
}

void computeJointJacobiansTimeVariation(const Model& model, Data& data,
                                        const Eigen::Ref<const Eigen::VectorXd>& q,
                                        const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  data.v[0] = Motion::Zero();
  compute_joint_sincos(model, data, q.data());
  // Forward pass: v_i = limi⁻¹·v_λ + S q̇_i;  ov_i = oMi·v_i;
  //   J_c = oMi·S_k;  dJ_c = ov_i × J_c. Every column of J and dJ belongs
  // to one joint, so each is written once and none needs clearing.
  for (JointIndex i = 1; i < model.njoints; ++i) time_variation_step(model, data, i, q.data(), v.data());
}

void getFrameJacobianTimeVariation(const Model& model, const Data& data, FrameIndex frame_id,
                                   ReferenceFrame rf, Matrix6XView out) {
  if (frame_id >= model.nframes || frame_id >= model.frames.size())
    throw ValueError(cat("Frame ID ", frame_id, " out of bounds (nframes = ", model.nframes, ")"));
  const Frame& frame = model.frames[frame_id];
  const JointIndex j = frame.parent;
  if (j >= model.njoints)
    throw ValueError(cat("Frame ", frame_id, " has invalid joint ID ", j, " (njoints = ",
                         model.njoints, ")"));
  data.check_model(model);
  prepare_jacobian_output(model, out);
  const SE3 oMf = compose(data.oMi[j], frame.placement);
  // The frame's velocity in its own coordinates, and the world velocity of its origin.
  const Motion v_f = act_inv_motion(frame.placement, data.v[j]);
  const Motion& ov = data.ov[j];
  const Vector3 p_dot = ov.linear + ov.angular.cross(oMf.translation);
  for (JointIndex cur = j; cur != 0; cur = model.parents[cur]) {
    for (std::size_t k = 0; k < model.nv_joint[cur]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[cur] + k);
      const Vector6 dJ = data.dJ.col(c);
      switch (rf) {
        case ReferenceFrame::WORLD:
          out.col(c) = dJ;
          break;
        case ReferenceFrame::LOCAL:
          // d/dt (oMf⁻¹·J) = oMf⁻¹·dJ − v_f × (oMf⁻¹·J)
          out.col(c) = act_inv_column(oMf, dJ) - cross_column(v_f, act_inv_column(oMf, data.j.col(c)));
          break;
        default: {
          // d/dt (l − p × w, w) = (dl − p × dw − ṗ × w, dw)
          const Vector3 w = data.j.col(c).tail<3>(), dw = dJ.tail<3>();
          out.col(c).head<3>() = dJ.head<3>() - oMf.translation.cross(dw) - p_dot.cross(w);
          out.col(c).tail<3>() = dw;
          break;
        }
      }
    }
  }
}

}  // namespace lumo

#include "jacobians.hpp"

#include "errors/errors.hpp"
#include "frames.hpp"
#include "internal/checks.hpp"
#include "internal/forward_pass.hpp"
#include "internal/jacobians.hpp"

namespace lumo {

void computeJointJacobians(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  start_forward_pass(model, data, q.data());
  // Forward pass: oMi = oMi[λ]·limi;  J_c = oMi·S_k. Every column of J
  // belongs to one joint, so each is written once and none needs clearing.
  double* const J = data.j.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
    world_subspace_columns(model.joints[i], data.oMi[i], J + 6 * model.idx_v[i]);
  }
}

void computeJointJacobian(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                          JointIndex joint_id, Matrix6XView J) {
  check_configuration_size(model, q.size());
  if (joint_id >= model.njoints)
    throw ValueError(cat("Joint ID ", joint_id, " is out of range (njoints = ", model.njoints, ")"));
  data.check_model(model);
  prepare_jacobian_output(model, J);
  // Walk from the joint to the root; curMj is the joint's frame seen from
  // the current joint on the path. Column c of joint cur = curMj⁻¹·S_k.
  SE3 curMj;
  for (JointIndex cur = joint_id; cur != 0; cur = model.parents[cur]) {
    const JointModel& joint = model.joints[cur];
    SE3& limi = data.limi[cur];
    joint_placement(joint, model.jointPlacements[cur], q.data() + model.idx_q[cur], limi);
    for (std::size_t k = 0; k < joint.nv; ++k)
      J.col(static_cast<Eigen::Index>(model.idx_v[cur] + k)) =
          act_inv_column(curMj, subspace_column(joint, k));
    curMj = compose(limi, curMj);
  }
}

void extractJointJacobian(const Model& model, const Data& data, JointIndex joint_id,
                          ReferenceFrame rf, Matrix6XView J) {
  if (joint_id >= model.njoints)
    throw ValueError(cat("Joint ID ", joint_id, " out of bounds (njoints = ", model.njoints, ")"));
  data.check_model(model);
  prepare_jacobian_output(model, J);
  const SE3& oMF = data.oMi[joint_id];
  for (JointIndex cur = joint_id; cur != 0; cur = model.parents[cur]) {
    for (std::size_t k = 0; k < model.nv_joint[cur]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[cur] + k);
      const Vector6 col = data.j.col(c);
      switch (rf) {
        case ReferenceFrame::WORLD:
          J.col(c) = col;
          break;
        case ReferenceFrame::LOCAL:
          J.col(c) = act_inv_column(oMF, col);
          break;
        default: {  // world axes about the frame's origin: l − p × w
          const Vector3 w = col.tail<3>();
          J.col(c).head<3>() = col.head<3>() - oMF.translation.cross(w);
          J.col(c).tail<3>() = w;
          break;
        }
      }
    }
  }
}

void prepare_jacobian_output(const Model& model, Matrix6XView J) {
  if (J.rows() != 6 || static_cast<std::size_t>(J.cols()) != model.nv)
    throw InternalError("Matrix index out of bounds.");
  J.setZero();
}

void getFrameJacobian(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf,
                      Matrix6XView J) {
  extractJointJacobian(model, data, frame_parent_joint(model, frame_id), rf, J);
}

}  // namespace lumo

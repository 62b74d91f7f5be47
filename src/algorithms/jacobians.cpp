#include "jacobians.hpp"

#include "errors/errors.hpp"
#include "frames.hpp"
#include "internal/checks.hpp"
#include "internal/forward_pass.hpp"
#include "internal/jacobians.hpp"

namespace lumo {

void computeJointJacobians(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  joint_jacobians_pass(model, data, q.data());
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
  joint_jacobian_columns(model, data.j.data(), data.oMi[joint_id], joint_id, rf, J);
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

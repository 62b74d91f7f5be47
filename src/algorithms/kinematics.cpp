#include "kinematics.hpp"

#include "internal/forward_pass.hpp"

namespace lumo {

void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  placement_pass(model, data, q.data());
}

void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                       const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  start_forward_pass(model, data, q.data());
  data.ov[0] = Motion::Zero();
  // Forward pass: v_i = limi⁻¹·v_λ + S q̇_i;  ov_i = oMi·v_i.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
    const JointIndex p = model.parents[i];
    data.v[i] = act_inv_motion(data.limi[i], data.v[p]);
    add_joint_velocity(model.joints[i], v.data() + model.idx_v[i], data.v[i]);
    data.ov[i] = act_motion(data.oMi[i], data.v[i]);
  }
}

void computeKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                       const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a) {
  check_state(model, data, q.size(), v.size(), a.size());
  start_forward_pass(model, data, q.data());
  data.ov[0] = Motion::Zero();
  data.a[0] = Motion::Zero();  // the root at rest; no gravity offset
  // Forward pass:
  //   v_i = limi⁻¹·v_λ + S q̇_i;  ov_i = oMi·v_i
  //   a_i = limi⁻¹·a_λ + S q̈_i + v_i × S q̇_i
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
    const JointIndex p = model.parents[i];
    const std::size_t iv = model.idx_v[i];
    act_inv_motion(data.limi[i], data.v[p], data.a[p], data.v[i], data.a[i]);
    add_joint_velocity_acceleration(model.joints[i], v.data() + iv, a.data() + iv, data.v[i], data.a[i]);
    data.ov[i] = act_motion(data.oMi[i], data.v[i]);
  }
}

}  // namespace lumo

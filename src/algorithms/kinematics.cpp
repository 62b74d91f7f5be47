#include "kinematics.hpp"

#include "configuration.hpp"
#include "errors/errors.hpp"

namespace lumo {

void check_state(const Model& model, const Data& data, Eigen::Index q_len, Eigen::Index v_len,
                 Eigen::Index third_len, const char* third) {
  check_configuration_size(model, q_len);
  if (v_len >= 0) check_velocity_size(model, v_len);
  if (third_len >= 0 && third_len != v_len)
    throw InternalError(cat("assertion failed: ", third, ".len() == v.len() (", third_len, " != ", v_len, ")"));
  data.check_model(model);
}

void compute_joint_sincos(const Model& model, Data& data, const double* q) {
  const std::size_t n = model.njoints;
  double* angle = data.joint_angle.data();
  for (JointIndex i = 1; i < n; ++i)
    angle[i] = model.joints[i].type == JointType::Revolute ? q[model.idx_q[i]] : 0.0;
  sincos_many(angle + 1, data.joint_sin.data() + 1, data.joint_cos.data() + 1, n - 1);
}

void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  start_forward_pass(model, data, q.data());
  // Forward pass: limi = placement · joint motion; oMi = oMi[parent] · limi.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
  }
}

}  // namespace lumo

#include "kinematics.hpp"

#include "internal/forward_pass.hpp"

namespace lumo {

void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  start_forward_pass(model, data, q.data());
  // Forward pass: limi = placement · joint motion;  oMi = oMi[λ] · limi.
  for (JointIndex i = 1; i < model.njoints; ++i) forward_step(model, data, i, q.data());
}

}  // namespace lumo

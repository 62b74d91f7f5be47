#include "kinematics.hpp"

#include "configuration.hpp"

namespace lumo {

void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_configuration_size(model, q.size());
  data.check_model(model);
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  // Forward pass: limi = placement · joint motion; oMi = oMi[parent] · limi.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
  }
}

}  // namespace lumo

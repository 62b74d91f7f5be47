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
    SE3& limi = data.limi[i];
    joint_placement(model.joints[i], model.jointPlacements[i], q.data() + model.idx_q[i], limi);
    const JointIndex p = model.parents[i];
    if (p == 0) {
      data.oMi[i] = limi;
    } else {
      const SE3& oMp = data.oMi[p];
      SE3& oMi = data.oMi[i];
      oMi.rotation.noalias() = oMp.rotation * limi.rotation;
      oMi.translation.noalias() = oMp.rotation * limi.translation;
      oMi.translation += oMp.translation;
    }
  }
}

}  // namespace lumo

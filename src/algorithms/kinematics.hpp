// Forward kinematics: placements of every joint frame.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// For q (nq elements) writes data.limi[i] (joint i in its parent's frame)
// and data.oMi[i] (joint i in the world) for every joint; index 0 is the
// identity. One pass in index order; allocates nothing.
void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// The step every forward pass starts with, for joint i (its parent done):
//   limi = placement · joint motion;  oMi = oMi[λ] · limi.
inline void forward_step(const Model& model, Data& data, JointIndex i, const double* q) {
  SE3& limi = data.limi[i];
  joint_placement(model.joints[i], model.jointPlacements[i], q + model.idx_q[i], limi);
  const JointIndex p = model.parents[i];
  if (p == 0) {
    data.oMi[i] = limi;
    return;
  }
  const SE3& oMp = data.oMi[p];  // compose(oMi[λ], limi), written in place
  SE3& oMi = data.oMi[i];
  oMi.rotation.noalias() = oMp.rotation * limi.rotation;
  oMi.translation.noalias() = oMp.rotation * limi.translation;
  oMi.translation += oMp.translation;
}

}  // namespace lumo

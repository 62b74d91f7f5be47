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

// The preconditions of an algorithm on a state: q of nq elements, v (when
// v_len >= 0) of nv and a third vector named `third` (when third_len >= 0)
// as long as v (InternalError), then a workspace made for this model
// (ValueError).
void check_state(const Model& model, const Data& data, Eigen::Index q_len, Eigen::Index v_len = -1,
                 Eigen::Index third_len = -1, const char* third = "a");

// data.joint_angle/joint_sin/joint_cos for the configuration q.
void compute_joint_sincos(const Model& model, Data& data, const double* q);

// The root of every forward pass: joint 0 at the world origin, at rest, and
// the sines and cosines of the joint angles of q.
inline void start_forward_pass(const Model& model, Data& data, const double* q) {
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  data.v[0] = Motion::Zero();
  compute_joint_sincos(model, data, q);
}

// The step every forward pass starts with, for joint i (its parent done,
// start_forward_pass called for q):
//   limi = placement · joint motion;  oMi = oMi[λ] · limi.
inline void forward_step(const Model& model, Data& data, JointIndex i, const double* q) {
  SE3& limi = data.limi[i];
  joint_placement(model.joints[i], model.jointPlacements[i], q + model.idx_q[i], data.joint_sin[i],
                  data.joint_cos[i], limi);
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

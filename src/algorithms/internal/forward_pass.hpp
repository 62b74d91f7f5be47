// The steps every forward pass is made of, shared by the algorithms: the
// root, and the placement (and velocity) of one joint once its parent is
// done. Private to src/algorithms.
#pragma once

#include <Eigen/Core>

#include "../../data/data.hpp"
#include "../../model/model.hpp"
#include "checks.hpp"

namespace lumo {

// data.joint_angle/joint_sin/joint_cos for the configuration q.
void compute_joint_sincos(const Model& model, Data& data, const double* q);

// Joint 0 at the world origin, at rest.
template <class S, class Work>
inline void place_root(Work& data) {
  data.oMi[0] = SE3T<S>::Identity();
  data.limi[0] = SE3T<S>::Identity();
  data.v[0] = MotionT<S>::Zero();
}

// The root of every forward pass: joint 0 at the world origin, at rest, and
// the sines and cosines of the joint angles of q.
template <class S, class Work>
inline void start_forward_pass(const Model& model, Work& data, const S* q) {
  place_root<S>(data);
  compute_joint_sincos(model, data, q);
}

// The same root for a pass over some joints only (each listed after its
// parent): the sines and cosines of their angles.
template <class S, class Work>
inline void start_forward_pass(const Model& model, Work& data, const S* q, const std::vector<JointIndex>& joints) {
  place_root<S>(data);
  compute_joint_sincos(model, data, q, joints);
}

// Joint i's placements (its parent done, the sines and cosines of q taken):
//   limi = placement · joint motion;  oMi = oMi[λ] · limi.
inline void forward_step(const Model& model, Data& data, JointIndex i, const double* q) {
  const JointIndex p = model.parents[i];
  joint_placement_in_world(model.joints[i], model.jointPlacements[i], model.placement_unrotated[i] != 0,
                           q + model.idx_q[i], data.joint_sin[i], data.joint_cos[i], p == 0 ? nullptr : &data.oMi[p],
                           data.limi[i], data.oMi[i]);
}

// Forward kinematics: limi and oMi of every joint for q.
template <class S, class Work>
void placement_pass(const Model& model, Work& data, const S* q) {
  start_forward_pass(model, data, q);
  for (JointIndex i = 1; i < model.njoints; ++i) forward_step(model, data, i, q);
}

// Frame f in the world from the joint placements: oMi[parent] · placement
// (the frame checked).
template <class S, class Work>
SE3T<S> frame_placement(const Model& model, const Work& data, FrameIndex f) {
  const Frame& frame = model.frames[f];
  return compose(data.oMi[frame.parent], lift<S>(frame.placement));
}

// The external force on joint i's body, [force; torque] at fi (joint frame,
// about its origin), carried to the world: [R f; R n + p × R f].
template <class S>
ForceT<S> world_external_force(const SE3T<S>& oMi, const S* fi) {
  return act_force(oMi, ForceT<S>{Vector3T<S>(fi[3], fi[4], fi[5]), Vector3T<S>(fi[0], fi[1], fi[2])});
}

// forward_step, then the joint's velocity and the columns of the Jacobian
// and of its time derivative (data.v[λ] current; world frame but v):
//   v_i = limi⁻¹·v_λ + S q̇_i;  ov_i = oMi·v_i;  J_c = oMi·S_k;  dJ_c = ov_i × J_c.
void time_variation_step(const Model& model, Data& data, JointIndex i, const double* q, const double* v);

}  // namespace lumo

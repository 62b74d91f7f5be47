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

// True when R is exactly the identity (most joint origins carry no rotation).
inline bool is_identity_rotation(const Matrix3& R) {
  const double* r = R.data();
  return r[0] == 1.0 && r[4] == 1.0 && r[8] == 1.0 && r[1] == 0.0 && r[2] == 0.0 && r[3] == 0.0 &&
         r[5] == 0.0 && r[6] == 0.0 && r[7] == 0.0;
}

// The step every forward pass starts with, for joint i (its parent done,
// start_forward_pass called for q):
//   limi = placement · joint motion;  oMi = oMi[λ] · limi.
// A revolute joint about a coordinate axis, or a fixed joint, whose origin
// has no rotation takes a shorter way to the same numbers: then limi's
// rotation is the joint's own, which keeps column k of oMi[λ] and mixes the
// other two.
inline void forward_step(const Model& model, Data& data, JointIndex i, const double* q) {
  const JointModel& joint = model.joints[i];
  const SE3& P = model.jointPlacements[i];
  SE3& limi = data.limi[i];
  const JointIndex p = model.parents[i];
  const bool plain_revolute = joint.type == JointType::Revolute && joint.coordinate_axis >= 0;
  if (p != 0 && (plain_revolute || joint.type == JointType::Fixed) && is_identity_rotation(P.rotation)) {
    const SE3& oMp = data.oMi[p];
    SE3& oMi = data.oMi[i];
    limi.translation = P.translation;
    oMi.translation.noalias() = oMp.rotation * P.translation;
    oMi.translation += oMp.translation;
    if (!plain_revolute || q[model.idx_q[i]] == 0.0) {
      limi.rotation.setIdentity();
      oMi.rotation = oMp.rotation;
      return;
    }
    const int k = joint.coordinate_axis, a = k == 2 ? 0 : k + 1, b = k == 0 ? 2 : k - 1;
    const double s = joint.axis_sign * data.joint_sin[i], c = data.joint_cos[i];
    limi.rotation.setZero();
    limi.rotation(k, k) = 1.0;
    limi.rotation(a, a) = c;
    limi.rotation(b, b) = c;
    limi.rotation(b, a) = s;
    limi.rotation(a, b) = -s;
    const Vector3 Aa = oMp.rotation.col(a), Ab = oMp.rotation.col(b);
    oMi.rotation.col(k) = oMp.rotation.col(k);
    oMi.rotation.col(a) = Aa * c + Ab * s;
    oMi.rotation.col(b) = Aa * -s + Ab * c;
    return;
  }
  joint_placement(joint, P, q + model.idx_q[i], data.joint_sin[i], data.joint_cos[i], limi);
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

// Geometric Jacobians. Columns are [linear; angular] spatial velocities per
// unit velocity of each coordinate; column c belongs to the joint owning
// velocity coordinate c.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "reference_frame.hpp"

namespace lumo {

// A writable 6×nv view with any strides (for instance on a row-major array).
using Matrix6XView = Eigen::Ref<Matrix6X, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

// Forward kinematics, then data.j: column c = oMi[i]·S_k for every joint i
// and coordinate c = idx_v[i] + k, in the world frame about the world origin.
void computeJointJacobians(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// The Jacobian of one joint in its own frame, computed along its support
// path only; columns off the path are zero. Writes data.limi on the path.
// Throws ValueError when joint_id >= njoints.
void computeJointJacobian(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                          JointIndex joint_id, Matrix6XView J);

// The Jacobian of joint `joint_id` taken from data.j and data.oMi (as left
// by computeJointJacobians, crba or computeAllTerms), expressed in `rf` with
// F = the joint's frame. Throws ValueError when joint_id >= njoints.
void extractJointJacobian(const Model& model, const Data& data, JointIndex joint_id,
                          ReferenceFrame rf, Matrix6XView J);

// extractJointJacobian for the joint that frame `frame_id` is attached to
// (the frame's own placement is not applied). Throws ValueError for a bad frame.
void getFrameJacobian(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf,
                      Matrix6XView J);

}  // namespace lumo

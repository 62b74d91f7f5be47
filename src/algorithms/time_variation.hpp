// Time derivatives of the Jacobians.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "jacobians.hpp"
#include "reference_frame.hpp"

namespace lumo {

// One forward pass for (q, v): data.limi, data.oMi, data.v (joint frame),
// data.ov (world frame), the world Jacobian data.j and its time derivative
//   data.dJ column c = ov[i] × J_c   (i the joint owning c, [linear; angular]).
void computeJointJacobiansTimeVariation(const Model& model, Data& data,
                                        const Eigen::Ref<const Eigen::VectorXd>& q,
                                        const Eigen::Ref<const Eigen::VectorXd>& v);

// One joint of that forward pass (its parent done): limi, oMi, v, ov and
// the joint's columns of j and dJ. Shared by the passes that need them.
void time_variation_step(const Model& model, Data& data, JointIndex i, const double* q,
                         const double* v);

// d/dt of the Jacobian of frame `frame_id` in `rf`, from data.dJ, data.j,
// data.oMi, data.v and data.ov as left by computeJointJacobiansTimeVariation
// (or computeAllTerms). Unlike getFrameJacobian, the frame's own placement
// on its joint is applied. Throws ValueError for a bad frame.
void getFrameJacobianTimeVariation(const Model& model, const Data& data, FrameIndex frame_id,
                                   ReferenceFrame rf, Matrix6XView dJ);

}  // namespace lumo

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

// d/dt of the Jacobian of frame `frame_id` in `rf`, from data.dJ, data.j,
// data.oMi, data.v and data.ov as left by computeJointJacobiansTimeVariation
// (or computeAllTerms). Unlike getFrameJacobian, the frame's own placement
// on its joint is applied. Throws ValueError for a bad frame.
void getFrameJacobianTimeVariation(const Model& model, const Data& data, FrameIndex frame_id,
                                   ReferenceFrame rf, Matrix6XView dJ);

}  // namespace lumo

// Analytic derivatives of the velocity and acceleration of a frame.
//
// For frame F on joint i, ν_rf is its velocity and α_rf = d/dt ν_rf its
// acceleration in reference frame rf (component by component; in
// LOCAL_WORLD_ALIGNED, [ṗ_f; ω] and [p̈_f; ω̇]), so that ν_rf = J_rf·v and
// α_rf = J_rf·a + J̇_rf·v with J_rf the frame's own Jacobian (F's
// placement applied). A derivative with respect to q is taken along the
// configuration space: column k is d/dε f(integrate(q, ε e_k)) at ε = 0, nv
// columns. Columns of joints off F's support path are zero.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "jacobians.hpp"
#include "reference_frame.hpp"

namespace lumo {

// One forward pass for (q, v, a): limi, oMi, the world Jacobian data.j and,
// per joint in the world frame about the world origin, the spatial velocity
// data.kinematics_ov and acceleration data.kinematics_oa (no gravity).
void computeKinematicsDerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                  const Eigen::Ref<const Eigen::VectorXd>& v,
                                  const Eigen::Ref<const Eigen::VectorXd>& a);

// The same pass with a = 0 (what the velocity derivatives read).
void computeKinematicsDerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                  const Eigen::Ref<const Eigen::VectorXd>& v);

// dν_rf/dq and dν_rf/dv = J_rf (6×nv each) of frame `frame_id`, from what
// computeKinematicsDerivatives left in data. Throws ValueError for a bad frame.
void getFrameVelocityDerivatives(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf,
                                 Matrix6XView dv_dq, Matrix6XView dv_dv);

// dα_rf/dq, dα_rf/dv and dα_rf/da = J_rf (6×nv each) of frame `frame_id`,
// from what computeKinematicsDerivatives left in data. Throws ValueError for
// a bad frame.
void getFrameAccelerationDerivatives(const Model& model, const Data& data, FrameIndex frame_id,
                                     ReferenceFrame rf, Matrix6XView da_dq, Matrix6XView da_dv,
                                     Matrix6XView da_da);

}  // namespace lumo

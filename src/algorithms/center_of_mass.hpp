// Centre of mass of all bodies and the centroidal momentum, in the world frame.
// Bodies on fixed joints count; a total mass at or below 1e-10 leaves the
// centre of mass and its Jacobian at zero (as computeAllTerms does).
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// c = Σ m_i c_i / Σ m_i into data.com (world frame). Runs forwardKinematics
// (limi, oMi).
const Vector3& centerOfMass(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// d c / d v, 3×nv, into data.com_jacobian: column c = Σ over the bodies
// below coordinate c of m_i (S_c applied at c_i), divided by the total mass.
// Also writes com (and limi, oMi, j, world_inertia as composites).
const Matrix3X& jacobianCenterOfMass(const Model& model, Data& data,
                                     const Eigen::Ref<const Eigen::VectorXd>& q);

// The centroidal momentum matrix A_G (6×nv) into data.centroidal_map:
// A_G·v = [linear momentum; angular momentum about the centre of mass], in
// world axes. Also writes com, com_jacobian and what jacobianCenterOfMass writes.
const Matrix6X& computeCentroidalMap(const Model& model, Data& data,
                                     const Eigen::Ref<const Eigen::VectorXd>& q);

// h_G = [linear; angular about the centre of mass] into
// data.centroidal_momentum, from the body velocities in O(n) (no nv-sized
// matrix). Also writes com, limi, oMi, v (joint frame).
const Vector6& computeCentroidalMomentum(const Model& model, Data& data,
                                         const Eigen::Ref<const Eigen::VectorXd>& q,
                                         const Eigen::Ref<const Eigen::VectorXd>& v);

}  // namespace lumo

// Helpers over the algorithms shared by their tests: the full mass matrix, the
// single-joint Jacobian and central differences along integrate.
#pragma once

#include <Eigen/Core>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "support/tolerances.hpp"

namespace lumo::test {

// The full matrix of its stored upper triangle.
inline Eigen::MatrixXd symmetric(const Eigen::MatrixXd& upper) { return upper.selfadjointView<Eigen::Upper>(); }

// The joint-space mass matrix M(q), full.
inline Eigen::MatrixXd mass_matrix(const Model& model, Data& data, const Eigen::VectorXd& q) {
  return symmetric(crba(model, data, q));
}

// The Jacobian of joint i in its own frame, by computeJointJacobian.
inline Matrix6X joint_jacobian(const Model& model, Data& data, const Eigen::VectorXd& q, JointIndex i) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  computeJointJacobian(model, data, q, i, J);
  return J;
}

// Central difference of f(q ⊕ t·dir) at t = 0.
template <typename F>
auto derivative(const Model& model, const Eigen::VectorXd& q, const Eigen::VectorXd& dir, F&& f) {
  const double eps = kFdStep;
  return ((f(integrate(model, q, eps * dir)) - f(integrate(model, q, -eps * dir))) / (2 * eps)).eval();
}

}  // namespace lumo::test

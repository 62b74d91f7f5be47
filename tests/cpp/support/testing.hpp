// What every C++ test includes: the generator, the models, the tolerances, the
// comparisons, and helpers over the algorithms (the full mass matrix, the
// single-joint Jacobian, central differences along integrate).
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <string>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/spatial/spatial.hpp"
#include "support/models.hpp"
#include "support/random.hpp"
#include "support/tolerances.hpp"

namespace lumo::test {

using Eigen::MatrixXd;
using Eigen::VectorXd;

template <typename A, typename B>
::testing::AssertionResult near(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<B>& b,
                                double tol) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure() << "shapes " << a.rows() << "x" << a.cols() << " and "
                                         << b.rows() << "x" << b.cols();
  if (a.size() == 0) return ::testing::AssertionSuccess();
  const double err = (a - b).cwiseAbs().maxCoeff();
  if (err <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "max |difference| " << err << " > " << tol << "\n"
                                       << a << "\nvs\n"
                                       << b;
}

inline ::testing::AssertionResult near(const SE3& a, const SE3& b, double tol) {
  auto r = near(a.rotation, b.rotation, tol);
  return r ? near(a.translation, b.translation, tol) : r;
}
inline ::testing::AssertionResult near(const Motion& a, const Motion& b, double tol) {
  return near(to_column(a), to_column(b), tol);
}
inline ::testing::AssertionResult near(const Force& a, const Force& b, double tol) {  // linear rows first
  return near((Vector6() << a.force, a.moment).finished(), (Vector6() << b.force, b.moment).finished(), tol);
}

// The message of the E thrown by call(), or "no exception".
template <typename E, typename F>
std::string error_message(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

// Power of a force on a motion: n·ω + f·v.
inline double power(const Force& f, const Motion& m) {
  return f.moment.dot(m.angular) + f.force.dot(m.linear);
}

// The full matrix of its stored upper triangle.
inline MatrixXd symmetric(const MatrixXd& upper) { return upper.selfadjointView<Eigen::Upper>(); }

// The joint-space mass matrix M(q), full.
inline MatrixXd mass_matrix(const Model& model, Data& data, const VectorXd& q) {
  return symmetric(crba(model, data, q));
}

// The Jacobian of joint i in its own frame, by computeJointJacobian.
inline Matrix6X joint_jacobian(const Model& model, Data& data, const VectorXd& q, JointIndex i) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  computeJointJacobian(model, data, q, i, J);
  return J;
}

// Central difference of f(q ⊕ t·dir) at t = 0.
template <typename F>
auto derivative(const Model& model, const VectorXd& q, const VectorXd& dir, F&& f) {
  const double eps = kFdStep;
  return ((f(integrate(model, q, eps * dir)) - f(integrate(model, q, -eps * dir))) / (2 * eps)).eval();
}

}  // namespace lumo::test

// What every C++ test includes: the generator, the models, the tolerances and
// the comparisons.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <string>

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

::testing::AssertionResult near(const SE3& a, const SE3& b, double tol);
::testing::AssertionResult near(const Motion& a, const Motion& b, double tol);
::testing::AssertionResult near(const Force& a, const Force& b, double tol);

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

}  // namespace lumo::test

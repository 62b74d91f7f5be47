// Models, configurations and comparisons shared by the C++ tests.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <random>
#include <string>
#include <vector>

#include "algorithms/spatial/spatial.hpp"
#include "model/model.hpp"

namespace lumo::test {

constexpr double kPi = 3.14159265358979323846;

struct TreeOptions {
  bool chain = false;          // each joint the child of the one before it
  bool floating_base = false;  // joint 1 is a Floating joint under the root
  bool plain_origins = false;  // axes ±x, ±y, ±z and, for every other joint, an unrotated origin
  // Kinds cycled through (in a seeded shuffled order) for the other joints;
  // Fixed joints land between moving ones.
  std::vector<JointType> kinds{JointType::Revolute,  JointType::Continuous, JointType::Prismatic,
                               JointType::Planar,    JointType::Spherical,  JointType::Fixed,
                               JointType::Floating};
};

// A seeded random tree with `count` joints below the root (model.njoints ==
// count + 1). Parents are drawn among all earlier joints, so the index order
// is generally not depth-first; placements, axes (of random length) and body
// inertias (physically valid) are random. Same seed, same model.
Model random_tree(unsigned seed, std::size_t count, const TreeOptions& options = {});

// Valid configuration: angles in (−π, π], unit (cos, sin) pairs, unit quaternions.
Eigen::VectorXd random_configuration(const Model& model, std::mt19937& rng);
// Uniform in [−scale, scale] per element, nv elements.
Eigen::VectorXd random_velocity(const Model& model, std::mt19937& rng, double scale = 1.0);

Vector3 random_vector(std::mt19937& rng, double scale = 1.0);
Matrix3 random_rotation(std::mt19937& rng);
SE3 random_placement(std::mt19937& rng);
Motion random_motion(std::mt19937& rng);
Force random_force(std::mt19937& rng);
// Positive mass, positive-definite rotational inertia satisfying the triangle
// inequality, rotated by a random rotation.
BodyInertia random_inertia(std::mt19937& rng);

// Seven revolute joints in a chain (axes z, y, z, y, z, y, z), with offsets
// along z and a body on every link.
Model seven_dof_arm();

// Models for the identities of the velocity-level algorithms: three trees out
// of depth-first order with a floating base, fixed joints and every kind
// (seeds 1–3, 12 joints), a floating-base chain (seed 4, 8 joints), a tree
// with coordinate axes and unrotated origins (seed 5, 12 joints), and the
// sample humanoid when models/humanoid.urdf is there.
std::vector<Model> floating_identity_models();

// Two revolute joints about z in the x–y plane: joint 2 sits at (l1, 0, 0) of
// joint 1; body k has mass mk, centre of mass at (lck, 0, 0) and rotational
// inertia Izz = Ik about it (Ixx = Ik / 10, Iyy = Ik).
struct PlanarArm {
  double l1 = 1.0, lc1 = 0.5, lc2 = 0.5, m1 = 1.0, m2 = 1.0, I1 = 0.1, I2 = 0.1;
};
Model planar_two_link(const PlanarArm& arm = {});

// ------------------------------------------------------------ comparisons

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

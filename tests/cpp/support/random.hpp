// Seeded random trees and states: the one generator of the C++ tests, the
// benchmarks and the fuzzers. Same seed, same model and same states.
#pragma once

#include <Eigen/Core>
#include <random>
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

// Valid configuration: angles in (−π, π], unit (cos, sin) pairs, unit
// quaternions, positions in [−1, 1].
Eigen::VectorXd random_configuration(const Model& model, std::mt19937& rng);
// Uniform in [−scale, scale] per element, nv elements.
Eigen::VectorXd random_velocity(const Model& model, std::mt19937& rng, double scale = 1.0);

// External forces, 6×njoints: column i = [force; torque] on joint i's body
// about its origin, the body's inertia times a motion of entries uniform in
// [−scale, scale] (forces of the size of its weight for a scale near g, so
// that light bodies are not flung: q̈ stays of the order of scale);
// column 0 (the root's, never read) NaN, so that a reader of it shows.
Eigen::Matrix<double, 6, Eigen::Dynamic> random_external_forces(const Model& model, std::mt19937& rng,
                                                                double scale = 10.0);

Vector3 random_vector(std::mt19937& rng, double scale = 1.0);
Matrix3 random_rotation(std::mt19937& rng);
SE3 random_placement(std::mt19937& rng);
Motion random_motion(std::mt19937& rng);
Force random_force(std::mt19937& rng);
// Positive mass, positive-definite rotational inertia satisfying the triangle
// inequality, rotated by a random rotation.
BodyInertia random_inertia(std::mt19937& rng);

}  // namespace lumo::test

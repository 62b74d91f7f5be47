// Models built in code for the benchmarks.
#pragma once

#include <cmath>
#include <random>

#include "model/model.hpp"

namespace lumo::bench {

// A 7-joint arm, each joint about its local z and alternately tilted by ±90°
// about x, with a fixed flange; masses of a typical collaborative arm.
inline Model seven_joint_arm() {
  Model model;
  const double offsets[] = {0.333, 0.0, 0.316, 0.0825, 0.384, 0.0, 0.088};
  const double masses[] = {4.97, 0.65, 3.23, 3.59, 1.23, 1.67, 0.74};
  JointIndex parent = 0;
  for (int k = 0; k < 7; ++k) {
    SE3 placement;
    if (k > 0) placement.rotation = rotation_about_axis(Vector3::UnitX(), k % 2 ? -M_PI / 2 : M_PI / 2);
    placement.translation = Vector3(0.0, 0.0, offsets[k]);
    parent = model.add_joint(parent, JointModel::make(JointType::Revolute, Vector3::UnitZ()),
                             placement, "joint" + std::to_string(k + 1));
    BodyInertia body;
    body.mass = masses[k];
    body.lever = Vector3(0.01, -0.02, 0.05);
    body.inertia = {0.02, 0.001, 0.025, -0.002, 0.003, 0.015};
    model.set_inertia(parent, body);
  }
  SE3 flange;
  flange.translation = Vector3(0.0, 0.0, 0.107);
  model.add_joint(parent, JointModel::make(JointType::Fixed), flange, "flange");
  return model;
}

// A chain of n revolute joints with alternating axes.
inline Model revolute_chain(int n) {
  Model model;
  JointIndex parent = 0;
  for (int k = 0; k < n; ++k) {
    SE3 placement;
    placement.translation = Vector3(0.0, 0.0, 0.1);
    const Vector3 axis = k % 3 == 0 ? Vector3::UnitZ() : (k % 3 == 1 ? Vector3::UnitY() : Vector3::UnitX());
    parent = model.add_joint(parent, JointModel::make(JointType::Revolute, axis), placement,
                             "joint" + std::to_string(k + 1));
    BodyInertia body;
    body.mass = 1.0;
    body.lever = Vector3(0.0, 0.0, 0.05);
    body.inertia = {0.01, 0.0, 0.01, 0.0, 0.0, 0.005};
    model.set_inertia(parent, body);
  }
  return model;
}

inline Eigen::VectorXd random_vector(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Eigen::VectorXd x(static_cast<Eigen::Index>(n));
  for (auto& e : x) e = u(rng);
  return x;
}

}  // namespace lumo::bench

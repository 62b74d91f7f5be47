// Hand-built models and the named sets of models the C++ tests run their
// identities over: random trees, the sample models of models/ and, when
// ../shared/robots is there, the real robots.
#pragma once

#include <string>
#include <vector>

#include "model/model.hpp"
#include "support/random.hpp"

namespace lumo::test {

// Seven revolute joints in a chain (axes z, y, z, y, z, y, z), with offsets
// along z and a body on every link.
Model seven_dof_arm();

// Two revolute joints about z in the x–y plane: joint 2 sits at (l1, 0, 0) of
// joint 1; body k has mass mk, centre of mass at (lck, 0, 0) and rotational
// inertia Izz = Ik about it (Ixx = Ik / 10, Iyy = Ik).
struct PlanarArm {
  double l1 = 1.0, lc1 = 0.5, lc2 = 0.5, m1 = 1.0, m2 = 1.0, I1 = 0.1, I2 = 0.1;
};
Model planar_two_link(const PlanarArm& arm = {});

// Models for the identities of the velocity-level algorithms: three trees out
// of depth-first order with a floating base, fixed joints and every kind
// (seeds 1–3, 12 joints), a floating-base chain (seed 4, 8 joints), a tree
// with coordinate axes and unrotated origins (seed 5, 12 joints), and the
// sample humanoid when models/humanoid.urdf is there.
std::vector<Model> floating_identity_models();

// random_tree(6, 6) with a floating base and every inertia zero: no mass at all.
Model massless_tree();

struct NamedModel {
  std::string name;
  Model model;
  bool reported = false;  // largest errors printed (humanoid and real robots)
};

// Random chains, trees and floating-base trees of every kind (seeds 11–13),
// a tree of fixed joints only and the bare root: the identities of inverse
// dynamics, the mass matrix and the Jacobians.
std::vector<NamedModel> random_tree_cases();

// floating_identity_models(), a tree out of depth-first order, the seven-dof
// arm, fixed joints only, the bare root, models/arm7.urdf and
// models/all_joints.urdf, and the real robots (reported): the identities of
// forward dynamics, centre of mass, energies, frames and difference.
std::vector<NamedModel> robot_cases();

// `model` with a frame "extra" at a random placement (drawn first from rng)
// on its last joint, so that frame algorithms see a frame of their own.
Model with_extra_frame(Model model, std::mt19937& rng);

// The real robots of ../shared/robots among `files` that are present (reported).
std::vector<NamedModel> real_robots(const std::vector<std::string>& files = {
    "ur5.urdf", "iiwa14.urdf", "panda.urdf", "gen3_7dof.urdf", "go1.urdf", "h1.urdf", "icub.urdf",
    "fetch.urdf", "turtlebot3_waffle_pi.urdf"});

// Prints the largest error of a check on a reported model (the humanoid and
// the real robots), so that a run shows how far from its bound each is.
void report(const NamedModel& c, const char* what, double err);

}  // namespace lumo::test

// Models and random states shared by the benchmarks: the sample arm and
// humanoid read from models/*.urdf (code-built stand-ins when a file is
// missing) and generated revolute chains; the states come from the tests'
// generator (tests/cpp/support/random.hpp).
#pragma once

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "model/model.hpp"
#include "support/random.hpp"
#include "urdf_parser/builder.hpp"

#ifndef LUMO_SOURCE_DIR
#define LUMO_SOURCE_DIR "."
#endif

namespace lumo::bench {

inline std::string model_path(const std::string& file) {
  return std::string(LUMO_SOURCE_DIR) + "/models/" + file;
}

inline bool file_exists(const std::string& path) { return std::ifstream(path).good(); }

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

// A chain of n revolute joints with axes cycling z, y, x, each link offset
// 0.1 along z with a 1 kg body.
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

// The URDF text of revolute_chain(n) (benchmarks/time_python.py makes the
// same text), so the chains carry frames like the sample models.
inline std::string chain_urdf(int n) {
  const char* axes[] = {"0 0 1", "0 1 0", "1 0 0"};
  std::string links = "<link name=\"base\"/>", joints;
  for (int k = 0; k < n; ++k) {
    const std::string link = "l" + std::to_string(k);
    const std::string parent = k == 0 ? "base" : "l" + std::to_string(k - 1);
    links += "<link name=\"" + link +
             "\"><inertial><origin xyz=\"0 0 0.05\"/><mass value=\"1\"/>"
             "<inertia ixx=\"0.01\" ixy=\"0\" ixz=\"0\" iyy=\"0.01\" iyz=\"0\" izz=\"0.005\"/></inertial></link>";
    joints += "<joint name=\"joint" + std::to_string(k + 1) + "\" type=\"revolute\"><parent link=\"" + parent +
              "\"/><child link=\"" + link + "\"/><origin xyz=\"0 0 0.1\"/><axis xyz=\"" + axes[k % 3] +
              "\"/><limit lower=\"-3\" upper=\"3\" effort=\"1\" velocity=\"1\"/></joint>";
  }
  return "<robot name=\"chain" + std::to_string(n) + "\">" + links + joints + "</robot>";
}

// A floating base with four revolute limbs of `per_limb` joints (used only
// when models/humanoid.urdf is missing).
inline Model floating_humanoid(int per_limb = 7) {
  Model model;
  SE3 base_placement;
  const JointIndex base = model.add_joint(0, JointModel::make(JointType::Floating), base_placement, "root");
  BodyInertia trunk;
  trunk.mass = 20.0;
  trunk.inertia = {0.5, 0.0, 0.4, 0.0, 0.0, 0.3};
  model.set_inertia(base, trunk);
  for (int limb = 0; limb < 4; ++limb) {
    JointIndex parent = base;
    for (int k = 0; k < per_limb; ++k) {
      SE3 placement;
      placement.translation = k == 0 ? Vector3(limb < 2 ? 0.0 : 0.0, limb % 2 ? -0.15 : 0.15, limb < 2 ? 0.3 : -0.1)
                                     : Vector3(0.0, 0.0, -0.15);
      const Vector3 axis = k % 3 == 0 ? Vector3::UnitZ() : (k % 3 == 1 ? Vector3::UnitX() : Vector3::UnitY());
      parent = model.add_joint(parent, JointModel::make(JointType::Revolute, axis), placement,
                               "limb" + std::to_string(limb) + "_" + std::to_string(k));
      BodyInertia body;
      body.mass = 1.5;
      body.lever = Vector3(0.0, 0.0, -0.07);
      body.inertia = {0.01, 0.0, 0.01, 0.0, 0.0, 0.004};
      model.set_inertia(parent, body);
    }
  }
  return model;
}

// models/{file} when it exists, else the stand-in (with a note on stderr).
inline Model load_or(const std::string& file, Model (*fallback)()) {
  const std::string path = model_path(file);
  if (file_exists(path)) return parse_urdf_file(path);
  std::fprintf(stderr, "note: %s missing, using a code-built stand-in\n", path.c_str());
  return fallback();
}

inline Model arm7() { return load_or("arm7.urdf", seven_joint_arm); }
inline Model humanoid() { return load_or("humanoid.urdf", [] { return floating_humanoid(); }); }

// A pool of random states (q, v, a) cycled through by the timing loops, so
// that no call sees the state of the call before it.
struct States {
  std::vector<Eigen::VectorXd> q, v, a;
  std::size_t next = 0;

  States(const Model& model, std::size_t count = 64, unsigned seed = 1) {
    std::mt19937 rng(seed);
    for (std::size_t k = 0; k < count; ++k) {
      q.push_back(test::random_configuration(model, rng));
      v.push_back(test::random_velocity(model, rng));
      a.push_back(test::random_velocity(model, rng));
    }
  }
  std::size_t advance() {
    const std::size_t k = next;
    next = next + 1 == q.size() ? 0 : next + 1;
    return k;
  }
};

struct NamedModel {
  std::string name;
  Model model;
};

// The benchmark models: the sample arm and humanoid, and chains of 7, 50
// and 200 revolute joints (read from their URDF text, as from Python).
// The URDF at `path` with its floating joints made fixed, if the file exists.
inline bool fixed_base(const std::string& path, Model& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string floating = "type=\"floating\"";
  for (std::size_t at; (at = text.find(floating)) != std::string::npos;)
    text.replace(at, floating.size(), "type=\"fixed\"");
  out = parse_urdf_from_string(text);
  return true;
}

inline std::vector<NamedModel> all_models() {
  std::vector<NamedModel> out;
  out.push_back({"arm7", arm7()});
  out.push_back({"humanoid", humanoid()});
  // The fixed-base humanoid and, where ../shared/robots is present, the
  // Panda and the H1 (fixed): the models of benchmarks/python_peers.py.
  Model m;
  if (fixed_base(model_path("humanoid.urdf"), m)) out.push_back({"humanoid_fixed", std::move(m)});
  const std::string robots = std::string(LUMO_SOURCE_DIR) + "/../shared/robots/";
  if (fixed_base(robots + "panda.urdf", m)) out.push_back({"panda", std::move(m)});
  if (fixed_base(robots + "h1.urdf", m)) out.push_back({"h1_fixed", std::move(m)});
  for (int n : {7, 50, 200}) out.push_back({"chain" + std::to_string(n), parse_urdf_from_string(chain_urdf(n))});
  return out;
}

}  // namespace lumo::bench

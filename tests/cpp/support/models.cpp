#include "support/models.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "urdf_parser/builder.hpp"

namespace lumo::test {

std::vector<Model> floating_identity_models() {
  std::vector<Model> out;
  for (unsigned seed : {1u, 2u, 3u}) out.push_back(random_tree(seed, 12, {.floating_base = true}));
  out.push_back(random_tree(4, 8, {.chain = true, .floating_base = true}));
  out.push_back(random_tree(5, 12, {.floating_base = true, .plain_origins = true}));
  if (const std::string path = LUMO_SOURCE_DIR "/models/humanoid.urdf"; std::ifstream(path))
    out.push_back(parse_urdf_file(path));
  return out;
}

Model seven_dof_arm() {
  Model model;
  const Vector3 z(0, 0, 1), y(0, 1, 0);
  const double offsets[7] = {0.0, 0.33, 0.0, 0.32, 0.0, 0.4, 0.0};
  for (std::size_t k = 0; k < 7; ++k) {
    SE3 placement;
    placement.translation = Vector3(0.0, 0.0, offsets[k]);
    const JointIndex id = model.add_joint(k, JointModel::make(JointType::Revolute, k % 2 ? y : z),
                                          placement, "arm_joint_" + std::to_string(k + 1));
    BodyInertia Y;
    Y.mass = 4.0 - 0.4 * static_cast<double>(k);
    Y.lever = Vector3(0.01 * static_cast<double>(k), -0.02, 0.12);
    Y.inertia = {0.05, 0.001, 0.04, -0.002, 0.003, 0.02};
    model.set_inertia(id, Y);
  }
  return model;
}

Model planar_two_link(const PlanarArm& arm) {
  Model model;
  const JointModel joint = JointModel::make(JointType::Revolute, Vector3(0, 0, 1));
  SE3 elbow;
  elbow.translation = Vector3(arm.l1, 0.0, 0.0);
  const JointIndex j1 = model.add_joint(0, joint, SE3::Identity(), "shoulder");
  const JointIndex j2 = model.add_joint(j1, joint, elbow, "elbow");
  auto body = [](double m, double lc, double I) {
    BodyInertia Y;
    Y.mass = m;
    Y.lever = Vector3(lc, 0.0, 0.0);
    Y.inertia = {I / 10.0, 0.0, I, 0.0, 0.0, I};
    return Y;
  };
  model.set_inertia(j1, body(arm.m1, arm.lc1, arm.I1));
  model.set_inertia(j2, body(arm.m2, arm.lc2, arm.I2));
  return model;
}

Model massless_tree() {
  Model model = random_tree(6, 6, {.floating_base = true});
  for (JointIndex i = 0; i < model.njoints; ++i) model.set_inertia(i, BodyInertia::Zero());
  return model;
}

std::vector<NamedModel> random_tree_cases() {
  std::vector<NamedModel> out;
  for (unsigned seed : {11u, 12u, 13u}) {
    const std::string s = std::to_string(seed);
    out.push_back({"chain " + s, random_tree(seed, 9, {.chain = true})});
    out.push_back({"tree " + s, random_tree(seed, 10)});
    out.push_back({"floating " + s, random_tree(seed, 8, {.floating_base = true})});
  }
  out.push_back({"fixed only", random_tree(5, 4, {.kinds = {JointType::Fixed}})});
  out.push_back({"root only", Model()});
  return out;
}

std::vector<NamedModel> robot_cases() {
  std::vector<NamedModel> out;
  int k = 0;
  for (Model& m : floating_identity_models()) {
    const bool humanoid = m.name == "humanoid" || m.njoints > 20;
    out.push_back({humanoid ? "humanoid.urdf" : "floating tree " + std::to_string(++k), std::move(m), humanoid});
  }
  out.push_back({"tree out of depth-first order", random_tree(13, 10), false});
  out.push_back({"seven dof arm", seven_dof_arm(), false});
  out.push_back({"fixed only", random_tree(5, 4, {.kinds = {JointType::Fixed}}), false});
  out.push_back({"root only", Model(), false});
  const std::filesystem::path source = LUMO_SOURCE_DIR;
  for (const char* file : {"arm7.urdf", "all_joints.urdf"})
    if (std::filesystem::exists(source / "models" / file))
      out.push_back({file, parse_urdf_file((source / "models" / file).string()), false});
  for (NamedModel& robot : real_robots()) out.push_back(std::move(robot));
  return out;
}

std::vector<NamedModel> real_robots(const std::vector<std::string>& files) {
  std::vector<NamedModel> out;
  const std::filesystem::path robots = std::filesystem::path(LUMO_SOURCE_DIR) / ".." / "shared" / "robots";
  for (const std::string& file : files)
    if (std::filesystem::exists(robots / file))
      out.push_back({file, parse_urdf_file((robots / file).string()), true});
  return out;
}

void report(const NamedModel& c, const char* what, double err) {
  if (c.reported) std::printf("[ largest ] %-26s %-28s %.2e\n", c.name.c_str(), what, err);
}

Model with_extra_frame(Model model, std::mt19937& rng) {
  model.add_frame({"extra", model.njoints - 1, random_placement(rng), OP_FRAME});
  return model;
}

}  // namespace lumo::test

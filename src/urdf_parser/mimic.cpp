#include "mimic.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "algorithms/errors/errors.hpp"
#include "builder.hpp"

namespace lumo {
namespace {

// Why joint `j` (named `name`) cannot take part in a coupling, or "" when it can.
std::string unfit_kind(const Model& model, JointIndex j, std::string_view name) {
  const JointType type = model.joints[j].type;
  if (type == JointType::Revolute || type == JointType::Prismatic) return "";
  return cat("'", name, "' is ", joint_type_name(type),
             type == JointType::Continuous ? " (its coordinate is a (cos, sin) pair)" : "",
             "; a coupling joins revolute and prismatic joints only");
}

}  // namespace

MimicCouplings mimic_couplings(const Model& model, const urdf::Robot& robot) {
  MimicCouplings out;
  const auto has_mimic = [](const urdf::Joint& joint) { return joint.mimic.has_value(); };
  if (std::none_of(robot.joints.begin(), robot.joints.end(), has_mimic)) return out;
  // The model's joints by name, the first of a name as get_joint_id finds it.
  std::unordered_map<std::string_view, JointIndex> by_name;
  by_name.reserve(model.names.size());
  for (JointIndex i = 0; i < model.names.size(); ++i) by_name.try_emplace(model.names[i], i);
  const auto find = [&](std::string_view name) -> std::optional<JointIndex> {
    const auto it = by_name.find(name);
    if (it == by_name.end()) return std::nullopt;
    return it->second;
  };

  for (const urdf::Joint& joint : robot.joints) {
    if (!joint.mimic) continue;
    const urdf::Mimic& mimic = *joint.mimic;
    const auto reject = [&](const std::string& why) {
      out.warnings.push_back(cat("joint '", joint.name, "'", joint.line ? cat(" at line ", joint.line) : "",
                                 ": its <mimic> of '", mimic.joint, "' is not a coupling: ", why));
    };
    if (mimic.joint == joint.name) {
      reject("a joint cannot mimic itself");
      continue;
    }
    const std::optional<JointIndex> follower = find(joint.name), leader = find(mimic.joint);
    if (!follower) {
      reject(cat("'", joint.name, "' is not a joint of the model"));
      continue;
    }
    if (!leader) {
      reject(cat("'", mimic.joint, "' is not a joint of the model"));
      continue;
    }
    std::string why = unfit_kind(model, *follower, joint.name);
    if (why.empty()) why = unfit_kind(model, *leader, mimic.joint);
    if (why.empty() && !(std::isfinite(mimic.multiplier) && std::isfinite(mimic.offset)))
      why = cat("multiplier and offset must be finite, got (", mimic.multiplier, ", ", mimic.offset, ")");
    if (!why.empty()) {
      reject(why);
      continue;
    }
    // q_joint = multiplier·q_leader + offset
    out.couplings.push_back(make_joint_coupling(model, *follower, *leader, mimic.multiplier, mimic.offset));
  }
  return out;
}

MimicCouplings couplings_from_urdf_string(const Model& model, std::string_view urdf) {
  return mimic_couplings(model, read_robot_from_string(urdf));
}

MimicCouplings couplings_from_urdf_file(const Model& model, const std::string& filename) {
  return mimic_couplings(model, read_robot_file(filename));
}

}  // namespace lumo

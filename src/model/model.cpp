#include "model.hpp"

#include <limits>

#include "../algorithms/errors/errors.hpp"

namespace lumo {

Model::Model()
    : names{"universe"},
      parents{0},
      joints{JointModel::make(JointType::Fixed)},
      jointPlacements{SE3::Identity()},
      inertias{BodyInertia::Zero()},
      idx_q{0},
      nq_joint{0},
      idx_v{0},
      nv_joint{0},
      placement_unrotated{1},
      children{{}},
      frames{Frame{"universe", 0, SE3::Identity(), FIXED_JOINT}} {
  gravity.linear = Vector3(0.0, 0.0, -9.81);
}

JointIndex Model::add_joint(JointIndex parent, const JointModel& joint, const SE3& placement,
                            std::string joint_name) {
  if (parent >= njoints) {
    throw ValueError(cat("Parent joint ", parent, " out of range (njoints = ", njoints, ")"));
  }
  if (joint_uses_axis(joint.type)) {
    if (!joint.axis.allFinite()) throw ValueError("Joint axis must be finite");
    if (joint.axis.isZero(0.0)) throw ValueError("Joint axis must be non-zero");
  }
  const JointIndex i = njoints;
  joints.push_back(joint);
  jointPlacements.push_back(placement);
  placement_unrotated.push_back(is_identity_rotation(placement.rotation) ? 1 : 0);
  inertias.push_back(BodyInertia::Zero());
  names.push_back(std::move(joint_name));
  parents.push_back(parent);
  idx_q.push_back(nq);
  idx_v.push_back(nv);
  nq_joint.push_back(joint.nq);
  nv_joint.push_back(joint.nv);
  nq += joint.nq;
  nv += joint.nv;
  children.emplace_back();
  children[parent].push_back(i);
  ++njoints;
  ++nbodies;
  return i;
}

void Model::set_joint_placement(JointIndex joint, const SE3& placement) {
  if (joint >= jointPlacements.size()) return;
  jointPlacements[joint] = placement;
  placement_unrotated[joint] = is_identity_rotation(placement.rotation) ? 1 : 0;
}

void Model::set_inertia(JointIndex joint, const BodyInertia& inertia) {
  if (joint < inertias.size()) inertias[joint] = inertia;
}

void Model::set_position_limits(JointIndex joint, const std::vector<double>& lower,
                                const std::vector<double>& upper) {
  if (joint >= njoints) return;
  const std::size_t k = idx_v[joint], n = nv_joint[joint];
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (lowerPositionLimit.size() < k + n) lowerPositionLimit.resize(k + n, -inf);
  if (upperPositionLimit.size() < k + n) upperPositionLimit.resize(k + n, inf);
  for (std::size_t m = 0; m < n; ++m) {
    if (m < lower.size()) lowerPositionLimit[k + m] = lower[m];
    if (m < upper.size()) upperPositionLimit[k + m] = upper[m];
  }
}

FrameIndex Model::add_frame(Frame frame) {
  frames.push_back(std::move(frame));
  return nframes++;
}

std::optional<JointIndex> Model::get_joint_id(std::string_view joint_name) const {
  for (JointIndex i = 0; i < names.size(); ++i)
    if (names[i] == joint_name) return i;
  return std::nullopt;
}

std::optional<FrameIndex> Model::getFrameId(std::string_view frame_name) const {
  for (FrameIndex i = 0; i < frames.size(); ++i)
    if (frames[i].name == frame_name) return i;
  return std::nullopt;
}

std::vector<JointIndex> Model::supports(JointIndex i) const {
  std::vector<JointIndex> path;
  if (i >= njoints) return path;
  for (JointIndex a = i; a != 0; a = parents[a]) path.push_back(a);
  path.push_back(0);
  return {path.rbegin(), path.rend()};
}

std::vector<JointIndex> Model::subtrees(JointIndex i) const {
  std::vector<JointIndex> out;
  if (i >= njoints) return out;
  if (i == 0) {
    for (JointIndex k = 1; k < njoints; ++k) out.push_back(k);
    return out;
  }
  // Parents precede children, so one forward sweep marks the whole subtree.
  std::vector<char> inside(njoints, 0);
  inside[i] = 1;
  out.push_back(i);
  for (JointIndex k = i + 1; k < njoints; ++k) {
    if (inside[parents[k]]) {
      inside[k] = 1;
      out.push_back(k);
    }
  }
  return out;
}

JointType joint_type_from_text(std::string_view text) {
  if (text == "fixed") return JointType::Fixed;
  if (text == "revolute") return JointType::Revolute;
  if (text == "prismatic") return JointType::Prismatic;
  if (text == "floating") return JointType::Floating;
  throw ValueError(cat("Unknown joint type: ", text));
}

std::string frame_type_text(std::uint32_t type) {
  static constexpr struct {
    std::uint32_t bit;
    const char* name;
  } flags[] = {{OP_FRAME, "OP_FRAME"}, {JOINT, "JOINT"}, {FIXED_JOINT, "FIXED_JOINT"},
               {BODY, "BODY"}, {SENSOR, "SENSOR"}};
  if (type == 0) return "FrameType(0x0)";
  std::string out = "FrameType(";
  bool first = true;
  std::uint32_t known = 0;
  for (const auto& f : flags) {
    known |= f.bit;
    if (type & f.bit) {
      if (!first) out += " | ";
      out += f.name;
      first = false;
    }
  }
  if (const std::uint32_t rest = type & ~known) {
    if (!first) out += " | ";
    std::ostringstream hex;
    hex << "0x" << std::hex << rest;
    out += hex.str();
  }
  return out + ")";
}

std::string model_report(const Model& m) {
  std::ostringstream out;
  out << "========== Model Information ==========\n"
      << "Model name: " << m.name << "\n"
      << "Number of joints: " << m.njoints << "\n"
      << "Number of frames: " << m.nframes << "\n"
      << "Number of bodies: " << m.nbodies << "\n"
      << "Number of DOF (nq): " << m.nq << "\n"
      << "Number of velocity DOF (nv): " << m.nv << "\n"
      << "\n========== Joint Information ==========\n";
  for (std::size_t i = 0; i < m.names.size(); ++i)
    out << "Joint " << i << ": " << m.names[i] << " (parent: " << m.parents[i] << ")\n";
  out << "\n========== Frame Information ==========\n";
  for (std::size_t i = 0; i < m.frames.size(); ++i) {
    const Frame& f = m.frames[i];
    out << "Frame " << i << ": " << f.name << " (type: " << frame_type_text(f.type)
        << ", parent: " << f.parent << ")\n";
  }
  out << std::string(39, '=') << "\n";
  return out.str();
}

}  // namespace lumo

// The kinematic tree of a robot: joints with their parents, kinds, placements
// and body inertias, named frames, position limits and gravity. A Model is
// pure description: algorithms read it and never write it.
//
// Invariants kept by add_joint: joint 0 is the fixed root "universe";
// parents[i] < i for i ≥ 1, so index order visits parents before children;
// every per-joint list has njoints entries; idx_q/idx_v are running sums of
// nq_joint/nv_joint in index order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../algorithms/joints/joints.hpp"
#include "../algorithms/spatial/spatial.hpp"

namespace lumo {

using JointIndex = std::size_t;
using FrameIndex = std::size_t;

// Frame kinds, as bit flags.
enum FrameType : std::uint32_t {
  OP_FRAME = 0x1,
  JOINT = 0x2,
  FIXED_JOINT = 0x4,
  BODY = 0x8,
  SENSOR = 0x10,
};

// "FrameType(JOINT | BODY)", unknown bits as hex, 0 as "FrameType(0x0)".
std::string frame_type_text(std::uint32_t type);

struct Frame {
  std::string name;
  JointIndex parent = 0;
  SE3 placement;  // in the parent joint's frame
  std::uint32_t type = OP_FRAME;
};

class Model {
 public:
  Model();

  std::string name;
  std::size_t njoints = 1;
  std::size_t nbodies = 1;
  std::size_t nframes = 1;
  std::size_t nq = 0;
  std::size_t nv = 0;

  std::vector<std::string> names;
  std::vector<JointIndex> parents;
  std::vector<JointModel> joints;
  std::vector<SE3> jointPlacements;     // joint i in its parent's frame, before its own motion
  std::vector<BodyInertia> inertias;    // body of joint i, in joint i's frame
  std::vector<std::size_t> idx_q, nq_joint, idx_v, nv_joint;
  // 1 where jointPlacements[i] has exactly the identity rotation, set with
  // the placement (add_joint): the passes then turn the parent's rotation
  // about the joint's axis without a product by the placement's. Replace a
  // placement with set_joint_placement, which keeps the two together; a
  // direct write to jointPlacements[i] leaves this entry stale.
  std::vector<std::uint8_t> placement_unrotated;
  std::vector<std::vector<JointIndex>> children;  // direct children, in creation order
  std::vector<double> lowerPositionLimit;         // indexed by velocity index
  std::vector<double> upperPositionLimit;
  std::vector<Frame> frames;
  Motion gravity;  // stored angular part first; default linear (0, 0, −9.81)

  // Appends a joint under `parent` and returns its index. Throws ValueError
  // when the parent does not exist, or when a revolute, continuous,
  // prismatic or planar joint has a zero or non-finite axis ("Joint axis
  // must be non-zero", "Joint axis must be finite"); the model is then
  // unchanged.
  JointIndex add_joint(JointIndex parent, const JointModel& joint, const SE3& placement,
                       std::string joint_name);

  // Replaces the placement of `joint` in its parent (ignored when out of range).
  void set_joint_placement(JointIndex joint, const SE3& placement);

  // Replaces the inertia of the body carried by `joint` (ignored when out of range).
  void set_inertia(JointIndex joint, const BodyInertia& inertia);

  // Writes lower[m]/upper[m] at idx_v[joint] + m for the joint's velocity
  // coordinates, growing the limit lists with ∓infinity as needed.
  void set_position_limits(JointIndex joint, const std::vector<double>& lower,
                           const std::vector<double>& upper);

  FrameIndex add_frame(Frame frame);

  // First joint (frame) whose name equals `name`, or nothing.
  std::optional<JointIndex> get_joint_id(std::string_view joint_name) const;
  std::optional<FrameIndex> getFrameId(std::string_view frame_name) const;

  // The path 0, …, parent, i (derived from parents).
  std::vector<JointIndex> supports(JointIndex i) const;
  // i followed by every descendant in index order; for 0 every joint but 0.
  std::vector<JointIndex> subtrees(JointIndex i) const;

  // Gravity as the interface sees it: linear (3), angular (3), both (6).
  Vector3 gravity_linear() const { return gravity.linear; }
  Vector3 gravity_angular() const { return gravity.angular; }
  void set_gravity(const Vector3& linear) { gravity.linear = linear; }
  void set_gravity_angular(const Vector3& angular) { gravity.angular = angular; }

  void set_name(std::string new_name) { name = std::move(new_name); }
};

// The kind named by an add_joint type text: "fixed", "revolute",
// "prismatic" or "floating". Throws ValueError "Unknown joint type: {text}".
JointType joint_type_from_text(std::string_view text);

// The model report, line by line.
std::string model_report(const Model& model);

}  // namespace lumo

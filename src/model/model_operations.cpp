#include "model_operations.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>

#include "../algorithms/errors/errors.hpp"

namespace lumo {
namespace {

// True for an inertia with no mass and no rotational inertia: merging it
// would change nothing but the last bits of the host's centre of mass.
bool is_empty(const BodyInertia& Y) {
  if (Y.mass != 0.0) return false;
  for (const double I : Y.inertia)
    if (I != 0.0) return false;
  return true;
}

// Y_host ← Y_host + hostMb · Y_b.
void merge_body(BodyInertia& host, const SE3& hostMb, const BodyInertia& Yb) {
  if (!is_empty(Yb)) composite_merge(host, inertia_transform(hostMb, Yb));
}

// Scales x[0 .. n) to unit length; false for a zero vector.
template <int n>
bool normalise(double* x) {
  double s = 0.0;
  for (int k = 0; k < n; ++k) s += x[k] * x[k];
  if (!(s > 0.0)) return false;
  const double r = std::sqrt(s);
  for (int k = 0; k < n; ++k) x[k] /= r;
  return true;
}

// The motion of locked joint i at its slice of q_reference, with the slice's
// quaternion or (cos, sin) pair normalised first.
SE3 locked_motion(const Model& model, JointIndex i, const Eigen::Ref<const Eigen::VectorXd>& q_reference) {
  const JointModel& joint = model.joints[i];
  std::array<double, 7> x{};
  for (std::size_t k = 0; k < model.nq_joint[i]; ++k) {
    x[k] = q_reference[static_cast<Eigen::Index>(model.idx_q[i] + k)];
    if (!std::isfinite(x[k]))
      throw ValueError(cat("q_reference: the configuration of joint '", model.names[i], "' (", i,
                           ") is not finite"));
  }
  bool unit = true;
  switch (joint.type) {
    case JointType::Continuous: unit = normalise<2>(x.data()); break;
    case JointType::Planar: unit = normalise<2>(x.data() + 2); break;
    case JointType::Floating: unit = normalise<4>(x.data() + 3); break;
    case JointType::Spherical: unit = normalise<4>(x.data()); break;
    default: break;
  }
  if (!unit)
    throw ValueError(cat("q_reference: the ",
                         joint.type == JointType::Continuous || joint.type == JointType::Planar ? "(cos, sin) pair"
                                                                                                 : "quaternion",
                         " of joint '", model.names[i], "' (", i, ") is zero"));
  return joint_transform(joint, x.data());
}

// The entries of `limits` at the velocity slice of joint i (those the list
// holds: a list may stop short of nv), appended to `out`.
void append_limits(const Model& model, JointIndex i, const std::vector<double>& limits,
                   std::vector<double>& out) {
  for (std::size_t k = model.idx_v[i]; k < model.idx_v[i] + model.nv_joint[i] && k < limits.size(); ++k)
    out.push_back(limits[k]);
}

}  // namespace

void check_joints_to_lock(const Model& model, const std::vector<JointIndex>& ids, std::string_view name) {
  std::vector<char> seen(model.njoints, 0);
  for (const JointIndex i : ids) {
    if (i >= model.njoints) throw ValueError(cat(name, " ", i, " >= njoints ", model.njoints));
    if (i == 0) throw ValueError(cat(name, ": joint 0 is the universe, which cannot be locked"));
    if (seen[i]) throw ValueError(cat(name, ": joint ", i, " is given twice"));
    seen[i] = 1;
  }
}

Model buildReducedModel(const Model& model, const std::vector<JointIndex>& joints_to_lock,
                        const Eigen::Ref<const Eigen::VectorXd>& q_reference) {
  check_joints_to_lock(model, joints_to_lock);
  if (static_cast<std::size_t>(q_reference.size()) != model.nq)
    throw ValueError(cat("q_reference length ", q_reference.size(), " != nq ", model.nq));
  std::vector<char> locked(model.njoints, 0);
  for (const JointIndex i : joints_to_lock) locked[i] = 1;

  // Each joint of the full model lands in a joint of the reduced one, its
  // host: itself when kept, its nearest kept ancestor when locked; hostMi
  // is joint i's frame in its host's (the identity for a kept joint).
  // Parents come first, so one forward sweep finds every host.
  std::vector<JointIndex> host(model.njoints, 0);
  std::vector<SE3> hostMi(model.njoints, SE3::Identity());
  Model reduced;
  reduced.name = model.name;
  reduced.gravity = model.gravity;
  reduced.inertias[0] = model.inertias[0];
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointIndex p = model.parents[i];
    // parent placement · own placement; a kept parent's frame is its host's
    const SE3 hostMplacement =
        locked[p] ? compose(hostMi[p], model.jointPlacements[i]) : model.jointPlacements[i];
    host[i] = host[p];
    if (locked[i]) {
      hostMi[i] = compose(hostMplacement, locked_motion(model, i, q_reference));
      continue;
    }
    host[i] = reduced.add_joint(host[p], model.joints[i], hostMplacement, model.names[i]);
    reduced.inertias[host[i]] = model.inertias[i];
    append_limits(model, i, model.lowerPositionLimit, reduced.lowerPositionLimit);
    append_limits(model, i, model.upperPositionLimit, reduced.upperPositionLimit);
  }

  // The bodies of the locked joints, in index order, into their hosts'.
  for (JointIndex i = 1; i < model.njoints; ++i)
    if (locked[i]) merge_body(reduced.inertias[host[i]], hostMi[i], model.inertias[i]);

  // Frames keep their order and names; frame 0 (the universe) is already there.
  for (FrameIndex k = 1; k < model.nframes; ++k) {
    Frame frame = model.frames[k];
    const JointIndex j = frame.parent;
    frame.parent = host[j];
    if (locked[j]) {
      frame.placement = compose(hostMi[j], frame.placement);
      if (frame.type & JOINT) frame.type = (frame.type & ~static_cast<std::uint32_t>(JOINT)) | FIXED_JOINT;
    }
    reduced.add_frame(std::move(frame));
  }
  return reduced;
}

Model appendModel(const Model& model, const Model& other, FrameIndex frame_id, const SE3& placement,
                  std::string_view prefix) {
  if (frame_id >= model.nframes)
    throw ValueError(cat("Frame ID ", frame_id, " out of range (max: ",
                         static_cast<long long>(model.nframes) - 1, ")"));
  const auto prefixed = [&](const std::string& name) { return std::string(prefix) + name; };
  {
    const std::unordered_set<std::string_view> joints(model.names.begin(), model.names.end());
    for (JointIndex i = 1; i < other.njoints; ++i)
      if (const std::string name = prefixed(other.names[i]); joints.count(name))
        throw ValueError(cat("appendModel: joint name '", name, "' is already in the model"));
    std::unordered_set<std::string_view> frames;
    for (const Frame& f : model.frames) frames.insert(f.name);
    for (FrameIndex k = 1; k < other.nframes; ++k)
      if (const std::string name = prefixed(other.frames[k].name); frames.count(name))
        throw ValueError(cat("appendModel: frame name '", name, "' is already in the model"));
  }

  // other's universe lands in the frame's parent joint, at frame · placement.
  const Frame& frame = model.frames[frame_id];
  const JointIndex root = frame.parent;
  const SE3 rootMother = compose(frame.placement, placement);

  Model out = model;
  merge_body(out.inertias[root], rootMother, other.inertias[0]);
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (!other.lowerPositionLimit.empty()) out.lowerPositionLimit.resize(model.nv, -inf);
  if (!other.upperPositionLimit.empty()) out.upperPositionLimit.resize(model.nv, inf);

  std::vector<JointIndex> index(other.njoints, root);  // other's joint i is out's index[i]
  for (JointIndex i = 1; i < other.njoints; ++i) {
    const JointIndex p = other.parents[i];
    const SE3 P = p == 0 ? compose(rootMother, other.jointPlacements[i]) : other.jointPlacements[i];
    index[i] = out.add_joint(index[p], other.joints[i], P, prefixed(other.names[i]));
    out.inertias[index[i]] = other.inertias[i];
  }
  out.lowerPositionLimit.insert(out.lowerPositionLimit.end(), other.lowerPositionLimit.begin(),
                                other.lowerPositionLimit.end());
  out.upperPositionLimit.insert(out.upperPositionLimit.end(), other.upperPositionLimit.begin(),
                                other.upperPositionLimit.end());

  for (FrameIndex k = 1; k < other.nframes; ++k) {
    Frame f = other.frames[k];
    f.name = prefixed(f.name);
    if (f.parent == 0) f.placement = compose(rootMother, f.placement);
    f.parent = index[f.parent];
    out.add_frame(std::move(f));
  }
  return out;
}

}  // namespace lumo

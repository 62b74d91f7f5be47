#include "builder.hpp"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "algorithms/errors/errors.hpp"
#include "mimic.hpp"

namespace lumo {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The link graph by name, built once so that every lookup is constant time
// and keeps "first in document order" semantics.
class LinkGraph {
 public:
  explicit LinkGraph(const urdf::Robot& robot) : robot_(robot) {
    const auto& links = robot.links;
    const auto& joints = robot.joints;
    link_by_name_.reserve(links.size());
    for (std::size_t k = 0; k < links.size(); ++k) link_by_name_.try_emplace(links[k].name, k);
    // Lists threaded through `next_*_`, built backwards so that each lists
    // its joints in document order.
    first_by_parent_.reserve(joints.size());
    first_by_child_.reserve(joints.size());
    next_by_parent_.assign(joints.size(), kNone);
    next_by_child_.assign(joints.size(), kNone);
    for (std::size_t j = joints.size(); j-- > 0;) {
      auto [p, p_new] = first_by_parent_.try_emplace(joints[j].parent, j);
      if (!p_new) next_by_parent_[j] = std::exchange(p->second, j);
      auto [c, c_new] = first_by_child_.try_emplace(joints[j].child, j);
      if (!c_new) next_by_child_[j] = std::exchange(c->second, j);
    }
  }

  std::size_t link(std::string_view name) const { return find(link_by_name_, name); }
  std::size_t first_joint_with_parent(std::string_view link) const {
    return find(first_by_parent_, link);
  }
  std::size_t next_joint_with_parent(std::size_t joint) const { return next_by_parent_[joint]; }
  std::size_t first_joint_with_child(std::string_view link) const {
    return find(first_by_child_, link);
  }
  std::size_t next_joint_with_child(std::size_t joint) const { return next_by_child_[joint]; }

  // First link, in document order, that is no joint's child.
  std::size_t root() const {
    for (std::size_t k = 0; k < robot_.links.size(); ++k)
      if (first_joint_with_child(robot_.links[k].name) == kNone) return k;
    return kNone;
  }

  // The error for a link reached from the root that is the child of more
  // than one joint: a cycle when the link is its own ancestor.
  UrdfError not_a_tree(std::string_view link) const;

 private:
  using Index = std::unordered_map<std::string_view, std::size_t>;
  static std::size_t find(const Index& index, std::string_view key) {
    const auto it = index.find(key);
    return it == index.end() ? kNone : it->second;
  }

  const urdf::Robot& robot_;
  Index link_by_name_;
  Index first_by_parent_, first_by_child_;
  std::vector<std::size_t> next_by_parent_, next_by_child_;
};

UrdfError LinkGraph::not_a_tree(std::string_view link) const {
  const auto& joints = robot_.joints;
  // Walk up from each parent through first parent joints; coming back to
  // `link` closes a cycle. Each walk is deterministic, so a link seen by an
  // earlier walk leads nowhere new: all walks together visit each link once.
  std::unordered_set<std::string_view> seen;
  for (std::size_t j = first_joint_with_child(link); j != kNone; j = next_joint_with_child(j)) {
    std::vector<std::string_view> up{link};
    for (std::string_view at = joints[j].parent;;) {
      up.push_back(at);
      if (at == link) {
        std::string path;
        for (auto it = up.rbegin(); it != up.rend(); ++it) path += cat(it == up.rbegin() ? "" : " -> ", "'", *it, "'");
        return UrdfError(cat("Cycle in the link graph: ", path));
      }
      const std::size_t above = first_joint_with_child(at);
      if (above == kNone || !seen.insert(at).second) break;
      at = joints[above].parent;
    }
  }
  std::string names;
  std::size_t count = 0;
  for (std::size_t j = first_joint_with_child(link); j != kNone; j = next_joint_with_child(j), ++count)
    if (count < 3) names += cat(count ? ", '" : "'", joints[j].name, "'");
  if (count > 3) names += cat(" and ", count - 3, " more");
  return UrdfError(cat("Link '", link, "' is the child of more than one joint: ", names));
}

// "link 'base' at line 3" (the line left out when unknown).
std::string element(const char* kind, std::string_view name, std::size_t line) {
  return line ? cat(kind, " '", name, "' at line ", line) : cat(kind, " '", name, "'");
}

// A note when the rotational inertia of a massive link is not positive
// semi-definite beyond rounding: smallest eigenvalue below −1e-9 times the
// largest magnitude.
void check_inertia(const urdf::Link& link, std::vector<std::string>& notes) {
  if (link.inertial.mass == 0.0) return;
  const urdf::Inertia& i = link.inertial.inertia;
  Matrix3 I;
  I << i.ixx, i.ixy, i.ixz, i.ixy, i.iyy, i.iyz, i.ixz, i.iyz, i.izz;
  // Ascending eigenvalues: the diagonal of a diagonal tensor, else from the
  // iterative solver (the closed form's rounding, some 1e-9 of the largest,
  // would flag exact zeros).
  Vector3 lambda(i.ixx, i.iyy, i.izz);
  if (i.ixy == 0.0 && i.ixz == 0.0 && i.iyz == 0.0) {
    std::sort(lambda.begin(), lambda.end());
  } else {
    lambda = Eigen::SelfAdjointEigenSolver<Matrix3>(I, Eigen::EigenvaluesOnly).eigenvalues();
  }
  if (lambda[0] < -1e-9 * lambda.cwiseAbs().maxCoeff())
    notes.push_back(cat(element("link", link.name, link.line),
                        ": inertia tensor is not positive semi-definite (eigenvalues ", lambda[0],
                        ", ", lambda[1], ", ", lambda[2], "); kept as given"));
}

// A note for each moving joint whose subtree has no mass (links without
// <inertial>, or of mass 0, whose tensor is then dropped): its row of the
// mass matrix is zero, and forward dynamics divides by it.
void describe_massless_subtrees(const urdf::Robot& robot, const Model& model,
                                const std::vector<std::size_t>& source, std::vector<std::string>& notes) {
  std::vector<double> subtree_mass(model.njoints, 0.0);
  for (JointIndex i = model.njoints - 1; i > 0; --i) {  // backward pass: children before parents
    subtree_mass[i] += model.inertias[i].mass;
    subtree_mass[model.parents[i]] += subtree_mass[i];
  }
  for (JointIndex i = 1; i < model.njoints; ++i)
    if (model.nv_joint[i] > 0 && subtree_mass[i] == 0.0) {
      const urdf::Joint& joint = robot.joints[source[i]];
      notes.push_back(cat(element("joint", joint.name, joint.line),
                          ": moves no mass (no link of its subtree has any), so forward dynamics "
                          "(aba, computeMinverse) is undefined for this model"));
    }
}

// What the build left out or found twice, in document order: links, then joints.
void describe_leftovers(const urdf::Robot& robot, const LinkGraph& graph, std::size_t root,
                        const std::vector<char>& reached, const std::vector<char>& used,
                        std::vector<std::string>& notes) {
  const auto& links = robot.links;
  const auto& joints = robot.joints;
  const std::string root_name = cat("'", links[root].name, "'");
  for (std::size_t k = 0; k < links.size(); ++k) {
    if (reached[k]) continue;
    const std::string what = element("link", links[k].name, links[k].line);
    if (const std::size_t first = graph.link(links[k].name); first != k)
      notes.push_back(cat(what, " is ignored: it repeats the name of the ",
                          element("link", links[first].name, links[first].line)));
    else if (graph.first_joint_with_child(links[k].name) == kNone)
      notes.push_back(cat(what, " is a second root link: it and its subtree are ignored"));
    else
      notes.push_back(cat(what, " is ignored: it is not reachable from the root link ", root_name));
  }
  std::unordered_map<std::string_view, std::size_t> first_named;
  for (std::size_t j = 0; j < joints.size(); ++j) {
    const urdf::Joint& joint = joints[j];
    const std::string what = element("joint", joint.name, joint.line);
    if (!used[j]) {
      if (graph.link(joint.child) == kNone)
        notes.push_back(cat(what, " is ignored: its child link '", joint.child, "' does not exist"));
      else if (graph.link(joint.parent) == kNone)
        notes.push_back(cat(what, " is ignored: its parent link '", joint.parent, "' does not exist"));
      else
        notes.push_back(cat(what, " is ignored: its parent link '", joint.parent,
                            "' is not reachable from the root link ", root_name));
      continue;
    }
    const auto [it, is_new] = first_named.try_emplace(joint.name, j);
    if (!is_new)
      notes.push_back(cat(what, " repeats the name of the ",
                          element("joint", joint.name, joints[it->second].line),
                          "; a lookup by name finds the first"));
  }
}

}  // namespace

BodyInertia link_inertia(const urdf::Inertial& inertial) {
  BodyInertia Y;
  if (inertial.mass == 0.0) return Y;
  Y.mass = inertial.mass;
  Y.lever = inertial.origin.xyz;
  const Vector3& rpy = inertial.origin.rpy;
  const Matrix3 R = rotation_from_rpy(rpy.x(), rpy.y(), rpy.z());
  const urdf::Inertia& i = inertial.inertia;
  Matrix3 I;
  I << i.ixx, i.ixy, i.ixz,  //
      i.ixy, i.iyy, i.iyz,   //
      i.ixz, i.iyz, i.izz;
  set_inertia_tensor(Y, R * I * R.transpose());
  return Y;
}

Model build_model(const urdf::Robot& robot, std::vector<std::string>* warnings) {
  const LinkGraph graph(robot);
  const std::size_t root = graph.root();
  if (root == kNone) throw UrdfError("No root link found in URDF");

  Model model;
  model.name = robot.name;
  model.set_inertia(0, link_inertia(robot.links[root].inertial));
  model.add_frame(Frame{robot.links[root].name, 0, SE3::Identity(), BODY});

  // Depth-first pre-order with an explicit stack (a 100 000-link chain is
  // as deep as it is long): a link's children are pushed in reverse joint
  // document order so that they are added in document order.
  struct Pending {
    std::size_t link;
    JointIndex parent;
  };
  std::vector<Pending> stack;
  const auto push_children = [&](std::string_view link, JointIndex parent) {
    const std::size_t first = stack.size();
    for (std::size_t j = graph.first_joint_with_parent(link); j != kNone;
         j = graph.next_joint_with_parent(j))
      if (const std::size_t child = graph.link(robot.joints[j].child); child != kNone)
        stack.push_back({child, parent});  // a joint whose child link is missing is skipped
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
  };

  std::vector<std::string> notes;
  std::vector<char> reached(robot.links.size(), 0), used(robot.joints.size(), 0);
  std::vector<std::size_t> source{kNone};  // the URDF joint of each model joint
  reached[root] = 1;
  check_inertia(robot.links[root], notes);
  push_children(robot.links[root].name, 0);
  while (!stack.empty()) {
    const auto [k, parent] = stack.back();
    stack.pop_back();
    const urdf::Link& link = robot.links[k];
    const std::size_t j = graph.first_joint_with_child(link.name);
    if (j == kNone) throw UrdfError(cat("No joint found for link: ", link.name));
    // A second joint onto this link would add its subtree twice, or
    // forever around a cycle.
    if (graph.next_joint_with_child(j) != kNone) throw graph.not_a_tree(link.name);
    const urdf::Joint& joint = robot.joints[j];
    reached[k] = 1;
    used[j] = 1;

    const Vector3& rpy = joint.origin.rpy;
    const SE3 placement{rotation_from_rpy(rpy.x(), rpy.y(), rpy.z()), joint.origin.xyz};
    JointIndex i;
    try {
      i = model.add_joint(parent, JointModel::make(joint.joint_type, joint.axis.xyz), placement,
                          joint.name);
    } catch (const ValueError& e) {  // a zero axis
      throw UrdfError(cat(element("joint", joint.name, joint.line), ": ", e.what()));
    }
    check_inertia(link, notes);
    if (joint.joint_type != JointType::Fixed) {
      const std::size_t n = model.nv_joint[i];
      model.set_position_limits(i, std::vector<double>(n, joint.limit.lower),
                                std::vector<double>(n, joint.limit.upper));
    }
    model.set_inertia(i, link_inertia(link.inertial));
    source.push_back(j);
    model.add_frame(Frame{joint.name, i, SE3::Identity(), JOINT});
    model.add_frame(Frame{link.name, i, SE3::Identity(), BODY});
    push_children(link.name, i);
  }
  if (warnings != nullptr) {
    describe_massless_subtrees(robot, model, source, notes);
    describe_leftovers(robot, graph, root, reached, used, notes);
    const std::vector<std::string> mimics = mimic_couplings(model, robot).warnings;
    notes.insert(notes.end(), mimics.begin(), mimics.end());
    warnings->insert(warnings->end(), notes.begin(), notes.end());
  }
  return model;
}

urdf::Robot read_robot_file(const std::string& filename, const urdf::ChunkHook& between_chunks) {
  try {
    return urdf::read_urdf_file(filename, between_chunks);
  } catch (const UrdfError&) {
    throw UrdfError(cat("Failed to parse URDF file: ", filename), std::current_exception());
  }
}

urdf::Robot read_robot_from_string(std::string_view urdf_string) {
  try {
    return urdf::read_urdf(urdf_string);
  } catch (const UrdfError&) {
    throw UrdfError("Failed to parse URDF from string", std::current_exception());
  }
}

Model parse_urdf_file(const std::string& filename, std::vector<std::string>* warnings,
                      const urdf::ChunkHook& between_chunks) {
  return build_model(read_robot_file(filename, between_chunks), warnings);
}

Model parse_urdf_from_string(std::string_view urdf_string, std::vector<std::string>* warnings) {
  return build_model(read_robot_from_string(urdf_string), warnings);
}

}  // namespace lumo

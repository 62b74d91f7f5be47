// Tests of src/urdf_parser/builder.cpp: parsed robot to Model, and the two
// entry points parse_urdf_file / parse_urdf_from_string.
#include "urdf_parser/builder.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Eigenvalues>

#include "algorithms/kinematics.hpp"
#include "data/data.hpp"
#include "test_models.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using test::kPi;

const fs::path kSource = LUMO_SOURCE_DIR;
const fs::path kRobots = kSource / ".." / "shared" / "robots";

Names frame_names(const Model& m) {
  Names out;
  for (const Frame& f : m.frames) out.push_back(f.name);
  return out;
}

std::string build_error(std::string_view text) {
  return test::error_message<UrdfError>([&] { parse_urdf_from_string(text); });
}

// Message of the cause attached to the UrdfError thrown by call().
template <typename F>
std::pair<std::string, std::string> message_and_cause(F&& call) {
  try {
    call();
  } catch (const UrdfError& e) {
    if (!e.cause()) return {e.what(), "no cause"};
    try {
      std::rethrow_exception(e.cause());
    } catch (const UrdfError& cause) {
      return {e.what(), cause.what()};
    }
  }
  return {"no exception", ""};
}

// URDF text from link and joint lines.
std::string robot(const std::string& body, const std::string& name = "r") {
  return "<robot name=\"" + name + "\">\n" + body + "</robot>\n";
}
std::string link(const std::string& name) { return "<link name=\"" + name + "\"/>\n"; }
std::string joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& child, const std::string& extra = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent +
         "\"/><child link=\"" + child + "\"/>" + extra + "</joint>\n";
}

Matrix3 rpy_rotation(double roll, double pitch, double yaw) {
  return (Eigen::AngleAxisd(yaw, Vector3::UnitZ()) * Eigen::AngleAxisd(pitch, Vector3::UnitY()) *
          Eigen::AngleAxisd(roll, Vector3::UnitX()))
      .toRotationMatrix();
}

// ---------------------------------------------------------- tree and frames

TEST(UrdfBuilder, SingleLinkRobot) {
  const Model m = parse_urdf_from_string(robot(
      "<link name=\"base\"><inertial><origin xyz=\"0 0 0.1\"/><mass value=\"3\"/>"
      "<inertia ixx=\"0.1\" ixy=\"0\" ixz=\"0\" iyy=\"0.2\" iyz=\"0\" izz=\"0.3\"/></inertial></link>\n",
      "lonely"));
  EXPECT_EQ(m.name, "lonely");
  EXPECT_EQ(m.njoints, 1u);
  EXPECT_EQ(m.nq, 0u);
  EXPECT_EQ(m.nv, 0u);
  EXPECT_EQ(m.nframes, 2u);
  EXPECT_EQ(m.names, Names{"universe"});
  EXPECT_EQ(frame_names(m), (Names{"universe", "base"}));
  EXPECT_EQ(m.frames[1].type, BODY);
  EXPECT_EQ(m.frames[1].parent, 0u);
  EXPECT_EQ(m.inertias[0].mass, 3.0);
  EXPECT_EQ(m.inertias[0].lever, Vector3(0, 0, 0.1));
  EXPECT_TRUE(m.lowerPositionLimit.empty());
}

TEST(UrdfBuilder, FixedThenRevoluteChain) {
  const Model m = parse_urdf_from_string(
      robot(link("b") + link("a") + link("base") + joint("rev", "revolute", "a", "b") +
            joint("fix", "fixed", "base", "a")));
  EXPECT_EQ(m.names, (Names{"universe", "fix", "rev"}));
  EXPECT_EQ(m.parents, (std::vector<JointIndex>{0, 0, 1}));
  EXPECT_EQ(m.joints[1].type, JointType::Fixed);
  EXPECT_EQ(m.joints[2].type, JointType::Revolute);
  EXPECT_EQ(m.nq, 1u);
  EXPECT_EQ(frame_names(m), (Names{"universe", "base", "fix", "a", "rev", "b"}));
  const std::uint32_t types[] = {FIXED_JOINT, BODY, JOINT, BODY, JOINT, BODY};
  const JointIndex parents[] = {0, 0, 1, 1, 2, 2};
  for (std::size_t f = 0; f < m.frames.size(); ++f) {
    EXPECT_EQ(m.frames[f].type, types[f]) << f;
    EXPECT_EQ(m.frames[f].parent, parents[f]) << f;
    EXPECT_TRUE(test::near(m.frames[f].placement, SE3::Identity(), 0.0));
  }
}

// Depth-first pre-order from the root, children in joint document order,
// whatever the order of the links and of the joints in the text.
TEST(UrdfBuilder, DepthFirstPreOrderInJointDocumentOrder) {
  //        root
  //     ┌───┼────┐            joint document order: j_c, j_a, j_c2, j_a1, j_b, j_a2
  //     c   a    b
  //     │  ┌┴─┐
  //    c2 a1  a2
  const std::string text = robot(
      link("a2") + link("c") + joint("j_c", "fixed", "root", "c") + link("root") +
      joint("j_a", "revolute", "root", "a") + joint("j_c2", "prismatic", "c", "c2") + link("a") +
      joint("j_a1", "fixed", "a", "a1") + link("b") + joint("j_b", "continuous", "root", "b") +
      joint("j_a2", "revolute", "a", "a2") + link("c2") + link("a1"));
  const Model m = parse_urdf_from_string(text);
  EXPECT_EQ(m.names, (Names{"universe", "j_c", "j_c2", "j_a", "j_a1", "j_a2", "j_b"}));
  EXPECT_EQ(m.parents, (std::vector<JointIndex>{0, 0, 1, 0, 3, 3, 0}));
  EXPECT_EQ(frame_names(m), (Names{"universe", "root", "j_c", "c", "j_c2", "c2", "j_a", "a",
                                   "j_a1", "a1", "j_a2", "a2", "j_b", "b"}));
  EXPECT_EQ(m.nq, 1u + 1 + 1 + 2);
  EXPECT_EQ(m.nv, 4u);
}

TEST(UrdfBuilder, RootChoiceAndIgnoredParts) {
  // Two root candidates: the first listed wins, the other subtree is dropped;
  // a joint whose child link is missing is skipped; a joint whose parent is
  // not reached is ignored.
  const Model m = parse_urdf_from_string(robot(
      link("first") + link("second") + link("x") + link("y") + link("z") +
      joint("to_ghost", "revolute", "first", "ghost") + joint("j_x", "revolute", "first", "x") +
      joint("j_y", "revolute", "second", "y") + joint("j_z", "revolute", "nowhere", "z")));
  EXPECT_EQ(m.names, (Names{"universe", "j_x"}));
  EXPECT_EQ(frame_names(m), (Names{"universe", "first", "j_x", "x"}));
}

// Duplicate link names resolve to the first link, and a link may share its
// name with its joint (two frames of one name, the JOINT frame first).
TEST(UrdfBuilder, DuplicateNames) {
  const std::string inertial =
      "<inertial><mass value=\"2\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" "
      "izz=\"1\"/></inertial>";
  const Model m = parse_urdf_from_string(
      robot(link("base") + "<link name=\"arm\">" + inertial + "</link>\n" + link("arm") +
            joint("arm", "revolute", "base", "arm")));
  EXPECT_EQ(m.inertias[1].mass, 2.0);
  EXPECT_EQ(frame_names(m), (Names{"universe", "base", "arm", "arm"}));
  EXPECT_EQ(m.getFrameId("arm"), 2u);
  EXPECT_EQ(m.frames[2].type, JOINT);
}

// ------------------------------------------------------------ joint records

TEST(UrdfBuilder, JointConversionTable) {
  const std::string limit = "<limit lower=\"-0.5\" upper=\"1.5\"/><axis xyz=\"0 0 2\"/>";
  const Model m = parse_urdf_from_string(robot(
      link("base") + link("l1") + link("l2") + link("l3") + link("l4") + link("l5") + link("l6") +
      link("l7") + joint("revolute", "revolute", "base", "l1", limit) +
      joint("continuous", "continuous", "base", "l2", limit) +
      joint("prismatic", "prismatic", "base", "l3", limit) +
      joint("fixed", "fixed", "base", "l4", limit) +
      joint("floating", "floating", "base", "l5", limit) +
      joint("planar", "planar", "base", "l6", limit) +
      joint("spherical", "spherical", "base", "l7", limit)));
  struct Row {
    JointType type;
    std::size_t nq, nv;
    Vector3 axis;
  };
  const Vector3 urdf_axis(0, 0, 2), none = Vector3::Zero();
  const Row rows[] = {{JointType::Revolute, 1, 1, urdf_axis},  {JointType::Continuous, 2, 1, urdf_axis},
                      {JointType::Prismatic, 1, 1, urdf_axis}, {JointType::Fixed, 0, 0, none},
                      {JointType::Floating, 7, 6, none},       {JointType::Planar, 4, 3, urdf_axis},
                      {JointType::Spherical, 4, 3, none}};
  ASSERT_EQ(m.njoints, 8u);
  std::size_t nq = 0, nv = 0;
  for (std::size_t k = 0; k < 7; ++k) {
    const JointModel& j = m.joints[k + 1];
    EXPECT_EQ(j.type, rows[k].type) << k;
    EXPECT_EQ(m.names[k + 1], joint_type_name(rows[k].type));
    EXPECT_EQ(j.nq, rows[k].nq) << k;
    EXPECT_EQ(j.nv, rows[k].nv) << k;
    EXPECT_EQ(j.axis, rows[k].axis) << k;
    EXPECT_EQ(m.idx_q[k + 1], nq);
    EXPECT_EQ(m.idx_v[k + 1], nv);
    nq += rows[k].nq;
    nv += rows[k].nv;
  }
  EXPECT_EQ(m.nq, nq);
  EXPECT_EQ(m.nv, nv);
  // Every velocity coordinate of a moving joint carries the joint's limits;
  // fixed joints write none.
  EXPECT_EQ(m.lowerPositionLimit, std::vector<double>(nv, -0.5));
  EXPECT_EQ(m.upperPositionLimit, std::vector<double>(nv, 1.5));
}

TEST(UrdfBuilder, PlacementsFollowRollPitchYawAndForwardKinematics) {
  // Two revolute joints about z, 1 m apart along x, under a base turned and
  // lifted by a fixed joint: the tip traces l1 cos q1 + l2 cos(q1 + q2), …
  const double roll = 0.3, pitch = -0.7, yaw = 1.9;
  const std::string origin = "<origin xyz=\"0.5 -1 2\" rpy=\"0.3 -0.7 1.9\"/>";
  const Model m = parse_urdf_from_string(robot(
      link("world") + link("base") + link("upper") + link("lower") + link("tip") +
      joint("mount", "fixed", "world", "base", origin) +
      joint("shoulder", "revolute", "base", "upper", "<axis xyz=\"0 0 1\"/>") +
      joint("elbow", "revolute", "upper", "lower", "<origin xyz=\"1 0 0\"/><axis xyz=\"0 0 1\"/>") +
      joint("flange", "fixed", "lower", "tip", "<origin xyz=\"0.8 0 0\"/>")));
  EXPECT_TRUE(test::near(m.jointPlacements[1].rotation, rpy_rotation(roll, pitch, yaw), 1e-15));
  EXPECT_EQ(m.jointPlacements[1].translation, Vector3(0.5, -1, 2));

  Data data(m);
  const double q1 = 0.4, q2 = -1.1;
  Eigen::VectorXd q(2);
  q << q1, q2;
  forwardKinematics(m, data, q);
  const Vector3 in_base(std::cos(q1) + 0.8 * std::cos(q1 + q2), std::sin(q1) + 0.8 * std::sin(q1 + q2), 0);
  const Vector3 expected = rpy_rotation(roll, pitch, yaw) * in_base + Vector3(0.5, -1, 2);
  EXPECT_TRUE(test::near(data.oMi[4].translation, expected, 1e-12));
}

// --------------------------------------------------------------- inertias

TEST(UrdfBuilder, InertiaConversion) {
  urdf::Inertial in;
  in.mass = 2.0;
  in.origin.xyz = Vector3(0.1, 0.2, 0.3);
  in.origin.rpy = Vector3(0, 0, kPi / 2);
  in.inertia = {1, 0, 0, 2, 0, 3};
  BodyInertia Y = link_inertia(in);
  EXPECT_EQ(Y.mass, 2.0);
  EXPECT_EQ(Y.lever, Vector3(0.1, 0.2, 0.3));
  const std::array<double, 6> swapped{2, 0, 1, 0, 0, 3};  // x and y exchanged by the quarter turn
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(Y.inertia[k], swapped[k], 1e-15) << k;

  // Any orientation: R I Rᵀ, with R from Eigen's own axis-angle products.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    const Vector3 rpy = test::random_vector(rng, kPi);
    in.origin.rpy = rpy;
    in.inertia = {0.3, 0.01, -0.02, 0.4, 0.03, 0.5};
    Matrix3 I;
    I << 0.3, 0.01, -0.02, 0.01, 0.4, 0.03, -0.02, 0.03, 0.5;
    const Matrix3 R = rpy_rotation(rpy.x(), rpy.y(), rpy.z());
    EXPECT_TRUE(test::near(inertia_tensor(link_inertia(in)), R * I * R.transpose(), 1e-14));
  }

  // Mass exactly 0 gives a zero inertia, whatever the tensor; NaN does not.
  in.mass = 0.0;
  Y = link_inertia(in);
  EXPECT_EQ(Y.mass, 0.0);
  EXPECT_EQ(Y.lever, Vector3::Zero());
  EXPECT_EQ(Y.inertia, (std::array<double, 6>{}));
  in.mass = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(link_inertia(in).mass));
  EXPECT_EQ(link_inertia(in).lever, Vector3(0.1, 0.2, 0.3));
}

// ---------------------------------------------------------------- failures

TEST(UrdfBuilder, FailureMessagesAndCauses) {
  EXPECT_EQ(build_error(robot("")), "No root link found in URDF");
  EXPECT_EQ(build_error(robot(link("a") + link("b") + joint("ab", "fixed", "a", "b") +
                              joint("ba", "fixed", "b", "a"))),
            "No root link found in URDF");
  // A parent link that is not defined is no root candidate.
  EXPECT_EQ(build_error(robot(link("a") + joint("wa", "fixed", "world", "a"))),
            "No root link found in URDF");

  const auto [text_message, text_cause] = message_and_cause([] {
    parse_urdf_from_string(robot(link("a") + link("b") + joint("j", "Revolute", "a", "b")));
  });
  EXPECT_EQ(text_message, "Failed to parse URDF from string");
  EXPECT_EQ(text_cause, "joint 'j' at line 4: unknown joint type 'Revolute'");

  const std::string missing = (kSource / "models" / "no_such_robot.urdf").string();
  const auto [file_message, file_cause] = message_and_cause([&] { parse_urdf_file(missing); });
  EXPECT_EQ(file_message, "Failed to parse URDF file: " + missing);
  EXPECT_EQ(file_cause, "cannot read file '" + missing + "': No such file or directory");
  EXPECT_EQ(message_and_cause([] { parse_urdf_file(kSource.string()); }).first,
            "Failed to parse URDF file: " + kSource.string());

  // Build failures keep their own message, from either entry.
  EXPECT_EQ(message_and_cause([] { parse_urdf_from_string(robot("")); }),
            (std::pair<std::string, std::string>{"No root link found in URDF", "no cause"}));
}

// A link graph that is not a tree where it is reached from the root fails
// instead of adding a subtree twice or looping.
TEST(UrdfBuilder, CyclesAndSharedChildren) {
  EXPECT_EQ(build_error(robot(link("root") + link("a") + link("b") + link("c") +
                              joint("ra", "fixed", "root", "a") + joint("ab", "fixed", "a", "b") +
                              joint("bc", "fixed", "b", "c") + joint("ca", "fixed", "c", "a"))),
            "Cycle in the link graph: 'a' -> 'b' -> 'c' -> 'a'");
  EXPECT_EQ(build_error(robot(link("root") + link("a") + joint("ra", "fixed", "root", "a") +
                              joint("aa", "revolute", "a", "a"))),
            "Cycle in the link graph: 'a' -> 'a'");
  EXPECT_EQ(build_error(robot(link("root") + link("a") + link("b") + link("shared") +
                              joint("ra", "fixed", "root", "a") + joint("rb", "fixed", "root", "b") +
                              joint("as", "fixed", "a", "shared") + joint("bs", "fixed", "b", "shared"))),
            "Link 'shared' is the child of more than one joint: 'as', 'bs'");
  std::string many = link("root") + link("s");
  for (int k = 0; k < 5; ++k) many += joint("j" + std::to_string(k), "fixed", "root", "s");
  EXPECT_EQ(build_error(robot(many)),
            "Link 's' is the child of more than one joint: 'j0', 'j1', 'j2' and 2 more");
  // A cycle away from the root is never reached and is ignored.
  const Model m = parse_urdf_from_string(robot(link("root") + link("a") + link("b") +
                                               joint("ab", "fixed", "a", "b") +
                                               joint("ba", "fixed", "b", "a")));
  EXPECT_EQ(m.njoints, 1u);
}

// A chain as deep as it is long: no recursion on the stack, lookups by name
// in constant time, memory linear in the number of links.
TEST(UrdfBuilder, HundredThousandLinkChain) {
  constexpr int n = 100000;
  std::ostringstream text;
  text << "<robot name=\"chain\">\n<link name=\"l0\"/>\n";
  // Joints before their links, and in reverse order, so that no lookup is
  // helped by document order.
  for (int k = n; k >= 1; --k)
    text << "<joint name=\"j" << k << "\" type=\"revolute\"><parent link=\"l" << k - 1
         << "\"/><child link=\"l" << k << "\"/><origin xyz=\"0 0 0.01\"/><axis xyz=\"0 0 1\"/>"
         << "<limit lower=\"-1\" upper=\"1\"/></joint>\n";
  for (int k = 1; k <= n; ++k)
    text << "<link name=\"l" << k << "\"><inertial><mass value=\"1\"/><inertia ixx=\"1\" ixy=\"0\" "
         << "ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"1\"/></inertial></link>\n";
  text << "</robot>\n";
  const std::string urdf = text.str();

  const auto start = std::chrono::steady_clock::now();
  const Model m = parse_urdf_from_string(urdf);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  RecordProperty("import_seconds", std::to_string(seconds));
  RecordProperty("max_rss_mib", std::to_string(usage.ru_maxrss / 1024));
  std::cout << "100000-link chain (" << urdf.size() / (1 << 20) << " MiB of text): " << seconds
            << " s, peak RSS " << usage.ru_maxrss / 1024 << " MiB\n";

  ASSERT_EQ(m.njoints, n + 1u);
  EXPECT_EQ(m.nq, static_cast<std::size_t>(n));
  EXPECT_EQ(m.nframes, 2u + 2u * n);
  for (JointIndex i = 1; i <= n; ++i) ASSERT_EQ(m.parents[i], i - 1);
  EXPECT_EQ(m.names[n], "j" + std::to_string(n));
  EXPECT_EQ(m.frames.back().name, "l" + std::to_string(n));
  EXPECT_LT(seconds, 20.0);                        // seconds in practice, even in debug builds
  EXPECT_LT(usage.ru_maxrss, 1024L * 1024);        // KiB: well under 1 GiB
}

// ------------------------------------------------------------ sample models

// Principal moments of a body inertia: positive and obeying the triangle
// inequality, as for any real body.
::testing::AssertionResult physical(const BodyInertia& Y) {
  if (!(Y.mass > 0)) return ::testing::AssertionFailure() << "mass " << Y.mass;
  const Eigen::SelfAdjointEigenSolver<Matrix3> eig(inertia_tensor(Y));
  const Vector3 d = eig.eigenvalues();
  if (!(d.minCoeff() > 0)) return ::testing::AssertionFailure() << "moments " << d.transpose();
  if (d[0] + d[1] < d[2] || d[1] + d[2] < d[0] || d[0] + d[2] < d[1])
    return ::testing::AssertionFailure() << "triangle inequality fails: " << d.transpose();
  return ::testing::AssertionSuccess();
}

TEST(UrdfBuilder, SampleModels) {
  struct Expected {
    const char* file;
    std::size_t njoints, nq, nv, nframes;
    double mass;
  };
  for (const Expected& e : {Expected{"arm7.urdf", 9, 7, 7, 18, 22.0},
                            Expected{"humanoid.urdf", 39, 38, 37, 78, 69.3},
                            Expected{"all_joints.urdf", 8, 19, 15, 16, 6.3}}) {
    SCOPED_TRACE(e.file);
    const Model m = parse_urdf_file((kSource / "models" / e.file).string());
    EXPECT_EQ(m.njoints, e.njoints);
    EXPECT_EQ(m.nq, e.nq);
    EXPECT_EQ(m.nv, e.nv);
    EXPECT_EQ(m.nframes, e.nframes);
    double mass = 0;
    for (JointIndex i = 0; i < m.njoints; ++i) {
      mass += m.inertias[i].mass;
      if (m.inertias[i].mass != 0.0) EXPECT_TRUE(physical(m.inertias[i])) << m.names[i];
      // Massless bodies are frames only: fixed joints, and the humanoid's world.
      if (m.inertias[i].mass == 0.0 && i > 0) EXPECT_EQ(m.joints[i].type, JointType::Fixed) << m.names[i];
    }
    EXPECT_NEAR(mass, e.mass, 1e-9);
    for (std::size_t k = 0; k < m.lowerPositionLimit.size(); ++k)
      EXPECT_LE(m.lowerPositionLimit[k], m.upperPositionLimit[k]);
  }

  const Model arm = parse_urdf_file((kSource / "models" / "arm7.urdf").string());
  EXPECT_EQ(arm.names.back(), "flange");
  EXPECT_EQ(arm.joints.back().type, JointType::Fixed);
  EXPECT_EQ(arm.frames.back().name, "tool0");

  const Model humanoid = parse_urdf_file((kSource / "models" / "humanoid.urdf").string());
  EXPECT_EQ(humanoid.frames[1].name, "world");
  EXPECT_EQ(humanoid.inertias[0].mass, 0.0);
  EXPECT_EQ(humanoid.joints[1].type, JointType::Floating);
  EXPECT_EQ(humanoid.frames[3].name, "pelvis");
  std::size_t revolute = 0, fixed = 0;
  for (const JointModel& j : humanoid.joints) {
    revolute += j.type == JointType::Revolute;
    fixed += j.type == JointType::Fixed;
  }
  EXPECT_EQ(revolute, 31u);
  EXPECT_EQ(fixed, 1u + 6u);  // universe, soles, hands, IMU, camera
  for (const char* frame : {"left_sole", "right_sole", "left_hand", "right_hand", "imu_link", "camera_link"})
    EXPECT_TRUE(humanoid.getFrameId(frame).has_value()) << frame;

  const Model all = parse_urdf_file((kSource / "models" / "all_joints.urdf").string());
  std::vector<int> seen(7, 0);
  for (const JointModel& j : all.joints) ++seen[static_cast<int>(j.type)];
  for (int kind = 0; kind < 7; ++kind) EXPECT_GE(seen[kind], 1) << joint_type_name(JointType(kind));
}

// ------------------------------------------------------------- real robots

class UrdfRealRobots : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kRobots)) GTEST_SKIP() << kRobots << " not present";
  }
  static std::string path(const std::string& file) { return (kRobots / file).string(); }
};

TEST_F(UrdfRealRobots, CountsOfEveryRobot) {
  struct Expected {
    const char* file;
    const char* root;
    std::size_t njoints, nq, nv, nframes;
  };
  const Expected robots[] = {
      {"ur5.urdf", "world", 11, 6, 6, 22},
      {"iiwa14.urdf", "base", 11, 7, 7, 22},
      {"panda.urdf", "panda_link0", 13, 9, 9, 26},
      {"gen3_7dof.urdf", "base_link", 9, 11, 7, 18},
      {"go1.urdf", "base", 46, 12, 12, 92},
      {"h1.urdf", "pelvis", 25, 19, 19, 50},
      {"icub.urdf", "root_link", 214, 32, 32, 428},
      {"fetch.urdf", "base_link", 26, 20, 15, 52},
      {"turtlebot3_waffle_pi.urdf", "base_footprint", 11, 4, 2, 22},
  };
  std::size_t files = 0;
  for (const Expected& e : robots) {
    SCOPED_TRACE(e.file);
    const Model m = parse_urdf_file(path(e.file));
    EXPECT_EQ(m.njoints, e.njoints);
    EXPECT_EQ(m.nq, e.nq);
    EXPECT_EQ(m.nv, e.nv);
    EXPECT_EQ(m.nframes, e.nframes);
    EXPECT_EQ(m.frames[1].name, e.root);
    EXPECT_EQ(m.lowerPositionLimit.size(), m.nv);
    for (JointIndex i = 1; i < m.njoints; ++i) EXPECT_LT(m.parents[i], i);
    ++files;
  }
  std::size_t on_disk = 0;
  for (const auto& entry : fs::directory_iterator(kRobots)) on_disk += entry.path().extension() == ".urdf";
  EXPECT_EQ(files, on_disk) << "a robot in " << kRobots << " is not covered here";
}

TEST_F(UrdfRealRobots, DetailsThatTripReaders) {
  // panda: two massless links with a non-zero tensor; a 3.8223 upper limit.
  const Model panda = parse_urdf_file(path("panda.urdf"));
  for (const char* frame : {"panda_link8", "panda_grasptarget"}) {
    const FrameIndex f = *panda.getFrameId(frame);
    EXPECT_EQ(panda.inertias[panda.frames[f].parent].mass, 0.0) << frame;
    EXPECT_EQ(panda.inertias[panda.frames[f].parent].inertia, (std::array<double, 6>{})) << frame;
  }
  const JointIndex joint6 = *panda.get_joint_id("panda_joint6");
  EXPECT_EQ(panda.upperPositionLimit[panda.idx_v[joint6]], 3.8223);
  EXPECT_EQ(panda.joints[*panda.get_joint_id("panda_finger_joint2")].axis, Vector3(0, -1, 0));

  // gen3: continuous joints with <limit> lacking lower/upper get 0 and 0;
  // upper-case exponents.
  const Model gen3 = parse_urdf_file(path("gen3_7dof.urdf"));
  const JointIndex j1 = *gen3.get_joint_id("joint_1");
  EXPECT_EQ(gen3.joints[j1].type, JointType::Continuous);
  EXPECT_EQ(gen3.lowerPositionLimit[gen3.idx_v[j1]], 0.0);
  EXPECT_EQ(gen3.upperPositionLimit[gen3.idx_v[j1]], 0.0);

  // icub: inertial rpy rotates the tensor; the unrotated diagonal's trace is
  // kept while off-diagonal terms appear.
  const Model icub = parse_urdf_file(path("icub.urdf"));
  const BodyInertia& root = icub.inertias[0];
  EXPECT_GT(root.mass, 0.0);
  const Matrix3 I = inertia_tensor(root);
  EXPECT_TRUE(test::near(I, I.transpose(), 0.0));
  // iCub's oblique arm axes stay as written.
  bool oblique = false;
  for (const JointModel& j : icub.joints)
    oblique |= j.type == JointType::Revolute && std::abs(j.axis.x()) > 0.9 && std::abs(j.axis.z()) > 0.2;
  EXPECT_TRUE(oblique);

  // turtlebot: wheels without <limit> have limits 0 and 0.
  const Model turtle = parse_urdf_file(path("turtlebot3_waffle_pi.urdf"));
  EXPECT_EQ(turtle.lowerPositionLimit, std::vector<double>(2, 0.0));
  EXPECT_EQ(turtle.upperPositionLimit, std::vector<double>(2, 0.0));
  // ur5: ±2π limits.
  const Model ur5 = parse_urdf_file(path("ur5.urdf"));
  EXPECT_EQ(ur5.upperPositionLimit, std::vector<double>(6, 6.2831853));
}

TEST_F(UrdfRealRobots, Quirks) {
  // pr2: its world joint's parent link is not defined, so every link is a child.
  EXPECT_EQ(message_and_cause([&] { parse_urdf_file(path("quirks/pr2_simplified.urdf")); }),
            (std::pair<std::string, std::string>{"No root link found in URDF", "no cause"}));

  // husky: an unexpanded $(optenv …) where numbers belong.
  const auto [husky, husky_cause] =
      message_and_cause([&] { parse_urdf_file(path("quirks/husky.urdf")); });
  EXPECT_EQ(husky, "Failed to parse URDF file: " + path("quirks/husky.urdf"));
  EXPECT_NE(husky_cause.find("joint 'imu_joint'"), std::string::npos) << husky_cause;
  EXPECT_NE(husky_cause.find("unparsable number '$(optenv'"), std::string::npos) << husky_cause;

  // deepmimic: the trailing NUL ends the text; eight spherical joints, each
  // named like its child link.
  const Model deepmimic = parse_urdf_file(path("quirks/deepmimic_humanoid.urdf"));
  EXPECT_EQ(deepmimic.njoints, 16u);
  EXPECT_EQ(deepmimic.nq, 36u);
  EXPECT_EQ(deepmimic.nv, 28u);
  EXPECT_EQ(deepmimic.nframes, 32u);
  EXPECT_EQ(deepmimic.name, "dumpUrdf");
  std::size_t spherical = 0;
  for (const JointModel& j : deepmimic.joints) spherical += j.type == JointType::Spherical;
  EXPECT_EQ(spherical, 8u);
  for (std::size_t f = 2; f < deepmimic.frames.size(); f += 2)
    EXPECT_EQ(deepmimic.frames[f].name, deepmimic.frames[f + 1].name);
}

}  // namespace
}  // namespace lumo

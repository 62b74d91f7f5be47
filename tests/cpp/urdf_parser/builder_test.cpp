// Tests of src/urdf_parser/builder.cpp: parsed robot to Model, and the entry
// points parse_urdf_file / parse_urdf_from_string.
#include "urdf_parser/builder.hpp"

#include <sys/resource.h>

#include <Eigen/Eigenvalues>
#include <ctime>
#include <cmath>
#include <functional>
#include <set>
#include <tuple>
#include <filesystem>
#include <sstream>

#include "algorithms/kinematics.hpp"
#include "data/data.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;
using Names = std::vector<std::string>;
const std::filesystem::path kSource = LUMO_SOURCE_DIR;
const std::filesystem::path kRobots = kSource / ".." / "shared" / "robots";

std::string L(const std::string& name) { return "<link name=\"" + name + "\"/>"; }
std::string J(const std::string& name, const std::string& type, const std::string& parent,
              const std::string& child, const std::string& extra = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent +
         "\"/><child link=\"" + child + "\"/>" + extra + "</joint>";
}
Model build(const std::string& body) { return parse_urdf_from_string("<robot name=\"r\">" + body + "</robot>"); }
Names frame_names(const Model& m) {
  Names out;
  for (const Frame& f : m.frames) out.push_back(f.name);
  return out;
}
// The outermost message and the message of its cause.
std::pair<std::string, std::string> failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const UrdfError& e) {
    if (!e.cause()) return {e.what(), ""};
    try {
      std::rethrow_exception(e.cause());
    } catch (const UrdfError& cause) {
      return {e.what(), cause.what()};
    }
  }
  return {"no exception", ""};
}
Matrix3 rpy_rotation(double r, double p, double y) {  // from Eigen's axis-angle products
  return (Eigen::AngleAxisd(y, Vector3::UnitZ()) * Eigen::AngleAxisd(p, Vector3::UnitY()) *
          Eigen::AngleAxisd(r, Vector3::UnitX())).toRotationMatrix();
}

TEST(UrdfBuilder, PreOrderJointsFramesAndRoot) {
  // Links and joints out of tree order; "spare" is a second root candidate,
  // "ghost" a missing child, "nowhere" an unknown parent: all ignored.
  //   root ─┬─ j_c (fixed) ── c ── j_c2 (prismatic) ── c2
  //         ├─ j_a (revolute) ── a ─┬─ j_a1 (fixed) ── a1
  //         │                       └─ j_a2 (revolute) ── a2
  //         └─ j_b (continuous) ── b
  const Model m = build(L("a2") + L("c") + J("j_c", "fixed", "root", "c") + L("root") + L("spare") +
                        J("j_a", "revolute", "root", "a") + J("to_ghost", "fixed", "root", "ghost") +
                        J("j_c2", "prismatic", "c", "c2") + L("a") + J("j_a1", "fixed", "a", "a1") +
                        L("b") + J("j_b", "continuous", "root", "b") + J("j_a2", "revolute", "a", "a2") +
                        L("c2") + L("a1") + L("z") + J("j_z", "fixed", "spare", "z") +
                        J("j_n", "fixed", "nowhere", "n") + L("n"));
  EXPECT_EQ(m.names, (Names{"universe", "j_c", "j_c2", "j_a", "j_a1", "j_a2", "j_b"}));
  EXPECT_EQ(m.parents, (std::vector<JointIndex>{0, 0, 1, 0, 3, 3, 0}));
  EXPECT_EQ(frame_names(m), (Names{"universe", "root", "j_c", "c", "j_c2", "c2", "j_a", "a", "j_a1",
                                   "a1", "j_a2", "a2", "j_b", "b"}));
  for (std::size_t f = 1; f < m.nframes; ++f) {
    EXPECT_EQ(m.frames[f].type, f == 1 || f % 2 ? BODY : JOINT) << f;
    EXPECT_EQ(m.frames[f].parent, f / 2) << f;
  }
  EXPECT_EQ(m.nq, 5u);
  EXPECT_EQ(m.nv, 4u);
  // One link, no joint: universe and the root body only.
  const Model single = build(L("only"));
  EXPECT_EQ(frame_names(single), (Names{"universe", "only"}));
  EXPECT_EQ(single.njoints + single.nq + single.nv, 1u);
}

TEST(UrdfBuilder, JointKindsLimitsAndPlacements) {
  const std::string extra = "<limit lower=\"-0.5\" upper=\"1.5\"/><axis xyz=\"0 0 2\"/>";
  std::string body = L("base");
  const JointType kinds[] = {JointType::Revolute, JointType::Continuous, JointType::Prismatic, JointType::Fixed,
                             JointType::Floating, JointType::Planar,     JointType::Spherical};
  for (JointType k : kinds) body += L(joint_type_name(k)) + J(joint_type_name(k), joint_type_name(k), "base", joint_type_name(k), extra);
  const Model m = build(body);
  const std::size_t nq[] = {1, 2, 1, 0, 7, 4, 4}, nv[] = {1, 1, 1, 0, 6, 3, 3};
  const bool keeps_axis[] = {true, true, true, false, false, true, false};
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(m.joints[k + 1].type, kinds[k]);
    EXPECT_EQ(m.joints[k + 1].nq, nq[k]);
    EXPECT_EQ(m.joints[k + 1].nv, nv[k]);
    EXPECT_EQ(m.joints[k + 1].axis, keeps_axis[k] ? Vector3(0, 0, 2) : Vector3::Zero()) << k;
  }
  EXPECT_EQ(m.nq, 19u);
  EXPECT_EQ(m.lowerPositionLimit, std::vector<double>(15, -0.5));  // n = nv entries per moving joint
  EXPECT_EQ(m.upperPositionLimit, std::vector<double>(15, 1.5));

  // Placement R = Rz(yaw) Ry(pitch) Rx(roll); a two-link planar arm under it
  // puts its tip at R (cos q1 + 0.8 cos(q1 + q2), sin q1 + 0.8 sin(q1 + q2), 0) + p.
  const Model arm = build(L("w") + L("base") + L("u") + L("l") + L("tip") +
                          J("mount", "fixed", "w", "base", "<origin xyz=\"0.5 -1 2\" rpy=\"0.3 -0.7 1.9\"/>") +
                          J("q1", "revolute", "base", "u", "<axis xyz=\"0 0 1\"/>") +
                          J("q2", "revolute", "u", "l", "<origin xyz=\"1 0 0\"/><axis xyz=\"0 0 1\"/>") +
                          J("flange", "fixed", "l", "tip", "<origin xyz=\"0.8 0 0\"/>"));
  const Matrix3 R = rpy_rotation(0.3, -0.7, 1.9);
  EXPECT_TRUE(test::near(arm.jointPlacements[1].rotation, R, kUlps));
  Data data(arm);
  const Eigen::Vector2d q(0.4, -1.1);
  forwardKinematics(arm, data, q);
  const Vector3 tip(std::cos(q[0]) + 0.8 * std::cos(q[0] + q[1]), std::sin(q[0]) + 0.8 * std::sin(q[0] + q[1]), 0);
  EXPECT_TRUE(test::near(data.oMi[4].translation, R * tip + Vector3(0.5, -1, 2), kTight));
}

TEST(UrdfBuilder, InertiaConversion) {
  urdf::Inertial in{{Vector3(0.1, 0.2, 0.3), Vector3(0, 0, test::kPi / 2)}, 2.0, {1, 0, 0, 2, 0, 3}};
  const BodyInertia Y = link_inertia(in);
  EXPECT_EQ(Y.mass, 2.0);
  EXPECT_EQ(Y.lever, Vector3(0.1, 0.2, 0.3));
  EXPECT_TRUE(test::near(Eigen::Map<const Vector6>(Y.inertia.data()), (Vector6() << 2, 0, 1, 0, 0, 3).finished(), kUlps));
  in.origin.rpy = Vector3(0.7, -1.2, 2.9);
  in.inertia = {0.3, 0.01, -0.02, 0.4, 0.03, 0.5};
  Matrix3 I;
  I << 0.3, 0.01, -0.02, 0.01, 0.4, 0.03, -0.02, 0.03, 0.5;
  const Matrix3 R = rpy_rotation(0.7, -1.2, 2.9);
  EXPECT_TRUE(test::near(inertia_tensor(link_inertia(in)), R * I * R.transpose(), kUlps));
  in.mass = 0.0;  // exactly zero: all zero, whatever the tensor
  EXPECT_TRUE(link_inertia(in).lever.isZero() && link_inertia(in).inertia == (std::array<double, 6>{}));
  in.mass = NAN;
  EXPECT_TRUE(std::isnan(link_inertia(in).mass));
  // The root link's inertia goes to joint 0.
  EXPECT_EQ(build("<link name=\"b\"><inertial><mass value=\"3\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" "
                  "iyy=\"1\" iyz=\"0\" izz=\"1\"/></inertial></link>").inertias[0].mass, 3.0);
}

TEST(UrdfBuilder, FailureMessages) {
  const auto from_text = [](const std::string& body) { return failure([&] { build(body); }); };
  using Failure = std::pair<std::string, std::string>;
  EXPECT_EQ(from_text(""), Failure("No root link found in URDF", ""));
  EXPECT_EQ(from_text(L("a") + J("wa", "fixed", "world", "a")).first, "No root link found in URDF");
  EXPECT_EQ(from_text(L("a") + L("b") + J("j", "Revolute", "a", "b")),
            Failure("Failed to parse URDF from string", "joint 'j' at line 1: unknown joint type 'Revolute'"));
  const std::string absent = (kSource / "models" / "absent.urdf").string();
  EXPECT_EQ(failure([&] { parse_urdf_file(absent); }),
            Failure("Failed to parse URDF file: " + absent, "cannot read file '" + absent + "': No such file or directory"));
  EXPECT_EQ(failure([&] { parse_urdf_file(kSource.string()); }).first, "Failed to parse URDF file: " + kSource.string());
  // Not a tree where reached: a failure instead of a loop or a duplicated subtree.
  EXPECT_EQ(from_text(L("r") + L("a") + L("b") + L("c") + J("ra", "fixed", "r", "a") + J("ab", "fixed", "a", "b") +
                      J("bc", "fixed", "b", "c") + J("ca", "fixed", "c", "a")).first,
            "Cycle in the link graph: 'a' -> 'b' -> 'c' -> 'a'");
  EXPECT_EQ(from_text(L("r") + L("a") + J("ra", "fixed", "r", "a") + J("aa", "fixed", "a", "a")).first,
            "Cycle in the link graph: 'a' -> 'a'");
  std::string shared = L("r") + L("s");
  for (int k = 0; k < 5; ++k) shared += J("j" + std::to_string(k), "fixed", "r", "s");
  EXPECT_EQ(from_text(shared).first, "Link 's' is the child of more than one joint: 'j0', 'j1', 'j2' and 2 more");
  EXPECT_EQ(build(L("r") + L("a") + L("b") + J("ab", "fixed", "a", "b") + J("ba", "fixed", "b", "a")).njoints, 1u);
  // A zero axis where the joint moves along or about it (or carries it).
  for (const char* kind : {"revolute", "continuous", "prismatic", "planar"})
    EXPECT_EQ(from_text(L("a") + L("b") + J("j", kind, "a", "b", "<axis xyz=\"0 0 0\"/>")).first,
              "joint 'j' at line 1: Joint axis must be non-zero") << kind;
}

TEST(UrdfBuilder, WarningsNameWhatWasLeftOut) {
  const char* inertial = "<inertial><mass value=\"1\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"%s\"/></inertial>";
  const auto with_izz = [&](const char* izz) {
    char buf[256];
    std::snprintf(buf, sizeof buf, inertial, izz);
    return std::string(buf);
  };
  const std::string text = "<robot name=\"r\">\n" + L("r") + "\n" + L("a") + "\n" +
                           "<link name=\"a\">" + with_izz("1") + "</link>\n" + L("s") + "\n" + L("t") + "\n" +
                           "<link name=\"bad\">" + with_izz("-0.5") + "</link>\n" +
                           "<link name=\"noise\">" + with_izz("-1e-20") + "</link>\n" +
                           J("ra", "fixed", "r", "a") + "\n" + J("st", "fixed", "s", "t") + "\n" +
                           J("gone", "fixed", "r", "nowhere") + "\n" + J("orphan", "fixed", "void", "noise") + "\n" +
                           J("ra", "revolute", "a", "bad") + "\n</robot>";
  std::vector<std::string> notes;
  const Model m = parse_urdf_from_string(text, &notes);
  EXPECT_EQ(m.names, (Names{"universe", "ra", "ra"}));
  EXPECT_EQ(notes, (Names{
      "link 'bad' at line 7: inertia tensor is not positive semi-definite (eigenvalues -0.5, 1, 1); kept as given",
      "link 'a' at line 4 is ignored: it repeats the name of the link 'a' at line 3",
      "link 's' at line 5 is a second root link: it and its subtree are ignored",
      "link 't' at line 6 is ignored: it is not reachable from the root link 'r'",
      "link 'noise' at line 8 is ignored: it is not reachable from the root link 'r'",
      "joint 'st' at line 10 is ignored: its parent link 's' is not reachable from the root link 'r'",
      "joint 'gone' at line 11 is ignored: its child link 'nowhere' does not exist",
      "joint 'orphan' at line 12 is ignored: its parent link 'void' does not exist",
      "joint 'ra' at line 13 repeats the name of the joint 'ra' at line 9; a lookup by name finds the first"}));
  notes.clear();
  parse_urdf_file((kSource / "models" / "humanoid.urdf").string(), &notes);
  EXPECT_EQ(notes, Names{});
}

TEST(UrdfBuilder, AJointThatMovesNoMassIsNamed) {
  // The second link has no <inertial>, the third mass 0 (its tensor dropped):
  // joint b moves nothing, joint a moves the first link.
  const auto body = [](const char* mass) {
    return std::string("<inertial><mass value=\"") + mass +
           "\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"1\"/></inertial>";
  };
  const std::string text = "<robot name=\"r\">" + L("r") + "<link name=\"x\">" + body("1") + "</link>" + L("y") +
                           "<link name=\"z\">" + body("0") + "</link>\n" + J("a", "revolute", "r", "x") + "\n" +
                           J("b", "revolute", "x", "y") + "\n" + J("c", "fixed", "y", "z") + "</robot>";
  std::vector<std::string> notes;
  parse_urdf_from_string(text, &notes);
  EXPECT_EQ(notes, Names{"joint 'b' at line 3: moves no mass (no link of its subtree has any), so forward "
                         "dynamics (aba, computeMinverse) is undefined for this model"});
}

TEST(UrdfBuilder, HundredThousandLinkChain) {
  constexpr std::size_t n = 100000;
  std::ostringstream text;  // joints in reverse order, before their links
  text << "<robot name=\"chain\"><link name=\"l0\"/>\n";
  for (std::size_t k = n; k >= 1; --k)
    text << J("j" + std::to_string(k), "revolute", "l" + std::to_string(k - 1), "l" + std::to_string(k),
              "<origin xyz=\"0 0 0.01\"/><axis xyz=\"0 0 1\"/><limit lower=\"-1\" upper=\"1\"/>") << "\n";
  for (std::size_t k = 1; k <= n; ++k)
    text << "<link name=\"l" << k << "\"><inertial><mass value=\"1\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" "
         << "iyy=\"1\" iyz=\"0\" izz=\"1\"/></inertial></link>\n";
  text << "</robot>";
  // Processor time of this process, not the wall clock: other load on the
  // machine does not count.
  const std::clock_t start = std::clock();
  const Model m = parse_urdf_from_string(text.str());
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::cout << "100000-link chain: " << seconds << " s, peak RSS " << usage.ru_maxrss / 1024 << " MiB\n";
  ASSERT_EQ(m.njoints, n + 1);
  for (JointIndex i = 1; i <= n; ++i) ASSERT_EQ(m.parents[i], i - 1);
  EXPECT_EQ(m.frames.back().name, "l100000");
  EXPECT_LT(seconds, 20.0);
  EXPECT_LT(usage.ru_maxrss, 1024L * 1024);  // KiB
}

// Positive mass, positive principal moments obeying the triangle inequality.
bool physical(const BodyInertia& Y) {
  const Vector3 d = Eigen::SelfAdjointEigenSolver<Matrix3>(inertia_tensor(Y)).eigenvalues();
  return Y.mass > 0 && d.minCoeff() > 0 && d[0] + d[1] >= d[2];  // ascending order
}

TEST(UrdfBuilder, SampleModels) {
  const std::tuple<const char*, std::size_t, std::size_t, std::size_t, double> models[] = {
      {"arm7.urdf", 9, 7, 7, 22.0}, {"humanoid.urdf", 39, 38, 37, 69.3}, {"all_joints.urdf", 8, 19, 15, 6.3},
      {"quadruped.urdf", 18, 19, 18, 20.04}};
  for (const auto& [file, njoints, nq, nv, mass] : models) {
    const Model m = parse_urdf_file((kSource / "models" / file).string());
    EXPECT_EQ(std::make_tuple(m.njoints, m.nq, m.nv, m.nframes), std::make_tuple(njoints, nq, nv, 2 * njoints)) << file;
    double total = 0;
    std::set<JointType> kinds;
    for (JointIndex i = 0; i < m.njoints; ++i) {
      total += m.inertias[i].mass;
      kinds.insert(m.joints[i].type);
      // Massless bodies only on frames: fixed joints and the humanoid's world.
      EXPECT_TRUE(m.joints[i].type == JointType::Fixed || physical(m.inertias[i])) << file << " " << m.names[i];
    }
    EXPECT_NEAR(total, mass, kLoose) << file;
    if (std::string(file) == "all_joints.urdf") EXPECT_EQ(kinds.size(), 7u);
  }
  const Model humanoid = parse_urdf_file((kSource / "models" / "humanoid.urdf").string());
  EXPECT_EQ(humanoid.joints[1].type, JointType::Floating);
  EXPECT_EQ(frame_names(humanoid)[1] + frame_names(humanoid)[3], "worldpelvis");
}

TEST(UrdfBuilder, RealRobotsAndQuirks) {
  if (!std::filesystem::is_directory(kRobots)) GTEST_SKIP() << kRobots << " not present";
  const auto robot = [](const std::string& file) { return parse_urdf_file((kRobots / file).string()); };
  const std::tuple<const char*, std::size_t, std::size_t, std::size_t> robots[] = {
      {"ur5.urdf", 11, 6, 6},    {"iiwa14.urdf", 11, 7, 7},   {"panda.urdf", 13, 9, 9},
      {"gen3_7dof.urdf", 9, 11, 7}, {"go1.urdf", 46, 12, 12}, {"h1.urdf", 25, 19, 19},
      {"icub.urdf", 214, 32, 32}, {"fetch.urdf", 26, 20, 15}, {"turtlebot3_waffle_pi.urdf", 11, 4, 2},
      {"quirks/deepmimic_humanoid.urdf", 16, 36, 28}};  // its trailing NUL ends the text
  for (const auto& [file, njoints, nq, nv] : robots) {
    std::vector<std::string> notes;
    const Model m = parse_urdf_file((kRobots / file).string(), &notes);
    EXPECT_EQ(std::make_tuple(m.njoints, m.nq, m.nv, m.nframes), std::make_tuple(njoints, nq, nv, 2 * njoints)) << file;
    EXPECT_EQ(notes, Names{}) << file;  // clean files import without a note
  }
  // panda: mass 0 with a non-zero tensor gives a zero body; a limit above π.
  const Model panda = robot("panda.urdf");
  const BodyInertia& link8 = panda.inertias[panda.frames[*panda.getFrameId("panda_link8")].parent];
  EXPECT_TRUE(link8.mass == 0 && link8.inertia == (std::array<double, 6>{}));
  EXPECT_EQ(panda.upperPositionLimit[5], 3.8223);
  // turtlebot: continuous wheels without <limit> get 0 and 0.
  EXPECT_EQ(robot("turtlebot3_waffle_pi.urdf").upperPositionLimit, std::vector<double>(2, 0.0));
  EXPECT_EQ(failure([&] { robot("quirks/pr2_simplified.urdf"); }).first, "No root link found in URDF");
  const auto [husky, cause] = failure([&] { robot("quirks/husky.urdf"); });
  EXPECT_EQ(husky, "Failed to parse URDF file: " + (kRobots / "quirks/husky.urdf").string());
  EXPECT_NE(cause.find("joint 'imu_joint' at line 96: attribute 'xyz' of <origin> (line 97): unparsable number '$(optenv'"),
            std::string::npos) << cause;
}

}  // namespace
}  // namespace lumo

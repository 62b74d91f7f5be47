// Tests of src/mjcf_parser: the reader (orientations, defaults, includes,
// frames, line-numbered failures) and the builder (joint chains, ref, names),
// against closed forms. tests/python/test_mjcf.py compares whole models with
// MuJoCo.
#include "mjcf_parser/builder.hpp"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>

#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "data/data.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;
constexpr double kDeg = 3.14159265358979323846 / 180.0;

Matrix3 about(const Vector3& axis, double angle) {
  return Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
}
SE3 place(const Matrix3& R, const Vector3& p) { return SE3{R, p}; }
SE3 shift(const Vector3& p) { return SE3{Matrix3::Identity(), p}; }
std::string exact(double x) {
  std::ostringstream out;
  out << std::setprecision(17) << x;
  return out.str();
}

Model mjcf(const std::string& inner, const std::string& compiler = "") {
  return parse_mjcf_from_string("<mujoco>" + compiler + inner + "</mujoco>");
}

// The outermost message and the message of its cause.
std::pair<std::string, std::string> failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const MjcfError& e) {
    if (!e.cause()) return {e.what(), ""};
    try {
      std::rethrow_exception(e.cause());
    } catch (const MjcfError& cause) {
      return {e.what(), cause.what()};
    }
  }
  return {"no exception", ""};
}

TEST(MjcfReader, OrientationFormsAndFrames) {
  // One welded body per form: its fixed joint carries (R, pos).
  const Matrix3 R = about(Vector3(1, 2, 3), 40 * kDeg);
  const Eigen::Quaterniond q(R);
  const struct {
    std::string compiler, attribute;
    Matrix3 expected;
  } cases[] = {
      {"", cat("quat='", exact(2 * q.w()), " ", exact(2 * q.x()), " ", exact(2 * q.y()), " ", exact(2 * q.z()), "'"), R},  // normalised
      {"", "axisangle='1 2 3 40'", R},
      {"<compiler angle='radian'/>", cat("axisangle='2 4 6 ", exact(40 * kDeg), "'"), R},
      {"", "euler='10 20 30'", about(Vector3::UnitX(), 10 * kDeg) * about(Vector3::UnitY(), 20 * kDeg) *
                                   about(Vector3::UnitZ(), 30 * kDeg)},  // moving axes
      {"<compiler eulerseq='XYZ'/>", "euler='10 20 30'",
       about(Vector3::UnitZ(), 30 * kDeg) * about(Vector3::UnitY(), 20 * kDeg) * about(Vector3::UnitX(), 10 * kDeg)},
      {"<compiler eulerseq='zXy'/>", "euler='10 20 30'",
       about(Vector3::UnitX(), 20 * kDeg) * about(Vector3::UnitZ(), 10 * kDeg) * about(Vector3::UnitY(), 30 * kDeg)},
      {"", "xyaxes='0 2 0 -1 0.5 0'", about(Vector3::UnitZ(), 90 * kDeg)},
      {"", "zaxis='3 0 0'", about(Vector3::UnitY(), 90 * kDeg)},
      {"", "zaxis='0 0 -1'", about(Vector3::UnitX(), 180 * kDeg)},
  };
  for (const auto& c : cases) {
    const Model m = mjcf("<worldbody><body name='b' pos='1 2 3' " + c.attribute + "/></worldbody>", c.compiler);
    EXPECT_TRUE(near(m.jointPlacements[1], place(c.expected, Vector3(1, 2, 3)), kRoundoff)) << c.attribute;
    EXPECT_EQ(m.names[1], "b_weld");
  }

  // Frames compose into what they hold, nested: bodies and sites.
  const Model m = mjcf(R"(<worldbody><frame pos="1 0 0" euler="0 0 90"><frame pos="0 1 0">
      <site name="s" pos="0 0 1"/><body name="b" pos="0 0 2" euler="90 0 0"><site name="t" pos="0 0 1"/>
      <frame euler="0 90 0"><site name="u"/></frame></body></frame></frame></worldbody>)");
  const SE3 F = compose(place(about(Vector3::UnitZ(), 90 * kDeg), Vector3(1, 0, 0)), shift(Vector3(0, 1, 0)));
  const SE3 B = compose(F, place(about(Vector3::UnitX(), 90 * kDeg), Vector3(0, 0, 2)));
  EXPECT_TRUE(near(m.jointPlacements[1], B, kRoundoff));
  EXPECT_TRUE(near(m.frames[*m.getFrameId("s")].placement, compose(F, shift(Vector3(0, 0, 1))), kRoundoff));
  EXPECT_EQ(m.frames[*m.getFrameId("t")].parent, 1u);
  EXPECT_TRUE(near(m.frames[*m.getFrameId("t")].placement, shift(Vector3(0, 0, 1)), kRoundoff));
  EXPECT_TRUE(near(m.frames[*m.getFrameId("u")].placement.rotation, about(Vector3::UnitY(), 90 * kDeg), kRoundoff));
  EXPECT_EQ(m.frames[*m.getFrameId("u")].type, OP_FRAME);
}

TEST(MjcfBuilder, JointChainsRefDefaultsAndIncludes) {
  // Body "b" at (P, R0) with a hinge at p1 (ref 30°) and a slide at p2 (ref 0.2):
  // MuJoCo poses it at (R0, P)·T(p1)·Rot(a1, q1 − ref1)·T(−p1)·T(a2 (q2 − ref2)).
  const std::string arm = R"(<mujoco><default><joint axis="1 0 0"/><default class="slider">
      <joint type="slide" axis="0 1 1" range="-1 2"/></default></default>
    <worldbody><body name="b" pos="0.5 -1 2" euler="0 0 45">
      <joint name="hinge" pos="0.1 0.2 0.3" ref="30"/>
      <joint class="slider" pos="0 0 -0.4" ref="0.2"/>
      <inertial pos="0.1 0 0" mass="2" diaginertia="0.1 0.2 0.3"/>
      <body childclass="slider"><joint/><joint class="main"/><site name="tip" pos="1 0 0"/></body>
    </body></worldbody></mujoco>)";
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumo_mjcf_builder_test";
  std::filesystem::create_directories(dir / "parts");
  std::ofstream(dir / "parts" / "arm.xml") << arm;
  std::ofstream(dir / "main.xml") << "<mujoco model='inc'><include file='parts/arm.xml'/></mujoco>";
  // Older included files have <mujocoinclude> for their root.
  std::ofstream(dir / "parts" / "old_arm.xml") << "<mujocoinclude" << arm.substr(7, arm.size() - 16) << "</mujocoinclude>";
  const Model direct = parse_mjcf_from_string(arm);
  const Model from_file = parse_mjcf_file((dir / "main.xml").string());
  const Model from_text = parse_mjcf_from_string("<mujoco model='inc'><include file='parts/old_arm.xml'/></mujoco>",
                                                 dir.string());
  EXPECT_EQ(from_file.name, "inc");
  EXPECT_EQ(direct.gravity_linear(), Vector3(0, 0, -9.81));
  EXPECT_EQ(mjcf("<option gravity='1 2 3'/>").gravity_linear(), Vector3(1, 2, 3));
  EXPECT_EQ(mjcf("<option gravity='1 2 3'><flag gravity='disable'/></option>").gravity_linear(), Vector3::Zero());
  EXPECT_EQ(failure([] { parse_mjcf_from_string("<mujoco><include file='arm.xml'/></mujoco>"); }).second,
            "<include> at line 1: cannot include 'arm.xml': the model was given as text without a directory");
  std::filesystem::remove_all(dir);

  for (const Model* m : {&direct, &from_file, &from_text}) {
    EXPECT_EQ(m->names, (std::vector<std::string>{"universe", "hinge", "joint1", "joint2", "joint3"}));
    const JointType kinds[] = {JointType::Revolute, JointType::Prismatic, JointType::Prismatic, JointType::Revolute};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(m->joints[k + 1].type, kinds[k]);
    EXPECT_EQ(m->joints[1].axis, Vector3(1, 0, 0));
    EXPECT_EQ(m->joints[2].axis, Vector3(0, 1, 1));
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(m->lowerPositionLimit, (std::vector<double>{-inf, -1, -1, -inf}));
    EXPECT_EQ(m->upperPositionLimit, (std::vector<double>{inf, 2, 2, inf}));
    EXPECT_EQ(m->inertias[1].mass, 0.0);  // the chain's first joint carries no mass
    EXPECT_EQ(m->inertias[2].mass, 2.0);
    EXPECT_EQ(m->frames[*m->getFrameId("b")].parent, 2u);

    Data data(*m);
    const Eigen::Vector4d q(0.7, -0.3, 0.25, 1.1);
    forwardKinematics(*m, data, q);
    const Vector3 p1(0.1, 0.2, 0.3), p2(0, 0, -0.4), a2 = Vector3(0, 1, 1).normalized();
    const SE3 body = compose(compose(compose(place(about(Vector3::UnitZ(), 45 * kDeg), Vector3(0.5, -1, 2)), shift(p1)),
                                     place(about(Vector3::UnitX(), q[0] - 30 * kDeg), Vector3::Zero())),
                             shift(-p1 + a2 * (q[1] - 0.2)));
    EXPECT_TRUE(near(getFramePlacement(*m, data, *m->getFrameId("b")), body, kTight));
    // The child body: a slide then a hinge about x, both at its origin, no ref.
    const SE3 child = compose(compose(body, shift(a2 * q[2])), place(about(Vector3::UnitX(), q[3]), Vector3::Zero()));
    EXPECT_TRUE(near(getFramePlacement(*m, data, *m->getFrameId("tip")), compose(child, shift(Vector3(1, 0, 0))), kTight));
  }
}

TEST(MjcfReader, FailuresNameTheElementAndLine) {
  const std::string head = "<mujoco>\n<worldbody>\n<body name='b'>\n";
  const struct {
    std::string body, cause;
  } cases[] = {
      {"<joint type='hinj'/>", "<joint> at line 4: unknown joint type 'hinj'"},
      {"<joint name='j' axis='0 0 0'/>", "<joint name='j'> at line 4: the axis is zero"},
      {"<geom size='0.1' pos='1 x 2'/>", "<geom> at line 4: attribute 'pos': not a finite number 'x'"},
      {"<geom class='nope'/>", "<geom> at line 4: unknown default class 'nope'"},
      {"<inertial mass='1'/>", "<inertial> at line 4: missing attribute 'diaginertia' or 'fullinertia'"},
      {"<joint/><freejoint/>", "<body name='b'> at line 3: a free joint must be the body's only joint"},
      {"<composite/>", "<composite> at line 4: <composite> is not supported"},
      {"<joint range='1 0' limited='true'/>", "<joint> at line 4: range lower bound 1 above the upper bound 0"},
      {"<body quat='0 0 0 0'/>", "<body> at line 4: attribute 'quat' is the zero quaternion"},
      {"</body>", "malformed XML at line 5, column 3: Start-end tags mismatch"},
  };
  for (const auto& c : cases) {
    const auto [message, cause] = failure([&] { parse_mjcf_from_string(head + c.body + "\n</body></worldbody></mujoco>"); });
    EXPECT_EQ(message, "Failed to parse MJCF from string");
    EXPECT_EQ(cause, c.cause);
  }
  // Bodies nest as deep as the text goes (read without recursion); default classes up to 100 levels.
  std::string deep, classes;
  for (int k = 0; k < 20000; ++k) deep += "<body><joint/>";
  for (int k = 0; k < 20000; ++k) deep += "</body>";
  EXPECT_EQ(parse_mjcf_from_string("<mujoco><worldbody>" + deep + "</worldbody></mujoco>").nq, 20000u);
  for (int k = 0; k < 100; ++k) classes += cat("<default class='c", k, "'>");
  for (int k = 0; k < 100; ++k) classes += "</default>";
  EXPECT_EQ(failure([&] { parse_mjcf_from_string("<mujoco><default>" + classes + "</default></mujoco>"); }).second,
            "<default> at line 1: nested deeper than 100 levels");
  EXPECT_EQ(failure([] { parse_mjcf_from_string("<robot/>"); }).second,
            "<robot> at line 1: the root element must be <mujoco>");
  EXPECT_EQ(failure([] { parse_mjcf_file("/nonexistent/m.xml"); }),
            std::make_pair(std::string("Failed to parse MJCF file: /nonexistent/m.xml"),
                           std::string("cannot read file '/nonexistent/m.xml': No such file or directory")));
  // A free joint below another body is the builder's to refuse.
  EXPECT_EQ(failure([] { parse_mjcf_from_string("<mujoco><worldbody><body><body><freejoint name='f'/></body></body>"
                                                "</worldbody></mujoco>"); }).first,
            "<joint name='f'> at line 1: a free joint must be in a body whose parent is the world body");
}

}  // namespace
}  // namespace lumo

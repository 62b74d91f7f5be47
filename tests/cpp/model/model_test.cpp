#include "model/model.hpp"

#include <limits>

#include "algorithms/errors/errors.hpp"
#include "algorithms/kinematics.hpp"
#include "data/data.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using Ids = std::vector<JointIndex>;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The report covers the name, the counts, joint 0 and frame 0.
TEST(Model, FreshModel) {
  const Model m;
  EXPECT_EQ(model_report(m),
            "========== Model Information ==========\n"
            "Model name: \n"
            "Number of joints: 1\n"
            "Number of frames: 1\n"
            "Number of bodies: 1\n"
            "Number of DOF (nq): 0\n"
            "Number of velocity DOF (nv): 0\n"
            "\n"
            "========== Joint Information ==========\n"
            "Joint 0: universe (parent: 0)\n"
            "\n"
            "========== Frame Information ==========\n"
            "Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)\n"
            "=======================================\n");
  EXPECT_EQ(m.joints[0].type, JointType::Fixed);
  EXPECT_EQ(m.joints[0].nq + m.joints[0].nv + m.idx_q[0] + m.idx_v[0], 0u);
  EXPECT_TRUE(test::near(m.jointPlacements[0], identity(), 0.0));
  EXPECT_TRUE(test::near(m.frames[0].placement, identity(), 0.0));
  EXPECT_EQ(m.inertias[0].mass, 0.0);
  EXPECT_EQ(m.children, std::vector<Ids>{{}});
  EXPECT_EQ(m.supports(0), Ids{0});
  EXPECT_EQ(m.subtrees(0), Ids{});
  EXPECT_TRUE(m.lowerPositionLimit.empty() && m.upperPositionLimit.empty());
  EXPECT_EQ(m.gravity_linear(), Vector3(0, 0, -9.81));
  EXPECT_EQ(m.gravity_angular(), Vector3::Zero());
  EXPECT_EQ(m.get_joint_id("universe"), 0u);
  EXPECT_EQ(m.getFrameId("universe"), 0u);
}

// 0 ─┬─ 1 floating ─┬─ 2 revolute ── 5 planar
//    │              └─ 4 fixed ───── 7 prismatic
//    └─ 3 revolute ── 6 continuous
// Added in index order, which is not depth-first.
Model branching_tree() {
  Model m;
  const std::pair<JointIndex, JointType> joints[] = {
      {0, JointType::Floating}, {1, JointType::Revolute}, {0, JointType::Revolute},
      {1, JointType::Fixed},    {2, JointType::Planar},   {3, JointType::Continuous},
      {4, JointType::Prismatic}};
  for (const auto& [parent, kind] : joints) {
    const SE3 placement{Matrix3::Identity(), Vector3(0.1 * static_cast<double>(m.njoints), 0, 0)};
    m.add_joint(parent, JointModel::make(kind, Vector3(0, 0, 2)), placement,
                "j" + std::to_string(m.njoints));
  }
  return m;
}

TEST(Model, AddJointBookkeeping) {
  Model single;
  EXPECT_EQ(single.add_joint(0, JointModel::make(JointType::Floating), SE3::Identity(), "base"), 1u);
  EXPECT_EQ(single.nq, 7u);
  EXPECT_EQ(single.nv, 6u);

  const Model m = branching_tree();
  EXPECT_EQ(m.njoints, 8u);
  EXPECT_EQ(m.nbodies, 8u);
  EXPECT_EQ(m.nframes, 1u);
  EXPECT_EQ(m.nq, 16u);
  EXPECT_EQ(m.nv, 13u);
  EXPECT_EQ(m.parents, (Ids{0, 0, 1, 0, 1, 2, 3, 4}));
  EXPECT_EQ(m.idx_q, (Ids{0, 0, 7, 8, 9, 9, 13, 15}));
  EXPECT_EQ(m.nq_joint, (Ids{0, 7, 1, 1, 0, 4, 2, 1}));
  EXPECT_EQ(m.idx_v, (Ids{0, 0, 6, 7, 8, 8, 11, 12}));
  EXPECT_EQ(m.nv_joint, (Ids{0, 6, 1, 1, 0, 3, 1, 1}));
  EXPECT_EQ(m.children, (std::vector<Ids>{{1, 3}, {2, 4}, {5}, {6}, {7}, {}, {}, {}}));
  EXPECT_EQ(m.supports(5), (Ids{0, 1, 2, 5}));
  EXPECT_EQ(m.supports(6), (Ids{0, 3, 6}));
  EXPECT_EQ(m.supports(7), (Ids{0, 1, 4, 7}));
  EXPECT_EQ(m.subtrees(0), (Ids{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(m.subtrees(1), (Ids{1, 2, 4, 5, 7}));
  EXPECT_EQ(m.subtrees(3), (Ids{3, 6}));
  EXPECT_EQ(m.subtrees(7), (Ids{7}));
  EXPECT_EQ(m.names[6], "j6");
  EXPECT_EQ(m.joints[2].axis, Vector3(0, 0, 2));  // stored as given
  EXPECT_EQ(m.jointPlacements[4].translation, Vector3(0.4, 0, 0));
  EXPECT_EQ(m.inertias[3].mass, 0.0);
}

// The passes take a shortcut for placements without rotation, which the
// model marks when a placement is set: a placement replaced later must give
// the placements of a model built with it from the start.
TEST(Model, ReplacedPlacementGivesTheSameKinematics) {
  const SE3 turned(rotation_about_unit_axis(Vector3(0.6, 0.0, 0.8), 0.7), Vector3(0.1, 0.2, 0.3));
  auto chain = [](const SE3& second) {
    Model m;
    const JointModel z = JointModel::make(JointType::Revolute, Vector3(0, 0, 1));
    m.add_joint(m.add_joint(0, z, SE3(Matrix3::Identity(), Vector3(0, 0, 0.5)), "a"), z, second, "b");
    return m;
  };
  Model edited = chain(SE3(Matrix3::Identity(), Vector3(0.4, 0, 0)));
  EXPECT_EQ(edited.placement_unrotated, (std::vector<std::uint8_t>{1, 1, 1}));
  edited.set_joint_placement(2, turned);
  EXPECT_EQ(edited.placement_unrotated, (std::vector<std::uint8_t>{1, 1, 0}));
  const Model built = chain(turned);
  Data de(edited), db(built);
  const Eigen::Vector2d q(0.3, -1.1);
  forwardKinematics(edited, de, q);
  forwardKinematics(built, db, q);
  for (JointIndex i = 1; i < 3; ++i) {
    EXPECT_EQ(de.oMi[i].rotation, db.oMi[i].rotation);
    EXPECT_EQ(de.oMi[i].translation, db.oMi[i].translation);
  }
  edited.set_joint_placement(2, SE3(Matrix3::Identity(), Vector3(0.4, 0, 0)));
  EXPECT_EQ(edited.placement_unrotated[2], 1);
}

TEST(Model, BadParentOrAxisLeavesModelUnchanged) {
  Model m = branching_tree();
  const JointModel rev = JointModel::make(JointType::Revolute, Vector3::UnitZ());
  EXPECT_THROW(m.add_joint(8, rev, SE3::Identity(), "orphan"), ValueError);
  // A zero or non-finite axis where the joint moves along or about it.
  for (JointType kind : {JointType::Revolute, JointType::Continuous, JointType::Prismatic, JointType::Planar}) {
    EXPECT_EQ(test::error_message<ValueError>([&] { m.add_joint(1, JointModel::make(kind), SE3::Identity(), "z"); }),
              "Joint axis must be non-zero");
    EXPECT_EQ(test::error_message<ValueError>([&] {
                m.add_joint(1, JointModel::make(kind, Vector3(0, NAN, 1)), SE3::Identity(), "n");
              }), "Joint axis must be finite");
  }
  const Model expected = branching_tree();
  EXPECT_EQ(model_report(m), model_report(expected));  // names, parents and counts
  EXPECT_EQ(m.idx_q, expected.idx_q);
  EXPECT_EQ(m.nv_joint, expected.nv_joint);
  EXPECT_EQ(m.children, expected.children);
  EXPECT_EQ(m.joints.size() + m.jointPlacements.size() + m.inertias.size(), 24u);
}

TEST(Model, JointTypeFromText) {
  EXPECT_EQ(joint_type_from_text("fixed"), JointType::Fixed);
  EXPECT_EQ(joint_type_from_text("revolute"), JointType::Revolute);
  EXPECT_EQ(joint_type_from_text("prismatic"), JointType::Prismatic);
  EXPECT_EQ(joint_type_from_text("floating"), JointType::Floating);
  EXPECT_EQ(test::error_message<ValueError>([] { joint_type_from_text("Revolute"); }),
            "Unknown joint type: Revolute");
  EXPECT_THROW(joint_type_from_text("continuous"), ValueError);
}

TEST(Model, PositionLimitsGrowWithInfinities) {
  Model m;
  const JointModel rev = JointModel::make(JointType::Revolute, Vector3::UnitZ());
  for (int k = 0; k < 4; ++k) m.add_joint(m.njoints - 1, rev, SE3::Identity(), "r");
  m.add_joint(4, JointModel::make(JointType::Spherical), SE3::Identity(), "ball");
  m.set_position_limits(4, {-1.0}, {2.0});  // idx_v 3
  EXPECT_EQ(m.lowerPositionLimit, (std::vector<double>{-kInf, -kInf, -kInf, -1.0}));
  EXPECT_EQ(m.upperPositionLimit, (std::vector<double>{kInf, kInf, kInf, 2.0}));
  m.set_position_limits(5, {-3.0}, {1.0, 2.0, 3.0});  // idx_v 4, nv 3, short lower list
  EXPECT_EQ(m.lowerPositionLimit, (std::vector<double>{-kInf, -kInf, -kInf, -1.0, -3.0, -kInf, -kInf}));
  EXPECT_EQ(m.upperPositionLimit, (std::vector<double>{kInf, kInf, kInf, 2.0, 1.0, 2.0, 3.0}));
  m.set_position_limits(1, {-0.5}, {0.5});  // never shrinks
  m.set_position_limits(6, {9.0}, {9.0});   // no such joint: ignored
  EXPECT_EQ(m.lowerPositionLimit.size(), 7u);
  EXPECT_EQ(m.lowerPositionLimit[0], -0.5);
  EXPECT_EQ(m.upperPositionLimit[6], 3.0);
}

TEST(Model, NameLookups) {
  Model m;
  const JointModel rev = JointModel::make(JointType::Revolute, Vector3::UnitZ());
  m.add_joint(0, rev, SE3::Identity(), "twin");
  m.add_joint(1, rev, SE3::Identity(), "twin");
  EXPECT_EQ(m.get_joint_id("twin"), 1u);
  EXPECT_EQ(m.get_joint_id("Twin"), std::nullopt);
  EXPECT_EQ(m.add_frame({"tool", 2, SE3::Identity(), BODY}), 1u);
  EXPECT_EQ(m.add_frame({"tool", 1, SE3::Identity(), JOINT}), 2u);
  EXPECT_EQ(m.nframes, 3u);
  EXPECT_EQ(m.getFrameId("tool"), 1u);
  EXPECT_EQ(m.getFrameId("missing"), std::nullopt);
}

TEST(Model, FrameTypeText) {
  EXPECT_EQ(frame_type_text(FIXED_JOINT), "FrameType(FIXED_JOINT)");
  EXPECT_EQ(frame_type_text(JOINT | BODY), "FrameType(JOINT | BODY)");
  EXPECT_EQ(frame_type_text(0x1f), "FrameType(OP_FRAME | JOINT | FIXED_JOINT | BODY | SENSOR)");
  EXPECT_EQ(frame_type_text(SENSOR | 0x2a0), "FrameType(SENSOR | 0x2a0)");
  EXPECT_EQ(frame_type_text(0x40), "FrameType(0x40)");
  EXPECT_EQ(frame_type_text(0), "FrameType(0x0)");
}

TEST(Model, ReportListsJointsAndFrames) {
  Model m = test::planar_two_link();
  m.set_name("arm");
  m.add_frame({"tip", 2, SE3::Identity(), JOINT | BODY});
  const std::string report = model_report(m);
  auto contains = [&](const std::string& text) { return report.find(text) != std::string::npos; };
  EXPECT_TRUE(contains("Model name: arm\n")) << report;
  EXPECT_TRUE(contains("Number of DOF (nq): 2\n")) << report;
  EXPECT_TRUE(contains("Joint 2: elbow (parent: 1)\n\n")) << report;
  EXPECT_TRUE(contains("Frame 1: tip (type: FrameType(JOINT | BODY), parent: 2)\n==")) << report;
}

}  // namespace
}  // namespace lumo

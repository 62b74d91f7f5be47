#include "algorithms/kinematics.hpp"

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

SE3 marker() { return {2.0 * Matrix3::Ones(), Vector3(7, 7, 7)}; }

void scribble(Data& data) {
  std::fill(data.oMi.begin(), data.oMi.end(), marker());
  std::fill(data.limi.begin(), data.limi.end(), marker());
}

TEST(ForwardKinematics, TwoLinkChainClosedForm) {
  const Model model = test::planar_two_link({.l1 = 1.0});
  Data data(model);
  forwardKinematics(model, data, Eigen::Vector2d(kPi / 2, 0.0));
  const SE3 quarter_turn{Eigen::AngleAxisd(kPi / 2, Vector3::UnitZ()).toRotationMatrix(), Vector3::Zero()};
  EXPECT_TRUE(near(data.oMi[1], quarter_turn, kTight));
  EXPECT_TRUE(near(data.oMi[2], SE3{quarter_turn.rotation, Vector3(0, 1, 0)}, kTight));
  EXPECT_TRUE(near(data.limi[2], SE3{Matrix3::Identity(), Vector3(1, 0, 0)}, kTight));
  // Tip of the second link for general angles: (c1 + c12, s1 + s12).
  const double a = 0.4, b = -1.1;
  forwardKinematics(model, data, Eigen::Vector2d(a, b));
  EXPECT_TRUE(near(act_point(data.oMi[2], Vector3(1, 0, 0)),
                   Vector3(std::cos(a) + std::cos(a + b), std::sin(a) + std::sin(a + b), 0), kTight));
}

TEST(ForwardKinematics, FixedJointConsumesNoConfiguration) {
  Model model;
  const JointModel rev = JointModel::make(JointType::Revolute, Vector3::UnitZ());
  const SE3 offset{Matrix3::Identity(), Vector3(1, 0, 0)};
  model.add_joint(0, rev, SE3::Identity(), "a");
  model.add_joint(1, JointModel::make(JointType::Fixed), offset, "weld");
  model.add_joint(2, JointModel::make(JointType::Prismatic, Vector3::UnitX()), offset, "slide");
  ASSERT_EQ(model.nq, 2u);
  Data data(model);
  forwardKinematics(model, data, Eigen::Vector2d(kPi / 2, 0.5));
  EXPECT_TRUE(near(data.oMi[2].translation, Vector3(0, 1, 0), kTight));
  EXPECT_TRUE(near(data.oMi[3].translation, Vector3(0, 2.5, 0), kTight));
}

TEST(ForwardKinematics, RootOnlyModel) {
  const Model model;
  Data data(model);
  scribble(data);
  forwardKinematics(model, data, Eigen::VectorXd(0));
  EXPECT_TRUE(near(data.oMi[0], identity(), 0.0));
  EXPECT_TRUE(near(data.limi[0], identity(), 0.0));
}

TEST(ForwardKinematics, RandomTreesComposeAlongTheTree) {
  std::mt19937 rng(31);
  const test::TreeOptions shapes[] = {
      {}, {.chain = true}, {.floating_base = true}, {.plain_origins = true}, {.chain = true, .plain_origins = true}};
  unsigned seed = 31;
  for (const auto& shape : shapes) {
    const Model model = test::random_tree(++seed, 12, shape);
    Data data(model);
    scribble(data);
    const Eigen::VectorXd q = test::random_configuration(model, rng);
    forwardKinematics(model, data, q);
    EXPECT_TRUE(near(data.oMi[0], identity(), 0.0));
    for (JointIndex i = 1; i < model.njoints; ++i) {
      const SE3 T = joint_transform(model.joints[i], q.data() + model.idx_q[i]);
      EXPECT_TRUE(near(data.limi[i], compose(model.jointPlacements[i], T), kTight)) << i;
      EXPECT_TRUE(near(data.oMi[i], compose(data.oMi[model.parents[i]], data.limi[i]), kTight)) << i;
    }
    // A second call leaves only its own result.
    const Eigen::VectorXd q2 = test::random_configuration(model, rng);
    Data fresh(model);
    forwardKinematics(model, data, q2);
    forwardKinematics(model, fresh, q2);
    for (JointIndex i = 0; i < model.njoints; ++i) EXPECT_TRUE(near(data.oMi[i], fresh.oMi[i], 0.0));
  }
}

TEST(ForwardKinematics, RejectsMismatchedInputsBeforeWriting) {
  const Model model = test::seven_dof_arm();
  Data data(model);
  scribble(data);
  EXPECT_THROW(forwardKinematics(model, data, Eigen::VectorXd::Zero(6)), InternalError);
  EXPECT_EQ(test::error_message<InternalError>(
                [&] { forwardKinematics(model, data, Eigen::VectorXd::Zero(8)); }),
            "Configuration vector size mismatch: expected 7, got 8");
  for (const SE3& M : data.oMi) EXPECT_TRUE(near(M, marker(), 0.0));
  for (const SE3& M : data.limi) EXPECT_TRUE(near(M, marker(), 0.0));

  Data other(test::planar_two_link());
  scribble(other);
  EXPECT_THROW(forwardKinematics(model, other, Eigen::VectorXd::Zero(7)), ValueError);
  for (const SE3& M : other.oMi) EXPECT_TRUE(near(M, marker(), 0.0));
}

// ------------------------------------------------ state checks of every entry
// Every algorithm starts with the same check of its workspace and of the
// sizes of q, v and a, which fails before anything is written.

TEST(DynamicsErrors, DataOfAnotherModelIsRejected) {
  const Model model = test::seven_dof_arm();
  const Model other = test::random_tree(2, 4, {.chain = true});
  Data data(other);
  const VectorXd q = VectorXd::Zero(7);
  Matrix6X J(6, 7);
  EXPECT_THROW(rnea(model, data, q, q, q), ValueError);
  EXPECT_THROW(non_linear_effects(model, data, q, q), ValueError);
  EXPECT_THROW(compute_gravity(model, data, q), ValueError);
  EXPECT_THROW(crba(model, data, q), ValueError);
  EXPECT_THROW(computeJointJacobians(model, data, q), ValueError);
  EXPECT_THROW(computeJointJacobian(model, data, q, 3, J), ValueError);
  EXPECT_THROW(getFrameJacobian(model, data, 0, ReferenceFrame::LOCAL, J), ValueError);
}

TEST(DynamicsErrors, WrongSizesFailBeforeWriting) {
  const Model model = test::random_tree(4, 6, {.floating_base = true});
  Data data(model);
  const auto nq = static_cast<Eigen::Index>(model.nq), nv = static_cast<Eigen::Index>(model.nv);
  const VectorXd q = VectorXd::Zero(nq), v = VectorXd::Zero(nv);
  const VectorXd q_bad = VectorXd::Zero(nq - 1), v_bad = VectorXd::Zero(nv + 1);
  const SE3 marker{2.0 * Matrix3::Ones(), Vector3(7, 7, 7)};
  std::fill(data.oMi.begin(), data.oMi.end(), marker);
  data.tau.setConstant(5.0);
  data.M.setConstant(5.0);
  data.j.setConstant(5.0);
  Matrix6X J(6, nv);
  EXPECT_THROW(rnea(model, data, q_bad, v, v), InternalError);
  EXPECT_THROW(rnea(model, data, q, v_bad, v), InternalError);
  EXPECT_THROW(rnea(model, data, q, v, v_bad), InternalError);
  EXPECT_THROW(non_linear_effects(model, data, q, v_bad), InternalError);
  EXPECT_THROW(compute_gravity(model, data, q_bad), InternalError);
  EXPECT_EQ(test::error_message<InternalError>([&] { crba(model, data, q_bad); }),
            cat("Configuration vector size mismatch: expected ", nq, ", got ", nq - 1));
  EXPECT_THROW(computeJointJacobians(model, data, q_bad), InternalError);
  EXPECT_THROW(computeJointJacobian(model, data, q_bad, 1, J), InternalError);
  for (const SE3& M : data.oMi) EXPECT_TRUE(near(M, marker, 0.0));
  EXPECT_TRUE(data.tau.isConstant(5.0) && data.M.isConstant(5.0) && data.j.isConstant(5.0));
}

}  // namespace
}  // namespace lumo

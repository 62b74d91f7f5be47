// Joint and frame Jacobians: finite differences of the placements, the three
// reference frames against each other, the single-joint Jacobian, and the
// errors for bad joint and frame indices.
#include "algorithms/configuration.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "support/algorithms.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

Matrix6X jacobian(const Model& model, const Data& data, FrameIndex frame, ReferenceFrame rf) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  getFrameJacobian(model, data, frame, rf, J);
  return J;
}

// ----------------------------------------------------------------- Jacobians

Vector3 vee(const Matrix3& S) {
  return Vector3(S(2, 1) - S(1, 2), S(0, 2) - S(2, 0), S(1, 0) - S(0, 1)) / 2;
}

TEST(Jacobians, FiniteDifferencesReferenceFramesAndTheSingleJointJacobian) {
  for (const test::NamedModel& c : test::random_tree_cases()) {
    SCOPED_TRACE(c.name);
    Model model = c.model;
    std::mt19937 rng(5);
    // Two frames per joint with different placements: these are not applied.
    for (JointIndex i = 0; i < c.model.njoints; ++i)
      for (int k = 0; k < 2; ++k) model.add_frame({"f", i, test::random_placement(rng), OP_FRAME});
    Data data(model), moved(model);
    const VectorXd q = test::random_configuration(model, rng);
    const VectorXd q_other = test::random_configuration(model, rng);
    computeJointJacobians(model, data, q);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    ASSERT_EQ(data.j.cols(), nv);

    // WORLD column k of joint i = finite-difference velocity of oMi along
    // coordinate k, about the world origin: ω from Ṙ Rᵀ, linear ṗ − ω × p
    // (zero off the support path).
    const double eps = kFdStep;
    for (Eigen::Index k = 0; k < nv; ++k) {
      const VectorXd dq = eps * VectorXd::Unit(nv, k);
      forwardKinematics(model, moved, integrate(model, q, dq));
      const std::vector<SE3> plus = moved.oMi;
      forwardKinematics(model, moved, integrate(model, q, -dq));
      for (JointIndex i = 1; i < model.njoints; ++i) {
        const SE3& M = data.oMi[i];
        const Matrix3 Rdot = (plus[i].rotation - moved.oMi[i].rotation) / (2 * eps);
        const Vector3 w = vee(Rdot * M.rotation.transpose());
        const Vector3 pdot = (plus[i].translation - moved.oMi[i].translation) / (2 * eps);
        Vector6 expected;
        expected << pdot - w.cross(M.translation), w;
        EXPECT_TRUE(near(jacobian(model, data, 2 * i + 1, ReferenceFrame::WORLD).col(k), expected,
                         kFiniteDifference))
            << "joint " << i << " column " << k;
      }
    }

    for (FrameIndex f = 1; f < model.nframes; ++f) {
      const JointIndex i = model.frames[f].parent;
      const Matrix6X world = jacobian(model, data, f, ReferenceFrame::WORLD);
      const Matrix6X local = jacobian(model, data, f, ReferenceFrame::LOCAL);
      const Matrix6X aligned = jacobian(model, data, f, ReferenceFrame::LOCAL_WORLD_ALIGNED);
      const FrameIndex twin = f % 2 ? f + 1 : f - 1;  // same joint, other placement
      EXPECT_TRUE(near(local, jacobian(model, data, twin, ReferenceFrame::LOCAL), 0.0));
      // LOCAL rotated into world axes is LOCAL_WORLD_ALIGNED; angular rows as WORLD.
      const Matrix3& R = data.oMi[i].rotation;
      EXPECT_TRUE(near(aligned.topRows<3>(), R * local.topRows<3>(), kClose));
      EXPECT_TRUE(near(aligned.bottomRows<3>(), R * local.bottomRows<3>(), kClose));
      EXPECT_TRUE(near(aligned.bottomRows<3>(), world.bottomRows<3>(), 0.0));
      // LOCAL equals the single-joint computation, whatever the workspace held before.
      Data fresh(model);
      joint_jacobian(model, fresh, q_other, i);
      EXPECT_TRUE(near(joint_jacobian(model, fresh, q, i), local, kClose));
      if (i == 0) EXPECT_TRUE(world.isZero(0.0) && local.isZero(0.0) && aligned.isZero(0.0));
    }
  }
}

// ------------------------------------------------------------------ errors

TEST(DynamicsErrors, JointAndFrameIndices) {
  const Model model = test::seven_dof_arm();
  Data data(model);
  Matrix6X J(6, 7);
  auto message = [&](auto call) { return test::error_message<ValueError>(call); };
  EXPECT_EQ(message([&] { computeJointJacobian(model, data, VectorXd::Zero(7), 8, J); }),
            "Joint ID 8 is out of range (njoints = 8)");
  EXPECT_EQ(message([&] { getFrameJacobian(model, data, 1, ReferenceFrame::WORLD, J); }),
            "Frame ID 1 out of range (max: 0)");
  Model framed = model;
  framed.add_frame({"tool", 7, SE3::Identity(), OP_FRAME});
  framed.add_frame({"broken", 9, SE3::Identity(), OP_FRAME});
  EXPECT_EQ(message([&] { getFrameJacobian(framed, data, 3, ReferenceFrame::WORLD, J); }),
            "Frame ID 3 out of range (max: 2)");
  EXPECT_EQ(message([&] { getFrameJacobian(framed, data, 2, ReferenceFrame::WORLD, J); }),
            "Frame 2 has invalid joint ID 9 (max: 7)");
}

}  // namespace
}  // namespace lumo

// Inverse dynamics, mass matrix and Jacobians: closed forms on small models,
// then physical identities and finite differences on random trees.
#include <gtest/gtest.h>

#include <Eigen/Cholesky>
#include <cmath>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "test_models.hpp"

namespace lumo {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using Vector1d = Eigen::Matrix<double, 1, 1>;
using test::near;
constexpr double kTol = 1e-10;

MatrixXd symmetric(const MatrixXd& upper) { return upper.selfadjointView<Eigen::Upper>(); }

Matrix6X jacobian(const Model& model, const Data& data, FrameIndex frame, ReferenceFrame rf) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  getFrameJacobian(model, data, frame, rf, J);
  return J;
}

Matrix6X joint_jacobian(const Model& model, Data& data, const VectorXd& q, JointIndex i) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  computeJointJacobian(model, data, q, i, J);
  return J;
}

// ------------------------------------------------------------ closed forms

TEST(DynamicsClosedForm, PrismaticAlongZCarryingTwoKilograms) {
  Model model;
  model.add_joint(0, JointModel::make(JointType::Prismatic, Vector3(0, 0, 3)), SE3::Identity(), "z");
  std::mt19937 rng(1);
  BodyInertia Y = test::random_inertia(rng);  // lever and rotational inertia do not matter
  Y.mass = 2.0;
  model.set_inertia(1, Y);
  Data data(model);
  const Vector1d q(0.4), v(1.5), a(1.0);
  EXPECT_NEAR(compute_gravity(model, data, q)[0], 19.62, kTol);
  EXPECT_TRUE(data.g[0] == data.tau[0] && std::abs(data.g[0] - 19.62) < kTol);
  EXPECT_NEAR(rnea(model, data, q, v, a)[0], 21.62, kTol);
  EXPECT_NEAR(non_linear_effects(model, data, q, v)[0], 19.62, kTol);
  EXPECT_NEAR(crba(model, data, q)(0, 0), 2.0, kTol);
}

TEST(DynamicsClosedForm, RevoluteAboutZWithPointMassOnLever) {
  const double m = 1.7, l = 0.6, w = 0.7;
  Model model;
  model.add_joint(0, JointModel::make(JointType::Revolute, Vector3::UnitZ()), SE3::Identity(), "z");
  model.set_inertia(1, {m, Vector3(l, 0, 0), {}});
  Data data(model);
  for (double angle : {0.0, 0.9, -2.5}) {
    const Vector1d q(angle);
    EXPECT_NEAR(compute_gravity(model, data, q)[0], 0.0, kTol);  // gravity parallel to the axis
    EXPECT_NEAR(non_linear_effects(model, data, q, Vector1d(3.0))[0], 0.0, kTol);
    EXPECT_NEAR(crba(model, data, q)(0, 0), m * l * l, kTol);
    EXPECT_NEAR(rnea(model, data, q, Vector1d(3.0), Vector1d(2.0))[0], 2.0 * m * l * l, kTol);
  }
  // Angular gravity w about z: the root accelerates at −w, holding the body takes −m l² w.
  model.set_gravity(Vector3::Zero());
  model.set_gravity_angular(Vector3(0, 0, w));
  EXPECT_NEAR(compute_gravity(model, data, Vector1d(0.8))[0], -m * l * l * w, kTol);
  EXPECT_TRUE(near(data.a[0].angular, Vector3(0, 0, -w), 0.0));
}

// A massless body with rotational inertia, below a massless body on a fixed
// joint: still part of the composite inertia, so rnea = M·a + nle holds.
TEST(DynamicsClosedForm, MasslessBodiesKeepTheirRotationalInertia) {
  Model model;
  model.add_joint(0, JointModel::make(JointType::Revolute, Vector3::UnitZ()), SE3::Identity(), "z");
  model.add_joint(1, JointModel::make(JointType::Fixed), SE3::Identity(), "tool");
  model.set_inertia(2, {0.0, Vector3(0.3, 0, 0), {0.1, 0, 0.2, 0, 0, 0.5}});
  Data data(model);
  const Vector1d q(0.3);
  EXPECT_NEAR(crba(model, data, q)(0, 0), 0.5, kTol);
  EXPECT_NEAR(rnea(model, data, q, Vector1d(0.0), Vector1d(1.0))[0], 0.5, kTol);
}

TEST(DynamicsClosedForm, PlanarTwoLinkArm) {
  const test::PlanarArm p{
      .l1 = 0.8, .lc1 = 0.35, .lc2 = 0.45, .m1 = 1.3, .m2 = 0.9, .I1 = 0.07, .I2 = 0.05};
  const double g = 9.81;
  Model model = test::planar_two_link(p);
  model.set_gravity(Vector3(0, -g, 0));
  Data data(model);
  const Eigen::Vector2d q(0.6, -1.1), v(0.8, -1.7), a(0.3, 2.1);
  const double c2 = std::cos(q[1]), s2 = std::sin(q[1]);
  const double c1 = std::cos(q[0]), c12 = std::cos(q[0] + q[1]);
  Eigen::Matrix2d M;
  M(0, 0) = p.I1 + p.I2 + p.m1 * p.lc1 * p.lc1 +
            p.m2 * (p.l1 * p.l1 + p.lc2 * p.lc2 + 2 * p.l1 * p.lc2 * c2);
  M(0, 1) = M(1, 0) = p.I2 + p.m2 * (p.lc2 * p.lc2 + p.l1 * p.lc2 * c2);
  M(1, 1) = p.I2 + p.m2 * p.lc2 * p.lc2;
  const double h = -p.m2 * p.l1 * p.lc2 * s2;
  const Eigen::Vector2d coriolis(h * (2 * v[0] * v[1] + v[1] * v[1]), -h * v[0] * v[0]);
  const Eigen::Vector2d gravity((p.m1 * p.lc1 + p.m2 * p.l1) * g * c1 + p.m2 * p.lc2 * g * c12,
                                p.m2 * p.lc2 * g * c12);

  const MatrixXd& stored = crba(model, data, q);
  EXPECT_TRUE(near(symmetric(stored), M, kTol));
  EXPECT_EQ(stored(1, 0), 0.0);
  EXPECT_TRUE(near(compute_gravity(model, data, q), gravity, kTol));
  EXPECT_TRUE(near(non_linear_effects(model, data, q, v), coriolis + gravity, kTol));
  EXPECT_TRUE(near(rnea(model, data, q, v, a), M * a + coriolis + gravity, kTol));
}

// ------------------------------------------------- identities on random trees

struct Case {
  std::string name;
  Model model;
};

std::vector<Case> cases() {
  std::vector<Case> out;
  for (unsigned seed : {11u, 12u, 13u}) {
    const std::string s = std::to_string(seed);
    out.push_back({"chain " + s, test::random_tree(seed, 9, {.chain = true})});
    out.push_back({"tree " + s, test::random_tree(seed, 10)});
    out.push_back({"floating " + s, test::random_tree(seed, 8, {.floating_base = true})});
  }
  out.push_back({"fixed only", test::random_tree(5, 4, {.kinds = {JointType::Fixed}})});
  out.push_back({"root only", Model()});
  return out;
}

// Potential energy of all bodies in the model's linear gravity.
double potential(const Model& model, Data& data, const VectorXd& q) {
  forwardKinematics(model, data, q);
  double U = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i)
    U -= model.inertias[i].mass *
         model.gravity.linear.dot(act_point(data.oMi[i], model.inertias[i].lever));
  return U;
}

// Central difference of f(q ⊕ t·dir) at t = 0.
template <typename F>
auto derivative(const Model& model, const VectorXd& q, const VectorXd& dir, F&& f) {
  const double eps = 1e-6;
  return ((f(integrate(model, q, eps * dir)) - f(integrate(model, q, -eps * dir))) / (2 * eps))
      .eval();
}

TEST(DynamicsIdentities, InverseDynamicsMassMatrixAndEnergy) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    std::mt19937 rng(7);
    Data data(model);
    const VectorXd q = test::random_configuration(model, rng);
    const VectorXd v = test::random_velocity(model, rng), a = test::random_velocity(model, rng);
    const auto nv = static_cast<Eigen::Index>(model.nv);

    const MatrixXd stored = crba(model, data, q);
    ASSERT_EQ(stored.rows(), nv);
    EXPECT_TRUE(stored.triangularView<Eigen::StrictlyLower>().toDenseMatrix().isZero(0.0));
    const MatrixXd M = symmetric(stored);
    if (nv > 0) EXPECT_EQ(M.llt().info(), Eigen::Success);

    // Composite inertias: the sum of the world inertias of each subtree.
    for (JointIndex i = 1; i < model.njoints; ++i) {
      double mass = 0.0;
      Vector3 moment = Vector3::Zero();
      Matrix6 Y = Matrix6::Zero();
      for (JointIndex k : model.subtrees(i)) {
        const BodyInertia& B = model.inertias[k];
        mass += B.mass;
        moment += B.mass * act_point(data.oMi[k], B.lever);
        Y += inertia_matrix(inertia_transform(data.oMi[k], B));
      }
      EXPECT_NEAR(data.world_inertia[i].mass, mass, kTol);
      if (mass > 0) EXPECT_TRUE(near(data.world_inertia[i].lever, moment / mass, kTol));
      EXPECT_TRUE(near(inertia_matrix(data.world_inertia[i]), Y, 1e-9));
    }

    const VectorXd nle = non_linear_effects(model, data, q, v);
    const VectorXd g = compute_gravity(model, data, q);
    EXPECT_TRUE(near(data.tau, g, 0.0));
    EXPECT_TRUE(near(rnea(model, data, q, VectorXd::Zero(nv), VectorXd::Zero(nv)), g, kTol));
    EXPECT_TRUE(near(rnea(model, data, q, v, VectorXd::Zero(nv)), nle, kTol));
    EXPECT_TRUE(near(rnea(model, data, q, v, a), M * a + nle, 1e-9));

    // Kinetic energy from the body velocities rnea left behind:
    // ½ (m |v_c|² + ωᵀ I_c ω) per body, v_c the velocity of the centre of mass.
    double T = 0.0;
    for (JointIndex i = 1; i < model.njoints; ++i) {
      const BodyInertia& B = model.inertias[i];
      const Vector3& w = data.v[i].angular;
      const Vector3 vc = data.v[i].linear + w.cross(B.lever);
      T += 0.5 * (B.mass * vc.squaredNorm() + w.dot(inertia_tensor(B) * w));
      // and those velocities are the local Jacobian applied to v
      EXPECT_TRUE(near(to_column(data.v[i]), joint_jacobian(model, data, q, i) * v, kTol));
    }
    EXPECT_NEAR(0.5 * v.dot(M * v), T, 1e-9);

    if (nv == 0) continue;
    // Gravity torques are the gradient of the potential energy.
    Data scratch(model);
    for (Eigen::Index k = 0; k < nv; ++k) {
      const auto dU = derivative(model, q, VectorXd::Unit(nv, k), [&](const VectorXd& x) {
        return Vector1d(potential(model, scratch, x));
      });
      EXPECT_NEAR(g[k], dU[0], 1e-6) << "coordinate " << k;
    }
    // Power balance at zero acceleration: vᵀ(nle − g) = ½ vᵀ Ṁ v.
    const MatrixXd Mdot = derivative(model, q, v, [&](const VectorXd& x) {
      return symmetric(crba(model, scratch, x));
    });
    EXPECT_NEAR(v.dot(nle - g), 0.5 * v.dot(Mdot * v), 1e-6);
  }
}

// ----------------------------------------------------------------- Jacobians

Vector3 vee(const Matrix3& S) {
  return Vector3(S(2, 1) - S(1, 2), S(0, 2) - S(2, 0), S(1, 0) - S(0, 1)) / 2;
}

TEST(Jacobians, FiniteDifferencesReferenceFramesAndTheSingleJointJacobian) {
  for (const Case& c : cases()) {
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
    const double eps = 1e-6;
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
                         1e-7))
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
      EXPECT_TRUE(near(aligned.topRows<3>(), R * local.topRows<3>(), kTol));
      EXPECT_TRUE(near(aligned.bottomRows<3>(), R * local.bottomRows<3>(), kTol));
      EXPECT_TRUE(near(aligned.bottomRows<3>(), world.bottomRows<3>(), 0.0));
      // LOCAL equals the single-joint computation, whatever the workspace held before.
      Data fresh(model);
      joint_jacobian(model, fresh, q_other, i);
      EXPECT_TRUE(near(joint_jacobian(model, fresh, q, i), local, kTol));
      if (i == 0) EXPECT_TRUE(world.isZero(0.0) && local.isZero(0.0) && aligned.isZero(0.0));
    }
  }
}

// ------------------------------------------------------------------ errors

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

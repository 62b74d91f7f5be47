// Forward dynamics and the inverse mass matrix: aba against solve(M, τ − nle)
// and rnea, with external forces against inverseDynamics, M⁻¹ against M,
// closed forms, and energy conservation along a simulated trajectory, over
// random trees, the sample models and the real robots.
#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "algorithms/aba.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/energy.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// ---------------------------------------------------------- forward dynamics

TEST(ForwardDynamics, AbaSolvesTheEquationsOfMotionAndMinverseInvertsM) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    Data data(model);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    std::mt19937 rng(3);
    double aba_err = 0.0, rnea_err = 0.0, minv_err = 0.0;
    for (int trial = 0; trial < 3; ++trial) {
      const VectorXd q = test::random_configuration(model, rng);
      const VectorXd v = test::random_velocity(model, rng), tau = test::random_velocity(model, rng, 10.0);
      const MatrixXd M = mass_matrix(model, data, q);
      const VectorXd nle = non_linear_effects(model, data, q, v);
      const VectorXd ddq = aba(model, data, q, v, tau);
      ASSERT_EQ(ddq.size(), nv);
      if (nv == 0) continue;
      const Eigen::LLT<MatrixXd> llt(M);
      const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(M, Eigen::EigenvaluesOnly);
      const double cond = eig.eigenvalues().maxCoeff() / eig.eigenvalues().minCoeff();
      if (llt.info() != Eigen::Success || !(cond < 1e12)) {  // massless moving bodies: no solution
        std::printf("[ skipped ] %s: M singular (condition %.1e)\n", c.name.c_str(), cond);
        break;
      }
      const VectorXd expected = llt.solve(tau - nle);
      const double scale = std::max(1.0, cond * 1e-6);
      const double e1 = (ddq - expected).norm() / std::max(expected.norm(), 1e-300);
      EXPECT_LT(e1, kClose * scale) << "condition " << cond;
      const VectorXd back = rnea(model, data, q, v, ddq);
      const double e2 = (back - tau).norm() / (tau.norm() + M.norm() * ddq.norm());
      EXPECT_LT(e2, kRecursion);
      const MatrixXd Minv = computeMinverse(model, data, q);
      EXPECT_TRUE(near(Minv, MatrixXd(Minv.transpose()), 0.0));
      const double e3 = (Minv * M - MatrixXd::Identity(nv, nv)).cwiseAbs().maxCoeff();
      EXPECT_LT(e3, kRoundoff * std::max(cond, 100.0)) << "condition " << cond;
      aba_err = std::max(aba_err, e1);
      rnea_err = std::max(rnea_err, e2);
      minv_err = std::max(minv_err, e3);
    }
    report(c, "aba vs solve(M, tau - nle)", aba_err);
    report(c, "rnea(aba) vs tau (relative)", rnea_err);
    report(c, "|Minv M - I|", minv_err);
  }
}

// A free body under gravity falls at g; a pendulum at rest is held by the
// torque that compute_gravity gives.
TEST(ForwardDynamics, ClosedFormsNaNAndErrors) {
  Model body;
  body.add_joint(0, JointModel::make(JointType::Floating), SE3::Identity(), "free");
  std::mt19937 rng(2);
  body.set_inertia(1, test::random_inertia(rng));
  Data data(body);
  const VectorXd q = test::random_configuration(body, rng);
  const VectorXd ddq = aba(body, data, q, VectorXd::Zero(6), VectorXd::Zero(6));
  // the centre of mass accelerates at g in the world: R (a_lin − c × a_ang) = g, a_ang = 0
  const Matrix3 R = data.oMi[1].rotation;
  EXPECT_TRUE(near(ddq.tail<3>(), Vector3::Zero(), kTight));
  EXPECT_TRUE(near(Vector3(R * ddq.head<3>()), body.gravity.linear, kTight));

  const Model arm = test::seven_dof_arm();
  Data arm_data(arm);
  const VectorXd qa = test::random_configuration(arm, rng), zero = VectorXd::Zero(7);
  EXPECT_TRUE(near(aba(arm, arm_data, qa, zero, VectorXd(compute_gravity(arm, arm_data, qa))), zero, kClose));

  VectorXd q_nan = qa;
  q_nan[2] = std::nan("");
  EXPECT_TRUE(aba(arm, arm_data, q_nan, zero, zero).hasNaN());
  EXPECT_TRUE(computeMinverse(arm, arm_data, q_nan).hasNaN());

  Data other(test::random_tree(2, 4, {.chain = true}));
  EXPECT_THROW(aba(arm, other, qa, zero, zero), ValueError);
  EXPECT_THROW(computeMinverse(arm, other, qa), ValueError);
  EXPECT_THROW(aba(arm, arm_data, VectorXd::Zero(6), zero, zero), InternalError);
  EXPECT_THROW(aba(arm, arm_data, qa, zero, VectorXd::Zero(8)), InternalError);
  EXPECT_THROW(computeMinverse(arm, arm_data, VectorXd::Zero(8)), InternalError);
}

// Memory: the inverse is not part of a fresh workspace.
TEST(ForwardDynamics, MinverseIsSizedOnFirstUse) {
  const Model model = test::random_tree(4, 6, {.chain = true});
  Data data(model);
  EXPECT_EQ(data.Minv.size(), 0);
  EXPECT_EQ(data.unit_torque_blocks.size(), 0);
  computeMinverse(model, data, test::random_configuration(model, *std::make_unique<std::mt19937>(1)));
  EXPECT_EQ(data.Minv.rows(), static_cast<Eigen::Index>(model.nv));
}

TEST(ForwardDynamics, MasslessModelHasNoSolution) {
  const Model model = test::massless_tree();
  Data data(model);
  std::mt19937 rng(4);
  const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  // No mass, no solution: the joint whose subtree moves nothing is named.
  JointIndex last = model.njoints - 1;  // the backward pass meets it first
  while (model.nv_joint[last] == 0) --last;
  const std::string why = "Joint '" + model.names[last] + "' (" + std::to_string(last) + ") moves no mass";
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { aba(model, data, q, v, v); }, [&] { computeMinverse(model, data, q); },
           [&] { computeABADerivatives(model, data, q, v, v); }})
    EXPECT_EQ(test::error_message<ValueError>(call).rfind(why, 0), 0u);
}

// forwardDynamics inverts inverseDynamics under the same external forces
// (and is aba without them, exactly); the shape of fext checked.
TEST(ForwardDynamics, ExternalForcesInvertInverseDynamics) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    Data data(model);
    std::mt19937 rng(6);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng),
                   a = test::random_velocity(model, rng);
    const Matrix6X fext = test::random_external_forces(model, rng);
    const VectorXd tau = inverseDynamics(model, data, q, v, a, fext);
    const VectorXd plain = aba(model, data, q, v, tau);
    EXPECT_EQ(forwardDynamics(model, data, q, v, tau), plain);
    EXPECT_EQ(forwardDynamics(model, data, q, v, tau, Matrix6X::Zero(6, fext.cols())), plain);
    const VectorXd& ddq = forwardDynamics(model, data, q, v, tau, fext);
    EXPECT_EQ(&ddq, &data.ddq);
    const VectorXd first = ddq;
    Eigen::Matrix<double, 8, Eigen::Dynamic> padded(8, fext.cols());  // a view into taller columns
    padded.bottomRows<2>().setConstant(1e300);
    padded.topRows<6>() = fext;
    EXPECT_EQ(forwardDynamics(model, data, q, v, tau, padded.topRows<6>()), first);
    if (model.nv == 0) continue;
    // relative to the torque scale, so that a badly conditioned M does not count
    const VectorXd back = inverseDynamics(model, data, q, v, ddq, fext);
    const double e1 = (back - tau).norm() / (tau.norm() + mass_matrix(model, data, q).norm() * a.norm());
    const double e2 = (ddq - a).cwiseAbs().maxCoeff();
    EXPECT_LT(e1, kRecursion);
    EXPECT_LT(e2, kLoose);
    report(c, "forwardDynamics(fext) torques", e1);
    report(c, "forwardDynamics(fext) - a", e2);
  }
  const Model arm = test::seven_dof_arm();
  Data data(arm);
  const VectorXd x = VectorXd::Zero(7);
  EXPECT_EQ(test::error_message<ValueError>([&] { forwardDynamics(arm, data, x, x, x, Matrix6X::Zero(6, 9)); }),
            "fext must have shape (8, 6), got (9, 6)");
}

// No torque, no damping: RK4 over integrate at 1 kHz for 2 s keeps T + U.
TEST(ForwardDynamics, SimulatedEnergyIsConserved) {
  const Model model = test::random_tree(
      8, 6, {.kinds = {JointType::Revolute, JointType::Continuous, JointType::Prismatic, JointType::Fixed}});
  Data data(model);
  std::mt19937 rng(9);
  VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  const VectorXd tau = VectorXd::Zero(static_cast<Eigen::Index>(model.nv));
  auto energy = [&] { return computeKineticEnergy(model, data, q, v) + computePotentialEnergy(model, data, q); };
  const double E0 = energy(), dt = 1e-3;
  double drift = 0.0, scale = std::abs(E0);
  for (int step = 0; step < 2000; ++step) {
    const VectorXd a1 = aba(model, data, q, v, tau);
    const VectorXd v2 = v + 0.5 * dt * a1;
    const VectorXd a2 = aba(model, data, integrate(model, q, 0.5 * dt * v), v2, tau);
    const VectorXd v3 = v + 0.5 * dt * a2;
    const VectorXd a3 = aba(model, data, integrate(model, q, 0.5 * dt * v2), v3, tau);
    const VectorXd v4 = v + dt * a3;
    const VectorXd a4 = aba(model, data, integrate(model, q, dt * v3), v4, tau);
    q = integrate(model, q, dt / 6 * (v + 2 * v2 + 2 * v3 + v4));
    v += dt / 6 * (a1 + 2 * a2 + 2 * a3 + a4);
    drift = std::max(drift, std::abs(energy() - E0));
    scale = std::max(scale, computeKineticEnergy(model, data, q, v));
  }
  EXPECT_LT(drift, kIntegrationDrift * scale);
  std::printf("[ largest ] RK4 energy drift over 2 s, relative %.2e\n", drift / scale);
}

}  // namespace
}  // namespace lumo

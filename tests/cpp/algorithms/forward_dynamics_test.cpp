// Forward dynamics, the inverse mass matrix, frame placements, centre of
// mass and centroidal momentum, energies and the configuration difference:
// identities against the mass matrix, inverse dynamics and computeAllTerms,
// finite differences, and energy conservation along a simulated trajectory,
// over random trees, the sample models and the real robots.
#include <gtest/gtest.h>

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "algorithms/aba.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/energy.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "test_models.hpp"
#include "urdf_parser/builder.hpp"

namespace lumo {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using test::near;

struct Case {
  std::string name;
  Model model;
  bool reported;  // largest errors printed (humanoid and real robots)
};

std::vector<Case> cases() {
  std::vector<Case> out;
  int k = 0;
  for (Model& m : test::floating_identity_models()) {
    const bool humanoid = m.name == "humanoid" || m.njoints > 20;
    out.push_back({humanoid ? "humanoid.urdf" : "floating tree " + std::to_string(++k), std::move(m), humanoid});
  }
  out.push_back({"tree out of depth-first order", test::random_tree(13, 10), false});
  out.push_back({"seven dof arm", test::seven_dof_arm(), false});
  out.push_back({"fixed only", test::random_tree(5, 4, {.kinds = {JointType::Fixed}}), false});
  out.push_back({"root only", Model(), false});
  const std::filesystem::path source = LUMO_SOURCE_DIR;
  for (const char* file : {"arm7.urdf", "all_joints.urdf"})
    if (std::filesystem::exists(source / "models" / file))
      out.push_back({file, parse_urdf_file((source / "models" / file).string()), false});
  const std::filesystem::path robots = source / ".." / "shared" / "robots";
  for (const char* file : {"ur5.urdf", "iiwa14.urdf", "panda.urdf", "gen3_7dof.urdf", "go1.urdf", "h1.urdf",
                           "icub.urdf", "fetch.urdf", "turtlebot3_waffle_pi.urdf"})
    if (std::filesystem::exists(robots / file))
      out.push_back({file, parse_urdf_file((robots / file).string()), true});
  return out;
}

MatrixXd mass_matrix(const Model& model, Data& data, const VectorXd& q) {
  return crba(model, data, q).selfadjointView<Eigen::Upper>();
}

// Central difference of f(q ⊕ t·dir) at t = 0.
template <typename F>
auto derivative(const Model& model, const VectorXd& q, const VectorXd& dir, F&& f) {
  const double eps = 1e-6;
  return ((f(integrate(model, q, eps * dir)) - f(integrate(model, q, -eps * dir))) / (2 * eps)).eval();
}

void report(const Case& c, const char* what, double err) {
  if (c.reported) std::printf("[ largest ] %-26s %-28s %.2e\n", c.name.c_str(), what, err);
}

// ---------------------------------------------------------- forward dynamics

TEST(ForwardDynamics, AbaSolvesTheEquationsOfMotionAndMinverseInvertsM) {
  for (const Case& c : cases()) {
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
      EXPECT_LT(e1, 1e-10 * scale) << "condition " << cond;
      const VectorXd back = rnea(model, data, q, v, ddq);
      const double e2 = (back - tau).norm() / (tau.norm() + M.norm() * ddq.norm());
      EXPECT_LT(e2, 1e-13);
      const MatrixXd Minv = computeMinverse(model, data, q);
      EXPECT_TRUE(near(Minv, MatrixXd(Minv.transpose()), 0.0));
      const double e3 = (Minv * M - MatrixXd::Identity(nv, nv)).cwiseAbs().maxCoeff();
      EXPECT_LT(e3, 1e-14 * std::max(cond, 100.0)) << "condition " << cond;
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
  EXPECT_TRUE(near(ddq.tail<3>(), Vector3::Zero(), 1e-12));
  EXPECT_TRUE(near(Vector3(R * ddq.head<3>()), body.gravity.linear, 1e-12));

  const Model arm = test::seven_dof_arm();
  Data arm_data(arm);
  const VectorXd qa = test::random_configuration(arm, rng), zero = VectorXd::Zero(7);
  EXPECT_TRUE(near(aba(arm, arm_data, qa, zero, VectorXd(compute_gravity(arm, arm_data, qa))), zero, 1e-10));

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

// ------------------------------------------- frames, centre of mass, energies

TEST(CenterOfMassAndEnergy, AgreeWithAllTermsMassMatrixAndFiniteDifferences) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    Model model = c.model;
    std::mt19937 rng(11);
    model.add_frame({"extra", model.njoints - 1, test::random_placement(rng), OP_FRAME});
    Data data(model), all(model);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    computeAllTerms(model, all, q, v);

    forwardKinematics(model, data, q);
    for (FrameIndex f = 0; f < model.nframes; ++f)
      EXPECT_TRUE(near(getFramePlacement(model, data, f),
                       compose(data.oMi[model.frames[f].parent], model.frames[f].placement), 0.0));

    EXPECT_TRUE(near(centerOfMass(model, data, q), all.com, 1e-12));
    EXPECT_TRUE(near(jacobianCenterOfMass(model, data, q), all.com_jacobian, 1e-12));
    EXPECT_TRUE(near(computeCentroidalMomentum(model, data, q, v), all.centroidal_momentum, 1e-12));
    const Matrix6X A = computeCentroidalMap(model, data, q);
    EXPECT_TRUE(near(Vector6(A * v), all.centroidal_momentum, 1e-12));
    EXPECT_TRUE(near(data.com_jacobian, all.com_jacobian, 1e-12));

    const MatrixXd M = mass_matrix(model, data, q);
    const double T = computeKineticEnergy(model, data, q, v);
    EXPECT_NEAR(T, 0.5 * v.dot(M * v), 1e-12 * std::max(1.0, T));
    const VectorXd g = compute_gravity(model, data, q);
    Data scratch(model);
    double com_err = 0.0, grad_err = 0.0;
    for (Eigen::Index k = 0; k < nv; ++k) {
      const VectorXd e = VectorXd::Unit(nv, k);
      const Vector3 dc = derivative(model, q, e, [&](const VectorXd& x) { return centerOfMass(model, scratch, x); });
      const double dU = derivative(model, q, e, [&](const VectorXd& x) {
        return Eigen::Matrix<double, 1, 1>(computePotentialEnergy(model, scratch, x));
      })[0];
      com_err = std::max(com_err, (dc - all.com_jacobian.col(k)).cwiseAbs().maxCoeff());
      grad_err = std::max(grad_err, std::abs(dU - g[k]) / std::max(1.0, std::abs(g[k])));
    }
    EXPECT_LT(com_err, 1e-7);
    EXPECT_LT(grad_err, 1e-7);
    report(c, "com Jacobian vs differences", com_err);
    report(c, "dU/dq vs gravity (relative)", grad_err);
  }
}

TEST(CenterOfMassAndEnergy, MasslessModelsAndErrors) {
  Model model = test::random_tree(6, 6, {.floating_base = true});
  for (JointIndex i = 0; i < model.njoints; ++i) model.set_inertia(i, BodyInertia::Zero());
  Data data(model);
  std::mt19937 rng(4);
  const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  EXPECT_TRUE(centerOfMass(model, data, q).isZero(0.0));
  EXPECT_TRUE(jacobianCenterOfMass(model, data, q).isZero(0.0));
  EXPECT_TRUE(computeCentroidalMap(model, data, q).isZero(0.0));
  EXPECT_TRUE(computeCentroidalMomentum(model, data, q, v).isZero(0.0));
  EXPECT_EQ(computeKineticEnergy(model, data, q, v), 0.0);
  EXPECT_EQ(computePotentialEnergy(model, data, q), 0.0);
  EXPECT_FALSE(aba(model, data, q, v, v).allFinite());  // no mass, no solution; no crash

  const Model arm = test::seven_dof_arm();
  const VectorXd qa = VectorXd::Zero(7);
  EXPECT_THROW(centerOfMass(arm, data, qa), ValueError);
  EXPECT_THROW(jacobianCenterOfMass(arm, data, qa), ValueError);
  EXPECT_THROW(computeCentroidalMap(arm, data, qa), ValueError);
  EXPECT_THROW(computeCentroidalMomentum(arm, data, qa, qa), ValueError);
  EXPECT_THROW(computeKineticEnergy(arm, data, qa, qa), ValueError);
  EXPECT_THROW(computePotentialEnergy(arm, data, qa), ValueError);
  EXPECT_THROW(getFramePlacement(arm, data, 0), ValueError);
  Data arm_data(arm);
  EXPECT_EQ(test::error_message<ValueError>([&] { getFramePlacement(arm, arm_data, 1); }),
            "Frame ID 1 out of range (max: 0)");
  EXPECT_THROW(computeCentroidalMomentum(arm, arm_data, qa, VectorXd::Zero(6)), InternalError);
  EXPECT_THROW(computeKineticEnergy(arm, arm_data, VectorXd::Zero(8), qa), InternalError);
}

// No torque, no damping: RK4 over integrate at 1 kHz for 2 s keeps T + U.
TEST(CenterOfMassAndEnergy, SimulatedEnergyIsConserved) {
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
  EXPECT_LT(drift, 1e-6 * scale);
  std::printf("[ largest ] RK4 energy drift over 2 s, relative %.2e\n", drift / scale);
}

// ------------------------------------------------------------- difference

template <typename A>
double max_abs(const Eigen::MatrixBase<A>& x) {
  return x.size() == 0 ? 0.0 : x.cwiseAbs().maxCoeff();
}

// q1 slice by slice, quaternions up to sign.
double configuration_distance(const Model& model, const VectorXd& a, const VectorXd& b) {
  double err = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const auto iq = static_cast<Eigen::Index>(model.idx_q[i]);
    const JointType type = model.joints[i].type;
    const auto nq = static_cast<Eigen::Index>(joint_nq(type));
    const Eigen::Index quat = type == JointType::Floating ? 3 : (type == JointType::Spherical ? 0 : nq);
    err = std::max(err, max_abs(a.segment(iq, quat) - b.segment(iq, quat)));
    if (quat < nq) {
      const auto qa = a.segment<4>(iq + quat), qb = b.segment<4>(iq + quat);
      err = std::max(err, std::min(max_abs(qa - qb), max_abs(qa + qb)));
    }
  }
  return err;
}

TEST(Difference, InvertsIntegrateForEveryJointKind) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    std::mt19937 rng(21);
    double err_v = 0.0, err_q = 0.0;
    for (int trial = 0; trial < 5; ++trial) {
      const VectorXd q0 = test::random_configuration(model, rng), q1 = test::random_configuration(model, rng);
      const VectorXd v = test::random_velocity(model, rng, trial == 0 ? 1e-9 : 1.8);  // rotations below π
      err_v = std::max(err_v, max_abs(difference(model, q0, integrate(model, q0, v)) - v));
      err_q = std::max(err_q, configuration_distance(model, integrate(model, q0, difference(model, q0, q1)), q1));
    }
    EXPECT_LT(err_v, 1e-10);
    EXPECT_LT(err_q, 1e-12);
    report(c, "difference(q0, q0 + v) - v", err_v);
  }
  const Model model = test::random_tree(3, 8, {.floating_base = true});
  const VectorXd q = neutral(model);
  EXPECT_TRUE(difference(model, q, q).isZero(0.0));
  EXPECT_THROW(difference(model, q, VectorXd::Zero(q.size() - 1)), InternalError);
  VectorXd small(static_cast<Eigen::Index>(model.nv) - 1);
  EXPECT_THROW(difference(model, q, q, small), InternalError);
}

}  // namespace
}  // namespace lumo

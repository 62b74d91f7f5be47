// Inverse dynamics in closed form: a prismatic joint, a revolute joint with
// a point mass, the planar two-link arm (the identities with the mass matrix
// are in crba_test.cpp); external forces against the joint Jacobians.
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

using Vector1d = Eigen::Matrix<double, 1, 1>;

TEST(DynamicsClosedForm, PrismaticAlongZCarryingTwoKilograms) {
  Model model;
  model.add_joint(0, JointModel::make(JointType::Prismatic, Vector3(0, 0, 3)), SE3::Identity(), "z");
  std::mt19937 rng(1);
  BodyInertia Y = test::random_inertia(rng);  // lever and rotational inertia do not matter
  Y.mass = 2.0;
  model.set_inertia(1, Y);
  Data data(model);
  const Vector1d q(0.4), v(1.5), a(1.0);
  EXPECT_NEAR(compute_gravity(model, data, q)[0], 19.62, kClose);
  EXPECT_TRUE(data.g[0] == data.tau[0] && std::abs(data.g[0] - 19.62) < kClose);
  EXPECT_NEAR(rnea(model, data, q, v, a)[0], 21.62, kClose);
  EXPECT_NEAR(non_linear_effects(model, data, q, v)[0], 19.62, kClose);
  EXPECT_NEAR(crba(model, data, q)(0, 0), 2.0, kClose);
}

TEST(DynamicsClosedForm, RevoluteAboutZWithPointMassOnLever) {
  const double m = 1.7, l = 0.6, w = 0.7;
  Model model;
  model.add_joint(0, JointModel::make(JointType::Revolute, Vector3::UnitZ()), SE3::Identity(), "z");
  model.set_inertia(1, {m, Vector3(l, 0, 0), {}});
  Data data(model);
  for (double angle : {0.0, 0.9, -2.5}) {
    const Vector1d q(angle);
    EXPECT_NEAR(compute_gravity(model, data, q)[0], 0.0, kClose);  // gravity parallel to the axis
    EXPECT_NEAR(non_linear_effects(model, data, q, Vector1d(3.0))[0], 0.0, kClose);
    EXPECT_NEAR(crba(model, data, q)(0, 0), m * l * l, kClose);
    EXPECT_NEAR(rnea(model, data, q, Vector1d(3.0), Vector1d(2.0))[0], 2.0 * m * l * l, kClose);
  }
  // Angular gravity w about z: the root accelerates at −w, holding the body takes −m l² w.
  model.set_gravity(Vector3::Zero());
  model.set_gravity_angular(Vector3(0, 0, w));
  EXPECT_NEAR(compute_gravity(model, data, Vector1d(0.8))[0], -m * l * l * w, kClose);
  EXPECT_TRUE(near(data.a[0].angular, Vector3(0, 0, -w), 0.0));
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
  EXPECT_TRUE(near(symmetric(stored), M, kClose));
  EXPECT_EQ(stored(1, 0), 0.0);
  EXPECT_TRUE(near(compute_gravity(model, data, q), gravity, kClose));
  EXPECT_TRUE(near(non_linear_effects(model, data, q, v), coriolis + gravity, kClose));
  EXPECT_TRUE(near(rnea(model, data, q, v, a), M * a + coriolis + gravity, kClose));
}

// τ = rnea − Σᵢ Jᵢᵀ fᵢ with Jᵢ the Jacobian of joint i in its own frame (the
// power of the external forces on the motion the joints give); no force,
// exactly rnea; column 0 (NaN) never read; the shape checked.
TEST(ExternalForces, InverseDynamicsTakesOffTheJacobianTransposedForces) {
  std::vector<NamedModel> models = random_tree_cases();
  for (NamedModel& c : robot_cases()) models.push_back(std::move(c));
  for (const NamedModel& c : models) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    Data data(model);
    std::mt19937 rng(5);
    const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                   a = random_velocity(model, rng);
    const Matrix6X fext = random_external_forces(model, rng);
    const Matrix6X zero = Matrix6X::Zero(6, static_cast<Eigen::Index>(model.njoints));
    const VectorXd tau = rnea(model, data, q, v, a);
    EXPECT_EQ(inverseDynamics(model, data, q, v, a), tau);
    EXPECT_EQ(inverseDynamics(model, data, q, v, a, zero), tau);
    VectorXd expected = tau;
    for (JointIndex i = 1; i < model.njoints; ++i)
      expected -= joint_jacobian(model, data, q, i).transpose() * fext.col(static_cast<Eigen::Index>(i));
    EXPECT_EQ(&inverseDynamics(model, data, q, v, a, fext), &data.tau);
    const VectorXd with = data.tau;
    // a view into taller columns (rows 6 and 7 between them) reads the same forces
    Eigen::Matrix<double, 8, Eigen::Dynamic> padded(8, fext.cols());
    padded.bottomRows<2>().setConstant(1e300);
    padded.topRows<6>() = fext;
    EXPECT_EQ(inverseDynamics(model, data, q, v, a, padded.topRows<6>()), with);
    if (model.nv == 0) continue;
    const double err = (with - expected).cwiseAbs().maxCoeff() / std::max(1.0, expected.cwiseAbs().maxCoeff());
    EXPECT_LT(err, kClose);
    report(c, "inverseDynamics vs rnea - J'f", err);
  }
  const Model arm = seven_dof_arm();
  Data data(arm);
  const VectorXd x = VectorXd::Zero(7);
  EXPECT_EQ(error_message<ValueError>([&] { inverseDynamics(arm, data, x, x, x, Matrix6X::Zero(6, 7)); }),
            "fext must have shape (8, 6), got (7, 6)");
}

}  // namespace
}  // namespace lumo

// The mass matrix: a massless body that keeps its rotational inertia, then
// on random trees the composite inertias, rnea = M·a + nle, the kinetic
// energy ½ vᵀMv, gravity as the gradient of the potential and the power
// balance vᵀ(nle − g) = ½ vᵀṀv.
#include <Eigen/Cholesky>
#include <cmath>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "support/algorithms.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

using Vector1d = Eigen::Matrix<double, 1, 1>;

// ------------------------------------------------------------ closed forms

// A massless body with rotational inertia, below a massless body on a fixed
// joint: still part of the composite inertia, so rnea = M·a + nle holds.
TEST(DynamicsClosedForm, MasslessBodiesKeepTheirRotationalInertia) {
  Model model;
  model.add_joint(0, JointModel::make(JointType::Revolute, Vector3::UnitZ()), SE3::Identity(), "z");
  model.add_joint(1, JointModel::make(JointType::Fixed), SE3::Identity(), "tool");
  model.set_inertia(2, {0.0, Vector3(0.3, 0, 0), {0.1, 0, 0.2, 0, 0, 0.5}});
  Data data(model);
  const Vector1d q(0.3);
  EXPECT_NEAR(crba(model, data, q)(0, 0), 0.5, kClose);
  EXPECT_NEAR(rnea(model, data, q, Vector1d(0.0), Vector1d(1.0))[0], 0.5, kClose);
}

// ------------------------------------------------- identities on random trees

// Potential energy of all bodies in the model's linear gravity.
double potential(const Model& model, Data& data, const VectorXd& q) {
  forwardKinematics(model, data, q);
  double U = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i)
    U -= model.inertias[i].mass *
         model.gravity.linear.dot(act_point(data.oMi[i], model.inertias[i].lever));
  return U;
}

TEST(DynamicsIdentities, InverseDynamicsMassMatrixAndEnergy) {
  for (const test::NamedModel& c : test::random_tree_cases()) {
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
      EXPECT_NEAR(data.world_inertia[i].mass, mass, kClose);
      if (mass > 0) EXPECT_TRUE(near(data.world_inertia[i].lever, moment / mass, kClose));
      EXPECT_TRUE(near(inertia_matrix(data.world_inertia[i]), Y, kLoose));
    }

    const VectorXd nle = non_linear_effects(model, data, q, v);
    const VectorXd g = compute_gravity(model, data, q);
    EXPECT_TRUE(near(data.tau, g, 0.0));
    EXPECT_TRUE(near(rnea(model, data, q, VectorXd::Zero(nv), VectorXd::Zero(nv)), g, kClose));
    EXPECT_TRUE(near(rnea(model, data, q, v, VectorXd::Zero(nv)), nle, kClose));
    EXPECT_TRUE(near(rnea(model, data, q, v, a), M * a + nle, kLoose));

    // Kinetic energy from the body velocities rnea left behind:
    // ½ (m |v_c|² + ωᵀ I_c ω) per body, v_c the velocity of the centre of mass.
    double T = 0.0;
    for (JointIndex i = 1; i < model.njoints; ++i) {
      const BodyInertia& B = model.inertias[i];
      const Vector3& w = data.v[i].angular;
      const Vector3 vc = data.v[i].linear + w.cross(B.lever);
      T += 0.5 * (B.mass * vc.squaredNorm() + w.dot(inertia_tensor(B) * w));
      // and those velocities are the local Jacobian applied to v
      EXPECT_TRUE(near(to_column(data.v[i]), joint_jacobian(model, data, q, i) * v, kClose));
    }
    EXPECT_NEAR(0.5 * v.dot(M * v), T, kLoose);

    if (nv == 0) continue;
    // Gravity torques are the gradient of the potential energy.
    Data scratch(model);
    for (Eigen::Index k = 0; k < nv; ++k) {
      const auto dU = derivative(model, q, VectorXd::Unit(nv, k), [&](const VectorXd& x) {
        return Vector1d(potential(model, scratch, x));
      });
      EXPECT_NEAR(g[k], dU[0], kFiniteDifferenceCoarse) << "coordinate " << k;
    }
    // Power balance at zero acceleration: vᵀ(nle − g) = ½ vᵀ Ṁ v.
    const MatrixXd Mdot = derivative(model, q, v, [&](const VectorXd& x) {
      return symmetric(crba(model, scratch, x));
    });
    EXPECT_NEAR(v.dot(nle - g), 0.5 * v.dot(Mdot * v), kFiniteDifferenceCoarse);
  }
}

}  // namespace
}  // namespace lumo

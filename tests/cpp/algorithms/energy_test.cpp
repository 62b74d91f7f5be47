// Kinetic energy against ½ vᵀMv and potential energy against the gravity
// torques (its gradient, by finite differences), over random trees, the sample
// models and the real robots; massless models and errors.
#include <cmath>

#include "algorithms/energy.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

TEST(Energy, KineticIsHalfVMVAndGravityIsTheGradientOfThePotential) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(11);
    const Model model = test::with_extra_frame(c.model, rng);
    Data data(model);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);

    const MatrixXd M = mass_matrix(model, data, q);
    const double T = computeKineticEnergy(model, data, q, v);
    EXPECT_NEAR(T, 0.5 * v.dot(M * v), kTight * std::max(1.0, T));
    const VectorXd g = compute_gravity(model, data, q);
    Data scratch(model);
    double grad_err = 0.0;
    for (Eigen::Index k = 0; k < nv; ++k) {
      const VectorXd e = VectorXd::Unit(nv, k);
      const double dU = derivative(model, q, e, [&](const VectorXd& x) {
        return Eigen::Matrix<double, 1, 1>(computePotentialEnergy(model, scratch, x));
      })[0];
      grad_err = std::max(grad_err, std::abs(dU - g[k]) / std::max(1.0, std::abs(g[k])));
    }
    EXPECT_LT(grad_err, kFiniteDifference);
    report(c, "dU/dq vs gravity (relative)", grad_err);
  }
}

TEST(Energy, MasslessModelsAndErrors) {
  const Model model = test::massless_tree();
  Data data(model);
  std::mt19937 rng(4);
  const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  EXPECT_EQ(computeKineticEnergy(model, data, q, v), 0.0);
  EXPECT_EQ(computePotentialEnergy(model, data, q), 0.0);

  const Model arm = test::seven_dof_arm();
  const VectorXd qa = VectorXd::Zero(7);
  EXPECT_THROW(computeKineticEnergy(arm, data, qa, qa), ValueError);
  EXPECT_THROW(computePotentialEnergy(arm, data, qa), ValueError);
  Data arm_data(arm);
  EXPECT_THROW(computeKineticEnergy(arm, arm_data, VectorXd::Zero(8), qa), InternalError);
}

}  // namespace
}  // namespace lumo

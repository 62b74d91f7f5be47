// Centre of mass, its Jacobian and the centroidal momentum against
// computeAllTerms and finite differences, over random trees, the sample models
// and the real robots; massless models and errors.
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/errors/errors.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

TEST(CenterOfMass, AgreesWithAllTermsAndFiniteDifferences) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(11);
    const Model model = test::with_extra_frame(c.model, rng);
    Data data(model), all(model);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    computeAllTerms(model, all, q, v);

    EXPECT_TRUE(near(centerOfMass(model, data, q), all.com, kTight));
    EXPECT_TRUE(near(jacobianCenterOfMass(model, data, q), all.com_jacobian, kTight));
    EXPECT_TRUE(near(computeCentroidalMomentum(model, data, q, v), all.centroidal_momentum, kTight));
    const Matrix6X A = computeCentroidalMap(model, data, q);
    EXPECT_TRUE(near(Vector6(A * v), all.centroidal_momentum, kTight));
    EXPECT_TRUE(near(data.com_jacobian, all.com_jacobian, kTight));

    Data scratch(model);
    double com_err = 0.0;
    for (Eigen::Index k = 0; k < nv; ++k) {
      const VectorXd e = VectorXd::Unit(nv, k);
      const Vector3 dc = derivative(model, q, e, [&](const VectorXd& x) { return centerOfMass(model, scratch, x); });
      com_err = std::max(com_err, (dc - all.com_jacobian.col(k)).cwiseAbs().maxCoeff());
    }
    EXPECT_LT(com_err, kFiniteDifference);
    report(c, "com Jacobian vs differences", com_err);
  }
}

TEST(CenterOfMass, MasslessModelsAndErrors) {
  const Model model = test::massless_tree();
  Data data(model);
  std::mt19937 rng(4);
  const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  EXPECT_TRUE(centerOfMass(model, data, q).isZero(0.0));
  EXPECT_TRUE(jacobianCenterOfMass(model, data, q).isZero(0.0));
  EXPECT_TRUE(computeCentroidalMap(model, data, q).isZero(0.0));
  EXPECT_TRUE(computeCentroidalMomentum(model, data, q, v).isZero(0.0));

  const Model arm = test::seven_dof_arm();
  const VectorXd qa = VectorXd::Zero(7);
  EXPECT_THROW(centerOfMass(arm, data, qa), ValueError);
  EXPECT_THROW(jacobianCenterOfMass(arm, data, qa), ValueError);
  EXPECT_THROW(computeCentroidalMap(arm, data, qa), ValueError);
  EXPECT_THROW(computeCentroidalMomentum(arm, data, qa, qa), ValueError);
  Data arm_data(arm);
  EXPECT_THROW(computeCentroidalMomentum(arm, arm_data, qa, VectorXd::Zero(6)), InternalError);
}

}  // namespace
}  // namespace lumo

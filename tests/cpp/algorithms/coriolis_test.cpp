// The Coriolis matrix: C·v = nle − g, linearity in v, dM/dt = C + Cᵀ, and the
// planar two-link arm in closed form.
#include "algorithms/coriolis.hpp"

#include <limits>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/algorithms.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// The shared models, one more floating-base tree, and a fixed base.
std::vector<Model> identity_models() {
  std::vector<Model> out = test::floating_identity_models();
  out.push_back(test::random_tree(7, 12, {.floating_base = true}));
  out.push_back(test::random_tree(5, 8));
  return out;
}

MatrixXd coriolis(const Model& model, Data& data, const VectorXd& q, const VectorXd& v) {
  computeCoriolisMatrix(model, data, q, v);
  return data.C;
}

TEST(Coriolis, IdentitiesOnRandomTrees) {
  std::mt19937 rng(31);
  for (const Model& model : identity_models()) {
    Data data(model), ref(model);
    data.C.setConstant(std::numeric_limits<double>::quiet_NaN());  // stale workspace
    for (int trial = 0; trial < 2; ++trial) {
      const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
      const VectorXd w = test::random_velocity(model, rng);
      const MatrixXd C = coriolis(model, data, q, v);
      const VectorXd nle = non_linear_effects(model, ref, q, v);
      EXPECT_TRUE(near(C * v, nle - compute_gravity(model, ref, q), kLoose));  // velocity torques
      EXPECT_TRUE(near(coriolis(model, data, q, 2.0 * v), 2.0 * C, kLoose));
      EXPECT_TRUE(near(coriolis(model, data, q, v + w), C + coriolis(model, data, q, w), kLoose));
      const MatrixXd M_plus = mass_matrix(model, ref, integrate(model, q, kFdStep * v));
      const MatrixXd M_dot = (M_plus - mass_matrix(model, ref, integrate(model, q, -kFdStep * v))) / (2.0 * kFdStep);
      EXPECT_TRUE(near(M_dot, C + C.transpose(), kFiniteDifferenceCoarse));
      EXPECT_TRUE(coriolis(model, data, q, VectorXd::Zero(v.size())).isZero(0.0));
    }
  }
}

TEST(Coriolis, PlanarTwoLinkClosedForm) {
  const test::PlanarArm arm{.l1 = 0.8, .lc1 = 0.3, .lc2 = 0.45, .m1 = 1.3, .m2 = 0.9, .I1 = 0.2, .I2 = 0.07};
  const Model model = test::planar_two_link(arm);
  Data data(model);
  for (const auto& [q, v] : {std::pair{Eigen::Vector2d(0.3, 1.1), Eigen::Vector2d(-0.7, 2.0)},
                             std::pair{Eigen::Vector2d(-2.0, -0.4), Eigen::Vector2d(1.5, 0.25)}}) {
    const double h = arm.m2 * arm.l1 * arm.lc2 * std::sin(q[1]);
    Eigen::Matrix2d expected;
    expected << -h * v[1], -h * (v[0] + v[1]), h * v[0], 0.0;
    EXPECT_TRUE(near(coriolis(model, data, q, v), expected, kTight));
  }
}

TEST(Coriolis, RootOnlyModelAndSizes) {
  const Model root;
  Data root_data(root);
  computeCoriolisMatrix(root, root_data, VectorXd(0), VectorXd(0));
  EXPECT_TRUE(root_data.C.rows() == 0 && root_data.C.cols() == 0);

  const Model model = test::random_tree(8, 4, {.floating_base = true});
  Data data(model);
  data.C.setConstant(7.0);
  const VectorXd q = VectorXd::Zero(model.nq), v = VectorXd::Zero(model.nv - 1);
  EXPECT_EQ(test::error_message<Error>([&] { computeCoriolisMatrix(model, data, q, v); }),
            "Velocity vector size mismatch: expected " + std::to_string(model.nv) + ", got " +
                std::to_string(v.size()));
  EXPECT_TRUE((data.C.array() == 7.0).all());
}

}  // namespace
}  // namespace lumo

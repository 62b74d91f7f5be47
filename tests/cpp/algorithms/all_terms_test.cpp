// computeAllTerms: the separate algorithms bit for bit, centroidal quantities
// against sums over the bodies, rates against finite differences.
#include "algorithms/all_terms.hpp"

#include <limits>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
#include "support/algorithms.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;
const double kStale = std::numeric_limits<double>::quiet_NaN();

// Mass, first moment Σ m c and world momentum (linear; angular about the world
// origin) of some bodies, from oMi, ov and the body inertias.
struct Sums {
  double mass = 0.0;
  Vector3 first_moment = Vector3::Zero(), linear = Vector3::Zero(), angular = Vector3::Zero();
};
Sums sums(const Model& model, const Data& data, const std::vector<JointIndex>& bodies) {
  Sums s;
  for (JointIndex b : bodies) {
    const BodyInertia& Y = model.inertias[b];
    const Matrix3& R = data.oMi[b].rotation;
    const Vector3 c = R * Y.lever + data.oMi[b].translation, w = data.ov[b].angular;
    const Vector3 p = Y.mass * (data.ov[b].linear + w.cross(c));
    s.mass += Y.mass;
    s.first_moment += Y.mass * c;
    s.linear += p;
    s.angular += R * inertia_tensor(Y) * R.transpose() * w + c.cross(p);
  }
  return s;
}

TEST(AllTerms, LeavesWhatTheSeparateAlgorithmsGive) {
  std::mt19937 rng(21);
  for (const Model& model : test::floating_identity_models()) {
    Data data(model), ref(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    data.M.setConstant(kStale);  // results must not depend on what the workspace held
    for (Matrix6X* m : {&data.j, &data.dJ, &data.momentum_matrix, &data.momentum_matrix_rate}) m->setConstant(kStale);
    computeAllTerms(model, data, q, v);
    EXPECT_EQ(data.M, crba(model, ref, q));
    EXPECT_EQ(data.nle, non_linear_effects(model, ref, q, v));
    EXPECT_EQ(data.g, compute_gravity(model, ref, q));
    EXPECT_TRUE(data.momentum_matrix.allFinite() && data.momentum_matrix_rate.allFinite());
    computeJointJacobiansTimeVariation(model, ref, q, v);
    EXPECT_EQ(data.j, ref.j);
    EXPECT_EQ(data.dJ, ref.dJ);
    for (JointIndex i = 1; i < model.njoints; ++i)
      EXPECT_TRUE(near(data.oMi[i], ref.oMi[i], 0.0) && near(data.ov[i], ref.ov[i], 0.0));
  }
}

TEST(AllTerms, CentreOfMassAndMomentaAreSumsOverTheBodies) {
  std::mt19937 rng(22);
  for (const Model& model : test::floating_identity_models()) {
    Data data(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    computeAllTerms(model, data, q, v);
    for (JointIndex i = 0; i < model.njoints; ++i) {  // subtrees include bodies on fixed joints
      const Sums sub = sums(model, data, model.subtrees(i));
      EXPECT_NEAR(data.subtree_mass[i], sub.mass, kClose);
      EXPECT_TRUE(near(data.subtree_com[i], sub.mass > 1e-10 ? Vector3(sub.first_moment / sub.mass)
                                                             : Vector3::Zero(), kClose));
      const Sums body = sums(model, data, {i});
      const Force h = model.joints[i].nv > 0 ? Force{body.angular, body.linear} : Force::Zero();
      EXPECT_TRUE(near(act_force(data.oMi[i], data.h[i]), h, kClose)) << "joint " << i;
    }
    const Sums all = sums(model, data, model.subtrees(0));
    const Vector3 com = all.first_moment / all.mass;
    EXPECT_TRUE(near(data.com, com, kClose));
    EXPECT_TRUE(near(data.momentum_matrix * v, (Vector6() << all.linear, all.angular).finished(), kClose));
    EXPECT_TRUE(near(data.com_jacobian * v, all.linear / all.mass, kClose));
    const Vector6 centroidal = (Vector6() << all.linear, all.angular - com.cross(all.linear)).finished();
    EXPECT_TRUE(near(data.centroidal_momentum, centroidal, kClose));
    Matrix3 I = Matrix3::Zero();  // whole system about its centre of mass
    for (JointIndex b = 1; b < model.njoints; ++b) {
      const BodyInertia Y = inertia_transform(data.oMi[b], model.inertias[b]);
      const Vector3 d = Y.lever - com;
      I += inertia_tensor(Y) + Y.mass * (d.squaredNorm() * Matrix3::Identity() - d * d.transpose());
    }
    EXPECT_NEAR(data.world_inertia[0].mass, all.mass, kClose);
    EXPECT_TRUE(near(data.world_inertia[0].lever, com, kClose));
    EXPECT_TRUE(near(inertia_tensor(data.world_inertia[0]), I, kClose));
    EXPECT_TRUE(near(inertia_tensor(data.centroidal_inertia), I, kClose));
    EXPECT_TRUE(data.centroidal_inertia.lever.isZero(0.0));
  }
}

TEST(AllTerms, RatesAreFiniteDifferencesAlongTheMotion) {
  std::mt19937 rng(23);
  for (const Model& model : test::floating_identity_models()) {
    Data data(model), ref(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    computeAllTerms(model, data, q, v);
    auto along = [&](const VectorXd& direction, auto field) {
      return test::derivative(model, q, direction, [&](const VectorXd& x) {
        computeAllTerms(model, ref, x, v);
        return MatrixXd(field());
      });
    };
    EXPECT_TRUE(near(data.centroidal_momentum_rate, along(v, [&] { return ref.centroidal_momentum; }), kFiniteDifferenceCoarse));
    EXPECT_TRUE(near(data.momentum_matrix_rate, along(v, [&] { return ref.momentum_matrix; }), kFiniteDifferenceCoarse));
    for (JointIndex i = 0; i < model.njoints; ++i) {  // fixed joints included
      EXPECT_TRUE(near(data.world_inertia_rate[i], along(v, [&] { return inertia_matrix(ref.world_inertia[i]); }),
                       kFiniteDifferenceCoarse)) << "joint " << i;
      EXPECT_TRUE(near(to_column(act_motion(data.oMi[i], data.a[i])), along(v, [&] { return to_column(ref.ov[i]); }),
                       kFiniteDifferenceCoarse)) << "joint " << i;
    }
    for (Eigen::Index k = 0; k < v.size(); ++k)
      EXPECT_TRUE(near(data.com_jacobian.col(k), along(VectorXd::Unit(v.size(), k), [&] { return ref.com; }), kFiniteDifferenceCoarse));
  }
}

TEST(AllTerms, RestRootOnlyAndMasslessModels) {
  const Model tree = test::random_tree(6, 10, {.floating_base = true});
  Data data(tree);
  std::mt19937 rng(24);
  computeAllTerms(tree, data, test::random_configuration(tree, rng), VectorXd::Zero(tree.nv));
  for (JointIndex i = 0; i < tree.njoints; ++i)
    EXPECT_TRUE(near(data.a[i], Motion::Zero(), 0.0) && near(data.h[i], Force::Zero(), 0.0)) << "joint " << i;
  EXPECT_EQ(test::error_message<Error>([&] { computeAllTerms(tree, data, VectorXd(3), VectorXd(tree.nv)); }),
            "Configuration vector size mismatch: expected " + std::to_string(tree.nq) + ", got 3");

  const Model root;
  Data root_data(root);
  computeAllTerms(root, root_data, VectorXd(0), VectorXd(0));
  EXPECT_TRUE(near(root_data.a_gf[0], -root.gravity, 0.0));
  EXPECT_TRUE(root_data.M.size() == 0 && root_data.com.isZero(0.0));

  Model massless;
  massless.add_joint(0, JointModel::make(JointType::Floating), SE3::Identity(), "base");
  massless.add_joint(1, JointModel::make(JointType::Revolute, Vector3::UnitX()), test::random_placement(rng), "r");
  Data empty(massless);
  computeAllTerms(massless, empty, test::random_configuration(massless, rng), test::random_velocity(massless, rng));
  EXPECT_TRUE(empty.com.isZero(0.0) && empty.com_jacobian.isZero(0.0));
  EXPECT_TRUE(empty.centroidal_momentum.allFinite() && empty.centroidal_momentum_rate.allFinite());
  EXPECT_TRUE(empty.momentum_matrix_rate.allFinite() && empty.subtree_com[0].allFinite());
}

}  // namespace
}  // namespace lumo

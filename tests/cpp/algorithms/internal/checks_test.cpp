// The checks of the arguments every algorithm starts with (check_state).
#include "algorithms/internal/checks.hpp"

#include <gtest/gtest.h>

#include <string>

#include "algorithms/aba.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/random.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// A vector of the wrong length is the caller's mistake: a ValueError that
// names it as the Python boundary does, for the third vector as for q and v.
TEST(CheckState, WrongLengthsAreValueErrors) {
  const Model model = test::random_tree(4, 6, {.floating_base = true});
  Data data(model);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  const Eigen::VectorXd q = neutral(model), v = Eigen::VectorXd::Zero(nv), bad = Eigen::VectorXd::Zero(nv + 1);
  const std::string tail = cat(" length ", nv + 1, " != nv ", nv);
  EXPECT_EQ(test::error_message<ValueError>([&] { rnea(model, data, q, v, bad); }), "a" + tail);
  EXPECT_EQ(test::error_message<ValueError>([&] { aba(model, data, q, v, bad); }), "tau" + tail);
  EXPECT_EQ(test::error_message<ValueError>([&] { computeRNEADerivatives(model, data, q, v, bad); }), "a" + tail);
  EXPECT_EQ(test::error_message<ValueError>([&] { computeABADerivatives(model, data, q, v, bad); }), "tau" + tail);
  EXPECT_THROW(non_linear_effects(model, data, q, bad), ValueError);
  EXPECT_THROW(compute_gravity(model, data, bad), ValueError);
}

// Every algorithm starts with the same check of its workspace and of the
// sizes of q, v and a, which fails before anything is written.
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

}  // namespace
}  // namespace lumo

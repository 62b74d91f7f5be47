// The checks of the arguments every algorithm starts with (check_state).
#include "algorithms/internal/checks.hpp"

#include <gtest/gtest.h>

#include <string>

#include "algorithms/aba.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/random.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

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

}  // namespace
}  // namespace lumo

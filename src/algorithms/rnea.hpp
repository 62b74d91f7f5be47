// Inverse dynamics by the recursive Newton–Euler algorithm.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// τ = M(q)·a + C(q, v)·v + g(q) under the model's gravity, into data.tau.
// Also writes limi, oMi, and per joint v, a (with the gravity offset) and
// the transmitted force f, all in the joint frame.
const Eigen::VectorXd& rnea(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a);

// rnea with a = 0: Coriolis, centrifugal and gravity torques, into data.nle
// (and data.tau).
const Eigen::VectorXd& non_linear_effects(const Model& model, Data& data,
                                          const Eigen::Ref<const Eigen::VectorXd>& q,
                                          const Eigen::Ref<const Eigen::VectorXd>& v);

// rnea with v = a = 0: gravity torques, into data.g (and data.tau).
const Eigen::VectorXd& compute_gravity(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

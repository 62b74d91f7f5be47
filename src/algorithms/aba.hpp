// Forward dynamics by the articulated-body algorithm, and the inverse of the
// joint-space mass matrix by the same recursion.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// q̈ = M(q)⁻¹ (τ − C(q, v)·v − g(q)) under the model's gravity, into
// data.ddq, in O(n) without forming M. Works in the world frame: also writes
// limi, oMi, ov, the world Jacobian j (the motion subspaces S_c) and, per
// joint, oIa (articulated inertia of the subtree), opa (its bias force), oc
// (velocity-product acceleration ov_i × S q̇_i) and oa (spatial acceleration,
// with the gravity offset oa[0] = −gravity), plus aba_U, aba_Dinv, aba_u.
// A singular articulated inertia (a massless subtree on a moving joint)
// gives non-finite accelerations.
const Eigen::VectorXd& aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau);

// M(q)⁻¹, full and symmetric, into data.Minv (sized nv×nv on first use), by
// the articulated-body recursion run for the nv unit torques at once: O(n²),
// no O(n³) inverse. Writes limi, oMi, j, oIa, aba_U, aba_Dinv and the
// scratch minv_work (6×nv per moving joint, also sized on first use).
const Eigen::MatrixXd& computeMinverse(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

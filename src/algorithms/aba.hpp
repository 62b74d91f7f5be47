// Forward dynamics by the articulated-body algorithm, and the inverse of the
// joint-space mass matrix by the same recursion.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// q̈ = M(q)⁻¹ (τ − C(q, v)·v − g(q)) under the model's gravity, into
// data.ddq, in O(n) without forming M. Works in the world frame: also writes
// limi, oMi, ov, the world Jacobian j (the motion subspaces S) and, per
// joint, aba_velocity (ov as a column), aba_velocity_product (ov_i × S q̇_i),
// aba_acceleration (with the gravity offset a_0 = −gravity),
// articulated_inertia (of the subtree), articulated_bias (its bias force),
// and per coordinate ia_times_s, joint_inertia_inv and
// joint_torque_residual. A singular articulated inertia (a massless subtree
// on a moving joint) gives non-finite accelerations.
const Eigen::VectorXd& aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau);

// The same q̈ into ddq (nv elements) instead of data.ddq; writes the rest
// of what aba writes. InternalError when ddq is not of nv elements.
void aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
         const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& tau,
         Eigen::Ref<Eigen::VectorXd> ddq);

// x = M(q)⁻¹ b (nv elements each) on the articulated-body factors that the
// last aba or forwardDynamics call on data left for q: O(njoints), two
// passes of 6-vectors. Overwrites data.articulated_bias and
// data.aba_acceleration (aba's scratch); b and x may not overlap.
void abaSolve(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& b,
              Eigen::Ref<Eigen::VectorXd> x);

// aba under the name the external-force form shares.
const Eigen::VectorXd& forwardDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& tau);

// q̈ = M(q)⁻¹ (τ + Σᵢ Jᵢᵀ fᵢ − C(q, v)·v − g(q)), into data.ddq: aba with the
// external forces fext acting on the bodies (6×njoints, column i =
// [force; torque] on joint i's body in joint i's frame about its origin,
// column 0 not read), so that it inverts inverseDynamics with the same
// fext. Writes what aba writes, articulated_bias with the forces taken off;
// the same ValueError for a joint that moves no mass, and ValueError "fext
// must have shape (njoints, 6), got (cols, 6)" when fext has other than
// njoints columns.
const Eigen::VectorXd& forwardDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& tau,
                                       const Eigen::Ref<const Matrix6X>& fext);

// M(q)⁻¹, full and symmetric, into data.Minv (sized nv×nv on first use), by
// the articulated-body recursion run for the nv unit torques at once: O(n²),
// no O(n³) inverse. Writes limi, oMi, j, articulated_inertia, ia_times_s,
// joint_inertia_inv, subtree_v_end, moving_slot and the scratch
// unit_torque_blocks (6×nv per moving joint, also sized on first use).
const Eigen::MatrixXd& computeMinverse(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

// Dynamics under a ConstraintSet: accelerations and constraint forces, the
// velocity jump of an impulse, and their analytic derivatives.
//
// With J and γ the set's Jacobian and drift (constraints.hpp), the
// constrained dynamics solves the KKT system
//   M·q̈ + nle = τ + Σᵢ Jᵢᵀfextᵢ + Jᵀλ,   J·q̈ + γ = target,
// by M = LᵀDL factorised along the tree, the Delassus matrix
// Δ = J·M⁻¹·Jᵀ (size × size) from sparse solves, and its Cholesky factor;
// O(n·size + size³), no dense O(nv³) inverse. With regularisation μ > 0 the
// proximal iteration (Δ + μE)·λₖ₊₁ = r + μ·λₖ converges to the exact
// solution, with the least-norm λ when the rows are dependent. With μ = 0,
// dependent rows raise ValueError "Constraint rows are linearly dependent:
// rows {r, …} depend on the rows before them (set regularisation > 0)".
//
// Every function checks its arguments like the unconstrained ones (the
// state sizes, a Data or a ConstraintSet of another model: ValueError) and
// allocates only on first use of a set size; NaN in, NaN out.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "constraints.hpp"

namespace lumo {

// q̈ into data.ddq (returned) and λ into data.constraint_forces; also
// data.constraint_jacobian (J), data.constraint_drift (γ),
// data.constraint_target, data.delassus (factored) and data.delassus_rows.
const VectorX& constrainedDynamics(const Model& model, Data& data, const ConstraintSet& set,
                                   const Eigen::Ref<const Eigen::VectorXd>& q,
                                   const Eigen::Ref<const Eigen::VectorXd>& v,
                                   const Eigen::Ref<const Eigen::VectorXd>& tau);

// The same under the external forces fext (6×njoints, as for
// forwardDynamics).
const VectorX& constrainedDynamics(const Model& model, Data& data, const ConstraintSet& set,
                                   const Eigen::Ref<const Eigen::VectorXd>& q,
                                   const Eigen::Ref<const Eigen::VectorXd>& v,
                                   const Eigen::Ref<const Eigen::VectorXd>& tau,
                                   const Eigen::Ref<const Matrix6X>& fext);

// The velocity after an impulsive contact: M·(v⁺ − v⁻) = Jᵀ·p,
// J·v⁺ = −restitution·J·v⁻. v⁺ into data.impulse_velocity (returned), the
// impulses p into data.constraint_forces. ValueError "restitution must be
// in [0, 1], got {e}".
const VectorX& impulseDynamics(const Model& model, Data& data, const ConstraintSet& set,
                               const Eigen::Ref<const Eigen::VectorXd>& q,
                               const Eigen::Ref<const Eigen::VectorXd>& v_before, double restitution = 0.0);

// Derivatives of constrainedDynamics, q along integrate: ∂q̈/∂q, ∂q̈/∂v,
// ∂q̈/∂τ into data.ddq_dq, data.ddq_dv, data.ddq_dtau (nv×nv) and ∂λ/∂q,
// ∂λ/∂v, ∂λ/∂τ into data.dforces_dq, data.dforces_dv, data.dforces_dtau
// (size×nv), and M⁻¹Jᵀ into data.minv_jt; q̈ and λ as constrainedDynamics
// leaves them. The forces fext
// move with their bodies, as for computeABADerivatives.
void computeConstrainedDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                           const Eigen::Ref<const Eigen::VectorXd>& q,
                                           const Eigen::Ref<const Eigen::VectorXd>& v,
                                           const Eigen::Ref<const Eigen::VectorXd>& tau);
void computeConstrainedDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                           const Eigen::Ref<const Eigen::VectorXd>& q,
                                           const Eigen::Ref<const Eigen::VectorXd>& v,
                                           const Eigen::Ref<const Eigen::VectorXd>& tau,
                                           const Eigen::Ref<const Matrix6X>& fext);

// Derivatives of impulseDynamics: ∂v⁺/∂q, ∂v⁺/∂v⁻ into data.ddq_dq,
// data.ddq_dv and ∂p/∂q, ∂p/∂v⁻ into data.dforces_dq, data.dforces_dv;
// v⁺ and p as impulseDynamics leaves them.
void computeImpulseDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                       const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v_before,
                                       double restitution = 0.0);

}  // namespace lumo

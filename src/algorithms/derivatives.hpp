// Analytic derivatives of inverse and forward dynamics, by recursions over
// the tree in the world frame.
//
// A derivative with respect to q is taken along the configuration space:
// column k is d/dε f(integrate(q, ε e_k)) at ε = 0, so every joint has nv
// columns (floating: [v; ω] in the child frame; spherical, planar and
// continuous likewise in the joint's own frame). The nv×nv results are
// sized on first use, so a workspace that never asks for derivatives does
// not hold them.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// A view of an nv×nv matrix in memory of any layout (column-major, or a
// C-ordered array: inner stride nv, outer stride 1).
using MatrixXView = Eigen::Ref<Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

// ∂τ/∂q, ∂τ/∂v and ∂τ/∂a = M (full, symmetric) of τ = rnea(q, v, a), into
// data.dtau_dq, data.dtau_dv and data.dtau_da (nv×nv each). Also writes
// limi, oMi, the world velocities data.ov and the derivative_* scratch.
void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a);

// The same for τ = inverseDynamics(q, v, a, fext): the external forces
// (6×njoints, column i = [force; torque] on joint i's body in its frame
// about its origin) held in their bodies' frames, so that they turn with
// the bodies as q moves; ∂τ/∂v and ∂τ/∂a do not depend on them. ValueError
// "fext must have shape (njoints, 6), got (cols, 6)" when fext has other
// than njoints columns.
void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a,
                            const Eigen::Ref<const Matrix6X>& fext);

// The same two into dtau_dq, dtau_dv and dtau_da instead of data.dtau_*
// (which are not written): nv×nv each, dense (column-major or C-ordered)
// and all three alike; InternalError otherwise.
void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a, MatrixXView dtau_dq,
                            MatrixXView dtau_dv, MatrixXView dtau_da);
void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a,
                            const Eigen::Ref<const Matrix6X>& fext, MatrixXView dtau_dq, MatrixXView dtau_dv,
                            MatrixXView dtau_da);

// ∂q̈/∂q, ∂q̈/∂v and ∂q̈/∂τ = M⁻¹ (full, symmetric) of q̈ = aba(q, v, τ),
// into data.ddq_dq, data.ddq_dv and data.Minv; data.ddq holds q̈ and
// data.dtau_dq, data.dtau_dv, data.dtau_da the inverse-dynamics
// derivatives at (q, v, q̈). Runs aba, then the inverse-dynamics derivative
// pass on aba's placements, and leaves what they write; then
// ∂q̈/∂x = −M⁻¹ ∂τ/∂x, by M = Lᵀ D L factorised along the tree's ancestor
// paths (data.coordinate_*, data.ldl_*) and solved for [−∂τ/∂q, −∂τ/∂v, E]
// at once, or, where those paths are long (deep chains), by
// computeMinverse and two products.
void computeABADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau);

// The same for q̈ = forwardDynamics(q, v, τ, fext), the external forces
// held in their bodies' frames as for computeRNEADerivatives with fext;
// data.dtau_* are those of inverseDynamics(q, v, q̈, fext). ValueError on
// fext as there.
void computeABADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau,
                           const Eigen::Ref<const Matrix6X>& fext);

// Vector-Jacobian products, for reverse-mode differentiation: with a
// cotangent w of the result (nv elements), gq = the gradient of wᵀ·result
// in q's coordinates (nq elements: configurationGradient of the gradient
// along integrate), and gv (nv) and the third (nv) the gradients with
// respect to v and to a or τ. rneaVJP runs the adjoint of rnea, one pass
// down and one up the tree in the world frame (O(njoints), no derivative
// matrix); abaVJP solves M λ = w on aba's articulated-body factors
// (abaSolve) and returns −λᵀ ∂τ/∂q, −λᵀ ∂τ/∂v (the adjoint at a = q̈) and λ. abaVJP leaves
// aba's results in data.
void rneaVJP(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
             const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a,
             const Eigen::Ref<const Eigen::VectorXd>& w, Eigen::Ref<Eigen::VectorXd> gq,
             Eigen::Ref<Eigen::VectorXd> gv, Eigen::Ref<Eigen::VectorXd> ga);
void abaVJP(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
            const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& tau,
            const Eigen::Ref<const Eigen::VectorXd>& w, Eigen::Ref<Eigen::VectorXd> gq,
            Eigen::Ref<Eigen::VectorXd> gv, Eigen::Ref<Eigen::VectorXd> gtau);

// ∂g/∂q of the gravity torques g = compute_gravity(q), nv×nv, into
// data.dg_dq (and returned). Also writes limi and oMi.
const Eigen::MatrixXd& computeGeneralizedGravityDerivatives(const Model& model, Data& data,
                                                            const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

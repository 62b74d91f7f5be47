// Operations on configuration vectors that respect each joint's q layout.
#pragma once

#include <Eigen/Core>

#include "../model/model.hpp"

namespace lumo {

// The reference configuration: zeros, (1, 0) for continuous and planar
// headings, identity quaternions. `out` must have nq elements.
void neutral(const Model& model, Eigen::Ref<Eigen::VectorXd> out);
Eigen::VectorXd neutral(const Model& model);

// q moved along v for unit time, joint by joint; quaternions are composed in
// the joint's own frame and brought back to unit length by one Newton step.
// q has nq elements, v nv; `out` (nq elements) may be q itself.
void integrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
               const Eigen::Ref<const Eigen::VectorXd>& v, Eigen::Ref<Eigen::VectorXd> out);
Eigen::VectorXd integrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                          const Eigen::Ref<const Eigen::VectorXd>& v);

// The v with integrate(model, q0, v) == q1, joint by joint, the exact
// inverse of integrate: q1 − q0 for revolute and prismatic joints; the signed
// angle between the (cos, sin) pairs, in (−π, π], for continuous joints; the
// planar logarithm for planar joints; for spherical and floating joints the
// rotation logarithm of r0⁻¹ r1 (angle at most π) and, floating, the
// translation R(r0)ᵀ (p1 − p0) in the joint frame. `out` has nv elements.
void difference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                const Eigen::Ref<const Eigen::VectorXd>& q1, Eigen::Ref<Eigen::VectorXd> out);
Eigen::VectorXd difference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                           const Eigen::Ref<const Eigen::VectorXd>& q1);

}  // namespace lumo

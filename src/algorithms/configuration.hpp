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

// Preconditions shared by the algorithms: InternalError unless the sizes match.
void check_configuration_size(const Model& model, Eigen::Index q_len);
void check_velocity_size(const Model& model, Eigen::Index v_len);

}  // namespace lumo

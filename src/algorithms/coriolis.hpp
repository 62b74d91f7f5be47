// The Coriolis matrix of the Lagrangian dynamics M(q)·q̈ + C(q, q̇)·q̇ + g(q) = τ.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// C(q, v) into data.C, with
//   C·v = non_linear_effects − compute_gravity,  C linear in v,
//   dM/dt = C + Cᵀ along v  (so dM/dt − 2C is skew-symmetric).
// Built in the world frame as C = Σ_b J_bᵀ (Y_b·dJ_b + B_b·J_b) with
// B = ½ (v×*·Y − Y·v× + (Y·v)×̄*), summed over subtrees. Also rewrites limi,
// oMi, v, ov, j, dJ and world_inertia (composite); momentum_matrix holds
// working values afterwards.
void computeCoriolisMatrix(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v);

}  // namespace lumo

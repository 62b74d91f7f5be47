// Every kinematic and dynamic quantity of the workspace in one call.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// For (q, v) and zero joint acceleration, fills:
//   limi, oMi, v, ov, j, dJ        as computeJointJacobiansTimeVariation;
//   a, a_gf                         bias acceleration per joint frame, without
//                                   and with gravity (a_gf[0] = −gravity);
//   h, f                            body momentum Y·v and body force
//                                   Y·a_gf + v ×* Y·v (zero on fixed joints);
//   world_inertia, world_inertia_rate  composite inertia of each subtree in the
//                                   world frame and its time derivative (entry 0:
//                                   the whole system); bodies on fixed joints count;
//   momentum_matrix, momentum_matrix_rate  columns Y_i·J_c and d/dt of them;
//   M, nle, g                       exactly what crba, non_linear_effects and
//                                   compute_gravity give;
//   subtree_mass, subtree_com, subtree_com_sum, com, com_jacobian,
//   centroidal_momentum, centroidal_momentum_rate, centroidal_inertia.
void computeAllTerms(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                     const Eigen::Ref<const Eigen::VectorXd>& v);

}  // namespace lumo

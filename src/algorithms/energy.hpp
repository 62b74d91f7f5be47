// Kinetic and potential energy of all bodies.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// T = ½ vᵀ M(q) v = Σ ½ v_iᵀ Y_i v_i over the body velocities (joint
// frames), O(n). Writes limi, oMi and v.
double computeKineticEnergy(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v);

// U = −Σ m_i g·c_i with g the model's linear gravity and c_i the world
// centre of mass of body i (zero at the world origin). Writes limi and oMi.
double computePotentialEnergy(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

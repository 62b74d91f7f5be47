// Forward kinematics: placements of every joint frame.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// For q (nq elements) writes data.limi[i] (joint i in its parent's frame)
// and data.oMi[i] (joint i in the world) for every joint; index 0 is the
// identity. One pass in index order; allocates nothing.
void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo

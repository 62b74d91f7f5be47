// The joint-space mass matrix by the composite rigid body algorithm.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// M(q) into the upper triangle and diagonal of data.M (the strict lower
// triangle is zero). Also writes what computeJointJacobians writes (limi,
// oMi, j) and in data.world_inertia[i] (i ≥ 1) the composite inertia of the
// subtree of joint i in the world frame. Correct for any tree whose parents
// precede their children, whatever the order of branches.
const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// The same M(q) into the upper triangle and diagonal of M (nv×nv,
// column-major) instead of data.M; M's strict lower triangle is not
// written. Writes the rest of what crba writes. InternalError when M is not
// nv×nv.
void crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
          Eigen::Ref<Eigen::MatrixXd> M);

}  // namespace lumo

// The joint-space mass matrix by the composite rigid body algorithm.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// M(q) into the upper triangle and diagonal of data.M (the strict lower
// triangle is zero). Runs computeJointJacobians first (data.oMi, data.j)
// and leaves in data.world_inertia[i] the composite inertia of the subtree
// of joint i in the world frame. Correct for any tree whose parents precede
// their children, whatever the order of branches.
const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// One step of the backward pass, shared with computeAllTerms: with Y the
// composite inertia of joint i's subtree (world frame) and data.j current,
//   M[r, c] = J_rᵀ·Y·J_c  for every column c of i and every column r ≤ c
// of i and of its ancestors, and zero in the rest of column c (rows of
// other branches and below the diagonal), so that column is written whole.
// Returns nothing; the momentum Y·J_c of each column is written to
// momentum.col(c) when momentum is not null.
void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum);

}  // namespace lumo

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

// data.j transposed into data.aux_jacobian_t.
void transpose_jacobian(Data& data);

// From this many velocity coordinates on, mass_matrix_columns reads the rows
// of J from its transpose, where long runs of ancestor rows lie along memory
// (below it, the transposition costs more than it saves).
constexpr Eigen::Index kRowwiseMassMatrix = 48;

// For a backward pass of mass_matrix_columns: data.j transposed and its
// storage when nv >= kRowwiseMassMatrix, else nothing (null).
const double* rows_for_mass_matrix(Data& data);

// One step of the backward pass, shared with computeAllTerms: with Y the
// composite inertia of joint i's subtree (world frame), data.j current and
// `rows` from rows_for_mass_matrix (the result is the same either way),
//   M[r, c] = J_rᵀ·Y·J_c  for every column c of i and every column r ≤ c
// of i and of its ancestors, and zero in the rest of column c (rows of
// other branches and below the diagonal), so that column is written whole.
// Returns nothing; the momentum Y·J_c of each column is written to
// momentum.col(c) when momentum is not null.
void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum, const double* rows);

}  // namespace lumo

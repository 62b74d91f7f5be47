// The passes of the mass matrix shared by crba and computeAllTerms: the
// composite inertias of the subtrees, held about the world origin where
// sums are plain additions (OriginInertia), and the columns of M they give.
// Private to src/algorithms.
#pragma once

#include "../../data/data.hpp"
#include "../../model/model.hpp"

namespace lumo {

// The root of the mass-matrix passes: no rows above the root.
inline void start_mass_matrix(Data& data) { data.ancestor_runs[0] = Data::RowRun{}; }

// What the backward pass reads besides data.j, for joint i (its parent
// done, its columns of data.j written): those columns copied into
// data.j_transposed and the runs of rows of i and its ancestors
// (data.ancestor_runs[i]).
void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i);

// With data.j and its transpose current, and Y the composite inertia of
// joint i's subtree about the origin, the rows r ≤ c of each column c of i
// in mass_matrix (nv×nv, column-major):
//   M[r, c] = J_rᵀ·Y·J_c  for the columns r of i and of its ancestors,
//   M[r, c] = 0           for the other r ≤ c (other branches);
// the rows below the diagonal are not written. The momentum Y·J_c of each
// column (world frame, [linear; angular]) goes to momentum.col(c) when
// momentum is not null.
void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const OriginInertia& Y,
                         Eigen::Ref<Eigen::MatrixXd> mass_matrix, Matrix6X* momentum);

// One step of the backward pass, with data.origin_composite[i] the
// composite of i's subtree: its columns of M, upper triangle, into
// mass_matrix (mass_matrix_columns), then Y_λ += Y_i (into entry 0 only
// when into_root), and world_inertia[i] = Y_i about its centre of mass.
void composite_step(const Model& model, Data& data, JointIndex i, Eigen::Ref<Eigen::MatrixXd> mass_matrix,
                    Matrix6X* momentum, bool into_root);

}  // namespace lumo

// The mass matrix by composite inertias (crba), written over the scalar of
// the state like rnea_pass.hpp. Private to src/algorithms.
#pragma once

#include "composite_inertia.hpp"
#include "forward_pass.hpp"

namespace lumo {

// M(q), upper triangle and diagonal, into M (column-major, leading
// dimension ld); the checks made.
template <class S, class Work>
void mass_matrix_pass(const Model& model, Work& data, const S* q, S* M, std::size_t ld) {
  start_forward_pass(model, data, q);
  start_mass_matrix(data);
  // Forward pass: what computeJointJacobians computes (limi, oMi, J_c =
  // oMi·S_k), the runs of ancestor rows, and each body's inertia about
  // the world origin, Y_i = oMi·Y_body.
  S* const J = data.j.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q);
    world_subspace_columns(model.joints[i], data.oMi[i], J + 6 * model.idx_v[i]);
    mass_matrix_forward_step(model, data, i);
    data.origin_composite[i] = origin_inertia_transform(data.oMi[i], model.inertias[i]);
  }

  // Backward pass: with Y_i the composite inertia of i's subtree about the
  // world origin, M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and
  // the columns r of i and its ancestors; then Y_λ += Y_i, a plain sum about
  // the common point. Entries above the diagonal off the paths are zero.
  for (JointIndex i = model.njoints - 1; i >= 1; --i)
    composite_step(model, data, i, M, ld, static_cast<S*>(nullptr), false);
}

}  // namespace lumo

// The joint-space mass matrix by the composite rigid body algorithm.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// M(q) into the upper triangle and diagonal of data.M (the strict lower
// triangle is zero). Computes on the way what computeJointJacobians does
// (data.limi, data.oMi, data.j)
// and leaves in data.world_inertia[i] the composite inertia of the subtree
// of joint i in the world frame. Correct for any tree whose parents precede
// their children, whatever the order of branches.
const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// What a backward pass of mass_matrix_columns reads besides data.j, for
// joint i (its parent done, its columns of data.j written): those columns
// copied into data.aux_jacobian_t (nv×6, the transpose of J, where the rows
// of J lie along memory) and the runs of rows of i and its ancestors
// (data.run_lo, run_hi, run_rest).
void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i);

// The composite inertias of the backward passes are held about the world
// origin, where sums are plain additions: mass m, first moment h = m·c in
// `lever` and the rotational inertia about the origin, I_c + m (|c|² E − c cᵀ).
// to_origin_form turns a world-frame inertia (mass, centre of mass, inertia
// about it) into that form in place; to_centre_form turns it back (a
// massless one gets the centre 0).
inline void to_origin_form(BodyInertia& Y) {
  // I_o = I_c + m (|c|² E − c cᵀ), h = m c
  const Vector3 c = Y.lever, h = Y.mass * c;
  auto& I = Y.inertia;
  I[0] += h.y() * c.y() + h.z() * c.z();
  I[1] -= h.y() * c.x();
  I[2] += h.x() * c.x() + h.z() * c.z();
  I[3] -= h.z() * c.x();
  I[4] -= h.z() * c.y();
  I[5] += h.x() * c.x() + h.y() * c.y();
  Y.lever = h;
}

inline void to_centre_form(BodyInertia& Y) {
  // c = h / m, I_c = I_o − m (|c|² E − c cᵀ); without mass, c = 0 and I_c = I_o
  if (Y.mass <= 0.0) {
    Y.lever.setZero();
    return;
  }
  const Vector3 h = Y.lever, c = h / Y.mass;
  auto& I = Y.inertia;
  I[0] -= h.y() * c.y() + h.z() * c.z();
  I[1] += h.y() * c.x();
  I[2] -= h.x() * c.x() + h.z() * c.z();
  I[3] += h.z() * c.x();
  I[4] += h.z() * c.y();
  I[5] -= h.x() * c.x() + h.y() * c.y();
  Y.lever = c;
}

// One step of a backward pass, with data.j and its transpose current and
// the entries of data.M it does not write zero: with Y the composite
// inertia of joint i's subtree about the origin,
//   M[r, c] = J_rᵀ·Y·J_c  for every column c of i and every column r ≤ c
// of i and of its ancestors (the other rows of column c belong to other
// branches or lie below the diagonal, and stay zero). The momentum Y·J_c of
// each column (world frame, [linear; angular]) goes to momentum.col(c) when
// momentum is not null.
void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum);

// The step of the backward pass shared by crba and computeAllTerms:
// data.world_inertia[i] holds the composite of i's subtree in origin form;
// writes its columns of M (mass_matrix_columns), adds it to its parent's
// (to entry 0 only when into_root) and leaves world_inertia[i] in the
// centre form (mass, centre of mass, inertia about it; world frame).
void composite_step(const Model& model, Data& data, JointIndex i, Matrix6X* momentum, bool into_root);

}  // namespace lumo

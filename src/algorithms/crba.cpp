#include "crba.hpp"

#include <algorithm>

#include "jacobians.hpp"

namespace lumo {
namespace {

// J_rᵀ·F for the [linear; angular] column at J: the same sums, in the same
// order, as project(column, F).
inline double project_raw(const double* J, const Force& F) {
  return ((J[0] * F.force[0] + J[1] * F.force[1]) + J[2] * F.force[2]) +
         ((J[3] * F.moment[0] + J[4] * F.moment[1]) + J[5] * F.moment[2]);
}

}  // namespace

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum) {
  const std::size_t nvi = model.nv_joint[i];
  if (nvi == 0) return;
  const std::size_t iv = model.idx_v[i];
  const auto ld = static_cast<std::size_t>(data.M.rows());
  const std::size_t n = static_cast<std::size_t>(data.M.cols());
  double* const M = data.M.data();
  const double* const J = data.j.data();

  Force F[6];  // Y·J_c for the joint's columns (a joint has at most 6)
  for (std::size_t k = 0; k < nvi; ++k) {
    const auto c = static_cast<Eigen::Index>(iv + k);
    F[k] = inertia_apply(Y, from_column(data.j.col(c)));
    if (momentum != nullptr) momentum->col(c) << F[k].force, F[k].moment;
  }
  // Own columns r ≤ c; below the diagonal stays zero.
  for (std::size_t k = 0; k < nvi; ++k) {
    double* col = M + (iv + k) * ld;
    for (std::size_t kr = 0; kr <= k; ++kr) col[iv + kr] = project_raw(J + 6 * (iv + kr), F[k]);
    std::fill(col + iv + k + 1, col + n, 0.0);
  }
  // Every column of every ancestor; the rows between them belong to joints
  // off the path to the root (other branches), whose entries are zero.
  std::size_t hi = iv;  // rows [hi, iv) are done
  for (JointIndex a = model.parents[i]; a != 0; a = model.parents[a]) {
    const std::size_t av = model.idx_v[a], an = model.nv_joint[a];
    for (std::size_t k = 0; k < nvi; ++k) {
      double* col = M + (iv + k) * ld;
      for (std::size_t r = av + an; r < hi; ++r) col[r] = 0.0;
      for (std::size_t kr = 0; kr < an; ++kr) col[av + kr] = project_raw(J + 6 * (av + kr), F[k]);
    }
    hi = av;
  }
  for (std::size_t k = 0; k < nvi; ++k)
    for (std::size_t r = 0; r < hi; ++r) M[(iv + k) * ld + r] = 0.0;
}

const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  computeJointJacobians(model, data, q);
  data.world_inertia[0] = BodyInertia::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i)
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);

  // Backward pass: with Y_i the composite inertia of i's subtree (world
  // frame), M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and the
  // columns r of i and its ancestors; then Y_λ += Y_i. Each column of M is
  // written whole (zeros off the path and below the diagonal), so no
  // clearing pass is needed.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    mass_matrix_columns(model, data, i, data.world_inertia[i], nullptr);
    const JointIndex p = model.parents[i];
    if (p != 0) composite_merge(data.world_inertia[p], data.world_inertia[i]);
  }
  return data.M;
}

}  // namespace lumo

#include "crba.hpp"

#include "jacobians.hpp"

namespace lumo {

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const BodyInertia& Y,
                         Matrix6X* momentum) {
  for (std::size_t k = 0; k < model.nv_joint[i]; ++k) {
    const auto c = static_cast<Eigen::Index>(model.idx_v[i] + k);
    const Force F = inertia_apply(Y, from_column(data.j.col(c)));  // Y·J_c
    if (momentum != nullptr) momentum->col(c) << F.force, F.moment;
    // Own columns r ≤ c, then every column of every ancestor.
    for (std::size_t kr = 0; kr <= k; ++kr) {
      const auto r = static_cast<Eigen::Index>(model.idx_v[i] + kr);
      data.M(r, c) = project(data.j.col(r), F);
    }
    for (JointIndex a = model.parents[i]; a != 0; a = model.parents[a]) {
      for (std::size_t kr = 0; kr < model.nv_joint[a]; ++kr) {
        const auto r = static_cast<Eigen::Index>(model.idx_v[a] + kr);
        data.M(r, c) = project(data.j.col(r), F);
      }
    }
  }
}

const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  computeJointJacobians(model, data, q);
  data.world_inertia[0] = BodyInertia::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i)
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);
  data.M.setZero();

  // Backward pass: with Y_i the composite inertia of i's subtree (world
  // frame), M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and the
  // columns r of i and its ancestors; then Y_λ += Y_i.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    mass_matrix_columns(model, data, i, data.world_inertia[i], nullptr);
    const JointIndex p = model.parents[i];
    if (p != 0) inertia_merge(data.world_inertia[p], data.world_inertia[i]);
  }
  return data.M;
}

}  // namespace lumo

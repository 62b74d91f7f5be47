#include "coriolis.hpp"

#include "internal/forward_pass.hpp"

namespace lumo {
namespace {

// B(Y, V) = ½ (V×*·Y − Y·V× + (Y·V)×̄*), [linear; angular], where
// (f×̄*)·x = x ×* f for a force f = (force, moment).
Matrix6 coriolis_block(const BodyInertia& Y, const Motion& V) {
  Matrix6 B = inertia_variation(Y, V);
  const Force f = inertia_apply(Y, V);
  const Matrix3 F = skew(f.force), N = skew(f.moment);
  B.topRightCorner<3, 3>() -= F;
  B.bottomLeftCorner<3, 3>() -= F;
  B.bottomRightCorner<3, 3>() -= N;
  return 0.5 * B;
}

}  // namespace

void computeCoriolisMatrix(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  std::vector<Matrix6>& Yc = data.oYc;  // composite Y of each subtree
  std::vector<Matrix6>& Bc = data.oBc;  // composite B of each subtree

  // Forward pass: what computeJointJacobiansTimeVariation computes, then the
  // world inertia of each body and its block B.
  data.v[0] = Motion::Zero();
  data.world_inertia[0] = BodyInertia::Zero();
  compute_joint_sincos(model, data, q.data());
  for (JointIndex i = 1; i < model.njoints; ++i) {
    time_variation_step(model, data, i, q.data(), v.data());
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);
    Yc[i] = inertia_matrix(data.world_inertia[i]);
    Bc[i] = coriolis_block(data.world_inertia[i], data.ov[i]);
  }

  // Backward pass. For a column c of joint i and a column r of i or of an
  // ancestor, the bodies seeing both are i's subtree:
  //   C[r, c] = J_rᵀ·(Yc_i·dJ_c + Bc_i·J_c);
  // for a column r of i and c of a strict ancestor:
  //   C[r, c] = (Yc_i·J_r)·dJ_c + (Bc_iᵀ·J_r)·J_c.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const std::size_t nv_i = model.nv_joint[i];
    for (std::size_t k = 0; k < nv_i; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[i] + k);
      const Vector6 Jc = data.j.col(c);
      data.momentum_matrix.col(c).noalias() = Yc[i] * Jc;
      Vector6 F = Bc[i] * Jc;
      F.noalias() += Yc[i] * data.dJ.col(c);
      const Vector6 G = Bc[i].transpose() * Jc;  // row c against ancestor columns
      const Vector6& H = data.momentum_matrix.col(c);
      for (std::size_t kr = 0; kr < nv_i; ++kr) {
        const auto r = static_cast<Eigen::Index>(model.idx_v[i] + kr);
        data.C(r, c) = data.j.col(r).dot(F);
      }
      // Columns r of joints off the path to the root that come before i
      // (other branches) are unrelated to c: C[r, c] = C[c, r] = 0. Together
      // with the entries written here and by i's descendants, every entry
      // of C is written once, so C needs no clearing first.
      auto clear = [&](Eigen::Index lo, Eigen::Index hi) {
        for (Eigen::Index r = lo; r < hi; ++r) data.C(r, c) = data.C(c, r) = 0.0;
      };
      auto hi = static_cast<Eigen::Index>(model.idx_v[i]);
      for (JointIndex a = model.parents[i]; a != 0; a = model.parents[a]) {
        const auto av = static_cast<Eigen::Index>(model.idx_v[a]);
        const auto an = static_cast<Eigen::Index>(model.nv_joint[a]);
        clear(av + an, hi);
        for (Eigen::Index r = av; r < av + an; ++r) {
          data.C(r, c) = data.j.col(r).dot(F);
          data.C(c, r) = H.dot(data.dJ.col(r)) + G.dot(data.j.col(r));
        }
        hi = av;
      }
      clear(0, hi);
    }
    const JointIndex p = model.parents[i];
    if (p != 0) {
      Yc[p] += Yc[i];
      Bc[p] += Bc[i];
      composite_merge(data.world_inertia[p], data.world_inertia[i]);
    }
  }
}

}  // namespace lumo

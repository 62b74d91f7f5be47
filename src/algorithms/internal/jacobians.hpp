// What the Jacobian readers share. Private to src/algorithms.
#pragma once

#include "../../model/model.hpp"
#include "forward_pass.hpp"
#include "../jacobians.hpp"

namespace lumo {

// The joint Jacobians in the world (computeJointJacobians): limi, oMi and
// the columns J_c = oMi·S_k into data.j (6×nv, column-major). Every column
// belongs to one joint, so each is written once and none needs clearing.
template <class S, class Work>
[[gnu::always_inline]] inline void joint_jacobians_pass(const Model& model, Work& data, const S* q) {
  start_forward_pass(model, data, q);
  S* const J = data.j.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q);
    world_subspace_columns(model.joints[i], data.oMi[i], J + 6 * model.idx_v[i]);
  }
}

// The same passes over some joints only, each listed after its parent (the
// joints some frames hang from and their ancestors): what those frames'
// placements and Jacobians read, each entry as the whole pass makes it.
template <class S, class Work>
void placement_pass(const Model& model, Work& data, const S* q, const std::vector<JointIndex>& joints) {
  start_forward_pass(model, data, q, joints);
  for (const JointIndex i : joints) forward_step(model, data, i, q);
}
template <class S, class Work>
void joint_jacobians_pass(const Model& model, Work& data, const S* q, const std::vector<JointIndex>& joints) {
  start_forward_pass(model, data, q, joints);
  S* const J = data.j.data();
  for (const JointIndex i : joints) {
    forward_step(model, data, i, q);
    world_subspace_columns(model.joints[i], data.oMi[i], J + 6 * model.idx_v[i]);
  }
}

// The Jacobian of joint joint_id in rf from the world columns j (6×nv,
// column-major) and the joint's placement oMF: the columns of the joint and
// its ancestors into J (6×nv, cleared by the caller), the others left.
template <class S, class Columns>
[[gnu::always_inline]] inline void joint_jacobian_columns(const Model& model, const S* j, const SE3T<S>& oMF, JointIndex joint_id,
                                                          ReferenceFrame rf, Columns&& J) {
  using Column = Eigen::Matrix<S, 6, 1>;
  for (JointIndex cur = joint_id; cur != 0; cur = model.parents[cur]) {
    for (std::size_t k = 0; k < model.nv_joint[cur]; ++k) {
      const std::size_t c = model.idx_v[cur] + k;
      const Column col = Eigen::Map<const Column>(j + 6 * c);
      auto out = J.col(static_cast<Eigen::Index>(c));
      switch (rf) {
        case ReferenceFrame::WORLD:
          out = col;
          break;
        case ReferenceFrame::LOCAL:
          out = act_inv_column(oMF, col);
          break;
        default: {  // world axes about the frame's origin: l − p × w
          const Vector3T<S> w = col.template tail<3>();
          out.template head<3>() = col.template head<3>() - oMF.translation.cross(w);
          out.template tail<3>() = w;
          break;
        }
      }
    }
  }
}

// Checks that J is 6×nv (InternalError otherwise) and clears it.
void prepare_jacobian_output(const Model& model, Matrix6XView J);

}  // namespace lumo

#include "all_terms.hpp"

#include "internal/composite_inertia.hpp"
#include "internal/forward_pass.hpp"

namespace lumo {

void computeAllTerms(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                     const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  std::vector<Force>& f_nle = data.f_nle;
  std::vector<Force>& f_g = data.f_g;
  std::vector<Motion>& a_g = data.a_g;
  std::vector<OriginInertia>& Y_o = data.origin_composite;

  data.v[0] = Motion::Zero();
  data.a[0] = Motion::Zero();
  data.h[0] = Force::Zero();
  data.a_gf[0] = -model.gravity;
  a_g[0] = -model.gravity;
  Y_o[0] = OriginInertia::Zero();
  data.world_inertia_rate[0].setZero();
  start_mass_matrix(data);
  compute_joint_sincos(model, data, q.data());

  // One forward pass, per joint: what computeJointJacobiansTimeVariation
  // computes (limi, oMi, v, ov, columns of j and dJ), then in the joint frame
  //   a_i = limi⁻¹·a_λ + v_i × S q̇_i   (a_gf likewise, from −gravity)
  //   f_i = Y_i·a_gf_i + v_i ×* (Y_i·v_i)   (f_nle: the same on every joint)
  //   f_g_i = Y_i·a_g_i,  a_g_i = limi⁻¹·a_g_λ   (gravity alone)
  // and in the world frame: Y_i about the origin and its rate
  // v_i×*·Y_i − Y_i·v_i×.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    time_variation_step(model, data, i, q.data(), v.data());
    mass_matrix_forward_step(model, data, i);
    const JointModel& joint = model.joints[i];
    const JointIndex p = model.parents[i];
    const SE3& limi = data.limi[i];
    const BodyInertia& Y = model.inertias[i];
    const Motion& vi = data.v[i];
    const Motion bias = joint_velocity_product(joint, vi, v.data() + model.idx_v[i]);
    data.a[i] = act_inv_motion(limi, data.a[p]);
    data.a[i] += bias;
    data.a_gf[i] = act_inv_motion(limi, data.a_gf[p]);
    data.a_gf[i] += bias;
    Force body = inertia_apply(Y, data.a_gf[i]);
    const Force momentum = inertia_apply(Y, vi);
    body += motion_cross_force(vi, momentum);
    f_nle[i] = body;
    a_g[i] = act_inv_motion(limi, a_g[p]);
    f_g[i] = inertia_apply(Y, a_g[i]);
    // A fixed joint reports no momentum or force of its own: its body is
    // counted in its parent's composite.
    data.h[i] = joint_moves(joint) ? momentum : Force::Zero();
    data.f[i] = joint_moves(joint) ? body : Force::Zero();
    const BodyInertia Y_world = inertia_transform(data.oMi[i], Y);
    data.world_inertia_rate[i] = inertia_variation(Y_world, data.ov[i]);
    Y_o[i] = origin_form(Y_world);  // for the sums of the backward pass
  }

  // Backward pass: columns of M and of the momentum matrices from the
  // composite inertias; τ = Sᵀ f; then everything passes to the parent.
  // Every column of momentum_matrix and momentum_matrix_rate belongs to one
  // joint and is written whole, as is M's upper triangle (zero off the
  // paths to the root); its strict lower triangle is zero.
  data.M.setZero();
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointModel& joint = model.joints[i];
    const JointIndex p = model.parents[i];
    // Columns of M and momentum_matrix; Y_λ += Y_i about the origin, and
    // world_inertia[i] = Y_i about its centre of mass.
    composite_step(model, data, i, data.M, &data.momentum_matrix, true);
    // d/dt (Y·J_c) = Ẏ·J_c + Y·dJ_c, where Ẏ = [[0, S], [−S, B]] (top-left
    // block zero, as for each body) and Y·dJ_c is a body momentum.
    const Matrix6& Yd = data.world_inertia_rate[i];
    for (std::size_t k = 0; k < joint.nv; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[i] + k);
      const Vector3 l = data.j.col(c).head<3>(), w = data.j.col(c).tail<3>();
      const Force YdJ = inertia_apply(data.world_inertia[i], from_column(data.dJ.col(c)));
      auto out = data.momentum_matrix_rate.col(c);
      out.head<3>().noalias() = Yd.topRightCorner<3, 3>() * w;
      out.head<3>() += YdJ.force;
      out.tail<3>().noalias() = Yd.bottomLeftCorner<3, 3>() * l;
      out.tail<3>().noalias() += Yd.bottomRightCorner<3, 3>() * w;
      out.tail<3>() += YdJ.moment;
    }
    joint_project(joint, f_nle[i], data.nle.data() + model.idx_v[i]);  // τ_i = Sᵀ f_i
    joint_project(joint, f_g[i], data.g.data() + model.idx_v[i]);
    if (p != 0) {
      f_nle[p] += act_force(data.limi[i], f_nle[i]);  // f_λ += limi·f_i
      f_g[p] += act_force(data.limi[i], f_g[i]);
    }
    data.world_inertia_rate[p] += data.world_inertia_rate[i];
  }
  data.world_inertia[0] = centre_form(Y_o[0]);

  // Centroidal quantities, from the composite inertias (entry 0: everything).
  for (JointIndex i = 0; i < model.njoints; ++i) {
    const BodyInertia& Y = data.world_inertia[i];
    data.subtree_mass[i] = Y.mass;
    data.subtree_com[i] = Y.mass > 1e-10 ? Y.lever : Vector3::Zero();
    data.subtree_com_sum[i] = Y.mass * data.subtree_com[i];
  }
  const double mass = data.subtree_mass[0];
  data.centroidal_inertia = data.world_inertia[0];
  data.centroidal_inertia.lever.setZero();
  if (mass > 1e-10) {
    data.com = data.world_inertia[0].lever;
    data.com_jacobian = data.momentum_matrix.topRows<3>() / mass;
  } else {
    data.com.setZero();
    data.com_jacobian.setZero();
  }
  // Momentum about the world origin, moved to the centre of mass:
  //   h_G = (h_lin, h_ang − c × h_lin), and the same for its rate (ċ × m ċ = 0).
  const Vector6 h = data.momentum_matrix * v;
  const Vector6 h_dot = data.momentum_matrix_rate * v;
  data.centroidal_momentum << h.head<3>(), h.tail<3>() - data.com.cross(Vector3(h.head<3>()));
  data.centroidal_momentum_rate << h_dot.head<3>(),
      h_dot.tail<3>() - data.com.cross(Vector3(h_dot.head<3>()));
}

}  // namespace lumo

#include "energy.hpp"

#include "internal/forward_pass.hpp"
#include "kinematics.hpp"

namespace lumo {

double computeKineticEnergy(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  start_forward_pass(model, data, q.data());
  // Forward pass: v_i = limi⁻¹·v_λ + S q̇_i;  T += ½ v_i·(Y_i v_i).
  double T = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
    Motion& vi = data.v[i];
    vi = act_inv_motion(data.limi[i], data.v[model.parents[i]]);
    add_joint_velocity(model.joints[i], v.data() + model.idx_v[i], vi);
    const Force h = inertia_apply(model.inertias[i], vi);
    T += h.moment.dot(vi.angular) + h.force.dot(vi.linear);
  }
  return 0.5 * T;
}

double computePotentialEnergy(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  forwardKinematics(model, data, q);
  // U = −Σ m_i g·c_i, c_i the world centre of mass of body i.
  double U = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const BodyInertia& Y = model.inertias[i];
    U -= Y.mass * model.gravity.linear.dot(act_point(data.oMi[i], Y.lever));
  }
  return U;
}

}  // namespace lumo

#include "center_of_mass.hpp"

#include "internal/forward_pass.hpp"
#include "jacobians.hpp"
#include "kinematics.hpp"

namespace lumo {
namespace {

// Σ m_i c_i / Σ m_i over the bodies at the placements in data.oMi (zero
// when the total mass is at or below 1e-10); returns the total mass.
double center_of_mass_from_placements(const Model& model, Data& data) {
  double mass = 0.0;
  Vector3 moment = Vector3::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const BodyInertia& Y = model.inertias[i];
    mass += Y.mass;
    moment += Y.mass * act_point(data.oMi[i], Y.lever);
  }
  if (mass > 1e-10) {
    data.com = moment / mass;
  } else {
    data.com.setZero();
  }
  return mass;
}

// The world momentum matrix Y_sub(i)·J_c of every column c (composite
// inertias as crba forms them) into data.momentum_matrix, and the centre of
// mass; returns the total mass.
double momentum_columns(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  computeJointJacobians(model, data, q);
  data.world_inertia[0] = BodyInertia::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i)
    data.world_inertia[i] = inertia_transform(data.oMi[i], model.inertias[i]);
  // Backward pass: Y_λ += Y_i, after the columns of i have taken Y_i·J_c.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const BodyInertia& Y = data.world_inertia[i];
    for (std::size_t k = 0; k < model.nv_joint[i]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[i] + k);
      const Force F = inertia_apply(Y, from_column(data.j.col(c)));
      data.momentum_matrix.col(c) << F.force, F.moment;
    }
    composite_merge(data.world_inertia[model.parents[i]], Y);
  }
  const double mass = data.world_inertia[0].mass;
  data.com = mass > 1e-10 ? data.world_inertia[0].lever : Vector3::Zero();
  return mass;
}

}  // namespace

const Vector3& centerOfMass(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  forwardKinematics(model, data, q);
  center_of_mass_from_placements(model, data);
  return data.com;
}

const Matrix3X& jacobianCenterOfMass(const Model& model, Data& data,
                                     const Eigen::Ref<const Eigen::VectorXd>& q) {
  const double mass = momentum_columns(model, data, q);
  // d c / d v = (rows 0–2 of the momentum matrix) / total mass
  if (mass > 1e-10) {
    data.com_jacobian = data.momentum_matrix.topRows<3>() / mass;
  } else {
    data.com_jacobian.setZero();
  }
  return data.com_jacobian;
}

const Matrix6X& computeCentroidalMap(const Model& model, Data& data,
                                     const Eigen::Ref<const Eigen::VectorXd>& q) {
  const double mass = momentum_columns(model, data, q);
  // Momentum about the world origin moved to the centre of mass:
  //   A_G column = (l, n − c × l).
  const Vector3& c = data.com;
  for (Eigen::Index k = 0; k < data.momentum_matrix.cols(); ++k) {
    const Vector3 l = data.momentum_matrix.col(k).head<3>();
    data.centroidal_map.col(k).head<3>() = l;
    data.centroidal_map.col(k).tail<3>() = data.momentum_matrix.col(k).tail<3>() - c.cross(l);
  }
  if (mass > 1e-10) {
    data.com_jacobian = data.momentum_matrix.topRows<3>() / mass;
  } else {
    data.com_jacobian.setZero();
  }
  return data.centroidal_map;
}

const Vector6& computeCentroidalMomentum(const Model& model, Data& data,
                                         const Eigen::Ref<const Eigen::VectorXd>& q,
                                         const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size());
  start_forward_pass(model, data, q.data());
  // Forward pass: v_i = limi⁻¹·v_λ + S q̇_i; the body momentum Y_i·v_i,
  // carried to the world by oMi, summed about the world origin.
  Force h = Force::Zero();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q.data());
    Motion& vi = data.v[i];
    vi = act_inv_motion(data.limi[i], data.v[model.parents[i]]);
    add_joint_velocity(model.joints[i], v.data() + model.idx_v[i], vi);
    h += act_force(data.oMi[i], inertia_apply(model.inertias[i], vi));
  }
  center_of_mass_from_placements(model, data);
  // h_G = (h_lin, h_ang − c × h_lin)
  data.centroidal_momentum << h.force, h.moment - data.com.cross(h.force);
  return data.centroidal_momentum;
}

}  // namespace lumo

// The recursive Newton-Euler passes, written over the scalar of the state:
// double for rnea and the functions built on it (data a Data), and the
// lock-step scalar of kernels/lockstep.hpp for several states at once (data
// its workspace). Private to src/algorithms.
#pragma once

#include "forward_pass.hpp"

namespace lumo {

// Forward pass: placements, velocities, accelerations and body forces
//   v_i = limi⁻¹·v_λ + S q̇_i
//   a_i = limi⁻¹·a_λ + S q̈_i + v_i × S q̇_i
//   f_i = Y_i·a_i + v_i ×* (Y_i·v_i)
// into data.limi, data.v, data.a, data.f; a null v or a stands for the zero
// vector.
template <class S, class Work>
void rnea_forward(const Model& model, Work& data, const S* q, const S* v, const S* a) {
  data.v[0] = MotionT<S>::Zero();
  data.a[0] = -lift<S>(model.gravity);  // the root accelerates against gravity
  compute_joint_sincos(model, data, q);
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointIndex p = model.parents[i];
    const std::size_t iv = model.idx_v[i];
    forward_step(model, data, i, q);
    MotionT<S>& vi = data.v[i];
    MotionT<S>& ai = data.a[i];
    act_inv_motion(data.limi[i], data.v[p], data.a[p], vi, ai);
    add_joint_velocity_acceleration(model.joints[i], v != nullptr ? v + iv : nullptr,
                                    a != nullptr ? a + iv : nullptr, vi, ai);
    const BodyInertia& Y = model.inertias[i];
    if (v != nullptr) {
      ForceT<S> Yv;
      inertia_apply(Y, ai, vi, data.f[i], Yv);
      data.f[i] += motion_cross_force(vi, Yv);
    } else {
      data.f[i] = inertia_apply(Y, ai);
    }
  }
}

// The external forces on the bodies, joint frame: f_i −= f_ext,i, the
// [force; torque] of joint i at fext + i·stride (joint 0, the root's, not
// read). Between the forward and the backward pass.
template <class S, class Work>
void subtract_external_forces(const Model& model, Work& data, const S* fext, std::size_t stride) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const S* fi = fext + i * stride;
    for (int k = 0; k < 3; ++k) {
      data.f[i].force[k] -= fi[k];
      data.f[i].moment[k] -= fi[3 + k];
    }
  }
}

// Backward pass: τ_i = Sᵀ f_i;  f_λ += limi·f_i, τ into tau (nv elements).
template <class S, class Work>
void rnea_backward(const Model& model, Work& data, S* tau) {
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    joint_project(model.joints[i], data.f[i], tau + model.idx_v[i]);
    const JointIndex p = model.parents[i];
    if (p != 0) data.f[p] += act_force(data.limi[i], data.f[i]);
  }
}

}  // namespace lumo

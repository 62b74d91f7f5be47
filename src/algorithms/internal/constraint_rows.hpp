// The rows of the rigid constraints and couplings, shared by the Jacobian,
// the dynamics and their derivatives. Private to src/algorithms.
#pragma once

#include "../../data/data.hpp"
#include "../../model/model.hpp"
#include "../constraints.hpp"

namespace lumo::constraint_rows {

// The checks of the constraint functions, in this order: q of nq
// elements, v (when v_len ≥ 0) and the third vector (when third_len ≥ 0) of
// nv, then a workspace and a set made for this model (ValueError).
void check_call(const Model& model, const Data& data, const ConstraintSet& set, Eigen::Index q_len,
                Eigen::Index v_len = -1, Eigen::Index third_len = -1, const char* third = "tau");

// A frame's origin in world axes: position p, velocity ṗ, classical
// acceleration p̈; rotation R, angular velocity ω and acceleration ω̇. The
// world (no frame) is joint 0, at rest at the origin.
struct FrameState {
  JointIndex joint = 0;
  Vector3 p = Vector3::Zero(), pd = Vector3::Zero(), pdd = Vector3::Zero();
  Vector3 w = Vector3::Zero(), wd = Vector3::Zero();
  Matrix3 R = Matrix3::Identity();
};

// From data.oMi, data.v and data.a (joint frames) less the uniform
// acceleration `offset` (world frame: −gravity after rnea, zero after
// computeKinematics).
FrameState frame_state(const Model& model, const Data& data, FrameIndex frame, const Motion& offset);

// The same from the world motions a kinematics-derivatives pass left
// (data.kinematics_ov, data.kinematics_oa).
FrameState world_frame_state(const Model& model, const Data& data, FrameIndex frame);

// World-aligned rows of c (3 or 6): the acceleration rows at the states'
// accelerations, the velocity rows and the placement error, each expressed
// in c's axes (R1ᵀ for LOCAL). Any output may be null.
void rigid_rows(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, double* acceleration,
                double* velocity, double* error);

// The weights W (6-vector [force; moment] about the world origin) that the
// rows' values λ put on the acceleration of body 1 (W1) and body 2 (W2):
// λᵀ·rows = W1·A1 + W2·A2 + (terms free of A), A the spatial accelerations
// about the world origin. The generalized force of λ is Σ_b S_bᵀ W_b.
void rigid_wrenches(const RigidConstraint& c, const FrameState& f1, const FrameState& f2, const double* lambda,
                    Vector6& W1, Vector6& W2);

// Rows [r0, r0 + c.rows()) of J from the world Jacobian data.j: the columns
// of the support paths of both ends (J zeroed on those rows first).
void rigid_jacobian(const Model& model, const Data& data, const RigidConstraint& c, const FrameState& f1,
                    const FrameState& f2, MatrixX& J, Eigen::Index r0);

// For each constraint of the set, from the placements, velocities and
// accelerations (less `offset`) in data: its rows of J (when `jacobian`,
// from data.j) and of γ and the target (when `drift`).
void fill_rows(const Model& model, Data& data, const ConstraintSet& set, const Motion& offset, bool jacobian,
               bool drift);

// Evaluates the set at (q, v): J into data.constraint_jacobian (and M into
// data.M's upper triangle, by crba), γ into data.constraint_drift, the
// corrector's target into data.constraint_target, and data.tau =
// inverseDynamics(q, v, 0[, fext]). Sizes the set's workspace.
void evaluate(const Model& model, Data& data, const ConstraintSet& set, const Eigen::Ref<const Eigen::VectorXd>& q,
              const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Matrix6X>* fext);

// ∂J·λ: H[j, k] = ∂(Jᵀλ)_j/∂q_k (q along integrate) added into H (nv×nv),
// from data.oMi and the world Jacobian data.j at q.
void add_force_derivative(const Model& model, const Data& data, const ConstraintSet& set, const VectorX& lambda,
                          MatrixX& H);

// The derivatives of the constraint rows along q and v from the pass
// computeKinematicsDerivatives(q, w, a) left in data, J in
// data.constraint_jacobian:
//   acceleration rows (velocity_rows false): ∂c/∂q into dq and ∂c/∂v into
//   *dv of c = J·a + γ − target (the corrector's target at (q, w));
//   velocity rows (velocity_rows true): ∂(J·w)/∂q into dq.
// Uses data.constraint_end_motion.
void row_derivatives(const Model& model, Data& data, const ConstraintSet& set, MatrixX& dq, MatrixX* dv,
                     bool velocity_rows);

// Sizes the set's workspace in data for s rows (allocates only when s or
// nv changed).
void size_workspace(Data& data, std::size_t s);

}  // namespace lumo::constraint_rows

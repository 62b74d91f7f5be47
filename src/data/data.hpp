// The workspace of one Model: every intermediate and final result of the
// algorithms, sized once at creation and reused in place by every call.
// Fields are grouped by the algorithm that fills them; each group says which
// algorithms write it.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <string>
#include <vector>

#include "../algorithms/spatial/spatial.hpp"
#include "../model/model.hpp"

namespace lumo {

using VectorX = Eigen::VectorXd;
using MatrixX = Eigen::MatrixXd;
using Matrix6X = Eigen::Matrix<double, 6, Eigen::Dynamic>;
using Matrix3X = Eigen::Matrix<double, 3, Eigen::Dynamic>;

// The per-column and per-body terms of the derivative recursions
// (Data::derivative_columns, Data::derivative_bodies), over the scalar of the
// state like MotionT.
template <class T>
struct DerivativeColumnT {
  MotionT<T> u, w, S, e;  // in this order: [u, w] and [S, e] are read as 12 numbers each
};
template <class T>
struct DerivativeBodyT {
  T mass = T(0.0);
  Vector3T<T> first_moment = Vector3T<T>::Zero();
  Matrix3T<T> inertia = Matrix3T<T>::Zero();
  Vector3T<T> rate_skew = Vector3T<T>::Zero();
  Matrix3T<T> rate_sym = Matrix3T<T>::Zero();
  ForceT<T> momentum, force;
};

class Data {
 public:
  explicit Data(const Model& model);

  // Sizes of the model this workspace was made for.
  std::size_t njoints = 0;
  std::size_t nq = 0;
  std::size_t nv = 0;

  // Every forward pass (forwardKinematics and every algorithm taking q):
  // joint i in its parent (limi) and in the world (oMi).
  std::vector<SE3> oMi, limi;

  // rnea, non_linear_effects, compute_gravity, computeAllTerms and the
  // velocity passes (computeJointJacobiansTimeVariation, computeCoriolisMatrix,
  // computeCentroidalMomentum, computeKineticEnergy): per joint, velocity v,
  // acceleration a, a_gf (with the acceleration against gravity), body
  // momentum h and transmitted force f in the joint frame; ov, the velocity
  // in the world frame. forwardKinematics(q, v) writes v and ov;
  // computeKinematics v, ov and a, the acceleration without gravity (rnea's
  // a carries the acceleration against gravity).
  std::vector<Motion> v, a, ov, a_gf;
  std::vector<Force> f, h;
  // rnea: tau; non_linear_effects: nle; compute_gravity: g (computeAllTerms all three).
  VectorX tau, nle, g;

  // crba and computeAllTerms: M (upper triangle and diagonal);
  // computeCoriolisMatrix: C.
  MatrixX M, C;

  // Jacobians in the world frame, [linear; angular] rows: j (computeJointJacobians,
  // crba, computeAllTerms, the centre-of-mass Jacobians,
  // computeKinematicsDerivatives), dJ
  // (computeJointJacobiansTimeVariation, computeAllTerms, computeCoriolisMatrix).
  Matrix6X j, dJ;

  // Composite quantities, world frame: world_inertia[i] the inertia of the
  // subtree of joint i about its centre of mass (crba, computeAllTerms,
  // computeCoriolisMatrix, jacobianCenterOfMass, computeCentroidalMap);
  // world_inertia_rate its time derivative and momentum_matrix_rate
  // (computeAllTerms); momentum_matrix, the columns Y_sub·J_c (computeAllTerms,
  // computeCoriolisMatrix, the centre-of-mass Jacobians).
  std::vector<BodyInertia> world_inertia;
  std::vector<Matrix6> world_inertia_rate;
  Matrix6X momentum_matrix, momentum_matrix_rate;
  // Centre of mass (centerOfMass, jacobianCenterOfMass, computeCentroidalMap,
  // computeCentroidalMomentum, computeAllTerms) and, from computeAllTerms,
  // the subtrees' masses and centres.
  Matrix3X com_jacobian;
  std::vector<Vector3> subtree_com, subtree_com_sum;
  std::vector<double> subtree_mass;
  // Centroidal quantities ([linear; angular] 6-vectors about the centre of
  // mass; computeAllTerms, computeCentroidalMomentum).
  Vector6 centroidal_momentum = Vector6::Zero();
  Vector6 centroidal_momentum_rate = Vector6::Zero();
  BodyInertia centroidal_inertia;
  Vector3 com = Vector3::Zero();

  // computeRNEADerivatives, computeABADerivatives and
  // computeGeneralizedGravityDerivatives write the derivatives of the
  // dynamics (nv×nv each, sized on first use; empty until then): ∂τ/∂q,
  // ∂τ/∂v, ∂τ/∂a = M of inverse dynamics, ∂q̈/∂q, ∂q̈/∂v of forward
  // dynamics, ∂g/∂q of the gravity torques.
  MatrixX dtau_dq, dtau_dv, dtau_da, ddq_dq, ddq_dv, dg_dq;
  // rneaVJP and abaVJP: the gradient along integrate, before its map to q's
  // coordinates (nv), and the adjoint pass's world-frame terms per joint:
  // velocities, accelerations and the cotangent's motions (3·njoints), the
  // subtree force and the four subtree sums (5·njoints).
  VectorX vjp_tangent;
  std::vector<Motion> vjp_motion;
  std::vector<Force> vjp_force;
  // Their recursion, world frame, sized on first use. Per velocity column k
  // of joint j with parent λ: S = the column oMj·S_k, u = S × v_λ,
  // w = S × a_λ − u × v_λ, e = (v_λ + v_j) × S (the terms the derivative
  // recursions share).
  using DerivativeColumn = DerivativeColumnT<double>;
  std::vector<DerivativeColumn> derivative_columns;
  // Per joint: the spatial inertia of the subtree about the world origin
  // (mass m, first moment m·c, rotational inertia about the origin), its
  // rate Ẏ = v ×* Y − Y v× (a skew part given by a vector and a symmetric
  // part), and the subtree's momentum and force.
  using DerivativeBody = DerivativeBodyT<double>;
  std::vector<DerivativeBody> derivative_bodies;
  // Per joint: its spatial acceleration a_i (a_0 = −gravity, so a_i carries
  // the gravity offset); the velocities go to ov.
  std::vector<Motion> derivative_accelerations;

  // computeKinematicsDerivatives (with oMi, limi and the world Jacobian j),
  // read by getFrameVelocityDerivatives and getFrameAccelerationDerivatives:
  // per joint, in the world frame about the world origin, the spatial
  // velocity and the spatial acceleration without gravity.
  std::vector<Motion> kinematics_ov, kinematics_oa;

  // computeABADerivatives, sized on first use: the tree of the velocity
  // coordinates, and M = Lᵀ D L along it with L unit lower triangular and
  // nonzero only where column c is an ancestor coordinate of row r.
  // coordinate_parent[r]: the coordinate before r on the path to the root
  // (−1 at the root); coordinate_end[r]: one past the last coordinate of r's
  // subtree; coordinate_depth[r]: the number of r's ancestors.
  std::vector<int> coordinate_parent, coordinate_depth;
  std::vector<std::size_t> coordinate_end;
  MatrixX ldl_factor;  // L in the strict lower triangle, D on the diagonal
  VectorX ldl_scale;   // D^(-1/2), for the half solves of the constrained dynamics
  // The right-hand sides [−∂τ/∂q, −∂τ/∂v, E] (nv × 3nv, row by row), solved
  // in place; the rows one row of the factorisation or the solve gathers,
  // and their factors.
  Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> ldl_rhs;
  std::vector<int> ldl_rows;
  std::vector<double> ldl_coef;

  // computeCentroidalMap: the centroidal momentum matrix, 6×nv, rows
  // [linear; angular about com] in world axes.
  Matrix6X centroidal_map;

  // aba, in the world frame about its origin, 6-vectors and 6×6 matrices in
  // [linear; angular] order (forces [force; moment]), per joint i with
  // parent λ and world subspace columns S (its columns of j). computeMinverse
  // writes the inertia group too.
  VectorX ddq;                                // q̈, the joint accelerations
  std::vector<Vector6> aba_velocity;          // v_i = v_λ + S q̇_i (ov as a column)
  std::vector<Vector6> aba_velocity_product;  // c_i = v_i × S q̇_i
  std::vector<Vector6> aba_acceleration;      // a_i = a_λ + c_i + S q̈_i, a_0 = −gravity
  std::vector<Vector6> articulated_bias;      // pa_i: the subtree's bias force, then what it passes to λ
  std::vector<Matrix6> articulated_inertia;   // Ia_i: the subtree's articulated inertia
  Matrix6X ia_times_s;          // column c: U = Ia_i S_c for the joint i owning c
  Matrix6X joint_inertia_inv;   // joint i's columns, rows 0..nv_i: D⁻¹ = (Sᵀ Ia_i S)⁻¹
  VectorX joint_torque_residual;  // u = τ − Sᵀ pa_i

  // computeMinverse: M⁻¹ (nv×nv) and its scratch, both empty until the
  // first call. unit_torque_blocks: a 6×nv block per moving joint, the forces
  // its subtree's unit torques pass up, then the accelerations of every unit
  // torque. subtree_v_end[i]: one past the last velocity index of the
  // subtree of i; moving_slot[i]: the block of the nearest moving joint on
  // the path from i to the root (moving joints counted from 1; 0 if none).
  MatrixX Minv;
  MatrixX unit_torque_blocks;
  std::vector<std::size_t> subtree_v_end, moving_slot;

  // Every forward pass: per joint, the angle of a revolute joint (0 for the
  // other kinds) and its sine and cosine.
  std::vector<double> joint_angle, joint_sin, joint_cos;

  // crba and computeAllTerms, scratch of the mass matrix: per joint, the
  // composite inertia of its subtree about the world origin (the backward
  // pass sums it into the parent's, then leaves it in world_inertia about
  // the centre of mass); and the velocity rows of joint i and its
  // ancestors as runs of adjacent rows: ancestor_runs[i] is the last run
  // (ending with i's own rows), the others are those of joint
  // ancestor_runs[i].rest (none when it is −1).
  struct RowRun {
    std::size_t lo = 0, hi = 0;  // rows [lo, hi)
    long rest = -1;
  };
  std::vector<OriginInertia> origin_composite;
  std::vector<RowRun> ancestor_runs;

  // computeAllTerms, scratch of nle and g, per joint in the joint frame: the
  // force transmitted by the joint with the velocity terms and gravity
  // (f_nle) and with gravity alone (f_g), and the acceleration of gravity
  // alone (a_g).
  std::vector<Force> f_nle, f_g;
  std::vector<Motion> a_g;

  // computeCoriolisMatrix, scratch, per joint in the world frame
  // ([linear; angular]): the 6×6 inertia oYc of its subtree and the sum oBc
  // over its bodies of ½ (v×*·Y − Y·v× + (Y·v)×̄*).
  std::vector<Matrix6> oYc, oBc;

  // inverseKinematics, sized at creation: the frame's LOCAL Jacobian at the
  // last configuration tried (6×nv, columns off its support path zero), the
  // weighted error Jacobian at the current iterate (6×nv; 3×nv in the top
  // rows for a position target), the step (nv), the configuration tried and
  // the best of a first descent (nq).
  Matrix6X ik_jacobian, ik_weighted_jacobian;
  VectorX ik_step, ik_trial, ik_best;

  // constrainedDynamics, impulseDynamics and their derivatives, sized on
  // first use for the set's rows s: J (s×nv), γ, the corrector's target, the
  // forces (or impulses) λ, the velocity after an impulse, the Delassus
  // matrix J·M⁻¹·Jᵀ = WᵀW (its Cholesky factor after a solve) with
  // W = D^(-1/2)L⁻ᵀJᵀ (nv×s, M = LᵀDL), the
  // derivatives ∂q̈/∂τ (nv×nv) and ∂λ/∂q, ∂λ/∂v, ∂λ/∂τ (s×nv), and scratch
  // (s-vectors, an s×3nv block and nv zeros, the acceleration of the bias
  // pass).
  MatrixX constraint_jacobian, delassus, delassus_rows, ddq_dtau, dforces_dq, dforces_dv, dforces_dtau;
  VectorX constraint_drift, constraint_target, constraint_forces, impulse_velocity;
  VectorX constraint_scratch, constraint_previous, constraint_zero_acceleration;
  MatrixX constraint_rows_scratch;
  // The derivatives' scratch: per end of a rigid constraint, the world
  // velocity and acceleration derivatives of its body (6×nv blocks ∂V/∂q,
  // ∂V/∂v, ∂A/∂q, ∂A/∂v, ∂A/∂a; two ends side by side).
  Matrix6X constraint_end_motion;

  // Every result back to its creation value; sizes kept.
  void reset();

  // oMi[joint_id]; IndexError "Joint ID {id} out of range (max: {njoints-1})".
  const SE3& get_joint_placement(std::size_t joint_id) const;

  // Throws ValueError unless this workspace was made for a model of the
  // same sizes. Every algorithm calls it before touching anything.
  void check_model(const Model& model) const;
};

// The workspace report, line by line.
std::string data_report(const Data& data);

}  // namespace lumo

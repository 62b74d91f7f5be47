// Rigid constraints on the tree: a frame's origin or placement held to the
// world or to another frame (contacts, loop closures), and one joint
// following another (couplings, the URDF <mimic>). A ConstraintSet stacks
// their rows; its Jacobian J and drift γ give the constrained acceleration
// J·q̈ + γ, which the dynamics holds at the corrector's target.
//
// Rows, for frame F1 = `frame` on joint i1 and F2 = `frame2` on joint i2
// (the world when absent; p the frames' origins, R their rotations, ν and α
// the spatial velocities and accelerations of the bodies):
//   point  (3 rows)  velocity rows ν = ṗ1 − ṗ2, the relative velocity of
//                    the origins, in world axes (LOCAL_WORLD_ALIGNED) or in
//                    F1's axes (LOCAL: R1ᵀ(ṗ1 − ṗ2));
//   frame  (6 rows)  ν = the relative spatial velocity [linear; angular] of
//                    F1 with respect to F2's body, taken at F1's origin, in
//                    world axes or F1's axes; with F2 the world, F1's
//                    getFrameVelocity in that frame;
//   coupling (1 row) ν = q̇_joint − ratio·q̇_leader.
// The acceleration rows are dν/dt component by component, J·q̈ + γ: in
// world axes p̈1 − p̈2 for a point (the relative classical acceleration),
// F1's getFrameAcceleration for a frame held to the world.
// J = ∂(velocity rows)/∂v, which is +∂(constrained position)/∂q along
// integrate, so forces on the robot are Jᵀ·λ: positive along the rows.
// The corrector (Baumgarte) sets the target of J·q̈ + γ to
// −kd·J·v − kp·e, e the placement error against the reference placement
// (point: p1 − p2 − R2·r, r the reference offset in F2's axes, expressed in
// the rows' axes; frame: log(reference⁻¹·F2⁻¹F1), a twist in F1's axes,
// rotated to world axes for LOCAL_WORLD_ALIGNED; coupling: 0).
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "reference_frame.hpp"

namespace lumo {

enum class ConstraintKind : std::uint8_t { point = 0, frame = 1 };

struct RigidConstraint {
  ConstraintKind kind = ConstraintKind::point;
  FrameIndex frame = 0;
  std::optional<FrameIndex> frame2;  // none: held to the world
  ReferenceFrame reference_frame = ReferenceFrame::LOCAL_WORLD_ALIGNED;
  double kp = 0.0, kd = 0.0;  // corrector gains
  SE3 reference;              // F1 in F2 (or in the world) where the error is zero

  std::size_t rows() const { return kind == ConstraintKind::point ? 3 : 6; }
};

struct JointCoupling {
  JointIndex joint = 0, leader = 0;
  double ratio = 1.0, offset = 0.0;  // q_joint = ratio·q_leader + offset
};

using Constraint = std::variant<RigidConstraint, JointCoupling>;

// "point" or "frame"; ValueError "Unknown constraint kind: {text} (expected
// \"point\" or \"frame\")" otherwise.
ConstraintKind constraint_kind_from_text(std::string_view text);
const char* constraint_kind_text(ConstraintKind kind);

// A checked RigidConstraint. ValueError for a bad frame ("Frame ID {id} out
// of range (max: {nframes-1})"), frame2 equal to frame, a reference frame
// other than LOCAL and LOCAL_WORLD_ALIGNED, or gains that are negative or
// not finite.
RigidConstraint make_rigid_constraint(const Model& model, ConstraintKind kind, FrameIndex frame,
                                      std::optional<FrameIndex> frame2, ReferenceFrame rf, double kp, double kd);

// A checked JointCoupling. IndexError-family ValueError "Joint ID {id} out
// of range (max: {njoints-1})" for a bad joint; ValueError when a joint is
// not revolute or prismatic, when joint equals leader, or when ratio or
// offset is not finite.
JointCoupling make_joint_coupling(const Model& model, JointIndex joint, JointIndex leader, double ratio,
                                  double offset);

// The current placement of F1 in F2 (or in the world), from q: what
// set_reference records. Runs forwardKinematics on data.
SE3 relative_placement(const Model& model, Data& data, const RigidConstraint& c,
                       const Eigen::Ref<const Eigen::VectorXd>& q);

// A fixed list of constraints on one model, and the solver's setting.
class ConstraintSet {
 public:
  // ValueError "regularisation must be finite and non-negative, got {mu}";
  // ValueError for a constraint that does not fit the model (a frame or a
  // joint out of its range).
  ConstraintSet(const Model& model, std::vector<Constraint> constraints, double regularisation = 0.0);

  std::size_t size() const { return rows_; }  // rows
  const std::vector<Constraint>& constraints() const { return constraints_; }
  std::size_t first_row(std::size_t k) const { return first_row_[k]; }
  double regularisation() const { return regularisation_; }

  // ValueError "ConstraintSet was made for another model (njoints {a}, nq
  // {b}, nv {c}, nframes {d}), not this one (…)" unless the model has the
  // sizes the set was made for, and "ConstraintSet was made for another
  // model: {why}" when a coupled joint of the model is not revolute or
  // prismatic.
  void check_model(const Model& model) const;

  std::size_t njoints = 0, nq = 0, nv = 0, nframes = 0;  // of the model it was made for

 private:
  std::vector<Constraint> constraints_;
  std::vector<std::size_t> first_row_;
  std::size_t rows_ = 0;
  double regularisation_ = 0.0;
};

// J (size×nv) at q, into J. Writes oMi, limi and the world Jacobian data.j.
void constraintJacobian(const Model& model, Data& data, const ConstraintSet& set,
                        const Eigen::Ref<const Eigen::VectorXd>& q, Eigen::Ref<MatrixX> J);

// γ (size) at (q, v): the constrained accelerations at q̈ = 0, into gamma.
// Writes what computeKinematics writes.
void constraintDrift(const Model& model, Data& data, const ConstraintSet& set,
                     const Eigen::Ref<const Eigen::VectorXd>& q, const Eigen::Ref<const Eigen::VectorXd>& v,
                     Eigen::Ref<VectorX> gamma);

}  // namespace lumo

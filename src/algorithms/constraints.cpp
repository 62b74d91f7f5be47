#include "constraints.hpp"

#include <cmath>

#include "errors/errors.hpp"
#include "frames.hpp"
#include "internal/checks.hpp"
#include "internal/constraint_rows.hpp"
#include "jacobians.hpp"
#include "kinematics.hpp"

namespace lumo {

ConstraintKind constraint_kind_from_text(std::string_view text) {
  if (text == "point") return ConstraintKind::point;
  if (text == "frame") return ConstraintKind::frame;
  throw ValueError(cat("Unknown constraint kind: ", text, " (expected \"point\" or \"frame\")"));
}

const char* constraint_kind_text(ConstraintKind kind) { return kind == ConstraintKind::point ? "point" : "frame"; }

RigidConstraint make_rigid_constraint(const Model& model, ConstraintKind kind, FrameIndex frame,
                                      std::optional<FrameIndex> frame2, ReferenceFrame rf, double kp, double kd) {
  frame_parent_joint(model, frame);
  if (frame2) {
    frame_parent_joint(model, *frame2);
    if (*frame2 == frame) throw ValueError(cat("frame2 must differ from frame_id (both ", frame, ")"));
  }
  if (rf != ReferenceFrame::LOCAL && rf != ReferenceFrame::LOCAL_WORLD_ALIGNED)
    throw ValueError("reference_frame must be LOCAL or LOCAL_WORLD_ALIGNED");
  if (!(std::isfinite(kp) && std::isfinite(kd) && kp >= 0.0 && kd >= 0.0))
    throw ValueError(cat("corrector gains must be finite and non-negative, got (", kp, ", ", kd, ")"));
  RigidConstraint c;
  c.kind = kind;
  c.frame = frame;
  c.frame2 = frame2;
  c.reference_frame = rf;
  c.kp = kp;
  c.kd = kd;
  return c;
}

JointCoupling make_joint_coupling(const Model& model, JointIndex joint, JointIndex leader, double ratio,
                                  double offset) {
  for (JointIndex j : {joint, leader}) {
    if (j >= model.njoints)
      throw ValueError(cat("Joint ID ", j, " out of range (max: ", model.njoints - 1, ")"));
    const JointType type = model.joints[j].type;
    if (type != JointType::Revolute && type != JointType::Prismatic)
      throw ValueError(cat("Joint ", j, " (", model.names[j], ") is ", joint_type_name(type),
                           ": a coupling joins revolute and prismatic joints"));
  }
  if (joint == leader) throw ValueError(cat("A joint cannot follow itself (joint ", joint, ")"));
  if (!(std::isfinite(ratio) && std::isfinite(offset)))
    throw ValueError(cat("ratio and offset must be finite, got (", ratio, ", ", offset, ")"));
  return JointCoupling{joint, leader, ratio, offset};
}

SE3 relative_placement(const Model& model, Data& data, const RigidConstraint& c,
                       const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_configuration_size(model, q.size());
  forwardKinematics(model, data, q);
  const SE3 oM1 = getFramePlacement(model, data, c.frame);
  if (!c.frame2) return oM1;
  return compose(inverse(getFramePlacement(model, data, *c.frame2)), oM1);
}

ConstraintSet::ConstraintSet(const Model& model, std::vector<Constraint> constraints, double regularisation)
    : njoints(model.njoints),
      nq(model.nq),
      nv(model.nv),
      nframes(model.nframes),
      constraints_(std::move(constraints)),
      regularisation_(regularisation) {
  if (!(std::isfinite(regularisation) && regularisation >= 0.0))
    throw ValueError(cat("regularisation must be finite and non-negative, got ", regularisation));
  first_row_.reserve(constraints_.size());
  for (const Constraint& c : constraints_) {
    first_row_.push_back(rows_);
    if (const auto* rigid = std::get_if<RigidConstraint>(&c)) {
      // re-checked: the constraint may have been made for another model
      make_rigid_constraint(model, rigid->kind, rigid->frame, rigid->frame2, rigid->reference_frame, rigid->kp,
                            rigid->kd);
      rows_ += rigid->rows();
    } else {
      const auto& coupling = std::get<JointCoupling>(c);
      make_joint_coupling(model, coupling.joint, coupling.leader, coupling.ratio, coupling.offset);
      rows_ += 1;
    }
  }
}

void ConstraintSet::check_model(const Model& model) const {
  if (model.njoints == njoints && model.nq == nq && model.nv == nv && model.nframes == nframes) {
    // a model of the same sizes may still differ where a coupling reads it
    for (const Constraint& c : constraints_) {
      const auto* coupling = std::get_if<JointCoupling>(&c);
      if (coupling == nullptr) continue;
      try {
        make_joint_coupling(model, coupling->joint, coupling->leader, coupling->ratio, coupling->offset);
      } catch (const ValueError& e) {
        throw ValueError(cat("ConstraintSet was made for another model: ", e.what()));
      }
    }
    return;
  }
  throw ValueError(cat("ConstraintSet was made for another model (njoints ", njoints, ", nq ", nq, ", nv ", nv,
                       ", nframes ", nframes, "), not this one (njoints ", model.njoints, ", nq ", model.nq,
                       ", nv ", model.nv, ", nframes ", model.nframes, ")"));
}

namespace {

void check_output(Eigen::Index rows, Eigen::Index cols, std::size_t want_rows, std::size_t want_cols) {
  if (static_cast<std::size_t>(rows) != want_rows || static_cast<std::size_t>(cols) != want_cols)
    throw ValueError(cat("output must be ", want_rows, "×", want_cols, ", got ", rows, "×", cols));
}

}  // namespace

void constraintJacobian(const Model& model, Data& data, const ConstraintSet& set,
                        const Eigen::Ref<const Eigen::VectorXd>& q, Eigen::Ref<MatrixX> J) {
  constraint_rows::check_call(model, data, set, q.size());
  check_output(J.rows(), J.cols(), set.size(), model.nv);
  constraint_rows::size_workspace(data, set.size());
  computeJointJacobians(model, data, q);
  constraint_rows::fill_rows(model, data, set, Motion::Zero(), true, false);
  J = data.constraint_jacobian;
}

void constraintDrift(const Model& model, Data& data, const ConstraintSet& set,
                     const Eigen::Ref<const Eigen::VectorXd>& q, const Eigen::Ref<const Eigen::VectorXd>& v,
                     Eigen::Ref<VectorX> gamma) {
  constraint_rows::check_call(model, data, set, q.size(), v.size());
  check_output(gamma.rows(), gamma.cols(), set.size(), 1);
  constraint_rows::size_workspace(data, set.size());
  computeKinematics(model, data, q, v, data.constraint_zero_acceleration);
  constraint_rows::fill_rows(model, data, set, Motion::Zero(), false, true);
  gamma = data.constraint_drift;
}

}  // namespace lumo

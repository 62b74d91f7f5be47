#include "inverse_kinematics.hpp"

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <limits>

#include "configuration.hpp"
#include "errors/errors.hpp"
#include "frames.hpp"
#include "internal/checks.hpp"

namespace lumo {
namespace {

// Damping of the first step, and the factors it shrinks by after a step
// that lowers the error and grows by after one that does not. The Jacobians
// are in metres and radians, so the damping is compared with O(1) numbers.
constexpr double kInitialDamping = 1e-1;
constexpr double kShrink = 0.05, kGrow = 8.0;
constexpr double kMinDamping = 1e-12;
// Beyond this damping a step is a vanishing multiple of the gradient: the
// error has reached a (constrained) local minimum and the search stops.
constexpr double kMaxDamping = 1e12;

// The placement oMf of frame F for configuration q and its LOCAL Jacobian
// J (columns of the support path; the others are left as they are), by one
// walk from F's joint to the root: with curMf = F seen from joint cur, the
// column of coordinate k of cur is curMf⁻¹·S_k, then curMf ← limi·curMf.
SE3 frame_placement_and_jacobian(const Model& model, Data& data, JointIndex joint_id, const SE3& placement,
                                 const double* q, Matrix6X& J) {
  SE3 curMf = placement;
  for (JointIndex cur = joint_id; cur != 0; cur = model.parents[cur]) {
    const JointModel& joint = model.joints[cur];
    SE3& limi = data.limi[cur];
    joint_placement(joint, model.jointPlacements[cur], q + model.idx_q[cur], limi);
    for (std::size_t k = 0; k < joint.nv; ++k)
      J.col(static_cast<Eigen::Index>(model.idx_v[cur] + k)) = act_inv_column(curMf, subspace_column(joint, k));
    curMf = compose(limi, curMf);
  }
  return curMf;
}

// Revolute and prismatic coordinates onto [lower, upper]; the other kinds
// carry no limit on their coordinates (a continuous joint's limits of 0 and
// 0 mean none).
void project_onto_limits(const Model& model, Eigen::Ref<Eigen::VectorXd> q) {
  const std::size_t nlower = model.lowerPositionLimit.size(), nupper = model.upperPositionLimit.size();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    if (type != JointType::Revolute && type != JointType::Prismatic) continue;
    const std::size_t k = model.idx_v[i];
    double& x = q[static_cast<Eigen::Index>(model.idx_q[i])];
    if (k < nupper && x > model.upperPositionLimit[k]) x = model.upperPositionLimit[k];
    if (k < nlower && x < model.lowerPositionLimit[k]) x = model.lowerPositionLimit[k];
  }
}

// Limited coordinates halfway from where they are to the middle of their range.
void toward_middle_of_limits(const Model& model, Eigen::Ref<Eigen::VectorXd> q) {
  const std::size_t n = std::min(model.lowerPositionLimit.size(), model.upperPositionLimit.size());
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    const std::size_t k = model.idx_v[i];
    if ((type != JointType::Revolute && type != JointType::Prismatic) || k >= n) continue;
    const double middle = 0.5 * (model.lowerPositionLimit[k] + model.upperPositionLimit[k]);
    double& x = q[static_cast<Eigen::Index>(model.idx_q[i])];
    if (std::isfinite(middle)) x = 0.5 * (x + middle);
  }
}

// Coordinates held at a limit that the step dq would push beyond it leave
// the problem: their columns of J_w are zeroed. Returns whether any was.
bool hold_at_limits(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q, const Eigen::VectorXd& dq,
                    Matrix6X& Jw) {
  const std::size_t nlower = model.lowerPositionLimit.size(), nupper = model.upperPositionLimit.size();
  bool held = false;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    if (type != JointType::Revolute && type != JointType::Prismatic) continue;
    const std::size_t k = model.idx_v[i];
    const double x = q[static_cast<Eigen::Index>(model.idx_q[i])], d = dq[static_cast<Eigen::Index>(k)];
    const bool at_upper = k < nupper && x >= model.upperPositionLimit[k] && d > 0.0;
    const bool at_lower = k < nlower && x <= model.lowerPositionLimit[k] && d < 0.0;
    if (at_upper || at_lower) {
      Jw.col(static_cast<Eigen::Index>(k)).setZero();
      held = true;
    }
  }
  return held;
}

// Full placement: residual r = log(target⁻¹·oMf) = −log(oMf⁻¹·target), so
// that a change δ of the frame's twist moves it by log_jacobian·δ.
struct PlacementError {
  static constexpr int N = 6;
  SE3 target_inverse;
  Vector6 xi;  // log(target⁻¹·oMf) at the last evaluation

  Vector6 residual(const SE3& oMf) {
    xi = compose(target_inverse, oMf).log();
    return xi;
  }
  // J_w = W·(E + ½ ad ξ)·J_LOCAL: the log's Jacobian to first order in ξ,
  // an error that vanishes with the residual, so the steps keep Newton's
  // quadratic convergence near the solution
  void weighted_jacobian(const Vector6& w, const SE3&, const Matrix6X& J, Matrix6X& Jw) const {
    const Vector3 v = 0.5 * xi.head<3>(), omega = 0.5 * xi.tail<3>();
    for (Eigen::Index c = 0; c < J.cols(); ++c) {
      const Vector3 l = J.col(c).head<3>(), a = J.col(c).tail<3>();
      Jw.col(c).head<3>() = w.head<3>().cwiseProduct(l + omega.cross(l) + v.cross(a));
      Jw.col(c).tail<3>() = w.tail<3>().cwiseProduct(a + omega.cross(a));
    }
  }
};

// Origin only: r = p_f − target, J = the linear rows of LOCAL_WORLD_ALIGNED.
struct PositionError {
  static constexpr int N = 3;
  Vector3 target;

  Vector3 residual(const SE3& oMf) const { return oMf.translation - target; }
  void weighted_jacobian(const Vector3& w, const SE3& oMf, const Matrix6X& J, Matrix6X& Jw) const {
    const Matrix3 WR = w.asDiagonal() * oMf.rotation;
    Jw.topRows<3>().noalias() = WR.lazyProduct(J.topRows<3>());
  }
};

template <typename Error>
IkResult solve(const Model& model, Data& data, FrameIndex frame_id, Error error,
               const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q, const IkOptions& options) {
  constexpr int N = Error::N;
  using VectorN = Eigen::Matrix<double, N, 1>;
  using MatrixN = Eigen::Matrix<double, N, N>;
  const Frame& frame = model.frames[frame_id];
  const VectorN w = options.weights.template head<N>();
  Matrix6X& J = data.ik_jacobian;
  Matrix6X& Jw = data.ik_weighted_jacobian;
  Eigen::VectorXd& trial = data.ik_trial;
  Eigen::VectorXd& step = data.ik_step;
  J.setZero();  // the columns off the support path stay zero

  VectorN r;
  double err = 0.0;
  // The error at q and, from it, J_w.
  auto evaluate = [&] {
    const SE3 oMf = frame_placement_and_jacobian(model, data, frame.parent, frame.placement, q.data(), J);
    r = w.cwiseProduct(error.residual(oMf));
    err = r.norm();
    error.weighted_jacobian(w, oMf, J, Jw);
  };
  IkResult result;
  // Levenberg–Marquardt from q until the error is within the tolerance, the
  // iterations run out or the damping has grown past use.
  auto descend = [&] {
    double damping = kInitialDamping;
    while (!(err <= options.tolerance) && result.iterations < options.max_iterations && damping < kMaxDamping) {
      ++result.iterations;
      // min |r + J_w dq|² + λ|dq|²:  dq = −J_wᵀ (J_w J_wᵀ + λE)⁻¹ r, over the
      // coordinates free to move (those the step would push past a limit they
      // sit on are held there, and the step solved again without them)
      for (std::size_t pass = 0; pass <= model.nv; ++pass) {
        MatrixN A;
        A.noalias() = Jw.template topRows<N>().lazyProduct(Jw.template topRows<N>().transpose());
        A.diagonal().array() += damping;
        const VectorN y = A.llt().solve(r);
        step.noalias() = Jw.template topRows<N>().transpose().lazyProduct(-y);
        if (!options.respect_limits || !hold_at_limits(model, q, step, Jw)) break;
      }
      integrate(model, q, step, trial);
      if (options.respect_limits) project_onto_limits(model, trial);
      const SE3 oMf_trial = frame_placement_and_jacobian(model, data, frame.parent, frame.placement, trial.data(), J);
      const VectorN r_trial = w.cwiseProduct(error.residual(oMf_trial));
      const double err_trial = r_trial.norm();
      if (err_trial < err) {
        q = trial;
        r = r_trial;
        err = err_trial;
        error.weighted_jacobian(w, oMf_trial, J, Jw);
        damping = std::max(damping * kShrink, kMinDamping);
      } else {
        damping *= kGrow;
      }
    }
  };

  q = q0;
  if (options.respect_limits) project_onto_limits(model, q);
  evaluate();
  if (!std::isfinite(err)) {
    q = q0;
    return {false, 0, std::numeric_limits<double>::quiet_NaN()};
  }
  descend();
  if (!(err <= options.tolerance) && options.respect_limits && result.iterations < options.max_iterations) {
    // Stopped short against a limit, typically on the mirror image of the
    // solution (an elbow or knee bent the other way): once more from q0 with
    // the limited coordinates halfway to the middle of their ranges, and the
    // better of the two kept.
    Eigen::VectorXd& best = data.ik_best;
    best = q;
    const double best_err = err;
    q = q0;
    toward_middle_of_limits(model, q);
    project_onto_limits(model, q);
    evaluate();
    descend();
    if (!(err < best_err)) {
      q = best;
      err = best_err;
    }
  }
  result.converged = err <= options.tolerance;
  result.error = err;
  return result;
}

// The frame, the sizes and the workspace, checked before anything is touched.
void check_arguments(const Model& model, const Data& data, FrameIndex frame_id, Eigen::Index q0_len,
                     Eigen::Index q_len) {
  frame_parent_joint(model, frame_id);
  check_configuration_size(model, q0_len);
  check_configuration_size(model, q_len);
  data.check_model(model);
}

IkResult not_finite(const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q) {
  q = q0;
  return {false, 0, std::numeric_limits<double>::quiet_NaN()};
}

}  // namespace

IkResult inverseKinematics(const Model& model, Data& data, FrameIndex frame_id, const SE3& target,
                           const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q,
                           const IkOptions& options) {
  check_arguments(model, data, frame_id, q0.size(), q.size());
  if (!target.rotation.allFinite() || !target.translation.allFinite()) return not_finite(q0, q);
  const Matrix3& R = target.rotation;
  if ((R.transpose() * R - Matrix3::Identity()).cwiseAbs().maxCoeff() > 1e-6 || R.determinant() <= 0.0)
    throw ValueError("target rotation is not a rotation matrix");
  return solve(model, data, frame_id, PlacementError{inverse(target), Vector6::Zero()}, q0, q, options);
}

IkResult inverseKinematics(const Model& model, Data& data, FrameIndex frame_id, const Vector3& target_position,
                           const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q,
                           const IkOptions& options) {
  check_arguments(model, data, frame_id, q0.size(), q.size());
  if (!target_position.allFinite()) return not_finite(q0, q);
  return solve(model, data, frame_id, PositionError{target_position}, q0, q, options);
}

}  // namespace lumo

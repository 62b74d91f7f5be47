// Inverse kinematics of one frame: the configuration that puts the frame at
// a target placement or its origin at a target position.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

struct IkOptions {
  Vector6 weights = Vector6::Ones();  // on the error rows [linear; angular]; position only: the first three
  double tolerance = 1e-10;           // converged when the weighted error norm is at most this
  int max_iterations = 200;           // trial steps, accepted or not
  bool respect_limits = true;         // keep revolute and prismatic coordinates within their limits
};

struct IkResult {
  bool converged = false;
  int iterations = 0;  // trial steps taken
  double error = 0.0;  // weighted error norm at q
};

// Levenberg–Marquardt on the error e = log(oMf⁻¹·target) of the frame F
// (oMf = oMi[F.parent]·F.placement), a twist in F's own axes: from q0, steps
// dq = −J_wᵀ (J_w J_wᵀ + λE)⁻¹ r_w with r = log(target⁻¹·oMf) = −e, r_w = W r,
// J_w = W·(E + ½ ad r)·J_F (the log's Jacobian to first order in r, exact as
// r vanishes; J_F the frame's LOCAL Jacobian, W = diag(weights)), taken through
// integrate; a step that lowers |e_w| is kept and λ shrinks, else λ grows.
// With respect_limits, revolute and prismatic coordinates are projected
// onto [lowerPositionLimit, upperPositionLimit] (indexed by velocity
// coordinate; missing entries and ±inf mean no limit), q0 first; a
// coordinate on a limit that the step would push past it is held there for
// that step; a descent that stops short (against a limit, the iterations
// left) runs once more from q0 with the limited coordinates halfway to the
// middle of their ranges. q (nq elements) receives the best iterate.
// Writes data.limi on the frame's support path and the ik_ group of data;
// allocates nothing.
// NaN or infinity in q0 or target: converged false, error NaN, q = q0.
// ValueError for a bad frame, wrong sizes, or a target rotation that is not
// a rotation (|RᵀR − E| > 1e-6 or det R ≤ 0).
IkResult inverseKinematics(const Model& model, Data& data, FrameIndex frame_id, const SE3& target,
                           const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q,
                           const IkOptions& options = {});

// The same for the frame's origin alone: e = target_position − p_f in world
// axes, J the linear rows of the frame's LOCAL_WORLD_ALIGNED Jacobian,
// weighted by weights[0..3).
IkResult inverseKinematics(const Model& model, Data& data, FrameIndex frame_id, const Vector3& target_position,
                           const Eigen::Ref<const Eigen::VectorXd>& q0, Eigen::Ref<Eigen::VectorXd> q,
                           const IkOptions& options = {});

}  // namespace lumo

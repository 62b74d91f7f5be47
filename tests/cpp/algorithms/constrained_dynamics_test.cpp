// Constrained dynamics and impulses: the constraint Jacobian and drift
// against finite differences, the two equations of each solve and a dense
// KKT solve, over the random trees (every joint kind), the sample models
// and the real robots, with points and frames held to the world and to
// another body, in both reference frames, and couplings; a body held still,
// redundant sets, and bad input.
#include "algorithms/constrained_dynamics.hpp"

#include <Eigen/SVD>

#include "algorithms/errors/errors.hpp"
#include "algorithms/frame_motion.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

struct ConstraintCase {
  std::string name;
  Model model;
  std::vector<std::vector<Constraint>> sets;
};

// The first two revolute or prismatic joints, if there are two.
std::optional<std::pair<JointIndex, JointIndex>> two_scalar_joints(const Model& model) {
  std::vector<JointIndex> found;
  for (JointIndex i = 1; i < model.njoints && found.size() < 2; ++i)
    if (model.joints[i].type == JointType::Revolute || model.joints[i].type == JointType::Prismatic)
      found.push_back(i);
  if (found.size() < 2) return std::nullopt;
  return std::pair{found[0], found[1]};
}

// Every model with frames "a" on its last joint and "b" on a middle one, and
// the sets: a point held to the world; a point held to b (LOCAL, with a
// corrector); a frame held to the world (LOCAL); a frame held to b (with a
// corrector); a coupling beside a point.
std::vector<ConstraintCase> constraint_cases() {
  std::vector<ConstraintCase> out;
  std::vector<NamedModel> models = random_tree_cases();
  for (NamedModel& c : robot_cases()) models.push_back(std::move(c));
  std::mt19937 rng(20);
  for (NamedModel& c : models) {
    if (c.model.nv < 3) continue;
    Model model = c.model;
    const FrameIndex a = model.add_frame({"a", model.njoints - 1, random_placement(rng), OP_FRAME});
    const FrameIndex b = model.add_frame({"b", (model.njoints - 1) / 2, random_placement(rng), OP_FRAME});
    using RF = ReferenceFrame;
    const auto point = ConstraintKind::point;
    const auto frame = ConstraintKind::frame;
    ConstraintCase k{c.name, model, {}};
    k.sets.push_back({make_rigid_constraint(model, point, a, std::nullopt, RF::LOCAL_WORLD_ALIGNED, 0, 0)});
    k.sets.push_back({make_rigid_constraint(model, point, a, b, RF::LOCAL, 2.0, 3.0)});
    k.sets.push_back({make_rigid_constraint(model, frame, a, std::nullopt, RF::LOCAL, 0, 0)});
    k.sets.push_back({make_rigid_constraint(model, frame, a, b, RF::LOCAL_WORLD_ALIGNED, 5.0, 1.0)});
    if (const auto pair = two_scalar_joints(model))
      k.sets.push_back({make_joint_coupling(model, pair->first, pair->second, -0.7, 0.1),
                        make_rigid_constraint(model, point, a, std::nullopt, RF::LOCAL, 1.0, 1.0)});
    out.push_back(std::move(k));
  }
  return out;
}

MatrixXd jacobian(const Model& model, const ConstraintSet& set, const VectorXd& q) {
  Data data(model);
  MatrixXd J(set.size(), model.nv);
  constraintJacobian(model, data, set, q, J);
  return J;
}

VectorXd drift(const Model& model, const ConstraintSet& set, const VectorXd& q, const VectorXd& v) {
  Data data(model);
  VectorXd gamma(set.size());
  constraintDrift(model, data, set, q, v, gamma);
  return gamma;
}

// Full row rank, well enough conditioned for the exact solve.
bool full_rank(const MatrixXd& J) {
  if (J.rows() > J.cols()) return false;
  const VectorXd s = Eigen::JacobiSVD<MatrixXd>(J).singularValues();
  return s.size() > 0 && s(s.size() - 1) > 1e-4 * s(0);
}

Vector3 origin(const Model& model, Data& data, const VectorXd& q, FrameIndex f) {
  forwardKinematics(model, data, q);
  return getFramePlacement(model, data, f).translation;
}

TEST(ConstraintRows, JacobianAndDriftAgainstFiniteDifferences) {
  int tested = 0;
  for (const ConstraintCase& c : constraint_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    for (const auto& constraints : c.sets) {
      const ConstraintSet set(model, constraints);
      std::mt19937 rng(3);
      const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                     dir = random_velocity(model, rng);
      const MatrixXd J = jacobian(model, set, q);
      // The acceleration rows are d/dt of the velocity rows J·v along
      // q(t) = integrate(q, t·v), where q̈ = 0.
      const VectorXd Jdot_v = derivative(model, q, v, [&](const VectorXd& x) { return (jacobian(model, set, x) * v).eval(); });
      EXPECT_LT((drift(model, set, q, v) - Jdot_v).lpNorm<Eigen::Infinity>(), kFiniteDifferenceCoarse * (1 + Jdot_v.norm()));
      const auto& first = std::get_if<RigidConstraint>(&constraints.front());
      if (first != nullptr && first->kind == ConstraintKind::point && !first->frame2 &&
          first->reference_frame == ReferenceFrame::LOCAL_WORLD_ALIGNED) {
        ++tested;
        // J = ∂p/∂q along integrate, and γ = d²p/dt² along the free motion
        Data d(model);
        const VectorXd Jp = derivative(model, q, dir, [&](const VectorXd& x) { return origin(model, d, x, first->frame); });
        EXPECT_LT((J.topRows(3) * dir - Jp).norm(), kFiniteDifference * (1 + Jp.norm()));
        // (q(t) = integrate(q, t·v) moves with q̈ = 0 when every joint has
        // one coordinate; for the others it is not the free motion)
        bool scalar_joints = true;
        for (const JointModel& j : model.joints) scalar_joints &= j.type == JointType::Revolute ||
                                                                  j.type == JointType::Prismatic ||
                                                                  j.type == JointType::Fixed;
        if (!scalar_joints) continue;
        const double h = 1e-4;
        const Vector3 p2 = (origin(model, d, integrate(model, q, h * v), first->frame) - 2 * origin(model, d, q, first->frame) +
                            origin(model, d, integrate(model, q, -h * v), first->frame)) / (h * h);
        EXPECT_LT((drift(model, set, q, v).head<3>() - p2).norm(), 1e-5 * (1 + p2.norm()));
      }
      if (first != nullptr && first->kind == ConstraintKind::frame && !first->frame2) {
        // a frame held to the world: its rows are the frame's velocity and acceleration
        Data d(model);
        computeKinematics(model, d, q, v, VectorXd::Zero(model.nv));
        EXPECT_LT((J * v - getFrameVelocity(model, d, first->frame, first->reference_frame)).norm(), kClose);
        EXPECT_LT((drift(model, set, q, v) - getFrameAcceleration(model, d, first->frame, first->reference_frame)).norm(),
                  kClose * (1 + Jdot_v.norm()));
      }
      if (first == nullptr || first->frame2 || first->reference_frame != ReferenceFrame::LOCAL_WORLD_ALIGNED ||
          first->kind != ConstraintKind::point)
        ++tested;
    }
  }
  EXPECT_GT(tested, 40);
}

// M·q̈ + b = τ + Jᵀλ and J·q̈ + γ = target by the dense KKT matrix.
std::pair<VectorXd, VectorXd> dense_solve(const MatrixXd& M, const VectorXd& rhs_tau, const MatrixXd& J,
                                          const VectorXd& rhs_rows) {
  const Eigen::Index n = M.rows(), s = J.rows();
  MatrixXd K = MatrixXd::Zero(n + s, n + s);
  K.topLeftCorner(n, n) = M;
  K.topRightCorner(n, s) = -J.transpose();
  K.bottomLeftCorner(s, n) = J;
  VectorXd rhs(n + s);
  rhs << rhs_tau, rhs_rows;
  const VectorXd x = K.fullPivLu().solve(rhs);
  return {x.head(n), x.tail(s)};
}

TEST(ConstrainedDynamics, EquationsAndDenseKktSolve) {
  int tested = 0;
  for (const ConstraintCase& c : constraint_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    for (const auto& constraints : c.sets) {
      std::mt19937 rng(5);
      const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                     tau = random_velocity(model, rng, 10.0);
      const Matrix6X fext = random_external_forces(model, rng);
      // references recorded at q: the placement errors vanish there
      std::vector<Constraint> held = constraints;
      Data scratch(model);
      for (Constraint& k : held)
        if (auto* r = std::get_if<RigidConstraint>(&k)) r->reference = relative_placement(model, scratch, *r, q);
      const ConstraintSet set(model, held);
      const MatrixXd J = jacobian(model, set, q);
      if (!full_rank(J)) continue;
      Data data(model), ref(model);
      const VectorXd ddq = constrainedDynamics(model, data, set, q, v, tau, fext);
      const VectorXd lambda = data.constraint_forces;
      const VectorXd target = data.constraint_target;
      // with no placement error the corrector's target is −kd·J·v
      VectorXd expected = -(J * v);
      for (std::size_t k = 0; k < held.size(); ++k) {
        const auto* r = std::get_if<RigidConstraint>(&held[k]);
        const auto rows = static_cast<Eigen::Index>(r != nullptr ? r->rows() : 1);
        expected.segment(static_cast<Eigen::Index>(set.first_row(k)), rows) *= r != nullptr ? r->kd : 0.0;
      }
      EXPECT_LT((target - expected).norm(), kClose * (1 + expected.norm()));
      // the two equations
      const VectorXd residual = inverseDynamics(model, ref, q, v, ddq, fext) - J.transpose() * lambda - tau;
      const double scale = 1 + tau.norm() + lambda.norm();
      EXPECT_LT(residual.norm(), kLoose * scale);
      EXPECT_LT((J * ddq + drift(model, set, q, v) - target).norm(), kLoose * (1 + ddq.norm()));
      // the dense solve
      const VectorXd b = inverseDynamics(model, ref, q, v, VectorXd::Zero(model.nv), fext);
      const auto [ddq_ref, lambda_ref] = dense_solve(mass_matrix(model, ref, q), tau - b, J, target - drift(model, set, q, v));
      EXPECT_LT((ddq - ddq_ref).norm(), 1e-8 * (1 + ddq_ref.norm()));
      EXPECT_LT((lambda - lambda_ref).norm(), 1e-8 * (1 + lambda_ref.norm()));
      // impulses: M·(v⁺ − v⁻) = Jᵀp, J·v⁺ = −e·J·v⁻
      const double e = 0.3;
      const VectorXd v_after = impulseDynamics(model, data, set, q, v, e);
      const VectorXd p = data.constraint_forces;
      EXPECT_LT((mass_matrix(model, ref, q) * (v_after - v) - J.transpose() * p).norm(), kLoose * (1 + p.norm()));
      EXPECT_LT((J * v_after + e * J * v).norm(), kLoose * (1 + v.norm()));
      ++tested;
    }
  }
  EXPECT_GT(tested, 30);
}

}  // namespace
}  // namespace lumo

// Constrained dynamics and impulses: the constraint Jacobian and drift
// against finite differences, the two equations of each solve and a dense
// KKT solve, over the random trees (every joint kind), the sample models
// and the real robots, with points and frames held to the world and to
// another body, in both reference frames, and couplings; a body held still,
// redundant sets, and bad input.
#include "algorithms/constrained_dynamics.hpp"

#include <Eigen/QR>
#include <Eigen/SVD>
#include <cmath>

#include "algorithms/energy.hpp"

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
  return s.size() > 0 && s(s.size() - 1) > 1e-2 * s(0);
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

// Fourth-order central differences of f(q, v, τ) → (q̈ or v⁺, λ) along
// integrate and along v and τ (a step of 3e-4 keeps the rounding of the
// large accelerations of light bodies small), against the analytic
// derivatives in data.
template <typename F>
void expect_derivatives(const Model& model, const Data& data, const VectorXd& q, const VectorXd& v,
                        const VectorXd& tau, F&& f, bool with_tau) {
  const Eigen::Index nv = static_cast<Eigen::Index>(model.nv);
  const Eigen::Index s = data.constraint_forces.size();
  const double h = 3e-4;
  // g(t) → (q̈, λ) stacked; the derivative at t = 0
  const auto slope = [&](auto&& g) {
    const auto at = [&](double t) {
      const auto [a, l] = g(t);
      VectorXd x(nv + s);
      x << a, l;
      return x;
    };
    return ((8 * (at(h) - at(-h)) - (at(2 * h) - at(-2 * h))) / (12 * h)).eval();
  };
  MatrixXd fd_q(nv + s, nv), fd_v(nv + s, nv), fd_t(nv + s, nv);
  for (Eigen::Index k = 0; k < nv; ++k) {
    const VectorXd e = VectorXd::Unit(nv, k);
    fd_q.col(k) = slope([&](double t) { return f(integrate(model, q, t * e), v, tau); });
    fd_v.col(k) = slope([&](double t) { return f(q, v + t * e, tau); });
    if (with_tau) fd_t.col(k) = slope([&](double t) { return f(q, v, tau + t * e); });
  }
  const auto expect_near = [&](const MatrixXd& dd, const MatrixXd& dl, const MatrixXd& fd, const char* what) {
    MatrixXd analytic(nv + s, nv);
    analytic << dd, dl;
    const double scale = 1.0 + fd.lpNorm<Eigen::Infinity>();
    EXPECT_LT((analytic - fd).lpNorm<Eigen::Infinity>(), kFiniteDifferenceCoarse * scale) << what;
  };
  expect_near(data.ddq_dq, data.dforces_dq, fd_q, "along q");
  expect_near(data.ddq_dv, data.dforces_dv, fd_v, "along v");
  if (with_tau) expect_near(data.ddq_dtau, data.dforces_dtau, fd_t, "along tau");
}

TEST(ConstrainedDynamics, DerivativesAgainstFiniteDifferences) {
  int tested = 0;
  for (const ConstraintCase& c : constraint_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    if (model.nv > 40) continue;  // the real humanoids: enough with the others
    for (const auto& constraints : c.sets) {
      std::mt19937 rng(8);
      const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                     tau = random_velocity(model, rng, 10.0);
      const VectorXd q_ref = integrate(model, q, random_velocity(model, rng, 0.3));
      const Matrix6X fext = random_external_forces(model, rng);
      // references near q, so that the corrector sees an error
      std::vector<Constraint> held = constraints;
      Data scratch(model);
      for (Constraint& k : held)
        if (auto* r = std::get_if<RigidConstraint>(&k)) r->reference = relative_placement(model, scratch, *r, q_ref);
      const ConstraintSet set(model, held);
      if (!full_rank(jacobian(model, set, q))) continue;
      Data data(model), fd(model);
      computeConstrainedDynamicsDerivatives(model, data, set, q, v, tau, fext);
      expect_derivatives(model, data, q, v, tau, [&](const VectorXd& x, const VectorXd& y, const VectorXd& t) {
        const VectorXd a = constrainedDynamics(model, fd, set, x, y, t, fext);
        return std::pair<VectorXd, VectorXd>{a, fd.constraint_forces};
      }, true);
      computeImpulseDynamicsDerivatives(model, data, set, q, v, 0.4);
      expect_derivatives(model, data, q, v, tau, [&](const VectorXd& x, const VectorXd& y, const VectorXd&) {
        const VectorXd a = impulseDynamics(model, fd, set, x, y, 0.4);
        return std::pair<VectorXd, VectorXd>{a, fd.constraint_forces};
      }, false);
      ++tested;
    }
  }
  EXPECT_GT(tested, 30);
}

// A rod of mass m and length l along x from its joint, on a joint about y.
BodyInertia rod(double m, double l) {
  BodyInertia Y;
  Y.mass = m;
  Y.lever = Vector3(l / 2, 0, 0);
  const double I = m * l * l / 12;
  Y.inertia = {1e-4 * m, 0, I, 0, 0, I};
  return Y;
}

TEST(ConstrainedDynamics, ClosedFormsRedundantSetsAndErrors) {
  // A free body held by its frame: it does not move, and the support's
  // wrench at the frame's origin carries its weight: [−m·g; −(c − p) × m·g].
  Model body;
  const JointIndex free = body.add_joint(0, JointModel::make(JointType::Floating), SE3{}, "free");
  std::mt19937 rng(2);
  body.set_inertia(free, random_inertia(rng));
  const FrameIndex f = body.add_frame({"handle", free, random_placement(rng), OP_FRAME});
  const VectorXd q = random_configuration(body, rng);
  Data data(body), ref(body);
  const ConstraintSet held(body, {make_rigid_constraint(body, ConstraintKind::frame, f, std::nullopt,
                                                        ReferenceFrame::LOCAL_WORLD_ALIGNED, 0, 0)});
  const VectorXd ddq = constrainedDynamics(body, data, held, q, VectorXd::Zero(6), VectorXd::Zero(6));
  EXPECT_LT(ddq.norm(), kRecursion);
  forwardKinematics(body, ref, q);
  const Vector3 weight = body.inertias[free].mass * body.gravity_linear();
  const Vector3 c = act_point(ref.oMi[free], body.inertias[free].lever);
  const Vector3 p = getFramePlacement(body, ref, f).translation;
  Vector6 wrench;
  wrench << -weight, -(c - p).cross(weight);
  EXPECT_LT((data.constraint_forces - wrench).norm(), kRecursion * (1 + weight.norm()));

  // A point and a frame on one link are dependent: with μ = 0 the exact
  // solve names the rows; with μ > 0 the forces are the least-norm ones and
  // the constraints hold.
  Model arm = seven_dof_arm();
  const FrameIndex tip = arm.add_frame({"tip", arm.njoints - 1, random_placement(rng), OP_FRAME});
  const std::vector<Constraint> both = {
      make_rigid_constraint(arm, ConstraintKind::point, tip, std::nullopt, ReferenceFrame::LOCAL, 0, 0),
      make_rigid_constraint(arm, ConstraintKind::frame, tip, std::nullopt, ReferenceFrame::LOCAL, 0, 0)};
  Data arm_data(arm), arm_ref(arm);
  const VectorXd qa = random_configuration(arm, rng), va = random_velocity(arm, rng),
                 ta = random_velocity(arm, rng, 5.0);
  const std::string message = error_message<ValueError>([&] { constrainedDynamics(arm, arm_data, ConstraintSet(arm, both), qa, va, ta); });
  EXPECT_NE(message.find("Constraint rows are linearly dependent: rows 3, 4, 5"), std::string::npos) << message;
  const ConstraintSet proximal(arm, both, 1e-6);
  const VectorXd ddq_arm = constrainedDynamics(arm, arm_data, proximal, qa, va, ta);
  const VectorXd lambda = arm_data.constraint_forces;
  const MatrixXd J = jacobian(arm, proximal, qa);
  const VectorXd b = inverseDynamics(arm, arm_ref, qa, va, VectorXd::Zero(arm.nv));
  const MatrixXd M = mass_matrix(arm, arm_ref, qa);
  const VectorXd a0 = M.ldlt().solve(ta - b);
  const MatrixXd delassus = J * M.ldlt().solve(J.transpose());
  const VectorXd least_norm = delassus.completeOrthogonalDecomposition().solve(-J * a0 - drift(arm, proximal, qa, va));
  EXPECT_LT((lambda - least_norm).norm(), 1e-8 * (1 + least_norm.norm()));
  EXPECT_LT((J * ddq_arm + drift(arm, proximal, qa, va)).norm(), 1e-8 * (1 + ddq_arm.norm()));

  // Bad input: another model's set, restitution, dependent couplings; NaN
  // in, NaN out.
  EXPECT_THROW(constrainedDynamics(body, data, proximal, q, VectorXd::Zero(6), VectorXd::Zero(6)), ValueError);
  EXPECT_THROW(impulseDynamics(arm, arm_data, proximal, qa, va, 1.5), ValueError);
  EXPECT_THROW(impulseDynamics(arm, arm_data, proximal, qa, va, std::nan("")), ValueError);
  EXPECT_THROW(make_joint_coupling(arm, 1, 1, 1.0, 0.0), ValueError);
  EXPECT_THROW(make_rigid_constraint(arm, ConstraintKind::point, arm.frames.size(), std::nullopt,
                                     ReferenceFrame::LOCAL, 0, 0), ValueError);
  EXPECT_THROW(make_rigid_constraint(arm, ConstraintKind::point, tip, std::nullopt, ReferenceFrame::WORLD, 0, 0),
               ValueError);
  EXPECT_THROW(ConstraintSet(arm, both, -1.0), ValueError);
  VectorXd nan_q = qa;
  nan_q[0] = std::nan("");
  EXPECT_TRUE(constrainedDynamics(arm, arm_data, proximal, nan_q, va, ta).hasNaN());
  EXPECT_TRUE(constrainedDynamics(arm, arm_data, ConstraintSet(arm, {both[0]}), nan_q, va, ta).hasNaN());
}

// A crank-rocker four-bar in the x–z plane: the crank and the coupler form
// one chain, the rocker another, and a point constraint closes the loop at
// the coupler's end. Under gravity, stepped by RK4 with a Baumgarte
// corrector, the loop stays closed and the energy stays put.
TEST(ConstrainedDynamics, FourBarLinkageKeepsItsLoopAndEnergy) {
  const double ground = 1.0, crank = 0.3, coupler = 0.9, rocker = 0.7;
  Model m;
  const auto y = JointModel::make(JointType::Revolute, Vector3::UnitY());
  const JointIndex j1 = m.add_joint(0, y, SE3{}, "crank");
  SE3 at_crank_tip, at_b;
  at_crank_tip.translation = Vector3(crank, 0, 0);
  at_b.translation = Vector3(ground, 0, 0);
  const JointIndex j2 = m.add_joint(j1, y, at_crank_tip, "coupler");
  const JointIndex j3 = m.add_joint(0, y, at_b, "rocker");
  m.set_inertia(j1, rod(1.0, crank));
  m.set_inertia(j2, rod(2.0, coupler));
  m.set_inertia(j3, rod(1.5, rocker));
  SE3 coupler_end, rocker_end;
  coupler_end.translation = Vector3(coupler, 0, 0);
  rocker_end.translation = Vector3(rocker, 0, 0);
  const FrameIndex d = m.add_frame({"coupler_end", j2, coupler_end, OP_FRAME});
  const FrameIndex e = m.add_frame({"rocker_end", j3, rocker_end, OP_FRAME});
  // The planar loop leaves the y row without force: regularised.
  const ConstraintSet loop(m, {make_rigid_constraint(m, ConstraintKind::point, d, e,
                                                     ReferenceFrame::LOCAL_WORLD_ALIGNED, 100.0, 20.0)}, 1e-9);
  // Closed configuration from the crank angle: R_y(q)·x = (cos q, 0, −sin q).
  const double q1 = 1.0;
  const Eigen::Vector2d C(crank * std::cos(q1), -crank * std::sin(q1)), B(ground, 0.0);
  const double dist = (B - C).norm();
  const double along = (coupler * coupler - rocker * rocker + dist * dist) / (2 * dist);
  const Eigen::Vector2d u = (B - C) / dist, n(-u.y(), u.x());
  const Eigen::Vector2d E = C + along * u - std::sqrt(coupler * coupler - along * along) * n;
  VectorXd q(3), v = VectorXd::Zero(3);
  const double phi = std::atan2(-(E - C).y(), (E - C).x());
  q << q1, phi - q1, std::atan2(-(E - B).y(), (E - B).x());
  Data data(m), energy_data(m), fk(m);
  const auto energy = [&](const VectorXd& x, const VectorXd& w) {
    return computeKineticEnergy(m, energy_data, x, w) + computePotentialEnergy(m, energy_data, x);
  };
  const auto gap = [&](const VectorXd& x) {
    forwardKinematics(m, fk, x);
    return (getFramePlacement(m, fk, d).translation - getFramePlacement(m, fk, e).translation).norm();
  };
  ASSERT_LT(gap(q), kTight);
  const VectorXd tau = VectorXd::Zero(3);
  const auto accel = [&](const VectorXd& x, const VectorXd& w) -> VectorXd {
    return constrainedDynamics(m, data, loop, x, w, tau);
  };
  const double E0 = energy(q, v), dt = 1e-3;
  double worst_gap = 0.0, worst_energy = 0.0;
  for (int step = 0; step < 5000; ++step) {
    const VectorXd k1v = accel(q, v), k1q = v;
    const VectorXd q2 = integrate(m, q, 0.5 * dt * k1q), v2 = v + 0.5 * dt * k1v;
    const VectorXd k2v = accel(q2, v2), k2q = v2;
    const VectorXd q3 = integrate(m, q, 0.5 * dt * k2q), v3 = v + 0.5 * dt * k2v;
    const VectorXd k3v = accel(q3, v3), k3q = v3;
    const VectorXd q4 = integrate(m, q, dt * k3q), v4 = v + dt * k3v;
    const VectorXd k4v = accel(q4, v4), k4q = v4;
    q = integrate(m, q, dt / 6 * (k1q + 2 * k2q + 2 * k3q + k4q));
    v += dt / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
    worst_gap = std::max(worst_gap, gap(q));
    worst_energy = std::max(worst_energy, std::abs(energy(q, v) - E0));
  }
  EXPECT_LT(worst_gap, 1e-6);
  EXPECT_LT(worst_energy, 1e-5 * std::abs(E0));
  EXPECT_GT(v.norm(), 0.1);  // it did move
  std::printf("[ four-bar ] 5 s: largest gap %.2e m, largest energy change %.2e of %.3f J\n", worst_gap,
              worst_energy / std::abs(E0), E0);
}

}  // namespace
}  // namespace lumo

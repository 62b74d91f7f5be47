// Frame velocities and accelerations: the Jacobian identities in every
// reference frame, and the time derivatives of the frames' velocities and
// origins along a trajectory, over the random trees (every joint kind), the
// sample models and the real robots; bad frames.
#include "algorithms/frame_motion.hpp"

#include "algorithms/errors/errors.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/time_variation.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

constexpr ReferenceFrame kFrames[] = {ReferenceFrame::LOCAL, ReferenceFrame::WORLD,
                                      ReferenceFrame::LOCAL_WORLD_ALIGNED};

// Every model of the random trees and of robot_cases, with a frame at a
// random placement on every joint besides the model's own frames.
std::vector<NamedModel> frame_cases() {
  std::vector<NamedModel> out = random_tree_cases();
  for (NamedModel& c : robot_cases()) out.push_back(std::move(c));
  std::mt19937 rng(19);
  for (NamedModel& c : out)
    for (JointIndex i = 0; i < c.model.njoints; ++i)
      c.model.add_frame({"offset", i, random_placement(rng), OP_FRAME});
  return out;
}

SE3 frame_placement(const Model& model, const Data& data, FrameIndex f) {
  return compose(data.oMi[model.frames[f].parent], model.frames[f].placement);
}

// The frame's own Jacobian in rf from getFrameJacobian (which leaves the
// frame's placement on its joint out): WORLD as it is, LOCAL = F⁻¹·J_joint,
// LOCAL_WORLD_ALIGNED = diag(R_f, R_f)·J_LOCAL.
Matrix6X frame_jacobian(const Model& model, const Data& data, FrameIndex f, ReferenceFrame rf) {
  Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
  getFrameJacobian(model, data, f, rf == ReferenceFrame::WORLD ? rf : ReferenceFrame::LOCAL, J);
  if (rf == ReferenceFrame::WORLD) return J;
  const Matrix3 R_f = frame_placement(model, data, f).rotation;
  for (Eigen::Index c = 0; c < J.cols(); ++c) {
    J.col(c) = act_inv_column(model.frames[f].placement, J.col(c));
    if (rf == ReferenceFrame::LOCAL_WORLD_ALIGNED) J.col(c) = act_column({R_f, Vector3::Zero()}, J.col(c));
  }
  return J;
}

TEST(FrameMotion, VelocityAndAccelerationAreTheJacobianIdentities) {
  for (const NamedModel& c : frame_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    std::mt19937 rng(7);
    const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                   a = random_velocity(model, rng);
    Data data(model), fk(model), ref(model);
    computeKinematics(model, data, q, v, a);
    forwardKinematics(model, fk, q, v);
    computeJointJacobiansTimeVariation(model, ref, q, v);  // J and J̇ in the world frame
    Matrix6X dJ(6, static_cast<Eigen::Index>(model.nv));
    double err_v = 0.0, err_a = 0.0;
    for (JointIndex i = 0; i < model.njoints; ++i) {  // the joints' world velocities
      Matrix6X J(6, static_cast<Eigen::Index>(model.nv));
      extractJointJacobian(model, ref, i, ReferenceFrame::WORLD, J);
      EXPECT_TRUE(near(to_column(data.ov[i]), J * v, kClose)) << "joint " << i;
      EXPECT_TRUE(near(to_column(fk.ov[i]), J * v, kClose)) << "joint " << i;
    }
    for (FrameIndex f = 0; f < model.nframes; ++f) {
      for (ReferenceFrame rf : kFrames) {
        const Matrix6X J = frame_jacobian(model, ref, f, rf);
        getFrameJacobianTimeVariation(model, ref, f, rf, dJ);
        const Vector6 nu = J * v, alpha = J * a + dJ * v;
        for (const Data* d : {&data, &fk}) {
          const Vector6 got = getFrameVelocity(model, *d, f, rf);
          EXPECT_TRUE(near(got, nu, kClose)) << "frame " << f << ", reference frame " << int(rf);
          err_v = std::max(err_v, (got - nu).cwiseAbs().maxCoeff());
        }
        const Vector6 got = getFrameAcceleration(model, data, f, rf);
        EXPECT_TRUE(near(got, alpha, kClose)) << "frame " << f << ", reference frame " << int(rf);
        err_a = std::max(err_a, (got - alpha).cwiseAbs().maxCoeff());
      }
    }
    report(c, "frame velocity = J v", err_v);
    report(c, "frame acceleration = J a + dJ v", err_a);
  }
}

// A trajectory through q with q̇(0) = v and v̇(0) = a: q(t) = integrate(q,
// t·v + ½t²·(a + c)). c = 0 but for a floating joint, whose integrate moves
// its origin by R₀·δ while the true one moves with ṗ = R·v: there p̈ =
// R (a + ω × v) asks c = ω × v in the linear rows.
VectorXd trajectory(const Model& model, const VectorXd& q, const VectorXd& v, const VectorXd& a, double t) {
  VectorXd step = t * v + 0.5 * t * t * a;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    if (model.joints[i].type != JointType::Floating) continue;
    const auto k = static_cast<Eigen::Index>(model.idx_v[i]);
    step.segment<3>(k) += 0.5 * t * t * Vector3(v.segment<3>(k + 3)).cross(Vector3(v.segment<3>(k)));
  }
  return integrate(model, q, step);
}

TEST(FrameMotion, AccelerationsAreTheTimeDerivativesAlongATrajectory) {
  // Five-point central differences in t (step h): truncation O(h⁴),
  // rounding O(ε/h²) for the second derivative of a position.
  const double h = 2e-3;
  const double steps[] = {-2 * h, -h, h, 2 * h};
  for (const NamedModel& c : frame_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    std::mt19937 rng(8);
    const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                   a = random_velocity(model, rng);
    // Per frame: ν in LOCAL, WORLD, LOCAL_WORLD_ALIGNED, then the origin; one column per t.
    const auto rows = static_cast<Eigen::Index>(21 * model.nframes);
    MatrixXd samples(rows, 4);
    Data data(model);
    for (int s = 0; s < 4; ++s) {
      const double t = steps[s];
      forwardKinematics(model, data, trajectory(model, q, v, a, t), v + t * a);
      for (FrameIndex f = 0; f < model.nframes; ++f) {
        for (int r = 0; r < 3; ++r) samples.block<6, 1>(21 * f + 6 * r, s) = getFrameVelocity(model, data, f, kFrames[r]);
        samples.block<3, 1>(21 * f + 18, s) = frame_placement(model, data, f).translation;
      }
    }
    forwardKinematics(model, data, q);
    VectorXd origins(static_cast<Eigen::Index>(3 * model.nframes));
    for (FrameIndex f = 0; f < model.nframes; ++f) origins.segment<3>(3 * f) = frame_placement(model, data, f).translation;
    const VectorXd rate = (samples.col(0) - 8 * samples.col(1) + 8 * samples.col(2) - samples.col(3)) / (12 * h);
    const VectorXd second = (-samples.col(0) + 16 * samples.col(1) + 16 * samples.col(2) - samples.col(3)) / (12 * h * h);

    computeKinematics(model, data, q, v, a);
    double err_a = 0.0, err_c = 0.0;
    for (FrameIndex f = 0; f < model.nframes; ++f) {
      const Matrix3 R_f = frame_placement(model, data, f).rotation;
      const Vector3 p_ddot = second.segment<3>(21 * f + 18) - 30 * origins.segment<3>(3 * f) / (12 * h * h);
      for (int r = 0; r < 3; ++r) {
        const ReferenceFrame rf = kFrames[r];
        const Vector6 d_nu = rate.segment<6>(21 * f + 6 * r);
        const Vector6 alpha = getFrameAcceleration(model, data, f, rf);
        const Vector6 classical = getFrameClassicalAcceleration(model, data, f, rf);
        const Vector3 linear = rf == ReferenceFrame::LOCAL ? Vector3(R_f.transpose() * p_ddot) : p_ddot;
        const double scale = 1.0 + d_nu.cwiseAbs().maxCoeff() + p_ddot.cwiseAbs().maxCoeff();
        EXPECT_TRUE(near(alpha, d_nu, kFiniteDifference * scale)) << "frame " << f << ", reference frame " << r;
        EXPECT_TRUE(near(classical.head<3>(), linear, kFiniteDifference * scale)) << "frame " << f << ", reference frame " << r;
        EXPECT_TRUE(near(classical.tail<3>(), d_nu.tail<3>(), kFiniteDifference * scale)) << "frame " << f << ", reference frame " << r;
        err_a = std::max(err_a, (alpha - d_nu).cwiseAbs().maxCoeff() / scale);
        err_c = std::max(err_c, (classical.head<3>() - linear).cwiseAbs().maxCoeff() / scale);
      }
    }
    report(c, "d/dt frame velocity (rel.)", err_a);
    report(c, "frame origin p'' (rel.)", err_c);
  }
}

TEST(FrameMotion, BadFramesAndDataOfAnotherModel) {
  Model model = random_tree(5, 3, {.floating_base = true});
  for (JointIndex j : {2, 99}) model.add_frame({"f", j, SE3::Identity(), OP_FRAME});
  Data data(model), other(seven_dof_arm());
  for (auto get : {getFrameVelocity, getFrameAcceleration, getFrameClassicalAcceleration}) {
    EXPECT_EQ(error_message<ValueError>([&] { get(model, data, 3, ReferenceFrame::LOCAL); }),
              "Frame ID 3 out of range (max: 2)");
    EXPECT_EQ(error_message<ValueError>([&] { get(model, data, 2, ReferenceFrame::WORLD); }),
              "Frame 2 has invalid joint ID 99 (max: 3)");
    EXPECT_THROW(get(model, other, 1, ReferenceFrame::WORLD), ValueError);
  }
  const VectorXd q = VectorXd::Zero(model.nq), v = VectorXd::Zero(model.nv);
  EXPECT_EQ(error_message<Error>([&] { computeKinematics(model, data, q, v, q); }),
            "a length " + std::to_string(model.nq) + " != nv " + std::to_string(model.nv));
  EXPECT_THROW(forwardKinematics(model, data, q, q), Error);
  EXPECT_THROW(computeKinematics(model, other, q, v, v), ValueError);
}

}  // namespace
}  // namespace lumo

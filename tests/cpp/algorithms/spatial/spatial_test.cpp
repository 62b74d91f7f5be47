#include "algorithms/spatial/spatial.hpp"

#include <Eigen/Geometry>
#include <unsupported/Eigen/MatrixFunctions>

#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// exp(t·m̂): the placement reached from the identity moving with the
// world-frame twist m = (ω, v) for time t.
SE3 exp_twist(const Motion& m, double t) {
  Matrix4 X = Matrix4::Zero();
  X.topLeftCorner<3, 3>() = t * skew(m.angular);
  X.topRightCorner<3, 1>() = t * m.linear;
  const Matrix4 E = X.exp();
  return {E.topLeftCorner<3, 3>(), E.topRightCorner<3, 1>()};
}

TEST(SpatialTransform, CompositionAndInverse) {
  std::mt19937 rng(1);
  const SE3 A = test::random_placement(rng), B = test::random_placement(rng);
  const SE3 C = test::random_placement(rng);
  const SE3 AI = compose(A, identity()), IA = compose(identity(), A);
  EXPECT_TRUE(AI.rotation == A.rotation && AI.translation == A.translation);
  EXPECT_TRUE(IA.rotation == A.rotation && IA.translation == A.translation);
  EXPECT_TRUE(near(compose(A, inverse(A)), identity(), kTight));
  EXPECT_TRUE(near(compose(compose(A, B), C), compose(A, compose(B, C)), kTight));
  EXPECT_TRUE(near(to_homogeneous(compose(A, B)), to_homogeneous(A) * to_homogeneous(B), kTight));
  EXPECT_TRUE(near(to_homogeneous(inverse(A)), to_homogeneous(A).inverse(), kTight));
  const Vector3 x = test::random_vector(rng);
  EXPECT_TRUE(near(act_point(compose(A, B), x), act_point(A, act_point(B, x)), kTight));
}

TEST(SpatialTransform, MotionAndForceActions) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 5; ++trial) {
    const SE3 A = test::random_placement(rng), B = test::random_placement(rng);
    const Motion m = test::random_motion(rng);
    const Force f = test::random_force(rng);
    const Motion am = act_motion(A, m);
    // A point x_b moving with m has velocity v + ω × x_b; seen from frame a
    // the same point moves with R (v + ω × x_b).
    const Vector3 xb = test::random_vector(rng), xa = act_point(A, xb);
    EXPECT_TRUE(near(Vector3(am.linear + am.angular.cross(xa)),
                     Vector3(A.rotation * (m.linear + m.angular.cross(xb))), kTight));
    EXPECT_TRUE(near(act_inv_motion(A, am), m, kTight));
    EXPECT_TRUE(near(act_inv_motion(A, m), act_motion(inverse(A), m), kTight));
    EXPECT_TRUE(near(act_motion(compose(A, B), m), act_motion(A, act_motion(B, m)), kTight));
    EXPECT_TRUE(near(act_force(compose(A, B), f), act_force(A, act_force(B, f)), kTight));
    // Power does not depend on the frame.
    EXPECT_NEAR(power(act_force(A, f), am), power(f, m), kTight);
    // Column forms: same actions with the halves exchanged.
    EXPECT_TRUE(near(act_column(A, to_column(m)), to_column(am), kTight));
    EXPECT_TRUE(near(act_inv_column(A, to_column(m)), to_column(act_inv_motion(A, m)), kTight));
    EXPECT_TRUE(near(from_column(to_column(m)), m, 0.0));
    EXPECT_NEAR(project(to_column(m), f), power(f, m), kTight);
  }
}

TEST(SpatialCross, MatchesDerivativeOfActionAndDuality) {
  std::mt19937 rng(3);
  const Motion a = test::random_motion(rng), b = test::random_motion(rng);
  const Force f = test::random_force(rng);
  // d/dt exp(t a)·b at t = 0 is a × b.
  const Motion fd = act_motion(exp_twist(a, kFdStepCoarse), b) - act_motion(exp_twist(a, -kFdStepCoarse), b);
  EXPECT_TRUE(near(to_column(fd) / (2 * kFdStepCoarse), to_column(motion_cross(a, b)), kFiniteDifferenceFine));
  EXPECT_TRUE(near(motion_cross(a, a), Motion::Zero(), kTight));
  // (a ×* f)·b = −f·(a × b).
  EXPECT_NEAR(power(motion_cross_force(a, f), b), -power(f, motion_cross(a, b)), kTight);
}

TEST(SpatialRotation, AboutAxis) {
  for (double zero : {0.0, -0.0}) {
    EXPECT_TRUE(rotation_about_axis(Vector3(1, -2, 3), zero) == Matrix3::Identity());
  }
  const Matrix3 Rz = rotation_about_axis(Vector3(0, 0, 2), kPi / 2);
  EXPECT_TRUE(near(Rz, Eigen::Matrix3d{{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}, kTight));
  std::mt19937 rng(4);
  for (int trial = 0; trial < 5; ++trial) {
    const Vector3 axis = test::random_vector(rng, 3.0);
    const double angle = std::uniform_real_distribution<double>(-4, 4)(rng);
    EXPECT_TRUE(near(rotation_about_axis(axis, angle),
                     Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix(), kTight));
  }
}

TEST(SpatialRotation, FromQuaternionNormalises) {
  EXPECT_TRUE(near(rotation_from_quaternion(0, 0, 0, 2), Matrix3::Identity(), kTight));
  const double s = std::sqrt(0.5);
  EXPECT_TRUE(near(rotation_from_quaternion(0, 0, s, s), rotation_about_axis(Vector3::UnitZ(), kPi / 2),
                   kTight));
  const Eigen::Quaterniond q(-0.4, 1.2, 0.3, -2.0);  // (w, x, y, z), not unit
  EXPECT_TRUE(near(rotation_from_quaternion(q.x(), q.y(), q.z(), q.w()),
                   q.normalized().toRotationMatrix(), kTight));
}

TEST(SpatialInertia, TransformCarriesMomentumAsAForce) {
  std::mt19937 rng(5);
  const BodyInertia Y = test::random_inertia(rng);
  SE3 shift;
  shift.translation = Vector3(0.3, -1.0, 2.0);
  const BodyInertia Ys = inertia_transform(shift, Y);
  EXPECT_EQ(Ys.mass, Y.mass);
  EXPECT_TRUE(near(Ys.lever, Vector3(Y.lever + shift.translation), kTight));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(Ys.inertia[k], Y.inertia[k], kTight);
  const SE3 M = test::random_placement(rng);
  const Motion m = test::random_motion(rng);
  EXPECT_TRUE(near(inertia_apply(inertia_transform(M, Y), act_motion(M, m)),
                   act_force(M, inertia_apply(Y, m)), kTight));
}

TEST(SpatialInertia, MatrixAgreesWithApply) {
  std::mt19937 rng(6);
  const BodyInertia Y = test::random_inertia(rng);
  const Motion m = test::random_motion(rng);
  const Matrix6 I = inertia_matrix(Y);
  const Force h = inertia_apply(Y, m);
  Vector6 expected;
  expected << h.force, h.moment;
  EXPECT_TRUE(near(Vector6(I * to_column(m)), expected, kTight));
  EXPECT_TRUE(near(I, Matrix6(I.transpose()), kTight));
  // Kinetic energy ½ m |v_c|² + ½ ωᵀ I_c ω.
  const Vector3 vc = m.linear + m.angular.cross(Y.lever);
  EXPECT_NEAR(0.5 * power(h, m),
              0.5 * Y.mass * vc.squaredNorm() + 0.5 * m.angular.dot(inertia_tensor(Y) * m.angular),
              kTight);
}

TEST(SpatialInertia, Merge) {
  // A combined mass below 1e-10 leaves the target as it was.
  BodyInertia tiny, other;
  tiny.mass = other.mass = 4e-11;
  tiny.lever = Vector3(1, 2, 3);
  tiny.inertia = {1, 2, 3, 4, 5, 6};
  const BodyInertia before = tiny;
  inertia_merge(tiny, other);
  EXPECT_TRUE(tiny.mass == before.mass && tiny.lever == before.lever &&
              tiny.inertia == before.inertia);

  std::mt19937 rng(7);
  const BodyInertia Ya = test::random_inertia(rng), Yb = test::random_inertia(rng);
  BodyInertia twice = Ya;
  inertia_merge(twice, Ya);
  EXPECT_NEAR(twice.mass, 2 * Ya.mass, kTight);
  EXPECT_TRUE(near(twice.lever, Ya.lever, kTight));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(twice.inertia[k], 2 * Ya.inertia[k], kTight);

  BodyInertia sum = Ya;
  inertia_merge(sum, Yb);
  EXPECT_TRUE(near(inertia_matrix(sum), Matrix6(inertia_matrix(Ya) + inertia_matrix(Yb)), kTight));
}

TEST(SpatialInertia, VariationIsTimeDerivativeOfMovingInertia) {
  std::mt19937 rng(8);
  const BodyInertia Y = test::random_inertia(rng);
  EXPECT_TRUE(near(inertia_variation(Y, Motion::Zero()), Matrix6::Zero(), 0.0));
  for (int trial = 0; trial < 3; ++trial) {
    const Motion m = test::random_motion(rng);
    const Matrix6 dY = inertia_variation(Y, m);
    EXPECT_TRUE(near(dY, Matrix6(dY.transpose()), kTight));
    EXPECT_TRUE(near(dY.topLeftCorner<3, 3>(), Matrix3::Zero(), kTight));
    const Matrix6 fd = inertia_matrix(inertia_transform(exp_twist(m, kFdStepCoarse), Y)) -
                       inertia_matrix(inertia_transform(exp_twist(m, -kFdStepCoarse), Y));
    EXPECT_TRUE(near(Matrix6(fd / (2 * kFdStepCoarse)), dY, kFiniteDifferenceFine));
  }
}

}  // namespace
}  // namespace lumo

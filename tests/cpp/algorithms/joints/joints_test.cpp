#include "algorithms/joints/joints.hpp"

#include <limits>
#include <random>

#include "algorithms/configuration.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

constexpr JointType kAllKinds[] = {JointType::Fixed,     JointType::Revolute, JointType::Continuous,
                                   JointType::Prismatic, JointType::Planar,   JointType::Floating,
                                   JointType::Spherical};

SE3 transform(JointType kind, std::vector<double> q, const Vector3& axis = Vector3::UnitZ()) {
  return joint_transform(JointModel::make(kind, axis), q.data());
}

SE3 rot_z(double angle, const Vector3& p = Vector3::Zero()) {
  return {Eigen::AngleAxisd(angle, Vector3::UnitZ()).toRotationMatrix(), p};
}

// The inline sin and cos against the C library's: within 2 ulp of the
// larger of |result| and 2^-1 everywhere up to 1e5 (quadrant edges, the
// multiples of π/2 where one of them vanishes, the far range), exact at 0
// and the library's own answer beyond.
TEST(SinCos, AgreesWithTheCLibrary) {
  std::mt19937_64 rng(7);
  std::vector<double> xs = {0.0, -0.0, 1e-300, kPi / 4, -kPi / 4, kPi / 2, kPi, 3 * kPi / 2, 2 * kPi,
                            99999.9, -1e5, 1e5 + 1, 1e300, std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
  for (int k = 1; k < 4000; ++k) xs.push_back(k * kPi / 4 * (1 + (k % 3 - 1) * 1e-15));
  for (double scale : {1.0, 10.0, 1e3, 1e5})
    for (int k = 0; k < 20000; ++k) xs.push_back(std::uniform_real_distribution<double>(-scale, scale)(rng));
  for (double x : xs) {
    double s, c;
    sincos_inline(x, s, c);
    const double es = std::sin(x), ec = std::cos(x);
    if (std::isnan(es)) {
      EXPECT_TRUE(std::isnan(s) && std::isnan(c)) << x;
      continue;
    }
    EXPECT_LE(std::abs(s - es), kSinCos * std::max(std::abs(es), 0.5)) << x;
    EXPECT_LE(std::abs(c - ec), kSinCos * std::max(std::abs(ec), 0.5)) << x;
  }
  double s, c;
  sincos_inline(0.0, s, c);
  EXPECT_TRUE(s == 0.0 && c == 1.0);
}

TEST(JointModel, SizesAndAxes) {
  const std::size_t nq[] = {0, 1, 2, 1, 4, 7, 4}, nv[] = {0, 1, 1, 1, 3, 6, 3};
  const Vector3 axis(0, 3, 4);
  for (int k = 0; k < 7; ++k) {
    const JointModel j = JointModel::make(kAllKinds[k], axis);
    EXPECT_EQ(j.nq, nq[k]) << joint_type_name(j.type);
    EXPECT_EQ(j.nv, nv[k]) << joint_type_name(j.type);
    EXPECT_EQ(motion_subspace(j).cols(), static_cast<Eigen::Index>(nv[k]));
    const bool has_axis = kAllKinds[k] != JointType::Fixed && kAllKinds[k] != JointType::Floating &&
                          kAllKinds[k] != JointType::Spherical;
    EXPECT_EQ(j.axis, has_axis ? axis : Vector3::Zero()) << joint_type_name(j.type);
  }
  EXPECT_TRUE(near(JointModel::make(JointType::Prismatic, axis).unit, Vector3(0, 0.6, 0.8), kTight));
  // Directions of any magnitude: no underflow or overflow of the norm.
  const double s = std::sqrt(0.5);
  for (const auto& [a, u] : {std::pair{Vector3(1e-200, 0, 0), Vector3(1, 0, 0)},
                             {Vector3(1e300, 1e300, 0), Vector3(s, s, 0)},
                             {Vector3(-3e-310, 0, 3e-310), Vector3(-s, 0, s)},
                             {Vector3(0, -1.7e308, 0), Vector3(0, -1, 0)}})
    EXPECT_TRUE(near(JointModel::make(JointType::Revolute, a).unit, u, kUlps)) << a.transpose();
  EXPECT_STREQ(joint_type_name(JointType::Continuous), "continuous");
}

TEST(JointTransform, ClosedForms) {
  const SE3 rev = transform(JointType::Revolute, {kPi / 2});
  EXPECT_TRUE(near(Vector3(rev.rotation * Vector3::UnitX()), Vector3::UnitY(), kTight));
  EXPECT_TRUE(near(rev, rot_z(kPi / 2), kTight));
  const SE3 still = transform(JointType::Revolute, {0.0}, Vector3(1, 2, 3));
  EXPECT_TRUE(still.rotation == Matrix3::Identity() && still.translation == Vector3::Zero());

  EXPECT_TRUE(near(transform(JointType::Continuous, {0, 2}), rev, kTight));
  EXPECT_TRUE(near(transform(JointType::Continuous, {-1, 0}), rot_z(kPi), kTight));
  EXPECT_TRUE(near(transform(JointType::Prismatic, {0.3}, Vector3(0, 0, 5)),
                   SE3{Matrix3::Identity(), Vector3(0, 0, 0.3)}, kTight));
  EXPECT_TRUE(near(transform(JointType::Floating, {1, 2, 3, 0, 0, 0, 1}),
                   SE3{Matrix3::Identity(), Vector3(1, 2, 3)}, kTight));
  EXPECT_TRUE(near(transform(JointType::Floating, {0, 0, 0, 0, 0, 0, 2}), identity(), kTight));
  EXPECT_TRUE(near(transform(JointType::Planar, {1, 2, 0, 1}), rot_z(kPi / 2, Vector3(1, 2, 0)), kTight));
  const double s = std::sqrt(0.5);
  EXPECT_TRUE(near(transform(JointType::Spherical, {0, 0, 2 * s, 2 * s}), rot_z(kPi / 2), kTight));
  EXPECT_TRUE(near(transform(JointType::Fixed, {}), identity(), 0.0));
}

// joint_motion is S·x and joint_project is Sᵀ·f, with the halves exchanged.
TEST(JointMotion, AgreesWithSubspace) {
  std::mt19937 rng(11);
  for (JointType kind : kAllKinds) {
    const JointModel j = JointModel::make(kind, test::random_vector(rng, 2.0));
    const auto nv = static_cast<Eigen::Index>(j.nv);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const Eigen::VectorXd x = Eigen::VectorXd::NullaryExpr(nv, [&] { return u(rng); });
    const Vector6 column = motion_subspace(j) * x;
    EXPECT_TRUE(near(to_column(joint_motion(j, x.data())), column, kTight)) << joint_type_name(kind);
    const Force f = test::random_force(rng);
    Vector6 wrench;
    wrench << f.force, f.moment;
    Eigen::VectorXd projected = Eigen::VectorXd::Constant(nv, 99.0);
    joint_project(j, f, projected.data());
    EXPECT_TRUE(near(projected, Eigen::VectorXd(motion_subspace(j).transpose() * wrench), kTight))
        << joint_type_name(kind);
  }
}

// Column k of S is the joint-frame velocity T⁻¹·dT of a step along the k-th
// velocity coordinate, the step taken with `integrate`.
TEST(JointSubspace, MatchesDerivativeOfTransform) {
  std::mt19937 rng(12);
  for (JointType kind : kAllKinds) {
    Model model;
    const JointModel& j = model.joints[model.add_joint(
        0, JointModel::make(kind, test::random_vector(rng, 2.0)), SE3::Identity(), "j")];
    const Eigen::VectorXd q = test::random_configuration(model, rng);
    const SE3 T = joint_transform(j, q.data());
    for (std::size_t k = 0; k < j.nv; ++k) {
      const Eigen::VectorXd step = kFdStep * Eigen::VectorXd::Unit(static_cast<Eigen::Index>(j.nv),
                                                                 static_cast<Eigen::Index>(k));
      const Eigen::VectorXd qp = integrate(model, q, step), qm = integrate(model, q, -step);
      const SE3 Tp = joint_transform(j, qp.data()), Tm = joint_transform(j, qm.data());
      const Matrix3 W = T.rotation.transpose() * (Tp.rotation - Tm.rotation) / (2 * kFdStep);
      Vector6 fd;
      fd << T.rotation.transpose() * (Tp.translation - Tm.translation) / (2 * kFdStep),
          W(2, 1), W(0, 2), W(1, 0);
      EXPECT_TRUE(near(fd, subspace_column(j, k), kFiniteDifference)) << joint_type_name(kind) << " column " << k;
    }
  }
}

TEST(JointPlacement, EqualsPlacementTimesTransform) {
  std::mt19937 rng(13);
  std::vector<JointModel> joints;
  for (JointType kind : kAllKinds) joints.push_back(JointModel::make(kind, test::random_vector(rng, 2.0)));
  for (int k = 0; k < 3; ++k)  // revolute and prismatic joints about ±(scaled) coordinate axes
    for (double sign : {2.0, -0.5})
      for (JointType kind : {JointType::Revolute, JointType::Prismatic})
        joints.push_back(JointModel::make(kind, sign * Vector3::Unit(k)));
  for (const JointModel& joint : joints) {
    Model model;
    model.add_joint(0, joint, SE3::Identity(), "j");
    const SE3 P = test::random_placement(rng);
    for (const Eigen::VectorXd& q : {test::random_configuration(model, rng), neutral(model)}) {
      SE3 out;
      joint_placement(joint, P, q.data(), out);
      EXPECT_TRUE(near(out, compose(P, joint_transform(joint, q.data())), kTight))
          << joint_type_name(joint.type) << " axis " << joint.axis.transpose();
    }
  }
}

TEST(JointSubspace, WorldColumnsAreTransformedColumns) {
  std::mt19937 rng(14);
  for (JointType kind : kAllKinds) {
    const JointModel j = JointModel::make(kind, test::random_vector(rng, 2.0));
    const SE3 oMi = test::random_placement(rng);
    Eigen::Matrix<double, 6, Eigen::Dynamic> out(6, static_cast<Eigen::Index>(j.nv));
    world_subspace_columns(j, oMi, out.data());
    for (std::size_t k = 0; k < j.nv; ++k)
      EXPECT_TRUE(near(out.col(static_cast<Eigen::Index>(k)), act_column(oMi, subspace_column(j, k)), kTight))
          << joint_type_name(kind) << " column " << k;
  }
}

}  // namespace
}  // namespace lumo

#include "algorithms/configuration.hpp"
#include "algorithms/configuration_derivatives.hpp"

#include <Eigen/Geometry>
#include <unsupported/Eigen/MatrixFunctions>

#include "algorithms/errors/errors.hpp"
#include "algorithms/joints/joints.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;
using Vec = Eigen::VectorXd;

Model one_joint(JointType kind, const Vector3& axis = Vector3::UnitZ()) {
  Model model;
  model.add_joint(0, JointModel::make(kind, axis), SE3::Identity(), "j");
  return model;
}

Vec step(JointType kind, const Vec& q, const Vec& v) { return integrate(one_joint(kind), q, v); }

Matrix3 quaternion_rotation(const Eigen::Ref<const Vec>& xyzw) {
  return rotation_from_quaternion(xyzw[0], xyzw[1], xyzw[2], xyzw[3]);
}

TEST(Neutral, EveryKind) {
  EXPECT_EQ(neutral(Model()).size(), 0);
  Model model;
  for (JointType kind : {JointType::Floating, JointType::Revolute, JointType::Fixed,
                         JointType::Continuous, JointType::Prismatic, JointType::Planar,
                         JointType::Spherical})
    model.add_joint(model.njoints - 1, JointModel::make(kind, Vector3::UnitX()), SE3::Identity(), "j");
  Vec expected(19);
  expected << 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1;
  EXPECT_EQ(neutral(model), expected);
}

TEST(Integrate, ScalarAndPlanarClosedForms) {
  EXPECT_EQ(step(JointType::Revolute, Vec{{3.0}}, Vec{{1.0}}), Vec{{4.0}});
  EXPECT_EQ(step(JointType::Prismatic, Vec{{0.5}}, Vec{{-0.25}}), Vec{{0.25}});
  EXPECT_TRUE(near(step(JointType::Continuous, Vec{{1, 0}}, Vec{{kPi / 2}}), Vec{{0, 1}}, kTight));
  EXPECT_TRUE(near(step(JointType::Continuous, Vec{{2, 0}}, Vec{{kPi}}), Vec{{-2, 0}}, kTight));
  EXPECT_TRUE(near(step(JointType::Planar, Vec{{0, 0, 1, 0}}, Vec{{1, 0, 0}}), Vec{{1, 0, 1, 0}}, kTight));
  EXPECT_TRUE(near(step(JointType::Planar, Vec{{0, 0, 1, 0}}, Vec{{1, 0, kPi / 2}}),
                   Vec{{2 / kPi, 2 / kPi, 0, 1}}, kTight));
  // In general the planar step is the SE(2) exponential taken in the joint's frame.
  std::mt19937 rng(21);
  const Model planar = one_joint(JointType::Planar);
  for (double omega : {0.0, 1e-15, 0.7, -2.5}) {
    const Vec q = test::random_configuration(planar, rng);
    Vec v = test::random_velocity(planar, rng);
    v[2] = omega;
    Matrix3 T0, twist;
    T0 << q[2], -q[3], q[0], q[3], q[2], q[1], 0, 0, 1;
    twist << 0, -v[2], v[0], v[2], 0, v[1], 0, 0, 0;
    const Matrix3 T1 = T0 * twist.exp();
    EXPECT_TRUE(near(integrate(planar, q, v), Vec{{T1(0, 2), T1(1, 2), T1(0, 0), T1(1, 0)}}, kTight))
        << "omega " << omega;
  }
}

TEST(Integrate, FloatingAndSphericalRotateInTheJointFrame) {
  EXPECT_TRUE(near(step(JointType::Floating, neutral(one_joint(JointType::Floating)),
                        Vec{{1, 2, 3, 0, 0, 0}}),
                   Vec{{1, 2, 3, 0, 0, 0, 1}}, kTight));
  const double s = std::sqrt(0.5);
  EXPECT_TRUE(near(step(JointType::Floating, Vec{{0, 0, 0, 0, 0, s, s}}, Vec{{1, 0, 0, 0, 0, 0}}),
                   Vec{{0, 1, 0, 0, 0, s, s}}, kTight));

  std::mt19937 rng(22);
  const Model floating = one_joint(JointType::Floating), spherical = one_joint(JointType::Spherical);
  for (double scale : {1.0, 1e-9}) {  // the second takes the small-angle branch
    const Vec q = test::random_configuration(floating, rng);
    const Vec v = test::random_velocity(floating, rng);
    const Vector3 lin = v.head<3>(), w = v.tail<3>();
    const Vec v_scaled = (Vec(6) << lin, scale * w).finished();
    const Matrix3 R0 = quaternion_rotation(q.tail<4>());
    const Matrix3 R1 = R0 * Eigen::AngleAxisd(scale * w.norm(), w.normalized()).toRotationMatrix();
    const Vec out = integrate(floating, q, v_scaled);
    EXPECT_TRUE(near(out.head<3>(), Vector3(q.head<3>() + R0 * lin), kTight));
    EXPECT_TRUE(near(quaternion_rotation(out.tail<4>()), R1, kTight));
    EXPECT_NEAR(out.tail<4>().norm(), 1.0, kTight);
    // Same rotation for a spherical joint, even from a quaternion of length 2.
    const Vec sph = integrate(spherical, 2.0 * q.tail<4>(), scale * w);
    EXPECT_TRUE(near(quaternion_rotation(sph), R1, kTight));
    EXPECT_NEAR(sph.norm(), 1.0, kTight);
  }
}

// Non-unit quaternions come back normalised; everything else unchanged.
TEST(Integrate, ZeroVelocityKeepsConfiguration) {
  std::mt19937 rng(23);
  const Model model = test::random_tree(23, 14);
  Vec q = test::random_configuration(model, rng);
  const Vec expected = q;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType kind = model.joints[i].type;
    const auto at = static_cast<Eigen::Index>(model.idx_q[i] + (kind == JointType::Floating ? 3 : 0));
    if (kind == JointType::Floating || kind == JointType::Spherical) q.segment<4>(at) *= 2.5;
  }
  EXPECT_TRUE(near(integrate(model, q, Vec::Zero(static_cast<Eigen::Index>(model.nv))), expected, kTight));
}

TEST(Integrate, InPlaceMatchesSeparateOutput) {
  std::mt19937 rng(25);
  const Model model = test::random_tree(25, 10);
  Vec q = test::random_configuration(model, rng);
  const Vec v = test::random_velocity(model, rng);
  const Vec expected = integrate(model, q, v);
  integrate(model, q, v, q);
  EXPECT_EQ(q, expected);
}

TEST(Configuration, SizeMismatchIsAnInternalError) {
  const Model model = test::random_tree(26, 5);
  const auto nq = static_cast<Eigen::Index>(model.nq), nv = static_cast<Eigen::Index>(model.nv);
  const std::string nq_text = std::to_string(model.nq), nv_text = std::to_string(model.nv);
  EXPECT_EQ(test::error_message<InternalError>([&] { integrate(model, Vec::Zero(nq + 1), Vec::Zero(nv + 1)); }),
            "Configuration vector size mismatch: expected " + nq_text + ", got " +
                std::to_string(nq + 1));
  EXPECT_EQ(test::error_message<InternalError>([&] { integrate(model, neutral(model), Vec::Zero(nv - 1)); }),
            "Velocity vector size mismatch: expected " + nv_text + ", got " + std::to_string(nv - 1));
  Vec short_out(nq - 1);
  EXPECT_THROW(integrate(model, neutral(model), Vec::Zero(nv), short_out), InternalError);
  EXPECT_THROW(neutral(model, short_out), InternalError);
}

// A joint record whose sizes disagree with its kind (a hand-filled JointModel)
// is rejected before its slice is touched.
TEST(Configuration, InconsistentJointSizesAreInternalErrors) {
  Model wide;
  JointModel revolute = JointModel::make(JointType::Revolute, Vector3::UnitZ());
  revolute.nq = 2;
  wide.add_joint(0, revolute, SE3::Identity(), "wide");
  EXPECT_NE(test::error_message<InternalError>([&] { neutral(wide); })
                .find("Configuration size mismatch for joint 1"),
            std::string::npos);

  Model narrow;
  JointModel planar = JointModel::make(JointType::Planar, Vector3::UnitZ());
  planar.nq = 3;
  narrow.add_joint(0, planar, SE3::Identity(), "narrow");
  narrow.add_joint(1, JointModel::make(JointType::Revolute, Vector3::UnitZ()), SE3::Identity(), "r");
  EXPECT_EQ(test::error_message<InternalError>([&] { integrate(narrow, Vec::Zero(4), Vec::Zero(4)); }),
            "Planar joint requires nq>=4, got nq=3 at joint_id=1");
}

// ------------------------------------------------------------- difference

template <typename A>
double max_abs(const Eigen::MatrixBase<A>& x) {
  return x.size() == 0 ? 0.0 : x.cwiseAbs().maxCoeff();
}

// q1 slice by slice, quaternions up to sign.
double configuration_distance(const Model& model, const Vec& a, const Vec& b) {
  double err = 0.0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const auto iq = static_cast<Eigen::Index>(model.idx_q[i]);
    const JointType type = model.joints[i].type;
    const auto nq = static_cast<Eigen::Index>(joint_nq(type));
    const Eigen::Index quat = type == JointType::Floating ? 3 : (type == JointType::Spherical ? 0 : nq);
    err = std::max(err, max_abs(a.segment(iq, quat) - b.segment(iq, quat)));
    if (quat < nq) {
      const auto qa = a.segment<4>(iq + quat), qb = b.segment<4>(iq + quat);
      err = std::max(err, std::min(max_abs(qa - qb), max_abs(qa + qb)));
    }
  }
  return err;
}

TEST(Difference, InvertsIntegrateForEveryJointKind) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    std::mt19937 rng(21);
    double err_v = 0.0, err_q = 0.0;
    for (int trial = 0; trial < 5; ++trial) {
      const Vec q0 = test::random_configuration(model, rng), q1 = test::random_configuration(model, rng);
      const Vec v = test::random_velocity(model, rng, trial == 0 ? 1e-9 : 1.8);  // rotations below π
      err_v = std::max(err_v, max_abs(difference(model, q0, integrate(model, q0, v)) - v));
      err_q = std::max(err_q, configuration_distance(model, integrate(model, q0, difference(model, q0, q1)), q1));
    }
    EXPECT_LT(err_v, kClose);
    EXPECT_LT(err_q, kTight);
    report(c, "difference(q0, q0 + v) - v", err_v);
  }
  const Model model = test::random_tree(3, 8, {.floating_base = true});
  const Vec q = neutral(model);
  EXPECT_TRUE(difference(model, q, q).isZero(0.0));
  EXPECT_THROW(difference(model, q, Vec::Zero(q.size() - 1)), InternalError);
  Vec small(static_cast<Eigen::Index>(model.nv) - 1);
  EXPECT_THROW(difference(model, q, q, small), InternalError);
}

}  // namespace
}  // namespace lumo

namespace lumo {
namespace {

// Every kind in one chain, at random configurations and finite velocities:
// the derivatives against central differences taken along integrate, the
// outputs read back in the tangent space with difference.
TEST(ConfigurationDerivatives, CentralDifferencesAlongIntegrate) {
  Model model;
  for (JointType kind : {JointType::Floating, JointType::Revolute, JointType::Continuous,
                         JointType::Prismatic, JointType::Planar, JointType::Spherical})
    model.add_joint(model.njoints - 1, JointModel::make(kind, Vector3(0.3, -0.5, 0.8)), SE3::Identity(), "j");
  const auto nv = static_cast<Eigen::Index>(model.nv), nq = static_cast<Eigen::Index>(model.nq);
  std::mt19937 rng(7);
  const double h = 1e-6;
  for (int trial = 0; trial < 4; ++trial) {
    const Vec q0 = random_configuration(model, rng), q1 = random_configuration(model, rng);
    const Vec v = 1.5 * Vec::Random(nv);
    Eigen::MatrixXd dq(nv, nv), dv(nv, nv), d0(nv, nv), d1(nv, nv), T(nq, nv);
    dIntegrate(model, q0, v, dq, dv);
    dDifference(model, q0, q1, d0, d1);
    tangentMap(model, q0, T);
    const Vec out = integrate(model, q0, v);
    for (Eigen::Index k = 0; k < nv; ++k) {
      const Vec e = h * Vec::Unit(nv, k);
      const Vec qp = integrate(model, q0, e), qm = integrate(model, q0, -e);
      const Vec fd_q = (difference(model, out, integrate(model, qp, v)) -
                        difference(model, out, integrate(model, qm, v))) / (2 * h);
      const Vec fd_v = (difference(model, out, integrate(model, q0, v + e)) -
                        difference(model, out, integrate(model, q0, v - e))) / (2 * h);
      const Vec fd_0 = (difference(model, qp, q1) - difference(model, qm, q1)) / (2 * h);
      const Vec fd_1 = (difference(model, q0, integrate(model, q1, e)) -
                        difference(model, q0, integrate(model, q1, -e))) / (2 * h);
      const Vec fd_T = (qp - qm) / (2 * h);
      EXPECT_LT((dq.col(k) - fd_q).norm(), 1e-7) << "dIntegrate/dq column " << k;
      EXPECT_LT((dv.col(k) - fd_v).norm(), 1e-7) << "dIntegrate/dv column " << k;
      EXPECT_LT((d0.col(k) - fd_0).norm(), 1e-7) << "dDifference/dq0 column " << k;
      EXPECT_LT((d1.col(k) - fd_1).norm(), 1e-7) << "dDifference/dq1 column " << k;
      EXPECT_LT((T.col(k) - fd_T).norm(), 1e-7) << "tangentMap column " << k;
    }
    // The columns of T are orthogonal: TᵀT is diagonal.
    const Eigen::MatrixXd G = T.transpose() * T;
    EXPECT_LT((G - Eigen::MatrixXd(G.diagonal().asDiagonal())).norm(), 1e-12);
    // difference(q0, integrate(q0, v)) = v, so dDifference/dq1 · dIntegrate/dv = I there.
    Eigen::MatrixXd e0(nv, nv), e1(nv, nv);
    dDifference(model, q0, out, e0, e1);
    EXPECT_LT((e1 * dv - Eigen::MatrixXd::Identity(nv, nv)).norm(), 1e-9);
    EXPECT_LT((e0 + e1 * dq).norm(), 1e-9);
  }
}

}  // namespace
}  // namespace lumo

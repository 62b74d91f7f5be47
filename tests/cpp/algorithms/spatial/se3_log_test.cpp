// SE3::exp, SE3::log, their Jacobians and SE3::interpolate.
#include <unsupported/Eigen/MatrixFunctions>

#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// The 4×4 matrix of the twist xi = [ρ; φ]: [[φ×, ρ], [0, 0]].
Matrix4 twist_matrix(const Vector6& xi) {
  Matrix4 X = Matrix4::Zero();
  X.topLeftCorner<3, 3>() = skew(xi.tail<3>());
  X.topRightCorner<3, 1>() = xi.head<3>();
  return X;
}

// Twists at rotation angles across every branch: exactly 0, on either side
// of where the series give way to the closed forms, and up to a hair below π.
std::vector<Vector6> twists() {
  std::mt19937 rng(19);
  std::vector<Vector6> out;
  for (double angle : {0.0, 1e-9, 1e-5, 0.29, 0.31, 0.69, 0.71, 1.5, 2.8, 3.1, kPi - 1e-4, kPi - 1e-7}) {
    Vector6 xi;
    xi << random_vector(rng), angle * random_vector(rng).normalized();
    out.push_back(xi);
  }
  return out;
}

TEST(SE3ExpLog, ExpIsTheMatrixExponentialAndLogItsInverse) {
  for (const Vector6& xi : twists()) {
    const SE3 T = SE3::exp(xi);
    const Matrix4 H = twist_matrix(xi).exp();
    EXPECT_TRUE(near(to_homogeneous(T), H, kTight)) << xi.transpose();
    EXPECT_TRUE(near(T.log(), xi, kTight)) << xi.transpose();
  }
  // Half turns, where the axis is read from the symmetric part, and the identity.
  std::mt19937 rng(7);
  for (const Vector3& axis : {Vector3(1, 0, 0), Vector3(0, 0, 1), random_vector(rng).normalized()}) {
    const SE3 T{rotation_about_axis(axis, kPi), random_vector(rng)};
    const Vector6 xi = T.log();
    EXPECT_NEAR(xi.tail<3>().norm(), kPi, kUlps * 4);
    EXPECT_TRUE(near(SE3::exp(xi), T, kTight));
  }
  EXPECT_TRUE(SE3::Identity().log() == Vector6::Zero());
}

TEST(SE3ExpLog, JacobiansMatchCentralDifferencesAndInvertEachOther) {
  const double h = kFdStepCoarse;
  for (const Vector6& xi : twists()) {
    const Matrix6 Jexp = SE3::exp_jacobian(xi);
    const SE3 T = SE3::exp(xi);
    const Matrix6 Jlog = T.log_jacobian();
    Matrix6 fd_exp, fd_log;
    const Matrix4 Hinv = to_homogeneous(inverse(T));
    for (int k = 0; k < 6; ++k) {
      const Vector6 d = h * Vector6::Unit(k);
      // exp(xi + δ) = exp(xi)·exp(J δ): column k of J is the twist of exp(xi)⁻¹ ∂exp/∂xi_k.
      const Matrix4 dH = (to_homogeneous(SE3::exp(xi + d)) - to_homogeneous(SE3::exp(xi - d))) / (2 * h);
      const Matrix4 X = Hinv * dH;
      fd_exp.col(k) << X.topRightCorner<3, 1>(), X(2, 1), X(0, 2), X(1, 0);
      fd_log.col(k) = (compose(T, SE3::exp(d)).log() - compose(T, SE3::exp(-d)).log()) / (2 * h);
    }
    const double scale = 1.0 + Jlog.cwiseAbs().maxCoeff();
    EXPECT_TRUE(near(Jexp, fd_exp, kFiniteDifferenceFine)) << xi.transpose();
    // (within a step of π the differences of log straddle its cut)
    if (kPi - xi.tail<3>().norm() > 1e-3)
      EXPECT_TRUE(near(Jlog, fd_log, kFiniteDifferenceFine * scale)) << xi.transpose();
    EXPECT_TRUE(near(Matrix6(Jexp * Jlog), Matrix6::Identity(), kTight * scale)) << xi.transpose();
  }
}

TEST(SE3ExpLog, InterpolateEndsAndMidpoint) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 4; ++trial) {
    const SE3 a = random_placement(rng), b = random_placement(rng);
    EXPECT_TRUE(near(SE3::interpolate(a, b, 0.0), a, kTight));
    EXPECT_TRUE(near(SE3::interpolate(a, b, 1.0), b, kTight));
    // The midpoint m splits a⁻¹b into two equal halves: a⁻¹m = m⁻¹b.
    const SE3 m = SE3::interpolate(a, b, 0.5);
    EXPECT_TRUE(near(compose(inverse(a), m), compose(inverse(m), b), kTight));
  }
}

}  // namespace
}  // namespace lumo

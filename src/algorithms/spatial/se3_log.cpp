// The exponential and logarithm of rigid transforms and their Jacobians.
//
// For a twist xi = [ρ; φ], θ = |φ|, P = [φ]× and X = [ρ]×:
//   exp(xi) = (E + sinc θ · P + A P², V ρ),   V = E + A P + B P²
//   J_r(φ)   = E − A P + B P²           (right Jacobian of the rotation)
//   J_r(φ)⁻¹ = E + ½ P + D P²
//   V⁻¹     = E − ½ P + D P²
// with A = (1 − cos θ)/θ², B = (θ − sin θ)/θ³, D = (1 − (θ/2) cot(θ/2))/θ².
// The right Jacobian of exp in [linear; angular] order is
//   [[J_r(φ), Q(−ρ, −φ)], [0, J_r(φ)]]
// with the coupling block
//   Q(ρ, φ) = ½ X + B (P X + X P + P X P) + C (P² X + X P² − 3 P X P)
//             + F (P X P² + P² X P),
//   C = (θ² + 2 cos θ − 2)/(2θ⁴), F = (2θ − 3 sin θ + θ cos θ)/(2θ⁵).
// Near θ = 0 the coefficients are taken from their Taylor series (the
// closed forms lose digits to cancellation there).
#include <cmath>

#include "spatial.hpp"

namespace lumo {
namespace {

// Below these angles the coefficients come from their Taylor series through
// θ¹⁰: sinc, A, B and D below 0.3 (first omitted term under 1e-16), C and F,
// whose closed forms cancel to the fourth and fifth order, below 0.7 (under
// 1e-15 relative).
constexpr double kSeriesBelow = 0.3, kSeriesBelowHighOrder = 0.7;

struct Coefficients {
  double sinc, A, B, C, D, F;
};

Coefficients coefficients(double theta) {
  const double t2 = theta * theta;
  // Σ c_n t2ⁿ by Horner's rule, n = 0 … 5.
  auto series = [t2](double c0, double c1, double c2, double c3, double c4, double c5) {
    return c0 + t2 * (c1 + t2 * (c2 + t2 * (c3 + t2 * (c4 + t2 * c5))));
  };
  Coefficients k;
  if (theta < kSeriesBelow) {
    k.sinc = series(1.0, -1.0 / 6, 1.0 / 120, -1.0 / 5040, 1.0 / 362880, -1.0 / 39916800);
    k.A = series(0.5, -1.0 / 24, 1.0 / 720, -1.0 / 40320, 1.0 / 3628800, -1.0 / 479001600);
    k.B = series(1.0 / 6, -1.0 / 120, 1.0 / 5040, -1.0 / 362880, 1.0 / 39916800, -1.0 / 6227020800);
    k.D = series(1.0 / 12, 1.0 / 720, 1.0 / 30240, 1.0 / 1209600, 1.0 / 47900160,
                 691.0 / 1307674368000);
  } else {
    const double s = std::sin(theta), sh = std::sin(0.5 * theta), ch = std::cos(0.5 * theta);
    k.sinc = s / theta;
    k.A = 2.0 * sh * sh / t2;  // 1 − cos θ = 2 sin²(θ/2)
    k.B = (theta - s) / (t2 * theta);
    k.D = (1.0 - 0.5 * theta * ch / sh) / t2;
  }
  if (theta < kSeriesBelowHighOrder) {
    k.C = series(1.0 / 24, -1.0 / 720, 1.0 / 40320, -1.0 / 3628800, 1.0 / 479001600, -1.0 / 87178291200);
    k.F = series(1.0 / 120, -1.0 / 2520, 1.0 / 120960, -1.0 / 9979200, 1.0 / 1245404160,
                 -1.0 / 217945728000);
  } else {
    const double s = std::sin(theta), c = std::cos(theta);
    k.C = (t2 + 2.0 * c - 2.0) / (2.0 * t2 * t2);
    k.F = (2.0 * theta - 3.0 * s + theta * c) / (2.0 * t2 * t2 * theta);
  }
  return k;
}

// E + a P + b P² for P = [φ]×, with P² = φ φᵀ − θ² E.
Matrix3 polynomial(const Vector3& phi, double a, double b) {
  Matrix3 M = b * (phi * phi.transpose());
  M.diagonal().array() += 1.0 - b * phi.squaredNorm();
  M += a * skew(phi);
  return M;
}

// The coupling block Q(ρ, φ) of the left Jacobian of exp.
Matrix3 coupling(const Vector3& rho, const Vector3& phi, const Coefficients& k) {
  const Matrix3 P = skew(phi), X = skew(rho);
  const Matrix3 PX = P * X, XP = X * P, PXP = PX * P;
  return 0.5 * X + k.B * (PX + XP + PXP) + k.C * (P * PX + XP * P - 3.0 * PXP) +
         k.F * (PXP * P + P * PXP);
}

// The rotation vector φ with exp [φ]× = R, |φ| in [0, π].
Vector3 rotation_log(const Matrix3& R, double& theta) {
  // R − Rᵀ = 2 sin θ [u]×, tr R = 1 + 2 cos θ.
  const Vector3 a(0.5 * (R(2, 1) - R(1, 2)), 0.5 * (R(0, 2) - R(2, 0)), 0.5 * (R(1, 0) - R(0, 1)));
  const double s = a.norm(), c = 0.5 * (R.trace() - 1.0);
  theta = std::atan2(s, c);
  if (c > -0.95) {
    // θ/sin θ, by its series near 0
    const double ratio = theta < 1e-4 ? 1.0 + theta * theta / 6.0 : theta / s;
    return ratio * a;
  }
  // Near π, sin θ carries few digits of the axis: read it from the symmetric
  // part, (R + Rᵀ)/2 − cos θ E = (1 − cos θ) u uᵀ, by its largest column, and
  // take the sign of sin θ u.
  Matrix3 S = 0.5 * (R + R.transpose());
  S.diagonal().array() -= c;
  int k = 0;
  S.diagonal().maxCoeff(&k);
  Vector3 u = S.col(k).normalized();
  if (u.dot(a) < 0.0) u = -u;
  return theta * u;
}

}  // namespace

template <>
SE3 SE3::exp(const Vector6& xi) {
  const Vector3 rho = xi.head<3>(), phi = xi.tail<3>();
  const Coefficients k = coefficients(phi.norm());
  SE3 out;
  out.rotation = polynomial(phi, k.sinc, k.A);
  out.translation.noalias() = polynomial(phi, k.A, k.B) * rho;
  return out;
}

template <>
Vector6 SE3::log() const {
  double theta = 0.0;
  const Vector3 phi = rotation_log(rotation, theta);
  const Coefficients k = coefficients(theta);
  Vector6 xi;
  xi.head<3>().noalias() = polynomial(phi, -0.5, k.D) * translation;
  xi.tail<3>() = phi;
  return xi;
}

template <>
Matrix6 SE3::exp_jacobian(const Vector6& xi) {
  const Vector3 rho = xi.head<3>(), phi = xi.tail<3>();
  const Coefficients k = coefficients(phi.norm());
  const Matrix3 Jr = polynomial(phi, -k.A, k.B);
  Matrix6 J;
  J.topLeftCorner<3, 3>() = Jr;
  J.topRightCorner<3, 3>() = coupling(-rho, -phi, k);
  J.bottomLeftCorner<3, 3>().setZero();
  J.bottomRightCorner<3, 3>() = Jr;
  return J;
}

template <>
Matrix6 SE3::log_jacobian() const {
  const Vector6 xi = log();
  const Vector3 rho = xi.head<3>(), phi = xi.tail<3>();
  const Coefficients k = coefficients(phi.norm());
  // [[J, Q], [0, J]]⁻¹ = [[J⁻¹, −J⁻¹ Q J⁻¹], [0, J⁻¹]]
  const Matrix3 Ji = polynomial(phi, 0.5, k.D);
  Matrix6 L;
  L.topLeftCorner<3, 3>() = Ji;
  L.topRightCorner<3, 3>().noalias() = -(Ji * coupling(-rho, -phi, k) * Ji);
  L.bottomLeftCorner<3, 3>().setZero();
  L.bottomRightCorner<3, 3>() = Ji;
  return L;
}

template <>
SE3 SE3::interpolate(const SE3& a, const SE3& b, double t) {
  const Vector6 xi = compose(inverse(a), b).log();
  return compose(a, exp(t * xi));
}

}  // namespace lumo

#include "configuration_derivatives.hpp"

#include <cmath>

#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/lie.hpp"
#include "joints/joints.hpp"
#include "spatial/spatial.hpp"

namespace lumo {

namespace {

using Matrix2 = Eigen::Matrix2d;

// The rotation exp(ω).
Matrix3 so3_exp(const Vector3& w) {
  const double theta = w.norm();
  if (theta == 0.0) return Matrix3::Identity();
  return rotation_about_unit_axis(w / theta, theta);
}

// The right Jacobian of exp on SO(3): exp(ω + δ) ≈ exp(ω) exp(Jr(ω) δ).
Matrix3 so3_right_jacobian(const Vector3& w) {
  const double t2 = w.squaredNorm(), t = std::sqrt(t2);
  double a, b;  // (1 − cos θ)/θ², (θ − sin θ)/θ³
  if (t < 1e-4) {
    a = 0.5 - t2 / 24.0;
    b = 1.0 / 6.0 - t2 / 120.0;
  } else {
    a = (1.0 - std::cos(t)) / t2;
    b = (t - std::sin(t)) / (t2 * t);
  }
  const Matrix3 W = skew(w);
  return Matrix3::Identity() - a * W + b * W * W;
}

// Its inverse: log(exp(ω) exp(δ)) ≈ ω + Jr(ω)⁻¹ δ.
Matrix3 so3_right_jacobian_inverse(const Vector3& w) {
  const double t2 = w.squaredNorm(), t = std::sqrt(t2);
  // 1/θ² − (1 + cos θ)/(2 θ sin θ), which tends to 1/12
  const double c = t < 1e-4 ? 1.0 / 12.0 + t2 / 720.0
                             : 1.0 / t2 - (1.0 + std::cos(t)) / (2.0 * t * std::sin(t));
  const Matrix3 W = skew(w);
  return Matrix3::Identity() + 0.5 * W + c * W * W;
}

// SE(2) with the tangent (vx, vy, ω) in the moving frame, as the planar joint
// integrates it. exp(ξ) = (R(ω), V(ω) (vx, vy)).
struct Planar {
  Matrix2 R;
  Eigen::Vector2d t;
};

Planar se2_exp(const double* xi) {
  const double om = xi[2], c = std::cos(om), s = std::sin(om);
  double dx = xi[0], dy = xi[1];
  if (std::abs(om) > 1e-14) {
    dx = (xi[0] * s - xi[1] * (1.0 - c)) / om;
    dy = (xi[0] * (1.0 - c) + xi[1] * s) / om;
  }
  Planar g;
  g.R << c, -s, s, c;
  g.t << dx, dy;
  return g;
}

// Ad(g⁻¹) for g = (R, t): [[Rᵀ, (t'_y, −t'_x)], [0, 1]] with t' = −Rᵀ t.
Matrix3 se2_inverse_adjoint(const Planar& g) {
  const Eigen::Vector2d u = -g.R.transpose() * g.t;
  Matrix3 A = Matrix3::Zero();
  A.topLeftCorner<2, 2>() = g.R.transpose();
  A(0, 2) = u.y();
  A(1, 2) = -u.x();
  A(2, 2) = 1.0;
  return A;
}

// The right Jacobian of exp on SE(2) at ξ = (ρx, ρy, θ).
Matrix3 se2_right_jacobian(const double* xi) {
  const double r1 = xi[0], r2 = xi[1], t = xi[2];
  Matrix3 J = Matrix3::Zero();
  J(2, 2) = 1.0;
  if (std::abs(t) < 1e-6) {
    J(0, 0) = J(1, 1) = 1.0 - t * t / 6.0;
    J(0, 1) = t / 2.0;
    J(1, 0) = -t / 2.0;
    J(0, 2) = -r2 / 2.0 + r1 * t / 6.0;
    J(1, 2) = r1 / 2.0 + r2 * t / 6.0;
    return J;
  }
  const double s = std::sin(t), c = std::cos(t);
  J(0, 0) = J(1, 1) = s / t;
  J(0, 1) = (1.0 - c) / t;
  J(1, 0) = (c - 1.0) / t;
  J(0, 2) = (t * r1 - r2 + r2 * c - r1 * s) / (t * t);
  J(1, 2) = (r1 + t * r2 - r1 * c - r2 * s) / (t * t);
  return J;
}

// Its inverse, from the block form [[A, b], [0, 1]].
Matrix3 se2_right_jacobian_inverse(const double* xi) {
  const Matrix3 J = se2_right_jacobian(xi);
  const Matrix2 Ai = J.topLeftCorner<2, 2>().inverse();
  Matrix3 Ji = Matrix3::Zero();
  Ji.topLeftCorner<2, 2>() = Ai;
  Ji.topRightCorner<2, 1>() = -Ai * J.topRightCorner<2, 1>();
  Ji(2, 2) = 1.0;
  return Ji;
}

// d(r ⊗ (δ/2, 1))/dδ at 0, for the unit quaternion r: 4×3.
Eigen::Matrix<double, 4, 3> quaternion_rate(const Eigen::Vector4d& r) {
  Eigen::Matrix<double, 4, 3> D;
  D.topRows<3>() = 0.5 * (r[3] * Matrix3::Identity() + skew(r.head<3>()));
  D.row(3) = -0.5 * r.head<3>().transpose();
  return D;
}

void check_joint_range(const Model& model, JointIndex i, JointType type) {
  if (model.idx_q[i] + joint_nq(type) > model.nq || model.idx_v[i] + joint_nv(type) > model.nv)
    throw InternalError("Matrix index out of bounds.");
}

// f(type, first configuration index, first velocity index) for each moving
// joint, its slices checked against the model's sizes.
template <typename F>
void for_each_joint(const Model& model, F&& f) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    check_joint_range(model, i, type);
    if (type != JointType::Fixed) f(type, model.idx_q[i], static_cast<Eigen::Index>(model.idx_v[i]));
  }
}

void check_output(const MatrixXView& M, std::size_t rows, std::size_t cols) {
  if (static_cast<std::size_t>(M.rows()) != rows || static_cast<std::size_t>(M.cols()) != cols)
    throw InternalError(cat("Output matrix size mismatch: expected ", rows, "x", cols, ", got ", M.rows(), "x",
                            M.cols()));
}

// Two nv×nv outputs, checked and zeroed: the joints fill their diagonal blocks.
void clear_pair(const Model& model, MatrixXView& a, MatrixXView& b) {
  check_output(a, model.nv, model.nv);
  check_output(b, model.nv, model.nv);
  a.setZero();
  b.setZero();
}

}  // namespace

void dIntegrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                const Eigen::Ref<const Eigen::VectorXd>& v, MatrixXView dq, MatrixXView dv) {
  check_configuration_size(model, q.size());
  check_velocity_size(model, v.size());
  clear_pair(model, dq, dv);
  for_each_joint(model, [&](JointType type, std::size_t, Eigen::Index k) {
    const double* w = v.data() + k;
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
      case JointType::Continuous:
        dq(k, k) = 1.0;
        dv(k, k) = 1.0;
        break;
      case JointType::Planar:
        dq.block<3, 3>(k, k) = se2_inverse_adjoint(se2_exp(w));
        dv.block<3, 3>(k, k) = se2_right_jacobian(w);
        break;
      case JointType::Floating: {
        // q1 = (p + R v_lin, R exp(ω)), both parts moved in the joint frame.
        const Vector3 lin(w[0], w[1], w[2]), om(w[3], w[4], w[5]);
        const Matrix3 Et = so3_exp(om).transpose();
        dq.block<3, 3>(k, k) = Et;
        dq.block<3, 3>(k, k + 3) = -Et * skew(lin);
        dq.block<3, 3>(k + 3, k + 3) = Et;
        dv.block<3, 3>(k, k) = Et;
        dv.block<3, 3>(k + 3, k + 3) = so3_right_jacobian(om);
        break;
      }
      case JointType::Spherical: {
        const Vector3 om(w[0], w[1], w[2]);
        dq.block<3, 3>(k, k) = so3_exp(om).transpose();
        dv.block<3, 3>(k, k) = so3_right_jacobian(om);
        break;
      }
    }
  });
}

void dDifference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                 const Eigen::Ref<const Eigen::VectorXd>& q1, MatrixXView dq0, MatrixXView dq1) {
  check_configuration_size(model, q0.size());
  check_configuration_size(model, q1.size());
  clear_pair(model, dq0, dq1);
  for_each_joint(model, [&](JointType type, std::size_t iq, Eigen::Index k) {
    const double* x = q0.data() + iq;
    const double* y = q1.data() + iq;
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
      case JointType::Continuous:
        dq0(k, k) = -1.0;
        dq1(k, k) = 1.0;
        break;
      case JointType::Planar: {
        // d = log(g0⁻¹ g1): d/dq1 = Jr(d)⁻¹, d/dq0 = −Jr(d)⁻¹ Ad(exp(d)⁻¹).
        double d[3];
        planar_log(x, y, d);
        const Matrix3 Ji = se2_right_jacobian_inverse(d);
        dq1.block<3, 3>(k, k) = Ji;
        dq0.block<3, 3>(k, k) = -Ji * se2_inverse_adjoint(se2_exp(d));
        break;
      }
      case JointType::Floating: {
        // d = (R0ᵀ (p1 − p0), log(R0ᵀ R1)).
        const Matrix3 R0 = rotation_from_quaternion(x[3], x[4], x[5], x[6]);
        const Vector3 lin = R0.transpose() * Vector3(y[0] - x[0], y[1] - x[1], y[2] - x[2]);
        const Vector3 ang = quaternion_log(x + 3, y + 3);
        const Matrix3 E = so3_exp(ang), Ji = so3_right_jacobian_inverse(ang);
        dq1.block<3, 3>(k, k) = E;
        dq1.block<3, 3>(k + 3, k + 3) = Ji;
        dq0.block<3, 3>(k, k) = -Matrix3::Identity();
        dq0.block<3, 3>(k, k + 3) = skew(lin);
        dq0.block<3, 3>(k + 3, k + 3) = -Ji * E.transpose();
        break;
      }
      case JointType::Spherical: {
        const Vector3 ang = quaternion_log(x, y);
        const Matrix3 Ji = so3_right_jacobian_inverse(ang);
        dq1.block<3, 3>(k, k) = Ji;
        dq0.block<3, 3>(k, k) = -Ji * so3_exp(ang).transpose();
        break;
      }
    }
  });
}

void tangentMap(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q, MatrixXView T) {
  check_configuration_size(model, q.size());
  check_output(T, model.nq, model.nv);
  T.setZero();
  for_each_joint(model, [&](JointType type, std::size_t iq, Eigen::Index k) {
    const auto r = static_cast<Eigen::Index>(iq);
    const double* x = q.data() + r;
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
        T(r, k) = 1.0;
        break;
      case JointType::Continuous:
        T(r, k) = -x[1];
        T(r + 1, k) = x[0];
        break;
      case JointType::Planar:
        T(r, k) = x[2];
        T(r, k + 1) = -x[3];
        T(r + 1, k) = x[3];
        T(r + 1, k + 1) = x[2];
        T(r + 2, k + 2) = -x[3];
        T(r + 3, k + 2) = x[2];
        break;
      case JointType::Floating:
        T.block<3, 3>(r, k) = rotation_from_quaternion(x[3], x[4], x[5], x[6]);
        T.block<4, 3>(r + 3, k + 3) = quaternion_rate(unit_quaternion(x + 3));
        break;
      case JointType::Spherical:
        T.block<4, 3>(r, k) = quaternion_rate(unit_quaternion(x));
        break;
    }
  });
}

void configurationGradient(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& g, Eigen::Ref<Eigen::VectorXd> out) {
  check_configuration_size(model, q.size());
  check_velocity_size(model, g.size());
  check_configuration_size(model, out.size());
  for_each_joint(model, [&](JointType type, std::size_t iq, Eigen::Index k) {
    const double* x = q.data() + iq;
    const double* w = g.data() + k;
    double* y = out.data() + iq;
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
        y[0] = w[0];
        break;
      case JointType::Continuous: {
        const double n2 = x[0] * x[0] + x[1] * x[1];
        y[0] = -x[1] * w[0] / n2;
        y[1] = x[0] * w[0] / n2;
        break;
      }
      case JointType::Planar: {
        const double c = x[2], s = x[3], n2 = c * c + s * s;
        y[0] = (c * w[0] - s * w[1]) / n2;
        y[1] = (s * w[0] + c * w[1]) / n2;
        y[2] = -s * w[2] / n2;
        y[3] = c * w[2] / n2;
        break;
      }
      case JointType::Floating: {
        // the translation columns are those of a rotation (unit); the
        // quaternion's have length 1/2
        const Vector3 p = rotation_from_quaternion(x[3], x[4], x[5], x[6]) * Vector3(w[0], w[1], w[2]);
        const Eigen::Vector4d r = 4.0 * quaternion_rate(unit_quaternion(x + 3)) * Vector3(w[3], w[4], w[5]);
        for (int k = 0; k < 3; ++k) y[k] = p[k];
        for (int k = 0; k < 4; ++k) y[3 + k] = r[k];
        break;
      }
      case JointType::Spherical: {
        const Eigen::Vector4d r = 4.0 * quaternion_rate(unit_quaternion(x)) * Vector3(w[0], w[1], w[2]);
        for (int k = 0; k < 4; ++k) y[k] = r[k];
        break;
      }
    }
  });
}

}  // namespace lumo

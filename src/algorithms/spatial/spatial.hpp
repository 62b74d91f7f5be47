// Spatial algebra: rigid transforms, 6-D motion and force vectors, body
// inertias. Everything is a fixed-size value; nothing here allocates.
//
// Storage orders (the commonest source of bugs in this field):
//   Motion  (ω, v)  angular first;  Force (n, f)  moment first.
//   Jacobian-style 6-vectors and 6×6 matrices: [linear; angular].
//   BodyInertia packs the rotational inertia about the centre of mass as
//   (Ixx, Iyx, Iyy, Izx, Izy, Izz); OriginInertia the one about the origin.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <cmath>
#include <type_traits>

#include "sincos.hpp"

namespace lumo {

using Vector3 = Eigen::Vector3d;
using Matrix3 = Eigen::Matrix3d;
using Matrix4 = Eigen::Matrix4d;
using Vector6 = Eigen::Matrix<double, 6, 1>;  // [linear; angular]
using Matrix6 = Eigen::Matrix<double, 6, 6>;  // [linear; angular] rows and columns

// The value types below are written over their scalar S: double everywhere
// but in the lock-step kernels (kernels/lockstep.hpp), whose scalar holds one
// number of each of several states. Model constants stay double; lift() gives
// them the scalar of the expression they enter (for double, itself).
template <class S>
using Vector3T = Eigen::Matrix<S, 3, 1>;
template <class S>
using Matrix3T = Eigen::Matrix<S, 3, 3>;

template <class S, class Derived>
inline decltype(auto) lift(const Eigen::MatrixBase<Derived>& x) {
  if constexpr (std::is_same_v<S, typename Derived::Scalar>)
    return x.derived();
  else
    return x.template cast<S>();
}

// A·X for A 3×3 or 6×6 and X 3×n or 6×n, Aᵀ·x for A 3×3, and u·x (x, u 3-
// or 6-vectors), each operand double or the scalar of the other. For double
// these are Eigen's products (an expression, evaluated where it is
// assigned). For another scalar, whose products Eigen computes with plain
// loops summing in another order, the sums are written out and grouped as
// Eigen groups them for double on the baseline x86-64 build (SSE2, two rows
// at a time): rows of A·X in pairs, each summed along k in order (a + b) + c
// ..., a last odd row as a + (b + c); Aᵀ·x as (a + b) + c; u·x as
// (a + b) + c for 3 entries and (p0 + (p2 + p4)) + (p1 + (p3 + p5)) for 6. So
// each lane of a lock-step scalar gets the numbers of the single call.
namespace detail {
// Two doubles computed side by side (the two-motion kernels below, the
// mass matrix's row projections).
typedef double Lanes2 __attribute__((vector_size(16)));
template <class A, class X>
using ProductScalar =
    std::conditional_t<std::is_same_v<typename A::Scalar, double>, typename X::Scalar, typename A::Scalar>;
}  // namespace detail

template <class A, class X>
inline auto times(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<X>& x) {
  using S = detail::ProductScalar<A, X>;
  if constexpr (std::is_same_v<S, double>) {
    return a.derived() * x.derived();
  } else {
    constexpr int m = A::RowsAtCompileTime, d = A::ColsAtCompileTime, n = X::ColsAtCompileTime;
    static_assert((m == 3 || m == 6) && d == m, "3×3 or 6×6");
    Eigen::Matrix<S, m, n> out;
    for (int j = 0; j < n; ++j) {
      for (int r = 0; r < m - m % 2; ++r) {
        S sum = a(r, 0) * x(0, j);
        for (int k = 1; k < d; ++k) sum = sum + a(r, k) * x(k, j);
        out(r, j) = sum;
      }
      if constexpr (m == 3) out(2, j) = a(2, 0) * x(0, j) + (a(2, 1) * x(1, j) + a(2, 2) * x(2, j));
    }
    return out;
  }
}

template <class A, class X>
inline auto transpose_times(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<X>& x) {
  using S = detail::ProductScalar<A, X>;
  if constexpr (std::is_same_v<S, double>) {
    return a.derived().transpose() * x.derived();
  } else {
    Vector3T<S> out;
    for (int r = 0; r < 3; ++r) out[r] = (a(0, r) * x[0] + a(1, r) * x[1]) + a(2, r) * x[2];
    return out;
  }
}

template <class U, class X>
inline auto dot(const Eigen::MatrixBase<U>& u, const Eigen::MatrixBase<X>& x) {
  using S = detail::ProductScalar<U, X>;
  if constexpr (std::is_same_v<S, double>) {
    return u.dot(x);
  } else if constexpr (U::SizeAtCompileTime == 3) {
    return S((u[0] * x[0] + u[1] * x[1]) + u[2] * x[2]);
  } else {
    static_assert(U::SizeAtCompileTime == 6, "3 or 6 entries");
    const S p0 = u[0] * x[0], p1 = u[1] * x[1], p2 = u[2] * x[2], p3 = u[3] * x[3], p4 = u[4] * x[4],
            p5 = u[5] * x[5];
    return S((p0 + (p2 + p4)) + (p1 + (p3 + p5)));
  }
}

// Rigid transform aMb: x_a = rotation · x_b + translation.
template <class S>
struct SE3T {
  Matrix3T<S> rotation = Matrix3T<S>::Identity();
  Vector3T<S> translation = Vector3T<S>::Zero();

  static SE3T Identity() { return SE3T{}; }

  // The exponential of the twist xi = [ρ; φ] ([linear; angular]): the
  // placement reached from the identity moving with xi, in its own frame, for
  // unit time: (exp [φ]×, V(φ) ρ), V the left Jacobian of the rotation.
  static SE3T exp(const Vector6& xi);
  // Its inverse: the twist xi with exp(xi) = *this, rotation angle |φ| in
  // [0, π] (at exactly π, either of the two axes). Accurate near 0 and near π.
  Vector6 log() const;
  // The right Jacobian of exp: exp(xi + δ) = exp(xi)·exp(J δ + O(δ²)).
  static Matrix6 exp_jacobian(const Vector6& xi);
  // d log(T·exp(δ))/dδ at δ = 0, T = *this: the inverse of
  // exp_jacobian(log()).
  Matrix6 log_jacobian() const;
  // a·exp(t·log(a⁻¹·b)): a at t = 0, b at t = 1, along the constant twist
  // between them (in a's frame).
  static SE3T interpolate(const SE3T& a, const SE3T& b, double t);
};
using SE3 = SE3T<double>;
// (exp, log and the rest exist for double only: se3_log.cpp)
template <>
SE3 SE3::exp(const Vector6& xi);
template <>
Vector6 SE3::log() const;
template <>
Matrix6 SE3::exp_jacobian(const Vector6& xi);
template <>
Matrix6 SE3::log_jacobian() const;
template <>
SE3 SE3::interpolate(const SE3& a, const SE3& b, double t);

// Spatial motion (ω, v), angular part first.
template <class S>
struct MotionT {
  Vector3T<S> angular = Vector3T<S>::Zero();
  Vector3T<S> linear = Vector3T<S>::Zero();

  static MotionT Zero() { return MotionT{}; }
  MotionT operator+(const MotionT& o) const { return {angular + o.angular, linear + o.linear}; }
  MotionT operator-(const MotionT& o) const { return {angular - o.angular, linear - o.linear}; }
  MotionT operator-() const { return {-angular, -linear}; }
  MotionT& operator+=(const MotionT& o) {
    angular += o.angular;
    linear += o.linear;
    return *this;
  }
};
using Motion = MotionT<double>;

// Spatial force (n, f), moment first.
template <class S>
struct ForceT {
  Vector3T<S> moment = Vector3T<S>::Zero();
  Vector3T<S> force = Vector3T<S>::Zero();

  static ForceT Zero() { return ForceT{}; }
  ForceT operator+(const ForceT& o) const { return {moment + o.moment, force + o.force}; }
  ForceT operator-(const ForceT& o) const { return {moment - o.moment, force - o.force}; }
  ForceT& operator+=(const ForceT& o) {
    moment += o.moment;
    force += o.force;
    return *this;
  }
};
using Force = ForceT<double>;

// A model constant in the scalar S.
template <class S>
inline MotionT<S> lift(const Motion& m) {
  return {lift<S>(m.angular), lift<S>(m.linear)};
}
template <class S>
inline SE3T<S> lift(const SE3& M) {
  return {lift<S>(M.rotation), lift<S>(M.translation)};
}

// Inertia of one rigid body in some frame: mass, centre of mass `lever`, and
// the rotational inertia about the centre of mass in that frame's axes.
template <class S>
struct BodyInertiaT {
  S mass = S(0.0);
  Vector3T<S> lever = Vector3T<S>::Zero();
  std::array<S, 6> inertia{};  // Ixx, Iyx, Iyy, Izx, Izy, Izz

  static BodyInertiaT Zero() { return BodyInertiaT{}; }
};
using BodyInertia = BodyInertiaT<double>;

// The same inertia about the origin of its frame: mass m, first moment
// h = m·c and the rotational inertia about the origin,
// I_o = I_c + m (|c|² E − c cᵀ), packed as in BodyInertia. Inertias in one
// frame add up in this form by plain sums (the composite inertias of crba).
template <class S>
struct OriginInertiaT {
  S mass = S(0.0);
  Vector3T<S> first_moment = Vector3T<S>::Zero();
  std::array<S, 6> inertia{};  // Ixx, Iyx, Iyy, Izx, Izy, Izz about the origin

  static OriginInertiaT Zero() { return OriginInertiaT{}; }
  OriginInertiaT& operator+=(const OriginInertiaT& o) {
    mass += o.mass;
    first_moment += o.first_moment;
    for (int k = 0; k < 6; ++k) inertia[k] += o.inertia[k];
    return *this;
  }
};
using OriginInertia = OriginInertiaT<double>;

// [a]× such that [a]×·b = a × b.
inline Matrix3 skew(const Vector3& a) {
  Matrix3 s;
  s << 0.0, -a.z(), a.y(), a.z(), 0.0, -a.x(), -a.y(), a.x(), 0.0;
  return s;
}

// ---------------------------------------------------------------- transforms

inline SE3 identity() { return SE3{}; }

// A·B = (R_A R_B, R_A p_B + p_A).
template <class S>
inline SE3T<S> compose(const SE3T<S>& A, const SE3T<S>& B) {
  SE3T<S> out;
  out.rotation.noalias() = times(A.rotation, B.rotation);
  out.translation.noalias() = times(A.rotation, B.translation);
  out.translation += A.translation;
  return out;
}

// M⁻¹ = (Rᵀ, −Rᵀ p).
inline SE3 inverse(const SE3& M) {
  SE3 out;
  out.rotation = M.rotation.transpose();
  out.translation.noalias() = -(M.rotation.transpose() * M.translation);
  return out;
}

template <class S>
inline Vector3T<S> act_point(const SE3T<S>& M, const Vector3& x) {
  return times(M.rotation, x) + M.translation;
}

inline Matrix4 to_homogeneous(const SE3& M) {
  Matrix4 H = Matrix4::Identity();
  H.topLeftCorner<3, 3>() = M.rotation;
  H.topRightCorner<3, 1>() = M.translation;
  return H;
}

// M·(ω, v) = (R ω, R v + p × R ω).
inline Motion act_motion(const SE3& M, const Motion& m) {
  Motion out;
  out.angular.noalias() = M.rotation * m.angular;
  out.linear.noalias() = M.rotation * m.linear;
  out.linear += M.translation.cross(out.angular);
  return out;
}

// M⁻¹·(ω, v) = (Rᵀ ω, Rᵀ (v − p × ω)).
template <class S>
inline MotionT<S> act_inv_motion(const SE3T<S>& M, const MotionT<S>& m) {
  MotionT<S> out;
  out.angular.noalias() = transpose_times(M.rotation, m.angular);
  const Vector3T<S> t = m.linear - M.translation.cross(m.angular);
  out.linear.noalias() = transpose_times(M.rotation, t);
  return out;
}

// M·(n, f) = (R n + p × R f, R f): a child-frame force carried to the parent.
template <class S>
inline ForceT<S> act_force(const SE3T<S>& M, const ForceT<S>& f) {
  ForceT<S> out;
  out.force.noalias() = times(M.rotation, f.force);
  out.moment.noalias() = times(M.rotation, f.moment);
  out.moment += M.translation.cross(out.force);
  return out;
}

// act_inv_motion of two motions through the same M (rnea's velocity and
// acceleration). For double the two are the lanes of 128-bit vectors, each
// lane computing what act_inv_motion computes, in the same order; for the
// lock-step scalars, two calls. Inputs are read before outputs are written.
template <class S>
inline void act_inv_motion(const SE3T<S>& M, const MotionT<S>& m0, const MotionT<S>& m1, MotionT<S>& out0,
                           MotionT<S>& out1) {
  const MotionT<S> r0 = act_inv_motion(M, m0), r1 = act_inv_motion(M, m1);
  out0 = r0;
  out1 = r1;
}
inline void act_inv_motion(const SE3& M, const Motion& m0, const Motion& m1, Motion& out0, Motion& out1) {
  using L = detail::Lanes2;
  const Matrix3& R = M.rotation;
  const double px = M.translation.x(), py = M.translation.y(), pz = M.translation.z();
  const L w0{m0.angular[0], m1.angular[0]}, w1{m0.angular[1], m1.angular[1]}, w2{m0.angular[2], m1.angular[2]};
  // t = v − p × ω
  const L t0 = L{m0.linear[0], m1.linear[0]} - (py * w2 - pz * w1);
  const L t1 = L{m0.linear[1], m1.linear[1]} - (pz * w0 - px * w2);
  const L t2 = L{m0.linear[2], m1.linear[2]} - (px * w1 - py * w0);
  L ang[3], lin[3];
  for (int r = 0; r < 3; ++r) {
    ang[r] = (R(0, r) * w0 + R(1, r) * w1) + R(2, r) * w2;
    lin[r] = (R(0, r) * t0 + R(1, r) * t1) + R(2, r) * t2;
  }
  for (int r = 0; r < 3; ++r) {
    out0.angular[r] = ang[r][0];
    out1.angular[r] = ang[r][1];
    out0.linear[r] = lin[r][0];
    out1.linear[r] = lin[r][1];
  }
}

// (ω₁, v₁) × (ω₂, v₂) = (ω₁ × ω₂, ω₁ × v₂ + v₁ × ω₂).
template <class S>
inline MotionT<S> motion_cross(const MotionT<S>& a, const MotionT<S>& b) {
  return {a.angular.cross(b.angular), a.angular.cross(b.linear) + a.linear.cross(b.angular)};
}

// (ω, v) ×* (n, f) = (ω × n + v × f, ω × f).
template <class S>
inline ForceT<S> motion_cross_force(const MotionT<S>& a, const ForceT<S>& f) {
  return {a.angular.cross(f.moment) + a.linear.cross(f.force), a.angular.cross(f.force)};
}

// The velocity of the point p of a body moving at m = (ω, v), both in one
// frame with v about its origin: v + ω × p.
inline Vector3 point_velocity(const Motion& m, const Vector3& p) { return m.linear + m.angular.cross(p); }

// The classical acceleration of that point for the body's spatial
// acceleration a = (ω̇, a_v) in the same frame: a_v + ω̇ × p + ω × ṗ.
inline Vector3 point_acceleration(const Motion& v, const Motion& a, const Vector3& p) {
  return a.linear + a.angular.cross(p) + v.angular.cross(point_velocity(v, p));
}

// ------------------------------------------------- Jacobian-column helpers

// A Motion written as a [linear; angular] column.
inline Vector6 to_column(const Motion& m) {
  Vector6 c;
  c << m.linear, m.angular;
  return c;
}

inline Motion from_column(const Vector6& c) { return {c.tail<3>(), c.head<3>()}; }

// M·(l, w) = (R l + p × R w, R w) for a [linear; angular] column.
template <class S>
inline Eigen::Matrix<S, 6, 1> act_column(const SE3T<S>& M, const Vector6& c) {
  Eigen::Matrix<S, 6, 1> out;
  out.template tail<3>().noalias() = times(M.rotation, c.tail<3>());
  out.template head<3>().noalias() = times(M.rotation, c.head<3>());
  out.template head<3>() += M.translation.cross(Vector3T<S>(out.template tail<3>()));
  return out;
}
inline Vector6 act_column(const SE3& M, const Vector6& c) { return act_column<double>(M, c); }

// M⁻¹·(l, w) = (Rᵀ (l − p × w), Rᵀ w).
template <class S>
inline Eigen::Matrix<S, 6, 1> act_inv_column(const SE3T<S>& M, const Eigen::Matrix<S, 6, 1>& c) {
  Eigen::Matrix<S, 6, 1> out;
  const Vector3T<S> w = c.template tail<3>();
  const Vector3T<S> t = c.template head<3>() - M.translation.cross(w);
  out.template head<3>().noalias() = transpose_times(M.rotation, t);
  out.template tail<3>().noalias() = transpose_times(M.rotation, w);
  return out;
}
inline Vector6 act_inv_column(const SE3& M, const Vector6& c) { return act_inv_column<double>(M, c); }

// Power of a force on a [linear; angular] column: l·f + w·n.
inline double project(const Vector6& c, const Force& f) {
  return c.head<3>().dot(f.force) + c.tail<3>().dot(f.moment);
}

// ------------------------------------------------------------- rotations

// The axis divided by its norm, and that vector by its own norm once more.
inline Vector3 unit_axis(const Vector3& axis) {
  Vector3 u = axis / axis.norm();
  return u / u.norm();
}

// True when x is exactly zero (for a lock-step scalar: in every state).
inline bool exactly_zero(double x) { return x == 0.0; }
// True when x is exactly zero (for a lock-step scalar: in some state).
inline bool has_zero(double x) { return x == 0.0; }

// True when R is exactly the identity (most joint origins carry no rotation).
inline bool is_identity_rotation(const Matrix3& R) {
  const double* r = R.data();
  return r[0] == 1.0 && r[4] == 1.0 && r[8] == 1.0 && r[1] == 0.0 && r[2] == 0.0 && r[3] == 0.0 &&
         r[5] == 0.0 && r[6] == 0.0 && r[7] == 0.0;
}

// Rodrigues rotation about a unit axis by the angle of sine s and cosine c.
template <class S>
inline Matrix3T<S> rotation_about_unit_axis(const Vector3& u, S s, S c) {
  const S t = 1.0 - c;
  const double x = u.x(), y = u.y(), z = u.z();
  Matrix3T<S> R;
  R(0, 0) = x * x + (1.0 - x * x) * c;
  R(1, 1) = y * y + (1.0 - y * y) * c;
  R(2, 2) = z * z + (1.0 - z * z) * c;
  R(0, 1) = x * y * t - z * s;
  R(1, 0) = x * y * t + z * s;
  R(0, 2) = x * z * t + y * s;
  R(2, 0) = x * z * t - y * s;
  R(1, 2) = y * z * t - x * s;
  R(2, 1) = y * z * t + x * s;
  return R;
}

// The same by an angle; an angle equal to 0 gives exactly E.
inline Matrix3 rotation_about_unit_axis(const Vector3& u, double angle) {
  if (angle == 0.0) return Matrix3::Identity();
  double s, c;
  sincos_inline(angle, s, c);
  return rotation_about_unit_axis(u, s, c);
}

inline Matrix3 rotation_about_axis(const Vector3& axis, double angle) {
  return rotation_about_unit_axis(unit_axis(axis), angle);
}

// Rotation of the quaternion (x, y, z, w), normalised first.
inline Matrix3 rotation_from_quaternion(double x, double y, double z, double w) {
  const double n = std::sqrt(x * x + y * y + z * z + w * w);
  x /= n;
  y /= n;
  z /= n;
  w /= n;
  Matrix3 R;
  R(0, 0) = w * w + x * x - y * y - z * z;
  R(1, 1) = w * w - x * x + y * y - z * z;
  R(2, 2) = w * w - x * x - y * y + z * z;
  R(0, 1) = 2.0 * (x * y - w * z);
  R(1, 0) = 2.0 * (x * y + w * z);
  R(0, 2) = 2.0 * (x * z + w * y);
  R(2, 0) = 2.0 * (x * z - w * y);
  R(1, 2) = 2.0 * (y * z - w * x);
  R(2, 1) = 2.0 * (y * z + w * x);
  return R;
}

// Rotation Rz(yaw)·Ry(pitch)·Rx(roll) of fixed-axis roll, pitch, yaw.
inline Matrix3 rotation_from_rpy(double roll, double pitch, double yaw) {
  const double cr = std::cos(roll), sr = std::sin(roll);
  const double cp = std::cos(pitch), sp = std::sin(pitch);
  const double cy = std::cos(yaw), sy = std::sin(yaw);
  Matrix3 R;
  R << cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr,  //
      sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr,   //
      -sp, cp * sr, cp * cr;
  return R;
}

// --------------------------------------------------------------- inertias

// The packed rotational inertia as a full symmetric matrix.
inline Matrix3 inertia_tensor(const BodyInertia& Y) {
  const auto& I = Y.inertia;
  Matrix3 T;
  T << I[0], I[1], I[3],  //
      I[1], I[2], I[4],   //
      I[3], I[4], I[5];
  return T;
}

inline void set_inertia_tensor(BodyInertia& Y, const Matrix3& T) {
  Y.inertia = {T(0, 0), T(1, 0), T(1, 1), T(2, 0), T(2, 1), T(2, 2)};
}

// The rotational inertia of Y turned by R, R I Rᵀ, packed. Only the six
// packed entries of (R I) Rᵀ are formed, each summed as the 3×3 product
// sums it: rows x and y as (a + b) + c, row z as a + (b + c). For a diagonal
// I (principal axes, as most bodies are given), R I scales the columns of R:
// the same numbers, the products by zero left out.
template <class S>
inline std::array<S, 6> rotated_inertia(const Matrix3T<S>& R, const BodyInertia& Y) {
  Matrix3T<S> T;
  const auto& I = Y.inertia;
  if (I[1] == 0.0 && I[3] == 0.0 && I[4] == 0.0) {
    T.col(0) = R.col(0) * I[0];
    T.col(1) = R.col(1) * I[2];
    T.col(2) = R.col(2) * I[5];
  } else {
    T.noalias() = times(R, inertia_tensor(Y));
  }
  auto entry = [&](int i, int j) {
    const S p0 = T(i, 0) * R(j, 0), p1 = T(i, 1) * R(j, 1), p2 = T(i, 2) * R(j, 2);
    return i < 2 ? (p0 + p1) + p2 : p0 + (p1 + p2);
  };
  return {entry(0, 0), entry(1, 0), entry(1, 1), entry(2, 0), entry(2, 1), entry(2, 2)};
}

// The inertia expressed in the frame a, given M = aMb and Y in frame b:
// mass kept, lever R c + p, rotational inertia R I Rᵀ (about the centre of mass).
template <class S>
inline BodyInertiaT<S> inertia_transform(const SE3T<S>& M, const BodyInertia& Y) {
  BodyInertiaT<S> out;
  out.mass = Y.mass;
  out.lever = act_point(M, Y.lever);
  out.inertia = rotated_inertia(M.rotation, Y);
  return out;
}

// Y_a ← Y_a + Y_b (both in one frame), by the parallel-axis theorem. A
// combined mass below 1e-10 leaves Y_a as it was.
inline void inertia_merge(BodyInertia& Ya, const BodyInertia& Yb) {
  const double m = Ya.mass + Yb.mass;
  if (m < 1e-10) return;
  const Vector3 c = (Ya.mass * Ya.lever + Yb.mass * Yb.lever) / m;
  const Vector3 da = Ya.lever - c, db = Yb.lever - c;
  // m (|d|² E − d dᵀ), packed
  auto shift = [](double mass, const Vector3& d, std::array<double, 6>& I) {
    const double d2 = d.squaredNorm();
    I[0] += mass * (d2 - d.x() * d.x());
    I[1] -= mass * d.y() * d.x();
    I[2] += mass * (d2 - d.y() * d.y());
    I[3] -= mass * d.z() * d.x();
    I[4] -= mass * d.z() * d.y();
    I[5] += mass * (d2 - d.z() * d.z());
  };
  std::array<double, 6> I = Ya.inertia;
  for (int k = 0; k < 6; ++k) I[k] += Yb.inertia[k];
  shift(Ya.mass, da, I);
  shift(Yb.mass, db, I);
  Ya.mass = m;
  Ya.lever = c;
  Ya.inertia = I;
}

// Y_a ← Y_a + Y_b for composite inertias: inertia_merge, except that below
// a combined mass of 1e-10 the rotational inertias still add up (a massless
// body's spatial inertia does not depend on where its centre of mass is), so
// no body is lost from a composite.
inline void composite_merge(BodyInertia& Ya, const BodyInertia& Yb) {
  const double m = Ya.mass + Yb.mass;
  if (m >= 1e-10) {
    inertia_merge(Ya, Yb);
    return;
  }
  if (m > 0.0) Ya.lever = (Ya.mass * Ya.lever + Yb.mass * Yb.lever) / m;
  Ya.mass = m;
  for (int k = 0; k < 6; ++k) Ya.inertia[k] += Yb.inertia[k];
}

// I += m (|c|² E − c cᵀ), packed, with h = m c: the rotational inertia
// about the centre of mass carried to the origin.
template <class S>
inline void add_parallel_axis(const Vector3T<S>& h, const Vector3T<S>& c, std::array<S, 6>& I) {
  I[0] += h.y() * c.y() + h.z() * c.z();
  I[1] -= h.y() * c.x();
  I[2] += h.x() * c.x() + h.z() * c.z();
  I[3] -= h.z() * c.x();
  I[4] -= h.z() * c.y();
  I[5] += h.x() * c.x() + h.y() * c.y();
}

// Y about the origin of its frame: I_o = I_c + m (|c|² E − c cᵀ), h = m c.
template <class S>
inline OriginInertiaT<S> origin_form(const BodyInertiaT<S>& Y) {
  const Vector3T<S> c = Y.lever, h = Y.mass * c;
  OriginInertiaT<S> out;
  out.mass = Y.mass;
  out.inertia = Y.inertia;
  add_parallel_axis(h, c, out.inertia);
  out.first_moment = h;
  return out;
}

// Y, in frame b about its centre of mass, in the frame a about a's origin
// for M = aMb: origin_form(inertia_transform(M, Y)) in one step, the same
// numbers.
template <class S>
inline OriginInertiaT<S> origin_inertia_transform(const SE3T<S>& M, const BodyInertia& Y) {
  const Vector3T<S> c = act_point(M, Y.lever), h = S(Y.mass) * c;
  OriginInertiaT<S> out;
  out.mass = Y.mass;
  out.inertia = rotated_inertia(M.rotation, Y);
  add_parallel_axis(h, c, out.inertia);
  out.first_moment = h;
  return out;
}

// Back about the centre of mass: c = h / m, I_c = I_o − m (|c|² E − c cᵀ);
// without mass, c = 0 and I_c = I_o.
inline BodyInertia centre_form(const OriginInertia& Y) {
  BodyInertia out;
  out.mass = Y.mass;
  out.inertia = Y.inertia;
  if (Y.mass <= 0.0) return out;
  const Vector3 h = Y.first_moment, c = h / Y.mass;
  auto& I = out.inertia;
  I[0] -= h.y() * c.y() + h.z() * c.z();
  I[1] += h.y() * c.x();
  I[2] -= h.x() * c.x() + h.z() * c.z();
  I[3] += h.z() * c.x();
  I[4] += h.z() * c.y();
  I[5] -= h.x() * c.x() + h.y() * c.y();
  out.lever = c;
  return out;
}

// The 6×6 spatial inertia in [linear; angular] order:
// [[m E, −m [c]×], [m [c]×, I_c − m [c]×[c]×]].
inline Matrix6 inertia_matrix(const BodyInertia& Y) {
  const Matrix3 C = skew(Y.lever);
  Matrix6 out;
  out.topLeftCorner<3, 3>() = Y.mass * Matrix3::Identity();
  out.topRightCorner<3, 3>() = -Y.mass * C;
  out.bottomLeftCorner<3, 3>() = Y.mass * C;
  out.bottomRightCorner<3, 3>() = inertia_tensor(Y) - Y.mass * C * C;
  return out;
}

// Momentum of the body moving with (ω, v):
// (I_c ω + m c × (v − c × ω), m (v − c × ω)).
// Written out on the packed inertia, with the sums of inertia_tensor(Y) · ω
// grouped as the 3×3 product groups them: rows x and y as (a + b) + c, row z
// as a + (b + c).
template <class S>
inline ForceT<S> inertia_apply(const BodyInertia& Y, const MotionT<S>& m) {
  const double* I = Y.inertia.data();
  const double cx = Y.lever.x(), cy = Y.lever.y(), cz = Y.lever.z();
  const S wx = m.angular.x(), wy = m.angular.y(), wz = m.angular.z();
  // velocity of the centre of mass, v − c × ω, times the mass
  const S fx = Y.mass * (m.linear.x() - (cy * wz - cz * wy));
  const S fy = Y.mass * (m.linear.y() - (cz * wx - cx * wz));
  const S fz = Y.mass * (m.linear.z() - (cx * wy - cy * wx));
  ForceT<S> out;
  out.force = Vector3T<S>(fx, fy, fz);
  out.moment = Vector3T<S>(((I[0] * wx + I[1] * wy) + I[3] * wz) + (cy * fz - cz * fy),
                       ((I[1] * wx + I[2] * wy) + I[4] * wz) + (cz * fx - cx * fz),
                       (I[3] * wx + (I[4] * wy + I[5] * wz)) + (cx * fy - cy * fx));
  return out;
}

// inertia_apply of two motions (rnea's acceleration and velocity), as the
// lanes of 128-bit vectors for double, each computing what inertia_apply
// computes; two calls for the lock-step scalars.
template <class S>
inline void inertia_apply(const BodyInertia& Y, const MotionT<S>& m0, const MotionT<S>& m1, ForceT<S>& out0,
                          ForceT<S>& out1) {
  out0 = inertia_apply(Y, m0);
  out1 = inertia_apply(Y, m1);
}
inline void inertia_apply(const BodyInertia& Y, const Motion& m0, const Motion& m1, Force& out0, Force& out1) {
  using L = detail::Lanes2;
  const double* I = Y.inertia.data();
  const double cx = Y.lever.x(), cy = Y.lever.y(), cz = Y.lever.z();
  const L wx{m0.angular.x(), m1.angular.x()}, wy{m0.angular.y(), m1.angular.y()},
      wz{m0.angular.z(), m1.angular.z()};
  const L fx = Y.mass * (L{m0.linear.x(), m1.linear.x()} - (cy * wz - cz * wy));
  const L fy = Y.mass * (L{m0.linear.y(), m1.linear.y()} - (cz * wx - cx * wz));
  const L fz = Y.mass * (L{m0.linear.z(), m1.linear.z()} - (cx * wy - cy * wx));
  const L nx = ((I[0] * wx + I[1] * wy) + I[3] * wz) + (cy * fz - cz * fy);
  const L ny = ((I[1] * wx + I[2] * wy) + I[4] * wz) + (cz * fx - cx * fz);
  const L nz = (I[3] * wx + (I[4] * wy + I[5] * wz)) + (cx * fy - cy * fx);
  out0.force = Vector3(fx[0], fy[0], fz[0]);
  out1.force = Vector3(fx[1], fy[1], fz[1]);
  out0.moment = Vector3(nx[0], ny[0], nz[0]);
  out1.moment = Vector3(nx[1], ny[1], nz[1]);
}

// d/dt of the 6×6 inertia of a body moving with m = (ω, v):
// m×*·Ŷ − Ŷ·m×, in [linear; angular] order. With Ŷ = [[m E, −m C], [m C, D]],
// C = [c]×, D = I_c − m C C, W = [ω]×, V = [v]× this is
//   [[0, m [c × ω − v]×], [−m [c × ω − v]×, W D − D W − m (V C + C V)]],
// where W D − D W = W D + (W D)ᵀ and V C + C V = c vᵀ + v cᵀ − 2 (c·v) E.
inline Matrix6 inertia_variation(const BodyInertia& Y, const Motion& m) {
  const double mass = Y.mass;
  const Vector3& c = Y.lever;
  const Vector3& w = m.angular;
  const Vector3& v = m.linear;
  Matrix3 D = inertia_tensor(Y);
  D.noalias() -= mass * (c * c.transpose());
  D.diagonal().array() += mass * c.squaredNorm();
  Matrix3 WD;
  WD.noalias() = skew(w) * D;
  Matrix3 BR = WD + WD.transpose();
  BR.noalias() -= mass * (c * v.transpose() + v * c.transpose());
  BR.diagonal().array() += 2.0 * mass * c.dot(v);
  const Matrix3 S = skew(mass * (c.cross(w) - v));
  Matrix6 out;
  out.topLeftCorner<3, 3>().setZero();
  out.topRightCorner<3, 3>() = S;
  out.bottomLeftCorner<3, 3>() = -S;
  out.bottomRightCorner<3, 3>() = BR;
  return out;
}

inline void matrix6_add(Matrix6& A, const Matrix6& B) { A += B; }

}  // namespace lumo

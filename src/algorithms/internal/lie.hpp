// The logarithms of the joints' configuration groups, shared by difference
// and its derivatives.
#pragma once

#include <Eigen/Core>
#include <cmath>

#include "../spatial/spatial.hpp"

namespace lumo {

// q/|q| for the quaternion (x, y, z, w) at q.
inline Eigen::Vector4d unit_quaternion(const double* q) {
  Eigen::Vector4d r(q[0], q[1], q[2], q[3]);
  r /= r.norm();
  return r;
}

// (c0 s1 − s0 c1, c0 c1 + s0 s1) → the signed angle from (c0, s0) to
// (c1, s1), in (−π, π]; the scale of either pair does not matter.
inline double angle_between(double c0, double s0, double c1, double s1) {
  const double t = std::atan2(c0 * s1 - s0 * c1, c0 * c1 + s0 * s1);
  return t == -M_PI ? M_PI : t;
}

// ω with exp(ω) = r0⁻¹ ⊗ r1 for the quaternions (x, y, z, w) at a and b,
// normalised first; the shorter of the two rotations (angle at most π).
inline Vector3 quaternion_log(const double* a, const double* b) {
  const Eigen::Vector4d r0 = unit_quaternion(a), r1 = unit_quaternion(b);
  const Vector3 v0 = r0.head<3>(), v1 = r1.head<3>();
  // conj(r0) ⊗ r1
  Vector3 dv = r0[3] * v1 - r1[3] * v0 - v0.cross(v1);
  double dw = r0[3] * r1[3] + v0.dot(v1);
  if (dw < 0.0) {
    dv = -dv;
    dw = -dw;
  }
  const double s = dv.norm();
  // θ = 2 atan2(s, w); ω = θ dv / s, with θ / s → 2 / w (1 − s²/(3w²)) near 0
  if (s < 1e-5) return (2.0 / dw) * (1.0 - s * s / (3.0 * dw * dw)) * dv;
  return (2.0 * std::atan2(s, dw) / s) * dv;
}

// The (vx, vy, ω) that moves the planar configuration x = (x, y, cos, sin)
// to y. integrate: p1 = p0 + R0 V(ω) (vx, vy) with R0 = [[c0, −s0], [s0, c0]]
// and V(ω) = [[s, −(1 − c)], [1 − c, s]] / ω, so
// (vx, vy) = V(ω)⁻¹ R0⁻¹ (p1 − p0), V⁻¹ = [[α, ω/2], [−ω/2, α]], α = (ω/2) cot(ω/2).
inline void planar_log(const double* x, const double* y, double* w) {
  const double c0 = x[2], s0 = x[3];
  const double om = angle_between(c0, s0, y[2], y[3]);
  const double n2 = c0 * c0 + s0 * s0;
  const double ex = y[0] - x[0], ey = y[1] - x[1];
  const double dx = (c0 * ex + s0 * ey) / n2, dy = (-s0 * ex + c0 * ey) / n2;
  const double h = 0.5 * om;
  const double alpha = std::abs(om) < 1e-4 ? 1.0 - om * om / 12.0 : h * std::cos(h) / std::sin(h);
  w[0] = alpha * dx + h * dy;
  w[1] = -h * dx + alpha * dy;
  w[2] = om;
}

}  // namespace lumo

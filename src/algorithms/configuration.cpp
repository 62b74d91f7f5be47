#include "configuration.hpp"

#include <cmath>

#include "errors/errors.hpp"
#include "internal/checks.hpp"

namespace lumo {

void neutral(const Model& model, Eigen::Ref<Eigen::VectorXd> out) {
  check_configuration_size(model, out.size());
  out.setZero();
  std::size_t iq = 0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    const std::size_t size = joint_nq(type);
    if (type != JointType::Fixed && size != model.nq_joint[i])
      throw InternalError(cat("Configuration size mismatch for joint ", i, ": expected ", size,
                              ", got ", model.nq_joint[i]));
    if (model.idx_q[i] + size > model.nq) throw InternalError("Matrix index out of bounds.");
    iq += size;
    double* x = out.data() + model.idx_q[i];
    switch (type) {
      case JointType::Continuous: x[0] = 1.0; break;
      case JointType::Planar: x[2] = 1.0; break;
      case JointType::Floating: x[6] = 1.0; break;
      case JointType::Spherical: x[3] = 1.0; break;
      default: break;
    }
  }
  if (iq != model.nq)
    throw InternalError(cat("Configuration vector size mismatch: expected ", model.nq, ", got ", iq));
}

Eigen::VectorXd neutral(const Model& model) {
  Eigen::VectorXd q(static_cast<Eigen::Index>(model.nq));
  neutral(model, q);
  return q;
}

namespace {

// q/|q| for the quaternion (x, y, z, w) at q.
Eigen::Vector4d unit_quaternion(const double* q) {
  Eigen::Vector4d r(q[0], q[1], q[2], q[3]);
  r /= r.norm();
  return r;
}

// r ⊗ d with r = q/|q| (given) and d the rotation by ω (in the joint frame),
// then one Newton step towards unit length. r and the result are (x, y, z, w).
void integrate_quaternion(const Eigen::Vector4d& r, const Vector3& w, double* out) {
  const double theta = w.norm();
  Eigen::Vector4d d;  // (x, y, z, w)
  if (theta < 1e-7) {
    d << 0.5 * w, 1.0;
  } else {
    d << std::sin(0.5 * theta) * w / theta, std::cos(0.5 * theta);
  }
  d /= d.norm();
  const Vector3 rv = r.head<3>(), dv = d.head<3>();
  const double rw = r[3], dw = d[3];
  Eigen::Vector4d n;
  n << rw * dv + dw * rv + rv.cross(dv), rw * dw - rv.dot(dv);
  n *= (3.0 - n.squaredNorm()) / 2.0;
  for (int k = 0; k < 4; ++k) out[k] = n[k];
}

}  // namespace

void integrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
               const Eigen::Ref<const Eigen::VectorXd>& v, Eigen::Ref<Eigen::VectorXd> out) {
  check_configuration_size(model, q.size());
  check_velocity_size(model, v.size());
  check_configuration_size(model, out.size());
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    if (type == JointType::Planar) {
      if (model.nq_joint[i] < 4)
        throw InternalError(cat("Planar joint requires nq>=4, got nq=", model.nq_joint[i],
                                " at joint_id=", i));
      if (model.nv_joint[i] < 3)
        throw InternalError(cat("Planar joint requires nv>=3, got nv=", model.nv_joint[i],
                                " at joint_id=", i));
      if (model.idx_q[i] + model.nq_joint[i] > static_cast<std::size_t>(q.size()))
        throw InternalError(cat("q index out of bounds: q_idx=", model.idx_q[i], ", nq_joint=",
                                model.nq_joint[i], ", q.len()=", q.size(), ", joint_id=", i));
      if (model.idx_v[i] + model.nv_joint[i] > static_cast<std::size_t>(v.size()))
        throw InternalError(cat("v index out of bounds: v_idx=", model.idx_v[i], ", nv_joint=",
                                model.nv_joint[i], ", v.len()=", v.size(), ", joint_id=", i));
    } else if (model.idx_q[i] + joint_nq(type) > static_cast<std::size_t>(q.size()) ||
               model.idx_v[i] + joint_nv(type) > static_cast<std::size_t>(v.size())) {
      throw InternalError("Matrix index out of bounds.");
    }
    const double* x = q.data() + model.idx_q[i];
    const double* w = v.data() + model.idx_v[i];
    double* y = out.data() + model.idx_q[i];
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
        y[0] = x[0] + w[0];
        break;
      case JointType::Continuous: {
        const double c = std::cos(w[0]), s = std::sin(w[0]);
        const double x0 = x[0], x1 = x[1];
        y[0] = x0 * c - x1 * s;
        y[1] = x0 * s + x1 * c;
        break;
      }
      case JointType::Planar: {
        const double px = x[0], py = x[1], c0 = x[2], s0 = x[3];
        const double vx = w[0], vy = w[1], om = w[2];
        const double c = std::cos(om), s = std::sin(om);
        double dx = vx, dy = vy;
        if (std::abs(om) > 1e-14) {
          dx = (vx * s - vy * (1.0 - c)) / om;
          dy = (vx * (1.0 - c) + vy * s) / om;
        }
        y[0] = px + c0 * dx - s0 * dy;
        y[1] = py + s0 * dx + c0 * dy;
        y[2] = c0 * c - s0 * s;
        y[3] = s0 * c + c0 * s;
        break;
      }
      case JointType::Floating: {
        const Eigen::Vector4d r = unit_quaternion(x + 3);  // normalised once for both parts
        const Vector3 qv = r.head<3>(), lin(w[0], w[1], w[2]);
        const Vector3 t = 2.0 * qv.cross(lin);
        const Vector3 p = Vector3(x[0], x[1], x[2]) + lin + r[3] * t + qv.cross(t);
        double quat[4];
        integrate_quaternion(r, Vector3(w[3], w[4], w[5]), quat);
        for (int k = 0; k < 3; ++k) y[k] = p[k];
        for (int k = 0; k < 4; ++k) y[3 + k] = quat[k];
        break;
      }
      case JointType::Spherical: {
        double quat[4];
        integrate_quaternion(unit_quaternion(x), Vector3(w[0], w[1], w[2]), quat);
        for (int k = 0; k < 4; ++k) y[k] = quat[k];
        break;
      }
    }
  }
}

Eigen::VectorXd integrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                          const Eigen::Ref<const Eigen::VectorXd>& v) {
  Eigen::VectorXd out(static_cast<Eigen::Index>(model.nq));
  integrate(model, q, v, out);
  return out;
}

namespace {

// (c0 s1 − s0 c1, c0 c1 + s0 s1) → the signed angle from (c0, s0) to
// (c1, s1), in (−π, π]; the scale of either pair does not matter.
double angle_between(double c0, double s0, double c1, double s1) {
  const double t = std::atan2(c0 * s1 - s0 * c1, c0 * c1 + s0 * s1);
  return t == -M_PI ? M_PI : t;
}

// ω with exp(ω) = r0⁻¹ ⊗ r1 for the quaternions (x, y, z, w) at a and b,
// normalised first; the shorter of the two rotations (angle at most π).
Vector3 quaternion_log(const double* a, const double* b) {
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

}  // namespace

void difference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                const Eigen::Ref<const Eigen::VectorXd>& q1, Eigen::Ref<Eigen::VectorXd> out) {
  check_configuration_size(model, q0.size());
  check_configuration_size(model, q1.size());
  check_velocity_size(model, out.size());
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointType type = model.joints[i].type;
    if (model.idx_q[i] + joint_nq(type) > model.nq || model.idx_v[i] + joint_nv(type) > model.nv)
      throw InternalError("Matrix index out of bounds.");
    const double* x = q0.data() + model.idx_q[i];
    const double* y = q1.data() + model.idx_q[i];
    double* w = out.data() + model.idx_v[i];
    switch (type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
        w[0] = y[0] - x[0];
        break;
      case JointType::Continuous:
        w[0] = angle_between(x[0], x[1], y[0], y[1]);
        break;
      case JointType::Planar: {
        // integrate: p1 = p0 + R0 V(ω) (vx, vy) with R0 = [[c0, −s0], [s0, c0]]
        // and V(ω) = [[s, −(1 − c)], [1 − c, s]] / ω, so
        // (vx, vy) = V(ω)⁻¹ R0⁻¹ (p1 − p0), V⁻¹ = [[α, ω/2], [−ω/2, α]], α = (ω/2) cot(ω/2).
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
        break;
      }
      case JointType::Floating: {
        // integrate: p1 = p0 + R(r0) v, so v = R(r0)ᵀ (p1 − p0).
        const Eigen::Vector4d r = unit_quaternion(x + 3);
        const Vector3 qv = r.head<3>(), e(y[0] - x[0], y[1] - x[1], y[2] - x[2]);
        const Vector3 t = 2.0 * e.cross(qv);  // R(r)ᵀ e = e + w t' + q × t' with t' = 2 (−q) × e
        const Vector3 lin = e + r[3] * t - qv.cross(t);
        const Vector3 ang = quaternion_log(x + 3, y + 3);
        for (int k = 0; k < 3; ++k) w[k] = lin[k];
        for (int k = 0; k < 3; ++k) w[3 + k] = ang[k];
        break;
      }
      case JointType::Spherical: {
        const Vector3 ang = quaternion_log(x, y);
        for (int k = 0; k < 3; ++k) w[k] = ang[k];
        break;
      }
    }
  }
}

Eigen::VectorXd difference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                           const Eigen::Ref<const Eigen::VectorXd>& q1) {
  Eigen::VectorXd out(static_cast<Eigen::Index>(model.nv));
  difference(model, q0, q1, out);
  return out;
}

}  // namespace lumo

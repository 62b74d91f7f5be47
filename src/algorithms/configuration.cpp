#include "configuration.hpp"

#include <cmath>

#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/lie.hpp"

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
        planar_log(x, y, w);
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

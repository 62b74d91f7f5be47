#include "joints.hpp"

#include <cmath>

namespace lumo {

const char* joint_type_name(JointType type) {
  switch (type) {
    case JointType::Fixed: return "fixed";
    case JointType::Revolute: return "revolute";
    case JointType::Continuous: return "continuous";
    case JointType::Prismatic: return "prismatic";
    case JointType::Planar: return "planar";
    case JointType::Floating: return "floating";
    case JointType::Spherical: return "spherical";
  }
  return "unknown";
}

std::size_t joint_nq(JointType type) {
  switch (type) {
    case JointType::Fixed: return 0;
    case JointType::Revolute:
    case JointType::Prismatic: return 1;
    case JointType::Continuous: return 2;
    case JointType::Planar:
    case JointType::Spherical: return 4;
    case JointType::Floating: return 7;
  }
  return 0;
}

std::size_t joint_nv(JointType type) {
  switch (type) {
    case JointType::Fixed: return 0;
    case JointType::Revolute:
    case JointType::Continuous:
    case JointType::Prismatic: return 1;
    case JointType::Planar:
    case JointType::Spherical: return 3;
    case JointType::Floating: return 6;
  }
  return 0;
}

Vector3 direction(const Vector3& axis) {
  // u = (a / s) / |a / s| with s the largest |a_k|: a / s has a component of
  // magnitude 1, so its squared norm neither underflows nor overflows.
  const double s = axis.cwiseAbs().maxCoeff();
  if (!(s > 0.0) || !std::isfinite(s)) return Vector3::Zero();
  return unit_axis(axis / s);
}

JointModel JointModel::make(JointType type, const Vector3& axis) {
  JointModel j;
  j.type = type;
  j.nq = joint_nq(type);
  j.nv = joint_nv(type);
  switch (type) {
    case JointType::Revolute:
    case JointType::Continuous:
    case JointType::Prismatic:
      j.axis = axis;
      j.unit = direction(axis);
      for (int k = 0; k < 3; ++k) {
        const Vector3& u = j.unit;
        if (std::abs(u[k]) == 1.0 && u[(k + 1) % 3] == 0.0 && u[(k + 2) % 3] == 0.0) {
          j.coordinate_axis = k;
          j.axis_sign = u[k];
        }
      }
      break;
    case JointType::Planar:
      j.axis = axis;  // carried, never used
      break;
    default:
      break;
  }
  return j;
}

SE3 joint_transform(const JointModel& j, const double* q) {
  SE3 T;
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
      T.rotation = rotation_about_unit_axis(j.unit, q[0]);
      break;
    case JointType::Continuous:
      T.rotation = rotation_about_unit_axis(j.unit, std::atan2(q[1], q[0]));
      break;
    case JointType::Prismatic:
      T.translation = j.unit * q[0];
      break;
    case JointType::Planar:
      T.rotation << q[2], -q[3], 0.0, q[3], q[2], 0.0, 0.0, 0.0, 1.0;
      T.translation = Vector3(q[0], q[1], 0.0);
      break;
    case JointType::Floating:
      T.rotation = rotation_from_quaternion(q[3], q[4], q[5], q[6]);
      T.translation = Vector3(q[0], q[1], q[2]);
      break;
    case JointType::Spherical:
      T.rotation = rotation_from_quaternion(q[0], q[1], q[2], q[3]);
      break;
  }
  return T;
}

void joint_placement_general(const JointModel& j, const SE3& P, const double* q, SE3& out) {
  out = compose(P, joint_transform(j, q));
}

template void joint_placement_in_world<double>(const JointModel&, const SE3&, bool, const double*, double, double,
                                              const SE3*, SE3&, SE3&);

SubspaceMatrix motion_subspace(const JointModel& j) {
  SubspaceMatrix S(6, static_cast<Eigen::Index>(j.nv));
  for (std::size_t k = 0; k < j.nv; ++k) S.col(static_cast<Eigen::Index>(k)) = subspace_column(j, k);
  return S;
}

}  // namespace lumo

namespace lumo {

void sincos_many(const double* __restrict x, double* __restrict s, double* __restrict c, std::size_t n) {
  detail::sincos_loop(x, s, c, n);
}

}  // namespace lumo

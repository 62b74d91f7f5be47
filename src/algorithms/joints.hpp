// The seven joint kinds: configuration and velocity layouts, the joint
// transform, the motion subspace S and the joint motion S·q̇. Algorithms call
// these and never branch on joint kinds themselves.
//
//   kind        nq nv  q slice                    velocity slice
//   Fixed        0  0  —                          —
//   Revolute     1  1  [θ]                        [θ̇]
//   Continuous   2  1  [cos θ, sin θ]             [θ̇]
//   Prismatic    1  1  [d]                        [ḋ]
//   Planar       4  3  [x, y, cos θ, sin θ]       [ẋ, ẏ, θ̇]
//   Floating     7  6  [x, y, z, qx, qy, qz, qw]  [v; ω] in the child frame
//   Spherical    4  3  [qx, qy, qz, qw]           [ω]
#pragma once

#include <cstddef>
#include <cstdint>

#include "spatial.hpp"

namespace lumo {

enum class JointType : std::uint8_t {
  Fixed = 0,
  Revolute = 1,
  Continuous = 2,
  Prismatic = 3,
  Planar = 4,
  Floating = 5,
  Spherical = 6,
};

const char* joint_type_name(JointType type);
std::size_t joint_nq(JointType type);
std::size_t joint_nv(JointType type);

// One joint of the tree. `axis` is stored as given; `unit` is its direction
// (the axis divided by its norm twice), computed once when the joint is made.
struct JointModel {
  JointType type = JointType::Fixed;
  Vector3 axis = Vector3::Zero();
  std::size_t nq = 0;
  std::size_t nv = 0;
  Vector3 unit = Vector3::Zero();

  // A joint of `type` with the sizes of its kind. Fixed, Floating and
  // Spherical joints carry a zero axis whatever is given.
  static JointModel make(JointType type, const Vector3& axis = Vector3::Zero());
};

// The joint's own motion for its configuration slice q[0 .. nq).
SE3 joint_transform(const JointModel& joint, const double* q);

// placement · joint_transform(joint, q), written into `out` (limi).
void joint_placement(const JointModel& joint, const SE3& placement, const double* q, SE3& out);

// S·x for the velocity slice x[0 .. nv), in Motion (angular-first) order.
Motion joint_motion(const JointModel& joint, const double* x);

// Sᵀ·f: the power of the force f on each velocity coordinate, written to
// out[0 .. nv).
void joint_project(const JointModel& joint, const Force& f, double* out);

// Column k < nv of the motion subspace, [linear; angular].
Vector6 subspace_column(const JointModel& joint, std::size_t k);

// The whole motion subspace, 6×nv (at most 6 columns, held inline).
using SubspaceMatrix = Eigen::Matrix<double, 6, Eigen::Dynamic, Eigen::ColMajor, 6, 6>;
SubspaceMatrix motion_subspace(const JointModel& joint);

// ---------------------------------------------------------------- inline

inline Motion joint_motion(const JointModel& j, const double* x) {
  Motion m;
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      m.angular = j.unit * x[0];
      break;
    case JointType::Prismatic:
      m.linear = j.unit * x[0];
      break;
    case JointType::Planar:
      m.angular = Vector3(0.0, 0.0, x[2]);
      m.linear = Vector3(x[0], x[1], 0.0);
      break;
    case JointType::Floating:
      m.angular = Vector3(x[3], x[4], x[5]);
      m.linear = Vector3(x[0], x[1], x[2]);
      break;
    case JointType::Spherical:
      m.angular = Vector3(x[0], x[1], x[2]);
      break;
  }
  return m;
}

inline void joint_project(const JointModel& j, const Force& f, double* out) {
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      out[0] = j.unit.dot(f.moment);
      break;
    case JointType::Prismatic:
      out[0] = j.unit.dot(f.force);
      break;
    case JointType::Planar:
      out[0] = f.force.x();
      out[1] = f.force.y();
      out[2] = f.moment.z();
      break;
    case JointType::Floating:
      for (int k = 0; k < 3; ++k) out[k] = f.force[k];
      for (int k = 0; k < 3; ++k) out[3 + k] = f.moment[k];
      break;
    case JointType::Spherical:
      for (int k = 0; k < 3; ++k) out[k] = f.moment[k];
      break;
  }
}

inline Vector6 subspace_column(const JointModel& j, std::size_t k) {
  Vector6 c = Vector6::Zero();
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      c.tail<3>() = j.unit;
      break;
    case JointType::Prismatic:
      c.head<3>() = j.unit;
      break;
    case JointType::Planar:
      c[k == 2 ? 5 : k] = 1.0;  // linear x, linear y, angular z
      break;
    case JointType::Floating:
      c[k] = 1.0;
      break;
    case JointType::Spherical:
      c[3 + k] = 1.0;
      break;
  }
  return c;
}

}  // namespace lumo

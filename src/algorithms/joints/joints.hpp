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

#include <math.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "../spatial/spatial.hpp"

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

// The direction of a non-zero finite axis, without underflow or overflow for
// any magnitude of its components; zero for a zero or non-finite axis.
Vector3 direction(const Vector3& axis);

// True for the kinds whose axis gives the direction of motion (revolute,
// continuous, prismatic) or is carried with it (planar): a zero axis is
// rejected for them.
constexpr bool joint_uses_axis(JointType type) {
  return type == JointType::Revolute || type == JointType::Continuous ||
         type == JointType::Prismatic || type == JointType::Planar;
}

// One joint of the tree. `axis` is stored as given; `unit` is its direction
// (see direction), computed once when the joint is made.
struct JointModel {
  JointType type = JointType::Fixed;
  Vector3 axis = Vector3::Zero();
  std::size_t nq = 0;
  std::size_t nv = 0;
  Vector3 unit = Vector3::Zero();
  // When `unit` is ±e_k (the other components exactly 0): k, else −1; and
  // the sign of the ±1. Revolute joints about a coordinate axis take the
  // cheaper transform.
  int coordinate_axis = -1;
  double axis_sign = 1.0;

  // A joint of `type` with the sizes of its kind. Fixed, Floating and
  // Spherical joints carry a zero axis whatever is given.
  static JointModel make(JointType type, const Vector3& axis = Vector3::Zero());
};

// The number of velocity coordinates of a joint as a compile-time constant.
template <int n>
using JointSize = std::integral_constant<int, n>;

// f(JointSize<n>{}) for the joint's nv = n: 0 (fixed), 1 (revolute,
// continuous, prismatic), 3 (planar, spherical) or 6 (floating). The one
// branch on the size of a joint: an algorithm writes its per-joint step once
// for a compile-time n, and the loops over the coordinates unroll.
template <typename F>
inline decltype(auto) with_joint_size(const JointModel& joint, F&& f) {
  switch (joint.type) {
    case JointType::Revolute:
    case JointType::Continuous:
    case JointType::Prismatic:
      return f(JointSize<1>{});
    case JointType::Planar:
    case JointType::Spherical:
      return f(JointSize<3>{});
    case JointType::Floating:
      return f(JointSize<6>{});
    case JointType::Fixed:
      break;
  }
  return f(JointSize<0>{});
}

// The joint's own motion for its configuration slice q[0 .. nq).
SE3 joint_transform(const JointModel& joint, const double* q);

// placement · joint_transform(joint, q), written into `out` (limi).
inline void joint_placement(const JointModel& joint, const SE3& placement, const double* q, SE3& out);

// The same with (sn, cs) = (sin q[0], cos q[0]) given, which only revolute
// joints read (forward passes take them for all joints at once). The steps
// from here on are written over the scalar S of the state (see spatial.hpp);
// the model's joints and placements stay double.
template <class S>
inline void joint_placement(const JointModel& joint, const SE3& placement, const S* q, S sn, S cs,
                            SE3T<S>& out);

// S·x for the velocity slice x[0 .. nv), in Motion (angular-first) order.
template <class S>
MotionT<S> joint_motion(const JointModel& joint, const S* x);

// Sᵀ·f: the power of the force f on each velocity coordinate, written to
// out[0 .. nv).
template <class S>
void joint_project(const JointModel& joint, const ForceT<S>& f, S* out);

// Column k < nv of the motion subspace, [linear; angular].
Vector6 subspace_column(const JointModel& joint, std::size_t k);

// The whole motion subspace, 6×nv (at most 6 columns, held inline).
using SubspaceMatrix = Eigen::Matrix<double, 6, Eigen::Dynamic, Eigen::ColMajor, 6, 6>;
SubspaceMatrix motion_subspace(const JointModel& joint);

// ---------------------------------------------------------------- inline

// The joints other than revolute and prismatic ones (out of line):
// placement · joint_transform(joint, q).
void joint_placement_general(const JointModel& joint, const SE3& placement, const double* q, SE3& out);

namespace detail {

// P·R for R the rotation by the angle of sine sn and cosine c about the coordinate axis k (unit[k] = ±1,
// the other two components exactly 0). Column k of R is e_k and the other two
// columns mix in the plane of the others, so each entry of P·R is the sum of
// at most two products; the result equals P·rotation_about_unit_axis(unit,
// angle) entry for entry (the terms left out are exact zeros).
template <class S, class Derived>
inline void rotate_about_coordinate_axis(const Eigen::MatrixBase<Derived>& P, int k, double sign, S sn, S c,
                                        Matrix3T<S>& out) {
  const S s = sign * sn;
  const int a = k == 2 ? 0 : k + 1, b = k == 0 ? 2 : k - 1;  // R(a,a) = R(b,b) = c, R(b,a) = s, R(a,b) = −s
  const Vector3T<typename Derived::Scalar> pa = P.col(a), pb = P.col(b);
  out.col(k) = lift<S>(P.col(k));
  out.col(a) = lift<S>(pa) * c + lift<S>(pb) * s;
  out.col(b) = lift<S>(pa) * -s + lift<S>(pb) * c;
}

// R itself: e_k kept, c and ±s in the plane of the other two axes.
template <class S>
inline void coordinate_axis_rotation(int k, double sign, S sn, S c, Matrix3T<S>& R) {
  const S s = sign * sn;
  const int a = k == 2 ? 0 : k + 1, b = k == 0 ? 2 : k - 1;
  R.setZero();
  R(k, k) = S(1.0);
  R(a, a) = c;
  R(b, b) = c;
  R(b, a) = s;
  R(a, b) = -s;
}

// True when the joint's transform is a rotation about a coordinate axis
// (or nothing) and its placement has no rotation (unrotated, as the model
// keeps it): then limi's rotation is the joint's own.
inline bool turns_about_placement_axis(const JointModel& j, bool unrotated) {
  const bool coordinate_revolute = j.type == JointType::Revolute && j.coordinate_axis >= 0;
  return unrotated && (coordinate_revolute || j.type == JointType::Fixed);
}
}  // namespace detail

// The joint's placement in its parent and in the world, for its
// configuration slice q ((sn, cs) as for joint_placement):
//   limi = placement · joint motion;  oMi = oMp · limi
// (oMi = limi when oMp is null: a joint on the root). A revolute joint about
// a coordinate axis, or a fixed joint, whose placement has no rotation
// (`unrotated`: the model's placement_unrotated[i]) takes a shorter way to
// the same numbers: limi's rotation is then the joint's own, which keeps
// column k of oMp's and mixes the other two. Out of line: one call per
// joint of a pass.
template <class S>
void joint_placement_in_world(const JointModel& j, const SE3& placement, bool unrotated, const S* q, S sn, S cs,
                              const SE3T<S>* oMp, SE3T<S>& limi, SE3T<S>& oMi);

// v += S q̇ for the joint's velocity slice qd.
inline void add_joint_velocity(const JointModel& j, const double* qd, Motion& v);

// v += S q̇ and a += S q̈ + v × S q̇ (v with S q̇ added) for the joint's
// velocity and acceleration slices qd and qdd; a null slice stands for
// zeros.
template <class S>
inline void add_joint_velocity_acceleration(const JointModel& j, const S* qd, const S* qdd, MotionT<S>& v,
                                            MotionT<S>& a);

// v × S q̇, the acceleration the joint's own motion gives its body when the
// body moves with v (S q̇ included); zero for a fixed joint.
inline Motion joint_velocity_product(const JointModel& j, const Motion& v, const double* qd);

// False for a fixed joint, which has no coordinates and no motion of its own.
inline bool joint_moves(const JointModel& j) { return j.type != JointType::Fixed; }

// The angle of a revolute joint, whose sine and cosine its steps read;
// 0 for the other kinds.
template <class S>
inline S revolute_angle(const JointModel& j, const S* q) {
  return j.type == JointType::Revolute ? q[0] : S(0.0);
}

// The joint's motion subspace carried to the world by oMi, column by column
// into out[6k .. 6k + 6) ([linear; angular]): act_column(oMi,
// subspace_column(joint, k)) without the products by zero.
template <class S>
inline void world_subspace_columns(const JointModel& j, const SE3T<S>& oMi, S* out) {
  switch (j.type) {
    case JointType::Fixed:
      return;
    case JointType::Revolute:
    case JointType::Continuous: {
      Eigen::Map<Vector3T<S>> l(out), w(out + 3);
      if (j.coordinate_axis >= 0)  // R·(±e_k), the products by zero left out
        w = j.axis_sign * oMi.rotation.col(j.coordinate_axis);
      else
        w.noalias() = times(oMi.rotation, j.unit);
      l = oMi.translation.cross(w);
      return;
    }
    case JointType::Prismatic: {
      Eigen::Map<Vector3T<S>> l(out), w(out + 3);
      l.noalias() = times(oMi.rotation, j.unit);
      w.setZero();
      return;
    }
    default:
      for (std::size_t k = 0; k < j.nv; ++k)
        Eigen::Map<Eigen::Matrix<S, 6, 1>>(out + 6 * k) = act_column(oMi, subspace_column(j, k));
      return;
  }
}

inline void joint_placement(const JointModel& j, const SE3& P, const double* q, SE3& out) {
  double sn = 0.0, cs = 1.0;
  if (j.type == JointType::Revolute) sincos_inline(q[0], sn, cs);
  joint_placement(j, P, q, sn, cs, out);
}

template <class S>
inline void joint_placement(const JointModel& j, const SE3& P, const S* q, S sn, S cs, SE3T<S>& out) {
  switch (j.type) {
    case JointType::Fixed:
      out = lift<S>(P);
      return;
    case JointType::Revolute: {
      if (exactly_zero(q[0])) {  // exact identity joint transform
        out = lift<S>(P);
        return;
      }
      if (j.coordinate_axis >= 0) {
        detail::rotate_about_coordinate_axis(P.rotation, j.coordinate_axis, j.axis_sign, sn, cs, out.rotation);
      } else {
        out.rotation.noalias() = times(P.rotation, rotation_about_unit_axis(j.unit, sn, cs));
      }
      out.translation = lift<S>(P.translation);
      return;
    }
    case JointType::Prismatic:
      out.rotation = lift<S>(P.rotation);
      out.translation.noalias() = times(P.rotation, lift<S>(j.unit) * q[0]);
      out.translation += lift<S>(P.translation);
      return;
    default:
      joint_placement_general(j, P, q, out);
      return;
  }
}

template <class S>
inline MotionT<S> joint_motion(const JointModel& j, const S* x) {
  MotionT<S> m;
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      m.angular = lift<S>(j.unit) * x[0];
      break;
    case JointType::Prismatic:
      m.linear = lift<S>(j.unit) * x[0];
      break;
    case JointType::Planar:
      m.angular = Vector3T<S>(S(0.0), S(0.0), x[2]);
      m.linear = Vector3T<S>(x[0], x[1], S(0.0));
      break;
    case JointType::Floating:
      m.angular = Vector3T<S>(x[3], x[4], x[5]);
      m.linear = Vector3T<S>(x[0], x[1], x[2]);
      break;
    case JointType::Spherical:
      m.angular = Vector3T<S>(x[0], x[1], x[2]);
      break;
  }
  return m;
}

inline void add_joint_velocity(const JointModel& j, const double* qd, Motion& v) {
  if (j.type != JointType::Fixed) v += joint_motion(j, qd);
}

template <class S>
inline void add_joint_velocity_acceleration(const JointModel& j, const S* qd, const S* qdd, MotionT<S>& v,
                                            MotionT<S>& a) {
  switch (j.type) {
    case JointType::Fixed:
      return;
    case JointType::Revolute:
    case JointType::Continuous: {
      // S q̇ = (u q̇, 0): the same sums without the zero linear part
      if (j.coordinate_axis >= 0) {
        // u = ±e_k: of the two cross products only the entries a and b off
        // the axis remain, each a single product (the rest are exact zeros)
        const int k = j.coordinate_axis, a_ = k == 2 ? 0 : k + 1, b_ = k == 0 ? 2 : k - 1;
        if (qdd != nullptr) a.angular[k] += j.axis_sign * qdd[0];
        if (qd != nullptr) {
          const S w = j.axis_sign * qd[0];
          v.angular[k] += w;
          a.angular[a_] += v.angular[b_] * w;
          a.angular[b_] -= v.angular[a_] * w;
          a.linear[a_] += v.linear[b_] * w;
          a.linear[b_] -= v.linear[a_] * w;
        }
        return;
      }
      if (qdd != nullptr) a.angular += lift<S>(j.unit) * qdd[0];
      if (qd != nullptr) {
        const Vector3T<S> wJ = lift<S>(j.unit) * qd[0];
        v.angular += wJ;
        a.angular += v.angular.cross(wJ);
        a.linear += v.linear.cross(wJ);
      }
      return;
    }
    default: {
      MotionT<S> vJ;
      if (qd != nullptr) {
        vJ = joint_motion(j, qd);
        v += vJ;
      }
      if (qdd != nullptr) a += joint_motion(j, qdd);
      if (qd != nullptr) a += motion_cross(v, vJ);
      return;
    }
  }
}

inline Motion joint_velocity_product(const JointModel& j, const Motion& v, const double* qd) {
  if (j.type == JointType::Fixed) return Motion::Zero();
  return motion_cross(v, joint_motion(j, qd));
}

template <class S>
inline void joint_project(const JointModel& j, const ForceT<S>& f, S* out) {
  switch (j.type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      out[0] = dot(j.unit, f.moment);
      break;
    case JointType::Prismatic:
      out[0] = dot(j.unit, f.force);
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

template <class S>
void joint_placement_in_world(const JointModel& j, const SE3& P, bool unrotated, const S* q, S sn, S cs,
                              const SE3T<S>* oMp, SE3T<S>& limi, SE3T<S>& oMi) {
  if (oMp != nullptr && detail::turns_about_placement_axis(j, unrotated)) {
    limi.translation = lift<S>(P.translation);
    oMi.translation.noalias() = times(oMp->rotation, P.translation);
    oMi.translation += oMp->translation;
    if (j.type == JointType::Fixed || exactly_zero(q[0])) {
      limi.rotation.setIdentity();
      oMi.rotation = oMp->rotation;
      return;
    }
    // the axis as a constant, so the columns each entry reads are known
    auto turn = [&](auto axis) {
      detail::coordinate_axis_rotation(axis(), j.axis_sign, sn, cs, limi.rotation);
      detail::rotate_about_coordinate_axis(oMp->rotation, axis(), j.axis_sign, sn, cs, oMi.rotation);
    };
    switch (j.coordinate_axis) {
      case 0:
        return turn(std::integral_constant<int, 0>{});
      case 1:
        return turn(std::integral_constant<int, 1>{});
      default:
        return turn(std::integral_constant<int, 2>{});
    }
  }
  joint_placement(j, P, q, sn, cs, limi);
  if (oMp == nullptr) {
    oMi = limi;
    return;
  }
  oMi.rotation.noalias() = times(oMp->rotation, limi.rotation);  // compose(oMp, limi), written in place
  oMi.translation.noalias() = times(oMp->rotation, limi.translation);
  oMi.translation += oMp->translation;
}

// (built once for double, in joints.cpp: one call per joint of a pass)
extern template void joint_placement_in_world<double>(const JointModel&, const SE3&, bool, const double*, double,
                                                     double, const SE3*, SE3&, SE3&);

}  // namespace lumo

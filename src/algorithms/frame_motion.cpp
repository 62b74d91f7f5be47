#include "frame_motion.hpp"

#include "frames.hpp"

namespace lumo {
namespace {

// [linear; angular] of a vector pair.
Vector6 stack(const Vector3& linear, const Vector3& angular) {
  Vector6 out;
  out << linear, angular;
  return out;
}

// The body of joint i carries F's origin at p = F.placement.translation (joint
// i's coordinates). With (ω, v) = v_i and (ω̇, a) = a_i, in joint i's axes:
//   ṗ = v + ω × p;   p̈ = a + ω̇ × p + ω × ṗ.
struct OriginMotion {
  Vector3 velocity, acceleration;
};

OriginMotion origin_motion(const Motion& v_i, const Motion& a_i, const Vector3& p) {
  OriginMotion m;
  m.velocity = v_i.linear + v_i.angular.cross(p);
  m.acceleration = a_i.linear + a_i.angular.cross(p) + v_i.angular.cross(m.velocity);
  return m;
}

// The checked frame and its joint, for a Data of this model.
const Frame& checked_frame(const Model& model, const Data& data, FrameIndex frame_id, JointIndex& joint) {
  joint = frame_parent_joint(model, frame_id);
  data.check_model(model);
  return model.frames[frame_id];
}

// A spatial motion m_i of joint i's body (velocity or acceleration) as the
// frame sees it in rf: LOCAL F⁻¹·m_i, WORLD oMi·m_i. LOCAL_WORLD_ALIGNED is
// the caller's, since it is not the same map for a velocity and an
// acceleration.
Vector6 frame_motion(const Frame& F, const SE3& oMi, const Motion& m_i, ReferenceFrame rf) {
  return to_column(rf == ReferenceFrame::LOCAL ? act_inv_motion(F.placement, m_i) : act_motion(oMi, m_i));
}

}  // namespace

Vector6 getFrameVelocity(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf) {
  JointIndex i;
  const Frame& F = checked_frame(model, data, frame_id, i);
  const Motion& v_i = data.v[i];
  if (rf == ReferenceFrame::WORLD || rf == ReferenceFrame::LOCAL) return frame_motion(F, data.oMi[i], v_i, rf);
  // [ṗ; ω] = R_i [v + ω × p; ω]
  const Matrix3& R = data.oMi[i].rotation;
  return stack(R * (v_i.linear + v_i.angular.cross(F.placement.translation)), R * v_i.angular);
}

Vector6 getFrameAcceleration(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf) {
  JointIndex i;
  const Frame& F = checked_frame(model, data, frame_id, i);
  if (rf == ReferenceFrame::WORLD || rf == ReferenceFrame::LOCAL) return frame_motion(F, data.oMi[i], data.a[i], rf);
  // d/dt [ṗ; ω] = [p̈; ω̇] = R_i [p̈_i; ω̇_i]
  const Matrix3& R = data.oMi[i].rotation;
  const OriginMotion m = origin_motion(data.v[i], data.a[i], F.placement.translation);
  return stack(R * m.acceleration, R * data.a[i].angular);
}

Vector6 getFrameClassicalAcceleration(const Model& model, const Data& data, FrameIndex frame_id,
                                      ReferenceFrame rf) {
  JointIndex i;
  const Frame& F = checked_frame(model, data, frame_id, i);
  const OriginMotion m = origin_motion(data.v[i], data.a[i], F.placement.translation);
  // p̈ and ω̇ carried from joint i's axes to F's (LOCAL) or the world's; the
  // angular part of the spatial acceleration is ω̇ in those axes in every rf.
  if (rf == ReferenceFrame::LOCAL) {
    const Matrix3 Rt = F.placement.rotation.transpose();
    return stack(Rt * m.acceleration, Rt * data.a[i].angular);
  }
  const Matrix3& R = data.oMi[i].rotation;
  return stack(R * m.acceleration, R * data.a[i].angular);
}

}  // namespace lumo

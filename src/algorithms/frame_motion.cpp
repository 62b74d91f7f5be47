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

// A spatial motion m_i of joint i's body (velocity or acceleration) seen by
// the frame: LOCAL F⁻¹·m_i, WORLD oMi·m_i.
Vector6 spatial_in_frame(const Frame& F, const SE3& oMi, const Motion& m_i, ReferenceFrame rf) {
  return to_column(rf == ReferenceFrame::LOCAL ? act_inv_motion(F.placement, m_i) : act_motion(oMi, m_i));
}

// [p̈; ω̇] of F's origin in world axes: the LOCAL_WORLD_ALIGNED acceleration,
// and the classical one in WORLD and LOCAL_WORLD_ALIGNED.
Vector6 world_aligned_acceleration(const Frame& F, const SE3& oMi, const Motion& v_i, const Motion& a_i) {
  const Matrix3& R = oMi.rotation;
  return stack(R * point_acceleration(v_i, a_i, F.placement.translation), R * a_i.angular);
}

}  // namespace

Vector6 getFrameVelocity(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf) {
  const JointIndex i = frame_parent_joint(model, frame_id);
  data.check_model(model);
  const Frame& F = model.frames[frame_id];
  if (rf == ReferenceFrame::WORLD || rf == ReferenceFrame::LOCAL) return spatial_in_frame(F, data.oMi[i], data.v[i], rf);
  // [ṗ; ω] = R_i [v + ω × p; ω]
  const Matrix3& R = data.oMi[i].rotation;
  const Motion& v_i = data.v[i];
  return stack(R * point_velocity(v_i, F.placement.translation), R * v_i.angular);
}

Vector6 getFrameAcceleration(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf) {
  const JointIndex i = frame_parent_joint(model, frame_id);
  data.check_model(model);
  const Frame& F = model.frames[frame_id];
  if (rf == ReferenceFrame::WORLD || rf == ReferenceFrame::LOCAL) return spatial_in_frame(F, data.oMi[i], data.a[i], rf);
  // d/dt [ṗ; ω] = [p̈; ω̇]: unlike the spatial forms, not the velocity's map applied to a_i
  return world_aligned_acceleration(F, data.oMi[i], data.v[i], data.a[i]);
}

Vector6 getFrameClassicalAcceleration(const Model& model, const Data& data, FrameIndex frame_id,
                                      ReferenceFrame rf) {
  const JointIndex i = frame_parent_joint(model, frame_id);
  data.check_model(model);
  const Frame& F = model.frames[frame_id];
  if (rf != ReferenceFrame::LOCAL) return world_aligned_acceleration(F, data.oMi[i], data.v[i], data.a[i]);
  // p̈ and ω̇ carried from joint i's axes to F's: R_Fᵀ
  const Matrix3 Rt = F.placement.rotation.transpose();
  return stack(Rt * point_acceleration(data.v[i], data.a[i], F.placement.translation), Rt * data.a[i].angular);
}

}  // namespace lumo

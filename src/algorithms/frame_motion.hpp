// Velocities and accelerations of the model's named frames, read from the
// joint motion a kinematics pass left in Data. Frame F on joint i, with
// oMf = oMi[i]·F.placement; 6-vectors are [linear; angular] and `rf` has the
// meaning it has for the frame Jacobians:
//   LOCAL                F's axes, about F's origin
//   WORLD                world axes, about the world origin
//   LOCAL_WORLD_ALIGNED  world axes, about F's origin
// Each call is O(1) and allocates nothing. ValueError "Frame ID {id} out of
// range (max: {nframes-1})" or "Frame {id} has invalid joint ID …" for a bad
// frame, ValueError for a Data of another model.
#pragma once

#include "../data/data.hpp"
#include "../model/model.hpp"
#include "reference_frame.hpp"

namespace lumo {

// The frame's spatial velocity ν_rf = J_rf·v (J_rf the frame's own Jacobian
// in rf), from data.oMi and data.v (forwardKinematics(q, v),
// computeKinematics). In LOCAL_WORLD_ALIGNED it is [ṗ_f; ω], the velocity of
// F's origin and the angular velocity, in world axes.
Vector6 getFrameVelocity(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf);

// The frame's spatial acceleration α_rf = d/dt ν_rf = J_rf·a + J̇_rf·v, from
// data.oMi, data.v and data.a as computeKinematics leaves them (not rnea,
// whose data.a carries gravity). In LOCAL_WORLD_ALIGNED it is [p̈_f; ω̇] in
// world axes.
Vector6 getFrameAcceleration(const Model& model, const Data& data, FrameIndex frame_id, ReferenceFrame rf);

// The classical acceleration of the frame: linear part p̈_f, the second time
// derivative of F's origin in the world, expressed in rf's axes (F's for
// LOCAL, the world's otherwise); angular part that of getFrameAcceleration.
// Read from what computeKinematics left.
Vector6 getFrameClassicalAcceleration(const Model& model, const Data& data, FrameIndex frame_id,
                                      ReferenceFrame rf);

}  // namespace lumo

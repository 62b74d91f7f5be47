// Placements of the model's named frames.
#pragma once

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// Frame frame_id in the world: data.oMi[parent] · frame.placement, from the
// joint placements data holds (forwardKinematics or any algorithm that
// writes oMi). ValueError "Frame ID {id} out of range (max: {nframes-1})"
// for a bad frame; ValueError for a Data of another model.
SE3 getFramePlacement(const Model& model, const Data& data, FrameIndex frame_id);

// The joint frame frame_id is attached to. ValueError "Frame ID {id} out
// of range (max: {nframes-1})" for a bad frame, "Frame {id} has invalid
// joint ID …" for a frame whose parent joint is not in the model.
JointIndex frame_parent_joint(const Model& model, FrameIndex frame_id);

}  // namespace lumo

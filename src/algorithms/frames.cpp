#include "frames.hpp"

#include "errors/errors.hpp"
#include "internal/forward_pass.hpp"

namespace lumo {

JointIndex frame_parent_joint(const Model& model, FrameIndex frame_id) {
  if (frame_id >= model.nframes || frame_id >= model.frames.size())
    throw ValueError(cat("Frame ID ", frame_id, " out of range (max: ",
                         static_cast<long long>(model.nframes) - 1, ")"));
  const JointIndex joint = model.frames[frame_id].parent;
  if (joint >= model.njoints)
    throw ValueError(cat("Frame ", frame_id, " has invalid joint ID ", joint, " (max: ",
                         model.njoints - 1, ")"));
  return joint;
}

SE3 getFramePlacement(const Model& model, const Data& data, FrameIndex frame_id) {
  frame_parent_joint(model, frame_id);  // (the checks)
  data.check_model(model);
  return frame_placement<double>(model, data, frame_id);
}

}  // namespace lumo

#include "frames.hpp"

#include "jacobians.hpp"

namespace lumo {

SE3 getFramePlacement(const Model& model, const Data& data, FrameIndex frame_id) {
  const JointIndex parent = frame_parent_joint(model, frame_id);
  data.check_model(model);
  return compose(data.oMi[parent], model.frames[frame_id].placement);
}

}  // namespace lumo

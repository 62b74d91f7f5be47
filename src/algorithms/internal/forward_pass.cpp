#include "forward_pass.hpp"

namespace lumo {

void compute_joint_sincos(const Model& model, Data& data, const double* q) {
  const std::size_t n = model.njoints;
  double* angle = data.joint_angle.data();
  for (JointIndex i = 1; i < n; ++i) angle[i] = revolute_angle(model.joints[i], q + model.idx_q[i]);
  sincos_many(angle + 1, data.joint_sin.data() + 1, data.joint_cos.data() + 1, n - 1);
}

}  // namespace lumo

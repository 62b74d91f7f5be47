#include "forward_pass.hpp"

#include "../configuration.hpp"
#include "../errors/errors.hpp"

namespace lumo {

void check_state(const Model& model, const Data& data, Eigen::Index q_len, Eigen::Index v_len,
                 Eigen::Index third_len, const char* third) {
  check_configuration_size(model, q_len);
  if (v_len >= 0) check_velocity_size(model, v_len);
  if (third_len >= 0 && static_cast<std::size_t>(third_len) != model.nv)
    throw SizeError(cat(third, " length ", third_len, " != nv ", model.nv));
  data.check_model(model);
}

void compute_joint_sincos(const Model& model, Data& data, const double* q) {
  const std::size_t n = model.njoints;
  double* angle = data.joint_angle.data();
  for (JointIndex i = 1; i < n; ++i) angle[i] = revolute_angle(model.joints[i], q + model.idx_q[i]);
  sincos_many(angle + 1, data.joint_sin.data() + 1, data.joint_cos.data() + 1, n - 1);
}

}  // namespace lumo

#include "checks.hpp"

#include "../errors/errors.hpp"

namespace lumo {

void check_configuration_size(const Model& model, Eigen::Index q_len) {
  if (static_cast<std::size_t>(q_len) != model.nq)
    throw SizeError(cat("Configuration vector size mismatch: expected ", model.nq, ", got ", q_len));
}

void check_velocity_size(const Model& model, Eigen::Index v_len) {
  if (static_cast<std::size_t>(v_len) != model.nv)
    throw SizeError(cat("Velocity vector size mismatch: expected ", model.nv, ", got ", v_len));
}

void check_state(const Model& model, const Data& data, Eigen::Index q_len, Eigen::Index v_len,
                 Eigen::Index third_len, const char* third) {
  check_configuration_size(model, q_len);
  if (v_len >= 0) check_velocity_size(model, v_len);
  if (third_len >= 0 && static_cast<std::size_t>(third_len) != model.nv)
    throw SizeError(cat(third, " length ", third_len, " != nv ", model.nv));
  data.check_model(model);
}

void check_external_forces(const Model& model, Eigen::Index cols) {
  if (static_cast<std::size_t>(cols) != model.njoints)
    throw ValueError(cat("fext must have shape (", model.njoints, ", 6), got (", cols, ", 6)"));
}

}  // namespace lumo

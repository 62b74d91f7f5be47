// The checks the public entry points of the core make on their arguments
// before touching anything. Private to src/algorithms.
#pragma once

#include <Eigen/Core>

#include "../../data/data.hpp"
#include "../../model/model.hpp"

namespace lumo {

// q of nq elements and v of nv: SizeError (a ValueError) otherwise,
// "Configuration vector size mismatch: expected {nq}, got {len}" and
// "Velocity vector size mismatch: expected {nv}, got {len}".
void check_configuration_size(const Model& model, Eigen::Index q_len);
void check_velocity_size(const Model& model, Eigen::Index v_len);

// The preconditions of an algorithm on a state: q of nq elements, v (when
// v_len >= 0) of nv and a third vector named `third` (when third_len >= 0)
// of nv, SizeError otherwise ("{third} length {len} != nv {nv}" for the
// third); then a workspace made for this model (ValueError).
void check_state(const Model& model, const Data& data, Eigen::Index q_len, Eigen::Index v_len = -1,
                 Eigen::Index third_len = -1, const char* third = "a");

// External forces, one [force; torque] column per joint: ValueError
// "fext must have shape ({njoints}, 6), got ({cols}, 6)" otherwise (the shape
// of the NumPy array whose memory the 6×cols matrix is).
void check_external_forces(const Model& model, Eigen::Index cols);

}  // namespace lumo

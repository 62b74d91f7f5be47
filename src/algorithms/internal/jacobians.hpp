// What the Jacobian readers share. Private to src/algorithms.
#pragma once

#include "../../model/model.hpp"
#include "../jacobians.hpp"

namespace lumo {

// Checks that J is 6×nv (InternalError otherwise) and clears it.
void prepare_jacobian_output(const Model& model, Matrix6XView J);

}  // namespace lumo

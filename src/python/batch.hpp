// The batch submodule and the guard that keeps a model unchanged while a
// batch computation reads it.
#pragma once

#include <nanobind/nanobind.h>

#include "model/model.hpp"

namespace lumo::python {

// True when no running batch reads `model`; otherwise sets RuntimeError
// "Model is in use by a running batch computation" and returns false.
// Every mutating Model method calls it first (with the interpreter lock held).
bool model_mutable(const Model* model);

// Adds lumo_dynamic.batch to `m` and to sys.modules.
void bind_batch(nanobind::module_& m);

}  // namespace lumo::python

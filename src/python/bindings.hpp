// One registration function per class or group of functions.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

namespace lumo::python {

void bind_se3(nanobind::module_& m);
void bind_model(nanobind::module_& m);
void bind_data(nanobind::module_& m);
void bind_reference_frame(nanobind::module_& m);

// The free functions, in the module's table order.
extern PyMethodDef function_table[];

}  // namespace lumo::python

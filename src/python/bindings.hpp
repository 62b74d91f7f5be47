// One registration function per class or group of functions.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "model/model.hpp"

namespace lumo::python {

void bind_se3(nanobind::module_& m);
void bind_model(nanobind::module_& m);
void bind_data(nanobind::module_& m);
void bind_reference_frame(nanobind::module_& m);
void bind_constraints(nanobind::module_& m);

// URDF import (urdf.cpp): a new Model, or nullptr with the Python error set.
PyObject* model_from_urdf_file(std::string_view filename);
PyObject* model_from_urdf_string(std::string_view text);
// The JointCoupling of each URDF <mimic> (text starting with '<', else a
// file name) among model's joints: a new list, or nullptr with the error set.
PyObject* couplings_from_urdf(const Model& model, std::string_view filename_or_string);

// MJCF import (mjcf.cpp): a new Model, or nullptr with the Python error set;
// includes and meshes of the text are found in `directory`.
PyObject* model_from_mjcf_file(std::string_view filename);
PyObject* model_from_mjcf_string(std::string_view text, const std::optional<std::string>& directory);
// The JointCoupling of each MJCF <equality><joint> (text starting with '<',
// else a file name) among model's joints: a new list, or nullptr with the error set.
PyObject* couplings_from_mjcf(const Model& model, std::string_view filename_or_string);

// A new instance of the bound class `type` (or a subclass) holding `value`,
// for a tp_new that builds the whole object.
template <typename T>
PyObject* new_instance(PyTypeObject* type, const T& value) {
  nanobind::object self = nanobind::inst_alloc(nanobind::handle(reinterpret_cast<PyObject*>(type)));
  new (nanobind::inst_ptr<T>(self)) T(value);
  nanobind::inst_mark_ready(self);
  return self.release().ptr();
}

// Creates the UrdfWarning class (a UserWarning) that the URDF import issues.
PyObject* make_urdf_warning();
// Creates the MjcfWarning class (a UserWarning) that the MJCF import issues.
PyObject* make_mjcf_warning();

// print_info: writes text to the process's standard output (not
// sys.stdout); OSError with the errno when the write fails.
bool print_report(const std::string& text);

}  // namespace lumo::python

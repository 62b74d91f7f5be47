// One registration function per class or group of functions.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <new>
#include <string>

namespace lumo::python {

void bind_se3(nanobind::module_& m);
void bind_model(nanobind::module_& m);
void bind_data(nanobind::module_& m);
void bind_reference_frame(nanobind::module_& m);

// The free functions, in the module's table order.
extern PyMethodDef function_table[];

// URDF import (urdf.cpp), METH_FASTCALL | METH_KEYWORDS.
PyObject* py_parse_urdf_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw);
PyObject* py_parse_urdf_from_string(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kw);

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

// print_info: writes text to the process's standard output (not
// sys.stdout); OSError with the errno when the write fails.
bool print_report(const std::string& text);

}  // namespace lumo::python

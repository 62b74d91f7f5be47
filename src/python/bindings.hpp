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

// URDF import (urdf.cpp), METH_FASTCALL | METH_KEYWORDS.
PyObject* py_parse_urdf_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw);
PyObject* py_parse_urdf_from_string(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kw);

}  // namespace lumo::python

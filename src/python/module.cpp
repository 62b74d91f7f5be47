// The module lumo_dynamic: its classes, free functions, __version__ and
// __all__, in that order. It is also a package: its pure-Python submodules
// (lumo_dynamic.torch, lumo_dynamic.jax) live in the folder lumo_dynamic/
// beside the extension file, which __path__ names.
#include <dlfcn.h>

#include <string>

#include "batch.hpp"
#include "bindings.hpp"
#include "convert.hpp"
#include "function_table.hpp"

namespace nb = nanobind;
using namespace lumo::python;

NB_MODULE(lumo_dynamic, m) {
  // Class attributes such as ReferenceFrame.WORLD live as long as their class.
  nb::set_leak_warnings(false);
  state.panic_exception = make_panic_exception();
  if (state.panic_exception == nullptr) throw nb::python_error();
  nb::register_exception_translator(
      [](const std::exception_ptr& error, void*) { set_python_error(error); });

  bind_se3(m);
  bind_model(m);
  bind_data(m);
  bind_reference_frame(m);
  bind_constraints(m);
  PyMethodDef* functions = single_call_table();
  if (PyModule_AddFunctions(m.ptr(), functions) < 0) throw nb::python_error();
  m.attr("__version__") = LUMO_VERSION;

  nb::list all;
  for (const char* name : {"SE3", "Model", "Data", "ReferenceFrame", "RigidConstraint", "JointCoupling", "ConstraintSet"}) all.append(name);
  for (PyMethodDef* f = functions; f->ml_name != nullptr; ++f) all.append(f->ml_name);
  all.append("__version__");
  PyObject* urdf_warning = make_urdf_warning();
  if (urdf_warning == nullptr) throw nb::python_error();
  m.attr("UrdfWarning") = nb::handle(urdf_warning);
  all.append("UrdfWarning");
  PyObject* mjcf_warning = make_mjcf_warning();
  if (mjcf_warning == nullptr) throw nb::python_error();
  m.attr("MjcfWarning") = nb::handle(mjcf_warning);
  all.append("MjcfWarning");
  m.attr("__all__") = all;
  m.attr("PanicException") = nb::handle(state.panic_exception);
  state.solution = make_solution_type();
  if (state.solution == nullptr) throw nb::python_error();
  m.attr("InverseKinematicsResult") = nb::handle(reinterpret_cast<PyObject*>(state.solution));
  bind_batch(m);
  m.attr("_api") = api_description();  // for make_stubs.py and the documentation

  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&make_urdf_warning), &info) != 0 && info.dli_fname != nullptr) {
    std::string folder = info.dli_fname;
    folder = folder.substr(0, folder.find_last_of('/') + 1) + "lumo_dynamic";
    nb::list path;
    path.append(folder);
    m.attr("__path__") = path;
  }
}

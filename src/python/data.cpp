// The Data class: the workspace of one model. Only a few results are
// visible from Python: M, C, g and the joint placements.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "bindings.hpp"
#include "convert.hpp"

namespace lumo::python {
namespace {

Data* self_data(PyObject* self) { return as_data(self, "self"); }

int data_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const params[] = {"model"};
  static const Signature sig{"Data", params, 1};
  PyObject* a[1];
  if (!parse_init_arguments(sig, args, kwargs, a)) return -1;
  const Model* m = as_model(a[0], "model");
  if (m == nullptr) return -1;
  try {
    return emplace(self, Data(*m));
  } catch (...) {
    raise_current_exception();
    return -1;
  }
}

PyType_Slot slots[] = {{Py_tp_init, reinterpret_cast<void*>(data_init)}, {0, nullptr}};

PyObject* get_M(PyObject* self, void*) {
  const Data* d = self_data(self);
  if (d == nullptr) return nullptr;
  // The algorithms fill the upper triangle; show the full symmetric matrix.
  return new_symmetric_from_upper(d->M);
}

PyObject* get_C(PyObject* self, void*) {
  const Data* d = self_data(self);
  return d ? new_matrix(d->C) : nullptr;
}

PyObject* get_g(PyObject* self, void*) {
  const Data* d = self_data(self);
  return d ? new_vector(d->g) : nullptr;
}

PyObject* get_oMi(PyObject* self, void*) {
  const Data* d = self_data(self);
  if (d == nullptr) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(d->oMi.size()));
  for (std::size_t i = 0; list != nullptr && i < d->oMi.size(); ++i) {
    PyObject* item = new_se3(d->oMi[i]);
    if (item == nullptr) {
      Py_CLEAR(list);
      break;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* reset(PyObject* self, PyObject*) {
  Data* d = self_data(self);
  if (d == nullptr) return nullptr;
  d->reset();
  Py_RETURN_NONE;
}

// The placement of the joint named by the single argument `joint_id`.
const SE3* placement_argument(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kw, const Signature& sig) {
  PyObject* a[1];
  std::size_t joint_id = 0;
  const Data* d = self_data(self);
  if (d == nullptr || !parse_arguments(sig, args, nargs, kw, a) ||
      !as_index(a[0], "joint_id", joint_id))
    return nullptr;
  try {
    return &d->get_joint_placement(joint_id);
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

PyObject* get_joint_placement(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kw) {
  static const char* const params[] = {"joint_id"};
  static const Signature sig{"Data.get_joint_placement", params, 1};
  const SE3* M = placement_argument(self, args, nargs, kw, sig);
  return M ? new_se3(*M) : nullptr;
}

PyObject* get_joint_translation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kw) {
  static const char* const params[] = {"joint_id"};
  static const Signature sig{"Data.get_joint_translation", params, 1};
  const SE3* M = placement_argument(self, args, nargs, kw, sig);
  return M ? new_vector(M->translation) : nullptr;
}

PyObject* to_string_info(PyObject* self, PyObject*) {
  const Data* d = self_data(self);
  if (d == nullptr) return nullptr;
  return guarded([&] {
    const std::string text = data_report(*d);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* print_info(PyObject* self, PyObject*) {
  const Data* d = self_data(self);
  if (d == nullptr) return nullptr;
  return guarded([&]() -> PyObject* {
    if (!print_report(data_report(*d) + "\n")) return nullptr;
    Py_RETURN_NONE;
  });
}

PyGetSetDef properties[] = {
    {"M", get_M, nullptr,
     "Get mass matrix M as a numpy array (nv x nv)\n\n"
     "Returns the full symmetric mass matrix. CRBA computes only the upper\n"
     "triangular part internally, but this getter returns the complete matrix\n"
     "with the lower triangular part mirrored from the upper.",
     nullptr},
    {"C", get_C, nullptr, "Get Coriolis matrix C as a numpy array (nv x nv)", nullptr},
    {"g", get_g, nullptr, "Get gravity vector g as a numpy array (nv)", nullptr},
    {"oMi", get_oMi, nullptr, "Get joint placements in world frame (oMi) as a list of SE3",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"reset", LUMO_NOARGS("Data.reset", reset), "reset($self)\n--\n\nReset every result to its initial value\n\n"
     "Every matrix and vector back to zero and every placement (oMi, limi) to the identity, as "
     "on a new Data; the sizes stay. No algorithm needs it: each writes what it reads."},
    {"get_joint_placement", LUMO_FASTCALL(get_joint_placement), METH_FASTCALL | METH_KEYWORDS,
     "get_joint_placement($self, joint_id)\n--\n\nGet joint placement in world frame (oMi)"},
    {"get_joint_translation", LUMO_FASTCALL(get_joint_translation), METH_FASTCALL | METH_KEYWORDS,
     "get_joint_translation($self, joint_id)\n--\n\n"
     "Get joint translation (position) in world frame"},
    {"to_string_info", LUMO_NOARGS("Data.to_string_info", to_string_info),
     "to_string_info($self)\n--\n\nGet string representation of data structure information"},
    {"print_info", LUMO_NOARGS("Data.print_info", print_info),
     "print_info($self)\n--\n\nPrint data structure information"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool print_report(const std::string& text) {
  // Earlier Python and C output first, in order.
  flush_python_stdout();
  std::fflush(stdout);
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, at, left);
    if (n < 0 && errno == EINTR) {
      if (PyErr_CheckSignals() < 0) return false;
      continue;
    }
    if (n <= 0) {
      if (n == 0) errno = EIO;
      PyErr_SetFromErrno(PyExc_OSError);
      return false;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void bind_data(nb::module_& m) {
  nb::class_<Data> cls(m, "Data", "Data(model)\n--\n\n", nb::type_slots(slots));
  cls.def("__repr__",
           [](const Data& d) {
             return cat("Data(njoints=", d.njoints, ", nq=", d.nq, ", nv=", d.nv, ")");
           })
      .def("__str__", [](const Data& d) { return data_report(d); })
      .def("__reduce__", [](const Data&) -> nb::object {
        // A workspace is made, not sent: its model is what travels.
        PyErr_SetString(PyExc_TypeError,
                        "Data cannot be pickled; pickle the Model and call createData()");
        throw nb::python_error();
      });
  state.data = reinterpret_cast<PyTypeObject*>(cls.ptr());
  add_properties(state.data, properties);
  add_methods(state.data, methods);
}

}  // namespace lumo::python

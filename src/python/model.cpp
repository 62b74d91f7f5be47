// The Model class: built empty or from URDF, grown with add_joint, read by
// every algorithm.
#include "batch.hpp"
#include "bindings.hpp"
#include "convert.hpp"
#include "model/serialize.hpp"

namespace lumo::python {
namespace {

Model* self_model(PyObject* self) { return as_model(self, "self"); }

// The model of a mutating method, or nullptr while a batch reads it.
Model* mutable_model(PyObject* self) {
  Model* m = self_model(self);
  return m != nullptr && model_mutable(m) ? m : nullptr;
}

PyObject* size_value(PyObject* self, std::size_t Model::*field) {
  const Model* m = self_model(self);
  return m ? PyLong_FromSize_t(m->*field) : nullptr;
}

PyObject* get_nq(PyObject* self, void*) { return size_value(self, &Model::nq); }
PyObject* get_nv(PyObject* self, void*) { return size_value(self, &Model::nv); }
PyObject* get_njoints(PyObject* self, void*) { return size_value(self, &Model::njoints); }
PyObject* get_nframes(PyObject* self, void*) { return size_value(self, &Model::nframes); }

PyObject* get_names(PyObject* self, void*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(m->names.size()));
  for (std::size_t i = 0; list != nullptr && i < m->names.size(); ++i) {
    PyObject* s = PyUnicode_FromStringAndSize(m->names[i].data(),
                                              static_cast<Py_ssize_t>(m->names[i].size()));
    if (s == nullptr) {
      Py_CLEAR(list);
      break;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), s);
  }
  return list;
}

PyObject* get_name(PyObject* self, void*) {
  const Model* m = self_model(self);
  return m ? PyUnicode_FromStringAndSize(m->name.data(), static_cast<Py_ssize_t>(m->name.size()))
           : nullptr;
}

PyObject* get_lower(PyObject* self, void*) {
  const Model* m = self_model(self);
  return m ? new_vector(m->lowerPositionLimit.data(),
                        static_cast<Py_ssize_t>(m->lowerPositionLimit.size()))
           : nullptr;
}

PyObject* get_upper(PyObject* self, void*) {
  const Model* m = self_model(self);
  return m ? new_vector(m->upperPositionLimit.data(),
                        static_cast<Py_ssize_t>(m->upperPositionLimit.size()))
           : nullptr;
}

PyObject* get_gravity(PyObject* self, void*) {
  const Model* m = self_model(self);
  return m ? new_vector(m->gravity.linear) : nullptr;
}

PyObject* get_gravity_angular(PyObject* self, void*) {
  const Model* m = self_model(self);
  return m ? new_vector(m->gravity.angular) : nullptr;
}

PyObject* get_gravity_full(PyObject* self, void*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  Vector6 g;
  g << m->gravity.linear, m->gravity.angular;
  return new_vector(g);
}

// Reads a gravity argument of `count` elements into `out`.
bool gravity_argument(PyObject* const* args, Py_ssize_t nargs, PyObject* kw, const Signature& sig,
                      Py_ssize_t count, const char* message, double* out) {
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a) || !is_vector(a[0], sig.params[0])) return false;
  VectorArg g;
  if (!vector_view(a[0], g)) return false;
  if (g.size != count) {
    raise_value_error(message);
    return false;
  }
  for (Py_ssize_t k = 0; k < count; ++k) out[k] = g.ptr[k];
  return true;
}

PyObject* set_gravity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"gravity"};
  static const Signature sig{"Model.set_gravity", params, 1};
  Model* m = mutable_model(self);
  double g[3];
  if (m == nullptr || !gravity_argument(args, nargs, kw, sig, 3,
                                        "Gravity vector must have 3 elements [x, y, z]", g))
    return nullptr;
  m->gravity.linear = Vector3(g[0], g[1], g[2]);
  Py_RETURN_NONE;
}

PyObject* set_gravity_angular(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kw) {
  static const char* const params[] = {"gravity_angular"};
  static const Signature sig{"Model.set_gravity_angular", params, 1};
  Model* m = mutable_model(self);
  double g[3];
  if (m == nullptr ||
      !gravity_argument(args, nargs, kw, sig, 3,
                        "Gravity angular vector must have 3 elements [wx, wy, wz]", g))
    return nullptr;
  m->gravity.angular = Vector3(g[0], g[1], g[2]);
  Py_RETURN_NONE;
}

PyObject* set_gravity_full(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"gravity"};
  static const Signature sig{"Model.set_gravity_full", params, 1};
  Model* m = mutable_model(self);
  double g[6];
  if (m == nullptr ||
      !gravity_argument(args, nargs, kw, sig, 6,
                        "Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]", g))
    return nullptr;
  m->gravity.linear = Vector3(g[0], g[1], g[2]);
  m->gravity.angular = Vector3(g[3], g[4], g[5]);
  Py_RETURN_NONE;
}

PyObject* add_joint(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"parent", "joint_type", "axis", "placement", "name"};
  static const Signature sig{"Model.add_joint", params, 5};
  PyObject* a[5];
  Model* m = mutable_model(self);
  if (m == nullptr || !parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  std::size_t parent = 0;
  std::string_view joint_type, name;
  if (!as_index(a[0], "parent", parent) || !as_text(a[1], "joint_type", joint_type) ||
      !is_vector(a[2], "axis"))
    return nullptr;
  const SE3* placement = as_se3(a[3], "placement");
  VectorArg axis;
  if (placement == nullptr || !as_text(a[4], "name", name) || !vector_view(a[2], axis))
    return nullptr;
  return guarded([&]() -> PyObject* {
    const JointType type = joint_type_from_text(joint_type);
    Vector3 direction = Vector3::Zero();
    if (type == JointType::Revolute || type == JointType::Prismatic) {
      if (axis.size != 3) return raise_value_error("Axis must be a 3D vector");
      direction = Vector3(axis.ptr[0], axis.ptr[1], axis.ptr[2]);
    }
    const JointIndex i =
        m->add_joint(parent, JointModel::make(type, direction), *placement, std::string(name));
    return PyLong_FromSize_t(i);
  });
}

PyObject* optional_index(const std::optional<std::size_t>& i) {
  if (i) return PyLong_FromSize_t(*i);
  Py_RETURN_NONE;
}

PyObject* get_joint_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"name"};
  static const Signature sig{"Model.get_joint_id", params, 1};
  PyObject* a[1];
  std::string_view name;
  const Model* m = self_model(self);
  if (m == nullptr || !parse_arguments(sig, args, nargs, kw, a) || !as_text(a[0], "name", name))
    return nullptr;
  return optional_index(m->get_joint_id(name));
}

PyObject* get_frame_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"name"};
  static const Signature sig{"Model.getFrameId", params, 1};
  PyObject* a[1];
  std::string_view name;
  const Model* m = self_model(self);
  if (m == nullptr || !parse_arguments(sig, args, nargs, kw, a) || !as_text(a[0], "name", name))
    return nullptr;
  return optional_index(m->getFrameId(name));
}

PyObject* set_name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"name"};
  static const Signature sig{"Model.set_name", params, 1};
  PyObject* a[1];
  std::string_view name;
  Model* m = mutable_model(self);
  if (m == nullptr || !parse_arguments(sig, args, nargs, kw, a) || !as_text(a[0], "name", name))
    return nullptr;
  m->set_name(std::string(name));
  Py_RETURN_NONE;
}

PyObject* create_data(PyObject* self, PyObject*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  return guarded([&] { return nb::cast(Data(*m)).release().ptr(); });
}

PyObject* to_string_info(PyObject* self, PyObject*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  return guarded([&] {
    const std::string text = model_report(*m);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* print_info(PyObject* self, PyObject*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  return guarded([&]() -> PyObject* {
    if (!print_report(model_report(*m) + "\n")) return nullptr;
    Py_RETURN_NONE;
  });
}

// Pickling: (Model, (), record), the record being the versioned binary form
// of the model; __setstate__ rebuilds the model from it.
PyObject* model_reduce(PyObject* self, PyObject*) {
  const Model* m = self_model(self);
  if (m == nullptr) return nullptr;
  return guarded([&]() -> PyObject* {
    const std::string record = save_model(*m);
    PyObject* bytes = PyBytes_FromStringAndSize(record.data(), static_cast<Py_ssize_t>(record.size()));
    if (bytes == nullptr) return nullptr;
    return Py_BuildValue("(O()N)", reinterpret_cast<PyObject*>(Py_TYPE(self)), bytes);
  });
}

PyObject* model_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"state"};
  static const Signature sig{"Model.__setstate__", params, 1};
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  if (!PyObject_TypeCheck(self, state.model)) {
    raise_conversion_error("self", self, "Model");
    return nullptr;
  }
  if (nb::inst_ready(self) && !model_mutable(nb::inst_ptr<Model>(self))) return nullptr;
  if (!PyBytes_Check(a[0])) {
    raise_conversion_error("state", a[0], "bytes");
    return nullptr;
  }
  const std::string_view record(PyBytes_AS_STRING(a[0]),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(a[0])));
  return guarded([&]() -> PyObject* {
    emplace(self, load_model(record));
    Py_RETURN_NONE;
  });
}

int model_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Model", nullptr, 0};
  if (!parse_init_arguments(sig, args, kwargs, nullptr)) return -1;
  if (nb::inst_ready(self) && !model_mutable(nb::inst_ptr<Model>(self))) return -1;
  try {
    return emplace(self, Model());
  } catch (...) {
    raise_current_exception();
    return -1;
  }
}

PyType_Slot slots[] = {{Py_tp_init, reinterpret_cast<void*>(model_init)}, {0, nullptr}};

PyGetSetDef properties[] = {
    {"nq", get_nq, nullptr,
     "Configuration vector size: the length of every q (an int, the sum of the joints' nq; a "
     "floating joint counts 7, its quaternion included; :ref:`conventions-configuration`)",
     nullptr},
    {"nv", get_nv, nullptr,
     "Velocity vector size: the length of every v, a, tau and the size of M (an int, the sum of "
     "the joints' nv; :ref:`conventions-configuration`)",
     nullptr},
    {"njoints", get_njoints, nullptr,
     "Number of joints, including the universe joint 0 (an int); joint indexes run 0 to "
     "njoints - 1, a parent before its children",
     nullptr},
    {"nframes", get_nframes, nullptr,
     "Number of frames (an int): frame 0, and from an import one per link and one per joint; "
     "add_joint adds none. Frame indexes come from getFrameId",
     nullptr},
    {"names", get_names, nullptr,
     "Joint names, in joint order: a new list of njoints str, \"universe\" first", nullptr},
    {"name", get_name, nullptr,
     "Model name (a str): the URDF robot's or MJCF model's name, \"\" for Model(); set with "
     "set_name",
     nullptr},
    {"lowerPositionLimit", get_lower, nullptr,
     "Lower position limits, indexed like velocities: a new float64 array (rad or m). A URDF "
     "joint's <limit> fills each of its velocity entries (0 where the file gives none), an "
     "unlimited MJCF joint -inf; add_joint sets none, so the array ends at the last joint "
     "that has limits",
     nullptr},
    {"upperPositionLimit", get_upper, nullptr,
     "Upper position limits, indexed like velocities: a new float64 array (rad or m). A URDF "
     "joint's <limit> fills each of its velocity entries (0 where the file gives none), an "
     "unlimited MJCF joint inf; add_joint sets none, so the array ends at the last joint "
     "that has limits",
     nullptr},
    {"gravity", get_gravity, nullptr, "Get gravity vector (linear part) [x, y, z] in m/s²",
     nullptr},
    {"gravity_angular", get_gravity_angular, nullptr,
     "Get gravity angular part [wx, wy, wz] in rad/s²", nullptr},
    {"gravity_full", get_gravity_full, nullptr,
     "Get full 6D gravity [linear_x, linear_y, linear_z, angular_x, angular_y, angular_z]",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"set_gravity", LUMO_FASTCALL(set_gravity), METH_FASTCALL | METH_KEYWORDS,
     "set_gravity($self, gravity)\n--\n\nSet gravity vector (linear part)\n\n# Arguments\n"
     "* `gravity` - Gravity vector [x, y, z] in m/s²"},
    {"set_gravity_angular", LUMO_FASTCALL(set_gravity_angular), METH_FASTCALL | METH_KEYWORDS,
     "set_gravity_angular($self, gravity_angular)\n--\n\nSet gravity angular part\n\n"
     "# Arguments\n* `gravity_angular` - Angular gravity vector [wx, wy, wz] in rad/s²"},
    {"set_gravity_full", LUMO_FASTCALL(set_gravity_full), METH_FASTCALL | METH_KEYWORDS,
     "set_gravity_full($self, gravity)\n--\n\nSet full 6D gravity\n\n# Arguments\n"
     "* `gravity` - [lx, ly, lz, wx, wy, wz]: linear part in m/s², then angular part in rad/s²"},
    {"add_joint", LUMO_FASTCALL(add_joint), METH_FASTCALL | METH_KEYWORDS,
     "add_joint($self, parent, joint_type, axis, placement, name)\n--\n\n"
     "Add a joint (\"fixed\", \"revolute\", \"prismatic\" or \"floating\") under `parent` and "
     "return its index\n\n"
     "parent: an existing joint index; joint_type: one of the four names, lower case; axis: a "
     "contiguous float64 array, 3 elements (any non-zero length, finite) for \"revolute\" and "
     "\"prismatic\", ignored otherwise; placement: the SE3 of the new joint in its parent's frame "
     "when its own q is neutral; name: a str. The joint gets the next index, slices of q and v "
     "at the end (nq and nv grow by 0, 1 or 7 and 6) and a massless body; no frame is added. "
     "ValueError for an unknown type, a bad axis or a parent out of range, and the model is "
     "unchanged. See :ref:`conventions-configuration`.\n\n"
     ">>> m = ld.Model()\n"
     ">>> m.add_joint(0, \"revolute\", np.array([0.0, 0.0, 1.0]), ld.SE3.identity(), \"shoulder\")\n"
     "1"},
    {"get_joint_id", LUMO_FASTCALL(get_joint_id), METH_FASTCALL | METH_KEYWORDS,
     "get_joint_id($self, name)\n--\n\nIndex of the first joint with this name, or None\n\n"
     "name: a str, matched exactly (case-sensitive, whole string). Returns an int index into "
     "names and Data.oMi, or None when no joint has that name (never raises)."},
    {"getFrameId", LUMO_FASTCALL(get_frame_id), METH_FASTCALL | METH_KEYWORDS,
     "getFrameId($self, name)\n--\n\nIndex of the first frame with this name, or None\n\n"
     "name: a str, matched exactly; a URDF import names one frame after each link and one after "
     "each joint. Returns the int frame_id the frame functions take (getFrameJacobian, "
     "getFramePlacement, ...), or None when no frame has that name."},
    {"set_name", LUMO_FASTCALL(set_name), METH_FASTCALL | METH_KEYWORDS,
     "set_name($self, name)\n--\n\nSet the model name\n\nname: a str, stored as given; read back "
     "through name and shown by repr and to_string_info."},
    {"createData", LUMO_NOARGS("Model.createData", create_data),
     "createData($self)\n--\n\nCreate a Data object for this model"},
    {"to_string_info", LUMO_NOARGS("Model.to_string_info", to_string_info),
     "to_string_info($self)\n--\n\nGet string representation of model information"},
    {"print_info", LUMO_NOARGS("Model.print_info", print_info), "print_info($self)\n--\n\nPrint model information"},
    {"__reduce__", LUMO_NOARGS("Model.__reduce__", model_reduce),
     "__reduce__($self)\n--\n\nPickle as (Model, (), record): the model's versioned binary record"},
    {"__setstate__", LUMO_FASTCALL(model_setstate), METH_FASTCALL | METH_KEYWORDS,
     "__setstate__($self, state)\n--\n\nReplace the model by the one a record (bytes) holds"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void bind_model(nb::module_& m) {
  nb::class_<Model> cls(m, "Model", "Model()\n--\n\n", nb::type_slots(slots));
  cls.def("__repr__",
           [](const Model& model) {
             return cat("Model(name='", model.name, "', njoints=", model.njoints,
                        ", nframes=", model.nframes, ", nq=", model.nq, ", nv=", model.nv, ")");
           })
      .def("__str__", [](const Model& model) { return model_report(model); });
  state.model = reinterpret_cast<PyTypeObject*>(cls.ptr());
  add_properties(state.model, properties);
  add_methods(state.model, methods);
}

}  // namespace lumo::python

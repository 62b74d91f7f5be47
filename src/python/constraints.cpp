// The constraint classes: RigidConstraint, JointCoupling and ConstraintSet.
// Each is built whole in __new__ and checked against the model it is given;
// __init__ on an existing object changes nothing. A RigidConstraint changes
// only through set_reference; a ConstraintSet holds copies of its
// constraints and never changes, so that a batch shares it across threads.
//
// Pickled as (Class._from_state, (state,)), the state a tuple of plain
// values. A constraint's state is checked again on its own (its frames and
// joints are checked against a model when it is used); a set's carries the
// record of its model, against which the constraints are checked again.
// Any state that fails these checks is a ValueError.
#include <cmath>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bindings.hpp"
#include "convert.hpp"
#include "function_table.hpp"
#include "model/serialize.hpp"

namespace lumo::python {
namespace {

// Python's repr of a float: 0.0, 1e-10, nan.
std::string real_text(double x) {
  char* repr = PyOS_double_to_string(x, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
  if (repr == nullptr) throw std::bad_alloc();
  std::string text = repr;
  PyMem_Free(repr);
  return text;
}

const char* reference_frame_name(ReferenceFrame rf) {
  return rf == ReferenceFrame::WORLD   ? "WORLD"
         : rf == ReferenceFrame::LOCAL ? "LOCAL"
                                       : "LOCAL_WORLD_ALIGNED";
}

// The class constant ReferenceFrame.<name> (compared by identity).
PyObject* reference_frame_object(ReferenceFrame rf) {
  return PyObject_GetAttrString(reinterpret_cast<PyObject*>(state.reference_frame), reference_frame_name(rf));
}

PyObject* optional_index_object(const std::optional<std::size_t>& i) {
  if (i) return PyLong_FromSize_t(*i);
  Py_RETURN_NONE;
}

bool as_real(PyObject* obj, const char* name, double& out) { return real_type(obj, {name, Kind::real}, out); }

// None (nothing given) or an index.
bool as_optional_index(PyObject* obj, const char* name, std::optional<std::size_t>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  std::size_t i = 0;
  if (!as_index(obj, name, i)) return false;
  out = i;
  return true;
}

// (kp, kd): a sequence of two reals; (0, 0) when not given.
bool as_gains(PyObject* obj, const char* name, double& kp, double& kd) {
  kp = kd = 0.0;
  if (obj == nullptr) return true;
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || !PySequence_Check(obj)) {
    raise_conversion_error(name, obj, "tuple[float, float]");
    return false;
  }
  nb::object items = nb::steal(PySequence_Tuple(obj));
  if (!items.is_valid()) return false;
  if (PyTuple_GET_SIZE(items.ptr()) != 2) {
    PyErr_Format(PyExc_ValueError, "%s must be (kp, kd), got %zd values", name, PyTuple_GET_SIZE(items.ptr()));
    return false;
  }
  return as_real(PyTuple_GET_ITEM(items.ptr(), 0), name, kp) && as_real(PyTuple_GET_ITEM(items.ptr(), 1), name, kd);
}

RigidConstraint* self_rigid(PyObject* self) {
  return instance_of<RigidConstraint>(self, state.rigid_constraint, "self", "RigidConstraint");
}
JointCoupling* self_coupling(PyObject* self) {
  return instance_of<JointCoupling>(self, state.joint_coupling, "self", "JointCoupling");
}
ConstraintSetValue* self_set(PyObject* self) {
  return instance_of<ConstraintSetValue>(self, state.constraint_set, "self", "ConstraintSet");
}

// A new Python object for a constraint of a set.
PyObject* new_constraint(const Constraint& c) {
  return guarded([&] {
    return std::visit([](const auto& value) { return nb::cast(value).release().ptr(); }, c);
  });
}

// The constraints of a sequence of RigidConstraint and JointCoupling, copied.
bool as_constraint_list(PyObject* obj, const char* name, std::vector<Constraint>& out) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || !PySequence_Check(obj)) {
    raise_conversion_error(name, obj, "Sequence[RigidConstraint | JointCoupling]");
    return false;
  }
  // A snapshot that owns its items: converting one may not change the others.
  nb::object items = nb::steal(PySequence_Tuple(obj));
  if (!items.is_valid()) return false;
  const Py_ssize_t n = PyTuple_GET_SIZE(items.ptr());
  out.clear();
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t k = 0; k < n; ++k) {
    PyObject* item = PyTuple_GET_ITEM(items.ptr(), k);
    if (PyObject_TypeCheck(item, state.rigid_constraint) && nb::inst_ready(item)) {
      out.emplace_back(*nb::inst_ptr<RigidConstraint>(item));
    } else if (PyObject_TypeCheck(item, state.joint_coupling) && nb::inst_ready(item)) {
      out.emplace_back(*nb::inst_ptr<JointCoupling>(item));
    } else {
      PyObject* type_name = type_qualname(item);
      if (type_name == nullptr) return false;
      PyErr_Format(PyExc_TypeError,
                   "argument '%s': item %zd is a '%U' object, not a RigidConstraint or JointCoupling", name, k,
                   type_name);
      Py_DECREF(type_name);
      return false;
    }
  }
  return true;
}

// A state that did not convert is a ValueError "Bad {what} state: {reason}".
PyObject* bad_state(const char* what) {
  if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_OverflowError)) {
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    PyErr_Format(PyExc_ValueError, "Bad %s state: %S", what, value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(trace);
  }
  return nullptr;
}

// The items of a state: a tuple of n.
PyObject* const* state_items(PyObject* obj, Py_ssize_t n, const char* what) {
  if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != n) {
    PyErr_Format(PyExc_ValueError, "Bad %s state: expected a tuple of %zd items", what, n);
    return nullptr;
  }
  return &PyTuple_GET_ITEM(obj, 0);
}

// Pickling: (type(self)._from_state, (state,)).
PyObject* reduce_with(PyObject* self, PyObject* state_tuple) {
  if (state_tuple == nullptr) return nullptr;
  PyObject* restore = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_state");
  if (restore == nullptr) {
    Py_DECREF(state_tuple);
    return nullptr;
  }
  return Py_BuildValue("(N(N))", restore, state_tuple);
}

// ----------------------------------------------------------- RigidConstraint

PyObject* rigid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const params[] = {"model", "kind", "frame_id", "frame2", "reference_frame", "corrector"};
  static const Signature sig{"RigidConstraint", params, 3, 3};
  PyObject* a[6];
  if (!parse_init_arguments(sig, args, kwargs, a)) return nullptr;
  const Model* model = as_model(a[0]);
  std::string_view kind;
  std::size_t frame = 0;
  std::optional<std::size_t> frame2;
  ReferenceFrame rf = ReferenceFrame::LOCAL_WORLD_ALIGNED;
  double kp = 0.0, kd = 0.0;
  if (model == nullptr || !as_text(a[1], "kind", kind) || !as_index(a[2], "frame_id", frame) ||
      !as_optional_index(a[3], "frame2", frame2) ||
      (a[4] != nullptr && !as_reference_frame(a[4], "reference_frame", rf)) || !as_gains(a[5], "corrector", kp, kd))
    return nullptr;
  return guarded([&] {
    return new_instance(type, make_rigid_constraint(*model, constraint_kind_from_text(kind), frame, frame2, rf, kp, kd));
  });
}

int keep_as_built(PyObject*, PyObject*, PyObject*) { return 0; }

PyObject* rigid_kind(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? PyUnicode_FromString(constraint_kind_text(c->kind)) : nullptr;
}
PyObject* rigid_frame(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? PyLong_FromSize_t(c->frame) : nullptr;
}
PyObject* rigid_frame2(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? optional_index_object(c->frame2) : nullptr;
}
PyObject* rigid_reference_frame(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? reference_frame_object(c->reference_frame) : nullptr;
}
PyObject* rigid_corrector(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? Py_BuildValue("(dd)", c->kp, c->kd) : nullptr;
}
PyObject* rigid_reference(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? new_se3(c->reference) : nullptr;
}
PyObject* rigid_size(PyObject* self, void*) {
  const RigidConstraint* c = self_rigid(self);
  return c ? PyLong_FromSize_t(c->rows()) : nullptr;
}

PyObject* rigid_set_reference(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"RigidConstraint.set_reference", params, 3};
  PyObject* a[3];
  RigidConstraint* c = self_rigid(self);
  if (c == nullptr || !parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  const Model* model = as_model(a[0]);
  Data* data = model ? as_data(a[1]) : nullptr;
  VectorArg q;
  if (data == nullptr || !is_vector(a[2], "q") || !vector_view(a[2], q)) return nullptr;
  if (static_cast<std::size_t>(q.size) != model->nq) return raise_size_error(kQ, q.size, model->nq), nullptr;
  if (!check_data(*data, *model)) return nullptr;
  return guarded([&]() -> PyObject* {
    // The model may not be the one the constraint was made for: checked again.
    make_rigid_constraint(*model, c->kind, c->frame, c->frame2, c->reference_frame, c->kp, c->kd);
    c->reference = relative_placement(*model, *data, *c, q.map());
    Py_RETURN_NONE;
  });
}

// State: (kind, frame_id, frame2, reference_frame, kp, kd, reference).
PyObject* rigid_reduce(PyObject* self, PyObject*) {
  const RigidConstraint* c = self_rigid(self);
  if (c == nullptr) return nullptr;
  PyObject* frame2 = optional_index_object(c->frame2);
  PyObject* rf = frame2 ? reference_frame_object(c->reference_frame) : nullptr;
  PyObject* reference = rf ? new_se3(c->reference) : nullptr;
  if (reference == nullptr) {
    Py_XDECREF(frame2);
    Py_XDECREF(rf);
    return nullptr;
  }
  return reduce_with(self, Py_BuildValue("(snNNddN)", constraint_kind_text(c->kind), static_cast<Py_ssize_t>(c->frame),
                                         frame2, rf, c->kp, c->kd, reference));
}

PyObject* rigid_from_state(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"state"};
  static const Signature sig{"RigidConstraint._from_state", params, 1};
  static constexpr const char* what = "RigidConstraint";
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  PyObject* const* s = state_items(a[0], 7, what);
  if (s == nullptr) return nullptr;
  std::string_view kind;
  RigidConstraint c;
  std::optional<std::size_t> frame2;
  const SE3* reference = nullptr;
  if (!as_text(s[0], "kind", kind) || !as_index(s[1], "frame_id", c.frame) || !as_optional_index(s[2], "frame2", frame2) ||
      !as_reference_frame(s[3], "reference_frame", c.reference_frame) || !as_real(s[4], "kp", c.kp) ||
      !as_real(s[5], "kd", c.kd) || (reference = as_se3(s[6], "reference")) == nullptr)
    return bad_state(what);
  c.frame2 = frame2;
  c.reference = *reference;
  return guarded([&]() -> PyObject* {
    c.kind = constraint_kind_from_text(kind);
    // What make_rigid_constraint checks but the frames' range, which needs a model.
    if (c.frame2 == c.frame) throw ValueError(cat("frame2 must differ from frame_id (both ", c.frame, ")"));
    if (c.reference_frame != ReferenceFrame::LOCAL && c.reference_frame != ReferenceFrame::LOCAL_WORLD_ALIGNED)
      throw ValueError("reference_frame must be LOCAL or LOCAL_WORLD_ALIGNED");
    if (!(std::isfinite(c.kp) && std::isfinite(c.kd) && c.kp >= 0.0 && c.kd >= 0.0))
      throw ValueError(cat("corrector gains must be finite and non-negative, got (", c.kp, ", ", c.kd, ")"));
    return new_instance(reinterpret_cast<PyTypeObject*>(type), c);
  });
}

PyType_Slot rigid_slots[] = {{Py_tp_new, reinterpret_cast<void*>(rigid_new)},
                             {Py_tp_init, reinterpret_cast<void*>(keep_as_built)},
                             {0, nullptr}};

PyGetSetDef rigid_properties[] = {
    {"kind", rigid_kind, nullptr, "\"point\" (3 rows: the origin held) or \"frame\" (6 rows [linear; angular]: the whole placement held), a str", nullptr},
    {"frame_id", rigid_frame, nullptr, "The constrained frame: an int frame index of the model it was made for", nullptr},
    {"frame2", rigid_frame2, nullptr, "The frame it is held to (an int frame index), or None for the world", nullptr},
    {"reference_frame", rigid_reference_frame, nullptr,
     "The axes of the rows: ReferenceFrame.LOCAL (frame_id's) or ReferenceFrame.LOCAL_WORLD_ALIGNED (the world's)",
     nullptr},
    {"corrector", rigid_corrector, nullptr, "The corrector's gains (kp, kd): a tuple of two floats, in 1/s^2 and 1/s; (0.0, 0.0) for none", nullptr},
    {"reference", rigid_reference, nullptr,
     "The placement of frame_id in frame2 (or in the world) at which the placement error is zero, a copy "
     "(a new SE3; the identity until set_reference)",
     nullptr},
    {"size", rigid_size, nullptr, "The number of rows: 3 or 6 (an int)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef rigid_methods[] = {
    {"set_reference", LUMO_FASTCALL(rigid_set_reference), METH_FASTCALL | METH_KEYWORDS,
     "set_reference($self, model, data, q)\n--\n\n"
     "Record the placement of frame_id in frame2 (or in the world) at q as the one the corrector\n"
     "holds: the placement error is zero there. Runs forwardKinematics on data.\n\n"
     "model: a Model with the constraint's frames; data: a Data of model (its placements oMi "
     "are overwritten); q: a float64 array of nq. Changes this constraint only: a ConstraintSet "
     "made before holds its own copy."},
    {"__reduce__", LUMO_NOARGS("RigidConstraint.__reduce__", rigid_reduce),
     "__reduce__($self)\n--\n\nPickle as RigidConstraint._from_state(state), the state of plain values"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef rigid_from_state_def = {
    "_from_state", LUMO_FASTCALL(rigid_from_state), METH_FASTCALL | METH_KEYWORDS,
    "_from_state($cls, state)\n--\n\nThe constraint a pickled state describes (ValueError for a bad one)"};

// ------------------------------------------------------------- JointCoupling

PyObject* coupling_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const params[] = {"model", "joint_id", "leader_id", "ratio", "offset"};
  static const Signature sig{"JointCoupling", params, 5, 0, 2};
  PyObject* a[5];
  if (!parse_init_arguments(sig, args, kwargs, a)) return nullptr;
  const Model* model = as_model(a[0]);
  std::size_t joint = 0, leader = 0;
  double ratio = 1.0, offset = 0.0;
  if (model == nullptr || !as_index(a[1], "joint_id", joint) || !as_index(a[2], "leader_id", leader) ||
      (a[3] != nullptr && !as_real(a[3], "ratio", ratio)) || (a[4] != nullptr && !as_real(a[4], "offset", offset)))
    return nullptr;
  return guarded([&] { return new_instance(type, make_joint_coupling(*model, joint, leader, ratio, offset)); });
}

PyObject* coupling_joint(PyObject* self, void*) {
  const JointCoupling* c = self_coupling(self);
  return c ? PyLong_FromSize_t(c->joint) : nullptr;
}
PyObject* coupling_leader(PyObject* self, void*) {
  const JointCoupling* c = self_coupling(self);
  return c ? PyLong_FromSize_t(c->leader) : nullptr;
}
PyObject* coupling_ratio(PyObject* self, void*) {
  const JointCoupling* c = self_coupling(self);
  return c ? PyFloat_FromDouble(c->ratio) : nullptr;
}
PyObject* coupling_offset(PyObject* self, void*) {
  const JointCoupling* c = self_coupling(self);
  return c ? PyFloat_FromDouble(c->offset) : nullptr;
}
PyObject* coupling_size(PyObject* self, void*) { return self_coupling(self) ? PyLong_FromLong(1) : nullptr; }

// State: (joint_id, leader_id, ratio, offset).
PyObject* coupling_reduce(PyObject* self, PyObject*) {
  const JointCoupling* c = self_coupling(self);
  if (c == nullptr) return nullptr;
  return reduce_with(self, Py_BuildValue("(nndd)", static_cast<Py_ssize_t>(c->joint),
                                         static_cast<Py_ssize_t>(c->leader), c->ratio, c->offset));
}

PyObject* coupling_from_state(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"state"};
  static const Signature sig{"JointCoupling._from_state", params, 1};
  static constexpr const char* what = "JointCoupling";
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  PyObject* const* s = state_items(a[0], 4, what);
  if (s == nullptr) return nullptr;
  JointCoupling c;
  if (!as_index(s[0], "joint_id", c.joint) || !as_index(s[1], "leader_id", c.leader) ||
      !as_real(s[2], "ratio", c.ratio) || !as_real(s[3], "offset", c.offset))
    return bad_state(what);
  return guarded([&]() -> PyObject* {
    // What make_joint_coupling checks but the joints' range and kinds, which need a model.
    if (c.joint == c.leader) throw ValueError(cat("A joint cannot follow itself (joint ", c.joint, ")"));
    if (!(std::isfinite(c.ratio) && std::isfinite(c.offset)))
      throw ValueError(cat("ratio and offset must be finite, got (", c.ratio, ", ", c.offset, ")"));
    return new_instance(reinterpret_cast<PyTypeObject*>(type), c);
  });
}

PyType_Slot coupling_slots[] = {{Py_tp_new, reinterpret_cast<void*>(coupling_new)},
                                {Py_tp_init, reinterpret_cast<void*>(keep_as_built)},
                                {0, nullptr}};

PyGetSetDef coupling_properties[] = {
    {"joint_id", coupling_joint, nullptr, "The joint that follows: an int joint index", nullptr},
    {"leader_id", coupling_leader, nullptr, "The joint it follows: an int joint index", nullptr},
    {"ratio", coupling_ratio, nullptr, "The ratio in q_joint = ratio * q_leader + offset", nullptr},
    {"offset", coupling_offset, nullptr, "The offset in q_joint = ratio * q_leader + offset", nullptr},
    {"size", coupling_size, nullptr, "The number of rows: 1 (an int)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef coupling_methods[] = {
    {"__reduce__", LUMO_NOARGS("JointCoupling.__reduce__", coupling_reduce),
     "__reduce__($self)\n--\n\nPickle as JointCoupling._from_state(state), the state of plain values"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef coupling_from_state_def = {
    "_from_state", LUMO_FASTCALL(coupling_from_state), METH_FASTCALL | METH_KEYWORDS,
    "_from_state($cls, state)\n--\n\nThe coupling a pickled state describes (ValueError for a bad one)"};

// ------------------------------------------------------------- ConstraintSet

// The set of `constraints` on `model` (its record kept for pickling).
PyObject* new_set(PyTypeObject* type, const Model& model, std::vector<Constraint> constraints, double mu) {
  return guarded([&] {
    ConstraintSet set(model, std::move(constraints), mu);
    return new_instance(type, ConstraintSetValue{std::move(set), save_model(model)});
  });
}

PyObject* set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const params[] = {"model", "constraints", "regularisation"};
  static const Signature sig{"ConstraintSet", params, 2, 1};
  PyObject* a[3];
  if (!parse_init_arguments(sig, args, kwargs, a)) return nullptr;
  const Model* model = as_model(a[0]);
  std::vector<Constraint> constraints;
  double mu = 0.0;
  if (model == nullptr || !as_constraint_list(a[1], "constraints", constraints) ||
      (a[2] != nullptr && !as_real(a[2], "regularisation", mu)))
    return nullptr;
  return new_set(type, *model, std::move(constraints), mu);
}

PyObject* set_size(PyObject* self, void*) {
  const ConstraintSetValue* s = self_set(self);
  return s ? PyLong_FromSize_t(s->set.size()) : nullptr;
}
PyObject* set_len(PyObject* self, PyObject*) {
  const ConstraintSetValue* s = self_set(self);
  return s ? PyLong_FromSize_t(s->set.constraints().size()) : nullptr;
}
PyObject* set_regularisation(PyObject* self, void*) {
  const ConstraintSetValue* s = self_set(self);
  return s ? PyFloat_FromDouble(s->set.regularisation()) : nullptr;
}
PyObject* set_constraints(PyObject* self, void*) {
  const ConstraintSetValue* s = self_set(self);
  if (s == nullptr) return nullptr;
  const auto& list = s->set.constraints();
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(list.size()));
  for (std::size_t k = 0; tuple != nullptr && k < list.size(); ++k) {
    PyObject* item = new_constraint(list[k]);
    if (item == nullptr) {
      Py_CLEAR(tuple);
      break;
    }
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(k), item);
  }
  return tuple;
}

// The arguments of jacobian and drift, checked as the functions check theirs:
// types, contiguity, then the set, q and v against the model, then data.
struct SetCall {
  const ConstraintSet* set;
  const Model* model;
  Data* data;
  VectorArg q, v;
};

bool set_call_arguments(PyObject* self, PyObject* const* a, bool with_v, SetCall& c) {
  const ConstraintSetValue* s = self_set(self);
  if (s == nullptr || (c.model = as_model(a[0])) == nullptr || (c.data = as_data(a[1])) == nullptr ||
      !is_vector(a[2], "q") || (with_v && !is_vector(a[3], "v")) || !vector_view(a[2], c.q) ||
      (with_v && !vector_view(a[3], c.v)))
    return false;
  c.set = &s->set;
  if (!check_constraint_set(*c.set, *c.model)) return false;
  if (static_cast<std::size_t>(c.q.size) != c.model->nq) return raise_size_error(kQ, c.q.size, c.model->nq);
  if (with_v && static_cast<std::size_t>(c.v.size) != c.model->nv)
    return raise_size_error(kV, c.v.size, c.model->nv);
  return check_data(*c.data, *c.model);
}

PyObject* set_jacobian(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"ConstraintSet.jacobian", params, 3};
  PyObject* a[3];
  SetCall c;
  if (!parse_arguments(sig, args, nargs, kw, a) || !set_call_arguments(self, a, false, c)) return nullptr;
  return guarded([&] {
    MatrixX J(c.set->size(), c.model->nv);
    constraintJacobian(*c.model, *c.data, *c.set, c.q.map(), J);
    return new_matrix(J);
  });
}

PyObject* set_drift(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q", "v"};
  static const Signature sig{"ConstraintSet.drift", params, 4};
  PyObject* a[4];
  SetCall c;
  if (!parse_arguments(sig, args, nargs, kw, a) || !set_call_arguments(self, a, true, c)) return nullptr;
  return fill_new_vector(static_cast<Py_ssize_t>(c.set->size()), [&](Eigen::Map<Eigen::VectorXd> gamma) {
    constraintDrift(*c.model, *c.data, *c.set, c.q.map(), c.v.map(), gamma);
  });
}

// State: (model record, constraints, regularisation).
PyObject* set_reduce(PyObject* self, PyObject*) {
  const ConstraintSetValue* s = self_set(self);
  if (s == nullptr) return nullptr;
  PyObject* record = PyBytes_FromStringAndSize(s->model_record.data(), static_cast<Py_ssize_t>(s->model_record.size()));
  PyObject* constraints = record ? set_constraints(self, nullptr) : nullptr;
  if (constraints == nullptr) {
    Py_XDECREF(record);
    return nullptr;
  }
  return reduce_with(self, Py_BuildValue("(NNd)", record, constraints, s->set.regularisation()));
}

PyObject* set_from_state(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"state"};
  static const Signature sig{"ConstraintSet._from_state", params, 1};
  static constexpr const char* what = "ConstraintSet";
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  PyObject* const* s = state_items(a[0], 3, what);
  if (s == nullptr) return nullptr;
  std::vector<Constraint> constraints;
  double mu = 0.0;
  if (!PyBytes_Check(s[0])) {
    raise_conversion_error("model record", s[0], "bytes");
    return bad_state(what);
  }
  if (!as_constraint_list(s[1], "constraints", constraints) || !as_real(s[2], "regularisation", mu))
    return bad_state(what);
  const std::string_view record(PyBytes_AS_STRING(s[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(s[0])));
  Model model;
  try {
    model = load_model(record);
  } catch (...) {
    return raise_current_exception();
  }
  return new_set(reinterpret_cast<PyTypeObject*>(type), model, std::move(constraints), mu);
}

PyType_Slot set_slots[] = {{Py_tp_new, reinterpret_cast<void*>(set_new)},
                           {Py_tp_init, reinterpret_cast<void*>(keep_as_built)},
                           {0, nullptr}};

PyGetSetDef set_properties[] = {
    {"size", set_size, nullptr, "The number of rows (an int): the sum of the constraints' sizes, the length of drift and of lambda", nullptr},
    {"regularisation", set_regularisation, nullptr,
     "The solver's proximal weight mu: 0 for the exact solve, > 0 for the least-norm forces", nullptr},
    {"constraints", set_constraints, nullptr, "The constraints, in row order: a tuple of copies (RigidConstraint and JointCoupling)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef set_methods[] = {
    {"jacobian", LUMO_FASTCALL(set_jacobian), METH_FASTCALL | METH_KEYWORDS,
     "jacobian($self, model, data, q)\n--\n\n"
     "The constraint Jacobian J at q, a new size x nv array: the rows' velocities are J v, and\n"
     "J = d(constrained position)/dq along integrate\n\n"
     "model: the Model of the set; data: a Data of model (its kinematics are overwritten); q: a "
     "float64 array of nq. Rows in the set's order, each constraint's rows in its reference_frame "
     "([linear; angular] for a frame); columns in velocity order "
     "(:ref:`conventions-reference-frames`)."},
    {"drift", LUMO_FASTCALL(set_drift), METH_FASTCALL | METH_KEYWORDS,
     "drift($self, model, data, q, v)\n--\n\n"
     "The drift gamma at (q, v), a new array of size rows: the constrained accelerations are\n"
     "J ddq + gamma\n\n"
     "model, data, q as for jacobian; v: a float64 array of nv. gamma is the constrained "
     "acceleration at ddq = 0, in the rows of jacobian; data's kinematics are overwritten."},
    {"__len__", LUMO_NOARGS("ConstraintSet.__len__", set_len),
     "__len__($self)\n--\n\nThe number of constraints (not of rows: see size)"},
    {"__reduce__", LUMO_NOARGS("ConstraintSet.__reduce__", set_reduce),
     "__reduce__($self)\n--\n\n"
     "Pickle as ConstraintSet._from_state(state): the model's record, the constraints (with their\n"
     "references) and the regularisation"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef set_from_state_def = {
    "_from_state", LUMO_FASTCALL(set_from_state), METH_FASTCALL | METH_KEYWORDS,
    "_from_state($cls, state)\n--\n\n"
    "The set a pickled state describes, checked against its model's record (ValueError for a bad one)"};

// A classmethod on type: Class._from_state pickles as getattr(Class, "_from_state").
void add_class_method(PyTypeObject* type, PyMethodDef* method) {
  PyObject* descr = PyDescr_NewClassMethod(type, method);
  const bool ok =
      descr && PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), method->ml_name, descr) == 0;
  Py_XDECREF(descr);
  if (!ok) throw nb::python_error();
}

}  // namespace

void bind_constraints(nb::module_& m) {
  nb::class_<RigidConstraint> rigid(
      m, "RigidConstraint",
      "RigidConstraint(model, kind, frame_id, *, frame2=None, reference_frame=..., corrector=(0.0, 0.0))\n--\n\n"
      "A frame held to the world, or to another frame (a loop closure). kind \"point\" (3 rows)\n"
      "holds the origin of frame_id: zero relative velocity and classical acceleration of the\n"
      "origins. kind \"frame\" (6 rows, [linear; angular]) holds its whole placement. The rows are\n"
      "in reference_frame: ReferenceFrame.LOCAL (frame_id's axes) or\n"
      "ReferenceFrame.LOCAL_WORLD_ALIGNED (the world's, the default).\n\n"
      "corrector=(kp, kd) sets the target of the constrained acceleration to\n"
      "-kd (velocity error) - kp (placement error), the placement error measured from the\n"
      "reference placement (set_reference; until then the two frames coincide, or frame_id sits\n"
      "at the world origin). The forces J^T lambda on the robot are positive along the rows.\n\n"
      "model: the Model whose frames frame_id and frame2 (ints from getFrameId) are checked; "
      "corrector gains kp (1/s^2) and kd (1/s), finite and non-negative. ValueError for a bad "
      "kind, frame, reference_frame (WORLD is refused) or gain. Used through a ConstraintSet; "
      "rows and frames: :ref:`conventions-reference-frames`, :ref:`conventions-6-vectors`.\n\n"
      ">>> model = ld.parse_urdf_file(\"models/quadruped.urdf\")\n"
      ">>> foot = ld.RigidConstraint(model, \"point\", model.getFrameId(\"FL_foot\"))\n"
      ">>> foot.size, foot.reference_frame\n"
      "(3, ReferenceFrame.LOCAL_WORLD_ALIGNED)",
      nb::type_slots(rigid_slots));
  rigid.def("__repr__", [](const RigidConstraint& c) {
    return cat("RigidConstraint(kind='", constraint_kind_text(c.kind), "', frame_id=", c.frame,
               ", frame2=", c.frame2 ? std::to_string(*c.frame2) : std::string("None"),
               ", reference_frame=ReferenceFrame.", reference_frame_name(c.reference_frame), ", corrector=(",
               real_text(c.kp), ", ", real_text(c.kd), "))");
  });
  state.rigid_constraint = reinterpret_cast<PyTypeObject*>(rigid.ptr());
  add_properties(state.rigid_constraint, rigid_properties);
  add_methods(state.rigid_constraint, rigid_methods);
  add_class_method(state.rigid_constraint, &rigid_from_state_def);

  nb::class_<JointCoupling> coupling(
      m, "JointCoupling",
      "JointCoupling(model, joint_id, leader_id, ratio=1.0, offset=0.0)\n--\n\n"
      "One joint following another: q_joint = ratio * q_leader + offset (1 row, joint_id's\n"
      "acceleration less ratio times leader_id's), for revolute and prismatic joints; the\n"
      "relation of a URDF <mimic>.\n\n"
      "joint_id, leader_id: distinct joint indexes of model, each revolute or prismatic (one "
      "velocity); ratio and offset finite floats (offset in rad or m). ValueError otherwise. "
      "couplingsFromUrdf and couplingsFromMjcf read them from a description. Used through a "
      "ConstraintSet, where its row of the Jacobian is e_joint - ratio e_leader.\n\n"
      ">>> arm = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
      ">>> ld.JointCoupling(arm, 2, 1, ratio=-1.0)\n"
      "JointCoupling(joint_id=2, leader_id=1, ratio=-1.0, offset=0.0)",
      nb::type_slots(coupling_slots));
  coupling.def("__repr__", [](const JointCoupling& c) {
    return cat("JointCoupling(joint_id=", c.joint, ", leader_id=", c.leader, ", ratio=", real_text(c.ratio),
               ", offset=", real_text(c.offset), ")");
  });
  state.joint_coupling = reinterpret_cast<PyTypeObject*>(coupling.ptr());
  add_properties(state.joint_coupling, coupling_properties);
  add_methods(state.joint_coupling, coupling_methods);
  add_class_method(state.joint_coupling, &coupling_from_state_def);

  nb::class_<ConstraintSetValue> set(
      m, "ConstraintSet",
      "ConstraintSet(model, constraints, *, regularisation=0.0)\n--\n\n"
      "The constraints of a model, stacked in the order given (any sequence of RigidConstraint\n"
      "and JointCoupling, copied): size rows, J = jacobian(...) and gamma = drift(...) with the\n"
      "constrained accelerations J ddq + gamma. Immutable. regularisation mu = 0 solves the\n"
      "dynamics exactly (linearly dependent rows raise ValueError); mu > 0 iterates towards the\n"
      "least-norm forces.\n\n"
      "model: the Model every constraint is checked against (its record is kept for pickling); "
      "constraints: a sequence of RigidConstraint and JointCoupling; regularisation: a float >= 0. "
      "Pass it to constrainedDynamics, impulseDynamics and their derivatives, which return the "
      "forces lambda in this row order. Shared safely across the threads of a batch.\n\n"
      ">>> model = ld.parse_urdf_file(\"models/quadruped.urdf\")\n"
      ">>> feet = [ld.RigidConstraint(model, \"point\", model.getFrameId(f + \"_foot\")) for f in (\"FL\", \"FR\", \"HL\", \"HR\")]\n"
      ">>> cs = ld.ConstraintSet(model, feet)\n"
      ">>> cs.size, cs.jacobian(model, model.createData(), ld.neutral(model)).shape\n"
      "(12, (12, 18))",
      nb::type_slots(set_slots));
  set.def("__repr__",
          [](const ConstraintSetValue& s) {
            return cat("ConstraintSet(len=", s.set.constraints().size(), ", size=", s.set.size(),
                       ", regularisation=", real_text(s.set.regularisation()), ")");
          });
  state.constraint_set = reinterpret_cast<PyTypeObject*>(set.ptr());
  add_properties(state.constraint_set, set_properties);
  add_methods(state.constraint_set, set_methods);
  add_class_method(state.constraint_set, &set_from_state_def);
}

}  // namespace lumo::python

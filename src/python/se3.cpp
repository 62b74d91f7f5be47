// The SE3 class: an immutable rigid transform.
#include <cstring>

#include "bindings.hpp"
#include "convert.hpp"

namespace lumo::python {
namespace {

// Entry (i, j) of a float64 matrix of any strides and alignment.
double matrix_entry(PyArrayObject* arr, npy_intp i, npy_intp j) {
  double x;
  std::memcpy(&x, PyArray_BYTES(arr) + i * PyArray_STRIDE(arr, 0) + j * PyArray_STRIDE(arr, 1),
              sizeof x);
  return x;
}

// SE3(rotation, translation) is built whole in __new__; __init__ on an
// existing transform changes nothing, as for a tuple.
PyObject* se3_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const params[] = {"rotation", "translation"};
  static const Signature sig{"SE3", params, 2};
  PyObject* a[2];
  if (!parse_init_arguments(sig, args, kwargs, a) || !is_matrix(a[0], "rotation") ||
      !is_vector(a[1], "translation"))
    return nullptr;
  VectorArg t;
  if (!vector_view(a[1], t)) return nullptr;
  auto* R = reinterpret_cast<PyArrayObject*>(a[0]);
  if (PyArray_DIM(R, 0) != 3 || PyArray_DIM(R, 1) != 3 || t.size != 3)
    return raise_value_error("Rotation must be 3x3 matrix and translation must be 3D vector");
  SE3 value;
  for (npy_intp i = 0; i < 3; ++i)
    for (npy_intp j = 0; j < 3; ++j) value.rotation(i, j) = matrix_entry(R, i, j);
  value.translation = t.map();
  return new_instance(type, value);
}

int keep_as_built(PyObject*, PyObject*, PyObject*) { return 0; }

PyType_Slot slots[] = {{Py_tp_new, reinterpret_cast<void*>(se3_new)},
                       {Py_tp_init, reinterpret_cast<void*>(keep_as_built)},
                       {0, nullptr}};

PyObject* se3_identity(PyObject*, PyObject*) { return new_se3(SE3::Identity()); }

PyObject* se3_compose(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"other"};
  static const Signature sig{"SE3.compose", params, 1};
  PyObject* a[1];
  if (!parse_arguments(sig, args, nargs, kw, a)) return nullptr;
  const SE3* me = as_se3(self, "self");
  const SE3* other = me ? as_se3(a[0], "other") : nullptr;
  return other ? new_se3(compose(*me, *other)) : nullptr;
}

PyObject* se3_inverse(PyObject* self, PyObject*) {
  const SE3* me = as_se3(self, "self");
  return me ? new_se3(inverse(*me)) : nullptr;
}

PyObject* se3_to_homogeneous(PyObject* self, PyObject*) {
  const SE3* me = as_se3(self, "self");
  return me ? new_matrix(to_homogeneous(*me)) : nullptr;
}

PyObject* se3_homogeneous(PyObject* self, void*) { return se3_to_homogeneous(self, nullptr); }

// A twist argument: a float64 vector of 6 elements,
// ValueError "xi must have 6 elements, got N" otherwise.
bool as_twist(PyObject* obj, const char* name, Vector6& out) {
  if (!is_vector(obj, name)) return false;
  VectorArg x;
  if (!vector_view(obj, x)) return false;
  if (x.size != 6) {
    PyErr_Format(PyExc_ValueError, "%s must have 6 elements, got %zd", name, x.size);
    return false;
  }
  out = x.map();
  return true;
}

// A real number: a float or anything with __float__ or __index__.
bool as_real(PyObject* obj, const char* name, double& out) {
  out = PyFloat_AsDouble(obj);
  if (out == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    raise_conversion_error(name, obj, "float");
    return false;
  }
  return true;
}

PyObject* se3_exp(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"xi"};
  static const Signature sig{"SE3.exp", params, 1};
  PyObject* a[1];
  Vector6 xi;
  if (!parse_arguments(sig, args, nargs, kw, a) || !as_twist(a[0], "xi", xi)) return nullptr;
  return new_se3(SE3::exp(xi));
}

PyObject* se3_exp_jacobian(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"xi"};
  static const Signature sig{"SE3.exp_jacobian", params, 1};
  PyObject* a[1];
  Vector6 xi;
  if (!parse_arguments(sig, args, nargs, kw, a) || !as_twist(a[0], "xi", xi)) return nullptr;
  return new_matrix(SE3::exp_jacobian(xi));
}

PyObject* se3_interpolate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"a", "b", "t"};
  static const Signature sig{"SE3.interpolate", params, 3};
  PyObject* p[3];
  if (!parse_arguments(sig, args, nargs, kw, p)) return nullptr;
  const SE3* a = as_se3(p[0], "a");
  const SE3* b = a ? as_se3(p[1], "b") : nullptr;
  double t = 0.0;
  if (b == nullptr || !as_real(p[2], "t", t)) return nullptr;
  return new_se3(SE3::interpolate(*a, *b, t));
}

PyObject* se3_log(PyObject* self, PyObject*) {
  const SE3* me = as_se3(self, "self");
  return me ? new_vector(me->log()) : nullptr;
}

PyObject* se3_log_jacobian(PyObject* self, PyObject*) {
  const SE3* me = as_se3(self, "self");
  return me ? new_matrix(me->log_jacobian()) : nullptr;
}

PyMethodDef identity_def = {"identity", LUMO_NOARGS("SE3.identity", se3_identity),
                            "identity()\n--\n\nA new identity transform: R = I, t = 0."};
PyMethodDef static_defs[] = {
    {"exp", LUMO_FASTCALL(se3_exp), METH_FASTCALL | METH_KEYWORDS,
     "exp(xi)\n--\n\nThe transform reached from the identity moving with the twist xi = [linear; angular] "
     "(6, in its own frame) for unit time.\n\n"
     "xi: a contiguous float64 array of 6, [rho; phi] (m and rad per unit time); ValueError for another "
     "size. Returns a new SE3 (exp [phi]x, V(phi) rho), V the left Jacobian of SO(3). The inverse of "
     "`log`; see :ref:`conventions-se3`.\n\n"
     ">>> ld.SE3.exp(np.array([1.0, 0, 0, 0, 0, 0])).homogeneous[:3, 3]  # linear first\n"
     "array([1., 0., 0.])"},
    {"exp_jacobian", LUMO_FASTCALL(se3_exp_jacobian), METH_FASTCALL | METH_KEYWORDS,
     "exp_jacobian(xi)\n--\n\nThe right Jacobian of exp at xi (6x6): exp(xi + d) = exp(xi) * exp(J d) "
     "to first order.\n\n"
     "xi: a float64 array of 6, [linear; angular]. Returns a new 6x6 array, rows and columns "
     "[linear; angular]; the identity at xi = 0. See :ref:`conventions-se3`."},
    {"interpolate", LUMO_FASTCALL(se3_interpolate), METH_FASTCALL | METH_KEYWORDS,
     "interpolate(a, b, t)\n--\n\nThe transform a * exp(t * log(a^-1 * b)): a at t = 0, b at t = 1.\n\n"
     "a, b: SE3; t: a float (any real, extrapolating outside [0, 1]). Returns a new SE3 on the "
     "constant-twist path from a to b, the twist taken in a's moving frame (:ref:`conventions-se3`)."},
};

PyMethodDef methods[] = {
    {"compose", LUMO_FASTCALL(se3_compose),
     METH_FASTCALL | METH_KEYWORDS,
     "compose($self, other)\n--\n\nThe product self * other, a new SE3: R = R1 R2, t = R1 t2 + t1.\n\n"
     "With self = aMb and other = bMc the result is aMc: first other's motion, then self's "
     "(:ref:`conventions-se3`). TypeError if other is not an SE3."},
    {"inverse", LUMO_NOARGS("SE3.inverse", se3_inverse),
     "inverse($self)\n--\n\nThe inverse transform, a new SE3 (R^T, -R^T t): aMb.inverse() is bMa. "
     "Exact only for an orthonormal R (:ref:`conventions-se3`)."},
    {"to_homogeneous", LUMO_NOARGS("SE3.to_homogeneous", se3_to_homogeneous),
     "to_homogeneous($self)\n--\n\nThe 4x4 homogeneous matrix, a new float64 array: rows 0-2 are "
     "[R[i, 0], R[i, 1], R[i, 2], t[i]], row 3 is [0, 0, 0, 1]. Applied to [x; 1] it maps a point x "
     "of the child frame into the parent (:ref:`conventions-se3`)."},
    {"log", LUMO_NOARGS("SE3.log", se3_log),
     "log($self)\n--\n\nThe twist xi = [linear; angular] (a new array of 6) with exp(xi) equal to this "
     "transform; rotation angle in [0, pi].\n\n"
     "The angular part phi is the rotation vector of R; the linear part rho = V(phi)^-1 t "
     "(:ref:`conventions-se3`)."},
    {"log_jacobian", LUMO_NOARGS("SE3.log_jacobian", se3_log_jacobian),
     "log_jacobian($self)\n--\n\nd log(T * exp(d)) / dd at d = 0 (a new 6x6 array), the inverse of "
     "exp_jacobian(T.log()).\n\nRows and columns [linear; angular]; d is a twist in T's own frame "
     "(:ref:`conventions-se3`)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"homogeneous", se3_homogeneous, nullptr,
     "Get homogeneous matrix as a property (alias for to_homogeneous)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void bind_se3(nb::module_& m) {
  nb::class_<SE3> cls(m, "SE3", "SE3(rotation, translation)\n--\n\n", nb::type_slots(slots));
  cls.def("__repr__", [](const SE3&) { return "SE3(rotation=..., translation=...)"; });
  // Pickled and copied as SE3(rotation, translation), exact to the bit.
  cls.def("__reduce__", [](const SE3& M) {
    nb::object R = nb::steal(new_matrix(M.rotation)), t = nb::steal(new_vector(M.translation));
    if (!R.is_valid() || !t.is_valid()) throw nb::python_error();
    return nb::make_tuple(nb::type<SE3>(), nb::make_tuple(R, t));
  });
  state.se3 = reinterpret_cast<PyTypeObject*>(cls.ptr());
  add_static_method(state.se3, &identity_def);
  for (PyMethodDef& def : static_defs) add_static_method(state.se3, &def);
  add_methods(state.se3, methods);
  add_properties(state.se3, properties);
}

}  // namespace lumo::python

// Argument conversion shared by every function and method of the module:
// the argument parser, checks of objects, indexes, text and NumPy arrays
// with the module's error messages, new result arrays, and the mapping of
// C++ exceptions to Python ones. Each conversion returns false or nullptr
// with the Python error set.
#pragma once

#define PY_ARRAY_UNIQUE_SYMBOL lumo_ARRAY_API
#ifndef LUMO_IMPORT_NUMPY
#define NO_IMPORT_ARRAY
#endif

#include <nanobind/nanobind.h>
#include <numpy/arrayobject.h>

#include <Eigen/Core>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "algorithms/constraints.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/reference_frame.hpp"
#include "algorithms/spatial/spatial.hpp"
#include "data/data.hpp"
#include "model/model.hpp"

namespace lumo::python {

namespace nb = nanobind;

// Value held by a Python ReferenceFrame object.
struct ReferenceFrameValue {
  ReferenceFrame value = ReferenceFrame::WORLD;
};

// Value held by a Python ConstraintSet: the set and the record of the model
// it was made for (save_model), which its pickle carries so that unpickling
// checks the constraints against that model again.
struct ConstraintSetValue {
  ConstraintSet set;
  std::string model_record;
};

// Type objects of the module's classes and its internal-failure exception,
// set once while the module initialises.
struct ModuleState {
  PyTypeObject* se3 = nullptr;
  PyTypeObject* model = nullptr;
  PyTypeObject* data = nullptr;
  PyTypeObject* reference_frame = nullptr;
  PyTypeObject* rigid_constraint = nullptr;
  PyTypeObject* joint_coupling = nullptr;
  PyTypeObject* constraint_set = nullptr;
  PyTypeObject* solution = nullptr;  // InverseKinematicsResult
  PyObject* panic_exception = nullptr;
};
extern ModuleState state;

// Creates the PanicException class (derived from BaseException).
PyObject* make_panic_exception();

// ------------------------------------------------------------ argument parser

// A function's name (as shown in errors) and its parameter names: `count`
// required ones, which may be given by position, then `keyword_only`
// optional ones that may only be given by keyword; `optional` of the
// `count` are optional ones that may also be given by position (the last).
struct Signature {
  const char* name;
  const char* const* params;
  Py_ssize_t count;
  Py_ssize_t keyword_only = 0;
  Py_ssize_t optional = 0;
};

// Sorts vectorcall arguments into out[0 .. count + keyword_only) by
// parameter, raising TypeError in the interpreter's words for a wrong count,
// an unknown keyword or an argument given twice; an optional parameter not
// given is nullptr.
bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames, PyObject** out);

// The same for a tuple of positional arguments and a dictionary of
// keyword arguments (tp_init).
bool parse_init_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Stores `value` in a new instance (tp_init), or replaces the value of an
// instance whose __init__ runs again. Returns 0 as tp_init does.
template <typename T>
int emplace(PyObject* self, T&& value) {
  using V = std::decay_t<T>;
  V* storage = nanobind::inst_ptr<V>(self);
  if (nanobind::inst_ready(self)) {
    *storage = std::forward<T>(value);
  } else {
    new (storage) V(std::forward<T>(value));
    nanobind::inst_mark_ready(self);
  }
  return 0;
}

// -------------------------------------------------------------- conversions

// New reference to the qualified name of obj's type (its __qualname__; the
// type's tp_name when a metaclass makes that anything but a str), or nullptr
// with the Python error set. For error messages; the C-API's
// PyType_GetQualName is 3.11 and later.
PyObject* type_qualname(PyObject* obj);

// TypeError "argument '{name}': '{type}' object cannot be converted to '{target}'".
void raise_conversion_error(const char* name, PyObject* obj, const char* target);

// Inlined into every caller: these are on each call's path.
template <typename T>
[[gnu::always_inline]] inline T* instance_of(PyObject* obj, PyTypeObject* type, const char* name,
                                             const char* target) {
  if (Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type)) {
    if (nb::inst_ready(obj)) return nb::inst_ptr<T>(obj);
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object is not initialised", name, target);
    return nullptr;
  }
  raise_conversion_error(name, obj, target);
  return nullptr;
}

[[gnu::always_inline]] inline Model* as_model(PyObject* obj, const char* name = "model") {
  return instance_of<Model>(obj, state.model, name, "Model");
}
[[gnu::always_inline]] inline Data* as_data(PyObject* obj, const char* name = "data") {
  return instance_of<Data>(obj, state.data, name, "Data");
}
inline SE3* as_se3(PyObject* obj, const char* name) {
  return instance_of<SE3>(obj, state.se3, name, "SE3");
}
bool as_reference_frame(PyObject* obj, const char* name, ReferenceFrame& out);
inline const ConstraintSet* as_constraint_set(PyObject* obj, const char* name) {
  const auto* value = instance_of<ConstraintSetValue>(obj, state.constraint_set, name, "ConstraintSet");
  return value ? &value->set : nullptr;
}

// A non-negative integer up to 2^64 − 1 (OverflowError for negative ones).
bool as_index_general(PyObject* obj, const char* name, std::size_t& out);
inline bool as_index(PyObject* obj, const char* name, std::size_t& out) {
  if (PyLong_CheckExact(obj)) {  // what the index protocol would give: obj itself
    const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::size_t>(v);
    return true;
  }
  return as_index_general(obj, name, out);
}

// A str, as UTF-8 (valid while obj lives).
bool as_text(PyObject* obj, const char* name, std::string_view& out);

// NumPy is loaded on first use; PanicException when it cannot be.
bool numpy_ready();

// Type check of a vector argument: a one-dimensional native float64 array.
bool is_vector_general(PyObject* obj, const char* name);
// An exact ndarray of ndim dimensions, float64 in native byte order.
inline bool is_exact_float64_array(PyObject* obj, int ndim) {
  if (PyArray_API == nullptr || Py_TYPE(obj) != &PyArray_Type) return false;
  auto* arr = reinterpret_cast<PyArrayObject*>(obj);
  return PyArray_NDIM(arr) == ndim && PyArray_TYPE(arr) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(arr);
}
inline bool is_vector(PyObject* obj, const char* name) {
  return is_exact_float64_array(obj, 1) || is_vector_general(obj, name);
}

// The elements of a checked vector argument; TypeError "The given array is
// not contiguous" otherwise. Reads in place; copies only a misaligned array.
// (ptr and size are set by vector_view; only the copy's owner starts empty,
// so that a call's arguments cost no clearing.)
struct VectorArg {
  const double* ptr;
  Py_ssize_t size;
  std::unique_ptr<double[]> copy;
  Eigen::Map<const Eigen::VectorXd> map() const { return {ptr, size}; }
};
bool vector_view_general(PyObject* obj, VectorArg& out);
inline bool vector_view(PyObject* obj, VectorArg& out) {
  auto* arr = reinterpret_cast<PyArrayObject*>(obj);
  if (PyArray_CHKFLAGS(arr, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED)) {
    out.ptr = static_cast<const double*>(PyArray_DATA(arr));
    out.size = PyArray_DIM(arr, 0);
    return true;
  }
  return vector_view_general(obj, out);
}

// Type check of a matrix argument: a two-dimensional native float64 array.
bool is_matrix(PyObject* obj, const char* name);

// ------------------------------------------------------------ new results

PyObject* raise_current_exception();

PyObject* new_vector(const double* values, Py_ssize_t n);
inline PyObject* new_vector(const Eigen::Ref<const Eigen::VectorXd>& x) {
  return new_vector(x.data(), x.size());
}
// A new C-ordered (rows, cols) array: entry [i, j] is m(i, j).
PyObject* new_matrix(const Eigen::Ref<const Eigen::MatrixXd>& m);
// The same for a square symmetric matrix, whose column-major storage is its
// C-ordered one: one memory copy.
PyObject* new_symmetric_matrix(const Eigen::MatrixXd& m);
// A new C-ordered (n, n) array of the symmetric matrix whose upper triangle
// and diagonal are those of the square m (m's strict lower part is not read).
PyObject* new_symmetric_from_upper(const Eigen::Ref<const Eigen::MatrixXd>& m);
PyObject* new_se3(const SE3& value);

// A new uninitialised C-ordered float64 array of the given dimensions.
PyObject* new_float64_array(int ndim, npy_intp* dims);

// A new uninitialised float64 vector of n elements and its storage.
PyObject* new_vector_storage(Py_ssize_t n, double*& storage);

// A new vector of n elements written by fill(Map); C++ exceptions become
// Python ones and the array is dropped.
template <typename F>
PyObject* fill_new_vector(Py_ssize_t n, F&& fill) noexcept {
  double* storage = nullptr;
  PyObject* out = new_vector_storage(n, storage);
  if (out == nullptr) return nullptr;
  try {
    fill(Eigen::Map<Eigen::VectorXd>(storage, n));
  } catch (...) {
    Py_DECREF(out);
    return raise_current_exception();
  }
  return out;
}

// A new C-ordered (6, cols) array written by fill(view), where the view is
// a column-major 6×cols matrix over the array's storage.
template <typename F>
PyObject* fill_new_matrix6(Py_ssize_t cols, F&& fill) noexcept {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2] = {6, cols};
  PyObject* out = new_float64_array(2, dims);
  if (out == nullptr) return nullptr;
  using View = Eigen::Map<Eigen::Matrix<double, 6, Eigen::Dynamic>, 0,
                          Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;
  auto* storage = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out)));
  try {
    fill(View(storage, 6, cols, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>(1, cols > 0 ? cols : 1)));
  } catch (...) {
    Py_DECREF(out);
    return raise_current_exception();
  }
  return out;
}

// ------------------------------------------------------------------ errors

// Sets the Python exception for the C++ exception in flight; returns nullptr.
PyObject* raise_current_exception();
void set_python_error(const std::exception_ptr& error);

// Runs f, turning any C++ exception into the module's Python exception.
template <typename F>
PyObject* guarded(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return raise_current_exception();
  }
}

PyObject* raise_value_error(const std::string& message);

// Writes text to the process's standard output (not sys.stdout).
bool write_stdout(const std::string& text);

// sys.stdout.flush(), when there is a sys.stdout; an error in it is dropped.
void flush_python_stdout();

// A METH_FASTCALL | METH_KEYWORDS function as a PyMethodDef entry.
#define LUMO_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

// A parameterless method body fn(self, nullptr), registered like every other
// function so that extra arguments or keywords raise the same TypeErrors:
// "Model.createData() takes 0 positional arguments but 1 was given".
#define LUMO_NOARGS(qualname, fn)                                                         \
  LUMO_FASTCALL((+[](PyObject* self, PyObject* const* args, Py_ssize_t nargs,             \
                     PyObject* kw) -> PyObject* {                                         \
    static const ::lumo::python::Signature sig{qualname, nullptr, 0};                     \
    if (!::lumo::python::parse_arguments(sig, args, nargs, kw, nullptr)) return nullptr;  \
    return fn(self, nullptr);                                                             \
  })),                                                                                    \
      METH_FASTCALL | METH_KEYWORDS

// Registers raw methods, properties and static methods on a class so that
// each carries its text signature like a built-in.
void add_methods(PyTypeObject* type, PyMethodDef* methods);
void add_properties(PyTypeObject* type, PyGetSetDef* properties);
void add_static_method(PyTypeObject* type, PyMethodDef* method);

}  // namespace lumo::python

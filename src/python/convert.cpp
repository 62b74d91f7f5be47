#define LUMO_IMPORT_NUMPY
#include "convert.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "algorithms/errors/errors.hpp"
#include "copy_kernels.hpp"

namespace lumo::python {

ModuleState state;

PyObject* make_panic_exception() {
  return PyErr_NewExceptionWithDoc(
      "pyo3_runtime.PanicException",
      "The exception raised when the module's own code fails internally.\n\n"
      "Like SystemExit, this exception is derived from BaseException so that it will\n"
      "typically propagate all the way through the stack and cause the Python\n"
      "interpreter to exit.",
      PyExc_BaseException, nullptr);
}

// ------------------------------------------------------------ argument parser

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter lists names.
std::string name_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) out += names.size() > 2 ? ", " : " ";
    if (k > 0 && k + 1 == names.size()) out += "and ";
    out += "'";
    out += names[k];
    out += "'";
  }
  return out;
}

}  // namespace

bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames, PyObject** out) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (kwnames == nullptr && nargs == sig.count) {
    for (Py_ssize_t k = 0; k < nargs; ++k) out[k] = args[k];
    for (Py_ssize_t k = 0; k < sig.keyword_only; ++k) out[nargs + k] = nullptr;
    return true;
  }
  if (nargs > sig.count) {
    if (sig.optional > 0)
      PyErr_Format(PyExc_TypeError, "%s() takes from %zd to %zd positional arguments but %zd %s given",
                   sig.name, sig.count - sig.optional, sig.count, nargs, nargs == 1 ? "was" : "were");
    else
      PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given",
                   sig.name, sig.count, sig.count == 1 ? "" : "s", nargs,
                   nargs == 1 ? "was" : "were");
    return false;
  }
  const Py_ssize_t nparams = sig.count + sig.keyword_only;
  for (Py_ssize_t k = 0; k < nparams; ++k) out[k] = k < nargs ? args[k] : nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t slot = -1;
    for (Py_ssize_t p = 0; p < nparams; ++p) {
      if (PyUnicode_CompareWithASCIIString(key, sig.params[p]) == 0) {
        slot = p;
        break;
      }
    }
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
      return false;
    }
    if (out[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name,
                   sig.params[slot]);
      return false;
    }
    out[slot] = args[nargs + k];
  }
  std::vector<const char*> missing;
  for (Py_ssize_t p = 0; p < sig.count - sig.optional; ++p)
    if (out[p] == nullptr) missing.push_back(sig.params[p]);
  if (!missing.empty()) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 sig.name, missing.size(), missing.size() == 1 ? "" : "s",
                 name_list(missing).c_str());
    return false;
  }
  return true;
}

bool parse_init_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  std::vector<PyObject*> values(static_cast<std::size_t>(nargs + nkw));
  for (Py_ssize_t k = 0; k < nargs; ++k) values[static_cast<std::size_t>(k)] = PyTuple_GET_ITEM(args, k);
  if (nkw == 0) return parse_arguments(sig, values.data(), nargs, nullptr, out);
  PyObject* kwnames = PyTuple_New(nkw);
  if (kwnames == nullptr) return false;
  Py_ssize_t pos = 0, k = 0;
  PyObject *key, *value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    Py_INCREF(key);
    PyTuple_SET_ITEM(kwnames, k, key);
    values[static_cast<std::size_t>(nargs + k)] = value;
    ++k;
  }
  const bool ok = parse_arguments(sig, values.data(), nargs, kwnames, out);
  Py_DECREF(kwnames);
  return ok;
}

// -------------------------------------------------------------- conversions

PyObject* type_qualname(PyObject* obj) {
  PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__");
  if (name == nullptr || PyUnicode_Check(name)) return name;
  // A metaclass made it something else: the name the type was created with.
  Py_DECREF(name);
  return PyUnicode_FromString(Py_TYPE(obj)->tp_name);
}

void raise_conversion_error(const char* name, PyObject* obj, const char* target) {
  PyObject* type_name = type_qualname(obj);
  if (type_name == nullptr) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", name,
               type_name, target);
  Py_DECREF(type_name);
}

bool as_reference_frame(PyObject* obj, const char* name, ReferenceFrame& out) {
  auto* rf = instance_of<ReferenceFrameValue>(obj, state.reference_frame, name, "ReferenceFrame");
  if (rf == nullptr) return false;
  out = rf->value;
  return true;
}

bool as_index_general(PyObject* obj, const char* name, std::size_t& out) {
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyObject *type, *value, *trace;
      PyErr_Fetch(&type, &value, &trace);
      PyErr_NormalizeException(&type, &value, &trace);
      PyErr_Format(PyExc_TypeError, "argument '%s': %S", name, value);
      Py_XDECREF(type);
      Py_XDECREF(value);
      Py_XDECREF(trace);
    }
    return false;
  }
  const unsigned long long v = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<std::size_t>(v);
  return true;
}

bool as_text(PyObject* obj, const char* name, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    raise_conversion_error(name, obj, "PyString");
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
  if (text == nullptr) return false;
  out = std::string_view(text, static_cast<std::size_t>(size));
  return true;
}

bool numpy_ready() {
  if (PyArray_API != nullptr) return true;
  if (_import_array() < 0) {
    PyErr_Clear();
    PyErr_SetString(state.panic_exception, "Failed to access NumPy array API capsule");
    return false;
  }
  return true;
}

namespace {

bool is_float64_array(PyObject* obj, int ndim) {
  if (!PyArray_Check(obj)) return false;
  auto* arr = reinterpret_cast<PyArrayObject*>(obj);
  return PyArray_NDIM(arr) == ndim && PyArray_TYPE(arr) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(arr);
}

}  // namespace

bool is_vector_general(PyObject* obj, const char* name) {
  if (!numpy_ready()) return false;
  if (is_float64_array(obj, 1)) return true;
  raise_conversion_error(name, obj, "PyArray<T, D>");
  return false;
}

bool is_matrix(PyObject* obj, const char* name) {
  if (!numpy_ready()) return false;
  if (is_float64_array(obj, 2)) return true;
  raise_conversion_error(name, obj, "PyArray<T, D>");
  return false;
}

bool vector_view_general(PyObject* obj, VectorArg& out) {
  auto* arr = reinterpret_cast<PyArrayObject*>(obj);
  if (!PyArray_IS_C_CONTIGUOUS(arr) && !PyArray_IS_F_CONTIGUOUS(arr)) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
    return false;
  }
  out.size = PyArray_SIZE(arr);
  if (PyArray_ISALIGNED(arr) || out.size == 0) {
    out.ptr = static_cast<const double*>(PyArray_DATA(arr));
  } else {
    out.copy.reset(new (std::nothrow) double[static_cast<std::size_t>(out.size)]);
    if (!out.copy) {
      PyErr_NoMemory();
      return false;
    }
    std::memcpy(out.copy.get(), PyArray_DATA(arr), sizeof(double) * static_cast<std::size_t>(out.size));
    out.ptr = out.copy.get();
  }
  return true;
}

// ------------------------------------------------------------ new results

PyObject* new_float64_array(int ndim, npy_intp* dims) {
  // The float64 descriptor is a static object of NumPy's: one reference
  // per new array, which the array takes.
  static PyArray_Descr* const float64 = PyArray_DescrFromType(NPY_DOUBLE);
  Py_INCREF(float64);
  return PyArray_NewFromDescr(&PyArray_Type, float64, ndim, dims, nullptr, nullptr, 0, nullptr);
}

PyObject* new_vector(const double* values, Py_ssize_t n) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[1] = {n};
  PyObject* arr = new_float64_array(1, dims);
  if (arr != nullptr && n > 0)
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), values,
                sizeof(double) * static_cast<std::size_t>(n));
  return arr;
}

PyObject* new_vector_storage(Py_ssize_t n, double*& storage) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[1] = {n};
  PyObject* arr = new_float64_array(1, dims);
  if (arr != nullptr) storage = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)));
  return arr;
}

namespace {

double* array_storage(PyObject* arr) {
  return static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)));
}

}  // namespace

PyObject* new_matrix(const Eigen::Ref<const Eigen::MatrixXd>& m) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2] = {m.rows(), m.cols()};
  PyObject* arr = new_float64_array(2, dims);
  if (arr != nullptr && m.size() > 0)
    transpose_copy(m.data(), m.outerStride(), m.rows(), m.cols(), array_storage(arr), m.cols());
  return arr;
}

PyObject* new_symmetric_from_upper(const Eigen::Ref<const Eigen::MatrixXd>& m) {
  if (!numpy_ready()) return nullptr;
  const Eigen::Index n = m.rows();
  npy_intp dims[2] = {n, n};
  PyObject* arr = new_float64_array(2, dims);
  if (arr != nullptr && n > 0) symmetric_copy(m.data(), m.outerStride(), n, array_storage(arr));
  return arr;
}

PyObject* new_symmetric_matrix(const Eigen::MatrixXd& m) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2] = {m.rows(), m.cols()};
  PyObject* arr = new_float64_array(2, dims);
  if (arr != nullptr && m.size() > 0)
    std::memcpy(array_storage(arr), m.data(), sizeof(double) * static_cast<std::size_t>(m.size()));
  return arr;
}

PyObject* new_se3(const SE3& value) {
  return guarded([&] { return nb::cast(value).release().ptr(); });
}

// ------------------------------------------------------------------ errors

namespace {

// A RuntimeError with the reader's own reason, when there is one, as its __cause__.
void set_runtime_error(const char* message, const std::exception_ptr& reason) {
  PyErr_SetString(PyExc_RuntimeError, message);
  if (!reason) return;
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);
  PyErr_NormalizeException(&type, &value, &trace);
  set_python_error(reason);
  PyObject *ctype, *cause, *ctrace;
  PyErr_Fetch(&ctype, &cause, &ctrace);
  PyErr_NormalizeException(&ctype, &cause, &ctrace);
  if (cause != nullptr) {
    if (ctrace != nullptr) PyException_SetTraceback(cause, ctrace);
    PyException_SetCause(value, cause);  // steals cause
  }
  Py_XDECREF(ctype);
  Py_XDECREF(ctrace);
  PyErr_Restore(type, value, trace);
}

}  // namespace

void set_python_error(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (nb::python_error& e) {
    e.restore();
  } catch (const ValueError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const IndexError& e) {
    PyErr_SetString(PyExc_IndexError, e.what());
  } catch (const UrdfError& e) {
    set_runtime_error(e.what(), e.cause());
  } catch (const MjcfError& e) {
    set_runtime_error(e.what(), e.cause());
  } catch (const std::bad_alloc&) {
    PyErr_SetString(PyExc_MemoryError, "out of memory: an allocation of the library failed");
  } catch (const std::exception& e) {
    PyErr_SetString(state.panic_exception, e.what());
  } catch (...) {
    PyErr_SetString(state.panic_exception, "unknown internal failure");
  }
}

PyObject* raise_current_exception() {
  set_python_error(std::current_exception());
  return nullptr;
}

PyObject* raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return nullptr;
}

void flush_python_stdout() {
  PyObject* out = PySys_GetObject("stdout");
  if (out != nullptr && out != Py_None) {
    PyObject* r = PyObject_CallMethod(out, "flush", nullptr);
    if (r == nullptr) PyErr_Clear();
    Py_XDECREF(r);
  }
}

bool write_stdout(const std::string& text) {
  flush_python_stdout();  // keep the order of earlier Python output
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    PyErr_SetString(state.panic_exception, "failed printing to stdout");
    return false;
  }
  return true;
}

// ------------------------------------------------------------- registration

void add_methods(PyTypeObject* type, PyMethodDef* methods) {
  for (PyMethodDef* m = methods; m->ml_name != nullptr; ++m) {
    PyObject* descr = PyDescr_NewMethod(type, m);
    if (descr == nullptr || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), m->ml_name,
                                                   descr) < 0) {
      Py_XDECREF(descr);
      throw nb::python_error();
    }
    Py_DECREF(descr);
  }
}

void add_properties(PyTypeObject* type, PyGetSetDef* properties) {
  for (PyGetSetDef* p = properties; p->name != nullptr; ++p) {
    PyObject* descr = PyDescr_NewGetSet(type, p);
    if (descr == nullptr ||
        PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), p->name, descr) < 0) {
      Py_XDECREF(descr);
      throw nb::python_error();
    }
    Py_DECREF(descr);
  }
}

void add_static_method(PyTypeObject* type, PyMethodDef* method) {
  PyObject* module_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
  PyObject* fn = module_name ? PyCFunction_NewEx(method, nullptr, module_name) : nullptr;
  PyObject* sm = fn ? PyStaticMethod_New(fn) : nullptr;
  const bool ok =
      sm && PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), method->ml_name, sm) == 0;
  Py_XDECREF(sm);
  Py_XDECREF(fn);
  Py_XDECREF(module_name);
  if (!ok) throw nb::python_error();
}

}  // namespace lumo::python

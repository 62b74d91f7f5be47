#define LUMO_IMPORT_NUMPY
#include "convert.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "algorithms/errors/errors.hpp"

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
    return true;
  }
  if (nargs > sig.count) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given",
                 sig.name, sig.count, sig.count == 1 ? "" : "s", nargs,
                 nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t k = 0; k < sig.count; ++k) out[k] = k < nargs ? args[k] : nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t slot = -1;
    for (Py_ssize_t p = 0; p < sig.count; ++p) {
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
  for (Py_ssize_t p = 0; p < sig.count; ++p)
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

void raise_conversion_error(const char* name, PyObject* obj, const char* target) {
  PyObject* type_name = PyType_GetQualName(Py_TYPE(obj));
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

using Index = Eigen::Index;

// The copies below write a column-major matrix `in` (leading dimension ld)
// into the C-ordered storage `out` of a new array, in square tiles: a tile
// is read down its columns and written along its rows, so that every element
// is read once and written once, with no per-element call. Tiles are 4×4
// where the CPU has 256-bit vectors (chosen once, at run time, unless
// LUMO_BASELINE=1), 2×2 with the baseline's 128-bit ones.

// out[i·ldo + j] = in[j·ld + i] for i in [i0, rows), j in [0, cols), and for
// i in [0, i0), j in [j0, cols): the edges the tiles left.
void transpose_edges(const double* in, Index ld, Index rows, Index cols, double* out, Index ldo,
                     Index i0, Index j0) {
  for (Index i = 0; i < i0; ++i)
    for (Index j = j0; j < cols; ++j) out[i * ldo + j] = in[j * ld + i];
  for (Index i = i0; i < rows; ++i)
    for (Index j = 0; j < cols; ++j) out[i * ldo + j] = in[j * ld + i];
}

// Entry (i, j) of the symmetric matrix whose upper triangle (with the
// diagonal) is that of the column-major in.
inline double upper_entry(const double* in, Index ld, Index i, Index j) {
  return i <= j ? in[j * ld + i] : in[i * ld + j];
}

// The full symmetric n×n matrix into out (C-ordered) for the entries outside
// the tiles [0, t)²: rows and columns from t on.
void symmetric_edges(const double* in, Index ld, Index n, double* out, Index t) {
  for (Index i = 0; i < n; ++i)
    for (Index j = i < t ? t : 0; j < n; ++j) out[i * n + j] = upper_entry(in, ld, i, j);
}

// A diagonal tile [i0, i0 + b)² of the symmetric matrix, entry by entry (its
// strict lower part is not stored).
void symmetric_diagonal_tile(const double* in, Index ld, Index n, double* out, Index i0, Index b) {
  for (Index i = i0; i < i0 + b; ++i)
    for (Index j = i0; j < i0 + b; ++j) out[i * n + j] = upper_entry(in, ld, i, j);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMO_TILES_256 1

// Tile [i, i+4) × [j, j+4): rows r[h] = in(i + h, j .. j+4) from the columns
// c[k] = in(i .. i+4, j + k).
__attribute__((target("avx"))) inline void tile4(const double* in, Index ld, __m256d r[4]) {
  const __m256d c0 = _mm256_loadu_pd(in), c1 = _mm256_loadu_pd(in + ld);
  const __m256d c2 = _mm256_loadu_pd(in + 2 * ld), c3 = _mm256_loadu_pd(in + 3 * ld);
  const __m256d t0 = _mm256_unpacklo_pd(c0, c1), t1 = _mm256_unpackhi_pd(c0, c1);
  const __m256d t2 = _mm256_unpacklo_pd(c2, c3), t3 = _mm256_unpackhi_pd(c2, c3);
  r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Tiles start at 0, 4, 8, … and, when the size is not a multiple of 4, a
// last one at size − 4 overlaps the one before: the overlap is written twice
// with the same values, and no element is left to copy one by one.
inline Index last_tile(Index size) { return size - 4; }

__attribute__((target("avx"))) void transpose_avx(const double* in, Index ld, Index rows,
                                                  Index cols, double* out, Index ldo) {
  for (Index i = 0;; i = std::min(i + 4, last_tile(rows))) {
    for (Index j = 0;; j = std::min(j + 4, last_tile(cols))) {
      __m256d r[4];
      tile4(in + j * ld + i, ld, r);
      for (int h = 0; h < 4; ++h) _mm256_storeu_pd(out + (i + h) * ldo + j, r[h]);
      if (j == last_tile(cols)) break;
    }
    if (i == last_tile(rows)) break;
  }
}

// Diagonal tile [p, p+4)²: row h is the transposed column h of the tile on
// and above the diagonal (k ≥ h) and the stored column h before it (k < h):
// M(p + h, p + k) = M(p + k, p + h) read down column p + h.
__attribute__((target("avx"))) inline void symmetric_diagonal_avx(const double* in, Index ld,
                                                                  Index n, double* out, Index p) {
  const double* tile = in + p * ld + p;
  __m256d r[4];
  tile4(tile, ld, r);
  double* o = out + p * n + p;
  _mm256_storeu_pd(o, r[0]);
  _mm256_storeu_pd(o + n, _mm256_blend_pd(r[1], _mm256_loadu_pd(tile + ld), 0x1));
  _mm256_storeu_pd(o + 2 * n, _mm256_blend_pd(r[2], _mm256_loadu_pd(tile + 2 * ld), 0x3));
  _mm256_storeu_pd(o + 3 * n, _mm256_blend_pd(r[3], _mm256_loadu_pd(tile + 3 * ld), 0x7));
}

// Off the diagonal, tile (i, j) with i + 4 ≤ j is read once from the upper
// triangle and written twice: as it is along out's rows j.. (the mirror,
// in(i.., j + k) = M(j + k, i..)) and transposed along rows i...
__attribute__((target("avx"))) void symmetric_avx(const double* in, Index ld, Index n,
                                                  double* out) {
  for (Index j = 0;; j = std::min(j + 4, last_tile(n))) {
    for (Index i = 0; i + 4 <= j; i += 4) {
      const double* tile = in + j * ld + i;
      for (int k = 0; k < 4; ++k)
        _mm256_storeu_pd(out + (j + k) * n + i, _mm256_loadu_pd(tile + k * ld));
      __m256d r[4];
      tile4(tile, ld, r);
      for (int h = 0; h < 4; ++h) _mm256_storeu_pd(out + (i + h) * n + j, r[h]);
    }
    symmetric_diagonal_avx(in, ld, n, out, j);
    if (j == last_tile(n)) break;
  }
  // With an overlapping last tile at n − 4, the rows [t − 4, n − 4) of the
  // columns [t, n) (t = n rounded down to 4) lie in no tile.
  const Index t = n & ~Index{3};
  if (t == n) return;
  for (Index i = t - 4; i < n - 4; ++i)
    for (Index j = t; j < n; ++j) out[i * n + j] = out[j * n + i] = in[j * ld + i];
}

// LUMO_BASELINE=1 in the environment keeps the baseline copies on any CPU.
bool has_avx() {
  static const bool yes = [] {
    const char* baseline = std::getenv("LUMO_BASELINE");
    return __builtin_cpu_supports("avx") && !(baseline != nullptr && std::strcmp(baseline, "1") == 0);
  }();
  return yes;
}
#endif

#if defined(__SSE2__)
// Tile [i, i+2) × [j, j+2) from the columns a = in(i .., j), b = in(i .., j + 1).
inline void tile2(const double* in, Index ld, __m128d& r0, __m128d& r1) {
  const __m128d a = _mm_loadu_pd(in), b = _mm_loadu_pd(in + ld);
  r0 = _mm_unpacklo_pd(a, b);
  r1 = _mm_unpackhi_pd(a, b);
}
#endif

void transpose_baseline(const double* in, Index ld, Index rows, Index cols, double* out,
                        Index ldo) {
#if defined(__SSE2__)
  const Index i0 = rows & ~Index{1}, j0 = cols & ~Index{1};
  for (Index i = 0; i < i0; i += 2)
    for (Index j = 0; j < j0; j += 2) {
      __m128d r0, r1;
      tile2(in + j * ld + i, ld, r0, r1);
      _mm_storeu_pd(out + i * ldo + j, r0);
      _mm_storeu_pd(out + (i + 1) * ldo + j, r1);
    }
  transpose_edges(in, ld, rows, cols, out, ldo, i0, j0);
#else
  transpose_edges(in, ld, rows, cols, out, ldo, 0, 0);
#endif
}

void symmetric_baseline(const double* in, Index ld, Index n, double* out) {
#if defined(__SSE2__)
  const Index t = n & ~Index{1};
  for (Index j = 0; j < t; j += 2) {
    for (Index i = 0; i < j; i += 2) {
      const double* tile = in + j * ld + i;
      _mm_storeu_pd(out + j * n + i, _mm_loadu_pd(tile));
      _mm_storeu_pd(out + (j + 1) * n + i, _mm_loadu_pd(tile + ld));
      __m128d r0, r1;
      tile2(tile, ld, r0, r1);
      _mm_storeu_pd(out + i * n + j, r0);
      _mm_storeu_pd(out + (i + 1) * n + j, r1);
    }
    symmetric_diagonal_tile(in, ld, n, out, j, 2);
  }
  symmetric_edges(in, ld, n, out, t);
#else
  symmetric_edges(in, ld, n, out, 0);
#endif
}

// out[i·ldo + j] = in[j·ld + i] for i < rows, j < cols.
void transpose_copy(const double* in, Index ld, Index rows, Index cols, double* out, Index ldo) {
#ifdef LUMO_TILES_256
  if (rows >= 4 && cols >= 4 && has_avx()) return transpose_avx(in, ld, rows, cols, out, ldo);
#endif
  transpose_baseline(in, ld, rows, cols, out, ldo);
}

// out[i·n + j] = M(i, j) of the symmetric M whose upper triangle is in's.
void symmetric_copy(const double* in, Index ld, Index n, double* out) {
#ifdef LUMO_TILES_256
  if (n >= 4 && has_avx()) return symmetric_avx(in, ld, n, out);
#endif
  symmetric_baseline(in, ld, n, out);
}

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
  const Index n = m.rows();
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
    PyErr_SetString(PyExc_RuntimeError, e.what());
    if (e.cause()) {
      // Keep the reader's own reason as the exception's __cause__.
      PyObject *type, *value, *trace;
      PyErr_Fetch(&type, &value, &trace);
      PyErr_NormalizeException(&type, &value, &trace);
      set_python_error(e.cause());
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

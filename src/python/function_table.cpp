#include "function_table.hpp"

#include <nanobind/stl/string.h>

#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "model/model_operations.hpp"

namespace lumo::python {
namespace {

// `format` with {len} and {n} replaced by the two sizes.
std::string mismatch_message(std::string_view format, Py_ssize_t len, std::size_t n) {
  std::string out;
  for (std::size_t k = 0; k < format.size();) {
    if (format.compare(k, 5, "{len}") == 0) {
      out += std::to_string(len);
      k += 5;
    } else if (format.compare(k, 3, "{n}") == 0) {
      out += std::to_string(n);
      k += 3;
    } else {
      out += format[k++];
    }
  }
  return out;
}

// Docstrings live as long as the module's tables.
const char* keep(std::string text) {
  static std::deque<std::string> texts;
  return texts.emplace_back(std::move(text)).c_str();
}

// A parameter's default as Python writes it: "None", "1e-10", "0.0", "200", "True".
std::string default_text(const Param& p) {
  switch (p.kind) {
    case Kind::real: {
      char* repr = PyOS_double_to_string(p.fallback, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
      if (repr == nullptr) throw std::bad_alloc();
      std::string text = repr;
      PyMem_Free(repr);
      return text;
    }
    case Kind::count: return std::to_string(static_cast<long long>(p.fallback));
    case Kind::flag: return p.fallback != 0 ? "True" : "False";
    case Kind::text: return cat("'", p.text_fallback, "'");
    default: return "None";
  }
}

// "name(p1, p2, …)\n--\n\n" and the description; a batch form lists the
// parameters but `data`, then `*, threads=None, out=None`, and its full description
// (reference_text).
const char* docstring(const Function& f, bool batch, const char* name) {
  std::string text = name;
  text += "(";
  bool first = true;
  for (int k = 0; k < f.count; ++k) {
    const Param& p = f.params[k];
    if (batch && p.kind == Kind::data) continue;
    if (!first) text += ", ";
    if (p.pass == Pass::keyword_only && (k == 0 || f.params[k - 1].pass != Pass::keyword_only))
      text += "*, ";
    text += p.name;
    if (p.pass != Pass::positional) text += "=" + default_text(p);
    first = false;
  }
  if (batch) text += f.keyword_only > 0 ? ", threads=None, out=None" : ", *, threads=None, out=None";
  text += ")\n--\n\n";
  if (!batch) return keep(text + f.doc.text);
  if (name != f.batch_name()) text += cat("Deprecated name of ", f.batch_name(), " (", name, " is removed in the next release). ");
  return keep(text + reference_text(f, true));
}

// The shape of a batch argument of kind `kind`, with its leading N axis.
const char* batch_shape(const Param& p) {
  switch (p.kind) {
    case Kind::vector: return p.count == Count::nq ? "(N, nq)" : "(N, nv)";
    case Kind::forces: return "(N, njoints, 6) or None";
    case Kind::target: return "(N, 4, 4) or (N, 3)";
    default: return nullptr;
  }
}

bool starts_with(std::string_view line, std::string_view start) { return line.substr(0, start.size()) == start; }

// Whether a line of a description opens the field of a workspace (`data`
// as a parameter, or what the call reads from or writes to it) or of its
// result: what a batch form leaves out.
bool single_call_field(std::string_view line) {
  for (std::string_view field : {":param data:", ":returns:", ":reads data:", ":writes data:"})
    if (starts_with(line, field)) return true;
  return false;
}

// A line of a single call's description for its batch form: the field of
// an array parameter with the leading N axis in its shape.
std::string batch_field(const Function& f, std::string_view line) {
  std::string out(line);
  if (!starts_with(line, ":param ")) return out;
  for (int k = 0; k < f.count; ++k) {
    const Param& p = f.params[k];
    if ((p.kind != Kind::vector && p.kind != Kind::forces) || !starts_with(line.substr(7), cat(p.name, ":")))
      continue;
    for (auto [single, rows] : {std::pair{"(nq,)", "(N, nq)"}, {"(nv,)", "(N, nv)"}, {"(njoints, 6)", "(N, njoints, 6)"}})
      if (const std::size_t at = out.find(single); at != std::string::npos) out.replace(at, std::strlen(single), rows);
  }
  return out;
}

}  // namespace

std::string reference_text(const Function& f, bool batch) {
  const std::string_view single = f.reference();
  if (!batch) return std::string(single);
  std::string text = cat(f.doc.rows, "\n\nRow n is computed from row n of each array argument (");
  bool first = true;
  for (int k = 0; k < f.count; ++k)
    if (const char* shape = batch_shape(f.params[k])) {
      text += cat(first ? "" : ", ", "``", f.params[k].name, "`` ", shape);
      first = false;
    }
  text += ");\nthe other arguments are shared by every row. ";
  text += f.single() ? cat("Row n equals ``", f.name, "`` on it, each worker\nwith a workspace of its own.\n\n")
                     : std::string("Each worker has a workspace of its own.\n\n");
  // The single call's description, less what belongs to the single call:
  // a field left out goes with its indented continuation lines, and the
  // example (the last paragraphs) is the single call's. A batch form of its
  // own keeps its example, after the fields.
  bool skipping = false;
  std::string example;
  for (std::size_t start = 0; start < single.size();) {
    std::size_t end = single.find('\n', start);
    if (end == std::string_view::npos) end = single.size();
    const std::string_view line = single.substr(start, end - start);
    start = end + 1;
    if (starts_with(line, "Example")) {
      if (!f.single()) example = single.substr(end - line.size());
      break;
    }
    if (!line.empty() && line[0] == ' ' && skipping) continue;
    skipping = single_call_field(line);
    if (!skipping) text += cat(batch_field(f, line), "\n");
  }
  while (text.size() > 1 && text.back() == '\n') text.pop_back();
  text += "\n:param threads: worker threads (None: every CPU the process may use; more than that, or than N,\n"
          "   are not started); they run with the interpreter lock released.\n";
  text += f.result.noutputs > 1
              ? ":param out: None (new arrays), or a tuple of one array per result, each C-ordered and writeable,\n"
                "   of the result's shape and type, sharing no memory with the arguments: the results are\n"
                "   written into it and it is returned (after an exception its contents are undefined)."
              : ":param out: None (a new array), or a C-ordered, writeable float64 array of the result's shape,\n"
                "   sharing no memory with the arguments: the result is written into it and it is returned\n"
                "   (after an exception its contents are undefined).";
  if (!example.empty()) text += cat("\n\n", example);
  return text;
}

namespace {

const char* python_type(Kind kind) {
  switch (kind) {
    case Kind::model: return "Model";
    case Kind::data: return "Data";
    case Kind::constraints: return "ConstraintSet";
    case Kind::vector: return kArray;
    case Kind::joint_index:
    case Kind::frame_index: return "int";
    case Kind::frame_indexes: return "Sequence[int]";
    case Kind::reference_frame: return "ReferenceFrame";
    case Kind::text: return "str";
    case Kind::optional_text: return "str | None";
    case Kind::forces:
    case Kind::weights: return "NDArray[np.float64] | None";
    case Kind::target: return "SE3 | NDArray[np.float64]";
    case Kind::real: return "float";
    case Kind::count: return "int";
    case Kind::flag: return "bool";
    case Kind::joint_indexes: return "Sequence[int]";
    case Kind::other_model: return "Model";
    case Kind::placement: return "SE3";
  }
  return "Incomplete";
}

}  // namespace

std::string shape_text(const npy_intp* dims, int ndim) {
  std::string s = "(";
  for (int k = 0; k < ndim; ++k) s += cat(k ? ", " : "", dims[k]);
  return s + (ndim == 1 ? ",)" : ")");
}

std::string shape_text(PyArrayObject* a) { return shape_text(PyArray_DIMS(a), PyArray_NDIM(a)); }

bool raise_size_error(const Param& p, Py_ssize_t size, std::size_t n) {
  if (p.mismatch != nullptr)
    raise_value_error(mismatch_message(p.mismatch, size, n));
  else
    raise_value_error(cat(p.name, " length ", size, " != ", p.count == Count::nq ? "nq " : "nv ", n));
  return false;
}

bool raise_index_error(const Param& p, std::size_t index, const Model& model) {
  if (p.kind == Kind::joint_index)
    raise_value_error(cat(p.name, " ", index, " >= njoints ", model.njoints));
  else
    raise_value_error(cat("Frame ID ", index, " out of range (max: ",
                          static_cast<long long>(model.nframes) - 1, ")"));
  return false;
}

bool raise_data_error(const Data& data, const Model& model) {
  try {
    data.check_model(model);  // the workspace's own wording of the mismatch
  } catch (...) {
    raise_current_exception();
  }
  return false;
}

bool check_constraint_set(const ConstraintSet& set, const Model& model) {
  try {
    set.check_model(model);  // the set's own wording of the mismatch
    return true;
  } catch (...) {
    raise_current_exception();
  }
  return false;
}

// ------------------------------------------------ optional and keyword kinds

bool forces_type(PyObject* obj, const Param& p, Call& call) {
  call.forces.ptr = nullptr;
  call.forces_array = nullptr;
  if (obj == nullptr || obj == Py_None) return true;
  if (!is_exact_float64_array(obj, 2) && !is_matrix(obj, p.name)) return false;
  call.forces_array = reinterpret_cast<PyArrayObject*>(obj);
  return true;
}

bool forces_layout(Call& call) {
  PyArrayObject* a = call.forces_array;
  if (a == nullptr) return true;
  if (!PyArray_CHKFLAGS(a, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED)) {
    call.owned = nb::steal(PyArray_NewCopy(a, NPY_CORDER));
    if (!call.owned.is_valid()) return false;
    a = reinterpret_cast<PyArrayObject*>(call.owned.ptr());
  }
  call.forces.ptr = static_cast<const double*>(PyArray_DATA(a));
  call.forces.size = PyArray_SIZE(a);
  // A pointer for an empty array that Eigen may hold.
  if (call.forces.size == 0) call.forces.ptr = reinterpret_cast<const double*>(&call.forces);
  return true;
}

bool forces_shape(const Call& call, const Param& p) {
  if (call.forces_array == nullptr) return true;
  const std::size_t n = call.model->njoints;
  if (static_cast<std::size_t>(PyArray_DIM(call.forces_array, 0)) == n && PyArray_DIM(call.forces_array, 1) == 6)
    return true;
  raise_value_error(cat(p.name, " must have shape (njoints, 6) = (", n, ", 6), got ",
                        shape_text(call.forces_array)));
  return false;
}

bool target_type(PyObject* obj, const Param& p, Call& call) {
  if (PyObject_TypeCheck(obj, state.se3)) {
    call.position_only = false;
    call.target = *nb::inst_ptr<SE3>(obj);
    return true;
  }
  auto* a = reinterpret_cast<PyArrayObject*>(obj);
  if (numpy_ready() && PyArray_Check(obj) && PyArray_NDIM(a) == 1 && PyArray_TYPE(a) == NPY_DOUBLE &&
      PyArray_ISNOTSWAPPED(a)) {
    call.position_only = true;
    return true;
  }
  raise_conversion_error(p.name, obj, "SE3 | PyArray<T, D>");
  return false;
}

bool weights_type(PyObject* obj, const Param& p, Call& call) {
  call.weights.ptr = nullptr;
  return obj == nullptr || obj == Py_None || is_vector(obj, p.name);
}

bool optional_vector_layout(PyObject* obj, VectorArg& out) {
  return obj == nullptr || obj == Py_None || vector_view(obj, out);
}

bool real_type(PyObject* obj, const Param& p, double& out) {
  if (obj == nullptr) {
    out = p.fallback;
    return true;
  }
  if (PyBool_Check(obj) || !(PyFloat_Check(obj) || PyLong_Check(obj) || PyArray_IsScalar(obj, Floating) ||
                             PyArray_IsScalar(obj, Integer))) {
    raise_conversion_error(p.name, obj, "float");
    return false;
  }
  out = PyFloat_AsDouble(obj);
  return !(out == -1.0 && PyErr_Occurred());
}

bool count_type(PyObject* obj, const Param& p, long long& out) {
  if (obj == nullptr) {
    out = static_cast<long long>(p.fallback);
    return true;
  }
  if (PyBool_Check(obj) || PyArray_IsScalar(obj, Bool) || !PyIndex_Check(obj)) {
    raise_conversion_error(p.name, obj, "int");
    return false;
  }
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) return false;
  int overflow = 0;
  out = PyLong_AsLongLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  if (overflow != 0) out = overflow > 0 ? std::numeric_limits<long long>::max() : -1;
  return !(out == -1 && PyErr_Occurred());
}

bool flag_type(PyObject* obj, const Param& p, bool& out) {
  if (obj == nullptr) {
    out = p.fallback != 0;
    return true;
  }
  if (PyBool_Check(obj) || PyArray_IsScalar(obj, Bool)) {
    out = PyObject_IsTrue(obj) == 1;
    return true;
  }
  raise_conversion_error(p.name, obj, "bool");
  return false;
}

bool options_in_range(const Call& call, const Param& p) {
  switch (p.kind) {
    case Kind::target:
      if (call.position_only && call.target_point.size != 3) {
        raise_value_error(cat(p.name, " must be an SE3 or a position of 3 elements, got ",
                              call.target_point.size, " elements"));
        return false;
      }
      return true;
    case Kind::weights:
      if (call.weights.ptr != nullptr && call.weights.size != 6) {
        raise_value_error(cat(p.name, " must have 6 elements, got ", call.weights.size));
        return false;
      }
      return true;
    case Kind::real:
      if (!(call.real >= 0 && call.real <= p.upper)) {
        if (p.upper < std::numeric_limits<double>::infinity())
          raise_value_error(cat(p.name, " must be in [0, ", p.upper, "], got ", call.real));
        else
          raise_value_error(cat(p.name, " must be a non-negative number, got ", call.real));
        return false;
      }
      return true;
    case Kind::count:
      if (call.count < 0) {
        raise_value_error(cat(p.name, " must be non-negative, got ", call.count));
        return false;
      }
      return true;
    default: return true;
  }
}

bool index_list_type(PyObject* obj, const char* name, std::vector<std::size_t>& out) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || !PySequence_Check(obj)) {
    raise_conversion_error(name, obj, "Sequence[int]");
    return false;
  }
  // A snapshot that owns its items: an item's __index__ may change the sequence.
  PyObject* seq = PySequence_Tuple(obj);
  if (seq == nullptr) return false;
  const Py_ssize_t n = PyTuple_GET_SIZE(seq);
  out.resize(static_cast<std::size_t>(n));
  bool ok = true;
  for (Py_ssize_t k = 0; ok && k < n; ++k)  // NumPy integers convert like Python ones
    ok = as_index(PyTuple_GET_ITEM(seq, k), name, out[static_cast<std::size_t>(k)]);
  Py_DECREF(seq);
  return ok;
}

bool check_joint_indexes(const Param& p, const std::vector<JointIndex>& ids, const Model& model) {
  try {
    check_joints_to_lock(model, ids, p.name);
    return true;
  } catch (...) {
    raise_current_exception();
  }
  return false;
}

Data& workspace_of(const Model& model) {
  static const Model* owner = nullptr;
  static std::unique_ptr<Data> data;
  if (data == nullptr || owner != &model || data->njoints != model.njoints || data->nq != model.nq ||
      data->nv != model.nv) {
    data.reset();  // the old one first: a large model's workspace is not held twice
    data = std::make_unique<Data>(model);
    owner = &model;
  }
  return *data;
}

PyTypeObject* make_solution_type() {
  static PyStructSequence_Field fields[] = {
      {"q", "the configuration found (the best one when not converged)"},
      {"converged", "whether the weighted error reached the tolerance"},
      {"iterations", "the iterations taken"},
      {"error", "the weighted norm of the error at q"},
      {nullptr, nullptr}};
  static PyStructSequence_Desc desc = {
      "lumo_dynamic.InverseKinematicsResult",
      "InverseKinematicsResult(q, converged, iterations, error): what inverseKinematics found",
      fields, 4};
  return PyStructSequence_NewType(&desc);
}

PyObject* new_solution(PyObject* q, bool converged, long long iterations, double error) {
  PyObject* out = PyStructSequence_New(state.solution);
  if (out == nullptr) return nullptr;
  Py_INCREF(q);
  PyStructSequence_SetItem(out, 0, q);
  PyStructSequence_SetItem(out, 1, PyBool_FromLong(converged));
  PyObject* n = PyLong_FromLongLong(iterations);
  PyObject* e = PyFloat_FromDouble(error);
  if (n == nullptr || e == nullptr) {
    Py_XDECREF(n);
    Py_XDECREF(e);
    Py_DECREF(out);
    return nullptr;
  }
  PyStructSequence_SetItem(out, 2, n);
  PyStructSequence_SetItem(out, 3, e);
  return out;
}

PyObject* new_matrix_triple(const Matrices3& m) {
  PyObject* items[3] = {new_matrix(m.first), nullptr, nullptr};
  if (items[0] != nullptr) items[1] = new_matrix(m.second);
  if (items[1] != nullptr) items[2] = new_symmetric_matrix(m.symmetric);
  PyObject* out = items[2] != nullptr ? PyTuple_Pack(3, items[0], items[1], items[2]) : nullptr;
  for (PyObject* item : items) Py_XDECREF(item);
  return out;
}

namespace {

// The dimensions of a result of Shape s: (n,) as (n, 1), or (rows, cols).
std::pair<Eigen::Index, Eigen::Index> shape_dims(const Call& c, Shape s) {
  const auto nv = static_cast<Eigen::Index>(c.model->nv);
  switch (s) {
    case Shape::nv_nv: return {nv, nv};
    case Shape::three_nv: return {3, nv};
    case Shape::six_nv: return {6, nv};
    case Shape::nq_nv: return {static_cast<Eigen::Index>(c.model->nq), nv};
    case Shape::size_nv: return {static_cast<Eigen::Index>(c.set->size()), nv};
    default: return {static_cast<Eigen::Index>(shape_size(c, s)), 1};
  }
}

bool is_vector_shape(Shape s) {
  return s == Shape::nq || s == Shape::nv || s == Shape::three || s == Shape::six || s == Shape::size;
}

void check_block(const Call& c, const Block& b, Shape s) {
  if (shape_dims(c, s) != std::pair{b.rows, b.cols})
    throw InternalError(cat("a result of ", b.rows, "x", b.cols, " where ", shape_dims(c, s).first, "x",
                            shape_dims(c, s).second, " was expected"));
}

}  // namespace

PyObject* new_block_tuple(const Call& c, const Block* blocks, const Shape* shapes, int n) {
  PyObject* tuple = PyTuple_New(n);
  if (tuple == nullptr) return nullptr;
  for (int k = 0; k < n; ++k) {
    const Block& b = blocks[k];
    PyObject* item = nullptr;
    try {
      check_block(c, b, shapes[k]);
      using Map = Eigen::Map<const Eigen::MatrixXd, 0, Eigen::OuterStride<>>;
      item = is_vector_shape(shapes[k]) ? new_vector(b.data, b.rows)
                                        : new_matrix(Map(b.data, b.rows, b.cols, Eigen::OuterStride<>(b.stride)));
    } catch (...) {
      raise_current_exception();
    }
    if (item == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, k, item);
  }
  return tuple;
}

void copy_blocks(const Call& c, const Block* blocks, const Shape* shapes, int n, double* const* out) {
  for (int k = 0; k < n; ++k) check_block(c, blocks[k], shapes[k]);
  for (int k = 0; k < n; ++k) {
    const Block& b = blocks[k];
    if (b.rows * b.cols == 0) continue;
    if (b.cols == 1)
      std::copy(b.data, b.data + b.rows, out[k]);
    else
      transpose_copy(b.data, b.stride, b.rows, b.cols, out[k], b.cols);
  }
}

PyMethodDef* single_call_table() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (std::size_t k = 0; k < declaration_count; ++k) {
      const Declared& d = declarations[k];
      if (d.single != nullptr)
        t.push_back({d.function->name, d.single, METH_FASTCALL | METH_KEYWORDS,
                     docstring(*d.function, false, d.function->name)});
    }
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

PyMethodDef* batch_call_table() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (std::size_t k = 0; k < declaration_count; ++k) {
      const Declared& d = declarations[k];
      const Function& f = *d.function;
      if (d.batch != nullptr)
        t.push_back({f.batch_name(), d.batch, METH_FASTCALL | METH_KEYWORDS,
                     docstring(f, true, f.batch_name())});
      if (d.former_batch != nullptr)
        t.push_back({f.doc.former_batch_name, d.former_batch, METH_FASTCALL | METH_KEYWORDS,
                     docstring(f, true, f.doc.former_batch_name)});
    }
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

nb::dict api_description() {
  nb::dict api;
  for (std::size_t k = 0; k < declaration_count; ++k) {
    const Function& f = *declarations[k].function;
    nb::dict params, batch_params;
    for (int p = 0; p < f.count; ++p) {
      params[f.names[p]] = python_type(f.params[p].kind);
      if (f.params[p].kind != Kind::data) batch_params[f.names[p]] = python_type(f.params[p].kind);
    }
    batch_params["threads"] = "int | None";
    if (f.single())
      api[f.name] = nb::make_tuple(f.doc.page, f.result.python_type, params, nb::none(), f.reference());
    if (!f.batched()) continue;
    std::string returns = kArray;
    if (f.result.batch_python_type != nullptr) {
      returns = f.result.batch_python_type;
    } else if (f.result.noutputs > 1) {
      returns = "tuple[";
      for (int k = 0; k < f.result.noutputs; ++k) returns += cat(k ? ", " : "", kArray);
      returns += "]";
    }
    batch_params["out"] = cat(returns, " | None");
    const std::string reference = reference_text(f, true);
    api[cat("batch.", f.batch_name()).c_str()] =
        nb::make_tuple("batch", returns, batch_params, nb::none(), reference);
    if (f.doc.former_batch_name != nullptr)
      api[cat("batch.", f.doc.former_batch_name).c_str()] = nb::make_tuple(
          "batch", returns, batch_params, f.batch_name(),
          cat("Deprecated name of ``batch.", f.batch_name(), "``.\n\n", reference));
  }
  return api;
}

}  // namespace lumo::python

// The free functions' Python faces, stated as data. A function is declared
// once (functions.cpp): its name, its parameters (each with its kind and,
// for vectors, the model size it must have), its result (how the single
// call returns it and, where a batched form exists, the per-row shapes and
// the kernel that writes one row), its documentation page and docstring.
// From that one statement come the single call (this file's driver), the
// lumo_dynamic.batch function (batch.cpp: the same parameters minus `data`,
// arrays with a leading N axis, keyword-only `threads`), and the metadata
// the type stubs and the documentation read (lumo_dynamic._api).
//
// Both drivers check in the module's order, with the same messages:
//   1. the interpreter's argument rules (counts, keywords);
//   2. each argument's type, in parameter order;
//   3. the contiguity of each array, in parameter order;
//   4. each size and index against the model, in parameter order, and the
//      workspace against the model;
// then the body (or, per row, the kernel) runs, and any C++ exception it
// throws becomes the module's Python exception.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "algorithms/jacobians.hpp"
#include "algorithms/kernels/lockstep.hpp"
#include "convert.hpp"
#include "copy_kernels.hpp"

namespace lumo::python {

enum class Kind : std::uint8_t {
  model,            // a Model
  data,             // a Data (the batch form makes one per worker instead)
  constraints,      // a ConstraintSet made for the model (shared by every row of a batch)
  vector,           // a 1-D float64 array of nq or nv elements; (N, nq or nv) in a batch
  joint_index,      // an index below njoints
  frame_index,      // an index below nframes
  frame_indexes,    // a sequence of indexes below nframes (batch forms only)
  reference_frame,  // a ReferenceFrame
  text,             // a str; an optional one defaults to its text_fallback
  optional_text,    // None or a str (an optional parameter defaulting to None)
  forces,           // None or a float64 (njoints, 6) array; (N, njoints, 6) in a batch
  target,           // an SE3, or a 3-element float64 array (a position); (N, 4, 4) or (N, 3) in a batch
  weights,          // None or a 6-element float64 array (the same for every row of a batch)
  real,             // a float (or an int), in [0, upper]
  count,            // a non-negative int
  flag,             // a bool
  joint_indexes,    // a sequence of distinct joint indexes in [1, njoints): joints to lock
  other_model,      // a second Model
  placement,        // an SE3
};

// How an argument may be given: by position (and keyword), optionally so
// (defaulting), or by keyword only (defaulting). The parameters of a
// function come in this order.
enum class Pass : std::uint8_t { positional, optional, keyword_only };

// The model size a vector argument is checked against.
enum class Count : std::uint8_t { none, nq, nv };

struct Param {
  const char* name;
  Kind kind;
  Count count = Count::none;
  // The ValueError for a vector of the wrong length, with {len} (its length)
  // and {n} (the model's size) for placeholders; null for the usual
  // "{name} length {len} != nq {n}".
  const char* mismatch = nullptr;
  Pass pass = Pass::positional;
  // The value of a real, count or flag parameter not given (forces and
  // weights default to None).
  double fallback = 0;
  // The largest value of a real parameter.
  double upper = std::numeric_limits<double>::infinity();
  // The value of an optional text parameter not given.
  const char* text_fallback = "";
};

// The parameters shared by most functions.
inline constexpr Param kModel{"model", Kind::model};
inline constexpr Param kData{"data", Kind::data};
inline constexpr Param kConstraints{"constraints", Kind::constraints};
inline constexpr Param kQ{"q", Kind::vector, Count::nq};
inline constexpr Param kV{"v", Kind::vector, Count::nv};
inline constexpr Param kA{"a", Kind::vector, Count::nv};
inline constexpr Param kTau{"tau", Kind::vector, Count::nv};
inline constexpr Param kJointId{"joint_id", Kind::joint_index};
inline constexpr Param kFrameId{"frame_id", Kind::frame_index};
inline constexpr Param kFrameIds{"frame_ids", Kind::frame_indexes};
inline constexpr Param kReferenceFrame{"reference_frame", Kind::reference_frame};

inline constexpr Param kForces{"fext", Kind::forces, Count::none, nullptr, Pass::optional};

inline constexpr int kMaxParams = 8;
inline constexpr int kMaxVectors = 4;
inline constexpr int kMaxIndexes = 2;
inline constexpr int kMaxOutputs = 6;

// The converted arguments, by kind in parameter order: vector(0) is the
// first array parameter, index(0) the first index parameter. Each field is
// set by the checks of its parameter before any body reads it. In a batch,
// `data` is the worker's workspace and the vectors are the row's.
struct Call {
  Model* model;
  Data* data;
  VectorArg vectors[kMaxVectors];
  std::size_t indexes[kMaxIndexes];
  ReferenceFrame frame;
  const char* text;
  std::size_t text_size;
  const FrameIndex* frame_ids;
  std::size_t nframe_ids;
  std::vector<JointIndex> joint_ids;  // a joint_indexes argument (empty until its check)
  const Model* other;                 // an other_model argument
  const SE3* placement;               // a placement argument, inside its Python object
  const ConstraintSet* set;
  // The optional and keyword arguments, each set by the checks of its kind.
  VectorArg forces;          // 6×njoints column-major; ptr null: none
  PyArrayObject* forces_array;
  VectorArg weights;         // 6 elements; ptr null: none
  SE3 target;
  bool position_only;        // the target is the point target_point
  VectorArg target_point;
  double real;
  long long count;
  bool flag;
  nb::object owned;          // a C-ordered copy of an array given in another layout
  const char* optional_text = nullptr;  // null: None
  std::size_t optional_text_size = 0;

  Eigen::Map<const Eigen::VectorXd> vector(int k) const { return vectors[k].map(); }
  bool has_forces() const { return forces.ptr != nullptr; }
  Eigen::Map<const Matrix6X> fext() const { return {forces.ptr, 6, forces.size / 6}; }
  std::size_t index(int k) const { return indexes[k]; }
  std::string_view str() const { return {text, text_size}; }
  std::optional<std::string> optional_str() const {
    if (optional_text == nullptr) return std::nullopt;
    return std::string(optional_text, optional_text_size);
  }
};

// The shape of one row of a batched result.
enum class Shape : std::uint8_t {
  scalar,      // ()
  nq,          // (nq,)
  nv,          // (nv,)
  three,       // (3,)
  six,         // (6,)
  nv_nv,       // (nv, nv)
  three_nv,    // (3, nv)
  six_nv,      // (6, nv)
  frames_4_4,  // (len(frame_ids), 4, 4)
  size,        // (s,), s the rows of the constraint set
  size_nv,     // (s, nv)
  nq_nv,       // (nq, nv)
};

// The element type of a batched result.
enum class Element : std::uint8_t { float64, boolean, int64 };

// The single call: the converted arguments to a new Python object.
using Body = PyObject* (*)(Call&);
// One row of the batch call: the row's arguments to its outputs out[k], each
// a C-ordered block of its Shape.
using Kernel = void (*)(Call&, double* const* out);

// What a function returns, as a single call and as rows of a batch.
struct Result {
  Body body = nullptr;
  Kernel kernel = nullptr;  // null: no batched form
  std::array<Shape, kMaxOutputs> shapes{};
  int noutputs = 0;
  const char* python_type = "None";  // the single call's, for the stubs
  std::array<Element, kMaxOutputs> elements{};
  const char* batch_python_type = nullptr;  // null: arrays, one or a tuple of noutputs
  // The lock-step kernel computing the same rows several at a time (the
  // batch's whole packs of rows; kernel does the rest), or none.
  lockstep::Kernel lockstep = lockstep::Kernel::none;
};

// r with its rows also computed in lock step by `kernel`, whose inputs are
// the function's vector parameters in order and whose output is its row.
constexpr Result in_lock_step(Result r, lockstep::Kernel kernel) {
  r.lockstep = kernel;
  return r;
}

// Where and how a function is shown.
struct Doc {
  const char* page;                 // the documentation page (make_stubs.PAGES)
  const char* text = "";            // the single call's docstring after its signature
  // The full description (the stubs' docstring and the documentation's):
  // a summary line; the equation; :param:/:returns: fields with shapes,
  // units and frames; what it reads from and writes to Data; an example.
  // Null: `text` is that description (one string for __doc__ and the
  // reference); set only where __doc__ keeps a fixed text of its own. The
  // batch form's is derived from it (reference_text).
  const char* reference = nullptr;
  const char* rows = nullptr;       // the batch form's: what the result holds, with its shape;
                                    // null: no batch form
  const char* batch_name = nullptr; // the batch form's name, when not the function's
  const char* former_batch_name = nullptr;  // an older batch name, kept with a DeprecationWarning
  bool batch_only = false;          // no single call (the batch form's contract is its own)
};

struct Function {
  const char* name;
  std::array<Param, kMaxParams> params{};
  std::array<const char*, kMaxParams> names{};
  int count = 0;
  int optional = 0;      // of the positional ones, the optional ones
  int keyword_only = 0;  // the last ones
  Result result;
  Doc doc;

  constexpr Function(const char* function_name, std::initializer_list<Param> parameters,
                     Result function_result, Doc function_doc)
      : name(function_name), result(function_result), doc(function_doc) {
    for (const Param& p : parameters) {
      params[count] = p;
      names[count] = p.name;
      ++count;
      optional += p.pass == Pass::optional;
      keyword_only += p.pass == Pass::keyword_only;
    }
  }
  constexpr Signature signature() const {
    return {name, names.data(), count - keyword_only, keyword_only, optional};
  }
  constexpr bool single() const { return !doc.batch_only; }
  constexpr bool batched() const { return doc.rows != nullptr && result.kernel != nullptr; }
  constexpr const char* batch_name() const { return doc.batch_name ? doc.batch_name : name; }
  constexpr const char* reference() const { return doc.reference ? doc.reference : doc.text; }
};

// ------------------------------------------------------------- checks

// The ValueErrors of step 4, out of line: they run only on a bad argument.
bool raise_size_error(const Param& p, Py_ssize_t size, std::size_t n);
bool raise_index_error(const Param& p, std::size_t index, const Model& model);
bool raise_data_error(const Data& data, const Model& model);
// A constraint set made for another model (ConstraintSet::check_model: the
// sizes, and the coupled joints of a model of the same sizes), raised in the
// set's words.
bool check_constraint_set(const ConstraintSet& set, const Model& model);

inline bool check_index(const Param& p, std::size_t index, const Model& model) {
  return index < (p.kind == Kind::joint_index ? model.njoints : model.nframes) ||
         raise_index_error(p, index, model);
}

// A workspace made for another model is a caller's mistake, found here once.
inline bool check_data(const Data& data, const Model& model) {
  return (data.njoints == model.njoints && data.nq == model.nq && data.nv == model.nv) ||
         raise_data_error(data, model);
}

// The checks of the optional and keyword kinds (function_table.cpp), by
// step; obj is null for an argument not given.
bool forces_type(PyObject* obj, const Param& p, Call& call);
bool forces_layout(Call& call);
bool forces_shape(const Call& call, const Param& p);
bool target_type(PyObject* obj, const Param& p, Call& call);
bool weights_type(PyObject* obj, const Param& p, Call& call);
bool optional_vector_layout(PyObject* obj, VectorArg& out);
bool real_type(PyObject* obj, const Param& p, double& out);
bool count_type(PyObject* obj, const Param& p, long long& out);
bool flag_type(PyObject* obj, const Param& p, bool& out);
bool options_in_range(const Call& call, const Param& p);
// A sequence of non-negative integers (not a str or bytes) into `out`.
bool index_list_type(PyObject* obj, const char* name, std::vector<std::size_t>& out);
// The joints of a joint_indexes argument, in the core's words (check_joints_to_lock).
bool check_joint_indexes(const Param& p, const std::vector<JointIndex>& ids, const Model& model);

namespace detail {

constexpr bool is_index(Kind kind) { return kind == Kind::joint_index || kind == Kind::frame_index; }

// Where parameter K of F goes in Call: its rank among the parameters of
// its group (vectors, indexes).
template <const Function& F, int K>
constexpr int slot() {
  int n = 0;
  for (int k = 0; k < K; ++k)
    n += F.params[k].kind == F.params[K].kind ||
         (is_index(F.params[k].kind) && is_index(F.params[K].kind));
  return n;
}

template <const Function& F>
constexpr bool has_data() {
  for (int k = 0; k < F.count; ++k)
    if (F.params[k].kind == Kind::data) return true;
  return false;
}

// Step 2 for parameter K.
template <const Function& F, int K>
inline bool convert_type(PyObject* obj, Call& call) {
  constexpr Param p = F.params[K];
  static_assert(p.kind != Kind::frame_indexes, "a list of frames is read by batch forms only");
  if constexpr (p.kind == Kind::model) {
    return (call.model = as_model(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::data) {
    return (call.data = as_data(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::constraints) {
    return (call.set = as_constraint_set(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::vector) {
    return is_vector(obj, p.name);
  } else if constexpr (is_index(p.kind)) {
    return as_index(obj, p.name, call.indexes[slot<F, K>()]);
  } else if constexpr (p.kind == Kind::joint_indexes) {
    return index_list_type(obj, p.name, call.joint_ids);
  } else if constexpr (p.kind == Kind::other_model) {
    return (call.other = as_model(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::placement) {
    return (call.placement = as_se3(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::text) {
    std::string_view text = p.text_fallback;
    if (obj != nullptr && !as_text(obj, p.name, text)) return false;
    call.text = text.data();
    call.text_size = text.size();
    return true;
  } else if constexpr (p.kind == Kind::optional_text) {
    call.optional_text = nullptr;
    if (obj == nullptr || obj == Py_None) return true;
    std::string_view text;
    if (!as_text(obj, p.name, text)) return false;
    call.optional_text = text.data();
    call.optional_text_size = text.size();
    return true;
  } else if constexpr (p.kind == Kind::forces) {
    return forces_type(obj, p, call);
  } else if constexpr (p.kind == Kind::target) {
    return target_type(obj, p, call);
  } else if constexpr (p.kind == Kind::weights) {
    return weights_type(obj, p, call);
  } else if constexpr (p.kind == Kind::real) {
    return real_type(obj, p, call.real);
  } else if constexpr (p.kind == Kind::count) {
    return count_type(obj, p, call.count);
  } else if constexpr (p.kind == Kind::flag) {
    return flag_type(obj, p, call.flag);
  } else {
    return as_reference_frame(obj, p.name, call.frame);
  }
}

// Step 3 for parameter K.
template <const Function& F, int K>
inline bool convert_layout(PyObject* obj, Call& call) {
  constexpr Kind kind = F.params[K].kind;
  if constexpr (kind == Kind::vector)
    return vector_view(obj, call.vectors[slot<F, K>()]);
  else if constexpr (kind == Kind::forces)
    return forces_layout(call);
  else if constexpr (kind == Kind::weights)
    return optional_vector_layout(obj, call.weights);
  else if constexpr (kind == Kind::target)
    return !call.position_only || vector_view(obj, call.target_point);
  else
    return true;
}

// Step 4 for parameter K.
template <const Function& F, int K>
inline bool check_against_model(Call& call) {
  constexpr Param p = F.params[K];
  if constexpr (p.kind == Kind::vector) {  // only functions of a model have these
    const Py_ssize_t size = call.vectors[slot<F, K>()].size;
    const std::size_t n = p.count == Count::nq ? call.model->nq : call.model->nv;
    return static_cast<std::size_t>(size) == n || raise_size_error(p, size, n);
  } else if constexpr (is_index(p.kind)) {
    return check_index(p, call.indexes[slot<F, K>()], *call.model);
  } else if constexpr (p.kind == Kind::constraints) {
    return check_constraint_set(*call.set, *call.model);
  } else if constexpr (p.kind == Kind::joint_indexes) {
    return check_joint_indexes(p, call.joint_ids, *call.model);
  } else if constexpr (p.kind == Kind::forces) {
    return forces_shape(call, p);
  } else if constexpr (p.kind == Kind::target || p.kind == Kind::weights || p.kind == Kind::real ||
                       p.kind == Kind::count) {
    return options_in_range(call, p);
  } else {
    return true;
  }
}

template <const Function& F, int... K>
inline bool convert_arguments(PyObject* const* a, Call& call, std::integer_sequence<int, K...>) {
  if (!((convert_type<F, K>(a[K], call) && ...) && (convert_layout<F, K>(a[K], call) && ...) &&
        (check_against_model<F, K>(call) && ...)))
    return false;
  if constexpr (has_data<F>())
    return check_data(*call.data, *call.model);
  else
    return true;
}

}  // namespace detail

// Steps 2 to 4 for the parsed arguments a[0 .. F.count), unrolled at compile
// time: each parameter's checks are those of its kind alone.
template <const Function& F>
inline bool convert_arguments(PyObject* const* a, Call& call) {
  return detail::convert_arguments<F>(a, call, std::make_integer_sequence<int, F.count>{});
}

// The METH_FASTCALL | METH_KEYWORDS entry point of function F. Positional
// arguments in the right number are used where they are.
template <const Function& F>
PyObject* call_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) noexcept {
  PyObject* parsed[kMaxParams];
  PyObject* const* a = args;
  if (kw != nullptr || PyVectorcall_NARGS(nargs) != F.count) {
    if (!parse_arguments(F.signature(), args, nargs, kw, parsed)) return nullptr;
    a = parsed;
  }
  Call call;
  if constexpr (!detail::has_data<F>()) call.data = nullptr;
  if (!convert_arguments<F>(a, call)) return nullptr;
  try {
    return F.result.body(call);
  } catch (...) {
    return raise_current_exception();
  }
}

// The batch form of f (batch.cpp); `former` calls it by its deprecated name.
PyObject* run_batch(const Function& f, bool former, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept;

template <const Function& F, bool former>
PyObject* call_batch(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) noexcept {
  return run_batch(F, former, args, nargs, kw);
}

// A declared function with its entry points (null where it has no such form).
struct Declared {
  const Function* function;
  PyCFunction single;
  PyCFunction batch;
  PyCFunction former_batch;
};

template <const Function& F>
Declared declare() {
  Declared d{&F, nullptr, nullptr, nullptr};
  if constexpr (F.single()) d.single = LUMO_FASTCALL(&call_function<F>);
  if constexpr (F.batched()) {
    d.batch = LUMO_FASTCALL((&call_batch<F, false>));
    if constexpr (F.doc.former_batch_name != nullptr) d.former_batch = LUMO_FASTCALL((&call_batch<F, true>));
  }
  return d;
}

// Every declared function, in the module's order (functions.cpp).
extern const Declared declarations[];
extern const std::size_t declaration_count;

// The module's free functions (single calls), its batch functions, and
// lumo_dynamic._api: each function's documentation page, result type,
// parameter types, replacing name and full description, for make_stubs.py
// and the documentation.
PyMethodDef* single_call_table();
PyMethodDef* batch_call_table();
nb::dict api_description();

// The full description of f's single call, or of its batch form (the same
// description for rows: its `rows` line, the leading N axis of the arrays,
// `threads`, and the single call's fields but `data` and the example).
std::string reference_text(const Function& f, bool batch);

// "(3, 6)" for a NumPy shape: of an array, or its dimensions.
std::string shape_text(const npy_intp* dims, int ndim);
std::string shape_text(PyArrayObject* a);

// ------------------------------------------------------------- results

inline PyObject* none() { Py_RETURN_NONE; }

// The number of elements of one row of Shape s.
inline std::size_t shape_size(const Call& c, Shape s) {
  const std::size_t nq = c.model->nq, nv = c.model->nv;
  switch (s) {
    case Shape::scalar: return 1;
    case Shape::nq: return nq;
    case Shape::nv: return nv;
    case Shape::three: return 3;
    case Shape::six: return 6;
    case Shape::nv_nv: return nv * nv;
    case Shape::three_nv: return 3 * nv;
    case Shape::six_nv: return 6 * nv;
    case Shape::nq_nv: return nq * nv;
    case Shape::frames_4_4: return 16 * c.nframe_ids;
    case Shape::size: return c.set->size();
    case Shape::size_nv: return c.set->size() * nv;
  }
  return 0;
}

inline constexpr const char* kArray = "NDArray[np.float64]";

// The adapters below make a Result from one expression of the algorithm,
// F(call): the single call converts what it gives into a new object, the
// batch kernel copies it into the row; or, given the algorithm's form that
// writes into a view (Into), the batch kernel has it write the row itself.

// F gives a vector: a new 1-D array; the row is a copy, or, with
// Into(call, x) writing the same vector into the view x (for rows of
// Shape::nv), written by Into in place.
template <auto F, auto Into = nullptr>
constexpr Result vector(Shape row) {
  Kernel rows;
  if constexpr (std::is_same_v<decltype(Into), std::nullptr_t>)
    rows = [](Call& c, double* const* out) {
      const auto& x = F(c);
      std::copy(x.data(), x.data() + x.size(), out[0]);
    };
  else
    rows = [](Call& c, double* const* out) {
      Into(c, Eigen::Map<Eigen::VectorXd>(out[0], static_cast<Eigen::Index>(c.model->nv)));
    };
  return {[](Call& c) -> PyObject* { return new_vector(F(c)); }, rows, {row}, 1, kArray};
}

// F(call, out) writes a vector of Shape `row` into out.
template <auto F, Shape row>
constexpr Result vector_into() {
  return {[](Call& c) -> PyObject* {
            return fill_new_vector(static_cast<Py_ssize_t>(shape_size(c, row)),
                                   [&](Eigen::Map<Eigen::VectorXd> out) { F(c, out); });
          },
          [](Call& c, double* const* out) {
            F(c, Eigen::Map<Eigen::VectorXd>(out[0], static_cast<Eigen::Index>(shape_size(c, row))));
          },
          {row}, 1, kArray};
}

// F gives a matrix: a new C-ordered array; the row is the same copy.
template <auto F>
constexpr Result matrix(Shape row) {
  return {[](Call& c) -> PyObject* { return new_matrix(F(c)); },
          [](Call& c, double* const* out) {
            const auto& m = F(c);
            if (m.size() > 0) transpose_copy(m.data(), m.outerStride(), m.rows(), m.cols(), out[0], m.cols());
          },
          {row}, 1, kArray};
}

// F gives a full symmetric square matrix, whose storage is its C order.
template <auto F>
constexpr Result symmetric() {
  return {[](Call& c) -> PyObject* { return new_symmetric_matrix(F(c)); },
          [](Call& c, double* const* out) {
            const Eigen::MatrixXd& m = F(c);
            if (m.size() > 0) std::memcpy(out[0], m.data(), sizeof(double) * static_cast<std::size_t>(m.size()));
          },
          {Shape::nv_nv}, 1, kArray};
}

// F gives a square nv×nv matrix of which only the upper triangle is
// computed, and Into(call, M) writes the same triangle into a column-major
// view M: the single call returns F's matrix as stored, each row of a batch
// the full symmetric matrix (as Data.M shows it). The row is written once:
// the view of its C-ordered storage as column-major is its transpose, whose
// upper triangle Into fills (the row's lower one), mirrored in place.
template <auto F, auto Into>
constexpr Result upper_triangle() {
  return {[](Call& c) -> PyObject* { return new_matrix(F(c)); },
          [](Call& c, double* const* out) {
            const auto n = static_cast<Eigen::Index>(c.model->nv);
            Into(c, Eigen::Map<Eigen::MatrixXd>(out[0], n, n));
            mirror_lower(out[0], n);
          },
          {Shape::nv_nv}, 1, kArray};
}

// F(call, J) writes a 6×nv matrix into the column-major view J.
template <auto F>
constexpr Result matrix6_into() {
  return {[](Call& c) -> PyObject* {
            return fill_new_matrix6(static_cast<Py_ssize_t>(c.model->nv), [&](auto J) { F(c, J); });
          },
          [](Call& c, double* const* out) {
            using Map = Eigen::Map<Matrix6X, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;
            const auto n = static_cast<Eigen::Index>(c.model->nv);
            F(c, Map(out[0], 6, n, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>(1, n > 0 ? n : 1)));
          },
          {Shape::six_nv}, 1, kArray};
}

// The stub types of a result of n arrays.
inline constexpr const char* kArrayTuples[] = {
    "tuple[()]", kArray,
    "tuple[NDArray[np.float64], NDArray[np.float64]]",
    "tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]",
    "tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]",
    "tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], "
    "NDArray[np.float64]]",
    "tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], NDArray[np.float64], "
    "NDArray[np.float64], NDArray[np.float64]]"};

// The rows of a matrix of Shape s (six_nv, nv_nv or nq_nv), whose columns are nv.
inline Eigen::Index matrix_rows(const Call& c, Shape s) {
  return static_cast<Eigen::Index>(s == Shape::six_nv ? 6 : s == Shape::nq_nv ? c.model->nq : c.model->nv);
}

// F(call, M_0, …, M_{N−1}) writes N matrices of Shape `row` (r×nv) into
// views of C-ordered storage: one new (r, nv) array, or a tuple of N; N
// outputs of a batch row.
// Writes N matrices of Shape `row` by F into row-major views of out[0 .. N).
template <auto F, int N, Shape row>
void write_matrices(Call& c, double* const* out) {
  using View = Eigen::Map<Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;
  const Eigen::Index r = matrix_rows(c, row), n = static_cast<Eigen::Index>(c.model->nv);
  const Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic> stride(1, n > 0 ? n : 1);
  if constexpr (N == 1)
    F(c, View(out[0], r, n, stride));
  else if constexpr (N == 2)
    F(c, View(out[0], r, n, stride), View(out[1], r, n, stride));
  else
    F(c, View(out[0], r, n, stride), View(out[1], r, n, stride), View(out[2], r, n, stride));
}

template <auto F, int N, Shape row>
constexpr Result matrices_into() {
  static_assert(N >= 1 && N <= 3);
  Result result{[](Call& c) -> PyObject* {
                  if (!numpy_ready()) return nullptr;
                  npy_intp dims[2] = {static_cast<npy_intp>(matrix_rows(c, row)), static_cast<npy_intp>(c.model->nv)};
                  nb::object items[N];
                  double* storage[N];
                  for (int k = 0; k < N; ++k) {
                    items[k] = nb::steal(new_float64_array(2, dims));
                    if (!items[k].is_valid()) return nullptr;
                    storage[k] = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(items[k].ptr())));
                  }
                  try {
                    write_matrices<F, N, row>(c, storage);
                  } catch (...) {
                    return raise_current_exception();
                  }
                  if constexpr (N == 1) {
                    return items[0].release().ptr();
                  } else {
                    PyObject* tuple = PyTuple_New(N);
                    if (tuple == nullptr) return nullptr;
                    for (int k = 0; k < N; ++k) PyTuple_SET_ITEM(tuple, k, items[k].release().ptr());
                    return tuple;
                  }
                },
                write_matrices<F, N, row>, {}, N, kArrayTuples[N]};
  for (int k = 0; k < N; ++k) result.shapes[k] = row;
  return result;
}

template <auto F, int N>
constexpr Result matrix6_tuple() {
  static_assert(N == 2 || N == 3);
  return matrices_into<F, N, Shape::six_nv>();
}

// A workspace for `model` kept between single calls of the functions that
// take none (made again when the model's sizes change); the interpreter
// lock serialises its users.
Data& workspace_of(const Model& model);

// The named tuple (q, converged, iterations, error) of a solver
// (lumo_dynamic.InverseKinematicsResult), made once at module start.
PyTypeObject* make_solution_type();
PyObject* new_solution(PyObject* q, bool converged, long long iterations, double error);

// F(call, q) writes a solution q (nq elements) and gives what became of the
// solve (.converged, .iterations, .error): the named tuple; a batch row's
// four outputs (q, converged, iterations, error).
template <auto F>
constexpr Result solution() {
  return {[](Call& c) -> PyObject* {
            double* storage = nullptr;
            nb::object q = nb::steal(new_vector_storage(static_cast<Py_ssize_t>(c.model->nq), storage));
            if (!q.is_valid()) return nullptr;
            try {
              const auto r = F(c, Eigen::Map<Eigen::VectorXd>(storage, static_cast<Eigen::Index>(c.model->nq)));
              return new_solution(q.ptr(), r.converged, r.iterations, r.error);
            } catch (...) {
              return raise_current_exception();
            }
          },
          [](Call& c, double* const* out) {
            const auto r = F(c, Eigen::Map<Eigen::VectorXd>(out[0], static_cast<Eigen::Index>(c.model->nq)));
            *reinterpret_cast<bool*>(out[1]) = r.converged;
            *reinterpret_cast<std::int64_t*>(out[2]) = r.iterations;
            out[3][0] = r.error;
          },
          {Shape::nq, Shape::scalar, Shape::scalar, Shape::scalar},
          4,
          "InverseKinematicsResult",
          {Element::float64, Element::boolean, Element::int64, Element::float64},
          "tuple[NDArray[np.float64], NDArray[np.bool_], NDArray[np.int64], NDArray[np.float64]]"};
}

// A column-major block of the workspace that a result is copied from.
struct Block {
  const double* data;
  Eigen::Index rows, cols, stride;
};
inline Block block(const Eigen::MatrixXd& m) { return {m.data(), m.rows(), m.cols(), m.outerStride()}; }
inline Block block(const Eigen::VectorXd& x) { return {x.data(), x.size(), 1, x.size()}; }

// The single call's tuple of n new arrays, block k of Shape shapes[k] (a
// vector for (s,) and (nv,), a C-ordered matrix otherwise), and the batch
// row's copies. A block not of its Shape's size is an InternalError (the
// row is never written past its end).
PyObject* new_block_tuple(const Call& c, const Block* blocks, const Shape* shapes, int n);
void copy_blocks(const Call& c, const Block* blocks, const Shape* shapes, int n, double* const* out);


// F gives an array of blocks of the workspace, one per Shape in `row`: a
// tuple of new arrays; the batch row's outputs are copies.
template <auto F, Shape... row>
constexpr Result blocks() {
  constexpr int N = sizeof...(row);
  static_assert(N >= 2 && N <= kMaxOutputs);
  return {[](Call& c) -> PyObject* {
            static constexpr Shape shapes[] = {row...};
            const std::array<Block, N> b = F(c);
            return new_block_tuple(c, b.data(), shapes, N);
          },
          [](Call& c, double* const* out) {
            static constexpr Shape shapes[] = {row...};
            const std::array<Block, N> b = F(c);
            copy_blocks(c, b.data(), shapes, N, out);
          },
          {row...}, N, kArrayTuples[N]};
}

// F gives a float.
template <auto F>
constexpr Result scalar() {
  return {[](Call& c) -> PyObject* { return PyFloat_FromDouble(F(c)); },
          [](Call& c, double* const* out) { out[0][0] = F(c); }, {Shape::scalar}, 1, "float"};
}

// F gives three nv×nv matrices, the third full and symmetric: a tuple of three arrays.
struct Matrices3 {
  const Eigen::MatrixXd& first;
  const Eigen::MatrixXd& second;
  const Eigen::MatrixXd& symmetric;
};
PyObject* new_matrix_triple(const Matrices3& m);

// With Into(call, A, B, C), which writes the same three into views of
// C-ordered storage, each row of a batch is written by Into in place;
// without it, the row is a copy of F's.
template <auto F, auto Into = nullptr>
constexpr Result matrix_triple() {
  Kernel rows;
  if constexpr (std::is_same_v<decltype(Into), std::nullptr_t>)
    rows = [](Call& c, double* const* out) {
      const Matrices3 m = F(c);
      const Eigen::Index n = m.first.rows();
      if (n == 0) return;
      transpose_copy(m.first.data(), n, n, n, out[0], n);
      transpose_copy(m.second.data(), n, n, n, out[1], n);
      std::memcpy(out[2], m.symmetric.data(), sizeof(double) * static_cast<std::size_t>(n * n));
    };
  else
    rows = write_matrices<Into, 3, Shape::nv_nv>;
  return {[](Call& c) -> PyObject* { return new_matrix_triple(F(c)); }, rows,
          {Shape::nv_nv, Shape::nv_nv, Shape::nv_nv}, 3,
          "tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]"};
}

// F fills the workspace and gives nothing: None, no batched form.
template <auto F>
constexpr Result nothing() {
  return {[](Call& c) -> PyObject* {
            F(c);
            return none();
          }};
}

// F gives a new Python object of the given type: no batched form.
template <auto F>
constexpr Result object(const char* python_type) {
  return {[](Call& c) -> PyObject* { return F(c); }, nullptr, {}, 0, python_type};
}

// Rows only, several outputs: F(call, out) writes out[k] of Shape row[k].
template <auto F, Shape... row>
constexpr Result rows_of() {
  constexpr int N = sizeof...(row);
  static_assert(N >= 2 && N <= kMaxOutputs);
  return {nullptr, [](Call& c, double* const* out) { F(c, out); }, {row...}, N, kArrayTuples[N]};
}

// Rows only: F(call, out) writes the outputs of the given shapes.
template <auto F>
constexpr Result rows(Shape row) {
  return {nullptr, [](Call& c, double* const* out) { F(c, out); }, {row}, 1, kArray};
}

}  // namespace lumo::python

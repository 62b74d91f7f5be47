// The free functions' Python faces, stated as data: a function is its name,
// its parameters (each with its kind and, for vectors, the model size it
// must have) and a body that calls the algorithm on the converted arguments.
// One driver does the rest for every function, in the module's order of
// checks:
//   1. the interpreter's argument rules (counts, keywords);
//   2. each argument's type, in parameter order;
//   3. the contiguity of each array, in parameter order;
//   4. each size and index against the model, in parameter order;
// then the body runs, and any C++ exception it throws becomes the module's
// Python exception.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "convert.hpp"

namespace lumo::python {

enum class Kind : std::uint8_t {
  model,            // a Model
  data,             // a Data
  vector,           // a 1-D float64 array, of nq or nv elements
  joint_index,      // an index below njoints
  frame_index,      // an index below nframes
  reference_frame,  // a ReferenceFrame
};

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
};

// The parameters shared by most functions.
inline constexpr Param kModel{"model", Kind::model};
inline constexpr Param kData{"data", Kind::data};
inline constexpr Param kQ{"q", Kind::vector, Count::nq};
inline constexpr Param kV{"v", Kind::vector, Count::nv};
inline constexpr Param kA{"a", Kind::vector, Count::nv};
inline constexpr Param kTau{"tau", Kind::vector, Count::nv};
inline constexpr Param kJointId{"joint_id", Kind::joint_index};
inline constexpr Param kFrameId{"frame_id", Kind::frame_index};
inline constexpr Param kReferenceFrame{"reference_frame", Kind::reference_frame};

inline constexpr int kMaxParams = 6;
inline constexpr int kMaxVectors = 4;
inline constexpr int kMaxIndexes = 2;

// The converted arguments, by kind in parameter order: vector(0) is the
// first array parameter, index(0) the first index parameter.
// Each field is set by the checks of its parameter before any body reads it.
struct Call {
  Model* model;
  Data* data;
  VectorArg vectors[kMaxVectors];
  std::size_t indexes[kMaxIndexes];
  ReferenceFrame frame;

  Eigen::Map<const Eigen::VectorXd> vector(int k) const { return vectors[k].map(); }
  std::size_t index(int k) const { return indexes[k]; }
};

using Body = PyObject* (*)(Call&);

struct Function {
  const char* name;
  std::array<Param, kMaxParams> params{};
  std::array<const char*, kMaxParams> names{};
  int count = 0;
  Body body = nullptr;

  constexpr Function(const char* function_name, std::initializer_list<Param> parameters,
                     Body function_body)
      : name(function_name), body(function_body) {
    for (const Param& p : parameters) {
      params[count] = p;
      names[count] = p.name;
      ++count;
    }
  }
  Signature signature() const { return {name, names.data(), count}; }
};

// The ValueErrors of step 4, out of line: they run only on a bad argument.
bool raise_size_error(const Param& p, Py_ssize_t size, std::size_t n);
bool raise_index_error(const Param& p, std::size_t index, const Model& model);

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

// Step 2 for parameter K.
template <const Function& F, int K>
inline bool convert_type(PyObject* obj, Call& call) {
  constexpr Param p = F.params[K];
  if constexpr (p.kind == Kind::model) {
    return (call.model = as_model(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::data) {
    return (call.data = as_data(obj, p.name)) != nullptr;
  } else if constexpr (p.kind == Kind::vector) {
    return is_vector(obj, p.name);
  } else if constexpr (is_index(p.kind)) {
    return as_index(obj, p.name, call.indexes[slot<F, K>()]);
  } else {
    return as_reference_frame(obj, p.name, call.frame);
  }
}

// Step 3 for parameter K.
template <const Function& F, int K>
inline bool convert_layout(PyObject* obj, Call& call) {
  if constexpr (F.params[K].kind == Kind::vector)
    return vector_view(obj, call.vectors[slot<F, K>()]);
  else
    return true;
}

// Step 4 for parameter K.
template <const Function& F, int K>
inline bool check_against_model(Call& call) {
  constexpr Param p = F.params[K];
  const Model& model = *call.model;
  if constexpr (p.kind == Kind::vector) {
    const Py_ssize_t size = call.vectors[slot<F, K>()].size;
    const std::size_t n = p.count == Count::nq ? model.nq : model.nv;
    return static_cast<std::size_t>(size) == n || raise_size_error(p, size, n);
  } else if constexpr (is_index(p.kind)) {
    const std::size_t index = call.indexes[slot<F, K>()];
    return index < (p.kind == Kind::joint_index ? model.njoints : model.nframes) ||
           raise_index_error(p, index, model);
  } else {
    return true;
  }
}

template <const Function& F, int... K>
inline bool convert_arguments(PyObject* const* a, Call& call, std::integer_sequence<int, K...>) {
  return (convert_type<F, K>(a[K], call) && ...) && (convert_layout<F, K>(a[K], call) && ...) &&
         (check_against_model<F, K>(call) && ...);
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
  if (!convert_arguments<F>(a, call)) return nullptr;
  try {
    return F.body(call);
  } catch (...) {
    return raise_current_exception();
  }
}

// "name(p1, p2, …)\n--\n\n" followed by the description.
const char* function_docstring(const Function& f, const char* description);

// The module's table entry of function F.
template <const Function& F>
PyMethodDef function_entry(const char* description = "") {
  return {F.name, LUMO_FASTCALL(&call_function<F>), METH_FASTCALL | METH_KEYWORDS,
          function_docstring(F, description)};
}

inline PyObject* none() { Py_RETURN_NONE; }

}  // namespace lumo::python

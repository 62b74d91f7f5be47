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
struct Call {
  Model* model = nullptr;
  Data* data = nullptr;
  VectorArg vectors[kMaxVectors];
  std::size_t indexes[kMaxIndexes] = {};
  ReferenceFrame frame = ReferenceFrame::WORLD;

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

// Steps 2 to 4 for the parsed arguments a[0 .. count).
bool convert_arguments(const Function& f, PyObject* const* a, Call& call);

// The METH_FASTCALL | METH_KEYWORDS entry point of function F.
template <const Function& F>
PyObject* call_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) noexcept {
  PyObject* a[kMaxParams];
  Call call;
  if (!parse_arguments(F.signature(), args, nargs, kw, a) || !convert_arguments(F, a, call))
    return nullptr;
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

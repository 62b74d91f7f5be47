// The module's free functions. Each converts its arguments (types in
// parameter order, then contiguity, then sizes against the model), calls the
// algorithm and converts the result back into a new array.
#include "algorithms/configuration.hpp"
#include "algorithms/kinematics.hpp"
#include "bindings.hpp"
#include "convert.hpp"

namespace lumo::python {
namespace {

// The converted arguments of a call: the model, the workspace when the
// function takes one, and up to three vectors.
struct Inputs {
  Model* model = nullptr;
  Data* data = nullptr;
  VectorArg vec[3];
};

// Converts a[0] (model), a[1] (data, when `with_data`) and the `nvec`
// vectors that follow, named after the signature's parameters.
bool convert_inputs(const Signature& sig, PyObject* const* a, bool with_data, int nvec,
                    Inputs& in) {
  const int first = with_data ? 2 : 1;
  if ((in.model = as_model(a[0])) == nullptr) return false;
  if (with_data && (in.data = as_data(a[1])) == nullptr) return false;
  for (int k = 0; k < nvec; ++k)
    if (!is_vector(a[first + k], sig.params[first + k])) return false;
  for (int k = 0; k < nvec; ++k)
    if (!vector_view(a[first + k], in.vec[k])) return false;
  return true;
}

// ValueError "{name} length {len} != {count_name} {count}" unless sizes match.
bool check_length(const VectorArg& x, const char* name, std::size_t expected,
                  const char* count_name) {
  if (static_cast<std::size_t>(x.size) == expected) return true;
  raise_value_error(cat(name, " length ", x.size, " != ", count_name, " ", expected));
  return false;
}

PyObject* py_neutral(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model"};
  static const Signature sig{"neutral", params, 1};
  PyObject* a[1];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, false, 0, in))
    return nullptr;
  return fill_new_vector(static_cast<Py_ssize_t>(in.model->nq),
                         [&](Eigen::Map<Eigen::VectorXd> q) { neutral(*in.model, q); });
}

PyObject* py_integrate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "q", "v"};
  static const Signature sig{"integrate", params, 3};
  PyObject* a[3];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, false, 2, in))
    return nullptr;
  const Model& model = *in.model;
  if (static_cast<std::size_t>(in.vec[0].size) != model.nq)
    return raise_value_error(cat("Configuration vector size mismatch: expected ", model.nq,
                                 ", got ", in.vec[0].size));
  if (static_cast<std::size_t>(in.vec[1].size) != model.nv)
    return raise_value_error(cat("Velocity vector size mismatch: expected ", model.nv, ", got ",
                                 in.vec[1].size));
  return fill_new_vector(in.vec[0].size, [&](Eigen::Map<Eigen::VectorXd> out) {
    integrate(model, in.vec[0].map(), in.vec[1].map(), out);
  });
}

PyObject* py_forwardKinematics(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"forwardKinematics", params, 3};
  PyObject* a[3];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 1, in))
    return nullptr;
  if (static_cast<std::size_t>(in.vec[0].size) != in.model->nq)
    return raise_value_error(cat("Configuration vector length ", in.vec[0].size,
                                 " does not match model nq ", in.model->nq));
  return guarded([&]() -> PyObject* {
    forwardKinematics(*in.model, *in.data, in.vec[0].map());
    Py_RETURN_NONE;
  });
}

}  // namespace

PyMethodDef function_table[] = {
    {"neutral", LUMO_FASTCALL(py_neutral), METH_FASTCALL | METH_KEYWORDS,
     "neutral(model)\n--\n\n"},
    {"integrate", LUMO_FASTCALL(py_integrate), METH_FASTCALL | METH_KEYWORDS,
     "integrate(model, q, v)\n--\n\n"},
    {"forwardKinematics", LUMO_FASTCALL(py_forwardKinematics), METH_FASTCALL | METH_KEYWORDS,
     "forwardKinematics(model, data, q)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumo::python

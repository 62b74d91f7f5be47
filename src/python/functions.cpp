// The module's free functions. Each converts its arguments (types in
// parameter order, then contiguity, then sizes against the model), calls the
// algorithm and converts the result back into a new array.
#include "algorithms/all_terms.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
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

// Checks len(q) = nq, then len(v) = nv and len(a) = nv for the vectors
// present, with the "{name} length {len} != {count} {n}" messages.
bool check_state(const Inputs& in, int nvec) {
  const Model& m = *in.model;
  if (!check_length(in.vec[0], "q", m.nq, "nq")) return false;
  if (nvec > 1 && !check_length(in.vec[1], "v", m.nv, "nv")) return false;
  if (nvec > 2 && !check_length(in.vec[2], "a", m.nv, "nv")) return false;
  return true;
}

PyObject* py_rnea(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q", "v", "a"};
  static const Signature sig{"rnea", params, 5};
  PyObject* a[5];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 3, in) ||
      !check_state(in, 3))
    return nullptr;
  return guarded([&] {
    return new_vector(rnea(*in.model, *in.data, in.vec[0].map(), in.vec[1].map(), in.vec[2].map()));
  });
}

PyObject* py_non_linear_effects(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q", "v"};
  static const Signature sig{"non_linear_effects", params, 4};
  PyObject* a[4];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 2, in) ||
      !check_state(in, 2))
    return nullptr;
  return guarded([&] {
    return new_vector(non_linear_effects(*in.model, *in.data, in.vec[0].map(), in.vec[1].map()));
  });
}

PyObject* py_compute_gravity(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"compute_gravity", params, 3};
  PyObject* a[3];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 1, in) ||
      !check_state(in, 1))
    return nullptr;
  return guarded([&] { return new_vector(compute_gravity(*in.model, *in.data, in.vec[0].map())); });
}

PyObject* py_crba(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"crba", params, 3};
  PyObject* a[3];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 1, in) ||
      !check_state(in, 1))
    return nullptr;
  return guarded([&] { return new_matrix(crba(*in.model, *in.data, in.vec[0].map())); });
}

PyObject* py_computeJointJacobians(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kw) {
  static const char* const params[] = {"model", "data", "q"};
  static const Signature sig{"computeJointJacobians", params, 3};
  PyObject* a[3];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 1, in) ||
      !check_state(in, 1))
    return nullptr;
  return guarded([&]() -> PyObject* {
    computeJointJacobians(*in.model, *in.data, in.vec[0].map());
    Py_RETURN_NONE;
  });
}

PyObject* py_computeJointJacobian(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kw) {
  static const char* const params[] = {"model", "data", "q", "joint_id"};
  static const Signature sig{"computeJointJacobian", params, 4};
  PyObject* a[4];
  Inputs in;
  std::size_t joint_id = 0;
  if (!parse_arguments(sig, args, nargs, kw, a) || (in.model = as_model(a[0])) == nullptr ||
      (in.data = as_data(a[1])) == nullptr || !is_vector(a[2], "q") ||
      !as_index(a[3], "joint_id", joint_id) || !vector_view(a[2], in.vec[0]) || !check_state(in, 1))
    return nullptr;
  if (joint_id >= in.model->njoints)
    return raise_value_error(cat("joint_id ", joint_id, " >= njoints ", in.model->njoints));
  return fill_new_matrix6(static_cast<Py_ssize_t>(in.model->nv), [&](auto J) {
    computeJointJacobian(*in.model, *in.data, in.vec[0].map(), joint_id, J);
  });
}

// The frame index and reference frame of getFrameJacobian and
// getFrameJacobianTimeVariation, with the frame index checked.
bool frame_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kw,
                     Inputs& in, std::size_t& frame_id, ReferenceFrame& rf) {
  PyObject* a[4];
  if (!parse_arguments(sig, args, nargs, kw, a) || (in.model = as_model(a[0])) == nullptr ||
      (in.data = as_data(a[1])) == nullptr || !as_index(a[2], "frame_id", frame_id) ||
      !as_reference_frame(a[3], "reference_frame", rf))
    return false;
  if (frame_id >= in.model->nframes) {
    raise_value_error(cat("Frame ID ", frame_id, " out of range (max: ",
                          static_cast<long long>(in.model->nframes) - 1, ")"));
    return false;
  }
  return true;
}

PyObject* py_getFrameJacobian(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"model", "data", "frame_id", "reference_frame"};
  static const Signature sig{"getFrameJacobian", params, 4};
  Inputs in;
  std::size_t frame_id = 0;
  ReferenceFrame rf = ReferenceFrame::WORLD;
  if (!frame_arguments(sig, args, nargs, kw, in, frame_id, rf)) return nullptr;
  return fill_new_matrix6(static_cast<Py_ssize_t>(in.model->nv), [&](auto J) {
    extractJointJacobian(*in.model, *in.data, frame_parent_joint(*in.model, frame_id), rf, J);
  });
}

// The functions of (model, data, q, v) that return None.
template <void (*Algorithm)(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                            const Eigen::Ref<const Eigen::VectorXd>&)>
PyObject* state_function(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kw) {
  PyObject* a[4];
  Inputs in;
  if (!parse_arguments(sig, args, nargs, kw, a) || !convert_inputs(sig, a, true, 2, in) ||
      !check_state(in, 2))
    return nullptr;
  return guarded([&]() -> PyObject* {
    Algorithm(*in.model, *in.data, in.vec[0].map(), in.vec[1].map());
    Py_RETURN_NONE;
  });
}

const char* const kStateParams[] = {"model", "data", "q", "v"};

PyObject* py_computeJointJacobiansTimeVariation(PyObject*, PyObject* const* args,
                                                Py_ssize_t nargs, PyObject* kw) {
  static const Signature sig{"computeJointJacobiansTimeVariation", kStateParams, 4};
  return state_function<computeJointJacobiansTimeVariation>(sig, args, nargs, kw);
}

PyObject* py_computeAllTerms(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const Signature sig{"computeAllTerms", kStateParams, 4};
  return state_function<computeAllTerms>(sig, args, nargs, kw);
}

PyObject* py_computeCoriolisMatrix(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kw) {
  static const Signature sig{"computeCoriolisMatrix", kStateParams, 4};
  return state_function<computeCoriolisMatrix>(sig, args, nargs, kw);
}

PyObject* py_getFrameJacobianTimeVariation(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kw) {
  static const char* const params[] = {"model", "data", "frame_id", "reference_frame"};
  static const Signature sig{"getFrameJacobianTimeVariation", params, 4};
  Inputs in;
  std::size_t frame_id = 0;
  ReferenceFrame rf = ReferenceFrame::WORLD;
  if (!frame_arguments(sig, args, nargs, kw, in, frame_id, rf)) return nullptr;
  return fill_new_matrix6(static_cast<Py_ssize_t>(in.model->nv), [&](auto dJ) {
    getFrameJacobianTimeVariation(*in.model, *in.data, frame_id, rf, dJ);
  });
}

}  // namespace

// The argument list shared by the descriptions of the (model, data, q, v) functions.
#define STATE_ARGUMENTS                                           \
  "# Arguments\n"                                                 \
  "* `model` - The model\n"                                       \
  "* `data` - The workspace of the model\n"                       \
  "* `q` - Configuration vector (numpy array of size model.nq)\n" \
  "* `v` - Velocity vector (numpy array of size model.nv)\n\n"

PyMethodDef function_table[] = {
    {"neutral", LUMO_FASTCALL(py_neutral), METH_FASTCALL | METH_KEYWORDS,
     "neutral(model)\n--\n\n"},
    {"integrate", LUMO_FASTCALL(py_integrate), METH_FASTCALL | METH_KEYWORDS,
     "integrate(model, q, v)\n--\n\n"},
    {"forwardKinematics", LUMO_FASTCALL(py_forwardKinematics), METH_FASTCALL | METH_KEYWORDS,
     "forwardKinematics(model, data, q)\n--\n\n"},
    {"rnea", LUMO_FASTCALL(py_rnea), METH_FASTCALL | METH_KEYWORDS,
     "rnea(model, data, q, v, a)\n--\n\n"},
    {"crba", LUMO_FASTCALL(py_crba), METH_FASTCALL | METH_KEYWORDS, "crba(model, data, q)\n--\n\n"},
    {"computeJointJacobians", LUMO_FASTCALL(py_computeJointJacobians),
     METH_FASTCALL | METH_KEYWORDS, "computeJointJacobians(model, data, q)\n--\n\n"},
    {"computeJointJacobian", LUMO_FASTCALL(py_computeJointJacobian), METH_FASTCALL | METH_KEYWORDS,
     "computeJointJacobian(model, data, q, joint_id)\n--\n\n"
     "Compute the Jacobian of a specific joint expressed in the local frame of the joint\n\n"
     "# Arguments\n"
     "* `model` - The model\n"
     "* `data` - The workspace of the model\n"
     "* `q` - Configuration vector (numpy array of size model.nq)\n"
     "* `joint_id` - Index of the joint\n\n"
     "# Returns\n"
     "6×nv Jacobian matrix expressed in the local frame of the joint"},
    {"computeJointJacobiansTimeVariation", LUMO_FASTCALL(py_computeJointJacobiansTimeVariation),
     METH_FASTCALL | METH_KEYWORDS,
     "computeJointJacobiansTimeVariation(model, data, q, v)\n--\n\n"
     "Compute the time variation of joint Jacobians (dJ/dt)\n\n"
     "The result is stored in data.dJ as a 6×nv matrix, computed as dJ = [ov]× * J\n"
     "from q and v alone: computeAllTerms need not be called first.\n\n"
     STATE_ARGUMENTS
     "# Returns\n"
     "None; the result is stored in data.dJ"},
    {"getFrameJacobian", LUMO_FASTCALL(py_getFrameJacobian), METH_FASTCALL | METH_KEYWORDS,
     "getFrameJacobian(model, data, frame_id, reference_frame)\n--\n\n"},
    {"getFrameJacobianTimeVariation", LUMO_FASTCALL(py_getFrameJacobianTimeVariation),
     METH_FASTCALL | METH_KEYWORDS,
     "getFrameJacobianTimeVariation(model, data, frame_id, reference_frame)\n--\n\n"},
    {"non_linear_effects", LUMO_FASTCALL(py_non_linear_effects), METH_FASTCALL | METH_KEYWORDS,
     "non_linear_effects(model, data, q, v)\n--\n\n"},
    {"compute_gravity", LUMO_FASTCALL(py_compute_gravity), METH_FASTCALL | METH_KEYWORDS,
     "compute_gravity(model, data, q)\n--\n\n"},
    {"computeAllTerms", LUMO_FASTCALL(py_computeAllTerms), METH_FASTCALL | METH_KEYWORDS,
     "computeAllTerms(model, data, q, v)\n--\n\n"
     "Compute all terms (forward kinematics, velocities, accelerations, etc.)\n\n"
     "This computes, with zero joint acceleration:\n"
     "- Forward kinematics (positions and orientations)\n"
     "- Velocities and accelerations\n"
     "- Jacobians\n"
     "- Composite rigid body inertias\n"
     "- Centroidal quantities\n\n"
     STATE_ARGUMENTS
     "# Returns\n"
     "None; the results are stored in data"},
    {"computeCoriolisMatrix", LUMO_FASTCALL(py_computeCoriolisMatrix), METH_FASTCALL | METH_KEYWORDS,
     "computeCoriolisMatrix(model, data, q, v)\n--\n\n"
     "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics\n\n"
     "The equations of motion read M(q) * ddq + C(q, dq) * dq + g(q) = tau.\n"
     "The Coriolis matrix C is stored in data.C\n\n"
     STATE_ARGUMENTS
     "# Returns\n"
     "None; the result is stored in data.C"},
    {"parse_urdf_file", LUMO_FASTCALL(py_parse_urdf_file), METH_FASTCALL | METH_KEYWORDS,
     "parse_urdf_file(filename)\n--\n\n"},
    {"parse_urdf_from_string", LUMO_FASTCALL(py_parse_urdf_from_string),
     METH_FASTCALL | METH_KEYWORDS, "parse_urdf_from_string(urdf_string)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumo::python

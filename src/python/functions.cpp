// The module's free functions, one table entry each: the parameters (whose
// checks the driver in function_table.hpp runs) and a body that calls the
// algorithm and converts its result into a new array.
#include "algorithms/all_terms.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
#include "bindings.hpp"
#include "function_table.hpp"

namespace lumo::python {
namespace {

// The size messages that neutral's companions and forwardKinematics have kept.
constexpr Param kIntegrateQ{"q", Kind::vector, Count::nq,
                            "Configuration vector size mismatch: expected {n}, got {len}"};
constexpr Param kIntegrateV{"v", Kind::vector, Count::nv,
                            "Velocity vector size mismatch: expected {n}, got {len}"};
constexpr Param kKinematicsQ{"q", Kind::vector, Count::nq,
                             "Configuration vector length {len} does not match model nq {n}"};

Py_ssize_t nv_of(const Call& c) { return static_cast<Py_ssize_t>(c.model->nv); }

constexpr Function kNeutral{"neutral", {kModel}, [](Call& c) {
  return fill_new_vector(static_cast<Py_ssize_t>(c.model->nq),
                         [&](Eigen::Map<Eigen::VectorXd> q) { neutral(*c.model, q); });
}};

constexpr Function kIntegrate{"integrate", {kModel, kIntegrateQ, kIntegrateV}, [](Call& c) {
  return fill_new_vector(c.vectors[0].size, [&](Eigen::Map<Eigen::VectorXd> out) {
    integrate(*c.model, c.vector(0), c.vector(1), out);
  });
}};

constexpr Function kForwardKinematics{"forwardKinematics", {kModel, kData, kKinematicsQ}, [](Call& c) {
  forwardKinematics(*c.model, *c.data, c.vector(0));
  return none();
}};

constexpr Function kRnea{"rnea", {kModel, kData, kQ, kV, kA}, [](Call& c) {
  return new_vector(rnea(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2)));
}};

constexpr Function kNonLinearEffects{"non_linear_effects", {kModel, kData, kQ, kV}, [](Call& c) {
  return new_vector(non_linear_effects(*c.model, *c.data, c.vector(0), c.vector(1)));
}};

constexpr Function kComputeGravity{"compute_gravity", {kModel, kData, kQ}, [](Call& c) {
  return new_vector(compute_gravity(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kCrba{"crba", {kModel, kData, kQ}, [](Call& c) {
  return new_matrix(crba(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kComputeJointJacobians{"computeJointJacobians", {kModel, kData, kQ}, [](Call& c) {
  computeJointJacobians(*c.model, *c.data, c.vector(0));
  return none();
}};

constexpr Function kComputeJointJacobian{
    "computeJointJacobian", {kModel, kData, kQ, kJointId}, [](Call& c) {
      return fill_new_matrix6(nv_of(c), [&](auto J) {
        computeJointJacobian(*c.model, *c.data, c.vector(0), c.index(0), J);
      });
    }};

constexpr Function kGetFrameJacobian{
    "getFrameJacobian", {kModel, kData, kFrameId, kReferenceFrame}, [](Call& c) {
      return fill_new_matrix6(nv_of(c), [&](auto J) {
        extractJointJacobian(*c.model, *c.data, frame_parent_joint(*c.model, c.index(0)), c.frame, J);
      });
    }};

constexpr Function kGetFrameJacobianTimeVariation{
    "getFrameJacobianTimeVariation", {kModel, kData, kFrameId, kReferenceFrame}, [](Call& c) {
      return fill_new_matrix6(nv_of(c), [&](auto dJ) {
        getFrameJacobianTimeVariation(*c.model, *c.data, c.index(0), c.frame, dJ);
      });
    }};

constexpr Function kComputeJointJacobiansTimeVariation{
    "computeJointJacobiansTimeVariation", {kModel, kData, kQ, kV}, [](Call& c) {
      computeJointJacobiansTimeVariation(*c.model, *c.data, c.vector(0), c.vector(1));
      return none();
    }};

constexpr Function kComputeAllTerms{"computeAllTerms", {kModel, kData, kQ, kV}, [](Call& c) {
  computeAllTerms(*c.model, *c.data, c.vector(0), c.vector(1));
  return none();
}};

constexpr Function kComputeCoriolisMatrix{"computeCoriolisMatrix", {kModel, kData, kQ, kV}, [](Call& c) {
  computeCoriolisMatrix(*c.model, *c.data, c.vector(0), c.vector(1));
  return none();
}};

}  // namespace

// The argument list shared by the descriptions of the (model, data, q, v) functions.
#define STATE_ARGUMENTS                                           \
  "# Arguments\n"                                                 \
  "* `model` - The model\n"                                       \
  "* `data` - The workspace of the model\n"                       \
  "* `q` - Configuration vector (numpy array of size model.nq)\n" \
  "* `v` - Velocity vector (numpy array of size model.nv)\n\n"

PyMethodDef function_table[] = {
    function_entry<kNeutral>(),
    function_entry<kIntegrate>(),
    function_entry<kForwardKinematics>(),
    function_entry<kRnea>(),
    function_entry<kCrba>(),
    function_entry<kComputeJointJacobians>(),
    function_entry<kComputeJointJacobian>(
        "Compute the Jacobian of a specific joint expressed in the local frame of the joint\n\n"
        "# Arguments\n"
        "* `model` - The model\n"
        "* `data` - The workspace of the model\n"
        "* `q` - Configuration vector (numpy array of size model.nq)\n"
        "* `joint_id` - Index of the joint\n\n"
        "# Returns\n"
        "6×nv Jacobian matrix expressed in the local frame of the joint"),
    function_entry<kComputeJointJacobiansTimeVariation>(
        "Compute the time variation of joint Jacobians (dJ/dt)\n\n"
        "The result is stored in data.dJ as a 6×nv matrix, computed as dJ = [ov]× * J\n"
        "from q and v alone: computeAllTerms need not be called first.\n\n"
        STATE_ARGUMENTS
        "# Returns\n"
        "None; the result is stored in data.dJ"),
    function_entry<kGetFrameJacobian>(),
    function_entry<kGetFrameJacobianTimeVariation>(),
    function_entry<kNonLinearEffects>(),
    function_entry<kComputeGravity>(),
    function_entry<kComputeAllTerms>(
        "Compute all terms (forward kinematics, velocities, accelerations, etc.)\n\n"
        "This computes, with zero joint acceleration:\n"
        "- Forward kinematics (positions and orientations)\n"
        "- Velocities and accelerations\n"
        "- Jacobians\n"
        "- Composite rigid body inertias\n"
        "- Centroidal quantities\n\n"
        STATE_ARGUMENTS
        "# Returns\n"
        "None; the results are stored in data"),
    function_entry<kComputeCoriolisMatrix>(
        "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics\n\n"
        "The equations of motion read M(q) * ddq + C(q, dq) * dq + g(q) = tau.\n"
        "The Coriolis matrix C is stored in data.C\n\n"
        STATE_ARGUMENTS
        "# Returns\n"
        "None; the result is stored in data.C"),
    {"parse_urdf_file", LUMO_FASTCALL(py_parse_urdf_file), METH_FASTCALL | METH_KEYWORDS,
     "parse_urdf_file(filename)\n--\n\n"},
    {"parse_urdf_from_string", LUMO_FASTCALL(py_parse_urdf_from_string),
     METH_FASTCALL | METH_KEYWORDS, "parse_urdf_from_string(urdf_string)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumo::python

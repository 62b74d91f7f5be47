// The module's free functions, one table entry each: the parameters (whose
// checks the driver in function_table.hpp runs) and a body that calls the
// algorithm and converts its result into a new array.
#include "algorithms/aba.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/energy.hpp"
#include "algorithms/frames.hpp"
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

// ------------------------------------------------ forward dynamics and more

constexpr Function kAba{"aba", {kModel, kData, kQ, kV, kTau}, [](Call& c) {
  return new_vector(aba(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2)));
}};

constexpr Function kComputeMinverse{"computeMinverse", {kModel, kData, kQ}, [](Call& c) {
  return new_symmetric_matrix(computeMinverse(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kGetFramePlacement{"getFramePlacement", {kModel, kData, kFrameId}, [](Call& c) {
  return new_se3(getFramePlacement(*c.model, *c.data, c.index(0)));
}};

constexpr Function kUpdateFramePlacements{"updateFramePlacements", {kModel, kData}, [](Call& c) {
  const Model& model = *c.model;
  c.data->check_model(model);
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(model.nframes));
  if (list == nullptr) return list;
  for (FrameIndex k = 0; k < model.nframes; ++k) {
    PyObject* placement = new_se3(getFramePlacement(model, *c.data, k));
    if (placement == nullptr) {
      Py_DECREF(list);
      return placement;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), placement);
  }
  return list;
}};

constexpr Function kCenterOfMass{"centerOfMass", {kModel, kData, kQ}, [](Call& c) {
  return new_vector(centerOfMass(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kJacobianCenterOfMass{"jacobianCenterOfMass", {kModel, kData, kQ}, [](Call& c) {
  return new_matrix(jacobianCenterOfMass(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kComputeCentroidalMap{"computeCentroidalMap", {kModel, kData, kQ}, [](Call& c) {
  return new_matrix(computeCentroidalMap(*c.model, *c.data, c.vector(0)));
}};

constexpr Function kComputeCentroidalMomentum{
    "computeCentroidalMomentum", {kModel, kData, kQ, kV}, [](Call& c) {
      return new_vector(computeCentroidalMomentum(*c.model, *c.data, c.vector(0), c.vector(1)));
    }};

constexpr Function kComputeKineticEnergy{"computeKineticEnergy", {kModel, kData, kQ, kV}, [](Call& c) {
  return PyFloat_FromDouble(computeKineticEnergy(*c.model, *c.data, c.vector(0), c.vector(1)));
}};

constexpr Function kComputePotentialEnergy{"computePotentialEnergy", {kModel, kData, kQ}, [](Call& c) {
  return PyFloat_FromDouble(computePotentialEnergy(*c.model, *c.data, c.vector(0)));
}};

constexpr Param kQ0{"q0", Kind::vector, Count::nq};
constexpr Param kQ1{"q1", Kind::vector, Count::nq};

constexpr Function kDifference{"difference", {kModel, kQ0, kQ1}, [](Call& c) {
  return fill_new_vector(static_cast<Py_ssize_t>(c.model->nv), [&](Eigen::Map<Eigen::VectorXd> v) {
    difference(*c.model, c.vector(0), c.vector(1), v);
  });
}};

// ------------------------------------------------------------- derivatives

// A new tuple of three new arrays: the two nv×nv derivatives and the
// symmetric third one.
PyObject* derivative_triple(const Eigen::MatrixXd& d_dq, const Eigen::MatrixXd& d_dv,
                            const Eigen::MatrixXd& symmetric) {
  PyObject* items[3] = {new_matrix(d_dq), nullptr, nullptr};
  if (items[0] != nullptr) items[1] = new_matrix(d_dv);
  if (items[1] != nullptr) items[2] = new_symmetric_matrix(symmetric);
  PyObject* out = items[2] != nullptr ? PyTuple_Pack(3, items[0], items[1], items[2]) : nullptr;
  for (PyObject* item : items) Py_XDECREF(item);
  return out;
}

constexpr Function kComputeRNEADerivatives{
    "computeRNEADerivatives", {kModel, kData, kQ, kV, kA}, [](Call& c) {
      Data& d = *c.data;
      computeRNEADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2));
      return derivative_triple(d.dtau_dq, d.dtau_dv, d.dtau_da);
    }};

constexpr Function kComputeABADerivatives{
    "computeABADerivatives", {kModel, kData, kQ, kV, kTau}, [](Call& c) {
      Data& d = *c.data;
      computeABADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2));
      return derivative_triple(d.ddq_dq, d.ddq_dv, d.Minv);
    }};

constexpr Function kComputeGeneralizedGravityDerivatives{
    "computeGeneralizedGravityDerivatives", {kModel, kData, kQ}, [](Call& c) {
      return new_matrix(computeGeneralizedGravityDerivatives(*c.model, *c.data, c.vector(0)));
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
    function_entry<kAba>(
        "Forward dynamics: the joint accelerations under the torques tau, gravity and the\n"
        "model's bodies, by the articulated-body algorithm\n\n"
        "# Returns\n"
        "ddq, numpy array of size model.nv (also stored in the workspace)"),
    function_entry<kComputeMinverse>(
        "The inverse of the joint-space mass matrix, M(q)⁻¹, full and symmetric\n\n"
        "# Returns\n"
        "nv×nv numpy array"),
    function_entry<kGetFramePlacement>(
        "Placement of frame frame_id in the world, from the joint placements in data\n"
        "(call forwardKinematics, or any algorithm that computes them, first)\n\n"
        "# Returns\n"
        "SE3"),
    function_entry<kUpdateFramePlacements>(
        "Placements of every frame in the world, from the joint placements in data\n\n"
        "# Returns\n"
        "list of SE3, one per frame"),
    function_entry<kCenterOfMass>(
        "Centre of mass of all bodies in the world frame (zero for a massless model)\n\n"
        "# Returns\n"
        "numpy array of size 3"),
    function_entry<kJacobianCenterOfMass>(
        "Jacobian of the centre of mass: its velocity per unit joint velocity, world frame\n\n"
        "# Returns\n"
        "3×nv numpy array"),
    function_entry<kComputeCentroidalMap>(
        "Centroidal momentum matrix: the momentum of the system about its centre of mass,\n"
        "world axes, per unit joint velocity; rows [linear; angular]\n\n"
        "# Returns\n"
        "6×nv numpy array"),
    function_entry<kComputeCentroidalMomentum>(
        "Centroidal momentum: linear momentum and angular momentum about the centre of\n"
        "mass, world axes\n\n"
        "# Returns\n"
        "numpy array of size 6, [linear; angular]"),
    function_entry<kComputeKineticEnergy>(
        "Kinetic energy ½ vᵀ M(q) v, from the body velocities\n\n"
        "# Returns\n"
        "float, in joules"),
    function_entry<kComputePotentialEnergy>(
        "Potential energy of the bodies in the model's gravity, −Σ mᵢ g·cᵢ (zero at the\n"
        "world origin)\n\n"
        "# Returns\n"
        "float, in joules"),
    function_entry<kDifference>(
        "The velocity v for which integrate(model, q0, v) gives q1, joint by joint\n\n"
        "# Returns\n"
        "numpy array of size model.nv"),
    function_entry<kComputeRNEADerivatives>(
        "Derivatives of the inverse dynamics tau = rnea(q, v, a)\n\n"
        "Derivatives with respect to q are taken along integrate: column k is the\n"
        "derivative along the k-th velocity coordinate.\n\n"
        "# Returns\n"
        "(dtau_dq, dtau_dv, dtau_da), three nv×nv numpy arrays; dtau_da is M"),
    function_entry<kComputeABADerivatives>(
        "Derivatives of the forward dynamics ddq = aba(q, v, tau)\n\n"
        "Derivatives with respect to q are taken along integrate: column k is the\n"
        "derivative along the k-th velocity coordinate.\n\n"
        "# Returns\n"
        "(dddq_dq, dddq_dv, dddq_dtau), three nv×nv numpy arrays; dddq_dtau is M⁻¹"),
    function_entry<kComputeGeneralizedGravityDerivatives>(
        "Derivative of the gravity torques compute_gravity(q) along integrate\n\n"
        "# Returns\n"
        "nv×nv numpy array"),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace lumo::python

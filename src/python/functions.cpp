// The module's free functions, one declaration each: the parameters (whose
// checks the drivers in function_table.hpp and batch.cpp run), the result,
// made from one expression of the algorithm (the single call converts it,
// the batch kernel copies it into its row) or, where the algorithm has a
// form that writes into the caller's memory, from that form too (the batch
// row is then written once, in place), and where it is documented. The
// list at the end gives the module's order.
#include <algorithm>
#include <limits>

#include "algorithms/aba.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/configuration_derivatives.hpp"
#include "algorithms/constrained_dynamics.hpp"
#include "algorithms/constraints.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/energy.hpp"
#include "algorithms/frame_motion.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/inverse_kinematics.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/kinematics_derivatives.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
#include "model/model_operations.hpp"
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
constexpr Param kQ0{"q0", Kind::vector, Count::nq};
constexpr Param kQ1{"q1", Kind::vector, Count::nq};

// The argument list shared by the descriptions of the (model, data, q, v) functions.
#define STATE_ARGUMENTS                                           \
  "# Arguments\n"                                                 \
  "* `model` - The model\n"                                       \
  "* `data` - The workspace of the model\n"                       \
  "* `q` - Configuration vector (numpy array of size model.nq)\n" \
  "* `v` - Velocity vector (numpy array of size model.nv)\n\n"

// ------------------------------------------------------------ configuration

constexpr Function kNeutral{
    "neutral", {kModel},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> q) { neutral(*c.model, q); }, Shape::nq>(),
    {.page = "configuration"}};

constexpr Function kIntegrate{
    "integrate", {kModel, kIntegrateQ, kIntegrateV},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> out) {
      integrate(*c.model, c.vector(0), c.vector(1), out);
    }, Shape::nq>(),
    {.page = "configuration",
     .rows = "Configurations q moved along v for unit time, (N, nq)."}};

constexpr Function kDifference{
    "difference", {kModel, kQ0, kQ1},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> v) {
      difference(*c.model, c.vector(0), c.vector(1), v);
    }, Shape::nv>(),
    {.page = "configuration",
     .text = "The velocity v for which integrate(model, q0, v) gives q1, joint by joint\n\n"
             "# Returns\n"
             "numpy array of size model.nv",
     .rows = "Velocities v with integrate(q0, v) = q1, (N, nv)."}};

constexpr Function kDIntegrate{
    "dIntegrate", {kModel, kIntegrateQ, kIntegrateV},
    matrices_into<[](Call& c, auto dq, auto dv) { dIntegrate(*c.model, c.vector(0), c.vector(1), dq, dv); },
                  2, Shape::nv_nv>(),
    {.page = "configuration",
     .text = "Derivatives of q1 = integrate(model, q, v) with respect to q and to v, both\n"
             "taken in the tangent spaces that integrate defines (column k: the motion of q\n"
             "or v along the k-th velocity coordinate; row k: that of q1)\n\n"
             "# Returns\n"
             "(dq1_dq, dq1_dv), two nv×nv numpy arrays",
     .rows = "(dq1_dq, dq1_dv) of integrate, each (N, nv, nv)."}};

constexpr Function kDDifference{
    "dDifference", {kModel, kQ0, kQ1},
    matrices_into<[](Call& c, auto d0, auto d1) { dDifference(*c.model, c.vector(0), c.vector(1), d0, d1); },
                  2, Shape::nv_nv>(),
    {.page = "configuration",
     .text = "Derivatives of v = difference(model, q0, q1) with respect to q0 and to q1,\n"
             "taken along integrate (column k: the motion of the configuration along the\n"
             "k-th velocity coordinate)\n\n"
             "# Returns\n"
             "(dv_dq0, dv_dq1), two nv×nv numpy arrays",
     .rows = "(dv_dq0, dv_dq1) of difference, each (N, nv, nv)."}};

constexpr Function kTangentMap{
    "tangentMap", {kModel, kIntegrateQ},
    matrices_into<[](Call& c, auto T) { tangentMap(*c.model, c.vector(0), T); }, 1, Shape::nq_nv>(),
    {.page = "configuration",
     .text = "The derivative of integrate(model, q, dv) with respect to dv at dv = 0: how\n"
             "each velocity coordinate moves the configuration coordinates. Its columns are\n"
             "orthogonal, so T / (column norms squared) maps a gradient taken along\n"
             "integrate to one in configuration coordinates\n\n"
             "# Returns\n"
             "numpy array of shape (model.nq, model.nv)",
     .rows = "Tangent maps of the configurations, (N, nq, nv)."}};

// --------------------------------------------------------------- kinematics

constexpr Function kForwardKinematics{
    "forwardKinematics", {kModel, kData, kKinematicsQ},
    nothing<[](Call& c) { forwardKinematics(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "kinematics"}};

// Frame placements as homogeneous matrices: a batch form of its own, since
// the single forwardKinematics returns None.
constexpr Function kFramePlacements{
    "framePlacements", {kModel, kData, kQ, kFrameIds},
    rows<[](Call& c, double* const* out) {
      forwardKinematics(*c.model, *c.data, c.vector(0));
      double* H = out[0];
      for (std::size_t k = 0; k < c.nframe_ids; ++k, H += 16) {
        const SE3 oMf = getFramePlacement(*c.model, *c.data, c.frame_ids[k]);  // oMi[parent] · frame placement
        for (int r = 0; r < 3; ++r) {
          for (int j = 0; j < 3; ++j) H[4 * r + j] = oMf.rotation(r, j);
          H[4 * r + 3] = oMf.translation[r];
        }
        H[12] = H[13] = H[14] = 0.0;
        H[15] = 1.0;
      }
    }>(Shape::frames_4_4),
    {.page = "batch",
     .rows = "World placements of the frames `frame_ids` as homogeneous matrices, "
             "(N, len(frame_ids), 4, 4).",
     .former_batch_name = "forwardKinematics",
     .batch_only = true}};

constexpr Function kGetFramePlacement{
    "getFramePlacement", {kModel, kData, kFrameId},
    object<[](Call& c) { return new_se3(getFramePlacement(*c.model, *c.data, c.index(0))); }>("SE3"),
    {.page = "kinematics",
     .text = "Placement of frame frame_id in the world, from the joint placements in data\n"
             "(call forwardKinematics, or any algorithm that computes them, first)\n\n"
             "# Returns\n"
             "SE3"}};

constexpr Function kUpdateFramePlacements{
    "updateFramePlacements", {kModel, kData},
    object<[](Call& c) -> PyObject* {
      const Model& model = *c.model;
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
    }>("list[SE3]"),
    {.page = "kinematics",
     .text = "Placements of every frame in the world, from the joint placements in data\n\n"
             "# Returns\n"
             "list of SE3, one per frame"}};

// ----------------------------------------------------------------- dynamics

constexpr Function kRnea{
    "rnea", {kModel, kData, kQ, kV, kA},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return rnea(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }, [](Call& c, Eigen::Ref<Eigen::VectorXd> tau) {
      rnea(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), tau);
    }>(Shape::nv), lockstep::Kernel::rnea),
    {.page = "dynamics", .rows = "Joint torques, (N, nv)."}};

constexpr Function kNonLinearEffects{
    "non_linear_effects", {kModel, kData, kQ, kV},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return non_linear_effects(*c.model, *c.data, c.vector(0), c.vector(1));
    }>(Shape::nv), lockstep::Kernel::non_linear_effects),
    {.page = "dynamics", .rows = "Coriolis, centrifugal and gravity torques, (N, nv)."}};

constexpr Function kComputeGravity{
    "compute_gravity", {kModel, kData, kQ},
    in_lock_step(vector<[](Call& c) -> decltype(auto) { return compute_gravity(*c.model, *c.data, c.vector(0)); }>(
                     Shape::nv),
                 lockstep::Kernel::gravity),
    {.page = "dynamics", .rows = "Gravity torques, (N, nv)."}};

constexpr Function kCrba{
    "crba", {kModel, kData, kQ},
    in_lock_step(upper_triangle<[](Call& c) -> decltype(auto) { return crba(*c.model, *c.data, c.vector(0)); },
                                [](Call& c, Eigen::Ref<Eigen::MatrixXd> M) {
                                  crba(*c.model, *c.data, c.vector(0), M);
                                }>(),
                 lockstep::Kernel::crba),
    {.page = "dynamics",
     .rows = "Mass matrices, full and symmetric (as Data.M shows them), (N, nv, nv)."}};

constexpr Function kAba{
    "aba", {kModel, kData, kQ, kV, kTau},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return aba(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }, [](Call& c, Eigen::Ref<Eigen::VectorXd> ddq) {
      aba(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), ddq);
    }>(Shape::nv), lockstep::Kernel::aba),
    {.page = "dynamics",
     .text = "Forward dynamics: the joint accelerations under the torques tau, gravity and the\n"
             "model's bodies, by the articulated-body algorithm\n\n"
             "# Returns\n"
             "ddq, numpy array of size model.nv (also stored in the workspace)",
     .rows = "Joint accelerations under the torques tau, (N, nv)."}};

constexpr Function kComputeMinverse{
    "computeMinverse", {kModel, kData, kQ},
    symmetric<[](Call& c) -> decltype(auto) { return computeMinverse(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "dynamics",
     .text = "The inverse of the joint-space mass matrix, M(q)⁻¹, full and symmetric\n\n"
             "# Returns\n"
             "nv×nv numpy array",
     .rows = "Inverse mass matrices, full and symmetric, (N, nv, nv)."}};

constexpr Function kComputeAllTerms{
    "computeAllTerms", {kModel, kData, kQ, kV},
    nothing<[](Call& c) { computeAllTerms(*c.model, *c.data, c.vector(0), c.vector(1)); }>(),
    {.page = "dynamics",
     .text = "Compute all terms (forward kinematics, velocities, accelerations, etc.)\n\n"
             "This computes, with zero joint acceleration:\n"
             "- Forward kinematics (positions and orientations)\n"
             "- Velocities and accelerations\n"
             "- Jacobians\n"
             "- Composite rigid body inertias\n"
             "- Centroidal quantities\n\n"
             STATE_ARGUMENTS
             "# Returns\n"
             "None; the results are stored in data"}};

constexpr Function kComputeCoriolisMatrix{
    "computeCoriolisMatrix", {kModel, kData, kQ, kV},
    nothing<[](Call& c) { computeCoriolisMatrix(*c.model, *c.data, c.vector(0), c.vector(1)); }>(),
    {.page = "dynamics",
     .text = "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics\n\n"
             "The equations of motion read M(q) * ddq + C(q, dq) * dq + g(q) = tau.\n"
             "The Coriolis matrix C is stored in data.C\n\n"
             STATE_ARGUMENTS
             "# Returns\n"
             "None; the result is stored in data.C"}};

// ---------------------------------------------------------------- jacobians

constexpr Function kComputeJointJacobians{
    "computeJointJacobians", {kModel, kData, kQ},
    nothing<[](Call& c) { computeJointJacobians(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "jacobians"}};

constexpr Function kComputeJointJacobian{
    "computeJointJacobian", {kModel, kData, kQ, kJointId},
    matrix6_into<[](Call& c, auto J) {
      computeJointJacobian(*c.model, *c.data, c.vector(0), c.index(0), J);
    }>(),
    {.page = "jacobians",
     .text = "Compute the Jacobian of a specific joint expressed in the local frame of the joint\n\n"
             "# Arguments\n"
             "* `model` - The model\n"
             "* `data` - The workspace of the model\n"
             "* `q` - Configuration vector (numpy array of size model.nq)\n"
             "* `joint_id` - Index of the joint\n\n"
             "# Returns\n"
             "6×nv Jacobian matrix expressed in the local frame of the joint"}};

constexpr Function kGetFrameJacobian{
    "getFrameJacobian", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_into<[](Call& c, auto J) {
      extractJointJacobian(*c.model, *c.data, frame_parent_joint(*c.model, c.index(0)), c.frame, J);
    }>(),
    {.page = "jacobians"}};

// The Jacobians computed from q: a batch form of its own, since the single
// getFrameJacobian reads them from data.
constexpr Function kComputeFrameJacobian{
    "computeFrameJacobian", {kModel, kData, kQ, kFrameId, kReferenceFrame},
    matrix6_into<[](Call& c, auto J) {
      computeJointJacobians(*c.model, *c.data, c.vector(0));
      extractJointJacobian(*c.model, *c.data, frame_parent_joint(*c.model, c.index(0)), c.frame, J);
    }>(),
    {.page = "batch",
     .rows = "Jacobians of frame `frame_id` in `reference_frame` after computeJointJacobians, "
             "(N, 6, nv), rows [linear; angular].",
     .former_batch_name = "getFrameJacobian",
     .batch_only = true}};

constexpr Function kComputeJointJacobiansTimeVariation{
    "computeJointJacobiansTimeVariation", {kModel, kData, kQ, kV},
    nothing<[](Call& c) {
      computeJointJacobiansTimeVariation(*c.model, *c.data, c.vector(0), c.vector(1));
    }>(),
    {.page = "jacobians",
     .text = "Compute the time variation of joint Jacobians (dJ/dt)\n\n"
             "The result is stored in data.dJ as a 6×nv matrix, computed as dJ = [ov]× * J\n"
             "from q and v alone: computeAllTerms need not be called first.\n\n"
             STATE_ARGUMENTS
             "# Returns\n"
             "None; the result is stored in data.dJ"}};

constexpr Function kGetFrameJacobianTimeVariation{
    "getFrameJacobianTimeVariation", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_into<[](Call& c, auto dJ) {
      getFrameJacobianTimeVariation(*c.model, *c.data, c.index(0), c.frame, dJ);
    }>(),
    {.page = "jacobians"}};

// ------------------------------------- centre of mass, momentum and energy

constexpr Function kCenterOfMass{
    "centerOfMass", {kModel, kData, kQ},
    vector<[](Call& c) -> decltype(auto) { return centerOfMass(*c.model, *c.data, c.vector(0)); }>(
        Shape::three),
    {.page = "centroidal",
     .text = "Centre of mass of all bodies in the world frame (zero for a massless model)\n\n"
             "# Returns\n"
             "numpy array of size 3",
     .rows = "Centres of mass in the world, (N, 3)."}};

constexpr Function kJacobianCenterOfMass{
    "jacobianCenterOfMass", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return jacobianCenterOfMass(*c.model, *c.data, c.vector(0));
    }>(Shape::three_nv),
    {.page = "centroidal",
     .text = "Jacobian of the centre of mass: its velocity per unit joint velocity, world frame\n\n"
             "# Returns\n"
             "3×nv numpy array",
     .rows = "Jacobians of the centre of mass, (N, 3, nv)."}};

constexpr Function kComputeCentroidalMap{
    "computeCentroidalMap", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return computeCentroidalMap(*c.model, *c.data, c.vector(0));
    }>(Shape::six_nv),
    {.page = "centroidal",
     .text = "Centroidal momentum matrix: the momentum of the system about its centre of mass,\n"
             "world axes, per unit joint velocity; rows [linear; angular]\n\n"
             "# Returns\n"
             "6×nv numpy array"}};

constexpr Function kComputeCentroidalMomentum{
    "computeCentroidalMomentum", {kModel, kData, kQ, kV},
    vector<[](Call& c) -> decltype(auto) {
      return computeCentroidalMomentum(*c.model, *c.data, c.vector(0), c.vector(1));
    }>(Shape::six),
    {.page = "centroidal",
     .text = "Centroidal momentum: linear momentum and angular momentum about the centre of\n"
             "mass, world axes\n\n"
             "# Returns\n"
             "numpy array of size 6, [linear; angular]"}};

constexpr Function kComputeKineticEnergy{
    "computeKineticEnergy", {kModel, kData, kQ, kV},
    scalar<[](Call& c) { return computeKineticEnergy(*c.model, *c.data, c.vector(0), c.vector(1)); }>(),
    {.page = "centroidal",
     .text = "Kinetic energy ½ vᵀ M(q) v, from the body velocities\n\n"
             "# Returns\n"
             "float, in joules"}};

constexpr Function kComputePotentialEnergy{
    "computePotentialEnergy", {kModel, kData, kQ},
    scalar<[](Call& c) { return computePotentialEnergy(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "centroidal",
     .text = "Potential energy of the bodies in the model's gravity, −Σ mᵢ g·cᵢ (zero at the\n"
             "world origin)\n\n"
             "# Returns\n"
             "float, in joules"}};

constexpr Function kComputeMechanicalEnergy{
    "computeMechanicalEnergy", {kModel, kData, kQ, kV},
    scalar<[](Call& c) {
      return computeKineticEnergy(*c.model, *c.data, c.vector(0), c.vector(1)) +
             computePotentialEnergy(*c.model, *c.data, c.vector(0));
    }>(),
    {.page = "centroidal",
     .text = "Mechanical energy: kinetic plus potential, ½ vᵀ M(q) v − Σ mᵢ g·cᵢ\n\n"
             "# Returns\n"
             "float, in joules",
     .rows = "Mechanical energies, (N,)."}};

// ------------------------------------------------------- external forces

#define FEXT_ARGUMENT                                                                        \
  "`fext`, if given, is an (njoints, 6) array: row i the force [force; torque] applied to\n" \
  "joint i's body, in joint i's frame about its origin (row 0 is ignored)"

constexpr Function kInverseDynamics{
    "inverseDynamics", {kModel, kData, kQ, kV, kA, kForces},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      const Model& m = *c.model;
      return c.has_forces() ? inverseDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2), c.fext())
                            : inverseDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(Shape::nv), lockstep::Kernel::rnea),  // (the rows without fext)
    {.page = "dynamics",
     .text = "Inverse dynamics under external forces: rnea(q, v, a) − Σᵢ Jᵢᵀ fᵢ\n\n" FEXT_ARGUMENT
             "; without it, the result is rnea's.\n\n"
             "# Returns\n"
             "tau, numpy array of size model.nv",
     .rows = "Joint torques under the forces `fext` ((N, njoints, 6) or None), (N, nv)."}};

constexpr Function kForwardDynamics{
    "forwardDynamics", {kModel, kData, kQ, kV, kTau, kForces},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      const Model& m = *c.model;
      return c.has_forces() ? forwardDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2), c.fext())
                            : forwardDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(Shape::nv), lockstep::Kernel::aba),  // (the rows without fext)
    {.page = "dynamics",
     .text = "Forward dynamics under external forces: the joint accelerations for which\n"
             "inverseDynamics(q, v, ddq, fext) = tau\n\n" FEXT_ARGUMENT
             "; without it, the result is aba's.\n\n"
             "# Returns\n"
             "ddq, numpy array of size model.nv",
     .rows = "Joint accelerations under the forces `fext` ((N, njoints, 6) or None), (N, nv)."}};

// -------------------------------------------------------------- derivatives

constexpr Function kComputeRNEADerivatives{
    "computeRNEADerivatives", {kModel, kData, kQ, kV, kA, kForces},
    matrix_triple<[](Call& c) {
      Data& d = *c.data;
      if (c.has_forces())
        computeRNEADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2), c.fext());
      else
        computeRNEADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2));
      return Matrices3{d.dtau_dq, d.dtau_dv, d.dtau_da};
    }, [](Call& c, MatrixXView dq, MatrixXView dv, MatrixXView da) {
      if (c.has_forces())
        computeRNEADerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), c.fext(), dq, dv, da);
      else
        computeRNEADerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), dq, dv, da);
    }>(),
    {.page = "derivatives",
     .text = "Derivatives of the inverse dynamics tau = rnea(q, v, a), or\n"
             "inverseDynamics(q, v, a, fext) under external forces\n\n"
             "Derivatives with respect to q are taken along integrate: column k is the\n"
             "derivative along the k-th velocity coordinate. The forces fext, given in\n"
             "their bodies' frames, move with their bodies.\n\n"
             "# Returns\n"
             "(dtau_dq, dtau_dv, dtau_da), three nv×nv numpy arrays; dtau_da is M",
     .rows = "(dtau_dq, dtau_dv, dtau_da), each (N, nv, nv)."}};

constexpr Function kComputeABADerivatives{
    "computeABADerivatives", {kModel, kData, kQ, kV, kTau, kForces},
    matrix_triple<[](Call& c) {
      Data& d = *c.data;
      if (c.has_forces())
        computeABADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2), c.fext());
      else
        computeABADerivatives(*c.model, d, c.vector(0), c.vector(1), c.vector(2));
      return Matrices3{d.ddq_dq, d.ddq_dv, d.Minv};
    }>(),
    {.page = "derivatives",
     .text = "Derivatives of the forward dynamics ddq = aba(q, v, tau), or\n"
             "forwardDynamics(q, v, tau, fext) under external forces\n\n"
             "Derivatives with respect to q are taken along integrate: column k is the\n"
             "derivative along the k-th velocity coordinate. The forces fext, given in\n"
             "their bodies' frames, move with their bodies.\n\n"
             "# Returns\n"
             "(dddq_dq, dddq_dv, dddq_dtau), three nv×nv numpy arrays; dddq_dtau is M⁻¹",
     .rows = "(dddq_dq, dddq_dv, dddq_dtau), each (N, nv, nv)."}};

constexpr Param kCotangent{"cotangent", Kind::vector, Count::nv};

// Rows of a vector-Jacobian product F(model, data, q, x, y, w, gq, gx, gy)
// (rneaVJP, abaVJP): (gq (nq), gx (nv), gy (nv)) for the row's (q, x, y) and cotangent w.
template <auto F>
constexpr Result vjp_rows() {
  return rows_of<[](Call& c, double* const* out) {
    const auto nq = static_cast<Eigen::Index>(c.model->nq), nv = static_cast<Eigen::Index>(c.model->nv);
    F(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), c.vector(3), Eigen::Map<Eigen::VectorXd>(out[0], nq),
      Eigen::Map<Eigen::VectorXd>(out[1], nv), Eigen::Map<Eigen::VectorXd>(out[2], nv));
  }, Shape::nq, Shape::nv, Shape::nv>();
}

constexpr Function kRneaVJP{
    "rneaVJP", {kModel, kData, kQ, kV, kA, kCotangent},
    vjp_rows<rneaVJP>(),
    {.page = "batch",
     .rows = "Products of the cotangents with the derivatives of rnea: (wᵀ dtau/dq in q's "
             "coordinates (N, nq), wᵀ dtau/dv (N, nv), wᵀ M (N, nv)); see configurationGradient.",
     .batch_only = true}};

constexpr Function kAbaVJP{
    "abaVJP", {kModel, kData, kQ, kV, kTau, kCotangent},
    vjp_rows<abaVJP>(),
    {.page = "batch",
     .rows = "Products of the cotangents with the derivatives of aba: (wᵀ dddq/dq in q's "
             "coordinates (N, nq), wᵀ dddq/dv (N, nv), wᵀ M⁻¹ (N, nv)); see configurationGradient.",
     .batch_only = true}};

constexpr Function kConfigurationGradient{
    "configurationGradient", {kModel, kIntegrateQ, {"g", Kind::vector, Count::nv}},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> out) {
      configurationGradient(*c.model, c.vector(0), c.vector(1), out);
    }, Shape::nq>(),
    {.page = "configuration",
     .text = "The gradient in q's coordinates of a function whose gradient along integrate\n"
             "(one element per velocity coordinate) is g: T diag(1/(t_k . t_k)) g with\n"
             "T = tangentMap(model, q), the one gradient in the span of T whose product with\n"
             "any motion T dv is g dv. The ordinary gradient for revolute and prismatic\n"
             "joints\n\n"
             "# Returns\n"
             "numpy array of size model.nq",
     .rows = "Gradients in q's coordinates, (N, nq)."}};

constexpr Function kComputeGeneralizedGravityDerivatives{
    "computeGeneralizedGravityDerivatives", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return computeGeneralizedGravityDerivatives(*c.model, *c.data, c.vector(0));
    }>(Shape::nv_nv),
    {.page = "derivatives",
     .text = "Derivative of the gravity torques compute_gravity(q) along integrate\n\n"
             "# Returns\n"
             "nv×nv numpy array"}};

// ------------------------------------------------- kinematics derivatives

constexpr Function kComputeKinematicsDerivatives{
    "computeKinematicsDerivatives", {kModel, kData, kQ, kV, kA},
    nothing<[](Call& c) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(),
    {.page = "derivatives",
     .text = "The pass that getFrameVelocityDerivatives and getFrameAccelerationDerivatives\n"
             "read: placements, velocities, accelerations and their derivatives for (q, v, a)\n\n"
             "# Returns\n"
             "None; the results are stored in data"}};

constexpr Function kGetFrameVelocityDerivatives{
    "getFrameVelocityDerivatives", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto dv_dq, auto dv_dv) {
      getFrameVelocityDerivatives(*c.model, *c.data, c.index(0), c.frame, dv_dq, dv_dv);
    }, 2>(),
    {.page = "derivatives",
     .text = "Derivatives of getFrameVelocity in reference_frame, from what\n"
             "computeKinematicsDerivatives left in data. Derivatives with respect to q are\n"
             "taken along integrate.\n\n"
             "# Returns\n"
             "(dv_dq, dv_dv), two 6×nv numpy arrays; dv_dv is the frame's Jacobian"}};

constexpr Function kGetFrameAccelerationDerivatives{
    "getFrameAccelerationDerivatives", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto da_dq, auto da_dv, auto da_da) {
      getFrameAccelerationDerivatives(*c.model, *c.data, c.index(0), c.frame, da_dq, da_dv, da_da);
    }, 3>(),
    {.page = "derivatives",
     .text = "Derivatives of getFrameAcceleration in reference_frame, from what\n"
             "computeKinematicsDerivatives left in data. Derivatives with respect to q are\n"
             "taken along integrate.\n\n"
             "# Returns\n"
             "(da_dq, da_dv, da_da), three 6×nv numpy arrays; da_da is the frame's Jacobian"}};

constexpr Function kFrameVelocityDerivativesRows{
    "getFrameVelocityDerivatives", {kModel, kData, kQ, kV, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto dv_dq, auto dv_dv) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1));
      getFrameVelocityDerivatives(*c.model, *c.data, c.index(0), c.frame, dv_dq, dv_dv);
    }, 2>(),
    {.page = "batch",
     .rows = "(dv_dq, dv_dv) of frame `frame_id`'s velocity in `reference_frame`, each (N, 6, nv).",
     .batch_only = true}};

constexpr Function kFrameAccelerationDerivativesRows{
    "getFrameAccelerationDerivatives", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto da_dq, auto da_dv, auto da_da) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      getFrameAccelerationDerivatives(*c.model, *c.data, c.index(0), c.frame, da_dq, da_dv, da_da);
    }, 3>(),
    {.page = "batch",
     .rows = "(da_dq, da_dv, da_da) of frame `frame_id`'s acceleration in `reference_frame`, "
             "each (N, 6, nv).",
     .batch_only = true}};

// -------------------------------------------- frame velocities and accelerations

constexpr Function kComputeKinematics{
    "computeKinematics", {kModel, kData, kQ, kV, kA},
    nothing<[](Call& c) { computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2)); }>(),
    {.page = "kinematics",
     .text = "Placements, spatial velocities and spatial accelerations of every joint, for the\n"
             "frame functions that follow (getFrameVelocity, getFrameAcceleration,\n"
             "getFrameClassicalAcceleration)\n\n"
             "# Returns\n"
             "None; the results are stored in data"}};

#define FRAME_MOTION_TEXT(what, more)                                                       \
  what " of frame frame_id in reference_frame, [linear; angular], from what\n"               \
  "computeKinematics left in data" more "\n\n"                                                 \
  "# Returns\n"                                                                              \
  "numpy array of size 6"

constexpr Function kGetFrameVelocity{
    "getFrameVelocity", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) { return getFrameVelocity(*c.model, *c.data, c.index(0), c.frame); }>(Shape::six),
    {.page = "kinematics",
     .text = FRAME_MOTION_TEXT("Spatial velocity",
                               ": J·v, J the frame's Jacobian in reference_frame (the frame's\n"
                               "own placement applied)")}};

constexpr Function kGetFrameAcceleration{
    "getFrameAcceleration", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) { return getFrameAcceleration(*c.model, *c.data, c.index(0), c.frame); }>(Shape::six),
    {.page = "kinematics",
     .text = FRAME_MOTION_TEXT("Spatial acceleration",
                               ": the time derivative of getFrameVelocity in the same frame,\n"
                               "J·a + dJ·v")}};

constexpr Function kGetFrameClassicalAcceleration{
    "getFrameClassicalAcceleration", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      return getFrameClassicalAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "kinematics",
     .text = FRAME_MOTION_TEXT("Classical acceleration",
                               ": the linear part is the second time derivative of the frame\n"
                               "origin's position in reference_frame's axes, the angular part that of\n"
                               "getFrameAcceleration")}};

// The batch forms compute the kinematics of their row first.
constexpr Function kFrameVelocityRows{
    "getFrameVelocity", {kModel, kData, kQ, kV, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      forwardKinematics(*c.model, *c.data, c.vector(0), c.vector(1));
      return getFrameVelocity(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch", .rows = "Spatial velocities of frame `frame_id` in `reference_frame`, (N, 6).",
     .batch_only = true}};

constexpr Function kFrameAccelerationRows{
    "getFrameAcceleration", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      return getFrameAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch", .rows = "Spatial accelerations of frame `frame_id` in `reference_frame`, (N, 6).",
     .batch_only = true}};

constexpr Function kFrameClassicalAccelerationRows{
    "getFrameClassicalAcceleration", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      return getFrameClassicalAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch",
     .rows = "Classical accelerations of frame `frame_id` in `reference_frame`, (N, 6).",
     .batch_only = true}};

// ------------------------------------------------------ inverse kinematics

constexpr Param kTarget{"target", Kind::target};
constexpr Param kWeights{"weights", Kind::weights, Count::none, nullptr, Pass::keyword_only};
constexpr Param kTolerance{"tolerance", Kind::real, Count::none, nullptr, Pass::keyword_only, 1e-10};
constexpr Param kMaxIterations{"max_iterations", Kind::count, Count::none, nullptr, Pass::keyword_only, 200};
constexpr Param kRespectLimits{"respect_limits", Kind::flag, Count::none, nullptr, Pass::keyword_only, 1};

constexpr Function kInverseKinematics{
    "inverseKinematics",
    {kModel, kFrameId, kTarget, kQ0, kWeights, kTolerance, kMaxIterations, kRespectLimits},
    solution<[](Call& c, Eigen::Map<Eigen::VectorXd> q) {
      IkOptions options;
      if (c.weights.ptr != nullptr) options.weights = Eigen::Map<const Vector6>(c.weights.ptr);
      options.tolerance = c.real;
      options.max_iterations = static_cast<int>(std::min<long long>(c.count, std::numeric_limits<int>::max()));
      options.respect_limits = c.flag;
      Data& data = c.data != nullptr ? *c.data : workspace_of(*c.model);
      if (c.position_only)
        return inverseKinematics(*c.model, data, c.index(0), Vector3(c.target_point.map()), c.vector(0), q, options);
      return inverseKinematics(*c.model, data, c.index(0), c.target, c.vector(0), q, options);
    }>(),
    {.page = "ik",
     .text = "Solves for a configuration q that puts frame frame_id at target: an SE3, or a\n"
             "position (array of 3) for the frame's origin alone\n\n"
             "Levenberg–Marquardt on the error log(oMf⁻¹·target) (or target − position),\n"
             "from q0, stepping through integrate. `weights` (6 elements, [linear; angular])\n"
             "weigh the error's rows; the solve stops when their weighted norm is at most\n"
             "`tolerance` or after `max_iterations`. With `respect_limits`, q stays within the\n"
             "model's position limits.\n\n"
             "# Returns\n"
             "InverseKinematicsResult(q, converged, iterations, error): when not converged, q\n"
             "is the best configuration found and error its weighted error norm",
     .rows = "Solutions for targets (N, 4, 4) (homogeneous) or (N, 3) (positions) from q0 (N, nq): "
             "(q (N, nq), converged (N,) bool, iterations (N,) int64, error (N,))."}};

// -------------------------------------------------------------- constraints

constexpr Param kVBefore{"v_before", Kind::vector, Count::nv};
constexpr Param kRestitution{"restitution", Kind::real, Count::none, nullptr, Pass::optional, 0.0, 1.0};

#define CONSTRAINT_ROWS                                                                       \
  "J and gamma are the set's jacobian and drift, target the corrector's target of J ddq +\n" \
  "gamma (zero without a corrector)"

constexpr Function kConstrainedDynamics{
    "constrainedDynamics", {kModel, kData, kConstraints, kQ, kV, kTau, kForces},
    blocks<[](Call& c) {
      const Model& m = *c.model;
      Data& d = *c.data;
      const VectorX& ddq =
          c.has_forces() ? constrainedDynamics(m, d, *c.set, c.vector(0), c.vector(1), c.vector(2), c.fext())
                         : constrainedDynamics(m, d, *c.set, c.vector(0), c.vector(1), c.vector(2));
      return std::array{block(ddq), block(d.constraint_forces)};
    }, Shape::nv, Shape::size>(),
    {.page = "constraints",
     .text = "Forward dynamics under the constraints: the accelerations ddq and the constraint\n"
             "forces lambda with\n\n"
             "    M ddq + nle = tau + J^T lambda (+ the torques of fext),   J ddq + gamma = target\n\n"
             CONSTRAINT_ROWS ".\n" FEXT_ARGUMENT ".\n\n"
             "# Returns\n"
             "(ddq, forces): numpy arrays of size model.nv and constraints.size",
     .rows = "(ddq (N, nv), forces (N, size)) under the forces `fext` ((N, njoints, 6) or None)."}};

constexpr Function kImpulseDynamics{
    "impulseDynamics", {kModel, kData, kConstraints, kQ, kVBefore, kRestitution},
    blocks<[](Call& c) {
      Data& d = *c.data;
      const VectorX& v = impulseDynamics(*c.model, d, *c.set, c.vector(0), c.vector(1), c.real);
      return std::array{block(v), block(d.constraint_forces)};
    }, Shape::nv, Shape::size>(),
    {.page = "constraints",
     .text = "The velocity just after an impulsive contact, and the impulses p with\n\n"
             "    M (v_after - v_before) = J^T p,   J v_after = -restitution J v_before\n\n"
             "with restitution in [0, 1].\n\n"
             "# Returns\n"
             "(v_after, impulses): numpy arrays of size model.nv and constraints.size",
     .rows = "(v_after (N, nv), impulses (N, size))."}};

constexpr Function kComputeConstrainedDynamicsDerivatives{
    "computeConstrainedDynamicsDerivatives", {kModel, kData, kConstraints, kQ, kV, kTau, kForces},
    blocks<[](Call& c) {
      const Model& m = *c.model;
      Data& d = *c.data;
      if (c.has_forces())
        computeConstrainedDynamicsDerivatives(m, d, *c.set, c.vector(0), c.vector(1), c.vector(2), c.fext());
      else
        computeConstrainedDynamicsDerivatives(m, d, *c.set, c.vector(0), c.vector(1), c.vector(2));
      return std::array{block(d.ddq_dq), block(d.ddq_dv), block(d.ddq_dtau),
                        block(d.dforces_dq), block(d.dforces_dv), block(d.dforces_dtau)};
    }, Shape::nv_nv, Shape::nv_nv, Shape::nv_nv, Shape::size_nv, Shape::size_nv, Shape::size_nv>(),
    {.page = "constraints",
     .text = "Derivatives of constrainedDynamics: of ddq and of the forces with respect to q, v\n"
             "and tau. Derivatives with respect to q are taken along integrate: column k is the\n"
             "derivative along the k-th velocity coordinate. The forces fext, given in their\n"
             "bodies' frames, move with their bodies.\n\n"
             "# Returns\n"
             "(dddq_dq, dddq_dv, dddq_dtau, dforces_dq, dforces_dv, dforces_dtau): three nv×nv and\n"
             "three size×nv numpy arrays",
     .rows = "(dddq_dq, dddq_dv, dddq_dtau), each (N, nv, nv), and (dforces_dq, dforces_dv, "
             "dforces_dtau), each (N, size, nv)."}};

constexpr Function kComputeImpulseDynamicsDerivatives{
    "computeImpulseDynamicsDerivatives", {kModel, kData, kConstraints, kQ, kVBefore, kRestitution},
    blocks<[](Call& c) {
      Data& d = *c.data;
      computeImpulseDynamicsDerivatives(*c.model, d, *c.set, c.vector(0), c.vector(1), c.real);
      return std::array{block(d.ddq_dq), block(d.ddq_dv), block(d.dforces_dq), block(d.dforces_dv)};
    }, Shape::nv_nv, Shape::nv_nv, Shape::size_nv, Shape::size_nv>(),
    {.page = "constraints",
     .text = "Derivatives of impulseDynamics: of v_after and of the impulses with respect to q\n"
             "(along integrate) and v_before\n\n"
             "# Returns\n"
             "(dv_dq, dv_dv, dimpulses_dq, dimpulses_dv): two nv×nv and two size×nv numpy arrays",
     .rows = "(dv_dq, dv_dv), each (N, nv, nv), and (dimpulses_dq, dimpulses_dv), each (N, size, nv)."}};

constexpr Function kCouplingsFromUrdf{
    "couplingsFromUrdf", {kModel, {"filename_or_string", Kind::text}},
    object<[](Call& c) { return couplings_from_urdf(*c.model, c.str()); }>("list[JointCoupling]"),
    {.page = "constraints",
     .text = "The couplings that the <mimic> elements of a URDF declare among the model's joints\n"
             "(found by name): a JointCoupling(joint, leader, multiplier, offset) for each mimic\n"
             "between revolute or prismatic joints, in document order. filename_or_string is URDF\n"
             "text when its first non-space character is '<', else a file name. A mimic that\n"
             "cannot be a coupling is left out, with one UrdfWarning naming each.\n\n"
             "# Returns\n"
             "list of JointCoupling"}};

// ------------------------------------------------------------- URDF import

constexpr Function kParseUrdfFile{
    "parse_urdf_file", {{"filename", Kind::text}},
    object<[](Call& c) { return model_from_urdf_file(c.str()); }>("Model"), {.page = "urdf"}};

constexpr Function kParseUrdfFromString{
    "parse_urdf_from_string", {{"urdf_string", Kind::text}},
    object<[](Call& c) { return model_from_urdf_string(c.str()); }>("Model"), {.page = "urdf"}};

// ---------------------------------------------- reduced and combined models

constexpr Param kJointsToLock{"joints_to_lock", Kind::joint_indexes};
constexpr Param kQReference{"q_reference", Kind::vector, Count::nq};
constexpr Param kOtherModel{"other", Kind::other_model};
constexpr Param kAttachment{"placement", Kind::placement};
constexpr Param kPrefix{"prefix", Kind::text, Count::none, nullptr, Pass::optional};

PyObject* new_model(Model&& model) { return nb::cast(std::move(model)).release().ptr(); }

constexpr Function kBuildReducedModel{
    "buildReducedModel", {kModel, kJointsToLock, kQReference},
    object<[](Call& c) { return new_model(buildReducedModel(*c.model, c.joint_ids, c.vector(0))); }>("Model"),
    {.page = "models",
     .text = "A new model with the joints joints_to_lock (indexes, in any order) fixed at\n"
             "their configuration in q_reference (a configuration of the full model)\n\n"
             "Each locked joint's body is merged into its nearest kept ancestor's, its\n"
             "children hang from that ancestor at the placement the locked joints give them\n"
             "at q_reference, and every frame is kept with its name (a locked joint's JOINT\n"
             "frame becomes a FIXED_JOINT frame). Quaternions and (cos, sin) pairs of locked\n"
             "joints are normalised. The other joints keep their order, names, bodies and\n"
             "limits; the name and gravity are kept.\n\n"
             "# Returns\n"
             "Model"}};

constexpr Function kAppendModel{
    "appendModel", {kModel, kOtherModel, kFrameId, kAttachment, kPrefix},
    object<[](Call& c) {
      return new_model(appendModel(*c.model, *c.other, c.index(0), *c.placement, c.str()));
    }>("Model"),
    {.page = "models",
     .text = "A new model: model with other attached at its frame frame_id, other's root at\n"
             "the frame's placement composed with placement\n\n"
             "other's joints and frames (but \"universe\") follow the model's, their names\n"
             "prefixed by prefix; other's root body is merged into the body carrying the\n"
             "frame. The model's name and gravity are kept. A prefixed name already among\n"
             "the model's joints or frames is a ValueError.\n\n"
             "# Returns\n"
             "Model"}};

// ------------------------------------------------------------- MJCF import

constexpr Function kParseMjcfFile{
    "parse_mjcf_file", {{"filename", Kind::text}},
    object<[](Call& c) { return model_from_mjcf_file(c.str()); }>("Model"),
    {.page = "mjcf",
     .text = "A new Model from an MJCF file: each hinge, slide, ball and free joint becomes a\n"
             "revolute (nq = 1), prismatic, spherical or floating joint in MuJoCo's qpos order,\n"
             "a body without joints a fixed joint; inertias from <inertial> or from the geoms.\n"
             "Includes and meshes are found relative to the file's folder. What is not dynamics\n"
             "is listed in one MjcfWarning.\n\n"
             "# Returns\n"
             "Model"}};

constexpr Function kParseMjcfFromString{
    "parse_mjcf_from_string",
    {{"mjcf_string", Kind::text}, {"directory", Kind::optional_text, Count::none, nullptr, Pass::optional}},
    object<[](Call& c) { return model_from_mjcf_string(c.str(), c.optional_str()); }>("Model"),
    {.page = "mjcf",
     .text = "A new Model from MJCF text, as parse_mjcf_file reads a file. `directory` is where\n"
             "<include> files and meshes are found; without it an <include> is an error and\n"
             "meshes are looked for relative to the current directory.\n\n"
             "# Returns\n"
             "Model"}};

constexpr Function kCouplingsFromMjcf{
    "couplingsFromMjcf", {kModel, {"filename_or_string", Kind::text}},
    object<[](Call& c) { return couplings_from_mjcf(*c.model, c.str()); }>("list[JointCoupling]"),
    {.page = "constraints",
     .text = "The couplings that the <equality><joint> elements of an MJCF declare among the\n"
             "model's joints (found by name): for joint1 = c0 + c1·joint2 between hinge or slide\n"
             "joints, measured from their ref positions, a JointCoupling(joint1, joint2, c1,\n"
             "c0 + ref1 − c1·ref2), in document order. filename_or_string is MJCF text when its\n"
             "first non-space character is '<', else a file name. An equality that cannot be a\n"
             "coupling is left out, with one MjcfWarning naming each.\n\n"
             "# Returns\n"
             "list of JointCoupling"}};

}  // namespace

// The module's order (that of __all__ and lumo_dynamic.batch.__all__).
const Declared declarations[] = {
    declare<kNeutral>(),
    declare<kIntegrate>(),
    declare<kForwardKinematics>(),
    declare<kFramePlacements>(),
    declare<kRnea>(),
    declare<kCrba>(),
    declare<kComputeJointJacobians>(),
    declare<kComputeJointJacobian>(),
    declare<kComputeJointJacobiansTimeVariation>(),
    declare<kGetFrameJacobian>(),
    declare<kComputeFrameJacobian>(),
    declare<kGetFrameJacobianTimeVariation>(),
    declare<kNonLinearEffects>(),
    declare<kComputeGravity>(),
    declare<kComputeAllTerms>(),
    declare<kComputeCoriolisMatrix>(),
    declare<kParseUrdfFile>(),
    declare<kParseUrdfFromString>(),
    declare<kAba>(),
    declare<kComputeMinverse>(),
    declare<kGetFramePlacement>(),
    declare<kUpdateFramePlacements>(),
    declare<kCenterOfMass>(),
    declare<kJacobianCenterOfMass>(),
    declare<kComputeCentroidalMap>(),
    declare<kComputeCentroidalMomentum>(),
    declare<kComputeKineticEnergy>(),
    declare<kComputePotentialEnergy>(),
    declare<kDifference>(),
    declare<kComputeRNEADerivatives>(),
    declare<kComputeABADerivatives>(),
    declare<kComputeGeneralizedGravityDerivatives>(),
    declare<kComputeMechanicalEnergy>(),
    declare<kInverseDynamics>(),
    declare<kForwardDynamics>(),
    declare<kComputeKinematics>(),
    declare<kGetFrameVelocity>(),
    declare<kFrameVelocityRows>(),
    declare<kGetFrameAcceleration>(),
    declare<kFrameAccelerationRows>(),
    declare<kGetFrameClassicalAcceleration>(),
    declare<kFrameClassicalAccelerationRows>(),
    declare<kComputeKinematicsDerivatives>(),
    declare<kGetFrameVelocityDerivatives>(),
    declare<kFrameVelocityDerivativesRows>(),
    declare<kGetFrameAccelerationDerivatives>(),
    declare<kFrameAccelerationDerivativesRows>(),
    declare<kInverseKinematics>(),
    declare<kConstrainedDynamics>(),
    declare<kImpulseDynamics>(),
    declare<kComputeConstrainedDynamicsDerivatives>(),
    declare<kComputeImpulseDynamicsDerivatives>(),
    declare<kCouplingsFromUrdf>(),
    declare<kBuildReducedModel>(),
    declare<kAppendModel>(),
    declare<kDIntegrate>(),
    declare<kDDifference>(),
    declare<kTangentMap>(),
    declare<kConfigurationGradient>(),
    declare<kRneaVJP>(),
    declare<kAbaVJP>(),
    declare<kParseMjcfFile>(),
    declare<kParseMjcfFromString>(),
    declare<kCouplingsFromMjcf>(),
};
const std::size_t declaration_count = std::size(declarations);

}  // namespace lumo::python

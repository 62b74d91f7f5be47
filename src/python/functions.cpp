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

// The lines that the full descriptions (Doc::reference, or Doc::text where
// it is the description) share: parameters with their shapes and units, and
// the example's first lines (the arm among the sample models, run from the
// top of the repository with numpy as np and lumo_dynamic as ld).
#define P_MODEL ":param model: the model.\n"
#define P_DATA ":param data: a workspace of the model (``model.createData()``).\n"
#define P_Q                                                                                           \
  ":param q: configuration, shape (nq,): angles (rad), offsets (m), (cos, sin) pairs and quaternions\n" \
  "   (x, y, z, w), per joint as :ref:`laid out <conventions-configuration>`.\n"
#define P_V                                                                                        \
  ":param v: joint velocity, shape (nv,): rad/s and m/s (a floating or spherical joint's in its own\n" \
  "   frame).\n"
#define P_A ":param a: joint acceleration, shape (nv,): rad/s² and m/s².\n"
#define P_TAU ":param tau: joint torques and forces, shape (nv,): N·m and N.\n"
#define P_FRAME ":param frame_id: a frame of the model, below ``model.nframes`` (``model.getFrameId(name)``).\n"
#define P_RF                                                                                      \
  ":param reference_frame: ReferenceFrame.LOCAL, WORLD or LOCAL_WORLD_ALIGNED: the axes and the\n" \
  "   point of the result (:ref:`conventions-reference-frames`).\n"
#define P_FEXT                                                                                          \
  ":param fext: None, or shape (njoints, 6): row i the external wrench [force (N); torque (N·m)] on\n"     \
  "   joint i's body, in joint i's frame about its origin (row 0 is ignored).\n"
#define P_CONSTRAINTS ":param constraints: a ConstraintSet made for the model.\n"
#define EX                                                                 \
  ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); d = m.createData()\n" \
  ">>> q, v = ld.neutral(m) + 0.1, np.zeros(m.nv)\n"

// ------------------------------------------------------------ configuration

constexpr Function kNeutral{
    "neutral", {kModel},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> q) { neutral(*c.model, q); }, Shape::nq>(),
    {.page = "configuration",
     .reference = "The reference configuration: zero angles and offsets, (cos, sin) = (1, 0), identity "
                  "quaternions.\n\n"
                  ":param model: the model.\n"
                  ":returns: q, shape (nq,), :ref:`laid out per joint <conventions-configuration>`.\n\n"
                  "Example:\n\n"
                  ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
                  ">>> ld.neutral(m).shape\n"
                  "(7,)"}};

constexpr Function kIntegrate{
    "integrate", {kModel, kIntegrateQ, kIntegrateV},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> out) {
      integrate(*c.model, c.vector(0), c.vector(1), out);
    }, Shape::nq>(),
    {.page = "configuration",
     .reference = "The configuration reached from q by moving along the velocity v for one unit of time.\n\n"
                  "``q1 = q ⊕ v``, joint by joint: angles and offsets add, (cos, sin) pairs turn by the angle,\n"
                  "quaternions compose with the rotation increment in the joint's own frame (renormalised), a\n"
                  "floating base moves by its linear velocity rotated into the parent frame. Scale ``v`` by a\n"
                  "time step ``dt`` to step a simulation.\n\n"
                  P_MODEL
                  P_Q
                  P_V
                  ":returns: q1, shape (nq,) (:ref:`conventions-configuration`).\n\n"
                  "Example:\n\n"
                  ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
                  ">>> q = ld.integrate(m, ld.neutral(m), np.full(m.nv, 0.01))",
     .rows = "Configurations q moved along v for unit time, (N, nq)."}};

constexpr Function kDifference{
    "difference", {kModel, kQ0, kQ1},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> v) {
      difference(*c.model, c.vector(0), c.vector(1), v);
    }, Shape::nv>(),
    {.page = "configuration",
     .text = "The velocity that takes q0 to q1 in unit time: the inverse of integrate, joint by joint.\n\n"
             "``integrate(model, q0, v) = q1``: q1 − q0 for revolute and prismatic joints, the signed\n"
             "angle in (−π, π] for continuous joints, the rotation logarithm of r0⁻¹·r1 for spherical and\n"
             "floating joints (a floating base's translation in its own frame).\n\n"
             P_MODEL
             ":param q0: start configuration, shape (nq,) (:ref:`conventions-configuration`).\n"
             ":param q1: end configuration, shape (nq,).\n"
             ":returns: v, shape (nv,): rad and m per unit time.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); q0 = ld.neutral(m)\n"
             ">>> ld.difference(m, q0, ld.integrate(m, q0, np.full(m.nv, 0.1))).round(3)[:2]\n"
             "array([0.1, 0.1])",
     .rows = "Velocities v with integrate(q0, v) = q1, (N, nv)."}};

constexpr Function kDIntegrate{
    "dIntegrate", {kModel, kIntegrateQ, kIntegrateV},
    matrices_into<[](Call& c, auto dq, auto dv) { dIntegrate(*c.model, c.vector(0), c.vector(1), dq, dv); },
                  2, Shape::nv_nv>(),
    {.page = "configuration",
     .text = "Derivatives of q1 = integrate(model, q, v) with respect to q and to v, in tangent space.\n\n"
             "``dq1_dq = ∂(q ⊕ v)/∂q``, ``dq1_dv = ∂(q ⊕ v)/∂v``, both taken in the tangent spaces that\n"
             "integrate defines: column k is the motion of q (or v) along the k-th velocity coordinate,\n"
             "row k that of q1 (:ref:`derivatives along integrate <conventions-derivatives>`).\n\n"
             P_MODEL
             P_Q
             P_V
             ":returns: (dq1_dq, dq1_dv), two arrays of shape (nv, nv); the identity for revolute and\n"
             "   prismatic joints.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> dq, dv = ld.dIntegrate(m, ld.neutral(m), np.zeros(m.nv))",
     .rows = "(dq1_dq, dq1_dv) of integrate, each (N, nv, nv)."}};

constexpr Function kDDifference{
    "dDifference", {kModel, kQ0, kQ1},
    matrices_into<[](Call& c, auto d0, auto d1) { dDifference(*c.model, c.vector(0), c.vector(1), d0, d1); },
                  2, Shape::nv_nv>(),
    {.page = "configuration",
     .text = "Derivatives of v = difference(model, q0, q1) with respect to q0 and to q1, in tangent space.\n\n"
             "``dv_dq0 = ∂(q1 ⊖ q0)/∂q0``, ``dv_dq1 = ∂(q1 ⊖ q0)/∂q1``, taken along integrate: column k is\n"
             "the motion of the configuration along the k-th velocity coordinate\n"
             "(:ref:`derivatives along integrate <conventions-derivatives>`).\n\n"
             P_MODEL
             ":param q0: start configuration, shape (nq,) (:ref:`conventions-configuration`).\n"
             ":param q1: end configuration, shape (nq,).\n"
             ":returns: (dv_dq0, dv_dq1), two arrays of shape (nv, nv); −E and E for revolute and\n"
             "   prismatic joints.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); q = ld.neutral(m)\n"
             ">>> d0, d1 = ld.dDifference(m, q, q)",
     .rows = "(dv_dq0, dv_dq1) of difference, each (N, nv, nv)."}};

constexpr Function kTangentMap{
    "tangentMap", {kModel, kIntegrateQ},
    matrices_into<[](Call& c, auto T) { tangentMap(*c.model, c.vector(0), T); }, 1, Shape::nq_nv>(),
    {.page = "configuration",
     .text = "The tangent map T(q): how each velocity coordinate moves the configuration coordinates.\n\n"
             "``T = ∂ integrate(model, q, dv)/∂dv`` at dv = 0, so that ``dq = T·dv`` to first order. Its\n"
             "columns are orthogonal, so ``T / (column norms squared)`` maps a gradient taken along\n"
             "integrate to one in configuration coordinates (see configurationGradient).\n\n"
             P_MODEL
             P_Q
             ":returns: T, shape (nq, nv): row per configuration coordinate, column per velocity\n"
             "   coordinate; the identity for revolute and prismatic joints.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.tangentMap(m, ld.neutral(m)).shape\n"
             "(7, 7)",
     .rows = "Tangent maps of the configurations, (N, nq, nv)."}};

// --------------------------------------------------------------- kinematics

constexpr Function kForwardKinematics{
    "forwardKinematics", {kModel, kData, kKinematicsQ},
    nothing<[](Call& c) { forwardKinematics(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "kinematics",
     .reference = "Placements of every joint in the world for configuration q: forward kinematics.\n\n"
                  "``oMi[i] = oMi[λ(i)]·limi[i]``, with λ(i) the parent of joint i and ``limi[i]`` the joint's\n"
                  "fixed placement in its parent followed by its motion for q (:ref:`conventions-frames`).\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  ":returns: None.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``limi`` and ``oMi`` (``data.oMi``: one SE3 per joint, world frame), which\n"
                  "   getFramePlacement, updateFramePlacements and ``data.get_joint_placement`` read.\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.forwardKinematics(m, d, q)\n"
                  ">>> d.oMi[-1].homogeneous[:3, 3].shape   # the last joint's origin in the world\n"
                  "(3,)"}};

// Frame placements as homogeneous matrices: a batch form of its own, since
// the single forwardKinematics returns None.
constexpr Function kFramePlacements{
    "framePlacements", {kModel, kData, kQ, kFrameIds},
    in_lock_step(rows<[](Call& c, double* const* out) {
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
    }>(Shape::frames_4_4), lockstep::Kernel::frame_placements),
    {.page = "batch",
     .text = "Placements in the world of the frames frame_ids, as homogeneous matrices, for each "
             "configuration.\n\n"
             "``oMf = oMi[parent]·placement`` of each frame after forwardKinematics(model, data, q)\n"
             "(:ref:`conventions-frames`); the matrix is ``[[R, p], [0, 1]]``, R the frame's axes and p\n"
             "its origin in world coordinates.\n\n"
             P_MODEL
             P_Q
             ":param frame_ids: frames of the model (indexes below ``model.nframes``), in the order\n"
             "   wanted.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> Q = np.zeros((100, m.nq))\n"
             ">>> ld.batch.framePlacements(m, Q, [m.getFrameId(\"tool0\")]).shape\n"
             "(100, 1, 4, 4)",
     .rows = "World placements of the frames `frame_ids` as homogeneous matrices, "
             "(N, len(frame_ids), 4, 4).",
     .former_batch_name = "forwardKinematics",
     .batch_only = true}};

constexpr Function kGetFramePlacement{
    "getFramePlacement", {kModel, kData, kFrameId},
    object<[](Call& c) { return new_se3(getFramePlacement(*c.model, *c.data, c.index(0))); }>("SE3"),
    {.page = "kinematics",
     .text = "Placement of frame frame_id in the world, from the joint placements in data.\n\n"
             "``oMf = oMi[parent]·placement``: the frame's parent joint placement composed with the\n"
             "frame's fixed placement on that joint (:ref:`conventions-frames`).\n\n"
             P_MODEL
             P_DATA
             P_FRAME
             ":returns: SE3 oMf: its rotation R holds the frame's axes in world axes, its translation p\n"
             "   the frame's origin in world coordinates (m); ``.homogeneous`` is [[R, p], [0, 1]].\n"
             ":reads data: ``oMi``: run forwardKinematics (or any algorithm that writes it) first.\n"
             ":writes data: nothing.\n\n"
             "Example:\n\n"
             EX
             ">>> ld.forwardKinematics(m, d, q)\n"
             ">>> ld.getFramePlacement(m, d, m.getFrameId(\"tool0\")).homogeneous.shape\n"
             "(4, 4)"}};

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
     .text = "Placements of every frame of the model in the world, from the joint placements in data.\n\n"
             "``oMf[k] = oMi[parent_k]·placement_k`` for every frame k, in frame order\n"
             "(:ref:`conventions-frames`).\n\n"
             P_MODEL
             P_DATA
             ":returns: list of SE3, one per frame (``model.nframes``), world frame.\n"
             ":reads data: ``oMi``: run forwardKinematics (or any algorithm that writes it) first.\n"
             ":writes data: nothing.\n\n"
             "Example:\n\n"
             EX
             ">>> ld.forwardKinematics(m, d, q)\n"
             ">>> len(ld.updateFramePlacements(m, d)) == m.nframes\n"
             "True"}};

// ----------------------------------------------------------------- dynamics

constexpr Function kRnea{
    "rnea", {kModel, kData, kQ, kV, kA},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return rnea(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }, [](Call& c, Eigen::Ref<Eigen::VectorXd> tau) {
      rnea(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), tau);
    }>(Shape::nv), lockstep::Kernel::rnea),
    {.page = "dynamics",
     .reference = "Joint torques for a motion: inverse dynamics by the recursive Newton-Euler algorithm.\n\n"
                  "``tau = M(q)·a + C(q, v)·v + g(q)``, under the model's gravity.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  P_V
                  P_A
                  ":returns: tau, shape (nv,): the joint torques (N·m) and forces (N) that produce ``a``, one\n"
                  "   per velocity coordinate.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``limi``, ``oMi``, per joint ``v``, ``a`` (with the gravity offset) and the\n"
                  "   transmitted force ``f``, in the joint frame; ``tau`` (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.rnea(m, d, q, v, v).shape   # the gravity torques\n"
                  "(7,)",
     .rows = "Joint torques, (N, nv)."}};

constexpr Function kNonLinearEffects{
    "non_linear_effects", {kModel, kData, kQ, kV},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return non_linear_effects(*c.model, *c.data, c.vector(0), c.vector(1));
    }>(Shape::nv), lockstep::Kernel::non_linear_effects),
    {.page = "dynamics",
     .reference = "Coriolis, centrifugal and gravity torques: the inverse dynamics at zero acceleration.\n\n"
                  "``nle = C(q, v)·v + g(q) = rnea(q, v, 0)``.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  P_V
                  ":returns: shape (nv,), N·m and N, one per velocity coordinate.\n"
                  ":reads data: nothing.\n"
                  ":writes data: as rnea with a = 0, the result into ``nle`` (and ``tau``)\n"
                  "   (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> np.allclose(ld.non_linear_effects(m, d, q, v), ld.compute_gravity(m, d, q))\n"
                  "True",
     .rows = "Coriolis, centrifugal and gravity torques, (N, nv)."}};

constexpr Function kComputeGravity{
    "compute_gravity", {kModel, kData, kQ},
    in_lock_step(vector<[](Call& c) -> decltype(auto) { return compute_gravity(*c.model, *c.data, c.vector(0)); }>(
                     Shape::nv),
                 lockstep::Kernel::gravity),
    {.page = "dynamics",
     .reference = "Gravity torques g(q): the joint torques that hold the model still under its gravity.\n\n"
                  "``g = rnea(q, 0, 0)``, the gradient of the potential energy.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  ":returns: g, shape (nv,), N·m and N, one per velocity coordinate.\n"
                  ":reads data: nothing.\n"
                  ":writes data: as rnea with v = a = 0, the result into ``g`` (``data.g``) and ``tau``\n"
                  "   (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.compute_gravity(m, d, q).shape\n"
                  "(7,)",
     .rows = "Gravity torques, (N, nv)."}};

constexpr Function kCrba{
    "crba", {kModel, kData, kQ},
    in_lock_step(upper_triangle<[](Call& c) -> decltype(auto) { return crba(*c.model, *c.data, c.vector(0)); },
                                [](Call& c, Eigen::Ref<Eigen::MatrixXd> M) {
                                  crba(*c.model, *c.data, c.vector(0), M);
                                }>(),
                 lockstep::Kernel::crba),
    {.page = "dynamics",
     .reference = "Joint-space mass matrix M(q) (composite rigid body algorithm).\n\n"
                  "``M(q)`` with ``tau = M(q)·a + C(q, v)·v + g(q)``, the kinetic energy ``½ vᵀ·M·v``:\n"
                  "symmetric, positive definite when every moving joint carries mass.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  ":returns: shape (nv, nv): the upper triangle and diagonal of M; the strict lower triangle "
                  "is\n"
                  "   zero (``data.M`` shows the full symmetric matrix; the batch form returns it full).\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``M`` (upper triangle), ``limi``, ``oMi``, ``j`` (as computeJointJacobians)\n"
                  "   and the composite inertias of the subtrees in the world frame (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> M = ld.crba(m, d, q)\n"
                  ">>> np.allclose(d.M, d.M.T)\n"
                  "True",
     .rows = "Mass matrices, full and symmetric (as Data.M shows them), (N, nv, nv)."}};

constexpr Function kAba{
    "aba", {kModel, kData, kQ, kV, kTau},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      return aba(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }, [](Call& c, Eigen::Ref<Eigen::VectorXd> ddq) {
      aba(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2), ddq);
    }>(Shape::nv), lockstep::Kernel::aba),
    {.page = "dynamics",
     .text = "Forward dynamics: the joint accelerations under torques tau (articulated-body algorithm).\n\n"
             "``ddq = M(q)⁻¹·(tau − C(q, v)·v − g(q))``, in O(n) without forming M.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_TAU
             ":returns: ddq, shape (nv,): rad/s² and m/s². ValueError when a moving joint carries no mass.\n"
             ":reads data: nothing.\n"
             ":writes data: ``ddq``; ``limi``, ``oMi``, ``ov``, ``j`` and the articulated inertias and\n"
             "   bias forces of the subtrees, world frame (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ddq = ld.aba(m, d, q, v, ld.compute_gravity(m, d, q))\n"
             ">>> np.allclose(ddq, 0)\n"
             "True",
     .rows = "Joint accelerations under the torques tau, (N, nv)."}};

constexpr Function kComputeMinverse{
    "computeMinverse", {kModel, kData, kQ},
    symmetric<[](Call& c) -> decltype(auto) { return computeMinverse(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "dynamics",
     .text = "Inverse of the joint-space mass matrix, M(q)⁻¹, full and symmetric.\n\n"
             "By the articulated-body recursion for the nv unit torques at once: O(n²), no dense inverse.\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: shape (nv, nv), symmetric. ValueError when a moving joint carries no mass.\n"
             ":reads data: nothing.\n"
             ":writes data: ``Minv``; ``limi``, ``oMi``, ``j``, the articulated inertias\n"
             "   (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> Minv = ld.computeMinverse(m, d, q); M = ld.crba(m, d, q)\n"
             ">>> np.allclose(Minv @ d.M, np.eye(m.nv))\n"
             "True",
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
             "None; the results are stored in data",
     .reference = "Every kinematic and dynamic quantity of the workspace for (q, v), with zero joint "
                  "acceleration.\n\n"
                  "Placements, velocities, Jacobians and their time variation, bias accelerations, body "
                  "forces,\n"
                  "composite inertias, ``M`` (as crba), ``nle`` (as non_linear_effects), ``g`` (as\n"
                  "compute_gravity) and the centroidal quantities (centre of mass, its Jacobian, centroidal\n"
                  "map, momentum and its rate, centroidal inertia), in one pass. The root link's body (on "
                  "joint\n"
                  "0, fixed to the world) is left out of the centroidal quantities.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  P_V
                  ":returns: None; the results stay in data (``data.M``, ``data.g``, ``data.oMi`` from "
                  "Python).\n"
                  ":reads data: nothing.\n"
                  ":writes data: everything computeJointJacobiansTimeVariation writes, and the above\n"
                  "   (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeAllTerms(m, d, q, v)\n"
                  ">>> d.M.shape\n"
                  "(7, 7)"}};

constexpr Function kComputeCoriolisMatrix{
    "computeCoriolisMatrix", {kModel, kData, kQ, kV},
    nothing<[](Call& c) { computeCoriolisMatrix(*c.model, *c.data, c.vector(0), c.vector(1)); }>(),
    {.page = "dynamics",
     .text = "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics\n\n"
             "The equations of motion read M(q) * ddq + C(q, dq) * dq + g(q) = tau.\n"
             "The Coriolis matrix C is stored in data.C\n\n"
             STATE_ARGUMENTS
             "# Returns\n"
             "None; the result is stored in data.C",
     .reference = "Coriolis matrix C(q, v) of the Lagrangian dynamics, into data.C.\n\n"
                  "``M(q)·ddq + C(q, v)·v + g(q) = tau``, with ``C·v = nle − g`` and ``dM/dt = C + Cᵀ``.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  P_V
                  ":returns: None; C, shape (nv, nv), is read as ``data.C``.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``C``; also ``limi``, ``oMi``, ``v``, ``ov``, ``j``, ``dJ`` and the composite\n"
                  "   inertias (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeCoriolisMatrix(m, d, q, np.ones(m.nv))\n"
                  ">>> d.C.shape\n"
                  "(7, 7)"}};

// ---------------------------------------------------------------- jacobians

constexpr Function kComputeJointJacobians{
    "computeJointJacobians", {kModel, kData, kQ},
    nothing<[](Call& c) { computeJointJacobians(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "jacobians",
     .reference = "Jacobians of every joint in the world frame, into data: forward kinematics, then j.\n\n"
                  "Column c of ``j`` is ``oMi[i]·S_c``: the spatial velocity, [linear; angular] about the "
                  "world\n"
                  "origin in world axes, that a unit velocity of coordinate c (owned by joint i) gives\n"
                  "(:ref:`conventions-6-vectors`).\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  ":returns: None; read the Jacobians with getFrameJacobian.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``limi``, ``oMi``, ``j`` (6×nv, world frame) (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeJointJacobians(m, d, q)\n"
                  ">>> ld.getFrameJacobian(m, d, m.getFrameId(\"tool0\"), ld.ReferenceFrame.WORLD).shape\n"
                  "(6, 7)"}};

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
             "6×nv Jacobian matrix expressed in the local frame of the joint",
     .reference = "Jacobian of joint joint_id in its own frame for configuration q.\n\n"
                  "``ν_i = J·v``: column c is the spatial velocity of joint i's frame, [linear; angular] in "
                  "its\n"
                  "own axes about its origin, per unit velocity of coordinate c; columns of coordinates off "
                  "the\n"
                  "joint's support path are zero (:ref:`conventions-6-vectors`).\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  ":param joint_id: a joint of the model, below ``model.njoints``.\n"
                  ":returns: shape (6, nv), rows [linear; angular], LOCAL frame of the joint.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``limi`` along the joint's support path.\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeJointJacobian(m, d, q, 7).shape\n"
                  "(6, 7)"}};

constexpr Function kGetFrameJacobian{
    "getFrameJacobian", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_into<[](Call& c, auto J) {
      extractJointJacobian(*c.model, *c.data, frame_parent_joint(*c.model, c.index(0)), c.frame, J);
    }>(),
    {.page = "jacobians",
     .reference = "Jacobian of the joint carrying frame frame_id, in reference_frame, from the Jacobians in "
                  "data.\n\n"
                  "``ν = J·v``, with F taken as the frame of the joint the frame is attached to: the frame's\n"
                  "own placement on its joint is not applied (for a frame offset from its joint, LOCAL gives\n"
                  "the joint's axes and origin, LOCAL_WORLD_ALIGNED the joint's origin). See\n"
                  ":ref:`conventions-reference-frames`.\n\n"
                  P_MODEL
                  P_DATA
                  P_FRAME
                  P_RF
                  ":returns: shape (6, nv), rows [linear; angular] (:ref:`conventions-6-vectors`).\n"
                  ":reads data: ``j`` and ``oMi`` as computeJointJacobians, crba or computeAllTerms leave "
                  "them.\n"
                  ":writes data: nothing.\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeJointJacobians(m, d, q)\n"
                  ">>> ld.getFrameJacobian(m, d, m.getFrameId(\"tool0\"), ld.ReferenceFrame.LOCAL).shape\n"
                  "(6, 7)"}};

// The Jacobians computed from q: a batch form of its own, since the single
// getFrameJacobian reads them from data.
constexpr Function kComputeFrameJacobian{
    "computeFrameJacobian", {kModel, kData, kQ, kFrameId, kReferenceFrame},
    in_lock_step(matrix6_into<[](Call& c, auto J) {
      computeJointJacobians(*c.model, *c.data, c.vector(0));
      extractJointJacobian(*c.model, *c.data, frame_parent_joint(*c.model, c.index(0)), c.frame, J);
    }>(), lockstep::Kernel::frame_jacobian),
    {.page = "batch",
     .text = "Jacobian of the joint carrying frame frame_id, in reference_frame, for each configuration.\n\n"
             "Each row runs computeJointJacobians on the row's q, then getFrameJacobian: F is the frame of\n"
             "the joint the frame is attached to (its own placement not applied;\n"
             ":ref:`conventions-reference-frames`), rows [linear; angular].\n\n"
             P_MODEL
             P_Q
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.batch.computeFrameJacobian(m, np.zeros((100, m.nq)), m.getFrameId(\"tool0\"),\n"
             "...                               ld.ReferenceFrame.WORLD).shape\n"
             "(100, 6, 7)",
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
             "None; the result is stored in data.dJ",
     .reference = "Time derivative of the world Jacobians of every joint, into data.dJ, from q and v alone.\n\n"
                  "``dJ = [ov]× * J``: column c is ``ov[i] × J_c``, ov[i] the world spatial velocity of the\n"
                  "joint i owning c, as a motion cross product ([linear; angular],\n"
                  ":ref:`conventions-6-vectors`). computeAllTerms need not be called first.\n\n"
                  P_MODEL
                  P_DATA
                  P_Q
                  P_V
                  ":returns: None; read the result with getFrameJacobianTimeVariation.\n"
                  ":reads data: nothing.\n"
                  ":writes data: ``limi``, ``oMi``, ``v`` (joint frame), ``ov`` (world frame), ``j``, ``dJ``\n"
                  "   (6×nv, world frame) (:ref:`conventions-data`).\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeJointJacobiansTimeVariation(m, d, q, np.ones(m.nv))\n"
                  ">>> ld.getFrameJacobianTimeVariation(m, d, 0, ld.ReferenceFrame.WORLD).shape\n"
                  "(6, 7)"}};

constexpr Function kGetFrameJacobianTimeVariation{
    "getFrameJacobianTimeVariation", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_into<[](Call& c, auto dJ) {
      getFrameJacobianTimeVariation(*c.model, *c.data, c.index(0), c.frame, dJ);
    }>(),
    {.page = "jacobians",
     .reference = "Time derivative of the Jacobian of frame frame_id in reference_frame, from what data holds.\n\n"
                  "``dJ/dt`` of the frame's Jacobian J in reference_frame (``α = J·a + dJ/dt·v``); unlike\n"
                  "getFrameJacobian, the frame's own placement on its joint is applied\n"
                  "(:ref:`conventions-reference-frames`).\n\n"
                  P_MODEL
                  P_DATA
                  P_FRAME
                  P_RF
                  ":returns: shape (6, nv), rows [linear; angular] (:ref:`conventions-6-vectors`).\n"
                  ":reads data: ``dJ``, ``j``, ``oMi``, ``v``, ``ov`` as computeJointJacobiansTimeVariation "
                  "(or\n"
                  "   computeAllTerms) leaves them.\n"
                  ":writes data: nothing.\n\n"
                  "Example:\n\n"
                  EX
                  ">>> ld.computeJointJacobiansTimeVariation(m, d, q, np.ones(m.nv))\n"
                  ">>> ld.getFrameJacobianTimeVariation(m, d, m.getFrameId(\"tool0\"), "
                  "ld.ReferenceFrame.LOCAL).shape\n"
                  "(6, 7)"}};

// ------------------------------------- centre of mass, momentum and energy

constexpr Function kCenterOfMass{
    "centerOfMass", {kModel, kData, kQ},
    vector<[](Call& c) -> decltype(auto) { return centerOfMass(*c.model, *c.data, c.vector(0)); }>(
        Shape::three),
    {.page = "centroidal",
     .text = "Centre of mass of the model's bodies in the world frame.\n\n"
             "``c = Σᵢ m_i·c_i / Σᵢ m_i`` over the bodies of joints 1 … njoints − 1, c_i body i's centre\n"
             "of mass in the world; zero when the total mass is at most 1e-10. The root link's body (on\n"
             "joint 0, fixed to the world) is left out; bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: c, shape (3,), m, world frame (:ref:`conventions-frames`).\n"
             ":reads data: nothing.\n"
             ":writes data: ``com``; ``limi``, ``oMi`` (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.centerOfMass(m, d, q).shape\n"
             "(3,)",
     .rows = "Centres of mass in the world, (N, 3)."}};

constexpr Function kJacobianCenterOfMass{
    "jacobianCenterOfMass", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return jacobianCenterOfMass(*c.model, *c.data, c.vector(0));
    }>(Shape::three_nv),
    {.page = "centroidal",
     .text = "Jacobian of the centre of mass: its velocity per unit joint velocity, in the world frame.\n\n"
             "``ċ = J_c·v``: column k is ``Σᵢ m_i·(S_k applied at c_i)`` over the bodies below coordinate\n"
             "k, divided by the total mass; zero when the total mass is at most 1e-10. The root link's\n"
             "body (on joint 0, fixed to the world) is left out; bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: J_c, shape (3, nv), m per unit velocity, world axes.\n"
             ":reads data: nothing.\n"
             ":writes data: the centre-of-mass Jacobian, ``com``; ``limi``, ``oMi``, ``j``, the composite\n"
             "   inertias (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.jacobianCenterOfMass(m, d, q).shape\n"
             "(3, 7)",
     .rows = "Jacobians of the centre of mass, (N, 3, nv)."}};

constexpr Function kComputeCentroidalMap{
    "computeCentroidalMap", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return computeCentroidalMap(*c.model, *c.data, c.vector(0));
    }>(Shape::six_nv),
    {.page = "centroidal",
     .text = "Centroidal momentum matrix A_G: the momentum about the centre of mass per unit joint velocity.\n\n"
             "``h_G = A_G·v``, h_G = [linear momentum; angular momentum about the centre of mass], world\n"
             "axes (:ref:`centroidal 6-vectors <conventions-centroidal>`). The root link's body (on joint\n"
             "0, fixed to the world) is left out; bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: A_G, shape (6, nv), rows [linear (kg·m/s); angular (kg·m²/s)] per unit velocity.\n"
             ":reads data: nothing.\n"
             ":writes data: the centroidal map, ``com``, the centre-of-mass Jacobian and what\n"
             "   jacobianCenterOfMass writes (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeCentroidalMap(m, d, q).shape\n"
             "(6, 7)"}};

constexpr Function kComputeCentroidalMomentum{
    "computeCentroidalMomentum", {kModel, kData, kQ, kV},
    vector<[](Call& c) -> decltype(auto) {
      return computeCentroidalMomentum(*c.model, *c.data, c.vector(0), c.vector(1));
    }>(Shape::six),
    {.page = "centroidal",
     .text = "Centroidal momentum: linear momentum, and angular momentum about the centre of mass.\n\n"
             "``h_G = [Σᵢ m_i·ċ_i; Σᵢ (I_i·ω_i + m_i·(c_i − c) × ċ_i)] = A_G·v``, world axes, from the\n"
             "body velocities in O(n) (:ref:`centroidal 6-vectors <conventions-centroidal>`). The root\n"
             "link's body (on joint 0, fixed to the world) is left out; bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             ":returns: h_G, shape (6,), [linear (kg·m/s); angular (kg·m²/s)].\n"
             ":reads data: nothing.\n"
             ":writes data: the centroidal momentum, ``com``; ``limi``, ``oMi``, ``v`` (joint frame)\n"
             "   (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeCentroidalMomentum(m, d, q, np.ones(m.nv)).shape\n"
             "(6,)"}};

constexpr Function kComputeKineticEnergy{
    "computeKineticEnergy", {kModel, kData, kQ, kV},
    scalar<[](Call& c) { return computeKineticEnergy(*c.model, *c.data, c.vector(0), c.vector(1)); }>(),
    {.page = "centroidal",
     .text = "Kinetic energy of the model's bodies.\n\n"
             "``T = ½ vᵀ·M(q)·v = Σᵢ ½ v_iᵀ·Y_i·v_i``, v_i and Y_i the spatial velocity and inertia of\n"
             "body i in its joint's frame. The root link's body (on joint 0, fixed to the world) is left\n"
             "out; bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             ":returns: T, float, J.\n"
             ":reads data: nothing.\n"
             ":writes data: ``limi``, ``oMi``, per joint ``v`` (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> v = np.ones(m.nv); M = ld.crba(m, d, q)\n"
             ">>> bool(np.isclose(ld.computeKineticEnergy(m, d, q, v), 0.5 * v @ d.M @ v))\n"
             "True"}};

constexpr Function kComputePotentialEnergy{
    "computePotentialEnergy", {kModel, kData, kQ},
    scalar<[](Call& c) { return computePotentialEnergy(*c.model, *c.data, c.vector(0)); }>(),
    {.page = "centroidal",
     .text = "Potential energy of the model's bodies in the model's gravity (zero at the world origin).\n\n"
             "``U = −Σᵢ m_i·g·c_i``, g the model's linear gravity and c_i the world centre of mass of body\n"
             "i. The root link's body (on joint 0, fixed to the world) is left out; bodies on fixed joints\n"
             "count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: U, float, J.\n"
             ":reads data: nothing.\n"
             ":writes data: ``limi``, ``oMi`` (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> U = ld.computePotentialEnergy(m, d, q)"}};

constexpr Function kComputeMechanicalEnergy{
    "computeMechanicalEnergy", {kModel, kData, kQ, kV},
    scalar<[](Call& c) {
      return computeKineticEnergy(*c.model, *c.data, c.vector(0), c.vector(1)) +
             computePotentialEnergy(*c.model, *c.data, c.vector(0));
    }>(),
    {.page = "centroidal",
     .text = "Mechanical energy: kinetic plus potential energy of the model's bodies.\n\n"
             "``E = ½ vᵀ·M(q)·v − Σᵢ m_i·g·c_i`` = computeKineticEnergy + computePotentialEnergy; constant\n"
             "along an unforced motion. The root link's body (on joint 0, fixed to the world) is left out;\n"
             "bodies on fixed joints count.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             ":returns: E, float, J.\n"
             ":reads data: nothing.\n"
             ":writes data: ``limi``, ``oMi``, per joint ``v`` (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> E = ld.computeMechanicalEnergy(m, d, q, np.ones(m.nv))",
     .rows = "Mechanical energies, (N,)."}};

// ------------------------------------------------------- external forces

constexpr Function kInverseDynamics{
    "inverseDynamics", {kModel, kData, kQ, kV, kA, kForces},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      const Model& m = *c.model;
      return c.has_forces() ? inverseDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2), c.fext())
                            : inverseDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(Shape::nv), lockstep::Kernel::rnea),  // (with fext too)
    {.page = "dynamics",
     .text = "Joint torques for a motion under external forces on the bodies: rnea with fext.\n\n"
             "``tau = M(q)·a + C(q, v)·v + g(q) − Σᵢ J_iᵀ·f_i``, J_i the Jacobian of joint i in its own\n"
             "frame and f_i row i of fext; without fext, rnea's result.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_A
             P_FEXT
             ":returns: tau, shape (nv,): N·m and N, one per velocity coordinate.\n"
             ":reads data: nothing.\n"
             ":writes data: what rnea writes, ``f`` with the external forces taken off\n"
             "   (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> fext = np.zeros((m.njoints, 6)); fext[-1, 2] = 10.0   # 10 N along the last body's z\n"
             ">>> ld.inverseDynamics(m, d, q, v, v, fext).shape\n"
             "(7,)",
     .rows = "Joint torques under the forces `fext` ((N, njoints, 6) or None), (N, nv)."}};

constexpr Function kForwardDynamics{
    "forwardDynamics", {kModel, kData, kQ, kV, kTau, kForces},
    in_lock_step(vector<[](Call& c) -> decltype(auto) {
      const Model& m = *c.model;
      return c.has_forces() ? forwardDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2), c.fext())
                            : forwardDynamics(m, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(Shape::nv), lockstep::Kernel::aba),  // (with fext too)
    {.page = "dynamics",
     .text = "Forward dynamics under external forces on the bodies: aba with fext.\n\n"
             "``ddq = M(q)⁻¹·(tau + Σᵢ J_iᵀ·f_i − C(q, v)·v − g(q))``, so that ``inverseDynamics(q, v,\n"
             "ddq, fext) = tau``; without fext, aba's result.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_TAU
             P_FEXT
             ":returns: ddq, shape (nv,): rad/s² and m/s².\n"
             ":reads data: nothing.\n"
             ":writes data: what aba writes (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> fext = np.zeros((m.njoints, 6))\n"
             ">>> np.allclose(ld.forwardDynamics(m, d, q, v, v, fext), ld.aba(m, d, q, v, v))\n"
             "True",
     .rows = "Joint accelerations under the forces `fext` ((N, njoints, 6) or None), (N, nv)."}};

// -------------------------------------------------------------- derivatives

constexpr Function kComputeRNEADerivatives{
    "computeRNEADerivatives", {kModel, kData, kQ, kV, kA, kForces},
    in_lock_step(matrix_triple<[](Call& c) {
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
    }>(), lockstep::Kernel::rnea_derivatives),  // (with fext too)
    {.page = "derivatives",
     .text = "Derivatives of the inverse dynamics tau = rnea(q, v, a), or inverseDynamics(q, v, a, fext).\n\n"
             "``(∂tau/∂q, ∂tau/∂v, ∂tau/∂a)``, with ``∂tau/∂a = M(q)``. Derivatives with respect to q are\n"
             "taken along integrate: column k is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`). The forces fext, given in their bodies'\n"
             "frames, move with their bodies.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_A
             P_FEXT
             ":returns: (dtau_dq, dtau_dv, dtau_da), each shape (nv, nv): row per torque, column per\n"
             "   velocity coordinate; dtau_da is M, full and symmetric.\n"
             ":reads data: nothing.\n"
             ":writes data: the three derivatives (sized on first use); ``limi``, ``oMi``, ``ov``\n"
             "   (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> dq, dv, da = ld.computeRNEADerivatives(m, d, q, v, v)\n"
             ">>> M = ld.crba(m, d, q); np.allclose(da, d.M)\n"
             "True",
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
     .text = "Derivatives of the forward dynamics ddq = aba(q, v, tau), or forwardDynamics(q, v, tau, fext).\n\n"
             "``(∂ddq/∂q, ∂ddq/∂v, ∂ddq/∂tau)``, with ``∂ddq/∂tau = M(q)⁻¹``. Derivatives with respect to\n"
             "q are taken along integrate: column k is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`). The forces fext, given in their bodies'\n"
             "frames, move with their bodies.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_TAU
             P_FEXT
             ":returns: (dddq_dq, dddq_dv, dddq_dtau), each shape (nv, nv): row per acceleration, column\n"
             "   per velocity coordinate; dddq_dtau is M⁻¹, full and symmetric.\n"
             ":reads data: nothing.\n"
             ":writes data: the three derivatives, ``ddq``, and the inverse-dynamics derivatives at (q, v,\n"
             "   ddq) (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> dq, dv, dtau = ld.computeABADerivatives(m, d, q, v, v)\n"
             ">>> np.allclose(dtau, ld.computeMinverse(m, d, q))\n"
             "True",
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
     .text = "Products of cotangents with the derivatives of rnea: (wᵀ·∂tau/∂q, wᵀ·∂tau/∂v, wᵀ·M).\n\n"
             "Each row's cotangent w times the derivatives of rnea at the row's state: the gradient of\n"
             "``w·rnea(q, v, a)`` with respect to q, v and a, without forming the nv×nv matrices. The q\n"
             "part is in q's coordinates (as configurationGradient gives it), ready for an autograd\n"
             "framework (lumo_dynamic.torch, lumo_dynamic.jax).\n\n"
             P_MODEL
             P_Q
             P_V
             P_A
             ":param cotangent: w, shape (nv,): the gradient of the loss with respect to rnea's result.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Q = np.zeros((10, m.nq)); V = np.zeros((10, "
             "m.nv))\n"
             ">>> gq, gv, ga = ld.batch.rneaVJP(m, Q, V, V, np.ones((10, m.nv)))",
     .rows = "Products of the cotangents with the derivatives of rnea: (wᵀ dtau/dq in q's "
             "coordinates (N, nq), wᵀ dtau/dv (N, nv), wᵀ M (N, nv)); see configurationGradient.",
     .batch_only = true}};

constexpr Function kAbaVJP{
    "abaVJP", {kModel, kData, kQ, kV, kTau, kCotangent},
    vjp_rows<abaVJP>(),
    {.page = "batch",
     .text = "Products of cotangents with the derivatives of aba: (wᵀ·∂ddq/∂q, wᵀ·∂ddq/∂v, wᵀ·M⁻¹).\n\n"
             "Each row's cotangent w times the derivatives of aba at the row's state: the gradient of\n"
             "``w·aba(q, v, tau)`` with respect to q, v and tau, without forming the nv×nv matrices. The q\n"
             "part is in q's coordinates (as configurationGradient gives it), ready for an autograd\n"
             "framework (lumo_dynamic.torch, lumo_dynamic.jax).\n\n"
             P_MODEL
             P_Q
             P_V
             P_TAU
             ":param cotangent: w, shape (nv,): the gradient of the loss with respect to aba's result.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Q = np.zeros((10, m.nq)); V = np.zeros((10, "
             "m.nv))\n"
             ">>> gq, gv, gtau = ld.batch.abaVJP(m, Q, V, V, np.ones((10, m.nv)))",
     .rows = "Products of the cotangents with the derivatives of aba: (wᵀ dddq/dq in q's "
             "coordinates (N, nq), wᵀ dddq/dv (N, nv), wᵀ M⁻¹ (N, nv)); see configurationGradient.",
     .batch_only = true}};

constexpr Function kConfigurationGradient{
    "configurationGradient", {kModel, kIntegrateQ, {"g", Kind::vector, Count::nv}},
    vector_into<[](Call& c, Eigen::Map<Eigen::VectorXd> out) {
      configurationGradient(*c.model, c.vector(0), c.vector(1), out);
    }, Shape::nq>(),
    {.page = "configuration",
     .text = "The gradient in q's coordinates of a function whose gradient along integrate is g.\n\n"
             "``grad = T·diag(1/(t_k·t_k))·g`` with ``T = tangentMap(model, q)`` and t_k its columns: the\n"
             "one gradient in the span of T whose product with any motion ``T·dv`` is ``g·dv``. The\n"
             "ordinary gradient for revolute and prismatic joints. It turns the derivatives of this\n"
             "library (taken along integrate, :ref:`conventions <conventions-derivatives>`) into gradients\n"
             "for q as an array.\n\n"
             P_MODEL
             P_Q
             ":param g: gradient along integrate, shape (nv,): one element per velocity coordinate.\n"
             ":returns: the gradient, shape (nq,).\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.configurationGradient(m, ld.neutral(m), np.ones(m.nv)).shape\n"
             "(7,)",
     .rows = "Gradients in q's coordinates, (N, nq)."}};

constexpr Function kComputeGeneralizedGravityDerivatives{
    "computeGeneralizedGravityDerivatives", {kModel, kData, kQ},
    matrix<[](Call& c) -> decltype(auto) {
      return computeGeneralizedGravityDerivatives(*c.model, *c.data, c.vector(0));
    }>(Shape::nv_nv),
    {.page = "derivatives",
     .text = "Derivative of the gravity torques g(q) = compute_gravity(q) with respect to q.\n\n"
             "``∂g/∂q``. Derivatives with respect to q are taken along integrate: column k is the\n"
             "derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`).\n\n"
             P_MODEL
             P_DATA
             P_Q
             ":returns: shape (nv, nv): row per torque, column per velocity coordinate.\n"
             ":reads data: nothing.\n"
             ":writes data: ``∂g/∂q``; ``limi``, ``oMi`` (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeGeneralizedGravityDerivatives(m, d, q).shape\n"
             "(7, 7)"}};

// ------------------------------------------------- kinematics derivatives

constexpr Function kComputeKinematicsDerivatives{
    "computeKinematicsDerivatives", {kModel, kData, kQ, kV, kA},
    nothing<[](Call& c) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
    }>(),
    {.page = "derivatives",
     .text = "The kinematic pass for (q, v, a) that the frame motion derivatives read.\n\n"
             "Placements, the world Jacobian and, per joint in the world frame about the world origin, the\n"
             "spatial velocity and acceleration (no gravity): what getFrameVelocityDerivatives and\n"
             "getFrameAccelerationDerivatives differentiate.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_A
             ":returns: None.\n"
             ":reads data: nothing.\n"
             ":writes data: ``limi``, ``oMi``, ``j`` and the world velocities and accelerations of the\n"
             "   joints (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeKinematicsDerivatives(m, d, q, v, v)"}};

constexpr Function kGetFrameVelocityDerivatives{
    "getFrameVelocityDerivatives", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto dv_dq, auto dv_dv) {
      getFrameVelocityDerivatives(*c.model, *c.data, c.index(0), c.frame, dv_dq, dv_dv);
    }, 2>(),
    {.page = "derivatives",
     .text = "Derivatives of the spatial velocity of frame frame_id in reference_frame, from data.\n\n"
             "``(∂ν/∂q, ∂ν/∂v)`` with ``ν = J·v`` as getFrameVelocity gives it (the frame's placement\n"
             "applied); ``∂ν/∂v = J``. Derivatives with respect to q are taken along integrate: column k\n"
             "is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`). Columns of joints off the frame's support\n"
             "path are zero.\n\n"
             P_MODEL
             P_DATA
             P_FRAME
             P_RF
             ":returns: (dv_dq, dv_dv), each shape (6, nv), rows [linear; angular]\n"
             "   (:ref:`conventions-6-vectors`).\n"
             ":reads data: what computeKinematicsDerivatives(model, data, q, v, a) left.\n"
             ":writes data: nothing.\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeKinematicsDerivatives(m, d, q, np.ones(m.nv), v)\n"
             ">>> dv_dq, J = ld.getFrameVelocityDerivatives(m, d, m.getFrameId(\"tool0\"), "
             "ld.ReferenceFrame.LOCAL)"}};

constexpr Function kGetFrameAccelerationDerivatives{
    "getFrameAccelerationDerivatives", {kModel, kData, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto da_dq, auto da_dv, auto da_da) {
      getFrameAccelerationDerivatives(*c.model, *c.data, c.index(0), c.frame, da_dq, da_dv, da_da);
    }, 3>(),
    {.page = "derivatives",
     .text = "Derivatives of the spatial acceleration of frame frame_id in reference_frame, from data.\n\n"
             "``(∂α/∂q, ∂α/∂v, ∂α/∂a)`` with ``α = J·a + J̇·v`` as getFrameAcceleration gives it;\n"
             "``∂α/∂a = J``. Derivatives with respect to q are taken along integrate: column k is the\n"
             "derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`). Columns of joints off the frame's support\n"
             "path are zero.\n\n"
             P_MODEL
             P_DATA
             P_FRAME
             P_RF
             ":returns: (da_dq, da_dv, da_da), each shape (6, nv), rows [linear; angular]\n"
             "   (:ref:`conventions-6-vectors`).\n"
             ":reads data: what computeKinematicsDerivatives(model, data, q, v, a) left.\n"
             ":writes data: nothing.\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeKinematicsDerivatives(m, d, q, np.ones(m.nv), v)\n"
             ">>> da_dq, da_dv, J = ld.getFrameAccelerationDerivatives(m, d, 1, ld.ReferenceFrame.WORLD)"}};

constexpr Function kFrameVelocityDerivativesRows{
    "getFrameVelocityDerivatives", {kModel, kData, kQ, kV, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto dv_dq, auto dv_dv) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1));
      getFrameVelocityDerivatives(*c.model, *c.data, c.index(0), c.frame, dv_dq, dv_dv);
    }, 2>(),
    {.page = "batch",
     .text = "Derivatives of the spatial velocity of frame frame_id in reference_frame, for each state (q, v).\n\n"
             "``(∂ν/∂q, ∂ν/∂v = J)``, as getFrameVelocityDerivatives after computeKinematicsDerivatives on\n"
             "the row's state; rows [linear; angular] (:ref:`conventions-6-vectors`). Derivatives with\n"
             "respect to q are taken along integrate: column k is the derivative along the k-th velocity\n"
             "coordinate (:ref:`conventions <conventions-derivatives>`).\n\n"
             P_MODEL
             P_Q
             P_V
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Z = np.zeros((10, m.nv))\n"
             ">>> dq, dv = ld.batch.getFrameVelocityDerivatives(m, Z, Z, 1, ld.ReferenceFrame.WORLD)",
     .rows = "(dv_dq, dv_dv) of frame `frame_id`'s velocity in `reference_frame`, each (N, 6, nv).",
     .batch_only = true}};

constexpr Function kFrameAccelerationDerivativesRows{
    "getFrameAccelerationDerivatives", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    matrix6_tuple<[](Call& c, auto da_dq, auto da_dv, auto da_da) {
      computeKinematicsDerivatives(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      getFrameAccelerationDerivatives(*c.model, *c.data, c.index(0), c.frame, da_dq, da_dv, da_da);
    }, 3>(),
    {.page = "batch",
     .text = "Derivatives of the spatial acceleration of frame frame_id in reference_frame, for each state.\n\n"
             "``(∂α/∂q, ∂α/∂v, ∂α/∂a = J)``, as getFrameAccelerationDerivatives after\n"
             "computeKinematicsDerivatives on the row's (q, v, a); rows [linear; angular]\n"
             "(:ref:`conventions-6-vectors`). Derivatives with respect to q are taken along integrate:\n"
             "column k is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`).\n\n"
             P_MODEL
             P_Q
             P_V
             P_A
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Z = np.zeros((10, m.nv))\n"
             ">>> dq, dv, da = ld.batch.getFrameAccelerationDerivatives(m, Z, Z, Z, 1, ld.ReferenceFrame.WORLD)",
     .rows = "(da_dq, da_dv, da_da) of frame `frame_id`'s acceleration in `reference_frame`, "
             "each (N, 6, nv).",
     .batch_only = true}};

// -------------------------------------------- frame velocities and accelerations

constexpr Function kComputeKinematics{
    "computeKinematics", {kModel, kData, kQ, kV, kA},
    nothing<[](Call& c) { computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2)); }>(),
    {.page = "kinematics",
     .text = "Placements, spatial velocities and spatial accelerations of every joint for (q, v, a).\n\n"
             "One forward pass without gravity: ``oMi``, and per joint the velocity and the acceleration\n"
             "that v and a give it. The frame functions read it: getFrameVelocity, getFrameAcceleration,\n"
             "getFrameClassicalAcceleration.\n\n"
             P_MODEL
             P_DATA
             P_Q
             P_V
             P_A
             ":returns: None.\n"
             ":reads data: nothing.\n"
             ":writes data: ``limi``, ``oMi``, per joint ``v`` and ``a`` (joint frame, no gravity offset)\n"
             "   (:ref:`conventions-data`).\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeKinematics(m, d, q, v, v)\n"
             ">>> ld.getFrameVelocity(m, d, m.getFrameId(\"tool0\"), ld.ReferenceFrame.WORLD).shape\n"
             "(6,)"}};

constexpr Function kGetFrameVelocity{
    "getFrameVelocity", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) { return getFrameVelocity(*c.model, *c.data, c.index(0), c.frame); }>(Shape::six),
    {.page = "kinematics",
     .text = "Spatial velocity of frame frame_id in reference_frame, from the joint motion in data.\n\n"
             "``ν = J·v`` with J the frame's own Jacobian in reference_frame (the frame's placement on its\n"
             "joint applied). In LOCAL_WORLD_ALIGNED it is ``[ṗ; ω]``: the velocity of the frame's origin\n"
             "and the angular velocity, in world axes.\n\n"
             P_MODEL
             P_DATA
             P_FRAME
             P_RF
             ":returns: shape (6,), [linear (m/s); angular (rad/s)] (:ref:`conventions-6-vectors`).\n"
             ":reads data: ``oMi`` and per joint ``v``, as computeKinematics (or rnea, computeAllTerms)\n"
             "   leaves them.\n"
             ":writes data: nothing.\n\n"
             "Example:\n\n"
             EX
             ">>> ld.computeKinematics(m, d, q, np.ones(m.nv), v)\n"
             ">>> ld.getFrameVelocity(m, d, m.getFrameId(\"tool0\"), ld.ReferenceFrame.LOCAL).shape\n"
             "(6,)"}};

// The parameters, result, Data and example opening of the two frame
// accelerations' descriptions.
#define FRAME_ACCELERATION_REST                                                                        \
  P_MODEL                                                                                              \
  P_DATA                                                                                               \
  P_FRAME                                                                                              \
  P_RF                                                                                                 \
  ":returns: shape (6,), [linear (m/s²); angular (rad/s²)] (:ref:`conventions-6-vectors`).\n"          \
  ":reads data: ``oMi``, per joint ``v`` and ``a``, as computeKinematics(model, data, q, v, a)\n"       \
  "   leaves them (not rnea's, whose accelerations carry gravity).\n"                                  \
  ":writes data: nothing.\n\n"                                                                        \
  "Example:\n\n" EX ">>> ld.computeKinematics(m, d, q, np.ones(m.nv), v)\n"

constexpr Function kGetFrameAcceleration{
    "getFrameAcceleration", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) { return getFrameAcceleration(*c.model, *c.data, c.index(0), c.frame); }>(Shape::six),
    {.page = "kinematics",
     .text = "Spatial acceleration of frame frame_id in reference_frame: the time derivative of its velocity.\n\n"
             "``α = d/dt ν = J·a + J̇·v`` component by component in reference_frame; in\n"
             "LOCAL_WORLD_ALIGNED ``[p̈; ω̇]`` in world axes. Not the classical acceleration in LOCAL and\n"
             "WORLD (see getFrameClassicalAcceleration).\n\n"
             FRAME_ACCELERATION_REST
             ">>> ld.getFrameAcceleration(m, d, m.getFrameId(\"tool0\"), ld.ReferenceFrame.WORLD).shape\n"
             "(6,)"}};

constexpr Function kGetFrameClassicalAcceleration{
    "getFrameClassicalAcceleration", {kModel, kData, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      return getFrameClassicalAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "kinematics",
     .text = "Classical acceleration of frame frame_id: the second derivative of its origin, and ω̇.\n\n"
             "Linear part ``p̈``, the second time derivative of the frame's origin in the world, expressed\n"
             "in reference_frame's axes (the frame's for LOCAL, the world's otherwise); angular part that\n"
             "of getFrameAcceleration.\n\n"
             FRAME_ACCELERATION_REST
             ">>> ld.getFrameClassicalAcceleration(m, d, m.getFrameId(\"tool0\"), "
             "ld.ReferenceFrame.LOCAL).shape\n"
             "(6,)"}};

// The batch forms compute the kinematics of their row first.
constexpr Function kFrameVelocityRows{
    "getFrameVelocity", {kModel, kData, kQ, kV, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      forwardKinematics(*c.model, *c.data, c.vector(0), c.vector(1));
      return getFrameVelocity(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch",
     .text = "Spatial velocity of frame frame_id in reference_frame for each state (q, v).\n\n"
             "``ν = J·v``, [linear; angular] (:ref:`conventions-6-vectors`). Each row runs\n"
             "forwardKinematics with the velocity on the row's state, then reads the frame as the single\n"
             "``getFrameVelocity`` does.\n\n"
             P_MODEL
             P_Q
             P_V
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Z = np.zeros((100, m.nv))\n"
             ">>> ld.batch.getFrameVelocity(m, Z, Z, m.getFrameId(\"tool0\"), ld.ReferenceFrame.WORLD).shape\n"
             "(100, 6)",
     .rows = "Spatial velocities of frame `frame_id` in `reference_frame`, (N, 6).",
     .batch_only = true}};

constexpr Function kFrameAccelerationRows{
    "getFrameAcceleration", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      return getFrameAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch",
     .text = "Spatial acceleration of frame frame_id in reference_frame for each state (q, v, a).\n\n"
             "``α = J·a + J̇·v``, [linear; angular] (:ref:`conventions-6-vectors`). Each row runs\n"
             "computeKinematics on the row's state, then reads the frame as the single\n"
             "``getFrameAcceleration`` does.\n\n"
             P_MODEL
             P_Q
             P_V
             P_A
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Z = np.zeros((100, m.nv))\n"
             ">>> ld.batch.getFrameAcceleration(m, Z, Z, Z, m.getFrameId(\"tool0\"), "
             "ld.ReferenceFrame.WORLD).shape\n"
             "(100, 6)",
     .rows = "Spatial accelerations of frame `frame_id` in `reference_frame`, (N, 6).",
     .batch_only = true}};

constexpr Function kFrameClassicalAccelerationRows{
    "getFrameClassicalAcceleration", {kModel, kData, kQ, kV, kA, kFrameId, kReferenceFrame},
    vector<[](Call& c) {
      computeKinematics(*c.model, *c.data, c.vector(0), c.vector(1), c.vector(2));
      return getFrameClassicalAcceleration(*c.model, *c.data, c.index(0), c.frame);
    }>(Shape::six),
    {.page = "batch",
     .text = "Classical acceleration of frame frame_id in reference_frame for each state (q, v, a).\n\n"
             "``[p̈; ω̇]``, p̈ the second derivative of the frame's origin in reference_frame's axes\n"
             "(:ref:`conventions-6-vectors`). Each row runs computeKinematics on the row's state, then\n"
             "reads the frame as the single ``getFrameClassicalAcceleration`` does.\n\n"
             P_MODEL
             P_Q
             P_V
             P_A
             P_FRAME
             P_RF
             "\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); Z = np.zeros((100, m.nv))\n"
             ">>> ld.batch.getFrameClassicalAcceleration(m, Z, Z, Z, m.getFrameId(\"tool0\"), "
             "ld.ReferenceFrame.WORLD).shape\n"
             "(100, 6)",
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
     .text = "Inverse kinematics: a configuration q that puts frame frame_id at target (placement or "
             "position).\n\n"
             "Levenberg-Marquardt from q0 on the error ``e = log(oMf⁻¹·target)``, a twist in the frame's\n"
             "own axes [linear; angular] (or ``target − p`` in world axes for a position), stepping\n"
             "through integrate; it stops when the weighted norm of e is at most tolerance, or after\n"
             "max_iterations.\n\n"
             P_MODEL
             P_FRAME
             ":param target: SE3 (a placement in the world), or shape (3,): a position (m) for the frame's\n"
             "   origin.\n"
             ":param q0: starting configuration, shape (nq,) (:ref:`conventions-configuration`).\n"
             ":param weights: None (ones), or shape (6,): weights of e's rows [linear; angular]; a\n"
             "   position target uses the first three.\n"
             ":param tolerance: the weighted error norm to reach.\n"
             ":param max_iterations: the most steps taken.\n"
             ":param respect_limits: keep revolute and prismatic coordinates within the model's position\n"
             "   limits.\n"
             ":returns: InverseKinematicsResult(q, converged, iterations, error): q shape (nq,), the best\n"
             "   configuration found, and error its weighted error norm.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\"); q0 = ld.neutral(m) + 0.3\n"
             ">>> r = ld.inverseKinematics(m, m.getFrameId(\"tool0\"), np.array([0.3, 0.2, 0.5]), q0)",
     .rows = "Solutions for targets (N, 4, 4) (homogeneous) or (N, 3) (positions) from q0 (N, nq): "
             "(q (N, nq), converged (N,) bool, iterations (N,) int64, error (N,))."}};

// -------------------------------------------------------------- constraints

constexpr Param kVBefore{"v_before", Kind::vector, Count::nv};
constexpr Param kRestitution{"restitution", Kind::real, Count::none, nullptr, Pass::optional, 0.0, 1.0};

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
     .text = "Forward dynamics under the constraints: the accelerations ddq and the constraint forces.\n\n"
             "``M·ddq + nle = tau + Σᵢ J_iᵀ·f_i + Jᵀ·λ``, ``J·ddq + γ = target``, with J and γ the set's\n"
             "Jacobian and drift and target the corrector's (zero without one), solved through the\n"
             "Delassus matrix ``J·M⁻¹·Jᵀ``; with the set's regularisation the least-norm λ of dependent\n"
             "rows.\n\n"
             P_MODEL
             P_DATA
             P_CONSTRAINTS
             P_Q
             P_V
             P_TAU
             P_FEXT
             ":returns: (ddq, forces): shapes (nv,) and (constraints.size,); λ has one element per row of\n"
             "   the set: for a rigid constraint the force (a ``\"frame\"`` one: [force; torque]) of F2 or\n"
             "   the world on F1 in the rows' axes, for a coupling the generalised force on the driven\n"
             "   joint (:doc:`/constraints`).\n"
             ":reads data: nothing.\n"
             ":writes data: ``ddq``, the constraint forces, Jacobian, drift and target, the factored\n"
             "   Delassus matrix.\n\n"
             "Example:\n\n"
             EX
             ">>> cs = ld.ConstraintSet(m, [ld.JointCoupling(m, 2, 1)])\n"
             ">>> ddq, lam = ld.constrainedDynamics(m, d, cs, q, v, v)",
     .rows = "(ddq (N, nv), forces (N, size)) under the forces `fext` ((N, njoints, 6) or None)."}};

constexpr Function kImpulseDynamics{
    "impulseDynamics", {kModel, kData, kConstraints, kQ, kVBefore, kRestitution},
    blocks<[](Call& c) {
      Data& d = *c.data;
      const VectorX& v = impulseDynamics(*c.model, d, *c.set, c.vector(0), c.vector(1), c.real);
      return std::array{block(v), block(d.constraint_forces)};
    }, Shape::nv, Shape::size>(),
    {.page = "constraints",
     .text = "Velocity just after an impulsive contact, and the impulses.\n\n"
             "``M·(v_after − v_before) = Jᵀ·p``, ``J·v_after = −restitution·J·v_before``, with J the set's\n"
             "Jacobian.\n\n"
             P_MODEL
             P_DATA
             P_CONSTRAINTS
             P_Q
             ":param v_before: velocity before the impact, shape (nv,).\n"
             ":param restitution: in [0, 1]: 0 a plastic, 1 an elastic impact.\n"
             ":returns: (v_after, impulses): shapes (nv,) and (constraints.size,) (N·s and N·m·s).\n"
             ":reads data: nothing.\n"
             ":writes data: the velocity after, the impulses (as constraint forces).\n\n"
             "Example:\n\n"
             EX
             ">>> cs = ld.ConstraintSet(m, [ld.JointCoupling(m, 2, 1)])\n"
             ">>> v_after, p = ld.impulseDynamics(m, d, cs, q, np.ones(m.nv))",
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
     .text = "Derivatives of constrainedDynamics: of ddq and of the constraint forces, by q, v and tau.\n\n"
             "``(∂ddq/∂q, ∂ddq/∂v, ∂ddq/∂tau, ∂λ/∂q, ∂λ/∂v, ∂λ/∂tau)``. Derivatives with respect to q are\n"
             "taken along integrate: column k is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`). The forces fext, given in their bodies'\n"
             "frames, move with their bodies.\n\n"
             P_MODEL
             P_DATA
             P_CONSTRAINTS
             P_Q
             P_V
             P_TAU
             P_FEXT
             ":returns: (dddq_dq, dddq_dv, dddq_dtau), each shape (nv, nv), and (dforces_dq, dforces_dv,\n"
             "   dforces_dtau), each shape (constraints.size, nv).\n"
             ":reads data: nothing.\n"
             ":writes data: the six derivatives; ddq and the forces as constrainedDynamics leaves them.\n\n"
             "Example:\n\n"
             EX
             ">>> cs = ld.ConstraintSet(m, [ld.JointCoupling(m, 2, 1)])\n"
             ">>> parts = ld.computeConstrainedDynamicsDerivatives(m, d, cs, q, v, v)",
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
     .text = "Derivatives of impulseDynamics: of v_after and of the impulses, by q and v_before.\n\n"
             "``(∂v_after/∂q, ∂v_after/∂v_before, ∂p/∂q, ∂p/∂v_before)``. Derivatives with respect to q\n"
             "are taken along integrate: column k is the derivative along the k-th velocity coordinate\n"
             "(:ref:`conventions <conventions-derivatives>`).\n\n"
             P_MODEL
             P_DATA
             P_CONSTRAINTS
             P_Q
             ":param v_before: velocity before the impact, shape (nv,).\n"
             ":param restitution: in [0, 1].\n"
             ":returns: (dv_dq, dv_dv), each shape (nv, nv), and (dimpulses_dq, dimpulses_dv), each shape\n"
             "   (constraints.size, nv).\n"
             ":reads data: nothing.\n"
             ":writes data: the four derivatives; v_after and the impulses as impulseDynamics leaves them.\n\n"
             "Example:\n\n"
             EX
             ">>> cs = ld.ConstraintSet(m, [ld.JointCoupling(m, 2, 1)])\n"
             ">>> parts = ld.computeImpulseDynamicsDerivatives(m, d, cs, q, np.ones(m.nv))",
     .rows = "(dv_dq, dv_dv), each (N, nv, nv), and (dimpulses_dq, dimpulses_dv), each (N, size, nv)."}};

constexpr Function kCouplingsFromUrdf{
    "couplingsFromUrdf", {kModel, {"filename_or_string", Kind::text}},
    object<[](Call& c) { return couplings_from_urdf(*c.model, c.str()); }>("list[JointCoupling]"),
    {.page = "constraints",
     .text = "The joint couplings that the <mimic> elements of a URDF declare among the model's joints.\n\n"
             "``joint = multiplier·leader + offset``: a JointCoupling(joint, leader, multiplier, offset)\n"
             "for each mimic between revolute or prismatic joints (found by name), in document order. A\n"
             "mimic that cannot be a coupling is left out, with one UrdfWarning naming each. See\n"
             ":doc:`/constraints`.\n\n"
             P_MODEL
             ":param filename_or_string: URDF text when its first non-space character is '<', else a file\n"
             "   name.\n"
             ":returns: list of JointCoupling, for a ConstraintSet.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.couplingsFromUrdf(m, \"models/arm7.urdf\")\n"
             "[]"}};

// ------------------------------------------------------------- URDF import

constexpr Function kParseUrdfFile{
    "parse_urdf_file", {{"filename", Kind::text}},
    object<[](Call& c) { return model_from_urdf_file(c.str()); }>("Model"), {.page = "urdf",
     .reference = "A new Model from a URDF file.\n\n"
                  "Each URDF joint becomes a joint of the model, its child link its body; the root link's body\n"
                  "sits on joint 0, the fixed world (:ref:`conventions-frames`), and is left out of the centre\n"
                  "of mass, momentum and energies. Frames: \"universe\", the root link, then each joint and "
                  "its\n"
                  "child link. What is read and what is ignored: :doc:`/urdf`.\n\n"
                  ":param filename: path of the URDF file.\n"
                  ":returns: Model. RuntimeError \"Failed to parse URDF: …\" when the file cannot be read or "
                  "is\n"
                  "   no robot; UrdfWarning for the parts left out.\n\n"
                  "Example:\n\n"
                  ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
                  ">>> m.nq, m.nv\n"
                  "(7, 7)"}};

constexpr Function kParseUrdfFromString{
    "parse_urdf_from_string", {{"urdf_string", Kind::text}},
    object<[](Call& c) { return model_from_urdf_string(c.str()); }>("Model"), {.page = "urdf",
     .reference = "A new Model from URDF text, as parse_urdf_file reads a file.\n\n"
                  "Meshes and other files are not read (the model holds dynamics only); see :doc:`/urdf`.\n\n"
                  ":param urdf_string: the URDF document.\n"
                  ":returns: Model. RuntimeError \"Failed to parse URDF: …\" for text that is no robot.\n\n"
                  "Example:\n\n"
                  ">>> xml = open(\"models/arm7.urdf\").read()\n"
                  ">>> ld.parse_urdf_from_string(xml).nv\n"
                  "7"}};

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
     .text = "A new model with the joints joints_to_lock fixed at their configuration in q_reference.\n\n"
             "Each locked joint's body is merged into its nearest kept ancestor's, its children hang from\n"
             "that ancestor at the placement the locked joints give them at q_reference, and every frame\n"
             "is kept with its name (a locked joint's JOINT frame becomes a FIXED_JOINT frame). The other\n"
             "joints keep their order, names, bodies and limits; the name and gravity are kept.\n\n"
             P_MODEL
             ":param joints_to_lock: distinct joint indexes in [1, njoints), in any order.\n"
             ":param q_reference: configuration of the full model, shape (nq,)\n"
             "   (:ref:`conventions-configuration`).\n"
             ":returns: Model.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.buildReducedModel(m, [6, 7], ld.neutral(m)).nv\n"
             "5"}};

constexpr Function kAppendModel{
    "appendModel", {kModel, kOtherModel, kFrameId, kAttachment, kPrefix},
    object<[](Call& c) {
      return new_model(appendModel(*c.model, *c.other, c.index(0), *c.placement, c.str()));
    }>("Model"),
    {.page = "models",
     .text = "A new model: model with other attached at its frame frame_id.\n\n"
             "other's root sits at the frame's placement composed with placement; other's joints and\n"
             "frames (but \"universe\") follow the model's, their names prefixed by prefix; other's root\n"
             "body is merged into the body carrying the frame. The model's name and gravity are kept. A\n"
             "prefixed name already among the model's joints or frames is a ValueError. See\n"
             ":doc:`/models`.\n\n"
             P_MODEL
             ":param other: the model to attach.\n"
             P_FRAME
             ":param placement: SE3, other's root in the frame frame_id (:ref:`conventions-frames`).\n"
             ":param prefix: put before the names of other's joints and frames.\n"
             ":returns: Model.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_urdf_file(\"models/arm7.urdf\")\n"
             ">>> ld.appendModel(m, m, m.getFrameId(\"tool0\"), ld.SE3.identity(), \"second_\").nv\n"
             "14"}};

// ------------------------------------------------------------- MJCF import

constexpr Function kParseMjcfFile{
    "parse_mjcf_file", {{"filename", Kind::text}},
    object<[](Call& c) { return model_from_mjcf_file(c.str()); }>("Model"),
    {.page = "mjcf",
     .text = "A new Model from an MJCF file.\n\n"
             "Each hinge, slide, ball and free joint becomes a revolute (nq = 1), prismatic, spherical or\n"
             "floating joint, in MuJoCo's qpos order but quaternions (x, y, z, w)\n"
             "(:ref:`conventions-configuration`); a body without joints a fixed joint; inertias from\n"
             "<inertial> or from the geoms. Includes and meshes are found relative to the file's folder.\n"
             "What is not dynamics is listed in one MjcfWarning. See :doc:`/mjcf`.\n\n"
             ":param filename: path of the MJCF file.\n"
             ":returns: Model.\n\n"
             "Example:\n\n"
             ">>> m = ld.parse_mjcf_file(\"path/to/robot.xml\")  # doctest: +SKIP"}};

constexpr Function kParseMjcfFromString{
    "parse_mjcf_from_string",
    {{"mjcf_string", Kind::text}, {"directory", Kind::optional_text, Count::none, nullptr, Pass::optional}},
    object<[](Call& c) { return model_from_mjcf_string(c.str(), c.optional_str()); }>("Model"),
    {.page = "mjcf",
     .text = "A new Model from MJCF text, as parse_mjcf_file reads a file (:doc:`/mjcf`).\n\n"
             ":param mjcf_string: the MJCF document.\n"
             ":param directory: None, or where <include> files and meshes are found; without it an\n"
             "   <include> is an error and meshes are looked for relative to the current directory.\n"
             ":returns: Model.\n\n"
             "Example:\n\n"
             ">>> xml = '<mujoco><worldbody><body><joint type=\"hinge\"/><geom "
             "size=\".1\"/></body></worldbody></mujoco>'\n"
             ">>> ld.parse_mjcf_from_string(xml).nv\n"
             "1"}};

constexpr Function kCouplingsFromMjcf{
    "couplingsFromMjcf", {kModel, {"filename_or_string", Kind::text}},
    object<[](Call& c) { return couplings_from_mjcf(*c.model, c.str()); }>("list[JointCoupling]"),
    {.page = "constraints",
     .text = "The joint couplings that the <equality><joint> elements of an MJCF declare among the model's "
             "joints.\n\n"
             "For ``joint1 = c0 + c1·joint2`` between hinge or slide joints (found by name), measured from\n"
             "their ref positions, a JointCoupling(joint1, joint2, c1, c0 + ref1 − c1·ref2), in document\n"
             "order. An equality that cannot be a coupling is left out, with one MjcfWarning naming each.\n"
             "See\n"
             ":doc:`/constraints`.\n\n"
             P_MODEL
             ":param filename_or_string: MJCF text when its first non-space character is '<', else a file\n"
             "   name.\n"
             ":returns: list of JointCoupling, for a ConstraintSet.\n\n"
             "Example:\n\n"
             ">>> xml = '<mujoco><worldbody><body><joint name=\"a\"/><geom size=\".1\"/><body><joint "
             "name=\"b\"/><geom size=\".1\"/></body></body></worldbody><equality><joint joint1=\"b\" "
             "joint2=\"a\" polycoef=\"0 2 0 0 0\"/></equality></mujoco>'\n"
             ">>> len(ld.couplingsFromMjcf(ld.parse_mjcf_from_string(xml), xml))\n"
             "1"}};

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

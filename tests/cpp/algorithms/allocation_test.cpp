// Every algorithm runs without touching the heap once its Data exists. The
// test executable counts calls to the C allocator (Eigen allocates through
// malloc, operator new ends there too); each algorithm is run on a
// floating-base tree with every joint kind, from several states.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "algorithms/aba.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/configuration_derivatives.hpp"
#include "algorithms/constrained_dynamics.hpp"
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
#include "support/testing.hpp"

// The allocator of the C library under its own names, wrapped with a count.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long> allocations{0};
}  // namespace

extern "C" {
void* malloc(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(std::size_t count, std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, n);
}
void* realloc(void* p, std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
void* memalign(std::size_t align, std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(align, n);
}
void* aligned_alloc(std::size_t align, std::size_t n) { return memalign(align, n); }
int posix_memalign(void** out, std::size_t align, std::size_t n) {
  void* p = memalign(align, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}

namespace lumo {
namespace {

using Eigen::VectorXd;

TEST(Allocations, TheCountSeesEigenAndOperatorNew) {
  long before = allocations.load();
  VectorXd x = VectorXd::Zero(50);
  EXPECT_EQ(allocations.load() - before, 1);
  before = allocations.load();
  auto* y = new std::string(100, 'x');
  EXPECT_GE(allocations.load() - before, 2);
  delete y;
  EXPECT_EQ(x.size(), 50);
}

TEST(Allocations, NoAlgorithmAllocatesPerCall) {
  test::TreeOptions options;
  options.floating_base = true;
  Model model = test::random_tree(5, 24, options);
  std::mt19937 rng(3);
  model.add_frame(Frame{"tip", model.njoints - 1, test::random_placement(rng), OP_FRAME});
  for (JointType kind : options.kinds) {  // every joint kind is present
    bool found = false;
    for (const JointModel& j : model.joints) found = found || j.type == kind;
    ASSERT_TRUE(found) << joint_type_name(kind);
  }
  Data data(model);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  Matrix6X J(6, nv), J2(6, nv), J3(6, nv);
  VectorXd out(static_cast<Eigen::Index>(model.nq)), dv(nv), dv2(nv);
  Eigen::MatrixXd square(nv, nv), square2(nv, nv), tangent(static_cast<Eigen::Index>(model.nq), nv);
  // C-ordered nv×nv storage seen as matrices, as a batch row's
  std::vector<double> rows(static_cast<std::size_t>(3 * nv * nv));
  using Stride = Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>;
  const auto row_view = [&](int k) {
    return Eigen::Map<Eigen::MatrixXd, 0, Stride>(rows.data() + k * nv * nv, nv, nv, Stride(1, nv));
  };
  std::vector<VectorXd> q, v, a;
  for (int k = 0; k < 4; ++k) {
    q.push_back(test::random_configuration(model, rng));
    v.push_back(test::random_velocity(model, rng));
    a.push_back(test::random_velocity(model, rng));
  }
  const Matrix6X fext = test::random_external_forces(model, rng);
  const JointIndex last_joint = model.njoints - 1;
  const FrameIndex last_frame = model.nframes - 1;
  std::mt19937 target_rng(8);
  const SE3 target = test::random_placement(target_rng);
  const FrameIndex middle = model.add_frame(Frame{"middle", model.njoints / 2, test::random_placement(rng), OP_FRAME});
  Data data_with_frames(model);
  const ConstraintSet exact(model, {make_rigid_constraint(model, ConstraintKind::point, last_frame, middle,
                                                          ReferenceFrame::LOCAL, 1.0, 2.0)});
  const ConstraintSet proximal(
      model,
      {make_rigid_constraint(model, ConstraintKind::point, last_frame, std::nullopt,
                             ReferenceFrame::LOCAL_WORLD_ALIGNED, 0.0, 0.0),
       make_rigid_constraint(model, ConstraintKind::frame, last_frame, std::nullopt, ReferenceFrame::LOCAL, 3.0, 1.0)},
      1e-6);
  const std::vector<std::pair<std::string, std::function<void(int)>>> calls = {
      {"constrainedDynamics",
       [&](int k) { constrainedDynamics(model, data_with_frames, exact, q[k], v[k], a[k], fext); }},
      {"constrainedDynamics (proximal)",
       [&](int k) { constrainedDynamics(model, data_with_frames, proximal, q[k], v[k], a[k]); }},
      {"impulseDynamics", [&](int k) { impulseDynamics(model, data_with_frames, exact, q[k], v[k], 0.5); }},
      {"computeConstrainedDynamicsDerivatives",
       [&](int k) { computeConstrainedDynamicsDerivatives(model, data_with_frames, proximal, q[k], v[k], a[k]); }},
      {"computeImpulseDynamicsDerivatives",
       [&](int k) { computeImpulseDynamicsDerivatives(model, data_with_frames, exact, q[k], v[k], 0.5); }},
      {"forwardKinematics", [&](int k) { forwardKinematics(model, data, q[k]); }},
      {"forwardKinematics(q, v)", [&](int k) { forwardKinematics(model, data, q[k], v[k]); }},
      {"computeKinematics", [&](int k) { computeKinematics(model, data, q[k], v[k], a[k]); }},
      {"getFrameVelocity", [&](int k) { getFrameVelocity(model, data, last_frame, static_cast<ReferenceFrame>(k % 3)); }},
      {"getFrameAcceleration",
       [&](int k) { getFrameAcceleration(model, data, last_frame, static_cast<ReferenceFrame>(k % 3)); }},
      {"getFrameClassicalAcceleration",
       [&](int k) { getFrameClassicalAcceleration(model, data, last_frame, static_cast<ReferenceFrame>(k % 3)); }},
      {"neutral", [&](int) { neutral(model, out); }},
      {"integrate", [&](int k) { integrate(model, q[k], v[k], out); }},
      {"rnea", [&](int k) { rnea(model, data, q[k], v[k], a[k]); }},
      {"non_linear_effects", [&](int k) { non_linear_effects(model, data, q[k], v[k]); }},
      {"compute_gravity", [&](int k) { compute_gravity(model, data, q[k]); }},
      {"crba", [&](int k) { crba(model, data, q[k]); }},
      {"crba into M", [&](int k) { crba(model, data, q[k], square); }},
      {"rnea into tau", [&](int k) { rnea(model, data, q[k], v[k], a[k], dv); }},
      {"aba into ddq", [&](int k) { aba(model, data, q[k], v[k], a[k], dv); }},
      {"computeRNEADerivatives into C-ordered matrices",
       [&](int k) { computeRNEADerivatives(model, data, q[k], v[k], a[k], fext, row_view(0), row_view(1), row_view(2)); }},
      {"computeJointJacobians", [&](int k) { computeJointJacobians(model, data, q[k]); }},
      {"computeJointJacobian", [&](int k) { computeJointJacobian(model, data, q[k], last_joint, J); }},
      {"getFrameJacobian",
       [&](int k) { getFrameJacobian(model, data, last_frame, static_cast<ReferenceFrame>(k % 3), J); }},
      {"computeJointJacobiansTimeVariation",
       [&](int k) { computeJointJacobiansTimeVariation(model, data, q[k], v[k]); }},
      {"getFrameJacobianTimeVariation",
       [&](int k) { getFrameJacobianTimeVariation(model, data, last_frame, static_cast<ReferenceFrame>(k % 3), J); }},
      {"computeAllTerms", [&](int k) { computeAllTerms(model, data, q[k], v[k]); }},
      {"computeCoriolisMatrix", [&](int k) { computeCoriolisMatrix(model, data, q[k], v[k]); }},
      {"computeRNEADerivatives", [&](int k) { computeRNEADerivatives(model, data, q[k], v[k], a[k]); }},
      {"computeABADerivatives", [&](int k) { computeABADerivatives(model, data, q[k], v[k], a[k]); }},
      {"computeGeneralizedGravityDerivatives",
       [&](int k) { computeGeneralizedGravityDerivatives(model, data, q[k]); }},
      {"aba", [&](int k) { aba(model, data, q[k], v[k], a[k]); }},
      {"computeMinverse", [&](int k) { computeMinverse(model, data, q[k]); }},
      {"inverseDynamics with fext", [&](int k) { inverseDynamics(model, data, q[k], v[k], a[k], fext); }},
      {"forwardDynamics with fext", [&](int k) { forwardDynamics(model, data, q[k], v[k], a[k], fext); }},
      {"computeRNEADerivatives with fext",
       [&](int k) { computeRNEADerivatives(model, data, q[k], v[k], a[k], fext); }},
      {"computeABADerivatives with fext",
       [&](int k) { computeABADerivatives(model, data, q[k], v[k], a[k], fext); }},
      {"getFramePlacement", [&](int) { getFramePlacement(model, data, last_frame); }},
      {"centerOfMass", [&](int k) { centerOfMass(model, data, q[k]); }},
      {"jacobianCenterOfMass", [&](int k) { jacobianCenterOfMass(model, data, q[k]); }},
      {"computeCentroidalMap", [&](int k) { computeCentroidalMap(model, data, q[k]); }},
      {"computeCentroidalMomentum", [&](int k) { computeCentroidalMomentum(model, data, q[k], v[k]); }},
      {"computeKineticEnergy", [&](int k) { computeKineticEnergy(model, data, q[k], v[k]); }},
      {"computePotentialEnergy", [&](int k) { computePotentialEnergy(model, data, q[k]); }},
      {"difference", [&](int k) { difference(model, q[k], q[(k + 1) % 4], dv); }},
      {"dIntegrate", [&](int k) { dIntegrate(model, q[k], v[k], square, square2); }},
      {"dDifference", [&](int k) { dDifference(model, q[k], q[(k + 1) % 4], square, square2); }},
      {"tangentMap", [&](int k) { tangentMap(model, q[k], tangent); }},
      {"rneaVJP", [&](int k) { rneaVJP(model, data, q[k], v[k], a[k], a[(k + 1) % 4], out, dv, dv2); }},
      {"abaVJP", [&](int k) { abaVJP(model, data, q[k], v[k], a[k], a[(k + 1) % 4], out, dv, dv2); }},
      {"computeKinematicsDerivatives", [&](int k) { computeKinematicsDerivatives(model, data, q[k], v[k], a[k]); }},
      {"computeKinematicsDerivatives without a",
       [&](int k) { computeKinematicsDerivatives(model, data, q[k], v[k]); }},
      {"getFrameVelocityDerivatives",
       [&](int k) { getFrameVelocityDerivatives(model, data, last_frame, static_cast<ReferenceFrame>(k % 3), J, J2); }},
      {"getFrameAccelerationDerivatives", [&](int k) {
         getFrameAccelerationDerivatives(model, data, last_frame, static_cast<ReferenceFrame>(k % 3), J, J2, J3);
       }},
      {"inverseKinematics",
       [&](int k) { inverseKinematics(model, data, last_frame, target, q[k], out); }},
      {"inverseKinematics (position)",
       [&](int k) { inverseKinematics(model, data, last_frame, Vector3(0.1 * k, 0.2, 0.3), q[k], out); }},
  };
  for (const auto& [name, call] : calls) {
    call(0);  // any first-use work of the library outside the algorithm
    const long before = allocations.load();
    for (int k = 0; k < 4; ++k) call(k);
    EXPECT_EQ(allocations.load() - before, 0) << name;
  }
  // The derivatives of forward dynamics of a long chain (matrix products
  // past the sizes Eigen keeps on the stack).
  const Model chain = test::random_tree(6, 70, {.chain = true, .floating_base = true});
  ASSERT_GT(chain.nv, 128u);
  Data chain_data(chain);
  const VectorXd qc = test::random_configuration(chain, rng), vc = test::random_velocity(chain, rng);
  computeABADerivatives(chain, chain_data, qc, vc, vc);
  const long before = allocations.load();
  computeABADerivatives(chain, chain_data, qc, vc, vc);
  EXPECT_EQ(allocations.load() - before, 0) << "computeABADerivatives, nv " << chain.nv;
}

}  // namespace
}  // namespace lumo

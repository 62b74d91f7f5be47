// Serial chains built in both this library and KDL: joint torques, mass
// matrix and end-effector Jacobian must agree. Skipped without KDL.

#ifdef LUMO_HAVE_KDL

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/chainjnttojacsolver.hpp>

#include "algorithms/crba.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

KDL::Vector kdl(const Vector3& x) { return KDL::Vector(x.x(), x.y(), x.z()); }

KDL::Frame kdl(const SE3& M) {
  const Matrix3& R = M.rotation;  // KDL takes the rotation row by row
  const KDL::Rotation rotation(R(0, 0), R(0, 1), R(0, 2), R(1, 0), R(1, 1), R(1, 2), R(2, 0),
                               R(2, 1), R(2, 2));
  return KDL::Frame(rotation, kdl(M.translation));
}

// KDL: mass, centre of mass, rotational inertia about the centre of mass
// given as (Ixx, Iyy, Izz, Ixy, Ixz, Iyz).
KDL::RigidBodyInertia kdl(const BodyInertia& Y) {
  const Matrix3 I = inertia_tensor(Y);
  const KDL::RotationalInertia Ic(I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(0, 2), I(1, 2));
  return KDL::RigidBodyInertia(Y.mass, kdl(Y.lever), Ic);
}

// Joint i becomes a fixed segment carrying its placement, then a segment
// whose joint sits at the origin and whose root and tip coincide, carrying
// the body, so no convention about the frame of a segment's inertia matters.
KDL::Chain kdl_chain(const Model& model) {
  KDL::Chain chain;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    EXPECT_EQ(model.parents[i], i - 1) << "not a chain";
    const JointModel& j = model.joints[i];
    chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::Fixed), kdl(model.jointPlacements[i])));
    KDL::Joint joint(KDL::Joint::Fixed);
    if (j.type == JointType::Revolute || j.type == JointType::Continuous)
      joint = KDL::Joint(KDL::Vector::Zero(), kdl(j.unit), KDL::Joint::RotAxis);
    else if (j.type == JointType::Prismatic)
      joint = KDL::Joint(KDL::Vector::Zero(), kdl(j.unit), KDL::Joint::TransAxis);
    else
      EXPECT_EQ(j.type, JointType::Fixed) << "no KDL counterpart";
    chain.addSegment(KDL::Segment(joint, KDL::Frame::Identity(), kdl(model.inertias[i])));
  }
  return chain;
}

// One KDL coordinate per velocity coordinate; continuous (cos, sin) → angle.
KDL::JntArray kdl_configuration(const Model& model, const VectorXd& q) {
  KDL::JntArray out(static_cast<unsigned>(model.nv));
  for (JointIndex i = 1; i < model.njoints; ++i) {
    if (model.nv_joint[i] == 0) continue;
    const double* x = q.data() + model.idx_q[i];
    const bool continuous = model.joints[i].type == JointType::Continuous;
    out(model.idx_v[i]) = continuous ? std::atan2(x[1], x[0]) : x[0];
  }
  return out;
}

KDL::JntArray kdl_array(const VectorXd& x) {
  KDL::JntArray out(static_cast<unsigned>(x.size()));
  out.data = x;
  return out;
}

struct Deviation {
  double torques = 0, mass = 0, jacobian = 0;
  ~Deviation() {
    std::printf("[ KDL      ] largest relative deviation: torques %.3g, mass %.3g, Jacobian %.3g\n",
                torques, mass, jacobian);
  }
} deviation;

// max |a − b| / max(1, max |b|), recorded in `worst`.
template <typename A, typename B>
double relative(const A& a, const B& b, double& worst) {
  const double d = (a - b).cwiseAbs().maxCoeff() / std::max(1.0, b.cwiseAbs().maxCoeff());
  worst = std::max(worst, d);
  return d;
}

void compare_with_kdl(const Model& base, unsigned seed) {
  Model model = base;
  const FrameIndex tip = model.add_frame({"tip", model.njoints - 1, SE3::Identity(), OP_FRAME});
  Data data(model);
  const KDL::Chain chain = kdl_chain(model);
  ASSERT_EQ(chain.getNrOfJoints(), model.nv);
  KDL::ChainIdSolver_RNE id(chain, kdl(model.gravity.linear));
  KDL::ChainDynParam dyn(chain, kdl(model.gravity.linear));
  KDL::ChainJntToJacSolver jac(chain);
  std::mt19937 rng(seed);
  const double tol = kLoose;
  for (int trial = 0; trial < 4; ++trial) {
    const VectorXd q = test::random_configuration(model, rng);
    const VectorXd v = test::random_velocity(model, rng, 2.0);
    const VectorXd a = test::random_velocity(model, rng, 2.0);
    const KDL::JntArray kq = kdl_configuration(model, q);

    KDL::JntArray torques(chain.getNrOfJoints());
    KDL::Wrenches no_external(chain.getNrOfSegments(), KDL::Wrench::Zero());
    ASSERT_GE(id.CartToJnt(kq, kdl_array(v), kdl_array(a), no_external, torques), 0);
    EXPECT_LE(relative(rnea(model, data, q, v, a), torques.data, deviation.torques), tol);

    KDL::JntSpaceInertiaMatrix H(chain.getNrOfJoints());
    ASSERT_GE(dyn.JntToMass(kq, H), 0);
    const MatrixXd M = crba(model, data, q).selfadjointView<Eigen::Upper>();
    EXPECT_LE(relative(M, H.data, deviation.mass), tol);

    // KDL: tip Jacobian about the tip, base axes, rows [linear; angular].
    KDL::Jacobian J(chain.getNrOfJoints());
    ASSERT_GE(jac.JntToJac(kq, J), 0);
    computeJointJacobians(model, data, q);
    Matrix6X ours(6, static_cast<Eigen::Index>(model.nv));
    getFrameJacobian(model, data, tip, ReferenceFrame::LOCAL_WORLD_ALIGNED, ours);
    EXPECT_LE(relative(ours, J.data, deviation.jacobian), tol);
  }
}

TEST(KdlOracle, SevenJointArm) { compare_with_kdl(test::seven_dof_arm(), 1); }

TEST(KdlOracle, RandomChainsOfRevolutePrismaticAndFixedJoints) {
  const test::TreeOptions options{.chain = true,
                                  .kinds = {JointType::Revolute, JointType::Prismatic,
                                            JointType::Fixed, JointType::Continuous,
                                            JointType::Revolute}};
  for (unsigned seed = 20; seed < 26; ++seed) {
    SCOPED_TRACE(seed);
    Model model = test::random_tree(seed, 9, options);
    std::mt19937 rng(seed);
    if (seed % 2) model.set_gravity(test::random_vector(rng, 10.0));
    compare_with_kdl(model, seed);
  }
}

}  // namespace
}  // namespace lumo

#else

TEST(KdlOracle, Unavailable) { GTEST_SKIP() << "KDL not found at configure time"; }

#endif

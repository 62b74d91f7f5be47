// Derivatives of frame velocities and accelerations: central finite
// differences along integrate of ν = J·v and α = J·a + J̇·v (the frame's own
// Jacobian and its time variation) over random trees with every joint kind,
// the sample models and the real robots, in the three reference frames; bad
// frames.
#include "algorithms/kinematics_derivatives.hpp"

#include <cstdio>
#include <map>

#include "algorithms/errors/errors.hpp"
#include "algorithms/time_variation.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

constexpr ReferenceFrame kFrames[] = {ReferenceFrame::WORLD, ReferenceFrame::LOCAL,
                                      ReferenceFrame::LOCAL_WORLD_ALIGNED};
const char* const kFrameNames[] = {"WORLD", "LOCAL", "LOCAL_WORLD_ALIGNED"};

// The frame's own Jacobian in rf, from the world Jacobian of its joint and
// oMf = oMi[joint]·jMf (LOCAL: oMf⁻¹·J; LOCAL_WORLD_ALIGNED: l − p × w).
Matrix6X frame_jacobian(const Model& model, Data& data, const VectorXd& q, FrameIndex f, ReferenceFrame rf) {
  computeJointJacobians(model, data, q);
  Matrix6X J(6, data.j.cols());
  getFrameJacobian(model, data, f, ReferenceFrame::WORLD, J);
  const SE3 oMf = compose(data.oMi[model.frames[f].parent], model.frames[f].placement);
  for (Eigen::Index c = 0; c < J.cols(); ++c) {
    if (rf == ReferenceFrame::LOCAL) J.col(c) = act_inv_column(oMf, J.col(c));
    if (rf == ReferenceFrame::LOCAL_WORLD_ALIGNED)
      J.col(c).head<3>() -= oMf.translation.cross(Vector3(J.col(c).tail<3>()));
  }
  return J;
}

Vector6 velocity(const Model& model, Data& data, const VectorXd& q, const VectorXd& v, FrameIndex f,
                 ReferenceFrame rf) {
  return frame_jacobian(model, data, q, f, rf) * v;
}

Vector6 acceleration(const Model& model, Data& data, const VectorXd& q, const VectorXd& v, const VectorXd& a,
                     FrameIndex f, ReferenceFrame rf) {
  const Matrix6X J = frame_jacobian(model, data, q, f, rf);
  computeJointJacobiansTimeVariation(model, data, q, v);
  Matrix6X dJ(6, J.cols());
  getFrameJacobianTimeVariation(model, data, f, rf, dJ);
  return J * a + dJ * v;
}

// Column k: central difference of g along e_k, g taking the displacement.
template <typename G>
Matrix6X central_differences(std::size_t nv, G&& g) {
  Matrix6X D(6, static_cast<Eigen::Index>(nv));
  for (std::size_t k = 0; k < nv; ++k) {
    VectorXd e = VectorXd::Zero(static_cast<Eigen::Index>(nv));
    e[static_cast<Eigen::Index>(k)] = kFdStep;
    D.col(static_cast<Eigen::Index>(k)) = (g(e) - g(-e)) / (2 * kFdStep);
  }
  return D;
}

TEST(KinematicsDerivatives, FrameVelocityAndAccelerationAgainstFiniteDifferences) {
  std::vector<NamedModel> cases = random_tree_cases();
  for (NamedModel& c : robot_cases()) cases.push_back(std::move(c));
  for (const NamedModel& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(17);
    Model model = with_extra_frame(c.model, rng);
    // A second offset frame on the joint with the most coordinates on its
    // support path (the last joint of a robot is often a fixed one on the root).
    std::vector<std::size_t> path_nv(model.njoints, 0);
    JointIndex deepest = 0;
    for (JointIndex j = 1; j < model.njoints; ++j) {
      path_nv[j] = path_nv[model.parents[j]] + model.nv_joint[j];
      if (path_nv[j] > path_nv[deepest]) deepest = j;
    }
    model.add_frame({"deep", deepest, random_placement(rng), OP_FRAME});
    Data data(model), scratch(model);
    const VectorXd q = random_configuration(model, rng);
    const VectorXd v = random_velocity(model, rng), a = random_velocity(model, rng);
    const auto nv = static_cast<Eigen::Index>(model.nv);
    // The two offset frames and one drawn among the others.
    const FrameIndex extra = model.nframes - 2, deep = model.nframes - 1;
    const FrameIndex drawn = std::uniform_int_distribution<FrameIndex>(0, extra)(rng);
    computeKinematicsDerivatives(model, data, q, v, a);
    Matrix6X dv_dq(6, nv), dv_dv(6, nv), da_dq(6, nv), da_dv(6, nv), da_da(6, nv);
    std::map<std::string, double> worst;
    auto compare = [&](const Matrix6X& exact, const Matrix6X& fd, const std::string& what) {
      const double err = (exact - fd).cwiseAbs().maxCoeff() / std::max(1.0, fd.cwiseAbs().maxCoeff());
      EXPECT_LT(err, kFiniteDifferenceCoarse) << what;
      worst[what] = std::max(worst[what], err);
    };
    for (FrameIndex f : {extra, deep, drawn}) {
      for (int r = 0; r < 3; ++r) {
        const ReferenceFrame rf = kFrames[r];
        SCOPED_TRACE(std::string("frame ") + model.frames[f].name + " in " + kFrameNames[r]);
        getFrameVelocityDerivatives(model, data, f, rf, dv_dq, dv_dv);
        getFrameAccelerationDerivatives(model, data, f, rf, da_dq, da_dv, da_da);
        if (nv == 0) continue;
        compare(dv_dq, central_differences(model.nv, [&](const VectorXd& e) {
                  return velocity(model, scratch, integrate(model, q, e), v, f, rf);
                }), "dv_dq");
        compare(dv_dv, central_differences(model.nv, [&](const VectorXd& e) {
                  return velocity(model, scratch, q, v + e, f, rf);
                }), "dv_dv");
        compare(da_dq, central_differences(model.nv, [&](const VectorXd& e) {
                  return acceleration(model, scratch, integrate(model, q, e), v, a, f, rf);
                }), "da_dq");
        compare(da_dv, central_differences(model.nv, [&](const VectorXd& e) {
                  return acceleration(model, scratch, q, v + e, a, f, rf);
                }), "da_dv");
        compare(da_da, central_differences(model.nv, [&](const VectorXd& e) {
                  return acceleration(model, scratch, q, v, a + e, f, rf);
                }), "da_da");
      }
    }
    // The pass without a is the pass at a = 0 (velocity terms kept).
    Matrix6X da_dq0(6, nv), da_dv0(6, nv);
    computeKinematicsDerivatives(model, data, q, v, VectorXd::Zero(nv));
    getFrameAccelerationDerivatives(model, data, deep, ReferenceFrame::LOCAL, da_dq0, da_dv0, da_da);
    computeKinematicsDerivatives(model, data, q, v);
    getFrameAccelerationDerivatives(model, data, deep, ReferenceFrame::LOCAL, da_dq, da_dv, da_da);
    EXPECT_EQ(da_dq, da_dq0);
    EXPECT_EQ(da_dv, da_dv0);

    std::string line = c.name + ":";
    char buf[64];
    for (const auto& [key, err] : worst) {
      std::snprintf(buf, sizeof buf, " %s %.1e", key.c_str(), err);
      line += buf;
    }
    std::printf("[ fd error ] %s\n", line.c_str());
  }
}

TEST(KinematicsDerivatives, BadFramesAndSizesFailBeforeWriting) {
  Model model = random_tree(5, 3, {.floating_base = true});
  for (JointIndex j : {2, 3, 1, 99}) model.add_frame({"f", j, SE3::Identity(), OP_FRAME});
  Data data(model);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  Matrix6X A = Matrix6X::Constant(6, nv, 7.0), B = A, C = A;
  auto frame_error = [&](FrameIndex f) {
    const std::string velocity = error_message<ValueError>(
        [&] { getFrameVelocityDerivatives(model, data, f, ReferenceFrame::LOCAL, A, B); });
    const std::string acceleration = error_message<ValueError>(
        [&] { getFrameAccelerationDerivatives(model, data, f, ReferenceFrame::LOCAL, A, B, C); });
    EXPECT_EQ(velocity, acceleration);
    return velocity;
  };
  EXPECT_EQ(frame_error(5), "Frame ID 5 out of bounds (nframes = 5)");
  EXPECT_EQ(frame_error(4), "Frame 4 has invalid joint ID 99 (njoints = 4)");
  EXPECT_TRUE((A.array() == 7.0).all() && (B.array() == 7.0).all() && (C.array() == 7.0).all());
  Data other(random_tree(6, 2));
  EXPECT_THROW(getFrameVelocityDerivatives(model, other, 1, ReferenceFrame::WORLD, A, B), ValueError);
  const VectorXd q = VectorXd::Zero(static_cast<Eigen::Index>(model.nq)), v = VectorXd::Zero(nv);
  EXPECT_EQ(error_message<Error>([&] { computeKinematicsDerivatives(model, data, q.tail(3), v, v); }),
            "Configuration vector size mismatch: expected " + std::to_string(model.nq) + ", got 3");
  EXPECT_EQ(error_message<Error>([&] { computeKinematicsDerivatives(model, data, q, v, q); }),
            "a length " + std::to_string(model.nq) + " != nv " + std::to_string(model.nv));
}

}  // namespace
}  // namespace lumo

// Jacobian time variation against central finite differences of the Jacobians
// along q(t) = integrate(q, v t).
#include "algorithms/time_variation.hpp"

#include <limits>

#include "algorithms/configuration.hpp"
#include "algorithms/errors/errors.hpp"
#include "support/algorithms.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// Jacobian of the frame itself in `rf`, from the world Jacobian of its joint
// and oMf = oMi[joint]·jMf.
MatrixXd frame_jacobian(const Model& model, Data& data, const VectorXd& q, FrameIndex f, ReferenceFrame rf) {
  computeJointJacobians(model, data, q);
  Matrix6X J(6, data.j.cols());
  getFrameJacobian(model, data, f, ReferenceFrame::WORLD, J);
  const SE3 oMf = compose(data.oMi[model.frames[f].parent], model.frames[f].placement);
  const Matrix3 Rt = oMf.rotation.transpose();
  for (Eigen::Index c = 0; c < J.cols(); ++c) {
    const Vector3 l = J.col(c).head<3>(), w = J.col(c).tail<3>(), l_f = l - oMf.translation.cross(w);
    if (rf == ReferenceFrame::LOCAL) J.col(c) << Rt * l_f, Rt * w;
    if (rf == ReferenceFrame::LOCAL_WORLD_ALIGNED) J.col(c).head<3>() = l_f;
  }
  return J;
}

TEST(TimeVariation, JointJacobianDerivativeIsTheFiniteDifference) {
  std::mt19937 rng(11);
  for (const Model& model : test::floating_identity_models()) {
    Data data(model), ref(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    data.j.setConstant(std::numeric_limits<double>::quiet_NaN());  // stale workspace
    data.dJ.setConstant(std::numeric_limits<double>::quiet_NaN());
    computeJointJacobiansTimeVariation(model, data, q, v);
    EXPECT_TRUE(near(data.dJ, test::derivative(model, q, v, [&](const VectorXd& x) {
                       computeJointJacobians(model, ref, x);
                       return MatrixXd(ref.j);
                     }), kFiniteDifference));
    computeJointJacobians(model, ref, q);
    EXPECT_EQ(data.j, ref.j);
    computeJointJacobiansTimeVariation(model, data, q, VectorXd::Zero(v.size()));
    EXPECT_TRUE(data.dJ.isZero(0.0));
    EXPECT_EQ(data.j, ref.j);
  }
}

TEST(TimeVariation, FrameJacobianDerivativeInEveryReferenceFrame) {
  std::mt19937 rng(12);
  for (Model model : test::floating_identity_models()) {
    JointIndex fixed = 0;
    for (JointIndex i = 1; i < model.njoints; ++i)
      if (model.joints[i].type == JointType::Fixed) fixed = i;
    const FrameIndex first = model.nframes;  // two on the last joint, one on a fixed joint, one on the root
    for (JointIndex j : {model.njoints - 1, model.njoints - 1, fixed, JointIndex{0}})
      model.add_frame({"extra", j, test::random_placement(rng), OP_FRAME});
    Data data(model), ref(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
    computeJointJacobiansTimeVariation(model, data, q, v);
    Matrix6X dJ(6, v.size());
    for (FrameIndex f = first; f < model.nframes; ++f) {
      for (auto rf : {ReferenceFrame::WORLD, ReferenceFrame::LOCAL, ReferenceFrame::LOCAL_WORLD_ALIGNED}) {
        getFrameJacobianTimeVariation(model, data, f, rf, dJ);
        EXPECT_TRUE(near(dJ, test::derivative(model, q, v, [&](const VectorXd& x) {
                           return frame_jacobian(model, ref, x, f, rf);
                         }), kFiniteDifference))
            << "frame on joint " << model.frames[f].parent << ", reference frame " << int(rf);
      }
    }
  }
}

TEST(TimeVariation, BadFramesAndSizesFailBeforeWriting) {
  Model model = test::random_tree(5, 3, {.floating_base = true});
  for (JointIndex j : {2, 3, 1, 99}) model.add_frame({"f", j, SE3::Identity(), OP_FRAME});
  Data data(model);
  Matrix6X dJ = Matrix6X::Constant(6, static_cast<Eigen::Index>(model.nv), 7.0);
  auto frame_error = [&](FrameIndex f) {
    return test::error_message<ValueError>(
        [&] { getFrameJacobianTimeVariation(model, data, f, ReferenceFrame::LOCAL, dJ); });
  };
  EXPECT_EQ(frame_error(5), "Frame ID 5 out of bounds (nframes = 5)");
  EXPECT_EQ(frame_error(4), "Frame 4 has invalid joint ID 99 (njoints = 4)");
  EXPECT_TRUE((dJ.array() == 7.0).all());
  getFrameJacobianTimeVariation(model, data, 2, ReferenceFrame::LOCAL, dJ);  // fresh workspace
  EXPECT_TRUE(dJ.isZero(0.0));

  data.dJ.setConstant(7.0);
  const VectorXd q = VectorXd::Zero(model.nq), v = VectorXd::Zero(model.nv);
  EXPECT_EQ(test::error_message<Error>([&] { computeJointJacobiansTimeVariation(model, data, q.tail(3), v); }),
            "Configuration vector size mismatch: expected " + std::to_string(model.nq) + ", got 3");
  EXPECT_EQ(test::error_message<Error>([&] { computeJointJacobiansTimeVariation(model, data, q, q); }),
            "Velocity vector size mismatch: expected " + std::to_string(model.nv) + ", got " +
                std::to_string(model.nq));
  EXPECT_TRUE((data.dJ.array() == 7.0).all());
}

}  // namespace
}  // namespace lumo

// Frame placements: the joint placement composed with the frame's, over
// random trees, the sample models and the real robots; bad frames.
#include "algorithms/errors/errors.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

TEST(Frames, PlacementIsTheJointPlacementComposedWithTheFrames) {
  for (const test::NamedModel& c : test::robot_cases()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(11);
    const Model model = test::with_extra_frame(c.model, rng);
    Data data(model);
    const VectorXd q = test::random_configuration(model, rng);

    forwardKinematics(model, data, q);
    for (FrameIndex f = 0; f < model.nframes; ++f)
      EXPECT_TRUE(near(getFramePlacement(model, data, f),
                       compose(data.oMi[model.frames[f].parent], model.frames[f].placement), 0.0));
  }
}

TEST(Frames, BadFrameAndDataOfAnotherModel) {
  Data data(test::massless_tree());
  const Model arm = test::seven_dof_arm();
  EXPECT_THROW(getFramePlacement(arm, data, 0), ValueError);
  Data arm_data(arm);
  EXPECT_EQ(test::error_message<ValueError>([&] { getFramePlacement(arm, arm_data, 1); }),
            "Frame ID 1 out of range (max: 0)");
}

}  // namespace
}  // namespace lumo

#include "algorithms/inverse_kinematics.hpp"

#include <cmath>
#include <filesystem>
#include <limits>

#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/errors/errors.hpp"
#include "support/testing.hpp"
#include "urdf_parser/builder.hpp"

namespace lumo {
namespace {

using namespace test;

struct IkCase {
  std::string name;
  Model model;
  std::vector<std::string> frames;
};

// The arm of models/, the Panda's hand and the H1's feet (five joints each:
// fewer than the six of a placement) when ../shared/robots has them, and a
// chain of every joint kind with limits on its revolute and prismatic joints.
std::vector<IkCase> ik_cases() {
  std::vector<IkCase> out;
  out.push_back({"arm7.urdf", parse_urdf_file(std::string(LUMO_SOURCE_DIR) + "/models/arm7.urdf"), {"tool0"}});
  for (NamedModel& robot : real_robots({"panda.urdf"})) out.push_back({robot.name, std::move(robot.model), {"panda_hand"}});
  for (NamedModel& robot : real_robots({"h1.urdf"}))
    out.push_back({robot.name, std::move(robot.model), {"left_ankle_link", "right_ankle_link"}});
  Model chain = random_tree(21, 9, {.chain = true});
  for (JointIndex i = 1; i < chain.njoints; ++i) {
    const JointType type = chain.joints[i].type;
    if (type == JointType::Revolute) chain.set_position_limits(i, {-2.0}, {2.5});
    if (type == JointType::Prismatic) chain.set_position_limits(i, {-0.5}, {0.8});
  }
  std::mt19937 rng(4);
  out.push_back({"chain of every kind", with_extra_frame(std::move(chain), rng), {"extra"}});
  return out;
}

// A random configuration with the limited coordinates drawn within their limits.
VectorXd configuration_within_limits(const Model& model, std::mt19937& rng) {
  VectorXd q = random_configuration(model, rng);
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t k = model.idx_v[i];
    if (model.joints[i].nq != 1 || k >= model.lowerPositionLimit.size()) continue;
    const double lo = model.lowerPositionLimit[k], hi = model.upperPositionLimit[k];
    if (std::isfinite(lo) && std::isfinite(hi))
      q[static_cast<Eigen::Index>(model.idx_q[i])] = std::uniform_real_distribution<double>(lo, hi)(rng);
  }
  return q;
}

bool within_limits(const Model& model, const VectorXd& q) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t k = model.idx_v[i];
    if (model.joints[i].nq != 1 || model.joints[i].type == JointType::Continuous ||
        k >= model.lowerPositionLimit.size())
      continue;
    const double x = q[static_cast<Eigen::Index>(model.idx_q[i])];
    if (x < model.lowerPositionLimit[k] || x > model.upperPositionLimit[k]) return false;
  }
  return true;
}

SE3 frame_placement(const Model& model, Data& data, FrameIndex f, const VectorXd& q) {
  forwardKinematics(model, data, q);
  return getFramePlacement(model, data, f);
}

// Targets from forward kinematics of random configurations within the
// limits, starts 0.3 rad (or m) away in every velocity coordinate: placements
// and positions alike are reached to 1e-10 in at least 99 % of the cases,
// within the limits, and the solution puts the frame there.
TEST(InverseKinematics, ReachesTargetsOfForwardKinematics) {
  for (const IkCase& c : ik_cases()) {
    const Model& model = c.model;
    Data data(model);
    std::mt19937 rng(11);
    for (const std::string& name : c.frames) {
      const FrameIndex f = *model.getFrameId(name);
      int converged[2] = {0, 0};
      const int trials = 100;
      for (int trial = 0; trial < trials; ++trial) {
        const VectorXd q_star = configuration_within_limits(model, rng);
        VectorXd offset(static_cast<Eigen::Index>(model.nv));
        for (auto& x : offset) x = rng() % 2 ? 0.3 : -0.3;
        const VectorXd q0 = integrate(model, q_star, offset);
        const SE3 target = frame_placement(model, data, f, q_star);
        VectorXd q(static_cast<Eigen::Index>(model.nq));
        for (int position_only = 0; position_only < 2; ++position_only) {
          const IkResult r = position_only ? inverseKinematics(model, data, f, target.translation, q0, q)
                                           : inverseKinematics(model, data, f, target, q0, q);
          EXPECT_TRUE(within_limits(model, q)) << c.name;
          const SE3 reached = frame_placement(model, data, f, q);
          const double err = position_only ? (reached.translation - target.translation).norm()
                                           : compose(inverse(reached), target).log().norm();
          EXPECT_NEAR(r.error, err, kRoundoff) << c.name;
          if (r.converged) {
            ++converged[position_only];
            EXPECT_LE(err, 1e-10) << c.name;
            EXPECT_LE(r.iterations, 200);
          }
        }
      }
      for (int position_only = 0; position_only < 2; ++position_only) {
        std::printf("[ ik      ] %-22s %-18s %-9s %d/%d converged\n", c.name.c_str(), name.c_str(),
                    position_only ? "position" : "placement", converged[position_only], trials);
        EXPECT_GE(converged[position_only], 0.99 * trials) << c.name << " " << name;
      }
    }
  }
}

// A target out of reach: not converged, within the limits, and at a
// least-squares minimum: the slope of ½|e|² (central differences along
// integrate) vanishes along every coordinate not held at a limit and points
// out of the range along those that are.
TEST(InverseKinematics, UnreachableTargetGivesTheLeastSquaresBest) {
  const Model model = parse_urdf_file(std::string(LUMO_SOURCE_DIR) + "/models/arm7.urdf");
  Data data(model);
  const FrameIndex f = *model.getFrameId("tool0");
  const VectorXd q0 = VectorXd::Constant(static_cast<Eigen::Index>(model.nq), -0.2);
  VectorXd q(q0.size());
  for (const Vector3& far : {Vector3(3.0, 1.0, 0.5), Vector3(0.0, 0.0, -2.0)}) {
    const IkResult r = inverseKinematics(model, data, f, far, q0, q);
    EXPECT_FALSE(r.converged);
    EXPECT_TRUE(within_limits(model, q));
    auto cost = [&](const VectorXd& x) { return 0.5 * (frame_placement(model, data, f, x).translation - far).squaredNorm(); };
    EXPECT_NEAR(r.error, std::sqrt(2.0 * cost(q)), kRoundoff);
    for (Eigen::Index k = 0; k < q.size(); ++k) {
      const double g = derivative(model, q, VectorXd::Unit(q.size(), k), [&](const VectorXd& x) {
        return (VectorXd(1) << cost(x)).finished();
      })[0];
      const double lo = model.lowerPositionLimit[k], hi = model.upperPositionLimit[k];
      if (q[k] <= lo + 1e-9) EXPECT_GE(g, -kFiniteDifference) << k;       // would fall only below the limit
      else if (q[k] >= hi - 1e-9) EXPECT_LE(g, kFiniteDifference) << k;  // or above it
      else EXPECT_NEAR(g, 0.0, 1e-5) << k;  // linear convergence at a large residual
    }
  }
}

// NaN in, not converged out, within the iteration cap; a target rotation
// that is not one and bad sizes or frames are refused.
TEST(InverseKinematics, BadInput) {
  std::mt19937 rng(2);
  const Model model = with_extra_frame(seven_dof_arm(), rng);
  Data data(model);
  const FrameIndex f = model.nframes - 1;
  const auto nq = static_cast<Eigen::Index>(model.nq);
  VectorXd q0 = VectorXd::Zero(nq), q(nq);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  SE3 target;
  target.translation = Vector3(0.1, 0.2, 0.3);
  VectorXd q_nan = q0;
  q_nan[2] = nan;
  for (const IkResult& r : {inverseKinematics(model, data, f, target, q_nan, q),
                            inverseKinematics(model, data, f, Vector3(nan, 0, 0), q0, q),
                            inverseKinematics(model, data, f, SE3{Matrix3::Constant(nan), Vector3::Zero()}, q0, q)}) {
    EXPECT_FALSE(r.converged);
    EXPECT_TRUE(std::isnan(r.error));
  }
  for (const Matrix3& R : {Matrix3(2.0 * Matrix3::Identity()), Matrix3(-Matrix3::Identity()),
                           Matrix3(Eigen::Vector3d(1, 1, -1).asDiagonal())})
    EXPECT_EQ(error_message<ValueError>([&] { inverseKinematics(model, data, f, SE3{R, Vector3::Zero()}, q0, q); }),
              "target rotation is not a rotation matrix");
  EXPECT_EQ(error_message<ValueError>([&] { inverseKinematics(model, data, f, target, VectorXd(nq + 1), q); }),
            "Configuration vector size mismatch: expected 7, got 8");
  EXPECT_NE(error_message<ValueError>([&] { inverseKinematics(model, data, model.nframes, target, q0, q); }),
            "no exception");
}

}  // namespace
}  // namespace lumo

#include "test_models.hpp"

#include "urdf_parser/builder.hpp"

#include <algorithm>
#include <fstream>
#include <cmath>

namespace lumo::test {

namespace {

double uniform(std::mt19937& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

Eigen::Vector4d random_quaternion(std::mt19937& rng) {  // (x, y, z, w), unit
  std::normal_distribution<double> n;
  Eigen::Vector4d q(n(rng), n(rng), n(rng), n(rng));
  return q / q.norm();
}

}  // namespace

Vector3 random_vector(std::mt19937& rng, double scale) {
  return Vector3(uniform(rng, -scale, scale), uniform(rng, -scale, scale),
                 uniform(rng, -scale, scale));
}

Matrix3 random_rotation(std::mt19937& rng) {
  const Eigen::Vector4d q = random_quaternion(rng);
  return Eigen::Quaterniond(q[3], q[0], q[1], q[2]).toRotationMatrix();
}

SE3 random_placement(std::mt19937& rng) { return {random_rotation(rng), random_vector(rng)}; }

Motion random_motion(std::mt19937& rng) { return {random_vector(rng), random_vector(rng)}; }

Force random_force(std::mt19937& rng) { return {random_vector(rng), random_vector(rng)}; }

BodyInertia random_inertia(std::mt19937& rng) {
  // Principal moments from positive second moments s: Ixx = sy + sz, … so the
  // triangle inequality holds strictly.
  const Vector3 s(uniform(rng, 0.01, 0.5), uniform(rng, 0.01, 0.5), uniform(rng, 0.01, 0.5));
  const Vector3 principal(s.y() + s.z(), s.x() + s.z(), s.x() + s.y());
  const Matrix3 R = random_rotation(rng);
  BodyInertia Y;
  Y.mass = uniform(rng, 0.2, 3.0);
  Y.lever = random_vector(rng, 0.5);
  set_inertia_tensor(Y, R * (Y.mass * principal).asDiagonal() * R.transpose());
  return Y;
}

Model random_tree(unsigned seed, std::size_t count, const TreeOptions& options) {
  std::mt19937 rng(seed);
  std::vector<JointType> kinds = options.kinds;
  std::shuffle(kinds.begin(), kinds.end(), rng);
  Model model;
  std::size_t next_kind = 0;
  for (std::size_t n = 0; n < count; ++n) {
    const JointIndex i = model.njoints;
    JointIndex parent = options.chain ? i - 1 : std::uniform_int_distribution<JointIndex>(0, i - 1)(rng);
    JointType kind = kinds[next_kind++ % kinds.size()];
    if (options.floating_base && i == 1) {
      parent = 0;
      kind = JointType::Floating;
      --next_kind;
    }
    Vector3 axis = random_rotation(rng).col(0) * uniform(rng, 0.5, 2.0);
    SE3 placement = random_placement(rng);
    if (options.plain_origins) {
      axis = Vector3::Unit(static_cast<Eigen::Index>(n % 3)) * (n % 2 == 0 ? 1.5 : -1.0);
      if (n % 2 == 0) placement.rotation.setIdentity();
    }
    const JointIndex id = model.add_joint(parent, JointModel::make(kind, axis), placement,
                                          "joint_" + std::to_string(i));
    model.set_inertia(id, random_inertia(rng));
  }
  return model;
}

Eigen::VectorXd random_configuration(const Model& model, std::mt19937& rng) {
  Eigen::VectorXd q(static_cast<Eigen::Index>(model.nq));
  for (JointIndex i = 1; i < model.njoints; ++i) {
    double* x = q.data() + model.idx_q[i];
    const double angle = uniform(rng, -kPi, kPi);
    switch (model.joints[i].type) {
      case JointType::Fixed: break;
      case JointType::Revolute: x[0] = angle; break;
      case JointType::Prismatic: x[0] = uniform(rng, -1.0, 1.0); break;
      case JointType::Continuous:
        x[0] = std::cos(angle);
        x[1] = std::sin(angle);
        break;
      case JointType::Planar:
        x[0] = uniform(rng, -1.0, 1.0);
        x[1] = uniform(rng, -1.0, 1.0);
        x[2] = std::cos(angle);
        x[3] = std::sin(angle);
        break;
      case JointType::Floating: {
        const Vector3 p = random_vector(rng);
        const Eigen::Vector4d r = random_quaternion(rng);
        q.segment<3>(static_cast<Eigen::Index>(model.idx_q[i])) = p;
        q.segment<4>(static_cast<Eigen::Index>(model.idx_q[i] + 3)) = r;
        break;
      }
      case JointType::Spherical:
        q.segment<4>(static_cast<Eigen::Index>(model.idx_q[i])) = random_quaternion(rng);
        break;
    }
  }
  return q;
}

Eigen::VectorXd random_velocity(const Model& model, std::mt19937& rng, double scale) {
  Eigen::VectorXd v(static_cast<Eigen::Index>(model.nv));
  for (Eigen::Index k = 0; k < v.size(); ++k) v[k] = uniform(rng, -scale, scale);
  return v;
}

std::vector<Model> floating_identity_models() {
  std::vector<Model> out;
  for (unsigned seed : {1u, 2u, 3u}) out.push_back(random_tree(seed, 12, {.floating_base = true}));
  out.push_back(random_tree(4, 8, {.chain = true, .floating_base = true}));
  out.push_back(random_tree(5, 12, {.floating_base = true, .plain_origins = true}));
  if (const std::string path = LUMO_SOURCE_DIR "/models/humanoid.urdf"; std::ifstream(path))
    out.push_back(parse_urdf_file(path));
  return out;
}

Model seven_dof_arm() {
  Model model;
  const Vector3 z(0, 0, 1), y(0, 1, 0);
  const double offsets[7] = {0.0, 0.33, 0.0, 0.32, 0.0, 0.4, 0.0};
  for (std::size_t k = 0; k < 7; ++k) {
    SE3 placement;
    placement.translation = Vector3(0.0, 0.0, offsets[k]);
    const JointIndex id = model.add_joint(k, JointModel::make(JointType::Revolute, k % 2 ? y : z),
                                          placement, "arm_joint_" + std::to_string(k + 1));
    BodyInertia Y;
    Y.mass = 4.0 - 0.4 * static_cast<double>(k);
    Y.lever = Vector3(0.01 * static_cast<double>(k), -0.02, 0.12);
    Y.inertia = {0.05, 0.001, 0.04, -0.002, 0.003, 0.02};
    model.set_inertia(id, Y);
  }
  return model;
}

Model planar_two_link(const PlanarArm& arm) {
  Model model;
  const JointModel joint = JointModel::make(JointType::Revolute, Vector3(0, 0, 1));
  SE3 elbow;
  elbow.translation = Vector3(arm.l1, 0.0, 0.0);
  const JointIndex j1 = model.add_joint(0, joint, SE3::Identity(), "shoulder");
  const JointIndex j2 = model.add_joint(j1, joint, elbow, "elbow");
  auto body = [](double m, double lc, double I) {
    BodyInertia Y;
    Y.mass = m;
    Y.lever = Vector3(lc, 0.0, 0.0);
    Y.inertia = {I / 10.0, 0.0, I, 0.0, 0.0, I};
    return Y;
  };
  model.set_inertia(j1, body(arm.m1, arm.lc1, arm.I1));
  model.set_inertia(j2, body(arm.m2, arm.lc2, arm.I2));
  return model;
}

::testing::AssertionResult near(const SE3& a, const SE3& b, double tol) {
  auto r = near(a.rotation, b.rotation, tol);
  return r ? near(a.translation, b.translation, tol) : r;
}

::testing::AssertionResult near(const Motion& a, const Motion& b, double tol) {
  return near(to_column(a), to_column(b), tol);
}

::testing::AssertionResult near(const Force& a, const Force& b, double tol) {
  Vector6 ca, cb;
  ca << a.force, a.moment;
  cb << b.force, b.moment;
  return near(ca, cb, tol);
}

}  // namespace lumo::test

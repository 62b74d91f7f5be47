#include "support/random.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <limits>

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

Eigen::Matrix<double, 6, Eigen::Dynamic> random_external_forces(const Model& model, std::mt19937& rng,
                                                                double scale) {
  Eigen::Matrix<double, 6, Eigen::Dynamic> f(6, static_cast<Eigen::Index>(model.njoints));
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const Motion m{random_vector(rng, scale), random_vector(rng, scale)};
    const Force y = inertia_apply(model.inertias[i], m);
    f.col(static_cast<Eigen::Index>(i)) << y.force, y.moment;
  }
  if (f.cols() > 0) f.col(0).setConstant(std::numeric_limits<double>::quiet_NaN());
  return f;
}

Eigen::VectorXd random_velocity(const Model& model, std::mt19937& rng, double scale) {
  Eigen::VectorXd v(static_cast<Eigen::Index>(model.nv));
  for (Eigen::Index k = 0; k < v.size(); ++k) v[k] = uniform(rng, -scale, scale);
  return v;
}

}  // namespace lumo::test

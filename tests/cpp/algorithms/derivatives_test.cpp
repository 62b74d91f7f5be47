// Derivatives of inverse dynamics and of the gravity torques: central finite
// differences along integrate on random trees with every joint kind and on
// the real robots, without and with external forces, identities with the
// mass matrix, and closed forms.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <filesystem>
#include <map>

#include "algorithms/aba.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/configuration_derivatives.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/rnea.hpp"
#include "support/testing.hpp"
#include "urdf_parser/builder.hpp"

namespace lumo {
namespace {

using namespace test;

// Random trees (every kind, fixed joints carrying bodies, floating bases),
// the sample arm and humanoid, and the real robots when ../shared is there.
std::vector<NamedModel> cases() {
  std::vector<NamedModel> out;
  for (unsigned seed : {21u, 22u}) {
    const std::string s = std::to_string(seed);
    out.push_back({"chain " + s, test::random_tree(seed, 9, {.chain = true})});
    out.push_back({"tree " + s, test::random_tree(seed, 12)});
    out.push_back({"floating " + s, test::random_tree(seed, 10, {.floating_base = true})});
  }
  out.push_back({"arm", test::seven_dof_arm()});
  const std::filesystem::path source = LUMO_SOURCE_DIR;
  if (const auto path = source / "models" / "humanoid.urdf"; std::filesystem::exists(path))
    out.push_back({"humanoid", parse_urdf_file(path.string())});
  for (auto& robot : test::real_robots()) out.push_back(std::move(robot));
  for (auto& robot : test::real_robots({"quirks/deepmimic_humanoid.urdf"})) out.push_back(std::move(robot));
  return out;
}

// Column k: central difference of f along e_k, f taking the displaced point.
template <typename F>
MatrixXd central_differences(std::size_t nv, F&& f) {
  MatrixXd D(nv, nv);
  for (std::size_t k = 0; k < nv; ++k) {
    VectorXd e = VectorXd::Zero(static_cast<Eigen::Index>(nv));
    e[static_cast<Eigen::Index>(k)] = kFdStep;
    D.col(static_cast<Eigen::Index>(k)) = (f(e) - f(-e)) / (2 * kFdStep);
  }
  return D;
}

// Largest |analytic − differences| per joint kind of the column, relative
// to the largest entry; folded into `worst` and checked below 1e-6.
void compare(const Model& model, const MatrixXd& exact, const MatrixXd& fd, const std::string& what,
             std::map<std::string, double>& worst) {
  const double scale = std::max(1.0, fd.cwiseAbs().maxCoeff());
  for (JointIndex i = 1; i < model.njoints; ++i) {
    for (std::size_t k = 0; k < model.nv_joint[i]; ++k) {
      const auto c = static_cast<Eigen::Index>(model.idx_v[i] + k);
      const double err = (exact.col(c) - fd.col(c)).cwiseAbs().maxCoeff() / scale;
      EXPECT_LT(err, kFiniteDifferenceCoarse) << what << " column " << c << " (" << joint_type_name(model.joints[i].type) << ")";
      double& w = worst[what + " " + joint_type_name(model.joints[i].type)];
      w = std::max(w, err);
    }
  }
}

TEST(Derivatives, InverseDynamicsAndGravityAgainstFiniteDifferences) {
  for (const NamedModel& c : cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    Data data(model), scratch(model);
    std::mt19937 rng(3);
    const VectorXd q = test::random_configuration(model, rng);
    const VectorXd v = test::random_velocity(model, rng), a = test::random_velocity(model, rng);
    const VectorXd zero = VectorXd::Zero(static_cast<Eigen::Index>(model.nv));
    computeRNEADerivatives(model, data, q, v, a);
    auto tau_at = [&](const VectorXd& qq, const VectorXd& vv) { return VectorXd(rnea(model, scratch, qq, vv, a)); };
    std::map<std::string, double> worst;
    compare(model, data.dtau_dq,
            central_differences(model.nv, [&](const VectorXd& e) { return tau_at(integrate(model, q, e), v); }),
            "dtau_dq", worst);
    compare(model, data.dtau_dv, central_differences(model.nv, [&](const VectorXd& e) { return tau_at(q, v + e); }),
            "dtau_dv", worst);
    const MatrixXd& dg = computeGeneralizedGravityDerivatives(model, data, q);
    compare(model, dg, central_differences(model.nv, [&](const VectorXd& e) {
              return VectorXd(compute_gravity(model, scratch, integrate(model, q, e)));
            }),
            "dg_dq", worst);
    // Forward dynamics at τ = rnea(q, v, a), so that q̈ = a.
    const VectorXd tau = rnea(model, scratch, q, v, a);
    computeABADerivatives(model, data, q, v, tau);
    auto ddq_at = [&](const VectorXd& qq, const VectorXd& vv) { return VectorXd(aba(model, scratch, qq, vv, tau)); };
    compare(model, data.ddq_dq,
            central_differences(model.nv, [&](const VectorXd& e) { return ddq_at(integrate(model, q, e), v); }),
            "ddq_dq", worst);
    compare(model, data.ddq_dv, central_differences(model.nv, [&](const VectorXd& e) { return ddq_at(q, v + e); }),
            "ddq_dv", worst);
    std::string line = c.name + ":";
    char buf[64];
    for (const auto& [key, err] : worst) {
      std::snprintf(buf, sizeof buf, " %s %.1e", key.c_str(), err);
      line += buf;
    }
    std::printf("[ fd error ] %s\n", line.c_str());

    // ∂τ/∂a is the mirrored mass matrix; at v = a = 0, ∂τ/∂q is ∂g/∂q.
    const MatrixXd M = MatrixXd(crba(model, scratch, q)).selfadjointView<Eigen::Upper>();
    EXPECT_TRUE(near(data.dtau_da, M, kClose * std::max(1.0, M.cwiseAbs().maxCoeff())));
    EXPECT_EQ(data.dtau_da, data.dtau_da.transpose());
    computeRNEADerivatives(model, data, q, zero, zero);
    EXPECT_TRUE(near(data.dtau_dq, dg, kClose * std::max(1.0, dg.cwiseAbs().maxCoeff())));
    EXPECT_EQ(data.dtau_dv.cwiseAbs().maxCoeff(), 0.0);
    // ∂q̈/∂τ = M⁻¹, and ∂q̈/∂x = −M⁻¹ ∂τ/∂x at a = q̈.
    const MatrixXd Minv = computeMinverse(model, scratch, q);
    EXPECT_TRUE(near(data.Minv, Minv, kClose * std::max(1.0, Minv.cwiseAbs().maxCoeff())));
    const MatrixXd ddq_dq = data.ddq_dq, ddq_dv = data.ddq_dv;
    computeRNEADerivatives(model, data, q, v, aba(model, scratch, q, v, tau));
    const MatrixXd by_q = -Minv * data.dtau_dq, by_v = -Minv * data.dtau_dv;
    EXPECT_TRUE(near(ddq_dq, by_q, kClose * std::max(1.0, by_q.cwiseAbs().maxCoeff())));
    EXPECT_TRUE(near(ddq_dv, by_v, kClose * std::max(1.0, by_v.cwiseAbs().maxCoeff())));
    // ∂τ/∂v is linear in v and does not depend on a.
    const VectorXd v2 = test::random_velocity(model, rng);
    computeRNEADerivatives(model, data, q, v, zero);
    const MatrixXd D1 = data.dtau_dv;
    computeRNEADerivatives(model, data, q, v2, a);
    const MatrixXd D2 = data.dtau_dv;
    computeRNEADerivatives(model, data, q, 2.0 * v - 3.0 * v2, a);
    EXPECT_TRUE(near(data.dtau_dv, 2.0 * D1 - 3.0 * D2, kClose * std::max(1.0, D1.cwiseAbs().maxCoeff())));
  }
}

// The derivatives under external forces held in their bodies' frames (so
// differences along integrate keep fext fixed): inverse and forward dynamics
// against central differences; no force, exactly the plain overloads.
TEST(Derivatives, ExternalForcesAgainstFiniteDifferences) {
  for (const NamedModel& c : cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    Data data(model), plain(model), scratch(model);
    std::mt19937 rng(4);
    const VectorXd q = test::random_configuration(model, rng);
    const VectorXd v = test::random_velocity(model, rng), a = test::random_velocity(model, rng);
    const Matrix6X fext = test::random_external_forces(model, rng);
    const Matrix6X zero = Matrix6X::Zero(6, fext.cols());
    computeRNEADerivatives(model, plain, q, v, a);
    computeRNEADerivatives(model, data, q, v, a, zero);
    EXPECT_TRUE(data.dtau_dq == plain.dtau_dq && data.dtau_dv == plain.dtau_dv && data.dtau_da == plain.dtau_da);
    computeABADerivatives(model, plain, q, v, a);
    computeABADerivatives(model, data, q, v, a, zero);
    EXPECT_TRUE(data.ddq_dq == plain.ddq_dq && data.ddq_dv == plain.ddq_dv && data.Minv == plain.Minv);

    std::map<std::string, double> worst;
    // the analytic forms read fext through a view into taller columns
    Eigen::Matrix<double, 8, Eigen::Dynamic> padded(8, fext.cols());
    padded.bottomRows<2>().setConstant(1e300);
    padded.topRows<6>() = fext;
    const Eigen::Ref<const Matrix6X> view = padded.topRows<6>();
    ASSERT_EQ(view.outerStride(), 8);
    computeRNEADerivatives(model, data, q, v, a, view);
    auto tau_at = [&](const VectorXd& qq, const VectorXd& vv) {
      return VectorXd(inverseDynamics(model, scratch, qq, vv, a, fext));
    };
    compare(model, data.dtau_dq,
            central_differences(model.nv, [&](const VectorXd& e) { return tau_at(integrate(model, q, e), v); }),
            "dtau_dq", worst);
    compare(model, data.dtau_dv, central_differences(model.nv, [&](const VectorXd& e) { return tau_at(q, v + e); }),
            "dtau_dv", worst);
    computeRNEADerivatives(model, plain, q, v, a);
    EXPECT_EQ(data.dtau_da, plain.dtau_da);
    const VectorXd tau = inverseDynamics(model, scratch, q, v, a, fext);
    computeABADerivatives(model, data, q, v, tau, view);
    auto ddq_at = [&](const VectorXd& qq, const VectorXd& vv) {
      return VectorXd(forwardDynamics(model, scratch, qq, vv, tau, fext));
    };
    compare(model, data.ddq_dq,
            central_differences(model.nv, [&](const VectorXd& e) { return ddq_at(integrate(model, q, e), v); }),
            "ddq_dq", worst);
    compare(model, data.ddq_dv, central_differences(model.nv, [&](const VectorXd& e) { return ddq_at(q, v + e); }),
            "ddq_dv", worst);
    std::string line = c.name + " (fext):";
    char buf[64];
    for (const auto& [key, err] : worst) {
      std::snprintf(buf, sizeof buf, " %s %.1e", key.c_str(), err);
      line += buf;
    }
    std::printf("[ fd error ] %s\n", line.c_str());
  }
  const Model model = test::random_tree(9, 6, {.floating_base = true});
  Data data(model);
  const VectorXd q = VectorXd::Zero(static_cast<Eigen::Index>(model.nq)), v = VectorXd::Zero(static_cast<Eigen::Index>(model.nv));
  const Matrix6X wrong = Matrix6X::Zero(6, 2);
  EXPECT_EQ(test::error_message<ValueError>([&] { computeRNEADerivatives(model, data, q, v, v, wrong); }),
            "fext must have shape (7, 6), got (2, 6)");
  EXPECT_EQ(test::error_message<ValueError>([&] { computeABADerivatives(model, data, q, v, v, wrong); }),
            "fext must have shape (7, 6), got (2, 6)");
}

// τ = (I + m l²) q̈ + m g l cos q for a pendulum swinging in the x–y plane
// under gravity along −y; the two-link arm from its closed-form M, C and g.
TEST(Derivatives, ClosedFormsOfPendulumAndTwoLinkArm) {
  const double g = 9.81;
  {
    const double m = 1.7, l = 0.6, I = 0.04, q = 0.7, v = -1.3, a = 0.4;
    Model model;
    const JointIndex j = model.add_joint(0, JointModel::make(JointType::Revolute, Vector3(0, 0, 2)), SE3(), "pin");
    BodyInertia Y;
    Y.mass = m;
    Y.lever = Vector3(l, 0, 0);
    Y.inertia = {I, 0, I, 0, 0, I};
    model.set_inertia(j, Y);
    model.set_gravity(Vector3(0, -g, 0));
    Data data(model);
    const VectorXd Q = VectorXd::Constant(1, q), V = VectorXd::Constant(1, v), A = VectorXd::Constant(1, a);
    computeRNEADerivatives(model, data, Q, V, A);
    EXPECT_NEAR(data.dtau_dq(0, 0), -m * g * l * std::sin(q), kClose);
    EXPECT_NEAR(data.dtau_dv(0, 0), 0.0, kClose);
    EXPECT_NEAR(data.dtau_da(0, 0), I + m * l * l, kClose);
    EXPECT_NEAR(computeGeneralizedGravityDerivatives(model, data, Q)(0, 0), -m * g * l * std::sin(q), kClose);
    // q̈ = (τ − m g l cos q) / (I + m l²)
    computeABADerivatives(model, data, Q, V, A);
    EXPECT_NEAR(data.ddq_dq(0, 0), m * g * l * std::sin(q) / (I + m * l * l), kClose);
    EXPECT_NEAR(data.ddq_dv(0, 0), 0.0, kClose);
    EXPECT_NEAR(data.Minv(0, 0), 1.0 / (I + m * l * l), kClose);
  }
  const test::PlanarArm p{.l1 = 0.8, .lc1 = 0.35, .lc2 = 0.45, .m1 = 1.3, .m2 = 0.9, .I1 = 0.07, .I2 = 0.05};
  Model model = test::planar_two_link(p);
  model.set_gravity(Vector3(0, -g, 0));
  Data data(model);
  const Eigen::Vector2d q(0.6, -1.1), v(0.8, -1.7), a(0.3, 2.1);
  const double c2 = std::cos(q[1]), s2 = std::sin(q[1]);
  const double s1 = std::sin(q[0]), s12 = std::sin(q[0] + q[1]);
  const double A = p.m1 * p.lc1 + p.m2 * p.l1, B = p.m2 * p.lc2, k = p.m2 * p.l1 * p.lc2;
  // M(q2) with ∂M/∂q2 = −k s2 [[2, 1], [1, 0]]; h = −k s2 with ∂h/∂q2 = −k c2;
  // bias (h (2 v1 v2 + v2²), −h v1²); gravity (A g c1 + B g c12, B g c12).
  const double h = -k * s2, dh = -k * c2;
  Eigen::Matrix2d dq, dv;
  dq << -A * g * s1 - B * g * s12, -k * s2 * (2 * a[0] + a[1]) + dh * (2 * v[0] * v[1] + v[1] * v[1]) - B * g * s12,
      -B * g * s12, -k * s2 * a[0] - dh * v[0] * v[0] - B * g * s12;
  dv << 2 * h * v[1], 2 * h * (v[0] + v[1]), -2 * h * v[0], 0.0;
  computeRNEADerivatives(model, data, q, v, a);
  EXPECT_TRUE(near(data.dtau_dq, dq, kClose));
  EXPECT_TRUE(near(data.dtau_dv, dv, kClose));
  // Forward dynamics at the τ of this state: q̈ = a, ∂q̈/∂x = −M⁻¹ ∂τ/∂x.
  Eigen::Matrix2d M;
  M << p.I1 + p.I2 + p.m1 * p.lc1 * p.lc1 + p.m2 * (p.l1 * p.l1 + p.lc2 * p.lc2) + 2 * k * c2,
      p.I2 + p.m2 * p.lc2 * p.lc2 + k * c2, p.I2 + p.m2 * p.lc2 * p.lc2 + k * c2, p.I2 + p.m2 * p.lc2 * p.lc2;
  const VectorXd tau = rnea(model, data, q, v, a);
  computeABADerivatives(model, data, q, v, tau);
  EXPECT_TRUE(near(data.ddq, a, kClose));
  EXPECT_TRUE(near(data.Minv, M.inverse(), kClose));
  EXPECT_TRUE(near(data.ddq_dq, -M.inverse() * dq, kClose));
  EXPECT_TRUE(near(data.ddq_dv, -M.inverse() * dv, kClose));
  Eigen::Matrix2d dg;
  dg << -A * g * s1 - B * g * s12, -B * g * s12, -B * g * s12, -B * g * s12;
  EXPECT_TRUE(near(computeGeneralizedGravityDerivatives(model, data, q), dg, kClose));
}

TEST(Derivatives, SizedOnFirstUseAndCheckedInputs) {
  const Model model = test::random_tree(9, 6, {.floating_base = true});
  Data data(model);
  EXPECT_EQ(data.dtau_dq.size() + data.dtau_dv.size() + data.dtau_da.size() + data.dg_dq.size(), 0);
  EXPECT_EQ(data.ddq_dq.size() + data.ddq_dv.size() + data.derivative_columns.size(), 0u);
  std::mt19937 rng(1);
  const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng);
  const VectorXd short_v = v.head(v.size() - 1);
  EXPECT_THROW(computeRNEADerivatives(model, data, q.head(q.size() - 1), v, v), InternalError);
  EXPECT_THROW(computeRNEADerivatives(model, data, q, short_v, short_v), InternalError);
  EXPECT_THROW(computeRNEADerivatives(model, data, q, v, short_v), InternalError);
  EXPECT_THROW(computeGeneralizedGravityDerivatives(model, data, q.head(1)), InternalError);
  EXPECT_THROW(computeABADerivatives(model, data, q, v, short_v), InternalError);
  EXPECT_THROW(computeABADerivatives(model, data, q, short_v, v), InternalError);
  Data other(test::random_tree(9, 3));
  EXPECT_THROW(computeRNEADerivatives(model, other, q, v, v), ValueError);
  EXPECT_THROW(computeGeneralizedGravityDerivatives(model, other, q), ValueError);
  EXPECT_THROW(computeABADerivatives(model, other, q, v, v), ValueError);
  computeRNEADerivatives(model, data, q, v, v);
  EXPECT_EQ(data.dtau_dq.rows(), static_cast<Eigen::Index>(model.nv));
  EXPECT_EQ(data.dg_dq.size(), 0);
}

// The forms that write into the caller's memory (as the batch rows do)
// give, bit for bit, what the workspace forms leave in data, and write
// nothing else: crba the upper triangle of its M only.
TEST(Derivatives, DestinationFormsWriteWhatTheWorkspaceHolds) {
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  for (const test::NamedModel& c : test::random_tree_cases()) {
    SCOPED_TRACE(c.name);
    const Model& model = c.model;
    const auto nv = static_cast<Eigen::Index>(model.nv);
    std::mt19937 rng(5);
    Data data(model), into(model);
    const VectorXd q = test::random_configuration(model, rng), v = test::random_velocity(model, rng),
                   a = test::random_velocity(model, rng);
    const Matrix6X fext = test::random_external_forces(model, rng);
    const auto same = [](const auto& x, const auto& y) {
      return x.rows() == y.rows() && x.cols() == y.cols() &&
             std::memcmp(MatrixXd(x).data(), MatrixXd(y).data(), sizeof(double) * x.size()) == 0;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MatrixXd M = MatrixXd::Constant(nv, nv, nan);
    crba(model, into, q, M);
    crba(model, data, q);
    EXPECT_TRUE(same(MatrixXd(M.triangularView<Eigen::Upper>()), data.M));
    EXPECT_TRUE(M.triangularView<Eigen::StrictlyLower>().toDenseMatrix().array().isNaN().count() ==
                nv * (nv - 1) / 2);
    VectorXd x(nv);
    rnea(model, into, q, v, a, x);
    EXPECT_TRUE(same(x, rnea(model, data, q, v, a)));
    aba(model, into, q, v, a, x);
    EXPECT_TRUE(same(x, aba(model, data, q, v, a)));
    // C-ordered storage, as a NumPy array's
    RowMajor dq(nv, nv), dv(nv, nv), da(nv, nv);
    const auto view = [nv](RowMajor& m) {
      using Stride = Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>;
      return Eigen::Map<MatrixXd, 0, Stride>(m.data(), nv, nv, Stride(1, std::max<Eigen::Index>(nv, 1)));
    };
    for (const bool forces : {false, true}) {
      if (forces) {
        computeRNEADerivatives(model, into, q, v, a, fext, view(dq), view(dv), view(da));
        computeRNEADerivatives(model, data, q, v, a, fext);
      } else {
        computeRNEADerivatives(model, into, q, v, a, view(dq), view(dv), view(da));
        computeRNEADerivatives(model, data, q, v, a);
      }
      EXPECT_TRUE(same(dq, data.dtau_dq) && same(dv, data.dtau_dv) && same(da, data.dtau_da)) << forces;
    }
    EXPECT_EQ(into.dtau_dq.size(), 0);
    if (nv > 1) {
      MatrixXd short_M(nv - 1, nv);
      EXPECT_THROW(crba(model, into, q, short_M), InternalError);
      EXPECT_THROW(computeRNEADerivatives(model, into, q, v, a, view(dq), view(dv), short_M), InternalError);
      EXPECT_THROW(computeRNEADerivatives(model, into, q, v, a, view(dq), view(dv), M), InternalError);  // layouts
    }
  }
}

// The vector-Jacobian products against the derivative matrices: the adjoint
// pass of rneaVJP and abaVJP's solve on M, every kind of the random trees.
TEST(Derivatives, VectorJacobianProductsAgainstTheMatrices) {
  for (const auto& c : cases()) {
    const Model& model = c.model;
    const std::string& name = c.name;
    std::mt19937 rng(5);
    Data data(model), other(model);
    const auto nq = static_cast<Eigen::Index>(model.nq), nv = static_cast<Eigen::Index>(model.nv);
    const VectorXd q = random_configuration(model, rng), v = random_velocity(model, rng),
                   a = random_velocity(model, rng), w = random_velocity(model, rng);
    VectorXd gq(nq), gv(nv), g3(nv), tangent(nv), expected(nq);
    computeABADerivatives(model, other, q, v, a);
    abaVJP(model, data, q, v, a, w, gq, gv, g3);
    tangent = other.ddq_dq.transpose() * w;
    configurationGradient(model, q, tangent, expected);
    const double scale = 1.0 + other.ddq_dq.cwiseAbs().maxCoeff() + other.Minv.cwiseAbs().maxCoeff();
    EXPECT_LT((gq - expected).cwiseAbs().maxCoeff(), 1e-11 * scale * (1.0 + w.norm())) << name;
    EXPECT_LT((gv - other.ddq_dv.transpose() * w).cwiseAbs().maxCoeff(), 1e-11 * scale * (1.0 + w.norm())) << name;
    EXPECT_LT((g3 - other.Minv * w).cwiseAbs().maxCoeff(), 1e-11 * scale * (1.0 + w.norm())) << name;
    computeRNEADerivatives(model, other, q, v, a);
    rneaVJP(model, data, q, v, a, w, gq, gv, g3);
    tangent = other.dtau_dq.transpose() * w;
    configurationGradient(model, q, tangent, expected);
    const double size = 1.0 + other.dtau_dq.cwiseAbs().maxCoeff() + other.dtau_da.cwiseAbs().maxCoeff();
    EXPECT_LT((gq - expected).cwiseAbs().maxCoeff(), 1e-12 * size * (1.0 + w.norm())) << name;
    EXPECT_LT((gv - other.dtau_dv.transpose() * w).cwiseAbs().maxCoeff(), 1e-12 * size * (1.0 + w.norm())) << name;
    EXPECT_LT((g3 - other.dtau_da * w).cwiseAbs().maxCoeff(), 1e-12 * size * (1.0 + w.norm())) << name;
  }
}

}  // namespace
}  // namespace lumo

#include "data/data.hpp"

#include <algorithm>
#include <limits>

#include "algorithms/errors/errors.hpp"
#include "algorithms/kinematics.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using namespace test;

// fn(x) for every double held by a workspace field.
template <typename F>
void each(double& x, F& fn) { fn(x); }
template <typename F, typename D>
void each(Eigen::PlainObjectBase<D>& x, F& fn) {
  for (Eigen::Index k = 0; k < x.size(); ++k) fn(x.data()[k]);
}
template <typename F>
void each(SE3& x, F& fn) { each(x.rotation, fn), each(x.translation, fn); }
template <typename F>
void each(Motion& x, F& fn) { each(x.angular, fn), each(x.linear, fn); }
template <typename F>
void each(Force& x, F& fn) { each(x.moment, fn), each(x.force, fn); }
template <typename F>
void each(BodyInertia& x, F& fn) {
  fn(x.mass);
  each(x.lever, fn);
  for (double& e : x.inertia) fn(e);
}
template <typename F, typename T>
void each(std::vector<T>& list, F& fn) {
  for (T& x : list) each(x, fn);
}
template <typename F>
void each_field(Data& d, F fn) {
  auto all = [&](auto&... fields) { (each(fields, fn), ...); };
  all(d.oMi, d.limi, d.v, d.a, d.ov, d.a_gf, d.f, d.h, d.tau, d.nle, d.g, d.M, d.C, d.j, d.dJ,
      d.world_inertia, d.world_inertia_rate, d.momentum_matrix, d.momentum_matrix_rate,
      d.com_jacobian, d.subtree_com, d.subtree_com_sum, d.subtree_mass, d.centroidal_momentum,
      d.centroidal_momentum_rate, d.centroidal_inertia, d.com, d.a_g,
      d.f_nle, d.f_g, d.oYc, d.oBc);
}

std::vector<double> values(Data d) {
  std::vector<double> out;
  each_field(d, [&](double& x) { out.push_back(x); });
  return out;
}

TEST(Data, SizesAtCreation) {
  const Model model = test::random_tree(41, 9, {.floating_base = true});
  const Data d(model);
  const auto N = model.njoints;
  const auto n = static_cast<Eigen::Index>(model.nv);
  EXPECT_TRUE(d.njoints == N && d.nq == model.nq && d.nv == model.nv);
  for (std::size_t size : {d.oMi.size(), d.limi.size(), d.v.size(), d.a.size(), d.ov.size(),
                           d.a_gf.size(), d.f.size(), d.h.size(), d.world_inertia.size(),
                           d.world_inertia_rate.size(), d.subtree_com.size(),
                           d.subtree_com_sum.size(), d.subtree_mass.size(),
                           d.a_g.size(), d.f_nle.size(), d.f_g.size(),
                           d.oYc.size(), d.oBc.size()})
    EXPECT_EQ(size, N);
  for (const auto* x : {&d.tau, &d.nle, &d.g}) EXPECT_EQ(x->size(), n);
  for (const auto* x : {&d.M, &d.C}) EXPECT_TRUE(x->rows() == n && x->cols() == n);
  for (const auto* x : {&d.j, &d.dJ, &d.momentum_matrix, &d.momentum_matrix_rate}) EXPECT_EQ(x->cols(), n);
  EXPECT_EQ(d.com_jacobian.cols(), n);
  for (const SE3& M : d.oMi) EXPECT_TRUE(near(M, identity(), 0.0));
  EXPECT_TRUE(near(d.M, Eigen::MatrixXd::Zero(n, n), 0.0));
  EXPECT_EQ(Data(Model()).M.size(), 0);
}

TEST(Data, ResetRestoresCreationValues) {
  const Model model = test::random_tree(42, 8);
  Data d(model);
  double next = 1.0;
  each_field(d, [&](double& x) { x = next++; });
  d.reset();
  const std::vector<double> got = values(d), expected = values(Data(model));
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k)
    if (got[k] != expected[k]) {
      ADD_FAILURE() << "value " << k << " is " << got[k] << " after reset, " << expected[k] << " when created";
      break;
    }
}

TEST(Data, ModelCheckAndJointPlacement) {
  const Model model = test::planar_two_link();
  Data d(model);
  EXPECT_NO_THROW(d.check_model(model));
  EXPECT_THROW(d.check_model(test::seven_dof_arm()), ValueError);
  EXPECT_TRUE(near(d.get_joint_placement(0), identity(), 0.0));
  EXPECT_EQ(test::error_message<IndexError>([&] { d.get_joint_placement(3); }),
            "Joint ID 3 out of range (max: 2)");
  forwardKinematics(model, d, Eigen::Vector2d(0.3, 0.4));
  EXPECT_TRUE(near(d.get_joint_placement(2), d.oMi[2], 0.0));
}

TEST(DataReport, FreshData) {
  EXPECT_EQ(data_report(Data(Model())),
            "========== Data Information ==========\n"
            "Dimensions:\n"
            "  njoints: 1\n"
            "  nq:      0\n"
            "  nv:      0\n"
            "\n"
            "Joint Placements (first 1):\n"
            "  Joint 0: position = [  0.0000,   0.0000,   0.0000]\n"
            "=====================================\n");
}

TEST(DataReport, SectionsAreTruncatedAndFormatted) {
  Model model;  // 7 joints, nq 14, nv 12
  const JointType kinds[] = {JointType::Floating, JointType::Spherical, JointType::Revolute,
                             JointType::Fixed, JointType::Revolute, JointType::Prismatic};
  for (JointType kind : kinds)
    model.add_joint(model.njoints - 1, JointModel::make(kind, Vector3::UnitX()), SE3::Identity(), "j");
  Data d(model);
  for (std::size_t i = 1; i < 7; ++i)
    d.oMi[i].translation = Vector3(static_cast<double>(i), -0.5 * static_cast<double>(i), 1e-5);
  d.oMi[4].translation = Vector3(12345.678, -2.5, 0.0);
  constexpr double inf = std::numeric_limits<double>::infinity();
  d.tau.head<5>() << 1.5, std::numeric_limits<double>::quiet_NaN(), inf, -inf, -1e-7;
  d.tau[11] = 3.0;
  d.g.setConstant(1e-10);  // not above the threshold: no section
  d.g[3] = -1e-10;
  d.M = Eigen::MatrixXd::Zero(8, 8);
  d.M(0, 0) = 2.0;
  d.M(1, 0) = 0.5;
  d.M(4, 4) = -3.25;
  d.M(0, 6) = 5.0;
  EXPECT_EQ(data_report(d),
            "========== Data Information ==========\n"
            "Dimensions:\n"
            "  njoints: 7\n"
            "  nq:      14\n"
            "  nv:      12\n"
            "\n"
            "Joint Placements (first 5):\n"
            "  Joint 0: position = [  0.0000,   0.0000,   0.0000]\n"
            "  Joint 1: position = [  1.0000,  -0.5000,   0.0000]\n"
            "  Joint 2: position = [  2.0000,  -1.0000,   0.0000]\n"
            "  Joint 3: position = [  3.0000,  -1.5000,   0.0000]\n"
            "  Joint 4: position = [12345.6780,  -2.5000,   0.0000]\n"
            "  ... (2 more joints)\n"
            "\n"
            "Joint Torques (tau):\n"
            "  tau[0] =     1.500000\n"
            "  tau[1] =          NaN\n"
            "  tau[2] =          inf\n"
            "  tau[3] =         -inf\n"
            "  tau[4] =    -0.000000\n"
            "  tau[5] =     0.000000\n"
            "  tau[6] =     0.000000\n"
            "  tau[7] =     0.000000\n"
            "  tau[8] =     0.000000\n"
            "  tau[9] =     0.000000\n"
            "  ... (2 more)\n"
            "\n"
            "Mass Matrix (M):\n"
            "  Size: 8x8\n"
            "  Top-left 5x5 block:\n"
            "        2.0000     0.0000     0.0000     0.0000     0.0000 \n"
            "        0.5000     0.0000     0.0000     0.0000     0.0000 \n"
            "        0.0000     0.0000     0.0000     0.0000     0.0000 \n"
            "        0.0000     0.0000     0.0000     0.0000     0.0000 \n"
            "        0.0000     0.0000     0.0000     0.0000    -3.2500 \n"
            "  ... (larger matrix)\n"
            "=====================================\n");
}

TEST(DataReport, SectionsAtTheirLimitsShownInFull) {
  Model model;  // 5 joints, nv 10
  for (JointType kind : {JointType::Spherical, JointType::Floating, JointType::Fixed, JointType::Revolute})
    model.add_joint(model.njoints - 1, JointModel::make(kind, Vector3::UnitZ()), SE3::Identity(), "j");
  Data d(model);
  d.g[1] = 2e-10;
  d.M = 1e-10 * Eigen::MatrixXd::Ones(3, 3);  // at the threshold: no section
  std::string report = data_report(d);
  auto has = [&](const std::string& text) { return report.find(text) != std::string::npos; };
  EXPECT_TRUE(has("Joint Placements (first 5):\n")) << report;
  EXPECT_TRUE(has("  Joint 4: position = [  0.0000,   0.0000,   0.0000]\n\nGravity Vector (g):\n"
                  "  g[0] =     0.000000\n  g[1] =     0.000000\n")) << report;
  EXPECT_TRUE(has("  g[9] =     0.000000\n====")) << report;
  EXPECT_FALSE(has("more")) << report;
  EXPECT_FALSE(has("Mass Matrix")) << report;
  d.M(2, 2) = 1.0;
  report = data_report(d);
  EXPECT_TRUE(has("  Size: 3x3\n  Top-left 3x3 block:\n")) << report;
  EXPECT_TRUE(has("        0.0000     0.0000     1.0000 \n====")) << report;
}

}  // namespace
}  // namespace lumo

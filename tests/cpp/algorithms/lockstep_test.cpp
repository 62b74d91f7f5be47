// The lock-step kernels of every instruction set the CPU has against the
// single calls, state by state: bit for bit (the kernels' sums are grouped
// as the single calls' are; kernels/lockstep.hpp), over the random trees of
// every joint kind and the robots.
#include "algorithms/kernels/lockstep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "algorithms/aba.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "data/data.hpp"
#include "support/models.hpp"
#include "support/random.hpp"

namespace lumo {
namespace {

using test::NamedModel;

// W states of the model, row after row: q (nq each), v and a (nv each).
struct States {
  std::vector<double> q, v, a;
  States(const Model& model, std::size_t w, std::mt19937& rng) {
    for (std::size_t l = 0; l < w; ++l) {
      const Eigen::VectorXd ql = test::random_configuration(model, rng);
      const Eigen::VectorXd vl = test::random_velocity(model, rng), al = test::random_velocity(model, rng, 3.0);
      q.insert(q.end(), ql.data(), ql.data() + ql.size());
      v.insert(v.end(), vl.data(), vl.data() + vl.size());
      a.insert(a.end(), al.data(), al.data() + al.size());
    }
  }
};

Eigen::Map<const Eigen::VectorXd> row(const std::vector<double>& x, std::size_t l, std::size_t width) {
  return {x.data() + l * width, static_cast<Eigen::Index>(width)};
}

TEST(Lockstep, EveryLaneIsTheSingleCallBitForBit) {
  std::vector<NamedModel> models = test::random_tree_cases();
  for (NamedModel& c : test::robot_cases()) models.push_back(std::move(c));
  int sets = 0;
  for (const char* name : {"avx2", "avx512"}) {
    const lockstep::InstructionSet* isa = lockstep::instruction_set(name);
    if (isa == nullptr) continue;
    ++sets;
    for (const NamedModel& c : models) {
      SCOPED_TRACE(std::string(name) + " " + c.name);
      const Model& model = c.model;
      const std::size_t w = isa->width, nq = model.nq, nv = model.nv;
      std::mt19937 rng(7);
      States s(model, w, rng);
      // a zero angle in one state, taken by the single call's own branch
      if (nq > 0) s.q[nq] = 0.0;
      Data data(model);
      lockstep::Workspace packs(model, *isa);
      std::vector<double> out(w * nv);
      const double* in[] = {s.q.data(), s.v.data(), s.a.data()};
      double* outs[] = {out.data()};
      using K = lockstep::Kernel;
      for (K kernel : {K::rnea, K::non_linear_effects, K::gravity, K::aba}) {  // (aba: a as τ)
        ASSERT_TRUE(packs.run(kernel, in, outs));
        for (std::size_t l = 0; l < w; ++l) {
          const auto q = row(s.q, l, nq), v = row(s.v, l, nv), a = row(s.a, l, nv);
          const Eigen::VectorXd want = kernel == K::rnea                 ? rnea(model, data, q, v, a)
                                       : kernel == K::non_linear_effects ? non_linear_effects(model, data, q, v)
                                       : kernel == K::gravity            ? compute_gravity(model, data, q)
                                                                         : aba(model, data, q, v, a);
          EXPECT_EQ(std::memcmp(want.data(), out.data() + l * nv, nv * sizeof(double)), 0)
              << "kernel " << int(kernel) << ", state " << l;
        }
      }
      // With external forces on the bodies (inverseDynamics and
      // forwardDynamics with fext): each lane's own.
      std::vector<double> forces;
      for (std::size_t l = 0; l < w; ++l) {
        const Matrix6X f = test::random_external_forces(model, rng);
        forces.insert(forces.end(), f.data(), f.data() + f.size());
      }
      const double* in_forces[] = {s.q.data(), s.v.data(), s.a.data(), forces.data()};
      lockstep::Arguments with_forces;
      with_forces.forces = true;
      for (K kernel : {K::rnea, K::aba}) {
        ASSERT_TRUE(packs.run(kernel, in_forces, outs, with_forces)) << "kernel " << int(kernel);
        for (std::size_t l = 0; l < w; ++l) {
          const auto q = row(s.q, l, nq), v = row(s.v, l, nv), a = row(s.a, l, nv);
          const Eigen::Map<const Matrix6X> fext(forces.data() + 6 * model.njoints * l, 6,
                                                static_cast<Eigen::Index>(model.njoints));
          const Eigen::VectorXd want = kernel == K::rnea ? inverseDynamics(model, data, q, v, a, fext)
                                                         : forwardDynamics(model, data, q, v, a, fext);
          EXPECT_EQ(std::memcmp(want.data(), out.data() + l * nv, nv * sizeof(double)), 0)
              << "kernel " << int(kernel) << " with fext, state " << l;
        }
      }
      // The mass matrix: each lane's row full and symmetric, from the single
      // call's upper triangle. (With the output fetched ahead of the stores,
      // as for a large batch into given arrays: the same numbers.)
      std::vector<double> mass(w * nv * nv);
      double* mass_out[] = {mass.data()};
      lockstep::Arguments fetching;
      fetching.fetch_outputs = true;
      ASSERT_TRUE(packs.run(K::crba, in, mass_out, fetching));
      for (std::size_t l = 0; l < w; ++l) {
        const Eigen::MatrixXd& M = crba(model, data, row(s.q, l, nq));
        for (std::size_t c = 0; c < nv; ++c)
          for (std::size_t r = 0; r <= c; ++r) {
            const double* lane = mass.data() + l * nv * nv;
            EXPECT_EQ(std::memcmp(&M(r, c), lane + r * nv + c, sizeof(double)), 0) << "M, state " << l;
            EXPECT_EQ(std::memcmp(&M(r, c), lane + c * nv + r, sizeof(double)), 0) << "M, state " << l;
          }
      }
      // The derivatives of inverse dynamics: each lane's three rows the
      // single call's matrices, row-major.
      const std::size_t nn = nv * nv;
      std::vector<double> derivatives(3 * w * nn);
      double* derivative_out[] = {derivatives.data(), derivatives.data() + w * nn, derivatives.data() + 2 * w * nn};
      for (const bool with_fext : {false, true}) {
        ASSERT_TRUE(packs.run(K::rnea_derivatives, with_fext ? in_forces : in, derivative_out,
                              with_fext ? with_forces : fetching));
        for (std::size_t l = 0; l < w && nv > 0; ++l) {
          const auto q = row(s.q, l, nq), v = row(s.v, l, nv), a = row(s.a, l, nv);
          const Eigen::Map<const Matrix6X> fext(forces.data() + 6 * model.njoints * l, 6,
                                                static_cast<Eigen::Index>(model.njoints));
          if (with_fext)
            computeRNEADerivatives(model, data, q, v, a, fext);
          else
            computeRNEADerivatives(model, data, q, v, a);
          const Eigen::MatrixXd* want[] = {&data.dtau_dq, &data.dtau_dv, &data.dtau_da};
          for (int k = 0; k < 3; ++k) {
            const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> rows = *want[k];
            EXPECT_EQ(std::memcmp(rows.data(), derivative_out[k] + l * nn, nn * sizeof(double)), 0)
                << "derivative " << k << (with_fext ? " with fext" : "") << ", state " << l;
          }
        }
      }
      // Every frame's placement (homogeneous, row-major) and the last
      // frame's Jacobian in each reference frame.
      if (model.nframes > 0) {
        std::vector<FrameIndex> frames(model.nframes);
        for (FrameIndex f = 0; f < model.nframes; ++f) frames[f] = f;
        std::vector<double> placements(w * 16 * model.nframes);
        double* placement_out[] = {placements.data()};
        ASSERT_TRUE(packs.run(K::frame_placements, in, placement_out, {frames.data(), frames.size()}));
        for (std::size_t l = 0; l < w; ++l) {
          forwardKinematics(model, data, row(s.q, l, nq));
          for (FrameIndex f = 0; f < model.nframes; ++f) {
            const Eigen::Matrix<double, 4, 4, Eigen::RowMajor> H = to_homogeneous(getFramePlacement(model, data, f));
            EXPECT_EQ(std::memcmp(H.data(), placements.data() + 16 * (l * model.nframes + f), 16 * sizeof(double)), 0)
                << "frame " << f << ", state " << l;
          }
        }
        const FrameIndex last = model.nframes - 1;
        std::vector<double> jacobians(w * 6 * nv);
        double* jacobian_out[] = {jacobians.data()};
        for (ReferenceFrame rf : {ReferenceFrame::WORLD, ReferenceFrame::LOCAL, ReferenceFrame::LOCAL_WORLD_ALIGNED}) {
          ASSERT_TRUE(packs.run(K::frame_jacobian, in, jacobian_out, {&last, 1, rf}));
          for (std::size_t l = 0; l < w; ++l) {
            computeJointJacobians(model, data, row(s.q, l, nq));
            Matrix6X J(6, nv);
            getFrameJacobian(model, data, last, rf, J);
            const Eigen::Matrix<double, 6, Eigen::Dynamic, Eigen::RowMajor> rows = J;
            EXPECT_EQ(std::memcmp(rows.data(), jacobians.data() + l * 6 * nv, 6 * nv * sizeof(double)), 0)
                << "reference frame " << int(rf) << ", state " << l;
          }
        }
        const FrameIndex outside = model.nframes;  // a single call raises: left to it
        EXPECT_FALSE(packs.run(K::frame_jacobian, in, jacobian_out, {&outside, 1}));
      }
      // A state that is not finite is left to the single calls.
      if (nq > 0) {
        s.q[nq * (w - 1)] = std::numeric_limits<double>::quiet_NaN();
        EXPECT_FALSE(packs.run(K::rnea, in, outs));
      }
    }
  }
  if (sets == 0) GTEST_SKIP() << "no lock-step instruction set on this CPU";
}

}  // namespace
}  // namespace lumo

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
      // The mass matrix: each lane's row full and symmetric, from the single
      // call's upper triangle.
      std::vector<double> mass(w * nv * nv);
      double* mass_out[] = {mass.data()};
      ASSERT_TRUE(packs.run(K::crba, in, mass_out));
      for (std::size_t l = 0; l < w; ++l) {
        const Eigen::MatrixXd& M = crba(model, data, row(s.q, l, nq));
        for (std::size_t c = 0; c < nv; ++c)
          for (std::size_t r = 0; r <= c; ++r) {
            const double* lane = mass.data() + l * nv * nv;
            EXPECT_EQ(std::memcmp(&M(r, c), lane + r * nv + c, sizeof(double)), 0) << "M, state " << l;
            EXPECT_EQ(std::memcmp(&M(r, c), lane + c * nv + r, sizeof(double)), 0) << "M, state " << l;
          }
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

// Median time per call of each algorithm, from a fresh random state.
#include <benchmark/benchmark.h>

#include "algorithms/configuration.hpp"
#include "algorithms/kinematics.hpp"
#include "models.hpp"

namespace {

using namespace lumo;

void BM_ForwardKinematics(benchmark::State& state, Model (*make)()) {
  const Model model = make();
  Data data(model);
  const Eigen::VectorXd q = bench::random_vector(model.nq, 1);
  for (auto _ : state) {
    forwardKinematics(model, data, q);
    benchmark::DoNotOptimize(data.oMi.back());
  }
}

void BM_Integrate(benchmark::State& state, Model (*make)()) {
  const Model model = make();
  const Eigen::VectorXd q = bench::random_vector(model.nq, 1), v = bench::random_vector(model.nv, 2);
  Eigen::VectorXd out(q.size());
  for (auto _ : state) {
    integrate(model, q, v, out);
    benchmark::DoNotOptimize(out.data());
  }
}

Model arm() { return bench::seven_joint_arm(); }
Model chain50() { return bench::revolute_chain(50); }
Model chain200() { return bench::revolute_chain(200); }

BENCHMARK_CAPTURE(BM_ForwardKinematics, arm7, arm);
BENCHMARK_CAPTURE(BM_ForwardKinematics, chain50, chain50);
BENCHMARK_CAPTURE(BM_ForwardKinematics, chain200, chain200);
BENCHMARK_CAPTURE(BM_Integrate, arm7, arm);

}  // namespace

BENCHMARK_MAIN();

// Time per call of every algorithm on the sample arm and humanoid and on
// revolute chains of 7, 50 and 200 joints. Each call starts from the next of
// 64 random states, so no call sees the state of the one before it; the
// *_fext entries add external forces on every body (one random set).
//
//   lumo_benchmarks --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
//
// The counter per_dof is the time per velocity coordinate (flat in the model
// size for the O(n) algorithms).
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <optional>

#include "algorithms/aba.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/constrained_dynamics.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/energy.hpp"
#include "algorithms/frame_motion.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/inverse_kinematics.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kernels/lockstep.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/kinematics_derivatives.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
#include "models.hpp"

namespace {

using namespace lumo;

// Everything one model's benchmarks share.
struct Fixture {
  std::string name;
  Model model;
  Data data;
  bench::States states;
  Eigen::VectorXd out_q, out_v;
  Matrix6X J;
  Matrix6X d_dq, d_dv, d_da;  // a frame's motion derivatives
  Eigen::VectorXd step, v_step;  // central differences of rnea
  Eigen::MatrixXd fd_q, fd_v;
  Matrix6X fext;  // external forces on every body, one state for all calls
  explicit Fixture(bench::NamedModel m)
      : name(std::move(m.name)), model(std::move(m.model)), data(model), states(model),
        out_q(static_cast<Eigen::Index>(model.nq)), out_v(static_cast<Eigen::Index>(model.nv)),
        J(6, static_cast<Eigen::Index>(model.nv)), d_dq(J), d_dv(J), d_da(J), step(Eigen::VectorXd::Zero(static_cast<Eigen::Index>(model.nv))),
        v_step(step), fd_q(static_cast<Eigen::Index>(model.nv), static_cast<Eigen::Index>(model.nv)), fd_v(fd_q) {
    std::mt19937 rng(2);
    fext = test::random_external_forces(model, rng);
  }
};

// ∂τ/∂q and ∂τ/∂v by central differences of rnea (step 1e-6, q displaced
// along integrate): 2·nv calls for q and 2·nv for v.
void rnea_central_differences(Fixture& f, std::size_t k) {
  const double h = 1e-6;
  const Eigen::VectorXd &q = f.states.q[k], &v = f.states.v[k], &a = f.states.a[k];
  for (Eigen::Index c = 0; c < f.step.size(); ++c) {
    f.step[c] = h;
    integrate(f.model, q, f.step, f.out_q);
    f.fd_q.col(c) = rnea(f.model, f.data, f.out_q, v, a);
    f.step[c] = -h;
    integrate(f.model, q, f.step, f.out_q);
    f.fd_q.col(c) = (f.fd_q.col(c) - rnea(f.model, f.data, f.out_q, v, a)) / (2 * h);
    f.step[c] = 0.0;
    f.v_step = v;
    f.v_step[c] += h;
    f.fd_v.col(c) = rnea(f.model, f.data, q, f.v_step, a);
    f.v_step[c] -= 2 * h;
    f.fd_v.col(c) = (f.fd_v.col(c) - rnea(f.model, f.data, q, f.v_step, a)) / (2 * h);
  }
}

using Call = std::function<void(Fixture&, std::size_t)>;

void run(benchmark::State& state, Fixture* fx, const Call& call) {
  for (auto _ : state) {
    call(*fx, fx->states.advance());
    benchmark::ClobberMemory();
  }
  state.counters["per_dof"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(std::max<std::size_t>(fx->model.nv, 1)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void register_all(std::vector<std::unique_ptr<Fixture>>& fixtures) {
  const std::vector<std::pair<const char*, Call>> calls = {
      {"forwardKinematics", [](Fixture& f, std::size_t k) { forwardKinematics(f.model, f.data, f.states.q[k]); }},
      {"forwardKinematicsVelocity", [](Fixture& f, std::size_t k) {
         forwardKinematics(f.model, f.data, f.states.q[k], f.states.v[k]);
       }},
      {"computeKinematics", [](Fixture& f, std::size_t k) {
         computeKinematics(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
      {"getFrameVelocity", [](Fixture& f, std::size_t) {
         benchmark::DoNotOptimize(getFrameVelocity(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL));
       }},
      {"getFrameAcceleration", [](Fixture& f, std::size_t) {
         benchmark::DoNotOptimize(getFrameAcceleration(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL));
       }},
      {"neutral", [](Fixture& f, std::size_t) { neutral(f.model, f.out_q); }},
      {"integrate", [](Fixture& f, std::size_t k) { integrate(f.model, f.states.q[k], f.states.v[k], f.out_q); }},
      {"rnea", [](Fixture& f, std::size_t k) { rnea(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]); }},
      {"inverseDynamics_fext", [](Fixture& f, std::size_t k) {
         inverseDynamics(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k], f.fext);
       }},
      // The pass and the acceleration derivatives of the last frame (its
      // velocity derivatives are a subset).
      {"computeKinematicsDerivatives", [](Fixture& f, std::size_t k) {
         computeKinematicsDerivatives(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]);
         getFrameAccelerationDerivatives(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL, f.d_dq, f.d_dv,
                                         f.d_da);
       }},
      {"getFrameAccelerationDerivatives", [](Fixture& f, std::size_t) {
         getFrameAccelerationDerivatives(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL, f.d_dq, f.d_dv,
                                         f.d_da);
       }},
      {"non_linear_effects", [](Fixture& f, std::size_t k) { non_linear_effects(f.model, f.data, f.states.q[k], f.states.v[k]); }},
      {"compute_gravity", [](Fixture& f, std::size_t k) { compute_gravity(f.model, f.data, f.states.q[k]); }},
      {"computeRNEADerivatives", [](Fixture& f, std::size_t k) {
         computeRNEADerivatives(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
      {"computeRNEADerivatives_fext", [](Fixture& f, std::size_t k) {
         computeRNEADerivatives(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k], f.fext);
       }},
      {"computeABADerivatives", [](Fixture& f, std::size_t k) {
         computeABADerivatives(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
      {"computeGeneralizedGravityDerivatives", [](Fixture& f, std::size_t k) {
         computeGeneralizedGravityDerivatives(f.model, f.data, f.states.q[k]);
       }},
      {"rneaCentralDifferences", rnea_central_differences},
      {"crba", [](Fixture& f, std::size_t k) { crba(f.model, f.data, f.states.q[k]); }},
      {"aba", [](Fixture& f, std::size_t k) { aba(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]); }},
      {"computeMinverse", [](Fixture& f, std::size_t k) { computeMinverse(f.model, f.data, f.states.q[k]); }},
      {"computeJointJacobians", [](Fixture& f, std::size_t k) { computeJointJacobians(f.model, f.data, f.states.q[k]); }},
      {"computeJointJacobian", [](Fixture& f, std::size_t k) {
         computeJointJacobian(f.model, f.data, f.states.q[k], f.model.njoints - 1, f.J);
       }},
      {"getFrameJacobian", [](Fixture& f, std::size_t) {
         getFrameJacobian(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL, f.J);
       }},
      {"computeJointJacobiansTimeVariation", [](Fixture& f, std::size_t k) {
         computeJointJacobiansTimeVariation(f.model, f.data, f.states.q[k], f.states.v[k]);
       }},
      {"getFrameJacobianTimeVariation", [](Fixture& f, std::size_t) {
         getFrameJacobianTimeVariation(f.model, f.data, f.model.nframes - 1, ReferenceFrame::LOCAL, f.J);
       }},
      {"getFramePlacement", [](Fixture& f, std::size_t) { getFramePlacement(f.model, f.data, f.model.nframes - 1); }},
      {"centerOfMass", [](Fixture& f, std::size_t k) { centerOfMass(f.model, f.data, f.states.q[k]); }},
      {"jacobianCenterOfMass", [](Fixture& f, std::size_t k) { jacobianCenterOfMass(f.model, f.data, f.states.q[k]); }},
      {"computeCentroidalMap", [](Fixture& f, std::size_t k) { computeCentroidalMap(f.model, f.data, f.states.q[k]); }},
      {"computeCentroidalMomentum", [](Fixture& f, std::size_t k) {
         computeCentroidalMomentum(f.model, f.data, f.states.q[k], f.states.v[k]);
       }},
      {"computeKineticEnergy", [](Fixture& f, std::size_t k) { computeKineticEnergy(f.model, f.data, f.states.q[k], f.states.v[k]); }},
      {"computePotentialEnergy", [](Fixture& f, std::size_t k) { computePotentialEnergy(f.model, f.data, f.states.q[k]); }},
      {"difference", [](Fixture& f, std::size_t k) { difference(f.model, f.states.q[k], f.states.q[(k + 1) % f.states.q.size()], f.out_v); }},
      {"computeAllTerms", [](Fixture& f, std::size_t k) { computeAllTerms(f.model, f.data, f.states.q[k], f.states.v[k]); }},
      {"computeCoriolisMatrix", [](Fixture& f, std::size_t k) {
         computeCoriolisMatrix(f.model, f.data, f.states.q[k], f.states.v[k]);
       }},
  };
  for (const auto& [name, call] : calls) {
    for (auto& fx : fixtures) {
      // The frame Jacobians read what the full passes leave in data.
      computeAllTerms(fx->model, fx->data, fx->states.q[0], fx->states.v[0]);
      // The frame velocities and accelerations read what computeKinematics leaves.
      computeKinematics(fx->model, fx->data, fx->states.q[0], fx->states.v[0], fx->states.a[0]);
      benchmark::RegisterBenchmark((std::string(name) + "/" + fx->name).c_str(),
                                   [fx = fx.get(), call = call](benchmark::State& s) { run(s, fx, call); });
    }
  }
}

// Inverse kinematics of the arm's tool frame: 64 targets from forward
// kinematics of random configurations within the limits, each solved from a
// start 0.3 rad away in every joint (to 1e-10). Counters: the mean number of
// iterations and the share of solves that converge.
struct IkFixture {
  Model model = bench::arm7();
  Data data{model};
  FrameIndex frame = model.nframes - 1;
  std::vector<SE3> targets;
  std::vector<Eigen::VectorXd> starts;
  Eigen::VectorXd q;
  IkFixture() : q(static_cast<Eigen::Index>(model.nq)) {
    std::mt19937 rng(17);
    for (int k = 0; k < 64; ++k) {
      Eigen::VectorXd q_star(static_cast<Eigen::Index>(model.nq)), start(q_star.size());
      for (Eigen::Index c = 0; c < q_star.size(); ++c) {
        q_star[c] = std::uniform_real_distribution<double>(model.lowerPositionLimit[c], model.upperPositionLimit[c])(rng);
        start[c] = q_star[c] + (rng() % 2 ? 0.3 : -0.3);
      }
      forwardKinematics(model, data, q_star);
      targets.push_back(getFramePlacement(model, data, frame));
      starts.push_back(start);
    }
  }
};

void register_inverse_kinematics(IkFixture& ik) {
  auto bench = [&ik](bool position_only) {
    return [&ik, position_only](benchmark::State& state) {
      std::size_t k = 0;
      double iterations = 0.0, converged = 0.0;
      for (auto _ : state) {
        const IkResult r = position_only
                               ? inverseKinematics(ik.model, ik.data, ik.frame, ik.targets[k].translation, ik.starts[k], ik.q)
                               : inverseKinematics(ik.model, ik.data, ik.frame, ik.targets[k], ik.starts[k], ik.q);
        iterations += r.iterations;
        converged += r.converged;
        k = (k + 1) % ik.targets.size();
        benchmark::ClobberMemory();
      }
      const auto n = static_cast<double>(state.iterations());
      state.counters["iterations"] = iterations / n;
      state.counters["converged"] = converged / n;
    };
  };
  benchmark::RegisterBenchmark("inverseKinematics/arm7", bench(false));
  benchmark::RegisterBenchmark("inverseKinematicsPosition/arm7", bench(true));
}

// The free robot against the robot on its feet: point contacts at the four
// feet of the quadruped (12 rows), the two soles of the humanoid held flat
// (frame constraints, 12 rows). Random states, as for the others.
struct ContactFixture {
  std::string name;
  Model model;
  Data data;
  bench::States states;
  std::optional<ConstraintSet> set;
  ContactFixture(std::string label, Model m, const std::vector<std::string>& feet, ConstraintKind kind)
      : name(std::move(label)), model(std::move(m)), data(model), states(model) {
    std::vector<Constraint> constraints;
    for (const std::string& foot : feet)
      if (const auto f = model.getFrameId(foot))
        constraints.push_back(make_rigid_constraint(model, kind, *f, std::nullopt, ReferenceFrame::LOCAL_WORLD_ALIGNED, 0, 0));
    if (constraints.size() == feet.size()) set.emplace(model, std::move(constraints));
  }
};

void register_contacts(std::vector<std::unique_ptr<ContactFixture>>& fixtures) {
  using ContactCall = void (*)(ContactFixture&, std::size_t);
  const std::pair<const char*, ContactCall> calls[] = {
      {"aba", [](ContactFixture& f, std::size_t k) { aba(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]); }},
      {"constrainedDynamics", [](ContactFixture& f, std::size_t k) {
         constrainedDynamics(f.model, f.data, *f.set, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
      {"impulseDynamics", [](ContactFixture& f, std::size_t k) {
         impulseDynamics(f.model, f.data, *f.set, f.states.q[k], f.states.v[k], 0.0);
       }},
      {"computeABADerivatives", [](ContactFixture& f, std::size_t k) {
         computeABADerivatives(f.model, f.data, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
      {"computeConstrainedDynamicsDerivatives", [](ContactFixture& f, std::size_t k) {
         computeConstrainedDynamicsDerivatives(f.model, f.data, *f.set, f.states.q[k], f.states.v[k], f.states.a[k]);
       }},
  };
  for (const auto& [name, call] : calls)
    for (auto& fx : fixtures) {
      if (!fx->set) continue;
      benchmark::RegisterBenchmark((std::string("contacts/") + name + "/" + fx->name).c_str(),
                                   [fx = fx.get(), call = call](benchmark::State& s) {
                                     std::size_t k = 0;
                                     for (auto _ : s) {
                                       call(*fx, k);
                                       k = (k + 1) % fx->states.q.size();
                                       benchmark::ClobberMemory();
                                     }
                                   });
    }
}

// The lock-step kernels of the batch functions, a pack of W states per
// iteration from the fixture's states laid out as rows, into one output
// buffer (hot: the cost of fresh result memory is the batch's, measured from
// Python); the counter per_row is the time per state, to set beside the
// single call's time.
void register_lockstep(std::vector<std::unique_ptr<Fixture>>& fixtures) {
  const lockstep::InstructionSet* isa = lockstep::chosen();
  if (isa == nullptr) return;
  using K = lockstep::Kernel;
  const std::pair<const char*, K> kernels[] = {{"rnea", K::rnea}, {"crba", K::crba}, {"aba", K::aba}};
  for (const auto& fx : fixtures)
    for (const auto& [name, kernel] : kernels) {
      const K k = kernel;
      benchmark::RegisterBenchmark(
          (std::string("lockstep/") + name + "/" + fx->name).c_str(), [fx = fx.get(), isa, k](benchmark::State& state) {
            const Model& model = fx->model;
            const std::size_t W = isa->width, nq = model.nq, nv = model.nv, packs = fx->states.q.size() / W;
            std::vector<double> q, v, a;
            for (std::size_t s = 0; s < packs * W; ++s) {
              q.insert(q.end(), fx->states.q[s].data(), fx->states.q[s].data() + nq);
              v.insert(v.end(), fx->states.v[s].data(), fx->states.v[s].data() + nv);
              a.insert(a.end(), fx->states.a[s].data(), fx->states.a[s].data() + nv);
            }
            std::vector<double> out(W * nv * nv);
            lockstep::Workspace work(model, *isa);
            std::size_t p = 0;
            for (auto _ : state) {
              const double* in[] = {q.data() + p * W * nq, v.data() + p * W * nv, a.data() + p * W * nv};
              double* outs[] = {out.data()};
              if (!work.run(k, in, outs)) state.SkipWithError("the kernel left the pack");
              p = p + 1 == packs ? 0 : p + 1;
              benchmark::ClobberMemory();
            }
            state.counters["per_row"] = benchmark::Counter(static_cast<double>(state.iterations() * W),
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
          });
    }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::unique_ptr<Fixture>> fixtures;
  for (auto& m : bench::all_models()) fixtures.push_back(std::make_unique<Fixture>(std::move(m)));
  for (const auto& fx : fixtures)
    std::fprintf(stderr, "model %-9s njoints %3zu nq %3zu nv %3zu\n", fx->name.c_str(), fx->model.njoints,
                 fx->model.nq, fx->model.nv);
  register_all(fixtures);
  register_lockstep(fixtures);
  IkFixture ik;
  register_inverse_kinematics(ik);
  std::vector<std::unique_ptr<ContactFixture>> contacts;
  if (bench::file_exists(bench::model_path("quadruped.urdf")))
    contacts.push_back(std::make_unique<ContactFixture>(
        "quadruped", parse_urdf_file(bench::model_path("quadruped.urdf")),
        std::vector<std::string>{"FL_foot", "FR_foot", "HL_foot", "HR_foot"}, ConstraintKind::point));
  if (bench::file_exists(bench::model_path("humanoid.urdf")))
    contacts.push_back(std::make_unique<ContactFixture>(
        "humanoid", parse_urdf_file(bench::model_path("humanoid.urdf")),
        std::vector<std::string>{"left_ankle_roll_link", "right_ankle_roll_link"}, ConstraintKind::frame));
  register_contacts(contacts);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

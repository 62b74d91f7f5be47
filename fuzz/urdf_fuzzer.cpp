// libFuzzer target for the URDF reader, the model builder and every
// algorithm: any text either builds a model that keeps the Model invariants
// or fails with UrdfError; a built model then goes through each free
// function of the core at a random state (the tests' generator, seeded by
// the input). Anything else (a crash, a sanitizer report, another exception)
// is a finding. Built with LUMO_FUZZ_MJCF, the same for the MJCF import
// (text without a directory; MjcfError is its failure).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/all_terms.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/coriolis.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/frame_motion.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/time_variation.hpp"
#include "support/random.hpp"
#include "mjcf_parser/builder.hpp"
#include "urdf_parser/builder.hpp"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_invariants(const lumo::Model& m) {
  check(m.njoints == m.names.size() && m.njoints == m.parents.size() &&
        m.njoints == m.joints.size() && m.njoints == m.inertias.size());
  check(m.nframes == m.frames.size());
#ifndef LUMO_FUZZ_MJCF
  check(m.nframes == 2 * m.njoints);  // the URDF import's frames: a joint's and its link's
#endif
  std::size_t nq = 0, nv = 0;
  for (std::size_t i = 1; i < m.njoints; ++i) {
    check(m.parents[i] < i);
    check(m.idx_q[i] == nq && m.idx_v[i] == nv);
    nq += m.nq_joint[i];
    nv += m.nv_joint[i];
#ifndef LUMO_FUZZ_MJCF
    check(m.frames[2 * i].parent == i && m.frames[2 * i + 1].parent == i);
#endif
  }
  check(m.nq == nq && m.nv == nv);
  for (const lumo::Frame& f : m.frames) check(f.parent < m.njoints);
  check(m.lowerPositionLimit.size() <= nv && m.upperPositionLimit.size() <= nv);
}

// Every free function of the core on `m` at a state drawn from `seed`.
// Sizes match by construction, so any exception is a finding.
void run_algorithms(const lumo::Model& m, std::size_t seed) {
  using Eigen::VectorXd;
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  const VectorXd q0 = lumo::neutral(m);
  check(static_cast<std::size_t>(q0.size()) == m.nq);
  const VectorXd q = lumo::integrate(m, lumo::test::random_configuration(m, rng), lumo::test::random_velocity(m, rng));
  const VectorXd v = lumo::test::random_velocity(m, rng), a = lumo::test::random_velocity(m, rng);
  lumo::Data data(m);
  lumo::forwardKinematics(m, data, q);
  lumo::forwardKinematics(m, data, q, v);
  lumo::computeKinematics(m, data, q, v, a);
  lumo::rnea(m, data, q, v, a);
  lumo::non_linear_effects(m, data, q, v);
  lumo::compute_gravity(m, data, q);
  lumo::crba(m, data, q);
  lumo::Matrix6X J(6, static_cast<Eigen::Index>(m.nv));
  lumo::computeJointJacobian(m, data, q, m.njoints - 1, J);
  lumo::computeJointJacobians(m, data, q);
  lumo::computeJointJacobiansTimeVariation(m, data, q, v);
  const lumo::FrameIndex frame = static_cast<lumo::FrameIndex>(rng() % m.nframes);
  for (auto rf : {lumo::ReferenceFrame::WORLD, lumo::ReferenceFrame::LOCAL,
                  lumo::ReferenceFrame::LOCAL_WORLD_ALIGNED}) {
    lumo::getFrameVelocity(m, data, frame, rf);
    lumo::getFrameAcceleration(m, data, frame, rf);
    lumo::getFrameClassicalAcceleration(m, data, frame, rf);
    lumo::getFrameJacobian(m, data, frame, rf, J);
    lumo::getFrameJacobianTimeVariation(m, data, frame, rf, J);
  }
  lumo::computeAllTerms(m, data, q, v);
  lumo::computeCoriolisMatrix(m, data, q, v);
  data.reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  lumo::Model model;
  std::vector<std::string> warnings;
  try {
#ifdef LUMO_FUZZ_MJCF
    model = lumo::parse_mjcf_from_string(text, std::nullopt, &warnings);
  } catch (const lumo::MjcfError&) {
#else
    model = lumo::parse_urdf_from_string(text, &warnings);
  } catch (const lumo::UrdfError&) {
#endif
    return 0;
  }
  check_invariants(model);
  run_algorithms(model, std::hash<std::string_view>{}(text));
  return 0;
}
